// Download benchmark on loopback:
//  1. a 10 MB file download by the downloader (GetFile, events through the
//     dispatcher) against the curl program fetching the same file into a file
//     in the same run; target: within a factor of 2 of curl;
//  2. peak memory of a 100 MB file download above the idle process; target:
//     under 20 MB.
// Usage: bench_download [runs]   (default 5; the median is reported)
// The loopback server here is posix code; the Windows build has a stub.
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/Dispatcher.h"
#include "net/SingleDownloader.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback server that answers every request with `size` bytes and a
// Content-Length, from one reused buffer.
class BodyServer {
 public:
  explicit BodyServer(long long size) : FSize(size), FBlock(256 * 1024, 'b') {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FListen, 16);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Loop(); });
  }
  ~BodyServer() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }

 private:
  void Loop() {
    while (!FStop) {
      pollfd p{FListen, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept(FListen, nullptr, nullptr);
      if (fd < 0) continue;
      std::thread([this, fd] { Serve(fd); }).detach();
    }
  }
  void Serve(int fd) {
    char buf[8192];
    std::string req;
    while (req.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    std::string head =
        "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
        std::to_string(FSize) + "\r\n\r\n";
    bool ok =
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
    long long left = FSize;
    while (ok && left > 0) {
      size_t n =
          static_cast<size_t>(std::min<long long>(left, static_cast<long long>(FBlock.size())));
      ssize_t w = ::send(fd, FBlock.data(), n, MSG_NOSIGNAL);
      if (w <= 0) break;
      left -= w;
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }

  long long FSize;
  std::string FBlock;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(f, line))
    if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
  return -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// One file download by the downloader; seconds, or -1 on failure.
double DownloadOnce(TLoopDispatcher& ui, const std::string& url, const std::string& file,
                    bool progress) {
  TSingleDownloader sd;
  bool ok = false;
  sd.URL = url;
  sd.FileName = file;
  sd.BinaryData = true;
  sd.WaitThread = true;  // pumps the dispatcher until the end
  sd.OnDoneFile = [&](TSingleDownloader*, const std::string&, int64_t) { ok = true; };
  long long blocks = 0;
  if (progress) sd.OnProgress = [&](TSingleDownloaderThread*, int64_t, int64_t) { ++blocks; };
  const auto start = Clock::now();
  sd.GetFile();
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  (void)ui;
  return ok ? s : -1;
}

double CurlOnce(const std::string& url, const std::string& file) {
  const std::string cmd = "curl -s --noproxy '*' -o '" + file + "' '" + url + "'";
  const auto start = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  return rc == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  signal(SIGPIPE, SIG_IGN);
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("vg-bench-" + std::to_string(::getpid())))
          .string();
  std::filesystem::create_directories(dir);
  setenv("TMPDIR", dir.c_str(), 1);
  TLoopDispatcher ui;
  SetDispatcher(&ui);
  int failures = 0;

  {
    constexpr long long kTen = 10LL * 1024 * 1024;
    BodyServer server(kTen);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/ten.bin";
    std::vector<double> ours, oursProgress, theirs;
    DownloadOnce(ui, url, dir + "/warm.bin", false);  // warm-up
    for (int i = 0; i < runs; ++i) {
      ours.push_back(DownloadOnce(ui, url, dir + "/ours.bin", false));
      oursProgress.push_back(DownloadOnce(ui, url, dir + "/progress.bin", true));
      theirs.push_back(CurlOnce(url, dir + "/curl.bin"));
    }
    if (std::count(ours.begin(), ours.end(), -1.0) ||
        std::count(theirs.begin(), theirs.end(), -1.0) ||
        std::count(oursProgress.begin(), oursProgress.end(), -1.0)) {
      std::printf("10 MB download: a run FAILED\n");
      ++failures;
    } else {
      const double mb = kTen / 1048576.0;
      const double o = Median(ours), p = Median(oursProgress), c = Median(theirs);
      std::printf("10 MB download (median of %d):\n", runs);
      std::printf("  downloader            %7.1f ms  %7.1f MB/s\n", o * 1000, mb / o);
      std::printf("  downloader + progress %7.1f ms  %7.1f MB/s\n", p * 1000, mb / p);
      std::printf("  curl program          %7.1f ms  %7.1f MB/s\n", c * 1000, mb / c);
      std::printf("  downloader / curl time ratio: %.2f (target <= 2.00) %s\n", o / c,
                  o / c <= 2.0 ? "ok" : "MISSED");
      if (o / c > 2.0) ++failures;
    }
  }

  {
    constexpr long long kHundred = 100LL * 1024 * 1024;
    BodyServer server(kHundred);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/hundred.bin";
    DownloadOnce(ui, "http://127.0.0.1:" + std::to_string(server.Port()) + "/x", dir + "/w.bin",
                 false);
    std::filesystem::remove(dir + "/w.bin");
    std::ofstream("/proc/self/clear_refs") << "5";  // peak := current
    const long idle = StatusKb("VmRSS");
    const double s = DownloadOnce(ui, url, dir + "/hundred.bin", false);
    const long peak = StatusKb("VmHWM");
    const long above = peak - idle;
    std::printf(
        "100 MB download: %s in %.0f ms; idle %ld kB, peak %ld kB, peak above idle %ld kB (target < 20480) %s\n",
        s < 0 ? "FAILED" : "done", s * 1000, idle, peak, above,
        above < 20480 && s >= 0 ? "ok" : "MISSED");
    if (s < 0 || above >= 20480) ++failures;
  }

  SetDispatcher(nullptr);
  std::filesystem::remove_all(dir);
  return failures == 0 ? 0 : 1;
}

#else
#include <cstdio>
int main() {
  std::puts("bench_download: runs on posix hosts only");
  return 0;
}
#endif
