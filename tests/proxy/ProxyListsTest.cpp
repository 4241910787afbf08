// Loading the proxy lists, decoding records and the country questions.
#include <gtest/gtest.h>

#include "ProxyTestHelpers.h"

TEST_F(ProxyTest, LoadSplitsDropsEmptiesAndAppends) {
  SupplySettings({{"NORMAL_IPS", ";" + Rec("192.0.2.1:80", "France", "FR") + ";;" +
                                     Rec("192.0.2.2:81", "Cote d\\'Ivoire", "CI") + ";"},
                  {"SUPER_IPS", Rec("198.51.100.1:3128", "Japan", "JP")},
                  {"SUPER_TOUCH", "http://touch.example/t?ip={1}"}});
  TProxyManager pm;
  EXPECT_TRUE(pm.FNormalProxyList.Empty());
  EXPECT_EQ(pm.FTargetCountry, "US");
  ASSERT_TRUE(pm.LoadSettings());
  ASSERT_EQ(pm.FNormalProxyList.Count(), 2);
  EXPECT_EQ(pm.FNormalProxyList[0], Rec("192.0.2.1:80", "France", "FR"));
  // "\'" stands for a plain apostrophe.
  EXPECT_EQ(pm.FNormalProxyList[1], Rec("192.0.2.2:81", "Cote d'Ivoire", "CI"));
  ASSERT_EQ(pm.FSuperProxyList.Count(), 1);
  EXPECT_EQ(pm.FSuperTouch, "http://touch.example/t?ip={1}");
  EXPECT_EQ(pm.FTargetCountry, "US");  // nothing stored: the default

  // A second load appends instead of replacing.
  ASSERT_TRUE(pm.LoadSettings());
  EXPECT_EQ(pm.FNormalProxyList.Count(), 4);
  EXPECT_EQ(pm.FSuperProxyList.Count(), 2);
  EXPECT_EQ(pm.FNormalProxyList[2], pm.FNormalProxyList[0]);
}

TEST_F(ProxyTest, LoadWithoutNormalProxiesKeepsWhatItParsed) {
  SupplySettings({{"SUPER_IPS", Rec("198.51.100.1:3128", "Japan", "JP")}});
  TProxyManager pm;
  EXPECT_FALSE(pm.LoadSettings());
  EXPECT_TRUE(pm.FNormalProxyList.Empty());
  EXPECT_EQ(pm.FSuperProxyList.Count(), 1);
  EXPECT_FALSE(pm.LoadSettings());
  EXPECT_EQ(pm.FSuperProxyList.Count(), 2);
  EXPECT_EQ(pm.FSuperTouch, "");
}

TEST_F(ProxyTest, LoadRestoresStoredTargetCountry) {
  SupplySettings({{"NORMAL_IPS", Rec("192.0.2.1:80", "France", "FR")}, {"TARGET_COUNTRY", "FR"}});
  TProxyManager pm;
  pm.LoadSettings();
  EXPECT_EQ(pm.FTargetCountry, "FR");
  // A choice stored in the user's file later (by the country dialog) wins on
  // the next load.
  GetCLSettings()->SetSettingstring("TARGET_COUNTRY", "UN");
  pm.LoadSettings();
  EXPECT_EQ(pm.FTargetCountry, "UN");
}

TEST_F(ProxyTest, LoadSkipsRecordsThatCannotBeDecoded) {
  SupplySettings({{"NORMAL_IPS", Join({"192.0.2.1:80|France|FR|2",  // four fields
                                       "192.0.2.2:80",              // one field
                                       "noport|Spain|ES|-3|40",     // no address
                                       ":8080|Spain|ES|-3|40",      // empty address
                                       Rec("10.0.0.1:3128:9", "N", "NN"),
                                       Rec("192.0.2.3:80", "Italy", "IT") + "|extra|more"})}});
  TProxyManager pm;
  ASSERT_TRUE(pm.LoadSettings());
  ASSERT_EQ(pm.FNormalProxyList.Count(), 2);
  EXPECT_EQ(pm.FNormalProxyList[0], Rec("10.0.0.1:3128:9", "N", "NN"));
  EXPECT_EQ(pm.FNormalProxyList[1], Rec("192.0.2.3:80", "Italy", "IT") + "|extra|more");
}

TEST_F(ProxyTest, GetProxyRecDecodesFieldsInTheirOrder) {
  TProxyManager pm;
  TStringList sl({Rec("192.0.2.10:8080", "United States", "US", "-97", "38"),
                  Rec("10.0.0.1:3128:9", "N", "NN"), "plainfield|A|AA|1|2",
                  Rec("192.0.2.3:80", "Italy", "IT", "12", "42") + "|ignored"});
  TProxyRec r;
  ASSERT_TRUE(pm.GetProxyRec(sl, 0, true, r));
  EXPECT_EQ(r, (TProxyRec{"192.0.2.10", "8080", "US", "United States", "38", "-97", true}));
  ASSERT_TRUE(pm.GetProxyRec(sl, 1, false, r));
  EXPECT_EQ(r.IP, "10.0.0.1");
  EXPECT_EQ(r.Port, "3128:9");
  EXPECT_FALSE(r.IsSuper);
  ASSERT_TRUE(pm.GetProxyRec(sl, 2, false, r));
  EXPECT_EQ(r.IP, "");
  EXPECT_EQ(r.Port, "plainfield");
  ASSERT_TRUE(pm.GetProxyRec(sl, 3, false, r));
  EXPECT_EQ(r.Latitude, "42");
  EXPECT_EQ(r.Longitude, "12");

  // Outside the list: the caller's record stays whole, IsSuper included.
  const TProxyRec before{"1.2.3.4", "1", "XX", "Somewhere", "5", "6", true};
  for (int index : {-1, sl.Count(), 1000}) {
    TProxyRec kept = before;
    EXPECT_FALSE(pm.GetProxyRec(sl, index, false, kept));
    EXPECT_EQ(kept, before) << index;
  }
}

class ProxyCountryTest : public ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    SupplySettings({{"NORMAL_IPS", Join({Rec("192.0.2.1:80", "United States", "US", "-97", "38"),
                                         Rec("192.0.2.2:80", "France", "FR", "2", "46"),
                                         Rec("192.0.2.3:80", "United States", "us", "-90", "30"),
                                         Rec("192.0.2.1:80", "United States", "US", "-97", "38")})},
                    {"SUPER_IPS", Join({Rec("198.51.100.1:80", "Japan", "JP", "138", "36"),
                                        Rec("198.51.100.2:80", "FRANCE", "FR", "9", "9"),
                                        Rec("198.51.100.3:80", "Germany", "DE", "10", "51")})}});
    ASSERT_TRUE(FManager.LoadSettings());
  }
  TProxyManager FManager;
};

TEST_F(ProxyCountryTest, CountsByCodeWithUNForEverything) {
  EXPECT_EQ(FManager.GetcountryListCount("UN", true), 7);
  EXPECT_EQ(FManager.GetcountryListCount("UN", false), 4);
  // Duplicated records count once each; codes compare without regard to case.
  EXPECT_EQ(FManager.GetcountryListCount("us", false), 3);
  EXPECT_EQ(FManager.GetcountryListCount("US", true), 3);
  EXPECT_EQ(FManager.GetcountryListCount("FR", false), 1);
  EXPECT_EQ(FManager.GetcountryListCount("fr", true), 2);
  EXPECT_EQ(FManager.GetcountryListCount("JP", false), 0);
  EXPECT_EQ(FManager.GetcountryListCount("JP", true), 1);
  // "UN" is exact: in lower case it is a code no record has.
  EXPECT_EQ(FManager.GetcountryListCount("un", true), 0);
}

TEST_F(ProxyCountryTest, CountryListAppendsNewNamesOnly) {
  TStringList names({"france", "Somewhere"});
  FManager.GetCountryList(&names);
  EXPECT_EQ(names, TStringList({"france", "Somewhere", "United States", "Japan", "Germany"}));
  FManager.GetCountryList(nullptr);  // absent list: nothing happens

  TStringList fresh;
  FManager.GetCountryList(&fresh);
  EXPECT_EQ(fresh, TStringList({"United States", "France", "Japan", "Germany"}));
}

TEST_F(ProxyCountryTest, LongShortAndPositionLookups) {
  EXPECT_EQ(FManager.GetCountryLong("fr"), "France");  // normal list first
  EXPECT_EQ(FManager.GetCountryLong("JP"), "Japan");   // only in the super list
  EXPECT_EQ(FManager.GetCountryLong("ZZ"), "");
  EXPECT_EQ(FManager.GetCountryShort("united STATES"), "US");
  EXPECT_EQ(FManager.GetCountryShort("germany"), "DE");
  EXPECT_EQ(FManager.GetCountryShort("Atlantis"), "");

  std::string lon = "keep", lat = "keep";
  FManager.GetCountryPosition("FRANCE", lon, lat);
  EXPECT_EQ(lon, "2");
  EXPECT_EQ(lat, "46");
  FManager.GetCountryPosition("Japan", lon, lat);
  EXPECT_EQ(lon, "138");
  EXPECT_EQ(lat, "36");
  lon = lat = "keep";
  FManager.GetCountryPosition("Atlantis", lon, lat);
  EXPECT_EQ(lon, "keep");
  EXPECT_EQ(lat, "keep");
}

TEST_F(ProxyCountryTest, ExistsInNormalIsACaseSensitiveSubstringSearch) {
  EXPECT_TRUE(FManager.IsCountryExistsInNormal("FR"));
  EXPECT_TRUE(FManager.IsCountryExistsInNormal("Fran"));  // any part of the text
  EXPECT_TRUE(FManager.IsCountryExistsInNormal("192.0"));
  EXPECT_FALSE(FManager.IsCountryExistsInNormal("fr"));  // case counts
  EXPECT_FALSE(FManager.IsCountryExistsInNormal("JP"));  // super list not searched
  EXPECT_FALSE(FManager.IsCountryExistsInNormal("Germany"));
}
