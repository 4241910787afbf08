// posix loader of the backend's modules (see platform/posix/Modules.h).
#include "platform/posix/Modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace platform::posix {

namespace {

struct TModuleState {
  void* handle = nullptr;
  std::map<std::string, void*> entries;
  std::string error;  // why the module could not be loaded
};

// Never destroyed: a worker thread may still ask for an entry point while
// the process ends (the program does not wait for a request at exit).
std::mutex& ModulesLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::map<std::string, TModuleState>& Modules() {
  static auto* modules = new std::map<std::string, TModuleState>;
  return *modules;
}

// Looks for lib<name>.so in the folders and loads the first one found.
TModuleState LoadModule(const std::string& name, const std::vector<std::string>& folders) {
  TModuleState state;
  const std::string file = "lib" + name + ".so";
  std::string tried;
  for (const std::string& folder : folders) {
    const std::string path = (folder == "/" ? folder : folder + "/") + file;
    if (::access(path.c_str(), F_OK) != 0) {
      tried += (tried.empty() ? "" : "; ") + path + ": not there";
      continue;
    }
    // RTLD_LOCAL: the module's symbols serve only the entry points asked
    // for here, never another library's look-ups.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      tried += (tried.empty() ? "" : "; ") + std::string(why ? why : path + ": cannot load");
      continue;
    }
    state.handle = handle;
    break;
  }
  if (!state.handle)
    state.error = "the module " + file + " could not be loaded (" +
                  (tried.empty() ? std::string("no folder to look in") : tried) + ")";
  return state;
}

std::string ExecutablePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> ModuleFolders() {
  std::vector<std::string> folders;
  const std::string dir = ParentFolder(ExecutablePath());
  if (dir.empty()) return folders;
  folders.push_back(dir);
  if (dir != "/") folders.push_back(ParentFolder(dir));
  return folders;
}

void* ModuleEntry(const std::string& name, const char* entry, std::string* error,
                  const std::vector<std::string>& folders) {
  std::unique_lock<std::mutex> hold(ModulesLock());
  auto found = Modules().find(name);
  if (found == Modules().end()) {
    // The module's own initialisers run while it loads and may take locks
    // of their libraries: the loading happens outside this lock. Two
    // threads loading at once both succeed; the first one's record stays.
    hold.unlock();
    TModuleState loaded = LoadModule(name, folders);
    hold.lock();
    found = Modules().emplace(name, std::move(loaded)).first;
  }
  TModuleState& state = found->second;
  if (!state.handle) {
    if (error) *error = state.error;
    return nullptr;
  }
  auto known = state.entries.find(entry);
  if (known == state.entries.end()) {
    ::dlerror();
    void* symbol = ::dlsym(state.handle, entry);
    known = state.entries.emplace(entry, symbol).first;
  }
  if (!known->second && error)
    *error = "the module lib" + name + ".so has no entry point " + entry +
             " (a module of another version of the program?)";
  return known->second;
}

bool ModuleLoaded(const std::string& name) {
  std::lock_guard<std::mutex> hold(ModulesLock());
  auto found = Modules().find(name);
  return found != Modules().end() && found->second.handle;
}

}  // namespace platform::posix
