#include "ZComm/zcomm.h"

#include <QSocketNotifier>
#include <algorithm>
#include <vector>

#include "ZComm/comm_thread.h"
#include "ZComm/device_control.h"
#include "platform/serial_watch.h"

namespace {

// The device path buffer holds 15 characters and a terminating zero.
constexpr std::size_t kMaxPortLength = 15;

}  // namespace

TZComm::TZComm(QObject* AOwner)
    : QObject(AOwner), FHiddenWindow(std::make_shared<platform::EventFd>()) {
    if (FHiddenWindow->valid()) {
        hidden_window_notifier_ =
            new QSocketNotifier(FHiddenWindow->fd(), QSocketNotifier::Read, this);
        QObject::connect(hidden_window_notifier_, &QSocketNotifier::activated, this,
                         [this] { notification_arrived(); });
    }
}

TZComm::~TZComm() {
    FState = 1;
    delete hidden_window_notifier_;  // before the descriptor it watches goes
    if (FConnected != 0) {
        CloseConnection();
    }
    if (FCommThread) {
        FCommThread->Terminate();
        retired_.push_back(std::move(FCommThread));
    }
    retired_.clear();  // each was told to stop and woken: the joins return at once
}

void TZComm::notification_arrived() {
    if (!FHiddenWindow->consume()) {
        return;
    }
    TMessage message;
    message.Msg = WM_USER;
    message.WParam = static_cast<std::uintptr_t>(FCommHandle.fd());
    WindowMessageProc(message);
}

void TZComm::WindowMessageProc(TMessage& Message) {
    // Consent to ending the session. Qt's session manager needs nothing for that: consent is
    // what it assumes unless someone cancels, and this component never does.
    if (Message.Msg == WM_QUERYENDSESSION || Message.Msg == WM_ENDSESSION) {
        Message.Result = 1;
    } else if (Message.Msg == WM_USER) {
        MessageCOMM(Message);
    }
}

int TZComm::MessageCOMM(TMessage&) {
    if (FConnected == 0) {
        return 0;
    }
    if (OnDataAvailable) {
        OnDataAvailable(this);
    }
    // The handler may have closed the connection; the event is shared, so this stays harmless.
    if (FAckEvent) {
        FAckEvent->signal();
    }
    return 1;
}

void TZComm::release_ended_watchers() {
    std::erase_if(retired_, [](const std::unique_ptr<TCommThread>& t) { return t->Finished(); });
}

int TZComm::OpenConnection() {
    if (FConnected != 0 || Port.size() > kMaxPortLength) {
        return 0;
    }
    if (!FCommHandle.open(Port)) {
        return 0;
    }
    FCommHandle.set_mask(platform::kEvRxChar);
    FCommHandle.setup_queues(static_cast<std::uint32_t>(InputQueueSize),
                             static_cast<std::uint32_t>(OutputQueueSize));
    SetTimeouts();
    const int result = SetConnection();
    if (result == 0) {
        FConnected = 0;
        FCommHandle.close();
        return 0;
    }
    FConnected = 1;

    if (FCommThread) {
        retired_.push_back(std::move(FCommThread));
    }
    release_ended_watchers();
    // A fresh acknowledgement per connection, signalled so that the first notification passes.
    FAckEvent = std::make_shared<platform::EventFd>(true);
    FCommThread = std::make_unique<TCommThread>(this, FCommHandle.fd(), FHiddenWindow, FAckEvent,
                                                FCommHandle.stop_event());
    if (!FCommThread->Resume(true)) {
        FCommThread.reset();
        FConnected = 0;
        FCommHandle.close();
        return 0;
    }
    return result;
}

int TZComm::SetConnection() {
    platform::Dcb dcb;
    FCommHandle.get_state(dcb);
    return FCommHandle.set_state(zcomm::device_control(*this, dcb)) ? 1 : 0;
}

int TZComm::SetTimeouts() {
    return FCommHandle.set_timeouts(zcomm::comm_timeouts(*this)) ? 1 : 0;
}

int TZComm::GetTimeouts() {
    platform::CommTimeouts t;
    if (!FCommHandle.get_timeouts(t)) {
        return 0;  // the properties keep their values
    }
    TimeoutReadInterval = static_cast<std::int32_t>(t.ReadIntervalTimeout);
    TimeoutReadMultiplier = static_cast<std::int32_t>(t.ReadTotalTimeoutMultiplier);
    TimeoutReadConstant = static_cast<std::int32_t>(t.ReadTotalTimeoutConstant);
    TimeoutWriteMultiplier = static_cast<std::int32_t>(t.WriteTotalTimeoutMultiplier);
    TimeoutWriteConstant = static_cast<std::int32_t>(t.WriteTotalTimeoutConstant);
    return 1;
}

int TZComm::SetFlowCtl(std::int32_t on) {
    platform::Dcb dcb;
    if (!FCommHandle.get_state(dcb)) {
        return 0;
    }
    dcb.fOutX = static_cast<std::uint8_t>(on & 1);
    dcb.fInX = static_cast<std::uint8_t>(on & 1);
    return FCommHandle.set_state(dcb) ? 1 : 0;
}

int TZComm::CloseConnection() {
    FConnected = 0;
    FCommHandle.set_mask(0);
    if (FCommThread) {
        FCommThread->Terminate();
    }
    FCommHandle.purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
                      platform::kPurgeRxClear);
    FCommHandle.close();
    // A notification posted before the close is void now.
    FHiddenWindow->consume();
    release_ended_watchers();
    return 1;
}

int TZComm::WriteCommByte(std::uint8_t byte) {
    return FCommHandle.write_byte(byte, write_wait_) == platform::WriteResult::TimedOut ? 0 : 1;
}

int TZComm::WriteComm(const void* data, std::int32_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    int result = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        result = WriteCommByte(bytes[i]);
    }
    return result;
}

int TZComm::ReadComm(void* buffer, std::int32_t count) {
    std::uint32_t errors = 0;
    platform::ComStat stat;
    if (count <= 0 || !FCommHandle.clear_error(errors, stat)) {
        return 0;
    }
    if (errors != 0 && OnErrorOccurred) {
        OnErrorOccurred(this, static_cast<std::int32_t>(errors), "Read Error");
    }
    const std::uint32_t n = std::min(static_cast<std::uint32_t>(count), stat.cbInQue);
    if (n == 0) {
        return 0;
    }
    const int got = FCommHandle.read(static_cast<std::uint8_t*>(buffer), n, kReadWait);
    return got < 0 ? 0 : got;
}

std::string TZComm::GetText() {
    if (MaxReadLength <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(MaxReadLength), '\0');
    const int n = ReadComm(buffer.data(), MaxReadLength);
    if (n <= 0) {
        return {};
    }
    const auto end = std::find(buffer.begin(), buffer.begin() + n, '\0');
    FLastText.assign(buffer.begin(), end);
    return FLastText;
}

void TZComm::SetText(const std::string& text) {
    WriteComm(text.data(), static_cast<std::int32_t>(text.size()));
}

int TZComm::SetDTR() {
    return EscapeComm(platform::kSetDtr);
}
int TZComm::ClearDTR() {
    return EscapeComm(platform::kClrDtr);
}
int TZComm::SetRTS() {
    return EscapeComm(platform::kSetRts);
}
int TZComm::ClearRTS() {
    return EscapeComm(platform::kClrRts);
}

int TZComm::EscapeComm(std::uint32_t code) {
    return FCommHandle.escape(code) ? 1 : 0;
}

int TZComm::PurgeCommPort(std::uint32_t flags) {
    return FCommHandle.purge(flags) ? 1 : 0;
}

std::uint32_t TZComm::GetQCountIn() {
    std::uint32_t errors = 0;
    FCommHandle.clear_error(errors, FComStat);
    return FComStat.cbInQue;
}

std::uint32_t TZComm::GetQCountOut() {
    std::uint32_t errors = 0;
    FCommHandle.clear_error(errors, FComStat);
    return FComStat.cbOutQue;
}

std::uint32_t TZComm::GetTransmissionStatus() {
    std::uint32_t errors = 0;
    return FCommHandle.clear_error(errors, FComStat) ? errors : 0;
}
