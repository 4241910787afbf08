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

// The HELP and TYPE lines of a metric.
void Head(std::string& t, const char* name, const char* type, const char* help) {
  t += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// A metric of one value, with its HELP and TYPE lines.
void Single(std::string& t, const char* name, const char* type, const char* help,
            const std::string& value) {
  Head(t, name, type, help);
  t += std::string(name) + " " + value + "\n";
}

// The lines of one histogram's series: cumulative buckets, +Inf, sum and
// count; labels (may be empty) go before "le".
template <size_t N>
void Histogram(std::string& t, const std::string& name, const std::string& labels,
               const std::array<double, N>& bounds, const uint64_t* buckets, uint64_t count,
               double sum) {
  const std::string sep = labels.empty() ? "" : ",";
  for (size_t i = 0; i < N; ++i)
    t += name + "_bucket{" + labels + sep + "le=\"" + Num(bounds[i]) + "\"} " +
         std::to_string(buckets[i]) + "\n";
  t += name + "_bucket{" + labels + sep + "le=\"+Inf\"} " + std::to_string(count) + "\n";
  const std::string braced = labels.empty() ? "" : "{" + labels + "}";
  t += name + "_sum" + braced + " " + Num(sum) + "\n";
  t += name + "_count" + braced + " " + std::to_string(count) + "\n";
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
  Single(t, "process_cpu_seconds_total", "counter", "User and system CPU time spent in seconds.",
         Num(cpu));
  Single(t, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", Num(rss));
  Single(t, "process_open_fds", "gauge", "Number of open file descriptors.", std::to_string(fds));
  char startText[32];
  std::snprintf(startText, sizeof startText, "%.0f", start);
  Single(t, "process_start_time_seconds", "gauge",
         "Start time of the process since unix epoch in seconds.", startText);
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
  Head(t, "veilgate_requests_total", "counter", "Requests answered, by endpoint and status.");
  for (auto& [key, n] : FRequests)
    t += "veilgate_requests_total{endpoint=\"" + Label(key.first) + "\",status=\"" +
         std::to_string(key.second) + "\"} " + std::to_string(n) + "\n";
  if (pool) {
    std::map<std::pair<std::string, bool>, uint64_t> byCountry;
    for (const PoolProxy& p : *pool) ++byCountry[{p.code.empty() ? "??" : p.code, p.alive}];
    Head(t, "veilgate_proxies", "gauge", "Proxies of the pool by country, alive (listed) or dead.");
    for (auto& [key, n] : byCountry)
      t += "veilgate_proxies{country=\"" + Label(key.first) + "\",state=\"" +
           (key.second ? "alive" : "dead") + "\"} " + std::to_string(n) + "\n";
  }
  Head(t, "veilgate_checks_total", "counter", "Proxy checks by outcome.");
  t += "veilgate_checks_total{result=\"pass\"} " + std::to_string(FChecksPassed) + "\n";
  t += "veilgate_checks_total{result=\"fail\"} " + std::to_string(FChecksFailed) + "\n";
  Single(t, "veilgate_check_rounds_total", "counter", "Finished rounds of the checker.",
         std::to_string(FRounds.load()));
  Head(t, "veilgate_check_latency_seconds", "histogram", "Time of the passing checks.");
  Histogram(t, "veilgate_check_latency_seconds", "", kBuckets, FLatencyBuckets.data(),
            FLatencyCount, FLatencySum);
  Single(t, "veilgate_check_rounds_blamed_total", "counter",
         "Rounds the checker blamed on itself (nearly every probe failed; no proxy changed).",
         std::to_string(FBlamedRounds.load()));
  Single(t, "veilgate_check_last_good_round_timestamp_seconds", "gauge",
         "End of the last round not blamed on the checker (0: none yet).",
         std::to_string(FLastGoodRound.load()));
  Single(t, "veilgate_checker_leader", "gauge", "1 while this instance holds the checker's lease.",
         FLeader ? "1" : "0");
  Head(t, "veilgate_request_duration_seconds", "histogram",
       "Time from a request's arrival to its answer, by endpoint.");
  for (auto& [endpoint, d] : FDurations)
    Histogram(t, "veilgate_request_duration_seconds", "endpoint=\"" + Label(endpoint) + "\"",
              kDurationBuckets, d.buckets.data(), d.count, d.sum);
  Single(t, "veilgate_connections_refused_total", "counter",
         "Connections closed at once: the peer had as many open as allowed.",
         std::to_string(FRefused.load()));
  Single(t, "veilgate_request_deadline_total", "counter",
         "Connections closed: a request took longer than its deadline.",
         std::to_string(FDeadlines.load()));
  Single(t, "veilgate_proxy_reports_total", "counter",
         "Proxies clients gave up because they stopped answering.",
         std::to_string(FReported.load()));
  t += ProcessText();
  return t;
}
