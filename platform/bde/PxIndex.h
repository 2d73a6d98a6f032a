// Index files of the .PX/.Y layout: a header and index blocks whose records
// are the first key of a block below them, that block's number and the number
// of data records under it (capped at 0x7FFF), then a zero word. Level 1
// points at the blocks of the data file (a .DB for a .PX, a .X for a .Y);
// each higher level points at the index blocks of the level below; the root
// is the single block of the top level. Every block in use is on one linked
// list: the root first, then each level from left to right, level by level
// down.
//
// The index is kept as a B-tree, entry by entry, through the folder's block
// cache: Sync() brings level 1 in line with the data file's chain and changes
// only the index blocks that the change reaches (a split takes a free block
// or one appended to the file, an emptied block goes back to the free
// blocks, the root splits or goes when it has one child). An index that is
// not a valid tree of its data file when it is first synced (damaged,
// stale, of a layout this engine cannot keep), and a new one, is laid out
// afresh: the root first, then each level down, every block filled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/bde/PxCache.h"
#include "platform/bde/PxDataFile.h"

namespace bde {

class PxIndexFile {
public:
    // An existing index file; its header is kept (block size, sort order,
    // unknown bytes) and only its counters change. With `isNew` nothing is
    // on disk yet.
    PxIndexFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header,
                bool isNew = false);

    const std::string& Name() const noexcept { return name_; }
    const PxHeader& Header() const noexcept { return header_; }
    PxFile& File() noexcept { return paged_.File(); }
    // The file's pages; its dirty pages are what a Sync changed.
    PxPagedFile& Paged() noexcept { return paged_; }

    // The blocks of a protected table; for a header without a code the
    // blocks are scrambled with it when the file on disk reads so.
    void SetTableCode(std::uint32_t code) noexcept { tableCode_ = code; }

    // Reads the index of `data` as it is on disk (call once, before the data
    // changes): a valid tree of the data is kept from now on, anything else
    // is laid out afresh by the next Sync. Refuses nothing: an index that
    // does not fit its data file is refused by Sync.
    void Open(const PxDataFile& data) noexcept;
    // Brings the index in line with the data file's chain. `changedBlocks`:
    // the data blocks whose first key, record count or place in the chain
    // may have changed since the last Sync (nullptr: every block). EPxError
    // when the index's key does not match the data file's.
    void Sync(const PxDataFile& data, const std::vector<std::uint16_t>* changedBlocks = nullptr);
    // Lays the whole index out afresh (the repair path of Sync).
    void Rebuild(const PxDataFile& data);
    // The bytes of the whole index file laid out afresh, unscrambled.
    std::vector<std::uint8_t> Build(const PxDataFile& data) const;

    // "" when the file on disk is a valid index of `data`: a tree from the
    // root whose level 1 is the chain's blocks that hold records, whose upper
    // records name the first key and the record count of their block, linked
    // as above, with the header's counters right; otherwise what differs.
    std::string Verify(const PxDataFile& data);

    // Whether the next Sync lays the index out afresh (known once synced or
    // verified).
    bool NeedsRebuild() const noexcept { return rebuild_; }

private:
    struct Walked;
    // A valid tree read from `readBlock`; `problem` says why not.
    using BlockReader = std::function<bool(std::uint32_t block, std::uint8_t* out)>;
    Walked Walk(const PxHeader& h, std::uint64_t fileSize, const BlockReader& read) const;
    // Reads a block from the file itself (not the cache), unscrambled with `code`.
    BlockReader DiskReader(std::uint32_t code);
    std::string Compare(const Walked& w, const PxDataFile& data) const;
    void CheckShape(const PxDataFile& data) const;
    void Prepare(const PxDataFile& data); // the sizes of records of this data file
    void Load(const PxDataFile& data);
    // Sync entry by entry; false when the index cannot follow the chain that way.
    bool Incremental(const PxDataFile& data, const std::vector<std::uint16_t>* changedBlocks);
    void Adopt(const Walked& w, const PxDataFile& data);
    void SetCode(std::uint32_t code);

    // Tree surgery (pages through the cache).
    std::size_t CountIn(const std::uint8_t* page) const;
    std::uint8_t* Entry(std::uint8_t* page, std::size_t i) const;
    const std::uint8_t* Entry(const std::uint8_t* page, std::size_t i) const;
    std::size_t SlotOf(std::uint16_t block, std::uint16_t child);
    void InsertEntry(std::uint16_t block, std::size_t slot, const std::uint8_t* entry);
    void RemoveEntry(std::uint16_t block, std::size_t slot);
    void Adopted(std::uint16_t block); // the entries of `block` now live there
    std::uint16_t Allocate(int level);
    void Release(std::uint16_t block);
    void LinkAfter(std::uint16_t block, std::uint16_t after);
    void LinkFirst(std::uint16_t block);
    void Unlink(std::uint16_t block);
    void Map(std::uint16_t block, std::uint16_t child);
    void Touch(std::uint16_t block) { touched_.insert({level_[block], block}); }
    void FixUpper();
    void WriteLinks();
    void StoreHeader();
    void Grow(std::size_t blocks);
    void GrowData(std::size_t blocks);

    std::string name_;
    PxHeader header_;
    PxPagedFile paged_;
    std::uint32_t tableCode_ = 0;
    std::uint32_t code_ = 0;
    bool loaded_ = false;
    bool rebuild_ = false;

    int keyLength_ = 0;
    std::size_t entrySize_ = 0;
    std::size_t cap_ = 0;

    // The tree: per index block (index = block number).
    std::vector<std::uint8_t> level_;   // 0: not in use
    std::vector<std::uint16_t> parent_; // 0 for the root
    std::vector<std::uint16_t> next_, prev_;
    std::vector<std::uint32_t> total_;  // records under the block, uncapped
    std::set<std::uint16_t> free_;
    std::uint16_t root_ = 0;
    int levels_ = 0;
    std::uint16_t head_ = 0, tail_ = 0;
    std::uint32_t fileBlocks_ = 0;
    std::uint32_t usedBlocks_ = 0;
    std::uint32_t entries_ = 0;
    std::set<std::pair<int, std::uint16_t>> touched_; // (level, block) whose parent record may be stale
    std::set<std::uint16_t> linked_;                  // blocks whose link words may be stale

    // Level 1 as the index holds it, per data block (index = block number).
    std::vector<std::uint8_t> in_;
    std::vector<std::uint16_t> leaf_;
    std::vector<std::uint16_t> before_, after_; // neighbours in level-1 order
    std::uint16_t first_ = 0;                   // first data block of level 1
    std::uint64_t syncedClock_ = 0;             // the data file's JoinClock() when level 1 last matched its chain
};

// The 2-byte numbers of index records (block numbers, counts) and of the Hint
// field of .X records: unsigned, big-endian, top bit flipped.
void PxPutIndexWord(std::uint8_t* p, std::uint32_t value) noexcept;
std::uint32_t PxGetIndexWord(const std::uint8_t* p) noexcept;

} // namespace bde
