// Base64 of the XML library: binary data in element text.
#include <algorithm>
#include <cstdint>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/TextUtils.h"

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters outside the alphabet count as 0.
int Base64Value(char c)
{
    const int value = Base64CharValue(c);
    return value < 0 ? 0 : value;
}

} // namespace

std::string Base64Encode(const void* buffer, std::size_t size, int lineLength)
{
    if (size == 0 || !buffer) return {};
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::string encoded;
    encoded.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, size - i);
        std::uint32_t group = static_cast<std::uint32_t>(p[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(p[i + 1]) << 8;
        if (n > 2) group |= p[i + 2];
        encoded.push_back(kBase64Alphabet[(group >> 18) & 63]);
        encoded.push_back(kBase64Alphabet[(group >> 12) & 63]);
        encoded.push_back(n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=');
        encoded.push_back(n > 2 ? kBase64Alphabet[group & 63] : '=');
    }
    if (lineLength <= 0 || encoded.size() <= static_cast<std::size_t>(lineLength)) return encoded;
    const auto line = static_cast<std::size_t>(lineLength);
    std::string out;
    out.reserve(encoded.size() + encoded.size() / line * 2);
    for (std::size_t i = 0; i < encoded.size(); i += line) {
        if (i > 0) out += "\r\n";
        out.append(encoded, i, line);
    }
    return out;
}

std::string Base64CleanText(std::string_view text)
{
    constexpr char kForeign = '\x80';
    const bool utf8 = rtl::IsValidUtf8(text);
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (rtl::IsBlankChar(c)) continue;
        if (b < 0x80)
            clean.push_back(c);
        else if (!utf8 || (b & 0xC0) != 0x80) // not the rest of a character
            clean.push_back(kForeign);
    }
    return clean;
}

int Base64CharValue(char c) noexcept
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string Base64Decode(std::string_view text)
{
    // Lengths count characters: every character outside ASCII is one
    // character outside the alphabet. A text that is not UTF-8 counts bytes.
    const std::string clean = Base64CleanText(text);
    const std::size_t length = clean.size();
    if (length < 4) return {};
    std::size_t outLength = (length + 3) / 4 * 3;
    if (clean[length - 2] == '=')
        outLength -= 2;
    else if (clean[length - 1] == '=')
        outLength -= 1;
    std::string out(outLength, '*');
    // Characters missing from a short last group count as "A" (0).
    const auto at = [&](std::size_t k) { return k < length ? clean[k] : 'A'; };
    for (std::size_t g = 0, pos = 0; g < length && pos < outLength; g += 4, pos += 3) {
        const char c[4] = {at(g), at(g + 1), at(g + 2), at(g + 3)};
        const std::uint32_t group = (static_cast<std::uint32_t>(Base64Value(c[0])) << 18) |
                                    (static_cast<std::uint32_t>(Base64Value(c[1])) << 12) |
                                    (static_cast<std::uint32_t>(Base64Value(c[2])) << 6) |
                                    static_cast<std::uint32_t>(Base64Value(c[3]));
        const int n = c[2] == '=' ? 1 : c[3] == '=' ? 2 : 3;
        const char bytes[3] = {static_cast<char>((group >> 16) & 0xFF), static_cast<char>((group >> 8) & 0xFF),
                               static_cast<char>(group & 0xFF)};
        for (int k = 0; k < n && pos + static_cast<std::size_t>(k) < outLength; ++k)
            out[pos + static_cast<std::size_t>(k)] = bytes[k];
    }
    return out;
}
