// The administrator's file of an installed program and the service's
// addresses derived from "URL.Service".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "SettingsTestHelpers.h"

namespace {

TEST(AdminSettingsPath, FollowsTheInstalledPrefix) {
  struct Case {
    const char* constFolder;
    const char* admin;
  };
  const Case cases[] = {
#ifdef _WIN32
      {"/usr/lib/veilgate/", ""},
#else
      {"/usr/lib/veilgate/", "/etc/veilgate/veilgate.conf"},
      {"/tmp/unpacked/usr/lib/veilgate/", "/tmp/unpacked/etc/veilgate/veilgate.conf"},
      {"/usr/local/lib/veilgate/", "/usr/local/etc/veilgate/veilgate.conf"},
      {"/opt/vg/lib/veilgate/", "/opt/vg/etc/veilgate/veilgate.conf"},
#endif
      // A build tree and other folders have none.
      {"/work/build/default/", ""},
      {"/usr/lib/veilgate-old/", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AdminSettingsPath(c.constFolder), c.admin) << c.constFolder;
}

TEST(ServiceAddressPath, NamesEveryAddressOfTheService) {
  const std::pair<const char*, const char*> cases[] = {
      {"URL.Update", "/update"},   {"url.getinfo", "/getinfo"}, {"URL.Redirect", "/redirect"},
      {"URL.FlagPath", "/flags/"}, {"URL.CheckIP", "/checkip"}, {"URL.Service", ""},
      {"URL.MapMask", ""},         {"URL.LocalFlagPath", ""},   {"SUPER_TOUCH", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(ServiceAddressPath(name), path) << name;
}

class SettingsServiceTest : public SettingsStoreTest {};

TEST_F(SettingsServiceTest, AddressesFollowTheServiceAndExplicitOnesWin) {
  TCLSettings s;
  // Nothing set: the reference service on loopback.
  EXPECT_EQ(s.GetSettingString("URL.Service"), kDefaultServiceAddress);
  EXPECT_EQ(s.GetSettingString("URL.GetInfo"), std::string(kDefaultServiceAddress) + "/getinfo");
  EXPECT_TRUE(s.GetSettingExists("URL.Update"));
  // The user's address (trailing slashes dropped) moves every address.
  s.SetSettingString("URL.Service", "https://svc.example:8443//");
  EXPECT_EQ(s.GetSettingString("URL.Update"), "https://svc.example:8443/update");
  EXPECT_EQ(s.GetSettingString("URL.FlagPath"), "https://svc.example:8443/flags/");
  // One the service delivered itself stays as delivered.
  s.SetSettingString("URL.CheckIP", "https://other.example/ip");
  EXPECT_EQ(s.GetSettingString("URL.CheckIP"), "https://other.example/ip");
  // Other names are not made up.
  EXPECT_FALSE(s.GetSettingExists("URL.MapMask"));
  EXPECT_FALSE(s.GetSettingExists("URL.home"));
}

#ifndef _WIN32
// An installed program: const.dat in <root>/usr/lib/veilgate/, the
// administrator's file in <root>/etc/veilgate/.
class SettingsAdminTest : public SettingsStoreTest {
 protected:
  void SetUp() override {
    SettingsStoreTest::SetUp();
    FAppDir = sb().Path("root/usr/lib/veilgate/");
    platform::ForceDirectories(FAppDir.substr(0, FAppDir.size() - 1));
    platform::SetModuleFileNameOverride(FAppDir + "veilgate");
    FAdmin = sb().Path("root/etc/veilgate/veilgate.conf");
  }
  std::string FAppDir, FAdmin;
};

TEST_F(SettingsAdminTest, AdministratorsFileComesAfterTheSuppliedSettings) {
  Put(FAppDir + "const.dat", "[setting]\nSkin=Supplied\n");
  Put(FAdmin, "[setting]\nURL.Service=http://admin.example:9000\nSkin=Admin\nLanguage=Deutsch\n");
  ASSERT_EQ(::chmod(FAdmin.c_str(), 0644), 0);
  TCLSettings s;
  EXPECT_EQ(s.AdminSettingsFile(), FAdmin);
  EXPECT_EQ(s.GetSettingString("URL.GetInfo"), "http://admin.example:9000/getinfo");
  EXPECT_EQ(s.GetSettingString("Language"), "Deutsch");
  // The supplied file answers first; the user's file before both.
  EXPECT_EQ(s.GetSettingString("Skin"), "Supplied");
  s.SetSettingString("URL.Service", "http://mine.example");
  EXPECT_EQ(s.GetSettingString("URL.Update"), "http://mine.example/update");
}

TEST_F(SettingsAdminTest, FileOthersMayChangeIsIgnored) {
  Put(FAdmin, "[setting]\nURL.Service=http://evil.example\n");
  for (mode_t mode : {0666, 0620}) {
    ASSERT_EQ(::chmod(FAdmin.c_str(), mode), 0);
    TCLSettings s;
    EXPECT_EQ(s.AdminSettingsFile(), "") << std::oct << mode;
    EXPECT_EQ(s.GetSettingString("URL.Service"), kDefaultServiceAddress) << std::oct << mode;
  }
  ASSERT_EQ(::chmod(FAdmin.c_str(), 0600), 0);
  TCLSettings s;
  EXPECT_EQ(s.GetSettingString("URL.Service"), "http://evil.example");
}
#endif

}  // namespace
