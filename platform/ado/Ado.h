// The ADO-like objects the database drivers talk to: a connection, a command
// with its parameters, a forward-only recordset with its fields, and the
// schema rowsets a connection opens. Only the members the drivers use exist;
// their names, argument orders and numeric constants are those of ADO, and
// the schema rowsets carry the OLE DB column names and type codes.
//
// The objects are reference-counted (rtl::RefPtr) like every object the
// access layer hands out. Failures raise EAdoError with the provider's
// message. Values are rtl::Variant; Empty stands for ADO's "unspecified".
//
// NewConnection and NewCommand make the objects of the implementation over
// unixODBC (Odbc*.h), where a provider name is mapped to an ODBC driver, or
// of an implementation a test has put in its place (SetImplementation).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Variant.h"

namespace ado {

// ---- constants ------------------------------------------------------------------------

// DataTypeEnum (equal to the OLE DB type codes where both exist).
inline constexpr std::int32_t adEmpty = 0;
inline constexpr std::int32_t adSmallInt = 2;
inline constexpr std::int32_t adInteger = 3;
inline constexpr std::int32_t adSingle = 4;
inline constexpr std::int32_t adDouble = 5;
inline constexpr std::int32_t adCurrency = 6;
inline constexpr std::int32_t adDate = 7;
inline constexpr std::int32_t adBSTR = 8;
inline constexpr std::int32_t adBoolean = 11;
inline constexpr std::int32_t adVariant = 12;
inline constexpr std::int32_t adDecimal = 14;
inline constexpr std::int32_t adTinyInt = 16;
inline constexpr std::int32_t adUnsignedTinyInt = 17;
inline constexpr std::int32_t adUnsignedSmallInt = 18;
inline constexpr std::int32_t adUnsignedInt = 19;
inline constexpr std::int32_t adBigInt = 20;
inline constexpr std::int32_t adUnsignedBigInt = 21;
inline constexpr std::int32_t adGUID = 72;
inline constexpr std::int32_t adBinary = 128;
inline constexpr std::int32_t adChar = 129;
inline constexpr std::int32_t adWChar = 130;
inline constexpr std::int32_t adNumeric = 131;
inline constexpr std::int32_t adDBDate = 133;
inline constexpr std::int32_t adDBTime = 134;
inline constexpr std::int32_t adDBTimeStamp = 135;
inline constexpr std::int32_t adVarNumeric = 139;
inline constexpr std::int32_t adVarChar = 200;
inline constexpr std::int32_t adLongVarChar = 201;
inline constexpr std::int32_t adVarWChar = 202;
inline constexpr std::int32_t adLongVarWChar = 203;
inline constexpr std::int32_t adVarBinary = 204;
inline constexpr std::int32_t adLongVarBinary = 205;

// ParameterDirectionEnum, ParameterAttributesEnum.
inline constexpr std::int32_t adParamInput = 1;
inline constexpr std::int32_t adParamSigned = 0x10;
inline constexpr std::int32_t adParamNullable = 0x40;
inline constexpr std::int32_t adParamLong = 0x80;

// FieldAttributeEnum.
inline constexpr std::int32_t adFldFixed = 0x10;
inline constexpr std::int32_t adFldIsNullable = 0x20;
inline constexpr std::int32_t adFldMayBeNull = 0x40;
inline constexpr std::int32_t adFldLong = 0x80;

// ObjectStateEnum.
inline constexpr std::int32_t adStateClosed = 0;
inline constexpr std::int32_t adStateOpen = 1;

// CommandTypeEnum, ExecuteOptionEnum, ConnectOptionEnum.
inline constexpr std::int32_t adOptionUnspecified = -1;
inline constexpr std::int32_t adCmdText = 1;
inline constexpr std::int32_t adExecuteNoRecords = 0x80;
inline constexpr std::int32_t adConnectUnspecified = -1;

// SchemaEnum: the schema rowsets OpenSchema answers.
inline constexpr std::int32_t adSchemaCatalogs = 1;
inline constexpr std::int32_t adSchemaColumns = 4;
inline constexpr std::int32_t adSchemaIndexes = 12;
inline constexpr std::int32_t adSchemaTables = 20;
inline constexpr std::int32_t adSchemaProviderTypes = 22;
inline constexpr std::int32_t adSchemaPrimaryKeys = 28;
inline constexpr std::int32_t adSchemaDBInfoKeywords = 30;
inline constexpr std::int32_t adSchemaDBInfoLiterals = 31;

// OLE DB column flags of the columns rowset (COLUMN_FLAGS).
inline constexpr std::int32_t DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10;
inline constexpr std::int32_t DBCOLUMNFLAGS_ISNULLABLE = 0x20;
inline constexpr std::int32_t DBCOLUMNFLAGS_MAYBENULL = 0x40;
inline constexpr std::int32_t DBCOLUMNFLAGS_ISLONG = 0x80;

// OLE DB literals of the literals rowset (LITERAL).
inline constexpr std::int32_t DBLITERAL_COLUMN_NAME = 6;
inline constexpr std::int32_t DBLITERAL_INDEX_NAME = 11;
inline constexpr std::int32_t DBLITERAL_TABLE_NAME = 17;

// OLE DB index types of the indexes rowset (TYPE).
inline constexpr std::int32_t DBPROPVAL_IT_BTREE = 1;
inline constexpr std::int32_t DBPROPVAL_IT_HASH = 2;
inline constexpr std::int32_t DBPROPVAL_IT_OTHER = 4;

// ---- errors ---------------------------------------------------------------------------

// A failed call: the provider's (driver's) message, or one of ADO's own.
class EAdoError : public rtl::Exception {
public:
    explicit EAdoError(std::string message, std::string sqlState = std::string())
        : rtl::Exception(std::move(message)), sqlState_(std::move(sqlState))
    {
    }
    // The SQLSTATE of the driver's first diagnostic record, "" for ADO's own errors.
    const std::string& SqlState() const noexcept { return sqlState_; }

private:
    std::string sqlState_;
};

// ADO's own messages.
inline constexpr const char* SItemNotFound =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
inline constexpr const char* SObjectClosed = "Operation is not allowed when the object is closed.";
inline constexpr const char* SObjectOpen = "Operation is not allowed when the object is open.";
inline constexpr const char* SNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
    "current record.";
inline constexpr const char* SBadArguments =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
inline constexpr const char* SNotCapable = "Object or provider is not capable of performing requested operation.";
inline constexpr const char* SNoConnection = "The connection cannot be used to perform this operation. It is "
                                             "either closed or invalid in this context.";

// ---- recordsets -----------------------------------------------------------------------

// One column of a recordset, read on its current row.
class Field {
public:
    virtual std::string Name() const = 0;
    // EAdoError SNoCurrentRecord at the end of the rows.
    virtual rtl::Variant Value() const = 0;
    virtual std::int32_t Type() const = 0;
    virtual std::int32_t Attributes() const = 0;
    virtual std::uint8_t Precision() const = 0;
    virtual std::uint8_t NumericScale() const = 0;
    // The length of the current value: characters of a text, bytes of
    // binary data and of fixed-size values; 0 for Null.
    virtual std::int64_t ActualSize() const = 0;

protected:
    ~Field() = default;
};

class Fields {
public:
    virtual std::int32_t Count() const = 0;
    // EAdoError SItemNotFound for a position outside the collection.
    virtual Field& Item(std::int32_t index) = 0;
    // By name, ignoring the case of ASCII letters; EAdoError SItemNotFound when absent.
    virtual Field& Item(std::string_view name) = 0;

protected:
    ~Fields() = default;
};

// Forward-only rows. Every operation but State fails with SObjectClosed on a
// closed recordset (the result of a statement that returns no rows).
class Recordset : public rtl::RefCounted {
public:
    virtual std::int32_t State() const = 0;
    virtual bool Eof() const = 0;
    virtual void MoveNext() = 0;
    virtual ado::Fields& Fields() = 0;

protected:
    ~Recordset() override = default;
};

// ---- commands -------------------------------------------------------------------------

class Parameter : public rtl::RefCounted {
public:
    virtual std::string Name() const = 0;
    virtual std::int32_t Direction() const = 0;
    virtual std::int32_t Type() const = 0;
    virtual void SetType(std::int32_t type) = 0;
    // -1: not given.
    virtual std::int64_t Size() const = 0;
    virtual void SetSize(std::int64_t size) = 0;
    virtual std::int32_t Attributes() const = 0;
    virtual void SetAttributes(std::int32_t attributes) = 0;
    virtual rtl::Variant Value() const = 0;
    virtual void SetValue(const rtl::Variant& value) = 0;

protected:
    ~Parameter() override = default;
};

class Parameters {
public:
    virtual std::int32_t Count() const = 0;
    virtual Parameter& Item(std::int32_t index) = 0;
    // p must come from CreateParameter of the same implementation.
    virtual void Append(const rtl::RefPtr<Parameter>& p) = 0;

protected:
    ~Parameters() = default;
};

class Connection;

class Command : public rtl::RefCounted {
public:
    virtual Connection* ActiveConnection() const = 0;
    virtual void SetActiveConnection(Connection* connection) = 0;
    // Seconds; 0 waits for ever.
    virtual std::int32_t CommandTimeout() const = 0;
    virtual void SetCommandTimeout(std::int32_t seconds) = 0;
    virtual std::string CommandText() const = 0;
    virtual void SetCommandText(const std::string& text) = 0;
    virtual bool Prepared() const = 0;
    virtual void SetPrepared(bool prepared) = 0;
    virtual rtl::RefPtr<Parameter> CreateParameter(const std::string& name, std::int32_t type, std::int32_t direction,
                                                   std::int64_t size, const rtl::Variant& value) = 0;
    virtual ado::Parameters& Parameters() = 0;
    // Runs the text with the values set on the parameters ("?" marks them in
    // order). recordsAffected: the rows changed, -1 for a statement that
    // returns rows. The result is closed when the statement returns none.
    virtual rtl::RefPtr<Recordset> Execute(rtl::Variant& recordsAffected, std::int32_t options) = 0;

protected:
    ~Command() override = default;
};

// ---- connections ----------------------------------------------------------------------

class Property {
public:
    virtual std::string Name() const = 0;
    virtual rtl::Variant Value() const = 0;
    virtual void SetValue(const rtl::Variant& value) = 0;

protected:
    ~Property() = default;
};

// The provider's properties: available once the provider is set.
class Properties {
public:
    // By name, ignoring the case of ASCII letters; EAdoError SItemNotFound for a
    // name the provider does not have.
    virtual Property& Item(std::string_view name) = 0;

protected:
    ~Properties() = default;
};

class Connection : public rtl::RefCounted {
public:
    virtual std::string Provider() const = 0;
    // Refused while open (SObjectOpen).
    virtual void SetProvider(const std::string& provider) = 0;
    virtual ado::Properties& Properties() = 0;
    // Seconds; 0 waits for ever.
    virtual std::int32_t ConnectionTimeout() const = 0;
    virtual void SetConnectionTimeout(std::int32_t seconds) = 0;
    virtual std::int32_t CommandTimeout() const = 0;
    virtual void SetCommandTimeout(std::int32_t seconds) = 0;
    // Connects as the provider and its properties describe; userID and
    // password, when not empty, take the place of those properties.
    virtual void Open(const std::string& connectionString, const std::string& userID, const std::string& password,
                      std::int32_t options) = 0;
    // Ends an open transaction by rolling it back, then disconnects.
    virtual void Close() = 0;
    virtual std::int32_t State() const = 0;
    // The new nesting level (1: one level only).
    virtual std::int32_t BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    virtual rtl::RefPtr<Recordset> Execute(const std::string& commandText, rtl::Variant& recordsAffected,
                                           std::int32_t options) = 0;
    // restrictions: the rowset's restriction values in its order; Empty (or a
    // short list) leaves a restriction out, an empty list leaves all out.
    virtual rtl::RefPtr<Recordset> OpenSchema(std::int32_t schema, const std::vector<rtl::Variant>& restrictions) = 0;

protected:
    ~Connection() override = default;
};

// New objects of the implementation in place: a closed connection with the
// time-outs 15 (connection) and 30 (command) seconds, and a command without a
// connection. The implementation is the one over unixODBC unless another one
// (the tests' recording implementation) has been put in its place.
rtl::RefPtr<Connection> NewConnection();
rtl::RefPtr<Command> NewCommand();

// An implementation of the objects other than the one over unixODBC. Its
// commands work only with its own connections.
class Implementation {
public:
    virtual rtl::RefPtr<Connection> NewConnection() = 0;
    virtual rtl::RefPtr<Command> NewCommand() = 0;

protected:
    ~Implementation() = default;
};

// Puts implementation in place (nullptr: the one over unixODBC) and returns
// the one it replaces. Objects already made keep their implementation.
Implementation* SetImplementation(Implementation* implementation) noexcept;

} // namespace ado
