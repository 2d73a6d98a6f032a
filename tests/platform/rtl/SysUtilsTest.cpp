// SysUtils: the program's and modules' file names, the path helpers, file
// tests, system messages and GUIDs.
#include "platform/rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/platform/rtl/TempFolder.h"

namespace rtl {
namespace {

// ---- module names -------------------------------------------------------------

int FunctionOfTheTestExecutable()
{
    return 42;
}

TEST(ModuleNames, ProgramFileNameIsTheTestExecutable)
{
    const std::string name = ProgramFileName();
    EXPECT_EQ(name, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(name.front(), '/');
    EXPECT_TRUE(FileExists(name));
}

TEST(ModuleNames, AFunctionOfTheExecutableIsInTheExecutable)
{
    EXPECT_EQ(ModuleFileName(reinterpret_cast<const void*>(&FunctionOfTheTestExecutable)), ProgramFileName());
}

TEST(ModuleNames, AFunctionOfLibcIsInLibc)
{
    // Looked up rather than named, so that the address is libc's own and not
    // that of a sanitizer's wrapper or a PLT entry.
    const void* function = ::dlsym(RTLD_DEFAULT, "gnu_get_libc_version");
    ASSERT_NE(function, nullptr);
    const std::string name = ModuleFileName(function);
    EXPECT_NE(name.find("libc"), std::string::npos) << name;
    EXPECT_EQ(name.front(), '/') << name;
    EXPECT_TRUE(FileExists(name)) << name;
}

TEST(ModuleNames, AnAddressOutsideEveryModuleGivesTheProgram)
{
    const int onTheStack = 0;
    EXPECT_EQ(ModuleFileName(&onTheStack), ProgramFileName());
    EXPECT_EQ(ModuleFileName(nullptr), ProgramFileName());
}

// ---- path helpers -----------------------------------------------------------------

struct PathCase {
    const char* what;
    std::string (*function)(std::string_view);
    const char* path;
    const char* expected;
};

const PathCase kPathCases[] = {
    {"path of a file", ExtractFilePath, "/a/b/c.txt", "/a/b/"},
    {"path of a relative file", ExtractFilePath, "a/b", "a/"},
    {"path of a bare name", ExtractFilePath, "c.txt", ""},
    {"path of a folder keeps it", ExtractFilePath, "/a/b/", "/a/b/"},
    {"path of the root", ExtractFilePath, "/", "/"},
    {"path of nothing", ExtractFilePath, "", ""},
    {"name of a file", ExtractFileName, "/a/b/c.txt", "c.txt"},
    {"name of a bare name", ExtractFileName, "c.txt", "c.txt"},
    {"name of a folder path", ExtractFileName, "/a/b/", ""},
    {"name of nothing", ExtractFileName, "", ""},
    {"extension", ExtractFileExt, "/a/b/c.txt", ".txt"},
    {"last extension only", ExtractFileExt, "/a/b/c.tar.gz", ".gz"},
    {"dot in the folder is no extension", ExtractFileExt, "/a.b/c", ""},
    {"trailing dot", ExtractFileExt, "c.", "."},
    {"dot file", ExtractFileExt, "/home/u/.profile", ".profile"},
    {"no extension", ExtractFileExt, "parvane", ""},
    {"include adds a slash", IncludeTrailingPathDelimiter, "/a", "/a/"},
    {"include keeps a slash", IncludeTrailingPathDelimiter, "/a/", "/a/"},
    {"include on nothing", IncludeTrailingPathDelimiter, "", "/"},
    {"include on the root", IncludeTrailingPathDelimiter, "/", "/"},
    {"exclude removes a slash", ExcludeTrailingPathDelimiter, "/a/", "/a"},
    {"exclude removes one slash only", ExcludeTrailingPathDelimiter, "/a//", "/a/"},
    {"exclude without a slash", ExcludeTrailingPathDelimiter, "/a", "/a"},
    {"exclude on the root", ExcludeTrailingPathDelimiter, "/", ""},
    {"exclude on nothing", ExcludeTrailingPathDelimiter, "", ""},
};

TEST(Paths, OneArgumentHelpers)
{
    for (const PathCase& c : kPathCases) EXPECT_EQ(c.function(c.path), c.expected) << c.what;
}

TEST(Paths, ChangeFileExt)
{
    struct Case {
        const char* what;
        const char* path;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {"replaces the extension", "/a/b.txt", ".log", "/a/b.log"},
        {"replaces the last extension", "/a/b.tar.gz", ".bz2", "/a/b.tar.bz2"},
        {"appends when there is none", "/opt/parvane", ".log", "/opt/parvane.log"},
        {"appends when the dot is in the folder", "/a.b/c", ".log", "/a.b/c.log"},
        {"removes with an empty extension", "/a/b.txt", "", "/a/b"},
        {"replaces a trailing dot", "c.", ".x", "c.x"},
        {"on nothing", "", ".x", ".x"},
    };
    for (const Case& c : cases) EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.expected) << c.what;
}

// ---- files --------------------------------------------------------------------------

TEST(Files, FileAndDirectoryExistence)
{
    test::TempFolder folder;
    const std::string file = folder / "file.txt";
    const std::string sub = folder / "sub";
    WriteFileBytes(file, "x");
    std::filesystem::create_directory(sub);
    std::filesystem::create_symlink(file, folder / "link-to-file");
    std::filesystem::create_symlink(sub, folder / "link-to-folder");
    std::filesystem::create_symlink(folder / "missing", folder / "broken-link");

    struct Case {
        const char* what;
        std::string path;
        bool file;
        bool directory;
    };
    const Case cases[] = {
        {"a file", file, true, false},
        {"a folder", sub, false, true},
        {"a folder with its slash", sub + "/", false, true},
        {"a missing name", folder / "missing", false, false},
        {"a link to a file", folder / "link-to-file", true, false},
        {"a link to a folder", folder / "link-to-folder", false, true},
        {"a broken link", folder / "broken-link", false, false},
        {"nothing", "", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.what;
        EXPECT_EQ(DirectoryExists(c.path), c.directory) << c.what;
    }
}

TEST(Files, DeleteFileDeletesFilesOnly)
{
    test::TempFolder folder;
    const std::string file = folder / "file.txt";
    const std::string sub = folder / "sub";
    WriteFileBytes(file, "x");
    std::filesystem::create_directory(sub);

    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(DeleteFile(sub));
    EXPECT_TRUE(DirectoryExists(sub));
}

// ---- system texts ---------------------------------------------------------------------

TEST(SystemTexts, SysErrorMessage)
{
    struct Case {
        int error;
        const char* expected;
    };
    const Case cases[] = {
        {0, "Success"},
        {ENOENT, "No such file or directory"},
        {EACCES, "Permission denied"},
        {EISDIR, "Is a directory"},
        {EWOULDBLOCK, "Resource temporarily unavailable"},
        {99999, "Unknown error 99999"},
    };
    for (const Case& c : cases) EXPECT_EQ(SysErrorMessage(c.error), c.expected) << c.error;
}

TEST(SystemTexts, SysErrorMessageFromManyThreads)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const int error = t % 2 == 0 ? ENOENT : EACCES;
            const std::string expected = t % 2 == 0 ? "No such file or directory" : "Permission denied";
            for (int i = 0; i < 2000; ++i) wrong[t] += SysErrorMessage(error) != expected;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(SystemTexts, ComputerNameIsTheHostName)
{
    utsname u{};
    ASSERT_EQ(::uname(&u), 0);
    EXPECT_EQ(ComputerName(), u.nodename);
    EXPECT_FALSE(ComputerName().empty());
}

// ---- GUIDs ----------------------------------------------------------------------------

const TGuid kOrbObject{0x56E5E5C2, 0x7E8F, 0x4C70, {0xA9, 0x88, 0xE7, 0xD2, 0x60, 0x84, 0xC8, 0x4F}};

TEST(Guids, GuidToStringIsBracedUpperCase)
{
    EXPECT_EQ(GuidToString(kOrbObject), "{56E5E5C2-7E8F-4C70-A988-E7D26084C84F}");
    EXPECT_EQ(GuidToString(TGuid{}), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(GuidToString(TGuid{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}),
              "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
    EXPECT_EQ(GuidToString(TGuid{0x1, 0x2, 0x3, {0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xA, 0xB}}),
              "{00000001-0002-0003-0405-060708090A0B}");
}

TEST(Guids, StringToGuidReadsEitherCase)
{
    const char* const texts[] = {
        "{56E5E5C2-7E8F-4C70-A988-E7D26084C84F}",
        "{56e5e5c2-7e8f-4c70-a988-e7d26084c84f}",
        "{56e5E5c2-7E8f-4c70-A988-e7D26084c84F}",
    };
    for (const char* text : texts) EXPECT_EQ(StringToGuid(text), kOrbObject) << text;
}

TEST(Guids, StringToGuidRefusesEveryOtherText)
{
    struct Case {
        const char* what;
        const char* text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"no braces", "56E5E5C2-7E8F-4C70-A988-E7D26084C84F"},
        {"one digit short", "{56E5E5C2-7E8F-4C70-A988-E7D26084C84}"},
        {"one digit more", "{56E5E5C2-7E8F-4C70-A988-E7D26084C84F0}"},
        {"parentheses", "(56E5E5C2-7E8F-4C70-A988-E7D26084C84F)"},
        {"no closing brace", "{56E5E5C2-7E8F-4C70-A988-E7D26084C84F0"},
        {"dash one place early", "{56E5E5C-27E8F-4C70-A988-E7D26084C84F}"},
        {"dash at the end of the fourth group missing", "{56E5E5C2-7E8F-4C70-A988E-7D26084C84F}"},
        {"no dashes", "{56E5E5C207E8F04C700A9880E7D26084C84F}"},
        {"not a hex digit", "{56E5E5C2-7E8F-4C70-A988-E7D26084C84G}"},
        {"a blank inside", "{56E5E5C2-7E8F-4C70-A988-E7D2 084C84F}"},
        {"a sign", "{+6E5E5C2-7E8F-4C70-A988-E7D26084C84F}"},
        {"a blank before", " {56E5E5C2-7E8F-4C70-A988-E7D26084C84F"},
        {"an underscore for a dash", "{56E5E5C2_7E8F-4C70-A988-E7D26084C84F}"},
        {"a Cyrillic letter", "{56E5E5C2-7E8F-4C70-A988-E7D26084C84Ф}"},
    };
    for (const Case& c : cases) {
        try {
            StringToGuid(c.text);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid GUID value") << c.what;
        }
    }
}

TEST(Guids, CreateGuidIsRandomVersion4)
{
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const TGuid g = CreateGuid();
        EXPECT_EQ(g.d3 >> 12, 4) << GuidToString(g);
        EXPECT_EQ(g.d4[0] & 0xC0, 0x80) << GuidToString(g);
        EXPECT_EQ(StringToGuid(GuidToString(g)), g);
        seen.insert(GuidToString(g));
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Guids, CreateGuidStringIsTheBracedForm)
{
    const std::string text = CreateGuidString();
    ASSERT_EQ(text.size(), 38u);
    EXPECT_EQ(text[0], '{');
    EXPECT_EQ(text[37], '}');
    EXPECT_EQ(text[15], '4');
    EXPECT_NE(std::string("89AB").find(text[20]), std::string::npos) << text;
    EXPECT_EQ(GuidToString(StringToGuid(text)), text);
}

} // namespace
} // namespace rtl
