// The byte level of the binary XML form: buffered readers and writers over a
// string or a stream, compressed integers, strings and typed values.
//
// Every number is little-endian and written byte by byte, so the form does
// not depend on the machine. The readers count the bytes that remain and
// check each read against them; counts are checked against them before any
// storage is reserved.
#include "CoreLib/BinaryXml.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"

namespace {

// ---- messages ----------------------------------------------------------------
constexpr const char* SReadError = "Ошибка чтения данных.";                          // 65200
constexpr const char* SReadValueType = "Ошибка чтения значения: некорректный тип.";   // 65201
constexpr const char* SWriteValueType = "Ошибка записи значения: некорректный тип.";  // 65202

// Compressed integers: one byte up to 127, two bytes up to 32 511, else the
// byte 0xFF and four bytes.
constexpr std::int32_t kOneByteMax = 127;
constexpr std::int32_t kTwoByteMax = 32511;

std::uint16_t LoadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t LoadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t LoadU64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(LoadU32(p)) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}
void StoreLe(std::uint8_t* p, std::uint64_t v, int size)
{
    for (int i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The value bytes of the fixed-size type codes; 0 for the others.
int FixedValueSize(rtl::TVarType type)
{
    switch (type) {
    case rtl::varShortInt:
    case rtl::varByte: return 1;
    case rtl::varSmallint:
    case rtl::varBoolean:
    case rtl::varWord: return 2;
    case rtl::varInteger:
    case rtl::varSingle:
    case rtl::varLongWord: return 4;
    case rtl::varDouble:
    case rtl::varCurrency:
    case rtl::varDate:
    case rtl::varInt64: return 8;
    default: return 0;
    }
}

bool IsWritableType(rtl::TVarType type)
{
    return type == rtl::varEmpty || type == rtl::varNull || FixedValueSize(type) > 0 || type == rtl::varOleStr ||
           type == rtl::varString || type == rtl::varByteArray;
}

// The value bytes of a fixed-size value (FixedValueSize(type) of them).
std::uint64_t FixedValueBits(const rtl::Variant& v)
{
    switch (v.VarType()) {
    case rtl::varBoolean: return v.AsBoolean() ? 0xFFFF : 0;
    case rtl::varSingle: {
        const float f = static_cast<float>(v.AsDouble());
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    }
    case rtl::varDouble:
    case rtl::varDate: {
        const double d = v.VarType() == rtl::varDate ? v.AsDateTime() : v.AsDouble();
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        return bits;
    }
    case rtl::varCurrency: return static_cast<std::uint64_t>(v.AsCurrency().scaled);
    default: return static_cast<std::uint64_t>(v.AsInt64());
    }
}

// The variant of a fixed-size value read from its bytes.
rtl::Variant FixedValue(rtl::TVarType type, std::uint64_t bits)
{
    switch (type) {
    case rtl::varShortInt: return rtl::Variant::ShortInt(static_cast<std::int8_t>(bits));
    case rtl::varByte: return rtl::Variant::Byte(static_cast<std::uint8_t>(bits));
    case rtl::varSmallint: return rtl::Variant::SmallInt(static_cast<std::int16_t>(bits));
    case rtl::varBoolean: return rtl::Variant(bits != 0);
    case rtl::varWord: return rtl::Variant::Word(static_cast<std::uint16_t>(bits));
    case rtl::varInteger: return rtl::Variant(static_cast<std::int32_t>(bits));
    case rtl::varLongWord: return rtl::Variant::LongWord(static_cast<std::uint32_t>(bits));
    case rtl::varSingle: {
        const auto u = static_cast<std::uint32_t>(bits);
        float f = 0;
        std::memcpy(&f, &u, sizeof f);
        return rtl::Variant::Single(f);
    }
    case rtl::varDouble:
    case rtl::varDate: {
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        return type == rtl::varDate ? rtl::Variant::DateTime(d) : rtl::Variant(d);
    }
    case rtl::varCurrency: return rtl::Variant(rtl::Currency{static_cast<std::int64_t>(bits)});
    default: return rtl::Variant(static_cast<std::int64_t>(bits));
    }
}

} // namespace

void RaiseBinXmlReadError() { throw rtl::Exception(SReadError); }

// ---- reader --------------------------------------------------------------------

void TBinXmlReader::ReadBytes(void* buffer, std::size_t count)
{
    if (count == 0) return;
    if (static_cast<std::uint64_t>(remaining_) < count) RaiseBinXmlReadError();
    RawRead(buffer, count);
    remaining_ -= static_cast<std::int64_t>(count);
}

std::uint8_t TBinXmlReader::ReadByte()
{
    std::uint8_t b = 0;
    ReadBytes(&b, 1);
    return b;
}

std::int32_t TBinXmlReader::ReadInt32()
{
    std::uint8_t b[4];
    ReadBytes(b, sizeof b);
    return static_cast<std::int32_t>(LoadU32(b));
}

void TBinXmlReader::ReadOptions() { options_ = static_cast<std::uint32_t>(ReadInt32()); }

std::int32_t TBinXmlReader::ReadCompressedInt()
{
    const std::uint8_t first = ReadByte();
    if (first < 0x80) return first;
    if (first == 0xFF) {
        const std::int32_t v = ReadInt32();
        // A writer puts values up to 32 511 in one or two bytes.
        if (v >= 0 && v <= kTwoByteMax) RaiseBinXmlReadError();
        return v;
    }
    const std::int32_t v = ((first & 0x7F) << 8) | ReadByte();
    if (v <= kOneByteMax) RaiseBinXmlReadError();
    return v;
}

std::int32_t TBinXmlReader::ReadCount(std::int64_t minBytesEach)
{
    const std::int32_t count = ReadCompressedInt();
    if (count < 0 || static_cast<std::int64_t>(count) * minBytesEach > remaining_) RaiseBinXmlReadError();
    return count;
}

std::string TBinXmlReader::ReadWide(std::int32_t units)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(units) * 2);
    ReadBytes(bytes.data(), bytes.size());
    std::u16string text(static_cast<std::size_t>(units), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(LoadU16(&bytes[2 * i]));
    try {
        return rtl::Utf16ToUtf8(text);
    } catch (const rtl::EEncodingError&) {
        RaiseBinXmlReadError(); // an unpaired surrogate
    }
}

std::string TBinXmlReader::ReadString()
{
    if (options_ & BinXmlWideStrings) return ReadWide(ReadCount(2));
    std::string bytes(static_cast<std::size_t>(ReadCount(1)), '\0');
    ReadBytes(bytes.data(), bytes.size());
    return rtl::Cp1251ToUtf8(bytes);
}

rtl::Variant TBinXmlReader::ReadVariantValue()
{
    const std::int32_t code = ReadCompressedInt();
    if (code < 0 || code > std::numeric_limits<rtl::TVarType>::max() ||
        !IsWritableType(static_cast<rtl::TVarType>(code)))
        throw rtl::Exception(SReadValueType);
    const auto type = static_cast<rtl::TVarType>(code);
    switch (type) {
    case rtl::varEmpty: return rtl::Variant();
    case rtl::varNull: return rtl::Variant::Null();
    case rtl::varOleStr: return rtl::Variant::OleStr(ReadWide(ReadCount(2)));
    case rtl::varString: {
        std::string bytes(static_cast<std::size_t>(ReadCount(1)), '\0');
        ReadBytes(bytes.data(), bytes.size());
        return rtl::Variant(rtl::Cp1251ToUtf8(bytes));
    }
    case rtl::varByteArray: {
        rtl::ByteArray bytes(static_cast<std::size_t>(ReadCount(1)));
        ReadBytes(bytes.data(), bytes.size());
        return rtl::Variant(std::move(bytes));
    }
    default: break;
    }
    const int size = FixedValueSize(type);
    std::uint8_t b[8] = {};
    ReadBytes(b, static_cast<std::size_t>(size));
    const std::uint64_t bits = size == 8 ? LoadU64(b) : size == 4 ? LoadU32(b) : size == 2 ? LoadU16(b) : b[0];
    rtl::Variant value = FixedValue(type, bits);
    // A Boolean other than 0 and -1, or a float the variant cannot keep bit
    // for bit (a signalling NaN), would not write back as it was read.
    const std::uint64_t mask = size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
    if ((FixedValueBits(value) & mask) != bits) RaiseBinXmlReadError();
    return value;
}

// ---- readers over a string and a stream ----------------------------------------------

TStrXmlReader::TStrXmlReader(std::string_view data)
    : TBinXmlReader(static_cast<std::int64_t>(data.size())), data_(data)
{
    char signature[BinaryXmlSignature.size()];
    ReadBytes(signature, sizeof signature);
    ReadOptions();
}

void TStrXmlReader::RawRead(void* buffer, std::size_t count)
{
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
}

TStmXmlReader::TStmXmlReader(rtl::TStream& stream, std::size_t bufferSize)
    : TBinXmlReader(std::max<std::int64_t>(stream.Remaining(), 0)), stream_(stream),
      buffer_(std::max<std::size_t>(bufferSize, 1))
{
    ReadOptions();
}

void TStmXmlReader::RawRead(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::size_t buffered = std::min(count, end_ - pos_);
    std::memcpy(out, buffer_.data() + pos_, buffered);
    pos_ += buffered;
    out += buffered;
    count -= buffered;
    if (count == 0) return;
    // Remaining() counts the buffered bytes too; what is left for the stream
    // is at least count, as the caller checked.
    if (count >= buffer_.size()) {
        stream_.ReadBuffer(out, count);
        return;
    }
    const std::int64_t inStream = Remaining() - static_cast<std::int64_t>(buffered);
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(inStream, static_cast<std::int64_t>(buffer_.size())));
    stream_.ReadBuffer(buffer_.data(), n);
    pos_ = 0;
    end_ = n;
    std::memcpy(out, buffer_.data(), count);
    pos_ = count;
}

// ---- writer --------------------------------------------------------------------

void TBinXmlWriter::WriteBytes(const void* buffer, std::size_t count)
{
    if (count > 0) RawWrite(buffer, count);
}

void TBinXmlWriter::WriteByte(std::uint8_t value) { RawWrite(&value, 1); }

void TBinXmlWriter::WriteInt32(std::int32_t value)
{
    std::uint8_t b[4];
    StoreLe(b, static_cast<std::uint32_t>(value), 4);
    RawWrite(b, sizeof b);
}

void TBinXmlWriter::WriteHeader()
{
    WriteBytes(BinaryXmlSignature.data(), BinaryXmlSignature.size());
    WriteInt32(static_cast<std::int32_t>(options_));
}

void TBinXmlWriter::WriteCompressedInt(std::int32_t value)
{
    if (value >= 0 && value <= kOneByteMax) {
        WriteByte(static_cast<std::uint8_t>(value));
    } else if (value > kOneByteMax && value <= kTwoByteMax) {
        const std::uint8_t b[2] = {static_cast<std::uint8_t>((value >> 8) | 0x80), static_cast<std::uint8_t>(value & 0xFF)};
        RawWrite(b, sizeof b);
    } else {
        WriteByte(0xFF);
        WriteInt32(value);
    }
}

void TBinXmlWriter::WriteCount(std::size_t count)
{
    RTL_ASSERT(count <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()),
               "Binary XML count out of range");
    WriteCompressedInt(static_cast<std::int32_t>(count));
}

namespace {

void WriteWide(TBinXmlWriter& w, std::string_view utf8)
{
    const std::u16string text = rtl::Utf8ToUtf16(utf8);
    std::vector<std::uint8_t> bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) StoreLe(&bytes[2 * i], text[i], 2);
    w.WriteCount(text.size());
    w.WriteBytes(bytes.data(), bytes.size());
}

void WriteNarrow(TBinXmlWriter& w, std::string_view utf8)
{
    const std::string bytes = rtl::Utf8ToCp1251(utf8);
    w.WriteCount(bytes.size());
    w.WriteBytes(bytes.data(), bytes.size());
}

} // namespace

void TBinXmlWriter::WriteString(std::string_view utf8)
{
    if (options_ & BinXmlWideStrings)
        WriteWide(*this, utf8);
    else
        WriteNarrow(*this, utf8);
}

void TBinXmlWriter::WriteVariantValue(const rtl::Variant& value)
{
    const rtl::TVarType type = value.VarType();
    if (!IsWritableType(type)) throw rtl::Exception(SWriteValueType);
    // The text is converted before anything is written, so a character
    // outside Windows-1251 leaves no half-written value behind.
    switch (type) {
    case rtl::varEmpty:
    case rtl::varNull: WriteCompressedInt(type); return;
    case rtl::varOleStr: {
        const std::string text = value.AsString();
        WriteCompressedInt(type);
        WriteWide(*this, text);
        return;
    }
    case rtl::varString: {
        const std::string bytes = rtl::Utf8ToCp1251(value.AsString());
        WriteCompressedInt(type);
        WriteCount(bytes.size());
        WriteBytes(bytes.data(), bytes.size());
        return;
    }
    case rtl::varByteArray: {
        const rtl::ByteArray& bytes = value.AsBytes();
        WriteCompressedInt(type);
        WriteCount(bytes.size());
        WriteBytes(bytes.data(), bytes.size());
        return;
    }
    default: break;
    }
    const int size = FixedValueSize(type);
    std::uint8_t b[8];
    StoreLe(b, FixedValueBits(value), size);
    WriteCompressedInt(type);
    RawWrite(b, static_cast<std::size_t>(size));
}

// ---- writers to a string and a stream ------------------------------------------------

TStrXmlWriter::TStrXmlWriter(std::uint32_t options, std::size_t bufferSize) : TBinXmlWriter(options)
{
    result_.reserve(std::min<std::size_t>(bufferSize, 4096));
    WriteHeader();
}

std::string TStrXmlWriter::TakeResult() { return std::exchange(result_, std::string()); }

void TStrXmlWriter::RawWrite(const void* buffer, std::size_t count)
{
    result_.append(static_cast<const char*>(buffer), count);
}

TStmXmlWriter::TStmXmlWriter(rtl::TStream& stream, std::size_t bufferSize, std::uint32_t options)
    : TBinXmlWriter(options), stream_(stream), buffer_(std::max<std::size_t>(bufferSize, 1))
{
    WriteHeader();
}

void TStmXmlWriter::Flush()
{
    if (used_ == 0) return;
    const std::size_t n = used_;
    used_ = 0;
    stream_.WriteBuffer(buffer_.data(), n);
}

void TStmXmlWriter::RawWrite(const void* buffer, std::size_t count)
{
    if (count <= buffer_.size() - used_) {
        std::memcpy(buffer_.data() + used_, buffer, count);
        used_ += count;
        return;
    }
    Flush();
    stream_.WriteBuffer(buffer, count);
}
