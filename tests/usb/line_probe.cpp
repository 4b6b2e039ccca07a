// Opens a port as the program does (CreatePortHandle, a mode string through BuildCommDCB,
// SetCommState) and reads back through a second descriptor what the tty driver took:
// speed, frame, flow control and the DTR/RTS lines. Runs in the QEMU guest as root (root
// may open a port held with TIOCEXCL), against the kernel's own USB serial driver.
//   line_probe COMn DEVICE MODE dtr=on|off rts=on|off
// Prints one line per check; exit 0 when every check holds.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/comm_dcb.h"
#include "platform/serial.h"

namespace {

int failures = 0;

void Check(const char* what, bool ok, const std::string& detail = "") {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
    if (!ok) ++failures;
}

speed_t SpeedConstant(uint32_t baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: line_probe COMn DEVICE MODE dtr=on|off rts=on|off\n");
        return 2;
    }
    const std::string com = argv[1], device = argv[2], mode = argv[3];
    const bool dtr = std::strcmp(argv[4], "dtr=on") == 0, rts = std::strcmp(argv[5], "rts=on") == 0;

    zl::PortHandle port = zl::CreatePortHandle(Wide("\\\\.\\" + com));
    Check("CreatePortHandle opens the port", port != nullptr, com + " -> " + zl::ResolvePortPath(Wide("\\\\.\\" + com)));
    if (!port) return 1;
    // The second descriptor first: every open of a tty raises DTR and RTS again (the
    // kernel's tty_port_block_til_ready), which would hide what SetCommState did.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    Check("a second descriptor for reading back", fd >= 0, fd < 0 ? std::strerror(errno) : device);
    if (fd < 0) return 1;
    // The modem lines the other way round first, so that each one read back is the
    // program's doing.
    int dtrBit = TIOCM_DTR, rtsBit = TIOCM_RTS, before = 0;
    const bool flipped = ioctl(fd, dtr ? TIOCMBIC : TIOCMBIS, &dtrBit) == 0 &&
                         ioctl(fd, rts ? TIOCMBIC : TIOCMBIS, &rtsBit) == 0 && ioctl(fd, TIOCMGET, &before) == 0 &&
                         ((before & TIOCM_DTR) != 0) != dtr && ((before & TIOCM_RTS) != 0) != rts;
    Check("DTR and RTS set the other way first", flipped, std::to_string(before));

    zl::DCB dcb{};
    Check("BuildCommDCB takes the mode", zl::BuildCommDCB(Wide(mode), dcb), mode);
    dcb.fDtrControl = dtr ? zl::DTR_CONTROL_ENABLE : zl::DTR_CONTROL_DISABLE;
    dcb.fRtsControl = rts ? zl::RTS_CONTROL_ENABLE : zl::RTS_CONTROL_DISABLE;
    Check("SetCommState succeeds", port->SetCommState(dcb));

    int exclusive = 0;
    const bool gotExclusive = ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    Check("the port is held exclusively (TIOCGEXCL)", gotExclusive && exclusive == 1, std::to_string(exclusive));

    termios t{};
    const bool gotTermios = tcgetattr(fd, &t) == 0;
    Check("tcgetattr", gotTermios, gotTermios ? "" : std::strerror(errno));
    const speed_t want = SpeedConstant(dcb.BaudRate);
    Check("output speed", cfgetospeed(&t) == want, std::to_string(cfgetospeed(&t)) + " want " + std::to_string(want));
    Check("input speed", cfgetispeed(&t) == want || cfgetispeed(&t) == B0, std::to_string(cfgetispeed(&t)));
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    Check("data bits", (t.c_cflag & CSIZE) == sizes[dcb.ByteSize - 5], std::to_string(dcb.ByteSize));
    Check("parity", ((t.c_cflag & PARENB) != 0) == (dcb.Parity != zl::NOPARITY));
    Check("stop bits", ((t.c_cflag & CSTOPB) != 0) == (dcb.StopBits != zl::ONESTOPBIT));
    Check("no hardware flow control", (t.c_cflag & CRTSCTS) == 0);
    Check("local line, receiver on", (t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD));
    Check("raw input", (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (t.c_iflag & (IXON | IXOFF | ICRNL)) == 0);
    Check("raw output", (t.c_oflag & OPOST) == 0);

    int bits = 0;
    const bool gotBits = ioctl(fd, TIOCMGET, &bits) == 0;
    Check("TIOCMGET", gotBits, gotBits ? "" : std::strerror(errno));
    Check("DTR", ((bits & TIOCM_DTR) != 0) == dtr, dtr ? "want on" : "want off");
    Check("RTS", ((bits & TIOCM_RTS) != 0) == rts, rts ? "want on" : "want off");

    // A write through the program's path: the line clock and the wait on the driver's
    // output queue (TIOCOUTQ) both work on this driver.
    const uint8_t bytes[64] = {};
    uint32_t written = 0;
    const bool wrote = port->WriteFile(bytes, sizeof bytes, written);
    Check("WriteFile", wrote && written == sizeof bytes, std::to_string(written) + " bytes");
    int queued = -1;
    const bool gotQueue = ioctl(fd, TIOCOUTQ, &queued) == 0;
    Check("TIOCOUTQ", gotQueue && queued >= 0, std::to_string(queued) + " bytes queued");
    Check("the line is not lost", !port->LineLost());

    close(fd);
    port->Close();
    std::printf("%d failed\n", failures);
    return failures ? 1 : 0;
}
