// Paradox formats: field codec, code pages and header parsing/building.
#include "platform/bde/PxFormat.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <iconv.h>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace bde {

namespace {

// Texts of the errors raised here.
constexpr const char* SBadHeader = "File \"%s\" is not a Paradox file this engine can read: %s";
constexpr const char* SCodePageUnsupported = "Code page %d is not supported";
constexpr const char* SCharNotInCodePage =
    "The character U+%04X of %s cannot be stored in code page %d";
constexpr const char* SValueTooLong = "Value of field \"%s\" of table \"%s\" is too long: %d bytes, the field holds %d";
constexpr const char* SValueOutOfRange = "Value %s is out of range for field \"%s\" of table \"%s\"";
constexpr const char* SValueNotConvertible = "Value of field \"%s\" of table \"%s\" cannot be stored: %s";
constexpr const char* SZeroInText = "Value of field \"%s\" of table \"%s\" contains a zero character";

} // namespace

bool PxIsKnownFieldType(std::uint8_t code) noexcept
{
    switch (code) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x09:
    case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10:
    case 0x14: case 0x15: case 0x16: case 0x17: case 0x18:
        return true;
    default:
        return false;
    }
}

bool PxIsBlobType(PxFieldType type) noexcept
{
    switch (type) {
    case PxFieldType::Memo: case PxFieldType::Blob: case PxFieldType::FmtMemo:
    case PxFieldType::Ole: case PxFieldType::Graphic:
        return true;
    default:
        return false;
    }
}

const char* PxFieldTypeName(PxFieldType type) noexcept
{
    switch (type) {
    case PxFieldType::Alpha: return "Alpha";
    case PxFieldType::Date: return "Date";
    case PxFieldType::Short: return "Short";
    case PxFieldType::Long: return "Long integer";
    case PxFieldType::Money: return "Money";
    case PxFieldType::Number: return "Number";
    case PxFieldType::Logical: return "Logical";
    case PxFieldType::Memo: return "Memo";
    case PxFieldType::Blob: return "Binary";
    case PxFieldType::FmtMemo: return "Formatted memo";
    case PxFieldType::Ole: return "OLE";
    case PxFieldType::Graphic: return "Graphic";
    case PxFieldType::Time: return "Time";
    case PxFieldType::Timestamp: return "Timestamp";
    case PxFieldType::AutoInc: return "Autoincrement";
    case PxFieldType::Bcd: return "BCD";
    case PxFieldType::Bytes: return "Bytes";
    }
    return "?";
}

int PxHeaderSize(PxFieldType type, int size) noexcept
{
    switch (type) {
    case PxFieldType::Alpha: case PxFieldType::Bytes: return size;
    case PxFieldType::Bcd: return size;
    case PxFieldType::Date: case PxFieldType::Long: case PxFieldType::Time:
    case PxFieldType::AutoInc: return 4;
    case PxFieldType::Short: return 2;
    case PxFieldType::Money: case PxFieldType::Number: case PxFieldType::Timestamp: return 8;
    case PxFieldType::Logical: return 1;
    default: return size + kPxBlobFieldExtra; // blobs
    }
}

int PxUserSize(PxFieldType type, int headerSize) noexcept
{
    if (PxIsBlobType(type)) return headerSize - kPxBlobFieldExtra;
    switch (type) {
    case PxFieldType::Alpha: case PxFieldType::Bytes: case PxFieldType::Bcd: return headerSize;
    default: return 0;
    }
}

int PxRecordBytes(PxFieldType type, int headerSize) noexcept
{
    return type == PxFieldType::Bcd ? 17 : headerSize;
}

std::string PxVersionName(std::uint8_t version)
{
    if (version <= kPxVersion30) return "3.0";
    if (version == kPxVersion35) return "3.5";
    if (version <= 0x09) return "4.0";
    if (version <= 0x0B) return "5.0";
    return "7.0";
}

bool PxIsDataLayout(std::uint8_t fileType) noexcept
{
    return fileType == 0 || fileType == 2 || fileType == 3 || fileType == 5 || fileType == 6 ||
           fileType == 8;
}

std::uint16_t PxGetU16(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t PxGetU32(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PxPutU16(std::uint8_t* p, std::uint16_t v) noexcept
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PxPutU32(std::uint8_t* p, std::uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// ---- code pages ---------------------------------------------------------------

namespace {

struct CodePageTables {
    std::array<char32_t, 256> toChar{};
    std::unordered_map<char32_t, std::uint8_t> toByte;
};

// HP Roman-8 (IBM 1051), bytes 0xA0 to 0xFF. The system's iconv may not know
// it by a code-page number. 0xFF is undefined and its own number is 0xEF's
// character: it reads as U+FFFD, so that it still survives a round trip.
constexpr char32_t kRoman8High[96] = {
    0x00A0, 0x00C0, 0x00C2, 0x00C8, 0x00CA, 0x00CB, 0x00CE, 0x00CF, // 0xA0
    0x00B4, 0x02CB, 0x02C6, 0x00A8, 0x02DC, 0x00D9, 0x00DB, 0x20A4, // 0xA8
    0x00AF, 0x00DD, 0x00FD, 0x00B0, 0x00C7, 0x00E7, 0x00D1, 0x00F1, // 0xB0
    0x00A1, 0x00BF, 0x00A4, 0x00A3, 0x00A5, 0x00A7, 0x0192, 0x00A2, // 0xB8
    0x00E2, 0x00EA, 0x00F4, 0x00FB, 0x00E1, 0x00E9, 0x00F3, 0x00FA, // 0xC0
    0x00E0, 0x00E8, 0x00F2, 0x00F9, 0x00E4, 0x00EB, 0x00F6, 0x00FC, // 0xC8
    0x00C5, 0x00EE, 0x00D8, 0x00C6, 0x00E5, 0x00ED, 0x00F8, 0x00E6, // 0xD0
    0x00C4, 0x00EC, 0x00D6, 0x00DC, 0x00C9, 0x00EF, 0x00DF, 0x00D4, // 0xD8
    0x00C1, 0x00C3, 0x00E3, 0x00D0, 0x00F0, 0x00CD, 0x00CC, 0x00D3, // 0xE0
    0x00D2, 0x00D5, 0x00F5, 0x0160, 0x0161, 0x00DA, 0x0178, 0x00FF, // 0xE8
    0x00DE, 0x00FE, 0x00B7, 0x00B5, 0x00B6, 0x00BE, 0x2014, 0x00BC, // 0xF0
    0x00BD, 0x00AA, 0x00BA, 0x00AB, 0x25A0, 0x00BB, 0x00B1, 0xFFFD, // 0xF8
};

// Builds the 256-entry table of a code page through the system's iconv (Roman-8
// from the table above); nullptr when there is no conversion for it.
std::unique_ptr<CodePageTables> BuildTables(int number)
{
    if (number == kPxCodePageRoman8) {
        auto t = std::make_unique<CodePageTables>();
        for (int b = 0; b < 256; ++b)
            t->toChar[static_cast<std::size_t>(b)] = b < 0xA0 ? static_cast<char32_t>(b) : kRoman8High[b - 0xA0];
        for (int b = 255; b >= 0; --b) t->toByte[t->toChar[static_cast<std::size_t>(b)]] = static_cast<std::uint8_t>(b);
        return t;
    }
    const std::string name = "CP" + rtl::IntToStr(number);
    iconv_t cd = iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    auto t = std::make_unique<CodePageTables>();
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* pin = in;
        char* pout = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
        char32_t ch = static_cast<char32_t>(b);
        if (r != static_cast<std::size_t>(-1) && sizeof out - outLeft == 4) {
            ch = PxGetU32(reinterpret_cast<const std::uint8_t*>(out));
        }
        t->toChar[static_cast<std::size_t>(b)] = ch;
    }
    iconv_close(cd);
    // An undefined byte keeps its own number; if that character belongs to
    // another byte already, the table still decodes, and the first byte wins.
    for (int b = 255; b >= 0; --b) t->toByte[t->toChar[static_cast<std::size_t>(b)]] = static_cast<std::uint8_t>(b);
    return t;
}

const CodePageTables* TablesOf(int number)
{
    static std::mutex lock;
    static std::map<int, std::unique_ptr<CodePageTables>> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache.find(number);
    if (it == cache.end()) it = cache.emplace(number, BuildTables(number)).first;
    return it->second.get();
}

} // namespace

PxCodePage::PxCodePage(int number) : number_(number)
{
    if (number == 1251) return;
    const CodePageTables* t = number > 0 ? TablesOf(number) : nullptr;
    if (!t) throw EPxError(rtl::Format(SCodePageUnsupported, number));
    table_ = t->toChar.data();
}

std::string PxCodePage::ToUtf8(std::string_view bytes) const
{
    if (!table_) return rtl::Cp1251ToUtf8(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) rtl::AppendUtf8(out, table_[c]);
    return out;
}

std::string PxCodePage::FromUtf8(std::string_view utf8, const std::string& what) const
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    const CodePageTables* t = table_ ? TablesOf(number_) : nullptr;
    while (pos < utf8.size()) {
        char32_t ch;
        try {
            ch = rtl::NextUtf8(utf8, pos);
        } catch (const rtl::EEncodingError& e) {
            throw EPxError(what + ": " + e.Message());
        }
        std::uint8_t b = 0;
        bool ok;
        if (t) {
            auto it = t->toByte.find(ch);
            ok = it != t->toByte.end();
            if (ok) b = it->second;
        } else {
            ok = rtl::CharToCp1251(ch, b);
        }
        if (!ok) throw EPxError(rtl::Format(SCharNotInCodePage, static_cast<unsigned>(ch), what.c_str(), number_));
        out.push_back(static_cast<char>(b));
    }
    return out;
}

// ---- numbers ---------------------------------------------------------------------

void PxEncodeInt(std::uint8_t* p, int bytes, std::int64_t value) noexcept
{
    const auto u = static_cast<std::uint64_t>(value);
    for (int i = 0; i < bytes; ++i) p[bytes - 1 - i] = static_cast<std::uint8_t>(u >> (8 * i));
    p[0] ^= 0x80;
}

std::int64_t PxDecodeInt(const std::uint8_t* p, int bytes) noexcept
{
    std::uint64_t u = static_cast<std::uint64_t>(p[0] ^ 0x80);
    for (int i = 1; i < bytes; ++i) u = (u << 8) | p[i];
    // sign-extend from bytes*8 bits
    const int shift = 64 - 8 * bytes;
    return static_cast<std::int64_t>(u << shift) >> shift;
}

void PxEncodeDouble(std::uint8_t* p, double value) noexcept
{
    if (value == 0) value = 0; // no negative zero
    auto bits = std::bit_cast<std::uint64_t>(value);
    if (bits & 0x8000000000000000ULL) bits = ~bits;
    else bits |= 0x8000000000000000ULL;
    for (int i = 0; i < 8; ++i) p[7 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

double PxDecodeDouble(const std::uint8_t* p) noexcept
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
    if (bits & 0x8000000000000000ULL) bits &= ~0x8000000000000000ULL;
    else bits = ~bits;
    return std::bit_cast<double>(bits);
}

bool PxIsBlank(const std::uint8_t* p, int bytes) noexcept
{
    for (int i = 0; i < bytes; ++i)
        if (p[i]) return false;
    return true;
}

std::string PxDecodeBcd(const std::uint8_t* p, int decimals)
{
    if (PxIsBlank(p, 17)) return "";
    // The digits are aligned on the field's decimals (the header's size byte).
    const bool negative = (p[0] & 0x80) == 0;
    if (decimals < 0 || decimals > kPxMaxBcdDecimals) decimals = 0;
    std::string digits;
    for (int i = 0; i < 32; ++i) {
        int nibble = (i % 2 == 0) ? (p[1 + i / 2] >> 4) : (p[1 + i / 2] & 0x0F);
        if (negative) nibble = 15 - nibble;
        if (nibble > 9) nibble = 9;
        digits.push_back(static_cast<char>('0' + nibble));
    }
    std::string whole = digits.substr(0, static_cast<std::size_t>(32 - decimals));
    const std::string frac = digits.substr(static_cast<std::size_t>(32 - decimals));
    const std::size_t nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "0" : whole.substr(nz);
    std::string text = whole;
    if (!frac.empty()) text += "." + frac;
    if (negative && text.find_first_not_of("0.") != std::string::npos) text = "-" + text;
    return text;
}

bool PxEncodeBcd(std::uint8_t* p, int decimals, std::string_view text)
{
    std::memset(p, 0, 17);
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string whole, frac;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) { point = true; continue; }
        if (c < '0' || c > '9') return false;
        (point ? frac : whole).push_back(c);
    }
    if (whole.empty() && frac.empty()) return false;
    if (static_cast<int>(frac.size()) > decimals) {
        // Values carry no more decimals than the field keeps.
        for (std::size_t k = static_cast<std::size_t>(decimals); k < frac.size(); ++k)
            if (frac[k] != '0') return false;
        frac.resize(static_cast<std::size_t>(decimals));
    }
    frac.append(static_cast<std::size_t>(decimals) - frac.size(), '0');
    const std::size_t nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "" : whole.substr(nz);
    if (static_cast<int>(whole.size()) > 32 - decimals) return false;
    const std::string digits = std::string(static_cast<std::size_t>(32 - decimals) - whole.size(), '0') + whole + frac;
    if (digits.find_first_not_of('0') == std::string::npos) negative = false;
    p[0] = static_cast<std::uint8_t>((negative ? 0x40 : 0xC0) | decimals);
    for (int k = 0; k < 32; ++k) {
        int d = digits[static_cast<std::size_t>(k)] - '0';
        if (negative) d = 15 - d;
        if (k % 2 == 0) p[1 + k / 2] = static_cast<std::uint8_t>(d << 4);
        else p[1 + k / 2] = static_cast<std::uint8_t>(p[1 + k / 2] | d);
    }
    return true;
}

// ---- values -------------------------------------------------------------------

namespace {

std::int64_t ToOrdinalDays(double dt)
{
    return static_cast<std::int64_t>(std::trunc(dt)) + kPxDateOffset;
}

std::int64_t MsOfDay(double dt)
{
    const double frac = std::fabs(dt - std::trunc(dt));
    std::int64_t ms = std::llround(frac * static_cast<double>(kPxMsPerDay));
    if (ms >= kPxMsPerDay) ms = kPxMsPerDay - 1;
    return ms;
}

double FromOrdinalMs(std::int64_t days, std::int64_t ms)
{
    return rtl::ComposeDateTime(static_cast<double>(days - kPxDateOffset),
                                static_cast<double>(ms) / static_cast<double>(kPxMsPerDay));
}

constexpr std::int64_t kMaxOrdinal = 3652059; // 9999-12-31

} // namespace

rtl::Variant PxDecodeValue(const PxFieldLayout& f, const std::uint8_t* p, const PxCodePage& cp)
{
    switch (f.type) {
    case PxFieldType::Alpha: {
        std::size_t n = 0;
        while (n < static_cast<std::size_t>(f.length) && p[n]) ++n;
        if (n == 0) return rtl::Variant::Null();
        return rtl::Variant(cp.ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n)));
    }
    case PxFieldType::Bytes: {
        if (PxIsBlank(p, f.length)) return rtl::Variant::Null();
        return rtl::Variant(rtl::ByteArray(p, p + f.length));
    }
    default:
        break;
    }
    if (PxIsBlank(p, f.length)) return rtl::Variant::Null();
    switch (f.type) {
    case PxFieldType::Short:
        return rtl::Variant::SmallInt(static_cast<std::int16_t>(PxDecodeInt(p, 2)));
    case PxFieldType::Long: case PxFieldType::AutoInc:
        return rtl::Variant(static_cast<std::int32_t>(PxDecodeInt(p, 4)));
    case PxFieldType::Money: case PxFieldType::Number:
        return rtl::Variant(PxDecodeDouble(p));
    case PxFieldType::Logical:
        return rtl::Variant((p[0] ^ 0x80) != 0);
    case PxFieldType::Date:
        return rtl::Variant::DateTime(static_cast<double>(PxDecodeInt(p, 4) - kPxDateOffset));
    case PxFieldType::Time:
        return rtl::Variant::DateTime(static_cast<double>(PxDecodeInt(p, 4)) / static_cast<double>(kPxMsPerDay));
    case PxFieldType::Timestamp: {
        const double ms = PxDecodeDouble(p);
        const auto total = static_cast<std::int64_t>(std::llround(ms));
        std::int64_t days = total / kPxMsPerDay;
        std::int64_t rest = total % kPxMsPerDay;
        if (rest < 0) { rest += kPxMsPerDay; --days; }
        return rtl::Variant::DateTime(FromOrdinalMs(days, rest));
    }
    case PxFieldType::Bcd: {
        const std::string text = PxDecodeBcd(p, f.headerSize);
        return rtl::Variant(rtl::StrToFloat(text));
    }
    default:
        return rtl::Variant::Null();
    }
}

void PxEncodeValue(const PxFieldLayout& f, std::uint8_t* p, const rtl::Variant& value,
                   const PxCodePage& cp, const std::string& table)
{
    std::memset(p, 0, static_cast<std::size_t>(f.length));
    if (value.IsClear()) return;
    const auto fail = [&](const std::string& why) {
        throw EPxError(rtl::Format(SValueNotConvertible, f.name.c_str(), table.c_str(), why.c_str()));
    };
    try {
        switch (f.type) {
        case PxFieldType::Alpha: {
            const std::string text = value.AsString();
            if (text.empty()) return;
            const std::string bytes =
                cp.FromUtf8(text, "field \"" + f.name + "\" of table \"" + table + "\"");
            if (bytes.find('\0') != std::string::npos)
                throw EPxError(rtl::Format(SZeroInText, f.name.c_str(), table.c_str()));
            if (static_cast<int>(bytes.size()) > f.length)
                throw EPxError(rtl::Format(SValueTooLong, f.name.c_str(), table.c_str(),
                                           static_cast<int>(bytes.size()), f.length));
            std::memcpy(p, bytes.data(), bytes.size());
            return;
        }
        case PxFieldType::Bytes: {
            rtl::ByteArray bytes;
            if (value.IsByteArray()) bytes = value.AsBytes();
            else {
                const std::string s = value.AsString();
                bytes.assign(s.begin(), s.end());
            }
            if (static_cast<int>(bytes.size()) > f.length)
                throw EPxError(rtl::Format(SValueTooLong, f.name.c_str(), table.c_str(),
                                           static_cast<int>(bytes.size()), f.length));
            if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
            return;
        }
        case PxFieldType::Short: case PxFieldType::Long: case PxFieldType::AutoInc: {
            const std::int64_t v = value.AsInt64();
            const std::int64_t limit = f.type == PxFieldType::Short ? 32767 : 2147483647;
            if (v < -limit || v > limit)
                throw EPxError(rtl::Format(SValueOutOfRange, rtl::IntToStr(v).c_str(), f.name.c_str(), table.c_str()));
            PxEncodeInt(p, f.type == PxFieldType::Short ? 2 : 4, v);
            return;
        }
        case PxFieldType::Money: case PxFieldType::Number: {
            const double d = value.AsDouble();
            if (!std::isfinite(d)) fail("not a finite number");
            PxEncodeDouble(p, d);
            return;
        }
        case PxFieldType::Logical:
            p[0] = value.AsBoolean() ? 0x81 : 0x80;
            return;
        case PxFieldType::Date: {
            const double dt = value.AsDateTime();
            if (!std::isfinite(dt)) fail("not a date");
            const std::int64_t days = ToOrdinalDays(dt);
            if (days < 1 || days > kMaxOrdinal)
                throw EPxError(rtl::Format(SValueOutOfRange, rtl::FloatToStr(dt).c_str(), f.name.c_str(), table.c_str()));
            PxEncodeInt(p, 4, days);
            return;
        }
        case PxFieldType::Time: {
            const double dt = value.AsDateTime();
            if (!std::isfinite(dt)) fail("not a time");
            PxEncodeInt(p, 4, MsOfDay(dt));
            return;
        }
        case PxFieldType::Timestamp: {
            const double dt = value.AsDateTime();
            if (!std::isfinite(dt)) fail("not a date-time");
            const std::int64_t days = ToOrdinalDays(dt);
            if (days < 1 || days > kMaxOrdinal)
                throw EPxError(rtl::Format(SValueOutOfRange, rtl::FloatToStr(dt).c_str(), f.name.c_str(), table.c_str()));
            PxEncodeDouble(p, static_cast<double>(days * kPxMsPerDay + MsOfDay(dt)));
            return;
        }
        case PxFieldType::Bcd: {
            std::string text;
            if (value.IsString()) text = rtl::Trim(value.AsString());
            else {
                const double d = value.AsDouble();
                if (!std::isfinite(d)) fail("not a finite number");
                char buf[400];
                auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, f.headerSize);
                text.assign(buf, r.ptr);
            }
            if (!PxEncodeBcd(p, f.headerSize, text))
                throw EPxError(rtl::Format(SValueOutOfRange, text.c_str(), f.name.c_str(), table.c_str()));
            return;
        }
        default:
            fail("a blob field is not stored by value");
        }
    } catch (const EPxError&) {
        std::memset(p, 0, static_cast<std::size_t>(f.length));
        throw;
    } catch (const rtl::Exception& e) {
        std::memset(p, 0, static_cast<std::size_t>(f.length));
        fail(e.Message());
    }
}

// ---- headers ---------------------------------------------------------------------

namespace {

// Offsets of the header fields the engine reads or writes.
enum : std::size_t {
    kOffRecordSize = 0x00, kOffHeaderSize = 0x02, kOffFileType = 0x04, kOffMaxTableSize = 0x05,
    kOffNumRecords = 0x06, kOffUsedBlocks = 0x0A, kOffFileBlocks = 0x0C, kOffFirstBlock = 0x0E,
    kOffLastBlock = 0x10, kOffIndexFieldNumber = 0x15, kOffIndexRoot = 0x1E, kOffIndexLevels = 0x20,
    kOffNumFields = 0x21, kOffKeyFields = 0x23, kOffEncryption1 = 0x25, kOffSortOrder = 0x29,
    kOffVersion = 0x39, kOffMaxBlocks = 0x3A, kOffAuxPasswords = 0x3D, kOffUnknown3E = 0x3E, kOffAutoInc = 0x49,
    kOffFirstFree = 0x4D, kOffUsedHeader = 0x51, kOffDirection = 0x55, kOffVersion2 = 0x58,
    kOffVersion3 = 0x5A, kOffEncryption2 = 0x5C, kOffHiFieldId = 0x64, kOffCodePage = 0x6A,
    kFieldInfoOld = 0x58, kFieldInfoNew = 0x78,
};

int TableNameLength(std::uint8_t version) { return version >= kPxVersion70 ? 261 : 79; }

// Field descriptors at `start`; false when they do not add up to the record size.
// Whether a header's fSize byte can belong to a field of that type: the
// record codec reads fixed widths for the fixed types and a leader of
// fSize - 10 bytes for the blob types, so any other size would take it past
// the field.
bool ValidHeaderSize(PxFieldType type, int size) noexcept
{
    switch (type) {
    case PxFieldType::Alpha:
    case PxFieldType::Bytes: return size >= 1;
    case PxFieldType::Short: return size == 2;
    case PxFieldType::Logical: return size == 1;
    case PxFieldType::Date:
    case PxFieldType::Long:
    case PxFieldType::Time:
    case PxFieldType::AutoInc: return size == 4;
    case PxFieldType::Money:
    case PxFieldType::Number:
    case PxFieldType::Timestamp: return size == 8;
    case PxFieldType::Bcd: return size <= 32;
    case PxFieldType::Memo:
    case PxFieldType::Blob:
    case PxFieldType::FmtMemo:
    case PxFieldType::Ole:
    case PxFieldType::Graphic: return size >= 10 && size <= 250;
    }
    return false;
}

bool ReadFieldInfo(const std::vector<std::uint8_t>& b, std::size_t start, int n, bool data,
                   int recordSize, std::vector<PxHeaderField>& out)
{
    if (start + 2 * static_cast<std::size_t>(n) > b.size()) return false;
    out.clear();
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        PxHeaderField f;
        f.type = b[start + 2 * static_cast<std::size_t>(i)];
        f.size = b[start + 2 * static_cast<std::size_t>(i) + 1];
        if (!PxIsKnownFieldType(f.type)) return false;
        if (data && !ValidHeaderSize(static_cast<PxFieldType>(f.type), f.size)) return false;
        sum += PxRecordBytes(static_cast<PxFieldType>(f.type), f.size);
        out.push_back(f);
    }
    return data ? sum == recordSize : sum + 6 == recordSize;
}

std::string ReadZ(const std::vector<std::uint8_t>& b, std::size_t& pos, std::size_t end, bool& ok)
{
    std::string s;
    while (pos < end && b[pos]) s.push_back(static_cast<char>(b[pos++]));
    if (pos >= end) { ok = false; return s; }
    ++pos;
    return s;
}

} // namespace

std::uint16_t PxHeaderSizeOf(const std::uint8_t* first4) noexcept { return PxGetU16(first4 + 2); }

PxHeader PxParseHeader(const std::vector<std::uint8_t>& bytes, const std::string& file)
{
    const auto bad = [&](const char* why) { throw EPxError(rtl::Format(SBadHeader, file.c_str(), why)); };
    if (bytes.size() < kFieldInfoNew) bad("the header is truncated");
    PxHeader h;
    h.raw = bytes;
    const std::uint8_t* b = bytes.data();
    h.recordSize = PxGetU16(b + kOffRecordSize);
    h.headerSize = PxGetU16(b + kOffHeaderSize);
    h.fileType = b[kOffFileType];
    h.maxTableSize = b[kOffMaxTableSize];
    h.numRecords = static_cast<std::int32_t>(PxGetU32(b + kOffNumRecords));
    h.usedBlocks = PxGetU16(b + kOffUsedBlocks);
    h.fileBlocks = PxGetU16(b + kOffFileBlocks);
    h.firstBlock = PxGetU16(b + kOffFirstBlock);
    h.lastBlock = PxGetU16(b + kOffLastBlock);
    h.indexFieldNumber = b[kOffIndexFieldNumber];
    h.indexRoot = PxGetU16(b + kOffIndexRoot);
    h.indexLevels = b[kOffIndexLevels];
    h.keyFields = PxGetU16(b + kOffKeyFields);
    h.sortOrder = b[kOffSortOrder];
    h.version = b[kOffVersion];
    h.autoInc = static_cast<std::int32_t>(PxGetU32(b + kOffAutoInc));
    h.firstFreeBlock = PxGetU16(b + kOffFirstFree);
    h.direction = b[kOffDirection];
    if (h.fileType > 8) bad("unknown file type");
    const bool data = h.IsDataLayout();
    // In .PX/.Y files byte 0x20 is the index level count and the field count is one byte.
    h.numFields = data ? PxGetU16(b + kOffNumFields) : b[kOffNumFields];
    if (h.maxTableSize < 1 || h.maxTableSize > 32) bad("bad block size");
    if (h.headerSize < kFieldInfoOld || h.headerSize > bytes.size()) bad("bad header size");
    if (h.recordSize == 0 || h.numFields == 0 || h.numFields > kPxMaxFields) bad("bad record layout");
    if (h.recordSize + 6 > h.BlockSize()) bad("records larger than the blocks");

    // The 4.0+ part (version words, second encryption code, code page) sits at
    // 0x58 in data and .X files; the field descriptors follow it. Files whose
    // descriptors only add up without it are read without it.
    const bool expectExtended = data && h.version >= 0x05;
    std::size_t infoStart = expectExtended ? kFieldInfoNew : kFieldInfoOld;
    h.extended = expectExtended;
    if (!ReadFieldInfo(bytes, infoStart, h.numFields, data, h.recordSize, h.fields)) {
        const std::size_t other = expectExtended ? kFieldInfoOld : kFieldInfoNew;
        if (!(data && h.version >= 0x05) ||
            !ReadFieldInfo(bytes, other, h.numFields, data, h.recordSize, h.fields))
            bad("the field descriptors do not match the record size");
        infoStart = other;
        h.extended = other == kFieldInfoNew;
    }
    h.encryption = h.extended ? PxGetU32(b + kOffEncryption2) : PxGetU32(b + kOffEncryption1);
    h.codePage = h.extended ? PxGetU16(b + kOffCodePage) : 0;

    const std::size_t end = h.headerSize;
    std::size_t pos = infoStart + 2 * static_cast<std::size_t>(h.numFields) + 4;
    if (data) pos += 4 * static_cast<std::size_t>(h.numFields);
    const std::size_t nameLen = static_cast<std::size_t>(TableNameLength(h.version));
    if (pos + nameLen > end) bad("the header is truncated");
    for (std::size_t i = 0; i < nameLen && b[pos + i]; ++i) h.tableName.push_back(static_cast<char>(b[pos + i]));
    pos += nameLen;
    if (!data) return h;

    bool ok = true;
    for (auto& f : h.fields) {
        f.name = ReadZ(bytes, pos, end, ok);
        if (!ok) bad("the field names are truncated");
    }
    // Whether `at` holds n field numbers (in order 1..n when asked).
    const auto numbersAt = [&](std::size_t at, bool inOrder) {
        if (at + 2 * static_cast<std::size_t>(h.numFields) > end) return false;
        for (int i = 0; i < h.numFields; ++i) {
            const std::uint16_t n = PxGetU16(b + at + 2 * static_cast<std::size_t>(i));
            if (n > kPxMaxFields || (inOrder && n != i + 1)) return false;
        }
        return true;
    };
    // A protected file may keep protection data before the field numbers (a
    // byte per field, or 256 bytes when it has auxiliary passwords); some
    // writers leave it out. The numbers are looked for where they read as
    // the table's field numbers.
    if (h.encryption != 0) {
        const std::size_t skip = b[kOffAuxPasswords] != 0 ? 256 : static_cast<std::size_t>(h.numFields);
        const bool ordered = h.fileType <= 2; // a data file numbers its fields 1..n
        if (!numbersAt(pos, ordered) && numbersAt(pos + skip, false)) pos += skip;
    }
    // Field numbers and the sort order; tolerated when absent.
    if (numbersAt(pos, false)) {
        for (int i = 0; i < h.numFields; ++i) h.fieldNumbers.push_back(PxGetU16(b + pos + 2 * static_cast<std::size_t>(i)));
        pos += 2 * static_cast<std::size_t>(h.numFields);
        std::size_t p2 = pos;
        bool ok2 = true;
        std::string so = ReadZ(bytes, p2, end, ok2);
        if (ok2) {
            h.sortOrderId = so;
            std::string idx = ReadZ(bytes, p2, end, ok2);
            if (ok2) h.indexName = idx;
        }
    }
    return h;
}

void PxStoreCounters(PxHeader& h)
{
    std::uint8_t* b = h.raw.data();
    PxPutU32(b + kOffNumRecords, static_cast<std::uint32_t>(h.numRecords));
    PxPutU16(b + kOffUsedBlocks, h.usedBlocks);
    PxPutU16(b + kOffFileBlocks, h.fileBlocks);
    PxPutU16(b + kOffFirstBlock, h.firstBlock);
    PxPutU16(b + kOffLastBlock, h.lastBlock);
    PxPutU16(b + kOffMaxBlocks, h.fileBlocks);
    if (h.IsDataLayout()) {
        PxPutU16(b + kOffFirstFree, h.firstFreeBlock);
        PxPutU32(b + kOffAutoInc, static_cast<std::uint32_t>(h.autoInc));
    } else {
        PxPutU16(b + kOffIndexRoot, h.indexRoot);
        b[kOffIndexLevels] = h.indexLevels;
    }
}

PxHeader PxBuildDataHeader(const PxNewDataHeader& s)
{
    const int n = static_cast<int>(s.fields.size());
    const bool extended = s.version >= 0x05;
    const std::size_t infoStart = extended ? kFieldInfoNew : kFieldInfoOld;
    const std::size_t nameLen = static_cast<std::size_t>(TableNameLength(s.version));
    std::size_t used = infoStart + 6 * static_cast<std::size_t>(n) + 4 + nameLen;
    for (const auto& f : s.fields) used += f.name.size() + 1;
    used += 2 * static_cast<std::size_t>(n) + s.sortOrderId.size() + 1;
    const bool secondary = s.fileType != 0 && s.fileType != 2;
    if (secondary) used += s.indexName.size() + 1;
    const std::size_t headerSize = (used + 0x7FF) / 0x800 * 0x800;

    std::vector<std::uint8_t> raw(headerSize, 0);
    std::uint8_t* b = raw.data();
    int recordSize = 0;
    for (const auto& f : s.fields) recordSize += PxRecordBytes(static_cast<PxFieldType>(f.type), f.size);
    PxPutU16(b + kOffRecordSize, static_cast<std::uint16_t>(recordSize));
    PxPutU16(b + kOffHeaderSize, static_cast<std::uint16_t>(headerSize));
    b[kOffFileType] = s.fileType;
    b[kOffMaxTableSize] = static_cast<std::uint8_t>(s.blockSize / 1024);
    b[kOffIndexFieldNumber] = s.indexFieldNumber;
    PxPutU16(b + kOffNumFields, static_cast<std::uint16_t>(n));
    PxPutU16(b + kOffKeyFields, static_cast<std::uint16_t>(s.keyFields));
    PxPutU32(b + kOffEncryption1, extended ? 0xFF00FF00u : 0u);
    b[kOffSortOrder] = s.sortOrder;
    b[kOffVersion] = s.version;
    b[kOffUnknown3E] = 0x1F;
    b[kOffUnknown3E + 1] = 0x0F;
    PxPutU16(b + kOffUsedHeader, static_cast<std::uint16_t>(used));
    if (secondary && s.version >= kPxVersion70) b[kOffDirection] = 0x01;
    if (extended) {
        const std::uint16_t v = static_cast<std::uint16_t>(0x0100 | s.version);
        PxPutU16(b + kOffVersion2, v);
        PxPutU16(b + kOffVersion3, v);
        PxPutU16(b + kOffHiFieldId, static_cast<std::uint16_t>(n + 1));
        PxPutU16(b + kOffCodePage, static_cast<std::uint16_t>(s.codePage));
    }
    std::size_t pos = infoStart;
    for (const auto& f : s.fields) {
        b[pos++] = f.type;
        b[pos++] = f.size;
    }
    pos += 4 + 4 * static_cast<std::size_t>(n);
    const std::size_t tn = std::min(s.tableName.size(), nameLen - 1);
    std::memcpy(b + pos, s.tableName.data(), tn);
    pos += nameLen;
    for (const auto& f : s.fields) {
        std::memcpy(b + pos, f.name.data(), f.name.size());
        pos += f.name.size() + 1;
    }
    for (int i = 0; i < n; ++i) {
        const std::uint16_t num = s.fieldNumbers.empty() ? static_cast<std::uint16_t>(i + 1)
                                                        : s.fieldNumbers[static_cast<std::size_t>(i)];
        PxPutU16(b + pos, num);
        pos += 2;
    }
    std::memcpy(b + pos, s.sortOrderId.data(), s.sortOrderId.size());
    pos += s.sortOrderId.size() + 1;
    if (secondary) std::memcpy(b + pos, s.indexName.data(), s.indexName.size());
    return PxParseHeader(raw, s.tableName);
}

PxHeader PxBuildIndexHeader(std::uint8_t fileType, std::uint8_t version, int blockSize,
                            std::uint8_t sortOrder, const std::vector<PxHeaderField>& fields,
                            const std::string& fileName)
{
    std::vector<std::uint8_t> raw(0x800, 0);
    std::uint8_t* b = raw.data();
    int recordSize = 6;
    for (const auto& f : fields) recordSize += PxRecordBytes(static_cast<PxFieldType>(f.type), f.size);
    PxPutU16(b + kOffRecordSize, static_cast<std::uint16_t>(recordSize));
    PxPutU16(b + kOffHeaderSize, 0x800);
    b[kOffFileType] = fileType;
    b[kOffMaxTableSize] = static_cast<std::uint8_t>(blockSize / 1024);
    b[kOffNumFields] = static_cast<std::uint8_t>(fields.size());
    b[kOffSortOrder] = sortOrder;
    b[kOffVersion] = version;
    std::size_t pos = kFieldInfoOld;
    for (const auto& f : fields) {
        b[pos++] = f.type;
        b[pos++] = f.size;
    }
    pos += 4;
    const std::size_t nameLen = static_cast<std::size_t>(TableNameLength(version));
    std::memcpy(b + pos, fileName.data(), std::min(fileName.size(), nameLen - 1));
    return PxParseHeader(raw, fileName);
}

void PxDefaultSortOrder(int codePage, std::uint8_t& sortOrder, std::string& sortOrderId)
{
    switch (codePage) {
    case 1251: sortOrder = 0x8F; sortOrderId = "ancyrr"; return;
    case 1252: sortOrder = 0x62; sortOrderId = "ANSIINTL"; return;
    case 866: sortOrder = 0xC0; sortOrderId = "cyrr"; return;
    default: sortOrder = 0x00; sortOrderId = "ascii"; return;
    }
}

bool PxIsBinarySortOrder(std::string_view sortOrderId) noexcept
{
    return rtl::SameTextLatin(sortOrderId, "ascii");
}

int PxSortOrderCodePage(std::string_view sortOrderId) noexcept
{
    static const struct {
        const char* id;
        int codePage;
    } known[] = {
        {"intl", 437},     {"swedfin", 437},  {"nordan", 865},   {"nordan40", 865},  {"intl850", 850},
        {"cyrr", 866},     {"ancyrr", 1251},  {"ANSIINTL", 1252}, {"ANSII850", 1252}, {"ANSINOR4", 1252},
        {"ANSISPAN", 1252}, {"ANSISWFN", 1252}, {"BLROM800", kPxCodePageRoman8},
    };
    if (sortOrderId.empty() || PxIsBinarySortOrder(sortOrderId)) return 0;
    for (const auto& k : known)
        if (rtl::SameTextLatin(sortOrderId, k.id)) return k.codePage;
    return -1;
}

} // namespace bde
