// The application object, its title, the main window and the message loop.
//
// gui::Application is the one QApplication of the program. Besides running
// the message loop it is the last line of the handler guard: an exception
// that some event handler let through is caught where Qt dispatches the
// event and shown like any other (HandlerGuard.h), so none ever unwinds
// through Qt's event loop.
#pragma once

#include <string>
#include <string_view>

#include <QApplication>

class QWidget;

namespace gui {

class Application : public QApplication {
public:
    Application(int& argc, char** argv);

    // Runs the message loop until the last window closes; the loop's exit code.
    int Run();

    bool notify(QObject* receiver, QEvent* event) override;
};

// The title shown as the caption of error boxes. Until one is set it is the
// default title: the program file's name without folder and extension.
void SetApplicationTitle(std::string_view title);
std::string ApplicationTitle();
std::string DefaultApplicationTitle();

// The main window, on which dialogs are centred and which owns message
// boxes when no other window is active. Forgotten when it is destroyed.
void SetMainForm(QWidget* form);
QWidget* MainForm();

// Centres window on the main window, or on its screen when there is none.
void CenterOnMainForm(QWidget& window);

} // namespace gui
