// Shared set-up of the framework-window tests (update, about, banner,
// browser): a main window with an engine, the real language files, the Qt
// dispatcher for downloader events, and a fake "xdg-open" first in PATH
// that records every address the program opens in the default browser.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "EngineHostWindow.h"
#include "framework/qt/CLQtDispatcher.h"
#include "framework/CLSettings.h"
#include "framework/qt/windows/CLFrameworkWindows.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"

class FrameworkWindowsTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    CLFrameworkWindows() = CLDefaultFrameworkWindows();
    // The default browser of this sandbox: a script that writes down what
    // it was asked to open.
    sb().WriteFile("bin/xdg-open",
                   "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + sb().Path("opened.txt") + "\"\n");
    ::chmod(sb().Path("bin/xdg-open").c_str(), 0755);
    const char* path = std::getenv("PATH");
    FPath = std::make_unique<testsupport::EnvGuard>("PATH",
                                                    sb().Path("bin") + ":" + (path ? path : ""));
    for (const char* lang : {"English.lan", "Deutsch.lan"}) {
      std::string text;
      platform::ReadWholeFile(std::string(VG_SOURCE_DIR) + "/lang/" + lang, text);
      sb().WriteFile(std::string("app/lang/") + lang, text);
    }
  }
  void TearDown() override {
    FMain.reset();
    FDispatcher.reset();
    CLFrameworkWindows() = TCLFrameworkWindows{};
    ReleaseCLSettings();
    FPath.reset();
    SandboxTest::TearDown();
  }

  // The supplied settings; the lines go into "const.dat" (CR LF added).
  void WriteConst(const std::vector<std::string>& lines) {
    std::string text = "[setting]\r\nApp.Name=Veilgate\r\nApp.Ver=2.5.0.12\r\n";
    for (const auto& l : lines) text += l + "\r\n";
    sb().WriteFile("app/const.dat", text);
  }
  // The main window with its engine (skin, language "English" unless the
  // settings name another). Worker results reach it through the Qt loop.
  TfrmEngineHost* Main() {
    if (!FMain) {
      FDispatcher = std::make_unique<TCLQtDispatcher>();
      FMain.reset(CreateForm<TfrmEngineHost>());
    }
    return FMain.get();
  }
  TCLEngine* Engine() { return Main()->CLEngine; }

  // Addresses handed to the default browser so far, waiting up to
  // timeoutMs for at least count of them.
  std::vector<std::string> Opened(size_t count = 0, int timeoutMs = 5000) {
    std::vector<std::string> lines;
    ProcessUntil(
        [&] {
          lines.clear();
          std::string text;
          platform::ReadWholeFile(sb().Path("opened.txt"), text);
          size_t start = 0;
          for (size_t p; (p = text.find('\n', start)) != std::string::npos; start = p + 1)
            lines.push_back(text.substr(start, p - start));
          return lines.size() >= count;
        },
        count ? timeoutMs : 0);
    return lines;
  }

  // The user's settings file as it stands on disk.
  static std::string UserFile() {
    std::string text;
    platform::ReadWholeFile(GetCLSettings()->SettingFilePath(), text);
    return text;
  }

 private:
  std::unique_ptr<TCLQtDispatcher> FDispatcher;
  std::unique_ptr<TfrmEngineHost> FMain;
  std::unique_ptr<testsupport::EnvGuard> FPath;
};
