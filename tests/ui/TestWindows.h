// Windows built from the component layer for the UI tests: the settings
// dialog's components (with or without an engine on it) and helpers that
// answer modal windows without a person.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "framework/CLEngine.h"
#include "framework/lang/CLMultiLang.h"
#include "vcl/Controls.h"
#include "vcl/Forms.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

// The settings dialog's components. With an engine the window is also the
// application's main window: skin data with the built-in default skin, the
// string table, a skinned frame and the translation data live on it.
// Kept in a namespace of its own: the application's real settings dialog is
// linked into the same test program under the global name.
namespace testwin {
class TfrmSettings : public TForm {
 public:
  explicit TfrmSettings(bool withEngine = false, TCLComponent* AOwner = nullptr)
      : TForm(AOwner) {
    SetName("frmSettings");
    SetCaption("Settings");
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetClientSize(434, 265);
    if (withEngine) {
      spCompressedStoredSkin = new TspCompressedStoredSkin(this);
      spCompressedStoredSkin->SetName("spCompressedStoredSkin");
      spCompressedStoredSkin->LoadDefaultSkin();
      spResourceStrData = new TspResourceStrData(this);
      spResourceStrData->SetName("spResourceStrData");
      spSkinData = new TspSkinData(this);
      spSkinData->SetName("spSkinData");
      spSkinData->SetResourceStrData(spResourceStrData);
      spSkinData->SetCompressedStoredSkin(spCompressedStoredSkin);
      CLMultiLangData = new TCLMultiLangData(this);
      CLMultiLangData->SetName("CLMultiLangData");
      CLEngine = new TCLEngine(this);
      CLEngine->SetName("CLEngine");
      CLEngine->SetSkinData(spSkinData);
      CLEngine->SetLanguageData(CLMultiLangData);
      spDynamicSkinForm = new TspDynamicSkinForm(this);
      spDynamicSkinForm->SetName("spDynamicSkinForm");
      spDynamicSkinForm->SetBorderIcons(biSystemMenu | biMinimize);
      spDynamicSkinForm->SetSkinData(spSkinData);
      CLEngine->SetSkinForm(spDynamicSkinForm);
    }
    pcSetting = new TPageControl(this);
    pcSetting->SetName("pcSetting");
    pcSetting->SetBounds(6, 6, 411, 219);
    tsGeneral = new TTabSheet(this, pcSetting);
    tsGeneral->SetName("tsGeneral");
    tsGeneral->SetCaption("General");
    tsBrowser = new TTabSheet(this, pcSetting);
    tsBrowser->SetName("tsBrowser");
    tsBrowser->SetCaption("Browser");
    cbAutoRun = Check(tsGeneral, "cbAutoRun",
                      "Automatically run Veilgate when I log on to Windows", 10, 9, 389);
    cbAutoUpdate = Check(tsGeneral, "cbAutoUpdate",
                         "Automatically check updates when Veilgate starts", 10, 36, 389);
    btnClearShowAgainFlag = new TButton(this, tsGeneral);
    btnClearShowAgainFlag->SetName("btnClearShowAgainFlag");
    btnClearShowAgainFlag->SetCaption("Clear Show Again Flag");
    btnClearShowAgainFlag->SetBounds(10, 161, 149, 25);
    lblBrowser = new TLabel(this, tsBrowser);
    lblBrowser->SetName("lblBrowser");
    lblBrowser->SetCaption("Enable Veil IP For Selected Browsers");
    lblBrowser->SetBounds(8, 16, 380, 16);
    cbIE = Check(tsBrowser, "cbIE", "Internet Explorer", 24, 48, 150);
    cbIE->SetEnabled(false);
    cbFF = Check(tsBrowser, "cbFF", "Fire Fox", 24, 80, 150);
    cbOpera = Check(tsBrowser, "cbOpera", "Opera", 24, 112, 150);
    btnReinstallFF = new TButton(this, tsBrowser);
    btnReinstallFF->SetName("btnReinstallFF");
    btnReinstallFF->SetCaption("Re-install FireFox Extension");
    btnReinstallFF->SetBounds(8, 160, 193, 25);
    btnOK = new TButton(this);
    btnOK->SetName("btnOK");
    btnOK->SetCaption("&OK");
    btnOK->SetBounds(249, 231, 75, 25);
    btnOK->SetModalResult(mrOk);
    btnOK->SetDefault(true);
    btnCancel = new TButton(this);
    btnCancel->SetName("btnCancel");
    btnCancel->SetCaption("&Cancel");
    btnCancel->SetBounds(330, 231, 75, 25);
    btnCancel->SetModalResult(mrCancel);
    btnCancel->SetCancel(true);
    CLMultiLang = new TCLMultiLang(this);
    CLMultiLang->SetName("CLMultiLang");
    if (CLMultiLangData) CLMultiLang->SetLanguageData(CLMultiLangData);
  }
  std::string ClassName() const override { return "TfrmSettings"; }

  TspCompressedStoredSkin* spCompressedStoredSkin = nullptr;
  TspResourceStrData* spResourceStrData = nullptr;
  TspSkinData* spSkinData = nullptr;
  TCLMultiLangData* CLMultiLangData = nullptr;
  TCLEngine* CLEngine = nullptr;
  TspDynamicSkinForm* spDynamicSkinForm = nullptr;
  TPageControl* pcSetting = nullptr;
  TTabSheet* tsGeneral = nullptr;
  TTabSheet* tsBrowser = nullptr;
  TCheckBox* cbAutoRun = nullptr;
  TCheckBox* cbAutoUpdate = nullptr;
  TButton* btnClearShowAgainFlag = nullptr;
  TLabel* lblBrowser = nullptr;
  TCheckBox* cbIE = nullptr;
  TCheckBox* cbFF = nullptr;
  TCheckBox* cbOpera = nullptr;
  TButton* btnReinstallFF = nullptr;
  TButton* btnOK = nullptr;
  TButton* btnCancel = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;

 private:
  TCheckBox* Check(QWidget* parent, const char* name, const char* caption, int x, int y, int w) {
    auto* c = new TCheckBox(this, parent);
    c->SetName(name);
    c->SetCaption(caption);
    c->SetBounds(x, y, w, 25);
    return c;
  }
};
}  // namespace testwin
using testwin::TfrmSettings;

// Runs the event loop until pred holds or timeoutMs passes.
inline bool ProcessUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Calls action with the modal window as soon as one is open (from inside
// its modal loop). Gives up after timeoutMs.
inline void WhenModal(std::function<void(QWidget*)> action, int timeoutMs = 5000) {
  auto* timer = new QTimer;
  auto started = std::chrono::steady_clock::now();
  QObject::connect(timer, &QTimer::timeout, [timer, action, started, timeoutMs] {
    QWidget* w = QApplication::activeModalWidget();
    const bool late = std::chrono::steady_clock::now() - started >
                      std::chrono::milliseconds(timeoutMs);
    if (!w && !late) return;
    timer->stop();
    timer->deleteLater();
    if (w) action(w);
  });
  timer->start(5);
}

// A key press and release as the keyboard gives them to the focused control.
inline void PressKey(QWidget* window, int key) {
  QWidget* target = window->focusWidget() ? window->focusWidget() : window;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}
