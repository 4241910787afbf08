// The proxy list values "NORMAL_IPS" and "SUPER_IPS" as the service sends
// them, loaded by the proxy manager, decoded record by record and used for
// the country questions and the selection.
//  - Only well-formed records stay in the lists; each decodes with a
//    non-empty address and the fields in their documented places.
//  - Country counts, names and codes agree with the decoded records.
//  - Selections hand out records of the wanted country, each address once
//    until the country is used up.
#include <map>
#include <memory>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "framework/CLSettings.h"
#include "proxy/uProxyManager.h"
#include "tests/support/ExactSettings.h"

namespace {

// Replays draws from the input, so that a failing case repeats exactly.
class TDraws : public IProxyRandom {
 public:
  explicit TDraws(std::string bytes) : FBytes(std::move(bytes)) {}
  void Randomize() override {}
  int Random(int n) override {
    if (n <= 0) return 0;
    const unsigned char b =
        FBytes.empty() ? 0 : static_cast<unsigned char>(FBytes[FPos++ % FBytes.size()]);
    return b % n;
  }

 private:
  std::string FBytes;
  size_t FPos = 0;
};

TExactSettings* gValues = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterSandbox();
  gValues = new TExactSettings;  // registered for the whole process
  (void)GetCLSettings();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  gValues->Values.clear();
  gValues->Values["NORMAL_IPS"] = in.Piece(0);
  gValues->Values["SUPER_IPS"] = in.Piece(0);
  gValues->Values["TARGET_COUNTRY"] = in.Piece(0);
  const std::string draws = in.Rest();

  TProxyManager pm;
  pm.SetRandom(std::make_shared<TDraws>(draws));
  const bool loaded = pm.LoadSettings();
  FUZZ_CHECK(loaded == (pm.FNormalProxyList.Count() > 0), "LoadSettings result");
  FUZZ_CHECK(!pm.FTargetCountry.empty(), "no target country after loading");

  std::set<std::string> codes;
  for (const TStringList* list : {&pm.FNormalProxyList, &pm.FSuperProxyList}) {
    const bool isSuper = list == &pm.FSuperProxyList;
    for (int i = 0; i < list->Count(); ++i) {
      const std::string& text = (*list)[i];
      FUZZ_CHECK(!text.empty() && text.find(';') == std::string::npos, "record with ';' or empty");
      TProxyRec r;
      FUZZ_CHECK(pm.GetProxyRec(*list, i, isSuper, r), "record does not decode");
      FUZZ_CHECK(!r.IP.empty() && r.IsSuper == isSuper, "decoded record has no address");
      // The fields stand in the record text in their documented order.
      const std::string prefix = r.IP + ":" + r.Port + "|" + r.Country_Long + "|" +
                                 r.Country_Short + "|" + r.Longitude + "|" + r.Latitude;
      FUZZ_CHECK(text.compare(0, prefix.size(), prefix) == 0 &&
                     (text.size() == prefix.size() || text[prefix.size()] == '|'),
                 "decoded fields do not rebuild the record: " + text);
      codes.insert(r.Country_Short);
    }
    TProxyRec keep;
    keep.IP = "keep";
    FUZZ_CHECK(!pm.GetProxyRec(*list, -1, false, keep) && keep.IP == "keep", "index -1 decoded");
    FUZZ_CHECK(!pm.GetProxyRec(*list, list->Count(), false, keep) && keep.IP == "keep",
               "index past the end decoded");
  }

  const int all = pm.GetcountryListCount("UN", true);
  FUZZ_CHECK(all == pm.FNormalProxyList.Count() + pm.FSuperProxyList.Count(), "UN count");
  // Counting country by country adds up to the whole, unless a record's own
  // code is "UN" in some letter case (only exactly "UN" means any country,
  // but "un" and "UN" are one country to the count).
  int sum = 0;
  std::set<std::string> folded;
  for (const std::string& c : codes) {
    std::string f = c;
    for (char& ch : f)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (!folded.insert(f).second) continue;
    if (f != "UN") sum += pm.GetcountryListCount(c, true);
  }
  if (folded.count("UN") == 0) FUZZ_CHECK(sum == all, "per-country counts do not add up");

  TStringList countries;
  pm.GetCountryList(&countries);
  for (int i = 0; i < countries.Count(); ++i) {
    for (int j = 0; j < i; ++j)
      FUZZ_CHECK(!fuzz::SameAscii(countries[i], countries[j]), "country listed twice");
    std::string lon = "|", lat = "|";  // no field can hold "|"
    pm.GetCountryPosition(countries[i], lon, lat);
    FUZZ_CHECK(lon != "|" && lat != "|", "a listed country has no position");
    (void)pm.GetCountryLong(pm.GetCountryShort(countries[i]));
  }
  pm.GetCountryList(nullptr);

  // Selections: for the target country and for any country.
  for (const std::string& country : {pm.FTargetCountry, std::string("UN")}) {
    const int total = pm.GetcountryListCount(country, false);
    for (int k = 0; k < 12; ++k) {
      const TProxyRec prev = pm.FTargetProxy;
      const TProxyRec r = pm.GetIdleProxy(country, false, KAll, true);
      if (r.IP.empty()) {
        FUZZ_CHECK(total == 0, "no proxy although the country has normal ones");
        break;
      }
      FUZZ_CHECK(country == "UN" || fuzz::SameAscii(r.Country_Short, country),
                 "selection of another country");
      // A new hand-out is remembered; an unchanged answer is the current proxy kept.
      if (!(r == prev))
        FUZZ_CHECK(pm.FUsedProxyList.IndexOf(r.IP) >= 0, "handed-out address not remembered");
      pm.FTargetProxy = r;
    }
    pm.FTargetProxy = TProxyRec{};
    pm.FUsedProxyList.Clear();
  }
  return 0;
}
