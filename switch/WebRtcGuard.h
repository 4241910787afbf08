// WebRTC kept to the proxy while hiding. A web page can learn the user's
// real address through WebRTC, whose UDP traffic does not follow a web
// proxy. While hiding, every browser profile the program knows gets the
// preference that keeps WebRTC from sending UDP around the proxy; at stop,
// at exit and at the next start after a run that was killed, each profile
// gets back exactly what the user had.
//
// - The Chromium family (Chromium, Google Chrome, Brave, Vivaldi, Microsoft
//   Edge, Opera): "webrtc.ip_handling_policy" = "disable_non_proxied_udp" in
//   the default profile's "Preferences" (JSON). A running browser rewrites
//   that file from memory, so a profile in use is not written at the hide
//   and is put back only once the browser has ended.
// - Firefox, every profile of profiles.ini: a user_pref line of
//   "media.peerconnection.ice.proxy_only_if_behind_proxy" appended to
//   "user.js". Firefox copies what user.js set into "prefs.js" when it ends,
//   so the put-back also takes the line out of prefs.js again.
//
// What the user had is kept in a private file in the user's data folder,
// written atomically and flushed to disk before any browser file changes:
// per Chromium profile the change made to the file's text (where, the bytes
// taken out, the bytes put in) and a fingerprint of the file written; per
// Firefox profile user.js as it was and as written. A file that still holds
// what was written gets its original bytes back; a file a browser rewrote
// meanwhile gets only the preference back, everything else stays as the
// browser left it. A profile that has the preference already is not
// written. A preference someone else changed while hiding is theirs and stays.
// A Preferences file that cannot be parsed is never touched.
#pragma once

#include <string>
#include <vector>

// What a hide did to the browsers' profiles.
struct TWebRtcReport {
  // Browsers whose profile now keeps WebRTC to the proxy ("Chromium",
  // "Firefox (default-esr)"), effective when they next start.
  std::vector<std::string> Covered;
  // Browsers running during the hide: they keep their old setting until
  // they are started again (a Chromium-family profile in use is written at
  // a later hide, once the browser has ended).
  std::vector<std::string> Restart;
  // Profiles left alone: unreadable preferences, a file that cannot be
  // written. The debug log says why.
  std::vector<std::string> Failed;
  // Whether every profile found keeps WebRTC to the proxy now.
  bool AllCovered() const { return Restart.empty() && Failed.empty(); }
};

// At hide. With the setting "SWITCH.WEBRTC" off no profile is touched (and
// whatever an earlier hide set is put back). aFirefoxProfiles names the
// folder of profiles.ini (the platform's when empty).
TWebRtcReport KeepWebRtcToProxy(const std::string& aFirefoxProfiles = std::string());

// Where Firefox cannot follow the desktop's proxy (its settings store is
// out of reach, as in a KDE session without a shared GSettings store): sets
// aProxy ("address:port") in the user.js of every profile that follows the
// system proxy, for Firefox's next start. Kept and put back with the WebRTC
// setting. A proxy text other than a plain address and port is refused.
TWebRtcReport KeepFirefoxOnProxy(const std::string& aProxy,
                                 const std::string& aFirefoxProfiles = std::string());

// At stop, exit and start. Puts back every kept profile whose browser is not
// running; those still running stay in the copy for the next call. False
// when nothing was kept or something remains.
bool PutBackWebRtc();

// The file that keeps the user's own values while hiding.
std::string SavedWebRtcFile();

// The preferences set.
extern const char* const ChromiumWebRtcPolicyKey;    // "ip_handling_policy" under "webrtc"
extern const char* const ChromiumWebRtcPolicyValue;  // "disable_non_proxied_udp"
extern const char* const
    FirefoxWebRtcPref;  // "media.peerconnection.ice.proxy_only_if_behind_proxy"
