// Helpers of the browser-switch tests: child processes with captured output
// and a bounded wait, background servers, the debug-log capture and the
// settings file of the sandbox.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/CLDebugLog.h"
#include "framework/CLSettings.h"
#include "support/Sandbox.h"

extern char** environ;

namespace switchtest {

// The full path of a program found in PATH, or empty.
inline std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= p.size()) {
    size_t end = p.find(':', pos);
    if (end == std::string::npos) end = p.size();
    std::string dir = p.substr(pos, end - pos);
    if (!dir.empty()) {
      std::string full = dir + "/" + name;
      if (::access(full.c_str(), X_OK) == 0) return full;
    }
    pos = end + 1;
  }
  return std::string();
}

// The environment of this process with changes: a value sets a variable,
// a missing value (nullptr in the pair's second) removes it.
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

inline std::vector<std::string> BuildEnv(const EnvChanges& changes) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value)
      env[name] = value;
    else
      env.erase(name);
  }
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

struct RunResult {
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs argv[0] (a full path) with the changed environment, captures its
// output and waits at most timeoutMs; a child still running then is killed.
inline RunResult RunTool(const std::vector<std::string>& argv, const EnvChanges& env = {},
                     int timeoutMs = 20000) {
  RunResult r;
  std::vector<std::string> envStrings = BuildEnv(env);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return r;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (pid < 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return r;
  }
  r.started = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    int n = ::poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno != EINTR) break;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  return r;
}

// A program running in the background with its output in a file; ended
// (SIGTERM, then SIGKILL) when the object goes.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const std::string& logFile,
             const EnvChanges& env = {}) {
    std::vector<std::string> envStrings = BuildEnv(env);
    std::vector<char*> envp, args;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& s : argCopy) args.push_back(s.data());
    args.push_back(nullptr);
    int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    FPid = ::fork();
    if (FPid == 0) {
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    if (fd >= 0) ::close(fd);
  }
  ~Background() { Stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t Pid() const { return FPid; }
  // True while the process runs.
  bool Running() {
    if (FPid <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
      FPid = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
        FPid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
};

// Polls cond every 20 ms until it holds or timeoutMs passes.
template <typename F>
bool WaitFor(F cond, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A loopback port that was free a moment ago.
inline int FreeLoopbackPort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = -1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

inline bool CanConnect(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// A loopback HTTP server that answers every request with a fixed body and
// remembers the request lines it saw.
class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(std::string body) : FBody(std::move(body)) {
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FSocket, 8) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~LoopbackHttpServer() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    if (FSocket >= 0) ::close(FSocket);
  }
  int Port() const { return FPort; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> g(FLock);
    return FRequests;
  }

 private:
  void Serve() {
    while (!FStop) {
      pollfd p{FSocket, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string req;
      char buf[2048];
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (req.find("\r\n\r\n") == std::string::npos &&
             std::chrono::steady_clock::now() < deadline) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 100) <= 0) continue;
        ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> g(FLock);
        FRequests.push_back(req.substr(0, req.find("\r\n")));
      }
      std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                           std::to_string(FBody.size()) + "\r\nConnection: close\r\n\r\n" + FBody;
      (void)!::write(c, answer.data(), answer.size());
      ::close(c);
    }
  }

  std::string FBody;
  int FSocket = -1;
  int FPort = -1;
  std::atomic<bool> FStop{false};
  std::thread FThread;
  std::mutex FLock;
  std::vector<std::string> FRequests;
};

// Collects the debug log's lines of one tag while it lives; the log is on
// meanwhile.
class LogCapture {
 public:
  explicit LogCapture(std::string tag) : FTag(std::move(tag)) {
    FWasActive = CLDebugLog::Active();
    CLDebugLog::SetActive(true);
    FId = CLDebugLog::AddSink([this](const std::string& tag, const std::string& line) {
      if (tag != FTag) return;
      std::lock_guard<std::mutex> g(FLock);
      FLines.push_back(line);
    });
  }
  ~LogCapture() {
    CLDebugLog::RemoveSink(FId);
    CLDebugLog::SetActive(FWasActive);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> g(FLock);
    return FLines;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FLines.clear();
  }

 private:
  std::string FTag;
  bool FWasActive = false;
  int FId = 0;
  std::mutex FLock;
  std::vector<std::string> FLines;
};

// Sets or removes environment variables for one scope.
class EnvScope {
 public:
  void Set(const char* name, const char* value) {
    if (!FSaved.count(name)) {
      const char* old = std::getenv(name);
      FSaved[name] = old ? std::make_pair(true, std::string(old)) : std::make_pair(false, std::string());
    }
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvScope() {
    for (const auto& [name, saved] : FSaved) {
      if (saved.first)
        ::setenv(name.c_str(), saved.second.c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::pair<bool, std::string>> FSaved;
};

// Fixture: a sandbox whose supplied settings file holds the given lines; the
// settings store is opened fresh for each test.
class SwitchTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ReleaseCLSettings();
    // GIO binds its settings store to the environment of its first use in
    // a process, and each test's sandbox is gone after the test. The switch
    // therefore meets a desktop without GNOME proxy settings in this
    // process; the tests of the GNOME settings run it in child processes
    // with the system's schemas (SystemDataDirs).
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    FSystemDataDirs = dirs ? dirs : "";
    FEnv.Set("XDG_DATA_DIRS", sb().Path("no-system-data").c_str());
    FEnv.Set("GSETTINGS_SCHEMA_DIR", nullptr);
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  // XDG_DATA_DIRS as the test started (empty: the system's default folders).
  const char* SystemDataDirs() const { return FSystemDataDirs.empty() ? nullptr : FSystemDataDirs.c_str(); }
  // Writes "const.dat" with the settings (name=value lines) and reopens the
  // store so that it reads them.
  void Settings(const std::vector<std::string>& lines) {
    std::string text = "[setting]\n";
    for (const std::string& l : lines) text += l + "\n";
    sb().WriteFile("app/const.dat", text);
    ReleaseCLSettings();
  }

 private:
  EnvScope FEnv;
  std::string FSystemDataDirs;
};

}  // namespace switchtest
