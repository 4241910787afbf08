// win32 backend of the URL cache: the WinINet cache functions over the
// default container, with buffers laid out as INTERNET_CACHE_ENTRY_INFOW.
#include "platform/UrlCache.h"

#include <windows.h>
#include <wininet.h>

#include <cstddef>

#include "platform/win32/WinText.h"

namespace platform {
namespace {

class WinInetUrlCache : public UrlCacheProvider {
 public:
  UrlCacheEnum FindFirst(void* entry, uint32_t& size) override {
    DWORD n = size;
    HANDLE h =
        FindFirstUrlCacheEntryW(nullptr, static_cast<INTERNET_CACHE_ENTRY_INFOW*>(entry), &n);
    size = n;
    if (!h && GetLastError() == ERROR_NO_MORE_ITEMS) size = 0;
    return h;
  }
  bool FindNext(UrlCacheEnum handle, void* entry, uint32_t& size) override {
    if (!handle) {
      size = 0;
      return false;
    }
    DWORD n = size;
    BOOL ok = FindNextUrlCacheEntryW(handle, static_cast<INTERNET_CACHE_ENTRY_INFOW*>(entry), &n);
    size = n;
    if (!ok && GetLastError() == ERROR_NO_MORE_ITEMS) size = 0;
    return ok != FALSE;
  }
  bool DeleteEntry(const std::string& sourceUrl) override {
    return DeleteUrlCacheEntryW(win32::Wide(sourceUrl).c_str()) != FALSE;
  }
  bool FindClose(UrlCacheEnum handle) override {
    return handle && FindCloseUrlCache(handle) != FALSE;
  }
  void SetStructSize(void* entry, uint32_t size, uint32_t value) override {
    if (entry && size >= offsetof(INTERNET_CACHE_ENTRY_INFOW, dwStructSize) + sizeof(DWORD))
      static_cast<INTERNET_CACHE_ENTRY_INFOW*>(entry)->dwStructSize = value;
  }
  uint32_t EntryType(const void* entry) const override {
    return entry ? static_cast<const INTERNET_CACHE_ENTRY_INFOW*>(entry)->CacheEntryType : 0;
  }
  std::string SourceUrl(const void* entry) const override {
    if (!entry) return std::string();
    return win32::Utf8(static_cast<const INTERNET_CACHE_ENTRY_INFOW*>(entry)->lpszSourceUrlName);
  }
};

}  // namespace

UrlCacheProvider& SystemUrlCache() {
  static WinInetUrlCache cache;
  return cache;
}

}  // namespace platform
