#include "loopback_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cerrno>

namespace net_test {

bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!pred()) {
        if (deadline.hasExpired()) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void run_loop_passes(int passes) {
    for (int i = 0; i < passes; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

LoopbackClient::LoopbackClient(std::uint16_t port, int receive_buffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    if (receive_buffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

LoopbackClient::~LoopbackClient() {
    close();
}

std::uint16_t LoopbackClient::local_port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool LoopbackClient::drain() {
    if (fd_ < 0 || closed_by_server_) {
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        closed_by_server_ = true;
        return false;
    }
}

namespace {

bool wait_readable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

}  // namespace

bool LoopbackClient::wait_for_bytes(std::size_t size, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (drain() && received_.size() < size) {
        if (deadline.hasExpired() ||
            !wait_readable(fd_, std::chrono::milliseconds(deadline.remainingTime()))) {
            break;
        }
    }
    return received_.size() >= size;
}

bool LoopbackClient::wait_for_close(std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (drain()) {
        if (deadline.hasExpired() ||
            !wait_readable(fd_, std::chrono::milliseconds(deadline.remainingTime()))) {
            break;
        }
    }
    return closed_by_server_;
}

std::size_t LoopbackClient::send_without_blocking(const std::string& data) {
    std::size_t total = 0;
    while (fd_ >= 0 && total < data.size()) {
        const ssize_t n =
            ::send(fd_, data.data() + total, data.size() - total, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

void LoopbackClient::reset() {
    if (fd_ < 0) {
        return;
    }
    const linger abort_on_close{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    close();
}

void LoopbackClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void LoopbackClient::shutdown_write() {
    ::shutdown(fd_, SHUT_WR);
}

std::string numbered_line(int sequence) {
    std::string digits = std::to_string(sequence);
    return "line " + std::string(6 - std::min<std::size_t>(6, digits.size()), '0') + digits +
           "\r\n";
}

}  // namespace net_test
