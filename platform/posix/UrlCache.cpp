// posix backend of the URL cache: the desktop has no system-wide cache of
// cookies and pages shared by its programs, so the enumeration is empty.
#include "platform/UrlCache.h"

namespace platform {
namespace {

class EmptyUrlCache : public UrlCacheProvider {
 public:
  UrlCacheEnum FindFirst(void*, uint32_t& size) override {
    size = 0;
    return nullptr;
  }
  bool FindNext(UrlCacheEnum, void*, uint32_t& size) override {
    size = 0;
    return false;
  }
  bool DeleteEntry(const std::string&) override { return false; }
  bool FindClose(UrlCacheEnum) override { return false; }
  void SetStructSize(void*, uint32_t, uint32_t) override {}
  uint32_t EntryType(const void*) const override { return 0; }
  std::string SourceUrl(const void*) const override { return std::string(); }
};

}  // namespace

UrlCacheProvider& SystemUrlCache() {
  static EmptyUrlCache cache;
  return cache;
}

}  // namespace platform
