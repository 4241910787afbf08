#include "platform/UrlCache.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<UrlCacheProvider*> GInstalled{nullptr};
}  // namespace

UrlCacheProvider& CurrentUrlCache() {
  UrlCacheProvider* p = GInstalled.load();
  return p ? *p : SystemUrlCache();
}

void SetUrlCacheProvider(UrlCacheProvider* provider) { GInstalled.store(provider); }

}  // namespace platform
