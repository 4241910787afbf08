// The reference web service run as a child process on loopback for the
// proxy tests, and a listening socket that never answers. Posix only.
#pragma once

#ifndef _WIN32

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Http.h"

namespace proxytest {

// veilgate-service started with a configuration file and port 0; the port
// comes from its first output line. Stopped (SIGTERM, then SIGKILL) by Stop
// or the destructor.
class TServiceProcess {
 public:
  TServiceProcess(const std::string& exe, const std::string& configFile) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    std::vector<std::string> args = {exe, "--config", configFile, "--port", "0"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    FPid = ::fork();
    if (FPid == 0) {
      // The service ends with the test process, also when that one crashes.
#ifdef __linux__
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
#endif
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    FOut = fds[0];
    if (FPid <= 0) return;
    // "listening on http://127.0.0.1:<port>"
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{FOut, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(FOut, buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    const size_t colon = line.rfind(':', line.find('\n'));
    if (line.rfind("listening on http://", 0) == 0 && colon != std::string::npos)
      FPort = std::atoi(line.c_str() + colon + 1);
  }
  ~TServiceProcess() {
    Stop();
    if (FOut >= 0) ::close(FOut);
  }

  bool Running() const { return FPid > 0 && FPort > 0; }
  int Port() const { return FPort; }
  std::string URL(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
  }

  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, &status, 0);
    FPid = -1;
  }

  // The touches the service recorded, one per line.
  std::string Touches() const {
    std::string body;
    platform::HttpGetDirect(URL("/touches"), body, 5000);
    return body;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  int FPort = 0;
};

// A loopback socket that listens and never accepts: a client connects (the
// kernel completes the handshake) and then waits for an answer that never
// comes.
class TSilentListener {
 public:
  TSilentListener() {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FFd, 8) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    FPort = ntohs(a.sin_port);
  }
  ~TSilentListener() {
    if (FFd >= 0) ::close(FFd);
  }
  int Port() const { return FPort; }
  // True when a client has connected (a connection waits to be accepted).
  bool HasCaller(int timeoutMs) const {
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
  }

 private:
  int FFd = -1;
  int FPort = 0;
};

// A port on loopback where nothing listens.
inline int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace proxytest

#endif  // _WIN32
