// posix backend of the named single-instance mutex: a lock file in the
// user's runtime folder, held with flock for the life of the process. The
// kernel drops the lock when the process ends, however it ends.
#include "platform/Mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/posix/RuntimeFolder.h"

namespace platform {

namespace {

std::mutex gMutex;
std::vector<int> gHeld;

// A file name for the mutex name: safe characters kept, others replaced by
// "_", and a hash of the whole name appended so that different names never
// share a file (and long names stay short).
std::string LockFileName(const std::string& name) {
  const uint64_t hash = HashText64(name);
  std::string safe;
  for (char c : name) {
    if (safe.size() >= 80) break;
    const bool ok = IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || c == '{' || c == '}';
    safe += ok ? c : '_';
  }
  if (!safe.empty() && safe[0] == '.') safe[0] = '_';
  char hex[20];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return safe + "-" + hex + ".lock";
}

}  // namespace

MutexResult CreateNamedMutex(const std::string& name) {
  std::string folder = posix::RuntimeSubfolder("veilgate-mutex");
  if (folder.empty()) return MutexResult::Failed;
  std::string path = folder + "/" + LockFileName(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return MutexResult::Failed;
  // A lock file placed by another user is not trusted: holding it could
  // keep this user's program from starting.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    ::close(fd);
    return MutexResult::Failed;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? MutexResult::AlreadyExists : MutexResult::Failed;
  }
  std::lock_guard<std::mutex> lock(gMutex);
  gHeld.push_back(fd);
  return MutexResult::Created;
}

void ReleaseNamedMutexes() {
  std::lock_guard<std::mutex> lock(gMutex);
  for (int fd : gHeld) {
    ::flock(fd, LOCK_UN);
    ::close(fd);
  }
  gHeld.clear();
}

}  // namespace platform
