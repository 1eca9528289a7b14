// Kernel descriptors that let the serial watcher thread and the UI thread signal each other
// without locks: eventfds for "stop waiting", acknowledgements and notifications, and an epoll set
// that waits for received characters edge-triggered, so unread input never makes a waiter spin.
#pragma once

#include <cstdint>

namespace platform {

// A counter the kernel keeps; readable while signalled. Any thread may signal or consume.
class EventFd {
  public:
    // `initially_signalled` lets a first wait pass at once.
    explicit EventFd(bool initially_signalled = false);
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Returns false when the descriptor could not be written.
    bool signal() const;
    // Clears the signal without waiting; true when it was signalled.
    bool consume() const;

  private:
    int fd_;
};

// Waits for received characters on a port, or for a stop event.
class ReceiveWatch {
  public:
    enum class Wake { Received, Stopped, Nothing, Failed };

    // Registers both descriptors at once, on the caller's thread, so that the watcher never
    // touches a port descriptor number that may be reused after the port is closed.
    ReceiveWatch(int port_fd, int stop_fd);
    ~ReceiveWatch();
    ReceiveWatch(const ReceiveWatch&) = delete;
    ReceiveWatch& operator=(const ReceiveWatch&) = delete;

    bool valid() const { return epoll_fd_ >= 0; }
    // Blocks until characters arrive (reported once per arrival) or the stop event is signalled
    // (reported until it is consumed, which nobody does: stopping is for good).
    Wake wait();

  private:
    int epoll_fd_ = -1;
    int stop_fd_ = -1;
};

enum class AckWait { Acknowledged, Stopped, Failed };

// Blocks until `ack` is signalled (and consumes it) or `stop` is signalled (left as it is).
AckWait wait_for_ack(const EventFd& ack, const EventFd& stop);

// Lowers the calling thread's scheduling priority by one step; failure is harmless.
void lower_current_thread_priority();

}  // namespace platform
