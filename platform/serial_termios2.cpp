// The kernel's <asm/termbits.h> declares its own struct termios and flag macros, which clash with
// glibc's <termios.h>; termios2 (TCGETS2/TCSETS2 with BOTHER) exists only there, and it is the only
// way to set a rate such as 128000 or 256000 that has no B-constant. So this file stays alone and
// never includes <termios.h>.
#include "platform/serial_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace platform {

int read_termios2(int fd, TermiosImage& out) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errno;
    }
    out.iflag = t.c_iflag;
    out.oflag = t.c_oflag;
    out.cflag = t.c_cflag;
    out.lflag = t.c_lflag;
    std::copy_n(t.c_cc, std::min<std::size_t>(NCCS, out.cc.size()), out.cc.begin());
    out.speed = t.c_ospeed;
    return 0;
}

int write_termios2(int fd, const TermiosImage& image) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errno;
    }
    t.c_iflag = image.iflag;
    t.c_oflag = image.oflag;
    t.c_lflag = image.lflag;
    // The input rate follows the output rate when its field in c_cflag is zero.
    t.c_cflag = (image.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
    t.c_ispeed = image.speed;
    t.c_ospeed = image.speed;
    std::copy_n(image.cc.begin(), std::min<std::size_t>(NCCS, image.cc.size()), t.c_cc);
    if (ioctl(fd, TCSETS2, &t) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace platform
