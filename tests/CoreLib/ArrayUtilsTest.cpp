// Tests of TStrArray: the doubling of its item array, split at a separator,
// join with and without an item format, the join range, copy and index
// checks.
#include "CoreLib/ArrayUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace {

std::vector<std::string> Items(const TStrArray& a)
{
    std::vector<std::string> items;
    for (int i = 0; i < a.Count(); ++i) items.push_back(a.Get(i));
    return items;
}

TStrArray ArrayOf(const std::vector<std::string>& items)
{
    TStrArray a;
    for (const std::string& s : items) a.Add(s);
    return a;
}

TEST(TStrArrayAdd, FullArrayDoublesWithTwoAtLeast)
{
    struct Case {
        int initial;
        std::vector<int> capacities; // after each Add
    };
    const Case cases[] = {
        {0, {2, 2, 4, 4, 8}},
        {1, {1, 2, 4, 4, 8}},
        {3, {3, 3, 3, 6, 6}},
    };
    for (const Case& c : cases) {
        TStrArray a;
        a.Init(c.initial);
        EXPECT_EQ(a.Capacity(), c.initial);
        for (std::size_t i = 0; i < c.capacities.size(); ++i) {
            EXPECT_EQ(a.Add("s" + std::string(i, 'x')), static_cast<int>(i));
            EXPECT_EQ(a.Capacity(), c.capacities[i]) << "from " << c.initial << ", add " << i + 1;
        }
        EXPECT_EQ(a.Count(), 5);
        EXPECT_EQ(a.Get(4), "sxxxx");
    }
}

TEST(TStrArrayAdd, InitForgetsTheItems)
{
    TStrArray a = ArrayOf({"a", "b"});
    a.Init(3);
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.Capacity(), 3);
    EXPECT_THROW(a.Init(-1), rtl::EListError);
}

TEST(TStrArraySplit, PiecesBetweenSeparators)
{
    struct Case {
        const char* name;
        std::string text;
        std::string separator;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"empty piece and trailing separator", "a;;b;", ";", {"a", "", "b", ""}},
        {"leading separator", ";a", ";", {"", "a"}},
        {"no separator", "abc", ";", {"abc"}},
        {"only a separator", ";", ";", {"", ""}},
        {"empty text gives no items", "", ";", {}},
        {"separator of several characters", "a, b,c, ", ", ", {"a", "b,c", ""}},
        {"separator compared exactly", "aXbxc", "x", {"aXb", "c"}},
        {"Cyrillic", "поле1;поле2", ";", {"поле1", "поле2"}},
        {"empty separator keeps the text whole", "a;b", "", {"a;b"}},
    };
    for (const Case& c : cases) {
        TStrArray a = ArrayOf({"old"});
        a.Split(c.text, c.separator);
        EXPECT_EQ(Items(a), c.items) << c.name;
    }
}

TEST(TStrArrayJoin, JoinGivesTheSplitTextBack)
{
    const char* const texts[] = {"a;;b;", ";a", "abc", ";", "поле1;поле2"};
    for (const char* text : texts) {
        TStrArray a;
        a.Split(text, ";");
        EXPECT_EQ(a.Join(";"), text);
    }
    EXPECT_EQ(TStrArray().Join(";"), "") << "an empty array";
}

TEST(TStrArrayJoin, EachItemPutIntoTheFormat)
{
    struct Case {
        const char* format;
        const char* result;
    };
    const Case cases[] = {
        {"[%s]", "[a], [bb], [поле]"},
        {"%s", "a, bb, поле"},
        {"100%%: %s", "100%: a, 100%: bb, 100%: поле"},
        {"%3s|", "  a|,  bb|, поле|"},
        {"%-3s|", "a  |, bb |, поле|"},
        {"%.2s", "a, bb, по"},
        {"no item", "no item, no item, no item"},
    };
    const TStrArray a = ArrayOf({"a", "bb", "поле"});
    for (const Case& c : cases) EXPECT_EQ(a.Join(", ", c.format), c.result) << c.format;
}

TEST(TStrArrayJoin, FormatThatIsNotForOneStringIsRefused)
{
    const char* const formats[] = {"%d", "%s %s", "%", "abc%", "%5"};
    const TStrArray a = ArrayOf({"a"});
    for (const char* format : formats) {
        try {
            a.Join(",", format);
            ADD_FAILURE() << format << ": nothing was raised";
        } catch (const rtl::EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("Format '") + format + "' invalid or incompatible with argument");
        }
    }
}

TEST(TStrArrayJoin, RangeIsClippedToTheItems)
{
    struct Case {
        const char* name;
        int start, n;
        const char* result;
    };
    const Case cases[] = {
        {"middle", 1, 2, "b;c"},
        {"start below 0 counts as 0", -3, 2, "a;b"},
        {"n beyond the end", 2, 100, "c;d"},
        {"n of 0", 0, 0, ""},
        {"negative n", 0, -1, ""},
        {"start at Count", 4, 1, ""},
        {"last item", 3, 1, "d"},
    };
    const TStrArray a = ArrayOf({"a", "b", "c", "d"});
    for (const Case& c : cases) EXPECT_EQ(a.JoinRange(c.start, c.n, ";"), c.result) << c.name;
}

TEST(TStrArrayAssign, CopiesTheItemsInUse)
{
    TStrArray source = ArrayOf({"a", "b", "c"});
    EXPECT_EQ(source.Capacity(), 4);
    TStrArray target = ArrayOf({"x"});
    target.Assign(source);
    EXPECT_EQ(Items(target), Items(source));
    EXPECT_EQ(target.Capacity(), 3);

    source.Add("d");
    EXPECT_EQ(target.Count(), 3) << "the copy is independent";

    target.Assign(target);
    EXPECT_EQ(Items(target), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TStrArrayGet, IndexOutsideTheItemsIsRefused)
{
    TStrArray a;
    a.Init(4);
    a.Add("a");
    for (int index : {-1, 1, 3}) EXPECT_THROW(a.Get(index), rtl::EListError) << index;
}

} // namespace
