// The user's private runtime folder for lock files and sockets of this
// backend: $XDG_RUNTIME_DIR when it is the user's own, else
// "<temporary folder>/veilgate-<uid>" created private to the user; when
// another user holds that name (a folder or a link of theirs), the user is
// told and "$XDG_CACHE_HOME/veilgate-run" (or "~/.cache/veilgate-run")
// serves instead. Internal to the posix backend.
#pragma once

#include <string>

namespace platform::posix {

// The folder, created when missing; empty when it cannot be used (a
// fallback folder that is not a real folder owned by this user and closed to
// others is refused, so nobody else can plant files in it).
std::string RuntimeFolder();

// A private subfolder of the runtime folder (owned by the user, mode 0700),
// created when missing; empty on failure or when it belongs to somebody else.
std::string RuntimeSubfolder(const std::string& name);

// The program's folder in the user's data folder: "$XDG_DATA_HOME/veilgate"
// (an absolute XDG_DATA_HOME), else "$HOME/.local/share/veilgate". Not
// created here.
std::string UserDataFolder();

}  // namespace platform::posix
