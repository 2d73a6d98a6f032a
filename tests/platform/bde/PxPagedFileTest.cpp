// What a table file's write-out touches: the journal's regions and the writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "platform/bde/PxCache.h"

namespace bde {
namespace {

// A file in memory that records its writes.
class RecordingFile final : public PxFile {
public:
    RecordingFile(std::vector<std::uint8_t>& bytes, std::vector<std::pair<std::uint64_t, std::size_t>>& writes)
        : bytes_(bytes), writes_(writes)
    {
    }
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override
    {
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(size, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }
    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) override
    {
        writes_.emplace_back(offset, size);
        if (bytes_.size() < offset + size) bytes_.resize(offset + size);
        std::memcpy(bytes_.data() + offset, buffer, size);
    }
    std::uint64_t Size() override { return bytes_.size(); }
    void Truncate(std::uint64_t size) override { bytes_.resize(size); }
    void Sync() override {}
    const std::string& Path() const override { return path_; }

private:
    std::vector<std::uint8_t>& bytes_;
    std::vector<std::pair<std::uint64_t, std::size_t>>& writes_;
    std::string path_ = "T.DB";
};

constexpr std::size_t kHeader = 16;
constexpr std::size_t kPage = 64;

struct Expected {
    std::uint64_t offset;
    std::uint64_t size;
    std::size_t imageSize; // bytes of the region the cache knows from the file
};

struct Case {
    const char* name;
    std::size_t fileSize; // header + pages on disk
    bool scrambled;
    std::function<void(PxPagedFile&)> change;
    std::vector<Expected> regions;
};

class PagedFileWriteOut : public ::testing::TestWithParam<Case> {};

TEST_P(PagedFileWriteOut, JournalsAndWritesOnlyWhatDiffersFromTheFile)
{
    const Case& c = GetParam();
    std::vector<std::uint8_t> disk(c.fileSize);
    std::iota(disk.begin(), disk.end(), std::uint8_t{1});
    const std::vector<std::uint8_t> before = disk;
    std::vector<std::pair<std::uint64_t, std::size_t>> writes;
    PxPageCache cache(1 << 20);
    PxPagedFile file(cache, "T.DB", std::make_unique<RecordingFile>(disk, writes), kHeader, kPage);
    if (c.scrambled)
        file.SetCodec([](std::uint8_t* bytes, std::size_t size, std::uint32_t, bool) {
            for (std::size_t i = 0; i < size; ++i) bytes[i] ^= 0x5A;
        });
    c.change(file);
    const std::size_t earlierWrites = writes.size();

    const auto regions = file.PendingRegions();
    ASSERT_EQ(regions.size(), c.regions.size());
    for (std::size_t i = 0; i < regions.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(regions[i].offset, c.regions[i].offset);
        EXPECT_EQ(regions[i].size, c.regions[i].size);
        EXPECT_EQ(regions[i].originalSize, c.regions[i].imageSize);
        if (regions[i].originalSize) {
            // The image is the file's bytes there.
            ASSERT_NE(regions[i].original, nullptr);
            EXPECT_EQ(0, std::memcmp(regions[i].original, before.data() + regions[i].offset, regions[i].originalSize));
        }
    }
    // What a later read sees, to compare with the file after the write-out.
    std::vector<std::uint8_t> wanted(file.Size(), 0);
    std::memcpy(wanted.data(), file.Header().data(), std::min(wanted.size(), file.Header().size()));
    for (std::uint32_t page = 0; kHeader + page * kPage < wanted.size(); ++page) {
        const std::size_t at = kHeader + page * kPage;
        std::vector<std::uint8_t> bytes(file.Read(page), file.Read(page) + kPage);
        if (c.scrambled)
            for (auto& b : bytes) b ^= 0x5A;
        std::memcpy(wanted.data() + at, bytes.data(), std::min(kPage, wanted.size() - at));
    }

    file.WriteOut();
    EXPECT_EQ(disk, wanted);
    // Every write lies inside a region the journal was given.
    for (std::size_t w = earlierWrites; w < writes.size(); ++w) {
        const auto [offset, size] = writes[w];
        bool inside = false;
        for (const auto& r : regions) inside = inside || (offset >= r.offset && offset + size <= r.offset + r.size);
        EXPECT_TRUE(inside) << "a write of " << size << " bytes at " << offset;
    }
    EXPECT_FALSE(file.Dirty());
}

void Poke(PxPagedFile& f, std::uint32_t page, std::size_t at, std::uint8_t value) { f.Write(page)[at] = value; }

INSTANTIATE_TEST_SUITE_P(
    Cases, PagedFileWriteOut,
    ::testing::Values(
        Case{"AFewBytes", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 for (std::size_t i = 10; i < 14; ++i) Poke(f, 1, i, 0);
             },
             {{kHeader + kPage + 10, 4, 4}}},
        Case{"TwoPlacesInAPageGoAsOneSpan", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 Poke(f, 0, 5, 0);
                 Poke(f, 0, 40, 0);
             },
             {{kHeader + 5, 36, 36}}},
        Case{"TheFirstAndTheLastByte", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 Poke(f, 0, 0, 0);
                 Poke(f, 0, kPage - 1, 0);
             },
             {{kHeader, kPage, kPage}}},
        Case{"OneByteAtAWordsEnd", kHeader + 2 * kPage, false, [](PxPagedFile& f) { Poke(f, 1, 23, 0); },
             {{kHeader + kPage + 23, 1, 1}}},
        Case{"BytesWrittenBackUnchangedAreNoChange", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 std::uint8_t* p = f.Write(0);
                 p[3] = p[3];
             },
             {}},
        Case{"APagePastTheOldEnd", kHeader + kPage + kPage / 2, false,
             [](PxPagedFile& f) {
                 f.SetSize(kHeader + 2 * kPage);
                 Poke(f, 1, 3, 0);
                 Poke(f, 1, 50, 9);
             },
             {{kHeader + kPage + 3, kPage - 3, kPage / 2 - 3}}},
        Case{"OnlyPastTheOldEnd", kHeader + kPage + kPage / 2, false,
             [](PxPagedFile& f) {
                 f.SetSize(kHeader + 2 * kPage);
                 Poke(f, 1, 50, 9);
             },
             {{kHeader + kPage + kPage / 2, kPage / 2, 0}}},
        Case{"AScrambledPageGoesWhole", kHeader + 2 * kPage, true, [](PxPagedFile& f) { Poke(f, 1, 10, 0); },
             {{kHeader + kPage, kPage, 0}}},
        Case{"AFreshPageNotReadGoesWhole", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) { f.Fresh(1)[10] = 7; }, {{kHeader + kPage, kPage, 0}}},
        Case{"AFreshPageReadBeforeGoesByItsBytes", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 (void)f.Read(1);
                 f.Fresh(1);
             },
             // Zeros over the numbers 81..144 of the fixture.
             {{kHeader + kPage, kPage, kPage}}},
        Case{"ChangedAgainAfterAWriteOut", kHeader + 2 * kPage, false,
             [](PxPagedFile& f) {
                 Poke(f, 0, 20, 0);
                 f.WriteOut();
                 Poke(f, 0, 30, 0);
             },
             // Only what differs from the file as the first write-out left it.
             {{kHeader + 30, 1, 1}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace bde
