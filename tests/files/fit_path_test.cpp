// Shortening a path with "..." for the Auto-Load path line, measured at one pixel per
// character, so that the dots take three.
#include <gtest/gtest.h>

#include <string>

#include "files/fit_path.h"

namespace zl {
namespace {

struct FitCase {
    std::u16string path;
    int width;
    std::u16string shown;
};
void PrintTo(const FitCase& c, std::ostream* os) { *os << c.width << " px"; }

class FitPathTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitPathTest, Shortens) {
    std::u16string path = GetParam().path;
    FitPath(path, GetParam().width, [](const std::u16string& s) { return static_cast<int>(s.size()); });
    EXPECT_EQ(path, GetParam().shown);
}

const std::u16string kWin = u"C:\\Users\\ana\\firmware\\build\\zl.spic32";  // 37
INSTANTIATE_TEST_SUITE_P(
    Windows, FitPathTest,
    ::testing::Values(FitCase{kWin, 37, kWin},
                      // the directories before the last one go, the last first
                      FitCase{kWin, 36, u"C:\\Users\\ana\\...\\build\\zl.spic32"},
                      FitCase{kWin, 32, u"C:\\Users\\ana\\...\\build\\zl.spic32"},
                      FitCase{kWin, 31, u"C:\\Users\\...\\build\\zl.spic32"},
                      FitCase{kWin, 28, u"C:\\Users\\...\\build\\zl.spic32"},
                      FitCase{kWin, 27, u"C:\\...\\build\\zl.spic32"},
                      FitCase{kWin, 22, u"C:\\...\\build\\zl.spic32"},
                      // then the last directory from its start, its backslash, the file name
                      FitCase{kWin, 21, u"C:\\...uild\\zl.spic32"}, FitCase{kWin, 19, u"C:\\...ild\\zl.spic32"},
                      FitCase{kWin, 17, u"C:\\...d\\zl.spic32"}, FitCase{kWin, 16, u"C:\\...\\zl.spic32"},
                      FitCase{kWin, 15, u"C:\\...zl.spic32"}, FitCase{kWin, 14, u"C:\\...l.spic32"},
                      FitCase{kWin, 6, u"C:\\..."}, FitCase{kWin, 2, u"C:\\..."}, FitCase{kWin, -5, u"C:\\..."}));

const std::u16string kLinux = u"/home/ana/projects/firmware/zl.spic32";  // 37
INSTANTIATE_TEST_SUITE_P(
    Linux, FitPathTest,
    ::testing::Values(FitCase{kLinux, 37, kLinux}, FitCase{kLinux, 36, u"/home/ana/.../firmware/zl.spic32"},
                      FitCase{kLinux, 32, u"/home/ana/.../firmware/zl.spic32"},
                      FitCase{kLinux, 31, u"/home/.../firmware/zl.spic32"},
                      FitCase{kLinux, 28, u"/home/.../firmware/zl.spic32"},
                      FitCase{kLinux, 27, u"/.../firmware/zl.spic32"}, FitCase{kLinux, 23, u"/.../firmware/zl.spic32"},
                      FitCase{kLinux, 22, u"/...irmware/zl.spic32"}, FitCase{kLinux, 14, u"/.../zl.spic32"},
                      FitCase{kLinux, 13, u"/...zl.spic32"}, FitCase{kLinux, 4, u"/..."}, FitCase{kLinux, 0, u"/..."},
                      // a backslash in a Linux name is a character like any other
                      FitCase{u"/aa/bb/cc/d\\e", 12, u"/.../cc/d\\e"}));

INSTANTIATE_TEST_SUITE_P(NoSeparator, FitPathTest,
                         ::testing::Values(FitCase{u"abcdefgh", 8, u"abcdefgh"}, FitCase{u"abcdefgh", 7, u"abc...h"},
                                           FitCase{u"abcdefgh", 6, u"abc..."}, FitCase{u"abcdefgh", 1, u"abc..."}));

}  // namespace
}  // namespace zl
