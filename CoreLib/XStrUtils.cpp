// XStr text of typed values: writing a variant as text and reading a text
// back as a variant of a given type code.
//
// Numbers go through the locale-free conversions of NumText.h, dates through
// DateTime.h; byte arrays are written by the base64 encoder of SimpleXML and
// read by the strict decoder below, which refuses what it cannot decode.
#include "CoreLib/XStrUtils.h"

#include <cstdint>
#include <exception>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace {

// User-facing texts of this unit.
constexpr const char* SNullText = "{{null}}";
constexpr const char* SCantConvertVariant =
    "Невозможно сконвертировать variant с типом \"%d\" в XStr-строку";
constexpr const char* SCantConvertString =
    "Невозможно сконвертировать строку \"%s\" в variant c типом \"%d\"";
constexpr const char* SCantConvertInteger =
    "Невозможно сконвертировать XStr-строку \"%s\" в целое значение.\r\nОшибка: %s";
constexpr const char* SCantConvertInt64 =
    "Невозможно сконвертировать XStr-строку \"%s\" в 64-е целое значение.\r\nОшибка: %s";
constexpr const char* SCantConvertFloat =
    "Невозможно сконвертировать XStr-строку \"%s\" в вещественное значение.\r\nОшибка: %s";
constexpr const char* SCantConvertBoolean =
    "Невозможно сконвертировать XStr-строку \"%s\" в логическое значение.";
constexpr const char* SCantConvertDateTime =
    "Невозможно сконвертировать XStr-строку \"%s\" в значение даты-времени.";
constexpr const char* SCantConvertDate =
    "Невозможно сконвертировать XStr-строку \"%s\" в значение даты";
constexpr const char* SCantConvertTime =
    "Невозможно сконвертировать XStr-строку \"%s\" в значение времени";
constexpr const char* SBase64StringToBin = "Can't convert base64 string to binary";
constexpr const char* SBase64CharToBin = "Can't convert base64 char to bin";

[[noreturn]] void RaiseFor(const char* fmt, std::string_view text)
{
    throw rtl::Exception(rtl::Format(fmt, std::string(text).c_str()));
}

// Runs a number conversion; any failure comes back as the general exception
// with the wrapping message and the platform's own text.
template <class Convert>
auto Wrapped(const char* fmt, std::string_view text, Convert convert)
{
    try {
        return convert();
    } catch (const std::exception& e) {
        throw rtl::Exception(rtl::Format(fmt, std::string(text).c_str(), e.what()));
    }
}

std::string WithoutBlanks(std::string text)
{
    std::erase(text, ' ');
    return text;
}

// ---- date and time -----------------------------------------------------------

// The pieces between separators; a trailing separator (or an empty text) adds
// no empty last piece, two separators in a row give an empty piece.
std::vector<std::string_view> SplitPieces(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces = rtl::SplitAll(text, separator);
    if (pieces.back().empty()) pieces.pop_back();
    return pieces;
}

// Year-month-day with "-", or day.month.year with ".".
rtl::TDateTime XStrToDate(std::string_view text)
{
    const bool yearFirst = text.find('-') != std::string_view::npos;
    const auto fields = SplitPieces(text, yearFirst ? '-' : '.');
    if (fields.size() != 3) RaiseFor(SCantConvertDate, text);
    const std::int32_t year = rtl::StrToInt(fields[yearFirst ? 0 : 2]);
    const std::int32_t month = rtl::StrToInt(fields[1]);
    const std::int32_t day = rtl::StrToInt(fields[yearFirst ? 2 : 0]);
    return rtl::EncodeDate(year, month, day);
}

// hours:minutes:seconds[.fraction] with an optional zone ("Z", "+hh:mm",
// "-hh:mm") that is checked and then ignored.
rtl::TDateTime XStrToTime(std::string_view text)
{
    std::string_view time = text;
    std::size_t sign = text.find('+');
    if (sign == std::string_view::npos) sign = text.find('-');
    if (sign != std::string_view::npos) {
        time = text.substr(0, sign);
        const auto zone = SplitPieces(text.substr(sign + 1), ':');
        if (zone.size() != 2) RaiseFor(SCantConvertTime, text);
        rtl::StrToInt(zone[0]);
        rtl::StrToInt(zone[1]);
    } else if (!text.empty() && text.back() == 'Z') {
        time = text.substr(0, text.size() - 1);
    }
    const auto fields = SplitPieces(time, ':');
    if (fields.size() != 3) RaiseFor(SCantConvertTime, text);
    const std::string_view seconds = fields[2].substr(0, fields[2].find('.'));
    return rtl::EncodeTime(rtl::StrToInt(fields[0]), rtl::StrToInt(fields[1]),
                           rtl::StrToInt(seconds), 0);
}

rtl::TDateTime XStrToDateTime(std::string_view text)
{
    const bool hasT = text.find('T') != std::string_view::npos;
    const auto pieces = SplitPieces(text, hasT ? 'T' : ' ');
    if (pieces.size() == 2)
        return rtl::ComposeDateTime(XStrToDate(pieces[0]), XStrToTime(pieces[1]));
    if (pieces.size() == 1) {
        if (pieces[0].find(':') != std::string_view::npos) return XStrToTime(pieces[0]);
        return XStrToDate(pieces[0]);
    }
    RaiseFor(SCantConvertDateTime, text);
}

// ---- base64 ------------------------------------------------------------------

int NeedBase64Value(char ch)
{
    const int value = Base64CharValue(ch);
    if (value < 0) throw rtl::Exception(SBase64CharToBin);
    return value;
}

// Strict decoding: groups of four characters, "=" only as padding in the last
// two places of a group. A padded group still takes three output places, so
// padding inside the text leaves "*" bytes in the rest of its group.
rtl::ByteArray XStrBase64Decode(std::string_view text)
{
    // Lengths count characters: every character outside ASCII stands in the
    // cleaned text as one byte outside the alphabet. A text that is not UTF-8
    // counts bytes.
    const std::string clean = Base64CleanText(text);

    if (clean.empty()) return {};
    if (clean.size() < 4) throw rtl::Exception(SBase64StringToBin);
    if (clean.size() % 4 != 0) throw rtl::Exception(SBase64CharToBin);

    std::size_t length = clean.size() / 4 * 3;
    if (clean[clean.size() - 2] == '=')
        length -= 2;
    else if (clean.back() == '=')
        length -= 1;
    rtl::ByteArray out(length, static_cast<std::uint8_t>('*'));

    for (std::size_t group = 0; group * 4 < clean.size(); ++group) {
        const char* c = clean.data() + group * 4;
        const std::size_t at = group * 3;
        const int v0 = NeedBase64Value(c[0]);
        const int v1 = NeedBase64Value(c[1]);
        const bool oneByte = c[2] == '=';
        const bool twoBytes = !oneByte && c[3] == '=';
        const int v2 = oneByte ? 0 : NeedBase64Value(c[2]);
        const int v3 = (oneByte || twoBytes) ? 0 : NeedBase64Value(c[3]);
        if (oneByte && c[3] != '=') NeedBase64Value(c[3]); // still no stray character

        // Only the last group can reach past the output's end, and its
        // padding has been taken off the length above.
        out[at] = static_cast<std::uint8_t>((v0 << 2) | (v1 >> 4));
        if (!oneByte) out[at + 1] = static_cast<std::uint8_t>(((v1 & 15) << 4) | (v2 >> 2));
        if (!oneByte && !twoBytes) out[at + 2] = static_cast<std::uint8_t>(((v2 & 3) << 6) | v3);
    }
    return out;
}

} // namespace

std::string VariantToXStr(const rtl::Variant& v)
{
    switch (v.VarType()) {
    case rtl::varEmpty:
    case rtl::varNull:
        return SNullText;
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varError:
        return rtl::IntToStr(v.AsInteger());
    case rtl::varInt64:
        return rtl::IntToStr(v.AsInt64());
    case rtl::varSingle:
    case rtl::varDouble:
        return WithoutBlanks(rtl::FloatToStr(v.AsDouble()));
    case rtl::varCurrency:
        return WithoutBlanks(rtl::CurrToStr(v.AsCurrency().scaled));
    case rtl::varDate:
        return DateTimeToXmlStr(v.AsDateTime());
    case rtl::varOleStr:
    case rtl::varStrArg:
    case rtl::varString:
        return v.AsString();
    case rtl::varBoolean:
        return v.AsBoolean() ? "1" : "0";
    case rtl::varByteArray: {
        const rtl::ByteArray& bytes = v.AsBytes();
        return Base64Encode(bytes.data(), bytes.size());
    }
    default:
        throw rtl::Exception(rtl::Format(SCantConvertVariant, static_cast<int>(v.VarType())));
    }
}

rtl::Variant XStrToVariant(std::string_view text, rtl::TVarType varType)
{
    switch (varType) {
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varError:
    case rtl::varInt64:
    case rtl::varSingle:
    case rtl::varDouble:
    case rtl::varCurrency:
    case rtl::varDate:
    case rtl::varOleStr:
    case rtl::varStrArg:
    case rtl::varString:
    case rtl::varBoolean:
    case rtl::varByteArray:
        break;
    default:
        throw rtl::Exception(rtl::Format(SCantConvertString, std::string(text).c_str(),
                                         static_cast<int>(varType)));
    }
    if (text == SNullText) return rtl::Variant::Null();

    switch (varType) {
    case rtl::varInt64:
        return Wrapped(SCantConvertInt64, text, [&] { return rtl::Variant(rtl::StrToInt64(text)); });
    case rtl::varSingle:
    case rtl::varDouble:
    case rtl::varCurrency: {
        const double value = Wrapped(SCantConvertFloat, text, [&] { return rtl::StrToFloat(text); });
        return rtl::Variant(value).CastTo(varType);
    }
    case rtl::varDate:
        return rtl::Variant::DateTime(XStrToDateTime(text));
    case rtl::varOleStr:
    case rtl::varStrArg:
    case rtl::varString:
        return rtl::Variant(text);
    case rtl::varBoolean:
        if (text == "1" || rtl::SameTextLatin(text, "true")) return rtl::Variant(true);
        if (text == "0" || rtl::SameTextLatin(text, "false")) return rtl::Variant(false);
        RaiseFor(SCantConvertBoolean, text);
    case rtl::varByteArray:
        return rtl::Variant(XStrBase64Decode(text));
    default: // the integer codes
        return Wrapped(SCantConvertInteger, text, [&] { return rtl::Variant(rtl::StrToInt(text)); });
    }
}
