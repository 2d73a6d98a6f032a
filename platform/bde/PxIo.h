// The file system as the table engine sees it: random-access files and the
// few folder operations it needs, behind an interface so that tests can put a
// layer in between that fails a chosen write (full disk, I/O error, a process
// killed at that point).
//
// Every failure is an EPxIoError naming the file. Paths are full Linux paths.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bde/PxFormat.h"

namespace bde {

class EPxIoError : public EPxError {
public:
    using EPxError::EPxError;
};

class PxFile {
public:
    virtual ~PxFile() = default;
    // Reads up to `size` bytes at `offset`; returns the bytes read (fewer at the
    // end of the file).
    virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) = 0;
    // Writes all `size` bytes at `offset` (or raises).
    virtual void WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) = 0;
    virtual std::uint64_t Size() = 0;
    virtual void Truncate(std::uint64_t size) = 0;
    // Makes the written bytes durable (fdatasync: the bytes and the size).
    virtual void Sync() = 0;
    // Starts writing the written bytes out without waiting, so that the
    // Syncs of several files overlap (a hint: only Sync makes them durable).
    virtual void StartSync() {}
    virtual const std::string& Path() const = 0;

    // Reads exactly `size` bytes or raises EPxIoError ("... is truncated").
    void ReadExact(std::uint64_t offset, void* buffer, std::size_t size);
    std::vector<std::uint8_t> ReadAll();
};

enum class PxOpenMode {
    Read,         // existing file, read only
    ReadWrite,    // existing file
    Create,       // new file; fails when it exists
};

class PxFileSystem {
public:
    virtual ~PxFileSystem() = default;
    virtual std::unique_ptr<PxFile> Open(const std::string& path, PxOpenMode mode) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // The path is a symbolic link (whatever it points at).
    virtual bool IsLink(const std::string& path) = 0;
    virtual void Remove(const std::string& path) = 0;
    // Fails when `to` exists.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // Names (not paths) of the regular files of a folder.
    virtual std::vector<std::string> List(const std::string& folder) = 0;
    // Makes the folder's entries (created, removed, renamed files) durable.
    virtual void SyncFolder(const std::string& folder) = 0;
    virtual bool FolderExists(const std::string& folder) = 0;
    // The folder's one name, links and "." / ".." resolved, so that two
    // spellings of a folder compare equal; the name as given where it
    // cannot be resolved.
    virtual std::string CanonicalFolder(const std::string& folder) { return folder; }
};

// The process's real file system (POSIX calls).
PxFileSystem& PxDefaultFileSystem();

// "folder/name" with exactly one "/" between.
std::string PxJoinPath(const std::string& folder, const std::string& name);

// What a change puts after the name of a file it drops, until it commits.
inline constexpr const char* kPxTrashSuffix = ".pxdel";

// The extension (upper case, without the dot) is one of a table's files:
// DB, PX, MB, VAL, TV, FAM, Xnn/Ynn (nn hexadecimal), XGn/YGn.
bool PxIsFamilyExtension(std::string_view upperExt) noexcept;
// A plain name of a table's file in its folder: no folder part, not "." or
// "..", a base and a family extension, maybe followed by kPxTrashSuffix.
bool PxIsTableFileName(std::string_view name) noexcept;

} // namespace bde
