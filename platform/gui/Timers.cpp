// The class library's timer over QTimer.
#include "platform/gui/Timers.h"

#include "platform/gui/HandlerGuard.h"

namespace gui {

Timer::Timer(QObject* parent) : QObject(parent)
{
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (!enabled_ || !OnTimer) return;
        // A copy: the handler may replace OnTimer or free what it captured.
        const std::function<void()> handler = OnTimer;
        Guard(handler);
    });
}

void Timer::SetInterval(int milliseconds)
{
    if (milliseconds < 0) milliseconds = 0;
    if (milliseconds == interval_) return;
    interval_ = milliseconds;
    Update();
}

void Timer::SetEnabled(bool enabled)
{
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void Timer::Update()
{
    timer_.stop();
    if (enabled_ && interval_ > 0) timer_.start(interval_);
}

} // namespace gui
