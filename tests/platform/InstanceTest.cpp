#include "platform/Instance.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <poll.h>
#include <sys/wait.h>
#endif

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "platform/Files.h"
#include "platform/System.h"
#include "support/Sandbox.h"
#include "support/Wait.h"
#ifndef _WIN32
#include "ProcessSignal.h"
#endif

using platform::InstanceMessage;
using platform::InstanceWindow;

namespace {

#ifndef _WIN32
// The posix backend: sockets in the runtime folder, forked processes and the
// wire format. The win32 backend is tested in tests/platform/win32.
class InstanceTest : public SandboxTest {};

// Serves an endpoint of the class until the stop signal arrives. The handler
// answers "Test GetAppID" with 4242, echoes wParam + lParam for "Test Sum",
// and for copy-data answers with dwData + the byte count when the bytes are
// the expected pattern (-1 otherwise).
int ServeUntil(const std::string& className, testutil::Signal& ready, testutil::Signal& stop,
               const std::string& expected) {
  const uint32_t getId = platform::RegisterMessage("Test GetAppID");
  const uint32_t sum = platform::RegisterMessage("Test Sum");
  auto endpoint =
      platform::CreateInstanceEndpoint(className, [&](const InstanceMessage& m) -> int64_t {
        if (m.isCopyData)
          return m.data == expected ? static_cast<int64_t>(m.dwData + m.data.size()) : -1;
        if (m.msg == getId) return 4242;
        if (m.msg == sum) return m.wParam + m.lParam;
        return 0;
      });
  if (!endpoint) return 1;
  ready.Notify();
  for (;;) {
    // The stop signal is checked between requests.
    if (stop.Wait(0)) return 0;
    pollfd p{endpoint->fd(), POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) endpoint->ProcessPending();
  }
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return s;
}

#endif  // _WIN32

TEST(InstanceMessages, RegisteredNumbersAreStableAndIgnoreCase) {
  uint32_t a = platform::RegisterMessage("CL GetAppID");
  EXPECT_EQ(a, platform::RegisterMessage("cl getappid"));
  EXPECT_NE(a, platform::RegisterMessage("CL CloseApp"));
  // RegisterWindowMessageW refuses the empty name (it answers 0).
#ifdef _WIN32
  EXPECT_EQ(platform::RegisterMessage(""), 0u);
  for (const char* name : {"CL InitPost", "CL CmdParam", "CL IfBusy", "CL BringtoFront"}) {
#else
  for (const char* name : {"", "CL InitPost", "CL CmdParam", "CL IfBusy", "CL BringtoFront"}) {
#endif
    uint32_t n = platform::RegisterMessage(name);
    EXPECT_GE(n, 0xC000u);
    EXPECT_LE(n, 0xFFFFu);
  }
}

#ifndef _WIN32
TEST_F(InstanceTest, MessagesTravelBetweenProcesses) {
  const std::string payload = Pattern(200000);
  testutil::Signal ready, stop;
  pid_t pid = testsupport::ForkChild([&] { return ServeUntil("TfrmMain", ready, stop, payload); });
  ASSERT_TRUE(ready.Wait());

  std::vector<InstanceWindow> found = platform::FindInstanceWindows("TfrmMain");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id.rfind(sb().Path("run/veilgate-instances/TfrmMain."), 0), 0u) << found[0].id;
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmOther").empty());
  EXPECT_TRUE(platform::FindInstanceWindows("tfrmmain").empty());  // class names keep case

  EXPECT_EQ(platform::SendInstanceMessage(found[0], platform::RegisterMessage("test getappid"), 0,
                                          0),
            4242);
  EXPECT_EQ(platform::SendInstanceMessage(found[0], platform::RegisterMessage("Test Sum"), -5,
                                          1000000000000LL),
            999999999995LL);
  EXPECT_EQ(platform::SendInstanceMessage(found[0], 0xC000, 1, 2), 0);
  EXPECT_EQ(platform::SendCopyData(found[0], 3, payload), 3 + 200000);
  EXPECT_EQ(platform::SendCopyData(found[0], 0, "other"), -1);
  // More than the frame allows is refused without reaching the window.
  EXPECT_EQ(platform::SendCopyData(found[0], 0, std::string((1 << 20) + 1, 'x')), 0);
  // The window still answers afterwards.
  EXPECT_EQ(platform::SendInstanceMessage(found[0], platform::RegisterMessage("Test GetAppID"), 0,
                                          0),
            4242);

  stop.Notify();
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  // The ended window withdrew its socket.
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());
  EXPECT_TRUE(platform::ListFiles(sb().Path("run/veilgate-instances"), "*").empty());
  EXPECT_EQ(platform::SendInstanceMessage(found[0], 1, 0, 0), 0);
}

// Windows that appear while another process searches: the search must never
// take a window that is still being set up for a left-over and remove it.
TEST_F(InstanceTest, WindowsCreatedDuringSearchesStayFindable) {
  constexpr int kWindows = 300;
  testutil::Signal created, stop;
  pid_t pid = testsupport::ForkChild([&] {
    std::vector<std::unique_ptr<platform::InstanceEndpoint>> endpoints;
    for (int i = 0; i < kWindows; ++i) {
      endpoints.push_back(platform::CreateInstanceEndpoint("TfrmMain", nullptr));
      if (!endpoints.back()) return 1;
    }
    created.Notify();
    return stop.Wait() ? 0 : 2;
  });
  std::atomic<bool> done{false};
  std::vector<std::thread> searchers;
  for (int t = 0; t < 2; ++t)
    searchers.emplace_back([&] {
      while (!done) platform::FindInstanceWindows("TfrmMain");
    });
  const bool ok = created.Wait();
  done = true;
  for (auto& t : searchers) t.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(platform::FindInstanceWindows("TfrmMain").size(), static_cast<size_t>(kWindows));
  stop.Notify();
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());
}

TEST_F(InstanceTest, SeveralWindowsAreFoundInStableOrder) {
  testutil::Signal ready1, stop1, ready2, stop2;
  pid_t p1 = testsupport::ForkChild([&] { return ServeUntil("Tfrm.Main/x", ready1, stop1, ""); });
  pid_t p2 = testsupport::ForkChild([&] { return ServeUntil("Tfrm.Main/x", ready2, stop2, ""); });
  ASSERT_TRUE(ready1.Wait());
  ASSERT_TRUE(ready2.Wait());
  auto found = platform::FindInstanceWindows("Tfrm.Main/x");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_LT(found[0].id, found[1].id);
  EXPECT_EQ(platform::FindInstanceWindows("Tfrm.Main/x")[0].id, found[0].id);
  EXPECT_TRUE(platform::FindInstanceWindows("Tfrm_Main_x").empty());
  for (const auto& w : found)
    EXPECT_EQ(platform::SendInstanceMessage(w, platform::RegisterMessage("Test GetAppID"), 0, 0),
              4242);
  stop1.Notify();
  stop2.Notify();
  EXPECT_EQ(testsupport::WaitChild(p1), 0);
  EXPECT_EQ(testsupport::WaitChild(p2), 0);
}

TEST_F(InstanceTest, DeadAndSilentWindows) {
  // A process that ended without withdrawing its window leaves a socket
  // nobody listens on: it is not found and the file is cleaned away.
  pid_t dead = testsupport::ForkChild([] {
    auto endpoint = platform::CreateInstanceEndpoint("TfrmMain", [](const InstanceMessage&) {
      return int64_t{1};
    });
    if (!endpoint) return 1;
    ::_exit(0);  // no destructor runs
  });
  ASSERT_EQ(testsupport::WaitChild(dead), 0);
  ASSERT_EQ(platform::ListFiles(sb().Path("run/veilgate-instances"), "*").size(), 1u);
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());
  EXPECT_TRUE(platform::ListFiles(sb().Path("run/veilgate-instances"), "*").empty());

  // A window that never answers: the send gives 0 after the timeout.
  testutil::Signal ready, stop;
  pid_t silent = testsupport::ForkChild([&] {
    auto endpoint = platform::CreateInstanceEndpoint("TfrmMain", [](const InstanceMessage&) {
      return int64_t{1};
    });
    if (!endpoint) return 1;
    ready.Notify();
    stop.Wait(60000);
    return 0;
  });
  ASSERT_TRUE(ready.Wait());
  auto found = platform::FindInstanceWindows("TfrmMain");
  ASSERT_EQ(found.size(), 1u);
  // The silent window's process runs until the test stops it: a send that
  // gives 0 while it still runs ended by its time limit, not by the end of
  // the process.
  EXPECT_EQ(platform::SendInstanceMessage(found[0], 0xC001, 0, 0, 300), 0);
  EXPECT_EQ(platform::SendCopyData(found[0], 0, Pattern(4 << 20), 300), 0);
  EXPECT_EQ(::waitpid(silent, nullptr, WNOHANG), 0) << "a send waited for the process to end";
  stop.Notify();
  EXPECT_EQ(testsupport::WaitChild(silent), 0);

  EXPECT_EQ(platform::SendInstanceMessage(InstanceWindow{""}, 1, 0, 0), 0);
  EXPECT_EQ(platform::SendInstanceMessage(InstanceWindow{sb().Path("nothing.sock")}, 1, 0, 0), 0);
}

TEST_F(InstanceTest, EndpointInThisProcess) {
  std::vector<InstanceMessage> seen;
  auto endpoint = platform::CreateInstanceEndpoint("TfrmSelf", [&](const InstanceMessage& m) {
    seen.push_back(m);
    return int64_t{m.wParam * 2};
  });
  ASSERT_TRUE(endpoint);
  auto found = platform::FindInstanceWindows("TfrmSelf");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, endpoint->window().id);
  // From the owning thread the handler answers at once, as SendMessageW does.
  EXPECT_EQ(platform::SendInstanceMessage(found[0], 0xC123, 21, 0, 100), 42);
  // From another thread the request waits until the owner processes it.
  std::atomic<int64_t> reply{-1};
  std::thread sender([&] { reply = platform::SendCopyData(found[0], 9, "bytes", 5000); });
  testsupport::WaitUntil(
      [&] {
        pollfd p{endpoint->fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) endpoint->ProcessPending();
        return reply != -1;
      },
      5000, 0);
  sender.join();
  EXPECT_EQ(reply, 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1].isCopyData);
  EXPECT_EQ(seen[1].msg, platform::WM_COPYDATA_MSG);
  EXPECT_EQ(seen[1].dwData, 9u);
  EXPECT_EQ(seen[1].data, "bytes");

  std::string path = endpoint->window().id;
  endpoint.reset();
  EXPECT_FALSE(platform::PathExists(path));
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmSelf").empty());
}

TEST(InstanceFrames, DecodeAcceptsOnlyWholeWellFormedFrames) {
  InstanceMessage m;
  m.msg = platform::WM_COPYDATA_MSG;
  m.isCopyData = true;
  m.dwData = 0x1122334455667788ULL;
  m.wParam = -1;
  m.lParam = 1234;
  m.data = std::string("a\0b", 3);
  std::string frame = platform::EncodeInstanceFrame(m);
  InstanceMessage out;
  ASSERT_TRUE(platform::DecodeInstanceFrame(frame, out));
  EXPECT_EQ(out.msg, m.msg);
  EXPECT_EQ(out.wParam, -1);
  EXPECT_EQ(out.lParam, 1234);
  EXPECT_TRUE(out.isCopyData);
  EXPECT_EQ(out.dwData, m.dwData);
  EXPECT_EQ(out.data, m.data);

  // Every truncation and any extra byte is refused.
  for (size_t n = 0; n < frame.size(); ++n)
    EXPECT_FALSE(platform::DecodeInstanceFrame(frame.substr(0, n), out)) << n;
  EXPECT_FALSE(platform::DecodeInstanceFrame(frame + "x", out));

  // A length field beyond the limit is refused even when the bytes are there.
  InstanceMessage big = m;
  big.data = std::string((1 << 20) + 1, 'x');
  EXPECT_FALSE(platform::DecodeInstanceFrame(platform::EncodeInstanceFrame(big), out));
  big.data.resize(1 << 20);
  EXPECT_TRUE(platform::DecodeInstanceFrame(platform::EncodeInstanceFrame(big), out));
  std::string huge = frame;
  huge[36] = huge[37] = huge[38] = huge[39] = '\xFF';
  EXPECT_FALSE(platform::DecodeInstanceFrame(huge, out));

  // Wrong magic, version, unknown flags, or copy-data under another message.
  for (size_t pos : {0u, 4u, 7u}) {
    std::string bad = frame;
    bad[pos] ^= 0x40;
    EXPECT_FALSE(platform::DecodeInstanceFrame(bad, out)) << pos;
  }
  std::string wrongMsg = frame;
  wrongMsg[8] = 75;
  EXPECT_FALSE(platform::DecodeInstanceFrame(wrongMsg, out));
  InstanceMessage plain;
  plain.msg = 0xC010;
  plain.wParam = 7;
  ASSERT_TRUE(platform::DecodeInstanceFrame(platform::EncodeInstanceFrame(plain), out));
  EXPECT_FALSE(out.isCopyData);
  EXPECT_TRUE(out.data.empty());
  EXPECT_EQ(out.wParam, 7);
}

TEST(InstanceFrames, RandomDamageNeverCrashesAndAcceptedFramesAreCanonical) {
  InstanceMessage m;
  m.msg = platform::WM_COPYDATA_MSG;
  m.isCopyData = true;
  m.data = "hello world";
  const std::string frame = platform::EncodeInstanceFrame(m);
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes = frame;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      switch (rng() % 3) {
        case 0: bytes[rng() % bytes.size()] = static_cast<char>(rng()); break;
        case 1: bytes.resize(rng() % (bytes.size() + 1)); break;
        default: bytes += static_cast<char>(rng()); break;
      }
      if (bytes.empty()) bytes = "x";
    }
    InstanceMessage out;
    if (platform::DecodeInstanceFrame(bytes, out)) {
      ASSERT_EQ(platform::EncodeInstanceFrame(out), bytes);
    }
  }
}

#endif  // _WIN32

}  // namespace
