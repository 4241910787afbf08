// The service's request handling, apart from the HTTP server library: a
// request (method, path, query parameters, the headers that matter, the TCP
// peer) goes in, a status, a content type and a body come out. The server
// glue in main.cpp and the fuzz target both drive it.
//
//   GET /update, /update.php, /redirect?ACTION=Update   the update answer
//   GET /redirect?ACTION=<page>, /page/<page>           a page of [pages] (or a stub page)
//   GET /getinfo?MagicWord=<word>                       the local-information answer
//   GET /flags/<CODE>.PNG                               a flag picture of the flags folder
//   GET /touch?ip=<ip>                                  records a touch; answers "OK"
//   GET /touches                                        the recorded touches (local administration only)
//   GET /checkip                                        a page showing the caller's address
//   GET /metrics                                        counters in the Prometheus text format
//                                                       (admin addresses only)
//   GET /healthz                                        "ok" while the service can answer
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Geo.h"
#include "Metrics.h"
#include "ProxyPool.h"
#include "ServiceConfig.h"

struct ServiceRequest {
  std::string method = "GET";
  std::string path;                                // decoded
  std::string query;                               // as sent, without "?"
  std::multimap<std::string, std::string> params;  // decoded query parameters
  std::string host;                                // the Host header
  std::string forwardedFor;                        // the X-Forwarded-For header
  std::string peer;                                // the TCP peer's address
  size_t headerBytes = 0;                          // names and values of all headers together
};

struct ServiceResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  bool closeConnection = false;  // a request body may follow unread
};

class Service {
 public:
  explicit Service(ServiceConfig config);
  ~Service();

  // Opens the GeoIP databases and the pool (when configured).
  bool Open(std::string& error);
  void Close();

  void Handle(const ServiceRequest& req, ServiceResponse& res);
  // The access-log line of a request: space-separated name=value fields,
  // values quoted when needed; the magic word is never written.
  std::string LogLine(const ServiceRequest& req, int status, size_t bytes, double ms) const;
  // The metrics endpoint name of a path ("update", "getinfo", ..., "other").
  static std::string Endpoint(const std::string& path);

  const ServiceConfig& Config() const { return FConfig; }
  // Takes the answers' texts of a configuration read again ([update],
  // [banner], [settings], [pages], [localinfo], the magic word, public_url),
  // for requests that start from now on. Returns the settings that differ
  // but take a restart, comma-separated ("" when none).
  std::string Reload(const ServiceConfig& fresh);
  ServiceConfig& MutableConfig() { return FConfig; }
  GeoLocator& Geo() { return FGeo; }
  ProxyPool* Pool() { return FPool.IsOpen() ? &FPool : nullptr; }
  Metrics& Stats() { return FMetrics; }
  // Where the service listens, for "{service}" when no Host header came.
  void SetSelf(const std::string& self) { FSelf = self; }
  const std::string& SelfAddress() const { return FSelf; }

 private:
  struct Lists {
    std::shared_ptr<const std::string> normal, super;
  };
  Lists CurrentLists();
  std::string Self(const ServiceRequest& req, bool forHtml) const;
  void ServeUpdate(const ServiceRequest& req, ServiceResponse& res);
  void ServePage(const std::string& page, const ServiceRequest& req, ServiceResponse& res);
  void ServeFlag(const std::string& file, ServiceResponse& res);
  void ServeTouch(const ServiceRequest& req, const std::string& client, ServiceResponse& res);
  void ServeTouches(ServiceResponse& res);
  void ServeLocalInfo(const ServiceRequest& req, const std::string& client, ServiceResponse& res);

  // The configuration the answers are built from (replaced by Reload).
  std::shared_ptr<const ServiceConfig> Answers() const;

  ServiceConfig FConfig;
  mutable std::mutex FAnswersLock;
  std::shared_ptr<const ServiceConfig> FAnswers;
  GeoLocator FGeo;
  ProxyPool FPool;
  Metrics FMetrics;
  std::string FSelf;

  std::mutex FListsLock;
  Lists FLists;
  uint64_t FListsVersion = UINT64_MAX;
  uint64_t FOtherVersion = 0;
  bool FRebuilding = false;
  bool FPolling = false;
  std::condition_variable FListsBuilt;
  std::chrono::steady_clock::time_point FListsPolled{};

  // A requester may touch touchRate times a minute (a bucket that refills
  // continuously).
  bool TouchAllowed(const std::string& client, int64_t nowMs);
  void AppendTouchesFile(const std::string& line);

  std::mutex FTouchLock;
  std::deque<Touch> FTouches;  // without a pool
  struct Bucket {
    double tokens = 0;
    int64_t atMs = 0;
  };
  std::unordered_map<std::string, Bucket> FTouchBuckets;
  int64_t FTouchesPruned = 0;  // unix seconds of the last retention pass over the pool
};
