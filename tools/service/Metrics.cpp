#include "Metrics.h"

#include <cstdio>

#include "ProxyPool.h"

namespace {

// Label values: backslash, quote and line breaks escaped.
std::string Label(const std::string& v) {
  std::string out;
  for (char c : v) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

}  // namespace

void Metrics::Request(const std::string& endpoint, int status) {
  std::lock_guard<std::mutex> g(FLock);
  ++FRequests[{endpoint, status}];
}

void Metrics::CheckDone(bool ok, int latencyMs) {
  std::lock_guard<std::mutex> g(FLock);
  if (!ok) {
    ++FChecksFailed;
    return;
  }
  ++FChecksPassed;
  const double s = latencyMs / 1000.0;
  for (size_t i = 0; i < kBuckets.size(); ++i)
    if (s <= kBuckets[i]) ++FLatencyBuckets[i];
  ++FLatencyCount;
  FLatencySum += s;
}

std::string Metrics::Text(const std::vector<PoolProxy>* pool) const {
  std::string t;
  std::lock_guard<std::mutex> g(FLock);
  t += "# HELP veilgate_requests_total Requests answered, by endpoint and status.\n"
       "# TYPE veilgate_requests_total counter\n";
  for (auto& [key, n] : FRequests)
    t += "veilgate_requests_total{endpoint=\"" + Label(key.first) + "\",status=\"" +
         std::to_string(key.second) + "\"} " + std::to_string(n) + "\n";
  if (pool) {
    std::map<std::pair<std::string, bool>, uint64_t> byCountry;
    for (const PoolProxy& p : *pool) ++byCountry[{p.code.empty() ? "??" : p.code, p.alive}];
    t += "# HELP veilgate_proxies Proxies of the pool by country, alive (listed) or dead.\n"
         "# TYPE veilgate_proxies gauge\n";
    for (auto& [key, n] : byCountry)
      t += "veilgate_proxies{country=\"" + Label(key.first) + "\",state=\"" +
           (key.second ? "alive" : "dead") + "\"} " + std::to_string(n) + "\n";
  }
  t +=
      "# HELP veilgate_checks_total Proxy checks by outcome.\n# TYPE veilgate_checks_total counter\n";
  t += "veilgate_checks_total{result=\"pass\"} " + std::to_string(FChecksPassed) + "\n";
  t += "veilgate_checks_total{result=\"fail\"} " + std::to_string(FChecksFailed) + "\n";
  t += "# HELP veilgate_check_rounds_total Finished rounds of the checker.\n"
       "# TYPE veilgate_check_rounds_total counter\n";
  t += "veilgate_check_rounds_total " + std::to_string(FRounds.load()) + "\n";
  t += "# HELP veilgate_check_latency_seconds Time of the passing checks.\n"
       "# TYPE veilgate_check_latency_seconds histogram\n";
  for (size_t i = 0; i < kBuckets.size(); ++i)
    t += "veilgate_check_latency_seconds_bucket{le=\"" + Num(kBuckets[i]) + "\"} " +
         std::to_string(FLatencyBuckets[i]) + "\n";
  t += "veilgate_check_latency_seconds_bucket{le=\"+Inf\"} " + std::to_string(FLatencyCount) + "\n";
  t += "veilgate_check_latency_seconds_sum " + Num(FLatencySum) + "\n";
  t += "veilgate_check_latency_seconds_count " + std::to_string(FLatencyCount) + "\n";
  return t;
}
