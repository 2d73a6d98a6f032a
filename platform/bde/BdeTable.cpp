// Table objects: structure, creation, deletion, renaming, reading in order
// and appending.
#include "platform/bde/BdeTable.h"

#include <algorithm>

#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeVirtualTables.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SNoName = "The table object has no table name";
constexpr const char* SBadType = "Table \"%s\": only Paradox tables are supported";
constexpr const char* SNoFields = "Table \"%s\" cannot be created without fields";
constexpr const char* STwoPrimary = "Table \"%s\" cannot have more than one primary index";
constexpr const char* SEmptyIndex = "Index \"%s\" of table \"%s\" has no fields";
constexpr const char* SIndexField = "Index \"%s\" of table \"%s\" names field \"%s\", which the table does not have";
constexpr const char* SKeyTwice = "The primary index of table \"%s\" names field \"%s\" twice";
constexpr const char* SNotOpen = "Table \"%s\" is not open";
constexpr const char* SRolledBack = "Table \"%s\" was read again after a rollback; it must be opened again";
constexpr const char* SDefIndex = "Definition number %d does not exist (%d definitions)";

} // namespace

// ---- definitions ------------------------------------------------------------------------------

void TBdeFieldDefs::Update()
{
    IBdeStoreTable& t = table_.StoreTable();
    std::vector<TBdeFieldDef> items;
    for (const PxFieldDef& f : t.Fields()) items.push_back({f.name, PxToFieldType(f.type), f.size, f.required});
    items_ = std::move(items);
}

const TBdeFieldDef& TBdeFieldDefs::operator[](int index) const
{
    if (index < 0 || index >= Count()) throw EBdeError(rtl::Format(SDefIndex, index, Count()));
    return items_[static_cast<std::size_t>(index)];
}

void TBdeFieldDefs::Add(std::string name, TFieldType type, int size, bool required)
{
    items_.push_back({std::move(name), type, size, required});
}

int TBdeFieldDefs::IndexOf(std::string_view name) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (rtl::SameText(items_[i].Name, name)) return static_cast<int>(i);
    return -1;
}

void TBdeIndexDefs::Update()
{
    IBdeStoreTable& t = table_.StoreTable();
    std::vector<TBdeIndexDef> items;
    for (const TBdeStoreIndex& i : t.Indexes()) {
        TIndexOptions options = 0;
        if (i.Primary) options |= ixPrimary;
        if (i.Unique) options |= ixUnique;
        items.push_back({i.Primary ? std::string() : i.Name, JoinFieldList(i.Fields), options});
    }
    items_ = std::move(items);
}

const TBdeIndexDef& TBdeIndexDefs::operator[](int index) const
{
    if (index < 0 || index >= Count()) throw EBdeError(rtl::Format(SDefIndex, index, Count()));
    return items_[static_cast<std::size_t>(index)];
}

void TBdeIndexDefs::Add(std::string name, std::string fields, TIndexOptions options)
{
    items_.push_back({std::move(name), std::move(fields), options});
}

// ---- table --------------------------------------------------------------------------------------

TBdeTable::TBdeTable() : fieldDefs_(*this), indexDefs_(*this) {}

TBdeTable::~TBdeTable() { Close(); }

void TBdeTable::SetTableName(std::string name)
{
    CheckInactive("change the table name");
    tableName_ = std::move(name);
}

void TBdeTable::SetTableType(TTableType type)
{
    if (type != ttDefault && type != ttParadox) throw EBdeError(rtl::Format(SBadType, tableName_.c_str()));
    tableType_ = type;
}

IBdeStoreTable& TBdeTable::StoreTable()
{
    if (tableName_.empty()) throw EBdeError(SNoName);
    IBdeTableStore& store = AttachDatabase().Store();
    try {
        IBdeStoreTable& t = store.Table(tableName_);
        if (!active_) Detach();
        return t;
    } catch (...) {
        if (!active_) Detach();
        throw;
    }
}

void TBdeTable::CreateTable()
{
    CheckInactive("create the table");
    if (tableName_.empty()) throw EBdeError(SNoName);
    const char* t = tableName_.c_str();
    const std::vector<TBdeFieldDef>& defs = fieldDefs_.items_;
    if (defs.empty()) throw EBdeError(rtl::Format(SNoFields, t));

    const auto fieldOf = [&](const TBdeIndexDef& index, const std::string& name) {
        const int i = fieldDefs_.IndexOf(name);
        if (i < 0) throw EBdeError(rtl::Format(SIndexField, index.Name.c_str(), t, name.c_str()));
        return i;
    };
    // The key fields first, in the primary index's order.
    std::vector<int> order;
    const TBdeIndexDef* primary = nullptr;
    for (const TBdeIndexDef& index : indexDefs_.items_) {
        if (!(index.Options & ixPrimary)) continue;
        if (primary) throw EBdeError(rtl::Format(STwoPrimary, t));
        primary = &index;
        const std::vector<std::string> names = SplitFieldList(index.Fields);
        if (names.empty()) throw EBdeError(rtl::Format(SEmptyIndex, index.Name.c_str(), t));
        for (const std::string& name : names) {
            const int i = fieldOf(index, name);
            if (std::find(order.begin(), order.end(), i) != order.end())
                throw EBdeError(rtl::Format(SKeyTwice, t, name.c_str()));
            order.push_back(i);
        }
    }
    const int keyCount = static_cast<int>(order.size());
    for (int i = 0; i < static_cast<int>(defs.size()); ++i)
        if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);

    std::vector<PxFieldDef> fields;
    for (int i : order) fields.push_back(FieldDefToPx(defs[static_cast<std::size_t>(i)], tableName_));
    std::vector<TBdeStoreIndex> secondaries;
    for (const TBdeIndexDef& index : indexDefs_.items_) {
        if (index.Options & ixPrimary) continue;
        TBdeStoreIndex s;
        s.Name = index.Name;
        s.Unique = (index.Options & ixUnique) != 0;
        for (const std::string& name : SplitFieldList(index.Fields))
            s.Fields.push_back(defs[static_cast<std::size_t>(fieldOf(index, name))].Name);
        if (s.Fields.empty()) throw EBdeError(rtl::Format(SEmptyIndex, index.Name.c_str(), t));
        secondaries.push_back(std::move(s));
    }
    TBdeDatabase& db = AttachDatabase();
    try {
        db.CreateTable(tableName_, fields, keyCount, secondaries);
    } catch (...) {
        Detach();
        throw;
    }
    Detach();
}

void TBdeTable::DeleteTable()
{
    CheckInactive("delete the table");
    if (tableName_.empty()) throw EBdeError(SNoName);
    TBdeDatabase& db = AttachDatabase();
    try {
        db.DropTable(tableName_);
    } catch (...) {
        Detach();
        throw;
    }
    Detach();
}

void TBdeTable::RenameTable(const std::string& newName)
{
    CheckInactive("rename the table");
    if (tableName_.empty()) throw EBdeError(SNoName);
    TBdeDatabase& db = AttachDatabase();
    try {
        db.RenameTable(tableName_, newName);
    } catch (...) {
        Detach();
        throw;
    }
    Detach();
    tableName_ = newName;
}

bool TBdeTable::Exists()
{
    if (tableName_.empty()) throw EBdeError(SNoName);
    const bool exists = AttachDatabase().Store().TableExists(tableName_);
    if (!active_) Detach();
    return exists;
}

void TBdeTable::Open()
{
    if (active_) return;
    if (tableName_.empty()) throw EBdeError(SNoName);
    TBdeDatabase& db = AttachDatabase();
    try {
        table_ = &db.Store().Table(tableName_);
        table_->HoldRows();
        held_ = table_;
        rows_ = table_->Rows();
        generation_ = db.Sql().Generation();
        const std::vector<PxFieldDef> defs = table_->Fields();
        fields_.clear();
        for (std::size_t i = 0; i < defs.size(); ++i)
            fields_.push_back(std::make_unique<TBdeField>(*this, static_cast<int>(i), defs[i].name,
                                                          PxToFieldType(defs[i].type), defs[i].size, defs[i].required));
    } catch (...) {
        LetRowsGo();
        table_ = nullptr;
        rows_.clear();
        fields_.clear();
        Detach();
        throw;
    }
    pos_ = 0;
    appending_ = false;
    active_ = true;
}

void TBdeTable::Close()
{
    if (!active_) return;
    active_ = false;
    appending_ = false;
    buffer_.clear();
    fields_.clear();
    rows_.clear();
    LetRowsGo();
    table_ = nullptr;
    Detach();
}

void TBdeTable::LetRowsGo() noexcept
{
    if (held_) held_->ReleaseRows();
    held_ = nullptr;
}

void TBdeTable::DatabaseClosing() noexcept { Close(); }

std::string TBdeTable::Describe() const { return "Table \"" + tableName_ + "\""; }

bool TBdeTable::UsesTable(std::string_view name) const { return active_ && rtl::SameText(tableName_, name); }

void TBdeTable::Settle()
{
    if (generation_ != Attached()->Sql().Generation()) throw EBdeError(rtl::Format(SRolledBack, tableName_.c_str()));
    while (pos_ < rows_.size() && !table_->Exists(rows_[pos_])) ++pos_;
}

bool TBdeTable::Eof() const { return !active_ || pos_ >= rows_.size(); }

void TBdeTable::Next()
{
    if (!active_) throw EBdeError(rtl::Format(SNotOpen, tableName_.c_str()));
    if (appending_) Post();
    if (pos_ < rows_.size()) ++pos_;
    Settle();
}

void TBdeTable::Append()
{
    if (!active_) throw EBdeError(rtl::Format(SNotOpen, tableName_.c_str()));
    if (appending_) Post();
    buffer_.assign(fields_.size(), rtl::Variant());
    appending_ = true;
}

void TBdeTable::Post()
{
    if (!active_) throw EBdeError(rtl::Format(SNotOpen, tableName_.c_str()));
    if (!appending_) return;
    try {
        table_->Insert(buffer_);
    } catch (...) {
        Attached()->ChangeFailed(std::current_exception());
        throw;
    }
    appending_ = false;
    buffer_.clear();
}

rtl::Variant TBdeTable::FieldValue(int index) const
{
    if (appending_) {
        const rtl::Variant& v = buffer_[static_cast<std::size_t>(index)];
        return v.IsEmpty() ? rtl::Variant::Null() : v;
    }
    if (Eof()) return rtl::Variant::Null();
    if (generation_ != Attached()->Sql().Generation()) throw EBdeError(rtl::Format(SRolledBack, tableName_.c_str()));
    return table_->Get(rows_[pos_], index);
}

void TBdeTable::SetFieldValue(int index, const rtl::Variant& value)
{
    if (!appending_) {
        TBdeDataSet::SetFieldValue(index, value);
        return;
    }
    buffer_[static_cast<std::size_t>(index)] = value;
}

} // namespace bde
