// Counters for /metrics in the Prometheus text format: requests by endpoint
// and status, checks and their latency, rounds of the checker. The gauges of
// proxies alive and dead by country are read from the pool when scraped.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct PoolProxy;

class Metrics {
 public:
  // One answered request and the seconds from its first byte to its answer.
  void Request(const std::string& endpoint, int status, double seconds = 0);
  void CheckDone(bool ok, int latencyMs);
  // A finished round; `blamed`: nearly all probes failed, so the checker
  // blamed itself and changed no proxy.
  void RoundDone(bool blamed = false);
  uint64_t Rounds() const { return FRounds; }
  uint64_t BlamedRounds() const { return FBlamedRounds; }
  // Unix seconds of the last round that was not blamed, 0: none yet.
  int64_t LastGoodRound() const { return FLastGoodRound; }
  // Connections closed for the per-address cap or the request deadline.
  void ConnectionRefused() { ++FRefused; }
  void DeadlineHit() { ++FDeadlines; }
  // This instance holds the checker's lease.
  void SetLeader(bool leader) { FLeader = leader; }
  // The whole exposition; `pool` null when the lists come from the
  // configuration file.
  std::string Text(const std::vector<PoolProxy>* pool) const;

 private:
  mutable std::mutex FLock;
  std::map<std::pair<std::string, int>, uint64_t> FRequests;
  static constexpr std::array<double, 10> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,  1,     2.5,  5};
  std::array<uint64_t, kBuckets.size()> FLatencyBuckets{};
  uint64_t FLatencyCount = 0;
  double FLatencySum = 0;
  uint64_t FChecksPassed = 0, FChecksFailed = 0;
  std::atomic<uint64_t> FRounds{0}, FBlamedRounds{0}, FRefused{0}, FDeadlines{0};
  std::atomic<int64_t> FLastGoodRound{0};
  std::atomic<bool> FLeader{false};
  static constexpr std::array<double, 12> kDurationBuckets = {0.001, 0.0025, 0.005, 0.01,
                                                              0.025, 0.05,   0.1,   0.25,
                                                              0.5,   1,      2.5,   10};
  struct Durations {
    std::array<uint64_t, kDurationBuckets.size()> buckets{};
    uint64_t count = 0;
    double sum = 0;
  };
  std::map<std::string, Durations> FDurations;  // by endpoint
};
