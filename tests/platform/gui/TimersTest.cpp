// The class library's timer: when it ticks, and that a failing tick is shown
// and the timer goes on.
#include <gtest/gtest.h>

#include "platform/gui/Timers.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/gui/GuiTestSupport.h"

namespace {

TEST(Timer, TicksOnlyWhileEnabledWithAnInterval)
{
    gui::Timer timer;
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000);
    int ticks = 0;
    timer.OnTimer = [&] {
        ++ticks;
        timer.SetEnabled(false);
    };
    timer.SetInterval(1);
    timer.SetEnabled(true);
    EXPECT_TRUE(guitest::WaitUntil([&] { return ticks == 1; }));
    EXPECT_FALSE(timer.Enabled());
}

TEST(Timer, AnIntervalOfZeroNeverTicks)
{
    gui::Timer timer;
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetInterval(0);
    timer.SetEnabled(true);
    gui::Timer witness;
    bool witnessed = false;
    witness.OnTimer = [&] { witnessed = true; };
    witness.SetInterval(20);
    witness.SetEnabled(true);
    EXPECT_TRUE(guitest::WaitUntil([&] { return witnessed; }));
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(timer.Enabled());
}

TEST(Timer, ATickThatRaisesIsShownAndTheTimerGoesOn)
{
    guitest::BoxRecorder boxes;
    gui::Timer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 1) throw rtl::Exception("Сбой");
        timer.SetEnabled(false);
    };
    timer.SetInterval(1);
    timer.SetEnabled(true);
    EXPECT_TRUE(guitest::WaitUntil([&] { return ticks == 2; }));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].text, "Сбой.");
}

} // namespace
