#include "ZComm/comm_thread.h"

#include <system_error>
#include <utility>

#include "platform/serial_watch.h"

TCommThread::TCommThread(TZComm* owner, int comm_handle,
                         std::shared_ptr<platform::EventFd> target_window,
                         std::shared_ptr<platform::EventFd> ack,
                         std::shared_ptr<platform::EventFd> stop)
    : FAckEvent(std::move(ack)),
      FCommHandle(comm_handle),
      FTargetWindow(std::move(target_window)),
      FOwnerComm(owner),
      stop_(std::move(stop)) {
    if (stop_ && stop_->valid() && FAckEvent && FAckEvent->valid()) {
        watch_ = std::make_unique<platform::ReceiveWatch>(FCommHandle, stop_->fd());
    }
}

TCommThread::~TCommThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TCommThread::Resume(bool below_normal) {
    try {
        thread_ = std::thread([this, below_normal] { Execute(below_normal); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TCommThread::Execute(bool below_normal) {
    if (below_normal) {
        platform::lower_current_thread_priority();
    }
    // Without its wait set the watcher cannot see the port or its stop: it ends at once.
    if (!watch_ || !watch_->valid()) {
        Terminate();
    }
    while (!terminated_.load(std::memory_order_acquire)) {
        phase_.store(Phase::WaitingForEvent, std::memory_order_release);
        const auto wake = watch_->wait();
        wakeups_.fetch_add(1, std::memory_order_acq_rel);
        if (wake == platform::ReceiveWatch::Wake::Failed) {
            Terminate();  // a broken wait set would only spin
            continue;
        }
        if (wake == platform::ReceiveWatch::Wake::Stopped) {
            // The stop event precedes the flag by a moment; the flag decides.
            std::this_thread::yield();
            continue;
        }
        if (wake != platform::ReceiveWatch::Wake::Received) {
            continue;
        }
        phase_.store(Phase::WaitingForAck, std::memory_order_release);
        if (platform::wait_for_ack(*FAckEvent, *stop_) != platform::AckWait::Acknowledged) {
            continue;
        }
        if (FTargetWindow && FTargetWindow->signal()) {
            posts_.fetch_add(1, std::memory_order_acq_rel);
        }
    }
    // Its own descriptors go with it; the thread object may live on until it is released.
    watch_.reset();
    FAckEvent.reset();
    FTargetWindow.reset();
    stop_.reset();
    phase_.store(Phase::Ended, std::memory_order_release);
}
