// Helpers of the widget tests: a recorder of message boxes and a wait on the
// event loop for a condition.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/gui/Application.h"
#include "platform/gui/MessageBoxes.h"

namespace guitest {

// Records every box shown while it lives and answers with one button.
class BoxRecorder {
public:
    explicit BoxRecorder(gui::BoxButton answer = gui::BoxButton::Ok)
        : answerer_([this, answer](const gui::BoxRequest& request) {
              boxes.push_back(request);
              return answer;
          })
    {
    }
    std::vector<gui::BoxRequest> boxes;

private:
    gui::ScopedBoxAnswerer answerer_;
};

// Sets the application title while it lives.
struct TitleScope {
    explicit TitleScope(const char* title) : previous(gui::ApplicationTitle()) { gui::SetApplicationTitle(title); }
    ~TitleScope() { gui::SetApplicationTitle(previous); }
    std::string previous;
};

// Runs the event loop until done() holds or two seconds have passed; done().
inline bool WaitUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 2000) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace guitest
