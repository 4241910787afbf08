// Runs the system proxy switch in a process of its own, for tests that need
// GIO to start from the environment they set (GIO binds its settings store
// to the environment of its first use in a process).
//
//   switch_proxy_child EXE PROXY...
// EXE stands for the running executable (its folder holds "const.dat");
// each PROXY goes to SetIEProxy in turn, "-" for the empty text; "reach"
// prints what the last switch reached ("reach GNOME, KDE"); "kill" ends the
// process at once with SIGKILL, as a crash or the task manager would. The
// debug log is on. Prints what the platform reports as applied last:
// "proxy HOST:PORT" or "direct".
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "platform/Files.h"
#include "platform/ProxySettings.h"
#include "switch/uVGUtils.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s EXE PROXY...\n", argv[0]);
    return 2;
  }
  platform::SetModuleFileNameOverride(argv[1]);
  CLDebugLog::SetActive(true);
  for (int i = 2; i < argc; ++i) {
    std::string proxy = argv[i];
    if (proxy == "kill") {
      std::fflush(stdout);
      ::raise(SIGKILL);
    }
    if (proxy == "reach") {
      std::printf("reach %s\n", platform::DescribeProxyReach(platform::LastProxyReach()).c_str());
      continue;
    }
    SetIEProxy(proxy == "-" ? std::string() : proxy);
  }
  platform::PerConnectionProxy applied = platform::AppliedProxy();
  if (applied.useProxy)
    std::printf("proxy %s\n", applied.server.c_str());
  else
    std::printf("direct\n");
  ReleaseCLSettings();
  return 0;
}
