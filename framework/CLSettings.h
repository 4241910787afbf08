// The settings store: the one place where the application and its framework
// read and write named settings. A setting is a name with a text value;
// typed reads and writes are conversions of that text.
//
// Lookup order, first hit wins (a name present with an empty value is a hit):
//   1. the engine's override list,
//   2. the user file "setting.dat" in the user data folder, section "setting",
//   3. the partner file "oem.const.dat" next to the executable,
//   4. "const.dat" next to the executable,
//   5. the administrator's file of an installed program, which every user
//      reads: "veilgate.conf" in the folder "veilgate" of the system's
//      configuration folder (/etc for a program under /usr; see
//      AdminSettingsPath), section "setting"; ignored unless
//      platform::IsTrustedSharedFile,
//   6. the engine's default list,
//   7. the service's addresses: "URL.Service" is "http://127.0.0.1:8470",
//      and each address of ServiceAddressPath is "URL.Service" + its path.
//      An address set in any layer above wins, so one "URL.Service" line
//      moves every call to another service.
// Writes go to the user file only and are on disk at once unless a caller
// brackets them with BeginUpdate / EndUpdate.
//
// One store exists per process, reached through GetCLSettings. Main thread
// only: the store has no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/NoCopy.h"
#include "framework/CLIniFile.h"
#include "net/CLUtils.h"

// The engine's two settings lists, seen by the store. The engine registers
// itself when it is created; the first registered engine that is still alive
// answers.
class ICLSettingsLayers {
 public:
  virtual ~ICLSettingsLayers() = default;
  // The override list: a value here hides every other layer.
  virtual bool FindOverride(const std::string& name, std::string& value) const = 0;
  // The default list: asked when no file holds the name.
  virtual bool FindDefault(const std::string& name, std::string& value) const = 0;
};

void RegisterSettingsEngine(ICLSettingsLayers* engine);
void UnregisterSettingsEngine(ICLSettingsLayers* engine);
// The engine that answers, or nullptr while none exists.
ICLSettingsLayers* SettingsEngine();

// A write of the user file (or of "UserFlag.ini") failed. The value stays set
// in memory; the file on disk keeps its previous content.
class ECLSettingsWriteError : public std::runtime_error {
 public:
  ECLSettingsWriteError(const std::string& path, const std::string& reason);
  const std::string& Path() const { return FPath; }
  const std::string& Reason() const { return FReason; }

 private:
  std::string FPath;
  std::string FReason;
};

class TCLSettings : private TNoCopy {
 public:
  // Opens the store. strSettingFile, when not empty, names both the user file
  // and the supplied constants file (the partner file is then "oem." + it).
  // Creation never throws: a user file that cannot be written leaves the
  // store working from memory (later writes report the failure).
  explicit TCLSettings(const std::string& strSettingFile = "");
  // Frees the in-memory files; writes nothing.
  ~TCLSettings();

  // --- reads (never fail: absent gives the empty text, 0 or false) ------------
  std::string GetSettingString(const std::string& strName);
  int32_t GetSettingInteger(const std::string& strName);
  double GetSettingFloat(const std::string& strName);
  bool GetSettingBool(const std::string& strName);
  // Fills rcValue only when the text has exactly four comma-separated pieces.
  void GetSettingRect(const std::string& strName, TRect& rcValue);
  bool GetSettingExists(const std::string& strName) const;

  // --- writes (throw ECLSettingsWriteError when the file cannot be written) --
  void SetSettingstring(const std::string& strName, const std::string& strValue);
  void SetSettingString(const std::string& strName, const std::string& strValue) {
    SetSettingstring(strName, strValue);
  }
  void SetSettingInteger(const std::string& strName, int32_t iValue);
  void SetSettingFloat(const std::string& strName, double fValue);
  void SetSettingBool(const std::string& strName, bool ibValue);
  void SetSettingRect(const std::string& strName, const TRect& rcValue);

  // Values kept in scrambled form in the user file.
  std::string GetSettingsecString(const std::string& strName);
  void SetSettingsecString(const std::string& strName, const std::string& strValue);

  // --- message boxes the user asked not to show again ------------------------
  bool GetMessageShowAgainFlag(int iNumber) const;
  void SetMessageShowAgainFlag(int iNumber, bool bValue);
  int32_t GetMessageShowAgainResult(int iNumber) const;
  void SetMessageShowAgainResult(int iNumber, int32_t iValue);
  void ClearShowAgainFlag();

  // --- all-users decision ------------------------------------------------------
  bool IsAllUserFlagExists() const;
  bool GetAllUserFlag() const;
  void SetAllUserFlag(bool bValue);
  // Whether the all-users data folder can be created and written, and may be
  // trusted (on posix: root's, writable by nobody else). Never throws.
  bool IsAllUserPathWriteable() const;
  // Switches the user data folder and reopens the user file from it.
  void SetAllUser(bool Value);

  // Whole days since the oldest of the executable folder and the two data
  // folders was created; 0 when none can be read.
  int32_t GetRunDays() const;
  // One text straight from the current language file, opened for this call.
  std::string SlowGetLanguageString(const std::string& strSection, const std::string& strValue,
                                    const std::string& strDefault);

  // --- writing ------------------------------------------------------------------
  void BeginUpdate();
  void EndUpdate();
  void UpdateSettingINI();
  void SetNoCache(bool Value) { FNoCache = Value; }

  // --- properties ---------------------------------------------------------------
  bool AllUser() const { return FAllUser; }
  const std::string& UserDataPath() const { return FUserDataPath; }
  int32_t RunTimes() const { return FRunTimes; }
  bool NoCache() const { return FNoCache; }

  // Folders and names the store worked out (with trailing separators).
  const std::string& ConstDataPath() const { return FConstDataPath; }
  // The administrator's file that is read, or empty.
  std::string AdminSettingsFile() const;
  const std::string& UserDataPathCurrentUser() const { return FUserDataPathCurrentUser; }
  const std::string& UserDataPathAllUsers() const { return FUserDataPathAllUsers; }
  const std::string& ConfigPathWord() const { return FConfigPathWord; }
  const std::string& SettingFilename() const { return FSettingFilename; }
  // Full name of the user file in use.
  std::string SettingFilePath() const { return FUserDataPath + FSettingFilename; }

  // Scrambling of GetSettingsecString / SetSettingsecString, exposed so that
  // stored values can be checked.
  std::string EncodeSecString(const std::string& plain) const;
  std::string DecodeSecString(const std::string& scrambled) const;

 private:
  // The layered lookup; value (when given) is set on a hit. reloadUserFile
  // re-reads the user file before it is asked.
  bool FindSetting(const std::string& strName, std::string* value, bool reloadUserFile) const;
  void WriteUserValue(const std::string& section, const std::string& name,
                      const std::string& value);
  std::string UserFlagFile() const;

  bool FAllUser = false;
  std::unique_ptr<TCLMemIniFile> FConstValueIni;
  std::unique_ptr<TCLMemIniFile> FOemValueIni;
  std::unique_ptr<TCLMemIniFile> FSettingIni;
  std::unique_ptr<TCLMemIniFile> FAdminValueIni;  // null when absent or not trusted
  std::string FConstDataPath;
  std::string FUserDataPath;
  std::string FUserDataPathCurrentUser;
  std::string FUserDataPathAllUsers;
  int32_t FRunTimes = 0;
  uint32_t FEncodeMask = 0;
  bool FUpdating = false;
  // Values changed here that the user's file does not hold yet.
  bool FUnsaved = false;
  std::string FConfigPathWord;
  std::string FSettingFilename;
  bool FNoCache = false;
};

// The administrator's settings file of a program whose supplied files lie
// in aConstDataPath: for "<prefix>/lib/veilgate/" it is
// "<prefix>/etc/veilgate/veilgate.conf", and "/etc/..." for the prefix "/usr"
// ("<root>/etc/..." for "<root>/usr", so an unpacked package finds its own).
// Empty for other folders (a build tree, Windows).
std::string AdminSettingsPath(const std::string& aConstDataPath);
// The path that a service address setting adds to "URL.Service"
// ("URL.GetInfo" gives "/getinfo"); empty for other names.
std::string ServiceAddressPath(const std::string& aName);
// The service's address when no layer names one.
inline constexpr const char* kDefaultServiceAddress = "http://127.0.0.1:8470";

// The store of this process, created on first use with strSettingFile (later
// arguments are ignored).
TCLSettings* GetCLSettings(const std::string& strSettingFile = "");
// Frees the store; a later GetCLSettings creates a fresh one.
void ReleaseCLSettings();
