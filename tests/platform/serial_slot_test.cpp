// Which serial lines may be left out as empty slots: only built-in 8250 slots, never a
// USB serial adapter (whose driver reports PORT_UNKNOWN as its type too). Decided from a
// made-up sysfs tree laid out as the kernel lays it out.
#include <sys/sysmacros.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "os/posix/serial_slot.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

namespace fs = std::filesystem;

class FakeSysfs {
public:
    explicit FakeSysfs(const std::string& root) : root_(root) { fs::create_directories(root_ + "/dev/char"); }

    // A tty named name with device number major:minor; driver empty: sysfs names none.
    void AddTty(const std::string& name, unsigned maj, unsigned min, const std::string& driver) {
        const std::string device = root_ + "/devices/" + name + "-parent";
        const std::string tty = device + "/tty/" + name;
        fs::create_directories(tty);
        if (!driver.empty()) {
            const std::string drv = root_ + "/bus/any/drivers/" + driver;
            fs::create_directories(drv);
            fs::create_directory_symlink(drv, device + "/driver");
            fs::create_directory_symlink(device, tty + "/device");
        }
        fs::create_directory_symlink(tty, root_ + "/dev/char/" + std::to_string(maj) + ":" + std::to_string(min));
    }

private:
    std::string root_;
};

TEST(SerialSlot, OnlyBuiltIn8250SlotsCanBeEmpty) {
    test::TempEnv env;
    const std::string sys = env.dir() + "/sys";
    FakeSysfs tree(sys);
    tree.AddTty("ttyS1", 4, 65, "serial8250");
    tree.AddTty("ttyS9", 4, 73, "");  // no driver link: the name decides
    tree.AddTty("ttyUSB0", 188, 0, "ftdi_sio");
    tree.AddTty("ttyUSB1", 188, 1, "cp210x");
    tree.AddTty("ttyUSB2", 188, 2, "ch341-uart");
    tree.AddTty("ttyUSB3", 188, 3, "pl2303");
    tree.AddTty("ttyACM0", 166, 0, "cdc_acm");
    tree.AddTty("ttyAMA0", 204, 64, "");  // another family, no driver link
    tree.AddTty("ttyS2", 4, 66, "serial");  // an 8250 on a plug-and-play card: always probed

    EXPECT_TRUE(IsBuiltinSerialSlot(makedev(4, 65), sys));
    EXPECT_TRUE(IsBuiltinSerialSlot(makedev(4, 73), sys));
    for (unsigned usb = 0; usb < 4; ++usb) EXPECT_FALSE(IsBuiltinSerialSlot(makedev(188, usb), sys)) << usb;
    EXPECT_FALSE(IsBuiltinSerialSlot(makedev(166, 0), sys));
    EXPECT_FALSE(IsBuiltinSerialSlot(makedev(204, 64), sys));
    EXPECT_FALSE(IsBuiltinSerialSlot(makedev(4, 66), sys));
    EXPECT_FALSE(IsBuiltinSerialSlot(makedev(4, 99), sys));  // not in sysfs at all
}

}  // namespace
}  // namespace zl
