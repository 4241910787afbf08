#include "framework/WinVersion.h"

#include <cstdio>

#include "platform/AsciiText.h"
#include "platform/Registry.h"

namespace {

// The product name and the kind of a Windows version.
void Name(TWindowsTypeEx& w, const char* product, TWindowsType kind) {
  w.Product = product;
  w.OSKind = kind;
}

// Version data platform ids (dwPlatformId).
constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformNT = 2;

// Product types (wProductType).
constexpr uint8_t kNtWorkstation = 1;
constexpr uint8_t kNtDomainController = 2;
constexpr uint8_t kNtServer = 3;

// Suite bits (wSuiteMask).
constexpr uint16_t kSuiteSmallBusiness = 0x0001;
constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteSmallBusinessRestricted = 0x0020;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;

// Processor architectures.
constexpr uint16_t kArchIa64 = 6;
constexpr uint16_t kArchAmd64 = 9;

std::string VersionText(int major, int minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

void Windows9x(const platform::VersionInfo& v, TWindowsTypeEx& w) {
  w.Kind.AsType = wptWorkstation;
  w.ServicePack = v.csdVersion;
  const char marker = v.csdVersion.size() > 1 ? v.csdVersion[1] : '\0';
  if (v.major == 4 && v.minor == 0) {
    Name(w, "Microsoft Windows 95", win95);
    if (marker == 'C' || marker == 'B') {
      w.Kind.AsString = "OSR2";
      w.OSKind = win95OSR2;
    }
  } else if (v.major == 4 && v.minor == 10) {
    Name(w, "Microsoft Windows 98", win98);
    if (marker == 'A') {
      w.Kind.AsString = "SE";
      w.OSKind = win98se;
    }
  } else if (v.major == 4 && v.minor == 90) {
    Name(w, "Microsoft Windows Millennium Edition", winME);
    w.Full = w.Product;
    return;
  }
  w.Full = w.Product + " " + w.Kind.AsString;
}

// The edition from the extended version data.
void NtEdition(const platform::VersionInfo& v, uint16_t arch, TWindowsTypeEx& w) {
  const uint16_t suite = v.suiteMask;
  if (v.productType == kNtWorkstation && arch != kArchAmd64) {
    w.Kind.AsType = wptWorkstation;
    if (v.major == 4)
      w.Kind.AsString = "Workstation 4.0";
    else if (suite & kSuitePersonal)
      w.Kind.AsString = "Home Edition";
    else
      w.Kind.AsString = "Professional";
    return;
  }
  if (v.productType != kNtServer && v.productType != kNtDomainController) return;
  w.Server = true;
  w.Kind.AsType = wptServer;
  if (v.major == 5 && v.minor == 2) {
    if (arch == kArchIa64) {
      if (suite & kSuiteDatacenter)
        w.Kind.AsString = "Datacenter Edition for Itanium-based Systems";
      else if (suite & kSuiteEnterprise)
        w.Kind.AsString = "Enterprise Edition for Itanium-based Systems";
    } else if (arch == kArchAmd64) {
      if (suite & kSuiteDatacenter)
        w.Kind.AsString = "Datacenter x64 Edition";
      else if (suite & kSuiteEnterprise)
        w.Kind.AsString = "Enterprise x64 Edition";
      else
        w.Kind.AsString = "Standard x64 Edition";
    } else {
      if (suite & kSuiteDatacenter)
        w.Kind.AsString = "Datacenter Edition";
      else if (suite & kSuiteEnterprise)
        w.Kind.AsString = "Enterprise Edition";
      else if (suite & kSuiteBlade)
        w.Kind.AsString = "Web Edition";
      else if (suite & kSuiteSmallBusiness)
        w.Kind.AsString = "Small Business Server";
      else if (suite & kSuiteSmallBusinessRestricted)
        w.Kind.AsString = "Small Business Server ( Restricted )";
      else
        w.Kind.AsString = "Standard Edition";
    }
  } else if (v.major == 5 && v.minor == 0) {
    w.Product = "Microsoft Windows Server 2000 family";
    if (suite & kSuiteDatacenter)
      w.Kind.AsString = "Datacenter Server";
    else if (suite & kSuiteEnterprise)
      w.Kind.AsString = "Advanced Server";
    else
      w.Kind.AsString = "Server";
  } else {
    w.Kind.AsString = (suite & kSuiteEnterprise) ? "Server 4.0 Enterprise Edition" : "Server 4.0";
  }
}

// The edition from the registry, for systems without extended data.
void NtEditionFromRegistry(const platform::VersionInfo& v, TWindowsTypeEx& w) {
  std::string type;
  platform::RegReadString(RegRoot::LocalMachine,
                          "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType",
                          type);
  type = UpperCase(type);
  std::string kind;
  if (type == "WINNT")
    kind = "Workstation";
  else if (type == "LANMANNT")
    kind = "Server";
  else if (type == "SERVERNT")
    kind = "Advanced Server";
  w.Kind.AsString =
      kind + " " + VersionText(static_cast<int>(v.major), static_cast<int>(v.minor)) + " ";
}

void WindowsNT(const platform::VersionInfo& v, TWindowsTypeEx& w) {
  // The native processor is asked for version 5.2 only, where it tells the
  // x64 editions apart; elsewhere it counts as x86.
  uint16_t arch = 0;
  if (v.major == 6 && v.minor == 0) {
    if (v.productType == kNtWorkstation) {
      Name(w, "Microsoft Windows Vista", winVista);
      if (v.isWow64) {
        Name(w, "Microsoft Windows Vista 64 Edition", winVista64);
      }
    } else {
      Name(w, "Microsoft Windows Server Longhorn", winLonghorn);
    }
  } else if (v.major == 5 && v.minor == 2) {
    arch = v.processorArchitecture;
    if (v.serverR2 != 0) {
      Name(w, "Microsoft Windows Server 2003 R2", win2003R2);
    } else if (v.productType == kNtWorkstation && arch == kArchAmd64) {
      Name(w, "Microsoft Windows XP Professional x64 Edition", winXPx64);
    } else {
      Name(w, "Microsoft Windows Server 2003 family", win2003);
    }
  } else if (v.major == 5 && v.minor == 1) {
    Name(w, "Microsoft Windows XP", winXP);
  } else if (v.major == 5 && v.minor == 0) {
    Name(w, "Microsoft Windows 2000", win2000);
  } else if (v.major <= 4) {
    Name(w, "Microsoft Windows NT", winNT);
  }

  if (v.extendedData)
    NtEdition(v, arch, w);
  else
    NtEditionFromRegistry(v, w);

  char buf[64];
  std::snprintf(buf, sizeof buf, " (Build %u) \r\n", static_cast<unsigned>(v.build & 0xFFFF));
  if (v.major == 4 && v.csdVersion == "Service Pack 6" &&
      platform::RegKeyExists(RegRoot::LocalMachine,
                             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009"))
    w.ServicePack = std::string("Service Pack 6a") + buf;
  else
    w.ServicePack = v.csdVersion + buf;
  w.Full = w.Product + " " + w.Kind.AsString;
}

}  // namespace

void GetWindowsTypeExFrom(const platform::VersionInfo& Info, TWindowsTypeEx& WinType) {
  WinType = TWindowsTypeEx();
  // No system name, or Windows without a major version: the query failed.
  if (Info.systemName.empty() || (Info.systemName == "Windows" && Info.major == 0)) return;
  const int major = static_cast<int>(Info.major), minor = static_cast<int>(Info.minor);
  WinType.OSVersion = {VersionText(major, minor), major, minor};
  WinType.ServicePackVersion = {VersionText(Info.servicePackMajor, Info.servicePackMinor),
                                Info.servicePackMajor, Info.servicePackMinor};
  WinType.OSBuild = static_cast<int>(Info.build);
  WinType.Server = false;
  // Version data of another system (posix) names no Windows product.
  if (Info.systemName != "Windows") return;
  switch (Info.platformId) {
    case kPlatformWin32s:
      WinType.Product = "Microsoft Win32s";
      WinType.Kind.AsType = wptWorkstation;
      WinType.Full = WinType.Product;
      WinType.OSKind = win31;
      break;
    case kPlatformWindows9x: Windows9x(Info, WinType); break;
    case kPlatformNT: WindowsNT(Info, WinType); break;
    default: break;
  }
  WinType.ServicePack = Trim(WinType.ServicePack);
}

void GetWindowsTypeEx(TWindowsTypeEx& WinType) {
  GetWindowsTypeExFrom(platform::GetVersionInfo(), WinType);
}

bool IsWindowsVista64() {
  TWindowsTypeEx w;
  GetWindowsTypeEx(w);
  return w.OSKind == winVista64;
}

bool IsWow64() { return platform::GetVersionInfo().isWow64; }
