// A private world for one test: temporary HOME, XDG folders, runtime folder,
// temporary folder, registry files and a fake executable folder. No test
// touches the real user's files.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& Root() const { return FRoot; }
  // Absolute path of a path relative to the sandbox root.
  std::string Path(const std::string& rel) const;
  // The folder the "running executable" lives in (with trailing "/"), and
  // the executable's full name there.
  std::string AppDir() const { return FRoot + "/app/"; }
  std::string AppExe() const { return FRoot + "/app/veilgate"; }
  // The folders the shell-folder lookups give inside the sandbox.
  std::string AppData() const { return FRoot + "/config"; }
  std::string CommonAppData() const { return FRoot + "/common"; }

  void WriteFile(const std::string& rel, const std::string& bytes) const;
  std::string ReadFile(const std::string& rel) const;
  bool Exists(const std::string& rel) const;

 private:
  std::string FRoot;
  std::string FSavedModule;
  std::map<std::string, std::string> FSavedEnv;
  std::map<std::string, bool> FHadEnv;
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
