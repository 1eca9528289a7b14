// The panel's repeating timer. A QTimer alone does not follow our rule: with interval 0 it fires
// continuously, it fires without anyone to call, and it cannot take an interval above INT_MAX ms.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

namespace quarvel {

// Fires its handler once per interval, only while the interval is nonzero and a handler is set.
// Setting the handler (even the same one again) or changing the interval to a different value
// restarts a countdown of the full interval. Intervals of any 32-bit length are honoured: one
// longer than a single QTimer wait is covered by a chain of shorter waits, so it never fires
// early. A tick that falls due while the thread is busy is handled once, late; ticks never pile
// up. Use on the thread that owns the object only.
class RepeatTimer : public QObject {
    Q_OBJECT

  public:
    explicit RepeatTimer(QObject* parent = nullptr);
    // `longest_wait_ms` bounds one underlying QTimer wait (at most INT_MAX); tests shorten it
    // to see the chaining.
    RepeatTimer(std::uint32_t longest_wait_ms, QObject* parent);

    // Sets the interval in ms. A different value restarts the countdown; the same value changes
    // nothing; 0 stops the ticks.
    void setInterval(std::uint32_t ms);
    std::uint32_t interval() const { return interval_ms_; }

    // Sets the tick handler and restarts the countdown of the full interval.
    void setOnTimer(std::function<void()> handler);
    // Removes the handler: no tick comes until one is set again, not even one already due.
    void clearOnTimer();
    bool hasHandler() const { return static_cast<bool>(on_timer_); }

    // True while a countdown runs (a handler is set and the interval is nonzero).
    bool isCounting() const { return wait_.isActive(); }

  private:
    void restart();
    void arm();
    void on_wait_over();

    using Clock = std::chrono::steady_clock;

    QTimer wait_;
    std::function<void()> on_timer_;
    std::uint32_t interval_ms_ = 2000;
    std::uint32_t longest_wait_ms_;
    Clock::time_point due_{};
};

}  // namespace quarvel
