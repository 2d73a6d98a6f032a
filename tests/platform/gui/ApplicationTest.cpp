// The application: its title, the main window, the progress pump, the wait
// cursor and the shift state of input events.
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/gui/Application.h"
#include "platform/gui/Input.h"
#include "platform/gui/Progress.h"
#include "tests/platform/gui/GuiTestSupport.h"

namespace {

TEST(Application, TheTitleDefaultsToTheProgramName)
{
    EXPECT_EQ(gui::DefaultApplicationTitle(), "gui_tests");
    const guitest::TitleScope title("Изменение идентификаторов БД Велмо");
    EXPECT_EQ(gui::ApplicationTitle(), "Изменение идентификаторов БД Велмо");
}

TEST(Application, TheMainFormIsForgottenWhenItIsDestroyed)
{
    auto form = std::make_unique<QWidget>();
    gui::SetMainForm(form.get());
    EXPECT_EQ(gui::MainForm(), form.get());
    form.reset();
    EXPECT_EQ(gui::MainForm(), nullptr);
}

TEST(Application, DialogsAreCentredOnTheMainForm)
{
    QWidget main;
    main.setGeometry(100, 100, 600, 400);
    main.show();
    gui::SetMainForm(&main);
    QWidget dialog;
    dialog.resize(200, 100);
    gui::CenterOnMainForm(dialog);
    EXPECT_EQ(dialog.frameGeometry().center(), main.frameGeometry().center());
    gui::SetMainForm(nullptr);
}

TEST(Progress, ProcessMessagesDeliversWhatIsPending)
{
    bool delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    gui::ProcessMessages();
    EXPECT_TRUE(delivered);
}

TEST(Progress, TheWaitCursorIsShownWhileTheScopeLives)
{
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    {
        const gui::ScopedCursor wait;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(Input, ShiftStateCombinesKeysAndButtons)
{
    struct Case {
        const char* name;
        Qt::KeyboardModifiers keys;
        Qt::MouseButtons buttons;
        gui::TShiftState state;
    };
    const Case cases[] = {
        {"nothing", Qt::NoModifier, Qt::NoButton, 0},
        {"shift", Qt::ShiftModifier, Qt::NoButton, gui::ssShift},
        {"ctrl and alt", Qt::ControlModifier | Qt::AltModifier, Qt::NoButton, gui::ssCtrl | gui::ssAlt},
        {"left button with shift", Qt::ShiftModifier, Qt::LeftButton, gui::ssShift | gui::ssLeft},
        {"right and middle buttons", Qt::NoModifier, Qt::RightButton | Qt::MiddleButton, gui::ssRight | gui::ssMiddle},
    };
    for (const Case& c : cases) EXPECT_EQ(gui::ShiftStateOf(c.keys, c.buttons), c.state) << c.name;
    EXPECT_EQ(gui::MouseButtonOf(Qt::LeftButton), gui::mbLeft);
    EXPECT_EQ(gui::MouseButtonOf(Qt::RightButton), gui::mbRight);
    EXPECT_EQ(gui::MouseButtonOf(Qt::MiddleButton), gui::mbMiddle);
}

} // namespace
