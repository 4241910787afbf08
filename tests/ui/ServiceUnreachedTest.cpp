// The main window while its service cannot be reached: the popup's status
// names the address and the reason, a command that needs the service says
// so, and the usual texts come back once the service answers.
#include <gtest/gtest.h>

#include <atomic>

#include "MainWindowSupport.h"
#include "proxy/uProxyManager.h"
#include "support/NetTestServers.h"
#include "ui/ServiceStatus.h"
#include "ui/uFlashForm.h"
#include "vcl/ActnList.h"

using namespace mainwin;

namespace {

class ServiceUnreachedTest : public MainWindowTest {
 protected:
  std::string Ex(const std::string& key, const std::vector<std::string>& args) {
    return FWin->Engine()->GetAppStringEx(key, args);
  }
  // The last "Info_Text" and "Info_Text2" commands the popup received so
  // far (the log's lines may arrive after the call that wrote them).
  std::pair<std::string, std::string> Lines(TLogLines& movie) {
    for (const std::string& c : Commands(movie)) {
      if (c.rfind("Info_Text2,", 0) == 0)
        FLast.second = c;
      else if (c.rfind("Info_Text,", 0) == 0)
        FLast.first = c;
    }
    return FLast;
  }
  std::pair<std::string, std::string> FLast;
  TfrmMain* FWin = nullptr;  // the window of the case under way
};

TEST_F(ServiceUnreachedTest, StatusNamesTheAddressAndTheReasonUntilTheServiceAnswers) {
  std::atomic<int> status{503};
  TWebServer up([&](const std::string&) {
    TAnswer a;
    a.Status = status;
    if (status == 200) a.Body = "IP=198.51.100.9\r\nCOUNTRY_SHORT=DE\r\nCOUNTRY_LONG=Germany\r\n";
    return a;
  });
  struct Case {
    std::string service, reasonKey;
    std::vector<std::string> reasonArgs;
  };
  const std::vector<Case> cases = {
      {"http://127.0.0.1:" + std::to_string(nettest::FreePort()), "Service.Refused", {}},
      {"http://no-such-host.invalid:8470", "Service.NotResolved", {}},
      {up.Base(), "Service.HttpStatus", {"503"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    CloseWindow();
    ReleaseCLSettings();
    Const({"URL.Service=" + c.service});
    TLogLines movie("TShockwaveFlash");
    TfrmMain& w = Window();
    FWin = &w;
    ASSERT_TRUE(Until([&] { return w.FServiceStatus->Reach().Unreached(); }, 30000));
    const std::string reason = Ex(c.reasonKey, c.reasonArgs);
    const std::string expected = "Info_Text," + Ex("Service.Unreached", {c.service}) + ",255";
    Until([&] { return Lines(movie).first == expected; });
    const auto [line, detail] = Lines(movie);
    EXPECT_EQ(line, "Info_Text," + Ex("Service.Unreached", {c.service}) + ",255");
    EXPECT_EQ(detail.rfind("Info_Text2," + reason + ". ", 0), 0u) << detail;
    EXPECT_GT(w.FServiceStatus->PendingSeconds(), 0);
    // Hiding is refused with the service's name and the reason, not the
    // network's.
    PlainBoxes.clear();
    Advance(2);
    w.actVeilIP->Execute();
    ASSERT_EQ(PlainBoxes.size(), 1u);
    EXPECT_EQ(PlainBoxes[0], Ex("MSGBox.NOSERVICE", {c.service, reason}));
    EXPECT_EQ(BoxesWith("MSGBox.CHKNET"), 0);
  }
  // The last service comes back: the next try shows the usual texts.
  TLogLines movie("TShockwaveFlash");
  status = 200;
  TfrmMain& w = *FWin;
  w.FProxyManager->GetCurrentLocalInfo();
  ASSERT_TRUE(Until([&] { return w.FLocalInfoGot; }, 30000));
  EXPECT_FALSE(w.FServiceStatus->Reach().Unreached());
  EXPECT_EQ(w.FServiceStatus->PendingSeconds(), 0);
  const std::string ready = "Info_Text," + Text("FLSMsg.Ready") + ",16711680";
  Until([&] { return Lines(movie).first == ready; });
  const auto [line, detail] = Lines(movie);
  EXPECT_EQ(line, ready);
  EXPECT_EQ(detail, "Info_Text2,,255");
}

}  // namespace
