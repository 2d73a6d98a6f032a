// The SQL Server dialect of the ADO driver base.
#include "UdbProject/UdbMsSql/MSSQLUdbs.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"

namespace {

constexpr const char* kProvider = "SQLOLEDB";
constexpr const char* kSchemaQuery = "SELECT SCHEMA_NAME()";
constexpr const char* kTempSeparator = "_TMP";
constexpr const char* kIndexInfix = "_Ind";

// Assertion texts.
constexpr const char* kFieldNotFound = "field not found";
constexpr const char* kIndexNotFound = "index not found";

// Changes that only a rebuild makes: an added field, a changed type, size,
// required flag or position (and the bit 0x0001, which no diff sets).
constexpr TTableModifications kRebuildChanges =
    0x0001 | tmFieldAdded | tmFieldType | tmFieldSize | tmFieldRequired | tmFieldMoved;
// Index items whose as-read index goes before the columns change.
constexpr TTableModifications kIndexDropChanges = tmIndexDeleted | tmIndexFields | tmIndexPrimary | tmIndexUnique;
// Index items whose edited index is created after the columns changed.
constexpr TTableModifications kIndexCreateChanges = tmIndexAdded | tmIndexFields | tmIndexPrimary | tmIndexUnique;

// Connection parameters and the provider properties they fill.
constexpr const char* kServerParam = "server";
constexpr const char* kDatabaseParam = "database";
constexpr const char* kAuthenticationParam = "authentication";
constexpr const char* kLoginNameParam = "login-name";
constexpr const char* kLoginPasswordParam = "login-password";
constexpr const char* kDataSource = "Data Source";
constexpr const char* kInitialCatalog = "Initial Catalog";
constexpr const char* kIntegratedSecurity = "Integrated Security";
constexpr const char* kUserId = "User ID";
constexpr const char* kPassword = "Password";

} // namespace

// ---- TMSSQLDb ------------------------------------------------------------------------------

std::string TMSSQLDb::DataTypeToSQL(TUdbDataType dataType)
{
    (void)DataTypeIndex(dataType); // a code outside the table fails with its message
    switch (BaseDataType(dataType)) {
    case udtBoolean: return "bit";
    case udtInteger: return "Int";
    case udtFloat: return "Float";
    case udtCurrency: return "Money";
    case udtDateTime: return "datetime";
    case udtString: return "varchar";
    case udtMemo: return "text";
    case udtBinary: return "image";
    default: throw rtl::Exception(UdbMsg::BadDataType);
    }
}

TUdbDataType TMSSQLDb::AdoTypeToDataType(const std::string& /*typeName*/, std::int32_t adoType, bool isLong,
                                         std::int32_t precision, std::int32_t scale)
{
    return DefaultAdoTypeToDataType(adoType, isLong, precision, scale);
}

rtl::Variant TMSSQLDb::GetSchemaName() { return CachedSchemaName(kSchemaQuery); }

rtl::RefPtr<TUdbTableDef> TMSSQLDb::CreateTableDef() { return rtl::RefPtr<TUdbTableDef>(new TMSSQLTableDef(this)); }

rtl::RefPtr<TUdbSQLCommand> TMSSQLDb::CreateSQLCommand()
{
    return rtl::RefPtr<TUdbSQLCommand>(new TMSSQLSQLCommand(this));
}

void TMSSQLDb::DoOpen()
{
    TAdoDb::DoOpen();
    ado::Connection& connection = Connection();
    SetMsSqlConnectionProperties(
        connection, [&](const char* param) { return Params().GetStr(rtl::Variant(param), ""); }, true);
    connection.Open("", "", "", ado::adConnectUnspecified);
}

void SetMsSqlConnectionProperties(ado::Connection& connection,
                                  const std::function<std::string(const char*)>& param, bool withDatabase)
{
    connection.SetProvider(kProvider);
    ado::Properties& properties = connection.Properties();
    const auto text = [&](const char* name) { return rtl::Variant(param(name)); };
    properties.Item(kDataSource).SetValue(text(kServerParam));
    if (withDatabase) properties.Item(kInitialCatalog).SetValue(text(kDatabaseParam));
    const rtl::Variant authentication = text(kAuthenticationParam);
    if (!authentication.AsString().empty()) properties.Item(kIntegratedSecurity).SetValue(authentication);
    properties.Item(kUserId).SetValue(text(kLoginNameParam));
    properties.Item(kPassword).SetValue(text(kLoginPasswordParam));
}

// ---- TMSSQLTableDef ------------------------------------------------------------------------

TMSSQLTableDef::TMSSQLTableDef(TMSSQLDb* db) : TAdoTableDef(db, true) {}

void TMSSQLTableDef::NameIndexes(TTableDef& def, const TTableDef* other)
{
    int n = 1;
    for (int i = 0; i < def.Indexes.Count(); ++i) {
        TIndexDef& index = def.Indexes.Get(i);
        if (index.Primary) continue;
        index.Name = def.Name + kIndexInfix + rtl::IntToStr(n);
        while (other && other->Indexes.Find(index.Name, false) >= 0)
            index.Name = def.Name + kIndexInfix + rtl::IntToStr(++n);
        ++n;
    }
}

void TMSSQLTableDef::RenameTable(const std::string& oldName, const std::string& newName)
{
    Exec("EXECUTE sp_rename '" + oldName + "', '" + newName + "'");
}

void TMSSQLTableDef::NameNewIndexes(TTableDef& def) { NameIndexes(def, nullptr); }

void TMSSQLTableDef::DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes)
{
    CreateTableFromCopy(name, def, withIndexes);
}

void TMSSQLTableDef::DoAlterTable(const TTableDef& asRead, const TTableDef& edited)
{
    const TTableModificationInfo mods = CompareTableDefs(edited, asRead, true);
    if (mods.empty()) return;
    TTableDef work;
    work.Assign(edited);
    NameIndexes(work, &asRead);
    // Every name is refused before the first statement runs.
    CheckTableDefNames(asRead);
    CheckTableDefNames(work);

    TUdb& db = *Db();
    db.StartTransaction();
    try {
        if (HasModification(kRebuildChanges, mods, false)) RebuildTable(asRead, work);
        else AlterInPlace(asRead, work, mods);
        db.Commit();
    } catch (...) {
        try {
            db.Rollback();
        } catch (...) {
            // The change's own failure is the one to report.
        }
        throw;
    }
}

void TMSSQLTableDef::AlterInPlace(const TTableDef& asRead, const TTableDef& edited, const TTableModificationInfo& mods)
{
    // Indexes in the way: every index on a deleted column, and the as-read
    // form of every changed or deleted index; each once, in the order found.
    std::vector<const TIndexDef*> drops;
    const auto drop = [&](const TIndexDef& index) {
        if (std::find(drops.begin(), drops.end(), &index) == drops.end()) drops.push_back(&index);
    };
    for (const TTableModificationItem& item : mods) {
        if ((item.Flags & tmFieldDeleted) != 0) {
            const int f = asRead.Fields.IndexOfId(item.Id);
            RTL_ASSERT(f >= 0, kFieldNotFound);
            const std::string& name = asRead.Fields.Get(f).Name;
            for (int i = 0; i < asRead.Indexes.Count(); ++i) {
                const TIndexDef& index = asRead.Indexes.Get(i);
                if (std::find(index.Fields.begin(), index.Fields.end(), name) != index.Fields.end()) drop(index);
            }
        } else if ((item.Flags & kIndexDropChanges) != 0) {
            const int x = asRead.Indexes.IndexOfId(item.Id);
            if (x >= 0) drop(asRead.Indexes.Get(x));
        }
    }
    for (const TIndexDef* index : drops) DropIndex(asRead.Name, *index);

    for (const TTableModificationItem& item : mods) {
        if (item.Flags == tmFieldDeleted) {
            const int f = asRead.Fields.IndexOfId(item.Id);
            RTL_ASSERT(f >= 0, kFieldNotFound);
            Exec("ALTER TABLE [" + asRead.Name + "] DROP COLUMN [" + asRead.Fields.Get(f).Name + "]");
        } else if (item.Flags == tmFieldRenamed) {
            const int f = asRead.Fields.IndexOfId(item.Id);
            const int g = edited.Fields.IndexOfId(item.Id);
            RTL_ASSERT(f >= 0 && g >= 0, kFieldNotFound);
            Exec("EXECUTE sp_rename '[" + asRead.Name + "].[" + asRead.Fields.Get(f).Name + "]', '" +
                 edited.Fields.Get(g).Name + "', 'COLUMN'");
        }
    }

    if (HasModification(tmTableRenamed, mods, false)) RenameTable(asRead.Name, edited.Name);

    for (const TTableModificationItem& item : mods) {
        if ((item.Flags & kIndexCreateChanges) == 0) continue;
        const int x = edited.Indexes.IndexOfId(item.Id);
        RTL_ASSERT(x >= 0, kIndexNotFound);
        CreateIndexOrKey(edited.Name, edited.Indexes.Get(x));
    }
}

void TMSSQLTableDef::RebuildTable(const TTableDef& asRead, TTableDef& edited)
{
    TUdb& db = *Db();
    const std::string temp = MakeUniqueTableName(db, asRead.Name, kTempSeparator);
    CreateNamedTable(temp, edited, false);
    const TUdbFieldMap map = MakeFieldMap(asRead, edited);
    if (!map.empty()) CopyTableData(asRead.Name, temp, map);
    for (int i = 0; i < edited.Indexes.Count(); ++i) CreateIndexOrKey(temp, edited.Indexes.Get(i));
    db.DropTable(asRead.Name);
    RenameTable(temp, edited.Name);
}

std::string TMSSQLTableDef::FieldCopyExpression(const TUdbFieldMapItem& item)
{
    const std::string column = "[" + item.OldField.Name + "]";
    if (item.OldField.DataType == item.NewField.DataType && item.OldField.Size == item.NewField.Size) return column;
    return "CONVERT(" + ColumnTypeText(GetAdoDb(), item.NewField.DataType, item.NewField.Size) + "," + column + ")";
}

void TMSSQLTableDef::CopyTableData(const std::string& source, const std::string& dest, const TUdbFieldMap& map)
{
    std::string columns;
    std::string expressions;
    FieldCopyLists(map, columns, expressions);
    // Without WITH the hint would be read as an alias of the table.
    Exec("IF EXISTS(SELECT * FROM [" + source + "]) EXEC('INSERT INTO [" + dest + "] (" + columns + ") SELECT " +
         expressions + " FROM [" + source + "] WITH (TABLOCKX)')");
}

// ---- TMSSQLSQLCommand ----------------------------------------------------------------------

void TMSSQLSQLCommand::SetParamValue(std::int32_t index, const rtl::Variant& value, bool& reprepare)
{
    ado::Parameter& parameter = Command()->Parameters().Item(index);
    if (parameter.Type() == ado::adVarChar) {
        const std::int64_t needed =
            value.IsClear() ? 1 : std::max<std::int64_t>(1, static_cast<std::int64_t>(rtl::Utf8Length(rtl::VarToStr(value))));
        if (parameter.Size() < needed) {
            parameter.SetSize(needed);
            reprepare = true;
        }
    }
    parameter.SetValue(value);
}
