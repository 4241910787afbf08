// A thousand update answers in a row, each pushing new proxy lists and
// banner settings: after every answer "setting.dat" is a valid settings
// file holding exactly what that answer pushed and the contact count, and
// the process's memory stays flat once it has warmed up.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "FrameworkWindowsSupport.h"
#include "framework/CLIniFile.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "support/NetTestServers.h"
#include "support/SanitizerBuild.h"

namespace {

// The proxy list of answer n: 40 records whose addresses and ports change.
std::string Lists(int n) {
  std::string v;
  for (int i = 0; i < 40; ++i) {
    if (i) v += ";";
    v += "198.51." + std::to_string((n + i) % 250) + "." + std::to_string(i + 1) + ":" +
         std::to_string(3000 + n) + "|Country " + std::to_string(i % 7) + "|C" +
         std::to_string(i % 7) + "|" + std::to_string(i) + "|" + std::to_string(-i);
  }
  return v;
}

// An HTTP server on loopback that serves its connections one at a time on
// a single thread, each with the body the callback gives.
class TSequentialServer {
 public:
  explicit TSequentialServer(std::function<std::string()> body)
      : FBody(std::move(body)), FFd(nettest::ListenLoopback(&FPort)) {
    FThread = std::thread([this] { Loop(); });
  }
  ~TSequentialServer() {
    ::shutdown(FFd, SHUT_RDWR);
    ::close(FFd);
    FThread.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort); }

 private:
  void Loop() {
    for (;;) {
      const int c = ::accept(FFd, nullptr, nullptr);
      if (c < 0) return;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      const std::string body = FBody();
      const std::string reply =
          "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(c);
    }
  }
  std::function<std::string()> FBody;
  int FPort = 0;  // before FFd: making the socket fills it in
  int FFd = -1;
  std::thread FThread;
};

class UpdateAnswerLoadTest : public FrameworkWindowsTest {};

TEST_F(UpdateAnswerLoadTest, ThousandAnswersKeepTheFileValidAndMemoryFlat) {
  constexpr int kAnswers = 1000;
  // A service that answers one request after the other and keeps nothing
  // per request, so that the test's own memory stays out of the count.
  std::atomic<int> served{0};
  TSequentialServer server([&] {
    const int n = served++;
    return "magicword=WORD-1\r\nResult=0\r\nBanner.Top.URL=http://127.0.0.1/banner/" +
           std::to_string(n) + "\r\n__MODIFY__.NORMAL_IPS=" + Lists(n) +
           "\r\n__MODIFY__.SUPER_TOUCH=http://127.0.0.1/touch/" + std::to_string(n) + "?ip={1}\r\n";
  });
  WriteConst({"App.MagicWord=WORD-1", "URL.Update=" + server.Base() + "/update", "RunTimes=3"});
  ASSERT_NE(Engine(), nullptr);
  const std::string path = GetCLSettings()->SettingFilePath();

  long warm = 0;
  for (int n = 0; n < kAnswers; ++n) {
    {
      // A window per check, freed afterwards as a waited-for manual check is.
      std::unique_ptr<TfrmCLUpdateForm> w(TfrmCLUpdateForm::Create(Main()));
      w->StartUpdate(false, false, true, false, false);
      ASSERT_TRUE(ProcessUntil([&] { return !w->Updating(); }, 10000)) << "answer " << n;
    }
    QCoreApplication::processEvents();
    // The file on disk, read as the next start would read it.
    TCLMemIniFile file(path);
    const std::string* times = file.Find("setting", "Update.Times");
    const std::string* lists = file.Find("setting", "NORMAL_IPS");
    const std::string* banner = file.Find("setting", "Banner.Top.URL");
    ASSERT_TRUE(times && lists && banner) << "answer " << n;
    ASSERT_EQ(*times, std::to_string(n + 1));
    ASSERT_EQ(*lists, Lists(n));
    ASSERT_EQ(*banner, "http://127.0.0.1/banner/" + std::to_string(n));
    ASSERT_EQ(file.SectionNames().size(), 1u) << "answer " << n;
    if (n == 99) warm = nettest::CurrentRssKb();
  }
  EXPECT_EQ(served.load(), kAnswers);
  const long last = nettest::CurrentRssKb();
  RecordProperty("rss_kb_after_100", std::to_string(warm));
  RecordProperty("rss_kb_after_1000", std::to_string(last));
  if (!kSanitizerBuild) {
    EXPECT_LT(last - warm, 8 * 1024) << "memory grew from " << warm << " kB to " << last << " kB";
  }
}

}  // namespace
