#include "Connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

#include "Address.h"
#include "Metrics.h"

// A fixed set of request threads fed from a queue.
class ConnectionThreads {
 public:
  explicit ConnectionThreads(int n) {
    for (int i = 0; i < n; ++i) FThreads.emplace_back([this] { Run(); });
  }
  ~ConnectionThreads() {
    {
      std::lock_guard<std::mutex> g(FLock);
      FDone = true;
    }
    FWake.notify_all();
    for (auto& t : FThreads) t.join();
  }
  void Add(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> g(FLock);
      FJobs.push_back(std::move(job));
    }
    FWake.notify_one();
  }

 private:
  void Run() {
    while (true) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> g(FLock);
        FWake.wait(g, [this] { return FDone || !FJobs.empty(); });
        if (FJobs.empty()) return;  // done, and nothing left to serve
        job = std::move(FJobs.front());
        FJobs.pop_front();
      }
      job();
    }
  }
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FJobs;
  bool FDone = false;
  std::vector<std::thread> FThreads;
};

namespace {

// The entry of the connection this request thread serves.
thread_local void* tEntry = nullptr;

std::string PeerText(const sockaddr_storage& a) {
  char buf[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, buf, sizeof buf);
  else if (a.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, buf, sizeof buf);
  return svc::PlainAddress(buf);
}

}  // namespace

ConnectionGate::ConnectionGate(Settings settings, Metrics& metrics, std::function<void(int)> serve)
    : FSettings(std::move(settings)), FMetrics(metrics), FServe(std::move(serve)) {
  if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) FWake[0] = FWake[1] = -1;
}

ConnectionGate::~ConnectionGate() {
  Stop();
  for (int fd : FWake)
    if (fd >= 0) ::close(fd);
}

void ConnectionGate::Run(int listenFd) {
  FThreads = std::make_unique<ConnectionThreads>(FSettings.threads);
  FWatchdog = std::thread([this] { Watch(); });
  while (!FStopping) {
    pollfd p[2] = {{listenFd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
    if (FStopping) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors and the like: wait a little instead of spinning.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const std::string peer = PeerText(addr);
    {
      std::lock_guard<std::mutex> g(FLock);
      int& open = FPerPeer[peer];
      if (FSettings.perAddress > 0 && open >= FSettings.perAddress &&
          !svc::InList(peer, FSettings.exempt)) {
        if (open == 0) FPerPeer.erase(peer);
        FMetrics.ConnectionRefused();
        ::close(fd);
        continue;
      }
      ++open;
    }
    // Answers go out as soon as they are written, not after the client's
    // delayed acknowledgement of the head.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FThreads->Add([this, fd, peer] { Serve(fd, peer); });
  }
  FStopping = true;
  {
    std::lock_guard<std::mutex> g(FLock);
    FChanged.notify_all();
  }
  FWatchdog.join();
  FThreads.reset();  // waits for every connection
}

void ConnectionGate::Serve(int fd, const std::string& peer) {
  uint64_t id = 0;
  {
    std::lock_guard<std::mutex> g(FLock);
    id = ++FNextId;
    Entry& e = FEntries[id];  // the node stays where it is until erased below
    e.watchFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    e.deadline = DeadlineFromNow();
    // A connection that arrives while the service stops is not served.
    e.cut = FStopping.load();
    if (e.cut) ::shutdown(fd, SHUT_RDWR);
    tEntry = &e;
  }
  FServe(fd);  // closes fd
  tEntry = nullptr;
  std::lock_guard<std::mutex> g(FLock);
  const auto it = FEntries.find(id);
  if (it->second.watchFd >= 0) ::close(it->second.watchFd);
  FEntries.erase(it);
  if (--FPerPeer[peer] <= 0) FPerPeer.erase(peer);
  FChanged.notify_all();
}

int64_t ConnectionGate::DeadlineFromNow() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             Clock::now().time_since_epoch() +
             std::chrono::duration<double>(FSettings.deadlineSeconds))
      .count();
}

void ConnectionGate::RequestStarted() {
  if (auto* e = static_cast<Entry*>(tEntry)) e->busy = true;
}

void ConnectionGate::AnswerDone() {
  auto* e = static_cast<Entry*>(tEntry);
  if (!e) return;
  e->deadline = DeadlineFromNow();
  e->busy = false;
  // Stopping: the connection ends after this answer.
  if (FStopping) {
    std::lock_guard<std::mutex> g(FLock);
    if (!e->cut) {
      e->cut = true;
      ::shutdown(e->watchFd, SHUT_RD);
    }
  }
}

void ConnectionGate::Watch() {
  std::unique_lock<std::mutex> g(FLock);
  const auto step = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::min(0.25, FSettings.deadlineSeconds / 4)));
  while (!FStopping) {
    FChanged.wait_for(g, step);
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    for (auto& [id, e] : FEntries) {
      if (e.cut || e.deadline > now || e.watchFd < 0) continue;
      e.cut = true;
      ::shutdown(e.watchFd, SHUT_RDWR);
      FMetrics.DeadlineHit();
    }
  }
}

void ConnectionGate::Stop() {
  if (FStopping.exchange(true)) return;
  if (FWake[1] >= 0) {
    const char c = 0;
    (void)!::write(FWake[1], &c, 1);
  }
  {
    // Connections between requests (or still sending one) end now; the
    // others after their answer.
    std::lock_guard<std::mutex> g(FLock);
    for (auto& [id, e] : FEntries) {
      if (e.busy || e.cut || e.watchFd < 0) continue;
      e.cut = true;
      ::shutdown(e.watchFd, SHUT_RDWR);
    }
    FChanged.notify_all();
  }
}
