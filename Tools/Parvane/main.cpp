// Entry of the identifier changer: the application, the built-in drivers and
// the driver manager, the main window, and the message loop until it closes.
// Teardown runs in reverse: the window, the manager's reference, the
// application.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "Tools/Parvane/gui/MainForms.h"
#include "UdbProject/UdbDrivers.h"
#include "UdbProject/UdbManagers.h"
#include "platform/gui/Application.h"
#include "platform/gui/HandlerGuard.h"

namespace {

constexpr const char* kNoDisplay =
    "parvane: there is no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
    "Run it on a desktop session, under a virtual display:\n"
    "    xvfb-run %s\n"
    "or without any display on Qt's offscreen platform:\n"
    "    QT_QPA_PLATFORM=offscreen %s\n";

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt aborts when it cannot open a display; say how to run the program instead.
bool DisplayAvailable()
{
    return IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    if (!DisplayAvailable()) {
        const char* program = argc > 0 && argv[0] ? argv[0] : "parvane";
        std::fprintf(stderr, kNoDisplay, program, program);
        return 2;
    }

    gui::Application app(argc, argv);
    int result = 1;
    try {
        RegisterBuiltInDrivers();
        const rtl::RefPtr<IUdbManager> manager = GetDbManager();
        gui::SetApplicationTitle(MainFormText::Title);

        const auto form = std::make_unique<TMainForm>();
        gui::SetMainForm(form.get());
        form->show();
        result = app.Run();
    } catch (...) {
        // A failure before the loop runs (no event handler to catch it).
        gui::HandleCurrentException();
    }
    return result;
}
