// Tests of letter case, character classes, case-insensitive comparison and Trim.
#include "platform/rtl/TextUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"

namespace rtl {
namespace {

using namespace std::string_view_literals;

std::string Utf8(char32_t ch)
{
    std::string s;
    AppendUtf8(s, ch);
    return s;
}

int Sign(int v) { return (v > 0) - (v < 0); }

// ---- case pairs ---------------------------------------------------------------------

struct CasePair {
    const char* name;
    char32_t upper;
    char32_t lower;
};

const CasePair kCasePairs[] = {
    {"Latin A", U'A', U'a'},
    {"Latin M", U'M', U'm'},
    {"Latin Z", U'Z', U'z'},
    {"А", U'А', U'а'},
    {"Б", U'Б', U'б'},
    {"Е", U'Е', U'е'},
    {"Ж", U'Ж', U'ж'},
    {"Й", U'Й', U'й'},
    {"П", U'П', U'п'},
    {"Р", U'Р', U'р'},
    {"Щ", U'Щ', U'щ'},
    {"Ъ", U'Ъ', U'ъ'},
    {"Ы", U'Ы', U'ы'},
    {"Ь", U'Ь', U'ь'},
    {"Э", U'Э', U'э'},
    {"Ю", U'Ю', U'ю'},
    {"Я", U'Я', U'я'},
    {"Ё", U'Ё', U'ё'},
    {"Ђ", U'Ђ', U'ђ'},
    {"Ѓ", U'Ѓ', U'ѓ'},
    {"Є", U'Є', U'є'},
    {"Ѕ", U'Ѕ', U'ѕ'},
    {"І", U'І', U'і'},
    {"Ї", U'Ї', U'ї'},
    {"Ј", U'Ј', U'ј'},
    {"Љ", U'Љ', U'љ'},
    {"Њ", U'Њ', U'њ'},
    {"Ћ", U'Ћ', U'ћ'},
    {"Ќ", U'Ќ', U'ќ'},
    {"Ў", U'Ў', U'ў'},
    {"Џ", U'Џ', U'џ'},
    {"Ґ", U'Ґ', U'ґ'},
};

TEST(TextCase, LettersMapBetweenCases)
{
    for (const CasePair& p : kCasePairs) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(CharUpper(p.lower), p.upper);
        EXPECT_EQ(CharLower(p.upper), p.lower);
        EXPECT_EQ(CharUpper(p.upper), p.upper);
        EXPECT_EQ(CharLower(p.lower), p.lower);
        EXPECT_TRUE(IsCharAlpha(p.upper));
        EXPECT_TRUE(IsCharAlpha(p.lower));
        EXPECT_TRUE(IsCharAlphaNumeric(p.upper));
        EXPECT_TRUE(IsCharAlphaNumeric(p.lower));
        EXPECT_EQ(UpperCase(Utf8(p.lower)), Utf8(p.upper));
        EXPECT_EQ(LowerCase(Utf8(p.upper)), Utf8(p.lower));
    }
}

struct Unchanged {
    const char* name;
    char32_t ch;
    bool alphaNumeric;
};

const Unchanged kUnchanged[] = {
    {"digit 0", U'0', true},
    {"digit 9", U'9', true},
    {"NUL", 0x0000, false},
    {"space", U' ', false},
    {"at sign (before A)", U'@', false},
    {"left bracket (after Z)", U'[', false},
    {"backquote (before a)", U'`', false},
    {"left brace (after z)", U'{', false},
    {"underscore", U'_', false},
    {"hyphen", U'-', false},
    {"period", U'.', false},
    {"delete", 0x007F, false},
    {"micro sign", U'µ', false},
    {"section sign", U'§', false},
    {"no-break space", 0x00A0, false},
    {"Latin e acute", U'é', false},
    {"Latin E acute", U'É', false},
    {"German sharp s", U'ß', false},
    {"Greek alpha", U'α', false},
    {"Greek Omega", U'Ω', false},
    {"Cyrillic Ѐ (not in 1251)", 0x0400, false},
    {"Cyrillic Ѝ (not in 1251)", 0x040D, false},
    {"Cyrillic ѐ (not in 1251)", 0x0450, false},
    {"Cyrillic ѝ (not in 1251)", 0x045D, false},
    {"Cyrillic Ѡ (not in 1251)", 0x0460, false},
    {"Cyrillic Ғ (not in 1251)", 0x0492, false},
    {"numero sign", U'№', false},
    {"euro sign", U'€', false},
    {"em dash", U'—', false},
    {"CJK ideograph", U'中', false},
    {"emoji", U'\U0001F600', false},
};

TEST(TextCase, OtherCharactersAreLeftAlone)
{
    for (const Unchanged& u : kUnchanged) {
        SCOPED_TRACE(u.name);
        EXPECT_EQ(CharUpper(u.ch), u.ch);
        EXPECT_EQ(CharLower(u.ch), u.ch);
        EXPECT_FALSE(IsCharAlpha(u.ch));
        EXPECT_EQ(IsCharAlphaNumeric(u.ch), u.alphaNumeric);
    }
}

TEST(TextCase, CaseStaysInsideTheCodePage)
{
    // Every Windows-1251 letter has its other case in Windows-1251 too, and
    // there are exactly 2 * 26 Latin letters and 64 + 30 Cyrillic ones
    // (А..я at 0xC0..0xFF, and Ё/ё, Ґ/ґ and the rest at 0x80..0xBF).
    int letters = 0;
    for (int b = 0; b < 256; ++b) {
        const char32_t ch = Cp1251ToChar(static_cast<std::uint8_t>(b));
        std::uint8_t other = 0;
        EXPECT_TRUE(CharToCp1251(CharUpper(ch), other)) << b;
        EXPECT_TRUE(CharToCp1251(CharLower(ch), other)) << b;
        EXPECT_EQ(CharLower(CharUpper(ch)), IsCharAlpha(ch) ? CharLower(ch) : ch) << b;
        if (IsCharAlpha(ch)) {
            ++letters;
            EXPECT_TRUE(CharUpper(ch) != ch || CharLower(ch) != ch) << b;
        }
    }
    EXPECT_EQ(letters, 52 + 64 + 30);
}

struct WholeText {
    const char* name;
    const char* text;
    const char* upper;
    const char* lower;
};

const WholeText kTexts[] = {
    {"empty", "", "", ""},
    {"Latin", "Hello, World 42!", "HELLO, WORLD 42!", "hello, world 42!"},
    {"Russian", "Привет, Мир!", "ПРИВЕТ, МИР!", "привет, мир!"},
    {"Ё and ё", "Ёжик и ёлка", "ЁЖИК И ЁЛКА", "ёжик и ёлка"},
    {"Ukrainian", "Їжак ґанок Європа Іван", "ЇЖАК ҐАНОК ЄВРОПА ІВАН", "їжак ґанок європа іван"},
    {"Serbian", "Љубљана Њутн Ђорђе Ћуприја Џак Јован", "ЉУБЉАНА ЊУТН ЂОРЂЕ ЋУПРИЈА ЏАК ЈОВАН",
     "љубљана њутн ђорђе ћуприја џак јован"},
    {"Belarusian and Macedonian", "Ўсё Ѕвезда Ќерка Ѓурѓа", "ЎСЁ ЅВЕЗДА ЌЕРКА ЃУРЃА", "ўсё ѕвезда ќерка ѓурѓа"},
    {"mixed with other scripts", "café Straße 中文 №5", "CAFé STRAßE 中文 №5", "café straße 中文 №5"},
    {"identifier", "Table_Улица1", "TABLE_УЛИЦА1", "table_улица1"},
};

TEST(TextCase, WholeTexts)
{
    for (const WholeText& t : kTexts) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(UpperCase(t.text), t.upper);
        EXPECT_EQ(LowerCase(t.text), t.lower);
    }
}

TEST(TextCase, EmbeddedNulIsKept)
{
    EXPECT_EQ(UpperCase("a\0я"sv), "A\0Я"sv);
}

TEST(TextCase, MalformedTextIsAnError)
{
    EXPECT_THROW(UpperCase("ab\xFF"), EEncodingError);
    EXPECT_THROW(LowerCase("\xD0"), EEncodingError);
    EXPECT_THROW(CompareText("a\xC0\x80", "a"), EEncodingError);
    EXPECT_THROW(CompareText("a", "a\xE4\xB8"), EEncodingError);
}

// ---- comparison ------------------------------------------------------------------------

struct Comparison {
    const char* name;
    const char* a;
    const char* b;
    int sign;   // of CompareText(a, b)
};

const Comparison kComparisons[] = {
    {"both empty", "", "", 0},
    {"empty before anything", "", "a", -1},
    {"anything after empty", "a", "", 1},
    {"equal Latin", "abc", "abc", 0},
    {"Latin case ignored", "Hello", "hELLO", 0},
    {"Latin order", "apple", "Banana", -1},
    {"Latin order, reversed", "Banana", "apple", 1},
    {"prefix sorts first", "abc", "ABCD", -1},
    {"longer sorts after", "ABCD", "abc", 1},
    {"Cyrillic case ignored", "Улица", "УЛИЦА", 0},
    {"Ё and ё are one letter", "Ёлка", "ёЛКА", 0},
    {"Ukrainian case ignored", "Їжак ґанок", "ЇЖАК ҐАНОК", 0},
    {"Serbian case ignored", "Љубљана", "љУБЉАНА", 0},
    {"Cyrillic order", "Арбат", "баня", -1},
    {"Cyrillic order, reversed", "ЯБЛОКО", "абрикос", 1},
    {"Ё compares by code point (before А)", "Ё", "а", -1},
    {"Latin before Cyrillic", "Z", "а", -1},
    {"digits before letters", "1", "a", -1},
    {"underscore after upper-cased Latin", "_", "a", 1},
    {"non-repertoire letters are not folded", "é", "É", 1},
    {"Ѐ and ѐ (not in 1251) differ", "\xD0\x80", "\xD1\x90", -1},
    {"first difference decides", "abX", "ABy", -1},
    {"mixed texts", "Table_Улица1", "TABLE_улица1", 0},
};

TEST(TextCompare, CompareTextAndSameText)
{
    for (const Comparison& c : kComparisons) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Sign(CompareText(c.a, c.b)), c.sign);
        EXPECT_EQ(Sign(CompareText(c.b, c.a)), -c.sign);
        EXPECT_EQ(SameText(c.a, c.b), c.sign == 0);
    }
}

const Comparison kLatinComparisons[] = {
    {"both empty", "", "", 0},
    {"empty before anything", "", "a", -1},
    {"Latin case ignored", "SQL Server", "sql server", 0},
    {"driver names", "MSSQL", "mssql", 0},
    {"Latin order", "apple", "Banana", -1},
    {"prefix sorts first", "abc", "ABCD", -1},
    {"Cyrillic is not folded", "Улица", "УЛИЦА", 1},
    {"Cyrillic identical", "Улица", "Улица", 0},
    {"Latin folded around Cyrillic", "aЖb", "AЖB", 0},
    {"underscore after upper-cased Latin", "_", "a", 1},
    {"bytes above 0x7F after ASCII", "\xD0\x90", "z", 1},
    {"first difference decides", "abX", "ABy", -1},
};

TEST(TextCompare, LatinVariantsFoldOnlyAtoZ)
{
    for (const Comparison& c : kLatinComparisons) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Sign(CompareTextLatin(c.a, c.b)), c.sign);
        EXPECT_EQ(Sign(CompareTextLatin(c.b, c.a)), -c.sign);
        EXPECT_EQ(SameTextLatin(c.a, c.b), c.sign == 0);
    }
}

TEST(TextCompare, LatinVariantsDoNotValidate)
{
    EXPECT_EQ(CompareTextLatin("a\xFF", "A\xFF"), 0);
    EXPECT_TRUE(SameTextLatin("x\x80", "X\x80"));
}

struct LatinUpper {
    const char* name;
    std::string_view text;
    std::string_view upper;
};

const LatinUpper kLatinUpper[] = {
    {"empty", ""sv, ""sv},
    {"Latin", "Microsoft.Jet.OLEDB.4.0"sv, "MICROSOFT.JET.OLEDB.4.0"sv},
    {"Cyrillic kept", "abc Улица ё"sv, "ABC Улица ё"sv},
    {"embedded NUL", "a\0b"sv, "A\0B"sv},
    {"bytes above 0x7F kept", "z\xFF"sv, "Z\xFF"sv},
};

TEST(TextCompare, UpperCaseLatin)
{
    for (const LatinUpper& l : kLatinUpper) {
        SCOPED_TRACE(l.name);
        EXPECT_EQ(UpperCaseLatin(l.text), l.upper);
    }
}

// ---- Trim ------------------------------------------------------------------------------

struct TrimCase {
    const char* name;
    std::string_view text;
    std::string_view trimmed;
};

const TrimCase kTrims[] = {
    {"empty", ""sv, ""sv},
    {"nothing to trim", "abc"sv, "abc"sv},
    {"only blanks", "  \t\r\n "sv, ""sv},
    {"both ends", "  Улица Ленина \t"sv, "Улица Ленина"sv},
    {"inner blanks kept", " a  b "sv, "a  b"sv},
    {"control characters", "\x01\x1F" "abc\x7F\x1F"sv, "abc\x7F"sv},
    {"NUL at both ends", "\0x\0"sv, "x"sv},
    {"no-break space kept", "\xC2\xA0x\xC2\xA0"sv, "\xC2\xA0x\xC2\xA0"sv},
    {"Cyrillic at the ends", "ЖжЖ"sv, "ЖжЖ"sv},
};

TEST(TextTrim, RemovesCodesUpTo32AtBothEnds)
{
    for (const TrimCase& t : kTrims) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(Trim(t.text), t.trimmed);
    }
}

} // namespace
} // namespace rtl
