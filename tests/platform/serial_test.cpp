// Serial ports on pseudo-terminals: names, exclusive opening, line settings, read
// time-outs, and closing while another thread is inside the port.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/line_clock.h"
#include "platform/serial.h"
#include "ports/com_name.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

using namespace std::chrono;
using test::PtyPair;
using test::TempEnv;

COMMTIMEOUTS Timeouts(uint32_t constant) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = constant;
    t.ReadTotalTimeoutConstant = constant;
    return t;
}

milliseconds TimeQuietRead(SerialPort& port) {
    uint8_t b;
    uint32_t n = 99;
    auto t0 = steady_clock::now();
    EXPECT_TRUE(port.ReadFile(&b, 1, n));
    EXPECT_EQ(n, 0u);
    return duration_cast<milliseconds>(steady_clock::now() - t0);
}

// A pseudo-terminal linked as COM3 in a temporary port directory.
class PortIo : public ::testing::Test {
protected:
    PortHandle OpenCom3() {
        env.LinkPort(3, pty.SlavePath());
        return CreatePortHandle(u"\\\\.\\COM3");
    }
    TempEnv env;
    PtyPair pty;
};

TEST(PortNames, LinksComeFirstAndTheDefaultTableCanBeSwitchedOff) {
    TempEnv env;
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM1"), "");  // tests switch the machine's ports off
    UseDefaultPortTable(true);
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM33"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM96"), "/dev/ttyACM31");
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM97"), "");
    env.LinkPort(1, "/nonexistent/device");
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM1"), env.PortDir() + "/com1");  // even a dangling link takes the number
    UseDefaultPortTable(false);
    for (const char16_t* bad : {u"\\\\.\\COM0", u"\\\\.\\COM257", u"\\\\.\\COMx", u"\\\\.\\LPT1", u"COM", u""})
        EXPECT_EQ(ResolvePortPath(bad), "");
    EXPECT_EQ(PortDirectory(), env.PortDir());
    // A number of this process's own leads to its device where no link names the number.
    AddProcessPort(200, "/dev/ttyUSB7");
    EXPECT_EQ(ResolvePortPath(u"COM200"), "/dev/ttyUSB7");
    env.LinkPort(200, "/dev/ttyS3");
    EXPECT_EQ(ResolvePortPath(u"\\\\.\\COM200"), env.PortDir() + "/com200");
    EXPECT_EQ(ParseComName(std::string("/dev/com1")), 0);  // a path, not a name
    EXPECT_EQ(ParseComName(std::string("com05")), -1);
    EXPECT_EQ(ComDeviceName(ParseComName(u"\\\\.\\Com256")), u"\\\\.\\COM256");
}

TEST(PortOpen, OnlyRealTerminalsOpenAndOnlyOnce) {
    TempEnv env;
    PtyPair pty;
    env.LinkPort(3, pty.SlavePath());
    env.LinkPort(4, "/nonexistent/device");
    const std::string plain = env.dir() + "/plain-file";
    std::ofstream(plain) << "not a terminal";
    env.LinkPort(5, plain);
    env.LinkPort(6, "/dev/null");

    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM4"), nullptr);
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM5"), nullptr);
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM6"), nullptr);
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM9"), nullptr);

    PortHandle first = CreatePortHandle(u"\\\\.\\COM3");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM3"), nullptr);  // exclusive, also for root
    first->Close();
    PortHandle again = CreatePortHandle(u"\\\\.\\COM3");
    ASSERT_NE(again, nullptr);
    again->Close();
    // A pseudo-terminal keeps TIOCEXCL after close unless it is cleared.
    int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int excl = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
    close(fd);
}

TEST(PortOpen, ATerminalProgramsLockFileOrExclusiveModeMakesThePortBusy) {
    TempEnv env;
    PtyPair pty;
    env.LinkPort(3, pty.SlavePath());
    // Another program that set TIOCEXCL on its own descriptor.
    int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM3"), nullptr);
    ioctl(other, TIOCNXCL);
    close(other);

    // A UUCP lock file of a live process (minicom's way).
    std::string dev = pty.SlavePath().substr(5);  // "pts/N"
    for (char& c : dev)
        if (c == '/') c = '_';
    const std::string lock = "/var/lock/LCK.." + dev;
    {
        std::ofstream f(lock);
        if (!f) GTEST_SKIP() << "cannot write " << lock;
        f << "      " << getppid() << "\n";
    }
    EXPECT_EQ(CreatePortHandle(u"\\\\.\\COM3"), nullptr);
    std::filesystem::remove(lock);
    {
        std::ofstream f(lock);
        f << "  999999999\n";  // a dead process: the lock is stale
    }
    PortHandle port = CreatePortHandle(u"\\\\.\\COM3");
    EXPECT_NE(port, nullptr);
    std::filesystem::remove(lock);
}

TEST_F(PortIo, LineSettingsAndReadTimeOutsTakeEffect) {
    PortHandle port = OpenCom3();
    ASSERT_NE(port, nullptr);
    DCB dcb{};
    ASSERT_TRUE(BuildCommDCB(u"57600,n,8,1", dcb));
    ASSERT_TRUE(port->SetCommState(dcb));
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_lflag & ECHO);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

    port->SetCommTimeouts(Timeouts(40));
    milliseconds quiet = TimeQuietRead(*port);
    EXPECT_GE(quiet.count(), 39);
    EXPECT_LT(quiet.count(), 1000);

    pty.Send("AB");
    uint8_t b = 0;
    uint32_t n = 0;
    ASSERT_TRUE(port->ReadFile(&b, 1, n));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(b, 'A');
    const uint8_t out[] = {'x', 'y', 'z'};
    uint32_t written = 0;
    ASSERT_TRUE(port->WriteFile(out, 3, written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty.Receive(), "xyz");
    port->Close();
}

TEST_F(PortIo, CloseWakesABlockedReaderAndLaterCallsFail) {
    PortHandle port = OpenCom3();
    ASSERT_NE(port, nullptr);
    port->SetCommTimeouts(Timeouts(30000));
    auto t0 = steady_clock::now();
    std::thread reader([&] {
        uint8_t b;
        uint32_t n = 7;
        port->ReadFile(&b, 1, n);
        EXPECT_EQ(n, 0u);
    });
    std::this_thread::sleep_for(milliseconds(100));
    port->Close();
    reader.join();
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 5000);
    uint8_t b;
    uint32_t n = 9;
    EXPECT_FALSE(port->ReadFile(&b, 1, n));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(port->WriteFile(&b, 1, n));
    // The device is free again at once, although a copy of the handle still exists.
    PortHandle next = CreatePortHandle(u"\\\\.\\COM3");
    EXPECT_NE(next, nullptr);
}

TEST_F(PortIo, AHungUpLineReadsLikeAQuietLine) {
    PortHandle port = OpenCom3();
    ASSERT_NE(port, nullptr);
    port->SetCommTimeouts(Timeouts(10));
    pty.HangUp();
    // Reading until silence must not spin: each read still takes its time-out.
    int reads = 0;
    auto t0 = steady_clock::now();
    while (steady_clock::now() - t0 < milliseconds(200)) {
        uint8_t b;
        uint32_t n = 5;
        port->ReadFile(&b, 1, n);
        EXPECT_EQ(n, 0u);
        ++reads;
    }
    EXPECT_LT(reads, 100);
    const uint8_t wake[] = {'B', 'o', 'O', 't', '\r'};
    uint32_t written = 9;
    EXPECT_FALSE(port->WriteFile(wake, 5, written));
    EXPECT_EQ(written, 0u);
}

TEST(LineClock, CharactersTakeTheirBitsAtTheBaudRate) {
    DCB dcb{};
    ASSERT_TRUE(BuildCommDCB(u"115200,n,8,1", dcb));
    EXPECT_EQ(LineClock::TenthBitsPerChar(dcb), 100u);
    EXPECT_EQ(duration_cast<microseconds>(LineClock::Time(dcb, 512)).count(), 44444);  // 5120 bits
    DCB slow{};
    ASSERT_TRUE(BuildCommDCB(u"57600,e,7,2", slow));
    EXPECT_EQ(LineClock::TenthBitsPerChar(slow), 110u);  // start, 7 data, parity, 2 stop
    EXPECT_EQ(duration_cast<microseconds>(LineClock::Time(slow, 576)).count(), 110000);
    EXPECT_EQ(LineClock::Time(DCB{}, 100).count(), 0);  // no baud rate set: no line time
    // Far more than any write, without overflow.
    EXPECT_EQ(duration_cast<seconds>(LineClock::Time(dcb, 0xFFFFFFFFull)).count(), 372827);

    // Writes follow what is still on the line; a write returns at once while the line
    // holds no more than a FIFO's worth, else when only the FIFO's low mark is left.
    LineClock line;
    const auto t0 = steady_clock::now();
    const auto fifoLow = LineClock::Time(dcb, LineClock::kFifoLow);
    EXPECT_EQ(line.Send(dcb, 512, t0), t0 + LineClock::Time(dcb, 512) - fifoLow);
    EXPECT_EQ(line.Send(dcb, 512, t0 + milliseconds(10)), t0 + LineClock::Time(dcb, 1024) - fifoLow);
    EXPECT_EQ(line.Free(), t0 + LineClock::Time(dcb, 1024));
    const auto later = t0 + seconds(1);  // the line has gone idle
    for (uint64_t sent = 5; sent <= LineClock::kFifoHigh; sent += 5) EXPECT_EQ(line.Send(dcb, 5, later), later);
    const auto back = line.Send(dcb, 5, later);  // the string past the FIFO
    EXPECT_EQ(back, line.Free() - fifoLow);
    const uint64_t held = (LineClock::kFifoHigh / 5 + 1) * 5;
    EXPECT_LT(std::chrono::abs(line.Free() - later - LineClock::Time(dcb, held)), microseconds(1));
    line.Reset();
    EXPECT_EQ(line.Send(dcb, 5, t0), t0);
    EXPECT_EQ(line.Free(), t0 + LineClock::Time(dcb, 5));
}

// A write returns once its bytes have (all but a FIFO's worth) gone out at the line
// rate, as on a real serial port, although a pseudo-terminal would take them at once.
TEST_F(PortIo, WritesTakeTheirLineTime) {
    PortHandle port = OpenCom3();
    ASSERT_NE(port, nullptr);
    std::atomic<bool> done{false};
    std::string received;
    std::thread device([&] {  // takes whatever comes, at once
        while (!done) received += pty.Receive(milliseconds(20));
    });
    const uint8_t block[512] = {};
    for (const char16_t* mode : {u"115200,n,8,1", u"57600,n,8,1"}) {
        DCB dcb{};
        ASSERT_TRUE(BuildCommDCB(mode, dcb));
        ASSERT_TRUE(port->SetCommState(dcb));
        const auto t0 = steady_clock::now();
        for (int i = 0; i < 4; ++i) {
            uint32_t written = 0;
            ASSERT_TRUE(port->WriteFile(block, sizeof block, written));
            EXPECT_EQ(written, sizeof block);
        }
        EXPECT_GE(steady_clock::now() - t0, LineClock::Time(dcb, 4 * sizeof block - LineClock::kFifoLow))
            << "at " << dcb.BaudRate;
    }
    done = true;
    device.join();
    EXPECT_EQ(received.size(), 8u * sizeof block);

    // Close wakes a writer that waits for its bytes to go out.
    DCB dcb{};
    ASSERT_TRUE(BuildCommDCB(u"57600,n,8,1", dcb));
    ASSERT_TRUE(port->SetCommState(dcb));
    std::vector<uint8_t> big(8000);  // 1.4 s on the line, more than the pty takes at once
    const auto t0 = steady_clock::now();
    std::thread writer([&] {
        uint32_t written = 0;
        EXPECT_FALSE(port->WriteFile(big.data(), static_cast<uint32_t>(big.size()), written));
    });
    std::this_thread::sleep_for(milliseconds(100));
    port->Close();
    writer.join();
    EXPECT_LT(steady_clock::now() - t0, milliseconds(1000));
}

}  // namespace
}  // namespace zl
