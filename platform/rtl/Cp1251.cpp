// Windows-1251 codec and the UTF-8 / UTF-16 / UTF-32 conversions.
//
// This is the one place where the 8-bit storage text of the system (log file,
// XML text form, binary XML strings, blob strings, resources) meets the UTF-8
// text that every std::string of the program holds. The table below is the
// standard Windows-1251 code page, with the one unassigned byte 0x98 mapped to
// U+0098 so that every byte string survives a round trip.
//
// UTF-8 is decoded strictly (Unicode 15, table 3-7): overlong forms, encoded
// surrogates, values above U+10FFFF, stray continuation bytes and truncated
// sequences are all refused, with the byte offset of the offending sequence in
// the message. One decoder (DecodeUtf8) serves every function of this unit, so
// they all agree on what well-formed means.
#include "platform/rtl/Cp1251.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace rtl {

namespace {

// ---- user-facing texts --------------------------------------------------------
constexpr const char* SMalformedUtf8 = "Malformed UTF-8 at byte offset %zu: %s";
constexpr const char* SUnexpectedContinuation = "unexpected continuation byte 0x%02X";
constexpr const char* SInvalidLeadByte = "invalid byte 0x%02X";
constexpr const char* STruncatedSequence =
    "truncated sequence (lead byte 0x%02X starts a %d-byte sequence, the text ends after %zu)";
constexpr const char* SIncompleteSequence =
    "incomplete sequence (lead byte 0x%02X is followed by 0x%02X, which is not a continuation byte)";
constexpr const char* SOverlong = "overlong %d-byte encoding of U+%04X";
constexpr const char* SEncodedSurrogate = "encoded surrogate U+%04X";
constexpr const char* SAboveMaximum = "code point U+%X is above U+10FFFF";
constexpr const char* SEndOfText = "no character at byte offset %zu (end of text)";
constexpr const char* SMalformedUtf16 = "Malformed UTF-16 at code unit offset %zu: %s";
constexpr const char* SUnpairedHigh = "unpaired high surrogate U+%04X";
constexpr const char* SUnpairedLow = "unpaired low surrogate U+%04X";
constexpr const char* SNotEncodable = "Code point U+%04X cannot be encoded: %s";
constexpr const char* SNotEncodableAt = "Code point U+%04X at character offset %zu cannot be encoded: %s";
constexpr const char* SIsSurrogate = "it is a surrogate";
constexpr const char* SIsAboveMaximum = "it is above U+10FFFF";
constexpr const char* SNotInCp1251 =
    "The character U+%04X%s at character offset %zu cannot be stored in Windows-1251";

// ---- the code page ---------------------------------------------------------------
// Bytes 0x00..0x7F are ASCII and 0xC0..0xFF are U+0410..U+044F ('А'..'я'); the
// table holds the 64 bytes in between.
constexpr std::array<char16_t, 64> kHigh = {
    // 0x80
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    // 0x90 (0x98 is unassigned and stands for U+0098)
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    // 0xA0
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    // 0xB0
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

constexpr std::uint8_t kFirstHigh = 0x80;
constexpr std::uint8_t kFirstCyrillic = 0xC0;
constexpr char32_t kCyrillicBase = 0x0410;   // code point of byte 0xC0

// The reverse of kHigh, sorted by code point, for a binary search.
struct HighEntry {
    char16_t ch;
    std::uint8_t byte;
};

constexpr std::array<HighEntry, 64> MakeReverse()
{
    std::array<HighEntry, 64> r{};
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        r[i] = HighEntry{kHigh[i], static_cast<std::uint8_t>(kFirstHigh + i)};
    std::sort(r.begin(), r.end(), [](const HighEntry& a, const HighEntry& b) { return a.ch < b.ch; });
    return r;
}

constexpr std::array<HighEntry, 64> kReverse = MakeReverse();

// ---- strict UTF-8 decoding ---------------------------------------------------------
enum class Utf8Status {
    Ok,
    UnexpectedContinuation,
    InvalidLeadByte,
    Truncated,
    Incomplete,
    Overlong,
    Surrogate,
    AboveMaximum,
};

struct Decoded {
    Utf8Status status = Utf8Status::Ok;
    char32_t ch = 0;        // the code point; the decoded (bad) value for Overlong/Surrogate/AboveMaximum
    int length = 1;         // bytes of the sequence (as the lead byte announces it)
    std::uint8_t bad = 0;   // the non-continuation byte for Incomplete
};

constexpr bool IsContinuation(std::uint8_t b) noexcept { return (b & 0xC0) == 0x80; }

// Decodes the sequence that starts at pos (pos < text.size()).
Decoded DecodeUtf8(std::string_view text, std::size_t pos) noexcept
{
    Decoded d;
    const auto b0 = static_cast<std::uint8_t>(text[pos]);
    if (b0 < 0x80) {
        d.ch = b0;
        return d;
    }
    if (IsContinuation(b0)) {
        d.status = Utf8Status::UnexpectedContinuation;
        return d;
    }
    char32_t value = 0;
    char32_t minimum = 0;
    if (b0 < 0xE0) {
        d.length = 2;
        value = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 < 0xF0) {
        d.length = 3;
        value = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 < 0xF8) {
        d.length = 4;
        value = b0 & 0x07;
        minimum = 0x10000;
    } else {
        d.status = Utf8Status::InvalidLeadByte;
        return d;
    }
    for (int i = 1; i < d.length; ++i) {
        if (pos + i >= text.size()) {
            d.status = Utf8Status::Truncated;
            return d;
        }
        const auto b = static_cast<std::uint8_t>(text[pos + i]);
        if (!IsContinuation(b)) {
            d.status = Utf8Status::Incomplete;
            d.bad = b;
            return d;
        }
        value = (value << 6) | (b & 0x3F);
    }
    d.ch = value;
    if (value < minimum)
        d.status = Utf8Status::Overlong;
    else if (value >= 0xD800 && value <= 0xDFFF)
        d.status = Utf8Status::Surrogate;
    else if (value > 0x10FFFF)
        d.status = Utf8Status::AboveMaximum;
    return d;
}

[[noreturn]] void ThrowUtf8Error(std::string_view text, std::size_t pos, const Decoded& d)
{
    const auto b0 = static_cast<unsigned>(static_cast<std::uint8_t>(text[pos]));
    std::string what;
    switch (d.status) {
    case Utf8Status::UnexpectedContinuation: what = Format(SUnexpectedContinuation, b0); break;
    case Utf8Status::InvalidLeadByte: what = Format(SInvalidLeadByte, b0); break;
    case Utf8Status::Truncated: what = Format(STruncatedSequence, b0, d.length, text.size() - pos); break;
    case Utf8Status::Incomplete: what = Format(SIncompleteSequence, b0, static_cast<unsigned>(d.bad)); break;
    case Utf8Status::Overlong: what = Format(SOverlong, d.length, static_cast<unsigned>(d.ch)); break;
    case Utf8Status::Surrogate: what = Format(SEncodedSurrogate, static_cast<unsigned>(d.ch)); break;
    case Utf8Status::AboveMaximum: what = Format(SAboveMaximum, static_cast<unsigned>(d.ch)); break;
    case Utf8Status::Ok: break;
    }
    throw EEncodingError(Format(SMalformedUtf8, pos, what.c_str()));
}

// Decodes the code point at pos, advancing pos; raises on malformed input.
char32_t Next(std::string_view text, std::size_t& pos)
{
    const Decoded d = DecodeUtf8(text, pos);
    if (d.status != Utf8Status::Ok) ThrowUtf8Error(text, pos, d);
    pos += static_cast<std::size_t>(d.length);
    return d.ch;
}

// Why a code point has no UTF-8 form, or nullptr when it has one.
const char* Unencodable(char32_t ch) noexcept
{
    if (ch >= 0xD800 && ch <= 0xDFFF) return SIsSurrogate;
    if (ch > 0x10FFFF) return SIsAboveMaximum;
    return nullptr;
}

// ch must be encodable.
void PutUtf8(std::string& out, char32_t ch)
{
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

// The character itself, quoted, for a message; nothing for control
// characters, which would only garble the message.
std::string Shown(char32_t ch)
{
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0) || Unencodable(ch)) return {};
    std::string s = " '";
    PutUtf8(s, ch);
    s += '\'';
    return s;
}

// The common loop of Utf8ToCp1251 and TryUtf8ToCp1251: converts, or returns
// the message of the first failure.
bool Encode(std::string_view utf8, std::string& bytes, std::string* error)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    std::size_t index = 0;
    while (pos < utf8.size()) {
        const auto b0 = static_cast<std::uint8_t>(utf8[pos]);
        if (b0 < 0x80) {   // the common case
            out += static_cast<char>(b0);
            ++pos;
            ++index;
            continue;
        }
        const Decoded d = DecodeUtf8(utf8, pos);
        if (d.status != Utf8Status::Ok) {
            if (!error) return false;
            ThrowUtf8Error(utf8, pos, d);
        }
        std::uint8_t byte = 0;
        if (!CharToCp1251(d.ch, byte)) {
            if (!error) return false;
            *error = Format(SNotInCp1251, static_cast<unsigned>(d.ch), Shown(d.ch).c_str(), index);
            return false;
        }
        out += static_cast<char>(byte);
        pos += static_cast<std::size_t>(d.length);
        ++index;
    }
    bytes = std::move(out);
    return true;
}

} // namespace

// ---- Windows-1251 ----------------------------------------------------------------

char32_t Cp1251ToChar(std::uint8_t byte) noexcept
{
    if (byte < kFirstHigh) return byte;
    if (byte >= kFirstCyrillic) return kCyrillicBase + (byte - kFirstCyrillic);
    return kHigh[byte - kFirstHigh];
}

bool CharToCp1251(char32_t ch, std::uint8_t& byte) noexcept
{
    if (ch < 0x80) {
        byte = static_cast<std::uint8_t>(ch);
        return true;
    }
    if (ch >= kCyrillicBase && ch < kCyrillicBase + 64) {
        byte = static_cast<std::uint8_t>(kFirstCyrillic + (ch - kCyrillicBase));
        return true;
    }
    if (ch > 0xFFFF) return false;
    const auto it = std::lower_bound(kReverse.begin(), kReverse.end(), ch,
                                     [](const HighEntry& e, char32_t c) { return e.ch < c; });
    if (it == kReverse.end() || it->ch != ch) return false;
    byte = it->byte;
    return true;
}

std::string Cp1251ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) PutUtf8(out, Cp1251ToChar(static_cast<std::uint8_t>(c)));
    return out;
}

std::string Utf8ToCp1251(std::string_view utf8)
{
    std::string bytes;
    std::string error;
    if (!Encode(utf8, bytes, &error)) throw EEncodingError(error);
    return bytes;
}

bool TryUtf8ToCp1251(std::string_view utf8, std::string& bytes)
{
    return Encode(utf8, bytes, nullptr);
}

// ---- UTF-16 ------------------------------------------------------------------------

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t ch = Next(utf8, pos);
        if (ch < 0x10000) {
            out += static_cast<char16_t>(ch);
        } else {
            const char32_t v = ch - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xDC00 && u <= 0xDFFF) {
            throw EEncodingError(
                Format(SMalformedUtf16, i, Format(SUnpairedLow, static_cast<unsigned>(u)).c_str()));
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) {
                throw EEncodingError(
                    Format(SMalformedUtf16, i, Format(SUnpairedHigh, static_cast<unsigned>(u)).c_str()));
            }
            const char32_t ch = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
            PutUtf8(out, ch);
            ++i;
            continue;
        }
        PutUtf8(out, u);
    }
    return out;
}

// ---- code points ---------------------------------------------------------------------

std::u32string Utf8ToUtf32(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) out += Next(utf8, pos);
    return out;
}

std::string Utf32ToUtf8(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t ch = text[i];
        if (const char* why = Unencodable(ch))
            throw EEncodingError(Format(SNotEncodableAt, static_cast<unsigned>(ch), i, why));
        PutUtf8(out, ch);
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t ch)
{
    if (const char* why = Unencodable(ch))
        throw EEncodingError(Format(SNotEncodable, static_cast<unsigned>(ch), why));
    PutUtf8(out, ch);
}

char32_t NextUtf8(std::string_view utf8, std::size_t& pos)
{
    if (pos >= utf8.size()) throw EEncodingError(Format(SEndOfText, pos));
    return Next(utf8, pos);
}

std::size_t Utf8CharCount(std::string_view text) noexcept
{
    std::size_t n = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::size_t Utf8Length(std::string_view utf8)
{
    std::size_t n = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        if (static_cast<std::uint8_t>(utf8[pos]) < 0x80)
            ++pos;
        else
            Next(utf8, pos);
        ++n;
    }
    return n;
}

bool IsValidUtf8(std::string_view utf8) noexcept
{
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const Decoded d = DecodeUtf8(utf8, pos);
        if (d.status != Utf8Status::Ok) return false;
        pos += static_cast<std::size_t>(d.length);
    }
    return true;
}

} // namespace rtl
