// TZComm: the component that owns one serial port: its settings, opening, configuring and
// closing, writing and reading, line control, and a watcher thread that reports received data.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_dcb.h"
#include "platform/serial_port.h"

class QSocketNotifier;
class TCommThread;
namespace platform {
class EventFd;
}

enum TParity : std::uint8_t {
    no_parity = 0,
    odd_parity = 1,
    even_parity = 2,
    mark_parity = 3,
    space_parity = 4
};
// Data bits = code + 4.
enum TDataBits : std::uint8_t {
    databits4 = 0,
    databits5 = 1,
    databits6 = 2,
    databits7 = 3,
    databits8 = 4
};
enum TStopBits : std::uint8_t { stop1 = 0, stop1x5 = 1, stop2 = 2 };

// A message to the component's hidden window: number, two parameters, the answer.
struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline constexpr std::uint32_t WM_QUERYENDSESSION = 17;
inline constexpr std::uint32_t WM_ENDSESSION = 22;
inline constexpr std::uint32_t WM_USER = 1024;

// Every operation runs on the thread that made the component (the UI thread), raises no
// exception, shows no message and reports success as nonzero, failure as 0.
class TZComm : public QObject {
  public:
    using TNotifyEvent = std::function<void(TZComm* Sender)>;
    using TErrorEvent =
        std::function<void(TZComm* Sender, std::int32_t error, const std::string& errorstr)>;

    // How long one byte may wait for the device to take it.
    static constexpr std::chrono::milliseconds kWriteWait{2000};
    // How long a read may wait for bytes the queue already reported.
    static constexpr std::chrono::milliseconds kReadWait{1000};

    // Owned by `AOwner` like any QObject child (may be null).
    explicit TZComm(QObject* AOwner);
    // Sets State to 1. An open connection is closed and every watcher joined (they have all been
    // told to stop), so nothing is left running.
    ~TZComm() override;

    TZComm(const TZComm&) = delete;
    TZComm& operator=(const TZComm&) = delete;

    // --- Published properties (read/write stores) ---
    std::string Port;  // device path, at most 15 characters
    std::int32_t BaudRate = 9600;
    TParity Parity = no_parity;
    TDataBits DataBits = databits8;
    TStopBits StopBits = stop1;
    std::int32_t MaxReadLength = 8192;
    bool EnableParity = false;
    bool CTSFlowCtl = false;
    bool DSRFlowCtl = false;
    bool DSRSensitive = false;
    bool TXResume = false;
    bool XOuputFlowCtl = true;
    bool XInputFlowCtl = true;
    bool ErrorReplace = true;
    bool DiscardNULL = false;
    bool AbortOnError = false;
    std::int32_t InputQueueSize = 1024;
    std::int32_t OutputQueueSize = 1024;
    std::int32_t XOnLimit = 150;
    std::int32_t XOffLimit = 150;
    char XOnChar = 17;
    char XOffChar = 19;
    char ErrorChar = 126;
    std::int32_t TimeoutReadInterval = 65535;
    std::int32_t TimeoutReadMultiplier = 1;
    std::int32_t TimeoutReadConstant = 5000;
    std::int32_t TimeoutWriteMultiplier = 1;
    std::int32_t TimeoutWriteConstant = 5000;

    // Called on the UI thread, one call per notification of the watcher.
    TNotifyEvent OnDataAvailable;
    // Called by ReadComm when the port reports error bits, with errorstr "Read Error".
    TErrorEvent OnErrorOccurred;

    // --- Read-only properties ---
    // 2 from construction on, 1 once destruction begins.
    std::int32_t State() const { return FState; }
    // 1 from a successful OpenConnection until CloseConnection, else 0.
    std::int32_t Connected() const { return FConnected; }
    // Always "1.0.8"; SetVersion keeps its text in a store nothing reads.
    std::string Version() const { return FVersionRead; }
    void SetVersion(const std::string& text) { FVersionWritten = text; }

    // --- Connection ---
    // Opens Port exclusively, configures it and starts a new watcher. 0 when the port is
    // missing, busy, not permitted, longer than 15 characters, refuses the line settings, or
    // the component is already open; then nothing changes (a refused open is closed again).
    int OpenConnection();
    // Pushes the line settings into the open device. 0 when not open or the line cannot do them
    // (4 data bits, 1.5 stop bits with other than 5 data bits, DSR/DTR flow control, DSR
    // sensitivity); the port stays open and the properties keep their values.
    int SetConnection();
    // Writes / reads the five timeout properties; 0 when not open.
    int SetTimeouts();
    int GetTimeouts();
    // Switches software flow control of both directions by bit 0 of `on`, leaving the
    // properties as they are; 0 when not open.
    int SetFlowCtl(std::int32_t on);
    // Stops the watcher without waiting for it, discards both queues and closes. Always 1.
    int CloseConnection();

    // --- Data path ---
    // Writes `count` bytes one at a time; the result of the last byte (1 written or refused at
    // once, 0 timed out); 0 for a count of zero or less.
    int WriteComm(const void* data, std::int32_t count);
    int WriteCommByte(std::uint8_t byte);
    // Reads at most `count` bytes that have already arrived; 0 when none, not open, or count <= 0.
    int ReadComm(void* buffer, std::int32_t count);
    // The received bytes up to the first zero byte (at most MaxReadLength read), or "".
    std::string GetText();
    // Sends all of `text`, zero bytes included.
    void SetText(const std::string& text);

    // --- Line control and status (0 when not open or the device has no such line) ---
    int SetDTR();
    int ClearDTR();
    int SetRTS();
    int ClearRTS();
    int EscapeComm(std::uint32_t code);
    int PurgeCommPort(std::uint32_t flags);
    // Queue counts; the last ones known when the port cannot be asked (0 before any).
    std::uint32_t GetQCountIn();
    std::uint32_t GetQCountOut();
    // Error bits since the last query, which clears them; 0 when not open.
    std::uint32_t GetTransmissionStatus();

    // --- The hidden window ---
    // Answers 1 to the two end-of-session queries (consent) and 0 to everything else; WM_USER
    // is a watcher's notification and goes to MessageCOMM.
    void WindowMessageProc(TMessage& Message);
    // Calls OnDataAvailable and acknowledges; 0 (no call, no acknowledgement) when not connected.
    int MessageCOMM(TMessage& Message);

    // The watcher of the current or last connection; null before the first open.
    const TCommThread* comm_thread() const { return FCommThread.get(); }
    // Shortens the per-byte bound of writes (tests).
    void set_write_wait(std::chrono::milliseconds wait) { write_wait_ = wait; }

  private:
    void notification_arrived();
    void release_ended_watchers();

    std::unique_ptr<TCommThread> FCommThread;
    std::shared_ptr<platform::EventFd> FHiddenWindow;
    QSocketNotifier* hidden_window_notifier_ = nullptr;
    platform::SerialPort FCommHandle;
    std::shared_ptr<platform::EventFd> FAckEvent;
    std::string FLastText;
    platform::ComStat FComStat;
    std::int32_t FState = 2;
    std::int32_t FConnected = 0;
    std::string FVersionRead = "1.0.8";
    std::string FVersionWritten;
    // Watchers of earlier connections, told to stop, released once they have ended.
    std::vector<std::unique_ptr<TCommThread>> retired_;
    std::chrono::milliseconds write_wait_ = kWriteWait;
};
