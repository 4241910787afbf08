// Volume serial number on posix: the file system id that statvfs reports for
// the path (the nearest equivalent of a volume serial number).
#include <sys/statvfs.h>

#include <cstdint>
#include <string>

#include "platform/System.h"

namespace platform {

bool VolumeSerialNumber(const std::string& drive, uint32_t& serial) {
  std::string path = (!drive.empty() && drive[0] == '/') ? drive : std::string("/");
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return false;
  // f_fsid may be wider than 32 bits; fold the high half in so that both
  // halves contribute to the identifier.
  uint64_t id = static_cast<uint64_t>(st.f_fsid);
  serial = static_cast<uint32_t>(id ^ (id >> 32));
  return true;
}

}  // namespace platform
