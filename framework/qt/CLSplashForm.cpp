#include "framework/qt/CLSplashForm.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLangLan.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "vcl/PictureTexts.h"
#include "vcl/WindowSystem.h"
#include "vcl/spPngForm.h"

TfrmCLSplashForm::TfrmCLSplashForm(TCLComponent* AOwner) : TForm(AOwner) {
  SetName("frmCLSplashForm");
  SetBorderStyle(TFormBorderStyle::bsNone);
  // A splash window: not kept above other windows, so the main window is
  // never covered by it; the start-up routine closes it once that is shown.
  setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::SplashScreen |
                 Qt::FramelessWindowHint);
  // The picture's transparent corners show what lies behind: the window
  // is drawn translucent, and the mask (set with the picture) only keeps
  // the mouse out of them. A compositor that takes no masks (Wayland) would
  // otherwise show those corners black.
  setAttribute(Qt::WA_TranslucentBackground);
  setStyleSheet("TfrmCLSplashForm, #ClientArea { background-color: transparent; }");
  spPngForm = new TspPngForm(this);
  spPngForm->SetName("spPngForm");
  OnDeactivate = [this](TForm*) { FormDeactivate(); };
}

// Without a picture there is nothing to show: no window at all, rather than
// one that closes itself on the next turn.
QWidget* TfrmCLSplashForm::CreateSplash() {
  auto* splash = CreateForm<TfrmCLSplashForm>();
  if (!splash->PictureFile().empty()) return splash;
  delete splash;
  return nullptr;
}

std::string TfrmCLSplashForm::PictureFileToShow() {
  const std::string app = GetAppPath();
  for (const std::string& file :
       {JoinPath(app, "oem.splash.png"), JoinPath(app, "res\\images\\splash.png")}) {
    if (platform::FileExists(file)) return file;
  }
  return std::string();
}

void TfrmCLSplashForm::FormCreate() {
  TForm::FormCreate();
  // The first file found is the one; a broken one is not replaced.
  const std::string file = PictureFileToShow();
  const bool loaded = !file.empty() && spPngForm->LoadFromFile(file);
  if (loaded) FPictureFile = file;
  // The shipped picture has no words: the product name and its line are
  // drawn in the user's language. A partner's picture is shown as it is.
  if (loaded && !EndsWithText(file, "oem.splash.png")) {
    const SplashTexts texts = TextsToShow();
    spPngForm->SetPicture(WithPictureTexts(spPngForm->Picture(), SplashTextArea(),
                                           QStr(texts.Title), QStr(texts.Line)));
  }
  // Without one: a plain black window of the usual size, which closes
  // itself at once.
  if (!loaded && spPngForm->Picture().isNull()) {
    QPixmap black(320, 180);
    black.fill(Qt::black);
    spPngForm->SetPicture(black);
  }
  const QSize picture = spPngForm->Picture().deviceIndependentSize().toSize();
  QScreen* screen = QGuiApplication::primaryScreen();
  const QSize area = screen ? screen->geometry().size() : QSize(1024, 768);
  // Halves rounded toward zero, as integer division does. A Wayland
  // compositor places windows itself (a splash in the middle).
  if (!WaylandSession())
    move((area.width() - picture.width()) / 2, (area.height() - picture.height()) / 2);
  if (!loaded) PostClose();
}

// The splash comes before the engine and its translation data: the texts
// are read from the chosen language's file directly. A missing file or key
// leaves the product name of the settings and no line.
TfrmCLSplashForm::SplashTexts TfrmCLSplashForm::TextsToShow() {
  TCLSettings* settings = GetCLSettings();
  SplashTexts out;
  out.Title = settings->GetSettingString("App.Name");
  std::string language = settings->GetSettingString("Language");
  if (language.empty()) language = "English";
  // The language folder of the settings, "lang" by default as for the engine.
  std::string languages = settings->GetSettingString("Path.Languages");
  if (languages.empty()) languages = "lang";
  const std::string folder = IncludeBackslash(JoinPath(GetAppPath(), languages));
  const std::string file = JoinPath(folder, language + ".lan");
  if (!platform::FileExists(file)) return out;
  try {
    TCLMultiLangLan lan;
    lan.LoadFromFile(file);
    std::string name;
    if (lan.GetProp("AppRes", "", "AppName", name) && !name.empty()) out.Title = name;
    lan.GetProp("LibRes", "", "TfrmCLSplashForm.Header", out.Line);
    out.Line = StringReplaceAll(out.Line, "{AppName}", out.Title);
  } catch (const std::exception&) {
    // An unreadable file: the splash goes on without its line.
  }
  return out;
}

void TfrmCLSplashForm::FormDeactivate() { PostClose(); }

void TfrmCLSplashForm::PostClose() {
  QPointer<TfrmCLSplashForm> self(this);
  QMetaObject::invokeMethod(
      this,
      [self] {
        if (self) self->Close();
      },
      Qt::QueuedConnection);
}
