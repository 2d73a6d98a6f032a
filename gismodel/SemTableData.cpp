// Semantic-table descriptions: the field and index lists taken from a table
// definition, the additional-data blob reader and writer, and the XML form of
// field descriptions.
//
// The reader decodes the whole blob into plain records first, checking every
// length and count against the bytes left and the field it fills, and only
// then applies the records to fresh lists, which replace Fields and Indexes
// at the end. A malformed blob therefore changes nothing. Records are kept
// whole; the cuts a description makes (names and key fields to 64
// characters, identifiers to 12) are made when a record is applied.
#include "gismodel/SemTableData.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "CoreLib/AUtils.h"
#include "CoreLib/SimpleXML.h"
#include "CoreLib/Transformer.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- texts --------------------------------------------------------------------

const char* const SVersionTooNew =
    "Дополнительные данные семантической таблицы версии %u не поддерживаются (программа читает версии до %u)";
const char* const SCorrupt = "Дополнительные данные семантической таблицы повреждены: %s (%s, смещение %lld)";
const char* const SAtHeader = "поле %s";
const char* const SAtRecord = "запись %d из %d, поле %s";
const char* const SAtEnd = "за последней записью";
const char* const STruncated = "данные обрываются";
const char* const SFixedTooLong = "длина строки %d больше размера поля %d";
const char* const SCountTooBig = "число элементов %d не помещается в оставшиеся %lld байт";
const char* const STrailing = "после последней записи остались лишние байты (%lld)";
const char* const STooManyToWrite =
    "Слишком много %s для дополнительных данных семантической таблицы: %d (не более 32767)";
const char* const SWhatFields = "полей";
const char* const SWhatDisplayFields = "отображаемых полей";
const char* const SObjectNotInitialized = "Object not initialized";

// ---- layout ---------------------------------------------------------------------

// Versions from this one on store stream strings; older ones fixed strings.
constexpr std::uint16_t kStreamStringVersion = 284;
// The version of a blob without the signature.
constexpr std::uint16_t kUnsignedVersion = 283;
// Fewer bytes than this: no additional data at all.
constexpr std::int64_t kMinBlobSize = 33;
// Bytes of the signature that are compared: the length byte and the
// characters it counts (the padding after them is not).
constexpr std::size_t kSignatureCompared = 22;

constexpr int kNameCapacity = 64;
constexpr int kIDCapacity = 12;
// Smallest record: three one-byte stream strings; or the fixed layout's
// string[64], string[64], string[12] and the display count.
constexpr std::int64_t kMinStreamRecord = 3;
constexpr std::int64_t kFixedRecord = (kNameCapacity + 1) * 2 + (kIDCapacity + 1) + 2;
constexpr std::int64_t kMinStreamDisplay = 1;
constexpr std::int64_t kFixedDisplay = kNameCapacity + 1;

constexpr int kMaxStoredCount = 32767;

// The first n characters of a UTF-8 text.
std::string CutChars(const std::string& s, std::size_t n)
{
    std::size_t pos = 0;
    for (std::size_t count = 0; pos < s.size() && count < n; ++count) rtl::NextUtf8(s, pos);
    return s.substr(0, pos);
}

// Reads the blob's parts, checking each length before it is used; every
// failure names the record and field and the offset from the blob's start.
class TBlobReader {
public:
    explicit TBlobReader(rtl::TStream& stream) : stream_(stream), start_(stream.Position()) {}

    // Names the part read next in failure messages; nullptr: after the records.
    void At(const char* field, int record = 0, int recordCount = 0)
    {
        field_ = field;
        record_ = record;
        recordCount_ = recordCount;
        fieldStart_ = stream_.Position() - start_;
    }

    [[noreturn]] void Fail(const std::string& detail) const
    {
        const std::string where = !field_       ? std::string(SAtEnd)
                                  : record_ > 0 ? rtl::Format(SAtRecord, record_, recordCount_, field_)
                                                : rtl::Format(SAtHeader, field_);
        throw EAdditionalDataError(
            rtl::Format(SCorrupt, detail.c_str(), where.c_str(), static_cast<long long>(fieldStart_)));
    }

    std::int64_t Remaining() { return stream_.Remaining(); }

    void Need(std::int64_t n)
    {
        if (Remaining() < n) Fail(STruncated);
    }

    std::string ReadBytes(std::size_t n)
    {
        Need(static_cast<std::int64_t>(n));
        return stream_.ReadBytes(n);
    }

    std::uint16_t ReadU16()
    {
        Need(2);
        return stream_.ReadU16();
    }

    // A count of items of at least itemSize bytes each; a negative count is 0.
    int ReadCount(std::int64_t itemSize)
    {
        Need(2);
        const int count = stream_.ReadI16();
        if (count <= 0) return 0;
        const std::int64_t left = Remaining();
        if (count * itemSize > left) Fail(rtl::Format(SCountTooBig, count, static_cast<long long>(left)));
        return count;
    }

    std::string ReadStreamString()
    {
        Need(1);
        try {
            return StreamReadString(stream_);
        } catch (const rtl::EReadError& e) {
            Fail(e.Message());
        }
    }

    // string[capacity]: a length byte and capacity character bytes.
    std::string ReadFixedString(int capacity)
    {
        Need(capacity + 1);
        const int length = stream_.ReadU8();
        if (length > capacity) Fail(rtl::Format(SFixedTooLong, length, capacity));
        const std::string bytes = stream_.ReadBytes(static_cast<std::size_t>(capacity));
        return rtl::Cp1251ToUtf8(std::string_view(bytes).substr(0, static_cast<std::size_t>(length)));
    }

private:
    rtl::TStream& stream_;
    const std::int64_t start_;
    const char* field_ = "";
    int record_ = 0;
    int recordCount_ = 0;
    std::int64_t fieldStart_ = 0;
};

TAdditionalDataRecord ReadStreamRecord(TBlobReader& in, int record, int count)
{
    TAdditionalDataRecord r;
    in.At("Name", record, count);
    r.Name = in.ReadStreamString();
    in.At("Caption", record, count);
    r.Caption = in.ReadStreamString();
    in.At("RefBookID", record, count);
    r.RefBookIDText = in.ReadStreamString();
    if (r.RefBookIDText.empty()) return r;
    in.At("RefBookKeyField", record, count);
    r.RefBookKeyField = in.ReadStreamString();
    in.At("DisplayCount", record, count);
    const int displayCount = in.ReadCount(kMinStreamDisplay);
    in.At("DisplayField", record, count);
    for (int i = 0; i < displayCount; ++i) r.DisplayFields.push_back(in.ReadStreamString());
    return r;
}

TAdditionalDataRecord ReadFixedRecord(TBlobReader& in, int record, int count)
{
    TAdditionalDataRecord r;
    in.At("Name", record, count);
    r.Name = in.ReadFixedString(kNameCapacity);
    r.Caption = r.Name;
    in.At("RefBookKeyField", record, count);
    r.RefBookKeyField = in.ReadFixedString(kNameCapacity);
    in.At("RefBookID", record, count);
    r.RefBookIDText = in.ReadFixedString(kIDCapacity);
    in.At("DisplayCount", record, count);
    const int displayCount = in.ReadCount(kFixedDisplay);
    in.At("DisplayField", record, count);
    for (int i = 0; i < displayCount; ++i) r.DisplayFields.push_back(in.ReadFixedString(kNameCapacity));
    return r;
}

// Every record of the blob from the stream's position to its end.
TAdditionalData ReadAdditionalData(rtl::TStream& stream)
{
    TDataVersionScope version;
    TAdditionalData data;
    std::vector<TAdditionalDataRecord>& records = data.Records;
    TBlobReader in(stream);
    if (in.Remaining() < kMinBlobSize) return data;

    in.At("Signature");
    const std::string head = in.ReadBytes(AdditionalDataSignatureSize);
    if (head.compare(0, kSignatureCompared, reinterpret_cast<const char*>(AdditionalDataSignature),
                     kSignatureCompared) == 0) {
        in.At("Version");
        const std::uint16_t v = in.ReadU16();
        if (v > CurrentDataVersion) throw EAdditionalDataError(rtl::Format(SVersionTooNew, v, CurrentDataVersion));
        version.Set(v);
    } else {
        version.Set(kUnsignedVersion);
    }

    data.Version = DataVersion;
    const bool streamStrings = DataVersion >= kStreamStringVersion;
    in.At("FieldCount");
    const int count = in.ReadCount(streamStrings ? kMinStreamRecord : kFixedRecord);
    records.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i)
        records.push_back(streamStrings ? ReadStreamRecord(in, i, count) : ReadFixedRecord(in, i, count));

    const std::int64_t left = in.Remaining();
    if (left > 0) {
        in.At(nullptr);
        in.Fail(rtl::Format(STrailing, static_cast<long long>(left)));
    }
    return data;
}

void ApplyRecord(TFieldDataList& fields, const TAdditionalDataRecord& r)
{
    auto* field = dynamic_cast<TSemFieldData*>(fields.FindField(CutChars(r.Name, kNameCapacity)));
    if (!field) return;
    TStrArray display;
    display.Init(static_cast<int>(r.DisplayFields.size()));
    for (const std::string& s : r.DisplayFields) display.Add(s);
    field->Caption = r.Caption;
    field->RefBookID = r.RefBookID();
    field->RefBookKeyField = CutChars(r.RefBookKeyField, kNameCapacity);
    field->RefBookDisplayFields = std::move(display);
}

std::int16_t StoredCount(int count, const char* what)
{
    if (count > kMaxStoredCount) throw rtl::EWriteError(rtl::Format(STooManyToWrite, what, count));
    return static_cast<std::int16_t>(count);
}

// Replaces the items of target by those of source.
template <class List>
void TakeItems(List& target, const List& source)
{
    target.Clear();
    for (int i = 0; i < source.Count(); ++i) target.Add(source.Get(i));
}

void WriteRecords(rtl::TStream& stream, const std::vector<TAdditionalDataRecord>& records)
{
    rtl::TMemoryStream out;
    out.WriteBuffer(AdditionalDataSignature, AdditionalDataSignatureSize);
    out.WriteU16(CurrentDataVersion);
    out.WriteI16(StoredCount(static_cast<int>(records.size()), SWhatFields));
    for (const TAdditionalDataRecord& r : records) {
        StreamWriteString(out, r.Name);
        StreamWriteString(out, r.Caption);
        StreamWriteString(out, r.RefBookIDText);
        if (r.RefBookIDText.empty()) continue;
        StreamWriteString(out, r.RefBookKeyField);
        out.WriteI16(StoredCount(static_cast<int>(r.DisplayFields.size()), SWhatDisplayFields));
        for (const std::string& d : r.DisplayFields) StreamWriteString(out, d);
    }
    stream.WriteBuffer(out.Memory(), static_cast<std::size_t>(out.Size()));
}

} // namespace

const std::uint8_t AdditionalDataSignature[AdditionalDataSignatureSize] = {
    21,
    // "Дополнительные данные" in Windows-1251
    0xC4, 0xEE, 0xEF, 0xEE, 0xEB, 0xED, 0xE8, 0xF2, 0xE5, 0xEB, 0xFC, 0xED, 0xFB, 0xE5, 0x20,
    0xE4, 0xE0, 0xED, 0xED, 0xFB, 0xE5,
    0, 0, 0, 0, 0, 0, 0, 0, 0,
};

// ---- TFieldData -------------------------------------------------------------------

void TFieldData::LoadFromXml(IXmlNode& node)
{
    const BinID id = StrToBinID(node.NeedAttr("ID"));
    std::string name = node.NeedAttr("Name");
    std::string caption = node.GetAttr("Caption", name);
    const TUdbDataType dataType = DataTypeByName(node.NeedAttr("DataType"));
    const std::int32_t dataSize = node.GetIntAttr("DataSize", 0);
    const bool required = node.GetBoolAttr("Required", false);
    ID = id;
    Name = std::move(name);
    Caption = std::move(caption);
    DataType = dataType;
    DataSize = dataSize;
    Required = required;
}

void TFieldData::SaveToXml(IXmlNode& node) const
{
    const std::string typeName = DataTypeName(DataType);
    node.SetAttr("ID", BinIDToStr(ID));
    node.SetAttr("Name", Name);
    if (Caption != Name) node.SetAttr("Caption", Caption);
    node.SetAttr("DataType", typeName);
    if (DataSize != 0) node.SetIntAttr("DataSize", DataSize);
    if (Required) node.SetBoolAttr("Required", true);
}

// ---- TSemFieldData ----------------------------------------------------------------

void TSemFieldData::LoadFromXml(IXmlNode& node)
{
    TFieldData::LoadFromXml(node);
    const BinID refBookID = StrToBinID(node.GetAttr("RefBookID", ""));
    std::string keyField = node.GetAttr("RefBookKeyField", "");
    TStrArray display;
    display.Split(node.GetAttr("RefBookDisplayFields", ""), ";");
    RefBookID = refBookID;
    RefBookKeyField = std::move(keyField);
    RefBookDisplayFields = std::move(display);
}

void TSemFieldData::SaveToXml(IXmlNode& node) const
{
    TFieldData::SaveToXml(node);
    if (RefBookID == 0) return;
    node.SetAttr("RefBookID", BinIDToStr(RefBookID));
    node.SetAttr("RefBookKeyField", RefBookKeyField);
    node.SetAttr("RefBookDisplayFields", RefBookDisplayFields.Join(";"));
}

// ---- lists ------------------------------------------------------------------------

TFieldData* TFieldDataList::FindField(const std::string& name) const
{
    for (int i = 0; i < Count(); ++i) {
        TFieldData* field = Get(i);
        if (field && rtl::SameText(field->Name, name)) return field;
    }
    return nullptr;
}

void TFieldDataList::LoadFromTableDef(IUdbTableDef& tableDef, TFieldDataClass fieldClass)
{
    RTL_ASSERT(fieldClass != nullptr, SObjectNotInitialized);
    std::vector<rtl::RefPtr<TFieldData>> made;
    const int count = tableDef.FieldCount();
    for (int i = 0; i < count; ++i) {
        const TUdbFieldDef def = tableDef.GetFieldDef(i);
        rtl::RefPtr<TFieldData> field = fieldClass();
        field->Name = def.Name;
        field->Caption = def.Name;
        field->DataType = def.DataType;
        field->DataSize = def.Size;
        field->Required = def.Required;
        made.push_back(std::move(field));
    }
    Clear();
    for (const auto& field : made) Add(field.get());
}

TSemFieldData* TSemFieldDataList::GetItem(int index) const
{
    TFieldData* item = Get(index);
    if (!item) return nullptr;
    auto* field = dynamic_cast<TSemFieldData*>(item);
    if (!field) throw rtl::EInvalidCast(rtl::SInvalidCast);
    return field;
}

void TIndexDataList::LoadFromTableDef(IUdbTableDef& tableDef)
{
    std::vector<rtl::RefPtr<TIndexData>> made;
    const int count = tableDef.IndexCount();
    for (int i = 0; i < count; ++i) {
        const TUdbIndexDef def = tableDef.GetIndexDef(i);
        auto index = rtl::MakeRef<TIndexData>();
        index->Fields = def.Fields;
        index->Primary = def.Primary;
        index->Unique = def.Unique;
        made.push_back(std::move(index));
    }
    Clear();
    for (const auto& index : made) Add(index.get());
}

// ---- TSemTableData ----------------------------------------------------------------

void TSemTableData::LoadStructure(IUdbTableDef& tableDef, rtl::TStream* stream)
{
    TSemFieldDataList fields;
    fields.LoadFromTableDef(tableDef, FieldDataClassOf<TSemFieldData>());
    TIndexDataList indexes;
    indexes.LoadFromTableDef(tableDef);
    if (stream) {
        for (const TAdditionalDataRecord& r : ReadAdditionalData(*stream).Records) ApplyRecord(fields, r);
    }
    TakeItems(Fields, fields);
    TakeItems(Indexes, indexes);
}

void TSemTableData::SaveAdditionalData(rtl::TStream& stream) const
{
    std::vector<TAdditionalDataRecord> records;
    records.reserve(static_cast<std::size_t>(Fields.Count()));
    for (int i = 0; i < Fields.Count(); ++i) {
        const TSemFieldData* field = Fields.GetItem(i);
        RTL_ASSERT(field != nullptr, SObjectNotInitialized);
        TAdditionalDataRecord& r = records.emplace_back();
        r.Name = field->Name;
        r.Caption = field->Caption;
        if (field->RefBookID == 0) continue;
        r.RefBookIDText = BinIDToStr(field->RefBookID);
        r.RefBookKeyField = field->RefBookKeyField;
        const TStrArray& display = field->RefBookDisplayFields;
        r.DisplayFields.reserve(static_cast<std::size_t>(display.Count()));
        for (int j = 0; j < display.Count(); ++j) r.DisplayFields.push_back(display.Get(j));
    }
    WriteRecords(stream, records);
}

// ---- records ----------------------------------------------------------------------

BinID TAdditionalDataRecord::RefBookID() const
{
    return StrToBinID(CutChars(RefBookIDText, kIDCapacity));
}

TAdditionalData ReadAdditionalDataRecords(rtl::TStream& stream) { return ReadAdditionalData(stream); }

void WriteAdditionalDataRecords(rtl::TStream& stream, const std::vector<TAdditionalDataRecord>& records)
{
    WriteRecords(stream, records);
}
