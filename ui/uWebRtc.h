// WebRTC and the hide as the main window shows it. The main window calls
// these next to the proxy switches; the profiles themselves are the
// switch layer's (switch/WebRtcGuard.h).
#pragma once

#include <string>

// At hide, after the proxy switches, with the proxy ("address:port"): keeps
// WebRTC to the proxy in the browsers' profiles and shows on the popup's
// second line whether WebRTC is covered. Once a run, in a box the user can
// silence, it names the browsers to restart and, where the desktop switch
// reached only KDE's settings (Firefox reads GNOME's store, which this
// session does not keep), the Firefox profiles that cannot follow the hide,
// offering to set the proxy in their own preferences for their next start.
void KeepWebRtcAndTell(const std::string& aProxy);

// At stop, exit and start: puts the user's own values back in the
// browsers' profiles and clears the popup's line.
void PutBackWebRtcAndClear();
