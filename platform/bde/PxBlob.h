// The blob file (.MB) of a table and the blob fields of its records.
//
// A blob field in a record is a leader (the first bytes of the blob) followed
// by 10 bytes: the blob's place in the .MB file (4 bytes: offset with a slot
// index in the low byte), its length (4 bytes) and a modification number (2
// bytes). A blob that fits in the leader lives there alone (place 0).
//
// The .MB file is a 4 KiB header and blocks of 4 KiB units: type 2 holds one
// blob (9-byte head, then the data), type 3 holds up to 64 small blobs in
// 16-byte chunks found through a table of 5-byte slots, type 4 is free space.
// Freed space is coalesced and reused first fit; free space at the end of the
// file is cut off, so that rewriting blobs keeps the file bounded.
//
// Changes are kept in 4 KiB page images until CollectWrites()/MarkClean().
//
// The blob file of a password-protected table may be scrambled: every 256
// bytes alike under the table's code, the header in the clear or scrambled
// too. Which it is is told from the block heads (and the header) read both
// ways; the file is written back the way it was found. A new blob file of a
// protected table gets a clear header and scrambled blocks.
//
// Every place a record names is checked against the block that holds it
// before a byte of the blob is read or allocated. The table tells the file
// every place its records name (NoteReference): a place that holds no blob
// of this file (a damaged record, a file cut short) is never given to a new
// blob, so such a record keeps failing instead of reading another's bytes,
// and a blob two records name is freed only with the last of them. When the
// file ends inside its last block and a record names bytes past that end,
// nothing is written there either: the missing bytes would read as zeros,
// and the record as a blob it never held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/bde/PxDataFile.h"

namespace bde {

class PxBlobFile {
public:
    static constexpr std::uint32_t kUnit = 4096;
    static constexpr std::uint64_t kNoPlace = ~std::uint64_t{0};

    // An existing .MB file; `code` is the table's (0: not protected). A file
    // whose blocks cannot be walked still reads; writing to it is refused
    // (Writable() false).
    PxBlobFile(std::string name, std::unique_ptr<PxFile> file, std::uint32_t code = 0);
    // A new .MB file (its header is written with the first change).
    PxBlobFile(std::string name, std::unique_ptr<PxFile> file, bool isNew, std::uint32_t code = 0);

    const std::string& Name() const noexcept { return name_; }
    PxFile& File() noexcept { return *file_; }
    bool Writable() const noexcept { return walkable_; }
    // Whether the blocks / the header are kept scrambled.
    bool BlocksScrambled() const noexcept { return blocksScrambled_; }
    bool HeaderScrambled() const noexcept { return headerScrambled_; }
    // EPxError naming the file when it must not be changed: freeing needs
    // blocks this engine knows; storing also needs that no record names a
    // place past the end of the file (new blobs would go there).
    void CheckWritable(bool store) const;

    // A record names the place of `field` (nothing for inline or blank fields).
    void NoteReference(const std::uint8_t* field, int leader);

    // Blob fields: `field` points at the leader, `leader` is its length.
    // Read: the blob's bytes (empty for a blank field). EPxError names the file
    // when the field points at something that is not a blob.
    std::vector<std::uint8_t> Read(const std::uint8_t* field, int leader);
    // Length recorded in the field.
    static std::uint32_t LengthOf(const std::uint8_t* field, int leader) noexcept;
    // Whether the field names a place in the blob file (a blob not kept inline).
    static bool StoredInFile(const std::uint8_t* field, int leader) noexcept
    {
        return PxGetU32(field + leader) != 0 && LengthOf(field, leader) != 0;
    }
    // Releases what the field points at (nothing for inline or blank fields,
    // for a place that holds no blob of this file, or for a blob another
    // record still names).
    void Free(const std::uint8_t* field, int leader);
    // Stores `data` and fills the field (leader and the 10 bytes). An empty
    // blob blanks the field.
    void Store(std::uint8_t* field, int leader, const std::vector<std::uint8_t>& data);
    // Fills a field for a blob that fits in the leader, without a file.
    static bool StoreInline(std::uint8_t* field, int leader, const std::vector<std::uint8_t>& data);

    PxFileChanges CollectWrites();
    bool Dirty() const noexcept { return !dirty_.empty() || endChanged_; }
    void MarkClean();

    // The file's logical size (end of the last block).
    std::uint64_t End() const noexcept { return end_; }

private:
    struct Block {
        std::uint8_t type = 0;  // 2, 3 or 4
        std::uint32_t units = 1;
    };
    // Where the blob of a field lies: its bytes start at `data`; false (with
    // the reason) when the place holds no such blob.
    bool Locate(std::uint32_t place, std::uint32_t length, std::uint64_t& data, const char*& why);
    bool Pinned(std::uint64_t from, std::uint64_t to) const;
    std::uint64_t Extent() const noexcept;
    // The blocks from the heads, read clear or unscrambled; false when a head
    // is not one this engine knows. `fits`: the last block ends the file.
    bool WalkHeads(bool scrambled, std::map<std::uint64_t, Block>& blocks, std::uint64_t& end, bool& fits);
    void Walk();
    // free_ and subs_ from blocks_; every change of blocks_ goes through
    // SetBlock and EraseBlock, which keep them.
    void IndexBlocks();
    void SetBlock(std::uint64_t at, Block block);
    std::map<std::uint64_t, Block>::iterator EraseBlock(std::map<std::uint64_t, Block>::iterator it);
    bool UnitScrambled(std::uint64_t base) const noexcept { return base == 0 ? headerScrambled_ : blocksScrambled_; }
    // 256-byte chunks of the file in place.
    void Scramble(std::uint8_t* chunks, std::size_t size) const noexcept;
    void Unscramble(std::uint8_t* chunks, std::size_t size) const noexcept;
    // Bytes of the file as stored, unscrambled where the file is scrambled.
    void ReadClear(std::uint64_t offset, std::uint8_t* out, std::size_t size);
    std::vector<std::uint8_t>& Page(std::uint64_t offset);
    void ReadBytes(std::uint64_t offset, std::uint8_t* out, std::size_t size);
    void WriteBytes(std::uint64_t offset, const std::uint8_t* data, std::size_t size);
    void WriteBlockHead(std::uint64_t offset, std::uint8_t type, std::uint32_t units);
    std::uint16_t NextMod();
    std::uint64_t AllocateUnits(std::uint32_t units);
    void FreeBlock(std::uint64_t offset);
    bool SubAllocate(std::uint32_t size, std::uint64_t& block, int& slot, std::uint32_t& chunkStart);

    std::string name_;
    std::unique_ptr<PxFile> file_;
    std::uint32_t code_ = 0;
    std::uint8_t mask_[256] = {}; // see Scramble()
    bool headerScrambled_ = false;
    bool blocksScrambled_ = false;
    std::uint64_t diskSize_ = 0;
    std::uint64_t end_ = kUnit;
    bool walkable_ = true;
    bool endChanged_ = false;
    std::map<std::uint64_t, Block> blocks_;
    std::set<std::uint64_t> free_; // blocks_ of type 4
    std::set<std::uint64_t> subs_; // blocks_ of type 3
    std::map<std::uint64_t, std::vector<std::uint8_t>> pages_;
    std::set<std::uint64_t> dirty_;
    std::map<std::uint32_t, int> refs_; // places records name -> how many name them
    std::uint64_t lastCut_ = kNoPlace;  // the last block, when the file ends inside it
    std::uint64_t keepBelow_ = kNoPlace; // writes stay below this (a record names bytes past the file's end)
};

} // namespace bde
