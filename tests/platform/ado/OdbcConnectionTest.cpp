// Tests of the ADO connection over unixODBC: the connection string built from
// a provider and its properties (values that cannot add attributes, the
// drivers the providers map to), refusing unregistered drivers, connecting
// to real servers with awkward passwords and time-outs, transactions, and
// statement handles released when the connection closes.
#include "platform/ado/OdbcConnection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/OdbcCommand.h"
#include "tests/platform/ado/AdoTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHelpers.h"

namespace {

using namespace ado;
using namespace ado::odbc;
using adotest::Query;
using adotest::RunSql;
using testing_support::RaisedMessage;
using testing_support::TempFolder;

// ---- the connection string ------------------------------------------------------------

TEST(OdbcConnectionString, ValuesThatCouldAddAttributesAreBraced)
{
    const struct {
        const char* name;
        const char* value;
        const char* written;
    } kCases[] = {
        {"plain", "secret", "secret"},
        {"semicolon", "a;DATABASE=other", "{a;DATABASE=other}"},
        {"closing brace doubled", "x}y", "{x}}y}"},
        {"opening brace", "{x", "{{x}"},
        {"equals sign", "a=b", "{a=b}"},
        {"leading blank", " x", "{ x}"},
        {"trailing blank", "x ", "{x }"},
        {"empty", "", ""},
        {"cyrillic", "пароль", "пароль"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuoteAttributeValue(c.value), c.written);
    }
    EXPECT_THROW(QuoteAttributeValue(std::string("a\0b", 3)), EAdoError);
}

TEST(OdbcConnectionString, ProvidersMapToDriversAndKeywords)
{
    using P = std::vector<std::pair<std::string, rtl::Variant>>;
    const struct {
        const char* name;
        const char* provider;
        P properties;
        const char* expected;
    } kCases[] = {
        {"SQL Server through FreeTDS with its TDS version pinned", "SQLOLEDB",
         {{"Data Source", rtl::Variant("srv")}, {"Initial Catalog", rtl::Variant("velmo")},
          {"User ID", rtl::Variant("sa")}, {"Password", rtl::Variant("p;w")}},
         "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv;DATABASE=velmo;UID=sa;PWD={p;w}"},
        {"integrated security becomes a trusted connection", "SQLOLEDB",
         {{"Data Source", rtl::Variant("srv")}, {"Integrated Security", rtl::Variant("SSPI")},
          {"User ID", rtl::Variant("")}, {"Password", rtl::Variant("")}},
         "DRIVER={FreeTDS};TDS_Version=7.4;SERVER=srv;Trusted_Connection=Yes;UID=;PWD="},
        {"empty integrated security adds nothing", "SQLOLEDB", {{"Integrated Security", rtl::Variant("")}},
         "DRIVER={FreeTDS};TDS_Version=7.4"},
        {"Oracle: service, login; persist security info is no attribute", "OraOLEDB.Oracle",
         {{"Data Source", rtl::Variant("ORCL")}, {"User ID", rtl::Variant("velmo")},
          {"Password", rtl::Variant("x")}, {"Persist Security Info", rtl::Variant(true)}},
         "DRIVER={Oracle};DBQ=ORCL;UID=velmo;PWD=x"},
        {"provider names ignore case", "sqloledb", {}, "DRIVER={FreeTDS};TDS_Version=7.4"},
        {"any ODBC driver with its own keywords", "MSDASQL",
         {{"Driver", rtl::Variant("PostgreSQL Unicode")}, {"Server", rtl::Variant("h")}, {"Port", rtl::Variant("1")}},
         "DRIVER={PostgreSQL Unicode};Server=h;Port=1"},
    };
    unsetenv(OracleDriverVariable);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BuildConnectionString(MapProvider(c.provider, c.properties, "", "")), c.expected);
    }
}

TEST(OdbcConnectionString, UserAndPasswordArgumentsTakeThePlaceOfTheProperties)
{
    const TOdbcTarget target = MapProvider(
        "SQLOLEDB", {{"User ID", rtl::Variant("a")}, {"Password", rtl::Variant("b")}}, "user", "pass");
    EXPECT_EQ(BuildConnectionString(target), "DRIVER={FreeTDS};TDS_Version=7.4;UID=user;PWD=pass");
}

TEST(OdbcConnectionString, TheOracleDriverIsTheOneTheUserNames)
{
    setenv(OracleDriverVariable, "Oracle 19 ODBC driver", 1);
    EXPECT_EQ(MapProvider("OraOLEDB.Oracle", {}, "", "").Driver, "Oracle 19 ODBC driver");
    unsetenv(OracleDriverVariable);
    EXPECT_EQ(MapProvider("OraOLEDB.Oracle", {}, "", "").Driver, "Oracle");
}

TEST(OdbcConnectionString, UnknownProvidersPropertiesAndKeywordsAreRefused)
{
    EXPECT_THAT(RaisedMessage<EAdoError>([] { MapProvider("Nope", {}, "", ""); }),
                testing::HasSubstr("Provider cannot be found"));
    EXPECT_EQ(RaisedMessage<EAdoError>([] { MapProvider("SQLOLEDB", {{"Server", rtl::Variant("x")}}, "", ""); }),
              SItemNotFound);
    EXPECT_THAT(RaisedMessage<EAdoError>([] { MapProvider("MSDASQL", {{"Driver", rtl::Variant("X")}, {"A;B", rtl::Variant("x")}}, "", ""); }),
                testing::HasSubstr("cannot be an ODBC connection keyword"));
    EXPECT_THAT(RaisedMessage<EAdoError>([] { MapProvider("MSDASQL", {}, "", ""); }),
                testing::HasSubstr("needs the property \"Driver\""));

    const rtl::RefPtr<Connection> c = NewConnection();
    EXPECT_THROW(c->SetProvider("Nope"), EAdoError);
    c->SetProvider("SQLOLEDB");
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { c->Properties().Item("Server"); }), SItemNotFound);
    EXPECT_NO_THROW(c->Properties().Item("data source").SetValue(rtl::Variant("x")));
    c->SetProvider("MSDASQL");
    EXPECT_THROW(c->Properties().Item("A=B"), EAdoError);
}

// ---- drivers and servers ---------------------------------------------------------------

TEST(OdbcConnect, TheDriversOfTheProvidersAreRegistered)
{
    const std::vector<std::string> drivers = RegisteredDrivers();
    for (const char* name : {"FreeTDS", "PostgreSQL Unicode", "SQLite3"})
        EXPECT_NE(std::find(drivers.begin(), drivers.end(), name), drivers.end()) << name;
}

TEST(OdbcConnect, AnUnregisteredDriverIsRefusedWithItsNameBeforeConnecting)
{
    setenv(OracleDriverVariable, "No Such Oracle Driver", 1);
    const rtl::RefPtr<Connection> c = NewConnection();
    c->SetProvider("OraOLEDB.Oracle");
    const std::string message = RaisedMessage<EAdoError>([&] { c->Open("", "", "", adConnectUnspecified); });
    unsetenv(OracleDriverVariable);
    EXPECT_THAT(message, testing::HasSubstr("\"No Such Oracle Driver\""));
    EXPECT_THAT(message, testing::HasSubstr(OracleDriverVariable));
    EXPECT_EQ(c->State(), adStateClosed);
}

TEST(OdbcConnect, AConnectionStringArgumentIsRefused)
{
    const rtl::RefPtr<Connection> c = NewConnection();
    c->SetProvider("MSDASQL");
    EXPECT_THROW(c->Open("DRIVER={SQLite3};DATABASE=/tmp/x", "", "", adConnectUnspecified), EAdoError);
}

TEST(OdbcConnect, AServerThatCannotBeReachedFailsTheOpenPromptly)
{
    // FreeTDS towards a port nobody listens on.
    const rtl::RefPtr<Connection> c = NewConnection();
    c->SetProvider("SQLOLEDB");
    c->Properties().Item("Data Source").SetValue(rtl::Variant("127.0.0.1,9"));
    c->Properties().Item("User ID").SetValue(rtl::Variant("sa"));
    c->Properties().Item("Password").SetValue(rtl::Variant("x"));
    c->SetConnectionTimeout(2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c->Open("", "", "", adConnectUnspecified), EAdoError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(c->State(), adStateClosed);
}

TEST(OdbcConnect, APasswordWithSemicolonsAndBracesReachesTheServerWhole)
{
    const auto server = adotest::PgServer();
    if (!server) GTEST_SKIP() << adotest::PgNoServerMessage();
    // The test script gives the server's login a password with ";", "{", "}" and "=".
    const rtl::RefPtr<Connection> good = adotest::PgConnection(*server, server->Password);
    ASSERT_NO_THROW(adotest::OpenConnection(*good));
    EXPECT_EQ(good->State(), adStateOpen);
    EXPECT_EQ(Query(*good, "SELECT current_user"), (std::vector<std::vector<std::string>>{{server->User}}));

    const rtl::RefPtr<Connection> bad = adotest::PgConnection(*server, server->Password + "x");
    EXPECT_THAT(RaisedMessage<EAdoError>([&] { adotest::OpenConnection(*bad); }), testing::HasSubstr("password"));
    EXPECT_EQ(bad->State(), adStateClosed);
}

// ---- transactions and statements --------------------------------------------------------

// A connection to each engine, on a table T (K int primary key, V varchar(20)).
struct TEngine {
    const char* Name;
    bool Postgres;
};

void PrintTo(const TEngine& e, std::ostream* os) { *os << e.Name; }

class OdbcEngine : public testing::TestWithParam<TEngine> {
protected:
    void SetUp() override
    {
        if (GetParam().Postgres) {
            if (velmotest::SkipWithoutPgServer()) return;
            server_ = adotest::PgServer();
            schema_ = adotest::SchemaNameFor(testing::UnitTest::GetInstance()->current_test_info()->name() +
                                             std::to_string(getpid()));
        }
        conn = NewOpen();
        RunSql(*conn, "CREATE TABLE T (K int primary key, V varchar(20))");
    }
    void TearDown() override
    {
        if (!schema_.empty() && conn) {
            const rtl::RefPtr<Connection> c = NewOpen();
            RunSql(*c, "DROP SCHEMA " + schema_ + " CASCADE");
        }
    }
    rtl::RefPtr<Connection> NewOpen()
    {
        rtl::RefPtr<Connection> c = GetParam().Postgres ? adotest::PgConnection(*server_, server_->Password)
                                                        : adotest::SqliteConnection(folder_.File("t.db"));
        OpenOn(*c);
        return c;
    }
    // Opens c on the test's storage (its own schema on PostgreSQL).
    void OpenOn(Connection& c)
    {
        adotest::OpenConnection(c);
        if (!schema_.empty()) {
            RunSql(c, "CREATE SCHEMA IF NOT EXISTS " + schema_);
            RunSql(c, "SET search_path TO " + schema_);
        }
    }
    std::string Count(Connection& c) { return Query(c, "SELECT COUNT(*) FROM T")[0][0]; }

    rtl::RefPtr<Connection> conn;

private:
    TempFolder folder_;
    std::optional<adotest::TPgServer> server_;
    std::string schema_;
};

const TEngine kEngines[] = {{"PostgreSQL", true}, {"SQLite", false}};

std::string EngineName(const testing::TestParamInfo<TEngine>& info) { return info.param.Name; }

TEST_P(OdbcEngine, CommitKeepsAndRollbackDropsTheChanges)
{
    EXPECT_EQ(conn->BeginTrans(), 1);
    RunSql(*conn, "INSERT INTO T VALUES (1, 'a')");
    conn->CommitTrans();
    EXPECT_EQ(conn->BeginTrans(), 1);
    RunSql(*conn, "INSERT INTO T VALUES (2, 'b')");
    conn->RollbackTrans();
    EXPECT_EQ(Query(*conn, "SELECT K FROM T"), (std::vector<std::vector<std::string>>{{"1"}}));
    // Back in autocommit: a change is seen by another connection at once.
    RunSql(*conn, "INSERT INTO T VALUES (3, 'c')");
    const rtl::RefPtr<Connection> other = NewOpen();
    EXPECT_EQ(Count(*other), "2");
}

TEST_P(OdbcEngine, TransactionsDoNotNestAndEndOnlyWhenBegun)
{
    conn->BeginTrans();
    EXPECT_THROW(conn->BeginTrans(), EAdoError);
    conn->RollbackTrans();
    EXPECT_THROW(conn->CommitTrans(), EAdoError);
    EXPECT_THROW(conn->RollbackTrans(), EAdoError);
}

TEST_P(OdbcEngine, ClosingInATransactionRollsItBackAndTheNextOpenStartsClean)
{
    conn->BeginTrans();
    RunSql(*conn, "INSERT INTO T VALUES (1, 'a')");
    conn->Close();
    EXPECT_EQ(conn->State(), adStateClosed);
    OpenOn(*conn);
    EXPECT_EQ(Count(*conn), "0");
    // Autocommit again: the insert is seen elsewhere without a commit.
    RunSql(*conn, "INSERT INTO T VALUES (1, 'a')");
    EXPECT_EQ(Count(*NewOpen()), "1");
}

TEST_P(OdbcEngine, ClosingFreesTheStatementsAndACommandRunsAgainAfterReopening)
{
    const rtl::RefPtr<Command> command = NewCommand();
    command->SetActiveConnection(conn.get());
    command->SetCommandText("SELECT COUNT(*) FROM T");
    command->SetPrepared(true);
    rtl::Variant affected;
    EXPECT_EQ(adotest::Rows(*command->Execute(affected, adCmdText)), (std::vector<std::vector<std::string>>{{"0"}}));
    conn->Close();
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { command->Execute(affected, adCmdText); }), SNoConnection);
    OpenOn(*conn);
    EXPECT_EQ(adotest::Rows(*command->Execute(affected, adCmdText)), (std::vector<std::vector<std::string>>{{"0"}}));
    EXPECT_EQ(dynamic_cast<TOdbcCommand&>(*command).PrepareCount(), 2);
}

TEST_P(OdbcEngine, DirectExecutionReportsRowsAndFailures)
{
    EXPECT_EQ(RunSql(*conn, "INSERT INTO T VALUES (1, 'a')"), 1);
    EXPECT_EQ(RunSql(*conn, "INSERT INTO T VALUES (2, 'a')"), 1);
    EXPECT_EQ(RunSql(*conn, "UPDATE T SET V = 'b' WHERE V = 'a'"), 2);
    EXPECT_EQ(RunSql(*conn, "UPDATE T SET V = 'c' WHERE K = 99"), 0);
    EXPECT_EQ(RunSql(*conn, "DELETE FROM T WHERE K = 99"), 0);
    EXPECT_EQ(RunSql(*conn, "SELECT * FROM T"), -1);
    rtl::Variant affected;
    EXPECT_EQ(conn->Execute("DELETE FROM T", affected, adCmdText | adExecuteNoRecords)->State(), adStateClosed);
    EXPECT_EQ(affected.AsInteger(), 2);
    const std::string message = RaisedMessage<EAdoError>([&] { RunSql(*conn, "SELECT * FROM no_such_table"); });
    EXPECT_THAT(message, testing::HasSubstr("no_such_table"));
}

TEST_P(OdbcEngine, AWarningIsNoFailure)
{
    // SQLite's driver warns only while long values are read in pieces (see the long-value tests).
    if (!GetParam().Postgres) GTEST_SKIP() << "no statement of SQLite's driver ends with a warning";
    // Success with information (SQLSTATE 01000 here) is success.
    EXPECT_NO_THROW(RunSql(*conn, "DO $$ BEGIN RAISE WARNING 'careful'; END $$"));
    EXPECT_EQ(Count(*conn), "0");
}

INSTANTIATE_TEST_SUITE_P(Engines, OdbcEngine, testing::ValuesIn(kEngines), EngineName);

} // namespace
