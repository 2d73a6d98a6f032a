// TMemRecordset: a recordset whose rows are all in memory. Statement results
// are read into one completely when the statement runs (some drivers allow
// only one active result per connection), and the schema rowsets are built
// as one from the catalog functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/Ado.h"

namespace ado {

struct TColumnInfo {
    std::string Name;
    std::int32_t Type = adEmpty;
    std::int32_t Attributes = 0;
    std::uint8_t Precision = 0;
    std::uint8_t NumericScale = 0;
};

class TMemRecordset final : public Recordset, private ado::Fields {
public:
    // A closed recordset: the result of a statement that returns no rows.
    TMemRecordset();
    // An open recordset with these columns and no rows yet.
    explicit TMemRecordset(std::vector<TColumnInfo> columns);
    TMemRecordset(const TMemRecordset&) = delete;
    TMemRecordset& operator=(const TMemRecordset&) = delete;

    // Appends a row (one value per column); the first row appended is the current one.
    void AddRow(std::vector<rtl::Variant> values);
    std::int32_t RowCount() const noexcept { return static_cast<std::int32_t>(rows_.size()); }

    // ---- Recordset
    std::int32_t State() const override;
    bool Eof() const override;
    void MoveNext() override;
    ado::Fields& Fields() override;

protected:
    ~TMemRecordset() override = default;

private:
    class TMemField final : public Field {
    public:
        TMemField(const TMemRecordset& owner, std::size_t column) : owner_(&owner), column_(column) {}
        std::string Name() const override;
        rtl::Variant Value() const override;
        std::int32_t Type() const override;
        std::int32_t Attributes() const override;
        std::uint8_t Precision() const override;
        std::uint8_t NumericScale() const override;
        std::int64_t ActualSize() const override;

    private:
        const TColumnInfo& Info() const;
        const TMemRecordset* owner_;
        std::size_t column_;
    };

    // ---- Fields
    std::int32_t Count() const override;
    Field& Item(std::int32_t index) override;
    Field& Item(std::string_view name) override;

    void CheckOpen() const;

    bool open_;
    std::vector<TColumnInfo> columns_;
    std::vector<TMemField> fields_;
    std::vector<std::vector<rtl::Variant>> rows_;
    std::size_t current_ = 0;
};

// The size ActualSize reports for a value of an ADO type: 0 for Null,
// characters of a text, bytes of binary data and of fixed-size values.
std::int64_t ValueActualSize(std::int32_t type, const rtl::Variant& value);

} // namespace ado
