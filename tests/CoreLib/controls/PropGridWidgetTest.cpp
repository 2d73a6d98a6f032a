// The property grid as a real widget on the offscreen platform: the first
// editor selected, typing a value in place, moving past title rows, a click
// on a title, the pick list by keys, validation messages, the ellipsis
// button, the name column, an editor freed while shown, and screenshots.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include "CoreLib/controls/PropGrids.h"
#include "tests/CoreLib/controls/PropGridTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"

namespace {

using propgridtest::Build;
using propgridtest::PickListAnswer;
using propgridtest::Recorder;
using propgridtest::TestEditor;

// Rows: 0 #Параметры, 1 Папка (text + dialog), 2 Пароль (text),
// 3 Драйвер (text + list), 4 #Доп. Параметры, 5 Таймаут (text).
const std::vector<std::string> kOutline = {"#Параметры", "Папка/5",         "Пароль/1",
                                           "Драйвер/3",  "#Доп. Параметры", "Таймаут/1"};

class PropGridWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        groups = Build(kOutline, &editors);
        editors[2]->Values = {"Paradox", "MSSQL cервер", "ORACLE cервер "};
        editors[2]->SetStrValue("Paradox");
        editors[0]->Status = "Выбирите папку в которой находится база данных";
        grid = std::make_unique<TPropGrid>();
        grid->resize(360, 200);
        grid->OnSetStatusText = [this](TCustomPropGrid&, const std::string& text) { statuses.push_back(text); };
        grid->SetGroups(groups.get());
        grid->show();
        ASSERT_TRUE(guitest::WaitUntil([&] { return grid->Row() == 1; })) << "the first editor is selected";
    }
    void TearDown() override
    {
        grid.reset();
        groups.reset();
    }

    TPropInplaceEdit* Box() const { return grid->InplaceBox(); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = Box() && Box()->isVisible() ? static_cast<QWidget*>(Box()) : grid.get();
        widgettest::Key(target, QEvent::KeyPress, key, {}, false, modifiers);
    }
    void TypeText(const QString& text)
    {
        for (const QChar ch : text) widgettest::Key(Box(), QEvent::KeyPress, 0, QString(ch));
    }
    // Moves with the arrow key and waits for a move past a title to land.
    void Arrow(int key, int expectedRow)
    {
        Key(key);
        EXPECT_TRUE(guitest::WaitUntil([&] { return grid->Row() == expectedRow; }))
            << "row " << grid->Row() << ", expected " << expectedRow;
    }
    QPoint CellCenter(int col, int row) const { return grid->CellRect(col, row).center(); }

    std::unique_ptr<TPropGroupList> groups;
    std::vector<TestEditor*> editors;
    std::unique_ptr<TPropGrid> grid;
    std::vector<std::string> statuses;
};

TEST_F(PropGridWidget, StartsOnTheFirstEditorWithItsControls)
{
    ASSERT_NE(Box(), nullptr);
    EXPECT_TRUE(Box()->isVisible());
    EXPECT_EQ(Box()->text(), QString("value of Папка"));
    EXPECT_TRUE(grid->Button->isVisible());
    EXPECT_TRUE(grid->Button->Ellipsis());
    EXPECT_EQ(grid->Button->width(), 20);
    const QRect cell = grid->CellRect(1, 1);
    EXPECT_EQ(grid->Button->geometry(), QRect(cell.right() + 1 - 20, cell.top(), 20, cell.height() - 1));
    EXPECT_EQ(Box()->geometry(), QRect(cell.left(), cell.top(), cell.width() - 21, cell.height() - 1))
        << "narrower by the button + 1, lower by 1";
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), "Выбирите папку в которой находится база данных");
    EXPECT_EQ(grid->RowCount(), 6);
    EXPECT_EQ(grid->ColCount(), 2);
    EXPECT_EQ(grid->FixedCols(), 1);
}

TEST_F(PropGridWidget, TypesAValueInPlace)
{
    Arrow(Qt::Key_Down, 2);
    EXPECT_EQ(Box()->text(), QString("value of Пароль"));
    EXPECT_FALSE(grid->Button->isVisible()) << "no button for a text-only editor";
    EXPECT_EQ(Box()->geometry().width(), grid->CellRect(1, 2).width() - 1) << "ButtonWidth 0";
    Recorder recorder(grid->Listeners());
    Box()->selectAll();
    TypeText("секрет");
    EXPECT_EQ(editors[1]->Value(), "value of Пароль") << "not stored while typing";
    Arrow(Qt::Key_Down, 3);
    EXPECT_EQ(editors[1]->Value(), "секрет");
    EXPECT_EQ(recorder.codes, std::vector<std::string>{"Пароль:3"});
    EXPECT_EQ(Box()->text(), QString("Paradox"));
    // Leaving without a change sends nothing.
    Arrow(Qt::Key_Up, 2);
    EXPECT_EQ(recorder.codes.size(), 1u);
}

TEST_F(PropGridWidget, ArrowKeysMovePastTitleRows)
{
    Arrow(Qt::Key_Down, 2);
    Arrow(Qt::Key_Down, 3);
    Arrow(Qt::Key_Down, 5);
    EXPECT_EQ(Box()->text(), QString("value of Таймаут"));
    EXPECT_TRUE(Box()->isVisible());
    Arrow(Qt::Key_Up, 3);
    Arrow(Qt::Key_Up, 2);
    Arrow(Qt::Key_Up, 1);
    Arrow(Qt::Key_Up, 1);
    EXPECT_EQ(grid->TopRow(), 0) << "the title at the top is scrolled into view";
    Arrow(Qt::Key_PageDown, 5);
    EXPECT_TRUE(Box()->isVisible());
}

TEST_F(PropGridWidget, AClickOnATitleChangesNothing)
{
    widgettest::Click(grid->viewport(), CellCenter(1, 4));
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_TRUE(Box()->isVisible());
    EXPECT_TRUE(grid->Button->isVisible());
    widgettest::Click(grid->viewport(), CellCenter(1, 3));
    EXPECT_EQ(grid->Row(), 3);
    widgettest::Click(grid->viewport(), CellCenter(0, 2));
    EXPECT_EQ(grid->Row(), 3) << "the name column is fixed";
}

TEST_F(PropGridWidget, PicksFromTheListByKeys)
{
    widgettest::Click(grid->viewport(), CellCenter(1, 3));
    ASSERT_EQ(grid->Row(), 3);
    EXPECT_FALSE(grid->Button->Ellipsis()) << "the arrow";
    PickListAnswer answer{{Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}};
    {
        const auto runner = answer.Install();
        Key(Qt::Key_Return);
    }
    EXPECT_EQ(answer.shownCount, 3);
    EXPECT_EQ(answer.preselected, 0) << "the editor reports no position: its value is looked up";
    EXPECT_EQ(editors[2]->Value(), "ORACLE cервер ");
    EXPECT_EQ(Box()->text(), QString("ORACLE cервер ")) << "the program's setter reloads the box";
    // The list opens below the value cell, right-aligned with it.
    const QRect anchor(grid->viewport()->mapToGlobal(grid->CellRect(1, 3).topLeft()), grid->CellRect(1, 3).size());
    EXPECT_EQ(answer.geometry.right(), anchor.right());
    EXPECT_EQ(answer.geometry.top(), anchor.bottom() + 1);
    EXPECT_GE(answer.geometry.width(), anchor.width());

    PickListAnswer cancel{{Qt::Key_Up, Qt::Key_Escape}};
    {
        const auto runner = cancel.Install();
        Key(Qt::Key_Return);
    }
    EXPECT_EQ(cancel.preselected, 2);
    EXPECT_EQ(editors[2]->Value(), "ORACLE cервер ") << "Esc leaves the value";

    Key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(editors[2]->Value(), "MSSQL cервер") << "Ctrl+Enter from an index left at 0";
    EXPECT_EQ(Box()->text(), QString("MSSQL cервер"));
}

TEST_F(PropGridWidget, ValidationKeepsTheRow)
{
    Arrow(Qt::Key_Down, 2);
    Box()->setText("bad value");
    {
        guitest::BoxRecorder boxes;
        Key(Qt::Key_Down);
        QCoreApplication::processEvents();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
        EXPECT_EQ(boxes.boxes[0].text, "Значение недопустимо.");
    }
    EXPECT_EQ(grid->Row(), 2);
    EXPECT_EQ(Box()->text(), QString("bad value")) << "the text stays";
    EXPECT_EQ(editors[1]->Value(), "value of Пароль");
    Box()->setText("bad!");
    {
        guitest::BoxRecorder boxes;
        Key(Qt::Key_Up);
        QCoreApplication::processEvents();
        EXPECT_TRUE(boxes.boxes.empty()) << "no message: refused silently";
    }
    EXPECT_EQ(grid->Row(), 2);
    {
        guitest::BoxRecorder boxes;
        Box()->setText("bad value");
        widgettest::Click(grid->viewport(), CellCenter(1, 5));
        EXPECT_TRUE(boxes.boxes.empty()) << "under the mouse: refused silently";
    }
    EXPECT_EQ(grid->Row(), 2);
    Box()->setText("good");
    Arrow(Qt::Key_Down, 3);
    EXPECT_EQ(editors[1]->Value(), "good");
}

TEST_F(PropGridWidget, TheEllipsisButtonOpensTheDialog)
{
    ASSERT_EQ(grid->Row(), 1);
    const QPoint center = grid->Button->rect().center();
    widgettest::Mouse(grid->Button, QEvent::MouseButtonPress, center);
    EXPECT_EQ(grid->Button->State(), TPropButtonState::bsPressed);
    widgettest::Mouse(grid->Button, QEvent::MouseButtonRelease, center);
    EXPECT_EQ(editors[0]->EditCalls, 1);
    EXPECT_EQ(editors[0]->Value(), "from dialog");
    EXPECT_EQ(Box()->text(), QString("from dialog"));
    EXPECT_EQ(grid->Button->State(), TPropButtonState::bsHot);
    EXPECT_TRUE(grid->Button->Timer->Enabled());
    // A second click before the timer saw the mouse again does nothing.
    widgettest::Mouse(grid->Button, QEvent::MouseButtonPress, center);
    widgettest::Mouse(grid->Button, QEvent::MouseButtonRelease, center);
    EXPECT_EQ(editors[0]->EditCalls, 1);
    grid->Button->Tick(true);
    widgettest::Click(grid->Button, center);
    EXPECT_EQ(editors[0]->EditCalls, 2);
}

TEST_F(PropGridWidget, NameColumnIsAtMostHalfTheWidth)
{
    editors[0]->SetName("Очень длинное название параметра, которое не помещается");
    grid->SetGroups(groups.get());
    grid->resize(200, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->ColWidth(0), grid->ClientWidth() / 2);
    EXPECT_EQ(grid->ColWidth(1), grid->ClientWidth() - grid->ClientWidth() / 2);
    EXPECT_GT(grid->RowHeight(1), grid->RowHeight(2)) << "the long name wraps";
    grid->resize(1200, 300);
    QCoreApplication::processEvents();
    EXPECT_LT(grid->ColWidth(0), grid->ClientWidth() / 2);
}

TEST_F(PropGridWidget, AnEditorFreedWhileShownLeavesTheGrid)
{
    Arrow(Qt::Key_Down, 2);
    Box()->setText("typed, then the editor goes");
    delete editors[1];
    EXPECT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(grid->RowsCount(), 5);
    EXPECT_EQ(grid->EditorAt(2), editors[2]);
    EXPECT_EQ(Box()->text(), QString("Paradox")) << "the box shows the editor now in the row";
    Arrow(Qt::Key_Down, 4);
    EXPECT_EQ(editors[2]->Value(), "Paradox") << "the freed editor's text went nowhere";
    groups.reset();
    EXPECT_EQ(grid->Groups(), nullptr);
    EXPECT_EQ(grid->RowsCount(), 0);
    EXPECT_FALSE(grid->Button->isVisible());
    EXPECT_FALSE(Box()->isVisible());
    Key(Qt::Key_Up);
    grid->repaint();
}

// Renders a widget and, when given, the pick list over it where it lies on
// the screen; saves the picture in the build folder.
QImage SaveShot(QWidget& grid, QWidget* popup, const char* name)
{
    const QPoint origin = grid.mapToGlobal(QPoint(0, 0));
    QRect area(origin, grid.size());
    if (popup) area = area.united(popup->geometry());
    QImage image(area.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    grid.render(&p, origin - area.topLeft());
    if (popup) popup->render(&p, popup->geometry().topLeft() - area.topLeft());
    p.end();
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return image;
}

std::size_t Colours(const QImage& image)
{
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    return colours.size();
}

TEST_F(PropGridWidget, Screenshots)
{
    editors[1]->SetStrValue("secret");
    widgettest::Click(grid->viewport(), CellCenter(1, 3));
    ASSERT_EQ(grid->Row(), 3);
    const QImage plain = SaveShot(*grid, nullptr, "PropGrid.png");
    EXPECT_GT(Colours(plain), 4u);

    QImage withList;
    PickListAnswer answer{{Qt::Key_Escape}};
    answer.whileOpen = [&](QWidget& popup) {
        auto& form = static_cast<TPickListForm&>(popup);
        form.List->setCurrentRow(1);
        withList = SaveShot(*grid, &popup, "PropGrid-picklist.png");
    };
    {
        const auto runner = answer.Install();
        Key(Qt::Key_Return);
    }
    ASSERT_FALSE(withList.isNull());
    EXPECT_GE(withList.width(), plain.width());
    EXPECT_GT(Colours(withList), Colours(plain)) << "the list adds its own colours";
}

} // namespace
