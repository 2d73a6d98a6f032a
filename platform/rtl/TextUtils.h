// Letter case and character classes of the Windows-1251 repertoire.
//
// These are our own functions over Latin (A-Z, a-z) and the Cyrillic letters
// that Windows-1251 holds (А-Я, а-я, Ё/ё, Ђ/ђ, Ѓ/ѓ, Є/є, Ѕ/ѕ, І/і, Ї/ї, Ј/ј,
// Љ/љ, Њ/њ, Ћ/ћ, Ќ/ќ, Ў/ў, Џ/џ, Ґ/ґ); no <cctype> and no C locale. All other
// characters are left as they are. Texts are UTF-8.
#pragma once

#include <string>
#include <string_view>

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

// Removes blanks and control characters (codes up to 32) at both ends.
std::string Trim(std::string_view text);

} // namespace rtl
