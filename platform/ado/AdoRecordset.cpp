// TMemRecordset: rows in memory, read forward with EOF and MoveNext.
#include "platform/ado/AdoRecordset.h"

#include <utility>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/TextUtils.h"

namespace ado {

TMemRecordset::TMemRecordset() : open_(false) {}

TMemRecordset::TMemRecordset(std::vector<TColumnInfo> columns) : open_(true), columns_(std::move(columns))
{
    fields_.reserve(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) fields_.emplace_back(*this, i);
}

void TMemRecordset::AddRow(std::vector<rtl::Variant> values)
{
    CheckOpen();
    if (values.size() != columns_.size()) throw EAdoError(SBadArguments);
    rows_.push_back(std::move(values));
}

void TMemRecordset::CheckOpen() const
{
    if (!open_) throw EAdoError(SObjectClosed);
}

std::int32_t TMemRecordset::State() const { return open_ ? adStateOpen : adStateClosed; }

bool TMemRecordset::Eof() const
{
    CheckOpen();
    return current_ >= rows_.size();
}

void TMemRecordset::MoveNext()
{
    if (Eof()) throw EAdoError(SNoCurrentRecord);
    ++current_;
}

ado::Fields& TMemRecordset::Fields()
{
    CheckOpen();
    return *this;
}

std::int32_t TMemRecordset::Count() const { return static_cast<std::int32_t>(fields_.size()); }

Field& TMemRecordset::Item(std::int32_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) throw EAdoError(SItemNotFound);
    return fields_[static_cast<std::size_t>(index)];
}

Field& TMemRecordset::Item(std::string_view name)
{
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (rtl::SameTextLatin(columns_[i].Name, name)) return fields_[i];
    throw EAdoError(SItemNotFound);
}

// ---- fields ---------------------------------------------------------------------------

const TColumnInfo& TMemRecordset::TMemField::Info() const { return owner_->columns_[column_]; }

std::string TMemRecordset::TMemField::Name() const { return Info().Name; }

rtl::Variant TMemRecordset::TMemField::Value() const
{
    if (owner_->Eof()) throw EAdoError(SNoCurrentRecord);
    return owner_->rows_[owner_->current_][column_];
}

std::int32_t TMemRecordset::TMemField::Type() const { return Info().Type; }
std::int32_t TMemRecordset::TMemField::Attributes() const { return Info().Attributes; }
std::uint8_t TMemRecordset::TMemField::Precision() const { return Info().Precision; }
std::uint8_t TMemRecordset::TMemField::NumericScale() const { return Info().NumericScale; }

std::int64_t TMemRecordset::TMemField::ActualSize() const
{
    if (owner_->Eof()) throw EAdoError(SNoCurrentRecord);
    return ValueActualSize(Info().Type, owner_->rows_[owner_->current_][column_]);
}

std::int64_t ValueActualSize(std::int32_t type, const rtl::Variant& value)
{
    if (value.IsClear()) return 0;
    if (value.IsByteArray()) return static_cast<std::int64_t>(value.AsBytes().size());
    if (value.IsString()) return static_cast<std::int64_t>(rtl::Utf8Length(value.AsString()));
    switch (type) {
    case adBoolean: case adSmallInt: case adUnsignedSmallInt: return 2;
    case adTinyInt: case adUnsignedTinyInt: return 1;
    case adInteger: case adUnsignedInt: case adSingle: return 4;
    case adNumeric: case adDecimal: case adVarNumeric: return 19;
    default: return 8;
    }
}

} // namespace ado
