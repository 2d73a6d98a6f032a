// A failure at any write (an I/O error, a full disk, the process killed there,
// a write torn in half) leaves every table as it was before the change, byte
// for byte, readable by pxlib and with its indexes equal to a rebuild; a
// change that reported success is all there.
#include <gtest/gtest.h>

#include <functional>

#include "platform/bde/PxDatabase.h"
#include "platform/rtl/TextUtils.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::FaultyFileSystem;
using test::Snapshot;
using test::TempFolder;

rtl::Variant Memo(int id) { return rtl::Variant(std::string(static_cast<std::size_t>(id * 37 % 3000), 'm')); }

// Two tables: MAIN (keyed, two secondary indexes, memos, 1 KiB blocks of
// 8 records) and SECOND (unkeyed).
void MakeTables(const std::string& folder)
{
    PxDatabase db(folder);
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"NAME", PxFieldType::Alpha, 100}, {"GRP", PxFieldType::Short, 0},
                {"NOTE", PxFieldType::Memo, 5}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"GRP"}}, {"ByName", {"NAME", "GRP"}}};
    PxCreateOptions o;
    o.blockSize = 1024;
    auto t = db.CreateTable("MAIN", s, o);
    for (int id = 10; id <= 400; id += 10)
        t->Insert({rtl::Variant(id), rtl::Variant("name " + rtl::IntToStr(id)), rtl::Variant::SmallInt(static_cast<std::int16_t>(id % 3)), Memo(id)});
    PxTableSpec u;
    u.fields = {{"N", PxFieldType::Long, 0}, {"TEXT", PxFieldType::Alpha, 20}};
    auto t2 = db.CreateTable("SECOND", u);
    for (int i = 0; i < 5; ++i) t2->Insert({rtl::Variant(i), rtl::Variant("row")});
}

rtl::RefPtr<PxTable> Main(PxDatabase& db) { return db.OpenTable("MAIN"); }

PxTable::RowId Row(PxDatabase& db, int id) { return *Main(db)->Seek({rtl::Variant(id)}); }

struct Scenario {
    const char* name;
    std::function<void(PxDatabase&)> run;
    std::size_t cacheBytes = 0; // the folder's cache (0: the default)
};

const std::vector<Scenario>& Scenarios()
{
    static const std::vector<Scenario> all = {
        {"insert that splits a block", [](PxDatabase& db) {
             Main(db)->Insert({rtl::Variant(15), rtl::Variant("new"), rtl::Variant::SmallInt(1), rtl::Variant(std::string(5000, 'b'))});
         }},
        {"key change that moves a record", [](PxDatabase& db) {
             Main(db)->Update(Row(db, 20), {{0, rtl::Variant(395)}, {1, rtl::Variant("moved")}});
         }},
        {"delete", [](PxDatabase& db) { Main(db)->Delete(Row(db, 200)); }},
        {"blob rewrite", [](PxDatabase& db) { Main(db)->Update(Row(db, 30), {{3, rtl::Variant(std::string(9000, 'q'))}}); }},
        {"secondary key change", [](PxDatabase& db) { Main(db)->Update(Row(db, 40), {{2, rtl::Variant::SmallInt(9)}}); }},
        {"create table", [](PxDatabase& db) {
             PxTableSpec s;
             s.fields = {{"K", PxFieldType::Alpha, 12}, {"V", PxFieldType::Blob, 0}};
             s.keyFieldCount = 1;
             s.secondaryIndexes = {{"", {"V2"}}};
             s.fields.push_back({"V2", PxFieldType::Long, 0});
             db.CreateTable("NEWT", s);
         }},
        {"drop table", [](PxDatabase& db) { db.DropTable("SECOND"); }},
        {"rename table", [](PxDatabase& db) { db.RenameTable("SECOND", "THIRD"); }},
        {"transaction over two tables", [](PxDatabase& db) {
             db.StartTransaction();
             for (int id = 10; id <= 80; id += 10) Main(db)->Delete(Row(db, id)); // empties the first block
             auto second = db.OpenTable("SECOND");
             second->Update(second->Rows().at(2), {{1, rtl::Variant("changed")}});
             Main(db)->Insert({rtl::Variant(1), rtl::Variant("first"), rtl::Variant::SmallInt(2), Memo(1)});
             db.Commit();
         }},
        // Four blocks of cache: the changes go out several times before the
        // commit, each time after their undo images.
        {"transaction larger than the cache", [](PxDatabase& db) {
             db.StartTransaction();
             for (int id = 10; id <= 400; id += 10)
                 Main(db)->Update(Row(db, id), {{1, rtl::Variant("renamed " + rtl::IntToStr(id))}, {2, rtl::Variant::SmallInt(5)}});
             for (int id = 100; id <= 200; id += 20) Main(db)->Delete(Row(db, id));
             for (int id = 401; id <= 420; ++id)
                 Main(db)->Insert({rtl::Variant(id), rtl::Variant("added"), rtl::Variant::SmallInt(1), Memo(id)});
             db.Commit();
         }, 4096},
    };
    return all;
}

std::size_t PxlibRowCount(const std::string& folder, const std::string& table)
{
    PxDatabase db(folder);
    const auto fam = db.Family(table);
    const auto px = test::PxlibRead(folder + "/" + fam.db, fam.mb.empty() ? "" : folder + "/" + fam.mb);
    EXPECT_TRUE(px.opened) << table;
    for (const auto& r : px.rows) EXPECT_NE(r.at(0), "<unreadable>") << table;
    return px.rows.size();
}

struct Mode {
    const char* name;
    bool dead;
    bool torn;
};

class PxCrash : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PxCrash, AFailureAtAnyWriteLeavesTheTablesAsTheyWere)
{
    const Scenario& sc = Scenarios()[GetParam()];
    SCOPED_TRACE(sc.name);
    TempFolder base;
    MakeTables(base.Path());
    const Snapshot before = test::TakeSnapshot(base.Path());
    // The change without a failure: how many writes it makes, and its result.
    long writes = 0;
    Snapshot after;
    {
        TempFolder dir;
        test::RestoreSnapshot(dir.Path(), before);
        FaultyFileSystem fs;
        PxOpenOptions o;
        o.fileSystem = &fs;
        o.cacheBytes = sc.cacheBytes;
        {
            PxDatabase db(dir.Path(), o);
            fs.Reset(0, false, false);
            sc.run(db);
            writes = fs.count;
        }
        after = test::TakeSnapshot(dir.Path());
    }
    ASSERT_GT(writes, 3);
    const Mode modes[] = {{"I/O error", false, false}, {"process killed", true, false}, {"torn write, killed", true, true}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        for (long n = 1; n <= writes; ++n) {
            SCOPED_TRACE("failing write " + rtl::IntToStr(n) + " of " + rtl::IntToStr(writes));
            TempFolder dir;
            test::RestoreSnapshot(dir.Path(), before);
            FaultyFileSystem fs;
            PxOpenOptions o;
            o.fileSystem = &fs;
            o.cacheBytes = sc.cacheBytes;
            bool failed = false;
            {
                PxDatabase db(dir.Path(), o);
                fs.Reset(n, m.dead, m.torn);
                try {
                    sc.run(db);
                } catch (const EPxError&) {
                    failed = true;
                }
                if (!m.dead && failed) {
                    // The engine itself is back where it started.
                    fs.Reset(0, false, false);
                    if (db.InTransaction()) db.Rollback();
                    EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
                    EXPECT_EQ(db.OpenTable("MAIN")->RecordCount(), 40);
                }
            }
            // The next open of the folder rolls back what was left.
            { PxDatabase reopened(dir.Path()); }
            const Snapshot now = test::TakeSnapshot(dir.Path());
            if (failed) {
                ASSERT_EQ(now, before);
            } else {
                ASSERT_EQ(now, after);
            }
        }
    }
    // Both end states read cleanly.
    for (const Snapshot* s : std::vector<const Snapshot*>{&before, &after}) {
        TempFolder dir;
        test::RestoreSnapshot(dir.Path(), *s);
        PxDatabase db(dir.Path());
        for (const auto& name : db.TableNames()) {
            auto t = db.OpenTable(name);
            EXPECT_EQ(t->VerifyIndexes(), "") << name;
            EXPECT_EQ(PxlibRowCount(dir.Path(), name), static_cast<std::size_t>(t->RecordCount())) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, PxCrash, ::testing::Range<std::size_t>(0, 10),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string n = Scenarios()[info.param].name;
                             for (char& c : n)
                                 if (!rtl::IsCharAlphaNumeric(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(PxTransaction, RollbackRestoresEveryTable)
{
    TempFolder dir;
    MakeTables(dir.Path());
    const Snapshot before = test::TakeSnapshot(dir.Path());
    PxDatabase db(dir.Path());
    db.StartTransaction();
    EXPECT_TRUE(db.InTransaction());
    Main(db)->Insert({rtl::Variant(5), rtl::Variant("x"), rtl::Variant::SmallInt(0), Memo(5)});
    Main(db)->Delete(Row(db, 100));
    db.OpenTable("SECOND")->Insert({rtl::Variant(9), rtl::Variant("y")});
    EXPECT_EQ(Main(db)->RecordCount(), 40) << "the transaction's changes are visible inside it";
    db.Rollback();
    EXPECT_FALSE(db.InTransaction());
    EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
    EXPECT_EQ(Main(db)->RecordCount(), 40);
    EXPECT_TRUE(Main(db)->Seek({rtl::Variant(100)}).has_value());
    EXPECT_FALSE(Main(db)->Seek({rtl::Variant(5)}).has_value());
}

TEST(PxTransaction, AFailedWriteEndsItsTransaction)
{
    // Changes reach the files before the commit only when they outgrow the cache.
    test::SmallCache cache(1);
    TempFolder dir;
    MakeTables(dir.Path());
    const Snapshot before = test::TakeSnapshot(dir.Path());
    FaultyFileSystem fs;
    PxOpenOptions o;
    o.fileSystem = &fs;
    PxDatabase db(dir.Path(), o);
    db.StartTransaction();
    Main(db)->Delete(Row(db, 100));
    fs.Reset(2, false, false);
    EXPECT_THROW(Main(db)->Delete(Row(db, 110)), EPxError);
    fs.Reset(0, false, false);
    EXPECT_TRUE(db.InTransaction());
    EXPECT_EQ(test::TakeSnapshot(dir.Path()), before) << "the whole transaction was rolled back";
    EXPECT_THROW(Main(db)->Delete(Row(db, 120)), EPxError) << "no change before the transaction ends";
    EXPECT_THROW(db.Commit(), EPxError);
    db.Rollback();
    Main(db)->Delete(Row(db, 120));
    EXPECT_EQ(Main(db)->RecordCount(), 39);
}

TEST(PxTransaction, StartCommitAndRollbackInTheWrongState)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    EXPECT_THROW(db.Commit(), EPxError);
    EXPECT_THROW(db.Rollback(), EPxError);
    db.StartTransaction();
    EXPECT_THROW(db.StartTransaction(), EPxError);
    db.Commit();
    EXPECT_FALSE(db.InTransaction());
}

} // namespace
} // namespace bde
