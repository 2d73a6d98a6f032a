// The tree view with three-state check boxes: the display-free behaviour of
// TXCustomTreeView and its nodes, and the Qt view TXTreeView over it.
#include "CoreLib/controls/xTreeView.h"

#include <QAbstractItemModel>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

#include "CoreLib/XLists.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

constexpr const char* kCheckboxesDisabled = "Invalid use XTreeView, checkboxes disabled";

// The state bitmaps and their mask colour.
constexpr const char* kStateBitmaps[] = {"UNCHECKED", "UNCHECKED", "CHECKED", "INDETERMINATE"};
const QColor kStateMask(128, 128, 0);
constexpr int kStateSize = 16;
// The size of the mouse cursor, by which an info tip keeps clear of it.
constexpr int kCursorSize = 32;

// Calls a copy of an event, so a handler may reassign the event it runs from.
template <class Event, class... Args>
void Fire(const Event& event, Args&&... args)
{
    if (!event) return;
    const Event handler = event;
    handler(std::forward<Args>(args)...);
}

} // namespace

// ---- TXTreeNode ----------------------------------------------------------------

TXTreeNode::TXTreeNode(TXCustomTreeView* owner, TXTreeNode* parent, std::string text, void* data)
    : owner_(owner), parent_(parent), text_(std::move(text)), data_(data)
{
}

TXTreeNode* TXTreeNode::Parent() const noexcept
{
    return parent_ && parent_ != owner_->Root() ? parent_ : nullptr;
}

int TXTreeNode::Level() const noexcept
{
    int level = 0;
    for (const TXTreeNode* p = Parent(); p; p = p->Parent()) ++level;
    return level;
}

TXTreeNode* TXTreeNode::Item(int index) const
{
    CheckListIndex(index, Count());
    return children_[static_cast<std::size_t>(index)].get();
}

TXTreeNode* TXTreeNode::GetFirstChild() const noexcept
{
    return children_.empty() ? nullptr : children_.front().get();
}

TXTreeNode* TXTreeNode::GetLastChild() const noexcept
{
    return children_.empty() ? nullptr : children_.back().get();
}

TXTreeNode* TXTreeNode::GetNextSibling() const noexcept
{
    if (!parent_) return nullptr;
    const std::size_t next = static_cast<std::size_t>(index_) + 1;
    return next < parent_->children_.size() ? parent_->children_[next].get() : nullptr;
}

TXTreeNode* TXTreeNode::GetPrevSibling() const noexcept
{
    if (!parent_ || index_ == 0) return nullptr;
    return parent_->children_[static_cast<std::size_t>(index_) - 1].get();
}

TXTreeNode* TXTreeNode::GetNext() const noexcept
{
    if (!children_.empty()) return children_.front().get();
    for (const TXTreeNode* n = this; n; n = n->Parent())
        if (TXTreeNode* sibling = n->GetNextSibling()) return sibling;
    return nullptr;
}

bool TXTreeNode::HasAsParent(const TXTreeNode* ancestor) const noexcept
{
    if (!ancestor) return false;
    for (const TXTreeNode* p = Parent(); p; p = p->Parent())
        if (p == ancestor) return true;
    return false;
}

void TXTreeNode::SetText(std::string text)
{
    text_ = std::move(text);
    owner_->NodeChanged(this);
}

void TXTreeNode::SetImageIndex(int index)
{
    imageIndex_ = index;
    owner_->NodeChanged(this);
}

void TXTreeNode::SetSelectedIndex(int index)
{
    selectedIndex_ = index;
    owner_->NodeChanged(this);
}

void TXTreeNode::SetBold(bool bold)
{
    if (bold_ == bold) return;
    bold_ = bold;
    owner_->NodeChanged(this);
}

void TXTreeNode::SetExpanded(bool expanded)
{
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    if (ITreeDisplay* display = owner_->Display()) display->NodeExpandedChanged(this);
}

void TXTreeNode::Expand(bool recurse)
{
    SetExpanded(true);
    if (recurse)
        for (std::size_t i = 0; i < children_.size(); ++i) children_[i]->Expand(true);
}

void TXTreeNode::Collapse(bool recurse)
{
    SetExpanded(false);
    if (recurse)
        for (std::size_t i = 0; i < children_.size(); ++i) children_[i]->Collapse(true);
}

bool TXTreeNode::Selected() const noexcept
{
    return owner_->Selected() == this;
}

void TXTreeNode::MakeVisible()
{
    for (TXTreeNode* p = Parent(); p; p = p->Parent()) p->SetExpanded(true);
    if (ITreeDisplay* display = owner_->Display()) display->MakeVisible(this);
}

TCheckState TXTreeNode::GetCheckState() const noexcept
{
    return owner_->GetCheckState(this);
}

void TXTreeNode::SetCheckState(TCheckState state)
{
    if (owner_->Checkboxes() == cbmNone) return;
    owner_->ChangeCheckState(nullptr, this, state);
}

void TXTreeNode::Delete()
{
    owner_->DeleteNode(this);
}

void TXTreeNode::DeleteChildren()
{
    while (!children_.empty()) owner_->DeleteNode(children_.back().get());
}

// ---- TXTreeNodes ---------------------------------------------------------------

int TXTreeNodes::Count() const noexcept
{
    int n = 0;
    for (const TXTreeNode* node = GetFirstNode(); node; node = node->GetNext()) ++n;
    return n;
}

TXTreeNode* TXTreeNodes::GetFirstNode() const noexcept
{
    return owner_.Root()->GetFirstChild();
}

int TXTreeNodes::TopLevelCount() const noexcept
{
    return owner_.Root()->Count();
}

TXTreeNode* TXTreeNodes::TopLevelItem(int index) const
{
    return owner_.Root()->Item(index);
}

TXTreeNode* TXTreeNodes::Add(TXTreeNode* sibling, std::string text)
{
    return AddObject(sibling, std::move(text), nullptr);
}

TXTreeNode* TXTreeNodes::AddObject(TXTreeNode* sibling, std::string text, void* data)
{
    return owner_.AddNode(sibling ? sibling->parent_ : owner_.Root(), std::move(text), data);
}

TXTreeNode* TXTreeNodes::AddChild(TXTreeNode* parent, std::string text)
{
    return AddChildObject(parent, std::move(text), nullptr);
}

TXTreeNode* TXTreeNodes::AddChildObject(TXTreeNode* parent, std::string text, void* data)
{
    return owner_.AddNode(parent ? parent : owner_.Root(), std::move(text), data);
}

void TXTreeNodes::Delete(TXTreeNode* node)
{
    if (node) owner_.DeleteNode(node);
}

void TXTreeNodes::Clear()
{
    owner_.ClearNodes();
}

void TXTreeNodes::BeginUpdate()
{
    if (updateCount_++ == 0)
        if (ITreeDisplay* display = owner_.Display()) display->UpdatesSuspended(true);
}

void TXTreeNodes::EndUpdate()
{
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0)
        if (ITreeDisplay* display = owner_.Display()) display->UpdatesSuspended(false);
}

// ---- TXCustomTreeView ----------------------------------------------------------

TXCustomTreeView::TXCustomTreeView()
    : items_(*this), root_(new TXTreeNode(this, nullptr, std::string(), nullptr))
{
}

TXCustomTreeView::~TXCustomTreeView()
{
    display_ = nullptr;
}

void TXCustomTreeView::StartDrag()
{
    EndDrag();
    TDragObject* given = nullptr;
    if (OnStartDrag) OnStartDrag(this, given);
    if (!given) {
        ownDragObject_ = std::make_unique<TDragControlObject>(this);
        given = ownDragObject_.get();
    }
    dragObject_ = given;
}

void TXCustomTreeView::EndDrag()
{
    if (!dragObject_) return;
    DoEndDrag();
    dragObject_ = nullptr;
    ownDragObject_.reset();
}

void TXCustomTreeView::NodeChanged(TXTreeNode* node)
{
    if (display_) display_->NodeChanged(node);
}

TXTreeNode* TXCustomTreeView::AddNode(TXTreeNode* parent, std::string text, void* data)
{
    RTL_ASSERT(parent && parent->owner_ == this, "Invalid params");
    std::unique_ptr<TXTreeNode> node(new TXTreeNode(this, parent, std::move(text), data));
    node->stateIndex_ = checkboxes_ != cbmNone ? csUnchecked : 0;
    node->index_ = parent->Count();
    parent->children_.reserve(parent->children_.size() + 1);
    TXTreeNode* const added = node.get();
    const bool topLevel = parent == Root();
    if (display_) display_->BeginInsertNode(topLevel ? nullptr : parent, added->index_);
    parent->children_.push_back(std::move(node));
    if (display_) display_->EndInsertNode();
    return added;
}

void TXCustomTreeView::DeleteNode(TXTreeNode* node)
{
    RTL_ASSERT(node && node->owner_ == this && node != Root(), "Invalid params");
    if (selected_ && (selected_ == node || selected_->HasAsParent(node))) selected_ = nullptr;
    if (display_) display_->BeginRemoveNode(node);
    TXTreeNode* const parent = node->parent_;
    auto& siblings = parent->children_;
    const auto at = siblings.begin() + node->index_;
    std::unique_ptr<TXTreeNode> removed = std::move(*at);
    siblings.erase(at);
    for (std::size_t i = static_cast<std::size_t>(removed->index_); i < siblings.size(); ++i)
        siblings[i]->index_ = static_cast<int>(i);
    if (display_) display_->EndRemoveNode();
}

void TXCustomTreeView::ClearNodes()
{
    if (display_) display_->BeginClear();
    selected_ = nullptr;
    std::vector<std::unique_ptr<TXTreeNode>> removed = std::move(root_->children_);
    root_->children_.clear();
    if (display_) display_->EndClear();
}

void TXCustomTreeView::SetCheckboxes(TCheckboxesMode mode)
{
    if (mode == checkboxes_) return;
    checkboxes_ = mode;
    {
        const TTreeUpdateScope update(items_);
        const int index = mode != cbmNone ? csUnchecked : 0;
        for (TXTreeNode* node = items_.GetFirstNode(); node; node = node->GetNext()) {
            node->stateIndex_ = index;
            NodeChanged(node);
        }
    }
    if (display_) display_->CheckboxesChanged();
}

TCheckState TXCustomTreeView::GetCheckState(const TXTreeNode* node) const noexcept
{
    if (!node || checkboxes_ == cbmNone) return csIndeterminate;
    if (node->stateIndex_ == csUnchecked || node->stateIndex_ == csChecked)
        return static_cast<TCheckState>(node->stateIndex_);
    return csIndeterminate;
}

void TXCustomTreeView::SetCheckState(TXTreeNode* node, TCheckState state)
{
    RTL_ASSERT(checkboxes_ != cbmNone, kCheckboxesDisabled);
    if (!node) return;
    ChangeCheckState(this, node, state);
}

void TXCustomTreeView::ChangeCheckState(TXCustomTreeView* view, TXTreeNode* node, TCheckState state)
{
    const TTreeUpdateScope update(items_);
    const bool hierarchical = checkboxes_ == cbmHierarchical;
    ApplyCheckState(view, node, state, view != nullptr, hierarchical);
    if (hierarchical) UpdateParentCheckStates(node->Parent());
}

namespace {

// The state a node takes from its children's state indexes.
int StateFromChildren(const TXTreeNode& node)
{
    int checked = 0;
    for (int i = 0; i < node.Count(); ++i) {
        const int index = node.Item(i)->StateIndex();
        if (index == csIndeterminate) return csIndeterminate;
        if (index == csChecked) ++checked;
    }
    if (checked == 0) return csUnchecked;
    return checked == node.Count() ? csChecked : csIndeterminate;
}

} // namespace

void TXCustomTreeView::ApplyCheckState(TXCustomTreeView* view, TXTreeNode* node, TCheckState state, bool events,
                                       bool recurse)
{
    if (!node) return;
    bool canCheck = true;
    if (view && state != csIndeterminate) Fire(view->OnNodeCanCheck, view, node, state == csChecked, canCheck);
    if (!canCheck) return;
    if (view && state != csIndeterminate && events) Fire(view->OnNodeChecking, view, node, state == csChecked);
    node->stateIndex_ = state;
    if (recurse) {
        bool vetoed = false;
        for (int i = 0; i < node->Count(); ++i) {
            TXTreeNode* child = node->children_[static_cast<std::size_t>(i)].get();
            ApplyCheckState(view, child, state, events, recurse);
            if (child->stateIndex_ != state) vetoed = true;
        }
        // A veto below left children that differ: the node shows what its
        // children say, so the hierarchy stays true to the subtree.
        if (vetoed) node->stateIndex_ = StateFromChildren(*node);
    }
    if (view && events) Fire(view->OnNodeChecked, view, node);
    NodeChanged(node);
}

void TXCustomTreeView::UpdateParentCheckStates(TXTreeNode* node)
{
    for (; node; node = node->Parent()) {
        const int index = StateFromChildren(*node);
        if (node->stateIndex_ != index) {
            node->stateIndex_ = index;
            NodeChanged(node);
        }
    }
}

void TXCustomTreeView::SetSelected(TXTreeNode* node)
{
    if (node == selected_) return;
    RTL_ASSERT(!node || node->owner_ == this, "Invalid params");
    selected_ = node;
    if (display_) display_->SelectionChanged(node);
    Fire(OnChange, this, node);
}

void TXCustomTreeView::SetImages(gui::ImageList* images)
{
    if (images == images_) return;
    images_ = images;
    if (display_) display_->ImagesChanged();
}

void TXCustomTreeView::MouseDown(TXTreeNode* node, THitTest hit, gui::TMouseButton button, gui::TShiftState shift,
                                 int x, int y)
{
    if (checkboxes_ == cbmNone || !node) return;
    if (hit == htOnStateIcon) SetCheckState(node, GetCheckState(node) == csChecked ? csUnchecked : csChecked);
    if (hit == htOnIcon) Fire(OnIconClick, this, node, button, shift, x, y);
}

TTreeCursor TXCustomTreeView::MouseMove(TXTreeNode* node, THitTest hit, gui::TShiftState shift, int x, int y)
{
    if (checkboxes_ == cbmNone) return crDefault;
    const TTreeCursor cursor = node && hit == htOnStateIcon ? crHandPoint : crDefault;
    Fire(OnMouseOverIcon, this, hit == htOnIcon ? node : nullptr, shift, x, y);
    return cursor;
}

void TXCustomTreeView::RightClick(TXTreeNode* node)
{
    if (checkboxes_ == cbmNone || !node) return;
    SetSelected(node);
}

bool TXCustomTreeView::KeyPress(char32_t key)
{
    if (checkboxes_ == cbmNone || key != U' ' || !selected_) return false;
    SetCheckState(selected_, GetCheckState(selected_) == csChecked ? csUnchecked : csChecked);
    return true;
}

void TXCustomTreeView::ShiftKey(bool pressed, bool autoRepeat)
{
    if (pressed && autoRepeat) return;
    DoShiftStateChanged();
}

void TXCustomTreeView::DoShiftStateChanged()
{
    Fire(OnShiftStateChanged, this);
}

std::optional<std::string> TXCustomTreeView::InfoTip(TXTreeNode* node)
{
    if (!OnInfoTip || !node) return std::nullopt;
    std::string tip = node->Text();
    Fire(OnInfoTip, this, node, tip);
    return tip;
}

void TXCustomTreeView::DblClick()
{
    Fire(OnDblClick, this);
}

// ---- the Qt view ---------------------------------------------------------------

// The item model over the view's nodes; it is also the view's display.
class TXTreeModel final : public QAbstractItemModel, public ITreeDisplay {
public:
    explicit TXTreeModel(TXTreeView& view) : view_(view) {}

    QModelIndex IndexFor(const TXTreeNode* node) const
    {
        if (!node) return {};
        return createIndex(node->Index(), 0, const_cast<TXTreeNode*>(node));
    }
    static TXTreeNode* NodeFor(const QModelIndex& index)
    {
        return index.isValid() ? static_cast<TXTreeNode*>(index.internalPointer()) : nullptr;
    }

    QModelIndex index(int row, int column, const QModelIndex& parent) const override
    {
        if (column != 0 || row < 0) return {};
        const TXTreeNode* p = NodeFor(parent);
        const int count = p ? p->Count() : view_.Items().TopLevelCount();
        if (row >= count) return {};
        TXTreeNode* child = p ? p->Item(row) : view_.Items().TopLevelItem(row);
        return createIndex(row, 0, child);
    }
    QModelIndex parent(const QModelIndex& child) const override
    {
        const TXTreeNode* node = NodeFor(child);
        return node ? IndexFor(node->Parent()) : QModelIndex();
    }
    int rowCount(const QModelIndex& parent) const override
    {
        if (parent.column() > 0) return 0;
        const TXTreeNode* p = NodeFor(parent);
        return p ? p->Count() : view_.Items().TopLevelCount();
    }
    int columnCount(const QModelIndex&) const override { return 1; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const TXTreeNode* node = NodeFor(index);
        if (!node) return {};
        if (role == Qt::DisplayRole) return QString::fromStdString(node->Text());
        if (role == Qt::FontRole && node->Bold()) {
            QFont font = view_.font();
            font.setBold(true);
            return font;
        }
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
    }

    // ITreeDisplay
    void BeginInsertNode(TXTreeNode* parent, int index) override
    {
        beginInsertRows(IndexFor(parent), index, index);
    }
    void EndInsertNode() override { endInsertRows(); }
    void BeginRemoveNode(TXTreeNode* node) override
    {
        view_.syncing_ = true;
        beginRemoveRows(IndexFor(node->Parent()), node->Index(), node->Index());
    }
    void EndRemoveNode() override
    {
        endRemoveRows();
        view_.syncing_ = false;
        view_.SyncSelection();
    }
    void BeginClear() override
    {
        view_.syncing_ = true;
        beginResetModel();
    }
    void EndClear() override
    {
        endResetModel();
        view_.syncing_ = false;
        view_.SyncSelection();
    }
    void NodeChanged(TXTreeNode* node) override
    {
        const QModelIndex at = IndexFor(node);
        emit dataChanged(at, at);
    }
    void NodeExpandedChanged(TXTreeNode* node) override
    {
        const bool was = view_.syncing_;
        view_.syncing_ = true;
        view_.setExpanded(IndexFor(node), node->Expanded());
        view_.syncing_ = was;
    }
    void SelectionChanged(TXTreeNode*) override { view_.SyncSelection(); }
    void MakeVisible(TXTreeNode* node) override { view_.scrollTo(IndexFor(node)); }
    void UpdatesSuspended(bool suspended) override { view_.setUpdatesEnabled(!suspended); }
    void CheckboxesChanged() override
    {
        view_.LoadStateImages();
        Relayout();
    }
    void ImagesChanged() override { Relayout(); }

private:
    void Relayout()
    {
        emit layoutAboutToBeChanged();
        emit layoutChanged();
        view_.viewport()->update();
    }

    TXTreeView& view_;
};

// Paints a node as the state picture, the node's picture and its text, and
// tells where each of them lies.
class TXTreeItemDelegate final : public QStyledItemDelegate {
public:
    explicit TXTreeItemDelegate(TXTreeView& view) : view_(view) {}

    struct Layout {
        QRect state; // empty without check boxes
        QRect icon;  // empty without an image list
        QRect text;
    };

    QFont FontFor(const TXTreeNode& node) const
    {
        QFont font = view_.font();
        font.setBold(node.Bold());
        return font;
    }

    Layout LayoutOf(const QRect& item, const TXTreeNode& node) const
    {
        Layout layout;
        int x = item.left() + 1;
        if (view_.Checkboxes() != cbmNone) {
            layout.state = QRect(x, item.top() + (item.height() - kStateSize) / 2, kStateSize, kStateSize);
            x = layout.state.right() + 1;
        }
        if (const gui::ImageList* images = view_.Images()) {
            layout.icon = QRect(x + 1, item.top() + (item.height() - images->Height()) / 2, images->Width(),
                                images->Height());
            x = layout.icon.right() + 1;
        }
        const QFontMetrics metrics(FontFor(node));
        const int width = metrics.horizontalAdvance(QString::fromStdString(node.Text())) + 6;
        layout.text = QRect(x + 2, item.top(), width, item.height());
        return layout;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const TXTreeNode* node = TXTreeModel::NodeFor(index);
        if (!node) return;
        const Layout layout = LayoutOf(option.rect, *node);
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        painter->save();
        if (!layout.state.isEmpty())
            view_.StateImages().Draw(*painter, layout.state.left(), layout.state.top(), node->StateIndex());
        if (!layout.icon.isEmpty()) {
            const int image = selected && node->SelectedIndex() >= 0 ? node->SelectedIndex() : node->ImageIndex();
            view_.Images()->Draw(*painter, layout.icon.left(), layout.icon.top(), image);
        }
        // The selection stays visible when the view has no focus.
        if (selected) painter->fillRect(layout.text, option.palette.brush(group, QPalette::Highlight));
        painter->setFont(FontFor(*node));
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(layout.text.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QString::fromStdString(node->Text()));
        if (option.state & QStyle::State_HasFocus) {
            painter->setPen(QPen(option.palette.color(group, QPalette::Text), 1, Qt::DotLine));
            painter->drawRect(layout.text.adjusted(0, 0, -1, -1));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const TXTreeNode* node = TXTreeModel::NodeFor(index);
        if (!node) return {};
        const QFontMetrics metrics(FontFor(*node));
        int height = std::max(kStateSize, metrics.height());
        if (const gui::ImageList* images = view_.Images()) height = std::max(height, images->Height());
        const Layout layout = LayoutOf(QRect(0, 0, 0, height + 2), *node);
        return {layout.text.right() + 2, height + 2};
    }

private:
    TXTreeView& view_;
};

namespace {

// Highlights only the label of the selected node, not its indent.
class TXTreeStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        if (hint == SH_ItemView_ShowDecorationSelected) return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// The pictures of the state images when the program has no bitmaps for them:
// a box, empty, with a tick, or with a grey square.
QImage DrawStateImage(int state)
{
    QImage image(kStateSize, kStateSize, QImage::Format_RGB32);
    image.fill(kStateMask);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(2, 2, 12, 12), QColor(255, 255, 255));
    p.setPen(QColor(64, 64, 64));
    p.drawRect(QRect(2, 2, 11, 11));
    if (state == csChecked) {
        p.setPen(QPen(QColor(0, 0, 0), 2));
        p.drawLine(QPoint(4, 8), QPoint(6, 11));
        p.drawLine(QPoint(6, 11), QPoint(11, 4));
    } else if (state == csIndeterminate) {
        p.fillRect(QRect(5, 5, 6, 6), QColor(128, 128, 128));
    }
    return image;
}

} // namespace

TXTreeView::TXTreeView(QWidget* parent)
    : QTreeView(parent), model_(std::make_unique<TXTreeModel>(*this)),
      delegate_(std::make_unique<TXTreeItemDelegate>(*this)), stateImages_(kStateSize, kStateSize)
{
    auto* style = new TXTreeStyle;
    style->setParent(this);
    setStyle(style);
    setModel(model_.get());
    setItemDelegate(delegate_.get());
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    viewport()->setMouseTracking(true);
    SetDisplay(model_.get());
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (TXTreeNode* node = NodeOf(index); node && !syncing_) gui::Guard([&] { node->SetExpanded(true); });
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (TXTreeNode* node = NodeOf(index); node && !syncing_) gui::Guard([&] { node->SetExpanded(false); });
    });
}

TXTreeView::~TXTreeView()
{
    syncing_ = true;
    SetDisplay(nullptr);
    setModel(nullptr);
    setItemDelegate(nullptr);
}

QModelIndex TXTreeView::IndexOf(const TXTreeNode* node) const
{
    return node && node->TreeView() == this ? model_->IndexFor(node) : QModelIndex();
}

TXTreeNode* TXTreeView::NodeOf(const QModelIndex& index) const
{
    return index.model() == model_.get() ? TXTreeModel::NodeFor(index) : nullptr;
}

THitTest TXTreeView::GetHitTestInfoAt(int x, int y, TXTreeNode** node) const
{
    if (node) *node = nullptr;
    const QModelIndex index = indexAt(QPoint(x, y));
    TXTreeNode* at = NodeOf(index);
    if (!at) return htNowhere;
    if (node) *node = at;
    const QRect item = visualRect(index);
    if (x < item.left()) return at->HasChildren() && x >= item.left() - indentation() ? htOnButton : htOnIndent;
    const TXTreeItemDelegate::Layout layout = delegate_->LayoutOf(item, *at);
    const QPoint point(x, y);
    if (layout.state.contains(point)) return htOnStateIcon;
    if (layout.icon.contains(point)) return htOnIcon;
    if (layout.text.contains(point)) return htOnLabel;
    return htOnRight;
}

TXTreeNode* TXTreeView::GetNodeAt(int x, int y) const
{
    return NodeOf(indexAt(QPoint(x, y)));
}

QRect TXTreeView::StateIconRect(const TXTreeNode* node) const
{
    const QModelIndex index = IndexOf(node);
    return index.isValid() ? delegate_->LayoutOf(visualRect(index), *node).state : QRect();
}

QRect TXTreeView::IconRect(const TXTreeNode* node) const
{
    const QModelIndex index = IndexOf(node);
    return index.isValid() ? delegate_->LayoutOf(visualRect(index), *node).icon : QRect();
}

QRect TXTreeView::TextRect(const TXTreeNode* node) const
{
    const QModelIndex index = IndexOf(node);
    return index.isValid() ? delegate_->LayoutOf(visualRect(index), *node).text : QRect();
}

void TXTreeView::LoadStateImages()
{
    stateImages_.Clear();
    if (Checkboxes() == cbmNone) return;
    for (int i = 0; i < 4; ++i) {
        QImage image = gui::LoadBitmapResource(kStateBitmaps[i]);
        if (image.isNull()) image = DrawStateImage(i == 0 ? csUnchecked : i);
        stateImages_.AddMasked(image, kStateMask);
    }
}

void TXTreeView::SyncSelection()
{
    const bool was = syncing_;
    syncing_ = true;
    const QModelIndex index = IndexOf(Selected());
    if (index.isValid()) {
        setCurrentIndex(index);
    } else {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    syncing_ = was;
}

void TXTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (syncing_) return;
    gui::Guard([&] { SetSelected(NodeOf(current)); });
}

void TXTreeView::startDrag(Qt::DropActions supportedActions)
{
    bool started = false;
    gui::Guard([&] {
        StartDrag();
        started = true;
    });
    if (!started) return;
    QTreeView::startDrag(supportedActions);
    gui::Guard([&] { EndDrag(); });
}

void TXTreeView::mousePressEvent(QMouseEvent* event)
{
    gui::Guard([&] {
        const QPoint at = event->position().toPoint();
        TXTreeNode* node = nullptr;
        const THitTest hit = GetHitTestInfoAt(at.x(), at.y(), &node);
        if (event->button() == Qt::RightButton) RightClick(node);
        MouseDown(node, hit, gui::MouseButtonOf(event->button()),
                  gui::ShiftStateOf(event->modifiers(), event->buttons()), at.x(), at.y());
        QTreeView::mousePressEvent(event);
    });
}

void TXTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    gui::Guard([&] {
        // As on the platform, the second press of a double click is a press too.
        const QPoint at = event->position().toPoint();
        TXTreeNode* node = nullptr;
        const THitTest hit = GetHitTestInfoAt(at.x(), at.y(), &node);
        MouseDown(node, hit, gui::MouseButtonOf(event->button()),
                  gui::ShiftStateOf(event->modifiers(), event->buttons()) | gui::ssDouble, at.x(), at.y());
        QTreeView::mouseDoubleClickEvent(event);
        DblClick();
    });
}

void TXTreeView::mouseMoveEvent(QMouseEvent* event)
{
    gui::Guard([&] {
        const QPoint at = event->position().toPoint();
        TXTreeNode* node = nullptr;
        const THitTest hit = GetHitTestInfoAt(at.x(), at.y(), &node);
        const TTreeCursor cursor =
            MouseMove(node, hit, gui::ShiftStateOf(event->modifiers(), event->buttons()), at.x(), at.y());
        if (cursor == crHandPoint)
            viewport()->setCursor(Qt::PointingHandCursor);
        else
            viewport()->unsetCursor();
        QTreeView::mouseMoveEvent(event);
    });
}

void TXTreeView::keyPressEvent(QKeyEvent* event)
{
    gui::Guard([&] {
        const QList<uint> typed = event->text().toUcs4();
        const char32_t key = event->key() == Qt::Key_Space ? U' ' : typed.isEmpty() ? 0 : char32_t(typed.front());
        if (key != 0 && KeyPress(key))
            event->accept();
        else
            QTreeView::keyPressEvent(event);
        if (event->key() == Qt::Key_Shift) ShiftKey(true, event->isAutoRepeat());
    });
}

void TXTreeView::keyReleaseEvent(QKeyEvent* event)
{
    gui::Guard([&] {
        QTreeView::keyReleaseEvent(event);
        // Qt reports a held key as release and press pairs marked auto-repeat;
        // only the real release counts.
        if (event->key() == Qt::Key_Shift && !event->isAutoRepeat()) ShiftKey(false, false);
    });
}

bool TXTreeView::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !OnInfoTip) return QTreeView::viewportEvent(event);
    gui::Guard([&] {
        const QPoint at = static_cast<QHelpEvent*>(event)->pos();
        TXTreeNode* node = GetNodeAt(at.x(), at.y());
        const std::optional<std::string> tip = node ? InfoTip(node) : std::nullopt;
        if (!tip) {
            QToolTip::hideText();
            return;
        }
        // Over the node's text, moved by about a cursor's size.
        const QRect text = TextRect(node);
        const QPoint place = viewport()->mapToGlobal(text.topLeft() + QPoint(kCursorSize, kCursorSize));
        QToolTip::showText(place, QString::fromStdString(*tip), viewport(), text);
    });
    return true;
}
