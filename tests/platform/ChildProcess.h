// Helpers for platform tests that need a second process: a forked child
// that runs a function and reports through its exit code, and a pipe to
// step parent and child in turn.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

// Runs body in a forked child; the child ends with body's return value
// without running any destructor of the parent's state.
inline pid_t ForkChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    ::_exit(code);
  }
  return pid;
}

// Waits for the child and gives its exit code (-1 when it did not exit).
inline int WaitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A one-way signal between processes: one byte through a pipe.
class Signal {
 public:
  Signal() {
    if (::pipe(FFds) != 0) FFds[0] = FFds[1] = -1;
  }
  ~Signal() {
    Close(FFds[0]);
    Close(FFds[1]);
  }
  void Notify() {
    char c = 1;
    (void)!::write(FFds[1], &c, 1);
  }
  // True when the byte arrived within the time.
  bool Wait(int timeoutMs = 10000) {
    pollfd p{FFds[0], POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return ::read(FFds[0], &c, 1) == 1;
  }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int FFds[2];
};

// Sets environment variables for one scope and restores them afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvGuard() {
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
      if (it->had)
        ::setenv(it->name.c_str(), it->value.c_str(), 1);
      else
        ::unsetenv(it->name.c_str());
    }
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  void Remember(const char* name) {
    const char* old = std::getenv(name);
    FSaved.push_back(Saved{name, old != nullptr, old ? old : ""});
  }
  std::vector<Saved> FSaved;
};

}  // namespace testutil
