// Variant: type codes, the conversions per target type (values, failures and
// their messages), CastTo and equality.
#include "platform/rtl/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"

namespace {

using namespace rtl;

// How a conversion is expected to fail.
enum class Fails {
    Cast,     // EVariantTypeCastError: the type converts to nothing of that kind
    Overflow, // EVariantError (not a cast error): the value is outside the target's range
    Convert,  // EConvertError: a text that is not what the target needs
};

void ExpectFailure(const std::function<void()>& action, Fails kind, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const EVariantTypeCastError& e) {
        EXPECT_EQ(kind, Fails::Cast) << e.Message();
        EXPECT_EQ(e.Message(), message);
    } catch (const EVariantError& e) {
        EXPECT_EQ(kind, Fails::Overflow) << e.Message();
        EXPECT_EQ(e.Message(), message);
    } catch (const EConvertError& e) {
        EXPECT_EQ(kind, Fails::Convert) << e.Message();
        EXPECT_EQ(e.Message(), message);
    }
}

struct Failure {
    const char* name;
    Variant value;
    Fails kind;
    const char* message;
};

const ByteArray kBytes{1, 2, 3};

TEST(Variant, TypeCodesStayObservable)
{
    struct Case {
        const char* name;
        Variant value;
        TVarType code;
    };
    const Case cases[] = {
        {"default is Empty", Variant(), varEmpty},
        {"Empty()", Variant::Empty(), varEmpty},
        {"Null", Variant::Null(), varNull},
        {"SmallInt", Variant::SmallInt(-3), varSmallint},
        {"32-bit integer", Variant(std::int32_t{5}), varInteger},
        {"int literal", Variant(5), varInteger},
        {"Single", Variant::Single(1.5f), varSingle},
        {"double", Variant(1.5), varDouble},
        {"Currency", Variant(Currency{15000}), varCurrency},
        {"date-time", Variant::DateTime(1.5), varDate},
        {"OleStr from UTF-8", Variant::OleStr("abc"), varOleStr},
        {"UTF-16 text", Variant(std::u16string(u"abc")), varOleStr},
        {"Error", Variant::Error(5), varError},
        {"Boolean", Variant(true), varBoolean},
        {"ShortInt", Variant::ShortInt(-3), varShortInt},
        {"Byte", Variant::Byte(200), varByte},
        {"Word", Variant::Word(60000), varWord},
        {"LongWord", Variant::LongWord(4000000000u), varLongWord},
        {"64-bit integer", Variant(std::int64_t{5}), varInt64},
        {"StrArg", Variant::StrArg("abc"), varStrArg},
        {"C string", Variant("abc"), varString},
        {"std::string", Variant(std::string("abc")), varString},
        {"string_view", Variant(std::string_view("abc")), varString},
        {"byte array", Variant(kBytes), varByteArray},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.VarType(), c.code);
    }
    EXPECT_EQ(varByteArray, 8209);
    EXPECT_EQ(varString, 256);
}

TEST(Variant, KindTests)
{
    struct Case {
        const char* name;
        Variant value;
        bool clear, numeric, string, bytes;
    };
    const Case cases[] = {
        {"Empty", Variant(), true, false, false, false},
        {"Null", Variant::Null(), true, false, false, false},
        {"integer", Variant(1), false, true, false, false},
        {"LongWord", Variant::LongWord(1), false, true, false, false},
        {"double", Variant(1.0), false, true, false, false},
        {"currency", Variant(Currency{1}), false, true, false, false},
        {"Boolean is not a number code", Variant(true), false, false, false, false},
        {"date is not a number code", Variant::DateTime(1), false, false, false, false},
        {"Error", Variant::Error(1), false, false, false, false},
        {"8-bit string", Variant("x"), false, false, true, false},
        {"UTF-16 string", Variant::OleStr("x"), false, false, true, false},
        {"StrArg", Variant::StrArg("x"), false, false, true, false},
        {"byte array", Variant(kBytes), false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.IsClear(), c.clear);
        EXPECT_EQ(c.value.IsNumeric(), c.numeric);
        EXPECT_EQ(c.value.IsString(), c.string);
        EXPECT_EQ(c.value.IsByteArray(), c.bytes);
    }
}

TEST(Variant, AsBoolean)
{
    struct Case {
        const char* name;
        Variant value;
        bool expected;
    };
    const Case cases[] = {
        {"Empty is False", Variant(), false},
        {"Boolean as it is", Variant(true), true},
        {"integer 0", Variant(0), false},
        {"integer 5", Variant(5), true},
        {"integer -1", Variant(-1), true},
        {"double 0", Variant(0.0), false},
        {"double 0.1", Variant(0.1), true},
        {"smallest currency", Variant(Currency{1}), true},
        {"text true", Variant("true"), true},
        {"text TRUE", Variant("TRUE"), true},
        {"text False", Variant("False"), false},
        {"text fAlSe", Variant::OleStr("fAlSe"), false},
        {"text 0", Variant("0"), false},
        {"text 1", Variant("1"), true},
        {"text -1", Variant("-1"), true},
        {"text 0.0", Variant("0.0"), false},
        {"text 2.5", Variant("2.5"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsBoolean(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Boolean)"},
        {"Error", Variant::Error(1), Fails::Cast, "Could not convert variant of type (Error) into type (Boolean)"},
        {"byte array", Variant(kBytes), Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (Boolean)"},
        {"other text", Variant("yes"), Fails::Convert, "'yes' is not a valid boolean value"},
        {"blanks are not trimmed", Variant(" true"), Fails::Convert, "' true' is not a valid boolean value"},
        {"empty text", Variant(""), Fails::Convert, "'' is not a valid boolean value"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsBoolean(); }, f.kind, f.message);
    }
}

TEST(Variant, AsInteger)
{
    struct Case {
        const char* name;
        Variant value;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"Empty is 0", Variant(), 0},
        {"True is -1", Variant(true), -1},
        {"False is 0", Variant(false), 0},
        {"SmallInt", Variant::SmallInt(-5), -5},
        {"ShortInt", Variant::ShortInt(-128), -128},
        {"Byte", Variant::Byte(255), 255},
        {"Word", Variant::Word(65535), 65535},
        {"LongWord at INT32_MAX", Variant::LongWord(2147483647u), 2147483647},
        {"Int64 in range", Variant(std::int64_t{-2147483648LL}), INT32_MIN},
        {"2.5 rounds to even 2", Variant(2.5), 2},
        {"3.5 rounds to even 4", Variant(3.5), 4},
        {"-2.5 rounds to even -2", Variant(-2.5), -2},
        {"-3.5 rounds to even -4", Variant(-3.5), -4},
        {"2.4999 rounds down", Variant(2.4999), 2},
        {"2.6 rounds up", Variant(2.6), 3},
        {"-2.6 rounds away", Variant(-2.6), -3},
        {"Single 1.5 rounds to 2", Variant::Single(1.5f), 2},
        {"currency 2.5 rounds to 2", Variant(Currency{25000}), 2},
        {"currency 3.5 rounds to 4", Variant(Currency{35000}), 4},
        {"currency -2.5 rounds to -2", Variant(Currency{-25000}), -2},
        {"currency 1.5001 rounds to 2", Variant(Currency{15001}), 2},
        {"currency -1.4999 rounds to -1", Variant(Currency{-14999}), -1},
        {"date 1.5 rounds to 2", Variant::DateTime(1.5), 2},
        {"decimal text", Variant("123"), 123},
        {"text with blanks and sign", Variant(" -7"), -7},
        {"hexadecimal text", Variant("$FF"), 255},
        {"UTF-16 text", Variant::OleStr("42"), 42},
        {"StrArg text", Variant::StrArg("1"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsInteger(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Integer)"},
        {"Error", Variant::Error(5), Fails::Cast, "Could not convert variant of type (Error) into type (Integer)"},
        {"byte array", Variant(kBytes), Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (Integer)"},
        {"LongWord above INT32_MAX", Variant::LongWord(2147483648u), Fails::Overflow,
         "Overflow while converting variant of type (LongWord) into type (Integer)"},
        {"Int64 above INT32_MAX", Variant(std::int64_t{2147483648LL}), Fails::Overflow,
         "Overflow while converting variant of type (Int64) into type (Integer)"},
        {"double too large", Variant(3e9), Fails::Overflow,
         "Overflow while converting variant of type (Double) into type (Integer)"},
        {"double not a number", Variant(std::nan("")), Fails::Overflow,
         "Overflow while converting variant of type (Double) into type (Integer)"},
        {"currency too large", Variant(Currency{INT64_MAX}), Fails::Overflow,
         "Overflow while converting variant of type (Currency) into type (Integer)"},
        {"letters", Variant("abc"), Fails::Convert, "'abc' is not a valid integer value"},
        {"fraction text", Variant("1.5"), Fails::Convert, "'1.5' is not a valid integer value"},
        {"text too large", Variant("3000000000"), Fails::Convert, "'3000000000' is not a valid integer value"},
        {"empty text", Variant::OleStr(""), Fails::Convert, "'' is not a valid integer value"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsInteger(); }, f.kind, f.message);
    }
}

TEST(Variant, AsInt64)
{
    struct Case {
        const char* name;
        Variant value;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"Empty is 0", Variant(), 0},
        {"True is -1", Variant(true), -1},
        {"LongWord at its top", Variant::LongWord(4294967295u), 4294967295LL},
        {"Int64 largest", Variant(std::int64_t{INT64_MAX}), INT64_MAX},
        {"double large", Variant(9.2e18), 9200000000000000000LL},
        {"double half to even", Variant(-0.5), 0},
        {"currency largest", Variant(Currency{INT64_MAX}), 922337203685478LL},
        {"text largest", Variant("9223372036854775807"), INT64_MAX},
        {"text smallest", Variant("-9223372036854775808"), INT64_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsInt64(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Int64)"},
        {"Error", Variant::Error(5), Fails::Cast, "Could not convert variant of type (Error) into type (Int64)"},
        {"double too large", Variant(1e19), Fails::Overflow,
         "Overflow while converting variant of type (Double) into type (Int64)"},
        {"text too large", Variant("9223372036854775808"), Fails::Convert,
         "'9223372036854775808' is not a valid integer value"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsInt64(); }, f.kind, f.message);
    }
}

TEST(Variant, AsDouble)
{
    struct Case {
        const char* name;
        Variant value;
        double expected;
    };
    const Case cases[] = {
        {"Empty is 0", Variant(), 0.0},
        {"True is -1", Variant(true), -1.0},
        {"integer", Variant(7), 7.0},
        {"LongWord", Variant::LongWord(4294967295u), 4294967295.0},
        {"currency 1.5", Variant(Currency{15000}), 1.5},
        {"smallest negative currency", Variant(Currency{-1}), -0.0001},
        {"Single", Variant::Single(0.5f), 0.5},
        {"date", Variant::DateTime(1.25), 1.25},
        {"text", Variant("1.5"), 1.5},
        {"text with blanks", Variant(" 2.5 "), 2.5},
        {"text with exponent", Variant("1E3"), 1000.0},
        {"negative text", Variant::OleStr("-0.25"), -0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsDouble(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Double)"},
        {"Error", Variant::Error(5), Fails::Cast, "Could not convert variant of type (Error) into type (Double)"},
        {"byte array", Variant(kBytes), Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (Double)"},
        {"comma separator", Variant("2,5"), Fails::Convert, "'2,5' is not a valid floating point value"},
        {"empty text", Variant(""), Fails::Convert, "'' is not a valid floating point value"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsDouble(); }, f.kind, f.message);
    }
}

TEST(Variant, AsCurrency)
{
    struct Case {
        const char* name;
        Variant value;
        std::int64_t scaled;
    };
    const Case cases[] = {
        {"Empty is 0", Variant(), 0},
        {"True is -1", Variant(true), -10000},
        {"integer", Variant(3), 30000},
        {"double 1.5", Variant(1.5), 15000},
        {"double rounded to 4 decimals", Variant(1.23456), 12346},
        {"currency as it is", Variant(Currency{-7}), -7},
        {"text one tenth", Variant("0.1"), 1000},
        {"text with 4 decimals", Variant("-1234.5678"), -12345678},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsCurrency().scaled, c.scaled);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Currency)"},
        {"Int64 too large", Variant(std::int64_t{INT64_MAX}), Fails::Overflow,
         "Overflow while converting variant of type (Int64) into type (Currency)"},
        {"double too large", Variant(1e300), Fails::Overflow,
         "Overflow while converting variant of type (Double) into type (Currency)"},
        {"text", Variant("12 $"), Fails::Convert, "'12 $' is not a valid floating point value"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsCurrency(); }, f.kind, f.message);
    }
}

TEST(Variant, AsDateTime)
{
    struct Case {
        const char* name;
        Variant value;
        double expected;
    };
    const Case cases[] = {
        {"Empty is day 0", Variant(), 0.0},
        {"date as it is", Variant::DateTime(-1.25), -1.25},
        {"double", Variant(1.5), 1.5},
        {"integer", Variant(2), 2.0},
        {"text of day 0", Variant("1899-12-30"), 0.0},
        {"text with T", Variant("2000-02-29T12:00:00"), 36585.5},
        {"text as DateTimeToStr writes it", Variant("2006-01-02 10:20:30"),
         EncodeDateTime(2006, 1, 2, 10, 20, 30, 0)},
        {"text with milliseconds", Variant("2006-01-02T10:20:30.75"), EncodeDateTime(2006, 1, 2, 10, 20, 30, 750)},
        {"text without zero padding", Variant("2006-1-2"), EncodeDate(2006, 1, 2)},
        {"text of a number", Variant("1.25"), 1.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(c.value.AsDateTime(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (Date)"},
        {"byte array", Variant(kBytes), Fails::Cast, "Could not convert variant of type (Array Byte) into type (Date)"},
        {"impossible date", Variant("2001-02-29"), Fails::Convert,
         "Invalid argument to date encode (year 2001, month 2, day 29)"},
        {"impossible time", Variant("2001-02-28T24:00:00"), Fails::Convert,
         "Invalid argument to time encode (hour 24, minute 0, second 0, millisecond 0)"},
        {"other text", Variant("yesterday"), Fails::Convert, "'yesterday' is not a valid date and time"},
        {"date with a short time", Variant("2006-01-02T10:20"), Fails::Convert,
         "'2006-01-02T10:20' is not a valid date and time"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsDateTime(); }, f.kind, f.message);
    }
}

TEST(Variant, AsString)
{
    struct Case {
        const char* name;
        Variant value;
        const char* expected;
    };
    const Case cases[] = {
        {"Empty is empty", Variant(), ""},
        {"True", Variant(true), "True"},
        {"False", Variant(false), "False"},
        {"negative integer", Variant(-5), "-5"},
        {"LongWord top", Variant::LongWord(4294967295u), "4294967295"},
        {"Byte", Variant::Byte(255), "255"},
        {"Int64 smallest", Variant(std::int64_t{INT64_MIN}), "-9223372036854775808"},
        {"double 1.5", Variant(1.5), "1.5"},
        {"double one tenth", Variant(0.1), "0.1"},
        {"double in exponent form", Variant(1e20), "1E20"},
        {"Single 0.5", Variant::Single(0.5f), "0.5"},
        {"currency 1.5", Variant(Currency{15000}), "1.5"},
        {"currency smallest step", Variant(Currency{-1}), "-0.0001"},
        {"date-time", Variant::DateTime(EncodeDateTime(2006, 1, 2, 10, 20, 30, 750)), "2006-01-02 10:20:30"},
        {"day 0", Variant::DateTime(0), "1899-12-30 00:00:00"},
        {"UTF-16 text as UTF-8", Variant(std::u16string(u"Привет")), "Привет"},
        {"8-bit text", Variant("abc"), "abc"},
        {"StrArg text", Variant::StrArg("x y"), "x y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.AsString(), c.expected);
    }
    const Failure failures[] = {
        {"Null", Variant::Null(), Fails::Cast, "Could not convert variant of type (Null) into type (String)"},
        {"Error", Variant::Error(5), Fails::Cast, "Could not convert variant of type (Error) into type (String)"},
        {"byte array", Variant(kBytes), Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (String)"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.AsString(); }, f.kind, f.message);
    }
}

TEST(Variant, VarToStrGivesEmptyForNull)
{
    EXPECT_EQ(VarToStr(Variant::Null()), "");
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant(5)), "5");
    EXPECT_EQ(VarToStr(Variant(true)), "True");
}

TEST(Variant, AsWideString)
{
    EXPECT_EQ(Variant("Привет").AsWideString(), u"Привет");
    EXPECT_EQ(Variant::OleStr("Ёж").AsWideString(), u"Ёж");
    EXPECT_EQ(Variant(5).AsWideString(), u"5");
    EXPECT_EQ(Variant().AsWideString(), u"");
    ExpectFailure([] { Variant::Null().AsWideString(); }, Fails::Cast,
                  "Could not convert variant of type (Null) into type (OleStr)");
    ExpectFailure([] { Variant(kBytes).AsWideString(); }, Fails::Cast,
                  "Could not convert variant of type (Array Byte) into type (OleStr)");
}

TEST(Variant, AsBytes)
{
    EXPECT_EQ(Variant(kBytes).AsBytes(), kBytes);
    EXPECT_TRUE(Variant(ByteArray{}).AsBytes().empty());
    ExpectFailure([] { Variant("abc").AsBytes(); }, Fails::Cast,
                  "Could not convert variant of type (String) into type (Array Byte)");
    ExpectFailure([] { Variant::Null().AsBytes(); }, Fails::Cast,
                  "Could not convert variant of type (Null) into type (Array Byte)");
    ExpectFailure([] { Variant().AsBytes(); }, Fails::Cast,
                  "Could not convert variant of type (Empty) into type (Array Byte)");
}

TEST(Variant, CastTo)
{
    struct Case {
        const char* name;
        Variant value;
        TVarType to;
        Variant expected;
    };
    const Case cases[] = {
        {"integer to SmallInt", Variant(5), varSmallint, Variant::SmallInt(5)},
        {"LongWord to Int64", Variant::LongWord(4000000000u), varInt64, Variant(std::int64_t{4000000000LL})},
        {"double to integer rounds half to even", Variant(2.5), varInteger, Variant(2)},
        {"text to Byte", Variant("7"), varByte, Variant::Byte(7)},
        {"text to ShortInt", Variant("-128"), varShortInt, Variant::ShortInt(-128)},
        {"text to Word", Variant("65535"), varWord, Variant::Word(65535)},
        {"text to LongWord", Variant("4294967295"), varLongWord, Variant::LongWord(4294967295u)},
        {"text to double", Variant("1.5"), varDouble, Variant(1.5)},
        {"text to Single", Variant("0.5"), varSingle, Variant::Single(0.5f)},
        {"text to currency", Variant("1.5"), varCurrency, Variant(Currency{15000})},
        {"integer to 8-bit string", Variant(42), varString, Variant("42")},
        {"integer to UTF-16 string", Variant(42), varOleStr, Variant::OleStr("42")},
        {"integer to StrArg", Variant(42), varStrArg, Variant::StrArg("42")},
        {"double to string", Variant(1.5), varString, Variant("1.5")},
        {"UTF-16 string to 8-bit string", Variant::OleStr("Ёж"), varString, Variant("Ёж")},
        {"True to integer", Variant(true), varInteger, Variant(-1)},
        {"True to string", Variant(true), varString, Variant("True")},
        {"text to Boolean", Variant("True"), varBoolean, Variant(true)},
        {"integer to Boolean", Variant(0), varBoolean, Variant(false)},
        {"date to double", Variant::DateTime(1.5), varDouble, Variant(1.5)},
        {"double to date", Variant(-1.25), varDate, Variant::DateTime(-1.25)},
        {"text to date", Variant("1899-12-31"), varDate, Variant::DateTime(1)},
        {"Empty to integer", Variant(), varInteger, Variant(0)},
        {"Empty to string", Variant(), varString, Variant("")},
        {"Empty to Boolean", Variant(), varBoolean, Variant(false)},
        {"Null to Null", Variant::Null(), varNull, Variant::Null()},
        {"integer to Null", Variant(5), varNull, Variant::Null()},
        {"integer to Empty", Variant(5), varEmpty, Variant()},
        {"Error to Error", Variant::Error(5), varError, Variant::Error(5)},
        {"byte array to byte array", Variant(kBytes), varByteArray, Variant(kBytes)},
        {"currency to integer", Variant(Currency{25000}), varInteger, Variant(2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Variant result = c.value.CastTo(c.to);
        EXPECT_EQ(result.VarType(), c.to);
        EXPECT_EQ(result.VarType(), c.expected.VarType());
        EXPECT_TRUE(result.Equals(c.expected)) << VarToStr(result);
    }

    struct CastFailure {
        const char* name;
        Variant value;
        TVarType to;
        Fails kind;
        const char* message;
    };
    const CastFailure failures[] = {
        {"300 to Byte", Variant(300), varByte, Fails::Overflow,
         "Overflow while converting variant of type (Integer) into type (Byte)"},
        {"-1 to LongWord", Variant(-1), varLongWord, Fails::Overflow,
         "Overflow while converting variant of type (Integer) into type (LongWord)"},
        {"40000 to SmallInt", Variant(40000), varSmallint, Fails::Overflow,
         "Overflow while converting variant of type (Integer) into type (SmallInt)"},
        {"LongWord above INT32_MAX to integer", Variant::LongWord(4000000000u), varInteger, Fails::Overflow,
         "Overflow while converting variant of type (LongWord) into type (Integer)"},
        {"text 300 to Byte", Variant("300"), varByte, Fails::Overflow,
         "Overflow while converting variant of type (String) into type (Byte)"},
        {"double too large for Single", Variant(1e40), varSingle, Fails::Overflow,
         "Overflow while converting variant of type (Double) into type (Single)"},
        {"Null to integer", Variant::Null(), varInteger, Fails::Cast,
         "Could not convert variant of type (Null) into type (Integer)"},
        {"Null to Byte", Variant::Null(), varByte, Fails::Cast,
         "Could not convert variant of type (Null) into type (Byte)"},
        {"Null to UTF-16 string", Variant::Null(), varOleStr, Fails::Cast,
         "Could not convert variant of type (Null) into type (OleStr)"},
        {"Error to integer", Variant::Error(5), varInteger, Fails::Cast,
         "Could not convert variant of type (Error) into type (Integer)"},
        {"Error to SmallInt", Variant::Error(5), varSmallint, Fails::Cast,
         "Could not convert variant of type (Error) into type (SmallInt)"},
        {"byte array to string", Variant(kBytes), varString, Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (String)"},
        {"byte array to Single", Variant(kBytes), varSingle, Fails::Cast,
         "Could not convert variant of type (Array Byte) into type (Single)"},
        {"integer to byte array", Variant(5), varByteArray, Fails::Cast,
         "Could not convert variant of type (Integer) into type (Array Byte)"},
        {"integer to Error", Variant(5), varError, Fails::Cast,
         "Could not convert variant of type (Integer) into type (Error)"},
        {"integer to an unknown code", Variant(5), 99, Fails::Cast,
         "Could not convert variant of type (Integer) into type ($0063)"},
        {"letters to integer", Variant("x"), varInteger, Fails::Convert, "'x' is not a valid integer value"},
        {"letters to Byte", Variant("x"), varByte, Fails::Convert, "'x' is not a valid integer value"},
        {"letters to double", Variant("x"), varDouble, Fails::Convert, "'x' is not a valid floating point value"},
    };
    for (const CastFailure& f : failures) {
        SCOPED_TRACE(f.name);
        ExpectFailure([&] { f.value.CastTo(f.to); }, f.kind, f.message);
    }
}

TEST(Variant, Equality)
{
    struct Case {
        const char* name;
        Variant a, b;
        bool equal;
    };
    const Case cases[] = {
        {"Empty equals Empty", Variant(), Variant(), true},
        {"Null equals Null", Variant::Null(), Variant::Null(), true},
        {"Empty is not Null", Variant(), Variant::Null(), false},
        {"Empty is not 0", Variant(), Variant(0), false},
        {"Null is not 0", Variant::Null(), Variant(0), false},
        {"Empty is not the empty text", Variant(), Variant(""), false},
        {"Null is not a byte array", Variant::Null(), Variant(kBytes), false},
        {"integer and double", Variant(1), Variant(1.0), true},
        {"integer and Int64", Variant(1), Variant(std::int64_t{1}), true},
        {"integer and double differ", Variant(1), Variant(1.5), false},
        {"SmallInt -1 and True", Variant::SmallInt(-1), Variant(true), true},
        {"True and True", Variant(true), Variant(true), true},
        {"True and False", Variant(true), Variant(false), false},
        {"currency and integer", Variant(Currency{10000}), Variant(1), true},
        {"currency and double", Variant(Currency{15000}), Variant(1.5), true},
        {"Single and double 0.1", Variant::Single(0.1f), Variant(0.1), false},
        {"Int64 beyond double precision", Variant(std::int64_t{(1LL << 53) + 1}), Variant(9007199254740992.0), false},
        {"date and double", Variant::DateTime(1.5), Variant(1.5), true},
        {"same text", Variant("abc"), Variant("abc"), true},
        {"text case counts", Variant("abc"), Variant("ABC"), false},
        {"texts of different codes", Variant::OleStr("abc"), Variant("abc"), true},
        {"text and integer", Variant("5"), Variant(5), true},
        {"integer and text", Variant(5), Variant("5.0"), true},
        {"hexadecimal text and integer", Variant("$10"), Variant(16), true},
        {"text and integer differ", Variant("6"), Variant(5), false},
        {"text and Boolean", Variant("true"), Variant(true), true},
        {"text and date", Variant("2006-01-02"), Variant::DateTime(EncodeDate(2006, 1, 2)), true},
        {"same bytes", Variant(kBytes), Variant(ByteArray{1, 2, 3}), true},
        {"different bytes", Variant(kBytes), Variant(ByteArray{1, 2, 4}), false},
        {"bytes and text", Variant(kBytes), Variant("x"), false},
        {"same error code", Variant::Error(1), Variant::Error(1), true},
        {"error and integer", Variant::Error(1), Variant(1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.Equals(c.b), c.equal);
        EXPECT_EQ(c.b.Equals(c.a), c.equal) << "equality is symmetric";
        EXPECT_EQ(c.a == c.b, c.equal);
    }
    ExpectFailure([] { (void)(Variant("abc") == Variant(5)); }, Fails::Convert,
                  "'abc' is not a valid floating point value");
    ExpectFailure([] { (void)(Variant(true) == Variant("yes")); }, Fails::Convert,
                  "'yes' is not a valid boolean value");
}

TEST(Variant, TypeNames)
{
    struct Case {
        TVarType code;
        const char* name;
    };
    const Case cases[] = {
        {varEmpty, "Empty"},        {varNull, "Null"},          {varSmallint, "SmallInt"},
        {varInteger, "Integer"},    {varSingle, "Single"},      {varDouble, "Double"},
        {varCurrency, "Currency"},  {varDate, "Date"},          {varOleStr, "OleStr"},
        {varError, "Error"},        {varBoolean, "Boolean"},    {varShortInt, "ShortInt"},
        {varByte, "Byte"},          {varWord, "Word"},          {varLongWord, "LongWord"},
        {varInt64, "Int64"},        {varStrArg, "StrArg"},      {varString, "String"},
        {varByteArray, "Array Byte"}, {varArray | varInteger, "Array Integer"},
        {0x4000 | varInteger, "ByRef Integer"}, {99, "$0063"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Variant::TypeName(c.code), c.name);
    }
}

} // namespace
