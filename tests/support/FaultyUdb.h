// A fault-injecting wrapper around any database, for tests of failure paths:
// the faults the SQLite test driver injects by itself (the Nth statement
// execution, every execution whose text holds a piece, an outermost commit),
// available on every driver.
//
// The wrapper delegates every operation to the database it wraps. Its
// commands wrap the inner commands: Execute counts the execution and, when it
// is to fail, raises EUdbException before the inner command runs, worded as
// the SQLite driver words its own injected failure. Counted are executions of
// commands made through the wrapper's CreateCommand (also through the
// statement builders on the wrapper); what the inner database runs by itself
// (table definitions, TableExists, DropTable, schema information) is not.
// Calls the inner command would refuse before running (a closed database,
// wrong parameter values) are passed on to it and not counted.
//
// Transactions nest as in the inner database, and join another database's
// where the inner database can (IUdbJoinedTransactions): only the commit that ends the
// outermost level is counted and can be made to fail. The depth is the inner
// database's own count when it is a TUdb; for any other database the wrapper
// counts the levels started through itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "UdbProject/Udbs.h"
#include "platform/rtl/RefCounted.h"

class TFaultyCommand;

class TFaultyUdb : public IUdb, public IUdbJoinedTransactions {
public:
    // inner must be given.
    explicit TFaultyUdb(rtl::RefPtr<IUdb> inner);

    // ---- fault injection
    // The nth statement execution from now fails (1: the next one); n <= 0 cancels.
    void FailStatement(int n) noexcept;
    // Every statement execution whose text contains piece fails, until
    // cleared; an empty piece cancels.
    void FailStatementsContaining(std::string piece);
    // The nth outermost commit from now fails before it reaches the inner
    // database (1: the next one); the transaction stays open, a rollback ends
    // it. n <= 0 cancels.
    void FailCommit(int n) noexcept;
    void ClearFaults() noexcept;

    // ---- counters (since the wrapper was made; failed ones included)
    // Statement executions through the wrapper's commands.
    std::int64_t Executions() const noexcept { return executions_; }
    // Outermost commits.
    std::int64_t Commits() const noexcept { return commits_; }

    const rtl::RefPtr<IUdb>& Inner() const noexcept { return inner_; }

    // ---- IUdb
    void Open(const std::string& params) override;
    void Close() override;
    bool IsOpen() override;
    bool InTransaction() override;
    void StartTransaction() override;
    void Commit() override;
    void Rollback() override;
    rtl::RefPtr<IUdbSQLCommand> CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                              std::int32_t paramCount, bool prepared) override;
    rtl::RefPtr<IUdbCursor> GetSchemaInfo(TUdbSchemaKind kind) override;
    rtl::RefPtr<IUdbTableDef> GetTableDef(const std::string& name) override;
    bool TableExists(const std::string& name) override;
    void DropTable(const std::string& name) override;
    rtl::RefPtr<ISimpleParams> GetParams() override;

    // ---- IUdbJoinedTransactions: the inner database's, with outer unwrapped
    // when it is a wrapper too.
    bool JoinTransactionsOf(IUdb* outer) override;

protected:
    ~TFaultyUdb() override = default;

private:
    friend class TFaultyCommand;

    // Counts one execution of sql; true when it is to fail.
    bool CountExecution(std::string_view sql);
    // Whether the inner database is open and inside a transaction.
    bool InnerInTransaction();
    // The nesting depth of the inner database's transaction.
    std::int32_t Depth();

    rtl::RefPtr<IUdb> inner_;
    std::int64_t executions_ = 0;
    std::int64_t commits_ = 0;
    int failStatementCountdown_ = 0;
    std::string failPiece_;
    int failCommitCountdown_ = 0;
    // Levels started through the wrapper (used when the inner database is not a TUdb).
    std::int32_t depth_ = 0;
};

// A wrapper around inner, no fault armed.
rtl::RefPtr<TFaultyUdb> WrapFaulty(rtl::RefPtr<IUdb> inner);
