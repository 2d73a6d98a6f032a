// The Paradox opener of the Velmo test pair and its database class with
// column widths cut to Paradox's limits.
#include "tests/support/PdoxOpener.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/support/PxProtect.h"

namespace velmotest {

namespace {

// The widest Alpha field and the most blob bytes a record keeps.
constexpr std::int32_t kMaxAlpha = 255;
constexpr std::int32_t kMaxBlobInRecord = 240;

class TCappedTableDef : public TBDETableDef {
public:
    explicit TCappedTableDef(TBDEUdb* db) : TBDETableDef(db, false) {}

protected:
    ~TCappedTableDef() override = default;

    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override
    {
        TTableDef capped;
        capped.Assign(def);
        for (int i = 0; i < capped.Fields.Count(); ++i) {
            TFieldDef& f = capped.Fields.Get(i);
            if (BaseDataType(f.DataType) == udtString && f.Size > kMaxAlpha) f.Size = kMaxAlpha;
            if (BaseDataType(f.DataType) == udtBinary && f.Size > kMaxBlobInRecord) f.Size = kMaxBlobInRecord;
        }
        TBDETableDef::DoCreateTable(name, capped, withIndexes);
    }
};

} // namespace

std::string PdoxParamsXml(const std::string& folder, const char* password)
{
    std::string xml = "<driver name=\"BDE.Paradox\" caption=\"Paradox\"><param name=\"" + std::string(PdoxFolderParam) +
                      "\">" + folder + "</param>";
    if (password) xml += "<param name=\"" + std::string(PdoxPasswordParam) + "\">" + password + "</param>";
    return xml + "</driver>";
}

rtl::RefPtr<TUdbTableDef> TCappedPdoxUdb::CreateTableDef() { return rtl::MakeRef<TCappedTableDef>(this); }

namespace {

TUdbOpener Opener(std::optional<std::string> pw)
{
    return [pw](const std::string& folder, const std::string& name) -> rtl::RefPtr<IUdb> {
        const std::string path = (std::filesystem::path(folder) / name).string();
        std::filesystem::create_directories(path);
        rtl::RefPtr<IUdb> db = rtl::MakeRef<TCappedPdoxUdb>();
        db->Open(PdoxParamsXml(path, pw ? pw->c_str() : nullptr));
        return db;
    };
}

} // namespace

rtl::RefPtr<IUdb> OpenPdoxFolder(const std::string& folder, bde::PxFileSystem* fs)
{
    const auto db = rtl::MakeRef<TCappedPdoxUdb>();
    db->Database().SetFileSystem(fs);
    db->Open(PdoxParamsXml(folder));
    return db;
}

void OpenPdoxPair(const std::string& pairFolder, bde::PxFileSystem* fs, bool semanticFirst, rtl::RefPtr<IUdb>& spatial,
                  rtl::RefPtr<IUdb>& semantic)
{
    if (semanticFirst) semantic = OpenPdoxFolder(pairFolder + "/semantic", fs);
    spatial = OpenPdoxFolder(pairFolder + "/spatial", fs);
    if (!semanticFirst) semantic = OpenPdoxFolder(pairFolder + "/semantic", fs);
}

std::vector<std::string> PdoxJournalFiles(const std::string& pairFolder)
{
    std::vector<std::string> found;
    for (const char* half : {"spatial", "semantic"})
        for (const auto& entry : std::filesystem::directory_iterator(pairFolder + "/" + half)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("PXUNDO.") || name.starts_with("PXSUPER-")) found.push_back(std::string(half) + "/" + name);
        }
    return found;
}

TUdbOpener PdoxOpener() { return Opener(std::nullopt); }
TUdbOpener PdoxPasswordOpener(const std::string& password) { return Opener(password); }

void ProtectPdoxFolder(const std::string& folder, const std::string& password)
{
    const std::uint32_t code = bde::PxPasswordCode(rtl::Utf8ToCp1251(password)); // the tables are in Windows-1251
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || !testing_support::IsProtectedPxFile(entry.path().filename().string())) continue;
        const std::string path = entry.path().string();
        const std::string text = rtl::ReadFileBytes(path);
        std::vector<std::uint8_t> b(text.begin(), text.end());
        testing_support::ProtectPxFileBytes(b, code);
        rtl::WriteFileBytes(path, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    }
}

TOneFolderPdoxPair::TOneFolderPdoxPair(const TVelmoDesc& desc)
{
    folder_ = MakeTempFolder("velmodb1-");
    try {
        {
            // The tables' files; the journals' files, kept while a
            // database is open, stay behind.
            const TVelmoDbPair pair(desc, PdoxOpener());
            for (const char* half : {"spatial", "semantic"})
                for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(pair.Folder()) / half))
                    if (!entry.path().filename().string().starts_with("PXUNDO.") &&
                        !entry.path().filename().string().starts_with("PXSUPER-"))
                        std::filesystem::copy_file(entry.path(), std::filesystem::path(folder_) / entry.path().filename());
        }
        for (rtl::RefPtr<IUdb>* db : {&spatial_, &semantic_}) {
            *db = rtl::MakeRef<TCappedPdoxUdb>();
            (*db)->Open(PdoxParamsXml(folder_));
        }
    } catch (...) {
        spatial_ = nullptr;
        semantic_ = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw;
    }
}

TOneFolderPdoxPair::~TOneFolderPdoxPair()
{
    ClosePairAndRemove(spatial_, semantic_, folder_);
}

} // namespace velmotest
