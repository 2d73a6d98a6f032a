// Blob fields and the .MB file: their bytes, and reuse of freed space.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bde/PxBlob.h"
#include "platform/bde/PxDatabase.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::TempFolder;

rtl::RefPtr<PxTable> MakeBlobTable(PxDatabase& db, int leader = 10)
{
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"NOTE", PxFieldType::Memo, leader}, {"DATA", PxFieldType::Blob, 0}};
    s.keyFieldCount = 1;
    return db.CreateTable("BLOBS", s);
}

rtl::ByteArray Pattern(std::size_t n, int seed)
{
    rtl::ByteArray b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + static_cast<std::size_t>(seed)) % 251);
    return b;
}

TEST(PxBlob, FieldAndBlockBytesAsTheFormatDescribes)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeBlobTable(db);
    const auto row = t->Insert({rtl::Variant(1), rtl::Variant("fits"), rtl::Variant(Pattern(5000, 1))});
    const auto row2 = t->Insert({rtl::Variant(2), rtl::Variant(std::string(100, 'a')), rtl::Variant::Null()});
    const auto rec = t->RawRecord(row);
    // NOTE: a 10-byte leader holding the whole memo, place 0, length 4.
    const std::uint8_t* note = rec.data() + 4;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note), 4), "fits");
    EXPECT_EQ(PxGetU32(note + 10), 0u);
    EXPECT_EQ(PxGetU32(note + 14), 4u);
    // DATA: no leader; a block of its own (slot byte 0xFF) at a 4 KiB boundary.
    const std::uint8_t* data = rec.data() + 4 + 20;
    const std::uint32_t place = PxGetU32(data);
    EXPECT_EQ(place & 0xFF, 0xFFu);
    EXPECT_EQ((place & ~0xFFu) % 4096, 0u);
    EXPECT_EQ(PxGetU32(data + 4), 5000u);
    const auto mb = test::ReadFileBytes(dir.File("BLOBS.MB"));
    ASSERT_EQ(mb.size() % 4096, 0u);
    const std::uint8_t* block = mb.data() + (place & ~0xFFu);
    EXPECT_EQ(block[0], 2) << "a block with one blob";
    EXPECT_EQ(PxGetU16(block + 1), 2) << "two units of 4 KiB for 5000 bytes and the head";
    EXPECT_EQ(PxGetU32(block + 3), 5000u);
    EXPECT_EQ(PxGetU16(block + 7), PxGetU16(data + 8)) << "the modification number in both places";
    EXPECT_EQ(rtl::ByteArray(block + 9, block + 9 + 5000), Pattern(5000, 1));
    // The 100-byte memo of the second record: a slot of a block of small blobs.
    const auto rec2 = t->RawRecord(row2);
    const std::uint32_t p2 = PxGetU32(rec2.data() + 4 + 10);
    const std::uint8_t* sub = mb.data() + (p2 & ~0xFFu);
    EXPECT_EQ(sub[0], 3) << "a block of small blobs";
    EXPECT_EQ(p2 & 0xFF, 0x3Fu) << "slots are used from the last one down";
    const std::uint8_t* slot = sub + 12 + 5 * 0x3F;
    EXPECT_EQ(slot[0], 0x15) << "the first chunk after the slot table, 0x150 / 16";
    EXPECT_EQ(slot[1], 7) << "chunks of 16 bytes";
    EXPECT_EQ(slot[4], 100 - 6 * 16) << "bytes in the last chunk";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sub + 0x150), 100), std::string(100, 'a'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec2.data() + 4), 10), std::string(10, 'a')) << "the leader copies the start";
    // pxlib reads both.
    const auto px = test::PxlibRead(dir.File("BLOBS.DB"), dir.File("BLOBS.MB"));
    ASSERT_EQ(px.rows.size(), 2u);
    EXPECT_EQ(px.rows[0][1], "fits");
    EXPECT_EQ(px.blobs[0][2], Pattern(5000, 1));
    EXPECT_EQ(px.rows[1][1], std::string(100, 'a'));
}

TEST(PxBlob, RewritingBlobsKeepsTheFileBounded)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeBlobTable(db);
    std::vector<PxTable::RowId> rows;
    for (int i = 0; i < 5; ++i) rows.push_back(t->Insert({rtl::Variant(i), rtl::Variant::Null(), rtl::Variant::Null()}));
    const std::size_t sizes[] = {20, 700, 2100, 9000, 70000, 1, 4000};
    std::uintmax_t largest = 0;
    for (int run = 0; run < 60; ++run) {
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::size_t n = sizes[(static_cast<std::size_t>(run) + r) % std::size(sizes)];
            t->Update(rows[r], {{2, rtl::Variant(Pattern(n, run))}, {1, rtl::Variant(std::string(n % 3000, 'z'))}});
        }
        largest = std::max(largest, std::filesystem::file_size(dir.File("BLOBS.MB")));
    }
    // Five records of at most 70 KiB and 3 KiB: freed space is used again.
    EXPECT_LE(largest, 4096u * 150) << "the blob file grew without bound";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::size_t n = sizes[(59 + r) % std::size(sizes)];
        EXPECT_EQ(t->Get(rows[r], 2).AsBytes(), Pattern(n, 59));
        const rtl::Variant note = t->Get(rows[r], 1);
        if (n % 3000 == 0) EXPECT_TRUE(note.IsNull());
        else EXPECT_EQ(note.AsString(), std::string(n % 3000, 'z'));
    }
    const auto px = test::PxlibRead(dir.File("BLOBS.DB"), dir.File("BLOBS.MB"));
    ASSERT_EQ(px.rows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        EXPECT_EQ(px.blobs[r][2], Pattern(sizes[(59 + r) % std::size(sizes)], 59));
}

TEST(PxBlob, DeletingEveryRecordGivesTheSpaceBack)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeBlobTable(db);
    for (int i = 0; i < 200; ++i)
        t->Insert({rtl::Variant(i), rtl::Variant(std::string(static_cast<std::size_t>(50 + i), 'm')),
                   rtl::Variant(Pattern(static_cast<std::size_t>(i * 40), i))});
    EXPECT_GT(std::filesystem::file_size(dir.File("BLOBS.MB")), 4096u * 10);
    for (auto r : t->Rows()) t->Delete(r);
    EXPECT_EQ(std::filesystem::file_size(dir.File("BLOBS.MB")), 4096u) << "only the header is left";
    EXPECT_EQ(std::filesystem::file_size(dir.File("BLOBS.DB")), 0x800u) << "only the header is left";
    EXPECT_EQ(t->VerifyIndexes(), "");
}

TEST(PxBlob, ReadsAndFreesBlobsOfAnotherEnginesFile)
{
    // A blob file laid out by hand: a free block between two blobs, and the
    // last block cut short as pxlib writes it.
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        auto t = MakeBlobTable(db, 1);
        t->Insert({rtl::Variant(1), rtl::Variant::Null(), rtl::Variant(Pattern(6000, 3))});
        t->Insert({rtl::Variant(2), rtl::Variant::Null(), rtl::Variant(Pattern(6000, 4))});
        t->Delete(*t->Seek({rtl::Variant(1)}));
        t->Insert({rtl::Variant(3), rtl::Variant::Null(), rtl::Variant(Pattern(3000, 5))});
    }
    auto mb = test::ReadFileBytes(dir.File("BLOBS.MB"));
    const std::size_t cut = mb.size() - 1000;
    mb.resize(cut);
    test::WriteFileBytes(dir.File("BLOBS.MB"), mb);
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("BLOBS");
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(3)}), 2).AsBytes(), Pattern(3000, 5));
    t->Update(*t->Seek({rtl::Variant(2)}), {{2, rtl::Variant(Pattern(10, 6))}});
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(2)}), 2).AsBytes(), Pattern(10, 6));
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(3)}), 2).AsBytes(), Pattern(3000, 5));
}

} // namespace
} // namespace bde
