// The readiness engine: epoll under a single QSocketNotifier, so that sockets
// reach the UI thread as ordinary Qt events without one notifier per socket.
#include "platform/readiness_engine.h"

#include <sys/epoll.h>
#include <array>
#include <cerrno>

namespace platform {

namespace {

std::uint32_t to_epoll(std::uint32_t events) {
    std::uint32_t mask = 0;
    if (events & kInput)
        mask |= EPOLLIN;
    if (events & kPeerClosed)
        mask |= EPOLLRDHUP;
    return mask;
}

std::uint32_t from_epoll(std::uint32_t mask) {
    std::uint32_t events = 0;
    if (mask & EPOLLIN)
        events |= kInput;
    if (mask & EPOLLRDHUP)
        events |= kPeerClosed;
    if (mask & EPOLLHUP)
        events |= kHangUp;
    if (mask & EPOLLERR)
        events |= kError;
    return events;
}

// Descriptor in the low half, generation in the high half: an event fetched
// for a registration that was removed and re-added meanwhile is recognised.
std::uint64_t pack(int fd, std::uint32_t generation) {
    return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
}

}  // namespace

std::unique_ptr<ReadinessEngine> ReadinessEngine::create(SysError& error, QObject* parent) {
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) {
        error = SysError{errno, "epoll_create1"};
        return nullptr;
    }
    error = {};
    return std::unique_ptr<ReadinessEngine>(new ReadinessEngine(fd, parent));
}

ReadinessEngine::ReadinessEngine(int epoll_fd, QObject* parent)
    : QObject(parent), epoll_fd_(epoll_fd), notifier_(epoll_fd, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &ReadinessEngine::dispatch);
}

ReadinessEngine::~ReadinessEngine() {
    notifier_.setEnabled(false);
    close_descriptor(epoll_fd_);
}

SysError ReadinessEngine::add(int fd, std::uint32_t events, Callback callback) {
    if (fd < 0) {
        return SysError{EBADF, "epoll_ctl"};
    }
    if (static_cast<std::size_t>(fd) >= registrations_.size()) {
        registrations_.resize(static_cast<std::size_t>(fd) + 1);
    }
    Registration& slot = registrations_[static_cast<std::size_t>(fd)];
    const std::uint32_t generation = next_generation_++;
    epoll_event event{};
    event.events = to_epoll(events);
    event.data.u64 = pack(fd, generation);
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) {
        return SysError{errno, "epoll_ctl"};
    }
    slot = Registration{generation, true, std::move(callback)};
    return {};
}

SysError ReadinessEngine::modify(int fd, std::uint32_t events) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= registrations_.size() ||
        !registrations_[static_cast<std::size_t>(fd)].active) {
        return SysError{ENOENT, "epoll_ctl"};
    }
    epoll_event event{};
    event.events = to_epoll(events);
    event.data.u64 = pack(fd, registrations_[static_cast<std::size_t>(fd)].generation);
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event) != 0) {
        return SysError{errno, "epoll_ctl"};
    }
    return {};
}

void ReadinessEngine::remove(int fd) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= registrations_.size()) {
        return;
    }
    Registration& slot = registrations_[static_cast<std::size_t>(fd)];
    if (!slot.active) {
        return;
    }
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    slot = Registration{};
}

void ReadinessEngine::dispatch() {
    ++dispatches_;
    std::array<epoll_event, 64> events{};
    const int count = ::epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), 0);
    for (int i = 0; i < count; ++i) {
        const auto fd = static_cast<std::uint32_t>(events[i].data.u64 & 0xffffffffu);
        const auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
        // Re-checked for every event: an earlier callback may have removed it.
        if (fd >= registrations_.size())
            continue;
        Registration& slot = registrations_[fd];
        if (!slot.active || slot.generation != generation)
            continue;
        // A copy, because the callback may remove its own registration.
        const Callback callback = slot.callback;
        callback(from_epoll(events[i].events));
    }
}

}  // namespace platform
