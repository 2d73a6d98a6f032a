// The in-memory model of one table's structure (name, fields, indexes) that a
// table definition edits, and the diff that tells a driver what changed
// between the structure as read and the structure as edited.
//
// Fields and indexes carry an Id that survives renames and moves, so a rename
// shows as a rename, not as a deletion plus an addition. A list numbers an
// item added with Id -1 from its own counter, which is never reset; a copy
// made with TTableDef::Assign keeps the Ids. The drivers turn the diff into
// engine statements; MakeFieldMap gives them the columns to carry across a
// rebuild. Names are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "UdbProject/Udbs.h"

// ---- items ------------------------------------------------------------------------

// Base of fields and indexes. Id -1 marks an item not numbered yet.
class TTableDefItem {
public:
    explicit TTableDefItem(std::int32_t id = -1) noexcept : Id(id) {}
    TTableDefItem(const TTableDefItem&) = default;
    TTableDefItem& operator=(const TTableDefItem&) = default;
    virtual ~TTableDefItem() = default;

    std::int32_t Id;
};

class TFieldDef : public TTableDefItem {
public:
    using TTableDefItem::TTableDefItem;

    std::string Name;
    TUdbDataType DataType = 0;
    std::int32_t Size = -1; // -1: not given
    bool Required = false;
};

class TIndexDef : public TTableDefItem {
public:
    using TTableDefItem::TTableDefItem;

    std::string Name;
    bool Primary = false;
    bool Unique = false;
    std::vector<std::string> Fields; // field names in index order
};

// ---- lists ------------------------------------------------------------------------

// An owning list of items with the counter that numbers new items. Positions
// outside the list raise rtl::EListError.
class TTableDefItemList {
public:
    TTableDefItemList() = default;
    virtual ~TTableDefItemList() = default;
    TTableDefItemList(const TTableDefItemList&) = delete;
    TTableDefItemList& operator=(const TTableDefItemList&) = delete;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // The Id the next item added with Id -1 receives.
    std::int32_t NextId() const noexcept { return nextId_; }

    // Appends the item and returns its position. An item with Id -1 receives
    // NextId, which then grows by one; any other Id is kept. An item the list
    // does not hold (a field in an index list, or nothing) fails the
    // assertion "Unknown object type".
    int AddItem(std::unique_ptr<TTableDefItem> item);
    TTableDefItem& Item(int index) const;
    // Frees the item at index.
    void Delete(int index);
    // Moves the item at curIndex to newIndex; nothing when both are equal.
    void Move(int curIndex, int newIndex);
    // Frees every item; NextId keeps its value.
    void Clear() noexcept;
    // Position of the first item with that Id, -1 when none.
    int IndexOfId(std::int32_t id) const noexcept;

protected:
    virtual bool Accepts(const TTableDefItem& item) const noexcept = 0;
    void CheckIndex(int index) const;

private:
    std::vector<std::unique_ptr<TTableDefItem>> items_;
    std::int32_t nextId_ = 0;
};

class TFieldList : public TTableDefItemList {
public:
    TFieldDef& Get(int index) const { return static_cast<TFieldDef&>(Item(index)); }
    // Appends the field (numbered as AddItem says) and returns it.
    TFieldDef& Add(std::unique_ptr<TFieldDef> field);
    // Position of the first field whose name matches (SameName), -1 when none.
    int Find(std::string_view name, bool caseSensitive) const;

protected:
    bool Accepts(const TTableDefItem& item) const noexcept override;
};

class TIndexList : public TTableDefItemList {
public:
    TIndexDef& Get(int index) const { return static_cast<TIndexDef&>(Item(index)); }
    TIndexDef& Add(std::unique_ptr<TIndexDef> index);
    // Position of the first index whose name matches (SameName), -1 when none.
    int Find(std::string_view name, bool caseSensitive) const;
    // The first primary index, nullptr when none.
    TIndexDef* FindPrimary() const noexcept;
    // The first index holding the leading names: for each index, k counts the
    // names from the first on, up to the first one the index lacks, that occur
    // anywhere in its field list. The index qualifies when k is the number of
    // names, or when !all and k >= 1. Order and extra fields do not matter;
    // with no names the first index qualifies. -1 when none does.
    int FindForFields(const std::vector<std::string>& names, bool all, bool caseSensitive) const;

protected:
    bool Accepts(const TTableDefItem& item) const noexcept override;
};

// ---- table --------------------------------------------------------------------------

class TTableDef {
public:
    TTableDef() = default;
    TTableDef(const TTableDef&) = delete;
    TTableDef& operator=(const TTableDef&) = delete;

    // Empties the name and both lists (their counters keep their values).
    void Clear() noexcept;
    // Clear, then a deep copy of source with the same Ids.
    void Assign(const TTableDef& source);

    std::string Name;
    TFieldList Fields;
    TIndexList Indexes;
};

// ---- diff --------------------------------------------------------------------------

using TTableModifications = std::uint16_t;
enum : TTableModifications {
    tmTableRenamed = 0x0002,
    tmFieldAdded = 0x0004,
    tmFieldDeleted = 0x0008,
    tmFieldRenamed = 0x0010,
    tmFieldType = 0x0020,
    tmFieldSize = 0x0040,
    tmFieldRequired = 0x0080,
    tmFieldMoved = 0x0100,
    tmIndexAdded = 0x0200,
    tmIndexDeleted = 0x0400,
    tmIndexFields = 0x0800,
    tmIndexPrimary = 0x1000,
    tmIndexUnique = 0x2000,
};

// One changed field or index (or the table, Id -1) with all its flags.
struct TTableModificationItem {
    std::int32_t Id = -1;
    TTableModifications Flags = 0;
    friend bool operator==(const TTableModificationItem&, const TTableModificationItem&) = default;
};
using TTableModificationInfo = std::vector<TTableModificationItem>;

// One column carried across a table rebuild.
struct TUdbFieldMapItem {
    TUdbFieldDef OldField;
    TUdbFieldDef NewField;
    friend bool operator==(const TUdbFieldMapItem&, const TUdbFieldMapItem&) = default;
};
using TUdbFieldMap = std::vector<TUdbFieldMapItem>;

// What changed from oldDef to newDef: the table, then the fields of newDef in
// its order, the fields only oldDef has, the indexes of newDef, the indexes
// only oldDef has. Index names and positions are not compared; an index's
// fields are compared by their Ids. An index naming a field its definition
// lacks fails the assertion "In TableDef not found field, defined in index
// fields list".
TTableModificationInfo CompareTableDefs(const TTableDef& newDef, const TTableDef& oldDef, bool caseSensitive);
// With exact: whether the union of all flags equals flags; otherwise whether
// it shares a bit with flags.
bool HasModification(TTableModifications flags, const TTableModificationInfo& mods, bool exact) noexcept;
// The fields of newDef, in its order, whose Id oldDef also has.
TUdbFieldMap MakeFieldMap(const TTableDef& oldDef, const TTableDef& newDef);

// ---- helpers ------------------------------------------------------------------------

// Exact equality, or equality ignoring the case of the Latin letters A-Z only.
bool SameName(std::string_view a, std::string_view b, bool caseSensitive) noexcept;
// list := the pieces of s between separators, trimmed of blanks and control
// characters, empty pieces dropped.
void SplitString(std::vector<std::string>& list, std::string_view s, char separator);

// Conversions between the model and the records; Ids are untouched.
TUdbFieldDef FieldDefToUdb(const TFieldDef& field);
void UdbToFieldDef(TFieldDef& field, const TUdbFieldDef& def);
// Name, Primary, Unique and the field names joined by ";".
TUdbIndexDef IndexDefToUdb(const TIndexDef& index);
// Primary, Unique and the field list split at ";"; the index keeps its name.
void UdbToIndexDef(TIndexDef& index, const TUdbIndexDef& def);
// openQuote + name + closeQuote for each field, joined by separator. An index
// without fields fails the assertion "Index fields list empty".
std::string JoinIndexFields(const TIndexDef& index, char separator, char openQuote, char closeQuote);
// CheckSqlName on the table's name, every field's name, every index's name
// and every name an index lists.
void CheckTableDefNames(const TTableDef& def);
