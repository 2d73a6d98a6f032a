// The SQLite test driver: the access layer's base classes over one SQLite
// file, so that everything above the access layer can be tested against a
// real SQL engine. It is built for tests only; the program never registers it.
//
// The driver translates the layer's dialect for SQLite: "[X]" becomes the
// quoted name "X", and a qualified "[T].[C]" stays "T"."C" except in INSERT
// column lists and UPDATE SET targets, where SQLite accepts only the bare
// column name. Quoted literals, quoted names and comments are never touched;
// "?" stays "?".
//
// Parameter document: root "driver" with name "Test.SQLite" and a "param"
// named "file" holding the database file (":memory:" for a private one).
//
// For tests of failure paths the database can be told to fail the Nth
// statement execution, every execution whose text holds a given piece, or the
// next commit. Executions counted are those of IUdbSQLCommand (the DDL the
// driver writes itself runs through such commands too); the driver's reads of
// the catalogue and its transaction control statements are not counted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "UdbProject/UdbUtils.h"

struct sqlite3;

inline constexpr const char* SqliteDriverName = "Test.SQLite";
inline constexpr const char* SqliteFileParam = "file";

class TSqliteUdb : public TUdb {
public:
    TSqliteUdb();

    // ---- fault injection
    // The nth statement execution from now fails (1: the next one); n <= 0 cancels.
    void FailStatement(int n) noexcept;
    // Every statement execution whose text (as given or as sent to SQLite)
    // contains piece fails, until cleared; an empty piece cancels.
    void FailStatementsContaining(std::string piece);
    // The next outermost commit fails before it reaches SQLite; the engine
    // transaction stays open (a rollback ends it).
    void FailNextCommit() noexcept;
    void ClearFaults() noexcept;

    // ---- for tests and for the driver's own objects
    // The connection; nullptr while closed.
    sqlite3* Handle() const noexcept { return handle_; }
    // The statement objects alive on the connection (0 while closed).
    int EngineStatementCount() const noexcept;
    // Runs the fault checks for one statement execution: EUdbException with
    // the injected-failure message when this execution is to fail.
    void CheckInjectedFault(std::string_view layerSql, std::string_view engineSql);
    // Runs a transaction-control statement (BEGIN, SAVEPOINT, ...) directly,
    // outside the fault injection; EUdbException with SQLite's message.
    void ExecControl(const char* sql);

protected:
    ~TSqliteUdb() override;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    void DoOpen() override;
    // Finalises every statement of the attached commands and cursors, then
    // closes the connection (an open engine transaction is rolled back).
    void DoClose() override;
    bool GetConnected() override;
    bool GetInTransaction() override;
    void DoStartTransaction() override;
    void DoCommit() override;
    void DoRollback() override;
    rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) override;
    // Tables and views, names compared as SQLite compares them.
    bool DoTableExists(const std::string& name) override;
    void DoDropTable(const std::string& name) override;

private:
    void CloseHandle() noexcept;

    sqlite3* handle_ = nullptr;
    int failCountdown_ = 0;
    std::string failPiece_;
    bool failNextCommit_ = false;
};

// A new database of this driver opened on file (created when missing).
rtl::RefPtr<TSqliteUdb> OpenSqliteUdb(const std::string& file);
// The parameter document for file.
std::string SqliteParamsXml(const std::string& file);

// The layer's statement text in SQLite's dialect.
std::string SqliteTranslateSql(std::string_view layerSql);
// name as an SQLite quoted name: "name" with every '"' doubled.
std::string SqliteQuoteName(std::string_view name);

// The column declaration for a layer data type: a size is written for the
// String, Memo and Binary kinds when size > 0. Code 0 gives no declaration;
// any other code outside the layer's table fails with its message.
std::string SqliteColumnType(TUdbDataType type, std::int32_t size);
// A declared column type read back: the layer data type (0 for an empty
// declaration) and the size in parentheses for the String, Memo and Binary
// kinds (-1 when none is given).
struct TSqliteColumnType {
    TUdbDataType DataType = 0;
    std::int32_t Size = -1;
    friend bool operator==(const TSqliteColumnType&, const TSqliteColumnType&) = default;
};
TSqliteColumnType SqliteParseColumnType(std::string_view declaration);
