// Whether a browser is running for the current user.
#pragma once

#include <string>

namespace platform {

// Whether Firefox is running. Windows: a top-level window of the class
// "MozillaUIWindowClass" exists (exePath is not needed). posix: a process of
// this user runs the executable exePath, directly or as a script given to
// an interpreter. False for an empty or unknown path.
bool FirefoxRunning(const std::string& exePath);

}  // namespace platform
