// Program body: the country gate, then the framework's start-up routine with
// the main window; the process ends afterwards in every case.
#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QThreadPool>

#include <clocale>
#include <cstdio>
#include <memory>

#include "framework/qt/CLEngine.h"
#include "framework/qt/CLMain.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLSplashForm.h"
#include "net/CLUtils.h"
#include "switch/uVGUtils.h"
#include "ui/AppIcons.h"
#include "ui/uFlashForm.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uIPsTesting.h"
#include "ui/uMain.h"
#include "ui/uSettings.h"
#include "vcl/PicturePreload.h"
#include "vcl/WebHosts.h"

namespace {
// The program's own icon on every window (and the tray's default), and the
// desktop entry the windows belong to. Run by the application object's
// constructor, whichever code creates it.
void SetApplicationIdentity() {
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppDesktopId));
  const QIcon icon = AppWindowIcon();
  if (!icon.isNull()) QGuiApplication::setWindowIcon(icon);
}
Q_COREAPP_STARTUP_FUNCTION(SetApplicationIdentity)

// A plain modal box with the application's title and one OK button. It may
// be needed before the application object exists (the country gate runs
// first), so it brings its own when there is none. The text goes to the
// standard error stream too, as the box is shown: a start from a terminal or
// a script learns why the program waits or stops.
void PlainMessageBox(const std::string& aText) {
  static int argc = 1;
  static char arg0[] = "veilgate";
  static char* argv[] = {arg0, nullptr};
  std::unique_ptr<QApplication> own;
  if (!QCoreApplication::instance()) own = std::make_unique<QApplication>(argc, argv);
  std::fprintf(stderr, "%s\n", aText.c_str());
  std::fflush(stderr);
  QMessageBox::information(nullptr, QStringLiteral("Veilgate"), QString::fromStdString(aText),
                           QMessageBox::Ok);
}

// "--write-language FILE": writes a complete language file for translators
// (the English texts of every window and the named texts) and ends.
// Returns -1 when the option is absent, else the exit code.
int WriteLanguage(int argc, char** argv) {
  std::string file;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--write-language") continue;
    if (i + 1 >= argc) {
      std::fprintf(stderr, "--write-language needs a file name\n");
      return 2;
    }
    file = argv[i + 1];
    break;
  }
  if (file.empty()) return -1;
  // No window is shown: any display will do, none is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The shipped English file gives the named texts; the windows give their
  // own. The settings are not opened: writing a file for translators is
  // not a run of the program.
  const std::string base = IncludeBackslash(JoinPath(GetAppPath(), "lang")) + "English.lan";
  std::string error;
  const bool ok = CLWriteLanguageFile(file, base,
                                      {[] { return CreateForm<TfrmMain>(); },
                                       [] { return CreateForm<TfrmChooseIPCountry>(); },
                                       [] { return CreateForm<TfrmSettings>(); },
                                       [] { return CreateForm<TfrmTesting>(); }},
                                      error);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("Language file written: %s\n", file.c_str());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  // The environment is set while this is the only thread.
  PrepareWebEngineProcess();
  // The user's locale for text; numbers are converted by our own routines
  // with the locale's separator, so the C library keeps "." for them.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  if (const int rc = WriteLanguage(argc, argv); rc >= 0) return rc;
  SetPlainMessageBox(PlainMessageBox);
  if (!CountryCheck()) return 0;
  QWidget* frmMain = nullptr;
  CLSplashFactory() = &TfrmCLSplashForm::CreateSplash;
  // The pictures of the first windows are decoded on a thread of their own
  // while the windows are built: the splash's from here on, as the
  // application object is made; once the settings can be read, the window
  // icon's and the popup's (and the splash's is let go when no splash shows),
  // with the font database.
  const std::string splash = TfrmCLSplashForm::PictureFileToShow();
  if (!splash.empty()) PreloadPictures({splash});
  CLPreloadHook() = [splash] {
    if (!GetCLSettings()->GetSettingBool("App.Splash")) ForgetPreloadedPictures({splash});
    std::vector<std::string> files = AppWindowIconFiles();
    for (const std::string& f : TfrmFlashForm::StartPictureFiles()) files.push_back(f);
    PreloadPictures(files);
    // The font database (the desktop's fonts, read through fontconfig) is
    // filled on a worker thread too, while the splash waits for the window
    // system: the main window's first text would otherwise fill it on the
    // user-interface thread. Every function of QFontDatabase is thread-safe.
    QThreadPool::globalInstance()->start([] { QFontDatabase::families(); });
  };
  CLMainRun(argc, argv, TFormClass{"TfrmMain", [] { return CreateForm<TfrmMain>(); }}, frmMain);
  return 0;
}
