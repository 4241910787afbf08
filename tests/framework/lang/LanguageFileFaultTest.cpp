// Language files that cannot be read or written: a folder, a named pipe or
// a socket where the file should be, a file that disappears, a full disk.
// Every case ends in the file error the caller expects, at once, with the
// previous content kept; none holds the program up.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "framework/lang/CLMultiLangLan.h"
#include "platform/Files.h"
#include "support/Sandbox.h"
#include "support/SmallDisk.h"
#include "support/Wait.h"

namespace fs = std::filesystem;

namespace {

// The bytes of a literal, NUL characters included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class LanguageFileFaultTest : public SandboxTest {
 protected:
  // A loaded instance whose content must survive the failed load.
  static void Prime(TCLMultiLangLan& lan) {
    lan.LoadFromString("[Info]\r\nLanguage=Before\r\n[TfrmMain]\r\nbtnOK.Caption=&OK\r\n");
  }
  static std::string Caption(TCLMultiLangLan& lan) {
    std::string v = "<none>";
    lan.GetProp("TfrmMain", "btnOK", "Caption", v);
    return v;
  }
  // LoadFromFile of path must throw EFileError naming the file without
  // waiting for anything, and keep what was loaded before. A load held by a
  // named pipe is let go by a writer that opens and closes the pipe, so
  // that the test fails instead of hanging.
  void ExpectRefused(const std::string& path) {
    TCLMultiLangLan lan;
    Prime(lan);
    std::string refusal;
    const bool returned = testsupport::ReturnsWithin(
        [&] {
          try {
            lan.LoadFromFile(path);
          } catch (const EFileError& e) {
            refusal = e.what();
          }
        },
        60000,
        [&] {
          const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
          if (fd >= 0) ::close(fd);
        },
        path);
    EXPECT_TRUE(returned) << path << " held the load";
    EXPECT_NE(refusal.find(path), std::string::npos) << "not refused: " << path << " " << refusal;
    EXPECT_EQ(Caption(lan), "&OK") << path;
  }
};

TEST_F(LanguageFileFaultTest, UnreadableFilesAreRefusedAndTheOldTextsStay) {
  const std::string dir = sb().Path("lang");
  fs::create_directories(dir);

  ExpectRefused(dir + "/Missing.lan");

  fs::create_directories(dir + "/Folder.lan");
  ExpectRefused(dir + "/Folder.lan");

  // A named pipe that nobody writes to.
  ASSERT_EQ(::mkfifo((dir + "/Pipe.lan").c_str(), 0600), 0);
  ExpectRefused(dir + "/Pipe.lan");

  // A socket file (opening it fails).
  const std::string sock = dir + "/Socket.lan";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sock.c_str(), sock.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ExpectRefused(sock);
  ::close(fd);

  // Without read permission (root reads anyway, so only checked for others).
  if (::geteuid() != 0) {
    sb().WriteFile("lang/Locked.lan", "[Info]\r\nLanguage=Locked\r\n");
    ASSERT_EQ(::chmod((dir + "/Locked.lan").c_str(), 0), 0);
    ExpectRefused(dir + "/Locked.lan");
  }
}

TEST_F(LanguageFileFaultTest, DamagedBytesLoadWithoutError) {
  // Truncated UTF-16 (odd byte count, half a surrogate pair), a NUL in the
  // middle, a line of a megabyte, a file of nothing but separators.
  const std::vector<std::string> files = {
      Bytes("\xFF\xFE[\0I\0n\0f\0o\0]\0\n\0L\0a\0n\0g\0=\0\x3D\xD8X"),
      Bytes("\xFE\xFF\0[\0A\0]\xDC\x00"),
      Bytes("[TfrmMain]\r\nbtnOK.Caption=a\0b\r\n"),
      "[TfrmMain]\r\nbtnOK.Caption=" + std::string(1 << 20, 'x') + "\r\n",
      std::string(4096, '\r') + std::string(4096, '='),
      "\xEF\xBB\xBF",
  };
  int i = 0;
  for (const std::string& bytes : files) {
    const std::string rel = "lang/Damaged" + std::to_string(i++) + ".lan";
    sb().WriteFile(rel, bytes);
    TCLMultiLangLan lan;
    EXPECT_NO_THROW(lan.LoadFromFile(sb().Path(rel))) << rel;
    lan.SortData();
    (void)lan.ToString();
  }
  TCLMultiLangLan big;
  big.LoadFromFile(sb().Path("lang/Damaged3.lan"));
  EXPECT_EQ(Caption(big).size(), size_t{1} << 20);
}

TEST_F(LanguageFileFaultTest, FullDiskKeepsTheOldFile) {
  const std::string dir = sb().Path("lang");
  fs::create_directories(dir);
  const std::string path = dir + "/English.lan";
  const int code = smalldisk::RunOnSmallDisk(dir, 64 * 1024, [&]() -> int {
    TCLMultiLangLan lan;
    lan.SetProp("TfrmMain", "btnOK", "Caption", "&OK");
    lan.SaveToFile(path);
    std::string before;
    if (!platform::ReadWholeFile(path, before) ||
        before.find("btnOK.Caption=&OK") == std::string::npos)
      return 10;
    lan.SetProp("TfrmMain", "lblBig", "Caption", std::string(128 * 1024, 'w'));
    try {
      lan.SaveToFile(path);
      return 11;
    } catch (const EFileError& e) {
      if (std::string(e.what()).find(path) == std::string::npos) return 12;
    }
    std::string after;
    if (!platform::ReadWholeFile(path, after) || after != before) return 13;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path() != path) return 14;  // a temporary file was left behind
    return 0;
  });
  if (code == smalldisk::kCannotMount) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(code, 0) << "see the numbered checks in the test body";
}

}  // namespace

#endif  // _WIN32
