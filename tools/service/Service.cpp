#include "Service.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Address.h"
#include "ServiceAnswers.h"
#include "platform/AsciiText.h"

namespace {

const char* const kText = "text/plain; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";

std::string Param(const ServiceRequest& req, const std::string& name) {
  const auto it = req.params.find(name);
  return it == req.params.end() ? std::string() : it->second;
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string Iso(int64_t at) {
  const std::time_t t = static_cast<std::time_t>(at);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string Decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && IsHexDigit(s[i + 1]) && IsHexDigit(s[i + 2])) {
      out += static_cast<char>(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

// A log field value: bare when it is plain, else quoted with every quote,
// backslash, control and non-ASCII byte written as \xHH.
std::string Field(const std::string& v) {
  bool plain = !v.empty();
  for (unsigned char c : v)
    plain = plain && c > 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '=';
  if (plain) return v;
  std::string out = "\"";
  for (unsigned char c : v) {
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      out += "\\x";
      AppendHexByte(out, c, LetterCase::Lower);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The query as logged: the values of the magic word and of "PID" (which
// carries the magic word when the program has no product id) are replaced
// by "-".
std::string RedactedQuery(const std::string& query) {
  std::string out;
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    if (amp == std::string::npos) amp = query.size();
    const std::string part = query.substr(start, amp - start);
    const size_t eq = part.find('=');
    const std::string name = Decode(part.substr(0, eq));
    if (!out.empty() || start > 0) out += '&';
    if (SameText(name, "MagicWord") || SameText(name, "PID"))
      out += part.substr(0, eq) + "=-";
    else
      out += part;
    start = amp + 1;
  }
  return out;
}

}  // namespace

Service::Service(ServiceConfig config) : FConfig(std::move(config)) {
  FSelf = FConfig.listen + ":" + std::to_string(FConfig.port);
  FAnswers = std::make_shared<const ServiceConfig>(FConfig);
}

std::shared_ptr<const ServiceConfig> Service::Answers() const {
  std::lock_guard<std::mutex> g(FAnswersLock);
  return FAnswers;
}

std::string Service::Reload(const ServiceConfig& fresh) {
  const ServiceConfig& old = FConfig;
  std::string restart;
  auto differs = [&](bool changed, const char* name) {
    if (changed) restart += (restart.empty() ? "" : ", ") + std::string(name);
  };
  differs(fresh.listen != old.listen || fresh.port != old.port, "listen/port");
  differs(fresh.database != old.database, "database");
  differs(fresh.threads != old.threads, "threads");
  differs(fresh.tlsCert != old.tlsCert || fresh.tlsKey != old.tlsKey, "tls");
  differs(fresh.logFile != old.logFile, "log");
  differs(fresh.trustedProxies != old.trustedProxies || fresh.admin != old.admin,
          "trusted_proxies/admin");
  differs(fresh.maxConnectionsPerAddress != old.maxConnectionsPerAddress ||
              fresh.requestDeadline != old.requestDeadline ||
              fresh.maxHeaderBytes != old.maxHeaderBytes || fresh.maxBodyBytes != old.maxBodyBytes,
          "connection limits");
  differs(fresh.touchRate != old.touchRate || fresh.touchRetentionDays != old.touchRetentionDays ||
              fresh.touchesFile != old.touchesFile || fresh.touchesMaxBytes != old.touchesMaxBytes,
          "touches");
  differs(fresh.flagsDir != old.flagsDir, "flags");
  differs(fresh.mmdb != old.mmdb || fresh.geoipDat != old.geoipDat, "[geoip]");
  differs(fresh.checkInterval != old.checkInterval || fresh.checkURL != old.checkURL ||
              fresh.checkFailures != old.checkFailures || fresh.checkTimeout != old.checkTimeout,
          "[checker]");
  differs(fresh.normalProxies != old.normalProxies || fresh.superProxies != old.superProxies,
          "[normal]/[super]");
  std::lock_guard<std::mutex> g(FAnswersLock);
  FAnswers = std::make_shared<const ServiceConfig>(fresh);
  return restart;
}

Service::~Service() { Close(); }

bool Service::Open(std::string& error) {
  if (!FGeo.Open(FConfig, error)) return false;
  if (!FConfig.database.empty()) {
    if (!FConfig.normalProxies.empty() || !FConfig.superProxies.empty()) {
      error = "line " + std::to_string(FConfig.firstListLine) +
              ": [normal] and [super] are not read when a pool database is configured; "
              "put the proxies into the pool with \"veilgate-service pool import\"";
      return false;
    }
    if (!FPool.Open(FConfig.database, error)) return false;
  }
  return true;
}

void Service::Close() { FPool.Close(); }

std::string Service::Endpoint(const std::string& path) {
  if (path == "/update" || path == "/update.php") return "update";
  if (path == "/redirect") return "redirect";
  if (path.rfind("/page/", 0) == 0) return "page";
  if (path.rfind("/flags/", 0) == 0) return "flags";
  static const char* const plain[] = {"/getinfo", "/touch",   "/touches",
                                      "/checkip", "/metrics", "/healthz"};
  for (const char* p : plain)
    if (path == p) return p + 1;
  return "other";
}

std::string Service::Self(const ServiceRequest& req, bool forHtml) const {
  // The configured public address; the Host header only for the demo (a
  // reverse proxy sends its upstream address there, which clients would
  // write into their settings).
  const std::string authority = Answers()->publicAuthority;
  const std::string self = !authority.empty() ? authority : req.host.empty() ? FSelf : req.host;
  return forHtml ? HtmlEscape(self) : self;
}

Service::Lists Service::CurrentLists() {
  std::unique_lock<std::mutex> g(FListsLock);
  if (!FPool.IsOpen()) {
    if (!FLists.normal) {
      FLists.normal = std::make_shared<const std::string>(JoinRecords(FConfig.normalProxies));
      FLists.super = std::make_shared<const std::string>(JoinRecords(FConfig.superProxies));
    }
    return FLists;
  }
  // Rebuilt when this process changed the lists, and when another process
  // or connection changed the pool (looked at no more than twice a second,
  // by one thread while the others answer from the lists they have).
  const auto now = std::chrono::steady_clock::now();
  if ((now - FListsPolled > std::chrono::milliseconds(500) || !FLists.normal) && !FPolling) {
    FListsPolled = now;
    FPolling = true;
    g.unlock();
    const uint64_t other = FPool.OtherChanges();
    g.lock();
    FOtherVersion = other;
    FPolling = false;
  }
  const uint64_t version = FPool.LocalChanges() ^ (FOtherVersion << 40);
  if ((FLists.normal && version == FListsVersion) || FRebuilding) {
    if (FLists.normal) return FLists;  // one thread rebuilds; the others answer from the last lists
    FListsBuilt.wait(g, [this] { return !FRebuilding; });
    return FLists;
  }
  FRebuilding = true;
  g.unlock();
  std::vector<std::string> normal, super;
  for (const PoolProxy& p : FPool.List()) {
    if (!p.alive) continue;
    (p.super ? super : normal).push_back(p.Record());
  }
  // A list with no live proxy keeps its last good text: the checker may be
  // wrong, and an empty list would clear every client's setting.
  Lists fresh{normal.empty() && FLists.normal
                  ? FLists.normal
                  : std::make_shared<const std::string>(JoinRecords(normal)),
              super.empty() && FLists.super
                  ? FLists.super
                  : std::make_shared<const std::string>(JoinRecords(super))};
  g.lock();
  FLists = fresh;
  FListsVersion = version;
  FRebuilding = false;
  FListsBuilt.notify_all();
  return FLists;
}

void Service::Handle(const ServiceRequest& req, ServiceResponse& res) {
  res = ServiceResponse{};
  res.contentType = kText;
  if (req.headerBytes > FConfig.maxHeaderBytes) {
    res.status = 431;
    res.body = "request headers too large\n";
    res.closeConnection = true;
    return;
  }
  if (req.method != "GET" && req.method != "HEAD") {
    // Request bodies are never read: the connection ends after the answer.
    res.status = 405;
    res.body = "only GET\n";
    res.closeConnection = true;
    return;
  }
  const svc::Client client = svc::ResolveClient(req.peer, req.forwardedFor, FConfig.trustedProxies);
  const std::string& path = req.path;
  if (path == "/update" || path == "/update.php") {
    ServeUpdate(req, res);
  } else if (path == "/redirect") {
    const std::string action = Param(req, "ACTION");
    if (SameText(action, "Update"))
      ServeUpdate(req, res);
    else
      ServePage(action, req, res);
  } else if (path.rfind("/page/", 0) == 0 && path.size() > 6 &&
             path.find('/', 6) == std::string::npos) {
    ServePage(path.substr(6), req, res);
  } else if (path == "/getinfo") {
    ServeLocalInfo(req, client.address, res);
  } else if (path.rfind("/flags/", 0) == 0 && path.size() > 7 &&
             path.find('/', 7) == std::string::npos) {
    ServeFlag(path.substr(7), res);
  } else if (path == "/touch") {
    ServeTouch(req, client.address, res);
  } else if (path == "/touches") {
    if (!svc::IsAdmin(client, FConfig.admin)) {
      res.status = 403;
      res.body = "local administration only\n";
      return;
    }
    ServeTouches(res);
  } else if (path == "/checkip") {
    res.contentType = kHtml;
    res.body = CheckIPPage(client.address);
  } else if (path == "/healthz") {
    if (FPool.IsOpen() && !FPool.Healthy()) {
      res.status = 503;
      res.body = "the pool cannot be read\n";
      return;
    }
    res.body = "ok\n";
  } else if (path == "/metrics") {
    if (!svc::IsAdmin(client, FConfig.admin)) {
      res.status = 403;
      res.body = "local administration only\n";
      return;
    }
    res.contentType = "text/plain; version=0.0.4; charset=utf-8";
    if (FPool.IsOpen()) {
      const std::vector<PoolProxy> all = FPool.List();
      res.body = FMetrics.Text(&all);
    } else {
      res.body = FMetrics.Text(nullptr);
    }
  } else {
    res.status = 404;
    res.body = "not found\n";
  }
}

void Service::ServeUpdate(const ServiceRequest& req, ServiceResponse& res) {
  const Lists lists = CurrentLists();
  res.body = UpdateAnswer(*Answers(), Self(req, false), *lists.normal, *lists.super);
}

void Service::ServePage(const std::string& page, const ServiceRequest& req, ServiceResponse& res) {
  std::string html = ServiceConfig::Get(Answers()->pages, page);
  if (html.empty())
    html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Veilgate " +
           HtmlEscape(page) + "</title></head><body><h1>Veilgate</h1><p>Page: " + HtmlEscape(page) +
           "</p></body></html>\n";
  res.contentType = kHtml;
  res.body = ExpandService(html, Self(req, true));
}

void Service::ServeFlag(const std::string& file, ServiceResponse& res) {
  // Only plain names ending in ".PNG" (any case); the folder's files are
  // matched without regard to case.
  bool ok = file.size() > 4 && file.size() < 64 && EndsWithText(file, ".png");
  for (size_t i = 0; ok && i + 4 < file.size(); ++i)
    ok = IsAsciiAlnum(file[i]) || file[i] == '_' || file[i] == '-';
  std::string bytes;
  bool found = false;
  std::error_code ec;
  if (ok && !FConfig.flagsDir.empty()) {
    for (auto& e : std::filesystem::directory_iterator(FConfig.flagsDir, ec)) {
      if (!e.is_regular_file(ec) || !SameText(e.path().filename().string(), file)) continue;
      std::ifstream f(e.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
      found = static_cast<bool>(f) || f.eof();
      break;
    }
  }
  if (!found) {
    res.status = 404;
    res.body = "no such flag\n";
    return;
  }
  res.contentType = "image/png";
  res.body = std::move(bytes);
}

bool Service::TouchAllowed(const std::string& client, int64_t nowMs) {
  if (FConfig.touchRate <= 0) return true;
  const double perMs = FConfig.touchRate / 60000.0;
  std::lock_guard<std::mutex> g(FTouchLock);
  // Buckets that are full again carry nothing: forget them when the map grows.
  if (FTouchBuckets.size() > 100000) {
    for (auto it = FTouchBuckets.begin(); it != FTouchBuckets.end();)
      it = (nowMs - it->second.atMs) * perMs + it->second.tokens >= FConfig.touchRate
               ? FTouchBuckets.erase(it)
               : std::next(it);
  }
  auto [it, fresh] = FTouchBuckets.try_emplace(client);
  Bucket& b = it->second;
  if (fresh) b.tokens = FConfig.touchRate;
  b.tokens = std::min<double>(FConfig.touchRate, b.tokens + (nowMs - b.atMs) * perMs);
  b.atMs = nowMs;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

void Service::AppendTouchesFile(const std::string& line) {
  std::lock_guard<std::mutex> g(FTouchLock);
  // One older generation is kept: FILE.1.
  std::error_code ec;
  const auto size = std::filesystem::file_size(FConfig.touchesFile, ec);
  if (!ec && size + line.size() > FConfig.touchesMaxBytes)
    std::filesystem::rename(FConfig.touchesFile, FConfig.touchesFile + ".1", ec);
  // Users' addresses: a file for the operator alone, never through a link.
  const int fd = ::open(FConfig.touchesFile.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;
  ::close(fd);
}

void Service::ServeTouch(const ServiceRequest& req, const std::string& client,
                         ServiceResponse& res) {
  const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  if (!TouchAllowed(client, nowMs)) {
    res.status = 429;
    res.body = "too many touches\n";
    return;
  }
  std::string ip = Param(req, "ip");
  if (ip.empty()) ip = req.query;
  if (ip.size() > 256) ip.resize(256);
  for (char& c : ip)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  Touch t{nowMs / 1000, client, ip};
  const int64_t oldest = t.at - int64_t{FConfig.touchRetentionDays} * 86400;
  if (FPool.IsOpen()) {
    if (!FPool.RecordTouch(t)) {
      res.status = 503;
      res.body = "cannot record the touch\n";
      return;
    }
    // Older touches leave the pool, looked for at most once a minute.
    bool prune = false;
    {
      std::lock_guard<std::mutex> g(FTouchLock);
      if (t.at - FTouchesPruned >= 60) {
        FTouchesPruned = t.at;
        prune = true;
      }
    }
    if (prune) FPool.PruneTouches(oldest);
  } else {
    std::lock_guard<std::mutex> g(FTouchLock);
    while (!FTouches.empty() && (FTouches.front().at < oldest || FTouches.size() >= 100000))
      FTouches.pop_front();
    FTouches.push_back(t);
  }
  if (!FConfig.touchesFile.empty()) AppendTouchesFile(Iso(t.at) + " " + client + " " + ip + "\n");
  // A client that gave the proxy up because it stopped answering: counted,
  // and the checker looks at the pool at once (the touch rate above bounds
  // how often one client can ask for that).
  if (Param(req, "dead") == "1") {
    FMetrics.ProxyReported();
    if (OnProxyReported) OnProxyReported();
  }
  res.body = "OK\r\n";
}

void Service::ServeTouches(ServiceResponse& res) {
  std::string text;
  if (FPool.IsOpen()) {
    for (const Touch& t : FPool.Touches()) text += t.ip + "\r\n";
  } else {
    std::lock_guard<std::mutex> g(FTouchLock);
    for (auto& t : FTouches) text += t.ip + "\r\n";
  }
  res.body = std::move(text);
}

void Service::ServeLocalInfo(const ServiceRequest& req, const std::string& client,
                             ServiceResponse& res) {
  const auto config = Answers();
  if (config->checkMagicWord && !SameText(Param(req, "MagicWord"), config->magicWord)) {
    res.status = 403;
    res.body = "wrong magic word\n";
    return;
  }
  const GeoInfo geo = config->localInfo.empty() ? FGeo.Lookup(client) : GeoInfo{};
  res.body = LocalInfoAnswer(*config, client, geo);
}

std::string Service::LogLine(const ServiceRequest& req, int status, size_t bytes, double ms) const {
  const svc::Client client = svc::ResolveClient(req.peer, req.forwardedFor, FConfig.trustedProxies);
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", ms);
  std::string line = "time=" + Now() + " peer=" + Field(req.peer) +
                     " client=" + Field(client.address) + " method=" + Field(req.method) +
                     " path=" + Field(req.path);
  if (!req.query.empty()) line += " query=" + Field(RedactedQuery(req.query));
  line +=
      " status=" + std::to_string(status) + " bytes=" + std::to_string(bytes) + " ms=" + duration;
  return line;
}
