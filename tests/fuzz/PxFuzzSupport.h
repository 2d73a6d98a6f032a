// What the Paradox engine's fuzz targets share: a file system in memory
// (with a failure at a chosen step, as a killed process or a full disk
// would leave it), folders of tables made by the engine as starting points,
// and edits the fuzzer's bytes make to them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxIo.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/PxProtect.h"

namespace pxfuzz {

using Bytes = std::vector<std::uint8_t>;
// The files of a folder by name.
using Files = std::map<std::string, Bytes>;

inline constexpr const char* kFolder = "/db";

// Files live under full paths; a file's bytes stay with open handles when it
// is renamed or removed, as on a real disk. Writing past kMaxFile is a full
// disk. Operations that change something are counted; the one numbered
// `failAt` fails, and with `dead` every later one too.
class MemoryFileSystem final : public bde::PxFileSystem {
public:
    static constexpr std::uint64_t kMaxFile = 16u << 20;

    std::map<std::string, std::shared_ptr<Bytes>> files;
    // Every path the engine names is a plain name in the folder.
    static void Check(const std::string& path)
    {
        const std::string prefix = std::string(kFolder) + "/";
        FUZZ_CHECK(path.compare(0, prefix.size(), prefix) == 0);
        const std::string name = path.substr(prefix.size());
        FUZZ_CHECK(!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..");
    }
    long failAt = 0;
    bool dead = false;
    long count = 0;
    bool failed = false;

    bool Step()
    {
        ++count;
        if (failed && dead) return true;
        if (failAt != 0 && count == failAt) {
            failed = true;
            return true;
        }
        return false;
    }
    [[noreturn]] static void Fail(const std::string& what) { throw bde::EPxIoError("fuzz: " + what + " failed"); }

    std::unique_ptr<bde::PxFile> Open(const std::string& path, bde::PxOpenMode mode) override;
    bool Exists(const std::string& path) override
    {
        Check(path);
        return files.count(path) != 0;
    }
    bool IsLink(const std::string& path) override
    {
        Check(path);
        return false;
    }
    void Remove(const std::string& path) override
    {
        Check(path);
        if (Step()) Fail("remove");
        files.erase(path);
    }
    void Rename(const std::string& from, const std::string& to) override
    {
        Check(from);
        Check(to);
        if (Step()) Fail("rename");
        auto it = files.find(from);
        if (it == files.end() || files.count(to)) Fail("rename");
        auto bytes = it->second;
        files.erase(it);
        files[to] = std::move(bytes);
    }
    std::vector<std::string> List(const std::string& folder) override
    {
        std::vector<std::string> out;
        const std::string prefix = folder + "/";
        for (const auto& [path, bytes] : files)
            if (path.compare(0, prefix.size(), prefix) == 0 && path.find('/', prefix.size()) == std::string::npos)
                out.push_back(path.substr(prefix.size()));
        return out;
    }
    void SyncFolder(const std::string&) override
    {
        if (Step()) Fail("sync folder");
    }
    bool FolderExists(const std::string& folder) override { return folder == kFolder; }

    // The folder's files, and a folder made of `f`.
    Files Folder() const
    {
        Files out;
        const std::string prefix = std::string(kFolder) + "/";
        for (const auto& [path, bytes] : files)
            if (path.compare(0, prefix.size(), prefix) == 0) out[path.substr(prefix.size())] = *bytes;
        return out;
    }
    void SetFolder(const Files& f)
    {
        for (auto it = files.begin(); it != files.end();) {
            if (it->first.compare(0, 4, "/db/") == 0) it = files.erase(it);
            else ++it;
        }
        for (const auto& [name, bytes] : f) files[std::string(kFolder) + "/" + name] = std::make_shared<Bytes>(bytes);
    }
};

class MemoryFile final : public bde::PxFile {
public:
    MemoryFile(MemoryFileSystem& fs, std::shared_ptr<Bytes> bytes, std::string path, bool writable)
        : fs_(fs), bytes_(std::move(bytes)), path_(std::move(path)), writable_(writable)
    {
    }
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override
    {
        if (offset >= bytes_->size()) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes_->size() - offset));
        std::copy_n(bytes_->data() + offset, n, static_cast<std::uint8_t*>(buffer));
        return n;
    }
    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) override
    {
        if (fs_.Step() || !writable_) MemoryFileSystem::Fail("write");
        if (offset > MemoryFileSystem::kMaxFile || size > MemoryFileSystem::kMaxFile - offset) MemoryFileSystem::Fail("write (disk full)");
        if (bytes_->size() < offset + size) bytes_->resize(static_cast<std::size_t>(offset + size));
        std::copy_n(static_cast<const std::uint8_t*>(buffer), size, bytes_->data() + offset);
    }
    std::uint64_t Size() override { return bytes_->size(); }
    void Truncate(std::uint64_t size) override
    {
        if (fs_.Step() || !writable_) MemoryFileSystem::Fail("truncate");
        if (size > MemoryFileSystem::kMaxFile) MemoryFileSystem::Fail("truncate (disk full)");
        bytes_->resize(static_cast<std::size_t>(size));
    }
    void Sync() override
    {
        if (fs_.Step()) MemoryFileSystem::Fail("sync");
    }
    const std::string& Path() const override { return path_; }

private:
    MemoryFileSystem& fs_;
    std::shared_ptr<Bytes> bytes_;
    std::string path_;
    bool writable_;
};

inline std::unique_ptr<bde::PxFile> MemoryFileSystem::Open(const std::string& path, bde::PxOpenMode mode)
{
    Check(path);
    if (mode == bde::PxOpenMode::Create) {
        if (Step()) Fail("create");
        if (files.count(path)) Fail("create");
        files[path] = std::make_shared<Bytes>();
    }
    auto it = files.find(path);
    if (it == files.end()) Fail("open");
    return std::make_unique<MemoryFile>(*this, it->second, path, mode != bde::PxOpenMode::Read);
}

// ---- reading the fuzzer's bytes ----------------------------------------------

// The fuzzer's bytes, then, when they run out, bytes of a generator seeded
// with them: libFuzzer's first inputs are a few bytes long, and each of them
// still makes a whole scenario (damage, several changes) that later inputs
// refine byte by byte.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size)
    {
        for (std::size_t i = 0; i < size; ++i) state_ = (state_ ^ data[i]) * 0x100000001B3ull;
    }
    std::size_t Left() const noexcept { return static_cast<std::size_t>(end_ - p_); }
    std::uint8_t Byte()
    {
        if (p_ != end_) return *p_++;
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint8_t>(state_ >> 32);
    }
    std::uint32_t Int(int bytes)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return v;
    }
    Bytes Take(std::size_t n)
    {
        Bytes out;
        for (std::size_t i = 0; i < n; ++i) out.push_back(Byte());
        return out;
    }
    // The fuzzer's bytes that are left, and no more.
    Bytes Rest()
    {
        Bytes out(p_, end_);
        p_ = end_;
        return out;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::uint64_t state_ = 0xCBF29CE484222325ull;
};

// Edits a folder of files: each edit names a file (by its place in the
// folder's order), where in it (anywhere; in a record of a data file, found
// through the file's header; or near the start of a block, where blocks keep
// their counts and links and the blob file its slots) and the bytes to put
// there, or cuts the file. The number of edits comes first.
inline void EditFolder(Files& f, Input& in)
{
    if (f.empty()) return;
    const int edits = in.Byte() % 8;
    for (int e = 0; e < edits; ++e) {
        auto it = f.begin();
        std::advance(it, in.Byte() % f.size());
        Bytes& b = it->second;
        const std::uint8_t kind = in.Byte();
        std::uint64_t at = in.Int(3);
        const bool blobFile = it->first.size() > 3 && (it->first.compare(it->first.size() - 3, 3, ".MB") == 0);
        const std::size_t recordSize = b.size() >= 6 ? static_cast<std::size_t>(b[0] | b[1] << 8) : 0;
        const std::size_t headerSize = b.size() >= 6 ? static_cast<std::size_t>(b[2] | b[3] << 8) : 0;
        const std::size_t blockSize = blobFile ? 4096 : (b.size() >= 6 ? static_cast<std::size_t>(b[5]) * 1024 : 0);
        switch (kind % 8) {
        case 0:
            b.resize(std::min<std::size_t>(b.size(), at)); // a cut
            continue;
        case 1:
        case 2: // a record of a data-layout file
            if (!blobFile && recordSize > 0 && blockSize > 6)
                at = headerSize + (at & 0xFF) % 64 * blockSize + 6 + (at >> 8 & 0xFF) % 16 * recordSize + (at >> 16) % recordSize;
            break;
        case 3:
        case 4: // the start of a block
            if (blockSize > 0) at = (blobFile ? 0 : headerSize) + (at & 0xFFF) % 64 * blockSize + (at >> 12) % 512;
            break;
        default:
            break;
        }
        const Bytes bytes = in.Take(1 + kind / 8 % 16);
        if (b.empty()) continue;
        const std::size_t pos = static_cast<std::size_t>(at % b.size());
        for (std::size_t i = 0; i < bytes.size() && pos + i < b.size(); ++i) b[pos + i] = bytes[i];
    }
}

// ---- folders to start from ------------------------------------------------------

inline rtl::Variant Memo(int id, int size) { return rtl::Variant(std::string(static_cast<std::size_t>(size), static_cast<char>('a' + id % 26))); }

// KEYED: a key, text, a number, a memo (inline, small blob or block of its
// own), with a single-field and a two-field secondary index, in 1 KiB
// blocks of a few records; HEAP: an unkeyed table with an autoincrement.
inline Files SeedFolder()
{
    MemoryFileSystem fs;
    bde::PxOpenOptions o;
    o.fileSystem = &fs;
    {
        bde::PxDatabase db(kFolder, o);
        bde::PxTableSpec s;
        s.fields = {{"ID", bde::PxFieldType::Long, 0},
                    {"NAME", bde::PxFieldType::Alpha, 100},
                    {"G", bde::PxFieldType::Short, 0},
                    {"NOTE", bde::PxFieldType::Memo, 8},
                    {"DATA", bde::PxFieldType::Blob, 0}};
        s.keyFieldCount = 1;
        s.secondaryIndexes = {{"", {"G"}}, {"ByName", {"NAME", "G"}}};
        bde::PxCreateOptions c;
        c.blockSize = 1024;
        auto t = db.CreateTable("KEYED", s, c);
        const int sizes[] = {0, 5, 100, 3000};
        for (int id = 1; id <= 12; ++id)
            t->Insert({rtl::Variant(id * 10), rtl::Variant("NAME" + std::to_string(id)),
                       rtl::Variant::SmallInt(static_cast<std::int16_t>(id % 4)), Memo(id, sizes[id % 4]),
                       id % 3 == 0 ? rtl::Variant(rtl::ByteArray(static_cast<std::size_t>(id * 50), 0x5A)) : rtl::Variant::Null()});
        bde::PxTableSpec h;
        h.fields = {{"N", bde::PxFieldType::AutoInc, 0}, {"TEXT", bde::PxFieldType::Alpha, 20}, {"WHEN", bde::PxFieldType::Date, 0}};
        auto heap = db.CreateTable("HEAP", h);
        for (int i = 0; i < 5; ++i) heap->Insert({rtl::Variant::Null(), rtl::Variant("row " + std::to_string(i)), rtl::Variant::Null()});
    }
    return fs.Folder();
}

// The seed folder with its tables protected by kPassword.
inline constexpr const char* kPassword = "fuzz";
inline Files ProtectedSeedFolder()
{
    Files folder = SeedFolder();
    for (auto& [name, bytes] : folder)
        if (testing_support::IsProtectedPxFile(name)) testing_support::ProtectPxFileBytes(bytes, bde::PxPasswordCode(kPassword));
    return folder;
}

// Every value of every record of a table, as text ("!" for one that does
// not read), in the table's order.
inline std::vector<std::vector<std::string>> ReadAll(bde::PxTable& t)
{
    std::vector<std::vector<std::string>> rows;
    const int n = static_cast<int>(t.Fields().size());
    for (auto r : t.Rows()) {
        std::vector<std::string> row;
        for (int f = 0; f < n; ++f) {
            rtl::Variant v;
            try {
                v = t.Get(r, f);
            } catch (const bde::EPxError&) {
                row.push_back("!");
                continue;
            }
            try {
                if (v.IsNull()) row.push_back("null");
                else if (v.IsByteArray()) row.push_back("bytes " + std::string(v.AsBytes().begin(), v.AsBytes().end()));
                else row.push_back(v.AsString());
            } catch (const rtl::Exception&) {
                row.push_back("?"); // a value of no text form (a date beyond the calendar)
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace pxfuzz
