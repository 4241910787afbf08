// The debug log's lines also reach the system's own log, where the system's
// tools read a program's trace: the syslog socket the journal reads on
// Linux. Only while the log is active, one record a line, and a missing log
// costs the program nothing. The debugger output on Windows is checked by
// tests/platform/win32/DebugLogWinTest.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/CLDebugLog.h"
#include "platform/SystemLog.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// A datagram socket standing in for the journal's /dev/log.
class FakeSystemLog {
 public:
  explicit FakeSystemLog(const std::string& path) : FPath(path) {
    FSocket = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    FBound = ::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    platform::SetSystemLogSocket(path);
  }
  ~FakeSystemLog() {
    platform::SetSystemLogSocket("");
    ::close(FSocket);
    ::unlink(FPath.c_str());
  }
  bool Bound() const { return FBound; }
  // The records waiting, without blocking.
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(FSocket, buf, sizeof(buf), MSG_DONTWAIT);
      if (n < 0) break;
      out.emplace_back(buf, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  std::string FPath;
  int FSocket = -1;
  bool FBound = false;
};

class DebugLogSystemTest : public SandboxTest {
 protected:
  void TearDown() override {
    CLDebugLog::SetActive(false);
    SandboxTest::TearDown();
  }
};

TEST_F(DebugLogSystemTest, LinesReachTheJournalUnderTheProgramsNameWhileTheLogIsActive) {
  FakeSystemLog journal(sb().Path("log.sock"));
  ASSERT_TRUE(journal.Bound());
  const std::string head = "<15>veilgate[" + std::to_string(::getpid()) + "]: ";
  struct Case {
    const char* tag;
    const char* line;
    std::string record;  // what the journal receives
  };
  const std::vector<Case> cases = {
      {"", "Start", head + "Start"},
      {"CLSettings", "Setting Not Found :Loud.Miss",
       head + "[CLSettings] Setting Not Found :Loud.Miss"},
      // A line break would split the record in two: it is written as an
      // escape (and the magic word is hidden).
      {"Update", "answer\r\nMagicWord=x", head + "[Update] answer\\r\\nMagicWord=-"},
      {"Lang", "Deutsch \xc3\xa4", head + "[Lang] Deutsch \xc3\xa4"},
  };
  CLDebugLog::Write("Quiet", "not written while the log is off");
  EXPECT_TRUE(journal.Take().empty());
  CLDebugLog::SetActive(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CLDebugLog::Write(c.tag, c.line);
    EXPECT_EQ(journal.Take(), std::vector<std::string>{c.record});
  }
  // With a sink attached (the viewer), the journal still gets the line.
  std::vector<std::string> viewer;
  const int sink = CLDebugLog::AddSink(
      [&](const std::string&, const std::string& line) { viewer.push_back(line); });
  CLDebugLog::Write("Engine", "shown");
  CLDebugLog::RemoveSink(sink);
  EXPECT_EQ(viewer, std::vector<std::string>{"shown"});
  EXPECT_EQ(journal.Take(), std::vector<std::string>{head + "[Engine] shown"});
}

TEST_F(DebugLogSystemTest, WithoutAJournalTheLineIsLostAndTheProgramGoesOn) {
  // Nobody listens at this address: the write returns, and so does the next.
  platform::SetSystemLogSocket(sb().Path("nobody.sock"));
  CLDebugLog::SetActive(true);
  for (int i = 0; i < 100; ++i) CLDebugLog::Write("Engine", "line " + std::to_string(i));
  platform::SetSystemLogSocket("");
  // A journal that stops reading: its queue fills and the writer still
  // never waits for it.
  FakeSystemLog journal(sb().Path("full.sock"));
  ASSERT_TRUE(journal.Bound());
  const std::string big(2000, 'x');
  for (int i = 0; i < 2000; ++i) CLDebugLog::Write("Engine", big);
  const std::vector<std::string> got = journal.Take();
  EXPECT_FALSE(got.empty());
  EXPECT_LT(got.size(), 2000u);  // the rest was dropped, not waited for
}
#endif

// The debug log is the user's, but what it writes comes from the network:
// the magic word (also when it travels as the product id) is hidden, and a
// line break or terminal escape in an answer cannot forge or hide lines.
class SecurityLocal : public SandboxTest {
 protected:
  void TearDown() override {
    CLDebugLog::SetActive(false);
    SandboxTest::TearDown();
  }
};

TEST_F(SecurityLocal, DebugLogLinesHideTheMagicWordAndCannotBeForged) {
  struct Case {
    const char* in;
    const char* out;
  };
  // clang-format off
  const Case cases[] = {
      {"ParseURL: http://h/getinfo?MagicWord=VG-TEST",  "ParseURL: http://h/getinfo?MagicWord=-"},
      {"http://h/update?ACTION=x&PID=VG demo&LANG=en",  "http://h/update?ACTION=x&PID=-&LANG=en"},
      {"magicword=Word\r\npid=p1#f",                  "magicword=-\\r\\npid=-#f"},
      {"APPID=kept MYMAGICWORD=kept PID=",              "APPID=kept MYMAGICWORD=kept PID="},
      {"App.MagicWord=VG-TEST&App.PID=p1",              "App.MagicWord=-&App.PID=-"},
      {"ok\n[Engine] forged\x1b[2Jx\x7f",            "ok\\n[Engine] forged\\x1B[2Jx\\x7F"},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(CLDebugLog::SafeLine(c.in), c.out) << c.in;
}

#ifndef _WIN32
// The file named by VEILGATE_DEBUG_LOG is made private and is never written
// through a link somebody planted under its name.
TEST_F(SecurityLocal, TheDebugLogFileIsPrivateAndNeverALink) {
  const mode_t old = ::umask(0);
  testsupport::EnvGuard env("VEILGATE_DEBUG_LOG", sb().Path("debug.log"));
  CLDebugLog::SetActive(true);
  CLDebugLog::Write("Update", "answer\nMagicWord=VG-TEST");
  CLDebugLog::Write("Update", "second");
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::lstat(sb().Path("debug.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(sb().ReadFile("debug.log"), "[Update] answer\\nMagicWord=-\n[Update] second\n");

  sb().WriteFile("victim.txt", "precious");
  ASSERT_EQ(::symlink(sb().Path("victim.txt").c_str(), sb().Path("link.log").c_str()), 0);
  env.Set("VEILGATE_DEBUG_LOG", sb().Path("link.log").c_str());
  CLDebugLog::Write("Update", "through the link");
  EXPECT_EQ(sb().ReadFile("victim.txt"), "precious");
}
#endif

}  // namespace
