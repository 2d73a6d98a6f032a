// Blocks, chain, free list and keyed placement of a data-layout file.
#include "platform/bde/PxDataFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/bde/PxCrypt.h"
#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SBrokenChain = "File \"%s\" is damaged: %s";
constexpr const char* SFileFull = "File \"%s\" is full: a Paradox file holds at most 65535 blocks";

constexpr std::size_t kMaxBlocks = 65535;

// Stamps of blocks joining a chain (see JoinedAt).
std::atomic<std::uint64_t> joinClock{0};

std::int16_t AddDataSize(int count, int recordSize)
{
    return static_cast<std::int16_t>(count == 0 ? -recordSize : (count - 1) * recordSize);
}

} // namespace

PxDataFile::PxDataFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header,
                       int keyLength)
    : cache_(cache), name_(std::move(name)), header_(std::move(header)), keyLength_(keyLength)
{
    Setup();
    file_ = std::make_unique<PxPagedFile>(cache_, name_, std::move(file), header_.headerSize,
                                          static_cast<std::size_t>(blockSize_));
    Load();
}

PxDataFile::PxDataFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header,
                       int keyLength, bool)
    : cache_(cache), name_(std::move(name)), header_(std::move(header)), keyLength_(keyLength)
{
    Setup();
    file_ = std::make_unique<PxPagedFile>(cache_, name_, std::move(file), header_.headerSize,
                                          static_cast<std::size_t>(blockSize_), true);
    ordered_ = keyLength_ > 0;
    counts_.assign(1, 0);
    used_.assign(1, false);
    firstKeys_.assign(static_cast<std::size_t>(keyLength_), 0);
    joined_.assign(1, 0);
    freeLinked_ = true;
    file_->SetSize(header_.headerSize);
    touched_ = true;
}

void PxDataFile::Setup()
{
    const auto broken = [&](const char* why) { throw EPxError(rtl::Format(SBrokenChain, name_.c_str(), why)); };
    LearnSortOrder();
    recordSize_ = header_.recordSize;
    blockSize_ = header_.BlockSize();
    if (recordSize_ <= 0 || blockSize_ < recordSize_ + 6) broken("its records do not fit its blocks");
    capacity_ = (blockSize_ - 6) / recordSize_;
    if (keyLength_ > recordSize_) broken("the key is longer than the record");
}

void PxDataFile::Load()
{
    const auto broken = [&](const char* why) { throw EPxError(rtl::Format(SBrokenChain, name_.c_str(), why)); };
    if (header_.encryption != 0) {
        const std::uint32_t code = header_.encryption;
        file_->SetCodec([code](std::uint8_t* bytes, std::size_t size, std::uint32_t page, bool encode) {
            if (encode) PxEncryptBlock(bytes, size, code, page);
            else PxDecryptBlock(bytes, size, code, page);
        });
    }
    const std::uint64_t diskSize = file_->SizeOnDisk();
    const std::uint64_t hs = header_.headerSize;
    const std::size_t total = header_.fileBlocks;
    const std::uint64_t room =
        diskSize > hs ? (diskSize - hs + static_cast<std::uint64_t>(blockSize_) - 1) / static_cast<std::uint64_t>(blockSize_) : 0;
    // Blocks past the counted ones are not part of the table.
    if (total > room) broken("the file is shorter than its header says");
    fileBlocks_ = static_cast<std::uint16_t>(total);
    counts_.assign(total + 1, 0);
    used_.assign(total + 1, false);
    joined_.assign(total + 1, 0);
    firstKeys_.assign((total + 1) * static_cast<std::size_t>(keyLength_), 0);
    std::vector<bool> seen(total + 1, false);
    ordered_ = keyLength_ > 0;
    std::vector<std::uint8_t> last(static_cast<std::size_t>(keyLength_));
    bool haveLast = false;
    for (std::uint16_t cur = header_.firstBlock; cur != 0;) {
        if (cur > total) broken("a block number is out of range");
        if (seen[cur]) broken("the block chain runs in a circle");
        seen[cur] = true;
        used_[cur] = true;
        const std::uint8_t* page = Page(cur);
        const auto add = static_cast<std::int16_t>(PxGetU16(page + 4));
        const int count = add < 0 ? 0 : add / recordSize_ + 1;
        if (count > capacity_) broken("a block holds more records than fit");
        counts_[cur] = static_cast<std::uint16_t>(count);
        chain_.push_back(cur);
        recordCount_ += count;
        if (keyLength_ > 0) {
            if (count == 0) ordered_ = false;
            else NoteFirstKey(cur, page);
            for (int s = 0; s < count && ordered_; ++s) {
                const std::uint8_t* r = SlotIn(page, s);
                if (haveLast && Compare(last.data(), r) >= 0) ordered_ = false;
                std::memcpy(last.data(), r, last.size());
                haveLast = true;
            }
        }
        const std::uint16_t next = PxGetU16(page);
        cache_.Trim();
        cur = next;
    }
    // The free list as the file links it, then blocks in neither list.
    freeLinked_ = true;
    for (std::uint16_t cur = header_.firstFreeBlock; cur != 0;) {
        if (cur > total || seen[cur]) {
            freeLinked_ = false;
            break;
        }
        seen[cur] = true;
        free_.push_back(cur);
        cur = PxGetU16(Page(cur));
        cache_.Trim();
    }
    for (std::size_t n = 1; n <= total; ++n) {
        if (seen[n]) continue;
        free_.push_back(static_cast<std::uint16_t>(n));
        freeLinked_ = false;
    }
    if (!free_.empty()) freeLinked_ = false; // their words are checked once, at the first write-out
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

bool PxDataFile::SameOrder(const std::uint8_t* a, const std::uint8_t* b, std::size_t* at) const
{
    std::size_t i = 0;
    while (i < static_cast<std::size_t>(keyLength_) && a[i] == b[i]) ++i;
    if (i == static_cast<std::size_t>(keyLength_)) return true;
    if (at) *at = i;
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

bool PxDataFile::PlaceKnown(const std::uint8_t* record, std::optional<Tag> moving, PlaceTrouble* trouble)
{
    if (keyLength_ == 0 || binarySort_ || textInKey_.empty() || chain_.empty()) return true;
    std::optional<Pos> skip;
    if (moving) {
        auto it = where_.find(*moving);
        if (it != where_.end()) skip = it->second;
    }
    const auto skipped = [&](std::size_t c, int s) { return skip && skip->block == chain_[c] && skip->slot == s; };
    // The first record not below the key, and the one before it, in chain order.
    std::size_t ci = 0;
    int slot = 0;
    Locate(record, static_cast<std::size_t>(keyLength_), ci, slot);
    const int start = slot;
    std::vector<std::uint8_t> next, prev;
    // Forward from (ci, slot), skipping `moving`.
    for (std::size_t nc = ci; nc < chain_.size(); ++nc) {
        bool found = false;
        for (int ns = nc == ci ? start : 0; ns < counts_[chain_[nc]]; ++ns) {
            if (skipped(nc, ns)) continue;
            const std::uint8_t* r = RecordAt(chain_[nc], ns);
            next.assign(r, r + keyLength_);
            found = true;
            break;
        }
        if (found) break;
    }
    // Backward from the place before (ci, slot).
    std::size_t pc = ci;
    int ps = start - 1;
    for (;;) {
        if (ps < 0) {
            if (pc == 0) break;
            --pc;
            ps = counts_[chain_[pc]] - 1;
            continue;
        }
        if (!skipped(pc, ps)) {
            const std::uint8_t* r = RecordAt(chain_[pc], ps);
            prev.assign(r, r + keyLength_);
            break;
        }
        --ps;
    }
    std::size_t at = 0;
    const std::uint8_t* other = nullptr;
    if (!prev.empty() && !SameOrder(prev.data(), record, &at)) other = prev.data();
    else if (!next.empty() && !SameOrder(record, next.data(), &at)) other = next.data();
    if (!other) return true;
    if (trouble) *trouble = {at, record[at] != 0 ? record[at] : other[at]};
    return false;
}

const std::uint8_t* PxDataFile::RecordAt(std::uint16_t block, int slot)
{
    return SlotIn(Page(block), slot);
}

// ---- tags --------------------------------------------------------------------------

void PxDataFile::Register(Tag tag, std::uint16_t block, int slot)
{
    where_[tag] = Pos{block, slot};
    named_[block][slot] = tag;
}

void PxDataFile::Unregister(std::uint16_t block, int slot) noexcept
{
    auto b = named_.find(block);
    if (b == named_.end()) return;
    auto s = b->second.find(slot);
    if (s == b->second.end()) return;
    where_.erase(s->second);
    b->second.erase(s);
    if (b->second.empty()) named_.erase(b);
}

void PxDataFile::ShiftSlots(std::uint16_t block, int from, int delta)
{
    auto b = named_.find(block);
    if (b == named_.end()) return;
    std::map<int, Tag>& slots = b->second;
    std::vector<std::pair<int, Tag>> moved(slots.lower_bound(from), slots.end());
    slots.erase(slots.lower_bound(from), slots.end());
    for (auto& [s, t] : moved) {
        slots[s + delta] = t;
        where_[t] = Pos{block, s + delta};
    }
}

void PxDataFile::MoveSlots(std::uint16_t from, int fromSlot, std::uint16_t to, int toSlot)
{
    auto b = named_.find(from);
    if (b == named_.end()) return;
    std::vector<std::pair<int, Tag>> moved(b->second.lower_bound(fromSlot), b->second.end());
    b->second.erase(b->second.lower_bound(fromSlot), b->second.end());
    if (b->second.empty()) named_.erase(b);
    if (moved.empty()) return;
    std::map<int, Tag>& target = named_[to];
    for (auto& [s, t] : moved) {
        const int ns = s - fromSlot + toSlot;
        target[ns] = t;
        where_[t] = Pos{to, ns};
    }
}

PxDataFile::Tag PxDataFile::TagAt(std::uint16_t block, int slot)
{
    auto b = named_.find(block);
    if (b != named_.end()) {
        auto s = b->second.find(slot);
        if (s != b->second.end()) return s->second;
    }
    const Tag t = nextTag_++;
    Register(t, block, slot);
    return t;
}

std::vector<PxDataFile::Tag> PxDataFile::Tags()
{
    std::vector<Tag> tags;
    tags.reserve(static_cast<std::size_t>(recordCount_));
    for (std::uint16_t n : chain_)
        for (int s = 0; s < counts_[n]; ++s) tags.push_back(TagAt(n, s));
    return tags;
}

void PxDataFile::ForgetTags() noexcept
{
    // clear() wipes every bucket, and a scan leaves as many as the table
    // has rows: give large tables back instead of wiping them per statement.
    constexpr std::size_t kKeptBuckets = 1024;
    if (where_.bucket_count() > kKeptBuckets) std::unordered_map<Tag, Pos>().swap(where_);
    else if (!where_.empty()) where_.clear();
    if (named_.bucket_count() > kKeptBuckets) std::unordered_map<std::uint16_t, std::map<int, Tag>>().swap(named_);
    else if (!named_.empty()) named_.clear();
}

std::uint16_t PxDataFile::BlockOf(Tag tag) const
{
    auto it = where_.find(tag);
    RTL_ASSERT(it != where_.end(), "Record not found");
    return it->second.block;
}

std::pair<std::uint16_t, int> PxDataFile::PlaceOf(Tag tag) const
{
    auto it = where_.find(tag);
    RTL_ASSERT(it != where_.end(), "Record not found");
    return {it->second.block, it->second.slot};
}

const std::uint8_t* PxDataFile::Record(Tag tag)
{
    auto it = where_.find(tag);
    RTL_ASSERT(it != where_.end(), "Record not found");
    return RecordAt(it->second.block, it->second.slot);
}

// ---- lookups -----------------------------------------------------------------------

void PxDataFile::Locate(const std::uint8_t* key, std::size_t size, std::size_t& chainIndex, int& slot)
{
    const auto cmp = [&](const std::uint8_t* r) { return size ? std::memcmp(r, key, size) : 0; };
    // First block whose first record is not below the key.
    std::size_t lo = 0, hi = chain_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (cmp(FirstKey(chain_[mid])) < 0) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) { chainIndex = 0; slot = 0; return; }
    const std::uint16_t b = chain_[lo - 1];
    const std::uint8_t* page = Page(b);
    int a = 0, z = counts_[b];
    while (a < z) {
        const int mid = (a + z) / 2;
        if (cmp(SlotIn(page, mid)) < 0) a = mid + 1;
        else z = mid;
    }
    if (a < counts_[b]) { chainIndex = lo - 1; slot = a; }
    else if (lo < chain_.size()) { chainIndex = lo; slot = 0; }
    else { chainIndex = lo - 1; slot = a; } // after the last record
}

std::uint16_t PxDataFile::BlockForKey(const std::uint8_t* key) const
{
    RTL_ASSERT(keyLength_ > 0 && ordered_ && !chain_.empty(), "BlockForKey needs an ordered keyed file");
    std::size_t lo = 0, hi = chain_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (Compare(FirstKey(chain_[mid]), key) <= 0) lo = mid + 1;
        else hi = mid;
    }
    return chain_[lo == 0 ? 0 : lo - 1];
}

bool PxDataFile::PlaceOfKey(const std::uint8_t* key, std::uint16_t& block, int& slot)
{
    RTL_ASSERT(keyLength_ > 0 && ordered_, "Key lookups need an ordered keyed file");
    if (chain_.empty()) return false;
    std::size_t ci;
    Locate(key, static_cast<std::size_t>(keyLength_), ci, slot);
    block = chain_[ci];
    return slot < counts_[block] && Compare(RecordAt(block, slot), key) == 0;
}

bool PxDataFile::Holds(const std::uint8_t* key)
{
    std::uint16_t b;
    int slot;
    return PlaceOfKey(key, b, slot);
}

const std::uint8_t* PxDataFile::Lookup(const std::uint8_t* key)
{
    std::uint16_t b;
    int slot;
    return PlaceOfKey(key, b, slot) ? RecordAt(b, slot) : nullptr;
}

std::optional<PxDataFile::Tag> PxDataFile::Find(const std::uint8_t* key)
{
    std::uint16_t b;
    int slot;
    if (PlaceOfKey(key, b, slot)) return TagAt(b, slot);
    return std::nullopt;
}

std::vector<PxDataFile::Tag> PxDataFile::FindPrefix(const std::uint8_t* prefix, std::size_t size)
{
    RTL_ASSERT(keyLength_ > 0 && ordered_ && size <= static_cast<std::size_t>(keyLength_), "FindPrefix needs an ordered keyed file");
    std::vector<Tag> out;
    if (chain_.empty()) return out;
    std::size_t ci;
    int slot;
    Locate(prefix, size, ci, slot);
    for (; ci < chain_.size(); ++ci, slot = 0) {
        const std::uint16_t b = chain_[ci];
        for (; slot < counts_[b]; ++slot) {
            if (size && std::memcmp(RecordAt(b, slot), prefix, size) != 0) return out;
            out.push_back(TagAt(b, slot));
        }
    }
    return out;
}

// ---- block bookkeeping -------------------------------------------------------------

void PxDataFile::NoteFirstKey(std::uint16_t block, const std::uint8_t* page)
{
    if (keyLength_ == 0) return;
    std::memcpy(firstKeys_.data() + static_cast<std::size_t>(block) * static_cast<std::size_t>(keyLength_), page + 6,
                static_cast<std::size_t>(keyLength_));
}

void PxDataFile::SetCount(std::uint16_t block, std::uint8_t* page, int count)
{
    PxPutU16(page + 4, static_cast<std::uint16_t>(AddDataSize(count, recordSize_)));
    counts_[block] = static_cast<std::uint16_t>(count);
    if (count > 0) NoteFirstKey(block, page);
    entryChanges_.insert(block);
}

void PxDataFile::LinkAt(std::size_t ci)
{
    if (ci >= chain_.size()) return;
    const std::uint16_t b = chain_[ci];
    const std::uint16_t next = ci + 1 < chain_.size() ? chain_[ci + 1] : 0;
    const std::uint16_t prev = ci > 0 ? chain_[ci - 1] : 0;
    const std::uint8_t* page = Page(b);
    if (PxGetU16(page) == next && PxGetU16(page + 2) == prev) return;
    std::uint8_t* w = Mut(b);
    PxPutU16(w, next);
    PxPutU16(w + 2, prev);
}

void PxDataFile::SetFreeNext(std::uint16_t block, std::uint16_t next)
{
    const auto add = static_cast<std::uint16_t>(AddDataSize(0, recordSize_));
    const std::uint8_t* page = Page(block);
    if (PxGetU16(page) == next && PxGetU16(page + 2) == 0 && PxGetU16(page + 4) == add) return;
    std::uint8_t* w = Mut(block);
    PxPutU16(w, next);
    PxPutU16(w + 2, 0);
    PxPutU16(w + 4, add);
}

std::uint16_t PxDataFile::Allocate()
{
    std::uint16_t n;
    if (!free_.empty()) {
        n = free_.front();
        free_.erase(free_.begin());
    } else {
        if (fileBlocks_ >= kMaxBlocks) throw EPxError(rtl::Format(SFileFull, name_.c_str()));
        n = ++fileBlocks_;
        counts_.push_back(0);
        used_.push_back(false);
        joined_.push_back(0);
        firstKeys_.resize(firstKeys_.size() + static_cast<std::size_t>(keyLength_), 0);
        file_->SetSize(header_.headerSize + static_cast<std::uint64_t>(fileBlocks_) * static_cast<std::uint64_t>(blockSize_));
    }
    std::uint8_t* page = file_->Fresh(n - 1u);
    used_[n] = true;
    joined_[n] = ++joinClock;
    SetCount(n, page, 0);
    return n;
}

void PxDataFile::Release(std::uint16_t n)
{
    RTL_ASSERT(named_.find(n) == named_.end(), "A released block holds named records");
    used_[n] = false;
    counts_[n] = 0;
    entryChanges_.insert(n);
    std::uint8_t* page = file_->Fresh(n - 1u);
    PxPutU16(page, free_.empty() ? 0 : free_.front());
    PxPutU16(page + 4, static_cast<std::uint16_t>(AddDataSize(0, recordSize_)));
    free_.insert(free_.begin(), n);
    // Free blocks at the end of the file are cut off.
    while (fileBlocks_ > 0 && !used_[fileBlocks_]) {
        const std::uint16_t last = fileBlocks_;
        const auto at = std::find(free_.begin(), free_.end(), last);
        if (at != free_.end()) {
            const std::size_t i = static_cast<std::size_t>(at - free_.begin());
            const std::uint16_t after = i + 1 < free_.size() ? free_[i + 1] : 0;
            free_.erase(at);
            if (i > 0) SetFreeNext(free_[i - 1], after);
        }
        --fileBlocks_;
        counts_.pop_back();
        used_.pop_back();
        joined_.pop_back();
        firstKeys_.resize(firstKeys_.size() - static_cast<std::size_t>(keyLength_));
        file_->SetSize(header_.headerSize + static_cast<std::uint64_t>(fileBlocks_) * static_cast<std::uint64_t>(blockSize_));
    }
}

// ---- changes -----------------------------------------------------------------------

void PxDataFile::PreferPrevious(std::size_t& ci, int& slot) const
{
    // A key between two blocks joins the block that holds the key before it
    // when that block has room.
    if (slot == 0 && ci > 0 && counts_[chain_[ci - 1]] < capacity_) {
        --ci;
        slot = counts_[chain_[ci]];
    }
}

void PxDataFile::InsertAt(std::size_t ci, int slot, const std::uint8_t* record, Tag tag)
{
    const std::size_t rs = static_cast<std::size_t>(recordSize_);
    // Whether the record goes right after the one inserted before it.
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    const bool afterLast = kl > 0 && slot > 0 && !chain_.empty() && lastKey_.size() == kl &&
                           std::memcmp(SlotIn(Page(chain_[ci]), slot - 1), lastKey_.data(), kl) == 0;
    lastKey_.assign(record, record + kl);
    const auto startBlock = [&](std::size_t at) {
        const std::uint16_t nb = Allocate();
        chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(at), nb);
        std::uint8_t* page = Mut(nb);
        std::memcpy(SlotIn(page, 0), record, rs);
        SetCount(nb, page, 1);
        LinkAt(at);
        if (at > 0) LinkAt(at - 1);
        LinkAt(at + 1);
        Register(tag, nb, 0);
    };
    if (chain_.empty()) {
        startBlock(0);
        return;
    }
    const std::uint16_t n = chain_[ci];
    const int count = counts_[n];
    if (count < capacity_) {
        std::uint8_t* page = Mut(n);
        std::uint8_t* at = SlotIn(page, slot);
        std::memmove(at + rs, at, static_cast<std::size_t>(count - slot) * rs);
        std::memcpy(at, record, rs);
        SetCount(n, page, count + 1);
        ShiftSlots(n, slot, 1);
        Register(tag, n, slot);
        return;
    }
    if (slot == count || (slot == 0 && ci > 0)) {
        // A key between two full blocks (or after the last) starts a block
        // of its own there; nothing splits. Keys added in order then fill
        // whole blocks, where splits in halves would leave them half empty.
        startBlock(slot == count ? ci + 1 : ci);
        return;
    }
    // Split: the first half stays, the rest goes to a new block after it;
    // keys coming in order split where they go, and the run fills the
    // first part, then blocks of its own.
    const int total = count + 1;
    const int keep = afterLast ? slot + 1 : (total + 1) / 2;
    std::vector<std::uint8_t> all(static_cast<std::size_t>(total) * rs);
    {
        const std::uint8_t* page = Page(n);
        std::memcpy(all.data(), SlotIn(page, 0), static_cast<std::size_t>(slot) * rs);
        std::memcpy(all.data() + static_cast<std::size_t>(slot) * rs, record, rs);
        std::memcpy(all.data() + static_cast<std::size_t>(slot + 1) * rs, SlotIn(page, slot),
                    static_cast<std::size_t>(count - slot) * rs);
    }
    const std::uint16_t nb = Allocate();
    chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(ci + 1), nb);
    std::uint8_t* left = Mut(n);
    std::memset(left + 6, 0, static_cast<std::size_t>(blockSize_ - 6));
    std::memcpy(left + 6, all.data(), static_cast<std::size_t>(keep) * rs);
    SetCount(n, left, keep);
    std::uint8_t* right = Mut(nb);
    std::memcpy(right + 6, all.data() + static_cast<std::size_t>(keep) * rs, static_cast<std::size_t>(total - keep) * rs);
    SetCount(nb, right, total - keep);
    LinkAt(ci);
    LinkAt(ci + 1);
    LinkAt(ci + 2);
    // Named records: those from `slot` on are one further, then the second half moves.
    ShiftSlots(n, slot, 1);
    Register(tag, n, slot);
    MoveSlots(n, keep, nb, 0);
    // Only the second half changed blocks (the new record's own entries are
    // written by the caller, after it is placed).
    movedInto_.insert(nb);
}

void PxDataFile::Append(const std::uint8_t* record, Tag tag)
{
    if (chain_.empty()) {
        InsertAt(0, 0, record, tag);
        return;
    }
    const std::size_t ci = chain_.size() - 1;
    InsertAt(ci, counts_[chain_[ci]], record, tag);
}

std::optional<PxDataFile::Tag> PxDataFile::Insert(const std::uint8_t* record)
{
    touched_ = true;
    const Tag tag = nextTag_;
    if (keyLength_ > 0) {
        RTL_ASSERT(ordered_, "Insert needs an ordered keyed file");
        std::size_t ci = 0;
        int slot = 0;
        if (!chain_.empty()) {
            Locate(record, static_cast<std::size_t>(keyLength_), ci, slot);
            const std::uint16_t b = chain_[ci];
            if (slot < counts_[b] && Compare(RecordAt(b, slot), record) == 0) return std::nullopt;
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
    auto it = where_.find(tag);
    RTL_ASSERT(it != where_.end(), "Record not found");
    const Pos p = it->second;
    const std::uint8_t* cur = RecordAt(p.block, p.slot);
    if (std::memcmp(cur, record, static_cast<std::size_t>(recordSize_)) == 0) return;
    touched_ = true;
    RTL_ASSERT(keyLength_ == 0 || Compare(cur, record) == 0, "Overwrite must not change the key");
    std::memcpy(SlotIn(Mut(p.block), p.slot), record, static_cast<std::size_t>(recordSize_));
}

bool PxDataFile::Rekey(Tag tag, const std::uint8_t* record)
{
    RTL_ASSERT(keyLength_ > 0 && ordered_, "Rekey needs an ordered keyed file");
    if (Compare(Record(tag), record) == 0) {
        Overwrite(tag, record);
        return true;
    }
    if (Holds(record)) return false;
    touched_ = true;
    const Pos p = where_.at(tag);
    RemoveAt(p.block, p.slot);
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
    touched_ = true;
    const Pos p = where_.at(tag);
    RemoveAt(p.block, p.slot);
    --recordCount_;
}

void PxDataFile::RemoveAt(std::uint16_t n, int slot)
{
    const std::size_t rs = static_cast<std::size_t>(recordSize_);
    const int count = counts_[n];
    Unregister(n, slot);
    std::uint8_t* page = Mut(n);
    std::uint8_t* at = SlotIn(page, slot);
    std::memmove(at, at + rs, static_cast<std::size_t>(count - slot - 1) * rs);
    std::memset(SlotIn(page, count - 1), 0, rs);
    SetCount(n, page, count - 1);
    ShiftSlots(n, slot + 1, -1);
    if (count - 1 > 0) return;
    const std::size_t pos = ChainIndexOf(n);
    RTL_ASSERT(pos != kNotInChain, "A block that held records is in the chain");
    if (pos == 0 && chain_.size() > 1) {
        // The first block of the chain stays where it is: the next block's
        // records move into it and that block becomes free.
        const std::uint16_t next = chain_[1];
        const int moved = counts_[next];
        std::vector<std::uint8_t> records(SlotIn(Page(next), 0), SlotIn(Page(next), 0) + static_cast<std::size_t>(moved) * rs);
        std::uint8_t* first = Mut(n);
        std::memcpy(first + 6, records.data(), records.size());
        SetCount(n, first, moved);
        MoveSlots(next, 0, n, 0);
        movedInto_.insert(n);
        chain_.erase(chain_.begin() + 1);
        Release(next);
        LinkAt(0);
        LinkAt(1);
    } else {
        chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(pos));
        Release(n);
        if (pos > 0) LinkAt(pos - 1);
        LinkAt(pos);
    }
}

std::uint64_t PxDataFile::JoinClock() noexcept { return joinClock.load(); }

std::size_t PxDataFile::ChainIndexOf(std::uint16_t block) const
{
    if (block == 0 || block > fileBlocks_ || !used_[block]) return kNotInChain;
    if (ordered_) {
        // Keys ascend along the chain: the block is where its first key is
        // (a block just emptied still has the key of its last record).
        const std::size_t kl = static_cast<std::size_t>(keyLength_);
        const std::uint8_t* key = FirstKey(block);
        std::size_t lo = 0, hi = chain_.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (std::memcmp(FirstKey(chain_[mid]), key, kl) < 0) lo = mid + 1;
            else hi = mid;
        }
        if (lo < chain_.size() && chain_[lo] == block) return lo;
    }
    const auto it = std::find(chain_.begin(), chain_.end(), block);
    return it == chain_.end() ? kNotInChain : static_cast<std::size_t>(it - chain_.begin());
}

std::vector<std::uint16_t> PxDataFile::TakeEntryChanges()
{
    std::vector<std::uint16_t> out(entryChanges_.begin(), entryChanges_.end());
    entryChanges_.clear();
    return out;
}

std::vector<std::uint16_t> PxDataFile::TakeMovedBlocks()
{
    std::vector<std::uint16_t> out;
    for (std::uint16_t b : movedInto_)
        if (b <= fileBlocks_ && used_[b]) out.push_back(b);
    movedInto_.clear();
    return out;
}

PxWrite PxChangedRange(const std::uint8_t* was, const std::uint8_t* now, std::size_t size)
{
    std::size_t first = 0, last = size;
    while (was[first] == now[first]) ++first;
    while (was[last - 1] == now[last - 1]) --last;
    return {first, std::vector<std::uint8_t>(now + first, now + last)};
}

void PxDataFile::Finish()
{
    if (!touched_) return;
    touched_ = false;
    if (!freeLinked_) {
        // Once after reading: the free blocks as a forward list through their first word.
        for (std::size_t i = 0; i < free_.size(); ++i) {
            SetFreeNext(free_[i], i + 1 < free_.size() ? free_[i + 1] : 0);
            cache_.Trim();
        }
        freeLinked_ = true;
    }
    header_.numRecords = static_cast<std::int32_t>(recordCount_);
    header_.usedBlocks = static_cast<std::uint16_t>(chain_.size());
    header_.fileBlocks = fileBlocks_;
    header_.firstBlock = chain_.empty() ? 0 : chain_.front();
    header_.lastBlock = chain_.empty() ? 0 : chain_.back();
    header_.firstFreeBlock = free_.empty() ? 0 : free_.front();
    PxStoreCounters(header_);
    if (header_.raw != file_->Header()) file_->SetHeader(header_.raw);
}

} // namespace bde
