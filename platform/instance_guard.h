// The machine-wide single-instance lock. An abstract Unix socket bound to the lock's name is
// released by the kernel the moment its holder dies, leaves nothing on disk to clean up, and is
// per network namespace, i.e. per machine, like the program's TCP port.
#pragma once

#include <string>

namespace platform {

enum class AcquireResult {
    Acquired,       // this process now holds the lock
    HeldElsewhere,  // another process holds it
    Failed          // the lock could not be tried; error() says why
};

// Holds the lock from a successful acquire() until release() or destruction. The descriptor is
// close-on-exec, so a program started from this one never inherits the lock.
class InstanceGuard {
  public:
    // `name` is the lock's name (at most 107 bytes); the program uses "Quarvel".
    explicit InstanceGuard(std::string name = "Quarvel");
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // Tries to take the lock; never blocks. Acquiring while already held returns Acquired.
    AcquireResult acquire();
    // Gives the lock up; nothing happens when it is not held.
    void release();
    bool held() const { return fd_ >= 0; }
    // After Failed: the failing call and its errno text, e.g. "socket: Too many open files".
    const std::string& error() const { return error_; }

  private:
    std::string name_;
    std::string error_;
    int fd_ = -1;
};

}  // namespace platform
