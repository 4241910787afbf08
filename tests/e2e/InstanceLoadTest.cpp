// Fifty second instances started at once against a running one. Each finds
// the running instance, hands over its file parameter and ends; the running
// instance receives every hand-over, stays the only main window, keeps
// answering and ends normally afterwards.
#include <gtest/gtest.h>

#include <set>

#include "AppProcessSupport.h"

namespace {

using namespace apptest;

class InstanceLoadTest : public AppProcessTest {};

// A second instance hands over before it builds any window, so the whole
// run takes seconds, not minutes.
TEST_F(InstanceLoadTest, FiftySecondInstancesAtOnceAllHandOverAndEnd) {
  constexpr int kSeconds = 50;
  Installation inst = Install("load", "App.ID=401\nApp.GUID=instance-load\n", false);
  const pid_t first = Start(inst, {"-d", "-h"}, sb().Path("first.err"));
  ASSERT_TRUE(WaitReady(401)) << ReadText(inst.log);

  // The second instances log elsewhere, so that the running instance's log
  // holds its own lines only.
  Installation others = inst;
  others.log = sb().Path("others.log");
  std::vector<pid_t> pids;
  const auto start = Clock::now();
  for (int i = 0; i < kSeconds; ++i)
    pids.push_back(Start(others, {"file-" + std::to_string(i) + ".txt"}));
  int ended = 0, failed = 0;
  for (pid_t pid : pids) {
    const int code = WaitExit(pid, 180000);
    if (code == 0)
      ++ended;
    else
      ++failed;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(ended, kSeconds) << failed << " did not end normally";
  RecordProperty("seconds_for_all_hand_overs", std::to_string(seconds));

  // Every parameter arrived; the command handler saw only parameters that
  // were handed over (a later one may replace an earlier one that was still
  // pending, as the pending parameter is a single value).
  ASSERT_TRUE(WaitLog(inst, "WM_COPYDATA: file-" + std::to_string(kSeconds - 1) + ".txt", 20000));
  const std::string log = ReadText(inst.log);
  std::set<std::string> received;
  for (int i = 0; i < kSeconds; ++i) {
    const std::string p = "file-" + std::to_string(i) + ".txt";
    if (log.find("WM_COPYDATA: " + p + "\n") != std::string::npos) received.insert(p);
  }
  EXPECT_EQ(received.size(), static_cast<size_t>(kSeconds));
  size_t pos = 0;
  int commands = 0;
  while ((pos = log.find("OnCmdFile: ", pos)) != std::string::npos) {
    pos += 11;
    const std::string p = log.substr(pos, log.find('\n', pos) - pos);
    EXPECT_TRUE(received.count(p)) << "unknown parameter " << p;
    ++commands;
  }
  EXPECT_GE(commands, 1);

  // Still one main window, still answering, and it ends on request.
  EXPECT_EQ(platform::FindInstanceWindows("TfrmMain").size(), 1u);
  EXPECT_TRUE(WaitReady(401));
  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(first, 20000), 0) << ReadText(sb().Path("first.err"));
}

}  // namespace
