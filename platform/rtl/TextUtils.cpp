// Letter case and character classes of the Windows-1251 repertoire.
//
// The Windows API calls of the original (CharUpper, IsCharAlpha, CompareText
// under a Russian locale) are replaced by these functions over a fixed
// repertoire: Latin A-Z / a-z and the Cyrillic letters that Windows-1251
// holds. Nothing here depends on <cctype> or the C locale, so results are the
// same on every machine. Whole-text functions take and return UTF-8 and raise
// EEncodingError (from the codec) on malformed input.
//
// The Cyrillic letters sit in four runs of the Unicode block:
//   U+0400..U+040F  Ѐ Ё Ђ Ѓ Є Ѕ І Ї Ј Љ Њ Ћ Ќ Ѝ Ў Џ   (capitals)
//   U+0410..U+042F  А..Я                              (capitals)
//   U+0430..U+044F  а..я                              (small, +0x20)
//   U+0450..U+045F  ѐ ё ђ ѓ є ѕ і ї ј љ њ ћ ќ ѝ ў џ   (small, +0x50)
// plus Ґ/ґ at U+0490/U+0491. Of the first and last runs, Windows-1251 lacks
// Ѐ/ѐ (U+0400/U+0450) and Ѝ/ѝ (U+040D/U+045D); those are left alone.
#include "platform/rtl/TextUtils.h"

#include <utility>

#include "platform/rtl/Cp1251.h"

namespace rtl {

namespace {

// A capital of the U+0400..U+040F run that Windows-1251 holds.
constexpr bool IsExtraCapital(char32_t ch) noexcept
{
    return ch >= 0x0401 && ch <= 0x040F && ch != 0x040D;
}

constexpr bool IsExtraSmall(char32_t ch) noexcept
{
    return ch >= 0x0451 && ch <= 0x045F && ch != 0x045D;
}

constexpr bool IsAsciiLower(unsigned char c) noexcept { return c >= 'a' && c <= 'z'; }

constexpr unsigned char UpperLatin(unsigned char c) noexcept
{
    return IsAsciiLower(c) ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Maps every code point of a UTF-8 text through f.
template <typename F>
std::string MapText(std::string_view text, F f)
{
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto b = static_cast<unsigned char>(text[pos]);
        if (b < 0x80) {   // ASCII needs no decoding
            out += static_cast<char>(f(b));
            ++pos;
        } else {
            AppendUtf8(out, f(NextUtf8(text, pos)));
        }
    }
    return out;
}

} // namespace

char32_t CharUpper(char32_t ch) noexcept
{
    if (ch >= 'a' && ch <= 'z') return ch - 0x20;
    if (ch < 0x0430) return ch;
    if (ch <= 0x044F) return ch - 0x20;             // а..я
    if (IsExtraSmall(ch)) return ch - 0x50;          // ё, ђ, ..., џ
    if (ch == 0x0491) return 0x0490;                 // ґ
    return ch;
}

char32_t CharLower(char32_t ch) noexcept
{
    if (ch >= 'A' && ch <= 'Z') return ch + 0x20;
    if (ch < 0x0401) return ch;
    if (IsExtraCapital(ch)) return ch + 0x50;        // Ё, Ђ, ..., Џ
    if (ch >= 0x0410 && ch <= 0x042F) return ch + 0x20;   // А..Я
    if (ch == 0x0490) return 0x0491;                 // Ґ
    return ch;
}

bool IsCharAlpha(char32_t ch) noexcept
{
    if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')) return true;
    if (ch >= 0x0410 && ch <= 0x044F) return true;
    return IsExtraCapital(ch) || IsExtraSmall(ch) || ch == 0x0490 || ch == 0x0491;
}

bool IsCharAlphaNumeric(char32_t ch) noexcept
{
    return (ch >= '0' && ch <= '9') || IsCharAlpha(ch);
}

std::string UpperCase(std::string_view text)
{
    return MapText(text, CharUpper);
}

std::string LowerCase(std::string_view text)
{
    return MapText(text, CharLower);
}

int CompareText(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ca = CharUpper(NextUtf8(a, i));
        const char32_t cb = CharUpper(NextUtf8(b, j));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    // The shorter text sorts first; what remains of the longer one is still
    // checked, so a malformed tail is not silently accepted.
    if (i < a.size()) {
        NextUtf8(a, i);
        return 1;
    }
    if (j < b.size()) {
        NextUtf8(b, j);
        return -1;
    }
    return 0;
}

bool SameText(std::string_view a, std::string_view b)
{
    return CompareText(a, b) == 0;
}

std::string UpperCaseLatin(std::string_view text)
{
    // Bytes below 0x80 never occur inside a multi-byte UTF-8 sequence, so the
    // text can be folded byte by byte.
    std::string out(text);
    for (char& c : out) c = static_cast<char>(UpperLatin(static_cast<unsigned char>(c)));
    return out;
}

int CompareTextLatin(std::string_view a, std::string_view b) noexcept
{
    // Unsigned byte order of UTF-8 is code point order, so texts are ordered
    // as CompareText orders them, with only a-z folded.
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = UpperLatin(static_cast<unsigned char>(a[i]));
        const unsigned char cb = UpperLatin(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameTextLatin(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() && CompareTextLatin(a, b) == 0;
}

std::string Trim(std::string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlankChar(text[first])) ++first;
    while (last > first && IsBlankChar(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

std::vector<std::string_view> SplitAll(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

std::vector<std::string> SplitTrimmed(std::string_view text, char separator)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        std::string piece = Trim(text.substr(start, end - start));
        if (!piece.empty()) out.push_back(std::move(piece));
        start = end + 1;
    }
    return out;
}

} // namespace rtl
