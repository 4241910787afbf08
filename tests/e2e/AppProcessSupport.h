// Copies of the real program in the sandbox, started as child processes:
// an installation is a folder with the executable, its supplied settings
// and (on request) the data files the build placed beside the executable.
// Used by the fault and load tests of the whole program.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Instance.h"
#include "support/ChildProcess.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

#ifndef VG_APP_EXE
#error "VG_APP_EXE must name the program"
#endif
#ifndef VG_SOURCE_DIR
#error "VG_SOURCE_DIR must name the source tree"
#endif

namespace apptest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Installation {
  std::string dir;  // with trailing "/"
  std::string exe;
  std::string log;  // the debug log of every process of this installation
};

class AppProcessTest : public SandboxTest {
 protected:
  void TearDown() override {
    for (auto& [pid, child] : FChildren) child->Kill();
    FChildren.clear();
    SandboxTest::TearDown();
  }

  // A copy of the program in its own folder with its own supplied settings
  // and the popup's movie (without it the popup reports a file error in a
  // box that waits for the user). withData copies the language, skin and
  // res/ files of the build too (the modules the program loads on first
  // use are linked, not copied).
  Installation Install(const std::string& name, const std::string& constDat,
                       bool withData = false) {
    Installation inst;
    inst.dir = sb().Path(name) + "/";
    fs::create_directories(inst.dir + "res");
    inst.exe = inst.dir + "veilgate";
    fs::copy_file(VG_APP_EXE, inst.exe, fs::copy_options::overwrite_existing);
    sb().WriteFile(name + "/const.dat", "[setting]\n" + constDat);
    inst.log = sb().Path(name + ".log");
    std::error_code ec;
    fs::copy_file(VG_SOURCE_DIR "/res/veilip.dat", inst.dir + "res/veilip.dat", ec);
    if (withData) {
      // Whatever of the build's data can be copied (a build running at the
      // same time may be rewriting some of it).
      const fs::path built = fs::path(VG_APP_EXE).parent_path();
      for (const char* folder : {"lang", "skins", "res"})
        fs::copy(built / folder, inst.dir + folder,
                 fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
      for (const auto& e : fs::directory_iterator(built, ec))
        if (e.path().extension() == ".so")
          fs::create_symlink(e.path(), inst.dir + e.path().filename().string(), ec);
    }
    return inst;
  }

  // Starts the program offscreen with the sandbox's environment (changed by
  // env), its debug log going to inst.log and its output to outFile (or
  // nowhere).
  pid_t Start(const Installation& inst, const std::vector<std::string>& args,
              const std::string& outFile = "", testsupport::EnvChanges env = {}) {
    env.insert(env.begin(),
               {{"VEILGATE_DEBUG_LOG", inst.log.c_str()}, {"QT_QPA_PLATFORM", "offscreen"}});
    std::vector<std::string> argv{inst.exe};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<testsupport::ChildProcess>();
    if (!child->Start(argv, outFile, env)) return -1;
    const pid_t pid = child->Pid();
    FChildren[pid] = std::move(child);
    return pid;
  }

  // Waits for the process to end: its exit code, 128 + signal, or -1 on
  // timeout (the process is then left running for TearDown).
  int WaitExit(pid_t pid, int timeoutMs) {
    auto it = FChildren.find(pid);
    if (it == FChildren.end()) return -1;
    const int code = it->second->Wait(timeoutMs);
    if (code != -1) FChildren.erase(it);
    return code;
  }

  // A main window of the class that answers "CL GetAppID" with appId and
  // has finished starting ("CL IfBusy" answers 0).
  bool WaitReady(int32_t appId, int timeoutMs = 20000) {
    const uint32_t getId = platform::RegisterMessage("CL GetAppID");
    const uint32_t ifBusy = platform::RegisterMessage("CL IfBusy");
    return testsupport::WaitUntil(
        [&] {
          for (const auto& w : platform::FindInstanceWindows("TfrmMain"))
            if (platform::SendInstanceMessage(w, getId, 0, 0, 1000) == appId &&
                platform::SendInstanceMessage(w, ifBusy, 0, 0, 1000) == 0)
              return true;
          return false;
        },
        timeoutMs, 50);
  }

  static std::string ReadText(const std::string& path) { return testsupport::ReadText(path); }
  static std::string ReadLog(const Installation& inst) { return ReadText(inst.log); }

  bool WaitLog(const Installation& inst, const std::string& text, int timeoutMs = 10000) {
    return testsupport::WaitForText(inst.log, text, timeoutMs);
  }

  // Ends every running process of the installation through "/s".
  int CloseWith(const Installation& inst) { return WaitExit(Start(inst, {"/s"}), 15000); }

 private:
  std::map<pid_t, std::unique_ptr<testsupport::ChildProcess>> FChildren;
};

}  // namespace apptest
