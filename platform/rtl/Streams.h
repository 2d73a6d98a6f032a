// Byte streams: the abstract TStream with little-endian helpers, a memory
// stream and a file stream.
//
// ReadBuffer / WriteBuffer and every helper read or write exactly the bytes
// asked for or raise EReadError ("Stream read error") / EWriteError
// ("Stream write error"); Read and Write move as many bytes as they can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Begin); }
    // Bytes from the position to the end.
    std::int64_t Remaining() { return Size() - Position(); }

    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
    // Copies count bytes of source from its position (count 0: the whole of
    // source from its start); returns the bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);

    std::uint8_t ReadU8();
    std::int8_t ReadI8();
    std::uint16_t ReadU16();
    std::int16_t ReadI16();
    std::uint32_t ReadU32();
    std::int32_t ReadI32();
    std::uint64_t ReadU64();
    std::int64_t ReadI64();
    float ReadSingle();
    double ReadDouble();
    // Exactly count raw bytes.
    std::string ReadBytes(std::size_t count);

    void WriteU8(std::uint8_t v);
    void WriteI8(std::int8_t v);
    void WriteU16(std::uint16_t v);
    void WriteI16(std::int16_t v);
    void WriteU32(std::uint32_t v);
    void WriteI32(std::int32_t v);
    void WriteU64(std::uint64_t v);
    void WriteI64(std::int64_t v);
    void WriteSingle(float v);
    void WriteDouble(double v);
    void WriteBytes(std::string_view bytes);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string_view bytes);
    explicit TMemoryStream(const std::vector<std::uint8_t>& bytes);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t size) override;

    void Clear();
    const std::uint8_t* Memory() const noexcept { return data_.data(); }
    const std::vector<std::uint8_t>& Bytes() const noexcept { return data_; }
    std::string ToString() const { return std::string(data_.begin(), data_.end()); }
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& path);
    void SaveToStream(TStream& target) const;
    void SaveToFile(const std::string& path) const;

private:
    std::vector<std::uint8_t> data_;
    std::size_t position_ = 0;
};

// File open modes: one access mode or fmCreate, or-ed with one share mode.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmCreate = 0xFF00, // create or truncate, read and write
    fmShareExclusive = 0x0010, // nobody else may open the file
    fmShareDenyWrite = 0x0020, // nobody else may write
    fmShareDenyNone = 0x0040,
};

// A file opened with open(2). Share modes are kept with advisory locks
// (flock): fmShareExclusive and fmShareDenyWrite on a writer take an exclusive
// lock, fmShareDenyWrite on a reader a shared one; a lock that cannot be had
// at once fails the open. Failures: EFOpenError "Cannot open file "%s". %s",
// EFCreateError "Cannot create file "%s". %s" (the path, the system's reason).
class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, unsigned mode);
    ~TFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t size) override;

    const std::string& FileName() const noexcept { return path_; }
    void Flush();

private:
    std::string path_;
    int fd_ = -1;
};

// Whole-file helpers (EFOpenError / EFCreateError / EReadError as above).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);

} // namespace rtl
