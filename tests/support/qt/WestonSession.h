// A headless Weston compositor for the tests of a Wayland session: one per
// test program, started on first use in a runtime folder of its own inside
// the program's sandbox, ended when the program ends. The Qt application of
// the program then connects to it (QT_QPA_PLATFORM=wayland), and child
// processes reach it through the socket's full path in WAYLAND_DISPLAY.
#pragma once

#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <QLibraryInfo>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/Wait.h"

namespace testsupport {

class WestonSession {
 public:
  // The program's compositor, started by the first call. Call before the
  // application object exists: this sets the platform it connects to (the
  // offscreen platform when there is no compositor, so that the program's
  // tests can still skip cleanly).
  static WestonSession& Get() {
    static WestonSession session;
    return session;
  }

  bool Running() { return FChild && FChild->Running(); }
  // Why there is no compositor (empty while there is one).
  const std::string& Reason() const { return FReason; }
  // WAYLAND_DISPLAY for other processes: the socket's full path.
  const std::string& Display() const { return FDisplay; }
  const std::string& RuntimeDir() const { return FRuntimeDir; }
  const std::string& LogFile() const { return FLog; }
  // Weston's own program for taking a picture of the whole output (allowed
  // because the compositor runs with --debug); empty when it is missing.
  static std::string Screenshooter() { return Program("weston-screenshooter"); }

  WestonSession(const WestonSession&) = delete;
  WestonSession& operator=(const WestonSession&) = delete;
  // The compositor outlives this object: the application object, which is
  // never destroyed, keeps its connection until the process has gone, and
  // Qt ends a process whose compositor goes first. A watcher ends weston
  // once this process has ended.
  ~WestonSession() { (void)FChild.release(); }

 private:
  WestonSession() {
    const std::string weston = Program("weston");
    if (weston.empty()) {
      FReason = "weston is not installed (Debian package weston)";
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      return;
    }
    if (!PluginInstalled()) {
      FReason = "Qt's Wayland platform plugin is not installed (Debian package qt6-wayland)";
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      return;
    }
    const char* base = std::getenv("XDG_RUNTIME_DIR");
    std::string root = base && *base ? base : std::filesystem::temp_directory_path().string();
    FRuntimeDir = root + "/weston-" + std::to_string(::getpid());
    std::filesystem::create_directories(FRuntimeDir);
    ::chmod(FRuntimeDir.c_str(), 0700);
    FLog = FRuntimeDir + "/weston.log";
    const std::string socket = "vg-wayland";
    FChild = std::make_unique<ChildProcess>();
    const std::string watcher =
        "\"$0\" \"$@\" & w=$!; trap 'kill $w 2>/dev/null; exit 0' TERM; "
        "while kill -0 " +
        std::to_string(::getpid()) +
        " 2>/dev/null && kill -0 $w 2>/dev/null; do sleep 0.2; done; kill $w 2>/dev/null; wait $w";
    const bool started =
        FChild->Start({"/bin/sh", "-c", watcher, weston, "--backend=headless-backend.so",
                       "--use-pixman", "--width=1280", "--height=800", "--idle-time=0",
                       "--no-config", "--debug", "--socket=" + socket},
                      FLog,
                      {{"XDG_RUNTIME_DIR", FRuntimeDir.c_str()}, {"WAYLAND_DISPLAY", nullptr}});
    FDisplay = FRuntimeDir + "/" + socket;
    const bool ready =
        started &&
        WaitUntil([&] { return std::filesystem::exists(FDisplay) || !Running(); }, 20000, 20) &&
        Running();
    if (!ready) {
      FReason = "weston did not start; its log: " + ReadText(FLog);
      if (FChild) FChild->Stop();
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      return;
    }
    ::setenv("WAYLAND_DISPLAY", FDisplay.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    // Client-side frames would cover the skinned caption bar's commands;
    // the frame plugin is Qt's own, the same as on a desktop.
    ::unsetenv("QT_WAYLAND_DISABLE_WINDOWDECORATION");
  }

  static std::string Program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      const std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
    return std::string();
  }

  static bool PluginInstalled() {
    const std::string dir = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString();
    return std::filesystem::exists(dir + "/platforms/libqwayland-generic.so");
  }

  std::unique_ptr<ChildProcess> FChild;
  std::string FReason, FDisplay, FRuntimeDir, FLog;
};

}  // namespace testsupport

#endif
