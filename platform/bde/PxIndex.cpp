// .PX/.Y index files kept as B-trees through the block cache.
#include "platform/bde/PxIndex.h"

#include <algorithm>
#include <cstring>

#include "platform/bde/PxCrypt.h"
#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SIndexMismatch = "Index file \"%s\" does not match its data file: %s";
constexpr const char* SIndexFull = "Index file \"%s\" has no room for another block";
constexpr std::uint32_t kMaxCount = 0x7FFF;
constexpr std::uint32_t kMaxBlocks = 65535;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Record {
    const std::uint8_t* key;
    std::uint32_t child;
    std::uint32_t count;
};

std::string Num(std::uint32_t v) { return rtl::Format("%u", v); }

} // namespace

void PxPutIndexWord(std::uint8_t* p, std::uint32_t value) noexcept
{
    const auto v = static_cast<std::uint16_t>(value ^ 0x8000);
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

std::uint32_t PxGetIndexWord(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint32_t>(((p[0] << 8) | p[1]) ^ 0x8000);
}

// What a walk from the root found.
struct PxIndexFile::Walked {
    std::string problem;                 // "" for a valid tree
    std::uint32_t fileBlocks = 0;        // whole blocks in the file (at most 65535)
    int levels = 0;
    std::vector<std::uint16_t> order;    // blocks in use: the root first, level by level down
    std::vector<std::uint8_t> level;     // per block number
    std::vector<std::uint16_t> parent;
    std::vector<std::uint32_t> total;
    std::string linkProblem;             // "" when the blocks are linked in `order`
    std::vector<std::uint16_t> badLinks; // blocks whose link words are not that
    struct Leaf {
        std::uint16_t child, count, leaf;
    };
    std::vector<Leaf> level1;
    std::vector<std::uint8_t> keys; // keyLength bytes per level-1 record
    std::uint32_t entries = 0;
};

PxIndexFile::PxIndexFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, PxHeader header,
                         bool isNew)
    : name_(name), header_(std::move(header)),
      paged_(cache, std::move(name), std::move(file), header_.headerSize,
             static_cast<std::size_t>(std::max(header_.BlockSize(), 1024)), isNew)
{
    header_.raw.resize(header_.headerSize);
    if (isNew) {
        // Nothing to read: the first Sync lays it out.
        loaded_ = true;
        rebuild_ = true;
        SetCode(header_.encryption);
    }
}

void PxIndexFile::SetCode(std::uint32_t code)
{
    code_ = code;
    if (code == 0) {
        paged_.SetCodec(nullptr);
        return;
    }
    paged_.SetCodec([code](std::uint8_t* bytes, std::size_t size, std::uint32_t page, bool encode) {
        if (encode) PxEncryptBlock(bytes, size, code, page);
        else PxDecryptBlock(bytes, size, code, page);
    });
}

void PxIndexFile::Prepare(const PxDataFile& data)
{
    CheckShape(data);
    keyLength_ = data.KeyLength();
    entrySize_ = static_cast<std::size_t>(keyLength_) + 6;
    cap_ = (static_cast<std::size_t>(header_.BlockSize()) - 6) / entrySize_;
}

void PxIndexFile::CheckShape(const PxDataFile& data) const
{
    const int keyLength = data.KeyLength();
    const int entrySize = keyLength + 6;
    if (entrySize != header_.recordSize)
        throw EPxError(rtl::Format(SIndexMismatch, name_.c_str(), "the key sizes differ"));
    if (header_.BlockSize() < 1024 || (static_cast<std::size_t>(header_.BlockSize()) - 6) / static_cast<std::size_t>(entrySize) < 2)
        throw EPxError(rtl::Format(SIndexMismatch, name_.c_str(), "the key is too long for the blocks"));
}

// ---- the dense layout ------------------------------------------------------------

std::vector<std::uint8_t> PxIndexFile::Build(const PxDataFile& data) const
{
    CheckShape(data);
    const int keyLength = data.KeyLength();
    const int entrySize = keyLength + 6;
    const std::size_t blockSize = static_cast<std::size_t>(header_.BlockSize());
    const std::size_t cap = (blockSize - 6) / static_cast<std::size_t>(entrySize);

    // Level 1: one record per data block.
    std::vector<std::vector<Record>> levels(1);
    for (std::uint16_t b : data.Chain()) {
        const int count = data.CountOf(b);
        if (count == 0) continue;
        levels[0].push_back({data.FirstKey(b), b, static_cast<std::uint32_t>(count)});
    }
    // Blocks per level, then numbering from the root down.
    std::vector<std::size_t> blocksOf;
    if (!levels[0].empty()) {
        std::size_t n = levels[0].size();
        for (;;) {
            const std::size_t k = (n + cap - 1) / cap;
            blocksOf.push_back(k);
            if (k == 1) break;
            n = k;
        }
    }
    const std::size_t depth = blocksOf.size();
    std::vector<std::size_t> first(depth, 0); // first block number of each level
    std::size_t next = 1;
    for (std::size_t l = depth; l-- > 0;) {
        first[l] = next;
        next += blocksOf[l];
    }
    const std::size_t totalBlocks = next - 1;
    for (std::size_t l = 0; l + 1 < depth; ++l) {
        std::vector<Record> parent;
        const auto& cur = levels[l];
        for (std::size_t i = 0; i < cur.size(); i += cap) {
            std::uint32_t sum = 0;
            for (std::size_t j = i; j < std::min(cur.size(), i + cap); ++j) sum += cur[j].count;
            parent.push_back({cur[i].key, static_cast<std::uint32_t>(first[l] + i / cap), sum});
        }
        levels.push_back(std::move(parent));
    }

    PxHeader h = header_;
    std::size_t entries = 0;
    for (std::size_t l = 0; l < depth; ++l) entries += levels[l].size();
    h.numRecords = static_cast<std::int32_t>(entries);
    h.usedBlocks = h.fileBlocks = static_cast<std::uint16_t>(totalBlocks);
    h.firstBlock = totalBlocks ? 1 : 0;
    h.lastBlock = static_cast<std::uint16_t>(totalBlocks);
    h.indexRoot = totalBlocks ? 1 : 0;
    h.indexLevels = static_cast<std::uint8_t>(depth);
    PxStoreCounters(h);

    std::vector<std::uint8_t> out(h.headerSize + totalBlocks * blockSize, 0);
    std::memcpy(out.data(), h.raw.data(), h.headerSize);
    for (std::size_t l = 0; l < depth; ++l) {
        const auto& cur = levels[l];
        for (std::size_t i = 0; i < cur.size(); i += cap) {
            const std::size_t number = first[l] + i / cap;
            std::uint8_t* blk = out.data() + h.headerSize + (number - 1) * blockSize;
            const std::size_t n = std::min(cap, cur.size() - i);
            PxPutU16(blk, static_cast<std::uint16_t>(number < totalBlocks ? number + 1 : 0));
            PxPutU16(blk + 2, static_cast<std::uint16_t>(number > 1 ? number - 1 : 0));
            PxPutU16(blk + 4, static_cast<std::uint16_t>((n - 1) * static_cast<std::size_t>(entrySize)));
            for (std::size_t j = 0; j < n; ++j) {
                const Record& e = cur[i + j];
                std::uint8_t* r = blk + 6 + j * static_cast<std::size_t>(entrySize);
                std::memcpy(r, e.key, static_cast<std::size_t>(keyLength));
                PxPutIndexWord(r + keyLength, e.child);
                PxPutIndexWord(r + keyLength + 2, std::min(e.count, kMaxCount));
                PxPutIndexWord(r + keyLength + 4, 0);
            }
        }
    }
    return out;
}

void PxIndexFile::Rebuild(const PxDataFile& data)
{
    Prepare(data);
    if (!loaded_) Load(data);
    const std::vector<std::uint8_t> image = Build(data);
    const std::size_t hs = header_.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    // Whatever was changed and not written out is laid out again here.
    paged_.Discard();
    const std::size_t blocks = (image.size() - hs) / bs;
    for (std::size_t n = 0; n < blocks; ++n) {
        const std::uint8_t* want = image.data() + hs + n * bs;
        const auto page = static_cast<std::uint32_t>(n);
        if (std::memcmp(paged_.Read(page), want, bs) != 0) std::memcpy(paged_.Write(page), want, bs);
    }
    PxHeader h = header_;
    h.indexRoot = PxGetU16(image.data() + 0x1E);
    h.indexLevels = image[0x20];
    const Walked w = Walk(h, image.size(), [&](std::uint32_t block, std::uint8_t* out) {
        std::memcpy(out, image.data() + hs + (block - 1) * bs, bs);
        return true;
    });
    RTL_ASSERT(w.problem.empty() && w.linkProblem.empty(), "A rebuilt index is a valid tree");
    Adopt(w, data);
    rebuild_ = false;
    paged_.SetSize(image.size());
    StoreHeader();
}

// ---- reading a tree ----------------------------------------------------------------

PxIndexFile::BlockReader PxIndexFile::DiskReader(std::uint32_t code)
{
    const std::uint64_t hs = header_.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    PxFile* file = &paged_.File();
    return [file, hs, bs, code](std::uint32_t block, std::uint8_t* out) {
        if (file->ReadAt(hs + static_cast<std::uint64_t>(block - 1) * bs, out, bs) != bs) return false;
        if (code) PxDecryptBlock(out, bs, code, block - 1);
        return true;
    };
}

PxIndexFile::Walked PxIndexFile::Walk(const PxHeader& h, std::uint64_t fileSize, const BlockReader& read) const
{
    Walked w;
    const std::uint64_t hs = h.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    const std::size_t es = entrySize_;
    w.fileBlocks = fileSize > hs ? static_cast<std::uint32_t>(std::min<std::uint64_t>((fileSize - hs) / bs, kMaxBlocks)) : 0;
    w.level.assign(w.fileBlocks + 1, 0);
    w.parent.assign(w.fileBlocks + 1, 0);
    w.total.assign(w.fileBlocks + 1, 0);
    std::vector<std::uint16_t> nextWord(w.fileBlocks + 1, 0), prevWord(w.fileBlocks + 1, 0);
    if (h.indexLevels == 0 || h.indexRoot == 0) {
        if (h.indexLevels != 0 || h.indexRoot != 0) w.problem = "the header names a root without levels or levels without a root";
        return w;
    }
    w.levels = h.indexLevels;
    struct Pending {
        std::uint16_t block, parent;
        std::uint32_t count;
    };
    struct Upper {
        std::uint16_t child;
        std::uint32_t count;
    };
    std::vector<Pending> cur{{h.indexRoot, 0, 0}};
    std::vector<std::uint8_t> curKeys, nextKeys;
    std::vector<Upper> upper;
    std::vector<std::uint8_t> named(kMaxBlocks + 1, 0); // data blocks named by level 1
    std::vector<std::uint8_t> buf(bs);
    for (int level = w.levels; level >= 1; --level) {
        std::vector<Pending> next;
        nextKeys.clear();
        for (std::size_t i = 0; i < cur.size(); ++i) {
            const std::uint16_t b = cur[i].block;
            if (b == 0 || b > w.fileBlocks) {
                w.problem = "block " + Num(b) + " is outside the file";
                return w;
            }
            if (w.level[b]) {
                w.problem = "block " + Num(b) + " is reached twice";
                return w;
            }
            if (!read(b, buf.data())) {
                w.problem = "block " + Num(b) + " cannot be read";
                return w;
            }
            w.level[b] = static_cast<std::uint8_t>(level);
            w.parent[b] = cur[i].parent;
            w.order.push_back(b);
            nextWord[b] = PxGetU16(buf.data());
            prevWord[b] = PxGetU16(buf.data() + 2);
            const auto last = static_cast<std::int16_t>(PxGetU16(buf.data() + 4));
            if (last < 0 || static_cast<std::size_t>(last) % es != 0 || static_cast<std::size_t>(last) / es + 1 > cap_) {
                w.problem = "block " + Num(b) + " has a bad record count";
                return w;
            }
            const std::size_t n = static_cast<std::size_t>(last) / es + 1;
            w.entries += static_cast<std::uint32_t>(n);
            if (cur[i].parent != 0 && std::memcmp(curKeys.data() + i * kl, buf.data() + 6, kl) != 0) {
                w.problem = "the record of block " + Num(b) + " above it is not its first key";
                return w;
            }
            for (std::size_t j = 0; j < n; ++j) {
                const std::uint8_t* e = buf.data() + 6 + j * es;
                const std::uint32_t child = PxGetIndexWord(e + kl);
                const std::uint32_t count = PxGetIndexWord(e + kl + 2);
                if (level > 1) {
                    // A level has no more blocks than the file.
                    if (child == 0 || child > w.fileBlocks || next.size() >= w.fileBlocks) {
                        w.problem = "block " + Num(b) + " names block " + Num(child) + " outside the file";
                        return w;
                    }
                    next.push_back({static_cast<std::uint16_t>(child), b, count});
                    upper.push_back({static_cast<std::uint16_t>(child), count});
                    nextKeys.insert(nextKeys.end(), e, e + kl);
                } else {
                    if (child == 0 || named[child]) {
                        w.problem = "level 1 names data block " + Num(child) + (child ? " twice" : "");
                        return w;
                    }
                    named[child] = 1;
                    w.level1.push_back({static_cast<std::uint16_t>(child), static_cast<std::uint16_t>(count), b});
                    w.keys.insert(w.keys.end(), e, e + kl);
                    w.total[b] += count;
                }
            }
        }
        cur = std::move(next);
        curKeys.swap(nextKeys);
    }
    // Totals from the bottom up: the children of a block follow it in `order`.
    for (std::size_t i = w.order.size(); i-- > 1;) {
        const std::uint16_t b = w.order[i];
        w.total[w.parent[b]] += w.total[b];
    }
    for (const Upper& u : upper)
        if (u.count != std::min(w.total[u.child], kMaxCount)) {
            w.problem = "the record of block " + Num(u.child) + " above it counts " + Num(u.count) + " records, not " +
                        Num(std::min(w.total[u.child], kMaxCount));
            return w;
        }
    for (std::size_t i = 0; i < w.order.size(); ++i) {
        const std::uint16_t b = w.order[i];
        const std::uint16_t wantNext = i + 1 < w.order.size() ? w.order[i + 1] : 0;
        const std::uint16_t wantPrev = i > 0 ? w.order[i - 1] : 0;
        if (nextWord[b] != wantNext || prevWord[b] != wantPrev) {
            if (w.linkProblem.empty())
                w.linkProblem = "block " + Num(b) + " is linked to " + Num(prevWord[b]) + " and " + Num(nextWord[b]) +
                                ", not " + Num(wantPrev) + " and " + Num(wantNext);
            w.badLinks.push_back(b);
        }
    }
    return w;
}

std::string PxIndexFile::Compare(const Walked& w, const PxDataFile& data) const
{
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    std::size_t i = 0;
    for (std::uint16_t b : data.Chain()) {
        const int n = data.CountOf(b);
        if (n == 0) continue;
        if (i >= w.level1.size()) return "level 1 lacks data block " + Num(b);
        const Walked::Leaf& e = w.level1[i];
        if (e.child != b) return "level 1 names data block " + Num(e.child) + " where the chain has block " + Num(b);
        const std::uint32_t want = std::min(static_cast<std::uint32_t>(n), kMaxCount);
        if (e.count != want) return "level 1 counts " + Num(e.count) + " records in data block " + Num(b) + ", not " + Num(want);
        if (std::memcmp(w.keys.data() + i * kl, data.FirstKey(b), kl) != 0)
            return "level 1 holds another first key of data block " + Num(b);
        ++i;
    }
    if (i != w.level1.size()) return "level 1 names data blocks that hold no records of the chain";
    return "";
}

void PxIndexFile::Load(const PxDataFile& data)
{
    Prepare(data);
    loaded_ = true;
    const std::uint64_t size = paged_.SizeOnDisk();
    const std::uint64_t hs = header_.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    // Scrambled or not: the way the blocks read as a tree.
    std::vector<std::uint32_t> codes{header_.encryption};
    if (header_.encryption == 0 && tableCode_ != 0) codes.push_back(tableCode_);
    for (std::uint32_t code : codes) {
        const Walked w = Walk(header_, size, DiskReader(code));
        if (!w.problem.empty()) continue;
        SetCode(code);
        if (!Compare(w, data).empty()) break;
        Adopt(w, data);
        // Another layout's links are set right with the next change.
        for (std::uint16_t b : w.badLinks) linked_.insert(b);
        return;
    }
    rebuild_ = true;
    std::uint32_t code = header_.encryption;
    if (code == 0 && tableCode_ != 0 && size > hs) {
        // No tree either way: the blocks are closer to a rebuild one way or the other.
        const std::vector<std::uint8_t> clear = Build(data);
        std::vector<std::uint8_t> disk(bs), scrambled(bs);
        std::size_t same = 0, sameScrambled = 0;
        for (std::uint64_t at = hs, n = 0; at < size && at + bs <= clear.size(); at += bs, ++n) {
            const std::size_t got = paged_.File().ReadAt(at, disk.data(), bs);
            std::memcpy(scrambled.data(), clear.data() + at, bs);
            PxEncryptBlock(scrambled.data(), bs, tableCode_, static_cast<std::uint32_t>(n));
            for (std::size_t i = 0; i < got; ++i) {
                same += disk[i] == clear[at + i];
                sameScrambled += disk[i] == scrambled[i];
            }
        }
        if (sameScrambled > same) code = tableCode_;
    }
    SetCode(code);
}

void PxIndexFile::Open(const PxDataFile& data) noexcept
{
    if (loaded_) return;
    try {
        Load(data);
    } catch (const std::exception&) {
        // Read again (and refused) by the next Sync.
        loaded_ = false;
        rebuild_ = false;
    }
}

void PxIndexFile::Grow(std::size_t blocks)
{
    if (level_.size() >= blocks) return;
    level_.resize(blocks, 0);
    parent_.resize(blocks, 0);
    next_.resize(blocks, 0);
    prev_.resize(blocks, 0);
    total_.resize(blocks, 0);
}

void PxIndexFile::GrowData(std::size_t blocks)
{
    if (in_.size() >= blocks) return;
    in_.resize(blocks, 0);
    leaf_.resize(blocks, 0);
    before_.resize(blocks, 0);
    after_.resize(blocks, 0);
}

void PxIndexFile::Adopt(const Walked& w, const PxDataFile&)
{
    level_.clear();
    parent_.clear();
    next_.clear();
    prev_.clear();
    total_.clear();
    Grow(w.fileBlocks + 1);
    std::copy(w.level.begin(), w.level.end(), level_.begin());
    std::copy(w.parent.begin(), w.parent.end(), parent_.begin());
    std::copy(w.total.begin(), w.total.end(), total_.begin());
    for (std::size_t i = 0; i < w.order.size(); ++i) {
        const std::uint16_t b = w.order[i];
        next_[b] = i + 1 < w.order.size() ? w.order[i + 1] : 0;
        prev_[b] = i > 0 ? w.order[i - 1] : 0;
    }
    free_.clear();
    for (std::uint32_t b = 1; b <= w.fileBlocks; ++b)
        if (!level_[b]) free_.insert(static_cast<std::uint16_t>(b));
    fileBlocks_ = w.fileBlocks;
    usedBlocks_ = static_cast<std::uint32_t>(w.order.size());
    root_ = w.order.empty() ? 0 : w.order.front();
    head_ = root_;
    tail_ = w.order.empty() ? 0 : w.order.back();
    levels_ = w.order.empty() ? 0 : w.levels;
    entries_ = w.entries;
    touched_.clear();
    linked_.clear();

    in_.clear();
    leaf_.clear();
    before_.clear();
    after_.clear();
    std::size_t most = 0;
    for (const auto& e : w.level1) most = std::max<std::size_t>(most, e.child);
    GrowData(most + 1);
    first_ = w.level1.empty() ? 0 : w.level1.front().child;
    for (std::size_t i = 0; i < w.level1.size(); ++i) {
        const auto& e = w.level1[i];
        in_[e.child] = 1;
        leaf_[e.child] = e.leaf;
        before_[e.child] = i > 0 ? w.level1[i - 1].child : 0;
        after_[e.child] = i + 1 < w.level1.size() ? w.level1[i + 1].child : 0;
    }
    syncedClock_ = PxDataFile::JoinClock();
}

// ---- changing the tree ---------------------------------------------------------------

std::size_t PxIndexFile::CountIn(const std::uint8_t* page) const
{
    const auto last = static_cast<std::int16_t>(PxGetU16(page + 4));
    return last < 0 ? 0 : static_cast<std::size_t>(last) / entrySize_ + 1;
}

std::uint8_t* PxIndexFile::Entry(std::uint8_t* page, std::size_t i) const { return page + 6 + i * entrySize_; }
const std::uint8_t* PxIndexFile::Entry(const std::uint8_t* page, std::size_t i) const { return page + 6 + i * entrySize_; }

std::size_t PxIndexFile::SlotOf(std::uint16_t block, std::uint16_t child)
{
    const std::uint8_t* page = paged_.Read(block - 1u);
    const std::size_t n = CountIn(page);
    for (std::size_t j = 0; j < n; ++j)
        if (PxGetIndexWord(Entry(page, j) + keyLength_) == child) return j;
    return kNone;
}

void PxIndexFile::Map(std::uint16_t block, std::uint16_t child)
{
    if (level_[block] == 1) leaf_[child] = block;
    else parent_[child] = block;
}

void PxIndexFile::Adopted(std::uint16_t block)
{
    const std::uint8_t* page = paged_.Read(block - 1u);
    const std::size_t n = CountIn(page);
    for (std::size_t j = 0; j < n; ++j) Map(block, static_cast<std::uint16_t>(PxGetIndexWord(Entry(page, j) + keyLength_)));
}

std::uint16_t PxIndexFile::Allocate(int level)
{
    std::uint16_t b;
    if (!free_.empty()) {
        b = *free_.begin();
        free_.erase(free_.begin());
    } else {
        if (fileBlocks_ >= kMaxBlocks) throw EPxError(rtl::Format(SIndexFull, name_.c_str()));
        b = static_cast<std::uint16_t>(++fileBlocks_);
        Grow(fileBlocks_ + 1);
    }
    paged_.Fresh(b - 1u);
    level_[b] = static_cast<std::uint8_t>(level);
    parent_[b] = next_[b] = prev_[b] = 0;
    total_[b] = 0;
    ++usedBlocks_;
    linked_.insert(b);
    return b;
}

void PxIndexFile::Release(std::uint16_t block)
{
    level_[block] = 0;
    parent_[block] = 0;
    total_[block] = 0;
    free_.insert(block);
    paged_.Fresh(block - 1u);
    --usedBlocks_;
    linked_.erase(block);
}

void PxIndexFile::LinkAfter(std::uint16_t block, std::uint16_t after)
{
    const std::uint16_t n = next_[after];
    next_[after] = block;
    prev_[block] = after;
    next_[block] = n;
    if (n) prev_[n] = block;
    else tail_ = block;
    linked_.insert({after, block, n});
}

void PxIndexFile::LinkFirst(std::uint16_t block)
{
    const std::uint16_t n = head_;
    next_[block] = n;
    prev_[block] = 0;
    if (n) prev_[n] = block;
    else tail_ = block;
    head_ = block;
    linked_.insert({block, n});
}

void PxIndexFile::Unlink(std::uint16_t block)
{
    const std::uint16_t p = prev_[block], n = next_[block];
    if (p) next_[p] = n;
    else head_ = n;
    if (n) prev_[n] = p;
    else tail_ = p;
    next_[block] = prev_[block] = 0;
    linked_.insert({p, n});
}

void PxIndexFile::InsertEntry(std::uint16_t block, std::size_t slot, const std::uint8_t* entry)
{
    const int level = level_[block];
    std::uint8_t* page = paged_.Write(block - 1u);
    const std::size_t n = CountIn(page);
    const std::size_t es = entrySize_;
    const auto child = static_cast<std::uint16_t>(PxGetIndexWord(entry + keyLength_));
    ++entries_;
    Touch(block);
    if (n < cap_) {
        std::memmove(Entry(page, slot + 1), Entry(page, slot), (n - slot) * es);
        std::memcpy(Entry(page, slot), entry, es);
        PxPutU16(page + 4, static_cast<std::uint16_t>(n * es));
        Map(block, child);
        return;
    }
    // Split: a block appended at the end of its level keeps its records and
    // the new one starts a block; otherwise each half keeps half.
    std::vector<std::uint8_t> all((n + 1) * es);
    std::memcpy(all.data(), Entry(page, 0), slot * es);
    std::memcpy(all.data() + slot * es, entry, es);
    std::memcpy(all.data() + (slot + 1) * es, Entry(page, slot), (n - slot) * es);
    const bool atEnd = slot == n && (next_[block] == 0 || level_[next_[block]] != level);
    const std::size_t keep = atEnd ? n : (n + 1) / 2;
    const std::uint16_t right = Allocate(level);
    page = paged_.Write(block - 1u);
    std::uint8_t* other = paged_.Write(right - 1u);
    std::memset(page + 6, 0, paged_.PageSize() - 6);
    std::memcpy(page + 6, all.data(), keep * es);
    PxPutU16(page + 4, static_cast<std::uint16_t>((keep - 1) * es));
    std::memcpy(other + 6, all.data() + keep * es, (n + 1 - keep) * es);
    PxPutU16(other + 4, static_cast<std::uint16_t>((n - keep) * es));
    LinkAfter(right, block);
    Adopted(block);
    Adopted(right);
    Touch(right);
    std::vector<std::uint8_t> up(es, 0);
    std::memcpy(up.data(), other + 6, static_cast<std::size_t>(keyLength_));
    PxPutIndexWord(up.data() + keyLength_, right);
    PxPutIndexWord(up.data() + keyLength_ + 2, 0);
    PxPutIndexWord(up.data() + keyLength_ + 4, 0);
    const std::uint16_t parent = parent_[block];
    if (parent == 0) {
        // The root split: a new root above both halves.
        const std::uint16_t root = Allocate(level + 1);
        std::uint8_t* r = paged_.Write(root - 1u);
        std::memcpy(r + 6, paged_.Read(block - 1u) + 6, static_cast<std::size_t>(keyLength_));
        PxPutIndexWord(r + 6 + keyLength_, block);
        PxPutIndexWord(r + 6 + keyLength_ + 2, 0);
        PxPutIndexWord(r + 6 + keyLength_ + 4, 0);
        std::memcpy(r + 6 + es, up.data(), es);
        PxPutU16(r + 4, static_cast<std::uint16_t>(es));
        parent_[block] = parent_[right] = root;
        root_ = root;
        ++levels_;
        entries_ += 2;
        LinkFirst(root);
        Touch(root);
        return;
    }
    const std::size_t at = SlotOf(parent, block);
    RTL_ASSERT(at != kNone, "A block is named by its parent");
    parent_[right] = parent;
    InsertEntry(parent, at + 1, up.data());
}

void PxIndexFile::RemoveEntry(std::uint16_t block, std::size_t slot)
{
    const std::size_t n = CountIn(paged_.Read(block - 1u));
    --entries_;
    if (n > 1) {
        std::uint8_t* page = paged_.Write(block - 1u);
        std::memmove(Entry(page, slot), Entry(page, slot + 1), (n - slot - 1) * entrySize_);
        std::memset(Entry(page, n - 1), 0, entrySize_);
        PxPutU16(page + 4, static_cast<std::uint16_t>((n - 2) * entrySize_));
        Touch(block);
        return;
    }
    // The block is empty: it leaves the tree.
    const std::uint16_t parent = parent_[block];
    Unlink(block);
    Release(block);
    if (parent == 0) {
        root_ = 0;
        levels_ = 0;
        return;
    }
    const std::size_t at = SlotOf(parent, block);
    RTL_ASSERT(at != kNone, "A block is named by its parent");
    RemoveEntry(parent, at);
}

void PxIndexFile::FixUpper()
{
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    while (!touched_.empty()) {
        const auto [level, block] = *touched_.begin();
        touched_.erase(touched_.begin());
        if (level_[block] != level) continue; // released on the way
        const std::uint8_t* page = paged_.Read(block - 1u);
        const std::size_t n = CountIn(page);
        std::uint32_t total = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint8_t* e = Entry(page, j);
            total += level == 1 ? PxGetIndexWord(e + kl + 2) : total_[PxGetIndexWord(e + kl)];
        }
        const bool changed = total != total_[block];
        total_[block] = total;
        const std::uint16_t parent = parent_[block];
        if (parent == 0) continue;
        const std::size_t at = SlotOf(parent, block);
        RTL_ASSERT(at != kNone, "A block is named by its parent");
        const std::uint8_t* pe = Entry(paged_.Read(parent - 1u), at);
        const std::uint32_t count = std::min(total, kMaxCount);
        const bool keyDiffers = std::memcmp(pe, page + 6, kl) != 0;
        if (keyDiffers || PxGetIndexWord(pe + kl + 2) != count) {
            std::uint8_t* w = Entry(paged_.Write(parent - 1u), at);
            std::memcpy(w, paged_.Read(block - 1u) + 6, kl);
            PxPutIndexWord(w + kl + 2, count);
        }
        if (changed || keyDiffers) touched_.insert({level + 1, parent});
    }
}

void PxIndexFile::WriteLinks()
{
    for (std::uint16_t b : linked_) {
        if (b == 0 || b >= level_.size() || level_[b] == 0) continue;
        const std::uint8_t* page = paged_.Read(b - 1u);
        if (PxGetU16(page) == next_[b] && PxGetU16(page + 2) == prev_[b]) continue;
        std::uint8_t* w = paged_.Write(b - 1u);
        PxPutU16(w, next_[b]);
        PxPutU16(w + 2, prev_[b]);
    }
    linked_.clear();
}

void PxIndexFile::StoreHeader()
{
    PxHeader h = header_;
    h.numRecords = static_cast<std::int32_t>(entries_);
    h.usedBlocks = static_cast<std::uint16_t>(usedBlocks_);
    h.fileBlocks = static_cast<std::uint16_t>(fileBlocks_);
    h.firstBlock = head_;
    h.lastBlock = tail_;
    h.indexRoot = root_;
    h.indexLevels = static_cast<std::uint8_t>(levels_);
    PxStoreCounters(h);
    h.raw.resize(h.headerSize);
    header_ = h;
    if (paged_.Header() != h.raw) paged_.SetHeader(h.raw);
}

bool PxIndexFile::Incremental(const PxDataFile& data, const std::vector<std::uint16_t>* changedBlocks)
{
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    const auto& chain = data.Chain();
    GrowData(static_cast<std::size_t>(data.BlockCount()) + 1);
    // The count a level-1 entry holds for a data block.
    const auto entryCount = [&](std::uint16_t b) {
        return std::min(static_cast<std::uint32_t>(data.CountOf(b)), kMaxCount);
    };

    std::vector<std::uint16_t> blocks;
    if (changedBlocks) {
        for (std::uint16_t b : *changedBlocks)
            if (b != 0 && b < in_.size()) blocks.push_back(b);
        std::sort(blocks.begin(), blocks.end());
        blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    } else {
        for (std::size_t b = 1; b < in_.size(); ++b) blocks.push_back(static_cast<std::uint16_t>(b));
    }
    // Each block the index holds either stays where it is (and its entry is
    // updated) or goes; a block that left the chain and came back elsewhere
    // (freed and reused) goes and comes back at its new place.
    std::vector<std::uint16_t> removed, updated;
    std::vector<std::pair<std::size_t, std::uint16_t>> inserted; // (place in the chain, block)
    for (std::uint16_t b : blocks) {
        const std::size_t at = data.ChainIndexOf(b);
        const std::uint32_t n =
            at == PxDataFile::kNotInChain ? 0u : entryCount(b);
        const bool moved = in_[b] && data.JoinedAt(b) > syncedClock_;
        if (in_[b] && (n == 0 || moved)) removed.push_back(b);
        if (n != 0 && (!in_[b] || moved)) inserted.emplace_back(at, b);
        else if (in_[b] && n != 0) updated.push_back(b);
    }

    // The blocks whose neighbours in level 1 must be checked at the end.
    std::vector<std::uint16_t> check;
    for (std::uint16_t b : removed) {
        const std::size_t at = SlotOf(leaf_[b], b);
        if (at == kNone) return false;
        RemoveEntry(leaf_[b], at);
        in_[b] = 0;
        if (before_[b]) after_[before_[b]] = after_[b];
        else first_ = after_[b];
        if (after_[b]) before_[after_[b]] = before_[b];
        check.push_back(before_[b]);
        check.push_back(after_[b]);
        before_[b] = after_[b] = 0;
    }
    for (std::uint16_t b : updated) {
        // Its entry changes when its first key or its count did.
        const std::size_t at = SlotOf(leaf_[b], b);
        if (at == kNone) return false;
        check.push_back(b);
        const std::uint32_t count = entryCount(b);
        const std::uint8_t* was = Entry(paged_.Read(leaf_[b] - 1u), at);
        if (PxGetIndexWord(was + kl + 2) == count && std::memcmp(was, data.FirstKey(b), kl) == 0) continue;
        std::uint8_t* e = Entry(paged_.Write(leaf_[b] - 1u), at);
        std::memcpy(e, data.FirstKey(b), kl);
        PxPutIndexWord(e + kl + 2, count);
        Touch(leaf_[b]);
    }
    // In chain order, so that each one's predecessor is in level 1 already.
    std::sort(inserted.begin(), inserted.end());
    std::vector<std::uint8_t> entry(entrySize_, 0);
    for (const auto& [place, b] : inserted) {
        std::uint16_t pred = 0;
        for (std::size_t i = place; i-- > 0;) {
            const std::uint16_t c = chain[i];
            if (data.CountOf(c) == 0) continue;
            if (!in_[c]) return false; // a block the caller did not name
            pred = c;
            break;
        }
        std::memcpy(entry.data(), data.FirstKey(b), kl);
        PxPutIndexWord(entry.data() + kl, b);
        PxPutIndexWord(entry.data() + kl + 2, entryCount(b));
        PxPutIndexWord(entry.data() + kl + 4, 0);
        if (root_ == 0) {
            const std::uint16_t r = Allocate(1);
            std::memcpy(paged_.Write(r - 1u) + 6, entry.data(), entrySize_);
            root_ = r;
            levels_ = 1;
            ++entries_;
            LinkFirst(r);
            leaf_[b] = r;
            Touch(r);
        } else if (pred) {
            const std::size_t at = SlotOf(leaf_[pred], pred);
            if (at == kNone) return false;
            InsertEntry(leaf_[pred], at + 1, entry.data());
        } else {
            if (!first_ || !in_[first_]) return false;
            InsertEntry(leaf_[first_], 0, entry.data());
        }
        in_[b] = 1;
        before_[b] = pred;
        after_[b] = pred ? after_[pred] : first_;
        if (after_[b]) before_[after_[b]] = b;
        if (pred) after_[pred] = b;
        else first_ = b;
        check.push_back(b);
    }
    // A root of one child gives way to it.
    while (levels_ > 1) {
        const std::uint8_t* page = paged_.Read(root_ - 1u);
        if (CountIn(page) != 1) break;
        const auto child = static_cast<std::uint16_t>(PxGetIndexWord(Entry(page, 0) + kl));
        const std::uint16_t old = root_;
        Unlink(old);
        Release(old);
        --entries_;
        parent_[child] = 0;
        root_ = child;
        --levels_;
    }
    FixUpper();
    // Level 1 must now run as the chain does: all of it after a change of
    // every block, else around the blocks that changed.
    if (!changedBlocks) {
        std::uint16_t e = first_;
        for (std::uint16_t b : chain) {
            if (data.CountOf(b) == 0) continue;
            if (e != b) return false;
            e = after_[b];
        }
        if (e != 0) return false;
    } else {
        const auto holding = [&](std::size_t i, int step) -> std::uint16_t {
            for (i += static_cast<std::size_t>(step); i < chain.size(); i += static_cast<std::size_t>(step))
                if (data.CountOf(chain[i]) != 0) return chain[i];
            return 0;
        };
        if (first_ != holding(static_cast<std::size_t>(-1), 1)) return false;
        for (std::uint16_t b : check) {
            if (b == 0 || !in_[b]) continue;
            const std::size_t at = data.ChainIndexOf(b);
            if (at == PxDataFile::kNotInChain || before_[b] != holding(at, -1) || after_[b] != holding(at, 1))
                return false;
        }
    }
    WriteLinks();
    while (fileBlocks_ > 0 && free_.count(static_cast<std::uint16_t>(fileBlocks_))) {
        free_.erase(static_cast<std::uint16_t>(fileBlocks_));
        --fileBlocks_;
    }
    paged_.SetSize(header_.headerSize + static_cast<std::uint64_t>(fileBlocks_) * static_cast<std::uint64_t>(header_.BlockSize()));
    StoreHeader();
    syncedClock_ = PxDataFile::JoinClock();
    return true;
}

void PxIndexFile::Sync(const PxDataFile& data, const std::vector<std::uint16_t>* changedBlocks)
{
    Prepare(data);
    if (!loaded_) Load(data);
    if (rebuild_ || !Incremental(data, changedBlocks)) Rebuild(data);
}

// ---- checking ---------------------------------------------------------------------

std::string PxIndexFile::Verify(const PxDataFile& data)
{
    Prepare(data);
    if (!loaded_) Load(data);
    PxFile& file = paged_.File();
    const std::uint64_t size = file.Size();
    std::vector<std::uint8_t> head(header_.headerSize);
    if (file.ReadAt(0, head.data(), head.size()) != head.size()) return "the header is cut short";
    PxHeader h;
    try {
        h = PxParseHeader(head, name_);
    } catch (const EPxError&) {
        return "the header cannot be read";
    }
    if (h.recordSize != header_.recordSize || h.BlockSize() != header_.BlockSize() || h.headerSize != header_.headerSize ||
        h.fileType != header_.fileType)
        return "the header does not describe this index";
    const Walked w = Walk(h, size, DiskReader(code_));
    if (!w.problem.empty()) return w.problem;
    std::string c = Compare(w, data);
    if (!c.empty()) return c;
    if (!w.linkProblem.empty()) return w.linkProblem;
    const std::uint16_t head1 = w.order.empty() ? 0 : w.order.front();
    const std::uint16_t tail = w.order.empty() ? 0 : w.order.back();
    const auto counter = [](const char* what, std::uint32_t have, std::uint32_t want) {
        return have == want ? std::string() : std::string("the header counts ") + Num(have) + " " + what + ", not " + Num(want);
    };
    for (const std::string& s :
         {counter("index records", static_cast<std::uint32_t>(h.numRecords), w.entries),
          counter("used blocks", h.usedBlocks, static_cast<std::uint32_t>(w.order.size())),
          counter("blocks in the file", h.fileBlocks, w.fileBlocks), counter("as the first block", h.firstBlock, head1),
          counter("as the last block", h.lastBlock, tail)})
        if (!s.empty()) return s;
    if (size != h.headerSize + static_cast<std::uint64_t>(w.fileBlocks) * static_cast<std::uint64_t>(header_.BlockSize()))
        return "the file's size is not that of its blocks";
    return "";
}

} // namespace bde
