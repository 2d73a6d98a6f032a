// The pop-up list that the property grid opens for a value list.
//
// ShowPickList pops a borderless list up beside a screen rectangle (the
// value cell), lets the user pick with the keys or the mouse, and answers
// whether a choice was made and which. The list runs its own event loop
// while it is open (gui::RunPopup, which tests drive). Where it goes is
// worked out without a display by PickListBounds: below the anchor, or above
// it when fewer than 4 rows fit below, there are at least 4 items and more
// rows fit above; always at least one row, and shifted into the work area.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <QListWidget>
#include <QRect>
#include <QWidget>

// A list of texts, each with an object pointer that the list does not own.
class TPickItems {
public:
    int Add(std::string text, void* object = nullptr);
    void Clear() noexcept { items_.clear(); }
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    bool Empty() const noexcept { return items_.empty(); }
    // rtl::EListError "List index out of bounds (%d)" outside 0..Count() - 1.
    const std::string& Strings(int index) const;
    void* Objects(int index) const;
    void SetObject(int index, void* object);
    // The first item equal to text, ignoring the case of Latin and Cyrillic
    // letters; -1 when there is none.
    int IndexOf(std::string_view text) const;
    // The first item exactly equal to text; -1 when there is none.
    int IndexOfExact(std::string_view text) const;

private:
    struct Item {
        std::string text;
        void* object = nullptr;
    };
    std::vector<Item> items_;
};

// The size of the list's items: Width is the larger of the anchor's width
// and every text's width + 16, ItemHeight the larger of 10 and every text's
// height + 4.
struct TPickListSize {
    int Width = 0;
    int ItemHeight = 0;
};
TPickListSize PickListSize(int anchorWidth, const std::vector<int>& textWidths, const std::vector<int>& textHeights);

// Where the list goes for an anchor (screen coordinates) in a work area: the
// rectangle of the form, 2 pixels higher than its rows and frame need.
QRect PickListBounds(const QRect& anchor, const QRect& workArea, int itemCount, TPickListSize size);

// The list box: owner-drawn with a fixed item height; moving the mouse
// selects the item under it.
class TPickListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TPickListBox(QWidget* parent = nullptr);
    int ItemHeight() const noexcept { return itemHeight_; }
    void SetItemHeight(int height);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    int itemHeight_ = 20;
};

// The pop-up form: a raised edge with the list box 2 pixels inside it.
class TPickListForm : public QWidget {
    Q_OBJECT
public:
    // 0 while open, 1 chosen, 2 cancelled.
    enum { prNone = 0, prChosen = 1, prCancelled = 2 };

    explicit TPickListForm(QWidget* parent = nullptr);

    TPickListBox* List;

    int Result() const noexcept { return result_; }
    // Sets the result once and closes the form.
    void SetResult(int result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int result_ = prNone;
};

// Pops the list up beside screenRect with items, index preselected (none
// when it lies outside the list); true when the user chose, and then index
// is the chosen position (unchanged when no item was under the pointer).
bool ShowPickList(const QRect& screenRect, const TPickItems& items, int& index);

// ShowPickList starting at value's position in items (letter case ignored,
// none when absent); when the user chose an item, value becomes it.
bool PickString(const QRect& screenRect, std::string& value, const TPickItems& items);
