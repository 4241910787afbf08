// The page engine side of the embedded browser: a Qt WebEngine view whose
// page asks the browser before every navigation it did not start itself.
// Built as a module of its own and loaded on first use (vcl/WebViewModule.h).
#include <QPointer>
#include <QVariant>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "vcl/WebViewModule.h"

namespace {

const char* const kOptionsScriptName = "vg-browser-options";

// Text selection and dropping are switched off inside the page itself: the
// view has no switch for either.
QString OptionsScript(uint32_t options) {
  QString js = QStringLiteral("(function(){\n");
  if (options & uioDisableSelection) {
    js += QStringLiteral(
        "document.addEventListener('selectstart',function(e){e.preventDefault();},true);\n"
        "var addStyle=function(){var s=document.createElement('style');"
        "s.textContent='*{-webkit-user-select:none !important;user-select:none !important}';"
        "(document.head||document.documentElement).appendChild(s);};\n"
        "if(document.readyState==='loading')"
        "document.addEventListener('DOMContentLoaded',addStyle);else addStyle();\n");
  }
  if (options & uioDisableDrop) {
    js += QStringLiteral(
        "window.addEventListener('dragover',function(e){e.preventDefault();"
        "if(e.dataTransfer)e.dataTransfer.dropEffect='none';},true);\n"
        "window.addEventListener('drop',function(e){e.preventDefault();e.stopPropagation();},"
        "true);\n");
  }
  js += QStringLiteral("})();");
  return js;
}

class TEngineView;

// A page opened by the page for a new window (target="_blank",
// window.open): its first navigation is reported like any other and, when
// allowed, carried out in the browser's own view. The page then goes.
class TNewWindowPage : public QWebEnginePage {
 public:
  TNewWindowPage(QWebEngineProfile* profile, TEngineView* owner);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 private:
  TEngineView* FOwner;
  bool FDone = false;
};

// What a page in an embedded view may not do: a local page may not read
// other local files (and carry them away by navigating), and no script opens
// a window of its own (links that ask for one still pass the navigation
// handler).
void LockDown(QWebEngineSettings* settings) {
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
}

class TEnginePage : public QWebEnginePage {
 public:
  TEnginePage(QWebEngineProfile* profile, TEngineView* owner, IWebViewClient* client)
      : QWebEnginePage(profile, nullptr), FOwner(owner), FClient(client) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    // The browser's own loads (Load, SetHtml, Reload) were reported when
    // they were asked for.
    if (type == NavigationTypeTyped || type == NavigationTypeReload) return true;
    return FClient->WebNavigationRequested(url, isMainFrame);
  }
  QWebEnginePage* createWindow(WebWindowType) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}

 private:
  TEngineView* FOwner;
  IWebViewClient* FClient;
};

class TEngineView : public QWidget, public IWebView {
 public:
  TEngineView(IWebViewClient* client, QWidget* parent) : QWidget(parent), FClient(client) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FView = new QWebEngineView(this);
    layout->addWidget(FView);
    FPage = new TEnginePage(QWebEngineProfile::defaultProfile(), this, client);
    FPage->setParent(FView);
    // "wcme:" and other schemes the engine does not know reach
    // acceptNavigationRequest too, so the browser can cancel them.
    FPage->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    LockDown(FPage->settings());
    FView->setPage(FPage);
    QObject::connect(FView, &QWebEngineView::loadStarted, this,
                     [this] { FClient->WebLoadStarted(); });
    QObject::connect(FView, &QWebEngineView::loadProgress, this,
                     [this](int p) { FClient->WebLoadProgress(p); });
    QObject::connect(FView, &QWebEngineView::loadFinished, this,
                     [this](bool ok) { FClient->WebLoadFinished(ok); });
  }
  ~TEngineView() override {
    // The page must go before the view and the profile.
    FView->setPage(nullptr);
    delete FPage;
  }

  QWidget* Widget() override { return this; }
  void Load(const QUrl& url) override { FView->load(url); }
  void SetHtml(const QString& html, const QUrl& baseUrl) override { FView->setHtml(html, baseUrl); }
  void Stop() override { FView->stop(); }
  void Reload() override { FView->reload(); }
  void RunJavaScript(const QString& script, std::function<void(const QString&)> result) override {
    if (!result) {
      FPage->runJavaScript(script);
      return;
    }
    FPage->runJavaScript(script, [result](const QVariant& v) { result(v.toString()); });
  }

  void SetOptions(uint32_t options) override {
    FPage->settings()->setAttribute(QWebEngineSettings::ShowScrollBars,
                                    !(options & uioDontUseScrollBars));
    FView->setContextMenuPolicy((options & uioDisableContextMenu) ? Qt::NoContextMenu
                                                                  : Qt::DefaultContextMenu);
    const bool drop = !(options & uioDisableDrop);
    FView->setAcceptDrops(drop);
    if (QWidget* proxy = FView->focusProxy()) proxy->setAcceptDrops(drop);
    // The help menu: the engine has none, so there is nothing to switch off.
    QWebEngineScriptCollection& scripts = FPage->scripts();
    for (const QWebEngineScript& s : scripts.find(QString::fromLatin1(kOptionsScriptName)))
      scripts.remove(s);
    if (options & (uioDisableSelection | uioDisableDrop)) {
      QWebEngineScript script;
      script.setName(QString::fromLatin1(kOptionsScriptName));
      script.setInjectionPoint(QWebEngineScript::DocumentCreation);
      script.setWorldId(QWebEngineScript::MainWorld);
      script.setRunsOnSubFrames(true);
      script.setSourceCode(OptionsScript(options));
      scripts.insert(script);
      // The page already shown follows at once.
      FPage->runJavaScript(script.sourceCode());
    }
  }

  // A navigation of a new-window page: reported, and carried out here.
  bool NewWindowNavigation(const QUrl& url) {
    if (!FClient->WebNavigationRequested(url, true)) return false;
    FView->load(url);
    return false;
  }

 private:
  IWebViewClient* FClient;
  QWebEngineView* FView = nullptr;
  TEnginePage* FPage = nullptr;
};

TNewWindowPage::TNewWindowPage(QWebEngineProfile* profile, TEngineView* owner)
    : QWebEnginePage(profile, owner), FOwner(owner) {
  settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
  LockDown(settings());
}

bool TNewWindowPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
  if (!isMainFrame || FDone) return false;
  FDone = true;
  QPointer<TNewWindowPage> self(this);
  FOwner->NewWindowNavigation(url);
  if (self) self->deleteLater();
  return false;
}

QWebEnginePage* TEnginePage::createWindow(WebWindowType) {
  return new TNewWindowPage(profile(), FOwner);
}

}  // namespace

extern "C" Q_DECL_EXPORT int vg_web_view_abi() { return kWebViewModuleAbi; }

extern "C" Q_DECL_EXPORT IWebView* vg_create_web_view(IWebViewClient* client, QWidget* parent) {
  return new TEngineView(client, parent);
}
