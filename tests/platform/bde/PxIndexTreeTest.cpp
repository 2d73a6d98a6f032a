// Index files kept as B-trees: valid after every change, changed only where
// a change reaches, kept in other valid shapes, laid out afresh when damaged,
// scrambled as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "platform/bde/PxCrypt.h"
#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxIndex.h"
#include "tests/platform/bde/PxTestSupport.h"

// pxlib's leak of the index it reads is suppressed in PxIndexTest.cpp.

namespace bde {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempFolder;

constexpr std::size_t kBlock = 1024;
constexpr std::size_t kKey = 160;
constexpr std::size_t kEntry = kKey + 6;

// Long keys in 1 KiB blocks: six index records fit a block, so a few
// hundred records make an index of three levels or more.
rtl::RefPtr<PxTable> MakeDeep(PxDatabase& db, const std::string& name = "DEEP")
{
    PxTableSpec s;
    s.fields = {{"K", PxFieldType::Alpha, 160}, {"N", PxFieldType::Long, 0}};
    s.keyFieldCount = 1;
    s.secondaryIndexes = {{"", {"N"}}};
    PxCreateOptions o;
    o.blockSize = 1024;
    return db.CreateTable(name, s, o);
}

std::string Key(int i) { return "key" + rtl::IntToHex(static_cast<std::uint32_t>(i), 4); }

Bytes KeyBytes(const std::string& key)
{
    Bytes k(kKey, 0);
    std::copy(key.begin(), key.end(), k.begin());
    return k;
}

// The data block an index leads to for `key`, walking down from its root
// as a reader of the format would (0 when the walk goes astray).
std::uint32_t BlockFor(const Bytes& px, const Bytes& key)
{
    std::uint32_t block = PxGetU16(px.data() + 0x1E);
    for (int level = px[0x20]; level >= 1; --level) {
        if (block == 0 || 0x800 + block * kBlock > px.size()) return 0;
        const std::uint8_t* b = px.data() + 0x800 + (block - 1) * kBlock;
        const int n = static_cast<std::int16_t>(PxGetU16(b + 4)) / static_cast<int>(kEntry) + 1;
        int pick = 0;
        for (int j = 0; j < n; ++j)
            if (std::memcmp(b + 6 + j * kEntry, key.data(), kKey) <= 0) pick = j;
        block = PxGetIndexWord(b + 6 + pick * kEntry + kKey);
    }
    return block;
}

// Whether data block `block` of the .DB file holds `key`.
bool DataBlockHolds(const Bytes& db, std::uint32_t block, const Bytes& key)
{
    const std::size_t rs = PxGetU16(db.data());
    if (block == 0 || 0x800 + block * kBlock > db.size()) return false;
    const std::uint8_t* d = db.data() + 0x800 + (block - 1) * kBlock;
    const int n = static_cast<std::int16_t>(PxGetU16(d + 4)) / static_cast<int>(rs) + 1;
    for (int j = 0; j < n; ++j)
        if (std::memcmp(d + 6 + j * rs, key.data(), kKey) == 0) return true;
    return false;
}

// Every key of `keys` is found through the .PX in the data block that holds it.
void ExpectWalksFind(const TempFolder& dir, const std::string& table, const std::set<std::string>& keys)
{
    const Bytes px = test::ReadFileBytes(dir.File(table + ".PX"));
    const Bytes db = test::ReadFileBytes(dir.File(table + ".DB"));
    for (const auto& k : keys) {
        const Bytes kb = KeyBytes(k);
        EXPECT_TRUE(DataBlockHolds(db, BlockFor(px, kb), kb)) << k;
    }
}

// The blocks (after the header) in which two images of a file differ, and
// whether the headers differ.
std::size_t BlocksThatDiffer(const Bytes& was, const Bytes& now)
{
    std::size_t n = 0;
    const std::size_t size = std::max(was.size(), now.size());
    for (std::size_t at = 0x800; at < size; at += kBlock) {
        const auto part = [&](const Bytes& b) {
            return at >= b.size() ? Bytes() : Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                                                    b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + kBlock)));
        };
        n += part(was) != part(now);
    }
    return n;
}

TEST(PxIndexTree, RandomChangesKeepAValidTreeAfterEveryCommit)
{
    TempFolder dir;
    PxDatabase db(dir.Path());
    auto t = MakeDeep(db);
    std::mt19937 rng(20240611);
    std::set<std::string> keys;
    std::map<std::string, int> numbers;
    const auto pick = [&]() {
        auto it = keys.begin();
        std::advance(it, static_cast<long>(rng() % keys.size()));
        return *it;
    };
    const auto step = [&](int i) {
        const int op = static_cast<int>(rng() % 10);
        const std::string k = Key(static_cast<int>(rng() % 2000));
        if (op < 5 || keys.size() < 20) {
            if (keys.count(k)) return;
            t->Insert({rtl::Variant(k), rtl::Variant(i)});
            keys.insert(k);
        } else if (op < 8) {
            const std::string gone = pick();
            t->Delete(*t->Seek({rtl::Variant(gone)}));
            keys.erase(gone);
        } else if (op < 9) {
            const std::string from = pick();
            if (keys.count(k)) return;
            t->Update(*t->Seek({rtl::Variant(from)}), {{0, rtl::Variant(k)}});
            keys.erase(from);
            keys.insert(k);
        } else {
            t->Update(*t->Seek({rtl::Variant(pick())}), {{1, rtl::Variant(-i)}});
        }
    };
    int most = 0;
    for (int i = 0; i < 900; ++i) {
        SCOPED_TRACE(i);
        if (i % 50 == 49) {
            // Several changes in one commit.
            db.StartTransaction();
            for (int j = 0; j < 25; ++j) step(i * 100 + j);
            db.Commit();
        } else {
            step(i);
        }
        // Deletions outweigh inserts for a while, so that blocks empty and levels go.
        if (i == 600) {
            while (keys.size() > 30) {
                const std::string gone = pick();
                t->Delete(*t->Seek({rtl::Variant(gone)}));
                keys.erase(gone);
            }
        }
        ASSERT_EQ(t->VerifyIndexes(), "");
        most = std::max<int>(most, test::ReadFileBytes(dir.File("DEEP.PX"))[0x20]);
        if (i % 100 == 0 || i == 601) {
            EXPECT_TRUE(test::PxlibReadsIndex(dir.File("DEEP.PX")));
            ExpectWalksFind(dir, "DEEP", keys);
        }
    }
    EXPECT_GE(most, 3) << "index levels";
    EXPECT_EQ(t->RecordCount(), static_cast<std::int64_t>(keys.size()));
    ExpectWalksFind(dir, "DEEP", keys);
    // Another folder object reads it as a valid index, and keeps it.
    PxDatabase again(dir.Path());
    auto t2 = again.OpenTable("DEEP");
    EXPECT_EQ(t2->VerifyIndexes(), "");
    t2->Insert({rtl::Variant(Key(5000)), rtl::Variant(1)});
    EXPECT_EQ(t2->VerifyIndexes(), "");
}

// The records of one data block counted through a file system that counts
// the writes of each file.
TEST(PxIndexTree, AChangeOfOneRecordWritesOnlyAFewIndexBlocks)
{
    TempFolder dir;
    std::set<std::string> keys;
    {
        PxDatabase db(dir.Path());
        auto t = MakeDeep(db);
        db.StartTransaction();
        for (int i = 0; i < 1500; ++i) {
            t->Insert({rtl::Variant(Key(i * 2)), rtl::Variant(i)});
            keys.insert(Key(i * 2));
        }
        db.Commit();
    }
    const Bytes before = test::ReadFileBytes(dir.File("DEEP.PX"));
    const std::size_t blocks = (before.size() - 0x800) / kBlock;
    ASSERT_GT(blocks, 50u);
    ASSERT_GE(before[0x20], 3);
    const struct {
        const char* what;
        std::function<void(PxDatabase&, PxTable&)> change;
    } cases[] = {
        {"an insert", [](PxDatabase&, PxTable& t) { t.Insert({rtl::Variant(Key(701)), rtl::Variant(7)}); }},
        {"a delete", [](PxDatabase&, PxTable& t) { t.Delete(*t.Seek({rtl::Variant(Key(1200))})); }},
        {"a key change", [](PxDatabase&, PxTable& t) { t.Update(*t.Seek({rtl::Variant(Key(40))}), {{0, rtl::Variant(Key(2501))}}); }},
        {"inserts that split a data block, in one commit",
         [](PxDatabase& db, PxTable& t) {
             db.StartTransaction();
             for (int i = 0; i < 8; ++i) t.Insert({rtl::Variant(Key(1001) + "x" + std::to_string(i)), rtl::Variant(i)});
             db.Commit();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes was = test::ReadFileBytes(dir.File("DEEP.PX"));
        test::FaultyFileSystem fs;
        PxOpenOptions o;
        o.fileSystem = &fs;
        PxDatabase db(dir.Path(), o);
        auto t = db.OpenTable("DEEP");
        t->RecordCount();
        fs.Reset(0, false, false);
        c.change(db, *t);
        std::size_t writes = 0;
        for (const auto& l : fs.log) writes += l == "write DEEP.PX";
        const Bytes now = test::ReadFileBytes(dir.File("DEEP.PX"));
        EXPECT_GE(BlocksThatDiffer(was, now), 1u);
        EXPECT_LE(BlocksThatDiffer(was, now), 2u * now[0x20] + 4) << "of " << blocks;
        EXPECT_LE(writes, 2u * now[0x20] + 5) << "one write per block and the header";
        EXPECT_EQ(t->VerifyIndexes(), "");
    }
    EXPECT_TRUE(test::PxlibReadsIndex(dir.File("DEEP.PX")));
}

// ---- index files laid out by hand ----------------------------------------------------

struct ChainBlock {
    std::uint16_t block;
    std::uint16_t count;
    Bytes key;
};

// The chain of a .DB file: its blocks that hold records, in order.
std::vector<ChainBlock> ChainOf(const Bytes& db)
{
    std::vector<ChainBlock> out;
    const std::size_t rs = PxGetU16(db.data());
    for (std::uint16_t b = PxGetU16(db.data() + 0x0E); b != 0;) {
        const std::uint8_t* d = db.data() + 0x800 + (b - 1u) * kBlock;
        const int n = static_cast<std::int16_t>(PxGetU16(d + 4)) / static_cast<int>(rs) + 1;
        if (n > 0) out.push_back({b, static_cast<std::uint16_t>(n), Bytes(d + 6, d + 6 + kKey)});
        b = PxGetU16(d);
    }
    return out;
}

// A .PX of another valid shape: `perBlock` records in each block, blocks
// numbered from the end of the file (level 1 first), blocks 1 and 2 free, all
// linked root first and level by level down; `header` gives the rest.
Bytes ForeignIndex(const Bytes& header, const std::vector<ChainBlock>& chain, std::size_t perBlock)
{
    struct Rec {
        Bytes key;
        std::uint32_t child, count;
    };
    std::vector<std::vector<std::vector<Rec>>> levels; // per level, per block
    std::vector<Rec> cur;
    for (const auto& c : chain) cur.push_back({c.key, c.block, c.count});
    std::size_t blocks = 0;
    for (;;) {
        std::vector<std::vector<Rec>> level;
        for (std::size_t i = 0; i < cur.size(); i += perBlock)
            level.emplace_back(cur.begin() + static_cast<std::ptrdiff_t>(i),
                               cur.begin() + static_cast<std::ptrdiff_t>(std::min(cur.size(), i + perBlock)));
        blocks += level.size();
        levels.push_back(level);
        if (level.size() == 1) break;
        cur.clear();
        for (std::size_t i = 0; i < level.size(); ++i) cur.push_back({level[i][0].key, 0, 0});
    }
    // Numbers: level 1 gets the highest, the root 3; blocks 1 and 2 are free.
    const std::size_t fileBlocks = blocks + 2;
    std::vector<std::vector<std::uint16_t>> number(levels.size());
    std::size_t nextNumber = fileBlocks;
    for (std::size_t l = 0; l < levels.size(); ++l)
        for (std::size_t i = 0; i < levels[l].size(); ++i) number[l].push_back(static_cast<std::uint16_t>(nextNumber--));
    // Upper records: child numbers and counts.
    for (std::size_t l = 1; l < levels.size(); ++l) {
        std::size_t k = 0;
        for (auto& blk : levels[l])
            for (auto& r : blk) {
                r.child = number[l - 1][k];
                std::uint32_t sum = 0;
                for (const auto& below : levels[l - 1][k]) sum += below.count;
                r.count = sum; // below the cap here
                ++k;
            }
    }
    std::vector<std::uint16_t> order;
    for (std::size_t l = levels.size(); l-- > 0;)
        for (auto n : number[l]) order.push_back(n);
    Bytes px(0x800 + fileBlocks * kBlock, 0);
    std::copy(header.begin(), header.begin() + 0x800, px.begin());
    std::uint32_t records = 0;
    for (std::size_t l = 0; l < levels.size(); ++l)
        for (std::size_t i = 0; i < levels[l].size(); ++i) {
            std::uint8_t* b = px.data() + 0x800 + (number[l][i] - 1u) * kBlock;
            const auto& recs = levels[l][i];
            PxPutU16(b + 4, static_cast<std::uint16_t>((recs.size() - 1) * kEntry));
            for (std::size_t j = 0; j < recs.size(); ++j) {
                std::uint8_t* r = b + 6 + j * kEntry;
                std::copy(recs[j].key.begin(), recs[j].key.end(), r);
                PxPutIndexWord(r + kKey, recs[j].child);
                PxPutIndexWord(r + kKey + 2, recs[j].count);
                PxPutIndexWord(r + kKey + 4, 0);
            }
            records += static_cast<std::uint32_t>(recs.size());
        }
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::uint8_t* b = px.data() + 0x800 + (order[i] - 1u) * kBlock;
        PxPutU16(b, i + 1 < order.size() ? order[i + 1] : 0);
        PxPutU16(b + 2, i > 0 ? order[i - 1] : 0);
    }
    PxPutU32(px.data() + 0x06, records);
    PxPutU16(px.data() + 0x0A, static_cast<std::uint16_t>(blocks));
    PxPutU16(px.data() + 0x0C, static_cast<std::uint16_t>(fileBlocks));
    PxPutU16(px.data() + 0x0E, order.front());
    PxPutU16(px.data() + 0x10, order.back());
    PxPutU16(px.data() + 0x1E, order.front());
    px[0x20] = static_cast<std::uint8_t>(levels.size());
    return px;
}

struct DeepFolder {
    TempFolder dir;
    std::set<std::string> keys;
    DeepFolder()
    {
        PxDatabase db(dir.Path());
        auto t = MakeDeep(db);
        // One commit each: the tree grows entry by entry.
        for (int i = 0; i < 300; ++i) {
            t->Insert({rtl::Variant(Key(i * 3)), rtl::Variant(i)});
            keys.insert(Key(i * 3));
        }
    }
    std::string Px() const { return dir.File("DEEP.PX"); }
};

TEST(PxIndexTree, AnIndexOfAnotherValidShapeIsKeptNotLaidOutAgain)
{
    DeepFolder f;
    const Bytes foreign = ForeignIndex(test::ReadFileBytes(f.Px()), ChainOf(test::ReadFileBytes(f.dir.File("DEEP.DB"))), 3);
    test::WriteFileBytes(f.Px(), foreign);
    ASSERT_TRUE(test::PxlibReadsIndex(f.Px()));
    PxDatabase db(f.dir.Path());
    auto t = db.OpenTable("DEEP");
    EXPECT_EQ(t->VerifyIndexes(), "") << "another shape of a valid index";
    t->Insert({rtl::Variant(Key(301)), rtl::Variant(1)});
    t->Delete(*t->Seek({rtl::Variant(Key(600))}));
    f.keys.insert(Key(301));
    f.keys.erase(Key(600));
    EXPECT_EQ(t->VerifyIndexes(), "");
    const Bytes now = test::ReadFileBytes(f.Px());
    EXPECT_EQ(PxGetU16(now.data() + 0x1E), PxGetU16(foreign.data() + 0x1E)) << "the same root";
    EXPECT_LE(BlocksThatDiffer(foreign, now), 8u) << "of " << (foreign.size() - 0x800) / kBlock;
    EXPECT_TRUE(test::PxlibReadsIndex(f.Px()));
    ExpectWalksFind(f.dir, "DEEP", f.keys);
}

TEST(PxIndexTree, ADamagedOrStaleIndexIsLaidOutAfreshWithTheNextChange)
{
    const struct {
        const char* what;
        std::function<void(Bytes&)> spoil;
    } cases[] = {
        {"a child outside the file", [](Bytes& px) { PxPutIndexWord(px.data() + 0x800 + (PxGetU16(px.data() + 0x1E) - 1u) * kBlock + 6 + kKey, 999); }},
        {"an upper record without its child's first key",
         [](Bytes& px) { px[0x800 + (PxGetU16(px.data() + 0x1E) - 1u) * kBlock + 6 + kEntry + 5] ^= 0x20; }},
        {"an upper record with a wrong count",
         [](Bytes& px) {
             std::uint8_t* r = px.data() + 0x800 + (PxGetU16(px.data() + 0x1E) - 1u) * kBlock + 6 + kKey + 2;
             PxPutIndexWord(r, PxGetIndexWord(r) + 1);
         }},
        {"a record count that is no multiple of the record", [](Bytes& px) { PxPutU16(px.data() + 0x800 + 4, 7); }},
        {"a root of no block", [](Bytes& px) { PxPutU16(px.data() + 0x1E, 0); }},
        {"more levels than the tree has", [](Bytes& px) { px[0x20] += 1; }},
        {"a cut file", [](Bytes& px) { px.resize(px.size() - kBlock / 2 - kBlock * 3); }},
        {"a stale index (of the data before a change)", nullptr},
        {"a stale level 1 (a count)",
         [](Bytes& px) {
             // The first record of the first block of level 1.
             std::uint32_t block = PxGetU16(px.data() + 0x1E);
             for (int level = px[0x20]; level > 1; --level) block = PxGetIndexWord(px.data() + 0x800 + (block - 1) * kBlock + 6 + kKey);
             std::uint8_t* r = px.data() + 0x800 + (block - 1) * kBlock + 6 + kKey + 2;
             PxPutIndexWord(r, PxGetIndexWord(r) - 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeepFolder f;
        Bytes px = test::ReadFileBytes(f.Px());
        ASSERT_NE(PxGetU16(px.data() + 0x1E), 1) << "a tree grown entry by entry";
        if (c.spoil) {
            c.spoil(px);
        } else {
            PxDatabase db(f.dir.Path());
            db.OpenTable("DEEP")->Insert({rtl::Variant(Key(1)), rtl::Variant(1)});
            f.keys.insert(Key(1));
        }
        test::WriteFileBytes(f.Px(), px);
        PxDatabase db(f.dir.Path());
        auto t = db.OpenTable("DEEP");
        EXPECT_NE(t->VerifyIndexes(), "");
        EXPECT_EQ(t->RecordCount(), static_cast<std::int64_t>(f.keys.size())) << "the data reads";
        t->Insert({rtl::Variant(Key(301)), rtl::Variant(1)});
        f.keys.insert(Key(301));
        EXPECT_EQ(t->VerifyIndexes(), "");
        const Bytes now = test::ReadFileBytes(f.Px());
        EXPECT_EQ(PxGetU16(now.data() + 0x1E), 1) << "laid out afresh: the root first";
        EXPECT_EQ(PxGetU16(now.data() + 0x0A), PxGetU16(now.data() + 0x0C)) << "no free blocks";
        EXPECT_TRUE(test::PxlibReadsIndex(f.Px()));
        ExpectWalksFind(f.dir, "DEEP", f.keys);
    }
}

// ---- protected tables -------------------------------------------------------------

bool Contains(const Bytes& hay, const std::string& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(PxIndexTree, ProtectedIndexesKeepTheirScrambling)
{
    const std::uint32_t code = PxPasswordCode("letmein");
    const struct {
        const char* what;
        bool codeInHeader;
        bool scrambled;
    } cases[] = {
        {"the code in the header", true, true},
        {"no code in the header, blocks scrambled with the table's", false, true},
        {"no code in the header, blocks in the clear", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        std::vector<std::vector<test::Cell>> rows;
        for (int i = 1; i <= 1500; ++i)
            rows.push_back({test::Cell::Text("K" + std::to_string(1000 + i)), test::Cell::Long(i)});
        test::PxlibWrite(dir.File("SECRET.DB"), {{"CODE", pxfAlpha, 120}, {"N", pxfLong, 4}}, 1, rows, "", "letmein",
                         dir.File("SECRET.PX"));
        Bytes px = test::ReadFileBytes(dir.File("SECRET.PX"));
        const std::size_t bs = static_cast<std::size_t>(px[0x05]) * 1024;
        ASSERT_GE(px[0x20], 2) << "an index of several blocks";
        // pxlib leaves the index in the clear and its header without a code.
        ASSERT_EQ(PxGetU32(px.data() + 0x25), 0u);
        if (c.codeInHeader) PxPutU32(px.data() + 0x25, code);
        if (c.scrambled)
            for (std::size_t at = 0x800, n = 0; at + bs <= px.size(); at += bs, ++n)
                PxEncryptBlock(px.data() + at, bs, code, static_cast<std::uint32_t>(n));
        test::WriteFileBytes(dir.File("SECRET.PX"), px);
        PxOpenOptions o;
        o.passwords = {"letmein"};
        {
            PxDatabase db(dir.Path(), o);
            auto t = db.OpenTable("SECRET");
            ASSERT_EQ(t->VerifyIndexes(), "");
            for (int i = 0; i < 60; ++i) t->Insert({rtl::Variant("NEW" + std::to_string(100 + i)), rtl::Variant(-i)});
            t->Delete(*t->Seek({rtl::Variant("K1200")}));
            EXPECT_EQ(t->VerifyIndexes(), "");
        }
        const Bytes now = test::ReadFileBytes(dir.File("SECRET.PX"));
        EXPECT_EQ(PxGetU32(now.data() + 0x25), c.codeInHeader ? code : 0u) << "the header keeps its code or none";
        EXPECT_EQ(Contains(now, "NEW1"), !c.scrambled) << "entries scrambled as the blocks were";
        PxDatabase db(dir.Path(), o);
        EXPECT_EQ(db.OpenTable("SECRET")->VerifyIndexes(), "");
    }
}

} // namespace
} // namespace bde
