// The serial device layer: one open serial device driven through POSIX and Linux calls, offering
// what the component needs of a serial port (exclusive open, line settings, byte writes with a
// bounded wait, bounded reads, queue and error status, purge, line control) and nothing more.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_dcb.h"
#include "platform/serial_termios.h"
#include "platform/serial_watch.h"

namespace platform {

// The call that failed and its errno.
struct SerialError {
    const char* call = "";
    int error = 0;
};

enum class WriteResult { Written, Refused, TimedOut };

// Used on one thread only (the component's); the watcher gets descriptors, never this object.
class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` non-blocking and for this process alone (flock and TIOCEXCL); false when it is
    // missing, busy, not a terminal or not permitted, and then nothing is left open.
    bool open(const std::string& path);
    // Lowers the exclusive mark and closes; harmless when not open.
    void close();
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const SerialError& last_error() const { return error_; }

    // The line as a device-control record; members termios cannot hold are the last ones set.
    bool get_state(Dcb& dcb);
    // False, with the line unchanged, when the record asks for what the line cannot do.
    bool set_state(const Dcb& dcb);
    // Kept for get_timeouts: our reads take only queued bytes and our writes have their own bound.
    bool set_timeouts(const CommTimeouts& timeouts);
    bool get_timeouts(CommTimeouts& timeouts) const;
    // Linux sizes its queues itself; accepted while open, no effect.
    bool setup_queues(std::uint32_t input, std::uint32_t output) const;
    // A mask of 0 signals the stop event of this opening, which stays signalled; a nonzero mask
    // after that starts a fresh one.
    bool set_mask(std::uint32_t mask);
    // The stop event of this opening, shared with the watcher; null when not open.
    std::shared_ptr<EventFd> stop_event() const { return stop_; }

    // One byte: written, refused at once by the device (e.g. it vanished), or still not taken
    // when `bound` ran out (then nothing of it is left in flight).
    WriteResult write_byte(std::uint8_t byte, std::chrono::milliseconds bound);
    // Reads at most `n` bytes, waiting at most `bound` for the first; returns the bytes kept by
    // the receive rules, or -1 when the device refuses.
    int read(std::uint8_t* buffer, std::uint32_t n, std::chrono::milliseconds bound);
    // Queue counts and error bits since the last call (which clears them).
    bool clear_error(std::uint32_t& errors, ComStat& stat);
    bool purge(std::uint32_t flags);
    // Line control codes (kSetRts...); false for unknown codes and for devices without modem
    // lines, such as pseudo-terminals.
    bool escape(std::uint32_t code);

  private:
    bool fail(const char* call);
    std::uint32_t pending_errors();
    void take_counters();

    int fd_ = -1;
    SerialError error_;
    TermiosImage image_;
    Dcb remembered_;
    CommTimeouts timeouts_;
    ReceiveFilter filter_;
    std::shared_ptr<EventFd> stop_;
    bool stopped_ = false;
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
    } counted_;
};

}  // namespace platform
