// Blocks, chain, free list and keyed placement of a data-layout file.
#include "platform/bde/PxDataFile.h"

#include <algorithm>
#include <cstring>

#include "platform/bde/PxCrypt.h"
#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SBrokenChain = "File \"%s\" is damaged: %s";
constexpr const char* SFileFull = "File \"%s\" is full: a Paradox file holds at most 65535 blocks";

constexpr std::size_t kMaxBlocks = 65535;

std::int16_t AddDataSize(int count, int recordSize)
{
    return static_cast<std::int16_t>(count == 0 ? -recordSize : (count - 1) * recordSize);
}

} // namespace

PxDataFile::PxDataFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength)
    : name_(std::move(name)), file_(std::move(file)), header_(std::move(header)), keyLength_(keyLength)
{
    LearnSortOrder();
    Load();
}

PxDataFile::PxDataFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, int keyLength, bool)
    : name_(std::move(name)), file_(std::move(file)), header_(std::move(header)), keyLength_(keyLength)
{
    LearnSortOrder();
    recordSize_ = header_.recordSize;
    blockSize_ = header_.BlockSize();
    capacity_ = (blockSize_ - 6) / recordSize_;
    ordered_ = keyLength_ > 0;
    headerDirty_ = true;
    sizeChanged_ = true;
    diskSize_ = 0;
}

void PxDataFile::Load()
{
    const auto broken = [&](const char* why) { throw EPxError(rtl::Format(SBrokenChain, name_.c_str(), why)); };
    recordSize_ = header_.recordSize;
    blockSize_ = header_.BlockSize();
    capacity_ = (blockSize_ - 6) / recordSize_;
    if (keyLength_ > recordSize_) broken("the key is longer than the record");
    diskSize_ = file_->Size();
    const std::uint64_t hs = header_.headerSize;
    std::size_t total = header_.fileBlocks;
    const std::uint64_t room = diskSize_ > hs ? (diskSize_ - hs + static_cast<std::uint64_t>(blockSize_) - 1) / static_cast<std::uint64_t>(blockSize_) : 0;
    if (total > room) broken("the file is shorter than its header says");
    // Blocks past the counted ones are not part of the table.
    std::vector<std::uint8_t> all(total * static_cast<std::size_t>(blockSize_), 0);
    if (total) file_->ReadAt(hs, all.data(), all.size());
    blocks_.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        blocks_[i].image.assign(all.begin() + static_cast<std::ptrdiff_t>(i * static_cast<std::size_t>(blockSize_)),
                                all.begin() + static_cast<std::ptrdiff_t>((i + 1) * static_cast<std::size_t>(blockSize_)));
        if (header_.encryption != 0)
            PxDecryptBlock(blocks_[i].image.data(), blocks_[i].image.size(), header_.encryption, static_cast<std::uint32_t>(i));
    }
    std::vector<bool> seen(total + 1, false);
    for (std::uint16_t cur = header_.firstBlock; cur != 0;) {
        if (cur > total) broken("a block number is out of range");
        if (seen[cur]) broken("the block chain runs in a circle");
        seen[cur] = true;
        Block& b = BlockRef(cur);
        b.used = true;
        const auto add = static_cast<std::int16_t>(PxGetU16(b.image.data() + 4));
        int count = add < 0 ? 0 : add / recordSize_ + 1;
        if (count > capacity_) broken("a block holds more records than fit");
        b.tags.resize(static_cast<std::size_t>(count));
        chain_.push_back(cur);
        cur = PxGetU16(b.image.data());
    }
    for (std::uint16_t cur = header_.firstFreeBlock; cur != 0 && cur <= total && !seen[cur];) {
        seen[cur] = true;
        free_.push_back(cur);
        cur = PxGetU16(BlockRef(cur).image.data());
    }
    for (std::size_t n = 1; n <= total; ++n)
        if (!seen[n]) free_.push_back(static_cast<std::uint16_t>(n));
    for (std::uint16_t n : chain_) {
        Block& b = BlockRef(n);
        for (auto& t : b.tags) {
            t = nextTag_++;
            tagBlock_.emplace(t, n);
        }
        recordCount_ += static_cast<std::int64_t>(b.tags.size());
    }
    ordered_ = keyLength_ > 0;
    const std::uint8_t* prev = nullptr;
    for (std::uint16_t n : chain_) {
        const Block& b = BlockRef(n);
        if (b.tags.empty() && keyLength_ > 0) ordered_ = false;
        for (int s = 0; s < static_cast<int>(b.tags.size()); ++s) {
            const std::uint8_t* r = Slot(b, s);
            if (prev && keyLength_ > 0 && Compare(prev, r) >= 0) ordered_ = false;
            prev = r;
        }
    }
}

int PxDataFile::Compare(const std::uint8_t* a, const std::uint8_t* b) const
{
    return std::memcmp(a, b, static_cast<std::size_t>(keyLength_));
}

void PxDataFile::LearnSortOrder()
{
    binarySort_ = header_.sortOrderId.empty() ? header_.sortOrder == 0 : PxIsBinarySortOrder(header_.sortOrderId);
    int offset = 0;
    for (const auto& f : header_.fields) {
        const int length = PxRecordBytes(static_cast<PxFieldType>(f.type), f.size);
        if (offset + length > keyLength_) break;
        if (f.type == static_cast<std::uint8_t>(PxFieldType::Alpha)) textInKey_.emplace_back(offset, length);
        offset += length;
    }
}

namespace {

// Classes of text bytes whose order every sort order keeps: the end of a
// text, digits, capital and small Latin letters; -1 for any other byte.
int CharClass(std::uint8_t c) noexcept
{
    if (c == 0) return 0;
    if (c >= '0' && c <= '9') return 1;
    if (c >= 'A' && c <= 'Z') return 2;
    if (c >= 'a' && c <= 'z') return 3;
    return -1;
}

} // namespace

bool PxDataFile::SameOrder(const std::uint8_t* a, const std::uint8_t* b) const
{
    std::size_t i = 0;
    while (i < static_cast<std::size_t>(keyLength_) && a[i] == b[i]) ++i;
    if (i == static_cast<std::size_t>(keyLength_)) return true;
    for (const auto& [offset, length] : textInKey_) {
        if (i < static_cast<std::size_t>(offset) || i >= static_cast<std::size_t>(offset + length)) continue;
        // Bytes after the end of both texts are no part of them.
        for (std::size_t k = static_cast<std::size_t>(offset); k < i; ++k)
            if (a[k] == 0) return false;
        const int ca = CharClass(a[i]), cb = CharClass(b[i]);
        if (ca < 0 || cb < 0) return false;
        // Capital and small letters are where case decides, which sort orders do differently.
        return !((ca == 2 && cb == 3) || (ca == 3 && cb == 2));
    }
    return true; // a field other than text decides, after equal bytes
}

bool PxDataFile::PlaceKnown(const std::uint8_t* record, std::optional<Tag> moving) const
{
    if (keyLength_ == 0 || binarySort_ || textInKey_.empty() || chain_.empty()) return true;
    // The first record not below the key, and the one before it, in chain order.
    std::size_t ci = 0;
    int slot = 0;
    Locate(record, static_cast<std::size_t>(keyLength_), ci, slot);
    const auto tagAt = [&](std::size_t c, int s) { return BlockRef(chain_[c]).tags[static_cast<std::size_t>(s)]; };
    // Forward from (ci, slot), skipping `moving`.
    std::size_t nc = ci;
    int ns = slot;
    const std::uint8_t* next = nullptr;
    while (nc < chain_.size()) {
        if (ns >= CountOf(chain_[nc])) {
            ++nc;
            ns = 0;
            continue;
        }
        if (!(moving && tagAt(nc, ns) == *moving)) {
            next = RecordAt(chain_[nc], ns);
            break;
        }
        ++ns;
    }
    // Backward from the place before (ci, slot).
    std::size_t pc = ci;
    int ps = slot - 1;
    const std::uint8_t* prev = nullptr;
    for (;;) {
        if (ps < 0) {
            if (pc == 0) break;
            --pc;
            ps = CountOf(chain_[pc]) - 1;
            continue;
        }
        if (!(moving && tagAt(pc, ps) == *moving)) {
            prev = RecordAt(chain_[pc], ps);
            break;
        }
        --ps;
    }
    return (!prev || SameOrder(prev, record)) && (!next || SameOrder(record, next));
}

int PxDataFile::CountOf(std::uint16_t block) const
{
    return static_cast<int>(BlockRef(block).tags.size());
}

const std::uint8_t* PxDataFile::RecordAt(std::uint16_t block, int slot) const
{
    return Slot(BlockRef(block), slot);
}

PxDataFile::Tag PxDataFile::TagAt(std::uint16_t block, int slot) const
{
    return BlockRef(block).tags[static_cast<std::size_t>(slot)];
}

std::vector<PxDataFile::Tag> PxDataFile::Tags() const
{
    std::vector<Tag> tags;
    tags.reserve(static_cast<std::size_t>(recordCount_));
    for (std::uint16_t n : chain_) {
        const Block& b = BlockRef(n);
        tags.insert(tags.end(), b.tags.begin(), b.tags.end());
    }
    return tags;
}

int PxDataFile::SlotOf(const Block& b, Tag tag) const
{
    for (std::size_t i = 0; i < b.tags.size(); ++i)
        if (b.tags[i] == tag) return static_cast<int>(i);
    RTL_ASSERT(false, "Record not found in its block");
    return -1;
}

std::uint16_t PxDataFile::BlockOf(Tag tag) const
{
    auto it = tagBlock_.find(tag);
    RTL_ASSERT(it != tagBlock_.end(), "Record not found");
    return it->second;
}

const std::uint8_t* PxDataFile::Record(Tag tag) const
{
    const std::uint16_t n = BlockOf(tag);
    const Block& b = BlockRef(n);
    return Slot(b, SlotOf(b, tag));
}

void PxDataFile::Locate(const std::uint8_t* key, std::size_t size, std::size_t& chainIndex, int& slot) const
{
    const auto cmp = [&](const std::uint8_t* r) { return size ? std::memcmp(r, key, size) : 0; };
    // First block whose first record is not below the key.
    std::size_t lo = 0, hi = chain_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (cmp(Slot(BlockRef(chain_[mid]), 0)) < 0) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) { chainIndex = 0; slot = 0; return; }
    const Block& b = BlockRef(chain_[lo - 1]);
    int a = 0, z = static_cast<int>(b.tags.size());
    while (a < z) {
        const int mid = (a + z) / 2;
        if (cmp(Slot(b, mid)) < 0) a = mid + 1;
        else z = mid;
    }
    if (a < static_cast<int>(b.tags.size())) { chainIndex = lo - 1; slot = a; }
    else if (lo < chain_.size()) { chainIndex = lo; slot = 0; }
    else { chainIndex = lo - 1; slot = a; } // after the last record
}

std::optional<PxDataFile::Tag> PxDataFile::Find(const std::uint8_t* key) const
{
    RTL_ASSERT(keyLength_ > 0 && ordered_, "Find needs an ordered keyed file");
    if (chain_.empty()) return std::nullopt;
    std::size_t ci;
    int slot;
    Locate(key, static_cast<std::size_t>(keyLength_), ci, slot);
    const Block& b = BlockRef(chain_[ci]);
    if (slot < static_cast<int>(b.tags.size()) && Compare(Slot(b, slot), key) == 0)
        return b.tags[static_cast<std::size_t>(slot)];
    return std::nullopt;
}

std::vector<PxDataFile::Tag> PxDataFile::FindPrefix(const std::uint8_t* prefix, std::size_t size) const
{
    RTL_ASSERT(keyLength_ > 0 && ordered_ && size <= static_cast<std::size_t>(keyLength_), "FindPrefix needs an ordered keyed file");
    std::vector<Tag> out;
    if (chain_.empty()) return out;
    std::size_t ci;
    int slot;
    Locate(prefix, size, ci, slot);
    for (; ci < chain_.size(); ++ci, slot = 0) {
        const Block& b = BlockRef(chain_[ci]);
        for (; slot < static_cast<int>(b.tags.size()); ++slot) {
            if (size && std::memcmp(Slot(b, slot), prefix, size) != 0) return out;
            out.push_back(b.tags[static_cast<std::size_t>(slot)]);
        }
    }
    return out;
}

void PxDataFile::SetRecords(std::uint16_t block, std::vector<std::uint8_t> records, std::vector<Tag> tags)
{
    Block& b = BlockRef(block);
    std::fill(b.image.begin() + 6, b.image.end(), 0);
    if (!records.empty()) std::memcpy(b.image.data() + 6, records.data(), records.size());
    b.tags = std::move(tags);
    PxPutU16(b.image.data() + 4, static_cast<std::uint16_t>(AddDataSize(static_cast<int>(b.tags.size()), recordSize_)));
    for (Tag t : b.tags) {
        auto it = tagBlock_.find(t);
        if (it == tagBlock_.end() || it->second != block) {
            tagBlock_[t] = block;
            moves_.emplace_back(t, block);
        }
    }
    Touch(block);
}

void PxDataFile::PreferPrevious(std::size_t& ci, int& slot) const
{
    // A key between two blocks joins the block that holds the key before it
    // when that block has room.
    if (slot == 0 && ci > 0 && CountOf(chain_[ci - 1]) < capacity_) {
        --ci;
        slot = CountOf(chain_[ci]);
    }
}

void PxDataFile::InsertAt(std::size_t ci, int slot, const std::uint8_t* record, Tag tag)
{
    const std::size_t rs = static_cast<std::size_t>(recordSize_);
    if (chain_.empty()) {
        const std::uint16_t nb = Allocate();
        chain_.push_back(nb);
        LinkChain();
        SetRecords(nb, std::vector<std::uint8_t>(record, record + rs), {tag});
        return;
    }
    const std::uint16_t n = chain_[ci];
    Block& b = BlockRef(n);
    const int count = static_cast<int>(b.tags.size());
    if (count < capacity_) {
        std::uint8_t* at = Slot(b, slot);
        std::memmove(at + rs, at, static_cast<std::size_t>(count - slot) * rs);
        std::memcpy(at, record, rs);
        b.tags.insert(b.tags.begin() + slot, tag);
        PxPutU16(b.image.data() + 4, static_cast<std::uint16_t>(AddDataSize(count + 1, recordSize_)));
        tagBlock_[tag] = n;
        moves_.emplace_back(tag, n);
        Touch(n);
        return;
    }
    if (ci + 1 == chain_.size() && slot == count) {
        // Adding after the last record starts a new block; nothing splits.
        const std::uint16_t nb = Allocate();
        chain_.push_back(nb);
        LinkChain();
        SetRecords(nb, std::vector<std::uint8_t>(record, record + rs), {tag});
        return;
    }
    // Split: the first half stays, the rest goes to a new block after it.
    std::vector<std::uint8_t> all(Slot(b, 0), Slot(b, 0) + static_cast<std::size_t>(count) * rs);
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(slot) * rs), record, record + rs);
    std::vector<Tag> tags = b.tags;
    tags.insert(tags.begin() + slot, tag);
    const std::size_t keep = (tags.size() + 1) / 2;
    const std::uint16_t nb = Allocate();
    chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(ci + 1), nb);
    LinkChain();
    SetRecords(n, std::vector<std::uint8_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep * rs)),
               std::vector<Tag>(tags.begin(), tags.begin() + static_cast<std::ptrdiff_t>(keep)));
    SetRecords(nb, std::vector<std::uint8_t>(all.begin() + static_cast<std::ptrdiff_t>(keep * rs), all.end()),
               std::vector<Tag>(tags.begin() + static_cast<std::ptrdiff_t>(keep), tags.end()));
}

void PxDataFile::Append(const std::uint8_t* record, Tag tag)
{
    if (chain_.empty()) {
        InsertAt(0, 0, record, tag);
        return;
    }
    const std::size_t ci = chain_.size() - 1;
    InsertAt(ci, CountOf(chain_[ci]), record, tag);
}

std::optional<PxDataFile::Tag> PxDataFile::Insert(const std::uint8_t* record)
{
    const Tag tag = nextTag_;
    if (keyLength_ > 0) {
        RTL_ASSERT(ordered_, "Insert needs an ordered keyed file");
        std::size_t ci = 0;
        int slot = 0;
        if (!chain_.empty()) {
            Locate(record, static_cast<std::size_t>(keyLength_), ci, slot);
            const Block& b = BlockRef(chain_[ci]);
            if (slot < static_cast<int>(b.tags.size()) && Compare(Slot(b, slot), record) == 0) return std::nullopt;
            PreferPrevious(ci, slot);
        }
        InsertAt(ci, slot, record, tag);
    } else {
        Append(record, tag);
    }
    ++nextTag_;
    ++recordCount_;
    return tag;
}

void PxDataFile::Overwrite(Tag tag, const std::uint8_t* record)
{
    const std::uint16_t n = BlockOf(tag);
    Block& b = BlockRef(n);
    std::uint8_t* at = Slot(b, SlotOf(b, tag));
    if (std::memcmp(at, record, static_cast<std::size_t>(recordSize_)) == 0) return;
    RTL_ASSERT(keyLength_ == 0 || Compare(at, record) == 0, "Overwrite must not change the key");
    std::memcpy(at, record, static_cast<std::size_t>(recordSize_));
    Touch(n);
}

bool PxDataFile::Rekey(Tag tag, const std::uint8_t* record)
{
    RTL_ASSERT(keyLength_ > 0 && ordered_, "Rekey needs an ordered keyed file");
    if (Compare(Record(tag), record) == 0) {
        Overwrite(tag, record);
        return true;
    }
    if (Find(record)) return false;
    const std::uint16_t n = BlockOf(tag);
    RemoveAt(n, SlotOf(BlockRef(n), tag));
    tagBlock_.erase(tag);
    std::size_t ci = 0;
    int slot = 0;
    if (!chain_.empty()) {
        Locate(record, static_cast<std::size_t>(keyLength_), ci, slot);
        PreferPrevious(ci, slot);
    }
    InsertAt(ci, slot, record, tag);
    return true;
}

void PxDataFile::Erase(Tag tag)
{
    const std::uint16_t n = BlockOf(tag);
    RemoveAt(n, SlotOf(BlockRef(n), tag));
    tagBlock_.erase(tag);
    --recordCount_;
}

void PxDataFile::RemoveAt(std::uint16_t n, int slot)
{
    Block& b = BlockRef(n);
    const std::size_t rs = static_cast<std::size_t>(recordSize_);
    const int count = static_cast<int>(b.tags.size());
    std::uint8_t* at = Slot(b, slot);
    std::memmove(at, at + rs, static_cast<std::size_t>(count - slot - 1) * rs);
    std::memset(Slot(b, count - 1), 0, rs);
    b.tags.erase(b.tags.begin() + slot);
    PxPutU16(b.image.data() + 4, static_cast<std::uint16_t>(AddDataSize(count - 1, recordSize_)));
    Touch(n);
    if (count - 1 > 0) return;
    const auto pos = static_cast<std::size_t>(std::find(chain_.begin(), chain_.end(), n) - chain_.begin());
    if (pos == 0 && chain_.size() > 1) {
        // The first block of the chain stays where it is: the next block's
        // records move into it and that block becomes free.
        const std::uint16_t next = chain_[1];
        Block& nb = BlockRef(next);
        SetRecords(n, std::vector<std::uint8_t>(Slot(nb, 0), Slot(nb, 0) + nb.tags.size() * rs), nb.tags);
        nb.tags.clear();
        chain_.erase(chain_.begin() + 1);
        Release(next);
    } else {
        chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(pos));
        Release(n);
    }
    LinkChain();
}

std::uint16_t PxDataFile::Allocate()
{
    std::uint16_t n;
    if (!free_.empty()) {
        n = free_.front();
        free_.erase(free_.begin());
        Block& b = BlockRef(n);
        std::fill(b.image.begin(), b.image.end(), 0);
    } else {
        if (blocks_.size() >= kMaxBlocks) throw EPxError(rtl::Format(SFileFull, name_.c_str()));
        Block b;
        b.image.assign(static_cast<std::size_t>(blockSize_), 0);
        blocks_.push_back(std::move(b));
        n = static_cast<std::uint16_t>(blocks_.size());
        sizeChanged_ = true;
    }
    Block& b = BlockRef(n);
    b.used = true;
    b.tags.clear();
    PxPutU16(b.image.data() + 4, static_cast<std::uint16_t>(AddDataSize(0, recordSize_)));
    Touch(n);
    return n;
}

void PxDataFile::Release(std::uint16_t n)
{
    Block& b = BlockRef(n);
    b.used = false;
    b.tags.clear();
    std::fill(b.image.begin(), b.image.end(), 0);
    PxPutU16(b.image.data() + 4, static_cast<std::uint16_t>(AddDataSize(0, recordSize_)));
    free_.insert(free_.begin(), n);
    Touch(n);
    // Free blocks at the end of the file are cut off.
    while (!blocks_.empty() && !blocks_.back().used) {
        const auto last = static_cast<std::uint16_t>(blocks_.size());
        free_.erase(std::remove(free_.begin(), free_.end(), last), free_.end());
        dirty_.erase(last);
        blocks_.pop_back();
        sizeChanged_ = true;
    }
}

void PxDataFile::LinkChain()
{
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        Block& b = BlockRef(chain_[i]);
        const std::uint16_t next = i + 1 < chain_.size() ? chain_[i + 1] : 0;
        const std::uint16_t prev = i > 0 ? chain_[i - 1] : 0;
        if (PxGetU16(b.image.data()) != next || PxGetU16(b.image.data() + 2) != prev) {
            PxPutU16(b.image.data(), next);
            PxPutU16(b.image.data() + 2, prev);
            Touch(chain_[i]);
        }
    }
}

std::vector<std::pair<PxDataFile::Tag, std::uint16_t>> PxDataFile::TakeMoves()
{
    std::vector<std::pair<Tag, std::uint16_t>> out;
    out.swap(moves_);
    return out;
}

PxWrite PxChangedRange(const std::uint8_t* was, const std::uint8_t* now, std::size_t size)
{
    std::size_t first = 0, last = size;
    while (was[first] == now[first]) ++first;
    while (was[last - 1] == now[last - 1]) --last;
    return {first, std::vector<std::uint8_t>(now + first, now + last)};
}

PxFileChanges PxDataFile::CollectWrites()
{
    // Free blocks: a forward list through their first word.
    for (std::size_t i = 0; i < free_.size(); ++i) {
        Block& b = BlockRef(free_[i]);
        const std::uint16_t next = i + 1 < free_.size() ? free_[i + 1] : 0;
        const auto add = static_cast<std::uint16_t>(AddDataSize(0, recordSize_));
        if (PxGetU16(b.image.data()) != next || PxGetU16(b.image.data() + 2) != 0 || PxGetU16(b.image.data() + 4) != add) {
            PxPutU16(b.image.data(), next);
            PxPutU16(b.image.data() + 2, 0);
            PxPutU16(b.image.data() + 4, add);
            Touch(free_[i]);
        }
    }
    header_.numRecords = static_cast<std::int32_t>(recordCount_);
    header_.usedBlocks = static_cast<std::uint16_t>(chain_.size());
    header_.fileBlocks = static_cast<std::uint16_t>(blocks_.size());
    header_.firstBlock = chain_.empty() ? 0 : chain_.front();
    header_.lastBlock = chain_.empty() ? 0 : chain_.back();
    header_.firstFreeBlock = free_.empty() ? 0 : free_.front();
    std::vector<std::uint8_t> before = header_.raw;
    PxStoreCounters(header_);
    PxFileChanges ch;
    if (headerDirty_) {
        ch.writes.push_back({0, header_.raw});
    } else if (before != header_.raw) {
        // Only the counters changed.
        ch.writes.push_back(PxChangedRange(before.data(), header_.raw.data(), before.size()));
    }
    const std::uint64_t hs = header_.headerSize;
    for (std::uint16_t n : dirty_) {
        if (n > blocks_.size()) continue;
        PxWrite w{hs + static_cast<std::uint64_t>(n - 1) * static_cast<std::uint64_t>(blockSize_), BlockRef(n).image};
        if (header_.encryption != 0) PxEncryptBlock(w.bytes.data(), w.bytes.size(), header_.encryption, n - 1u);
        ch.writes.push_back(std::move(w));
    }
    ch.newSize = hs + static_cast<std::uint64_t>(blocks_.size()) * static_cast<std::uint64_t>(blockSize_);
    // Bytes past the counted blocks are left alone unless the block count changed.
    ch.resize = sizeChanged_ && ch.newSize != diskSize_;
    return ch;
}

void PxDataFile::MarkClean()
{
    dirty_.clear();
    headerDirty_ = false;
    sizeChanged_ = false;
    diskSize_ = header_.headerSize + static_cast<std::uint64_t>(blocks_.size()) * static_cast<std::uint64_t>(blockSize_);
    moves_.clear();
}

} // namespace bde
