// Network faults the program meets in the field, each bounded in time:
//  - the service process dies in the middle of a download (killed, not a
//    polite close): the downloader reports OnError, nothing else;
//  - a name that does not resolve and a port where nothing listens: the
//    downloader reports OnError, the direct GET of the real-IP information
//    and of the touch stays silent;
// and all the while the user-interface thread keeps running its other work.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "DownloaderTestSupport.h"
#include "platform/Http.h"

namespace {

using Clock = std::chrono::steady_clock;

// A service in a child process of its own: it accepts one connection, reads
// the request, sends the headers of a 10 MiB answer and the first 256 KiB,
// tells the test, then waits to be killed.
class DyingService {
 public:
  explicit DyingService(bool sendHeaders) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 4) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    FPort = ntohs(a.sin_port);
    if (::pipe(FReady) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      const int c = ::accept(FListen, nullptr, nullptr);
      char buf[4096];
      std::string request;
      while (c >= 0 && request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      if (sendHeaders) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10485760\r\n\r\n";
        ::send(c, head.data(), head.size(), MSG_NOSIGNAL);
        const std::string part(256 * 1024, 'p');
        ::send(c, part.data(), part.size(), MSG_NOSIGNAL);
      }
      (void)!::write(FReady[1], "r", 1);
      for (;;) ::pause();
    }
    ::close(FReady[1]);
  }
  ~DyingService() {
    Kill();
    if (FListen >= 0) ::close(FListen);
    if (FReady[0] >= 0) ::close(FReady[0]);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort); }
  // Waits until the service has sent what it sends before dying.
  bool WaitMidway(int timeoutMs) {
    pollfd p{FReady[0], POLLIN, 0};
    char c;
    return ::poll(&p, 1, timeoutMs) > 0 && ::read(FReady[0], &c, 1) == 1;
  }
  void Kill() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
      FPid = -1;
    }
  }

 private:
  int FListen = -1;
  int FPort = 0;
  int FReady[2] = {-1, -1};
  pid_t FPid = -1;
};

class NetworkFaultTest : public DownloaderTest {
 protected:
  // Pumps until the request ended, counting how often a call posted every
  // 20 ms in the meantime ran: the user-interface thread's other work.
  bool PumpWhileBusy(TSingleDownloader& sd, int timeoutMs, int& uiTicks) {
    return testsupport::WaitUntil([&] {
      FDispatcher->Post([&uiTicks] { ++uiTicks; });
      FDispatcher->Pump(0);   // the posted call
      FDispatcher->Pump(20);  // then wait for the request's events
      return !sd.Busy();
    }, timeoutMs, 0);
  }
};

TEST_F(NetworkFaultTest, ServiceKilledMidDownloadEndsInOnError) {
  for (const bool toFile : {true, false}) {
    for (const bool headersFirst : {true, false}) {
      SCOPED_TRACE(std::string(toFile ? "file" : "text") + (headersFirst ? ", mid-body" : ", before answering"));
      DyingService service(headersFirst);
      TSingleDownloader sd;
      Outcome o;
      Wire(sd, o);
      sd.URL = service.Base() + "/big.bin";
      sd.FileName = sb().Path("big.bin");
      const auto start = Clock::now();
      toFile ? sd.GetFile() : sd.GetString();
      EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "the start blocked";
      ASSERT_TRUE(service.WaitMidway(5000));
      service.Kill();
      int ticks = 0;
      ASSERT_TRUE(PumpWhileBusy(sd, 20000, ticks)) << "no end after the service died";
      EXPECT_EQ(o.errors, 1);
      EXPECT_EQ(o.doneFile + o.doneString, 0);
      EXPECT_FALSE(o.offUiThread);
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
      EXPECT_GT(ticks, 0);
      if (toFile && o.lastTotal >= 0) {
        EXPECT_EQ(o.lastTotal, 10485760);
      }
    }
  }
}

TEST_F(NetworkFaultTest, UnresolvableNameAndClosedPortEndInOnError) {
  // A listener that is closed at once leaves a port where nothing listens.
  int closedPort = 0;
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    closedPort = ntohs(a.sin_port);
    ::close(fd);
  }
  const std::vector<std::string> urls = {"http://no-such-host.invalid/update",
                                         "https://no-such-host.invalid/update",
                                         "http://127.0.0.1:" + std::to_string(closedPort) + "/update"};
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    TSingleDownloader sd;
    Outcome o;
    Wire(sd, o);
    sd.URL = url;
    const auto start = Clock::now();
    sd.GetString();
    int ticks = 0;
    // Bounded by the connection time limit (60 s); in practice at once.
    ASSERT_TRUE(PumpWhileBusy(sd, 70000, ticks));
    EXPECT_EQ(o.errors, 1);
    EXPECT_EQ(o.doneString, 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(65));

    // The direct GET of the real-IP information and the touch fail as well,
    // within their own limit.
    std::string body = "stale", error;
    const auto direct = Clock::now();
    EXPECT_FALSE(platform::HttpGetDirect(url, body, 10000, &error));
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(error.empty());
    EXPECT_LT(Clock::now() - direct, std::chrono::seconds(15));
  }
}

}  // namespace

#endif  // _WIN32
