// The Paradox driver as an opener of the Velmo test pair: each database is a
// folder of Paradox tables of its own under the pair's folder.
//
// The Velmo schema has two kinds of column wider than a Paradox field can be:
// String(256) (an Alpha field holds 255 characters) and Binary(250) (a blob
// keeps at most 240 bytes in the record). The test database class creates
// such columns at those limits; everything else is the driver as it is.
#pragma once

#include <string>
#include <vector>

#include "UdbProject/PdoxUdbs.h"
#include "tests/support/VelmoFixture.h"

namespace velmotest {

// The parameter document of the Paradox driver on folder, with a password
// when one is given.
std::string PdoxParamsXml(const std::string& folder, const char* password = nullptr);

// TPdoxUdb whose new tables have their String and Binary columns cut to the
// widths a Paradox field can hold.
class TCappedPdoxUdb : public TPdoxUdb {
protected:
    ~TCappedPdoxUdb() override = default;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
};

// TCappedPdoxUdb opened on folder, with every file operation going through
// fs (nullptr: the real file system).
rtl::RefPtr<IUdb> OpenPdoxFolder(const std::string& folder, bde::PxFileSystem* fs);

// The halves of a pair in <pairFolder>/spatial and <pairFolder>/semantic,
// opened in that order or the other with OpenPdoxFolder.
void OpenPdoxPair(const std::string& pairFolder, bde::PxFileSystem* fs, bool semanticFirst, rtl::RefPtr<IUdb>& spatial,
                  rtl::RefPtr<IUdb>& semantic);

// The engine's journal files ("spatial/PXUNDO.JNL", ...) in the two folders
// of a pair, <pairFolder>/spatial and <pairFolder>/semantic.
std::vector<std::string> PdoxJournalFiles(const std::string& pairFolder);

// TCappedPdoxUdb on <folder>/<name>, the folder made when missing; the
// second with the driver's password parameter.
TUdbOpener PdoxOpener();
TUdbOpener PdoxPasswordOpener(const std::string& password);

// Protects every Paradox table of folder with password (Windows-1251 tables),
// as another engine would: the code of the password in the headers of the
// data and index files, their blocks scrambled. No database may have the
// folder open.
void ProtectPdoxFolder(const std::string& folder, const std::string& password);

// A Velmo pair whose two halves are one folder of Paradox tables: the pair of
// desc is made in two folders, then every table is copied into one folder and
// both databases are opened on it (tables cannot be created while two
// databases share a folder).
class TOneFolderPdoxPair {
public:
    explicit TOneFolderPdoxPair(const TVelmoDesc& desc);
    ~TOneFolderPdoxPair();
    TOneFolderPdoxPair(const TOneFolderPdoxPair&) = delete;
    TOneFolderPdoxPair& operator=(const TOneFolderPdoxPair&) = delete;

    IUdb& Spatial() const { return *spatial_; }
    IUdb& Semantic() const { return *semantic_; }
    const rtl::RefPtr<IUdb>& SpatialDb() const noexcept { return spatial_; }
    const rtl::RefPtr<IUdb>& SemanticDb() const noexcept { return semantic_; }
    const std::string& Folder() const noexcept { return folder_; }

private:
    std::string folder_;
    rtl::RefPtr<IUdb> spatial_;
    rtl::RefPtr<IUdb> semantic_;
};

} // namespace velmotest
