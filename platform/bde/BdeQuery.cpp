// Query objects over the database's SQL engine.
#include "platform/bde/BdeQuery.h"

#include <sqlite3.h>

#include <limits>

#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeSqlDialect.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SNoRows = "The statement returns no rows; run it with ExecSQL: %s";
constexpr const char* SChangesData = "The statement changes data; run it with ExecSQL: %s";
constexpr const char* SNoValue = "No value for parameter \"%s\" in statement: %s";
constexpr const char* SBadValue = "Parameter \"%s\" (%s) cannot take the value %s: %s";

void BindText(sqlite3_stmt* stmt, int index, const std::string& text)
{
    sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void BindBytes(sqlite3_stmt* stmt, int index, const rtl::Variant& v)
{
    if (v.IsByteArray()) {
        const rtl::ByteArray& b = v.AsBytes();
        if (b.empty()) sqlite3_bind_zeroblob(stmt, index, 0);
        else sqlite3_bind_blob64(stmt, index, b.data(), b.size(), SQLITE_TRANSIENT);
    } else {
        const std::string s = v.AsString();
        sqlite3_bind_blob64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT);
    }
}

// A value without a field type: by its own type.
void BindNatural(sqlite3_stmt* stmt, int index, const rtl::Variant& v)
{
    switch (v.VarType()) {
    case rtl::varBoolean: sqlite3_bind_int(stmt, index, v.AsBoolean() ? 1 : 0); break;
    case rtl::varSmallint: case rtl::varInteger: case rtl::varShortInt: case rtl::varByte: case rtl::varWord:
    case rtl::varLongWord: case rtl::varInt64:
        sqlite3_bind_int64(stmt, index, v.AsInt64());
        break;
    case rtl::varSingle: case rtl::varDouble: case rtl::varCurrency: case rtl::varDate:
        sqlite3_bind_double(stmt, index, v.AsDouble());
        break;
    case rtl::varByteArray: BindBytes(stmt, index, v); break;
    default: BindText(stmt, index, v.AsString()); break;
    }
}

void BindParam(sqlite3_stmt* stmt, int index, const TBdeParam& p)
{
    const rtl::Variant& v = p.Value();
    if (v.IsNull()) {
        sqlite3_bind_null(stmt, index);
        return;
    }
    switch (p.DataType()) {
    case ftString: case ftFixedChar: case ftWideString: case ftMemo:
        if (v.IsByteArray()) BindText(stmt, index, std::string(v.AsBytes().begin(), v.AsBytes().end()));
        else BindText(stmt, index, v.AsString());
        break;
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint:
        sqlite3_bind_int64(stmt, index, v.AsInt64());
        break;
    case ftBoolean: sqlite3_bind_int(stmt, index, v.AsBoolean() ? 1 : 0); break;
    case ftFloat: case ftBCD: case ftFMTBcd: sqlite3_bind_double(stmt, index, v.AsDouble()); break;
    case ftCurrency:
        sqlite3_bind_double(stmt, index, static_cast<double>(v.AsCurrency().scaled) / 10000.0);
        break;
    case ftDate: case ftTime: case ftDateTime: case ftTimeStamp:
        sqlite3_bind_double(stmt, index, v.AsDateTime());
        break;
    case ftBytes: case ftVarBytes: case ftBlob: case ftGraphic: case ftFmtMemo: case ftParadoxOle:
    case ftDBaseOle: case ftTypedBinary: case ftOraBlob: case ftOraClob:
        BindBytes(stmt, index, v);
        break;
    default: BindNatural(stmt, index, v); break;
    }
}

// The field type of an expression column, from its value on the first row.
TFieldType TypeOfValue(sqlite3_stmt* stmt, int column, bool onRow)
{
    if (!onRow) return ftUnknown;
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 n = sqlite3_column_int64(stmt, column);
        return n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max()
                   ? ftInteger
                   : ftLargeint;
    }
    case SQLITE_FLOAT: return ftFloat;
    case SQLITE_TEXT: return ftString;
    case SQLITE_BLOB: return ftBlob;
    default: return ftUnknown;
    }
}

} // namespace

TBdeQuery::~TBdeQuery()
{
    Close();
    stmt_.reset();
}

void TBdeQuery::SetSQL(std::string sql)
{
    Close();
    UnPrepare();
    sql_ = std::move(sql);
    params_.Clear();
    if (paramCheck_)
        for (std::string& name : BdeParseParamNames(sql_)) params_.Add(std::move(name));
}

void TBdeQuery::Assign(const TBdeQuery& other)
{
    SetSQL(other.sql_);
    params_.Assign(other.params_);
}

sqlite3_stmt* TBdeQuery::Statement()
{
    TBdeSqlEngine& engine = AttachDatabase().Sql();
    if (!stmt_ || schemaVersion_ != engine.SchemaVersion()) {
        stmt_.reset();
        const std::uint64_t version = engine.SchemaVersion();
        stmt_ = engine.Prepare(sql_);
        schemaVersion_ = version;
    }
    return stmt_.get();
}

void TBdeQuery::Prepare()
{
    try {
        Statement();
    } catch (...) {
        EndRun();
        throw;
    }
    prepared_ = true;
}

void TBdeQuery::UnPrepare() noexcept
{
    Close();
    prepared_ = false;
    stmt_.reset();
    Detach();
}

void TBdeQuery::Bind(sqlite3_stmt* stmt)
{
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count; ++i) {
        const char* marker = sqlite3_bind_parameter_name(stmt, i);
        const std::string name = marker && *marker ? marker + 1 : "";
        // The first parameter of the name that has a value gives it.
        const TBdeParam* param = nullptr;
        for (int k = 0; k < params_.Count() && !(param && param->Bound()); ++k)
            if (rtl::SameTextLatin(params_[k].Name(), name)) param = &params_[k];
        if (!param || !param->Bound()) throw EBdeError(rtl::Format(SNoValue, name.c_str(), sql_.c_str()));
        try {
            BindParam(stmt, i, *param);
        } catch (const rtl::Exception& e) {
            throw EBdeError(rtl::Format(SBadValue, name.c_str(), FieldTypeName(param->DataType()),
                                        rtl::VarToStr(param->Value()).c_str(), e.what()));
        }
    }
}

void TBdeQuery::MakeFields(sqlite3_stmt* stmt)
{
    fields_.clear();
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        int size = 0;
        TFieldType type = DeclTypeToFieldType(sqlite3_column_decltype(stmt, i), size);
        if (type == ftUnknown) type = TypeOfValue(stmt, i, !eof_);
        const char* name = sqlite3_column_name(stmt, i);
        fields_.push_back(std::make_unique<TBdeField>(*this, i, name ? name : "", type, size, false));
    }
}

void TBdeQuery::Open()
{
    if (active_) return;
    try {
        TBdeSqlEngine& engine = AttachDatabase().Sql();
        sqlite3_stmt* stmt = Statement();
        if (sqlite3_column_count(stmt) == 0) throw EBdeError(rtl::Format(SNoRows, sql_.c_str()));
        if (!sqlite3_stmt_readonly(stmt)) throw EBdeError(rtl::Format(SChangesData, sql_.c_str()));
        Bind(stmt);
        eof_ = !engine.Step(stmt, sql_);
        MakeFields(stmt);
    } catch (...) {
        if (stmt_) sqlite3_reset(stmt_.get());
        eof_ = true;
        EndRun();
        throw;
    }
    active_ = true;
    rowsAffected_ = 0;
}

void TBdeQuery::ExecSQL()
{
    Close();
    try {
        TBdeSqlEngine& engine = AttachDatabase().Sql();
        sqlite3_stmt* stmt = Statement();
        Bind(stmt);
        if (sqlite3_stmt_readonly(stmt)) {
            engine.Step(stmt, sql_);
            rowsAffected_ = 0;
        } else {
            rowsAffected_ = engine.RunWrite(stmt, sql_);
        }
    } catch (...) {
        if (stmt_) sqlite3_reset(stmt_.get());
        EndRun();
        throw;
    }
    sqlite3_reset(stmt_.get());
    EndRun();
}

void TBdeQuery::Next()
{
    if (Eof()) return;
    try {
        eof_ = !Attached()->Sql().Step(stmt_.get(), sql_);
    } catch (...) {
        eof_ = true;
        throw;
    }
}

void TBdeQuery::Close()
{
    if (!active_) return;
    active_ = false;
    eof_ = true;
    fields_.clear();
    if (stmt_) sqlite3_reset(stmt_.get());
    EndRun();
}

void TBdeQuery::EndRun() noexcept
{
    if (prepared_) return;
    stmt_.reset();
    Detach();
}

void TBdeQuery::DatabaseClosing() noexcept
{
    active_ = false;
    eof_ = true;
    fields_.clear();
    prepared_ = false;
    stmt_.reset();
    Detach();
}

std::string TBdeQuery::Describe() const { return "Query \"" + sql_ + "\""; }

rtl::Variant TBdeQuery::FieldValue(int index) const
{
    if (!active_ || eof_) return rtl::Variant::Null();
    sqlite3_stmt* stmt = stmt_.get();
    switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER: return rtl::Variant(static_cast<std::int64_t>(sqlite3_column_int64(stmt, index)));
    case SQLITE_FLOAT: return rtl::Variant(sqlite3_column_double(stmt, index));
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
        return rtl::Variant(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, index))));
    }
    case SQLITE_BLOB: {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, index));
        const int n = sqlite3_column_bytes(stmt, index);
        return rtl::Variant(p && n > 0 ? rtl::ByteArray(p, p + n) : rtl::ByteArray());
    }
    default: return rtl::Variant::Null();
    }
}

} // namespace bde
