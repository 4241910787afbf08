// The proxy pool: the proxies the operator added, their health as the
// checker last saw it, the touches, and the checker's lease. Kept in one
// SQLite file (write-ahead log; the embedded default) or in a PostgreSQL
// database ("postgresql://..."), which any number of service instances
// share. Every change is one committed transaction, so a killed service
// loses at most the change it was making. Safe to use from several threads;
// other processes (the "pool" commands, other instances) may change the pool
// while the service runs.
#pragma once

#include "platform/NoCopy.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class GeoLocator;
class PoolStore;

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

class ProxyPool : private TNoCopy {
 public:
  ProxyPool() = default;
  ~ProxyPool();

  // Opens the pool: a file (created when absent), or a PostgreSQL database
  // given as "postgresql://..." (its tables created when absent). Either way
  // the schema is brought to the current version first.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return FStore != nullptr; }
  // The schema version this program writes.
  static constexpr int kSchemaVersion = 2;

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
  // The checker's lease: true when `holder` holds it (now for `seconds`
  // more). Taken when free or expired, renewed by its holder; a holder that
  // hangs loses it when it expires.
  bool TakeLease(const std::string& holder, double seconds);
  // Gives the lease up (a stopping service).
  void DropLease(const std::string& holder);

 private:
  std::unique_ptr<PoolStore> FStore;
  std::mutex FLock;
  std::atomic<uint64_t> FLocalChanges{0};
};

// A pool URL as it may be shown: the password of a postgresql:// URL replaced.
std::string ShowablePool(const std::string& path);

// What a store of the pool does; the pool above checks and places, the
// stores keep. Calls come one at a time (the pool's lock).
class PoolStore {
 public:
  virtual ~PoolStore() = default;
  // Adds all or none; an address already there is an error naming it.
  virtual bool Add(const std::vector<PoolProxy>& proxies, std::string& error) = 0;
  // 1 removed, 0 not there, -1 failed (error set).
  virtual int Remove(const std::string& host, int port, std::string& error) = 0;
  virtual bool List(std::vector<PoolProxy>& out) = 0;
  // In one transaction; *changed counts proxies that joined or left the lists.
  virtual bool RecordChecks(const std::vector<ProxyPool::Check>& checks, int threshold,
                            int* changed) = 0;
  virtual bool RecordTouch(const Touch& t) = 0;
  virtual bool PruneTouches(int64_t before) = 0;
  virtual bool Touches(std::vector<Touch>& out) = 0;
  // A number that moves whenever anybody changed the lists (other
  // processes included).
  virtual uint64_t Version() = 0;
  virtual bool Healthy() = 0;
  virtual bool TakeLease(const std::string& holder, double seconds) = 0;
  virtual void DropLease(const std::string& holder) = 0;
};

std::unique_ptr<PoolStore> OpenSqliteStore(const std::string& path, std::string& error);
std::unique_ptr<PoolStore> OpenPostgresStore(const std::string& url, std::string& error);
