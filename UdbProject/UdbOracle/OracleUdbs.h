// The Oracle dialect of the ADO driver base: the database TOracleDb, the
// table definition TOracleDbTableDef and the statement TOracleSQLCommand.
//
// The connection goes through the provider "OraOLEDB.Oracle", which the ADO
// layer maps to the Oracle ODBC driver named by PARVANE_ORACLE_ODBC_DRIVER
// ("Oracle" when unset); opening fails with a message naming the driver when
// no such driver is registered.
//
// The dialect adds the type names (a Boolean is NUMBER(1,0) and reads back as
// one), the current schema (SELECT USER FROM DUAL, kept per connection), a
// fixed answer to the data-types query, the primary key of a table whose
// provider does not mark it, statements sent with every "[" and "]" outside
// quoted literals turned into double quotes, index names <table>_IND<hex> of
// at most 30 characters that no index of the database has, and the change of
// an existing table's structure. Oracle commits DDL by itself, so a change
// runs without a transaction and undoes its own steps when one fails: a
// rebuild goes through a saved copy <table>_SAVE<n> that is renamed back, a
// new table is dropped again, a rename is reversed.
//
// Every table, column and index name is checked (CheckSqlName) before a
// statement that holds it is built.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UdbProject/AdoUdbs.h"
#include "UdbProject/UdbDefs.h"

// The longest index name the dialect makes.
inline constexpr std::int32_t OracleMaxIndexNameLength = 30;

class TOracleDb : public TAdoDb {
public:
    TOracleDb() = default;

    // NUMBER(1,0), NUMBER(10,0), NUMBER, NUMBER(20,4), DATE, VARCHAR2, CLOB,
    // BLOB by base type; "" for any other.
    std::string DataTypeToSQL(TUdbDataType dataType) override;
    // A decimal or numeric of precision 1 and scale 0 is Boolean; the rest is
    // the base's default map.
    TUdbDataType AdoTypeToDataType(const std::string& typeName, std::int32_t adoType, bool isLong,
                                   std::int32_t precision, std::int32_t scale) override;
    // The connected user, read once per connection; Empty when the server
    // answers no row.
    rtl::Variant GetSchemaName() override;

protected:
    ~TOracleDb() override = default;

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override;
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override;
    // The base's time-outs, then the provider and its properties from the
    // parameters "service-name", "login-name" and "login-password", then the
    // connection is opened.
    void DoOpen() override;
    // The data types (kind 3) are a fixed list of eight; the other kinds the base's.
    rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) override;
    // "name": a table is dropped as drop table "name".
    std::string QuotedTableName(const std::string& name) override;
};

class TOracleDbTableDef : public TAdoTableDef {
public:
    TOracleDbTableDef(TOracleDb* db, std::int32_t maxNameLength);

    const std::int32_t MaxNameLength;

    TOracleDb& GetOracleDb() const;

    // Names the non-primary indexes of def (MakeIndexName on def's name), each
    // name new in the database and in this call.
    void NameIndexes(TTableDef& def);
    // <table>_IND00, _IND01, ... (upper-case hexadecimal, two digits at least),
    // the table name cut so that the whole fits MaxNameLength: the first name
    // that used does not hold (ignoring Latin case) and no index of the
    // database has. With addToUsed the result, and every name found taken in
    // the database, join used.
    std::string MakeIndexName(const std::string& table, std::vector<std::string>* used, bool addToUsed);
    bool IndexNameExists(const std::string& name, std::vector<std::string>* used, bool addToUsed);

    // ALTER TABLE "old" RENAME TO "new".
    void RenameTable(const std::string& oldName, const std::string& newName);

protected:
    ~TOracleDbTableDef() override = default;

    // Names the indexes (of a copy of def), then the base's creation.
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override;
    // The base's read, then the primary key from the primary-keys rowset when
    // no index read is marked primary: the index whose fields are exactly the
    // key's, or else the first index holding all of them.
    void DoReadTableDef(const std::string& name, TTableDef& def) override;
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override;
    // DROP INDEX [name].
    std::string DropIndexSQL(const std::string& table, const std::string& indexName) override;
    // def's name checked (CheckSqlName), then NameIndexes.
    void NameNewIndexes(TTableDef& def) override;

private:
    void RebuildTable(const TTableDef& asRead, TTableDef& edited, const TTableModificationInfo& mods);
    void CopyIntoNewTable(const std::string& source, const TTableDef& asRead, TTableDef& edited);
    void CopyTableData(const std::string& source, const std::string& dest, const TUdbFieldMap& map);
    void AlterInPlace(const TTableDef& asRead, const TTableDef& edited, const TTableModificationInfo& mods);
    void ApplyIndexChanges(const TTableDef& asRead, const TTableDef& edited, const TTableModificationInfo& mods);
};

class TOracleSQLCommand : public TAdoSQLCommand {
public:
    explicit TOracleSQLCommand(TOracleDb* db) : TAdoSQLCommand(db) {}

protected:
    ~TOracleSQLCommand() override = default;

    // The base's command, its text with "[" and "]" outside quoted literals
    // turned into double quotes, and the parameters adjusted by their full
    // data-type code: Boolean a signed integer and Currency a signed double,
    // both of size 0; Integer, Float and DateTime size 0; the others size -1.
    void DoPrepare() override;
};
