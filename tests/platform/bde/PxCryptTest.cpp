// Password-protected tables: the code of a password and the scrambling of
// blocks against what pxlib writes, tables pxlib protected read and changed
// by the engine, and pxlib reading what the engine changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/bde/PxCrypt.h"
#include "platform/bde/PxDatabase.h"
#include "platform/rtl/Cp1251.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::Cell;
using test::PxlibField;
using test::PxlibWrite;
using test::TempFolder;
using Bytes = std::vector<std::uint8_t>;

// The 4-byte code pxlib stores at 0x5C of a table it protects with `password`.
std::uint32_t PxlibCode(const TempFolder& dir, const std::string& password)
{
    const std::string path = dir.File("CODE.DB");
    std::remove(path.c_str());
    PxlibWrite(path, {{"ID", pxfLong, 4}}, 0, {}, "", password);
    const Bytes b = test::ReadFileBytes(path);
    return b.size() < 0x60 ? 0 : PxGetU32(b.data() + 0x5C);
}

TEST(PxCrypt, PasswordCodesAreThoseOfTheIndependentWriter)
{
    // Codes read off tables pxlib protected, as the header's bytes.
    const struct {
        const char* password;
        Bytes code;
    } known[] = {
        {"secret", {0x9A, 0x44, 0x25, 0x6E}},
        {"secreu", {0x9A, 0x44, 0x49, 0xDA}},
        {"a", {0xAB, 0xEE, 0xFF, 0x35}},
        {"aa", {0xAB, 0xEE, 0xE4, 0x79}},
        {"abc", {0xD8, 0x97, 0x7A, 0x2F}},
        {"Secret", {0x38, 0xC4, 0x2E, 0xAF}},
    };
    for (const auto& k : known) {
        SCOPED_TRACE(k.password);
        EXPECT_EQ(PxPasswordCode(k.password), PxGetU32(k.code.data()));
    }

    // Every length up to the longest pxlib takes, any byte but zero.
    TempFolder dir;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyByte(1, 255);
    for (const std::size_t length : {1u, 2u, 3u, 4u, 5u, 7u, 15u, 16u, 31u, 64u, 100u, 200u, 254u, 255u, 256u}) {
        for (int round = 0; round < 3; ++round) {
            std::string password;
            for (std::size_t i = 0; i < length; ++i) password.push_back(static_cast<char>(anyByte(random)));
            SCOPED_TRACE(testing::Message() << "length " << length << " round " << round);
            EXPECT_EQ(PxPasswordCode(password), PxlibCode(dir, password));
        }
    }
    EXPECT_EQ(PxPasswordCode(""), 0u);
}

TEST(PxCrypt, BlocksScrambleAsTheIndependentWriterDoesAndUnscramble)
{
    // The first block of a table pxlib protected with "secret" holding one
    // record of zeros (a zero block in the clear).
    Bytes block(1024, 0);
    PxEncryptBlock(block.data(), block.size(), PxPasswordCode("secret"), 0);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 32),
              (Bytes{0x75, 0xAB, 0xF2, 0x24, 0xF6, 0x5A, 0x15, 0xCA, 0xBF, 0x45, 0x9D, 0x78, 0xA6, 0x7F, 0xBA, 0x16,
                     0x00, 0x97, 0x57, 0x78, 0x62, 0xE5, 0xC1, 0x73, 0x9F, 0x45, 0x30, 0x43, 0x4C, 0x5F, 0xBD, 0x2B}));

    std::mt19937 random(3);
    Bytes clear(4096);
    for (auto& b : clear) b = static_cast<std::uint8_t>(random());
    const std::uint32_t code = PxPasswordCode("key");
    Bytes a = clear, b = clear, c = clear;
    PxEncryptBlock(a.data(), a.size(), code, 5);
    PxEncryptBlock(b.data(), b.size(), code, 6);
    PxEncryptBlock(c.data(), c.size(), PxPasswordCode("other"), 5);
    EXPECT_NE(a, clear);
    EXPECT_NE(a, b) << "the block number counts";
    EXPECT_NE(a, c) << "the code counts";
    EXPECT_NE(Bytes(a.begin(), a.begin() + 256), Bytes(a.begin() + 256, a.begin() + 512)) << "so does the chunk";
    PxDecryptBlock(a.data(), a.size(), code, 5);
    EXPECT_EQ(a, clear);
}

// A keyed table pxlib wrote protected, with a memo and its primary index.
struct ProtectedFolder {
    TempFolder dir;
    ProtectedFolder()
    {
        std::vector<std::vector<Cell>> rows;
        for (int i = 1; i <= 300; ++i)
            rows.push_back({Cell::Text("K" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i)),
                            Cell::Long(i * 7), Cell::Double(i / 4.0),
                            i % 3 ? Cell::Text(std::string(static_cast<std::size_t>(i * 5), 'm')) : Cell::Null()});
        PxlibWrite(dir.File("SECRET.DB"), {{"CODE", pxfAlpha, 8}, {"N", pxfLong, 4}, {"X", pxfNumber, 8}, {"NOTE", pxfMemoBLOb, 10}},
                   1, rows, dir.File("SECRET.MB"), "letmein", dir.File("SECRET.PX"));
    }
    PxOpenOptions With(std::vector<std::string> passwords) const
    {
        PxOpenOptions o;
        o.passwords = std::move(passwords);
        return o;
    }
};

std::string Expected(const rtl::Variant& v) { return v.IsNull() ? "NULL" : v.AsString(); }

TEST(PxCryptTable, ReadsATablePxlibProtectedWithThePassword)
{
    ProtectedFolder f;
    PxDatabase db(f.dir.Path(), f.With({"wrong", "letmein"}));
    const auto t = db.OpenTable("SECRET");
    const auto rows = t->Rows();
    ASSERT_EQ(rows.size(), 300u);
    for (int i = 1; i <= 300; ++i) {
        const auto row = rows[static_cast<std::size_t>(i - 1)];
        EXPECT_EQ(t->Get(row, 1).AsInteger(), i * 7);
        EXPECT_DOUBLE_EQ(t->Get(row, 2).AsDouble(), i / 4.0);
        EXPECT_EQ(Expected(t->Get(row, 3)), i % 3 ? std::string(static_cast<std::size_t>(i * 5), 'm') : "NULL");
    }
    EXPECT_TRUE(t->Seek({rtl::Variant("K150")}).has_value());
    EXPECT_EQ(t->VerifyIndexes(), "");
}

TEST(PxCryptTable, WithoutTheRightPasswordNothingOpensAndNothingChanges)
{
    ProtectedFolder f;
    const test::Snapshot before = test::TakeSnapshot(f.dir.Path());
    const struct {
        std::vector<std::string> passwords;
        const char* message;
    } cases[] = {
        {{}, "Table \"SECRET\" is encrypted: it needs a password, and none was given"},
        {{"letmeout", "LETMEIN", "letmein "}, "Table \"SECRET\" is encrypted: none of the passwords given opens it"},
        {{"пароль"}, "Table \"SECRET\" is encrypted: none of the passwords given opens it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        PxDatabase db(f.dir.Path(), f.With(c.passwords));
        try {
            db.OpenTable("SECRET")->Rows();
            ADD_FAILURE() << "opened";
        } catch (const EPxEncrypted& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(test::Differences(before, test::TakeSnapshot(f.dir.Path())), "");
    }
}

// Whether `needle` occurs in `hay`.
bool Contains(const Bytes& hay, const std::string& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(PxCryptTable, ChangesStayProtectedAndPxlibReadsThem)
{
    ProtectedFolder f;
    const Bytes headerBefore = test::ReadFileBytes(f.dir.File("SECRET.DB"));
    {
        PxDatabase db(f.dir.Path(), f.With({"letmein"}));
        const auto t = db.OpenTable("SECRET");
        for (int i = 0; i < 40; ++i)
            t->Insert({rtl::Variant("NEW" + std::to_string(100 + i)), rtl::Variant(-i), rtl::Variant(0.5), rtl::Variant("plaintext-marker")});
        t->Update(*t->Seek({rtl::Variant("K010")}), {{1, rtl::Variant(1010)}});
        t->Update(*t->Seek({rtl::Variant("K020")}), {{0, rtl::Variant("A020")}}); // a new key: the record moves
        t->Delete(*t->Seek({rtl::Variant("K030")}));
        db.StartTransaction();
        t->Delete(*t->Seek({rtl::Variant("K040")}));
        db.Rollback();
        EXPECT_EQ(t->VerifyIndexes(), "");
    }
    const Bytes after = test::ReadFileBytes(f.dir.File("SECRET.DB"));
    EXPECT_TRUE(std::equal(headerBefore.begin() + 0x5C, headerBefore.begin() + 0x60, after.begin() + 0x5C)) << "the code stays";
    EXPECT_FALSE(Contains(after, "NEW1")) << "new records are scrambled";
    EXPECT_FALSE(Contains(test::ReadFileBytes(f.dir.File("SECRET.PX")), "NEW1")) << "so are their index entries";

    // pxlib reads the table with the code of its header (but no blob of a
    // protected table, not even of one it wrote itself).
    const test::PxlibTable px = test::PxlibRead(f.dir.File("SECRET.DB"));
    ASSERT_TRUE(px.opened);
    ASSERT_EQ(px.rows.size(), 300u + 40u - 1u);
    std::map<std::string, std::vector<std::string>> byKey;
    for (const auto& r : px.rows) byKey[r[0]] = r;
    EXPECT_EQ(byKey.count("K030"), 0u);
    EXPECT_EQ(byKey.count("K020"), 0u);
    EXPECT_EQ(byKey.at("A020")[1], "140");
    EXPECT_EQ(byKey.at("K010")[1], "1010");
    EXPECT_EQ(byKey.at("K040")[1], "280");
    EXPECT_EQ(byKey.at("NEW139")[1], "-39");

    // And the engine reads it again as it left it, blobs too.
    PxDatabase db(f.dir.Path(), f.With({"letmein"}));
    const auto t = db.OpenTable("SECRET");
    EXPECT_EQ(t->RecordCount(), 339);
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant("NEW139")}), 3).AsString(), "plaintext-marker");
    EXPECT_EQ(t->Get(*t->Seek({rtl::Variant("K299")}), 3).AsString(), std::string(299 * 5, 'm'));
    EXPECT_EQ(t->VerifyIndexes(), "");
}

// Protection data between the field names and the field numbers (a byte per
// field) is stepped over; without it the numbers follow the names.
TEST(PxCryptTable, HeadersWithAndWithoutProtectionDataBeforeTheFieldNumbers)
{
    ProtectedFolder f;
    const Bytes raw = test::ReadFileBytes(f.dir.File("SECRET.DB"));
    const PxHeader plain = PxParseHeader(Bytes(raw.begin(), raw.begin() + 0x800), "SECRET.DB");
    ASSERT_EQ(plain.fieldNumbers, (std::vector<std::uint16_t>{1, 2, 3, 4}));
    ASSERT_FALSE(plain.sortOrderId.empty());
    // Where the numbers begin: the bytes 01 00 02 00 03 00 04 00 after the names.
    const Bytes numbers = {1, 0, 2, 0, 3, 0, 4, 0};
    const auto at = std::search(raw.begin() + 0x78, raw.begin() + 0x800, numbers.begin(), numbers.end());
    ASSERT_NE(at, raw.begin() + 0x800);
    Bytes withData(raw.begin(), at);
    withData.insert(withData.end(), {0x11, 0x22, 0x33, 0x44});
    withData.insert(withData.end(), at, raw.begin() + 0x800 - 4);
    const PxHeader h = PxParseHeader(withData, "SECRET.DB");
    EXPECT_EQ(h.fieldNumbers, plain.fieldNumbers);
    EXPECT_EQ(h.sortOrderId, plain.sortOrderId);
    EXPECT_EQ(h.encryption, PxPasswordCode("letmein"));
}

// A change to a protected table killed at any write: the next open with the
// password rolls back to the table as it was, byte for byte.
TEST(PxCryptTable, AChangeKilledAtAnyWriteIsRolledBack)
{
    ProtectedFolder f;
    const test::Snapshot before = test::TakeSnapshot(f.dir.Path());
    const auto change = [&](PxDatabase& db) {
        const auto t = db.OpenTable("SECRET");
        db.StartTransaction();
        for (int i = 0; i < 30; ++i) t->Insert({rtl::Variant("K100x" + std::to_string(i)), rtl::Variant(i), rtl::Variant(), rtl::Variant(std::string(3000, 'z'))});
        t->Update(*t->Seek({rtl::Variant("K005")}), {{0, rtl::Variant("Z005")}});
        t->Delete(*t->Seek({rtl::Variant("K006")}));
        db.Commit();
    };
    long writes = 0;
    {
        test::FaultyFileSystem fs;
        PxOpenOptions o = f.With({"letmein"});
        o.fileSystem = &fs;
        PxDatabase db(f.dir.Path(), o);
        fs.Reset(0, false, false);
        change(db);
        writes = fs.count;
    }
    const test::Snapshot after = test::TakeSnapshot(f.dir.Path());
    ASSERT_GT(writes, 5);
    for (long n = 1; n <= writes; ++n) {
        SCOPED_TRACE("killed at write " + std::to_string(n));
        test::RestoreSnapshot(f.dir.Path(), before);
        bool failed = false;
        {
            test::FaultyFileSystem fs;
            PxOpenOptions o = f.With({"letmein"});
            o.fileSystem = &fs;
            PxDatabase db(f.dir.Path(), o);
            fs.Reset(n, true, n % 2 == 0);
            try {
                change(db);
            } catch (const EPxError&) {
                failed = true;
            }
        }
        { PxDatabase reopened(f.dir.Path(), f.With({"letmein"})); }
        ASSERT_EQ(test::Differences(failed ? before : after, test::TakeSnapshot(f.dir.Path())), "");
    }
    PxDatabase db(f.dir.Path(), f.With({"letmein"}));
    EXPECT_EQ(db.OpenTable("SECRET")->VerifyIndexes(), "");
}

} // namespace
} // namespace bde
