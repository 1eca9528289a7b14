// The single-instance lock lives here because it is a Linux socket call; the entry point only
// sees acquire() and its answer.
#include "platform/instance_guard.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace platform {
namespace {

std::string errno_text(const char* call, int error) {
    return std::string(call) + ": " + std::strerror(error);
}

}  // namespace

InstanceGuard::InstanceGuard(std::string name) : name_(std::move(name)) {}

InstanceGuard::~InstanceGuard() {
    release();
}

AcquireResult InstanceGuard::acquire() {
    if (held()) {
        return AcquireResult::Acquired;
    }
    error_.clear();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract namespace: a leading NUL, then the name's bytes exactly, no terminator.
    if (name_.empty() || name_.size() > sizeof(address.sun_path) - 1) {
        error_ = "instance lock name must have 1 to 107 bytes";
        return AcquireResult::Failed;
    }
    std::memcpy(address.sun_path + 1, name_.data(), name_.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = errno_text("socket", errno);
        return AcquireResult::Failed;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EADDRINUSE) {
            return AcquireResult::HeldElsewhere;
        }
        error_ = errno_text("bind", error);
        return AcquireResult::Failed;
    }
    fd_ = fd;
    return AcquireResult::Acquired;
}

void InstanceGuard::release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
