// A transaction over two folders commits as one through a super-journal and
// rolls back as one; whatever operation a crash stops at, the next opens of
// the folders, in either order, leave both as before or both as after; a
// super-journal that cannot be trusted keeps both folders closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxJournal.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::FaultyFileSystem;
using test::Snapshot;
using test::TempFolder;

constexpr int kRows = 60;
constexpr int kBaseA = 0, kBaseB = 5000;

rtl::Variant Note(int id) { return rtl::Variant(std::string(static_cast<std::size_t>(id * 53 % 1500), 'n')); }

// Table T: keyed, one secondary index, memos, 1 KiB blocks.
void MakeTable(const std::string& folder, int base)
{
    PxDatabase db(folder);
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"NAME", PxFieldType::Alpha, 60}, {"GRP", PxFieldType::Short, 0},
                {"NOTE", PxFieldType::Memo, 5}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"GRP"}}};
    PxCreateOptions o;
    o.blockSize = 1024;
    auto t = db.CreateTable("T", s, o);
    for (int id = base + 1; id <= base + kRows; ++id)
        t->Insert({rtl::Variant(id), rtl::Variant("name " + rtl::IntToStr(id)),
                   rtl::Variant::SmallInt(static_cast<std::int16_t>(id % 4)), Note(id)});
}

rtl::RefPtr<PxTable> T(PxDatabase& db) { return db.OpenTable("T"); }
PxTable::RowId Row(PxDatabase& db, int id) { return *T(db)->Seek({rtl::Variant(id)}); }

// An insert, an update and a delete; `wide` also changes every other row.
void Change(PxDatabase& db, int base, bool wide)
{
    T(db)->Insert({rtl::Variant(base + 1000), rtl::Variant("new"), rtl::Variant::SmallInt(1),
                   rtl::Variant(std::string(6000, 'b'))});
    T(db)->Update(Row(db, base + 5), {{1, rtl::Variant("changed")}, {3, rtl::Variant(std::string(3000, 'u'))}});
    T(db)->Delete(Row(db, base + 20));
    if (wide)
        for (int id = base + 1; id <= base + kRows; ++id)
            if (id != base + 20)
                T(db)->Update(Row(db, id), {{1, rtl::Variant("renamed " + rtl::IntToStr(id))}, {2, rtl::Variant::SmallInt(7)}});
}

struct Scenario {
    const char* name;
    void (*changes)(PxDatabase& a, PxDatabase& b);
    std::size_t cacheBytes; // both folders' caches (0: the default)
};

const Scenario kInTheCache{"InTheCache", [](PxDatabase& a, PxDatabase& b) {
    Change(a, kBaseA, false);
    Change(b, kBaseB, false);
}, 0};
// Four blocks of cache: both journals are sealed and pages written before the commit.
const Scenario kLargerThanTheCache{"LargerThanTheCache", [](PxDatabase& a, PxDatabase& b) {
    Change(a, kBaseA, true);
    Change(b, kBaseB, true);
}, 4096};
const Scenario kTableFiles{"TablesCreatedDroppedAndRenamed", [](PxDatabase& a, PxDatabase& b) {
    Change(a, kBaseA, false);
    PxTableSpec s;
    s.fields = {{"K", PxFieldType::Long, 0}, {"V", PxFieldType::Memo, 5}};
    s.keyFieldCount = 1;
    a.CreateTable("N", s)->Insert({rtl::Variant(1), rtl::Variant(std::string(2000, 'v'))});
    a.DropTable("T");
    Change(b, kBaseB, false);
    b.RenameTable("T", "R");
}, 0};

void PrintTo(const Scenario& sc, std::ostream* os) { *os << sc.name; }

void RunGroup(PxDatabase& a, PxDatabase& b, const Scenario& sc)
{
    a.StartTransaction();
    b.JoinTransaction(a);
    sc.changes(a, b);
    a.Commit();
}

struct Both {
    Snapshot a, b;
    bool operator==(const Both&) const = default;
};
void PrintTo(const Both&, std::ostream* os) { *os << "(the two folders' files)"; }

std::string NameStartingWith(const Snapshot& s, const std::string& prefix)
{
    for (const auto& [name, bytes] : s)
        if (name.starts_with(prefix)) return name;
    return "";
}

Snapshot Without(Snapshot s, const std::string& name)
{
    s.erase(name);
    return s;
}

// The super-journal's layout, written out by hand: "PXSUPER" 1, the count
// (u32), each path (u16 length, bytes), CRC-32 of all before it.
std::vector<std::uint8_t> HandSuper(const std::vector<std::string>& folders, std::int64_t count = -1)
{
    std::vector<std::uint8_t> b = {'P', 'X', 'S', 'U', 'P', 'E', 'R', 0x01};
    const auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(count < 0 ? folders.size() : static_cast<std::uint64_t>(count), 4);
    for (const auto& f : folders) {
        put(f.size(), 2);
        b.insert(b.end(), f.begin(), f.end());
    }
    put(PxCrc32(b.data(), b.size()), 4);
    return b;
}

bool IsJournal(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.starts_with("PXUNDO.") || name.starts_with("PXSUPER-");
}
bool HasJournalFiles(const Snapshot& s)
{
    return std::any_of(s.begin(), s.end(), [](const auto& file) { return IsJournal(file.first); });
}
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Forwards to the real file system and notes every operation that changes
// something, with its full path (a truncation counts as a write).
class Recorder final : public PxFileSystem {
public:
    struct Op {
        std::string what, path;
    };
    std::vector<Op> ops;

    std::unique_ptr<PxFile> Open(const std::string& path, PxOpenMode mode) override
    {
        if (mode == PxOpenMode::Create) ops.push_back({"create", path});
        return std::make_unique<File>(*this, real_.Open(path, mode));
    }
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    bool IsLink(const std::string& path) override { return real_.IsLink(path); }
    void Remove(const std::string& path) override { ops.push_back({"remove", path}); real_.Remove(path); }
    void Rename(const std::string& from, const std::string& to) override
    {
        ops.push_back({"rename", from});
        ops.push_back({"rename to", to});
        real_.Rename(from, to);
    }
    std::vector<std::string> List(const std::string& folder) override { return real_.List(folder); }
    void SyncFolder(const std::string& folder) override { ops.push_back({"sync folder", folder}); real_.SyncFolder(folder); }
    bool FolderExists(const std::string& folder) override { return real_.FolderExists(folder); }
    std::string CanonicalFolder(const std::string& folder) override { return real_.CanonicalFolder(folder); }

private:
    class File final : public PxFile {
    public:
        File(Recorder& r, std::unique_ptr<PxFile> f) : r_(r), f_(std::move(f)) {}
        std::size_t ReadAt(std::uint64_t at, void* to, std::size_t size) override { return f_->ReadAt(at, to, size); }
        void WriteAt(std::uint64_t at, const void* from, std::size_t size) override
        {
            r_.ops.push_back({"write", Path()});
            f_->WriteAt(at, from, size);
        }
        std::uint64_t Size() override { return f_->Size(); }
        void Truncate(std::uint64_t size) override { r_.ops.push_back({"write", Path()}); f_->Truncate(size); }
        void Sync() override { r_.ops.push_back({"sync", Path()}); f_->Sync(); }
        const std::string& Path() const override { return f_->Path(); }

    private:
        Recorder& r_;
        std::unique_ptr<PxFile> f_;
    };
    PxFileSystem& real_ = PxDefaultFileSystem();
};

// "" when the folder opens; the message of EPxJournalDamaged; "other: ..." for
// any other error.
std::string OpenError(const std::string& folder)
{
    try {
        PxDatabase db(folder);
        return "";
    } catch (const EPxJournalDamaged& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
}

// Folders A and B under one root (so either can be renamed away), each with
// table T, and how they looked before the group change.
class PxGroupCommit : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeTable(a, kBaseA);
        MakeTable(b, kBaseB);
        before = Snap();
    }

    Both Snap() const { return {test::TakeSnapshot(a), test::TakeSnapshot(b)}; }
    void Restore(const Both& s) const
    {
        test::RestoreSnapshot(a, s.a);
        test::RestoreSnapshot(b, s.b);
    }
    std::string Describe(const Both& now) const
    {
        return "A vs before: {" + test::Differences(before.a, now.a) + "} vs after: {" +
               test::Differences(after.a, now.a) + "}; B vs before: {" + test::Differences(before.b, now.b) +
               "} vs after: {" + test::Differences(after.b, now.b) + "}";
    }

    static std::unique_ptr<PxDatabase> Open(const std::string& folder, FaultyFileSystem& fs, std::size_t cache)
    {
        PxOpenOptions o;
        o.fileSystem = &fs;
        o.cacheBytes = cache;
        return std::make_unique<PxDatabase>(folder, o);
    }

    // The group change without a failure, from `before`: sets `after`,
    // returns the log of its operations and leaves the folders as before.
    std::vector<std::string> CleanRun(const Scenario& sc)
    {
        Restore(before);
        FaultyFileSystem fs;
        {
            auto da = Open(a, fs, sc.cacheBytes), db = Open(b, fs, sc.cacheBytes);
            fs.Reset(0, false, false);
            RunGroup(*da, *db, sc);
        }
        after = Snap();
        Restore(before);
        return fs.log;
    }

    // The group change with the process killed at the operation numbered
    // `at`; whether the commit reported a failure.
    bool KilledAt(long at)
    {
        Restore(before);
        FaultyFileSystem fs;
        auto da = Open(a, fs, 0), db = Open(b, fs, 0);
        fs.Reset(at, true, false);
        try {
            RunGroup(*da, *db, kInTheCache);
        } catch (const EPxError&) {
            return true;
        }
        return false;
    }

    // The number (1-based) of the first operation of the clean run's log
    // starting with `what`, after operation `from`; 0 when none.
    static long Find(const std::vector<std::string>& log, const std::string& what, long from = 0)
    {
        for (auto i = static_cast<std::size_t>(from); i < log.size(); ++i)
            if (log[i].starts_with(what)) return static_cast<long>(i) + 1;
        return 0;
    }

    // The commit point of the clean run's log: the super-journal renamed away.
    static long FindCommit(const std::vector<std::string>& log)
    {
        for (std::size_t i = 0; i < log.size(); ++i)
            if (log[i].starts_with("rename PXSUPER-") && log[i].ends_with(".JNL")) return static_cast<long>(i) + 1;
        return 0;
    }

    TempFolder root;
    std::string a = root.Sub("A"), b = root.Sub("B");
    Both before, after;
};

TEST_F(PxGroupCommit, CommitOfTheOuterFolderCommitsBoth)
{
    {
        PxDatabase da(a), db(b);
        da.StartTransaction();
        db.JoinTransaction(da);
        EXPECT_TRUE(db.Joined());
        Change(da, kBaseA, false);
        Change(db, kBaseB, false);
        EXPECT_THROW(db.Commit(), EPxError);
        EXPECT_TRUE(db.InTransaction()) << "a refused commit leaves the transaction open";
        da.Commit();
        EXPECT_FALSE(da.InTransaction());
        EXPECT_FALSE(db.InTransaction());
        EXPECT_FALSE(db.Joined());
        // The group is over: each folder commits alone again.
        db.StartTransaction();
        T(db)->Delete(Row(db, kBaseB + 1));
        db.Commit();
    }
    const Both now = Snap();
    EXPECT_NE(now.a, before.a);
    EXPECT_NE(now.b, before.b);
    EXPECT_FALSE(HasJournalFiles(now.a));
    EXPECT_FALSE(HasJournalFiles(now.b));
    PxDatabase da(a), db(b);
    for (auto [d, base, count] : {std::tuple{&da, kBaseA, kRows}, std::tuple{&db, kBaseB, kRows - 1}}) {
        auto t = T(*d);
        EXPECT_EQ(t->VerifyIndexes(), "");
        EXPECT_EQ(t->RecordCount(), count);
        EXPECT_EQ(t->Get(Row(*d, base + 1000), 3), rtl::Variant(std::string(6000, 'b')));
        EXPECT_EQ(t->Get(Row(*d, base + 5), 1), rtl::Variant("changed"));
        EXPECT_FALSE(t->Seek({rtl::Variant(base + 20)}).has_value());
    }
}

// Two folder objects in one group over a shared file system, each counting
// the calls of its handler.
struct Group {
    FaultyFileSystem fs;
    std::unique_ptr<PxDatabase> da, db;
    int elsewhereA = 0, elsewhereB = 0;
};

// Ways a group ends without its commit; -1: the handler is not checked.
struct Ending {
    const char* name;
    std::function<void(Group&)> end;
    int elsewhereA, elsewhereB;
};

TEST_F(PxGroupCommit, EveryOtherEndOfTheGroupLeavesBothFoldersAsBefore)
{
    // A failure rolls both back at once and dooms both transactions.
    const auto failed = [&](Group& g) {
        g.fs.Reset(0, false, false);
        EXPECT_EQ(Snap(), before) << "rolled back at the failure: " << Describe(Snap());
        EXPECT_TRUE(g.da->InTransaction() && g.db->InTransaction()) << "doomed, not ended";
        EXPECT_THROW(g.da->Commit(), EPxError);
        EXPECT_THROW(T(*g.db)->Delete(Row(*g.db, kBaseB + 2)), EPxError);
        EXPECT_THROW(T(*g.da)->Delete(Row(*g.da, kBaseA + 2)), EPxError);
    };
    const Ending endings[] = {
        {"A rolls back", [](Group& g) { g.da->Rollback(); }, 0, 1},
        {"B rolls back", [](Group& g) { g.db->Rollback(); }, 1, 0},
        {"A is destroyed", [](Group& g) { g.da.reset(); }, -1, 1},
        {"B is destroyed", [](Group& g) { g.db.reset(); }, 1, -1},
        {"a change of B fails on disk", [&](Group& g) {
             g.fs.Reset(1, false, false);
             EXPECT_THROW(g.db->DropTable("T"), EPxError);
             EXPECT_EQ(g.elsewhereA, 1);
             EXPECT_EQ(g.elsewhereB, 0);
             failed(g);
             g.db->Rollback();
         }, -1, 0},
        {"the commit fails on disk", [&](Group& g) {
             g.fs.Reset(1, false, false);
             EXPECT_THROW(g.da->Commit(), EPxError);
             EXPECT_EQ(g.elsewhereA, 0);
             EXPECT_EQ(g.elsewhereB, 1);
             failed(g);
             g.da->Rollback();
         }, 0, -1},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        Restore(before);
        // A cache of four blocks: both folders' files are half changed on
        // disk when the group ends.
        Group g;
        g.da = Open(a, g.fs, 4096);
        g.db = Open(b, g.fs, 4096);
        g.da->SetOnEndedElsewhere([&g] { ++g.elsewhereA; });
        g.db->SetOnEndedElsewhere([&g] { ++g.elsewhereB; });
        g.da->StartTransaction();
        g.db->JoinTransaction(*g.da);
        Change(*g.da, kBaseA, true);
        Change(*g.db, kBaseB, true);
        const Both midway = Snap();
        ASSERT_NE(midway.a, before.a);
        ASSERT_NE(midway.b, before.b);
        e.end(g);
        EXPECT_EQ(Snap(), before) << Describe(Snap());
        EXPECT_TRUE(e.elsewhereA < 0 || g.elsewhereA == e.elsewhereA) << g.elsewhereA;
        EXPECT_TRUE(e.elsewhereB < 0 || g.elsewhereB == e.elsewhereB) << g.elsewhereB;
        for (auto [d, base] : {std::pair{g.da.get(), kBaseA}, std::pair{g.db.get(), kBaseB}}) {
            if (!d) continue;
            EXPECT_FALSE(d->InTransaction());
            EXPECT_FALSE(d->Joined());
            EXPECT_EQ(T(*d)->RecordCount(), kRows);
            EXPECT_TRUE(T(*d)->Seek({rtl::Variant(base + 20)}).has_value());
            // Alone again: its own transaction commits.
            d->StartTransaction();
            T(*d)->Delete(Row(*d, base + 3));
            EXPECT_NO_THROW(d->Commit());
        }
    }
}

class PxGroupCrash : public PxGroupCommit, public ::testing::WithParamInterface<Scenario> {};

TEST_P(PxGroupCrash, BothFoldersEndAsBeforeOrBothAsAfter)
{
    const Scenario& sc = GetParam();
    const auto log = CleanRun(sc);
    const auto writes = static_cast<long>(log.size());
    ASSERT_GT(FindCommit(log), 0);
    if (sc.cacheBytes) {
        // Both journals were sealed before the commit began.
        const long commit = Find(log, "create PXSUPER-");
        ASSERT_GT(Find(log, "rename PXUNDO.TMP", Find(log, "rename PXUNDO.TMP")), 0);
        ASSERT_LT(Find(log, "rename PXUNDO.TMP", Find(log, "rename PXUNDO.TMP")), commit);
    }
    struct Mode {
        const char* name;
        bool dead, torn;
    };
    std::vector<std::string> faults; // the runs that went wrong
    for (const Mode& m : {Mode{"I/O error", false, false}, Mode{"killed", true, false}, Mode{"torn, killed", true, true}}) {
        for (long n = 1; n <= writes; ++n) {
            const std::string where = std::string(m.name) + " at " + rtl::IntToStr(n) + " of " +
                                      rtl::IntToStr(writes) + " (" + log[static_cast<std::size_t>(n - 1)] + ")";
            Restore(before);
            bool failed = false;
            {
                FaultyFileSystem fs;
                auto da = Open(a, fs, sc.cacheBytes), db = Open(b, fs, sc.cacheBytes);
                fs.Reset(n, m.dead, m.torn);
                try {
                    RunGroup(*da, *db, sc);
                } catch (const EPxError&) {
                    failed = true;
                }
                if (!m.dead && failed) {
                    // Both folder objects are back where they started.
                    fs.Reset(0, false, false);
                    if (da->InTransaction()) da->Rollback();
                    const Both now = Snap();
                    if (now != before || db->InTransaction() || T(*da)->RecordCount() != kRows ||
                        T(*db)->RecordCount() != kRows)
                        faults.push_back(where + ", failed, right away: " + Describe(now));
                }
            }
            const Both left = Snap();
            for (bool bFirst : {false, true}) {
                Restore(left);
                const std::string error = OpenError(bFirst ? b : a) + OpenError(bFirst ? a : b);
                const Both now = Snap();
                if (!error.empty() || now != (failed ? before : after))
                    faults.push_back(where + (failed ? ", failed" : ", succeeded") + ", opened " +
                                     (bFirst ? "B then A: " : "A then B: ") + error + " " + Describe(now));
            }
        }
    }
    for (std::size_t i = 0; i < faults.size() && i < 5; ++i) ADD_FAILURE() << faults[i];
    EXPECT_TRUE(faults.empty()) << faults.size() << " runs went wrong";
}

// A power loss keeps only what was synced: the super-journal is synced, and
// its name in its folder, before any other journal names it or any table is
// written; every table write, and every new or renamed name in a folder, is
// synced before the super-journal is renamed away (the commit); nothing
// follows that but the journals' own.
TEST_P(PxGroupCrash, WhatTheCommitPointDependsOnIsSyncedBeforeIt)
{
    const Scenario& sc = GetParam();
    Recorder fs;
    {
        PxOpenOptions o;
        o.fileSystem = &fs;
        o.cacheBytes = sc.cacheBytes;
        PxDatabase da(a, o), db(b, o);
        RunGroup(da, db, sc);
    }
    const auto& ops = fs.ops;
    const auto find = [&](std::size_t from, const auto& is) {
        for (std::size_t i = from; i < ops.size(); ++i)
            if (is(ops[i])) return i;
        return ops.size();
    };
    const std::size_t named = find(0, [](const Recorder::Op& op) {
        return op.what == "rename" && op.path.find("/PXSUPER-") != std::string::npos;
    });
    ASSERT_LT(named, ops.size());
    const std::string tmp = ops[named].path, super = ops[named + 1].path;
    ASSERT_EQ(FolderOf(super), a);
    std::size_t written = 0;
    for (std::size_t i = 0; i < named; ++i)
        if (ops[i].path == tmp && ops[i].what == "write") written = i;
    EXPECT_LT(find(written, [&](const Recorder::Op& op) { return op.path == tmp && op.what == "sync"; }), named)
        << "the super-journal is synced before it is named";
    const std::size_t durable = find(named, [&](const Recorder::Op& op) { return op.what == "sync folder" && op.path == a; });
    ASSERT_LT(durable, ops.size());
    const std::string aJournal = a + "/" + PxJournal::kNewFileName;
    for (std::size_t i = named + 2; i < durable; ++i)
        EXPECT_TRUE(ops[i].path == aJournal || ops[i].path == a + "/" + PxJournal::kFileName)
            << "before the super-journal is durable: " << ops[i].what << " " << ops[i].path;
    const std::size_t commit = find(named, [&](const Recorder::Op& op) { return op.what == "rename" && op.path == super; });
    ASSERT_LT(commit, ops.size());
    std::set<std::string> unsynced; // files and folders changed and not synced since
    for (std::size_t i = 0; i < commit; ++i) {
        const Recorder::Op& op = ops[i];
        if (IsJournal(op.path) || op.what == "sync folder") {
            unsynced.erase(op.path);
            continue;
        }
        if (op.what == "sync") unsynced.erase(op.path);
        if (op.what == "write") unsynced.insert(op.path);
        if (op.what == "create" || op.what == "rename" || op.what == "rename to" || op.what == "remove")
            unsynced.insert(FolderOf(op.path));
    }
    for (const std::string& path : unsynced) ADD_FAILURE() << "not synced before the commit point: " << path;
    for (std::size_t i = commit + 1; i < ops.size(); ++i)
        EXPECT_TRUE(IsJournal(ops[i].path) || ops[i].what == "sync folder" || ops[i].path.ends_with(kPxTrashSuffix))
            << "after the commit point: " << ops[i].what << " " << ops[i].path;
}

INSTANTIATE_TEST_SUITE_P(Changes, PxGroupCrash,
                         ::testing::Values(kInTheCache, kLargerThanTheCache, kTableFiles),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(PxSuperJournalFile, HandBuiltBytesReadBackAndEqualWhatCreateWrites)
{
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_EQ(PxCrc32(check, sizeof check), 0xCBF43926u);
    TempFolder root;
    const std::string x = root.Sub("X"), y = root.Sub("Y");
    // A path longer than 255 bytes needs both bytes of its length.
    const std::string deep = root.Sub(std::string(200, 'L') + "/" + std::string(100, 'M'));
    const std::vector<std::vector<std::string>> lists = {{x}, {x, y}, {deep, x}};
    for (const auto& folders : lists) {
        SCOPED_TRACE(folders.front().size());
        const Snapshot was = test::TakeSnapshot(folders.front());
        const std::string path = PxSuperJournal::Create(PxDefaultFileSystem(), folders);
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_EQ(path, folders.front() + "/" + name);
        EXPECT_TRUE(PxSuperJournal::IsName(name)) << name;
        Snapshot now = test::TakeSnapshot(folders.front());
        EXPECT_EQ(now[name], HandSuper(folders));
        EXPECT_EQ(Without(now, name), was) << "nothing else is left";
        EXPECT_EQ(PxSuperJournal::Read(PxDefaultFileSystem(), path), folders);
        std::filesystem::remove(path);
        test::WriteFileBytes(root / "hand.JNL", HandSuper(folders));
        EXPECT_EQ(PxSuperJournal::Read(PxDefaultFileSystem(), root / "hand.JNL"), folders);
    }
    // Well sealed, but not what a super-journal holds.
    std::vector<std::uint8_t> pastEnd = {'P', 'X', 'S', 'U', 'P', 'E', 'R', 0x01, 1, 0, 0, 0, 0xF4, 0x01, '/', 'x'};
    const std::uint32_t crc = PxCrc32(pastEnd.data(), pastEnd.size());
    for (int i = 0; i < 4; ++i) pastEnd.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    std::vector<std::uint8_t> version2 = HandSuper({x});
    version2[7] = 2;
    const std::pair<const char*, std::vector<std::uint8_t>> bad[] = {
        {"more folders counted than held", HandSuper({x, y}, 3)},
        {"fewer folders counted than held", HandSuper({x, y}, 1)},
        {"no folder", HandSuper({})},
        {"a relative path", HandSuper({x, "rel/y"})},
        {"an empty path", HandSuper({x, ""})},
        {"a path with a NUL", HandSuper({x + std::string(1, '\0') + "z"})},
        {"a path running past the end", pastEnd},
        {"another version", version2},
    };
    for (const auto& [why, bytes] : bad) {
        SCOPED_TRACE(why);
        const std::string path = root / "bad.JNL";
        test::WriteFileBytes(path, bytes);
        try {
            PxSuperJournal::Read(PxDefaultFileSystem(), path);
            ADD_FAILURE() << "read as good";
        } catch (const EPxJournalDamaged& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST_F(PxGroupCommit, ADamagedOrIncompleteSuperJournalKeepsBothFoldersClosed)
{
    const auto log = CleanRun(kInTheCache);
    ASSERT_TRUE(KilledAt(FindCommit(log)));
    const Both stopped = Snap();
    const std::string superName = NameStartingWith(stopped.a, "PXSUPER-");
    ASSERT_TRUE(PxSuperJournal::IsName(superName));
    ASSERT_TRUE(stopped.a.count(PxJournal::kFileName) && stopped.b.count(PxJournal::kFileName));
    const std::string super = a + "/" + superName;
    const std::vector<std::uint8_t> good = stopped.a.at(superName);
    ASSERT_EQ(good, HandSuper({a, b}));

    // Each replacement of the super-journal, and the folders that refuse to open.
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        bool refusesA = true, refusesB = true;
    };
    std::vector<Case> cases;
    for (std::size_t n = 0; n < good.size(); ++n) cases.push_back({"cut to " + rtl::IntToStr(n), {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)}});
    for (std::size_t i = 0; i < good.size(); ++i) {
        auto bytes = good;
        bytes[i] ^= 0x20;
        cases.push_back({"byte " + rtl::IntToStr(i) + " flipped", bytes});
    }
    cases.push_back({"lists B only", HandSuper({b})});
    cases.push_back({"lists a folder that is not there", HandSuper({a, b, root / "gone"})});
    cases.push_back({"lists A only", HandSuper({a}), false, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restore(stopped);
        test::WriteFileBytes(super, c.bytes);
        const Both damaged = Snap();
        for (auto [folder, refuses] : {std::pair{b, c.refusesB}, std::pair{a, c.refusesA}}) {
            if (!refuses) continue;
            const std::string error = OpenError(folder);
            EXPECT_NE(error.find(super), std::string::npos) << folder << ": " << error;
            EXPECT_EQ(Snap(), damaged) << folder;
        }
    }

    // The other folder, or the super-journal's own, gone away: refused, and
    // the folders open once it is back.
    struct Away {
        const char* name;
        std::string moved, opened;
    };
    for (const Away& w : {Away{"B renamed away", b, a}, Away{"A, holding the super-journal, renamed away", a, b}}) {
        SCOPED_TRACE(w.name);
        Restore(stopped);
        std::filesystem::rename(w.moved, w.moved + "-away");
        const Snapshot was = test::TakeSnapshot(w.opened);
        const std::string error = OpenError(w.opened);
        EXPECT_NE(error.find(super), std::string::npos) << error;
        EXPECT_EQ(test::TakeSnapshot(w.opened), was);
        std::filesystem::rename(w.moved + "-away", w.moved);
        EXPECT_EQ(OpenError(w.opened) + OpenError(w.moved), "");
        EXPECT_EQ(Snap(), before) << Describe(Snap());
    }
    Restore(stopped);
    std::filesystem::remove_all(b);
    const std::string error = OpenError(a);
    EXPECT_NE(error.find(super), std::string::npos) << "B removed: " << error;
    EXPECT_EQ(test::TakeSnapshot(a), stopped.a);
}

TEST_F(PxGroupCommit, AStoppedCommitIsRecoveredInEitherOrder)
{
    const auto log = CleanRun(kInTheCache);
    const long superRemoval = FindCommit(log);
    ASSERT_TRUE(KilledAt(superRemoval));
    const Both beforePoint = Snap();
    const std::string superName = NameStartingWith(beforePoint.a, "PXSUPER-");
    ASSERT_FALSE(superName.empty());
    const long journalRemoval = Find(log, "rename PXUNDO.JNL", superRemoval);
    ASSERT_GT(journalRemoval, 0);
    EXPECT_FALSE(KilledAt(journalRemoval)) << "a commit stopped past its point reports success";
    const Both pastPoint = Snap();
    ASSERT_TRUE(pastPoint.a.count(PxJournal::kFileName) && pastPoint.b.count(PxJournal::kFileName));
    ASSERT_FALSE(pastPoint.a.count(superName)) << "the commit put the super-journal aside";

    for (bool bFirst : {false, true}) {
        SCOPED_TRACE(bFirst ? "B first" : "A first");
        // Stopped before its point: rolled back; the super-journal stays
        // until the last folder naming it is rolled back.
        Restore(beforePoint);
        ASSERT_EQ(OpenError(bFirst ? b : a), "");
        Both now = Snap();
        if (bFirst) {
            EXPECT_EQ(now.b, before.b);
            EXPECT_EQ(now.a, beforePoint.a);
        } else {
            EXPECT_EQ(Without(now.a, superName), before.a);
            EXPECT_TRUE(now.a.count(superName)) << "B's journal still names it";
            EXPECT_EQ(now.b, beforePoint.b);
        }
        ASSERT_EQ(OpenError(bFirst ? a : b), "");
        EXPECT_EQ(Snap(), before) << Describe(Snap());

        // Stopped past its point: each open completes its folder.
        Restore(pastPoint);
        ASSERT_EQ(OpenError(bFirst ? b : a), "");
        now = Snap();
        EXPECT_EQ(bFirst ? now.b : now.a, bFirst ? after.b : after.a);
        EXPECT_EQ(bFirst ? now.a : now.b, bFirst ? pastPoint.a : pastPoint.b);
        ASSERT_EQ(OpenError(bFirst ? a : b), "");
        EXPECT_EQ(Snap(), after) << Describe(Snap());
    }
}

// A folder opened by another name than the one the group used (a link, "."
// or ".." in the path) is still the folder its super-journal lists.
TEST_F(PxGroupCommit, AStoppedCommitRollsBackWhateverNameAFolderIsOpenedBy)
{
    ASSERT_TRUE(KilledAt(FindCommit(CleanRun(kInTheCache))));
    const Both stopped = Snap();
    std::filesystem::create_directory_symlink(a, root / "LinkA");
    const std::pair<std::string, std::string> orders[] = {
        {a + "/.", b}, {root / "B/../A", b}, {root / "LinkA", b}, {b + "/.", a}, {b, root / "LinkA"},
    };
    for (const auto& [first, second] : orders) {
        SCOPED_TRACE("opened " + first + ", then " + second);
        Restore(stopped);
        ASSERT_EQ(OpenError(first), "");
        ASSERT_EQ(OpenError(second), "");
        EXPECT_EQ(Snap(), before) << Describe(Snap());
    }
}

// The transactions after the first reuse the files the first put aside:
// the super-journal, which holds the same folders, is only renamed (its
// bytes were made durable when written), and the journals are written over
// in place; each commit is whole, and nothing is left once the folders close.
TEST_F(PxGroupCommit, LaterCommitsReuseTheFilesTheFirstPutAside)
{
    Recorder fs;
    std::vector<std::size_t> starts;
    {
        PxOpenOptions o;
        o.fileSystem = &fs;
        PxDatabase da(a, o), db(b, o);
        for (int round = 1; round <= 3; ++round) {
            starts.push_back(fs.ops.size());
            da.StartTransaction();
            db.JoinTransaction(da);
            T(da)->Update(Row(da, kBaseA + round), {{1, rtl::Variant("round " + rtl::IntToStr(round))}});
            T(db)->Update(Row(db, kBaseB + round), {{1, rtl::Variant("round " + rtl::IntToStr(round))}});
            da.Commit();
        }
        starts.push_back(fs.ops.size());
    }
    for (std::size_t round = 0; round + 1 < starts.size(); ++round) {
        SCOPED_TRACE("transaction " + rtl::IntToStr(static_cast<int>(round) + 1));
        int superWrites = 0, created = 0;
        for (std::size_t i = starts[round]; i < starts[round + 1]; ++i) {
            const Recorder::Op& op = fs.ops[i];
            if (op.path.find("/PXSUPER-") != std::string::npos && (op.what == "write" || op.what == "sync")) ++superWrites;
            if (op.what == "create") ++created;
        }
        EXPECT_EQ(superWrites, round == 0 ? 2 : 0);
        EXPECT_EQ(created, round == 0 ? 3 : 0) << "the super-journal and the two journals";
    }
    EXPECT_FALSE(HasJournalFiles(test::TakeSnapshot(a)));
    EXPECT_FALSE(HasJournalFiles(test::TakeSnapshot(b)));
    PxDatabase da(a), db(b);
    for (auto [d, base] : {std::pair{&da, kBaseA}, std::pair{&db, kBaseB}}) {
        EXPECT_EQ(T(*d)->VerifyIndexes(), "");
        for (int round = 1; round <= 3; ++round)
            EXPECT_EQ(T(*d)->Get(Row(*d, base + round), 1), rtl::Variant("round " + rtl::IntToStr(round)));
    }
}

// Folders copied while a commit was stopped, opened after the originals
// rolled back and removed the super-journal: the copies' journals were
// written in other folders, so whether they committed cannot be told there
// and they are refused, never taken for committed.
TEST_F(PxGroupCommit, CopiesOfStoppedFoldersOpenedAfterTheOriginalsAreRefused)
{
    const auto log = CleanRun(kInTheCache);
    const long commit = FindCommit(log);
    const std::string copyA = root.Sub("A2"), copyB = root.Sub("B2");
    // Stopped after A's journal and first writes, and just before the commit.
    for (const long at : {Find(log, "write T.DB", Find(log, "write T.DB")), commit}) {
        SCOPED_TRACE("stopped at operation " + rtl::IntToStr(at));
        ASSERT_GT(at, 0);
        ASSERT_TRUE(KilledAt(at));
        const Both stopped = Snap();
        test::RestoreSnapshot(copyA, stopped.a);
        test::RestoreSnapshot(copyB, stopped.b);
        ASSERT_EQ(OpenError(a) + OpenError(b), "");
        EXPECT_EQ(Snap(), before);
        for (const std::string& copy : {copyA, copyB}) {
            const Snapshot was = test::TakeSnapshot(copy);
            if (!was.count(PxJournal::kFileName)) continue;
            EXPECT_NE(OpenError(copy).find("was written in the folder"), std::string::npos) << copy;
            EXPECT_EQ(test::TakeSnapshot(copy), was) << "nothing of the copy is touched";
        }
    }
}

TEST_F(PxGroupCommit, SuperJournalsNoJournalNamesAreRemovedOnOpen)
{
    const std::string hex = "PXSUPER-0123456789ABCDEF";
    const struct {
        std::string name;
        std::vector<std::uint8_t> bytes;
        bool removed;
    } cases[] = {
        {hex + ".TMP", {'j', 'u', 'n', 'k'}, true},
        {hex + ".TMP", HandSuper({a, b}), true},
        {hex + ".JNL", HandSuper({a, b}), true},
        {hex + ".JNL", HandSuper({a, root / "gone"}), false}, // its folders are not all there
        {hex + ".JNL", {'j', 'u', 'n', 'k'}, false},          // unreadable
        {"PXSUPER-notes.JNL", HandSuper({a, b}), false},       // not a super-journal's name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + (c.removed ? " removed" : " kept"));
        Restore(before);
        test::WriteFileBytes(a + "/" + c.name, c.bytes);
        EXPECT_EQ(OpenError(a), "");
        Snapshot want = before.a;
        if (!c.removed) want[c.name] = c.bytes;
        EXPECT_EQ(test::TakeSnapshot(a), want) << test::Differences(want, test::TakeSnapshot(a));
    }
}

} // namespace
} // namespace bde
