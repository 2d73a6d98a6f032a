// The open-file dialog's state on real folders: the filter, the split of the
// initial name, the list for the chosen file type, "Искать в:" with and
// without a root, navigation, the full name and the check of the choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "remote/dialogs/RemoteOpenDialogs.h"
#include "tests/remote/dialogs/RemoteDialogsTestSupport.h"

namespace {

using dialogtest::DiskTree;

// The list as "name/" for folders and "name" for files.
std::string Listed(const TRemoteOpenDialog& d)
{
    std::string text;
    for (const TFileListItem& item : d.Items()) {
        if (!text.empty()) text += " ";
        text += item.Caption + (item.IsFolder() ? "/" : "");
    }
    return text;
}

std::string NotFound(const std::string& name)
{
    return "Ошибка выбора файла: Не найден файл \"" + name + "\"";
}

std::string OpenFailure(TRemoteOpenDialog& d, int selected = -1)
{
    try {
        d.Open(selected);
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "opened";
}

class OpenDialog : public ::testing::Test {
protected:
    TRemoteOpenDialog Make(const std::string& root, const std::string& filter = "All files (*.*)|*.*")
    {
        return TRemoteOpenDialog(computer, "База", root, filter);
    }
    DiskTree disk;
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
};

TEST_F(OpenDialog, FilterPairsNamesWithMasks)
{
    struct Case {
        const char* name;
        std::string filter;
        std::vector<std::string> types, masks;
    };
    const Case cases[] = {
        {"one type", "All files (*.*)|*.*", {"All files (*.*)"}, {"*.*"}},
        {"empty filter", "", {}, {}},
        {"two types, an odd piece dropped",
         "Paradox|*.db|Text|*.txt;*.TXT|odd",
         {"Paradox", "Text"},
         {"*.db", "*.txt;*.TXT"}},
        {"empty last piece counts", "Nothing|", {"Nothing"}, {""}},
    };
    for (const Case& c : cases) {
        const TRemoteOpenDialog d = Make("", c.filter);
        EXPECT_EQ(d.FileTypes(), c.types) << c.name;
        EXPECT_EQ(d.Masks(), c.masks) << c.name;
    }
}

TEST_F(OpenDialog, TheInitialNameIsSplitAtTheDeepestExistingFolder)
{
    struct Case {
        const char* name;
        std::string root, fileName;
        std::string current, shown;
    };
    const Case cases[] = {
        {"file in a folder", "", disk.Path("Data/d.txt"), disk.Path("Data"), "d.txt"},
        {"missing folders stay in the name", "", disk.Path("Data/Missing/x.txt"), disk.Path("Data"), "Missing/x.txt"},
        {"a folder", "", disk.Path("Data") + "/", disk.Path("Data"), ""},
        {"below a folder that does not exist", "", "/parvane-no-such-folder/a.txt", "/",
         "parvane-no-such-folder/a.txt"},
        {"empty", "", "", "", ""},
        {"relative name is never resolved", "", "Data/d.txt", "", "Data/d.txt"},
        {"relative below the root", disk.Path("Data"), "Sub/a.txt", "Sub", "a.txt"},
        {"file at the root", disk.Path("Data"), "d.txt", "", "d.txt"},
        {"absolute inside the root", disk.Path("Data"), disk.Path("Data/Sub/a.txt"), "Sub", "a.txt"},
        {"absolute outside the root", disk.Path("Data"), disk.Path("Data2/a.txt"), "", disk.Path("Data2/a.txt")},
        {"root with a trailing slash keeps the first character", disk.Path("Data") + "/", "Sub/a.txt", "Sub", "a.txt"},
        {"a root that does not exist", disk.Path("Nope"), "a.txt", "", "a.txt"},
    };
    for (const Case& c : cases) {
        TRemoteOpenDialog d = Make(c.root);
        d.Init(c.fileName);
        EXPECT_EQ(d.CurrentFolder(), c.current) << c.name;
        EXPECT_EQ(d.FileName(), c.shown) << c.name;
        EXPECT_EQ(d.FileTypeIndex(), 0) << c.name;
    }
}

TEST_F(OpenDialog, RootsCompareOnWholeComponents)
{
    const TRemoteOpenDialog d = Make(disk.Path("Data"));
    std::string relative = "unset";
    EXPECT_FALSE(d.RelativeToRoot(disk.Path("Data2/x"), relative));
    EXPECT_TRUE(d.RelativeToRoot(disk.Path("Data/x/y"), relative));
    EXPECT_EQ(relative, "x/y");
    EXPECT_TRUE(d.RelativeToRoot(disk.Path("Data"), relative));
    EXPECT_EQ(relative, "");
    const TRemoteOpenDialog top = Make("/");
    EXPECT_TRUE(top.RelativeToRoot("/tmp", relative));
    EXPECT_EQ(relative, "tmp");
}

TEST_F(OpenDialog, ListsFoldersThenFilesOfTheChosenType)
{
    TRemoteOpenDialog d = Make("", "Paradox|*.db|Text and README|*.txt;README;*.TXT|Doubled|*.db;*.DB;c.*|None|");
    d.Init(disk.Path("Data/"));
    EXPECT_EQ(Listed(d), "Old/ Sub/ b.DB c.db") << "masks ignore case";
    d.SetFileTypeIndex(1);
    EXPECT_EQ(Listed(d), "Old/ Sub/ d.txt README") << "mask by mask";
    d.SetFileTypeIndex(2);
    EXPECT_EQ(Listed(d), "Old/ Sub/ b.DB c.db") << "a file matching two masks once";
    d.SetFileTypeIndex(3);
    EXPECT_EQ(Listed(d), "Old/ Sub/") << "no mask, no files";
    d.SetFileTypeIndex(-1);
    EXPECT_EQ(Listed(d), "Old/ Sub/ b.DB c.db d.txt README") << "no type: *.*";
    TRemoteOpenDialog noFilter = Make("", "");
    noFilter.Init(disk.Path("Data/"));
    EXPECT_EQ(noFilter.FileTypeIndex(), -1);
    EXPECT_EQ(Listed(noFilter), "Old/ Sub/ b.DB c.db d.txt README");
}

TEST_F(OpenDialog, NamesEqualButForCaseAreBothListed)
{
    TRemoteOpenDialog d = Make(disk.Path());
    d.Init("");
    EXPECT_EQ(Listed(d), "Data/ data/ Data2/ Empty/");
}

TEST_F(OpenDialog, NothingIsListedAboveTheDrives)
{
    TRemoteOpenDialog d = Make("");
    d.Init("");
    EXPECT_EQ(d.CurrentFolder(), "");
    EXPECT_EQ(Listed(d), "");
    EXPECT_FALSE(d.UpDirEnabled());
    ASSERT_EQ(d.LookinItems().size(), 1u);
    EXPECT_EQ(d.LookinItems()[0].Kind, TLookinItem::lkDrive);
    EXPECT_EQ(d.LookinItems()[0].Path, "/");
    EXPECT_EQ(d.LookinItems()[0].ImageIndex, riFixedDrive);
    EXPECT_EQ(d.LookinIndex(), -1) << "no drive selected";
    d.ChooseLookin(0);
    EXPECT_EQ(d.CurrentFolder(), "/");
    EXPECT_NE(Listed(d).find("tmp/"), std::string::npos) << "the drive lists its folders";
    EXPECT_EQ(d.LookinIndex(), 0);
}

TEST_F(OpenDialog, LookinWithoutARootShowsTheDriveAndTheFoldersDownToTheCurrentOne)
{
    TRemoteOpenDialog d = Make("");
    d.Init(disk.Path("Data/Sub/a.txt"));
    const auto& items = d.LookinItems();
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(items[0].Kind, TLookinItem::lkDrive);
    EXPECT_EQ(items[0].Indent, 0);
    std::string path = "/";
    for (std::size_t i = 1; i < items.size(); ++i) {
        path = i == 1 ? "/" + items[i].Caption : path + "/" + items[i].Caption;
        EXPECT_EQ(items[i].Kind, TLookinItem::lkFolder);
        EXPECT_EQ(items[i].Path, path);
        EXPECT_EQ(items[i].Indent, static_cast<int>(i) * 8);
        EXPECT_EQ(items[i].ImageIndex, i + 1 == items.size() ? riFolderOpen : riFolderClosed);
    }
    EXPECT_EQ(items.back().Path, disk.Path("Data/Sub"));
    EXPECT_EQ(d.LookinIndex(), static_cast<int>(items.size()) - 1);
    d.ChooseLookin(static_cast<int>(items.size()) - 3);
    EXPECT_EQ(d.CurrentFolder(), disk.Path());
}

TEST_F(OpenDialog, LookinWithARoot)
{
    TRemoteOpenDialog d = Make(disk.Path("Data"));
    d.Init("Sub/a.txt");
    const auto& items = d.LookinItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Kind, TLookinItem::lkRoot);
    EXPECT_EQ(items[0].Caption, "База");
    EXPECT_EQ(items[0].Path, "");
    EXPECT_EQ(items[0].ImageIndex, riFolderClosed);
    EXPECT_EQ(items[1].Caption, "Sub");
    EXPECT_EQ(items[1].Path, "Sub");
    EXPECT_EQ(items[1].Indent, 8);
    EXPECT_EQ(items[1].ImageIndex, riFolderOpen);
    EXPECT_EQ(d.LookinIndex(), 1);
    d.ChooseLookin(0);
    EXPECT_EQ(d.CurrentFolder(), "");
    ASSERT_EQ(d.LookinItems().size(), 1u);
    EXPECT_EQ(d.LookinItems()[0].ImageIndex, riFolderOpen);
    EXPECT_FALSE(d.UpDirEnabled()) << "disabled at the root";
}

TEST_F(OpenDialog, UpGoesOneLevel)
{
    TRemoteOpenDialog rooted = Make(disk.Path());
    rooted.Init("Data/Sub/a.txt");
    EXPECT_EQ(rooted.CurrentFolder(), "Data/Sub");
    rooted.UpDir();
    EXPECT_EQ(rooted.CurrentFolder(), "Data");
    rooted.UpDir();
    EXPECT_EQ(rooted.CurrentFolder(), "");
    rooted.UpDir();
    EXPECT_EQ(rooted.CurrentFolder(), "") << "nothing above the root";

    TRemoteOpenDialog free = Make("");
    free.Init("/tmp/");
    EXPECT_EQ(free.CurrentFolder(), "/tmp");
    free.UpDir();
    EXPECT_EQ(free.CurrentFolder(), "/");
    free.UpDir();
    EXPECT_EQ(free.CurrentFolder(), "");
    EXPECT_EQ(Listed(free), "");
}

TEST_F(OpenDialog, OpeningAFolderEntersIt)
{
    TRemoteOpenDialog d = Make(disk.Path("Data"));
    d.Init("");
    EXPECT_EQ(Listed(d), "Old/ Sub/ b.DB c.db d.txt README");
    EXPECT_FALSE(d.Open(1));
    EXPECT_EQ(d.CurrentFolder(), "Sub");
    EXPECT_EQ(Listed(d), "a.txt");
    d.SelectItem(0);
    EXPECT_EQ(d.FileName(), "a.txt");
    EXPECT_TRUE(d.Open(0));
    EXPECT_EQ(d.FullName(), disk.Path("Data/Sub/a.txt"));
}

TEST_F(OpenDialog, FullNames)
{
    struct Case {
        const char* name;
        std::string root, fileName, full;
    };
    const Case cases[] = {
        {"in a subfolder of the root", disk.Path("Data"), "Sub/a.txt", disk.Path("Data/Sub/a.txt")},
        {"root with a trailing slash", disk.Path("Data") + "/", "d.txt", disk.Path("Data/d.txt")},
        {"no root", "", disk.Path("Data2/a.txt"), disk.Path("Data2/a.txt")},
        {"absolute name outside the root", disk.Path("Data"), disk.Path("Data2/a.txt"), disk.Path("Data2/a.txt")},
    };
    for (const Case& c : cases) {
        TRemoteOpenDialog d = Make(c.root);
        d.Init(c.fileName);
        EXPECT_EQ(d.FullName(), c.full) << c.name;
        EXPECT_EQ(OpenFailure(d), "opened") << c.name;
    }
}

TEST_F(OpenDialog, OnlyAnExistingFileIsTaken)
{
    TRemoteOpenDialog d = Make(disk.Path("Data"));
    d.Init("");
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"a folder's name", "Old"},
        {"a pattern", "*.db"},
        {"one character wildcard", "?.db"},
        {"a missing file", "missing.db"},
        {"the name in another case", "D.TXT"},
        {"nothing", ""},
    };
    for (const Case& c : cases) {
        d.SetFileName(c.text);
        EXPECT_EQ(OpenFailure(d), NotFound(d.FullName())) << c.name;
    }
    d.SetFileName("d.txt");
    EXPECT_EQ(OpenFailure(d), "opened");

    TRemoteOpenDialog top = Make("");
    top.Init("/parvane-no-such-folder/a.txt");
    EXPECT_EQ(OpenFailure(top), NotFound("/parvane-no-such-folder/a.txt"));
    TRemoteOpenDialog relative = Make("");
    relative.Init("d.txt");
    EXPECT_EQ(OpenFailure(relative), NotFound("d.txt")) << "never looked up in the working folder";
}

} // namespace
