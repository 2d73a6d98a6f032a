// Numbers to text and back, in the platform's manner, with "." as the decimal
// separator whatever the locale (no locale-dependent call is made).
//
// Integer texts: optional blanks before, an optional "+" or "-", then decimal
// digits, or hexadecimal digits after "$", "0x" or "0X"; nothing after.
// Float texts: optional blanks on both sides, optional sign, digits with an
// optional "." and fraction, an optional exponent ("E" or "e", sign, digits).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept;
// EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
bool TryStrToInt64(std::string_view text, std::int64_t& value) noexcept;
std::int64_t StrToInt64(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value) noexcept;
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view text);

std::string IntToStr(std::int64_t value);
// Upper-case hexadecimal with at least `digits` digits. A signed value is
// written as the bit pattern of its own width: IntToHex(-1, 8) is "FFFFFFFF"
// for a 32-bit value, "FFFFFFFFFFFFFFFF" for a 64-bit one.
std::string IntToHex(std::uint64_t value, int digits);
std::string IntToHex(std::uint32_t value, int digits);
std::string IntToHex(std::int32_t value, int digits);
std::string IntToHex(std::int64_t value, int digits);
// General form, 15 significant digits, shortest text, no trailing zeros;
// exponent form ("1.5E-7", "1E20") only for very large or very small values.
std::string FloatToStr(double value);
// A currency amount (value times 10 000): at most 4 decimals, no trailing zeros.
std::string CurrToStr(std::int64_t scaled);

} // namespace rtl
