// Tests of the Windows-1251 codec and the UTF-8 / UTF-16 / UTF-32 conversions.
#include "platform/rtl/Cp1251.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/Exceptions.h"

namespace rtl {
namespace {

using namespace std::string_view_literals;

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

// ---- the code page ---------------------------------------------------------------

TEST(Cp1251, EveryByteRoundTripsThroughUtf8)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::string utf8 = Cp1251ToUtf8(Byte(b));
        EXPECT_TRUE(IsValidUtf8(utf8));
        EXPECT_EQ(Utf8Length(utf8), 1u);
        EXPECT_EQ(Utf8ToCp1251(utf8), Byte(b));
    }
}

TEST(Cp1251, EveryByteRoundTripsThroughUtf16)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::u16string utf16 = Utf8ToUtf16(Cp1251ToUtf8(Byte(b)));
        ASSERT_EQ(utf16.size(), 1u);
        EXPECT_EQ(static_cast<char32_t>(utf16[0]), Cp1251ToChar(static_cast<std::uint8_t>(b)));
        EXPECT_EQ(Utf8ToCp1251(Utf16ToUtf8(utf16)), Byte(b));
    }
}

TEST(Cp1251, AllBytesInOneStringRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8Length(utf8), 256u);
    EXPECT_EQ(Utf8ToCp1251(utf8), all);
    std::string bytes;
    EXPECT_TRUE(TryUtf8ToCp1251(utf8, bytes));
    EXPECT_EQ(bytes, all);
}

TEST(Cp1251, ReverseLookupIsTheInverseOfTheTable)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        std::uint8_t back = 0;
        ASSERT_TRUE(CharToCp1251(Cp1251ToChar(static_cast<std::uint8_t>(b)), back));
        EXPECT_EQ(back, b);
    }
}

TEST(Cp1251, DistinctBytesMapToDistinctCharacters)
{
    for (int a = 0; a < 256; ++a)
        for (int b = a + 1; b < 256; ++b)
            ASSERT_NE(Cp1251ToChar(static_cast<std::uint8_t>(a)), Cp1251ToChar(static_cast<std::uint8_t>(b)))
                << a << " " << b;
}

struct Mapping {
    const char* name;
    std::uint8_t byte;
    char32_t ch;
    std::string_view utf8;
};

// Every byte of 0x80..0xBF, and the ends of the ASCII and А..я runs.
const Mapping kMappings[] = {
    {"nul", 0x00, 0x0000, "\0"sv},
    {"ascii A", 0x41, 0x0041, "A"},
    {"ascii tilde", 0x7E, 0x007E, "~"},
    {"delete", 0x7F, 0x007F, "\x7F"},
    {"Ђ", 0x80, 0x0402, "Ђ"},
    {"Ѓ", 0x81, 0x0403, "Ѓ"},
    {"low quote", 0x82, 0x201A, "‚"},
    {"ѓ", 0x83, 0x0453, "ѓ"},
    {"low double quote", 0x84, 0x201E, "„"},
    {"ellipsis", 0x85, 0x2026, "…"},
    {"dagger", 0x86, 0x2020, "†"},
    {"double dagger", 0x87, 0x2021, "‡"},
    {"euro", 0x88, 0x20AC, "€"},
    {"per mille", 0x89, 0x2030, "‰"},
    {"Љ", 0x8A, 0x0409, "Љ"},
    {"single left angle quote", 0x8B, 0x2039, "‹"},
    {"Њ", 0x8C, 0x040A, "Њ"},
    {"Ќ", 0x8D, 0x040C, "Ќ"},
    {"Ћ", 0x8E, 0x040B, "Ћ"},
    {"Џ", 0x8F, 0x040F, "Џ"},
    {"ђ", 0x90, 0x0452, "ђ"},
    {"left quote", 0x91, 0x2018, "‘"},
    {"right quote", 0x92, 0x2019, "’"},
    {"left double quote", 0x93, 0x201C, "“"},
    {"right double quote", 0x94, 0x201D, "”"},
    {"bullet", 0x95, 0x2022, "•"},
    {"en dash", 0x96, 0x2013, "–"},
    {"em dash", 0x97, 0x2014, "—"},
    {"unassigned 0x98", 0x98, 0x0098, "\xC2\x98"},
    {"trade mark", 0x99, 0x2122, "™"},
    {"љ", 0x9A, 0x0459, "љ"},
    {"single right angle quote", 0x9B, 0x203A, "›"},
    {"њ", 0x9C, 0x045A, "њ"},
    {"ќ", 0x9D, 0x045C, "ќ"},
    {"ћ", 0x9E, 0x045B, "ћ"},
    {"џ", 0x9F, 0x045F, "џ"},
    {"no-break space", 0xA0, 0x00A0, "\xC2\xA0"},
    {"Ў", 0xA1, 0x040E, "Ў"},
    {"ў", 0xA2, 0x045E, "ў"},
    {"Ј", 0xA3, 0x0408, "Ј"},
    {"currency sign", 0xA4, 0x00A4, "¤"},
    {"Ґ", 0xA5, 0x0490, "Ґ"},
    {"broken bar", 0xA6, 0x00A6, "¦"},
    {"section", 0xA7, 0x00A7, "§"},
    {"Ё", 0xA8, 0x0401, "Ё"},
    {"copyright", 0xA9, 0x00A9, "©"},
    {"Є", 0xAA, 0x0404, "Є"},
    {"left guillemet", 0xAB, 0x00AB, "«"},
    {"not sign", 0xAC, 0x00AC, "¬"},
    {"soft hyphen", 0xAD, 0x00AD, "\xC2\xAD"},
    {"registered", 0xAE, 0x00AE, "®"},
    {"Ї", 0xAF, 0x0407, "Ї"},
    {"degree", 0xB0, 0x00B0, "°"},
    {"plus-minus", 0xB1, 0x00B1, "±"},
    {"І", 0xB2, 0x0406, "І"},
    {"і", 0xB3, 0x0456, "і"},
    {"ґ", 0xB4, 0x0491, "ґ"},
    {"micro", 0xB5, 0x00B5, "µ"},
    {"pilcrow", 0xB6, 0x00B6, "¶"},
    {"middle dot", 0xB7, 0x00B7, "·"},
    {"ё", 0xB8, 0x0451, "ё"},
    {"numero", 0xB9, 0x2116, "№"},
    {"є", 0xBA, 0x0454, "є"},
    {"right guillemet", 0xBB, 0x00BB, "»"},
    {"ј", 0xBC, 0x0458, "ј"},
    {"Ѕ", 0xBD, 0x0405, "Ѕ"},
    {"ѕ", 0xBE, 0x0455, "ѕ"},
    {"ї", 0xBF, 0x0457, "ї"},
    {"А", 0xC0, 0x0410, "А"},
    {"Я", 0xDF, 0x042F, "Я"},
    {"а", 0xE0, 0x0430, "а"},
    {"п", 0xEF, 0x043F, "п"},
    {"р", 0xF0, 0x0440, "р"},
    {"я", 0xFF, 0x044F, "я"},
};

TEST(Cp1251, KnownMappings)
{
    for (const Mapping& m : kMappings) {
        SCOPED_TRACE(m.name);
        const std::string utf8(m.utf8);
        EXPECT_EQ(Cp1251ToChar(m.byte), m.ch);
        std::uint8_t byte = 0;
        ASSERT_TRUE(CharToCp1251(m.ch, byte));
        EXPECT_EQ(byte, m.byte);
        EXPECT_EQ(Cp1251ToUtf8(Byte(m.byte)), utf8);
        EXPECT_EQ(Utf8ToCp1251(utf8), Byte(m.byte));
    }
}

TEST(Cp1251, RussianTextToBytesAndBack)
{
    const std::string text = "Привет, Ёжик! №5 — 10 €";
    const std::string bytes =
        "\xCF\xF0\xE8\xE2\xE5\xF2, \xA8\xE6\xE8\xEA! \xB9" "5 \x97 10 \x88";
    EXPECT_EQ(Utf8ToCp1251(text), bytes);
    EXPECT_EQ(Cp1251ToUtf8(bytes), text);
    EXPECT_EQ(Cp1251ToUtf8(""), "");
    EXPECT_EQ(Utf8ToCp1251(""), "");
}

struct Unrepresentable {
    const char* name;
    const char* utf8;
    const char* code;       // the character's name in the message
    const char* position;   // its character offset in the message
};

const Unrepresentable kUnrepresentable[] = {
    {"CJK ideograph", "ab中", "U+4E2D", "character offset 2"},
    {"Latin e acute", "caf\xC3\xA9", "U+00E9", "character offset 3"},
    {"German sharp s", "\xC3\x9F", "U+00DF", "character offset 0"},
    {"C1 control other than 0x98", "\xC2\x80", "U+0080", "character offset 0"},
    {"Cyrillic ѐ (not in 1251)", "я\xD1\x90", "U+0450", "character offset 1"},
    {"Cyrillic Ѝ (not in 1251)", "\xD0\x8D", "U+040D", "character offset 0"},
    {"Greek alpha", "Ёα", "U+03B1", "character offset 1"},
    {"emoji above the BMP", "x\xF0\x9F\x98\x80y", "U+1F600", "character offset 1"},
    {"max code point", "\xF4\x8F\xBF\xBF", "U+10FFFF", "character offset 0"},
    {"BOM", "\xEF\xBB\xBF" "abc", "U+FEFF", "character offset 0"},
};

TEST(Cp1251, UnrepresentableCharactersAreErrorsNamingTheCharacter)
{
    for (const Unrepresentable& u : kUnrepresentable) {
        SCOPED_TRACE(u.name);
        try {
            Utf8ToCp1251(u.utf8);
            ADD_FAILURE() << "no exception";
        } catch (const EEncodingError& e) {
            const std::string message = e.Message();
            EXPECT_NE(message.find(u.code), std::string::npos) << message;
            EXPECT_NE(message.find(u.position), std::string::npos) << message;
            EXPECT_NE(message.find("Windows-1251"), std::string::npos) << message;
        }
        std::string bytes = "untouched";
        EXPECT_FALSE(TryUtf8ToCp1251(u.utf8, bytes));
        EXPECT_EQ(bytes, "untouched");
    }
}

TEST(Cp1251, UnrepresentableMessageShowsThePrintableCharacter)
{
    try {
        Utf8ToCp1251("ab中");
        FAIL() << "no exception";
    } catch (const EEncodingError& e) {
        EXPECT_EQ(e.Message(), "The character U+4E2D '中' at character offset 2 cannot be stored in Windows-1251");
    }
}

TEST(Cp1251, CharToCp1251RefusesCharactersOutsideTheCodePage)
{
    const char32_t outside[] = {0x0080, 0x0097, 0x0099, 0x009F, 0x00A1, 0x00C0, 0x00FF, 0x0400, 0x040D,
                                0x0450, 0x045D, 0x0460, 0x048F, 0x0492, 0x2000, 0x20AD, 0xFFFD,
                                0x10000, 0x10FFFF, 0x110000, 0xFFFFFFFF};
    for (const char32_t ch : outside) {
        std::uint8_t byte = 0x55;
        EXPECT_FALSE(CharToCp1251(ch, byte)) << std::hex << static_cast<unsigned>(ch);
        EXPECT_EQ(byte, 0x55);
    }
}

TEST(Cp1251, ExactlyTheTableIsRepresentable)
{
    int count = 0;
    for (char32_t ch = 0; ch < 0x10000; ++ch) {
        std::uint8_t byte = 0;
        if (CharToCp1251(ch, byte)) {
            ++count;
            EXPECT_EQ(Cp1251ToChar(byte), ch);
        }
    }
    EXPECT_EQ(count, 256);
}

// ---- malformed UTF-8 -----------------------------------------------------------------

struct Malformed {
    const char* name;
    std::string_view utf8;
    const char* where;   // "byte offset N"
    const char* what;    // the part of the message saying what is wrong
};

const Malformed kMalformed[] = {
    {"lone continuation byte", "a\x80"sv, "byte offset 1", "unexpected continuation byte 0x80"},
    {"continuation byte 0xBF at start", "\xBF"sv, "byte offset 0", "unexpected continuation byte 0xBF"},
    {"extra continuation after a valid sequence", "\xD0\x90\x90"sv, "byte offset 2",
     "unexpected continuation byte 0x90"},
    {"invalid byte 0xF8", "\xF8\x88\x80\x80\x80"sv, "byte offset 0", "invalid byte 0xF8"},
    {"invalid byte 0xFE", "ab\xFE"sv, "byte offset 2", "invalid byte 0xFE"},
    {"invalid byte 0xFF", "\xFF"sv, "byte offset 0", "invalid byte 0xFF"},
    {"overlong 2-byte NUL (C0 80)", "\xC0\x80"sv, "byte offset 0", "overlong 2-byte encoding of U+0000"},
    {"overlong 2-byte slash (C1 AF)", "x\xC1\xAF"sv, "byte offset 1", "overlong 2-byte encoding of U+006F"},
    {"overlong 3-byte slash", "\xE0\x80\xAF"sv, "byte offset 0", "overlong 3-byte encoding of U+002F"},
    {"overlong 3-byte U+07FF", "\xE0\x9F\xBF"sv, "byte offset 0", "overlong 3-byte encoding of U+07FF"},
    {"overlong 4-byte U+FFFF", "\xF0\x8F\xBF\xBF"sv, "byte offset 0", "overlong 4-byte encoding of U+FFFF"},
    {"overlong 4-byte NUL", "\xF0\x80\x80\x80"sv, "byte offset 0", "overlong 4-byte encoding of U+0000"},
    {"high surrogate U+D800", "ok\xED\xA0\x80"sv, "byte offset 2", "encoded surrogate U+D800"},
    {"low surrogate U+DFFF", "\xED\xBF\xBF"sv, "byte offset 0", "encoded surrogate U+DFFF"},
    {"surrogate pair in CESU-8 form", "\xED\xA0\xBD\xED\xB8\x80"sv, "byte offset 0", "encoded surrogate U+D83D"},
    {"just above U+10FFFF", "\xF4\x90\x80\x80"sv, "byte offset 0", "code point U+110000 is above U+10FFFF"},
    {"lead byte F5", "\xF5\x80\x80\x80"sv, "byte offset 0", "code point U+140000 is above U+10FFFF"},
    {"lead byte F7 maximum", "\xF7\xBF\xBF\xBF"sv, "byte offset 0", "code point U+1FFFFF is above U+10FFFF"},
    {"truncated 2-byte at end", "\xD0"sv, "byte offset 0",
     "truncated sequence (lead byte 0xD0 starts a 2-byte sequence, the text ends after 1)"},
    {"truncated 3-byte at end", "abc\xE4\xB8"sv, "byte offset 3",
     "truncated sequence (lead byte 0xE4 starts a 3-byte sequence, the text ends after 2)"},
    {"truncated 4-byte at end", "\xF0\x9F\x98"sv, "byte offset 0",
     "truncated sequence (lead byte 0xF0 starts a 4-byte sequence, the text ends after 3)"},
    {"2-byte lead followed by ASCII", "\xD0" "A"sv, "byte offset 0",
     "incomplete sequence (lead byte 0xD0 is followed by 0x41, which is not a continuation byte)"},
    {"3-byte lead cut short by a new lead", "\xE4\xB8\xD0\x90"sv, "byte offset 0",
     "incomplete sequence (lead byte 0xE4 is followed by 0xD0, which is not a continuation byte)"},
    {"Windows-1251 bytes taken for UTF-8", "\xCF\xF0\xE8"sv, "byte offset 0",
     "incomplete sequence (lead byte 0xCF is followed by 0xF0, which is not a continuation byte)"},
    {"NUL inside a sequence", "\xE2\x82\0"sv, "byte offset 0",
     "incomplete sequence (lead byte 0xE2 is followed by 0x00, which is not a continuation byte)"},
};

TEST(Utf8, MalformedInputIsAnErrorSayingWhatAndWhere)
{
    for (const Malformed& m : kMalformed) {
        SCOPED_TRACE(m.name);
        EXPECT_FALSE(IsValidUtf8(m.utf8));
        try {
            Utf8ToUtf32(m.utf8);
            ADD_FAILURE() << "no exception";
        } catch (const EEncodingError& e) {
            EXPECT_EQ(e.Message(), std::string("Malformed UTF-8 at ") + m.where + ": " + m.what);
        }
        EXPECT_THROW(Utf8ToUtf16(m.utf8), EEncodingError);
        EXPECT_THROW(Utf8ToCp1251(m.utf8), EEncodingError);
        EXPECT_THROW(Utf8Length(m.utf8), EEncodingError);
        std::string bytes = "untouched";
        EXPECT_FALSE(TryUtf8ToCp1251(m.utf8, bytes));
        EXPECT_EQ(bytes, "untouched");
    }
}

TEST(Utf8, EncodingErrorIsAConvertError)
{
    EXPECT_THROW(Utf8ToUtf32("\xFF"), EConvertError);
}

struct Boundary {
    const char* name;
    char32_t ch;
    std::string_view utf8;
};

const Boundary kBoundaries[] = {
    {"NUL", 0x0000, "\0"sv},
    {"last 1-byte", 0x007F, "\x7F"sv},
    {"first 2-byte", 0x0080, "\xC2\x80"sv},
    {"last 2-byte", 0x07FF, "\xDF\xBF"sv},
    {"first 3-byte", 0x0800, "\xE0\xA0\x80"sv},
    {"last before surrogates", 0xD7FF, "\xED\x9F\xBF"sv},
    {"first after surrogates", 0xE000, "\xEE\x80\x80"sv},
    {"replacement character", 0xFFFD, "\xEF\xBF\xBD"sv},
    {"last 3-byte", 0xFFFF, "\xEF\xBF\xBF"sv},
    {"first 4-byte", 0x10000, "\xF0\x90\x80\x80"sv},
    {"emoji", 0x1F600, "\xF0\x9F\x98\x80"sv},
    {"last code point", 0x10FFFF, "\xF4\x8F\xBF\xBF"sv},
};

TEST(Utf8, BoundaryCodePointsEncodeAndDecode)
{
    for (const Boundary& b : kBoundaries) {
        SCOPED_TRACE(b.name);
        std::string out = "x";
        AppendUtf8(out, b.ch);
        EXPECT_EQ(out, "x" + std::string(b.utf8));
        EXPECT_TRUE(IsValidUtf8(b.utf8));
        EXPECT_EQ(Utf8Length(b.utf8), 1u);
        std::size_t pos = 0;
        EXPECT_EQ(NextUtf8(b.utf8, pos), b.ch);
        EXPECT_EQ(pos, b.utf8.size());
        EXPECT_EQ(Utf8ToUtf32(b.utf8), std::u32string(1, b.ch));
        EXPECT_EQ(Utf32ToUtf8(std::u32string(1, b.ch)), b.utf8);
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(b.utf8)), b.utf8);
    }
}

struct BadCodePoint {
    const char* name;
    char32_t ch;
    const char* message;
};

const BadCodePoint kBadCodePoints[] = {
    {"high surrogate", 0xD800, "Code point U+D800 cannot be encoded: it is a surrogate"},
    {"low surrogate", 0xDFFF, "Code point U+DFFF cannot be encoded: it is a surrogate"},
    {"above maximum", 0x110000, "Code point U+110000 cannot be encoded: it is above U+10FFFF"},
    {"all bits", 0xFFFFFFFF, "Code point U+FFFFFFFF cannot be encoded: it is above U+10FFFF"},
};

TEST(Utf8, AppendRefusesSurrogatesAndValuesAboveTheMaximum)
{
    for (const BadCodePoint& b : kBadCodePoints) {
        SCOPED_TRACE(b.name);
        std::string out = "keep";
        try {
            AppendUtf8(out, b.ch);
            ADD_FAILURE() << "no exception";
        } catch (const EEncodingError& e) {
            EXPECT_EQ(e.Message(), b.message);
        }
        EXPECT_EQ(out, "keep");
    }
}

TEST(Utf8, Utf32ToUtf8NamesTheOffsetOfABadCodePoint)
{
    try {
        Utf32ToUtf8(U"ab\xD801");
        FAIL() << "no exception";
    } catch (const EEncodingError& e) {
        EXPECT_EQ(e.Message(), "Code point U+D801 at character offset 2 cannot be encoded: it is a surrogate");
    }
}

TEST(Utf8, NextUtf8WalksTheText)
{
    const std::string_view text = "aЖ€\xF0\x9F\x98\x80";
    std::size_t pos = 0;
    EXPECT_EQ(NextUtf8(text, pos), U'a');
    EXPECT_EQ(pos, 1u);
    EXPECT_EQ(NextUtf8(text, pos), U'Ж');
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(NextUtf8(text, pos), U'€');
    EXPECT_EQ(pos, 6u);
    EXPECT_EQ(NextUtf8(text, pos), U'\U0001F600');
    EXPECT_EQ(pos, 10u);
    EXPECT_THROW(NextUtf8(text, pos), EEncodingError);
    EXPECT_EQ(pos, 10u);
}

TEST(Utf8, NextUtf8LeavesThePositionOnError)
{
    const std::string_view text = "a\xE4\xB8";
    std::size_t pos = 1;
    EXPECT_THROW(NextUtf8(text, pos), EEncodingError);
    EXPECT_EQ(pos, 1u);
}

struct Length {
    const char* name;
    std::string_view utf8;
    std::size_t length;
};

const Length kLengths[] = {
    {"empty", ""sv, 0},
    {"ascii", "hello"sv, 5},
    {"embedded NUL", "a\0b"sv, 3},
    {"Russian", "Привет"sv, 6},
    {"mixed", "Ёж №1 €"sv, 7},
    {"beyond the BMP", "\xF0\x9F\x98\x80!"sv, 2},
};

TEST(Utf8, LengthCountsCodePoints)
{
    for (const Length& l : kLengths) {
        SCOPED_TRACE(l.name);
        EXPECT_EQ(Utf8Length(l.utf8), l.length);
        EXPECT_EQ(Utf8ToUtf32(l.utf8).size(), l.length);
    }
}

TEST(Utf8, Utf32RoundTrip)
{
    const std::u32string text = U"Ёжик в тумане: 中文 \U0001F600";
    EXPECT_EQ(Utf8ToUtf32(Utf32ToUtf8(text)), text);
    EXPECT_EQ(Utf32ToUtf8(text), "Ёжик в тумане: 中文 \xF0\x9F\x98\x80");
}

// ---- UTF-16 --------------------------------------------------------------------------

struct Pair {
    const char* name;
    char32_t ch;
    char16_t high;
    char16_t low;
};

const Pair kPairs[] = {
    {"first supplementary", 0x10000, 0xD800, 0xDC00},
    {"grinning face", 0x1F600, 0xD83D, 0xDE00},
    {"CJK extension B", 0x20000, 0xD840, 0xDC00},
    {"last code point", 0x10FFFF, 0xDBFF, 0xDFFF},
};

TEST(Utf16, SupplementaryCharactersUseSurrogatePairs)
{
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(p.name);
        std::string utf8;
        AppendUtf8(utf8, p.ch);
        const std::u16string utf16 = Utf8ToUtf16(utf8);
        ASSERT_EQ(utf16.size(), 2u);
        EXPECT_EQ(utf16[0], p.high);
        EXPECT_EQ(utf16[1], p.low);
        EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    }
}

TEST(Utf16, MixedTextRoundTrips)
{
    const std::string text = "Жук \xF0\x9F\x98\x80 ok";
    const std::u16string utf16 = Utf8ToUtf16(text);
    EXPECT_EQ(utf16, u"Жук \U0001F600 ok");
    EXPECT_EQ(utf16.size(), 9u);
    EXPECT_EQ(Utf16ToUtf8(utf16), text);
    EXPECT_EQ(Utf8ToUtf16(""), u"");
    EXPECT_EQ(Utf16ToUtf8(u""), "");
}

struct BadUtf16 {
    const char* name;
    std::u16string utf16;
    const char* message;
};

TEST(Utf16, UnpairedSurrogatesAreErrors)
{
    const BadUtf16 cases[] = {
        {"high surrogate at the end", std::u16string(u"ab") + char16_t(0xD83D),
         "Malformed UTF-16 at code unit offset 2: unpaired high surrogate U+D83D"},
        {"high surrogate before a letter", std::u16string(1, char16_t(0xD800)) + u"x",
         "Malformed UTF-16 at code unit offset 0: unpaired high surrogate U+D800"},
        {"two high surrogates", std::u16string{char16_t(0xD800), char16_t(0xD801), char16_t(0xDC00)},
         "Malformed UTF-16 at code unit offset 0: unpaired high surrogate U+D800"},
        {"lone low surrogate", std::u16string(u"x") + char16_t(0xDC00),
         "Malformed UTF-16 at code unit offset 1: unpaired low surrogate U+DC00"},
        {"reversed pair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
         "Malformed UTF-16 at code unit offset 0: unpaired low surrogate U+DE00"},
    };
    for (const BadUtf16& b : cases) {
        SCOPED_TRACE(b.name);
        try {
            Utf16ToUtf8(b.utf16);
            ADD_FAILURE() << "no exception";
        } catch (const EEncodingError& e) {
            EXPECT_EQ(e.Message(), b.message);
        }
    }
}

} // namespace
} // namespace rtl
