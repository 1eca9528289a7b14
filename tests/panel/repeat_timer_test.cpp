#include "Quarvel1/repeat_timer.h"

#include <gtest/gtest.h>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>
#include <thread>

namespace {

using quarvel::RepeatTimer;

constexpr int kPatienceMs = 10000;  // a timeout for waits, never an expectation of speed

// Runs the event loop until a precise reference timer of `ms` fires, and returns what `ticks`
// held at that moment. Qt handles timers that fall due together in the order of their
// deadlines, so a reference shorter than the interval sees no tick even on a loaded machine.
int ticks_when_reference_fires(int ms, const int& ticks) {
    int seen = -1;
    bool fired = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, [&] {
        seen = ticks;
        fired = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired; }, kPatienceMs));
    return seen;
}

// Runs `action` when a precise reference timer of `ms` fires.
void at(int ms, std::function<void()> action) {
    QTimer::singleShot(ms, Qt::PreciseTimer, std::move(action));
}

bool wait_for_ticks(const int& ticks, int wanted) {
    return QTest::qWaitFor([&] { return ticks >= wanted; }, kPatienceMs);
}

class RepeatTimerTest : public testing::Test {
  protected:
    int ticks = 0;
    std::function<void()> count = [this] { ++ticks; };
};

TEST_F(RepeatTimerTest, NoTicksWithoutHandler) {
    RepeatTimer timer;
    timer.setInterval(20);
    EXPECT_FALSE(timer.isCounting());
    EXPECT_EQ(ticks_when_reference_fires(200, ticks), 0);
}

TEST_F(RepeatTimerTest, NoTicksWithIntervalZero) {
    RepeatTimer timer;
    timer.setInterval(0);
    timer.setOnTimer(count);
    EXPECT_FALSE(timer.isCounting());
    EXPECT_EQ(ticks_when_reference_fires(200, ticks), 0);
}

TEST_F(RepeatTimerTest, FirstTickComesOneIntervalAfterTheHandlerThenRepeats) {
    RepeatTimer timer;
    EXPECT_EQ(timer.interval(), 2000u);
    timer.setInterval(100);
    timer.setOnTimer(count);
    EXPECT_TRUE(timer.hasHandler());
    EXPECT_EQ(ticks_when_reference_fires(70, ticks), 0);
    EXPECT_TRUE(wait_for_ticks(ticks, 3));
}

TEST_F(RepeatTimerTest, ChangesThatRestartTheCountdown) {
    struct Row {
        const char* name;
        std::function<void(RepeatTimer&, const std::function<void()>&)> change;
    };
    const Row rows[] = {
        {"the same handler set again",
         [](RepeatTimer& t, const std::function<void()>& handler) { t.setOnTimer(handler); }},
        {"a different interval", [](RepeatTimer& t, const auto&) { t.setInterval(201); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ticks = 0;
        RepeatTimer timer;
        timer.setInterval(200);
        timer.setOnTimer(count);
        // Without the restart the tick would fall due at 200 ms, before the reference at 260.
        at(120, [&] { row.change(timer, count); });
        EXPECT_EQ(ticks_when_reference_fires(260, ticks), 0);
        EXPECT_TRUE(wait_for_ticks(ticks, 1));
    }
}

TEST_F(RepeatTimerTest, SameIntervalDoesNotRestart) {
    RepeatTimer timer;
    timer.setInterval(200);
    timer.setOnTimer(count);
    at(120, [&] { timer.setInterval(200); });
    EXPECT_EQ(ticks_when_reference_fires(300, ticks), 1);
}

TEST_F(RepeatTimerTest, ClearStopsTicks) {
    RepeatTimer timer;
    timer.setInterval(30);
    timer.setOnTimer(count);
    ASSERT_TRUE(wait_for_ticks(ticks, 1));
    timer.clearOnTimer();
    EXPECT_FALSE(timer.hasHandler());
    const int before = ticks;
    EXPECT_EQ(ticks_when_reference_fires(200, ticks), before);
}

TEST_F(RepeatTimerTest, TickAlreadyDueIsDroppedByClear) {
    RepeatTimer timer;
    timer.setInterval(20);
    timer.setOnTimer(count);
    // Keep the thread busy past the deadline so the tick is due but not yet handled.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    timer.clearOnTimer();
    EXPECT_EQ(ticks_when_reference_fires(100, ticks), 0);
}

TEST_F(RepeatTimerTest, HandlerMayClearItself) {
    RepeatTimer timer;
    timer.setInterval(20);
    // The capture is large enough to live on the heap, so running on after the stored handler
    // is destroyed would be a use after free that the address sanitizer reports.
    auto calls = std::make_shared<int>(0);
    timer.setOnTimer([&timer, calls] {
        timer.clearOnTimer();
        ++*calls;
    });
    ASSERT_TRUE(wait_for_ticks(*calls, 1));
    EXPECT_EQ(ticks_when_reference_fires(150, *calls), 1);
}

TEST_F(RepeatTimerTest, LongIntervalIsCoveredByChainedWaitsWithoutFiringEarly) {
    RepeatTimer timer(20, nullptr);  // each underlying wait at most 20 ms
    timer.setInterval(150);
    timer.setOnTimer(count);
    EXPECT_EQ(ticks_when_reference_fires(110, ticks), 0);
    EXPECT_TRUE(wait_for_ticks(ticks, 2));
}

TEST_F(RepeatTimerTest, IntervalsBeyondQTimerNeitherCrashNorFire) {
    for (const std::uint32_t interval : {static_cast<std::uint32_t>(INT_MAX) + 1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(interval);
        RepeatTimer timer;
        timer.setInterval(interval);
        timer.setOnTimer(count);
        EXPECT_TRUE(timer.isCounting());
        EXPECT_EQ(timer.interval(), interval);
        EXPECT_EQ(ticks_when_reference_fires(100, ticks), 0);
    }
}

}  // namespace
