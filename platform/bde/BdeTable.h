// The table object: one Paradox table of the database's folder by name. It
// reads the table's field and index definitions from the files, creates a
// table from definitions added to it, deletes and renames it, tells whether
// it exists, and reads its rows in order or appends rows to it (the copy of
// a table rebuild).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bde/BdeDataSets.h"
#include "platform/bde/BdeStore.h"

namespace bde {

class TBdeTable;

class TBdeFieldDefs {
public:
    explicit TBdeFieldDefs(TBdeTable& table) : table_(table) {}
    // Reads the definitions of the table's files.
    void Update();
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    const TBdeFieldDef& operator[](int index) const;
    void Add(std::string name, TFieldType type, int size = 0, bool required = false);
    void Clear() noexcept { items_.clear(); }
    // The position of the field of that name (case-insensitive), -1 when none.
    int IndexOf(std::string_view name) const;

private:
    friend class TBdeTable;
    TBdeTable& table_;
    std::vector<TBdeFieldDef> items_;
};

class TBdeIndexDefs {
public:
    explicit TBdeIndexDefs(TBdeTable& table) : table_(table) {}
    // Reads the definitions of the table's files: the primary key unnamed.
    void Update();
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    const TBdeIndexDef& operator[](int index) const;
    void Add(std::string name, std::string fields, TIndexOptions options);
    void Clear() noexcept { items_.clear(); }

private:
    friend class TBdeTable;
    TBdeTable& table_;
    std::vector<TBdeIndexDef> items_;
};

class TBdeTable final : public TBdeDataSet {
public:
    TBdeTable();
    ~TBdeTable() override;

    const std::string& TableName() const noexcept { return tableName_; }
    void SetTableName(std::string name);
    TTableType TableType() const noexcept { return tableType_; }
    void SetTableType(TTableType type);

    TBdeFieldDefs& FieldDefs() noexcept { return fieldDefs_; }
    TBdeIndexDefs& IndexDefs() noexcept { return indexDefs_; }

    // Creates the table from FieldDefs and IndexDefs. The fields of the
    // primary index go first, in the index's order (Paradox keeps the key in
    // the leading fields); the others keep their order. EBdeError (or the
    // engine's error) naming the field, index or limit for a definition
    // Paradox cannot hold.
    void CreateTable();
    void DeleteTable();
    void RenameTable(const std::string& newName);
    bool Exists();

    // Reads the rows in the table's order (key order for a keyed table).
    void Open();
    void Close() override;
    bool Eof() const override;
    void Next() override;
    // Starts a new row, all fields blank; Post stores it.
    void Append();
    void Post();

    void DatabaseClosing() noexcept override;
    std::string Describe() const override;
    bool UsesTable(std::string_view name) const override;

    // ---- for the definitions ----
    IBdeStoreTable& StoreTable();

private:
    rtl::Variant FieldValue(int index) const override;
    void SetFieldValue(int index, const rtl::Variant& value) override;
    void Settle();

    std::string tableName_;
    TTableType tableType_ = ttDefault;
    TBdeFieldDefs fieldDefs_;
    TBdeIndexDefs indexDefs_;
    IBdeStoreTable* table_ = nullptr; // while open
    IBdeStoreTable* held_ = nullptr;  // whose row ids rows_ holds
    void LetRowsGo() noexcept;
    std::vector<TBdeRowId> rows_;
    std::size_t pos_ = 0;
    std::uint64_t generation_ = 0;
    bool appending_ = false;
    std::vector<rtl::Variant> buffer_;
};

} // namespace bde
