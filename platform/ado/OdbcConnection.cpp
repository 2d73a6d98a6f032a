// The ADO connection over unixODBC: providers mapped to drivers, the
// connection string, time-outs, transactions and direct execution.
#include "platform/ado/OdbcConnection.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ado/OdbcSchema.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace ado::odbc {

namespace {

constexpr const char* kProviderNotFound = "Provider cannot be found. It may not be properly installed. (\"%s\")";
constexpr const char* kDriverNotRegistered =
    "The ODBC driver \"%s\" of the provider \"%s\" is not registered with the ODBC driver manager";
constexpr const char* kDriverVariableHint = "; set %s to the name of the installed driver";
constexpr const char* kNoDriverProperty = "The provider \"%s\" needs the property \"Driver\"";
constexpr const char* kBadKeyword = "\"%s\" cannot be an ODBC connection keyword";
constexpr const char* kNulInValue = "A connection attribute cannot hold a NUL character";
constexpr const char* kNestedTransaction = "The ODBC driver does not support nested transactions";
constexpr const char* kConnectionStringGiven = "The connection is described by its provider and properties only";
constexpr const char* kNegativeTimeout = "A time-out cannot be negative";

// How a provider's property becomes a connection attribute.
struct TPropertyMap {
    const char* Property;
    const char* Keyword; // nullptr: accepted and not passed on
    bool AsFlag;         // any non-empty text is written as "Yes"
};

struct TProviderInfo {
    const char* Name;
    const char* Driver;         // nullptr: from DriverVariable or the "Driver" property
    const char* DriverVariable; // environment variable that names the driver
    const char* DefaultDriver;  // when DriverVariable is unset
    std::vector<std::pair<const char*, const char*>> Fixed;
    std::vector<TPropertyMap> Map; // empty: properties are keywords themselves
    const char* UserKeyword;
    const char* PasswordKeyword;
};

const std::vector<TProviderInfo>& Providers()
{
    static const std::vector<TProviderInfo> providers = {
        {"SQLOLEDB", "FreeTDS", nullptr, nullptr, {{"TDS_Version", "7.4"}},
         {{"Data Source", "SERVER", false},
          {"Initial Catalog", "DATABASE", false},
          {"Integrated Security", "Trusted_Connection", true},
          {"User ID", "UID", false},
          {"Password", "PWD", false},
          {"Language", "Language", false}},
         "UID", "PWD"},
        {"OraOLEDB.Oracle", nullptr, OracleDriverVariable, "Oracle", {},
         {{"Data Source", "DBQ", false},
          {"User ID", "UID", false},
          {"Password", "PWD", false},
          {"Persist Security Info", nullptr, false}},
         "UID", "PWD"},
        {"MSDASQL", nullptr, nullptr, nullptr, {}, {}, "UID", "PWD"},
    };
    return providers;
}

const TProviderInfo* FindProvider(std::string_view name)
{
    for (const TProviderInfo& p : Providers())
        if (rtl::SameTextLatin(p.Name, name)) return &p;
    return nullptr;
}

bool IsKeyword(std::string_view name) noexcept
{
    if (name.empty()) return false;
    for (const char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == ' ';
        if (!ok) return false;
    }
    return true;
}

void Put(std::vector<std::pair<std::string, std::string>>& attributes, const std::string& keyword,
         const std::string& value)
{
    for (auto& [k, v] : attributes)
        if (rtl::SameTextLatin(k, keyword)) {
            v = value;
            return;
        }
    attributes.emplace_back(keyword, value);
}

} // namespace

// ---- pieces -------------------------------------------------------------------------------

std::string QuoteAttributeValue(std::string_view value)
{
    if (value.find('\0') != std::string_view::npos) throw EAdoError(kNulInValue);
    const bool needsBraces = value.find_first_of(";{}=") != std::string_view::npos ||
                             (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!needsBraces) return std::string(value);
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

TOdbcTarget MapProvider(const std::string& provider,
                        const std::vector<std::pair<std::string, rtl::Variant>>& properties,
                        const std::string& userID, const std::string& password)
{
    const TProviderInfo* info = FindProvider(provider);
    if (!info) throw EAdoError(rtl::Format(kProviderNotFound, provider.c_str()));
    TOdbcTarget target;
    if (info->Driver) {
        target.Driver = info->Driver;
    } else if (info->DriverVariable) {
        const char* named = std::getenv(info->DriverVariable);
        target.Driver = named && *named ? named : info->DefaultDriver;
    }
    for (const auto& [keyword, value] : info->Fixed) Put(target.Attributes, keyword, value);
    for (const auto& property : properties) {
        // Named, not a structured binding: the lookup below captures it.
        const auto& name = property.first;
        const auto& value = property.second;
        if (value.IsEmpty()) continue;
        const std::string text = rtl::VarToStr(value);
        if (info->Map.empty()) {
            if (rtl::SameTextLatin(name, "Driver")) {
                target.Driver = text;
                continue;
            }
            if (!IsKeyword(name)) throw EAdoError(rtl::Format(kBadKeyword, name.c_str()));
            Put(target.Attributes, name, text);
            continue;
        }
        const auto map = std::find_if(info->Map.begin(), info->Map.end(),
                                      [&](const TPropertyMap& m) { return rtl::SameTextLatin(m.Property, name); });
        if (map == info->Map.end()) throw EAdoError(SItemNotFound);
        if (!map->Keyword) continue;
        if (map->AsFlag) {
            if (!text.empty()) Put(target.Attributes, map->Keyword, "Yes");
        } else {
            Put(target.Attributes, map->Keyword, text);
        }
    }
    if (!userID.empty()) Put(target.Attributes, info->UserKeyword, userID);
    if (!password.empty()) Put(target.Attributes, info->PasswordKeyword, password);
    if (target.Driver.empty()) throw EAdoError(rtl::Format(kNoDriverProperty, info->Name));
    return target;
}

std::string BuildConnectionString(const TOdbcTarget& target)
{
    // The driver manager reads DRIVER in braces; the drivers read every other value.
    std::string out = "DRIVER={";
    for (const char c : target.Driver) {
        out += c;
        if (c == '}') out += '}';
    }
    out += "}";
    for (const auto& [keyword, value] : target.Attributes) out += ";" + keyword + "=" + QuoteAttributeValue(value);
    return out;
}

std::vector<std::string> RegisteredDrivers()
{
    THandle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    Check(SQLSetEnvAttr(env.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), env,
          "SQLSetEnvAttr");
    std::vector<std::string> names;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[512];
        SQLWCHAR attributes[2048];
        SQLSMALLINT nameLength = 0, attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(env.Get(), direction, name, 512, &nameLength, attributes, 2048,
                                         &attributesLength);
        if (!Succeeded(rc)) break;
        names.push_back(FromWide(name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), 511)));
        direction = SQL_FETCH_NEXT;
    }
    return names;
}

// ---- statements ---------------------------------------------------------------------------

TOdbcStatement::TOdbcStatement(TOdbcConnection& owner, THandle handle) noexcept
    : owner_(&owner), handle_(std::move(handle))
{
    owner.statements_.push_back(this);
}

TOdbcStatement::~TOdbcStatement() { Release(); }

void TOdbcStatement::Release() noexcept
{
    handle_.Reset();
    if (!owner_) return;
    auto& list = owner_->statements_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    owner_ = nullptr;
}

// ---- the connection -----------------------------------------------------------------------

TOdbcConnection::TOdbcConnection() = default;

TOdbcConnection::~TOdbcConnection()
{
    try {
        Close();
    } catch (...) {
        // The handles go with the object whatever the driver says.
    }
    ReleaseStatements();
    dbc_.Reset();
}

void TOdbcConnection::SetProvider(const std::string& provider)
{
    if (IsOpen()) throw EAdoError(SObjectOpen);
    const TProviderInfo* info = FindProvider(provider);
    if (!info) throw EAdoError(rtl::Format(kProviderNotFound, provider.c_str()));
    provider_ = info->Name;
    properties_.clear();
    for (const TPropertyMap& map : info->Map) properties_.push_back(std::make_unique<TProperty>(map.Property));
}

ado::Properties& TOdbcConnection::Properties() { return *this; }

Property& TOdbcConnection::Item(std::string_view name)
{
    for (const auto& p : properties_)
        if (rtl::SameTextLatin(p->Name(), name)) return *p;
    const TProviderInfo* info = FindProvider(provider_);
    // Only the pass-through provider takes properties of any name.
    if (!info || !info->Map.empty()) throw EAdoError(SItemNotFound);
    if (!IsKeyword(name)) throw EAdoError(rtl::Format(kBadKeyword, std::string(name).c_str()));
    properties_.push_back(std::make_unique<TProperty>(std::string(name)));
    return *properties_.back();
}

void TOdbcConnection::SetConnectionTimeout(std::int32_t seconds)
{
    if (seconds < 0) throw EAdoError(kNegativeTimeout);
    connectionTimeout_ = seconds;
}

void TOdbcConnection::SetCommandTimeout(std::int32_t seconds)
{
    if (seconds < 0) throw EAdoError(kNegativeTimeout);
    commandTimeout_ = seconds;
}

void TOdbcConnection::CheckOpen() const
{
    if (!IsOpen()) throw EAdoError(SObjectClosed);
}

void TOdbcConnection::Open(const std::string& connectionString, const std::string& userID,
                           const std::string& password, std::int32_t /*options*/)
{
    if (IsOpen()) throw EAdoError(SObjectOpen);
    if (!connectionString.empty()) throw EAdoError(kConnectionStringGiven);
    std::vector<std::pair<std::string, rtl::Variant>> values;
    for (const auto& p : properties_) values.emplace_back(p->Name(), p->Value());
    const TOdbcTarget target = MapProvider(provider_, values, userID, password);

    const std::vector<std::string> drivers = RegisteredDrivers();
    if (std::none_of(drivers.begin(), drivers.end(),
                     [&](const std::string& d) { return rtl::SameTextLatin(d, target.Driver); })) {
        std::string message = rtl::Format(kDriverNotRegistered, target.Driver.c_str(), provider_.c_str());
        const TProviderInfo* info = FindProvider(provider_);
        if (info && info->DriverVariable) message += rtl::Format(kDriverVariableHint, info->DriverVariable);
        throw EAdoError(message);
    }

    THandle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    Check(SQLSetEnvAttr(env.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), env,
          "SQLSetEnvAttr");
    THandle dbc(SQL_HANDLE_DBC, env.Get());
    Check(SQLSetConnectAttrW(dbc.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                             reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(connectionTimeout_)), 0),
          dbc, "SQLSetConnectAttrW");
    std::string built = BuildConnectionString(target);
    WString text = ToWide(built);
    // The password goes no further than the driver.
    std::fill(built.begin(), built.end(), '\0');
    const SQLRETURN rc = SQLDriverConnectW(dbc.Get(), nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()),
                                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    std::fill(text.begin(), text.end(), SQLWCHAR(0));
    if (!Succeeded(rc)) Raise(rc, dbc, "SQLDriverConnectW");
    env_ = std::move(env);
    dbc_ = std::move(dbc);
    inTransaction_ = false;
    escape_.reset();
}

void TOdbcConnection::Close()
{
    if (!IsOpen()) return;
    if (inTransaction_) {
        // A connection with an open transaction cannot disconnect.
        SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), SQL_ROLLBACK);
        inTransaction_ = false;
    }
    ReleaseStatements();
    const SQLRETURN rc = SQLDisconnect(dbc_.Get());
    if (!Succeeded(rc)) {
        // Whatever stays open on the server side, this side starts over.
        try {
            Raise(rc, dbc_, "SQLDisconnect");
        } catch (...) {
            dbc_.Reset();
            env_.Reset();
            throw;
        }
    }
    dbc_.Reset();
    env_.Reset();
}

void TOdbcConnection::ReleaseStatements() noexcept
{
    while (!statements_.empty()) statements_.back()->Release();
}

std::int32_t TOdbcConnection::BeginTrans()
{
    CheckOpen();
    if (inTransaction_) throw EAdoError(kNestedTransaction);
    Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          dbc_, "SQLSetConnectAttrW");
    inTransaction_ = true;
    return 1;
}

void TOdbcConnection::EndTransaction(SQLSMALLINT completion)
{
    CheckOpen();
    if (!inTransaction_) throw EAdoError(SNotCapable);
    // A failed end leaves the transaction open for a rollback.
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), completion), dbc_, "SQLEndTran");
    inTransaction_ = false;
    Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
          dbc_, "SQLSetConnectAttrW");
}

void TOdbcConnection::CommitTrans() { EndTransaction(SQL_COMMIT); }

void TOdbcConnection::RollbackTrans() { EndTransaction(SQL_ROLLBACK); }

std::unique_ptr<TOdbcStatement> TOdbcConnection::NewStatement(std::int32_t timeout)
{
    if (!IsOpen()) throw EAdoError(SNoConnection);
    THandle stmt(SQL_HANDLE_STMT, dbc_.Get());
    Check(SQLSetStmtAttrW(stmt.Get(), SQL_ATTR_QUERY_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout)), 0),
          stmt, "SQLSetStmtAttrW");
    return std::make_unique<TOdbcStatement>(*this, std::move(stmt));
}

const std::string& TOdbcConnection::SearchPatternEscape()
{
    CheckOpen();
    if (!escape_) escape_ = InfoText(dbc_, SQL_SEARCH_PATTERN_ESCAPE);
    return *escape_;
}

rtl::RefPtr<Recordset> TOdbcConnection::Execute(const std::string& commandText, rtl::Variant& recordsAffected,
                                                std::int32_t options)
{
    CheckOpen();
    const std::unique_ptr<TOdbcStatement> statement = NewStatement(commandTimeout_);
    const THandle& stmt = statement->Handle();
    WString text = ToWide(commandText);
    const SQLRETURN rc = SQLExecDirectW(stmt.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    Check(rc, stmt, "SQLExecDirectW");
    rtl::RefPtr<TMemRecordset> result = CollectResult(stmt, rc, recordsAffected);
    if (options != adOptionUnspecified && (options & adExecuteNoRecords) != 0) return rtl::MakeRef<TMemRecordset>();
    return result;
}

rtl::RefPtr<Recordset> TOdbcConnection::OpenSchema(std::int32_t schema, const std::vector<rtl::Variant>& restrictions)
{
    CheckOpen();
    return OpenSchemaRowset(*this, schema, restrictions);
}

} // namespace ado::odbc
