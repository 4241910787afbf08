// The web banner: which address it shows for its four settings, the cache
// of remote pages filled through the engine (once per address), and the
// before-navigate chain through the engine's "wcme:" handling. The banner
// is never shown here, so the page engine stays unloaded: the browser keeps
// the navigation for the moment it is shown.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "FrameworkWindowsSupport.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLWebBanner.h"
#include "support/NetTestServers.h"

namespace {

class WebBannerTest : public FrameworkWindowsTest {
 protected:
  void SetUp() override {
    FrameworkWindowsTest::SetUp();
    FServer = std::make_unique<nettest::TestHttpServer>(
        [](const nettest::Request& r, nettest::Connection& c) {
          c.Write(nettest::Response(200, "<html><body>banner " + r.target + "</body></html>",
                                    "Content-Type: text/html\r\n"));
        });
  }
  void TearDown() override {
    FrameworkWindowsTest::TearDown();
    FServer.reset();
  }
  // A banner on a window of its own, owned by the main window, not shown.
  TCLWebBanner* Banner(const std::string& name) {
    auto* host = new TForm(Main());
    auto* banner = new TCLWebBanner(host);
    banner->SetName("wbBanner");
    banner->SetBannerName(name);
    return banner;
  }
  std::unique_ptr<nettest::TestHttpServer> FServer;
};

}  // namespace

TEST_F(WebBannerTest, DirectAddressInTheProgramFolderShowsTheLocalFile) {
  sb().WriteFile("app/res/banner.html", "<html><body>local</body></html>");
  WriteConst({"Banner.Side.URL=%EXEPATH%\\res\\banner.html"});
  TCLWebBanner* b = Banner("Side");
  b->UpdateBanner();
  EXPECT_EQ(b->URL(), sb().Path("app/res/banner.html"));
  EXPECT_EQ(b->LocationURL(), "file://" + sb().Path("app/res/banner.html"));
  EXPECT_FALSE(b->ViewCreated());
  EXPECT_EQ(Engine()->DownloadCacheList().Count(), 0);
  EXPECT_EQ(FServer->RequestCount(), 0);
}

TEST_F(WebBannerTest, RemoteAddressShowsTheFallbackFirstAndTheCacheNextTime) {
  const std::string remote = FServer->Base() + "/banner?a=1&b=2";
  WriteConst({"Banner.Top.RemoteURL=" + remote, "Banner.Top.URL=http://127.0.0.1:9/fallback"});
  const std::string cache = TCLWebBanner::CacheFileName(remote);
  std::string expectedName = remote;
  for (char& c : expectedName)
    if (std::string("/:\\?&=").find(c) != std::string::npos) c = '_';
  EXPECT_EQ(cache, JoinPath(JoinPath(GetCLSettings()->UserDataPath(), "Banners"), expectedName));

  TCLWebBanner* first = Banner("Top");
  first->UpdateBanner();
  EXPECT_EQ(first->URL(), "http://127.0.0.1:9/fallback");
  EXPECT_EQ(first->PendingDownload(), remote);
  // The downloader copies its finished file over the cache name.
  const std::string expected = "<html><body>banner /banner?a=1&b=2</body></html>";
  std::string page;
  EXPECT_TRUE(
      ProcessUntil([&] { return platform::ReadWholeFile(cache, page) && page == expected; }, 10000))
      << page;
  EXPECT_EQ(FServer->RequestCount(), 1);

  // The next update shows the cached copy, as the page of its remote
  // address (never as a local file), and downloads nothing.
  TCLWebBanner* next = Banner("Top");
  next->UpdateBanner();
  EXPECT_EQ(next->URL(), remote);
  EXPECT_EQ(next->DocumentHTML(), expected);
  EXPECT_EQ(next->LocationURL().find("file:"), std::string::npos) << next->LocationURL();
  EXPECT_EQ(next->PendingDownload(), "");
  ASSERT_TRUE(ProcessPosted());
  EXPECT_EQ(FServer->RequestCount(), 1);
  EXPECT_EQ(Engine()->DownloadCacheList().Count(), 1);
}

TEST_F(WebBannerTest, FirstChoiceSettingsComeFirstAndTheSecondRemoteCacheWins) {
  const std::string remoteA = FServer->Base() + "/a";
  const std::string remoteB = FServer->Base() + "/b";
  WriteConst({"Banner.Top.RemoteURLA=" + remoteA, "Banner.Top.URLA=http://127.0.0.1:9/a-direct",
              "Banner.Top.RemoteURL=" + remoteB, "Banner.Top.URL=http://127.0.0.1:9/b-direct"});
  TCLWebBanner* b = Banner("Top");
  b->UpdateBanner();
  // No cache yet: the first-choice direct address, and the first-choice
  // remote is fetched.
  EXPECT_EQ(b->URL(), "http://127.0.0.1:9/a-direct");
  EXPECT_EQ(b->PendingDownload(), remoteA);
  std::string page;
  ASSERT_TRUE(ProcessUntil(
      [&] {
        return platform::ReadWholeFile(TCLWebBanner::CacheFileName(remoteA), page) && !page.empty();
      },
      10000));
  b->UpdateBanner();
  EXPECT_EQ(b->URL(), remoteA);
  EXPECT_EQ(b->DocumentHTML(), page);
}

TEST_F(WebBannerTest, NoSettingsNavigateToAnEmptyAddressAndDownloadNothing) {
  WriteConst({});
  std::vector<std::string> reported;
  TCLWebBanner* b = Banner("Nothing");
  b->OnUserBeforeNavigate2 = [&](TWebBrowser*, const std::string& url, bool&) {
    reported.push_back(url);
  };
  b->UpdateBanner();
  EXPECT_EQ(b->URL(), "");
  EXPECT_EQ(b->LocationURL(), "about:blank");
  EXPECT_EQ(reported, std::vector<std::string>{"about:blank"});
  EXPECT_EQ(Engine()->DownloadCacheList().Count(), 0);
  EXPECT_EQ(FServer->RequestCount(), 0);
}

TEST_F(WebBannerTest, LinksPassTheEngineFirstThenTheUserHandler) {
  WriteConst({"URL.home=http://127.0.0.1:9/home"});
  TCLWebBanner* b = Banner("");
  std::vector<std::pair<std::string, bool>> user;  // what the user's handler saw
  b->OnUserBeforeNavigate2 = [&](TWebBrowser*, const std::string& url, bool& cancel) {
    user.emplace_back(url, cancel);
  };
  // A "wcme:" link with a page: opened in the default browser, cancelled.
  EXPECT_FALSE(b->DoBeforeNavigate2("wcme:open?PAGE=home"));
  const auto opened = Opened(1);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind("http://127.0.0.1:9/home?ACTION=home&", 0), 0u) << opened[0];
  // Without a page: nothing opens, still cancelled.
  EXPECT_FALSE(b->DoBeforeNavigate2("WCME:open?OTHER=1"));
  // An ordinary link navigates.
  EXPECT_TRUE(b->DoBeforeNavigate2("http://127.0.0.1:9/next"));
  ASSERT_EQ(user.size(), 3u);
  EXPECT_TRUE(user[0].second);  // the engine had already cancelled it
  EXPECT_TRUE(user[1].second);
  EXPECT_FALSE(user[2].second);
  Opened(1, 30000);
  ASSERT_TRUE(ProcessPosted());
  EXPECT_EQ(Opened().size(), 1u);
}

TEST_F(WebBannerTest, LoadingWithANameUpdatesAndThePageHasNo3DBorder) {
  WriteConst({"Banner.Side.URL=http://127.0.0.1:9/side"});
  Main();
  // A window whose design names the banner: loading shows it.
  class THost : public TForm {
   public:
    THost() {
      banner = new TCLWebBanner(this);
      banner->SetName("wbBanner");
      banner->SetBannerName("Side");
    }
    TCLWebBanner* banner;
  };
  std::unique_ptr<THost> host(CreateForm<THost>());
  EXPECT_EQ(host->banner->URL(), "http://127.0.0.1:9/side");
  EXPECT_TRUE(host->banner->UserInterfaceOptions() & uioDontUse3DBorders);
  EXPECT_EQ(host->banner->frameStyle(), QFrame::NoFrame);
  EXPECT_EQ(host->banner->ClassName(), "TCLWebBanner");
}
