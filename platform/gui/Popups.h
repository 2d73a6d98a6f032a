// Pop-up windows that run a message loop of their own while they are open,
// as a drop-down list does: the caller shows the pop-up and lets events be
// delivered until the pop-up has its answer.
//
// RunPopup is a seam as ShowModal is: a test installs a runner that gets the
// pop-up instead of the loop; it may show the pop-up, send it keys and mouse
// events, and return. Whatever the pop-up's answer is then stands.
#pragma once

#include <functional>

class QWidget;

namespace gui {

using PopupRunner = std::function<void(QWidget&)>;

// Installs a runner (empty: the real loop again); returns the previous one.
PopupRunner SetPopupRunner(PopupRunner runner);

class ScopedPopupRunner {
public:
    explicit ScopedPopupRunner(PopupRunner runner) : previous_(SetPopupRunner(std::move(runner))) {}
    ~ScopedPopupRunner() { SetPopupRunner(std::move(previous_)); }
    ScopedPopupRunner(const ScopedPopupRunner&) = delete;
    ScopedPopupRunner& operator=(const ScopedPopupRunner&) = delete;

private:
    PopupRunner previous_;
};

// Shows popup without making it modal and delivers events until done()
// holds or the pop-up is no longer visible. With a runner, the runner gets
// the pop-up instead.
void RunPopup(QWidget& popup, const std::function<bool()>& done);

} // namespace gui
