// Responsiveness of the user-interface thread while requests wait on loopback
// peers that never answer:
//  1. GetString against a service that accepts and stays silent: how long
//     the start holds the calling thread; target: under 50 ms;
//  2. Abort of such a request in the middle of its wait; target: under
//     50 ms;
//  3. the direct GET with a 700 ms limit against the same silence: how long
//     it takes to give up; target: within 300 ms of the limit.
// Usage: bench_responsiveness [runs]   (default 20; the median and the
// slowest run are reported)
#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/Dispatcher.h"
#include "net/SingleDownloader.h"
#include "platform/Http.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback port whose connections the kernel completes and nobody reads.
class SilentPort {
 public:
  SilentPort() {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FFd, 128);
    socklen_t len = sizeof a;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
  }
  ~SilentPort() { ::close(FFd); }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort); }

 private:
  int FFd = -1;
  int FPort = 0;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Summary {
  double median = 0, worst = 0;
};

Summary Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.back()};
}

void Report(const char* what, const Summary& s, double target) {
  std::printf("  %-34s median %7.2f ms, slowest %7.2f ms (target < %.0f ms) %s\n", what, s.median,
              s.worst, target, s.median < target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  TLoopDispatcher ui;
  SetDispatcher(&ui);
  SilentPort silent;
  std::vector<double> starts, aborts, directs;
  for (int i = 0; i < runs; ++i) {
    TSingleDownloader sd;
    sd.URL = silent.Base() + "/update";
    auto t = Clock::now();
    sd.GetString();
    starts.push_back(Ms(Clock::now() - t));
    ui.Pump(20);  // the request is under way
    t = Clock::now();
    sd.Abort();
    aborts.push_back(Ms(Clock::now() - t));
    while (ui.Pump(0) > 0) {
    }
  }
  for (int i = 0; i < std::min(runs, 5); ++i) {
    std::string body, error;
    const auto t = Clock::now();
    platform::HttpGetDirect(silent.Base() + "/getinfo", body, 700, &error);
    directs.push_back(Ms(Clock::now() - t) - 700);
  }
  SetDispatcher(nullptr);
  std::printf("Requests into silence (%d runs):\n", runs);
  Report("start (GetString)", Summarise(starts), 50);
  Report("abort in the middle of the wait", Summarise(aborts), 50);
  Report("direct GET, time past its 700 ms", Summarise(directs), 300);
  return 0;
}

#else
#include <cstdio>
int main() {
  std::printf("bench_responsiveness: posix only\n");
  return 0;
}
#endif  // _WIN32
