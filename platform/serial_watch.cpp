// eventfd, epoll and poll for the serial watcher; the only place these calls are made for it.
#include "platform/serial_watch.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

EventFd::EventFd(bool initially_signalled)
    : fd_(eventfd(initially_signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventFd::~EventFd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool EventFd::signal() const {
    const std::uint64_t one = 1;
    return fd_ >= 0 && write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool EventFd::consume() const {
    std::uint64_t value = 0;
    return fd_ >= 0 && read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

ReceiveWatch::ReceiveWatch(int port_fd, int stop_fd) : stop_fd_(stop_fd) {
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) {
        return;
    }
    epoll_event port{};
    port.events = EPOLLIN | EPOLLET;
    port.data.fd = port_fd;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = stop_fd;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, port_fd, &port) != 0 ||
        epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, stop_fd, &stop) != 0) {
        close(epoll_fd_);
        epoll_fd_ = -1;
    }
}

ReceiveWatch::~ReceiveWatch() {
    if (epoll_fd_ >= 0) {
        close(epoll_fd_);
    }
}

ReceiveWatch::Wake ReceiveWatch::wait() {
    epoll_event events[2];
    const int n = epoll_wait(epoll_fd_, events, 2, -1);
    if (n < 0) {
        return errno == EINTR ? Wake::Nothing : Wake::Failed;
    }
    Wake wake = Wake::Nothing;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == stop_fd_) {
            return Wake::Stopped;
        }
        if ((events[i].events & EPOLLIN) != 0) {
            wake = Wake::Received;
        }
    }
    return wake;
}

AckWait wait_for_ack(const EventFd& ack, const EventFd& stop) {
    for (;;) {
        pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {ack.fd(), POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return AckWait::Failed;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return AckWait::Stopped;
        }
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) {
            return AckWait::Failed;
        }
        if ((fds[1].revents & POLLIN) != 0 && ack.consume()) {
            return AckWait::Acknowledged;
        }
    }
}

void lower_current_thread_priority() {
    const pid_t tid = gettid();
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), now + 1);
    }
}

}  // namespace platform
