// POSIX implementation of the engine's file system.
#include "platform/bde/PxIo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"

namespace bde {

namespace {

constexpr const char* SIoFailed = "%s of \"%s\" failed: %s";
constexpr const char* STruncated = "File \"%s\" is truncated";

[[noreturn]] void Fail(const char* what, const std::string& path, int error)
{
    throw EPxIoError(rtl::Format(SIoFailed, what, path.c_str(), rtl::SysErrorMessage(error).c_str()));
}

class PosixFile final : public PxFile {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override
    {
        auto* p = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t r = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                Fail("Reading", path_, errno);
            }
            if (r == 0) break;
            done += static_cast<std::size_t>(r);
        }
        return done;
    }

    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) override
    {
        const auto* p = static_cast<const char*>(buffer);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t r = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                Fail("Writing", path_, errno);
            }
            done += static_cast<std::size_t>(r);
        }
    }

    std::uint64_t Size() override
    {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) Fail("Reading the size", path_, errno);
        return static_cast<std::uint64_t>(st.st_size);
    }

    void Truncate(std::uint64_t size) override
    {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("Truncating", path_, errno);
    }

    void Sync() override
    {
        // The bytes and what reading them back needs (the size), not the
        // times: a change that keeps the file's size costs no inode write.
        if (::fdatasync(fd_) != 0) Fail("Flushing", path_, errno);
    }

    // A failure here shows again at the Sync that follows.
    void StartSync() override { (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE); }

    const std::string& Path() const override { return path_; }

private:
    int fd_;
    std::string path_;
};

class PosixFileSystem final : public PxFileSystem {
public:
    std::unique_ptr<PxFile> Open(const std::string& path, PxOpenMode mode) override
    {
        int flags = O_CLOEXEC;
        switch (mode) {
        case PxOpenMode::Read: flags |= O_RDONLY; break;
        case PxOpenMode::ReadWrite: flags |= O_RDWR; break;
        case PxOpenMode::Create: flags |= O_RDWR | O_CREAT | O_EXCL; break;
        }
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0) Fail(mode == PxOpenMode::Create ? "Creating" : "Opening", path, errno);
        return std::make_unique<PosixFile>(fd, path);
    }

    bool Exists(const std::string& path) override
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool IsLink(const std::string& path) override
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    void Remove(const std::string& path) override
    {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail("Removing", path, errno);
    }

    void Rename(const std::string& from, const std::string& to) override
    {
        if (Exists(to)) Fail("Renaming", from, EEXIST);
        if (::rename(from.c_str(), to.c_str()) != 0) Fail("Renaming", from, errno);
    }

    std::vector<std::string> List(const std::string& folder) override
    {
        std::vector<std::string> names;
        DIR* d = ::opendir(folder.c_str());
        if (!d) Fail("Listing", folder, errno);
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (Exists(PxJoinPath(folder, name))) names.push_back(name);
        }
        ::closedir(d);
        return names;
    }

    void SyncFolder(const std::string& folder) override
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) Fail("Opening", folder, errno);
        const int r = ::fsync(fd);
        const int e = errno;
        ::close(fd);
        if (r != 0 && e != EINVAL) Fail("Flushing", folder, e);
    }

    bool FolderExists(const std::string& folder) override { return rtl::DirectoryExists(folder); }

    std::string CanonicalFolder(const std::string& folder) override
    {
        char* resolved = ::realpath(folder.c_str(), nullptr);
        if (!resolved) return folder;
        std::string result(resolved);
        std::free(resolved);
        return result;
    }
};

} // namespace

void PxFile::ReadExact(std::uint64_t offset, void* buffer, std::size_t size)
{
    if (ReadAt(offset, buffer, size) != size) throw EPxIoError(rtl::Format(STruncated, Path().c_str()));
}

std::vector<std::uint8_t> PxFile::ReadAll()
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Size()));
    bytes.resize(ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
}

PxFileSystem& PxDefaultFileSystem()
{
    static PosixFileSystem fs;
    return fs;
}

bool PxIsFamilyExtension(std::string_view ext) noexcept
{
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    if (ext == "DB" || ext == "PX" || ext == "MB" || ext == "VAL" || ext == "TV" || ext == "FAM") return true;
    if (ext.size() != 3 || (ext[0] != 'X' && ext[0] != 'Y')) return false;
    return ext[1] == 'G' || (hex(ext[1]) && hex(ext[2]));
}

bool PxIsTableFileName(std::string_view name) noexcept
{
    const std::string_view trash = kPxTrashSuffix;
    if (name.size() > trash.size() && name.substr(name.size() - trash.size()) == trash)
        name.remove_suffix(trash.size());
    if (name.empty() || name.size() > 255) return false;
    for (char c : name)
        if (c == '/' || c == '\0') return false;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return false;
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return PxIsFamilyExtension(ext);
}

std::string PxJoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

} // namespace bde
