// A private world for one test: temporary HOME, XDG folders, runtime folder,
// temporary folder, registry files and a fake executable folder. No test
// touches the real user's files.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "platform/NoCopy.h"
#include "support/SandboxWin32.h"
#include <string>

// The native path separator of the sandbox's paths.
#ifdef _WIN32
inline constexpr const char* kSandboxSep = "\\";
inline constexpr const char* kSandboxExe = "veilgate.exe";
#else
inline constexpr const char* kSandboxSep = "/";
inline constexpr const char* kSandboxExe = "veilgate";
#endif

class Sandbox : private TNoCopy {
 public:
  Sandbox();
  ~Sandbox();

  const std::string& Root() const { return FRoot; }
  // Absolute path of a path relative to the sandbox root ("/" in rel is
  // turned into the native separator).
  std::string Path(const std::string& rel) const;
  // The folder the "running executable" lives in (with trailing "/"), and
  // the executable's full name there.
  std::string AppDir() const { return Path("app/"); }
  std::string AppExe() const { return Path("app/") + kSandboxExe; }
  // The folders the shell-folder lookups give inside the sandbox.
  std::string AppData() const { return Path("config"); }
  std::string CommonAppData() const { return Path("common"); }

  void WriteFile(const std::string& rel, const std::string& bytes) const;
  std::string ReadFile(const std::string& rel) const;
  bool Exists(const std::string& rel) const;

 private:
  std::string FRoot;
  std::string FSavedModule;
  std::map<std::string, std::string> FSavedEnv;
  std::map<std::string, bool> FHadEnv;
#ifdef _WIN32
  std::unique_ptr<RegistryJail> FRegistry;

 public:
  // The sandbox's private registry roots (Windows only).
  const RegistryJail& Registry() const { return *FRegistry; }
#endif
};

// Fixture: every test gets a fresh sandbox.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override { FSandbox = std::make_unique<Sandbox>(); }
  void TearDown() override { FSandbox.reset(); }
  Sandbox& sb() { return *FSandbox; }

 private:
  std::unique_ptr<Sandbox> FSandbox;
};
