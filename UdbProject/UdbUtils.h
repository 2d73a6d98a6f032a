// Base classes of the database access layer: TUdb (IUdb), TUdbTableDef
// (IUdbTableDef), TUdbSQLCommand (IUdbSQLCommand) and TUdbCursor (IUdbCursor),
// with their common base TUdbObject.
//
// The bases hold every rule that does not depend on the engine: open and
// closed states, the nested transaction counter, the checks each operation
// runs first, detaching statements, cursors and table definitions when the
// database closes, the virtual parameters of an open database, the editing of
// table structures in memory, and the wrapping of statement failures into
// EUdbException with the statement text. A driver derives from them and fills
// the small virtual operations whose names begin with Do, Get or Create.
//
// Lifetime: a child (TUdbObject) holds its database with one counted
// reference; the database's list of children is uncounted. Closing the
// database detaches every child (it drops its reference and forgets the
// database); a detached child fails every checked call with the
// closed-database message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/SimpleParams.h"
#include "UdbProject/UdbMessages.h"
#include "UdbProject/Udbs.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Variant.h"

class TTableDef; // UdbDefs.h
class TUdb;
class TUdbTableDef;
class TUdbSQLCommand;
class TUdbCursor;

// ---- TUdbObject -------------------------------------------------------------------

// Everything a database hands out: table definitions, statements, cursors.
class TUdbObject : public virtual rtl::RefCounted {
public:
    TUdbObject(const TUdbObject&) = delete;
    TUdbObject& operator=(const TUdbObject&) = delete;

    // The owning database; nullptr once detached.
    TUdb* Db() const noexcept { return db_.get(); }
    // EUdbException UdbMsg::DatabaseClosed when detached or the database is not open.
    void CheckDb() const;
    // Leaves the database's children, drops the reference on it and forgets
    // it (what closing the database does to every child). A detached object
    // never attaches again.
    void Detach() noexcept;

protected:
    // db must be given (assertion UdbMsg::ObjectNotInitialized); takes a
    // reference on it and joins its children.
    explicit TUdbObject(TUdb* db);
    ~TUdbObject() override;

private:
    friend class TUdb;
    rtl::RefPtr<TUdb> db_;
};

// ---- TUdb -------------------------------------------------------------------------

// How a database of a driver's class is made (the registry of drivers keeps
// one per driver name). The database comes back closed, with count 1 held by
// the returned pointer. UdbClassOf<TMyDb> gives the factory of a class.
using TUdbClass = rtl::RefPtr<TUdb> (*)();

template <class T>
rtl::RefPtr<TUdb> CreateUdbOf()
{
    return rtl::RefPtr<TUdb>(new T());
}

template <class T>
constexpr TUdbClass UdbClassOf() noexcept
{
    return &CreateUdbOf<T>;
}

class TUdb : public IUdb {
public:
    TUdb(const TUdb&) = delete;
    TUdb& operator=(const TUdb&) = delete;

    // ---- IUdb
    // Loads the parameter document (a parse error passes on and leaves the
    // database as it was), closes, then connects through DoOpen. Any later
    // failure leaves the database closed and passes on.
    void Open(const std::string& params) override;
    // Disconnects (DoClose while connected), forgets the parameter document,
    // resets the transaction count and detaches every child.
    void Close() override;
    bool IsOpen() override;
    bool InTransaction() override;
    // Only the outermost level reaches the engine.
    void StartTransaction() override;
    // The outermost commit reaches the engine and closes every cursor.
    void Commit() override;
    // Ends every level at once; reaches the engine only while the engine is in
    // a transaction; closes every cursor. Nothing happens outside a transaction.
    void Rollback() override;
    rtl::RefPtr<IUdbSQLCommand> CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                              std::int32_t paramCount, bool prepared) override;
    rtl::RefPtr<IUdbCursor> GetSchemaInfo(TUdbSchemaKind kind) override;
    rtl::RefPtr<IUdbTableDef> GetTableDef(const std::string& name) override;
    bool TableExists(const std::string& name) override;
    void DropTable(const std::string& name) override;
    rtl::RefPtr<ISimpleParams> GetParams() override;

    // ---- for drivers and children
    // EUdbException UdbMsg::DatabaseClosed when the database is not open.
    void CheckOpen();
    // The connection parameters; while open its Node is the root element of
    // the parameter document given to Open, otherwise nullptr.
    TSimpleParams& Params() const noexcept { return *params_; }
    // When the last Open succeeded.
    rtl::TDateTime OpenDateTime() const noexcept { return openDateTime_; }
    // Nesting depth of transactions, 0 outside one.
    std::int32_t TransactionCount() const noexcept { return transactionCount_; }
    // The attached children, in creation order.
    const std::vector<TUdbObject*>& Children() const noexcept { return children_; }

protected:
    // Creates the parameter list (AutoCreate on, OnGetValue bound to
    // GetVirtualParam); the database starts closed with no transaction.
    TUdb();
    // Detaches what is left and unbinds the parameter list (which may outlive
    // the database through GetParams). DoClose is not called here: a driver
    // that still holds a connection releases it in its own destructor.
    ~TUdb() override;

    // Answers "Udb\DriverName", "Udb\DriverCaption", "Udb\OpenDatetime" and
    // "Udb\DriverLibrary" while the database is open; value arrives Empty
    // and leaves Null when nothing is answered.
    virtual bool GetVirtualParam(TSimpleParams& sender, const std::string& name, rtl::Variant& value);

    // A new table definition / statement of the driver's class on this database.
    virtual rtl::RefPtr<TUdbTableDef> CreateTableDef() = 0;
    virtual rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() = 0;
    // Connect, reading the connection parameters from Params().
    virtual void DoOpen() = 0;
    // Disconnect; GetConnected must be false afterwards. What happens to an
    // engine transaction still open is the driver's.
    virtual void DoClose() = 0;
    virtual bool GetConnected() = 0;
    // Whether the engine is inside a transaction.
    virtual bool GetInTransaction() = 0;
    virtual void DoStartTransaction() = 0;
    virtual void DoCommit() = 0;
    virtual void DoRollback() = 0;
    // The result set of a schema-information kind with the columns of
    // SchemaKindColumns (usually a TInMemoryCursor), nullptr when the driver
    // does not support the kind.
    virtual rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) = 0;
    virtual bool DoTableExists(const std::string& name) = 0;
    virtual void DoDropTable(const std::string& name) = 0;
    // An address inside the module that holds the driver's code; "Udb\DriverLibrary"
    // is the file of that module. The default points into the module that holds
    // these base classes. A driver built into a library overrides it with the
    // address of something of its own (a function or a static object).
    virtual const void* ModuleAddress() const noexcept;

private:
    friend class TUdbObject;
    void DetachChildren() noexcept;
    void CloseChildCursors();

    std::vector<TUdbObject*> children_;
    rtl::RefPtr<TSimpleParams> params_;
    rtl::TDateTime openDateTime_ = 0;
    std::int32_t transactionCount_ = 0;
};

// ---- TUdbTableDef -----------------------------------------------------------------

// The editable structure of one table. Only Read, Apply and Refresh touch the
// database; every other operation edits the in-memory definition alone. Like
// every use of a detached object, each fails with the closed-database message
// once the database has closed.
class TUdbTableDef : public TUdbObject, public IUdbTableDef {
public:
    explicit TUdbTableDef(TUdb* db);

    // ---- IUdbTableDef
    TUdbFieldDef GetFieldDef(std::int32_t index) override;
    void SetFieldDef(std::int32_t index, const TUdbFieldDef& def, bool renameInIndexes) override;
    void AddField(const TUdbFieldDef& def) override;
    void DeleteField(std::int32_t index, bool fromIndexes) override;
    std::int32_t FieldIndex(const std::string& name) override;
    void MoveField(std::int32_t curIndex, std::int32_t newIndex) override;
    std::int32_t FieldCount() override;
    TUdbIndexDef GetIndexDef(std::int32_t index) override;
    void SetIndexDef(std::int32_t index, const TUdbIndexDef& def) override;
    void AddIndex(const TUdbIndexDef& def) override;
    void DeleteIndex(std::int32_t index) override;
    std::int32_t FindIndex(const std::string& fields) override;
    std::int32_t IndexCount() override;
    std::string GetTableName() override;
    void SetTableName(const std::string& name) override;
    bool IsModified() override;
    // Creates or alters the table, then re-reads it.
    void Apply() override;
    // Re-reads the table as read last, dropping unapplied edits.
    void Refresh() override;

    // Reads the table's structure into both definitions; a blank name leaves
    // both empty (a definition for a new table).
    void Read(const std::string& name);
    // The structure as edited, and as last read from the database.
    TTableDef& Edited() const noexcept { return *edited_; }
    TTableDef& AsRead() const noexcept { return *asRead_; }

protected:
    ~TUdbTableDef() override;

    // Create the table name with the fields of def, and its indexes when withIndexes.
    virtual void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) = 0;
    // Fill the empty def with the table's name, fields and indexes in the
    // database's order, each item added with Id -1.
    virtual void DoReadTableDef(const std::string& name, TTableDef& def) = 0;
    // Change the existing table from the asRead structure to the edited one.
    virtual void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) = 0;

private:
    std::unique_ptr<TTableDef> edited_;
    std::unique_ptr<TTableDef> asRead_;
};

// ---- TUdbSQLCommand ---------------------------------------------------------------

// A prepared statement. Failures of preparing and executing reach the caller
// as EUdbException carrying the statement text (and, for execution, the
// parameter values); failures of the base's own checks are not wrapped.
class TUdbSQLCommand : public TUdbObject, public IUdbSQLCommand {
public:
    explicit TUdbSQLCommand(TUdb* db);

    // Called by TUdb::CreateCommand right after the command is made.
    // paramTypes points to count codes (nullptr for none).
    void Prepare(const std::string& sql, const TUdbDataType* paramTypes, std::int32_t count, bool prepared);

    // ---- IUdbSQLCommand
    using IUdbSQLCommand::Execute;
    rtl::RefPtr<IUdbCursor> Execute(const rtl::Variant* values, std::int32_t count) override;
    std::int32_t RowsAffected() override;

    // The checks Execute runs on the values before the driver sees them.
    void CheckParams(const rtl::Variant* values, std::int32_t count) const;

    const std::string& SQL() const noexcept { return sql_; }
    const TUdbDataTypeArray& ParamTypes() const noexcept { return paramTypes_; }
    // The caller's wish to have the statement prepared by the engine.
    bool Prepared() const noexcept { return prepared_; }

protected:
    ~TUdbSQLCommand() override = default;

    // Prepare SQL() for the engine.
    virtual void DoPrepare() = 0;
    // Run the statement with the values (already checked), set rowsAffected,
    // and return a cursor on the rows, nullptr when it yields none.
    virtual rtl::RefPtr<IUdbCursor> DoExecute(const rtl::Variant* values, std::int32_t count,
                                              std::int32_t& rowsAffected) = 0;

private:
    TUdbDataTypeArray paramTypes_;
    std::string sql_;
    std::int32_t rowsAffected_ = 0;
    bool prepared_ = false;
};

// The parameter part of an execution failure: "(Empty Values list)" for
// nullptr values, otherwise one line (each beginning with CR LF) per declared
// type, such as String(OleStr)[3]="abc". values holds paramTypes.size() values.
std::string FormatParamValues(const TUdbDataTypeArray& paramTypes, const rtl::Variant* values);
// The value as text, cut to maxLen characters followed by "..." when maxLen > 0
// and the text is longer. A value that has no text gives "".
std::string VarToDisplayStr(const rtl::Variant& value, int maxLen);

// ---- TUdbCursor -------------------------------------------------------------------

// A forward-only result. The base resolves fields given by position or name
// and checks each call; the driver's getters receive a checked position.
class TUdbCursor : public TUdbObject, public IUdbCursor {
public:
    explicit TUdbCursor(TUdb* db);

    // ---- IUdbCursor
    bool IsNull(const rtl::Variant& field) override;
    bool AsBoolean(const rtl::Variant& field, bool defaultValue) override;
    std::int32_t AsInteger(const rtl::Variant& field, std::int32_t defaultValue) override;
    double AsFloat(const rtl::Variant& field, double defaultValue) override;
    rtl::Currency AsCurrency(const rtl::Variant& field, rtl::Currency defaultValue) override;
    double AsDateTime(const rtl::Variant& field, double defaultValue) override;
    std::string AsString(const rtl::Variant& field, const std::string& defaultValue) override;
    rtl::Variant AsBlob(const rtl::Variant& field) override;
    rtl::Variant GetValue(const rtl::Variant& field) override;
    std::string FieldName(std::int32_t index) override;
    TUdbDataType FieldType(const rtl::Variant& field) override;
    std::int32_t DataSize(const rtl::Variant& field) override;
    std::int32_t FieldIndex(const std::string& name) override;
    std::int32_t FieldCount() override;
    void Next() override;
    // Answered also when detached.
    bool Eof() override;
    // Always calls DoClose (also at the end of the rows, and when detached).
    void Close() override;

    // The field's position: an integer (or Boolean) variant is the position, a
    // text variant a name; EUdbException for Null/Empty and for a field that
    // does not exist.
    std::int32_t ResolveField(const rtl::Variant& field);
    // EUdbException UdbMsg::CursorClosed at the end of the rows.
    void CheckNotEof();

protected:
    ~TUdbCursor() override = default;

    // index: a checked zero-based position on the current row.
    virtual bool GetIsNull(std::int32_t index) = 0;
    virtual bool GetBoolean(std::int32_t index) = 0;
    virtual std::int32_t GetInteger(std::int32_t index) = 0;
    virtual double GetFloat(std::int32_t index) = 0;
    virtual rtl::Currency GetCurrency(std::int32_t index) = 0;
    virtual double GetDateTime(std::int32_t index) = 0;
    virtual std::string GetString(std::int32_t index) = 0;
    // Null or a byte array.
    virtual rtl::Variant GetBlob(std::int32_t index) = 0;
    virtual rtl::Variant GetVariant(std::int32_t index) = 0;
    virtual std::int32_t GetFieldCount() = 0;
    // -1 when absent.
    virtual std::int32_t GetFieldIndex(const std::string& name) = 0;
    virtual std::string GetFieldName(std::int32_t index) = 0;
    virtual TUdbDataType GetFieldType(std::int32_t index) = 0;
    virtual std::int32_t GetDataSize(std::int32_t index) = 0;
    // True when there is no current row (past the last row, or closed).
    virtual bool GetEof() = 0;
    virtual void DoNext() = 0;
    // Release the rows; afterwards GetEof is true. Called by every Close, so
    // it must tolerate being called again on a closed cursor, and on one whose
    // database is gone (Db() nullptr).
    virtual void DoClose() = 0;
};

// ---- helpers ----------------------------------------------------------------------

// The full file name of the module (program or shared library) that holds
// the given address; nullptr means the module of this unit.
std::string ModuleFileName(const void* addressInModule = nullptr);

// s with every character outside quoted literals that occurs in chars replaced
// by the string at the same position in replacements (first match wins). An
// apostrophe or a double quotation mark opens a literal that the next same
// character closes; the literal and its opening quote are copied unchanged,
// the closing quote is looked up like any character outside. The two lists
// must have the same length (assertion UdbMsg::InvalidParameters).
std::string ReplaceCharsOutsideQuotes(std::string_view s, std::u32string_view chars,
                                      const std::vector<std::string>& replacements);
