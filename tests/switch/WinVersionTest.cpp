// The system description, fed with version records of known systems.
#include <gtest/gtest.h>

#include "framework/WinVersion.h"
#include "platform/Registry.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

platform::VersionInfo Nt(uint32_t major, uint32_t minor, uint32_t build, uint8_t productType,
                         uint16_t suite = 0, const std::string& csd = "") {
  platform::VersionInfo v;
  v.systemName = "Windows";
  v.platformId = 2;
  v.major = major;
  v.minor = minor;
  v.build = build;
  v.productType = productType;
  v.suiteMask = suite;
  v.csdVersion = csd;
  v.extendedData = true;
  return v;
}

TWindowsTypeEx Describe(const platform::VersionInfo& v) {
  TWindowsTypeEx w;
  GetWindowsTypeExFrom(v, w);
  return w;
}

class WinVersionTest : public SwitchTest {};

}  // namespace

TEST_F(WinVersionTest, VistaAndLaterWorkstations) {
  // A 32-bit process on 64-bit Vista.
  platform::VersionInfo v = Nt(6, 0, 6002, 1, 0, "Service Pack 2");
  v.isWow64 = true;
  v.servicePackMajor = 2;
  TWindowsTypeEx w = Describe(v);
  EXPECT_EQ(w.OSKind, winVista64);
  EXPECT_EQ(w.Product, "Microsoft Windows Vista 64 Edition");
  EXPECT_EQ(w.Full, "Microsoft Windows Vista 64 Edition Professional");
  EXPECT_EQ(w.Kind.AsType, wptWorkstation);
  EXPECT_FALSE(w.Server);
  EXPECT_EQ(w.OSVersion.AsString, "6.0");
  EXPECT_EQ(w.OSBuild, 6002);
  EXPECT_EQ(w.ServicePack, "Service Pack 2 (Build 6002)");
  EXPECT_EQ(w.ServicePackVersion.AsString, "2.0");

  v.isWow64 = false;
  v.suiteMask = 0x0200;
  w = Describe(v);
  EXPECT_EQ(w.OSKind, winVista);
  EXPECT_EQ(w.Full, "Microsoft Windows Vista Home Edition");

  // Vista's server sibling.
  w = Describe(Nt(6, 0, 6001, 3));
  EXPECT_EQ(w.OSKind, winLonghorn);
  EXPECT_EQ(w.Product, "Microsoft Windows Server Longhorn");
  EXPECT_TRUE(w.Server);
  EXPECT_EQ(w.Kind.AsString, "Server 4.0");

  // Windows 7 matches no product.
  w = Describe(Nt(6, 1, 7601, 1, 0, "Service Pack 1"));
  EXPECT_EQ(w.OSKind, winUnknown);
  EXPECT_EQ(w.Product, "");
  EXPECT_EQ(w.OSVersion.AsString, "6.1");
  EXPECT_EQ(w.OSVersion.Major, 6);
  EXPECT_EQ(w.OSVersion.Minor, 1);
}

TEST_F(WinVersionTest, XpAnd2003Family) {
  platform::VersionInfo xp = Nt(5, 1, 2600, 1, 0x0200, "Service Pack 3");
  TWindowsTypeEx w = Describe(xp);
  EXPECT_EQ(w.OSKind, winXP);
  EXPECT_EQ(w.Full, "Microsoft Windows XP Home Edition");
  EXPECT_EQ(w.ServicePack, "Service Pack 3 (Build 2600)");

  // The build's high word is cut from the service-pack text only.
  xp.build = 0x0A280A28;  // 2600 in the low word
  xp.suiteMask = 0;
  w = Describe(xp);
  EXPECT_EQ(w.Full, "Microsoft Windows XP Professional");
  EXPECT_EQ(w.ServicePack, "Service Pack 3 (Build 2600)");
  EXPECT_EQ(w.OSBuild, 0x0A280A28);

  platform::VersionInfo x64 = Nt(5, 2, 3790, 1);
  x64.processorArchitecture = 9;
  w = Describe(x64);
  EXPECT_EQ(w.OSKind, winXPx64);
  EXPECT_EQ(w.Product, "Microsoft Windows XP Professional x64 Edition");
  EXPECT_EQ(w.Kind.AsString, "");

  platform::VersionInfo r2 = Nt(5, 2, 3790, 3, 0x0002, "Service Pack 2");
  r2.serverR2 = 1;
  w = Describe(r2);
  EXPECT_EQ(w.OSKind, win2003R2);
  EXPECT_EQ(w.Full, "Microsoft Windows Server 2003 R2 Enterprise Edition");
  EXPECT_TRUE(w.Server);
  EXPECT_EQ(w.Kind.AsType, wptServer);

  // The 2003 editions, first match wins.
  const std::pair<uint16_t, const char*> x86[] = {
      {0x0080 | 0x0002, "Datacenter Edition"}, {0x0002, "Enterprise Edition"},
      {0x0400, "Web Edition"},                 {0x0001, "Small Business Server"},
      {0x0020, "Small Business Server ( Restricted )"}, {0, "Standard Edition"}};
  for (const auto& [suite, edition] : x86) {
    w = Describe(Nt(5, 2, 3790, 3, suite));
    EXPECT_EQ(w.OSKind, win2003) << edition;
    EXPECT_EQ(w.Full, std::string("Microsoft Windows Server 2003 family ") + edition);
  }
  platform::VersionInfo amd = Nt(5, 2, 3790, 2, 0);
  amd.processorArchitecture = 9;
  EXPECT_EQ(Describe(amd).Kind.AsString, "Standard x64 Edition");
  amd.suiteMask = 0x0080;
  EXPECT_EQ(Describe(amd).Kind.AsString, "Datacenter x64 Edition");
  platform::VersionInfo ia64 = Nt(5, 2, 3790, 3, 0x0002);
  ia64.processorArchitecture = 6;
  EXPECT_EQ(Describe(ia64).Kind.AsString, "Enterprise Edition for Itanium-based Systems");
  ia64.suiteMask = 0;
  EXPECT_EQ(Describe(ia64).Kind.AsString, "");
}

TEST_F(WinVersionTest, Windows2000AndNt4) {
  TWindowsTypeEx w = Describe(Nt(5, 0, 2195, 3, 0x0002, "Service Pack 4"));
  EXPECT_EQ(w.OSKind, win2000);
  EXPECT_EQ(w.Full, "Microsoft Windows Server 2000 family Advanced Server");
  w = Describe(Nt(5, 0, 2195, 1));
  EXPECT_EQ(w.Full, "Microsoft Windows 2000 Professional");

  // NT 4 Service Pack 6 with the hotfix key reads 6a.
  platform::VersionInfo nt4 = Nt(4, 0, 1381, 1, 0, "Service Pack 6");
  w = Describe(nt4);
  EXPECT_EQ(w.OSKind, winNT);
  EXPECT_EQ(w.Full, "Microsoft Windows NT Workstation 4.0");
  EXPECT_EQ(w.ServicePack, "Service Pack 6 (Build 1381)");
  platform::RegCreateKey(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009");
  EXPECT_EQ(Describe(nt4).ServicePack, "Service Pack 6a (Build 1381)");

  // Without extended data the edition comes from the registry.
  nt4.extendedData = false;
  nt4.productType = 0;
  w = Describe(nt4);
  EXPECT_EQ(w.Kind.AsString, " 4.0 ");
  platform::RegWriteString(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                           "ProductType", "LanmanNt");
  w = Describe(nt4);
  EXPECT_EQ(w.Kind.AsString, "Server 4.0 ");
  EXPECT_EQ(w.Full, "Microsoft Windows NT Server 4.0 ");
  platform::RegWriteString(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                           "ProductType", "WinNT");
  EXPECT_EQ(Describe(nt4).Kind.AsString, "Workstation 4.0 ");
  platform::RegWriteString(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                           "ProductType", "SERVERNT");
  EXPECT_EQ(Describe(nt4).Kind.AsString, "Advanced Server 4.0 ");
}

TEST_F(WinVersionTest, Windows9xAndWin32s) {
  platform::VersionInfo v;
  v.systemName = "Windows";
  v.platformId = 1;
  v.major = 4;
  v.minor = 0;
  v.csdVersion = " C";
  TWindowsTypeEx w = Describe(v);
  EXPECT_EQ(w.OSKind, win95OSR2);
  EXPECT_EQ(w.Full, "Microsoft Windows 95 OSR2");
  EXPECT_EQ(w.ServicePack, "C");
  v.csdVersion = "";
  EXPECT_EQ(Describe(v).OSKind, win95);

  v.minor = 10;
  v.csdVersion = " A ";
  w = Describe(v);
  EXPECT_EQ(w.OSKind, win98se);
  EXPECT_EQ(w.Full, "Microsoft Windows 98 SE");
  v.csdVersion = " B";
  EXPECT_EQ(Describe(v).OSKind, win98);

  v.minor = 90;
  w = Describe(v);
  EXPECT_EQ(w.OSKind, winME);
  EXPECT_EQ(w.Full, "Microsoft Windows Millennium Edition");

  platform::VersionInfo s;
  s.systemName = "Windows";
  s.platformId = 0;
  s.major = 3;
  s.minor = 11;
  w = Describe(s);
  EXPECT_EQ(w.OSKind, win31);
  EXPECT_EQ(w.Full, "Microsoft Win32s");
}

TEST_F(WinVersionTest, ThisSystemAndFailedQueries) {
  // Linux: the version numbers of the running kernel, no Windows product.
  TWindowsTypeEx w;
  GetWindowsTypeEx(w);
  platform::VersionInfo here = platform::GetVersionInfo();
  EXPECT_EQ(w.OSKind, winUnknown);
  EXPECT_EQ(w.Product, "");
  EXPECT_EQ(w.Full, "");
  EXPECT_EQ(w.OSVersion.Major, static_cast<int>(here.major));
  EXPECT_EQ(w.OSVersion.AsString, std::to_string(here.major) + "." + std::to_string(here.minor));
  EXPECT_FALSE(IsWindowsVista64());
  EXPECT_EQ(IsWow64(), here.isWow64);

  // A version query that failed leaves the record empty.
  w = Describe(platform::VersionInfo());
  EXPECT_EQ(w.OSVersion.AsString, "");
  EXPECT_EQ(w.OSKind, winUnknown);
  platform::VersionInfo failed;
  failed.systemName = "Windows";
  w = Describe(failed);
  EXPECT_EQ(w.Product, "");
  EXPECT_EQ(w.OSKind, winUnknown);
  EXPECT_EQ(w.OSVersion.AsString, "");
}
