// Tests of the run log: created when missing, appended to, Windows-1251 bytes
// with CR LF written by hand, one writer at a time, and a log that cannot be
// opened reporting its path and reason instead of raising.
#include "Tools/Parvane/RunLogs.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "tests/support/TempFolder.h"

namespace {

using ::testing::HasSubstr;
using testing_support::TempFolder;

// The bytes of the log, read as a reader without a lock reads them.
std::string LogBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RunLog, CreatedWhenMissingThenAppendedInWindows1251WithCrLf)
{
    const TempFolder folder;
    const std::string path = folder / "parvane.log";
    {
        TRunLog log;
        ASSERT_TRUE(log.Open(path)) << log.Error();
        EXPECT_TRUE(rtl::FileExists(path));
        EXPECT_EQ(LogBytes(path), "");
        log.Write("");
        log.Write("Процесс завершен");
        log.Write("\"000100000001\" -> \"0002000003E9\"\r\n\"A\" -> \"B\"");
    }
    {
        TRunLog log;
        ASSERT_TRUE(log.Open(path));
        log.Write("ok");
    }
    // "Процесс завершен" in Windows-1251, byte by byte.
    const std::string expected = "\r\n"
                                 "\xCF\xF0\xEE\xF6\xE5\xF1\xF1\x20\xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\r\n"
                                 "\"000100000001\" -> \"0002000003E9\"\r\n\"A\" -> \"B\"\r\n"
                                 "ok\r\n";
    EXPECT_EQ(LogBytes(path), expected);
}

TEST(RunLog, OneWriterAtATimeWhileReadersNeedNoLock)
{
    const TempFolder folder;
    const std::string path = folder / "parvane.log";
    TRunLog first;
    ASSERT_TRUE(first.Open(path));
    first.Write("first");

    TRunLog second;
    EXPECT_FALSE(second.Open(path));
    EXPECT_THAT(second.Error(), HasSubstr(path));
    EXPECT_THAT(second.Error(), HasSubstr("открыт другой программой"));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(LogBytes(path), "first\r\n");

    first.Close();
    EXPECT_TRUE(second.Open(path));
}

TEST(RunLog, ALogThatCannotBeOpenedSaysWhereAndWhy)
{
    const TempFolder folder;
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"folder missing", folder / "no-such-folder/parvane.log"},
        {"a folder in its place", folder.Sub("parvane.log")},
    };
    for (const Case& c : cases) {
        TRunLog log;
        EXPECT_FALSE(log.Open(c.path)) << c.name;
        EXPECT_THAT(log.Error(), HasSubstr(c.path)) << c.name;
        EXPECT_THAT(log.Error(), HasSubstr("Не удалось открыть лог-файл")) << c.name;
        EXPECT_THROW(log.Write("x"), rtl::Exception) << c.name;
    }
}

TEST(RunLog, ACharacterWithoutAWindows1251ByteIsAnErrorNotAQuestionMark)
{
    const TempFolder folder;
    const std::string path = folder / "parvane.log";
    TRunLog log;
    ASSERT_TRUE(log.Open(path));
    EXPECT_THROW(log.Write("漢"), rtl::Exception);
    EXPECT_EQ(LogBytes(path), "");
}

TEST(RunLog, DefaultPathIsTheProgramFileWithLogAppended)
{
    EXPECT_EQ(TRunLog::DefaultPath(), rtl::ProgramFileName() + ".log");
}

} // namespace
