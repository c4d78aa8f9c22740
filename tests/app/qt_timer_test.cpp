#include "app/qt_timer.h"

#include "app/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "qt_test_support.h"

namespace tertulia {
namespace {

// Each tick comes a whole interval or more after the start, never early (Qt's coarse timers may
// come up to 5% early); a restart begins a full new interval.
TEST(QtTimerTest, ticks_never_come_before_their_interval) {
    EnsureApplication();
    constexpr qint64 kIntervalMs = 150;
    constexpr int kTicks = 8;
    constexpr int kRestartAfter = 4;
    QtEventLoop events;
    // Made as the console's units make theirs.
    const std::unique_ptr<Timer> made = QtTimerFactory(events).Create();
    Timer& timer = *made;
    EXPECT_FALSE(timer.Enabled()) << "a new timer waits to be enabled";
    QElapsedTimer clock;
    QEventLoop loop;
    std::vector<qint64> due;  // the earliest time of each tick, in ns since the clock started
    std::vector<qint64> came;
    timer.SetInterval(static_cast<int>(kIntervalMs));
    timer.SetHandler([&] {
        came.push_back(clock.nsecsElapsed());
        if (came.size() == kTicks) {
            loop.quit();
            return;
        }
        if (came.size() == kRestartAfter) {
            // A long handler, then a restart: the next tick is a full interval after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(kIntervalMs / 3));
            due.push_back(clock.nsecsElapsed() + kIntervalMs * 1'000'000);
            timer.SetEnabled(true);
        } else {
            due.push_back(due.back() + kIntervalMs * 1'000'000);
        }
    });
    QTimer::singleShot(30'000, &loop, &QEventLoop::quit);  // only if the ticks stop coming
    clock.start();
    due.push_back(kIntervalMs * 1'000'000);
    timer.SetEnabled(true);
    loop.exec();
    timer.SetEnabled(false);

    ASSERT_EQ(came.size(), static_cast<size_t>(kTicks));
    for (int i = 0; i < kTicks; ++i) {
        EXPECT_GE(came[i], due[i])
            << "tick " << i << " came " << (due[i] - came[i]) / 1000 << " us early";
    }
}

}  // namespace
}  // namespace tertulia
