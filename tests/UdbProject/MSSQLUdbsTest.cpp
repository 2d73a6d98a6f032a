// Tests of the SQL Server driver. No SQL Server can run here, so the driver
// runs over the recording ADO implementation (tests/support/AdoRecording.h)
// and is checked on what it sends: the connection, the type names, the
// schema name, table creation, every path of a structure change (in place and
// by rebuild) with a failure injected at each of its statements, the growing
// string parameters and the database-name lookup. Two things run for real:
// the connection string the ODBC layer builds from what the driver sets, and
// the lookup against a closed loopback port.
#include "UdbProject/UdbMsSql/MSSQLDriver.h"
#include "UdbProject/UdbMsSql/MSSQLUdbs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "platform/rtl/DateTime.h"
#include "tests/UdbProject/DriverRequests.h"
#include "tests/UdbProject/AdoDriverTestSupport.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/AdoRecording.h"

namespace {

using adodrv::Join;
using adodrv::Texts;
using adorec::TRecorder;
using fake::Raised;
using testing::Contains;
using testing::HasSubstr;

constexpr const char* kDriver = "ADO.MSSQL";

std::string ParamsXml(const std::vector<std::pair<std::string, std::string>>& params)
{
    return adodrv::ParamsXml(kDriver, params);
}

const std::vector<std::pair<std::string, std::string>> kLogin = {
    {"server", "srv"}, {"database", "velmo"}, {"login-name", "sa"}, {"login-password", "secret"}};

// Roads in schema dbo: ID Int NOT NULL, NAME varchar(40), LEN Float, NOTE
// varchar(20); PK_Roads (ID), Roads_Ind1 (NAME), Roads_Ind2 unique (NAME,
// NOTE), Roads_Ind3 (NOTE).
adorec::TTable RoadsTable()
{
    adorec::TTable t;
    t.Schema = "dbo";
    t.Name = "Roads";
    t.Columns = {{"ID", ado::adInteger, 0, 10, 0, false, false},
                 {"NAME", ado::adVarChar, 40, 0, 0, true, false},
                 {"LEN", ado::adDouble, 0, 15, 0, true, false},
                 {"NOTE", ado::adVarChar, 20, 0, 0, true, false}};
    t.Indexes = {{"PK_Roads", {"ID"}, true, true},
                 {"Roads_Ind1", {"NAME"}, false, false},
                 {"Roads_Ind2", {"NAME", "NOTE"}, false, true},
                 {"Roads_Ind3", {"NOTE"}, false, false}};
    return t;
}

class MSSQLDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }

    void SetUp() override
    {
        rec.Catalog().Tables.push_back(RoadsTable());
        // A table of another schema that must never be seen.
        adorec::TTable other = RoadsTable();
        other.Schema = "guest";
        other.Columns.pop_back();
        rec.Catalog().Tables.push_back(other);
        rec.Reply("SELECT SCHEMA_NAME()", {{""}, {{rtl::Variant("dbo")}}});
    }

    rtl::RefPtr<IUdb> Open(const std::vector<std::pair<std::string, std::string>>& params = kLogin)
    {
        return adodrv::OpenDb(kDriver, params);
    }

    // The statements that Apply sends after edit changed the definition of Roads.
    std::vector<std::string> Alter(const std::function<void(IUdbTableDef&)>& edit, int failAt = 0,
                                   std::string* raised = nullptr)
    {
        const rtl::RefPtr<IUdb> db = Open();
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
        edit(*def);
        rec.Clear();
        if (failAt > 0) rec.FailStatement(failAt);
        const std::string what = Raised([&] { def->Apply(); });
        if (raised) *raised = what;
        else EXPECT_EQ(what, "");
        return Texts(rec.Statements());
    }

    TRecorder rec;
};

// ---- connection ---------------------------------------------------------------------------

TEST_F(MSSQLDriverTest, OpeningSetsTheProviderAndItsPropertiesThenConnects)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> params;
        std::vector<std::string> transcript;
    };
    const Case cases[] = {
        {"a named login",
         {{"server", "srv"}, {"database", "velmo"}, {"authentication", ""}, {"login-name", "sa"},
          {"login-password", "secret"}, {"connection-timeout", "5"}, {"command-timeout", "60"}},
         {"Connection.CommandTimeout := 60", "Connection.ConnectionTimeout := 5", "Connection.Provider := 'SQLOLEDB'",
          "Connection.Properties['Data Source'].Value := 'srv'",
          "Connection.Properties['Initial Catalog'].Value := 'velmo'",
          "Connection.Properties['User ID'].Value := 'sa'", "Connection.Properties['Password'].Value := 'secret'",
          "Connection.Open('', '', '', -1)"}},
        {"the system's own security",
         {{"server", "srv"}, {"authentication", "SSPI"}},
         {"Connection.CommandTimeout := 30", "Connection.ConnectionTimeout := 15", "Connection.Provider := 'SQLOLEDB'",
          "Connection.Properties['Data Source'].Value := 'srv'",
          "Connection.Properties['Initial Catalog'].Value := ''",
          "Connection.Properties['Integrated Security'].Value := 'SSPI'",
          "Connection.Properties['User ID'].Value := ''", "Connection.Properties['Password'].Value := ''",
          "Connection.Open('', '', '', -1)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rec.Clear();
        const rtl::RefPtr<IUdb> db = Open(c.params);
        EXPECT_TRUE(db->IsOpen());
        EXPECT_EQ(Join(rec.Transcript()), Join(c.transcript));
    }
}

TEST_F(MSSQLDriverTest, TheConnectionStringIsFreeTdsWithItsPinnedVersionAndQuotedValues)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> params;
        std::string expected;
    };
    const Case cases[] = {
        {"plain values", kLogin, "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv;DATABASE=velmo;UID=sa;PWD=secret"},
        {"Cyrillic values as they are",
         {{"server", "сервер\\ГИС"}, {"database", "База"}, {"login-name", "Пользователь"}, {"login-password", "пароль"}},
         "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=сервер\\ГИС;DATABASE=База;UID=Пользователь;PWD=пароль"},
        {"values that could add attributes are braced",
         {{"server", "srv,1433"}, {"database", "a;DATABASE=master"}, {"login-name", "x=y"}, {"login-password", "p}w{"}},
         "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv,1433;DATABASE={a;DATABASE=master};UID={x=y};PWD={p}}w{}"},
        {"integrated security is a trusted connection",
         {{"server", "srv"}, {"authentication", "SSPI"}},
         "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv;DATABASE=;Trusted_Connection=Yes;UID=;PWD="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open(c.params);
        EXPECT_EQ(rec.ConnectionString(), c.expected);
    }
}

TEST_F(MSSQLDriverTest, AProviderErrorPassesOnAndLeavesTheDatabaseClosed)
{
    rec.FailOpen("Unable to connect: Adaptive Server is unavailable or does not exist");
    rtl::RefPtr<IUdb> db;
    EXPECT_EQ(Raised([&] { CreateDbObject(db, ParamsXml(kLogin), true); }),
              "Exception: Unable to connect: Adaptive Server is unavailable or does not exist");
    ASSERT_TRUE(db);
    EXPECT_FALSE(db->IsOpen());
}

TEST_F(MSSQLDriverTest, TheSchemaIsTheLoginsDefaultSchemaReadOncePerConnection)
{
    const rtl::RefPtr<IUdb> db = Open();
    rec.Clear();
    EXPECT_TRUE(db->TableExists("Roads"));
    EXPECT_FALSE(db->TableExists("Streets"));
    EXPECT_EQ(Join(rec.Transcript()), Join({"Connection.Execute(-1): SELECT SCHEMA_NAME()",
                                            "Connection.OpenSchema(adSchemaTables, [Empty, 'dbo', 'Roads', Empty])",
                                            "Connection.OpenSchema(adSchemaTables, [Empty, 'dbo', 'Streets', Empty])"}));
    // Read again after the connection is opened again.
    db->Close();
    db->Open(ParamsXml(kLogin));
    rec.Clear();
    EXPECT_EQ(db->GetTableDef("Roads")->FieldCount(), 4) << "the table of schema guest has three";
    EXPECT_EQ(rec.Transcript().front(), "Connection.Execute(-1): SELECT SCHEMA_NAME()");

    auto* mssql = dynamic_cast<TMSSQLDb*>(db.get());
    ASSERT_TRUE(mssql);
    db->Close();
    EXPECT_EQ(Raised([&] { mssql->GetSchemaName(); }), "Exception: Can't get schema name: database close");
}

TEST_F(MSSQLDriverTest, ASchemaQueryWithoutARowRestrictsNothing)
{
    rec.Reply("SELECT SCHEMA_NAME()", {{""}, {}});
    const rtl::RefPtr<IUdb> db = Open();
    rec.Clear();
    EXPECT_TRUE(db->TableExists("Roads"));
    EXPECT_EQ(rec.Transcript().back(), "Connection.OpenSchema(adSchemaTables, [Empty, Empty, 'Roads', Empty])");
}

// ---- types --------------------------------------------------------------------------------

TEST_F(MSSQLDriverTest, TypeNamesGoByBaseType)
{
    const rtl::RefPtr<IUdb> db = Open();
    auto& mssql = dynamic_cast<TMSSQLDb&>(*db);
    const std::pair<TUdbDataType, const char*> cases[] = {
        {udtBoolean, "bit"},    {udtInteger, "Int"},    {udtFloat, "Float"},    {udtCurrency, "Money"},
        {udtDateTime, "datetime"}, {udtDate, "datetime"}, {udtTime, "datetime"}, {udtString, "varchar"},
        {udtMemo, "text"},      {udtBinary, "image"},   {udtPicture, "image"},  {udtDocument, "image"},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(mssql.DataTypeToSQL(code), name) << code;
    for (const TUdbDataType bad : {TUdbDataType(0x0803), TUdbDataType(0x0900), TUdbDataType(0)})
        EXPECT_EQ(Raised([&] { mssql.DataTypeToSQL(bad); }), std::string("Exception: ") + UdbMsg::BadDataType) << bad;
    EXPECT_EQ(mssql.AdoTypeToDataType("", ado::adNumeric, false, 1, 0), udtInteger) << "no Boolean rule here";
    EXPECT_EQ(mssql.AdoTypeToDataType("", ado::adVarChar, true, 0, 0), udtMemo);
}

TEST_F(MSSQLDriverTest, DataTypesInfoListsOnlyTheProviderTypesOfTheDialectsNames)
{
    rec.Catalog().ProviderTypes = {{"varchar", ado::adVarChar, rtl::Variant(std::int32_t(8000))},
                                   {"nvarchar", ado::adVarWChar, rtl::Variant(std::int32_t(4000))},
                                   {"int", ado::adInteger, rtl::Variant(std::int32_t(10))}};
    const rtl::RefPtr<IUdb> db = Open();
    const rtl::RefPtr<IUdbCursor> types = db->GetSchemaInfo(uskDataTypesInfo);
    std::vector<std::string> rows;
    for (; !types->Eof(); types->Next())
        rows.push_back(types->AsString(rtl::Variant("TYPENAME"), "") + " " +
                       std::to_string(types->AsInteger(rtl::Variant("UDBTYPE"), 0)));
    EXPECT_EQ(rows, (std::vector<std::string>{"varchar 1536", "int 512"}));
}

// ---- creating tables ----------------------------------------------------------------------

TEST_F(MSSQLDriverTest, CreatingATableNamesItsIndexesAfterTheTable)
{
    const rtl::RefPtr<IUdb> db = Open();
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("Streets");
    def->AddField({"ID", udtInteger, 0, true});
    def->AddField({"NAME", udtString, 50, false});
    def->AddField({"BUILT", udtDate, 0, false});
    def->AddField({"PLAN", udtPicture, 0, false});
    def->AddIndex({"", "NAME", false, false});
    def->AddIndex({"whatever", "ID", true, true});
    def->AddIndex({"", "NAME;BUILT", false, true});
    rec.Clear();
    def->Apply();
    const std::vector<std::string> transcript = rec.Transcript();
    const std::vector<std::string> first(transcript.begin(), transcript.begin() + 5);
    EXPECT_EQ(Join(first),
              Join({"Command.ActiveConnection := Connection", "Command.CommandTimeout := 30",
                    "Command.CommandText := 'CREATE TABLE [Streets] ([ID] Int NOT NULL, [NAME] varchar(50), [BUILT] "
                    "datetime, [PLAN] image, PRIMARY KEY ([ID]))'",
                    "Command.Prepared := True",
                    "Command.Execute(adCmdText): CREATE TABLE [Streets] ([ID] Int NOT NULL, [NAME] varchar(50), "
                    "[BUILT] datetime, [PLAN] image, PRIMARY KEY ([ID]))"}));
    EXPECT_EQ(Join(Texts(rec.Statements())),
              Join({"CREATE TABLE [Streets] ([ID] Int NOT NULL, [NAME] varchar(50), [BUILT] datetime, [PLAN] image, "
                    "PRIMARY KEY ([ID]))",
                    "CREATE INDEX [Streets_Ind1] ON [Streets] ([NAME])",
                    "CREATE UNIQUE INDEX [Streets_Ind2] ON [Streets] ([NAME],[BUILT])",
                    "conn: SELECT SCHEMA_NAME()"})) // the new table is read back
        << "the primary key is part of CREATE TABLE, the other indexes are named by their order";
}

TEST_F(MSSQLDriverTest, NamingSkipsTheNamesOfTheOtherDefinition)
{
    TTableDef def;
    def.Name = "Roads";
    for (const bool primary : {false, true, false, false}) {
        auto index = std::make_unique<TIndexDef>(-1);
        index->Name = primary ? "PK" : "";
        index->Primary = primary;
        index->Fields = {"A"};
        def.Indexes.Add(std::move(index));
    }
    TTableDef other;
    for (const char* name : {"roads_ind1", "Roads_Ind3"}) {
        auto index = std::make_unique<TIndexDef>(-1);
        index->Name = name;
        other.Indexes.Add(std::move(index));
    }
    const auto names = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < def.Indexes.Count(); ++i) out.push_back(def.Indexes.Get(i).Name);
        return out;
    };
    TMSSQLTableDef::NameIndexes(def, nullptr);
    EXPECT_EQ(names(), (std::vector<std::string>{"Roads_Ind1", "PK", "Roads_Ind2", "Roads_Ind3"}));
    TMSSQLTableDef::NameIndexes(def, &other);
    EXPECT_EQ(names(), (std::vector<std::string>{"Roads_Ind2", "PK", "Roads_Ind4", "Roads_Ind5"}))
        << "names are compared ignoring case";
}

TEST_F(MSSQLDriverTest, NamesThatCannotStandInAStatementAreRefusedBeforeAnyIsSent)
{
    const rtl::RefPtr<IUdb> db = Open();
    struct Case {
        const char* what;
        std::function<void(IUdbTableDef&)> edit;
        std::string bad;
    };
    const Case cases[] = {
        {"a table renamed with a quote", [](IUdbTableDef& d) { d.SetTableName("Ro'ads"); }, "Ro'ads"},
        {"a column renamed with a bracket",
         [](IUdbTableDef& d) { d.SetFieldDef(2, {"L]EN", udtFloat, 0, false}, true); }, "L]EN"},
        {"a new column with a control character", [](IUdbTableDef& d) { d.AddField({"W\n", udtFloat, 0, false}); },
         "W\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
        c.edit(*def);
        rec.Clear();
        EXPECT_EQ(Raised([&] { def->Apply(); }), fake::Udb("Недопустимое имя \"" + c.bad + "\" в SQL-запросе"));
        EXPECT_EQ(Join(rec.Statements()), "");
    }
    EXPECT_THAT(Raised([&] { db->DropTable("A]B"); }), HasSubstr("Недопустимое имя"));
}

TEST_F(MSSQLDriverTest, DroppingATableRunsOnTheConnection)
{
    const rtl::RefPtr<IUdb> db = Open();
    rec.Clear();
    db->DropTable("Roads");
    EXPECT_EQ(Join(rec.Transcript()), "Connection.Execute(adCmdText+adExecuteNoRecords): drop table [Roads]\n");
}

// ---- changing tables ------------------------------------------------------------------------

struct TAlteration {
    const char* what;
    std::function<void(IUdbTableDef&)> edit;
    std::vector<std::string> statements; // between BeginTrans and CommitTrans
};

const std::vector<TAlteration>& Alterations()
{
    static const std::vector<TAlteration> alterations = {
        // In place.
        {"a column renamed",
         [](IUdbTableDef& d) { d.SetFieldDef(2, {"LENGTH", udtFloat, 0, false}, true); },
         {"EXECUTE sp_rename '[Roads].[LEN]', 'LENGTH', 'COLUMN'"}},
        {"only the case of a column's name changed",
         [](IUdbTableDef& d) { d.SetFieldDef(1, {"Name", udtString, 40, false}, true); },
         {"EXECUTE sp_rename '[Roads].[NAME]', 'Name', 'COLUMN'"}},
        {"the last column deleted: every index holding it goes first",
         [](IUdbTableDef& d) { d.DeleteField(3, true); },
         {"DROP INDEX [Roads].[Roads_Ind2]", "DROP INDEX [Roads].[Roads_Ind3]", "ALTER TABLE [Roads] DROP COLUMN [NOTE]",
          "CREATE UNIQUE INDEX [Roads_Ind5] ON [Roads] ([NAME])"}},
        {"the last two columns deleted",
         [](IUdbTableDef& d) {
             d.DeleteField(3, true);
             d.DeleteField(2, true);
         },
         {"DROP INDEX [Roads].[Roads_Ind2]", "DROP INDEX [Roads].[Roads_Ind3]", "ALTER TABLE [Roads] DROP COLUMN [LEN]",
          "ALTER TABLE [Roads] DROP COLUMN [NOTE]", "CREATE UNIQUE INDEX [Roads_Ind5] ON [Roads] ([NAME])"}},
        {"the table renamed and a column deleted: columns first, by the old name",
         [](IUdbTableDef& d) {
             d.SetTableName("Streets");
             d.DeleteField(3, true);
         },
         {"DROP INDEX [Roads].[Roads_Ind2]", "DROP INDEX [Roads].[Roads_Ind3]", "ALTER TABLE [Roads] DROP COLUMN [NOTE]",
          "EXECUTE sp_rename 'Roads', 'Streets'", "CREATE UNIQUE INDEX [Streets_Ind2] ON [Streets] ([NAME])"}},
        {"the table renamed", [](IUdbTableDef& d) { d.SetTableName("Streets"); },
         {"EXECUTE sp_rename 'Roads', 'Streets'"}},
        {"an index added", [](IUdbTableDef& d) { d.AddIndex({"", "LEN", false, false}); },
         {"CREATE INDEX [Roads_Ind7] ON [Roads] ([LEN])"}},
        {"an index deleted", [](IUdbTableDef& d) { d.DeleteIndex(1); }, {"DROP INDEX [Roads].[Roads_Ind1]"}},
        {"an index made unique", [](IUdbTableDef& d) { d.SetIndexDef(1, {"Roads_Ind1", "NAME", false, true}); },
         {"DROP INDEX [Roads].[Roads_Ind1]", "CREATE UNIQUE INDEX [Roads_Ind4] ON [Roads] ([NAME])"}},
        {"the primary key widened", [](IUdbTableDef& d) { d.SetIndexDef(0, {"PK_Roads", "ID;NAME", true, true}); },
         {"ALTER TABLE [Roads] DROP CONSTRAINT [PK_Roads]", "ALTER TABLE [Roads] ADD PRIMARY KEY ([ID],[NAME])"}},
        // Rebuilt.
        {"a column added",
         [](IUdbTableDef& d) { d.AddField({"WIDTH", udtFloat, 0, false}); },
         {"CREATE TABLE [Roads_TMP0] ([ID] Int NOT NULL, [NAME] varchar(40), [LEN] Float, [NOTE] varchar(20), "
          "[WIDTH] Float)",
          "IF EXISTS(SELECT * FROM [Roads]) EXEC('INSERT INTO [Roads_TMP0] ([ID],[NAME],[LEN],[NOTE]) SELECT "
          "[ID],[NAME],[LEN],[NOTE] FROM [Roads] WITH (TABLOCKX)')",
          "ALTER TABLE [Roads_TMP0] ADD PRIMARY KEY ([ID])", "CREATE INDEX [Roads_Ind1] ON [Roads_TMP0] ([NAME])",
          "CREATE UNIQUE INDEX [Roads_Ind2] ON [Roads_TMP0] ([NAME],[NOTE])",
          "CREATE INDEX [Roads_Ind3] ON [Roads_TMP0] ([NOTE])", "conn: drop table [Roads]",
          "EXECUTE sp_rename 'Roads_TMP0', 'Roads'"}},
        {"a string grown, a type changed, a column made required",
         [](IUdbTableDef& d) {
             d.SetFieldDef(1, {"NAME", udtString, 80, true}, true);
             d.SetFieldDef(2, {"LEN", udtInteger, 0, false}, true);
         },
         {"CREATE TABLE [Roads_TMP0] ([ID] Int NOT NULL, [NAME] varchar(80) NOT NULL, [LEN] Int, [NOTE] varchar(20))",
          "IF EXISTS(SELECT * FROM [Roads]) EXEC('INSERT INTO [Roads_TMP0] ([ID],[NAME],[LEN],[NOTE]) SELECT "
          "[ID],CONVERT(varchar(80),[NAME]),CONVERT(Int,[LEN]),[NOTE] FROM [Roads] WITH (TABLOCKX)')",
          "ALTER TABLE [Roads_TMP0] ADD PRIMARY KEY ([ID])", "CREATE INDEX [Roads_Ind1] ON [Roads_TMP0] ([NAME])",
          "CREATE UNIQUE INDEX [Roads_Ind2] ON [Roads_TMP0] ([NAME],[NOTE])",
          "CREATE INDEX [Roads_Ind3] ON [Roads_TMP0] ([NOTE])", "conn: drop table [Roads]",
          "EXECUTE sp_rename 'Roads_TMP0', 'Roads'"}},
        {"a column moved and another deleted",
         [](IUdbTableDef& d) {
             d.MoveField(3, 1);
             d.DeleteField(3, true);
         },
         {"CREATE TABLE [Roads_TMP0] ([ID] Int NOT NULL, [NOTE] varchar(20), [NAME] varchar(40))",
          "IF EXISTS(SELECT * FROM [Roads]) EXEC('INSERT INTO [Roads_TMP0] ([ID],[NOTE],[NAME]) SELECT "
          "[ID],[NOTE],[NAME] FROM [Roads] WITH (TABLOCKX)')",
          "ALTER TABLE [Roads_TMP0] ADD PRIMARY KEY ([ID])", "CREATE INDEX [Roads_Ind1] ON [Roads_TMP0] ([NAME])",
          "CREATE UNIQUE INDEX [Roads_Ind2] ON [Roads_TMP0] ([NAME],[NOTE])",
          "CREATE INDEX [Roads_Ind3] ON [Roads_TMP0] ([NOTE])", "conn: drop table [Roads]",
          "EXECUTE sp_rename 'Roads_TMP0', 'Roads'"}},
        {"renamed with a rebuild",
         [](IUdbTableDef& d) {
             d.SetTableName("Streets");
             d.AddField({"WIDTH", udtFloat, 0, false});
             d.DeleteIndex(3);
         },
         {"CREATE TABLE [Roads_TMP0] ([ID] Int NOT NULL, [NAME] varchar(40), [LEN] Float, [NOTE] varchar(20), "
          "[WIDTH] Float)",
          "IF EXISTS(SELECT * FROM [Roads]) EXEC('INSERT INTO [Roads_TMP0] ([ID],[NAME],[LEN],[NOTE]) SELECT "
          "[ID],[NAME],[LEN],[NOTE] FROM [Roads] WITH (TABLOCKX)')",
          "ALTER TABLE [Roads_TMP0] ADD PRIMARY KEY ([ID])", "CREATE INDEX [Streets_Ind1] ON [Roads_TMP0] ([NAME])",
          "CREATE UNIQUE INDEX [Streets_Ind2] ON [Roads_TMP0] ([NAME],[NOTE])", "conn: drop table [Roads]",
          "EXECUTE sp_rename 'Roads_TMP0', 'Streets'"}},
    };
    return alterations;
}

TEST_F(MSSQLDriverTest, EveryChangeRunsInOneTransaction)
{
    for (const TAlteration& a : Alterations()) {
        SCOPED_TRACE(a.what);
        std::vector<std::string> expected = {"BeginTrans"};
        expected.insert(expected.end(), a.statements.begin(), a.statements.end());
        expected.push_back("CommitTrans");
        EXPECT_EQ(Join(Alter(a.edit)), Join(expected));
    }
}

TEST_F(MSSQLDriverTest, AFailureAtAnyStatementRollsBackAndSendsNothingAfter)
{
    for (const TAlteration& a : Alterations()) {
        for (std::size_t n = 1; n <= a.statements.size(); ++n) {
            SCOPED_TRACE(std::string(a.what) + ", statement " + std::to_string(n));
            TRecorder own; // a fresh transcript for every run
            own.Catalog().Tables.push_back(RoadsTable());
            own.Reply("SELECT SCHEMA_NAME()", {{""}, {{rtl::Variant("dbo")}}});
            rtl::RefPtr<IUdb> db;
            CreateDbObject(db, ParamsXml(kLogin), true);
            const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
            a.edit(*def);
            own.Clear();
            own.FailStatement(static_cast<int>(n));
            const std::string raised = Raised([&] { def->Apply(); });
            EXPECT_THAT(raised, HasSubstr(adorec::FailureMessage(static_cast<int>(n))));

            std::vector<std::string> expected = {"BeginTrans"};
            expected.insert(expected.end(), a.statements.begin(), a.statements.begin() + static_cast<long>(n));
            expected.back() += " -> fails";
            expected.push_back("RollbackTrans");
            EXPECT_EQ(Join(Texts(own.Statements())), Join(expected));
            EXPECT_EQ(own.Transcript().back(), "Connection.RollbackTrans") << "nothing is sent after the rollback";
            EXPECT_FALSE(db->InTransaction());
            EXPECT_TRUE(def->IsModified()) << "the edits stay for another try";
        }
    }
}

TEST_F(MSSQLDriverTest, ARenamedColumnIsOneStatementInATransaction)
{
    const rtl::RefPtr<IUdb> db = Open();
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
    def->SetFieldDef(2, {"LENGTH", udtFloat, 0, false}, true);
    rec.Clear();
    def->Apply();
    EXPECT_EQ(Join(rec.Transcript()),
              Join({"Connection.OpenSchema(adSchemaTables, [Empty, 'dbo', 'Roads', Empty])",
                    "Connection.BeginTrans",
                    "Command.ActiveConnection := Connection",
                    "Command.CommandTimeout := 30",
                    "Command.CommandText := 'EXECUTE sp_rename ''[Roads].[LEN]'', ''LENGTH'', ''COLUMN'''",
                    "Command.Prepared := True",
                    "Command.Execute(adCmdText): EXECUTE sp_rename '[Roads].[LEN]', 'LENGTH', 'COLUMN'",
                    "Connection.CommitTrans",
                    // The table is read again.
                    "Connection.OpenSchema(adSchemaColumns, [Empty, 'dbo', 'Roads', Empty])",
                    "Connection.OpenSchema(adSchemaIndexes, [Empty, 'dbo', Empty, Empty, 'Roads'])"}));
}

TEST_F(MSSQLDriverTest, AnUnchangedDefinitionSendsNothing)
{
    EXPECT_EQ(Join(Alter([](IUdbTableDef&) {})), "");
}

TEST_F(MSSQLDriverTest, TheTemporaryTableTakesTheFirstFreeName)
{
    adorec::TTable taken;
    taken.Schema = "dbo";
    taken.Name = "Roads_TMP0";
    rec.Catalog().Tables.push_back(taken);
    const std::vector<std::string> statements = Alter([](IUdbTableDef& d) { d.AddField({"W", udtFloat, 0, false}); });
    ASSERT_GE(statements.size(), 2u);
    EXPECT_THAT(statements[1], testing::StartsWith("CREATE TABLE [Roads_TMP1] ("));
    EXPECT_EQ(statements[statements.size() - 2], "EXECUTE sp_rename 'Roads_TMP1', 'Roads'");
}

TEST_F(MSSQLDriverTest, ARebuildOfATableWithoutCommonColumnsCopiesNothing)
{
    const std::vector<std::string> statements = Alter([](IUdbTableDef& d) {
        d.AddField({"X", udtInteger, 0, false});
        for (int i = 3; i >= 0; --i) d.DeleteField(i, true);
    });
    EXPECT_EQ(Join(statements), Join({"BeginTrans", "CREATE TABLE [Roads_TMP0] ([X] Int)", "conn: drop table [Roads]",
                                      "EXECUTE sp_rename 'Roads_TMP0', 'Roads'", "CommitTrans"}));
}

// ---- string parameters ---------------------------------------------------------------------

TEST_F(MSSQLDriverTest, StringParametersGrowToTheirValuesAndArePreparedAgain)
{
    const rtl::RefPtr<IUdb> db = Open();
    const TUdbDataType types[] = {udtString, udtInteger};
    const rtl::RefPtr<IUdbSQLCommand> command =
        db->CreateCommand("UPDATE [Roads] SET [Roads].[NAME]=? WHERE ([Roads].[ID]=?)", types, 2, true);
    const std::string text = "UPDATE [Roads] SET [Roads].[NAME]=? WHERE ([Roads].[ID]=?)";
    const std::string execute = "Command.Execute(adCmdText): " + text;
    struct Step {
        rtl::Variant value;
        std::vector<std::string> transcript;
    };
    const Step steps[] = {
        {rtl::Variant(std::string(10, 'a')),
         {"Parameter#0.Size := 10", "Parameter#0.Value := '" + std::string(10, 'a') + "'", "Parameter#1.Value := 7",
          "Command.CommandText := ''", "Command.CommandText := '" + text + "'", "Command.Prepared := True",
          execute + " with ('" + std::string(10, 'a') + "', 7)"}},
        {rtl::Variant("Улица Ленина, дом 25, кв. 7"), // 27 characters, more bytes
         {"Parameter#0.Size := 27", "Parameter#0.Value := 'Улица Ленина, дом 25, кв. 7'", "Parameter#1.Value := 7",
          "Command.CommandText := ''", "Command.CommandText := '" + text + "'", "Command.Prepared := True",
          execute + " with ('Улица Ленина, дом 25, кв. 7', 7)"}},
        {rtl::Variant("short"),
         {"Parameter#0.Value := 'short'", "Parameter#1.Value := 7", execute + " with ('short', 7)"}},
        {rtl::Variant::Null(), {"Parameter#0.Value := Null", "Parameter#1.Value := 7", execute + " with (Null, 7)"}},
    };
    for (const Step& s : steps) {
        rec.Clear();
        command->Execute({s.value, rtl::Variant(std::int32_t(7))});
        EXPECT_EQ(Join(rec.Transcript()), Join(s.transcript));
    }
}

TEST_F(MSSQLDriverTest, ANullOrEmptyTextNeedsSizeOne)
{
    const rtl::RefPtr<IUdb> db = Open();
    for (const rtl::Variant& value : {rtl::Variant::Null(), rtl::Variant("")}) {
        const TUdbDataType types[] = {udtString};
        const rtl::RefPtr<IUdbSQLCommand> command = db->CreateCommand("SELECT ?", types, 1, false);
        rec.Clear();
        command->Execute({value});
        EXPECT_EQ(rec.Transcript().front(), "Parameter#0.Size := 1") << rtl::VarToStr(value);
        EXPECT_THAT(Join(rec.Transcript()), testing::Not(HasSubstr("CommandText"))) << "not a prepared command";
    }
}

// ---- the database-name lookup -------------------------------------------------------------

std::string LookupRequest(const std::string& paramName, const std::vector<std::pair<std::string, std::string>>& params)
{
    std::string xml = "<query-lookup-values driver-name=\"ado.mssql\" param-name=\"" + paramName + "\">";
    for (const auto& [name, value] : params) xml += "<param name=\"" + name + "\">" + XmlEscape(value) + "</param>";
    return xml + "</query-lookup-values>";
}

std::vector<std::string> Values(const std::string& response)
{
    const IXmlDocumentPtr doc = fake::Parse(response);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    EXPECT_TRUE(root && root->Get_NodeName() == "response") << response;
    std::vector<std::string> values;
    if (!root) return values;
    const IXmlNodeListPtr children = root->Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i) {
        EXPECT_EQ(children->Get_Item(i)->Get_NodeName(), "value");
        values.push_back(children->Get_Item(i)->Get_Text());
    }
    return values;
}

TEST_F(MSSQLDriverTest, TheLookupListsTheServersDatabases)
{
    rec.Catalog().Databases = {"master", "velmo", "Карты"};
    const std::string request = LookupRequest(
        "database", {{"server", "srv"}, {"authentication", "SSPI"}, {"login-name", "sa"}, {"login-password", "pw"},
                     {"language", "русский"}, {"database", "ignored"}});
    std::string response;
    XMLRequest(response, request);
    EXPECT_EQ(Values(response), (std::vector<std::string>{"master", "velmo", "Карты"}));
    EXPECT_THAT(response, HasSubstr("encoding=\"windows-1251\""));
    ASSERT_TRUE(rec.WaitForNoConnections(std::chrono::seconds(5)));
    EXPECT_EQ(Join(rec.Transcript()),
              Join({"Connection.Provider := 'SQLOLEDB'", "Connection.Properties['Data Source'].Value := 'srv'",
                    "Connection.Properties['Integrated Security'].Value := 'SSPI'",
                    "Connection.Properties['User ID'].Value := 'sa'", "Connection.Properties['Password'].Value := 'pw'",
                    "Connection.Properties['Language'].Value := 'русский'", "Connection.ConnectionTimeout := 10",
                    "Connection.Open('', '', '', -1)", "Connection.CommandTimeout := 10",
                    "Connection.OpenSchema(adSchemaCatalogs, [])"}));
    EXPECT_EQ(rec.ConnectionString(),
              "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv;Trusted_Connection=Yes;UID=sa;PWD=pw;Language=русский");
}

TEST_F(MSSQLDriverTest, TheLookupLeavesOutWhatIsNotGiven)
{
    rec.Catalog().Databases = {"velmo"};
    std::string response;
    XMLRequest(response, LookupRequest("database", {{"server", "srv"}}));
    EXPECT_EQ(Values(response), std::vector<std::string>{"velmo"});
    ASSERT_TRUE(rec.WaitForNoConnections(std::chrono::seconds(5)));
    EXPECT_EQ(Join(rec.Transcript()),
              Join({"Connection.Provider := 'SQLOLEDB'", "Connection.Properties['Data Source'].Value := 'srv'",
                    "Connection.Properties['User ID'].Value := ''", "Connection.Properties['Password'].Value := ''",
                    "Connection.ConnectionTimeout := 10", "Connection.Open('', '', '', -1)",
                    "Connection.CommandTimeout := 10", "Connection.OpenSchema(adSchemaCatalogs, [])"}));
}

TEST_F(MSSQLDriverTest, TheLookupAnswersOnlyTheDatabaseParameterAndNeverFails)
{
    rec.Catalog().Databases = {"velmo"};
    struct Case {
        const char* what;
        std::string request;
    };
    const Case cases[] = {
        {"another case", LookupRequest("Database", {{"server", "srv"}})},
        {"another parameter", LookupRequest("server", {{"server", "srv"}})},
        {"no parameter named", "<query-lookup-values driver-name=\"ADO.MSSQL\"/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string response;
        EXPECT_EQ(Raised([&] { XMLRequest(response, c.request); }), "");
        EXPECT_EQ(Values(response), std::vector<std::string>{});
    }
    EXPECT_EQ(Join(rec.Transcript()), "") << "no connection was made";

    rec.FailOpen("Login failed for user 'sa'.");
    std::string response;
    EXPECT_EQ(Raised([&] { XMLRequest(response, LookupRequest("database", {{"server", "srv"}})); }), "");
    EXPECT_EQ(Values(response), std::vector<std::string>{});
    EXPECT_TRUE(rec.WaitForNoConnections(std::chrono::seconds(5)));
}

// The lookup runs on the caller's thread: its time limit goes to the connection's
// own time-outs, and no connection is left running when it returns.
TEST_F(MSSQLDriverTest, TheLookupRunsOnTheCallersThreadWithItsTimeLimitAsTimeOuts)
{
    EXPECT_EQ(MsSqlLookupTimeLimit, std::chrono::seconds(10));
    rec.Catalog().Databases = {"velmo"};
    rec.DelayOpen(std::chrono::milliseconds(600)); // an open the recording does not cut short
    const IXmlDocumentPtr response = LookupDatabaseNames(
        fake::Parse(LookupRequest("database", {{"server", "slow"}})), std::chrono::milliseconds(2500));
    EXPECT_EQ(Values(response->Get_XML()), std::vector<std::string>{"velmo"});
    EXPECT_TRUE(rec.WaitForNoConnections(std::chrono::milliseconds(0))) << "nothing goes on after the call";
    const std::vector<std::string> transcript = rec.Transcript();
    ASSERT_GE(transcript.size(), 4u);
    EXPECT_THAT(transcript, Contains("Connection.ConnectionTimeout := 3")) << "2.5 s, in whole seconds";
    EXPECT_THAT(transcript, Contains("Connection.CommandTimeout := 2")) << "the time left after the open";
    EXPECT_EQ(transcript.back(), "Connection.OpenSchema(adSchemaCatalogs, [])");
}

// A TCP port on the loopback address that nobody listens on.
int ClosedLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 9;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 9;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s); // bound, never listening: connections are refused
    return port;
}

TEST(MSSQLDriverForReal, TheLookupAgainstAClosedPortAnswersAnEmptyResponseQuickly)
{
    RegisterBuiltInDrivers();
    const std::string request =
        LookupRequest("database", {{"server", "127.0.0.1," + std::to_string(ClosedLoopbackPort())},
                                   {"login-name", "sa"}, {"login-password", "x"}});
    const auto start = std::chrono::steady_clock::now();
    std::string response;
    EXPECT_EQ(Raised([&] { XMLRequest(response, request); }), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)); // far below the time limit
    EXPECT_EQ(Values(response), std::vector<std::string>{});
    EXPECT_THAT(response, HasSubstr("<response"));
}

} // namespace
