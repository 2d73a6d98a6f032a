// The handler guard: how an exception leaving a handler is shown, and that
// none ever gets through Qt's event loop.
#include <stdexcept>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include "platform/gui/Application.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/gui/GuiTestSupport.h"

namespace {

using guitest::TitleScope;

TEST(ExceptionBoxText, AppendsDotOnlyAfterCharactersAboveTheDot)
{
    struct Case {
        const char* name;
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"letter gets a dot", "Объект не найден", "Объект не найден."},
        {"latin letter gets a dot", "Driver not found", "Driver not found."},
        {"dot itself is not doubled", "Готово.", "Готово."},
        {"question mark is above the dot", "Почему?", "Почему?."},
        {"digit is above the dot", "line 431", "line 431."},
        {"slash is just above the dot", "a/", "a/."},
        {"closing parenthesis is below the dot", "(стр. 1, поз. 2)", "(стр. 1, поз. 2)"},
        {"exclamation mark is below the dot", "!!!!", "!!!!"},
        {"hyphen is just below the dot", "a-", "a-"},
        {"trailing blank is below the dot", "text ", "text "},
        {"quote is below the dot", "файл \"a.txt\"", "файл \"a.txt\""},
        {"empty message stays empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(gui::ExceptionBoxText(c.message), c.shown) << c.name;
}

TEST(Guard, ShowsEveryKindOfExceptionInTheErrorBoxAndGoesOn)
{
    const TitleScope title("Изменение идентификаторов БД Велмо");
    struct Case {
        const char* name;
        std::function<void()> handler;
        const char* shown;
    };
    const Case cases[] = {
        {"system exception", [] { throw rtl::Exception("Объект не найден"); }, "Объект не найден."},
        {"derived system exception", [] { throw rtl::EConvertError("'x' is not a valid integer value"); },
         "'x' is not a valid integer value."},
        {"assertion", [] { RTL_ASSERT(false, "Invalid params"); }, nullptr},
        {"standard exception", [] { throw std::runtime_error("boom"); }, "boom."},
        {"anything else", [] { throw 42; }, "Unknown exception."},
    };
    for (const Case& c : cases) {
        guitest::BoxRecorder boxes;
        bool after = false;
        gui::Guard(c.handler);
        after = true;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error) << c.name;
        EXPECT_EQ(boxes.boxes[0].caption, "Изменение идентификаторов БД Велмо") << c.name;
        if (c.shown)
            EXPECT_EQ(boxes.boxes[0].text, c.shown) << c.name;
        else
            EXPECT_EQ(boxes.boxes[0].text.rfind("Invalid params (HandlerGuardTest.cpp, line ", 0), 0u) << c.name;
        EXPECT_TRUE(after) << c.name;
    }
}

TEST(Guard, ShowsNothingWhenTheHandlerSucceeds)
{
    guitest::BoxRecorder boxes;
    int runs = 0;
    gui::Guard([&] { ++runs; });
    EXPECT_EQ(gui::GuardOr(-1, [] { return 7; }), 7);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(Guard, GuardOrGivesTheFallbackAfterShowing)
{
    guitest::BoxRecorder boxes;
    EXPECT_EQ(gui::GuardOr(-1, []() -> int { throw rtl::Exception("нет"); }), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "нет.");
}

TEST(Guard, ExceptionInAButtonHandlerReachesTheErrorBox)
{
    const TitleScope title("Заголовок");
    guitest::BoxRecorder boxes;
    QPushButton button("Изменить");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, gui::Guarded([&] {
        ++clicks;
        throw rtl::Exception("Ошибка в обработчике");
    }));
    button.click();
    button.click();
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].kind, gui::BoxKind::Error);
    EXPECT_EQ(boxes.boxes[1].caption, "Заголовок");
    EXPECT_EQ(boxes.boxes[1].text, "Ошибка в обработчике.");
}

TEST(Guard, GuardedPassesTheSignalArguments)
{
    guitest::BoxRecorder boxes;
    QPushButton button;
    button.setCheckable(true);
    std::vector<bool> seen;
    QObject::connect(&button, &QPushButton::toggled, gui::Guarded([&](bool on) { seen.push_back(on); }));
    button.click();
    button.click();
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_TRUE(boxes.boxes.empty());
}

// An object whose event handler lets an exception out, as a forgotten guard would.
class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw rtl::Exception("Необработанная ошибка");
        return QObject::event(e);
    }
};

TEST(Application, CatchesWhatAnUnguardedEventHandlerLetsOut)
{
    const TitleScope title("Программа");
    guitest::BoxRecorder boxes;
    ThrowingObject target;
    QEvent sent(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &sent));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const gui::BoxRequest& box : boxes.boxes) {
        EXPECT_EQ(box.kind, gui::BoxKind::Error);
        EXPECT_EQ(box.caption, "Программа");
        EXPECT_EQ(box.text, "Необработанная ошибка.");
    }
}

TEST(Application, TheLoopGoesOnAfterATimerHandlerRaised)
{
    guitest::BoxRecorder boxes;
    bool later = false;
    QTimer::singleShot(0, [] { throw rtl::Exception("сбой таймера"); });
    QTimer::singleShot(0, [&] { later = true; });
    EXPECT_TRUE(guitest::WaitUntil([&] { return later && boxes.boxes.size() == 1; }));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "сбой таймера.");
}

} // namespace
