// Tests of the identifier generator on a Velmo database pair, over the SQLite
// test driver, the Paradox driver and PostgreSQL: attaching, block reservations
// written at once, identifiers in order, new identifier spaces, the write-back
// at detach, and the rule that a number once handed out is never handed out
// again, also after a rolled-back transaction and after the program was
// killed. The tests that make statements fail need the SQLite driver's fault
// injection and run on it alone.
//
// "Writes nothing" is shown on SQLite by making every statement on the system
// tables fail for the duration: an operation that touched them would raise.
// On Paradox every file of the database's folder must stay as it was; on
// PostgreSQL every row version (a write makes a new one, same values or not).
// Expected identifiers are written as (group << 32) | number by hand.
#include "Tools/Parvane/IDGenerators.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"
#include "tests/support/AdoTestSkip.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
const char* const kNotInitialized = "IDGenerator not initialized";

constexpr BinID G(std::uint64_t group, std::uint64_t number) { return static_cast<BinID>((group << 32) | number); }
std::uint32_t GroupOf(BinID id) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(id) >> 32); }
std::uint32_t NumberOf(BinID id) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(id) & 0xFFFFFFFFu); }

TSqliteUdb& Sqlite(IUdb& db) { return dynamic_cast<TSqliteUdb&>(db); }

TRows DbCounter(IUdb& db) { return ReadRows(db, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}); }
TRows Spaces(IUdb& db) { return ReadRows(db, "VELMO_IDMAPER", {"IDCLASS", "LOCALID", "GLOBALID"}); }

// Every file of a folder with its bytes.
std::map<std::string, std::string> FolderBytes(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) files[entry.path().filename().string()] = rtl::ReadFileBytes(entry.path().string());
    return files;
}

// The folder of a Paradox database, from its engine database's PATH line.
std::string PdoxFolderOf(TBDEUdb& db)
{
    constexpr std::string_view kPath = "PATH=";
    for (const std::string& line : db.Database().Params())
        if (line.starts_with(kPath)) return line.substr(kPath.size());
    ADD_FAILURE() << "no PATH line";
    return {};
}

// f runs while every statement on the system tables fails (SQLite), leaves
// every row version as it was (PostgreSQL), or leaves every file of the
// database as it was (Paradox).
void ExpectNoStatements(IUdb& db, const std::function<void()>& f)
{
    if (auto* sqlite = dynamic_cast<TSqliteUdb*>(&db)) {
        sqlite->FailStatementsContaining("VELMO_");
        EXPECT_NO_THROW(f());
        sqlite->ClearFaults();
    } else if (IsPgTestDb(db)) {
        const std::string before = PgRowVersions(db);
        EXPECT_NO_THROW(f());
        EXPECT_EQ(PgRowVersions(db), before);
    } else {
        const std::string folder = PdoxFolderOf(dynamic_cast<TBDEUdb&>(db));
        const auto before = FolderBytes(folder);
        EXPECT_NO_THROW(f());
        EXPECT_TRUE(FolderBytes(folder) == before) << "files of " << folder << " changed";
    }
}

template <class E = rtl::Exception>
std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("unexpected exception: ") + e.what();
    }
    return "nothing raised";
}

// A driver the generator runs on; FaultInjection: statements can be made to fail.
struct TGeneratorDriver {
    const char* Name;
    TUdbOpener (*Opener)();
    bool FaultInjection;
};

void PrintTo(const TGeneratorDriver& driver, std::ostream* os) { *os << driver.Name; }

const TGeneratorDriver kSqlite = {"Sqlite", &SqliteOpener, true};
const TGeneratorDriver kParadox = {"Paradox", &PdoxOpener, false};
const TGeneratorDriver kPostgres = {"PostgreSQL", &PgOpenerOrSkip, false};

std::string DriverName(const testing::TestParamInfo<TGeneratorDriver>& info) { return info.param.Name; }

// A pair with counter (3, 5000) and the spaces 1 and 3 on the driver under
// test, and a generator on it.
class GeneratorTest : public testing::TestWithParam<TGeneratorDriver> {
protected:
    explicit GeneratorTest(TVelmoDesc desc = TVelmoDesc().Counter(3, 5000).Space(1, "{S1}").Space(3, "{S3}"))
        : db(desc, Opener())
    {
    }
    static TUdbOpener Opener() { return GetParam().Opener(); }
    IUdb& Db() { return db.Spatial(); }
    void Attach(std::uint16_t blockSize = 100) { gen.Init(db.SpatialDb().get(), blockSize); }

    TVelmoDbPair db;
    TIDGenerator gen;
};

// The groups of behaviour, all on the same fixture; GeneratorFaults holds the
// tests that make statements or commits fail.
using GeneratorInit = GeneratorTest;
using GeneratorReserve = GeneratorTest;
using GeneratorSwitch = GeneratorTest;
using GeneratorDone = GeneratorTest;
using GeneratorNoReuse = GeneratorTest;
using GeneratorFaults = GeneratorTest;

// ---- attaching ----------------------------------------------------------------------------

TEST_P(GeneratorInit, InitReadsGroupNumberAndSpacesInCursorOrder)
{
    EXPECT_EQ(gen.BlockSize(), 1);
    Attach(100);
    EXPECT_EQ(gen.Db(), db.SpatialDb().get());
    EXPECT_EQ(gen.IDGroup(), 3);
    EXPECT_EQ(gen.IDNumber(), 5000);
    EXPECT_EQ(gen.Reserved(), 5000);
    EXPECT_EQ(gen.BlockSize(), 100);
    EXPECT_EQ(gen.IDSpaces(), (std::vector<TIDSpace>{{1, "{S1}"}, {3, "{S3}"}}));
    EXPECT_TRUE(gen.IsLocalIDUsed(1));
    EXPECT_TRUE(gen.IsLocalIDUsed(3));
    EXPECT_FALSE(gen.IsLocalIDUsed(2));
    EXPECT_FALSE(gen.RewritePending());
}

TEST_P(GeneratorInit, NullCounterColumnsReadAsZero)
{
    TVelmoDbPair pair(TVelmoDesc().NoDbInfo().Row("VELMO_DBINFO", {{"DBID", rtl::Variant("{X}")}}), Opener());
    TIDGenerator g;
    g.Init(pair.SpatialDb().get(), 7);
    EXPECT_EQ(g.IDGroup(), 0);
    EXPECT_EQ(g.IDNumber(), 0);
    EXPECT_TRUE(g.IDSpaces().empty());
}

TEST_P(GeneratorInit, BlockSizeZeroBecomesOne)
{
    Attach(0);
    EXPECT_EQ(gen.BlockSize(), 1);
    gen.SetBlockSize(0);
    EXPECT_EQ(gen.BlockSize(), 1);
    gen.SetBlockSize(65535);
    EXPECT_EQ(gen.BlockSize(), 65535);
}

TEST_P(GeneratorInit, InitWithoutDatabaseDoesNothingAtAll)
{
    Attach(100);
    gen.NextID();
    gen.Init(nullptr, 5);
    EXPECT_EQ(gen.Db(), db.SpatialDb().get());
    EXPECT_EQ(gen.BlockSize(), 100);
    EXPECT_EQ(gen.IDNumber(), 5001);
}

TEST_P(GeneratorInit, AttachingAgainReplacesTheStateReadBefore)
{
    Attach();
    TVelmoDbPair other(TVelmoDesc().Counter(8, 80).Space(8, "{S8}"), Opener());
    gen.Init(other.SpatialDb().get(), 10);
    EXPECT_EQ(gen.IDGroup(), 8);
    EXPECT_EQ(gen.IDNumber(), 80);
    EXPECT_EQ(gen.IDSpaces(), (std::vector<TIDSpace>{{8, "{S8}"}}));
}

// A failed attach leaves the generator detached: nothing is issued and Done
// writes neither the old database's counter nor anything else anywhere.
TEST_P(GeneratorFaults, FailedInitLeavesTheGeneratorDetached)
{
    const struct {
        const char* name;
        int failingStatement; // 1: the counter read, 2: the spaces read
    } kCases[] = {{"counter read fails", 1}, {"spaces read fails", 2}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDbPair pair(TVelmoDesc().Counter(3, 5000).Space(3, "{S3}"), Opener());
        TIDGenerator g;
        g.Init(pair.SpatialDb().get(), 100);
        EXPECT_EQ(g.NextID(), G(3, 5001));

        TVelmoDbPair other(TVelmoDesc().Counter(7, 700).Space(7, "{S7}"), Opener());
        Sqlite(other.Spatial()).FailStatement(c.failingStatement);
        EXPECT_THROW(g.Init(other.SpatialDb().get(), 100), EUdbException);
        EXPECT_EQ(g.Db(), nullptr);
        EXPECT_TRUE(g.IDSpaces().empty());
        EXPECT_FALSE(g.RewritePending());
        EXPECT_EQ(ErrorOf([&] { g.NextID(); }), kNotInitialized);

        ExpectNoStatements(pair.Spatial(), [&] { g.Done(); });
        EXPECT_EQ(DbCounter(other.Spatial()), (TRows{{"7", "700"}}));
        EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{"3", "5100"}}));
    }
}

TEST_P(GeneratorInit, DbInfoWithoutItsRowFailsTheAttach)
{
    TVelmoDbPair pair(TVelmoDesc().NoDbInfo(), Opener());
    TIDGenerator g;
    EXPECT_THROW(g.Init(pair.SpatialDb().get(), 100), EUdbException);
    EXPECT_EQ(g.Db(), nullptr);
}

// ---- reserving and issuing ----------------------------------------------------------------

TEST_P(GeneratorReserve, FirstNextIdReservesABlockAndTheNextOnesOnlyCount)
{
    Attach(100);
    EXPECT_EQ(gen.NextID(), G(3, 5001));
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5100"}}));
    ExpectNoStatements(Db(), [&] {
        for (std::uint64_t n = 5002; n <= 5100; ++n) ASSERT_EQ(gen.NextID(), G(3, n));
    });
    EXPECT_EQ(gen.NextID(), G(3, 5101));
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5200"}}));
    EXPECT_EQ(gen.Reserved(), 5200);
    EXPECT_EQ(gen.IDNumber(), 5101);
}

TEST_P(GeneratorReserve, ReserveWritesTheNewBoundAtOnce)
{
    Attach(100);
    EXPECT_EQ(gen.Reserve(50), 50);
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5050"}}));
    ExpectNoStatements(Db(), [&] {
        for (int i = 0; i < 50; ++i) gen.NextID();
    });
    EXPECT_EQ(gen.NextID(), G(3, 5051));
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5150"}}));
}

// Many batches of a large count reach past the largest number: the bound
// stops there instead of overflowing.
TEST_P(GeneratorReserve, ReserveAheadOfManyBatchesStopsAtTheLargestNumber)
{
    Attach(100);
    EXPECT_EQ(gen.ReserveAhead(1 << 20, 4096), 2147483647 - 5000);
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "2147483647"}}));
}

TEST_P(GeneratorReserve, ReserveWithEnoughLeftWritesNothingAndTellsWhatIsLeft)
{
    Attach(100);
    gen.Reserve(30);
    gen.NextID();
    ExpectNoStatements(Db(), [&] { EXPECT_EQ(gen.Reserve(29), 29); });
    ExpectNoStatements(Db(), [&] { EXPECT_EQ(gen.Reserve(1), 29); });
    // Asking for more reserves only the missing part.
    EXPECT_EQ(gen.Reserve(40), 40);
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5041"}}));
}

TEST_P(GeneratorReserve, BoundStopsAtTheLargestNumber)
{
    const struct {
        const char* name;
        std::int32_t start;
        std::int32_t count;
        std::int32_t result;
        const char* bound;
    } kCases[] = {
        {"need carries past the largest number", kMax - 10, 50, 10, "2147483647"},
        {"need reaches it exactly", kMax - 10, 10, 10, "2147483647"},
        {"need stops one short", kMax - 10, 9, 9, "2147483646"},
        {"largest count from zero", 0, kMax, kMax, "2147483647"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDbPair pair(TVelmoDesc().Counter(3, c.start).Space(3, "{S3}"), Opener());
        TIDGenerator g;
        g.Init(pair.SpatialDb().get(), 100);
        EXPECT_EQ(g.Reserve(c.count), c.result);
        EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{"3", c.bound}}));
        EXPECT_EQ(g.IDGroup(), 3);
    }
}

TEST_P(GeneratorReserve, NumbersRunOutIntoANewIdentifierSpace)
{
    TVelmoDbPair pair(TVelmoDesc().Counter(3, kMax - 1).Space(1, "{S1}").Space(3, "{S3}"), Opener());
    TIDGenerator g;
    g.Init(pair.SpatialDb().get(), 100);
    EXPECT_EQ(g.NextID(), G(3, 2147483647u)); // the last number of the group
    // Reserved is at the largest number: the next reservation opens space 2 first.
    EXPECT_EQ(g.Reserve(5), 5);
    EXPECT_EQ(g.IDGroup(), 2);
    EXPECT_EQ(g.IDNumber(), 1000);
    EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{"2", "1005"}}));
    EXPECT_EQ(Spaces(pair.Spatial()).size(), 3u);
    EXPECT_EQ(g.NextID(), G(2, 1001));
}

TEST_P(GeneratorReserve, CountBelowOneIsABrokenPrecondition)
{
    Attach();
    for (const std::int32_t count : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_THAT(ErrorOf<rtl::EAssertionFailed>([&] { gen.Reserve(count); }),
                    StartsWith("anIDCount = 0 (IDGenerators.cpp, line "))
            << count;
    }
    EXPECT_EQ(gen.Reserved(), 5000);
}

TEST_P(GeneratorReserve, DetachedOrClosedGeneratorIssuesNothing)
{
    const struct {
        const char* name;
        std::function<void(TIDGenerator&, TVelmoDbPair&)> prepare;
    } kCases[] = {
        {"never attached", [](TIDGenerator&, TVelmoDbPair&) {}},
        {"after Done",
         [](TIDGenerator& g, TVelmoDbPair& pair) {
             g.Init(pair.SpatialDb().get(), 100);
             g.NextID();
             g.Done();
         }},
        {"database closed with numbers left",
         [](TIDGenerator& g, TVelmoDbPair& pair) {
             g.Init(pair.SpatialDb().get(), 100);
             g.NextID();
             pair.Spatial().Close();
         }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDbPair pair(TVelmoDesc().Counter(3, 5000).Space(3, "{S3}"), Opener());
        TIDGenerator g;
        c.prepare(g, pair);
        EXPECT_EQ(ErrorOf([&] { g.NextID(); }), kNotInitialized);
        EXPECT_EQ(ErrorOf([&] { g.Reserve(1); }), kNotInitialized);
        EXPECT_EQ(ErrorOf([&] { g.WriteCounter(3, 1); }), kNotInitialized);
        std::string guid = "untouched";
        EXPECT_EQ(ErrorOf([&] { g.SwitchIDSpace(true, guid); }), kNotInitialized);
        EXPECT_EQ(guid, "");
        EXPECT_NO_THROW(g.Done());
    }
}

// ---- identifier spaces ----------------------------------------------------------------------

TEST_P(GeneratorSwitch, NewSpaceTakesTheLowestFreeGroupANewGuidAndStartsAtOneThousand)
{
    const struct {
        const char* name;
        std::vector<std::int32_t> groups;
        std::int32_t expected;
    } kCases[] = {
        {"gap in the middle", {1, 2, 4}, 3},
        {"no gap", {1, 2, 3}, 4},
        {"no space at all", {}, 1},
        {"first group free", {2, 3}, 1},
        {"unordered rows", {4, 1, 3}, 2},
        {"groups below one are not in the way", {0, -5, 1}, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDesc desc = TVelmoDesc().Counter(c.groups.empty() ? 0 : c.groups.front(), 4000);
        for (const std::int32_t group : c.groups) desc.Space(group, "{G" + rtl::IntToStr(group) + "}");
        TVelmoDbPair pair(desc, Opener());
        TIDGenerator g;
        g.Init(pair.SpatialDb().get(), 100);

        std::string guid;
        g.SwitchIDSpace(false, guid);
        ASSERT_EQ(guid.size(), 38u);
        EXPECT_EQ(rtl::GuidToString(rtl::StringToGuid(guid)), guid); // braced, upper case
        EXPECT_EQ(g.IDGroup(), c.expected);
        EXPECT_EQ(g.IDNumber(), 1000);
        EXPECT_EQ(g.Reserved(), 1000);
        EXPECT_EQ(g.IDSpaces().back(), (TIDSpace{c.expected, guid}));
        EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{rtl::IntToStr(c.expected), "1000"}}));
        const TRows rows = ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"IDCLASS", "LOCALID", "GLOBALID"});
        EXPECT_EQ(rows.size(), c.groups.size() + 1);
        EXPECT_THAT(rows, testing::Contains(TRow{"0", rtl::IntToStr(c.expected), guid}));

        // The first identifier of the new space is 1001, reserved by the block size.
        EXPECT_EQ(g.NextID(), G(static_cast<std::uint64_t>(c.expected), 1001));
        EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{rtl::IntToStr(c.expected), "1100"}}));
    }
}

TEST_P(GeneratorSwitch, SwitchOnAnUnusedGroupDoesNothingUnlessForced)
{
    TVelmoDbPair fresh(TVelmoDesc().Counter(3, 1000).Space(3, "{S3}"), Opener());
    TIDGenerator g;
    g.Init(fresh.SpatialDb().get(), 100);
    std::string guid = "untouched";
    ExpectNoStatements(fresh.Spatial(), [&] { g.SwitchIDSpace(false, guid); });
    EXPECT_EQ(guid, "");
    EXPECT_EQ(g.IDGroup(), 3);

    g.SwitchIDSpace(true, guid);
    EXPECT_EQ(g.IDGroup(), 1);
    EXPECT_EQ(guid.size(), 38u);
}

TEST_P(GeneratorSwitch, EverySwitchOpensAnotherGroupWithAnotherGuid)
{
    Attach();
    std::set<std::string> guids = {"{S1}", "{S3}"};
    std::vector<std::int32_t> groups;
    for (int i = 0; i < 3; ++i) {
        std::string guid;
        gen.SwitchIDSpace(true, guid);
        EXPECT_TRUE(guids.insert(guid).second) << guid;
        groups.push_back(gen.IDGroup());
    }
    EXPECT_EQ(groups, (std::vector<std::int32_t>{2, 4, 5}));
    EXPECT_EQ(Spaces(Db()).size(), 5u);
}

TEST_P(GeneratorFaults, FailedCounterUpdateOfASwitchKeepsTheInsertedSpaceAndTheOldCounters)
{
    Attach();
    gen.NextID();
    Sqlite(Db()).FailStatementsContaining("UPDATE");
    std::string guid;
    EXPECT_THROW(gen.SwitchIDSpace(false, guid), EUdbException);
    Sqlite(Db()).ClearFaults();
    EXPECT_EQ(gen.IDGroup(), 3);
    EXPECT_EQ(gen.IDNumber(), 5001);
    EXPECT_EQ(gen.Reserved(), 5100);
    EXPECT_TRUE(gen.IsLocalIDUsed(2));
    EXPECT_EQ(Spaces(Db()).size(), 3u);
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5100"}}));
    // The next switch does not take the group of the space left behind.
    gen.SwitchIDSpace(false, guid);
    EXPECT_EQ(gen.IDGroup(), 4);
}

TEST_P(GeneratorSwitch, GroupBeyondSixteenBitsIsRefused)
{
    const struct {
        const char* name;
        std::int32_t spaces; // groups 1..spaces in use
        bool refused;
    } kCases[] = {{"last free group is 65535", 65534, false}, {"every group is taken", 65535, true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDesc desc = TVelmoDesc().Counter(1, 5000);
        for (std::int32_t group = 1; group <= c.spaces; ++group) desc.Space(group, "{G" + rtl::IntToStr(group) + "}");
        TVelmoDbPair pair(desc, Opener());
        TIDGenerator g;
        g.Init(pair.SpatialDb().get(), 100);
        g.NextID();
        std::string guid;
        if (c.refused) {
            EXPECT_THAT(ErrorOf([&] { g.SwitchIDSpace(false, guid); }), HasSubstr("65535"));
            EXPECT_EQ(guid, "");
            EXPECT_EQ(g.IDGroup(), 1);
            EXPECT_EQ(CountRows(pair.Spatial(), "VELMO_IDMAPER"), c.spaces);
            EXPECT_EQ(DbCounter(pair.Spatial()), (TRows{{"1", "5100"}}));
            EXPECT_EQ(g.NextID(), G(1, 5002));
        } else {
            g.SwitchIDSpace(false, guid);
            EXPECT_EQ(g.IDGroup(), 65535);
            EXPECT_EQ(g.NextID(), G(65535, 1001));
        }
    }
}

// ---- detaching ------------------------------------------------------------------------------

TEST_P(GeneratorDone, DoneWritesBackGroupAndLastIssuedNumber)
{
    Attach(100);
    EXPECT_EQ(gen.NextID(), G(3, 5001));
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5100"}}));
    gen.Done();
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5001"}}));
    EXPECT_EQ(gen.Db(), nullptr);
    EXPECT_TRUE(gen.IDSpaces().empty());

    // The unissued numbers are free again.
    TIDGenerator next;
    next.Init(db.SpatialDb().get(), 100);
    EXPECT_EQ(next.NextID(), G(3, 5002));
}

TEST_P(GeneratorDone, DoneAfterASwitchWritesTheNewGroup)
{
    Attach(100);
    gen.NextID();
    std::string guid;
    gen.SwitchIDSpace(false, guid);
    gen.NextID();
    gen.NextID();
    gen.Done();
    EXPECT_EQ(DbCounter(Db()), (TRows{{"2", "1002"}}));
}

TEST_P(GeneratorFaults, DoneNeverFailsAndDetachesAllTheSame)
{
    Attach();
    gen.NextID();
    Sqlite(Db()).FailStatement(1);
    EXPECT_NO_THROW(gen.Done());
    EXPECT_EQ(gen.Db(), nullptr);
    EXPECT_EQ(DbCounter(Db()), (TRows{{"3", "5100"}})); // the bound written before stays
    ExpectNoStatements(Db(), [&] { gen.Done(); });

    Attach();
    Db().Close();
    EXPECT_NO_THROW(gen.Done());
    EXPECT_EQ(gen.Db(), nullptr);
}

TEST_P(GeneratorDone, DoneOnAClosedDatabaseDetaches)
{
    Attach();
    gen.NextID();
    Db().Close();
    EXPECT_NO_THROW(gen.Done());
    EXPECT_EQ(gen.Db(), nullptr);
    EXPECT_TRUE(gen.IDSpaces().empty());
}

// ---- no number is handed out twice ------------------------------------------------------------

// After the scenario, the generator is dropped without Done (the program is
// killed) and a fresh one is opened on the same files: its first identifier
// lies above every one handed out in the same group, and every group handed
// out from is a known space (so no later switch can take it again).
void ExpectNoReuse(TVelmoDbPair& db, const std::vector<BinID>& handedOut)
{
    db.Reopen();
    TIDGenerator fresh;
    fresh.Init(db.SpatialDb().get(), 100);
    const BinID next = fresh.NextID();
    for (const BinID id : handedOut) {
        EXPECT_TRUE(fresh.IsLocalIDUsed(static_cast<std::int32_t>(GroupOf(id)))) << "group " << GroupOf(id);
        if (GroupOf(id) == GroupOf(next)) {
            EXPECT_GT(NumberOf(next), NumberOf(id)) << "number " << NumberOf(id);
        }
    }
    fresh.Done();
}

TEST_P(GeneratorNoReuse, NumbersHandedOutAreNeverHandedOutAgain)
{
    struct Case {
        const char* name;
        // Runs on the attached generator (counter 3, 5000; block 10) and
        // returns the identifiers it handed out.
        std::function<std::vector<BinID>(TIDGenerator&, IUdb&)> run;
        // The case makes a statement or a commit fail.
        bool injectsFaults = false;
    };
    const auto issue = [](TIDGenerator& g, int n, std::vector<BinID>& out) {
        for (int i = 0; i < n; ++i) out.push_back(g.NextID());
    };
    const Case kCases[] = {
        {"reservation outside any transaction",
         [&](TIDGenerator& g, IUdb&) {
             std::vector<BinID> out;
             issue(g, 3, out);
             return out;
         }},
        {"reservation in a rolled-back transaction, rewritten at its end",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             issue(g, 3, out);
             spatial.Rollback();
             EXPECT_EQ(DbCounter(spatial), (TRows{{"3", "5000"}})); // what the rollback left
             g.TransactionEnded();
             EXPECT_EQ(DbCounter(spatial), (TRows{{"3", "5010"}}));
             EXPECT_FALSE(g.RewritePending());
             return out;
         }},
        {"reservation in a rolled-back transaction, rewritten by the next NextID",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             issue(g, 3, out);
             spatial.Rollback();
             EXPECT_TRUE(g.RewritePending());
             issue(g, 1, out);
             EXPECT_EQ(DbCounter(spatial), (TRows{{"3", "5010"}}));
             return out;
         }},
        {"nested transaction: rewritten only after the outermost end",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             spatial.StartTransaction();
             issue(g, 12, out); // two reservations inside
             spatial.Commit();
             ExpectNoStatements(spatial, [&] { g.TransactionEnded(); });
             EXPECT_TRUE(g.RewritePending());
             spatial.Rollback();
             g.TransactionEnded();
             EXPECT_EQ(DbCounter(spatial), (TRows{{"3", "5020"}}));
             return out;
         }},
        {"commit that fails and is rolled back",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             issue(g, 3, out);
             Sqlite(spatial).FailNextCommit();
             EXPECT_THROW(spatial.Commit(), EUdbException);
             spatial.Rollback();
             g.TransactionEnded();
             return out;
         },
         true},
        {"committed transaction",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             issue(g, 3, out);
             spatial.Commit();
             g.TransactionEnded();
             EXPECT_EQ(Spaces(spatial).size(), 2u);
             return out;
         }},
        {"switch in a rolled-back transaction, rewritten at its end",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             issue(g, 1, out);
             spatial.StartTransaction();
             std::string guid;
             g.SwitchIDSpace(false, guid);
             issue(g, 3, out);
             spatial.Rollback();
             EXPECT_EQ(Spaces(spatial).size(), 2u); // the new space went with the rollback
             g.TransactionEnded();
             EXPECT_THAT(Spaces(spatial), testing::Contains(TRow{"0", "2", guid}));
             EXPECT_EQ(DbCounter(spatial), (TRows{{"2", "1010"}}));
             return out;
         }},
        {"switch committed, then a reservation in a rolled-back transaction",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             std::string guid;
             g.SwitchIDSpace(true, guid);
             spatial.Commit();
             g.TransactionEnded();
             EXPECT_EQ(Spaces(spatial).size(), 3u); // present: not inserted twice
             spatial.StartTransaction();
             issue(g, 3, out);
             spatial.Rollback();
             g.TransactionEnded();
             return out;
         }},
        {"switch in a rolled-back transaction, then Done",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             std::string guid;
             g.SwitchIDSpace(true, guid);
             issue(g, 2, out);
             spatial.Rollback();
             g.Done();
             EXPECT_THAT(Spaces(spatial), testing::Contains(TRow{"0", "2", guid}));
             EXPECT_EQ(DbCounter(spatial), (TRows{{"2", "1002"}}));
             return out;
         }},
        {"rewrite that fails is tried again",
         [&](TIDGenerator& g, IUdb& spatial) {
             std::vector<BinID> out;
             spatial.StartTransaction();
             issue(g, 3, out);
             spatial.Rollback();
             Sqlite(spatial).FailStatement(1);
             EXPECT_THROW(g.TransactionEnded(), EUdbException);
             EXPECT_TRUE(g.RewritePending());
             EXPECT_EQ(DbCounter(spatial), (TRows{{"3", "5000"}}));
             g.TransactionEnded();
             EXPECT_FALSE(g.RewritePending());
             return out;
         },
         true},
    };
    for (const Case& c : kCases) {
        if (c.injectsFaults && !GetParam().FaultInjection) continue;
        SCOPED_TRACE(c.name);
        TVelmoDbPair pair(TVelmoDesc().Counter(3, 5000).Space(1, "{S1}").Space(3, "{S3}"), Opener());
        std::vector<BinID> handedOut;
        {
            auto g = std::make_unique<TIDGenerator>();
            g->Init(pair.SpatialDb().get(), 10);
            handedOut = c.run(*g, pair.Spatial());
            // Dropped without Done.
        }
        ExpectNoReuse(pair, handedOut);
    }
}

TEST_P(GeneratorNoReuse, TransactionEndedWithNothingPendingWritesNothing)
{
    Attach();
    gen.NextID();
    ExpectNoStatements(Db(), [&] { gen.TransactionEnded(); });
    TIDGenerator detached;
    EXPECT_NO_THROW(detached.TransactionEnded());
}

INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorInit, testing::Values(kSqlite, kParadox, kPostgres), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorReserve, testing::Values(kSqlite, kParadox, kPostgres), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorSwitch, testing::Values(kSqlite, kParadox, kPostgres), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorDone, testing::Values(kSqlite, kParadox, kPostgres), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorNoReuse, testing::Values(kSqlite, kParadox, kPostgres), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, GeneratorFaults, testing::Values(kSqlite), DriverName);

} // namespace
