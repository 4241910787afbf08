// The single-instance protocol between two real Windows processes: the
// mutex, instance windows of class "TfrmMain" found with FindWindowExW and
// asked with registered messages, WM_COPYDATA with UTF-16 text, closing;
// and starting programs with CreateProcessW.
#include <windows.h>

#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "platform/Instance.h"
#include "platform/Mutex.h"
#include "switch/uVGUtils.h"
#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "net/CLUtils.h"

namespace {

using platform::InstanceWindow;

class InstanceWinTest : public SandboxTest {
 protected:
  // Starts the helper instance; its log file tells when it is up.
  std::string Start(const std::string& cls, int appId, const std::string& mutex,
                    const std::string& log, const std::string& mode = "") {
    const std::string helper = wintest::NativePath(VG_INSTANCE_HELPER);
    EXPECT_TRUE(platform::StartProcess("\"" + helper + "\" " + cls + " " + std::to_string(appId) +
                                           " \"" + mutex + "\" \"" + sb().Path(log) + "\" " + mode,
                                       "", false, false, 0));
    const std::string path = sb().Path(log);
    wintest::WaitUntil([&] {
      std::string t = wintest::ReadText(path);
      return t.find("ready") != std::string::npos || t.find("mutex exists") != std::string::npos;
    });
    return wintest::ReadText(path);
  }
  static int64_t Send(const InstanceWindow& w, const char* name, int timeoutMs = 5000) {
    return platform::SendInstanceMessage(w, platform::RegisterMessage(name), 0, 0, timeoutMs);
  }
  // The window of the class that answers "CL GetAppID" with appId.
  static bool Find(const std::string& cls, int appId, InstanceWindow& found) {
    for (const InstanceWindow& w : platform::FindInstanceWindows(cls))
      if (Send(w, "CL GetAppID") == appId) {
        found = w;
        return true;
      }
    return false;
  }
};

std::string Utf16Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(InstanceWinTest, SecondInstanceHandsOverToTheFirst) {
  const std::string mutex = "Global\\{VG-WIN32-TEST-" + std::to_string(GetCurrentProcessId()) + "}";
  ASSERT_NE(Start("TfrmMain", 42, mutex, "first.log").find("ready"), std::string::npos);
  // Another installation's window of the same class, with its own mutex.
  ASSERT_NE(Start("TfrmMain", 7, mutex + "-other", "other.log").find("ready"), std::string::npos);

  // The mutex is held by the first process: a second start sees it.
  EXPECT_EQ(platform::CreateNamedMutex(mutex), platform::MutexResult::AlreadyExists);
  EXPECT_FALSE(CheckSingleInstance(mutex));
  EXPECT_NE(Start("TfrmMain", 42, mutex, "late.log").find("mutex exists"), std::string::npos);

  EXPECT_EQ(platform::FindInstanceWindows("TfrmMain").size(), 2u);
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmOther").empty());
  InstanceWindow w;
  ASSERT_TRUE(Find("TfrmMain", 42, w));
  InstanceWindow other;
  ASSERT_TRUE(Find("TfrmMain", 7, other));
  EXPECT_NE(w.id, other.id);

  // Not busy, no tray icon: the first instance is forced to the foreground.
  EXPECT_EQ(Send(w, "CL IfBusy"), 0);
  EXPECT_EQ(Send(w, "CL BringtoFront"), 0);
  EXPECT_TRUE(platform::ForceInstanceForeground(w));

  // The plain parameter arrives whole, non-ASCII letters included.
  const std::wstring param = L"C:\\Daten\\Gr\u00FC\u00DFe \u4F60\u597D.txt";
  EXPECT_EQ(platform::SendCopyData(w, 0, Utf16Bytes(param)), 0);
  const std::string expected =
      "param:C:\\Daten\\Gr\xC3\xBC\xC3\x9F"
      "e \xE4\xBD\xA0\xE5\xA5\xBD.txt";
  EXPECT_NE(wintest::ReadText(sb().Path("first.log")).find(expected), std::string::npos)
      << wintest::ReadText(sb().Path("first.log"));
  EXPECT_EQ(wintest::ReadText(sb().Path("other.log")).find("param:"), std::string::npos);

  // Closing ends the first process; its window and mutex go with it.
  EXPECT_EQ(Send(w, "CL CloseApp"), 0);
  EXPECT_TRUE(wintest::WaitUntil([&] {
    return wintest::ReadText(sb().Path("first.log")).find("closed") != std::string::npos;
  }));
  EXPECT_TRUE(wintest::WaitUntil([&] { return !Find("TfrmMain", 42, w); }));
  EXPECT_TRUE(wintest::WaitUntil([&] {
    if (platform::CreateNamedMutex(mutex) != platform::MutexResult::Created) return false;
    return true;
  }));
  EXPECT_EQ(Send(w, "CL GetAppID"), 0);  // a vanished window answers 0
  EXPECT_EQ(Send(other, "CL CloseApp"), 0);
}

TEST_F(InstanceWinTest, BusyAndHungInstances) {
  const std::string mutex = "Global\\{VG-WIN32-BUSY-" + std::to_string(GetCurrentProcessId()) + "}";
  ASSERT_NE(Start("TfrmBusy", 1, mutex, "busy.log", "busy").find("ready"), std::string::npos);
  InstanceWindow w;
  ASSERT_TRUE(Find("TfrmBusy", 1, w));
  EXPECT_EQ(Send(w, "CL IfBusy"), 1);
  Send(w, "CL CloseApp");

  // A window whose thread never pumps answers 0 once the time is up.
  ASSERT_NE(Start("TfrmHung", 5, mutex + "-hung", "hung.log", "hang").find("ready"),
            std::string::npos);
  auto found = platform::FindInstanceWindows("TfrmHung");
  ASSERT_EQ(found.size(), 1u);
  // The hung process keeps its window until it ends: sends that gave 0
  // while the window is still there ended by their time limit, not by the
  // end of that process.
  EXPECT_EQ(Send(found[0], "CL GetAppID", 300), 0);
  EXPECT_EQ(platform::SendCopyData(found[0], 0, "xx", 300), 0);
  EXPECT_EQ(platform::FindInstanceWindows("TfrmHung").size(), 1u)
      << "a send waited for the hung process to end";
  EXPECT_EQ(platform::SendInstanceMessage(InstanceWindow{"0x0"}, 1, 0, 0), 0);
  EXPECT_EQ(platform::SendInstanceMessage(InstanceWindow{"junk"}, 1, 0, 0), 0);
}

TEST_F(InstanceWinTest, EndpointInThisProcessAnswersDirectly) {
  std::vector<platform::InstanceMessage> seen;
  auto endpoint =
      platform::CreateInstanceEndpoint("TfrmSelf", [&](const platform::InstanceMessage& m) {
        seen.push_back(m);
        return m.isCopyData ? static_cast<int64_t>(m.data.size()) : m.wParam * 2;
      });
  ASSERT_TRUE(endpoint);
  EXPECT_EQ(endpoint->fd(), -1);
  auto found = platform::FindInstanceWindows("TfrmSelf");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, endpoint->window().id);
  const uint32_t msg = platform::RegisterMessage("Test Twice");
  EXPECT_EQ(platform::SendInstanceMessage(found[0], msg, 21, 0), 42);
  EXPECT_EQ(platform::SendCopyData(found[0], 9, std::string("a\0b", 3)), 3);
  // More than the limit is refused before it reaches the window.
  EXPECT_EQ(platform::SendCopyData(found[0], 0, std::string((1 << 20) + 1, 'x')), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1].isCopyData);
  EXPECT_EQ(seen[1].dwData, 9u);
  EXPECT_EQ(seen[1].data, std::string("a\0b", 3));
  endpoint.reset();
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmSelf").empty());
}

TEST_F(InstanceWinTest, ProgramsStartInTheirFolderWithTheirArguments) {
  // The fake Firefox in a folder with a space in its name.
  const std::string folder = sb().Path("Mozilla Firefox");
  ASSERT_TRUE(platform::ForceDirectories(folder));
  const std::string fake = folder + "\\firefox.exe";
  ASSERT_TRUE(CopyFileW(wintest::Wide(wintest::NativePath(VG_RECORD_ARGS)).c_str(),
                        wintest::Wide(fake).c_str(), FALSE));
  const std::string record = folder + "\\args.txt";

  ASSERT_TRUE(RunProcess(fake, "-x \"two words\"", false, 10000, true));
  std::string text = wintest::ReadText(record);
  EXPECT_NE(text.find("cmdline=\"" + fake + "\" -x \"two words\""), std::string::npos) << text;
  EXPECT_NE(text.find("cwd=" + folder), std::string::npos) << text;
  EXPECT_FALSE(platform::StartProcess("\"" + sb().Path("none.exe") + "\"", "", false, true, 1000));

  // The Firefox switch finds it through the registry and hands it the
  // extension's command line.
  platform::DeleteFileAt(record);
  sb().WriteFile("app/const.dat", "[setting]\r\nSWITCH.FF=1\r\n");
  platform::RegWriteString(RegRoot::LocalMachine, "SOFTWARE\\Mozilla\\Mozilla Firefox",
                           "CurrentVersion", "3.6 (en-US)");
  platform::RegWriteString(RegRoot::LocalMachine,
                           "SOFTWARE\\Mozilla\\Mozilla Firefox\\3.6 (en-US)\\Main", "PathToExe",
                           fake);
  EXPECT_EQ(GetFirefoxPath(), fake);
  // The extension file the Firefox commands need.
  sb().WriteFile("app/ffextension.xpi", "extension");
  SetFirefoxProxy("192.0.2.1:8080");
  ASSERT_TRUE(wintest::WaitUntil([&] { return platform::FileSize(record) > 0; }));
  text = wintest::ReadText(record);
  EXPECT_NE(text.find("cmdline=\"" + fake + "\" " + FirefoxSetProxyArguments("192.0.2.1", "8080")),
            std::string::npos)
      << text;
  // An unsafe proxy text starts nothing.
  platform::DeleteFileAt(record);
  SetFirefoxProxy("192.0.2.1:80\" -evil");
  platform::SleepMs(500);
  EXPECT_FALSE(platform::FileExists(record));
  ReleaseCLSettings();
}

// The program's single-instance name lives in the session's namespace: a
// mutex of the same name in the global namespace (another user created it
// first, from another session) does not keep the program from starting,
// while a second start in this session still hands over.
TEST(SecurityLocal, AGlobalMutexOfAnotherSessionDoesNotStopTheProgram) {
  const std::string guid = "{VG-WIN32-SQUAT-" + std::to_string(GetCurrentProcessId()) + "}";
  HANDLE squat = CreateMutexW(nullptr, FALSE, wintest::Wide("Global\\" + guid).c_str());
  ASSERT_NE(squat, nullptr);
  EXPECT_TRUE(CheckSingleInstance(std::string(CLConst::MutexPrefix) + guid));
  EXPECT_FALSE(CheckSingleInstance(std::string(CLConst::MutexPrefix) + guid));
  platform::ReleaseNamedMutexes();
  CloseHandle(squat);
}

}  // namespace
