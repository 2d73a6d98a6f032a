// A file system for tests that fails a chosen operation, or every operation
// from a chosen one on (a process killed there), and logs what it was asked.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/bde/PxIo.h"

namespace bde::test {

// Counts the operations that change something (writes, truncations, flushes,
// creations, renames, removals). The operation numbered `failAt` raises an
// I/O error; with `dead` every later one fails as well, as if the process had
// been killed there; with `torn` the failing write puts half of its bytes
// down first.
class FaultyFileSystem final : public PxFileSystem {
public:
    explicit FaultyFileSystem(PxFileSystem& real = PxDefaultFileSystem()) : real_(real) {}

    long failAt = 0; // 0: never
    bool dead = false;
    bool torn = false;
    long count = 0;
    bool failed = false;
    // What each counted operation was ("write NAME", "sync NAME", ...; NAME
    // without the folder), in order.
    std::vector<std::string> log;

    void Reset(long at, bool killProcess, bool tornWrite)
    {
        failAt = at;
        dead = killProcess;
        torn = tornWrite;
        count = 0;
        failed = false;
        log.clear();
    }

    // True when this operation must fail.
    bool Step(const std::string& what, const std::string& path)
    {
        log.push_back(what + " " + path.substr(path.rfind('/') + 1));
        ++count;
        if (failed && dead) return true;
        if (failAt != 0 && count == failAt) {
            failed = true;
            return true;
        }
        return false;
    }

    [[noreturn]] static void Fail(const std::string& what) { throw EPxIoError("injected failure: " + what); }

    std::unique_ptr<PxFile> Open(const std::string& path, PxOpenMode mode) override;
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    bool IsLink(const std::string& path) override { return real_.IsLink(path); }
    void Remove(const std::string& path) override
    {
        if (Step("remove", path)) Fail("remove " + path);
        real_.Remove(path);
    }
    void Rename(const std::string& from, const std::string& to) override
    {
        if (Step("rename", from)) Fail("rename " + from);
        real_.Rename(from, to);
    }
    std::vector<std::string> List(const std::string& folder) override { return real_.List(folder); }
    void SyncFolder(const std::string& folder) override
    {
        if (Step("sync folder", folder + "/")) Fail("sync " + folder);
        real_.SyncFolder(folder);
    }
    bool FolderExists(const std::string& folder) override { return real_.FolderExists(folder); }
    std::string CanonicalFolder(const std::string& folder) override { return real_.CanonicalFolder(folder); }

private:
    PxFileSystem& real_;
};

class FaultyFile final : public PxFile {
public:
    FaultyFile(FaultyFileSystem& fs, std::unique_ptr<PxFile> real) : fs_(fs), real_(std::move(real)) {}
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override
    {
        return real_->ReadAt(offset, buffer, size);
    }
    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) override
    {
        if (fs_.Step("write", Path())) {
            if (fs_.torn && !(fs_.dead && fs_.count > fs_.failAt)) real_->WriteAt(offset, buffer, size / 2);
            FaultyFileSystem::Fail("write " + Path());
        }
        real_->WriteAt(offset, buffer, size);
    }
    std::uint64_t Size() override { return real_->Size(); }
    void Truncate(std::uint64_t size) override
    {
        if (fs_.Step("truncate", Path())) FaultyFileSystem::Fail("truncate " + Path());
        real_->Truncate(size);
    }
    void Sync() override
    {
        if (fs_.Step("sync", Path())) FaultyFileSystem::Fail("sync " + Path());
        real_->Sync();
    }
    const std::string& Path() const override { return real_->Path(); }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<PxFile> real_;
};

inline std::unique_ptr<PxFile> FaultyFileSystem::Open(const std::string& path, PxOpenMode mode)
{
    if (mode == PxOpenMode::Create && Step("create", path)) Fail("create " + path);
    return std::make_unique<FaultyFile>(*this, real_.Open(path, mode));
}

} // namespace bde::test
