// Clearing the URL cache, walked through a cache of the test's own behind
// the platform's cache interface.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/UrlCache.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

// Entries in a buffer: structure size, type, URL length, URL bytes, then
// padding so that entries need different sizes.
class TestUrlCache : public platform::UrlCacheProvider {
 public:
  struct Entry {
    std::string url;
    uint32_t type = 0;
    bool inUse = false;  // deleting it fails
  };
  // A fetch into a buffer: the size passed and the structure-size field.
  struct Fetch {
    uint32_t bufferSize;
    uint32_t structSize;
    uint32_t needed;
  };

  std::vector<Entry> entries;
  std::vector<Fetch> fetches;
  std::vector<std::string> calls;
  int opened = 0, closed = 0;

  static uint32_t Needed(const Entry& e) {
    return static_cast<uint32_t>(12 + e.url.size() + (e.url.size() % 7) * 3);
  }

  platform::UrlCacheEnum FindFirst(void* entry, uint32_t& size) override {
    calls.push_back(entry ? "first" : "first-size");
    FSnapshot = entries;
    FNext = 0;
    if (FSnapshot.empty()) {
      size = 0;
      return nullptr;
    }
    if (!Fill(entry, size)) return nullptr;
    ++opened;
    return this;
  }
  bool FindNext(platform::UrlCacheEnum handle, void* entry, uint32_t& size) override {
    calls.push_back(entry ? "next" : "next-size");
    EXPECT_EQ(handle, this);
    if (FNext >= FSnapshot.size()) {
      size = 0;
      return false;
    }
    return Fill(entry, size);
  }
  bool DeleteEntry(const std::string& url) override {
    calls.push_back("delete " + url);
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].url != url) continue;
      if (entries[i].inUse) return false;
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
    return false;
  }
  bool FindClose(platform::UrlCacheEnum handle) override {
    EXPECT_EQ(handle, this);
    ++closed;
    return true;
  }
  void SetStructSize(void* entry, uint32_t size, uint32_t value) override {
    if (size >= 4) std::memcpy(entry, &value, 4);
  }
  uint32_t EntryType(const void* entry) const override {
    uint32_t t;
    std::memcpy(&t, static_cast<const uint8_t*>(entry) + 4, 4);
    return t;
  }
  std::string SourceUrl(const void* entry) const override {
    uint32_t len;
    std::memcpy(&len, static_cast<const uint8_t*>(entry) + 8, 4);
    return std::string(reinterpret_cast<const char*>(entry) + 12, len);
  }

 private:
  // Fetches the current entry when the buffer is large enough.
  bool Fill(void* entry, uint32_t& size) {
    const Entry& e = FSnapshot[FNext];
    const uint32_t needed = Needed(e);
    if (!entry || size < needed) {
      size = needed;
      return false;
    }
    uint32_t structSize;
    std::memcpy(&structSize, entry, 4);
    fetches.push_back({size, structSize, needed});
    // Everything past the header is overwritten, as a real fetch does.
    std::memset(static_cast<uint8_t*>(entry) + 4, 0xCD, size - 4);
    uint32_t len = static_cast<uint32_t>(e.url.size());
    std::memcpy(static_cast<uint8_t*>(entry) + 4, &e.type, 4);
    std::memcpy(static_cast<uint8_t*>(entry) + 8, &len, 4);
    std::memcpy(static_cast<uint8_t*>(entry) + 12, e.url.data(), len);
    ++FNext;
    return true;
  }

  std::vector<Entry> FSnapshot;
  size_t FNext = 0;
};

class CookieTest : public SwitchTest {
 protected:
  void TearDown() override {
    platform::SetUrlCacheProvider(nullptr);
    SwitchTest::TearDown();
  }
};

const std::vector<std::string> kEmptyWalk = {
    "FindFirstUrlCacheEntry", "GetMem", "FindFirstUrlCacheEntry", "repeat end", "FreeMem",
    "FindCloseUrlCache"};

}  // namespace

TEST_F(CookieTest, DeletesCookieHistoryAndNormalEntriesOnly) {
  TestUrlCache cache;
  cache.entries = {
      {"Cookie:user@example.org/", platform::COOKIE_CACHE_ENTRY | platform::NORMAL_CACHE_ENTRY},
      {"Visited: user@http://example.org/page", platform::URLHISTORY_CACHE_ENTRY},
      {"http://example.org/logo.png", platform::NORMAL_CACHE_ENTRY},
      {"http://example.org/pinned.css", platform::STICKY_CACHE_ENTRY},
      {"http://example.org/video.part", platform::SPARSE_CACHE_ENTRY},
      {"http://example.org/busy.js", platform::NORMAL_CACHE_ENTRY, true},
      {"Cookie:user@example.net/", platform::COOKIE_CACHE_ENTRY},
  };
  platform::SetUrlCacheProvider(&cache);
  LogCapture log("uVGUtils");
  ClearIECookies();

  // Entries without the three bits stay, and so does the one in use.
  ASSERT_EQ(cache.entries.size(), 3u);
  EXPECT_EQ(cache.entries[0].url, "http://example.org/pinned.css");
  EXPECT_EQ(cache.entries[1].url, "http://example.org/video.part");
  EXPECT_EQ(cache.entries[2].url, "http://example.org/busy.js");

  // Every fetch got a buffer of exactly the size just asked for, with that
  // size in its structure-size field.
  ASSERT_EQ(cache.fetches.size(), 7u);
  for (const TestUrlCache::Fetch& f : cache.fetches) {
    EXPECT_EQ(f.bufferSize, f.needed);
    EXPECT_EQ(f.structSize, f.needed);
  }
  // A size query comes before every fetch; the enumeration is closed once.
  std::vector<std::string> fetchCalls;
  for (const std::string& c : cache.calls)
    if (c.rfind("delete", 0) != 0) fetchCalls.push_back(c);
  ASSERT_EQ(fetchCalls.size(), 15u);
  EXPECT_EQ(fetchCalls[0], "first-size");
  EXPECT_EQ(fetchCalls[1], "first");
  for (size_t i = 2; i < fetchCalls.size(); i += 2) {
    EXPECT_EQ(fetchCalls[i], "next-size") << i;
    if (i + 1 < fetchCalls.size()) {
      EXPECT_EQ(fetchCalls[i + 1], "next") << i;
    }
  }
  EXPECT_EQ(cache.opened, 1);
  EXPECT_EQ(cache.closed, 1);

  // The trace: one block per entry, with a "Delete --- " line also for the
  // entries that were kept.
  std::vector<std::string> expected = {"FindFirstUrlCacheEntry", "GetMem",
                                       "FindFirstUrlCacheEntry"};
  const std::vector<std::string> urls = {"Cookie:user@example.org/",
                                         "Visited: user@http://example.org/page",
                                         "http://example.org/logo.png",
                                         "http://example.org/pinned.css",
                                         "http://example.org/video.part",
                                         "http://example.org/busy.js",
                                         "Cookie:user@example.net/"};
  for (const std::string& url : urls) {
    expected.insert(expected.end(), {std::string(51, '='), "Delete --- " + url, "Repeat", "FreeMem",
                                     "FindNextUrlCacheEntry", "GetMem"});
  }
  expected.insert(expected.end(), {"repeat end", "FreeMem", "FindCloseUrlCache"});
  EXPECT_EQ(log.Lines(), expected);
}

TEST_F(CookieTest, EmptyCacheAndPlatformCache) {
  TestUrlCache cache;
  platform::SetUrlCacheProvider(&cache);
  {
    LogCapture log("uVGUtils");
    ClearIECookies();
    EXPECT_EQ(log.Lines(), kEmptyWalk);
  }
  EXPECT_EQ(cache.opened, 0);
  EXPECT_TRUE(cache.fetches.empty());

  // The desktop has no system URL cache: the walk finds nothing.
  platform::SetUrlCacheProvider(nullptr);
  uint32_t size = 123;
  EXPECT_EQ(platform::CurrentUrlCache().FindFirst(nullptr, size), nullptr);
  EXPECT_EQ(size, 0u);
  LogCapture log("uVGUtils");
  ClearIECookies();
  EXPECT_EQ(log.Lines(), kEmptyWalk);
}

TEST_F(CookieTest, KeptEntriesOnlyAreAllVisited) {
  TestUrlCache cache;
  cache.entries = {{"http://a.example/1", platform::STICKY_CACHE_ENTRY},
                   {"http://a.example/2", platform::SPARSE_CACHE_ENTRY},
                   {"http://a.example/3", 0}};
  platform::SetUrlCacheProvider(&cache);
  LogCapture log("uVGUtils");
  ClearIECookies();
  EXPECT_EQ(cache.entries.size(), 3u);
  std::vector<std::string> deletes;
  for (const std::string& l : log.Lines())
    if (l.rfind("Delete --- ", 0) == 0) deletes.push_back(l);
  EXPECT_EQ(deletes, (std::vector<std::string>{"Delete --- http://a.example/1",
                                               "Delete --- http://a.example/2",
                                               "Delete --- http://a.example/3"}));
  for (const std::string& c : cache.calls) EXPECT_NE(c.rfind("delete", 0), 0u) << c;
}
