// A timer as the class library has it: an interval, an Enabled switch and an
// OnTimer handler that runs under the handler guard.
//
// Enabling starts the count from zero, so disabling and enabling again
// restarts it; an interval of 0 keeps the timer from firing at all.
#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

namespace gui {

class Timer : public QObject {
public:
    explicit Timer(QObject* parent = nullptr);

    int Interval() const noexcept { return interval_; }
    // Changing the interval of an enabled timer restarts its count.
    void SetInterval(int milliseconds);

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);

    // Runs at every tick while enabled; an exception is shown by the guard.
    std::function<void()> OnTimer;

private:
    void Update();

    QTimer timer_;
    int interval_ = 1000;
    bool enabled_ = false;
};

} // namespace gui
