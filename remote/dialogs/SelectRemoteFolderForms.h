// The folder chooser: a tree of the computer's fixed drives and their
// folders, read as the user expands them, with a button that makes a new
// folder below the selected one.
#pragma once

#include <string>

#include <QDialog>

#include "CoreLib/controls/xTreeView.h"
#include "platform/gui/ImageLists.h"
#include "remote/RemoteComputers.h"

class QLabel;
class QPushButton;

class TSelectRemoteFolderForm : public QDialog {
    Q_OBJECT
public:
    explicit TSelectRemoteFolderForm(IVelmoServerRemoteComputerPtr remoteComputer, QWidget* parent = nullptr);
    ~TSelectRemoteFolderForm() override;

    QLabel* TopLabel;
    TXTreeView* Folders;
    gui::ImageList FoldersImages;
    QPushButton* CreateFolder;
    QPushButton* Ok;
    QPushButton* Cancel;
    IVelmoServerRemoteComputerPtr RemoteComputer;

    // The tree's expanding event (false refuses) and its expanded and
    // collapsed events.
    bool FoldersExpanding(TXTreeNode* node);
    void FoldersExpandedChanged(TXTreeNode* node);
    void CreateFolderClick();
    // OK with no folder chosen shows the hint and keeps the form open.
    void OkClick();
};

// Shows the chooser with caption above the tree and folder selected as far
// as it exists; on OK, folder becomes the chosen folder's path and the
// result is true.
bool SelectRemoteFolder(IVelmoServerRemoteComputerPtr remoteComputer, const std::string& caption, std::string& folder);
