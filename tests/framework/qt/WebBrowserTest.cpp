// The embedded browser on the real page engine (Qt WebEngine, offscreen):
// it is loaded only when a page is first shown, it reports navigations
// before they happen and lets them be cancelled, it reports progress that
// ends with current equal to maximum, and its switches reach the page.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

#include "FrameworkWindowsSupport.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLWebBanner.h"
#include "support/NetTestServers.h"
#include "vcl/WebHosts.h"

namespace {

// The page engine renders in software when there is no display.
void PrepareEngineEnvironment() {
  if (!std::getenv("QTWEBENGINE_CHROMIUM_FLAGS"))
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 1);
}

// Runs script in the page and waits for its value.
std::string Eval(TWebBrowser* b, const std::string& script) {
  std::string value;
  bool done = false;
  b->RunJavaScript(script, [&](const std::string& v) {
    value = v;
    done = true;
  });
  ProcessUntil([&] { return done; }, 10000);
  return done ? value : "<no answer>";
}

// Clicks the element as the user does, with the mouse on the engine's view
// (a click made by script has no user gesture, and pages may not open
// windows by script).
void UserClick(TWebBrowser* b, const std::string& id) {
  const std::string at = Eval(b, "(function () { var r = document.getElementById('" + id +
                                     "').getBoundingClientRect(); return Math.round(r.left + "
                                     "r.width / 2) + ',' + Math.round(r.top + r.height / 2); })()");
  const size_t comma = at.find(',');
  ASSERT_NE(comma, std::string::npos) << at;
  const QPoint p(std::stoi(at.substr(0, comma)), std::stoi(at.substr(comma + 1)));
  QWidget* target = nullptr;
  for (QWidget* w : b->findChildren<QWidget*>())
    if (std::string(w->metaObject()->className()) == "QWebEngineView") target = w->focusProxy();
  ASSERT_NE(target, nullptr);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, QPointF(p), QPointF(target->mapToGlobal(p)), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
  }
}

class WebBrowserTest : public FrameworkWindowsTest {
 protected:
  void SetUp() override {
    FrameworkWindowsTest::SetUp();
    PrepareEngineEnvironment();
    FServer = std::make_unique<nettest::TestHttpServer>(
        [](const nettest::Request& r, nettest::Connection& c) {
          c.Write(nettest::Response(200, "<html><body id=next>page " + r.target + "</body></html>",
                                    "Content-Type: text/html\r\n"));
        });
  }
  void TearDown() override {
    FWindow.reset();
    FrameworkWindowsTest::TearDown();
    FServer.reset();
  }
  // A shown window with a browser (a web banner when banner is true).
  TWebBrowser* ShownBrowser(bool banner = false) {
    FWindow = std::make_unique<TForm>();
    FWindow->SetClientSize(400, 300);
    TWebBrowser* b = banner ? new TCLWebBanner(FWindow.get()) : new TWebBrowser(FWindow.get());
    b->SetName("wbPage");
    b->SetBounds(0, 0, 400, 300);
    b->OnDocumentComplete = [this](TWebBrowser*, const std::string& url) {
      ++FCompleted;
      FCompletedURLs.push_back(url);
    };
    FWindow->show();
    return b;
  }
  bool WaitComplete(int count) {
    return ProcessUntil([&] { return FCompleted >= count; }, 20000);
  }

  // Pages the server served (the engine's own icon requests left out).
  int PagesServed() const {
    int n = 0;
    for (const auto& r : FServer->Requests())
      if (r.target != "/favicon.ico") ++n;
    return n;
  }

  std::unique_ptr<nettest::TestHttpServer> FServer;
  std::unique_ptr<TForm> FWindow;
  int FCompleted = 0;
  std::vector<std::string> FCompletedURLs;
};

}  // namespace

// Run in a child process of its own (see below): a fresh process in which
// nothing has loaded the page engine yet.
TEST(WebBrowserChild, DISABLED_EngineIsLoadedOnlyWhenAPageIsShown) {
  if (!std::getenv("VG_WEBBROWSER_CHILD")) GTEST_SKIP() << "runs as a child process";
  Sandbox sandbox;
  TestApp();
  PrepareEngineEnvironment();
  ASSERT_FALSE(WebEngineLibraryLoaded());
  // A main window that carries a browser but never shows a page.
  TForm main;
  main.SetClientSize(300, 200);
  auto* hidden = new TWebBrowser(&main);
  hidden->SetVisible(false);
  hidden->LoadFromString("<p>not yet</p>");
  hidden->Navigate("http://127.0.0.1:9/");
  main.show();
  ProcessUntil([] { return false; }, 300);
  EXPECT_FALSE(hidden->ViewCreated());
  EXPECT_FALSE(WebEngineLibraryLoaded());
  // Showing it loads the engine and the page it was given last.
  int complete = 0;
  hidden->OnDocumentComplete = [&](TWebBrowser*, const std::string&) { ++complete; };
  hidden->LoadFromString("<html><body id=b>shown</body></html>");
  hidden->SetVisible(true);
  EXPECT_TRUE(hidden->ViewCreated());
  EXPECT_TRUE(WebEngineLibraryLoaded());
  ASSERT_TRUE(ProcessUntil([&] { return complete > 0; }, 20000));
  EXPECT_EQ(Eval(hidden, "document.body.id"), "b");
}

TEST(WebBrowserLazy, PageEngineStaysUnloadedUntilAPageIsShown) {
  const std::string out = ::testing::TempDir() + "webbrowser-child.txt";
  const std::string cmd =
      "VG_WEBBROWSER_CHILD=1 QT_QPA_PLATFORM=offscreen /proc/" + std::to_string(::getpid()) +
      "/exe --gtest_also_run_disabled_tests "
      "--gtest_filter=WebBrowserChild.DISABLED_EngineIsLoadedOnlyWhenAPageIsShown > '" +
      out + "' 2>&1";
  const int status = std::system(cmd.c_str());
  std::string log;
  platform::ReadWholeFile(out, log);
  ASSERT_TRUE(WIFEXITED(status)) << log;
  EXPECT_EQ(WEXITSTATUS(status), 0) << log;
  EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

TEST_F(WebBrowserTest, HtmlTextLoadsWithProgressEndingAtTheMaximum) {
  TWebBrowser* b = ShownBrowser();
  std::vector<std::pair<int, int>> progress;
  std::vector<std::string> navigations;
  b->OnProgressChange = [&](TWebBrowser*, int p, int m) { progress.emplace_back(p, m); };
  b->OnBeforeNavigate2 = [&](TWebBrowser*, const std::string& url, bool&) {
    navigations.push_back(url);
  };
  b->LoadFromString("<html><head><title>T</title></head><body id=start>Hello</body></html>");
  ASSERT_TRUE(b->ViewCreated());
  ASSERT_TRUE(WaitComplete(1));
  EXPECT_EQ(Eval(b, "document.body.id"), "start");
  EXPECT_EQ(b->LocationURL(), "about:blank");
  EXPECT_TRUE(navigations.empty());  // the program's own text is no navigation
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(100, 100));
  for (size_t i = 0; i + 1 < progress.size(); ++i) {
    EXPECT_EQ(progress[i].second, 100);
    EXPECT_LT(progress[i].first, progress[i].second);  // equal only at the end
  }
  EXPECT_FALSE(b->Busy());
}

TEST_F(WebBrowserTest, CancelledLinksStayAndAllowedLinksNavigate) {
  TWebBrowser* b = ShownBrowser();
  std::vector<std::string> asked;
  b->OnBeforeNavigate2 = [&](TWebBrowser*, const std::string& url, bool& cancel) {
    asked.push_back(url);
    cancel = url.find("/blocked") != std::string::npos;
  };
  const std::string base = FServer->Base();
  b->LoadFromString("<html><body id=start><a id=no href='" + base +
                    "/blocked'>x</a>"
                    "<a id=yes href='" +
                    base + "/allowed'>y</a></body></html>");
  ASSERT_TRUE(WaitComplete(1));
  b->RunJavaScript("document.getElementById('no').click()");
  ASSERT_TRUE(ProcessUntil([&] { return asked.size() == 1; }, 10000));
  ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(asked[0], base + "/blocked");
  EXPECT_EQ(Eval(b, "document.body.id"), "start");
  EXPECT_EQ(FCompleted, 1);
  EXPECT_EQ(PagesServed(), 0);

  b->RunJavaScript("document.getElementById('yes').click()");
  ASSERT_TRUE(ProcessUntil([&] { return FCompleted == 2; }, 20000));
  EXPECT_EQ(FCompletedURLs.back(), base + "/allowed");
  EXPECT_EQ(b->LocationURL(), base + "/allowed");
  EXPECT_EQ(Eval(b, "document.body.textContent"), "page /allowed");
  EXPECT_EQ(PagesServed(), 1);
  // Navigate reports too, and a cancelled one leaves the page alone.
  b->Navigate(base + "/blocked");
  ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(b->LocationURL(), base + "/allowed");
  EXPECT_EQ(PagesServed(), 1);
}

TEST_F(WebBrowserTest, WcmeLinksInABannerOpenTheirPageOutsideAndNeverNavigate) {
  WriteConst({"URL.help=http://127.0.0.1:9/help"});
  Main();
  TWebBrowser* b = ShownBrowser(true);
  const std::string base = FServer->Base();
  b->LoadFromString(
      "<html><body id=start>"
      "<a id=page href='wcme:open?PAGE=help'>help</a>"
      "<a id=nopage href='wcme:open?X=1'>none</a>"
      "<a id=blank target=_blank href='wcme:open?PAGE=help'>new window</a>"
      "<a id=plain href='" +
      base + "/plain'>plain</a></body></html>");
  ASSERT_TRUE(WaitComplete(1));
  b->RunJavaScript("document.getElementById('page').click()");
  auto opened = Opened(1, 10000);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind("http://127.0.0.1:9/help?ACTION=help&", 0), 0u) << opened[0];
  b->RunJavaScript("document.getElementById('nopage').click()");
  UserClick(b, "blank");
  EXPECT_EQ(Opened(2, 10000).size(), 2u);  // the new-window link opens its page too
  ProcessUntil([] { return false; }, 500);
  EXPECT_EQ(Opened().size(), 2u);  // the link without a page opened nothing
  EXPECT_EQ(Eval(b, "document.body.id"), "start");
  EXPECT_EQ(b->LocationURL(), "about:blank");
  EXPECT_EQ(FCompleted, 1);  // cancelled links complete no document
  // An ordinary link navigates.
  b->RunJavaScript("document.getElementById('plain').click()");
  ASSERT_TRUE(ProcessUntil([&] { return FCompleted == 2; }, 20000));
  EXPECT_EQ(FCompletedURLs.back(), base + "/plain");
  EXPECT_EQ(b->LocationURL(), base + "/plain");
  EXPECT_EQ(PagesServed(), 1);
}

TEST_F(WebBrowserTest, SwitchesReachThePage) {
  TWebBrowser* b = ShownBrowser();
  const std::string page =
      "<html><body style='margin:0'><div style='height:5000px;width:5000px'>text</div>"
      "</body></html>";
  b->LoadFromString(page);
  ASSERT_TRUE(WaitComplete(1));
  EXPECT_EQ(Eval(b, "getComputedStyle(document.body).userSelect"), "auto");
  EXPECT_EQ(Eval(b,
                 "(function(){var e=new Event('drop',{cancelable:true});"
                 "document.body.dispatchEvent(e);return String(e.defaultPrevented);})()"),
            "false");
  EXPECT_NE(b->frameStyle(), QFrame::NoFrame);  // the 3-D border by default

  b->SetUserInterfaceOptions(uioDontUse3DBorders | uioDontUseScrollBars | uioDisableSelection |
                             uioDisableHelpMenu | uioDisableContextMenu | uioDisableDrop);
  b->LoadFromString(page);
  ASSERT_TRUE(WaitComplete(2));
  EXPECT_EQ(b->frameStyle(), QFrame::NoFrame);
  EXPECT_EQ(b->contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_EQ(b->View()->findChild<QWidget*>()->contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_EQ(Eval(b, "getComputedStyle(document.body).userSelect"), "none");
  EXPECT_EQ(Eval(b,
                 "(function(){var e=new Event('selectstart',{cancelable:true});"
                 "document.body.dispatchEvent(e);return String(e.defaultPrevented);})()"),
            "true");
  EXPECT_EQ(Eval(b,
                 "(function(){var e=new Event('drop',{cancelable:true});"
                 "document.body.dispatchEvent(e);return String(e.defaultPrevented);})()"),
            "true");
  // No scroll bar takes room from the page.
  EXPECT_EQ(Eval(b, "String(window.innerWidth - document.documentElement.clientWidth)"), "0");
}

TEST_F(WebBrowserTest, LocalFileAndBaseFolderResolve) {
  sb().WriteFile("app/res/page.html", "<html><body id=file><img id=i src='dot.png'></body></html>");
  sb().WriteFile("app/res/dot.png", "");
  TWebBrowser* b = ShownBrowser();
  b->Navigate(sb().Path("app/res/page.html"));
  ASSERT_TRUE(WaitComplete(1));
  EXPECT_EQ(Eval(b, "document.body.id"), "file");
  EXPECT_EQ(b->LocationURL(), "file://" + sb().Path("app/res/page.html"));
  // An HTML text with a base folder finds the folder's files.
  b->LoadFromString("<html><body><img id=i src='dot.png'></body></html>", sb().Path("app/res"));
  ASSERT_TRUE(WaitComplete(2));
  EXPECT_EQ(Eval(b, "document.getElementById('i').src"), "file://" + sb().Path("app/res/dot.png"));
}

// What a page in an embedded view can reach: a local page cannot read the
// user's other files, a script opens no window, and a banner's cached copy
// of a remote page runs as that remote page, not as a local file.
class SecurityWebView : public WebBrowserTest {};

TEST_F(SecurityWebView, PagesReachNeitherLocalFilesNorNewWindows) {
  sb().WriteFile("home/secret.txt", "the user's secret");
  const std::string probe =
      "<script>var x = new XMLHttpRequest();"
      "try { x.open('GET', 'file://" +
      sb().Path("home/secret.txt") +
      "', false); x.send(); document.title = 'read:' + x.responseText; }"
      "catch (e) { document.title = 'blocked'; }"
      "var w = window.open('" +
      FServer->Base() + "/popup'); document.title += w ? ' window' : ' no-window';</script>";
  sb().WriteFile("app/res/probe.html", "<html><body>" + probe + "</body></html>");
  TWebBrowser* b = ShownBrowser();
  std::vector<std::string> reported;
  b->OnBeforeNavigate2 = [&](TWebBrowser*, const std::string& url, bool&) {
    reported.push_back(url);
  };
  b->Navigate(sb().Path("app/res/probe.html"));
  ASSERT_TRUE(WaitComplete(1));
  EXPECT_EQ(Eval(b, "document.title"), "blocked no-window");
  ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(PagesServed(), 0);
  for (const std::string& url : reported) EXPECT_EQ(url.find("/popup"), std::string::npos) << url;
}

TEST_F(SecurityWebView, ABannersCachedCopyRunsAsItsRemotePage) {
  const std::string remote = FServer->Base() + "/banner?a=1";
  WriteConst({"Banner.Top.RemoteURL=" + remote});
  Main();
  sb().WriteFile("home/secret.txt", "the user's secret");
  TCLWebBanner* b = static_cast<TCLWebBanner*>(ShownBrowser(true));
  b->SetBannerName("Top");
  // A copy fetched earlier, as a hostile answer could have placed it.
  ASSERT_TRUE(platform::ForceDirectories(ExtractFileDir(TCLWebBanner::CacheFileName(remote))));
  ASSERT_TRUE(platform::WriteFileAtomic(
      TCLWebBanner::CacheFileName(remote),
      "<html><body id=cached><script>document.title = location.href;</script></body></html>"));
  b->UpdateBanner();
  ASSERT_TRUE(WaitComplete(1));
  EXPECT_EQ(Eval(b, "document.body.id"), "cached");
  EXPECT_EQ(Eval(b, "document.title"), remote);
  EXPECT_EQ(Eval(b, "location.protocol"), "http:");
}
