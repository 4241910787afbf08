// posix backend of the browser queries: walks the processes in /proc.
#include "platform/Browser.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AsciiText.h"

namespace platform {

namespace {

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string r = real;
  ::free(real);
  return r;
}

std::string ReadLink(const std::string& link) {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  std::string r(buf.data(), static_cast<size_t>(n));
  // A program replaced on disk while running (an update) still counts.
  const std::string deleted = " (deleted)";
  if (r.size() > deleted.size() &&
      r.compare(r.size() - deleted.size(), deleted.size(), deleted) == 0)
    r.erase(r.size() - deleted.size());
  return r;
}

// The arguments of a process (its command line split at the zero bytes).
std::vector<std::string> CommandLine(const std::string& pidDir) {
  std::vector<std::string> args;
  int fd = ::open((pidDir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return args;
  std::string data;
  char buf[4096];
  ssize_t n;
  while (data.size() < 65536 && (n = ::read(fd, buf, sizeof buf)) > 0)
    data.append(buf, static_cast<size_t>(n));
  ::close(fd);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    args.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

// Whether the file starts with "#!": it then runs as an interpreter process.
bool IsScript(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[2] = {0, 0};
  bool script = ::read(fd, head, 2) == 2 && head[0] == '#' && head[1] == '!';
  ::close(fd);
  return script;
}

}  // namespace

bool FirefoxRunning(const std::string& exePath) {
  if (exePath.empty()) return false;
  const std::string target = RealPath(exePath);
  if (target.empty()) return false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const uid_t me = ::getuid();
  const bool script = IsScript(target);
  bool found = false;
  while (!found) {
    dirent* e = ::readdir(proc);
    if (!e) break;
    if (!IsAsciiDigit(e->d_name[0])) continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
    std::string exe = ReadLink(dir + "/exe");
    if (exe.empty()) continue;
    if (exe == target) {
      found = true;
      break;
    }
    if (!script) continue;
    // A script started by its "#!" line runs as the interpreter with the
    // script's path as its first argument (after an option of the line).
    std::vector<std::string> args = CommandLine(dir);
    const std::string cwd = ReadLink(dir + "/cwd");
    for (size_t i = 1; i < args.size() && i < 3 && !found; ++i) {
      std::string arg = args[i];
      if (arg.empty() || arg[0] == '-') continue;
      if (arg[0] != '/') arg = cwd + "/" + arg;
      if (RealPath(arg) == target) found = true;
    }
  }
  ::closedir(proc);
  return found;
}

namespace {
std::string Home() {
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) : std::string();
}
}  // namespace

std::string LegacyOperaPrefsFile() {
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.opera/operaprefs.ini";
}

namespace {
std::string ConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return config;
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.config";
}

// Whether the process of a lock link's target lives: the digits after the
// last separator are its id; the host before it must be this one.
bool LockHolderLives(const std::string& target, char separator, bool checkHost) {
  const size_t cut = target.find_last_of(separator);
  if (cut == std::string::npos) return false;
  size_t digits = cut + 1;
  if (digits < target.size() && target[digits] == '+') ++digits;
  long pid = 0;
  for (size_t i = digits; i < target.size(); ++i) {
    if (target[i] < '0' || target[i] > '9' || pid > 1000000000L) return false;
    pid = pid * 10 + (target[i] - '0');
  }
  if (pid <= 0) return false;
  if (checkHost) {
    char host[256] = {0};
    if (::gethostname(host, sizeof host - 1) == 0 && target.compare(0, cut, host) != 0)
      return true;  // another machine's browser: taken as running
  }
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}
}  // namespace

// Firefox keeps its profiles in ~/.mozilla/firefox where that folder exists
// (every older installation), else in the XDG config folder, as a first
// start of a current Firefox makes them.
std::string FirefoxProfilesFolder() {
  const std::string home = Home();
  if (!home.empty()) {
    struct stat st;
    if (::stat((home + "/.mozilla/firefox").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      return home + "/.mozilla/firefox";
  }
  const std::string config = ConfigHome();
  return config.empty() ? std::string() : config + "/mozilla/firefox";
}

std::vector<ChromiumProfileLocation> ChromiumProfileLocations() {
  std::vector<ChromiumProfileLocation> result;
  const std::string config = ConfigHome();
  if (config.empty()) return result;
  const struct {
    const char* browser;
    const char* folder;
  } kFamily[] = {{"Chromium", "chromium"},
                 {"Google Chrome", "google-chrome"},
                 {"Brave", "BraveSoftware/Brave-Browser"},
                 {"Vivaldi", "vivaldi"},
                 {"Microsoft Edge", "microsoft-edge"}};
  for (const auto& b : kFamily) {
    const std::string data = config + "/" + b.folder;
    result.push_back({b.browser, data, data + "/Default"});
  }
  result.push_back({"Opera", config + "/opera", config + "/opera"});
  return result;
}

bool BrowserProfileInUse(const std::string& folder) {
  const std::string chromium = ReadLink(folder + "/SingletonLock");
  if (!chromium.empty() && LockHolderLives(chromium, '-', true)) return true;
  const std::string firefox = ReadLink(folder + "/lock");
  return !firefox.empty() && LockHolderLives(firefox, ':', false);
}

}  // namespace platform
