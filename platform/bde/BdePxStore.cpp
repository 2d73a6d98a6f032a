// The table store over the Paradox file engine.
//
// The engine looks a table's files up in the folder whenever a table is
// opened by name, so the store keeps one adapter per table it has opened and
// hands that out until the table is dropped or renamed.
#include "platform/bde/BdePxStore.h"

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxIo.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* kFolderShared =
    "The folder \"%s\" is open in another database: its tables cannot be created, dropped or renamed";
constexpr const char* kFolderInForeignTransaction =
    "The folder \"%s\" is in a transaction of another database: it cannot be changed until that ends";
constexpr const char* kRolledBackByAnother = "The transaction on folder \"%s\" was rolled back by another database";

class TPxStoreTable final : public IBdeStoreTable {
public:
    explicit TPxStoreTable(rtl::RefPtr<PxTable> table) : table_(std::move(table)), name_(table_->Name()) {}

    const std::string& Name() const override { return name_; }
    const std::vector<PxFieldDef>& Fields() override { return table_->Fields(); }
    int KeyFieldCount() override { return table_->KeyFieldCount(); }
    std::vector<TBdeStoreIndex> Indexes() override
    {
        std::vector<TBdeStoreIndex> out;
        for (const PxIndexDef& d : table_->Indexes()) out.push_back({d.name, d.fields, d.primary, d.unique});
        return out;
    }
    std::int64_t RecordCount() override { return table_->RecordCount(); }
    std::vector<TBdeRowId> Rows() override { return table_->Rows(); }
    bool Exists(TBdeRowId row) override { return table_->Exists(row); }
    std::vector<TBdeRowId> Find(int index, const std::vector<rtl::Variant>& values) override
    {
        // Positions in Indexes() are the engine's index numbers: the primary
        // key is 0 and secondary indexes exist only on keyed tables.
        if (index == 0 && values.size() == static_cast<std::size_t>(table_->KeyFieldCount())) {
            const auto row = table_->Seek(values);
            return row ? std::vector<TBdeRowId>{*row} : std::vector<TBdeRowId>{};
        }
        return table_->FindByIndex(index, values);
    }
    rtl::Variant Get(TBdeRowId row, int field) override { return table_->Get(row, field); }
    TBdeRowId Insert(const std::vector<rtl::Variant>& values) override { return table_->Insert(values); }
    void Update(TBdeRowId row, const std::vector<std::pair<int, rtl::Variant>>& changes) override
    {
        table_->Update(row, changes);
    }
    void Delete(TBdeRowId row) override { table_->Delete(row); }
    void HoldRows() override { table_->HoldRows(); }
    void ReleaseRows() noexcept override { table_->ReleaseRows(); }

private:
    rtl::RefPtr<PxTable> table_;
    std::string name_;
};

class TPxStore final {
public:
    TPxStore(const std::string& folder, const TBdePxStoreOptions& options) : db_(folder, MakeOptions(options)) {}
    // A later handle on the folder brings the passwords of its session too.
    void AddPasswords(const std::vector<std::string>& passwords) { db_.AddPasswords(passwords); }

    const std::string& Folder() const { return db_.Folder(); }
    std::vector<std::string> TableNames() { return db_.TableNames(); }
    bool TableExists(const std::string& name)
    {
        return tables_.count(rtl::UpperCase(name)) != 0 || db_.TableExists(name);
    }
    IBdeStoreTable& Table(const std::string& name)
    {
        const std::string key = rtl::UpperCase(name);
        auto it = tables_.find(key);
        if (it == tables_.end())
            it = tables_.emplace(key, std::make_unique<TPxStoreTable>(db_.OpenTable(name))).first;
        return *it->second;
    }
    void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                     const std::vector<TBdeStoreIndex>& secondaryIndexes)
    {
        PxTableSpec spec;
        spec.fields = fields;
        spec.keyFieldCount = keyFieldCount;
        for (const TBdeStoreIndex& i : secondaryIndexes)
            spec.secondaryIndexes.push_back({i.Name, i.Fields, i.Primary, i.Unique});
        auto table = db_.CreateTable(name, spec);
        tables_[rtl::UpperCase(name)] = std::make_unique<TPxStoreTable>(std::move(table));
    }
    // The adapter goes only when the engine succeeded: a failed drop or
    // rename leaves the table, and its adapter, as they were.
    void DropTable(const std::string& name)
    {
        db_.DropTable(name);
        tables_.erase(rtl::UpperCase(name));
    }
    void RenameTable(const std::string& from, const std::string& to)
    {
        db_.RenameTable(from, to);
        tables_.erase(rtl::UpperCase(from));
        tables_.erase(rtl::UpperCase(to));
    }

    void StartTransaction() { db_.StartTransaction(); }
    void Commit() { db_.Commit(); }
    void Rollback() { db_.Rollback(); }
    bool InTransaction() const { return db_.InTransaction(); }

    PxDatabase& Engine() noexcept { return db_; }

private:
    static PxOpenOptions MakeOptions(const TBdePxStoreOptions& options)
    {
        PxOpenOptions o;
        o.fileSystem = options.FileSystem;
        o.defaultCodePage = options.DefaultCodePage;
        o.passwords = options.Passwords;
        return o;
    }

    PxDatabase db_;
    std::map<std::string, std::unique_ptr<TPxStoreTable>> tables_; // by upper-case name
};

// Whether the engine read its tables again after this failure (it undid a
// change that failed on the way); a refusal (a duplicate key, a value that
// does not fit, a change not allowed now) leaves them as they were.
bool TablesReread(const std::exception_ptr& failure) noexcept
{
    try {
        std::rethrow_exception(failure);
    } catch (const EPxIoError&) {
        return true;
    } catch (const rtl::EAssertionFailed&) {
        return true;
    } catch (const rtl::Exception&) {
        return false;
    } catch (...) {
        return true;
    }
}

class TSharedPxStore;

// One store per folder in the process, and the handles on it: the engine
// keeps a table's files in memory and has one journal per folder, so two
// stores on one folder (the spatial and the semantic half of a pair kept
// together) would overwrite each other's changes.
struct TPxFolder {
    TPxFolder(const std::string& folder, const TBdePxStoreOptions& options);

    TPxStore store;
    std::vector<TSharedPxStore*> handles;
};

// A database object's handle on its folder's store (see IBdePxStore). Its
// tables are adapters of its own over the store's, so that every change is
// checked against the handle's part in the folder's transaction.
class TSharedPxStore final : public IBdePxStore {
public:
    explicit TSharedPxStore(std::shared_ptr<TPxFolder> folder) : folder_(std::move(folder))
    {
        folder_->handles.push_back(this);
    }
    // A participant that goes away without a commit rolls the folder's
    // transaction back: the others must not commit half of the unit.
    ~TSharedPxStore() override
    {
        if (state_ == TState::Participant) {
            try {
                Rollback();
            } catch (...) {
                // The journal is rolled back when the folder is opened next.
            }
        }
        JoinTransactionsOf(nullptr);
        for (TSharedPxStore* inner : inner_) inner->outer_ = nullptr;
        std::erase(folder_->handles, this);
    }

    const std::string& Folder() const override { return Store().Folder(); }
    std::vector<std::string> TableNames() override { return Store().TableNames(); }
    bool TableExists(const std::string& name) override { return Store().TableExists(name); }
    IBdeStoreTable& Table(const std::string& name) override
    {
        const std::string key = rtl::UpperCase(name);
        auto it = tables_.find(key);
        if (it == tables_.end()) it = tables_.emplace(key, std::make_unique<TTable>(*this, Store().Table(name))).first;
        return *it->second;
    }
    // Creating, dropping and renaming replace a table's adapter, which the
    // other database objects on the folder may be reading through: they are
    // refused while another one is open on the folder.
    void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                     const std::vector<TBdeStoreIndex>& secondaryIndexes) override
    {
        CheckAlone();
        Store().CreateTable(name, fields, keyFieldCount, secondaryIndexes);
        tables_.erase(rtl::UpperCase(name));
    }
    void DropTable(const std::string& name) override
    {
        CheckAlone();
        Store().DropTable(name);
        tables_.erase(rtl::UpperCase(name));
    }
    void RenameTable(const std::string& from, const std::string& to) override
    {
        CheckAlone();
        Store().RenameTable(from, to);
        tables_.erase(rtl::UpperCase(from));
        tables_.erase(rtl::UpperCase(to));
    }

    // A statement's own unit and a transaction of this handle alone: refused
    // while other handles are in the folder's transaction.
    void StartTransaction() override
    {
        CheckNotLost();
        CheckNotForeign();
        Store().StartTransaction();
        state_ = TState::Participant;
    }
    void JoinTransaction() override
    {
        CheckNotLost();
        if (state_ != TState::Participant && Store().InTransaction()) {
            state_ = TState::Participant;
            return;
        }
        if (outer_ && outer_->folder_ != folder_ && outer_->InTransaction()) {
            CheckNotForeign();
            Store().Engine().JoinTransaction(outer_->Store().Engine());
            state_ = TState::Participant;
            return;
        }
        StartTransaction();
    }
    // Leaves the transaction; the last participant commits the folder. When
    // that fails and the engine keeps the transaction open for a rollback,
    // this handle stays in it.
    void Commit() override
    {
        if (state_ == TState::Lost) {
            state_ = TState::None;
            throw EPxError(rtl::Format(kRolledBackByAnother, Folder().c_str()));
        }
        CheckNotForeign();
        // The folder's transaction is committed by its last participant, or,
        // when it is part of another folder's, with that one.
        if (state_ == TState::Participant && (Participants() > 1 || Store().Engine().Joined())) {
            state_ = TState::None;
            return;
        }
        try {
            Store().Commit();
        } catch (...) {
            if (!Store().InTransaction()) state_ = TState::None;
            Failed(std::current_exception());
            throw;
        }
        state_ = TState::None;
    }
    // Rolls back every participant's changes; the others' transactions are
    // lost.
    void Rollback() override
    {
        if (state_ == TState::Lost) {
            state_ = TState::None;
            return;
        }
        CheckNotForeign();
        if (state_ != TState::Participant) {
            Store().Rollback(); // the engine's error: no transaction is active
            return;
        }
        for (TSharedPxStore* h : folder_->handles)
            if (h != this && h->state_ == TState::Participant) h->state_ = TState::Lost;
        state_ = TState::None;
        try {
            Store().Rollback();
        } catch (...) {
            RereadByOthers();
            throw;
        }
        RereadByOthers();
    }
    bool InTransaction() const override { return state_ == TState::Participant && Store().InTransaction(); }

    bool TransactionLost() const override { return state_ == TState::Lost; }
    void SetOnReread(std::function<void()> handler) override { onReread_ = std::move(handler); }
    void JoinTransactionsOf(IBdePxStore* outer) override
    {
        if (outer_) std::erase(outer_->inner_, this);
        outer_ = dynamic_cast<TSharedPxStore*>(outer);
        if (outer_ == this) outer_ = nullptr;
        if (outer_) outer_->inner_.push_back(this);
    }

    // The folder's transaction was ended through another folder of its
    // group: its participants lose it and every handle reads again.
    static void EndedElsewhere(TPxFolder& folder)
    {
        for (TSharedPxStore* h : folder.handles)
            if (h->state_ == TState::Participant) h->state_ = TState::Lost;
        const std::vector<TSharedPxStore*> handles = folder.handles;
        for (TSharedPxStore* h : handles)
            if (h->onReread_) h->onReread_();
    }

private:
    enum class TState { None, Participant, Lost };

    // A table of the store as this handle changes it.
    class TTable final : public IBdeStoreTable {
    public:
        TTable(TSharedPxStore& owner, IBdeStoreTable& table) : owner_(owner), table_(table) {}

        const std::string& Name() const override { return table_.Name(); }
        const std::vector<PxFieldDef>& Fields() override { return table_.Fields(); }
        int KeyFieldCount() override { return table_.KeyFieldCount(); }
        std::vector<TBdeStoreIndex> Indexes() override { return table_.Indexes(); }
        std::int64_t RecordCount() override { return table_.RecordCount(); }
        std::vector<TBdeRowId> Rows() override { return table_.Rows(); }
        bool Exists(TBdeRowId row) override { return table_.Exists(row); }
        std::vector<TBdeRowId> Find(int index, const std::vector<rtl::Variant>& values) override
        {
            return table_.Find(index, values);
        }
        rtl::Variant Get(TBdeRowId row, int field) override { return table_.Get(row, field); }
        TBdeRowId Insert(const std::vector<rtl::Variant>& values) override
        {
            return owner_.Change([&] { return table_.Insert(values); });
        }
        void Update(TBdeRowId row, const std::vector<std::pair<int, rtl::Variant>>& changes) override
        {
            owner_.Change([&] { table_.Update(row, changes); });
        }
        void Delete(TBdeRowId row) override
        {
            owner_.Change([&] { table_.Delete(row); });
        }
        void HoldRows() override { table_.HoldRows(); }
        void ReleaseRows() noexcept override { table_.ReleaseRows(); }

    private:
        TSharedPxStore& owner_;
        IBdeStoreTable& table_;
    };

    TPxStore& Store() const noexcept { return folder_->store; }

    int Participants() const noexcept
    {
        int n = 0;
        for (const TSharedPxStore* h : folder_->handles) n += h->state_ == TState::Participant ? 1 : 0;
        return n;
    }

    void CheckNotLost() const
    {
        if (state_ == TState::Lost) throw EPxError(rtl::Format(kRolledBackByAnother, Folder().c_str()));
    }
    // Other handles' transaction is open on the folder.
    void CheckNotForeign() const
    {
        if (state_ != TState::Participant && Store().InTransaction())
            throw EPxError(rtl::Format(kFolderInForeignTransaction, Folder().c_str()));
    }
    void CheckMayChange() const
    {
        CheckNotLost();
        CheckNotForeign();
    }
    void CheckAlone() const
    {
        CheckMayChange();
        if (folder_->handles.size() > 1) throw EPxError(rtl::Format(kFolderShared, Folder().c_str()));
    }

    // A change of a table: refused unless this handle may change the folder.
    template <class F>
    std::invoke_result_t<F> Change(F&& change)
    {
        CheckMayChange();
        try {
            return change();
        } catch (...) {
            Failed(std::current_exception());
            throw;
        }
    }
    void Failed(const std::exception_ptr& failure) const
    {
        if (TablesReread(failure)) RereadByOthers();
    }
    void RereadByOthers() const
    {
        const std::vector<TSharedPxStore*> handles = folder_->handles;
        for (TSharedPxStore* h : handles)
            if (h != this && h->onReread_) h->onReread_();
    }

    std::shared_ptr<TPxFolder> folder_;
    TState state_ = TState::None;
    std::function<void()> onReread_;
    TSharedPxStore* outer_ = nullptr;       // whose transactions this handle joins
    std::vector<TSharedPxStore*> inner_;    // the handles that join this one's
    std::map<std::string, std::unique_ptr<TTable>> tables_; // by upper-case name
};

TPxFolder::TPxFolder(const std::string& folder, const TBdePxStoreOptions& options) : store(folder, options)
{
    store.Engine().SetOnEndedElsewhere([this] { TSharedPxStore::EndedElsewhere(*this); });
}

} // namespace

std::unique_ptr<IBdePxStore> BdeOpenPxStore(const std::string& folder, const TBdePxStoreOptions& options)
{
    if (options.FileSystem) return std::make_unique<TSharedPxStore>(std::make_shared<TPxFolder>(folder, options));

    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<TPxFolder>> folders;
    const std::lock_guard<std::mutex> lock(mutex);
    // The engine reports a folder that does not exist.
    const std::string key = PxDefaultFileSystem().CanonicalFolder(folder);
    std::shared_ptr<TPxFolder> shared = folders[key].lock();
    if (!shared) {
        shared = std::make_shared<TPxFolder>(folder, options);
        folders[key] = shared;
    } else {
        shared->store.AddPasswords(options.Passwords);
    }
    return std::make_unique<TSharedPxStore>(std::move(shared));
}

} // namespace bde
