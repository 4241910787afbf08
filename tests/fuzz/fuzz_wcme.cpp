// "wcme:" links clicked in embedded browser views: only links of that scheme
// are taken over, they never navigate, and the page named by "PAGE" is the
// one opened (nothing opens without one).
#include <string>

#include "FuzzSupport.h"
#include "framework/CLURL.h"
#include "net/CLUtils.h"

VG_FUZZ_IN_SANDBOX()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  for (const std::string& link : {url, "wcme:" + url, "WCME:?" + url}) {
    std::string page = "left over";
    const bool taken = ParseWcmeLink(link, page);
    const bool wcme = link.size() >= 5 && fuzz::SameAscii(link.substr(0, 5), "wcme:");
    FUZZ_CHECK(taken == wcme, "scheme decision wrong for " + link);
    if (!taken) FUZZ_CHECK(page.empty(), "a refused link left a page name");

    bool cancel = false;
    int shown = 0;
    std::string shownPage;
    HandleBeforeNavigate(link, cancel, [&](const std::string& p) {
      ++shown;
      shownPage = p;
    });
    FUZZ_CHECK(cancel == wcme, "navigation decision wrong");
    FUZZ_CHECK(shown == (wcme && !page.empty() ? 1 : 0), "page opened the wrong number of times");
    if (shown) FUZZ_CHECK(shownPage == page, "opened page differs from the parsed one");
  }
  // A link built from a page name opens exactly that page (the last "PAGE"
  // of a link wins, names compare without regard to case).
  const std::string built = "wcme:open?page=first&x=1&PAGE=" + URLEncode(url);
  std::string page;
  FUZZ_CHECK(ParseWcmeLink(built, page), "built link refused");
  // The page travels in the ANSI code page; in this C locale that is the
  // bytes themselves.
  FUZZ_CHECK(page == url || url.find('\0') != std::string::npos, "built link gives another page");
  return 0;
}
