// Whether a browser is running for the current user.
#pragma once

#include <string>

namespace platform {

// Whether Firefox is running. Windows: a top-level window of the class
// "MozillaUIWindowClass" exists (exePath is not needed). posix: a process of
// this user runs the executable exePath, directly or as a script given to
// an interpreter. False for an empty or unknown path.
bool FirefoxRunning(const std::string& exePath);

// The folder holding Firefox's profiles.ini (posix: ~/.mozilla/firefox;
// Windows: the roaming Mozilla\Firefox folder); empty when unknown.
std::string FirefoxProfilesFolder();

// Opera's preferences file where the platform keeps it outside the
// application-data folder (posix: the legacy ~/.opera/operaprefs.ini);
// empty where there is none.
std::string LegacyOperaPrefsFile();

}  // namespace platform
