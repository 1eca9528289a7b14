// The TCP broadcast server: a listening socket on the UI thread and the list of
// the clients it has accepted. It never reads what clients send and never
// waits: each telegram costs one non-blocking send per client.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/readiness_engine.h"
#include "platform/socket_calls.h"

namespace net {

// A socket failure raised by the server.
class ESocketError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Kinds of client error handed to OnClientError. On Linux they come from:
//   eeSend       - send() failed with anything but EAGAIN/EWOULDBLOCK;
//   eeReceive    - EPOLLERR with a pending SO_ERROR while the peer has not hung
//                  up (both directions still up);
//   eeConnect    - a freshly accepted socket already holds a pending SO_ERROR
//                  (typically reset by the peer while waiting to be accepted);
//   eeDisconnect - EPOLLERR with a pending SO_ERROR together with EPOLLHUP or
//                  EPOLLRDHUP: an abortive close such as a reset by the peer.
// eeGeneral and eeAccept are never reported.
enum TErrorEvent : int {
    eeGeneral = 0,
    eeSend = 1,
    eeReceive = 2,
    eeConnect = 3,
    eeDisconnect = 4,
    eeAccept = 5,
};

class TServerSocket;

// One accepted client connection. Owned by its TServerSocket; a pointer stays
// valid until the connection has been removed from the list.
class TCustomWinSocket {
  public:
    TCustomWinSocket(const TCustomWinSocket&) = delete;
    TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

    // Sends the text up to its NUL in one non-blocking send. Returns the bytes
    // taken (maybe fewer than given), 0 if the connection is closed, -1 on
    // failure. A failure other than would-block calls OnClientError (eeSend),
    // closes the connection and, if the handler left the error number
    // non-zero, raises ESocketError naming "send".
    int send_text(const char* text);
    // As send_text, for a byte range.
    int send_buf(const char* data, int length);
    // Closes the socket at once; the connection leaves the list after the
    // current Qt event has been handled.
    void close();
    // True until the connection has been closed.
    bool connected() const { return fd_ >= 0; }
    // The socket's descriptor, -1 once closed.
    int handle() const { return fd_; }

  private:
    friend class TServerSocket;
    TCustomWinSocket(TServerSocket& server, int fd) : server_(server), fd_(fd) {}

    TServerSocket& server_;
    int fd_;
};

// Handler of client errors: it may change ErrorCode; left non-zero, the error
// is raised as ESocketError.
using TSocketErrorEvent = std::function<void(QObject* Sender, TCustomWinSocket* Socket,
                                             TErrorEvent ErrorEvent, int& ErrorCode)>;

// Listens on 0.0.0.0:Port (IPv4, backlog 5) and keeps the accepted clients,
// oldest first. Every call is for the UI thread. Accepting and noticing a
// client's close happen in Qt events between other events, never during a call.
class TServerSocket : public QObject {
    Q_OBJECT
  public:
    // The epoll set is made here; if that fails, starting raises the error.
    explicit TServerSocket(QObject* parent = nullptr);
    ~TServerSocket() override;

    // True while listening.
    bool Active() const { return listen_fd_ >= 0; }
    // true: socket, bind, listen; on failure nothing is kept, Active stays
    // false and ESocketError is raised ("Can't create new socket" or the system
    // error naming "bind", "listen", ...). false: closes every connection,
    // newest first, and removes it at once, then closes the listener.
    void setActive(bool active);

    // The port to listen on (0 lets the system choose); takes effect at the
    // next start.
    int Port() const { return port_; }
    void setPort(int port) { port_ = port; }
    // The port actually listened on, 0 when not active.
    std::uint16_t bound_port() const;

    // Number of listed connections, closed ones awaiting removal included.
    int active_connections() const { return static_cast<int>(connections_.size()); }
    // Connection i, 0 being the oldest; nullptr outside 0..active_connections()-1.
    TCustomWinSocket* connection(int i) const;

    // How many readiness dispatches have run (each is one wake-up of the UI
    // thread for the sockets).
    std::uint64_t dispatch_count() const;
    // Handles every socket event pending now, as the Qt loop would; the
    // errors it raises (ESocketError) reach the caller.
    void process_ready();

    TSocketErrorEvent OnClientError;

  private:
    friend class TCustomWinSocket;
    static constexpr int kBacklog = 5;

    void start();
    void stop();
    void on_listener_ready(std::uint32_t events);
    void accept_one();
    void drop_pending_connection();
    void on_client_ready(TCustomWinSocket* client, std::uint32_t events);
    void close_connection(TCustomWinSocket& client);
    void remove_closed();
    void report(TCustomWinSocket* client, TErrorEvent kind, int& code);
    void pause_listener(bool paused);

    int port_ = 0;
    int listen_fd_ = -1;
    int spare_fd_ = -1;
    bool listener_paused_ = false;
    bool removal_posted_ = false;
    platform::SysError engine_error_;
    std::unique_ptr<platform::ReadinessEngine> engine_;
    std::vector<std::unique_ptr<TCustomWinSocket>> connections_;
};

// Sends the NUL-terminated text once to every listed connection, oldest first,
// reading the count anew before each pass; results are ignored.
void write_to_every_client(TServerSocket& server, const char* text);

// The text of a system error raised by the server:
// "Windows socket error: <system text> (<number>), on API '<call>'".
std::string socket_error_text(int number, const char* call);

}  // namespace net
