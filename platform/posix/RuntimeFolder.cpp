#include "platform/posix/RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/Files.h"
#include "platform/SystemLog.h"

namespace platform::posix {

namespace {

// True when path is a folder (not a link) owned by this user that no one
// else may enter.
bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Creates the folder with mode 0700. One of this user's own that others may
// enter (made by an older version, or under a loose umask) is closed; a
// folder or link of another user is never used.
bool MakePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
      (st.st_mode & 077) != 0)
    ::chmod(path.c_str(), 0700);
  return IsPrivateFolder(path);
}

// True when something that is not this user's own folder holds the name.
bool HeldByAnother(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode) || st.st_uid != ::getuid();
}

// Tells the user (on the terminal and in the system's log) once per folder
// that another user holds a name the program wanted.
void ReportHeld(const std::string& path, const std::string& instead) {
  static std::mutex lock;
  static std::set<std::string> told;
  {
    std::lock_guard<std::mutex> g(lock);
    if (!told.insert(path).second) return;
  }
  const std::string text = "veilgate: " + path +
                           " belongs to another user and is not used; this user's instance "
                           "files go to " +
                           (instead.empty() ? std::string("no folder (single-instance "
                                                          "handling is off)")
                                            : instead) +
                           " instead";
  std::fprintf(stderr, "%s\n", text.c_str());
  SystemLog(text);
}

// The fallback in the user's own cache folder (never shared with others).
std::string CacheFallback() {
  std::string cache;
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') {
    cache = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return std::string();
    cache = std::string(home) + "/.cache";
  }
  if (!ForceDirectories(cache)) return std::string();
  const std::string folder = cache + "/veilgate-run";
  return MakePrivateFolder(folder) ? folder : std::string();
}

}  // namespace

std::string RuntimeFolder() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && run[0] == '/') {
    // The session's runtime folder is the user's own; for one that belongs
    // to somebody else (an environment carried over to another user) the
    // private folder in /tmp serves instead.
    struct stat st {};
    if (::stat(run, &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    if (st.st_uid == ::getuid()) return run;
  }
  // A folder of our own in the temporary folder (short, as socket names
  // must be). Somebody else may have taken its name first: then the user's
  // own cache folder serves, and the user is told.
  std::string temp = TempPath();
  std::string fallback = temp + "veilgate-" + std::to_string(::getuid());
  if (MakePrivateFolder(fallback)) return fallback;
  if (!HeldByAnother(fallback)) return std::string();
  const std::string instead = CacheFallback();
  ReportHeld(fallback, instead);
  return instead;
}

std::string RuntimeSubfolder(const std::string& name) {
  std::string base = RuntimeFolder();
  if (base.empty()) return base;
  std::string path = base + "/" + name;
  return MakePrivateFolder(path) ? path : std::string();
}

std::string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/veilgate";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/veilgate";
}

}  // namespace platform::posix
