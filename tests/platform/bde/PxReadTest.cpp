// Reading tables written by other Paradox engines: pxlib, and files put
// together by hand from the format description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/bde/PxDatabase.h"
#include "platform/rtl/DateTime.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::HandField;
using test::TempFolder;

using test::Cell;
using test::PxlibField;
using test::PxlibWrite;

double Date(int y, int m, int d) { return rtl::EncodeDate(y, m, d); }

TEST(PxRead, EveryFieldTypeOfATablePxlibWrote)
{
    TempFolder dir;
    const std::vector<PxlibField> fields = {
        {"ID", pxfLong, 4},       {"NAME", pxfAlpha, 20},  {"NUM", pxfNumber, 8},   {"CASH", pxfCurrency, 8},
        {"SMALL", pxfShort, 2},   {"DAY", pxfDate, 4},     {"CLOCK", pxfTime, 4},   {"STAMP", pxfTimestamp, 8},
        {"FLAG", pxfLogical, 1},  {"NOTE", pxfMemoBLOb, 20}, {"DATA", pxfFmtMemoBLOb, 15}, {"AUTO", pxfAutoInc, 4},
        {"RAW", pxfBytes, 4},
    };
    const std::string bigNote(5000, 'n');
    const std::string midData(100, 'd');
    const std::vector<std::vector<Cell>> rows = {
        {Cell::Long(1), Cell::Text("caf\xe9"), Cell::Double(1.5), Cell::Double(-12.25), Cell::Long(-7),
         Cell::Long(728783), Cell::Long(3723000), Cell::Double(63116856306000.0), Cell::Long(1),
         Cell::Text("short"), Cell::Text(midData), Cell::Null(), Cell::Text(std::string("\x01\x02\x03\x04", 4))},
        {Cell::Long(2), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(),
         Cell::Null(), Cell::Long(0), Cell::Text(bigNote), Cell::Null(), Cell::Null(), Cell::Null()},
    };
    PxlibWrite(dir.File("ALLTYPES.DB"), fields, 0, rows, dir.File("ALLTYPES.MB"));

    PxDatabase db(dir.Path());
    auto t = db.OpenTable("alltypes");
    ASSERT_EQ(t->Fields().size(), fields.size());
    EXPECT_EQ(t->Fields()[1].type, PxFieldType::Alpha);
    EXPECT_EQ(t->Fields()[1].size, 20);
    EXPECT_EQ(t->Fields()[9].type, PxFieldType::Memo);
    EXPECT_EQ(t->Fields()[9].size, 10) << "the leader, without the 10 bytes of blob place";
    EXPECT_EQ(t->CodePage(), 1252);
    const auto ids = t->Rows();
    ASSERT_EQ(ids.size(), 2u);
    const auto r0 = t->GetRecord(ids[0]);
    EXPECT_EQ(r0[0].AsInteger(), 1);
    EXPECT_EQ(r0[1].AsString(), "café");
    EXPECT_DOUBLE_EQ(r0[2].AsDouble(), 1.5);
    EXPECT_DOUBLE_EQ(r0[3].AsDouble(), -12.25);
    EXPECT_EQ(r0[4].AsInteger(), -7);
    EXPECT_DOUBLE_EQ(r0[5].AsDateTime(), Date(1996, 5, 4));
    EXPECT_DOUBLE_EQ(r0[6].AsDateTime(), rtl::EncodeTime(1, 2, 3, 0));
    EXPECT_DOUBLE_EQ(r0[7].AsDateTime(), rtl::EncodeDateTime(2001, 2, 3, 4, 5, 6, 0));
    EXPECT_TRUE(r0[8].AsBoolean());
    EXPECT_EQ(r0[9].AsString(), "short");
    EXPECT_EQ(r0[10].AsBytes(), rtl::ByteArray(midData.begin(), midData.end()));
    EXPECT_EQ(r0[11].AsInteger(), 1) << "pxlib numbers blank autoincrement fields";
    EXPECT_EQ(r0[12].AsBytes(), (rtl::ByteArray{1, 2, 3, 4}));
    const auto r1 = t->GetRecord(ids[1]);
    for (int i : {1, 2, 3, 4, 5, 6, 7, 10, 12}) EXPECT_TRUE(r1[static_cast<std::size_t>(i)].IsNull()) << i;
    EXPECT_FALSE(r1[8].AsBoolean());
    EXPECT_EQ(r1[9].AsString(), bigNote);
}

TEST(PxRead, KeyedTableAndTheIndexPxlibWrote)
{
    TempFolder dir;
    const std::vector<PxlibField> fields = {{"ID", pxfLong, 4}, {"NAME", pxfAlpha, 200}};
    std::vector<std::vector<Cell>> rows;
    for (int i = 1; i <= 3000; ++i) rows.push_back({Cell::Long(i), Cell::Text("n" + rtl::IntToStr(i))});
    PxlibWrite(dir.File("KEYED.DB"), fields, 1, rows, "", "", dir.File("KEYED.PX"));

    PxDatabase db(dir.Path());
    auto t = db.OpenTable("KEYED");
    EXPECT_EQ(t->KeyFieldCount(), 1);
    EXPECT_EQ(t->RecordCount(), 3000);
    auto r = t->Seek({rtl::Variant(1234)});
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(t->Get(*r, 1).AsString(), "n1234");
    EXPECT_FALSE(t->Seek({rtl::Variant(3001)}).has_value());
    EXPECT_EQ(t->VerifyIndexes(), "") << "pxlib lays the index out as a rebuild does";
}

TEST(PxRead, CodePageOfTheHeader)
{
    const struct {
        int codePage;
        const char* stored;
        const char* text;
    } cases[] = {
        {1251, "\xcf\xf0\xe8\xe2\xe5\xf2", "Привет"},
        {866, "\x8f\xe0\xa8\xa2\xa5\xe2", "Привет"},
        {1252, "caf\xe9", "café"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        TempFolder dir;
        PxlibWrite(dir.File("CP.DB"), {{"NAME", pxfAlpha, 20}}, 0, {{Cell::Text(c.stored)}});
        auto bytes = test::ReadFileBytes(dir.File("CP.DB"));
        test::Put16(bytes, 0x6A, static_cast<std::uint16_t>(c.codePage));
        test::WriteFileBytes(dir.File("CP.DB"), bytes);
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("CP");
        EXPECT_EQ(t->CodePage(), c.codePage);
        EXPECT_EQ(t->Get(t->Rows().at(0), 0).AsString(), c.text);
    }
}

std::vector<std::uint8_t> LongBytes(std::int32_t v)
{
    std::vector<std::uint8_t> b(4);
    PxEncodeInt(b.data(), 4, v);
    return b;
}

std::vector<std::uint8_t> Record(std::int32_t id, const std::string& name, int nameSize)
{
    auto r = LongBytes(id);
    std::string n = name;
    n.resize(static_cast<std::size_t>(nameSize), '\0');
    r.insert(r.end(), n.begin(), n.end());
    return r;
}

// A header of a version before 4.0 names no code page: the character set of
// its sort order decides. A sort order whose character set the engine does
// not know leaves the table readable, and no text is written into it.
TEST(PxRead, TheSortOrderNamesTheCharacterSetWhenTheHeaderDoesNot)
{
    const struct {
        const char* sortOrder;
        const char* stored;
        int codePage;
        const char* text;
    } cases[] = {
        {"cyrr", "\x8f\xe0\xa8\xa2\xa5\xe2", 866, "Привет"},
        {"ancyrr", "\xcf\xf0\xe8\xe2\xe5\xf2", 1251, "Привет"},
        {"ANSIINTL", "caf\xe9", 1252, "café"},
        {"intl", "caf\x82", 437, "café"},
        {"BLROM800", "\xd8\xcc\xc5\xde\xa3", 1051, "ÄäéßÈ"}, // HP Roman-8
        {"ascii", "\xcf\xf0\xe8\xe2\xe5\xf2", 1251, "Привет"}, // names none: the folder's default
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sortOrder);
        TempFolder dir;
        std::string name = c.stored;
        name.resize(8, '\0');
        std::vector<std::uint8_t> rec = LongBytes(1);
        rec.insert(rec.end(), name.begin(), name.end());
        test::WriteFileBytes(dir.File("OLD.DB"), test::HandDataFile(0x03, 2, 0, 1, 0, {{0x04, 4, "ID"}, {0x01, 8, "NAME"}},
                                                                    {{rec}}, c.sortOrder));
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("OLD");
        EXPECT_EQ(t->CodePage(), c.codePage);
        EXPECT_EQ(t->Get(t->Rows().at(0), 1).AsString(), c.text);
        t->Insert({rtl::Variant(2), rtl::Variant(c.text)});
        const auto px = test::ReadFileBytes(dir.File("OLD.DB"));
        const std::vector<std::uint8_t> stored(c.stored, c.stored + std::strlen(c.stored));
        EXPECT_NE(std::search(px.begin() + 0x800 + 6 + 12, px.end(), stored.begin(), stored.end()), px.end())
            << "the new record holds the text in the same bytes";
    }
    TempFolder dir;
    std::vector<std::uint8_t> rec = LongBytes(1);
    rec.resize(12, 0);
    rec[4] = 'a';
    test::WriteFileBytes(dir.File("JP.DB"), test::HandDataFile(0x03, 2, 0, 1, 0, {{0x04, 4, "ID"}, {0x01, 8, "NAME"}},
                                                               {{rec}}, "japan"));
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("JP");
    EXPECT_EQ(t->Get(t->Rows().at(0), 1).AsString(), "a");
    const auto before = test::TakeSnapshot(dir.Path());
    try {
        t->Insert({rtl::Variant(2), rtl::Variant("b")});
        ADD_FAILURE() << "text was written in an unknown character set";
    } catch (const EPxError& e) {
        EXPECT_NE(std::string(e.what()).find("japan"), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
    t->Insert({rtl::Variant(3), rtl::Variant::Null()});
    EXPECT_EQ(t->RecordCount(), 2) << "a record without text goes in";
}

TEST(PxRead, HandWrittenTablesOfEveryVersion)
{
    const std::vector<HandField> fields = {{0x04, 4, "ID"}, {0x01, 8, "\xc8\xec\xff"}}; // "Имя" in 1251
    const std::vector<std::vector<std::vector<std::uint8_t>>> blocks = {
        {Record(1, "one", 8), Record(2, "two", 8)},
        {Record(5, "five", 8)},
    };
    const struct {
        const char* what;
        std::uint8_t version;
    } cases[] = {{"3.0", 0x03}, {"3.5", 0x04}, {"4.0", 0x09}, {"5.0", 0x0B}, {"7.0", 0x0C}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        test::WriteFileBytes(dir.File("HAND.DB"), test::HandDataFile(c.version, 0, 1, 1, 1251, fields, blocks));
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("HAND");
        EXPECT_EQ(t->Version(), c.version);
        EXPECT_EQ(t->Fields()[1].name, "Имя");
        EXPECT_EQ(t->CodePage(), 1251) << "the folder's default when the header names none";
        std::vector<std::int32_t> ids;
        for (auto r : t->Rows()) ids.push_back(t->Get(r, 0).AsInteger());
        EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 5}));
        auto five = t->Seek({rtl::Variant(5)});
        ASSERT_TRUE(five.has_value());
        EXPECT_EQ(t->Get(*five, 1).AsString(), "five");
    }
}

TEST(PxRead, FollowsTheBlockChainNotThePhysicalOrder)
{
    // Blocks stored as [second, first]: the header starts the chain at block 2.
    TempFolder dir;
    auto file = test::HandDataFile(0x0C, 2, 0, 1, 1251, {{0x04, 4, "ID"}, {0x01, 8, "NAME"}},
                                   {{Record(3, "c", 8)}, {Record(1, "a", 8), Record(2, "b", 8)}});
    test::Put16(file, 0x0E, 2); // first block
    test::Put16(file, 0x10, 1); // last block
    const std::size_t b1 = 0x800, b2 = 0x800 + 1024;
    test::Put16(file, b1 + 0, 0);
    test::Put16(file, b1 + 2, 2);
    test::Put16(file, b2 + 0, 1);
    test::Put16(file, b2 + 2, 0);
    test::WriteFileBytes(dir.File("CHAIN.DB"), file);
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("CHAIN");
    std::vector<std::string> names;
    for (auto r : t->Rows()) names.push_back(t->Get(r, 1).AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PxRead, KeysInAnOrderOtherThanBytesReadButDoNotMove)
{
    // Another engine's sort order put "A", "b", "C" in this order (letters
    // without case); compared as bytes "b" comes last.
    TempFolder dir;
    const auto rec = [](const char* key, std::int32_t v) {
        std::vector<std::uint8_t> r(4, 0);
        std::copy(key, key + std::strlen(key), r.begin());
        const auto n = LongBytes(v);
        r.insert(r.end(), n.begin(), n.end());
        return r;
    };
    test::WriteFileBytes(dir.File("INTL.DB"), test::HandDataFile(0x0C, 0, 1, 1, 1252, {{0x01, 4, "K"}, {0x04, 4, "V"}},
                                                                 {{rec("A", 1), rec("b", 2), rec("C", 3)}}, "intl"));
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("INTL");
    std::vector<std::string> keys;
    for (auto r : t->Rows()) keys.push_back(t->Get(r, 0).AsString());
    EXPECT_EQ(keys, (std::vector<std::string>{"A", "b", "C"}));
    auto b = t->Seek({rtl::Variant("b")});
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(t->Get(*b, 1).AsInteger(), 2);
    t->Update(*b, {{1, rtl::Variant(20)}});
    EXPECT_EQ(t->Get(*b, 1).AsInteger(), 20) << "a change that moves nothing goes through";
    const auto before = test::TakeSnapshot(dir.Path());
    const struct {
        const char* what;
        std::function<void()> act;
    } refused[] = {
        {"insert", [&] { t->Insert({rtl::Variant("D"), rtl::Variant(4)}); }},
        {"key change", [&] { t->Update(*b, {{0, rtl::Variant("B")}}); }},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        try {
            c.act();
            ADD_FAILURE() << "accepted";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find("key order"), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
    }
}

TEST(PxRead, BrokenFilesFailWithTheirName)
{
    const struct {
        const char* what;
        std::size_t offset;
        std::uint16_t value;
    } cases[] = {
        {"chain leaves the file", 0x0E, 7},
        {"chain runs in a circle", 0x800, 1},
        {"more blocks than the file has", 0x0C, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        auto file = test::HandDataFile(0x0C, 2, 0, 1, 1251, {{0x04, 4, "ID"}}, {{LongBytes(1)}});
        test::Put16(file, c.offset, c.value);
        test::WriteFileBytes(dir.File("BROKEN.DB"), file);
        PxDatabase db(dir.Path());
        try {
            db.OpenTable("BROKEN");
            ADD_FAILURE() << "opened";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find("BROKEN.DB"), std::string::npos) << e.what();
        }
    }
}

TEST(PxRead, BlobsInlineSmallAndLarge)
{
    TempFolder dir;
    const std::vector<std::string> notes = {"tiny", std::string(300, 's'), std::string(9000, 'L'), ""};
    std::vector<std::vector<Cell>> rows;
    for (std::size_t i = 0; i < notes.size(); ++i)
        rows.push_back({Cell::Long(static_cast<long>(i + 1)), notes[i].empty() ? Cell::Null() : Cell::Text(notes[i]),
                        notes[i].empty() ? Cell::Null() : Cell::Text(notes[i])});
    // pxlib writes only memo blobs; DATA is written as a memo and then given
    // the binary blob type in the header (the stored form is the same).
    PxlibWrite(dir.File("BLOBS.DB"), {{"ID", pxfLong, 4}, {"NOTE", pxfMemoBLOb, 15}, {"DATA", pxfMemoBLOb, 11}}, 0, rows,
               dir.File("BLOBS.MB"));
    auto header = test::ReadFileBytes(dir.File("BLOBS.DB"));
    ASSERT_EQ(header[0x78 + 4], 0x0C);
    header[0x78 + 4] = 0x0D;
    test::WriteFileBytes(dir.File("BLOBS.DB"), header);
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("BLOBS");
    const auto ids = t->Rows();
    ASSERT_EQ(ids.size(), notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE(notes[i].size());
        const rtl::Variant memo = t->Get(ids[i], 1);
        const rtl::Variant data = t->Get(ids[i], 2);
        if (notes[i].empty()) {
            EXPECT_TRUE(memo.IsNull());
            EXPECT_TRUE(data.IsNull());
        } else {
            EXPECT_EQ(memo.AsString(), notes[i]);
            EXPECT_EQ(data.AsBytes(), rtl::ByteArray(notes[i].begin(), notes[i].end()));
        }
    }
}

TEST(PxRead, FindsFilesWhateverTheCaseOfTheirNames)
{
    const struct {
        const char* db;
        const char* mb;
        const char* asked;
    } cases[] = {
        {"lower.db", "lower.mb", "LOWER"},
        {"UPPER.DB", "upper.Mb", "upper"},
        {"Mixed.Db", "MIXED.mB", "mIxEd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.db);
        TempFolder dir;
        PxlibWrite(dir.File(c.db), {{"ID", pxfLong, 4}, {"NOTE", pxfMemoBLOb, 11}}, 0,
                   {{Cell::Long(1), Cell::Text("a memo longer than one")}}, dir.File(c.mb));
        PxDatabase db(dir.Path());
        EXPECT_TRUE(db.TableExists(c.asked));
        auto t = db.OpenTable(c.asked);
        EXPECT_EQ(t->Get(t->Rows().at(0), 1).AsString(), "a memo longer than one");
        std::string base = c.db;
        base.resize(base.find('.'));
        EXPECT_EQ(db.TableNames(), std::vector<std::string>{base});
    }
}

TEST(PxRead, TwoFilesDifferingOnlyInCaseAreRefused)
{
    TempFolder dir;
    PxlibWrite(dir.File("t.db"), {{"ID", pxfLong, 4}}, 0, {{Cell::Long(1)}});
    PxlibWrite(dir.File("T.DB"), {{"ID", pxfLong, 4}}, 0, {{Cell::Long(2)}});
    PxDatabase db(dir.Path());
    EXPECT_THROW(db.OpenTable("t"), EPxError);
}

// A .VAL file put together from the published description of validity checks:
// header (count at 2, footer position at 9), one 0x1D-byte entry per checked
// field (field order at 0, the required flag in the byte before the values),
// footer with the field count, orders, types and sizes.
std::vector<std::uint8_t> HandValidity(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& fields,
                                       const std::vector<int>& requiredOrders)
{
    std::vector<std::uint8_t> b(0x35, 0);
    b[1] = 0x0C;
    b[2] = static_cast<std::uint8_t>(requiredOrders.size());
    for (int order : requiredOrders) {
        std::vector<std::uint8_t> e(0x1D, 0);
        e[0] = static_cast<std::uint8_t>(order);
        e[0x1C] = 1;
        b.insert(b.end(), e.begin(), e.end());
    }
    const auto footer = static_cast<std::uint32_t>(b.size());
    test::Put32(b, 9, footer);
    std::vector<std::uint8_t> f(6 + 4 * fields.size(), 0);
    test::Put16(f, 0, static_cast<std::uint16_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        test::Put16(f, 6 + 2 * i, static_cast<std::uint16_t>(i + 1));
        f[6 + 2 * fields.size() + 2 * i] = fields[i].first;
        f[6 + 2 * fields.size() + 2 * i + 1] = fields[i].second;
    }
    b.insert(b.end(), f.begin(), f.end());
    b.resize(b.size() + 0x4F, 0);
    return b;
}

TEST(PxRead, RequiredFlagsFromTheValidityFile)
{
    const struct {
        const char* what;
        std::vector<int> required;
        bool corrupt;
        std::vector<bool> expected;
    } cases[] = {
        {"no checks", {}, false, {false, false, false}},
        {"first and third required", {1, 3}, false, {true, false, true}},
        {"a file that does not read consistently gives no flags", {2}, true, {false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        PxlibWrite(dir.File("REQ.DB"), {{"ID", pxfLong, 4}, {"A", pxfAlpha, 5}, {"B", pxfNumber, 8}}, 0, {});
        auto val = HandValidity({{0x04, 4}, {0x01, 5}, {0x06, 8}}, c.required);
        if (c.corrupt) test::Put32(val, 9, 0x36);
        test::WriteFileBytes(dir.File("REQ.VAL"), val);
        PxDatabase db(dir.Path());
        auto t = db.OpenTable("REQ");
        std::vector<bool> got;
        for (const auto& f : t->Fields()) got.push_back(f.required);
        EXPECT_EQ(got, c.expected);
        // A required field refuses a blank value.
        const std::vector<rtl::Variant> blank = {rtl::Variant(1), rtl::Variant::Null(), rtl::Variant::Null()};
        if (c.expected[1] || c.expected[2]) {
            EXPECT_THROW(t->Insert(blank), EPxError);
        } else {
            EXPECT_NO_THROW(t->Insert(blank));
        }
        EXPECT_NO_THROW(t->Insert({rtl::Variant(2), rtl::Variant("a"), rtl::Variant(1.0)}));
    }
}

} // namespace
} // namespace bde
