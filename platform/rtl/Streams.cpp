// Byte streams: the little-endian helpers of TStream, the memory stream and
// the file stream over open(2).
//
// The helpers assemble values byte by byte, so the stored form is the same on
// every host. The file stream keeps the share modes of the class library with
// advisory flock locks: they bind every file stream opened with a share mode
// (and any other program that takes flock locks), which is what the share
// modes are for here, keeping two of our own writers off one file. A seek
// before the start of a stream is refused on both streams alike.
#include "platform/rtl/Streams.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"

namespace rtl {

namespace {

// User-facing texts (SReadError and SWriteError live in Exceptions.h).
constexpr const char* SFOpenError = "Cannot open file \"%s\". %s";
constexpr const char* SFCreateError = "Cannot create file \"%s\". %s";
constexpr const char* SSeekError = "Stream seek error";

// Copies and whole-file reads go through buffers of this size.
constexpr std::size_t kChunk = 64 * 1024;

template <class T>
T ReadLE(TStream& stream)
{
    std::uint8_t b[sizeof(T)];
    stream.ReadBuffer(b, sizeof b);
    T v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | b[i]);
    return v;
}

template <class T>
void WriteLE(TStream& stream, T v)
{
    std::uint8_t b[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        b[i] = static_cast<std::uint8_t>(v & 0xFF);
        v = static_cast<T>(v >> 8);
    }
    stream.WriteBuffer(b, sizeof b);
}

} // namespace

// ---- TStream ----------------------------------------------------------------

std::int64_t TStream::Size()
{
    const std::int64_t pos = Seek(0, SeekOrigin::Current);
    const std::int64_t size = Seek(0, SeekOrigin::End);
    Seek(pos, SeekOrigin::Begin);
    return size;
}

// Read and Write may move fewer bytes than asked (a pipe, a signal): only a
// call that moves nothing ends the loop short.
void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        const std::size_t n = Read(p, count);
        if (n == 0) throw EReadError(SReadError);
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count)
{
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    while (count > 0) {
        const std::size_t n = Write(p, count);
        if (n == 0) throw EWriteError(SWriteError);
        p += n;
        count -= n;
    }
}

// A count of 0 (or below) copies the whole source from its start, as the
// class library does.
std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count <= 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, kChunk)));
    std::int64_t left = count;
    while (left > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, kChunk));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= static_cast<std::int64_t>(n);
    }
    return count;
}

std::uint8_t TStream::ReadU8() { return ReadLE<std::uint8_t>(*this); }
std::int8_t TStream::ReadI8() { return static_cast<std::int8_t>(ReadU8()); }
std::uint16_t TStream::ReadU16() { return ReadLE<std::uint16_t>(*this); }
std::int16_t TStream::ReadI16() { return static_cast<std::int16_t>(ReadU16()); }
std::uint32_t TStream::ReadU32() { return ReadLE<std::uint32_t>(*this); }
std::int32_t TStream::ReadI32() { return static_cast<std::int32_t>(ReadU32()); }
std::uint64_t TStream::ReadU64() { return ReadLE<std::uint64_t>(*this); }
std::int64_t TStream::ReadI64() { return static_cast<std::int64_t>(ReadU64()); }
float TStream::ReadSingle() { return std::bit_cast<float>(ReadU32()); }
double TStream::ReadDouble() { return std::bit_cast<double>(ReadU64()); }

// Read in chunks, so that a corrupt length asks for no more memory than the
// stream really holds before the read fails.
std::string TStream::ReadBytes(std::size_t count)
{
    std::string out;
    while (out.size() < count) {
        const std::size_t done = out.size();
        const std::size_t n = std::min(count - done, kChunk);
        out.resize(done + n);
        ReadBuffer(out.data() + done, n);
    }
    return out;
}

void TStream::WriteU8(std::uint8_t v) { WriteLE(*this, v); }
void TStream::WriteI8(std::int8_t v) { WriteU8(static_cast<std::uint8_t>(v)); }
void TStream::WriteU16(std::uint16_t v) { WriteLE(*this, v); }
void TStream::WriteI16(std::int16_t v) { WriteU16(static_cast<std::uint16_t>(v)); }
void TStream::WriteU32(std::uint32_t v) { WriteLE(*this, v); }
void TStream::WriteI32(std::int32_t v) { WriteU32(static_cast<std::uint32_t>(v)); }
void TStream::WriteU64(std::uint64_t v) { WriteLE(*this, v); }
void TStream::WriteI64(std::int64_t v) { WriteU64(static_cast<std::uint64_t>(v)); }
void TStream::WriteSingle(float v) { WriteU32(std::bit_cast<std::uint32_t>(v)); }
void TStream::WriteDouble(double v) { WriteU64(std::bit_cast<std::uint64_t>(v)); }
void TStream::WriteBytes(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }

// ---- TMemoryStream ----------------------------------------------------------

TMemoryStream::TMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

TMemoryStream::TMemoryStream(const std::vector<std::uint8_t>& bytes) : data_(bytes) {}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (position_ >= data_.size()) return 0;
    const std::size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

// Writing past the end grows the memory; a gap left by a seek past the end
// reads as zeros.
std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0) return 0;
    if (count > std::numeric_limits<std::size_t>::max() - position_) return 0;
    const std::size_t end = position_ + count;
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ = end;
    return count;
}

// Any position from 0 on is allowed, also past the end; one before the start
// is refused and leaves the position as it was.
std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    std::int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = static_cast<std::int64_t>(position_); break;
    case SeekOrigin::End: base = Size(); break;
    }
    if ((offset < 0 && base + offset < 0) ||
        (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset))
        throw EStreamError(SSeekError);
    position_ = static_cast<std::size_t>(base + offset);
    return static_cast<std::int64_t>(position_);
}

// Growing fills with zeros; a position past the new end moves to the end.
void TMemoryStream::SetSize(std::int64_t size)
{
    if (size < 0) throw EWriteError(SWriteError);
    data_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, data_.size());
}

void TMemoryStream::Clear()
{
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

// The whole of source from its start; the position ends at 0.
void TMemoryStream::LoadFromStream(TStream& source)
{
    source.SetPosition(0);
    const std::int64_t size = source.Size();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
    source.ReadBuffer(bytes.data(), bytes.size());
    data_ = std::move(bytes);
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path)
{
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

// The whole memory, written at target's position.
void TMemoryStream::SaveToStream(TStream& target) const
{
    target.WriteBuffer(data_.data(), data_.size());
}

void TMemoryStream::SaveToFile(const std::string& path) const
{
    TFileStream file(path, fmCreate | fmShareExclusive);
    SaveToStream(file);
}

// ---- TFileStream ------------------------------------------------------------

namespace {

// Closes a descriptor unless released: keeps the constructor's failure paths
// from leaking it.
class FdGuard {
public:
    explicit FdGuard(int fd) noexcept : fd_(fd) {}
    ~FdGuard() { if (fd_ >= 0) ::close(fd_); }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int Release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

[[noreturn]] void FailOpen(bool create, const std::string& path, int error)
{
    const std::string reason = SysErrorMessage(error);
    if (create) throw EFCreateError(Format(SFCreateError, path.c_str(), reason.c_str()));
    throw EFOpenError(Format(SFOpenError, path.c_str(), reason.c_str()));
}

} // namespace

// The access mode picks the open(2) flags; the share mode the lock:
// fmShareExclusive always an exclusive one, fmShareDenyWrite an exclusive one
// on a writer and a shared one on a reader, any other share mode none.
// fmCreate truncates only once the lock is held, so a refused create leaves
// the other holder's file as it was.
TFileStream::TFileStream(const std::string& path, unsigned mode) : path_(path)
{
    const bool create = (mode & fmCreate) == fmCreate;
    const unsigned share = mode & 0x00F0;

    int flags = O_CLOEXEC;
    bool writer = true;
    if (create) {
        flags |= O_RDWR | O_CREAT;
    } else {
        switch (mode & 0x000F) {
        case fmOpenRead: flags |= O_RDONLY; writer = false; break;
        case fmOpenWrite: flags |= O_WRONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        default: FailOpen(create, path, EINVAL);
        }
    }

    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) FailOpen(create, path, errno);
    FdGuard guard(fd);

    // open(2) lets a folder be opened for reading; a file stream is for files.
    struct stat st {};
    if (::fstat(fd, &st) != 0) FailOpen(create, path, errno);
    if (S_ISDIR(st.st_mode)) FailOpen(create, path, EISDIR);

    int lock = 0;
    if (share == fmShareExclusive) lock = LOCK_EX;
    else if (share == fmShareDenyWrite) lock = writer ? LOCK_EX : LOCK_SH;
    if (lock != 0) {
        int rc;
        do {
            rc = ::flock(fd, lock | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) FailOpen(create, path, errno);
    }

    if (create && st.st_size != 0 && ::ftruncate(fd, 0) != 0) FailOpen(create, path, errno);
    fd_ = guard.Release();
}

// Closing releases the lock; its failure has nobody to go to.
TFileStream::~TFileStream()
{
    if (fd_ >= 0) ::close(fd_);
}

// Both go on after a short transfer until the count or the end of the file;
// a failing system call (a read of a write-only file, a full disk) raises
// EReadError / EWriteError, as the class library's ReadBuffer and WriteBuffer
// would on its -1.
std::size_t TFileStream::Read(void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError(SReadError);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count)
{
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EWriteError(SWriteError);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    int whence = SEEK_SET;
    switch (origin) {
    case SeekOrigin::Begin: whence = SEEK_SET; break;
    case SeekOrigin::Current: whence = SEEK_CUR; break;
    case SeekOrigin::End: whence = SEEK_END; break;
    }
    const off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (pos < 0) throw EStreamError(SSeekError);
    return static_cast<std::int64_t>(pos);
}

std::int64_t TFileStream::Size()
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw EStreamError(SSeekError);
    return static_cast<std::int64_t>(st.st_size);
}

// As the memory stream: growing reads as zeros, a position past the new end
// moves to the end.
void TFileStream::SetSize(std::int64_t size)
{
    if (size < 0) throw EWriteError(SWriteError);
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) throw EWriteError(SWriteError);
    if (Position() > size) Seek(size, SeekOrigin::Begin);
}

// Writes go straight to the system; Flush makes them durable. Files that
// cannot be synchronised (a pipe, a terminal) have nothing to flush.
void TFileStream::Flush()
{
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) throw EWriteError(SWriteError);
}

// ---- whole files --------------------------------------------------------------

// Reads to the end rather than trusting the size: files of /proc say 0 and
// cannot seek to their end. A failing read raises (TFileStream::Read).
std::string ReadFileBytes(const std::string& path)
{
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    std::string out;
    for (;;) {
        const std::size_t done = out.size();
        out.resize(done + kChunk);
        const std::size_t n = file.Read(out.data() + done, kChunk);
        out.resize(done + n);
        if (n == 0) break;
    }
    return out;
}

void WriteFileBytes(const std::string& path, std::string_view bytes)
{
    TFileStream file(path, fmCreate | fmShareExclusive);
    file.WriteBytes(bytes);
}

} // namespace rtl
