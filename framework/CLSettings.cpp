#include "framework/CLSettings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "framework/CLConst.h"
#include "framework/lang/CLMultiLangLan.h"
#include "net/CLDebugLog.h"
#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "platform/Locale.h"
#include "platform/Registry.h"

namespace {

const char* const kSettingSection = "setting";
const char* const kShowAgainSection = "ShowAgain";
const char* const kShowAgainResultSection = "ShowAgainModuleResult";
const char* const kDefaultSettingFile = "setting.dat";
const char* const kDefaultConstFile = "const.dat";
const char* const kPartnerPrefix = "oem.";
const char* const kUserFlagFile = "UserFlag.ini";
const char* const kUserFlagSection = "Flag";
const char* const kUserFlagName = "AllUsers";
const char* const kServiceSetting = "URL.Service";

// Mask constant of the scrambled values.
const uint32_t kEncodeMask = 0x5A3C96E1u;

std::vector<ICLSettingsLayers*>& Engines() {
  static std::vector<ICLSettingsLayers*> engines;
  return engines;
}

TCLSettings* gSettings = nullptr;

std::string WithSeparator(const std::string& path) {
  return path.empty() ? path : IncludeBackslash(path);
}

std::string WithoutSeparator(std::string path) {
  const char sep = platform::PathSeparator();
  while (path.size() > 1 && (path.back() == sep || path.back() == '/')) path.pop_back();
  return path;
}

// A shell folder by name, falling back to the platform's own location when
// the registry does not name it.
std::string ShellFolder(const std::string& name, bool machineOnly) {
  std::string folder;
  if (machineOnly) {
    platform::RegReadString(platform::RegRoot::LocalMachine, kShellFoldersKey, name, folder);
  } else {
    folder = GetShellFolder(name);
  }
  if (folder.empty()) folder = platform::DefaultShellFolder(name);
  return folder;
}

// The eight mask units of the scrambled values: the bytes the mask gives when
// rotated right by 0, 4, ..., 28 bits.
uint8_t MaskUnit(uint32_t mask, size_t position) {
  unsigned shift = static_cast<unsigned>((position % 8) * 4);
  uint32_t rotated = shift == 0 ? mask : ((mask >> shift) | (mask << (32 - shift)));
  return static_cast<uint8_t>(rotated & 0xFF);
}

}  // namespace

// --- engine registration ---------------------------------------------------------

void RegisterSettingsEngine(ICLSettingsLayers* engine) {
  if (!engine) return;
  auto& engines = Engines();
  if (std::find(engines.begin(), engines.end(), engine) == engines.end()) engines.push_back(engine);
}

void UnregisterSettingsEngine(ICLSettingsLayers* engine) {
  auto& engines = Engines();
  engines.erase(std::remove(engines.begin(), engines.end(), engine), engines.end());
}

ICLSettingsLayers* SettingsEngine() {
  auto& engines = Engines();
  return engines.empty() ? nullptr : engines.front();
}

ECLSettingsWriteError::ECLSettingsWriteError(const std::string& path, const std::string& reason)
    : std::runtime_error(reason.find(path) != std::string::npos
                             ? reason
                             : "Cannot write \"" + path + "\": " + reason),
      FPath(path),
      FReason(reason) {}

// --- creation ----------------------------------------------------------------------

TCLSettings::TCLSettings(const std::string& strSettingFile) {
  // File names.
  FSettingFilename = strSettingFile.empty() ? kDefaultSettingFile : strSettingFile;
  const std::string constFile = strSettingFile.empty() ? kDefaultConstFile : strSettingFile;

  // Executable folder and the supplied files.
  const std::string module = platform::ModuleFileName();
  FConstDataPath = WithSeparator(ExtractFileDir(module));
  FConstDataPath = WithSeparator(platform::LongPathName(FConstDataPath));
  FConstValueIni = std::make_unique<TCLMemIniFile>(FConstDataPath + constFile);
  FOemValueIni = std::make_unique<TCLMemIniFile>(FConstDataPath + kPartnerPrefix + constFile);
  const std::string admin = AdminSettingsPath(FConstDataPath);
  if (!admin.empty() && platform::FileExists(admin)) {
    if (platform::IsTrustedSharedFile(admin))
      FAdminValueIni = std::make_unique<TCLMemIniFile>(admin);
    else
      CLDebugLog::Write(CLConst::TagSettings,
                        "Ignored " + admin + ": others than its owner may change it");
  }

  // Configuration word: no user file is open yet, so only the engine
  // lists and the supplied files answer.
  FConfigPathWord = GetSettingString("App.ConfigPath");
  if (FConfigPathWord.empty()) {
    FConfigPathWord = module;
    for (char& c : FConfigPathWord)
      if (c == '\\' || c == ':' || c == '/') c = '_';
  }

  // Data folders and the scrambling mask.
  const std::string sep(1, platform::PathSeparator());
  FUserDataPathCurrentUser = WithSeparator(ShellFolder("AppData", false)) + FConfigPathWord + sep;
  FUserDataPathAllUsers =
      WithSeparator(ShellFolder("Common AppData", true)) + FConfigPathWord + sep;
  FEncodeMask = kEncodeMask;

  // All-users decision. "UserFlag.ini" keeps the answer, so that a user
  // whose flag is false stays in his own folder even when the all-users
  // folder becomes writable later.
  if (GetSettingInteger("Setting.NoAllUser") != 0) {
    SetAllUser(false);
  } else {
    bool decided;
    if (IsAllUserFlagExists()) {
      decided = GetAllUserFlag();
      if (decided && !IsAllUserPathWriteable()) decided = false;
      if (decided != GetAllUserFlag()) {
        try {
          SetAllUserFlag(decided);
        } catch (const ECLSettingsWriteError& e) {
          CLDebugLog::Write(CLConst::TagSettings, e.what());
        }
      }
    } else {
      decided = IsAllUserPathWriteable();
      try {
        SetAllUserFlag(decided);
      } catch (const ECLSettingsWriteError& e) {
        CLDebugLog::Write(CLConst::TagSettings, e.what());
      }
    }
    // The decision equals the stored flag once it is written; when the flag
    // could not be written, the decision still stands (the flag's stale or
    // default value could send the user to a folder he cannot write).
    SetAllUser(decided);
  }

  // Run counter: 0 on the first start.
  FRunTimes = GetSettingInteger("RunTimes");
  try {
    SetSettingInteger("RunTimes", FRunTimes == INT32_MAX ? FRunTimes : FRunTimes + 1);
  } catch (const ECLSettingsWriteError& e) {
    // A read-only data folder must not keep the program from starting.
    CLDebugLog::Write(CLConst::TagSettings, e.what());
  }
}

TCLSettings::~TCLSettings() = default;

// --- lookup ----------------------------------------------------------------------------

bool TCLSettings::FindSetting(const std::string& strName, std::string* value,
                              bool reloadUserFile) const {
  ICLSettingsLayers* engine = SettingsEngine();
  std::string scratch;
  std::string& out = value ? *value : scratch;
  if (engine && engine->FindOverride(strName, out)) return true;
  // No-cache mode: the user file is re-read from disk, dropping unsaved changes.
  if (reloadUserFile && FSettingIni) FSettingIni->Reload();
  for (const TCLMemIniFile* ini :
       {FSettingIni.get(), FOemValueIni.get(), FConstValueIni.get(), FAdminValueIni.get()}) {
    if (!ini) continue;
    if (const std::string* v = ini->Find(kSettingSection, strName)) {
      if (value) *value = *v;
      return true;
    }
  }
  if (engine && engine->FindDefault(strName, out)) return true;
  // The service's addresses, from the one address of the service.
  if (SameText(strName, kServiceSetting)) {
    out = kDefaultServiceAddress;
    return true;
  }
  const std::string path = ServiceAddressPath(strName);
  if (path.empty()) return false;
  std::string service;
  FindSetting(kServiceSetting, &service, false);
  while (!service.empty() && service.back() == '/') service.pop_back();
  if (service.empty()) return false;
  out = service + path;
  return true;
}

std::string TCLSettings::AdminSettingsFile() const {
  return FAdminValueIni ? FAdminValueIni->FileName() : std::string();
}

std::string AdminSettingsPath(const std::string& aConstDataPath) {
#ifdef _WIN32
  (void)aConstDataPath;
  return std::string();
#else
  const std::string installed = "/lib/veilgate/";
  if (aConstDataPath.size() < installed.size() ||
      aConstDataPath.compare(aConstDataPath.size() - installed.size(), installed.size(),
                             installed) != 0)
    return std::string();
  std::string prefix = aConstDataPath.substr(0, aConstDataPath.size() - installed.size());
  // The system's configuration folder of the prefix "/usr" is "/etc".
  if (prefix.size() >= 4 && prefix.compare(prefix.size() - 4, 4, "/usr") == 0)
    prefix.resize(prefix.size() - 4);
  return prefix + "/etc/veilgate/veilgate.conf";
#endif
}

std::string ServiceAddressPath(const std::string& aName) {
  static const std::pair<const char*, const char*> kPaths[] = {
      {"URL.Update", "/update"},   {"URL.Redirect", "/redirect"}, {"URL.GetInfo", "/getinfo"},
      {"URL.FlagPath", "/flags/"}, {"URL.CheckIP", "/checkip"},
  };
  for (const auto& [name, path] : kPaths)
    if (SameText(aName, name)) return path;
  return std::string();
}

std::string TCLSettings::GetSettingString(const std::string& strName) {
  std::string value;
  if (FindSetting(strName, &value, FNoCache)) return value;
  if (CLDebugLog::Active())
    CLDebugLog::Write(CLConst::TagSettings, "Setting Not Found :" + strName);
  return std::string();
}

int32_t TCLSettings::GetSettingInteger(const std::string& strName) {
  return StrToIntDefault(GetSettingString(strName), 0);
}

double TCLSettings::GetSettingFloat(const std::string& strName) {
  double v = 0;
  if (!TryStrToFloat(GetSettingString(strName), platform::DecimalSeparator(), v)) return 0;
  return v;
}

bool TCLSettings::GetSettingBool(const std::string& strName) {
  return GetSettingInteger(strName) != 0;
}

void TCLSettings::GetSettingRect(const std::string& strName, TRect& rcValue) {
  const std::string text = GetSettingString(strName);
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    pieces.push_back(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (text.empty() || pieces.size() != 4) return;
  rcValue.Left = StrToIntDefault(pieces[0], 0);
  rcValue.Top = StrToIntDefault(pieces[1], 0);
  rcValue.Right = StrToIntDefault(pieces[2], 0);
  rcValue.Bottom = StrToIntDefault(pieces[3], 0);
}

bool TCLSettings::GetSettingExists(const std::string& strName) const {
  return FindSetting(strName, nullptr, false);
}

// --- writes ----------------------------------------------------------------------------

void TCLSettings::WriteUserValue(const std::string& section, const std::string& name,
                                 const std::string& value) {
  // A value the user's file already holds is not written again (the start
  // sets the skin and the language it has just read): the file would come
  // out the same, and every write flushes it to the disk. After a failed
  // write the file is behind the values here, and the next one writes;
  // without the cache another process may have changed the file, and the
  // value is written.
  if (!FUnsaved && !FNoCache) {
    const std::string* current = FSettingIni->Find(section, name);
    if (current && *current == value) return;
  }
  FSettingIni->WriteString(section, name, value);
  FUnsaved = true;
  if (!FUpdating) UpdateSettingINI();
}

void TCLSettings::SetSettingstring(const std::string& strName, const std::string& strValue) {
  WriteUserValue(kSettingSection, strName, strValue);
}

void TCLSettings::SetSettingInteger(const std::string& strName, int32_t iValue) {
  SetSettingstring(strName, std::to_string(iValue));
}

void TCLSettings::SetSettingFloat(const std::string& strName, double fValue) {
  SetSettingstring(strName, FloatToStr(fValue, platform::DecimalSeparator()));
}

void TCLSettings::SetSettingBool(const std::string& strName, bool ibValue) {
  SetSettingstring(strName, ibValue ? "1" : "0");
}

void TCLSettings::SetSettingRect(const std::string& strName, const TRect& rcValue) {
  SetSettingstring(strName, std::to_string(rcValue.Left) + "," + std::to_string(rcValue.Top) + "," +
                                std::to_string(rcValue.Right) + "," +
                                std::to_string(rcValue.Bottom));
}

void TCLSettings::UpdateSettingINI() {
  std::string error;
  FUnsaved = true;
  if (!FSettingIni->UpdateFile(&error)) throw ECLSettingsWriteError(FSettingIni->FileName(), error);
  FUnsaved = false;
}

void TCLSettings::BeginUpdate() { FUpdating = true; }

void TCLSettings::EndUpdate() {
  FUpdating = false;
  UpdateSettingINI();
}

// --- scrambled values ------------------------------------------------------------------
// Each byte of the UTF-8 text is combined by exclusive-or with the mask unit of
// its position modulo 8 and written as two hexadecimal digits. Characters
// beyond one byte are thus stored byte by byte and read back unchanged.

std::string TCLSettings::EncodeSecString(const std::string& plain) const {
  std::string out;
  out.reserve(plain.size() * 2);
  for (size_t i = 0; i < plain.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(plain[i]) ^ MaskUnit(FEncodeMask, i);
    AppendHexByte(out, b);
  }
  return out;
}

std::string TCLSettings::DecodeSecString(const std::string& scrambled) const {
  std::string out;
  out.reserve(scrambled.size() / 2);
  for (size_t i = 0; i + 1 < scrambled.size(); i += 2) {
    int hi = HexDigitValue(scrambled[i]), lo = HexDigitValue(scrambled[i + 1]);
    uint8_t b = (hi < 0 || lo < 0) ? 32 : static_cast<uint8_t>(hi * 16 + lo);
    out += static_cast<char>(b ^ MaskUnit(FEncodeMask, i / 2));
  }
  return out;
}

std::string TCLSettings::GetSettingsecString(const std::string& strName) {
  return DecodeSecString(GetSettingString(strName));
}

void TCLSettings::SetSettingsecString(const std::string& strName, const std::string& strValue) {
  SetSettingstring(strName, EncodeSecString(strValue));
}

// --- show-again memory ------------------------------------------------------------------

bool TCLSettings::GetMessageShowAgainFlag(int iNumber) const {
  return FSettingIni->ReadBool(kShowAgainSection, std::to_string(iNumber), true);
}

void TCLSettings::SetMessageShowAgainFlag(int iNumber, bool bValue) {
  WriteUserValue(kShowAgainSection, std::to_string(iNumber), bValue ? "1" : "0");
}

int32_t TCLSettings::GetMessageShowAgainResult(int iNumber) const {
  return FSettingIni->ReadInteger(kShowAgainResultSection, std::to_string(iNumber), 1);
}

void TCLSettings::SetMessageShowAgainResult(int iNumber, int32_t iValue) {
  WriteUserValue(kShowAgainResultSection, std::to_string(iNumber), std::to_string(iValue));
}

void TCLSettings::ClearShowAgainFlag() {
  FSettingIni->EraseSection(kShowAgainSection);
  FSettingIni->EraseSection(kShowAgainResultSection);
  if (!FUpdating) UpdateSettingINI();
}

// --- all-users decision ----------------------------------------------------------------

std::string TCLSettings::UserFlagFile() const { return FUserDataPathCurrentUser + kUserFlagFile; }

bool TCLSettings::IsAllUserFlagExists() const {
  return TCLMemIniFile(UserFlagFile(), true).ValueExists(kUserFlagSection, kUserFlagName);
}

bool TCLSettings::GetAllUserFlag() const {
  return TCLMemIniFile(UserFlagFile(), true).ReadBool(kUserFlagSection, kUserFlagName, true);
}

void TCLSettings::SetAllUserFlag(bool bValue) {
  TCLMemIniFile flag(UserFlagFile(), true);
  flag.WriteBool(kUserFlagSection, kUserFlagName, bValue);
  platform::ForceDirectories(WithoutSeparator(FUserDataPathCurrentUser));
  std::string error;
  if (!flag.UpdateFile(&error)) throw ECLSettingsWriteError(flag.FileName(), error);
}

bool TCLSettings::IsAllUserPathWriteable() const {
  try {
    const std::string folder = WithoutSeparator(FUserDataPathAllUsers);
    if (folder.empty()) return false;
    // Another user must not be able to plant settings or links there: a
    // folder found open to others is not used (what it holds may be
    // planted already), and neither is one of another owner.
    const bool existed = platform::DirectoryExists(folder);
    if ((existed && !platform::IsTrustedSharedFolder(folder)) ||
        !platform::ForceDirectories(folder) || !platform::IsTrustedSharedFolder(folder)) {
      CLDebugLog::Write(CLConst::TagSettings, "All-users folder not used: " + folder);
      return false;
    }
    return platform::CanWrite(folder);
  } catch (...) {
    return false;
  }
}

void TCLSettings::SetAllUser(bool Value) {
  FAllUser = Value;
  FUserDataPath = Value ? FUserDataPathAllUsers : FUserDataPathCurrentUser;
  const std::string folder = WithoutSeparator(FUserDataPath);
  if (platform::ForceDirectories(folder))
    FUserDataPath = WithSeparator(platform::LongPathName(folder));

  FSettingIni.reset();
  const std::string file = FUserDataPath + FSettingFilename;
  if (!platform::PathExists(file)) platform::WriteWholeFile(file, " ");
  FSettingIni = std::make_unique<TCLMemIniFile>(file, true);
}

// --- run days and language texts ------------------------------------------------------

int32_t TCLSettings::GetRunDays() const {
  const double now = platform::NowLocal();
  int32_t days = 0;
  for (const std::string& folder :
       {FConstDataPath, FUserDataPathCurrentUser, FUserDataPathAllUsers}) {
    double created = 0;
    if (folder.empty() || !platform::FileCreationTime(WithoutSeparator(folder), created)) continue;
    double span = std::floor(now - created);
    if (span > days) days = span >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(span);
  }
  return days;
}

std::string TCLSettings::SlowGetLanguageString(const std::string& strSection,
                                               const std::string& strValue,
                                               const std::string& strDefault) {
  std::string language = GetSettingString("Language.Force");
  if (language.empty()) language = GetSettingString("Language");
  if (language.empty()) language = "English";
  // Before the engine exists its default list cannot name the folder; use
  // the same default it would give.
  std::string folder = GetSettingString("Path.Languages");
  if (folder.empty()) folder = "lang";
  const std::string file = JoinPath(JoinPath(FConstDataPath, folder), language + ".lan");
  if (!platform::FileExists(file)) return strDefault;
  try {
    TCLMultiLangLan lan;
    lan.LoadFromFile(file);
    std::string value = strDefault;
    if (lan.GetProp(strSection, "", strValue, value)) return value;
  } catch (...) {
    // An unreadable language file answers with the default.
  }
  return strDefault;
}

// --- accessor --------------------------------------------------------------------------

TCLSettings* GetCLSettings(const std::string& strSettingFile) {
  if (!gSettings) gSettings = new TCLSettings(strSettingFile);
  return gSettings;
}

void ReleaseCLSettings() {
  delete gSettings;
  gSettings = nullptr;
}
