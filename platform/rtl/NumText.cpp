// Numbers to text and back in the platform's manner.
//
// Everything here goes through <charconv>, which knows no locale: the decimal
// separator is "." whatever LC_NUMERIC says, and no thread-unsafe global is
// touched. The grammar of the accepted texts is checked by hand first, so that
// std::from_chars only ever sees plain digits, a "." and an exponent (it would
// otherwise take "inf", "nan" or stop early without telling the caller).
#include "platform/rtl/NumText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace rtl {

namespace {

constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
constexpr const char* SInvalidFloat = "'%s' is not a valid floating point value";

// General float form: 15 significant digits; fixed notation while the decimal
// exponent (value = 0.d1d2... * 10^exponent) lies in -3..15, else scientific.
constexpr int kFloatPrecision = 15;
constexpr int kMinFixedExponent = -3;

constexpr bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Blanks before (and, for floats, after) a number: the space character, as
// the platform's Val and TextToFloat skip it.
constexpr bool IsBlank(char c) noexcept { return c == ' '; }

// Parses the integer grammar of NumText.h into T. Decimal texts must fit T;
// hexadecimal texts may use the full width of T's unsigned twin and are taken
// as its bit pattern ("$FFFFFFFF" is -1 as a 32-bit integer), so that
// IntToHex output reads back.
template <class T>
bool ParseInteger(std::string_view text, T& value) noexcept
{
    using U = std::make_unsigned_t<T>;
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first == last) return false;
    // from_chars on an unsigned type takes no sign, so "$-1" or "--1" fail here.
    U magnitude = 0;
    const auto [end, ec] = std::from_chars(first, last, magnitude, base);
    if (ec != std::errc() || end != last) return false;
    if (base == 10) {
        const U limit = static_cast<U>(std::numeric_limits<T>::max()) + (negative ? 1u : 0u);
        if (magnitude > limit) return false;
    }
    value = static_cast<T>(negative ? static_cast<U>(U(0) - magnitude) : magnitude);
    return true;
}

std::string Quoted(const char* fmt, std::string_view text)
{
    return Format(fmt, std::string(text).c_str());
}

} // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept
{
    return ParseInteger(text, value);
}

std::int32_t StrToInt(std::string_view text)
{
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) throw EConvertError(Quoted(SInvalidInteger, text));
    return value;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) noexcept
{
    return ParseInteger(text, value);
}

std::int64_t StrToInt64(std::string_view text)
{
    std::int64_t value = 0;
    if (!TryStrToInt64(text, value)) throw EConvertError(Quoted(SInvalidInteger, text));
    return value;
}

bool TryStrToFloat(std::string_view text, double& value) noexcept
{
    std::size_t i = 0;
    std::size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    while (n > i && IsBlank(text[n - 1])) --n;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Check the grammar and find the decimal magnitude of the first significant
    // digit, which tells an overflow from an underflow when from_chars says
    // "out of range" (an underflow reads as zero, as the platform's does).
    const std::size_t start = i;
    std::size_t intDigits = 0;
    std::size_t fracDigits = 0;
    long long magnitude10 = 0; // the digits lie in [10^(magnitude10-1), 10^magnitude10)
    bool seenSignificant = false;
    while (i < n && IsDigit(text[i])) {
        if (!seenSignificant && text[i] != '0') seenSignificant = true;
        if (seenSignificant) ++magnitude10;
        ++intDigits;
        ++i;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) {
            if (!seenSignificant) {
                if (text[i] == '0') --magnitude10;
                else seenSignificant = true;
            }
            ++fracDigits;
            ++i;
        }
    }
    if (intDigits + fracDigits == 0) return false;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        if (i == n || !IsDigit(text[i])) return false;
        while (i < n && IsDigit(text[i])) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (i != n) return false;

    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(text.data() + start, text.data() + n, parsed,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (seenSignificant && magnitude10 + exponent > 0) return false; // overflow
        parsed = 0.0;                                                           // underflow
    } else if (ec != std::errc() || end != text.data() + n) {
        return false;
    }
    if (!std::isfinite(parsed)) return false;
    value = negative ? -parsed : parsed;
    return true;
}

double StrToFloat(std::string_view text)
{
    double value = 0.0;
    if (!TryStrToFloat(text, value)) throw EConvertError(Quoted(SInvalidFloat, text));
    return value;
}

std::string IntToStr(std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string IntToHex(std::uint64_t value, int digits)
{
    char buffer[20];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (digits > 0 && text.size() < static_cast<std::size_t>(digits))
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    return text;
}

std::string IntToHex(std::uint32_t value, int digits)
{
    return IntToHex(static_cast<std::uint64_t>(value), digits);
}

std::string IntToHex(std::int32_t value, int digits)
{
    return IntToHex(static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)), digits);
}

std::string IntToHex(std::int64_t value, int digits)
{
    return IntToHex(static_cast<std::uint64_t>(value), digits);
}

std::string FloatToStr(double value)
{
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0.0) return "0";

    // "d.dddddddddddddde±xx": the value correctly rounded to 15 digits.
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::scientific, kFloatPrecision - 1);
    const std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t ePos = sci.find('e');
    std::size_t pos = 0;
    const bool negative = sci[0] == '-';
    if (negative) ++pos;
    std::string digits;
    for (; pos < ePos; ++pos)
        if (sci[pos] != '.') digits.push_back(sci[pos]);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int sciExponent = 0;
    std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                    sciExponent);
    const int exponent = sciExponent + 1; // value = 0.digits * 10^exponent

    std::string text;
    if (negative) text.push_back('-');
    if (exponent > kFloatPrecision || exponent < kMinFixedExponent) {
        text.push_back(digits[0]);
        if (digits.size() > 1) {
            text.push_back('.');
            text.append(digits, 1);
        }
        text.push_back('E');
        text += IntToStr(sciExponent);
    } else if (exponent <= 0) {
        text += "0.";
        text.append(static_cast<std::size_t>(-exponent), '0');
        text += digits;
    } else {
        const auto intCount = static_cast<std::size_t>(exponent);
        if (digits.size() <= intCount) {
            text += digits;
            text.append(intCount - digits.size(), '0');
        } else {
            text.append(digits, 0, intCount);
            text.push_back('.');
            text.append(digits, intCount);
        }
    }
    return text;
}

std::string CurrToStr(std::int64_t scaled)
{
    // Unsigned arithmetic keeps the smallest value (-922337203685477.5808) safe.
    const bool negative = scaled < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t(0) - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude / 10000);
    std::string text;
    if (negative) text.push_back('-');
    text.append(buffer, result.ptr);
    unsigned fraction = static_cast<unsigned>(magnitude % 10000);
    if (fraction != 0) {
        char decimals[4];
        for (int k = 3; k >= 0; --k) {
            decimals[k] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        int count = 4;
        while (decimals[count - 1] == '0') --count;
        text.push_back('.');
        text.append(decimals, static_cast<std::size_t>(count));
    }
    return text;
}

} // namespace rtl
