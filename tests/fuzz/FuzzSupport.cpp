#include "FuzzSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Files.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace fuzz {

namespace {

std::string gRoot;

void RemoveRoot() {
  if (gRoot.empty()) return;
  std::error_code ec;
  fs::remove_all(gRoot, ec);
}

}  // namespace

void EnterSandbox() {
  if (!gRoot.empty()) return;
  // Texts are compared byte for byte: the C locale keeps the ANSI code page
  // conversions out of the way (plain ASCII counts as UTF-8 there).
  std::setlocale(LC_ALL, "C");
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  unsetenv("LANG");
  unsetenv("LOCPATH");
  std::string tmpl = (fs::temp_directory_path() / "vg-fuzz-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  gRoot = tmpl;
  std::atexit(RemoveRoot);
  for (const char* d : {"home", "config", "data", "cache", "state", "run", "tmp", "app", "common"})
    fs::create_directories(fs::path(gRoot) / d);
  fs::permissions(fs::path(gRoot) / "run", fs::perms::owner_all, fs::perm_options::replace);
  setenv("HOME", (gRoot + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (gRoot + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (gRoot + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (gRoot + "/cache").c_str(), 1);
  setenv("XDG_STATE_HOME", (gRoot + "/state").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (gRoot + "/run").c_str(), 1);
  setenv("TMPDIR", (gRoot + "/tmp").c_str(), 1);
  setenv("GSETTINGS_BACKEND", "keyfile", 1);
  platform::SetModuleFileNameOverride(AppDir() + "veilgate");
  platform::RegWriteString(platform::RegRoot::LocalMachine,
                           "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "Common AppData", gRoot + "/common");
}

const std::string& SandboxRoot() { return gRoot; }

std::string AppDir() { return gRoot + "/app/"; }

void PutFile(const std::string& rel, const std::string& bytes) {
  const fs::path p = fs::path(gRoot) / rel;
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void RemoveFile(const std::string& rel) {
  std::error_code ec;
  fs::remove(fs::path(gRoot) / rel, ec);
}

void Fail(const char* file, int line, const char* cond, const std::string& detail) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, cond, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string NormaliseBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += "\r\n";
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (s[i] == '\n') {
      out += "\r\n";
    } else {
      out += s[i];
    }
  }
  return out;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace fuzz
