// TInMemoryCursor: a cursor whose rows live in memory rather than in an
// engine. The drivers build their schema-information results with it: they
// create it with the column list of the kind, append one row per item and
// hand it out positioned on the first row. It belongs to its database like
// any other cursor (detached on close, closed by commit and rollback).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "UdbProject/UdbUtils.h"

class TInMemoryCursor : public TUdbCursor {
public:
    // Every column needs a name and a data type (assertion "Assertion failure");
    // capacity sizes the first reserve of rows.
    TInMemoryCursor(TUdb* db, const std::vector<TUdbFieldDef>& fieldDefs, std::int32_t capacity);

    // Appends one row, each value converted to its column's base type.
    // Failures are assertions: "Invalid procedure argument" for a wrong number
    // of values, "Invalid argument value (index = i). <reason>" for a value
    // that does not convert, is Empty, or is a non-Null value of a Binary
    // column; the row is then not appended.
    void AppendRow(const std::vector<rtl::Variant>& values);

    // The rows appended (and not dropped by Close), and the rows reserved.
    std::int32_t RowCount() const noexcept { return static_cast<std::int32_t>(rows_.size()); }
    std::size_t Capacity() const noexcept { return rows_.capacity(); }

protected:
    ~TInMemoryCursor() override = default;

    bool GetIsNull(std::int32_t index) override;
    bool GetBoolean(std::int32_t index) override;
    std::int32_t GetInteger(std::int32_t index) override;
    double GetFloat(std::int32_t index) override;
    rtl::Currency GetCurrency(std::int32_t index) override;
    double GetDateTime(std::int32_t index) override;
    std::string GetString(std::int32_t index) override;
    rtl::Variant GetBlob(std::int32_t index) override;
    rtl::Variant GetVariant(std::int32_t index) override;
    std::int32_t GetFieldCount() override;
    // Exact (case-sensitive) match.
    std::int32_t GetFieldIndex(const std::string& name) override;
    std::string GetFieldName(std::int32_t index) override;
    TUdbDataType GetFieldType(std::int32_t index) override;
    // String and Memo: characters of the text; Binary: bytes; Null: 0; other types: -1.
    std::int32_t GetDataSize(std::int32_t index) override;
    bool GetEof() override;
    void DoNext() override;
    void DoClose() override;

private:
    const rtl::Variant& Value(std::int32_t index) const;

    std::vector<TUdbFieldDef> fields_;
    std::vector<std::vector<rtl::Variant>> rows_;
    std::int32_t current_ = 0;
};
