// The undo journal as untrusted input: a journal that a crash cut short
// before it counted its records is dropped; one whose counted records are
// damaged or cut is refused and kept, so the folder never opens half
// changed; and a crafted journal never reaches a file outside the folder's
// tables or beyond their recorded sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxJournal.h"
#include "platform/rtl/TextUtils.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

using test::FaultyFileSystem;
using test::Snapshot;
using test::TempFolder;

// ---- the journal's layout, as PxJournal.h describes it ------------------------

constexpr std::size_t kHeader = 40; // magic, then two copies of the count and the end
const char* const kJournal = PxJournal::kFileName;

enum : std::uint8_t { kFile = 1, kImage = 2, kRename = 3, kUndone = 4 };

// One record, decoded.
struct Entry {
    std::uint8_t type = 0;
    std::string name, name2;
    bool existed = false;
    std::uint64_t size = 0, offset = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t index = 0;
};

std::uint64_t GetN(const std::uint8_t* p, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}
void PutN(std::vector<std::uint8_t>& out, std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A framed record: where it starts in the file and how long it is.
struct Frame {
    std::size_t at = 0, size = 0;
};

// The records of a journal file, framed (their checksums are not looked at).
std::vector<Frame> Frames(const std::vector<std::uint8_t>& b)
{
    std::vector<Frame> out;
    std::size_t pos = kHeader;
    while (pos + 9 <= b.size()) {
        const std::size_t len = static_cast<std::size_t>(GetN(b.data() + pos + 1, 4));
        if (pos + 9 + len > b.size()) break;
        out.push_back({pos, 9 + len});
        pos += 9 + len;
    }
    return out;
}

std::vector<Entry> Decode(const std::vector<std::uint8_t>& b)
{
    std::vector<Entry> out;
    for (const Frame& f : Frames(b)) {
        const std::uint8_t* p = b.data() + f.at + 5;
        const std::uint8_t* end = b.data() + f.at + f.size - 4;
        Entry e;
        e.type = b[f.at];
        const auto name = [&] {
            const auto n = static_cast<std::size_t>(GetN(p, 2));
            std::string s(reinterpret_cast<const char*>(p + 2), n);
            p += 2 + n;
            return s;
        };
        switch (e.type) {
        case kFile: e.name = name(); e.existed = *p != 0; e.size = GetN(p + 1, 8); break;
        case kImage: e.name = name(); e.offset = GetN(p, 8); e.data.assign(p + 8, end); break;
        case kRename: e.name = name(); e.name2 = name(); break;
        case kUndone: e.index = static_cast<std::uint32_t>(GetN(p, 4)); break;
        }
        out.push_back(std::move(e));
    }
    return out;
}

// A journal holding `entries`, every one of them counted.
std::vector<std::uint8_t> Encode(const std::vector<Entry>& entries)
{
    std::vector<std::uint8_t> records;
    for (const Entry& e : entries) {
        std::vector<std::uint8_t> p;
        const auto name = [&](const std::string& s) {
            PutN(p, s.size(), 2);
            p.insert(p.end(), s.begin(), s.end());
        };
        switch (e.type) {
        case kFile: name(e.name); p.push_back(e.existed ? 1 : 0); PutN(p, e.size, 8); break;
        case kImage: name(e.name); PutN(p, e.offset, 8); p.insert(p.end(), e.data.begin(), e.data.end()); break;
        case kRename: name(e.name); name(e.name2); break;
        case kUndone: PutN(p, e.index, 4); break;
        }
        std::vector<std::uint8_t> r{e.type};
        PutN(r, p.size(), 4);
        r.insert(r.end(), p.begin(), p.end());
        PutN(r, PxCrc32(r.data(), r.size()), 4);
        records.insert(records.end(), r.begin(), r.end());
    }
    std::vector<std::uint8_t> out = {'P', 'X', 'U', 'N', 'D', 'O', 0, 2};
    for (int copy = 0; copy < 2; ++copy) {
        std::vector<std::uint8_t> slot;
        PutN(slot, entries.size(), 4);
        PutN(slot, kHeader + records.size(), 8);
        PutN(slot, PxCrc32(slot.data(), slot.size()), 4);
        out.insert(out.end(), slot.begin(), slot.end());
    }
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

// ---- a crafted journal ------------------------------------------------------

// Recovery of a journal that names files outside the folder's tables, or
// places beyond their recorded sizes, is refused: nothing is written,
// truncated, renamed or removed, and the journal stays.
// The journal's checksum is CRC-32 (IEEE): its check value, and lengths on
// both sides of the eight bytes a step against one byte a step.
TEST(PxJournalChecksum, IsTheIeeeCrc32AtEveryLengthAndSplit)
{
    const std::string check = "123456789";
    EXPECT_EQ(PxCrc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(PxCrc32(nullptr, 0), 0u);

    const auto byteByByte = [](const std::vector<std::uint8_t>& b) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (std::uint8_t x : b) {
            c ^= x;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return ~c;
    };
    std::vector<std::uint8_t> bytes;
    for (std::size_t n = 0; n < 40; ++n) {
        ASSERT_EQ(PxCrc32(bytes.data(), bytes.size()), byteByByte(bytes)) << n << " bytes";
        for (std::size_t cut = 0; cut <= n; ++cut)
            ASSERT_EQ(PxCrc32(bytes.data() + cut, n - cut, PxCrc32(bytes.data(), cut)), byteByByte(bytes))
                << n << " bytes cut at " << cut;
        bytes.push_back(static_cast<std::uint8_t>(n * 37 + 11));
    }
}

TEST(PxJournalCrafted, RecoveryTouchesOnlyTheTablesOfItsFolderWithinTheirSizes)
{
    TempFolder outside;
    const std::string outsideName = outside.Path().substr(outside.Path().rfind('/') + 1);
    const struct {
        const char* what;
        std::function<void(std::vector<Entry>&, TempFolder&)> craft;
    } cases[] = {
        {"a name that climbs out of the folder",
         [&](std::vector<Entry>& j, TempFolder&) {
             for (auto& e : j) e.name = "../" + outsideName + "/T.DB";
         }},
        {"a name with a folder in it",
         [&](std::vector<Entry>& j, TempFolder& dir) {
             dir.Sub("SUB");
             test::WriteFileBytes(dir.File("SUB/T.DB"), {9, 9, 9, 9});
             for (auto& e : j) e.name = "SUB/T.DB";
         }},
        {"a link to a file outside the folder",
         [&](std::vector<Entry>& j, TempFolder& dir) {
             std::filesystem::create_symlink(outside.File("T.DB"), dir.File("L.DB"));
             for (auto& e : j) e.name = "L.DB";
         }},
        {"a file that is not a table's, to be removed",
         [&](std::vector<Entry>& j, TempFolder& dir) {
             test::WriteFileBytes(dir.File("notes.txt"), {1});
             j.push_back({kFile, "notes.txt", "", false, 0, 0, {}, 0});
         }},
        {"a rename that brings a file in from outside",
         [&](std::vector<Entry>& j, TempFolder&) {
             j.push_back({kRename, "X.DB", "../" + outsideName + "/T.DB", false, 0, 0, {}, 0});
         }},
        {"an image beyond the size the file had",
         [&](std::vector<Entry>& j, TempFolder&) {
             for (auto& e : j)
                 if (e.type == kImage) e.offset = 1u << 30;
         }},
        {"an image of a file the journal never recorded",
         [&](std::vector<Entry>& j, TempFolder&) { j.erase(j.begin()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        test::WriteFileBytes(outside.File("T.DB"), {5, 6, 7, 8});
        test::WriteFileBytes(dir.File("T.DB"), {1, 2, 3, 4});
        {
            PxJournal j(PxDefaultFileSystem(), dir.Path());
            j.Begin();
            j.Protect("T.DB", 0, 4);
            j.Sync();
            // The process stops here, before its change.
        }
        auto entries = Decode(test::ReadFileBytes(dir.File(kJournal)));
        ASSERT_EQ(entries.size(), 2u) << "a file record and an image";
        c.craft(entries, dir);
        const auto journal = Encode(entries);
        test::WriteFileBytes(dir.File(kJournal), journal);
        const Snapshot before = test::TakeSnapshot(dir.Path());
        const Snapshot outsideBefore = test::TakeSnapshot(outside.Path());
        try {
            PxJournal::Recover(PxDefaultFileSystem(), dir.Path());
            ADD_FAILURE() << "recovered";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find(kJournal), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::Differences(before, test::TakeSnapshot(dir.Path())), "");
        EXPECT_EQ(test::Differences(outsideBefore, test::TakeSnapshot(outside.Path())), "");
        EXPECT_LT(std::filesystem::file_size(dir.File("T.DB")), 100u);
        EXPECT_THROW(PxDatabase db(dir.Path()), EPxError) << "the folder does not open";
    }
}

// ---- damage ---------------------------------------------------------------------

// T: ID (key), NAME, G (indexed), in 1 KiB blocks of a few records.
void MakeTable(const std::string& folder)
{
    PxDatabase db(folder);
    PxTableSpec s;
    s.fields = {{"ID", PxFieldType::Long, 0}, {"NAME", PxFieldType::Alpha, 150}, {"G", PxFieldType::Short, 0}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"G"}}};
    PxCreateOptions o;
    o.blockSize = 1024;
    auto t = db.CreateTable("T", s, o);
    for (int id = 10; id <= 80; id += 10)
        t->Insert({rtl::Variant(id), rtl::Variant("name " + rtl::IntToStr(id)), rtl::Variant::SmallInt(static_cast<std::int16_t>(id % 3))});
}

PxTable::RowId Row(PxDatabase& db, int id) { return *db.OpenTable("T")->Seek({rtl::Variant(id)}); }

struct Change {
    const char* name;
    std::function<void(PxDatabase&)> run;
};

const std::vector<Change>& Changes()
{
    static const std::vector<Change> all = {
        {"insert that splits a block",
         [](PxDatabase& db) {
             db.OpenTable("T")->Insert({rtl::Variant(15), rtl::Variant("new"), rtl::Variant::SmallInt(1)});
         }},
        {"key update that moves a record",
         [](PxDatabase& db) { db.OpenTable("T")->Update(Row(db, 20), {{0, rtl::Variant(75)}, {2, rtl::Variant::SmallInt(7)}}); }},
        {"delete", [](PxDatabase& db) { db.OpenTable("T")->Delete(Row(db, 40)); }},
    };
    return all;
}

// The folder after `change` was killed at operation `n` (0: never).
Snapshot Killed(const Snapshot& start, const Change& change, long n, std::vector<std::string>* log = nullptr)
{
    TempFolder dir;
    test::RestoreSnapshot(dir.Path(), start);
    FaultyFileSystem fs;
    PxOpenOptions o;
    o.fileSystem = &fs;
    {
        PxDatabase db(dir.Path(), o);
        fs.Reset(n, true, false);
        try {
            change.run(db);
        } catch (const EPxError&) {
        }
        if (log) *log = fs.log;
    }
    return test::TakeSnapshot(dir.Path());
}

// Makes the folder hold `want`, writing only the files that differ from
// `now` (what it holds).
void Arrange(const std::string& dir, const Snapshot& want, const Snapshot& now)
{
    for (const auto& [name, bytes] : now)
        if (!want.count(name)) std::filesystem::remove(dir + "/" + name);
    for (const auto& [name, bytes] : want) {
        const auto it = now.find(name);
        if (it == now.end() || it->second != bytes) test::WriteFileBytes(dir + "/" + name, bytes);
    }
}

Snapshot Tables(Snapshot s)
{
    s.erase(kJournal);
    return s;
}

// Recovery of a killed change whose journal was damaged after the kill
// (a cut at a journal offset, or one byte flipped): the folder opens only
// when it is back where it started or the change is complete, and when it
// is refused the journal is kept and is enough to restore it.
TEST(PxJournalDamage, ADamagedJournalIsRefusedAndKept)
{
    TempFolder base;
    MakeTable(base.Path());
    const Snapshot start = test::TakeSnapshot(base.Path());
    const Change& change = Changes()[0];
    std::vector<std::string> log;
    const Snapshot done = Killed(start, change, 0, &log);
    // Killed right after the first write to a table file: the folder is half changed.
    const auto firstTableWrite = std::find_if(log.begin(), log.end(), [](const std::string& op) {
        return op.rfind("write T.", 0) == 0;
    });
    ASSERT_NE(firstTableWrite, log.end());
    const long n = static_cast<long>(firstTableWrite - log.begin()) + 2;
    const Snapshot killed = Killed(start, change, n);
    ASSERT_TRUE(killed.count(kJournal));
    const auto journal = killed.at(kJournal);
    const auto frames = Frames(journal);
    ASSERT_GE(frames.size(), 3u);
    const struct {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    } cases[] = {
        {"a bad checksum in a counted record", [&](std::vector<std::uint8_t>& j) { j[frames[1].at + frames[1].size / 2] ^= 0x20; }},
        {"cut in its counted records", [&](std::vector<std::uint8_t>& j) { j.resize(frames[2].at + 3); }},
        {"cut after a whole record", [&](std::vector<std::uint8_t>& j) { j.resize(frames[1].at + frames[1].size); }},
        {"a broken header", [&](std::vector<std::uint8_t>& j) { j[2] = 'x'; }},
        {"both counts broken", [&](std::vector<std::uint8_t>& j) { j[9] ^= 1; j[25] ^= 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        test::RestoreSnapshot(dir.Path(), killed);
        auto damaged = journal;
        c.damage(damaged);
        test::WriteFileBytes(dir.File(kJournal), damaged);
        try {
            PxDatabase db(dir.Path());
            ADD_FAILURE() << "the folder opened";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find(kJournal), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("restore"), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::ReadFileBytes(dir.File(kJournal)), damaged) << "the journal is kept as it is";
        EXPECT_EQ(test::Differences(Tables(killed), Tables(test::TakeSnapshot(dir.Path()))), "");
        // With its bytes repaired the journal restores the folder.
        test::WriteFileBytes(dir.File(kJournal), journal);
        { PxDatabase db(dir.Path()); }
        EXPECT_EQ(test::Differences(start, test::TakeSnapshot(dir.Path())), "");
    }
    EXPECT_NE(Tables(done), Tables(start));
}

// A journal that was being written when the process stopped, before it
// counted its records, belonged to a change that never touched a table: it
// is dropped and the folder opens as it was.
TEST(PxJournalDamage, AJournalThatNeverCountedItsRecordsIsDropped)
{
    TempFolder base;
    MakeTable(base.Path());
    const Snapshot start = test::TakeSnapshot(base.Path());
    std::vector<std::string> log;
    Killed(start, Changes()[0], 0, &log);
    long unsealed = 0;
    for (long n = 1; n <= static_cast<long>(log.size()); ++n) {
        if (log[static_cast<std::size_t>(n - 1)].rfind("write T.", 0) == 0) break;
        SCOPED_TRACE("killed at " + log[static_cast<std::size_t>(n - 1)]);
        const Snapshot killed = Killed(start, Changes()[0], n);
        TempFolder dir;
        test::RestoreSnapshot(dir.Path(), killed);
        { PxDatabase db(dir.Path()); }
        EXPECT_EQ(test::Differences(start, test::TakeSnapshot(dir.Path())), "");
        unsealed += killed.count(kJournal) == 0 && killed.size() > start.size();
    }
    EXPECT_GT(unsealed, 0) << "some kills left a journal that was not counted yet";
}

// A kill at every write step of a change, then the journal damaged in each
// way: cut at every length (for a kill in the middle of the table writes)
// or at every record's edges, and one byte flipped in each part of it. The
// folder is then restored, or the change is complete, or the folder is
// refused with the journal kept as it is: never opened half changed.
class PxJournalMatrix : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PxJournalMatrix, NeverOpensAHalfChangedFolder)
{
    const Change& change = Changes()[GetParam()];
    TempFolder base;
    MakeTable(base.Path());
    const Snapshot start = test::TakeSnapshot(base.Path());
    std::vector<std::string> log;
    const Snapshot done = Killed(start, change, 0, &log);
    const long steps = static_cast<long>(log.size());
    long middle = 0;
    std::vector<long> tableWrites;
    for (long n = 1; n <= steps; ++n)
        if (log[static_cast<std::size_t>(n - 1)].rfind("write T.", 0) == 0) tableWrites.push_back(n);
    ASSERT_GE(tableWrites.size(), 2u);
    middle = tableWrites[tableWrites.size() / 2];
    long refused = 0, restored = 0, finished = 0;
    TempFolder dir;
    Snapshot now;
    for (long n = 1; n <= steps; ++n) {
        SCOPED_TRACE("killed at step " + rtl::IntToStr(n) + ": " + log[static_cast<std::size_t>(n - 1)]);
        const Snapshot killed = Killed(start, change, n);
        std::string journalName;
        for (const auto& [name, bytes] : killed)
            if (name.rfind("PXUNDO", 0) == 0) journalName = name;
        std::vector<std::function<void(std::vector<std::uint8_t>&)>> damages = {[](std::vector<std::uint8_t>&) {}};
        if (!journalName.empty()) {
            const auto& journal = killed.at(journalName);
            std::vector<std::size_t> cuts;
            if (n == middle) {
                for (std::size_t len = 0; len < journal.size(); ++len) cuts.push_back(len);
            } else {
                for (std::size_t len = 0; len <= kHeader && len < journal.size(); ++len) cuts.push_back(len);
                for (const Frame& f : Frames(journal))
                    for (std::size_t len : {f.at + 1, f.at + f.size - 1, f.at + f.size})
                        if (len < journal.size()) cuts.push_back(len);
            }
            for (std::size_t len : cuts) damages.push_back([len](std::vector<std::uint8_t>& j) { j.resize(len); });
            std::vector<std::size_t> flips = {0, 7, 8, 15, 23, 24, 31, 39};
            for (const Frame& f : Frames(journal))
                for (std::size_t at : {f.at, f.at + 1, f.at + 5, f.at + f.size / 2, f.at + f.size - 1}) flips.push_back(at);
            for (std::size_t at : flips)
                if (at < journal.size()) damages.push_back([at](std::vector<std::uint8_t>& j) { j[at] ^= 0x10; });
        }
        for (std::size_t d = 0; d < damages.size(); ++d) {
            Snapshot folder = killed;
            if (!journalName.empty()) damages[d](folder[journalName]);
            Arrange(dir.Path(), folder, now);
            bool opened = false;
            try {
                PxDatabase db(dir.Path());
                opened = true;
            } catch (const EPxError& e) {
                ASSERT_NE(std::string(e.what()).find(kJournal), std::string::npos) << "damage " << d << ": " << e.what();
            }
            now = test::TakeSnapshot(dir.Path());
            if (opened) {
                ASSERT_TRUE(now == start || now == done)
                    << "damage " << d << " opened the folder half changed: " << test::Differences(start, now);
                (now == start ? restored : finished) += 1;
            } else {
                ASSERT_EQ(test::Differences(folder, now), "") << "damage " << d << ": a refused recovery touched the folder";
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(restored, 0);
    EXPECT_GT(finished, 0);
}

INSTANTIATE_TEST_SUITE_P(Changes, PxJournalMatrix, ::testing::Range<std::size_t>(0, 3),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string n = Changes()[info.param].name;
                             for (char& c : n)
                                 if (!rtl::IsCharAlphaNumeric(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
} // namespace bde
