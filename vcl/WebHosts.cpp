#include "vcl/WebHosts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QVBoxLayout>

#include <cstdlib>
#include <fstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "net/CLUtils.h"
#include "platform/AsciiText.h"
#include "vcl/QtModule.h"

// Qt GUI's process-wide context that every context shares with (exported by
// the library; what Qt::AA_ShareOpenGLContexts would have created).
QOpenGLContext* qt_gl_global_share_context();
void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

// The page engine draws through a graphics context that the application's
// contexts share with. Qt would make that context when the application
// object is created, if asked to beforehand; but making it loads the whole
// OpenGL stack (tens of megabytes) into every run, also into the many that
// never show a page (the tray, the proxy switching). It is made here
// instead, just before the page engine is loaded, as Qt itself would make it.
void ProvideSharedGraphicsContext() {
  if (qt_gl_global_share_context()) return;
  auto* context = new QOpenGLContext;  // kept for the life of the process, as Qt's own
  context->setFormat(QSurfaceFormat::defaultFormat());
  context->create();
  qt_gl_set_global_share_context(context);
}

TWebBrowserTexts GWebBrowserTexts;

std::string BrowserText(const std::string& key, const std::vector<std::string>& args) {
  std::string text;
  if (GWebBrowserTexts) text = GWebBrowserTexts(key, args);
  return text.empty() ? "[LibRes]" + key : text;
}

TCreateWebViewFunc GCreateWebView = nullptr;
std::string GModuleError;
bool GModuleTried = false;

// Where the module may be: next to the executable, else one folder up (the
// test programs live in a folder below the build folder).
QStringList ModuleCandidates() {
  const QString dir = QCoreApplication::applicationDirPath();
  return {dir + QStringLiteral("/vgwebengine"), dir + QStringLiteral("/../vgwebengine")};
}

QUrl ToUrl(const std::string& text) {
  const QString s = QStr(text);
  if (s.isEmpty()) return QUrl(QStringLiteral("about:blank"));
  // A path (absolute, or a Windows drive path) is a local file.
  if (QDir::isAbsolutePath(s) && !s.contains(QStringLiteral("://")))
    return QUrl::fromLocalFile(QDir::fromNativeSeparators(s));
  QUrl url(s);
  if (url.scheme().size() == 1) return QUrl::fromLocalFile(QDir::fromNativeSeparators(s));
  if (url.scheme().isEmpty()) {
    QFileInfo info(s);
    if (info.exists()) return QUrl::fromLocalFile(info.absoluteFilePath());
  }
  return url;
}

}  // namespace

void SetWebBrowserTexts(TWebBrowserTexts texts) { GWebBrowserTexts = std::move(texts); }

bool WebEngineLibraryLoaded() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("libQt6WebEngineCore") != std::string::npos) return true;
  return false;
}

void PrepareWebEngineProcess() {
#ifndef _WIN32
  // The engine will not run its sandbox as root; outside root it keeps it.
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
#endif
}

// Before main, in every program that can show a page (the program and its
// test programs alike): the process has one thread then.
namespace {
const bool kWebEngineProcessPrepared = (PrepareWebEngineProcess(), true);
}  // namespace

bool LoadWebEngineModule(std::string* error) {
  if (!GModuleTried) {
    GModuleTried = true;
    ProvideSharedGraphicsContext();
    QString reason;
    // The library stays loaded for the process's life.
    GCreateWebView = reinterpret_cast<TCreateWebViewFunc>(
        LoadQtModule(ModuleCandidates(), "vg_web_view_abi", "vg_create_web_view", kWebViewModuleAbi,
                     QStringLiteral("page engine module"), &reason));
    if (!GCreateWebView) GModuleError = StdStr(reason);
  }
  if (!GCreateWebView && error) *error = GModuleError;
  return GCreateWebView != nullptr;
}

// Hands the view's reports to the browser.
class TWebViewClient : public IWebViewClient {
 public:
  explicit TWebViewClient(TWebBrowser* browser) : FBrowser(browser) {}
  bool WebNavigationRequested(const QUrl& url, bool isMainFrame) override {
    const std::string text = StdStr(url.toString(QUrl::FullyEncoded));
    if (!FBrowser->DoBeforeNavigate2(text)) {
      FBrowser->FCancelledInLoad = true;
      return false;
    }
    if (isMainFrame) {
      FBrowser->FLocationURL = text;
      FBrowser->FDocumentHTML.clear();
    }
    return true;
  }
  void WebLoadStarted() override { FBrowser->LoadStarted(); }
  void WebLoadProgress(int percent) override { FBrowser->ProgressChanged(percent); }
  void WebLoadFinished(bool ok) override { FBrowser->LoadFinished(ok); }

 private:
  TWebBrowser* FBrowser;
};

TWebBrowser::TWebBrowser(TCLComponent* AOwner, QWidget* AParent)
    : TVclControl(AOwner, AParent), FClient(std::make_unique<TWebViewClient>(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  ApplyOptions();
}

TWebBrowser::~TWebBrowser() {
  // The view reports to the client; it goes first.
  if (FView) delete FView->Widget();
  FView = nullptr;
}

const TCLPropTable& TWebBrowser::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TWebBrowser>()
          .WideText("LocationURL", "WideString", &TWebBrowser::LocationURL,
                    &TWebBrowser::SetLocationURL)
          .Plain("Silent", "WordBool", TCLTypeKind::Enumeration)
          .Event("OnBeforeNavigate2", "TWebBrowserBeforeNavigate2")
          .Event("OnProgressChange", "TWebBrowserProgressChange")
          .Event("OnDocumentComplete", "TWebBrowserDocumentComplete")
          .Build();
  return table;
}

const TCLPropTable& TEmbeddedWB::PropTable() const {
  static const TCLPropTable table =
      TCLPropBuilder<TEmbeddedWB>(&TWebBrowser::PropTable())
          .Plain("UserInterfaceOptions", "TUserInterfaceOptions", TCLTypeKind::Set)
          .Build();
  return table;
}

QWidget* TWebBrowser::View() const { return FView ? FView->Widget() : nullptr; }

bool TWebBrowser::CreateView() {
  if (FView) return true;
  if (FViewFailed) return false;
  if (!LoadWebEngineModule() || !(FView = GCreateWebView(FClient.get(), this))) {
    FViewFailed = true;
    // What was asked for before is shown the other way now.
    ShowWithoutEngine();
    return false;
  }
  layout()->addWidget(FView->Widget());
  ApplyOptions();
  RunPending();
  return true;
}

void TWebBrowser::showEvent(QShowEvent* e) {
  TVclControl::showEvent(e);
  if (!FView && !FViewFailed) CreateView();
}

void TWebBrowser::SetUserInterfaceOptions(TUserInterfaceOptions v) {
  FOptions = v;
  ApplyOptions();
}

void TWebBrowser::ApplyOptions() {
  if (FOptions & uioDontUse3DBorders) {
    setFrameStyle(QFrame::NoFrame);
  } else {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(2);
  }
  const int m = frameWidth();
  layout()->setContentsMargins(m, m, m, m);
  setContextMenuPolicy((FOptions & uioDisableContextMenu) ? Qt::NoContextMenu
                                                          : Qt::DefaultContextMenu);
  setAcceptDrops(!(FOptions & uioDisableDrop));
  if (FView) FView->SetOptions(FOptions);
}

void TWebBrowser::BeforeNavigate2(const std::string&, bool&) {}

bool TWebBrowser::DoBeforeNavigate2(const std::string& URL) {
  bool Cancel = false;
  BeforeNavigate2(URL, Cancel);
  if (OnBeforeNavigate2) OnBeforeNavigate2(this, URL, Cancel);
  return !Cancel;
}

void TWebBrowser::Navigate(const std::string& URL) {
  const QUrl url = ToUrl(URL);
  const std::string reported = URL.empty() ? std::string("about:blank") : URL;
  if (!DoBeforeNavigate2(reported)) return;
  FLocationURL = StdStr(url.toString(QUrl::FullyEncoded));
  FRequested = URL;
  FDocumentHTML.clear();
  FBaseURL.clear();
  FPending = TPending::Navigate;
  if (FView) {
    RunPending();
  } else if (FViewFailed) {
    ShowWithoutEngine();
  }
}

void TWebBrowser::LoadFromString(const std::string& HTML, const std::string& BaseURL) {
  FLocationURL = "about:blank";
  FDocumentHTML = HTML;
  FBaseURL = BaseURL;
  FRequested.clear();
  FPending = TPending::Html;
  if (FView) {
    RunPending();
  } else if (FViewFailed) {
    ShowWithoutEngine();
  }
}

void TWebBrowser::ShowWithoutEngine() {
  const TPending pending = FPending;
  FPending = TPending::None;
  if (pending == TPending::None) return;
  // The web page asked for: the address navigated to, or the page an HTML
  // text is a copy of (a cached banner is shown under its address).
  const std::string page = pending == TPending::Navigate ? FRequested : FBaseURL;
  if (IsWebAddress(page)) {
    // Once per request: a later show, refresh or resize opens nothing.
    if (OpenURLInBrowser(page))
      SetPageLine(BrowserText("WebBrowser.InBrowser", {page}), page);
    else
      SetPageLine(BrowserText("WebBrowser.NotOpened", {page}), page);
  } else if (pending == TPending::Navigate &&
             (page.empty() || StartsWithText(page, "about:blank"))) {
    // An empty page was asked for, and an empty page it is.
    SetPageLine("", "");
  } else if (pending == TPending::Html && !FLocalPageLine.empty()) {
    SetPageLine(FLocalPageLine, "");
  } else {
    // A page of the program's own, or a local file: only web addresses go
    // to the user's browser.
    SetPageLine(BrowserText("WebBrowser.NoEngine", {}), "");
  }
  // The load ends at once.
  LoadFinished(false);
}

void TWebBrowser::SetPageLine(const std::string& line, const std::string& link) {
  if (!FPageLine) {
    if (line.empty()) return;
    FPageLine = new QLabel(this);
    FPageLine->setObjectName(QStringLiteral("PageLine"));
    FPageLine->setAlignment(Qt::AlignCenter);
    FPageLine->setWordWrap(true);
    FPageLine->setTextFormat(Qt::RichText);
    FPageLine->setOpenExternalLinks(false);
    FPageLine->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    // The address in the line opens again when the user clicks it.
    QObject::connect(FPageLine, &QLabel::linkActivated, FPageLine,
                     [](const QString& url) { OpenURLInBrowser(StdStr(url)); });
    layout()->addWidget(FPageLine);
  }
  QString html = QStr(line).toHtmlEscaped();
  if (!link.empty()) {
    const QString shown = QStr(link).toHtmlEscaped();
    html.replace(shown, QStringLiteral("<a href=\"") + shown + QStringLiteral("\">") + shown +
                            QStringLiteral("</a>"));
  }
  FPageLine->setText(html);
  FPageLine->setProperty("plainText", QStr(line));
  FPageLine->setVisible(!line.empty());
}

std::string TWebBrowser::PageLine() const {
  if (!FPageLine || FPageLine->isHidden()) return std::string();
  return StdStr(FPageLine->property("plainText").toString());
}

void TWebBrowser::RunPending() {
  if (!FView) return;
  FCancelledInLoad = false;
  const TPending pending = FPending;
  FPending = TPending::None;
  if (pending == TPending::Navigate) {
    FView->Load(QUrl(QStr(FLocationURL)));
  } else if (pending == TPending::Html) {
    QUrl base;
    if (!FBaseURL.empty()) {
      base = ToUrl(FBaseURL);
      // A folder as base must end in "/" for relative names to land in it.
      if (base.isLocalFile() && !base.path().endsWith('/') && QFileInfo(base.toLocalFile()).isDir())
        base.setPath(base.path() + '/');
    }
    FView->SetHtml(QStr(FDocumentHTML), base);
  }
}

void TWebBrowser::Stop() {
  FPending = TPending::None;
  if (FView) FView->Stop();
}

void TWebBrowser::Refresh() {
  if (FView) FView->Reload();
}

void TWebBrowser::RunJavaScript(const std::string& script,
                                std::function<void(const std::string&)> result) {
  if (!FView) return;
  if (!result) {
    FView->RunJavaScript(QStr(script), nullptr);
    return;
  }
  FView->RunJavaScript(QStr(script), [result](const QString& v) { result(StdStr(v)); });
}

void TWebBrowser::LoadStarted() {
  FBusy = true;
  if (OnProgressChange) OnProgressChange(this, 0, 100);
}

void TWebBrowser::ProgressChanged(int percent) {
  if (!FBusy) return;
  // The end is reported by LoadFinished, so that "current equals maximum"
  // always means the page is complete.
  if (percent >= 100) percent = 99;
  if (OnProgressChange) OnProgressChange(this, percent, 100);
}

void TWebBrowser::LoadFinished(bool ok) {
  FBusy = false;
  // A navigation the handler cancelled is reported by the engine as a
  // failed load (started before or after the cancel); the page stays as it
  // was and no document was completed.
  const bool cancelled = !ok && FCancelledInLoad;
  FCancelledInLoad = false;
  if (OnProgressChange) OnProgressChange(this, 100, 100);
  if (!cancelled && OnDocumentComplete) OnDocumentComplete(this, FLocationURL);
}
