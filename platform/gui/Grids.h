// The class library's custom grid: rows and columns of cells that a derived
// class draws itself, a current cell that moves only when the grid's
// question SelectCell agrees, and an in-place edit box.
//
// Rows scroll vertically by whole rows (TopRow); the columns are laid out
// from the left edge without horizontal scrolling, the first FixedCols of
// them not selectable. The current cell moves by the arrow and page keys, by
// a click and by dragging with the button held; every move asks SelectCell,
// which may refuse. HasMouseCapture tells SelectCell whether the move comes
// from the mouse.
//
// The edit box is made on first need (CreateEditor) and edits the current
// cell while CanEditShow says so (AlwaysShowEditor): when the current cell
// changes, the box's text goes to the cell it was editing (SetEditText) and
// the box is filled for the new cell (GetEditText). Keys in the box go to
// the grid's key handler first (EditorKeyPress), and the up, down and page
// keys move the current cell as they do on the grid.
#pragma once

#include <string>
#include <vector>

#include <QAbstractScrollArea>
#include <QLineEdit>

namespace gui {

class CustomGrid;

// The in-place edit box of a grid; made by the grid, a child of its viewport.
class InplaceEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit InplaceEdit(CustomGrid& grid);

    CustomGrid& Grid() const noexcept { return grid_; }
    // Places the box over a cell (viewport coordinates).
    virtual void SetCellBounds(const QRect& cell);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CustomGrid& grid_;
};

struct GridDrawState {
    bool selected = false; // the current cell
    bool focused = false;  // and the grid (or its box) has the focus
    bool fixed = false;    // a cell of a fixed column
};

class CustomGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CustomGrid(QWidget* parent = nullptr);
    ~CustomGrid() override;

    int ColCount() const noexcept { return static_cast<int>(colWidths_.size()); }
    void SetColCount(int count);
    // The grid keeps at least one row.
    int RowCount() const noexcept { return static_cast<int>(rowHeights_.size()); }
    void SetRowCount(int count);
    int FixedCols() const noexcept { return fixedCols_; }
    void SetFixedCols(int count);
    int DefaultRowHeight() const noexcept { return defaultRowHeight_; }
    // Sets every row to the height.
    void SetDefaultRowHeight(int height);
    int DefaultColWidth() const noexcept { return defaultColWidth_; }
    void SetDefaultColWidth(int width);

    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);

    int Col() const noexcept { return col_; }
    int Row() const noexcept { return row_; }
    // Makes the cell current when SelectCell agrees; false when refused.
    bool FocusCell(int col, int row);
    bool SetRow(int row) { return FocusCell(col_, row); }

    int TopRow() const noexcept { return topRow_; }
    void SetTopRow(int row);
    // The rows that fit wholly from TopRow on (at least 1).
    int VisibleRowCount() const;
    // A cell's rectangle in viewport coordinates; empty when it is not shown.
    QRect CellRect(int col, int row) const;
    // The same wherever the cell lies, above or below the shown rows too.
    QRect CellBounds(int col, int row) const;
    // The cell at a viewport point: false when there is none.
    bool CellAt(QPoint point, int& col, int& row) const;
    int ClientWidth() const;
    int ClientHeight() const;

    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);
    void InvalidateGrid();

    // Keep the box over the current cell while CanEditShow says so.
    bool AlwaysShowEditor() const noexcept { return alwaysShowEditor_; }
    void SetAlwaysShowEditor(bool value);
    // The edit box; nullptr until it is first needed.
    InplaceEdit* InplaceEditor() const noexcept { return editor_; }
    // Shows, fills and places the box for the current cell, or hides it,
    // as CanEditShow says; the box's text first goes to the cell it edited
    // when that was another cell.
    void UpdateEditor();
    // Hides the box; when it has the focus the grid takes it.
    void HideEditorBox();
    // The box forgets the cell it edits, without handing its text on.
    void ForgetEditorCell() noexcept { editCol_ = editRow_ = -1; }
    // Frees the box without handing its text on.
    void DestroyEditor();
    int EditorCol() const noexcept { return editCol_; }
    int EditorRow() const noexcept { return editRow_; }

    // A mouse button went down on the grid and has not been released.
    bool HasMouseCapture() const noexcept { return captured_; }

    // The box's keys: run by the box before it handles a key itself.
    bool HandleEditorKey(QKeyEvent& event);
    // The box lost the focus.
    void HandleEditorFocusLost();

protected:
    // Paints one cell; the grid paints nothing else but the empty area.
    virtual void DrawCell(QPainter& painter, int col, int row, const QRect& rect, GridDrawState state);
    // Whether the cell may become current.
    virtual bool SelectCell(int col, int row);
    // Whether the current cell shows the edit box.
    virtual bool CanEditShow();
    virtual std::string GetEditText(int col, int row);
    virtual void SetEditText(int col, int row, const std::string& text);
    virtual InplaceEdit* CreateEditor();
    // A key on the grid or its box; true when it was consumed.
    virtual bool EditorKeyPress(QKeyEvent& event);
    // The box lost the focus: by default its text goes to its cell.
    virtual void EditorFocusLost();
    // The first shown row changed.
    virtual void TopLeftChanged() {}
    // Column widths or row heights changed.
    virtual void ColWidthsChanged() {}
    virtual void RowHeightsChanged() {}
    // The client area changed size.
    virtual void SizeChanged() {}

    // The box's text goes to the cell it edits.
    void CommitEditorText();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // The navigation keys; true when the key was one of them.
    bool NavigationKey(int key, Qt::KeyboardModifiers modifiers);
    int MaxTopRow() const;
    void UpdateScrollBar();
    void ScrollInView(int row);
    void PlaceEditor();

    std::vector<int> rowHeights_;
    std::vector<int> colWidths_;
    int fixedCols_ = 0;
    int defaultRowHeight_ = 24;
    int defaultColWidth_ = 64;
    int col_ = 0;
    int row_ = 0;
    int topRow_ = 0;
    bool alwaysShowEditor_ = false;
    bool captured_ = false;
    bool syncingScroll_ = false;
    bool dying_ = false;
    bool hidingEditor_ = false;
    InplaceEdit* editor_ = nullptr;
    int editCol_ = -1;
    int editRow_ = -1;
};

} // namespace gui
