// The access layer's vocabulary: the data-type table and its lookups, the
// parameter helpers, the schema-information kinds with their fixed result
// columns, the statement builders and the unique table names of rebuilds.
//
// Nothing here talks to an engine: the builders compose the layer's own SQL
// dialect ("[T].[C]" columns, "?" parameters) and hand it to IUdb.
// Table and column names come from database content, so every name is
// checked before it is put between brackets.
#include "UdbProject/Udbs.h"

#include <algorithm>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

const std::array<TUdbDataTypeInfo, 12> UdbDataTypes{{
    {udtBoolean, "Логический", "Boolean"},
    {udtInteger, "Целое число", "Integer"},
    {udtFloat, "Вещественное число", "Float"},
    {udtCurrency, "Денежная единица", "Currency"},
    {udtDateTime, "Дата и время", "DateTime"},
    {udtDate, "Дата", "Date"},
    {udtTime, "Время", "Time"},
    {udtString, "Строка", "String"},
    {udtMemo, "Текст", "Memo"},
    {udtBinary, "Двоичные данные", "Binary"},
    {udtPicture, "Рисунок", "Picture"},
    {udtDocument, "Документ", "Document"},
}};

namespace {

// MaxLen of table names when the driver reports none.
constexpr std::int32_t DefaultMaxTableNameLen = 24;
// Candidates MakeUniqueTableName tries before it gives up.
constexpr std::uint32_t MaxUniqueNameTries = 4096;

} // namespace

// ---- data types -----------------------------------------------------------------

bool IsBaseTypeIn(TUdbDataType code, const TUdbDataTypeArray& codes) noexcept
{
    return std::any_of(codes.begin(), codes.end(),
                       [code](TUdbDataType c) { return BaseDataType(c) == BaseDataType(code); });
}

int DataTypeIndex(TUdbDataType code)
{
    for (std::size_t i = 0; i < UdbDataTypes.size(); ++i)
        if (UdbDataTypes[i].DataType == code) return static_cast<int>(i);
    throw rtl::Exception(UdbMsg::BadDataType);
}

int DataTypeIndexByName(std::string_view name)
{
    for (std::size_t i = 0; i < UdbDataTypes.size(); ++i)
        if (name == UdbDataTypes[i].Name) return static_cast<int>(i);
    throw rtl::Exception(UdbMsg::BadDataTypeName);
}

std::string DataTypeCaption(TUdbDataType code) { return UdbDataTypes[DataTypeIndex(code)].Caption; }

std::string DataTypeName(TUdbDataType code) { return UdbDataTypes[DataTypeIndex(code)].Name; }

TUdbDataType DataTypeByName(std::string_view name) { return UdbDataTypes[DataTypeIndexByName(name)].DataType; }

// ---- records --------------------------------------------------------------------

TUdbParam UdbStrParam(const std::string& name) { return {name, udtString}; }
TUdbParam UdbIntParam(const std::string& name) { return {name, udtInteger}; }
TUdbParam UdbBlobParam(const std::string& name) { return {name, udtBinary}; }

// ---- schema information ---------------------------------------------------------

namespace {

struct SchemaKindInfo {
    const char* Name;
    std::vector<TUdbFieldDef> Columns;
};

const std::array<SchemaKindInfo, 4>& SchemaKinds()
{
    static const std::array<SchemaKindInfo, 4> kinds{{
        {"Relations",
         {{"NAME", udtString, -1, true}, {"SYSTEM", udtBoolean, -1, false}, {"OBJTYPE", udtInteger, -1, false}}},
        {"LiteralInfo",
         {{"LITERALTYPE", udtInteger, -1, true},
          {"MAXNAMELEN", udtInteger, -1, false},
          {"CASESENSITIVE", udtBoolean, -1, false},
          {"CORRECTCHARS", udtString, -1, false},
          {"CORRECTSTARTCHARS", udtString, -1, false},
          {"INVALIDCHARS", udtString, -1, false},
          {"INVALIDSTARTINGCHARS", udtString, -1, false}}},
        {"ReservedWords", {{"RESERVEDWORD", udtString, -1, true}}},
        {"DataTypesInfo",
         {{"UDBTYPE", udtInteger, -1, true},
          {"TYPENAME", udtString, -1, true},
          {"SIZE", udtInteger, -1, false},
          {"MINSCALE", udtInteger, -1, false},
          {"MAXSCALE", udtInteger, -1, false}}},
    }};
    return kinds;
}

} // namespace

// An unknown kind has no name and no columns (drivers answer it with no cursor).
const char* SchemaKindName(TUdbSchemaKind kind)
{
    return kind < SchemaKinds().size() ? SchemaKinds()[kind].Name : "";
}

const std::vector<TUdbFieldDef>& SchemaKindColumns(TUdbSchemaKind kind)
{
    static const std::vector<TUdbFieldDef> none;
    return kind < SchemaKinds().size() ? SchemaKinds()[kind].Columns : none;
}

// ---- statement text ---------------------------------------------------------------

void CheckSqlName(std::string_view name)
{
    const bool bad = std::any_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 32 || c == '[' || c == ']' || c == '\'' || c == '"';
    });
    if (bad) throw EUdbException(rtl::Format(UdbMsg::BadSqlName, std::string(name).c_str()));
}

namespace {

// "[T].[C]"
std::string Column(const std::string& table, const std::string& column)
{
    CheckSqlName(column);
    return "[" + table + "].[" + column + "]";
}

// The key part: empty, or "WHERE ([T].[K]=?) AND ...".
std::string KeyPart(const std::string& table, const std::vector<TUdbParam>& keys)
{
    std::string text;
    for (const TUdbParam& key : keys) {
        text += text.empty() ? "WHERE " : " AND ";
        text += "(" + Column(table, key.Name) + "=?)";
    }
    return text;
}

TUdbDataTypeArray ParamTypes(const std::vector<TUdbParam>& params)
{
    TUdbDataTypeArray types;
    types.reserve(params.size());
    for (const TUdbParam& p : params) types.push_back(p.DataType);
    return types;
}

} // namespace

std::string InsertText(const std::string& table, const std::vector<TUdbParam>& fields)
{
    CheckSqlName(table);
    std::string columns;
    std::string markers;
    for (const TUdbParam& field : fields) {
        if (!columns.empty()) {
            columns += ",";
            markers += ",";
        }
        columns += Column(table, field.Name);
        markers += "?";
    }
    return "INSERT INTO [" + table + "] (" + columns + ") VALUES(" + markers + ")";
}

std::string UpdateText(const std::string& table, const std::vector<TUdbParam>& setFields,
                       const std::vector<TUdbParam>& keys)
{
    CheckSqlName(table);
    std::string setPart;
    for (const TUdbParam& field : setFields) {
        if (!setPart.empty()) setPart += ",";
        setPart += Column(table, field.Name) + "=?";
    }
    return "UPDATE [" + table + "] SET " + setPart + " " + KeyPart(table, keys);
}

std::string DeleteText(const std::string& table, const std::vector<TUdbParam>& keys)
{
    CheckSqlName(table);
    return "DELETE FROM [" + table + "] " + KeyPart(table, keys);
}

std::string SelectText(const std::string& table, const std::vector<std::string>& fields,
                       const std::vector<TUdbParam>& keys)
{
    CheckSqlName(table);
    std::string columns;
    for (const std::string& field : fields) {
        if (!columns.empty()) columns += ",";
        columns += Column(table, field);
    }
    if (columns.empty()) columns = "*";
    return "SELECT " + columns + " FROM [" + table + "] " + KeyPart(table, keys);
}

// ---- statement builders -----------------------------------------------------------

rtl::RefPtr<IUdbSQLCommand> PrepareSQL(IUdb& db, const std::string& sql, const TUdbDataTypeArray& paramTypes,
                                       bool prepared)
{
    return db.CreateCommand(sql, paramTypes.empty() ? nullptr : paramTypes.data(),
                            static_cast<std::int32_t>(paramTypes.size()), prepared);
}

rtl::RefPtr<IUdbSQLCommand> PrepareInsert(IUdb& db, const std::string& table, const std::vector<TUdbParam>& fields,
                                          bool prepared)
{
    return PrepareSQL(db, InsertText(table, fields), ParamTypes(fields), prepared);
}

rtl::RefPtr<IUdbSQLCommand> PrepareUpdate(IUdb& db, const std::string& table, const std::vector<TUdbParam>& setFields,
                                          const std::vector<TUdbParam>& keys, bool prepared)
{
    TUdbDataTypeArray types = ParamTypes(setFields);
    const TUdbDataTypeArray keyTypes = ParamTypes(keys);
    types.insert(types.end(), keyTypes.begin(), keyTypes.end());
    return PrepareSQL(db, UpdateText(table, setFields, keys), types, prepared);
}

rtl::RefPtr<IUdbSQLCommand> PrepareDelete(IUdb& db, const std::string& table, const std::vector<TUdbParam>& keys,
                                          bool prepared)
{
    return PrepareSQL(db, DeleteText(table, keys), ParamTypes(keys), prepared);
}

rtl::RefPtr<IUdbSQLCommand> PrepareSelect(IUdb& db, const std::string& table, const std::vector<std::string>& fields,
                                          const std::vector<TUdbParam>& keys, bool prepared)
{
    return PrepareSQL(db, SelectText(table, fields, keys), ParamTypes(keys), prepared);
}

rtl::RefPtr<IUdbCursor> SelectAll(IUdb& db, const std::string& table)
{
    const rtl::RefPtr<IUdbSQLCommand> command = PrepareSelect(db, table, {}, {}, false);
    RTL_ASSERT(command, UdbMsg::ObjectNotInitialized);
    return command->Execute(nullptr, 0);
}

// ---- unique table names -----------------------------------------------------------

namespace {

// MAXNAMELEN of the table-name row of "LiteralInfo"; 24 without such a row.
std::int32_t MaxTableNameLen(IUdb& db)
{
    const rtl::RefPtr<IUdbCursor> info = db.GetSchemaInfo(uskLiteralInfo);
    if (!info) return DefaultMaxTableNameLen;
    const rtl::Variant literalType("LITERALTYPE");
    for (; !info->Eof(); info->Next())
        if (info->AsInteger(literalType, -1) == 0)
            return info->AsInteger(rtl::Variant("MAXNAMELEN"), DefaultMaxTableNameLen);
    return DefaultMaxTableNameLen;
}

} // namespace

// Lengths count characters. A candidate that is too long keeps the base's
// length, its last characters replaced by the suffix. Where that cannot fit
// (a base longer than the limit, or shorter than the suffix) as much of the
// base is kept as fits; a suffix longer than the limit loses characters of
// its separator, never of its number. A limit of 0 or less means none.
std::string MakeUniqueTableName(IUdb& db, const std::string& baseName, const std::string& separator)
{
    const std::int32_t reported = MaxTableNameLen(db);
    const std::size_t maxLen = reported > 0 ? static_cast<std::size_t>(reported) : SIZE_MAX;
    const std::u32string base = rtl::Utf8ToUtf32(baseName);
    const std::u32string sep = rtl::Utf8ToUtf32(separator);

    for (std::uint32_t n = 0; n < MaxUniqueNameTries; ++n) {
        const std::u32string digits = rtl::Utf8ToUtf32(rtl::IntToHex(n, 1));
        if (digits.size() > maxLen) break; // no further number fits
        std::u32string suffix = sep + digits;
        std::u32string candidate;
        if (maxLen == SIZE_MAX || base.size() + suffix.size() <= maxLen) {
            candidate = base + suffix;
        } else if (suffix.size() <= base.size() && base.size() <= maxLen) {
            candidate = base.substr(0, base.size() - suffix.size()) + suffix;
        } else if (suffix.size() <= maxLen) {
            candidate = base.substr(0, maxLen - suffix.size()) + suffix;
        } else {
            candidate = sep.substr(0, maxLen - digits.size()) + digits;
        }
        const std::string name = rtl::Utf32ToUtf8(candidate);
        if (!db.TableExists(name)) return name;
    }
    throw EUdbException(rtl::Format(UdbMsg::NoUniqueTableName, baseName.c_str()));
}
