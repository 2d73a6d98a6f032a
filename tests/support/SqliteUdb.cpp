// The SQLite test driver: TSqliteUdb with its statement, cursor and table
// definition classes, the translation of the layer's SQL for SQLite and the
// map between layer data types and SQLite column declarations.
//
// Ownership of engine objects: every sqlite3_stmt belongs to exactly one
// command or cursor (a statement that yields rows moves to its cursor, and
// the command prepares a new one for its next execution), so re-executing a
// command never disturbs an open cursor. Closing the database finalises the
// statements of every attached command and cursor before the connection.
#include "tests/support/SqliteUdb.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDefs.h"
#include "UdbProject/UdbStdImpl.h"
#include "platform/bde/BdeSqlDialect.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- messages ---------------------------------------------------------------------

constexpr const char* kInjectedStatementFailure = "Injected failure of a statement execution";
constexpr const char* kInjectedCommitFailure = "Injected failure of a commit";
constexpr const char* kNoFileParam = "SQLite: the parameter \"file\" is not given";
constexpr const char* kOpenFailed = "SQLite: cannot open \"%s\": %s";
constexpr const char* kEngineError = "SQLite: %s";
constexpr const char* kControlFailed = "SQLite: %s (%s)";
constexpr const char* kEmptyStatement = "SQLite: the statement text holds no statement";
constexpr const char* kSeveralStatements = "SQLite: a command holds one statement only";
constexpr const char* kInvalidParamsCount = "Invalid params count";
constexpr const char* kCannotBind = "SQLite: a value of type %s cannot be a parameter";
constexpr const char* kNoFields = "SQLite: table \"%s\" has no fields";
constexpr const char* kIndexFieldsEmpty = "Index fields list empty";

// Longest name the driver reports for tables, fields and indexes.
constexpr std::int32_t kMaxNameLen = 64;
constexpr const char* kDdlSavepoint = "udb_ddl";

// ---- engine objects ---------------------------------------------------------------

struct StmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

[[noreturn]] void RaiseEngineError(const char* message)
{
    throw EUdbException(rtl::Format(kEngineError, message));
}

// One statement of text prepared on db; refuses empty texts and texts with a
// second statement after the first.
StmtPtr PrepareStatement(sqlite3* db, std::string_view text)
{
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &raw, &tail);
    StmtPtr stmt(raw);
    if (rc != SQLITE_OK) RaiseEngineError(sqlite3_errmsg(db));
    if (!stmt) throw EUdbException(kEmptyStatement);
    const std::size_t used = static_cast<std::size_t>(tail - text.data());
    if (!rtl::Trim(text.substr(used)).empty() && rtl::Trim(text.substr(used)) != ";")
        throw EUdbException(kSeveralStatements);
    return stmt;
}

// The driver's own reads of the catalogue: one prepared query, text
// parameters, rows read by column.
class CatalogQuery {
public:
    CatalogQuery(sqlite3* db, const char* sql) : db_(db), stmt_(PrepareStatement(db, sql)) {}

    CatalogQuery& Bind(int position, std::string_view text)
    {
        if (sqlite3_bind_text64(stmt_.get(), position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
            SQLITE_OK)
            RaiseEngineError(sqlite3_errmsg(db_));
        return *this;
    }
    bool Next()
    {
        const int rc = sqlite3_step(stmt_.get());
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        RaiseEngineError(sqlite3_errmsg(db_));
    }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL; }
    std::string Text(int column) const
    {
        const auto* text = sqlite3_column_text(stmt_.get(), column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), column)))
                    : std::string();
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_.get(), column); }

private:
    sqlite3* db_;
    StmtPtr stmt_;
};

// What the database releases in its commands and cursors before it closes.
class ISqliteStatementOwner {
public:
    virtual void ReleaseStatement() noexcept = 0;

protected:
    virtual ~ISqliteStatementOwner() = default;
};

// ---- values -----------------------------------------------------------------------

void BindBytes(sqlite3_stmt* stmt, int position, const rtl::ByteArray& bytes, int& rc)
{
    // A zero-length blob bound from a null pointer would read back as Null.
    rc = bytes.empty() ? sqlite3_bind_zeroblob(stmt, position, 0)
                       : sqlite3_bind_blob64(stmt, position, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

void BindText(sqlite3_stmt* stmt, int position, const std::string& text, int& rc)
{
    rc = sqlite3_bind_text64(stmt, position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// A value of no declared type, by its own kind.
void BindByKind(sqlite3_stmt* stmt, int position, const rtl::Variant& value, int& rc)
{
    switch (value.VarType()) {
    case rtl::varBoolean: rc = sqlite3_bind_int(stmt, position, value.AsBoolean() ? 1 : 0); return;
    case rtl::varSmallint: case rtl::varInteger: case rtl::varShortInt: case rtl::varByte:
    case rtl::varWord: case rtl::varLongWord: case rtl::varInt64:
        rc = sqlite3_bind_int64(stmt, position, value.AsInt64());
        return;
    case rtl::varSingle: case rtl::varDouble: case rtl::varDate: case rtl::varCurrency:
        rc = sqlite3_bind_double(stmt, position, value.AsDouble());
        return;
    case rtl::varOleStr: case rtl::varStrArg: case rtl::varString:
        BindText(stmt, position, value.AsString(), rc);
        return;
    case rtl::varByteArray: BindBytes(stmt, position, value.AsBytes(), rc); return;
    default: throw EUdbException(rtl::Format(kCannotBind, rtl::Variant::TypeName(value.VarType()).c_str()));
    }
}

// Binds value to the 1-based position as its declared type asks: Boolean as
// 0/1, currency and date-time as doubles, text as UTF-8, blobs as blobs.
void BindValue(sqlite3* db, sqlite3_stmt* stmt, int position, TUdbDataType declared, const rtl::Variant& value)
{
    int rc = SQLITE_OK;
    if (value.IsNull()) {
        rc = sqlite3_bind_null(stmt, position);
    } else {
        switch (BaseDataType(declared)) {
        case udtBoolean: rc = sqlite3_bind_int(stmt, position, value.AsBoolean() ? 1 : 0); break;
        case udtInteger: rc = sqlite3_bind_int64(stmt, position, value.AsInt64()); break;
        case udtFloat: rc = sqlite3_bind_double(stmt, position, value.AsDouble()); break;
        case udtCurrency:
            rc = sqlite3_bind_double(stmt, position, static_cast<double>(value.AsCurrency().scaled) / 10000.0);
            break;
        case udtDateTime: rc = sqlite3_bind_double(stmt, position, value.AsDateTime()); break;
        case udtString:
        case udtMemo: BindText(stmt, position, value.AsString(), rc); break;
        case udtBinary: BindBytes(stmt, position, value.AsBytes(), rc); break;
        default: BindByKind(stmt, position, value, rc); break;
        }
    }
    if (rc != SQLITE_OK) RaiseEngineError(sqlite3_errmsg(db));
}

std::string ColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = sqlite3_column_text(stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

// The column's value by its storage class; nothing is converted.
rtl::Variant ColumnVariant(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return rtl::Variant(static_cast<std::int64_t>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT: return rtl::Variant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: return rtl::Variant(ColumnText(stmt, column));
    case SQLITE_BLOB: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
        const int size = sqlite3_column_bytes(stmt, column);
        return rtl::Variant(data ? rtl::ByteArray(data, data + size) : rtl::ByteArray());
    }
    default: return rtl::Variant::Null();
    }
}


// ---- the driver's classes -----------------------------------------------------------

TSqliteUdb& SqliteOf(TUdb* db) { return static_cast<TSqliteUdb&>(*db); }

// Runs a statement the driver writes itself through a command of the layer,
// so it is wrapped, counted and open to fault injection like any other.
void ExecDriverStatement(TUdb& db, const std::string& sql)
{
    (void)db.CreateCommand(sql, nullptr, 0, true)->Execute(nullptr, 0);
}

class TSqliteCursor final : public TUdbCursor, public ISqliteStatementOwner {
public:
    // stmt stands on its first row when onRow, else it has no rows.
    TSqliteCursor(TSqliteUdb* db, StmtPtr stmt, bool onRow) : TUdbCursor(db), stmt_(std::move(stmt)), onRow_(onRow)
    {
        sqlite3_stmt* s = stmt_.get();
        const int count = sqlite3_column_count(s);
        columns_.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(s, i);
            const char* decl = sqlite3_column_decltype(s, i);
            columns_.push_back({name ? name : "", decl ? SqliteParseColumnType(decl).DataType : TUdbDataType(0)});
        }
        if (!onRow_) sqlite3_reset(s);
    }

    void ReleaseStatement() noexcept override
    {
        stmt_.reset();
        onRow_ = false;
    }

protected:
    bool GetIsNull(std::int32_t index) override { return sqlite3_column_type(stmt_.get(), index) == SQLITE_NULL; }
    bool GetBoolean(std::int32_t index) override { return Value(index).AsBoolean(); }
    std::int32_t GetInteger(std::int32_t index) override { return Value(index).AsInteger(); }
    double GetFloat(std::int32_t index) override { return Value(index).AsDouble(); }
    rtl::Currency GetCurrency(std::int32_t index) override { return Value(index).AsCurrency(); }
    double GetDateTime(std::int32_t index) override { return Value(index).AsDateTime(); }
    std::string GetString(std::int32_t index) override { return Value(index).AsString(); }
    rtl::Variant GetBlob(std::int32_t index) override
    {
        rtl::Variant value = Value(index);
        if (value.IsNull() || value.IsByteArray()) return value;
        const std::string text = value.AsString();
        return rtl::Variant(rtl::ByteArray(text.begin(), text.end()));
    }
    rtl::Variant GetVariant(std::int32_t index) override { return Value(index); }
    std::int32_t GetFieldCount() override { return static_cast<std::int32_t>(columns_.size()); }
    std::int32_t GetFieldIndex(const std::string& name) override
    {
        // SQLite compares names ignoring the case of the Latin letters.
        for (std::size_t i = 0; i < columns_.size(); ++i)
            if (rtl::SameTextLatin(columns_[i].name, name)) return static_cast<std::int32_t>(i);
        return -1;
    }
    std::string GetFieldName(std::int32_t index) override { return columns_[static_cast<std::size_t>(index)].name; }
    // The declared type of a table column; otherwise the storage class of the
    // current value (0 without a row or for Null).
    TUdbDataType GetFieldType(std::int32_t index) override
    {
        const TUdbDataType declared = columns_[static_cast<std::size_t>(index)].declared;
        if (declared != 0 || !onRow_) return declared;
        switch (sqlite3_column_type(stmt_.get(), index)) {
        case SQLITE_INTEGER: return udtInteger;
        case SQLITE_FLOAT: return udtFloat;
        case SQLITE_TEXT: return udtString;
        case SQLITE_BLOB: return udtBinary;
        default: return 0;
        }
    }
    // String and Memo: characters; Binary: bytes; Null: 0; other types: -1.
    std::int32_t GetDataSize(std::int32_t index) override
    {
        const rtl::Variant value = Value(index);
        if (value.IsNull()) return 0;
        switch (BaseDataType(GetFieldType(index))) {
        case udtString:
        case udtMemo: return static_cast<std::int32_t>(rtl::Utf8CharCount(value.AsString()));
        case udtBinary: return value.IsByteArray() ? static_cast<std::int32_t>(value.AsBytes().size())
                                                   : static_cast<std::int32_t>(value.AsString().size());
        default: return -1;
        }
    }
    bool GetEof() override { return !onRow_; }
    void DoNext() override
    {
        if (!onRow_) return;
        sqlite3_stmt* s = stmt_.get();
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) return;
        onRow_ = false;
        if (rc == SQLITE_DONE) {
            sqlite3_reset(s); // releases the read lock; the statement goes at Close
            return;
        }
        const std::string message = sqlite3_errmsg(sqlite3_db_handle(s));
        sqlite3_reset(s);
        RaiseEngineError(message.c_str());
    }
    void DoClose() override { ReleaseStatement(); }

private:
    struct Column {
        std::string name;
        TUdbDataType declared;
    };

    rtl::Variant Value(std::int32_t index) const { return ColumnVariant(stmt_.get(), index); }

    std::vector<Column> columns_;
    StmtPtr stmt_;
    bool onRow_;
};

class TSqliteSQLCommand final : public TUdbSQLCommand, public ISqliteStatementOwner {
public:
    explicit TSqliteSQLCommand(TSqliteUdb* db) : TUdbSQLCommand(db) {}

    void ReleaseStatement() noexcept override { stmt_.reset(); }

protected:
    void DoPrepare() override
    {
        engineSql_ = SqliteTranslateSql(SQL());
        stmt_ = PrepareStatement(SqliteOf(Db()).Handle(), engineSql_);
        RTL_ASSERT(sqlite3_bind_parameter_count(stmt_.get()) == static_cast<int>(ParamTypes().size()),
                   kInvalidParamsCount);
    }

    rtl::RefPtr<IUdbCursor> DoExecute(const rtl::Variant* values, std::int32_t count,
                                      std::int32_t& rowsAffected) override
    {
        TSqliteUdb& db = SqliteOf(Db());
        sqlite3* h = db.Handle();
        RTL_ASSERT(count == static_cast<std::int32_t>(ParamTypes().size()), rtl::SAssertionFailed);
        db.CheckInjectedFault(SQL(), engineSql_);
        if (!stmt_) stmt_ = PrepareStatement(h, engineSql_);
        sqlite3_stmt* s = stmt_.get();
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        for (std::int32_t i = 0; i < count; ++i)
            BindValue(h, s, i + 1, ParamTypes()[static_cast<std::size_t>(i)], values[i]);

        const sqlite3_int64 before = sqlite3_total_changes64(h);
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            const std::string message = sqlite3_errmsg(h);
            sqlite3_reset(s);
            RaiseEngineError(message.c_str());
        }
        // sqlite3_changes keeps the count of the last INSERT, UPDATE or DELETE:
        // it is this statement's only when this statement changed rows.
        const bool changed = sqlite3_total_changes64(h) != before;
        rowsAffected = changed ? sqlite3_changes(h) : 0;
        if (sqlite3_column_count(s) > 0)
            return rtl::RefPtr<IUdbCursor>(new TSqliteCursor(&db, std::move(stmt_), rc == SQLITE_ROW));
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return nullptr;
    }

private:
    std::string engineSql_;
    StmtPtr stmt_;
};

// Keeps the DDL of one table change together: rolled back unless released.
class DdlSavepoint {
public:
    explicit DdlSavepoint(TSqliteUdb& db) : db_(db)
    {
        db_.ExecControl((std::string("SAVEPOINT ") + kDdlSavepoint).c_str());
    }
    DdlSavepoint(const DdlSavepoint&) = delete;
    DdlSavepoint& operator=(const DdlSavepoint&) = delete;
    ~DdlSavepoint()
    {
        if (released_) return;
        try {
            db_.ExecControl((std::string("ROLLBACK TO ") + kDdlSavepoint).c_str());
            db_.ExecControl((std::string("RELEASE ") + kDdlSavepoint).c_str());
        } catch (...) {
            // The failure that brought us here is the one the caller hears about.
        }
    }
    void Release()
    {
        db_.ExecControl((std::string("RELEASE ") + kDdlSavepoint).c_str());
        released_ = true;
    }

private:
    TSqliteUdb& db_;
    bool released_ = false;
};

std::string QuotedList(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ",";
        out += SqliteQuoteName(name);
    }
    return out;
}

class TSqliteTableDef final : public TUdbTableDef {
public:
    explicit TSqliteTableDef(TSqliteUdb* db) : TUdbTableDef(db) {}

protected:
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override
    {
        DdlSavepoint savepoint(Sqlite());
        ExecDriverStatement(*Db(), CreateTableText(name, def, withIndexes));
        if (withIndexes) CreateIndexes(name, def);
        savepoint.Release();
    }

    void DoReadTableDef(const std::string& name, TTableDef& def) override
    {
        def.Clear();
        def.Name = name;
        sqlite3* h = Sqlite().Handle();

        std::vector<std::pair<std::int64_t, std::string>> keyFields; // position in the key, name
        CatalogQuery columns(h, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1) ORDER BY cid");
        columns.Bind(1, name);
        while (columns.Next()) {
            auto field = std::make_unique<TFieldDef>(-1);
            field->Name = columns.Text(0);
            const TSqliteColumnType type = SqliteParseColumnType(columns.Text(1));
            field->DataType = type.DataType;
            field->Size = type.Size;
            field->Required = columns.Int(2) != 0;
            if (columns.Int(3) > 0) keyFields.emplace_back(columns.Int(3), field->Name);
            def.Fields.Add(std::move(field));
        }

        // The primary key comes from the columns: a rowid table's integer key has no index of its own.
        if (!keyFields.empty()) {
            std::sort(keyFields.begin(), keyFields.end());
            auto primary = std::make_unique<TIndexDef>(-1);
            primary->Name = name + "_PK";
            primary->Primary = true;
            primary->Unique = true;
            for (auto& [position, field] : keyFields) primary->Fields.push_back(field);
            def.Indexes.Add(std::move(primary));
        }

        // The other indexes in the order they were created.
        CatalogQuery indexes(h,
                             "SELECT il.name, il.\"unique\" FROM pragma_index_list(?1) AS il "
                             "LEFT JOIN sqlite_master AS m ON m.type = 'index' AND m.name = il.name "
                             "WHERE il.origin <> 'pk' ORDER BY m.rowid");
        indexes.Bind(1, name);
        while (indexes.Next()) {
            auto index = std::make_unique<TIndexDef>(-1);
            index->Name = indexes.Text(0);
            index->Unique = indexes.Int(1) != 0;
            bool expression = false;
            CatalogQuery info(h, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
            info.Bind(1, index->Name);
            while (info.Next()) {
                if (info.IsNull(0)) expression = true;
                else index->Fields.push_back(info.Text(0));
            }
            // An index over expressions has no field list the layer could hold.
            if (!expression && !index->Fields.empty()) def.Indexes.Add(std::move(index));
        }
    }

    // Rebuilds the table through a copy inside one savepoint: the new
    // structure under a free name, the common columns copied, the old table
    // dropped, the copy renamed, the indexes created. Any failure leaves the
    // old table as it was.
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override
    {
        if (CompareTableDefs(edited, asRead, true).empty()) return;
        TUdb& db = *Db();
        const std::string tmpName = MakeUniqueTableName(db, edited.Name, "_TMP");
        DdlSavepoint savepoint(Sqlite());
        ExecDriverStatement(db, CreateTableText(tmpName, edited, true));
        const TUdbFieldMap map = MakeFieldMap(asRead, edited);
        if (!map.empty()) {
            std::vector<std::string> oldNames;
            std::vector<std::string> newNames;
            for (const TUdbFieldMapItem& item : map) {
                oldNames.push_back(item.OldField.Name);
                newNames.push_back(item.NewField.Name);
            }
            ExecDriverStatement(db, "INSERT INTO " + SqliteQuoteName(tmpName) + " (" + QuotedList(newNames) +
                                        ") SELECT " + QuotedList(oldNames) + " FROM " + SqliteQuoteName(asRead.Name));
        }
        ExecDriverStatement(db, "DROP TABLE " + SqliteQuoteName(asRead.Name));
        ExecDriverStatement(db, "ALTER TABLE " + SqliteQuoteName(tmpName) + " RENAME TO " +
                                    SqliteQuoteName(edited.Name));
        CreateIndexes(edited.Name, edited);
        savepoint.Release();
    }

private:
    TSqliteUdb& Sqlite() const { return SqliteOf(Db()); }

    static std::string CreateTableText(const std::string& name, const TTableDef& def, bool withPrimaryKey)
    {
        if (def.Fields.Count() == 0) throw EUdbException(rtl::Format(kNoFields, name.c_str()));
        std::string text = "CREATE TABLE " + SqliteQuoteName(name) + " (";
        for (int i = 0; i < def.Fields.Count(); ++i) {
            const TFieldDef& field = def.Fields.Get(i);
            if (i > 0) text += ", ";
            text += SqliteQuoteName(field.Name);
            const std::string type = SqliteColumnType(field.DataType, field.Size);
            if (!type.empty()) text += " " + type;
            if (field.Required) text += " NOT NULL";
        }
        if (const TIndexDef* primary = withPrimaryKey ? def.Indexes.FindPrimary() : nullptr) {
            RTL_ASSERT(!primary->Fields.empty(), kIndexFieldsEmpty);
            text += ", PRIMARY KEY (" + QuotedList(primary->Fields) + ")";
        }
        return text + ")";
    }

    void CreateIndexes(const std::string& table, const TTableDef& def)
    {
        for (int i = 0; i < def.Indexes.Count(); ++i) {
            const TIndexDef& index = def.Indexes.Get(i);
            if (index.Primary) continue;
            RTL_ASSERT(!index.Fields.empty(), kIndexFieldsEmpty);
            ExecDriverStatement(*Db(), std::string("CREATE ") + (index.Unique ? "UNIQUE " : "") + "INDEX " +
                                           SqliteQuoteName(FreeIndexName(index.Name, table)) + " ON " +
                                           SqliteQuoteName(table) + " (" + QuotedList(index.Fields) + ")");
        }
    }

    // Index names are shared by every table of an SQLite database: the
    // index's own name when it is free, else table + "_I" + the first free number.
    std::string FreeIndexName(const std::string& wanted, const std::string& table) const
    {
        sqlite3* h = Sqlite().Handle();
        const auto taken = [h](const std::string& name) {
            CatalogQuery query(h, "SELECT 1 FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
            query.Bind(1, name);
            return query.Next();
        };
        // Names beginning with "sqlite_" are SQLite's own (a UNIQUE constraint's index, read back).
        const bool engineName = rtl::UpperCaseLatin(wanted.substr(0, 7)) == "SQLITE_";
        if (!rtl::Trim(wanted).empty() && !engineName && !taken(wanted)) return wanted;
        for (std::int64_t n = 0;; ++n) {
            std::string candidate = table + "_I" + rtl::IntToStr(n);
            if (!taken(candidate)) return candidate;
        }
    }
};

} // namespace

// ---- TSqliteUdb ---------------------------------------------------------------------

TSqliteUdb::TSqliteUdb() = default;

TSqliteUdb::~TSqliteUdb() { CloseHandle(); }

void TSqliteUdb::CloseHandle() noexcept
{
    // Every statement is finalised by now, so the connection closes at once.
    if (handle_) sqlite3_close_v2(handle_);
    handle_ = nullptr;
}

void TSqliteUdb::FailStatement(int n) noexcept { failCountdown_ = n > 0 ? n : 0; }

void TSqliteUdb::FailStatementsContaining(std::string piece) { failPiece_ = std::move(piece); }

void TSqliteUdb::FailNextCommit() noexcept { failNextCommit_ = true; }

void TSqliteUdb::ClearFaults() noexcept
{
    failCountdown_ = 0;
    failPiece_.clear();
    failNextCommit_ = false;
}

int TSqliteUdb::EngineStatementCount() const noexcept
{
    int n = 0;
    if (handle_)
        for (sqlite3_stmt* s = sqlite3_next_stmt(handle_, nullptr); s; s = sqlite3_next_stmt(handle_, s)) ++n;
    return n;
}

void TSqliteUdb::CheckInjectedFault(std::string_view layerSql, std::string_view engineSql)
{
    if (failCountdown_ > 0 && --failCountdown_ == 0) throw EUdbException(kInjectedStatementFailure);
    if (!failPiece_.empty() &&
        (layerSql.find(failPiece_) != std::string_view::npos || engineSql.find(failPiece_) != std::string_view::npos))
        throw EUdbException(kInjectedStatementFailure);
}

void TSqliteUdb::ExecControl(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(handle_, sql, nullptr, nullptr, &error) == SQLITE_OK) return;
    const std::string message = error ? error : sqlite3_errmsg(handle_);
    sqlite3_free(error);
    throw EUdbException(rtl::Format(kControlFailed, message.c_str(), sql));
}

rtl::RefPtr<TUdbTableDef> TSqliteUdb::CreateTableDef() { return rtl::RefPtr<TUdbTableDef>(new TSqliteTableDef(this)); }

rtl::RefPtr<TUdbSQLCommand> TSqliteUdb::CreateSQLCommand()
{
    return rtl::RefPtr<TUdbSQLCommand>(new TSqliteSQLCommand(this));
}

void TSqliteUdb::DoOpen()
{
    const std::string file = Params().GetStr(SqliteFileParam, std::string());
    if (file.empty()) throw EUdbException(kNoFileParam);
    sqlite3* h = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = h ? sqlite3_errmsg(h) : sqlite3_errstr(rc);
        sqlite3_close_v2(h);
        throw EUdbException(rtl::Format(kOpenFailed, file.c_str(), message.c_str()));
    }
    handle_ = h;
    // "X" is always a name, never a string literal: a misspelt column must fail, not read as text.
    sqlite3_db_config(h, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(h, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    // SQLite reads the file lazily: a file that is no database is refused here, not at the first statement.
    char* error = nullptr;
    if (sqlite3_exec(h, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(h);
        sqlite3_free(error);
        CloseHandle();
        throw EUdbException(rtl::Format(kOpenFailed, file.c_str(), message.c_str()));
    }
}

void TSqliteUdb::DoClose()
{
    for (TUdbObject* child : Children())
        if (auto* owner = dynamic_cast<ISqliteStatementOwner*>(child)) owner->ReleaseStatement();
    CloseHandle();
}

bool TSqliteUdb::GetConnected() { return handle_ != nullptr; }

bool TSqliteUdb::GetInTransaction() { return handle_ != nullptr && sqlite3_get_autocommit(handle_) == 0; }

void TSqliteUdb::DoStartTransaction() { ExecControl("BEGIN"); }

void TSqliteUdb::DoCommit()
{
    if (failNextCommit_) {
        failNextCommit_ = false;
        throw EUdbException(kInjectedCommitFailure);
    }
    ExecControl("COMMIT");
}

void TSqliteUdb::DoRollback() { ExecControl("ROLLBACK"); }

rtl::RefPtr<IUdbCursor> TSqliteUdb::CreateSchemaCursor(TUdbSchemaKind kind)
{
    const rtl::Variant null = rtl::Variant::Null();
    switch (kind) {
    case uskRelations: {
        rtl::RefPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, SchemaKindColumns(kind), 100));
        CatalogQuery query(handle_,
                           "SELECT name, type FROM sqlite_master WHERE type IN ('table', 'view') "
                           "ORDER BY name COLLATE NOCASE");
        while (query.Next()) {
            const std::string name = query.Text(0);
            const bool system = rtl::UpperCaseLatin(name.substr(0, 7)) == "SQLITE_";
            cursor->AppendRow({rtl::Variant(name), rtl::Variant(system),
                               rtl::Variant(std::int32_t(query.Text(1) == "view" ? 1 : 0))});
        }
        return cursor;
    }
    case uskLiteralInfo: {
        rtl::RefPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, SchemaKindColumns(kind), 3));
        for (std::int32_t literal = 0; literal <= 2; ++literal)
            cursor->AppendRow({rtl::Variant(literal), rtl::Variant(kMaxNameLen), rtl::Variant(false), null, null,
                               null, null});
        return cursor;
    }
    case uskReservedWords: {
        std::vector<std::string> words;
        for (int i = 0; i < sqlite3_keyword_count(); ++i) {
            const char* word = nullptr;
            int length = 0;
            if (sqlite3_keyword_name(i, &word, &length) == SQLITE_OK)
                words.emplace_back(word, static_cast<std::size_t>(length));
        }
        std::sort(words.begin(), words.end());
        rtl::RefPtr<TInMemoryCursor> cursor(
            new TInMemoryCursor(this, SchemaKindColumns(kind), static_cast<std::int32_t>(words.size())));
        for (const std::string& word : words) cursor->AppendRow({rtl::Variant(word)});
        return cursor;
    }
    case uskDataTypesInfo: {
        rtl::RefPtr<TInMemoryCursor> cursor(
            new TInMemoryCursor(this, SchemaKindColumns(kind), static_cast<std::int32_t>(UdbDataTypes.size())));
        for (const TUdbDataTypeInfo& info : UdbDataTypes)
            cursor->AppendRow({rtl::Variant(std::int32_t(info.DataType)),
                               rtl::Variant(SqliteColumnType(info.DataType, -1)), null, null, null});
        return cursor;
    }
    default: return nullptr;
    }
}

bool TSqliteUdb::DoTableExists(const std::string& name)
{
    CatalogQuery query(handle_,
                       "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE");
    query.Bind(1, name);
    return query.Next();
}

void TSqliteUdb::DoDropTable(const std::string& name)
{
    ExecDriverStatement(*this, "DROP TABLE " + SqliteQuoteName(name));
}

// ---- free functions -----------------------------------------------------------------

rtl::RefPtr<TSqliteUdb> OpenSqliteUdb(const std::string& file)
{
    rtl::RefPtr<TSqliteUdb> db(new TSqliteUdb());
    db->Open(SqliteParamsXml(file));
    return db;
}

std::string SqliteParamsXml(const std::string& file)
{
    return std::string("<driver name=\"") + SqliteDriverName + "\"><param name=\"" + SqliteFileParam + "\">" +
           XmlEscape(file) + "</param></driver>";
}

std::string SqliteTranslateSql(std::string_view layerSql)
{
    return bde::BdeTranslateToSqlite(bde::BdeQuoteBracketedNames(layerSql));
}

std::string SqliteQuoteName(std::string_view name)
{
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string SqliteColumnType(TUdbDataType type, std::int32_t size)
{
    if (type == 0) return std::string();
    (void)DataTypeIndex(type); // a code outside the layer's table fails with its message
    const char* name = "";
    switch (type) {
    case udtBoolean: name = "BOOLEAN"; break;
    // Not "INTEGER": a one-column INTEGER key would become the rowid and take Null as "next number".
    case udtInteger: name = "INT"; break;
    case udtFloat: name = "FLOAT"; break;
    case udtCurrency: name = "CURRENCY"; break;
    case udtDateTime: name = "DATETIME"; break;
    case udtDate: name = "DATE"; break;
    case udtTime: name = "TIME"; break;
    case udtString: name = "VARCHAR"; break;
    case udtMemo: name = "TEXT"; break;
    case udtBinary: name = "BLOB"; break;
    case udtPicture: name = "PICTURE BLOB"; break;
    case udtDocument: name = "DOCUMENT BLOB"; break;
    default: break;
    }
    const TUdbDataType base = BaseDataType(type);
    const bool sized = base == udtString || base == udtMemo || base == udtBinary;
    return sized && size > 0 ? std::string(name) + "(" + rtl::IntToStr(size) + ")" : std::string(name);
}

TSqliteColumnType SqliteParseColumnType(std::string_view declaration)
{
    const std::string decl = rtl::UpperCaseLatin(rtl::Trim(declaration));
    TSqliteColumnType result;
    if (decl.empty()) return result;
    // The type's first word: the bytes SQLite's names are made of.
    const auto wordByte = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c >= 0x80;
    };
    std::size_t end = 0;
    while (end < decl.size() && wordByte(static_cast<unsigned char>(decl[end]))) ++end;
    const std::string first = decl.substr(0, end);

    struct Word {
        const char* word;
        TUdbDataType type;
    };
    static constexpr Word kWords[] = {
        {"BOOLEAN", udtBoolean}, {"BOOL", udtBoolean}, {"BIT", udtBoolean}, {"LOGICAL", udtBoolean},
        {"INT", udtInteger}, {"INTEGER", udtInteger}, {"SMALLINT", udtInteger}, {"TINYINT", udtInteger},
        {"MEDIUMINT", udtInteger}, {"BIGINT", udtInteger}, {"INT2", udtInteger}, {"INT4", udtInteger},
        {"INT8", udtInteger}, {"FLOAT", udtFloat}, {"DOUBLE", udtFloat}, {"REAL", udtFloat},
        {"NUMERIC", udtFloat}, {"DECIMAL", udtFloat}, {"NUMBER", udtFloat}, {"CURRENCY", udtCurrency},
        {"MONEY", udtCurrency}, {"DATETIME", udtDateTime}, {"TIMESTAMP", udtDateTime}, {"DATE", udtDate},
        {"TIME", udtTime}, {"VARCHAR", udtString}, {"CHAR", udtString}, {"CHARACTER", udtString},
        {"NVARCHAR", udtString}, {"NCHAR", udtString}, {"VARCHAR2", udtString}, {"NVARCHAR2", udtString},
        {"STRING", udtString}, {"TEXT", udtMemo}, {"CLOB", udtMemo}, {"MEMO", udtMemo}, {"NTEXT", udtMemo},
        {"BLOB", udtBinary}, {"BINARY", udtBinary}, {"VARBINARY", udtBinary}, {"BYTES", udtBinary},
        {"BYTEA", udtBinary}, {"PICTURE", udtPicture}, {"GRAPHIC", udtPicture}, {"DOCUMENT", udtDocument},
    };
    const auto known = std::find_if(std::begin(kWords), std::end(kWords),
                                    [&](const Word& w) { return first == w.word; });
    if (known != std::end(kWords)) {
        result.DataType = known->type;
    } else {
        // SQLite's own affinity rules for names it does not know either.
        const auto has = [&](const char* piece) { return decl.find(piece) != std::string::npos; };
        if (has("INT")) result.DataType = udtInteger;
        else if (has("CHAR")) result.DataType = udtString;
        else if (has("CLOB") || has("TEXT")) result.DataType = udtMemo;
        else if (has("BLOB")) result.DataType = udtBinary;
        else result.DataType = udtFloat;
    }

    const TUdbDataType base = BaseDataType(result.DataType);
    const std::size_t open = decl.find('(');
    if ((base == udtString || base == udtMemo || base == udtBinary) && open != std::string::npos) {
        std::size_t close = open + 1;
        while (close < decl.size() && decl[close] != ')' && decl[close] != ',') ++close;
        std::int32_t size = 0;
        if (rtl::TryStrToInt(rtl::Trim(std::string_view(decl).substr(open + 1, close - open - 1)), size) &&
            size >= 0)
            result.Size = size;
    }
    return result;
}
