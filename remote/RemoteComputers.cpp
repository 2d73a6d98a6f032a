// The computer-access operations on this computer, over POSIX calls.
//
// Folders are read with opendir/readdir in the order the file system gives;
// what an entry is (folder or not) is decided by stat, so links count as what
// they point to (a broken link counts as a file). File times are UTC from
// stat, cut to the 2-second steps of a DOS date and time; a time outside the
// DOS years 1980 to 2107 is Empty.
#include "remote/RemoteComputers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Texts of this unit.
constexpr const char* SCreateDirError = "Ошибка создания каталога '%s'";
constexpr const char* SCreateFolderError = "Ошибка создания папки \"%s\"";
constexpr const char* SOpenFileError = "Ошибка открытия файла \"%s\": %d";
constexpr const char* SInvalidBlockRead = "Invalid block read: offset %d, step %d, block size %d, block count %d";

constexpr char kDelim = '/';
constexpr const char* kRoot = "/";
constexpr const char* kMountTable = "/proc/self/mounts";

bool IsAbsolute(std::string_view path) noexcept
{
    return !path.empty() && path.front() == kDelim;
}

// stat of an absolute path, following links; false for a relative path.
bool StatPath(const std::string& path, struct stat& st) noexcept
{
    return IsAbsolute(path) && ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) noexcept
{
    struct stat st {};
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

// The entry of a folder listing: its name and what stat says of it.
struct Entry {
    std::string name;
    std::string path;
    struct stat st {};
    bool statOk = false;
    bool IsDir() const noexcept { return statOk && S_ISDIR(st.st_mode); }
};

// stat, or lstat when that fails (a broken link), so a link counts as what it
// points to.
bool StatOrLstat(const std::string& path, struct stat& st) noexcept
{
    return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

// Walks the entries of a folder but "." and ".."; fn returns false to stop.
// Nothing for a relative path or a folder that cannot be read.
template <class Fn>
void ForEachEntry(const std::string& folder, Fn&& fn)
{
    if (!IsAbsolute(folder)) return;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{dir};
    const std::string prefix = folder.back() == kDelim ? folder : folder + kDelim;
    while (const dirent* ent = ::readdir(dir)) {
        const std::string_view name(ent->d_name);
        if (name == "." || name == "..") continue;
        Entry e;
        e.name.assign(name);
        e.path = prefix + e.name;
        e.statOk = StatOrLstat(e.path, e.st);
        if (!fn(e)) return;
    }
}

// The field codes of a request: the bounds and the code at each position.
struct FieldCodes {
    int low = 0;
    std::vector<std::int32_t> codes;
};

FieldCodes ReadFieldCodes(const rtl::Variant& fields)
{
    FieldCodes f;
    f.low = fields.ArrayLowBound();
    const int high = fields.ArrayHighBound();
    for (std::int64_t i = f.low; i <= high; ++i) f.codes.push_back(fields.GetElement(static_cast<int>(i)).AsInteger());
    return f;
}

// A row with the bounds of the field codes, each element from value(code).
template <class ValueOf>
rtl::Variant MakeRow(const FieldCodes& fields, ValueOf&& value)
{
    const int high = static_cast<int>(fields.low + static_cast<std::int64_t>(fields.codes.size()) - 1);
    rtl::Variant row = rtl::VarArrayCreate(fields.low, high, rtl::varVariant);
    for (std::size_t i = 0; i < fields.codes.size(); ++i)
        row.PutElement(static_cast<int>(fields.low + static_cast<std::int64_t>(i)), value(fields.codes[i]));
    return row;
}

rtl::Variant MakeListing(const std::vector<rtl::Variant>& rows)
{
    return rtl::VarArrayOf(rows);
}

rtl::Variant Text(std::string text)
{
    return rtl::Variant(std::move(text));
}

// A time stamp through the DOS date and time: UTC, even seconds, 1980 to 2107.
rtl::Variant DosTime(const timespec& ts)
{
    std::tm tm{};
    const std::time_t t = ts.tv_sec;
    if (!::gmtime_r(&t, &tm)) return {};
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2107) return {};
    const int second = tm.tm_sec > 59 ? 58 : tm.tm_sec / 2 * 2;
    return rtl::Variant::DateTime(
        rtl::EncodeDateTime(year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, second, 0));
}

std::int32_t Low32(std::int64_t value) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

std::int32_t Attributes(const std::string& path, const std::string& name, const struct stat& st)
{
    std::int32_t attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= faDirectory;
    if (!name.empty() && name.front() == '.') attr |= faHidden;
    // Read-only: no write permission for anybody, or none for this process.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0) attr |= faReadOnly;
    return attr == 0 ? faNormal : attr;
}

rtl::Variant FileRow(const FieldCodes& fields, const std::string& path, const std::string& name, const struct stat& st)
{
    return MakeRow(fields, [&](std::int32_t code) -> rtl::Variant {
        switch (code) {
        case fiName: return Text(name);
        case fiAttributes: return rtl::Variant(Attributes(path, name, st));
        case fiCreationTime: return DosTime(st.st_ctim);
        case fiLastAccessTime: return DosTime(st.st_atim);
        case fiLastWriteTime: return DosTime(st.st_mtim);
        case fiSize: return rtl::Variant(S_ISDIR(st.st_mode) ? 0 : Low32(st.st_size));
        default: return {};
        }
    });
}

// The content flags of a folder: bit 0 a file, bit 1 a subfolder.
std::int32_t ContentFlags(const std::string& folder)
{
    std::int32_t flags = 0;
    ForEachEntry(folder, [&](const Entry& e) {
        flags |= e.IsDir() ? 2 : 1;
        return flags != 3;
    });
    return flags;
}

// The file system mounted at "/", from the mount table; "" when unknown.
std::string RootFileSystem()
{
    std::ifstream mounts(kMountTable);
    std::string line, type;
    while (std::getline(mounts, line)) {
        // device mount-point type options ...
        const std::size_t a = line.find(' ');
        if (a == std::string::npos) continue;
        const std::size_t b = line.find(' ', a + 1);
        if (b == std::string::npos) continue;
        const std::size_t c = line.find(' ', b + 1);
        if (line.compare(a + 1, b - a - 1, kRoot) != 0) continue;
        // A later mount on "/" hides the earlier ones.
        type = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
    }
    return type;
}

// The name a path's last component has: the text after the last "/" once
// trailing "/" are dropped; "/" for the root.
std::string LastComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == kDelim) path.remove_suffix(1);
    if (path == kRoot) return kRoot;
    return rtl::ExtractFileName(path);
}

// The characters of a name for matching: code points of valid UTF-8, and each
// byte of an invalid sequence on its own (as a value no character has).
std::u32string MatchChars(std::string_view text)
{
    std::u32string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        try {
            out.push_back(rtl::CharUpper(rtl::NextUtf8(text, pos)));
        } catch (const rtl::Exception&) {
            pos = start + 1;
            out.push_back(0x110000u + static_cast<unsigned char>(text[start]));
        }
    }
    return out;
}

bool MatchChars(const std::u32string& name, const std::u32string& mask)
{
    std::size_t n = 0, m = 0;
    std::size_t starM = std::u32string::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == U'*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (starM != std::u32string::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == U'*') ++m;
    return m == mask.size();
}

} // namespace

bool HasWildcards(std::string_view text) noexcept
{
    return text.find_first_of("*?") != std::string_view::npos;
}

bool MatchesMask(std::string_view name, std::string_view mask)
{
    if (mask == "*.*") return true;
    return MatchChars(MatchChars(name), MatchChars(mask));
}

// ---- TRemoteComputer ----------------------------------------------------------

rtl::Variant TRemoteComputer::GetDrives(TDriveTypes driveTypes, const rtl::Variant& fields)
{
    const FieldCodes codes = ReadFieldCodes(fields);
    std::vector<rtl::Variant> rows;
    if (driveTypes & (1u << dtFixed)) {
        struct statvfs vfs {};
        const bool known = ::statvfs(kRoot, &vfs) == 0;
        const std::string fileSystem = RootFileSystem();
        rows.push_back(MakeRow(codes, [&](std::int32_t code) -> rtl::Variant {
            switch (code) {
            case dfLetter: return Text(kRoot);
            case dfType: return rtl::Variant(std::int32_t{dtFixed});
            case dfLabel: return Text("");
            case dfSerial: return rtl::Variant(known ? Low32(static_cast<std::int64_t>(vfs.f_fsid)) : 0);
            case dfMaxNameLen: return rtl::Variant(known ? Low32(static_cast<std::int64_t>(vfs.f_namemax)) : 0);
            case dfFlags: return rtl::Variant(known ? Low32(static_cast<std::int64_t>(vfs.f_flag)) : 0);
            case dfFileSystem: return Text(fileSystem);
            default: return {};
            }
        }));
    }
    return MakeListing(rows);
}

rtl::Variant TRemoteComputer::GetFolders(const std::string& path, const rtl::Variant& fields)
{
    const FieldCodes codes = ReadFieldCodes(fields);
    std::vector<rtl::Variant> rows;
    ForEachEntry(path, [&](const Entry& e) {
        if (!e.IsDir()) return true;
        rows.push_back(MakeRow(codes, [&](std::int32_t code) -> rtl::Variant {
            switch (code) {
            case ffName: return Text(e.name);
            case ffContents: return rtl::Variant(ContentFlags(e.path));
            default: return {};
            }
        }));
        return true;
    });
    return MakeListing(rows);
}

rtl::Variant TRemoteComputer::GetFiles(const std::string& mask, const rtl::Variant& fields)
{
    const FieldCodes codes = ReadFieldCodes(fields);
    std::vector<rtl::Variant> rows;
    const std::string folder = rtl::ExtractFilePath(mask);
    const std::string pattern = rtl::ExtractFileName(mask);
    if (!IsAbsolute(folder) || pattern.empty()) return MakeListing(rows);
    if (!HasWildcards(pattern)) {
        // A plain name is looked up exactly.
        struct stat st {};
        if (StatOrLstat(mask, st))
            if (!S_ISDIR(st.st_mode)) rows.push_back(FileRow(codes, mask, pattern, st));
        return MakeListing(rows);
    }
    const std::u32string maskChars = MatchChars(pattern);
    const bool all = pattern == "*.*";
    ForEachEntry(folder, [&](const Entry& e) {
        if (e.IsDir() || !e.statOk) return true;
        if (all || MatchChars(MatchChars(e.name), maskChars)) rows.push_back(FileRow(codes, e.path, e.name, e.st));
        return true;
    });
    return MakeListing(rows);
}

bool TRemoteComputer::ForceFolder(const std::string& path)
{
    if (path.empty()) throw rtl::Exception(rtl::Format(SCreateDirError, path.c_str()));
    std::string dir = path;
    if (dir.back() == kDelim) dir.pop_back();
    // "" and "/" are roots; a relative path is never resolved.
    if (!dir.empty() && IsAbsolute(dir) && !IsFolder(dir)) {
        const std::string parent = rtl::ExtractFilePath(dir);
        if (parent != dir) {
            ForceFolder(parent);
            ::mkdir(dir.c_str(), 0777);
        }
    }
    if (!IsFolder(path)) throw ERemoteComputer(rtl::Format(SCreateFolderError, path.c_str()));
    return true;
}

rtl::Variant TRemoteComputer::ReadRegistryValue(TRegRootKey, const std::string&, const std::string&,
                                                const rtl::Variant&)
{
    return {};
}

void TRemoteComputer::WriteRegistryValue(TRegRootKey, const std::string&, const std::string&, const rtl::Variant&) {}

std::int32_t TRemoteComputer::OpenFile(const std::string& fileName)
{
    int error = ENOENT;
    if (IsAbsolute(fileName)) {
        // Not blocking on a pipe without a writer; blocking again once open.
        const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
                const int flags = ::fcntl(fd, F_GETFL);
                if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
                return fd;
            }
            error = EISDIR;
            ::close(fd);
        } else {
            error = errno;
        }
    }
    throw ERemoteComputer(rtl::Format(SOpenFileError, fileName.c_str(), error));
}

std::int32_t TRemoteComputer::GetFileSize(std::int32_t handle)
{
    struct stat st {};
    if (::fstat(handle, &st) != 0) return -1;
    return Low32(st.st_size);
}

std::int32_t TRemoteComputer::Seek(std::int32_t handle, std::int32_t offset, std::int32_t origin)
{
    int whence;
    switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return -1;
    }
    const off_t pos = ::lseek(handle, offset, whence);
    return pos < 0 ? -1 : Low32(pos);
}

std::string TRemoteComputer::ReadFile(std::int32_t handle, std::int32_t count)
{
    std::string data;
    if (count <= 0) return data;
    // Read in steps, so a large count costs memory only for what the file holds.
    constexpr std::size_t kStep = 1 << 16;
    const std::size_t wanted = static_cast<std::size_t>(count);
    while (data.size() < wanted) {
        const std::size_t old = data.size();
        const std::size_t chunk = std::min(kStep, wanted - old);
        data.resize(old + chunk);
        const ssize_t n = ::read(handle, data.data() + old, chunk);
        if (n < 0 && errno == EINTR) {
            data.resize(old);
            continue;
        }
        data.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n <= 0) break;
    }
    return data;
}

std::int32_t TRemoteComputer::WriteFile(std::int32_t handle, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(handle, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int32_t>(done);
}

bool TRemoteComputer::CloseFile(std::int32_t handle)
{
    return ::close(handle) == 0;
}

rtl::Variant TRemoteComputer::GetFileInfo(const std::string& fileName, const rtl::Variant& fields)
{
    const FieldCodes codes = ReadFieldCodes(fields);
    if (!IsAbsolute(fileName)) return {};
    const std::string folder = rtl::ExtractFilePath(fileName);
    const std::string pattern = rtl::ExtractFileName(fileName);
    if (HasWildcards(pattern)) {
        // The first entry that matches, folder or file.
        rtl::Variant row;
        const std::u32string maskChars = MatchChars(pattern);
        const bool all = pattern == "*.*";
        ForEachEntry(folder, [&](const Entry& e) {
            if (!e.statOk || !(all || MatchChars(MatchChars(e.name), maskChars))) return true;
            row = FileRow(codes, e.path, e.name, e.st);
            return false;
        });
        return row;
    }
    struct stat st {};
    if (!StatOrLstat(fileName, st)) return {};
    return FileRow(codes, fileName, LastComponent(fileName), st);
}

rtl::Variant TRemoteComputer::GetRegistryKeyNames(TRegRootKey, const std::string&)
{
    return {};
}

rtl::Variant TRemoteComputer::GetRegistryValueNames(TRegRootKey, const std::string&)
{
    return {};
}

std::string TRemoteComputer::GetComputerName()
{
    return rtl::ComputerName();
}

std::string TRemoteComputer::ReadFileBlocks(std::int32_t handle, std::int32_t offset, std::int32_t step,
                                            std::int32_t blockSize, std::int32_t blockCount)
{
    const std::int64_t total = std::int64_t{blockSize} * blockCount;
    const std::int64_t stride = step < 0 ? -std::int64_t{step} : std::int64_t{step};
    const std::int64_t lastStart = std::int64_t{offset} + (blockCount > 0 ? (blockCount - 1) * stride : 0);
    if (blockSize < 0 || blockCount < 0 || total > INT32_MAX || offset < 0 || lastStart > INT32_MAX)
        throw ERemoteComputer(rtl::Format(SInvalidBlockRead, offset, step, blockSize, blockCount));
    std::string result(static_cast<std::size_t>(total), '\0');
    for (std::int32_t k = 0; k < blockCount; ++k) {
        const std::int64_t at = std::int64_t{offset} + k * stride;
        const std::size_t place = static_cast<std::size_t>(step >= 0 ? std::int64_t{k} * blockSize
                                                                     : std::int64_t{blockCount - 1 - k} * blockSize);
        if (::lseek(handle, static_cast<off_t>(at), SEEK_SET) < 0) continue;
        const std::string block = ReadFile(handle, blockSize);
        result.replace(place, block.size(), block);
    }
    return result;
}

// ---- TVelmoServerRemoteComputerObject -------------------------------------------

TVelmoServerRemoteComputerObject::TVelmoServerRemoteComputerObject(rtl::RefPtr<rtl::RefCounted> owner)
    : owner_(std::move(owner)), computer_(std::make_unique<TRemoteComputer>())
{
}

TVelmoServerRemoteComputerObject::~TVelmoServerRemoteComputerObject()
{
    owner_ = nullptr;
    computer_.reset();
}

rtl::Variant TVelmoServerRemoteComputerObject::GetDrives(TDriveTypes driveTypes, const rtl::Variant& fields)
{
    return computer_->GetDrives(driveTypes, fields);
}

rtl::Variant TVelmoServerRemoteComputerObject::GetFolders(const std::string& path, const rtl::Variant& fields)
{
    return computer_->GetFolders(path, fields);
}

rtl::Variant TVelmoServerRemoteComputerObject::GetFiles(const std::string& mask, const rtl::Variant& fields)
{
    return computer_->GetFiles(mask, fields);
}

bool TVelmoServerRemoteComputerObject::ForceFolder(const std::string& path)
{
    return computer_->ForceFolder(path);
}

rtl::Variant TVelmoServerRemoteComputerObject::ReadRegistryValue(TRegRootKey rootKey, const std::string& key,
                                                                 const std::string& name,
                                                                 const rtl::Variant& defaultValue)
{
    return computer_->ReadRegistryValue(rootKey, key, name, defaultValue);
}

void TVelmoServerRemoteComputerObject::WriteRegistryValue(TRegRootKey rootKey, const std::string& key,
                                                          const std::string& name, const rtl::Variant& value)
{
    computer_->WriteRegistryValue(rootKey, key, name, value);
}

std::int32_t TVelmoServerRemoteComputerObject::OpenFile(const std::string& fileName)
{
    return computer_->OpenFile(fileName);
}

std::int32_t TVelmoServerRemoteComputerObject::GetFileSize(std::int32_t handle)
{
    return computer_->GetFileSize(handle);
}

std::int32_t TVelmoServerRemoteComputerObject::Seek(std::int32_t handle, std::int32_t offset, std::int32_t origin)
{
    return computer_->Seek(handle, offset, origin);
}

std::string TVelmoServerRemoteComputerObject::ReadFile(std::int32_t handle, std::int32_t count)
{
    return computer_->ReadFile(handle, count);
}

std::int32_t TVelmoServerRemoteComputerObject::WriteFile(std::int32_t handle, const std::string& data)
{
    return computer_->WriteFile(handle, data);
}

bool TVelmoServerRemoteComputerObject::CloseFile(std::int32_t handle)
{
    return computer_->CloseFile(handle);
}

rtl::Variant TVelmoServerRemoteComputerObject::GetFileInfo(const std::string& fileName, const rtl::Variant& fields)
{
    return computer_->GetFileInfo(fileName, fields);
}

rtl::Variant TVelmoServerRemoteComputerObject::GetRegistryKeyNames(TRegRootKey rootKey, const std::string& key)
{
    return computer_->GetRegistryKeyNames(rootKey, key);
}

rtl::Variant TVelmoServerRemoteComputerObject::GetRegistryValueNames(TRegRootKey rootKey, const std::string& key)
{
    return computer_->GetRegistryValueNames(rootKey, key);
}

std::string TVelmoServerRemoteComputerObject::GetComputerName()
{
    return computer_->GetComputerName();
}

std::string TVelmoServerRemoteComputerObject::ReadFileBlocks(std::int32_t handle, std::int32_t offset,
                                                             std::int32_t step, std::int32_t blockSize,
                                                             std::int32_t blockCount)
{
    return computer_->ReadFileBlocks(handle, offset, step, blockSize, blockCount);
}

IVelmoServerRemoteComputerPtr CreateLocalRemoteComputer()
{
    return IVelmoServerRemoteComputerPtr(new TVelmoServerRemoteComputerObject());
}
