#include "net/server_socket.h"

#include <QMetaObject>
#include <cstring>

namespace net {

std::string socket_error_text(int number, const char* call) {
    return "Windows socket error: " + platform::error_text(number) + " (" + std::to_string(number) +
           "), on API '" + call + "'";
}

namespace {

std::string async_error_text(int number) {
    return "Asynchronous socket error " + std::to_string(number);
}

}  // namespace

// --- TCustomWinSocket ---

int TCustomWinSocket::send_text(const char* text) {
    return send_buf(text, static_cast<int>(std::strlen(text)));
}

int TCustomWinSocket::send_buf(const char* data, int length) {
    if (fd_ < 0) {
        return 0;
    }
    const platform::SendResult result =
        platform::send_nowait(fd_, data, static_cast<std::size_t>(length));
    if (!result.error.failed()) {
        return static_cast<int>(result.taken);
    }
    if (platform::is_would_block(result.error.number)) {
        return -1;  // the telegram is lost for this client only
    }
    int code = result.error.number;
    server_.report(this, eeSend, code);
    close();
    if (code != 0) {
        throw ESocketError(socket_error_text(code, "send"));
    }
    return -1;
}

void TCustomWinSocket::close() {
    if (fd_ >= 0) {
        server_.close_connection(*this);
    }
}

// --- TServerSocket ---

TServerSocket::TServerSocket(QObject* parent) : QObject(parent) {
    engine_ = platform::ReadinessEngine::create(engine_error_);
}

TServerSocket::~TServerSocket() {
    stop();
}

void TServerSocket::setActive(bool active) {
    if (active && !Active()) {
        start();
    } else if (!active && Active()) {
        stop();
    }
}

std::uint16_t TServerSocket::bound_port() const {
    return Active() ? platform::local_port(listen_fd_) : 0;
}

TCustomWinSocket* TServerSocket::connection(int i) const {
    if (i < 0 || i >= active_connections()) {
        return nullptr;
    }
    return connections_[static_cast<std::size_t>(i)].get();
}

std::uint64_t TServerSocket::dispatch_count() const {
    return engine_ ? engine_->dispatch_count() : 0;
}

void TServerSocket::process_ready() {
    if (engine_) {
        engine_->dispatch();
    }
}

void TServerSocket::start() {
    if (!engine_) {
        throw ESocketError(socket_error_text(engine_error_.number, engine_error_.call));
    }
    const platform::FdResult listener =
        platform::open_listener(static_cast<std::uint16_t>(port_), kBacklog);
    if (listener.error.failed()) {
        if (std::strcmp(listener.error.call, "socket") == 0) {
            throw ESocketError("Can't create new socket");
        }
        throw ESocketError(socket_error_text(listener.error.number, listener.error.call));
    }
    const platform::SysError added = engine_->add(
        listener.fd, platform::kInput, [this](std::uint32_t events) { on_listener_ready(events); });
    if (added.failed()) {
        platform::close_descriptor(listener.fd);
        throw ESocketError(socket_error_text(added.number, added.call));
    }
    listen_fd_ = listener.fd;
    listener_paused_ = false;
    // Kept to be given up when descriptors run out (see drop_pending_connection).
    spare_fd_ = platform::open_spare_descriptor();
}

void TServerSocket::stop() {
    if (!engine_) {
        return;
    }
    while (!connections_.empty()) {
        TCustomWinSocket& newest = *connections_.back();
        if (newest.fd_ >= 0) {
            engine_->remove(newest.fd_);
            platform::close_descriptor(newest.fd_);
            newest.fd_ = -1;
        }
        connections_.pop_back();
    }
    if (listen_fd_ >= 0) {
        engine_->remove(listen_fd_);
        platform::close_descriptor(listen_fd_);
        listen_fd_ = -1;
    }
    platform::close_descriptor(spare_fd_);
    spare_fd_ = -1;
}

void TServerSocket::on_listener_ready(std::uint32_t events) {
    if (events & platform::kError) {
        const int code = platform::take_pending_error(listen_fd_);
        if (code != 0) {
            throw ESocketError(async_error_text(code));
        }
    }
    accept_one();
}

void TServerSocket::accept_one() {
    const platform::FdResult accepted = platform::accept_connection(listen_fd_);
    if (accepted.error.failed()) {
        if (platform::is_out_of_descriptors(accepted.error.number)) {
            drop_pending_connection();
        }
        return;  // a failed accept is dropped silently
    }
    auto client = std::unique_ptr<TCustomWinSocket>(new TCustomWinSocket(*this, accepted.fd));
    TCustomWinSocket* raw = client.get();
    // No kInput: unread input must not keep the socket ready, or the UI
    // thread would spin on every client that sends something.
    const platform::SysError added =
        engine_->add(accepted.fd, platform::kPeerClosed,
                     [this, raw](std::uint32_t events) { on_client_ready(raw, events); });
    if (added.failed()) {
        platform::close_descriptor(accepted.fd);
        return;
    }
    connections_.push_back(std::move(client));
    int code = platform::take_pending_error(accepted.fd);
    if (code != 0) {
        report(raw, eeConnect, code);
        if (code != 0) {
            throw ESocketError(async_error_text(code));
        }
    }
}

// Out of descriptors, accept fails but the connection stays pending and the
// level-triggered listener would wake the UI thread forever. Giving up the
// spare descriptor lets us accept the connection just to close it; without a
// spare, the listener is silenced until one of our connections closes.
void TServerSocket::drop_pending_connection() {
    if (spare_fd_ >= 0) {
        platform::close_descriptor(spare_fd_);
        const platform::FdResult accepted = platform::accept_connection(listen_fd_);
        platform::close_descriptor(accepted.fd);
        spare_fd_ = platform::open_spare_descriptor();
    }
    if (spare_fd_ < 0) {
        pause_listener(true);
    }
}

void TServerSocket::pause_listener(bool paused) {
    if (listen_fd_ < 0 || listener_paused_ == paused) {
        return;
    }
    if (!engine_->modify(listen_fd_, paused ? 0u : platform::kInput).failed()) {
        listener_paused_ = paused;
    }
}

void TServerSocket::on_client_ready(TCustomWinSocket* client, std::uint32_t events) {
    if (events & platform::kError) {
        int code = platform::take_pending_error(client->fd_);
        if (code != 0) {
            // The socket stays open and listed until a send to it fails; it is
            // no longer watched, so its lasting error cannot wake us again.
            engine_->remove(client->fd_);
            const bool hung_up = (events & (platform::kHangUp | platform::kPeerClosed)) != 0;
            report(client, hung_up ? eeDisconnect : eeReceive, code);
            if (code != 0) {
                throw ESocketError(async_error_text(code));
            }
            return;
        }
    }
    if (events & (platform::kPeerClosed | platform::kHangUp)) {
        client->close();  // orderly close, even with input left unread
    }
}

void TServerSocket::close_connection(TCustomWinSocket& client) {
    engine_->remove(client.fd_);
    platform::close_descriptor(client.fd_);
    client.fd_ = -1;
    if (spare_fd_ < 0) {
        spare_fd_ = platform::open_spare_descriptor();
    }
    pause_listener(false);
    // "After the current event": a queued call runs once control is back in
    // the Qt loop, so a connection closed in the middle of a telegram's loop
    // keeps its place until that loop and its event are over.
    if (!removal_posted_) {
        removal_posted_ = true;
        QMetaObject::invokeMethod(this, &TServerSocket::remove_closed, Qt::QueuedConnection);
    }
}

void TServerSocket::remove_closed() {
    removal_posted_ = false;
    std::erase_if(connections_, [](const auto& client) { return client->fd_ < 0; });
}

void TServerSocket::report(TCustomWinSocket* client, TErrorEvent kind, int& code) {
    if (OnClientError) {
        OnClientError(this, client, kind, code);
    }
}

void write_to_every_client(TServerSocket& server, const char* text) {
    for (int i = 0; i < server.active_connections(); ++i) {
        server.connection(i)->send_text(text);
    }
}

}  // namespace net
