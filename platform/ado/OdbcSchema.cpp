// OLE DB schema rowsets from the ODBC catalog functions.
#include "platform/ado/OdbcSchema.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/rtl/TextUtils.h"

namespace ado::odbc {

namespace {

using TRow = std::vector<rtl::Variant>;
using TRows = std::vector<TRow>;
using TOptText = std::optional<std::string>;

// ---- rowset columns -------------------------------------------------------------------

// The kinds of value a schema column holds, with the ADO type its field reports.
enum class TKind { Text, UI2, I2, UI4, I4, UI8, Bool, Guid, Date };

struct TColumnSpec {
    const char* Name;
    TKind Kind;
};

std::int32_t AdoTypeOf(TKind kind) noexcept
{
    switch (kind) {
    case TKind::Text: return adVarWChar;
    case TKind::UI2: return adUnsignedSmallInt;
    case TKind::I2: return adSmallInt;
    case TKind::UI4: return adUnsignedInt;
    case TKind::I4: return adInteger;
    case TKind::UI8: return adUnsignedBigInt;
    case TKind::Bool: return adBoolean;
    case TKind::Guid: return adGUID;
    case TKind::Date: return adDate;
    }
    return adVariant;
}

rtl::RefPtr<TMemRecordset> NewRowset(const std::vector<TColumnSpec>& specs)
{
    std::vector<TColumnInfo> columns;
    for (const TColumnSpec& spec : specs) {
        TColumnInfo info;
        info.Name = spec.Name;
        info.Type = AdoTypeOf(spec.Kind);
        info.Attributes = adFldIsNullable | adFldMayBeNull;
        info.Precision = 255;
        info.NumericScale = 255;
        columns.push_back(std::move(info));
    }
    return rtl::MakeRef<TMemRecordset>(std::move(columns));
}

const std::vector<TColumnSpec> kTablesColumns = {
    {"TABLE_CATALOG", TKind::Text}, {"TABLE_SCHEMA", TKind::Text}, {"TABLE_NAME", TKind::Text},
    {"TABLE_TYPE", TKind::Text},    {"TABLE_GUID", TKind::Guid},   {"DESCRIPTION", TKind::Text},
    {"TABLE_PROPID", TKind::UI4},   {"DATE_CREATED", TKind::Date}, {"DATE_MODIFIED", TKind::Date},
};

const std::vector<TColumnSpec> kColumnsColumns = {
    {"TABLE_CATALOG", TKind::Text},
    {"TABLE_SCHEMA", TKind::Text},
    {"TABLE_NAME", TKind::Text},
    {"COLUMN_NAME", TKind::Text},
    {"COLUMN_GUID", TKind::Guid},
    {"COLUMN_PROPID", TKind::UI4},
    {"ORDINAL_POSITION", TKind::UI4},
    {"COLUMN_HASDEFAULT", TKind::Bool},
    {"COLUMN_DEFAULT", TKind::Text},
    {"COLUMN_FLAGS", TKind::UI4},
    {"IS_NULLABLE", TKind::Bool},
    {"DATA_TYPE", TKind::UI2},
    {"TYPE_GUID", TKind::Guid},
    {"CHARACTER_MAXIMUM_LENGTH", TKind::UI4},
    {"CHARACTER_OCTET_LENGTH", TKind::UI4},
    {"NUMERIC_PRECISION", TKind::UI2},
    {"NUMERIC_SCALE", TKind::I2},
    {"DATETIME_PRECISION", TKind::UI4},
    {"CHARACTER_SET_CATALOG", TKind::Text},
    {"CHARACTER_SET_SCHEMA", TKind::Text},
    {"CHARACTER_SET_NAME", TKind::Text},
    {"COLLATION_CATALOG", TKind::Text},
    {"COLLATION_SCHEMA", TKind::Text},
    {"COLLATION_NAME", TKind::Text},
    {"DOMAIN_CATALOG", TKind::Text},
    {"DOMAIN_SCHEMA", TKind::Text},
    {"DOMAIN_NAME", TKind::Text},
    {"DESCRIPTION", TKind::Text},
};

const std::vector<TColumnSpec> kIndexesColumns = {
    {"TABLE_CATALOG", TKind::Text}, {"TABLE_SCHEMA", TKind::Text},   {"TABLE_NAME", TKind::Text},
    {"INDEX_CATALOG", TKind::Text}, {"INDEX_SCHEMA", TKind::Text},   {"INDEX_NAME", TKind::Text},
    {"PRIMARY_KEY", TKind::Bool},   {"UNIQUE", TKind::Bool},         {"CLUSTERED", TKind::Bool},
    {"TYPE", TKind::UI2},           {"FILL_FACTOR", TKind::I4},      {"INITIAL_SIZE", TKind::I4},
    {"NULLS", TKind::I4},           {"SORT_BOOKMARKS", TKind::Bool}, {"AUTO_UPDATE", TKind::Bool},
    {"NULL_COLLATION", TKind::I4},  {"ORDINAL_POSITION", TKind::UI4}, {"COLUMN_NAME", TKind::Text},
    {"COLUMN_GUID", TKind::Guid},   {"COLUMN_PROPID", TKind::UI4},   {"COLLATION", TKind::I2},
    {"CARDINALITY", TKind::UI8},    {"PAGES", TKind::I4},            {"FILTER_CONDITION", TKind::Text},
    {"INTEGRATED", TKind::Bool},
};

const std::vector<TColumnSpec> kPrimaryKeysColumns = {
    {"TABLE_CATALOG", TKind::Text}, {"TABLE_SCHEMA", TKind::Text}, {"TABLE_NAME", TKind::Text},
    {"COLUMN_NAME", TKind::Text},   {"COLUMN_GUID", TKind::Guid},  {"COLUMN_PROPID", TKind::UI4},
    {"ORDINAL", TKind::UI4},        {"PK_NAME", TKind::Text},
};

const std::vector<TColumnSpec> kProviderTypesColumns = {
    {"TYPE_NAME", TKind::Text},         {"DATA_TYPE", TKind::UI2},         {"COLUMN_SIZE", TKind::UI4},
    {"LITERAL_PREFIX", TKind::Text},    {"LITERAL_SUFFIX", TKind::Text},   {"CREATE_PARAMS", TKind::Text},
    {"IS_NULLABLE", TKind::Bool},       {"CASE_SENSITIVE", TKind::Bool},   {"SEARCHABLE", TKind::UI4},
    {"UNSIGNED_ATTRIBUTE", TKind::Bool}, {"FIXED_PREC_SCALE", TKind::Bool}, {"AUTO_UNIQUE_VALUE", TKind::Bool},
    {"LOCAL_TYPE_NAME", TKind::Text},   {"MINIMUM_SCALE", TKind::I2},      {"MAXIMUM_SCALE", TKind::I2},
    {"GUID", TKind::Guid},              {"TYPELIB", TKind::Text},          {"VERSION", TKind::Text},
    {"IS_LONG", TKind::Bool},           {"BEST_MATCH", TKind::Bool},       {"IS_FIXEDLENGTH", TKind::Bool},
};

const std::vector<TColumnSpec> kKeywordsColumns = {{"KEYWORD", TKind::Text}};

const std::vector<TColumnSpec> kLiteralsColumns = {
    {"LITERAL_NAME", TKind::Text}, {"LITERAL_VALUE", TKind::Text}, {"INVALIDCHARS", TKind::Text},
    {"INVALIDSTARTINGCHARS", TKind::Text}, {"LITERAL", TKind::I4}, {"SUPPORTED", TKind::Bool},
    {"MAXLEN", TKind::UI4},
};

const std::vector<TColumnSpec> kCatalogsColumns = {{"CATALOG_NAME", TKind::Text}, {"DESCRIPTION", TKind::Text}};

// ---- values ---------------------------------------------------------------------------

const rtl::Variant& Raw(const TRow& row, std::size_t position)
{
    static const rtl::Variant null = rtl::Variant::Null();
    return position < row.size() ? row[position] : null;
}

std::optional<std::int64_t> IntOf(const rtl::Variant& v)
{
    if (v.IsClear()) return std::nullopt;
    return v.AsInt64();
}

TOptText TextOf(const rtl::Variant& v)
{
    if (v.IsClear()) return std::nullopt;
    return v.AsString();
}

rtl::Variant Text(const rtl::Variant& v) { return v.IsClear() ? rtl::Variant::Null() : rtl::Variant::OleStr(v.AsString()); }
rtl::Variant Text(const TOptText& v) { return v ? rtl::Variant::OleStr(*v) : rtl::Variant::Null(); }

rtl::Variant UI2(std::optional<std::int64_t> v)
{
    if (!v || *v < 0 || *v > 0xFFFF) return rtl::Variant::Null();
    return rtl::Variant::Word(static_cast<std::uint16_t>(*v));
}
rtl::Variant I2(std::optional<std::int64_t> v)
{
    if (!v || *v < -32768 || *v > 32767) return rtl::Variant::Null();
    return rtl::Variant::SmallInt(static_cast<std::int16_t>(*v));
}
rtl::Variant UI4(std::optional<std::int64_t> v)
{
    if (!v || *v < 0 || *v > 0xFFFFFFFFLL) return rtl::Variant::Null();
    return rtl::Variant::LongWord(static_cast<std::uint32_t>(*v));
}
// A length or size: 0 or less (no length, or the driver's "no total") is Null.
rtl::Variant Length(std::optional<std::int64_t> v)
{
    if (!v || *v <= 0) return rtl::Variant::Null();
    return UI4(v);
}
rtl::Variant I4(std::optional<std::int64_t> v)
{
    if (!v || *v < std::numeric_limits<std::int32_t>::min() || *v > std::numeric_limits<std::int32_t>::max())
        return rtl::Variant::Null();
    return rtl::Variant(static_cast<std::int32_t>(*v));
}

// ---- catalog calls --------------------------------------------------------------------

// A restriction's text; none for Empty, Null or a position past the list.
TOptText Restriction(const std::vector<rtl::Variant>& restrictions, std::size_t position)
{
    if (position >= restrictions.size() || restrictions[position].IsClear()) return std::nullopt;
    return rtl::VarToStr(restrictions[position]);
}

// An argument of a catalog function: a null pointer when absent.
class TArg {
public:
    explicit TArg(const TOptText& text) : given_(text.has_value())
    {
        if (given_) text_ = ToWide(*text);
    }
    SQLWCHAR* Ptr() { return given_ ? text_.data() : nullptr; }
    SQLSMALLINT Len() const { return given_ ? static_cast<SQLSMALLINT>(text_.size()) : 0; }

private:
    bool given_;
    WString text_;
};

// Every row the catalog call gives, as the driver types its columns.
TRows RunCatalog(TOdbcConnection& connection, const std::function<SQLRETURN(SQLHSTMT)>& call, const char* name)
{
    const std::unique_ptr<TOdbcStatement> statement = connection.NewStatement(connection.CommandTimeout());
    const THandle& stmt = statement->Handle();
    const SQLRETURN rc = call(stmt.Get());
    Check(rc, stmt, name);
    rtl::Variant ignored;
    const rtl::RefPtr<TMemRecordset> result = CollectResult(stmt, rc, ignored);
    TRows rows;
    if (result->State() != adStateOpen) return rows;
    ado::Fields& fields = result->Fields();
    for (; !result->Eof(); result->MoveNext()) {
        TRow row;
        for (std::int32_t i = 0; i < fields.Count(); ++i) row.push_back(fields.Item(i).Value());
        rows.push_back(std::move(row));
    }
    return rows;
}

TOptText Pattern(TOdbcConnection& connection, const TOptText& exact)
{
    if (!exact) return std::nullopt;
    return EscapePattern(*exact, connection.SearchPatternEscape());
}

// With no escape the driver may match more than the exact name.
bool MatchesExact(TOdbcConnection& connection, const TOptText& exact, const rtl::Variant& value)
{
    if (!exact || !connection.SearchPatternEscape().empty()) return true;
    return rtl::VarToStr(value) == *exact;
}

TRows Tables(TOdbcConnection& connection, const TOptText& catalog, const TOptText& schema, const TOptText& table,
             const TOptText& type)
{
    TArg c(catalog), s(Pattern(connection, schema)), t(Pattern(connection, table)), ty(type);
    TRows rows = RunCatalog(connection, [&](SQLHSTMT h) {
        return SQLTablesW(h, c.Ptr(), c.Len(), s.Ptr(), s.Len(), t.Ptr(), t.Len(), ty.Ptr(), ty.Len());
    }, "SQLTablesW");
    std::erase_if(rows, [&](const TRow& r) {
        return !MatchesExact(connection, schema, Raw(r, 1)) || !MatchesExact(connection, table, Raw(r, 2));
    });
    return rows;
}

// The tables a statistics or primary-key query covers: the one named, or every table.
struct TTableRef {
    TOptText Catalog;
    TOptText Schema;
    std::string Name;
};

std::vector<TTableRef> CoveredTables(TOdbcConnection& connection, const TOptText& catalog, const TOptText& schema,
                                     const TOptText& table)
{
    if (table) return {{catalog, schema, *table}};
    std::vector<TTableRef> refs;
    for (const TRow& r : Tables(connection, catalog, schema, std::nullopt, std::string("TABLE")))
        if (const TOptText name = TextOf(Raw(r, 2))) refs.push_back({TextOf(Raw(r, 0)), TextOf(Raw(r, 1)), *name});
    return refs;
}

TRows PrimaryKeyRows(TOdbcConnection& connection, const TTableRef& ref)
{
    TArg c(ref.Catalog), s(ref.Schema), t(TOptText(ref.Name));
    return RunCatalog(connection, [&](SQLHSTMT h) {
        return SQLPrimaryKeysW(h, c.Ptr(), c.Len(), s.Ptr(), s.Len(), t.Ptr(), t.Len());
    }, "SQLPrimaryKeysW");
}

// ---- the rowsets ----------------------------------------------------------------------

rtl::RefPtr<Recordset> TablesRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kTablesColumns);
    const rtl::Variant null = rtl::Variant::Null();
    for (const TRow& row : Tables(connection, Restriction(r, 0), Restriction(r, 1), Restriction(r, 2), Restriction(r, 3)))
        rowset->AddRow({Text(Raw(row, 0)), Text(Raw(row, 1)), Text(Raw(row, 2)), Text(Raw(row, 3)), null,
                        Text(Raw(row, 4)), null, null, null});
    return rowset;
}

rtl::RefPtr<Recordset> ColumnsRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    const TOptText schema = Restriction(r, 1), table = Restriction(r, 2), column = Restriction(r, 3);
    TArg c(Restriction(r, 0)), s(Pattern(connection, schema)), t(Pattern(connection, table)),
        col(Pattern(connection, column));
    const TRows rows = RunCatalog(connection, [&](SQLHSTMT h) {
        return SQLColumnsW(h, c.Ptr(), c.Len(), s.Ptr(), s.Len(), t.Ptr(), t.Len(), col.Ptr(), col.Len());
    }, "SQLColumnsW");

    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kColumnsColumns);
    const rtl::Variant null = rtl::Variant::Null();
    for (const TRow& row : rows) {
        if (!MatchesExact(connection, schema, Raw(row, 1)) || !MatchesExact(connection, table, Raw(row, 2)) ||
            !MatchesExact(connection, column, Raw(row, 3)))
            continue;
        const auto sqlType = static_cast<SQLSMALLINT>(IntOf(Raw(row, 4)).value_or(0));
        const TOleDbType ole = SqlTypeToOleDb(sqlType);
        const std::optional<std::int64_t> size = IntOf(Raw(row, 6));
        const std::optional<std::int64_t> digits = IntOf(Raw(row, 8));
        const std::optional<std::int64_t> nullable = IntOf(Raw(row, 10));
        const bool isNullable = nullable.value_or(SQL_NULLABLE_UNKNOWN) != SQL_NO_NULLS;
        std::int32_t flags = 0;
        if (ole.IsLong) flags |= DBCOLUMNFLAGS_ISLONG;
        if (ole.IsFixedLength) flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
        if (isNullable) flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
        const bool sized = IsCharacterType(sqlType) || IsBinaryType(sqlType);
        rtl::Variant precision = null;
        if (sqlType == SQL_REAL) precision = UI2(7);
        else if (sqlType == SQL_FLOAT || sqlType == SQL_DOUBLE) precision = UI2(15);
        else if (IsNumericType(sqlType)) precision = UI2(size);
        const bool exact = sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC;
        rowset->AddRow({Text(Raw(row, 0)), Text(Raw(row, 1)), Text(Raw(row, 2)), Text(Raw(row, 3)), null, null,
                        UI4(IntOf(Raw(row, 16))), rtl::Variant(!Raw(row, 12).IsClear()), Text(Raw(row, 12)),
                        UI4(flags), rtl::Variant(isNullable), UI2(ole.Type), null,
                        sized ? Length(size) : null, sized ? Length(IntOf(Raw(row, 15))) : null, precision,
                        exact ? I2(digits) : null, IsDateTimeType(sqlType) ? UI4(digits) : null, null, null, null,
                        null, null, null, null, null, null, Text(Raw(row, 11))});
    }
    return rowset;
}

rtl::RefPtr<Recordset> IndexesRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    const TOptText indexName = Restriction(r, 2);
    const std::optional<std::int64_t> typeRestriction = r.size() > 3 ? IntOf(r[3]) : std::nullopt;
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kIndexesColumns);
    const rtl::Variant null = rtl::Variant::Null();

    for (const TTableRef& ref : CoveredTables(connection, Restriction(r, 0), Restriction(r, 1), Restriction(r, 4))) {
        TArg c(ref.Catalog), s(ref.Schema), t(TOptText(ref.Name));
        TRows stats = RunCatalog(connection, [&](SQLHSTMT h) {
            return SQLStatisticsW(h, c.Ptr(), c.Len(), s.Ptr(), s.Len(), t.Ptr(), t.Len(), SQL_INDEX_ALL, SQL_QUICK);
        }, "SQLStatisticsW");
        std::erase_if(stats, [](const TRow& row) { return IntOf(Raw(row, 6)).value_or(0) == SQL_TABLE_STAT; });
        if (stats.empty()) continue;

        // The primary key: its name, or its columns where the driver names none.
        TOptText keyName;
        std::set<std::string> keyColumns;
        for (const TRow& row : PrimaryKeyRows(connection, ref)) {
            if (!keyName) keyName = TextOf(Raw(row, 5));
            if (const TOptText column = TextOf(Raw(row, 3))) keyColumns.insert(*column);
        }
        std::vector<std::pair<std::string, std::set<std::string>>> indexColumns; // in order of appearance
        for (const TRow& row : stats) {
            const std::string name = TextOf(Raw(row, 5)).value_or(std::string());
            auto it = std::find_if(indexColumns.begin(), indexColumns.end(),
                                   [&](const auto& e) { return e.first == name; });
            if (it == indexColumns.end()) {
                indexColumns.push_back({name, {}});
                it = indexColumns.end() - 1;
            }
            if (const TOptText column = TextOf(Raw(row, 8))) it->second.insert(*column);
        }
        const auto isPrimary = [&](const std::string& name) {
            if (keyName && !keyName->empty()) return name == *keyName;
            if (keyColumns.empty()) return false;
            const auto it = std::find_if(indexColumns.begin(), indexColumns.end(),
                                         [&](const auto& e) { return e.first == name; });
            return it != indexColumns.end() && it->second == keyColumns;
        };

        for (const TRow& row : stats) {
            const TOptText name = TextOf(Raw(row, 5));
            if (indexName && name != indexName) continue;
            const std::optional<std::int64_t> odbcType = IntOf(Raw(row, 6));
            std::optional<std::int64_t> type;
            if (odbcType == SQL_INDEX_CLUSTERED) type = DBPROPVAL_IT_BTREE;
            else if (odbcType == SQL_INDEX_HASHED) type = DBPROPVAL_IT_HASH;
            else if (odbcType) type = DBPROPVAL_IT_OTHER;
            if (typeRestriction && type != typeRestriction) continue;
            const std::optional<std::int64_t> nonUnique = IntOf(Raw(row, 3));
            const TOptText order = TextOf(Raw(row, 9));
            rtl::Variant collation = null;
            if (order == "A") collation = I2(1);
            else if (order == "D") collation = I2(2);
            const std::optional<std::int64_t> cardinality = IntOf(Raw(row, 10));
            rowset->AddRow({Text(Raw(row, 0)), Text(Raw(row, 1)), Text(Raw(row, 2)), null, Text(Raw(row, 4)),
                            Text(name), rtl::Variant(isPrimary(name.value_or(std::string()))),
                            nonUnique ? rtl::Variant(*nonUnique == SQL_FALSE) : null,
                            odbcType ? rtl::Variant(*odbcType == SQL_INDEX_CLUSTERED) : null, UI2(type), null, null,
                            null, null, null, null, UI4(IntOf(Raw(row, 7))), Text(Raw(row, 8)), null, null, collation,
                            cardinality && *cardinality >= 0 ? rtl::Variant(*cardinality) : null,
                            I4(IntOf(Raw(row, 11))), Text(Raw(row, 12)), null});
        }
    }
    return rowset;
}

rtl::RefPtr<Recordset> PrimaryKeysRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kPrimaryKeysColumns);
    const rtl::Variant null = rtl::Variant::Null();
    for (const TTableRef& ref : CoveredTables(connection, Restriction(r, 0), Restriction(r, 1), Restriction(r, 2)))
        for (const TRow& row : PrimaryKeyRows(connection, ref))
            rowset->AddRow({Text(Raw(row, 0)), Text(Raw(row, 1)), Text(Raw(row, 2)), Text(Raw(row, 3)), null, null,
                            UI4(IntOf(Raw(row, 4))), Text(Raw(row, 5))});
    return rowset;
}

// OLE DB's searchability of an ODBC SEARCHABLE value.
rtl::Variant Searchable(std::optional<std::int64_t> v)
{
    if (!v) return rtl::Variant::Null();
    switch (*v) {
    case SQL_PRED_NONE: return UI4(1);  // DB_UNSEARCHABLE
    case SQL_PRED_CHAR: return UI4(2);  // DB_LIKE_ONLY
    case SQL_PRED_BASIC: return UI4(3); // DB_ALL_EXCEPT_LIKE
    default: return UI4(4);             // DB_SEARCHABLE
    }
}

rtl::Variant FlagOf(const rtl::Variant& v)
{
    const std::optional<std::int64_t> n = IntOf(v);
    return n ? rtl::Variant(*n != 0) : rtl::Variant::Null();
}

rtl::RefPtr<Recordset> ProviderTypesRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    const TRows rows = RunCatalog(connection, [](SQLHSTMT h) { return SQLGetTypeInfoW(h, SQL_ALL_TYPES); },
                                  "SQLGetTypeInfoW");
    const std::optional<std::int64_t> typeRestriction = r.size() > 0 ? IntOf(r[0]) : std::nullopt;
    const bool bestRestricted = r.size() > 1 && !r[1].IsClear();
    const bool bestWanted = bestRestricted && r[1].AsBoolean();
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kProviderTypesColumns);
    const rtl::Variant null = rtl::Variant::Null();
    std::set<std::int32_t> seen; // the driver lists the best match of a type first
    for (const TRow& row : rows) {
        const auto sqlType = static_cast<SQLSMALLINT>(IntOf(Raw(row, 1)).value_or(0));
        const TOleDbType ole = SqlTypeToOleDb(sqlType);
        const bool best = seen.insert(ole.Type).second;
        if (typeRestriction && *typeRestriction != ole.Type) continue;
        if (bestRestricted && bestWanted != best) continue;
        const std::optional<std::int64_t> nullable = IntOf(Raw(row, 6));
        rowset->AddRow({Text(Raw(row, 0)), UI2(ole.Type), Length(IntOf(Raw(row, 2))), Text(Raw(row, 3)),
                        Text(Raw(row, 4)), Text(Raw(row, 5)),
                        nullable && *nullable != SQL_NULLABLE_UNKNOWN ? rtl::Variant(*nullable == SQL_NULLABLE) : null,
                        FlagOf(Raw(row, 7)), Searchable(IntOf(Raw(row, 8))), FlagOf(Raw(row, 9)),
                        FlagOf(Raw(row, 10)), FlagOf(Raw(row, 11)), Text(Raw(row, 12)), I2(IntOf(Raw(row, 13))),
                        I2(IntOf(Raw(row, 14))), null, null, null, rtl::Variant(ole.IsLong), rtl::Variant(best),
                        rtl::Variant(ole.IsFixedLength)});
    }
    return rowset;
}

rtl::RefPtr<Recordset> KeywordsRowset(TOdbcConnection& connection)
{
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kKeywordsColumns);
    const std::string list = InfoText(connection.Dbc(), SQL_KEYWORDS);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string word = rtl::Trim(std::string_view(list).substr(start, comma - start));
        if (!word.empty()) rowset->AddRow({rtl::Variant::OleStr(word)});
        start = comma + 1;
    }
    return rowset;
}

rtl::RefPtr<Recordset> LiteralsRowset(TOdbcConnection& connection)
{
    struct TLiteral {
        const char* Name;
        std::int32_t Literal;
        SQLUSMALLINT Info;
    };
    static const TLiteral kLiterals[] = {
        {"DBLITERAL_COLUMN_NAME", DBLITERAL_COLUMN_NAME, SQL_MAX_COLUMN_NAME_LEN},
        {"DBLITERAL_INDEX_NAME", DBLITERAL_INDEX_NAME, SQL_MAX_IDENTIFIER_LEN},
        {"DBLITERAL_TABLE_NAME", DBLITERAL_TABLE_NAME, SQL_MAX_TABLE_NAME_LEN},
    };
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kLiteralsColumns);
    const rtl::Variant null = rtl::Variant::Null();
    for (const TLiteral& l : kLiterals)
        rowset->AddRow({rtl::Variant::OleStr(l.Name), null, null, null, rtl::Variant(l.Literal), rtl::Variant(true),
                        Length(InfoSmall(connection.Dbc(), l.Info))});
    return rowset;
}

rtl::RefPtr<Recordset> CatalogsRowset(TOdbcConnection& connection, const std::vector<rtl::Variant>& r)
{
    const TOptText wanted = Restriction(r, 0);
    const TRows rows = RunCatalog(connection, [](SQLHSTMT h) {
        SQLWCHAR all[] = {'%', 0};
        SQLWCHAR empty[] = {0};
        return SQLTablesW(h, all, SQL_NTS, empty, 0, empty, 0, nullptr, 0);
    }, "SQLTablesW");
    rtl::RefPtr<TMemRecordset> rowset = NewRowset(kCatalogsColumns);
    std::set<std::string> seen;
    for (const TRow& row : rows) {
        const TOptText name = TextOf(Raw(row, 0));
        if (!name || name->empty() || (wanted && name != wanted) || !seen.insert(*name).second) continue;
        rowset->AddRow({rtl::Variant::OleStr(*name), rtl::Variant::Null()});
    }
    return rowset;
}

} // namespace

std::string EscapePattern(std::string_view name, std::string_view escape)
{
    if (escape.empty()) return std::string(name);
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '_' || name[i] == '%' || name.substr(i).starts_with(escape)) out += escape;
        out += name[i];
    }
    return out;
}

rtl::RefPtr<Recordset> OpenSchemaRowset(TOdbcConnection& connection, std::int32_t schema,
                                        const std::vector<rtl::Variant>& restrictions)
{
    switch (schema) {
    case adSchemaTables: return TablesRowset(connection, restrictions);
    case adSchemaColumns: return ColumnsRowset(connection, restrictions);
    case adSchemaIndexes: return IndexesRowset(connection, restrictions);
    case adSchemaPrimaryKeys: return PrimaryKeysRowset(connection, restrictions);
    case adSchemaProviderTypes: return ProviderTypesRowset(connection, restrictions);
    case adSchemaDBInfoKeywords: return KeywordsRowset(connection);
    case adSchemaDBInfoLiterals: return LiteralsRowset(connection);
    case adSchemaCatalogs: return CatalogsRowset(connection, restrictions);
    default: throw EAdoError(SNotCapable);
    }
}

} // namespace ado::odbc
