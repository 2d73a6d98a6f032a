// Small utilities of the core library: path joining, float text, stream
// strings, the word-start search and variant-array bounds.
#include "CoreLib/AUtils.h"

#include <limits>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Texts of this unit.
constexpr const char* SStringTooLong = "Stream string of %lld bytes is too long to be written";
constexpr const char* SLengthPastEnd = "Stream string length %lld exceeds the %lld bytes left in the stream";
constexpr const char* SLengthOverField = "Stream string length %lld exceeds the field length %lld";

constexpr char kPathDelim = '/';
constexpr std::uint8_t kLongLength = 254;

template <class Parts>
std::string JoinParts(const Parts& parts)
{
    std::string result;
    bool started = false;
    for (const auto& p : parts) {
        const std::string_view part(p);
        if (part.empty()) continue;
        if (!started) {
            result.assign(part);
            started = true;
            continue;
        }
        const bool endsWithDelim = !result.empty() && result.back() == kPathDelim;
        const bool startsWithDelim = part.front() == kPathDelim;
        if (endsWithDelim && startsWithDelim)
            result.pop_back();
        else if (!endsWithDelim && !startsWithDelim)
            result.push_back(kPathDelim);
        result.append(part);
    }
    return result;
}

// The code point that ends just before byte offset pos of text, or 0 when it
// is not well-formed (a character that is no letter).
char32_t CharBefore(std::string_view text, std::size_t pos)
{
    std::size_t start = pos - 1;
    while (start > 0 && pos - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    std::size_t next = start;
    try {
        const char32_t ch = rtl::NextUtf8(text.substr(0, pos), next);
        return next == pos ? ch : 0;
    } catch (const rtl::EEncodingError&) {
        return 0;
    }
}

} // namespace

std::string JoinPath(std::initializer_list<std::string_view> parts)
{
    return JoinParts(parts);
}

std::string JoinPath(const std::vector<std::string>& parts)
{
    return JoinParts(parts);
}

double StrToFloatAnySep(std::string_view s)
{
    std::string text(s);
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos) text[comma] = '.';
    return rtl::StrToFloat(text);
}

void StreamWriteString(rtl::TStream& stream, std::string_view s)
{
    const std::string bytes = rtl::Utf8ToCp1251(s);
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw rtl::EWriteError(rtl::Format(SStringTooLong, static_cast<long long>(bytes.size())));
    std::string out;
    out.reserve(bytes.size() + 5);
    const std::size_t n = bytes.size();
    if (n < kLongLength) {
        out.push_back(static_cast<char>(n));
    } else {
        out.push_back(static_cast<char>(kLongLength));
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
    out.append(bytes);
    stream.WriteBuffer(out.data(), out.size());
}

void StreamReadString(rtl::TStream& stream, std::string& s, std::int64_t maxLength)
{
    std::int64_t length = stream.ReadU8();
    if (length == kLongLength) {
        length = stream.ReadI32();
        if (length < 0) {
            s.clear();
            return;
        }
    }
    const std::int64_t left = stream.Remaining();
    if (length > left)
        throw rtl::EReadError(rtl::Format(SLengthPastEnd, static_cast<long long>(length),
                                          static_cast<long long>(left < 0 ? 0 : left)));
    if (maxLength >= 0 && length > maxLength)
        throw rtl::EReadError(rtl::Format(SLengthOverField, static_cast<long long>(length),
                                          static_cast<long long>(maxLength)));
    std::string text = rtl::Cp1251ToUtf8(stream.ReadBytes(static_cast<std::size_t>(length)));
    s = std::move(text);
}

std::string StreamReadString(rtl::TStream& stream, std::int64_t maxLength)
{
    std::string s;
    StreamReadString(stream, s, maxLength);
    return s;
}

bool IsWordInText(std::string_view word, std::string_view text)
{
    if (word.empty()) return false;
    std::size_t from = 0;
    while (true) {
        const std::size_t pos = text.find(word, from);
        if (pos == std::string_view::npos) return false;
        if (pos == 0 || !rtl::IsCharAlphaNumeric(CharBefore(text, pos))) return true;
        from = pos + 1;
    }
}

int VarArrayLow(const rtl::Variant& v) { return v.ArrayLowBound(); }

int VarArrayHigh(const rtl::Variant& v) { return v.ArrayHighBound(); }
