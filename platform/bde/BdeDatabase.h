// The database object: a connection to a folder of Paradox tables through
// the "STANDARD" driver, with transactions over every table of the folder and
// the list of its tables. Table and query objects find it by its session
// name and database name.
//
// Connecting takes the folder from the parameter line "PATH=<folder>" and
// the passwords of the session; it rolls back what a process that stopped
// in the middle of a change (or of a transaction) left in the folder.
// Disconnecting closes every table and query still open on it and rolls back
// a transaction still active.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bde/BdeStore.h"
#include "platform/bde/BdeTypes.h"

namespace bde {

class IBdePxStore;
class PxFileSystem;
class TBdeDataSet;
class TBdeSqlEngine;

class TBdeDatabase {
public:
    TBdeDatabase();
    ~TBdeDatabase();
    TBdeDatabase(const TBdeDatabase&) = delete;
    TBdeDatabase& operator=(const TBdeDatabase&) = delete;

    const std::string& DatabaseName() const noexcept { return databaseName_; }
    void SetDatabaseName(std::string name);
    const std::string& SessionName() const noexcept { return sessionName_; }
    void SetSessionName(std::string name);
    bool LoginPrompt() const noexcept { return loginPrompt_; }
    void SetLoginPrompt(bool value) noexcept { loginPrompt_ = value; }
    const std::string& AliasName() const noexcept { return aliasName_; }
    void SetAliasName(std::string name);
    const std::string& DriverName() const noexcept { return driverName_; }
    void SetDriverName(std::string name);
    // "NAME=value" lines.
    std::vector<std::string>& Params() noexcept { return params_; }
    TTransIsolation TransIsolation() const noexcept { return isolation_; }
    void SetTransIsolation(TTransIsolation value) noexcept { isolation_ = value; }

    // EBdeError for a driver other than "STANDARD", an alias, a missing PATH,
    // a session that does not exist or a database of the same name connected
    // in the session; the engine's error for a folder that does not exist.
    void Open();
    void Close();
    bool Connected() const noexcept { return store_ != nullptr; }

    // Another database object on the same folder shares the folder's
    // transaction: StartTransaction joins one that is open, Commit leaves it
    // (the last one commits the folder), and Rollback undoes every
    // participant's changes (see IBdePxStore).
    bool InTransaction() const;
    void StartTransaction();
    void Commit();
    void Rollback();
    // The transaction this database took part in was rolled back by another
    // database object on the folder, and has not been ended here yet.
    bool TransactionLost() const;
    // From now on, StartTransaction while `outer` is in a transaction joins
    // that one, on another folder too: the two folders then commit as one
    // when outer commits, and roll back as one (IBdePxStore). nullptr undoes
    // the link; it ends when either database disconnects. Both connected.
    void JoinTransactionsOf(TBdeDatabase* outer);

    // Table names without extensions, system files excluded.
    std::vector<std::string> GetTableNames(bool systemTables = false);

    // Tests put a file system in front of the folder that fails a chosen write.
    void SetFileSystem(PxFileSystem* fs) noexcept { fileSystem_ = fs; }
    // Records the SQL engine's virtual tables have read (a keyed statement
    // reads one).
    std::uint64_t RowsVisited() const noexcept;

    // ---- for the table and query objects ----
    static TBdeDatabase* Find(std::string_view sessionName, std::string_view databaseName);
    static std::vector<TBdeDatabase*> OfSession(std::string_view sessionName);
    IBdeTableStore& Store();
    TBdeSqlEngine& Sql();
    void Attach(TBdeDataSet* dataSet);
    void Detach(TBdeDataSet* dataSet) noexcept;
    void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                     const std::vector<TBdeStoreIndex>& secondaryIndexes);
    void DropTable(const std::string& name);
    void RenameTable(const std::string& from, const std::string& to);
    // A change made outside SQL failed: when the engine read its tables again,
    // row ids held by open datasets are no longer valid.
    void ChangeFailed(const std::exception_ptr& failure) noexcept;

private:
    void CheckConnected() const;
    // EBdeError when an open dataset reads the table.
    void CheckUnused(const std::string& table) const;

    std::string databaseName_;
    std::string sessionName_;
    bool loginPrompt_ = true;
    std::string aliasName_;
    std::string driverName_;
    std::vector<std::string> params_;
    TTransIsolation isolation_ = tiReadCommitted;
    PxFileSystem* fileSystem_ = nullptr;
    std::unique_ptr<IBdePxStore> store_;
    std::unique_ptr<TBdeSqlEngine> sql_;
    std::set<TBdeDataSet*> attached_;
};

} // namespace bde
