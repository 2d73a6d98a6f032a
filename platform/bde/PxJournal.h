// The undo journal of a folder of tables: before-images of everything a unit
// of work (one change, or a transaction of many) is about to overwrite.
//
// Protocol: before a file region is overwritten, Protect() it (the first time
// in the unit its old bytes are kept); before a file is created or renamed,
// note it. Sync() writes the kept records to the journal, makes them durable
// and then records in the journal's header how many there are; only then
// may the caller touch the files. When the caller has made its own writes
// durable, Commit() removes the journal. Rollback() writes the old bytes
// back, restores sizes, removes created files and undoes renames, in the
// reverse order of the records, then removes the journal. A journal left
// behind by a process that stopped half-way is rolled back by Recover(),
// which every open of the folder calls first.
//
// The journal file, little-endian:
//   0  8   "PXUNDO" 0 2
//   8  16  the count: records counted (u32), where they end (u64), CRC-32 of
//          those 12 bytes (u32)
//   24 16  a second copy of the count, written right after the first
//   40     records: type (u8), payload length (u32), payload, CRC-32 of type,
//          length and payload (u32). Types: 1 a file (name, existed u8, size
//          u64), 2 an image (name, offset u64, the old bytes), 3 a rename
//          (old name, new name), 4 undone (u32 index of an undone record);
//          a name is its length (u16) and its bytes.
// It is first written whole as "PXUNDO.TMP", made durable and then renamed
// to "PXUNDO.JNL"; later Syncs of the unit append records, make them
// durable, then write both counts. So a .TMP is a journal that never counted
// its records (its change touched nothing: it is dropped), and records after
// the counted ones are a torn tail (nothing they cover was touched: they are
// ignored). A .JNL whose counted records do not all read back (a bad
// checksum, a cut, a broken header) is refused and kept: the folder does not
// open, since its tables may be half changed. One broken copy of the count
// is a write the process did not finish, and the other copy is used; taking
// the larger count is always safe, as undoing what was never done changes
// nothing. Rollback records its progress (type 4) after every rename or
// removal, so a rollback that is itself interrupted can be run again.
//
// A journal is untrusted input: recovery touches only the table files of its
// folder, by plain names (no folder part, no links), and writes images only
// within the size the journal recorded for their file.
//
// One transaction over several folders commits through a super-journal
// (PxSuperJournal): a small file in the first folder that lists the folders
// of the transaction. It is made durable before any of their journals names
// it (record type 5: the super-journal's full path, then the journal's own
// folder as the super-journal lists it) and before any of their
// tables is written; renaming it aside is the commit of every folder at
// once.
// Recovery of a folder whose journal names a super-journal rolls the folder
// back while that file exists and only removes the journal once it is gone
// (the change was committed); the last folder rolled back removes the
// super-journal. A super-journal that cannot be read, that does not list the
// folder, or whose folders are not all there, and a journal found in another
// folder than the one it was written in (a copy), are refused like a
// damaged journal: nothing is touched and the folder does not open.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bde/PxIo.h"

namespace bde {

// A journal that cannot be trusted (damaged, cut, or naming what no journal
// of this engine names). The message names it and says the tables may need
// a restore.
class EPxJournalDamaged : public EPxError {
public:
    using EPxError::EPxError;
};

class PxJournal {
public:
    static constexpr const char* kFileName = "PXUNDO.JNL";
    static constexpr const char* kNewFileName = "PXUNDO.TMP";

    PxJournal(PxFileSystem& fs, std::string folder);
    ~PxJournal();
    PxJournal(const PxJournal&) = delete;
    PxJournal& operator=(const PxJournal&) = delete;

    // Rolls back and removes a journal found in the folder; true if there was
    // one. EPxJournalDamaged when the journal cannot be trusted: it is kept.
    static bool Recover(PxFileSystem& fs, const std::string& folder);

    // A unit of work is open (Begin without Commit or Rollback).
    bool InUnit() const noexcept { return inUnit_; }
    void Begin();

    // `name` is a file of the folder. Regions beyond the size the file had when
    // the unit first touched it need no image (the rollback cuts them off).
    // `source`, when given, is the file already open, read instead of
    // opening it again.
    void Protect(const std::string& name, std::uint64_t offset, std::uint64_t size, PxFile* source = nullptr);
    // The same, with the file's bytes from offset at hand (imageSize of
    // them): what they cover is taken from there rather than read.
    void Protect(const std::string& name, std::uint64_t offset, std::uint64_t size, PxFile* source,
                 const std::uint8_t* image, std::size_t imageSize);
    // The whole current content of the file.
    void ProtectAll(const std::string& name);
    void NoteCreate(const std::string& name);
    void NoteRename(const std::string& from, const std::string& to);

    // Records in the unit's journal that the unit is part of the transaction
    // whose super-journal is at `superPath`, and the folder's own name as the
    // super-journal lists it (written with the next Sync).
    void NameSuper(const std::string& superPath, const std::string& folder);
    // The journal file counts records already: a Sync appends to it rather
    // than creating it (and syncing the folder).
    bool Sealed() const noexcept { return sealed_; }

    // Writes and flushes the records kept so far.
    void Sync();
    // Ends the unit. `durable`: removes the journal and syncs the folder, so
    // that the removal, the unit's commit, outlives a power loss. Otherwise
    // (a journal that names a super-journal already put aside: recovery
    // would only remove it) it is renamed to its .TMP without a sync, and the
    // next unit writes over that in place; the journal object removes it
    // when it goes.
    void Commit(bool durable = true);
    void Rollback();

private:
    struct Tracked {
        bool existed = false;
        std::uint64_t originalSize = 0;
        std::map<std::uint64_t, std::uint64_t> saved; // start -> end, disjoint
    };
    Tracked& Track(const std::string& name, PxFile* source);
    void Append(std::uint8_t type, const std::vector<std::uint8_t>& payload);
    void Discard() noexcept;
    PxFile& Reader(const std::string& name);
    void CloseFile() noexcept;

    PxFileSystem& fs_;
    std::string folder_;
    std::string path_;    // the .JNL
    std::string newPath_; // the .TMP
    bool inUnit_ = false;
    std::unique_ptr<PxFile> file_;     // the journal, once created
    bool sealed_ = false;              // file_ is the .JNL that counts its records
    std::uint64_t fileSize_ = 0;       // bytes counted in it
    std::uint32_t count_ = 0;          // records counted in it
    std::vector<std::uint8_t> pending_;
    std::uint32_t pendingCount_ = 0;
    bool namedSuper_ = false;
    bool keptAside_ = false; // the .TMP is this journal's, put aside by Commit
    std::map<std::string, Tracked> tracked_;
    std::map<std::string, std::unique_ptr<PxFile>> readers_;
};

// The commit point of a transaction over several folders (see above). The
// file, little-endian: "PXSUPER" 1 (8 bytes), the number of folders (u32),
// each folder's full path (u16 length, bytes), and a CRC-32 of all that (u32).
// It is written whole as "PXSUPER-<16 hex digits>.TMP", synced and renamed
// to ".JNL": a .TMP is one that no journal names, dropped by recovery.
class PxSuperJournal {
public:
    // Writes a new super-journal in folders[0] listing `folders` (canonical
    // paths); returns its path. `spare`, when it names a file of the right
    // size (a super-journal renamed to SpareName() at its commit), is written
    // over and renamed instead of making a new file, or only renamed when it
    // holds these bytes already (it was synced when written). The folder itself is not
    // synced: the caller syncs it before any table of the transaction is
    // written.
    static std::string Create(PxFileSystem& fs, const std::vector<std::string>& folders,
                              const std::string& spare = std::string());
    // The name a committed super-journal is renamed to, to serve the next
    // transaction ("PXSUPER-" 16 zeros ".TMP": a .TMP no journal names).
    static std::string SpareName();
    // The folders listed; EPxJournalDamaged naming the file when it does not
    // read back as written.
    static std::vector<std::string> Read(PxFileSystem& fs, const std::string& path);
    // "PXSUPER-" followed by 16 hexadecimal digits and ".JNL".
    static bool IsName(std::string_view name) noexcept;
};

// CRC-32 (IEEE) of a byte range, for the journal records.
std::uint32_t PxCrc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) noexcept;

} // namespace bde
