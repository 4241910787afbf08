// System description: the platform's version data turned into the product
// name, edition, version numbers and service pack of Windows. The engine
// uses it to tell the 64-bit edition of Windows Vista. On other systems the
// product stays empty and the kind is winUnknown; the version numbers are
// the system's own.
#pragma once

#include <string>

#include "platform/System.h"

enum TWindowsType {
  winUnknown,
  win31,
  win95,
  win95OSR2,
  winNT,
  win98,
  win98se,
  winME,
  win2000,
  winXP,
  winXPx64,
  win2003,
  win2003R2,
  winVista,
  winVista64,
  winLonghorn
};

enum TWindowsProductType { wptWorkstation, wptServer };

struct TWindowsProductKind {
  std::string AsString;  // the edition, for example "Professional"
  TWindowsProductType AsType = wptWorkstation;
};

struct TWindowsProductVersion {
  std::string AsString;  // "%d.%d" of Major and Minor
  int Major = 0;
  int Minor = 0;
};

struct TWindowsTypeEx {
  std::string Full;     // "%s %s" of Product and Kind.AsString (Me and Win32s: Product)
  std::string Product;  // for example "Microsoft Windows XP"
  TWindowsProductKind Kind;
  TWindowsType OSKind = winUnknown;
  TWindowsProductVersion OSVersion;
  int OSBuild = 0;
  bool Server = false;      // a server or domain controller
  std::string ServicePack;  // trimmed service-pack text
  TWindowsProductVersion ServicePackVersion;
};

// Fills WinType from this system's version data.
void GetWindowsTypeEx(TWindowsTypeEx& WinType);
// Fills WinType from the given version data; the registry values the rules
// name are read from the platform registry. Data of a failed version query
// (no system name, or Windows with major version 0) leaves the record empty.
void GetWindowsTypeExFrom(const platform::VersionInfo& Info, TWindowsTypeEx& WinType);

// Whether this system is the 64-bit edition of Windows Vista (OSKind).
bool IsWindowsVista64();
// Whether this process is a 32-bit process on a 64-bit Windows.
bool IsWow64();
