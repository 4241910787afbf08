// Network faults the program meets in the field:
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

#include <atomic>
#include <thread>

#include "DownloaderTestSupport.h"
#include "platform/Http.h"

namespace {

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
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FListen, 4) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    FPort = ntohs(a.sin_port);
    if (::pipe(FReady) != 0 || ::pipe(FLetIn) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      // Nothing is read before the test lets the service in: until then a
      // request can only wait for its answer.
      ::close(FLetIn[1]);
      char go;
      if (::read(FLetIn[0], &go, 1) != 1) ::_exit(1);
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
    ::close(FLetIn[0]);
  }
  ~DyingService() {
    Kill();
    if (FListen >= 0) ::close(FListen);
    if (FReady[0] >= 0) ::close(FReady[0]);
    if (FLetIn[1] >= 0) ::close(FLetIn[1]);
  }
  // Lets the service accept and answer.
  void LetIn() {
    if (FLetIn[1] >= 0 && !FLetInDone) (void)!::write(FLetIn[1], "g", 1);
    FLetInDone = true;
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
  int FLetIn[2] = {-1, -1};
  bool FLetInDone = false;
  pid_t FPid = -1;
};

class NetworkFaultTest : public DownloaderTest {
 protected:
  // Pumps until the request ended, counting how often a call posted every
  // 20 ms in the meantime ran: the user-interface thread's other work.
  bool PumpWhileBusy(TSingleDownloader& sd, int timeoutMs, int& uiTicks) {
    return testsupport::WaitUntil(
        [&] {
          FDispatcher->Post([&uiTicks] { ++uiTicks; });
          FDispatcher->Pump(0);   // the posted call
          FDispatcher->Pump(20);  // then wait for the request's events
          return !sd.Busy();
        },
        timeoutMs, 0);
  }
};

TEST_F(NetworkFaultTest, ServiceKilledMidDownloadEndsInOnError) {
  for (const bool toFile : {true, false}) {
    for (const bool headersFirst : {true, false}) {
      SCOPED_TRACE(std::string(toFile ? "file" : "text") +
                   (headersFirst ? ", mid-body" : ", before answering"));
      DyingService service(headersFirst);
      TSingleDownloader sd;
      Outcome o;
      Wire(sd, o);
      sd.URL = service.Base() + "/big.bin";
      sd.FileName = sb().Path("big.bin");
      // The start returns while the service still holds the request: it
      // has not even read it yet. A start that waited for the answer would
      // wait for ever; the service is killed after a while so that such a
      // start fails the test instead of hanging it.
      std::atomic<bool> started{false}, killed{false};
      std::thread guard([&] {
        if (testsupport::WaitUntil([&] { return started.load(); }, 30000)) return;
        killed = true;
        service.Kill();
      });
      toFile ? sd.GetFile() : sd.GetString();
      started = true;
      guard.join();
      ASSERT_FALSE(killed) << "the start waited for the service's answer";
      EXPECT_TRUE(sd.Busy());
      service.LetIn();
      ASSERT_TRUE(service.WaitMidway(20000));
      service.Kill();
      int ticks = 0;
      ASSERT_TRUE(PumpWhileBusy(sd, 20000, ticks)) << "no end after the service died";
      EXPECT_EQ(o.errors, 1);
      EXPECT_EQ(o.doneFile + o.doneString, 0);
      EXPECT_FALSE(o.offUiThread);
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
                                         "http://127.0.0.1:" + std::to_string(closedPort) +
                                             "/update"};
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    TSingleDownloader sd;
    Outcome o;
    Wire(sd, o);
    sd.URL = url;
    sd.GetString();
    int ticks = 0;
    // Bounded by the connection time limit (60 s); in practice at once.
    ASSERT_TRUE(PumpWhileBusy(sd, 90000, ticks)) << "the request never ended";
    EXPECT_EQ(o.errors, 1);
    EXPECT_EQ(o.doneString, 0);

    // The direct GET of the real-IP information and the touch fail as well,
    // with a reason.
    std::string body = "stale", error;
    EXPECT_FALSE(platform::HttpGetDirect(url, body, 10000, &error));
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace

#endif  // _WIN32
