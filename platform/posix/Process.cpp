// posix backend of the process service: posix_spawn, xdg-open and XDG
// autostart entries.
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/AsciiText.h"
#include "platform/Files.h"

extern char** environ;

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reaps a child that nobody waits for, so that it does not stay a zombie.
void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Starts argv[0] (searched in PATH when it has no "/") in the working
// folder when one is given. Returns the child's id, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& workDir) {
  if (args.empty() || args[0].empty()) return -1;
  if (!workDir.empty() && !DirectoryExists(workDir)) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with default signal handling and an empty mask, whatever
  // this process has changed (SIGPIPE ignored, blocked signals in threads).
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  return pid;
#else
  // Without chdir in spawn: fork, change folder, exec; a pipe closed on exec
  // tells the parent whether exec succeeded.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::close(fds[0]);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) {
      int err = errno;
      (void)!::write(fds[1], &err, sizeof err);
      ::_exit(127);
    }
    ::execvp(argv[0], argv.data());
    int err = errno;
    (void)!::write(fds[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(fds[1]);
  int err = 0;
  ssize_t n;
  do {
    n = ::read(fds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  ::close(fds[0]);
  if (n > 0) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return pid;
#endif
}

// Waits for the child up to timeoutMs (-1: no limit). True when it ended.
bool WaitChild(pid_t pid, int timeoutMs) {
  if (timeoutMs < 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return true;
    }
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int pause = 1;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(pause, left)));
    if (pause < 20) pause *= 2;
  }
}

// ---- XDG autostart ----------------------------------------------------------

std::string AutostartFile(const std::string& name) {
  std::string safe;
  for (char c : name) safe += (c == '/' || c == '\0' || c == '\n' || c == '\r') ? '_' : c;
  if (safe.empty() || safe == "." || safe == "..") return std::string();
  return DefaultShellFolder("AppData") + "/autostart/" + safe + ".desktop";
}

// Escapes a text for a desktop entry value (\\, \n, \t, \r).
std::string EscapeValue(const std::string& s) {
  return EscapeChars(s, {{'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}});
}

std::string UnescapeValue(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char e = s[++i];
      switch (e) {
        case 's': r += ' '; break;
        case 'n': r += '\n'; break;
        case 't': r += '\t'; break;
        case 'r': r += '\r'; break;
        default: r += e; break;
      }
    } else {
      r += s[i];
    }
  }
  return r;
}

// One argument of an Exec line: quoted when it holds reserved characters,
// with "%" doubled as field codes require.
std::string ExecArgument(const std::string& arg) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = arg.empty() || arg.find_first_of(reserved) != std::string::npos;
  std::string r;
  if (quote) r += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) r += '\\';
    r += c;
    if (c == '%') r += '%';
  }
  if (quote) r += '"';
  return r;
}

std::vector<std::string> ParseExec(const std::string& exec) {
  std::vector<std::string> args;
  std::string cur;
  bool inArg = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        cur += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (inArg) args.push_back(cur);
      cur.clear();
      inArg = false;
      continue;
    }
    inArg = true;
    if (c == '"') {
      quoted = true;
    } else if (c == '%' && i + 1 < exec.size()) {
      char f = exec[++i];
      if (f == '%') cur += '%';  // other field codes stand for nothing here
    } else {
      cur += c;
    }
  }
  if (inArg) args.push_back(cur);
  return args;
}

// Joins arguments into a command line that SplitCommandLine reads back.
std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string r;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) r += ' ';
    const std::string& a = args[i];
    bool quote = a.empty() || a.find_first_of(" \t\"") != std::string::npos;
    if (i == 0) {
      // The program name is read up to the closing quote, without escapes.
      r += quote ? "\"" + a + "\"" : a;
      continue;
    }
    if (!quote) {
      r += a;
      continue;
    }
    r += '"';
    size_t backslashes = 0;
    for (char c : a) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        r.append(backslashes * 2 + 1, '\\');
      } else {
        r.append(backslashes, '\\');
      }
      backslashes = 0;
      r += c;
    }
    r.append(backslashes * 2, '\\');
    r += '"';
  }
  return r;
}

// The arguments a command stands for. An unquoted program path may hold
// spaces, as in a Run key value: like CreateProcess, the shortest text up to
// a space that names an existing file is the program, the rest its
// parameters. Otherwise the command splits by the usual rules.
std::vector<std::string> CommandArguments(const std::string& command) {
  size_t lead = command.find_first_not_of(" \t");
  if (lead == std::string::npos) return {};
  std::string text = command.substr(lead);
  if (text[0] != '"') {
    size_t pos = 0;
    for (;;) {
      size_t space = text.find(' ', pos);
      std::string candidate = text.substr(0, space);
      if (FileExists(candidate)) {
        std::vector<std::string> args{candidate};
        if (space != std::string::npos) {
          std::vector<std::string> rest = SplitCommandLine("x " + text.substr(space + 1));
          args.insert(args.end(), rest.begin() + 1, rest.end());
        }
        return args;
      }
      if (space == std::string::npos) break;
      pos = space + 1;
    }
  }
  return SplitCommandLine(text);
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  if (commandLine.empty()) return args;
  const char* s = commandLine.c_str();
  const char* end = s + commandLine.size();
  // The program name: up to the closing quote when quoted, else up to the
  // first blank; backslashes have no special meaning in it.
  std::string first;
  if (*s == '"') {
    ++s;
    while (s < end && *s != '"') first += *s++;
    if (s < end) ++s;
  } else {
    while (s < end && !IsBlank(*s)) first += *s++;
  }
  args.push_back(first);
  while (s < end && IsBlank(*s)) ++s;
  if (s >= end) return args;
  // The parameters: 2n backslashes before a quote give n backslashes and the
  // quote opens or closes quoting; 2n+1 give n backslashes and a literal
  // quote; backslashes elsewhere are literal; inside quotes "" is a literal
  // quote.
  std::string cur;
  int qcount = 0;
  size_t bcount = 0;
  while (s < end) {
    char c = *s;
    if (IsBlank(c) && qcount == 0) {
      args.push_back(cur);
      cur.clear();
      bcount = 0;
      while (s < end && IsBlank(*s)) ++s;
      if (s >= end) return args;
      continue;
    }
    if (c == '\\') {
      cur += c;
      ++bcount;
      ++s;
      continue;
    }
    if (c == '"') {
      if ((bcount & 1) == 0) {
        cur.erase(cur.size() - bcount / 2);
        ++qcount;
      } else {
        cur.erase(cur.size() - bcount / 2 - 1);
        cur += '"';
      }
      ++s;
      bcount = 0;
      while (s < end && *s == '"') {
        if (++qcount == 3) {
          cur += '"';
          qcount = 0;
        }
        ++s;
      }
      if (qcount == 2) qcount = 0;
      continue;
    }
    cur += c;
    bcount = 0;
    ++s;
  }
  args.push_back(cur);
  return args;
}

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::string();
  const char* path = std::getenv("PATH");
  if (!path) return std::string();
  for (std::string_view dir : SplitView(path, ':')) {
    if (dir.empty() || dir[0] != '/') continue;  // a relative entry depends on the folder we are in
    std::string candidate = std::string(dir) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::string();
}

bool StartProcess(const std::string& commandLine, const std::string& workDir, bool hidden,
                  bool wait, int timeoutMs) {
  size_t lead = commandLine.find_first_not_of(" \t");
  if (lead == std::string::npos) return false;
  std::vector<std::string> args = SplitCommandLine(commandLine.substr(lead));
  pid_t pid = Spawn(args, workDir);
  if (pid < 0) return false;
  NotifyProcessStarted(commandLine);
  if (!wait || !WaitChild(pid, timeoutMs)) ReapInBackground(pid);
  return true;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return args;
}

bool ShellOpen(const std::string& target) {
  if (target.empty()) return false;
  pid_t pid = Spawn({"xdg-open", target}, std::string());
  if (pid < 0) return false;
  ReapInBackground(pid);
  return true;
}

void SetAutoRunEntry(bool enable, const std::string& name, const std::string& command) {
  std::string file = AutostartFile(name);
  if (file.empty()) return;
  if (!enable) {
    DeleteFileAt(file);
    return;
  }
  std::vector<std::string> args = CommandArguments(command);
  if (args.empty()) return;
  std::string exec;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) exec += ' ';
    exec += ExecArgument(args[i]);
  }
  std::string text = "[Desktop Entry]\nType=Application\nName=" + EscapeValue(name) +
                     "\nExec=" + EscapeValue(exec) + "\nX-GNOME-Autostart-enabled=true\n";
  std::string folder = file.substr(0, file.rfind('/'));
  if (!ForceDirectories(folder)) return;
  WriteFileAtomic(file, text);
}

std::string GetAutoRunEntry(const std::string& name) {
  std::string file = AutostartFile(name);
  if (file.empty()) return std::string();
  std::string text;
  if (!ReadWholeFile(file, text)) return std::string();
  bool inEntry = false;
  std::string exec;
  bool hidden = false;
  for (std::string_view piece : SplitView(text, '\n')) {
    std::string line(piece);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && IsBlank(key.back())) key.pop_back();
    std::string value = line.substr(eq + 1);
    size_t vlead = value.find_first_not_of(" \t");
    value = vlead == std::string::npos ? std::string() : value.substr(vlead);
    if (key == "Exec") exec = UnescapeValue(value);
    if (key == "Hidden" && value == "true") hidden = true;
  }
  if (hidden || exec.empty()) return std::string();
  std::vector<std::string> args = ParseExec(exec);
  if (args.empty()) return std::string();
  if (args.size() == 1) return args[0];
  return JoinCommandLine(args);
}

}  // namespace platform
