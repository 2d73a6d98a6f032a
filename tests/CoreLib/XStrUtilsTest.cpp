// Tests of the XStr text of typed values: the text written for every type
// code, the values read back, the failures with their exact messages, base64
// both ways, independence from the locale, and the table of type names.
#include "CoreLib/XStrUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"

using rtl::Variant;

namespace {

rtl::ByteArray Bytes(std::string_view text)
{
    return rtl::ByteArray(text.begin(), text.end());
}

Variant Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return Variant::DateTime(rtl::EncodeDateTime(y, mo, d, h, mi, s, ms));
}

// Message of the exception that f raises; "" when it raises none.
template <class F>
std::string MessageOf(F f)
{
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "";
}

const std::string kXStrPrefix = "Невозможно сконвертировать XStr-строку \"";

// ---- writing -------------------------------------------------------------------

struct WriteCase {
    const char* name;
    Variant value;
    std::string text;
};

TEST(XStrWrite, EveryTypeCodeHasItsText)
{
    const WriteCase cases[] = {
        {"empty is null text", Variant(), "{{null}}"},
        {"null is null text", Variant::Null(), "{{null}}"},
        {"smallint negative", Variant::SmallInt(-5), "-5"},
        {"integer max", Variant(std::int32_t{2147483647}), "2147483647"},
        {"integer min", Variant(std::int32_t{-2147483647 - 1}), "-2147483648"},
        {"shortint min", Variant::ShortInt(-128), "-128"},
        {"byte max", Variant::Byte(255), "255"},
        {"word max", Variant::Word(65535), "65535"},
        {"longword within int32", Variant::LongWord(2147483647u), "2147483647"},
        {"int64 max in full", Variant(std::numeric_limits<std::int64_t>::max()), "9223372036854775807"},
        {"int64 min in full", Variant(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        {"double with point", Variant(1.5), "1.5"},
        {"double negative fraction", Variant(-0.25), "-0.25"},
        {"double whole number", Variant(100.0), "100"},
        {"double 15 significant digits", Variant(1.0 / 3.0), "0.333333333333333"},
        {"single exact value", Variant::Single(1.5f), "1.5"},
        {"currency four decimals", Variant(rtl::Currency{123456}), "12.3456"},
        {"currency no trailing zeros", Variant(rtl::Currency{15000}), "1.5"},
        {"currency smallest negative", Variant(rtl::Currency{-1}), "-0.0001"},
        {"date-time drops milliseconds", Date(2006, 1, 2, 10, 20, 30, 750), "2006-01-02T10:20:30"},
        {"date only ends in zero time", Date(2006, 1, 2), "2006-01-02T00:00:00"},
        {"time only carries day 0", Variant::DateTime(rtl::EncodeTime(10, 20, 30, 0)),
         "1899-12-30T10:20:30"},
        {"date before day 0", Variant::DateTime(-1.25), "1899-12-29T06:00:00"},
        {"four-digit year padding", Date(999, 3, 4, 5, 6, 7), "0999-03-04T05:06:07"},
        {"utf-16 string as is", Variant::OleStr("Сервер 1"), "Сервер 1"},
        {"string argument as is", Variant::StrArg("a b"), "a b"},
        {"byte string as is", Variant("db1"), "db1"},
        {"empty string", Variant(""), ""},
        {"string that looks like null", Variant("{{null}}"), "{{null}}"},
        {"boolean true", Variant(true), "1"},
        {"boolean false", Variant(false), "0"},
        {"bytes abc", Variant(Bytes("abc")), "YWJj"},
        {"one byte gets two pads", Variant(rtl::ByteArray{0xFF}), "/w=="},
        {"two bytes get one pad", Variant(rtl::ByteArray{0xFB, 0xFF}), "+/8="},
        {"empty byte array", Variant(rtl::ByteArray{}), ""},
        {"no line breaks in long data", Variant(rtl::ByteArray(60, 0)), std::string(80, 'A')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VariantToXStr(c.value), c.text) << c.name;
    }
}

TEST(XStrWrite, ValuesThePlatformCannotMakeIntegerFail)
{
    const struct {
        const char* name;
        Variant value;
    } cases[] = {
        {"error code", Variant::Error(5)},
        {"longword above int32", Variant::LongWord(3000000000u)},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(VariantToXStr(c.value), rtl::Exception) << c.name;
    }
}

// ---- reading -------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string text;
    rtl::TVarType asked;
    Variant expected;
};

TEST(XStrRead, EveryTypeCodeReadsItsText)
{
    const ReadCase cases[] = {
        {"int16 gives int32", "-5", rtl::varSmallint, Variant(std::int32_t{-5})},
        {"int32", "2147483647", rtl::varInteger, Variant(std::int32_t{2147483647})},
        {"uint8 gives int32", "7", rtl::varByte, Variant(std::int32_t{7})},
        {"int8 gives int32", "-7", rtl::varShortInt, Variant(std::int32_t{-7})},
        {"uint16 gives int32", "65535", rtl::varWord, Variant(std::int32_t{65535})},
        {"uint32 gives int32", "12", rtl::varLongWord, Variant(std::int32_t{12})},
        {"error code reads as integer", "42", rtl::varError, Variant(std::int32_t{42})},
        {"int64 in full", "-9223372036854775808", rtl::varInt64,
         Variant(std::numeric_limits<std::int64_t>::min())},
        {"double", "1.5", rtl::varDouble, Variant(1.5)},
        {"double with exponent", "2.5E3", rtl::varDouble, Variant(2500.0)},
        {"single", "0.25", rtl::varSingle, Variant::Single(0.25f)},
        {"currency", "12.3456", rtl::varCurrency, Variant(rtl::Currency{123456})},
        {"utf-16 string gives byte string", "Сервер", rtl::varOleStr, Variant("Сервер")},
        {"string argument gives byte string", "a b", rtl::varStrArg, Variant("a b")},
        {"byte string", " padded ", rtl::varString, Variant(" padded ")},
        {"empty string", "", rtl::varString, Variant("")},
        {"boolean 1", "1", rtl::varBoolean, Variant(true)},
        {"boolean 0", "0", rtl::varBoolean, Variant(false)},
        {"boolean true upper case", "TRUE", rtl::varBoolean, Variant(true)},
        {"boolean false mixed case", "False", rtl::varBoolean, Variant(false)},
        {"bytes abc", "YWJj", rtl::varByteArray, Variant(Bytes("abc"))},
        {"bytes with blank and CR LF", "YW Jj\r\n", rtl::varByteArray, Variant(Bytes("abc"))},
        {"bytes with tabs and line breaks inside", "\tQQ\n==", rtl::varByteArray, Variant(Bytes("A"))},
        {"two pads give one byte", "QQ==", rtl::varByteArray, Variant(Bytes("A"))},
        {"one pad gives two bytes", "QUI=", rtl::varByteArray, Variant(Bytes("AB"))},
        {"padding inside leaves stars", "QQ==YWJj", rtl::varByteArray, Variant(Bytes("A**abc"))},
        {"one pad inside leaves one star", "QUI=YWJj", rtl::varByteArray, Variant(Bytes("AB*abc"))},
        {"all 64 characters", "+/AZaz09", rtl::varByteArray,
         Variant(rtl::ByteArray{0xFB, 0xF0, 0x19, 0x6B, 0x3D, 0x3D})},
        {"empty text gives empty array", "", rtl::varByteArray, Variant(rtl::ByteArray{})},
        {"only blanks give empty array", " \r\n\t", rtl::varByteArray, Variant(rtl::ByteArray{})},
    };
    for (const auto& c : cases) {
        const Variant v = XStrToVariant(c.text, c.asked);
        EXPECT_EQ(v.VarType(), c.expected.VarType()) << c.name;
        EXPECT_TRUE(v.Equals(c.expected)) << c.name;
    }
}

TEST(XStrRead, NullTextReadsAsNullForEveryCodeWithText)
{
    const rtl::TVarType codes[] = {rtl::varSmallint, rtl::varInteger, rtl::varSingle, rtl::varDouble,
                                   rtl::varCurrency, rtl::varDate,    rtl::varOleStr, rtl::varError,
                                   rtl::varBoolean,  rtl::varShortInt, rtl::varByte,  rtl::varWord,
                                   rtl::varLongWord, rtl::varInt64,   rtl::varStrArg, rtl::varString,
                                   rtl::varByteArray};
    for (const auto code : codes) {
        EXPECT_TRUE(XStrToVariant("{{null}}", code).IsNull()) << "code " << code;
    }
    // So a string stored as "{{null}}" does not survive as a string.
    EXPECT_TRUE(XStrToVariant(VariantToXStr(Variant("{{null}}")), rtl::varString).IsNull());
}

struct DateCase {
    const char* name;
    std::string text;
    rtl::TDateTime expected;
};

TEST(XStrRead, DatesAndTimesInEveryAcceptedForm)
{
    const rtl::TDateTime jan2 = rtl::EncodeDateTime(2006, 1, 2, 10, 20, 30, 0);
    const DateCase cases[] = {
        {"T form", "2006-01-02T10:20:30", jan2},
        {"day first with a blank", "02.01.2006 10:20:30", jan2},
        {"no padding, fraction dropped", "2006-1-2T10:20:30.9", jan2},
        {"zone Z", "2006-01-02T10:20:30Z", jan2},
        {"zone plus", "2006-01-02T10:20:30+03:00", jan2},
        {"zone minus", "2006-01-02T10:20:30-05:30", jan2},
        {"fraction and zone", "2006-01-02T10:20:30.999+03:00", jan2},
        {"date only is midnight", "2006-01-02", rtl::EncodeDate(2006, 1, 2)},
        {"day-first date only", "2.1.2006", rtl::EncodeDate(2006, 1, 2)},
        {"time only is day 0", "10:20:30", rtl::EncodeTime(10, 20, 30, 0)},
        {"time only with zone", "10:20:30Z", rtl::EncodeTime(10, 20, 30, 0)},
        {"date before day 0 keeps its time", "1899-12-29T06:00:00", -1.25},
        {"the text written reads back", VariantToXStr(Date(2006, 1, 2, 10, 20, 30, 750)), jan2},
    };
    for (const auto& c : cases) {
        const Variant v = XStrToVariant(c.text, rtl::varDate);
        EXPECT_EQ(v.VarType(), rtl::varDate) << c.name;
        EXPECT_NEAR(v.AsDateTime(), c.expected, 1e-9) << c.name;
    }
}

struct FailCase {
    const char* name;
    std::string text;
    rtl::TVarType asked;
    std::string message;
};

TEST(XStrRead, FailuresCarryTheirMessages)
{
    const std::string crlf = "\r\nОшибка: ";
    const FailCase cases[] = {
        {"integer from letters", "x", rtl::varInteger,
         "Невозможно сконвертировать XStr-строку \"x\" в целое значение." + crlf +
             "'x' is not a valid integer value"},
        {"integer from a float text", "1.5", rtl::varByte,
         "Невозможно сконвертировать XStr-строку \"1.5\" в целое значение." + crlf +
             "'1.5' is not a valid integer value"},
        {"integer from empty text", "", rtl::varSmallint,
         "Невозможно сконвертировать XStr-строку \"\" в целое значение." + crlf +
             "'' is not a valid integer value"},
        {"int64 from a float text", "1.5", rtl::varInt64,
         "Невозможно сконвертировать XStr-строку \"1.5\" в 64-е целое значение." + crlf +
             "'1.5' is not a valid integer value"},
        {"double with comma", "2,5", rtl::varDouble,
         "Невозможно сконвертировать XStr-строку \"2,5\" в вещественное значение." + crlf +
             "'2,5' is not a valid floating point value"},
        {"currency with comma", "2,5", rtl::varCurrency,
         "Невозможно сконвертировать XStr-строку \"2,5\" в вещественное значение." + crlf +
             "'2,5' is not a valid floating point value"},
        {"boolean with a blank", " 1", rtl::varBoolean,
         "Невозможно сконвертировать XStr-строку \" 1\" в логическое значение."},
        {"boolean yes", "yes", rtl::varBoolean,
         "Невозможно сконвертировать XStr-строку \"yes\" в логическое значение."},
        {"time without seconds", "2006-01-02T10:20", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"10:20\" в значение времени"},
        {"zone without minutes", "2006-01-02T10:20:30+03", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"10:20:30+03\" в значение времени"},
        {"time only with four fields", "10:20:30:40", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"10:20:30:40\" в значение времени"},
        {"date with two fields", "2006-01", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"2006-01\" в значение даты"},
        {"day-first date with two fields", "02.01 10:20:30", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"02.01\" в значение даты"},
        {"three pieces", "2006-01-02 10:20:30 x", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"2006-01-02 10:20:30 x\" в значение даты-времени."},
        {"empty date-time", "", rtl::varDate,
         "Невозможно сконвертировать XStr-строку \"\" в значение даты-времени."},
        {"base64 shorter than a group", "YWJ", rtl::varByteArray, "Can't convert base64 string to binary"},
        {"base64 short after cleaning", "Y W\r\nJ", rtl::varByteArray,
         "Can't convert base64 string to binary"},
        {"base64 not whole groups", "YWJjY", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"base64 foreign character", "YW!j", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"base64 pad first", "=QQQ", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"base64 pad second", "Q=QQ", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"base64 non-ascii letters", "ЖЖ==", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"base64 two letters are two characters, not four bytes", "ЖЖ", rtl::varByteArray,
         "Can't convert base64 string to binary"},
        {"base64 three letters are three characters, not six bytes", "ЖЖЖ", rtl::varByteArray,
         "Can't convert base64 string to binary"},
        {"base64 one letter after a whole group", "YWJjЖ", rtl::varByteArray, "Can't convert base64 char to bin"},
        {"code empty", "1", rtl::varEmpty,
         "Невозможно сконвертировать строку \"1\" в variant c типом \"0\""},
        {"code null, even for the null text", "{{null}}", rtl::varNull,
         "Невозможно сконвертировать строку \"{{null}}\" в variant c типом \"1\""},
        {"code dispatch", "1", 9, "Невозможно сконвертировать строку \"1\" в variant c типом \"9\""},
        {"code variant", "1", 12, "Невозможно сконвертировать строку \"1\" в variant c типом \"12\""},
        {"code unknown", "1", 13, "Невозможно сконвертировать строку \"1\" в variant c типом \"13\""},
        {"code decimal", "1", 14, "Невозможно сконвертировать строку \"1\" в variant c типом \"14\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageOf([&] { XStrToVariant(c.text, c.asked); }), c.message) << c.name;
    }
}

TEST(XStrRead, DateFieldFailuresPassOnAsThePlatformRaisesThem)
{
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"month 13", "2006-13-01"},
        {"day 30 of February", "2006-02-30T10:20:30"},
        {"hour 24", "2006-01-02T24:00:00"},
        {"letters in a date field", "2006-01-xx"},
        {"letters in a time field", "10:aa:30"},
        {"letters in the zone", "10:20:30+ab:00"},
    };
    for (const auto& c : cases) {
        try {
            XStrToVariant(c.text, rtl::varDate);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const rtl::EConvertError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(kXStrPrefix, 0), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
}

// ---- both ways -----------------------------------------------------------------

TEST(XStrRoundTrip, WrittenTextReadsBackAsTheSameValue)
{
    const struct {
        const char* name;
        Variant value;
    } cases[] = {
        {"integer", Variant(std::int32_t{-123456})},
        {"int64", Variant(std::int64_t{1} << 40)},
        {"double fraction", Variant(0.1)},
        {"double large", Variant(1.5e300)},
        {"double small", Variant(-2.5e-300)},
        {"currency", Variant(rtl::Currency{-987654321})},
        {"boolean", Variant(true)},
        {"text", Variant("Сервер \"db\" & <x>")},
        {"every byte value", [] {
             rtl::ByteArray all(256);
             for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
             return Variant(all);
         }()},
    };
    for (const auto& c : cases) {
        const Variant back = XStrToVariant(VariantToXStr(c.value), c.value.VarType());
        EXPECT_EQ(back.VarType(), c.value.VarType()) << c.name;
        EXPECT_TRUE(back.Equals(c.value)) << c.name;
    }
}

// A locale whose decimal separator is ",": the C++ global one always, the C
// one as well when the machine has such a locale installed.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedC_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"})
            if (std::setlocale(LC_ALL, name)) break;
        savedCpp_ = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    }
    void TearDown() override
    {
        std::locale::global(savedCpp_);
        std::setlocale(LC_ALL, savedC_.c_str());
    }

private:
    std::string savedC_;
    std::locale savedCpp_;
};

TEST_F(CommaLocale, NumbersKeepThePoint)
{
    EXPECT_EQ(VariantToXStr(Variant(1.5)), "1.5");
    EXPECT_EQ(VariantToXStr(Variant(rtl::Currency{25000})), "2.5");
    EXPECT_TRUE(XStrToVariant("2.5", rtl::varDouble).Equals(Variant(2.5)));
    EXPECT_THROW(XStrToVariant("2,5", rtl::varDouble), rtl::Exception);
}

// ---- type names ----------------------------------------------------------------

TEST(XStrTypeNames, TwelveNamesInTheirOrder)
{
    const std::vector<std::pair<std::string, rtl::TVarType>> expected = {
        {"boolean", 11}, {"uint8", 17},    {"int16", 2},    {"int32", 3},
        {"single", 4},   {"double", 5},    {"currency", 6}, {"datetime", 7},
        {"char", 8},     {"string", 8},    {"text", 8},     {"binary", 0x2011},
    };
    std::vector<std::pair<std::string, rtl::TVarType>> actual;
    for (const auto& entry : XStrTypeNames) actual.emplace_back(entry.Name, entry.VarType);
    EXPECT_EQ(actual, expected);
}

} // namespace
