// Parts of the posix backend that pull in large libraries (the HTTP
// transport with libcurl and its TLS stack, the GNOME settings and session
// bus client with GIO) are built as modules of their own and loaded on first
// use, so that a start that does not need them yet never maps those
// libraries. Internal to the posix backend.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

// The folders a module is looked for in, in order: the folder of the running
// executable (the installed program keeps its modules beside itself) and the
// folder above it (test programs of the build tree run one folder below the
// modules). Taken from /proc/self/exe, never from the environment.
std::vector<std::string> ModuleFolders();

// The entry point "entry" of the module "lib<name>.so", loaded from the
// first of the folders that holds it; the module stays loaded for the life
// of the process. The first call loads it, from whichever thread comes
// first; later calls return the same answer without looking again. Null
// when no folder holds a loadable module with that entry point; error then
// names the module, every file tried and why each one failed.
void* ModuleEntry(const std::string& name, const char* entry, std::string* error,
                  const std::vector<std::string>& folders = ModuleFolders());

// Whether the module has been loaded into this process.
bool ModuleLoaded(const std::string& name);

}  // namespace platform::posix
