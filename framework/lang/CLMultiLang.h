// Translation data and the translator that applies it to windows.
//
// TCLMultiLangData is the application-wide translation data: a current and a
// default language (two language files in memory), the lookup of one text
// with the "{AppName}" placeholder filled in, and the list of translators it
// re-applies when a new current language is loaded.
//
// TCLMultiLang sits on a translated window. It walks the published
// properties of the window and of every component the window owns and sets
// each text for which the data has an entry (section = the window's class
// name, entry = component name "." property name). Collecting goes the other
// way: the window's current texts are written into the current language, so
// that a complete language file for translators can be saved.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/lang/CLMultiLangClasses.h"
#include "framework/lang/CLMultiLangLan.h"
#include "net/StringList.h"

class TCLMultiLang;

class TCLMultiLangData : public TCLComponent {
 public:
  explicit TCLMultiLangData(TCLComponent* AOwner);
  // Translators still attached lose their data (they keep working as
  // translators without data instead of reaching freed memory).
  ~TCLMultiLangData() override;

  std::string ClassName() const override { return "TCLMultiLangData"; }
  const TCLPropTable& PropTable() const override;

  // The 26 default exclusion patterns, in order.
  static TStringList DefaultExcludeProps();

  // --- lookups ---------------------------------------------------------------------
  // Current language first, then the default one; a found text has every
  // "{AppName}" (any letter case) replaced by the product name, except the
  // product name itself (section "AppRes", property "AppName").
  bool GetProp(const std::string& strForm, const std::string& strComp, const std::string& strProp,
               std::string& strValue);
  void SetProp(const std::string& strForm, const std::string& strComp, const std::string& strProp,
               const std::string& strValue);
  // Adds the section's entries of both languages to sl; names sl already
  // holds keep their value. No placeholder is replaced.
  void GetSectionStrings(const std::string& strSection, TStringList& sl);
  void ClearForm(const std::string& strForm);
  void UpdateData();

  // --- languages -----------------------------------------------------------------
  // Loads the file as the current language and re-applies every translator.
  // Throws EFileError when the file cannot be read; the previous language
  // stays loaded (the cached product name is emptied all the same).
  void LoadCurrentFromFile(const std::string& fn);
  void LoadDefaultFromFile(const std::string& fn);
  void SaveCurrentToFile(const std::string& fn);
  void ClearCurrentAll();
  void ClearCurrentAllForm();
  void CurrentToDefault();
  void DefaultToCurrent();

  // --- translators -----------------------------------------------------------------
  void AddClient(TCLMultiLang* pClient);
  void RemoveClient(TCLMultiLang* pClient);
  const std::vector<TCLMultiLang*>& Clients() const { return FClients; }
  void ApplyClients();
  void UpdateClients();
  void ClearClients();

  // Looks up "AppName" of "AppRes", caches and returns it.
  std::string GetAppName();
  const std::string& AppName() const { return FAppName; }

  // --- published properties -------------------------------------------------------
  bool ExcludeEmptyProp() const { return FExcludeEmptyProp; }
  void SetExcludeEmptyProp(bool v) { FExcludeEmptyProp = v; }
  TStringList ExcludeProps() const { return FExcludeProps; }
  const TStringList& ExcludePropsList() const { return FExcludeProps; }
  void SetExcludeProps(const TStringList& v) { FExcludeProps = v; }
  bool ExcludeNumberEndProps() const { return FExcludeNumberEndProps; }
  void SetExcludeNumberEndProps(bool v) { FExcludeNumberEndProps = v; }
  bool AutoApply() const { return FAutoApply; }
  void SetAutoApply(bool v) { FAutoApply = v; }
  bool ExcludeWithAction() const { return FExcludeWithAction; }
  void SetExcludeWithAction(bool v) { FExcludeWithAction = v; }
  std::string CurrentLanguage();
  std::string CurrentLanguageTranslator();
  std::string CurrentVersion();
  TStringList CurrentData() const;
  void SetCurrentData(const TStringList& v);
  TStringList DefaultData() const;
  void SetDefaultData(const TStringList& v);

  TCLMultiLangLan& LangCurrentData() { return FLangCurrentData; }
  TCLMultiLangLan& LangDefaultData() { return FLangDefaultData; }

 private:
  std::string InfoText(const std::string& name);
  std::string CurrentLanguageConst() const;
  std::string CurrentLanguageTranslatorConst() const;
  std::string CurrentVersionConst() const;

  TCLMultiLangLan FLangCurrentData;
  TCLMultiLangLan FLangDefaultData;
  std::vector<TCLMultiLang*> FClients;
  std::string FAppName;
  TStringList FExcludeProps;
  bool FExcludeEmptyProp = false;
  bool FExcludeNumberEndProps = false;
  bool FAutoApply = true;
  bool FExcludeWithAction = false;
};

class TCLMultiLang : public TCLComponent {
 public:
  using TNotifyEvent = std::function<void(TCLMultiLang* Sender)>;

  explicit TCLMultiLang(TCLComponent* AOwner);
  ~TCLMultiLang() override;

  std::string ClassName() const override { return "TCLMultiLang"; }
  const TCLPropTable& PropTable() const override;

  // Joins the data's client list and, when the data applies automatically,
  // applies it.
  void Loaded() override;

  TCLMultiLangData* LanguageData() const { return FLanguageData; }
  // Leaves the old data's client list and joins the new one's.
  void SetLanguageData(TCLMultiLangData* Value);
  TNotifyEvent OnChangeLanguage;

  // Sets the texts of the owner window and of its components. Errors of a
  // property that rejects its text reach the caller.
  void ApplyData();
  void ApplyProp(TCLObject* TCom, const std::string& strParentComp);
  // Collects the current texts into the current language.
  void UpdateData();
  // Removes the owner window's section from the current language.
  void ClearData();

  bool GetProp(const std::string& strForm, const std::string& strComp, const std::string& strProp,
               std::string& strValue);
  std::string Language();
  std::string GetResString(const std::string& strName);
  void GetSectionStrings(const std::string& strSection, TStringList& sl);

  // Whether collecting skips that property of that component.
  bool IsExcludedProp(const std::string& strComp, const std::string& strClass,
                      const std::string& strProp, const std::string& strType) const;

  // The section of this translator: its owner's class name.
  std::string SectionName() const;

 private:
  // The components walked, in order: the owner, then its named components
  // other than translators and translation data.
  std::vector<TCLComponent*> Targets() const;
  void UpdateProp(TCLComponent* TCom);
  void Notification(TCLComponent* AComponent) override;
  friend class TCLMultiLangData;

  TCLMultiLangData* FLanguageData = nullptr;
};
