// Named single-instance mutex (CreateMutexW; on posix a lock file held with
// flock for the life of the process).
#pragma once

#include <string>

namespace platform {

enum class MutexResult { Created, AlreadyExists, Failed };

// Creates the named mutex and keeps it for the life of the process when this
// process is the first holder. AlreadyExists: another process holds it (this
// handle is closed again). Failed: the name could not be created at all.
MutexResult CreateNamedMutex(const std::string& name);
// Releases every mutex this process holds (tests only; the program keeps
// its mutex until it ends).
void ReleaseNamedMutexes();

}  // namespace platform
