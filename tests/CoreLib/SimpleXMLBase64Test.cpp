// Tests of base64 as the XML library writes and reads it, and of the binary
// form's signature test.
#include "CoreLib/SimpleXML.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& bytes, int lineLength = 0)
{
    return Base64Encode(bytes.data(), bytes.size(), lineLength);
}

TEST(SimpleXmlBase64, KnownVectors)
{
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.text;
    }
    const std::string all = [] {
        std::string s;
        for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
        return s;
    }();
    EXPECT_EQ(Base64Decode(Encode(all)), all);
    EXPECT_EQ(Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/") << "the last two letters of the alphabet";
    EXPECT_EQ(Base64Encode(nullptr, 0, 10), "");
}

TEST(SimpleXmlBase64, LinesOfTheGivenLength)
{
    std::string bytes;
    for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<char>(i * 7));
    const std::string text = Encode(bytes, 80);
    ASSERT_EQ(text.size(), 268u + 3 * 2);
    std::size_t start = 0;
    std::vector<std::size_t> lines;
    for (std::size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2) lines.push_back(p - start);
    lines.push_back(text.size() - start);
    EXPECT_EQ(lines, (std::vector<std::size_t>{80, 80, 80, 28}));
    EXPECT_EQ(text.substr(text.size() - 2).find('\n'), std::string::npos) << "no break after the last line";
    EXPECT_EQ(Base64Decode(text), bytes);

    EXPECT_EQ(Encode("abc", 4), "YWJj") << "exactly one full line";
    EXPECT_EQ(Encode("abcabc", 4), "YWJj\r\nYWJj");
    EXPECT_EQ(Encode("abcabc", 0), "YWJjYWJj");
    EXPECT_EQ(Encode("abcabc", -5), "YWJjYWJj");
}

TEST(SimpleXmlBase64, LenientDecoding)
{
    const struct {
        const char* what;
        std::string text;
        std::string bytes;
    } cases[] = {
        {"blanks and breaks anywhere", " Y W\r\nJ\tj\r\n", "abc"},
        {"one padded group", "QQ==", "A"},
        {"fewer than four characters", "QQ=", ""},
        {"nothing", "", ""},
        {"only blanks", " \r\n\t", ""},
        {"padding inside the text leaves star bytes", "QQ==YWJj", "A**abc"},
        {"two padded groups", "QQ==QQ==", std::string("A**A")},
        {"unknown characters count as 0", "QQ!=", std::string("A\0", 2)},
        {"padding in the first places counts as 0", "==YW", std::string("\0\x06\x16", 3)},
        // A short last group still counts as a whole group of output; its
        // missing characters count as "A" (0).
        {"a short last group of two", "YWJjYW", std::string("abca`\0", 6)},
        {"a short last group of three", "YWJjYWI", std::string("abcab\0", 6)},
        {"a short last group of one", "YWJjY", std::string("abc`\0\0", 6)},
        {"a short last group ending in padding", "YWJjYQ=", "abca*"},
        // Lengths count characters, not the bytes of their UTF-8 form.
        {"two Cyrillic letters are fewer than four characters", "ЖЖ", ""},
        {"four Cyrillic letters are one group of zeros", "ЖЖЖЖ", std::string(3, '\0')},
        {"a letter after padding is the fourth character", "QQ=Ж", "A"},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.what;
}

TEST(SimpleXmlBase64, DecodedLengthFollowsTheCharacterCount)
{
    // Each prefix sits in a buffer of its own size, so that the sanitizer
    // build catches any read past the text.
    const std::string text = "YWJjYWJjYWJj";
    for (std::size_t n = 0; n <= text.size(); ++n) {
        const std::vector<char> exact(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        const std::string bytes = Base64Decode(std::string_view(exact.data(), exact.size()));
        EXPECT_EQ(bytes.size(), n < 4 ? 0 : (n + 3) / 4 * 3) << n;
        EXPECT_EQ(bytes.substr(0, n / 4 * 3), std::string("abcabcabc").substr(0, n / 4 * 3)) << n;
    }
    const std::string padded = "YWJjYQ==";
    for (std::size_t n = 4; n <= padded.size(); ++n) {
        const std::vector<char> exact(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(n));
        const std::size_t expected[] = {3, 6, 6, 5, 4};
        EXPECT_EQ(Base64Decode(std::string_view(exact.data(), exact.size())).size(), expected[n - 4]) << n;
    }
}

TEST(SimpleXmlBinarySignature, RecognisedOnlyAtTheStart)
{
    const struct {
        std::string text;
        bool binary;
    } cases[] = {
        {"< binary-xml >", true},
        {std::string("< binary-xml >\0\0\0\0", 18), true},
        {"< binary-xml", false},
        {"<binary-xml >", false},
        {" < binary-xml >", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsBinaryXml(c.text), c.binary) << c.text;
}

} // namespace
