// Blob files of password-protected tables scrambled with pxlib's routine for
// blob files: the engine reads them, writes them back scrambled, and pxlib
// (its routine and its reader) takes what the engine wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "platform/bde/PxBlob.h"
#include "platform/bde/PxCrypt.h"
#include "platform/bde/PxDatabase.h"
#include "tests/platform/bde/PxTestSupport.h"

// Exported by libpx but not declared in its public header: every 256 bytes
// of `size` scrambled alike under the code.
extern "C" {
void px_encrypt_mb_block(unsigned char* src, unsigned char* dest, unsigned long encryption, unsigned long blocksize);
void px_decrypt_mb_block(unsigned char* src, unsigned char* dest, unsigned long encryption, unsigned long blocksize);
}

namespace bde {
namespace {

using test::Cell;
using test::TempFolder;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kUnit = 4096;

// pxlib's routine over the file from `from` (whole 256-byte chunks).
Bytes PxlibScrambled(Bytes b, std::size_t from, bool scramble)
{
    const std::size_t size = (b.size() - from) / 256 * 256;
    if (scramble) px_encrypt_mb_block(b.data() + from, b.data() + from, PxPasswordCode("letmein"), size);
    else px_decrypt_mb_block(b.data() + from, b.data() + from, PxPasswordCode("letmein"), size);
    return b;
}

bool Contains(const Bytes& hay, const std::string& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// "" when the clear file is a header and blocks of known heads that end it.
std::string BlockHeadsProblem(const Bytes& mb)
{
    if (mb.size() < kUnit || mb[0] != 0 || PxGetU16(mb.data() + 1) != 1) return "no header";
    std::size_t pos = kUnit;
    while (pos < mb.size()) {
        const std::uint8_t type = mb[pos];
        const std::uint32_t units = pos + 3 <= mb.size() ? PxGetU16(mb.data() + pos + 1) : 0;
        if ((type != 2 && type != 3 && type != 4) || units == 0)
            return "a bad head at " + std::to_string(pos);
        pos += units * kUnit;
    }
    return pos == mb.size() ? "" : "the last block runs past the end";
}

std::string Memo(int id, std::size_t length)
{
    std::string s = "R" + std::to_string(id) + ":";
    while (s.size() < length) s.push_back(static_cast<char>('a' + (s.size() * 7 + static_cast<std::size_t>(id)) % 26));
    return s.substr(0, length);
}

// A protected table pxlib wrote with large memos (blocks of their own) and
// blank ones, its .MB plain. (The slot tables of blocks of small blobs that
// pxlib of this system writes next to large ones name one slot each; the
// small ones come from the engine.)
struct ProtectedMemos {
    TempFolder dir;
    std::map<int, std::string> memos; // id -> memo ("" blank)
    ProtectedMemos()
    {
        std::vector<std::vector<Cell>> rows;
        for (int i = 1; i <= 40; ++i) {
            const std::size_t len = i % 5 == 0 ? 0 : 2100 + 300 * static_cast<std::size_t>(i);
            memos[i] = Memo(i, len);
            rows.push_back({Cell::Long(i), len ? Cell::Text(memos[i]) : Cell::Null()});
        }
        test::PxlibWrite(dir.File("MEMOS.DB"), {{"ID", pxfLong, 4}, {"NOTE", pxfMemoBLOb, 10}}, 0, rows,
                         dir.File("MEMOS.MB"), "letmein");
    }
    PxDatabase Open() const
    {
        PxOpenOptions o;
        o.passwords = {"letmein"};
        return PxDatabase(dir.Path(), o);
    }
    std::string Mb() const { return dir.File("MEMOS.MB"); }

    // The engine reads every memo as expected.
    void ExpectEngineReads() const
    {
        PxDatabase db = Open();
        const auto t = db.OpenTable("MEMOS");
        std::map<int, std::string> got;
        for (const auto row : t->Rows()) {
            const rtl::Variant v = t->Get(row, 1);
            got[static_cast<int>(t->Get(row, 0).AsInteger())] = v.IsNull() ? "" : v.AsString();
        }
        EXPECT_EQ(got, memos);
    }
    // pxlib reads the memos through the table from the scrambled file. pxlib
    // of this system misreads the small blobs of a scrambled file (those that
    // share a block give the length of one of them), so only the large ones
    // are compared.
    void ExpectPxlibReadsLargeOnes() const
    {
        const test::PxlibTable px = test::PxlibRead(dir.File("MEMOS.DB"), Mb());
        ASSERT_TRUE(px.opened);
        std::map<int, std::string> got, want;
        for (const auto& r : px.rows) {
            const int id = std::stoi(r[0]);
            const auto it = memos.find(id);
            if (it != memos.end() && it->second.size() > 2048) got[id] = r[1];
        }
        for (const auto& [id, m] : memos)
            if (m.size() > 2048) want[id] = m;
        EXPECT_EQ(got, want);
    }
};

PxTable::RowId RowOf(PxTable& t, int id)
{
    for (const auto row : t.Rows())
        if (t.Get(row, 0).AsInteger() == id) return row;
    ADD_FAILURE() << "no record " << id;
    return 0;
}

// Inserts, grows, shortens, blanks and deletes memos; `memos` follows.
void ChangeMemos(ProtectedMemos& f, const std::string& marker, int base)
{
    PxDatabase db = f.Open();
    const auto t = db.OpenTable("MEMOS");
    for (int i = 0; i < 12; ++i) {
        const int id = base + i;
        f.memos[id] = marker + Memo(id, i % 3 == 2 ? 9000 : 40 + 150 * static_cast<std::size_t>(i));
        t->Insert({rtl::Variant(id), rtl::Variant(f.memos[id])});
    }
    const std::vector<std::pair<int, std::string>> updates = {
        {1, marker + Memo(1, 20000)}, // longer
        {2, marker + Memo(2, 100)},   // large to small
        {3, ""},                      // blanked
        {5, marker + Memo(5, 700)},   // blank to small
        {base + 1, marker + Memo(base + 1, 50)}, // small to smaller
    };
    for (const auto& [id, m] : updates) {
        t->Update(RowOf(*t, id), {{1, m.empty() ? rtl::Variant::Null() : rtl::Variant(m)}});
        f.memos[id] = m;
    }
    for (const int id : {base / 100 + 5, base + 2, base + 3}) {
        t->Delete(RowOf(*t, id));
        f.memos.erase(id);
    }
}

TEST(PxBlobCrypt, ABlobFileScrambledWithPxlibsRoutineIsReadAndWrittenBackScrambled)
{
    // pxlib's routine over the blocks only, and over the header too.
    for (const std::size_t from : {kUnit, std::size_t{0}}) {
        SCOPED_TRACE(from ? "header in the clear" : "header scrambled");
        ProtectedMemos f;
        f.ExpectEngineReads();
        // Memos the engine wrote into the plain file first: it stays plain.
        ChangeMemos(f, "first-marker", 100);
        const Bytes plain = test::ReadFileBytes(f.Mb());
        ASSERT_TRUE(Contains(plain, "first-marker")) << "a plain blob file stays plain";
        ASSERT_EQ(BlockHeadsProblem(plain), "");
        f.ExpectEngineReads();

        const Bytes scrambled = PxlibScrambled(plain, from, true);
        test::WriteFileBytes(f.Mb(), scrambled);
        ASSERT_FALSE(Contains(scrambled, "first-marker"));
        f.ExpectEngineReads();
        f.ExpectPxlibReadsLargeOnes();

        ChangeMemos(f, "second-marker", 200);
        const Bytes after = test::ReadFileBytes(f.Mb());
        EXPECT_FALSE(Contains(after, "second-marker")) << "the changes are scrambled";
        EXPECT_FALSE(Contains(after, "first-marker"));
        EXPECT_EQ(std::equal(after.begin(), after.begin() + 256, scrambled.begin()), false)
            << "the modification count of the header changed";
        EXPECT_EQ(after[0] == 0 && PxGetU16(after.data() + 1) == 1, from != 0) << "the header is as it was found";
        f.ExpectEngineReads();
        f.ExpectPxlibReadsLargeOnes();

        // pxlib's routine turns what the engine wrote into a valid plain file.
        const Bytes clear = PxlibScrambled(after, from, false);
        EXPECT_EQ(BlockHeadsProblem(clear), "");
        EXPECT_TRUE(Contains(clear, "second-marker"));
        test::WriteFileBytes(f.Mb(), clear);
        f.ExpectEngineReads();
    }
}

TEST(PxBlobCrypt, ANewBlobFileOfAProtectedTableHasScrambledBlocks)
{
    TempFolder dir;
    test::PxlibWrite(dir.File("MEMOS.DB"), {{"ID", pxfLong, 4}, {"NOTE", pxfMemoBLOb, 10}}, 0,
                     {{Cell::Long(1), Cell::Null()}}, "", "letmein");
    ASSERT_FALSE(std::filesystem::exists(dir.File("MEMOS.MB")));
    PxOpenOptions o;
    o.passwords = {"letmein"};
    const std::string big = "new-marker" + Memo(2, 6000);
    {
        PxDatabase db(dir.Path(), o);
        const auto t = db.OpenTable("MEMOS");
        t->Insert({rtl::Variant(2), rtl::Variant(big)});
        t->Insert({rtl::Variant(3), rtl::Variant("new-marker small")});
    }
    const Bytes mb = test::ReadFileBytes(dir.File("MEMOS.MB"));
    EXPECT_FALSE(Contains(mb, "new-marker"));
    EXPECT_TRUE(mb.size() >= kUnit && mb[0] == 0 && PxGetU16(mb.data() + 1) == 1) << "the header in the clear";
    const Bytes clear = PxlibScrambled(mb, kUnit, false);
    EXPECT_EQ(BlockHeadsProblem(clear), "");
    EXPECT_TRUE(Contains(clear, "new-marker"));

    const test::PxlibTable px = test::PxlibRead(dir.File("MEMOS.DB"), dir.File("MEMOS.MB"));
    ASSERT_EQ(px.rows.size(), 3u);
    EXPECT_EQ(px.rows[1][1], big);

    PxDatabase db(dir.Path(), o);
    const auto t = db.OpenTable("MEMOS");
    const auto rows = t->Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(t->Get(rows[1], 1).AsString(), big);
    EXPECT_EQ(t->Get(rows[2], 1).AsString(), "new-marker small");
}

// Applies what the blob file has to write to its file.
void WriteOut(PxBlobFile& mb)
{
    const PxFileChanges ch = mb.CollectWrites();
    for (const auto& w : ch.writes) mb.File().WriteAt(w.offset, w.bytes.data(), w.bytes.size());
    if (ch.resize) mb.File().Truncate(ch.newSize);
    mb.MarkClean();
}

// The same blobs stored under a code and without one: pxlib's routine turns
// the scrambled blocks into the plain ones byte for byte, whatever the code's
// bytes (their ends included), and the file reads back scrambled.
TEST(PxBlobCrypt, ScrambledBlocksAreThoseOfPxlibsRoutineForAnyCode)
{
    TempFolder dir;
    const std::uint32_t codes[] = {PxPasswordCode("letmein"), 0x000000FFu, 0x0000FF00u, 0x0000FFFFu, 0x12340001u, 0xFFFFFFFFu};
    const int leader = 10;
    for (const std::uint32_t code : codes) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        std::map<std::uint32_t, Bytes> files;
        std::vector<Bytes> fields;
        for (const std::uint32_t c : {0u, code}) {
            const std::string path = dir.File("B" + std::to_string(c) + ".MB");
            std::remove(path.c_str());
            PxBlobFile mb(path, PxDefaultFileSystem().Open(path, PxOpenMode::Create), true, c);
            EXPECT_EQ(mb.BlocksScrambled(), c != 0);
            fields.assign(5, Bytes(leader + kPxBlobFieldExtra));
            for (std::size_t i = 0; i < fields.size(); ++i) {
                const std::string m = Memo(static_cast<int>(i), 100 + 3000 * i);
                mb.Store(fields[i].data(), leader, Bytes(m.begin(), m.end()));
            }
            mb.Free(fields[1].data(), leader);
            WriteOut(mb);
            files[c] = test::ReadFileBytes(path);
        }
        const Bytes& plain = files[0];
        Bytes scrambled = files[code];
        ASSERT_EQ(scrambled.size(), plain.size());
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + kUnit, scrambled.begin())) << "the header in the clear";
        EXPECT_NE(scrambled, plain);
        px_decrypt_mb_block(scrambled.data() + kUnit, scrambled.data() + kUnit, code, scrambled.size() - kUnit);
        EXPECT_EQ(scrambled, plain);

        const std::string path = dir.File("B" + std::to_string(code) + ".MB");
        PxBlobFile again(path, PxDefaultFileSystem().Open(path, PxOpenMode::ReadWrite), code);
        EXPECT_TRUE(again.BlocksScrambled());
        EXPECT_FALSE(again.HeaderScrambled());
        EXPECT_TRUE(again.Writable());
        for (const std::size_t i : {0u, 2u, 3u, 4u}) {
            const std::string m = Memo(static_cast<int>(i), 100 + 3000 * i);
            EXPECT_EQ(again.Read(fields[i].data(), leader), Bytes(m.begin(), m.end()));
        }
    }
}

// Which way a file is read is told from its block heads: a plain file of a
// protected table is plain, one scrambled is scrambled, even cut short; a
// file whose heads are bad both ways reads what it can and refuses changes.
TEST(PxBlobCrypt, PlainAndScrambledAreToldApartByTheBlockHeads)
{
    ProtectedMemos f;
    const Bytes plain = test::ReadFileBytes(f.Mb());
    const std::uint32_t code = PxPasswordCode("letmein");
    Bytes cutInLastBlock = PxlibScrambled(plain, kUnit, true);
    cutInLastBlock.resize(cutInLastBlock.size() - kUnit / 2);
    Bytes badHead = plain;
    badHead[kUnit] = 0x77; // the first block's type
    const Bytes badBothWays = PxlibScrambled(badHead, kUnit, true);
    const struct {
        const char* what;
        Bytes bytes;
        bool scrambled;
        bool writable;
    } cases[] = {
        {"plain", plain, false, true},
        {"scrambled", PxlibScrambled(plain, kUnit, true), true, true},
        {"scrambled with its header", PxlibScrambled(plain, 0, true), true, true},
        {"scrambled, cut in its last block", cutInLastBlock, true, true},
        {"a head bad both ways", badBothWays, false, false},
        {"the header alone, plain", Bytes(plain.begin(), plain.begin() + kUnit), false, true},
        {"the header alone, scrambled", PxlibScrambled(Bytes(plain.begin(), plain.begin() + kUnit), 0, true), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFileBytes(f.Mb(), c.bytes);
        PxBlobFile mb(f.Mb(), PxDefaultFileSystem().Open(f.Mb(), PxOpenMode::Read), code);
        EXPECT_EQ(mb.BlocksScrambled(), c.scrambled);
        EXPECT_EQ(mb.Writable(), c.writable);
    }

    // The large memos of the file cut short that lie before the cut still read.
    test::WriteFileBytes(f.Mb(), cutInLastBlock);
    PxDatabase db = f.Open();
    const auto t = db.OpenTable("MEMOS");
    int read = 0;
    for (const auto row : t->Rows()) {
        const int id = static_cast<int>(t->Get(row, 0).AsInteger());
        if (id >= 30) continue;
        const rtl::Variant v = t->Get(row, 1);
        EXPECT_EQ(v.IsNull() ? "" : v.AsString(), f.memos.at(id));
        ++read;
    }
    EXPECT_EQ(read, 29);
}

} // namespace
} // namespace bde
