// The choose-IP-country dialog: the user picks the country whose proxies
// hide the IP, or any country ("- Auto Selected -", stored as "UN"). It
// lists every country of the proxy lists, shows the selection's flag and a
// map page at the country's position, and on OK stores the choice as the
// proxy manager's target country and under "TARGET_COUNTRY".
//
// The main window opens it for one modal showing with ShowChooseIPCountry;
// when that returns true it refreshes its country display and hides through
// the new country.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/SkinnedDialog.h"

class TButton;
class TCLMultiLang;
class TComboBox;
class TGauge;
class TImage;
class TLabel;
class TPanel;
class TProxyManager;
class TSingleDownloader;
class TspDynamicSkinForm;
class TWebBrowser;

class TfrmChooseIPCountry : public TSkinnedDialog {
  Q_OBJECT
 public:
  // AProxyManager is the main window's proxy manager; the dialog reads its
  // lists and local information and writes its target country. Without one
  // (a window built only for its texts) the list holds the first entry only.
  explicit TfrmChooseIPCountry(TCLComponent* AOwner = nullptr,
                               TProxyManager* AProxyManager = nullptr);
  ~TfrmChooseIPCountry() override;
  std::string ClassName() const override { return "TfrmChooseIPCountry"; }

  // Fills cbbCountry: "- Auto Selected -", then GetCountryList in its order.
  void LoadList();
  // Flag and map of the selected entry.
  void cbbCountryChange(TComboBox* Sender);
  // Stores the choice (nothing selected: the old target country stays).
  void btnOKClick(TButton* Sender);
  // Flag of a two-letter code: "res/flag_short/<code>.PNG" next to the
  // executable, else "<code>.PNG" in the user data folder, else downloaded
  // from "URL.FlagPath" into the user data folder.
  void LoadFlag(const std::string& aCountryName);
  // Draws one picture file into imgFL (an unreadable file leaves the old one).
  void LoadPNG(const std::string& aFileName);
  void sdFlagDoneFile(TSingleDownloader* Sender, const std::string& strFileName, int64_t iFileSize);
  // Builds the page from "res/map.tpl" and loads it into wbMap.
  void ShowMap(const std::string& aLati, const std::string& aLong);
  // The browser's loading progress drives sgLoadingMap.
  void wbMapProgressChange(TWebBrowser* ASender, int Progress, int ProgressMax);

  // The page text of the last ShowMap (empty before the first).
  const std::string& MapHTML() const { return FMapHTML; }
  TProxyManager* ProxyManager() const { return FProxyManager; }

  TImage* imgFL = nullptr;
  TLabel* lblCountry = nullptr;
  TComboBox* cbbCountry = nullptr;
  TPanel* pnlWB = nullptr;
  TWebBrowser* wbMap = nullptr;
  TGauge* sgLoadingMap = nullptr;
  TButton* btnOK = nullptr;
  TButton* btnCancel = nullptr;
  std::unique_ptr<TSingleDownloader> sdFlag;

 protected:
  // Fills the list and selects the current target country.
  void FormCreate() override;
  void showEvent(QShowEvent* e) override;

 private:
  TProxyManager* FProxyManager;
  std::string FMapHTML;
};

// The dialog while it exists (one at a time), else null.
extern TfrmChooseIPCountry* frmChooseIPCountry;

// Creates the dialog owned by AOwner, shows it modally and frees it. True
// when the user confirmed with OK (the target country is then stored).
bool ShowChooseIPCountry(TForm* AOwner, TProxyManager* AProxyManager);
