// Tests of the fault-injecting database wrapper on the SQLite test driver and
// on the Paradox driver: the Nth execution and executions holding a piece fail
// without reaching the database while the others run, an outermost commit
// fails leaving the transaction open, and inner commits of nested
// transactions are neither counted nor failed.
#include "tests/support/FaultyUdb.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/TestHelpers.h"
#include "tests/support/VelmoFixture.h"
#include "tests/support/tests/SqliteTestFixture.h"

namespace {

using namespace velmotest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using rtl::Variant;
using testing_support::RaisedMessage;

constexpr const char* kStatementFailure = "Injected failure of a statement execution";
constexpr const char* kCommitFailure = "Injected failure of a commit";

struct TDriver {
    const char* Name;
    TUdbOpener (*Opener)();
};

void PrintTo(const TDriver& driver, std::ostream* os) { *os << driver.Name; }

std::string DriverName(const ::testing::TestParamInfo<TDriver>& info) { return info.param.Name; }

const TDriver kDrivers[] = {{"Sqlite", &SqliteOpener}, {"Paradox", &PdoxOpener}};

// The spatial database of a Velmo pair behind a wrapper; rows are read back
// through the inner database, so reading counts no execution.
class FaultyUdbTest : public ::testing::TestWithParam<TDriver> {
protected:
    FaultyUdbTest() : pair(GetParam().Opener()), db(WrapFaulty(pair.SpatialDb())) {}

    void AddArea(IUdb& target, const std::string& id) { InsertRow(target, "VELMO_AREAS", {{"ID", Variant(id)}}); }
    std::string AddAreaError(const std::string& id)
    {
        return RaisedMessage<EUdbException>([&] { AddArea(*db, id); });
    }
    TRows Areas() const { return ReadRows(pair.Spatial(), "VELMO_AREAS", {"ID"}); }

    TVelmoDbPair pair;
    rtl::RefPtr<TFaultyUdb> db;
};

TEST_P(FaultyUdbTest, NthExecutionFailsAloneBeforeReachingTheDatabase)
{
    // One command run three times: each run is an execution.
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "VELMO_AREAS", {UdbStrParam("ID")}, true);
    const auto run = [&](int i) { return RaisedMessage<EUdbException>([&] { insert->Execute({Variant(Id(9, i))}); }); };
    EXPECT_EQ(run(1), "nothing raised");
    EXPECT_EQ(insert->RowsAffected(), 1);
    EXPECT_EQ(db->Executions(), 1);

    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        db->FailStatement(n);
        for (int i = 1; i <= 3; ++i) {
            const std::string id = Id(static_cast<std::uint16_t>(n), static_cast<std::uint32_t>(i));
            const std::string error = RaisedMessage<EUdbException>([&] { insert->Execute({Variant(id)}); });
            if (i == n) {
                EXPECT_THAT(error, HasSubstr(kStatementFailure));
                EXPECT_THAT(error, HasSubstr("INSERT INTO [VELMO_AREAS]"));
                EXPECT_THAT(error, HasSubstr(id));
            } else {
                EXPECT_EQ(error, "nothing raised");
            }
        }
    }
    EXPECT_EQ(db->Executions(), 10);
    EXPECT_THAT(Areas(), ElementsAre(ElementsAre(Id(1, 2)), ElementsAre(Id(1, 3)), ElementsAre(Id(2, 1)),
                                     ElementsAre(Id(2, 3)), ElementsAre(Id(3, 1)), ElementsAre(Id(3, 2)),
                                     ElementsAre(Id(9, 1))));

    // Cancelled, nothing fails; cursors come from the inner command.
    db->FailStatement(1);
    db->FailStatement(0);
    EXPECT_EQ(AddAreaError(Id(4, 1)), "nothing raised");
    EXPECT_EQ(ReadRows(*db, "VELMO_AREAS", {"ID"}).size(), 8u);
    EXPECT_EQ(db->Executions(), 12);
}

TEST_P(FaultyUdbTest, ExecutionsHoldingThePieceFailUntilCleared)
{
    db->FailStatementsContaining("VELMO_PROJECTS");
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(AddAreaError(Id(1, i)), "nothing raised");
        EXPECT_THAT(RaisedMessage<EUdbException>([&] {
                        InsertRow(*db, "VELMO_PROJECTS", {{"ID", Variant(Id(2, i))}});
                    }),
                    HasSubstr(kStatementFailure));
    }
    EXPECT_EQ(CountRows(pair.Spatial(), "VELMO_PROJECTS"), 0);
    EXPECT_EQ(Areas().size(), 2u);

    db->ClearFaults();
    InsertRow(*db, "VELMO_PROJECTS", {{"ID", Variant(Id(2, 3))}});
    EXPECT_EQ(CountRows(pair.Spatial(), "VELMO_PROJECTS"), 1);
    EXPECT_EQ(db->Executions(), 5);
}

TEST_P(FaultyUdbTest, FailedCommitKeepsTheTransactionForARollback)
{
    db->FailCommit(2);
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        db->StartTransaction();
        AddArea(*db, Id(1, i));
        const std::string error = RaisedMessage<EUdbException>([&] { db->Commit(); });
        if (i == 2) {
            EXPECT_EQ(error, kCommitFailure);
            EXPECT_TRUE(db->InTransaction());
            EXPECT_TRUE(pair.Spatial().InTransaction());
            db->Rollback();
        } else {
            EXPECT_EQ(error, "nothing raised");
        }
        EXPECT_FALSE(db->InTransaction());
    }
    EXPECT_EQ(db->Commits(), 3);
    EXPECT_THAT(Areas(), ElementsAre(ElementsAre(Id(1, 1)), ElementsAre(Id(1, 3))));

    // What the failed commit held stays away after a restart too.
    pair.Reopen();
    EXPECT_THAT(Areas(), ElementsAre(ElementsAre(Id(1, 1)), ElementsAre(Id(1, 3))));
}

TEST_P(FaultyUdbTest, OnlyTheOutermostCommitCountsAndFails)
{
    // Also through a wrapper around the wrapper, which counts levels by itself.
    const rtl::RefPtr<TFaultyUdb> outer = WrapFaulty(db);
    for (TFaultyUdb* w : {db.get(), outer.get()}) {
        SCOPED_TRACE(w == outer.get() ? "outer" : "inner");
        const std::int64_t commits = w->Commits();
        w->FailCommit(1);
        w->StartTransaction();
        w->StartTransaction();
        AddArea(*w, Id(1, 1));
        w->Commit();
        EXPECT_TRUE(w->InTransaction());
        EXPECT_EQ(w->Commits(), commits);
        EXPECT_EQ(RaisedMessage<EUdbException>([&] { w->Commit(); }), kCommitFailure);
        EXPECT_EQ(w->Commits(), commits + 1);
        EXPECT_TRUE(w->InTransaction());
        w->Rollback();
        EXPECT_FALSE(w->InTransaction());
        EXPECT_TRUE(Areas().empty());
    }

    // A level begun on the inner database directly is a level too.
    pair.Spatial().StartTransaction();
    db->StartTransaction();
    db->FailCommit(1);
    db->Commit();
    EXPECT_TRUE(pair.Spatial().InTransaction());
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { db->Commit(); }), kCommitFailure);
    db->ClearFaults();
    db->Commit();
    EXPECT_FALSE(pair.Spatial().InTransaction());
}

INSTANTIATE_TEST_SUITE_P(Drivers, FaultyUdbTest, ::testing::ValuesIn(kDrivers), DriverName);

// The wrapper words its failures as the SQLite driver words its own.
TEST(FaultyUdbWording, SameMessagesAsTheSqliteDriver)
{
    sqlitetest::TempFolder folder;
    const rtl::RefPtr<TSqliteUdb> sqlite = OpenSqliteUdb(folder.File("t.db"));
    const rtl::RefPtr<TFaultyUdb> wrapper = WrapFaulty(sqlite);
    sqlitetest::Exec(*sqlite, "CREATE TABLE [T] ([A] INTEGER, [B] TEXT)");
    const auto insert = [](IUdb& target) {
        return RaisedMessage<EUdbException>([&] {
            PrepareInsert(target, "T", {UdbIntParam("A"), UdbStrParam("B")}, true)->Execute({Variant(7), Variant("x")});
        });
    };
    const auto commit = [](IUdb& target) {
        target.StartTransaction();
        const std::string error = RaisedMessage<EUdbException>([&] { target.Commit(); });
        target.Rollback();
        return error;
    };
    sqlite->FailStatement(1);
    sqlite->FailNextCommit();
    const std::string ownInsert = insert(*sqlite);
    const std::string ownCommit = commit(*sqlite);
    wrapper->FailStatement(1);
    wrapper->FailCommit(1);
    EXPECT_EQ(insert(*wrapper), ownInsert);
    EXPECT_EQ(commit(*wrapper), ownCommit);
    EXPECT_THAT(ownInsert, HasSubstr(kStatementFailure));
    EXPECT_EQ(ownCommit, kCommitFailure);
    EXPECT_EQ(sqlitetest::RowCount(*sqlite, "T"), 0);
}

} // namespace
