// The undo journal of a folder of tables: before-images of everything a unit
// of work (one change, or a transaction of many) is about to overwrite.
//
// Protocol: before a file region is overwritten, Protect() it (the first time
// in the unit its old bytes are kept); before a file is created or renamed,
// note it. Sync() writes the kept records to the journal file and makes them
// durable; only then may the caller touch the files. When the caller has made
// its own writes durable, Commit() removes the journal. Rollback() writes the
// old bytes back, restores sizes, removes created files and undoes renames, in
// the reverse order of the records, then removes the journal. A journal left
// behind by a process that stopped half-way is rolled back by Recover(), which
// every open of the folder calls first.
//
// The journal file is "PXUNDO.JNL" in the folder. Each record carries a CRC;
// a torn record at the end (the process stopped while writing it) ends the
// journal, which is safe because nothing it covers was touched yet. Rollback
// records its progress after every rename or removal, so a rollback that is
// itself interrupted can be run again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/PxIo.h"

namespace bde {

class PxJournal {
public:
    static constexpr const char* kFileName = "PXUNDO.JNL";

    PxJournal(PxFileSystem& fs, std::string folder);
    ~PxJournal();
    PxJournal(const PxJournal&) = delete;
    PxJournal& operator=(const PxJournal&) = delete;

    // Rolls back and removes a journal found in the folder; true if there was one.
    static bool Recover(PxFileSystem& fs, const std::string& folder);

    // A unit of work is open (Begin without Commit or Rollback).
    bool InUnit() const noexcept { return inUnit_; }
    void Begin();

    // `name` is a file of the folder. Regions beyond the size the file had when
    // the unit first touched it need no image (the rollback cuts them off).
    void Protect(const std::string& name, std::uint64_t offset, std::uint64_t size);
    // The whole current content of the file.
    void ProtectAll(const std::string& name);
    void NoteCreate(const std::string& name);
    void NoteRename(const std::string& from, const std::string& to);

    // Writes and flushes the records kept so far.
    void Sync();
    void Commit();
    void Rollback();

private:
    struct Tracked {
        bool existed = false;
        std::uint64_t originalSize = 0;
        std::map<std::uint64_t, std::uint64_t> saved; // start -> end, disjoint
    };
    Tracked& Track(const std::string& name);
    void Append(std::uint8_t type, const std::vector<std::uint8_t>& payload);
    PxFile& Reader(const std::string& name);
    void CloseFile() noexcept;

    PxFileSystem& fs_;
    std::string folder_;
    std::string path_;
    bool inUnit_ = false;
    std::unique_ptr<PxFile> file_;     // the journal, once created
    std::uint64_t fileSize_ = 0;       // bytes written to it
    std::vector<std::uint8_t> pending_;
    std::map<std::string, Tracked> tracked_;
    std::map<std::string, std::unique_ptr<PxFile>> readers_;
};

// CRC-32 (IEEE) of a byte range, for the journal records.
std::uint32_t PxCrc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) noexcept;

} // namespace bde
