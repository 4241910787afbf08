// The update window's handling of the service's answer, with the settings
// store in a sandbox: whatever the answer holds, the settings file stays a
// valid settings file, an accepted answer changes exactly the settings its
// "Banner." and "__MODIFY__." lines name (those the file can hold and the
// service owns) plus the contact count, and a rejected answer changes nothing but the date of the
// last contact. No pushed line can add a section to the file or change a
// setting it does not name.
#include <QApplication>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "framework/CLIniFile.h"
#include "framework/CLServiceSettings.h"
#include "framework/CLSettings.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "net/CLUtils.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string TrimmedValue(const std::string& v) {
  size_t b = 0, e = v.size();
  while (b < e && static_cast<unsigned char>(v[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(v[e - 1]) <= ' ') --e;
  return v.substr(b, e - b);
}

// The settings section of the file as (lower-case name -> value), and the
// section names.
struct FileState {
  std::map<std::string, std::string> settings;
  std::map<std::string, int> sections;
};

FileState ReadFile(const std::string& path) {
  FileState st;
  TCLMemIniFile ini(path);
  for (const std::string& s : ini.SectionNames()) ++st.sections[Lower(s)];
  for (const auto& [n, v] : ini.SectionValues("setting"))
    st.settings.emplace(Lower(n), v);  // the first line of a name answers
  return st;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::EnterSandbox();
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication app(*argc, *argv);
  fuzz::PutFile("app/const.dat", "[setting]\r\nApp.Name=Fuzz\r\nApp.MagicWord=VG-Fuzz\r\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A fresh settings file with a few settings of its own for every input.
  ReleaseCLSettings();
  TCLSettings* settings = GetCLSettings();
  const std::string path = settings->SettingFilePath();
  settings->BeginUpdate();
  settings->SetSettingString("TARGET_COUNTRY", "FR");
  settings->SetSettingString("Update.Times", "4");
  settings->SetSettingString("NORMAL_IPS", "192.0.2.1:80|France|FR|2|46");
  settings->EndUpdate();
  const FileState before = ReadFile(path);

  // Most answers carry the right magic word in front; some carry none.
  const bool withWord = (data[0] & 7) != 0;
  const std::string answer = (withWord ? std::string("magicword=vg-fuzz\r\n") : std::string()) +
                             std::string(reinterpret_cast<const char*>(data) + 1, size - 1);

  // The rules of the answer, read plainly.
  TStringList lines;
  lines.SetText(answer);
  const bool accepted = SameText(lines.Values("magicword"), "VG-Fuzz");
  std::map<std::string, std::string> pushed;  // lower-case name -> value
  if (accepted)
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string name = lines.Names(i);
      std::string target;
      if (StartsWithText(name, "Banner."))
        target = name;
      else if (StartsWithText(name, "__MODIFY__."))
        target = name.substr(11);
      else
        continue;
      const std::string value = lines.ValueFromIndex(i);
      if (IsStorableSettingName(target) && IsStorableSettingValue(value) &&
          IsServiceSetting(target, value))
        pushed[Lower(target)] = value;
    }

  {
    std::unique_ptr<TfrmCLUpdateForm> w(TfrmCLUpdateForm::Create(nullptr));
    w->StartUpdate(false, false, true, false, false);
    w->sdDownloadDoneString(nullptr, answer);
    FUZZ_CHECK(!w->Updating(), "still updating after the answer");
  }

  const FileState after = ReadFile(path);
  FUZZ_CHECK(after.sections == before.sections, "the answer changed the file's sections");
  FUZZ_CHECK(after.settings.count("update.lastdate") == 1, "no date of the last contact");
  for (const auto& [name, value] : after.settings) {
    if (name == "update.lastdate") continue;
    if (name == "update.times") continue;
    auto p = pushed.find(name);
    if (p != pushed.end()) {
      FUZZ_CHECK(value == TrimmedValue(p->second),
                 "pushed setting " + name + " not stored as sent");
    } else {
      auto b = before.settings.find(name);
      FUZZ_CHECK(b != before.settings.end() && b->second == value,
                 "a setting the answer does not name changed: " + name);
    }
  }
  for (const auto& [name, value] : pushed)
    if (name != "update.times" && name != "update.lastdate")
      FUZZ_CHECK(after.settings.count(name) == 1, "pushed setting " + name + " missing");
  const int32_t times =
      StrToIntDefault(after.settings.count("update.times") ? after.settings.at("update.times") : "",
                      -99);
  if (accepted) {
    const int32_t base =
        pushed.count("update.times") ? StrToIntDefault(pushed["update.times"], 0) : 4;
    FUZZ_CHECK(times == base + 1, "contact count " + std::to_string(times));
  } else {
    FUZZ_CHECK(times == 4, "a rejected answer changed the contact count");
  }
  return 0;
}
