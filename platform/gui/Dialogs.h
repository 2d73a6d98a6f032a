// Modal forms: every dialog of the program is a function that creates its
// form, shows it with ShowModal, reads the result and frees the form.
//
// ShowModal is a seam as the message boxes are: a test installs a runner that
// gets the form instead of a nested message loop; it may show the form,
// drive its controls and return the form's result.
#pragma once

#include <functional>

class QDialog;

namespace gui {

using ModalRunner = std::function<int(QDialog&)>;

// Installs a runner (empty: real modal loops again); returns the previous one.
ModalRunner SetModalRunner(ModalRunner runner);

class ScopedModalRunner {
public:
    explicit ScopedModalRunner(ModalRunner runner) : previous_(SetModalRunner(std::move(runner))) {}
    ~ScopedModalRunner() { SetModalRunner(std::move(previous_)); }
    ScopedModalRunner(const ScopedModalRunner&) = delete;
    ScopedModalRunner& operator=(const ScopedModalRunner&) = delete;

private:
    ModalRunner previous_;
};

// Shows the form modally; its result (QDialog::Accepted when OK closed it).
int ShowModal(QDialog& form);
// ShowModal(form) == QDialog::Accepted.
bool ShowModalOk(QDialog& form);

} // namespace gui
