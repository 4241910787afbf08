// The embedded web browser of the component layer.
//
// TWebBrowser shows a page inside a window: an address, a local file or an
// HTML text given by the program. Every navigation is reported before it
// happens (OnBeforeNavigate2) and may be cancelled there; loading progress
// is reported as a current and a maximum value (OnProgressChange; the two
// are equal when loading has ended). Text selection, the help menu, scroll
// bars, the 3-D border, context menus and dropping can each be switched off
// (UserInterfaceOptions).
//
// The page engine (Qt WebEngine) is heavy, so the browser creates it only
// when it is first shown (or when CreateView is called), and loads it from a
// module of its own (vcl/WebViewModule.h) so that a process that never
// shows a page does not even map its libraries. Until then the calls are
// remembered: the last Navigate or LoadFromString is carried out when the
// view is created, and the options are applied to it then.
//
// Without the page engine (its module is not installed, and the Windows
// build has none), the browser never stays a blank area: a web page it is
// asked to show opens in the user's browser, once per request, and a plain
// line takes the page's place, saying so. A page made by the program itself
// (an HTML text without a web address as its base) cannot go to the user's
// browser; its line says that the page cannot be shown here, or says what
// the owner set with SetLocalPageLine.
//
// TEmbeddedWB is the same browser under the class name the translator's
// exclusion list knows; it additionally publishes the option set.
#pragma once

#include <QFrame>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/StringList.h"
#include "vcl/Controls.h"
#include "vcl/WebViewModule.h"

class QLabel;
class TWebViewClient;

// The texts of the line shown in place of a page, by key ("WebBrowser.*")
// with "{1}" arguments. The framework's engine provides them from the
// language file; without a provider a text is its key, marked as missing.
using TWebBrowserTexts =
    std::function<std::string(const std::string& key, const std::vector<std::string>& args)>;
void SetWebBrowserTexts(TWebBrowserTexts texts);

class TWebBrowser : public TVclControl<QFrame> {
 public:
  // (ASender, URL, Cancel): set Cancel to keep the view where it is.
  using TBeforeNavigate2Event =
      std::function<void(TWebBrowser* ASender, const std::string& URL, bool& Cancel)>;
  // (ASender, Progress, ProgressMax): Progress == ProgressMax once loading ends.
  using TProgressChangeEvent =
      std::function<void(TWebBrowser* ASender, int Progress, int ProgressMax)>;
  // (ASender, URL): a page has finished loading (also when it failed to
  // load; not for a navigation that OnBeforeNavigate2 cancelled).
  using TDocumentCompleteEvent = std::function<void(TWebBrowser* ASender, const std::string& URL)>;

  explicit TWebBrowser(TCLComponent* AOwner, QWidget* AParent = nullptr);
  ~TWebBrowser() override;
  std::string ClassName() const override { return "TWebBrowser"; }
  const TCLPropTable& PropTable() const override;

  // Navigates to an address ("http://...", "file:///...", "about:blank"), or
  // to a local file when URL is a path. An empty URL shows an empty page.
  // The navigation is reported to OnBeforeNavigate2 first.
  void Navigate(const std::string& URL);
  // Shows an HTML text (UTF-8) as the page; LocationURL becomes
  // "about:blank". BaseURL (an address or a local folder path ending in a
  // separator) resolves relative links and pictures; empty: none. The
  // program's own text is not a navigation: OnBeforeNavigate2 is not called
  // for it, only for what the page does afterwards.
  void LoadFromString(const std::string& HTML, const std::string& BaseURL = "");
  void LoadFromStrings(const TStringList& Lines, const std::string& BaseURL = "") {
    LoadFromString(Lines.Text(), BaseURL);
  }
  // Stops a load in progress.
  void Stop();
  void Refresh();

  // The address last navigated to ("about:blank" for an HTML text).
  std::string LocationURL() const { return FLocationURL; }
  void SetLocationURL(const std::string& v) { FLocationURL = v; }
  // The HTML text last given to LoadFromString (empty after Navigate).
  const std::string& DocumentHTML() const { return FDocumentHTML; }
  // True while a page loads.
  bool Busy() const { return FBusy; }
  // Silent: script errors and dialogs of the page are not shown.
  bool Silent() const { return FSilent; }
  void SetSilent(bool v) { FSilent = v; }

  TUserInterfaceOptions UserInterfaceOptions() const { return FOptions; }
  void SetUserInterfaceOptions(TUserInterfaceOptions v);
  void IncludeOption(TUserInterfaceOption o) { SetUserInterfaceOptions(FOptions | o); }
  void ExcludeOption(TUserInterfaceOption o) { SetUserInterfaceOptions(FOptions & ~o); }

  // Creates the page engine's view now, shown or not (normally it is
  // created when the browser is first shown). False when the page engine
  // cannot be loaded; the browser then still reports its navigations, and
  // shows what is asked of it without the engine (see above).
  bool CreateView();
  bool ViewCreated() const { return FView != nullptr; }
  // The page engine's view widget (null until created).
  QWidget* View() const;
  // Without the page engine: the line shown in place of the page (empty
  // while nothing is shown that way, and always with a page engine).
  std::string PageLine() const;
  // The line shown in place of a page made by the program (LoadFromString
  // without a web address as base) when there is no page engine; empty:
  // the general one. Applies from the next LoadFromString on.
  void SetLocalPageLine(const std::string& line) { FLocalPageLine = line; }

  // Runs a script in the page shown; result (optional) receives its value
  // as text. Nothing happens before the view exists.
  void RunJavaScript(const std::string& script,
                     std::function<void(const std::string&)> result = nullptr);

  // Events, called on the user-interface thread.
  TBeforeNavigate2Event OnBeforeNavigate2;
  TProgressChangeEvent OnProgressChange;
  TDocumentCompleteEvent OnDocumentComplete;

  // Reports a navigation: BeforeNavigate2, then OnBeforeNavigate2. True
  // lets it go on.
  bool DoBeforeNavigate2(const std::string& URL);

 protected:
  void showEvent(QShowEvent* e) override;
  // The browser's own step before OnBeforeNavigate2; a subclass may cancel.
  virtual void BeforeNavigate2(const std::string& URL, bool& Cancel);

 private:
  friend class TWebViewClient;
  enum class TPending { None, Navigate, Html };
  void ApplyOptions();
  void RunPending();
  void LoadStarted();
  void ProgressChanged(int percent);
  void LoadFinished(bool ok);
  // Without the page engine: carries out the pending request outside (a web
  // page in the user's browser) and puts the line in the page's place.
  void ShowWithoutEngine();
  void SetPageLine(const std::string& line, const std::string& link);

  std::unique_ptr<TWebViewClient> FClient;
  IWebView* FView = nullptr;
  bool FViewFailed = false;
  std::string FLocationURL;
  std::string FDocumentHTML;
  std::string FBaseURL;
  // The address as it was asked for (Navigate), before it became a URL.
  std::string FRequested;
  std::string FLocalPageLine;
  QLabel* FPageLine = nullptr;
  TPending FPending = TPending::None;
  bool FBusy = false;
  bool FCancelledInLoad = false;
  bool FSilent = true;
  TUserInterfaceOptions FOptions = uioNone;
};

// The same browser under the class name of the embedded-browser component.
class TEmbeddedWB : public TWebBrowser {
 public:
  explicit TEmbeddedWB(TCLComponent* AOwner, QWidget* AParent = nullptr)
      : TWebBrowser(AOwner, AParent) {}
  std::string ClassName() const override { return "TEmbeddedWB"; }
  const TCLPropTable& PropTable() const override;
};

// Whether this process has mapped the page engine's library (reads the
// process's mapped files; false where they cannot be read).
bool WebEngineLibraryLoaded();
// Loads the page engine's module if needed; false with a reason when it is
// missing or does not fit.
bool LoadWebEngineModule(std::string* error = nullptr);
// Sets what the page engine reads from the environment when it starts:
// under root its sandbox is switched off (QTWEBENGINE_DISABLE_SANDBOX=1), as
// the engine refuses to run sandboxed as root. Call it first thing in main,
// while the process has one thread: changing the environment may move it,
// and another thread's getenv (a library's constructor run by a module
// load, say) would then read freed memory. Every program that links the
// browser runs it before main as well.
void PrepareWebEngineProcess();
