#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <process.h>
#endif

#include "platform/Files.h"
#include "platform/Mutex.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {
const char* const kVars[] = {
    "HOME",
    "XDG_CONFIG_HOME",
    "XDG_DATA_HOME",
    "XDG_CACHE_HOME",
    "XDG_STATE_HOME",
    "XDG_RUNTIME_DIR",
    "TMPDIR",
    "TEMP",
    "TMP",
    "GSETTINGS_BACKEND",
    "XDG_CURRENT_DESKTOP",
    "KDE_FULL_SESSION",
    "KDE_SESSION_VERSION",
    "DBUS_SESSION_BUS_ADDRESS",
#ifdef _WIN32
    "APPDATA",
    "LOCALAPPDATA",
    "ProgramData",
#endif
};

const char* const kShellFolders =
    "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}
void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}
}  // namespace

Sandbox::Sandbox() {
  std::string tmpl = (fs::temp_directory_path() / "vg-sandbox-XXXXXX").string();
#ifdef _WIN32
  static int counter = 0;
  FRoot = (fs::temp_directory_path() /
           ("vg-sandbox-" + std::to_string(_getpid()) + "-" + std::to_string(++counter)))
              .string();
  fs::create_directories(FRoot);
#else
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  if (!made) throw std::runtime_error("cannot create sandbox");
  FRoot = made;
#endif
  for (const char* v : kVars) {
    const char* old = std::getenv(v);
    FHadEnv[v] = old != nullptr;
    if (old) FSavedEnv[v] = old;
  }
  for (const char* d : {"home", "config", "data", "cache", "state", "run", "tmp", "app", "common"})
    fs::create_directories(fs::path(FRoot) / d);
  fs::permissions(fs::path(FRoot) / "run", fs::perms::owner_all, fs::perm_options::replace);
  SetEnv("HOME", Path("home"));
  SetEnv("XDG_CONFIG_HOME", Path("config"));
  SetEnv("XDG_DATA_HOME", Path("data"));
  SetEnv("XDG_CACHE_HOME", Path("cache"));
  SetEnv("XDG_STATE_HOME", Path("state"));
  SetEnv("XDG_RUNTIME_DIR", Path("run"));
  SetEnv("TMPDIR", Path("tmp"));
  SetEnv("TEMP", Path("tmp"));
  SetEnv("TMP", Path("tmp"));
#ifdef _WIN32
  SetEnv("APPDATA", AppData());
  SetEnv("LOCALAPPDATA", Path("data"));
  SetEnv("ProgramData", CommonAppData());
#endif
  // Desktop settings (the GNOME proxy among them) go to a key file under the
  // sandbox's config folder instead of the user's settings daemon.
  SetEnv("GSETTINGS_BACKEND", "keyfile");
  // No desktop session and no session bus of the user's: tests that need a
  // KDE session or a bus set up their own.
  for (const char* v : {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "KDE_SESSION_VERSION",
                        "DBUS_SESSION_BUS_ADDRESS"})
    UnsetEnv(v);
  FSavedModule = platform::ModuleFileName();
  platform::SetModuleFileNameOverride(AppExe());
  // The all-users folder is named by the registry, so it lands in the
  // sandbox too instead of the machine's shared folder.
#ifdef _WIN32
  // On Windows the registry roots of this process are private scratch keys
  // while the sandbox lives; the user's folder is named there as well.
  FRegistry = std::make_unique<RegistryJail>();
  platform::RegWriteString(platform::RegRoot::CurrentUser, kShellFolders, "AppData", AppData());
#endif
  platform::RegWriteString(platform::RegRoot::LocalMachine, kShellFolders, "Common AppData",
                           CommonAppData());
}

Sandbox::~Sandbox() {
  platform::ReleaseNamedMutexes();
#ifdef _WIN32
  FRegistry.reset();
#endif
  platform::SetModuleFileNameOverride(FSavedModule);
  for (const char* v : kVars) {
    if (FHadEnv[v])
      SetEnv(v, FSavedEnv[v]);
    else
      UnsetEnv(v);
  }
  std::error_code ec;
  fs::permissions(FRoot, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(FRoot, ec);
}

std::string Sandbox::Path(const std::string& rel) const {
  std::string path = FRoot + kSandboxSep + rel;
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

void Sandbox::WriteFile(const std::string& rel, const std::string& bytes) const {
  fs::path p = fs::path(FRoot) / rel;
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string Sandbox::ReadFile(const std::string& rel) const {
  std::ifstream f(fs::path(FRoot) / rel, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool Sandbox::Exists(const std::string& rel) const { return fs::exists(fs::path(FRoot) / rel); }
