// The checker: every round it fetches the probe address through each proxy
// of the pool (several at once) and records the outcome; the pool takes a
// proxy off the lists after the configured failures in a row and lists it
// again when it passes. Of several instances sharing a pool, only the one
// holding the pool's lease checks.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class ProxyPool;
class Metrics;

struct ProbeResult {
  bool ok = false;
  int latencyMs = -1;
  std::string error;
};

// One GET of `url` (http://HOST:PORT/PATH) through the HTTP proxy at
// proxyHost:proxyPort, within timeoutMs. It passes on status 200 with a
// body that names the proxy's address when `expectAddress` is set.
// An https:// address is fetched through a tunnel (CONNECT) and its
// certificate verified against caFile (empty: the system's authorities).
ProbeResult ProbeThroughProxy(const std::string& proxyHost, int proxyPort, const std::string& url,
                              int timeoutMs, bool expectAddress, const std::string& caFile = "");

struct CheckerSettings {
  double intervalSeconds = 300;
  int failures = 3;
  double timeoutSeconds = 10;
  int workers = 16;
  std::string url;  // "{service}" already replaced
  bool expectAddress = true;
  std::string caFile;  // for https:// probes
  // A round in which at least this percentage of the probes failed is
  // blamed on the checker itself (the probe address cannot be reached, the
  // network is down): no proxy changes. 0: never.
  int selfBlamePercent = 90;
  // Instances that share a pool check it one at a time: the one that holds
  // the pool's lease, renewed while it checks and between rounds.
  double leaseSeconds = 30;
};

class Checker {
 public:
  Checker(ProxyPool& pool, Metrics& metrics, CheckerSettings settings);
  ~Checker();
  void Start();
  // Ends the rounds; probes under way finish (each within its timeout).
  void Stop();

 private:
  void Run();
  void Round();
  // Takes or renews the lease; false (and the round ends) when another
  // instance holds it.
  bool Renew();

  ProxyPool& FPool;
  Metrics& FMetrics;
  CheckerSettings FSettings;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FWake;
  std::atomic<bool> FStop{false};
  std::string FHolder;  // this instance, as the lease names it
  std::atomic<bool> FLeader{false};
  std::chrono::steady_clock::time_point FRenewed{};
};
