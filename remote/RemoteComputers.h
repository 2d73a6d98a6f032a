// Access to a computer's drives, folders, files and registry behind one
// interface, and its implementation on this computer.
//
// Listings come back as variant arrays of rows: the caller passes a
// one-dimensional array of integer field codes, and each row is an array
// with the same bounds whose element i holds the value for code i (Empty for
// a code that means nothing to the listing). A listing runs from 0 to n - 1.
//
// On Linux the file system root "/" is the computer's one drive, of the fixed
// type (3) whatever file system it holds; folders and files are Linux paths
// with "/" between components; a relative path names nothing (it is never
// resolved against the working directory). Names are compared exactly; masks
// match the last component of a path, ignoring letter case, with "*" for any
// run of characters, "?" for one character and every other character, "["
// included, standing for itself; "*.*" also matches names without a dot.
// There is no registry: reads answer Empty and writes do nothing. A file
// handle is a file descriptor, and error numbers are errno values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Variant.h"
#include "remote/OrbObjects.h"

// {6E409F01-1192-11D2-964C-00C0582075AB}
inline constexpr rtl::TGuid IID_IVelmoServerRemoteComputer{
    0x6E409F01, 0x1192, 0x11D2, {0x96, 0x4C, 0x00, 0xC0, 0x58, 0x20, 0x75, 0xAB}};

// Failures of the computer-access operations.
class ERemoteComputer : public rtl::Exception {
    using rtl::Exception::Exception;
};

// A set of drive types: bit n stands for drive type n.
using TDriveTypes = std::uint8_t;
// A registry root key (the Windows HKEY values).
using TRegRootKey = std::uint32_t;

// Drive types.
enum : std::int32_t {
    dtUnknown = 0,
    dtNoRootDir = 1,
    dtRemovable = 2,
    dtFixed = 3,
    dtRemote = 4,
    dtCDRom = 5,
    dtRamDisk = 6,
};

// The sets the dialogs pass: fixed drives only, and every type but removable.
inline constexpr TDriveTypes kFixedDrives = 1u << dtFixed;
inline constexpr TDriveTypes kAllButRemovable = 0x7B;

// Drive field codes.
enum : std::int32_t {
    dfLetter = 1,     // text of one character ("/" here)
    dfType = 2,       // integer drive type
    dfLabel = 3,      // volume label
    dfSerial = 4,     // volume serial number, signed 32-bit
    dfMaxNameLen = 5, // longest name component
    dfFlags = 6,      // file-system flags
    dfFileSystem = 7, // file-system name
};

// Folder field codes.
enum : std::int32_t {
    ffName = 1,    // folder name without path
    ffContents = 2 // bit 0: holds a file; bit 1: holds a subfolder
};

// File field codes (listings and GetFileInfo).
enum : std::int32_t {
    fiName = 1,
    fiAttributes = 2,
    fiCreationTime = 3,
    fiLastAccessTime = 4,
    fiLastWriteTime = 5,
    fiSize = 6, // the low 32 bits of the size
};

// File attribute bits.
enum : std::int32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faDirectory = 0x10,
    faNormal = 0x80,
};

// Registry root keys.
inline constexpr TRegRootKey HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr TRegRootKey HKEY_CURRENT_USER = 0x80000001u;
inline constexpr TRegRootKey HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr TRegRootKey HKEY_USERS = 0x80000003u;

class IVelmoServerRemoteComputer : public virtual rtl::RefCounted {
public:
    // One row per drive whose type is in driveTypes, in drive order.
    virtual rtl::Variant GetDrives(TDriveTypes driveTypes, const rtl::Variant& fields) = 0;
    // One row per subfolder of path; a missing path gives an empty listing.
    virtual rtl::Variant GetFolders(const std::string& path, const rtl::Variant& fields) = 0;
    // One row per file (not folder) matching mask, a path whose last
    // component may hold wildcards.
    virtual rtl::Variant GetFiles(const std::string& mask, const rtl::Variant& fields) = 0;
    // Creates path with every missing parent; true.
    virtual bool ForceFolder(const std::string& path) = 0;
    virtual rtl::Variant ReadRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                                           const rtl::Variant& defaultValue) = 0;
    virtual void WriteRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                                    const rtl::Variant& value) = 0;
    // Opens an existing file for reading; the handle.
    virtual std::int32_t OpenFile(const std::string& fileName) = 0;
    virtual std::int32_t GetFileSize(std::int32_t handle) = 0;
    // origin 0 from the start, 1 from the current position, 2 from the end;
    // the new position.
    virtual std::int32_t Seek(std::int32_t handle, std::int32_t offset, std::int32_t origin) = 0;
    // Up to count bytes.
    virtual std::string ReadFile(std::int32_t handle, std::int32_t count) = 0;
    // The number of bytes written.
    virtual std::int32_t WriteFile(std::int32_t handle, const std::string& data) = 0;
    virtual bool CloseFile(std::int32_t handle) = 0;
    // One row (not a listing) for the file or folder, or Empty.
    virtual rtl::Variant GetFileInfo(const std::string& fileName, const rtl::Variant& fields) = 0;
    virtual rtl::Variant GetRegistryKeyNames(TRegRootKey rootKey, const std::string& key) = 0;
    virtual rtl::Variant GetRegistryValueNames(TRegRootKey rootKey, const std::string& key) = 0;
    virtual std::string GetComputerName() = 0;
    // blockCount blocks of blockSize bytes from offset, offset + |step|, ...;
    // with a negative step stored last block first.
    virtual std::string ReadFileBlocks(std::int32_t handle, std::int32_t offset, std::int32_t step,
                                       std::int32_t blockSize, std::int32_t blockCount) = 0;

protected:
    ~IVelmoServerRemoteComputer() override = default;
};

using IVelmoServerRemoteComputerPtr = rtl::RefPtr<IVelmoServerRemoteComputer>;

// The operations on this computer.
class TRemoteComputer {
public:
    rtl::Variant GetDrives(TDriveTypes driveTypes, const rtl::Variant& fields);
    rtl::Variant GetFolders(const std::string& path, const rtl::Variant& fields);
    rtl::Variant GetFiles(const std::string& mask, const rtl::Variant& fields);
    // An empty path: rtl::Exception "Ошибка создания каталога ''"; a folder
    // that does not exist afterwards: ERemoteComputer "Ошибка создания папки "%s"".
    bool ForceFolder(const std::string& path);
    // Empty: there is no registry.
    rtl::Variant ReadRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                                   const rtl::Variant& defaultValue);
    // Nothing: there is no registry.
    void WriteRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                            const rtl::Variant& value);
    // ERemoteComputer "Ошибка открытия файла "%s": %d" (errno) when the file
    // cannot be opened or is a folder.
    std::int32_t OpenFile(const std::string& fileName);
    // -1 when the handle is no open file.
    std::int32_t GetFileSize(std::int32_t handle);
    // -1 on failure.
    std::int32_t Seek(std::int32_t handle, std::int32_t offset, std::int32_t origin);
    // Empty for count <= 0 and on failure.
    std::string ReadFile(std::int32_t handle, std::int32_t count);
    // 0 on failure.
    std::int32_t WriteFile(std::int32_t handle, const std::string& data);
    bool CloseFile(std::int32_t handle);
    rtl::Variant GetFileInfo(const std::string& fileName, const rtl::Variant& fields);
    // Empty: there is no registry.
    rtl::Variant GetRegistryKeyNames(TRegRootKey rootKey, const std::string& key);
    rtl::Variant GetRegistryValueNames(TRegRootKey rootKey, const std::string& key);
    std::string GetComputerName();
    // What a block cannot fill reads as zero bytes. A negative block size or
    // count, a result above 2^31 - 1 bytes or a position past 2^31 - 1:
    // ERemoteComputer "Invalid block read: ...".
    std::string ReadFileBlocks(std::int32_t handle, std::int32_t offset, std::int32_t step, std::int32_t blockSize,
                               std::int32_t blockCount);
};

// The computer-access object of this computer: every operation passes to its
// TRemoteComputer unchanged.
class TVelmoServerRemoteComputerObject : public TOrbObject, public IVelmoServerRemoteComputer {
public:
    // owner: the object that made this one, held while this one lives.
    explicit TVelmoServerRemoteComputerObject(rtl::RefPtr<rtl::RefCounted> owner = nullptr);

    rtl::Variant GetDrives(TDriveTypes driveTypes, const rtl::Variant& fields) override;
    rtl::Variant GetFolders(const std::string& path, const rtl::Variant& fields) override;
    rtl::Variant GetFiles(const std::string& mask, const rtl::Variant& fields) override;
    bool ForceFolder(const std::string& path) override;
    rtl::Variant ReadRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                                   const rtl::Variant& defaultValue) override;
    void WriteRegistryValue(TRegRootKey rootKey, const std::string& key, const std::string& name,
                            const rtl::Variant& value) override;
    std::int32_t OpenFile(const std::string& fileName) override;
    std::int32_t GetFileSize(std::int32_t handle) override;
    std::int32_t Seek(std::int32_t handle, std::int32_t offset, std::int32_t origin) override;
    std::string ReadFile(std::int32_t handle, std::int32_t count) override;
    std::int32_t WriteFile(std::int32_t handle, const std::string& data) override;
    bool CloseFile(std::int32_t handle) override;
    rtl::Variant GetFileInfo(const std::string& fileName, const rtl::Variant& fields) override;
    rtl::Variant GetRegistryKeyNames(TRegRootKey rootKey, const std::string& key) override;
    rtl::Variant GetRegistryValueNames(TRegRootKey rootKey, const std::string& key) override;
    std::string GetComputerName() override;
    std::string ReadFileBlocks(std::int32_t handle, std::int32_t offset, std::int32_t step, std::int32_t blockSize,
                               std::int32_t blockCount) override;

    rtl::RefCounted* Owner() const noexcept { return owner_.get(); }
    TRemoteComputer& Computer() const noexcept { return *computer_; }

protected:
    ~TVelmoServerRemoteComputerObject() override;

private:
    rtl::RefPtr<rtl::RefCounted> owner_;
    std::unique_ptr<TRemoteComputer> computer_;
};

// A new computer-access object for this computer.
IVelmoServerRemoteComputerPtr CreateLocalRemoteComputer();

// True when name matches mask by the rules above ("*", "?", case ignored,
// "*.*" matching every name).
bool MatchesMask(std::string_view name, std::string_view mask);
// True when text holds "*" or "?".
bool HasWildcards(std::string_view text) noexcept;
