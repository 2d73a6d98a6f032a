// The query object: one SQL statement of the local dialect with ":NAME"
// parameters, run by the database's SQL engine; a statement with rows is
// opened and read forward, any other is executed.
//
// Setting the SQL text closes and unprepares the query and, with parameter
// parsing on, makes one parameter per ":NAME" in the text in order of
// appearance. Values are bound by name: a name that occurs twice takes the
// value of the first of its parameters that has one. A query that is not prepared is prepared
// for each open or execution and unprepared after it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bde/BdeDataSets.h"
#include "platform/bde/BdeVirtualTables.h"

namespace bde {

class TBdeQuery final : public TBdeDataSet {
public:
    TBdeQuery() = default;
    ~TBdeQuery() override;

    bool RequestLive() const noexcept { return requestLive_; }
    void SetRequestLive(bool value) noexcept { requestLive_ = value; }
    bool UniDirectional() const noexcept { return uniDirectional_; }
    void SetUniDirectional(bool value) noexcept { uniDirectional_ = value; }
    bool ParamCheck() const noexcept { return paramCheck_; }
    void SetParamCheck(bool value) noexcept { paramCheck_ = value; }

    const std::string& SQL() const noexcept { return sql_; }
    void SetSQL(std::string sql);
    TBdeParams& Params() noexcept { return params_; }
    const TBdeParams& Params() const noexcept { return params_; }
    // The SQL text of `other`, then its parameters (definitions and values).
    void Assign(const TBdeQuery& other);

    // EBdeError (naming the statement) when SQLite refuses it or it names a
    // table the folder does not have.
    void Prepare();
    void UnPrepare() noexcept;
    bool Prepared() const noexcept { return prepared_; }

    // Runs a statement with rows and stands on its first row; EBdeError for a
    // statement without rows. Failures of the tables pass through unchanged.
    void Open();
    // Runs a statement to its end as one unit (its changes all stay or all go).
    void ExecSQL();
    // Rows the last execution inserted, changed or deleted (0 after Open).
    int RowsAffected() const noexcept { return rowsAffected_; }

    bool Eof() const override { return !active_ || eof_; }
    void Next() override;
    void Close() override;

    void DatabaseClosing() noexcept override;
    std::string Describe() const override;

private:
    rtl::Variant FieldValue(int index) const override;
    sqlite3_stmt* Statement();
    void Bind(sqlite3_stmt* stmt);
    void MakeFields(sqlite3_stmt* stmt);
    void EndRun() noexcept;

    std::string sql_;
    TBdeParams params_;
    bool requestLive_ = false;
    bool uniDirectional_ = false;
    bool paramCheck_ = true;
    bool prepared_ = false;
    bool eof_ = true;
    int rowsAffected_ = 0;
    TSqliteStmtPtr stmt_;
    std::uint64_t schemaVersion_ = 0;
};

} // namespace bde
