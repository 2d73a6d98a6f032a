// Primary and secondary index files: their bytes, lookups through them, and
// index files the engine cannot keep.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxIndex.h"
#include "tests/platform/bde/PxTestSupport.h"

// pxlib keeps the index it reads after PX_close; that is pxlib's, not ours.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions()
{
    return "leak:PX_read_primary_index\n";
}

namespace bde {
namespace {

using test::TempFolder;

rtl::RefPtr<PxTable> MakeLinks(PxDatabase& db)
{
    PxTableSpec s;
    s.fields = {{"OBJECT1ID", PxFieldType::Alpha, 12}, {"OBJECT2ID", PxFieldType::Alpha, 12},
                {"PAD", PxFieldType::Alpha, 200}};
    s.keyFieldCount = 2;
    s.secondaryIndexes = {{"", {"OBJECT2ID"}}, {"Ind0", {"PAD", "OBJECT1ID"}}};
    return db.CreateTable("VELMO_LINKS", s);
}

std::string Id(int group, int number)
{
    return rtl::IntToHex(static_cast<std::uint32_t>(group), 4) + rtl::IntToHex(static_cast<std::uint32_t>(number), 8);
}

TEST(PxIndex, PrimaryIndexBytesAsTheFormatDescribes)
{
    // Two data blocks of 1 KiB: the .PX holds one block with one record per
    // data block: the first key, the data block number, its record count and
    // a zero, each number big-endian with the top bit flipped.
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"PAD", PxFieldType::Alpha, 250}};
    s.keyFieldCount = 1;
    PxCreateOptions o;
    o.blockSize = 1024;
    auto t = db.CreateTable("SMALL", s, o);
    for (int i = 1; i <= 5; ++i) t->Insert({rtl::Variant(i * 10), rtl::Variant("p")}); // 4 records fit a block
    const auto px = test::ReadFileBytes(dir.File("SMALL.PX"));
    ASSERT_EQ(px.size(), 0x800u + 1024u);
    EXPECT_EQ(PxGetU16(px.data() + 0x00), 4 + 6) << "record: key plus three words";
    EXPECT_EQ(px[0x04], 1) << "file type .PX";
    EXPECT_EQ(PxGetU32(px.data() + 0x06), 2u) << "index records";
    EXPECT_EQ(PxGetU16(px.data() + 0x1E), 1) << "root block";
    EXPECT_EQ(px[0x20], 1) << "levels";
    const std::uint8_t* b = px.data() + 0x800;
    EXPECT_EQ(PxGetU16(b + 0), 0) << "next block";
    EXPECT_EQ(PxGetU16(b + 2), 0) << "previous block";
    EXPECT_EQ(PxGetU16(b + 4), 10) << "offset of the last record";
    const std::uint8_t want[] = {0x80, 0, 0, 10, 0x80, 1, 0x80, 4, 0x80, 0,
                                 0x80, 0, 0, 50, 0x80, 2, 0x80, 1, 0x80, 0};
    EXPECT_EQ(std::memcmp(b + 6, want, sizeof want), 0);
    EXPECT_TRUE(test::PxlibReadsIndex(dir.File("SMALL.PX")));
}

TEST(PxIndex, IndexesOfSeveralLevels)
{
    // Long keys in 1 KiB blocks: four index records fit a block, so the index
    // grows several levels; every level must lead to the right data block.
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"K", PxFieldType::Alpha, 160}, {"N", PxFieldType::Long, 0}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"N"}}};
    PxCreateOptions o;
    o.blockSize = 1024;
    auto t = db.CreateTable("DEEP", s, o);
    for (int i = 0; i < 400; ++i) t->Insert({rtl::Variant("key" + rtl::IntToHex(static_cast<std::uint32_t>(i * 7919 % 400), 4)), rtl::Variant(i)});
    for (int i = 0; i < 400; i += 3) t->Delete(*t->Seek({rtl::Variant("key" + rtl::IntToHex(static_cast<std::uint32_t>(i), 4))}));
    EXPECT_EQ(t->VerifyIndexes(), "");
    const auto px = test::ReadFileBytes(dir.File("DEEP.PX"));
    EXPECT_GE(px[0x20], 3) << "index levels";
    // Walk the index from its root as a reader of the format would.
    const int entry = 160 + 6;
    const std::size_t bs = 1024;
    for (int i = 1; i < 400; i += 3) {
        const std::string key = "key" + rtl::IntToHex(static_cast<std::uint32_t>(i), 4);
        std::vector<std::uint8_t> k(160, 0);
        std::copy(key.begin(), key.end(), k.begin());
        std::uint32_t block = PxGetU16(px.data() + 0x1E);
        for (int level = px[0x20]; level >= 1; --level) {
            const std::uint8_t* b = px.data() + 0x800 + (block - 1) * bs;
            const int n = static_cast<std::int16_t>(PxGetU16(b + 4)) / entry + 1;
            int pick = 0;
            for (int j = 0; j < n; ++j)
                if (std::memcmp(b + 6 + j * entry, k.data(), 160) <= 0) pick = j;
            block = PxGetIndexWord(b + 6 + pick * entry + 160);
        }
        const auto row = t->Seek({rtl::Variant(key)});
        ASSERT_TRUE(row.has_value()) << key;
        // The data block the index leads to holds the key.
        const auto dbFile = test::ReadFileBytes(dir.File("DEEP.DB"));
        const std::uint8_t* d = dbFile.data() + 0x800 + (block - 1) * bs;
        const int n = static_cast<std::int16_t>(PxGetU16(d + 4)) / 164 + 1;
        bool found = false;
        for (int j = 0; j < n; ++j) found = found || std::memcmp(d + 6 + j * 164, k.data(), 160) == 0;
        EXPECT_TRUE(found) << key;
    }
    EXPECT_EQ(test::PxlibRead(dir.File("DEEP.DB")).rows.size(), static_cast<std::size_t>(t->RecordCount()));
}

TEST(PxIndex, SecondaryIndexFilesAndTheirNames)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeLinks(db);
    for (const char* f : {"VELMO_LINKS.DB", "VELMO_LINKS.PX", "VELMO_LINKS.X02", "VELMO_LINKS.Y02",
                          "VELMO_LINKS.XG0", "VELMO_LINKS.YG0"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(f))) << f;
    const auto idx = t->Indexes();
    ASSERT_EQ(idx.size(), 3u);
    EXPECT_TRUE(idx[0].primary);
    EXPECT_EQ(idx[0].fields, (std::vector<std::string>{"OBJECT1ID", "OBJECT2ID"}));
    EXPECT_EQ(idx[1].name, "OBJECT2ID") << "a single-field index is named after its field";
    EXPECT_EQ(idx[1].fields, std::vector<std::string>{"OBJECT2ID"});
    EXPECT_EQ(idx[2].name, "Ind0");
    EXPECT_EQ(idx[2].fields, (std::vector<std::string>{"PAD", "OBJECT1ID"}));
    // The .X file is a keyed data file: the index fields, the key, a hint.
    const PxHeader x = PxParseHeader(test::ReadFileBytes(dir.File("VELMO_LINKS.X02")), "X02");
    EXPECT_EQ(x.fileType, 5);
    EXPECT_EQ(x.numFields, 4);
    EXPECT_EQ(x.keyFields, 3);
    EXPECT_EQ(x.fields.back().name, "Hint");
    EXPECT_EQ(x.indexFieldNumber, 2);
    EXPECT_EQ(x.fieldNumbers, (std::vector<std::uint16_t>{2, 1, 2, 0}));
    // Reopened from disk, the indexes read the same.
    PxDatabase again(dir.Path());
    const auto idx2 = again.OpenTable("VELMO_LINKS")->Indexes();
    ASSERT_EQ(idx2.size(), 3u);
    EXPECT_EQ(idx2[1].name, "OBJECT2ID");
    EXPECT_EQ(idx2[2].name, "Ind0");
    EXPECT_EQ(idx2[2].fields, idx[2].fields);
    EXPECT_TRUE(again.OpenTable("VELMO_LINKS")->IndexProblems().empty());
}

TEST(PxIndex, LookupsThroughEveryIndex)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeLinks(db);
    std::set<std::pair<int, int>> keys;
    for (int a = 1; a <= 30; ++a)
        for (int b = 1; b <= 4; ++b) {
            if (!keys.insert({a, (a * b) % 17}).second) continue;
            t->Insert({rtl::Variant(Id(1, a)), rtl::Variant(Id(2, (a * b) % 17)), rtl::Variant(b % 2 ? "odd" : "even")});
        }
    ASSERT_EQ(t->VerifyIndexes(), "");
    const auto values = [&](const std::vector<PxTable::RowId>& rows, int field) {
        std::vector<std::string> out;
        for (auto r : rows) out.push_back(t->Get(r, field).AsString());
        return out;
    };
    EXPECT_EQ(t->FindByIndex(0, {rtl::Variant(Id(1, 7))}).size(), 4u) << "prefix of the key";
    EXPECT_EQ(t->FindByIndex(0, {rtl::Variant(Id(1, 17))}).size(), 1u);
    EXPECT_EQ(t->FindByIndex(0, {rtl::Variant(Id(1, 7)), rtl::Variant(Id(2, 14))}).size(), 1u);
    const auto byObject2 = t->FindByIndex(1, {rtl::Variant(Id(2, 3))});
    for (const auto& v : values(byObject2, 1)) EXPECT_EQ(v, Id(2, 3));
    std::size_t expected = 0;
    for (const auto& k : keys) expected += k.second == 3;
    EXPECT_EQ(byObject2.size(), expected);
    const auto odd = t->FindByIndex(2, {rtl::Variant("odd")});
    EXPECT_GT(odd.size(), 40u);
    EXPECT_LT(odd.size(), static_cast<std::size_t>(t->RecordCount()));
    for (const auto& v : values(odd, 2)) EXPECT_EQ(v, "odd");
    const auto firsts = values(odd, 0);
    EXPECT_TRUE(std::is_sorted(firsts.begin(), firsts.end())) << "in the index's order";
    EXPECT_TRUE(t->FindByIndex(1, {rtl::Variant("nothing")}).empty());
    EXPECT_THROW(t->FindByIndex(3, {rtl::Variant("x")}), EPxError);
}

TEST(PxIndex, SecondaryIndexWrittenByHandFromTheDescription)
{
    // T.DB: ID (key) and CODE; T.X02: CODE, ID, Hint, keyed on the first two,
    // sorted by CODE; no .Y02 yet (it is laid out with the first change).
    TempFolder dir;
    const auto data = [](std::int32_t id, std::int16_t code) {
        std::vector<std::uint8_t> r(6);
        PxEncodeInt(r.data(), 4, id);
        PxEncodeInt(r.data() + 4, 2, code);
        return r;
    };
    const auto entry = [](std::int16_t code, std::int32_t id, std::uint16_t block) {
        std::vector<std::uint8_t> r(8);
        PxEncodeInt(r.data(), 2, code);
        PxEncodeInt(r.data() + 2, 4, id);
        PxPutIndexWord(r.data() + 6, block);
        return r;
    };
    test::WriteFileBytes(dir.File("T.DB"), test::HandDataFile(0x0C, 0, 1, 1, 1251, {{0x04, 4, "ID"}, {0x03, 2, "CODE"}},
                                                              {{data(1, 30), data(2, 10), data(3, 20)}}));
    test::WriteFileBytes(dir.File("T.X02"),
                         test::HandDataFile(0x0C, 5, 2, 1, 1251, {{0x03, 2, "Sec Key"}, {0x04, 4, "ID"}, {0x03, 2, "Hint"}},
                                            {{entry(10, 2, 1), entry(20, 3, 1), entry(30, 1, 1)}}, "ascii", {2, 1, 0}, "CODE"));
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("T");
    const auto idx = t->Indexes();
    ASSERT_EQ(idx.size(), 2u);
    EXPECT_EQ(idx[1].name, "CODE");
    EXPECT_EQ(idx[1].fields, std::vector<std::string>{"CODE"});
    EXPECT_TRUE(t->IndexProblems().empty());
    const auto byCode = t->FindByIndex(1, {rtl::Variant(20)});
    ASSERT_EQ(byCode.size(), 1u);
    EXPECT_EQ(t->Get(byCode[0], 0).AsInteger(), 3);
    t->Insert({rtl::Variant(4), rtl::Variant(15)});
    t->Update(*t->Seek({rtl::Variant(1)}), {{1, rtl::Variant(5)}});
    EXPECT_EQ(t->VerifyIndexes(), "");
    std::vector<int> order;
    for (auto r : t->FindByIndex(1, {})) order.push_back(t->Get(r, 1).AsInteger());
    EXPECT_EQ(order, (std::vector<int>{5, 10, 15, 20})) << "no values: every record in the index's order";
    EXPECT_TRUE(std::filesystem::exists(dir.File("T.Y02")));
}

TEST(PxIndex, IndexFilesThatDoNotMatchBlockOnlyTheChangesThatNeedThem)
{
    const struct {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
    } cases[] = {
        {"entries out of order",
         [](std::vector<std::uint8_t>& x) { std::swap_ranges(x.begin() + 0x806, x.begin() + 0x806 + 12, x.begin() + 0x806 + 38); }},
        {"an entry for a record that does not exist", [](std::vector<std::uint8_t>& x) { x[0x806 + 12 + 11] ^= 0x01; }},
        {"descending order", [](std::vector<std::uint8_t>& x) { x[0x55] = 0x11; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        {
            PxDatabase db(dir.Path());
            auto t = MakeLinks(db);
            for (int a = 1; a <= 5; ++a) t->Insert({rtl::Variant(Id(1, a)), rtl::Variant(Id(2, 6 - a)), rtl::Variant("p")});
        }
        auto x = test::ReadFileBytes(dir.File("VELMO_LINKS.X02"));
        c.spoil(x);
        test::WriteFileBytes(dir.File("VELMO_LINKS.X02"), x);
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("VELMO_LINKS");
        ASSERT_EQ(t->IndexProblems().size(), 1u);
        EXPECT_EQ(t->RecordCount(), 5) << "reading still works";
        const auto before = test::TakeSnapshot(dir.Path());
        try {
            t->Insert({rtl::Variant(Id(1, 9)), rtl::Variant(Id(2, 9)), rtl::Variant("p")});
            ADD_FAILURE() << "accepted";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find("OBJECT2ID"), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
        // A change that leaves every index as it is goes through.
        t->Update(t->Rows().at(0), {{2, rtl::Variant("q")}});
        EXPECT_EQ(t->Get(t->Rows().at(0), 2).AsString(), "q");
    }
}

} // namespace
} // namespace bde

namespace bde {
namespace {

using test::TempFolder;

// An index whose fields this engine cannot tell (its file cannot be read, or
// its header names no fields of the table) might cover any field: every
// change of a field is refused alike, so that the index never goes stale.
TEST(PxIndex, AnIndexOfUnknownFieldsRefusesEveryUpdateOfAField)
{
    const struct {
        const char* what;
        const char* file;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
    } cases[] = {
        {"an index file of a kind this engine cannot read", "T.X02",
         [](std::vector<std::uint8_t>& x) { x[4] = 0x02; }},
        {"an index of several fields whose field numbers are out of range", "T.XG0",
         [](std::vector<std::uint8_t>& x) {
             // The field numbers after the field names: G, V, then the key and the hint.
             const std::vector<std::uint8_t> numbers = {2, 0, 3, 0, 1, 0, 0, 0};
             const auto at = std::search(x.begin(), x.begin() + 0x800, numbers.begin(), numbers.end());
             ASSERT_NE(at, x.begin() + 0x800);
             at[0] = 99;
             at[2] = 98;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        {
            PxDatabase db(dir.Path());
            PxTableSpec s;
            s.fields = {{"ID", PxFieldType::Long, 0}, {"G", PxFieldType::Long, 0}, {"V", PxFieldType::Long, 0},
                        {"M", PxFieldType::Memo, 1}};
            s.keyFieldCount = 1;
            s.secondaryIndexes = {{"", {"G"}}, {"Both", {"G", "V"}}};
            auto t = db.CreateTable("T", s);
            for (int i = 1; i <= 3; ++i) t->Insert({rtl::Variant(i), rtl::Variant(i * 10), rtl::Variant(i * 100), rtl::Variant("m")});
        }
        auto x = test::ReadFileBytes(dir.File(c.file));
        c.spoil(x);
        test::WriteFileBytes(dir.File(c.file), x);
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("T");
        ASSERT_EQ(t->IndexProblems().size(), 1u);
        if (std::string(c.file) == "T.XG0") {
            // Why, and what the user can do about it.
            EXPECT_NE(t->IndexProblems()[0].find("its fields are not known (neither its header nor its file name names them)"),
                      std::string::npos) << t->IndexProblems()[0];
            EXPECT_NE(t->IndexProblems()[0].find("rebuild the index with another program"), std::string::npos);
        }
        const auto row = *t->Seek({rtl::Variant(2)});
        const auto before = test::TakeSnapshot(dir.Path());
        for (int field : {1, 2}) {
            SCOPED_TRACE(field);
            EXPECT_THROW(t->Update(row, {{field, rtl::Variant(7)}}), EPxError);
            EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
            EXPECT_EQ(t->Get(row, field).AsInteger(), field == 1 ? 20 : 200);
        }
        // A blob is in no index.
        t->Update(row, {{3, rtl::Variant("a memo of the record")}});
        EXPECT_EQ(t->Get(row, 3).AsString(), "a memo of the record");
    }
}

// The engine places keys by their bytes. Under a sort order it does not
// implement, a text key goes in only where the byte order and every sort
// order agree (digits and letters of one case compared with each other);
// elsewhere the change is refused before anything is written.
TEST(PxIndex, KeysWhosePlaceTheSortOrderMayChangeAreRefused)
{
    const auto key = [](const char* k, std::int32_t v) {
        std::vector<std::uint8_t> r(8, 0);
        std::copy(k, k + std::strlen(k), r.begin());
        PxEncodeInt(r.data() + 4, 4, v);
        return r;
    };
    const struct {
        const char* what;
        const char* sortOrder;
        std::vector<const char*> there;    // three keys in the table
        std::vector<std::string> inserted; // in this order
        bool accepted;
    } cases[] = {
        {"capital letters", "intl", {"B", "D", "F"}, {"C", "A", "G", "DA"}, true},
        {"digits before letters", "intl", {"B", "D", "F"}, {"1", "B9", "D0"}, true},
        {"lower-case letters among lower-case", "intl", {"b", "d", "f"}, {"c", "a", "g", "da"}, true},
        {"a lower-case letter next to capitals", "intl", {"B", "D", "F"}, {"c"}, false},
        {"an accented letter", "intl", {"B", "D", "F"}, {"É"}, false},
        {"punctuation after a common start", "intl", {"B", "D", "F"}, {"D-"}, false},
        {"a blank key", "intl", {"B", "D", "F"}, {""}, true},
        {"any key in a binary sort order", "ascii", {"B", "D", "F"}, {"c", "É", "D-", "a"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        test::WriteFileBytes(dir.File("K.DB"),
                             test::HandDataFile(0x0C, 0, 1, 1, 1252, {{0x01, 4, "K"}, {0x04, 4, "V"}},
                                                {{key(c.there[0], 1), key(c.there[1], 2), key(c.there[2], 3)}}, c.sortOrder));
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("K");
        bool all = true;
        for (const auto& k : c.inserted) {
            SCOPED_TRACE(k);
            const auto before = test::TakeSnapshot(dir.Path());
            try {
                t->Insert({k.empty() ? rtl::Variant::Null() : rtl::Variant(k), rtl::Variant(9)});
            } catch (const EPxError& e) {
                all = false;
                EXPECT_NE(std::string(e.what()).find("sort order"), std::string::npos) << e.what();
                EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
            }
        }
        EXPECT_EQ(all, c.accepted);
        std::vector<std::string> keys;
        for (auto r : t->Rows()) keys.push_back(t->Get(r, 0).IsNull() ? "" : t->Get(r, 0).AsString());
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << "byte order";
    }
}

// The same holds for a key change and for the entries of a secondary index
// over text, in the engine's own tables (whose sort order follows the code
// page: "ancyrr" for Windows-1251).
TEST(PxIndex, KeyChangesAndIndexEntriesFollowTheSameRule)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Alpha, 12}, {"NAME", PxFieldType::Alpha, 20}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"NAME"}}};
    auto t = db.CreateTable("T", s);
    ASSERT_EQ(t->SortOrder(), "ancyrr");
    t->Insert({rtl::Variant("000100000001"), rtl::Variant("ALPHA")});
    t->Insert({rtl::Variant("000100000003"), rtl::Variant("GAMMA")});
    t->Insert({rtl::Variant("00010000000B"), rtl::Variant("DELTA")});
    const auto before = test::TakeSnapshot(dir.Path());
    // The refusal names the field and the character, and says what goes in.
    const struct {
        const char* what;
        std::function<void()> change;
        const char* names; // "<character>" of field "<field>"
    } refused[] = {
        {"an insert whose name goes between capitals", [&] { t->Insert({rtl::Variant("000100000002"), rtl::Variant("beta")}); },
         "\"b\" of field \"NAME\""},
        {"an insert of a Cyrillic name", [&] { t->Insert({rtl::Variant("000100000002"), rtl::Variant("Бета")}); },
         "\"Б\" of field \"NAME\""},
        {"a key changed to follow a capital letter with a small one", [&] { t->Update(*t->Seek({rtl::Variant("000100000001")}), {{0, rtl::Variant("00010000000a")}}); },
         "\"a\" of field \"ID\""},
        {"a name changed to lower case", [&] { t->Update(*t->Seek({rtl::Variant("000100000001")}), {{1, rtl::Variant("alpha")}}); },
         "\"a\" of field \"NAME\""},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        try {
            c.change();
            ADD_FAILURE() << "accepted";
        } catch (const EPxError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("sort order"), std::string::npos) << message;
            EXPECT_NE(message.find(c.names), std::string::npos) << message;
            EXPECT_NE(message.find("digits, capital Latin letters and identifiers made of them go in"), std::string::npos)
                << message;
        }
        EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
    }
    t->Insert({rtl::Variant("000100000002"), rtl::Variant("BETA")});
    t->Update(*t->Seek({rtl::Variant("000100000003")}), {{0, rtl::Variant("0001000000FF")}, {1, rtl::Variant("ZETA")}});
    EXPECT_EQ(t->VerifyIndexes(), "");
}

} // namespace
} // namespace bde
