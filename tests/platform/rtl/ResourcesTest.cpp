// Embedded resources: the table generated from resources/resources.list
// (registered before main) and one more table that a test registers later.
#include "platform/rtl/Resources.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace rtl {
namespace {

using Names = std::vector<std::string>;

// Stands in for a library's table, registered after the generated one.
const std::uint8_t kLaterBase[] = {'l', 'a', 't', 'e', 'r'};
const std::uint8_t kLaterExtra[] = {'e', 'x', 't', 'r', 'a'};
const std::uint8_t kCyrillic[] = {0xC0};
const ResourceEntry kLaterTable[] = {
    {"layer", "BASE", kLaterBase, sizeof kLaterBase}, // the generated LAYER/Base comes first
    {"LAYER", "Extra", kLaterExtra, sizeof kLaterExtra},
    {"ТИП", "Имя", kCyrillic, sizeof kCyrillic},
};

void RegisterLaterTable()
{
    static const bool registered = (RegisterResources(kLaterTable, std::size(kLaterTable)), true);
    (void)registered;
}

std::string BytesOf(std::string_view type, std::string_view name)
{
    const ResourceData* r = FindResource(type, name);
    return r ? std::string(r->Bytes()) : "<none>";
}

TEST(Resources, FoundByTypeAndNameIgnoringLatinCase)
{
    struct Case {
        const char* type;
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"TEXT", "Hello", "Hello, world!\n"},
        {"text", "HELLO", "Hello, world!\n"},
        {"TeXt", "hello", "Hello, world!\n"},
        {"order", "ZULU", "zulu"},
        {"Order", "Alpha", "alpha"},
        {"ORDER", "mike", "mike"},
    };
    for (const Case& c : cases) EXPECT_EQ(BytesOf(c.type, c.name), c.expected) << c.type << "/" << c.name;
}

TEST(Resources, ExactBytes)
{
    const ResourceData* empty = FindResource("DATA", "Empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size, 0u);
    EXPECT_EQ(empty->Bytes(), "");

    const ResourceData* bytes = FindResource("DATA", "ZeroAndFF");
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes->data, bytes->data + bytes->size),
              (std::vector<std::uint8_t>{0x00, 0xFF, 0x00, 0x7F, 0x80, 0xFF}));

    // The generated table ends every resource with a 0 that its size leaves
    // out, so a text resource can be read as a C string.
    const ResourceData* text = FindResource("TEXT", "Hello");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->size, 14u);
    EXPECT_EQ(text->data[text->size], 0);
    EXPECT_EQ(empty->data[0], 0);
}

TEST(Resources, AbsentOnesAreNull)
{
    struct Case {
        const char* what;
        const char* type;
        const char* name;
    };
    const Case cases[] = {
        {"unknown name", "TEXT", "Missing"},
        {"unknown type", "NOTYPE", "Hello"},
        {"name of another type", "DATA", "Hello"},
        {"prefix of a name", "TEXT", "Hell"},
        {"name with a blank", "TEXT", "Hello "},
        {"prefix of a type", "TEX", "Hello"},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FindResource(c.type, c.name), nullptr) << c.what;
}

TEST(Resources, EnumerationFollowsTheList)
{
    EXPECT_EQ(EnumResourceNames("ORDER"), (Names{"Zulu", "alpha", "Mike"}));
    EXPECT_EQ(EnumResourceNames("order"), (Names{"Zulu", "alpha", "Mike"}));
    EXPECT_EQ(EnumResourceNames("DATA"), (Names{"Empty", "ZeroAndFF"}));
    EXPECT_EQ(EnumResourceNames("NOTYPE"), Names{});
}

TEST(Resources, ALaterTableIsSearchedAfterTheEarlierOne)
{
    const ResourceData* hello = FindResource("TEXT", "Hello");
    RegisterLaterTable();
    EXPECT_EQ(FindResource("TEXT", "Hello"), hello); // what was handed out stays
    EXPECT_EQ(BytesOf("LAYER", "Base"), "base layer");
    EXPECT_EQ(BytesOf("layer", "EXTRA"), "extra");
    EXPECT_EQ(EnumResourceNames("Layer"), (Names{"Base", "Extra"}));
}

TEST(Resources, OnlyLatinLettersFoldCase)
{
    RegisterLaterTable();
    EXPECT_EQ(BytesOf("ТИП", "Имя"), "\xC0");
    EXPECT_EQ(FindResource("тип", "Имя"), nullptr);
    EXPECT_EQ(FindResource("ТИП", "ИМЯ"), nullptr);
    EXPECT_EQ(EnumResourceNames("ТИП"), Names{"Имя"});
}

} // namespace
} // namespace rtl
