// The main window's flags: the country display's picture (shipped, kept in
// the user's data folder, or downloaded there) and the popup's flag
// addresses.
#include <QPainter>
#include <QPixmap>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/Files.h"
#include "ui/AppIcons.h"
#include "ui/uMain.h"
#include "vcl/Controls.h"

namespace {

void Trace(const std::string& line) { CLDebugLog::Write("TfrmMain", line); }

// A country code as it may appear in a file name: letters, digits, "_" and
// "-", at most 8 characters. Anything else (a path, a separator) is refused.
bool SafeCode(const std::string& code) {
  if (code.empty() || code.size() > 8) return false;
  for (char c : code)
    if (!IsAsciiAlnum(c) && c != '_' && c != '-') return false;
  return true;
}

// The file of that name, matched without regard to case as the Windows file
// system does; empty when there is none.
std::string ExistingFile(const std::string& path) {
  if (platform::FileExists(path)) return path;
  const std::string dir = ExtractFileDir(path);
  const std::string name = ExtractFileName(path);
  if (dir.empty() || name.find_first_of("*?") != std::string::npos) return std::string();
  const std::vector<std::string> found = platform::ListFiles(dir, name);
  return found.empty() ? std::string() : IncludeBackslash(dir) + found.front();
}

}  // namespace

// The popup's flag of a proxy's country: the local flag folder, then the
// user's data folder, then the web address (which the movie loads itself).
std::string TfrmMain::PopupFlag(const std::string& aCode) const {
  if (!SafeCode(aCode)) return std::string();
  TCLSettings* settings = GetCLSettings();
  std::string f = ExistingFile(
      JoinPath(GetAppPath(), settings->GetSettingString("URL.LocalFlagPath") + aCode + ".PNG"));
  if (!f.empty()) return f;
  f = ExistingFile(JoinPath(settings->UserDataPath(), aCode + ".PNG"));
  if (!f.empty()) return f;
  return settings->GetSettingString("URL.FlagPath") + aCode + ".PNG";
}

// The real location's flag: the local flag folder, else the web address.
std::string TfrmMain::LocalInfoFlag(const std::string& aCode) const {
  if (!SafeCode(aCode)) return std::string();
  TCLSettings* settings = GetCLSettings();
  const std::string f = ExistingFile(
      JoinPath(GetAppPath(), settings->GetSettingString("URL.LocalFlagPath") + aCode + ".PNG"));
  return !f.empty() ? f : settings->GetSettingString("URL.FlagPath") + aCode + ".PNG";
}

// The window's flag: the shipped folder, then the user's data folder, then
// a download into the user's data folder. File names are compared without
// regard to case, as on Windows; a downloaded flag is stored under the
// upper-cased code, so that the next call finds it.
void TfrmMain::LoadFlag(const std::string& aCountryName) {
  if (!SafeCode(aCountryName)) return;
  const std::string shipped =
      ExistingFile(JoinPath(GetAppPath(), "res\\flag_short\\" + aCountryName + ".PNG"));
  if (!shipped.empty()) {
    LoadPNG(shipped);
    return;
  }
  TCLSettings* settings = GetCLSettings();
  const std::string target = JoinPath(settings->UserDataPath(), UpperCase(aCountryName) + ".PNG");
  const std::string own = ExistingFile(target);
  if (!own.empty()) {
    if (LoadPNG(own)) return;
    // A file that is no picture (a broken download) is fetched again.
    platform::DeleteFileAt(own);
  }
  // The newest request wins: a download of another flag still under way
  // is dropped.
  if (sdFlag->Busy()) sdFlag->Abort();
  platform::ForceDirectories(settings->UserDataPath());
  sdFlag->FileName = target;
  sdFlag->URL = settings->GetSettingString("URL.FlagPath") + UpperCase(aCountryName + ".png");
  Trace("Flag download: " + sdFlag->URL);
  sdFlag->GetFile();
}

bool TfrmMain::LoadPNG(const std::string& aFileName) {
  const QPixmap flag = FlagPicture(aFileName);
  if (flag.isNull()) return false;
  imgFL->SetPicture(flag);
  return true;
}

void TfrmMain::sdFlagDoneFile(TSingleDownloader*, const std::string& strFileName, int64_t) {
  if (!platform::FileExists(strFileName)) return;
  if (!LoadPNG(strFileName)) platform::DeleteFileAt(strFileName);
}
