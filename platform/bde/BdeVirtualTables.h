// SQL over the tables of a folder: a private in-memory SQLite connection in
// which every table of the store is a virtual table, created the first time
// a statement names it.
//
// Keyed access: a statement whose WHERE part gives every field of the primary
// key by equality reads that one record through the key (and tells SQLite it
// visits at most one row); equality on leading fields of the primary key or
// of a secondary index reads only the records the index finds. Everything
// else scans. SQLite checks every condition again on the rows it gets, so a
// loose index (case-insensitive) never gives a wrong result.
//
// Columns: each field is declared with a type that names its Paradox type
// and carries SQLite's affinity ("ALPHA TEXT(20)", "LONG INTEGER",
// "TIMESTAMP REAL", "BINARY BLOB(10)", ...): text as UTF-8, integers and
// Booleans (1/0) as integers, numbers, money and BCD as reals, dates, times
// and timestamps as reals counting days since 1899-12-30, memos as text,
// other blobs as blobs, blank fields as NULL.
//
// A writing statement is one unit: outside a transaction it runs in a
// transaction of its own, and when it fails on the way the rows it changed
// are put back before the failure passes on.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/BdeStore.h"
#include "platform/bde/BdeTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace bde {

// Owns a prepared statement.
struct TSqliteStmtDeleter {
    void operator()(sqlite3_stmt* stmt) const noexcept;
};
using TSqliteStmtPtr = std::unique_ptr<sqlite3_stmt, TSqliteStmtDeleter>;

// The field type and size a column's declared type names; ftUnknown for a
// column that is not a field of a table (an expression).
TFieldType DeclTypeToFieldType(const char* declType, int& size) noexcept;

class TBdeSqlEngine {
public:
    explicit TBdeSqlEngine(IBdeTableStore& store);
    ~TBdeSqlEngine();
    TBdeSqlEngine(const TBdeSqlEngine&) = delete;
    TBdeSqlEngine& operator=(const TBdeSqlEngine&) = delete;

    IBdeTableStore& Store() noexcept { return store_; }

    // Prepares a statement of the local dialect (translated for SQLite here),
    // creating the virtual tables it names. EBdeError names the statement.
    TSqliteStmtPtr Prepare(const std::string& sql);
    // One step: true on a row, false at the end; the failure of a table or of
    // SQLite otherwise.
    bool Step(sqlite3_stmt* stmt, const std::string& sql);
    // Runs a writing statement to its end as one unit; the rows it changed.
    int RunWrite(sqlite3_stmt* stmt, const std::string& sql);

    // Before a table is dropped, renamed or created: its virtual table goes,
    // so that the next statement naming it sees the files as they are then.
    // EBdeError when an open query still reads it.
    void ForgetTable(const std::string& name);
    // Counts every ForgetTable: a statement prepared before must be prepared again.
    std::uint64_t SchemaVersion() const noexcept { return schemaVersion_; }

    // Row ids read before a rollback mean nothing after it: open cursors then
    // fail on their next row instead of reading other records.
    void InvalidateRows() noexcept { ++generation_; }
    // A change failed: unless it was refused before any file was touched, the
    // engine has read its tables again.
    void ChangeFailed(const std::exception_ptr& failure) noexcept;
    std::uint64_t Generation() const noexcept { return generation_; }

    // Records the virtual tables have handed to SQLite since the engine was
    // made (a keyed statement adds 1, a scan every record of the table).
    std::uint64_t RowsVisited() const noexcept { return rowsVisited_; }

    // ---- for the virtual tables ----
    void CountVisit() noexcept { ++rowsVisited_; }
    void SetPending(std::exception_ptr failure) noexcept;
    // Rows changed by the running statement, with what puts each back.
    void NoteInsert(IBdeStoreTable& table, TBdeRowId row);
    void NoteUpdate(IBdeStoreTable& table, TBdeRowId row, std::vector<std::pair<int, rtl::Variant>> old);
    void NoteDelete(IBdeStoreTable& table, std::vector<rtl::Variant> old);
    // Lets the table's row ids go when the running statement ends.
    void ReleaseAtEnd(IBdeStoreTable& table);
    bool Recording() const noexcept { return recording_; }
    void CountChange() noexcept { ++changes_; }
    sqlite3* Handle() const noexcept { return db_; }
    struct TVtabInfo;
    void VtabOpened(TVtabInfo* vtab);
    void VtabClosed(TVtabInfo* vtab) noexcept;

private:
    struct TUndo;
    void CreateVirtualTable(const std::string& name);
    [[noreturn]] void RaiseSqlite(const std::string& sql, int rc);
    bool UndoStatement() noexcept;
    // Forgets the running statement's undo, letting its row ids go.
    void ClearUndo() noexcept;
    void ExecInternal(const std::string& sql);
    static int Authorize(void* engine, int action, const char*, const char*, const char*, const char*);

    IBdeTableStore& store_;
    sqlite3* db_ = nullptr;
    std::exception_ptr pending_;
    std::vector<TVtabInfo*> vtabs_; // every virtual table SQLite holds
    std::vector<TUndo> undo_;
    std::vector<IBdeStoreTable*> releaseAtEnd_;
    bool recording_ = false;
    bool internal_ = false; // the engine runs its own statement
    int changes_ = 0;
    std::uint64_t schemaVersion_ = 0;
    std::uint64_t generation_ = 0;
    std::uint64_t rowsVisited_ = 0;
};

} // namespace bde
