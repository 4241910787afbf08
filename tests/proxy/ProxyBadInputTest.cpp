// Proxy list values that are damaged or hostile: the lists keep only records
// that can be decoded, and selection keeps working.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "ProxyTestHelpers.h"

namespace {

const std::vector<std::string> kGood = {Rec("192.0.2.1:3128", "Qland", "QQ", "1", "2"),
                                        Rec("192.0.2.2:3128", "Qland", "QQ", "1", "2"),
                                        Rec("192.0.2.3:3128", "Qland", "QQ", "1", "2")};

// Random bytes with the good records set in at a few places.
std::string NoiseWithRecords(size_t size, uint32_t seed, bool lineSafe) {
  std::mt19937 gen(seed);
  std::string s;
  s.reserve(size + 256);
  size_t next = 0;
  while (s.size() < size) {
    if (s.size() >= next && next / (size / 3) < kGood.size()) {
      s += ";" + kGood[next / (size / 3)] + ";";
      next += size / 3;
      continue;
    }
    char c = static_cast<char>(gen() & 0xFF);
    if (lineSafe && (c == '\r' || c == '\n')) c = ' ';
    s += c;
  }
  return s;
}

void ExpectOnlyDecodableRecords(const TProxyManager& pm, const TStringList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& rec = list[i];
    ASSERT_EQ(rec.find('\0'), std::string::npos);
    ASSERT_EQ(rec.find(';'), std::string::npos);
    ASSERT_GE(std::count(rec.begin(), rec.end(), '|'), 4);
    TProxyRec r;
    ASSERT_TRUE(pm.GetProxyRec(list, i, false, r));
    ASSERT_FALSE(r.IP.empty());
  }
}

void ExpectSelectionOfGoodRecords(TProxyManager& pm) {
  std::set<std::string> seen;
  for (int i = 0; i < 3; ++i) seen.insert(pm.GetIdleProxy("QQ", false, KAll, true).IP);
  EXPECT_EQ(seen, (std::set<std::string>{"192.0.2.1", "192.0.2.2", "192.0.2.3"}));
}

}  // namespace

TEST_F(ProxyTest, RandomBytesFromTheSettingsFile) {
  const std::string noise = NoiseWithRecords(5 * 1024 * 1024, 11, true);
  SupplySettings({{"NORMAL_IPS", noise}, {"SUPER_IPS", noise.substr(0, 100000)}});
  TProxyManager pm;
  ASSERT_TRUE(pm.LoadSettings());
  ExpectOnlyDecodableRecords(pm, pm.FNormalProxyList);
  ExpectOnlyDecodableRecords(pm, pm.FSuperProxyList);
  for (const std::string& good : kGood) EXPECT_GE(pm.FNormalProxyList.IndexOf(good), 0) << good;
  ExpectSelectionOfGoodRecords(pm);
  TStringList countries;
  pm.GetCountryList(&countries);
  EXPECT_GE(countries.IndexOf("Qland"), 0);
}

TEST_F(ProxyTest, RandomBytesWithLineBreaksAndNULs) {
  TExactSettings exact;
  exact.Values["NORMAL_IPS"] = NoiseWithRecords(5 * 1024 * 1024, 12, false);
  exact.Values["SUPER_IPS"] = NoiseWithRecords(200000, 13, false);
  TProxyManager pm;
  ASSERT_TRUE(pm.LoadSettings());
  ExpectOnlyDecodableRecords(pm, pm.FNormalProxyList);
  ExpectOnlyDecodableRecords(pm, pm.FSuperProxyList);
  ExpectSelectionOfGoodRecords(pm);
}

TEST_F(ProxyTest, OnlySeparators) {
  SupplySettings(
      {{"NORMAL_IPS", std::string(100000, ';')}, {"SUPER_IPS", std::string(100000, ';')}});
  TProxyManager pm;
  EXPECT_FALSE(pm.LoadSettings());
  EXPECT_TRUE(pm.FNormalProxyList.Empty());
  EXPECT_TRUE(pm.FSuperProxyList.Empty());
  EXPECT_EQ(pm.GetIdleProxy("UN", false, KAll, true), TProxyRec());
  EXPECT_EQ(pm.GetcountryListCount("UN", true), 0);
}

TEST_F(ProxyTest, ShortRecordsAndNULCharacters) {
  TExactSettings exact;
  std::vector<std::string> pieces;
  for (int i = 0; i < 5000; ++i)
    pieces.push_back("10.1.0." + std::to_string(i % 250) + ":80|Qland");
  pieces.push_back(kGood[0]);
  pieces.push_back(std::string("10.9.9.9:80|Ql\0and|QQ|1|2", 25));  // NUL inside a field
  pieces.push_back(std::string("\0\0\0", 3));
  pieces.push_back(kGood[1]);
  pieces.push_back(std::string("10.9.9.8:80|Qland|QQ|1|2\0", 25));  // NUL at the end
  pieces.push_back(kGood[2]);
  exact.Values["NORMAL_IPS"] = Join(pieces);
  exact.Values["SUPER_IPS"] = std::string("10.9.9.7\0:80|Qland|QQ|1|2", 25);
  TProxyManager pm;
  ASSERT_TRUE(pm.LoadSettings());
  EXPECT_EQ(pm.FNormalProxyList.Lines(), kGood);
  EXPECT_TRUE(pm.FSuperProxyList.Empty());
  ExpectSelectionOfGoodRecords(pm);
  // A NUL in a country code asked for matches nothing.
  EXPECT_EQ(pm.GetcountryListCount(std::string("Q\0", 2), true), 0);
}
