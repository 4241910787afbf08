// Proxy watch benchmark, against the reference service and four tinyproxy
// proxies of one country on loopback addresses of their own (127.0.0.2 to
// 127.0.0.5, so the service sees each proxy's address), with the main
// window in this process:
//  1. idle CPU while hiding: the CPU time of this process (user + system,
//     all threads, the checks' worker threads included) over a minute of
//     hiding with the watch on, against a minute (before it, once the hide
//     has settled) with the watch timer stopped by this benchmark (the program itself has no switch for the
//     watch: "FailOver" off still checks the proxy in use, it only never
//     moves to another);
//  2. from the death of the proxy in use (SIGKILL of its tinyproxy, at a
//     random moment of the watch period) to the browsers moved to another
//     proxy of the country: median and spread over the deaths. With the
//     program's period (20 s, two failed checks) a death takes 20 to 40 s
//     plus the checks; --period shortens the watch timer for a quicker run
//     (the benchmark sets the timer's interval; the program has no knob).
// Usage: bench_watch [deaths (10)] [--idle SECONDS (60)] [--period SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <random>

#include "AppBench.h"
#include "MainWindowBench.h"
#include "support/Sandbox.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLQtDispatcher.h"
#include "framework/ServiceEndpoints.h"
#include "net/CLDebugLog.h"
#include "platform/Files.h"
#include "platform/ProxySettings.h"
#include "proxy/ProxyProbe.h"
#include "switch/THideSession.h"
#include "ui/uMain.h"
#include "vcl/ActnList.h"

using namespace appbench;

namespace {

// A tinyproxy on 127.0.0.N that leaves through the same address.
struct TProxy {
  std::string Address, Dir;
  int Port = 0;
  pid_t Pid = -1;
  std::string Text() const { return Address + ":" + std::to_string(Port); }
};

// A port free on that address a moment ago.
int FreePortOn(const std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool StartProxy(TProxy& p) {
  const std::string conf = p.Dir + "/tinyproxy.conf";
  Write(conf, std::string(::geteuid() == 0 ? "User nobody\nGroup nogroup\n" : "") + "Port " +
                  std::to_string(p.Port) + "\nListen " + p.Address + "\nBind " + p.Address +
                  "\nTimeout 30\nLogLevel Info\nMaxClients 50\nAllow 127.0.0.0/8\n");
  const std::string log = p.Dir + "/tinyproxy.log";
  fs::remove(log);
  p.Pid = Spawn({"/usr/bin/tinyproxy", "-d", "-c", conf}, log);
  return WaitFor([&] { return Read(log).find("Accepting connections") != std::string::npos; },
                 5000);
}

void KillProxy(TProxy& p) {
  if (p.Pid <= 0) return;
  ::kill(p.Pid, SIGKILL);
  ::waitpid(p.Pid, nullptr, 0);
  p.Pid = -1;
}

// CPU time of this process so far, in milliseconds, and in clock ticks as
// /proc reports them.
double CpuMs() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

long CpuTicks() {
  const std::string stat = Read("/proc/self/stat");
  std::istringstream in(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) stime = std::atol(field.c_str());
  }
  return utime + stime;
}

// Runs the event loop for a while, idle between events.
void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::string Load() {
  std::string l = Read("/proc/loadavg");
  return l.substr(0, l.find(' ', l.find(' ', l.find(' ') + 1) + 1));
}

}  // namespace

int main(int argc, char** argv) {
  int deaths = 10, idleSeconds = 60, period = THideSession::kWatchSeconds;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--idle" && i + 1 < argc)
      idleSeconds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--period" && i + 1 < argc)
      period = std::max(1, std::atoi(argv[++i]));
    else if (std::atoi(a.c_str()) > 0)
      deaths = std::atoi(a.c_str());
  }
  Sandbox sandbox;
  const std::string root = sandbox.Root();
  std::vector<TProxy> proxies(4);
  std::string normal;
  for (size_t i = 0; i < proxies.size(); ++i) {
    TProxy& p = proxies[i];
    p.Address = "127.0.0." + std::to_string(i + 2);
    p.Dir = root + "/proxy" + std::to_string(i);
    p.Port = FreePortOn(p.Address);
    if (p.Port <= 0 || !StartProxy(p)) {
      std::printf("tinyproxy did not start on %s\n", p.Address.c_str());
      for (TProxy& q : proxies) KillProxy(q);
      return 1;
    }
    normal += p.Text() + "|United States|US|-97|38\n";
  }
  const Service service = StartService(root, normal, "");
  if (service.port <= 0) {
    std::printf("the reference service did not start\n");
    for (TProxy& q : proxies) KillProxy(q);
    return 1;
  }
  // Only the system switch: the benchmark is about the watch.
  const std::string app = Install(root + "/inproc", service.port,
                                  "SWITCH.FF=0\r\nSWITCH.OPERA=0\r\nSWITCH.WEBRTC=0\r\n");
  platform::SetModuleFileNameOverride(app + "/veilgate");
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qapp(argc, argv);
  TCLQtDispatcher dispatcher;

  // The moment of each move, from the session's trace.
  std::mutex lock;
  bool moved = false;
  Clock::time_point movedAt;
  CLDebugLog::SetActive(true);
  CLDebugLog::AddSink([&](const std::string& tag, const std::string& line) {
    if (tag != "THideSession" || line.find("stopped answering; moving to") == std::string::npos)
      return;
    std::lock_guard<std::mutex> g(lock);
    moved = true;
    movedAt = Clock::now();
  });

  int rc = 0;
  bool ready = false;
  TfrmMain* w = ShowMainWindow(ready);
  // A command within the first second of the window is refused.
  RunFor(1100);
  if (ready) w->actVeilIP->Execute();
  if (!ready || !w->IsHiding()) {
    std::printf("the window did not become ready or did not hide\n");
    rc = 1;
  }
  // The window's own prober, counted: the checks of each measured minute.
  std::atomic<int> checks{0};
  w->Session()->SetProber(
      [&checks](const std::vector<TProxyRec>& candidates, std::function<void(int)> done) {
        checks += static_cast<int>(candidates.size());
        TProxyProbeRun::Start(ServiceEndpoints::CheckIPURL(), candidates, std::move(done));
      });
  const auto inUse = [&]() -> TProxy* {
    for (TProxy& p : proxies)
      if (p.Text() == w->Session()->ProxyText()) return &p;
    return nullptr;
  };

  // 1. A minute with the watch, a minute without.
  if (rc == 0) {
    const long hz = ::sysconf(_SC_CLK_TCK);
    // The hide's own aftermath (the popup's fade) is over first; the minute
    // without the watch comes first, so that neither minute holds it.
    RunFor(5000);
    for (const bool watch : {false, true}) {
      w->tmrWatch->SetEnabled(watch);
      const std::string load = Load();
      checks = 0;
      const double ms0 = CpuMs();
      const long t0 = CpuTicks();
      RunFor(idleSeconds * 1000);
      const long ticks = CpuTicks() - t0;
      const double cpu = CpuMs() - ms0;
      std::printf(
          "idle while hiding, watch %s: %ld CPU ticks (%ld a second) = %.1f ms of CPU in %d s "
          "(%.3f %% of a core), %d proxy checks, load %s\n",
          watch ? "on " : "off", ticks, hz, cpu, idleSeconds, cpu / (idleSeconds * 10.0),
          checks.load(), load.c_str());
      std::fflush(stdout);
    }
    w->tmrWatch->SetEnabled(true);
  }

  // 2. Deaths of the proxy in use.
  if (rc == 0) {
    w->tmrWatch->SetInterval(period * 1000);
    w->tmrWatch->SetEnabled(false);
    w->tmrWatch->SetEnabled(true);
    std::mt19937 random(12345);
    std::vector<double> seconds;
    const auto started = Clock::now();
    for (int i = 0; i < deaths; ++i) {
      // A random moment of the period.
      RunFor(static_cast<int>(random() % (period * 1000)));
      TProxy* victim = inUse();
      if (!victim) {
        std::printf("death %d: the proxy in use is not one of the benchmark's\n", i);
        rc = 1;
        break;
      }
      {
        std::lock_guard<std::mutex> g(lock);
        moved = false;
      }
      KillProxy(*victim);
      const auto killed = Clock::now();
      const bool ok = WaitFor(
          [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            std::lock_guard<std::mutex> g(lock);
            return moved;
          },
          (period * (THideSession::kWatchFailures + 2) + 30) * 1000);
      const std::string now = w->Session()->ProxyText();
      if (!ok || now == victim->Text()) {
        std::printf("death %d: no move away from %s\n", i, victim->Text().c_str());
        rc = 1;
        StartProxy(*victim);
        break;
      }
      seconds.push_back(std::chrono::duration<double>(movedAt - killed).count());
      std::printf("death %d: %s -> %s in %.2f s (load %s)\n", i, victim->Text().c_str(),
                  now.c_str(), seconds.back(), Load().c_str());
      std::fflush(stdout);
      // Back again, a candidate for the later deaths.
      StartProxy(*victim);
    }
    if (!seconds.empty()) {
      std::sort(seconds.begin(), seconds.end());
      const double bound = period * (THideSession::kWatchFailures + 1.0);
      std::printf(
          "proxy death to the move (watch every %d s, %d failed checks): median %.2f s (min "
          "%.2f, max %.2f) over %zu deaths, the run took %.0f s (expected at most about %.0f s "
          "a death)%s\n",
          period, THideSession::kWatchFailures, Median(seconds), seconds.front(), seconds.back(),
          seconds.size(), std::chrono::duration<double>(Clock::now() - started).count(), bound,
          seconds.back() <= bound + 5 ? "" : " MISSED");
    }
  }
  if (w->IsHiding()) w->actStopHide->Execute();
  delete w;
  Stop(service.pid);
  for (TProxy& p : proxies) KillProxy(p);
  return rc;
}
