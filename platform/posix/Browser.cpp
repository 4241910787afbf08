// posix backend of the browser queries: walks the processes in /proc.
#include "platform/Browser.h"

#include <dirent.h>
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

std::string FirefoxProfilesFolder() {
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.mozilla/firefox";
}

std::string LegacyOperaPrefsFile() {
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.opera/operaprefs.ini";
}

}  // namespace platform
