// posix backend of the file-system service.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

#include "platform/AsciiText.h"
#include "platform/MaskMatch.h"

namespace platform {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Seconds between 1899-12-30 and 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

// Converts a UTC time to a local date-time value using the local offset that
// applied at that moment.
double UnixToLocalDateTime(int64_t seconds, int64_t nanos) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  long offset = 0;
  if (localtime_r(&t, &local)) offset = local.tm_gmtoff;
  double secs = static_cast<double>(seconds + offset) + static_cast<double>(nanos) / 1e9;
  return kUnixEpochDays + secs / 86400.0;
}

bool WriteAll(int fd, const std::string& bytes, int& err) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = EIO;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool MaskMatch(const char* mask, const char* name) {
  return MaskMatchWith(mask, name, [](char c) { return LowerAscii(c); });
}

}  // namespace

char PathSeparator() { return '/'; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string SystemModuleFileName() {
  std::string buf(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

std::string LongPathName(const std::string& path) {
  if (path.empty()) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result(resolved);
  std::free(resolved);
  if (path.back() == '/' && (result.empty() || result.back() != '/')) result += '/';
  return result;
}

std::string TempPath() {
  std::string dir = EnvOr("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISDIR(lst.st_mode)) {
    // A folder of this user's that others may enter or write was made
    // before folders were private: closed now. Not through a link, and never
    // a folder of somebody else (/tmp, a shared parent).
    if (lst.st_uid == ::geteuid() && (lst.st_mode & 077) != 0)
      ::chmod(path.c_str(), lst.st_mode & 07700);
    return true;
  }
  if (DirectoryExists(path)) return true;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string parent = ParentFolder(trimmed);
  if (parent != trimmed && !DirectoryExists(parent) && !ForceDirectories(parent)) return false;
  if (::mkdir(trimmed.c_str(), 0700) == 0) return true;
  return errno == EEXIST && DirectoryExists(trimmed);
}

bool DeleteFileAt(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

namespace {

// Reads an opened file to its end (closing it). Only regular files are read
// (a device could be endless); with ownOnly only files of this user's own.
bool ReadOpenedFile(int fd, const std::string& path, std::string& bytes, std::string* error,
                    bool ownOnly) {
  bytes.clear();
  if (fd < 0) {
    if (error) *error = "Cannot open \"" + path + "\": " + ErrnoText(errno);
    return false;
  }
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  if (!statted || !S_ISREG(st.st_mode) || (ownOnly && st.st_uid != ::geteuid())) {
    const std::string why = !statted              ? ErrnoText(errno)
                            : S_ISDIR(st.st_mode) ? ErrnoText(EISDIR)
                            : S_ISREG(st.st_mode) ? std::string("not a file of this user's own")
                                                  : std::string("not a regular file");
    ::close(fd);
    if (error) *error = "Cannot read \"" + path + "\": " + why;
    return false;
  }
  if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      bytes.clear();
      if (error) *error = "Cannot read \"" + path + "\": " + ErrnoText(err);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
  // Opened without blocking: a named pipe in a file's place would otherwise
  // hold the caller until some other process writes to it.
  return ReadOpenedFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK), path, bytes, error,
                        false);
}

bool ReadOwnFile(const std::string& path, std::string& bytes, std::string* error) {
  return ReadOpenedFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW), path,
                        bytes, error, true);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = "Cannot create \"" + path + "\": " + ErrnoText(errno);
    return false;
  }
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok && error) *error = "Cannot write \"" + path + "\": " + ErrnoText(err);
  return ok;
}

bool AppendToFile(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  int err = 0;
  const bool ok = WriteAll(fd, bytes, err);
  return ::close(fd) == 0 && ok;
}

namespace {

// A writer killed between creating its temporary file and the rename leaves
// the temporary behind. Such leftovers of earlier writes of the same file are
// removed once they are old enough that no living writer can still own them
// (a write of a settings-sized file takes milliseconds, not minutes).
void SweepStaleTemporaries(const std::string& folder, const std::string& prefix) {
  constexpr time_t kStaleSeconds = 10 * 60;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const time_t now = ::time(nullptr);
  while (struct dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || now - st.st_mtime < kStaleSeconds) continue;
    ::unlinkat(::dirfd(dir), name.c_str(), 0);
  }
  ::closedir(dir);
}

}  // namespace

namespace {

// Writes a new file beside the target with fill, then renames it over the
// target. The rename replaces whatever has the target's name (a link
// included) instead of writing through it. durable: the folder is flushed
// too, so the rename survives a power failure.
bool ReplaceAtomically(const std::string& path, const std::function<bool(int, int&)>& fill,
                       std::string* error, bool durable = true) {
  if (path.empty()) {
    if (error) *error = "Cannot write a file without a name";
    return false;
  }
  std::string folder = ParentFolder(path);
  std::string base =
      path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  std::string tmpl = folder + "/." + base + ".tmp-XXXXXX";
  std::string buf = tmpl;
  int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    if (error) *error = "Cannot write \"" + path + "\": " + ErrnoText(errno);
    return false;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  std::string tmp = buf;
  // A new file is the user's alone (mkstemp made it 0600), as every file the
  // program writes holds the user's data. A file that is replaced passes on
  // at most its owner's permissions; a link's target is not looked at.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 0600);
  int err = 0;
  bool ok = fill(fd, err);
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    err = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    if (error) *error = "Cannot write \"" + path + "\": " + ErrnoText(err);
    return false;
  }
  // Make the rename itself durable.
  int dfd = durable ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  SweepStaleTemporaries(folder, "." + base + ".tmp-");
  return true;
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
  return ReplaceAtomically(
      path, [&](int fd, int& err) { return WriteAll(fd, bytes, err); }, error);
}

bool ReplaceFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
  return ReplaceAtomically(
      path, [&](int fd, int& err) { return WriteAll(fd, bytes, err); }, error, false);
}

bool CopyFileAtomic(const std::string& from, const std::string& to, std::string* error) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) {
    if (error) *error = "Cannot open \"" + from + "\": " + ErrnoText(errno);
    return false;
  }
  bool readFailed = false;
  const bool ok = ReplaceAtomically(
      to,
      [&](int fd, int& err) {
        char buf[65536];
        for (;;) {
          ssize_t n = ::read(in, buf, sizeof buf);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            err = errno;
            readFailed = true;
            return false;
          }
          if (n == 0) return true;
          if (!WriteAll(fd, std::string(buf, static_cast<size_t>(n)), err)) return false;
        }
      },
      error);
  ::close(in);
  if (readFailed && error) *error = "Cannot read \"" + from + "\": " + *error;
  return ok;
}

bool IsTrustedSharedFolder(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  struct stat st {};
  if (::lstat(trimmed.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Root's folder, or this user's own (then nobody but root can have
  // written to it either); closed to writes by anybody else.
  return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & 022) == 0;
}

bool CreateNewFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix,
                           const std::string& suffix) {
  std::string dir = folder.empty() ? std::string(".") : folder;
  if (dir.back() != '/') dir += '/';
  std::string name = dir + prefix + "XXXXXX" + suffix;
  int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) {
  std::vector<std::string> result;
  std::string dirPath = folder.empty() ? "." : folder;
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) return result;
  std::string prefix = dirPath;
  if (prefix.back() != '/') prefix += '/';
  // As on Windows, "*.*" matches every name, with or without a dot.
  const std::string effectiveMask = mask == "*.*" ? std::string("*") : mask;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!MaskMatch(effectiveMask.c_str(), name.c_str())) continue;
    bool isFile;
    if (e->d_type == DT_REG) {
      isFile = true;
    } else if (e->d_type == DT_DIR) {
      isFile = false;
    } else {
      isFile = FileExists(prefix + name);
    }
    if (isFile) result.push_back(name);
  }
  ::closedir(dir);
  return result;
}

bool FileCreationTime(const std::string& path, double& localDateTime) {
#ifdef STATX_BTIME
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_CTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) {
      localDateTime = UnixToLocalDateTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
      return true;
    }
    localDateTime = UnixToLocalDateTime(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
    return true;
  }
#endif
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  localDateTime = UnixToLocalDateTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  return true;
}

bool CanWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool IsTrustedSharedFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != ::getuid()) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

double NowLocal() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return UnixToLocalDateTime(ts.tv_sec, ts.tv_nsec);
}

std::string DefaultShellFolder(const std::string& name) {
  if (SameText(name, "AppData")) {
    std::string dir = EnvOr("XDG_CONFIG_HOME");
    if (dir.empty() || dir[0] != '/') {
      std::string home = EnvOr("HOME");
      dir = home + "/.config";
    }
    return dir;
  }
  if (SameText(name, "Common AppData")) return "/var/lib";
  return std::string();
}

}  // namespace platform
