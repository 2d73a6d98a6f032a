// The access layer's classes over the BDE-like engine: names, type maps and
// reserved words; statement translation and parameters; cursors over queries;
// reading, creating and rebuilding tables.
#include "UdbProject/BDEUdbs.h"

#include <exception>
#include <utility>

#include "UdbProject/UdbStdImpl.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- texts ---------------------------------------------------------------------------
constexpr const char* kSessionNamePrefix = "VelmoSession";
constexpr const char* kDatabaseNamePrefix = "VelmoDb";
constexpr const char* kParamMarkerPrefix = ":PARAM";
constexpr const char* kSelectKeyword = "SELECT";
constexpr const char* kIndexNamePrefix = "Ind";
constexpr const char* kPrimaryIndexSuffix = "_PK";
constexpr const char* kSecondaryIndexName = "%s_I%d";
constexpr const char* kTempTableSeparator = "_TMP";
constexpr const char* kInvalidParamsCount = "Invalid params count";
constexpr const char* kFieldNotFound = "Field not found";

} // namespace

// ---- names, words and type maps ----------------------------------------------------

std::atomic<std::int32_t> BdeNameCounter{0};

const std::array<const char*, 215> BdeReservedWords = {
    "ACTIVE", "ADD", "ALL", "AFTER", "ALTER", "AND", "ANY", "AS",
    "ASC", "ASCENDING", "AT", "AUTO", "AUTOINC", "AVG", "BASE_NAME", "BEFORE",
    "BEGIN", "BETWEEN", "BLOB", "BOOLEAN", "BOTH", "BY", "BYTES", "CACHE",
    "CAST", "CHAR", "CHARACTER", "CHECK", "CHECK_POINT_LENGTH", "COLLATE", "COLUMN", "COMMIT",
    "COMMITTED", "COMPUTED", "CONDITIONAL", "CONSTRAINT", "CONTAINING", "COUNT", "CREATE", "CSTRING",
    "CURRENT", "CURSOR", "DATABASE", "DATE", "DAY", "DEBUG", "DEC", "DECIMAL",
    "DECLARE", "DEFAULT", "DELETE", "DESC", "DESCENDING", "DISTINCT", "DO", "DOMAIN",
    "DOUBLE", "DROP", "ELSE", "END", "ENTRY_POINT", "ESCAPE", "EXCEPTION", "EXECUTE",
    "EXISTS", "EXIT", "EXTERNAL", "EXTRACT", "FILE", "FILTER", "FLOAT", "FOR",
    "FOREIGN", "FROM", "FULL", "FUNCTION", "GDSCODE", "GENERATOR", "GEN_ID", "GRANT",
    "GROUP", "GROUP_COMMIT_WAIT_TIME", "HAVING", "HOUR", "IF", "IN", "INT", "INACTIVE",
    "INDEX", "INNER", "INPUT_TYPE", "INSERT", "INTEGER", "INTO", "IS", "ISOLATION",
    "JOIN", "KEY", "LONG", "LENGTH", "LOGFILE", "LOWER", "LEADING", "LEFT",
    "LEVEL", "LIKE", "LOG_BUFFER_SIZE", "MANUAL", "MAX", "MAXIMUM_SEGMENT", "MERGE", "MESSAGE",
    "MIN", "MINUTE", "MODULE_NAME", "MONEY", "MONTH", "NAMES", "NATIONAL", "NATURAL",
    "NCHAR", "NO", "NOT", "NULL", "NUM_LOG_BUFFERS", "NUMERIC", "OF", "ON",
    "ONLY", "OPTION", "OR", "ORDER", "OUTER", "OUTPUT_TYPE", "OVERFLOW", "PAGE_SIZE",
    "PAGE", "PAGES", "PARAMETER", "PASSWORD", "PLAN", "POSITION", "POST_EVENT", "PRECISION",
    "PROCEDURE", "PROTECTED", "PRIMARY", "PRIVILEGES", "RAW_PARTITIONS", "RDB$DB_KEY", "READ", "REAL",
    "RECORD_VERSION", "REFERENCES", "RESERV", "RESERVING", "RETAIN", "RETURNING_VALUES", "RETURNS", "REVOKE",
    "RIGHT", "ROLLBACK", "SECOND", "SEGMENT", "SELECT", "SET", "SHARED", "SHADOW",
    "SCHEMA", "SINGULAR", "SIZE", "SMALLINT", "SNAPSHOT", "SOME", "SORT", "SQLCODE",
    "STABILITY", "STARTING", "STARTS", "STATISTICS", "SUB_TYPE", "SUBSTRING", "SUM", "SUSPEND",
    "TABLE", "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE", "TO", "TRAILING",
    "TRANSACTION", "TRIGGER", "TRIM", "UNCOMMITTED", "UNION", "UNIQUE", "UPDATE", "UPPER",
    "USER", "VALUE", "VALUES", "VARCHAR", "VARIABLE", "VARYING", "VIEW", "WAIT",
    "WHEN", "WHERE", "WHILE", "WITH", "WORK", "WRITE", "YEAR",
};

TUdbDataType BdeFieldTypeToDataType(bde::TFieldType type) noexcept
{
    using namespace bde;
    switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString: return udtString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: return udtInteger;
    case ftBoolean: return udtBoolean;
    case ftFloat: return udtFloat;
    case ftCurrency: return udtCurrency;
    case ftDate: return udtDate;
    case ftTime: return udtTime;
    case ftDateTime: return udtDateTime;
    case ftMemo: return udtMemo;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob: return udtBinary;
    default: return 0;
    }
}

bde::TFieldType DataTypeToBdeFieldType(TUdbDataType type) noexcept
{
    switch (BaseDataType(type)) {
    case udtBoolean: return bde::ftBoolean;
    case udtInteger: return bde::ftInteger;
    case udtFloat: return bde::ftFloat;
    case udtCurrency: return bde::ftCurrency;
    case udtDateTime: return bde::ftDateTime;
    case udtString: return bde::ftString;
    case udtMemo: return bde::ftMemo;
    case udtBinary: return bde::ftBlob;
    default: return bde::ftUnknown;
    }
}

std::int32_t BdeFieldSize(std::int32_t size, TUdbDataType type) noexcept
{
    switch (BaseDataType(type)) {
    case udtString:
    case udtMemo:
    case udtBinary: return size;
    default: return 0;
    }
}

bde::TIndexOptions BdeIndexOptions(const TIndexDef* index)
{
    RTL_ASSERT(index, UdbMsg::ObjectNotInitialized);
    bde::TIndexOptions options = 0;
    if (index->Primary) options |= bde::ixPrimary;
    if (index->Unique) options |= bde::ixUnique;
    return options;
}

// ---- statement text ---------------------------------------------------------------

std::string ConvertParamMarkers(std::string_view sql)
{
    std::string out;
    out.reserve(sql.size() + 16);
    char quote = 0; // the character that opened the literal we are in, 0 outside
    std::int64_t next = 0;
    for (const char c : sql) {
        if (quote != 0) {
            if (c == quote) quote = 0;
            out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
        } else if (c == '?') {
            out += kParamMarkerPrefix;
            out += rtl::IntToStr(next++);
        } else {
            out += c;
        }
    }
    return out;
}

bool IsSelectStatement(std::string_view sql)
{
    return rtl::UpperCase(rtl::Trim(sql)).starts_with(kSelectKeyword);
}

// ---- index names ------------------------------------------------------------------

std::string BdeNewIndexName(const TTableDef& def, const TIndexDef& index, const std::vector<std::string>& given,
                            bool caseSensitive)
{
    if (index.Fields.size() == 1) return index.Fields.front();
    for (std::int64_t n = 0;; ++n) {
        std::string name = kIndexNamePrefix + rtl::IntToStr(n);
        if (def.Indexes.Find(name, caseSensitive) >= 0) continue;
        bool taken = false;
        for (const std::string& g : given)
            if (SameName(g, name, caseSensitive)) taken = true;
        if (!taken) return name;
    }
}

std::string BdeUnnamedIndexName(const std::string& table, bool primary, std::int32_t& n,
                                const std::vector<std::string>& taken)
{
    if (primary) return table + kPrimaryIndexSuffix;
    const auto isTaken = [&](const std::string& name) {
        for (const std::string& t : taken)
            if (rtl::SameText(t, name)) return true;
        return false;
    };
    std::string name = rtl::Format(kSecondaryIndexName, table.c_str(), n);
    while (isTaken(name)) name = rtl::Format(kSecondaryIndexName, table.c_str(), ++n);
    ++n;
    return name;
}

// ---- TBDEUdb ----------------------------------------------------------------------

TBDEUdb::TBDEUdb()
{
    // The number is the increment's own result: two databases made at the same
    // time on two threads never share it.
    const std::int32_t n = BdeNameCounter.fetch_add(1) + 1;
    const std::string number = rtl::IntToStr(n);
    Session_ = std::make_unique<bde::TBdeSession>();
    Session_->SetSessionName(kSessionNamePrefix + number);
    Database_ = std::make_unique<bde::TBdeDatabase>();
    Database_->SetDatabaseName(kDatabaseNamePrefix + number);
    Database_->SetSessionName(Session_->SessionName());
    Database_->SetLoginPrompt(false);
    Database_->SetAliasName("");
}

TBDEUdb::~TBDEUdb()
{
    Database_.reset();
    Session_.reset();
}

void TBDEUdb::DoClose()
{
    Database_->Close();
    Session_->Close();
}

bool TBDEUdb::GetConnected() { return Database_->Connected(); }

void TBDEUdb::StartTransaction()
{
    CheckOpen();
    // The engine refuses to start over a transaction that is lost.
    if (Database_->TransactionLost()) Database_->StartTransaction();
    TUdb::StartTransaction();
}

void TBDEUdb::Commit()
{
    CheckOpen();
    if (Database_->TransactionLost()) {
        // The counter goes with the transaction; the engine's commit then
        // fails, naming the loss, and ends it.
        TUdb::Rollback();
        Database_->Commit();
    }
    TUdb::Commit();
}

void TBDEUdb::Rollback()
{
    TUdb::Rollback();
    // Nothing is left to undo: the engine only forgets the loss.
    if (Database_->TransactionLost()) Database_->Rollback();
}

bool TBDEUdb::JoinTransactionsOf(IUdb* outer)
{
    if (!outer) {
        if (Database_->Connected()) Database_->JoinTransactionsOf(nullptr);
        return true;
    }
    auto* other = dynamic_cast<TBDEUdb*>(outer);
    if (!other || other == this || !Database_->Connected() || !other->Database_->Connected()) return false;
    Database_->JoinTransactionsOf(other->Database_.get());
    return true;
}

bool TBDEUdb::GetInTransaction() { return Database_->InTransaction(); }

void TBDEUdb::DoStartTransaction() { Database_->StartTransaction(); }

void TBDEUdb::DoCommit() { Database_->Commit(); }

void TBDEUdb::DoRollback() { Database_->Rollback(); }

bool TBDEUdb::DoTableExists(const std::string& name) { return NewTableComponent(name)->Exists(); }

void TBDEUdb::DoDropTable(const std::string& name) { NewTableComponent(name)->DeleteTable(); }

std::unique_ptr<bde::TBdeTable> TBDEUdb::NewTableComponent(const std::string& tableName)
{
    auto table = std::make_unique<bde::TBdeTable>();
    table->SetSessionName(Session_->SessionName());
    table->SetDatabaseName(Database_->DatabaseName());
    table->SetTableName(tableName);
    table->SetCacheBlobs(false);
    return table;
}

std::unique_ptr<bde::TBdeQuery> TBDEUdb::NewQueryComponent()
{
    auto query = std::make_unique<bde::TBdeQuery>();
    query->SetSessionName(Session_->SessionName());
    query->SetDatabaseName(Database_->DatabaseName());
    query->SetRequestLive(true);
    query->SetUniDirectional(true);
    query->SetCacheBlobs(false);
    query->SetParamCheck(true);
    return query;
}

// ---- TBDETableDef -----------------------------------------------------------------

namespace {

void ReadBdeFieldDefs(bde::TBdeTable& table, TTableDef& def)
{
    bde::TBdeFieldDefs& fields = table.FieldDefs();
    fields.Update();
    for (int i = 0; i < fields.Count(); ++i) {
        const bde::TBdeFieldDef& f = fields[i];
        auto field = std::make_unique<TFieldDef>();
        field->Name = f.Name;
        field->DataType = BdeFieldTypeToDataType(f.DataType);
        field->Size = f.Size;
        field->Required = f.Required;
        def.Fields.Add(std::move(field));
    }
}

void ReadBdeIndexDefs(bde::TBdeTable& table, TTableDef& def, const std::string& tableName)
{
    bde::TBdeIndexDefs& indexes = table.IndexDefs();
    indexes.Update();
    std::vector<std::string> engineNames;
    for (int i = 0; i < indexes.Count(); ++i) engineNames.push_back(indexes[i].Name);
    std::int32_t n = 0;
    for (int i = 0; i < indexes.Count(); ++i) {
        const bde::TBdeIndexDef& x = indexes[i];
        auto index = std::make_unique<TIndexDef>();
        index->Primary = (x.Options & bde::ixPrimary) != 0;
        index->Unique = (x.Options & bde::ixUnique) != 0;
        index->Name = x.Name.empty() ? BdeUnnamedIndexName(tableName, index->Primary, n, engineNames) : x.Name;
        SplitString(index->Fields, x.Fields, ';');
        def.Indexes.Add(std::move(index));
    }
}

} // namespace

TBDETableDef::TBDETableDef(TBDEUdb* db, bool caseSensitiveNames) : TUdbTableDef(db), CaseSensitiveNames(caseSensitiveNames)
{
}

TBDEUdb& TBDETableDef::BdeDb() const
{
    RTL_ASSERT(Db(), UdbMsg::ObjectNotInitialized);
    return static_cast<TBDEUdb&>(*Db());
}

void TBDETableDef::DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes)
{
    const std::unique_ptr<bde::TBdeTable> table = BdeDb().NewTableComponent(name);
    for (int i = 0; i < def.Fields.Count(); ++i) {
        const TFieldDef& field = def.Fields.Get(i);
        table->FieldDefs().Add(field.Name, DataTypeToBdeFieldType(field.DataType),
                               BdeFieldSize(field.Size, field.DataType), field.Required);
    }
    if (withIndexes) {
        std::vector<std::string> given;
        for (int i = 0; i < def.Indexes.Count(); ++i) {
            const TIndexDef& index = def.Indexes.Get(i);
            std::string indexName = BdeNewIndexName(def, index, given, CaseSensitiveNames);
            given.push_back(indexName);
            table->IndexDefs().Add(std::move(indexName), bde::JoinFieldList(index.Fields), BdeIndexOptions(&index));
        }
    }
    table->CreateTable();
}

void TBDETableDef::DoReadTableDef(const std::string& name, TTableDef& def)
{
    def.Clear();
    const std::unique_ptr<bde::TBdeTable> table = BdeDb().NewTableComponent(name);
    def.Name = name;
    ReadBdeFieldDefs(*table, def);
    ReadBdeIndexDefs(*table, def, name);
}

void TBDETableDef::DoAlterTable(const TTableDef& asRead, const TTableDef& edited)
{
    const TTableModificationInfo mods = CompareTableDefs(edited, asRead, CaseSensitiveNames);
    if (mods.empty()) return;
    if (HasModification(tmTableRenamed, mods, true)) RenameTable(asRead.Name, edited.Name);
    else RebuildTable(asRead, edited);
}

void TBDETableDef::RenameTable(const std::string& oldName, const std::string& newName)
{
    BdeDb().NewTableComponent(oldName)->RenameTable(newName);
}

void TBDETableDef::RebuildTable(const TTableDef& asRead, const TTableDef& edited)
{
    TBDEUdb& db = BdeDb();
    const std::string tmpName = MakeUniqueTableName(db, asRead.Name, kTempTableSeparator);
    RenameTable(asRead.Name, tmpName);
    bool created = false;
    try {
        DoCreateTable(edited.Name, edited, true);
        created = true;
        const TUdbFieldMap fieldMap = MakeFieldMap(asRead, edited);
        if (!fieldMap.empty()) CopyTableData(tmpName, edited.Name, fieldMap);
        db.DropTable(tmpName);
    } catch (...) {
        // Back to the table as it was. Both steps are tried; when one of them
        // fails too, that failure is reported, since the folder is then not as
        // it was.
        std::exception_ptr undoFailure;
        if (created) {
            try {
                db.DropTable(edited.Name);
            } catch (...) {
                undoFailure = std::current_exception();
            }
        }
        try {
            RenameTable(tmpName, asRead.Name);
        } catch (...) {
            if (!undoFailure) undoFailure = std::current_exception();
        }
        if (undoFailure) std::rethrow_exception(undoFailure);
        throw;
    }
}

void TBDETableDef::CopyTableData(const std::string& srcName, const std::string& dstName, const TUdbFieldMap& fieldMap)
{
    TBDEUdb& db = BdeDb();
    const std::unique_ptr<bde::TBdeTable> src = db.NewTableComponent(srcName);
    const std::unique_ptr<bde::TBdeTable> dst = db.NewTableComponent(dstName);
    src->FieldDefs().Update();
    dst->FieldDefs().Update();
    std::vector<std::pair<int, int>> positions; // (source, destination)
    for (const TUdbFieldMapItem& item : fieldMap) {
        const int from = src->FieldDefs().IndexOf(item.OldField.Name);
        const int to = dst->FieldDefs().IndexOf(item.NewField.Name);
        RTL_ASSERT(from >= 0 && to >= 0, kFieldNotFound);
        positions.emplace_back(from, to);
    }
    dst->Open();
    src->Open();
    while (!src->Eof()) {
        dst->Append();
        for (const auto& [from, to] : positions) dst->Field(to).SetValue(src->Field(from).Value());
        dst->Post();
        src->Next();
    }
}

// ---- TBDESQLCommand ---------------------------------------------------------------

TBDESQLCommand::TBDESQLCommand(TBDEUdb* db, char openQuote, char closeQuote)
    : TUdbSQLCommand(db), OpenQuote(openQuote), CloseQuote(closeQuote)
{
    QueryHolder = rtl::MakeRef<TRefDataSet>(db->NewQueryComponent());
}

TBDEUdb& TBDESQLCommand::BdeDb() const
{
    RTL_ASSERT(Db(), UdbMsg::ObjectNotInitialized);
    return static_cast<TBDEUdb&>(*Db());
}

void TBDESQLCommand::DetachQuery(bool copyStatement)
{
    if (QueryHolder->RefCount() <= 1) return;
    auto fresh = rtl::MakeRef<TRefDataSet>(BdeDb().NewQueryComponent());
    if (copyStatement) fresh->DataSet->Assign(*QueryHolder->DataSet);
    QueryHolder = std::move(fresh);
}

void TBDESQLCommand::DoPrepare()
{
    DetachQuery(false);
    const std::string quoted =
        ReplaceCharsOutsideQuotes(SQL(), U"[]", {std::string(1, OpenQuote), std::string(1, CloseQuote)});
    bde::TBdeQuery& query = Query();
    query.SetSQL(ConvertParamMarkers(quoted));
    bde::TBdeParams& params = query.Params();
    const TUdbDataTypeArray& types = ParamTypes();
    RTL_ASSERT(static_cast<std::size_t>(params.Count()) == types.size(), kInvalidParamsCount);
    for (int i = 0; i < params.Count(); ++i) {
        params[i].SetParamType(bde::ptInput);
        params[i].SetDataType(DataTypeToBdeFieldType(types[static_cast<std::size_t>(i)]));
    }
    IsSelect_ = IsSelectStatement(SQL());
}

void TBDESQLCommand::SetBdeParam(bde::TBdeParam& param, const rtl::Variant& value)
{
    const TUdbDataType base = BaseDataType(BdeFieldTypeToDataType(param.DataType()));
    if (value.IsNull()) {
        param.Clear();
        if ((base == udtMemo || base == udtBinary) && Query().Prepared()) Query().UnPrepare();
    } else if (base == udtBinary) {
        const rtl::ByteArray& bytes = value.AsBytes();
        param.SetBlobData(bytes.data(), bytes.size());
    } else {
        param.SetValue(value);
    }
}

rtl::RefPtr<IUdbCursor> TBDESQLCommand::DoExecute(const rtl::Variant* values, std::int32_t count,
                                                  std::int32_t& rowsAffected)
{
    DetachQuery(true);
    bde::TBdeQuery& query = Query();
    RTL_ASSERT(query.Params().Count() == count, rtl::SAssertionFailed);
    for (std::int32_t i = 0; i < count; ++i) SetBdeParam(query.Params()[i], values[i]);
    if (!query.Prepared() && Prepared()) query.Prepare();
    rtl::RefPtr<IUdbCursor> cursor;
    if (IsSelect_) {
        query.Open();
        cursor = rtl::MakeRef<TBDESQLCursor>(Db(), QueryHolder.get());
    } else {
        query.ExecSQL();
    }
    rowsAffected = query.RowsAffected();
    return cursor;
}

// ---- TBDESQLCursor ----------------------------------------------------------------

TBDESQLCursor::TBDESQLCursor(TUdb* db, TRefDataSet* holder) : TUdbCursor(db), QueryHolder(holder) {}

TBDESQLCursor::~TBDESQLCursor()
{
    try {
        DoClose();
    } catch (...) {
        // Closing a query only lets go of its rows; nothing to report here.
    }
}

bde::TBdeField& TBDESQLCursor::GetField(std::int32_t index) { return QueryHolder->DataSet->Field(index); }

bool TBDESQLCursor::GetIsNull(std::int32_t index) { return GetField(index).IsNull(); }

bool TBDESQLCursor::GetBoolean(std::int32_t index) { return GetField(index).AsBoolean(); }

std::int32_t TBDESQLCursor::GetInteger(std::int32_t index) { return GetField(index).AsInteger(); }

double TBDESQLCursor::GetFloat(std::int32_t index) { return GetField(index).AsFloat(); }

rtl::Currency TBDESQLCursor::GetCurrency(std::int32_t index) { return GetField(index).AsCurrency(); }

double TBDESQLCursor::GetDateTime(std::int32_t index) { return GetField(index).AsDateTime(); }

std::string TBDESQLCursor::GetString(std::int32_t index) { return GetField(index).AsString(); }

rtl::Variant TBDESQLCursor::GetBlob(std::int32_t index)
{
    const bde::TBdeField& field = GetField(index);
    if (field.IsNull()) return rtl::Variant::Null();
    const std::unique_ptr<rtl::TStream> stream = field.CreateBlobStream();
    rtl::ByteArray bytes(static_cast<std::size_t>(stream->Size()));
    if (!bytes.empty()) stream->ReadBuffer(bytes.data(), bytes.size());
    return rtl::Variant(std::move(bytes));
}

rtl::Variant TBDESQLCursor::GetVariant(std::int32_t index) { return GetField(index).Value(); }

std::int32_t TBDESQLCursor::GetFieldCount() { return QueryHolder->DataSet->FieldCount(); }

std::int32_t TBDESQLCursor::GetFieldIndex(const std::string& name)
{
    const bde::TBdeField* field = QueryHolder->DataSet->FindField(name);
    return field ? field->Index() : -1;
}

std::string TBDESQLCursor::GetFieldName(std::int32_t index) { return GetField(index).FieldName(); }

TUdbDataType TBDESQLCursor::GetFieldType(std::int32_t index)
{
    return BdeFieldTypeToDataType(GetField(index).DataType());
}

std::int32_t TBDESQLCursor::GetDataSize(std::int32_t index)
{
    const bde::TBdeField& field = GetField(index);
    switch (field.DataType()) {
    // Text is counted in characters (a memo's blob size would be UTF-8 bytes).
    case bde::ftMemo:
    case bde::ftString:
    case bde::ftFixedChar:
    case bde::ftWideString: return static_cast<std::int32_t>(rtl::Utf8CharCount(field.AsString()));
    default: break;
    }
    if (field.IsBlob()) return static_cast<std::int32_t>(field.BlobSize());
    return field.DataSize();
}

bool TBDESQLCursor::GetEof() { return !QueryHolder || QueryHolder->DataSet->Eof(); }

void TBDESQLCursor::DoNext() { QueryHolder->DataSet->Next(); }

void TBDESQLCursor::DoClose()
{
    if (QueryHolder) QueryHolder->DataSet->Close();
}

// ---- schema result sets ------------------------------------------------------------

rtl::RefPtr<IUdbCursor> BdeRelationsCursor(TBDEUdb& db)
{
    auto cursor = rtl::MakeRef<TInMemoryCursor>(&db, SchemaKindColumns(uskRelations), 100);
    for (const std::string& name : db.Database().GetTableNames(false))
        cursor->AppendRow({rtl::Variant(name), rtl::Variant(false), rtl::Variant(std::int32_t{0})});
    return cursor;
}

rtl::RefPtr<IUdbCursor> BdeReservedWordsCursor(TBDEUdb& db)
{
    auto cursor = rtl::MakeRef<TInMemoryCursor>(&db, SchemaKindColumns(uskReservedWords), 10);
    for (const char* word : BdeReservedWords) cursor->AppendRow({rtl::Variant(word)});
    return cursor;
}
