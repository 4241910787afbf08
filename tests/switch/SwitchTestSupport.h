// Fixture of the browser-switch tests: the settings file of the sandbox and
// a desktop without GNOME proxy settings, plus the shared test support
// (child processes, waiting, the debug-log capture, environment changes).
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "support/ChildProcess.h"
#include "support/EnvGuard.h"
#include "support/LogCapture.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

namespace switchtest {

using testsupport::EnvGuard;
using testsupport::LogCapture;
using testsupport::WaitUntil;
#ifndef _WIN32
// Child processes: the tests of the desktop mechanisms (posix only).
using testsupport::ChildProcess;
using testsupport::EnvChanges;
using testsupport::FindProgram;
using testsupport::RunProgram;
using testsupport::RunResult;
#endif

// Fixture: a sandbox whose supplied settings file holds the given lines; the
// settings store is opened fresh for each test.
class SwitchTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ReleaseCLSettings();
    // GIO binds its settings store to the environment of its first use in
    // a process, and each test's sandbox is gone after the test. The switch
    // therefore meets a desktop without GNOME proxy settings in this
    // process; the tests of the GNOME settings run it in child processes
    // with the system's schemas (SystemDataDirs).
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    FSystemDataDirs = dirs ? dirs : "";
    FEnv.Set("XDG_DATA_DIRS", sb().Path("no-system-data").c_str());
    FEnv.Set("GSETTINGS_SCHEMA_DIR", nullptr);
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  // XDG_DATA_DIRS as the test started (empty: the system's default folders).
  const char* SystemDataDirs() const {
    return FSystemDataDirs.empty() ? nullptr : FSystemDataDirs.c_str();
  }
  // Writes "const.dat" with the settings (name=value lines) and reopens the
  // store so that it reads them.
  void Settings(const std::vector<std::string>& lines) {
    std::string text = "[setting]\n";
    for (const std::string& l : lines) text += l + "\n";
    sb().WriteFile("app/const.dat", text);
    ReleaseCLSettings();
  }

 private:
  EnvGuard FEnv;
  std::string FSystemDataDirs;
};

}  // namespace switchtest
