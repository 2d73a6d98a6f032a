// The small layer over the ODBC call interface that the ADO objects stand
// on: handles that free themselves, the check of a return code (failure is
// SQL_ERROR or SQL_INVALID_HANDLE; a warning is success whatever its
// SQLSTATE), UTF-16 text for the wide-character functions, the maps from SQL
// types to ADO and OLE DB types, and the reading of a whole result.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ado/AdoRecordset.h"

namespace ado::odbc {

using WString = std::basic_string<SQLWCHAR>;

// UTF-8 <-> the UTF-16 of the wide-character functions.
WString ToWide(std::string_view utf8);
std::string FromWide(const SQLWCHAR* text, std::size_t length);
inline std::string FromWide(const WString& text) { return FromWide(text.data(), text.size()); }

// One ODBC handle, freed when the object goes.
class THandle {
public:
    THandle() noexcept = default;
    // Allocates a handle of the type under parent (SQL_NULL_HANDLE for an environment).
    THandle(SQLSMALLINT type, SQLHANDLE parent);
    THandle(THandle&& other) noexcept;
    THandle& operator=(THandle&& other) noexcept;
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reset(); }

    SQLHANDLE Get() const noexcept { return handle_; }
    SQLSMALLINT Type() const noexcept { return type_; }
    explicit operator bool() const noexcept { return handle_ != SQL_NULL_HANDLE; }
    void Reset() noexcept;

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

inline bool Succeeded(SQLRETURN rc) noexcept { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }
// EAdoError with the handle's diagnostic records when the call failed
// (SQL_ERROR, SQL_INVALID_HANDLE, or any code a call must not return);
// SQL_SUCCESS, SQL_SUCCESS_WITH_INFO and SQL_NO_DATA pass.
void Check(SQLRETURN rc, const THandle& handle, const char* call);
[[noreturn]] void Raise(SQLRETURN rc, const THandle& handle, const char* call);
[[noreturn]] void RaiseFor(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call);

// A string of SQLGetInfoW; "" when the driver does not answer.
std::string InfoText(const THandle& dbc, SQLUSMALLINT infoType);
// A 16-bit number of SQLGetInfoW; 0 when the driver does not answer.
std::int32_t InfoSmall(const THandle& dbc, SQLUSMALLINT infoType);

// The ADO type and field attributes (adFldLong, adFldFixed) of a column of
// that SQL type as a recordset presents it.
struct TAdoType {
    std::int32_t Type;
    std::int32_t Attributes;
};
TAdoType SqlTypeToAdo(SQLSMALLINT sqlType) noexcept;
// The OLE DB type code of a schema rowset (DATA_TYPE), whether the type is
// long (DBCOLUMNFLAGS_ISLONG / IS_LONG) and whether it is of fixed length.
struct TOleDbType {
    std::int32_t Type;
    bool IsLong;
    bool IsFixedLength;
};
TOleDbType SqlTypeToOleDb(SQLSMALLINT sqlType) noexcept;
bool IsCharacterType(SQLSMALLINT sqlType) noexcept;
bool IsBinaryType(SQLSMALLINT sqlType) noexcept;
bool IsNumericType(SQLSMALLINT sqlType) noexcept;
bool IsDateTimeType(SQLSMALLINT sqlType) noexcept;

// Every row of the statement's current result, read now. Values: Boolean,
// 32- or 64-bit integers, doubles, exact numerics as integers or currency
// where they fit (doubles otherwise), date-times, texts (UTF-16 strings) and
// byte arrays; long data is read in pieces. A result without columns gives a
// closed recordset.
rtl::RefPtr<TMemRecordset> ReadResult(const THandle& stmt);

// What an executed statement gave (rc: the return code of SQLExecute or
// SQLExecDirectW, already checked): its first result read whole, every
// further result drained (a failure among them raises), the cursor closed.
// recordsAffected: -1 when the first result has rows, 0 for "no data",
// otherwise SQLRowCount.
rtl::RefPtr<TMemRecordset> CollectResult(const THandle& stmt, SQLRETURN rc, rtl::Variant& recordsAffected);

// A number text of a decimal column: an integer when scale is 0 and it fits
// 64 bits (32 bits when precision is at most 9), currency when it has at most
// four decimals and fits, a double otherwise.
rtl::Variant NumericTextToVariant(std::string_view text, std::int32_t precision, std::int32_t scale);

} // namespace ado::odbc
