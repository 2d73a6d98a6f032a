// Writing tables: what the engine writes reads back the same with pxlib, keyed
// tables stay in key order, duplicate keys are refused, untouched bytes stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "platform/bde/PxDatabase.h"
#include "platform/rtl/DateTime.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::TempFolder;

PxTableSpec EveryTypeSpec()
{
    PxTableSpec s;
    s.fields = {
        {"ID", PxFieldType::Long, 0},      {"NAME", PxFieldType::Alpha, 30},   {"NUM", PxFieldType::Number, 0},
        {"CASH", PxFieldType::Money, 0},   {"SMALL", PxFieldType::Short, 0},   {"DAY", PxFieldType::Date, 0},
        {"CLOCK", PxFieldType::Time, 0},   {"STAMP", PxFieldType::Timestamp, 0}, {"FLAG", PxFieldType::Logical, 0},
        {"NOTE", PxFieldType::Memo, 10},   {"DATA", PxFieldType::Blob, 5},     {"PIC", PxFieldType::Graphic, 0},
        {"RAW", PxFieldType::Bytes, 4},    {"AUTO", PxFieldType::AutoInc, 0},
    };
    s.keyFieldCount = 1;
    return s;
}

std::vector<rtl::Variant> EveryTypeRow(int id)
{
    const std::string note = id % 3 == 0 ? "short" : std::string(static_cast<std::size_t>(100 * id), 'n');
    const rtl::ByteArray data(static_cast<std::size_t>(id % 2 ? 3 : 3000), static_cast<std::uint8_t>(id));
    return {rtl::Variant(id),
            rtl::Variant("Запись " + rtl::IntToStr(id)),
            rtl::Variant(id * 1.25),
            rtl::Variant(-id * 0.5),
            rtl::Variant::SmallInt(static_cast<std::int16_t>(-id)),
            rtl::Variant::DateTime(rtl::EncodeDate(2000 + id, 1 + id % 12, 1 + id % 28)),
            rtl::Variant::DateTime(rtl::EncodeTime(id % 24, id % 60, 7, 0)),
            rtl::Variant::DateTime(rtl::EncodeDateTime(1999, 12, 31, 23, 59, id % 60, 0)),
            rtl::Variant(id % 2 == 0),
            rtl::Variant(note),
            rtl::Variant(data),
            id % 4 == 0 ? rtl::Variant::Null() : rtl::Variant(rtl::ByteArray(50, 0x42)),
            rtl::Variant(rtl::ByteArray{1, 2, 3, static_cast<std::uint8_t>(id)}),
            rtl::Variant::Null()};
}

TEST(PxWrite, EveryFieldTypeReadsBackWithPxlib)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        auto t = db.CreateTable("EVERY", EveryTypeSpec());
        for (int id : {5, 1, 4, 2, 3, 6}) t->Insert(EveryTypeRow(id));
        // Read back through the engine, from a fresh table object.
    }
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("EVERY");
    const auto rows = t->Rows();
    ASSERT_EQ(rows.size(), 6u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int id = static_cast<int>(i + 1);
        SCOPED_TRACE(id);
        const auto want = EveryTypeRow(id);
        const auto got = t->GetRecord(rows[i]);
        EXPECT_EQ(got[0].AsInteger(), id) << "key order";
        EXPECT_EQ(got[1].AsString(), want[1].AsString());
        EXPECT_DOUBLE_EQ(got[2].AsDouble(), want[2].AsDouble());
        EXPECT_DOUBLE_EQ(got[3].AsDouble(), want[3].AsDouble());
        EXPECT_EQ(got[4].AsInteger(), -id);
        EXPECT_DOUBLE_EQ(got[5].AsDateTime(), want[5].AsDateTime());
        EXPECT_DOUBLE_EQ(got[6].AsDateTime(), want[6].AsDateTime());
        EXPECT_DOUBLE_EQ(got[7].AsDateTime(), want[7].AsDateTime());
        EXPECT_EQ(got[8].AsBoolean(), want[8].AsBoolean());
        EXPECT_EQ(got[9].AsString(), want[9].AsString());
        EXPECT_EQ(got[10].AsBytes(), want[10].AsBytes());
        EXPECT_EQ(got[11].IsNull(), want[11].IsNull());
        EXPECT_EQ(got[12].AsBytes(), want[12].AsBytes());
    }
    // Autoincrement numbers follow the order of insertion: 5 got 1, 1 got 2, ...
    EXPECT_EQ(t->Get(rows[4], 13).AsInteger(), 1);
    EXPECT_EQ(t->Get(rows[0], 13).AsInteger(), 2);

    const auto px = test::PxlibRead(dir.File("EVERY.DB"), dir.File("EVERY.MB"));
    ASSERT_TRUE(px.opened);
    ASSERT_EQ(px.rows.size(), 6u);
    for (std::size_t i = 0; i < px.rows.size(); ++i) {
        const auto& r = px.rows[i];
        const int id = rtl::StrToInt(r[0]);
        SCOPED_TRACE(id);
        const auto want = EveryTypeRow(id);
        EXPECT_EQ(r[1], want[1].AsString());
        EXPECT_EQ(r[2], test::NumberText(id * 1.25));
        EXPECT_EQ(r[3], test::NumberText(-id * 0.5));
        EXPECT_EQ(r[4], rtl::IntToStr(-id));
        EXPECT_EQ(r[5], rtl::IntToStr(static_cast<long>(want[5].AsDateTime()) + 693594));
        EXPECT_EQ(r[8], id % 2 == 0 ? "1" : "0");
        EXPECT_EQ(r[9], want[9].AsString());
        EXPECT_EQ(px.blobs[i][10], want[10].AsBytes());
        EXPECT_EQ(px.blobs[i][12], want[12].AsBytes());
    }
}

TEST(PxWrite, TablesWithoutKeyAppendInOrder)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"N", PxFieldType::Long, 0}, {"PAD", PxFieldType::Alpha, 200}};
    auto t = db.CreateTable("HEAP", s);
    for (int i = 0; i < 50; ++i) t->Insert({rtl::Variant(50 - i), rtl::Variant("x")});
    std::vector<int> seen;
    for (auto r : t->Rows()) seen.push_back(t->Get(r, 0).AsInteger());
    std::vector<int> want;
    for (int i = 0; i < 50; ++i) want.push_back(50 - i);
    EXPECT_EQ(seen, want);
    const auto px = test::PxlibRead(dir.File("HEAP.DB"));
    ASSERT_EQ(px.rows.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(px.rows[static_cast<std::size_t>(i)][0], rtl::IntToStr(50 - i));
}

// A keyed table driven by random inserts, key changes and deletes, checked
// against a model after every step.
struct KeyedRun {
    TempFolder dir;
    std::unique_ptr<PxDatabase> db;
    rtl::RefPtr<PxTable> t;
    std::map<int, std::string> model;

    explicit KeyedRun(int recordPad)
    {
        db = std::make_unique<PxDatabase>(dir.Path());
        PxTableSpec s;
        s.fields = {{"ID", PxFieldType::Long, 0}, {"NAME", PxFieldType::Alpha, recordPad}, {"GRP", PxFieldType::Short, 0}};
        s.keyFieldCount = 1;
        s.secondaryIndexes = {{"", {"GRP"}}, {"ByName", {"NAME", "GRP"}}};
        t = db->CreateTable("KEYED", s);
    }

    void CheckOrder()
    {
        std::vector<int> ids;
        for (auto r : t->Rows()) ids.push_back(t->Get(r, 0).AsInteger());
        std::vector<int> want;
        for (const auto& [k, v] : model) want.push_back(k);
        ASSERT_EQ(ids, want);
        ASSERT_EQ(t->VerifyIndexes(), "");
    }
};

TEST(PxWrite, KeyedTablesStayInKeyOrder)
{
    KeyedRun run(120);
    std::mt19937 rng(7);
    for (int step = 0; step < 1500; ++step) {
        const int op = static_cast<int>(rng() % 10);
        const int key = static_cast<int>(rng() % 400);
        if (op < 5 || run.model.empty()) {
            if (run.model.count(key)) continue;
            run.t->Insert({rtl::Variant(key), rtl::Variant("n" + rtl::IntToStr(key)), rtl::Variant::SmallInt(static_cast<std::int16_t>(key % 7))});
            run.model[key] = "n" + rtl::IntToStr(key);
        } else if (op < 8) {
            auto it = run.model.begin();
            std::advance(it, static_cast<long>(rng() % run.model.size()));
            if (run.model.count(key)) continue;
            auto row = run.t->Seek({rtl::Variant(it->first)});
            ASSERT_TRUE(row.has_value());
            run.t->Update(*row, {{0, rtl::Variant(key)}});
            run.model[key] = it->second;
            run.model.erase(it);
            EXPECT_EQ(run.t->Get(*row, 0).AsInteger(), key) << "the row id follows the moved record";
        } else {
            auto it = run.model.begin();
            std::advance(it, static_cast<long>(rng() % run.model.size()));
            run.t->Delete(*run.t->Seek({rtl::Variant(it->first)}));
            run.model.erase(it);
        }
        if (step % 100 == 0) run.CheckOrder();
    }
    run.CheckOrder();
    // An independent reader sees the same records.
    const auto px = test::PxlibRead(run.dir.File("KEYED.DB"));
    ASSERT_EQ(px.rows.size(), run.model.size());
    std::map<int, std::string> seen;
    for (const auto& r : px.rows) seen[rtl::StrToInt(r[0])] = r[1];
    EXPECT_EQ(seen, run.model);
    EXPECT_TRUE(test::PxlibReadsIndex(run.dir.File("KEYED.PX")));
    // And the files read the same after reopening.
    run.t = nullptr;
    run.db = std::make_unique<PxDatabase>(run.dir.Path());
    run.t = run.db->OpenTable("KEYED");
    run.CheckOrder();
}

// Renumbering moves a run of records to new keys in order, between two
// others: the blocks they go to fill up instead of splitting in halves, so
// the file grows by what the records need.
TEST(PxWrite, KeysAddedInOrderBetweenFullBlocksFillWholeBlocks)
{
    KeyedRun run(120);
    const auto blocks = [&] {
        const auto file = test::ReadFileBytes(run.dir.File("KEYED.DB"));
        const std::size_t header = file[2] | static_cast<std::size_t>(file[3]) << 8;
        const std::size_t block = static_cast<std::size_t>(file[5]) * 1024;
        return (file.size() - header) / block;
    };
    const auto insert = [&](int key) {
        run.t->Insert({rtl::Variant(key), rtl::Variant("n" + rtl::IntToStr(key)), rtl::Variant::SmallInt(static_cast<std::int16_t>(key % 7))});
        run.model[key] = "n" + rtl::IntToStr(key);
    };
    for (int key = 1000; key <= 64000; key += 1000) insert(key);
    const std::size_t before = blocks();
    ASSERT_GE(before, 4u);
    const std::size_t perBlock = (64 + before - 1) / before;
    constexpr int kAdded = 200;
    run.db->StartTransaction();
    for (int key = 20001; key <= 20000 + kAdded; ++key) insert(key);
    run.db->Commit();
    run.CheckOrder();
    // One split where the run starts; the rest fills new blocks whole.
    EXPECT_LE(blocks() - before, kAdded / perBlock + 2);
    for (int key = 30001; key <= 30000 + kAdded; ++key) insert(key);
    run.CheckOrder();
    EXPECT_LE(blocks() - before, 2 * (kAdded / perBlock + 2));
}

TEST(PxWrite, DuplicateKeysAreRefusedAndNothingChanges)
{
    KeyedRun run(10);
    for (int k : {1, 2, 3}) {
        run.t->Insert({rtl::Variant(k), rtl::Variant("v"), rtl::Variant::SmallInt(1)});
        run.model[k] = "v";
    }
    const auto before = test::TakeSnapshot(run.dir.Path());
    const struct {
        const char* what;
        std::function<void()> act;
    } cases[] = {
        {"insert of an existing key", [&] { run.t->Insert({rtl::Variant(2), rtl::Variant("w"), rtl::Variant::SmallInt(1)}); }},
        {"key changed to an existing key", [&] { run.t->Update(*run.t->Seek({rtl::Variant(1)}), {{0, rtl::Variant(3)}}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.act();
            ADD_FAILURE() << "accepted";
        } catch (const EPxKeyViolation& e) {
            EXPECT_NE(std::string(e.what()).find("\"KEYED\""), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::TakeSnapshot(run.dir.Path()), before);
        run.CheckOrder();
    }
    // A transaction survives a refused key.
    run.db->StartTransaction();
    run.t->Insert({rtl::Variant(4), rtl::Variant("t"), rtl::Variant::SmallInt(1)});
    EXPECT_THROW(run.t->Insert({rtl::Variant(4), rtl::Variant("t"), rtl::Variant::SmallInt(1)}), EPxKeyViolation);
    run.db->Commit();
    run.model[4] = "t";
    run.CheckOrder();
}

TEST(PxWrite, UntouchedFieldsKeepTheirBytes)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Alpha, 12}, {"A", PxFieldType::Alpha, 8}, {"B", PxFieldType::Number, 0},
                {"C", PxFieldType::Memo, 4}};
    s.keyFieldCount = 1;
    auto t = db.CreateTable("KEEP", s);
    const auto row = t->Insert({rtl::Variant("000100000001"), rtl::Variant("ab"), rtl::Variant(1.0),
                                rtl::Variant(std::string(600, 'm'))});
    // Bytes after the end of a text, as other engines may leave them.
    auto raw = t->RawRecord(row);
    raw[12 + 3] = 0x5A;
    const std::string path = dir.File("KEEP.DB");
    auto file = test::ReadFileBytes(path);
    const std::size_t at = 0x800 + 6;
    std::copy(raw.begin(), raw.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    test::WriteFileBytes(path, file);
    PxDatabase db2(dir.Path());
    auto t2 = db2.OpenTable("KEEP");
    const auto r2 = t2->Rows().at(0);
    const auto mbBefore = test::ReadFileBytes(dir.File("KEEP.MB"));
    const struct {
        const char* what;
        std::vector<std::pair<int, rtl::Variant>> change;
        std::vector<int> unchangedBytes; // byte ranges [from, to) that must keep their bytes
    } cases[] = {
        {"changing B keeps A's stray byte", {{2, rtl::Variant(2.5)}}, {0, 12, 12, 20}},
        {"setting A and the memo to what they hold writes nothing", {{1, rtl::Variant("ab")}, {3, rtl::Variant(std::string(600, 'm'))}}, {0, 42}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = t2->RawRecord(r2);
        t2->Update(r2, c.change);
        const auto after = t2->RawRecord(r2);
        for (std::size_t i = 0; i + 1 < c.unchangedBytes.size(); i += 2)
            for (int b = c.unchangedBytes[i]; b < c.unchangedBytes[i + 1]; ++b)
                EXPECT_EQ(before[static_cast<std::size_t>(b)], after[static_cast<std::size_t>(b)]) << "byte " << b;
    }
    EXPECT_EQ(test::ReadFileBytes(dir.File("KEEP.MB")), mbBefore) << "the memo was not rewritten";
    EXPECT_DOUBLE_EQ(t2->Get(r2, 2).AsDouble(), 2.5);
}

TEST(PxWrite, RequiredFlagsAreKeptInTheValidityFile)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        PxTableSpec s;
        s.fields = {{"ID", PxFieldType::Alpha, 12, true}, {"NAME", PxFieldType::Alpha, 20}, {"DATA", PxFieldType::Blob, 0, true}};
        s.keyFieldCount = 1;
        db.CreateTable("REQ", s);
    }
    // The file as the description of validity checks has it: two checks of
    // 0x1D bytes after the 0x35-byte header, the footer right after them.
    const auto val = test::ReadFileBytes(dir.File("REQ.VAL"));
    ASSERT_GE(val.size(), 0x35u + 2 * 0x1D);
    EXPECT_EQ(val[1], kPxVersion70);
    EXPECT_EQ(val[2], 2);
    EXPECT_EQ(PxGetU32(val.data() + 9), 0x35u + 2 * 0x1D);
    EXPECT_EQ(val[0x35], 1) << "first check: field 1";
    EXPECT_EQ(val[0x35 + 0x1D], 3) << "second check: field 3";
    EXPECT_EQ(PxGetU16(val.data() + 0x35 + 2 * 0x1D), 3) << "footer: field count";
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("REQ");
    std::vector<bool> flags;
    for (const auto& f : t->Fields()) flags.push_back(f.required);
    EXPECT_EQ(flags, (std::vector<bool>{true, false, true}));
    const auto before = test::TakeSnapshot(dir.Path());
    EXPECT_THROW(t->Insert({rtl::Variant("000100000001"), rtl::Variant("x"), rtl::Variant::Null()}), EPxError);
    EXPECT_THROW(t->Insert({rtl::Variant::Null(), rtl::Variant("x"), rtl::Variant(rtl::ByteArray{1})}), EPxError);
    EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
    const auto row = t->Insert({rtl::Variant("000100000001"), rtl::Variant::Null(), rtl::Variant(rtl::ByteArray{1})});
    EXPECT_THROW(t->Update(row, {{2, rtl::Variant::Null()}}), EPxError);
}

TEST(PxWrite, ValueErrorsChangeNothing)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"NAME", PxFieldType::Alpha, 4}};
    auto t = db.CreateTable("VALS", s);
    t->Insert({rtl::Variant(1), rtl::Variant("ok")});
    const auto before = test::TakeSnapshot(dir.Path());
    const struct {
        const char* what;
        std::vector<rtl::Variant> values;
    } cases[] = {
        {"text too long", {rtl::Variant(2), rtl::Variant("toolong")}},
        {"text outside the code page", {rtl::Variant(2), rtl::Variant("\xe4\xb8\xad")}},
        {"wrong number of values", {rtl::Variant(2)}},
        {"number out of range", {rtl::Variant(static_cast<std::int64_t>(1) << 40), rtl::Variant("x")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(t->Insert(c.values), EPxError);
        EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
    }
    EXPECT_EQ(t->RecordCount(), 1);
}

} // namespace
} // namespace bde
