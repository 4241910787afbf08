// Which settings the web service may write through its update answer.
//
// The answer arrives over a network the user does not trust; whoever answers
// the update request (the service, or anyone between the program and the
// service) may write the settings named here and no others. The service owns
// its proxy lists, its own addresses, the banners and the way its answer is
// presented. Settings that name local programs, files or folders, the user's
// own choices (language, skin, the settings dialog's switches, the autorun,
// the target country) and the program's own bookkeeping are never taken from
// the network. Addresses the service pushes are http: or https: addresses.
#pragma once

#include <string>

// True when the update answer may set the setting name to value; otherwise
// false with the reason in why (for the debug log). Names compare without
// regard to case. An empty value (which removes the setting) passes the
// address rule.
bool IsServiceSetting(const std::string& name, const std::string& value,
                      std::string* why = nullptr);

// The value a service setting is stored with: the popup's size
// ("FLS.Width", "FLS.Height") is clamped to kPopupSizeMin..kPopupSizeMax
// (a number out of range, or none, becomes the nearest bound); every other
// value is kept as it is.
constexpr int kPopupSizeMin = 16;
constexpr int kPopupSizeMax = 2000;
int ClampPopupSize(int size);
std::string ServiceSettingValue(const std::string& name, const std::string& value);

// Whether the setting holds an address the program opens, shows or calls:
// the "URL." settings (but "URL.LocalFlagPath", a folder), "SUPER_TOUCH" and
// banner settings whose last name part contains "URL". (A banner setting
// of another name whose value looks like an address or a path is checked
// as an address too, see IsServiceSetting.)
bool IsServiceAddressSetting(const std::string& name);
