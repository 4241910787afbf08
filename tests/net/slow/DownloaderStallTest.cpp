// Requests that never get an answer, run to their time limit (about a
// minute each, hence the "slow" label):
//  - the proxy the desktop points at accepts the connection and never says
//    a word;
//  - the service sends its headers and part of the body, then stays
//    connected without sending more.
// Both end in OnError once nothing has arrived for the stall limit, while
// the user-interface thread goes on running its other work the whole time;
// an abort in the middle of such a wait ends it without waiting and without
// an event.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "DownloaderTestSupport.h"

namespace {

using nettest::Request;
using nettest::TestHttpServer;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// A loopback port whose connections the kernel completes but nobody reads.
class SilentPort {
 public:
  SilentPort() : FFd(nettest::ListenLoopback(&FPort)) {}
  ~SilentPort() { ::close(FFd); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }

 private:
  int FPort = 0;  // before FFd: making the socket fills it in
  int FFd = -1;
};

class DownloaderStallTest : public DownloaderTest {
 protected:
  void TearDown() override {
    platform::RecordAppliedProxy(platform::PerConnectionProxy{});
    DownloaderTest::TearDown();
  }
  // Pumps until sd has ended (a bound far above the time limit keeps a
  // request that never ends from hanging the test), posting a call on every
  // round that stands for the user-interface thread's other work; returns
  // how long it took and counts the calls that ran.
  std::chrono::milliseconds PumpUntilEnded(TSingleDownloader& sd, int& ticks,
                                           const std::function<void()>& meanwhile = nullptr) {
    const auto start = Clock::now();
    while (sd.Busy() && Clock::now() - start < seconds(150)) {
      FDispatcher->Post([&ticks] { ++ticks; });
      FDispatcher->Pump(0);   // the posted call
      FDispatcher->Pump(20);  // then wait for the request's events
      if (meanwhile) meanwhile();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }
};

TEST_F(DownloaderStallTest, SilentProxyEndsInOnErrorWhileTheUiRuns) {
  SilentPort proxy;
  // The desktop (and so the downloader) points at the silent proxy.
  platform::PerConnectionProxy applied;
  applied.useProxy = true;
  applied.server = proxy.Address();
  platform::RecordAppliedProxy(applied);

  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = "http://service.example/update";
  // A second request into the same silence, aborted after a few seconds.
  TSingleDownloader aborted;
  Outcome o2;
  Wire(aborted, o2);
  aborted.URL = "http://service.example/banner";

  sd.GetString();
  aborted.GetString();
  // The silence lasts a minute: a start that waited for the answer would
  // come back with its request over.
  EXPECT_TRUE(sd.Busy() && aborted.Busy()) << "a start waited for the answer";
  const std::weak_ptr<TSingleDownloaderThread> abortedWorker = aborted.Thread();
  int ticks = 0;
  bool abortDone = false, otherStillWaiting = false;
  const auto waited = PumpUntilEnded(sd, ticks, [&] {
    // Aborted from the user-interface thread in the middle of the wait,
    // once that thread has run a while beside it.
    if (abortDone || ticks < 50) return;
    aborted.Abort();
    EXPECT_FALSE(aborted.Busy());
    // The request started with it into the same silence still waits: the
    // abort did not wait for the time limit.
    otherStillWaiting = sd.Busy();
    abortDone = true;
  });
  ASSERT_FALSE(sd.Busy()) << "the request through the silent proxy never ended";
  EXPECT_TRUE(abortDone);
  EXPECT_TRUE(otherStillWaiting) << "Abort waited for the request's end";
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.doneString, 0);
  // Ended by the time limit (60 s without a byte), not earlier.
  EXPECT_GE(waited, seconds(50));
  // The aborted request never reports, even once its worker has ended.
  ASSERT_TRUE(testsupport::WaitUntil([&] { return abortedWorker.expired(); }, 120000))
      << "the aborted worker never ended";
  PumpQueued();
  EXPECT_EQ(o2.Events(), 0) << "the aborted request reported";
}

TEST_F(DownloaderStallTest, ServiceThatStopsSendingEndsInOnError) {
  TestHttpServer stalled([](const Request&, nettest::Connection& c) {
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(1000, 's')))
      return;
    c.Hang();
  });
  // A file and a text request at the same time.
  TSingleDownloader toFile, toText;
  Outcome of, ot;
  Wire(toFile, of);
  Wire(toText, ot);
  toFile.URL = toText.URL = stalled.Base() + "/big.bin";
  toFile.FileName = sb().Path("big.bin");
  toFile.GetFile();
  toText.GetString();
  int ticks = 0;
  const auto waited = PumpUntilEnded(toFile, ticks);
  const auto waitedText = waited + PumpUntilEnded(toText, ticks);
  ASSERT_FALSE(toFile.Busy()) << "the stalled file download never ended";
  ASSERT_FALSE(toText.Busy()) << "the stalled text download never ended";
  EXPECT_EQ(of.errors, 1);
  EXPECT_EQ(of.doneFile, 0);
  EXPECT_EQ(ot.errors, 1);
  EXPECT_EQ(ot.doneString, 0);
  // Ended by the stall limit, not earlier.
  for (const auto w : {waited, waitedText}) EXPECT_GE(w, seconds(50));
  EXPECT_GT(ticks, 0);
  EXPECT_EQ(of.lastTotal, 1000000) << "no progress was reported before the stall";
}

}  // namespace

#endif  // _WIN32
