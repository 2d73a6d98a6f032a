// Two test dialects of the ADO driver base (UdbProject/AdoUdbs.h), so that
// the base runs against real engines through real ODBC drivers:
//   "Test.PostgreSQL"  PostgreSQL through psqlODBC ("PostgreSQL Unicode",
//                      Booleans as Booleans, bytea as long binary);
//   "Test.SQLiteODBC"  a SQLite file through SQLite's ODBC driver ("SQLite3").
// Both send the layer's SQL with "[X]" turned into "X" and without the table
// qualifier in INSERT column lists and UPDATE SET targets (as the SQLite
// test driver does, SqliteTranslateSql); their type names are the ones their
// drivers list. They do not alter tables.
//
// The PostgreSQL server is the one the test script starts; its address comes
// from the environment (PARVANE_PG_HOST, PARVANE_PG_PORT, PARVANE_PG_USER,
// PARVANE_PG_PASSWORD, PARVANE_PG_DATABASE). Without PARVANE_PG_PORT there
// is no server, and the PostgreSQL tests skip (AdoTestSkip.h).
//
// Parameter documents: root "driver" with the driver name and "param"
// children: PostgreSQL "host", "port", "login-name", "login-password",
// "database" and "schema" (created when missing and made the only schema on
// the search path); SQLite "file". Both take "command-timeout" and
// "connection-timeout".
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "UdbProject/AdoUdbs.h"
#include "tests/support/VelmoFixture.h"

namespace adotest {

inline constexpr const char* PgDriverName = "Test.PostgreSQL";
inline constexpr const char* SqliteOdbcDriverName = "Test.SQLiteODBC";
inline constexpr const char* PgOdbcDriver = "PostgreSQL Unicode";
inline constexpr const char* SqliteOdbcDriver = "SQLite3";

inline constexpr const char* PgHostVariable = "PARVANE_PG_HOST";
inline constexpr const char* PgPortVariable = "PARVANE_PG_PORT";
inline constexpr const char* PgUserVariable = "PARVANE_PG_USER";
inline constexpr const char* PgPasswordVariable = "PARVANE_PG_PASSWORD";
inline constexpr const char* PgDatabaseVariable = "PARVANE_PG_DATABASE";

// Where the PostgreSQL server of the tests listens.
struct TPgServer {
    std::string Host;
    std::string Port;
    std::string User;
    std::string Password;
    std::string Database;
};

// The server the environment names; none when PARVANE_PG_PORT is not set.
std::optional<TPgServer> PgServer();
// Why PostgreSQL tests do not run without it.
std::string PgNoServerMessage();

// Extra "param" children of a parameter document: (name, value).
using TParamList = std::vector<std::pair<std::string, std::string>>;

std::string PgParamsXml(const TPgServer& server, const std::string& schema, const TParamList& extra = {});
std::string SqliteOdbcParamsXml(const std::string& file, const TParamList& extra = {});

// The statement text and parameters of the base, the text then in the
// engine's quoting.
class TAdoTestSQLCommand : public TAdoSQLCommand {
public:
    using TAdoSQLCommand::TAdoSQLCommand;

protected:
    ~TAdoTestSQLCommand() override = default;
    void DoPrepare() override;
};

// The base's table definition with case-sensitive names. A new table's
// indexes other than the primary one are named <table>_Ind1, <table>_Ind2,
// ... (the layer hands them over unnamed); altering a table is refused
// (UdbMsg::CapabilityNotSupported).
class TAdoTestTableDef : public TAdoTableDef {
public:
    explicit TAdoTestTableDef(TAdoDb* db) : TAdoTableDef(db, true) {}

protected:
    ~TAdoTestTableDef() override = default;
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override;
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override;
};

// What both dialects share: commands, table definitions, DROP TABLE and the
// base's type map.
class TAdoTestDb : public TAdoDb {
public:
    TUdbDataType AdoTypeToDataType(const std::string& typeName, std::int32_t adoType, bool isLong,
                                   std::int32_t precision, std::int32_t scale) override;

protected:
    ~TAdoTestDb() override = default;
    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    void DoDropTable(const std::string& name) override;
    // The base's open step, then the provider "MSDASQL" with these
    // properties (Driver first), then the connection opened.
    void OpenWith(const std::vector<std::pair<std::string, std::string>>& properties);
};

class TPgTestDb : public TAdoTestDb {
public:
    // bool, int4, float8, numeric(20,4), timestamp, varchar, text, bytea.
    std::string DataTypeToSQL(TUdbDataType dataType) override;
    // The current schema, read once per connection.
    rtl::Variant GetSchemaName() override;

protected:
    ~TPgTestDb() override = default;
    void DoOpen() override;
    void DoClose() override;

private:
    rtl::Variant schemaName_ = rtl::Variant::Null();
};

class TSqliteOdbcTestDb : public TAdoTestDb {
public:
    // bit, int, double, numeric, timestamp, varchar, text, longvarbinary.
    std::string DataTypeToSQL(TUdbDataType dataType) override;

protected:
    ~TSqliteOdbcTestDb() override = default;
    void DoOpen() override;
};

// Open databases of the dialects.
rtl::RefPtr<TPgTestDb> OpenPgTestDb(const TPgServer& server, const std::string& schema, const TParamList& extra = {});
rtl::RefPtr<TSqliteOdbcTestDb> OpenSqliteOdbcTestDb(const std::string& file, const TParamList& extra = {});

// A schema name of letters, digits and "_" made from text (at most 63 characters).
std::string SchemaNameFor(const std::string& text);

} // namespace adotest

namespace velmotest {

// The PostgreSQL dialect on the server of the environment: the database
// called name in folder is a schema of its own (named from both); rtl::Exception
// with PgNoServerMessage when there is no server.
TUdbOpener PgOpener();
// Whether db is a database of the PostgreSQL test dialect.
bool IsPgTestDb(IUdb& db);
// Every row version of every table of db's schema (PostgreSQL): a write of
// any row, even with the same values, changes it.
std::string PgRowVersions(IUdb& db);

} // namespace velmotest
