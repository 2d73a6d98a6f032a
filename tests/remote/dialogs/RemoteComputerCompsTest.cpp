// The folder tree routines on real folders: field codes, subfolders, node
// paths, drive nodes, expanding with the placeholder, folder images, the
// path selection, making a folder, the selected folder; and the pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "CoreLib/controls/xTreeView.h"
#include "remote/dialogs/CreateFolderForms.h"
#include "remote/dialogs/RemoteComputerComps.h"
#include "tests/remote/dialogs/RemoteDialogsTestSupport.h"

namespace {

using dialogtest::Children;
using dialogtest::DiskTree;

// The root file system's name, as the computer-access object reports it.
std::string RootDriveText(IVelmoServerRemoteComputer& computer)
{
    const rtl::Variant drives = computer.GetDrives(kFixedDrives, MakeFieldCodes({dfFileSystem}));
    return DriveNodeText("/", "", rtl::VarToStr(drives.GetElement(0).GetElement(0)));
}

class FolderTree : public ::testing::Test {
protected:
    void SetUp() override { FillDriveNodes(tree, *computer); }
    TXTreeNode* Drive() { return tree.Items().TopLevelItem(0); }
    // Selects the folder and returns its node.
    TXTreeNode* At(const std::string& path)
    {
        SelectFolderPath(tree, *computer, path);
        return tree.Selected();
    }

    DiskTree disk;
    IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
    TXCustomTreeView tree;
};

TEST(RemoteComps, FieldCodesRunFromZero)
{
    const rtl::Variant codes = MakeFieldCodes({2, 1, 3, 7});
    EXPECT_EQ(codes.VarType(), rtl::varArray | rtl::varInteger);
    EXPECT_EQ(codes.ArrayLowBound(), 0);
    EXPECT_EQ(codes.ArrayHighBound(), 3);
    EXPECT_EQ(codes.GetElement(3).AsInteger(), 7);
    EXPECT_EQ(MakeFieldCodes({}).ArrayHighBound(), -1);
}

TEST(RemoteComps, SubfoldersSortedWithTheirFlags)
{
    DiskTree disk;
    const IVelmoServerRemoteComputerPtr computer = CreateLocalRemoteComputer();
    std::string listed;
    for (const TSubfolder& f : GetSubfolders(*computer, disk.Path()))
        listed += f.Name + "=" + std::to_string(f.Flags) + " ";
    EXPECT_EQ(listed, "Data=3 data=0 Data2=1 Empty=0 ") << "case ignored in order, both kept";
    EXPECT_TRUE(GetSubfolders(*computer, disk.Path("missing")).empty());
}

TEST(RemoteComps, DriveNodeText)
{
    EXPECT_EQ(DriveNodeText("C", "System", "NTFS"), "C - System (NTFS)");
    EXPECT_EQ(DriveNodeText("/", "", "ext4"), "/ -  (ext4)");
}

TEST_F(FolderTree, OneFixedDriveWithThePlaceholder)
{
    ASSERT_EQ(tree.Items().TopLevelCount(), 1);
    EXPECT_EQ(Drive()->Text(), RootDriveText(*computer));
    EXPECT_EQ(Drive()->ImageIndex(), riFixedDrive);
    ASSERT_EQ(Drive()->Count(), 1);
    EXPECT_TRUE(IsPlaceholder(Drive()->GetFirstChild()));
    EXPECT_EQ(Drive()->GetFirstChild()->Text(), "*");
    EXPECT_EQ(NodePath(Drive()), "/");
}

TEST_F(FolderTree, ExpandingReadsTheSubfolders)
{
    TXTreeNode* root = At(disk.Path());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(NodePath(root), disk.Path());
    EXPECT_EQ(root->ImageIndex(), riFolderOpen) << "expanded on the way";
    EXPECT_EQ(Children(root), "Data@8[1] data@8 Data2@8 Empty@8") << "placeholders only where subfolders are";
    TXTreeNode* data = root->GetFirstChild();
    EXPECT_EQ(NodePath(data), disk.Path("Data"));
    EXPECT_TRUE(ExpandFolderNode(data, *computer));
    EXPECT_EQ(Children(data), "Old@8 Sub@8");
    EXPECT_EQ(NodePath(data->GetFirstChild()), disk.Path("Data/Old"));
    EXPECT_TRUE(ExpandFolderNode(data, *computer)) << "read once; later expansions pass";
    EXPECT_EQ(Children(data), "Old@8 Sub@8");
}

TEST_F(FolderTree, ExpandingAFolderThatBecameEmptyIsRefused)
{
    TXTreeNode* root = At(disk.Path());
    TXTreeNode* data = root->GetFirstChild();
    std::filesystem::remove_all(disk.Path("Data/Old"));
    std::filesystem::remove_all(disk.Path("Data/Sub"));
    EXPECT_FALSE(ExpandFolderNode(data, *computer));
    ASSERT_EQ(data->Count(), 1);
    EXPECT_TRUE(IsPlaceholder(data->GetFirstChild())) << "the placeholder stays";
    EXPECT_FALSE(ExpandNode(data, *computer));
    EXPECT_FALSE(data->Expanded());
}

TEST_F(FolderTree, FolderImagesFollowExpansion)
{
    TXTreeNode* root = At(disk.Path());
    TXTreeNode* data = root->GetFirstChild();
    EXPECT_TRUE(ExpandNode(data, *computer));
    EXPECT_EQ(data->ImageIndex(), riFolderOpen);
    EXPECT_EQ(data->SelectedIndex(), riFolderOpen);
    data->Collapse(false);
    FolderNodeExpandedChanged(data);
    EXPECT_EQ(data->ImageIndex(), riFolderClosed);
    Drive()->Collapse(false);
    FolderNodeExpandedChanged(Drive());
    EXPECT_EQ(Drive()->ImageIndex(), riFixedDrive) << "drives keep their image";
    TXTreeNode* empty = root->GetLastChild();
    EXPECT_TRUE(ExpandNode(empty, *computer));
    EXPECT_FALSE(empty->Expanded()) << "nothing to expand";
    EXPECT_EQ(empty->ImageIndex(), riFolderClosed);
}

TEST_F(FolderTree, SelectsTheDeepestFolderThatExists)
{
    struct Case {
        const char* name;
        std::string folder;
        std::string selected; // "" for none
    };
    const Case cases[] = {
        {"both folders exist", disk.Path("Data/Old"), disk.Path("Data/Old")},
        {"only the first exists", disk.Path("Data/Missing/Deeper"), disk.Path("Data")},
        {"a trailing slash", disk.Path("Data") + "/", disk.Path("Data")},
        {"names compare exactly", disk.Path("DATA/Old"), disk.Path()},
        {"lower-case twin", disk.Path("data"), disk.Path("data")},
        {"a doubled slash stops", disk.Path() + "//Data", disk.Path()},
        {"the drive", "/", "/"},
        {"blanks around", "  " + disk.Path("Data2") + " ", disk.Path("Data2")},
        {"empty", "", ""},
        {"relative", "Data/Old", ""},
    };
    for (const Case& c : cases) {
        TXCustomTreeView fresh;
        FillDriveNodes(fresh, *computer);
        SelectFolderPath(fresh, *computer, c.folder);
        EXPECT_EQ(fresh.Selected() ? NodePath(fresh.Selected()) : std::string(), c.selected) << c.name;
    }
}

TEST_F(FolderTree, SelectedFolderOrTheHint)
{
    try {
        GetSelectedFolder(tree);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Подсказка: Перед тем, как нажать кнопку \"Далее\", выделите папку, в которой "
                               "размещена база данных.");
    }
    At(disk.Path("Data"));
    EXPECT_EQ(GetSelectedFolder(tree), disk.Path("Data"));
    tree.SetSelected(Drive());
    EXPECT_EQ(GetSelectedFolder(tree), "/") << "the drive itself";
}

TEST_F(FolderTree, MakingAFolderRereadsTheChildren)
{
    TXTreeNode* root = At(disk.Path());
    TXTreeNode* empty = root->GetLastChild();
    tree.SetSelected(empty);
    CreateFolderBelow(empty, *computer, "Новая папка");
    EXPECT_TRUE(std::filesystem::is_directory(disk.Path("Empty/Новая папка")));
    EXPECT_EQ(Children(empty), "Новая папка@8");
    EXPECT_FALSE(empty->Expanded()) << "not expanded";
    EXPECT_EQ(tree.Selected(), empty) << "selection unchanged";
    // The existing children are read anew, the new one among them.
    TXTreeNode* data = root->GetFirstChild();
    ExpandNode(data, *computer);
    CreateFolderBelow(data, *computer, "A");
    EXPECT_EQ(Children(data), "A@8 Old@8 Sub@8");
    EXPECT_THROW(CreateFolderBelow(data, *computer, "d.txt/x"), ERemoteComputer) << "through a file";
    EXPECT_EQ(Children(data), "A@8 Old@8 Sub@8");
}

TEST_F(FolderTree, CreateFolderInTreeAsksForTheName)
{
    TXTreeNode* root = At(disk.Path());
    dialogtest::FormDriver driver;
    std::string offered = "unset";
    driver.On<TCreateFolderForm>([&](TCreateFolderForm& form) {
        offered = form.FolderName->text().toStdString();
        form.FolderName->setText("Made");
        return static_cast<int>(QDialog::Accepted);
    });
    {
        const auto runner = driver.Install();
        CreateFolderInTree(tree, *computer);
    }
    EXPECT_EQ(offered, "") << "asked with an empty name";
    EXPECT_TRUE(std::filesystem::is_directory(disk.Path("Made")));
    EXPECT_NE(Children(root).find("Made@8"), std::string::npos);

    TXCustomTreeView none;
    const auto runner = driver.Install();
    CreateFolderInTree(none, *computer);
    EXPECT_EQ(driver.shown, 1) << "nothing asked without a selected node";
}

TEST(RemoteComps, ImagesAreDrawnWhenTheProgramHasNone)
{
    const gui::ImageList images = MakeRemoteDialogImages();
    ASSERT_EQ(images.Count(), 12);
    for (const int index :
         {riCDRom, riFixedDrive, riRamDisk, riNetworkDrive, riFolderClosed, riFolderOpen, riFile, riUpFolder}) {
        const QImage image = images.Pixmap(index).toImage();
        EXPECT_EQ(image.size(), QSize(16, 16)) << index;
        int painted = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) painted += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(painted, 30) << "image " << index << " is drawn";
    }
    EXPECT_NE(images.Pixmap(riFolderOpen).toImage(), images.Pixmap(riFolderClosed).toImage());
}

} // namespace
