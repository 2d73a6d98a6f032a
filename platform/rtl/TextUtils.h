// Letter case and character classes of the Windows-1251 repertoire.
//
// These are our own functions over Latin (A-Z, a-z) and the Cyrillic letters
// that Windows-1251 holds (А-Я, а-я, Ё/ё, Ђ/ђ, Ѓ/ѓ, Є/є, Ѕ/ѕ, І/і, Ї/ї, Ј/ј,
// Љ/љ, Њ/њ, Ћ/ћ, Ќ/ќ, Ў/ў, Џ/џ, Ґ/ґ); no <cctype> and no C locale. All other
// characters are left as they are. Texts are UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rtl {

char32_t CharUpper(char32_t ch) noexcept;
char32_t CharLower(char32_t ch) noexcept;
// Letter of the repertoire above.
bool IsCharAlpha(char32_t ch) noexcept;
// Letter of the repertoire above or an ASCII digit.
bool IsCharAlphaNumeric(char32_t ch) noexcept;

// Latin and Cyrillic upper / lower case of a whole UTF-8 text.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Case-insensitive comparison over Latin and Cyrillic: <0, 0, >0 comparing
// the upper-cased code points.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// Only the Latin letters a-z folded (driver names and other ASCII keys).
std::string UpperCaseLatin(std::string_view text);
int CompareTextLatin(std::string_view a, std::string_view b) noexcept;
bool SameTextLatin(std::string_view a, std::string_view b) noexcept;

// Blanks and control characters: codes up to 32.
constexpr bool IsBlankChar(char32_t ch) noexcept { return ch <= 32; }
constexpr bool IsBlankChar(char ch) noexcept { return static_cast<unsigned char>(ch) <= 32; }

// Removes blanks and control characters (codes up to 32) at both ends.
std::string Trim(std::string_view text);

// Every piece between separators: an empty text is one empty piece, and a
// separator at either end gives an empty piece there.
std::vector<std::string_view> SplitAll(std::string_view text, char separator);
// The pieces between separators trimmed (Trim), the empty ones left out.
std::vector<std::string> SplitTrimmed(std::string_view text, char separator);

} // namespace rtl
