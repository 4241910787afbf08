// veilgate-service: the reference web service. It plays the maker's service
// for the tests, the demo and users who host their own (Service.h lists the
// addresses it answers).
//
//   veilgate-service --config FILE [--port N] [--listen ADDRESS]
//   veilgate-service --config FILE pool add HOST:PORT [--super] [--country CC]
//   veilgate-service --config FILE pool import FILE [--super]
//   veilgate-service --config FILE pool list
//   veilgate-service --config FILE pool remove HOST:PORT
//
// ("--database FILE" instead of "--config FILE" names the pool directly.)
// Port 0 picks a free port. The first line on standard output says where it
// listens ("listening on http://127.0.0.1:8470"). Every request is logged as
// one line (to the log file of the configuration, else standard output).
// SIGINT or SIGTERM stop it: the checker's probes end first (while the
// service still answers them), then no new connections are taken, answers
// under way are finished, and the pool is closed. SIGHUP reads the answers'
// texts of the configuration again and reopens the log file (after it was
// rotated).
#include <httplib.h>
#include <fcntl.h>
#include <signal.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Checker.h"
#include "Connections.h"
#include "Service.h"
#include "ServiceAnswers.h"
#include "ServiceConfig.h"
#include "ServiceHttp.h"
#include "platform/AsciiText.h"

namespace {

int Usage() {
  std::cerr
      << "usage: veilgate-service --config FILE [--port N] [--listen ADDRESS]\n"
         "       veilgate-service (--config FILE | --database FILE) pool add HOST:PORT [--super] "
         "[--country CC]\n"
         "       veilgate-service (--config FILE | --database FILE) pool import FILE [--super]\n"
         "       veilgate-service (--config FILE | --database FILE) pool list\n"
         "       veilgate-service (--config FILE | --database FILE) pool remove HOST:PORT\n";
  return 2;
}

std::string Ago(int64_t at) {
  if (at == 0) return "never";
  const int64_t s = static_cast<int64_t>(std::time(nullptr)) - at;
  return std::to_string(s < 0 ? 0 : s) + "s ago";
}

// The pool commands. Returns the exit code.
int PoolCommand(Service& service, const std::vector<std::string>& words) {
  ProxyPool* pool = service.Pool();
  if (!pool) {
    std::cerr
        << "veilgate-service: no pool database configured ([service] database = FILE, or --database "
           "FILE)\n";
    return 1;
  }
  const std::string cmd = words.size() > 1 ? words[1] : "";
  std::string error;
  if (cmd == "list" && words.size() == 2) {
    const std::vector<PoolProxy> all = pool->List();
    std::printf("%-22s %-6s %-2s %-24s %-5s %4s %8s %-10s %s\n", "ADDRESS", "LIST", "CC", "COUNTRY",
                "STATE", "FAIL", "LATENCY", "CHECKED", "LAST ERROR");
    for (const PoolProxy& p : all)
      std::printf("%-22s %-6s %-2s %-24s %-5s %4d %8s %-10s %s\n", p.Address().c_str(),
                  p.super ? "super" : "normal", p.code.empty() ? "??" : p.code.c_str(),
                  p.name.substr(0, 24).c_str(), p.alive ? "alive" : "dead", p.failures,
                  p.latencyMs < 0 ? "-" : (std::to_string(p.latencyMs) + "ms").c_str(),
                  Ago(p.checkedAt).c_str(), p.lastError.c_str());
    std::printf("%zu proxies\n", all.size());
    return 0;
  }
  if (cmd == "add" && words.size() >= 3) {
    PoolProxy p;
    if (!ParseProxyLine(words[2], p, error)) {
      std::cerr << "veilgate-service: " << error << "\n";
      return 1;
    }
    for (size_t i = 3; i < words.size(); ++i) {
      if (words[i] == "--super") {
        p.super = true;
      } else if (words[i] == "--country" && i + 1 < words.size()) {
        const std::string code = words[++i];
        if (code.size() != 2 || CountryName(code).empty()) {
          std::cerr << "veilgate-service: \"" << code
                    << "\" is not a known two-letter country code\n";
          return 1;
        }
        p.code = UpperCase(code);
        p.name.clear();
      } else {
        return Usage();
      }
    }
    if (!pool->Add({p}, service.Geo(), error)) {
      std::cerr << "veilgate-service: " << error << "\n";
      return 1;
    }
    const PoolProxy added = pool->List().back();
    std::printf("added %s\n", added.Record().c_str());
    return 0;
  }
  if (cmd == "import" && (words.size() == 3 || (words.size() == 4 && words[3] == "--super"))) {
    std::ifstream f(words[2], std::ios::binary);
    if (!f) {
      std::cerr << "veilgate-service: cannot read " << words[2] << "\n";
      return 1;
    }
    std::vector<PoolProxy> proxies;
    std::string line;
    int number = 0, bad = 0;
    while (std::getline(f, line)) {
      ++number;
      const size_t b = line.find_first_not_of(" \t\r");
      if (b == std::string::npos || line[b] == '#' || line[b] == ';') continue;
      PoolProxy p;
      if (!ParseProxyLine(line, p, error)) {
        std::cerr << words[2] << ":" << number << ": " << error << "\n";
        ++bad;
        continue;
      }
      p.super = words.size() == 4;
      proxies.push_back(p);
    }
    if (bad > 0) {
      std::cerr << "veilgate-service: nothing imported (" << bad << " bad line"
                << (bad > 1 ? "s" : "") << ")\n";
      return 1;
    }
    if (!pool->Add(proxies, service.Geo(), error)) {
      std::cerr << "veilgate-service: " << error << "; nothing imported\n";
      return 1;
    }
    std::printf("imported %zu proxies\n", proxies.size());
    return 0;
  }
  if (cmd == "remove" && words.size() == 3) {
    if (!pool->Remove(words[2], error)) {
      std::cerr << "veilgate-service: " << error << "\n";
      return 1;
    }
    std::printf("removed %s\n", words[2].c_str());
    return 0;
  }
  return Usage();
}

// The server library listens with a backlog of 5 connections: when 50
// clients connect at once the kernel drops the handshakes of the others,
// which then wait a second for the retransmission. The listening socket is
// reached here to set a real backlog, and to accept on it ourselves.
template <class Base>
class Listener : public Base {
 public:
  using Base::Base;
  void SetBacklog(int backlog) { ::listen(this->svr_sock_, backlog); }
  int Socket() const { return this->svr_sock_; }
};

// The library serves a connection accepted elsewhere only through a private
// member (its own accept loop cannot cap peers or bound a whole request).
// An explicit instantiation is the one place where the language lets code
// name a private member; the member is virtual, so the TLS server's own
// version is the one called for it.
using ServeSocket = bool (httplib::Server::*)(socket_t);
ServeSocket ServeSocketMember();
template <ServeSocket Member>
struct ServeSocketAccess {
  friend ServeSocket ServeSocketMember() { return Member; }
};
template struct ServeSocketAccess<&httplib::Server::process_and_close_socket>;

// The handling time of the request this thread is answering, for the log.
thread_local std::chrono::steady_clock::time_point tRequestStart{};
// The size of the answer's body, which a content provider does not keep.
thread_local size_t tBodyBytes = 0;

}  // namespace

int main(int argc, char** argv) {
  std::string configPath, databasePath, listenOverride;
  int portOverride = -1;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--config" && i + 1 < argc)
      configPath = argv[++i];
    else if (a == "--database" && i + 1 < argc)
      databasePath = argv[++i];
    else if (a == "--port" && i + 1 < argc)
      portOverride = std::atoi(argv[++i]);
    else if (a == "--listen" && i + 1 < argc)
      listenOverride = argv[++i];
    else if (!words.empty() || a == "pool")
      words.push_back(a);
    else
      return Usage();
  }
  if (configPath.empty() && (databasePath.empty() || words.empty())) return Usage();

  ServiceConfig config;
  std::string error;
  if (!configPath.empty() && !LoadServiceConfig(configPath, config, error)) {
    std::cerr << "veilgate-service: " << error << "\n";
    return 1;
  }
  if (!databasePath.empty()) {
    config.database = databasePath;
    config.normalProxies.clear();
    config.superProxies.clear();
  }
  if (portOverride >= 0) config.port = portOverride;
  if (!listenOverride.empty()) config.listen = listenOverride;

  Service service(config);
  if (!service.Open(error)) {
    std::cerr << "veilgate-service: " << (configPath.empty() ? "" : configPath + ": ") << error
              << "\n";
    return 1;
  }
  if (!words.empty()) return PoolCommand(service, words);

  // The probe address: configured, else the public address's /checkip, else
  // (the demo, with proxies on loopback) the listen address's.
  std::string checkURL = config.checkURL;
  if (checkURL.empty())
    checkURL = config.publicURL.empty()
                   ? std::string(config.tlsCert.empty() ? "http" : "https") + "://{service}/checkip"
                   : config.publicURL + "/checkip";
  const bool wildcard =
      config.listen == "0.0.0.0" || config.listen == "::" || config.listen == "[::]";
  if (service.Pool() && config.checkInterval > 0 && config.publicAuthority.empty() && wildcard &&
      checkURL.find("{service}") != std::string::npos) {
    std::cerr << "veilgate-service: the service listens on every address, so the proxies cannot "
                 "be sent to {service}: set [service] public_url to the address clients reach it "
                 "at, or [checker] url\n";
    return 1;
  }

  // The access log holds users' addresses: the operator's alone (0600,
  // whatever the umask), and never written through a link.
  auto openLog = [](const std::string& path) -> FILE* {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    FILE* f = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (!f && fd >= 0) ::close(fd);
    return f;
  };
  FILE* log = stdout;
  if (!config.logFile.empty()) {
    log = openLog(config.logFile);
    if (!log) {
      std::cerr << "veilgate-service: cannot write " << config.logFile << "\n";
      return 1;
    }
  }

  // SIGINT and SIGTERM end the service through a thread of their own.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const bool tls = !config.tlsCert.empty();
  std::unique_ptr<httplib::Server> server;
  std::function<void(int)> setBacklog;
  std::function<int()> listenSocket;
  if (tls) {
    auto s = std::make_unique<Listener<httplib::SSLServer>>(config.tlsCert.c_str(),
                                                            config.tlsKey.c_str());
    setBacklog = [p = s.get()](int n) { p->SetBacklog(n); };
    listenSocket = [p = s.get()] { return p->Socket(); };
    if (!s->is_valid()) {
      std::cerr << "veilgate-service: cannot use the certificate " << config.tlsCert << " and key "
                << config.tlsKey << "\n";
      return 1;
    }
    server = std::move(s);
  } else {
    auto s = std::make_unique<Listener<httplib::Server>>();
    setBacklog = [p = s.get()](int n) { p->SetBacklog(n); };
    listenSocket = [p = s.get()] { return p->Socket(); };
    server = std::move(s);
  }
  httplib::Server& svr = *server;
  // Each kept-alive connection holds one request thread while it is open
  // (the gate below runs them). The library writes an answer's head and body
  // with separate send calls; with Nagle's algorithm the body then waits for
  // the client's delayed acknowledgement of the head (up to 40 ms on Linux)
  // on kept-alive connections. Segments go out at once instead.
  svr.set_tcp_nodelay(true);
  svr.set_keep_alive_max_count(1000);
  svr.set_keep_alive_timeout(config.requestDeadline < 5 ? 1 : 5);
  svr.set_read_timeout(10, 0);
  svr.set_write_timeout(10, 0);
  svr.set_payload_max_length(config.maxBodyBytes);

  ConnectionGate::Settings gateSettings;
  gateSettings.threads = config.threads;
  gateSettings.perAddress = config.maxConnectionsPerAddress;
  gateSettings.deadlineSeconds = config.requestDeadline;
  gateSettings.exempt = config.trustedProxies;
  ConnectionGate gate(gateSettings, service.Stats(),
                      [&svr](int fd) { (svr.*ServeSocketMember())(fd); });

  std::mutex logLock;
  svr.set_pre_routing_handler([&](const httplib::Request& q, httplib::Response& r) {
    tRequestStart = std::chrono::steady_clock::now();
    gate.RequestStarted();
    ServiceResponse out;
    service.Handle(FromHttplib(q), out);
    r.status = out.status;
    if (out.closeConnection) r.set_header("Connection", "close");
    tBodyBytes = out.body.size();
    if (out.body.size() < 16384) {
      r.set_content(out.body, out.contentType.c_str());
    } else {
      // Large answers (the update answer of a big pool) are sent from the
      // built text itself rather than from a copy of it.
      auto body = std::make_shared<const std::string>(std::move(out.body));
      r.set_content_provider(body->size(), out.contentType.c_str(),
                             [body](size_t offset, size_t length, httplib::DataSink& sink) {
                               return sink.write(body->data() + offset, length);
                             });
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  svr.set_logger([&](const httplib::Request& q, const httplib::Response& r) {
    double ms = 0;
    if (tRequestStart != std::chrono::steady_clock::time_point{})
      ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                     tRequestStart)
               .count();
    const size_t bytes =
        tRequestStart != std::chrono::steady_clock::time_point{} ? tBodyBytes : r.body.size();
    tRequestStart = {};
    gate.AnswerDone();
    const ServiceRequest req = FromHttplib(q);
    service.Stats().Request(Service::Endpoint(req.path), r.status, ms / 1000);
    const std::string line = service.LogLine(req, r.status, bytes, ms) + "\n";
    std::lock_guard<std::mutex> g(logLock);
    std::fwrite(line.data(), 1, line.size(), log);
    std::fflush(log);
  });

  int port = config.port;
  if (port == 0) {
    port = svr.bind_to_any_port(config.listen);
    if (port <= 0) {
      std::cerr << "veilgate-service: cannot listen on " << config.listen << "\n";
      return 1;
    }
  } else if (!svr.bind_to_port(config.listen, port)) {
    std::cerr << "veilgate-service: cannot listen on " << config.listen << ":" << port << "\n";
    return 1;
  }
  setBacklog(1024);
  const std::string self = config.listen + ":" + std::to_string(port);
  service.SetSelf(self);

  std::unique_ptr<Checker> checker;
  // The checker writes through a connection of its own: a batch of its
  // outcomes (a round trip to a database server) never holds up the
  // answers, which read through the service's.
  ProxyPool checkerPool;
  if (service.Pool() && config.checkInterval > 0) {
    if (!checkerPool.Open(config.database, error)) {
      std::cerr << "veilgate-service: " << error << "\n";
      return 1;
    }
    CheckerSettings cs;
    cs.intervalSeconds = config.checkInterval;
    cs.failures = config.checkFailures;
    cs.timeoutSeconds = config.checkTimeout;
    cs.workers = config.checkWorkers;
    cs.url =
        ExpandService(checkURL, config.publicAuthority.empty() ? self : config.publicAuthority);
    cs.expectAddress = config.checkNamesProxy;
    cs.caFile = config.checkCAFile;
    cs.selfBlamePercent = config.checkSelfBlame;
    cs.leaseSeconds = config.checkLease;
    checker = std::make_unique<Checker>(checkerPool, service.Stats(), cs);
    service.OnProxyReported = [&checker] { checker->CheckSoon(); };
  }
  std::cout << "listening on " << (tls ? "https" : "http") << "://" << self << std::endl;
  std::cerr << "veilgate-service: GeoIP: " << service.Geo().Source()
            << (service.Pool() ? "; pool: " + ShowablePool(config.database)
                               : "; lists of the configuration file")
            << "\n";
  if (checker) checker->Start();

  std::atomic<bool> signalled{false};
  std::thread stopper([&] {
    while (true) {
      int sig = 0;
      sigwait(&stopSignals, &sig);
      if (sig == SIGHUP) {
        // The answers' texts are read again; a file that does not read
        // leaves everything as it was.
        if (!configPath.empty()) {
          ServiceConfig fresh;
          std::string problem;
          if (!LoadServiceConfig(configPath, fresh, problem)) {
            std::cerr << "veilgate-service: not reloaded: " << problem << "\n";
          } else {
            if (!databasePath.empty()) fresh.database = databasePath;
            if (portOverride >= 0) fresh.port = portOverride;
            if (!listenOverride.empty()) fresh.listen = listenOverride;
            const std::string restart = service.Reload(fresh);
            std::cerr << "veilgate-service: reloaded the answers"
                      << (restart.empty() ? "" : "; these take a restart: " + restart) << "\n";
          }
        }
        // The log file was rotated: write to a new one of the same name.
        if (log != stdout) {
          std::lock_guard<std::mutex> g(logLock);
          if (FILE* again = openLog(config.logFile)) {
            std::fclose(log);
            log = again;
          } else {
            std::cerr << "veilgate-service: cannot write " << config.logFile
                      << "; logging to the old file\n";
          }
        }
        continue;
      }
      break;
    }
    signalled = true;
    // The checker first: its probes come back to this service, which must
    // still answer them or they would count as the proxies' failures.
    if (checker) checker->Stop();
    gate.Stop();
  });
  gate.Run(listenSocket());
  // When the gate ended by itself, the signal thread still waits: wake it.
  if (!signalled) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  if (checker) checker->Stop();
  svr.stop();
  service.Close();
  if (log != stdout) std::fclose(log);
  return signalled ? 0 : 1;
}
