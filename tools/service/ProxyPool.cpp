#include "ProxyPool.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <set>

#include "Address.h"
#include "Geo.h"
#include "platform/AsciiText.h"

namespace {

struct Statement {
  sqlite3_stmt* s = nullptr;
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
  ~Statement() { sqlite3_finalize(s); }
  explicit operator bool() const { return s != nullptr; }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.c_str(), -1, SQLITE_TRANSIENT);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(s, i, v); }
  std::string Col(int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
};

bool Number(const std::string& v, double min, double max) {
  if (v.empty()) return false;
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  return *end == '\0' && std::isfinite(d) && d >= min && d <= max;
}

}  // namespace

std::string PoolProxy::Record() const {
  return Address() + "|" + name + "|" + code + "|" + longitude + "|" + latitude;
}

bool ParseProxyLine(const std::string& text, PoolProxy& out, std::string& error) {
  out = PoolProxy{};
  const std::string line = Trim(text, " \t\r\n");
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t bar = line.find('|', start);
    fields.push_back(Trim(std::string_view(line).substr(start, bar - start), " \t\r\n"));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (fields.size() != 1 && fields.size() != 5) {
    error = "expected HOST:PORT or HOST:PORT|Country|CC|longitude|latitude";
    return false;
  }
  const std::string& address = fields[0];
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    error = "\"" + address + "\" is not HOST:PORT";
    return false;
  }
  out.host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  svc::IP ip;
  if (!svc::ParseIP(out.host, ip) || !ip.v4 || out.host.find(':') != std::string::npos) {
    error = "\"" + out.host + "\" is not an IPv4 address";
    return false;
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::atoi(port.c_str()) < 1 ||
      std::atoi(port.c_str()) > 65535) {
    error = "\"" + port + "\" is not a port from 1 to 65535";
    return false;
  }
  out.port = std::atoi(port.c_str());
  if (fields.size() == 5) {
    out.name = fields[1];
    out.code = fields[2];
    if (out.code.size() != 2 || !IsAsciiLetter(out.code[0]) || !IsAsciiLetter(out.code[1])) {
      error = "\"" + out.code + "\" is not a two-letter country code";
      return false;
    }
    out.code = UpperCase(out.code);
    if (!Number(fields[3], -180, 180) || !Number(fields[4], -90, 90)) {
      error = "longitude and latitude must be numbers (-180..180, -90..90)";
      return false;
    }
    if (out.name.empty() || out.name.find(';') != std::string::npos) {
      error = "the country name must be given and cannot contain \";\"";
      return false;
    }
    out.longitude = fields[3];
    out.latitude = fields[4];
    out.placedByOperator = true;
  }
  return true;
}

namespace {

// The pool in one SQLite file.
class SqliteStore : public PoolStore {
 public:
  ~SqliteStore() override {
    if (FDb) sqlite3_close(FDb);
  }

  bool Open(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &FDb,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      error = "cannot open the pool " + path + ": " + (FDb ? sqlite3_errmsg(FDb) : "out of memory");
      return false;
    }
    // Writers of other processes wait for each other instead of failing.
    sqlite3_busy_timeout(FDb, 5000);
    std::string e;
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", &e) ||
        !Migrate(e)) {
      error = "cannot use the pool " + path + ": " + e;
      return false;
    }
    return true;
  }

  bool Add(const std::vector<PoolProxy>& proxies, std::string& error) override {
    if (!Exec("BEGIN IMMEDIATE", &error)) return false;
    Statement exists(FDb, "SELECT 1 FROM proxies WHERE host = ? AND port = ?");
    Statement ins(FDb,
                  "INSERT INTO proxies (host, port, super, code, name, latitude, longitude,"
                  " placed_by_operator, added_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const PoolProxy& p : proxies) {
      sqlite3_reset(exists.s);
      exists.Text(1, p.host);
      exists.Int(2, p.port);
      if (sqlite3_step(exists.s) == SQLITE_ROW) {
        error = p.Address() + " is already in the pool";
        Exec("ROLLBACK");
        return false;
      }
      sqlite3_reset(ins.s);
      ins.Text(1, p.host);
      ins.Int(2, p.port);
      ins.Int(3, p.super ? 1 : 0);
      ins.Text(4, p.code);
      ins.Text(5, p.name);
      ins.Text(6, p.latitude);
      ins.Text(7, p.longitude);
      ins.Int(8, p.placedByOperator ? 1 : 0);
      ins.Int(9, static_cast<int64_t>(std::time(nullptr)));
      if (sqlite3_step(ins.s) != SQLITE_DONE) {
        error = std::string("cannot add ") + p.Address() + ": " + sqlite3_errmsg(FDb);
        Exec("ROLLBACK");
        return false;
      }
    }
    if (!Exec("COMMIT", &error)) {
      Exec("ROLLBACK");
      return false;
    }
    return true;
  }

  int Remove(const std::string& host, int port, std::string& error) override {
    Statement del(FDb, "DELETE FROM proxies WHERE host = ? AND port = ?");
    del.Text(1, host);
    del.Int(2, port);
    if (sqlite3_step(del.s) != SQLITE_DONE) {
      error = sqlite3_errmsg(FDb);
      return -1;
    }
    return sqlite3_changes(FDb) == 0 ? 0 : 1;
  }

  bool List(std::vector<PoolProxy>& out) override {
    Statement q(FDb,
                "SELECT id, host, port, super, code, name, latitude, longitude, placed_by_operator,"
                " alive, failures, checked_at, latency_ms, last_error FROM proxies ORDER BY id");
    while (q && sqlite3_step(q.s) == SQLITE_ROW) {
      PoolProxy p;
      p.id = sqlite3_column_int64(q.s, 0);
      p.host = q.Col(1);
      p.port = sqlite3_column_int(q.s, 2);
      p.super = sqlite3_column_int(q.s, 3) != 0;
      p.code = q.Col(4);
      p.name = q.Col(5);
      p.latitude = q.Col(6);
      p.longitude = q.Col(7);
      p.placedByOperator = sqlite3_column_int(q.s, 8) != 0;
      p.alive = sqlite3_column_int(q.s, 9) != 0;
      p.failures = sqlite3_column_int(q.s, 10);
      p.checkedAt = sqlite3_column_int64(q.s, 11);
      p.latencyMs = sqlite3_column_int(q.s, 12);
      p.lastError = q.Col(13);
      out.push_back(std::move(p));
    }
    return static_cast<bool>(q);
  }

  bool RecordChecks(const std::vector<ProxyPool::Check>& checks, int threshold,
                    int* changed) override {
    if (!Exec("BEGIN IMMEDIATE")) return false;
    for (const auto& c : checks) RecordCheck(c, threshold, changed);
    if (Exec("COMMIT")) return true;
    Exec("ROLLBACK");
    return false;
  }

  bool RecordTouch(const Touch& t) override {
    Statement ins(FDb, "INSERT INTO touches (at, peer, ip) VALUES (?, ?, ?)");
    ins.Int(1, t.at);
    ins.Text(2, t.peer);
    ins.Text(3, t.ip);
    return ins && sqlite3_step(ins.s) == SQLITE_DONE;
  }

  bool PruneTouches(int64_t before) override {
    Statement del(FDb, "DELETE FROM touches WHERE at < ?");
    del.Int(1, before);
    return del && sqlite3_step(del.s) == SQLITE_DONE;
  }

  bool Touches(std::vector<Touch>& out) override {
    Statement q(FDb, "SELECT at, peer, ip FROM touches ORDER BY id");
    while (q && sqlite3_step(q.s) == SQLITE_ROW)
      out.push_back({sqlite3_column_int64(q.s, 0), q.Col(1), q.Col(2)});
    return static_cast<bool>(q);
  }

  // SQLite's data version moves when another connection committed.
  uint64_t Version() override {
    Statement q(FDb, "PRAGMA data_version");
    uint64_t other = 0;
    if (q && sqlite3_step(q.s) == SQLITE_ROW)
      other = static_cast<uint64_t>(sqlite3_column_int64(q.s, 0));
    return other;
  }

  bool Healthy() override {
    Statement q(FDb, "SELECT count(*) FROM proxies");
    return q && sqlite3_step(q.s) == SQLITE_ROW;
  }

  bool TakeLease(const std::string& holder, double seconds) override {
    Statement q(FDb,
                "INSERT INTO checker_lease (id, holder, expires_ms) VALUES (1, ?1, ?2)"
                " ON CONFLICT (id) DO UPDATE SET holder = excluded.holder,"
                " expires_ms = excluded.expires_ms"
                " WHERE checker_lease.holder = excluded.holder OR checker_lease.expires_ms < ?3"
                " RETURNING holder");
    const int64_t now = NowMs();
    q.Text(1, holder);
    q.Int(2, now + static_cast<int64_t>(seconds * 1000));
    q.Int(3, now);
    return q && sqlite3_step(q.s) == SQLITE_ROW;
  }

  void DropLease(const std::string& holder) override {
    Statement q(FDb, "DELETE FROM checker_lease WHERE holder = ?");
    q.Text(1, holder);
    if (q) sqlite3_step(q.s);
  }

 private:
  static int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  bool Exec(const char* sql, std::string* error = nullptr) {
    char* msg = nullptr;
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    if (error) *error = msg ? msg : "database error";
    sqlite3_free(msg);
    return false;
  }

  // The schema version is SQLite's user_version. Version 1: proxies and
  // touches (files of earlier programs have them, with version 0); 2: the
  // checker's lease.
  bool Migrate(std::string& error) {
    if (!Exec("BEGIN IMMEDIATE", &error)) return false;
    int version = 0;
    {
      Statement q(FDb, "PRAGMA user_version");
      if (q && sqlite3_step(q.s) == SQLITE_ROW) version = sqlite3_column_int(q.s, 0);
    }
    if (version > ProxyPool::kSchemaVersion) {
      error = "the pool has schema version " + std::to_string(version) +
              ", newer than this program's " + std::to_string(ProxyPool::kSchemaVersion);
      Exec("ROLLBACK");
      return false;
    }
    const char* const steps[] = {
        "CREATE TABLE IF NOT EXISTS proxies ("
        " id INTEGER PRIMARY KEY, host TEXT NOT NULL, port INTEGER NOT NULL,"
        " super INTEGER NOT NULL DEFAULT 0, code TEXT NOT NULL DEFAULT '',"
        " name TEXT NOT NULL DEFAULT '', latitude TEXT NOT NULL DEFAULT '',"
        " longitude TEXT NOT NULL DEFAULT '', placed_by_operator INTEGER NOT NULL DEFAULT 0,"
        " alive INTEGER NOT NULL DEFAULT 1, failures INTEGER NOT NULL DEFAULT 0,"
        " checked_at INTEGER NOT NULL DEFAULT 0, latency_ms INTEGER NOT NULL DEFAULT -1,"
        " last_error TEXT NOT NULL DEFAULT '', added_at INTEGER NOT NULL DEFAULT 0,"
        " UNIQUE(host, port));"
        "CREATE TABLE IF NOT EXISTS touches ("
        " id INTEGER PRIMARY KEY, at INTEGER NOT NULL, peer TEXT NOT NULL, ip TEXT NOT NULL);",
        "CREATE TABLE checker_lease (id INTEGER PRIMARY KEY CHECK (id = 1),"
        " holder TEXT NOT NULL, expires_ms INTEGER NOT NULL);"
        "CREATE INDEX touches_at ON touches (at);",
    };
    for (int v = version; v < ProxyPool::kSchemaVersion; ++v) {
      const std::string set = "PRAGMA user_version = " + std::to_string(v + 1);
      if (!Exec(steps[v], &error) || !Exec(set.c_str(), &error)) {
        Exec("ROLLBACK");
        return false;
      }
    }
    return Exec("COMMIT", &error);
  }

  bool RecordCheck(const ProxyPool::Check& c, int threshold, int* changed) {
    // Only a proxy that joins or leaves the lists changes them: the answers
    // built from the lists are rebuilt then, not after every check.
    Statement u(
        FDb, c.ok ? "UPDATE proxies SET alive = 1, failures = 0, checked_at = ?2, latency_ms = ?3,"
                    " last_error = '' WHERE id = ?1 RETURNING alive"
                  : "UPDATE proxies SET failures = failures + 1, checked_at = ?2, last_error = ?4,"
                    " alive = CASE WHEN failures + 1 >= ?5 THEN 0 ELSE alive END WHERE id = ?1 "
                    "RETURNING alive");
    Statement before(FDb, "SELECT alive FROM proxies WHERE id = ?");
    if (!u || !before) return false;
    before.Int(1, c.id);
    if (sqlite3_step(before.s) != SQLITE_ROW) return false;
    const int wasAlive = sqlite3_column_int(before.s, 0);
    u.Int(1, c.id);
    u.Int(2, static_cast<int64_t>(std::time(nullptr)));
    if (c.ok) {
      u.Int(3, c.latencyMs);
    } else {
      u.Text(4, c.error);
      u.Int(5, threshold);
    }
    if (sqlite3_step(u.s) != SQLITE_ROW) return false;
    if (sqlite3_column_int(u.s, 0) != wasAlive) ++*changed;
    return sqlite3_step(u.s) == SQLITE_DONE;
  }

  sqlite3* FDb = nullptr;
};

bool IsPostgresURL(const std::string& path) {
  return path.rfind("postgresql://", 0) == 0 || path.rfind("postgres://", 0) == 0;
}

}  // namespace

std::unique_ptr<PoolStore> OpenSqliteStore(const std::string& path, std::string& error) {
  auto store = std::make_unique<SqliteStore>();
  if (!store->Open(path, error)) return nullptr;
  return store;
}

std::string ShowablePool(const std::string& path) {
  if (!IsPostgresURL(path)) return path;
  const size_t scheme = path.find("://") + 3;
  const size_t at = path.find('@', scheme);
  const size_t colon = path.find(':', scheme);
  if (at == std::string::npos || colon == std::string::npos || colon > at) return path;
  return path.substr(0, colon + 1) + "***" + path.substr(at);
}

ProxyPool::~ProxyPool() { Close(); }

void ProxyPool::Close() {
  std::lock_guard<std::mutex> g(FLock);
  FStore.reset();
}

bool ProxyPool::Open(const std::string& path, std::string& error) {
  std::lock_guard<std::mutex> g(FLock);
  FStore = IsPostgresURL(path) ? OpenPostgresStore(path, error) : OpenSqliteStore(path, error);
  return FStore != nullptr;
}

bool ProxyPool::Add(std::vector<PoolProxy> proxies, const GeoLocator& geo, std::string& error) {
  std::set<std::string> seen;
  for (PoolProxy& p : proxies) {
    if (!seen.insert(p.Address()).second) {
      error = p.Address() + " is given twice";
      return false;
    }
    if (p.code.empty()) {
      const GeoInfo g = geo.Lookup(p.host);
      if (g.found) {
        p.code = g.code;
        p.name = g.name;
        p.latitude = g.latitude;
        p.longitude = g.longitude;
      }
    } else if (p.name.empty()) {
      p.name = CountryName(p.code);
      if (p.name.empty()) {
        error = "unknown country code " + p.code;
        return false;
      }
      double lat = 0, lon = 0;
      if (CountryCentre(p.code, lat, lon)) {
        p.latitude = Degrees(lat);
        p.longitude = Degrees(lon);
      }
      p.placedByOperator = true;
    }
  }
  std::lock_guard<std::mutex> g(FLock);
  if (!FStore) {
    error = "the pool is not open";
    return false;
  }
  if (!FStore->Add(proxies, error)) return false;
  ++FLocalChanges;
  return true;
}

bool ProxyPool::Remove(const std::string& address, std::string& error) {
  PoolProxy p;
  if (!ParseProxyLine(address, p, error)) return false;
  std::lock_guard<std::mutex> g(FLock);
  if (!FStore) {
    error = "the pool is not open";
    return false;
  }
  const int removed = FStore->Remove(p.host, p.port, error);
  if (removed < 0) return false;
  if (removed == 0) {
    error = p.Address() + " is not in the pool";
    return false;
  }
  ++FLocalChanges;
  return true;
}

std::vector<PoolProxy> ProxyPool::List() {
  std::vector<PoolProxy> out;
  std::lock_guard<std::mutex> g(FLock);
  if (FStore) FStore->List(out);
  return out;
}

bool ProxyPool::RecordCheck(int64_t id, bool ok, int latencyMs, const std::string& error,
                            int threshold) {
  return RecordChecks({{id, ok, latencyMs, error}}, threshold);
}

bool ProxyPool::RecordChecks(const std::vector<Check>& checks, int threshold) {
  std::lock_guard<std::mutex> g(FLock);
  if (!FStore) return false;
  int changed = 0;
  const bool ok = FStore->RecordChecks(checks, threshold, &changed);
  if (ok && changed > 0) ++FLocalChanges;
  return ok;
}

bool ProxyPool::RecordTouch(const Touch& t) {
  std::lock_guard<std::mutex> g(FLock);
  return FStore && FStore->RecordTouch(t);
}

bool ProxyPool::PruneTouches(int64_t before) {
  std::lock_guard<std::mutex> g(FLock);
  return FStore && FStore->PruneTouches(before);
}

bool ProxyPool::Healthy() {
  std::lock_guard<std::mutex> g(FLock);
  return FStore && FStore->Healthy();
}

std::vector<Touch> ProxyPool::Touches() {
  std::vector<Touch> out;
  std::lock_guard<std::mutex> g(FLock);
  if (FStore) FStore->Touches(out);
  return out;
}

uint64_t ProxyPool::OtherChanges() {
  std::lock_guard<std::mutex> g(FLock);
  return FStore ? FStore->Version() : 0;
}

bool ProxyPool::TakeLease(const std::string& holder, double seconds) {
  std::lock_guard<std::mutex> g(FLock);
  return FStore && FStore->TakeLease(holder, seconds);
}

void ProxyPool::DropLease(const std::string& holder) {
  std::lock_guard<std::mutex> g(FLock);
  if (FStore) FStore->DropLease(holder);
}
