// The settings store over user files it did not write: "setting.dat" and
// "UserFlag.ini" hold the fuzzer's bytes. The store opens, every typed read
// answers, a write lands on disk, and a second store reads it back with the
// run counter moved on by one.
#include <climits>
#include <string>

#include "FuzzSupport.h"
#include "framework/CLSettings.h"

namespace {

std::string gUserFile, gAllUsersFile, gFlagFile;

// A value the file format keeps as it is: printable, not blank at the ends.
std::string CleanValue(const std::string& raw) {
  std::string v;
  for (char c : raw)
    if (c > ' ' && c != ';' && static_cast<unsigned char>(c) < 0x7F) v += c;
  return v.empty() ? "v" : v.substr(0, 64);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterSandbox();
  fuzz::PutFile("app/const.dat", "[setting]\nApp.Name=Fuzz\nApp.ConfigPath=fuzzcfg\n");
  TCLSettings probe;
  gUserFile = probe.UserDataPathCurrentUser() + "setting.dat";
  gAllUsersFile = probe.UserDataPathAllUsers() + "setting.dat";
  // The user flag lives in the user's own data folder, beside its setting file.
  gFlagFile = probe.UserDataPathCurrentUser() + "UserFlag.ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::string flag = in.Piece(0);
  const std::string value = CleanValue(in.Piece(0));
  const std::string user = in.Rest();
  auto put = [](const std::string& path, const std::string& bytes) {
    fuzz::PutFile(path.substr(fuzz::SandboxRoot().size() + 1), bytes);
  };
  put(gUserFile, user);
  put(gAllUsersFile, user);
  put(gFlagFile, flag);

  int32_t runTimes = 0;
  std::string path;
  {
    TCLSettings s;
    runTimes = s.RunTimes();
    for (const char* name : {"App.Name", "RunTimes", "Language", "TARGET_COUNTRY", "NORMAL_IPS",
                             "App.ConfigPath", "Update.Times", "", "setting"}) {
      (void)s.GetSettingString(name);
      (void)s.GetSettingInteger(name);
      (void)s.GetSettingFloat(name);
      (void)s.GetSettingBool(name);
      TRect r{1, 2, 3, 4};
      s.GetSettingRect(name, r);
      (void)s.GetSettingsecString(name);
      (void)s.GetSettingExists(name);
    }
    for (int n : {0, 1, -1, 100, INT32_MAX}) {
      (void)s.GetMessageShowAgainFlag(n);
      (void)s.GetMessageShowAgainResult(n);
    }
    try {
      s.SetSettingstring("Fuzz.Out", value);
      s.SetSettingsecString("Fuzz.Sec", value);
    } catch (const ECLSettingsWriteError& e) {
      fuzz::Fail(__FILE__, __LINE__, "write", e.what());
    }
    path = s.SettingFilePath();
  }
  TCLSettings again;
  FUZZ_CHECK(again.SettingFilePath() == path, "the store moved to another folder");
  FUZZ_CHECK(again.GetSettingString("Fuzz.Out") == value, "written value not read back");
  FUZZ_CHECK(again.GetSettingsecString("Fuzz.Sec") == value, "scrambled value not read back");
  const int32_t expected = runTimes == INT32_MAX ? runTimes : runTimes + 1;
  FUZZ_CHECK(again.RunTimes() == expected, "run counter " + std::to_string(again.RunTimes()) +
                                               " after " + std::to_string(runTimes));
  return 0;
}
