// Message boxes: what each kind asks of the seam, and the real box it would
// show without an answerer.
#include <gtest/gtest.h>

#include <string>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QMessageBox>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "platform/gui/MessageBoxes.h"
#include "tests/platform/gui/GuiTestSupport.h"

namespace {

TEST(MessageBoxes, QuestionsAskTheSeamWithTheWarningCaption)
{
    struct Case {
        const char* name;
        gui::BoxButton answer;
        bool yes;
    };
    const Case cases[] = {
        {"Yes answers true", gui::BoxButton::Yes, true},
        {"No answers false", gui::BoxButton::No, false},
        {"a box closed otherwise answers false", gui::BoxButton::Ok, false},
    };
    for (const Case& c : cases) {
        guitest::BoxRecorder boxes(c.answer);
        EXPECT_EQ(gui::AskYesNo("Вы действительно хотите прервать операцию ?"), c.yes) << c.name;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Question) << c.name;
        EXPECT_EQ(boxes.boxes[0].caption, "Предупреждение") << c.name;
        EXPECT_EQ(boxes.boxes[0].text, "Вы действительно хотите прервать операцию ?") << c.name;
    }
}

TEST(MessageBoxes, InformationAndErrorBoxesTakeTheirCaptions)
{
    const guitest::TitleScope title("Изменение идентификаторов БД Велмо");
    guitest::BoxRecorder boxes;
    gui::ShowInformation("Изменено идентификаторов: 5", "Операция завершена");
    gui::ShowInformation("ВНИМАНИЕ! Необходимо выбрать элемент.");
    gui::ShowErrorBox("Объект не найден.");
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Information);
    EXPECT_EQ(boxes.boxes[0].caption, "Операция завершена");
    EXPECT_EQ(boxes.boxes[1].kind, gui::BoxKind::Information);
    EXPECT_EQ(boxes.boxes[1].caption, "Изменение идентификаторов БД Велмо");
    EXPECT_EQ(boxes.boxes[1].text, "ВНИМАНИЕ! Необходимо выбрать элемент.");
    EXPECT_EQ(boxes.boxes[2].kind, gui::BoxKind::Error);
    EXPECT_EQ(boxes.boxes[2].caption, "Изменение идентификаторов БД Велмо");
    EXPECT_EQ(boxes.boxes[2].text, "Объект не найден.");
}

TEST(MessageBoxes, ScopedAnswerersNestAndRestore)
{
    guitest::BoxRecorder outer(gui::BoxButton::Yes);
    {
        guitest::BoxRecorder inner(gui::BoxButton::No);
        EXPECT_FALSE(gui::AskYesNo("inner"));
        EXPECT_EQ(inner.boxes.size(), 1u);
    }
    EXPECT_TRUE(gui::AskYesNo("outer"));
    ASSERT_EQ(outer.boxes.size(), 1u);
    EXPECT_EQ(outer.boxes[0].text, "outer");
}

TEST(MessageBoxes, TheRealBoxHasTheKindsIconButtonsAndDefault)
{
    struct Case {
        const char* name;
        gui::BoxKind kind;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };
    const Case cases[] = {
        {"question: Yes/No with No the default", gui::BoxKind::Question, QMessageBox::Question,
         QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
        {"warning question: Yes/No with No the default", gui::BoxKind::Warning, QMessageBox::Warning,
         QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
        {"information: OK", gui::BoxKind::Information, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
        {"error: OK with the stop icon", gui::BoxKind::Error, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
    };
    for (const Case& c : cases) {
        auto box = gui::MakeMessageBox({c.kind, "Предупреждение", "Текст <b>как есть</b>"}, nullptr);
        EXPECT_EQ(box->icon(), c.icon) << c.name;
        EXPECT_EQ(box->standardButtons(), c.buttons) << c.name;
        ASSERT_NE(box->defaultButton(), nullptr) << c.name;
        EXPECT_EQ(box->standardButton(box->defaultButton()), c.defaultButton) << c.name;
        EXPECT_EQ(box->windowTitle(), QString("Предупреждение")) << c.name;
        EXPECT_EQ(box->text(), QString("Текст <b>как есть</b>")) << c.name;
        EXPECT_EQ(box->textFormat(), Qt::PlainText) << c.name;
    }
}

// Qt's own texts are Russian, and a box is as wide as its caption needs.
TEST(MessageBoxes, TheRealBoxSpeaksRussianAndFitsItsCaption)
{
    struct Case {
        const char* name;
        gui::BoxKind kind;
        std::string caption;
        std::string text;
        QMessageBox::StandardButton button;
        QString buttonText; // Russian keeps "OK"
    };
    const Case cases[] = {
        {"question", gui::BoxKind::Question, "Предупреждение", "Резервная копия сделана?", QMessageBox::Yes, "Да"},
        {"question", gui::BoxKind::Question, "Предупреждение", "Резервная копия сделана?", QMessageBox::No, "Нет"},
        {"end of run", gui::BoxKind::Information, "Операция завершена", "Готово", QMessageBox::Ok, "OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto box = gui::MakeMessageBox({c.kind, c.caption, c.text}, nullptr);
        box->show();
        QAbstractButton* button = box->button(c.button);
        ASSERT_NE(button, nullptr);
        const QString text = button->text().remove('&');
        EXPECT_EQ(text.toStdString(), c.buttonText.toStdString());
        const QFontMetrics metrics(box->font());
        EXPECT_GE(box->width(), metrics.horizontalAdvance(QString::fromStdString(c.caption)) + 4 * metrics.height());
        const QString file = QString("MessageBox-%1-%2.png").arg(int(c.kind)).arg(int(c.button));
        EXPECT_TRUE(box->grab().save(QDir(QCoreApplication::applicationDirPath()).filePath(file), "PNG"));
        box->hide();
    }
    // Qt's dialogs too.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Отмена");
}

TEST(MessageBoxes, WithoutAnAnswererTheRealBoxRunsAndAnswers)
{
    const gui::ScopedBoxAnswerer real(nullptr);
    struct Case {
        const char* name;
        QMessageBox::StandardButton press;
        bool yes;
    };
    const Case cases[] = {
        {"Yes pressed", QMessageBox::Yes, true},
        {"No pressed", QMessageBox::No, false},
    };
    for (const Case& c : cases) {
        QString title;
        // Looks for the box inside its own modal loop and presses a button.
        QTimer presser;
        QObject::connect(&presser, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible()) continue;
                title = box->windowTitle();
                box->button(c.press)->click();
                presser.stop();
                return;
            }
        });
        presser.start(5);
        EXPECT_EQ(gui::AskYesNo("Продолжить?"), c.yes) << c.name;
        EXPECT_EQ(title, QString("Предупреждение")) << c.name;
    }
}

} // namespace
