// The custom grid over QAbstractScrollArea: cell geometry, scrolling by rows,
// the current cell and its question, and the in-place edit box.
#include "platform/gui/Grids.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "platform/gui/HandlerGuard.h"

namespace gui {

namespace {

constexpr int kDefaultCols = 5;
constexpr int kDefaultRows = 5;

} // namespace

// ---- InplaceEdit ------------------------------------------------------------------

InplaceEdit::InplaceEdit(CustomGrid& grid) : QLineEdit(grid.viewport()), grid_(grid)
{
    setFrame(false);
    hide();
}

void InplaceEdit::SetCellBounds(const QRect& cell)
{
    setGeometry(cell);
}

void InplaceEdit::keyPressEvent(QKeyEvent* event)
{
    const bool handled = GuardOr(true, [&] { return grid_.HandleEditorKey(*event); });
    if (handled)
        event->accept();
    else
        QLineEdit::keyPressEvent(event);
}

void InplaceEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    Guard([&] { grid_.HandleEditorFocusLost(); });
}

// ---- CustomGrid -------------------------------------------------------------------

CustomGrid::CustomGrid(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setTracking(true);
    rowHeights_.assign(kDefaultRows, defaultRowHeight_);
    colWidths_.assign(kDefaultCols, defaultColWidth_);
    fixedCols_ = 1;
    col_ = 1;
    UpdateScrollBar();
}

CustomGrid::~CustomGrid()
{
    dying_ = true;
    DestroyEditor();
}

void CustomGrid::SetColCount(int count)
{
    count = std::max(count, 1);
    if (count == ColCount()) return;
    colWidths_.resize(static_cast<std::size_t>(count), defaultColWidth_);
    fixedCols_ = std::min(fixedCols_, count - 1);
    col_ = std::clamp(col_, fixedCols_, count - 1);
    if (editCol_ >= count) ForgetEditorCell();
    ColWidthsChanged();
    viewport()->update();
}

void CustomGrid::SetRowCount(int count)
{
    count = std::max(count, 1);
    if (count == RowCount()) return;
    rowHeights_.resize(static_cast<std::size_t>(count), defaultRowHeight_);
    row_ = std::min(row_, count - 1);
    if (editRow_ >= count) ForgetEditorCell();
    topRow_ = std::min(topRow_, MaxTopRow());
    UpdateScrollBar();
    PlaceEditor();
    RowHeightsChanged();
    viewport()->update();
}

void CustomGrid::SetFixedCols(int count)
{
    count = std::clamp(count, 0, ColCount() - 1);
    if (count == fixedCols_) return;
    fixedCols_ = count;
    col_ = std::max(col_, fixedCols_);
    viewport()->update();
}

void CustomGrid::SetDefaultRowHeight(int height)
{
    height = std::max(height, 0);
    defaultRowHeight_ = height;
    std::fill(rowHeights_.begin(), rowHeights_.end(), height);
    topRow_ = std::min(topRow_, MaxTopRow());
    UpdateScrollBar();
    PlaceEditor();
    RowHeightsChanged();
    viewport()->update();
}

void CustomGrid::SetDefaultColWidth(int width)
{
    defaultColWidth_ = std::max(width, 0);
    std::fill(colWidths_.begin(), colWidths_.end(), defaultColWidth_);
    PlaceEditor();
    ColWidthsChanged();
    viewport()->update();
}

int CustomGrid::RowHeight(int row) const
{
    return row >= 0 && row < RowCount() ? rowHeights_[static_cast<std::size_t>(row)] : 0;
}

void CustomGrid::SetRowHeight(int row, int height)
{
    if (row < 0 || row >= RowCount()) return;
    height = std::max(height, 0);
    int& h = rowHeights_[static_cast<std::size_t>(row)];
    if (h == height) return;
    h = height;
    topRow_ = std::min(topRow_, MaxTopRow());
    UpdateScrollBar();
    PlaceEditor();
    RowHeightsChanged();
    viewport()->update();
}

int CustomGrid::ColWidth(int col) const
{
    return col >= 0 && col < ColCount() ? colWidths_[static_cast<std::size_t>(col)] : 0;
}

void CustomGrid::SetColWidth(int col, int width)
{
    if (col < 0 || col >= ColCount()) return;
    width = std::max(width, 0);
    int& w = colWidths_[static_cast<std::size_t>(col)];
    if (w == width) return;
    w = width;
    PlaceEditor();
    ColWidthsChanged();
    viewport()->update();
}

bool CustomGrid::FocusCell(int col, int row)
{
    col = std::clamp(col, std::min(fixedCols_, ColCount() - 1), ColCount() - 1);
    row = std::clamp(row, 0, RowCount() - 1);
    if (!SelectCell(col, row)) return false;
    col_ = col;
    row_ = row;
    ScrollInView(row);
    if (alwaysShowEditor_) UpdateEditor();
    viewport()->update();
    return true;
}

void CustomGrid::SetTopRow(int row)
{
    row = std::clamp(row, 0, MaxTopRow());
    if (row == topRow_) return;
    topRow_ = row;
    UpdateScrollBar();
    PlaceEditor();
    viewport()->update();
    TopLeftChanged();
}

int CustomGrid::VisibleRowCount() const
{
    const int height = ClientHeight();
    int y = 0, n = 0;
    for (int r = topRow_; r < RowCount(); ++r) {
        y += RowHeight(r);
        if (y > height) break;
        ++n;
    }
    return std::max(n, 1);
}

int CustomGrid::MaxTopRow() const
{
    const int height = ClientHeight();
    int y = 0;
    int top = RowCount() - 1;
    for (int r = RowCount() - 1; r >= 0; --r) {
        y += RowHeight(r);
        if (y > height) break;
        top = r;
    }
    return std::max(top, 0);
}

QRect CustomGrid::CellBounds(int col, int row) const
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return {};
    int x = 0;
    for (int c = 0; c < col; ++c) x += ColWidth(c);
    int y = 0;
    if (row >= topRow_)
        for (int r = topRow_; r < row; ++r) y += RowHeight(r);
    else
        for (int r = row; r < topRow_; ++r) y -= RowHeight(r);
    return {x, y, ColWidth(col), RowHeight(row)};
}

QRect CustomGrid::CellRect(int col, int row) const
{
    if (row < topRow_) return {};
    const QRect rect = CellBounds(col, row);
    if (rect.isNull() || rect.top() >= ClientHeight() || rect.left() >= ClientWidth()) return {};
    return rect;
}

bool CustomGrid::CellAt(QPoint point, int& col, int& row) const
{
    if (point.x() < 0 || point.y() < 0) return false;
    int y = 0;
    row = -1;
    for (int r = topRow_; r < RowCount() && y < ClientHeight(); ++r) {
        y += RowHeight(r);
        if (point.y() < y) {
            row = r;
            break;
        }
    }
    if (row < 0) return false;
    int x = 0;
    for (int c = 0; c < ColCount(); ++c) {
        x += ColWidth(c);
        if (point.x() < x) {
            col = c;
            return true;
        }
    }
    return false;
}

int CustomGrid::ClientWidth() const
{
    return viewport()->width();
}

int CustomGrid::ClientHeight() const
{
    return viewport()->height();
}

void CustomGrid::InvalidateCell(int col, int row)
{
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty()) viewport()->update(rect);
}

void CustomGrid::InvalidateRow(int row)
{
    const QRect rect = CellRect(0, row);
    if (!rect.isEmpty()) viewport()->update(QRect(0, rect.top(), ClientWidth(), rect.height()));
}

void CustomGrid::InvalidateGrid()
{
    viewport()->update();
}

void CustomGrid::SetAlwaysShowEditor(bool value)
{
    if (value == alwaysShowEditor_) return;
    alwaysShowEditor_ = value;
    UpdateEditor();
}

void CustomGrid::UpdateEditor()
{
    const bool show = alwaysShowEditor_ && CanEditShow();
    const bool moved = editCol_ != col_ || editRow_ != row_;
    if (editor_ && editRow_ >= 0 && (moved || !show)) {
        CommitEditorText();
        ForgetEditorCell();
    }
    if (!show) {
        HideEditorBox();
        return;
    }
    if (!editor_) editor_ = CreateEditor();
    if (!editor_) return;
    if (editRow_ < 0) {
        editor_->setText(QString::fromStdString(GetEditText(col_, row_)));
        editCol_ = col_;
        editRow_ = row_;
    }
    PlaceEditor();
    const bool focused = hasFocus();
    editor_->show();
    if (focused) editor_->setFocus();
}

void CustomGrid::HideEditorBox()
{
    if (!editor_ || !editor_->isVisible()) return;
    const bool was = hidingEditor_;
    hidingEditor_ = true;
    if (editor_->hasFocus()) setFocus();
    editor_->hide();
    hidingEditor_ = was;
}

void CustomGrid::DestroyEditor()
{
    ForgetEditorCell();
    delete editor_;
    editor_ = nullptr;
}

void CustomGrid::PlaceEditor()
{
    if (editor_ && editRow_ >= 0) editor_->SetCellBounds(CellBounds(editCol_, editRow_));
}

void CustomGrid::CommitEditorText()
{
    if (!editor_ || editRow_ < 0 || editRow_ >= RowCount() || editCol_ < 0 || editCol_ >= ColCount()) return;
    SetEditText(editCol_, editRow_, editor_->text().toStdString());
}

bool CustomGrid::HandleEditorKey(QKeyEvent& event)
{
    if (EditorKeyPress(event)) return true;
    switch (event.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return NavigationKey(event.key(), event.modifiers());
    default: return false;
    }
}

void CustomGrid::HandleEditorFocusLost()
{
    if (!dying_) EditorFocusLost();
}

void CustomGrid::DrawCell(QPainter&, int, int, const QRect&, GridDrawState) {}

bool CustomGrid::SelectCell(int, int)
{
    return true;
}

bool CustomGrid::CanEditShow()
{
    return false;
}

std::string CustomGrid::GetEditText(int, int)
{
    return {};
}

void CustomGrid::SetEditText(int, int, const std::string&) {}

InplaceEdit* CustomGrid::CreateEditor()
{
    return new InplaceEdit(*this);
}

bool CustomGrid::EditorKeyPress(QKeyEvent&)
{
    return false;
}

void CustomGrid::EditorFocusLost()
{
    CommitEditorText();
}

bool CustomGrid::NavigationKey(int key, Qt::KeyboardModifiers modifiers)
{
    const bool ctrl = modifiers & Qt::ControlModifier;
    switch (key) {
    case Qt::Key_Up:
        if (row_ > 0) FocusCell(col_, row_ - 1);
        return true;
    case Qt::Key_Down:
        if (row_ < RowCount() - 1) FocusCell(col_, row_ + 1);
        return true;
    case Qt::Key_PageUp: FocusCell(col_, std::max(row_ - VisibleRowCount(), 0)); return true;
    case Qt::Key_PageDown: FocusCell(col_, std::min(row_ + VisibleRowCount(), RowCount() - 1)); return true;
    case Qt::Key_Home:
        if (!ctrl) return false;
        FocusCell(col_, 0);
        return true;
    case Qt::Key_End:
        if (!ctrl) return false;
        FocusCell(col_, RowCount() - 1);
        return true;
    default: return false;
    }
}

void CustomGrid::UpdateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    syncingScroll_ = true;
    bar->setRange(0, MaxTopRow());
    bar->setPageStep(VisibleRowCount());
    bar->setSingleStep(1);
    bar->setValue(topRow_);
    syncingScroll_ = false;
}

void CustomGrid::ScrollInView(int row)
{
    if (row < topRow_) {
        SetTopRow(row);
        return;
    }
    int top = topRow_;
    const int height = ClientHeight();
    const auto bottomOf = [&](int from) {
        int y = 0;
        for (int r = from; r <= row; ++r) y += RowHeight(r);
        return y;
    };
    while (top < row && bottomOf(top) > height) ++top;
    SetTopRow(top);
}

void CustomGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int width = ClientWidth();
    const int height = ClientHeight();
    const bool focused = hasFocus() || (editor_ && editor_->hasFocus());
    int y = 0;
    for (int r = topRow_; r < RowCount() && y < height; ++r) {
        const int h = RowHeight(r);
        int x = 0;
        for (int c = 0; c < ColCount() && x < width; ++c) {
            const int w = ColWidth(c);
            GridDrawState state;
            state.fixed = c < fixedCols_;
            state.selected = !state.fixed && c == col_ && r == row_;
            state.focused = state.selected && focused;
            const QRect rect(x, y, w, h);
            painter.save();
            painter.setClipRect(rect);
            DrawCell(painter, c, r, rect, state);
            painter.restore();
            x += w;
        }
        if (x < width) painter.fillRect(QRect(x, y, width - x, h), palette().color(QPalette::Base));
        y += h;
    }
    if (y < height) painter.fillRect(QRect(0, y, width, height - y), palette().color(QPalette::Base));
}

void CustomGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Guard([&] {
        topRow_ = std::min(topRow_, MaxTopRow());
        UpdateScrollBar();
        SizeChanged();
        PlaceEditor();
    });
}

void CustomGrid::keyPressEvent(QKeyEvent* event)
{
    Guard([&] {
        if (EditorKeyPress(*event) || NavigationKey(event->key(), event->modifiers()))
            event->accept();
        else
            QAbstractScrollArea::keyPressEvent(event);
    });
}

void CustomGrid::mousePressEvent(QMouseEvent* event)
{
    Guard([&] {
        if (!hasFocus() && !(editor_ && editor_->hasFocus())) setFocus(Qt::MouseFocusReason);
        if (event->button() != Qt::LeftButton) return;
        captured_ = true;
        int col = 0, row = 0;
        if (CellAt(event->position().toPoint(), col, row) && col >= fixedCols_) FocusCell(col, row);
    });
}

void CustomGrid::mouseMoveEvent(QMouseEvent* event)
{
    Guard([&] {
        if (!captured_) return;
        int col = 0, row = 0;
        if (CellAt(event->position().toPoint(), col, row) && col >= fixedCols_ && (col != col_ || row != row_))
            FocusCell(col, row);
    });
}

void CustomGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) captured_ = false;
}

void CustomGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (!hidingEditor_ && editor_ && editor_->isVisible() && editRow_ == row_) editor_->setFocus();
    viewport()->update();
}

void CustomGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void CustomGrid::scrollContentsBy(int, int)
{
    if (syncingScroll_) return;
    Guard([&] { SetTopRow(verticalScrollBar()->value()); });
}

} // namespace gui
