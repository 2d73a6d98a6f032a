// Base classes of the database access layer: the rules every driver shares
// (states, checks, transactions, detaching, virtual parameters, table
// definitions edited in memory, statement failures wrapped with their text).
// The messages themselves stand in UdbMessages.h.
#include "UdbProject/UdbUtils.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDefs.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Names of the virtual parameters of an open database.
constexpr const char* kParamDriverName = "Udb\\DriverName";
constexpr const char* kParamDriverCaption = "Udb\\DriverCaption";
constexpr const char* kParamOpenDatetime = "Udb\\OpenDatetime";
constexpr const char* kParamDriverLibrary = "Udb\\DriverLibrary";

// Words of the parameter lines of an execution failure.
constexpr const char* kEmptyValuesList = "(Empty Values list)";
constexpr int kDisplayStrLength = 100;

// Any object of this unit: its address tells the module the base classes live in.
const char kModuleMarker = 0;

// The first maxChars code points of a UTF-8 text.
std::string_view FirstChars(std::string_view text, std::size_t maxChars) noexcept
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

// The value's text, "" for a value that has none (Null, a byte array, ...):
// used while a failure message is composed, where a second failure must not
// replace the first.
std::string SafeText(const rtl::Variant& value) noexcept
{
    try {
        return rtl::VarToStr(value);
    } catch (...) {
        return std::string();
    }
}

bool IsIntegerKind(rtl::TVarType type) noexcept
{
    switch (type) {
    case rtl::varSmallint: case rtl::varInteger: case rtl::varShortInt: case rtl::varByte:
    case rtl::varWord: case rtl::varLongWord: case rtl::varInt64: case rtl::varBoolean:
        return true;
    default:
        return false;
    }
}

const char* BaseTypeWord(TUdbDataType type) noexcept
{
    switch (BaseDataType(type)) {
    case udtBoolean: return "Boolean";
    case udtInteger: return "Integer";
    case udtFloat: return "Float";
    case udtCurrency: return "Currency";
    case udtDateTime: return "DateTime";
    case udtString: return "String";
    case udtMemo: return "Memo";
    case udtBinary: return "BLOB";
    default: return "Unknown";
    }
}

} // namespace

// ---- TUdbObject -------------------------------------------------------------------

TUdbObject::TUdbObject(TUdb* db)
{
    RTL_ASSERT(db != nullptr, UdbMsg::ObjectNotInitialized);
    db_ = db;
    db->children_.push_back(this);
}

TUdbObject::~TUdbObject() { Detach(); }

void TUdbObject::CheckDb() const
{
    if (!db_ || !db_->IsOpen()) throw EUdbException(UdbMsg::DatabaseClosed);
}

void TUdbObject::Detach() noexcept
{
    if (!db_) return;
    auto& list = db_->children_;
    const auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) list.erase(it);
    db_ = nullptr; // may free the database: nothing of it is touched afterwards
}

// ---- TUdb -------------------------------------------------------------------------

TUdb::TUdb() : params_(new TSimpleParams(true))
{
    params_->OnGetValue = [this](TSimpleParams& sender, const std::string& name, rtl::Variant& value) {
        return GetVirtualParam(sender, name, value);
    };
}

TUdb::~TUdb()
{
    // The list may outlive the database through GetParams.
    params_->OnGetValue = nullptr;
    try {
        params_->SetNode(nullptr);
    } catch (...) {
    }
    // Every child holds a reference, so none can be left once the count is
    // 0; forget any anyway without touching this dying object again.
    for (TUdbObject* child : children_) (void)child->db_.Detach();
    children_.clear();
}

void TUdb::CheckOpen()
{
    if (!IsOpen()) throw EUdbException(UdbMsg::DatabaseClosed);
}

void TUdb::Open(const std::string& params)
{
    const IXmlDocumentPtr doc = CreateXmlDocument({}, "1.0");
    doc->LoadXML(params);
    Close();
    try {
        const IXmlElementPtr root = doc->Get_DocumentElement();
        RTL_ASSERT(root, UdbMsg::EmptyXmlDocument);
        params_->SetNode(root);
        DoOpen();
        openDateTime_ = rtl::Now();
    } catch (...) {
        // The first failure is the one the caller hears about.
        try {
            Close();
        } catch (...) {
        }
        params_->SetNode(nullptr);
        throw;
    }
}

void TUdb::Close()
{
    // Detaching drops the children's references: keep this object alive to the end.
    const rtl::RefPtr<TUdb> self = children_.empty() ? nullptr : this;
    if (IsOpen()) DoClose();
    params_->SetNode(nullptr);
    transactionCount_ = 0;
    DetachChildren();
}

void TUdb::DetachChildren() noexcept
{
    std::vector<TUdbObject*> children;
    children.swap(children_);
    for (TUdbObject* child : children) child->db_ = nullptr;
}

bool TUdb::IsOpen() { return GetConnected(); }

bool TUdb::InTransaction()
{
    CheckOpen();
    return GetInTransaction();
}

namespace {
void CheckTransactionMode(bool engineInTransaction, std::int32_t count)
{
    const bool consistent = engineInTransaction ? count > 0 : count == 0;
    RTL_ASSERT(consistent, UdbMsg::InvalidTransactionMode);
}
} // namespace

void TUdb::StartTransaction()
{
    CheckOpen();
    const bool engine = GetInTransaction();
    CheckTransactionMode(engine, transactionCount_);
    if (!engine) DoStartTransaction();
    ++transactionCount_;
}

void TUdb::Commit()
{
    CheckOpen();
    const bool engine = GetInTransaction();
    CheckTransactionMode(engine, transactionCount_);
    if (!engine) throw EUdbException(UdbMsg::NotInTransaction);
    if (--transactionCount_ == 0) {
        try {
            DoCommit();
        } catch (...) {
            // The engine's transaction is still open when its commit fails
            // (SQL engines keep it for a rollback), so the counter is too.
            if (GetConnected() && GetInTransaction()) transactionCount_ = 1;
            throw;
        }
        CloseChildCursors();
    }
}

void TUdb::Rollback()
{
    CheckOpen();
    const bool engine = GetInTransaction();
    if (!engine && transactionCount_ == 0) return;
    // Every level ends here, also when the engine dropped its transaction by
    // itself: the counter never stays out of step with the engine.
    transactionCount_ = 0;
    if (engine) DoRollback();
    CloseChildCursors();
}

void TUdb::CloseChildCursors()
{
    // A cursor's Close may free other children (a driver's cursor holding its
    // statement): each one is looked up again before it is used.
    const std::vector<TUdbObject*> snapshot = children_;
    for (TUdbObject* child : snapshot) {
        if (std::find(children_.begin(), children_.end(), child) == children_.end()) continue;
        if (auto* cursor = dynamic_cast<TUdbCursor*>(child)) cursor->Close();
    }
}

rtl::RefPtr<IUdbSQLCommand> TUdb::CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                                std::int32_t paramCount, bool prepared)
{
    CheckOpen();
    const rtl::RefPtr<TUdbSQLCommand> command = CreateSQLCommand();
    RTL_ASSERT(command, UdbMsg::ObjectNotInitialized);
    command->Prepare(sql, paramTypes, paramCount, prepared);
    return command;
}

rtl::RefPtr<IUdbCursor> TUdb::GetSchemaInfo(TUdbSchemaKind kind)
{
    CheckOpen();
    rtl::RefPtr<IUdbCursor> cursor = CreateSchemaCursor(kind);
    if (!cursor) throw EUdbException(UdbMsg::CapabilityNotSupported);
    return cursor;
}

rtl::RefPtr<IUdbTableDef> TUdb::GetTableDef(const std::string& name)
{
    CheckOpen();
    const rtl::RefPtr<TUdbTableDef> def = CreateTableDef();
    RTL_ASSERT(def, UdbMsg::ObjectNotInitialized);
    def->Read(name);
    return def;
}

bool TUdb::TableExists(const std::string& name)
{
    CheckOpen();
    return DoTableExists(name);
}

void TUdb::DropTable(const std::string& name)
{
    CheckOpen();
    DoDropTable(name);
}

rtl::RefPtr<ISimpleParams> TUdb::GetParams() { return params_; }

bool TUdb::GetVirtualParam(TSimpleParams& /*sender*/, const std::string& name, rtl::Variant& value)
{
    value = rtl::Variant::Null();
    if (!IsOpen()) return false;
    const IXmlNodePtr& root = params_->Node();
    if (name == kParamDriverName) {
        value = rtl::Variant(root ? root->GetAttr("name") : std::string());
    } else if (name == kParamDriverCaption) {
        value = rtl::Variant(root ? root->GetAttr("caption", root->GetAttr("name")) : std::string());
    } else if (name == kParamOpenDatetime) {
        value = rtl::Variant::DateTime(openDateTime_);
    } else if (name == kParamDriverLibrary) {
        value = rtl::Variant(ModuleFileName(ModuleAddress()));
    } else {
        return false;
    }
    return true;
}

const void* TUdb::ModuleAddress() const noexcept { return &kModuleMarker; }

// ---- TUdbTableDef -----------------------------------------------------------------

TUdbTableDef::TUdbTableDef(TUdb* db)
    : TUdbObject(db), edited_(std::make_unique<TTableDef>()), asRead_(std::make_unique<TTableDef>())
{
}

TUdbTableDef::~TUdbTableDef() = default;

TUdbFieldDef TUdbTableDef::GetFieldDef(std::int32_t index)
{
    CheckDb();
    return FieldDefToUdb(edited_->Fields.Get(index));
}

void TUdbTableDef::SetFieldDef(std::int32_t index, const TUdbFieldDef& def, bool renameInIndexes)
{
    CheckDb();
    TFieldDef& field = edited_->Fields.Get(index);
    const std::string oldName = field.Name;
    UdbToFieldDef(field, def);
    if (!renameInIndexes || oldName == def.Name) return;
    for (int i = 0; i < edited_->Indexes.Count(); ++i) {
        auto& names = edited_->Indexes.Get(i).Fields;
        const auto it = std::find_if(names.begin(), names.end(),
                                     [&](const std::string& n) { return rtl::SameText(n, oldName); });
        if (it != names.end()) *it = def.Name;
    }
}

void TUdbTableDef::AddField(const TUdbFieldDef& def)
{
    CheckDb();
    auto field = std::make_unique<TFieldDef>(-1);
    UdbToFieldDef(*field, def);
    edited_->Fields.Add(std::move(field));
}

void TUdbTableDef::DeleteField(std::int32_t index, bool fromIndexes)
{
    CheckDb();
    const std::string name = edited_->Fields.Get(index).Name;
    if (fromIndexes) {
        for (int i = edited_->Indexes.Count() - 1; i >= 0; --i) {
            auto& names = edited_->Indexes.Get(i).Fields;
            const auto it = std::find_if(names.begin(), names.end(),
                                         [&](const std::string& n) { return rtl::SameText(n, name); });
            if (it == names.end()) continue;
            names.erase(it);
            if (names.empty()) edited_->Indexes.Delete(i);
        }
    }
    edited_->Fields.Delete(index);
}

std::int32_t TUdbTableDef::FieldIndex(const std::string& name)
{
    CheckDb();
    return edited_->Fields.Find(name, false);
}

void TUdbTableDef::MoveField(std::int32_t curIndex, std::int32_t newIndex)
{
    CheckDb();
    if (curIndex == newIndex) return;
    edited_->Fields.Move(curIndex, newIndex);
}

std::int32_t TUdbTableDef::FieldCount()
{
    CheckDb();
    return edited_->Fields.Count();
}

TUdbIndexDef TUdbTableDef::GetIndexDef(std::int32_t index)
{
    CheckDb();
    return IndexDefToUdb(edited_->Indexes.Get(index));
}

void TUdbTableDef::SetIndexDef(std::int32_t index, const TUdbIndexDef& def)
{
    CheckDb();
    UdbToIndexDef(edited_->Indexes.Get(index), def);
}

void TUdbTableDef::AddIndex(const TUdbIndexDef& def)
{
    CheckDb();
    auto index = std::make_unique<TIndexDef>(-1);
    UdbToIndexDef(*index, def);
    edited_->Indexes.Add(std::move(index));
}

void TUdbTableDef::DeleteIndex(std::int32_t index)
{
    CheckDb();
    edited_->Indexes.Delete(index);
}

std::int32_t TUdbTableDef::FindIndex(const std::string& fields)
{
    CheckDb();
    std::vector<std::string> names;
    SplitString(names, fields, ';');
    if (names.empty()) return -1;
    return edited_->Indexes.FindForFields(names, true, false);
}

std::int32_t TUdbTableDef::IndexCount()
{
    CheckDb();
    return edited_->Indexes.Count();
}

std::string TUdbTableDef::GetTableName()
{
    CheckDb();
    return edited_->Name;
}

void TUdbTableDef::SetTableName(const std::string& name)
{
    CheckDb();
    edited_->Name = name;
}

bool TUdbTableDef::IsModified()
{
    CheckDb();
    return !CompareTableDefs(*edited_, *asRead_, true).empty();
}

void TUdbTableDef::Read(const std::string& name)
{
    CheckDb();
    edited_->Clear();
    asRead_->Clear();
    if (rtl::Trim(name).empty()) return;
    DoReadTableDef(name, *edited_);
    asRead_->Assign(*edited_);
}

void TUdbTableDef::Apply()
{
    CheckDb();
    TUdb& db = *Db();
    if (db.InTransaction()) throw EUdbException(UdbMsg::DdlInTransaction);
    if (!IsModified()) return;
    // A definition for a new table has no name as read: nothing to ask the engine.
    if (!rtl::Trim(asRead_->Name).empty() && db.TableExists(asRead_->Name))
        DoAlterTable(*asRead_, *edited_);
    else
        DoCreateTable(edited_->Name, *edited_, true);
    const std::string name = edited_->Name;
    Read(name);
}

void TUdbTableDef::Refresh()
{
    CheckDb();
    const std::string name = asRead_->Name;
    Read(name);
}

// ---- TUdbSQLCommand ---------------------------------------------------------------

TUdbSQLCommand::TUdbSQLCommand(TUdb* db) : TUdbObject(db) {}

void TUdbSQLCommand::Prepare(const std::string& sql, const TUdbDataType* paramTypes, std::int32_t count,
                             bool prepared)
{
    CheckDb();
    sql_ = sql;
    RTL_ASSERT(count >= 0 && (count == 0 || paramTypes != nullptr), rtl::SAssertionFailed);
    try {
        prepared_ = prepared;
        paramTypes_.assign(paramTypes, paramTypes + count);
        DoPrepare();
    } catch (const std::exception& e) {
        throw EUdbException(rtl::Format(UdbMsg::PrepareFailed, sql_.c_str(), e.what()));
    }
}

rtl::RefPtr<IUdbCursor> TUdbSQLCommand::Execute(const rtl::Variant* values, std::int32_t count)
{
    CheckDb();
    CheckParams(values, count);
    try {
        std::int32_t rows = 0;
        rtl::RefPtr<IUdbCursor> cursor = DoExecute(values, count, rows);
        rowsAffected_ = rows;
        return cursor;
    } catch (const std::exception& e) {
        throw EUdbException(rtl::Format(UdbMsg::ExecuteFailed, sql_.c_str(),
                                        FormatParamValues(paramTypes_, values).c_str(),
                                        e.what()));
    }
}

std::int32_t TUdbSQLCommand::RowsAffected()
{
    CheckDb();
    return rowsAffected_;
}

void TUdbSQLCommand::CheckParams(const rtl::Variant* values, std::int32_t count) const
{
    // No pointer check is possible here: a missing list with values promised
    // is the broken precondition.
    RTL_ASSERT(count >= 0 && (count == 0 || values != nullptr), rtl::SAssertionFailed);
    if (paramTypes_.size() != static_cast<std::size_t>(count)) throw EUdbException(UdbMsg::ParamCountMismatch);
    for (std::int32_t i = 0; i < count; ++i) {
        const rtl::Variant& value = values[i];
        if (value.IsEmpty())
            throw EUdbException(std::string(UdbMsg::ParamNotGivenPrefix) + rtl::IntToStr(i + 1) +
                                UdbMsg::ParamNotGivenSuffix);
        if (!value.IsNull() && BaseDataType(paramTypes_[i]) == udtBinary && !value.IsByteArray())
            throw EUdbException(UdbMsg::BadBlobValue);
    }
}

std::string VarToDisplayStr(const rtl::Variant& value, int maxLen)
{
    const std::string text = SafeText(value);
    if (maxLen > 0 && rtl::Utf8CharCount(text) > static_cast<std::size_t>(maxLen))
        return std::string(FirstChars(text, static_cast<std::size_t>(maxLen))) + "...";
    return text;
}

std::string FormatParamValues(const TUdbDataTypeArray& paramTypes, const rtl::Variant* values)
{
    if (values == nullptr) return kEmptyValuesList;
    std::string out;
    for (std::size_t i = 0; i < paramTypes.size(); ++i) {
        const rtl::Variant& value = values[i];
        const TUdbDataType base = BaseDataType(paramTypes[i]);
        out += "\r\n";
        out += BaseTypeWord(base);
        out += "(" + rtl::Variant::TypeName(value.VarType()) + ")";
        if (value.IsNull()) {
            out += "=Null";
        } else if (value.IsEmpty()) {
            out += "=Empty";
        } else if (base == udtString) {
            out += "[" + rtl::IntToStr(static_cast<std::int64_t>(rtl::Utf8CharCount(SafeText(value)))) + "]=\"" +
                   VarToDisplayStr(value, kDisplayStrLength) + "\"";
        } else if (base == udtMemo) {
            out += "[" + rtl::IntToStr(static_cast<std::int64_t>(rtl::Utf8CharCount(SafeText(value)))) + "]";
        } else if (base == udtBinary) {
            const std::size_t size = value.IsByteArray() ? value.AsBytes().size() : 0;
            out += "[" + rtl::IntToStr(static_cast<std::int64_t>(size)) + "]";
        } else {
            out += "=" + SafeText(value);
        }
    }
    return out;
}

// ---- TUdbCursor -------------------------------------------------------------------

TUdbCursor::TUdbCursor(TUdb* db) : TUdbObject(db) {}

void TUdbCursor::CheckNotEof()
{
    if (GetEof()) throw EUdbException(UdbMsg::CursorClosed);
}

std::int32_t TUdbCursor::ResolveField(const rtl::Variant& field)
{
    if (field.IsClear()) throw EUdbException(UdbMsg::BadParameter);
    std::int32_t position = -1;
    if (IsIntegerKind(field.VarType())) {
        const std::int64_t v = field.AsInt64();
        if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
            position = static_cast<std::int32_t>(v);
    } else if (field.IsString()) {
        position = FieldIndex(field.AsString());
    }
    if (position < 0 || position >= GetFieldCount())
        throw EUdbException(rtl::Format(UdbMsg::FieldNotFound, SafeText(field).c_str()));
    return position;
}

bool TUdbCursor::IsNull(const rtl::Variant& field)
{
    CheckDb();
    CheckNotEof();
    return GetIsNull(ResolveField(field));
}

bool TUdbCursor::AsBoolean(const rtl::Variant& field, bool defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetBoolean(index);
}

std::int32_t TUdbCursor::AsInteger(const rtl::Variant& field, std::int32_t defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetInteger(index);
}

double TUdbCursor::AsFloat(const rtl::Variant& field, double defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetFloat(index);
}

rtl::Currency TUdbCursor::AsCurrency(const rtl::Variant& field, rtl::Currency defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetCurrency(index);
}

double TUdbCursor::AsDateTime(const rtl::Variant& field, double defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetDateTime(index);
}

std::string TUdbCursor::AsString(const rtl::Variant& field, const std::string& defaultValue)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    return GetIsNull(index) ? defaultValue : GetString(index);
}

rtl::Variant TUdbCursor::AsBlob(const rtl::Variant& field)
{
    CheckDb();
    CheckNotEof();
    rtl::Variant value = GetBlob(ResolveField(field));
    RTL_ASSERT(value.IsNull() || value.IsByteArray(), UdbMsg::BlobMustBeByteArray);
    return value;
}

rtl::Variant TUdbCursor::GetValue(const rtl::Variant& field)
{
    CheckDb();
    CheckNotEof();
    const std::int32_t index = ResolveField(field);
    if (GetIsNull(index)) return rtl::Variant::Null();
    rtl::Variant value;
    switch (BaseDataType(GetFieldType(index))) {
    case udtBoolean: value = rtl::Variant(GetBoolean(index)); break;
    case udtInteger: value = rtl::Variant(GetInteger(index)); break;
    case udtFloat: value = rtl::Variant(GetFloat(index)); break;
    case udtCurrency: value = rtl::Variant(GetCurrency(index)); break;
    case udtDateTime: value = rtl::Variant::DateTime(GetDateTime(index)); break;
    case udtString:
    case udtMemo: value = rtl::Variant::OleStr(GetString(index)); break;
    case udtBinary: value = GetBlob(index); break;
    default: value = GetVariant(index); break;
    }
    RTL_ASSERT(!value.IsEmpty(), UdbMsg::UnassignedCursorValue);
    return value;
}

std::string TUdbCursor::FieldName(std::int32_t index)
{
    CheckDb();
    // The driver is handed checked positions only.
    if (index < 0 || index >= GetFieldCount())
        throw EUdbException(rtl::Format(UdbMsg::FieldNotFound, rtl::IntToStr(index).c_str()));
    return GetFieldName(index);
}

TUdbDataType TUdbCursor::FieldType(const rtl::Variant& field)
{
    CheckDb();
    return GetFieldType(ResolveField(field));
}

std::int32_t TUdbCursor::DataSize(const rtl::Variant& field)
{
    CheckDb();
    CheckNotEof();
    return GetDataSize(ResolveField(field));
}

std::int32_t TUdbCursor::FieldIndex(const std::string& name)
{
    CheckDb();
    return GetFieldIndex(name);
}

std::int32_t TUdbCursor::FieldCount()
{
    CheckDb();
    return GetFieldCount();
}

void TUdbCursor::Next()
{
    CheckDb();
    DoNext();
}

bool TUdbCursor::Eof() { return GetEof(); }

void TUdbCursor::Close() { DoClose(); }

// ---- helpers ----------------------------------------------------------------------

std::string ModuleFileName(const void* addressInModule)
{
    return rtl::ModuleFileName(addressInModule ? addressInModule : &kModuleMarker);
}

std::string ReplaceCharsOutsideQuotes(std::string_view s, std::u32string_view chars,
                                      const std::vector<std::string>& replacements)
{
    RTL_ASSERT(chars.size() == replacements.size(), UdbMsg::InvalidParameters);
    std::string out;
    out.reserve(s.size());
    char32_t quote = 0; // the character that opened the literal we are in, 0 outside
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t start = pos;
        const char32_t ch = rtl::NextUtf8(s, pos);
        const std::string_view raw = s.substr(start, pos - start);
        if (quote == 0 && (ch == U'\'' || ch == U'"')) {
            quote = ch;
            out += raw;
            continue;
        }
        if (quote != 0 && ch != quote) {
            out += raw;
            continue;
        }
        if (quote != 0) quote = 0; // the closing quote is looked up like any character outside
        const std::size_t k = chars.find(ch);
        if (k == std::u32string_view::npos) out += raw;
        else out += replacements[k];
    }
    return out;
}
