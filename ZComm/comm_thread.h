// TCommThread: the watcher of one connection. It waits for received characters and posts one
// notification at a time to the component's hidden window, until it is told to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class TZComm;
namespace platform {
class EventFd;
class ReceiveWatch;
}  // namespace platform

class TCommThread {
  public:
    enum class Phase : int { Suspended, WaitingForEvent, WaitingForAck, Ended };

    // Made suspended on the UI thread. It keeps copies of the descriptors it needs: the
    // acknowledgement, the port (registered here, never used by number afterwards), the hidden
    // window and the stop event of this opening.
    TCommThread(TZComm* owner, int comm_handle, std::shared_ptr<platform::EventFd> target_window,
                std::shared_ptr<platform::EventFd> ack, std::shared_ptr<platform::EventFd> stop);
    // Joins the thread; only call after Terminate and a stop event (it then ends at once).
    ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Runs the body with a priority one step below the caller's when `below_normal`.
    // False when no thread could be started.
    bool Resume(bool below_normal);
    // Sets the stop flag; the body looks at it before each wait.
    void Terminate() { terminated_.store(true, std::memory_order_release); }
    bool Finished() const { return phase() == Phase::Ended; }

    // Observers for tests and diagnostics, safe from any thread.
    Phase phase() const { return phase_.load(std::memory_order_acquire); }
    std::uint64_t wakeups() const { return wakeups_.load(std::memory_order_acquire); }
    std::uint64_t posts() const { return posts_.load(std::memory_order_acquire); }

  private:
    void Execute(bool below_normal);

    std::shared_ptr<platform::EventFd> FAckEvent;
    int FCommHandle;
    std::shared_ptr<platform::EventFd> FTargetWindow;
    TZComm* FOwnerComm;  // held, not used
    std::shared_ptr<platform::EventFd> stop_;
    std::unique_ptr<platform::ReceiveWatch> watch_;
    std::atomic<bool> terminated_{false};
    std::atomic<Phase> phase_{Phase::Suspended};
    std::atomic<std::uint64_t> wakeups_{0};
    std::atomic<std::uint64_t> posts_{0};
    std::thread thread_;
};
