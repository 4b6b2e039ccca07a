// Firmware files and readout targets on the file system.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/text_convert.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

// Two programs (or two stations) may load the same file at once; one that is written
// while it is being read is noticed.
TEST(FileTest, FirmwareFilesAreReadSharedAndAChangeIsNoticed) {
    test::TempEnv env;
    const std::string path = env.dir() + "/fw.spic32";
    std::ofstream(path) << std::string(1024, 'x');
    FileError error;
    auto first = OpenFileForRead(FromUtf8(path), error);
    auto second = OpenFileForRead(FromUtf8(path), error);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->Unchanged());
    std::ofstream(path, std::ios::app) << "more";
    EXPECT_FALSE(first->Unchanged());
    EXPECT_EQ(first->LastError().problem, FileProblem::Changed);
}

// A pipe would block an open for ever and a device would stream without end: only
// regular files are read, and a readout never writes anywhere but beside its target.
TEST(FileTest, OnlyRegularFilesAreReadAndReplaced) {
    test::TempEnv env;
    const std::string pipe = env.dir() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    FileError error;
    EXPECT_EQ(OpenFileForRead(FromUtf8(pipe), error), nullptr);
    EXPECT_EQ(error.problem, FileProblem::NotRegular);
    EXPECT_EQ(OpenFileForRead(FromUtf8(env.dir()), error), nullptr);
    EXPECT_EQ(error.problem, FileProblem::IsDirectory);
    std::u16string temp;
    EXPECT_EQ(CreateFileBeside(u"/dev/zero", temp, error), nullptr);
    EXPECT_EQ(error.problem, FileProblem::NotRegular);

    const std::string target = env.dir() + "/out.bin";
    std::ofstream(target) << "older";
    auto file = CreateFileBeside(FromUtf8(target), temp, error);
    ASSERT_TRUE(file);
    EXPECT_EQ(std::filesystem::path(ToUtf8(temp)).parent_path(), std::filesystem::path(env.dir()));
    const uint8_t data[3] = {'n', 'e', 'w'};
    ASSERT_TRUE(file->Write(data, 3));
    ASSERT_TRUE(file->Close());
    std::ifstream before(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "older");
    ASSERT_TRUE(ReplaceFile(temp, FromUtf8(target), error));
    std::ifstream after(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "new");
    EXPECT_FALSE(std::filesystem::exists(ToUtf8(temp)));
}

}  // namespace
}  // namespace zl
