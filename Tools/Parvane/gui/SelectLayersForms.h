// The selection dialog of system objects: the candidates of the chosen kinds
// as a check-box tree (areas at the top, maps and projects under their
// area, layers under their vector map, styles, semantic tables and relations
// under their layer); OK leaves in the list only the objects checked
// completely.
//
// Filling the tree and reading the checks back work on a TXCustomTreeView
// and need no display; TSelectLayersForm only holds the controls.
#pragma once

#include <string>
#include <vector>

#include <QDialog>

#include "CoreLib/controls/xTreeView.h"
#include "Tools/Parvane/SelectLayers.h"
#include "platform/gui/ImageLists.h"

class QAction;
class QMenu;
class QPushButton;
class QStatusBar;

// The text of the tree's root node.
inline constexpr const char* kObjectTreeRoot = "Объекты Велмо";

// Clears the tree and shows list under the root "Объекты Велмо": each object
// under the node of its parent (the root when the parent is not shown or the
// object has none), picture Kind + 1, node data the object. Every node ends
// unchecked (with check boxes on). The root gets picture 0.
void FillObjectTree(TXCustomTreeView& tree, const TVelmoSysObjectList& list);
// Removes from list the object of every node that is not checked
// (unchecked or indeterminate).
void RemoveUncheckedObjects(const TXCustomTreeView& tree, TVelmoSysObjectList& list);
// The object a node shows; nullptr for the root.
TVelmoSysObject* NodeObject(const TXTreeNode* node) noexcept;

// The ten pictures of the tree: 0 the root, Kind + 1 each kind.
void LoadObjectImages(gui::ImageList& images);

class TSelectLayersForm : public QDialog {
    Q_OBJECT
public:
    // FormCreate.
    explicit TSelectLayersForm(QWidget* parent = nullptr);
    ~TSelectLayersForm() override;

    // The controls, owned by the form.
    TXTreeView* XTreeView;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QStatusBar* StatusBar;
    QMenu* PopupMenu;
    QAction* mnuFind;
    gui::ImageList ImageList;

    void FillObjectTree(const TVelmoSysObjectList& list) { ::FillObjectTree(*XTreeView, list); }

    void mnuFindClick();
    void XTreeViewChange(TXTreeNode* node);
    void btnOkClick();
};

// Reads the objects of kinds into list and lets the user check them; true
// when OK closed the dialog and list holds at least one object. Cancel
// empties list and gives false. A failing read raises (list keeps what was
// read).
bool SelectVelmoObjects(IUdb& db, const std::string& caption, TVelmoSysObjectList& list,
                        const std::vector<TSysObjectKind>& kinds);
// Every kind, captioned "Выберите системные объекты Велмо".
bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list);
// Areas, vector maps and layers, captioned "Выберите слои Велмо".
bool SelectLayersDialog(IUdb& db, TVelmoSysObjectList& list);
