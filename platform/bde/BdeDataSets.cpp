// Fields, parameters and the dataset base.
#include "platform/bde/BdeDataSets.h"

#include "platform/bde/BdeDatabase.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SNoField = "%s has no field \"%s\"";
constexpr const char* SFieldIndex = "%s has no field number %d";
constexpr const char* SNotBlob = "Field \"%s\" is not a blob field";
constexpr const char* SReadOnly = "%s is not being appended to: field \"%s\" cannot be set";
constexpr const char* SNoDatabase = "%s: database \"%s\" of session \"%s\" does not exist";
constexpr const char* SActive = "Cannot %s while %s is open";
constexpr const char* SNoParam = "Parameter \"%s\" not found";
constexpr const char* SParamIndex = "Parameter number %d does not exist (%d parameters)";

rtl::ByteArray BytesOf(const rtl::Variant& v)
{
    if (v.IsByteArray()) return v.AsBytes();
    const std::string s = v.AsString();
    return rtl::ByteArray(s.begin(), s.end());
}

// The raw value of a row as the field's type gives it.
rtl::Variant Typed(TFieldType type, const rtl::Variant& raw)
{
    if (raw.IsClear()) return rtl::Variant::Null();
    switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftMemo:
        if (raw.IsByteArray()) return rtl::Variant(std::string(raw.AsBytes().begin(), raw.AsBytes().end()));
        return raw.VarType() == rtl::varString ? raw : rtl::Variant(raw.AsString());
    case ftSmallint: return rtl::Variant::SmallInt(static_cast<std::int16_t>(raw.AsInteger()));
    case ftWord: return rtl::Variant::Word(static_cast<std::uint16_t>(raw.AsInteger()));
    case ftInteger: case ftAutoInc: return rtl::Variant(raw.AsInteger());
    case ftLargeint: return rtl::Variant(raw.AsInt64());
    case ftBoolean: return rtl::Variant(raw.AsBoolean());
    case ftFloat: case ftBCD: case ftFMTBcd: return rtl::Variant(raw.AsDouble());
    case ftCurrency: return rtl::Variant(raw.AsCurrency());
    case ftDate: case ftTime: case ftDateTime: case ftTimeStamp: return rtl::Variant::DateTime(raw.AsDateTime());
    case ftBytes: case ftVarBytes: case ftBlob: case ftGraphic: case ftFmtMemo: case ftParadoxOle:
    case ftDBaseOle: case ftTypedBinary: case ftOraBlob: case ftOraClob:
        return rtl::Variant(BytesOf(raw));
    default:
        return raw;
    }
}

} // namespace

// ---- field ---------------------------------------------------------------------------------

TBdeField::TBdeField(TBdeDataSet& owner, int index, std::string name, TFieldType type, int size, bool required)
    : owner_(owner), index_(index), name_(std::move(name)), type_(type), size_(size), required_(required)
{
}

bool TBdeField::IsNull() const { return owner_.FieldValue(index_).IsClear(); }

rtl::Variant TBdeField::Value() const { return Typed(type_, owner_.FieldValue(index_)); }

bool TBdeField::AsBoolean() const
{
    const rtl::Variant v = Value();
    return v.IsNull() ? false : v.AsBoolean();
}

std::int32_t TBdeField::AsInteger() const
{
    const rtl::Variant v = Value();
    return v.IsNull() ? 0 : v.AsInteger();
}

double TBdeField::AsFloat() const
{
    const rtl::Variant v = Value();
    return v.IsNull() ? 0.0 : v.AsDouble();
}

rtl::Currency TBdeField::AsCurrency() const
{
    const rtl::Variant v = Value();
    return v.IsNull() ? rtl::Currency{} : v.AsCurrency();
}

double TBdeField::AsDateTime() const
{
    const rtl::Variant v = Value();
    return v.IsNull() ? 0.0 : v.AsDateTime();
}

std::string TBdeField::AsString() const
{
    const rtl::Variant v = Value();
    if (v.IsNull()) return "";
    if (v.IsByteArray()) return std::string(v.AsBytes().begin(), v.AsBytes().end());
    return v.AsString();
}

void TBdeField::SetValue(const rtl::Variant& value) { owner_.SetFieldValue(index_, value); }

std::int64_t TBdeField::BlobSize() const
{
    if (!IsBlob()) return 0;
    const rtl::Variant v = owner_.FieldValue(index_);
    if (v.IsClear()) return 0;
    return static_cast<std::int64_t>(v.IsByteArray() ? v.AsBytes().size() : v.AsString().size());
}

int TBdeField::DataSize() const noexcept
{
    switch (type_) {
    case ftString: case ftFixedChar: return size_ + 1;
    case ftWideString: return (size_ + 1) * 2;
    case ftSmallint: case ftWord: case ftBoolean: return 2;
    case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
    case ftFloat: case ftCurrency: case ftDateTime: case ftLargeint: return 8;
    case ftBCD: case ftFMTBcd: return 34;
    case ftBytes: return size_;
    case ftVarBytes: return size_ + 2;
    default: return 0;
    }
}

std::unique_ptr<rtl::TStream> TBdeField::CreateBlobStream() const
{
    if (!IsBlob()) throw EBdeError(rtl::Format(SNotBlob, name_.c_str()));
    const rtl::Variant v = owner_.FieldValue(index_);
    auto stream = std::make_unique<rtl::TMemoryStream>();
    if (!v.IsClear()) {
        const rtl::ByteArray bytes = BytesOf(v);
        if (!bytes.empty()) stream->WriteBuffer(bytes.data(), bytes.size());
        stream->SetPosition(0);
    }
    return stream;
}

// ---- dataset ----------------------------------------------------------------------------------

TBdeDataSet::~TBdeDataSet() { Detach(); }

void TBdeDataSet::SetSessionName(std::string name)
{
    CheckInactive("change the session");
    Detach();
    sessionName_ = std::move(name);
}

void TBdeDataSet::SetDatabaseName(std::string name)
{
    CheckInactive("change the database");
    Detach();
    databaseName_ = std::move(name);
}

TBdeField& TBdeDataSet::Field(int index)
{
    if (index < 0 || index >= FieldCount()) throw EBdeError(rtl::Format(SFieldIndex, Describe().c_str(), index));
    return *fields_[static_cast<std::size_t>(index)];
}

TBdeField* TBdeDataSet::FindField(std::string_view name)
{
    for (auto& f : fields_)
        if (rtl::SameText(f->FieldName(), name)) return f.get();
    return nullptr;
}

TBdeField& TBdeDataSet::FieldByName(std::string_view name)
{
    TBdeField* f = FindField(name);
    if (!f) throw EBdeError(rtl::Format(SNoField, Describe().c_str(), std::string(name).c_str()));
    return *f;
}

void TBdeDataSet::SetFieldValue(int index, const rtl::Variant&)
{
    throw EBdeError(rtl::Format(SReadOnly, Describe().c_str(), Field(index).FieldName().c_str()));
}

TBdeDatabase& TBdeDataSet::AttachDatabase()
{
    if (database_) return *database_;
    TBdeDatabase* db = TBdeDatabase::Find(sessionName_, databaseName_);
    if (!db)
        throw EBdeError(rtl::Format(SNoDatabase, Describe().c_str(), databaseName_.c_str(), sessionName_.c_str()));
    db->Attach(this); // EBdeError when it is not connected
    database_ = db;
    return *db;
}

void TBdeDataSet::Detach() noexcept
{
    if (database_) database_->Detach(this);
    database_ = nullptr;
}

void TBdeDataSet::CheckInactive(const char* what) const
{
    if (active_) throw EBdeError(rtl::Format(SActive, what, Describe().c_str()));
}

// ---- parameters ---------------------------------------------------------------------------------

void TBdeParam::SetBlobData(const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    value_ = rtl::Variant(p && size ? rtl::ByteArray(p, p + size) : rtl::ByteArray());
    if (!IsBlobFieldType(dataType_)) dataType_ = ftBlob;
}

TBdeParam& TBdeParams::operator[](int index)
{
    if (index < 0 || index >= Count()) throw EBdeError(rtl::Format(SParamIndex, index, Count()));
    return items_[static_cast<std::size_t>(index)];
}

const TBdeParam& TBdeParams::operator[](int index) const
{
    if (index < 0 || index >= Count()) throw EBdeError(rtl::Format(SParamIndex, index, Count()));
    return items_[static_cast<std::size_t>(index)];
}

TBdeParam* TBdeParams::FindParam(std::string_view name)
{
    for (auto& p : items_)
        if (rtl::SameText(p.Name(), name)) return &p;
    return nullptr;
}

TBdeParam& TBdeParams::ParamByName(std::string_view name)
{
    TBdeParam* p = FindParam(name);
    if (!p) throw EBdeError(rtl::Format(SNoParam, std::string(name).c_str()));
    return *p;
}

TBdeParam& TBdeParams::Add(std::string name)
{
    items_.emplace_back(std::move(name));
    return items_.back();
}

void TBdeParams::Assign(const TBdeParams& other) { items_ = other.items_; }

} // namespace bde
