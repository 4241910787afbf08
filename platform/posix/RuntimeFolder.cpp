#include "platform/posix/RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
  std::string fallback = "/tmp/veilgate-" + std::to_string(::getuid());
  return MakePrivateFolder(fallback) ? fallback : std::string();
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
