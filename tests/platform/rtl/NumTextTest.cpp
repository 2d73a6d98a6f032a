// Number text: the platform's integer and float readers, the general float
// and currency forms, hexadecimal, and their independence from the locale.
#include "platform/rtl/NumText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Variant.h"

namespace {

using namespace rtl;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumText, StrToIntReadsTheIntegerGrammar)
{
    struct Case {
        const char* name;
        const char* text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"zero", "0", 0},
        {"positive", "123", 123},
        {"negative", "-123", -123},
        {"plus sign", "+5", 5},
        {"leading blanks", "   42", 42},
        {"leading zeros", "007", 7},
        {"largest", "2147483647", 2147483647},
        {"smallest", "-2147483648", INT32_MIN},
        {"dollar hexadecimal", "$FF", 255},
        {"dollar hexadecimal lower case", "$ff", 255},
        {"0x hexadecimal", "0x1A", 26},
        {"0X hexadecimal", "0X1a", 26},
        {"negative hexadecimal", "-$10", -16},
        {"hexadecimal uses the full 32 bits", "$FFFFFFFF", -1},
        {"hexadecimal top bit", "$80000000", INT32_MIN},
        {"blanks then sign then hexadecimal", "  -0x7FFFFFFF", -2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t value = 77;
        EXPECT_TRUE(TryStrToInt(c.text, value));
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(StrToInt(c.text), c.expected);
    }
}

TEST(NumText, StrToIntRefusesOtherTexts)
{
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"blanks only", "   "},
        {"letters", "abc"},
        {"trailing letter", "12a"},
        {"trailing blank", "42 "},
        {"one above the largest", "2147483648"},
        {"one below the smallest", "-2147483649"},
        {"far too large", "99999999999999999999999"},
        {"dollar alone", "$"},
        {"0x alone", "0x"},
        {"hexadecimal above 32 bits", "$100000000"},
        {"decimal fraction", "1.5"},
        {"exponent", "1e3"},
        {"two signs", "--1"},
        {"plus minus", "+-1"},
        {"blank after sign", "- 1"},
        {"sign after dollar", "$-1"},
        {"sign alone", "-"},
        {"tab before", "\t1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t value = 77;
        EXPECT_FALSE(TryStrToInt(c.text, value));
        EXPECT_EQ(value, 77) << "a failed read leaves the value alone";
        try {
            StrToInt(c.text);
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
        }
    }
}

TEST(NumText, StrToInt64ReadsSixtyFourBits)
{
    struct Case {
        const char* name;
        const char* text;
        bool ok;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"above 32 bits", "4294967296", true, 4294967296LL},
        {"largest", "9223372036854775807", true, INT64_MAX},
        {"smallest", "-9223372036854775808", true, INT64_MIN},
        {"hexadecimal all ones", "$FFFFFFFFFFFFFFFF", true, -1},
        {"hexadecimal largest", "0x7FFFFFFFFFFFFFFF", true, INT64_MAX},
        {"leading blanks and sign", "  +12", true, 12},
        {"one above the largest", "9223372036854775808", false, 0},
        {"one below the smallest", "-9223372036854775809", false, 0},
        {"hexadecimal above 64 bits", "$10000000000000000", false, 0},
        {"empty", "", false, 0},
        {"fraction", "3.0", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t value = 0;
        EXPECT_EQ(TryStrToInt64(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.expected);
            EXPECT_EQ(StrToInt64(c.text), c.expected);
        } else {
            try {
                StrToInt64(c.text);
                ADD_FAILURE() << "no exception";
            } catch (const EConvertError& e) {
                EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
            }
        }
    }
}

TEST(NumText, StrToFloatReadsTheFloatGrammar)
{
    struct Case {
        const char* name;
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"zero", "0", 0.0},
        {"fraction", "1.5", 1.5},
        {"negative fraction", "-0.25", -0.25},
        {"plus sign", "+2", 2.0},
        {"blanks on both sides", "  3.5  ", 3.5},
        {"no integer digits", ".5", 0.5},
        {"no fraction digits", "5.", 5.0},
        {"exponent", "1E20", 1e20},
        {"lower-case negative exponent", "1e-7", 1e-7},
        {"signed exponent", "1.5E+3", 1500.0},
        {"negative with exponent", "-1.5e-7", -1.5e-7},
        {"many digits", "123456789012345678", 123456789012345678.0},
        {"one tenth", "0.1", 0.1},
        {"underflow reads as zero", "1e-400", 0.0},
        {"negative underflow", "-1e-400", -0.0},
        {"subnormal", "5e-324", 5e-324},
        {"largest", "1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"huge exponent of zero", "0e999999", 0.0},
        {"leading zeros before a small value", "0000.000001e-2", 1e-8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double value = 77;
        EXPECT_TRUE(TryStrToFloat(c.text, value));
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(std::signbit(value), std::signbit(c.expected));
        EXPECT_EQ(StrToFloat(c.text), c.expected);
    }
}

TEST(NumText, StrToFloatRefusesOtherTexts)
{
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"blanks only", "  "},
        {"comma separator", "2,5"},
        {"two points", "1.2.3"},
        {"letters", "abc"},
        {"exponent without digits", "1e"},
        {"exponent sign without digits", "1e+"},
        {"exponent alone", "e5"},
        {"point alone", "."},
        {"sign alone", "-"},
        {"infinity", "inf"},
        {"not a number", "nan"},
        {"overflow", "1e400"},
        {"negative overflow", "-1e309"},
        {"0x hexadecimal", "0x10"},
        {"dollar hexadecimal", "$10"},
        {"blank inside", "1 5"},
        {"two signs", "--1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double value = 77;
        EXPECT_FALSE(TryStrToFloat(c.text, value));
        EXPECT_EQ(value, 77.0) << "a failed read leaves the value alone";
        try {
            StrToFloat(c.text);
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid floating point value");
        }
    }
}

TEST(NumText, FloatToStrWritesTheGeneralForm)
{
    struct Case {
        const char* name;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"simple fraction", 1.5, "1.5"},
        {"one tenth", 0.1, "0.1"},
        {"large power of ten", 1e20, "1E20"},
        {"small value", 1.5e-7, "1.5E-7"},
        {"negative fraction", -0.25, "-0.25"},
        {"whole number", 100.0, "100"},
        {"zero", 0.0, "0"},
        {"negative zero", -0.0, "0"},
        {"one third to 15 digits", 1.0 / 3.0, "0.333333333333333"},
        {"two thirds rounded", 2.0 / 3.0, "0.666666666666667"},
        {"sum that is not exact", 0.1 + 0.2, "0.3"},
        {"15 integer digits stay fixed", 123456789012345.0, "123456789012345"},
        {"16 integer digits go to the exponent form", 1e15, "1E15"},
        {"rounding to 15 digits carries into the exponent form", 999999999999999.9, "1E15"},
        {"large value rounded", 1234567890123456789.0, "1.23456789012346E18"},
        {"smallest fixed magnitude", 0.0001, "0.0001"},
        {"below it the exponent form", 0.00001, "1E-5"},
        {"fixed with leading zeros", 0.00012345, "0.00012345"},
        {"negative small", -1e-10, "-1E-10"},
        {"mixed", 12345.678, "12345.678"},
        {"hundred-digit exponent", 1e100, "1E100"},
        {"largest double", std::numeric_limits<double>::max(), "1.79769313486232E308"},
        {"smallest subnormal", 5e-324, "4.94065645841247E-324"},
        {"not a number", std::nan(""), "NAN"},
        {"infinity", kInf, "INF"},
        {"negative infinity", -kInf, "-INF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FloatToStr(c.value), c.expected);
    }
}

TEST(NumText, FloatToStrReadsBack)
{
    const double values[] = {1.5, -0.25, 0.1, 1e20, 1.5e-7, 123456.789, 1e-300, 42.0, 1e15};
    for (const double v : values) {
        SCOPED_TRACE(FloatToStr(v));
        EXPECT_EQ(StrToFloat(FloatToStr(v)), v);
    }
}

TEST(NumText, CurrToStrWritesAtMostFourDecimals)
{
    struct Case {
        const char* name;
        std::int64_t scaled;
        const char* expected;
    };
    const Case cases[] = {
        {"one and a half", 15000, "1.5"},
        {"smallest negative step", -1, "-0.0001"},
        {"whole number", 123450000, "12345"},
        {"zero", 0, "0"},
        {"one", 10000, "1"},
        {"four decimals", 12345678, "1234.5678"},
        {"negative", -15000, "-1.5"},
        {"thousandth", 10, "0.001"},
        {"largest", INT64_MAX, "922337203685477.5807"},
        {"smallest", INT64_MIN, "-922337203685477.5808"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CurrToStr(c.scaled), c.expected);
    }
}

TEST(NumText, IntToHexPadsToTheDigitCount)
{
    struct Case {
        const char* name;
        std::string actual;
        const char* expected;
    };
    const Case cases[] = {
        {"exact width", IntToHex(std::uint64_t{255}, 2), "FF"},
        {"padded", IntToHex(std::uint64_t{255}, 4), "00FF"},
        {"zero with no width", IntToHex(std::uint64_t{0}, 0), "0"},
        {"wider than asked", IntToHex(std::uint64_t{0xABCDEF}, 2), "ABCDEF"},
        {"all 64 bits", IntToHex(UINT64_MAX, 1), "FFFFFFFFFFFFFFFF"},
        {"negative width", IntToHex(std::uint64_t{1}, -3), "1"},
        {"32-bit -1 is its own bit pattern", IntToHex(std::int32_t{-1}, 8), "FFFFFFFF"},
        {"32-bit int literal", IntToHex(-2, 1), "FFFFFFFE"},
        {"unsigned 32-bit", IntToHex(std::uint32_t{0x80000000u}, 8), "80000000"},
        {"64-bit -1", IntToHex(std::int64_t{-1}, 1), "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.actual, c.expected);
    }
    // What IntToHex writes, "$" + text reads back (the hexadecimal attributes).
    EXPECT_EQ(StrToInt("$" + IntToHex(std::int32_t{-123456}, 8)), -123456);
}

TEST(NumText, IntToStrWritesDecimal)
{
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-5), "-5");
    EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

// Under a locale whose decimal separator is "," the texts still use ".".
TEST(NumText, DecimalPointStaysDotUnderACommaLocale)
{
    struct RestoreC {
        ~RestoreC() { std::setlocale(LC_ALL, "C"); }
    } restore;
    const char* const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "ru_RU.utf8",
                                      "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "ru_RU"};
    const char* chosen = nullptr;
    for (const char* name : candidates) {
        if (std::setlocale(LC_ALL, name) != nullptr && std::string(std::localeconv()->decimal_point) == ",") {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
    SCOPED_TRACE(chosen);

    EXPECT_EQ(FloatToStr(1.5), "1.5");
    EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
    EXPECT_EQ(CurrToStr(15000), "1.5");
    EXPECT_EQ(StrToFloat("2.5"), 2.5);
    double value = 0;
    EXPECT_FALSE(TryStrToFloat("2,5", value));
    EXPECT_EQ(Variant(1.5).AsString(), "1.5");
    EXPECT_EQ(Variant("2.5").AsDouble(), 2.5);
}

} // namespace
