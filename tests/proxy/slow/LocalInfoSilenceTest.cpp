// The real-IP request and the touch of a super proxy against a service that
// accepts the connection and never answers. Both run into the GET's own time
// limit (30 s, hence the "slow" label) and then end in silence: no answer
// handler runs, the last answer stays, the workers are gone, and the
// user-interface thread went on with its other work meanwhile.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "ProxyTestHelpers.h"
#include "net/Dispatcher.h"
#include "proxy/uProxyManager.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

TEST_F(ProxyTest, SilentServiceLeavesTheRealIpRequestAndTheTouchSilent) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 16), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string base = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port));

  TExactSettings settings;
  settings.Values["URL.GetInfo"] = base + "/getinfo";
  settings.Values["App.MagicWord"] = "VG";
  settings.Values["SUPER_TOUCH"] = base + "/touch?ip={1}";
  TLoopDispatcher loop;
  SetDispatcher(&loop);
  {
    TProxyManager pm;
    pm.FLocalInfo.SetText("IP=192.0.2.1\r\nCOUNTRY_SHORT=US\r\n");
    const TStringList before = pm.FLocalInfo;
    int answers = 0;
    pm.FOnGetCurrentLocalInfo = [&](TProxyManager*) { ++answers; };

    pm.GetCurrentLocalInfo();
    TProxyRec super;
    super.IP = "192.0.2.99";
    super.IsSuper = true;
    const auto start = Clock::now();
    pm.Touch(super);
    // The service stays silent for longer than the limit: a request that
    // blocked its caller would have come back over.
    EXPECT_EQ(TInfoGotThread::RunningCount(), 2) << "a request blocked";

    // The bound is a guard far above the limit, not a measurement.
    int ticks = 0;
    while (TInfoGotThread::RunningCount() > 0 && Clock::now() - start < seconds(150)) {
      loop.Post([&ticks] { ++ticks; });
      loop.Pump(0);   // the posted call
      loop.Pump(20);  // then wait for the answer
    }
    const auto waited = Clock::now() - start;
    ASSERT_EQ(TInfoGotThread::RunningCount(), 0) << "the workers never ended";
    // Ended by the time limit, not earlier.
    EXPECT_GE(waited, seconds(25));
    // Whatever the workers handed over has been delivered by now.
    while (loop.Pump(0) > 0) {
    }
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(pm.FLocalInfo, before);
    EXPECT_GT(ticks, 0);
  }
  SetDispatcher(nullptr);
  ::close(fd);
}

}  // namespace

#endif  // _WIN32
