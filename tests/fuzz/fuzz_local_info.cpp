// The local-information answer (the user's real IP, country, city and map
// position) as the service sends it, handed to the proxy manager.
//  - Any body gives values; the named values are the first line of that name,
//    latitude and longitude the whole 6th and 7th lines.
//  - The manager keeps the answer one line per entry and replaces it whole
//    with the next answer.
#include <string>

#include "FuzzSupport.h"
#include "proxy/LocalInfo.h"
#include "proxy/uProxyManager.h"

namespace {

std::string FirstValue(const TStringList& lines, const std::string& name) {
  for (const std::string& l : lines.Lines()) {
    const size_t eq = l.find('=');
    if (eq != std::string::npos && fuzz::SameAscii(l.substr(0, eq), name)) return l.substr(eq + 1);
  }
  return std::string();
}

}  // namespace

VG_FUZZ_IN_SANDBOX()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::string first = in.Piece(0);
  const std::string second = in.Rest();

  TStringList lines;
  lines.SetText(first);
  const TLocalInfo info = TLocalInfo::FromText(first);
  FUZZ_CHECK(info.IP == FirstValue(lines, "IP"), "IP");
  FUZZ_CHECK(info.CountryShort == FirstValue(lines, "COUNTRY_SHORT"), "COUNTRY_SHORT");
  FUZZ_CHECK(info.CountryLong == FirstValue(lines, "COUNTRY_LONG"), "COUNTRY_LONG");
  FUZZ_CHECK(info.City == FirstValue(lines, "CITY"), "CITY");
  FUZZ_CHECK(info.Latitude == (lines.Count() > 5 ? lines[5] : std::string()), "latitude line");
  FUZZ_CHECK(info.Longitude == (lines.Count() > 6 ? lines[6] : std::string()), "longitude line");

  TProxyManager pm;
  int calls = 0;
  pm.FOnGetCurrentLocalInfo = [&](TProxyManager* sender) {
    FUZZ_CHECK(sender == &pm, "notification from another sender");
    ++calls;
  };
  pm.InfoGot(first);
  FUZZ_CHECK(calls == 1 && pm.FLocalInfo == lines, "first answer not kept line by line");
  pm.InfoGot(second);
  TStringList secondLines;
  secondLines.SetText(second);
  FUZZ_CHECK(calls == 2 && pm.FLocalInfo == secondLines, "second answer did not replace the first");
  const TLocalInfo again = TLocalInfo::Read(pm.FLocalInfo);
  FUZZ_CHECK(again.IP == TLocalInfo::FromText(second).IP, "reading the kept answer differs");
  return 0;
}
