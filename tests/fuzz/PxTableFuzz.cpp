// libFuzzer target of reading Paradox tables: the data file, the primary and
// secondary indexes, the validity checks and the blob file of a table, and
// every record of it.
//
// The first byte chooses the form of the input. Even: edits (PxFuzzSupport's
// EditFolder) of a folder the engine wrote, its tables protected by a password
// the engine is given or not, so that damage reaches deep into well-formed
// files without a seed corpus. Odd: the rest of the input, cut
// at "|" bytes, becomes the .DB, .PX, .MB, .X02, .Y02 and .VAL files of one
// table. The engine may refuse a table or a value only with its own error
// (EPxError); everything it reads must read the same a second time, through
// a folder opened anew.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/PxFuzzSupport.h"

namespace {

using pxfuzz::Bytes;
using pxfuzz::Files;

// Everything the engine reads of the folder, as text.
std::vector<std::string> ReadFolder(pxfuzz::MemoryFileSystem& fs)
{
    std::vector<std::string> out;
    bde::PxOpenOptions o;
    o.fileSystem = &fs;
    o.passwords = {pxfuzz::kPassword};
    std::unique_ptr<bde::PxDatabase> db;
    try {
        db = std::make_unique<bde::PxDatabase>(pxfuzz::kFolder, o);
    } catch (const bde::EPxError& e) {
        out.push_back(std::string("folder refused: ") + e.what());
        return out;
    }
    std::vector<std::string> names;
    try {
        names = db->TableNames();
    } catch (const bde::EPxError& e) {
        out.push_back(std::string("names refused: ") + e.what());
        return out;
    }
    for (const auto& name : names) {
        out.push_back("table " + name);
        try {
            auto t = db->OpenTable(name);
            out.push_back("fields " + std::to_string(t->Fields().size()) + " key " + std::to_string(t->KeyFieldCount()) +
                          " records " + std::to_string(t->RecordCount()) + " code page " + std::to_string(t->CodePage()));
            for (const auto& row : pxfuzz::ReadAll(*t))
                for (const auto& v : row) out.push_back(v);
            const auto indexes = t->Indexes();
            for (std::size_t i = 0; i < indexes.size(); ++i) {
                const auto rows = t->FindByIndex(static_cast<int>(i), {});
                FUZZ_CHECK(rows.size() <= static_cast<std::size_t>(t->RecordCount()));
                out.push_back("index " + std::to_string(i) + ": " + std::to_string(rows.size()));
            }
            for (const auto& p : t->IndexProblems()) out.push_back("problem " + p);
            out.push_back("verify " + t->VerifyIndexes());
        } catch (const bde::EPxError& e) {
            out.push_back(std::string("refused: ") + e.what());
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Files seed = pxfuzz::SeedFolder();
    static const Files protectedSeed = pxfuzz::ProtectedSeedFolder();
    pxfuzz::Input in(data, size);
    Files folder;
    const std::uint8_t form = in.Byte();
    if (form % 2 == 0) {
        folder = form % 4 == 0 ? seed : protectedSeed;
        pxfuzz::EditFolder(folder, in);
    } else {
        static const char* const names[] = {"T.DB", "T.PX", "T.MB", "T.X02", "T.Y02", "T.VAL"};
        std::size_t file = 0;
        Bytes cur;
        const Bytes rest = in.Rest();
        for (std::uint8_t b : rest) {
            if (b == '|' && file + 1 < std::size(names)) {
                folder[names[file++]] = cur;
                cur.clear();
            } else {
                cur.push_back(b);
            }
        }
        folder[names[file]] = cur;
    }
    pxfuzz::MemoryFileSystem fs;
    fs.SetFolder(folder);
    const auto first = ReadFolder(fs);
    // Reading changes nothing, and reads the same again.
    FUZZ_CHECK(fs.Folder() == folder);
    FUZZ_CHECK(ReadFolder(fs) == first);
    return 0;
}
