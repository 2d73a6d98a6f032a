// The property grid without its display: the rows of visible groups and
// editors, navigation past title rows, the name column, what entering a row
// shows, validation, notifications, the keys and value lists, freed editors,
// the string editor, the button's states and where the pick list goes.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>

#include "CoreLib/controls/PickStringList.h"
#include "CoreLib/controls/PropGrids.h"
#include "CoreLib/controls/StdPropEditors.h"
#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/PropGridTestSupport.h"

namespace {

using propgridtest::Build;
using propgridtest::Describe;
using propgridtest::PickListAnswer;
using propgridtest::Recorder;
using propgridtest::TestEditor;

// A display-free grid that counts its display calls.
class Grid : public TCustomPropGrid {
public:
    int rebuilt = 0;
    int dropped = 0;
    std::vector<std::string> changes;

protected:
    void RowsRebuilt() override { ++rebuilt; }
    void RowsDropped() override { ++dropped; }
    void EditorRowChanged(int row, int code) override
    {
        changes.push_back(std::to_string(row) + ":" + std::to_string(code));
    }
};

// ---- rows --------------------------------------------------------------------------------

TEST(PropGridRows, VisibleGroupsAndEditorsInOrder)
{
    struct Case {
        const char* name;
        std::vector<std::string> outline;
        std::string rows;
    };
    const Case cases[] = {
        {"two groups",
         {"#Параметры", "Папка", "Пароль", "#Доп", "Таймаут"},
         "#Параметры | Папка | Пароль | #Доп | Таймаут"},
        {"hidden editor", {"#A", "a1", "-a2", "a3"}, "#A | a1 | a3"},
        {"group with no visible editor keeps its title", {"#A", "-a1", "#B", "b1"}, "#A | #B | b1"},
        {"empty group keeps its title", {"#A", "#B", "b1"}, "#A | #B | b1"},
        {"hidden group shows neither title nor editors", {"#-A", "a1", "#B", "b1"}, "#B | b1"},
        {"only hidden groups", {"#-A", "a1"}, ""},
        {"no groups", {}, ""},
    };
    for (const Case& c : cases) {
        const auto groups = Build(c.outline);
        Grid grid;
        grid.SetGroups(groups.get());
        EXPECT_EQ(Describe(grid), c.rows) << c.name;
        EXPECT_EQ(grid.rebuilt, 1) << c.name;
    }
}

TEST(PropGridRows, ChangesShowAfterTheNextRebuildOnly)
{
    std::vector<TestEditor*> editors;
    const auto groups = Build({"#A", "a1", "a2"}, &editors);
    Grid grid;
    grid.SetGroups(groups.get());
    editors[1]->SetVisible(false);
    EXPECT_EQ(Describe(grid), "#A | a1 | a2");
    grid.BeginUpdate();
    grid.BeginUpdate();
    grid.EndUpdate();
    EXPECT_EQ(Describe(grid), "#A | a1 | a2") << "nested: no rebuild yet";
    grid.EndUpdate();
    EXPECT_EQ(Describe(grid), "#A | a1");
    grid.EndUpdate();
    EXPECT_EQ(grid.UpdateCount(), 0) << "never below 0";
    EXPECT_EQ(grid.rebuilt, 3);
}

TEST(PropGridRows, TheGridListensOnlyToTheEditorsItShows)
{
    std::vector<TestEditor*> editors;
    const auto groups = Build({"#A", "a1", "-a2", "#-B", "b1"}, &editors);
    Grid grid;
    grid.SetGroups(groups.get());
    for (TestEditor* e : editors) e->SetStrValue(e->Value() + "!");
    EXPECT_EQ(grid.changes, std::vector<std::string>{"1:2"});
    grid.SetGroups(nullptr);
    editors[0]->SetStrValue("again");
    EXPECT_EQ(grid.changes.size(), 1u) << "stopped listening on rebuild";
}

// ---- navigation past title rows ---------------------------------------------------------

TEST(PropGridNavigation, RowPastATitle)
{
    struct Case {
        const char* name;
        std::vector<std::string> outline;
        int title, current, target;
    };
    const Case cases[] = {
        {"down onto a title: the editor below", {"#A", "a1", "#B", "b1"}, 2, 1, 3},
        {"up onto a title: the editor above", {"#A", "a1", "#B", "b1"}, 2, 3, 1},
        {"title at the top: the editor below", {"#A", "a1", "#B", "b1"}, 0, 1, 1},
        {"title at the top from itself", {"#A", "a1"}, 0, 0, 1},
        {"two titles at the top", {"#A", "#B", "b1"}, 0, 0, 2},
        {"up onto the second of two titles", {"#A", "#B", "b1"}, 1, 2, 2},
        {"down onto two titles in a row", {"#A", "a1", "#B", "#C", "c1"}, 2, 1, 4},
        {"last row a title, down: back up", {"#A", "a1", "#B"}, 2, 1, 1},
        {"last two rows titles, down", {"#A", "a1", "#B", "#C"}, 2, 1, 1},
        {"titles only", {"#A", "#B", "#C"}, 1, 0, -1},
        {"single title", {"#A"}, 0, 0, -1},
    };
    for (const Case& c : cases) {
        const auto groups = Build(c.outline);
        Grid grid;
        grid.SetGroups(groups.get());
        ASSERT_NE(grid.TitleAt(c.title), nullptr) << c.name;
        EXPECT_EQ(grid.RowPastTitle(c.title, c.current), c.target) << c.name;
    }
    Grid empty;
    EXPECT_EQ(empty.RowPastTitle(0, 0), -1) << "no groups at all";
    EXPECT_EQ(empty.EditorAt(0), nullptr);
    EXPECT_EQ(empty.TitleAt(0), nullptr);
}

// ---- layout ------------------------------------------------------------------------------

TEST(PropGridLayout, NameColumnFitsTheNamesAndNeverPassesHalfTheWidth)
{
    const QFont font = QApplication::font();
    const TQtPropTextMetrics metrics(font);
    const QFontMetrics qt(font);
    const auto groups = Build({"#A", "Имя", "Очень длинное имя параметра", "#B", "x"});
    Grid grid;
    grid.SetGroups(groups.get());
    const int widest = qt.horizontalAdvance(QString("Очень длинное имя параметра")) + 4;
    struct Case {
        const char* name;
        int width;
        int nameWidth;
    };
    const Case cases[] = {
        {"wide grid: the widest name + 4", 4 * widest, widest},
        {"narrow grid: half the width", widest, widest / 2},
        {"odd width halves down", (widest / 2) * 2 + 1, widest / 2},
        {"exactly twice", 2 * widest, widest},
    };
    for (const Case& c : cases) {
        const TPropColumns columns = grid.ColumnWidths(metrics, c.width);
        EXPECT_EQ(columns.NameWidth, c.nameWidth) << c.name;
        EXPECT_EQ(columns.ValueWidth, c.width - c.nameWidth) << c.name;
    }
    Grid empty;
    EXPECT_EQ(empty.ColumnWidths(metrics, 300).NameWidth, 0) << "no editors";
    EXPECT_EQ(empty.ColumnWidths(metrics, 300).ValueWidth, 300);
}

TEST(PropGridLayout, RowHeights)
{
    const QFont font = QApplication::font();
    const TQtPropTextMetrics metrics(font);
    const QFontMetrics qt(font);
    QFont bold = font;
    bold.setBold(true);
    const auto groups = Build({"#Группа", "Короткое", "Имя, которое переносится на несколько строк"});
    Grid grid;
    grid.SetGroups(groups.get());
    const TPropColumns columns{qt.horizontalAdvance("Короткое") + 4, 400};
    EXPECT_EQ(grid.RowHeightFor(0, metrics, columns), QFontMetrics(bold).height() + 4) << "title";
    EXPECT_EQ(grid.RowHeightFor(1, metrics, columns), qt.height() + 4) << "one line";
    const int wrapped = grid.RowHeightFor(2, metrics, columns);
    EXPECT_GE(wrapped, 3 * qt.height() + 4) << "the name wraps in its narrow column";
    EXPECT_EQ(grid.RowHeightFor(3, metrics, columns), -1) << "no such row";
}

// ---- entering a row -----------------------------------------------------------------------

TEST(PropGridEntry, WhatEachOptionShows)
{
    struct Case {
        std::uint8_t options;
        TPropButtonKind button;
        bool edit;
        int buttonWidth;
    };
    const Case cases[] = {
        {0, pbkNone, false, 0},      {1, pbkNone, true, 0},      {2, pbkArrow, false, 20}, {3, pbkArrow, true, 20},
        {4, pbkEllipsis, false, 20}, {5, pbkEllipsis, true, 20}, {6, pbkArrow, false, 20}, {7, pbkArrow, true, 20},
    };
    for (const Case& c : cases) {
        const auto groups = Build({"#A", "a/" + std::to_string(c.options)});
        Grid grid;
        grid.SetGroups(groups.get());
        static_cast<TestEditor*>(grid.EditorAt(1))->Status = "hint";
        const TPropRowEntry entry = grid.EntryFor(1);
        EXPECT_TRUE(entry.Editor) << int(c.options);
        EXPECT_EQ(entry.Button, c.button) << int(c.options);
        EXPECT_EQ(entry.ShowEdit, c.edit) << int(c.options);
        EXPECT_EQ(entry.ButtonWidth, c.buttonWidth) << int(c.options);
        EXPECT_EQ(entry.StatusText, "hint");
        EXPECT_EQ(grid.CanEditRow(1), c.edit);
        EXPECT_FALSE(grid.EntryFor(0).Editor) << "a title row is not entered";
    }
}

// ---- leaving a row: validation ---------------------------------------------------------------

TEST(PropGridValidation, WithAndWithoutAMessage)
{
    const auto groups = Build({"#A", "a", "b/0"});
    Grid grid;
    grid.SetGroups(groups.get());
    const std::string good = "fine", bad = "bad value", silent = "bad!";
    EXPECT_TRUE(grid.CanLeaveRow(1, &good, false));
    try {
        grid.CanLeaveRow(1, &bad, false);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Значение недопустимо") << "exactly the message";
    }
    EXPECT_FALSE(grid.CanLeaveRow(1, &bad, true)) << "under the mouse: refused silently";
    EXPECT_FALSE(grid.CanLeaveRow(1, &silent, false)) << "no message: refused silently";
    EXPECT_TRUE(grid.CanLeaveRow(1, nullptr, false)) << "no box";
    EXPECT_TRUE(grid.CanLeaveRow(2, &bad, false)) << "an editor without bit 0";
    EXPECT_TRUE(grid.CanLeaveRow(0, &bad, false)) << "a title row";
    grid.BeginUpdate();
    EXPECT_TRUE(grid.CanLeaveRow(1, &bad, false)) << "while updating";
    grid.EndUpdate();
}

// ---- notifications --------------------------------------------------------------------------

TEST(PropEditorNotifications, OnlyRealChangesAreSent)
{
    TStrPropEditor editor("e", "v");
    Recorder recorder(editor.Notifications());
    editor.SetOptions(poEditText);
    editor.SetValue("v");
    editor.SetStrValue("v");
    EXPECT_TRUE(recorder.codes.empty()) << "nothing changed";
    editor.SetOptions(poEditText | poValueList);
    editor.SetStrValue("program");
    editor.SetValue("user");
    editor.SetValue("user");
    EXPECT_EQ(recorder.codes, (std::vector<std::string>{"e:1", "e:2", "e:3"}));
    EXPECT_EQ(editor.Value(), "user");
}

TEST(PropEditorNotifications, TheGridPassesEveryNotificationToItsListeners)
{
    std::vector<TestEditor*> editors;
    const auto groups = Build({"#A", "a", "b"}, &editors);
    Grid grid;
    grid.SetGroups(groups.get());
    Recorder recorder(grid.Listeners());
    editors[0]->SetOptions(poDialog);
    editors[1]->SetValue("typed");
    editors[1]->SetStrValue("set");
    EXPECT_EQ(recorder.codes, (std::vector<std::string>{"a:1", "b:3", "b:2"}));
    EXPECT_EQ(grid.changes, (std::vector<std::string>{"1:1", "2:3", "2:2"}));
    grid.BeginUpdate();
    editors[1]->SetValue("while updating");
    grid.EndUpdate();
    EXPECT_EQ(recorder.codes.size(), 4u) << "passed on while updating";
    EXPECT_EQ(grid.changes.size(), 3u) << "but the rows do not react";
}

TEST(PropEditorNotifications, AssignCopiesNameOptionsAndValue)
{
    TStrPropEditor source("source", "value");
    source.SetOptions(poDialog);
    TStrPropEditor target("target", "old");
    Recorder recorder(target.Notifications());
    target.Assign(source);
    EXPECT_EQ(target.Name(), "source");
    EXPECT_EQ(target.Options(), poDialog);
    EXPECT_EQ(target.Value(), "value");
    EXPECT_EQ(recorder.codes, (std::vector<std::string>{"source:1", "source:2"}));

    TPropEditor plain("plain");
    try {
        target.Assign(plain);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::EInvalidCast& e) {
        EXPECT_EQ(e.Message(), "Invalid class typecast");
    }
    EXPECT_EQ(target.Name(), "source") << "nothing copied from the wrong class";
}

TEST(PropEditor, BaseOperations)
{
    TStrPropEditor editor("e", "2,5");
    EXPECT_EQ(editor.Options(), poEditText) << "a new editor edits text";
    EXPECT_TRUE(editor.Visible());
    EXPECT_DOUBLE_EQ(editor.GetAsFloat(), 2.5) << "either separator";
    editor.SetStrValue("1.25");
    EXPECT_DOUBLE_EQ(editor.GetAsFloat(), 1.25);
    EXPECT_EQ(editor.GetDisplayText(), "1.25");
    std::string msg = "x";
    EXPECT_TRUE(editor.CanEdit(msg));
    EXPECT_EQ(msg, "");
    TPickItems list;
    list.Add("a");
    list.Add("b");
    editor.SelectValue(list, 1);
    EXPECT_EQ(editor.Value(), "b") << "SelectValue is SetValue of the item";
    TPropEditor base("base");
    EXPECT_EQ(base.GetValue(), "");
    EXPECT_EQ(base.GetStatusText(), "");
    msg = "x";
    EXPECT_TRUE(base.Validate("anything", msg));
    EXPECT_EQ(msg, "");
}

// ---- keys and value lists --------------------------------------------------------------------

class PropGridKeys : public ::testing::Test {
protected:
    void Make(std::uint8_t options, std::vector<std::string> values, std::string value)
    {
        editors.clear();
        groups = Build({"#A", "e/" + std::to_string(options)}, &editors);
        editor = editors[0];
        editor->Values = std::move(values);
        editor->SetStrValue(std::move(value));
        grid.SetGroups(groups.get());
    }
    std::unique_ptr<TPropGroupList> groups;
    std::vector<TestEditor*> editors;
    TestEditor* editor = nullptr;
    Grid grid;
};

TEST_F(PropGridKeys, ArrowAndDialog_EnterOpensTheListCtrlEnterTheDialog)
{
    Make(poValueList | poDialog, {"один", "два", "три"}, "два");
    editor->ReportedIndex = 1;
    EXPECT_EQ(grid.EntryFor(1).Button, pbkArrow);
    PickListAnswer answer{{Qt::Key_Down, Qt::Key_Return}};
    {
        const auto runner = answer.Install();
        EXPECT_TRUE(grid.KeyPress(1, pkEnter));
    }
    EXPECT_EQ(answer.shownCount, 3);
    EXPECT_EQ(answer.preselected, 1);
    EXPECT_EQ(editor->Value(), "три");
    EXPECT_EQ(editor->EditCalls, 0);
    EXPECT_EQ(editor->ValuesDoneCalls, 1);
    EXPECT_TRUE(grid.KeyPress(1, pkCtrlEnter));
    EXPECT_EQ(editor->EditCalls, 1) << "Ctrl+Enter opens the dialog";
    EXPECT_EQ(editor->Value(), "from dialog");
}

TEST_F(PropGridKeys, CtrlEnterCyclesAndWraps)
{
    Make(poValueList, {"a", "b", "c"}, "b");
    const std::vector<std::pair<int, std::string>> steps = {{1, "c"}, {2, "a"}, {0, "b"}};
    for (const auto& [reported, expected] : steps) {
        editor->ReportedIndex = reported;
        EXPECT_TRUE(grid.KeyPress(1, pkCtrlEnter));
        EXPECT_EQ(editor->Value(), expected) << "from position " << reported;
    }
    editor->ReportedIndex = -2;
    EXPECT_TRUE(grid.KeyPress(1, pkCtrlEnter));
    EXPECT_EQ(editor->Value(), "b") << "an index left at 0 moves to the second value";
    EXPECT_EQ(editor->ValuesDoneCalls, 4);
}

TEST_F(PropGridKeys, CtrlEnterOnAnEmptyListDoesNothing)
{
    Make(poValueList, {}, "x");
    EXPECT_TRUE(grid.KeyPress(1, pkCtrlEnter));
    EXPECT_EQ(editor->Value(), "x");
    EXPECT_TRUE(editor->Selected.empty());
    PickListAnswer answer{{Qt::Key_Return}};
    const auto runner = answer.Install();
    EXPECT_TRUE(grid.KeyPress(1, pkEnter));
    EXPECT_EQ(answer.shownCount, -1) << "no pick list for an empty list";
    EXPECT_EQ(editor->ValuesDoneCalls, 2);
}

TEST_F(PropGridKeys, EnterOnOtherRows)
{
    Make(poDialog, {}, "x");
    EXPECT_TRUE(grid.KeyPress(1, pkEnter));
    EXPECT_EQ(editor->EditCalls, 1) << "ellipsis: the dialog";
    editor->SetOptions(poEditText);
    EXPECT_TRUE(grid.KeyPress(1, pkEnter)) << "consumed even without a button";
    EXPECT_TRUE(grid.KeyPress(1, pkCtrlEnter));
    EXPECT_EQ(editor->EditCalls, 1);
    EXPECT_FALSE(grid.KeyPress(0, pkEnter)) << "a title row does not take the key";
}

TEST_F(PropGridKeys, PickListStartsOnTheCurrentValueOnly)
{
    struct Case {
        const char* name;
        std::vector<std::string> values;
        std::string value;
        int reported;
        int preselected;
    };
    const Case cases[] = {
        {"the editor's position", {"a", "b", "c"}, "c", 2, 2},
        {"value found when the editor gives none", {"a", "b", "c"}, "b", -2, 1},
        {"found ignoring case", {"Alpha", "Beta"}, "beta", -2, 1},
        {"an exact match before one that differs in case", {"AB", "ab"}, "ab", -2, 1},
        {"a value not in the list: nothing", {"a", "b"}, "zzz", -2, -1},
        {"a position outside the list: nothing", {"a", "b"}, "zzz", 7, -1},
    };
    for (const Case& c : cases) {
        Make(poValueList, c.values, c.value);
        editor->ReportedIndex = c.reported;
        PickListAnswer answer{{Qt::Key_Escape}};
        const auto runner = answer.Install();
        grid.KeyPress(1, pkEnter);
        EXPECT_EQ(answer.preselected, c.preselected) << c.name;
        EXPECT_EQ(editor->Value(), c.value) << c.name << ": Esc changes nothing";
    }
}

TEST_F(PropGridKeys, TheChoiceIsTakenByPosition)
{
    Make(poValueList, {"Value", "value", "VALUE"}, "value");
    editor->ReportedIndex = 1;
    PickListAnswer answer{{Qt::Key_Down, Qt::Key_Space}};
    const auto runner = answer.Install();
    grid.KeyPress(1, pkEnter);
    EXPECT_EQ(editor->Selected, std::vector<int>{2});
    EXPECT_EQ(editor->Value(), "VALUE");
}

TEST_F(PropGridKeys, ValuesDoneRunsWhenGettingTheValuesFails)
{
    Make(poValueList, {"a"}, "a");
    editor->FailGetValues = true;
    EXPECT_THROW(grid.KeyPress(1, pkEnter), rtl::Exception);
    EXPECT_THROW(grid.KeyPress(1, pkCtrlEnter), rtl::Exception);
    EXPECT_EQ(editor->ValuesDoneCalls, 2);
}

// ---- freed editors and groups -----------------------------------------------------------------

TEST(PropGridFreeing, AFreedEditorLeavesItsGroupAndTheGrid)
{
    std::vector<TestEditor*> editors;
    const auto groups = Build({"#A", "a1", "a2", "#B", "b1"}, &editors);
    Grid grid;
    grid.SetGroups(groups.get());
    delete editors[1];
    EXPECT_EQ(Describe(grid), "#A | a1 | #B | b1");
    EXPECT_EQ(grid.dropped, 1);
    EXPECT_EQ(groups->GetItem(0)->Count(), 1);
    grid.Rebuild();
    EXPECT_EQ(Describe(grid), "#A | a1 | #B | b1") << "the group no longer holds it";
}

TEST(PropGridFreeing, AFreedGroupTakesItsRows)
{
    std::vector<TestEditor*> editors;
    const auto groups = Build({"#A", "a1", "#B", "b1", "b2", "#C", "c1"}, &editors);
    Grid grid;
    grid.SetGroups(groups.get());
    groups->Delete(1);
    EXPECT_EQ(Describe(grid), "#A | a1 | #C | c1");
    EXPECT_EQ(groups->Count(), 2);
    groups.get()->GetItem(0)->Clear();
    EXPECT_EQ(Describe(grid), "#A | #C | c1");
}

TEST(PropGridFreeing, AFreedGroupListIsForgotten)
{
    auto groups = Build({"#A", "a1"});
    Grid grid;
    grid.SetGroups(groups.get());
    groups.reset();
    EXPECT_EQ(grid.Groups(), nullptr);
    EXPECT_EQ(Describe(grid), "");
    grid.Rebuild();
    EXPECT_EQ(Describe(grid), "");
}

TEST(PropGridFreeing, GroupsThatDoNotOwnTheirEditors)
{
    TStrPropEditor shared("shared");
    {
        TPropGroup group("G", false);
        group.Add(&shared);
        EXPECT_EQ(group.Extract(0), &shared);
        group.Add(&shared);
    }
    EXPECT_EQ(shared.Notifications().Clients().size(), 0u) << "the group let go of the editor";
    auto* owned = new TStrPropEditor("owned");
    TPropGroup owner("O");
    owner.Add(owned);
    TPropGroup viewer("V", false);
    viewer.Add(owned);
    owner.Delete(0);
    EXPECT_EQ(viewer.Count(), 0) << "the freed editor left the other group";
    EXPECT_THROW(viewer.GetItem(0), rtl::EListError);
}

// ---- the button ----------------------------------------------------------------------------

TEST(PropButtonState, AClickRunsOnceUntilTheTimerSaysTheMouseIsBack)
{
    TPropButtonState b;
    b.MouseMove(true);
    EXPECT_EQ(b.State(), TPropButtonState::bsHot);
    EXPECT_TRUE(b.TimerOn());
    b.MouseDown();
    EXPECT_EQ(b.State(), TPropButtonState::bsPressed);
    b.MouseMove(false);
    EXPECT_EQ(b.State(), TPropButtonState::bsHot) << "captured, outside";
    b.MouseMove(true);
    EXPECT_EQ(b.State(), TPropButtonState::bsPressed);
    EXPECT_TRUE(b.MouseUp(true)) << "the click runs";
    EXPECT_TRUE(b.InClick());
    EXPECT_FALSE(b.TimerOn()) << "no tick while the click runs";
    // A second press and release inside the click's own loop does nothing.
    b.MouseDown();
    EXPECT_FALSE(b.MouseUp(true));
    b.ClickDone();
    EXPECT_EQ(b.State(), TPropButtonState::bsHot);
    b.TimerTick(true);
    EXPECT_FALSE(b.InClick());
    EXPECT_EQ(b.State(), TPropButtonState::bsHot) << "still inside";
    b.TimerTick(false);
    EXPECT_EQ(b.State(), TPropButtonState::bsNormal);
    EXPECT_FALSE(b.TimerOn());
    b.MouseDown();
    EXPECT_FALSE(b.MouseUp(false)) << "released outside: no click";
}

// ---- where the pick list goes -----------------------------------------------------------------

TEST(PickListPlacement, BelowOrAboveTheAnchor)
{
    const QRect workArea(0, 0, 1024, 768);
    const TPickListSize size{120, 20};
    struct Case {
        const char* name;
        QRect anchor;
        int items;
        QRect expected;
    };
    const Case cases[] = {
        {"room below", QRect(300, 100, 100, 16), 5, QRect(280, 116, 120, 5 * 20 + 4 + 2)},
        {"near the bottom, 10 items: above", QRect(300, 700, 100, 16), 10, QRect(280, 700 - 204, 120, 206)},
        {"near the bottom, 3 items: below, the rows that fit", QRect(300, 700, 100, 16), 3,
         QRect(280, 716, 120, 2 * 20 + 4 + 2)},
        {"right edge: shifted left", QRect(980, 100, 60, 16), 2, QRect(1024 - 120, 116, 120, 46)},
        {"left edge: shifted right", QRect(0, 100, 60, 16), 2, QRect(0, 116, 120, 46)},
        {"below the work area: one row, shifted in", QRect(300, 900, 100, 16), 2, QRect(280, 768 - 24, 120, 26)},
    };
    for (const Case& c : cases) EXPECT_EQ(PickListBounds(c.anchor, workArea, c.items, size), c.expected) << c.name;
}

TEST(PickListPlacement, AboveOnlyWhenMoreRowsFitThere)
{
    const QRect workArea(0, 0, 800, 100);
    const TPickListSize size{100, 20};
    // 2 rows fit below, 1 above: it stays below although fewer than 4 fit.
    const QRect r = PickListBounds(QRect(100, 30, 100, 20), workArea, 10, size);
    EXPECT_EQ(r.top(), 50);
    EXPECT_EQ(r.height(), 2 * 20 + 4 + 2);
    // No room on either side: one row below, pushed into the work area.
    const QRect tiny = PickListBounds(QRect(100, 0, 100, 20), QRect(0, 0, 800, 30), 10, size);
    EXPECT_EQ(tiny.height(), 1 * 20 + 4 + 2);
    EXPECT_EQ(tiny.top(), 30 - 24);
}

TEST(PickListPlacement, ItemSize)
{
    EXPECT_EQ(PickListSize(50, {10, 80}, {12, 15}).Width, 96) << "widest text + 16";
    EXPECT_EQ(PickListSize(200, {10, 80}, {12, 15}).Width, 200) << "the anchor's width";
    EXPECT_EQ(PickListSize(50, {10}, {15}).ItemHeight, 19) << "text height + 4";
    EXPECT_EQ(PickListSize(50, {10}, {3}).ItemHeight, 10) << "at least 10";
    EXPECT_EQ(PickListSize(50, {}, {}).ItemHeight, 10);
}

TEST(PickString, ChoosesByKeysAndKeepsTheValueOnEsc)
{
    TPickItems items;
    for (const char* s : {"Paradox", "MSSQL", "ORACLE"}) items.Add(s);
    std::string value = "mssql";
    {
        PickListAnswer answer{{Qt::Key_Escape}};
        const auto runner = answer.Install();
        EXPECT_FALSE(PickString(QRect(100, 100, 150, 16), value, items));
        EXPECT_EQ(answer.preselected, 1) << "found ignoring case";
        EXPECT_GE(answer.geometry.width(), 150) << "at least as wide as the anchor";
    }
    EXPECT_EQ(value, "mssql");
    {
        PickListAnswer answer{{Qt::Key_Down, Qt::Key_Return}};
        const auto runner = answer.Install();
        EXPECT_TRUE(PickString(QRect(100, 100, 150, 16), value, items));
    }
    EXPECT_EQ(value, "ORACLE");
    {
        PickListAnswer answer;
        answer.whileOpen = [](QWidget& popup) {
            auto& form = static_cast<TPickListForm&>(popup);
            QKeyEvent altDown(QEvent::KeyPress, Qt::Key_Down, Qt::AltModifier);
            form.List->setCurrentRow(0);
            QApplication::sendEvent(form.List, &altDown);
        };
        const auto runner = answer.Install();
        EXPECT_TRUE(PickString(QRect(100, 100, 150, 16), value, items)) << "Alt+Down chooses";
    }
    EXPECT_EQ(value, "Paradox");
}

TEST(PickString, NothingChosenWhenTheListCloses)
{
    TPickItems items;
    items.Add("a");
    int index = 0;
    PickListAnswer answer;
    answer.whileOpen = [](QWidget& popup) { popup.hide(); };
    const auto runner = answer.Install();
    EXPECT_FALSE(ShowPickList(QRect(0, 0, 50, 16), items, index));
    EXPECT_EQ(index, 0);
}

} // namespace
