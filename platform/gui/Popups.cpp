// The pop-up loop behind the seam that tests drive.
#include "platform/gui/Popups.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace gui {

namespace {

PopupRunner& RunnerStore()
{
    static PopupRunner runner;
    return runner;
}

} // namespace

PopupRunner SetPopupRunner(PopupRunner runner)
{
    PopupRunner previous = std::move(RunnerStore());
    RunnerStore() = std::move(runner);
    return previous;
}

void RunPopup(QWidget& popup, const std::function<bool()>& done)
{
    if (RunnerStore()) {
        const PopupRunner runner = RunnerStore();
        runner(popup);
        return;
    }
    QPointer<QWidget> alive(&popup);
    popup.show();
    popup.raise();
    popup.activateWindow();
    while (alive && alive->isVisible() && !done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace gui
