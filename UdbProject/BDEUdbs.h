// The access layer over the BDE-like engine of platform/bde: the database,
// table-definition, statement and cursor classes that every driver on that
// engine shares, the maps between the engine's field types and the layer's
// data types, the reserved words, and the two schema result sets the engine
// can answer by itself ("Relations" and "ReservedWords").
//
// What depends on the engine driver in use (the factories of table
// definitions and commands, connecting, the other schema kinds) is left to the
// driver class derived from TBDEUdb (PdoxUdbs.h).
//
// Statements: the layer's "[T].[C]" names become OpenQuote/CloseQuote names
// and its "?" markers become ":PARAM0", ":PARAM1", ... before the engine sees
// them. A command shares its query with the cursors opened on it through a
// counted holder (TRefDataSet); executing the command again while a cursor is
// open gives the command a fresh query, so the cursor keeps reading its rows.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/RefObjects.h"
#include "UdbProject/UdbDefs.h"
#include "UdbProject/UdbUtils.h"
#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeQuery.h"
#include "platform/bde/BdeSession.h"
#include "platform/bde/BdeTable.h"
#include "platform/bde/BdeTypes.h"

// ---- names, words and type maps ----------------------------------------------------

// Raised by one for every TBDEUdb made; makes session and database names
// unique within the process.
extern std::atomic<std::int32_t> BdeNameCounter;

// The reserved words of the engine's SQL, in the engine's own order.
extern const std::array<const char*, 215> BdeReservedWords;

TUdbDataType BdeFieldTypeToDataType(bde::TFieldType type) noexcept;
// By the base type only: Date and Time give date-time, Picture and Document blob.
bde::TFieldType DataTypeToBdeFieldType(TUdbDataType type) noexcept;
// The size handed to the engine for a new field: size for String, Memo and
// Binary, 0 for every other type.
std::int32_t BdeFieldSize(std::int32_t size, TUdbDataType type) noexcept;
// Primary and unique as the index says; nullptr fails "Object not initialized".
bde::TIndexOptions BdeIndexOptions(const TIndexDef* index);

// ---- statement text ---------------------------------------------------------------

// Every "?" outside a quoted literal (apostrophes or double quotes) becomes
// ":PARAM" followed by a running number from 0.
std::string ConvertParamMarkers(std::string_view sql);
// Whether the statement, trimmed of blanks and control characters and
// upper-cased, begins with "SELECT".
bool IsSelectStatement(std::string_view sql);

// ---- index names ------------------------------------------------------------------

// The name a new table's index gets: its field for a one-field index,
// otherwise the first of "Ind0", "Ind1", ... that is neither the name of an
// index of def nor one of given (the names handed out before).
std::string BdeNewIndexName(const TTableDef& def, const TIndexDef& index, const std::vector<std::string>& given,
                            bool caseSensitive);
// The name an index read without one gets: table + "_PK" for the primary
// index; otherwise "<table>_I<n>" with n raised past every name in taken, and
// once more after the name is handed out.
std::string BdeUnnamedIndexName(const std::string& table, bool primary, std::int32_t& n,
                                const std::vector<std::string>& taken);

// ---- database ---------------------------------------------------------------------

// A database on the engine: a session and a database object of its own,
// named "VelmoSession<n>" and "VelmoDb<n>" with n from BdeNameCounter.
class TBDEUdb : public TUdb, public IUdbJoinedTransactions {
public:
    // Another database on the engine, in this folder or another.
    bool JoinTransactionsOf(IUdb* outer) override;

    // Two databases on one folder share its transaction (bde::TBdeDatabase):
    // when the other one rolls it back, every level of this one's is over.
    // StartTransaction is then refused and Commit fails, both with the
    // engine's message, until Commit or Rollback ends it here.
    void StartTransaction() override;
    void Commit() override;
    void Rollback() override;

    bde::TBdeSession& Session() const noexcept { return *Session_; }
    bde::TBdeDatabase& Database() const noexcept { return *Database_; }

    // A new table object on this database's session and database names, with
    // that table name and blob caching off.
    virtual std::unique_ptr<bde::TBdeTable> NewTableComponent(const std::string& tableName);
    // A new query object on this database's names: live results requested,
    // forward-only reading, blob caching off, parameters parsed from the SQL.
    virtual std::unique_ptr<bde::TBdeQuery> NewQueryComponent();

protected:
    TBDEUdb();
    // Frees the database object, then the session (DoClose is not called).
    ~TBDEUdb() override;

    void DoClose() override;
    bool GetConnected() override;
    bool GetInTransaction() override;
    void DoStartTransaction() override;
    void DoCommit() override;
    void DoRollback() override;
    bool DoTableExists(const std::string& name) override;
    void DoDropTable(const std::string& name) override;

private:
    std::unique_ptr<bde::TBdeSession> Session_;
    std::unique_ptr<bde::TBdeDatabase> Database_;
};

// ---- table definitions -------------------------------------------------------------

class TBDETableDef : public TUdbTableDef {
public:
    // caseSensitiveNames: whether names of fields and indexes compare exactly.
    TBDETableDef(TBDEUdb* db, bool caseSensitiveNames);

    const bool CaseSensitiveNames;

    // Renames the table in place.
    void RenameTable(const std::string& oldName, const std::string& newName);

protected:
    ~TBDETableDef() override = default;

    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override;
    void DoReadTableDef(const std::string& name, TTableDef& def) override;
    // A change of the name alone renames the table in place; any other change
    // rebuilds it through a copy named "<old name>_TMP<n>", and a failure on
    // the way puts the old table back under its old name.
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override;

private:
    TBDEUdb& BdeDb() const;
    void RebuildTable(const TTableDef& asRead, const TTableDef& edited);
    // Every row of the source, the mapped fields copied by value.
    void CopyTableData(const std::string& srcName, const std::string& dstName, const TUdbFieldMap& fieldMap);
};

// ---- statements and cursors --------------------------------------------------------

// The holder of one query object, shared by a command and the cursors opened
// on it; the query goes with the last reference.
class TRefDataSet : public TRefObject {
public:
    explicit TRefDataSet(std::unique_ptr<bde::TBdeQuery> dataSet) noexcept : DataSet(std::move(dataSet)) {}

    const std::unique_ptr<bde::TBdeQuery> DataSet;

protected:
    ~TRefDataSet() override = default;
};

class TBDESQLCommand : public TUdbSQLCommand {
public:
    // openQuote and closeQuote replace "[" and "]" of the layer's SQL.
    TBDESQLCommand(TBDEUdb* db, char openQuote, char closeQuote);

    // The query of the next execution.
    bde::TBdeQuery& Query() const noexcept { return *QueryHolder->DataSet; }
    // Whether the statement returns rows (set by preparing).
    bool IsSelect() const noexcept { return IsSelect_; }

    // When a cursor still holds the current query, the command takes a fresh
    // one (with the old one's SQL text and parameters when copyStatement);
    // otherwise nothing happens.
    void DetachQuery(bool copyStatement);

protected:
    ~TBDESQLCommand() override = default;

    void DoPrepare() override;
    rtl::RefPtr<IUdbCursor> DoExecute(const rtl::Variant* values, std::int32_t count,
                                      std::int32_t& rowsAffected) override;

private:
    TBDEUdb& BdeDb() const;
    void SetBdeParam(bde::TBdeParam& param, const rtl::Variant& value);

    rtl::RefPtr<TRefDataSet> QueryHolder;
    bool IsSelect_ = false;
    const char OpenQuote;
    const char CloseQuote;
};

// Reads the rows of the query it was opened on; keeps that query until it is
// destroyed.
class TBDESQLCursor : public TUdbCursor {
public:
    TBDESQLCursor(TUdb* db, TRefDataSet* holder);

    // The query's field at that position.
    virtual bde::TBdeField& GetField(std::int32_t index);

protected:
    ~TBDESQLCursor() override;

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
    std::int32_t GetFieldIndex(const std::string& name) override;
    std::string GetFieldName(std::int32_t index) override;
    TUdbDataType GetFieldType(std::int32_t index) override;
    // Blob fields: the blob's size (a memo's in characters); string fields:
    // the characters of the value; others: the engine's data size.
    std::int32_t GetDataSize(std::int32_t index) override;
    bool GetEof() override;
    void DoNext() override;
    void DoClose() override;

private:
    rtl::RefPtr<TRefDataSet> QueryHolder;
};

// ---- schema result sets ------------------------------------------------------------

// "Relations": one row per table of the database (system tables excluded).
rtl::RefPtr<IUdbCursor> BdeRelationsCursor(TBDEUdb& db);
// "ReservedWords": one row per word of BdeReservedWords, in list order.
rtl::RefPtr<IUdbCursor> BdeReservedWordsCursor(TBDEUdb& db);
