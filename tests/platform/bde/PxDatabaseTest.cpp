// The folder: creating tables within the format's limits, listing, dropping,
// renaming, and the undo journal on its own.
#include <algorithm>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxJournal.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::TempFolder;

PxTableSpec Spec(std::vector<PxFieldDef> fields, int keys = 0, std::vector<PxIndexDef> idx = {})
{
    PxTableSpec s;
    s.fields = std::move(fields);
    s.keyFieldCount = keys;
    s.secondaryIndexes = std::move(idx);
    return s;
}

std::vector<PxFieldDef> Alphas(int n)
{
    std::vector<PxFieldDef> f;
    for (int i = 0; i < n; ++i) f.push_back({"A" + rtl::IntToStr(i), PxFieldType::Alpha, 255});
    return f;
}

TEST(PxCreate, DefinitionsOutsideTheLimitsAreRefusedWithTheReason)
{
    std::vector<PxFieldDef> distinct;
    for (int i = 0; i < 256; ++i) distinct.push_back({"F" + rtl::IntToStr(i), PxFieldType::Long, 0});
    const struct {
        const char* what;
        std::string table;
        PxTableSpec spec;
        PxCreateOptions options;
        const char* mentions;
    } cases[] = {
        {"alpha of 256", "T", Spec({{"A", PxFieldType::Alpha, 256}}), {}, "1 to 255"},
        {"alpha of 0", "T", Spec({{"A", PxFieldType::Alpha, 0}}), {}, "1 to 255"},
        {"memo leader 0", "T", Spec({{"M", PxFieldType::Memo, 0}}), {}, "1 to 240"},
        {"blob leader 250", "T", Spec({{"B", PxFieldType::Blob, 250}}), {}, "0 to 240"},
        {"bcd with 33 decimals", "T", Spec({{"D", PxFieldType::Bcd, 33}}), {}, "0 to 32"},
        {"size given to a long", "T", Spec({{"L", PxFieldType::Long, 7}}), {}, "no size"},
        {"field name of 26 characters", "T", Spec({{std::string(26, 'n'), PxFieldType::Long, 0}}), {}, "25"},
        {"field name twice, in any case", "T", Spec({{"Name", PxFieldType::Long, 0}, {"NAME", PxFieldType::Long, 0}}), {}, "twice"},
        {"field name outside the code page", "T", Spec({{"\xe4\xb8\xad", PxFieldType::Long, 0}}), {}, "code page"},
        {"no fields", "T", Spec({}), {}, "1 to 255"},
        {"256 fields", "T", Spec(distinct), {}, "1 to 255"},
        {"record larger than any block", "T", Spec(Alphas(200)), {}, "does not fit"},
        {"key on a memo", "T", Spec({{"M", PxFieldType::Memo, 10}}, 1), {}, "key"},
        {"key of 17 fields", "T", Spec(std::vector<PxFieldDef>(distinct.begin(), distinct.begin() + 17), 17), {}, "16"},
        {"logical in a 4.0 table", "T", Spec({{"L", PxFieldType::Logical, 0}}), {kPxVersion40, 0, 0}, "5.0"},
        {"secondary index without a key", "T", Spec({{"A", PxFieldType::Long, 0}}, 0, {{"", {"A"}}}), {}, "primary key"},
        {"secondary index on a missing field", "T",
         Spec({{"A", PxFieldType::Long, 0}, {"B", PxFieldType::Long, 0}}, 1, {{"", {"C"}}}), {}, "\"C\""},
        {"unique secondary index", "T",
         Spec({{"A", PxFieldType::Long, 0}, {"B", PxFieldType::Long, 0}}, 1, {{"", {"B"}, false, true}}), {}, "unique"},
        {"unnamed index of two fields", "T",
         Spec({{"A", PxFieldType::Long, 0}, {"B", PxFieldType::Long, 0}}, 1, {{"", {"A", "B"}}}), {}, "name"},
        {"table name with a slash", "A/B", Spec({{"A", PxFieldType::Long, 0}}), {}, "table name"},
        {"empty table name", "", Spec({{"A", PxFieldType::Long, 0}}), {}, "table name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        PxDatabase db(dir.Path());
        try {
            db.CreateTable(c.table, c.spec, c.options);
            ADD_FAILURE() << "created";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "nothing is left behind";
    }
}

TEST(PxCreate, ChoosesABlockSizeThatHoldsTheRecord)
{
    const struct {
        int alpha;
        int fields;
        int blockSize;
    } cases[] = {{10, 1, 2048}, {255, 10, 4096}, {255, 40, 16384}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        TempFolder dir;
        PxDatabase db(dir.Path());
        std::vector<PxFieldDef> f;
        for (int i = 0; i < c.fields; ++i) f.push_back({"F" + rtl::IntToStr(i), PxFieldType::Alpha, c.alpha});
        auto t = db.CreateTable("T", Spec(f));
        const auto h = PxParseHeader(test::ReadFileBytes(dir.File("T.DB")), "T.DB");
        EXPECT_EQ(h.BlockSize(), c.blockSize);
        t->Insert(std::vector<rtl::Variant>(static_cast<std::size_t>(c.fields), rtl::Variant("v")));
        EXPECT_EQ(test::PxlibRead(dir.File("T.DB")).rows.size(), 1u);
    }
}

TEST(PxCreate, NewTablesAreParadoxFilesOfTheFolder)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = db.CreateTable("VELMO_DBINFO", Spec({{"DBID", PxFieldType::Alpha, 64}, {"DBCAPTION", PxFieldType::Alpha, 200},
                                                 {"IDGROUP", PxFieldType::Long, 0}, {"IDNUMBER", PxFieldType::Long, 0},
                                                 {"VERSION", PxFieldType::Long, 0}}, 1));
    t->Insert({rtl::Variant("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"), rtl::Variant("База"), rtl::Variant(1),
               rtl::Variant(1000), rtl::Variant(265)});
    const auto h = PxParseHeader(test::ReadFileBytes(dir.File("VELMO_DBINFO.DB")), "x");
    EXPECT_EQ(h.version, kPxVersion70);
    EXPECT_EQ(h.codePage, 1251);
    EXPECT_EQ(h.sortOrderId, "ancyrr");
    EXPECT_EQ(h.fileType, 0);
    const auto px = test::PxlibRead(dir.File("VELMO_DBINFO.DB"));
    ASSERT_EQ(px.rows.size(), 1u);
    EXPECT_EQ(px.rows[0][1], "База");
    EXPECT_EQ(px.rows[0][4], "265");
    EXPECT_TRUE(db.TableExists("velmo_dbinfo"));
    EXPECT_THROW(db.CreateTable("Velmo_DbInfo", Spec({{"A", PxFieldType::Long, 0}})), EPxError) << "exists in another case";
}

TEST(PxFolder, ListsDropsAndRenamesTables)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    const auto spec = Spec({{"ID", PxFieldType::Long, 0}, {"G", PxFieldType::Long, 0}, {"M", PxFieldType::Memo, 1}}, 1,
                           {{"", {"G"}}});
    for (const char* n : {"beta", "Alpha", "GAMMA"}) db.CreateTable(n, spec)->Insert({rtl::Variant(1), rtl::Variant(2), rtl::Variant("memo text")});
    test::WriteFileBytes(dir.File("notes.txt"), {1, 2, 3});
    EXPECT_EQ(db.TableNames(), (std::vector<std::string>{"Alpha", "beta", "GAMMA"}));

    db.RenameTable("beta", "Delta");
    EXPECT_FALSE(db.TableExists("beta"));
    for (const char* f : {"Delta.DB", "Delta.PX", "Delta.MB", "Delta.X02", "Delta.Y02"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(f))) << f;
    auto d = db.OpenTable("delta");
    EXPECT_EQ(d->Get(d->Rows().at(0), 2).AsString(), "memo text");
    EXPECT_EQ(d->VerifyIndexes(), "");
    EXPECT_THROW(db.RenameTable("Delta", "GAMMA"), EPxError) << "the target exists";
    EXPECT_THROW(db.RenameTable("nothing", "other"), EPxError);

    db.DropTable("GAMMA");
    EXPECT_EQ(db.TableNames(), (std::vector<std::string>{"Alpha", "Delta"}));
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find("GAMMA"), std::string::npos) << e.path();
    EXPECT_THROW(d = db.OpenTable("GAMMA"), EPxError);
    EXPECT_THROW(db.DropTable("GAMMA"), EPxError);
    EXPECT_TRUE(std::filesystem::exists(dir.File("notes.txt"))) << "other files stay";

    // Drop and rename inside a transaction are undone by its rollback.
    db.StartTransaction();
    db.DropTable("Alpha");
    db.RenameTable("Delta", "Epsilon");
    EXPECT_EQ(db.TableNames(), std::vector<std::string>{"Epsilon"});
    db.Rollback();
    EXPECT_EQ(db.TableNames(), (std::vector<std::string>{"Alpha", "Delta"}));
    EXPECT_EQ(db.OpenTable("Alpha")->RecordCount(), 1);
}

TEST(PxFolder, AMissingFolderIsAnError)
{
    EXPECT_THROW(PxDatabase("/nonexistent/folder/of/tables"), EPxError);
}

TEST(PxFolder, AReleasedFolderClosesItsTables)
{
    TempFolder dir;
    rtl::RefPtr<PxTable> t;
    {
        PxDatabase db(dir.Path());
        t = db.CreateTable("T", Spec({{"A", PxFieldType::Long, 0}}));
    }
    try {
        t->RecordCount();
        ADD_FAILURE() << "a table outlived its folder";
    } catch (const EPxError& e) {
        EXPECT_NE(std::string(e.what()).find("closed"), std::string::npos);
    }
}

// ---- the journal alone ---------------------------------------------------------

TEST(PxJournal, RollbackRestoresBytesSizesNamesAndRemovesNewFiles)
{
    TempFolder dir;
    test::WriteFileBytes(dir.File("A.DB"), {1, 2, 3, 4, 5, 6, 7, 8});
    test::WriteFileBytes(dir.File("B.DB"), {9, 9});
    const auto before = test::TakeSnapshot(dir.Path());
    PxFileSystem& fs = PxDefaultFileSystem();
    PxJournal j(fs, dir.Path());
    j.Begin();
    j.Protect("A.DB", 2, 3);
    j.Protect("A.DB", 0, 8); // overlaps: only the rest is kept
    j.NoteRename("B.DB", "C.DB");
    j.NoteCreate("N.DB");
    j.Sync();
    {
        auto a = fs.Open(dir.File("A.DB"), PxOpenMode::ReadWrite);
        a->WriteAt(0, "XXXXXXXXXXXX", 12);
        fs.Rename(dir.File("B.DB"), dir.File("C.DB"));
        fs.Open(dir.File("N.DB"), PxOpenMode::Create)->WriteAt(0, "new", 3);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.File(PxJournal::kFileName)));
    j.Rollback();
    EXPECT_EQ(test::TakeSnapshot(dir.Path()), before);
}

TEST(PxJournal, ALeftoverJournalIsRolledBackAndATornTailIgnored)
{
    // The process stops while the second Sync appends its records: they are
    // a torn tail the count does not take in, and nothing they cover was
    // touched.
    const struct {
        const char* what;
        bool tornSecondSync;
    } cases[] = {{"whole journal", false}, {"torn last record", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        test::WriteFileBytes(dir.File("A.DB"), {1, 2, 3, 4});
        PxFileSystem& fs = PxDefaultFileSystem();
        test::FaultyFileSystem faulty;
        {
            PxJournal j(faulty, dir.Path());
            j.Begin();
            j.Protect("A.DB", 0, 2);
            j.Sync();
            j.Protect("A.DB", 2, 2);
            if (c.tornSecondSync) faulty.Reset(1, true, true);
            try {
                j.Sync();
            } catch (const EPxIoError&) {
            }
            auto a = fs.Open(dir.File("A.DB"), PxOpenMode::ReadWrite);
            if (!c.tornSecondSync) a->WriteAt(0, "\xff\xff\xff\xff", 4);
            else a->WriteAt(0, "\xff\xff", 2); // the second image never reached the disk whole
            a->Truncate(10);
            // The process stops here: no commit, no rollback.
        }
        const std::string jp = dir.File(PxJournal::kFileName);
        EXPECT_TRUE(PxJournal::Recover(fs, dir.Path()));
        EXPECT_EQ(test::ReadFileBytes(dir.File("A.DB")), (std::vector<std::uint8_t>{1, 2, 3, 4}));
        EXPECT_FALSE(std::filesystem::exists(jp));
        EXPECT_FALSE(PxJournal::Recover(fs, dir.Path()));
    }
}

TEST(PxJournal, AnInterruptedRollbackCanRunAgain)
{
    // A table file renamed away and a new file created under its name: a
    // rollback stopped at any step and run again must leave the original.
    for (long n = 1;; ++n) {
        SCOPED_TRACE("rollback stopped at step " + rtl::IntToStr(n));
        TempFolder dir;
        test::WriteFileBytes(dir.File("T.DB"), {7, 7, 7});
        PxFileSystem& fs = PxDefaultFileSystem();
        {
            PxJournal j(fs, dir.Path());
            j.Begin();
            j.NoteRename("T.DB", "OLD.DB");
            j.NoteCreate("T.DB");
            j.Sync();
            fs.Rename(dir.File("T.DB"), dir.File("OLD.DB"));
            fs.Open(dir.File("T.DB"), PxOpenMode::Create)->WriteAt(0, "n", 1);
        }
        test::FaultyFileSystem faulty;
        faulty.Reset(n, true, false);
        bool stopped = false;
        try {
            PxJournal::Recover(faulty, dir.Path());
        } catch (const EPxIoError&) {
            stopped = true;
        }
        if (stopped) PxJournal::Recover(fs, dir.Path()); // the journal may be gone already
        EXPECT_EQ(test::ReadFileBytes(dir.File("T.DB")), (std::vector<std::uint8_t>{7, 7, 7}));
        EXPECT_FALSE(std::filesystem::exists(dir.File("OLD.DB")));
        EXPECT_FALSE(std::filesystem::exists(dir.File(PxJournal::kFileName)));
        if (!stopped) break;
    }
}

} // namespace
// A table renamed inside a transaction keeps the work the commit would have
// done for it: its indexes equal a rebuild after the commit.
TEST(PxFolder, TableRenamedInATransactionIsCompleteAfterTheCommit)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        auto t = db.CreateTable("A", Spec({{"ID", PxFieldType::Long, 0}, {"G", PxFieldType::Long, 0}}, 1, {{"", {"G"}}}));
        db.StartTransaction();
        for (int i = 0; i < 500; ++i) t->Insert({rtl::Variant(std::int32_t(i)), rtl::Variant(std::int32_t(i % 7))});
        db.RenameTable("A", "B");
        db.Commit();
    }
    PxDatabase again(dir.Path());
    auto b = again.OpenTable("B");
    EXPECT_EQ(b->RecordCount(), 500);
    EXPECT_EQ(b->VerifyIndexes(), "");
}

// A header whose field sizes add up to the record size but do not fit their
// types (an Alpha field grown by what a Long field lost) is refused when the
// table is opened, before any record is read or written with it.
TEST(PxFolder, FieldSizesThatDoNotFitTheirTypesAreRefused)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        db.CreateTable("T", Spec({{"A", PxFieldType::Alpha, 13}, {"L", PxFieldType::Long, 0}}, 0))
            ->Insert({rtl::Variant("abc"), rtl::Variant(std::int32_t(7))});
    }
    std::vector<std::uint8_t> bytes = test::ReadFileBytes(dir.File("T.DB"));
    const std::vector<std::uint8_t> fields = {0x01, 13, 0x04, 4};
    const auto at = std::search(bytes.begin(), bytes.end(), fields.begin(), fields.end());
    ASSERT_NE(at, bytes.end());
    at[1] = 16;
    at[3] = 1;
    test::WriteFileBytes(dir.File("T.DB"), bytes);
    PxDatabase db(dir.Path());
    EXPECT_THROW(db.OpenTable("T"), EPxError);
}

// A secondary index file of a kind this engine cannot read keeps the table
// readable, and refuses changes that would leave that index behind.
TEST(PxFolder, UnreadableSecondaryIndexRefusesChanges)
{
    TempFolder dir;
    {
        PxDatabase db(dir.Path());
        db.CreateTable("T", Spec({{"ID", PxFieldType::Long, 0}, {"G", PxFieldType::Long, 0}}, 1, {{"", {"G"}}}))
            ->Insert({rtl::Variant(std::int32_t(1)), rtl::Variant(std::int32_t(2))});
    }
    std::vector<std::uint8_t> x = test::ReadFileBytes(dir.File("T.X02"));
    ASSERT_GT(x.size(), 4u);
    x[4] = 0x02; // a data file under an index name: no index this engine knows
    test::WriteFileBytes(dir.File("T.X02"), x);
    PxDatabase db(dir.Path());
    auto t = db.OpenTable("T");
    EXPECT_EQ(t->RecordCount(), 1);
    EXPECT_THROW(t->Insert({rtl::Variant(std::int32_t(2)), rtl::Variant(std::int32_t(3))}), EPxError);
    EXPECT_EQ(t->RecordCount(), 1);
}

} // namespace bde
