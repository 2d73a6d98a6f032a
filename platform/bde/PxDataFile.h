// A file of the data layout (.DB data files and .X secondary index files):
// the header, then blocks of records linked in a chain, with a list of free
// blocks. The whole file is kept in memory while it is open.
//
// In a keyed file the first `keyLength` bytes of a record are its key; the
// chain runs in ascending key order and the records of a block are sorted, so
// that the primary index (.PX/.Y) holds the first key of every block. Keys
// compare as bytes: the field codec makes byte order value order (and text
// order under a binary sort order). An unkeyed file appends at the end.
//
// Records are named by tags: numbers given when the file is read or a record
// is inserted, kept when a record moves to another block (a split, a key
// change), never reused while the file is open. Every change marks the blocks
// it touched; CollectWrites() hands out the changed regions and the new size,
// and MarkClean() forgets them once they are on disk.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

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

class PxDataFile {
public:
    using Tag = std::uint64_t;

    // Reads an existing file; `keyLength` is 0 for an unkeyed file. EPxError
    // names the file when its blocks are broken.
    PxDataFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength);
    // A new, empty file with the given header (nothing is written yet; the
    // header is part of the first CollectWrites).
    PxDataFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength, bool isNew);

    const std::string& Name() const noexcept { return name_; }
    PxFile& File() noexcept { return *file_; }
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
    int CountOf(std::uint16_t block) const;
    const std::uint8_t* RecordAt(std::uint16_t block, int slot) const;
    // The key of the first record of a block that holds records (keyLength bytes).
    const std::uint8_t* FirstKey(std::uint16_t block) const { return RecordAt(block, 0); }
    Tag TagAt(std::uint16_t block, int slot) const;

    // Every record tag in chain order.
    std::vector<Tag> Tags() const;
    bool Contains(Tag tag) const { return tagBlock_.count(tag) != 0; }
    const std::uint8_t* Record(Tag tag) const;
    std::uint16_t BlockOf(Tag tag) const;

    // Keyed files with Ordered(): the record whose key equals `key`
    // (keyLength bytes), and the tags of the records whose keys begin with
    // `prefix` (the first `size` bytes of a key).
    std::optional<Tag> Find(const std::uint8_t* key) const;
    std::vector<Tag> FindPrefix(const std::uint8_t* prefix, std::size_t size) const;

    // Whether the place of `record`'s key (between the keys before and after
    // it in byte order, leaving out record `moving`) is its place under the
    // file's sort order too. Always so in an unkeyed file, under a sort order
    // that compares bytes, or for keys without text; otherwise text keys are
    // compared where they first differ, and the place is known only when
    // that is between digits, letters of one case, or a digit or letter and
    // the end of a text (which every sort order puts as bytes do).
    bool PlaceKnown(const std::uint8_t* record, std::optional<Tag> moving = std::nullopt) const;

    // Inserts a record (recordSize bytes). A keyed file refuses a key that is
    // there already (returns nullopt). Needs Ordered() for a keyed file.
    std::optional<Tag> Insert(const std::uint8_t* record);
    // Overwrites a record whose key does not change.
    void Overwrite(Tag tag, const std::uint8_t* record);
    // Moves a record to the place of its new key (keyed files); false when
    // the new key is there already (nothing changes then).
    bool Rekey(Tag tag, const std::uint8_t* record);
    void Erase(Tag tag);

    // Records that changed block since the last call: (tag, new block).
    std::vector<std::pair<Tag, std::uint16_t>> TakeMoves();

    // The regions changed since MarkClean(), and the file size.
    PxFileChanges CollectWrites();
    bool Dirty() const noexcept { return headerDirty_ || !dirty_.empty() || sizeChanged_; }
    void MarkClean();

private:
    struct Block {
        std::vector<std::uint8_t> image; // blockSize bytes
        std::vector<Tag> tags;           // one per record
        bool used = false;
    };
    std::uint8_t* Slot(Block& b, int slot) { return b.image.data() + 6 + static_cast<std::size_t>(slot) * static_cast<std::size_t>(recordSize_); }
    const std::uint8_t* Slot(const Block& b, int slot) const { return b.image.data() + 6 + static_cast<std::size_t>(slot) * static_cast<std::size_t>(recordSize_); }
    Block& BlockRef(std::uint16_t n) { return blocks_[static_cast<std::size_t>(n) - 1]; }
    const Block& BlockRef(std::uint16_t n) const { return blocks_[static_cast<std::size_t>(n) - 1]; }
    int SlotOf(const Block& b, Tag tag) const;
    int Compare(const std::uint8_t* a, const std::uint8_t* b) const;
    bool SameOrder(const std::uint8_t* a, const std::uint8_t* b) const;
    void LearnSortOrder();
    // Position for a key: chain index and slot of the first record not below it.
    void Locate(const std::uint8_t* key, std::size_t size, std::size_t& chainIndex, int& slot) const;
    void PreferPrevious(std::size_t& chainIndex, int& slot) const;
    void InsertAt(std::size_t chainIndex, int slot, const std::uint8_t* record, Tag tag);
    void Append(const std::uint8_t* record, Tag tag);
    void RemoveAt(std::uint16_t block, int slot);
    std::uint16_t Allocate();
    void Release(std::uint16_t block);
    void LinkChain();
    void Touch(std::uint16_t block) { dirty_.insert(block); }
    void SetRecords(std::uint16_t block, std::vector<std::uint8_t> records, std::vector<Tag> tags);
    void Load();

    std::string name_;
    std::unique_ptr<PxFile> file_;
    PxHeader header_;
    int keyLength_ = 0;
    int recordSize_ = 0;
    int blockSize_ = 0;
    int capacity_ = 0;
    std::int64_t recordCount_ = 0;
    bool ordered_ = false;
    bool binarySort_ = true;
    std::vector<std::pair<int, int>> textInKey_; // offset and length of the text fields of the key
    std::vector<Block> blocks_;
    std::vector<std::uint16_t> chain_;
    std::vector<std::uint16_t> free_;
    std::unordered_map<Tag, std::uint16_t> tagBlock_;
    Tag nextTag_ = 1;
    std::set<std::uint16_t> dirty_;
    bool headerDirty_ = false;
    bool sizeChanged_ = false;
    std::uint64_t diskSize_ = 0;
    std::vector<std::pair<Tag, std::uint16_t>> moves_;
};

} // namespace bde
