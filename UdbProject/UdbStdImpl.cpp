// TInMemoryCursor: rows kept in memory, values converted to their column's
// type when appended.
#include "UdbProject/UdbStdImpl.h"

#include <exception>
#include <utility>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

namespace {

constexpr const char* kInvalidProcedureArgument = "Invalid procedure argument";
constexpr const char* kUnknownValue = "Unknown value";
constexpr const char* kInvalidArgumentValue = "Invalid argument value (index = %s). ";
constexpr const char* kBlobNotSupported = "BLOB field not supported";
// How far the reserve of rows grows when it is full.
constexpr std::size_t kRowsGrowBy = 10;

// The value as a column of that type stores it.
rtl::Variant ConvertForColumn(const rtl::Variant& value, TUdbDataType type)
{
    RTL_ASSERT(!value.IsEmpty(), kUnknownValue);
    if (value.IsNull()) return value;
    switch (BaseDataType(type)) {
    case udtBoolean: return rtl::Variant(value.AsBoolean());
    case udtInteger: return rtl::Variant(value.AsInteger());
    case udtFloat: return rtl::Variant(value.AsDouble());
    case udtCurrency: return rtl::Variant(value.AsCurrency());
    case udtDateTime: return rtl::Variant::DateTime(value.AsDateTime());
    case udtString:
    case udtMemo: return rtl::Variant(value.AsString());
    case udtBinary: throw rtl::Exception(kBlobNotSupported);
    default: return value;
    }
}

} // namespace

TInMemoryCursor::TInMemoryCursor(TUdb* db, const std::vector<TUdbFieldDef>& fieldDefs, std::int32_t capacity)
    : TUdbCursor(db), fields_(fieldDefs)
{
    for (const TUdbFieldDef& def : fields_) RTL_ASSERT(!def.Name.empty() && def.DataType != 0, rtl::SAssertionFailed);
    if (capacity > 0) rows_.reserve(static_cast<std::size_t>(capacity));
}

void TInMemoryCursor::AppendRow(const std::vector<rtl::Variant>& values)
{
    RTL_ASSERT(values.size() == fields_.size(), kInvalidProcedureArgument);
    std::vector<rtl::Variant> row;
    row.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        try {
            row.push_back(ConvertForColumn(values[i], fields_[i].DataType));
        } catch (const std::exception& e) {
            rtl::AssertionFailed(rtl::Format(kInvalidArgumentValue, rtl::IntToStr(static_cast<std::int64_t>(i)).c_str()) +
                                     e.what(),
                                 __FILE__, __LINE__);
        }
    }
    if (rows_.size() == rows_.capacity()) rows_.reserve(rows_.capacity() + kRowsGrowBy);
    rows_.push_back(std::move(row));
}

const rtl::Variant& TInMemoryCursor::Value(std::int32_t index) const
{
    return rows_[static_cast<std::size_t>(current_)][static_cast<std::size_t>(index)];
}

bool TInMemoryCursor::GetIsNull(std::int32_t index) { return Value(index).IsNull(); }
bool TInMemoryCursor::GetBoolean(std::int32_t index) { return Value(index).AsBoolean(); }
std::int32_t TInMemoryCursor::GetInteger(std::int32_t index) { return Value(index).AsInteger(); }
double TInMemoryCursor::GetFloat(std::int32_t index) { return Value(index).AsDouble(); }
rtl::Currency TInMemoryCursor::GetCurrency(std::int32_t index) { return Value(index).AsCurrency(); }
double TInMemoryCursor::GetDateTime(std::int32_t index) { return Value(index).AsDateTime(); }
std::string TInMemoryCursor::GetString(std::int32_t index) { return Value(index).AsString(); }
rtl::Variant TInMemoryCursor::GetBlob(std::int32_t index) { return Value(index); }
rtl::Variant TInMemoryCursor::GetVariant(std::int32_t index) { return Value(index); }

std::int32_t TInMemoryCursor::GetFieldCount() { return static_cast<std::int32_t>(fields_.size()); }

std::int32_t TInMemoryCursor::GetFieldIndex(const std::string& name)
{
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].Name == name) return static_cast<std::int32_t>(i);
    return -1;
}

std::string TInMemoryCursor::GetFieldName(std::int32_t index) { return fields_[static_cast<std::size_t>(index)].Name; }

TUdbDataType TInMemoryCursor::GetFieldType(std::int32_t index)
{
    return fields_[static_cast<std::size_t>(index)].DataType;
}

std::int32_t TInMemoryCursor::GetDataSize(std::int32_t index)
{
    const TUdbDataType base = BaseDataType(GetFieldType(index));
    if (base != udtString && base != udtMemo && base != udtBinary) return -1;
    const rtl::Variant& value = Value(index);
    if (value.IsNull()) return 0;
    if (base == udtBinary) return static_cast<std::int32_t>(value.AsBytes().size());
    return static_cast<std::int32_t>(rtl::Utf8CharCount(value.AsString()));
}

bool TInMemoryCursor::GetEof() { return static_cast<std::size_t>(current_) >= rows_.size(); }

void TInMemoryCursor::DoNext()
{
    if (!GetEof()) ++current_;
}

void TInMemoryCursor::DoClose()
{
    rows_.clear();
    current_ = 0;
}
