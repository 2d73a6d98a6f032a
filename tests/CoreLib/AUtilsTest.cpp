// Tests of the small utilities: path joining, float text with either
// separator, freeing the objects of a list, stream strings against bytes
// written by hand (and the refusal of lengths that do not fit), the
// word-start search and the bounds of a byte array.
#include "CoreLib/AUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace {

// Message of the E that f raises; a failure when it raises nothing.
template <class E, class F>
std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "nothing was raised";
    return {};
}

std::string Repeat(char c, std::size_t n)
{
    return std::string(n, c);
}

// ---- JoinPath -----------------------------------------------------------------

TEST(JoinPath, OneSeparatorAtEverySeam)
{
    struct Case {
        const char* name;
        std::vector<std::string> parts;
        std::string result;
    };
    const Case cases[] = {
        {"both sides slashed, empty part skipped", {"/mnt/", "/data", "", "file.txt"}, "/mnt/data/file.txt"},
        {"neither side slashed", {"data", "file.txt"}, "data/file.txt"},
        {"only the left slashed", {"data/", "file.txt"}, "data/file.txt"},
        {"only the right slashed", {"data", "/file.txt"}, "data/file.txt"},
        {"first part kept as it is", {"/", "etc"}, "/etc"},
        {"leading empty parts skipped", {"", "", "a", "b"}, "a/b"},
        {"trailing slash of the last part kept", {"a", "b/"}, "a/b/"},
        {"single part unchanged", {"/x/"}, "/x/"},
        {"all parts empty", {"", ""}, ""},
        {"no parts", {}, ""},
        {"only one slash dropped at a seam", {"a//", "//b"}, "a///b"},
        {"Cyrillic names", {"/данные", "слой.txt"}, "/данные/слой.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.parts), c.result) << c.name;
}

TEST(JoinPath, InitializerListFormJoinsTheSame)
{
    EXPECT_EQ(JoinPath({"/mnt/", "/data", "", "file.txt"}), "/mnt/data/file.txt");
}

// ---- StrToFloatAnySep -------------------------------------------------------------

TEST(StrToFloatAnySep, CommaOrPointReadAsDecimalSeparator)
{
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"1,5", 1.5}, {"1.5", 1.5}, {"-0,25", -0.25}, {"3", 3.0}, {",5", 0.5}, {"1,5E2", 150.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(StrToFloatAnySep(c.text), c.value) << c.text;
}

TEST(StrToFloatAnySep, OnlyTheFirstCommaIsReplaced)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"1,5.2", "'1.5.2' is not a valid floating point value"},
        {"1,5,2", "'1.5,2' is not a valid floating point value"},
        {"", "'' is not a valid floating point value"},
        {"abc", "'abc' is not a valid floating point value"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageOf<rtl::EConvertError>([&] { StrToFloatAnySep(c.text); }), c.message) << c.text;
}

// ---- FreeListObjects / FreeListAndObjects ---------------------------------------------

struct TPlainItem {
    int id;
    std::vector<int>* freed;
    ~TPlainItem() { freed->push_back(id); }
};

class TCountedItem : public TRefObject {
public:
    TCountedItem(int id, std::vector<int>& freed) : id_(id), freed_(freed) {}

protected:
    ~TCountedItem() override { freed_.push_back(id_); }

private:
    int id_;
    std::vector<int>& freed_;
};

TEST(FreeListObjects, FreesFromTheLastToTheFirstAndEmptiesTheList)
{
    std::vector<int> freed;
    std::vector<TPlainItem*> list;
    for (int id = 1; id <= 3; ++id) list.push_back(new TPlainItem{id, &freed});
    FreeListObjects(&list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(freed, (std::vector<int>{3, 2, 1}));

    std::vector<TPlainItem*>* none = nullptr;
    EXPECT_NO_THROW(FreeListObjects(none));
}

TEST(FreeListObjects, FreeListAndObjectsAlsoFreesTheList)
{
    std::vector<int> freed;
    auto list = std::make_unique<std::vector<TPlainItem*>>();
    list->push_back(new TPlainItem{7, &freed});
    list->push_back(nullptr);
    FreeListAndObjects(list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(freed, (std::vector<int>{7}));

    EXPECT_NO_THROW(FreeListAndObjects(list)) << "an already freed list";
}

TEST(FreeListObjects, ItemThatCannotBeFreedStaysInTheList)
{
    std::vector<int> freed;
    std::vector<TCountedItem*> list;
    for (int id = 1; id <= 2; ++id) {
        TCountedItem* item = nullptr;
        AddRefAssign(item, new TCountedItem(id, freed));
        list.push_back(item);
    }
    TCountedItem* other = nullptr;
    AddRefAssign(other, list.back()); // a second holder of item 2

    EXPECT_THROW(FreeListObjects(&list), rtl::Exception);
    ASSERT_EQ(list.size(), 2u) << "nothing was taken out";
    EXPECT_TRUE(freed.empty());

    ReleaseObj(other);
    FreeListObjects(&list);
    EXPECT_EQ(freed, (std::vector<int>{2, 1}));
}

// ---- stream strings ----------------------------------------------------------------

struct StreamStringCase {
    const char* name;
    std::string text;  // UTF-8
    std::string bytes; // the stored form
};

std::vector<StreamStringCase> WrittenForms()
{
    return {
        {"empty string is the single byte 0", "", std::string("\x00", 1)},
        {"short string", "abc", "\x03" "abc"},
        {"Cyrillic as Windows-1251 bytes", "Слой ё", "\x06\xD1\xEB\xEE\xE9\x20\xB8"},
        {"253 characters keep the length byte", Repeat('a', 253), "\xFD" + Repeat('a', 253)},
        {"254 characters take the long form", Repeat('b', 254), std::string("\xFE\xFE\x00\x00\x00", 5) + Repeat('b', 254)},
        {"255 characters take the long form", Repeat('c', 255), std::string("\xFE\xFF\x00\x00\x00", 5) + Repeat('c', 255)},
        {"300 characters: 254, 300 in four bytes", Repeat('d', 300), std::string("\xFE\x2C\x01\x00\x00", 5) + Repeat('d', 300)},
        {"long Cyrillic counts bytes of Windows-1251", std::string(300, 'x') + "я",
         std::string("\xFE\x2D\x01\x00\x00", 5) + Repeat('x', 300) + "\xFF"},
    };
}

TEST(StreamWriteString, WritesTheStoredForm)
{
    for (const StreamStringCase& c : WrittenForms()) {
        rtl::TMemoryStream stream;
        StreamWriteString(stream, c.text);
        EXPECT_EQ(stream.ToString(), c.bytes) << c.name;
    }
    EXPECT_EQ(WrittenForms()[6].bytes.size(), 305u);
    EXPECT_EQ(WrittenForms()[3].bytes.size(), 254u);
}

TEST(StreamReadString, ReadsTheStoredForm)
{
    for (const StreamStringCase& c : WrittenForms()) {
        rtl::TMemoryStream stream(c.bytes + "tail");
        std::string s = "old";
        StreamReadString(stream, s);
        EXPECT_EQ(s, c.text) << c.name;
        EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(c.bytes.size())) << c.name;
    }
}

TEST(StreamReadString, FormsTheWriterNeverWrites)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
        std::int64_t position; // after the read
    };
    const Case cases[] = {
        {"length byte 255 means 255 characters", "\xFF" + Repeat('z', 255) + "!", Repeat('z', 255), 256},
        {"short string in the long form", std::string("\xFE\x03\x00\x00\x00", 5) + "abc!", "abc", 8},
        {"negative length reads nothing more", std::string("\xFE\xFF\xFF\xFF\xFF", 5) + "abc", "", 5},
        {"most negative length", std::string("\xFE\x00\x00\x00\x80", 5), "", 5},
        {"zero in the long form", std::string("\xFE\x00\x00\x00\x00", 5) + "x", "", 5},
        {"byte 0x98 survives", "\x01\x98", "\xC2\x98", 2},
    };
    for (const Case& c : cases) {
        rtl::TMemoryStream stream(c.bytes);
        std::string s = "old";
        StreamReadString(stream, s);
        EXPECT_EQ(s, c.text) << c.name;
        EXPECT_EQ(stream.Position(), c.position) << c.name;
    }
}

TEST(StreamReadString, LengthsThatDoNotFitAreRefusedAndNothingIsAssigned)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::int64_t maxLength;
        std::string message;
    };
    const Case cases[] = {
        {"empty stream", "", -1, "Stream read error"},
        {"long form cut inside its length", std::string("\xFE\x01\x00", 3), -1, "Stream read error"},
        {"length byte past the end", "\x05" "ab", -1,
         "Stream string length 5 exceeds the 2 bytes left in the stream"},
        {"255 with nothing after", "\xFF", -1, "Stream string length 255 exceeds the 0 bytes left in the stream"},
        {"long length past the end", std::string("\xFE\xE8\x03\x00\x00", 5) + "abc", -1,
         "Stream string length 1000 exceeds the 3 bytes left in the stream"},
        {"largest length, nothing allocated", std::string("\xFE\xFF\xFF\xFF\x7F", 5) + "abc", -1,
         "Stream string length 2147483647 exceeds the 3 bytes left in the stream"},
        {"longer than the field", "\x05" "abcde", 4, "Stream string length 5 exceeds the field length 4"},
        {"long form longer than the field", std::string("\xFE\x41\x00\x00\x00", 5) + Repeat('a', 65), 64,
         "Stream string length 65 exceeds the field length 64"},
    };
    for (const Case& c : cases) {
        rtl::TMemoryStream stream(c.bytes);
        std::string s = "old";
        EXPECT_EQ(MessageOf<rtl::EReadError>([&] { StreamReadString(stream, s, c.maxLength); }), c.message)
            << c.name;
        EXPECT_EQ(s, "old") << c.name;
    }
}

TEST(StreamReadString, LengthAtTheFieldLimitIsRead)
{
    rtl::TMemoryStream stream(std::string_view("\x04" "abcd" "\x00", 6));
    EXPECT_EQ(StreamReadString(stream, 4), "abcd");
    EXPECT_EQ(StreamReadString(stream, 0), "");
}

TEST(StreamWriteString, CharacterOutsideWindows1251WritesNothing)
{
    rtl::TMemoryStream stream;
    EXPECT_THROW(StreamWriteString(stream, "ok \u4E2D"), rtl::EEncodingError);
    EXPECT_EQ(stream.Size(), 0);
}

// A stream that takes at most `room` bytes.
class TFullStream : public rtl::TMemoryStream {
public:
    explicit TFullStream(std::size_t room) : room_(room) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::size_t n = count < room_ ? count : room_;
        room_ -= n;
        return rtl::TMemoryStream::Write(buffer, n);
    }

private:
    std::size_t room_;
};

TEST(StreamWriteString, StreamThatRefusesRaisesTheWriteError)
{
    TFullStream stream(3);
    EXPECT_EQ(MessageOf<rtl::EWriteError>([&] { StreamWriteString(stream, "abcdef"); }), "Stream write error");
}

TEST(StreamStrings, SeveralStringsReadBackInOrder)
{
    const std::vector<std::string> texts = {"", "Граница", Repeat('q', 254), "a", Repeat('w', 1000)};
    rtl::TMemoryStream stream;
    for (const std::string& t : texts) StreamWriteString(stream, t);
    stream.SetPosition(0);
    for (const std::string& t : texts) EXPECT_EQ(StreamReadString(stream), t);
    EXPECT_EQ(stream.Remaining(), 0);
}

// ---- IsWordInText --------------------------------------------------------------------

TEST(IsWordInText, FoundOnlyAtTheStartOfAWord)
{
    struct Case {
        const char* name;
        const char* word;
        const char* text;
        bool found;
    };
    const Case cases[] = {
        {"start of the text", "ab", "abc", true},
        {"only the start is checked", "ab", "x abc", true},
        {"after a letter", "ab", "xab", false},
        {"after a digit", "ab", "1ab", false},
        {"after punctuation", "ab", "x;ab", true},
        {"second occurrence at a word start", "ab", "cab ab", true},
        {"search goes on after the first character", "aa", "baaa", false},
        {"overlapping occurrence found later", "aa", "ba aa", true},
        {"occurrence inside the one skipped", "a a", "ba a a", true},
        {"case-sensitive", "AB", "ab", false},
        {"empty word never found", "", "abc", false},
        {"not in the text", "zz", "abc", false},
        {"text shorter than the word", "abcd", "abc", false},
        {"Cyrillic after a Cyrillic letter", "СЛО", "ДОРОГОСЛОЙ", false},
        {"Cyrillic after a blank", "СЛО", "ГРАНИЦА СЛОЯ", true},
        {"after Ё, a letter", "СЛО", "ЁСЛО", false},
        {"after a Latin letter", "СЛО", "xСЛО", false},
        {"after a dash that is no letter", "СЛО", "—СЛО", true},
        {"after a no-break space", "ab", "x\u00A0ab", true},
    };
    for (const Case& c : cases) EXPECT_EQ(IsWordInText(c.word, c.text), c.found) << c.name;
}

// ---- variant-array bounds -------------------------------------------------------------

TEST(VarArrayBounds, ByteArrayRunsFromZeroToSizeMinusOne)
{
    struct Case {
        const char* name;
        std::size_t size;
        int high;
    };
    const Case cases[] = {{"three bytes", 3, 2}, {"one byte", 1, 0}, {"empty array", 0, -1}};
    for (const Case& c : cases) {
        const rtl::Variant v(rtl::ByteArray(c.size, 0x41));
        EXPECT_EQ(VarArrayLow(v), 0) << c.name;
        EXPECT_EQ(VarArrayHigh(v), c.high) << c.name;
    }
}

TEST(VarArrayBounds, ArraysAnswerTheBoundsTheyWereMadeWith)
{
    struct Case {
        const char* name;
        int low;
        int high;
        rtl::TVarType elementType;
    };
    const Case cases[] = {
        {"variant array from 1", 1, 3, rtl::varVariant}, {"variant array from -2", -2, 2, rtl::varVariant},
        {"empty variant array from 5", 5, 4, rtl::varVariant}, {"text array from 10", 10, 12, rtl::varOleStr},
        {"integer array from 0", 0, 1, rtl::varInteger},
    };
    for (const Case& c : cases) {
        const rtl::Variant v = rtl::Variant::Array(c.low, c.high, c.elementType);
        EXPECT_EQ(VarArrayLow(v), c.low) << c.name;
        EXPECT_EQ(VarArrayHigh(v), c.high) << c.name;
    }

    // A listing: an array of rows, each row an array of its own.
    rtl::Variant listing = rtl::Variant::Array(0, 1, rtl::varVariant);
    listing.PutElement(1, rtl::Variant::Array(1, 4, rtl::varVariant));
    EXPECT_EQ(VarArrayLow(listing.GetElement(1)), 1);
    EXPECT_EQ(VarArrayHigh(listing.GetElement(1)), 4);
}

TEST(VarArrayBounds, ValueThatIsNoArrayIsRefused)
{
    const rtl::Variant values[] = {rtl::Variant(), rtl::Variant::Null(), rtl::Variant(std::int32_t{3}),
                                   rtl::Variant("abc")};
    for (const rtl::Variant& v : values) {
        EXPECT_EQ(MessageOf<rtl::EVariantError>([&] { VarArrayLow(v); }), "Invalid argument") << v.VarType();
        EXPECT_EQ(MessageOf<rtl::EVariantError>([&] { VarArrayHigh(v); }), "Invalid argument") << v.VarType();
    }
}

} // namespace
