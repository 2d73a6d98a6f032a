// The ADO driver base: database, statements, cursors, table definitions and
// schema information over the ADO-like layer.
#include "UdbProject/AdoUdbs.h"

#include <algorithm>
#include <limits>
#include <set>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Names of the connection parameters and their defaults (seconds).
constexpr const char* kCommandTimeoutParam = "command-timeout";
constexpr const char* kConnectionTimeoutParam = "connection-timeout";
constexpr std::int32_t kDefaultCommandTimeout = 30;
constexpr std::int32_t kDefaultConnectionTimeout = 15;

// Clause texts.
constexpr const char* kNotNull = " NOT NULL";
constexpr const char* kUnique = " UNIQUE";

// Initial room of the schema result sets.
constexpr std::int32_t kRelationsCapacity = 100;
constexpr std::int32_t kLiteralInfoCapacity = 1;
constexpr std::int32_t kDataTypesCapacity = 1;

// Result-set columns read from the schema rowsets.
constexpr const char* kColumnName = "COLUMN_NAME";
constexpr const char* kDataType = "DATA_TYPE";
constexpr const char* kColumnFlags = "COLUMN_FLAGS";
constexpr const char* kNumericPrecision = "NUMERIC_PRECISION";
constexpr const char* kNumericScale = "NUMERIC_SCALE";
constexpr const char* kCharacterMaximumLength = "CHARACTER_MAXIMUM_LENGTH";
constexpr const char* kIsNullable = "IS_NULLABLE";
constexpr const char* kOrdinalPosition = "ORDINAL_POSITION";
constexpr const char* kIndexName = "INDEX_NAME";
constexpr const char* kPrimaryKey = "PRIMARY_KEY";
constexpr const char* kUniqueColumn = "UNIQUE";
constexpr const char* kTableType = "TABLE_TYPE";
constexpr const char* kTableName = "TABLE_NAME";
constexpr const char* kLiteral = "LITERAL";
constexpr const char* kMaxLen = "MAXLEN";
constexpr const char* kInvalidChars = "INVALIDCHARS";
constexpr const char* kInvalidStartingChars = "INVALIDSTARTINGCHARS";
constexpr const char* kKeyword = "KEYWORD";
constexpr const char* kTypeName = "TYPE_NAME";
constexpr const char* kColumnSize = "COLUMN_SIZE";
constexpr const char* kMinimumScale = "MINIMUM_SCALE";
constexpr const char* kMaximumScale = "MAXIMUM_SCALE";
constexpr const char* kIsLong = "IS_LONG";

} // namespace

const std::array<const char*, 226> AdoReservedWords = {
    "ABSOLUTE", "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "AND", "ANY", "ARE", "AS", "ASC", "ASSERTION",
    "AT", "AUTHORIZATION", "AVG", "BEGIN", "BETWEEN", "BIT", "BIT_LENGTH", "BOTH", "BY", "CASCADE", "CASCADED",
    "CASE", "CAST", "CATALOG", "CHAR", "CHARACTER", "CHARACTER_LENGTH", "CHAR_LENGTH", "CHECK", "CLOSE",
    "COALESCE", "COLLATE", "COLLATION", "COLUMN", "COMMIT", "CONNECT", "CONNECTION", "CONSTRAINT",
    "CONSTRAINTS", "CONTINUE", "CONVERT", "CORRESPONDING", "COUNT", "CREATE", "CROSS", "CURRENT",
    "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEALLOCATE",
    "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DESCRIBE",
    "DESCRIPTOR", "DIAGNOSTICS", "DISCONNECT", "DISTINCT", "DISTINCTROW", "DOMAIN", "DOUBLE", "DROP", "ELSE",
    "END", "ESCAPE", "EXCEPT", "EXCEPTION", "EXEC", "EXECUTE", "EXISTS", "EXTERNAL", "EXTRACT", "FALSE",
    "FETCH", "FIRST", "FLOAT", "FOR", "FOREIGN", "FOUND", "FROM", "FULL", "GET", "GLOBAL", "GO", "GOTO",
    "GRANT", "GROUP", "HAVING", "HOUR", "IDENTITY", "IMMEDIATE", "IN", "INDICATOR", "INITIALLY", "INNER",
    "INPUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERSECT", "INTERVAL", "INTO", "IS", "ISOLATION",
    "JOIN", "KEY", "LANGUAGE", "LAST", "LEADING", "LEFT", "LEVEL", "LIKE", "LOCAL", "LOWER", "MATCH", "MAX",
    "MIN", "MINUTE", "MODULE", "MONTH", "NAMES", "NATIONAL", "NATURAL", "NCHAR", "NEXT", "NO", "NOT", "NULL",
    "NULLIF", "NUMERIC", "OCTET_LENGTH", "OF", "ON", "ONLY", "OPEN", "OPTION", "OR", "ORDER", "OUTER",
    "OUTPUT", "OVERLAPS", "PARTIAL", "POSITION", "PRECISION", "PREPARE", "PRESERVE", "PRIMARY", "PRIOR",
    "PRIVILEGES", "PROCEDURE", "PUBLIC", "READ", "REAL", "REFERENCES", "RELATIVE", "RESTRICT", "REVOKE",
    "RIGHT", "ROLLBACK", "ROWS", "SCHEMA", "SCROLL", "SECOND", "SECTION", "SELECT", "SESSION", "SESSION_USER",
    "SET", "SIZE", "SMALLINT", "SOME", "SQL", "SQLCODE", "SQLERROR", "SQLSTATE", "SUBSTRING", "SUM",
    "SYSTEM_USER", "TABLE", "TEMPORARY", "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE", "TO",
    "TRAILING", "TRANSACTION", "TRANSLATE", "TRANSLATION", "TRIGGER", "TRIM", "TRUE", "UNION", "UNIQUE",
    "UNKNOWN", "UPDATE", "UPPER", "USAGE", "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARYING", "VIEW",
    "WHEN", "WHENEVER", "WHERE", "WITH", "WORK", "WRITE", "YEAR", "ZONE"
};

namespace {

// The value of the named column on the recordset's current row.
rtl::Variant Col(ado::Recordset& rs, const char* name) { return rs.Fields().Item(name).Value(); }

// Runs a statement the table definition builds, through a command of the layer.
void ExecStatement(TUdb& db, const std::string& sql)
{
    const rtl::RefPtr<IUdbSQLCommand> command = db.CreateCommand(sql, nullptr, 0, true);
    (void)command->Execute(nullptr, 0);
}

} // namespace

// ---- type maps and value helpers ------------------------------------------------------------

std::string IndexColumnList(const TIndexDef& index) { return "(" + JoinIndexFields(index, ',', '[', ']') + ")"; }

rtl::Variant QueryFirstValue(ado::Connection& connection, const std::string& sql)
{
    rtl::Variant recordsAffected;
    const rtl::RefPtr<ado::Recordset> rs = connection.Execute(sql, recordsAffected, ado::adOptionUnspecified);
    if (rs && rs->State() != ado::adStateClosed && !rs->Eof()) return rs->Fields().Item(0).Value();
    return rtl::Variant();
}

TUdbDataType DefaultAdoTypeToDataType(std::int32_t adoType, bool isLong, std::int32_t precision,
                                      std::int32_t scale) noexcept
{
    using namespace ado;
    switch (adoType) {
    case adSmallInt: case adInteger: case adTinyInt: case adUnsignedTinyInt: case adUnsignedSmallInt:
        return udtInteger;
    case adSingle: case adDouble:
        return udtFloat;
    case adCurrency:
        return udtCurrency;
    case adDate: case adDBDate: case adDBTime: case adDBTimeStamp:
        return udtDateTime;
    case adBSTR: case adChar: case adWChar: case adVarChar: case adLongVarChar: case adVarWChar: case adLongVarWChar:
        return isLong ? udtMemo : udtString;
    case adBoolean:
        return udtBoolean;
    case adBinary: case adVarBinary: case adLongVarBinary:
        return udtBinary;
    case adDecimal: case adNumeric: case adVarNumeric:
        if (scale <= 0 && precision - scale <= 10) return udtInteger;
        if (precision == 20 && scale == 4) return udtCurrency;
        return udtFloat;
    default:
        return 0;
    }
}

std::int32_t DataTypeToAdoType(TUdbDataType dataType) noexcept
{
    switch (BaseDataType(dataType)) {
    case udtBoolean: return ado::adBoolean;
    case udtInteger: return ado::adInteger;
    case udtFloat: return ado::adDouble;
    case udtCurrency: return ado::adCurrency;
    case udtDateTime: return ado::adDate;
    case udtString: return ado::adVarChar;
    case udtMemo: return ado::adLongVarChar;
    case udtBinary: return ado::adBinary;
    default: return -1;
    }
}

std::int32_t VarToIntegerDef(const rtl::Variant& v, std::int32_t defaultValue)
{
    return v.IsClear() ? defaultValue : v.AsInteger();
}

bool VarToBooleanDef(const rtl::Variant& v, bool defaultValue) { return v.IsClear() ? defaultValue : v.AsBoolean(); }

std::string VarToWideStringDef(const rtl::Variant& v, const std::string& defaultValue)
{
    return v.IsClear() ? defaultValue : v.AsString();
}

rtl::Variant VarCastOrNull(const rtl::Variant& v, rtl::TVarType varType)
{
    return v.IsClear() ? rtl::Variant::Null() : v.CastTo(varType);
}

// ---- TAdoDb ---------------------------------------------------------------------------------

TAdoDb::TAdoDb() : connection_(ado::NewConnection()) {}

TAdoDb::~TAdoDb()
{
    if (!connection_ || (connection_->State() & ado::adStateOpen) == 0) return;
    try {
        if (transactionLevel_ > 0) connection_->RollbackTrans();
    } catch (...) {
        // Disconnecting ends the transaction on the server all the same.
    }
    transactionLevel_ = 0;
    try {
        connection_->Close();
    } catch (...) {
    }
}

rtl::Variant TAdoDb::GetSchemaName()
{
    if (!GetConnected()) throw rtl::Exception(AdoMsg::SchemaNameDatabaseClosed);
    return rtl::Variant();
}

rtl::RefPtr<TUdbSQLCommand> TAdoDb::CreateSQLCommand() { return rtl::RefPtr<TUdbSQLCommand>(new TAdoSQLCommand(this)); }

void TAdoDb::DoOpen()
{
    connection_->SetCommandTimeout(Params().GetInt(kCommandTimeoutParam, kDefaultCommandTimeout));
    connection_->SetConnectionTimeout(Params().GetInt(kConnectionTimeoutParam, kDefaultConnectionTimeout));
    schemaName_ = rtl::Variant::Null();
}

rtl::Variant TAdoDb::CachedSchemaName(const char* query)
{
    if (schemaName_.IsNull()) {
        (void)TAdoDb::GetSchemaName(); // refuses a closed database
        schemaName_ = QueryFirstValue(Connection(), query);
    }
    return schemaName_;
}

std::string TAdoDb::QuotedTableName(const std::string& name) { return "[" + name + "]"; }

void TAdoDb::DoDropTable(const std::string& name)
{
    CheckSqlName(name);
    rtl::Variant recordsAffected;
    (void)Connection().Execute("drop table " + QuotedTableName(name), recordsAffected,
                               ado::adCmdText | ado::adExecuteNoRecords);
}

void TAdoDb::DoClose()
{
    schemaName_ = rtl::Variant::Null();
    RTL_ASSERT(GetConnected(), AdoMsg::ConnectionAlreadyClosed);
    if (transactionLevel_ > 0) {
        try {
            connection_->RollbackTrans();
        } catch (...) {
            // Disconnecting ends the transaction on the server all the same.
        }
        transactionLevel_ = 0;
    }
    connection_->Close();
}

bool TAdoDb::GetConnected() { return (connection_->State() & ado::adStateOpen) != 0; }

bool TAdoDb::GetInTransaction() { return transactionLevel_ > 0; }

void TAdoDb::DoStartTransaction()
{
    (void)connection_->BeginTrans();
    ++transactionLevel_;
}

void TAdoDb::DoCommit()
{
    connection_->CommitTrans();
    --transactionLevel_;
}

void TAdoDb::DoRollback()
{
    connection_->RollbackTrans();
    --transactionLevel_;
}

rtl::RefPtr<IUdbCursor> TAdoDb::CreateSchemaCursor(TUdbSchemaKind kind)
{
    switch (kind) {
    case uskRelations: return AdoRelationsCursor(*this, GetSchemaName());
    case uskLiteralInfo: return AdoLiteralInfoCursor(*this);
    case uskReservedWords: return AdoReservedWordsCursor(*this);
    case uskDataTypesInfo: return AdoDataTypesCursor(*this);
    default: return nullptr;
    }
}

bool TAdoDb::DoTableExists(const std::string& name)
{
    const rtl::RefPtr<ado::Recordset> rs =
        connection_->OpenSchema(ado::adSchemaTables, {rtl::Variant(), GetSchemaName(), rtl::Variant(name), rtl::Variant()});
    return !rs->Eof();
}

// ---- TAdoSQLCommand -------------------------------------------------------------------------

TAdoSQLCommand::TAdoSQLCommand(TAdoDb* db) : TUdbSQLCommand(db) {}

TAdoDb& TAdoSQLCommand::GetAdoDb() const { return static_cast<TAdoDb&>(*Db()); }

void TAdoSQLCommand::DoPrepare()
{
    ado::Connection& connection = GetAdoDb().Connection();
    command_ = ado::NewCommand();
    command_->SetActiveConnection(&connection);
    command_->SetCommandTimeout(connection.CommandTimeout());
    command_->SetCommandText(SQL());
    command_->SetPrepared(Prepared());
    for (const TUdbDataType code : ParamTypes()) {
        const rtl::RefPtr<ado::Parameter> p =
            command_->CreateParameter(std::string(), DataTypeToAdoType(code), ado::adParamInput, -1, rtl::Variant());
        std::int32_t attributes = ado::adParamNullable;
        const TUdbDataType base = BaseDataType(code);
        if (base == udtMemo || base == udtBinary) attributes |= ado::adParamLong;
        if (base == udtInteger || base == udtFloat || base == udtCurrency) attributes |= ado::adParamSigned;
        p->SetAttributes(attributes);
        command_->Parameters().Append(p);
    }
}

rtl::RefPtr<IUdbCursor> TAdoSQLCommand::DoExecute(const rtl::Variant* values, std::int32_t /*count*/,
                                                  std::int32_t& rowsAffected)
{
    bool reprepare = false;
    for (std::size_t i = 0; i < ParamTypes().size(); ++i) SetParamValue(static_cast<std::int32_t>(i), values[i], reprepare);
    if (reprepare && command_->Prepared()) {
        // Setting the text again makes the command prepare it again.
        const std::string text = command_->CommandText();
        command_->SetCommandText(std::string());
        command_->SetCommandText(text);
        command_->SetPrepared(true);
    }
    rtl::Variant recordsAffected;
    const rtl::RefPtr<ado::Recordset> rs = command_->Execute(recordsAffected, ado::adCmdText);
    rtl::RefPtr<IUdbCursor> result;
    if (rs && rs->State() != ado::adStateClosed) {
        const rtl::RefPtr<TAdoCursor> cursor = CreateCursor();
        result = cursor;
        cursor->SetRecordset(rs.get());
    }
    rowsAffected = VarToIntegerDef(recordsAffected, -1);
    return result;
}

rtl::RefPtr<TAdoCursor> TAdoSQLCommand::CreateCursor() { return rtl::RefPtr<TAdoCursor>(new TAdoCursor(&GetAdoDb())); }

void TAdoSQLCommand::SetParamValue(std::int32_t index, const rtl::Variant& value, bool& /*reprepare*/)
{
    command_->Parameters().Item(index).SetValue(value);
}

// ---- TAdoCursor -----------------------------------------------------------------------------

TAdoCursor::TAdoCursor(TAdoDb* db) : TUdbCursor(db) {}

TAdoDb& TAdoCursor::GetAdoDb() const { return static_cast<TAdoDb&>(*Db()); }

void TAdoCursor::SetRecordset(ado::Recordset* recordset) { recordset_ = recordset; }

ado::Field& TAdoCursor::FieldAt(std::int32_t index)
{
    RTL_ASSERT(recordset_, AdoMsg::RecordsetNotInitialized);
    return recordset_->Fields().Item(index);
}

bool TAdoCursor::GetIsNull(std::int32_t index)
{
    ado::Field& field = FieldAt(index);
    // A long value that has a size is not read just to learn that it is there.
    if ((field.Attributes() & ado::adFldLong) != 0 && field.ActualSize() != 0) return false;
    return field.Value().IsNull();
}

bool TAdoCursor::GetBoolean(std::int32_t index) { return FieldAt(index).Value().AsBoolean(); }
std::int32_t TAdoCursor::GetInteger(std::int32_t index) { return FieldAt(index).Value().AsInteger(); }
double TAdoCursor::GetFloat(std::int32_t index) { return FieldAt(index).Value().AsDouble(); }
rtl::Currency TAdoCursor::GetCurrency(std::int32_t index) { return FieldAt(index).Value().AsCurrency(); }
double TAdoCursor::GetDateTime(std::int32_t index) { return FieldAt(index).Value().AsDateTime(); }
std::string TAdoCursor::GetString(std::int32_t index) { return FieldAt(index).Value().AsString(); }

rtl::Variant TAdoCursor::GetBlob(std::int32_t index)
{
    rtl::Variant value = FieldAt(index).Value();
    RTL_ASSERT(value.IsNull() || value.IsByteArray(), AdoMsg::BlobOfUnknownType);
    return value;
}

rtl::Variant TAdoCursor::GetVariant(std::int32_t index) { return FieldAt(index).Value(); }

std::int32_t TAdoCursor::GetFieldCount()
{
    RTL_ASSERT(recordset_, AdoMsg::RecordsetNotInitialized);
    return recordset_->Fields().Count();
}

std::int32_t TAdoCursor::GetFieldIndex(const std::string& name)
{
    RTL_ASSERT(recordset_, AdoMsg::RecordsetNotInitialized);
    ado::Fields& fields = recordset_->Fields();
    for (std::int32_t i = 0; i < fields.Count(); ++i)
        if (rtl::SameTextLatin(fields.Item(i).Name(), name)) return i;
    return -1;
}

std::string TAdoCursor::GetFieldName(std::int32_t index) { return FieldAt(index).Name(); }

TUdbDataType TAdoCursor::GetFieldType(std::int32_t index)
{
    ado::Field& field = FieldAt(index);
    return GetAdoDb().AdoTypeToDataType(std::string(), field.Type(), (field.Attributes() & ado::adFldLong) != 0,
                                        field.Precision(), field.NumericScale());
}

std::int32_t TAdoCursor::GetDataSize(std::int32_t index)
{
    const std::int64_t size = FieldAt(index).ActualSize();
    return static_cast<std::int32_t>(std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

bool TAdoCursor::GetEof()
{
    return !recordset_ || recordset_->State() == ado::adStateClosed || recordset_->Eof();
}

void TAdoCursor::DoNext()
{
    RTL_ASSERT(recordset_, AdoMsg::RecordsetNotInitialized);
    recordset_->MoveNext();
}

void TAdoCursor::DoClose() { recordset_ = nullptr; }

// ---- TAdoTableDef ---------------------------------------------------------------------------

TAdoTableDef::TAdoTableDef(TAdoDb* db, bool caseSensitiveNames)
    : TUdbTableDef(db), CaseSensitiveNames(caseSensitiveNames)
{
}

TAdoDb& TAdoTableDef::GetAdoDb() const { return static_cast<TAdoDb&>(*Db()); }

std::string ColumnTypeText(TAdoDb& db, TUdbDataType dataType, std::int32_t size)
{
    std::string text = db.DataTypeToSQL(dataType);
    if (dataType == udtString) text += "(" + rtl::IntToStr(size) + ")";
    return text;
}

std::string TAdoTableDef::FieldDeclaration(const TFieldDef& field)
{
    return "[" + field.Name + "] " + ColumnTypeText(GetAdoDb(), field.DataType, field.Size) +
           (field.Required ? kNotNull : "");
}

void TAdoTableDef::CreateIndex(const std::string& tableName, const TIndexDef& index)
{
    const std::string text = std::string("CREATE") + (index.Unique ? kUnique : "") + " INDEX [" + index.Name +
                             "] ON [" + tableName + "] " + IndexColumnList(index);
    ExecStatement(*Db(), text);
}

void TAdoTableDef::CreateIndexOrKey(const std::string& tableName, const TIndexDef& index)
{
    if (index.Primary) Exec("ALTER TABLE [" + tableName + "] ADD PRIMARY KEY " + IndexColumnList(index));
    else CreateIndex(tableName, index);
}

void TAdoTableDef::DropIndex(const std::string& table, const TIndexDef& index)
{
    if (index.Primary) Exec("ALTER TABLE [" + table + "] DROP CONSTRAINT [" + index.Name + "]");
    else Exec(DropIndexSQL(table, index.Name));
}

void TAdoTableDef::Exec(const std::string& sql) { ExecStatement(*Db(), sql); }

std::string TAdoTableDef::DropIndexSQL(const std::string& table, const std::string& indexName)
{
    return "DROP INDEX [" + table + "].[" + indexName + "]";
}

void TAdoTableDef::NameNewIndexes(TTableDef&) {}

void TAdoTableDef::CreateTableFromCopy(const std::string& name, const TTableDef& def, bool withIndexes)
{
    TTableDef named;
    named.Assign(def);
    CreateNamedTable(name, named, withIndexes);
}

void TAdoTableDef::CreateNamedTable(const std::string& name, TTableDef& def, bool withIndexes)
{
    NameNewIndexes(def);
    CheckTableDefNames(def);
    CheckSqlName(name);
    TAdoTableDef::DoCreateTable(name, def, withIndexes);
}

void TAdoTableDef::FieldCopyLists(const TUdbFieldMap& map, std::string& columns, std::string& values)
{
    for (const TUdbFieldMapItem& item : map) {
        if (!columns.empty()) {
            columns += ",";
            values += ",";
        }
        columns += "[" + item.NewField.Name + "]";
        values += FieldCopyExpression(item);
    }
}

std::string TAdoTableDef::FieldCopyExpression(const TUdbFieldMapItem& item) { return "[" + item.OldField.Name + "]"; }

void TAdoTableDef::DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes)
{
    if (def.Fields.Count() == 0) throw EUdbException(rtl::Format(AdoMsg::NoFields, name.c_str()));
    std::string text = "CREATE TABLE [" + name + "] (" + FieldDeclaration(def.Fields.Get(0));
    for (int i = 1; i < def.Fields.Count(); ++i) text += ", " + FieldDeclaration(def.Fields.Get(i));
    if (withIndexes)
        if (const TIndexDef* primary = def.Indexes.FindPrimary())
            text += ", PRIMARY KEY " + IndexColumnList(*primary);
    text += ")";
    ExecStatement(*Db(), text);
    if (!withIndexes) return;
    for (int i = 0; i < def.Indexes.Count(); ++i) {
        const TIndexDef& index = def.Indexes.Get(i);
        if (index.Primary) continue;
        try {
            CreateIndex(name, index);
        } catch (...) {
            // A failure of the removal replaces the index's.
            Db()->DropTable(name);
            throw;
        }
    }
}

void TFieldDefWithPositionList::Add(std::unique_ptr<TFieldDef> fieldDef, std::int32_t position)
{
    items_.emplace_back(std::move(fieldDef), position);
}

std::vector<std::size_t> OrderOfPosition(const std::vector<std::int32_t>& positions)
{
    std::vector<std::size_t> order(positions.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const std::int32_t pa = positions[a], pb = positions[b];
        if (pa < 0 || pb < 0) return pa >= 0 && pb < 0; // unknown positions last
        return pa < pb;
    });
    return order;
}

void TAdoTableDef::DoReadTableDef(const std::string& name, TTableDef& def)
{
    def.Clear();
    def.Name = name;
    TAdoDb& db = GetAdoDb();
    const rtl::Variant schema = db.GetSchemaName();

    // Columns.
    {
        const rtl::RefPtr<ado::Recordset> rs =
            db.Connection().OpenSchema(ado::adSchemaColumns, {rtl::Variant(), schema, rtl::Variant(name), rtl::Variant()});
        TFieldDefWithPositionList list;
        for (; !rs->Eof(); rs->MoveNext()) {
            auto field = std::make_unique<TFieldDef>(-1);
            const rtl::Variant columnName = Col(*rs, kColumnName);
            RTL_ASSERT(!columnName.IsNull(), rtl::Format(AdoMsg::UnknownColumnName, name.c_str()));
            field->Name = columnName.AsString();
            const rtl::Variant dataType = Col(*rs, kDataType);
            RTL_ASSERT(!dataType.IsNull(), rtl::Format(AdoMsg::UnknownDataType, field->Name.c_str(), name.c_str()));
            const bool isLong = (VarToIntegerDef(Col(*rs, kColumnFlags), 0) & ado::DBCOLUMNFLAGS_ISLONG) != 0;
            field->DataType = db.AdoTypeToDataType(std::string(), VarToIntegerDef(dataType, 0), isLong,
                                                   VarToIntegerDef(Col(*rs, kNumericPrecision), 0),
                                                   VarToIntegerDef(Col(*rs, kNumericScale), 0));
            field->Size = VarToIntegerDef(Col(*rs, kCharacterMaximumLength), 0);
            field->Required = !VarToBooleanDef(Col(*rs, kIsNullable), false);
            const std::int32_t position = VarToIntegerDef(Col(*rs, kOrdinalPosition), -1);
            list.Add(std::move(field), position);
        }
        std::vector<std::int32_t> positions;
        for (const TFieldDefWithPosition& item : list.Items()) positions.push_back(item.Position);
        for (const std::size_t k : OrderOfPosition(positions)) def.Fields.Add(std::move(list.Items()[k].FieldDef));
    }

    // Indexes: one row per (index, column).
    const rtl::RefPtr<ado::Recordset> rs = db.Connection().OpenSchema(
        ado::adSchemaIndexes, {rtl::Variant(), schema, rtl::Variant(), rtl::Variant(), rtl::Variant(name)});
    std::vector<std::pair<TIndexDef*, std::vector<std::int32_t>>> positions;
    for (; !rs->Eof(); rs->MoveNext()) {
        const std::string indexName = VarToWideStringDef(Col(*rs, kIndexName), std::string());
        RTL_ASSERT(!indexName.empty(), AdoMsg::UnknownIndexName);
        const int found = def.Indexes.Find(indexName, CaseSensitiveNames);
        TIndexDef* index = nullptr;
        if (found >= 0) {
            index = &def.Indexes.Get(found);
        } else {
            auto created = std::make_unique<TIndexDef>(-1);
            created->Name = indexName;
            index = &def.Indexes.Add(std::move(created));
            positions.push_back({index, {}});
        }
        index->Primary = index->Primary || VarToBooleanDef(Col(*rs, kPrimaryKey), false);
        index->Unique = index->Unique || VarToBooleanDef(Col(*rs, kUniqueColumn), false);
        const rtl::Variant columnName = Col(*rs, kColumnName);
        RTL_ASSERT(!columnName.IsNull(), rtl::Format(AdoMsg::UnknownIndexFieldName, name.c_str()));
        index->Fields.push_back(VarToWideStringDef(columnName, std::string()));
        const auto entry = std::find_if(positions.begin(), positions.end(), [&](const auto& e) { return e.first == index; });
        entry->second.push_back(VarToIntegerDef(Col(*rs, kOrdinalPosition), -1));
    }
    for (auto& [index, fieldPositions] : positions) {
        std::vector<std::string> ordered;
        for (const std::size_t k : OrderOfPosition(fieldPositions)) ordered.push_back(index->Fields[k]);
        index->Fields = std::move(ordered);
    }
}

// ---- schema information ----------------------------------------------------------------------

rtl::RefPtr<IUdbCursor> AdoRelationsCursor(TAdoDb& db, const rtl::Variant& schemaName)
{
    const rtl::RefPtr<TInMemoryCursor> cursor(
        new TInMemoryCursor(&db, SchemaKindColumns(uskRelations), kRelationsCapacity));
    const rtl::RefPtr<ado::Recordset> rs =
        db.Connection().OpenSchema(ado::adSchemaTables, {rtl::Variant(), schemaName, rtl::Variant(), rtl::Variant()});
    const rtl::Variant null = rtl::Variant::Null();
    for (; !rs->Eof(); rs->MoveNext()) {
        const std::string type = rtl::UpperCaseLatin(rtl::VarToStr(Col(*rs, kTableType)));
        const rtl::Variant name(rtl::VarToStr(Col(*rs, kTableName)));
        if (type == "TABLE") cursor->AppendRow({name, rtl::Variant(false), rtl::Variant(std::int32_t(0))});
        else if (type == "SYSTEM TABLE") cursor->AppendRow({name, rtl::Variant(true), rtl::Variant(std::int32_t(0))});
        else if (type == "VIEW") cursor->AppendRow({name, rtl::Variant(false), rtl::Variant(std::int32_t(1))});
        else if (type == "SYSTEM VIEW") cursor->AppendRow({name, rtl::Variant(true), rtl::Variant(std::int32_t(1))});
        else cursor->AppendRow({name, null, null});
    }
    return cursor;
}

rtl::RefPtr<IUdbCursor> AdoLiteralInfoCursor(TAdoDb& db)
{
    const rtl::RefPtr<TInMemoryCursor> cursor(
        new TInMemoryCursor(&db, SchemaKindColumns(uskLiteralInfo), kLiteralInfoCapacity));
    const rtl::RefPtr<ado::Recordset> rs = db.Connection().OpenSchema(ado::adSchemaDBInfoLiterals, {});
    const rtl::Variant null = rtl::Variant::Null();
    for (; !rs->Eof(); rs->MoveNext()) {
        std::int32_t literalType = -1;
        switch (VarToIntegerDef(Col(*rs, kLiteral), -1)) {
        case ado::DBLITERAL_TABLE_NAME: literalType = 0; break;
        case ado::DBLITERAL_COLUMN_NAME: literalType = 1; break;
        case ado::DBLITERAL_INDEX_NAME: literalType = 2; break;
        default: continue;
        }
        cursor->AppendRow({rtl::Variant(literalType), VarCastOrNull(Col(*rs, kMaxLen), rtl::varLongWord), null, null,
                           null, VarCastOrNull(Col(*rs, kInvalidChars), rtl::varOleStr),
                           VarCastOrNull(Col(*rs, kInvalidStartingChars), rtl::varOleStr)});
    }
    return cursor;
}

rtl::RefPtr<IUdbCursor> AdoReservedWordsCursor(TAdoDb& db)
{
    std::vector<std::string> words;
    std::set<std::string> seen; // upper-cased
    const auto add = [&](const std::string& word) {
        if (word.empty()) return; // a Null keyword is no word
        if (seen.insert(rtl::UpperCaseLatin(word)).second) words.push_back(word);
    };
    for (const char* word : AdoReservedWords) add(word);
    const rtl::RefPtr<ado::Recordset> rs = db.Connection().OpenSchema(ado::adSchemaDBInfoKeywords, {});
    for (; !rs->Eof(); rs->MoveNext()) add(VarToWideStringDef(Col(*rs, kKeyword), std::string()));
    std::sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) {
        return rtl::UpperCaseLatin(a) < rtl::UpperCaseLatin(b);
    });
    const rtl::RefPtr<TInMemoryCursor> cursor(new TInMemoryCursor(&db, SchemaKindColumns(uskReservedWords),
                                                                  static_cast<std::int32_t>(words.size())));
    for (const std::string& word : words) cursor->AppendRow({rtl::Variant(word)});
    return cursor;
}

rtl::RefPtr<IUdbCursor> AdoDataTypesCursor(TAdoDb& db)
{
    const rtl::RefPtr<TInMemoryCursor> cursor(
        new TInMemoryCursor(&db, SchemaKindColumns(uskDataTypesInfo), kDataTypesCapacity));
    const rtl::RefPtr<ado::Recordset> rs = db.Connection().OpenSchema(ado::adSchemaProviderTypes, {});
    for (; !rs->Eof(); rs->MoveNext()) {
        const std::string name = VarToWideStringDef(Col(*rs, kTypeName), std::string());
        const std::int32_t adoType = VarToIntegerDef(Col(*rs, kDataType), 0);
        const rtl::Variant size = VarCastOrNull(Col(*rs, kColumnSize), rtl::varInteger);
        const rtl::Variant minScale = VarCastOrNull(Col(*rs, kMinimumScale), rtl::varInteger);
        const rtl::Variant maxScale = VarCastOrNull(Col(*rs, kMaximumScale), rtl::varInteger);
        const bool isLong = VarToBooleanDef(Col(*rs, kIsLong), false);
        const TUdbDataType code =
            db.AdoTypeToDataType(name, adoType, isLong, VarToIntegerDef(size, 0), VarToIntegerDef(maxScale, 0));
        if (code != 0 && rtl::SameTextLatin(db.DataTypeToSQL(code), name))
            cursor->AppendRow({rtl::Variant(std::int32_t(code)), rtl::Variant(name), size, minScale, maxScale});
    }
    return cursor;
}

bool FindProviderType(TAdoDb& db, const std::string& typeName, std::int32_t& adoType, rtl::Variant& columnSize,
                      rtl::Variant& minScale, rtl::Variant& maxScale, rtl::Variant& isLong)
{
    columnSize = minScale = maxScale = isLong = rtl::Variant();
    const rtl::RefPtr<ado::Recordset> rs = db.Connection().OpenSchema(ado::adSchemaProviderTypes, {});
    for (; !rs->Eof(); rs->MoveNext()) {
        if (!rtl::SameTextLatin(VarToWideStringDef(Col(*rs, kTypeName), std::string()), typeName)) continue;
        adoType = VarToIntegerDef(Col(*rs, kDataType), -1);
        columnSize = VarCastOrNull(Col(*rs, kColumnSize), rtl::varInteger);
        minScale = VarCastOrNull(Col(*rs, kMinimumScale), rtl::varInteger);
        maxScale = VarCastOrNull(Col(*rs, kMaximumScale), rtl::varInteger);
        isLong = VarCastOrNull(Col(*rs, kIsLong), rtl::varBoolean);
        return true;
    }
    return false;
}
