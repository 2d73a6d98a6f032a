// A file of the data layout (.DB data files and .X secondary index files):
// the header, then blocks of records linked in a chain, with a list of free
// blocks. Blocks are read through the folder's block cache when needed; in
// memory the file keeps only what grows with its blocks (never with its
// records): the chain, each block's record count and, in a keyed file, its
// first key. A Paradox file holds at most 65535 blocks, which bounds them.
//
// In a keyed file the first `keyLength` bytes of a record are its key; the
// chain runs in ascending key order and the records of a block are sorted, so
// that the primary index (.PX/.Y) holds the first key of every block. Keys
// compare as bytes: the field codec makes byte order value order (and text
// order under a binary sort order). An unkeyed file appends at the end.
//
// Records are named by tags, numbers handed out when a record is first named
// (by a lookup, a walk or an insert) and followed when it moves to another
// place (a split, a key change, a record removed before it in its block).
// A tag stays valid until the record is erased or ForgetTags() is called,
// and is never reused while the file is open; only named records cost
// memory. Every change relinks, counts and rewrites only the blocks it
// touches; the owner writes the dirty pages out through its folder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/bde/PxCache.h"
#include "platform/bde/PxFormat.h"
#include "platform/bde/PxIo.h"

namespace bde {

// One region to write into a file.
struct PxWrite {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The write of `now`'s bytes from the first to the last that differs from
// `was` (both `size` bytes from offset 0, differing somewhere).
PxWrite PxChangedRange(const std::uint8_t* was, const std::uint8_t* now, std::size_t size);

// The changes of one file: regions to write, then the size it must have.
struct PxFileChanges {
    std::vector<PxWrite> writes;
    std::uint64_t newSize = 0;
    bool resize = false;
};

// One file's part of a change written outside the block cache.
struct PxPendingChanges {
    std::string name;
    PxFile* file = nullptr;
    PxFileChanges changes;
};

class PxDataFile {
public:
    using Tag = std::uint64_t;

    // Reads an existing file; `keyLength` is 0 for an unkeyed file. EPxError
    // names the file when its blocks are broken.
    PxDataFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength);
    // A new, empty file with the given header (nothing is written yet; the
    // header goes out with the first write-out).
    PxDataFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength,
               bool isNew);

    const std::string& Name() const noexcept { return name_; }
    PxPagedFile& Paged() noexcept { return *file_; }
    PxFile& File() noexcept { return file_->File(); }
    PxHeader& Header() noexcept { return header_; }
    const PxHeader& Header() const noexcept { return header_; }
    int RecordSize() const noexcept { return recordSize_; }
    int KeyLength() const noexcept { return keyLength_; }
    int BlockSize() const noexcept { return blockSize_; }
    int Capacity() const noexcept { return capacity_; }
    std::int64_t RecordCount() const noexcept { return recordCount_; }
    // Keys ascend strictly along the chain (checked when the file was read and
    // kept by every change). False for an unkeyed file.
    bool Ordered() const noexcept { return ordered_; }

    // Block numbers of the chain, in order, and the records of one block.
    const std::vector<std::uint16_t>& Chain() const noexcept { return chain_; }
    int CountOf(std::uint16_t block) const { return counts_[block]; }
    // The highest block number of the file.
    std::uint16_t BlockCount() const noexcept { return fileBlocks_; }
    // Where a block is in the chain (kNotInChain when it is not): found by
    // its first key in an ordered file, else by a walk of the chain.
    static constexpr std::size_t kNotInChain = static_cast<std::size_t>(-1);
    std::size_t ChainIndexOf(std::uint16_t block) const;
    // When a block last joined the chain, on a clock shared by every file of
    // the process (0: in the chain since the file was read). A block whose
    // stamp is above JoinClock() as it was at some moment left the chain and
    // came back, or is new, since that moment.
    std::uint64_t JoinedAt(std::uint16_t block) const noexcept { return block < joined_.size() ? joined_[block] : 0; }
    static std::uint64_t JoinClock() noexcept;
    // A record's bytes: valid until the next change or Trim of the cache.
    const std::uint8_t* RecordAt(std::uint16_t block, int slot);
    // The key of the first record of a block that holds records (keyLength bytes).
    const std::uint8_t* FirstKey(std::uint16_t block) const
    {
        return firstKeys_.data() + static_cast<std::size_t>(block) * static_cast<std::size_t>(keyLength_);
    }
    // The tag of the record at a place (named now if it was not).
    Tag TagAt(std::uint16_t block, int slot);

    // Every record tag in chain order (names every record).
    std::vector<Tag> Tags();
    bool Contains(Tag tag) const { return where_.count(tag) != 0; }
    const std::uint8_t* Record(Tag tag);
    std::uint16_t BlockOf(Tag tag) const;
    // Block and slot of a named record.
    std::pair<std::uint16_t, int> PlaceOf(Tag tag) const;
    // The record whose key equals `key`, without naming it (nullptr when none).
    const std::uint8_t* Lookup(const std::uint8_t* key);
    // Forgets every tag handed out (they name nothing from now on).
    void ForgetTags() noexcept;
    std::size_t TagCount() const noexcept { return where_.size(); }

    // Visits every record in chain order without naming it: f(block, slot,
    // record). The cache is trimmed between blocks, so f keeps no pointer.
    template <class F> void ForEach(F&& f)
    {
        for (std::size_t ci = 0; ci < chain_.size(); ++ci) {
            const std::uint16_t b = chain_[ci];
            for (int s = 0; s < counts_[b]; ++s) f(b, s, RecordAt(b, s));
            cache_.Trim();
        }
    }

    // Keyed files with Ordered(): the record whose key equals `key`
    // (keyLength bytes), and the tags of the records whose keys begin with
    // `prefix` (the first `size` bytes of a key).
    std::optional<Tag> Find(const std::uint8_t* key);
    bool Holds(const std::uint8_t* key);
    std::vector<Tag> FindPrefix(const std::uint8_t* prefix, std::size_t size);
    // The block that holds (or would hold) a key, from the first keys alone.
    std::uint16_t BlockForKey(const std::uint8_t* key) const;

    // Whether the place of `record`'s key (between the keys before and after
    // it in byte order, leaving out record `moving`) is its place under the
    // file's sort order too. Always so in an unkeyed file, under a sort order
    // that compares bytes, or for keys without text; otherwise text keys are
    // compared where they first differ, and the place is known only when
    // that is between digits, letters of one case, or a digit or letter and
    // the end of a text (which every sort order puts as bytes do).
    // When it is not, `trouble` (if given) tells where the keys differ: the
    // byte offset in the key and the byte there that is not a digit or a
    // letter of the neighbour's case (of `record`, or of the neighbour when
    // `record`'s text ends there).
    struct PlaceTrouble {
        std::size_t offset = 0;
        std::uint8_t byte = 0;
    };
    bool PlaceKnown(const std::uint8_t* record, std::optional<Tag> moving = std::nullopt,
                    PlaceTrouble* trouble = nullptr);

    // Inserts a record (recordSize bytes). A keyed file refuses a key that is
    // there already (returns nullopt). Needs Ordered() for a keyed file.
    std::optional<Tag> Insert(const std::uint8_t* record);
    // Overwrites a record whose key does not change.
    void Overwrite(Tag tag, const std::uint8_t* record);
    // Moves a record to the place of its new key (keyed files); false when
    // the new key is there already (nothing changes then).
    bool Rekey(Tag tag, const std::uint8_t* record);
    void Erase(Tag tag);

    // Blocks whose first key, record count or place in the chain changed
    // since the last call (for the index of the file).
    std::vector<std::uint16_t> TakeEntryChanges();
    // Blocks that records already in the file moved into since the last call
    // (their hints); a record inserted or rekeyed is not counted, since its
    // caller writes its entries once it is placed.
    std::vector<std::uint16_t> TakeMovedBlocks();

    // Puts the counters into the header and links the free blocks, ready
    // for the folder to write the dirty pages out.
    // Nothing happens for a file no change touched since the last Finish.
    void Finish();
    // A change of the header alone (the autoincrement counter).
    void MarkChanged() noexcept { touched_ = true; }
    bool Dirty() const noexcept { return file_->Dirty(); }

private:
    struct Pos {
        std::uint16_t block = 0;
        int slot = 0;
    };
    const std::uint8_t* Page(std::uint16_t block) { return file_->Read(block - 1u); }
    std::uint8_t* Mut(std::uint16_t block) { return file_->Write(block - 1u); }
    std::uint8_t* SlotIn(std::uint8_t* page, int slot) const
    {
        return page + 6 + static_cast<std::size_t>(slot) * static_cast<std::size_t>(recordSize_);
    }
    const std::uint8_t* SlotIn(const std::uint8_t* page, int slot) const
    {
        return page + 6 + static_cast<std::size_t>(slot) * static_cast<std::size_t>(recordSize_);
    }
    int Compare(const std::uint8_t* a, const std::uint8_t* b) const;
    bool SameOrder(const std::uint8_t* a, const std::uint8_t* b, std::size_t* at = nullptr) const;
    void LearnSortOrder();
    void Setup();
    // Position for a key: chain index and slot of the first record not below it.
    void Locate(const std::uint8_t* key, std::size_t size, std::size_t& chainIndex, int& slot);
    // Where the record of a key is; false when there is none.
    bool PlaceOfKey(const std::uint8_t* key, std::uint16_t& block, int& slot);
    void PreferPrevious(std::size_t& chainIndex, int& slot) const;
    void InsertAt(std::size_t chainIndex, int slot, const std::uint8_t* record, Tag tag);
    void Append(const std::uint8_t* record, Tag tag);
    // Removes the record at a place; its tag (if any) is forgotten.
    void RemoveAt(std::uint16_t block, int slot);
    std::uint16_t Allocate();
    void Release(std::uint16_t block);
    void LinkAt(std::size_t chainIndex);
    void SetCount(std::uint16_t block, std::uint8_t* page, int count);
    void NoteFirstKey(std::uint16_t block, const std::uint8_t* page);
    void SetFreeNext(std::uint16_t block, std::uint16_t next);
    void Load();

    // Tags of named records.
    void Register(Tag tag, std::uint16_t block, int slot);
    void Unregister(std::uint16_t block, int slot) noexcept;
    // Named records of `block` at slots >= from shift by `delta`.
    void ShiftSlots(std::uint16_t block, int from, int delta);
    // Named records of `from` at slots >= fromSlot move to `to`, fromSlot going to toSlot.
    void MoveSlots(std::uint16_t from, int fromSlot, std::uint16_t to, int toSlot);

    PxPageCache& cache_;
    std::string name_;
    std::unique_ptr<PxPagedFile> file_;
    PxHeader header_;
    int keyLength_ = 0;
    int recordSize_ = 0;
    int blockSize_ = 0;
    int capacity_ = 0;
    std::int64_t recordCount_ = 0;
    bool ordered_ = false;
    bool binarySort_ = true;
    std::vector<std::pair<int, int>> textInKey_; // offset and length of the text fields of the key
    std::uint16_t fileBlocks_ = 0;
    std::vector<std::uint16_t> chain_;
    std::vector<std::uint16_t> counts_;    // by block number (0 unused)
    std::vector<bool> used_;               // by block number: in the chain
    std::vector<std::uint8_t> firstKeys_;  // by block number, keyLength bytes each
    std::vector<std::uint64_t> joined_;    // by block number: see JoinedAt
    std::vector<std::uint16_t> free_;      // the free list, in order
    bool freeLinked_ = false;              // the free blocks on disk are linked as free_ says
    bool touched_ = false;                 // changed since the last Finish
    std::unordered_map<Tag, Pos> where_;
    std::unordered_map<std::uint16_t, std::map<int, Tag>> named_; // block -> slot -> tag
    Tag nextTag_ = 1;
    std::set<std::uint16_t> entryChanges_;
    std::set<std::uint16_t> movedInto_;
    std::vector<std::uint8_t> lastKey_; // the key of the record inserted last, empty before the first
};

} // namespace bde
