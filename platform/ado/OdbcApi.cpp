// Handles, diagnostics, wide text, type maps and the reading of results over
// the ODBC call interface.
#include "platform/ado/OdbcApi.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace ado::odbc {

namespace {

constexpr const char* kCallFailed = "ODBC call %s failed (return code %d)";
constexpr const char* kAllocFailed = "ODBC: cannot allocate a handle of type %d";
constexpr const char* kBadDate = "ODBC: the driver returned an invalid date %d-%d-%d";

// Pieces in which long values are read.
constexpr std::size_t kChunkChars = 32 * 1024;
constexpr std::size_t kChunkBytes = 64 * 1024;

} // namespace

// ---- text -----------------------------------------------------------------------------

WString ToWide(std::string_view utf8)
{
    const std::u16string u16 = rtl::Utf8ToUtf16(utf8);
    return WString(u16.begin(), u16.end());
}

std::string FromWide(const SQLWCHAR* text, std::size_t length)
{
    return rtl::Utf16ToUtf8(std::u16string(text, text + length));
}

// ---- handles --------------------------------------------------------------------------

THandle::THandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type)
{
    SQLHANDLE h = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent, &h);
    if (!Succeeded(rc) || h == SQL_NULL_HANDLE) {
        // The parent holds the reason.
        if (type != SQL_HANDLE_ENV && parent != SQL_NULL_HANDLE)
            RaiseFor(rc, type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC, parent, "SQLAllocHandle");
        throw EAdoError(rtl::Format(kAllocFailed, static_cast<int>(type)));
    }
    handle_ = h;
}

THandle::THandle(THandle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, SQLHANDLE{}))
{
}

THandle& THandle::operator=(THandle&& other) noexcept
{
    if (this != &other) {
        Reset();
        type_ = other.type_;
        handle_ = std::exchange(other.handle_, SQLHANDLE{});
    }
    return *this;
}

void THandle::Reset() noexcept
{
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
}

// ---- diagnostics ----------------------------------------------------------------------

void Check(SQLRETURN rc, const THandle& handle, const char* call)
{
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) return;
    Raise(rc, handle, call);
}

void Raise(SQLRETURN rc, const THandle& handle, const char* call) { RaiseFor(rc, handle.Type(), handle.Get(), call); }

void RaiseFor(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call)
{
    std::string message;
    std::string firstState;
    if (handle != SQL_NULL_HANDLE) {
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            std::vector<SQLWCHAR> text(1024);
            SQLSMALLINT length = 0;
            SQLRETURN drc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                           static_cast<SQLSMALLINT>(text.size()), &length);
            if (drc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= text.size()) {
                text.resize(static_cast<std::size_t>(length) + 1);
                drc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                     static_cast<SQLSMALLINT>(text.size()), &length);
            }
            if (!Succeeded(drc)) break;
            const std::size_t n = std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), text.size() - 1);
            if (firstState.empty()) firstState = FromWide(state, 5);
            if (!message.empty()) message += "\n";
            message += FromWide(text.data(), n);
        }
    }
    if (message.empty()) message = rtl::Format(kCallFailed, call, static_cast<int>(rc));
    throw EAdoError(message, firstState);
}

std::string InfoText(const THandle& dbc, SQLUSMALLINT infoType)
{
    std::vector<SQLWCHAR> buffer(1024);
    SQLSMALLINT bytes = 0;
    SQLRETURN rc = SQLGetInfoW(dbc.Get(), infoType, buffer.data(),
                               static_cast<SQLSMALLINT>(buffer.size() * sizeof(SQLWCHAR)), &bytes);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(bytes) >= buffer.size() * sizeof(SQLWCHAR)) {
        buffer.resize(static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR) + 1);
        rc = SQLGetInfoW(dbc.Get(), infoType, buffer.data(),
                         static_cast<SQLSMALLINT>(buffer.size() * sizeof(SQLWCHAR)), &bytes);
    }
    if (!Succeeded(rc) || bytes <= 0) return std::string();
    const std::size_t n = std::min(static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR), buffer.size() - 1);
    return FromWide(buffer.data(), n);
}

std::int32_t InfoSmall(const THandle& dbc, SQLUSMALLINT infoType)
{
    SQLUSMALLINT value = 0;
    const SQLRETURN rc = SQLGetInfoW(dbc.Get(), infoType, &value, sizeof value, nullptr);
    return Succeeded(rc) ? value : 0;
}

// ---- types ----------------------------------------------------------------------------

TAdoType SqlTypeToAdo(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_BIT: return {adBoolean, adFldFixed};
    case SQL_TINYINT: return {adTinyInt, adFldFixed};
    case SQL_SMALLINT: return {adSmallInt, adFldFixed};
    case SQL_INTEGER: return {adInteger, adFldFixed};
    case SQL_BIGINT: return {adBigInt, adFldFixed};
    case SQL_REAL: return {adSingle, adFldFixed};
    case SQL_FLOAT:
    case SQL_DOUBLE: return {adDouble, adFldFixed};
    case SQL_DECIMAL:
    case SQL_NUMERIC: return {adNumeric, adFldFixed};
    case SQL_TYPE_DATE:
    case SQL_DATE: return {adDBDate, adFldFixed};
    case SQL_TYPE_TIME:
    case SQL_TIME: return {adDBTime, adFldFixed};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return {adDBTimeStamp, adFldFixed};
    case SQL_CHAR: return {adChar, adFldFixed};
    case SQL_VARCHAR: return {adVarChar, 0};
    case SQL_LONGVARCHAR: return {adLongVarChar, adFldLong};
    case SQL_WCHAR: return {adWChar, adFldFixed};
    case SQL_WVARCHAR: return {adVarWChar, 0};
    case SQL_WLONGVARCHAR: return {adLongVarWChar, adFldLong};
    case SQL_BINARY: return {adBinary, adFldFixed};
    case SQL_VARBINARY: return {adVarBinary, 0};
    case SQL_LONGVARBINARY: return {adLongVarBinary, adFldLong};
    case SQL_GUID: return {adGUID, adFldFixed};
    default: return {adVariant, 0};
    }
}

TOleDbType SqlTypeToOleDb(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_CHAR: return {adChar, false, true};
    case SQL_VARCHAR: return {adChar, false, false};
    case SQL_LONGVARCHAR: return {adChar, true, false};
    case SQL_WCHAR: return {adWChar, false, true};
    case SQL_WVARCHAR: return {adWChar, false, false};
    case SQL_WLONGVARCHAR: return {adWChar, true, false};
    case SQL_BINARY: return {adBinary, false, true};
    case SQL_VARBINARY: return {adBinary, false, false};
    case SQL_LONGVARBINARY: return {adBinary, true, false};
    case SQL_TINYINT: return {adUnsignedTinyInt, false, true};
    default: {
        // Every other type has the same code in both numberings.
        const TAdoType t = SqlTypeToAdo(sqlType);
        return {t.Type, false, (t.Attributes & adFldFixed) != 0};
    }
    }
}

bool IsCharacterType(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
        return true;
    default:
        return false;
    }
}

bool IsBinaryType(SQLSMALLINT sqlType) noexcept
{
    return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

bool IsNumericType(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT:
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE: case SQL_DECIMAL: case SQL_NUMERIC:
        return true;
    default:
        return false;
    }
}

bool IsDateTimeType(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_TYPE_DATE: case SQL_DATE: case SQL_TYPE_TIME: case SQL_TIME:
    case SQL_TYPE_TIMESTAMP: case SQL_TIMESTAMP:
        return true;
    default:
        return false;
    }
}

// ---- values ---------------------------------------------------------------------------

namespace {

// Digits of an exact decimal text: sign, integer digits, fraction digits.
struct TDecimalText {
    bool Negative = false;
    std::string_view Whole;
    std::string_view Fraction;
};

bool ParseDecimalText(std::string_view text, TDecimalText& out) noexcept
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) out.Negative = text[i++] == '-';
    const std::size_t wholeStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    out.Whole = text.substr(wholeStart, i - wholeStart);
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        out.Fraction = text.substr(fracStart, i - fracStart);
    }
    return i == text.size() && (!out.Whole.empty() || !out.Fraction.empty());
}

// value * 10^decimals + the digits, within 64 bits.
bool ScaledInteger(const TDecimalText& d, int decimals, std::int64_t& result) noexcept
{
    std::string_view fraction = d.Fraction;
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    if (fraction.size() > static_cast<std::size_t>(decimals)) return false;
    std::uint64_t magnitude = 0;
    const auto add = [&magnitude](int digit) {
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(digit)) / 10)
            return false;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);
        return true;
    };
    for (const char c : d.Whole)
        if (!add(c - '0')) return false;
    for (int k = 0; k < decimals; ++k)
        if (!add(static_cast<std::size_t>(k) < fraction.size() ? fraction[static_cast<std::size_t>(k)] - '0' : 0))
            return false;
    const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (d.Negative ? 1 : 0);
    if (magnitude > limit) return false;
    result = d.Negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

rtl::Variant DateOf(int year, int month, int day, int hour, int minute, int second, std::uint32_t nanoseconds)
{
    rtl::TDateTime date = 0;
    if (!rtl::TryEncodeDate(year, month, day, date)) throw EAdoError(rtl::Format(kBadDate, year, month, day));
    const double time = (hour * 3600.0 + minute * 60.0 + second + nanoseconds / 1e9) / 86400.0;
    return rtl::Variant::DateTime(rtl::ComposeDateTime(date, time));
}

enum class TReadKind { Bit, Long, BigInt, Single, Double, Numeric, Date, Time, Timestamp, Text, Binary };

TReadKind ReadKindOf(SQLSMALLINT sqlType) noexcept
{
    switch (sqlType) {
    case SQL_BIT: return TReadKind::Bit;
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: return TReadKind::Long;
    case SQL_BIGINT: return TReadKind::BigInt;
    case SQL_REAL: return TReadKind::Single;
    case SQL_FLOAT: case SQL_DOUBLE: return TReadKind::Double;
    case SQL_DECIMAL: case SQL_NUMERIC: return TReadKind::Numeric;
    case SQL_TYPE_DATE: case SQL_DATE: return TReadKind::Date;
    case SQL_TYPE_TIME: case SQL_TIME: return TReadKind::Time;
    case SQL_TYPE_TIMESTAMP: case SQL_TIMESTAMP: return TReadKind::Timestamp;
    default: return IsBinaryType(sqlType) ? TReadKind::Binary : TReadKind::Text;
    }
}

struct TResultColumn {
    TReadKind Kind;
    std::int32_t Precision;
    std::int32_t Scale;
};

// A fixed-size value; false for Null.
template <class T>
bool GetFixed(const THandle& stmt, SQLUSMALLINT column, SQLSMALLINT cType, T& value)
{
    SQLLEN indicator = 0;
    Check(SQLGetData(stmt.Get(), column, cType, &value, sizeof value, &indicator), stmt, "SQLGetData");
    return indicator != SQL_NULL_DATA;
}

// The pieces texts and binary data are read in, kept for a whole result.
struct TReadBuffers {
    std::vector<SQLWCHAR> text = std::vector<SQLWCHAR>(kChunkChars + 1);
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kChunkBytes);
};

// A text read in pieces; false for Null.
bool GetText(const THandle& stmt, SQLUSMALLINT column, WString& text, std::vector<SQLWCHAR>& buffer)
{
    const std::size_t capacity = kChunkChars; // characters besides the terminator
    text.clear();
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt.Get(), column, SQL_C_WCHAR, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
        if (rc == SQL_NO_DATA) break;
        Check(rc, stmt, "SQLGetData");
        if (indicator == SQL_NULL_DATA) return false;
        const bool more = indicator == SQL_NO_TOTAL ||
                          static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > capacity;
        const std::size_t got = more ? capacity : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
        text.append(buffer.data(), got);
        if (!more) break;
    }
    return true;
}

// Binary data read in pieces; false for Null.
bool GetBytes(const THandle& stmt, SQLUSMALLINT column, rtl::ByteArray& bytes, std::vector<std::uint8_t>& buffer)
{
    bytes.clear();
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt.Get(), column, SQL_C_BINARY, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size()), &indicator);
        if (rc == SQL_NO_DATA) break;
        Check(rc, stmt, "SQLGetData");
        if (indicator == SQL_NULL_DATA) return false;
        const bool more = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > buffer.size();
        const std::size_t got = more ? buffer.size() : static_cast<std::size_t>(indicator);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        if (!more) break;
    }
    return true;
}

rtl::Variant ReadValue(const THandle& stmt, SQLUSMALLINT column, const TResultColumn& info, TReadBuffers& buffers)
{
    switch (info.Kind) {
    case TReadKind::Bit: {
        unsigned char v = 0;
        return GetFixed(stmt, column, SQL_C_BIT, v) ? rtl::Variant(v != 0) : rtl::Variant::Null();
    }
    case TReadKind::Long: {
        SQLINTEGER v = 0;
        return GetFixed(stmt, column, SQL_C_SLONG, v) ? rtl::Variant(static_cast<std::int32_t>(v))
                                                      : rtl::Variant::Null();
    }
    case TReadKind::BigInt: {
        SQLBIGINT v = 0;
        return GetFixed(stmt, column, SQL_C_SBIGINT, v) ? rtl::Variant(static_cast<std::int64_t>(v))
                                                        : rtl::Variant::Null();
    }
    case TReadKind::Single: {
        float v = 0;
        return GetFixed(stmt, column, SQL_C_FLOAT, v) ? rtl::Variant::Single(v) : rtl::Variant::Null();
    }
    case TReadKind::Double: {
        double v = 0;
        return GetFixed(stmt, column, SQL_C_DOUBLE, v) ? rtl::Variant(v) : rtl::Variant::Null();
    }
    case TReadKind::Numeric: {
        WString text;
        if (!GetText(stmt, column, text, buffers.text)) return rtl::Variant::Null();
        return NumericTextToVariant(rtl::Trim(FromWide(text)), info.Precision, info.Scale);
    }
    case TReadKind::Date: {
        SQL_DATE_STRUCT v{};
        if (!GetFixed(stmt, column, SQL_C_TYPE_DATE, v)) return rtl::Variant::Null();
        return DateOf(v.year, v.month, v.day, 0, 0, 0, 0);
    }
    case TReadKind::Time: {
        SQL_TIME_STRUCT v{};
        if (!GetFixed(stmt, column, SQL_C_TYPE_TIME, v)) return rtl::Variant::Null();
        return rtl::Variant::DateTime((v.hour * 3600.0 + v.minute * 60.0 + v.second) / 86400.0);
    }
    case TReadKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT v{};
        if (!GetFixed(stmt, column, SQL_C_TYPE_TIMESTAMP, v)) return rtl::Variant::Null();
        return DateOf(v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction);
    }
    case TReadKind::Binary: {
        rtl::ByteArray bytes;
        return GetBytes(stmt, column, bytes, buffers.bytes) ? rtl::Variant(std::move(bytes)) : rtl::Variant::Null();
    }
    case TReadKind::Text:
    default: {
        WString text;
        return GetText(stmt, column, text, buffers.text) ? rtl::Variant::OleStr(FromWide(text)) : rtl::Variant::Null();
    }
    }
}

std::uint8_t ClipByte(SQLULEN value) noexcept { return static_cast<std::uint8_t>(std::min<SQLULEN>(value, 255)); }

} // namespace

rtl::Variant NumericTextToVariant(std::string_view text, std::int32_t precision, std::int32_t scale)
{
    TDecimalText d;
    if (ParseDecimalText(text, d)) {
        std::int64_t scaled = 0;
        if (scale == 0 && ScaledInteger(d, 0, scaled)) {
            const bool small = precision <= 9 && scaled >= std::numeric_limits<std::int32_t>::min() &&
                               scaled <= std::numeric_limits<std::int32_t>::max();
            return small ? rtl::Variant(static_cast<std::int32_t>(scaled)) : rtl::Variant(scaled);
        }
        if (scale > 0 && scale <= 4 && ScaledInteger(d, 4, scaled)) return rtl::Variant(rtl::Currency{scaled});
    }
    double value = 0;
    if (rtl::TryStrToFloat(text, value)) return rtl::Variant(value);
    return rtl::Variant::OleStr(text); // "NaN" and the like stay text
}

rtl::RefPtr<TMemRecordset> ReadResult(const THandle& stmt)
{
    SQLSMALLINT columnCount = 0;
    Check(SQLNumResultCols(stmt.Get(), &columnCount), stmt, "SQLNumResultCols");
    if (columnCount <= 0) return rtl::MakeRef<TMemRecordset>();

    std::vector<TColumnInfo> columns;
    std::vector<TResultColumn> reading;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnCount); ++c) {
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLRETURN rc = SQLDescribeColW(stmt.Get(), c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                       &nameLength, &sqlType, &size, &digits, &nullable);
        if (Succeeded(rc) && static_cast<std::size_t>(nameLength) >= name.size()) {
            name.resize(static_cast<std::size_t>(nameLength) + 1);
            rc = SQLDescribeColW(stmt.Get(), c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                 &sqlType, &size, &digits, &nullable);
        }
        Check(rc, stmt, "SQLDescribeColW");
        const TAdoType ado = SqlTypeToAdo(sqlType);
        TColumnInfo info;
        info.Name = FromWide(name.data(), std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                                   name.size() - 1));
        info.Type = ado.Type;
        info.Attributes = ado.Attributes;
        if (nullable == SQL_NULLABLE) info.Attributes |= adFldIsNullable | adFldMayBeNull;
        else if (nullable == SQL_NULLABLE_UNKNOWN) info.Attributes |= adFldMayBeNull;
        switch (sqlType) {
        case SQL_REAL: info.Precision = 7; info.NumericScale = 255; break;
        case SQL_FLOAT: case SQL_DOUBLE: info.Precision = 15; info.NumericScale = 255; break;
        case SQL_DECIMAL: case SQL_NUMERIC:
            info.Precision = ClipByte(size);
            info.NumericScale = ClipByte(static_cast<SQLULEN>(std::max<SQLSMALLINT>(digits, 0)));
            break;
        default:
            info.Precision = IsNumericType(sqlType) ? ClipByte(size) : 255;
            info.NumericScale = IsNumericType(sqlType) ? 0 : 255;
            break;
        }
        columns.push_back(std::move(info));
        reading.push_back({ReadKindOf(sqlType), static_cast<std::int32_t>(std::min<SQLULEN>(size, 1000)),
                           static_cast<std::int32_t>(digits)});
    }

    rtl::RefPtr<TMemRecordset> result = rtl::MakeRef<TMemRecordset>(std::move(columns));
    TReadBuffers buffers;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt.Get());
        if (rc == SQL_NO_DATA) break;
        Check(rc, stmt, "SQLFetch");
        std::vector<rtl::Variant> row;
        row.reserve(reading.size());
        for (std::size_t c = 0; c < reading.size(); ++c)
            row.push_back(ReadValue(stmt, static_cast<SQLUSMALLINT>(c + 1), reading[c], buffers));
        result->AddRow(std::move(row));
    }
    return result;
}

rtl::RefPtr<TMemRecordset> CollectResult(const THandle& stmt, SQLRETURN rc, rtl::Variant& recordsAffected)
{
    // The cursor is closed whatever happens, so the handle can run again.
    struct CursorCloser {
        const THandle& stmt;
        ~CursorCloser() { SQLFreeStmt(stmt.Get(), SQL_CLOSE); }
    } closer{stmt};
    if (rc == SQL_NO_DATA) {
        recordsAffected = rtl::Variant(std::int32_t(0));
        return rtl::MakeRef<TMemRecordset>();
    }
    rtl::RefPtr<TMemRecordset> result = ReadResult(stmt);
    if (result->State() == adStateOpen) {
        recordsAffected = rtl::Variant(std::int32_t(-1));
    } else {
        SQLLEN rows = -1;
        Check(SQLRowCount(stmt.Get(), &rows), stmt, "SQLRowCount");
        recordsAffected = rtl::Variant(static_cast<std::int32_t>(
            std::clamp<SQLLEN>(rows, -1, std::numeric_limits<std::int32_t>::max())));
    }
    for (;;) {
        const SQLRETURN more = SQLMoreResults(stmt.Get());
        if (more == SQL_NO_DATA) break;
        Check(more, stmt, "SQLMoreResults");
    }
    return result;
}

} // namespace ado::odbc
