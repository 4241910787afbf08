// veilgate-service: the reference web service. It plays the maker's service
// for the tests, the demo and users who host their own:
//
//   GET /update, /update.php, /redirect?ACTION=Update   the update answer
//   GET /redirect?ACTION=<page>, /page/<page>           a page of [pages] (or a stub page)
//   GET /getinfo?MagicWord=<word>                       the local-information answer
//   GET /flags/<CODE>.PNG                               a flag picture of the flags folder
//   GET /touch?ip=<ip>                                  records a touch; answers "OK"
//   GET /touches                                        the recorded touches, one per line
//   GET /checkip                                        a page showing the caller's address
//
// Usage: veilgate-service --config FILE [--port N] [--listen ADDRESS]
// Port 0 picks a free port. The first line on standard output says where it
// listens ("listening on http://127.0.0.1:8470"). Every request is logged as
// one line (to the log file of the configuration, else standard output).
// SIGINT or SIGTERM stop it.
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "ServiceAnswers.h"
#include "ServiceConfig.h"

namespace {

struct State {
  ServiceConfig config;
  int port = 0;
  std::mutex lock;
  std::vector<std::string> touches;
  FILE* log = stdout;
};

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The service's own address as the caller reached it.
std::string Self(const State& s, const httplib::Request& req) {
  std::string host = req.get_header_value("Host");
  if (!host.empty()) return host;
  return s.config.listen + ":" + std::to_string(s.port);
}

const char* const kText = "text/plain; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";

void ServeUpdate(State& s, const httplib::Request& req, httplib::Response& res) {
  res.set_content(UpdateAnswer(s.config, Self(s, req)), kText);
}

void ServePage(State& s, const std::string& page, const httplib::Request& req, httplib::Response& res) {
  std::string html = ServiceConfig::Get(s.config.pages, page);
  if (html.empty())
    html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Veilgate " + HtmlEscape(page) +
           "</title></head><body><h1>Veilgate</h1><p>Page: " + HtmlEscape(page) + "</p></body></html>\n";
  res.set_content(ExpandService(html, Self(s, req)), kHtml);
}

void ServeFlag(State& s, const std::string& file, httplib::Response& res) {
  // Only plain names ending in ".PNG" (any case); the folder's files are
  // matched without regard to case.
  bool ok = file.size() > 4 && SameText(file.substr(file.size() - 4), ".png");
  for (size_t i = 0; ok && i + 4 < file.size(); ++i)
    ok = std::isalnum(static_cast<unsigned char>(file[i])) || file[i] == '_' || file[i] == '-';
  std::string bytes;
  bool found = false;
  std::error_code ec;
  if (ok && !s.config.flagsDir.empty()) {
    for (auto& e : std::filesystem::directory_iterator(s.config.flagsDir, ec)) {
      if (!e.is_regular_file(ec) || !SameText(e.path().filename().string(), file)) continue;
      std::ifstream f(e.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
      found = static_cast<bool>(f) || f.eof();
      break;
    }
  }
  if (!found) {
    res.status = 404;
    res.set_content("no such flag\n", kText);
    return;
  }
  res.set_content(bytes, "image/png");
}

void ServeTouch(State& s, const httplib::Request& req, httplib::Response& res) {
  const std::string ip = req.has_param("ip") ? req.get_param_value("ip") : req.target;
  const std::string line = Now() + " " + req.remote_addr + " " + ip;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.touches.push_back(ip);
    if (!s.config.touchesFile.empty()) {
      std::ofstream f(s.config.touchesFile, std::ios::app);
      f << line << "\n";
    }
  }
  res.set_content("OK\r\n", kText);
}

void ServeTouches(State& s, httplib::Response& res) {
  std::string text;
  {
    std::lock_guard<std::mutex> g(s.lock);
    for (auto& t : s.touches) text += t + "\r\n";
  }
  res.set_content(text, kText);
}

void ServeLocalInfo(State& s, const httplib::Request& req, httplib::Response& res) {
  if (s.config.checkMagicWord && !SameText(req.get_param_value("MagicWord"), s.config.magicWord)) {
    res.status = 403;
    res.set_content("wrong magic word\n", kText);
    return;
  }
  res.set_content(LocalInfoAnswer(s.config, req.remote_addr), kText);
}

int Usage() {
  std::cerr << "usage: veilgate-service --config FILE [--port N] [--listen ADDRESS]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string configPath, listenOverride;
  int portOverride = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--config" && i + 1 < argc) configPath = argv[++i];
    else if (a == "--port" && i + 1 < argc) portOverride = std::atoi(argv[++i]);
    else if (a == "--listen" && i + 1 < argc) listenOverride = argv[++i];
    else return Usage();
  }
  if (configPath.empty()) return Usage();

  State s;
  std::string error;
  if (!LoadServiceConfig(configPath, s.config, error)) {
    std::cerr << "veilgate-service: " << error << "\n";
    return 1;
  }
  if (portOverride >= 0) s.config.port = portOverride;
  if (!listenOverride.empty()) s.config.listen = listenOverride;
  if (!s.config.logFile.empty()) {
    s.log = std::fopen(s.config.logFile.c_str(), "a");
    if (!s.log) {
      std::cerr << "veilgate-service: cannot write " << s.config.logFile << "\n";
      return 1;
    }
  }

  // SIGINT and SIGTERM end the service through a thread of their own.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server svr;
  svr.set_read_timeout(10, 0);
  svr.set_payload_max_length(1 << 20);
  svr.Get("/update", [&](const httplib::Request& q, httplib::Response& r) { ServeUpdate(s, q, r); });
  svr.Get("/update.php", [&](const httplib::Request& q, httplib::Response& r) { ServeUpdate(s, q, r); });
  svr.Get("/redirect", [&](const httplib::Request& q, httplib::Response& r) {
    const std::string action = q.get_param_value("ACTION");
    if (SameText(action, "Update"))
      ServeUpdate(s, q, r);
    else
      ServePage(s, action, q, r);
  });
  svr.Get(R"(/page/([^/]+))", [&](const httplib::Request& q, httplib::Response& r) {
    ServePage(s, q.matches[1], q, r);
  });
  svr.Get("/getinfo", [&](const httplib::Request& q, httplib::Response& r) { ServeLocalInfo(s, q, r); });
  svr.Get(R"(/flags/([^/]+))", [&](const httplib::Request& q, httplib::Response& r) {
    ServeFlag(s, q.matches[1], r);
  });
  svr.Get("/touch", [&](const httplib::Request& q, httplib::Response& r) { ServeTouch(s, q, r); });
  svr.Get("/touches", [&](const httplib::Request&, httplib::Response& r) { ServeTouches(s, r); });
  svr.Get("/checkip", [&](const httplib::Request& q, httplib::Response& r) {
    r.set_content(CheckIPPage(q.remote_addr), kHtml);
  });
  svr.set_logger([&](const httplib::Request& q, const httplib::Response& r) {
    std::lock_guard<std::mutex> g(s.lock);
    std::fprintf(s.log, "%s %s %s %s %d %zu\n", Now().c_str(), q.remote_addr.c_str(), q.method.c_str(),
                 q.target.c_str(), r.status, r.body.size());
    std::fflush(s.log);
  });

  if (s.config.port == 0) {
    s.port = svr.bind_to_any_port(s.config.listen);
    if (s.port <= 0) {
      std::cerr << "veilgate-service: cannot listen on " << s.config.listen << "\n";
      return 1;
    }
  } else {
    if (!svr.bind_to_port(s.config.listen, s.config.port)) {
      std::cerr << "veilgate-service: cannot listen on " << s.config.listen << ":" << s.config.port << "\n";
      return 1;
    }
    s.port = s.config.port;
  }
  std::cout << "listening on http://" << s.config.listen << ":" << s.port << std::endl;

  std::atomic<bool> signalled{false};
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    signalled = true;
    svr.stop();
  });
  const bool ok = svr.listen_after_bind();
  // When the server ended by itself, the signal thread still waits: wake it.
  if (!signalled) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  if (s.log != stdout) std::fclose(s.log);
  return ok || signalled ? 0 : 1;
}
