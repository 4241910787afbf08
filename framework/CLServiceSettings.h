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

// Whether the setting holds an address the program opens, shows or calls:
// the "URL." settings (but "URL.LocalFlagPath", a folder), "SUPER_TOUCH" and
// banner settings whose last name part contains "URL".
bool IsServiceAddressSetting(const std::string& name);
