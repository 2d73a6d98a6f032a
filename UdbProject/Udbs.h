// The vocabulary of the database access layer: the five interfaces through
// which the rest of the program reaches any database, the data-type codes,
// the records exchanged through the interfaces, the schema-information kinds
// and the statement builders.
//
// Interfaces are abstract classes deriving virtually from rtl::RefCounted,
// with their operations in the contract's slot order. Text crossing them is
// UTF-8 (std::string); values are rtl::Variant; blobs are Null or byte arrays.
// Statement text uses the layer's own dialect: columns as "[T].[C]" and
// parameters as "?"; every driver translates it for its engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/SimpleParams.h"
#include "UdbProject/UdbMessages.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Variant.h"

// ---- data types -----------------------------------------------------------------

// High byte the base type, low byte the subtype.
using TUdbDataType = std::uint16_t;
using TUdbDataTypeArray = std::vector<TUdbDataType>;

enum : TUdbDataType {
    udtBoolean = 0x0100,
    udtInteger = 0x0200,
    udtFloat = 0x0300,
    udtCurrency = 0x0400,
    udtDateTime = 0x0500,
    udtDate = 0x0501,
    udtTime = 0x0502,
    udtString = 0x0600,
    udtMemo = 0x0700,
    udtBinary = 0x0800,
    udtPicture = 0x0801,
    udtDocument = 0x0802,
};

struct TUdbDataTypeInfo {
    TUdbDataType DataType;
    const char* Caption;
    const char* Name;
};

extern const std::array<TUdbDataTypeInfo, 12> UdbDataTypes;

constexpr TUdbDataType BaseDataType(TUdbDataType code) noexcept { return code & 0xFF00; }
bool IsBaseTypeIn(TUdbDataType code, const TUdbDataTypeArray& codes) noexcept;
// Row of UdbDataTypes with exactly this code; Exception UdbMsg::BadDataType otherwise.
int DataTypeIndex(TUdbDataType code);
// Row whose English name equals name exactly; Exception UdbMsg::BadDataTypeName otherwise.
int DataTypeIndexByName(std::string_view name);
std::string DataTypeCaption(TUdbDataType code);
std::string DataTypeName(TUdbDataType code);
TUdbDataType DataTypeByName(std::string_view name);

// ---- records --------------------------------------------------------------------

struct TUdbFieldDef {
    std::string Name;
    TUdbDataType DataType = 0;
    std::int32_t Size = -1;
    bool Required = false;
    friend bool operator==(const TUdbFieldDef&, const TUdbFieldDef&) = default;
};

struct TUdbIndexDef {
    std::string Name;
    std::string Fields; // names in index order, separated by ";"
    bool Primary = false;
    bool Unique = false;
    friend bool operator==(const TUdbIndexDef&, const TUdbIndexDef&) = default;
};

struct TUdbParam {
    std::string Name;
    TUdbDataType DataType = 0;
};

TUdbParam UdbStrParam(const std::string& name);
TUdbParam UdbIntParam(const std::string& name);
TUdbParam UdbBlobParam(const std::string& name);

// ---- schema information ---------------------------------------------------------

using TUdbSchemaKind = std::uint8_t;
enum : TUdbSchemaKind {
    uskRelations = 0,
    uskLiteralInfo = 1,
    uskReservedWords = 2,
    uskDataTypesInfo = 3,
};

// The name of a kind ("Relations", ...) and its fixed result columns.
const char* SchemaKindName(TUdbSchemaKind kind);
const std::vector<TUdbFieldDef>& SchemaKindColumns(TUdbSchemaKind kind);

// ---- interfaces -----------------------------------------------------------------

class IUdbSQLCommand;
class IUdbCursor;
class IUdbTableDef;

// Interface identities, kept as in the binary contract.
inline constexpr const char* IID_IUdb = "{016BFCD3-B8F9-4C31-BB6D-B948CFD680A1}";
inline constexpr const char* IID_IUdbSQLCommand = "{178927D6-0A58-40D5-A351-42C51124140E}";
inline constexpr const char* IID_IUdbCursor = "{9C430114-ED36-4D7B-B459-CDA567063FE0}";
inline constexpr const char* IID_IUdbTableDef = "{51457F00-7972-41F3-A843-F85CC2902298}";
inline constexpr const char* IID_IUdbManager = "{1801F3B2-2579-4C76-972C-665380ED458A}";

// Root names of the XML requests that the driver layer answers.
inline constexpr const char* UdbQueryDriversRequest = "query-drivers";
inline constexpr const char* UdbQueryLookupValuesRequest = "query-lookup-values";

// One database.
class IUdb : public virtual rtl::RefCounted {
public:
    // params: the XML text of the parameter document.
    virtual void Open(const std::string& params) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() = 0;
    virtual bool InTransaction() = 0;
    virtual void StartTransaction() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual rtl::RefPtr<IUdbSQLCommand> CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                                 std::int32_t paramCount, bool prepared) = 0;
    virtual rtl::RefPtr<IUdbCursor> GetSchemaInfo(TUdbSchemaKind kind) = 0;
    // A blank name gives a new, empty definition.
    virtual rtl::RefPtr<IUdbTableDef> GetTableDef(const std::string& name) = 0;
    virtual bool TableExists(const std::string& name) = 0;
    virtual void DropTable(const std::string& name) = 0;
    virtual rtl::RefPtr<ISimpleParams> GetParams() = 0;

protected:
    ~IUdb() override = default;
};

// A database that can take part in another database's transactions, so that
// one commit covers both; asked for beside IUdb with dynamic_cast. The
// engine's Paradox folders have it, the other drivers do not.
class IUdbJoinedTransactions {
public:
    // From now on, a transaction started on this database while `outer` is
    // in one takes part in it: this database's commit only leaves it, outer's
    // outermost commit commits both as one, and a rollback of either rolls
    // back both. nullptr ends that. False, changing nothing, where the two
    // cannot commit as one (another driver, a database that is not open).
    virtual bool JoinTransactionsOf(IUdb* outer) = 0;

protected:
    ~IUdbJoinedTransactions() = default;
};

// A prepared statement; "?" marks each parameter.
class IUdbSQLCommand : public virtual rtl::RefCounted {
public:
    // values: the parameter values in the order of the "?" marks (nullptr with
    // count 0 for none). The result is nullptr when the statement yields no rows.
    virtual rtl::RefPtr<IUdbCursor> Execute(const rtl::Variant* values, std::int32_t count) = 0;
    virtual std::int32_t RowsAffected() = 0;

    // Convenience over Execute.
    rtl::RefPtr<IUdbCursor> Execute(const std::vector<rtl::Variant>& values)
    {
        return Execute(values.empty() ? nullptr : values.data(), static_cast<std::int32_t>(values.size()));
    }

protected:
    ~IUdbSQLCommand() override = default;
};

// A forward-only result on its current row. field: the zero-based position
// (an integer variant) or the name (a text variant).
class IUdbCursor : public virtual rtl::RefCounted {
public:
    virtual bool IsNull(const rtl::Variant& field) = 0;
    virtual bool AsBoolean(const rtl::Variant& field, bool defaultValue) = 0;
    virtual std::int32_t AsInteger(const rtl::Variant& field, std::int32_t defaultValue) = 0;
    virtual double AsFloat(const rtl::Variant& field, double defaultValue) = 0;
    virtual rtl::Currency AsCurrency(const rtl::Variant& field, rtl::Currency defaultValue) = 0;
    virtual double AsDateTime(const rtl::Variant& field, double defaultValue) = 0;
    virtual std::string AsString(const rtl::Variant& field, const std::string& defaultValue) = 0;
    // Null or a byte array.
    virtual rtl::Variant AsBlob(const rtl::Variant& field) = 0;
    virtual rtl::Variant GetValue(const rtl::Variant& field) = 0;
    virtual std::string FieldName(std::int32_t index) = 0;
    virtual TUdbDataType FieldType(const rtl::Variant& field) = 0;
    virtual std::int32_t DataSize(const rtl::Variant& field) = 0;
    // -1 when there is no such field.
    virtual std::int32_t FieldIndex(const std::string& name) = 0;
    virtual std::int32_t FieldCount() = 0;
    virtual void Next() = 0;
    virtual bool Eof() = 0;
    virtual void Close() = 0;

protected:
    ~IUdbCursor() override = default;
};

// The editable structure of one table; positions are zero-based.
class IUdbTableDef : public virtual rtl::RefCounted {
public:
    virtual TUdbFieldDef GetFieldDef(std::int32_t index) = 0;
    virtual void SetFieldDef(std::int32_t index, const TUdbFieldDef& def, bool renameInIndexes) = 0;
    virtual void AddField(const TUdbFieldDef& def) = 0;
    virtual void DeleteField(std::int32_t index, bool fromIndexes) = 0;
    virtual std::int32_t FieldIndex(const std::string& name) = 0;
    virtual void MoveField(std::int32_t curIndex, std::int32_t newIndex) = 0;
    virtual std::int32_t FieldCount() = 0;
    virtual TUdbIndexDef GetIndexDef(std::int32_t index) = 0;
    virtual void SetIndexDef(std::int32_t index, const TUdbIndexDef& def) = 0;
    virtual void AddIndex(const TUdbIndexDef& def) = 0;
    virtual void DeleteIndex(std::int32_t index) = 0;
    // fields: names separated by ";".
    virtual std::int32_t FindIndex(const std::string& fields) = 0;
    virtual std::int32_t IndexCount() = 0;
    virtual std::string GetTableName() = 0;
    virtual void SetTableName(const std::string& name) = 0;
    virtual bool IsModified() = 0;
    virtual void Apply() = 0;
    virtual void Refresh() = 0;

protected:
    ~IUdbTableDef() override = default;
};

// The driver manager.
class IUdbManager : public virtual rtl::RefCounted {
public:
    virtual void Refresh() = 0;
    // request and answer: XML text.
    virtual std::string XMLRequest(const std::string& request) = 0;
    virtual rtl::RefPtr<IUdb> CreateDatabase(const std::string& params, bool open) = 0;

protected:
    ~IUdbManager() override = default;
};

// ---- statement builders -----------------------------------------------------------
//
// Table and column names are checked first: a name holding "[", "]", a quote
// or a control character is refused with EUdbException (UdbMsg::BadSqlName).

rtl::RefPtr<IUdbSQLCommand> PrepareSQL(IUdb& db, const std::string& sql, const TUdbDataTypeArray& paramTypes,
                                  bool prepared);
rtl::RefPtr<IUdbSQLCommand> PrepareInsert(IUdb& db, const std::string& table, const std::vector<TUdbParam>& fields,
                                     bool prepared);
rtl::RefPtr<IUdbSQLCommand> PrepareUpdate(IUdb& db, const std::string& table, const std::vector<TUdbParam>& setFields,
                                     const std::vector<TUdbParam>& keys, bool prepared);
rtl::RefPtr<IUdbSQLCommand> PrepareDelete(IUdb& db, const std::string& table, const std::vector<TUdbParam>& keys,
                                     bool prepared);
rtl::RefPtr<IUdbSQLCommand> PrepareSelect(IUdb& db, const std::string& table, const std::vector<std::string>& fields,
                                     const std::vector<TUdbParam>& keys, bool prepared);
rtl::RefPtr<IUdbCursor> SelectAll(IUdb& db, const std::string& table);

// The statement texts the builders send (exposed for the drivers' tests).
std::string InsertText(const std::string& table, const std::vector<TUdbParam>& fields);
std::string UpdateText(const std::string& table, const std::vector<TUdbParam>& setFields,
                       const std::vector<TUdbParam>& keys);
std::string DeleteText(const std::string& table, const std::vector<TUdbParam>& keys);
std::string SelectText(const std::string& table, const std::vector<std::string>& fields,
                       const std::vector<TUdbParam>& keys);
// Refuses a table or column name that cannot stand inside "[...]".
void CheckSqlName(std::string_view name);

// A table name that does not exist in db yet, derived from baseName.
std::string MakeUniqueTableName(IUdb& db, const std::string& baseName, const std::string& separator);

