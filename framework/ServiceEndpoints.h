// Every call the application makes to the maker's web service, in one place.
// The service is known only through settings values (which the service
// refreshes itself through the update answer) and through the page
// addresses of GetURL ("URL." + page name). Callers take addresses from
// here and never assemble them by hand.
//
// | setting           | caller                | request                               | what the caller relies on |
// |-------------------|-----------------------|---------------------------------------|---------------------------|
// | URL.GetInfo       | local information     | direct GET of LocalInfoURL()          | lines IP=, COUNTRY_SHORT=, COUNTRY_LONG=, CITY= (any order among lines 1-5), the bare 6th line the latitude, the bare 7th the longitude; failure or an empty body: no answer |
// | SUPER_TOUCH       | touch of a super proxy| direct GET of TouchURL(ip)            | nothing; the answer is ignored |
// | URL.FlagPath      | main window, country dialog | file download of FlagURL(code)  | a PNG picture of the country's flag |
// | URL.CheckIP       | main window, popup    | opened in the user's browser          | a page that shows the visitor's IP |
// | URL.MapMask       | country dialog        | put into the local map page template  | a value the map page uses (tile address mask) |
// | URL.Update        | update check          | text download of UpdateURL()          | the update answer (magicword, Result, info, page, Banner.*, __MODIFY__.* lines) |
// | URL.support       | about window          | opened in the user's browser          | the support page |
// | URL.Redirect      | GetURL                | address of pages without their own    | serves every page by its ACTION parameter |
//
// "NORMAL_IPS", "SUPER_IPS" and "SUPER_TOUCH" are not fetched by a call of
// their own: they arrive as "__MODIFY__." lines of the update answer.
// "URL.LocalFlagPath" names a folder of flag pictures on the user's disk, not
// a service address. The local-information and touch requests go out directly
// (platform::HttpGetDirect); downloads follow the system proxy.
//
// The functions read the settings store and so run on the user-interface
// thread.
#pragma once

#include <string>

namespace ServiceEndpoints {

// Setting names.
inline constexpr const char* kGetInfo = "URL.GetInfo";
inline constexpr const char* kSuperTouch = "SUPER_TOUCH";
inline constexpr const char* kFlagPath = "URL.FlagPath";
inline constexpr const char* kLocalFlagPath = "URL.LocalFlagPath";
inline constexpr const char* kCheckIP = "URL.CheckIP";
inline constexpr const char* kMapMask = "URL.MapMask";
inline constexpr const char* kRedirect = "URL.Redirect";
inline constexpr const char* kMagicWord = "App.MagicWord";
inline constexpr const char* kNormalIPs = "NORMAL_IPS";
inline constexpr const char* kSuperIPs = "SUPER_IPS";
// Page names for GetURL.
inline constexpr const char* kUpdatePage = "Update";
inline constexpr const char* kSupportPage = "support";
inline constexpr const char* kHomePage = "home";
inline constexpr const char* kHelpPage = "help";

// "URL.GetInfo" + "?MagicWord=" + "App.MagicWord", joined as they stand.
std::string LocalInfoURL();
// "SUPER_TOUCH" (read afresh) with every "{1}" replaced by the proxy's IP;
// empty when the setting is empty.
std::string TouchURL(const std::string& proxyIP);
// "URL.FlagPath" + code + ".PNG"; the caller decides the code's letter case.
std::string FlagURL(const std::string& countryCode);
// The check-IP page and the map mask, as set.
std::string CheckIPURL();
std::string MapMask();
// The update answer's address with the standard parameters (GetURL).
std::string UpdateURL();
// The support page's address with the standard parameters (GetURL).
std::string SupportURL();

}  // namespace ServiceEndpoints
