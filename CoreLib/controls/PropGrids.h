// The property inspector: property editors, titled groups of them, and the
// two-column grid that shows groups as title rows and editors as name/value
// rows, edits values in place and offers a drop-down arrow or an ellipsis
// button in the selected row.
//
// TPropEditor is one named row whose value is shown and changed through
// virtual operations; it tells its notification list when its options or
// value change (codes 1 to 3), and, when it is freed, every client of the
// list is told so that no group or grid keeps it. TPropGroup and
// TPropGroupList are lists of editors and of groups; they too tell the grids
// that show them when they are freed.
//
// TCustomPropGrid is the grid's display-free part: which rows there are,
// what entering a row shows, where the selection goes past a title row,
// column widths and row heights for given text metrics, validation when a
// row is left, the keys and the value lists. TPropGrid is the Qt grid
// (gui::CustomGrid) that draws the rows and applies what the display-free
// part decides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QFont>
#include <QRect>
#include <QWidget>

#include "CoreLib/AClasses.h"
#include "CoreLib/controls/PickStringList.h"
#include "platform/gui/Grids.h"
#include "platform/gui/Timers.h"

class QPainter;
class TPropEditor;
class TPropGroup;
class TPropGroupList;

// Notification codes of an editor.
enum : int {
    pnOptionsChanged = 1, // SetOptions changed the options
    pnValueSetByProgram = 2,
    pnValueSetByUser = 3, // SetValue: the user's edit
};

// Options of an editor (a bit set).
enum : std::uint8_t {
    poEditText = 1,  // the value is edited as text in place
    poValueList = 2, // a list of values: arrow button, pick list, Ctrl+Enter cycling
    poDialog = 4,    // a dialog: ellipsis button
};

using TPropEditorNotifyEvent = std::function<void(TPropEditor* sender, int code)>;
// An object the client listens to (an editor, a group or a group list) is
// being freed.
using TPropObjectFreedEvent = std::function<void(const void* object)>;

class TPropEditorNotifyClient : public TNotifyClient {
public:
    TPropEditorNotifyClient() = default;
    explicit TPropEditorNotifyClient(TPropEditorNotifyEvent onNotify) : OnNotify(std::move(onNotify)) {}

    TPropEditorNotifyEvent OnNotify;
    TPropObjectFreedEvent OnFreed;
};

// A TNotifyList of TPropEditorNotifyClient objects.
class TPropEditorNotifyList : public TNotifyList {
public:
    void Add(TPropEditorNotifyClient* client) { TNotifyList::Add(client); }
    // OnNotify of every client.
    void Notify(TPropEditor* sender, int code);
    // OnFreed of every client.
    void NotifyFreed(const void* object);
};

class TPropEditor {
public:
    explicit TPropEditor(std::string name = {});
    // Tells every client of the notification list first.
    virtual ~TPropEditor();
    TPropEditor(const TPropEditor&) = delete;
    TPropEditor& operator=(const TPropEditor&) = delete;

    // The operations in slot order.
    // Name and Options of source (a change of options is notified).
    virtual void Assign(const TPropEditor& source);
    // GetDisplayText in rect moved 2 pixels right and down, one line, cut
    // with an ellipsis; the painter's font and pen are used.
    virtual void DrawValue(QPainter& canvas, const QRect& rect, bool selected);
    // GetValue through StrToFloatAnySep.
    virtual double GetAsFloat();
    virtual std::string GetStatusText();
    virtual std::string GetDisplayText();
    virtual std::string GetValue();
    virtual void SetValue(const std::string& value);
    // msg empty, true.
    virtual bool Validate(const std::string& text, std::string& msg);
    virtual bool CanEdit(std::string& msg);
    // Fills list and sets index to the current value's position.
    virtual void GetValues(TPickItems& list, int& index);
    // SetValue(list[index]).
    virtual void SelectValue(TPickItems& list, int index);
    // Releases what GetValues attached to the list.
    virtual void ValuesDone(TPickItems& list);
    // Opens the editor's dialog; rect is the value cell on the screen.
    virtual void Edit(const QRect& rect);

    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    std::uint8_t Options() const noexcept { return options_; }
    // Stores a different value and notifies code 1.
    void SetOptions(std::uint8_t value);
    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool value) noexcept { visible_ = value; }
    TPropEditorNotifyList& Notifications() noexcept { return *notifications_; }

protected:
    void Notify(int code);

private:
    std::string name_;
    std::uint8_t options_ = poEditText;
    bool visible_ = true;
    std::unique_ptr<TPropEditorNotifyList> notifications_;
};

// A titled list of editors; owns them when made with ownsObjects. An editor
// that is freed elsewhere leaves the group by itself.
class TPropGroup {
public:
    explicit TPropGroup(std::string caption = {}, bool ownsObjects = true);
    // Tells the grids, then frees the owned editors.
    ~TPropGroup();
    TPropGroup(const TPropGroup&) = delete;
    TPropGroup& operator=(const TPropGroup&) = delete;

    std::string Caption;
    bool Visible = true;

    bool OwnsObjects() const noexcept { return ownsObjects_; }
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // rtl::EListError "List index out of bounds (%d)" outside 0..Count() - 1.
    TPropEditor* GetItem(int index) const;
    int IndexOf(const TPropEditor* editor) const noexcept;
    int Add(TPropEditor* editor);
    int Add(std::unique_ptr<TPropEditor> editor) { return Add(editor.release()); }
    // Removes the item, freeing it when the group owns it.
    void Delete(int index);
    // Removes the item without freeing it.
    TPropEditor* Extract(int index);
    // Removes every item, freeing them when the group owns them.
    void Clear();
    TPropEditorNotifyList& Watchers() noexcept { return watchers_; }

private:
    void Forget(const void* editor);

    std::vector<TPropEditor*> items_;
    bool ownsObjects_;
    TPropEditorNotifyClient client_;
    TPropEditorNotifyList watchers_;
};

// A list of groups; owns them when made with ownsObjects.
class TPropGroupList {
public:
    explicit TPropGroupList(bool ownsObjects = true);
    // Tells the grids, then frees the owned groups.
    ~TPropGroupList();
    TPropGroupList(const TPropGroupList&) = delete;
    TPropGroupList& operator=(const TPropGroupList&) = delete;

    bool OwnsObjects() const noexcept { return ownsObjects_; }
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    TPropGroup* GetItem(int index) const;
    int IndexOf(const TPropGroup* group) const noexcept;
    int Add(TPropGroup* group);
    int Add(std::unique_ptr<TPropGroup> group) { return Add(group.release()); }
    void Delete(int index);
    TPropGroup* Extract(int index);
    void Clear();
    TPropEditorNotifyList& Watchers() noexcept { return watchers_; }

private:
    void Forget(const void* group);

    std::vector<TPropGroup*> items_;
    bool ownsObjects_;
    TPropEditorNotifyClient client_;
    TPropEditorNotifyList watchers_;
};

// Text measurement for the grid's layout.
class IPropTextMetrics {
public:
    // The width of text on one line.
    virtual int TextWidth(std::string_view text) const = 0;
    // The height of text on one line, bold or regular.
    virtual int TextHeight(std::string_view text, bool bold) const = 0;
    // The height of text word-wrapped to width.
    virtual int WrappedHeight(std::string_view text, int width) const = 0;

protected:
    ~IPropTextMetrics() = default;
};

// The metrics of a Qt font.
class TQtPropTextMetrics final : public IPropTextMetrics {
public:
    explicit TQtPropTextMetrics(QFont font) : font_(std::move(font)) {}
    int TextWidth(std::string_view text) const override;
    int TextHeight(std::string_view text, bool bold) const override;
    int WrappedHeight(std::string_view text, int width) const override;

private:
    QFont font_;
};

// A row of the grid: a group's title row or an editor row.
struct TPropGridRow {
    TPropGroup* Group = nullptr;
    TPropEditor* Editor = nullptr;
};

enum TPropButtonKind { pbkNone, pbkArrow, pbkEllipsis };

// What entering a row shows.
struct TPropRowEntry {
    bool Editor = false; // an editor row, which can be selected
    TPropButtonKind Button = pbkNone;
    bool ShowEdit = false;
    int ButtonWidth = 0; // the width the box leaves to the button
    std::string StatusText;
};

// Where the name and value columns split.
struct TPropColumns {
    int NameWidth = 0;
    int ValueWidth = 0;
};

class TCustomPropGrid;
using TOnSetStatusText = std::function<void(TCustomPropGrid& sender, const std::string& text)>;

enum TPropKey { pkEnter, pkCtrlEnter };

class TCustomPropGrid {
public:
    static constexpr int kButtonWidth = 20;

    TCustomPropGrid();
    virtual ~TCustomPropGrid();
    TCustomPropGrid(const TCustomPropGrid&) = delete;
    TCustomPropGrid& operator=(const TCustomPropGrid&) = delete;

    // BeginUpdate, the list stored, EndUpdate (which rebuilds the rows).
    void SetGroups(TPropGroupList* groups);
    TPropGroupList* Groups() const noexcept { return groups_; }
    void BeginUpdate() noexcept { ++updateCount_; }
    // Lowers a positive count; Rebuild whenever it is then 0.
    void EndUpdate();
    int UpdateCount() const noexcept { return updateCount_; }
    // The rows anew from the visible groups and their visible editors.
    void Rebuild();

    const std::vector<TPropGridRow>& Rows() const noexcept { return rows_; }
    int RowsCount() const noexcept { return static_cast<int>(rows_.size()); }
    // The editor of an editor row, the group of a title row; else nullptr.
    TPropEditor* EditorAt(int row) const noexcept;
    TPropGroup* TitleAt(int row) const noexcept;
    int RowOf(const TPropEditor* editor) const noexcept;

    TPropEditorNotifyList& Listeners() noexcept { return listeners_; }
    TPropEditorNotifyClient& EditorClient() noexcept { return editorClient_; }
    TOnSetStatusText OnSetStatusText;

    // Layout: the name column as wide as the widest editor name + 4, at
    // most half the grid's width; the value column the rest.
    TPropColumns ColumnWidths(const IPropTextMetrics& metrics, int gridWidth) const;
    // A row's height for the columns; -1 for a row that keeps its height.
    int RowHeightFor(int row, const IPropTextMetrics& metrics, const TPropColumns& columns) const;

    // What entering a row shows (nothing for a title row).
    TPropRowEntry EntryFor(int row) const;
    // The row the selection moves to past a title row: the nearest editor
    // row in the direction of travel (down when the title lies below the
    // current row), else the nearest the other way; -1 when there is none.
    int RowPastTitle(int title, int current) const noexcept;
    // Whether the current row may be left: its box text (nullptr without a
    // box) goes through Validate; a refusal with a message raises it as
    // rtl::Exception unless the mouse is captured. Always true while
    // updating.
    bool CanLeaveRow(int current, const std::string* boxText, bool captured);

    // The value flow of the in-place box (nothing while updating).
    bool CanEditRow(int row) const noexcept;
    std::string EditText(int row);
    void StoreEditText(int row, const std::string& text);

    // Enter and Ctrl+Enter on an editor row; true when consumed.
    bool KeyPress(int row, TPropKey key);
    // The button or Enter: the value list with bit 1, else the dialog with bit 2.
    void ButtonClick(int row);
    // Ctrl+Enter: the dialog with bit 2, else the next value of the list.
    void CycleValue(int row);
    void PickValue(TPropEditor& editor, const QRect& screenRect);

protected:
    // The display's part; the display-free grid does nothing here.
    // After Rebuild.
    virtual void RowsRebuilt() {}
    // Rows were dropped because what they showed is being freed.
    virtual void RowsDropped() {}
    // A notification about an editor shown in row (codes 1 to 3).
    virtual void EditorRowChanged(int row, int code)
    {
        (void)row;
        (void)code;
    }
    // Before a dialog or value list opens: the in-place box's text goes to
    // the editor as leaving the row gives it (false when refused; then
    // nothing opens).
    virtual bool TakeBoxText(int row)
    {
        (void)row;
        return true;
    }
    // The value cell of a row on the screen.
    virtual QRect ValueCellScreenRect(int row) const
    {
        (void)row;
        return {};
    }
    virtual void RepaintValueCell(int row) { (void)row; }
    // The pick list (ShowPickList by default).
    virtual bool ShowValueList(const QRect& screenRect, const TPickItems& items, int& index);

    void SetStatusText(const std::string& text);
    // Stops listening to every editor, group and group list.
    void DetachAll() noexcept;

private:
    void EditorChanged(TPropEditor* editor, int code);
    void ObjectFreed(const void* object);

    TPropGroupList* groups_ = nullptr;
    std::vector<TPropGridRow> rows_;
    int updateCount_ = 0;
    TPropEditorNotifyList listeners_;
    TPropEditorNotifyClient editorClient_;
    TPropEditorNotifyClient listClient_; // watches the group list
};

// The state of the grid's button: normal, hot or pressed, and whether a
// click's action is still running (InClick), which keeps a second mouse-up
// inside that action's own loop from clicking again.
class TPropButtonState {
public:
    enum : std::uint8_t { bsNormal = 0, bsHot = 1, bsPressed = 2 };

    std::uint8_t State() const noexcept { return state_; }
    bool Captured() const noexcept { return captured_; }
    bool InClick() const noexcept { return inClick_; }
    bool TimerOn() const noexcept { return timerOn_; }

    void MouseDown();
    void MouseMove(bool inside);
    // True when the click is to run now; call ClickDone after it.
    bool MouseUp(bool inside);
    void ClickDone();
    void TimerTick(bool inside);

private:
    std::uint8_t state_ = bsNormal;
    bool captured_ = false;
    bool inClick_ = false;
    bool timerOn_ = false;
};

// The button in the selected row: an ellipsis or a drop-down arrow.
class TPropButton : public QWidget {
    Q_OBJECT
public:
    explicit TPropButton(QWidget* parent = nullptr);

    bool Ellipsis() const noexcept { return ellipsis_; }
    void SetEllipsis(bool value);
    std::uint8_t State() const noexcept { return state_.State(); }
    const TPropButtonState& ButtonState() const noexcept { return state_; }
    gui::Timer* Timer;

    std::function<void()> OnClick;

    // The button's mouse logic, also for tests.
    void Press();
    void Move(bool inside);
    void Release(bool inside);
    void Tick(bool inside);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Apply();

    TPropButtonState state_;
    std::uint8_t shown_ = TPropButtonState::bsNormal;
    bool ellipsis_ = true;
};

// The grid's in-place box: narrower by ButtonWidth + 1 and lower by 1 than
// its cell, so it covers neither the button nor the row's bottom line.
class TPropInplaceEdit : public gui::InplaceEdit {
    Q_OBJECT
public:
    explicit TPropInplaceEdit(gui::CustomGrid& grid) : gui::InplaceEdit(grid) {}
    int ButtonWidth = 20;
    void SetCellBounds(const QRect& cell) override;
};

class TPropGrid : public gui::CustomGrid, public TCustomPropGrid {
    Q_OBJECT
public:
    explicit TPropGrid(QWidget* parent = nullptr);
    ~TPropGrid() override;

    TPropButton* Button;
    // The box; nullptr until a row first needs it.
    TPropInplaceEdit* InplaceBox() const noexcept { return static_cast<TPropInplaceEdit*>(InplaceEditor()); }

    // Enters a row: places and shows or hides the button and the box, gives
    // the status text; true for an editor row. A title row moves the
    // selection on to RowPastTitle (a posted move), except under the mouse.
    bool SelectRow(int row, bool reload);
    // Column widths and row heights from the font and the width.
    void AutoSizeColumns();

protected:
    void DrawCell(QPainter& painter, int col, int row, const QRect& rect, gui::GridDrawState state) override;
    bool SelectCell(int col, int row) override;
    bool CanEditShow() override;
    std::string GetEditText(int col, int row) override;
    void SetEditText(int col, int row, const std::string& text) override;
    gui::InplaceEdit* CreateEditor() override;
    bool EditorKeyPress(QKeyEvent& event) override;
    void EditorFocusLost() override;
    bool TakeBoxText(int row) override;
    void TopLeftChanged() override;
    void ColWidthsChanged() override;
    void RowHeightsChanged() override;
    void SizeChanged() override;

    void RowsRebuilt() override;
    void RowsDropped() override;
    void EditorRowChanged(int row, int code) override;
    QRect ValueCellScreenRect(int row) const override;
    void RepaintValueCell(int row) override;

private:
    void PlaceControls();
    void HideControls();
    void AdjustRowHeight(int row);
    void Refresh();

    bool sizing_ = false;
    bool sizePending_ = false;
};
