// posix backend of the system description: uname.
#include "platform/System.h"

#include <sys/utsname.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

VersionInfo GetVersionInfo() {
  VersionInfo info;
  info.platformId = 0;  // neither Windows family
  struct utsname u {};
  if (::uname(&u) != 0) return info;
  info.systemName = u.sysname;
  info.release = u.release;
  // "6.8.0-45-generic" -> major 6, minor 8, build 0.
  const char* p = u.release;
  char* end = nullptr;
  info.major = static_cast<uint32_t>(std::strtoul(p, &end, 10));
  if (end && *end == '.') {
    info.minor = static_cast<uint32_t>(std::strtoul(end + 1, &end, 10));
    if (end && *end == '.') info.build = static_cast<uint32_t>(std::strtoul(end + 1, &end, 10));
  }
  const std::string machine = u.machine;
  info.is64BitSystem = machine == "x86_64" || machine == "aarch64" || machine == "arm64" ||
                       machine == "ppc64" || machine == "ppc64le" || machine == "s390x" ||
                       machine == "riscv64" || machine == "mips64" || machine == "loongarch64" ||
                       machine == "sparc64" || machine == "alpha" || machine == "ia64";
  info.isWow64 = info.is64BitSystem && sizeof(void*) == 4;
  return info;
}

bool CtrlAndShiftDown() { return false; }

void SleepMs(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
