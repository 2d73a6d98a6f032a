// The find-in-tree dialog: the user types words, the dialog shows the part of
// a tree whose node texts hold all of them (matching nodes bold, every shown
// node expanded), and OK hands back the chosen node.
//
// The tree is read through ITreeSource, so the dialog knows no particular
// control; TTreeViewSource reads a TXCustomTreeView. TSearchInTree is the
// dialog's display-free part: it copies the source tree once and rebuilds
// the result tree (a TXCustomTreeView) for each filter text. The Qt form
// TSearchInTreeForm only wires its controls to it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QDialog>

#include "CoreLib/controls/xTreeView.h"
#include "platform/gui/ImageLists.h"
#include "platform/gui/Timers.h"
#include "platform/rtl/RefCounted.h"

class QLabel;
class QLineEdit;
class QPushButton;

// A node of a tree source, opaque to the dialog; nullptr is the invisible root.
using TTreeSourceNode = void*;

// Flags of a source node.
enum : unsigned {
    tnfInclude = 0x1, // show the node and look at its children
    tnfAux = 0x2,     // set together with tnfInclude; nothing reads it
};

class ITreeSource : public virtual rtl::RefCounted {
public:
    // The pictures the nodes' image indexes refer to (may be nullptr).
    virtual gui::ImageList* GetImages() = 0;
    // The node's text; text untouched for nullptr.
    virtual void GetNodeText(TTreeSourceNode node, std::string& text) = 0;
    // -1 for nullptr.
    virtual int GetNodeImageIndex(TTreeSourceNode node) = 0;
    // Child index of parent; nullptr parent: the top level.
    virtual TTreeSourceNode GetChild(TTreeSourceNode parent, int index) = 0;
    // nullptr parent: the number of top-level nodes.
    virtual int GetChildCount(TTreeSourceNode parent) = 0;
    virtual unsigned GetNodeFlags(TTreeSourceNode node) = 0;
};

// Which nodes of a tree view the dialog may show; empty: all of them.
using TTreeNodeFilter = std::function<bool(TXTreeNode* node)>;

// A tree source over a tree view's nodes.
class TTreeViewSource : public ITreeSource {
public:
    TTreeViewSource(TXCustomTreeView* treeView, gui::ImageList* images, TTreeNodeFilter filter);

    gui::ImageList* GetImages() override { return images_; }
    void GetNodeText(TTreeSourceNode node, std::string& text) override;
    int GetNodeImageIndex(TTreeSourceNode node) override;
    // With nullptr parent: the assertion "Invalid params" fails when the view
    // had no node when the source was made, "Invalid index" for a negative
    // index, and rtl::Exception "Index "%d" out of bounds "%d"" past the last
    // top-level node.
    TTreeSourceNode GetChild(TTreeSourceNode parent, int index) override;
    int GetChildCount(TTreeSourceNode parent) override;
    // tnfInclude | tnfAux for a node the filter lets through, else 0.
    unsigned GetNodeFlags(TTreeSourceNode node) override;

private:
    gui::ImageList* images_;
    TXTreeNodes* nodes_; // nullptr when the view had no node
    TTreeNodeFilter filter_;
};

// The copy of the source tree that the dialog filters.
class TNode {
public:
    TNode(std::string text, TTreeSourceNode data, int imageIndex)
        : Text(std::move(text)), ImageIndex(imageIndex), Data(data)
    {
    }
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;

    TNode& Add(std::string text, TTreeSourceNode data, int imageIndex);
    void Clear() noexcept { Children.clear(); }

    std::string Text;
    int ImageIndex;
    TTreeSourceNode Data;
    bool Visible = false;
    bool Matches = false;
    std::vector<std::unique_ptr<TNode>> Children;
};

// The dialog's state and its filter, without a display.
class TSearchInTree {
public:
    // tree is the result tree the filter fills.
    explicit TSearchInTree(TXCustomTreeView& tree) : tree_(tree) {}

    // Keeps the source, copies its tree and applies filterText.
    void Init(ITreeSource* source, TTreeSourceNode selectedData, std::string_view filterText);
    // Rebuilds the result tree for filterText; the node whose data is
    // selectedData is selected when it is shown, else the first match (a
    // matching descendant before its matching ancestor), else the first node.
    void ApplyFilter(std::string_view filterText, TTreeSourceNode selectedData);
    // ApplyFilter keeping the data of the node selected now.
    void Refilter(std::string_view filterText);
    // The data of the result tree's selected node; nullptr when none.
    TTreeSourceNode SelectedData() const;

    ITreeSource* Source() const noexcept { return source_.get(); }
    const TNode& Root() const noexcept { return root_; }

private:
    void CopySourceTree(TTreeSourceNode parent, TNode& into);
    void BuildFilteredTree(const TNode& from, TXTreeNode* parent, TTreeSourceNode selectedData,
                           TXTreeNode*& selectedNode, TXTreeNode*& firstMatch);

    TXCustomTreeView& tree_;
    rtl::RefPtr<ITreeSource> source_;
    TNode root_{std::string(), nullptr, -1};
};

class TSearchInTreeForm : public QDialog {
    Q_OBJECT
public:
    // FormCreate.
    explicit TSearchInTreeForm(QWidget* parent = nullptr);
    // FormDestroy.
    ~TSearchInTreeForm() override;

    void Init(ITreeSource* source, TTreeSourceNode selectedData);
    TSearchInTree& Search() noexcept { return search_; }

    // The controls, owned by the form.
    TXTreeView* SearchTree;
    QLabel* FilterLabel;
    QLineEdit* Filter;
    QPushButton* OK;
    QPushButton* Cancel;
    gui::Timer* Timer;

    void FilterChange();
    void TimerTimer();
    void OKClick();
    // true when the key went to SearchTree.
    bool FilterKeyDown(int key);
    void SearchTreeDblClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string FilterText() const;

    TSearchInTree search_;
};

// The chosen node of the tree view, selected and scrolled into view in it;
// nullptr when the dialog was cancelled or there is no tree view.
TXTreeNode* SearchInTreeView(TXCustomTreeView* treeView, gui::ImageList* images, TTreeNodeFilter filter);

// Shows the dialog over source; the source node chosen, or nullptr.
TTreeSourceNode ShowSearchDialog(ITreeSource* source, TTreeSourceNode selectedData);
