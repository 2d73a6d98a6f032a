// Tests of the change engine driven through a host without a display: the
// frame of a run, modes 0 and 3 end to end on the SQLite test driver and on
// the Paradox driver (the pair in two folders and in one), the backup
// question, the new-identifier rule, the transaction wrappers, the result
// texts and the log helpers.
#include "Tools/Parvane/ChangeEngine.h"

#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Tools/Parvane/ChangeLogs.h"
#include "Tools/Parvane/SysObjectChanges.h"
#include "Tools/Parvane/ChangeRoutines.h"
#include "Tools/Parvane/ItemTransactions.h"
#include "platform/rtl/Exceptions.h"
#include "tests/Tools/Parvane/EngineTestSupport.h"
#include "tests/support/FaultyUdb.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/TestHelpers.h"
#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using testing_support::RaisedMessage;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr BinID G(std::uint64_t group, std::uint64_t number) { return static_cast<BinID>((group << 32) | number); }

// Records what the engine asks of the window.
class TTestHost : public IChangeHost {
public:
    std::vector<std::string> log;
    bool logEnabled = true;
    std::vector<std::string> calls;
    bool backupAnswer = true;
    std::function<bool(IUdb&, TVelmoSysObjectList&)> select = [](IUdb&, TVelmoSysObjectList&) { return false; };
    std::function<void()> onAskBackup;

    void WriteLog(const std::string& entry) override
    {
        if (logEnabled) log.push_back(entry);
    }
    bool LogEnabled() override { return logEnabled; }
    void StartProgress(const std::string& text, std::int32_t maximum) override
    {
        calls.push_back("StartProgress " + text + " " + std::to_string(maximum));
    }
    void StepProgress(const std::string& text, std::int32_t delta) override
    {
        calls.push_back("StepProgress " + text + " " + std::to_string(delta));
    }
    void TickSpinner(bool) override {}
    void EndProgress() override { calls.push_back("EndProgress"); }
    bool AskBackup(const std::string& text) override
    {
        calls.push_back("AskBackup " + text);
        if (onAskBackup) onAskBackup();
        return backupAnswer;
    }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        calls.push_back("Message [" + caption + "] " + text);
    }
    bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) override
    {
        calls.push_back("SelectSystemObjects");
        return select(db, list);
    }
    bool SelectLayers(IUdb& db, TVelmoSysObjectList& list) override
    {
        calls.push_back("SelectLayers");
        return select(db, list);
    }
    void ShowReport(const std::string& html) override { calls.push_back("Report " + html); }
};

const char* const kGuid1 = "{11111111-1111-1111-1111-111111111111}";
const char* const kGuid3 = "{33333333-3333-3333-3333-333333333333}";
const char* const kGuid4 = "{44444444-4444-4444-4444-444444444444}";

TVelmoDesc BaseDesc(std::int32_t number)
{
    return TVelmoDesc()
        .Counter(1, number)
        .Space(1, kGuid1)
        .Space(3, kGuid3)
        .Space(4, kGuid4)
        .Pref("NOID", "NOID", "NOID", "SERVERID", "server")
        .Pref("NOID", "NOID", "NOID", "OTHER", "kept")
        .Pref(Id(1, 5), "NOID", "NOID", "SERVERID", "user's own");
}

TRows Prefs(IUdb& db) { return ReadRows(db, "VELMO_PREFS", {"USERID", "KEYNAME"}); }
const TRows kPrefsAfterReset = {{"000100000005", "SERVERID"}, {"NOID", "OTHER"}};

// The log of a run without its start line's time.
std::vector<std::string> LogShape(const std::vector<std::string>& log)
{
    std::vector<std::string> shape;
    const std::regex start("^Начало процесса: \\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}$");
    for (const std::string& entry : log) shape.push_back(std::regex_match(entry, start) ? "<start>" : entry);
    return shape;
}

bool IsGuid(const std::string& text)
{
    return std::regex_match(text, std::regex("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"));
}

// ---- mode 0 ----------------------------------------------------------------------------

TEST(ChangeEngineMode0, CurrentGroupUnusedOpensNoSpaceButResetsThePreference)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(BaseDesc(1000));
        TTestHost host;
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmChangeGenerator, false, false});
        engine.CloseDatabases();

        EXPECT_THAT(LogShape(host.log), ElementsAre("", "<start>", "Процесс завершен"));
        EXPECT_THAT(host.calls, ElementsAre("Message [] Генератор изменен"));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"1", "1000"}}));
        EXPECT_EQ(CountRows(*pair->Spatial(), "VELMO_IDMAPER"), 3);
        EXPECT_EQ(Prefs(*pair->Spatial()), kPrefsAfterReset);
    }
}

TEST(ChangeEngineMode0, UsedGroupOpensTheSmallestFreeSpace)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(BaseDesc(5000));
        TTestHost host;
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmChangeGenerator, false, false});
        engine.CloseDatabases();

        const TRows spaces = ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
        ASSERT_EQ(spaces.size(), 4u);
        EXPECT_EQ(spaces[1][0], "2");
        EXPECT_TRUE(IsGuid(spaces[1][1])) << spaces[1][1];
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"2", "1000"}}));
        EXPECT_THAT(LogShape(host.log),
                    ElementsAre("", "<start>", "Изменен текущий генератор идентификаторов на: 2  " + spaces[1][1],
                                "Процесс завершен"));
        EXPECT_EQ(Prefs(*pair->Spatial()), kPrefsAfterReset);
    }
}

TEST(ChangeEngineMode0, NewDatabaseIdComesFirstAndIsLogged)
{
    TVelmoDbPair pair(BaseDesc(1000));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    engine.Run({cmChangeGenerator, true, false});

    const std::string dbid = ReadRows(pair.Spatial(), "VELMO_DBINFO", {"DBID"})[0][0];
    EXPECT_TRUE(IsGuid(dbid)) << dbid;
    EXPECT_NE(dbid, TVelmoDesc().DbInfo->DbID);
    EXPECT_THAT(LogShape(host.log),
                ElementsAre("", "<start>", "Идентификатор базы сменен на \"" + dbid + "\"", "Процесс завершен"));
}

// ---- mode 3 ----------------------------------------------------------------------------

TEST(ChangeEngineMode3, EverySpaceGetsANewGuidInOneTransaction)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(BaseDesc(5000));
        TTestHost host;
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmGlobalIDs, false, false});

        const TRows spaces = ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
        ASSERT_EQ(spaces.size(), 3u);
        std::set<std::string> guids;
        for (const TRow& row : spaces) {
            EXPECT_TRUE(IsGuid(row[1])) << row[1];
            guids.insert(row[1]);
        }
        EXPECT_EQ(guids.size(), 3u);
        EXPECT_EQ(guids.count(kGuid1) + guids.count(kGuid3) + guids.count(kGuid4), 0u);
        EXPECT_THAT(LogShape(host.log),
                    ElementsAre("", "<start>", "Изменение глобальных идентификаторов",
                                std::string("\"") + kGuid1 + "\" -> \"" + spaces[0][1] + "\"",
                                std::string("\"") + kGuid3 + "\" -> \"" + spaces[1][1] + "\"",
                                std::string("\"") + kGuid4 + "\" -> \"" + spaces[2][1] + "\"", "Процесс завершен"));
        // No backup question, no progress, no identifier counted.
        EXPECT_THAT(host.calls, ElementsAre("Message [Операция завершена] Идентификаторы изменены"));
        EXPECT_EQ(engine.ChangedCount(), 0);
        EXPECT_EQ(Prefs(*pair->Spatial()), kPrefsAfterReset);
        // The counter is not touched.
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"1", "5000"}}));
    }
}

TEST(ChangeEngineMode3, SpacesWithoutOrWithRepeatedGuidsAreUpdatedByGroup)
{
    TVelmoDbPair pair(TVelmoDesc().Counter(1, 1000).Space(1, "").Space(2, kGuid1).Space(3, kGuid1));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    engine.Run({cmGlobalIDs, false, false});

    const TRows spaces = ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
    ASSERT_EQ(spaces.size(), 3u);
    for (const TRow& row : spaces) EXPECT_TRUE(IsGuid(row[1])) << row[1];
    EXPECT_NE(spaces[1][1], spaces[2][1]);
}

// A failure at any statement of the mode, or at its commit, leaves every old
// GUID in place and logs no pair line; a failure of the preference deletion
// alone does not fail the run. Faults are injected by a wrapper, so the same
// run fails the same way on every driver.
TEST(ChangeEngineMode3, AFailureAnywhereLeavesEveryOldGuid)
{
    const TRows oldSpaces = {{"1", kGuid1}, {"3", kGuid3}, {"4", kGuid4}};
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        bool succeeded = false;
        int failures = 0;
        for (int n = 1; !succeeded && n < 20; ++n) {
            SCOPED_TRACE("statement " + std::to_string(n));
            const auto pair = layout.make(BaseDesc(1000));
            const auto faulty = WrapFaulty(pair->Spatial());
            TTestHost host;
            TChangeEngine engine(host);
            engine.OpenDatabases(faulty, pair->Semantic());
            faulty->FailStatement(n);
            try {
                engine.Run({cmGlobalIDs, false, false});
                succeeded = true;
            } catch (const std::exception&) {
                ++failures;
                EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"}), oldSpaces);
                EXPECT_THAT(LogShape(host.log),
                            ElementsAre("", "<start>", "Изменение глобальных идентификаторов", "Процесс завершен"));
                EXPECT_FALSE(pair->Spatial()->InTransaction());
            }
            if (succeeded) {
                // The last statement is the preference deletion: its failure is ignored.
                EXPECT_EQ(CountRows(*pair->Spatial(), "VELMO_PREFS"), 3);
                EXPECT_NE(ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"}), oldSpaces);
            }
        }
        EXPECT_TRUE(succeeded);
        EXPECT_EQ(failures, 4); // the read and the three updates

        const auto pair = layout.make(BaseDesc(1000));
        const auto faulty = WrapFaulty(pair->Spatial());
        TTestHost host;
        TChangeEngine engine(host);
        engine.OpenDatabases(faulty, pair->Semantic());
        faulty->FailCommit(1);
        EXPECT_ANY_THROW(engine.Run({cmGlobalIDs, false, false}));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"}), oldSpaces);
        EXPECT_FALSE(pair->Spatial()->InTransaction());
    }
}

// ---- the frame of a run -----------------------------------------------------------------

TEST(ChangeEngineRun, BackupQuestionIsAskedUntilAnsweredYesForThePair)
{
    TVelmoDbPair pair(BaseDesc(1000));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    const std::string question = std::string("AskBackup ") + EngineText::BackupQuestion;

    struct Step {
        const char* name;
        int mode;
        bool answer;
        std::vector<std::string> calls;
    };
    const Step steps[] = {
        {"No ends the run quietly", cmSpatialObjects, false, {question}},
        {"asked again after No", cmSystemObjects, true, {question, "SelectSystemObjects"}},
        {"not asked after Yes", cmSpatialObjects, false, {"SelectLayers"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        host.calls.clear();
        host.log.clear();
        host.backupAnswer = step.answer;
        engine.Run({step.mode, false, false});
        EXPECT_EQ(host.calls, step.calls);
        EXPECT_THAT(LogShape(host.log), ElementsAre("", "<start>", "Процесс завершен"));
    }
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"1", "1000"}}));
    EXPECT_EQ(CountRows(pair.Spatial(), "VELMO_PREFS"), 3);

    // Another pair: asked again.
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    host.calls.clear();
    host.backupAnswer = true;
    engine.Run({cmSpatialObjects, false, false});
    EXPECT_EQ(host.calls, (std::vector<std::string>{question, "SelectLayers"}));
}

TEST(ChangeEngineRun, DatabaseIdChangesEvenWhenTheSelectionIsCancelled)
{
    TVelmoDbPair pair(BaseDesc(1000));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    engine.Run({cmSpatialObjects, true, false});
    const std::string dbid = ReadRows(pair.Spatial(), "VELMO_DBINFO", {"DBID"})[0][0];
    EXPECT_NE(dbid, TVelmoDesc().DbInfo->DbID);
    EXPECT_THAT(LogShape(host.log),
                ElementsAre("", "<start>", "Идентификатор базы сменен на \"" + dbid + "\"", "Процесс завершен"));
}

TEST(ChangeEngineRun, AnErrorEndsTheRunAndLeavesTheBusyState)
{
    TVelmoDbPair pair(BaseDesc(1000)); // the chosen area has no row
    TTestHost host;
    host.select = [](IUdb&, TVelmoSysObjectList& list) {
        list.AddNew(Id(1, 10), "Area", sokArea);
        return true;
    };
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { engine.Run({cmSystemObjects, false, false}); }),
              SysObjectText::OwnRowNotFound);
    EXPECT_EQ(host.calls.back(), "EndProgress");
    EXPECT_EQ(host.log.back(), "Процесс завершен");
    EXPECT_FALSE(engine.Running());

    EXPECT_THAT(RaisedMessage<rtl::Exception>([&] { engine.Run({7, false, false}); }),
                HasSubstr("Not implemented functionality"));
}

TEST(ChangeEngineRun, ARunIsNeverReenteredAndThePairStaysDuringIt)
{
    TVelmoDbPair pair(BaseDesc(1000));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    std::vector<std::string> refusals;
    host.onAskBackup = [&] {
        EXPECT_TRUE(engine.Running());
        refusals.push_back(RaisedMessage<rtl::Exception>([&] { engine.Run({cmGlobalIDs, false, false}); }));
        refusals.push_back(
            RaisedMessage<rtl::Exception>([&] { engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb()); }));
    };
    host.backupAnswer = false;
    engine.Run({cmSystemObjects, false, false});
    EXPECT_THAT(refusals, ElementsAre(EngineText::RunUnderWay, EngineText::RunUnderWay));
    EXPECT_TRUE(engine.IsOpen());
    EXPECT_FALSE(engine.Running());
}

TEST(ChangeEngineRun, ARunNeedsAnOpenPair)
{
    TTestHost host;
    TChangeEngine engine(host);
    EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { engine.Run({cmChangeGenerator, false, false}); }),
              "База данных не открыта");
    EXPECT_TRUE(host.log.empty());
}

// ---- attaching ---------------------------------------------------------------------------

TEST(ChangeEngineOpen, AttachReadsCaptionAndActiveGroupAndWritesTheCounterBackOnReopen)
{
    TVelmoDbPair pair(TVelmoDesc().Database("{DB}", "Карта города").Counter(5, 2000).Space(5, kGuid1));
    TTestHost host;
    TChangeEngine engine(host);
    EXPECT_EQ(engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb()), "Карта города");
    EXPECT_EQ(engine.ActiveIDGroup(), 5);
    EXPECT_TRUE(engine.IsOpen());
    bool changed = false;
    engine.NewIDs().NewIDFor(G(5, 1), changed); // reserves a block of 100
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"5", "2100"}}));
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"5", "2001"}}));
    engine.CloseDatabases();
    EXPECT_FALSE(engine.IsOpen());
}

TEST(ChangeEngineOpen, AFailedAttachKeepsNothing)
{
    TVelmoDbPair pair(TVelmoDesc().NoDbInfo());
    TTestHost host;
    TChangeEngine engine(host);
    dynamic_cast<TSqliteUdb&>(pair.Spatial()).FailStatementsContaining("VELMO_DBINFO");
    EXPECT_ANY_THROW(engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb()));
    EXPECT_FALSE(engine.IsOpen());
    EXPECT_EQ(engine.IDGenerator().Db(), nullptr);
}

// ---- the new-identifier rule ----------------------------------------------------------------

TEST(ChangeEngineNewID, OnlyTheActiveGroupAndNeverAMissingIdentifier)
{
    TVelmoDbPair pair(TVelmoDesc().Counter(5, 2000).Space(5, kGuid1));
    TTestHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.SpatialDb(), pair.SemanticDb());
    engine.Run({cmChangeGenerator, false, true}); // the lowest free group 1 is current now; options kept
    ASSERT_EQ(engine.IDGenerator().IDGroup(), 1);
    ASSERT_EQ(engine.ActiveIDGroup(), 5);

    struct Case {
        const char* name;
        BinID old;
        bool changed;
        BinID result;
    };
    const Case cases[] = {
        {"active group: the next identifier of the current group", G(5, 7), true, G(1, 1001)},
        {"other group: kept", G(7, 7), false, G(7, 7)},
        {"active group again", G(5, 8), true, G(1, 1002)},
        {"no identifier: kept", 0, false, 0},
    };
    for (const Case& c : cases) {
        bool changed = false;
        EXPECT_EQ(engine.NewIDs().NewIDFor(c.old, changed), c.result) << c.name;
        EXPECT_EQ(changed, c.changed) << c.name;
    }
    EXPECT_EQ(engine.ChangedCount(), 2);

    std::string text;
    bool changed = false;
    engine.NewIDs().NewIDStrFor("not an id", changed, text);
    EXPECT_FALSE(changed);
    EXPECT_EQ(text, "not an id");
    engine.NewIDs().NewIDStrFor("000500000009", changed, text);
    EXPECT_TRUE(changed);
    EXPECT_EQ(text, "0001000003EB");
}

// ---- transactions ----------------------------------------------------------------------------

TEST(ChangeEngineTransactions, RealOnEveryDriverAndTheCauseOfARollbackPassesOn)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(BaseDesc(1000));
        IUdb& db = *pair->Spatial();
        TIDGenerator generator;
        generator.Init(&db, 100);
        TItemTransactions transactions(db, *pair->Semantic(), generator);
        const auto insert = [&](const char* key) {
            InsertRow(db, "VELMO_PREFS",
                      {{"USERID", rtl::Variant("NOID")}, {"PROJECTID", rtl::Variant("NOID")},
                       {"OBJECTID", rtl::Variant("NOID")}, {"KEYNAME", rtl::Variant(key)}});
        };
        EXPECT_EQ(RaisedMessage<rtl::Exception>([&] {
                      transactions.InDbTransaction(db, [&] {
                          insert("GONE");
                          throw rtl::Exception("the cause");
                      });
                  }),
                  "the cause");
        EXPECT_FALSE(db.InTransaction());
        transactions.InDbTransaction(db, [&] { insert("KEPT"); });
        EXPECT_EQ(ReadValue(db, "VELMO_PREFS", "KEYNAME", "KEYNAME", "GONE").IsEmpty(), true);
        EXPECT_EQ(ReadValue(db, "VELMO_PREFS", "KEYNAME", "KEYNAME", "KEPT").IsEmpty(), false);
    }
}

TEST(ChangeEngineTransactions, TheGeneratorRewritesItsBoundAfterARollback)
{
    TVelmoDbPair pair(TVelmoDesc().Counter(1, 1000).Space(1, kGuid1));
    TIDGenerator generator;
    generator.Init(&pair.Spatial(), 100);
    TItemTransactions transactions(pair.Spatial(), pair.Semantic(), generator);
    EXPECT_ANY_THROW(transactions.InDbTransaction(pair.Spatial(), [&] {
        generator.Reserve(50);
        throw rtl::Exception("fail");
    }));
    EXPECT_FALSE(generator.RewritePending());
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"1", "1050"}}));
}

TEST(ChangeEngineTransactions, ParadoxDriverIsRecognisedByName)
{
    TVelmoDbPair sqlite(TVelmoDesc{});
    TVelmoDbPair pdox(TVelmoDesc{}, PdoxOpener());
    EXPECT_FALSE(TItemTransactions::IsParadoxDb(sqlite.Spatial()));
    EXPECT_TRUE(TItemTransactions::IsParadoxDb(pdox.Spatial()));
}

// ---- results and log helpers -------------------------------------------------------------------

TEST(ChangeEngineResult, TextsAndElapsedTime)
{
    using std::chrono::seconds;
    EXPECT_EQ(TChangeEngine::ResultText(false, 5, seconds(7)),
              "Операция завершена\r\nИзменено: 5\r\nПрошло времени: 0:00:07");
    EXPECT_EQ(TChangeEngine::ResultText(true, 0, seconds(3 * 3600 + 61)),
              "Операция прервана пользователем\r\nИзменено: 0\r\nПрошло времени: 3:01:01");
    EXPECT_EQ(TChangeEngine::FormatElapsed(seconds(25 * 3600)), "25:00:00");
    EXPECT_EQ(TChangeEngine::FormatElapsed(seconds(-5)), "0:00:00");
}

TEST(ChangeEngineLog, IdMapIsOneEntryInMapOrder)
{
    TTestHost host;
    TChangeLog log(host);
    TIDMapList map;
    log.LogIDMap(map);
    EXPECT_TRUE(host.log.empty());

    map.BeginUpdate(3, 1);
    map.AddMapping(G(1, 3), G(2, 1003), false);
    map.AddMapping(G(1, 1), G(2, 1001), false);
    map.AddMapping(G(1, 2), G(2, 1002), false);
    map.EndUpdate();
    log.LogIDMap(map);
    EXPECT_THAT(host.log, ElementsAre("\"000100000001\" -> \"0002000003E9\"\r\n"
                                      "\"000100000002\" -> \"0002000003EA\"\r\n"
                                      "\"000100000003\" -> \"0002000003EB\""));
    host.logEnabled = false;
    log.LogIDMap(map);
    log.LogIDChange("a", "b");
    EXPECT_EQ(host.log.size(), 1u);
}

TEST(ChangeEngineHelpers, RecordCountAndBlobs)
{
    TVelmoDbPair pair(BaseDesc(1000));
    EXPECT_EQ(RecordCount(pair.Spatial(), "VELMO_PREFS"), 3);
    EXPECT_EQ(RecordCount(pair.Spatial(), "VELMO_AREAS"), 0);
    EXPECT_ANY_THROW(RecordCount(pair.Spatial(), "X]; drop table [Y"));

    EXPECT_EQ(BlobToStr(rtl::Variant::Null()), "");
    const std::string bytes("\x00\x01\xFF", 3);
    const rtl::Variant blob = StrToBlob(bytes);
    ASSERT_TRUE(blob.IsByteArray());
    EXPECT_EQ(blob.AsBytes(), (rtl::ByteArray{0x00, 0x01, 0xFF}));
    EXPECT_EQ(BlobToStr(blob), bytes);
}

} // namespace
