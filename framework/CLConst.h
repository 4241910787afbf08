// Names shared by the framework's processes and windows.
#pragma once

namespace CLConst {

// Registered messages between instances of one installation.
inline constexpr const char* WM_CL_GET_APPID = "CL GetAppID";
inline constexpr const char* WM_CL_CLOSE_APP = "CL CloseApp";
inline constexpr const char* WM_CL_INITPOST = "CL InitPost";
inline constexpr const char* WM_CL_CMDPARAM = "CL CmdParam";
inline constexpr const char* WM_CL_IF_BUSY = "CL IfBusy";
inline constexpr const char* WM_CL_BRING_TO_FRONT = "CL BringtoFront";
// Where a process cannot raise another process's window itself (X11 and
// Wayland give focus only to the window's own client), the foreground
// forcing asks the window to raise itself with this message; it answers 1
// when the window is active afterwards.
inline constexpr const char* WM_CL_FORCE_FOREGROUND = "CL ForceForeground";
// The activation token of a second start (Wayland's XDG_ACTIVATION_TOKEN,
// handed to the second process by whatever launched it): the compositor
// lets the running window take the focus only with it. A second start asks
// with this message whether the window takes a token (an older instance
// answers 0, as to any message it does not know) and only then sends it as
// copy-data marked with ActivationTokenData, which an older instance would
// have taken for a command parameter.
inline constexpr const char* WM_CL_ACTIVATION_TOKEN = "CL ActivationToken";
inline constexpr unsigned long long ActivationTokenData = 0x4E4B5441;  // "ATKN"

// Prefix of the single-instance mutex name: the session's own namespace
// (Windows), so that another user cannot create the name first and keep the
// program from starting.
inline constexpr const char* MutexPrefix = "Local\\";

// Debug log tags.
inline constexpr const char* TagSettings = "CLSettings";
inline constexpr const char* TagMain = "CLMain";

}  // namespace CLConst
