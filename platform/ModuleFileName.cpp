// The running executable's name, which tests may point elsewhere; the
// backends ask the system.
#include <mutex>
#include <string>

#include "platform/Files.h"

namespace platform {

namespace {

std::mutex gModuleMutex;
std::string gModuleOverride;

}  // namespace

std::string ModuleFileName() {
  {
    std::lock_guard<std::mutex> lock(gModuleMutex);
    if (!gModuleOverride.empty()) return gModuleOverride;
  }
  return SystemModuleFileName();
}

void SetModuleFileNameOverride(const std::string& path) {
  std::lock_guard<std::mutex> lock(gModuleMutex);
  gModuleOverride = path;
}

}  // namespace platform
