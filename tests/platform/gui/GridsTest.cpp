// The custom grid: the cell-selection question and its veto, the navigation
// keys, the mouse capture, scrolling by rows, and the in-place box that
// hands its text to the cell it edited. Also the pop-up loop and its seam.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

#include "platform/gui/Grids.h"
#include "platform/gui/Popups.h"

namespace {

// A grid of 10 rows of 20 pixels that logs what it is asked and told.
class LogGrid : public gui::CustomGrid {
public:
    LogGrid()
    {
        SetColCount(2);
        SetFixedCols(1);
        SetDefaultRowHeight(20);
        SetRowCount(10);
        SetColWidth(0, 50);
        SetColWidth(1, 150);
        resize(220, 100 + 2 * frameWidth());
        SetAlwaysShowEditor(true);
    }

    std::vector<std::string> log;
    int refuse = -1;  // SelectCell refuses this row
    int editable = 2; // rows r with r % editable == 0 show the box
    bool consumeF2 = true;

protected:
    bool SelectCell(int col, int row) override
    {
        log.push_back("select " + std::to_string(col) + "," + std::to_string(row) +
                      (HasMouseCapture() ? " mouse" : ""));
        return row != refuse;
    }
    bool CanEditShow() override { return Row() % editable == 0; }
    std::string GetEditText(int, int row) override { return "text " + std::to_string(row); }
    void SetEditText(int, int row, const std::string& text) override
    {
        log.push_back("set " + std::to_string(row) + " " + text);
    }
    bool EditorKeyPress(QKeyEvent& event) override
    {
        if (event.key() != Qt::Key_F2 || !consumeF2) return false;
        log.push_back("F2");
        return true;
    }
};

void Press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &event);
}

void Mouse(QWidget* target, QEvent::Type type, QPoint at)
{
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

class Grid : public ::testing::Test {
protected:
    void SetUp() override
    {
        grid = std::make_unique<LogGrid>();
        grid->show();
        grid->FocusCell(1, 0);
        grid->log.clear();
    }
    std::unique_ptr<LogGrid> grid;
};

TEST_F(Grid, KeysMoveTheCurrentCellThroughTheQuestion)
{
    struct Step {
        int key;
        Qt::KeyboardModifiers modifiers;
        int row;
    };
    const Step steps[] = {
        {Qt::Key_Down, Qt::NoModifier, 1},   {Qt::Key_Down, Qt::NoModifier, 2},
        {Qt::Key_Up, Qt::NoModifier, 1},     {Qt::Key_PageDown, Qt::NoModifier, 6},
        {Qt::Key_PageUp, Qt::NoModifier, 1}, {Qt::Key_End, Qt::ControlModifier, 9},
        {Qt::Key_Down, Qt::NoModifier, 9},   {Qt::Key_Home, Qt::ControlModifier, 0},
        {Qt::Key_Up, Qt::NoModifier, 0},
    };
    for (const Step& s : steps) {
        Press(grid.get(), s.key, s.modifiers);
        EXPECT_EQ(grid->Row(), s.row) << "key " << s.key;
        EXPECT_EQ(grid->Col(), 1);
    }
    EXPECT_EQ(grid->VisibleRowCount(), 5);
}

TEST_F(Grid, ARefusedCellKeepsTheCurrentOne)
{
    grid->refuse = 1;
    Press(grid.get(), Qt::Key_Down);
    EXPECT_EQ(grid->Row(), 0);
    EXPECT_EQ(grid->log, std::vector<std::string>{"select 1,1"});
    EXPECT_FALSE(grid->FocusCell(1, 1));
    EXPECT_TRUE(grid->FocusCell(1, 0)) << "the current cell is asked again too";
}

TEST_F(Grid, AClickAsksWithTheMouseCaptured)
{
    const QPoint row3 = grid->CellRect(1, 3).center();
    Mouse(grid->viewport(), QEvent::MouseButtonPress, row3);
    EXPECT_TRUE(grid->HasMouseCapture());
    Mouse(grid->viewport(), QEvent::MouseButtonRelease, row3);
    EXPECT_FALSE(grid->HasMouseCapture());
    EXPECT_EQ(grid->Row(), 3);
    ASSERT_FALSE(grid->log.empty());
    EXPECT_EQ(grid->log.front(), "select 1,3 mouse");
    grid->log.clear();
    const QPoint fixed = grid->CellRect(0, 2).center();
    Mouse(grid->viewport(), QEvent::MouseButtonPress, fixed);
    Mouse(grid->viewport(), QEvent::MouseButtonRelease, fixed);
    EXPECT_EQ(grid->Row(), 3) << "a fixed cell is not selected";
    EXPECT_TRUE(grid->log.empty());
}

TEST_F(Grid, ScrollsByRowsToShowTheCurrentRow)
{
    EXPECT_EQ(grid->TopRow(), 0);
    grid->FocusCell(1, 7);
    EXPECT_EQ(grid->TopRow(), 3) << "row 7 at the bottom";
    EXPECT_TRUE(grid->CellRect(1, 2).isEmpty()) << "scrolled away";
    EXPECT_EQ(grid->CellBounds(1, 2), QRect(50, -20, 150, 20)) << "bounds above the shown rows";
    EXPECT_EQ(grid->CellRect(1, 3), QRect(50, 0, 150, 20));
    grid->SetTopRow(99);
    EXPECT_EQ(grid->TopRow(), 5) << "at most the last page";
    grid->FocusCell(1, 1);
    EXPECT_EQ(grid->TopRow(), 1);
    int col = 0, row = 0;
    ASSERT_TRUE(grid->CellAt(QPoint(60, 45), col, row));
    EXPECT_EQ(col, 1);
    EXPECT_EQ(row, 3);
}

TEST_F(Grid, TheBoxHandsItsTextToTheCellItEdited)
{
    gui::InplaceEdit* box = grid->InplaceEditor();
    ASSERT_NE(box, nullptr) << "made for row 0";
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), QString("text 0"));
    EXPECT_EQ(box->geometry(), grid->CellRect(1, 0));
    box->setText("typed in 0");
    Press(box, Qt::Key_Down);
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_FALSE(box->isVisible()) << "row 1 shows no box";
    Press(grid.get(), Qt::Key_Down);
    EXPECT_EQ(grid->Row(), 2);
    EXPECT_EQ(box->text(), QString("text 2"));
    EXPECT_EQ(grid->log, (std::vector<std::string>{"select 1,1", "set 0 typed in 0", "select 1,2"}));
    EXPECT_EQ(grid->EditorRow(), 2);
}

TEST_F(Grid, KeysInTheBoxGoToTheGridFirst)
{
    gui::InplaceEdit* box = grid->InplaceEditor();
    ASSERT_NE(box, nullptr);
    Press(box, Qt::Key_F2);
    EXPECT_EQ(grid->log, std::vector<std::string>{"F2"});
    grid->log.clear();
    Press(box, Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_TRUE(grid->log.empty());
    EXPECT_EQ(box->text(), QString("text 0a")) << "other keys edit the text";
    EXPECT_EQ(grid->Row(), 0);
}

TEST_F(Grid, ForgettingTheCellDropsTheText)
{
    gui::InplaceEdit* box = grid->InplaceEditor();
    box->setText("not for anybody");
    grid->ForgetEditorCell();
    grid->FocusCell(1, 2);
    EXPECT_EQ(grid->log, std::vector<std::string>{"select 1,2"});
    EXPECT_EQ(box->text(), QString("text 2"));
}

TEST_F(Grid, RowCountKeepsOneRowAndTheCurrentRowInside)
{
    grid->FocusCell(1, 8);
    grid->SetRowCount(4);
    EXPECT_EQ(grid->Row(), 3);
    grid->SetRowCount(0);
    EXPECT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(grid->Row(), 0);
    EXPECT_EQ(grid->RowHeight(0), 20);
    grid->SetRowHeight(0, 33);
    EXPECT_EQ(grid->RowHeight(0), 33);
    EXPECT_EQ(grid->RowHeight(5), 0) << "no such row";
}

TEST_F(Grid, DestroyedWithTheBoxInUse)
{
    gui::InplaceEdit* box = grid->InplaceEditor();
    box->setFocus();
    box->setText("left behind");
    grid.reset();
}

// ---- pop-ups ---------------------------------------------------------------------------

TEST(Popups, ARunnerGetsThePopupInsteadOfTheLoop)
{
    QWidget popup(nullptr, Qt::Popup);
    QWidget* seen = nullptr;
    bool asked = false;
    {
        const gui::ScopedPopupRunner runner([&](QWidget& shown) { seen = &shown; });
        gui::RunPopup(popup, [&] {
            asked = true;
            return false;
        });
    }
    EXPECT_EQ(seen, &popup);
    EXPECT_FALSE(asked) << "the runner decides; the loop never ran";
}

TEST(Popups, TheLoopRunsUntilDoneOrHidden)
{
    const gui::ScopedPopupRunner real(nullptr);
    {
        QWidget popup(nullptr, Qt::Popup);
        bool done = false;
        QTimer::singleShot(10, [&] { done = true; });
        gui::RunPopup(popup, [&] { return done; });
        EXPECT_TRUE(done);
        EXPECT_TRUE(popup.isVisible());
    }
    {
        QWidget popup(nullptr, Qt::Popup);
        QTimer::singleShot(10, &popup, [&] { popup.hide(); });
        gui::RunPopup(popup, [] { return false; });
        EXPECT_FALSE(popup.isVisible());
    }
}

} // namespace
