// The find-in-tree dialog: the tree-view source, the filter over the copied
// tree, and the Qt form.
#include "CoreLib/controls/SelectInTreeView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CoreLib/AClasses.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/gui/MessageBoxes.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr const char* kCaption = "Поиск";
constexpr const char* kFilterLabel = "Фильтр:";
constexpr const char* kOK = "ОК";
constexpr const char* kCancel = "Отмена";
constexpr const char* kSelectElement = "ВНИМАНИЕ! Необходимо выбрать элемент.";

constexpr const char* kInvalidParams = "Invalid params";
constexpr const char* kInvalidIndex = "Invalid index";
constexpr const char* kIndexOutOfBounds = "Index \"%d\" out of bounds \"%d\"";

constexpr int kFilterDelay = 100;

TXTreeNode* AsNode(TTreeSourceNode node)
{
    return static_cast<TXTreeNode*>(node);
}

// Marks the children of node; true when any of them is visible.
bool MarkMatches(TNode& node, const TWordsFilter& words)
{
    bool anyVisible = false;
    for (const auto& child : node.Children) {
        child->Matches = words.Matches(child->Text);
        const bool childrenVisible = MarkMatches(*child, words);
        child->Visible = childrenVisible || child->Matches;
        anyVisible = anyVisible || child->Visible;
    }
    return anyVisible;
}

} // namespace

// ---- TTreeViewSource -----------------------------------------------------------

TTreeViewSource::TTreeViewSource(TXCustomTreeView* treeView, gui::ImageList* images, TTreeNodeFilter filter)
    : images_(images),
      nodes_(treeView && treeView->Items().GetFirstNode() ? &treeView->Items() : nullptr),
      filter_(std::move(filter))
{
}

void TTreeViewSource::GetNodeText(TTreeSourceNode node, std::string& text)
{
    if (node) text = AsNode(node)->Text();
}

int TTreeViewSource::GetNodeImageIndex(TTreeSourceNode node)
{
    return node ? AsNode(node)->ImageIndex() : -1;
}

TTreeSourceNode TTreeViewSource::GetChild(TTreeSourceNode parent, int index)
{
    if (parent) return AsNode(parent)->Item(index);
    RTL_ASSERT(nodes_, kInvalidParams);
    RTL_ASSERT(index >= 0, kInvalidIndex);
    TXTreeNode* node = nodes_->GetFirstNode();
    for (int i = 0; i < index && node; ++i) node = node->GetNextSibling();
    if (!node) throw rtl::Exception(rtl::Format(kIndexOutOfBounds, index, GetChildCount(nullptr)));
    return node;
}

int TTreeViewSource::GetChildCount(TTreeSourceNode parent)
{
    if (parent) return AsNode(parent)->Count();
    int count = 0;
    if (nodes_)
        for (TXTreeNode* node = nodes_->GetFirstNode(); node; node = node->GetNextSibling()) ++count;
    return count;
}

unsigned TTreeViewSource::GetNodeFlags(TTreeSourceNode node)
{
    if (node && (!filter_ || filter_(AsNode(node)))) return tnfInclude | tnfAux;
    return 0;
}

// ---- TNode and TSearchInTree ---------------------------------------------------

TNode& TNode::Add(std::string text, TTreeSourceNode data, int imageIndex)
{
    Children.push_back(std::make_unique<TNode>(std::move(text), data, imageIndex));
    return *Children.back();
}

void TSearchInTree::Init(ITreeSource* source, TTreeSourceNode selectedData, std::string_view filterText)
{
    root_.Clear();
    source_ = source;
    if (!source_) return;
    tree_.SetImages(source_->GetImages());
    CopySourceTree(nullptr, root_);
    ApplyFilter(filterText, selectedData);
}

void TSearchInTree::CopySourceTree(TTreeSourceNode parent, TNode& into)
{
    const int count = source_->GetChildCount(parent);
    for (int i = 0; i < count; ++i) {
        TTreeSourceNode child = source_->GetChild(parent, i);
        std::string text;
        source_->GetNodeText(child, text);
        const int image = source_->GetNodeImageIndex(child);
        if (!(source_->GetNodeFlags(child) & tnfInclude)) continue;
        CopySourceTree(child, into.Add(std::move(text), child, image));
    }
}

void TSearchInTree::ApplyFilter(std::string_view filterText, TTreeSourceNode selectedData)
{
    const TWordsFilter words(filterText);
    TXTreeNode* selectedNode = nullptr;
    {
        const TTreeUpdateScope update(tree_.Items());
        tree_.Items().Clear();
        TXTreeNode* firstMatch = nullptr;
        if (!rtl::Trim(filterText).empty()) {
            MarkMatches(root_, words);
            BuildFilteredTree(root_, nullptr, selectedData, selectedNode, firstMatch);
            if (TXTreeNode* pick = selectedNode ? selectedNode : firstMatch ? firstMatch : tree_.Items().GetFirstNode())
                tree_.SetSelected(pick);
        }
    }
    if (selectedNode) selectedNode->MakeVisible();
}

void TSearchInTree::BuildFilteredTree(const TNode& from, TXTreeNode* parent, TTreeSourceNode selectedData,
                                      TXTreeNode*& selectedNode, TXTreeNode*& firstMatch)
{
    for (const auto& child : from.Children) {
        if (!child->Visible) continue;
        TXTreeNode* node = tree_.Items().AddChildObject(parent, child->Text, child->Data);
        node->SetImageIndex(child->ImageIndex);
        node->SetSelectedIndex(child->ImageIndex);
        BuildFilteredTree(*child, node, selectedData, selectedNode, firstMatch);
        if (selectedData && child->Data == selectedData) selectedNode = node;
        if (!firstMatch && child->Matches) firstMatch = node;
        node->Expand(false);
        node->SetBold(child->Matches);
    }
}

void TSearchInTree::Refilter(std::string_view filterText)
{
    ApplyFilter(filterText, SelectedData());
}

TTreeSourceNode TSearchInTree::SelectedData() const
{
    const TXTreeNode* selected = tree_.Selected();
    return selected ? selected->Data() : nullptr;
}

// ---- TSearchInTreeForm ---------------------------------------------------------

TSearchInTreeForm::TSearchInTreeForm(QWidget* parent)
    : QDialog(parent), SearchTree(new TXTreeView(this)), FilterLabel(new QLabel(QString::fromUtf8(kFilterLabel), this)),
      Filter(new QLineEdit(this)), OK(new QPushButton(QString::fromUtf8(kOK), this)),
      Cancel(new QPushButton(QString::fromUtf8(kCancel), this)), Timer(new gui::Timer(this)), search_(*SearchTree)
{
    setWindowTitle(QString::fromUtf8(kCaption));
    setSizeGripEnabled(true);
    SearchTree->setObjectName("SearchTree");
    FilterLabel->setObjectName("FilterLabel");
    Filter->setObjectName("Filter");
    OK->setObjectName("OK");
    Cancel->setObjectName("Cancel");

    SearchTree->setFocusPolicy(Qt::ClickFocus);
    FilterLabel->setBuddy(Filter);
    OK->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(FilterLabel);
    filterRow->addWidget(Filter, 1);
    layout->addLayout(filterRow);
    layout->addWidget(SearchTree, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OK);
    buttons->addWidget(Cancel);
    layout->addLayout(buttons);

    resize(506, 385);
    setMinimumSize(340, 110);
    gui::CenterOnMainForm(*this);

    connect(Filter, &QLineEdit::textChanged, this, gui::Guarded([this] { FilterChange(); }));
    connect(OK, &QPushButton::clicked, this, gui::Guarded([this] { OKClick(); }));
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    SearchTree->OnDblClick = [this](TXCustomTreeView*) { SearchTreeDblClick(); };
    Filter->installEventFilter(this);
    Filter->setFocus();

    // Runs once when the form opens, then after each pause in typing.
    Timer->SetInterval(kFilterDelay);
    Timer->OnTimer = [this] { TimerTimer(); };
    Timer->SetEnabled(true);
}

TSearchInTreeForm::~TSearchInTreeForm()
{
    Timer->OnTimer = nullptr;
    Filter->removeEventFilter(this);
}

void TSearchInTreeForm::Init(ITreeSource* source, TTreeSourceNode selectedData)
{
    search_.Init(source, selectedData, FilterText());
}

std::string TSearchInTreeForm::FilterText() const
{
    return Filter->text().toStdString();
}

void TSearchInTreeForm::FilterChange()
{
    if (Timer->Interval() != 0) {
        Timer->SetEnabled(false);
        Timer->SetEnabled(true);
    } else {
        search_.Refilter(FilterText());
    }
}

void TSearchInTreeForm::TimerTimer()
{
    Timer->SetEnabled(false);
    search_.Refilter(FilterText());
}

void TSearchInTreeForm::OKClick()
{
    if (!SearchTree->Selected()) {
        gui::ShowInformation(kSelectElement);
        return;
    }
    accept();
}

bool TSearchInTreeForm::FilterKeyDown(int key)
{
    if (key != Qt::Key_PageUp && key != Qt::Key_PageDown && key != Qt::Key_Up && key != Qt::Key_Down) return false;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(SearchTree, &press);
    return true;
}

void TSearchInTreeForm::SearchTreeDblClick()
{
    OKClick();
}

bool TSearchInTreeForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Filter && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        return gui::GuardOr(true, [&] { return FilterKeyDown(key); });
    }
    return QDialog::eventFilter(watched, event);
}

// ---- the dialog functions ------------------------------------------------------

TTreeSourceNode ShowSearchDialog(ITreeSource* source, TTreeSourceNode selectedData)
{
    // Owned by the application: no parent window.
    TSearchInTreeForm form;
    form.Init(source, selectedData);
    if (!gui::ShowModalOk(form)) return nullptr;
    return form.Search().SelectedData();
}

TXTreeNode* SearchInTreeView(TXCustomTreeView* treeView, gui::ImageList* images, TTreeNodeFilter filter)
{
    if (!treeView) return nullptr;
    const rtl::RefPtr<TTreeViewSource> source = rtl::MakeRef<TTreeViewSource>(treeView, images, std::move(filter));
    TXTreeNode* node = AsNode(ShowSearchDialog(source.get(), nullptr));
    if (node) {
        treeView->SetSelected(node);
        node->MakeVisible();
    }
    return node;
}
