// The proxy pool: one SQLite file (write-ahead log) with the proxies the
// operator added, their health as the checker last saw it, and the touches.
// Every change is one committed transaction, so a killed service loses at
// most the change it was making. Safe to use from several threads; other
// processes (the "pool" commands) may change the file while the service
// runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
class GeoLocator;

struct PoolProxy {
  int64_t id = 0;
  std::string host;  // an IPv4 address
  int port = 0;
  bool super = false;
  std::string code, name, latitude, longitude;
  bool placedByOperator = false;
  bool alive = true;      // in the lists; new proxies are listed until checks fail
  int failures = 0;       // failed checks in a row
  int64_t checkedAt = 0;  // unix seconds of the last check, 0: never
  int latencyMs = -1;     // of the last passing check
  std::string lastError;

  std::string Address() const { return host + ":" + std::to_string(port); }
  // The list record the program reads: address:port|country|code|longitude|latitude.
  std::string Record() const;
};

struct Touch {
  int64_t at = 0;
  std::string peer, ip;
};

// One line of an import file or of the "pool add" arguments, checked.
// Accepted: HOST:PORT, or a whole list record HOST:PORT|Country|CC|longitude|latitude.
bool ParseProxyLine(const std::string& line, PoolProxy& out, std::string& error);

class ProxyPool {
 public:
  ProxyPool() = default;
  ~ProxyPool();
  ProxyPool(const ProxyPool&) = delete;
  ProxyPool& operator=(const ProxyPool&) = delete;

  // Opens (creating when absent) the pool file.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return FDb != nullptr; }

  // Adds proxies in one transaction: all or none. Proxies without a country
  // are placed by the locator; an address already in the pool is an error.
  bool Add(std::vector<PoolProxy> proxies, const GeoLocator& geo, std::string& error);
  // Removes HOST:PORT; false with a message when it is not in the pool.
  bool Remove(const std::string& address, std::string& error);
  std::vector<PoolProxy> List();
  // The outcome of one check of one proxy. After `threshold` failures in a
  // row the proxy leaves the lists; one pass brings it back. Returns false
  // when the proxy is gone or the write failed.
  bool RecordCheck(int64_t id, bool ok, int latencyMs, const std::string& error, int threshold);
  // Several outcomes in one transaction (one write to the disk instead of
  // one per proxy).
  struct Check {
    int64_t id = 0;
    bool ok = false;
    int latencyMs = -1;
    std::string error;
  };
  bool RecordChecks(const std::vector<Check>& checks, int threshold);
  bool RecordTouch(const Touch& t);
  // Deletes the touches recorded before `before` (unix seconds).
  bool PruneTouches(int64_t before);
  // The pool answers a query.
  bool Healthy();
  std::vector<Touch> Touches();
  // Changes made through this object, and changes made by other processes
  // (SQLite's data version): together they tell when the lists changed.
  uint64_t LocalChanges() const { return FLocalChanges.load(); }
  uint64_t OtherChanges();

 private:
  bool Exec(const char* sql, std::string* error = nullptr);
  bool RecordCheckLocked(int64_t id, bool ok, int latencyMs, const std::string& error,
                         int threshold);
  sqlite3* FDb = nullptr;
  std::mutex FLock;
  std::atomic<uint64_t> FLocalChanges{0};
};
