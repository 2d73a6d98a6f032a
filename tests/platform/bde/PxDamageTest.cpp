// Damaged and hostile table files: every count, length and offset the engine
// reads is checked before it is used, a bad one is the engine's own error
// naming the file, and a change never destroys what other records hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include <sys/resource.h>

#include "platform/bde/PxDatabase.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::TempFolder;

rtl::ByteArray Pattern(std::size_t n, int seed)
{
    rtl::ByteArray b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 17 + static_cast<std::size_t>(seed)) % 251);
    return b;
}

// Replaces the stored bytes of one record in a data file (found by its bytes).
void PatchRecord(const std::string& path, const std::vector<std::uint8_t>& was, const std::vector<std::uint8_t>& now)
{
    auto file = test::ReadFileBytes(path);
    const auto at = std::search(file.begin() + 0x800, file.end(), was.begin(), was.end());
    ASSERT_NE(at, file.end()) << "record not found in " << path;
    std::copy(now.begin(), now.end(), at);
    test::WriteFileBytes(path, file);
}

// The largest resident size the process has had, in bytes.
std::uint64_t PeakResident()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<std::uint64_t>(u.ru_maxrss) * 1024;
}

// BLOBS: ID (key), NOTE (memo, leader 10), DATA (binary, no leader).
struct BlobTable {
    TempFolder dir;
    std::vector<std::uint8_t> record; // stored bytes of record 1

    BlobTable(std::size_t note, std::size_t data)
    {
        PxDatabase db(dir.Path());
        PxTableSpec s;
        s.fields = {{"ID", PxFieldType::Long, 0}, {"NOTE", PxFieldType::Memo, 10}, {"DATA", PxFieldType::Blob, 0}};
        s.keyFieldCount = 1;
        auto t = db.CreateTable("BLOBS", s);
        const auto row = t->Insert({rtl::Variant(1), rtl::Variant(std::string(note, 'n')), rtl::Variant(Pattern(data, 1))});
        t->Insert({rtl::Variant(2), rtl::Variant(std::string(note, 'o')), rtl::Variant(Pattern(data, 2))});
        record = t->RawRecord(row);
    }
    // Offsets of the blob fields in a record.
    static constexpr std::size_t kNote = 4, kData = 4 + 20;
    std::string Db() const { return dir.File("BLOBS.DB"); }
    std::string Mb() const { return dir.File("BLOBS.MB"); }
};

// A blob length is checked against the block that holds the blob before a
// byte is allocated for it: a damaged length is the engine's error naming
// the blob file, not gigabytes of memory.
TEST(PxDamage, ABlobLengthIsCheckedBeforeItIsAllocated)
{
    const struct {
        const char* what;
        std::size_t field;
        int index;
    } cases[] = {
        {"a blob in a block of its own", BlobTable::kData, 2},
        {"a small blob in a slot", BlobTable::kNote + 10, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlobTable b(100, 5000);
        auto damaged = b.record;
        PxPutU32(damaged.data() + c.field + 4, 0x40000000u); // 1 GiB
        PatchRecord(b.Db(), b.record, damaged);
        PxDatabase db(b.dir.Path());
        auto t = db.OpenTable("BLOBS");
        const auto row = *t->Seek({rtl::Variant(1)});
        const std::uint64_t peak = PeakResident();
        try {
            t->Get(row, c.index);
            ADD_FAILURE() << "read";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find("BLOBS.MB"), std::string::npos) << e.what();
        }
        EXPECT_LT(PeakResident() - peak, 64u << 20) << "memory was allocated for the damaged length";
        EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(2)}), c.index).IsNull(), false) << "the other record reads";
    }
}

// A blob kept in the leader whose length claims more than the leader holds
// is damaged: reading it is an error, and a change of it replaces it without
// reading past the record.
TEST(PxDamage, AnInlineBlobLongerThanItsLeaderIsNeverReadPastTheRecord)
{
    BlobTable b(5, 5);
    auto damaged = b.record;
    const std::uint32_t claimed = 1u << 20;
    PxPutU32(damaged.data() + BlobTable::kNote + 10 + 4, claimed);
    PatchRecord(b.Db(), b.record, damaged);
    PxDatabase db(b.dir.Path());
    auto t = db.OpenTable("BLOBS");
    const auto row = *t->Seek({rtl::Variant(1)});
    EXPECT_THROW(t->Get(row, 1), EPxError);
    // The new value has the length the damaged field claims.
    const std::string value(claimed, 'v');
    t->Update(row, {{1, rtl::Variant(value)}});
    EXPECT_TRUE(t->Get(row, 1).AsString() == value);
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(2)}), 1).AsString(), "ooooo");
}

// The autoincrement counter at its largest value gives no more numbers.
TEST(PxDamage, AnExhaustedAutoincrementCounterRefusesTheInsert)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        PxTableSpec s;
        s.fields = {{"N", PxFieldType::AutoInc, 0}, {"V", PxFieldType::Long, 0}};
        db.CreateTable("AUTO", s)->Insert({rtl::Variant::Null(), rtl::Variant(1)});
    }
    auto file = test::ReadFileBytes(dir.File("AUTO.DB"));
    test::Put32(file, 0x49, 0x7FFFFFFFu);
    test::WriteFileBytes(dir.File("AUTO.DB"), file);
    const auto before = test::TakeSnapshot(dir.Path());
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("AUTO");
    try {
        t->Insert({rtl::Variant::Null(), rtl::Variant(2)});
        ADD_FAILURE() << "inserted";
    } catch (const EPxError& e) {
        EXPECT_NE(std::string(e.what()).find("exhausted"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"AUTO\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
    // A number given by the caller still goes in.
    t->Insert({rtl::Variant(5), rtl::Variant(3)});
    EXPECT_EQ(t->RecordCount(), 2);
}

// A header whose key count takes in a blob field (no engine keys on a blob:
// writing one moves its bytes) is damage: the table is refused, not changed.
TEST(PxDamage, AKeyThatTakesInABlobIsRefused)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        PxTableSpec s;
        s.fields = {{"ID", PxFieldType::Long, 0}, {"DATA", PxFieldType::Blob, 0}};
        s.keyFieldCount = 1;
        db.CreateTable("KEYED", s)->Insert({rtl::Variant(1), rtl::Variant(Pattern(500, 1))});
    }
    auto file = test::ReadFileBytes(dir.File("KEYED.DB"));
    test::Put16(file, 0x23, 2);
    test::WriteFileBytes(dir.File("KEYED.DB"), file);
    const auto before = test::TakeSnapshot(dir.Path());
    PxDatabase db(dir.Path());
    try {
        db.OpenTable("KEYED")->Update(1, {{1, rtl::Variant(Pattern(3, 2))}});
        ADD_FAILURE() << "changed";
    } catch (const EPxError& e) {
        EXPECT_STREQ(e.what(), "File \"KEYED.DB\" is damaged: its key takes in blob field \"DATA\"");
    }
    EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
}

// A slot entry of a block of small blobs claims chunks beyond its block or
// chunks of another blob: deleting its record frees nothing that others hold.
TEST(PxDamage, FreeingADamagedSlotNeverTouchesOtherBlobs)
{
    const struct {
        const char* what;
        std::function<void(std::uint8_t* slot)> spoil;
    } cases[] = {
        {"more chunks than the block holds", [](std::uint8_t* e) { e[1] = 0xF0; }},
        {"the chunks of the next slot", [](std::uint8_t* e) { e[1] = static_cast<std::uint8_t>(e[1] + 7); }},
        {"chunks inside the slot table", [](std::uint8_t* e) { e[0] = 0x13; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        {
            PxDatabase db(dir.Path());
            PxTableSpec s;
            s.fields = {{"ID", PxFieldType::Long, 0}, {"NOTE", PxFieldType::Memo, 1}};
            s.keyFieldCount = 1;
            auto t = db.CreateTable("SMALL", s);
            for (int i = 1; i <= 3; ++i) t->Insert({rtl::Variant(i), rtl::Variant(std::string(100, static_cast<char>('a' + i)))});
            // A block of its own after the small blobs' block.
            t->Insert({rtl::Variant(4), rtl::Variant(std::string(3000, 'z'))});
        }
        auto mb = test::ReadFileBytes(dir.File("SMALL.MB"));
        ASSERT_EQ(mb[0x1000], 3);
        // Record 1 took the last slot; record 2 the one below it.
        std::uint8_t* slot = mb.data() + 0x1000 + 12 + 5 * 63;
        ASSERT_NE(slot[0], 0);
        c.spoil(slot);
        test::WriteFileBytes(dir.File("SMALL.MB"), mb);
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("SMALL");
        t->Delete(*t->Seek({rtl::Variant(1)}));
        const auto memo = [&](int id) { return t->Get(*t->Seek({rtl::Variant(id)}), 1).AsString(); };
        for (int i = 2; i <= 3; ++i) EXPECT_TRUE(memo(i) == std::string(100, static_cast<char>('a' + i))) << i;
        EXPECT_TRUE(memo(4) == std::string(3000, 'z'));
        t->Insert({rtl::Variant(5), rtl::Variant(std::string(200, 'y'))});
        EXPECT_TRUE(memo(5) == std::string(200, 'y'));
        for (int i = 2; i <= 3; ++i) EXPECT_TRUE(memo(i) == std::string(100, static_cast<char>('a' + i))) << i;
    }
}

// Records point into a blob file that is missing or cut short: new blobs
// are never put where those records point, so such a record keeps failing
// instead of reading another record's bytes.
TEST(PxDamage, NewBlobsNeverGoWhereRecordsPoint)
{
    const struct {
        const char* what;
        std::function<void(const std::string& mb)> spoil;
    } cases[] = {
        {"blob file missing", [](const std::string& mb) { std::filesystem::remove(mb); }},
        {"blob file cut after its header", [](const std::string& mb) { std::filesystem::resize_file(mb, 4096); }},
        {"blob file cut after the first record's blobs", [](const std::string& mb) { std::filesystem::resize_file(mb, 4096 * 4); }},
        // The second record's blob block is there in part: a new blob past
        // the cut would make the missing bytes read as zeros.
        {"blob file cut inside the last record's blob", [](const std::string& mb) { std::filesystem::resize_file(mb, 4096 * 4 + 1000); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlobTable b(1000, 5000);
        c.spoil(b.Mb());
        PxDatabase db(b.dir.Path());
        auto t = db.OpenTable("BLOBS");
        // Each blob of records 1 and 2 reads as it was written, or fails.
        const auto check = [&](const char* when) {
            for (int id = 1; id <= 2; ++id) {
                const auto row = *t->Seek({rtl::Variant(id)});
                const std::string note(1000, id == 1 ? 'n' : 'o');
                try {
                    EXPECT_TRUE(t->Get(row, 1).AsString() == note) << when << ", memo of record " << id;
                } catch (const EPxError&) {
                }
                try {
                    EXPECT_TRUE(t->Get(row, 2).AsBytes() == Pattern(5000, id)) << when << ", blob of record " << id;
                } catch (const EPxError&) {
                }
            }
        };
        check("before");
        EXPECT_THROW(t->Get(*t->Seek({rtl::Variant(2)}), 2), EPxError) << "the second record's blob is gone";
        const auto before = test::TakeSnapshot(b.dir.Path());
        try {
            t->Insert({rtl::Variant(3), rtl::Variant(std::string(1000, 'x')), rtl::Variant(Pattern(5000, 3))});
        } catch (const EPxError&) {
            EXPECT_EQ(test::Differences(before, test::TakeSnapshot(b.dir.Path())), "") << "a refused insert changes nothing";
        }
        check("after an insert");
        // A blob that fits its leader needs no blob file.
        t->Insert({rtl::Variant(4), rtl::Variant("short"), rtl::Variant::Null()});
        EXPECT_EQ(t->Get(*t->Seek({rtl::Variant(4)}), 1).AsString(), "short");
        // Deleting a record that points at nothing goes through.
        const std::int64_t count = t->RecordCount();
        t->Delete(*t->Seek({rtl::Variant(2)}));
        EXPECT_EQ(t->RecordCount(), count - 1);
    }
}

// Files of the folder that no table engine would name, in no valid text,
// never stop a table of the folder from being listed, opened and changed.
TEST(PxDamage, FileNamesThatAreNotTextAreSkipped)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        PxTableSpec s;
        s.fields = {{"ID", PxFieldType::Long, 0}};
        s.keyFieldCount = 1;
        db.CreateTable("T", s)->Insert({rtl::Variant(1)});
    }
    // Windows-1251 names: "ТАБЛИЦА.DB", "Т.MB", "заметки.txt".
    test::WriteFileBytes(dir.File("\xd2\xc0\xc1\xcb\xc8\xd6\xc0.DB"), test::ReadFileBytes(dir.File("T.DB")));
    test::WriteFileBytes(dir.File("T\xd2.PX"), {1, 2, 3});
    test::WriteFileBytes(dir.File("\xe7\xe0\xec\xe5\xf2\xea\xe8.txt"), {1, 2, 3});
    PxDatabase db(dir.Path());
    EXPECT_EQ(db.TableNames(), std::vector<std::string>{"T"});
    EXPECT_TRUE(db.TableExists("T"));
    auto t = db.OpenTable("T");
    t->Insert({rtl::Variant(2)});
    EXPECT_EQ(t->RecordCount(), 2);
    db.RenameTable("T", "U");
    EXPECT_EQ(db.OpenTable("U")->RecordCount(), 2);
    db.DropTable("U");
    EXPECT_TRUE(db.TableNames().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 3)
        << "the other files stay";
}

} // namespace
} // namespace bde
