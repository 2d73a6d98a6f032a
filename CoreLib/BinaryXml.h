// The byte level of the binary XML form: the readers and writers that move
// its bytes, and the codecs of its compressed integers, strings and typed
// values. SimpleXML builds the name table and the node tree on top of them.
//
// Layout (little-endian): the 14-byte signature "< binary-xml >", the 32-bit
// Options (bit 0: names and node strings as UTF-16), the name table, the
// document's node content.
//
// The readers take their input as untrusted. Every read is checked against
// the bytes that remain, and every count against the bytes it needs at the
// least, in 64-bit arithmetic, before anything is reserved; what does not fit
// fails with "Ошибка чтения данных.". A reader also refuses what a writer
// would never produce (a compressed integer in a longer form than its value
// needs, a Boolean other than 0 and -1, a value the program's variant cannot
// hold bit for bit, UTF-16 with an unpaired surrogate), so every input that
// reads writes back to the same bytes.
//
// Text inside the program is UTF-8. 8-bit strings are Windows-1251 bytes: a
// character outside Windows-1251 cannot be written (rtl::EEncodingError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"

inline constexpr std::string_view BinaryXmlSignature = "< binary-xml >";
// Options bit 0: names, CDATA, comment and instruction data as UTF-16.
inline constexpr std::uint32_t BinXmlWideStrings = 1;

// "Ошибка чтения данных." as rtl::Exception.
[[noreturn]] void RaiseBinXmlReadError();

class TBinXmlReader {
public:
    virtual ~TBinXmlReader() = default;
    TBinXmlReader(const TBinXmlReader&) = delete;
    TBinXmlReader& operator=(const TBinXmlReader&) = delete;

    std::uint32_t Options() const noexcept { return options_; }
    // Bytes not read yet.
    std::int64_t Remaining() const noexcept { return remaining_; }

    // Exactly count bytes; the read error when fewer remain.
    void ReadBytes(void* buffer, std::size_t count);
    std::uint8_t ReadByte();
    std::int32_t ReadInt32();
    std::int32_t ReadCompressedInt();
    // A compressed count of items that take at least minBytesEach bytes each:
    // refused when negative or when the items cannot fit in what remains.
    std::int32_t ReadCount(std::int64_t minBytesEach);
    // A name or node string, 8-bit or UTF-16 by the Options, as UTF-8.
    std::string ReadString();
    rtl::Variant ReadVariantValue();

protected:
    explicit TBinXmlReader(std::int64_t remaining) noexcept : remaining_(remaining) {}
    void ReadOptions();
    // Moves count bytes that are known to remain.
    virtual void RawRead(void* buffer, std::size_t count) = 0;

private:
    std::string ReadWide(std::int32_t units);

    std::uint32_t options_ = 0;
    std::int64_t remaining_;
};

// Over a string, which must outlive the reader: the 14 bytes of the
// signature are passed unchecked, then the Options are read.
class TStrXmlReader final : public TBinXmlReader {
public:
    explicit TStrXmlReader(std::string_view data);

protected:
    void RawRead(void* buffer, std::size_t count) override;

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

// Over a stream (not owned), from its position, which is right after the
// signature, to its end, through a buffer; reads the Options first.
class TStmXmlReader final : public TBinXmlReader {
public:
    TStmXmlReader(rtl::TStream& stream, std::size_t bufferSize);

protected:
    void RawRead(void* buffer, std::size_t count) override;

private:
    rtl::TStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

class TBinXmlWriter {
public:
    virtual ~TBinXmlWriter() = default;
    TBinXmlWriter(const TBinXmlWriter&) = delete;
    TBinXmlWriter& operator=(const TBinXmlWriter&) = delete;

    std::uint32_t Options() const noexcept { return options_; }

    void WriteBytes(const void* buffer, std::size_t count);
    void WriteByte(std::uint8_t value);
    void WriteInt32(std::int32_t value);
    void WriteCompressedInt(std::int32_t value);
    // A count or length as a compressed integer (an assertion beyond 32 bits).
    void WriteCount(std::size_t count);
    // A name or node string, 8-bit or UTF-16 by the Options.
    void WriteString(std::string_view utf8);
    // "Ошибка записи значения: некорректный тип." for a type code the form
    // has no place for; nothing is written then.
    void WriteVariantValue(const rtl::Variant& value);

protected:
    explicit TBinXmlWriter(std::uint32_t options) noexcept : options_(options) {}
    // The signature and the Options.
    void WriteHeader();
    virtual void RawWrite(const void* buffer, std::size_t count) = 0;

private:
    std::uint32_t options_;
};

// Builds the binary form in a string.
class TStrXmlWriter final : public TBinXmlWriter {
public:
    TStrXmlWriter(std::uint32_t options, std::size_t bufferSize);
    // The bytes written so far; the writer is empty afterwards.
    std::string TakeResult();

protected:
    void RawWrite(const void* buffer, std::size_t count) override;

private:
    std::string result_;
};

// Writes to a stream (not owned) through a buffer. A write that does not fit
// in the free space flushes the buffer and goes to the stream directly.
// Nothing is written on destruction: Flush completes the output and raises
// the stream's write error, so a failed save is never reported as done.
class TStmXmlWriter final : public TBinXmlWriter {
public:
    TStmXmlWriter(rtl::TStream& stream, std::size_t bufferSize, std::uint32_t options);
    void Flush();

protected:
    void RawWrite(const void* buffer, std::size_t count) override;

private:
    rtl::TStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
};
