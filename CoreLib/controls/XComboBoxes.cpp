// The lookup combo box: the display-free lookup rules and the Qt view.
#include "CoreLib/controls/XComboBoxes.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr int kMaxMinRows = 10;

// The filter used when OnGetLookupFilter gives none; shared by every box.
TWordStringFilter& DefaultFilter()
{
    static const rtl::RefPtr<TWordStringFilter> filter = rtl::MakeRef<TWordStringFilter>();
    return *filter;
}

} // namespace

// ---- the lookup items ----------------------------------------------------------

TXComboBoxLookupItem& TXComboBoxLookup::Add(std::string text, bool alwaysShown)
{
    items_.push_back(std::make_unique<TXComboBoxLookupItem>(TXComboBoxLookupItem{std::move(text), alwaysShown}));
    return *items_.back();
}

void TXComboBoxLookup::Sort()
{
    std::stable_sort(items_.begin(), items_.end(), [](const auto& a, const auto& b) {
        if (a->AlwaysShown != b->AlwaysShown) return a->AlwaysShown;
        return rtl::CompareText(a->Text, b->Text) < 0;
    });
}

// ---- TXCustomComboBox ----------------------------------------------------------

void TXCustomComboBox::SetLookupMode(TXComboBoxLookupMode mode)
{
    if (mode == lookupMode_) return;
    lookupMode_ = mode;
    DoLookupModeChanged();
}

std::optional<TLookupDropDown> TXCustomComboBox::EditChange(const std::string& textBefore, const std::string& text)
{
    return DoLookup(textBefore, text, true);
}

std::optional<TLookupDropDown> TXCustomComboBox::DropDown(const std::string& text)
{
    return DoLookup(text, text, false);
}

std::optional<TLookupDropDown> TXCustomComboBox::DoLookup(const std::string& textBefore, const std::string& text,
                                                          bool open)
{
    if (lookupMode_ == lmStandard) return std::nullopt;
    if (!inLookup_) {
        savedText_ = textBefore;
        inLookup_ = true;
    }
    text_ = text;
    if (busy_) return std::nullopt;
    busy_ = true;
    struct BusyScope {
        bool& busy;
        ~BusyScope() { busy = false; }
    } const scope{busy_};

    if (!lookupLoaded_) {
        lookup_.Clear();
        if (OnInitDataLookup) {
            const TOnInitDataLookup handler = OnInitDataLookup;
            handler(this, lookup_);
        }
        lookup_.Sort();
        lookupLoaded_ = true;
    }
    rtl::RefPtr<IStringFilter> filter;
    if (OnGetLookupFilter) {
        const TOnGetLookupFilter handler = OnGetLookupFilter;
        filter = handler(this, text_);
    }
    if (!filter) {
        DefaultFilter().SetText(text_);
        filter = &DefaultFilter();
    }

    TLookupDropDown result;
    for (int i = 0; i < lookup_.Count(); ++i) {
        const TXComboBoxLookupItem& item = lookup_.Item(i);
        if (item.AlwaysShown || filter->Matches(item.Text)) result.Items.push_back(&item);
    }
    result.MinRows = std::min(kMaxMinRows, static_cast<int>(result.Items.size()) + 1);
    result.Open = open;
    const auto same = std::find_if(result.Items.begin(), result.Items.end(),
                                   [&](const TXComboBoxLookupItem* item) { return item->Text == text_; });
    itemIndex_ = same == result.Items.end() ? -1 : static_cast<int>(same - result.Items.begin());
    result.ItemIndex = itemIndex_;
    result.Text = text_;
    return result;
}

std::optional<std::string> TXCustomComboBox::CloseUp(const TXComboBoxLookupItem* chosen)
{
    if (lookupMode_ == lmStandard || !inLookup_) return std::nullopt;
    inLookup_ = false;
    if (chosen) return chosen->Text;
    return lookupMode_ == lmStrictLookup ? savedText_ : text_;
}

std::optional<std::string> TXCustomComboBox::Escape(bool droppedDown)
{
    if (lookupMode_ == lmStandard || !droppedDown) return std::nullopt;
    inLookup_ = false;
    return savedText_;
}

void TXCustomComboBox::Change()
{
    if (!OnChange) return;
    const TComboNotifyEvent handler = OnChange;
    handler(this);
}

// ---- TXComboBox ----------------------------------------------------------------

TXComboBox::TXComboBox(QWidget* parent) : QComboBox(parent)
{
    view()->installEventFilter(this);
    // Qt may report the choice just before or just after the list closes.
    connect(this, &QComboBox::activated, this, gui::Guarded([this](int index) {
        activated_ = index;
        if (LookupMode() == lmStandard) Change();
    }));
    ConnectEdit();
}

TXComboBox::~TXComboBox()
{
    view()->removeEventFilter(this);
}

void TXComboBox::ConnectEdit()
{
    QLineEdit* edit = lineEdit();
    if (!edit) return;
    shown_ = shownBefore_ = edit->text();
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        shownBefore_ = shown_;
        shown_ = text;
    });
    connect(edit, &QLineEdit::textEdited, this, gui::Guarded([this](const QString& text) {
        if (filling_) return;
        // textChanged may come before or after textEdited.
        const QString before = shown_ == text ? shownBefore_ : shown_;
        if (const std::optional<TLookupDropDown> dropDown = EditChange(before.toStdString(), text.toStdString()))
            Show(*dropDown);
        Change();
    }));
}

void TXComboBox::DoLookupModeChanged()
{
    if (LookupMode() == lmStandard || isEditable()) return;
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    ConnectEdit();
}

const TXComboBoxLookupItem* TXComboBox::LookupItemAt(int index) const
{
    if (index < 0 || index >= count()) return nullptr;
    return reinterpret_cast<const TXComboBoxLookupItem*>(itemData(index).value<quintptr>());
}

void TXComboBox::SetEditTextQuietly(const std::string& text)
{
    const bool was = filling_;
    filling_ = true;
    setEditText(QString::fromStdString(text));
    filling_ = was;
}

void TXComboBox::Show(const TLookupDropDown& dropDown)
{
    QLineEdit* edit = lineEdit();
    const int cursor = edit ? edit->cursorPosition() : 0;
    {
        const bool was = filling_;
        filling_ = true;
        clear();
        for (const TXComboBoxLookupItem* item : dropDown.Items)
            addItem(QString::fromStdString(item->Text), QVariant::fromValue(reinterpret_cast<quintptr>(item)));
        setMaxVisibleItems(std::max(maxVisibleItems(), dropDown.MinRows));
        setCurrentIndex(dropDown.ItemIndex);
        filling_ = was;
    }
    activated_ = -1;
    // Filling the list replaced the edit's text: the typed text comes back,
    // with the cursor where it was.
    SetEditTextQuietly(dropDown.Text);
    if (edit) edit->setCursorPosition(cursor);
    if (dropDown.Open && !view()->isVisible()) QComboBox::showPopup();
}

void TXComboBox::showPopup()
{
    gui::Guard([&] {
        if (const std::optional<TLookupDropDown> dropDown = DropDown(currentText().toStdString())) Show(*dropDown);
        QComboBox::showPopup();
    });
}

void TXComboBox::hidePopup()
{
    QComboBox::hidePopup();
    if (LookupMode() == lmStandard || !InLookup() || closing_) return;
    // The choice, if any, is known once the list has closed.
    closing_ = true;
    QTimer::singleShot(0, this, gui::Guarded([this] { FinishCloseUp(); }));
}

void TXComboBox::FinishCloseUp()
{
    closing_ = false;
    std::optional<std::string> text;
    if (escaped_) {
        escaped_ = false;
        text = Escape(true);
    } else {
        text = CloseUp(LookupItemAt(activated_));
    }
    activated_ = -1;
    if (!text) return;
    SetEditTextQuietly(*text);
    if (QLineEdit* edit = lineEdit()) edit->selectAll();
    Change();
}

bool TXComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && LookupMode() != lmStandard)
        escaped_ = true;
    return QComboBox::eventFilter(watched, event);
}
