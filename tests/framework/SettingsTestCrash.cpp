// A process killed while it writes settings never leaves a damaged file:
// the user file always holds one of the values that were written whole.
#include <gtest/gtest.h>

#ifndef _WIN32  // the writer is a forked child
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "SettingsTestHelpers.h"

namespace {

// The value of write number i: alternating letters, growing and wrapping in
// size, with its number in front so that a reader can tell what it must be.
std::string CrashValue(int i) {
  const size_t len = 16 + (static_cast<size_t>(i) * 4099) % (256 * 1024);
  return "v" + std::to_string(i) + ":" + std::string(len, i % 2 ? 'A' : 'B');
}

bool IsWrittenValue(const std::string& v) {
  size_t colon = v.find(':');
  if (v.size() < 3 || v[0] != 'v' || colon == std::string::npos) return false;
  int i = StrToIntDefault(v.substr(1, colon - 1), -1);
  return i >= 0 && v == CrashValue(i);
}

TEST_F(SettingsStoreTest, KilledWriterLeavesAWholeFile) {
  std::mt19937 rng(20240607);
  std::string path;
  {
    TCLSettings s;
    path = s.SettingFilePath();
  }
  int withValue = 0;
  const int rounds = 50;
  for (int round = 0; round < rounds; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      try {
        TCLSettings s;
        if (write(ready[1], "r", 1) != 1) _exit(2);
        for (int i = 0; i < 1000000; ++i) s.SetSettingstring("Crash", CrashValue(i));
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1) << "round " << round;
    close(ready[0]);
    usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the writer stopped by itself";

    TCLMemIniFile ini(path);
    const std::string* runTimes = ini.Find("setting", "RunTimes");
    ASSERT_NE(runTimes, nullptr) << "round " << round;
    EXPECT_GE(StrToIntDefault(*runTimes, -1), 1) << "round " << round;
    if (const std::string* v = ini.Find("setting", "Crash")) {
      ++withValue;
      EXPECT_TRUE(IsWrittenValue(*v))
          << "round " << round << ": damaged value of size " << v->size();
    }
  }
  // Most rounds got at least one value written before the kill.
  EXPECT_GE(withValue, rounds / 2);
}

}  // namespace

#endif  // _WIN32
