#include "framework/ServiceEndpoints.h"

#include "framework/CLSettings.h"
#include "framework/CLURL.h"
#include "net/CLUtils.h"

namespace ServiceEndpoints {

namespace {
std::string Setting(const char* name) { return GetCLSettings()->GetSettingString(name); }
}  // namespace

std::string LocalInfoURL() { return Setting(kGetInfo) + "?MagicWord=" + Setting(kMagicWord); }

std::string TouchURL(const std::string& proxyIP) {
  const std::string mask = Setting(kSuperTouch);
  if (mask.empty()) return std::string();
  return FormatPlaceholders(mask, {proxyIP});
}

std::string FlagURL(const std::string& countryCode) {
  return Setting(kFlagPath) + countryCode + ".PNG";
}

std::string CheckIPURL() { return Setting(kCheckIP); }
std::string MapMask() { return Setting(kMapMask); }
std::string UpdateURL() { return GetURL(kUpdatePage, true); }
std::string SupportURL() { return GetURL(kSupportPage, true); }

}  // namespace ServiceEndpoints
