// One epoll set behind one QSocketNotifier. Qt's own notifiers are one per
// descriptor and cannot tell a peer's orderly close from unread input; a
// thousand clients would also mean a thousand notifiers. This engine lets the
// UI thread learn about any number of sockets from a single notification.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/socket_calls.h"

namespace platform {

// Conditions a registration asks for and a callback is told about. kError and
// kHangUp are always reported, whether asked for or not.
enum ReadyEvent : std::uint32_t {
    kInput = 1u << 0,       // data to read, or a connection to accept
    kPeerClosed = 1u << 1,  // the peer shut down its sending side (orderly close)
    kHangUp = 1u << 2,      // both directions are down
    kError = 1u << 3,       // the socket holds a pending error
};

// Readiness engine over epoll, level-triggered, for the UI thread only.
// Callbacks run inside dispatch(); a callback may add or remove any
// registration, including its own, and events already fetched for a removed
// or replaced registration are skipped.
class ReadinessEngine : public QObject {
    Q_OBJECT
  public:
    using Callback = std::function<void(std::uint32_t ready_events)>;

    // Creates the epoll set and its notifier; nullptr with the error if epoll
    // cannot be created.
    static std::unique_ptr<ReadinessEngine> create(SysError& error, QObject* parent = nullptr);
    ~ReadinessEngine() override;

    // Watches fd for the given ReadyEvent bits. Fails with "epoll_ctl".
    SysError add(int fd, std::uint32_t events, Callback callback);
    // Changes the bits watched for fd (0 keeps it registered but silent).
    SysError modify(int fd, std::uint32_t events);
    // Stops watching fd; call it before closing fd. Unknown fds are ignored.
    void remove(int fd);
    // Handles every event ready now without blocking. The notifier calls it;
    // tests may call it directly.
    void dispatch();
    // How many dispatches have run: a measure of how often the UI thread woke.
    std::uint64_t dispatch_count() const { return dispatches_; }

  private:
    explicit ReadinessEngine(int epoll_fd, QObject* parent);

    struct Registration {
        std::uint32_t generation = 0;
        bool active = false;
        Callback callback;
    };

    int epoll_fd_;
    std::uint32_t next_generation_ = 1;
    std::uint64_t dispatches_ = 0;
    std::vector<Registration> registrations_;  // indexed by descriptor
    QSocketNotifier notifier_;
};

}  // namespace platform
