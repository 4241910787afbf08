// Browser proxy switching: the system-wide proxy, Opera's preferences file
// and Firefox through the application's browser extension; clearing cookies
// and the URL cache; the country gate that keeps the application from
// running where it is not offered; and the helpers they share.
//
// A proxy travels as "address:port" text; the empty text means a direct
// connection. Every switch swallows its failures: the caller goes on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/StringList.h"

// A Boolean setting of the switches; a store that cannot answer counts as
// false (a switch then leaves the browser alone).
bool SettingOn(const char* name);

// ---- system proxy -------------------------------------------------------------
// Points the current user's system-wide proxy at aProxy, or back to a direct
// connection for the empty text. With the setting "SWITCH.IE" false every
// call switches to direct.
void SetIEProxy(const std::string& aProxy);
// Applies the per-connection options of the default (LAN) connection; true
// when the platform accepted them.
bool SetPerConnectionProxy(bool aEnable, const std::string& aBypass, const std::string& aServer);
// Writes "ProxyServer" and "ProxyEnable" under the current user's
// "Software\Microsoft\Windows\CurrentVersion\Internet Settings".
void WriteIEProxyRegistry(const std::string& aProxy);
// The "ProxyServer" text for a proxy: "http=P;ftp=P;https=P;".
std::string IEProxyServerText(const std::string& aProxy);

// ---- Opera ----------------------------------------------------------------------
// Writes the "Proxy" section of Opera's preferences file (opera6.ini, else
// operaprefs.ini, under the "AppData" folder); nothing when neither exists.
// With "SWITCH.OPERA" false every call clears the proxy.
void SetOperaProxy(const std::string& aProxy);
// The preferences file in use, or empty when Opera is taken as absent.
std::string GetOperaPrefsFile();

// ---- Firefox ----------------------------------------------------------------------
std::string GetFirefoxPath();
bool IsFirefoxInstalled();
bool IsFirefoxRunning();
// Whether the extension file ffextension.xpi is in the application folder;
// without it Firefox is never started for the extension's commands.
bool FirefoxExtensionPresent();
bool InstallFirefoxExtension();
// With "SWITCH.FF" false every call clears Firefox's proxy.
void SetFirefoxProxy(const std::string& aProxy);
void ClearFirefoxCookies();

// A profile named in a profiles.ini: its name and its folder.
struct TFirefoxProfile {
  std::string Name;
  std::string Path;
};
// The profiles listed in profilesFolder's profiles.ini (the platform's
// Firefox folder when empty); none when the file is missing.
std::vector<TFirefoxProfile> FirefoxProfiles(const std::string& aProfilesFolder = std::string());

// A Firefox profile that does not follow the desktop's proxy settings:
// its "network.proxy.type" (user.js over prefs.js; absent means 5, "use
// system proxy settings") is something else.
struct TFirefoxProfileProxy {
  std::string Name;  // the profile's name in profiles.ini
  std::string Path;  // its folder
  int ProxyType = 5;
};
// A profile's "network.proxy.type" (user.js over prefs.js; 5 when neither
// sets it). Lines marked with FirefoxWhileHidingMark, which the program sets
// itself while hiding, do not count: they are not the user's choice.
int FirefoxProxyType(const std::string& aProfileFolder);
extern const char* const FirefoxWhileHidingMark;  // "// set while hiding"
// The profiles listed in profilesFolder's profiles.ini (the platform's
// Firefox folder when empty) whose proxy type is not 5.
std::vector<TFirefoxProfileProxy> FirefoxProfilesNotFollowingDesktop(
    const std::string& aProfilesFolder = std::string());

// The argument texts Firefox is started with.
std::string FirefoxInstallArguments(const std::string& aAppPath);
std::string FirefoxSetProxyArguments(const std::string& aAddress, const std::string& aPort);
extern const char* const FirefoxClearProxyArguments;
extern const char* const FirefoxClearCookiesArguments;

// Splits "address:port" at its first ":" and checks both parts before they
// go into a command line or a preferences line: the address of letters,
// digits, "." and "-", the port of digits, neither empty. False otherwise.
bool SplitSafeProxy(const std::string& aProxy, std::string& aAddress, std::string& aPort);

// ---- cookies and cache --------------------------------------------------------------
// Deletes every cookie, URL-history and normal entry of the user's URL cache,
// writing trace lines to the debug log.
void ClearIECookies();

// ---- country gate ---------------------------------------------------------------------
// The message both checks show.
extern const char* const CountryUnavailableMessage;
// A plain modal message box with the application's title and one OK button.
// The application installs a real one; until then the text goes to the
// standard error stream.
using TPlainMessageBox = std::function<void(const std::string& aText)>;
void SetPlainMessageBox(TPlainMessageBox aBox);
void ShowPlainMessage(const std::string& aText);

// Whether a system language name is the one the application does not run
// under ("Chinese (Simplified, PRC)", any letter case).
bool IsUnavailableLanguageName(const std::string& aName);
// False, after the message has been shown, when the system language is that
// one: the process must then end without creating a window.
bool CountryCheck();
// Whether the real-IP information ("COUNTRY_SHORT" line) lies in the country
// the application does not run in ("CN", any letter case). The main window
// shows CountryUnavailableMessage and closes when this is true.
bool IsUnavailableLocalInfo(const TStringList& aInfo);
