// The fault-injecting database wrapper and its command.
#include "tests/support/FaultyUdb.h"

#include <utility>

#include "UdbProject/UdbMessages.h"
#include "UdbProject/UdbUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

// Worded as the SQLite test driver words its own injected failures.
constexpr const char* kInjectedStatementFailure = "Injected failure of a statement execution";
constexpr const char* kInjectedCommitFailure = "Injected failure of a commit";

// One step of a countdown: true when it reaches 0 now.
bool CountDown(int& countdown) noexcept { return countdown > 0 && --countdown == 0; }

} // namespace

// A command of the inner database with the wrapper's fault checks in front of Execute.
class TFaultyCommand : public IUdbSQLCommand {
public:
    TFaultyCommand(TFaultyUdb* db, rtl::RefPtr<IUdbSQLCommand> inner, std::string sql, TUdbDataTypeArray paramTypes)
        : db_(db), inner_(std::move(inner)), sql_(std::move(sql)), paramTypes_(std::move(paramTypes))
    {
    }

    using IUdbSQLCommand::Execute;
    rtl::RefPtr<IUdbCursor> Execute(const rtl::Variant* values, std::int32_t count) override
    {
        // What the inner command refuses before running is refused as it
        // refuses it, uncounted.
        if (auto* base = dynamic_cast<TUdbSQLCommand*>(inner_.get())) {
            base->CheckDb();
            base->CheckParams(values, count);
        } else if (static_cast<std::size_t>(count) != paramTypes_.size()) {
            return inner_->Execute(values, count);
        }
        if (db_->CountExecution(sql_))
            // The inner base class wraps a failure of its execution the same way.
            throw EUdbException(rtl::Format(UdbMsg::ExecuteFailed, sql_.c_str(),
                                            FormatParamValues(paramTypes_, values).c_str(),
                                            kInjectedStatementFailure));
        return inner_->Execute(values, count);
    }

    std::int32_t RowsAffected() override { return inner_->RowsAffected(); }

protected:
    ~TFaultyCommand() override = default;

private:
    rtl::RefPtr<TFaultyUdb> db_;
    rtl::RefPtr<IUdbSQLCommand> inner_;
    std::string sql_;
    TUdbDataTypeArray paramTypes_;
};

TFaultyUdb::TFaultyUdb(rtl::RefPtr<IUdb> inner) : inner_(std::move(inner))
{
    RTL_ASSERT(inner_, rtl::SAssertionFailed);
}

void TFaultyUdb::FailStatement(int n) noexcept { failStatementCountdown_ = n > 0 ? n : 0; }

void TFaultyUdb::FailStatementsContaining(std::string piece) { failPiece_ = std::move(piece); }

void TFaultyUdb::FailCommit(int n) noexcept { failCommitCountdown_ = n > 0 ? n : 0; }

void TFaultyUdb::ClearFaults() noexcept
{
    failStatementCountdown_ = 0;
    failPiece_.clear();
    failCommitCountdown_ = 0;
}

bool TFaultyUdb::CountExecution(std::string_view sql)
{
    ++executions_;
    const bool nth = CountDown(failStatementCountdown_);
    return nth || (!failPiece_.empty() && sql.find(failPiece_) != std::string_view::npos);
}

bool TFaultyUdb::InnerInTransaction() { return inner_->IsOpen() && inner_->InTransaction(); }

std::int32_t TFaultyUdb::Depth()
{
    if (auto* base = dynamic_cast<TUdb*>(inner_.get())) return base->TransactionCount();
    return depth_;
}

void TFaultyUdb::Open(const std::string& params)
{
    inner_->Open(params);
    depth_ = 0;
}

void TFaultyUdb::Close()
{
    depth_ = 0;
    inner_->Close();
}

bool TFaultyUdb::IsOpen() { return inner_->IsOpen(); }

bool TFaultyUdb::JoinTransactionsOf(IUdb* outer)
{
    auto* inner = dynamic_cast<IUdbJoinedTransactions*>(inner_.get());
    if (!inner) return false;
    if (auto* wrapper = dynamic_cast<TFaultyUdb*>(outer)) outer = wrapper->Inner().get();
    return inner->JoinTransactionsOf(outer);
}

bool TFaultyUdb::InTransaction() { return inner_->InTransaction(); }

void TFaultyUdb::StartTransaction()
{
    const bool nested = InnerInTransaction();
    inner_->StartTransaction();
    depth_ = nested ? depth_ + 1 : 1;
}

void TFaultyUdb::Commit()
{
    // Depth 0 inside a transaction: levels begun directly on a database that
    // is not a TUdb are unknown here, and count as one.
    if (InnerInTransaction() && Depth() <= 1) {
        ++commits_;
        if (CountDown(failCommitCountdown_)) throw EUdbException(kInjectedCommitFailure);
    }
    try {
        inner_->Commit();
    } catch (...) {
        if (!InnerInTransaction()) depth_ = 0;
        throw;
    }
    if (depth_ > 0) --depth_;
}

void TFaultyUdb::Rollback()
{
    depth_ = 0;
    inner_->Rollback();
}

rtl::RefPtr<IUdbSQLCommand> TFaultyUdb::CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                                      std::int32_t paramCount, bool prepared)
{
    rtl::RefPtr<IUdbSQLCommand> inner = inner_->CreateCommand(sql, paramTypes, paramCount, prepared);
    TUdbDataTypeArray types;
    if (paramTypes && paramCount > 0) types.assign(paramTypes, paramTypes + paramCount);
    return rtl::MakeRef<TFaultyCommand>(this, std::move(inner), sql, std::move(types));
}

rtl::RefPtr<IUdbCursor> TFaultyUdb::GetSchemaInfo(TUdbSchemaKind kind) { return inner_->GetSchemaInfo(kind); }

rtl::RefPtr<IUdbTableDef> TFaultyUdb::GetTableDef(const std::string& name) { return inner_->GetTableDef(name); }

bool TFaultyUdb::TableExists(const std::string& name) { return inner_->TableExists(name); }

void TFaultyUdb::DropTable(const std::string& name) { inner_->DropTable(name); }

rtl::RefPtr<ISimpleParams> TFaultyUdb::GetParams() { return inner_->GetParams(); }

rtl::RefPtr<TFaultyUdb> WrapFaulty(rtl::RefPtr<IUdb> inner) { return rtl::MakeRef<TFaultyUdb>(std::move(inner)); }
