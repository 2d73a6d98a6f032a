// The Paradox driver: connecting to a folder, Paradox table objects, the
// Paradox settings of commands and table definitions, schema information.
#include "UdbProject/PdoxUdbs.h"

#include <cstdint>
#include <vector>

#include "UdbProject/UdbStdImpl.h"

namespace {

// ---- texts ---------------------------------------------------------------------------
constexpr const char* kDriverName = "STANDARD";
constexpr const char* kPathParam = "PATH=";

constexpr char kQuote = '"';
// The longest name of a table, a field or an index.
constexpr std::int32_t kMaxNameLength = 24;

struct TDataTypeRow {
    TUdbDataType Type;
    const char* Name;
    std::int32_t Size; // 0: none
};

constexpr TDataTypeRow kDataTypes[] = {
    {udtBoolean, "Logical", 0}, {udtInteger, "Long integer", 0}, {udtFloat, "Number", 0},
    {udtCurrency, "Money", 0},  {udtDateTime, "Timestamp", 0},   {udtString, "Alpha", 255},
    {udtMemo, "Memo", 0},       {udtBinary, "Binary", 0},
};

rtl::RefPtr<IUdbCursor> LiteralInfoCursor(TUdb& db)
{
    auto cursor = rtl::MakeRef<TInMemoryCursor>(&db, SchemaKindColumns(uskLiteralInfo), 100);
    const rtl::Variant null = rtl::Variant::Null();
    // Table names, field names, index names.
    for (std::int32_t literalType = 0; literalType <= 2; ++literalType)
        cursor->AppendRow({rtl::Variant(literalType), rtl::Variant(kMaxNameLength), rtl::Variant(false), null, null,
                           null, null});
    return cursor;
}

rtl::RefPtr<IUdbCursor> DataTypesInfoCursor(TUdb& db)
{
    auto cursor = rtl::MakeRef<TInMemoryCursor>(&db, SchemaKindColumns(uskDataTypesInfo), 100);
    const rtl::Variant null = rtl::Variant::Null();
    for (const TDataTypeRow& row : kDataTypes)
        cursor->AppendRow({rtl::Variant(std::int32_t{row.Type}), rtl::Variant(row.Name),
                           row.Size != 0 ? rtl::Variant(row.Size) : null, null, null});
    return cursor;
}

} // namespace

std::unique_ptr<bde::TBdeTable> TPdoxUdb::NewTableComponent(const std::string& tableName)
{
    std::unique_ptr<bde::TBdeTable> table = TBDEUdb::NewTableComponent(tableName);
    table->SetTableType(bde::ttParadox);
    return table;
}

rtl::RefPtr<TUdbTableDef> TPdoxUdb::CreateTableDef() { return rtl::MakeRef<TBDETableDef>(this, false); }

rtl::RefPtr<TUdbSQLCommand> TPdoxUdb::CreateSQLCommand()
{
    return rtl::MakeRef<TBDESQLCommand>(this, kQuote, kQuote);
}

void TPdoxUdb::DoOpen()
{
    bde::TBdeDatabase& database = Database();
    database.Params().clear();
    if (Params().Exists(PdoxPasswordParam)) Session().AddPassword(Params().GetStr(PdoxPasswordParam, std::string()));
    database.SetDriverName(kDriverName);
    database.Params().push_back(kPathParam + Params().GetStr(PdoxFolderParam, std::string()));
    database.SetTransIsolation(bde::tiDirtyRead);
    database.Open();
}

rtl::RefPtr<IUdbCursor> TPdoxUdb::CreateSchemaCursor(TUdbSchemaKind kind)
{
    switch (kind) {
    case uskRelations: return BdeRelationsCursor(*this);
    case uskLiteralInfo: return LiteralInfoCursor(*this);
    case uskReservedWords: return BdeReservedWordsCursor(*this);
    case uskDataTypesInfo: return DataTypesInfoCursor(*this);
    default: return nullptr;
    }
}
