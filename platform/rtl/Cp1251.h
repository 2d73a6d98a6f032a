// Windows-1251 codec: the one place where 8-bit storage text meets the UTF-8
// text of the program.
//
// Every byte 0x00..0xFF maps to exactly one code point (0x98, unassigned in
// Windows-1251, maps to U+0098), so any byte string survives a round trip
// through UTF-8. A code point that Windows-1251 cannot hold is an
// EEncodingError, never a silent '?'. Malformed UTF-8 or UTF-16 input is an
// EEncodingError as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

// The code point of one Windows-1251 byte.
char32_t Cp1251ToChar(std::uint8_t byte) noexcept;
// The Windows-1251 byte of a code point; false when it has none.
bool CharToCp1251(char32_t ch, std::uint8_t& byte) noexcept;

// Windows-1251 bytes -> UTF-8 text (never fails).
std::string Cp1251ToUtf8(std::string_view bytes);
// UTF-8 text -> Windows-1251 bytes; EEncodingError for a character outside
// Windows-1251 or malformed UTF-8 (the message names the character).
std::string Utf8ToCp1251(std::string_view utf8);
// As Utf8ToCp1251, but reports failure instead of raising.
bool TryUtf8ToCp1251(std::string_view utf8, std::string& bytes);

// UTF-8 <-> UTF-16 (surrogate pairs for code points above U+FFFF).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-8 <-> code points.
std::u32string Utf8ToUtf32(std::string_view utf8);
std::string Utf32ToUtf8(std::u32string_view text);
// Appends the UTF-8 form of one code point (EEncodingError for a surrogate or
// a value above U+10FFFF).
void AppendUtf8(std::string& out, char32_t ch);
// Decodes the code point at pos and advances pos past it; EEncodingError on
// malformed input.
char32_t NextUtf8(std::string_view utf8, std::size_t& pos);
// Number of code points of a UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);
// The bytes of a text that are not UTF-8 continuation bytes: its code points
// when it is UTF-8. Unlike Utf8Length it never fails on malformed input.
std::size_t Utf8CharCount(std::string_view text) noexcept;
// True when the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8) noexcept;

} // namespace rtl
