#include "ui/uChooseIPCountry.h"

#include <QImage>
#include <QSignalBlocker>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QVBoxLayout>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "proxy/LocalInfo.h"
#include "proxy/uProxyManager.h"
#include "ui/AppIcons.h"
#include "ui/uDesignFont.h"
#include "vcl/Controls.h"
#include "vcl/WebHosts.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

TfrmChooseIPCountry* frmChooseIPCountry = nullptr;

namespace {

// The first entry of the list: any country.
const char* const kAutoSelected = "- Auto Selected -";

// A country code names a file; only letters and digits may do that.
bool SafeCountryCode(const std::string& code) {
  if (code.empty() || code.size() > 8) return false;
  for (char c : code)
    if (!IsAsciiAlnum(c)) return false;
  return true;
}

}  // namespace

TfrmChooseIPCountry::TfrmChooseIPCountry(TCLComponent* AOwner, TProxyManager* AProxyManager)
    : TSkinnedDialog(AOwner, "frmChooseIPCountry", "Choose IP Country", 451, 450),
      FProxyManager(AProxyManager) {
  frmChooseIPCountry = this;

  imgFL = new TImage(this);
  imgFL->SetName("imgFL");
  imgFL->SetBounds(19, 3, 48, 48);

  lblCountry = new TLabel(this);
  lblCountry->SetName("lblCountry");
  lblCountry->SetCaption("Country");
  lblCountry->SetBounds(73, 16, 45, 16);

  cbbCountry = new TComboBox(this);
  cbbCountry->SetName("cbbCountry");
  cbbCountry->SetBounds(120, 12, 241, 22);
  cbbCountry->setEditable(false);
  cbbCountry->setMaxVisibleItems(8);
  // The design holds the first entry, so that a language can word it.
  TStringList first;
  first.Add(kAutoSelected);
  cbbCountry->SetItems(first);
  cbbCountry->SetItemIndex(-1);

  pnlWB = new TPanel(this);
  pnlWB->SetName("pnlWB");
  pnlWB->SetBevelOuter(TBevelCut::bvLowered);
  pnlWB->SetBounds(16, 56, 417, 345);

  wbMap = new TWebBrowser(this, pnlWB);
  wbMap->SetName("wbMap");
  wbMap->SetUserInterfaceOptions(uioDontUse3DBorders | uioDontUseScrollBars | uioDisableSelection |
                                 uioDisableHelpMenu | uioDisableContextMenu | uioDisableDrop);
  auto* layout = new QVBoxLayout(pnlWB);
  layout->setContentsMargins(pnlWB->frameWidth(), pnlWB->frameWidth(), pnlWB->frameWidth(),
                             pnlWB->frameWidth());
  layout->addWidget(wbMap);
  // The map page is laid out for the view's size when it loads, which can
  // be before the window is first shown: the view has its size from now on.
  wbMap->setGeometry(pnlWB->contentsRect());

  sgLoadingMap = new TGauge(this);
  sgLoadingMap->SetName("sgLoadingMap");
  sgLoadingMap->SetBounds(17, 416, 208, 20);
  sgLoadingMap->SetVisible(false);

  btnOK = new TButton(this);
  btnOK->SetName("btnOK");
  btnOK->SetCaption("&OK");
  btnOK->SetBounds(282, 413, 75, 25);
  btnOK->SetModalResult(mrOk);
  btnOK->SetDefault(true);
  btnCancel = new TButton(this);
  btnCancel->SetName("btnCancel");
  btnCancel->SetCaption("&Cancel");
  btnCancel->SetBounds(362, 413, 75, 25);
  btnCancel->SetModalResult(mrCancel);
  btnCancel->SetCancel(true);

  sdFlag = std::make_unique<TSingleDownloader>();
  sdFlag->Name = "sdFlag";
  sdFlag->BinaryData = true;
  sdFlag->UseCache = false;
  sdFlag->AcceptTypes = "*/*";
  sdFlag->OnDoneFile = [this](TSingleDownloader* s, const std::string& f, int64_t n) {
    sdFlagDoneFile(s, f, n);
  };

  AddTranslation();

  btnOK->OnClick = [this](TButton* b) { btnOKClick(b); };
  wbMap->OnProgressChange = [this](TWebBrowser* b, int p, int m) { wbMapProgressChange(b, p, m); };
  // The map page is ours alone: a link on it opens in the user's browser,
  // never inside the dialog.
  wbMap->OnBeforeNavigate2 = [](TWebBrowser*, const std::string& URL, bool& Cancel) {
    if (URL.empty() || StartsWithText(URL, "about:") || StartsWithText(URL, "data:")) return;
    Cancel = true;
    if (StartsWithText(URL, "http://") || StartsWithText(URL, "https://")) {
      if (TCLEngine* e = GetCLEngine())
        e->ShowPageByURL(URL);
      else
        OpenURLInBrowser(URL);
    }
  };
}

TfrmChooseIPCountry::~TfrmChooseIPCountry() {
  // A flag download still under way ends with the dialog.
  sdFlag.reset();
  if (frmChooseIPCountry == this) frmChooseIPCountry = nullptr;
}

void TfrmChooseIPCountry::FormCreate() {
  LoadList();
  // Wired only now: filling and translating the list run no handler.
  cbbCountry->OnChange = [this](TComboBox* c) { cbbCountryChange(c); };
  if (FProxyManager) {
    const std::string& target = FProxyManager->FTargetCountry;
    int index = -1;
    if (SameText(target, "UN")) {
      index = 0;
    } else {
      const std::string name = FProxyManager->GetCountryLong(target);
      if (!name.empty())
        for (int i = 1; i < cbbCountry->count(); ++i)
          if (SameText(StdStr(cbbCountry->itemText(i)), name)) {
            index = i;
            break;
          }
    }
    // Selecting runs cbbCountryChange: flag and map of the selection.
    cbbCountry->SetItemIndex(index);
  }
  TForm::FormCreate();
}

void TfrmChooseIPCountry::LoadList() {
  // The first entry as the language worded it in the design.
  std::string autoText = cbbCountry->count() > 0 ? StdStr(cbbCountry->itemText(0)) : "";
  if (autoText.empty()) autoText = kAutoSelected;
  TStringList names;
  if (FProxyManager) FProxyManager->GetCountryList(&names);
  const QSignalBlocker block(cbbCountry);
  cbbCountry->clear();
  cbbCountry->addItem(QStr(autoText));
  for (int i = 0; i < names.Count(); ++i) cbbCountry->addItem(QStr(names[i]));
  // Nothing is selected until FormCreate (or the user) selects.
  cbbCountry->setCurrentIndex(-1);
}

void TfrmChooseIPCountry::cbbCountryChange(TComboBox*) {
  const int index = cbbCountry->ItemIndex();
  if (index < 0 || !FProxyManager) return;
  std::string aLongi, aLati;
  if (index != 0) {
    const std::string name = cbbCountry->Text();
    LoadFlag(FProxyManager->GetCountryShort(name));
    FProxyManager->GetCountryPosition(name, aLongi, aLati);
  } else {
    LoadFlag("UN");
    // Any country: the map shows where the user really is.
    const TLocalInfo info = TLocalInfo::Read(FProxyManager->FLocalInfo);
    aLati = info.Latitude;
    aLongi = info.Longitude;
  }
  ShowMap(aLati, aLongi);
}

void TfrmChooseIPCountry::btnOKClick(TButton*) {
  if (!FProxyManager) return;
  const int index = cbbCountry->ItemIndex();
  if (index == 0) {
    FProxyManager->FTargetCountry = "UN";
  } else if (index > 0) {
    const std::string code = FProxyManager->GetCountryShort(cbbCountry->Text());
    if (!code.empty()) FProxyManager->FTargetCountry = code;
  }
  // With nothing selected the old target country stays.
  try {
    GetCLSettings()->SetSettingString("TARGET_COUNTRY", FProxyManager->FTargetCountry);
  } catch (const ECLSettingsWriteError& e) {
    // Kept in memory; the main window stores it again when it closes.
    CLDebugLog::Write("TfrmChooseIPCountry", "TARGET_COUNTRY not saved: " + e.Reason());
  }
}

void TfrmChooseIPCountry::LoadFlag(const std::string& aCountryName) {
  // A download for the previous selection must not draw over this one.
  if (sdFlag->Busy()) sdFlag->Abort();
  if (!SafeCountryCode(aCountryName)) return;
  // Flag files are named by the upper-case code.
  const std::string code = UpperCase(aCountryName);
  std::string path = JoinPath(GetAppPath(), "res\\flag_short\\" + code + ".PNG");
  if (platform::FileExists(path)) {
    LoadPNG(path);
    return;
  }
  path = JoinPath(GetCLSettings()->UserDataPath(), code + ".PNG");
  if (platform::FileExists(path)) {
    LoadPNG(path);
    return;
  }
  const std::string base = GetCLSettings()->GetSettingString("URL.FlagPath");
  if (base.empty()) return;
  sdFlag->FileName = path;
  sdFlag->URL = base + code + ".PNG";
  sdFlag->GetFile();
}

void TfrmChooseIPCountry::LoadPNG(const std::string& aFileName) {
  const QPixmap flag = FlagPicture(aFileName);
  if (!flag.isNull()) imgFL->SetPicture(flag);  // not a picture: the old flag stays
}

void TfrmChooseIPCountry::sdFlagDoneFile(TSingleDownloader*, const std::string& strFileName,
                                         int64_t) {
  if (!platform::FileExists(strFileName)) return;
  // An answer that is not a picture (an error page) is not kept: it would
  // be taken for the flag on every later look-up.
  if (QImage(QStr(strFileName)).isNull()) {
    platform::DeleteFileAt(strFileName);
    return;
  }
  LoadPNG(strFileName);
}

void TfrmChooseIPCountry::ShowMap(const std::string& aLati, const std::string& aLong) {
  // Without the page engine the map is not drawn, and the program's own
  // page cannot go to the user's browser: the map's place names the
  // position instead (or, without one, says that no page can be shown).
  std::string noMap;
  if (!aLati.empty() && !aLong.empty())
    if (TCLEngine* engine = GetCLEngine())
      noMap = engine->GetAppStringEx("Map.NoEngine", {aLati, aLong});
  wbMap->SetLocalPageLine(noMap);
  std::string text;
  const std::string file = JoinPath(GetAppPath(), "res\\map.tpl");
  if (!platform::ReadWholeFile(file, text)) {
    CLDebugLog::Write("TfrmChooseIPCountry", "Map template missing: " + file);
    FMapHTML.clear();
    wbMap->LoadFromString("<html><body style=\"background:#a8c8e6\"></body></html>");
    return;
  }
  TStringList lines;
  lines.SetText(text);
  text =
      FormatPlaceholders(lines.Text(),
                         {HtmlEscape(aLong), HtmlEscape(aLati), std::to_string(pnlWB->width() + 30),
                          std::to_string(pnlWB->height() + 30),
                          HtmlEscape(GetCLSettings()->GetSettingString("URL.MapMask")), "3"});
  lines.SetText(text);
  FMapHTML = lines.Text();
  wbMap->LoadFromString(FMapHTML);
}

void TfrmChooseIPCountry::wbMapProgressChange(TWebBrowser*, int Progress, int ProgressMax) {
  sgLoadingMap->SetVisible(Progress != ProgressMax);
  sgLoadingMap->SetMaxValue(ProgressMax);
  sgLoadingMap->SetProgress(Progress);
}

bool ShowChooseIPCountry(TForm* AOwner, TProxyManager* AProxyManager) {
  TfrmChooseIPCountry* dlg = CreateForm<TfrmChooseIPCountry>(AOwner, AProxyManager);
  QPointer<TfrmChooseIPCountry> guard(dlg);
  const int result = dlg->ShowModal();
  delete guard.data();
  return result == mrOk;
}

void TfrmChooseIPCountry::showEvent(QShowEvent* e) {
  // The skin's style sheet has been applied to the controls by now.
  ApplyDesignFont(ClientArea());
  TForm::showEvent(e);
}
