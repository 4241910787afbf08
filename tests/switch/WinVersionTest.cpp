// The system description, fed with version records of known systems.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>

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

platform::VersionInfo Nine(uint32_t minor, const std::string& csd = "") {
  platform::VersionInfo v;
  v.systemName = "Windows";
  v.platformId = 1;
  v.major = 4;
  v.minor = minor;
  v.csdVersion = csd;
  return v;
}

// A few systems users really ran, as the about box and the service see them.
TEST_F(WinVersionTest, RealSystemsAreNamed) {
  platform::VersionInfo vista64 = Nt(6, 0, 6002, 1, 0, "Service Pack 2");
  vista64.isWow64 = true;
  platform::VersionInfo r2 = Nt(5, 2, 3790, 3, 0x0002, "Service Pack 2");
  r2.serverR2 = 1;
  platform::VersionInfo xp64 = Nt(5, 2, 3790, 1);
  xp64.processorArchitecture = 9;
  platform::VersionInfo win32s = Nine(0);
  win32s.platformId = 0;
  win32s.major = 3;
  win32s.minor = 11;
  struct Case {
    platform::VersionInfo v;
    TWindowsType kind;
    const char* full;
  };
  const Case cases[] = {
      {Nt(5, 1, 2600, 1, 0x0200, "Service Pack 3"), winXP, "Microsoft Windows XP Home Edition"},
      {Nt(5, 1, 2600, 1), winXP, "Microsoft Windows XP Professional"},
      {xp64, winXPx64, "Microsoft Windows XP Professional x64 Edition "},
      {vista64, winVista64, "Microsoft Windows Vista 64 Edition Professional"},
      {Nt(6, 0, 6001, 1, 0x0200), winVista, "Microsoft Windows Vista Home Edition"},
      {r2, win2003R2, "Microsoft Windows Server 2003 R2 Enterprise Edition"},
      {Nt(5, 2, 3790, 3), win2003, "Microsoft Windows Server 2003 family Standard Edition"},
      {Nt(5, 0, 2195, 1), win2000, "Microsoft Windows 2000 Professional"},
      {Nt(5, 0, 2195, 3, 0x0002), win2000, "Microsoft Windows Server 2000 family Advanced Server"},
      {Nt(4, 0, 1381, 1), winNT, "Microsoft Windows NT Workstation 4.0"},
      {Nine(0, " C"), win95OSR2, "Microsoft Windows 95 OSR2"},
      {Nine(10, " A "), win98se, "Microsoft Windows 98 SE"},
      {Nine(90), winME, "Microsoft Windows Millennium Edition"},
      {win32s, win31, "Microsoft Win32s"},
  };
  for (const Case& c : cases) {
    const TWindowsTypeEx w = Describe(c.v);
    EXPECT_EQ(w.OSKind, c.kind) << c.full;
    EXPECT_EQ(w.Full, c.full);
  }
  // The service pack with the build number (its low word only).
  platform::VersionInfo xp = Nt(5, 1, 0x0A280A28, 1, 0, "Service Pack 3");
  EXPECT_EQ(Describe(xp).ServicePack, "Service Pack 3 (Build 2600)");
  EXPECT_EQ(Describe(xp).OSBuild, 0x0A280A28);
  EXPECT_EQ(Describe(Nine(0, " C")).ServicePack, "C");
}

// What holds for every NT record: the version text, the server flag from the
// product type, the full name built from the product, the build in the
// service-pack text; systems newer than the table are not given a name.
TEST_F(WinVersionTest, PropertiesOfEveryNtRecord) {
  for (uint32_t major : {4u, 5u, 6u, 10u})
    for (uint32_t minor : {0u, 1u, 2u, 3u})
      for (uint8_t type : {1, 2, 3}) {
        SCOPED_TRACE(std::to_string(major) + "." + std::to_string(minor) + " type " +
                     std::to_string(type));
        const TWindowsTypeEx w = Describe(Nt(major, minor, 7000, type, 0, "Service Pack 1"));
        EXPECT_EQ(w.OSVersion.AsString, std::to_string(major) + "." + std::to_string(minor));
        EXPECT_EQ(w.OSVersion.Major, static_cast<int>(major));
        EXPECT_EQ(w.Server, type != 1);
        EXPECT_EQ(w.Kind.AsType, type != 1 ? wptServer : wptWorkstation);
        EXPECT_EQ(w.Full.rfind(w.Product, 0), 0u) << w.Full;
        EXPECT_EQ(w.ServicePack, "Service Pack 1 (Build 7000)");
        const bool known = (major == 5 && minor <= 2) || (major == 6 && minor == 0) || major == 4;
        EXPECT_EQ(w.OSKind != winUnknown, known);
        EXPECT_EQ(!w.Product.empty(), known);
      }
}

// Later releases of a line never get an earlier kind.
TEST_F(WinVersionTest, KindsFollowTheReleaseOrder) {
  const TWindowsType nt[] = {Describe(Nt(4, 0, 1381, 1)).OSKind, Describe(Nt(5, 0, 2195, 1)).OSKind,
                             Describe(Nt(5, 1, 2600, 1)).OSKind,
                             Describe(Nt(6, 0, 6000, 1)).OSKind};
  const TWindowsType nine[] = {Describe(Nine(0)).OSKind, Describe(Nine(0, " B")).OSKind,
                               Describe(Nine(10)).OSKind, Describe(Nine(10, " A")).OSKind,
                               Describe(Nine(90)).OSKind};
  for (size_t i = 1; i < std::size(nt); ++i) EXPECT_LT(nt[i - 1], nt[i]) << i;
  for (size_t i = 1; i < std::size(nine); ++i) EXPECT_LT(nine[i - 1], nine[i]) << i;
}

// Without extended data (NT 4 before Service Pack 6) the edition comes from
// the registry, and the hotfix key makes Service Pack 6 read 6a.
TEST_F(WinVersionTest, Nt4ReadsTheRegistry) {
  platform::VersionInfo nt4 = Nt(4, 0, 1381, 1, 0, "Service Pack 6");
  EXPECT_EQ(Describe(nt4).ServicePack, "Service Pack 6 (Build 1381)");
  platform::RegCreateKey(RegRoot::LocalMachine,
                         "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009");
  EXPECT_EQ(Describe(nt4).ServicePack, "Service Pack 6a (Build 1381)");

  nt4.extendedData = false;
  nt4.productType = 0;
  EXPECT_EQ(Describe(nt4).Kind.AsString, " 4.0 ");  // nothing in the registry
  const char* const options = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
  for (const auto& [type, kind] : {std::pair<const char*, const char*>{"LanmanNt", "Server 4.0 "},
                                   {"WinNT", "Workstation 4.0 "},
                                   {"SERVERNT", "Advanced Server 4.0 "}}) {
    platform::RegWriteString(RegRoot::LocalMachine, options, "ProductType", type);
    EXPECT_EQ(Describe(nt4).Kind.AsString, kind) << type;
  }
  EXPECT_EQ(Describe(nt4).Full, "Microsoft Windows NT Advanced Server 4.0 ");
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
