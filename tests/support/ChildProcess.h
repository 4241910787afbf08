// Other programs run by the tests (posix): one started in the background
// with its output in a file, one run to its end with its output captured,
// and a function run in a forked copy of the test. Every wait is bounded and
// nothing a test starts outlives it.
#pragma once

#include "platform/NoCopy.h"

#ifndef _WIN32

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Changes to this process's environment for a child: a value sets a
// variable, nullptr removes it.
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

// This process's environment ("NAME=value") with the changes made.
std::vector<std::string> EnvironmentWith(const EnvChanges& changes);

// A program in the background: standard output and error appended to a file
// (none: thrown away), standard input empty. Ended by Stop or the destructor.
class ChildProcess : private TNoCopy {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }

  // argv[0] is the program's full path. False when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::string& outputFile = "",
             const EnvChanges& env = {});
  // The same with the whole environment given.
  bool StartWith(const std::vector<std::string>& argv, const std::string& outputFile,
                 const std::vector<std::string>& environment);
  bool Running();
  // Waits for the end: the exit code, 128 + signal, or -1 when it still runs
  // after timeoutMs (it is then left running).
  int Wait(int timeoutMs);
  // SIGTERM, up to 3 s, then SIGKILL; reaps the child.
  void Stop();
  // SIGKILL at once; reaps the child.
  void Kill();
  pid_t Pid() const { return FPid; }

 private:
  pid_t FPid = -1;
};

// The outcome of a program run to its end.
struct RunResult {
  bool started = false;
  bool timedOut = false;  // killed after the time given
  int exitCode = -1;      // -1 unless it exited by itself
  std::string out, err;
};

// Runs argv[0] (a full path) with the changed environment and its output
// captured; a child still running after timeoutMs is killed.
RunResult RunProgram(const std::vector<std::string>& argv, const EnvChanges& env = {},
                     int timeoutMs = 20000);

// Runs body in a forked copy of this process; the copy ends with body's
// return value (98 when it throws) without running the parent's destructors.
pid_t ForkChild(const std::function<int()>& body);
// Waits for a forked child: its exit code, or -1 when it did not exit by
// itself or still runs after timeoutMs (then it is killed).
int WaitChild(pid_t pid, int timeoutMs = 60000);

// The full path of a program in PATH (and the usual system folders), or "".
std::string FindProgram(const std::string& name);

}  // namespace testsupport

#endif  // _WIN32
