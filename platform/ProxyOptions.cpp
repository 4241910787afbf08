// The notes the proxy backends leave for the caller's debug log.
#include <mutex>

#include "platform/ProxySettings.h"

namespace platform {
namespace {
std::mutex GNoticeLock;
std::vector<std::string> GNotices;
}  // namespace

std::vector<std::string> TakeProxyNotices() {
  std::lock_guard<std::mutex> g(GNoticeLock);
  std::vector<std::string> notices;
  notices.swap(GNotices);
  return notices;
}

void AddProxyNotice(const std::string& notice) {
  std::lock_guard<std::mutex> g(GNoticeLock);
  GNotices.push_back(notice);
}

}  // namespace platform
