// The PostgreSQL and SQLite test dialects of the ADO driver base, the
// server of the environment, and the PostgreSQL opener of the Velmo pair.
#include "tests/support/AdoTestDialects.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"
#include "tests/support/SqliteUdb.h"

namespace adotest {

namespace {

constexpr const char* kNoServer =
    "no PostgreSQL server: PARVANE_PG_PORT is not set (scripts/test.sh starts one and sets PARVANE_PG_HOST, "
    "PARVANE_PG_PORT, PARVANE_PG_USER, PARVANE_PG_PASSWORD and PARVANE_PG_DATABASE)";

std::string Env(const char* name, const char* defaultValue)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string(defaultValue);
}

std::string ParamsXml(const char* driver, const TParamList& params)
{
    std::string xml = std::string("<driver name=\"") + driver + "\">";
    for (const auto& [name, value] : params)
        xml += "<param name=\"" + XmlEscape(name) + "\">" + XmlEscape(value) + "</param>";
    return xml + "</driver>";
}

// A name that goes into PostgreSQL's double quotes as it is.
std::string PgQuote(const std::string& name)
{
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::optional<TPgServer> PgServer()
{
    const std::string port = Env(PgPortVariable, "");
    if (port.empty()) return std::nullopt;
    return TPgServer{Env(PgHostVariable, "127.0.0.1"), port, Env(PgUserVariable, "postgres"),
                     Env(PgPasswordVariable, ""), Env(PgDatabaseVariable, "postgres")};
}

std::string PgNoServerMessage() { return kNoServer; }

std::string PgParamsXml(const TPgServer& server, const std::string& schema, const TParamList& extra)
{
    TParamList params = {{"host", server.Host},          {"port", server.Port},
                         {"login-name", server.User},    {"login-password", server.Password},
                         {"database", server.Database}};
    if (!schema.empty()) params.emplace_back("schema", schema);
    params.insert(params.end(), extra.begin(), extra.end());
    return ParamsXml(PgDriverName, params);
}

std::string SqliteOdbcParamsXml(const std::string& file, const TParamList& extra)
{
    TParamList params = {{"file", file}};
    params.insert(params.end(), extra.begin(), extra.end());
    return ParamsXml(SqliteOdbcDriverName, params);
}

std::string SchemaNameFor(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "t%016llx", static_cast<unsigned long long>(hash));
    return buffer;
}

// ---- shared pieces -------------------------------------------------------------------

void TAdoTestSQLCommand::DoPrepare()
{
    TAdoSQLCommand::DoPrepare();
    Command()->SetCommandText(SqliteTranslateSql(SQL()));
}

void TAdoTestTableDef::DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes)
{
    TTableDef named;
    named.Assign(def);
    int n = 1;
    for (int i = 0; i < named.Indexes.Count(); ++i)
        if (!named.Indexes.Get(i).Primary) named.Indexes.Get(i).Name = name + "_Ind" + std::to_string(n++);
    TAdoTableDef::DoCreateTable(name, named, withIndexes);
}

void TAdoTestTableDef::DoAlterTable(const TTableDef& /*asRead*/, const TTableDef& /*edited*/)
{
    throw EUdbException(UdbMsg::CapabilityNotSupported);
}

TUdbDataType TAdoTestDb::AdoTypeToDataType(const std::string& /*typeName*/, std::int32_t adoType, bool isLong,
                                           std::int32_t precision, std::int32_t scale)
{
    return DefaultAdoTypeToDataType(adoType, isLong, precision, scale);
}

rtl::RefPtr<TUdbTableDef> TAdoTestDb::CreateTableDef() { return rtl::RefPtr<TUdbTableDef>(new TAdoTestTableDef(this)); }

rtl::RefPtr<TUdbSQLCommand> TAdoTestDb::CreateSQLCommand()
{
    return rtl::RefPtr<TUdbSQLCommand>(new TAdoTestSQLCommand(this));
}

void TAdoTestDb::DoDropTable(const std::string& name)
{
    (void)CreateCommand("DROP TABLE [" + name + "]", nullptr, 0, true)->Execute(nullptr, 0);
}

void TAdoTestDb::OpenWith(const std::vector<std::pair<std::string, std::string>>& properties)
{
    TAdoDb::DoOpen();
    Connection().SetProvider("MSDASQL");
    for (const auto& [name, value] : properties) Connection().Properties().Item(name).SetValue(rtl::Variant(value));
    Connection().Open(std::string(), std::string(), std::string(), ado::adConnectUnspecified);
}

// ---- PostgreSQL ----------------------------------------------------------------------

std::string TPgTestDb::DataTypeToSQL(TUdbDataType dataType)
{
    switch (BaseDataType(dataType)) {
    case udtBoolean: return "bool";
    case udtInteger: return "int4";
    case udtFloat: return "float8";
    case udtCurrency: return "numeric(20,4)";
    case udtDateTime: return "timestamp";
    case udtString: return "varchar";
    case udtMemo: return "text";
    case udtBinary: return "bytea";
    default: throw EUdbException(UdbMsg::BadDataType);
    }
}

void TPgTestDb::DoOpen()
{
    schemaName_ = rtl::Variant::Null();
    OpenWith({{"Driver", PgOdbcDriver},
              {"Server", Params().GetStr("host", "127.0.0.1")},
              {"Port", Params().GetStr("port", "5432")},
              {"Database", Params().GetStr("database", "postgres")},
              {"UID", Params().GetStr("login-name", "postgres")},
              {"PWD", Params().GetStr("login-password", "")},
              {"BoolsAsChar", "0"},
              {"ByteaAsLongVarBinary", "1"},
              // varchar(n) reads as varchar up to 4000 (the driver's default is 255);
              // text stays long as long as this is below MaxLongVarcharSize (8190).
              {"MaxVarcharSize", "4000"},
              {"CommLog", "0"},
              {"Debug", "0"}});
    const std::string schema = Params().GetStr("schema", "");
    if (!schema.empty()) {
        rtl::Variant ignored;
        Connection().Execute("CREATE SCHEMA IF NOT EXISTS " + PgQuote(schema), ignored, ado::adExecuteNoRecords);
        Connection().Execute("SET search_path TO " + PgQuote(schema), ignored, ado::adExecuteNoRecords);
    }
}

void TPgTestDb::DoClose()
{
    schemaName_ = rtl::Variant::Null();
    TAdoDb::DoClose();
}

rtl::Variant TPgTestDb::GetSchemaName()
{
    if (schemaName_.IsNull()) {
        (void)TAdoDb::GetSchemaName();
        rtl::Variant ignored;
        const rtl::RefPtr<ado::Recordset> rs = Connection().Execute("SELECT current_schema()", ignored, -1);
        schemaName_ = rs->Eof() ? rtl::Variant() : rs->Fields().Item(0).Value();
    }
    return schemaName_;
}

// ---- SQLite --------------------------------------------------------------------------

std::string TSqliteOdbcTestDb::DataTypeToSQL(TUdbDataType dataType)
{
    switch (BaseDataType(dataType)) {
    case udtBoolean: return "bit";
    // Not "integer": a one-column integer key would become SQLite's rowid.
    case udtInteger: return "int";
    case udtFloat: return "double";
    case udtCurrency: return "numeric";
    case udtDateTime: return "timestamp";
    case udtString: return "varchar";
    case udtMemo: return "text";
    case udtBinary: return "longvarbinary";
    default: throw EUdbException(UdbMsg::BadDataType);
    }
}

void TSqliteOdbcTestDb::DoOpen() { OpenWith({{"Driver", SqliteOdbcDriver}, {"Database", Params().GetStr("file", "")}}); }

// ---- opening -------------------------------------------------------------------------

rtl::RefPtr<TPgTestDb> OpenPgTestDb(const TPgServer& server, const std::string& schema, const TParamList& extra)
{
    rtl::RefPtr<TPgTestDb> db(new TPgTestDb());
    db->Open(PgParamsXml(server, schema, extra));
    return db;
}

rtl::RefPtr<TSqliteOdbcTestDb> OpenSqliteOdbcTestDb(const std::string& file, const TParamList& extra)
{
    rtl::RefPtr<TSqliteOdbcTestDb> db(new TSqliteOdbcTestDb());
    db->Open(SqliteOdbcParamsXml(file, extra));
    return db;
}

} // namespace adotest

namespace velmotest {

TUdbOpener PgOpener()
{
    return [](const std::string& folder, const std::string& name) -> rtl::RefPtr<IUdb> {
        const std::optional<adotest::TPgServer> server = adotest::PgServer();
        if (!server) throw rtl::Exception(adotest::PgNoServerMessage());
        return adotest::OpenPgTestDb(*server, adotest::SchemaNameFor(folder + "/" + name));
    };
}

bool IsPgTestDb(IUdb& db) { return dynamic_cast<adotest::TPgTestDb*>(&db) != nullptr; }

std::string PgRowVersions(IUdb& db)
{
    std::vector<std::string> tables;
    {
        const rtl::RefPtr<IUdbCursor> relations = db.GetSchemaInfo(uskRelations);
        for (; !relations->Eof(); relations->Next()) tables.push_back(relations->AsString(rtl::Variant("NAME"), ""));
    }
    std::string versions;
    for (const std::string& table : tables) {
        const rtl::RefPtr<IUdbCursor> rows =
            PrepareSQL(db, "SELECT ctid::text, xmin::text FROM [" + table + "] ORDER BY ctid", {}, true)
                ->Execute(nullptr, 0);
        versions += table + ":";
        for (; !rows->Eof(); rows->Next())
            versions += " " + rows->AsString(rtl::Variant(0), "") + "/" + rows->AsString(rtl::Variant(1), "");
        versions += "\n";
    }
    return versions;
}

} // namespace velmotest
