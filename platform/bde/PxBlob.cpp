// Blob storage in .MB files: reading fields, allocation and reuse of space.
#include "platform/bde/PxBlob.h"

#include <algorithm>
#include <cstring>

#include "platform/bde/PxCrypt.h"
#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SBadBlob = "Blob file \"%s\" is damaged: %s (offset %u)";
constexpr const char* SNotWritable = "Blob file \"%s\" has blocks this engine does not know; it is not changed";
constexpr const char* SBlobTooLarge = "A blob of %u bytes does not fit in blob file \"%s\"";
constexpr const char* SPastEnd =
    "Blob file \"%s\" is damaged: records name places past its end (it is missing blocks); no blob is added to it";

constexpr std::uint32_t kChunk = 16;
constexpr std::uint32_t kFirstChunk = 0x150 / kChunk; // after the 12-byte head and 64 slots
constexpr std::uint32_t kChunksPerUnit = PxBlobFile::kUnit / kChunk;
constexpr int kSlots = 64;
constexpr std::uint32_t kSubThreshold = 2048; // larger blobs get a block of their own
constexpr std::uint32_t kMaxUnits = 0xFFFF;
constexpr std::size_t kCryptChunk = 256;

// The start of a header in the clear: byte 0 zero, the header one unit long.
bool LooksLikeHeader(const std::uint8_t* h) noexcept { return h[0] == 0 && PxGetU16(h + 1) == 1; }

// Every chunk of a scrambled blob file is scrambled alike: as the chunk at
// place a + 1 of data block b (a, b: the first two bytes of the code). The
// place of a chunk only adds a mask to its scrambled bytes, so a chunk goes
// through as the first of block b and that mask is applied to it.
void MakeMask(std::uint32_t code, std::uint8_t* mask) noexcept
{
    const std::uint32_t a = code & 0xFF, b = (code >> 8) & 0xFF;
    std::vector<std::uint8_t> at((a + 2) * kCryptChunk, 0);
    PxEncryptBlock(at.data(), at.size(), code, b);
    std::uint8_t first[kCryptChunk] = {};
    PxEncryptBlock(first, kCryptChunk, code, b);
    for (std::size_t j = 0; j < kCryptChunk; ++j) mask[j] = at[(a + 1) * kCryptChunk + j] ^ first[j];
}

} // namespace

PxBlobFile::PxBlobFile(std::string name, std::unique_ptr<PxFile> file, std::uint32_t code)
    : name_(std::move(name)), file_(std::move(file)), code_(code)
{
    if (code_ != 0) MakeMask(code_, mask_);
    diskSize_ = file_->Size();
    Walk();
}

PxBlobFile::PxBlobFile(std::string name, std::unique_ptr<PxFile> file, bool, std::uint32_t code)
    : name_(std::move(name)), file_(std::move(file)), code_(code)
{
    if (code_ != 0) MakeMask(code_, mask_);
    blocksScrambled_ = code_ != 0;
    diskSize_ = 0;
    end_ = kUnit;
    endChanged_ = true;
    auto& h = Page(0);
    std::fill(h.begin(), h.end(), 0);
    PxPutU16(h.data() + 1, 1);      // the header is one unit
    PxPutU16(h.data() + 3, 1);      // modification count
    PxPutU16(h.data() + 0x0B, 0x1000);
    PxPutU16(h.data() + 0x0D, 0x1000);
    h[0x10] = 0x10;                 // chunk size
    PxPutU16(h.data() + 0x11, 0x0040); // slots per block
    PxPutU16(h.data() + 0x13, 0x0800); // threshold of small blobs
    dirty_.insert(0);
}

void PxBlobFile::Scramble(std::uint8_t* chunks, std::size_t size) const noexcept
{
    const std::uint32_t b = (code_ >> 8) & 0xFF;
    for (std::size_t at = 0; at + kCryptChunk <= size; at += kCryptChunk) {
        PxEncryptBlock(chunks + at, kCryptChunk, code_, b);
        for (std::size_t j = 0; j < kCryptChunk; ++j) chunks[at + j] ^= mask_[j];
    }
}

void PxBlobFile::Unscramble(std::uint8_t* chunks, std::size_t size) const noexcept
{
    const std::uint32_t b = (code_ >> 8) & 0xFF;
    for (std::size_t at = 0; at + kCryptChunk <= size; at += kCryptChunk) {
        for (std::size_t j = 0; j < kCryptChunk; ++j) chunks[at + j] ^= mask_[j];
        PxDecryptBlock(chunks + at, kCryptChunk, code_, b);
    }
}

bool PxBlobFile::WalkHeads(bool scrambled, std::map<std::uint64_t, Block>& blocks, std::uint64_t& end, bool& fits)
{
    bool ok = true;
    std::uint64_t pos = kUnit;
    while (pos < diskSize_) {
        std::uint8_t head[kCryptChunk] = {};
        const std::size_t need = scrambled ? kCryptChunk : 3;
        if (file_->ReadAt(pos, head, need) < need) { ok = false; break; }
        if (scrambled) Unscramble(head, kCryptChunk);
        const std::uint8_t type = head[0];
        const std::uint32_t units = PxGetU16(head + 1);
        if ((type != 2 && type != 3 && type != 4) || units == 0 || (type == 3 && units != 1)) {
            ok = false;
            break;
        }
        blocks[pos] = {type, units};
        pos += static_cast<std::uint64_t>(units) * kUnit;
    }
    end = std::max<std::uint64_t>(pos, kUnit);
    fits = ok && pos == diskSize_;
    return ok;
}

void PxBlobFile::Walk()
{
    bool fits = false;
    walkable_ = WalkHeads(false, blocks_, end_, fits);
    if (code_ == 0) {
        IndexBlocks();
        return;
    }
    std::uint8_t h[kCryptChunk] = {};
    file_->ReadAt(0, h, kCryptChunk);
    const bool clearHeader = LooksLikeHeader(h);
    Unscramble(h, kCryptChunk);
    headerScrambled_ = !clearHeader && LooksLikeHeader(h);
    // The blocks are as they stand when their heads fill the file so, and
    // scrambled when only the unscrambled heads do; without a block to tell
    // by they are as the header is.
    std::map<std::uint64_t, Block> blocks;
    std::uint64_t end = kUnit;
    bool scrambledFits = false;
    const bool scrambledOk = WalkHeads(true, blocks, end, scrambledFits);
    if (diskSize_ <= kUnit) blocksScrambled_ = headerScrambled_;
    else if (fits) blocksScrambled_ = false;
    else if (scrambledFits) blocksScrambled_ = true;
    else blocksScrambled_ = !walkable_ && scrambledOk;
    if (blocksScrambled_ && diskSize_ > kUnit) {
        blocks_ = std::move(blocks);
        end_ = end;
        walkable_ = scrambledOk;
    }
    IndexBlocks();
}

void PxBlobFile::IndexBlocks()
{
    lastCut_ = walkable_ && end_ > diskSize_ && !blocks_.empty() ? blocks_.rbegin()->first : kNoPlace;

    free_.clear();
    subs_.clear();
    for (const auto& [at, b] : blocks_) {
        if (b.type == 4) free_.insert(free_.end(), at);
        else if (b.type == 3) subs_.insert(subs_.end(), at);
    }
}

void PxBlobFile::SetBlock(std::uint64_t at, Block block)
{
    auto [it, added] = blocks_.emplace(at, block);
    if (!added) {
        if (it->second.type == 4) free_.erase(at);
        else if (it->second.type == 3) subs_.erase(at);
        it->second = block;
    }
    if (block.type == 4) free_.insert(at);
    else if (block.type == 3) subs_.insert(at);
}

std::map<std::uint64_t, PxBlobFile::Block>::iterator PxBlobFile::EraseBlock(std::map<std::uint64_t, Block>::iterator it)
{
    free_.erase(it->first);
    subs_.erase(it->first);
    return blocks_.erase(it);
}

void PxBlobFile::CheckWritable(bool store) const
{
    if (!walkable_) throw EPxError(rtl::Format(SNotWritable, name_.c_str()));
    if (store && Pinned(end_, 0x100000000ULL)) throw EPxError(rtl::Format(SPastEnd, name_.c_str()));
}

void PxBlobFile::NoteReference(const std::uint8_t* field, int leader)
{
    if (!StoredInFile(field, leader)) return;
    const std::uint32_t place = PxGetU32(field + leader);
    ++refs_[place];
    if (place < lastCut_ || keepBelow_ != kNoPlace) return;
    // A blob in the block the file's end cuts: are its bytes all there?
    const std::uint32_t length = PxGetU32(field + leader + 4);
    std::uint64_t at = 0;
    const char* why = "";
    if (!Locate(place, length, at, why) || at + length > diskSize_) keepBelow_ = diskSize_;
}

bool PxBlobFile::Pinned(std::uint64_t from, std::uint64_t to) const
{
    if (from > 0xFFFFFFFFu) return false;
    const auto it = refs_.lower_bound(static_cast<std::uint32_t>(from));
    return it != refs_.end() && it->first < to;
}

std::uint64_t PxBlobFile::Extent() const noexcept
{
    return std::max(diskSize_, pages_.empty() ? 0 : pages_.rbegin()->first + kUnit);
}

bool PxBlobFile::Locate(std::uint32_t place, std::uint32_t length, std::uint64_t& data, const char*& why)
{
    const std::uint32_t slot = place & 0xFF;
    const std::uint64_t base = place & 0xFFFFFF00u;
    if (base < kUnit) {
        why = "a blob points into the header";
        return false;
    }
    if (base >= Extent()) {
        why = "a blob points past the end of the file";
        return false;
    }
    std::uint8_t head[3] = {};
    ReadBytes(base, head, sizeof head);
    if (slot == 0xFF) {
        const std::uint32_t units = PxGetU16(head + 1);
        if (head[0] != 2 || units == 0) {
            why = "a blob points at a block that holds no single blob";
            return false;
        }
        if (static_cast<std::uint64_t>(length) + 9 > static_cast<std::uint64_t>(units) * kUnit) {
            why = "a blob is longer than its block";
            return false;
        }
        if (base + 9 + length > Extent()) {
            why = "a blob lies past the end of the file";
            return false;
        }
        data = base + 9;
        return true;
    }
    if (head[0] != 3 || slot >= static_cast<std::uint32_t>(kSlots)) {
        why = "a blob points at a block that holds no small blobs";
        return false;
    }
    std::uint8_t e[5] = {};
    ReadBytes(base + 12 + 5 * slot, e, 5);
    const std::uint32_t start = e[0];
    const std::uint32_t chunks = e[1];
    if (start == 0 || e[4] == 0) {
        why = "a blob points at a deleted slot";
        return false;
    }
    if (start < kFirstChunk || chunks == 0 || start + chunks > kChunksPerUnit) {
        why = "a slot claims room outside its block";
        return false;
    }
    if (length > chunks * kChunk) {
        why = "a blob is longer than its slot";
        return false;
    }
    data = base + static_cast<std::uint64_t>(start) * kChunk;
    return true;
}

std::vector<std::uint8_t>& PxBlobFile::Page(std::uint64_t offset)
{
    const std::uint64_t base = offset / kUnit * kUnit;
    auto it = pages_.find(base);
    if (it != pages_.end()) return it->second;
    std::vector<std::uint8_t> page(kUnit, 0);
    if (base < diskSize_) ReadClear(base, page.data(), kUnit);
    return pages_.emplace(base, std::move(page)).first->second;
}

void PxBlobFile::ReadBytes(std::uint64_t offset, std::uint8_t* out, std::size_t size)
{
    while (size > 0) {
        const std::uint64_t base = offset / kUnit * kUnit;
        const std::size_t in = static_cast<std::size_t>(offset - base);
        std::size_t n = std::min<std::size_t>(size, kUnit - in);
        const auto it = pages_.lower_bound(base);
        if (it != pages_.end() && it->first == base) {
            std::memcpy(out, it->second.data() + in, n);
        } else {
            // Up to the next page held here, in one read.
            if (it == pages_.end() || it->first - offset >= size) n = size;
            else n = static_cast<std::size_t>(it->first - offset);
            ReadClear(offset, out, n);
        }
        out += n;
        offset += n;
        size -= n;
    }
}

void PxBlobFile::ReadClear(std::uint64_t offset, std::uint8_t* out, std::size_t size)
{
    while (size > 0) {
        const std::uint64_t base = offset / kUnit * kUnit;
        std::size_t n = std::min<std::size_t>(size, static_cast<std::size_t>(base + kUnit - offset));
        if (!UnitScrambled(base)) {
            // The units after the first are all scrambled or all not: when
            // they are not, the rest is read at once.
            if (base > 0 || !blocksScrambled_) n = size;
            const std::size_t got = offset < diskSize_ ? file_->ReadAt(offset, out, n) : 0;
            if (got < n) std::memset(out + got, 0, n - got);
        } else {
            // Whole chunks, unscrambled; what lies past the end reads as zeros.
            const std::uint64_t from = offset / kCryptChunk * kCryptChunk;
            const std::size_t span = (static_cast<std::size_t>(offset - from) + n + kCryptChunk - 1) / kCryptChunk * kCryptChunk;
            std::uint8_t chunks[kUnit];
            const std::size_t got = from < diskSize_ ? file_->ReadAt(from, chunks, span) : 0;
            if (got < span) std::memset(chunks + got, 0, span - got);
            Unscramble(chunks, span);
            if (got < span) std::memset(chunks + got, 0, span - got);
            std::memcpy(out, chunks + (offset - from), n);
        }
        out += n;
        offset += n;
        size -= n;
    }
}

void PxBlobFile::WriteBytes(std::uint64_t offset, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const std::uint64_t base = offset / kUnit * kUnit;
        const std::size_t in = static_cast<std::size_t>(offset - base);
        const std::size_t n = std::min<std::size_t>(size, kUnit - in);
        auto& page = Page(base);
        if (data) std::memcpy(page.data() + in, data, n);
        else std::memset(page.data() + in, 0, n);
        dirty_.insert(base);
        if (data) data += n;
        offset += n;
        size -= n;
    }
}

void PxBlobFile::WriteBlockHead(std::uint64_t offset, std::uint8_t type, std::uint32_t units)
{
    std::uint8_t head[3] = {type, 0, 0};
    PxPutU16(head + 1, static_cast<std::uint16_t>(units));
    WriteBytes(offset, head, 3);
}

std::uint16_t PxBlobFile::NextMod()
{
    auto& h = Page(0);
    std::uint16_t mod = static_cast<std::uint16_t>(PxGetU16(h.data() + 3) + 1);
    if (mod == 0) mod = 1;
    PxPutU16(h.data() + 3, mod);
    dirty_.insert(0);
    return mod;
}

std::uint32_t PxBlobFile::LengthOf(const std::uint8_t* field, int leader) noexcept
{
    return PxGetU32(field + leader + 4);
}

std::vector<std::uint8_t> PxBlobFile::Read(const std::uint8_t* field, int leader)
{
    const std::uint32_t off = PxGetU32(field + leader);
    const std::uint32_t len = PxGetU32(field + leader + 4);
    const auto bad = [&](const char* why) { throw EPxError(rtl::Format(SBadBlob, name_.c_str(), why, off)); };
    if (len == 0) return {};
    if (off == 0) {
        if (len > static_cast<std::uint32_t>(leader)) bad("an inline blob is longer than its leader");
        return std::vector<std::uint8_t>(field, field + len);
    }
    // The length is checked against its block before anything is allocated for it.
    std::uint64_t at = 0;
    const char* why = "";
    if (!Locate(off, len, at, why)) bad(why);
    std::vector<std::uint8_t> data(len);
    ReadBytes(at, data.data(), len);
    return data;
}

void PxBlobFile::FreeBlock(std::uint64_t offset)
{
    auto it = blocks_.find(offset);
    if (it == blocks_.end()) return;
    SetBlock(offset, {4, it->second.units});
    // Join free neighbours.
    auto next = std::next(it);
    if (next != blocks_.end() && next->second.type == 4 &&
        next->first == it->first + static_cast<std::uint64_t>(it->second.units) * kUnit &&
        it->second.units + next->second.units <= kMaxUnits) {
        it->second.units += next->second.units;
        EraseBlock(next);
    }
    if (it != blocks_.begin()) {
        auto prev = std::prev(it);
        if (prev->second.type == 4 && prev->first + static_cast<std::uint64_t>(prev->second.units) * kUnit == it->first &&
            prev->second.units + it->second.units <= kMaxUnits) {
            prev->second.units += it->second.units;
            EraseBlock(it);
            it = prev;
        }
    }
    const std::uint64_t stop = it->first + static_cast<std::uint64_t>(it->second.units) * kUnit;
    if (stop >= end_) {
        // Free space at the end of the file is cut off.
        end_ = it->first;
        endChanged_ = true;
        EraseBlock(it);
        for (auto p = pages_.lower_bound(end_); p != pages_.end();) {
            dirty_.erase(p->first);
            p = pages_.erase(p);
        }
        return;
    }
    WriteBlockHead(it->first, 4, it->second.units);
}

std::uint64_t PxBlobFile::AllocateUnits(std::uint32_t units)
{
    // First fit, in the order of the file.
    for (const std::uint64_t freeAt : free_) {
        const auto it = blocks_.find(freeAt);
        if (it->second.units < units) continue;
        const std::uint64_t at = it->first;
        // Free space that a record still names (a damaged one) is not used.
        if (Pinned(at, at + static_cast<std::uint64_t>(units) * kUnit)) continue;
        if (at + static_cast<std::uint64_t>(it->second.units) * kUnit > keepBelow_) continue;
        const std::uint32_t rest = it->second.units - units;
        it->second.units = units;
        if (rest > 0) {
            const std::uint64_t restAt = at + static_cast<std::uint64_t>(units) * kUnit;
            SetBlock(restAt, {4, rest});
            WriteBlockHead(restAt, 4, rest);
        }
        return at;
    }
    const std::uint64_t at = end_;
    if (Pinned(at, 0x100000000ULL) || at + static_cast<std::uint64_t>(units) * kUnit > keepBelow_)
        throw EPxError(rtl::Format(SPastEnd, name_.c_str()));
    if (at + static_cast<std::uint64_t>(units) * kUnit > 0xFFFFFF00ULL)
        throw EPxError(rtl::Format(SBlobTooLarge, units * kUnit, name_.c_str()));
    end_ += static_cast<std::uint64_t>(units) * kUnit;
    endChanged_ = true;
    SetBlock(at, {4, units});
    return at;
}

bool PxBlobFile::SubAllocate(std::uint32_t size, std::uint64_t& block, int& slot, std::uint32_t& chunkStart)
{
    const std::uint32_t need = (size + kChunk - 1) / kChunk;
    for (const std::uint64_t at : subs_) {
        if (at + kUnit > keepBelow_) continue;
        std::uint8_t table[kSlots * 5];
        ReadBytes(at + 12, table, sizeof table);
        int freeSlot = -1;
        std::vector<bool> used(kChunksPerUnit, false);
        for (int s = kSlots - 1; s >= 0; --s) {
            const std::uint8_t* e = table + 5 * s;
            if (e[0] == 0 || e[4] == 0) {
                // A deleted slot that a record still names is not used again.
                if (freeSlot < 0 && !refs_.count(static_cast<std::uint32_t>(at) | static_cast<std::uint32_t>(s))) freeSlot = s;
                continue;
            }
            for (std::uint32_t c = e[0]; c < std::min<std::uint32_t>(kChunksPerUnit, e[0] + e[1]); ++c) used[c] = true;
        }
        if (freeSlot < 0) continue;
        std::uint32_t run = 0;
        for (std::uint32_t c = kFirstChunk; c < kChunksPerUnit; ++c) {
            run = used[c] ? 0 : run + 1;
            if (run == need) {
                block = at;
                slot = freeSlot;
                chunkStart = c + 1 - need;
                return true;
            }
        }
    }
    return false;
}

void PxBlobFile::Free(const std::uint8_t* field, int leader)
{
    const std::uint32_t off = PxGetU32(field + leader);
    const std::uint32_t len = PxGetU32(field + leader + 4);
    if (off == 0 || len == 0) return;
    CheckWritable(false);
    if (auto r = refs_.find(off); r != refs_.end()) {
        if (--r->second > 0) return; // another record names it too
        refs_.erase(r);
    }
    // Only a blob that is there as the field describes it is freed; a place
    // that holds something else is left as it is.
    std::uint64_t at = 0;
    const char* why = "";
    if (!Locate(off, len, at, why)) return;
    const std::uint32_t slot = off & 0xFF;
    const std::uint64_t base = off & 0xFFFFFF00u;
    auto it = blocks_.find(base);
    if (it == blocks_.end()) return;
    if (slot == 0xFF) {
        std::uint8_t head[7] = {};
        ReadBytes(base, head, sizeof head);
        if (it->second.type == 2 && PxGetU32(head + 3) == len) FreeBlock(base);
        return;
    }
    if (it->second.type != 3 || base + kUnit > keepBelow_) return;
    std::uint8_t table[kSlots * 5];
    ReadBytes(base + 12, table, sizeof table);
    const std::uint32_t start = table[5 * slot];
    const std::uint32_t stop = start + table[5 * slot + 1];
    for (int s = 0; s < kSlots; ++s) {
        const std::uint8_t* e = table + 5 * s;
        if (static_cast<std::uint32_t>(s) == slot || e[0] == 0 || e[4] == 0) continue;
        if (e[0] < stop && start < static_cast<std::uint32_t>(e[0]) + e[1]) return; // the chunks are another blob's too
    }
    WriteBytes(base + static_cast<std::uint64_t>(start) * kChunk, nullptr, static_cast<std::size_t>(stop - start) * kChunk);
    WriteBytes(base + 12 + 5 * slot, nullptr, 5);
    for (int s = 0; s < kSlots; ++s)
        if (static_cast<std::uint32_t>(s) != slot && table[5 * s] != 0 && table[5 * s + 4] != 0) return;
    FreeBlock(base);
}

bool PxBlobFile::StoreInline(std::uint8_t* field, int leader, const std::vector<std::uint8_t>& data)
{
    std::memset(field, 0, static_cast<std::size_t>(leader) + kPxBlobFieldExtra);
    if (data.empty()) return true;
    std::memcpy(field, data.data(), std::min<std::size_t>(data.size(), static_cast<std::size_t>(leader)));
    if (data.size() > static_cast<std::size_t>(leader)) return false;
    PxPutU32(field + leader + 4, static_cast<std::uint32_t>(data.size()));
    return true;
}

void PxBlobFile::Store(std::uint8_t* field, int leader, const std::vector<std::uint8_t>& data)
{
    if (StoreInline(field, leader, data)) return;
    CheckWritable(false);
    const auto size = static_cast<std::uint32_t>(data.size());
    if (data.size() > 0x7FFFFFFFu) throw EPxError(rtl::Format(SBlobTooLarge, size, name_.c_str()));
    const std::uint16_t mod = NextMod();
    std::uint32_t ref;
    if (size <= kSubThreshold) {
        std::uint64_t block = 0;
        int slot = 0;
        std::uint32_t start = 0;
        if (!SubAllocate(size, block, slot, start)) {
            block = AllocateUnits(1);
            SetBlock(block, {3, 1});
            WriteBytes(block, nullptr, kUnit);
            WriteBlockHead(block, 3, 1);
            slot = kSlots - 1;
            start = kFirstChunk;
        }
        const std::uint32_t chunks = (size + kChunk - 1) / kChunk;
        WriteBytes(block + static_cast<std::uint64_t>(start) * kChunk, nullptr, chunks * kChunk);
        WriteBytes(block + static_cast<std::uint64_t>(start) * kChunk, data.data(), size);
        std::uint8_t e[5] = {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(chunks), 0, 0,
                             static_cast<std::uint8_t>(size - (chunks - 1) * kChunk)};
        PxPutU16(e + 2, mod);
        WriteBytes(block + 12 + 5 * static_cast<std::uint64_t>(slot), e, 5);
        ref = static_cast<std::uint32_t>(block) | static_cast<std::uint32_t>(slot);
    } else {
        const std::uint64_t units64 = (static_cast<std::uint64_t>(size) + 9 + kUnit - 1) / kUnit;
        if (units64 > kMaxUnits) throw EPxError(rtl::Format(SBlobTooLarge, size, name_.c_str()));
        const auto units = static_cast<std::uint32_t>(units64);
        const std::uint64_t at = AllocateUnits(units);
        SetBlock(at, {2, units});
        std::uint8_t head[9] = {2, 0, 0};
        PxPutU16(head + 1, static_cast<std::uint16_t>(units));
        PxPutU32(head + 3, size);
        PxPutU16(head + 7, mod);
        WriteBytes(at, head, 9);
        WriteBytes(at + 9, data.data(), size);
        const std::uint64_t used = 9 + static_cast<std::uint64_t>(size);
        const std::uint64_t stop = at + units64 * kUnit;
        if (at + used < stop) WriteBytes(at + used, nullptr, static_cast<std::size_t>(stop - at - used));
        ref = static_cast<std::uint32_t>(at) | 0xFFu;
    }
    PxPutU32(field + leader, ref);
    PxPutU32(field + leader + 4, size);
    PxPutU16(field + leader + 8, mod);
    ++refs_[ref];
}

PxFileChanges PxBlobFile::CollectWrites()
{
    PxFileChanges ch;
    for (std::uint64_t base : dirty_) {
        if (base >= end_) continue;
        std::vector<std::uint8_t> bytes = pages_.at(base);
        if (UnitScrambled(base)) Scramble(bytes.data(), bytes.size());
        ch.writes.push_back({base, std::move(bytes)});
    }
    ch.newSize = end_;
    ch.resize = endChanged_ && end_ != diskSize_;
    return ch;
}

void PxBlobFile::MarkClean()
{
    dirty_.clear();
    pages_.clear();
    endChanged_ = false;
    diskSize_ = file_->Size();
}

} // namespace bde
