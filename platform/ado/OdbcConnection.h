// The ADO connection over unixODBC.
//
// A provider name of ADO is mapped to an ODBC driver and its connection
// attributes:
//   "SQLOLEDB"        -> FreeTDS ("FreeTDS", TDS version pinned to 7.4);
//                        "Data Source" SERVER, "Initial Catalog" DATABASE,
//                        "User ID" UID, "Password" PWD, "Language" Language,
//                        "Integrated Security" (any text) Trusted_Connection=Yes.
//   "OraOLEDB.Oracle" -> the Oracle ODBC driver named by the environment
//                        variable PARVANE_ORACLE_ODBC_DRIVER ("Oracle" when
//                        unset); "Data Source" DBQ, "User ID" UID, "Password"
//                        PWD; "Persist Security Info" is accepted and unused.
//   "MSDASQL"         -> any ODBC driver: the property "Driver" names it and
//                        every other property is passed on under its own name.
// The connection string is built without a DSN; a value holding ";", "{",
// "}" or "=" or blanks at either end is written in braces (a "}" doubled),
// so a value never adds attributes. A driver that is not registered with the
// driver manager is refused with a message that names it before connecting.
//
// Statements run on handles that the connection owns through TOdbcStatement:
// closing the connection frees them first, and a command whose handle went
// takes a new one when it runs again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/OdbcApi.h"

namespace ado::odbc {

inline constexpr const char* OracleDriverVariable = "PARVANE_ORACLE_ODBC_DRIVER";

class TOdbcConnection;

// A statement handle that its connection frees when it closes.
class TOdbcStatement {
public:
    TOdbcStatement(TOdbcConnection& owner, THandle handle) noexcept;
    TOdbcStatement(const TOdbcStatement&) = delete;
    TOdbcStatement& operator=(const TOdbcStatement&) = delete;
    ~TOdbcStatement();

    // False once the connection has closed.
    bool Valid() const noexcept { return static_cast<bool>(handle_); }
    const THandle& Handle() const noexcept { return handle_; }
    // Frees the handle now (the connection is closing).
    void Release() noexcept;

private:
    TOdbcConnection* owner_;
    THandle handle_;
};

class TOdbcConnection final : public Connection, private ado::Properties {
public:
    TOdbcConnection();

    // ---- Connection
    std::string Provider() const override { return provider_; }
    void SetProvider(const std::string& provider) override;
    ado::Properties& Properties() override;
    std::int32_t ConnectionTimeout() const override { return connectionTimeout_; }
    void SetConnectionTimeout(std::int32_t seconds) override;
    std::int32_t CommandTimeout() const override { return commandTimeout_; }
    void SetCommandTimeout(std::int32_t seconds) override;
    void Open(const std::string& connectionString, const std::string& userID, const std::string& password,
              std::int32_t options) override;
    void Close() override;
    std::int32_t State() const override { return dbc_ ? adStateOpen : adStateClosed; }
    std::int32_t BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    rtl::RefPtr<Recordset> Execute(const std::string& commandText, rtl::Variant& recordsAffected,
                                   std::int32_t options) override;
    rtl::RefPtr<Recordset> OpenSchema(std::int32_t schema, const std::vector<rtl::Variant>& restrictions) override;

    // ---- for commands and schema rowsets
    bool IsOpen() const noexcept { return static_cast<bool>(dbc_); }
    const THandle& Dbc() const noexcept { return dbc_; }
    // A new statement handle with the time-out (seconds) set; EAdoError
    // SNoConnection while closed.
    std::unique_ptr<TOdbcStatement> NewStatement(std::int32_t timeout);
    // The driver's escape for "_" and "%" in pattern arguments ("" when none).
    const std::string& SearchPatternEscape();

protected:
    // Ends a transaction and disconnects when still open.
    ~TOdbcConnection() override;

private:
    friend class TOdbcStatement;

    class TProperty final : public Property {
    public:
        explicit TProperty(std::string name) : name_(std::move(name)) {}
        std::string Name() const override { return name_; }
        rtl::Variant Value() const override { return value_; }
        void SetValue(const rtl::Variant& value) override { value_ = value; }

    private:
        std::string name_;
        rtl::Variant value_;
    };

    // ---- Properties
    Property& Item(std::string_view name) override;

    void CheckOpen() const;
    void EndTransaction(SQLSMALLINT completion);
    void ReleaseStatements() noexcept;

    std::string provider_;
    std::vector<std::unique_ptr<TProperty>> properties_;
    std::int32_t connectionTimeout_ = 15;
    std::int32_t commandTimeout_ = 30;
    THandle env_;
    THandle dbc_;
    bool inTransaction_ = false;
    std::vector<TOdbcStatement*> statements_;
    std::optional<std::string> escape_;
};

// ---- pieces, exposed for tests ----------------------------------------------------------

// The ODBC driver a provider maps to, and the attributes (keyword, value) its
// properties give; EAdoError for an unknown provider or property.
struct TOdbcTarget {
    std::string Driver;
    std::vector<std::pair<std::string, std::string>> Attributes;
};
TOdbcTarget MapProvider(const std::string& provider,
                        const std::vector<std::pair<std::string, rtl::Variant>>& properties,
                        const std::string& userID, const std::string& password);
// "DRIVER={driver};KEY=value;..." with each value quoted as it needs.
std::string BuildConnectionString(const TOdbcTarget& target);
// value as it stands, or in braces with "}" doubled when it holds ";", "{",
// "}", "=" or blanks at either end; EAdoError for a NUL character.
std::string QuoteAttributeValue(std::string_view value);
// The names of the ODBC drivers the driver manager knows.
std::vector<std::string> RegisteredDrivers();

} // namespace ado::odbc
