// A recording implementation of the ADO-like objects (platform/ado/Ado.h),
// for testing the drivers of servers that cannot run here on what they send.
//
// While a TRecorder lives, ado::NewConnection and ado::NewCommand make its
// objects. Every call that sets something or does something writes one line
// of the transcript (getters write none):
//   Connection.Provider := 'SQLOLEDB'
//   Connection.Properties['Data Source'].Value := 'srv'
//   Connection.Open('', '', '', -1)
//   Connection.Execute(adCmdText+adExecuteNoRecords): drop table [T]
//   Connection.OpenSchema(adSchemaTables, [Empty, 'dbo', 'T', Empty])
//   Connection.BeginTrans / CommitTrans / RollbackTrans / Close
//   Command.CommandText := 'SELECT ...'      Command.Prepared := True
//   Command.CreateParameter('', adVarChar, adParamInput, -1, Empty) -> Parameter#0
//   Parameter#0.Size := 25                   Parameter#0.Value := 'abc'
//   Command.Execute(adCmdText): SELECT ... with ('abc', Null)
// Values are written as Empty, Null, True/False, 'text' (quotes doubled),
// <n bytes> or the number. A statement that is made to fail has " -> fails"
// at the end of its line.
//
// Statements (Command.Execute and Connection.Execute) answer from scripted
// replies by their exact text, and otherwise with no rows. The schema rowsets
// answer from a scripted catalog, filtered by the restrictions given (exact
// comparison; Empty leaves a restriction out), with the OLE DB column names
// the drivers read. The catalog does not change when statements run.
//
// The recorder is safe to use from several threads (the database-name lookup
// runs on one of its own); its objects keep its state alive after it is gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/Ado.h"

namespace adorec {

struct TColumn {
    std::string Name;
    std::int32_t Type = ado::adInteger; // DATA_TYPE
    std::int32_t Length = 0;            // CHARACTER_MAXIMUM_LENGTH; 0 gives Null
    std::int32_t Precision = 0;         // NUMERIC_PRECISION; 0 gives Null (and a Null scale)
    std::int32_t Scale = 0;             // NUMERIC_SCALE
    bool Nullable = true;
    bool Long = false; // the ISLONG column flag
};

struct TIndex {
    std::string Name;
    std::vector<std::string> Columns;
    bool Primary = false; // PRIMARY_KEY of its rows
    bool Unique = false;
};

struct TTable {
    std::string Schema;
    std::string Name;
    std::vector<TColumn> Columns;
    std::vector<TIndex> Indexes;
    // The rows of the primary-keys rowset; empty: the columns of the first
    // index marked primary.
    std::vector<std::string> PrimaryKey;
    std::string Type = "TABLE";
};

struct TProviderType {
    std::string Name;
    std::int32_t Type = 0;
    rtl::Variant ColumnSize = rtl::Variant::Null();
    rtl::Variant MinimumScale = rtl::Variant::Null();
    rtl::Variant MaximumScale = rtl::Variant::Null();
    bool Long = false;
};

struct TCatalog {
    std::vector<TTable> Tables;
    std::vector<std::string> Databases; // the catalogs rowset
    std::vector<TProviderType> ProviderTypes;
    std::vector<std::string> Keywords;
    // MAXLEN of the table, column and index name literals.
    std::int32_t MaxNameLength = 128;
};

// What a statement answers: named columns and their rows.
struct TReply {
    std::vector<std::string> Columns;
    std::vector<std::vector<rtl::Variant>> Rows;
};

// The message of the failure made for the statement numbered n.
std::string FailureMessage(int n);

class TRecorder {
public:
    // Puts the recording implementation in place.
    TRecorder();
    // Puts back the implementation it replaced.
    ~TRecorder();
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // The catalog, to be filled before the objects use it.
    TCatalog& Catalog();
    // The answer to the statement with exactly this text.
    void Reply(const std::string& statement, TReply reply);
    // The n-th statement run from now on (1: the next) fails with
    // ado::EAdoError(FailureMessage(its number)). Several may be set.
    void FailStatement(int n);
    // Every Open from now on fails with this message after its line.
    void FailOpen(const std::string& message);
    // Every Open from now on takes this long.
    void DelayOpen(std::chrono::milliseconds delay);

    std::vector<std::string> Transcript() const;
    // The lines of the statements run (Command.Execute, Connection.Execute)
    // and of the transactions.
    std::vector<std::string> Statements() const;
    // Forgets the transcript; statements are numbered from 1 again.
    void Clear();
    // Statements run since construction or Clear.
    int StatementCount() const;
    // Connections of this recorder that still exist.
    int LiveConnections() const;
    // Waits until no connection of this recorder exists; false after timeout.
    bool WaitForNoConnections(std::chrono::milliseconds timeout) const;
    // The connection string the implementation over unixODBC would be given
    // for the last connection opened (its provider and properties).
    std::string ConnectionString() const;

    struct TState;

private:
    class TImpl;
    std::shared_ptr<TState> state_;
    std::unique_ptr<TImpl> impl_;
    ado::Implementation* previous_ = nullptr;
};

} // namespace adorec
