// Thin wrappers over the BSD socket calls the TCP server needs. Each wrapper
// captures errno at the failure site together with the name of the call, so
// that the server can build its error text in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A failed system call: its errno and its name ("bind", "accept4", ...).
// number == 0 means success.
struct SysError {
    int number = 0;
    const char* call = "";
    bool failed() const { return number != 0; }
};

// A descriptor or the reason there is none (fd == -1 then).
struct FdResult {
    int fd = -1;
    SysError error;
};

// Creates a non-blocking, close-on-exec IPv4 TCP socket with SO_REUSEADDR,
// binds it to 0.0.0.0:port and listens with the given backlog. On failure the
// socket is closed again and the error names the call that failed ("socket",
// "setsockopt", "bind", "listen").
FdResult open_listener(std::uint16_t port, int backlog);

// Takes one pending connection as a non-blocking, close-on-exec descriptor.
FdResult accept_connection(int listen_fd);

// Result of one send: bytes taken, or -1 with the error.
struct SendResult {
    long taken = -1;
    SysError error;
};

// One non-blocking send that never raises SIGPIPE.
SendResult send_nowait(int fd, const char* data, std::size_t length);

// True for the errors that only mean "the buffers are full, try later".
bool is_would_block(int number);

// True for the errors of a process or system out of descriptors.
bool is_out_of_descriptors(int number);

// The pending error of a socket (SO_ERROR), which reading clears; 0 if none.
int take_pending_error(int fd);

// The local port a socket is bound to, or 0 if it cannot be read.
std::uint16_t local_port(int fd);

// Opens a spare descriptor on /dev/null, kept to be given up when accept runs
// out of descriptors; -1 if none could be opened.
int open_spare_descriptor();

// Closes a descriptor if it is valid; EINTR is not retried (Linux has closed it).
void close_descriptor(int fd);

// The system's text for an error number, in the process's locale.
std::string error_text(int number);

}  // namespace platform
