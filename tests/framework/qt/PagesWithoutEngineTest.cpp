// Pages where the page engine's module is not installed (the program
// without its pages package, and every Windows build): a web page that a
// window would show opens in the user's browser, once per request, and a
// plain line takes the page's place; a page made by the program stays in the
// window as a line. A copy of this test program in a folder without the
// module runs the cases as its child.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QLabel>

#include "FrameworkWindowsSupport.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLWebBanner.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "proxy/uProxyManager.h"
#include "ui/uChooseIPCountry.h"
#include "vcl/WebHosts.h"

namespace {

namespace fs = std::filesystem;

class PagesWithoutEngine : public FrameworkWindowsTest {
 protected:
  void SetUp() override {
    FrameworkWindowsTest::SetUp();
    // The user's default browser is a registered command: every address
    // the program opens is seen here as the command starts, in this process.
    sb().WriteFile("bin/browser", "#!/bin/sh\nexit 0\n");
    ::chmod(sb().Path("bin/browser").c_str(), 0755);
    platform::RegWriteString(platform::RegRoot::ClassesRoot, "HTTP\\shell\\open\\command", "",
                             "\"" + sb().Path("bin/browser") + "\" \"%1\"");
    platform::SetProcessStartObserver([this](const std::string& commandLine) {
      const std::vector<std::string> args = platform::SplitCommandLine(commandLine);
      if (args.size() == 2 && args[0] == sb().Path("bin/browser")) FOpened.push_back(args[1]);
    });
  }
  void TearDown() override {
    platform::SetProcessStartObserver(nullptr);
    FWindow.reset();
    FrameworkWindowsTest::TearDown();
  }
  // A shown window holding the browser (created by make), the engine's
  // main window behind it for the texts.
  template <class T>
  T* Shown(std::function<T*(TForm*)> make) {
    Main();
    FWindow = std::make_unique<TForm>();
    FWindow->SetClientSize(400, 300);
    T* b = make(FWindow.get());
    b->SetBounds(0, 0, 400, 300);
    FWindow->show();
    return b;
  }
  std::string Lib(const std::string& key, const std::vector<std::string>& args = {}) {
    return Engine()->GetLibStringEx(key, args);
  }
  // The line in the page's place as the user sees it: a visible label.
  static bool LineVisible(TWebBrowser* b) {
    auto* label = b->findChild<QLabel*>(QStringLiteral("PageLine"));
    return label && label->isVisible() && !label->text().isEmpty();
  }

  std::vector<std::string> FOpened;
  std::unique_ptr<TForm> FWindow;
};

// --- the cases, run only in the copy without the module ------------------------------------

TEST_F(PagesWithoutEngine, DISABLED_AWebPageOpensInTheUsersBrowserOncePerRequest) {
  std::string error;
  ASSERT_FALSE(LoadWebEngineModule(&error));
  EXPECT_NE(error.find("page engine module not found"), std::string::npos) << error;

  const std::string first = "http://pages.example/first?a=1&b=2";
  Main();
  FWindow = std::make_unique<TForm>();
  auto* b = new TWebBrowser(FWindow.get());
  b->SetBounds(0, 0, 400, 300);
  int completed = 0;
  b->OnDocumentComplete = [&](TWebBrowser*, const std::string&) { ++completed; };
  // Asked before the window shows: nothing opens until it does.
  b->Navigate(first);
  EXPECT_TRUE(FOpened.empty());
  FWindow->show();
  ProcessUntil([] { return false; }, 50);
  EXPECT_FALSE(b->ViewCreated());
  EXPECT_EQ(FOpened, std::vector<std::string>{first});
  EXPECT_EQ(b->PageLine(), Lib("WebBrowser.InBrowser", {first}));
  EXPECT_NE(b->PageLine().find("web browser"), std::string::npos) << b->PageLine();
  EXPECT_TRUE(LineVisible(b));
  EXPECT_EQ(completed, 1);
  // The address in the line is a link: the user's click opens it again.
  auto* label = b->findChild<QLabel*>(QStringLiteral("PageLine"));
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(
      label->text().contains(QStringLiteral("<a href=\"http://pages.example/first?a=1&amp;b=2\">")))
      << StdStr(label->text());
  emit label->linkActivated(QStringLiteral("http://pages.example/first?a=1&b=2"));
  EXPECT_EQ(FOpened, (std::vector<std::string>{first, first}));
  FOpened = {first};

  // Showing the window again, refreshing or resizing is no new request.
  FWindow->hide();
  FWindow->show();
  b->Refresh();
  b->SetBounds(0, 0, 300, 200);
  ProcessUntil([] { return false; }, 50);
  EXPECT_EQ(FOpened, std::vector<std::string>{first});

  // Every later request is carried out at once, the way it fits.
  struct Case {
    const char* what;
    std::function<void()> request;
    std::vector<std::string> opened;  // what opens in the user's browser
    std::string line;
  };
  const std::string second = "https://pages.example/second";
  const std::string copied = "https://banner.example/page.html";
  const std::vector<Case> cases = {
      {"another web page",
       [&] { b->Navigate(second); },
       {second},
       Lib("WebBrowser.InBrowser", {second})},
      {"the same page asked for again",
       [&] { b->Navigate(second); },
       {second},
       Lib("WebBrowser.InBrowser", {second})},
      {"a copy of a web page, shown under its address",
       [&] { b->LoadFromString("<p>copy</p>", copied); },
       {copied},
       Lib("WebBrowser.InBrowser", {copied})},
      {"a page of the program's own",
       [&] { b->LoadFromString("<p>made here</p>"); },
       {},
       Lib("WebBrowser.NoEngine")},
      {"a page of the program's own with its line",
       [&] {
         b->SetLocalPageLine("Berlin lies at 52.52, 13.40.");
         b->LoadFromString("<p>map</p>");
       },
       {},
       "Berlin lies at 52.52, 13.40."},
      {"a local file",
       [&] { b->Navigate(sb().Path("app/page.html")); },
       {},
       Lib("WebBrowser.NoEngine")},
      {"an empty page", [&] { b->Navigate(""); }, {}, ""},
      {"a web page when no browser can be started",
       [&] {
         platform::RegWriteString(platform::RegRoot::ClassesRoot, "HTTP\\shell\\open\\command", "",
                                  "\"" + sb().Path("bin/missing") + "\" \"%1\"");
         b->Navigate(second);
       },
       {},
       Lib("WebBrowser.NotOpened", {second})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FOpened.clear();
    c.request();
    EXPECT_EQ(FOpened, c.opened);
    EXPECT_EQ(b->PageLine(), c.line);
    EXPECT_EQ(LineVisible(b), !c.line.empty());
  }

  // A navigation the owner cancels opens nothing and leaves the line.
  b->SetLocalPageLine("");
  b->LoadFromString("<p>made here</p>");
  FOpened.clear();
  b->OnBeforeNavigate2 = [](TWebBrowser*, const std::string&, bool& cancel) { cancel = true; };
  b->Navigate(first);
  EXPECT_TRUE(FOpened.empty());
  EXPECT_EQ(b->PageLine(), Lib("WebBrowser.NoEngine"));
}

TEST_F(PagesWithoutEngine, DISABLED_TheBannerOpensItsPageInTheUsersBrowser) {
  const std::string direct = "http://banner.example/direct.html";
  const std::string remote = "http://banner.example/remote.html";
  WriteConst({"Banner.Top.URL=" + direct, "Banner.Cached.RemoteURL=" + remote,
              "URL.help=http://service.example/help"});
  TCLWebBanner* top = Shown<TCLWebBanner>([](TForm* w) {
    auto* banner = new TCLWebBanner(w);
    banner->SetBannerName("Top");
    banner->UpdateBanner();
    return banner;
  });
  ProcessUntil([] { return false; }, 50);
  EXPECT_EQ(FOpened, std::vector<std::string>{direct});
  EXPECT_EQ(top->PageLine(), Lib("WebBrowser.InBrowser", {direct}));

  // A cached copy of the remote page: the remote page itself opens.
  platform::ForceDirectories(ExtractFileDir(TCLWebBanner::CacheFileName(remote)));
  platform::WriteWholeFile(TCLWebBanner::CacheFileName(remote), "<p>cached</p>");
  FOpened.clear();
  auto* cached = new TCLWebBanner(FWindow.get());
  cached->SetBannerName("Cached");
  cached->SetBounds(0, 0, 400, 100);
  cached->show();
  cached->UpdateBanner();
  EXPECT_EQ(FOpened, std::vector<std::string>{remote});
  EXPECT_EQ(cached->PageLine(), Lib("WebBrowser.InBrowser", {remote}));

  // The application's own links still name pages to open, not navigations.
  FOpened.clear();
  top->Navigate("wcme:?PAGE=help");
  ASSERT_EQ(FOpened.size(), 1u);
  EXPECT_EQ(FOpened[0].rfind("http://service.example/help?ACTION=help&", 0), 0u) << FOpened[0];
  // The banner's line still names the page it opened.
  EXPECT_EQ(top->PageLine(), Lib("WebBrowser.InBrowser", {direct}));
}

TEST_F(PagesWithoutEngine, DISABLED_TheCountryMapNamesThePlaceAndOpensNothing) {
  WriteConst(
      {"NORMAL_IPS=192.0.2.1:8080|United States|US|-97|38;192.0.2.2:3128|France|FR|2.35|"
       "48.85"});
  sb().WriteFile("app/res/map.tpl", testsupport::ReadText(VG_SOURCE_DIR "/res/map.tpl"));
  Main();
  TProxyManager manager;
  manager.LoadSettings();
  manager.FTargetCountry = "US";
  std::unique_ptr<TfrmChooseIPCountry> d(CreateForm<TfrmChooseIPCountry>(nullptr, &manager));
  d->show();
  ProcessUntil([] { return false; }, 50);
  EXPECT_FALSE(d->wbMap->ViewCreated());
  EXPECT_EQ(d->wbMap->PageLine(), Engine()->GetAppStringEx("Map.NoEngine", {"38", "-97"}));
  EXPECT_TRUE(LineVisible(d->wbMap));
  EXPECT_FALSE(d->sgLoadingMap->isVisible());
  // Choosing another country moves the line to its place; still nothing
  // opens in the user's browser.
  d->cbbCountry->SetItemIndex(2);
  EXPECT_EQ(d->wbMap->PageLine(), Engine()->GetAppStringEx("Map.NoEngine", {"48.85", "2.35"}));
  EXPECT_TRUE(FOpened.empty());
}

// --- the copy without the module ---------------------------------------------------------------

TEST(PagesWithoutEngineCopy, EveryPageCaseHoldsInAProgramWithoutThePageEngine) {
  Sandbox sandbox;
  const std::string dir = sandbox.Path("installed/bin");
  fs::create_directories(dir);
  const std::string copy = dir + "/test_ui";
  std::error_code ec;
  fs::create_hard_link(fs::canonical("/proc/self/exe"), copy, ec);
  if (ec) fs::copy_file("/proc/self/exe", copy);
  const std::string out = sandbox.Path("child.log");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execl(copy.c_str(), copy.c_str(), "--gtest_also_run_disabled_tests",
            "--gtest_filter=PagesWithoutEngine.DISABLED_*", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const std::string log = sandbox.ReadFile("child.log");
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by a signal\n" << log;
  EXPECT_EQ(WEXITSTATUS(status), 0) << log;
  EXPECT_NE(log.find("[  PASSED  ] 3 tests"), std::string::npos) << log;
}

}  // namespace
#endif
