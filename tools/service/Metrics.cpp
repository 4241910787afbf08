#include "Metrics.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

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

// The usual process metrics, from /proc: CPU time, resident memory, open
// files, start time.
std::string ProcessText() {
  std::string t;
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return t;
  std::istringstream in(stat.substr(close + 2));
  std::vector<std::string> f;  // fields from the third (state) on
  for (std::string w; in >> w;) f.push_back(w);
  if (f.size() < 22) return t;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double cpu = (std::stod(f[11]) + std::stod(f[12])) / tick;  // utime + stime
  const double rss = std::stod(f[21]) * static_cast<double>(sysconf(_SC_PAGESIZE));
  double boot = 0;
  std::ifstream s("/proc/stat");
  for (std::string line; std::getline(s, line);)
    if (line.rfind("btime ", 0) == 0) boot = std::stod(line.substr(6));
  const double start = boot + std::stod(f[19]) / tick;
  size_t fds = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++fds;
  t += "# HELP process_cpu_seconds_total User and system CPU time spent in seconds.\n"
       "# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total " +
       Num(cpu) + "\n";
  t += "# HELP process_resident_memory_bytes Resident memory size in bytes.\n"
       "# TYPE process_resident_memory_bytes gauge\nprocess_resident_memory_bytes " +
       Num(rss) + "\n";
  t += "# HELP process_open_fds Number of open file descriptors.\n"
       "# TYPE process_open_fds gauge\nprocess_open_fds " +
       std::to_string(fds) + "\n";
  char startText[32];
  std::snprintf(startText, sizeof startText, "%.0f", start);
  t += "# HELP process_start_time_seconds Start time of the process since unix epoch in seconds.\n"
       "# TYPE process_start_time_seconds gauge\nprocess_start_time_seconds " +
       std::string(startText) + "\n";
  return t;
}

}  // namespace

void Metrics::Request(const std::string& endpoint, int status, double seconds) {
  std::lock_guard<std::mutex> g(FLock);
  ++FRequests[{endpoint, status}];
  Durations& d = FDurations[endpoint];
  for (size_t i = 0; i < kDurationBuckets.size(); ++i)
    if (seconds <= kDurationBuckets[i]) ++d.buckets[i];
  ++d.count;
  d.sum += seconds;
}

void Metrics::RoundDone(bool blamed) {
  ++FRounds;
  if (blamed)
    ++FBlamedRounds;
  else
    FLastGoodRound = static_cast<int64_t>(std::time(nullptr));
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
  t +=
      "# HELP veilgate_check_rounds_blamed_total Rounds the checker blamed on itself (nearly every probe failed; no proxy changed).\n"
      "# TYPE veilgate_check_rounds_blamed_total counter\n";
  t += "veilgate_check_rounds_blamed_total " + std::to_string(FBlamedRounds.load()) + "\n";
  t +=
      "# HELP veilgate_check_last_good_round_timestamp_seconds End of the last round not blamed on the checker (0: none yet).\n"
      "# TYPE veilgate_check_last_good_round_timestamp_seconds gauge\n";
  t += "veilgate_check_last_good_round_timestamp_seconds " + std::to_string(FLastGoodRound.load()) +
       "\n";
  t += "# HELP veilgate_checker_leader 1 while this instance holds the checker's lease.\n"
       "# TYPE veilgate_checker_leader gauge\n";
  t += std::string("veilgate_checker_leader ") + (FLeader ? "1" : "0") + "\n";
  t +=
      "# HELP veilgate_request_duration_seconds Time from a request's arrival to its answer, by endpoint.\n"
      "# TYPE veilgate_request_duration_seconds histogram\n";
  for (auto& [endpoint, d] : FDurations) {
    const std::string e = "endpoint=\"" + Label(endpoint) + "\"";
    for (size_t i = 0; i < kDurationBuckets.size(); ++i)
      t += "veilgate_request_duration_seconds_bucket{" + e + ",le=\"" + Num(kDurationBuckets[i]) +
           "\"} " + std::to_string(d.buckets[i]) + "\n";
    t += "veilgate_request_duration_seconds_bucket{" + e + ",le=\"+Inf\"} " +
         std::to_string(d.count) + "\n";
    t += "veilgate_request_duration_seconds_sum{" + e + "} " + Num(d.sum) + "\n";
    t += "veilgate_request_duration_seconds_count{" + e + "} " + std::to_string(d.count) + "\n";
  }
  t +=
      "# HELP veilgate_connections_refused_total Connections closed at once: the peer had as many open as allowed.\n"
      "# TYPE veilgate_connections_refused_total counter\n";
  t += "veilgate_connections_refused_total " + std::to_string(FRefused.load()) + "\n";
  t +=
      "# HELP veilgate_request_deadline_total Connections closed: a request took longer than its deadline.\n"
      "# TYPE veilgate_request_deadline_total counter\n";
  t += "veilgate_request_deadline_total " + std::to_string(FDeadlines.load()) + "\n";
  t += ProcessText();
  return t;
}
