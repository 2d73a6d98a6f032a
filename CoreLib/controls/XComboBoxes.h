// The combo box that can act as an incremental lookup.
//
// In lookup mode lmStandard TXComboBox is the platform's combo box and nothing
// more. In lmLookup and lmStrictLookup every edit and every drop-down request
// refills the list from the lookup items (loaded once through
// OnInitDataLookup) that are always shown or match the filter of the typed
// text; on close-up the chosen item's text becomes the text, and without a
// choice lmStrictLookup goes back to the text from before the lookup while
// lmLookup keeps what was typed. Escape in the open list goes back as well.
//
// TXCustomComboBox holds these rules and needs no display; TXComboBox is the
// QComboBox that feeds it Qt's input and shows what it answers.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QComboBox>

#include "CoreLib/AClasses.h"
#include "platform/rtl/RefCounted.h"

class TXCustomComboBox;

struct TXComboBoxLookupItem {
    std::string Text;
    // Shown whatever the filter says.
    bool AlwaysShown = false;
};

// The lookup items; owns them, and an item keeps its address while it lives.
class TXComboBoxLookup {
public:
    TXComboBoxLookupItem& Add(std::string text, bool alwaysShown = false);
    void Clear() noexcept { items_.clear(); }
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    const TXComboBoxLookupItem& Item(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
    // The items always shown first, then by text, letter case ignored; the
    // order of equal items is kept.
    void Sort();

private:
    std::vector<std::unique_ptr<TXComboBoxLookupItem>> items_;
};

class IStringFilter : public virtual rtl::RefCounted {
public:
    virtual bool Matches(std::string_view text) = 0;
};

// Matches the texts that hold every word of its text at a word start.
class TWordStringFilter : public IStringFilter {
public:
    explicit TWordStringFilter(std::string_view text = {}) : words_(text) {}
    void SetText(std::string_view text) { words_.SetText(text); }
    bool Matches(std::string_view text) override { return words_.Matches(text); }

private:
    TWordsFilter words_;
};

enum TXComboBoxLookupMode { lmStandard, lmLookup, lmStrictLookup };

using TOnInitDataLookup = std::function<void(TXCustomComboBox* aSender, TXComboBoxLookup& aList)>;
using TOnGetLookupFilter =
    std::function<rtl::RefPtr<IStringFilter>(TXCustomComboBox* aSender, const std::string& aText)>;
using TComboNotifyEvent = std::function<void(TXCustomComboBox* Sender)>;

// What the display shows after a lookup step.
struct TLookupDropDown {
    // The entries of the list, each standing for its lookup item.
    std::vector<const TXComboBoxLookupItem*> Items;
    // The list shows at least this many rows: min(10, entries + 1).
    int MinRows = 1;
    // Open the list (after an edit; a drop-down request opens it anyway).
    bool Open = false;
    // The entry whose text equals the typed text, -1 when none.
    int ItemIndex = -1;
    // The typed text, which the edit keeps.
    std::string Text;
};

class TXCustomComboBox {
public:
    TXCustomComboBox() = default;
    virtual ~TXCustomComboBox() = default;
    TXCustomComboBox(const TXCustomComboBox&) = delete;
    TXCustomComboBox& operator=(const TXCustomComboBox&) = delete;

    TXComboBoxLookupMode LookupMode() const noexcept { return lookupMode_; }
    void SetLookupMode(TXComboBoxLookupMode mode);

    // The user changed the edit from textBefore to text. Nothing in lmStandard.
    std::optional<TLookupDropDown> EditChange(const std::string& textBefore, const std::string& text);
    // The user asked for the list with text in the edit. Nothing in lmStandard.
    std::optional<TLookupDropDown> DropDown(const std::string& text);
    // The list closed with chosen picked (nullptr: none); the text the edit
    // takes, which is then all selected and reported with Change. Nothing in
    // lmStandard or outside a lookup.
    std::optional<std::string> CloseUp(const TXComboBoxLookupItem* chosen);
    // Escape pressed; the text to go back to when the list was dropped down
    // in a lookup mode, else nothing.
    std::optional<std::string> Escape(bool droppedDown);
    // Fires OnChange.
    void Change();

    const TXComboBoxLookup& Lookup() const noexcept { return lookup_; }
    bool LookupLoaded() const noexcept { return lookupLoaded_; }
    bool InLookup() const noexcept { return inLookup_; }
    // The text typed last, and the text from before the lookup.
    const std::string& TypedText() const noexcept { return text_; }
    const std::string& SavedText() const noexcept { return savedText_; }
    int ItemIndex() const noexcept { return itemIndex_; }

    TOnInitDataLookup OnInitDataLookup;
    TOnGetLookupFilter OnGetLookupFilter;
    TComboNotifyEvent OnChange;

protected:
    // Called after LookupMode changed.
    virtual void DoLookupModeChanged() {}

private:
    std::optional<TLookupDropDown> DoLookup(const std::string& textBefore, const std::string& text, bool open);

    TXComboBoxLookup lookup_;
    bool lookupLoaded_ = false;
    std::string text_;
    std::string savedText_;
    bool busy_ = false;
    bool inLookup_ = false;
    int itemIndex_ = -1;
    TXComboBoxLookupMode lookupMode_ = lmStandard;
};

// The Qt view: a QComboBox; in a lookup mode it is editable and its list is
// the lookup's answer.
class TXComboBox : public QComboBox, public TXCustomComboBox {
    Q_OBJECT
public:
    explicit TXComboBox(QWidget* parent = nullptr);
    ~TXComboBox() override;

    void showPopup() override;
    void hidePopup() override;

    // The lookup item of list entry index, nullptr when it has none.
    const TXComboBoxLookupItem* LookupItemAt(int index) const;

protected:
    void DoLookupModeChanged() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectEdit();
    void Show(const TLookupDropDown& dropDown);
    void FinishCloseUp();
    void SetEditTextQuietly(const std::string& text);

    QString shown_;      // the edit's text now
    QString shownBefore_; // and before its last change
    int activated_ = -1;
    bool closing_ = false;
    bool escaped_ = false;
    bool filling_ = false;
};
