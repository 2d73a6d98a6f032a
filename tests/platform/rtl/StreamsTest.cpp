// Streams: the little-endian helpers against bytes written by hand, the
// memory stream, and the file stream's modes, failures and share locks.
#include "platform/rtl/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "tests/platform/rtl/TempFolder.h"

namespace rtl {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs f and expects it to raise E with exactly this message.
template <class E, class F>
void ExpectError(F&& f, const std::string& message, const std::string& what = {})
{
    try {
        f();
        ADD_FAILURE() << what << ": nothing was raised, expected \"" << message << "\"";
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message) << what;
    }
}

// ---- little-endian helpers ----------------------------------------------------

struct LeCase {
    const char* what;
    Bytes bytes;
    void (*write)(TStream&);
    bool (*readBack)(TStream&); // reads one value, true when it is the written one
};

const LeCase kLeCases[] = {
    {"U8 0xAB", {0xAB}, [](TStream& s) { s.WriteU8(0xAB); }, [](TStream& s) { return s.ReadU8() == 0xAB; }},
    {"I8 -2", {0xFE}, [](TStream& s) { s.WriteI8(-2); }, [](TStream& s) { return s.ReadI8() == -2; }},
    {"U16 0x0102", {0x02, 0x01}, [](TStream& s) { s.WriteU16(0x0102); },
     [](TStream& s) { return s.ReadU16() == 0x0102; }},
    {"U16 0xFFF3", {0xF3, 0xFF}, [](TStream& s) { s.WriteU16(0xFFF3); },
     [](TStream& s) { return s.ReadU16() == 0xFFF3; }},
    {"I16 -2", {0xFE, 0xFF}, [](TStream& s) { s.WriteI16(-2); }, [](TStream& s) { return s.ReadI16() == -2; }},
    {"I16 min", {0x00, 0x80}, [](TStream& s) { s.WriteI16(std::numeric_limits<std::int16_t>::min()); },
     [](TStream& s) { return s.ReadI16() == std::numeric_limits<std::int16_t>::min(); }},
    {"U32 0x01020304", {0x04, 0x03, 0x02, 0x01}, [](TStream& s) { s.WriteU32(0x01020304); },
     [](TStream& s) { return s.ReadU32() == 0x01020304; }},
    {"U32 0xFFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF}, [](TStream& s) { s.WriteU32(0xFFFFFFFF); },
     [](TStream& s) { return s.ReadU32() == 0xFFFFFFFF; }},
    {"I32 -2", {0xFE, 0xFF, 0xFF, 0xFF}, [](TStream& s) { s.WriteI32(-2); },
     [](TStream& s) { return s.ReadI32() == -2; }},
    {"I32 287", {0x1F, 0x01, 0x00, 0x00}, [](TStream& s) { s.WriteI32(287); },
     [](TStream& s) { return s.ReadI32() == 287; }},
    {"U64 0x0102030405060708", {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01},
     [](TStream& s) { s.WriteU64(0x0102030405060708ULL); },
     [](TStream& s) { return s.ReadU64() == 0x0102030405060708ULL; }},
    {"I64 -2", {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, [](TStream& s) { s.WriteI64(-2); },
     [](TStream& s) { return s.ReadI64() == -2; }},
    {"I64 min", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},
     [](TStream& s) { s.WriteI64(std::numeric_limits<std::int64_t>::min()); },
     [](TStream& s) { return s.ReadI64() == std::numeric_limits<std::int64_t>::min(); }},
    {"Single 1.0", {0x00, 0x00, 0x80, 0x3F}, [](TStream& s) { s.WriteSingle(1.0f); },
     [](TStream& s) { return s.ReadSingle() == 1.0f; }},
    {"Single -2.5", {0x00, 0x00, 0x20, 0xC0}, [](TStream& s) { s.WriteSingle(-2.5f); },
     [](TStream& s) { return s.ReadSingle() == -2.5f; }},
    {"Double 1.0", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}, [](TStream& s) { s.WriteDouble(1.0); },
     [](TStream& s) { return s.ReadDouble() == 1.0; }},
    {"Double -0.5", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xBF}, [](TStream& s) { s.WriteDouble(-0.5); },
     [](TStream& s) { return s.ReadDouble() == -0.5; }},
    {"Bytes with 00 and FF", {0x61, 0x00, 0xFF, 0x62}, [](TStream& s) { s.WriteBytes(std::string("a\0\xFF" "b", 4)); },
     [](TStream& s) { return s.ReadBytes(4) == std::string("a\0\xFF" "b", 4); }},
};

TEST(StreamHelpers, WritesGiveTheBytesWrittenByHand)
{
    for (const LeCase& c : kLeCases) {
        TMemoryStream m;
        c.write(m);
        EXPECT_EQ(m.Bytes(), c.bytes) << c.what;
        EXPECT_EQ(m.Position(), static_cast<std::int64_t>(c.bytes.size())) << c.what;
    }
}

TEST(StreamHelpers, ReadsOfTheBytesWrittenByHandGiveTheValue)
{
    for (const LeCase& c : kLeCases) {
        TMemoryStream m(c.bytes);
        EXPECT_TRUE(c.readBack(m)) << c.what;
        EXPECT_EQ(m.Remaining(), 0) << c.what;
    }
}

TEST(StreamHelpers, ReadsPastTheEndRaiseReadError)
{
    for (const LeCase& c : kLeCases) {
        TMemoryStream m(Bytes(c.bytes.begin(), c.bytes.end() - 1));
        ExpectError<EReadError>([&] { c.readBack(m); }, "Stream read error", c.what);
        TMemoryStream empty;
        ExpectError<EReadError>([&] { c.readBack(empty); }, "Stream read error", std::string(c.what) + " (empty)");
    }
}

TEST(StreamHelpers, ReadBytesOfAHugeCountFailsWithoutTakingTheMemory)
{
    TMemoryStream m(std::string_view("abc"));
    ExpectError<EReadError>([&] { m.ReadBytes(std::numeric_limits<std::size_t>::max() / 2); }, "Stream read error");
}

TEST(StreamHelpers, ReadBytesOfZeroIsEmpty)
{
    TMemoryStream m;
    EXPECT_EQ(m.ReadBytes(0), "");
}

// A stream that hands out one byte per Read, as a pipe may.
class TrickleStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::size_t Read(void* buffer, std::size_t count) override
    {
        return TMemoryStream::Read(buffer, std::min<std::size_t>(count, 1));
    }
};

// A stream that takes no more than capacity bytes.
class FullStream : public TMemoryStream {
public:
    explicit FullStream(std::int64_t capacity) : capacity_(capacity) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::int64_t room = std::max<std::int64_t>(capacity_ - Position(), 0);
        return TMemoryStream::Write(buffer, std::min<std::size_t>(count, static_cast<std::size_t>(room)));
    }

private:
    std::int64_t capacity_;
};

TEST(StreamHelpers, ReadBufferGathersShortReads)
{
    TrickleStream s(Bytes{0x04, 0x03, 0x02, 0x01});
    EXPECT_EQ(s.ReadU32(), 0x01020304u);
}

TEST(StreamHelpers, WriteBufferRaisesWriteErrorWhenTheStreamTakesFewerBytes)
{
    FullStream s(2);
    ExpectError<EWriteError>([&] { s.WriteU32(1); }, "Stream write error");
    EXPECT_EQ(s.Size(), 2);
    ExpectError<EWriteError>([&] { s.WriteU8(1); }, "Stream write error");
}

// ---- CopyFrom -------------------------------------------------------------------

TEST(StreamCopy, CountZeroCopiesTheWholeSourceFromItsStart)
{
    TMemoryStream source(std::string_view("abcdef"));
    source.SetPosition(4);
    TMemoryStream target(std::string_view("XY"));
    target.SetPosition(2);
    EXPECT_EQ(target.CopyFrom(source, 0), 6);
    EXPECT_EQ(target.ToString(), "XYabcdef");
    EXPECT_EQ(source.Position(), 6);
}

TEST(StreamCopy, CountCopiesFromTheSourcePosition)
{
    TMemoryStream source(std::string_view("abcdef"));
    source.SetPosition(1);
    TMemoryStream target;
    EXPECT_EQ(target.CopyFrom(source, 3), 3);
    EXPECT_EQ(target.ToString(), "bcd");
    EXPECT_EQ(source.Position(), 4);
}

TEST(StreamCopy, CountBeyondTheSourceRaisesReadError)
{
    TMemoryStream source(std::string_view("abc"));
    TMemoryStream target;
    ExpectError<EReadError>([&] { target.CopyFrom(source, 4); }, "Stream read error");
}

TEST(StreamCopy, CopiesMoreThanOneBuffer)
{
    std::string big(200'003, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    TMemoryStream source(big);
    TMemoryStream target;
    EXPECT_EQ(target.CopyFrom(source, 0), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(target.ToString(), big);
}

// ---- TMemoryStream ----------------------------------------------------------------

TEST(MemoryStream, StartsEmptyOrWithTheGivenBytesAtPositionZero)
{
    TMemoryStream empty;
    EXPECT_EQ(empty.Size(), 0);
    TMemoryStream text(std::string_view("a\0b", 3));
    EXPECT_EQ(text.ToString(), std::string("a\0b", 3));
    EXPECT_EQ(text.Position(), 0);
    TMemoryStream bytes(Bytes{1, 2, 3});
    EXPECT_EQ(bytes.Bytes(), (Bytes{1, 2, 3}));
    EXPECT_EQ(bytes.Memory()[2], 3);
}

TEST(MemoryStream, GrowsAsItIsWritten)
{
    TMemoryStream m;
    for (int i = 0; i < 100'000; ++i) m.WriteU8(static_cast<std::uint8_t>(i));
    EXPECT_EQ(m.Size(), 100'000);
    EXPECT_EQ(m.Position(), 100'000);
    EXPECT_EQ(m.Bytes()[99'999], static_cast<std::uint8_t>(99'999));
}

TEST(MemoryStream, OverwritesInThePlace)
{
    TMemoryStream m(std::string_view("abcdef"));
    m.SetPosition(2);
    m.WriteBytes("XY");
    EXPECT_EQ(m.ToString(), "abXYef");
    EXPECT_EQ(m.Position(), 4);
}

TEST(MemoryStream, SeekPastTheEndThenWriteFillsZeros)
{
    TMemoryStream m(std::string_view("ab"));
    EXPECT_EQ(m.Seek(5, SeekOrigin::Begin), 5);
    EXPECT_EQ(m.Size(), 2);
    m.WriteU8(0x7F);
    EXPECT_EQ(m.Bytes(), (Bytes{'a', 'b', 0, 0, 0, 0x7F}));
}

TEST(MemoryStream, ReadAtOrPastTheEndGivesNothing)
{
    TMemoryStream m(std::string_view("ab"));
    char buffer[4] = {};
    EXPECT_EQ(m.Read(buffer, 4), 2u);
    EXPECT_EQ(m.Read(buffer, 4), 0u);
    m.SetPosition(10);
    EXPECT_EQ(m.Read(buffer, 4), 0u);
    EXPECT_EQ(m.Remaining(), -8);
}

TEST(MemoryStream, SeekFromEachOrigin)
{
    struct Case {
        const char* what;
        std::int64_t start;
        std::int64_t offset;
        SeekOrigin origin;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"begin", 4, 3, SeekOrigin::Begin, 3},
        {"current forward", 4, 2, SeekOrigin::Current, 6},
        {"current back", 4, -1, SeekOrigin::Current, 3},
        {"end", 4, -2, SeekOrigin::End, 8},
        {"end itself", 4, 0, SeekOrigin::End, 10},
        {"past the end", 4, 5, SeekOrigin::End, 15},
    };
    for (const Case& c : cases) {
        TMemoryStream m(std::string(10, 'x'));
        m.SetPosition(c.start);
        EXPECT_EQ(m.Seek(c.offset, c.origin), c.expected) << c.what;
        EXPECT_EQ(m.Position(), c.expected) << c.what;
        EXPECT_EQ(m.Size(), 10) << c.what;
    }
}

TEST(MemoryStream, SeekBeforeTheStartIsRefusedAndKeepsThePosition)
{
    TMemoryStream m(std::string_view("abc"));
    m.SetPosition(2);
    ExpectError<EStreamError>([&] { m.Seek(-3, SeekOrigin::Current); }, "Stream seek error");
    ExpectError<EStreamError>([&] { m.Seek(-1, SeekOrigin::Begin); }, "Stream seek error");
    ExpectError<EStreamError>([&] { m.Seek(-4, SeekOrigin::End); }, "Stream seek error");
    EXPECT_EQ(m.Position(), 2);
}

TEST(MemoryStream, SetSizeShrinksAndMovesAPositionPastTheEnd)
{
    TMemoryStream m(std::string_view("abcdef"));
    m.SetPosition(5);
    m.SetSize(3);
    EXPECT_EQ(m.ToString(), "abc");
    EXPECT_EQ(m.Position(), 3);
}

TEST(MemoryStream, SetSizeGrowsWithZerosAndKeepsThePosition)
{
    TMemoryStream m(std::string_view("ab"));
    m.SetPosition(1);
    m.SetSize(4);
    EXPECT_EQ(m.Bytes(), (Bytes{'a', 'b', 0, 0}));
    EXPECT_EQ(m.Position(), 1);
}

TEST(MemoryStream, SetSizeBelowZeroRaisesWriteError)
{
    TMemoryStream m(std::string_view("ab"));
    ExpectError<EWriteError>([&] { m.SetSize(-1); }, "Stream write error");
    EXPECT_EQ(m.Size(), 2);
}

TEST(MemoryStream, ClearEmptiesAndRewinds)
{
    TMemoryStream m(std::string_view("abc"));
    m.SetPosition(2);
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, LoadFromStreamTakesTheWholeSourceAndRewinds)
{
    TMemoryStream source(std::string_view("abcdef"));
    source.SetPosition(3);
    TMemoryStream m(std::string_view("old"));
    m.SetPosition(2);
    m.LoadFromStream(source);
    EXPECT_EQ(m.ToString(), "abcdef");
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, SaveToStreamWritesEverythingAtTheTargetPosition)
{
    TMemoryStream m(std::string_view("abc"));
    m.SetPosition(2);
    TMemoryStream target(std::string_view("0123"));
    target.SetPosition(1);
    m.SaveToStream(target);
    EXPECT_EQ(target.ToString(), "0abc");
    EXPECT_EQ(target.Position(), 4);
}

// ---- TFileStream ------------------------------------------------------------------

class FileStream : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string path = folder / "file.bin";
};

TEST_F(FileStream, CreateWritesAndOpenReadsBack)
{
    {
        TFileStream f(path, fmCreate);
        EXPECT_EQ(f.FileName(), path);
        f.WriteU32(0x01020304);
        f.WriteBytes("xyz");
        EXPECT_EQ(f.Size(), 7);
        EXPECT_EQ(f.Position(), 7);
        f.Flush();
    }
    TFileStream f(path, fmOpenRead);
    EXPECT_EQ(f.Size(), 7);
    EXPECT_EQ(f.ReadU32(), 0x01020304u);
    EXPECT_EQ(f.ReadBytes(3), "xyz");
    ExpectError<EReadError>([&] { f.ReadU8(); }, "Stream read error");
}

TEST_F(FileStream, CreateTruncatesAnExistingFile)
{
    WriteFileBytes(path, "long old content");
    {
        TFileStream f(path, fmCreate);
        EXPECT_EQ(f.Size(), 0);
        f.WriteBytes("new");
    }
    EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST_F(FileStream, OpenWriteKeepsTheContentAndWritesInPlace)
{
    WriteFileBytes(path, "abcdef");
    {
        TFileStream f(path, fmOpenWrite);
        f.Seek(2, SeekOrigin::Begin);
        f.WriteBytes("XY");
    }
    EXPECT_EQ(ReadFileBytes(path), "abXYef");
}

TEST_F(FileStream, SeekPastTheEndThenWriteFillsZeros)
{
    {
        TFileStream f(path, fmCreate);
        f.WriteBytes("ab");
        EXPECT_EQ(f.Seek(2, SeekOrigin::Current), 4);
        f.WriteU8(0x7F);
    }
    EXPECT_EQ(ReadFileBytes(path), std::string("ab\0\0\x7F", 5));
}

TEST_F(FileStream, SeekFromEachOriginAndBeforeTheStart)
{
    WriteFileBytes(path, "0123456789");
    TFileStream f(path, fmOpenRead);
    EXPECT_EQ(f.Seek(3, SeekOrigin::Begin), 3);
    EXPECT_EQ(f.Seek(2, SeekOrigin::Current), 5);
    EXPECT_EQ(f.Seek(-1, SeekOrigin::End), 9);
    EXPECT_EQ(f.ReadBytes(1), "9");
    ExpectError<EStreamError>([&] { f.Seek(-1, SeekOrigin::Begin); }, "Stream seek error");
    EXPECT_EQ(f.Position(), 10);
}

TEST_F(FileStream, SetSizeTruncatesAndExtends)
{
    TFileStream f(path, fmCreate);
    f.WriteBytes("abcdef");
    f.SetSize(3);
    EXPECT_EQ(f.Size(), 3);
    EXPECT_EQ(f.Position(), 3);
    f.SetSize(5);
    EXPECT_EQ(f.Size(), 5);
    EXPECT_EQ(f.Position(), 3);
    f.SetPosition(0);
    EXPECT_EQ(f.ReadBytes(5), std::string("abc\0\0", 5));
    ExpectError<EWriteError>([&] { f.SetSize(-1); }, "Stream write error");
}

TEST_F(FileStream, ReadOnlyRefusesWritesAndWriteOnlyRefusesReads)
{
    WriteFileBytes(path, "abc");
    {
        TFileStream f(path, fmOpenRead);
        ExpectError<EWriteError>([&] { f.WriteU8(1); }, "Stream write error");
        ExpectError<EWriteError>([&] { f.SetSize(1); }, "Stream write error");
    }
    TFileStream f(path, fmOpenWrite);
    ExpectError<EReadError>([&] { f.ReadU8(); }, "Stream read error");
    EXPECT_EQ(ReadFileBytes(path), "abc");
}

TEST_F(FileStream, OpenAndCreateFailuresNameThePathAndTheReason)
{
    struct Case {
        const char* what;
        std::string path;
        unsigned mode;
        bool create; // EFCreateError rather than EFOpenError
        std::string message;
    };
    const std::string missing = folder / "missing.bin";
    const std::string inMissingFolder = folder / "no/such.bin";
    const Case cases[] = {
        {"missing file", missing, fmOpenRead, false,
         "Cannot open file \"" + missing + "\". No such file or directory"},
        {"missing file for writing", missing, fmOpenReadWrite | fmShareDenyWrite, false,
         "Cannot open file \"" + missing + "\". No such file or directory"},
        {"a folder for reading", folder.Path(), fmOpenRead, false,
         "Cannot open file \"" + folder.Path() + "\". Is a directory"},
        {"a folder for writing", folder.Path(), fmOpenWrite, false,
         "Cannot open file \"" + folder.Path() + "\". Is a directory"},
        {"no such access mode", path, 0x0003, false, "Cannot open file \"" + path + "\". Invalid argument"},
        {"create in a missing folder", inMissingFolder, fmCreate, true,
         "Cannot create file \"" + inMissingFolder + "\". No such file or directory"},
        {"create over a folder", folder.Path(), fmCreate | fmShareExclusive, true,
         "Cannot create file \"" + folder.Path() + "\". Is a directory"},
    };
    WriteFileBytes(path, "x");
    for (const Case& c : cases) {
        if (c.create)
            ExpectError<EFCreateError>([&] { TFileStream f(c.path, c.mode); }, c.message, c.what);
        else
            ExpectError<EFOpenError>([&] { TFileStream f(c.path, c.mode); }, c.message, c.what);
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(FileStream, ShareModesLockAgainstTheSecondOpener)
{
    struct Case {
        const char* what;
        unsigned first;
        unsigned second;
        bool allowed;
    };
    const Case cases[] = {
        {"deny-write writer refuses a second deny-write writer", fmOpenReadWrite | fmShareDenyWrite,
         fmOpenWrite | fmShareDenyWrite, false},
        {"deny-write writer refuses an exclusive writer", fmOpenWrite | fmShareDenyWrite,
         fmOpenReadWrite | fmShareExclusive, false},
        {"deny-write writer refuses a deny-write reader", fmOpenReadWrite | fmShareDenyWrite,
         fmOpenRead | fmShareDenyWrite, false},
        {"deny-write writer lets a deny-none reader in", fmOpenReadWrite | fmShareDenyWrite,
         fmOpenRead | fmShareDenyNone, true},
        {"deny-write readers share the file", fmOpenRead | fmShareDenyWrite, fmOpenRead | fmShareDenyWrite, true},
        {"deny-write reader refuses a deny-write writer", fmOpenRead | fmShareDenyWrite,
         fmOpenReadWrite | fmShareDenyWrite, false},
        {"exclusive reader refuses a deny-write reader", fmOpenRead | fmShareExclusive,
         fmOpenRead | fmShareDenyWrite, false},
        {"exclusive writer refuses an exclusive reader", fmOpenWrite | fmShareExclusive,
         fmOpenRead | fmShareExclusive, false},
        {"creator with deny-write refuses a deny-write reader", fmCreate | fmShareDenyWrite,
         fmOpenRead | fmShareDenyWrite, false},
        {"deny-none writers share the file", fmOpenWrite | fmShareDenyNone, fmOpenReadWrite | fmShareDenyNone, true},
    };
    WriteFileBytes(path, "content");
    for (const Case& c : cases) {
        TFileStream first(path, c.first);
        if (c.allowed)
            EXPECT_NO_THROW(TFileStream second(path, c.second)) << c.what;
        else
            ExpectError<EFOpenError>([&] { TFileStream second(path, c.second); },
                                     "Cannot open file \"" + path + "\". Resource temporarily unavailable", c.what);
    }
}

TEST_F(FileStream, ClosingReleasesTheLock)
{
    WriteFileBytes(path, "content");
    {
        TFileStream first(path, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_THROW(TFileStream second(path, fmOpenWrite | fmShareDenyWrite), EFOpenError);
    }
    EXPECT_NO_THROW(TFileStream second(path, fmOpenWrite | fmShareDenyWrite));
}

TEST_F(FileStream, RefusedCreateLeavesTheHoldersFileAlone)
{
    WriteFileBytes(path, "content");
    TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    ExpectError<EFCreateError>([&] { TFileStream f(path, fmCreate | fmShareExclusive); },
                               "Cannot create file \"" + path + "\". Resource temporarily unavailable");
    EXPECT_EQ(reader.ReadBytes(7), "content");
    EXPECT_EQ(reader.Size(), 7);
}

// ---- memory stream and files; whole-file helpers ------------------------------------

TEST_F(FileStream, MemoryStreamSavesToAndLoadsFromAFile)
{
    TMemoryStream out(Bytes{0x00, 0xFF, 0x10, 0x00});
    out.SaveToFile(path);
    TMemoryStream in(std::string_view("old content"));
    in.LoadFromFile(path);
    EXPECT_EQ(in.Bytes(), (Bytes{0x00, 0xFF, 0x10, 0x00}));
    EXPECT_EQ(in.Position(), 0);
    ExpectError<EFOpenError>([&] { in.LoadFromFile(folder / "missing"); },
                             "Cannot open file \"" + (folder / "missing") + "\". No such file or directory");
}

TEST_F(FileStream, WholeFileBytesRoundTripEveryByte)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    WriteFileBytes(path, all);
    EXPECT_EQ(ReadFileBytes(path), all);
    WriteFileBytes(path, "");
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(FileStream, WholeFileBytesOfALargeFile)
{
    std::string big(300'001, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
    WriteFileBytes(path, big);
    EXPECT_EQ(ReadFileBytes(path), big);
}

TEST_F(FileStream, WholeFileFailures)
{
    const std::string missing = folder / "missing";
    const std::string inMissingFolder = folder / "no/such";
    ExpectError<EFOpenError>([&] { ReadFileBytes(missing); },
                             "Cannot open file \"" + missing + "\". No such file or directory");
    ExpectError<EFCreateError>([&] { WriteFileBytes(inMissingFolder, "x"); },
                               "Cannot create file \"" + inMissingFolder + "\". No such file or directory");
}

// Files of /proc report size 0: the whole-file read goes on to the end.
TEST(WholeFile, ReadsAProcFileWhoseSizeSaysZero)
{
    const std::string status = ReadFileBytes("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
}

} // namespace
} // namespace rtl
