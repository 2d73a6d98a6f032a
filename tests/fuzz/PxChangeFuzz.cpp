// libFuzzer target of changing Paradox tables: inserts, updates and deletes
// in and out of a transaction, on a folder the engine wrote (its tables
// protected by a password or not), maybe damaged first (PxFuzzSupport's
// EditFolder), maybe with a write that fails or a process killed at a chosen
// step.
//
// What the engine promises, checked after every change:
//  - a change it refuses leaves the files as they were (inside a transaction
//    that a failure rolled back: as they were when it started), and every
//    record reads as before;
//  - a change it accepts leaves every record it does not touch as it was,
//    in both tables;
//  - a commit keeps, and a rollback restores, the files of the transaction;
//  - the folder opened anew (after a killed process: recovered) reads as
//    the last change it accepted left it, or as the unit it was in started.
// The engine may refuse only with its own error (EPxError).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/bde/PxJournal.h"
#include "tests/fuzz/PxFuzzSupport.h"

namespace {

using pxfuzz::Files;
using Rows = std::map<std::uint64_t, std::vector<std::string>>; // row id -> values

const char* const kTables[] = {"KEYED", "HEAP"};

// A change: its kind, and one byte that chooses its record and values (the
// input stays short, so that libFuzzer's first, short inputs reach far).
struct Op {
    std::uint8_t kind = 0;
    std::uint8_t a = 0, b = 0, c = 0;
    std::string text;
};

std::vector<Op> ReadOps(pxfuzz::Input& in)
{
    static const char* const texts[] = {"", "ABC", "abc", "Zeta", "\xc3\x89", "NAME1", "0", "xyz"};
    std::vector<Op> ops(1 + in.Byte() % 12);
    for (Op& op : ops) {
        const std::uint8_t k = in.Byte();
        op.kind = k % 9;
        op.b = static_cast<std::uint8_t>(k / 9);
        op.a = in.Byte();
        op.c = static_cast<std::uint8_t>(op.a * 37 + op.b);
        op.text = texts[(op.a ^ op.b) % 8];
    }
    return ops;
}

Rows RowsOf(bde::PxTable* t)
{
    Rows out;
    if (!t) return out;
    const auto ids = t->Rows();
    const auto values = pxfuzz::ReadAll(*t);
    for (std::size_t i = 0; i < ids.size(); ++i) out[ids[i]] = values[i];
    return out;
}

std::vector<std::vector<std::string>> Ordered(const Rows& r)
{
    std::vector<std::vector<std::string>> out;
    for (const auto& [id, v] : r) out.push_back(v);
    std::sort(out.begin(), out.end());
    return out;
}

// A blob of `size` bytes whose bytes tell its record.
rtl::Variant Blob(int size, std::uint8_t seed)
{
    if (size == 0) return rtl::Variant::Null();
    rtl::ByteArray b(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return rtl::Variant(b);
}

int BlobSize(std::uint8_t v)
{
    static const int sizes[] = {0, 3, 8, 40, 700, 2100, 5000, 9000};
    return sizes[v % 8];
}

// Runs one change; `target` is the row it touches (0: a new row or none).
void Run(bde::PxDatabase& db, bde::PxTable* keyed, bde::PxTable* heap, const Op& op, std::uint64_t& target)
{
    target = 0;
    const auto pick = [](bde::PxTable* t, std::uint8_t v) -> std::uint64_t {
        const auto rows = t->Rows();
        if (rows.empty()) return 0;
        return rows[v % rows.size()];
    };
    switch (op.kind) {
    case 0:
        if (keyed)
            keyed->Insert({rtl::Variant(static_cast<std::int32_t>(op.a) * 5), rtl::Variant(op.text),
                           rtl::Variant::SmallInt(static_cast<std::int16_t>(op.b % 5)), rtl::Variant(std::string(static_cast<std::size_t>(BlobSize(op.c)), 'm')),
                           Blob(BlobSize(op.c >> 3), op.a)});
        break;
    case 1:
        if (keyed && (target = pick(keyed, op.a)) != 0) {
            std::vector<std::pair<int, rtl::Variant>> changes;
            if (op.b & 1) changes.emplace_back(0, rtl::Variant(static_cast<std::int32_t>(op.c) * 5 + 1));
            if (op.b & 2) changes.emplace_back(1, rtl::Variant(op.text));
            if (op.b & 4) changes.emplace_back(2, rtl::Variant::SmallInt(static_cast<std::int16_t>(op.c % 5)));
            if (op.b & 8) changes.emplace_back(3, rtl::Variant(std::string(static_cast<std::size_t>(BlobSize(op.c)), 'u')));
            if (op.b & 16) changes.emplace_back(4, Blob(BlobSize(op.c >> 2), op.a));
            keyed->Update(target, changes);
        }
        break;
    case 2:
        if (keyed && (target = pick(keyed, op.a)) != 0) keyed->Delete(target);
        break;
    case 3:
        if (heap) heap->Insert({rtl::Variant::Null(), rtl::Variant(op.text), rtl::Variant::Null()});
        break;
    case 4:
        if (heap && (target = pick(heap, op.a)) != 0) heap->Update(target, {{1, rtl::Variant(op.text)}});
        break;
    case 5:
        if (heap && (target = pick(heap, op.a)) != 0) heap->Delete(target);
        break;
    case 6:
        if (!db.InTransaction()) db.StartTransaction();
        break;
    case 7:
        if (db.InTransaction()) db.Commit();
        break;
    case 8:
        if (db.InTransaction()) db.Rollback();
        break;
    }
}

struct Session {
    pxfuzz::MemoryFileSystem& fs;
    std::unique_ptr<bde::PxDatabase> db;
    rtl::RefPtr<bde::PxTable> tables[2];

    explicit Session(pxfuzz::MemoryFileSystem& f) : fs(f)
    {
        bde::PxOpenOptions o;
        o.fileSystem = &fs;
        o.passwords = {pxfuzz::kPassword};
        db = std::make_unique<bde::PxDatabase>(pxfuzz::kFolder, o);
        for (int i = 0; i < 2; ++i) {
            try {
                tables[i] = db->OpenTable(kTables[i]);
            } catch (const bde::EPxError&) {
            }
        }
    }
    // The tables again, after the engine read them anew.
    Rows Read(int i) { return RowsOf(tables[i].get()); }
};

// The records of both tables of a folder opened anew (the tables a fresh
// open cannot read are left out).
std::vector<std::vector<std::vector<std::string>>> Reopened(pxfuzz::MemoryFileSystem& fs)
{
    std::vector<std::vector<std::vector<std::string>>> out;
    Session s(fs);
    for (int i = 0; i < 2; ++i) out.push_back(Ordered(s.Read(i)));
    return out;
}

// The files after ops [0, count) ran without a failure.
Files Replay(const Files& start, const std::vector<Op>& ops, std::size_t count)
{
    pxfuzz::MemoryFileSystem fs;
    fs.SetFolder(start);
    Session s(fs);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t target = 0;
        try {
            Run(*s.db, s.tables[0].get(), s.tables[1].get(), ops[i], target);
        } catch (const bde::EPxError&) {
        }
    }
    return fs.Folder();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Files seed = pxfuzz::SeedFolder();
    static const Files protectedSeed = pxfuzz::ProtectedSeedFolder();
    pxfuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    Files start = flags & 8 ? protectedSeed : seed;
    if (flags & 1) pxfuzz::EditFolder(start, in);
    const bool injure = (flags & 2) != 0;
    const bool kill = (flags & 4) != 0;
    const long failAfter = injure ? 1 + in.Byte() % 40 : 0;
    const std::size_t failOp = injure ? in.Byte() % 12 : 0;
    const std::vector<Op> ops = ReadOps(in);
    // PXFUZZ_TRACE=1 tells what an input does.
    static const bool trace = std::getenv("PXFUZZ_TRACE") != nullptr;
    if (trace) std::fprintf(stderr, "flags %d, fail after %ld in op %zu\n", flags, failAfter, failOp);

    pxfuzz::MemoryFileSystem fs;
    fs.SetFolder(start);
    std::unique_ptr<Session> s;
    try {
        s = std::make_unique<Session>(fs);
    } catch (const bde::EPxError&) {
        return 0; // the folder is refused (a journal it cannot trust)
    }
    Files unitStart = fs.Folder(); // the files when the open unit (transaction) began
    Rows unitRows[2];              // and the tables' rows then
    bool killed = false;
    Files killedBefore;
    std::size_t killedAt = 0;
    bool killedInTransaction = false;
    for (std::size_t i = 0; i < ops.size() && !killed; ++i) {
        const Op& op = ops[i];
        const Files before = fs.Folder();
        const bool inTransaction = s->db->InTransaction();
        if (!inTransaction) unitStart = before;
        const Rows rows[2] = {s->Read(0), s->Read(1)};
        if (!inTransaction) {
            unitRows[0] = rows[0];
            unitRows[1] = rows[1];
        }
        if (injure && i == failOp) {
            fs.failAt = fs.count + failAfter;
            fs.dead = kill;
        }
        std::uint64_t target = 0;
        bool refused = false;
        try {
            Run(*s->db, s->tables[0].get(), s->tables[1].get(), op, target);
        } catch (const bde::EPxError& e) {
            refused = true;
            if (trace) std::fprintf(stderr, "  refused: %s\n", e.what());
        }
        if (trace) std::fprintf(stderr, "op %zu: kind %d a %d b %d c %d text '%s' target %llu%s\n", i, op.kind, op.a, op.b, op.c,
                                op.text.c_str(), static_cast<unsigned long long>(target), refused ? " refused" : "");
        if (fs.failed && fs.dead) {
            killed = true;
            killedBefore = inTransaction ? unitStart : before;
            killedAt = i;
            killedInTransaction = inTransaction;
            break;
        }
        fs.failAt = 0;
        fs.failed = false;
        const Files after = fs.Folder();
        if (refused) {
            // A rollback that failed half-way is finished from the journal it
            // keeps, by the next use of the folder or the next open.
            if (after != before && !(inTransaction && after == unitStart)) {
                FUZZ_CHECK(after.count(bde::PxJournal::kFileName) != 0);
                pxfuzz::MemoryFileSystem copy;
                copy.SetFolder(after);
                bde::PxJournal::Recover(copy, pxfuzz::kFolder);
                FUZZ_CHECK(copy.Folder() == (inTransaction ? unitStart : before));
                break;
            }
            // Otherwise as before the change, or as before the transaction a
            // failure rolled back; and a rollback that failed before it wrote
            // anything is done by the next read.
            std::vector<std::vector<std::string>> read[2];
            for (int t = 0; t < 2; ++t) read[t] = Ordered(s->Read(t));
            const Files afterRead = fs.Folder();
            if (afterRead == before) {
                // As before the change; or, when the failure rolled the
                // transaction back before any of its changes had gone out to
                // the files, as when the transaction began.
                bool same = true, asAtStart = true;
                for (int t = 0; t < 2; ++t) {
                    same = same && read[t] == Ordered(rows[t]);
                    asAtStart = asAtStart && read[t] == Ordered(unitRows[t]);
                }
                FUZZ_CHECK(same || (inTransaction && before == unitStart && asAtStart));
            } else {
                FUZZ_CHECK(inTransaction && afterRead == unitStart);
            }
            continue;
        }
        if (op.kind == 6 && !inTransaction) unitStart = before;
        if (op.kind == 8 && inTransaction) {
            FUZZ_CHECK(after == unitStart);
            continue;
        }
        if (op.kind >= 6) continue;
        // Records the change did not touch are as they were.
        const int changed = op.kind < 3 ? 0 : 1;
        if (!s->tables[changed]) continue; // a table the folder could not open: nothing ran
        const Rows now = s->Read(changed);
        for (const auto& [id, values] : rows[changed]) {
            if (id == target) continue;
            const auto it = now.find(id);
            FUZZ_CHECK(it != now.end());
            FUZZ_CHECK(it->second == values);
        }
        const std::size_t expected = rows[changed].size() + (op.kind % 3 == 0 ? 1 : 0) - (op.kind % 3 == 2 && target ? 1 : 0);
        FUZZ_CHECK(now.size() == expected);
        FUZZ_CHECK(Ordered(s->Read(1 - changed)) == Ordered(rows[1 - changed]));
    }
    if (killed) {
        // The process is gone; the next open recovers what it left.
        s.reset();
        fs.failAt = 0;
        fs.failed = false;
        fs.dead = false;
        std::unique_ptr<Session> again;
        try {
            again = std::make_unique<Session>(fs);
        } catch (const bde::EPxError&) {
            FUZZ_CHECK(false); // a journal this engine wrote is always trusted
        }
        again.reset();
        const Files recovered = fs.Folder();
        // Back where its unit started, or finished: the kill came after the
        // unit was committed (a change of its own, or the transaction's commit).
        if (recovered != killedBefore) {
            FUZZ_CHECK(!killedInTransaction || ops[killedAt].kind == 7);
            FUZZ_CHECK(recovered == Replay(start, ops, killedAt + 1));
        }
        return 0;
    }
    // Whatever the transaction's end, the folder reads anew as it stands.
    bool committed = true;
    if (s->db->InTransaction()) {
        try {
            if (flags & 8) s->db->Commit();
            else s->db->Rollback();
        } catch (const bde::EPxError&) {
            committed = false;
        }
    }
    std::vector<std::vector<std::vector<std::string>>> last;
    for (int t = 0; t < 2; ++t) last.push_back(Ordered(s->Read(t)));
    s.reset();
    if (committed) FUZZ_CHECK(Reopened(fs) == last);
    return 0;
}
