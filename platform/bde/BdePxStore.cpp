// The table store over the Paradox file engine.
//
// The engine looks a table's files up in the folder whenever a table is
// opened by name, so the store keeps one adapter per table it has opened and
// hands that out until the table is dropped or renamed.
#include "platform/bde/BdePxStore.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/bde/PxDatabase.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* kFolderShared =
    "The folder \"%s\" is open in another database: its tables cannot be created, dropped or renamed";
constexpr const char* kFolderInForeignTransaction =
    "The folder \"%s\" is in a transaction of another database: it cannot be changed until that ends";

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

private:
    rtl::RefPtr<PxTable> table_;
    std::string name_;
};

class TPxStore final : public IBdeTableStore {
public:
    TPxStore(const std::string& folder, const TBdePxStoreOptions& options) : db_(folder, MakeOptions(options)) {}

    const std::string& Folder() const override { return db_.Folder(); }
    std::vector<std::string> TableNames() override { return db_.TableNames(); }
    bool TableExists(const std::string& name) override
    {
        return tables_.count(rtl::UpperCase(name)) != 0 || db_.TableExists(name);
    }
    IBdeStoreTable& Table(const std::string& name) override
    {
        const std::string key = rtl::UpperCase(name);
        auto it = tables_.find(key);
        if (it == tables_.end())
            it = tables_.emplace(key, std::make_unique<TPxStoreTable>(db_.OpenTable(name))).first;
        return *it->second;
    }
    void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                     const std::vector<TBdeStoreIndex>& secondaryIndexes) override
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
    void DropTable(const std::string& name) override
    {
        db_.DropTable(name);
        tables_.erase(rtl::UpperCase(name));
    }
    void RenameTable(const std::string& from, const std::string& to) override
    {
        db_.RenameTable(from, to);
        tables_.erase(rtl::UpperCase(from));
        tables_.erase(rtl::UpperCase(to));
    }

    void StartTransaction() override { db_.StartTransaction(); }
    void Commit() override { db_.Commit(); }
    void Rollback() override { db_.Rollback(); }
    bool InTransaction() const override { return db_.InTransaction(); }

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

// One store per folder in the process. The engine keeps a table's files in
// memory and has one journal per folder, so two stores on one folder (the
// spatial and the semantic half of a pair kept together) would overwrite each
// other's changes. Every database object on a folder gets a handle on the one
// store; a transaction belongs to the handle that started it, and no other
// handle may change the folder (or start a transaction) until it ends.
class TSharedPxStore final : public IBdeTableStore {
public:
    explicit TSharedPxStore(std::shared_ptr<TPxStore> store) : store_(std::move(store)) {}
    ~TSharedPxStore() override
    {
        if (owner_ && store_->InTransaction()) {
            try {
                store_->Rollback();
            } catch (...) {
                // The journal is rolled back when the folder is opened next.
            }
        }
    }

    const std::string& Folder() const override { return store_->Folder(); }
    std::vector<std::string> TableNames() override { return store_->TableNames(); }
    bool TableExists(const std::string& name) override { return store_->TableExists(name); }
    IBdeStoreTable& Table(const std::string& name) override { return store_->Table(name); }
    // Creating, dropping and renaming replace a table's adapter, which the
    // other database objects on the folder may be reading through: they are
    // refused while another one is open on the folder.
    void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                     const std::vector<TBdeStoreIndex>& secondaryIndexes) override
    {
        CheckAlone();
        store_->CreateTable(name, fields, keyFieldCount, secondaryIndexes);
    }
    void DropTable(const std::string& name) override
    {
        CheckAlone();
        store_->DropTable(name);
    }
    void RenameTable(const std::string& from, const std::string& to) override
    {
        CheckAlone();
        store_->RenameTable(from, to);
    }

    void StartTransaction() override
    {
        CheckNotForeign();
        store_->StartTransaction();
        owner_ = true;
    }
    void Commit() override
    {
        CheckNotForeign();
        store_->Commit();
        owner_ = false;
    }
    void Rollback() override
    {
        CheckNotForeign();
        store_->Rollback();
        owner_ = false;
    }
    bool InTransaction() const override { return owner_ && store_->InTransaction(); }

private:
    void CheckAlone() const
    {
        CheckNotForeign();
        if (store_.use_count() > 1) throw EPxError(rtl::Format(kFolderShared, store_->Folder().c_str()));
    }
    // Another handle's transaction is open on the folder.
    void CheckNotForeign() const
    {
        if (!owner_ && store_->InTransaction())
            throw EPxError(rtl::Format(kFolderInForeignTransaction, store_->Folder().c_str()));
    }

    std::shared_ptr<TPxStore> store_;
    bool owner_ = false;
};

std::string CanonicalFolder(const std::string& folder)
{
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved) return folder; // the engine reports the missing folder
    std::string result(resolved);
    std::free(resolved);
    return result;
}

} // namespace

std::unique_ptr<IBdeTableStore> BdeOpenPxStore(const std::string& folder, const TBdePxStoreOptions& options)
{
    // A store with a file system of its own (tests) is never shared.
    if (options.FileSystem) return std::make_unique<TPxStore>(folder, options);

    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<TPxStore>> stores;
    const std::lock_guard<std::mutex> lock(mutex);
    const std::string key = CanonicalFolder(folder);
    std::shared_ptr<TPxStore> store = stores[key].lock();
    if (!store) {
        store = std::make_shared<TPxStore>(folder, options);
        stores[key] = store;
    }
    return std::make_unique<TSharedPxStore>(std::move(store));
}

} // namespace bde
