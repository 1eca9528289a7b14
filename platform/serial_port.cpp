// Linux calls behind the serial device layer: open flags, locks, ioctls, tcflush/tcflow, poll.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/port_map.h"
#include "platform/serial_termios2.h"

namespace platform {
namespace {

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool wait_ready(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, remaining_ms(deadline));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::fail(const char* call) {
    error_ = {call, errno};
    return false;
}

bool SerialPort::open(const std::string& path) {
    if (fd_ >= 0) {
        errno = EBUSY;
        return fail("open");
    }
    // "\\.\COM3" names a port of the map; a plain path is opened as it is.
    const std::string device = device_path_for(path);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail("open");
    }
    // flock first: it is the test that fails for a second opener, root included, and failing it
    // must leave the holder's terminal as it was. A holder that marked the terminal exclusive
    // without flock keeps out everyone but root; root sees the mark through TIOCGEXCL and keeps
    // off too. TIOCEXCL then keeps out openers that do not flock, except root; between open and
    // these another opener may slip in, which nothing on Linux closes.
    TermiosImage image;
    int err = 0;
    int held = 0;
    const char* call = "flock";
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno;
    } else if (call = "ioctl(TIOCGEXCL)"; ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) {
        err = EBUSY;  // older kernels without TIOCGEXCL cannot tell; the open goes on there
    } else if (call = "ioctl(TIOCEXCL)"; ioctl(fd, TIOCEXCL) != 0) {
        err = errno;
    } else if (call = "ioctl(TCGETS2)"; (err = read_termios2(fd, image)) != 0) {
        ioctl(fd, TIOCNXCL);
    }
    if (err != 0) {
        ::close(fd);
        error_ = {call, err};
        return false;
    }
    fd_ = fd;
    image_ = image;
    remembered_ = Dcb{};
    timeouts_ = CommTimeouts{};
    filter_ = ReceiveFilter{};
    stop_ = std::make_shared<EventFd>();
    stopped_ = false;
    take_counters();  // errors from before our time are not ours
    return true;
}

void SerialPort::close() {
    if (fd_ < 0) {
        return;
    }
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    stop_.reset();
}

bool SerialPort::get_state(Dcb& dcb) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("GetCommState");
    }
    if (const int err = read_termios2(fd_, image_); err != 0) {
        errno = err;
        return fail("ioctl(TCGETS2)");
    }
    dcb = dcb_from_termios(image_, remembered_);
    return true;
}

bool SerialPort::set_state(const Dcb& dcb) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("SetCommState");
    }
    const Translation t = translate(dcb, image_);
    if (!t.refused.empty()) {
        errno = EINVAL;
        return fail("SetCommState");
    }
    if (const int err = write_termios2(fd_, t.image); err != 0) {
        errno = err;
        return fail("ioctl(TCSETS2)");
    }
    image_ = t.image;
    remembered_ = dcb;
    filter_.configure(dcb.fErrorChar != 0, dcb.ErrorChar, dcb.fNull != 0);
    // Devices without modem lines (pseudo-terminals) refuse these; the settings still hold.
    const int rts = TIOCM_RTS;
    const int dtr = TIOCM_DTR;
    if (t.rts != Level::Keep) {
        ioctl(fd_, t.rts == Level::Raise ? TIOCMBIS : TIOCMBIC, &rts);
    }
    if (t.dtr != Level::Keep) {
        ioctl(fd_, t.dtr == Level::Raise ? TIOCMBIS : TIOCMBIC, &dtr);
    }
    return true;
}

bool SerialPort::set_timeouts(const CommTimeouts& timeouts) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("SetCommTimeouts");
    }
    timeouts_ = timeouts;
    return true;
}

bool SerialPort::get_timeouts(CommTimeouts& timeouts) const {
    if (fd_ < 0) {
        return false;
    }
    timeouts = timeouts_;
    return true;
}

bool SerialPort::setup_queues(std::uint32_t, std::uint32_t) const {
    return fd_ >= 0;
}

bool SerialPort::set_mask(std::uint32_t mask) {
    if (fd_ < 0 || !stop_) {
        return false;
    }
    if (mask == 0) {
        stopped_ = true;
        return stop_->signal();
    }
    if (stopped_) {
        // The old event stays signalled for the watcher that it stopped; the next one gets a
        // fresh event.
        stop_ = std::make_shared<EventFd>();
        stopped_ = false;
    }
    return stop_->valid();
}

WriteResult SerialPort::write_byte(std::uint8_t byte, std::chrono::milliseconds bound) {
    if (fd_ < 0) {
        return WriteResult::Refused;
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const ssize_t n = ::write(fd_, &byte, 1);
        if (n == 1) {
            return WriteResult::Written;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            error_ = {"write", errno};
            return WriteResult::Refused;
        }
        if (!wait_ready(fd_, POLLOUT, deadline)) {
            return WriteResult::TimedOut;
        }
    }
}

int SerialPort::read(std::uint8_t* buffer, std::uint32_t n, std::chrono::milliseconds bound) {
    if (fd_ < 0) {
        return -1;
    }
    if (remembered_.fAbortOnError != 0 && pending_errors() != 0) {
        return -1;  // the record asks reads to stop until the errors are cleared
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, n);
        if (got >= 0) {
            return static_cast<int>(filter_.apply(buffer, static_cast<std::size_t>(got)));
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || !wait_ready(fd_, POLLIN, deadline)) {
            error_ = {"read", errno};
            return errno == EAGAIN ? 0 : -1;
        }
    }
}

std::uint32_t SerialPort::pending_errors() {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) {
        return 0;  // no error counters in this driver (pseudo-terminals have none)
    }
    std::uint32_t bits = 0;
    bits |= now.frame != counted_.frame ? kCeFrame : 0;
    bits |= now.overrun != counted_.overrun ? kCeOverrun : 0;
    bits |= now.parity != counted_.parity ? kCeRxParity : 0;
    bits |= now.brk != counted_.brk ? kCeBreak : 0;
    bits |= now.buf_overrun != counted_.buf_overrun ? kCeRxOver : 0;
    return bits;
}

void SerialPort::take_counters() {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) == 0) {
        counted_ = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
    }
}

bool SerialPort::clear_error(std::uint32_t& errors, ComStat& stat) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("ClearCommError");
    }
    int in = 0;
    int out = 0;
    if (ioctl(fd_, TIOCINQ, &in) != 0) {
        return fail("ioctl(TIOCINQ)");
    }
    if (ioctl(fd_, TIOCOUTQ, &out) != 0) {
        return fail("ioctl(TIOCOUTQ)");
    }
    errors = pending_errors();
    take_counters();
    stat.cbInQue = static_cast<std::uint32_t>(in);
    stat.cbOutQue = static_cast<std::uint32_t>(out);
    return true;
}

bool SerialPort::purge(std::uint32_t flags) {
    constexpr std::uint32_t kAll = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;
    if (fd_ < 0 || (flags & ~kAll) != 0) {
        errno = fd_ < 0 ? EBADF : EINVAL;
        return fail("PurgeComm");
    }
    const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (!rx && !tx) {
        return true;
    }
    if (tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) != 0) {
        return fail("tcflush");
    }
    if (rx) {
        filter_.reset();
    }
    return true;
}

bool SerialPort::escape(std::uint32_t code) {
    if (fd_ < 0) {
        errno = EBADF;
        return fail("EscapeCommFunction");
    }
    const int rts = TIOCM_RTS;
    const int dtr = TIOCM_DTR;
    int r = -1;
    switch (code) {
        case kSetXoff:
            r = tcflow(fd_, TCOOFF);
            break;
        case kSetXon:
            r = tcflow(fd_, TCOON);
            break;
        case kSetRts:
            r = ioctl(fd_, TIOCMBIS, &rts);
            break;
        case kClrRts:
            r = ioctl(fd_, TIOCMBIC, &rts);
            break;
        case kSetDtr:
            r = ioctl(fd_, TIOCMBIS, &dtr);
            break;
        case kClrDtr:
            r = ioctl(fd_, TIOCMBIC, &dtr);
            break;
        case kSetBreak:
            r = ioctl(fd_, TIOCSBRK);
            break;
        case kClrBreak:
            r = ioctl(fd_, TIOCCBRK);
            break;
        default:
            errno = EINVAL;  // kResetDev and unknown codes: nothing to do on Linux
            break;
    }
    return r == 0 || fail("EscapeCommFunction");
}

}  // namespace platform
