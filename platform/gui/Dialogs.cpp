// Modal forms behind the seam that tests drive.
#include "platform/gui/Dialogs.h"

#include <QDialog>

namespace gui {

namespace {

ModalRunner& RunnerStore()
{
    static ModalRunner runner;
    return runner;
}

} // namespace

ModalRunner SetModalRunner(ModalRunner runner)
{
    ModalRunner previous = std::move(RunnerStore());
    RunnerStore() = std::move(runner);
    return previous;
}

int ShowModal(QDialog& form)
{
    if (RunnerStore()) {
        const ModalRunner runner = RunnerStore();
        return runner(form);
    }
    return form.exec();
}

bool ShowModalOk(QDialog& form)
{
    return ShowModal(form) == QDialog::Accepted;
}

} // namespace gui
