#include "Checker.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <iostream>
#include <vector>

#include "Metrics.h"
#include "ProxyPool.h"
#include "platform/AsciiText.h"

namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is ready for events, at most until end; false with the
// given reason in r when the time ran out.
bool Await(int fd, short events, Clock::time_point end, const char* timedOut, ProbeResult& r) {
  pollfd p{fd, events, 0};
  const int left = LeftMs(end);
  if (left > 0 && ::poll(&p, 1, left) > 0) return true;
  r.error = timedOut;
  return false;
}

// The address names the proxy when it stands alone: not part of a longer
// address such as 127.0.0.20 for 127.0.0.2.
bool NamesAddress(const std::string& body, const std::string& address) {
  for (size_t p = body.find(address); p != std::string::npos; p = body.find(address, p + 1)) {
    const auto edge = [](char c) { return !(IsAsciiDigit(c) || c == '.'); };
    const bool before = p == 0 || edge(body[p - 1]);
    const size_t after = p + address.size();
    if (before && (after >= body.size() || edge(body[after]))) return true;
  }
  return false;
}

// The end of a probe that got a 200 answer: it passes when the body names
// the proxy (where asked), with the time since start.
ProbeResult Judge(const std::string& body, const std::string& proxyHost, bool expectAddress,
                  Clock::time_point start) {
  ProbeResult r;
  if (expectAddress && !NamesAddress(body, proxyHost)) {
    r.error = "the answer does not name the proxy's address";
    return r;
  }
  r.ok = true;
  r.latencyMs = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return r;
}

}  // namespace

ProbeResult ProbeHttps(const std::string& proxyHost, int proxyPort, const std::string& url,
                       int timeoutMs, bool expectAddress, const std::string& caFile) {
  ProbeResult r;
  const auto start = Clock::now();
  const size_t hostStart = 8;  // after "https://"
  const size_t pathStart = url.find('/', hostStart);
  const std::string authority = url.substr(hostStart, pathStart - hostStart);
  const std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
  std::string host = authority;
  int port = 443;
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    host = authority.substr(0, colon);
    port = std::atoi(authority.c_str() + colon + 1);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  httplib::SSLClient client(host, port);
  client.set_proxy(proxyHost, proxyPort);
  const time_t sec = timeoutMs / 1000;
  const time_t usec = (timeoutMs % 1000) * 1000;
  client.set_connection_timeout(sec, usec);
  client.set_read_timeout(sec, usec);
  client.set_write_timeout(sec, usec);
  client.enable_server_certificate_verification(true);
  if (!caFile.empty()) client.set_ca_cert_path(caFile.c_str());
  const httplib::Headers headers = {{"User-Agent", "veilgate-service-checker"},
                                    {"Connection", "close"}};
  const auto res = client.Get(path, headers);
  if (!res) {
    r.error = "https: " + httplib::to_string(res.error());
    if (client.get_openssl_verify_result() != X509_V_OK)
      r.error += std::string(" (") +
                 X509_verify_cert_error_string(client.get_openssl_verify_result()) + ")";
    return r;
  }
  if (res->status != 200) {
    r.error = "answer: HTTP status " + std::to_string(res->status);
    return r;
  }
  return Judge(res->body, proxyHost, expectAddress, start);
}

ProbeResult ProbeThroughProxy(const std::string& proxyHost, int proxyPort, const std::string& url,
                              int timeoutMs, bool expectAddress, const std::string& caFile) {
  if (url.rfind("https://", 0) == 0)
    return ProbeHttps(proxyHost, proxyPort, url, timeoutMs, expectAddress, caFile);
  ProbeResult r;
  const auto start = Clock::now();
  const auto end = start + std::chrono::milliseconds(timeoutMs);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(proxyPort));
  if (inet_pton(AF_INET, proxyHost.c_str(), &a.sin_addr) != 1) {
    r.error = "bad address";
    return r;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    r.error = std::string("socket: ") + std::strerror(errno);
    return r;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    r.error = std::string("connect: ") + std::strerror(errno);
    return r;
  }
  if (!Await(fd, POLLOUT, end, "connect: timed out", r)) return r;
  int soError = 0;
  socklen_t len = sizeof soError;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
  if (soError != 0) {
    r.error = std::string("connect: ") + std::strerror(soError);
    return r;
  }
  // The absolute address goes to the proxy; Host names the origin.
  const size_t hostStart = url.find("://") == std::string::npos ? 0 : url.find("://") + 3;
  const size_t pathStart = url.find('/', hostStart);
  const std::string host =
      url.substr(hostStart,
                 pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
  const std::string request =
      "GET " + url + (pathStart == std::string::npos ? "/" : "") + " HTTP/1.1\r\nHost: " + host +
      "\r\nUser-Agent: veilgate-service-checker\r\nConnection: close\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      r.error = std::string("send: ") + std::strerror(errno);
      return r;
    }
    if (!Await(fd, POLLOUT, end, "send: timed out", r)) return r;
  }
  std::string answer;
  while (answer.size() < (1u << 20)) {
    if (!Await(fd, POLLIN, end, "no answer in time", r)) return r;
    char buf[8192];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      r.error = std::string("receive: ") + std::strerror(errno);
      return r;
    }
    answer.append(buf, static_cast<size_t>(n));
  }
  const size_t lineEnd = answer.find("\r\n");
  const std::string status = answer.substr(0, lineEnd);
  if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0 || status.substr(9, 3) != "200") {
    r.error = "answer: " + (status.empty() ? std::string("empty") : status.substr(0, 80));
    return r;
  }
  const size_t bodyStart = answer.find("\r\n\r\n");
  const std::string body = bodyStart == std::string::npos ? "" : answer.substr(bodyStart + 4);
  return Judge(body, proxyHost, expectAddress, start);
}

Checker::Checker(ProxyPool& pool, Metrics& metrics, CheckerSettings settings)
    : FPool(pool), FMetrics(metrics), FSettings(std::move(settings)) {
  char host[256] = "";
  ::gethostname(host, sizeof host - 1);
  std::random_device random;
  FHolder = std::string(host) + ":" + std::to_string(::getpid()) + ":" + std::to_string(random());
}

Checker::~Checker() { Stop(); }

void Checker::Start() {
  if (FSettings.intervalSeconds <= 0 || FThread.joinable()) return;
  FThread = std::thread([this] { Run(); });
}

void Checker::Stop() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FStop = true;
  }
  FWake.notify_all();
  if (!FThread.joinable()) return;
  FThread.join();
  // Another instance need not wait for the lease to expire.
  if (FLeader) FPool.DropLease(FHolder);
  FLeader = false;
  FMetrics.SetLeader(false);
}

void Checker::CheckSoon() {
  {
    std::lock_guard<std::mutex> g(FLock);
    FSoon = true;
  }
  FWake.notify_all();
}

bool Checker::Renew() {
  FRenewed = Clock::now();
  const bool held = FPool.TakeLease(FHolder, FSettings.leaseSeconds);
  if (held != FLeader)
    std::cerr << "veilgate-service: checker: "
              << (held ? "this instance checks the pool now" : "another instance checks the pool")
              << "\n";
  FLeader = held;
  FMetrics.SetLeader(held);
  return held;
}

void Checker::Run() {
  const auto interval =
      std::chrono::milliseconds(static_cast<int64_t>(FSettings.intervalSeconds * 1000));
  // The lease is looked at ten times per lease: an instance takes over soon
  // after the holder's lease expired, and the holder renews well before.
  const auto look = std::chrono::milliseconds(
      std::max<int64_t>(100, static_cast<int64_t>(FSettings.leaseSeconds * 100)));
  auto next = Clock::now();
  auto last = Clock::now() - interval;
  while (!FStop) {
    const bool held = Renew();
    // A reported proxy brings the next round forward.
    if (FSoon.exchange(false)) next = std::min(next, last + kSoonestRound);
    if (held && Clock::now() >= next) {
      last = Clock::now();
      next = last + interval;
      Round();
      continue;
    }
    std::unique_lock<std::mutex> g(FLock);
    const auto wake = held ? std::min(next, Clock::now() + look) : Clock::now() + look;
    FWake.wait_until(g, wake, [this] { return FStop.load() || FSoon.load(); });
  }
}

void Checker::Round() {
  const std::vector<PoolProxy> proxies = FPool.List();
  const int timeoutMs = static_cast<int>(FSettings.timeoutSeconds * 1000);
  // The workers probe; this thread writes their outcomes to the pool in
  // batches, at least every 100 ms, each batch one transaction. An outcome
  // is counted in the metrics once it is committed.
  //
  // Passes are written as they come: a proxy that fetched the probe address
  // works. Failures wait until the round can no longer be blamed on the
  // checker (enough probes passed) or has ended; a round in which nearly all
  // probes failed says more about the probe address or this machine's
  // network than about the proxies, and changes none of them.
  const size_t total = proxies.size();
  const int blame = FSettings.selfBlamePercent;
  std::mutex lock;
  std::condition_variable wake;
  std::vector<ProxyPool::Check> pending, held;
  size_t running = 0, passed = 0, failed = 0;
  std::string firstError;
  bool trusted = blame <= 0;  // failures may be written at once
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < proxies.size() && !FStop && FLeader; i = next++) {
      const PoolProxy& p = proxies[i];
      const ProbeResult r = ProbeThroughProxy(p.host, p.port, FSettings.url, timeoutMs,
                                              FSettings.expectAddress, FSettings.caFile);
      std::lock_guard<std::mutex> g(lock);
      (r.ok ? passed : failed)++;
      if (!r.ok && firstError.empty()) firstError = p.Address() + ": " + r.error;
      if (r.ok || trusted) {
        pending.push_back({p.id, r.ok, r.latencyMs, r.error});
      } else {
        held.push_back({p.id, r.ok, r.latencyMs, r.error});
      }
      // Even if every probe still to come fails, the round stays below the
      // blame share: the failures so far are the proxies' own.
      if (!trusted && (total - passed) * 100 < static_cast<size_t>(blame) * total) {
        trusted = true;
        pending.insert(pending.end(), held.begin(), held.end());
        held.clear();
      }
      if (pending.size() >= 256) wake.notify_one();
    }
    std::lock_guard<std::mutex> g(lock);
    --running;
    wake.notify_one();
  };
  const size_t count = std::min<size_t>(static_cast<size_t>(FSettings.workers), proxies.size());
  running = count;
  std::vector<std::thread> workers;
  for (size_t i = 0; i < count; ++i) workers.emplace_back(work);
  std::unique_lock<std::mutex> g(lock);
  bool blamed = false;
  while (true) {
    wake.wait_for(g, std::chrono::milliseconds(100),
                  [&] { return running == 0 || pending.size() >= 256; });
    const bool last = running == 0;
    if (last && !held.empty()) {
      const size_t done = passed + failed;
      blamed = failed * 100 >= static_cast<size_t>(blame) * done;
      if (blamed) {
        std::cerr << "veilgate-service: checker: " << failed << " of " << done << " probes failed ("
                  << firstError << "); the probe address " << FSettings.url
                  << " or this machine's network is at fault, so no proxy was changed\n";
        held.clear();
      } else {
        pending.insert(pending.end(), held.begin(), held.end());
        held.clear();
      }
    }
    std::vector<ProxyPool::Check> batch;
    batch.swap(pending);
    g.unlock();
    // Only the lease's holder writes: renewed before a batch when a tenth of
    // the lease has passed. An instance that hung past its lease finds it
    // taken and ends the round without writing.
    if (!batch.empty() && Clock::now() - FRenewed > std::chrono::milliseconds(static_cast<int64_t>(
                                                        FSettings.leaseSeconds * 100)))
      Renew();
    if (!FLeader) batch.clear();
    if (!batch.empty() && FPool.RecordChecks(batch, FSettings.failures))
      for (const auto& c : batch) FMetrics.CheckDone(c.ok, c.latencyMs);
    g.lock();
    if (last && pending.empty()) break;
  }
  g.unlock();
  for (auto& t : workers) t.join();
  // A round cut short by the stop or a lost lease says nothing about the
  // proxies or the checker.
  if ((!FStop && FLeader) || passed + failed == total) FMetrics.RoundDone(blamed);
}
