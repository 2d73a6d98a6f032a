// The property editors, their groups, the grid's display-free rules and the
// Qt grid that draws and applies them.
#include "CoreLib/controls/PropGrids.h"

#include <algorithm>
#include <climits>

#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "CoreLib/AUtils.h"
#include "CoreLib/XLists.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/Exceptions.h"

namespace {

constexpr int kTextMargin = 4; // added to measured widths and heights
constexpr int kButtonTimerInterval = 100;

QString ToQ(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

// ---- notifications -------------------------------------------------------------------

void TPropEditorNotifyList::Notify(TPropEditor* sender, int code)
{
    TNotifyList::Notify([&](TNotifyClient& client) {
        auto* c = dynamic_cast<TPropEditorNotifyClient*>(&client);
        if (!c || !c->OnNotify) return;
        const TPropEditorNotifyEvent handler = c->OnNotify;
        handler(sender, code);
    });
}

void TPropEditorNotifyList::NotifyFreed(const void* object)
{
    TNotifyList::Notify([&](TNotifyClient& client) {
        auto* c = dynamic_cast<TPropEditorNotifyClient*>(&client);
        if (!c || !c->OnFreed) return;
        const TPropObjectFreedEvent handler = c->OnFreed;
        handler(object);
    });
}

// ---- TPropEditor ---------------------------------------------------------------------

TPropEditor::TPropEditor(std::string name)
    : name_(std::move(name)), notifications_(std::make_unique<TPropEditorNotifyList>())
{
}

TPropEditor::~TPropEditor()
{
    try {
        notifications_->NotifyFreed(this);
    } catch (...) {
    }
}

void TPropEditor::Assign(const TPropEditor& source)
{
    name_ = source.name_;
    SetOptions(source.options_);
}

void TPropEditor::DrawValue(QPainter& canvas, const QRect& rect, bool selected)
{
    (void)selected;
    const QRect area = rect.adjusted(2, 2, 0, 0);
    const QFontMetrics metrics(canvas.font());
    const QString text = metrics.elidedText(ToQ(GetDisplayText()), Qt::ElideRight, std::max(area.width(), 0));
    canvas.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

double TPropEditor::GetAsFloat()
{
    return StrToFloatAnySep(GetValue());
}

std::string TPropEditor::GetStatusText()
{
    return {};
}

std::string TPropEditor::GetDisplayText()
{
    return GetValue();
}

std::string TPropEditor::GetValue()
{
    return {};
}

void TPropEditor::SetValue(const std::string&) {}

bool TPropEditor::Validate(const std::string&, std::string& msg)
{
    msg.clear();
    return true;
}

bool TPropEditor::CanEdit(std::string& msg)
{
    msg.clear();
    return true;
}

void TPropEditor::GetValues(TPickItems&, int&) {}

void TPropEditor::SelectValue(TPickItems& list, int index)
{
    SetValue(list.Strings(index));
}

void TPropEditor::ValuesDone(TPickItems&) {}

void TPropEditor::Edit(const QRect&) {}

void TPropEditor::SetOptions(std::uint8_t value)
{
    if (value == options_) return;
    options_ = value;
    Notify(pnOptionsChanged);
}

void TPropEditor::Notify(int code)
{
    notifications_->Notify(this, code);
}

// ---- TPropGroup ----------------------------------------------------------------------

TPropGroup::TPropGroup(std::string caption, bool ownsObjects) : Caption(std::move(caption)), ownsObjects_(ownsObjects)
{
    client_.OnFreed = [this](const void* editor) { Forget(editor); };
}

TPropGroup::~TPropGroup()
{
    try {
        watchers_.NotifyFreed(this);
    } catch (...) {
    }
    client_.DetachAll();
    std::vector<TPropEditor*> items = std::move(items_);
    items_.clear();
    if (ownsObjects_)
        for (auto it = items.rbegin(); it != items.rend(); ++it) delete *it;
}

TPropEditor* TPropGroup::GetItem(int index) const
{
    CheckListIndex(index, Count());
    return items_[static_cast<std::size_t>(index)];
}

int TPropGroup::IndexOf(const TPropEditor* editor) const noexcept
{
    const auto it = std::find(items_.begin(), items_.end(), editor);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

int TPropGroup::Add(TPropEditor* editor)
{
    items_.push_back(editor);
    if (editor) editor->Notifications().Add(&client_);
    return Count() - 1;
}

void TPropGroup::Delete(int index)
{
    TPropEditor* editor = Extract(index);
    if (ownsObjects_) delete editor;
}

TPropEditor* TPropGroup::Extract(int index)
{
    TPropEditor* editor = GetItem(index);
    items_.erase(items_.begin() + index);
    if (editor) editor->Notifications().Remove(&client_);
    return editor;
}

void TPropGroup::Clear()
{
    while (!items_.empty()) Delete(Count() - 1);
}

void TPropGroup::Forget(const void* editor)
{
    // The editor is being freed; its list lets the client go by itself.
    items_.erase(std::remove(items_.begin(), items_.end(), editor), items_.end());
}

// ---- TPropGroupList ------------------------------------------------------------------

TPropGroupList::TPropGroupList(bool ownsObjects) : ownsObjects_(ownsObjects)
{
    client_.OnFreed = [this](const void* group) { Forget(group); };
}

TPropGroupList::~TPropGroupList()
{
    try {
        watchers_.NotifyFreed(this);
    } catch (...) {
    }
    client_.DetachAll();
    std::vector<TPropGroup*> items = std::move(items_);
    items_.clear();
    if (ownsObjects_)
        for (auto it = items.rbegin(); it != items.rend(); ++it) delete *it;
}

TPropGroup* TPropGroupList::GetItem(int index) const
{
    CheckListIndex(index, Count());
    return items_[static_cast<std::size_t>(index)];
}

int TPropGroupList::IndexOf(const TPropGroup* group) const noexcept
{
    const auto it = std::find(items_.begin(), items_.end(), group);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

int TPropGroupList::Add(TPropGroup* group)
{
    items_.push_back(group);
    if (group) group->Watchers().Add(&client_);
    return Count() - 1;
}

void TPropGroupList::Delete(int index)
{
    TPropGroup* group = Extract(index);
    if (ownsObjects_) delete group;
}

TPropGroup* TPropGroupList::Extract(int index)
{
    TPropGroup* group = GetItem(index);
    items_.erase(items_.begin() + index);
    if (group) group->Watchers().Remove(&client_);
    return group;
}

void TPropGroupList::Clear()
{
    while (!items_.empty()) Delete(Count() - 1);
}

void TPropGroupList::Forget(const void* group)
{
    items_.erase(std::remove(items_.begin(), items_.end(), group), items_.end());
}

// ---- metrics -------------------------------------------------------------------------

int TQtPropTextMetrics::TextWidth(std::string_view text) const
{
    return QFontMetrics(font_).horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

int TQtPropTextMetrics::TextHeight(std::string_view text, bool bold) const
{
    QFont font = font_;
    font.setBold(bold);
    const QFontMetrics metrics(font);
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return std::max(metrics.height(), metrics.boundingRect(QRect(0, 0, INT_MAX / 2, INT_MAX / 2), 0, s).height());
}

int TQtPropTextMetrics::WrappedHeight(std::string_view text, int width) const
{
    const QFontMetrics metrics(font_);
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QRect bounds = metrics.boundingRect(QRect(0, 0, std::max(width, 1), INT_MAX / 2), Qt::TextWordWrap, s);
    return std::max(metrics.height(), bounds.height());
}

// ---- TCustomPropGrid -----------------------------------------------------------------

TCustomPropGrid::TCustomPropGrid()
{
    editorClient_.OnNotify = [this](TPropEditor* editor, int code) { EditorChanged(editor, code); };
    editorClient_.OnFreed = [this](const void* object) { ObjectFreed(object); };
    listClient_.OnFreed = [this](const void* object) { ObjectFreed(object); };
}

TCustomPropGrid::~TCustomPropGrid()
{
    DetachAll();
}

void TCustomPropGrid::DetachAll() noexcept
{
    editorClient_.DetachAll();
    listClient_.DetachAll();
}

void TCustomPropGrid::SetGroups(TPropGroupList* groups)
{
    BeginUpdate();
    listClient_.DetachAll();
    groups_ = groups;
    if (groups_) groups_->Watchers().Add(&listClient_);
    EndUpdate();
}

void TCustomPropGrid::EndUpdate()
{
    if (updateCount_ > 0) --updateCount_;
    if (updateCount_ == 0) Rebuild();
}

void TCustomPropGrid::Rebuild()
{
    editorClient_.DetachAll();
    rows_.clear();
    if (groups_) {
        for (int g = 0; g < groups_->Count(); ++g) {
            TPropGroup* group = groups_->GetItem(g);
            if (!group || !group->Visible) continue;
            rows_.push_back({group, nullptr});
            group->Watchers().Add(&editorClient_);
            for (int e = 0; e < group->Count(); ++e) {
                TPropEditor* editor = group->GetItem(e);
                if (!editor || !editor->Visible()) continue;
                rows_.push_back({nullptr, editor});
                editor->Notifications().Add(&editorClient_);
            }
        }
    }
    RowsRebuilt();
}

TPropEditor* TCustomPropGrid::EditorAt(int row) const noexcept
{
    return row >= 0 && row < RowsCount() ? rows_[static_cast<std::size_t>(row)].Editor : nullptr;
}

TPropGroup* TCustomPropGrid::TitleAt(int row) const noexcept
{
    return row >= 0 && row < RowsCount() ? rows_[static_cast<std::size_t>(row)].Group : nullptr;
}

int TCustomPropGrid::RowOf(const TPropEditor* editor) const noexcept
{
    if (!editor) return -1;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].Editor == editor) return static_cast<int>(i);
    return -1;
}

TPropColumns TCustomPropGrid::ColumnWidths(const IPropTextMetrics& metrics, int gridWidth) const
{
    TPropColumns columns;
    for (const TPropGridRow& row : rows_)
        if (row.Editor)
            columns.NameWidth = std::max(columns.NameWidth, metrics.TextWidth(row.Editor->Name()) + kTextMargin);
    const int half = gridWidth / 2;
    if (columns.NameWidth > half) columns.NameWidth = half;
    columns.ValueWidth = gridWidth - columns.NameWidth;
    return columns;
}

int TCustomPropGrid::RowHeightFor(int row, const IPropTextMetrics& metrics, const TPropColumns& columns) const
{
    if (TPropGroup* group = TitleAt(row)) return metrics.TextHeight(group->Caption, true) + kTextMargin;
    if (TPropEditor* editor = EditorAt(row)) {
        const int name = metrics.WrappedHeight(editor->Name(), columns.NameWidth);
        const int value = metrics.WrappedHeight(editor->GetDisplayText(), columns.ValueWidth);
        return std::max(name, value) + kTextMargin;
    }
    return -1;
}

TPropRowEntry TCustomPropGrid::EntryFor(int row) const
{
    TPropRowEntry entry;
    TPropEditor* editor = EditorAt(row);
    if (!editor) return entry;
    const std::uint8_t options = editor->Options();
    entry.Editor = true;
    if (options & poValueList)
        entry.Button = pbkArrow;
    else if (options & poDialog)
        entry.Button = pbkEllipsis;
    entry.ShowEdit = options & poEditText;
    entry.ButtonWidth = options & (poValueList | poDialog) ? kButtonWidth : 0;
    entry.StatusText = editor->GetStatusText();
    return entry;
}

int TCustomPropGrid::RowPastTitle(int title, int current) const noexcept
{
    const int step = title > current ? 1 : -1;
    for (int r = title + step; r >= 0 && r < RowsCount(); r += step)
        if (EditorAt(r)) return r;
    for (int r = title - step; r >= 0 && r < RowsCount(); r -= step)
        if (EditorAt(r)) return r;
    return -1;
}

bool TCustomPropGrid::CanLeaveRow(int current, const std::string* boxText, bool captured)
{
    if (updateCount_ > 0) return true;
    TPropEditor* editor = EditorAt(current);
    if (!editor || !(editor->Options() & poEditText) || !boxText) return true;
    std::string msg;
    if (editor->Validate(*boxText, msg)) return true;
    if (!msg.empty() && !captured) throw rtl::Exception(msg);
    return false;
}

bool TCustomPropGrid::CanEditRow(int row) const noexcept
{
    const TPropEditor* editor = EditorAt(row);
    return editor && (editor->Options() & poEditText);
}

std::string TCustomPropGrid::EditText(int row)
{
    TPropEditor* editor = EditorAt(row);
    return editor && updateCount_ == 0 ? editor->GetValue() : std::string();
}

void TCustomPropGrid::StoreEditText(int row, const std::string& text)
{
    TPropEditor* editor = EditorAt(row);
    if (editor && updateCount_ == 0) editor->SetValue(text);
}

bool TCustomPropGrid::KeyPress(int row, TPropKey key)
{
    if (!EditorAt(row)) return false;
    if (key == pkEnter)
        ButtonClick(row);
    else
        CycleValue(row);
    return true;
}

void TCustomPropGrid::ButtonClick(int row)
{
    TPropEditor* editor = EditorAt(row);
    if (!editor || !(editor->Options() & (poValueList | poDialog))) return;
    if (!TakeBoxText(row)) return;
    const QRect rect = ValueCellScreenRect(row);
    if (editor->Options() & poValueList)
        PickValue(*editor, rect);
    else if (editor->Options() & poDialog)
        editor->Edit(rect);
}

namespace {

// Runs ValuesDone on the list in every case, without letting a second
// failure replace the first.
template <class Fn>
void WithValues(TPropEditor& editor, TPickItems& list, Fn&& fn)
{
    try {
        fn();
    } catch (...) {
        try {
            editor.ValuesDone(list);
        } catch (...) {
        }
        throw;
    }
    editor.ValuesDone(list);
}

} // namespace

void TCustomPropGrid::PickValue(TPropEditor& editor, const QRect& screenRect)
{
    TPickItems list;
    // Nothing is preselected unless the editor says where its value stands
    // (or the value is in the list): a value outside the list stays apart.
    int index = -1;
    WithValues(editor, list, [&] {
        editor.GetValues(list, index);
        if (list.Empty()) return;
        if (index < 0 || index >= list.Count()) {
            const std::string value = editor.GetValue();
            index = list.IndexOfExact(value);
            if (index < 0) index = list.IndexOf(value);
        }
        // The choice is taken by its position, so items equal but for case
        // stay apart.
        if (ShowValueList(screenRect, list, index) && index >= 0 && index < list.Count())
            editor.SelectValue(list, index);
    });
}

void TCustomPropGrid::CycleValue(int row)
{
    TPropEditor* editor = EditorAt(row);
    if (!editor) return;
    if (editor->Options() & poDialog) {
        if (!TakeBoxText(row)) return;
        editor->Edit(ValueCellScreenRect(row));
        RepaintValueCell(row);
        return;
    }
    if (!(editor->Options() & poValueList)) return;
    TPickItems list;
    int index = 0;
    WithValues(*editor, list, [&] {
        editor->GetValues(list, index);
        if (list.Empty()) return;
        index = index + 1 >= 0 && index + 1 < list.Count() ? index + 1 : 0;
        editor->SelectValue(list, index);
        RepaintValueCell(row);
    });
}

bool TCustomPropGrid::ShowValueList(const QRect& screenRect, const TPickItems& items, int& index)
{
    return ShowPickList(screenRect, items, index);
}

void TCustomPropGrid::SetStatusText(const std::string& text)
{
    if (!OnSetStatusText) return;
    const TOnSetStatusText handler = OnSetStatusText;
    handler(*this, text);
}

void TCustomPropGrid::EditorChanged(TPropEditor* editor, int code)
{
    if (updateCount_ == 0) {
        const int row = RowOf(editor);
        if (row >= 0) EditorRowChanged(row, code);
    }
    listeners_.Notify(editor, code);
}

void TCustomPropGrid::ObjectFreed(const void* object)
{
    if (object == groups_) groups_ = nullptr;
    bool dropped = false;
    bool inFreedGroup = false;
    std::vector<TPropGridRow> kept;
    kept.reserve(rows_.size());
    for (const TPropGridRow& row : rows_) {
        // A freed group takes its title and the editor rows under it.
        if (row.Group) inFreedGroup = row.Group == object;
        if (inFreedGroup || row.Editor == object) {
            dropped = true;
            continue;
        }
        kept.push_back(row);
    }
    if (!dropped) return;
    rows_ = std::move(kept);
    RowsDropped();
}

// ---- TPropButtonState -----------------------------------------------------------------

void TPropButtonState::MouseDown()
{
    captured_ = true;
    state_ = bsPressed;
}

void TPropButtonState::MouseMove(bool inside)
{
    if (captured_) {
        state_ = inside ? bsPressed : bsHot;
    } else if (state_ == bsNormal) {
        state_ = bsHot;
        timerOn_ = true;
    }
}

bool TPropButtonState::MouseUp(bool inside)
{
    if (!captured_) return false;
    captured_ = false;
    if (inside && !inClick_) {
        inClick_ = true;
        timerOn_ = false;
        return true;
    }
    ClickDone();
    return false;
}

void TPropButtonState::ClickDone()
{
    state_ = bsHot;
    timerOn_ = true;
}

void TPropButtonState::TimerTick(bool inside)
{
    if (captured_ || state_ != bsHot) return;
    inClick_ = false;
    if (!inside) {
        state_ = bsNormal;
        timerOn_ = false;
    }
}

// ---- TPropButton ---------------------------------------------------------------------

TPropButton::TPropButton(QWidget* parent) : QWidget(parent), Timer(new gui::Timer(this))
{
    setObjectName("Button");
    setMouseTracking(true);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    Timer->SetInterval(kButtonTimerInterval);
    Timer->OnTimer = [this] { Tick(rect().contains(mapFromGlobal(QCursor::pos()))); };
}

void TPropButton::SetEllipsis(bool value)
{
    if (value == ellipsis_) return;
    ellipsis_ = value;
    update();
}

void TPropButton::Apply()
{
    Timer->SetEnabled(state_.TimerOn());
    if (state_.State() != shown_) {
        shown_ = state_.State();
        update();
    }
}

void TPropButton::Press()
{
    state_.MouseDown();
    Apply();
}

void TPropButton::Move(bool inside)
{
    state_.MouseMove(inside);
    Apply();
}

void TPropButton::Release(bool inside)
{
    const bool click = state_.MouseUp(inside);
    Apply();
    if (!click) return;
    const QPointer<TPropButton> self(this);
    if (OnClick) {
        const std::function<void()> handler = OnClick;
        gui::Guard(handler);
    }
    if (!self) return;
    state_.ClickDone();
    Apply();
}

void TPropButton::Tick(bool inside)
{
    state_.TimerTick(inside);
    Apply();
}

void TPropButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) Press();
}

void TPropButton::mouseMoveEvent(QMouseEvent* event)
{
    Move(rect().contains(event->position().toPoint()));
}

void TPropButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) Release(rect().contains(event->position().toPoint()));
}

void TPropButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    QRect r = rect();
    // Two one-pixel frames: button highlight outside, button face inside.
    p.setPen(pal.color(QPalette::Light));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(pal.color(QPalette::Button));
    p.drawRect(r.adjusted(1, 1, -2, -2));
    r.adjust(2, 2, -2, -2);
    const auto edge = [&](QColor topLeft, QColor bottomRight) {
        p.setPen(topLeft);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        r.adjust(1, 1, -1, -1);
    };
    const std::uint8_t state = state_.State();
    if (state == TPropButtonState::bsHot) edge(pal.color(QPalette::Light), pal.color(QPalette::Dark));
    if (state == TPropButtonState::bsPressed) edge(pal.color(QPalette::Dark), pal.color(QPalette::Light));
    p.fillRect(r, pal.color(QPalette::Button));
    QRect glyph = r;
    if (state == TPropButtonState::bsPressed) glyph.adjust(1, 1, 0, 0);
    const QPoint c = glyph.center();
    p.setPen(Qt::NoPen);
    p.setBrush(pal.color(QPalette::ButtonText));
    if (ellipsis_) {
        for (int i = -1; i <= 1; ++i) p.drawRect(c.x() + i * 4 - 1, c.y() + 1, 2, 2);
    } else {
        const QPoint arrow[] = {QPoint(c.x() - 4, c.y() - 1), QPoint(c.x() + 4, c.y() - 1), QPoint(c.x(), c.y() + 3)};
        p.drawPolygon(arrow, 3);
    }
}

// ---- TPropInplaceEdit ------------------------------------------------------------------

void TPropInplaceEdit::SetCellBounds(const QRect& cell)
{
    setGeometry(cell.x(), cell.y(), std::max(cell.width() - (ButtonWidth + 1), 0), std::max(cell.height() - 1, 0));
}

// ---- TPropGrid -------------------------------------------------------------------------

TPropGrid::TPropGrid(QWidget* parent) : gui::CustomGrid(parent), Button(new TPropButton(viewport()))
{
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    Button->hide();
    Button->SetEllipsis(true);
    Button->OnClick = [this] { ButtonClick(Row()); };
    SetColCount(2);
    SetFixedCols(1);
    SetRowCount(1);
    SetDefaultRowHeight(16);
    SetAlwaysShowEditor(true);
}

TPropGrid::~TPropGrid()
{
    DetachAll();
    Button->OnClick = nullptr;
    DestroyEditor();
}

void TPropGrid::HideControls()
{
    Button->hide();
    HideEditorBox();
}

bool TPropGrid::SelectRow(int row, bool reload)
{
    const TPropRowEntry entry = EntryFor(row);
    if (entry.Editor) {
        const QRect cell = CellBounds(1, row);
        if (entry.Button == pbkNone) {
            Button->hide();
        } else {
            Button->SetEllipsis(entry.Button == pbkEllipsis);
            Button->setGeometry(cell.left() + cell.width() - kButtonWidth, cell.top(), kButtonWidth,
                                std::max(cell.height() - 1, 0));
            Button->show();
        }
        if (TPropInplaceEdit* box = InplaceBox()) {
            box->ButtonWidth = entry.ButtonWidth;
            if (entry.ShowEdit) {
                box->SetCellBounds(cell);
                if (reload) box->setText(ToQ(EditorAt(row)->GetValue()));
                box->show();
            } else {
                HideEditorBox();
            }
        }
        SetStatusText(entry.StatusText);
        return true;
    }
    if (TitleAt(row)) {
        // A click on a title changes nothing.
        if (HasMouseCapture()) return false;
        const int target = RowPastTitle(row, Row());
        if (target < 0) return false;
        HideControls();
        SetStatusText({});
        if (row == 0) SetTopRow(0);
        QMetaObject::invokeMethod(
            this,
            [this, target] {
                gui::Guard([&] {
                    if (target < RowCount()) FocusCell(1, target);
                });
            },
            Qt::QueuedConnection);
        return false;
    }
    HideControls();
    return false;
}

void TPropGrid::AutoSizeColumns()
{
    if (sizing_) {
        sizePending_ = true;
        return;
    }
    sizing_ = true;
    // A scroll bar that comes or goes changes the width once more.
    for (int pass = 0; pass < 3; ++pass) {
        sizePending_ = false;
        const TQtPropTextMetrics metrics(font());
        const TPropColumns columns = ColumnWidths(metrics, ClientWidth());
        for (int r = 0; r < RowsCount() && r < RowCount(); ++r) {
            const int h = RowHeightFor(r, metrics, columns);
            if (h >= 0) SetRowHeight(r, h);
        }
        SetColWidth(0, columns.NameWidth);
        SetColWidth(1, columns.ValueWidth);
        if (!sizePending_) break;
    }
    sizing_ = false;
}

void TPropGrid::AdjustRowHeight(int row)
{
    const TQtPropTextMetrics metrics(font());
    const int h = RowHeightFor(row, metrics, TPropColumns{ColWidth(0), ColWidth(1)});
    if (h >= 0) SetRowHeight(row, h);
}

void TPropGrid::PlaceControls()
{
    // Only the controls of an editor row follow; a title row has none.
    if (EditorAt(Row())) SelectRow(Row(), false);
}

void TPropGrid::DrawCell(QPainter& painter, int col, int row, const QRect& rect, gui::GridDrawState state)
{
    const QPalette& pal = palette();
    painter.setFont(font());
    if (TPropGroup* group = TitleAt(row)) {
        const QRect whole(0, rect.top(), ClientWidth(), rect.height());
        painter.fillRect(whole, pal.color(QPalette::Dark));
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(pal.color(QPalette::Light));
        const QRect text = whole.adjusted(2, 1, 0, 0);
        const QString caption =
            QFontMetrics(bold).elidedText(ToQ(group->Caption), Qt::ElideRight, std::max(text.width(), 0));
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption);
        return;
    }
    TPropEditor* editor = EditorAt(row);
    if (!editor) {
        painter.fillRect(rect, pal.color(QPalette::Base));
        return;
    }
    if (col == 0) {
        painter.fillRect(rect, pal.color(QPalette::Button));
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                         ToQ(editor->Name()));
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
        return;
    }
    QRect value = rect;
    if (row == Row() && Button->isVisible()) value.setRight(value.right() - Button->width());
    const TPropInplaceEdit* box = InplaceBox();
    const bool selected = state.selected && (!box || !box->isVisible());
    painter.fillRect(value, pal.color(selected ? QPalette::Highlight : QPalette::Base));
    painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
    editor->DrawValue(painter, value, selected);
    QColor line = pal.color(QPalette::Button);
    if (TitleAt(row + 1) || line == pal.color(QPalette::Base)) line = pal.color(QPalette::Dark);
    painter.setPen(line);
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
}

bool TPropGrid::SelectCell(int, int row)
{
    if (UpdateCount() > 0) return true;
    std::string text;
    const std::string* boxText = nullptr;
    if (const TPropInplaceEdit* box = InplaceBox()) {
        text = box->text().toStdString();
        boxText = &text;
    }
    if (!CanLeaveRow(Row(), boxText, HasMouseCapture())) return false;
    return SelectRow(row, false);
}

bool TPropGrid::CanEditShow()
{
    return CanEditRow(Row());
}

std::string TPropGrid::GetEditText(int, int row)
{
    return EditText(row);
}

void TPropGrid::SetEditText(int, int row, const std::string& text)
{
    StoreEditText(row, text);
}

gui::InplaceEdit* TPropGrid::CreateEditor()
{
    auto* box = new TPropInplaceEdit(*this);
    box->setObjectName("InplaceBox");
    box->ButtonWidth = EntryFor(Row()).ButtonWidth;
    return box;
}

bool TPropGrid::EditorKeyPress(QKeyEvent& event)
{
    if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter) return false;
    const bool ctrl = event.modifiers() & Qt::ControlModifier;
    return KeyPress(Row(), ctrl ? pkCtrlEnter : pkEnter);
}

void TPropGrid::EditorFocusLost()
{
    // The text goes to the editor only when the editor takes it.
    const TPropInplaceEdit* box = InplaceBox();
    TPropEditor* editor = EditorAt(EditorRow());
    if (!box || !editor || !(editor->Options() & poEditText) || UpdateCount() > 0) return;
    std::string msg;
    if (editor->Validate(box->text().toStdString(), msg)) CommitEditorText();
}

bool TPropGrid::TakeBoxText(int row)
{
    const TPropInplaceEdit* box = InplaceBox();
    if (!box || row != EditorRow() || UpdateCount() > 0) return true;
    const std::string text = box->text().toStdString();
    if (!CanLeaveRow(row, &text, false)) return false;
    if (CanEditRow(row)) CommitEditorText();
    return true;
}

void TPropGrid::TopLeftChanged()
{
    PlaceControls();
}

void TPropGrid::ColWidthsChanged()
{
    PlaceControls();
}

void TPropGrid::RowHeightsChanged()
{
    PlaceControls();
}

void TPropGrid::SizeChanged()
{
    if (UpdateCount() == 0) AutoSizeColumns();
}

void TPropGrid::Refresh()
{
    ForgetEditorCell();
    InvalidateGrid();
    SetRowCount(RowsCount());
    AutoSizeColumns();
    SelectRow(Row(), true);
    UpdateEditor();
}

void TPropGrid::RowsRebuilt()
{
    Refresh();
}

void TPropGrid::RowsDropped()
{
    ForgetEditorCell();
    if (UpdateCount() == 0) {
        Refresh();
    } else {
        HideControls();
        InvalidateGrid();
    }
}

void TPropGrid::EditorRowChanged(int row, int code)
{
    if (code == pnOptionsChanged || code == pnValueSetByProgram) {
        if (row == Row()) {
            SelectRow(row, true);
            UpdateEditor();
        }
        AdjustRowHeight(row);
        InvalidateRow(row);
    } else if (code == pnValueSetByUser) {
        AdjustRowHeight(row);
    }
}

QRect TPropGrid::ValueCellScreenRect(int row) const
{
    const QRect cell = CellBounds(1, row);
    return {viewport()->mapToGlobal(cell.topLeft()), cell.size()};
}

void TPropGrid::RepaintValueCell(int row)
{
    InvalidateCell(1, row);
}
