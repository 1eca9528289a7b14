// Translation of the device-control record into termios and of received bytes through the
// record's error, NUL and abort rules; pure, so it is tested without a device.
#include "platform/serial_termios.h"

#include <termios.h>

namespace platform {
namespace {

std::uint32_t size_flag(std::uint8_t byte_size) {
    switch (byte_size) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Empty when the line can do what the record asks.
std::string_view refusal(const Dcb& dcb) {
    if (dcb.BaudRate == 0) {
        return "a rate of 0 hangs the line up";
    }
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) {
        return "the line carries 5 to 8 data bits";
    }
    if (dcb.Parity > 4) {
        return "unknown parity code";
    }
    if (dcb.StopBits > 2) {
        return "unknown stop bits code";
    }
    if (dcb.StopBits == 1 && dcb.ByteSize != 5) {
        return "one and a half stop bits exist only with 5 data bits";
    }
    if (dcb.StopBits == 2 && dcb.ByteSize == 5) {
        return "with 5 data bits the line sends one and a half stop bits, not two";
    }
    if (dcb.fBinary == 0) {
        return "only binary transfers are supported";
    }
    if (dcb.fOutxDsrFlow != 0 || dcb.fDtrControl == 2) {
        return "Linux has no DSR/DTR flow control";
    }
    if (dcb.fDsrSensitivity != 0) {
        return "Linux cannot drop received bytes by the DSR line";
    }
    if (dcb.fRtsControl == 3) {
        return "Linux has no RTS toggle control";
    }
    if ((dcb.fOutxCtsFlow != 0) != (dcb.fRtsControl == 2)) {
        return "Linux ties CTS output flow and RTS input flow together";
    }
    return {};
}

std::uint32_t parity_flags(std::uint8_t parity) {
    switch (parity) {
        case 1:
            return PARENB | PARODD;
        case 2:
            return PARENB;
        case 3:
            return PARENB | PARODD | CMSPAR;
        case 4:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

}  // namespace

Translation translate(const Dcb& dcb, const TermiosImage& current) {
    Translation t;
    t.refused = refusal(dcb);
    if (!t.refused.empty()) {
        return t;
    }
    TermiosImage im = current;
    // Raw: no line editing, echo, signals or CR/NL translation in either direction.
    im.iflag &= ~std::uint32_t{IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                               IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL};
    im.oflag &= ~std::uint32_t{OPOST};
    im.lflag &= ~std::uint32_t{ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN};
    im.cflag &= ~std::uint32_t{CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS};
    im.cflag |= CREAD | CLOCAL | size_flag(dcb.ByteSize) | parity_flags(dcb.Parity);
    if (dcb.StopBits != 0) {
        im.cflag |= CSTOPB;  // with 5 data bits the UART sends one and a half
    }
    if (dcb.fOutxCtsFlow != 0) {
        im.cflag |= CRTSCTS;
    }
    if (dcb.fParity != 0) {
        im.iflag |= INPCK;
    }
    if (dcb.fErrorChar != 0) {
        im.iflag |= PARMRK;
    }
    if (dcb.fOutX != 0) {
        im.iflag |= IXON;
    }
    if (dcb.fInX != 0) {
        im.iflag |= IXOFF;
    }
    im.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    im.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
    im.cc[VMIN] = 0;
    im.cc[VTIME] = 0;
    im.speed = dcb.BaudRate;
    t.image = im;
    t.rts = dcb.fRtsControl == 1 ? Level::Raise : dcb.fRtsControl == 0 ? Level::Lower : Level::Keep;
    t.dtr = dcb.fDtrControl == 1 ? Level::Raise : Level::Lower;
    return t;
}

Dcb dcb_from_termios(const TermiosImage& image, const Dcb& remembered) {
    Dcb dcb = remembered;
    dcb.DCBlength = 28;
    dcb.BaudRate = image.speed;
    switch (image.cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    const bool mark_space = (image.cflag & CMSPAR) != 0;
    const bool odd = (image.cflag & PARODD) != 0;
    if ((image.cflag & PARENB) == 0) {
        dcb.Parity = 0;
    } else if (mark_space) {
        dcb.Parity = odd ? 3 : 4;
    } else {
        dcb.Parity = odd ? 1 : 2;
    }
    dcb.StopBits = (image.cflag & CSTOPB) == 0 ? 0 : dcb.ByteSize == 5 ? 1 : 2;
    dcb.fBinary = (image.lflag & ICANON) == 0 && (image.oflag & OPOST) == 0 ? 1 : 0;
    dcb.fParity = (image.iflag & INPCK) != 0 ? 1 : 0;
    const bool hardware = (image.cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = hardware ? 1 : 0;
    if (hardware) {
        dcb.fRtsControl = 2;
    } else if (dcb.fRtsControl == 2) {
        dcb.fRtsControl = 1;
    }
    dcb.fErrorChar = (image.iflag & PARMRK) != 0 ? 1 : 0;
    dcb.fOutX = (image.iflag & IXON) != 0 ? 1 : 0;
    dcb.fInX = (image.iflag & IXOFF) != 0 ? 1 : 0;
    dcb.XonChar = static_cast<char>(image.cc[VSTART]);
    dcb.XoffChar = static_cast<char>(image.cc[VSTOP]);
    return dcb;
}

void ReceiveFilter::configure(bool marks, char error_char, bool discard_nul) {
    if (marks != marks_) {
        carry_ = 0;
    }
    marks_ = marks;
    error_char_ = static_cast<std::uint8_t>(error_char);
    discard_nul_ = discard_nul;
}

std::size_t ReceiveFilter::apply(std::uint8_t* data, std::size_t n) {
    std::size_t out = 0;
    auto emit = [&](std::uint8_t b) {
        if (!(discard_nul_ && b == 0)) {
            data[out++] = b;
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        if (!marks_) {
            emit(b);
        } else if (carry_ == 0) {
            if (b == 0xFF) {
                carry_ = 1;
            } else {
                emit(b);
            }
        } else if (carry_ == 1) {
            if (b == 0xFF) {
                carry_ = 0;
                emit(0xFF);
            } else if (b == 0x00) {
                carry_ = 2;
            } else {
                carry_ = 0;  // not a mark the driver makes: pass both through
                emit(0xFF);
                emit(b);
            }
        } else {
            carry_ = 0;
            emit(error_char_);
        }
    }
    return out;
}

}  // namespace platform
