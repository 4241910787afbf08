#include <mutex>

#include "platform/ProxySettings.h"

namespace platform {
namespace {
std::mutex GLock;
PerConnectionProxy GApplied;
}  // namespace

PerConnectionProxy AppliedProxy() {
  std::lock_guard<std::mutex> g(GLock);
  return GApplied;
}

void RecordAppliedProxy(const PerConnectionProxy& options) {
  std::lock_guard<std::mutex> g(GLock);
  GApplied = options;
}

}  // namespace platform
