// The Oracle dialect of the ADO driver base.
#include "UdbProject/UdbOracle/OracleUdbs.h"

#include <algorithm>
#include <utility>

#include "UdbProject/UdbStdImpl.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr const char* kProvider = "OraOLEDB.Oracle";
constexpr const char* kSchemaQuery = "SELECT USER FROM DUAL";
constexpr const char* kSaveSeparator = "_SAVE";
constexpr const char* kIndexInfix = "_IND";

constexpr const char* kIndexOutOfBound = "Index out of bound";

// Every field change rebuilds the table (and the bit 0x0001, which no diff sets).
constexpr TTableModifications kRebuildChanges = 0x0001 | tmFieldAdded | tmFieldDeleted | tmFieldRenamed |
                                                tmFieldType | tmFieldSize | tmFieldRequired | tmFieldMoved;
// An index whose definition changed is dropped and created again.
constexpr TTableModifications kIndexRedefined = tmIndexFields | tmIndexPrimary | tmIndexUnique;

// Connection parameters and the provider properties they fill.
constexpr const char* kServiceNameParam = "service-name";
constexpr const char* kLoginNameParam = "login-name";
constexpr const char* kLoginPasswordParam = "login-password";

// Columns of the primary-keys rowset.
constexpr const char* kColumnName = "COLUMN_NAME";
constexpr const char* kOrdinal = "ORDINAL";

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

bool SameFieldSet(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::string> x = a;
    std::vector<std::string> y = b;
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    x.erase(std::unique(x.begin(), x.end()), x.end());
    y.erase(std::unique(y.begin(), y.end()), y.end());
    return x == y;
}

} // namespace

// ---- TOracleDb -----------------------------------------------------------------------------

std::string TOracleDb::DataTypeToSQL(TUdbDataType dataType)
{
    switch (BaseDataType(dataType)) {
    case udtBoolean: return "NUMBER(1,0)";
    case udtInteger: return "NUMBER(10,0)";
    case udtFloat: return "NUMBER";
    case udtCurrency: return "NUMBER(20,4)";
    case udtDateTime: return "DATE";
    case udtString: return "VARCHAR2";
    case udtMemo: return "CLOB";
    case udtBinary: return "BLOB";
    default: return std::string();
    }
}

TUdbDataType TOracleDb::AdoTypeToDataType(const std::string& /*typeName*/, std::int32_t adoType, bool isLong,
                                          std::int32_t precision, std::int32_t scale)
{
    const bool numeric = adoType == ado::adDecimal || adoType == ado::adNumeric || adoType == ado::adVarNumeric;
    if (numeric && precision == 1 && scale == 0) return udtBoolean;
    return DefaultAdoTypeToDataType(adoType, isLong, precision, scale);
}

rtl::Variant TOracleDb::GetSchemaName() { return CachedSchemaName(kSchemaQuery); }

rtl::RefPtr<TUdbTableDef> TOracleDb::CreateTableDef()
{
    return rtl::RefPtr<TUdbTableDef>(new TOracleDbTableDef(this, OracleMaxIndexNameLength));
}

rtl::RefPtr<TUdbSQLCommand> TOracleDb::CreateSQLCommand()
{
    return rtl::RefPtr<TUdbSQLCommand>(new TOracleSQLCommand(this));
}

void TOracleDb::DoOpen()
{
    TAdoDb::DoOpen();
    ado::Connection& connection = Connection();
    connection.SetProvider(kProvider);
    ado::Properties& properties = connection.Properties();
    const auto text = [&](const char* param) { return rtl::Variant(Params().GetStr(rtl::Variant(param), "")); };
    properties.Item("Data Source").SetValue(text(kServiceNameParam));
    properties.Item("User ID").SetValue(text(kLoginNameParam));
    properties.Item("Password").SetValue(text(kLoginPasswordParam));
    properties.Item("Persist Security Info").SetValue(rtl::Variant(true));
    connection.Open("", "", "", ado::adConnectUnspecified);
}

rtl::RefPtr<IUdbCursor> TOracleDb::CreateSchemaCursor(TUdbSchemaKind kind)
{
    if (kind != uskDataTypesInfo) return TAdoDb::CreateSchemaCursor(kind);
    const rtl::RefPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, SchemaKindColumns(uskDataTypesInfo), 8));
    const rtl::Variant null = rtl::Variant::Null();
    const auto orNull = [&](const rtl::Variant& v) { return v.IsEmpty() ? null : v; };
    for (const TUdbDataType code :
         {udtBoolean, udtInteger, udtFloat, udtCurrency, udtDateTime, udtString, udtMemo, udtBinary}) {
        const std::string name = DataTypeToSQL(code);
        rtl::Variant size = null, minScale = null, maxScale = null;
        if (code == udtString || code == udtMemo || code == udtBinary) {
            std::int32_t adoType = 0;
            rtl::Variant isLong;
            (void)FindProviderType(*this, name, adoType, size, minScale, maxScale, isLong);
            size = orNull(size);
            minScale = orNull(minScale);
            maxScale = orNull(maxScale);
        }
        cursor->AppendRow({rtl::Variant::Word(code), rtl::Variant(name), size, minScale, maxScale});
    }
    return cursor;
}

std::string TOracleDb::QuotedTableName(const std::string& name) { return Quoted(name); }

// ---- TOracleDbTableDef ---------------------------------------------------------------------

TOracleDbTableDef::TOracleDbTableDef(TOracleDb* db, std::int32_t maxNameLength)
    : TAdoTableDef(db, true), MaxNameLength(maxNameLength)
{
}

TOracleDb& TOracleDbTableDef::GetOracleDb() const { return static_cast<TOracleDb&>(*Db()); }

void TOracleDbTableDef::NameIndexes(TTableDef& def)
{
    std::vector<std::string> used;
    for (int i = 0; i < def.Indexes.Count(); ++i) {
        TIndexDef& index = def.Indexes.Get(i);
        if (!index.Primary) index.Name = MakeIndexName(def.Name, &used, true);
    }
}

std::string TOracleDbTableDef::MakeIndexName(const std::string& table, std::vector<std::string>* used, bool addToUsed)
{
    const std::u32string base = rtl::Utf8ToUtf32(table);
    std::string name;
    for (std::uint32_t n = 0;; ++n) {
        const std::u32string suffix = rtl::Utf8ToUtf32(kIndexInfix + rtl::IntToHex(n, 2));
        std::u32string candidate = base;
        if (static_cast<std::int64_t>(base.size() + suffix.size()) > MaxNameLength) {
            const std::int64_t keep = std::max<std::int64_t>(0, MaxNameLength - static_cast<std::int64_t>(suffix.size()));
            candidate = base.substr(0, static_cast<std::size_t>(keep));
        }
        name = rtl::Utf32ToUtf8(candidate + suffix);
        if (!IndexNameExists(name, used, addToUsed)) break;
    }
    if (addToUsed && used) used->push_back(name);
    return name;
}

bool TOracleDbTableDef::IndexNameExists(const std::string& name, std::vector<std::string>* used, bool addToUsed)
{
    if (used && std::any_of(used->begin(), used->end(),
                            [&](const std::string& u) { return rtl::SameTextLatin(u, name); }))
        return true;
    const rtl::RefPtr<ado::Recordset> rs = GetOracleDb().Connection().OpenSchema(
        ado::adSchemaIndexes, {rtl::Variant(), rtl::Variant(), rtl::Variant(name), rtl::Variant(), rtl::Variant()});
    if (rs->Eof()) return false;
    if (addToUsed && used) used->push_back(name);
    return true;
}

void TOracleDbTableDef::RenameTable(const std::string& oldName, const std::string& newName)
{
    Exec("ALTER TABLE " + Quoted(oldName) + " RENAME TO " + Quoted(newName));
}

std::string TOracleDbTableDef::DropIndexSQL(const std::string& /*table*/, const std::string& indexName)
{
    return "DROP INDEX [" + indexName + "]";
}

void TOracleDbTableDef::NameNewIndexes(TTableDef& def)
{
    CheckSqlName(def.Name);
    NameIndexes(def);
}

void TOracleDbTableDef::DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes)
{
    CreateTableFromCopy(name, def, withIndexes);
}

void TOracleDbTableDef::DoReadTableDef(const std::string& name, TTableDef& def)
{
    TAdoTableDef::DoReadTableDef(name, def);
    if (def.Indexes.Count() == 0 || def.Indexes.FindPrimary()) return;

    const rtl::RefPtr<ado::Recordset> rs = GetOracleDb().Connection().OpenSchema(
        ado::adSchemaPrimaryKeys, {rtl::Variant(), GetOracleDb().GetSchemaName(), rtl::Variant(name)});
    std::vector<std::string> names;
    std::vector<std::int32_t> ordinals;
    for (; !rs->Eof(); rs->MoveNext()) {
        names.push_back(VarToWideStringDef(rs->Fields().Item(kColumnName).Value(), std::string()));
        ordinals.push_back(VarToIntegerDef(rs->Fields().Item(kOrdinal).Value(), -1));
    }
    if (names.empty()) return;
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ordinals[a] < ordinals[b]; });
    std::vector<std::string> key;
    for (const std::size_t i : order) key.push_back(names[i]);

    // The index made for the key has exactly its fields; only without one is
    // an index that merely holds them taken.
    int found = -1;
    for (int i = 0; i < def.Indexes.Count() && found < 0; ++i)
        if (SameFieldSet(def.Indexes.Get(i).Fields, key)) found = i;
    if (found < 0) found = def.Indexes.FindForFields(key, true, true);
    if (found >= 0) def.Indexes.Get(found).Primary = true;
}

void TOracleDbTableDef::DoAlterTable(const TTableDef& asRead, const TTableDef& edited)
{
    const TTableModificationInfo mods = CompareTableDefs(edited, asRead, true);
    if (mods.empty()) return;
    // Every name is refused before the first statement runs.
    CheckTableDefNames(asRead);
    CheckTableDefNames(edited);
    TTableDef work;
    work.Assign(edited);
    NameIndexes(work);
    if (HasModification(kRebuildChanges, mods, false)) RebuildTable(asRead, work, mods);
    else AlterInPlace(asRead, work, mods);
}

void TOracleDbTableDef::RebuildTable(const TTableDef& asRead, TTableDef& edited, const TTableModificationInfo& mods)
{
    if (HasModification(tmTableRenamed, mods, false)) {
        CopyIntoNewTable(asRead.Name, asRead, edited);
        return;
    }
    const std::string saved = MakeUniqueTableName(*Db(), asRead.Name, kSaveSeparator);
    RenameTable(asRead.Name, saved);
    try {
        CopyIntoNewTable(saved, asRead, edited);
    } catch (...) {
        // A failure of the way back is the one that passes on.
        RenameTable(saved, asRead.Name);
        throw;
    }
}

void TOracleDbTableDef::CopyIntoNewTable(const std::string& source, const TTableDef& asRead, TTableDef& edited)
{
    CreateNamedTable(edited.Name, edited, true);
    try {
        CopyTableData(source, edited.Name, MakeFieldMap(asRead, edited));
        Db()->DropTable(source);
    } catch (...) {
        Db()->DropTable(edited.Name);
        throw;
    }
}

void TOracleDbTableDef::CopyTableData(const std::string& source, const std::string& dest, const TUdbFieldMap& map)
{
    if (map.empty()) return;
    std::string columns;
    std::string values;
    FieldCopyLists(map, columns, values);
    Exec("INSERT INTO [" + dest + "] (" + columns + ") SELECT " + values + " FROM [" + source + "]");
}

void TOracleDbTableDef::AlterInPlace(const TTableDef& asRead, const TTableDef& edited,
                                     const TTableModificationInfo& mods)
{
    if (!HasModification(tmTableRenamed, mods, false)) {
        ApplyIndexChanges(asRead, edited, mods);
        return;
    }
    RenameTable(asRead.Name, edited.Name);
    try {
        ApplyIndexChanges(asRead, edited, mods);
    } catch (...) {
        RenameTable(edited.Name, asRead.Name);
        throw;
    }
}

void TOracleDbTableDef::ApplyIndexChanges(const TTableDef& asRead, const TTableDef& edited,
                                          const TTableModificationInfo& mods)
{
    // All drops go first: a new primary key, or a new index on the columns of
    // one that goes, is refused while the old one is still there.
    std::vector<const TIndexDef*> drops;
    std::vector<const TIndexDef*> creates;
    for (const TTableModificationItem& item : mods) {
        const int old = asRead.Indexes.IndexOfId(item.Id);
        const int now = edited.Indexes.IndexOfId(item.Id);
        if (item.Flags == tmIndexDeleted) {
            RTL_ASSERT(old >= 0, kIndexOutOfBound);
            drops.push_back(&asRead.Indexes.Get(old));
        } else if ((item.Flags & kIndexRedefined) != 0) {
            RTL_ASSERT(old >= 0, kIndexOutOfBound);
            RTL_ASSERT(now >= 0, kIndexOutOfBound);
            drops.push_back(&asRead.Indexes.Get(old));
            creates.push_back(&edited.Indexes.Get(now));
        } else if (item.Flags == tmIndexAdded) {
            RTL_ASSERT(now >= 0, kIndexOutOfBound);
            creates.push_back(&edited.Indexes.Get(now));
        }
    }
    for (const TIndexDef* index : drops) DropIndex(edited.Name, *index);
    for (const TIndexDef* index : creates) CreateIndexOrKey(edited.Name, *index);
}

// ---- TOracleSQLCommand ---------------------------------------------------------------------

void TOracleSQLCommand::DoPrepare()
{
    TAdoSQLCommand::DoPrepare();
    ado::Command& command = *Command();
    command.SetCommandText(ReplaceCharsOutsideQuotes(SQL(), U"[]", {"\"", "\""}));
    const TUdbDataTypeArray& types = ParamTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        ado::Parameter& parameter = command.Parameters().Item(static_cast<std::int32_t>(i));
        switch (types[i]) {
        case udtBoolean:
            parameter.SetType(ado::adInteger);
            parameter.SetAttributes(parameter.Attributes() | ado::adParamSigned);
            parameter.SetSize(0);
            break;
        case udtCurrency:
            parameter.SetType(ado::adDouble);
            parameter.SetAttributes(parameter.Attributes() | ado::adParamSigned);
            parameter.SetSize(0);
            break;
        case udtInteger:
        case udtFloat:
        case udtDateTime:
            parameter.SetSize(0);
            break;
        default:
            parameter.SetSize(-1);
            break;
        }
    }
}
