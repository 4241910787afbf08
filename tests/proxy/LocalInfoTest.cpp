// The local-information request and the touch call against the reference
// service on loopback, and the reader of the answer.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <thread>

#include "ProxyTestHelpers.h"
#include "ServiceProcess.h"
#include "net/Dispatcher.h"
#include "proxy/LocalInfo.h"
#include "support/Wait.h"

TEST(LocalInfoReader, NamedValuesAndBareLines) {
  struct Case {
    const char* what;
    const char* text;
    // IP, country code, country name, city, latitude, longitude
    std::array<const char*, 6> values;
  };
  const Case cases[] = {
      {"the service's answer",
       "IP=192.0.2.7\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nREGION=Texas\r\n"
       "CITY=Dallas\r\n38\r\n-97\r\n",
       {"192.0.2.7", "US", "United States", "Dallas", "38", "-97"}},
      // Names in any order and any case, the first line of a name wins,
      // bare lines are taken whole, any line break.
      {"any order, case and line break",
       "city=Lyon\nCountry_Short=FR\rIP=198.51.100.1\nCITY=Paris\nip=x\n45.75 N\n 4.85=E",
       {"198.51.100.1", "FR", "", "Lyon", "45.75 N", " 4.85=E"}},
      // A short answer: the missing values are empty.
      {"a short answer", "IP=10.0.0.1\r\nCOUNTRY_SHORT=DE\r\n", {"10.0.0.1", "DE", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    const TLocalInfo info = TLocalInfo::FromText(c.text);
    const std::array<std::string, 6> got = {info.IP,   info.CountryShort, info.CountryLong,
                                            info.City, info.Latitude,     info.Longitude};
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(got[i], c.values[i]) << c.what << ", value " << i;
  }
  EXPECT_EQ(TLocalInfo::Read(TStringList()).IP, "");
}

#ifndef _WIN32
#ifdef VG_SERVICE_EXE

namespace {

using proxytest::TServiceProcess;

std::string ServiceConfig(const std::string& ip, const std::string& code, const std::string& name,
                          const std::string& city, const std::string& lat, const std::string& lon) {
  return "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = WORD-1\ncheck_magicword = 1\n"
         "[localinfo]\nip = " +
         ip + "\ncountry_short = " + code + "\ncountry_long = " + name + "\ncity = " + city +
         "\nregion = Somewhere\nlatitude = " + lat + "\nlongitude = " + lon + "\n";
}

// Counts the calls workers hand over.
class TCountingDispatcher : public TLoopDispatcher {
 public:
  std::atomic<int> Sends{0};
  bool Send(std::function<void()> call) override {
    ++Sends;
    return TLoopDispatcher::Send(std::move(call));
  }
};

using testsupport::WaitUntil;

}  // namespace

class LocalInfoServiceTest : public ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    sb().WriteFile("svc/a.conf",
                   ServiceConfig("192.0.2.7", "US", "United States", "Dallas", "38", "-97"));
    FService = std::make_unique<TServiceProcess>(VG_SERVICE_EXE, sb().Path("svc/a.conf"));
    ASSERT_TRUE(FService->Running()) << "the reference service did not start";
    SetDispatcher(&FLoop);
  }
  void TearDown() override {
    // Workers still under way may be waiting for the loop: run it until they end.
    EXPECT_TRUE(FLoop.PumpUntil([] { return TInfoGotThread::RunningCount() == 0; }, 15000));
    SetDispatcher(nullptr);
    FService.reset();
    ProxyTest::TearDown();
  }
  void UseService(const TServiceProcess& svc, const std::string& word = "WORD-1") {
    SupplySettings({{"URL.GetInfo", svc.URL("/getinfo")}, {"App.MagicWord", word}});
  }

  TLoopDispatcher FLoop;
  std::unique_ptr<TServiceProcess> FService;
};

TEST_F(LocalInfoServiceTest, DeliversTheAnswerOnTheUserInterfaceThread) {
  UseService(*FService);
  TProxyManager pm;
  pm.FLocalInfo =
      TStringList({"old 1", "old 2", "old 3", "old 4", "old 5", "old 6", "old 7", "old 8"});
  int calls = 0;
  TProxyManager* sender = nullptr;
  std::thread::id thread;
  pm.FOnGetCurrentLocalInfo = [&](TProxyManager* s) {
    ++calls;
    sender = s;
    thread = std::this_thread::get_id();
  };
  pm.GetCurrentLocalInfo();
  ASSERT_TRUE(FLoop.PumpUntil([&] { return calls > 0; }, 10000));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sender, &pm);
  EXPECT_EQ(thread, std::this_thread::get_id());
  EXPECT_EQ(pm.FLocalInfo,
            TStringList({"IP=192.0.2.7", "COUNTRY_SHORT=US", "COUNTRY_LONG=United States",
                         "CITY=Dallas", "REGION=Somewhere", "38", "-97"}));
  const TLocalInfo info = TLocalInfo::Read(pm.FLocalInfo);
  EXPECT_EQ(info.CountryShort, "US");
  EXPECT_EQ(info.City, "Dallas");
  EXPECT_EQ(info.Latitude, "38");
  EXPECT_EQ(info.Longitude, "-97");
}

TEST_F(LocalInfoServiceTest, ASecondAnswerReplacesTheFirstWhole) {
  sb().WriteFile("svc/b.conf", ServiceConfig("198.51.100.4", "FR", "France", "Paris", "46", "2"));
  TServiceProcess second(VG_SERVICE_EXE, sb().Path("svc/b.conf"));
  ASSERT_TRUE(second.Running());
  UseService(*FService);
  TProxyManager pm;
  int calls = 0;
  pm.FOnGetCurrentLocalInfo = [&](TProxyManager*) { ++calls; };
  pm.GetCurrentLocalInfo();
  ASSERT_TRUE(FLoop.PumpUntil([&] { return calls == 1; }, 10000));
  EXPECT_EQ(TLocalInfo::Read(pm.FLocalInfo).City, "Dallas");

  // The address is read afresh for every request.
  GetCLSettings()->SetSettingstring("URL.GetInfo", second.URL("/getinfo"));
  pm.GetCurrentLocalInfo();
  ASSERT_TRUE(FLoop.PumpUntil([&] { return calls == 2; }, 10000));
  EXPECT_EQ(pm.FLocalInfo,
            TStringList({"IP=198.51.100.4", "COUNTRY_SHORT=FR", "COUNTRY_LONG=France", "CITY=Paris",
                         "REGION=Somewhere", "46", "2"}));
}

TEST_F(LocalInfoServiceTest, FailuresCallNobodyAndKeepTheInformation) {
  TProxyManager pm;
  const TStringList previous({"IP=203.0.113.1", "COUNTRY_SHORT=DE"});
  int calls = 0;
  pm.FOnGetCurrentLocalInfo = [&](TProxyManager*) { ++calls; };
  auto attempt = [&](const std::string& what) {
    pm.FLocalInfo = previous;
    pm.GetCurrentLocalInfo();
    EXPECT_TRUE(FLoop.PumpUntil([] { return TInfoGotThread::RunningCount() == 0; }, 15000)) << what;
    FLoop.Pump(20);
    EXPECT_EQ(calls, 0) << what;
    EXPECT_EQ(pm.FLocalInfo, previous) << what;
  };
  UseService(*FService, "WRONG");  // the service refuses: status 403
  attempt("error status");
  // A 200 answer with an empty body (no touches recorded yet).
  SupplySettings({{"URL.GetInfo", FService->URL("/touches")}, {"App.MagicWord", "WORD-1"}});
  attempt("empty body");
  UseService(*FService);
  FService->Stop();
  attempt("stopped service");
  SupplySettings(
      {{"URL.GetInfo", "http://127.0.0.1:" + std::to_string(nettest::FreePort()) + "/getinfo"}});
  attempt("nothing listening");
}

TEST_F(LocalInfoServiceTest, AManagerDestroyedBeforeTheAnswerIsNotTouched) {
  UseService(*FService);
  TCountingDispatcher counting;
  SetDispatcher(&counting);
  bool called = false;
  auto pm = std::make_unique<TProxyManager>();
  pm->FOnGetCurrentLocalInfo = [&](TProxyManager*) { called = true; };
  pm->GetCurrentLocalInfo();
  // The answer is waiting for the user-interface thread; the manager goes.
  ASSERT_TRUE(WaitUntil([&] { return counting.Sends.load() == 1; }, 10000));
  pm.reset();
  EXPECT_TRUE(counting.PumpUntil([] { return TInfoGotThread::RunningCount() == 0; }, 10000));
  EXPECT_FALSE(called);
  SetDispatcher(&FLoop);
}

TEST_F(LocalInfoServiceTest, TouchCallsTheServiceWithTheProxyAddress) {
  SupplySettings({{"SUPER_TOUCH", FService->URL("/touch?ip={1}")},
                  {"NORMAL_IPS", Rec("192.0.2.1:80", "France", "FR")}});
  TProxyManager pm;
  pm.LoadSettings();
  const TProxyRec proxy{"192.0.2.55", "3128", "JP", "Japan", "36", "138", true};
  pm.Touch(proxy);
  EXPECT_TRUE(WaitUntil([&] { return FService->Touches() == "192.0.2.55\r\n"; }, 10000))
      << FService->Touches();

  // The template is read afresh on every call, not the one read at load.
  GetCLSettings()->SetSettingstring("SUPER_TOUCH", FService->URL("/touch?ip=again-{1}-{1}"));
  pm.Touch(TProxyRec{"192.0.2.56", "80", "", "", "", "", true});
  EXPECT_TRUE(WaitUntil(
      [&] {
        return FService->Touches().find("again-192.0.2.56-192.0.2.56\r\n") != std::string::npos;
      },
      10000))
      << FService->Touches();
  EXPECT_EQ(pm.FSuperTouch, FService->URL("/touch?ip={1}"));

  // A template without "{1}" is called as it is.
  GetCLSettings()->SetSettingstring("SUPER_TOUCH", FService->URL("/touch?ip=fixed"));
  pm.Touch(proxy);
  EXPECT_TRUE(
      WaitUntil([&] { return FService->Touches().find("fixed\r\n") != std::string::npos; }, 10000));
  // No answer is handed to the user-interface thread.
  EXPECT_EQ(FLoop.Pump(0), 0);
}

TEST_F(LocalInfoServiceTest, AThreadKeptByItsCreatorHoldsTheAnswer) {
  TInfoGotThread thread;
  thread.FURL = FService->URL("/getinfo?MagicWord=WORD-1");
  std::string got;
  thread.FOnInfoGot = [&](const std::string& aRet) { got = aRet; };
  EXPECT_EQ(thread.Ret(), "");
  thread.Start();
  ASSERT_TRUE(FLoop.PumpUntil([&] { return !got.empty(); }, 10000));
  thread.WaitFor();
  EXPECT_EQ(thread.Ret(), got);
  EXPECT_EQ(TLocalInfo::FromText(thread.Ret()).City, "Dallas");
  EXPECT_EQ(TInfoGotThread::RunningCount(), 0);
}

#endif  // VG_SERVICE_EXE

// Application end while a request is under way: the process ends at once,
// without waiting for the request. The body below runs in a child process.
TEST(LocalInfoExit, ProcessEndsWithoutWaitingForARequest) {
  nettest::SilentListener silent;
  ASSERT_GT(silent.Port(), 0) << std::strerror(errno);
  char self[4096] = {0};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/getinfo";
  // The child ends only once its request has reached the listener and this
  // file exists.
  char goTemplate[] = "/tmp/vg-exit-go-XXXXXX";
  ASSERT_NE(::mkdtemp(goTemplate), nullptr);
  const std::string go = std::string(goTemplate) + "/go";
  testsupport::ChildProcess child;
  ASSERT_TRUE(child.Start({self, "--gtest_filter=LocalInfoExit.DISABLED_ChildBody",
                           "--gtest_also_run_disabled_tests"},
                          "",
                          {{"VG_PROXY_EXIT_URL", url.c_str()}, {"VG_PROXY_EXIT_GO", go.c_str()}}));
  const bool called = silent.HasCaller(30000);
  std::FILE* f = std::fopen(go.c_str(), "w");
  if (f) std::fclose(f);
  // The request's own limit is 30 s from its start: a process that waited
  // for it would still run when this bound passes.
  const int code = child.Wait(20000);
  std::remove(go.c_str());
  ::rmdir(goTemplate);
  EXPECT_TRUE(called) << "the child's request never reached the listener";
  ASSERT_NE(code, -1) << "the process waited for the request";
  EXPECT_EQ(code, 0);
}

TEST(LocalInfoExit, DISABLED_ChildBody) {
  const char* url = std::getenv("VG_PROXY_EXIT_URL");
  ASSERT_NE(url, nullptr);
  TExactSettings exact;
  exact.Values["URL.GetInfo"] = url;
  TLoopDispatcher loop;
  SetDispatcher(&loop);
  auto pm = std::make_unique<TProxyManager>();
  pm->FOnGetCurrentLocalInfo = [](TProxyManager*) { std::_Exit(3); };
  pm->GetCurrentLocalInfo();
  const char* go = std::getenv("VG_PROXY_EXIT_GO");
  ASSERT_NE(go, nullptr);
  ASSERT_TRUE(testsupport::WaitUntil([go] { return ::access(go, F_OK) == 0; }, 60000));
  // The listener never answers: the request is still under way.
  EXPECT_EQ(TInfoGotThread::RunningCount(), 1);
  pm.reset();
  SetDispatcher(nullptr);
  ReleaseCLSettings();
}

#endif  // _WIN32
