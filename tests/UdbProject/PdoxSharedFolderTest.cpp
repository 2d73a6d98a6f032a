// Tests of a database pair of the Paradox driver whose two halves are one
// folder, as the change engine drives it: transactions nested on the spatial
// then the semantic database commit as one (durable once the spatial one
// commits), a failure rolled back in either order undoes both halves, a
// commit after the other half's rollback fails clearly, a half outside the
// transaction cannot change the folder, and a pair in two folders keeps two
// independent transactions.
#include "tests/support/TempFolder.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UdbProject/PdoxUdbs.h"
#include "UdbProject/Udbs.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/PdoxOpener.h"

namespace {

using fake::Raised;
using rtl::Variant;
using velmotest::PdoxParamsXml;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using TempFolder = testing_support::TempFolder;

const char* const kRolledBack = "was rolled back by another database";
const char* const kForeign = "is in a transaction of another database";

enum class TLayout { OneFolder, TwoFolders };

// The spatial database with the table OBJECTS and the semantic one with
// SEMANTICS (ID key, NAME), each holding the row 1; both tables in one folder
// or each in a folder of its own.
class PdoxPair {
public:
    explicit PdoxPair(TLayout layout)
        : spatialFolder_(folder_.Sub("spatial")),
          semanticFolder_(layout == TLayout::OneFolder ? spatialFolder_ : folder_.Sub("semantic"))
    {
        // Tables are made before two databases share a folder.
        CreateTable(spatialFolder_, "OBJECTS");
        CreateTable(semanticFolder_, "SEMANTICS");
        Open();
    }

    void Open()
    {
        spatial = rtl::MakeRef<TPdoxUdb>();
        spatial->Open(PdoxParamsXml(spatialFolder_));
        semantic = rtl::MakeRef<TPdoxUdb>();
        semantic->Open(PdoxParamsXml(semanticFolder_));
    }
    // Closes both and opens them again: the folder is read from its files.
    void Reopen()
    {
        spatial->Close();
        semantic->Close();
        spatial = nullptr;
        semantic = nullptr;
        Open();
    }

    static void Insert(IUdb& db, const char* table, int id)
    {
        PrepareInsert(db, table, {UdbIntParam("ID"), UdbStrParam("NAME")}, false)->Execute({Variant(id), Variant("new")});
    }
    static std::vector<std::string> Ids(IUdb& db, const char* table)
    {
        std::vector<std::string> out;
        const rtl::RefPtr<IUdbCursor> c = SelectAll(db, table);
        for (; !c->Eof(); c->Next()) out.push_back(c->AsString("ID", ""));
        return out;
    }
    std::vector<std::string> SpatialIds() { return Ids(*spatial, "OBJECTS"); }
    std::vector<std::string> SemanticIds() { return Ids(*semantic, "SEMANTICS"); }

    rtl::RefPtr<TPdoxUdb> spatial;
    rtl::RefPtr<TPdoxUdb> semantic;

private:
    static void CreateTable(const std::string& folder, const char* name)
    {
        const auto db = rtl::MakeRef<TPdoxUdb>();
        db->Open(PdoxParamsXml(folder));
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
        def->SetTableName(name);
        def->AddField({"ID", udtInteger, 0, true});
        def->AddField({"NAME", udtString, 20, false});
        def->AddIndex({"", "ID", true, true});
        def->Apply();
        Insert(*db, name, 1);
        db->Close();
    }

    TempFolder folder_;
    std::string spatialFolder_;
    std::string semanticFolder_;
};

// The change engine's order: spatial, then semantic (twice nested), the
// changes, then the commits in reverse.
TEST(PdoxSharedFolder, NestedTransactionsOfThePairCommitAsOne)
{
    for (const TLayout layout : {TLayout::OneFolder, TLayout::TwoFolders}) {
        SCOPED_TRACE(layout == TLayout::OneFolder ? "one folder" : "two folders");
        PdoxPair p(layout);
        p.spatial->StartTransaction();
        p.semantic->StartTransaction();
        p.semantic->StartTransaction();
        PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
        PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
        p.semantic->Commit();
        EXPECT_TRUE(p.semantic->InTransaction());
        p.semantic->Commit();
        EXPECT_FALSE(p.semantic->InTransaction());
        EXPECT_TRUE(p.spatial->InTransaction());
        p.spatial->Commit();
        EXPECT_FALSE(p.spatial->InTransaction());

        p.Reopen();
        EXPECT_THAT(p.SpatialIds(), ElementsAre("1", "2"));
        EXPECT_THAT(p.SemanticIds(), ElementsAre("1", "2"));
    }
}

// A failure on the way is rolled back on both halves, in whatever order the
// rollbacks come; afterwards the pair starts afresh.
TEST(PdoxSharedFolder, AFailureRolledBackInAnyOrderUndoesBothHalves)
{
    struct Case {
        const char* name;
        TLayout layout;
        std::function<void(PdoxPair&)> fail;
    };
    const auto startBoth = [](PdoxPair& p) {
        p.spatial->StartTransaction();
        p.semantic->StartTransaction();
        p.semantic->StartTransaction();
        PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
        PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
    };
    const auto semanticFirst = [&](PdoxPair& p) {
        startBoth(p);
        p.semantic->Rollback();
        p.spatial->Rollback();
    };
    const auto spatialFirst = [&](PdoxPair& p) {
        startBoth(p);
        p.spatial->Rollback();
        p.semantic->Rollback();
    };
    const Case cases[] = {
        {"semantic, then spatial", TLayout::OneFolder, semanticFirst},
        {"spatial, then semantic", TLayout::OneFolder, spatialFirst},
        {"semantic, then spatial (two folders)", TLayout::TwoFolders, semanticFirst},
        {"spatial, then semantic (two folders)", TLayout::TwoFolders, spatialFirst},
        {"semantic never started: its change is the failure", TLayout::OneFolder,
         [](PdoxPair& p) {
             p.spatial->StartTransaction();
             PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
             EXPECT_THAT(Raised([&] { PdoxPair::Insert(*p.semantic, "SEMANTICS", 2); }), HasSubstr(kForeign));
             p.spatial->Rollback();
             p.semantic->Rollback();
         }},
        {"semantic started and committed, then the spatial rolls back", TLayout::OneFolder,
         [&](PdoxPair& p) {
             startBoth(p);
             p.semantic->Commit();
             p.semantic->Commit();
             p.spatial->Rollback();
             p.semantic->Rollback();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdoxPair p(c.layout);
        c.fail(p);
        for (TPdoxUdb* db : {p.spatial.get(), p.semantic.get()}) {
            EXPECT_FALSE(db->InTransaction());
            EXPECT_EQ(db->TransactionCount(), 0);
        }
        EXPECT_THAT(p.SpatialIds(), ElementsAre("1"));
        EXPECT_THAT(p.SemanticIds(), ElementsAre("1"));

        p.spatial->StartTransaction();
        p.semantic->StartTransaction();
        PdoxPair::Insert(*p.spatial, "OBJECTS", 3);
        PdoxPair::Insert(*p.semantic, "SEMANTICS", 3);
        p.semantic->Commit();
        p.spatial->Commit();
        p.Reopen();
        EXPECT_THAT(p.SpatialIds(), ElementsAre("1", "3"));
        EXPECT_THAT(p.SemanticIds(), ElementsAre("1", "3"));
    }
}

// Once one half rolled the folder back (or went away in the middle), the
// other half's transaction is over at every level: its commit fails naming
// the loss instead of reporting a commit that did not happen.
TEST(PdoxSharedFolder, ACommitAfterTheOtherHalfsRollbackFailsClearly)
{
    struct Case {
        const char* name;
        bool spatialEnds; // the spatial half rolls back (or closes), the semantic one commits
        bool byClosing;
        int otherLevels;  // the committing half's nesting
    };
    const Case cases[] = {
        {"semantic rolls back, spatial commits", false, false, 1},
        {"spatial rolls back, inner semantic commit", true, false, 2},
        {"semantic closed in the middle, spatial commits", false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdoxPair p(TLayout::OneFolder);
        TPdoxUdb& ending = c.spatialEnds ? *p.spatial : *p.semantic;
        TPdoxUdb& other = c.spatialEnds ? *p.semantic : *p.spatial;
        for (int i = 0; i < c.otherLevels; ++i) other.StartTransaction();
        ending.StartTransaction();
        PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
        PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
        if (c.byClosing) ending.Close();
        else ending.Rollback();

        EXPECT_FALSE(other.InTransaction());
        EXPECT_THAT(Raised([&] { PdoxPair::Insert(other, "OBJECTS", 3); }), HasSubstr(kRolledBack));
        EXPECT_THAT(Raised([&] { other.StartTransaction(); }), HasSubstr(kRolledBack));
        EXPECT_THAT(Raised([&] { other.Commit(); }), HasSubstr(kRolledBack));
        EXPECT_EQ(other.TransactionCount(), 0);
        EXPECT_EQ(Raised([&] { other.Rollback(); }), "");
        EXPECT_THAT(Raised([&] { other.Commit(); }), HasSubstr(UdbMsg::NotInTransaction));
        EXPECT_THAT(PdoxPair::Ids(other, "OBJECTS"), ElementsAre("1"));
        EXPECT_THAT(PdoxPair::Ids(other, "SEMANTICS"), ElementsAre("1"));

        other.StartTransaction();
        PdoxPair::Insert(other, "OBJECTS", 4);
        other.Commit();
        EXPECT_THAT(PdoxPair::Ids(other, "OBJECTS"), ElementsAre("1", "4"));
    }
}

// A rollback of the lost transaction, not a commit, ends it just as well; the
// half can then take part in the next one.
TEST(PdoxSharedFolder, ARollbackEndsTheLostTransactionAtEveryLevel)
{
    PdoxPair p(TLayout::OneFolder);
    p.spatial->StartTransaction();
    p.spatial->StartTransaction();
    p.semantic->StartTransaction();
    p.semantic->Rollback();
    p.spatial->Rollback();
    EXPECT_EQ(p.spatial->TransactionCount(), 0);
    EXPECT_FALSE(p.spatial->Database().TransactionLost());
    p.spatial->StartTransaction();
    p.semantic->StartTransaction();
    PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
    p.semantic->Commit();
    p.spatial->Commit();
    p.Reopen();
    EXPECT_THAT(p.SemanticIds(), ElementsAre("1", "2"));
}

// While one half is in the folder's transaction, the other cannot change the
// folder without joining it; it reads the folder as the first one left it.
TEST(PdoxSharedFolder, AHalfOutsideTheTransactionCannotChangeTheFolder)
{
    PdoxPair p(TLayout::OneFolder);
    p.spatial->StartTransaction();
    PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"insert", [&] { PdoxPair::Insert(*p.semantic, "SEMANTICS", 2); }},
        {"update",
         [&] {
             PrepareUpdate(*p.semantic, "SEMANTICS", {UdbStrParam("NAME")}, {UdbIntParam("ID")}, false)
                 ->Execute({Variant("x"), Variant(1)});
         }},
        {"delete", [&] { PrepareDelete(*p.semantic, "OBJECTS", {UdbIntParam("ID")}, false)->Execute({Variant(1)}); }},
    };
    for (const auto& [name, change] : changes) EXPECT_THAT(Raised(change), HasSubstr(kForeign)) << name;
    EXPECT_THAT(PdoxPair::Ids(*p.semantic, "OBJECTS"), ElementsAre("1", "2"));
    p.spatial->Commit();
    PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
    p.Reopen();
    EXPECT_THAT(p.SpatialIds(), ElementsAre("1", "2"));
    EXPECT_THAT(p.SemanticIds(), ElementsAre("1", "2"));
}

// In two folders each half's transaction is its own: one half's rollback
// leaves the other's commit whole.
TEST(PdoxSharedFolder, APairInTwoFoldersKeepsTwoTransactions)
{
    for (const bool spatialRollsBack : {false, true}) {
        SCOPED_TRACE(spatialRollsBack ? "spatial rolls back" : "semantic rolls back");
        PdoxPair p(TLayout::TwoFolders);
        p.spatial->StartTransaction();
        p.semantic->StartTransaction();
        PdoxPair::Insert(*p.spatial, "OBJECTS", 2);
        PdoxPair::Insert(*p.semantic, "SEMANTICS", 2);
        TPdoxUdb& roller = spatialRollsBack ? *p.spatial : *p.semantic;
        TPdoxUdb& committer = spatialRollsBack ? *p.semantic : *p.spatial;
        roller.Rollback();
        EXPECT_TRUE(committer.InTransaction());
        committer.Commit();
        p.Reopen();
        const std::vector<std::string> kept = {"1", "2"};
        const std::vector<std::string> undone = {"1"};
        EXPECT_EQ(p.SpatialIds(), spatialRollsBack ? undone : kept);
        EXPECT_EQ(p.SemanticIds(), spatialRollsBack ? kept : undone);
    }
}

} // namespace
