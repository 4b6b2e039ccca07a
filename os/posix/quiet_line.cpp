#include "os/posix/quiet_line.h"

#include <termios.h>

namespace zl {

void QuietLine(int fd) {
    termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);  // keeps the speed
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }
    tcflush(fd, TCIFLUSH);
}

}  // namespace zl
