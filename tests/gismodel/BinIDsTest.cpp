// Tests of object identifiers: the 48-bit value and its 12-digit text form,
// the sortable identifier list and the old-to-new identifier map.
//
// Expected identifiers are written as hexadecimal literals (group in the
// digits above bit 32), not built with the functions under test.
#include "tests/support/TestHelpers.h"
#include "gismodel/BinIDs.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

const char* const kAssertion = "Assertion failure (BinIDs.cpp, line ";

using testing_support::RaisedMessage;

// A reproducible spread of identifiers over a few groups, with duplicates.
std::vector<BinID> PseudoRandomIDs(int n, std::uint32_t seed)
{
    std::vector<BinID> ids;
    std::uint32_t x = seed;
    for (int i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        const std::uint64_t group = (x >> 28) & 0x3;
        const std::uint64_t number = (x >> 4) & 0xFFFF;
        ids.push_back(static_cast<BinID>((group << 32) | number));
    }
    return ids;
}

// ---- codec --------------------------------------------------------------------

TEST(BinIDCodec, MakeAndSplitKeepSixteenAndThirtyTwoBits)
{
    struct Case {
        const char* name;
        std::int32_t group;
        std::uint32_t number;
        BinID id;
    };
    const Case cases[] = {
        {"no identifier", 0, 0, 0},
        {"group 1, number 10", 1, 10, 0x0001'0000'000A},
        {"group above 16 bits is cut to 0x2345", 0x12345, 7, 0x2345'0000'0007},
        {"negative group keeps its low 16 bits", -1, 0xFFFF'FFFF, 0xFFFF'FFFF'FFFF},
        {"number with its top bit set stays unsigned", 0, 0x8000'0000, 0x0000'8000'0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MakeBinID(c.group, c.number), c.id);
        const auto rec = SplitBinID(c.id);
        EXPECT_EQ(rec.Group, static_cast<std::uint16_t>(c.group));
        EXPECT_EQ(rec.Number, c.number);
    }
}

TEST(BinIDCodec, SplitIgnoresBitsAboveFortyEight)
{
    const auto rec = SplitBinID(static_cast<BinID>(0x7FFF'1234'0000'0005));
    EXPECT_EQ(rec.Group, 0x1234);
    EXPECT_EQ(rec.Number, 5u);
    EXPECT_EQ(BinIDToStr(-1), "FFFFFFFFFFFF");
}

TEST(BinIDCodec, OrderIsGroupThenNumber)
{
    EXPECT_LT(MakeBinID(1, 0xFFFF'FFFF), MakeBinID(2, 0));
    EXPECT_LT(MakeBinID(0x7FFF, 0), MakeBinID(0xFFFF, 0)) << "groups are unsigned";
}

TEST(BinIDText, PrintAndParseRoundTrip)
{
    struct Case {
        BinID id;
        const char* text;
    };
    const Case cases[] = {
        {0, "000000000000"},
        {0x0001'0000'000A, "00010000000A"},
        {0x1234'89AB'CDEF, "123489ABCDEF"},
        {0xFFFF'FFFF'FFFF, "FFFFFFFFFFFF"},
        {0x00A0'0000'0000, "00A000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(BinIDToStr(c.id), c.text);
        EXPECT_EQ(StrToBinID(c.text), c.id);
    }
}

TEST(BinIDText, ParsingAcceptsLowerCase)
{
    EXPECT_EQ(StrToBinID("00010000000a"), 0x0001'0000'000A);
    EXPECT_EQ(StrToBinID("abcdefABCDEF"), 0xABCD'EFAB'CDEF);
}

TEST(BinIDText, AnythingButTwelveHexDigitsReadsAsZero)
{
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"11 characters", "00010000000"},
        {"13 characters", "00010000000A0"},
        {"empty", ""},
        {"letter G", "00010000000G"},
        {"blank", "0001 000000A"},
        {"leading blank", " 0010000000A"},
        {"sign", "-0010000000A"},
        {"letter after F in lower case", "00010000000g"},
        {"zero byte inside", std::string("000100\0000000A", 12)},
        {"bytes above 127", "000100000\xC3\x90" "A"},
        {"hex prefix", "0x010000000A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StrToBinID(c.text), 0);
    }
}

TEST(BinIDText, HexPairToByteSetsTheErrorFlagOnlyOnBadDigits)
{
    struct Case {
        const char* name;
        char high;
        char low;
        std::uint8_t value;  // checked only when the pair is good
        bool bad;
    };
    const Case cases[] = {
        {"zeros", '0', '0', 0x00, false},
        {"upper and lower case", 'F', 'f', 0xFF, false},
        {"mixed", 'a', '5', 0xA5, false},
        {"digits", '7', '9', 0x79, false},
        {"bad high digit", 'G', '0', 0, true},
        {"bad low digit", '0', ' ', 0, true},
        {"character below '0'", '/', '0', 0, true},
        {"character after '9'", ':', '0', 0, true},
        {"character before 'A'", '@', '0', 0, true},
        {"byte above 127", '\xC1', '0', 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool error = false;
        const std::uint8_t value = HexPairToByte(c.high, c.low, error);
        EXPECT_EQ(error, c.bad);
        if (!c.bad) {
            EXPECT_EQ(value, c.value);
        }

        bool alreadySet = true;
        HexPairToByte(c.high, c.low, alreadySet);
        EXPECT_TRUE(alreadySet) << "a good pair leaves the flag untouched";
    }
}

// ---- TBinIDList -----------------------------------------------------------

TBinIDList ListOf(const std::vector<BinID>& ids)
{
    TBinIDList list;
    for (const BinID id : ids) list.Add(id);
    return list;
}

std::vector<BinID> InUse(const TBinIDList& list)
{
    return {list.Items().begin(), list.Items().begin() + list.Count()};
}

TEST(BinIDList, GrowsByDoublingFromTwo)
{
    TBinIDList list;
    EXPECT_EQ(list.Items().size(), 0u);
    const std::size_t capacities[] = {2, 2, 4, 4, 8, 8, 8, 8, 16};
    for (std::size_t i = 0; i < std::size(capacities); ++i) {
        list.Add(static_cast<BinID>(i + 1));
        EXPECT_EQ(list.Items().size(), capacities[i]) << "after " << i + 1 << " items";
    }
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list.Items()[9], 0) << "room past Count is zero";
}

TEST(BinIDList, SortOrdersTheItemsInUseOnly)
{
    TBinIDList list = ListOf({5, 3, 9});
    EXPECT_FALSE(list.Sorted());
    list.Sort();
    EXPECT_TRUE(list.Sorted());
    EXPECT_THAT(list.Items(), ElementsAre(3, 5, 9, 0));
    EXPECT_EQ(list.IndexOf(9), 2);
    EXPECT_EQ(list.IndexOf(0), -1) << "the zero room past Count is not searched";
}

TEST(BinIDList, SortMatchesAReferenceSortOnAwkwardInputs)
{
    std::vector<BinID> ascending, descending, organPipe;
    for (int i = 0; i < 500; ++i) {
        ascending.push_back(i);
        descending.push_back(500 - i);
        organPipe.push_back(i < 250 ? i : 500 - i);
    }
    struct Case {
        const char* name;
        std::vector<BinID> ids;
    };
    const Case cases[] = {
        {"one item", {42}},
        {"two items out of order", {2, 1}},
        {"all equal", std::vector<BinID>(300, 7)},
        {"ascending", ascending},
        {"descending", descending},
        {"organ pipe", organPipe},
        {"negative and large values", {0xFFFF'FFFF'FFFF, -5, 0, 0x0001'0000'0000, -1, 3}},
        {"many duplicates", PseudoRandomIDs(5000, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBinIDList list = ListOf(c.ids);
        list.Sort();
        std::vector<BinID> expected = c.ids;
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(InUse(list), expected);
        for (const BinID id : c.ids) {
            const auto first = std::lower_bound(expected.begin(), expected.end(), id) - expected.begin();
            ASSERT_EQ(list.IndexOf(id), first) << "binary search finds the first equal item";
        }
    }
}

TEST(BinIDList, SearchInBothModes)
{
    struct Case {
        const char* name;
        bool sort;
        BinID id;
        int index;
    };
    // Items 8, 2, 8, 5; sorted they read 2, 5, 8, 8.
    const Case cases[] = {
        {"unsorted: first equal item", false, 8, 0},
        {"unsorted: last item", false, 5, 3},
        {"unsorted: absent", false, 3, -1},
        {"unsorted: absent zero", false, 0, -1},
        {"sorted: first of equal items", true, 8, 2},
        {"sorted: first item", true, 2, 0},
        {"sorted: absent in the middle", true, 6, -1},
        {"sorted: absent below all", true, 1, -1},
        {"sorted: absent above all", true, 9, -1},
        {"sorted: absent zero", true, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBinIDList list = ListOf({8, 2, 8, 5});
        if (c.sort) list.Sort();
        EXPECT_EQ(list.IndexOf(c.id), c.index);
    }
}

TEST(BinIDList, AddAfterSortMakesSearchesLinearAgain)
{
    TBinIDList list = ListOf({5, 3, 9});
    list.Sort();
    list.Add(1);
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.IndexOf(1), 3) << "found only by a linear scan";
    EXPECT_THAT(InUse(list), ElementsAre(3, 5, 9, 1));
}

TEST(BinIDList, EmptyListsFindNothingAndSortKeepsTheFlag)
{
    TBinIDList fresh;
    EXPECT_EQ(fresh.IndexOf(0), -1);
    fresh.Sort();
    EXPECT_FALSE(fresh.Sorted());
    EXPECT_EQ(fresh.IndexOf(0), -1);

    TBinIDList cleared = ListOf({4, 2});
    cleared.Sort();
    cleared.Clear();
    EXPECT_EQ(cleared.Count(), 0);
    EXPECT_TRUE(cleared.Items().empty());
    EXPECT_TRUE(cleared.Sorted()) << "Clear leaves the flag";
    cleared.Sort();
    EXPECT_TRUE(cleared.Sorted());
    EXPECT_EQ(cleared.IndexOf(2), -1) << "an empty sorted list is searched without reading past it";
    EXPECT_EQ(cleared.IndexOf(0), -1);
}

// ---- TIDMapList -----------------------------------------------------------

std::vector<TIDMapItem> ItemsOf(const TIDMapList& map)
{
    std::vector<TIDMapItem> items(static_cast<std::size_t>(map.Count()));
    for (int i = 0; i < map.Count(); ++i) map.GetItem(i, items[i]);
    return items;
}

MATCHER_P2(Pair, oldID, newID, "")
{
    return arg.OldID == oldID && arg.NewID == newID;
}

TEST(IDMapList, SkipIdenticalDropsOnlyEqualPairs)
{
    struct Case {
        const char* name;
        BinID oldID;
        BinID newID;
        bool skip;
        int stored;
    };
    const Case cases[] = {
        {"identical pair skipped", 7, 7, true, 0},
        {"identical pair kept", 7, 7, false, 1},
        {"different pair with skip", 7, 8, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIDMapList map;
        map.BeginUpdate(0, 1);
        EXPECT_EQ(map.AddMapping(c.oldID, c.newID, c.skip), c.newID);
        map.EndUpdate();
        EXPECT_EQ(map.Count(), c.stored);
        EXPECT_EQ(map.MapID(c.oldID), c.newID);
    }
}

TEST(IDMapList, FilledInOneBatchThenSortedAndSearched)
{
    TIDMapList map;
    map.BeginUpdate(3, 1);
    map.AddMapping(30, 300, false);
    map.AddMapping(10, 100, false);
    map.AddMapping(20, 200, false);
    EXPECT_EQ(map.MapID(10), 100) << "found by the linear search of an open map";
    EXPECT_EQ(map.MapID(15), 15);
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(30, 300), Pair(10, 100), Pair(20, 200)));
    map.EndUpdate();

    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(10, 100), Pair(20, 200), Pair(30, 300)));
    const std::pair<BinID, BinID> lookups[] = {{10, 100}, {20, 200}, {30, 300}, {0, 0}, {15, 15}, {31, 31}, {-4, -4}};
    for (const auto& [id, mapped] : lookups) EXPECT_EQ(map.MapID(id), mapped) << id;
}

TEST(IDMapList, EmptyMapMapsEveryIdentifierToItself)
{
    TIDMapList map;
    EXPECT_EQ(map.MapID(5), 5);
    map.BeginUpdate(4, 1);
    EXPECT_EQ(map.MapID(5), 5);
    map.EndUpdate();
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.MapID(5), 5);
}

TEST(IDMapList, OnlyTheOutermostEndUpdateTrimsAndSorts)
{
    TIDMapList map;
    map.BeginUpdate(2, 1);
    map.BeginUpdate(2, 1);
    EXPECT_EQ(map.UpdateCount(), 2);
    EXPECT_EQ(map.Count(), 4) << "every level reserves";
    map.AddMapping(9, 90, false);
    map.AddMapping(4, 40, false);
    map.EndUpdate();
    EXPECT_EQ(map.UpdateCount(), 1);
    EXPECT_EQ(map.Count(), 4) << "still open: reserved room is kept";
    EXPECT_EQ(map.MapID(4), 40);
    map.AddMapping(6, 60, false);
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(9, 90), Pair(4, 40), Pair(6, 60), Pair(0, 0)));
    map.EndUpdate();
    EXPECT_EQ(map.UpdateCount(), 0);
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(4, 40), Pair(6, 60), Pair(9, 90)));
}

TEST(IDMapList, GrowthFollowsTheReservationAndTheStep)
{
    struct Case {
        const char* name;
        int extra;
        int growBy;
        int adds;
        std::vector<int> countAfterEachAdd;
        int finalGrowBy;
    };
    const Case cases[] = {
        {"negative reservation and step: nothing reserved, step 1", -5, 0, 3, {1, 2, 3}, 1},
        {"reservation used up, then steps of 4", 2, 4, 4, {2, 2, 6, 6}, 4},
        {"reservation larger than needed", 5, 1, 2, {5, 5}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIDMapList map;
        map.BeginUpdate(c.extra, c.growBy);
        EXPECT_EQ(map.GrowBy(), c.finalGrowBy);
        EXPECT_EQ(map.Count(), std::max(c.extra, 0));
        std::vector<int> counts;
        for (int i = 0; i < c.adds; ++i) {
            map.AddMapping(i + 1, 100 + i, false);
            counts.push_back(map.Count());
        }
        EXPECT_EQ(counts, c.countAfterEachAdd);
        map.EndUpdate();
        EXPECT_EQ(map.Count(), c.adds) << "the outermost close drops the unused room";
    }
}

TEST(IDMapList, RepeatedOldIDIsStoredTwice)
{
    TIDMapList map;
    map.BeginUpdate(0, 1);
    map.AddMapping(5, 50, false);
    map.AddMapping(5, 51, false);
    EXPECT_EQ(map.MapID(5), 50) << "an open map answers with the pair added first";
    map.EndUpdate();
    EXPECT_EQ(map.Count(), 2);
    EXPECT_THAT(map.MapID(5), ::testing::AnyOf(50, 51));
}

TEST(IDMapList, ReopenedMapAppendsAndSortsAgain)
{
    TIDMapList map;
    map.BeginUpdate(2, 1);
    map.AddMapping(20, 200, false);
    map.AddMapping(40, 400, false);
    map.EndUpdate();

    map.BeginUpdate(1, 1);
    EXPECT_EQ(map.Count(), 3);
    EXPECT_EQ(map.MapID(40), 400) << "stored pairs are searched while reopened";
    map.AddMapping(30, 300, false);
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(20, 200), Pair(40, 400), Pair(30, 300)));
    map.EndUpdate();
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(20, 200), Pair(30, 300), Pair(40, 400)));
}

TEST(IDMapList, LargeBatchMapsEveryPair)
{
    std::vector<BinID> olds = PseudoRandomIDs(20000, 7);
    std::sort(olds.begin(), olds.end());
    olds.erase(std::unique(olds.begin(), olds.end()), olds.end());
    std::vector<BinID> shuffled = olds;
    std::reverse(shuffled.begin() + static_cast<std::ptrdiff_t>(shuffled.size() / 3), shuffled.end());

    TIDMapList map;
    map.BeginUpdate(static_cast<int>(shuffled.size()), 1);
    for (const BinID id : shuffled) map.AddMapping(id, id + 0x1'0000'0000, false);
    map.EndUpdate();
    ASSERT_EQ(map.Count(), static_cast<int>(olds.size()));
    for (int i = 0; i < map.Count(); ++i) {
        TIDMapItem item;
        map.GetItem(i, item);
        ASSERT_EQ(item.OldID, olds[i]);
        ASSERT_EQ(map.MapID(item.OldID), item.OldID + 0x1'0000'0000);
    }
}

TEST(IDMapList, AddMappingStrParsesBothAndReturnsTheNewText)
{
    struct Case {
        const char* name;
        std::string oldText;
        std::string newText;
        bool skip;
        std::vector<TIDMapItem> stored;
    };
    const Case cases[] = {
        {"two identifiers", "00010000000a", "000200000001", false, {{0x0001'0000'000A, 0x0002'0000'0001}}},
        {"identical texts skipped", "000100000001", "000100000001", true, {}},
        {"unreadable new text maps to 0", "000100000001", "bad", false, {{0x0001'0000'0001, 0}}},
        {"two unreadable texts are identical", "x", "", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIDMapList map;
        map.BeginUpdate(0, 1);
        EXPECT_EQ(map.AddMappingStr(c.oldText, c.newText, c.skip), c.newText);
        map.EndUpdate();
        const auto items = ItemsOf(map);
        ASSERT_EQ(items.size(), c.stored.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].OldID, c.stored[i].OldID);
            EXPECT_EQ(items[i].NewID, c.stored[i].NewID);
        }
    }
}

TEST(IDMapList, ModificationOutsideAnUpdateIsRefused)
{
    struct Case {
        const char* name;
        std::function<void(TIDMapList&)> call;
    };
    const Case cases[] = {
        {"AddMapping", [](TIDMapList& m) { m.AddMapping(1, 2, false); }},
        {"AddMappingStr", [](TIDMapList& m) { m.AddMappingStr("000000000001", "000000000002", false); }},
        {"identical pair with skip", [](TIDMapList& m) { m.AddMapping(3, 3, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIDMapList fresh;
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { c.call(fresh); }), StartsWith(kAssertion));
        EXPECT_EQ(fresh.Count(), 0);
        EXPECT_EQ(fresh.MapID(1), 1);

        TIDMapList closed;
        closed.BeginUpdate(1, 1);
        closed.AddMapping(5, 50, false);
        closed.EndUpdate();
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { c.call(closed); }), StartsWith(kAssertion));
        EXPECT_THAT(ItemsOf(closed), ElementsAre(Pair(5, 50)));
    }
}

TEST(IDMapList, UnmatchedEndUpdateIsRefusedAndChangesNothing)
{
    TIDMapList map;
    map.BeginUpdate(1, 1);
    map.AddMapping(8, 80, false);
    map.EndUpdate();
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { map.EndUpdate(); }), StartsWith(kAssertion));
    EXPECT_EQ(map.UpdateCount(), 0);

    // The map still opens, fills and closes as before.
    map.BeginUpdate(1, 1);
    map.AddMapping(2, 20, false);
    map.EndUpdate();
    EXPECT_THAT(ItemsOf(map), ElementsAre(Pair(2, 20), Pair(8, 80)));
    EXPECT_EQ(map.MapID(8), 80);
}

TEST(IDMapList, GetItemOutsideTheMapIsRefused)
{
    TIDMapList map;
    map.BeginUpdate(1, 1);
    map.AddMapping(1, 10, false);
    map.EndUpdate();
    for (const int index : {-1, 1}) {
        SCOPED_TRACE(index);
        TIDMapItem item{77, 77};
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { map.GetItem(index, item); }),
                    StartsWith("Map index out of range (BinIDs.cpp, line "));
        EXPECT_EQ(item.OldID, 77);
    }
}

} // namespace
