// Layout of .PX/.Y index files built from a data file's chain.
#include "platform/bde/PxIndex.h"

#include <algorithm>
#include <cstring>

#include "platform/bde/PxCrypt.h"
#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SIndexMismatch = "Index file \"%s\" does not match its data file: %s";
constexpr std::uint32_t kMaxCount = 0x7FFF;

struct Entry {
    const std::uint8_t* key;
    std::uint32_t child;
    std::uint32_t count;
};

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

PxIndexFile::PxIndexFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header)
    : name_(std::move(name)), file_(std::move(file)), header_(std::move(header))
{
    // No index holds more than the header and 65535 blocks: a longer file is
    // read no further (it is cut to its size with the next change).
    diskSize_ = file_->Size();
    const std::uint64_t most = header_.headerSize + 65535ull * static_cast<std::uint64_t>(header_.BlockSize());
    disk_.resize(static_cast<std::size_t>(std::min(diskSize_, most)));
    disk_.resize(file_->ReadAt(0, disk_.data(), disk_.size()));
    wanted_ = disk_;
}

PxIndexFile::PxIndexFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, bool)
    : name_(std::move(name)), file_(std::move(file)), header_(std::move(header))
{
}

std::vector<std::uint8_t> PxIndexFile::Build(const PxDataFile& data) const
{
    const int keyLength = data.KeyLength();
    const int entrySize = keyLength + 6;
    if (entrySize != header_.recordSize)
        throw EPxError(rtl::Format(SIndexMismatch, name_.c_str(), "the key sizes differ"));
    const std::size_t blockSize = static_cast<std::size_t>(header_.BlockSize());
    const std::size_t cap = (blockSize - 6) / static_cast<std::size_t>(entrySize);
    if (cap < 2) throw EPxError(rtl::Format(SIndexMismatch, name_.c_str(), "the key is too long for the blocks"));

    // Level 1: one record per data block.
    std::vector<std::vector<Entry>> levels(1);
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
        std::vector<Entry> parent;
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
                const Entry& e = cur[i + j];
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
    wanted_ = Image(data);
    rebuilt_ = true;
}

std::vector<std::uint8_t> PxIndexFile::Image(const PxDataFile& data)
{
    std::vector<std::uint8_t> clear = Build(data);
    const std::size_t hs = header_.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    const auto scrambled = [&](std::uint32_t code) {
        std::vector<std::uint8_t> out = clear;
        for (std::size_t at = hs, n = 0; at + bs <= out.size(); at += bs, ++n)
            PxEncryptBlock(out.data() + at, bs, code, static_cast<std::uint32_t>(n));
        return out;
    };
    if (!codeKnown_) {
        code_ = header_.encryption;
        if (code_ == 0 && tableCode_ != 0 && disk_.size() > hs) {
            // The blocks on disk tell whether they were scrambled: the index
            // matches a rebuild of the same data, closer one way or the other.
            const std::vector<std::uint8_t> other = scrambled(tableCode_);
            std::size_t same = 0, sameScrambled = 0;
            for (std::size_t i = hs; i < disk_.size() && i < clear.size(); ++i) {
                same += disk_[i] == clear[i];
                sameScrambled += disk_[i] == other[i];
            }
            if (sameScrambled > same) code_ = tableCode_;
        }
        codeKnown_ = true;
    }
    return code_ != 0 ? scrambled(code_) : clear;
}

PxFileChanges PxIndexFile::CollectWrites() const
{
    PxFileChanges ch;
    const std::size_t hs = header_.headerSize;
    const std::size_t bs = static_cast<std::size_t>(header_.BlockSize());
    const auto differs = [&](std::size_t from, std::size_t size) {
        if (from + size > disk_.size()) return true;
        return std::memcmp(wanted_.data() + from, disk_.data() + from, size) != 0;
    };
    if (disk_.size() < hs) {
        ch.writes.push_back({0, std::vector<std::uint8_t>(wanted_.begin(), wanted_.begin() + static_cast<std::ptrdiff_t>(hs))});
    } else if (differs(0, hs)) {
        // Only the counters change.
        ch.writes.push_back(PxChangedRange(disk_.data(), wanted_.data(), hs));
    }
    for (std::size_t at = hs; at < wanted_.size(); at += bs) {
        if (differs(at, bs))
            ch.writes.push_back({at, std::vector<std::uint8_t>(wanted_.begin() + static_cast<std::ptrdiff_t>(at),
                                                               wanted_.begin() + static_cast<std::ptrdiff_t>(at + bs))});
    }
    ch.newSize = wanted_.size();
    ch.resize = wanted_.size() != diskSize_;
    return ch;
}

} // namespace bde
