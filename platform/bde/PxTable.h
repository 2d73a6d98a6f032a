// One Paradox table of a folder: its records read and written as typed values.
//
// A table object reads the structure of its family (.DB, .PX, .MB, .VAL,
// .Xnn/.Ynn) when it is first used; blocks of its files are read through the
// folder's block cache when needed, and blobs from the .MB file on demand.
// Records are named by row ids that stay the same while the table object
// lives, also when a record moves because its key changed, until the table
// reads itself again or the last holder of row ids lets them go
// (HoldRows/ReleaseRows). Keyed tables stay in key order, the .PX index and the secondary
// indexes are kept equal to what a rebuild from the data would give, bytes of
// fields a change does not touch stay as they were, and a key that exists
// already is refused (EPxKeyViolation).
//
// Keys compare as their stored bytes (text keys in the byte order of the code
// page, which is the order of the "ascii" sort order and, for identifiers of
// digits and capital letters, of every sort order). Under any other sort
// order a key, or a secondary index entry, goes in only where byte order and
// every sort order agree (PxDataFile::PlaceKnown); elsewhere the change is
// refused. A table whose records are in another order (written under another
// sort order) reads and finds its records, but refuses inserts and key
// changes, which would have to place a key by that order; so does an index
// file that does not match its data, and an index whose fields are not known
// refuses every change of a field.
//
// The code page of the text is the header's; a header that names none takes
// the character set of its sort order, and the folder's default when the
// sort order names none. A sort order whose character set this engine does
// not know leaves the table readable, but no text is written into it.
//
// Every count, length and offset read from the files is checked against the
// file and the structure it lives in before it is used or allocated; a bad
// one is an EPxError naming the file.
//
// Every change is one unit of the folder's undo journal (or part of the open
// transaction, see PxDatabase): either all its files change or none does.
// A change is checked first (types, sizes, required fields, duplicate keys)
// and refused before anything is touched; a change that fails on the way
// (I/O error, full disk) is rolled back on disk and the table reads itself
// again.
//
// Values: Alpha and Memo as UTF-8 strings (converted from the table's code
// page), Number, Money and BCD as doubles, Short as 16-bit and Long/AutoInc
// as 32-bit integers, Logical as Boolean, Date, Time and Timestamp as
// date-times, Bytes and the other blob types as byte arrays; a blank field is
// Null. Writing accepts anything that converts; Null or Empty blanks a field.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/bde/PxBlob.h"
#include "platform/bde/PxDataFile.h"
#include "platform/bde/PxIndex.h"
#include "platform/rtl/RefCounted.h"

namespace bde {

class PxDatabase;

// An index of a table: the primary key (unnamed, Primary and Unique) or a
// secondary index (its name; a single-field index is named after its field).
struct PxIndexDef {
    std::string name;
    std::vector<std::string> fields;
    bool primary = false;
    bool unique = false;
};

// What a new table is made of. The primary key is the first `keyFieldCount`
// fields; secondary indexes need a primary key.
struct PxTableSpec {
    std::vector<PxFieldDef> fields;
    int keyFieldCount = 0;
    std::vector<PxIndexDef> secondaryIndexes; // name and fields used
};

// Format of a new table.
struct PxCreateOptions {
    std::uint8_t version = kPxVersion70;
    int codePage = 0;  // 0: the database's default code page
    int blockSize = 0; // 0: 2048, or larger when a record needs it
};

class PxTable : public rtl::RefCounted {
public:
    using RowId = std::uint64_t;

    const std::string& Name() const noexcept { return name_; }

    // Structure (reads the table first when needed).
    const std::vector<PxFieldDef>& Fields();
    int FieldIndex(std::string_view name); // case-insensitive; -1 when none
    int KeyFieldCount();
    bool IsKeyed() { return KeyFieldCount() > 0; }
    std::vector<PxIndexDef> Indexes();
    std::uint8_t Version();
    int CodePage();
    std::string SortOrder(); // "ascii", "ancyrr", ...
    std::int64_t RecordCount();

    // Row ids of every record in the file's order (key order for a keyed table).
    std::vector<RowId> Rows();
    bool Exists(RowId row);
    // The record whose primary key equals `key` (one value per key field).
    std::optional<RowId> Seek(const std::vector<rtl::Variant>& key);
    // The records whose first `values.size()` fields of index `index` (0: the
    // primary key, 1..: Indexes() order of the secondary indexes) equal the
    // values, in that index's order (no values: every record). Lookups go
    // through the index; only a table or index whose order this engine does
    // not keep is searched record by record.
    std::vector<RowId> FindByIndex(int index, const std::vector<rtl::Variant>& values);

    rtl::Variant Get(RowId row, int field);
    std::vector<rtl::Variant> GetRecord(RowId row);
    // The stored bytes of a record (for tests and checks).
    std::vector<std::uint8_t> RawRecord(RowId row);

    // A new record; `values` has one value per field (Empty/Null: blank, and
    // the next number for an AutoInc field).
    RowId Insert(const std::vector<rtl::Variant>& values);
    // Changes the given fields; the others keep their bytes. A field set to the
    // value it has keeps its bytes too (blobs are not rewritten).
    void Update(RowId row, const std::vector<std::pair<int, rtl::Variant>>& changes);
    void Delete(RowId row);

    // Problems that keep a secondary index from being changed (the index file
    // does not match the data or uses an order this engine does not keep);
    // empty when every index can be kept. Changes that need such an index are
    // refused with an error naming it.
    std::vector<std::string> IndexProblems();

    // Every index file equals what a rebuild from the data gives (the .PX and
    // .Y files byte for byte, the .X files entry for entry); "" when so,
    // otherwise what differs. Used by tests and checks.
    std::string VerifyIndexes();

    // Row ids stay valid while someone holds them; when the last holder
    // lets go, the table forgets them (a table nobody holds keeps them).
    void HoldRows() noexcept { ++rowHolders_; }
    void ReleaseRows() noexcept;
    // Row ids the table remembers now (for tests).
    std::size_t RememberedRows() const noexcept { return data_ ? data_->TagCount() : 0; }

private:
    friend class PxDatabase;
    PxTable(PxDatabase* db, std::string name);
    ~PxTable() override;

    struct Field {
        PxFieldDef def;
        PxFieldLayout layout;
    };
    struct Secondary {
        PxIndexDef def;
        std::vector<int> fields; // table field positions
        int secLength = 0;       // bytes of the secondary fields
        std::unique_ptr<PxDataFile> x;
        std::unique_ptr<PxIndexFile> y;
        std::string yName;
        std::string problem;     // why it cannot be changed ("" when it can)
    };

    PxDatabase& Db();
    void Ensure();
    void Load();
    void Unload() noexcept;
    void MarkStale() noexcept { Unload(); }
    void Detach() noexcept { db_ = nullptr; Unload(); }

    std::vector<std::uint8_t> XRecord(const Secondary& s, const std::uint8_t* record, std::uint16_t block) const;
    bool EncodeKey(const std::vector<rtl::Variant>& values, const std::vector<int>& fields, std::vector<std::uint8_t>& out);
    void EncodeInto(std::vector<std::uint8_t>& record, int field, const rtl::Variant& value);
    std::vector<std::uint8_t> BlobBytes(int field, const rtl::Variant& value);
    void CheckRequired(const std::vector<std::uint8_t>& record, const std::vector<bool>& blobGiven);
    void CheckIndexesWritable(const char* what);
    // Refuses a change that frees blobs (and, with `store`, adds one) when the
    // blob file cannot take it; `except`: the record the change replaces.
    void CheckBlobsWritable(bool store, RowId except);
    // Refuses a key, or an index entry, whose place under the sort order this
    // engine cannot tell; `moving`/`old`: the record that moves there.
    void CheckPlace(const std::vector<std::uint8_t>& record, std::optional<RowId> moving);
    void CheckEntryPlace(const Secondary& s, const std::vector<std::uint8_t>& record,
                         const std::vector<std::uint8_t>* old, std::uint16_t oldBlock);
    bool FieldBlank(const std::uint8_t* record, int field) const;
    // A byte of the table's text as a character for messages.
    std::string CharacterText(std::uint8_t byte) const;
    rtl::Variant Decode(const std::uint8_t* record, int field);
    void FixHints();
    // Before the folder writes changes out: headers, free lists and index
    // files brought in line with the data.
    void PrepareWriteOut();
    // The changes of the one file not seen through the cache (the blob
    // file), and its state once written.
    void CollectChanges(std::vector<PxPendingChanges>& out);
    void ChangesWritten();
    // Makes durable what was written since the last sync.
    void SyncWritten();
    // Starts writing those files out (the syncs of the folder's files overlap).
    void StartSyncWritten();
    // The two above: waits for the files, or only starts them.
    void SyncFiles(bool wait);
    void EnsurePrimaryIndexFile();
    void EnsureBlobFile();
    template <class F> void Change(F&& apply);
    void ReadValidity(const std::string& valName);
    void LoadSecondary(const std::string& xName, const std::string& yName);
    void LoadSecondaryFile(const std::string& xName, const std::string& yName);

    PxDatabase* db_;
    std::string name_;
    bool loaded_ = false;
    // Loaded state.
    std::string dbName_, pxName_, mbName_;
    std::unique_ptr<PxDataFile> data_;
    std::unique_ptr<PxIndexFile> px_;
    std::unique_ptr<PxBlobFile> mb_;
    std::vector<Secondary> secondaries_;
    std::vector<Field> fields_;
    std::vector<PxFieldDef> defs_;
    std::unique_ptr<PxCodePage> codePage_;
    bool textUnknown_ = false;  // the sort order names a character set this engine does not know
    std::string sortOrderName_; // for messages
    int keyFields_ = 0;
    int keyLength_ = 0;
    bool hintsChecked_ = false;
    bool mbUnsynced_ = false;
    int rowHolders_ = 0;
};

} // namespace bde
