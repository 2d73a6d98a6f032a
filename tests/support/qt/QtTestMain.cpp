// GoogleTest main of the widget tests.
//
// The tests run on Qt's offscreen platform, chosen here before the
// application object exists, so they need no display. Until a test installs
// its own, the message-box answerer, the modal runner and the pop-up runner fail the running
// test and answer at once: an unexpected box or dialog can never block a run.
// The offscreen platform's notes on what it cannot do (raise a window, grab
// the keyboard) are dropped; every other Qt message is printed as usual.
#include <cstdlib>

#include <gtest/gtest.h>

#include <QDialog>
#include <QString>
#include <QtGlobal>

#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/MessageBoxes.h"
#include "platform/gui/Popups.h"

namespace {

QtMessageHandler qtHandler = nullptr;

void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith("This plugin does not support") || message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
        return;
    if (qtHandler) qtHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qtHandler = qInstallMessageHandler(FilterQtMessages);
    ::testing::InitGoogleTest(&argc, argv);
    gui::Application app(argc, argv);

    const gui::ScopedBoxAnswerer boxes([](const gui::BoxRequest& request) {
        ADD_FAILURE() << "unexpected message box \"" << request.caption << "\": " << request.text;
        return request.kind == gui::BoxKind::Question || request.kind == gui::BoxKind::Warning ? gui::BoxButton::No
                                                                                                 : gui::BoxButton::Ok;
    });
    const gui::ScopedModalRunner dialogs([](QDialog& form) {
        ADD_FAILURE() << "unexpected modal form \"" << form.windowTitle().toStdString() << "\"";
        return static_cast<int>(QDialog::Rejected);
    });
    const gui::ScopedPopupRunner popups([](QWidget& popup) {
        ADD_FAILURE() << "unexpected pop-up \"" << popup.objectName().toStdString() << "\"";
    });
    return RUN_ALL_TESTS();
}
