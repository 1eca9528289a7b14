// Reading and writing the kernel's termios2, which sets any baud rate exactly.
#pragma once

#include "platform/serial_termios.h"

namespace platform {

// Both return 0 on success, otherwise the errno of the failed ioctl.
int read_termios2(int fd, TermiosImage& out);
int write_termios2(int fd, const TermiosImage& image);

}  // namespace platform
