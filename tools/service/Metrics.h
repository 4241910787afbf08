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
  void Request(const std::string& endpoint, int status);
  void CheckDone(bool ok, int latencyMs);
  void RoundDone() { ++FRounds; }
  uint64_t Rounds() const { return FRounds; }
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
  std::atomic<uint64_t> FRounds{0};
};
