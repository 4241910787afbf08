// The boundary between the embedded browser (vcl/WebHosts) and the page
// engine. The engine side lives in a module of its own (vcl/webengine) that
// the browser loads when it first needs a view, so that a process that never
// shows a page never maps the page engine's libraries.
//
// Only Qt Core and Widgets types cross the boundary; both sides use the same
// Qt libraries of the process.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>

// Switches of the browser's user interface; combine with |.
enum TUserInterfaceOption : uint32_t {
  uioNone = 0,
  uioDontUse3DBorders = 1u << 0,    // no sunken frame around the page
  uioDontUseScrollBars = 1u << 1,   // the page never shows scroll bars
  uioDisableSelection = 1u << 2,    // the user cannot select text
  uioDisableHelpMenu = 1u << 3,     // F1 and the help menu do nothing
  uioDisableContextMenu = 1u << 4,  // no context menu of any kind
  uioDisableDrop = 1u << 5,         // files or links dropped on the page are ignored
};
using TUserInterfaceOptions = uint32_t;

// What the view reports to its browser, on the user-interface thread.
class IWebViewClient {
 public:
  virtual ~IWebViewClient() = default;
  // A navigation the page asks for (link, form, script, redirect, frame,
  // new window). False cancels it. Not called for the browser's own loads.
  virtual bool WebNavigationRequested(const QUrl& url, bool isMainFrame) = 0;
  virtual void WebLoadStarted() = 0;
  virtual void WebLoadProgress(int percent) = 0;
  virtual void WebLoadFinished(bool ok) = 0;
};

class IWebView {
 public:
  virtual ~IWebView() = default;
  // The view's widget (owned by the parent given at creation).
  virtual QWidget* Widget() = 0;
  virtual void Load(const QUrl& url) = 0;
  virtual void SetHtml(const QString& html, const QUrl& baseUrl) = 0;
  virtual void Stop() = 0;
  virtual void Reload() = 0;
  // TUserInterfaceOption bits (vcl/WebHosts.h).
  virtual void SetOptions(uint32_t options) = 0;
  // Runs a script in the page; result (may be empty) receives the script's
  // value as text once it has run.
  virtual void RunJavaScript(const QString& script, std::function<void(const QString&)> result) = 0;
};

// Version of this boundary; the module and the browser must agree.
inline constexpr int kWebViewModuleAbi = 1;

// Exported by the module:
//   extern "C" int vg_web_view_abi();
//   extern "C" IWebView* vg_create_web_view(IWebViewClient* client, QWidget* parent);
using TWebViewAbiFunc = int (*)();
using TCreateWebViewFunc = IWebView* (*)(IWebViewClient* client, QWidget* parent);
