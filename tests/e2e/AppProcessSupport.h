// Copies of the real program in the sandbox, started as child processes:
// an installation is a folder with the executable, its supplied settings
// and (on request) the data files the build placed beside the executable.
// Used by the fault and load tests of the whole program.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Instance.h"
#include "support/Sandbox.h"

#ifndef VG_APP_EXE
#error "VG_APP_EXE must name the program"
#endif

extern char** environ;

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
    for (pid_t pid : FChildren) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    FChildren.clear();
    SandboxTest::TearDown();
  }

  // A copy of the program in its own folder with its own supplied settings.
  // withData copies the language, skin and res/ files of the build too (the
  // page engine module is linked, not copied).
  Installation Install(const std::string& name, const std::string& constDat, bool withData) {
    Installation inst;
    inst.dir = sb().Path(name) + "/";
    fs::create_directories(inst.dir);
    inst.exe = inst.dir + "veilgate";
    fs::copy_file(VG_APP_EXE, inst.exe, fs::copy_options::overwrite_existing);
    sb().WriteFile(name + "/const.dat", "[setting]\n" + constDat);
    inst.log = sb().Path(name + ".log");
    if (withData) {
      // Whatever of the build's data can be copied (a build running at the
      // same time may be rewriting some of it).
      const fs::path built = fs::path(VG_APP_EXE).parent_path();
      std::error_code ec;
      for (const char* folder : {"lang", "skins", "res"})
        fs::copy(built / folder, inst.dir + folder,
                 fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
      for (const auto& e : fs::directory_iterator(built, ec))
        if (e.path().extension() == ".so")
          fs::create_symlink(e.path(), inst.dir + e.path().filename().string(), ec);
    }
    return inst;
  }

  // Starts the program with the sandbox's environment, its debug log going
  // to inst.log and its error output to errFile (or nowhere).
  pid_t Start(const Installation& inst, const std::vector<std::string>& args,
              const std::string& errFile = "") {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("VEILGATE_DEBUG_LOG=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
      env.push_back(v);
    }
    env.push_back("VEILGATE_DEBUG_LOG=" + inst.log);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> argv{const_cast<char*>(inst.exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = errFile.empty() ? open("/dev/null", O_WRONLY)
                                      : open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    FChildren.push_back(pid);
    return pid;
  }

  // Waits for the process to end: its exit code, 128 + signal, or -1 on
  // timeout (the process is then left running for TearDown).
  int WaitExit(pid_t pid, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(FChildren, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() >= end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // A main window of the class that answers "CL GetAppID" with appId and
  // has finished starting ("CL IfBusy" answers 0).
  bool WaitReady(int32_t appId, int timeoutMs = 20000) {
    const uint32_t getId = platform::RegisterMessage("CL GetAppID");
    const uint32_t ifBusy = platform::RegisterMessage("CL IfBusy");
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      for (const auto& w : platform::FindInstanceWindows("TfrmMain"))
        if (platform::SendInstanceMessage(w, getId, 0, 0, 1000) == appId &&
            platform::SendInstanceMessage(w, ifBusy, 0, 0, 1000) == 0)
          return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  static std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

  bool WaitLog(const Installation& inst, const std::string& text, int timeoutMs = 10000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (ReadText(inst.log).find(text) != std::string::npos) return true;
      if (Clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  }

  // Ends every running process of the installation through "/s".
  int CloseWith(const Installation& inst) { return WaitExit(Start(inst, {"/s"}), 15000); }

 private:
  std::vector<pid_t> FChildren;
};

}  // namespace apptest
