// Choosing idle proxies, the used list, and the shuffle's move rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ProxyTestHelpers.h"

namespace {

// The move rule done the plain way on a vector: four rounds of a pass over
// the first list and then one over the second.
void MovePassReference(std::vector<std::string>& v, IProxyRandom& rnd) {
  const int n = static_cast<int>(v.size());
  for (int i = 0; i < n; ++i) {
    const int r = rnd.Random(n - 1);
    std::string e = v[static_cast<size_t>(i)];
    v.erase(v.begin() + i);
    v.insert(v.begin() + r, e);
  }
}

void RandomSortReference(std::vector<std::string>& n, std::vector<std::string>& s,
                         bool includeSuper, IProxyRandom& rnd) {
  rnd.Randomize();
  for (int round = 0; round < 4; ++round) {
    MovePassReference(n, rnd);
    if (includeSuper) MovePassReference(s, rnd);
  }
}

std::vector<std::string> Numbered(const std::string& prefix, int count) {
  std::vector<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(prefix + std::to_string(i));
  return v;
}

}  // namespace

TEST(ProxyRandomSort, MatchesThePlainMoveRule) {
  TProxyManager pm;
  const std::vector<std::pair<int, int>> sizes = {{0, 0},   {1, 0},     {2, 1},     {3, 2},
                                                  {5, 7},   {10, 3},    {31, 17},   {200, 0},
                                                  {511, 2}, {512, 513}, {513, 600}, {1500, 700},
                                                  {4000, 1}};
  uint32_t seed = 7;
  for (auto [nCount, sCount] : sizes) {
    for (bool includeSuper : {true, false}) {
      ++seed;
      std::vector<std::string> n = Numbered("n", nCount), s = Numbered("s", sCount);
      auto refRandom = SeededRandom(seed);
      RandomSortReference(n, s, includeSuper, *refRandom);

      TStringList nl(Numbered("n", nCount)), sl(Numbered("s", sCount));
      auto random = SeededRandom(seed);
      pm.SetRandom(random);
      pm.RandomSort(nl, sl, includeSuper);
      EXPECT_EQ(nl.Lines(), n) << nCount << "/" << sCount << " super " << includeSuper;
      EXPECT_EQ(sl.Lines(), s) << nCount << "/" << sCount << " super " << includeSuper;
      // The same draws, each over positions 0 .. n-2.
      EXPECT_EQ(random->Ranges, refRandom->Ranges);
      EXPECT_EQ(random->Reseeds, 1);
      const int expectedDraws = 4 * (nCount + (includeSuper ? sCount : 0));
      EXPECT_EQ(static_cast<int>(random->Ranges.size()), expectedDraws);
    }
  }
}

TEST(ProxyRandomSort, MatchesThePlainMoveRuleWithSkewedDraws) {
  // Half of the draws pile entries into one narrow place of the list, a
  // third of the way in; the others are spread evenly.
  auto skewed = [](uint32_t seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return std::make_shared<TScriptedRandom>([engine](int n) {
      const uint32_t x = (*engine)();
      if (x & 1) return static_cast<int>((x >> 1) % static_cast<uint32_t>(n));
      return std::min(n / 3 + static_cast<int>((x >> 1) % 40u), n - 1);
    });
  };
  TProxyManager pm;
  for (int count : {300, 2000, 6000}) {
    std::vector<std::string> n = Numbered("n", count), s = Numbered("s", count / 3);
    RandomSortReference(n, s, true, *skewed(count));
    TStringList nl(Numbered("n", count)), sl(Numbered("s", count / 3));
    pm.SetRandom(skewed(count));
    pm.RandomSort(nl, sl, true);
    EXPECT_EQ(nl.Lines(), n) << count;
    EXPECT_EQ(sl.Lines(), s) << count;
  }
}

TEST(ProxyRandomSort, TwoEntriesComeBackInTheirOrder) {
  TProxyManager pm;
  // Each pass swaps two entries, four passes restore them; one entry stays.
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    pm.SetRandom(SeededRandom(seed));
    TStringList two({"a", "b"}), one({"x"});
    pm.RandomSort(two, one, true);
    EXPECT_EQ(two, TStringList({"a", "b"}));
    EXPECT_EQ(one, TStringList({"x"}));
  }
}

class ProxySelectTest : public ProxyTest {
 protected:
  void Load(const std::vector<std::string>& normal, const std::vector<std::string>& super) {
    SupplySettings({{"NORMAL_IPS", Join(normal)}, {"SUPER_IPS", Join(super)}});
    FManager.LoadSettings();
  }
  TProxyManager FManager;
};

TEST_F(ProxySelectTest, KeepsTheCurrentProxyWithoutChange) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.2:80", "France", "FR")}, {});
  auto random = SeededRandom(3);
  FManager.SetRandom(random);
  FManager.FTargetProxy = TProxyRec{"203.0.113.9", "8080", "DE", "Germany", "51", "10", true};
  FManager.FUsedProxyList.Add("192.0.2.1");
  const TStringList normalBefore = FManager.FNormalProxyList;

  EXPECT_EQ(FManager.GetIdleProxy("FR", true, KAll, false), FManager.FTargetProxy);
  EXPECT_EQ(FManager.FUsedProxyList, TStringList({"192.0.2.1"}));
  EXPECT_EQ(FManager.FNormalProxyList, normalBefore);
  EXPECT_TRUE(random->Ranges.empty());

  // Without a current proxy, aChange false still chooses one.
  FManager.FTargetProxy = TProxyRec();
  EXPECT_EQ(FManager.GetIdleProxy("FR", false, KNormal, false).IP, "192.0.2.2");
}

TEST_F(ProxySelectTest, HandsOutEachProxyOnceBeforeRepeating) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.9:80", "Spain", "ES"),
        Rec("192.0.2.2:80", "France", "fr"), Rec("192.0.2.3:80", "France", "FR")},
       {Rec("198.51.100.1:80", "Japan", "JP")});
  const TStringList normalBefore = FManager.FNormalProxyList;
  for (TProxyRange range : {KNormal, KAll}) {
    FManager.FUsedProxyList.Clear();
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
      const TProxyRec r = FManager.GetIdleProxy("FR", false, range, true);
      EXPECT_EQ(r.Country_Short == "FR" || r.Country_Short == "fr", true) << r.Country_Short;
      EXPECT_FALSE(r.IsSuper);
      seen.insert(r.IP);
    }
    EXPECT_EQ(seen, (std::set<std::string>{"192.0.2.1", "192.0.2.2", "192.0.2.3"}));
    EXPECT_EQ(FManager.FUsedProxyList.Count(), 3);
    // All three used: the list is emptied first and one of them comes again.
    const TProxyRec fourth = FManager.GetIdleProxy("FR", false, range, true);
    EXPECT_EQ(seen.count(fourth.IP), 1u);
    EXPECT_EQ(FManager.FUsedProxyList, TStringList({fourth.IP}));
  }
  EXPECT_EQ(FManager.FNormalProxyList, normalBefore);  // the manager's lists keep their order
}

TEST_F(ProxySelectTest, NoIdleProxyGivesTheCurrentOrAnEmptyRecord) {
  Load({Rec("192.0.2.1:80", "France", "FR")}, {});
  EXPECT_EQ(FManager.GetIdleProxy("DE", false, KAll, true), TProxyRec());
  FManager.FTargetProxy = TProxyRec{"203.0.113.9", "8080", "DE", "Germany", "51", "10", false};
  EXPECT_EQ(FManager.GetIdleProxy("DE", false, KAll, true), FManager.FTargetProxy);
  // "UN" matches whatever the code.
  EXPECT_EQ(FManager.GetIdleProxy("UN", false, KNormal, true).IP, "192.0.2.1");
  EXPECT_EQ(FManager.GetIdleProxy("un", false, KNormal, true), FManager.FTargetProxy);
}

TEST_F(ProxySelectTest, UsedListIsKeyedByAddressWithoutRegardToCase) {
  Load({Rec("proxy.example:80", "France", "FR"), Rec("PROXY.example:81", "France", "FR"),
        Rec("other.example:80", "France", "FR")},
       {});
  for (int i = 0; i < 20; ++i) {
    FManager.FUsedProxyList = TStringList({"Proxy.Example"});
    const TProxyRec r = FManager.GetIdleProxy("FR", false, KNormal, true);
    EXPECT_EQ(r.IP, "other.example");
    EXPECT_EQ(FManager.FUsedProxyList, TStringList({"Proxy.Example", "other.example"}));
  }
  // Both ports of one address used: both count, the list empties.
  FManager.FUsedProxyList = TStringList({"proxy.EXAMPLE", "other.example"});
  FManager.GetIdleProxy("FR", false, KNormal, true);
  EXPECT_EQ(FManager.FUsedProxyList.Count(), 1);
}

TEST_F(ProxySelectTest, ClearUsedStartsAfresh) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.2:80", "France", "FR")}, {});
  FManager.FUsedProxyList = TStringList({"192.0.2.1", "203.0.113.1"});
  EXPECT_EQ(FManager.GetIdleProxy("FR", false, KNormal, true).IP, "192.0.2.2");
  FManager.FUsedProxyList = TStringList({"192.0.2.1", "203.0.113.1"});
  const TProxyRec r = FManager.GetIdleProxy("FR", true, KNormal, true);
  EXPECT_EQ(FManager.FUsedProxyList, TStringList({r.IP}));
}

TEST_F(ProxySelectTest, ReconciliationAcrossCountries) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.7:80", "Germany", "DE")}, {});
  FManager.FUsedProxyList = TStringList({"192.0.2.1", "192.0.2.7"});
  // Every DE proxy is used: the whole list empties, FR's address included.
  EXPECT_EQ(FManager.GetIdleProxy("DE", false, KAll, true).IP, "192.0.2.7");
  EXPECT_EQ(FManager.FUsedProxyList, TStringList({"192.0.2.7"}));
  EXPECT_EQ(FManager.GetIdleProxy("FR", false, KAll, true).IP, "192.0.2.1");
}

TEST_F(ProxySelectTest, OrganizeUsedListCountsEachRecordOnce) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.1:80", "France", "FR"),
        Rec("192.0.2.2:80", "France", "FR")},
       {Rec("198.51.100.1:80", "France", "FR")});
  FManager.FUsedProxyList = TStringList({"192.0.2.1"});
  FManager.OrganizeUsedList("FR", false);  // 2 of 3 records used
  EXPECT_EQ(FManager.FUsedProxyList.Count(), 1);
  FManager.FUsedProxyList.Add("192.0.2.2");
  FManager.OrganizeUsedList("FR", true);  // 3 of 4: the super one is idle
  EXPECT_EQ(FManager.FUsedProxyList.Count(), 2);
  FManager.OrganizeUsedList("FR", false);  // 3 of 3
  EXPECT_TRUE(FManager.FUsedProxyList.Empty());

  FManager.FUsedProxyList = TStringList({"192.0.2.1"});
  FManager.OrganizeUsedList("ZZ", true);  // no records: 0 >= 0
  EXPECT_TRUE(FManager.FUsedProxyList.Empty());
  FManager.FUsedProxyList = TStringList({"198.51.100.1", "192.0.2.2"});
  FManager.OrganizeUsedList("UN", true);  // 2 of 4
  EXPECT_EQ(FManager.FUsedProxyList.Count(), 2);
}

TEST_F(ProxySelectTest, RangesChooseTheSuperListAsRuled) {
  Load({Rec("192.0.2.1:80", "France", "FR")},
       {Rec("198.51.100.1:80", "France", "FR"), Rec("198.51.100.2:80", "France", "FR")});
  // KSuper: super proxies while one is idle, then the normal one, then afresh.
  std::vector<std::string> got;
  for (int i = 0; i < 4; ++i) {
    const TProxyRec r = FManager.GetIdleProxy("FR", false, KSuper, true);
    EXPECT_EQ(r.IsSuper, r.IP.rfind("198.", 0) == 0);
    got.push_back(r.IP);
  }
  EXPECT_EQ(std::set<std::string>(got.begin(), got.begin() + 2),
            (std::set<std::string>{"198.51.100.1", "198.51.100.2"}));
  EXPECT_EQ(got[2], "192.0.2.1");
  EXPECT_TRUE(got[3].rfind("198.", 0) == 0);

  // KNormal never hands out a super proxy and does not get stuck on a
  // country whose super proxies it never uses.
  FManager.FUsedProxyList.Clear();
  for (int i = 0; i < 3; ++i) {
    const TProxyRec r = FManager.GetIdleProxy("FR", false, KNormal, true);
    EXPECT_EQ(r.IP, "192.0.2.1");
    EXPECT_FALSE(r.IsSuper);
  }

  // KAll: the one-in-five draw over 0..9 decides; 0 and 1 go to the super list.
  for (int draw : {0, 1, 2, 9}) {
    FManager.FUsedProxyList.Clear();
    auto random = std::make_shared<TScriptedRandom>([draw](int n) { return n == 10 ? draw : 0; });
    FManager.SetRandom(random);
    const TProxyRec r = FManager.GetIdleProxy("FR", false, KAll, true);
    EXPECT_EQ(r.IsSuper, draw < 2) << draw;
    ASSERT_FALSE(random->Ranges.empty());
    EXPECT_EQ(random->Ranges.back(), 10);
    EXPECT_EQ(random->Reseeds, 2);  // the selection and its shuffle
  }
}

TEST_F(ProxySelectTest, ShuffledOrderDecidesTheTieBreak) {
  std::vector<std::string> normal;
  for (int i = 0; i < 6; ++i)
    normal.push_back(Rec("192.0.2." + std::to_string(i) + ":80", "France", "FR"));
  Load(normal, {Rec("198.51.100.1:80", "Japan", "JP")});
  // Replaying one sequence through the reference shuffle predicts the choice.
  for (uint32_t seed = 100; seed < 110; ++seed) {
    FManager.FUsedProxyList.Clear();
    std::vector<std::string> n = FManager.FNormalProxyList.Lines(),
                             s = FManager.FSuperProxyList.Lines();
    auto ref = SeededRandom(seed);
    ref->Randomize();
    RandomSortReference(n, s, true, *ref);
    FManager.SetRandom(SeededRandom(seed));
    const TProxyRec r = FManager.GetIdleProxy("FR", false, KNormal, true);
    EXPECT_EQ(r.IP + ":80|France|FR|0|0", n.front()) << seed;
  }
}

TEST_F(ProxySelectTest, SuperPassWinsAboutOneInFive) {
  Load({Rec("192.0.2.1:80", "France", "FR"), Rec("192.0.2.2:80", "Spain", "ES")},
       {Rec("198.51.100.1:80", "Japan", "JP"), Rec("198.51.100.2:80", "France", "FR")});
  FManager.SetRandom(nullptr);  // the clock-seeded generator
  const int rounds = 5000;
  int super = 0;
  for (int i = 0; i < rounds; ++i)
    if (FManager.GetIdleProxy("UN", true, KAll, true).IsSuper) ++super;
  const double share = static_cast<double>(super) / rounds;
  EXPECT_GE(share, 0.17);
  EXPECT_LE(share, 0.23);
}
