// libFuzzer target of the recovery of an undo journal: the journal of a
// change killed half-way (insert, key change, delete, a transaction over two
// tables, a table created and one dropped), edited by the fuzzer's bytes.
//
// Input: which journal (one byte), whether to seal the edited journal again
// (its checksums and count made to fit, so that crafted contents reach the
// rollback), then edits of the journal's bytes (PxFuzzSupport's EditFolder).
// What recovery promises:
//  - it touches only the table files of the folder, by plain names (the
//    memory file system stops the run at any other path), and no other file
//    of the folder;
//  - refused (EPxJournalDamaged), it leaves the folder as it was, journal
//    and all; stopped by a failing write, it keeps the journal;
//  - done, no journal is left; and a journal that was not sealed again,
//    so one whose records are this engine's, restores the folder as it was
//    before the change.
// The folder is then opened and read: it never breaks the engine.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bde/PxJournal.h"
#include "tests/fuzz/PxFuzzSupport.h"

namespace {

using pxfuzz::Bytes;
using pxfuzz::Files;

const char* const kJournal = bde::PxJournal::kFileName;

struct Seed {
    Files before; // the folder before the change
    Files killed; // as the killed change left it, journal and all
};

using Change = void (*)(bde::PxDatabase&);

void Insert(bde::PxDatabase& db)
{
    db.OpenTable("KEYED")->Insert({rtl::Variant(15), rtl::Variant("NEW"), rtl::Variant::SmallInt(1),
                                   pxfuzz::Memo(15, 300), rtl::Variant(rtl::ByteArray(5000, 1))});
}
void KeyChange(bde::PxDatabase& db)
{
    auto t = db.OpenTable("KEYED");
    t->Update(*t->Seek({rtl::Variant(20)}), {{0, rtl::Variant(115)}, {3, pxfuzz::Memo(1, 2500)}});
}
void Delete(bde::PxDatabase& db)
{
    auto t = db.OpenTable("KEYED");
    t->Delete(*t->Seek({rtl::Variant(30)}));
}
void Transaction(bde::PxDatabase& db)
{
    db.StartTransaction();
    Insert(db);
    Delete(db);
    db.OpenTable("HEAP")->Insert({rtl::Variant::Null(), rtl::Variant("more"), rtl::Variant::Null()});
    db.RenameTable("HEAP", "HEAP2");
    db.Commit();
}
void CreateAndDrop(bde::PxDatabase& db)
{
    db.StartTransaction();
    bde::PxTableSpec s;
    s.fields = {{"K", bde::PxFieldType::Alpha, 10}, {"V", bde::PxFieldType::Long, 0}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"V"}}};
    db.CreateTable("NEW", s)->Insert({rtl::Variant("A"), rtl::Variant(1)});
    db.DropTable("HEAP");
    db.Commit();
}

// The folder after `change` was killed at operation `n` (0: never), and how
// many operations it took.
Files Killed(const Files& start, Change change, long n, long* steps = nullptr)
{
    pxfuzz::MemoryFileSystem fs;
    fs.SetFolder(start);
    bde::PxOpenOptions o;
    o.fileSystem = &fs;
    {
        bde::PxDatabase db(pxfuzz::kFolder, o);
        fs.count = 0;
        fs.failAt = n;
        fs.dead = true;
        try {
            change(db);
        } catch (const bde::EPxError&) {
        }
        if (steps) *steps = fs.count;
    }
    return fs.Folder();
}

// For every change, the first and the last kill that leave a journal and
// half-changed tables.
std::vector<Seed> Seeds()
{
    const Files start = pxfuzz::SeedFolder();
    std::vector<Seed> out;
    for (Change c : {Insert, KeyChange, Delete, Transaction, CreateAndDrop}) {
        long steps = 0;
        Killed(start, c, 0, &steps);
        std::vector<Files> mixed;
        for (long n = 1; n <= steps; ++n) {
            Files f = Killed(start, c, n);
            if (!f.count(kJournal)) continue;
            Files tables = f;
            tables.erase(kJournal);
            if (tables != start) mixed.push_back(std::move(f));
        }
        FUZZ_CHECK(!mixed.empty());
        out.push_back({start, mixed.front()});
        out.push_back({start, mixed.back()});
    }
    return out;
}

std::uint32_t GetU32(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void PutN(Bytes& b, std::size_t at, std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Makes the checksums of the records that frame, and both counts, fit them
// (the layout PxJournal.h describes).
void Seal(Bytes& j)
{
    constexpr std::size_t header = 40;
    if (j.size() < header) return;
    std::size_t pos = header;
    std::uint32_t count = 0;
    while (pos + 9 <= j.size()) {
        const std::uint32_t len = GetU32(j, pos + 1);
        if (j.size() - pos - 9 < len) break;
        PutN(j, pos + 5 + len, bde::PxCrc32(j.data() + pos, 5 + static_cast<std::size_t>(len)), 4);
        pos += 9 + len;
        ++count;
    }
    for (std::size_t copy = 0; copy < 2; ++copy) {
        const std::size_t at = 8 + 16 * copy;
        PutN(j, at, count, 4);
        PutN(j, at + 4, pos, 8);
        PutN(j, at + 12, bde::PxCrc32(j.data() + at, 12), 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<Seed> seeds = Seeds();
    pxfuzz::Input in(data, size);
    const Seed& seed = seeds[in.Byte() % seeds.size()];
    const bool seal = (in.Byte() & 1) != 0;
    Files journalOnly = {{kJournal, seed.killed.at(kJournal)}};
    pxfuzz::EditFolder(journalOnly, in);
    Files folder = seed.killed;
    folder[kJournal] = journalOnly.begin()->second;
    if (seal) Seal(folder[kJournal]);
    folder["notes.txt"] = {'n', 'o', 't', 'e'};

    pxfuzz::MemoryFileSystem fs;
    fs.SetFolder(folder);
    bool recovered = false;
    try {
        recovered = bde::PxJournal::Recover(fs, pxfuzz::kFolder);
    } catch (const bde::EPxJournalDamaged&) {
        FUZZ_CHECK(fs.Folder() == folder); // refused: nothing touched, the journal kept
    } catch (const bde::EPxError&) {
        // A write the disk refused (a crafted image far into a file): the
        // rollback stopped, and its journal is kept for the next try.
        FUZZ_CHECK(seal && fs.Folder().count(kJournal) != 0);
    }
    const Files now = fs.Folder();
    FUZZ_CHECK(now.at("notes.txt") == folder.at("notes.txt"));
    if (recovered) {
        FUZZ_CHECK(!now.count(kJournal));
        if (!seal || folder.at(kJournal) == seed.killed.at(kJournal)) {
            Files tables = now;
            tables.erase("notes.txt");
            FUZZ_CHECK(tables == seed.before);
        }
    }
    // Whatever is left opens and reads, or is refused by the engine.
    bde::PxOpenOptions o;
    o.fileSystem = &fs;
    try {
        bde::PxDatabase db(pxfuzz::kFolder, o);
        for (const auto& name : db.TableNames()) {
            try {
                auto t = db.OpenTable(name);
                pxfuzz::ReadAll(*t);
            } catch (const bde::EPxError&) {
            }
        }
    } catch (const bde::EPxError&) {
    }
    return 0;
}
