// The units of change of a run: every changed item is one transaction on the
// spatial database, with a nested one on the semantic database where both
// change. Where the driver can (both halves on the Paradox engine, in one
// folder or two) the semantic transaction takes part in the spatial one and
// the two commit as one; elsewhere the semantic one commits first, and is
// undone by a compensating change when the spatial commit then fails. The
// transactions are real ones on every driver; the generator's
// TransactionEnded follows every outermost commit or rollback of the spatial
// database, and a failing rollback never hides the error that caused it.
#pragma once

#include <functional>
#include <string>

#include "Tools/Parvane/IDGenerators.h"
#include "UdbProject/Udbs.h"

// One item of a run.
struct TItemChange {
    // The item's statements.
    std::function<void()> Change;
    // Change writes the semantic database too: it runs inside a transaction
    // on it, nested in the spatial one and committed first.
    bool BothDatabases = false;
    // The spatial commit failed after the semantic half committed on its
    // own (the halves do not commit as one): the semantic half goes back, in
    // a transaction of its own.
    std::function<void()> RenameBack;
    // The text added to the cause when RenameBack fails (given that failure's message).
    std::function<std::string(const std::string& error)> RenameBackFailed;
    // After the commit, before the generator is told.
    std::function<void()> Committed;
};

class TItemTransactions {
public:
    // db is the spatial database, the one the generator writes to.
    TItemTransactions(IUdb& db, IUdb& semDb, TIDGenerator& generator);
    ~TItemTransactions();
    TItemTransactions(const TItemTransactions&) = delete;
    TItemTransactions& operator=(const TItemTransactions&) = delete;

    // The item: committed when Change returns, rolled back (and the error
    // passed on) when it raises.
    void ChangeItem(const TItemChange& item);
    // An item on the spatial database alone.
    void ChangeItem(const std::function<void()>& change);

    void StartDbTransaction(IUdb& db);
    void CommitDbTransaction(IUdb& db);
    // Rolls back; a rollback that fails raises its own error.
    void RollbackDbTransaction(IUdb& db);
    // Rollback after an error: a failure of the rollback itself is dropped so
    // the error that caused it passes on.
    void RollbackAfterError(IUdb& db) noexcept;
    // fn inside a transaction on db: committed when it returns, rolled back
    // (and the error passed on) when it raises.
    void InDbTransaction(IUdb& db, const std::function<void()>& fn);
    // The driver name parameter holds "PARADOX" (any case).
    static bool IsParadoxDb(IUdb& db);
    // The semantic database's transactions take part in the spatial one's.
    bool OneCommit() const noexcept { return joined_ != nullptr || &db_ == &semDb_; }

private:
    // After an outermost commit or rollback of the spatial database.
    void TransactionEnded(IUdb& db);

    IUdb& db_;
    IUdb& semDb_;
    TIDGenerator& generator_;
    IUdbJoinedTransactions* joined_ = nullptr; // semDb_'s, while it joins db_'s transactions
};
