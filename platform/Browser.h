// Whether a browser is running for the current user.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Whether Firefox is running. Windows: a top-level window of the class
// "MozillaUIWindowClass" exists (exePath is not needed). posix: a process of
// this user runs the executable exePath, directly or as a script given to
// an interpreter. False for an empty or unknown path.
bool FirefoxRunning(const std::string& exePath);

// The folder holding Firefox's profiles.ini (posix: ~/.mozilla/firefox
// where it exists, else $XDG_CONFIG_HOME/mozilla/firefox, as current Firefox
// makes it; Windows: the roaming Mozilla\Firefox folder); empty when
// unknown.
std::string FirefoxProfilesFolder();

// Opera's preferences file where the platform keeps it outside the
// application-data folder (posix: the legacy ~/.opera/operaprefs.ini);
// empty where there is none.
std::string LegacyOperaPrefsFile();

// The default profile of a browser of the Chromium family where this
// platform keeps it: the user-data folder (which holds the running
// browser's lock) and the profile folder (which holds "Preferences").
// posix: under $XDG_CONFIG_HOME (else ~/.config): chromium, google-chrome,
// BraveSoftware/Brave-Browser, vivaldi, microsoft-edge with their "Default"
// folder, and opera, whose profile is the user-data folder itself. Windows:
// under the local application-data folder: Chromium, Google\Chrome,
// BraveSoftware\Brave-Browser, Vivaldi, Microsoft\Edge with "User
// Data\Default"; Opera under the roaming folder, "Opera Software\Opera
// Stable". Every place is listed, whether or not a profile is there.
struct ChromiumProfileLocation {
  std::string browser;        // "Chromium", "Google Chrome", ...
  std::string dataFolder;     // the user-data folder
  std::string profileFolder;  // the default profile
};
std::vector<ChromiumProfileLocation> ChromiumProfileLocations();

// Whether a browser has the folder's profile open now. posix: the lock link
// that Chromium keeps in its user-data folder ("SingletonLock",
// "host-pid") or Firefox in its profile ("lock", "address:+pid") names a
// live process (a lock of another host counts as live). Windows: the lock
// file ("lockfile", "parent.lock") is held open by another process. False
// when the folder has no lock.
bool BrowserProfileInUse(const std::string& folder);

}  // namespace platform
