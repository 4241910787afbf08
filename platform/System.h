// System description data (GetVersionExW and friends; uname on posix).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct VersionInfo {
  uint32_t platformId = 0;  // 2 = NT family, 1 = 9x family, 0 = unknown
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  std::string csdVersion;  // service pack text
  uint16_t servicePackMajor = 0;
  uint16_t servicePackMinor = 0;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;     // 1 workstation, 2 domain controller, 3 server
  std::string systemName;      // uname sysname on posix, "Windows" on Windows
  std::string release;         // uname release on posix
  bool is64BitSystem = false;  // GetNativeSystemInfo / machine
  bool isWow64 = false;        // a 32-bit process on a 64-bit system
  // Windows only (posix leaves the defaults): whether the extended version
  // data (product type, suite mask, service-pack numbers) was available, the
  // native processor architecture (PROCESSOR_ARCHITECTURE_*, 0 = x86, 6 =
  // IA64, 9 = AMD64) and GetSystemMetrics(SM_SERVERR2).
  bool extendedData = false;
  uint16_t processorArchitecture = 0;
  int serverR2 = 0;
};
VersionInfo GetVersionInfo();

// Whether the Control and Shift keys are both held down right now, where the
// platform can tell without a window (Windows: GetKeyState). posix answers
// false; the Qt layer asks the window system instead.
bool CtrlAndShiftDown();

// Serial number of the volume that holds drive (GetVolumeInformationW on
// drive + ":\"; on posix the file system id of the path drive, "/" when
// drive is not an absolute path). False when the volume cannot be queried.
// Backends: platform/<backend>/Volume.cpp.
bool VolumeSerialNumber(const std::string& drive, uint32_t& serial);

// Pauses the calling thread.
void SleepMs(int milliseconds);

}  // namespace platform
