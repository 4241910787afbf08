#include "framework/CLServiceSettings.h"

#include <iterator>
#include <string>

#include "net/CLUtils.h"

namespace {

// Settings the service sets by their full name.
const char* const kServiceNames[] = {
    "NORMAL_IPS",  // the proxy lists
    "SUPER_IPS",
    "SUPER_TOUCH",    // the touch address of super proxies
    "App.Copyright",  // shown in the about window
    "Update.Days",    // how the service's own check is scheduled and shown
    "Update.DelaySeconds", "Update.AutoClose",
    "FLS.Width",  // size of the popup the service's movie fills
    "FLS.Height",
};

// Groups of settings the service owns: its own addresses and its banners.
const char* const kServicePrefixes[] = {"URL.", "Banner."};

// Names inside those groups that are not the service's: a folder of the
// installation.
const char* const kLocalNames[] = {"URL.LocalFlagPath"};

void Why(std::string* why, const std::string& text) {
  if (why) *why = text;
}

bool InList(const std::string& name, const char* const* begin, const char* const* end) {
  for (const char* const* p = begin; p != end; ++p)
    if (SameText(name, *p)) return true;
  return false;
}

// Whether a value names something to open rather than being plain text: it
// starts with a scheme ("file:", "javascript:", a drive "C:"), a path
// ("/", "\\") or the program folder's placeholder.
bool LooksLikeAddress(const std::string& raw) {
  const std::string value = Trim(raw);
  if (value.empty()) return false;
  if (value[0] == '/' || value[0] == '\\' || StartsWithText(value, "%exepath%")) return true;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(value[0])) return false;
  for (char c : value) {
    if (c == ':') return true;
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

}  // namespace

int ClampPopupSize(int size) {
  return size < kPopupSizeMin ? kPopupSizeMin : size > kPopupSizeMax ? kPopupSizeMax : size;
}

std::string ServiceSettingValue(const std::string& name, const std::string& value) {
  if (!SameText(name, "FLS.Width") && !SameText(name, "FLS.Height")) return value;
  // A long run of digits is clamped without overflowing; a negative number
  // or no number at all gives the smallest size.
  const std::string v = Trim(value);
  bool digits = !v.empty();
  for (char c : v)
    if (c < '0' || c > '9') digits = false;
  const int size = !digits ? kPopupSizeMin : v.size() > 9 ? kPopupSizeMax : std::stoi(v);
  return std::to_string(ClampPopupSize(size));
}

bool IsServiceAddressSetting(const std::string& name) {
  if (InList(name, std::begin(kLocalNames), std::end(kLocalNames))) return false;
  if (SameText(name, "SUPER_TOUCH") || StartsWithText(name, "URL.")) return true;
  if (StartsWithText(name, "Banner.")) {
    const std::string last = UpperCase(name.substr(name.rfind('.') + 1));
    return last.find("URL") != std::string::npos;
  }
  return false;
}

bool IsServiceSetting(const std::string& name, const std::string& value, std::string* why) {
  if (InList(name, std::begin(kLocalNames), std::end(kLocalNames))) {
    Why(why, "names a local folder");
    return false;
  }
  bool owned = InList(name, std::begin(kServiceNames), std::end(kServiceNames));
  for (const char* prefix : kServicePrefixes)
    if (!owned && StartsWithText(name, prefix) && name.size() > std::string(prefix).size())
      owned = true;
  if (!owned) {
    Why(why, "not a setting the service owns");
    return false;
  }
  const bool address =
      IsServiceAddressSetting(name) || (StartsWithText(name, "Banner.") && LooksLikeAddress(value));
  if (address && !value.empty() && !IsWebAddress(Trim(value))) {
    Why(why, "not an http: or https: address");
    return false;
  }
  return true;
}
