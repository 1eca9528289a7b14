// Thin wrappers over the BSD socket calls the TCP server needs; the server
// itself never touches Linux directly.
#include "platform/socket_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

FdResult fail_and_close(int fd, int number, const char* call) {
    close_descriptor(fd);
    return FdResult{-1, SysError{number, call}};
}

}  // namespace

FdResult open_listener(std::uint16_t port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return FdResult{-1, SysError{errno, "socket"}};
    }
    // Without it a restart right after closing connected clients fails to bind
    // while their connections sit in TIME-WAIT; a second live listener on the
    // same port is still refused by Linux.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return fail_and_close(fd, errno, "setsockopt");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail_and_close(fd, errno, "bind");
    }
    if (::listen(fd, backlog) != 0) {
        return fail_and_close(fd, errno, "listen");
    }
    return FdResult{fd, {}};
}

FdResult accept_connection(int listen_fd) {
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return FdResult{-1, SysError{errno, "accept4"}};
    }
    return FdResult{fd, {}};
}

SendResult send_nowait(int fd, const char* data, std::size_t length) {
    const ssize_t taken = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (taken < 0) {
        return SendResult{-1, SysError{errno, "send"}};
    }
    return SendResult{static_cast<long>(taken), {}};
}

bool is_would_block(int number) {
    return number == EAGAIN || number == EWOULDBLOCK;
}

bool is_out_of_descriptors(int number) {
    return number == EMFILE || number == ENFILE;
}

int take_pending_error(int fd) {
    int number = 0;
    socklen_t length = sizeof number;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &number, &length) != 0) {
        return errno;
    }
    return number;
}

std::uint16_t local_port(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

int open_spare_descriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void close_descriptor(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

std::string error_text(int number) {
    char buffer[256];
    // The GNU variant returns the text, which may or may not live in buffer.
    return ::strerror_r(number, buffer, sizeof buffer);
}

}  // namespace platform
