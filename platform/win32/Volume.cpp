// Volume serial number of a drive through GetVolumeInformationW.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/System.h"

namespace platform {

bool VolumeSerialNumber(const std::string& drive, uint32_t& serial) {
  // Only the drive letter part matters: "C", "C:" and "C:\..." name drive C.
  if (drive.empty()) return false;
  wchar_t root[4] = {static_cast<wchar_t>(static_cast<unsigned char>(drive[0])), L':', L'\\', 0};
  DWORD number = 0;
  if (!GetVolumeInformationW(root, nullptr, 0, &number, nullptr, nullptr, nullptr, 0)) return false;
  serial = number;
  return true;
}

}  // namespace platform
