// The pool in a PostgreSQL database, through libpq: the store that several
// service instances share. One connection, used by one caller at a time (the
// pool's lock); a connection that broke is opened again on the next call.
#include <libpq-fe.h>

#include <cstdlib>
#include <ctime>

#include "ProxyPool.h"

namespace {

// A query's result, freed when it goes.
struct Result {
  PGresult* r = nullptr;
  explicit Result(PGresult* result) : r(result) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return PQntuples(r); }
  std::string Text(int row, int col) const { return PQgetvalue(r, row, col); }
  int64_t Int(int row, int col) const { return std::strtoll(PQgetvalue(r, row, col), nullptr, 10); }
};

class PostgresStore : public PoolStore {
 public:
  ~PostgresStore() override {
    if (FConn) PQfinish(FConn);
  }

  bool Open(const std::string& url, std::string& error) {
    FConn = PQconnectdb(url.c_str());
    if (PQstatus(FConn) != CONNECTION_OK) {
      error = std::string("cannot connect to the pool: ") + PQerrorMessage(FConn);
      return false;
    }
    // Notices ("relation ... already exists, skipping") are not for the operator.
    PQsetNoticeProcessor(
        FConn, [](void*, const char*) {}, nullptr);
    return Migrate(error);
  }

  bool Add(const std::vector<PoolProxy>& proxies, std::string& error) override {
    if (!Command("BEGIN", &error)) return false;
    for (const PoolProxy& p : proxies) {
      const std::string port = std::to_string(p.port), super = p.super ? "1" : "0",
                        placed = p.placedByOperator ? "1" : "0",
                        now = std::to_string(std::time(nullptr));
      Result r(
          Exec("INSERT INTO proxies (host, port, super, code, name, latitude, longitude,"
               " placed_by_operator, added_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)"
               " ON CONFLICT (host, port) DO NOTHING RETURNING id",
               {p.host, port, super, p.code, p.name, p.latitude, p.longitude, placed, now}));
      if (!r.Ok() || r.Rows() != 1) {
        error = r.Ok() ? p.Address() + " is already in the pool"
                       : "cannot add " + p.Address() + ": " + Message(r);
        Command("ROLLBACK");
        return false;
      }
    }
    if (!Bump() || !Command("COMMIT", &error)) {
      if (error.empty()) error = PQerrorMessage(FConn);
      Command("ROLLBACK");
      return false;
    }
    return true;
  }

  int Remove(const std::string& host, int port, std::string& error) override {
    if (!Command("BEGIN", &error)) return -1;
    Result r(Exec("DELETE FROM proxies WHERE host = $1 AND port = $2 RETURNING id",
                  {host, std::to_string(port)}));
    if (!r.Ok()) {
      error = Message(r);
      Command("ROLLBACK");
      return -1;
    }
    if (r.Rows() == 0) {
      Command("ROLLBACK");
      return 0;
    }
    if (!Bump() || !Command("COMMIT", &error)) {
      Command("ROLLBACK");
      return -1;
    }
    return 1;
  }

  bool List(std::vector<PoolProxy>& out) override {
    Result r(
        Exec("SELECT id, host, port, super, code, name, latitude, longitude,"
             " placed_by_operator, alive, failures, checked_at, latency_ms, last_error"
             " FROM proxies ORDER BY id",
             {}));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) {
      PoolProxy p;
      p.id = r.Int(i, 0);
      p.host = r.Text(i, 1);
      p.port = static_cast<int>(r.Int(i, 2));
      p.super = r.Int(i, 3) != 0;
      p.code = r.Text(i, 4);
      p.name = r.Text(i, 5);
      p.latitude = r.Text(i, 6);
      p.longitude = r.Text(i, 7);
      p.placedByOperator = r.Int(i, 8) != 0;
      p.alive = r.Int(i, 9) != 0;
      p.failures = static_cast<int>(r.Int(i, 10));
      p.checkedAt = r.Int(i, 11);
      p.latencyMs = static_cast<int>(r.Int(i, 12));
      p.lastError = r.Text(i, 13);
      out.push_back(std::move(p));
    }
    return true;
  }

  // A batch in one statement (one round trip to the server): the checks
  // travel as arrays; the rows as they were are locked and compared with
  // the rows as they are after the checks.
  bool RecordChecks(const std::vector<ProxyPool::Check>& checks, int threshold,
                    int* changed) override {
    std::string ids = "{", oks = "{", latencies = "{", errors = "{";
    for (size_t i = 0; i < checks.size(); ++i) {
      const auto& c = checks[i];
      const char* sep = i == 0 ? "" : ",";
      ids += sep + std::to_string(c.id);
      oks += sep + std::string(c.ok ? "1" : "0");
      latencies += sep + std::to_string(c.latencyMs);
      errors += sep + std::string("\"");
      for (char ch : c.error) {
        if (ch == '"' || ch == '\\') errors += '\\';
        errors += ch;
      }
      errors += '"';
    }
    ids += "}";
    oks += "}";
    latencies += "}";
    errors += "}";
    if (!Command("BEGIN")) return false;
    Result r(
        Exec("WITH c AS (SELECT * FROM unnest($1::bigint[], $2::int[], $3::int[], $4::text[])"
             " AS c(id, ok, latency, err)),"
             " old AS (SELECT p.id, p.alive FROM proxies p JOIN c ON c.id = p.id FOR UPDATE OF p)"
             " UPDATE proxies p SET"
             " failures = CASE WHEN c.ok = 1 THEN 0 ELSE p.failures + 1 END,"
             " checked_at = $5,"
             " latency_ms = CASE WHEN c.ok = 1 THEN c.latency ELSE p.latency_ms END,"
             " last_error = CASE WHEN c.ok = 1 THEN '' ELSE c.err END,"
             " alive = CASE WHEN c.ok = 1 THEN 1 WHEN p.failures + 1 >= $6 THEN 0 ELSE p.alive END"
             " FROM c JOIN old ON old.id = c.id WHERE p.id = c.id RETURNING p.alive, old.alive",
             {ids, oks, latencies, errors, std::to_string(std::time(nullptr)),
              std::to_string(threshold)}));
    if (!r.Ok()) {
      Command("ROLLBACK");
      return false;
    }
    for (int i = 0; i < r.Rows(); ++i)
      if (r.Int(i, 0) != r.Int(i, 1)) ++*changed;
    if ((*changed > 0 && !Bump()) || !Command("COMMIT")) {
      Command("ROLLBACK");
      return false;
    }
    return true;
  }

  bool RecordTouch(const Touch& t) override {
    return Result(Exec("INSERT INTO touches (at, peer, ip) VALUES ($1, $2, $3)",
                       {std::to_string(t.at), t.peer, t.ip}))
        .Ok();
  }

  bool PruneTouches(int64_t before) override {
    return Result(Exec("DELETE FROM touches WHERE at < $1", {std::to_string(before)})).Ok();
  }

  bool Touches(std::vector<Touch>& out) override {
    Result r(Exec("SELECT at, peer, ip FROM touches ORDER BY id", {}));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) out.push_back({r.Int(i, 0), r.Text(i, 1), r.Text(i, 2)});
    return true;
  }

  // Every change of the lists moves the counter row in the same
  // transaction; instances poll it.
  uint64_t Version() override {
    // While the server cannot be reached the last version read stands.
    Result r(Exec("SELECT version FROM pool_version WHERE id = 1", {}));
    if (r.Ok() && r.Rows() == 1) FLastVersion = static_cast<uint64_t>(r.Int(0, 0));
    return FLastVersion;
  }

  bool Healthy() override { return Result(Exec("SELECT 1", {})).Ok(); }

  // The database server's clock decides expiry, so the instances' clocks
  // need not agree.
  bool TakeLease(const std::string& holder, double seconds) override {
    Result r(Exec(
        "INSERT INTO checker_lease (id, holder, expires_at)"
        " VALUES (1, $1, clock_timestamp() + make_interval(secs => $2))"
        " ON CONFLICT (id) DO UPDATE SET holder = excluded.holder, expires_at = excluded.expires_at"
        " WHERE checker_lease.holder = excluded.holder OR checker_lease.expires_at < clock_timestamp()"
        " RETURNING holder",
        {holder, std::to_string(seconds)}));
    return r.Ok() && r.Rows() == 1;
  }

  void DropLease(const std::string& holder) override {
    Result(Exec("DELETE FROM checker_lease WHERE holder = $1", {holder}));
  }

 private:
  // Runs a query with text parameters; a broken connection is opened again
  // once.
  PGresult* Exec(const char* sql, const std::vector<std::string>& params) {
    const int n = static_cast<int>(params.size());
    std::vector<const char*> values;
    for (int i = 0; i < n; ++i) values.push_back(params[i].c_str());
    for (int attempt = 0;; ++attempt) {
      PGresult* r = PQexecParams(FConn, sql, n, nullptr, values.data(), nullptr, nullptr, 0);
      if (PQstatus(FConn) == CONNECTION_OK || attempt > 0) return r;
      PQclear(r);
      PQreset(FConn);
    }
  }

  // A statement without parameters (several, separated by ";", may go at once).
  bool Command(const char* sql, std::string* error = nullptr) {
    Result r(PQexec(FConn, sql));
    if (!r.Ok() && error) *error = Message(r);
    return r.Ok();
  }

  std::string Message(const Result& r) const {
    std::string m = PQresultErrorMessage(r.r);
    if (m.empty()) m = PQerrorMessage(FConn);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
  }

  bool Bump() {
    Result r(
        Exec("UPDATE pool_version SET version = version + 1 WHERE id = 1 RETURNING version", {}));
    if (r.Ok() && r.Rows() == 1) FLastVersion = static_cast<uint64_t>(r.Int(0, 0));
    return r.Ok();
  }

  // The schema version lives in its own table; instances that start at the
  // same time migrate one after the other (a transaction-scoped lock).
  // Version 1: proxies and touches; 2: the checker's lease, the version
  // counter of the lists, touches by time.
  bool Migrate(std::string& error) {
    if (!Command("BEGIN", &error)) return false;
    auto fail = [&](const std::string& what) {
      error = "cannot use the pool: " + what;
      Command("ROLLBACK");
      return false;
    };
    if (!Command("SELECT pg_advisory_xact_lock(7365827)", &error) ||
        !Command("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)", &error))
      return fail(error);
    Result v(Exec("SELECT max(version) FROM schema_version", {}));
    if (!v.Ok()) return fail(Message(v));
    const int version = v.Rows() == 1 ? static_cast<int>(v.Int(0, 0)) : 0;
    if (version > ProxyPool::kSchemaVersion)
      return fail("the pool has schema version " + std::to_string(version) +
                  ", newer than this program's " + std::to_string(ProxyPool::kSchemaVersion));
    const char* const steps[] = {
        "CREATE TABLE proxies ("
        " id bigserial PRIMARY KEY, host text NOT NULL, port integer NOT NULL,"
        " super integer NOT NULL DEFAULT 0, code text NOT NULL DEFAULT '',"
        " name text NOT NULL DEFAULT '', latitude text NOT NULL DEFAULT '',"
        " longitude text NOT NULL DEFAULT '', placed_by_operator integer NOT NULL DEFAULT 0,"
        " alive integer NOT NULL DEFAULT 1, failures integer NOT NULL DEFAULT 0,"
        " checked_at bigint NOT NULL DEFAULT 0, latency_ms integer NOT NULL DEFAULT -1,"
        " last_error text NOT NULL DEFAULT '', added_at bigint NOT NULL DEFAULT 0,"
        " UNIQUE (host, port));"
        "CREATE TABLE touches (id bigserial PRIMARY KEY, at bigint NOT NULL, peer text NOT NULL,"
        " ip text NOT NULL);",
        "CREATE TABLE checker_lease (id integer PRIMARY KEY CHECK (id = 1), holder text NOT NULL,"
        " expires_at timestamptz NOT NULL);"
        "CREATE TABLE pool_version (id integer PRIMARY KEY CHECK (id = 1), version bigint NOT NULL);"
        "INSERT INTO pool_version VALUES (1, 1);"
        "CREATE INDEX touches_at ON touches (at);",
    };
    for (int step = version; step < ProxyPool::kSchemaVersion; ++step) {
      // Several statements in one text: the simple query protocol.
      Result r(PQexec(FConn, steps[step]));
      if (!r.Ok()) return fail(Message(r));
      if (!Command(("DELETE FROM schema_version; INSERT INTO schema_version VALUES (" +
                    std::to_string(step + 1) + ")")
                       .c_str(),
                   &error))
        return fail(error);
    }
    return Command("COMMIT", &error) || fail(error);
  }

  PGconn* FConn = nullptr;
  uint64_t FLastVersion = 0;
};

}  // namespace

std::unique_ptr<PoolStore> OpenPostgresStore(const std::string& url, std::string& error) {
  auto store = std::make_unique<PostgresStore>();
  if (!store->Open(url, error)) return nullptr;
  return store;
}
