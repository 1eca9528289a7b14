// Real TCP clients on 127.0.0.1 for the server's tests, and helpers that run
// the Qt loop while waiting for a condition.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace net_test {

using namespace std::chrono_literals;

// Runs the Qt event loop until pred() holds or the timeout passes; returns pred().
bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s);

// Runs the Qt event loop for a number of passes, each handling what is pending.
void run_loop_passes(int passes);

// One client connection, blocking connect, then non-blocking reads.
class LoopbackClient {
  public:
    // Connects to 127.0.0.1:port. receive_buffer > 0 shrinks SO_RCVBUF first.
    explicit LoopbackClient(std::uint16_t port, int receive_buffer = 0);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    std::uint16_t local_port() const;

    // Reads whatever has arrived, appending it to received(); returns false
    // once the server has closed the connection (EOF or reset).
    bool drain();
    // Waits (poll, no Qt loop) until received() holds at least size bytes.
    bool wait_for_bytes(std::size_t size, std::chrono::milliseconds timeout = 5s);
    // Waits until the server closes the connection (EOF or reset).
    bool wait_for_close(std::chrono::milliseconds timeout = 5s);
    const std::string& received() const { return received_; }
    void clear_received() { received_.clear(); }

    // Sends as much as the socket takes without blocking; returns the bytes taken.
    std::size_t send_without_blocking(const std::string& data);
    // Abortive close: SO_LINGER 0, so the server sees a reset.
    void reset();
    // Orderly close.
    void close();
    // Half-close: no more data from this side.
    void shutdown_write();

  private:
    int fd_ = -1;
    bool closed_by_server_ = false;
    std::string received_;
};

// Text of a test line, distinct per sequence number: "line 000042\r\n".
std::string numbered_line(int sequence);

}  // namespace net_test
