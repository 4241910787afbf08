// The main window in the desktop session: the tray icon and its hint, the
// close button with a tray and without one, always on top (not under
// Wayland), and the menu items that depend on the session.
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QRubberBand>
#include <QScreen>

#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLMain.h"
#include "proxy/LocalInfo.h"
#include "proxy/uProxyManager.h"
#include "ui/AppIcons.h"
#include "ui/uMain.h"
#include "vcl/ActnList.h"
#include "vcl/WindowSystem.h"
#include "vcl/spMessage.h"

namespace {

// Show-again number of the close message where there is no tray.
const int kCloseNoTrayMessage = 11;

// The caption animation of a window going to the tray: a frame that
// shrinks from the window's rectangle to the given one.
void DrawAnimatedRects(const QRect& from, const QRect& to) {
  auto* band = new QRubberBand(QRubberBand::Rectangle);
  band->setAttribute(Qt::WA_TransparentForMouseEvents);
  band->setGeometry(from);
  band->show();
  auto* anim = new QPropertyAnimation(band, "geometry", band);
  anim->setDuration(250);
  anim->setStartValue(from);
  anim->setEndValue(to);
  QObject::connect(anim, &QPropertyAnimation::finished, band, &QObject::deleteLater);
  anim->start();
}

}  // namespace

void TfrmMain::SetAOT() {
  actAlwaysOnTop->SetChecked(GetCLSettings()->GetSettingBool("AlwaysOnTop"));
  // A Wayland compositor keeps no client's window above the others, and
  // changing the window's flags there would unmap it and lose its place:
  // the choice stays stored for a session that honours it.
  if (WaylandSession()) return;
  SetStayOnTop(this, actAlwaysOnTop->Checked());
}

void TfrmMain::UpdateSessionItems() {
  const bool tray = TspTrayIcon::Available();
  N5->SetVisible(!tray);
  Exit2->SetVisible(!tray);
  AlwaysOnTop1->SetVisible(!WaylandSession());
}

void TfrmMain::spTrayIconClick(TspTrayIcon*) { actOpen->Execute(); }

void TfrmMain::ShowTrayState() {
  if (!spTrayIcon) return;
  const bool hiding = IsHiding();
  std::string country, address;
  if (hiding && FProxyManager) {
    country = FProxyManager->FTargetProxy.Country_Long;
    address = FProxyManager->FTargetProxy.IP + ":" + FProxyManager->FTargetProxy.Port;
  } else if (FLocalInfoGot && FProxyManager) {
    const TLocalInfo info = TLocalInfo::Read(FProxyManager->FLocalInfo);
    country = info.CountryLong;
    address = info.IP;
  }
  const std::string name = CLEngine ? CLEngine->GetAppName() : std::string("Veilgate");
  std::string hint = name;
  if (!address.empty()) {
    const char* key = hiding ? "Tray.Hiding" : "Tray.Direct";
    std::string state = CLEngine ? CLEngine->GetAppStringEx(key, {country, address}) : "";
    if (state.empty()) state = (hiding ? "Hiding: " : "Not hiding: ") + country + ", " + address;
    hint += "\n" + state;
  }
  if (hiding && !FWatchNote.empty()) hint += "\n" + FWatchNote;
  // A build without the rendered pictures keeps the tray's stock icon.
  const QIcon icon = TrayStateIcon(hiding);
  if (!icon.isNull()) spTrayIcon->SetIcon(icon);
  spTrayIcon->SetHint(hint);
}

void TfrmMain::spDynamicSkinFormObjectCommand(TspDynamicSkinForm*, TStdCommand Command,
                                              bool& bCancel) {
  switch (Command) {
    case cmClose: {
      if (CLEngine->SessionEnding() || FQuitting) return;
      // Asked now, not at start: a tray may have come or gone since.
      const bool tray = TspTrayIcon::Available();
      UpdateSessionItems();
      if (tray) {
        CLEngine->ShowMessageEx("MSGBox.CloseNotify", {}, 1, mtInformation, mbOK);
      } else {
        // Without a tray the window goes to the task bar, and the message
        // says so and where Exit is; silenced on its own, so that a user
        // who silenced the tray's message still learns this once.
        CLEngine->ShowMessageEx("MSGBox.CloseNotifyNoTray", {}, kCloseNoTrayMessage, mtInformation,
                                mbOK);
      }
      const QRect from = frameGeometry();
      spDynamicSkinForm->MinimizeToTray();
      // The animation runs in global coordinates toward the tray's corner:
      // meaningless without a tray, and unknown to a Wayland client.
      QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
      if (screen && tray && !WaylandSession()) {
        const QRect s = screen->geometry();
        DrawAnimatedRects(from, QRect(s.right(), s.bottom(), 1, 1));
      }
      bCancel = true;
      break;
    }
    case cmMaximize:
    case cmRollUp: bCancel = true; break;
    default: break;
  }
}

void TfrmMain::actOpenExecute(TBasicAction*) { spDynamicSkinForm->RestoreFromTray(); }

void TfrmMain::actAlwaysOnTopExecute(TBasicAction*) {
  const bool on = !GetCLSettings()->GetSettingBool("AlwaysOnTop");
  Store([on](TCLSettings* s) { s->SetSettingBool("AlwaysOnTop", on); });
  SetAOT();
}

void TfrmMain::actExitExecute(TBasicAction*) { Close(); }
