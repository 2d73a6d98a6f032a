// The transactions of the items of a run.
#include "Tools/Parvane/ItemTransactions.h"

#include <exception>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"

namespace {

// The message of the exception being handled.
std::string CurrentMessage()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return std::string();
    }
}

} // namespace

TItemTransactions::TItemTransactions(IUdb& db, IUdb& semDb, TIDGenerator& generator)
    : db_(db), semDb_(semDb), generator_(generator)
{
    auto* joined = dynamic_cast<IUdbJoinedTransactions*>(&semDb_);
    if (&db_ != &semDb_ && joined && joined->JoinTransactionsOf(&db_)) joined_ = joined;
}

TItemTransactions::~TItemTransactions()
{
    if (!joined_) return;
    try {
        joined_->JoinTransactionsOf(nullptr);
    } catch (...) {
        // A database closed under the run ended the link with it.
    }
}

void TItemTransactions::ChangeItem(const TItemChange& item)
{
    bool semCommitted = false;
    StartDbTransaction(db_);
    try {
        if (item.BothDatabases) {
            StartDbTransaction(semDb_);
            try {
                item.Change();
                CommitDbTransaction(semDb_);
            } catch (...) {
                RollbackAfterError(semDb_);
                throw;
            }
            semCommitted = true;
        } else {
            item.Change();
        }
        // The commit alone: whatever fails after it must not rename back.
        db_.Commit();
    } catch (...) {
        RollbackAfterError(db_);
        // Where both halves share one transaction the rollback took the
        // semantic half back already.
        if (semCommitted && item.RenameBack && !OneCommit()) {
            const std::string cause = CurrentMessage();
            try {
                InDbTransaction(semDb_, item.RenameBack);
            } catch (...) {
                // The databases disagree about the item now: say so with the cause.
                throw rtl::Exception(cause + "\r\n" + item.RenameBackFailed(CurrentMessage()));
            }
        }
        throw;
    }
    if (item.Committed) item.Committed();
    TransactionEnded(db_);
}

void TItemTransactions::ChangeItem(const std::function<void()>& change)
{
    TItemChange item;
    item.Change = change;
    ChangeItem(item);
}

void TItemTransactions::StartDbTransaction(IUdb& db) { db.StartTransaction(); }

void TItemTransactions::CommitDbTransaction(IUdb& db)
{
    db.Commit();
    TransactionEnded(db);
}

void TItemTransactions::RollbackDbTransaction(IUdb& db)
{
    try {
        db.Rollback();
    } catch (...) {
        try {
            TransactionEnded(db);
        } catch (...) {
            // The rollback's own error is the one to pass on.
        }
        throw;
    }
    TransactionEnded(db);
}

void TItemTransactions::RollbackAfterError(IUdb& db) noexcept
{
    try {
        RollbackDbTransaction(db);
    } catch (...) {
        // The error that made the rollback necessary passes on instead.
    }
}

void TItemTransactions::InDbTransaction(IUdb& db, const std::function<void()>& fn)
{
    StartDbTransaction(db);
    try {
        fn();
        db.Commit();
    } catch (...) {
        RollbackAfterError(db);
        throw;
    }
    TransactionEnded(db);
}

bool TItemTransactions::IsParadoxDb(IUdb& db)
{
    const auto params = db.GetParams();
    const std::string name = params ? params->GetStr(rtl::Variant("Udb\\DriverName"), std::string()) : std::string();
    return rtl::UpperCase(name).find("PARADOX") != std::string::npos;
}

void TItemTransactions::TransactionEnded(IUdb& db)
{
    // The generator writes again what went back with (or waited for) the
    // spatial database's transaction.
    if (&db == &db_ && db.IsOpen() && !db.InTransaction()) generator_.TransactionEnded();
}
