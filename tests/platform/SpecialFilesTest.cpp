// Whole-file reads of things that are not plain files: a named pipe nobody
// writes to, a folder, an endless device. Each is refused at once with a
// reason instead of holding the caller or reading forever; plain files,
// empty ones and the kernel's size-less files still read.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Files.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

namespace {

// Opens a named pipe for writing and closes it again: a reader waiting in
// it sees the end of the data.
void OpenAndCloseWriter(const std::string& pipe) {
  const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
}

class SpecialFilesTest : public SandboxTest {};

TEST_F(SpecialFilesTest, OnlyRegularFilesAreReadAndNothingBlocks) {
  const std::string pipe = sb().Path("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_directories(sb().Path("folder"));
  for (const std::string& path : {pipe, sb().Path("folder"), std::string("/dev/zero")}) {
    std::string bytes = "stale", error;
    bool read = true;
    // A reader held by the pipe is let go by a writer that opens and
    // closes it, so that the test fails instead of hanging.
    EXPECT_TRUE(
        testsupport::ReturnsWithin([&] { read = platform::ReadWholeFile(path, bytes, &error); },
                                   60000, [&] { OpenAndCloseWriter(pipe); }, path))
        << path << " held the reader";
    EXPECT_FALSE(read) << path;
    EXPECT_TRUE(bytes.empty()) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }

  sb().WriteFile("empty", "");
  std::string bytes = "stale";
  EXPECT_TRUE(platform::ReadWholeFile(sb().Path("empty"), bytes));
  EXPECT_EQ(bytes, "");
  sb().WriteFile("plain", std::string("a\0b", 3));
  EXPECT_TRUE(platform::ReadWholeFile(sb().Path("plain"), bytes));
  EXPECT_EQ(bytes, std::string("a\0b", 3));
  // Kernel files report a size of 0 and still have content.
  EXPECT_TRUE(platform::ReadWholeFile("/proc/self/status", bytes));
  EXPECT_NE(bytes.find("Pid:"), std::string::npos);
}

}  // namespace

#endif  // _WIN32
