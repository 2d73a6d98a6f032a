// The folder tree of the folder chooser, kept on a tree view's nodes, and
// the pictures of the computer-access dialogs.
//
// The tree shows the computer's fixed drives (here the one drive "/") and,
// below them, folders read through IVelmoServerRemoteComputer as the user
// expands them. A node whose children were not read yet holds one
// placeholder child "*", so that it shows an expand button. Folder names
// are compared exactly, as Linux names are; they are sorted ignoring case,
// and names equal but for case are both kept.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/controls/xTreeView.h"
#include "platform/gui/ImageLists.h"
#include "platform/rtl/Variant.h"
#include "remote/RemoteComputers.h"

// The images of the dialogs, by index.
enum : int {
    riCDRom = 3,
    riFixedDrive = 4,
    riRamDisk = 5,
    riNetworkDrive = 6,
    riFolderClosed = 8,
    riFolderOpen = 9,
    riFile = 10,
    riUpFolder = 11,
};

// The dialogs' image list: the program's bitmap "REMOTE_DIALOGS_IMAGES" (a
// strip of 16 x 16 pictures, mask colour purple) when it has one, else the
// pictures drawn here.
gui::ImageList MakeRemoteDialogImages();

// A variant array of 32-bit integers with bounds 0 to n - 1.
rtl::Variant MakeFieldCodes(std::initializer_list<int> codes);

struct TSubfolder {
    std::string Name;
    int Flags = 0; // content flags: bit 0 a file, bit 1 a subfolder
};

// The subfolders of path with their content flags, sorted by name ignoring
// case (names equal but for case in exact order), each name once.
std::vector<TSubfolder> GetSubfolders(IVelmoServerRemoteComputer& computer, const std::string& path);

// The text of a drive node: "letter - label (file system)".
std::string DriveNodeText(const std::string& letter, const std::string& label, const std::string& fileSystem);

// A drive node's path is its drive ("/"), any other node's its parent's
// path and its own text joined by one "/".
std::string NodePath(const TXTreeNode* node);
bool IsPlaceholder(const TXTreeNode* node) noexcept;

// One top-level node per fixed drive, with the placeholder child.
void FillDriveNodes(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer);
// The tree's expanding event: when the node's one child is the placeholder,
// its subfolders are read (hourglass cursor) and become its children; with
// none the expansion is refused (false) and the placeholder stays.
bool ExpandFolderNode(TXTreeNode* node, IVelmoServerRemoteComputer& computer);
// A folder node shows the open folder while expanded, the closed one else.
void FolderNodeExpandedChanged(TXTreeNode* node);
// Expands a node in the program: its children are read first.
bool ExpandNode(TXTreeNode* node, IVelmoServerRemoteComputer& computer);
// Selects the deepest node along folder (a path beginning with "/"),
// expanding the nodes on the way; nothing for an empty or relative path.
void SelectFolderPath(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer, const std::string& folder);
// Asks for a name (AskFolderName) and makes the folder below the selected
// node, whose children are then read anew; nothing without a selected node.
void CreateFolderInTree(TXCustomTreeView& tree, IVelmoServerRemoteComputer& computer);
// Makes the folder name below the node and reads the node's children anew.
void CreateFolderBelow(TXTreeNode* node, IVelmoServerRemoteComputer& computer, const std::string& name);
// The selected node's path; rtl::Exception with the hint to choose a folder
// when nothing is selected.
std::string GetSelectedFolder(const TXCustomTreeView& tree);

// The hint shown when no folder is chosen.
extern const char* const kChooseFolderHint;

// The pieces of text between delim characters, in order (an empty text is
// one empty piece).
std::vector<std::string> SplitAt(std::string_view text, char delim);
// The order of names in the folder views: ignoring case, then exactly.
bool LessName(const std::string& a, const std::string& b);
