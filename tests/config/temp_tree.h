// A temporary directory tree for the port map tests, removed at the end of the test.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace config_test {

class TempTree {
  public:
    TempTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarvel-cfg-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }

    std::filesystem::path dir(const std::string& relative) const {
        auto path = root_ / relative;
        std::filesystem::create_directories(path);
        return path;
    }
    void file(const std::string& relative, const std::string& text) const {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void link(const std::string& relative, const std::filesystem::path& target) const {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::filesystem::create_symlink(target, root_ / relative);
    }

  private:
    std::filesystem::path root_;
};

// A real pseudo-terminal pair; the slave's path stands for a serial device.
class Pty {
  public:
    Pty() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            slave_path_ = name;
        }
    }
    ~Pty() {
        if (master_ >= 0) {
            ::close(master_);
        }
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    // Bytes that reached the master side: everything up to and including the first CR LF,
    // or whatever came before `timeout_ms` ran out (a bound, not a measurement).
    std::string read_line(int timeout_ms = 5000) const {
        std::string bytes;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!bytes.ends_with("\r\n")) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{master_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char c = 0;
            if (::read(master_, &c, 1) != 1) {
                break;
            }
            bytes.push_back(c);
        }
        return bytes;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

}  // namespace config_test
