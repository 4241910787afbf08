// Shared pieces of the settings store tests: a stand-in for the engine's two
// settings lists, the fixture, and file helpers.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "framework/CLIniFile.h"
#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "platform/Files.h"
#include "platform/Locale.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

// The engine's override and default lists as the store sees them.
class FakeSettingsEngine : public ICLSettingsLayers {
 public:
  FakeSettingsEngine() { RegisterSettingsEngine(this); }
  ~FakeSettingsEngine() override { UnregisterSettingsEngine(this); }

  std::map<std::string, std::string> Override, Default;  // names in lower case

  bool FindOverride(const std::string& name, std::string& value) const override {
    return Lookup(Override, name, value);
  }
  bool FindDefault(const std::string& name, std::string& value) const override {
    return Lookup(Default, name, value);
  }

 private:
  static bool Lookup(const std::map<std::string, std::string>& list, const std::string& name,
                     std::string& value) {
    std::string key = name;
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    auto it = list.find(key);
    if (it == list.end()) return false;
    value = it->second;
    return true;
  }
};

class SettingsStoreTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    platform::SetDecimalSeparatorOverride('\0');
    CLDebugLog::SetActive(false);
    SandboxTest::TearDown();
  }

  // The configuration word the store derives from an executable path.
  static std::string WordOf(const std::string& exe) {
    std::string w = exe;
    for (char& c : w)
      if (c == '/' || c == '\\' || c == ':') c = '_';
    return w;
  }
  // The data folders for the sandbox's executable (with trailing separator).
  std::string AllUsersFolder() {
    return sb().CommonAppData() + kSandboxSep + WordOf(sb().AppExe()) + kSandboxSep;
  }
  std::string CurrentUserFolder() {
    return sb().AppData() + kSandboxSep + WordOf(sb().AppExe()) + kSandboxSep;
  }

  // Whether two paths name the same file or folder. Trailing separators are
  // dropped first: the Windows C runtime cannot stat "folder\".
  static bool SamePath(std::string a, std::string b) {
    while (a.size() > 1 && (a.back() == '/' || a.back() == '\\')) a.pop_back();
    while (b.size() > 1 && (b.back() == '/' || b.back() == '\\')) b.pop_back();
    return std::filesystem::equivalent(a, b);
  }

  static std::string Slurp(const std::string& path) { return testsupport::ReadText(path); }
  static void Put(const std::string& path, const std::string& bytes) {
    platform::ForceDirectories(path.substr(0, path.find_last_of("/\\")));
    ASSERT_TRUE(platform::WriteWholeFile(path, bytes)) << path;
  }
  // Value of [section] name in a file on disk, "<absent>" when missing.
  static std::string OnDisk(const std::string& path, const std::string& section,
                            const std::string& name) {
    TCLMemIniFile ini(path);
    return ini.ReadString(section, name, "<absent>");
  }
};
