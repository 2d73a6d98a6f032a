// The SQL Server dialect of the ADO driver base: the database TMSSQLDb, the
// table definition TMSSQLTableDef and the statement TMSSQLSQLCommand.
//
// The connection goes through the provider "SQLOLEDB", which the ADO layer
// maps to FreeTDS's ODBC driver with a pinned TDS version. The dialect adds
// the type names, the current schema (SELECT SCHEMA_NAME(), kept per
// connection), index names <table>_Ind<n>, and the change of an existing
// table's structure inside one transaction: in place (dropped and renamed
// columns, a renamed table, changed indexes) or by rebuilding the table
// through a copy <table>_TMP<n> (added columns, changed types, sizes,
// required flags or positions). Any failure rolls the whole change back.
//
// Every table, column and index name is checked (CheckSqlName) before a
// statement that holds it is built: the names stand inside "[...]" and, for
// sp_rename and the row copy, inside string literals.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "UdbProject/AdoUdbs.h"
#include "UdbProject/UdbDefs.h"

class TMSSQLDb : public TAdoDb {
public:
    TMSSQLDb() = default;

    // bit, Int, Float, Money, datetime, varchar, text, image by base type; a
    // code outside the data-type table fails with that table's message.
    std::string DataTypeToSQL(TUdbDataType dataType) override;
    // The base's default map.
    TUdbDataType AdoTypeToDataType(const std::string& typeName, std::int32_t adoType, bool isLong,
                                   std::int32_t precision, std::int32_t scale) override;
    // The default schema of the login, read once per connection; Empty when
    // the server answers no row.
    rtl::Variant GetSchemaName() override;

protected:
    ~TMSSQLDb() override = default;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    // The base's time-outs, then the provider and its properties
    // (SetMsSqlConnectionProperties with the database), then the connection
    // is opened.
    void DoOpen() override;
};

// The provider "SQLOLEDB" and its properties from the connection parameters
// that param answers: "Data Source" from "server", with withDatabase
// "Initial Catalog" from "database", "Integrated Security" from
// "authentication" when that is not empty, "User ID" from "login-name",
// "Password" from "login-password".
void SetMsSqlConnectionProperties(ado::Connection& connection,
                                  const std::function<std::string(const char*)>& param, bool withDatabase);

class TMSSQLTableDef : public TAdoTableDef {
public:
    explicit TMSSQLTableDef(TMSSQLDb* db);

    // Names the non-primary indexes of def <table>_Ind1, <table>_Ind2, ...
    // (table = def's name) in list order, skipping any name an index of other
    // has (ignoring Latin case).
    static void NameIndexes(TTableDef& def, const TTableDef* other);

    // EXECUTE sp_rename 'old', 'new'.
    void RenameTable(const std::string& oldName, const std::string& newName);

protected:
    ~TMSSQLTableDef() override = default;

    // Names the indexes (of a copy of def), then the base's creation.
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override;
    // The whole change in one transaction, rolled back on any failure.
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override;
    // NameIndexes with no other definition.
    void NameNewIndexes(TTableDef& def) override;
    // The old column, in CONVERT(type,...) when its type or size changed.
    std::string FieldCopyExpression(const TUdbFieldMapItem& item) override;

private:
    void AlterInPlace(const TTableDef& asRead, const TTableDef& edited, const TTableModificationInfo& mods);
    void RebuildTable(const TTableDef& asRead, TTableDef& edited);
    void CopyTableData(const std::string& source, const std::string& dest, const TUdbFieldMap& map);
};

class TMSSQLSQLCommand : public TAdoSQLCommand {
public:
    explicit TMSSQLSQLCommand(TMSSQLDb* db) : TAdoSQLCommand(db) {}

protected:
    ~TMSSQLSQLCommand() override = default;

    // A varchar parameter grows to the length of its value (1 at least, 1 for
    // Null) and asks for a new preparation when it grew; sizes never shrink.
    void SetParamValue(std::int32_t index, const rtl::Variant& value, bool& reprepare) override;
};
