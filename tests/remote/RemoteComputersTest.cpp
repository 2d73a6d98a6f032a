// The computer-access interface on this computer, over temporary folders:
// the one drive, listings by field codes with the caller's bounds, content
// flags, masks, file information, ForceFolder, files by handle, block reads
// and the registry that is not there.
#include "remote/RemoteComputers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "tests/support/TempFolder.h"

namespace {

using rtl::Variant;
using testing_support::TempFolder;

Variant Codes(std::initializer_list<int> codes, int low = 0)
{
    Variant a = rtl::VarArrayCreate(low, low + static_cast<int>(codes.size()) - 1, rtl::varInteger);
    int i = low;
    for (const int c : codes) a.PutElement(i++, Variant(c));
    return a;
}

// An element as text: "-" for Empty, the value's text otherwise.
std::string Cell(const Variant& v)
{
    return v.IsEmpty() ? "-" : v.AsString();
}

// A row as "a|b|c".
std::string RowText(const Variant& row)
{
    std::string text;
    for (int i = row.ArrayLowBound(); i <= row.ArrayHighBound(); ++i) {
        if (i > row.ArrayLowBound()) text += '|';
        text += Cell(row.GetElement(i));
    }
    return text;
}

// The rows of a listing, sorted (the file system gives no order).
std::vector<std::string> Rows(const Variant& listing)
{
    EXPECT_EQ(listing.ArrayLowBound(), 0);
    std::vector<std::string> rows;
    for (int i = 0; i <= listing.ArrayHighBound(); ++i) rows.push_back(RowText(listing.GetElement(i)));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

// mtime and atime of a file set to a UTC moment.
void SetTimes(const std::string& path, int year, int month, int day, int hour, int min, int sec)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    const timespec t{::timegm(&tm), 0};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

template <class E>
std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& e) {
        return e.Message();
    } catch (const rtl::Exception& e) {
        return "other exception: " + e.Message();
    }
    return "no exception";
}

class Computer : public ::testing::Test {
protected:
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
    TempFolder temp;
};

// ---- drives --------------------------------------------------------------------

TEST_F(Computer, TheRootIsTheOneFixedDrive)
{
    EXPECT_EQ(Rows(computer->GetDrives(kFixedDrives, Codes({1, 2, 9}))), std::vector<std::string>{"/|3|-"});
    EXPECT_EQ(Rows(computer->GetDrives(kAllButRemovable, Codes({2, 1}))), std::vector<std::string>{"3|/"});
    // A set without the fixed type lists nothing: bounds 0 to -1.
    const Variant none = computer->GetDrives(1u << dtRemovable | 1u << dtCDRom, Codes({1}));
    EXPECT_EQ(none.ArrayLowBound(), 0);
    EXPECT_EQ(none.ArrayHighBound(), -1);
}

TEST_F(Computer, DriveVolumeFields)
{
    const Variant drives = computer->GetDrives(kFixedDrives, Codes({3, 4, 5, 6, 7}));
    ASSERT_EQ(drives.ArrayHighBound(), 0);
    const Variant row = drives.GetElement(0);
    EXPECT_EQ(row.GetElement(0).AsString(), "") << "no volume label";
    EXPECT_EQ(row.GetElement(1).VarType(), rtl::varInteger);
    EXPECT_GT(row.GetElement(2).AsInteger(), 0) << "longest name component";
    EXPECT_EQ(row.GetElement(3).VarType(), rtl::varInteger);
    // The file-system name is the type the mount table gives "/".
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, type, rest, rootType;
    while (mounts >> device >> point >> type && std::getline(mounts, rest))
        if (point == "/") rootType = type;
    EXPECT_EQ(row.GetElement(4).AsString(), rootType);
    EXPECT_FALSE(rootType.empty());
}

// ---- field codes ------------------------------------------------------------------

TEST_F(Computer, RowsKeepTheBoundsAndOrderOfTheFieldCodes)
{
    WriteFile(temp / "a.txt", "12345");
    const Variant listing = computer->GetFiles(temp / "*.txt", Codes({6, 1, 42}, 7));
    ASSERT_EQ(listing.ArrayHighBound(), 0);
    const Variant row = listing.GetElement(0);
    EXPECT_EQ(row.VarType(), rtl::varArray | rtl::varVariant);
    EXPECT_EQ(row.ArrayLowBound(), 7);
    EXPECT_EQ(row.ArrayHighBound(), 9);
    EXPECT_EQ(RowText(row), "5|a.txt|-") << "a code with no meaning leaves its element Empty";
    EXPECT_EQ(row.GetElement(7).VarType(), rtl::varInteger);

    const Variant empty = computer->GetFiles(temp / "*.txt", rtl::VarArrayCreate(3, 2, rtl::varInteger));
    ASSERT_EQ(empty.ArrayHighBound(), 0);
    EXPECT_EQ(empty.GetElement(0).ArrayHighBound(), 2) << "no codes: an empty row";
}

TEST_F(Computer, FieldCodesMustBeAnArray)
{
    for (const Variant& fields : {Variant(), Variant(1), Variant("1,2")}) {
        EXPECT_EQ(MessageOf<rtl::EVariantError>([&] { computer->GetDrives(kFixedDrives, fields); }),
                  "Invalid argument");
        EXPECT_EQ(MessageOf<rtl::EVariantError>([&] { computer->GetFolders(temp.Path(), fields); }),
                  "Invalid argument");
    }
}

// ---- folders ------------------------------------------------------------------------

TEST_F(Computer, FoldersAndTheirContentFlags)
{
    temp.Sub("empty");
    WriteFile(temp.Sub("files") + "/f", "x");
    temp.Sub("folders/inner");
    temp.Sub("both/inner");
    WriteFile(temp / "both/f", "x");
    temp.Sub(".hidden");
    WriteFile(temp / "plain-file", "x");
    std::filesystem::create_directory_symlink(temp / "files", temp / "link-to-files");
    std::filesystem::create_symlink(temp / "missing", temp / "broken-link");
    const std::vector<std::string> expected{".hidden|0", "both|3",    "empty|0",
                                            "files|1",   "folders|2", "link-to-files|1"};
    EXPECT_EQ(Rows(computer->GetFolders(temp.Path(), Codes({1, 2}))), expected);
    EXPECT_EQ(Rows(computer->GetFolders(temp.Path() + "/", Codes({1, 2}))), expected)
        << "a trailing \"/\" lists the same";
}

TEST_F(Computer, FolderListingsOfNothing)
{
    const std::string cwdFolder = std::filesystem::current_path().filename().string();
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"missing path", temp / "missing"},
        {"a file", temp / "file"},
        {"empty path", ""},
        {"relative path", "."},
        {"relative path of a real folder", "../" + cwdFolder},
    };
    WriteFile(temp / "file", "x");
    for (const Case& c : cases) {
        const Variant listing = computer->GetFolders(c.path, Codes({1}));
        EXPECT_EQ(listing.ArrayLowBound(), 0) << c.name;
        EXPECT_EQ(listing.ArrayHighBound(), -1) << c.name;
    }
}

// ---- masks --------------------------------------------------------------------------

TEST(Masks, MatchTheLastComponent)
{
    struct Case {
        const char* name;
        const char* file;
        const char* mask;
        bool matches;
    };
    const Case cases[] = {
        {"star matches all", "a.txt", "*", true},
        {"star.star matches a name without a dot", "README", "*.*", true},
        {"star.star matches a dotted name", "a.b.c", "*.*", true},
        {"extension", "data.db", "*.db", true},
        {"extension ignores case", "DATA.DB", "*.db", true},
        {"Cyrillic case ignored", "Карта.txt", "карта.*", true},
        {"wrong extension", "data.dbf", "*.db", false},
        {"question mark is one character", "я.txt", "?.txt", true},
        {"question mark is not two", "ab.txt", "?.txt", false},
        {"question mark needs a character", ".txt", "?.txt", false},
        {"bracket is literal", "[a].txt", "[a].txt", true},
        {"bracket is no class", "a.txt", "[a].txt", false},
        {"star in the middle", "abcXYZdef", "abc*def", true},
        {"star backtracks", "aXbXc", "a*b*c", true},
        {"stars need the rest", "abc", "a*d", false},
        {"empty mask matches only empty", "a", "", false},
        {"dot star needs a dot for other masks", "README", "READ*.*", false},
    };
    for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.file, c.mask), c.matches) << c.name;
}

TEST_F(Computer, FilesByMask)
{
    for (const char* name : {"a.txt", "B.TXT", "README", "я.txt", "[x].dat", ".profile", "ab.txt"})
        WriteFile(temp / name, "x");
    temp.Sub("folder.txt");
    struct Case {
        const char* name;
        std::string mask;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"all files, folders left out",
         temp / "*",
         {".profile", "B.TXT", "README", "[x].dat", "a.txt", "ab.txt", "я.txt"}},
        {"star.star also without a dot",
         temp / "*.*",
         {".profile", "B.TXT", "README", "[x].dat", "a.txt", "ab.txt", "я.txt"}},
        {"mask ignores case", temp / "*.txt", {"B.TXT", "a.txt", "ab.txt", "я.txt"}},
        {"one character", temp / "?.txt", {"B.TXT", "a.txt", "я.txt"}},
        {"bracket literal", temp / "[x].*", {"[x].dat"}},
        {"exact name", temp / "a.txt", {"a.txt"}},
        {"exact name compares case", temp / "A.TXT", {}},
        {"a folder by name is no file", temp / "folder.txt", {}},
        {"missing folder", temp / "missing/*", {}},
        {"mask ending in a slash", temp.Path() + "/", {}},
        {"relative mask", "*", {}},
        {"relative folder", "./*.txt", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Rows(computer->GetFiles(c.mask, Codes({1}))), c.files) << c.name;
}

// ---- file information -------------------------------------------------------------

TEST_F(Computer, FileInformation)
{
    WriteFile(temp / "plain", "12345");
    WriteFile(temp / ".hidden", "");
    WriteFile(temp / "readonly", "");
    ::chmod((temp / "readonly").c_str(), 0444);
    temp.Sub("dir");
    temp.Sub(".hiddendir");
    struct Case {
        const char* name;
        std::string path;
        std::string row;
    };
    const Case cases[] = {
        {"plain file", temp / "plain", "plain|128|5"},
        {"hidden file", temp / ".hidden", ".hidden|2|0"},
        {"read-only file", temp / "readonly", "readonly|1|0"},
        {"folder", temp / "dir", "dir|16|0"},
        {"folder with a trailing slash", temp / "dir/", "dir|16|0"},
        {"hidden folder", temp / ".hiddendir", ".hiddendir|18|0"},
        {"the root", "/", "/|16|0"},
        {"a wildcard takes a match", temp / "pl*", "plain|128|5"},
    };
    for (const Case& c : cases) {
        const Variant row = computer->GetFileInfo(c.path, Codes({1, 2, 6}));
        ASSERT_TRUE(row.IsArray()) << c.name;
        EXPECT_EQ(RowText(row), c.row) << c.name;
    }
    for (const std::string& missing : {temp / "missing", temp / "plain/", temp / "zz*", std::string("plain")}) {
        const Variant info = computer->GetFileInfo(missing, Codes({1}));
        EXPECT_TRUE(info.IsEmpty()) << missing << ": Empty, not Null";
    }
}

TEST_F(Computer, FileTimesGoThroughTheDosRange)
{
    const std::string path = temp / "f";
    WriteFile(path, "x");
    struct Case {
        const char* name;
        int year, month, day, hour, min, sec;
        std::string expected;
    };
    const Case cases[] = {
        {"odd seconds drop to even", 2001, 2, 3, 4, 5, 7, "2001-02-03 04:05:06"},
        {"first DOS day", 1980, 1, 1, 0, 0, 0, "1980-01-01 00:00:00"},
        {"last DOS year", 2107, 12, 31, 23, 59, 59, "2107-12-31 23:59:58"},
        {"before 1980", 1979, 12, 31, 23, 59, 59, "-"},
        {"after 2107", 2108, 1, 1, 0, 0, 0, "-"},
    };
    for (const Case& c : cases) {
        SetTimes(path, c.year, c.month, c.day, c.hour, c.min, c.sec);
        const Variant row = computer->GetFileInfo(path, Codes({4, 5}));
        EXPECT_EQ(Cell(row.GetElement(0)), c.expected) << c.name << " (access time)";
        EXPECT_EQ(Cell(row.GetElement(1)), c.expected) << c.name << " (write time)";
        if (c.expected != "-") {
            EXPECT_EQ(row.GetElement(1).VarType(), rtl::varDate) << c.name;
        }
    }
    EXPECT_EQ(computer->GetFileInfo(path, Codes({3})).GetElement(0).VarType(), rtl::varDate)
        << "the status-change time of a file written now lies in the DOS range";
}

TEST_F(Computer, SizeIsTheLow32Bits)
{
    const std::string path = temp / "big";
    WriteFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), (off_t{1} << 32) + 5), 0);
    EXPECT_EQ(computer->GetFileInfo(path, Codes({6})).GetElement(0).AsInteger(), 5);
    ASSERT_EQ(::truncate(path.c_str(), 0xFFFFFFFEll), 0);
    EXPECT_EQ(computer->GetFileInfo(path, Codes({6})).GetElement(0).AsInteger(), -2);
}

// ---- ForceFolder --------------------------------------------------------------------

TEST_F(Computer, ForceFolderMakesEveryMissingParent)
{
    temp.Sub("a");
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"two levels below an existing folder", temp / "a/b/c"},
        {"with a trailing slash", temp / "x/y/"},
        {"an existing folder", temp / "a"},
        {"the root", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(computer->ForceFolder(c.path)) << c.name;
        EXPECT_TRUE(std::filesystem::is_directory(c.path)) << c.name;
    }
}

TEST_F(Computer, ForceFolderFailures)
{
    WriteFile(temp / "file", "x");
    // The parent is forced first and fails first, naming itself.
    EXPECT_EQ(MessageOf<ERemoteComputer>([&] { computer->ForceFolder(temp / "file/sub"); }),
              "Ошибка создания папки \"" + (temp / "file/") + "\"");
    EXPECT_EQ(MessageOf<ERemoteComputer>([&] { computer->ForceFolder(temp / "file"); }),
              "Ошибка создания папки \"" + (temp / "file") + "\"");
    // A relative path is never made in the working folder.
    const std::string relative = "parvane-relative-" + std::to_string(::getpid());
    EXPECT_EQ(MessageOf<ERemoteComputer>([&] { computer->ForceFolder(relative + "/x"); }),
              "Ошибка создания папки \"" + relative + "/x\"");
    EXPECT_FALSE(std::filesystem::exists(relative));
    // The empty path fails with the general exception, not ERemoteComputer.
    try {
        computer->ForceFolder("");
        ADD_FAILURE() << "no exception";
    } catch (const ERemoteComputer&) {
        ADD_FAILURE() << "ERemoteComputer for the empty path";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Ошибка создания каталога ''");
    }
}

// ---- files by handle ------------------------------------------------------------------

TEST_F(Computer, OpenFileFailuresNameTheFileAndTheErrorNumber)
{
    temp.Sub("dir");
    struct Case {
        const char* name;
        std::string path;
        int error;
    };
    const Case cases[] = {
        {"missing file", temp / "missing.txt", ENOENT},
        {"a folder", temp / "dir", EISDIR},
        {"relative name", "missing.txt", ENOENT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageOf<ERemoteComputer>([&] { computer->OpenFile(c.path); }),
                  "Ошибка открытия файла \"" + c.path + "\": " + std::to_string(c.error))
            << c.name;
}

TEST_F(Computer, ReadsSeeksAndClosesByHandle)
{
    WriteFile(temp / "f", "0123456789");
    const std::int32_t h = computer->OpenFile(temp / "f");
    EXPECT_EQ(computer->GetFileSize(h), 10);
    EXPECT_EQ(computer->ReadFile(h, 4), "0123");
    EXPECT_EQ(computer->Seek(h, 2, 1), 6);
    EXPECT_EQ(computer->ReadFile(h, 100), "6789") << "cut to what was read";
    EXPECT_EQ(computer->ReadFile(h, 5), "") << "at the end";
    EXPECT_EQ(computer->Seek(h, -3, 2), 7);
    EXPECT_EQ(computer->ReadFile(h, 0), "");
    EXPECT_EQ(computer->ReadFile(h, -1), "");
    EXPECT_EQ(computer->Seek(h, 1, 0), 1);
    EXPECT_EQ(computer->Seek(h, 0, 3), -1) << "no such origin";
    EXPECT_EQ(computer->Seek(h, -5, 0), -1) << "before the start";
    EXPECT_EQ(computer->WriteFile(h, "abc"), 0) << "opened for reading";
    EXPECT_TRUE(computer->CloseFile(h));
    EXPECT_FALSE(computer->CloseFile(h));
    EXPECT_EQ(computer->GetFileSize(h), -1);
    EXPECT_EQ(computer->ReadFile(h, 3), "");
}

TEST_F(Computer, WriteFileWritesAll)
{
    const int fd = ::open((temp / "w").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(computer->WriteFile(fd, std::string("ab\0cd", 5)), 5);
    EXPECT_TRUE(computer->CloseFile(fd));
    EXPECT_EQ(std::filesystem::file_size(temp / "w"), 5u);
}

// ---- block reads ------------------------------------------------------------------------

TEST_F(Computer, ReadFileBlocks)
{
    std::string data(200, '\0');
    for (int i = 0; i < 200; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>(i);
    WriteFile(temp / "blocks", data);
    const std::int32_t h = computer->OpenFile(temp / "blocks");
    const auto bytes = [&](int from, int n) {
        return data.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n));
    };
    struct Case {
        const char* name;
        int offset, step, size, count;
        std::string expected;
    };
    const Case cases[] = {
        {"forwards", 10, 20, 3, 3, bytes(10, 3) + bytes(30, 3) + bytes(50, 3)},
        {"backwards: block k from offset + k|step|, stored last first", 100, -10, 4, 3,
         bytes(120, 4) + bytes(110, 4) + bytes(100, 4)},
        {"overlapping blocks", 0, 1, 3, 2, bytes(0, 3) + bytes(1, 3)},
        {"the last block past the end is zero-filled", 196, 2, 4, 3,
         bytes(196, 4) + bytes(198, 2) + std::string(2, '\0') + std::string(4, '\0')},
        {"beyond the end: zeros", 1000, 0, 2, 2, std::string(4, '\0')},
        {"no blocks", 5, 1, 4, 0, ""},
        {"empty blocks", 5, 1, 0, 4, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(computer->ReadFileBlocks(h, c.offset, c.step, c.size, c.count), c.expected) << c.name;
    computer->CloseFile(h);
}

TEST_F(Computer, ReadFileBlocksRefusesBadCountsAndSizes)
{
    WriteFile(temp / "f", "x");
    const std::int32_t h = computer->OpenFile(temp / "f");
    struct Case {
        const char* name;
        int offset, step, size, count;
    };
    const Case cases[] = {
        {"negative block count", 0, 1, 4, -1},
        {"negative block size", 0, 1, -4, 1},
        {"both negative", 0, 1, -4, -1},
        {"result above 2^31 - 1 bytes", 0, 1, 1 << 16, 1 << 16},
        {"last position overflows", INT_MAX - 5, 10, 1, 2},
        {"step INT_MIN", 0, INT_MIN, 1, 2},
        {"negative offset", -1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        const std::string expected = "Invalid block read: offset " + std::to_string(c.offset) + ", step " +
                                     std::to_string(c.step) + ", block size " + std::to_string(c.size) +
                                     ", block count " + std::to_string(c.count);
        EXPECT_EQ(MessageOf<ERemoteComputer>([&] { computer->ReadFileBlocks(h, c.offset, c.step, c.size, c.count); }),
                  expected)
            << c.name;
    }
    EXPECT_EQ(computer->ReadFileBlocks(h, INT_MAX, 0, 1, 1), std::string(1, '\0')) << "the last position allowed";
    computer->CloseFile(h);
}

// ---- registry, name, object --------------------------------------------------------------

TEST_F(Computer, TheRegistryIsEmpty)
{
    computer->WriteRegistryValue(HKEY_CURRENT_USER, "Software\\Parvane", "Value", Variant(5));
    const Variant read = computer->ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Parvane", "Value", Variant(7));
    EXPECT_TRUE(read.IsEmpty()) << "Empty even with a default";
    EXPECT_TRUE(computer->GetRegistryKeyNames(HKEY_LOCAL_MACHINE, "Software").IsEmpty());
    EXPECT_TRUE(computer->GetRegistryValueNames(HKEY_LOCAL_MACHINE, "Software").IsEmpty());
}

TEST_F(Computer, ComputerName)
{
    EXPECT_EQ(computer->GetComputerName(), rtl::ComputerName());
    EXPECT_FALSE(computer->GetComputerName().empty());
}

TEST(RemoteComputerObject, HoldsItsOwnerAndNoStubs)
{
    struct Owner : rtl::RefCounted {};
    const rtl::RefPtr<Owner> owner = rtl::MakeRef<Owner>();
    {
        const rtl::RefPtr<TVelmoServerRemoteComputerObject> object =
            rtl::MakeRef<TVelmoServerRemoteComputerObject>(owner);
        EXPECT_EQ(owner->RefCount(), 2);
        EXPECT_EQ(object->Owner(), owner.get());
        EXPECT_TRUE(object->Stubs().empty());
        const IVelmoServerRemoteComputerPtr intf = object;
        EXPECT_EQ(object->RefCount(), 2) << "one count for the object and its interfaces";
    }
    EXPECT_EQ(owner->RefCount(), 1) << "released with the object";
}

TEST(OrbObject, StubsAreFoundDetachedAndUnlinkedWhenTheObjectDies)
{
    struct Recorder : TOrbObject {
        std::vector<std::string>* log;
        explicit Recorder(std::vector<std::string>* l) : log(l) {}
        void StubAttached(TOrbStub* stub) override { log->push_back("attached " + std::to_string(stub->A)); }
        void StubDetached(TOrbStub* stub) override { log->push_back("detached " + std::to_string(stub->A)); }
    };
    std::vector<std::string> log;
    TOrbStub one(1, 10), two(2, 20), again(1, 10);
    {
        const rtl::RefPtr<Recorder> object = rtl::MakeRef<Recorder>(&log);
        for (TOrbStub* stub : {&one, &two, &again}) {
            stub->Object = object.get();
            stub->Intf = object.get();
            object->AttachStub(stub);
        }
        EXPECT_EQ(object->FindStub(1, 10), &one) << "the first match";
        EXPECT_EQ(object->FindStub(2, 20), &two);
        EXPECT_EQ(object->FindStub(2, 10), nullptr);
        object->DetachStub(&one);
        EXPECT_EQ(object->FindStub(1, 10), &again);
        EXPECT_EQ(object->Stubs().size(), 2u);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"attached 1", "attached 2", "attached 1", "detached 1"}));
    EXPECT_NE(one.Object, nullptr) << "a detached stub is not touched";
    EXPECT_EQ(two.Object, nullptr);
    EXPECT_EQ(two.Intf, nullptr);
    EXPECT_EQ(again.Object, nullptr);
}

} // namespace
