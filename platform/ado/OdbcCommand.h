// The ADO command over unixODBC, with its parameters.
//
// Parameters are bound by their ADO type, never by asking the driver
// (SQLDescribeParam): Boolean as a bit, Integer as a 32-bit integer, Double
// as a double, Currency as an exact decimal (the text of the amount with four
// decimals, DECIMAL(19,4)), Date as a timestamp with milliseconds, VarChar as
// UTF-16 text with the parameter's size (or the value's length when no size
// is given; a longer value is refused, never cut), LongVarChar as long
// UTF-16 text, Binary as (long, with adParamLong) binary data; Null as Null
// of the same type. A parameter is bound again only when its binding (type,
// size, buffer) changed since the last execution, and every parameter after
// the statement was prepared again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/OdbcConnection.h"

namespace ado::odbc {

// How a parameter is bound: the arguments of SQLBindParameter.
struct TBinding {
    SQLSMALLINT CType = 0;
    SQLSMALLINT SqlType = 0;
    SQLULEN ColumnSize = 0;
    SQLSMALLINT Digits = 0;
    SQLPOINTER Buffer = nullptr;
    SQLLEN BufferLength = 0;
    friend bool operator==(const TBinding&, const TBinding&) = default;
};

// The ADO types a parameter can have.
bool IsBindableType(std::int32_t type) noexcept;

class TOdbcParameter final : public Parameter {
public:
    TOdbcParameter(std::string name, std::int32_t type, std::int32_t direction, std::int64_t size,
                   const rtl::Variant& value);

    std::string Name() const override { return name_; }
    std::int32_t Direction() const override { return direction_; }
    std::int32_t Type() const override { return type_; }
    void SetType(std::int32_t type) override;
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override { size_ = size; }
    std::int32_t Attributes() const override { return attributes_; }
    void SetAttributes(std::int32_t attributes) override { attributes_ = attributes; }
    rtl::Variant Value() const override { return value_; }
    void SetValue(const rtl::Variant& value) override { value_ = value; }

    // Puts the value into the parameter's buffer and gives the binding it
    // needs; EAdoError or the value's conversion error when it cannot be.
    TBinding Bind(std::int32_t position);
    SQLLEN* Indicator() noexcept { return &indicator_; }

protected:
    ~TOdbcParameter() override = default;

private:
    std::string name_;
    std::int32_t type_;
    std::int32_t direction_;
    std::int64_t size_;
    std::int32_t attributes_ = 0;
    rtl::Variant value_;

    // The bound value.
    SQLLEN indicator_ = 0;
    unsigned char bit_ = 0;
    SQLINTEGER integer_ = 0;
    double double_ = 0;
    SQL_TIMESTAMP_STRUCT timestamp_{};
    std::string decimal_;
    WString text_;
    rtl::ByteArray bytes_;
    std::uint8_t emptyBytes_ = 0;
};

class TOdbcCommand final : public Command, private ado::Parameters {
public:
    TOdbcCommand() = default;

    // ---- Command
    Connection* ActiveConnection() const override { return connection_.get(); }
    void SetActiveConnection(Connection* connection) override;
    std::int32_t CommandTimeout() const override { return timeout_; }
    void SetCommandTimeout(std::int32_t seconds) override;
    std::string CommandText() const override { return text_; }
    void SetCommandText(const std::string& text) override;
    bool Prepared() const override { return prepared_; }
    void SetPrepared(bool prepared) override;
    rtl::RefPtr<Parameter> CreateParameter(const std::string& name, std::int32_t type, std::int32_t direction,
                                           std::int64_t size, const rtl::Variant& value) override;
    ado::Parameters& Parameters() override { return *this; }
    rtl::RefPtr<Recordset> Execute(rtl::Variant& recordsAffected, std::int32_t options) override;

    // How often the statement was prepared by the driver (for tests).
    std::int32_t PrepareCount() const noexcept { return prepareCount_; }
    // How often SQLBindParameter ran (for tests).
    std::int32_t BindCount() const noexcept { return bindCount_; }

protected:
    ~TOdbcCommand() override = default;

private:
    // ---- Parameters
    std::int32_t Count() const override { return static_cast<std::int32_t>(params_.size()); }
    Parameter& Item(std::int32_t index) override;
    void Append(const rtl::RefPtr<Parameter>& p) override;

    void BindParameters();

    rtl::RefPtr<TOdbcConnection> connection_; // outlives statement_
    std::unique_ptr<TOdbcStatement> statement_;
    std::vector<rtl::RefPtr<TOdbcParameter>> params_;
    std::vector<std::optional<TBinding>> bound_;
    std::string text_;
    std::int32_t timeout_ = 30;
    std::int32_t appliedTimeout_ = 30;
    bool prepared_ = false;
    bool preparedOnStatement_ = false; // statement_ holds text_ prepared
    std::int32_t prepareCount_ = 0;
    std::int32_t bindCount_ = 0;
};

} // namespace ado::odbc
