// The user's URL cache (cookies, history and cached pages of the system's
// internet functions). Windows: the WinINet cache functions over the default
// container. posix: no such system-wide cache exists, so the enumeration
// finds nothing.
//
// The calls follow the WinINet pattern: an entry is fetched into a buffer
// the caller allocates. Asked with no buffer (or one too small) the fetch
// fails and reports in size how many bytes the entry needs (0 when there is
// no entry). The layout of a buffer belongs to the cache, so the caller
// reads and prepares it through the cache's accessors.
//
// A cache provider can be installed in place of the system's, which lets
// tests walk a cache of their own through the same calls.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Entry type bits (CacheEntryType).
constexpr uint32_t NORMAL_CACHE_ENTRY = 0x00000001;
constexpr uint32_t STICKY_CACHE_ENTRY = 0x00000004;
constexpr uint32_t SPARSE_CACHE_ENTRY = 0x00010000;
constexpr uint32_t COOKIE_CACHE_ENTRY = 0x00100000;
constexpr uint32_t URLHISTORY_CACHE_ENTRY = 0x00200000;

// An open enumeration; nullptr stands for none.
using UrlCacheEnum = void*;

class UrlCacheProvider {
 public:
  virtual ~UrlCacheProvider() = default;
  // FindFirstUrlCacheEntryW: starts an enumeration of every entry and
  // fetches the first one into entry (size bytes). Without a buffer large
  // enough: nullptr, and size set to the bytes needed (0: the cache is empty).
  virtual UrlCacheEnum FindFirst(void* entry, uint32_t& size) = 0;
  // FindNextUrlCacheEntryW: the next entry, with the same size rules. False
  // at the end of the enumeration or without a buffer large enough.
  virtual bool FindNext(UrlCacheEnum handle, void* entry, uint32_t& size) = 0;
  // DeleteUrlCacheEntryW by source URL; false when it could not be deleted.
  virtual bool DeleteEntry(const std::string& sourceUrl) = 0;
  // FindCloseUrlCache.
  virtual bool FindClose(UrlCacheEnum handle) = 0;

  // Puts value into the buffer's structure-size field, where a buffer of
  // size bytes has room for it.
  virtual void SetStructSize(void* entry, uint32_t size, uint32_t value) = 0;
  // The entry type bits and the source URL of a fetched entry.
  virtual uint32_t EntryType(const void* entry) const = 0;
  virtual std::string SourceUrl(const void* entry) const = 0;
};

// The provider in use: the one installed, else the system's.
UrlCacheProvider& CurrentUrlCache();
// Installs a provider (nullptr: back to the system's). The caller keeps
// ownership and uninstalls it before destroying it.
void SetUrlCacheProvider(UrlCacheProvider* provider);
// The system's provider (backend).
UrlCacheProvider& SystemUrlCache();

}  // namespace platform
