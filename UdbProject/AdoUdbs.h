// The common base of the drivers that reach a DBMS through the ADO-like
// layer (platform/ado): the database TAdoDb with its connection, transactions
// and table-existence test; the statement TAdoSQLCommand (a prepared ADO
// command with typed parameters); the forward-only cursor TAdoCursor over an
// ADO recordset; the table definition TAdoTableDef that reads columns and
// indexes from the schema rowsets and creates tables with plain DDL; the
// schema-information result sets; and the maps between ADO types and the
// layer's data-type codes.
//
// A dialect derives from TAdoDb: it opens the connection (after the base's
// DoOpen), names the DBMS's types, answers its schema name (CachedSchemaName
// keeps it per connection), creates its table definitions and quotes the name
// of a table it drops. The layer's SQL reaches the connection
// as written ("[T].[C]" names, "?" markers); a dialect whose DBMS reads other
// quoting rewrites the command text after TAdoSQLCommand::DoPrepare.
//
// Failures of the ADO objects are ado::EAdoError with the provider's message;
// the statement base wraps those of preparing and executing into
// EUdbException with the statement text (and the values).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UdbProject/UdbDefs.h"
#include "UdbProject/UdbStdImpl.h"
#include "UdbProject/UdbUtils.h"
#include "platform/ado/Ado.h"

// ---- texts --------------------------------------------------------------------------------

namespace AdoMsg {
inline constexpr const char* ConnectionAlreadyClosed = "Connection already closed";
inline constexpr const char* SchemaNameDatabaseClosed = "Can't get schema name: database close";
inline constexpr const char* RecordsetNotInitialized = "Recordset not initialized";
inline constexpr const char* BlobOfUnknownType = "GetBlob return value of unknown type";
inline constexpr const char* TableDefNotInitialized = "Object TableDef not initialized";
inline constexpr const char* UnknownColumnName = "Unknown column name for table \"%s\"";
inline constexpr const char* UnknownDataType = "Unknown data type for column: \"%s\", table: \"%s\"";
inline constexpr const char* UnknownIndexName = "Unknown index name";
inline constexpr const char* UnknownIndexFieldName = "Unknown index field name, for table \"%s\"";
inline constexpr const char* NoFields = "Table \"%s\" cannot be created without fields";
} // namespace AdoMsg

// ---- type maps and value helpers ------------------------------------------------------------

// The default map from an ADO type (with its long flag, precision and scale)
// to a data-type code; 0 when there is none.
TUdbDataType DefaultAdoTypeToDataType(std::int32_t adoType, bool isLong, std::int32_t precision,
                                      std::int32_t scale) noexcept;
// The ADO parameter type of a data-type code (by its base type); -1 when none.
std::int32_t DataTypeToAdoType(TUdbDataType dataType) noexcept;

// The default for Null and Empty, else the value converted (a value that
// does not convert raises the conversion error).
std::int32_t VarToIntegerDef(const rtl::Variant& v, std::int32_t defaultValue);
bool VarToBooleanDef(const rtl::Variant& v, bool defaultValue);
// The text as UTF-8 (the wide strings of the original platform are UTF-8
// std::string here; the name is kept as callers know it).
std::string VarToWideStringDef(const rtl::Variant& v, const std::string& defaultValue);
// Null for Null and Empty, else the value as the variant type.
rtl::Variant VarCastOrNull(const rtl::Variant& v, rtl::TVarType varType);

// ---- database -------------------------------------------------------------------------------

class TAdoDb : public TUdb {
public:
    // The connection, made with the object and kept for its life.
    ado::Connection& Connection() const noexcept { return *connection_; }
    // ADO transactions begun and not ended: 0 or 1.
    std::int32_t TransactionLevel() const noexcept { return transactionLevel_; }

    // The DBMS's type name for a data-type code, without a size.
    virtual std::string DataTypeToSQL(TUdbDataType dataType) = 0;
    // The data-type code of a column or value described the ADO way (typeName
    // "" when the caller has none); 0 when there is none.
    virtual TUdbDataType AdoTypeToDataType(const std::string& typeName, std::int32_t adoType, bool isLong,
                                           std::int32_t precision, std::int32_t scale) = 0;
    // The schema that restricts the schema rowsets: Empty (no restriction)
    // here; rtl::Exception AdoMsg::SchemaNameDatabaseClosed while not connected.
    virtual rtl::Variant GetSchemaName();

protected:
    TAdoDb();
    // Rolls back an open transaction and disconnects.
    ~TAdoDb() override;

    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    // The time-outs from the parameters "command-timeout" (30) and
    // "connection-timeout" (15); the dialect then opens the connection.
    void DoOpen() override;
    // Forgets the schema name, rolls back an open transaction (the level goes
    // to 0), then closes the connection.
    void DoClose() override;
    // drop table <QuotedTableName>, the name checked first (CheckSqlName), run
    // directly on the connection.
    void DoDropTable(const std::string& name) override;
    // "[name]"; a dialect whose DBMS quotes otherwise answers its own.
    virtual std::string QuotedTableName(const std::string& name);
    // For a dialect's GetSchemaName: the first value the query answers, read
    // once per connection after the base's GetSchemaName (which refuses a
    // closed database); Empty when it answers no row.
    rtl::Variant CachedSchemaName(const char* query);
    bool GetConnected() override;
    bool GetInTransaction() override;
    void DoStartTransaction() override;
    void DoCommit() override;
    void DoRollback() override;
    // Kinds 0 to 3 from the schema rowsets; nullptr for any other.
    rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) override;
    bool DoTableExists(const std::string& name) override;

private:
    rtl::RefPtr<ado::Connection> connection_;
    std::int32_t transactionLevel_ = 0;
    rtl::Variant schemaName_ = rtl::Variant::Null(); // Null: not read yet
};

// ---- statements and cursors ------------------------------------------------------------------

class TAdoCursor;

class TAdoSQLCommand : public TUdbSQLCommand {
public:
    explicit TAdoSQLCommand(TAdoDb* db);

    // nullptr until prepared.
    ado::Command* Command() const noexcept { return command_.get(); }
    TAdoDb& GetAdoDb() const;

protected:
    ~TAdoSQLCommand() override = default;

    // A new ADO command on the connection with the text, the prepared flag
    // and one nullable input parameter per type.
    void DoPrepare() override;
    rtl::RefPtr<IUdbCursor> DoExecute(const rtl::Variant* values, std::int32_t count,
                                      std::int32_t& rowsAffected) override;
    virtual rtl::RefPtr<TAdoCursor> CreateCursor();
    // Sets the parameter's value; a dialect that changes the parameter's
    // definition sets reprepare.
    virtual void SetParamValue(std::int32_t index, const rtl::Variant& value, bool& reprepare);

private:
    rtl::RefPtr<ado::Command> command_;
};

class TAdoCursor : public TUdbCursor {
public:
    explicit TAdoCursor(TAdoDb* db);

    void SetRecordset(ado::Recordset* recordset);
    TAdoDb& GetAdoDb() const;

protected:
    ~TAdoCursor() override = default;

    bool GetIsNull(std::int32_t index) override;
    bool GetBoolean(std::int32_t index) override;
    std::int32_t GetInteger(std::int32_t index) override;
    double GetFloat(std::int32_t index) override;
    rtl::Currency GetCurrency(std::int32_t index) override;
    double GetDateTime(std::int32_t index) override;
    std::string GetString(std::int32_t index) override;
    rtl::Variant GetBlob(std::int32_t index) override;
    rtl::Variant GetVariant(std::int32_t index) override;
    std::int32_t GetFieldCount() override;
    // Ignoring the case of ASCII letters.
    std::int32_t GetFieldIndex(const std::string& name) override;
    std::string GetFieldName(std::int32_t index) override;
    TUdbDataType GetFieldType(std::int32_t index) override;
    std::int32_t GetDataSize(std::int32_t index) override;
    bool GetEof() override;
    void DoNext() override;
    // Drops the recordset.
    void DoClose() override;

private:
    ado::Field& FieldAt(std::int32_t index);
    rtl::RefPtr<ado::Recordset> recordset_;
};

// ---- table definitions -----------------------------------------------------------------------

class TAdoTableDef : public TUdbTableDef {
public:
    TAdoTableDef(TAdoDb* db, bool caseSensitiveNames);

    const bool CaseSensitiveNames;

    TAdoDb& GetAdoDb() const;
    // "[name] type" and " NOT NULL" for a required field.
    std::string FieldDeclaration(const TFieldDef& field);
    // CREATE [UNIQUE] INDEX [name] ON [table] ([A],[B]) through a command.
    void CreateIndex(const std::string& tableName, const TIndexDef& index);
    // ALTER TABLE [table] ADD PRIMARY KEY ([A],[B]) for a primary index, else CreateIndex.
    void CreateIndexOrKey(const std::string& tableName, const TIndexDef& index);
    // ALTER TABLE [table] DROP CONSTRAINT [name] for a primary index, else DropIndexSQL.
    void DropIndex(const std::string& table, const TIndexDef& index);

protected:
    ~TAdoTableDef() override = default;

    // Runs a statement through a command of the layer.
    void Exec(const std::string& sql);

    // The statement that drops an index other than the primary key:
    // DROP INDEX [table].[name] here.
    virtual std::string DropIndexSQL(const std::string& table, const std::string& indexName);
    // Names the indexes of a definition about to be created: nothing here.
    virtual void NameNewIndexes(TTableDef& def);
    // A dialect's creation: a copy of def goes to CreateNamedTable.
    void CreateTableFromCopy(const std::string& name, const TTableDef& def, bool withIndexes);
    // NameNewIndexes on def, every name of def and name checked
    // (CheckTableDefNames, CheckSqlName), then the base's DoCreateTable.
    void CreateNamedTable(const std::string& name, TTableDef& def, bool withIndexes);
    // The column lists of copying rows for map: "[new],..." and, in the same
    // order, FieldCopyExpression of each item.
    void FieldCopyLists(const TUdbFieldMap& map, std::string& columns, std::string& values);
    // What a copied column is filled from: "[old]" here.
    virtual std::string FieldCopyExpression(const TUdbFieldMapItem& item);

    // CREATE TABLE with the fields and, withIndexes, the primary key, then
    // CREATE INDEX for every other index; when an index fails the table is
    // dropped again. A definition without fields is refused before any SQL.
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override;
    // Columns and indexes from the schema rowsets, each put in order of position.
    void DoReadTableDef(const std::string& name, TTableDef& def) override;
};

// "([A],[B])": the index's fields in brackets, in parentheses.
std::string IndexColumnList(const TIndexDef& index);
// The first column of the first row the query returns; Empty when it returns none.
rtl::Variant QueryFirstValue(ado::Connection& connection, const std::string& sql);

// The type of a column in DDL: the dialect's name, with "(size)" for String only.
std::string ColumnTypeText(TAdoDb& db, TUdbDataType dataType, std::int32_t size);

// A field read with its ordinal position (-1 unknown) until the fields are put in order.
class TFieldDefWithPosition {
public:
    TFieldDefWithPosition(std::unique_ptr<TFieldDef> fieldDef, std::int32_t position) noexcept
        : FieldDef(std::move(fieldDef)), Position(position)
    {
    }
    std::unique_ptr<TFieldDef> FieldDef;
    std::int32_t Position;
};

class TFieldDefWithPositionList {
public:
    void Add(std::unique_ptr<TFieldDef> fieldDef, std::int32_t position);
    std::vector<TFieldDefWithPosition>& Items() noexcept { return items_; }

private:
    std::vector<TFieldDefWithPosition> items_;
};

// The order of position of entries read with these positions: a permutation
// of 0..n-1 listing known positions ascending (equal positions in arrival
// order), then the unknown ones (-1) in arrival order.
std::vector<std::size_t> OrderOfPosition(const std::vector<std::int32_t>& positions);

// ---- schema information ----------------------------------------------------------------------

// The 226 reserved words of ADO drivers, upper case.
extern const std::array<const char*, 226> AdoReservedWords;

rtl::RefPtr<IUdbCursor> AdoRelationsCursor(TAdoDb& db, const rtl::Variant& schemaName);
rtl::RefPtr<IUdbCursor> AdoLiteralInfoCursor(TAdoDb& db);
// The built-in words, then the provider's keywords that differ from every
// word kept so far (ignoring ASCII case); sorted by ordinal comparison of
// their upper-cased ASCII text.
rtl::RefPtr<IUdbCursor> AdoReservedWordsCursor(TAdoDb& db);
rtl::RefPtr<IUdbCursor> AdoDataTypesCursor(TAdoDb& db);
// The first provider type named typeName (ignoring ASCII case): its ADO type,
// size and scales (Null kept) and long flag; false, with the values left as
// they were (the variants cleared), when there is none.
bool FindProviderType(TAdoDb& db, const std::string& typeName, std::int32_t& adoType, rtl::Variant& columnSize,
                      rtl::Variant& minScale, rtl::Variant& maxScale, rtl::Variant& isLong);
