// The table-structure model, its conversions to and from the interface
// records, and the structure diff the drivers turn into engine statements.
#include "UdbProject/UdbDefs.h"

#include <algorithm>
#include <iterator>

#include "CoreLib/XLists.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr const char* SUnknownObjectType = "Unknown object type";
constexpr const char* SIndexFieldNotFound = "In TableDef not found field, defined in index fields list";
constexpr const char* SIndexFieldsEmpty = "Index fields list empty";

} // namespace

// ---- lists ------------------------------------------------------------------------

void TTableDefItemList::CheckIndex(int index) const
{
    CheckListIndex(index, Count());
}

int TTableDefItemList::AddItem(std::unique_ptr<TTableDefItem> item)
{
    RTL_ASSERT(item && Accepts(*item), SUnknownObjectType);
    if (item->Id == -1) item->Id = nextId_++;
    items_.push_back(std::move(item));
    return Count() - 1;
}

TTableDefItem& TTableDefItemList::Item(int index) const
{
    CheckIndex(index);
    return *items_[static_cast<std::size_t>(index)];
}

void TTableDefItemList::Delete(int index)
{
    CheckIndex(index);
    items_.erase(items_.begin() + index);
}

void TTableDefItemList::Move(int curIndex, int newIndex)
{
    if (curIndex == newIndex) return;
    CheckIndex(curIndex);
    CheckIndex(newIndex);
    const auto cur = items_.begin() + curIndex;
    const auto dest = items_.begin() + newIndex;
    if (curIndex < newIndex)
        std::rotate(cur, cur + 1, dest + 1);
    else
        std::rotate(dest, cur, cur + 1);
}

void TTableDefItemList::Clear() noexcept { items_.clear(); }

int TTableDefItemList::IndexOfId(std::int32_t id) const noexcept
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->Id == id) return static_cast<int>(i);
    return -1;
}

bool TFieldList::Accepts(const TTableDefItem& item) const noexcept
{
    return dynamic_cast<const TFieldDef*>(&item) != nullptr;
}

TFieldDef& TFieldList::Add(std::unique_ptr<TFieldDef> field)
{
    return Get(AddItem(std::move(field)));
}

int TFieldList::Find(std::string_view name, bool caseSensitive) const
{
    for (int i = 0; i < Count(); ++i)
        if (SameName(Get(i).Name, name, caseSensitive)) return i;
    return -1;
}

bool TIndexList::Accepts(const TTableDefItem& item) const noexcept
{
    return dynamic_cast<const TIndexDef*>(&item) != nullptr;
}

TIndexDef& TIndexList::Add(std::unique_ptr<TIndexDef> index)
{
    return Get(AddItem(std::move(index)));
}

int TIndexList::Find(std::string_view name, bool caseSensitive) const
{
    for (int i = 0; i < Count(); ++i)
        if (SameName(Get(i).Name, name, caseSensitive)) return i;
    return -1;
}

TIndexDef* TIndexList::FindPrimary() const noexcept
{
    for (int i = 0; i < Count(); ++i) {
        TIndexDef& index = static_cast<TIndexDef&>(Item(i));
        if (index.Primary) return &index;
    }
    return nullptr;
}

int TIndexList::FindForFields(const std::vector<std::string>& names, bool all, bool caseSensitive) const
{
    for (int i = 0; i < Count(); ++i) {
        const std::vector<std::string>& fields = Get(i).Fields;
        std::size_t k = 0;
        while (k < names.size() && std::any_of(fields.begin(), fields.end(), [&](const std::string& f) {
                   return SameName(f, names[k], caseSensitive);
               }))
            ++k;
        if (k == names.size() || (!all && k >= 1)) return i;
    }
    return -1;
}

// ---- table --------------------------------------------------------------------------

void TTableDef::Clear() noexcept
{
    Name.clear();
    Fields.Clear();
    Indexes.Clear();
}

void TTableDef::Assign(const TTableDef& source)
{
    if (&source == this) return;
    Clear();
    Name = source.Name;
    for (int i = 0; i < source.Fields.Count(); ++i)
        Fields.Add(std::make_unique<TFieldDef>(source.Fields.Get(i)));
    for (int i = 0; i < source.Indexes.Count(); ++i)
        Indexes.Add(std::make_unique<TIndexDef>(source.Indexes.Get(i)));
}

// ---- helpers ------------------------------------------------------------------------

bool SameName(std::string_view a, std::string_view b, bool caseSensitive) noexcept
{
    return caseSensitive ? a == b : rtl::SameTextLatin(a, b);
}

void SplitString(std::vector<std::string>& list, std::string_view s, char separator)
{
    list = rtl::SplitTrimmed(s, separator);
}

TUdbFieldDef FieldDefToUdb(const TFieldDef& field)
{
    return {field.Name, field.DataType, field.Size, field.Required};
}

void UdbToFieldDef(TFieldDef& field, const TUdbFieldDef& def)
{
    field.Name = def.Name;
    field.DataType = def.DataType;
    field.Size = def.Size;
    field.Required = def.Required;
}

namespace {

std::string JoinNames(const std::vector<std::string>& names, std::string_view separator)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += separator;
        text += names[i];
    }
    return text;
}

} // namespace

TUdbIndexDef IndexDefToUdb(const TIndexDef& index)
{
    return {index.Name, JoinNames(index.Fields, ";"), index.Primary, index.Unique};
}

void UdbToIndexDef(TIndexDef& index, const TUdbIndexDef& def)
{
    index.Primary = def.Primary;
    index.Unique = def.Unique;
    SplitString(index.Fields, def.Fields, ';');
}

std::string JoinIndexFields(const TIndexDef& index, char separator, char openQuote, char closeQuote)
{
    RTL_ASSERT(!index.Fields.empty(), SIndexFieldsEmpty);
    std::string text;
    for (const std::string& name : index.Fields) {
        if (!text.empty()) text += separator;
        text += openQuote;
        text += name;
        text += closeQuote;
    }
    return text;
}

void CheckTableDefNames(const TTableDef& def)
{
    CheckSqlName(def.Name);
    for (int i = 0; i < def.Fields.Count(); ++i) CheckSqlName(def.Fields.Get(i).Name);
    for (int i = 0; i < def.Indexes.Count(); ++i) {
        const TIndexDef& index = def.Indexes.Get(i);
        CheckSqlName(index.Name);
        for (const std::string& field : index.Fields) CheckSqlName(field);
    }
}

// ---- diff --------------------------------------------------------------------------

namespace {

// The Ids of the index's fields in index order, joined by ";" ("0;3").
std::string FieldIdentityText(const TTableDef& def, const TIndexDef& index, bool caseSensitive)
{
    std::string text;
    for (const std::string& name : index.Fields) {
        const int pos = def.Fields.Find(name, caseSensitive);
        RTL_ASSERT(pos >= 0, SIndexFieldNotFound);
        if (!text.empty()) text += ";";
        text += rtl::IntToStr(def.Fields.Get(pos).Id);
    }
    return text;
}

void AddEntry(TTableModificationInfo& mods, std::int32_t id, TTableModifications flags)
{
    if (flags != 0) mods.push_back({id, flags});
}

} // namespace

TTableModificationInfo CompareTableDefs(const TTableDef& newDef, const TTableDef& oldDef, bool caseSensitive)
{
    TTableModificationInfo mods;
    if (!SameName(newDef.Name, oldDef.Name, caseSensitive)) AddEntry(mods, -1, tmTableRenamed);

    for (int i = 0; i < newDef.Fields.Count(); ++i) {
        const TFieldDef& field = newDef.Fields.Get(i);
        const int j = oldDef.Fields.IndexOfId(field.Id);
        if (j < 0) {
            AddEntry(mods, field.Id, tmFieldAdded);
            continue;
        }
        const TFieldDef& old = oldDef.Fields.Get(j);
        TTableModifications flags = 0;
        if (!SameName(field.Name, old.Name, caseSensitive)) flags |= tmFieldRenamed;
        if (field.DataType != old.DataType) flags |= tmFieldType;
        if (field.Size != old.Size) flags |= tmFieldSize;
        if (field.Required != old.Required) flags |= tmFieldRequired;
        if (i != j) flags |= tmFieldMoved;
        AddEntry(mods, field.Id, flags);
    }
    for (int j = 0; j < oldDef.Fields.Count(); ++j) {
        const std::int32_t id = oldDef.Fields.Get(j).Id;
        if (newDef.Fields.IndexOfId(id) < 0) AddEntry(mods, id, tmFieldDeleted);
    }

    for (int i = 0; i < newDef.Indexes.Count(); ++i) {
        const TIndexDef& index = newDef.Indexes.Get(i);
        const int j = oldDef.Indexes.IndexOfId(index.Id);
        if (j < 0) {
            AddEntry(mods, index.Id, tmIndexAdded);
            continue;
        }
        const TIndexDef& old = oldDef.Indexes.Get(j);
        TTableModifications flags = 0;
        if (index.Primary != old.Primary) flags |= tmIndexPrimary;
        if (index.Unique != old.Unique) flags |= tmIndexUnique;
        if (FieldIdentityText(newDef, index, caseSensitive) != FieldIdentityText(oldDef, old, caseSensitive)) flags |= tmIndexFields;
        AddEntry(mods, index.Id, flags);
    }
    for (int j = 0; j < oldDef.Indexes.Count(); ++j) {
        const std::int32_t id = oldDef.Indexes.Get(j).Id;
        if (newDef.Indexes.IndexOfId(id) < 0) AddEntry(mods, id, tmIndexDeleted);
    }
    return mods;
}

bool HasModification(TTableModifications flags, const TTableModificationInfo& mods, bool exact) noexcept
{
    TTableModifications all = 0;
    for (const TTableModificationItem& item : mods) all |= item.Flags;
    return exact ? all == flags : (all & flags) != 0;
}

TUdbFieldMap MakeFieldMap(const TTableDef& oldDef, const TTableDef& newDef)
{
    TUdbFieldMap map;
    for (int i = 0; i < newDef.Fields.Count(); ++i) {
        const TFieldDef& field = newDef.Fields.Get(i);
        const int j = oldDef.Fields.IndexOfId(field.Id);
        if (j >= 0) map.push_back({FieldDefToUdb(oldDef.Fields.Get(j)), FieldDefToUdb(field)});
    }
    return map;
}
