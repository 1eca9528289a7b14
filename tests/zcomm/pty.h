// A pseudo-terminal standing in for a serial line: the component opens the slave side by its
// path, the test talks on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <dirent.h>
#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace zcomm_test {

class Pty {
  public:
    Pty() {
        char name[64] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
            fcntl(master_, F_SETFD, FD_CLOEXEC);
            fcntl(slave_, F_SETFD, FD_CLOEXEC);
        }
    }
    ~Pty() {
        close_master();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    // The test's own handle on the slave, for reading back what the line holds.
    int slave() const { return slave_; }

    // The line vanishes for whoever holds the slave.
    void close_master() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    bool send(const std::string& bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads from the master until `n` bytes came or `timeout` passed.
    std::string receive(std::size_t n,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{master_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buf[4096];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) {
                break;
            }
            got.append(buf, static_cast<std::size_t>(r));
        }
        return got;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

enum class Events { Process, Hold };

// Waits for `done` with a timeout; with Events::Process the UI thread's events are handled
// meanwhile (notifications reach the component), with Events::Hold they wait.
inline bool wait_until(const std::function<bool()>& done, Events events = Events::Process,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        if (events == Events::Process) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline int count_entries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

inline int open_descriptors() {
    return count_entries("/proc/self/fd");
}
inline int running_threads() {
    return count_entries("/proc/self/task");
}

}  // namespace zcomm_test
