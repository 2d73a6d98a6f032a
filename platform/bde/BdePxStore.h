// The table store over the Paradox file engine (PxDatabase, PxTable): the
// one place where the session/database/table/query objects meet the files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/BdeStore.h"

namespace bde {

class PxFileSystem;

struct TBdePxStoreOptions {
    std::vector<std::string> Passwords; // for encrypted tables
    int DefaultCodePage = 1251;         // for tables whose header names none
    PxFileSystem* FileSystem = nullptr; // nullptr: the real one (tests put a failing one in)
};

// A database object's hold on a folder. Every database object on one folder
// gets a handle on the folder's one store (the engine keeps the tables in
// memory and has one journal per folder).
//
// The folder's transaction is one unit that several handles may take part
// in: StartTransaction() of IBdeTableStore starts it and refuses while other
// handles are in it (a statement's own unit never mixes into theirs), while
// JoinTransaction() joins it. A participant's Commit() only leaves it, and
// the last one's commits the folder; a participant's Rollback() (or a
// participant going away without a commit) rolls back every participant's
// changes, and the other participants' transactions are lost: they are no
// longer in a transaction, their changes are refused, their Rollback() is a
// no-op that ends the loss and their Commit() fails and ends it. A handle
// that is not in the folder's open transaction cannot change the folder.
//
// A handle on one folder may take part in the transactions of a handle on
// another (JoinTransactionsOf): its folder's transaction then joins the
// other folder's (PxDatabase::JoinTransaction), its Commit() only leaves,
// the other handle's commit commits both folders as one, and a rollback or
// a failure through either ends both (the participants on the other folder
// lose their transaction, as on one folder).
class IBdePxStore : public IBdeTableStore {
public:
    // Starts the folder's transaction, or joins the one other handles have
    // open.
    virtual void JoinTransaction() = 0;
    // This handle's transaction was rolled back through another handle and
    // has not been ended through this one yet.
    virtual bool TransactionLost() const = 0;
    // Called when the folder's tables were read again through another handle
    // (a rollback, a change that failed on disk): row ids handed out before
    // mean nothing then.
    virtual void SetOnReread(std::function<void()> handler) = 0;
    // From now on, JoinTransaction() while `outer` is in a transaction joins
    // that one, on outer's folder or on another; nullptr undoes the link.
    // The link ends when either handle goes away.
    virtual void JoinTransactionsOf(IBdePxStore* outer) = 0;
};

// Opens the folder (rolling back what a stopped process left half done);
// the engine's error when the folder does not exist. A store with a file
// system of its own is never shared with another handle.
std::unique_ptr<IBdePxStore> BdeOpenPxStore(const std::string& folder, const TBdePxStoreOptions& options = {});

} // namespace bde
