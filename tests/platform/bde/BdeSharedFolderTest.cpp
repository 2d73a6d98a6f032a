// Two database objects on one folder (the spatial and the semantic half of a
// pair kept together) in one transaction: the second joins the first's, a
// commit only leaves it until the last one commits, any rollback undoes the
// whole unit and ends the others' part, and a database outside the
// transaction cannot change the folder.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "BdeTestSupport.h"
#include "platform/bde/BdePxStore.h"

namespace bde::test {
namespace {

using rtl::Variant;

const char* const kRolledBack = "was rolled back by another database";
const char* const kForeign = "in a transaction of another database";

// The folder with the keyed tables S and M (a row 1 in each), and a second
// database object on it beside the fixture's own.
class SharedFolder {
public:
    SharedFolder()
    {
        f.CreateKeyed("S");
        f.CreateKeyed("M");
        f.Exec(R"(INSERT INTO "S" ("ID", "NAME") VALUES (1, 'one'))");
        f.Exec(R"(INSERT INTO "M" ("ID", "NAME") VALUES (1, 'one'))");
        f.Connect(semantic, f.folder.Path());
    }

    int Exec(TBdeDatabase& db, const std::string& sql, const std::vector<Variant>& values = {})
    {
        TBdeQuery q;
        f.Bind(q, db);
        q.SetSQL(sql);
        for (std::size_t i = 0; i < values.size(); ++i) q.Params()[static_cast<int>(i)].SetValue(values[i]);
        q.ExecSQL();
        return q.RowsAffected();
    }
    void Insert(TBdeDatabase& db, const char* table, int id)
    {
        Exec(db, std::string(R"(INSERT INTO ")") + table + R"(" ("ID", "NAME") VALUES (:PARAM0, 'new'))",
             {Variant(std::int32_t(id))});
    }
    // The IDs of a table as the database reads them.
    TextRows Ids(TBdeDatabase& db, const char* table)
    {
        TBdeQuery q;
        f.Bind(q, db);
        q.SetSQL(std::string(R"(SELECT "ID" FROM ")") + table + R"(" ORDER BY "ID")");
        q.Open();
        return BdeFolder::ReadAll(q);
    }
    // The IDs of both tables of a copy of the folder's files, opened the way
    // the next process would open them (a journal left there is rolled back).
    std::pair<TextRows, TextRows> IdsOfImage(const Snapshot& files)
    {
        TempFolder image;
        RestoreSnapshot(image.Path(), files);
        TBdeDatabase d;
        f.Connect(d, image.Path());
        return {Ids(d, "S"), Ids(d, "M")};
    }

    BdeFolder f;
    TBdeDatabase& spatial = f.db;
    TBdeDatabase semantic;
};

// What fn raises ("" when nothing).
std::string Raised(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SharedTransaction, TheLastCommitCommitsBothDatabasesChanges)
{
    // Changes reach the files before the commit only when they outgrow the cache.
    SmallCache cache(1);
    SharedFolder s;
    s.spatial.StartTransaction();
    s.semantic.StartTransaction();
    EXPECT_TRUE(s.spatial.InTransaction());
    EXPECT_TRUE(s.semantic.InTransaction());
    s.Insert(s.spatial, "S", 2);
    s.Insert(s.semantic, "M", 2);
    s.Exec(s.semantic, R"(UPDATE "S" SET "NAME" = 'changed' WHERE "ID" = 1)");

    // The first commit only leaves: the folder is still in the transaction,
    // which the database that left can no longer change.
    s.semantic.Commit();
    EXPECT_FALSE(s.semantic.InTransaction());
    EXPECT_TRUE(s.spatial.InTransaction());
    EXPECT_TRUE(Has(Raised([&] { s.Insert(s.semantic, "M", 3); }), kForeign));
    const Snapshot afterLeaving = TakeSnapshot(s.f.folder.Path());
    ASSERT_TRUE(afterLeaving.count("PXUNDO.JNL"));

    s.spatial.Commit();
    EXPECT_FALSE(s.spatial.InTransaction());
    const Snapshot afterCommit = TakeSnapshot(s.f.folder.Path());
    EXPECT_FALSE(afterCommit.count("PXUNDO.JNL"));

    // A process stopped after the first commit loses both halves; after the
    // last one it keeps both.
    EXPECT_EQ(s.IdsOfImage(afterLeaving), std::make_pair(TextRows{{"1"}}, TextRows{{"1"}}));
    EXPECT_EQ(s.IdsOfImage(afterCommit), std::make_pair(TextRows{{"1"}, {"2"}}, TextRows{{"1"}, {"2"}}));
    EXPECT_EQ(PxlibRows(s.f.folder.File("S.DB")), (TextRows{{"1", "changed", "NULL"}, {"2", "new", "NULL"}}));
    EXPECT_EQ(PxlibRows(s.f.folder.File("M.DB")), (TextRows{{"1", "one", "NULL"}, {"2", "new", "NULL"}}));
}

// A participant's commit that only left does not save its changes from the
// last participant's rollback.
TEST(SharedTransaction, ARollbackAfterTheOtherLeftUndoesItsChangesToo)
{
    SharedFolder s;
    s.spatial.StartTransaction();
    s.semantic.StartTransaction();
    s.Insert(s.semantic, "M", 2);
    s.semantic.Commit();
    s.Insert(s.spatial, "S", 2);
    s.spatial.Rollback();
    EXPECT_FALSE(s.semantic.TransactionLost());
    EXPECT_EQ(s.Ids(s.semantic, "M"), (TextRows{{"1"}}));
    EXPECT_EQ(s.Ids(s.semantic, "S"), (TextRows{{"1"}}));
    EXPECT_FALSE(TakeSnapshot(s.f.folder.Path()).count("PXUNDO.JNL"));
}

TEST(SharedTransaction, ARollbackThroughEitherUndoesTheUnitAndEndsTheOthersPart)
{
    struct Case {
        const char* name;
        bool starterRollsBack;
        bool otherEndsWithCommit;
    };
    const Case cases[] = {
        {"starter rolls back, other commits", true, true},
        {"starter rolls back, other rolls back", true, false},
        {"joiner rolls back, other commits", false, true},
        {"joiner rolls back, other rolls back", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedFolder s;
        s.spatial.StartTransaction();
        s.semantic.StartTransaction();
        s.Insert(s.spatial, "S", 2);
        s.Insert(s.semantic, "M", 2);
        s.Exec(s.semantic, R"(DELETE FROM "S" WHERE "ID" = 1)");
        TBdeDatabase& roller = c.starterRollsBack ? s.spatial : s.semantic;
        TBdeDatabase& other = c.starterRollsBack ? s.semantic : s.spatial;

        roller.Rollback();
        EXPECT_EQ(s.Ids(other, "S"), (TextRows{{"1"}}));
        EXPECT_EQ(s.Ids(other, "M"), (TextRows{{"1"}}));
        EXPECT_FALSE(roller.InTransaction());
        EXPECT_FALSE(other.InTransaction());
        EXPECT_TRUE(other.TransactionLost());
        // Until the other ends its part, it neither changes the folder nor
        // starts again.
        EXPECT_TRUE(Has(Raised([&] { s.Insert(other, "M", 3); }), kRolledBack));
        EXPECT_TRUE(Has(Raised([&] { other.StartTransaction(); }), kRolledBack));
        EXPECT_EQ(s.Ids(roller, "M"), (TextRows{{"1"}}));

        if (c.otherEndsWithCommit) {
            const std::string error = Raised([&] { other.Commit(); });
            EXPECT_TRUE(Has(error, kRolledBack)) << error;
            EXPECT_TRUE(Has(error, "\"" + s.f.folder.Path() + "\"")) << error;
        } else {
            EXPECT_EQ(Raised([&] { other.Rollback(); }), "");
        }
        EXPECT_FALSE(other.TransactionLost());
        EXPECT_THROW(other.Commit(), EPxError); // no transaction any more
        EXPECT_FALSE(TakeSnapshot(s.f.folder.Path()).count("PXUNDO.JNL"));

        // Both start afresh, in either order.
        other.StartTransaction();
        roller.StartTransaction();
        s.Insert(roller, "S", 4);
        s.Insert(other, "M", 4);
        roller.Commit();
        other.Commit();
        EXPECT_EQ(s.Ids(roller, "M"), (TextRows{{"1"}, {"4"}}));
        EXPECT_EQ(s.Ids(other, "S"), (TextRows{{"1"}, {"4"}}));
    }
}

// A database that did not join cannot slip a change into the transaction,
// whatever way it changes a table; it reads as before.
TEST(SharedTransaction, ADatabaseOutsideTheTransactionCannotChangeTheFolder)
{
    SharedFolder s;
    s.spatial.StartTransaction();
    s.Insert(s.spatial, "S", 2);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"insert", [&] { s.Insert(s.semantic, "M", 3); }},
        {"update", [&] { s.Exec(s.semantic, R"(UPDATE "M" SET "NAME" = 'x')"); }},
        {"delete", [&] { s.Exec(s.semantic, R"(DELETE FROM "S")"); }},
        {"table object append",
         [&] {
             TBdeTable t;
             s.f.Bind(t, s.semantic);
             t.SetTableName("M");
             t.Open();
             t.Append();
             t.Field(0).SetValue(Variant(std::int32_t(5)));
             t.Post();
         }},
        {"commit", [&] { s.semantic.Commit(); }},
        {"rollback", [&] { s.semantic.Rollback(); }},
    };
    for (const auto& [name, change] : changes) {
        const std::string error = Raised(change);
        EXPECT_TRUE(Has(error, kForeign)) << name << ": " << error;
    }
    EXPECT_EQ(s.Ids(s.semantic, "S"), (TextRows{{"1"}, {"2"}}));
    EXPECT_EQ(s.Ids(s.semantic, "M"), (TextRows{{"1"}}));
    s.spatial.Rollback();
    EXPECT_FALSE(s.semantic.TransactionLost());
    EXPECT_EQ(s.Ids(s.semantic, "S"), (TextRows{{"1"}}));
    s.Insert(s.semantic, "M", 3);
    EXPECT_EQ(s.Ids(s.spatial, "M"), (TextRows{{"1"}, {"3"}}));
}

// A participant that goes away without a commit takes the unit with it, so
// that the remaining one cannot commit half of it; the last one going away
// rolls back what the others left to it.
TEST(SharedTransaction, AParticipantGoneWithoutCommitRollsBackTheUnit)
{
    enum class Gone { JoinerClosed, StarterDestroyed, LastAfterTheOtherLeft };
    struct Case {
        const char* name;
        Gone gone;
    };
    const Case cases[] = {
        {"joiner closed", Gone::JoinerClosed},
        {"starter destroyed", Gone::StarterDestroyed},
        {"last one closed after the other left", Gone::LastAfterTheOtherLeft},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedFolder s;
        auto starter = std::make_unique<TBdeDatabase>();
        s.f.Connect(*starter, s.f.folder.Path());
        starter->StartTransaction();
        s.semantic.StartTransaction();
        s.Insert(*starter, "S", 2);
        s.Insert(s.semantic, "M", 2);
        TBdeDatabase* remaining = &s.semantic;
        switch (c.gone) {
        case Gone::JoinerClosed:
            s.semantic.Close();
            remaining = starter.get();
            break;
        case Gone::StarterDestroyed: starter.reset(); break;
        case Gone::LastAfterTheOtherLeft:
            starter->Commit();
            s.semantic.Close();
            remaining = starter.get();
            break;
        }
        EXPECT_EQ(s.Ids(s.spatial, "S"), (TextRows{{"1"}}));
        EXPECT_EQ(s.Ids(s.spatial, "M"), (TextRows{{"1"}}));
        EXPECT_FALSE(TakeSnapshot(s.f.folder.Path()).count("PXUNDO.JNL"));
        EXPECT_FALSE(remaining->InTransaction());
        if (c.gone == Gone::LastAfterTheOtherLeft) {
            EXPECT_FALSE(remaining->TransactionLost());
        } else {
            EXPECT_TRUE(remaining->TransactionLost());
            EXPECT_TRUE(Has(Raised([&] { remaining->Commit(); }), kRolledBack));
        }
    }
}

// The store's handles themselves: a statement's own unit never joins, a
// handle dropped while taking part takes the unit with it, and the others
// hear that the folder was read again.
TEST(SharedStore, HandlesJoinOnlyWhenAskedAndAGoneParticipantTakesTheUnit)
{
    BdeFolder f;
    f.CreateKeyed("T");
    f.db.Close();
    const std::unique_ptr<IBdePxStore> a = BdeOpenPxStore(f.folder.Path());
    std::unique_ptr<IBdePxStore> b = BdeOpenPxStore(f.folder.Path());
    int rereads = 0;
    a->SetOnReread([&] { ++rereads; });
    const std::vector<Variant> row = {Variant(std::int32_t(1)), Variant("x"), Variant::Null()};

    a->StartTransaction();
    EXPECT_TRUE(Has(Raised([&] { b->StartTransaction(); }), kForeign));
    EXPECT_TRUE(Has(Raised([&] { b->Table("T").Insert(row); }), kForeign));
    EXPECT_FALSE(b->InTransaction());
    b->JoinTransaction();
    EXPECT_TRUE(b->InTransaction());
    b->Table("T").Insert(row);
    EXPECT_EQ(a->Table("T").RecordCount(), 1);

    b.reset();
    EXPECT_EQ(rereads, 1);
    EXPECT_FALSE(a->InTransaction());
    EXPECT_TRUE(a->TransactionLost());
    EXPECT_EQ(a->Table("T").RecordCount(), 0);
    EXPECT_TRUE(Has(Raised([&] { a->Commit(); }), kRolledBack));
    EXPECT_FALSE(a->TransactionLost());
    a->Table("T").Insert(row);
    EXPECT_EQ(a->Table("T").RecordCount(), 1);
}

// Row ids read before another database rolled the folder back are not used
// after it: that database's open cursors stop, new ones read the folder.
TEST(SharedTransaction, TheOtherDatabasesCursorsStopAfterARollback)
{
    SharedFolder s;
    s.spatial.StartTransaction();
    s.semantic.StartTransaction();
    s.Insert(s.spatial, "S", 0);
    TBdeQuery q;
    s.f.Bind(q, s.semantic);
    q.SetSQL(R"(SELECT "ID" FROM "S")");
    q.Open();
    TBdeTable t;
    s.f.Bind(t, s.semantic);
    t.SetTableName("S");
    t.Open();
    s.spatial.Rollback();
    EXPECT_THROW(q.Next(), EBdeError);
    EXPECT_THROW(t.Next(), EBdeError);
    q.Close();
    q.Open();
    EXPECT_EQ(BdeFolder::ReadAll(q), (TextRows{{"1"}}));
}

} // namespace
} // namespace bde::test
