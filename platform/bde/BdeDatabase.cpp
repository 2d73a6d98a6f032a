// Database objects: connecting to a folder, transactions, table changes
// that the SQL engine must hear of, and the process-wide list through which
// datasets find their database.
#include "platform/bde/BdeDatabase.h"

#include <algorithm>
#include <mutex>

#include "platform/bde/BdeDataSets.h"
#include "platform/bde/BdePxStore.h"
#include "platform/bde/BdeSession.h"
#include "platform/bde/BdeVirtualTables.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* kStandardDriver = "STANDARD";
constexpr const char* kDefaultSession = "Default";

constexpr const char* SNotConnected = "Database \"%s\" is not connected";
constexpr const char* SConnected = "Cannot change %s of database \"%s\" while it is connected";
constexpr const char* SNoDriver = "Database \"%s\" has neither a driver name nor an alias";
constexpr const char* SBadDriver = "Driver \"%s\" of database \"%s\" is not supported; only \"STANDARD\" (Paradox tables) is";
constexpr const char* SNoAlias = "Alias \"%s\" of database \"%s\" is not defined; give the driver and PATH instead";
constexpr const char* SNoPath = "Database \"%s\" has no folder: the parameter PATH is missing or empty";
constexpr const char* SNoSession = "Session \"%s\" of database \"%s\" does not exist";
constexpr const char* SInUse = "Table \"%s\" is in use by %s";
constexpr const char* SDuplicateDb = "Database \"%s\" is connected already in session \"%s\"";

struct TDatabaseList {
    std::mutex lock;
    std::vector<TBdeDatabase*> items;
};

TDatabaseList& Databases()
{
    static TDatabaseList list;
    return list;
}

// An empty session name is the default session.
bool SameSession(std::string_view a, std::string_view b)
{
    return rtl::SameText(a.empty() ? kDefaultSession : a, b.empty() ? kDefaultSession : b);
}

} // namespace

TBdeDatabase::TBdeDatabase()
{
    TDatabaseList& list = Databases();
    const std::lock_guard<std::mutex> guard(list.lock);
    list.items.push_back(this);
}

TBdeDatabase::~TBdeDatabase()
{
    try {
        Close();
    } catch (...) {
        // The rollback of an open transaction failed: the folder's journal
        // undoes it when the folder is opened next.
    }
    TDatabaseList& list = Databases();
    const std::lock_guard<std::mutex> guard(list.lock);
    list.items.erase(std::remove(list.items.begin(), list.items.end(), this), list.items.end());
}

void TBdeDatabase::SetDatabaseName(std::string name)
{
    if (Connected()) throw EBdeError(rtl::Format(SConnected, "the name", databaseName_.c_str()));
    databaseName_ = std::move(name);
}

void TBdeDatabase::SetSessionName(std::string name)
{
    if (Connected()) throw EBdeError(rtl::Format(SConnected, "the session", databaseName_.c_str()));
    sessionName_ = std::move(name);
}

void TBdeDatabase::SetAliasName(std::string name)
{
    if (Connected()) throw EBdeError(rtl::Format(SConnected, "the alias", databaseName_.c_str()));
    aliasName_ = std::move(name);
}

void TBdeDatabase::SetDriverName(std::string name)
{
    if (Connected()) throw EBdeError(rtl::Format(SConnected, "the driver", databaseName_.c_str()));
    driverName_ = std::move(name);
}

void TBdeDatabase::Open()
{
    if (Connected()) return;
    const char* db = databaseName_.c_str();
    if (!aliasName_.empty()) throw EBdeError(rtl::Format(SNoAlias, aliasName_.c_str(), db));
    if (driverName_.empty()) throw EBdeError(rtl::Format(SNoDriver, db));
    if (!rtl::SameTextLatin(driverName_, kStandardDriver)) throw EBdeError(rtl::Format(SBadDriver, driverName_.c_str(), db));
    std::string folder;
    for (const std::string& line : params_) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && rtl::SameTextLatin(rtl::Trim(line.substr(0, eq)), "PATH"))
            folder = line.substr(eq + 1);
    }
    if (folder.empty()) throw EBdeError(rtl::Format(SNoPath, db));
    const TBdeSession* session = TBdeSession::Find(sessionName_);
    if (!session && !SameSession(sessionName_, kDefaultSession))
        throw EBdeError(rtl::Format(SNoSession, sessionName_.c_str(), db));
    for (const TBdeDatabase* other : OfSession(sessionName_))
        if (other != this && other->Connected() && rtl::SameText(other->databaseName_, databaseName_))
            throw EBdeError(rtl::Format(SDuplicateDb, db, sessionName_.c_str()));

    TBdePxStoreOptions options;
    if (session) options.Passwords = session->Passwords();
    options.FileSystem = fileSystem_;
    std::unique_ptr<IBdePxStore> store = BdeOpenPxStore(folder, options);
    sql_ = std::make_unique<TBdeSqlEngine>(*store);
    store->SetOnReread([this] {
        if (sql_) sql_->InvalidateRows();
    });
    store_ = std::move(store);
}

void TBdeDatabase::Close()
{
    if (!Connected()) return;
    // Datasets let go of their statements before the SQL engine goes.
    const std::set<TBdeDataSet*> attached = attached_;
    for (TBdeDataSet* d : attached) d->DatabaseClosing();
    attached_.clear();
    std::exception_ptr failure;
    if (store_->InTransaction()) {
        try {
            store_->Rollback();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    sql_.reset();
    store_.reset();
    if (failure) std::rethrow_exception(failure);
}

void TBdeDatabase::CheckConnected() const
{
    if (!Connected()) throw EBdeError(rtl::Format(SNotConnected, databaseName_.c_str()));
}

bool TBdeDatabase::InTransaction() const { return Connected() && store_->InTransaction(); }

bool TBdeDatabase::TransactionLost() const { return Connected() && store_->TransactionLost(); }

void TBdeDatabase::StartTransaction()
{
    CheckConnected();
    store_->JoinTransaction();
}

void TBdeDatabase::JoinTransactionsOf(TBdeDatabase* outer)
{
    CheckConnected();
    if (outer) outer->CheckConnected();
    store_->JoinTransactionsOf(outer ? outer->store_.get() : nullptr);
}

void TBdeDatabase::Commit()
{
    CheckConnected();
    try {
        store_->Commit();
    } catch (...) {
        // A commit that fails on disk puts the files back as they were.
        sql_->ChangeFailed(std::current_exception());
        throw;
    }
}

void TBdeDatabase::Rollback()
{
    CheckConnected();
    sql_->InvalidateRows();
    store_->Rollback();
}

std::vector<std::string> TBdeDatabase::GetTableNames(bool)
{
    CheckConnected();
    return store_->TableNames();
}

std::uint64_t TBdeDatabase::RowsVisited() const noexcept { return sql_ ? sql_->RowsVisited() : 0; }

TBdeDatabase* TBdeDatabase::Find(std::string_view sessionName, std::string_view databaseName)
{
    TDatabaseList& list = Databases();
    const std::lock_guard<std::mutex> guard(list.lock);
    TBdeDatabase* found = nullptr;
    for (TBdeDatabase* db : list.items) {
        if (!SameSession(db->sessionName_, sessionName) || !rtl::SameText(db->databaseName_, databaseName)) continue;
        if (db->Connected()) return db;
        if (!found) found = db;
    }
    return found;
}

std::vector<TBdeDatabase*> TBdeDatabase::OfSession(std::string_view sessionName)
{
    TDatabaseList& list = Databases();
    const std::lock_guard<std::mutex> guard(list.lock);
    std::vector<TBdeDatabase*> out;
    for (TBdeDatabase* db : list.items)
        if (SameSession(db->sessionName_, sessionName)) out.push_back(db);
    return out;
}

IBdeTableStore& TBdeDatabase::Store()
{
    CheckConnected();
    return *store_;
}

TBdeSqlEngine& TBdeDatabase::Sql()
{
    CheckConnected();
    return *sql_;
}

void TBdeDatabase::Attach(TBdeDataSet* dataSet)
{
    CheckConnected();
    attached_.insert(dataSet);
}

void TBdeDatabase::Detach(TBdeDataSet* dataSet) noexcept { attached_.erase(dataSet); }

void TBdeDatabase::CheckUnused(const std::string& table) const
{
    for (const TBdeDataSet* d : attached_)
        if (d->UsesTable(table)) throw EBdeError(rtl::Format(SInUse, table.c_str(), d->Describe().c_str()));
}

void TBdeDatabase::CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                               const std::vector<TBdeStoreIndex>& secondaryIndexes)
{
    CheckConnected();
    CheckUnused(name);
    sql_->ForgetTable(name);
    try {
        store_->CreateTable(name, fields, keyFieldCount, secondaryIndexes);
    } catch (...) {
        sql_->ChangeFailed(std::current_exception());
        throw;
    }
}

void TBdeDatabase::DropTable(const std::string& name)
{
    CheckConnected();
    CheckUnused(name);
    sql_->ForgetTable(name);
    try {
        store_->DropTable(name);
    } catch (...) {
        sql_->ChangeFailed(std::current_exception());
        throw;
    }
}

void TBdeDatabase::RenameTable(const std::string& from, const std::string& to)
{
    CheckConnected();
    CheckUnused(from);
    CheckUnused(to);
    sql_->ForgetTable(from);
    sql_->ForgetTable(to);
    try {
        store_->RenameTable(from, to);
    } catch (...) {
        sql_->ChangeFailed(std::current_exception());
        throw;
    }
}

void TBdeDatabase::ChangeFailed(const std::exception_ptr& failure) noexcept
{
    if (sql_) sql_->ChangeFailed(failure);
}

} // namespace bde
