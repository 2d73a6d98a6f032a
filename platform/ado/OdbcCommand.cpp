// The ADO command over unixODBC: preparing, binding parameters by type, and
// executing with the whole result read at once.
#include "platform/ado/OdbcCommand.h"

#include <algorithm>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"

namespace ado::odbc {

namespace {

constexpr const char* kValueTooLong = "Parameter %d: the value (%lld) is longer than the parameter's size (%lld)";
constexpr const char* kNotOdbcObject = "The object does not belong to the ODBC implementation";

// The amount with exactly four decimals: "-12.3400".
std::string CurrencyText(std::int64_t scaled)
{
    const bool negative = scaled < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

std::int64_t CheckedLength(std::int32_t position, std::int64_t size, std::int64_t length)
{
    if (size > 0 && length > size)
        throw EAdoError(rtl::Format(kValueTooLong, position, static_cast<long long>(length), static_cast<long long>(size)));
    return std::max<std::int64_t>(std::max<std::int64_t>(size, length), 1);
}

} // namespace

bool IsBindableType(std::int32_t type) noexcept
{
    switch (type) {
    case adBoolean: case adInteger: case adDouble: case adCurrency: case adDate:
    case adVarChar: case adLongVarChar: case adBinary:
        return true;
    default:
        return false;
    }
}

// ---- parameters -----------------------------------------------------------------------

TOdbcParameter::TOdbcParameter(std::string name, std::int32_t type, std::int32_t direction, std::int64_t size,
                               const rtl::Variant& value)
    : name_(std::move(name)), type_(type), direction_(direction), size_(size), value_(value)
{
    if (!IsBindableType(type) || direction != adParamInput) throw EAdoError(SBadArguments);
}

void TOdbcParameter::SetType(std::int32_t type)
{
    if (!IsBindableType(type)) throw EAdoError(SBadArguments);
    type_ = type;
}

TBinding TOdbcParameter::Bind(std::int32_t position)
{
    TBinding b;
    const bool isNull = value_.IsClear();
    indicator_ = isNull ? SQL_NULL_DATA : 0;
    switch (type_) {
    case adBoolean:
        b = {SQL_C_BIT, SQL_BIT, 1, 0, &bit_, sizeof bit_};
        if (!isNull) bit_ = value_.AsBoolean() ? 1 : 0;
        break;
    case adInteger:
        b = {SQL_C_SLONG, SQL_INTEGER, 10, 0, &integer_, sizeof integer_};
        if (!isNull) integer_ = value_.AsInteger();
        break;
    case adDouble:
        b = {SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &double_, sizeof double_};
        if (!isNull) double_ = value_.AsDouble();
        break;
    case adCurrency:
        decimal_ = isNull ? std::string() : CurrencyText(value_.AsCurrency().scaled);
        b = {SQL_C_CHAR, SQL_DECIMAL, 19, 4, decimal_.data(), static_cast<SQLLEN>(decimal_.size() + 1)};
        if (!isNull) indicator_ = static_cast<SQLLEN>(decimal_.size());
        break;
    case adDate:
        b = {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &timestamp_, sizeof timestamp_};
        if (!isNull) {
            int year, month, day, hour, minute, second, ms;
            rtl::DecodeDateTime(value_.AsDateTime(), year, month, day, hour, minute, second, ms);
            timestamp_ = {static_cast<SQLSMALLINT>(year), static_cast<SQLUSMALLINT>(month),
                          static_cast<SQLUSMALLINT>(day), static_cast<SQLUSMALLINT>(hour),
                          static_cast<SQLUSMALLINT>(minute), static_cast<SQLUSMALLINT>(second),
                          static_cast<SQLUINTEGER>(ms) * 1000000u};
        }
        break;
    case adVarChar:
    case adLongVarChar: {
        std::int64_t chars = 0;
        if (isNull) {
            text_.clear();
        } else {
            const std::string utf8 = value_.AsString();
            text_ = ToWide(utf8);
            chars = static_cast<std::int64_t>(rtl::Utf8Length(utf8));
        }
        const std::int64_t units = static_cast<std::int64_t>(text_.size());
        const std::int64_t columnSize = type_ == adVarChar ? std::max(CheckedLength(position, size_, chars), units)
                                                           : std::max<std::int64_t>(units, 1);
        b = {SQL_C_WCHAR, type_ == adVarChar ? SQLSMALLINT(SQL_VARCHAR) : SQLSMALLINT(SQL_LONGVARCHAR),
             static_cast<SQLULEN>(columnSize), 0, text_.data(),
             static_cast<SQLLEN>((text_.size() + 1) * sizeof(SQLWCHAR))};
        if (!isNull) indicator_ = static_cast<SQLLEN>(text_.size() * sizeof(SQLWCHAR));
        break;
    }
    case adBinary: {
        if (isNull) bytes_.clear();
        else bytes_ = value_.AsBytes();
        const std::int64_t length = static_cast<std::int64_t>(bytes_.size());
        const bool isLong = (attributes_ & adParamLong) != 0;
        const std::int64_t columnSize = isLong ? std::max<std::int64_t>(length, 1) : CheckedLength(position, size_, length);
        // Never a null buffer: some drivers read an empty value from one as Null.
        SQLPOINTER buffer = bytes_.empty() ? static_cast<SQLPOINTER>(&emptyBytes_) : bytes_.data();
        b = {SQL_C_BINARY, isLong ? SQLSMALLINT(SQL_LONGVARBINARY) : SQLSMALLINT(SQL_VARBINARY),
             static_cast<SQLULEN>(columnSize), 0, buffer, static_cast<SQLLEN>(bytes_.size())};
        if (!isNull) indicator_ = static_cast<SQLLEN>(bytes_.size());
        break;
    }
    default:
        throw EAdoError(SBadArguments);
    }
    return b;
}

// ---- the command ----------------------------------------------------------------------

void TOdbcCommand::SetActiveConnection(Connection* connection)
{
    TOdbcConnection* odbc = nullptr;
    if (connection) {
        odbc = dynamic_cast<TOdbcConnection*>(connection);
        if (!odbc) throw EAdoError(kNotOdbcObject);
    }
    if (odbc == connection_.get()) return;
    statement_.reset();
    connection_ = odbc;
}

void TOdbcCommand::SetCommandTimeout(std::int32_t seconds)
{
    if (seconds < 0) throw EAdoError(SBadArguments);
    timeout_ = seconds;
}

void TOdbcCommand::SetCommandText(const std::string& text)
{
    text_ = text;
    preparedOnStatement_ = false;
}

void TOdbcCommand::SetPrepared(bool prepared)
{
    if (prepared != prepared_) preparedOnStatement_ = false;
    prepared_ = prepared;
}

rtl::RefPtr<Parameter> TOdbcCommand::CreateParameter(const std::string& name, std::int32_t type,
                                                     std::int32_t direction, std::int64_t size,
                                                     const rtl::Variant& value)
{
    return rtl::MakeRef<TOdbcParameter>(name, type, direction, size, value);
}

Parameter& TOdbcCommand::Item(std::int32_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= params_.size()) throw EAdoError(SItemNotFound);
    return *params_[static_cast<std::size_t>(index)];
}

void TOdbcCommand::Append(const rtl::RefPtr<Parameter>& p)
{
    auto* odbc = dynamic_cast<TOdbcParameter*>(p.get());
    if (!odbc) throw EAdoError(kNotOdbcObject);
    params_.emplace_back(odbc);
}

void TOdbcCommand::BindParameters()
{
    const THandle& stmt = statement_->Handle();
    bound_.resize(params_.size());
    for (std::size_t i = 0; i < params_.size(); ++i) {
        TOdbcParameter& p = *params_[i];
        const TBinding b = p.Bind(static_cast<std::int32_t>(i + 1));
        if (bound_[i] && *bound_[i] == b) continue;
        bound_[i].reset();
        Check(SQLBindParameter(stmt.Get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, b.CType, b.SqlType,
                               b.ColumnSize, b.Digits, b.Buffer, b.BufferLength, p.Indicator()),
              stmt, "SQLBindParameter");
        bound_[i] = b;
        ++bindCount_;
    }
}

rtl::RefPtr<Recordset> TOdbcCommand::Execute(rtl::Variant& recordsAffected, std::int32_t options)
{
    if (!connection_ || !connection_->IsOpen()) throw EAdoError(SNoConnection);
    if (!statement_ || !statement_->Valid()) {
        statement_ = connection_->NewStatement(timeout_);
        appliedTimeout_ = timeout_;
        preparedOnStatement_ = false;
        bound_.clear();
    }
    const THandle& stmt = statement_->Handle();
    if (appliedTimeout_ != timeout_) {
        Check(SQLSetStmtAttrW(stmt.Get(), SQL_ATTR_QUERY_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_)), 0),
              stmt, "SQLSetStmtAttrW");
        appliedTimeout_ = timeout_;
    }
    if (prepared_ && !preparedOnStatement_) {
        WString text = ToWide(text_);
        Check(SQLPrepareW(stmt.Get(), text.data(), static_cast<SQLINTEGER>(text.size())), stmt, "SQLPrepareW");
        preparedOnStatement_ = true;
        ++prepareCount_;
        bound_.clear();
    }
    BindParameters();
    SQLRETURN rc;
    if (prepared_) {
        rc = SQLExecute(stmt.Get());
    } else {
        WString text = ToWide(text_);
        rc = SQLExecDirectW(stmt.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
        try {
            Raise(rc, stmt, prepared_ ? "SQLExecute" : "SQLExecDirectW");
        } catch (...) {
            SQLFreeStmt(stmt.Get(), SQL_CLOSE);
            throw;
        }
    }
    rtl::RefPtr<TMemRecordset> result = CollectResult(stmt, rc, recordsAffected);
    if (options != adOptionUnspecified && (options & adExecuteNoRecords) != 0) return rtl::MakeRef<TMemRecordset>();
    return result;
}

} // namespace ado::odbc
