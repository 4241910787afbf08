// The hide session without a window: what a hide and a stop do to the
// browsers' settings (the Internet Settings values, Opera's preferences),
// the refusals that change nothing, the one-second guard, the whole-minute
// count of the change-IP timer, the half-hour touch of a super proxy, and
// the one word about what the first switch reached. Runs natively and under
// Wine, with a clock the test moves.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/CLSettings.h"
#include "platform/Registry.h"
#include "proxy/uProxyManager.h"
#include "switch/THideSession.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

const char* const kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Two United States proxies, one French; one Japanese super proxy.
const char* const kLists =
    "NORMAL_IPS=192.0.2.1:8080|United States|US|-97|38;192.0.2.2:3128|United States|US|-90|35;"
    "192.0.2.3:80|France|FR|2|48";
const char* const kSuper = "SUPER_IPS=192.0.2.9:8000|Japan|JP|138|36";

const double kSecond = 1.0 / 86400.0;
const double kMinute = 1.0 / 1440.0;

// A generator that always draws 0: the super list comes first.
struct TFirstDraw : IProxyRandom {
  void Randomize() override {}
  int Random(int) override { return 0; }
};

class HideSessionTest : public SwitchTest {
 protected:
  // A session over the lists, every switch on unless the lines say
  // otherwise, the user's own system proxy in place, the clock at noon.
  void Start(std::vector<std::string> lines = {}) {
    lines.insert(lines.begin(), {"Setting.NoAllUser=1", kLists, kSuper});
    for (const char* option : {"SWITCH.IE", "SWITCH.OPERA"}) {
      bool given = false;
      for (const std::string& l : lines) given = given || l.rfind(option, 0) == 0;
      if (!given) lines.push_back(std::string(option) + "=1");
    }
    Settings(lines);
    sb().WriteFile("config/Opera/Opera/operaprefs.ini", "[User Prefs]\nLanguage=en\n");
    platform::RegWriteString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer",
                             "user.example:3128");
    platform::RegWriteDword(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", 1);
    FManager = std::make_unique<TProxyManager>();
    ASSERT_TRUE(FManager->LoadSettings());
    FSession = std::make_unique<THideSession>(*FManager, [this] { return FNow; });
  }
  void TearDown() override {
    FSession.reset();
    FManager.reset();
    SwitchTest::TearDown();
  }
  std::string RegServer() {
    std::string v;
    return platform::RegReadString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer", v)
               ? v
               : "<missing>";
  }
  std::string Opera() { return sb().ReadFile("config/Opera/Opera/operaprefs.ini"); }
  bool OperaUses(const std::string& proxy) {
    return Opera().find("HTTP server=" + proxy) != std::string::npos &&
           Opera().find("Use HTTP=1") != std::string::npos;
  }

  double FNow = 46000.5;
  std::unique_ptr<TProxyManager> FManager;
  std::unique_ptr<THideSession> FSession;
};

}  // namespace

TEST_F(HideSessionTest, HideSwitchesTheBrowsersAndStopPutsTheUsersOwnBack) {
  Start();
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  const std::string p = FSession->ProxyText();
  EXPECT_EQ(FSession->Proxy().Country_Short, "US");
  EXPECT_TRUE(FSession->Hiding());
  EXPECT_EQ(RegServer(), "http=" + p + ";ftp=" + p + ";https=" + p + ";");
  EXPECT_TRUE(OperaUses(p)) << Opera();
  EXPECT_DOUBLE_EQ(FSession->FLastChangeIPTime, FNow);

  // A hide while hiding moves to the other idle proxy of the country.
  FNow += 2 * kSecond;
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  const std::string q = FSession->ProxyText();
  EXPECT_NE(q, p);
  EXPECT_EQ(FSession->Proxy().Country_Short, "US");
  EXPECT_TRUE(OperaUses(q)) << Opera();

  FSession->Stop();
  EXPECT_FALSE(FSession->Hiding());
  EXPECT_EQ(RegServer(), "user.example:3128");
  EXPECT_NE(Opera().find("Use HTTP=0"), std::string::npos) << Opera();
  // The last proxy stays known after the stop.
  EXPECT_EQ(FSession->ProxyText(), q);
  // A second stop (the one at exit) leaves the user's settings alone.
  FSession->Stop();
  EXPECT_EQ(RegServer(), "user.example:3128");
}

TEST_F(HideSessionTest, RefusedHidesChangeNothing) {
  struct Case {
    const char* name;
    bool ready;
    const char* country;
    THideOutcome outcome;
  };
  const Case cases[] = {
      {"no service data or local information", false, "US", THideOutcome::NotReady},
      {"no proxy of the country", true, "DE", THideOutcome::NoProxy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    FManager->FTargetCountry = c.country;
    EXPECT_EQ(FSession->Hide(c.ready), c.outcome);
    EXPECT_FALSE(FSession->Hiding());
    EXPECT_TRUE(FSession->ProxyText().empty());
    EXPECT_EQ(RegServer(), "user.example:3128");
    EXPECT_EQ(Opera().find("HTTP server="), std::string::npos) << Opera();
    EXPECT_FALSE(FSession->ChangeDue(0));
  }
}

TEST_F(HideSessionTest, TheGuardRefusesASecondCommandWithinTheSameWholeSecond) {
  Start();
  FSession->ArmGuard();
  EXPECT_FALSE(FSession->Accept());
  FNow += 0.9 * kSecond;
  EXPECT_FALSE(FSession->Accept());
  FNow += 0.1 * kSecond;
  EXPECT_TRUE(FSession->Accept());
  EXPECT_DOUBLE_EQ(FSession->FLastActionTime, FNow);
  // The accepted command counts from now.
  FNow += 0.5 * kSecond;
  EXPECT_FALSE(FSession->Accept());
  FNow += 0.5 * kSecond;
  EXPECT_TRUE(FSession->Accept());
}

TEST_F(HideSessionTest, TheChangeIsDueOnceTheWholeMinutesReachTheInterval) {
  struct Case {
    double elapsedMinutes;
    int64_t interval;
    bool due;
  };
  const Case cases[] = {
      {9 + 59.0 / 60, 10, false}, {10, 10, true},   {25, 10, true}, {0, 1, false}, {1, 1, true},
      {119.99, 120, false},       {120, 120, true},
  };
  Start();
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  const double hidden = FNow;
  for (const Case& c : cases) {
    FNow = hidden + c.elapsedMinutes * kMinute;
    EXPECT_EQ(FSession->ChangeDue(c.interval), c.due)
        << c.elapsedMinutes << " minutes, interval " << c.interval;
  }
  // The count starts again from a restart, and from the next change.
  FNow = hidden + 30 * kMinute;
  FSession->RestartChangeCount();
  EXPECT_FALSE(FSession->ChangeDue(10));
  FNow += 10 * kMinute;
  EXPECT_TRUE(FSession->ChangeDue(10));
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  EXPECT_FALSE(FSession->ChangeDue(10));
  // Never while not hiding.
  FSession->Stop();
  FNow += 60 * kMinute;
  EXPECT_FALSE(FSession->ChangeDue(10));
}

TEST_F(HideSessionTest, ASuperProxyIsTouchedAtOnceAndAgainAfterHalfAnHour) {
  Start({"SUPER_TOUCH="});
  FManager->SetRandom(std::make_shared<TFirstDraw>());
  FManager->FTargetCountry = "JP";
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  ASSERT_TRUE(FSession->Proxy().IsSuper);
  EXPECT_TRUE(FSession->TouchWanted());
  const double touched = FNow;
  EXPECT_DOUBLE_EQ(FSession->FLastTouchTime, touched);
  FNow = touched + 30 * kMinute;
  EXPECT_FALSE(FSession->TouchIfDue());
  FNow = touched + 31 * kMinute;
  EXPECT_TRUE(FSession->TouchIfDue());
  EXPECT_DOUBLE_EQ(FSession->FLastTouchTime, FNow);
  EXPECT_FALSE(FSession->TouchIfDue());

  // A normal proxy is never touched.
  FManager->FTargetCountry = "US";
  FNow += 40 * kMinute;
  ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
  EXPECT_FALSE(FSession->Proxy().IsSuper);
  EXPECT_FALSE(FSession->TouchWanted());
  EXPECT_FALSE(FSession->TouchIfDue());
  FSession->Stop();
  EXPECT_FALSE(FSession->TouchWanted());
}

TEST_F(HideSessionTest, TheFirstHideReportsWhatTheDesktopSwitchReachedOnce) {
  struct Case {
    const char* option;
    bool reported;
  };
#ifdef _WIN32
  // Windows always takes the per-connection options: nothing to say.
  const Case cases[] = {{"SWITCH.IE=1", false}, {"SWITCH.IE=0", false}};
#else
  // The sandbox's desktop has neither GNOME's nor KDE's proxy settings.
  const Case cases[] = {{"SWITCH.IE=1", true}, {"SWITCH.IE=0", false}};
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    Start({c.option});
    ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    THideReach reach;
    EXPECT_EQ(FSession->TakeReachReport(reach), c.reported);
    if (c.reported) {
      EXPECT_TRUE(reach.NothingReached);
      EXPECT_EQ(reach.Proxy, FSession->ProxyText());
    }
    // Said once a run: neither asked again nor after the next hide.
    EXPECT_FALSE(FSession->TakeReachReport(reach));
    FNow += 2 * kSecond;
    ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    EXPECT_FALSE(FSession->TakeReachReport(reach));
    FSession->Stop();
  }
}

// ---- the watch of the proxy in use ----

namespace {

// A prober that answers at once: the first candidate in the live set passes.
// With Hold set it keeps the answer back until Release.
class HideWatchTest : public HideSessionTest {
 protected:
  void StartWatched(std::vector<std::string> lines = {}) {
    Start(std::move(lines));
    FSession->SetProber(
        [this](const std::vector<TProxyRec>& candidates, std::function<void(int)> done) {
          ++FChecks;
          int passed = -1;
          for (size_t i = 0; i < candidates.size() && passed < 0; ++i)
            if (FLive.count(candidates[i].IP)) passed = static_cast<int>(i);
          if (Hold)
            FHeld = [done, passed] { done(passed); };
          else
            done(passed);
        });
    FSession->OnWatchNews = [this](const TWatchNews& n) { FNews.push_back(n); };
    ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    FFirst = FSession->Proxy().IP;
    FOther = FFirst == "192.0.2.1" ? "192.0.2.2" : "192.0.2.1";
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) FSession->WatchTick();
  }
  std::string DesktopProxy() {
    const std::string v = RegServer();
    return v.substr(v.find('=') + 1, v.find(':') - v.find('=') - 1);
  }

  std::set<std::string> FLive;
  std::vector<TWatchNews> FNews;
  std::string FFirst, FOther;
  int FChecks = 0;
  bool Hold = false;
  std::function<void()> FHeld;
};

}  // namespace

TEST_F(HideWatchTest, TwoFailedChecksMoveTheBrowsersToAProxyThatAnswers) {
  StartWatched();
  FLive = {FFirst, FOther};
  // Passing checks change nothing; one failure between them is forgiven.
  Ticks(2);
  FLive = {FOther};
  Ticks(1);
  FLive = {FFirst, FOther};
  Ticks(1);
  FLive = {FOther};
  Ticks(1);
  EXPECT_TRUE(FNews.empty());
  EXPECT_EQ(FSession->Proxy().IP, FFirst);
  // The second failure in a row: the other proxy of the country, at once.
  Ticks(1);
  EXPECT_EQ(FSession->Proxy().IP, FOther);
  EXPECT_EQ(DesktopProxy(), FOther);
  EXPECT_TRUE(OperaUses(FSession->ProxyText())) << Opera();
  ASSERT_EQ(FNews.size(), 1u);
  EXPECT_EQ(FNews[0].Kind, TWatchNews::Moved);
  EXPECT_EQ(FNews[0].From, FFirst);
  EXPECT_EQ(FNews[0].To, FOther);
  EXPECT_TRUE(FSession->Hiding());
  // The proxy given up is not chosen again in this run: a change keeps to
  // the one that answers.
  for (int i = 0; i < 4; ++i) {
    FNow += 2 * kSecond;
    ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    EXPECT_EQ(FSession->Proxy().IP, FOther);
  }
}

TEST_F(HideWatchTest, WhenNoProxyAnswersTheBrowsersStayOnItUntilOneAnswersAgain) {
  struct Case {
    const char* name;
    bool comesBackIsFirst;  // the proxy in use answers again, else the other one
    TWatchNews::TKind last;
  };
  const Case cases[] = {{"the proxy in use answers again", true, TWatchNews::Back},
                        {"another proxy of the country answers", false, TWatchNews::Moved}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FNews.clear();
    StartWatched();
    FLive.clear();
    Ticks(2);
    // Said once; the browsers stay on the proxy, never direct.
    ASSERT_EQ(FNews.size(), 1u);
    EXPECT_EQ(FNews[0].Kind, TWatchNews::NoneAnswers);
    EXPECT_EQ(FNews[0].Country, "United States");
    EXPECT_EQ(FNews[0].From, FFirst);
    EXPECT_TRUE(FSession->FailedClosed());
    EXPECT_TRUE(FSession->Hiding());
    EXPECT_EQ(DesktopProxy(), FFirst);
    const int checks = FChecks;
    Ticks(3);
    EXPECT_GT(FChecks, checks);  // it keeps looking
    EXPECT_EQ(FNews.size(), 1u);
    // One answers again: the browsers go to it and the user hears of it.
    FLive = {c.comesBackIsFirst ? FFirst : FOther};
    Ticks(1);
    ASSERT_EQ(FNews.size(), 2u);
    EXPECT_EQ(FNews[1].Kind, c.last);
    EXPECT_FALSE(FSession->FailedClosed());
    EXPECT_EQ(FSession->Proxy().IP, *FLive.begin());
    EXPECT_EQ(DesktopProxy(), *FLive.begin());
    EXPECT_FALSE(FSession->GivenUp(FSession->ProxyText()));
    FSession->Stop();
  }
}

TEST_F(HideWatchTest, WithFailOverOffTheUserIsToldAndNothingMoves) {
  StartWatched({"FailOver=0"});
  FLive = {FOther};
  Ticks(4);
  ASSERT_EQ(FNews.size(), 1u);
  EXPECT_EQ(FNews[0].Kind, TWatchNews::NoneAnswers);
  EXPECT_EQ(FSession->Proxy().IP, FFirst);
  EXPECT_EQ(DesktopProxy(), FFirst);
}

TEST_F(HideWatchTest, ACheckThatEndsAfterAStopOrAHideIsDropped) {
  StartWatched({"FailOver=1"});
  FLive.clear();
  Hold = true;
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stop" : "hide");
    FNews.clear();
    Ticks(1);
    ASSERT_TRUE(FHeld);
    // A second tick while the check runs starts no other one.
    const int checks = FChecks;
    Ticks(1);
    EXPECT_EQ(FChecks, checks);
    FNow += 2 * kSecond;
    if (stop)
      FSession->Stop();
    else
      ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    auto held = std::move(FHeld);
    FHeld = nullptr;
    held();
    // Counted for nothing: two more failures are needed before anything moves.
    Hold = false;
    if (!stop) {
      const std::string now = FSession->Proxy().IP;
      FLive = {now == "192.0.2.1" ? "192.0.2.2" : "192.0.2.1"};
      Ticks(1);
      EXPECT_EQ(FSession->Proxy().IP, now);
    }
    EXPECT_TRUE(FNews.empty());
    Hold = true;
    if (!stop) {
      // A check that ends after the session is gone reaches nobody.
      Ticks(1);
      ASSERT_TRUE(FHeld);
      FSession.reset();
      FHeld();
      return;
    }
    if (stop) {
      EXPECT_FALSE(FSession->Hiding());
      EXPECT_EQ(RegServer(), "user.example:3128");
      ASSERT_EQ(FSession->Hide(true), THideOutcome::Hidden);
    }
  }
}
