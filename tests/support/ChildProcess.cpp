#ifndef _WIN32
#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>

#include "support/Wait.h"

extern char** environ;

namespace testsupport {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Reaps pid if it has ended: its status in *status.
bool Reaped(pid_t pid, int* status) {
  pid_t r;
  while ((r = ::waitpid(pid, status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return r == pid;
}

int Decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::vector<std::string> EnvironmentWith(const EnvChanges& changes) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    const size_t eq = kv.find('=');
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

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputFile,
                         const EnvChanges& env) {
  return StartWith(argv, outputFile, EnvironmentWith(env));
}

bool ChildProcess::StartWith(const std::vector<std::string>& argv, const std::string& outputFile,
                             const std::vector<std::string>& environment) {
  Stop();
  if (argv.empty()) return false;
  std::vector<std::string> args = argv, envs = environment;
  std::vector<char*> argp = Pointers(args), envp = Pointers(envs);
  const int out = outputFile.empty()
                      ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                      : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
#ifdef __linux__
    // The program ends with the test process, also when that one crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
#endif
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (in >= 0) ::dup2(in, 0);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  if (out >= 0) ::close(out);
  if (in >= 0) ::close(in);
  if (pid < 0) return false;
  FPid = pid;
  return true;
}

bool ChildProcess::Running() {
  if (FPid <= 0) return false;
  int status = 0;
  if (!Reaped(FPid, &status)) return true;
  FPid = -1;
  return false;
}

int ChildProcess::Wait(int timeoutMs) {
  if (FPid <= 0) return -1;
  int status = 0;
  if (!WaitUntil([&] { return Reaped(FPid, &status); }, timeoutMs)) return -1;
  FPid = -1;
  return Decode(status);
}

void ChildProcess::Stop() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGTERM);
  if (Wait(3000) == -1 && FPid > 0) Kill();
}

void ChildProcess::Kill() {
  if (FPid <= 0) return;
  // A stopped process ends on SIGKILL as well.
  ::kill(FPid, SIGKILL);
  int status = 0;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
}

RunResult RunProgram(const std::vector<std::string>& argv, const EnvChanges& env, int timeoutMs) {
  RunResult r;
  if (argv.empty()) return r;
  std::vector<std::string> args = argv, envs = EnvironmentWith(env);
  std::vector<char*> argp = Pointers(args), envp = Pointers(envs);
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return r;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return r;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    ::execve(argp[0], argp.data(), envp.data());
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                     {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    const int n = ::poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno != EINTR) break;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0)
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
      else
        (i == 0 ? outOpen : errOpen) = false;
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

pid_t ForkChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
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

int WaitChild(pid_t pid, int timeoutMs) {
  int status = 0;
  if (!WaitUntil([&] { return Reaped(pid, &status); }, timeoutMs)) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  dirs += ":/usr/sbin:/sbin:/usr/local/bin:/usr/local/sbin";
  std::istringstream s(dirs);
  std::string dir;
  while (std::getline(s, dir, ':')) {
    if (dir.empty()) continue;
    const std::string full = dir + "/" + name;
    if (::access(full.c_str(), X_OK) == 0) return full;
  }
  return "";
}

}  // namespace testsupport

#endif  // _WIN32
