#include "repeat_timer.h"

#include <algorithm>
#include <climits>

namespace quarvel {

RepeatTimer::RepeatTimer(QObject* parent) : RepeatTimer(INT_MAX, parent) {}

RepeatTimer::RepeatTimer(std::uint32_t longest_wait_ms, QObject* parent)
    : QObject(parent),
      wait_(this),
      longest_wait_ms_(std::clamp<std::uint32_t>(longest_wait_ms, 1, INT_MAX)) {
    // The default coarse timer may shift each tick by up to 5 % of its interval.
    wait_.setTimerType(Qt::PreciseTimer);
    wait_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, &RepeatTimer::on_wait_over);
}

void RepeatTimer::setInterval(std::uint32_t ms) {
    if (ms == interval_ms_) {
        return;
    }
    interval_ms_ = ms;
    restart();
}

void RepeatTimer::setOnTimer(std::function<void()> handler) {
    on_timer_ = std::move(handler);
    restart();
}

void RepeatTimer::clearOnTimer() {
    on_timer_ = nullptr;
    restart();
}

void RepeatTimer::restart() {
    wait_.stop();
    if (interval_ms_ == 0 || !on_timer_) {
        return;
    }
    // The deadline is taken before QTimer takes its own, so QTimer's is never the earlier one.
    due_ = Clock::now() + std::chrono::milliseconds(interval_ms_);
    arm();
}

// Waits for what is left of the countdown, at most longest_wait_ms_ at a time.
void RepeatTimer::arm() {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - Clock::now()).count();
    const auto wait = std::clamp<std::int64_t>(left, 0, longest_wait_ms_);
    wait_.start(static_cast<int>(wait));
}

void RepeatTimer::on_wait_over() {
    if (interval_ms_ == 0 || !on_timer_) {
        return;
    }
    const auto now = Clock::now();
    if (now < due_) {
        arm();
        return;
    }
    // The next tick keeps to the grid of the first; if the handler ran so long that a whole
    // interval passed, one late tick is enough and the grid starts anew.
    due_ += std::chrono::milliseconds(interval_ms_);
    if (due_ <= now) {
        due_ = now + std::chrono::milliseconds(interval_ms_);
    }
    arm();
    // A copy: the handler may replace or clear itself while it runs.
    const std::function<void()> handler = on_timer_;
    handler();
}

}  // namespace quarvel
