// The one place where a device-control record becomes a termios image and back, as pure functions
// so that every setting and every refusal can be checked without a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/serial_dcb.h"

namespace platform {

// What the kernel's termios2 holds, without the kernel's header (it clashes with glibc's).
// Flag values are the same in both headers; cc indices are the kernel's (19 entries).
struct TermiosImage {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::array<std::uint8_t, 19> cc{};
    std::uint32_t speed = 0;  // bits per second, both directions
};

enum class Level : std::uint8_t { Keep, Raise, Lower };

struct Translation {
    TermiosImage image;
    Level rts = Level::Keep;  // modem lines that the record drives outside termios
    Level dtr = Level::Keep;
    std::string_view refused;  // empty when accepted; otherwise why the line cannot do it
};

// Builds the image for `dcb` on top of `current` (bits we do not own are kept).
Translation translate(const Dcb& dcb, const TermiosImage& current);

// Reads back what an image says; members termios cannot hold come from `remembered`.
Dcb dcb_from_termios(const TermiosImage& image, const Dcb& remembered);

// Our own receive path for what the record asks of received bytes: with error marking on, the
// driver sends a byte in error as 0xFF 0x00 byte and a real 0xFF as 0xFF 0xFF; those become
// `error_char` and 0xFF. With NUL discarding, zero bytes are dropped. A mark split across two
// reads is carried to the next one.
class ReceiveFilter {
  public:
    void configure(bool marks, char error_char, bool discard_nul);
    void reset() { carry_ = 0; }
    // Filters `data` in place and returns how many bytes remain.
    std::size_t apply(std::uint8_t* data, std::size_t n);

  private:
    bool marks_ = false;
    bool discard_nul_ = false;
    std::uint8_t error_char_ = 0;
    int carry_ = 0;  // 1 after 0xFF, 2 after 0xFF 0x00
};

}  // namespace platform
