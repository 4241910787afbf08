// A full disk for one test: a child process mounts a small tmpfs over a
// folder of the sandbox in a mount namespace of its own and runs the test's
// body there. The mount is private to the child and goes away with it, so a
// failing body leaves nothing mounted behind. As root a plain mount
// namespace is used; otherwise a user namespace maps the user to root
// inside it (where the kernel allows unprivileged user namespaces).
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace smalldisk {

// Exit code of a child that could not mount: the caller skips the test.
constexpr int kCannotMount = 77;

inline bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Mounts a tmpfs of sizeBytes over folder (which must exist) in this
// process's own mount namespace.
inline bool MountSmallTmpfs(const std::string& folder, size_t sizeBytes) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (uid == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return false;
  } else {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
      return false;
  }
  // Nothing mounted here may reach the parent's namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  const std::string options = "size=" + std::to_string(sizeBytes) + ",mode=0777";
  return ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

// Runs body in a child process on a small tmpfs mounted over folder and
// returns the body's result (0 for success), kCannotMount when the mount
// was refused, or 128 + signal when the child was killed.
inline int RunOnSmallDisk(const std::string& folder, size_t sizeBytes,
                          const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!MountSmallTmpfs(folder, sizeBytes)) ::_exit(kCannotMount);
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace smalldisk
#endif  // _WIN32
