// Session and database objects: connecting, the table list, transactions
// over the tables of a folder and what a stopped process leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "BdeTestSupport.h"
#include "platform/rtl/TextUtils.h"

namespace bde::test {
namespace {

using rtl::Variant;

// ---- sessions ---------------------------------------------------------------------------------

TEST(Sessions, NamesAreUniqueAndFound)
{
    TBdeSession a;
    const std::string name = UniqueName("Session");
    a.SetSessionName(name);
    EXPECT_EQ(TBdeSession::Find(name), &a);
    EXPECT_EQ(TBdeSession::Find(rtl::LowerCase(name)), &a);
    TBdeSession b;
    EXPECT_THROW(b.SetSessionName(rtl::LowerCase(name)), EBdeError);
    {
        TBdeSession gone;
        gone.SetSessionName(name + "x");
    }
    EXPECT_EQ(TBdeSession::Find(name + "x"), nullptr);
}

TEST(Sessions, CloseDisconnectsItsDatabases)
{
    BdeFolder f;
    TBdeDatabase other;
    TempFolder second;
    f.Connect(other, second.Path());
    EXPECT_TRUE(f.session.Active());
    f.session.Close();
    EXPECT_FALSE(f.db.Connected());
    EXPECT_FALSE(other.Connected());
    EXPECT_FALSE(f.session.Active());
}

// ---- connecting ------------------------------------------------------------------------------

struct ConnectCase {
    const char* name;
    std::function<void(TBdeDatabase&, const std::string& folder)> setup;
    const char* message;
};

TEST(Connect, RefusesWhatItCannotOpen)
{
    BdeFolder f;
    const ConnectCase cases[] = {
        {"other driver", [](TBdeDatabase& d, const std::string&) { d.SetDriverName("MSSQL"); },
         "Driver \"MSSQL\""},
        {"no driver", [](TBdeDatabase& d, const std::string&) { d.SetDriverName(""); }, "neither a driver"},
        {"alias", [](TBdeDatabase& d, const std::string&) { d.SetAliasName("DBDEMOS"); }, "Alias \"DBDEMOS\""},
        {"no path", [](TBdeDatabase& d, const std::string&) { d.Params().clear(); }, "PATH"},
        {"empty path", [](TBdeDatabase& d, const std::string&) { d.Params() = {"PATH="}; }, "PATH"},
        {"missing folder",
         [](TBdeDatabase& d, const std::string& folder) { d.Params() = {"PATH=" + folder + "/nothing"}; },
         "does not exist"},
        {"unknown session", [](TBdeDatabase& d, const std::string&) { d.SetSessionName("NoSuchSession"); },
         "Session \"NoSuchSession\""},
        {"name connected already", [&](TBdeDatabase& d, const std::string&) { d.SetDatabaseName(f.db.DatabaseName()); },
         "connected already"},
    };
    for (const ConnectCase& c : cases) {
        TBdeDatabase d;
        d.SetSessionName(f.session.SessionName());
        d.SetDatabaseName(UniqueName("Db"));
        d.SetDriverName("STANDARD");
        d.Params() = {"PATH=" + f.folder.Path()};
        c.setup(d, f.folder.Path());
        try {
            d.Open();
            ADD_FAILURE() << c.name << ": opened";
        } catch (const rtl::Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_FALSE(d.Connected()) << c.name;
    }
}

TEST(Connect, ReopensOnAnotherFolderAndRefusesChangesWhileConnected)
{
    BdeFolder f;
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID") VALUES(1))");
    EXPECT_THROW(f.db.SetDatabaseName("Other"), EBdeError);
    EXPECT_THROW(f.db.SetDriverName("X"), EBdeError);
    f.db.Close();
    EXPECT_FALSE(f.db.Connected());
    TempFolder other;
    f.db.Params() = {"PATH=" + other.Path()};
    f.db.Open();
    EXPECT_TRUE(f.db.GetTableNames().empty());
    f.db.Close();
    f.db.Params() = {"PATH=" + f.folder.Path()};
    f.db.Open();
    EXPECT_EQ(f.Rows(R"(SELECT "ID" FROM "T")"), (TextRows{{"1"}}));
}

TEST(Connect, ListsTheTablesOfTheFolder)
{
    BdeFolder f;
    f.CreateKeyed("B");
    f.CreateKeyed("a");
    std::filesystem::copy_file(f.folder.File("B.DB"), f.folder.File("c.db"));
    WriteFileBytes(f.folder.File("notes.txt"), {'x'});
    EXPECT_EQ(f.db.GetTableNames(), (std::vector<std::string>{"a", "B", "c"}));
    // A table whose files have lower-case names is found by any case.
    EXPECT_EQ(f.Rows(R"(SELECT count(*) FROM "C")"), (TextRows{{"0"}}));
}

// A table that another engine wrote encrypted.
void WriteEncrypted(const std::string& dbPath, const char* password)
{
    pxdoc_t* px = PX_new();
    auto* f = static_cast<pxfield_t*>(px->malloc(px, sizeof(pxfield_t), "fields"));
    f[0].px_fname = PX_strdup(px, "ID");
    f[0].px_ftype = pxfLong;
    f[0].px_flen = 4;
    f[0].px_fdc = 0;
    ASSERT_GE(PX_create_file(px, f, 1, dbPath.c_str(), pxfFileTypNonIndexDB), 0);
    PX_set_parameter(px, "password", password);
    pxval_t* v = nullptr;
    MAKE_PXVAL(px, v);
    v->type = pxfLong;
    v->value.lval = 1;
    ASSERT_GE(PX_insert_record(px, &v), 0);
    px->free(px, v);
    PX_close(px);
    PX_delete(px);
}

// An encrypted table opens with a password of the session the database was
// connected in; without one it fails with its name.
TEST(Connect, EncryptedTableOpensWithTheSessionsPassword)
{
    BdeFolder f;
    WriteEncrypted(f.folder.File("SECRET.DB"), "letmein");
    TBdeQuery plain;
    f.Bind(plain, f.db);
    plain.SetSQL(R"(SELECT * FROM "SECRET")");
    try {
        plain.Open();
        ADD_FAILURE() << "opened";
    } catch (const EPxEncrypted& e) {
        EXPECT_NE(std::string(e.what()).find("\"SECRET\" is encrypted"), std::string::npos) << e.what();
    }
    f.session.AddPassword("wrong");
    f.session.AddPassword("letmein");
    TBdeDatabase withPassword;
    f.Connect(withPassword, f.folder.Path());
    TBdeQuery q;
    f.Bind(q, withPassword);
    q.SetSQL(R"(SELECT * FROM "SECRET")");
    q.Open();
    EXPECT_EQ(BdeFolder::ReadAll(q), (TextRows{{"1"}}));
    EXPECT_EQ(f.db.GetTableNames(), (std::vector<std::string>{"SECRET"}));
}

// ---- transactions ------------------------------------------------------------------------------

void FillTwoTables(BdeFolder& f)
{
    f.CreateKeyed("A");
    f.CreateTable("B", {{"ID", ftString, 10, true}, {"DATA", ftBlob, 0}, {"M", ftMemo, 5}},
                  {{"", "ID", ixPrimary | ixUnique}});
    for (int i = 1; i <= 20; ++i)
        f.Exec(R"(INSERT INTO "A" ("ID","NAME","N") VALUES(:PARAM0,:PARAM1,:PARAM2))",
               {Variant(i * 2), Variant("name" + rtl::IntToStr(i)), Variant(i)});
    for (int i = 1; i <= 5; ++i)
        f.Exec(R"(INSERT INTO "B" ("ID","DATA","M") VALUES(:PARAM0,:PARAM1,:PARAM2))",
               {Variant("k" + rtl::IntToStr(i)), Variant(rtl::ByteArray(3000, static_cast<std::uint8_t>(i))),
                Variant(std::string(100, 'm'))});
}

// Changes of every kind to both tables.
void ChangeTwoTables(BdeFolder& f)
{
    f.Exec(R"(UPDATE "A" SET "ID" = "ID" + 1 WHERE "ID" > 20)");
    f.Exec(R"(DELETE FROM "A" WHERE "ID" < 10)");
    f.Exec(R"(INSERT INTO "A" ("ID","NAME") VALUES(1000,'new'))");
    f.Exec(R"(UPDATE "B" SET "DATA" = :PARAM0 WHERE "ID" = 'k2')", {Variant(rtl::ByteArray(9000, 7))});
    f.Exec(R"(DELETE FROM "B" WHERE "ID" = 'k3')");
    f.Exec(R"(UPDATE "B" SET "ID" = 'k0' WHERE "ID" = 'k5')");
}

Snapshot WithoutJournal(Snapshot s)
{
    s.erase("PXUNDO.JNL");
    return s;
}

TEST(Transactions, RollbackRestoresEveryFileExactly)
{
    BdeFolder f;
    FillTwoTables(f);
    const Snapshot before = TakeSnapshot(f.folder.Path());
    const TextRows rowsA = f.Rows(R"(SELECT * FROM "A")");
    EXPECT_FALSE(f.db.InTransaction());
    f.db.StartTransaction();
    EXPECT_TRUE(f.db.InTransaction());
    ChangeTwoTables(f);
    EXPECT_NE(f.Rows(R"(SELECT * FROM "A")"), rowsA);
    f.db.Rollback();
    EXPECT_FALSE(f.db.InTransaction());
    EXPECT_EQ(WithoutJournal(TakeSnapshot(f.folder.Path())), before);
    EXPECT_EQ(f.Rows(R"(SELECT * FROM "A")"), rowsA);
}

TEST(Transactions, CommitKeepsTheChangesOfBothTables)
{
    BdeFolder f;
    FillTwoTables(f);
    f.db.StartTransaction();
    ChangeTwoTables(f);
    const TextRows rowsA = f.Rows(R"(SELECT * FROM "A")");
    const TextRows rowsB = f.Rows(R"(SELECT "ID", length("DATA") FROM "B")");
    f.db.Commit();
    EXPECT_FALSE(f.db.InTransaction());
    EXPECT_FALSE(std::filesystem::exists(f.folder.File("PXUNDO.JNL")));
    // Another connection to the folder reads the committed rows.
    TBdeDatabase again;
    f.Connect(again, f.folder.Path());
    TBdeQuery q;
    f.Bind(q, again);
    q.SetSQL(R"(SELECT "ID", length("DATA") FROM "B")");
    q.Open();
    EXPECT_EQ(BdeFolder::ReadAll(q), rowsB);
    EXPECT_EQ(rowsB, (TextRows{{"k0", "3000"}, {"k1", "3000"}, {"k2", "9000"}, {"k4", "3000"}}));
    EXPECT_EQ(PxlibRows(f.folder.File("A.DB")), rowsA);
}

TEST(Transactions, StateErrors)
{
    BdeFolder f;
    EXPECT_THROW(f.db.Commit(), EPxError);
    EXPECT_THROW(f.db.Rollback(), EPxError);
    f.db.StartTransaction();
    EXPECT_THROW(f.db.StartTransaction(), EPxError);
    f.db.Commit();
    TBdeDatabase closed;
    EXPECT_FALSE(closed.InTransaction());
    EXPECT_THROW(closed.StartTransaction(), EBdeError);
}

TEST(Transactions, CloseRollsBackAnOpenTransaction)
{
    BdeFolder f;
    FillTwoTables(f);
    const Snapshot before = TakeSnapshot(f.folder.Path());
    f.db.StartTransaction();
    ChangeTwoTables(f);
    f.db.Close();
    EXPECT_EQ(WithoutJournal(TakeSnapshot(f.folder.Path())), before);
}

// A process stopped in the middle of a transaction leaves the changed files
// and the journal; the next connection to the folder puts the files back.
TEST(Transactions, StoppedProcessIsRolledBackOnNextOpen)
{
    // Changes reach the files before the commit only when they outgrow the cache.
    SmallCache cache(1);
    BdeFolder f;
    FillTwoTables(f);
    const Snapshot before = TakeSnapshot(f.folder.Path());
    const TextRows rowsA = f.Rows(R"(SELECT * FROM "A")");
    f.db.StartTransaction();
    ChangeTwoTables(f);
    const Snapshot stopped = TakeSnapshot(f.folder.Path());
    ASSERT_TRUE(stopped.count("PXUNDO.JNL"));
    f.db.Rollback();

    TempFolder image;
    RestoreSnapshot(image.Path(), stopped);
    TBdeDatabase d;
    f.Connect(d, image.Path());
    EXPECT_EQ(TakeSnapshot(image.Path()), before);
    TBdeQuery q;
    f.Bind(q, d);
    q.SetSQL(R"(SELECT * FROM "A")");
    q.Open();
    EXPECT_EQ(BdeFolder::ReadAll(q), rowsA);
}

// Row ids taken before a rollback are not used after it.
TEST(Transactions, OpenCursorStopsAfterRollback)
{
    BdeFolder f;
    FillTwoTables(f);
    auto q = f.Query(R"(SELECT "ID" FROM "A")");
    q->Open();
    TBdeTable t;
    f.Bind(t, f.db);
    t.SetTableName("A");
    t.Open();
    f.db.StartTransaction();
    f.Exec(R"(DELETE FROM "A" WHERE "ID" = 4)");
    f.db.Rollback();
    EXPECT_THROW(q->Next(), EBdeError);
    EXPECT_THROW(t.Next(), EBdeError);
    q->Close();
    q->Open();
    EXPECT_EQ(q->Field(0).AsInteger(), 2);
}

// Two database objects on one folder (the two halves of a pair kept together)
// share the folder's tables and journal: what one writes the other reads, and
// while one is in a transaction the other cannot change the folder unless it
// joins that transaction.
TEST(SharedFolder, TwoDatabasesSeeOneAnotherAndRespectATransaction)
{
    BdeFolder f;
    f.CreateKeyed("T");
    TBdeDatabase other;
    f.Connect(other, f.folder.Path());
    const auto execOn = [&](TBdeDatabase& d, const std::string& sql, const std::vector<rtl::Variant>& values) {
        TBdeQuery q;
        f.Bind(q, d);
        q.SetSQL(sql);
        for (std::size_t i = 0; i < values.size(); ++i) q.Params()[static_cast<int>(i)].SetValue(values[i]);
        q.ExecSQL();
        return q.RowsAffected();
    };
    const auto rowsOn = [&](TBdeDatabase& d) {
        TBdeQuery q;
        f.Bind(q, d);
        q.SetSQL(R"(SELECT "ID", "NAME" FROM "T" ORDER BY "ID")");
        q.Open();
        return BdeFolder::ReadAll(q);
    };
    const std::string insert = R"(INSERT INTO "T" ("T"."ID", "T"."NAME") VALUES (:PARAM0, :PARAM1))";

    EXPECT_EQ(execOn(f.db, insert, {rtl::Variant(std::int32_t(1)), rtl::Variant("one")}), 1);
    EXPECT_EQ(rowsOn(other), (TextRows{{"1", "one"}}));
    EXPECT_EQ(execOn(other, insert, {rtl::Variant(std::int32_t(2)), rtl::Variant("two")}), 1);
    EXPECT_EQ(rowsOn(f.db), (TextRows{{"1", "one"}, {"2", "two"}}));

    f.db.StartTransaction();
    EXPECT_TRUE(f.db.InTransaction());
    EXPECT_FALSE(other.InTransaction());
    EXPECT_EQ(execOn(f.db, insert, {rtl::Variant(std::int32_t(3)), rtl::Variant("three")}), 1);
    try {
        execOn(other, insert, {rtl::Variant(std::int32_t(4)), rtl::Variant("four")});
        ADD_FAILURE() << "a write during another database's transaction went through";
    } catch (const rtl::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("in a transaction of another database"), std::string::npos) << e.what();
    }
    // Starting a transaction joins the open one, and a commit only leaves it:
    // the folder stays in the first database's transaction, which the other
    // one cannot end, and whose rollback takes the joined change with it.
    other.StartTransaction();
    EXPECT_TRUE(other.InTransaction());
    EXPECT_EQ(execOn(other, insert, {rtl::Variant(std::int32_t(4)), rtl::Variant("four")}), 1);
    other.Commit();
    EXPECT_FALSE(other.InTransaction());
    EXPECT_TRUE(f.db.InTransaction());
    EXPECT_THROW(other.Commit(), EPxError);
    EXPECT_THROW(other.Rollback(), EPxError);
    f.db.Rollback();

    EXPECT_EQ(rowsOn(other), (TextRows{{"1", "one"}, {"2", "two"}}));
    EXPECT_EQ(execOn(other, insert, {rtl::Variant(std::int32_t(4)), rtl::Variant("four")}), 1);
    EXPECT_EQ(rowsOn(f.db), (TextRows{{"1", "one"}, {"2", "two"}, {"4", "four"}}));

    // Tables are neither created, dropped nor renamed under another database
    // object's feet; once it is gone they are.
    TBdeTable drop;
    f.Bind(drop, f.db);
    drop.SetTableName("T");
    try {
        drop.DeleteTable();
        ADD_FAILURE() << "a table was dropped while another database had the folder open";
    } catch (const rtl::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("is open in another database"), std::string::npos) << e.what();
    }
    EXPECT_EQ(rowsOn(other).size(), 3u);
    other.Close();
    drop.DeleteTable();
    EXPECT_FALSE(drop.Exists());
}

} // namespace
} // namespace bde::test
