// The tree view with three-state check boxes.
//
// TXCustomTreeView holds all the behaviour and needs no display: the nodes
// (TXTreeNode), their check states kept as state-image indexes (1 unchecked,
// 2 checked, 3 indeterminate, 0 while there are no check boxes), the
// independent and hierarchical check rules with their events, the selection
// and what the user's clicks and keys do once the display has told it where
// they landed. TXTreeView is a QTreeView that shows a TXCustomTreeView and
// turns Qt's input into those calls; it adds no behaviour of its own.
//
// In hierarchical mode a change is pushed down to the node's subtree and the
// ancestors are recomputed from their children: 3 when any child is 3, else
// 1 with no checked child, 2 with all children checked, 3 in between.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QTreeView>

#include "platform/gui/ImageLists.h"
#include "platform/gui/Input.h"

class TXCustomTreeView;
class TXTreeNode;

enum TCheckboxesMode { cbmNone, cbmIndependent, cbmHierarchical };

// A node's check state, its state-image index.
enum TCheckState : int { csUnchecked = 1, csChecked = 2, csIndeterminate = 3 };

// Where a point of the view lies relative to a node.
enum THitTest { htNowhere, htOnIndent, htOnButton, htOnStateIcon, htOnIcon, htOnLabel, htOnRight };

enum TTreeCursor { crDefault, crHandPoint };

using TOnIconClick = std::function<void(TXCustomTreeView* aSender, TXTreeNode* aNode, gui::TMouseButton aButton,
                                        gui::TShiftState aShift, int aX, int aY)>;
using TOnMouseOverIcon =
    std::function<void(TXCustomTreeView* aSender, TXTreeNode* aNode, gui::TShiftState aShift, int aX, int aY)>;
using TOnNodeChecked = std::function<void(TXCustomTreeView* aSender, TXTreeNode* aNode)>;
using TOnNodeChecking = std::function<void(TXCustomTreeView* aSender, TXTreeNode* aNode, bool aCheck)>;
using TOnNodeCanCheck =
    std::function<void(TXCustomTreeView* aSender, TXTreeNode* aNode, bool aCheck, bool& aCanCheck)>;
using TVNInfoTipEvent = std::function<void(TXCustomTreeView* Sender, TXTreeNode* aNode, std::string& InfoTip)>;
using TTreeNotifyEvent = std::function<void(TXCustomTreeView* Sender)>;

// What is being dragged.
class TDragObject {
public:
    virtual ~TDragObject() = default;
};

// The drag of a control itself.
class TDragControlObject : public TDragObject {
public:
    explicit TDragControlObject(TXCustomTreeView* control) noexcept : control_(control) {}
    TXCustomTreeView* Control() const noexcept { return control_; }

private:
    TXCustomTreeView* control_;
};

// DragObject starts as nullptr; a handler may give one (it stays the handler's).
using TStartDragEvent = std::function<void(TXCustomTreeView* Sender, TDragObject*& DragObject)>;
using TTVChangedEvent = std::function<void(TXCustomTreeView* Sender, TXTreeNode* Node)>;

// What a display of a TXCustomTreeView is told. Insertions and removals come
// in Begin/End pairs around the change, as item models need them.
class ITreeDisplay {
public:
    virtual void BeginInsertNode(TXTreeNode* parent, int index) = 0;
    virtual void EndInsertNode() = 0;
    virtual void BeginRemoveNode(TXTreeNode* node) = 0;
    virtual void EndRemoveNode() = 0;
    virtual void BeginClear() = 0;
    virtual void EndClear() = 0;
    // Text, pictures, check state or boldness changed.
    virtual void NodeChanged(TXTreeNode* node) = 0;
    virtual void NodeExpandedChanged(TXTreeNode* node) = 0;
    virtual void SelectionChanged(TXTreeNode* node) = 0;
    virtual void MakeVisible(TXTreeNode* node) = 0;
    // The outermost BeginUpdate (true) and its EndUpdate (false).
    virtual void UpdatesSuspended(bool suspended) = 0;
    virtual void CheckboxesChanged() = 0;
    virtual void ImagesChanged() = 0;

protected:
    ~ITreeDisplay() = default;
};

// A node of a TXCustomTreeView; made, owned and freed by its view.
class TXTreeNode {
public:
    TXTreeNode(const TXTreeNode&) = delete;
    TXTreeNode& operator=(const TXTreeNode&) = delete;

    TXCustomTreeView* TreeView() const noexcept { return owner_; }
    // nullptr for a top-level node.
    TXTreeNode* Parent() const noexcept;
    // Position among the parent's children.
    int Index() const noexcept { return index_; }
    int Level() const noexcept;
    int Count() const noexcept { return static_cast<int>(children_.size()); }
    bool HasChildren() const noexcept { return !children_.empty(); }
    // Child index; rtl::EListError "List index out of bounds (%d)" outside 0..Count() - 1.
    TXTreeNode* Item(int index) const;
    TXTreeNode* GetFirstChild() const noexcept;
    TXTreeNode* GetLastChild() const noexcept;
    TXTreeNode* GetNextSibling() const noexcept;
    TXTreeNode* GetPrevSibling() const noexcept;
    // The next node in tree order (depth first), nullptr after the last.
    TXTreeNode* GetNext() const noexcept;
    bool HasAsParent(const TXTreeNode* ancestor) const noexcept;

    const std::string& Text() const noexcept { return text_; }
    void SetText(std::string text);
    int ImageIndex() const noexcept { return imageIndex_; }
    void SetImageIndex(int index);
    int SelectedIndex() const noexcept { return selectedIndex_; }
    void SetSelectedIndex(int index);
    void* Data() const noexcept { return data_; }
    void SetData(void* data) noexcept { data_ = data; }
    int StateIndex() const noexcept { return stateIndex_; }

    bool Bold() const noexcept { return bold_; }
    // Shows the text bold or normal.
    void SetBold(bool bold);

    bool Expanded() const noexcept { return expanded_; }
    void Expand(bool recurse);
    void Collapse(bool recurse);
    void SetExpanded(bool expanded);
    bool Selected() const noexcept;
    // Expands the ancestors and scrolls the node into view.
    void MakeVisible();

    // 1 or 2 as the state index says, 3 for every other index and for every
    // node while the view has no check boxes.
    TCheckState GetCheckState() const noexcept;
    // The programmatic change: the check rule of the view's mode without any
    // event (not even OnNodeCanCheck); nothing while there are no check boxes.
    void SetCheckState(TCheckState state);

    void Delete();
    void DeleteChildren();

private:
    friend class TXCustomTreeView;
    friend class TXTreeNodes;
    TXTreeNode(TXCustomTreeView* owner, TXTreeNode* parent, std::string text, void* data);

    TXCustomTreeView* owner_;
    TXTreeNode* parent_; // the view's hidden root for a top-level node
    std::vector<std::unique_ptr<TXTreeNode>> children_;
    std::string text_;
    void* data_;
    int index_ = 0;
    int imageIndex_ = -1;
    int selectedIndex_ = -1;
    int stateIndex_ = 0;
    bool bold_ = false;
    bool expanded_ = false;
};

// The node collection of a view.
class TXTreeNodes {
public:
    explicit TXTreeNodes(TXCustomTreeView& owner) : owner_(owner) {}
    TXTreeNodes(const TXTreeNodes&) = delete;
    TXTreeNodes& operator=(const TXTreeNodes&) = delete;

    TXCustomTreeView& Owner() const noexcept { return owner_; }
    // Every node of the tree.
    int Count() const noexcept;
    TXTreeNode* GetFirstNode() const noexcept;
    int TopLevelCount() const noexcept;
    // Top-level node index; rtl::EListError outside 0..TopLevelCount() - 1.
    TXTreeNode* TopLevelItem(int index) const;

    // A new last node at the level of sibling (the top level for nullptr).
    TXTreeNode* Add(TXTreeNode* sibling, std::string text);
    TXTreeNode* AddObject(TXTreeNode* sibling, std::string text, void* data);
    // A new last child of parent (a top-level node for nullptr).
    TXTreeNode* AddChild(TXTreeNode* parent, std::string text);
    TXTreeNode* AddChildObject(TXTreeNode* parent, std::string text, void* data);

    void Delete(TXTreeNode* node);
    void Clear();

    // Suspends the display until the matching EndUpdate; they nest.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const noexcept { return updateCount_; }

private:
    TXCustomTreeView& owner_;
    int updateCount_ = 0;
};

// BeginUpdate for the lifetime of the object.
class TTreeUpdateScope {
public:
    explicit TTreeUpdateScope(TXTreeNodes& items) : items_(items) { items_.BeginUpdate(); }
    ~TTreeUpdateScope() { items_.EndUpdate(); }
    TTreeUpdateScope(const TTreeUpdateScope&) = delete;
    TTreeUpdateScope& operator=(const TTreeUpdateScope&) = delete;

private:
    TXTreeNodes& items_;
};

class TXCustomTreeView {
public:
    TXCustomTreeView();
    virtual ~TXCustomTreeView();
    TXCustomTreeView(const TXCustomTreeView&) = delete;
    TXCustomTreeView& operator=(const TXCustomTreeView&) = delete;

    TXTreeNodes& Items() noexcept { return items_; }
    const TXTreeNodes& Items() const noexcept { return items_; }

    TCheckboxesMode Checkboxes() const noexcept { return checkboxes_; }
    // A new mode other than cbmNone makes every node unchecked; cbmNone gives
    // every node state index 0.
    void SetCheckboxes(TCheckboxesMode mode);

    // 3 for nullptr and while there are no check boxes.
    TCheckState GetCheckState(const TXTreeNode* node) const noexcept;
    // The user-level change, with OnNodeCanCheck, OnNodeChecking and
    // OnNodeChecked. Without check boxes the assertion "Invalid use
    // XTreeView, checkboxes disabled" fails.
    void SetCheckState(TXTreeNode* node, TCheckState state);

    TXTreeNode* Selected() const noexcept { return selected_; }
    // Fires OnChange when the selection changes.
    void SetSelected(TXTreeNode* node);

    // The pictures the nodes' image indexes refer to; not owned.
    gui::ImageList* Images() const noexcept { return images_; }
    void SetImages(gui::ImageList* images);

    // What the user did, as the display reports it. Coordinates are client
    // coordinates of the view.
    void MouseDown(TXTreeNode* node, THitTest hit, gui::TMouseButton button, gui::TShiftState shift, int x, int y);
    // The cursor to show at the point.
    TTreeCursor MouseMove(TXTreeNode* node, THitTest hit, gui::TShiftState shift, int x, int y);
    // A right click selects the node under the mouse.
    void RightClick(TXTreeNode* node);
    // A typed character; true when it was consumed (then the display does
    // not handle it).
    bool KeyPress(char32_t key);
    // A press or release of the Shift key; a press that is an auto-repeat
    // changes nothing.
    void ShiftKey(bool pressed, bool autoRepeat);
    // The tip for a node: nothing without OnInfoTip, else the node's text as
    // OnInfoTip leaves it.
    std::optional<std::string> InfoTip(TXTreeNode* node);
    void DblClick();
    // A drag starts: OnStartDrag may give the drag object; without one the
    // view makes a TDragControlObject of itself, which it frees at EndDrag.
    void StartDrag();
    void EndDrag();
    // The current drag object; nullptr while there is no drag.
    TDragObject* DragObject() const noexcept { return dragObject_; }

    // The display, told of every change; nullptr for none.
    void SetDisplay(ITreeDisplay* display) noexcept { display_ = display; }
    ITreeDisplay* Display() const noexcept { return display_; }

    TOnIconClick OnIconClick;
    TOnMouseOverIcon OnMouseOverIcon;
    TTreeNotifyEvent OnShiftStateChanged;
    TOnNodeChecked OnNodeChecked;
    TOnNodeChecking OnNodeChecking;
    TOnNodeCanCheck OnNodeCanCheck;
    TVNInfoTipEvent OnInfoTip;
    TTVChangedEvent OnChange;
    TTreeNotifyEvent OnDblClick;
    TStartDragEvent OnStartDrag;

protected:
    // Fires OnShiftStateChanged.
    virtual void DoShiftStateChanged();
    // Called when a drag ends, while its drag object still exists.
    virtual void DoEndDrag() {}

private:
    friend class TXTreeNode;
    friend class TXTreeNodes;

    TXTreeNode* Root() const noexcept { return root_.get(); }
    TXTreeNode* AddNode(TXTreeNode* parent, std::string text, void* data);
    void DeleteNode(TXTreeNode* node);
    void ClearNodes();
    // The check rule: view given for the user-level change, nullptr for the
    // programmatic one.
    void ChangeCheckState(TXCustomTreeView* view, TXTreeNode* node, TCheckState state);
    void ApplyCheckState(TXCustomTreeView* view, TXTreeNode* node, TCheckState state, bool events, bool recurse);
    void UpdateParentCheckStates(TXTreeNode* node);
    void NodeChanged(TXTreeNode* node);

    TXTreeNodes items_;
    std::unique_ptr<TXTreeNode> root_;
    TCheckboxesMode checkboxes_ = cbmNone;
    TXTreeNode* selected_ = nullptr;
    gui::ImageList* images_ = nullptr;
    ITreeDisplay* display_ = nullptr;
    TDragObject* dragObject_ = nullptr;
    // The drag object the view made for itself.
    std::unique_ptr<TDragObject> ownDragObject_;
};

class TXTreeModel;
class TXTreeItemDelegate;

// The Qt view of a TXCustomTreeView.
class TXTreeView : public QTreeView, public TXCustomTreeView {
    Q_OBJECT
public:
    explicit TXTreeView(QWidget* parent = nullptr);
    ~TXTreeView() override;

    // Where a point of the viewport lies; node gets the node of that row.
    THitTest GetHitTestInfoAt(int x, int y, TXTreeNode** node = nullptr) const;
    TXTreeNode* GetNodeAt(int x, int y) const;
    // Viewport rectangles of a shown node's parts (empty when not shown).
    QRect StateIconRect(const TXTreeNode* node) const;
    QRect IconRect(const TXTreeNode* node) const;
    QRect TextRect(const TXTreeNode* node) const;
    QModelIndex IndexOf(const TXTreeNode* node) const;
    TXTreeNode* NodeOf(const QModelIndex& index) const;

    // The pictures of the three check states at state indexes 1 to 3
    // (index 0 is an unused placeholder); empty while there are no check boxes.
    const gui::ImageList& StateImages() const noexcept { return stateImages_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    // Qt's drag, between StartDrag and EndDrag.
    void startDrag(Qt::DropActions supportedActions) override;

private:
    friend class TXTreeModel;
    void LoadStateImages();
    void SyncSelection();

    std::unique_ptr<TXTreeModel> model_;
    std::unique_ptr<TXTreeItemDelegate> delegate_;
    gui::ImageList stateImages_;
    bool syncing_ = false;
};
