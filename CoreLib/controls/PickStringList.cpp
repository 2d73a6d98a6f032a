// The pick list: its placement, its form and list box, and the two calls.
#include "CoreLib/controls/PickStringList.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>

#include "CoreLib/XLists.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/gui/Popups.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr int kTextExtraWidth = 16;
constexpr int kTextExtraHeight = 4;
constexpr int kMinItemHeight = 10;
constexpr int kFrame = 4; // the frame's pixels above and below the rows
constexpr int kFormExtraHeight = 2;
constexpr int kEdge = 2; // the raised edge, and the list box inside it
constexpr int kMinRowsBelow = 4;
constexpr int kInitialItemHeight = 20;

// Half-open rectangle arithmetic, as the placement rules are written.
struct Box {
    int left, top, right, bottom;
};

Box ShiftedInto(Box b, const Box& area)
{
    if (b.right > area.right) {
        b.left -= b.right - area.right;
        b.right = area.right;
    }
    if (b.left < area.left) {
        b.right += area.left - b.left;
        b.left = area.left;
    }
    if (b.bottom > area.bottom) {
        b.top -= b.bottom - area.bottom;
        b.bottom = area.bottom;
    }
    if (b.top < area.top) {
        b.bottom += area.top - b.top;
        b.top = area.top;
    }
    return b;
}

// Paints an item as the pick list shows it.
class TPickListDelegate final : public QStyledItemDelegate {
public:
    explicit TPickListDelegate(TPickListBox& list) : QStyledItemDelegate(&list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = list_.palette();
        const QRect area = option.rect.adjusted(1, 1, -1, -1).adjusted(0, 0, 0, 2);
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(area, palette.color(selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(list_.font());
        const QRect text(area.left() + 4, area.top() + 1, area.width() - 4, area.height() - 1);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data().toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return {list_.viewport()->width(), list_.ItemHeight()};
    }

private:
    TPickListBox& list_;
};

} // namespace

// ---- TPickItems ---------------------------------------------------------------------

int TPickItems::Add(std::string text, void* object)
{
    items_.push_back({std::move(text), object});
    return Count() - 1;
}

const std::string& TPickItems::Strings(int index) const
{
    CheckListIndex(index, Count());
    return items_[static_cast<std::size_t>(index)].text;
}

void* TPickItems::Objects(int index) const
{
    CheckListIndex(index, Count());
    return items_[static_cast<std::size_t>(index)].object;
}

void TPickItems::SetObject(int index, void* object)
{
    CheckListIndex(index, Count());
    items_[static_cast<std::size_t>(index)].object = object;
}

int TPickItems::IndexOf(std::string_view text) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (rtl::SameText(items_[i].text, text)) return static_cast<int>(i);
    return -1;
}

int TPickItems::IndexOfExact(std::string_view text) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].text == text) return static_cast<int>(i);
    return -1;
}

// ---- placement ----------------------------------------------------------------------

TPickListSize PickListSize(int anchorWidth, const std::vector<int>& textWidths, const std::vector<int>& textHeights)
{
    TPickListSize size{anchorWidth, kMinItemHeight};
    for (const int w : textWidths) size.Width = std::max(size.Width, w + kTextExtraWidth);
    for (const int h : textHeights) size.ItemHeight = std::max(size.ItemHeight, h + kTextExtraHeight);
    return size;
}

QRect PickListBounds(const QRect& anchor, const QRect& workArea, int itemCount, TPickListSize size)
{
    const Box a{anchor.left(), anchor.top(), anchor.left() + anchor.width(), anchor.top() + anchor.height()};
    const Box area{workArea.left(), workArea.top(), workArea.left() + workArea.width(),
                   workArea.top() + workArea.height()};
    const int itemHeight = std::max(size.ItemHeight, 1);
    const int count = std::max(itemCount, 0);

    // Rows that fit on either side, at most the items (C++ division, like
    // the platform's, cuts towards zero).
    const int fitBelow = std::min((area.bottom - a.bottom - kFrame) / itemHeight, count);
    const int fitAbove = std::min((a.top - area.top - kFrame) / itemHeight, count);
    // At least one row is shown wherever the list goes.
    const int rowsBelow = std::max(fitBelow, 1);
    const int rowsAbove = std::max(fitAbove, 1);

    Box below{a.right - size.Width, a.bottom, a.right, 0};
    below.bottom = below.top + rowsBelow * itemHeight + kFrame;
    Box above{a.right - size.Width, 0, a.right, a.top};
    above.top = above.bottom - (rowsAbove * itemHeight + kFrame);
    below = ShiftedInto(below, area);
    above = ShiftedInto(above, area);

    const bool goAbove = fitBelow < kMinRowsBelow && count >= kMinRowsBelow && fitAbove > fitBelow;
    const Box& b = goAbove ? above : below;
    return {b.left, b.top, b.right - b.left, b.bottom - b.top + kFormExtraHeight};
}

// ---- TPickListBox ----------------------------------------------------------------------

TPickListBox::TPickListBox(QWidget* parent) : QListWidget(parent)
{
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new TPickListDelegate(*this));
    SetItemHeight(kInitialItemHeight);
}

void TPickListBox::SetItemHeight(int height)
{
    itemHeight_ = std::max(height, 1);
    doItemsLayout();
}

void TPickListBox::mouseMoveEvent(QMouseEvent* event)
{
    gui::Guard([&] {
        QListWidgetItem* item = itemAt(event->position().toPoint());
        if (item) {
            setCurrentItem(item);
        } else {
            setCurrentItem(nullptr);
            clearSelection();
        }
    });
}

// ---- TPickListForm ----------------------------------------------------------------------

TPickListForm::TPickListForm(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), List(new TPickListBox(this))
{
    List->setObjectName("List");
    List->installEventFilter(this);
    List->viewport()->installEventFilter(this);
    setFocusProxy(List);
    List->setPalette(palette());
}

void TPickListForm::SetResult(int result)
{
    if (result_ != prNone) return;
    result_ = result;
    QTimer::singleShot(0, this, [this] { close(); });
}

bool TPickListForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == List && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool alt = key->modifiers() & Qt::AltModifier;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space: SetResult(prChosen); return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (!alt) break;
            SetResult(prChosen);
            return true;
        case Qt::Key_Escape: SetResult(prCancelled); return true;
        default: break;
        }
    } else if (watched == List->viewport() && event->type() == QEvent::MouseButtonRelease) {
        SetResult(prChosen);
        return true;
    } else if (watched == List && event->type() == QEvent::FocusOut) {
        if (result_ == prNone) SetResult(prCancelled);
    }
    return QWidget::eventFilter(watched, event);
}

void TPickListForm::paintEvent(QPaintEvent*)
{
    // A raised edge: light outer top-left, dark outer bottom-right.
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    p.fillRect(r, pal.color(QPalette::Button));
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Shadow));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(pal.color(QPalette::Midlight));
    p.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
    p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
    p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
}

void TPickListForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    List->setGeometry(rect().adjusted(kEdge, kEdge, -kEdge, -kEdge));
}

void TPickListForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (result_ == prNone) result_ = prCancelled;
}

// ---- the calls --------------------------------------------------------------------------

bool ShowPickList(const QRect& screenRect, const TPickItems& items, int& index)
{
    // Owned by the application: no parent window.
    TPickListForm form;
    const QFontMetrics metrics(form.List->font());
    std::vector<int> widths, heights;
    for (int i = 0; i < items.Count(); ++i) {
        const QString text = QString::fromStdString(items.Strings(i));
        form.List->addItem(text);
        widths.push_back(metrics.horizontalAdvance(text));
        heights.push_back(metrics.height());
    }
    const TPickListSize size = PickListSize(screenRect.width(), widths, heights);
    form.List->SetItemHeight(size.ItemHeight);
    if (index >= 0 && index < items.Count()) {
        form.List->setCurrentRow(index);
    } else {
        form.List->setCurrentItem(nullptr);
        form.List->clearSelection();
    }

    QScreen* screen = QGuiApplication::screenAt(screenRect.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    form.setGeometry(PickListBounds(screenRect, workArea, items.Count(), size));
    if (QListWidgetItem* current = form.List->currentItem()) form.List->scrollToItem(current);

    gui::RunPopup(form, [&] { return form.Result() != TPickListForm::prNone; });
    if (form.Result() != TPickListForm::prChosen) return false;
    QListWidgetItem* chosen = form.List->currentItem();
    if (chosen && chosen->isSelected()) index = form.List->row(chosen);
    return true;
}

bool PickString(const QRect& screenRect, std::string& value, const TPickItems& items)
{
    int index = items.IndexOf(value);
    const bool chosen = ShowPickList(screenRect, items, index);
    if (chosen && index >= 0 && index < items.Count()) value = items.Strings(index);
    return chosen;
}
