// The application object, its title and the main window.
#include "platform/gui/Application.h"

#include <optional>

#include <QLibraryInfo>
#include <QPointer>
#include <QScreen>
#include <QTranslator>
#include <QWidget>

#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/SysUtils.h"

namespace gui {

namespace {

std::optional<std::string>& TitleStore()
{
    static std::optional<std::string> title;
    return title;
}

QPointer<QWidget>& MainFormStore()
{
    static QPointer<QWidget> form;
    return form;
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    // The program speaks Russian whatever the machine's locale: so do Qt's
    // own texts (standard buttons, dialogs).
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}

int Application::Run()
{
    return exec();
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleCurrentException();
        return false;
    }
}

void SetApplicationTitle(std::string_view title)
{
    TitleStore() = std::string(title);
}

std::string ApplicationTitle()
{
    return TitleStore() ? *TitleStore() : DefaultApplicationTitle();
}

std::string DefaultApplicationTitle()
{
    return rtl::ChangeFileExt(rtl::ExtractFileName(rtl::ProgramFileName()), "");
}

void SetMainForm(QWidget* form)
{
    MainFormStore() = form;
}

QWidget* MainForm()
{
    return MainFormStore().data();
}

void CenterOnMainForm(QWidget& window)
{
    QRect area;
    if (QWidget* main = MainForm(); main && main != &window && main->isVisible())
        area = main->frameGeometry();
    else if (QScreen* screen = window.screen())
        area = screen->availableGeometry();
    if (area.isEmpty()) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(area.center());
    window.move(frame.topLeft());
}

} // namespace gui
