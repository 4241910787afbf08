// The main window's test fixture: a window whose service data, lists and
// local information are there, with stand-ins for the update window and the
// proxy choice's draws. Shared by the main window's tests.
#pragma once

#include <string>
#include <vector>

#include "MainWindowSupport.h"
#include "proxy/uProxyManager.h"
#include "vcl/ActnList.h"

namespace mainwin {

// An update window that runs no request; "delivering" it counts one
// successful contact, as a real answer would.
struct TStubUpdates {
  int started = 0;
  bool deliver = false;
  struct Window : ICLUpdateWindow {
    explicit Window(TStubUpdates* o) : owner(o) {}
    void StartUpdate(bool, bool, bool, bool, bool) override {
      ++owner->started;
      if (owner->deliver) GetCLSettings()->SetSettingInteger("Update.Times", 1);
    }
    TStubUpdates* owner;
  };
  void Install() {
    CLFrameworkWindows().CreateUpdateWindow = [this](TForm*) -> ICLUpdateWindow* {
      return new Window(this);
    };
  }
};

// A generator that always draws 0: the super list comes first.
struct TFirstDraw : IProxyRandom {
  void Randomize() override {}
  int Random(int) override { return 0; }
};

class MainTest : public MainWindowTest {
 protected:
  // A window whose service data, lists and local information are there,
  // two seconds after its creation.
  TfrmMain& Ready(std::vector<std::string> extra = {}) {
    extra.push_back("Update.Times=1");
    extra.push_back(kLists);
    extra.push_back(kSuper);
    Const(extra);
    TfrmMain& w = Window();
    w.tmrInitTimer(w.tmrInit);
    w.FProxyManager->InfoGot(kHomeInfo);
    Advance(2);
    return w;
  }
  std::string Proxy(const TfrmMain& w) {
    return w.FProxyManager->FTargetProxy.IP + ":" + w.FProxyManager->FTargetProxy.Port;
  }
  std::string UsFlag() { return sb().Path("app/res/flag_short/US.PNG"); }
  static std::vector<std::string> Captions(TPopupMenu* m) {
    std::vector<std::string> out;
    for (int i = 0; i < m->Items()->Count(); ++i) out.push_back(m->Items()->Items(i)->Caption());
    return out;
  }
};

}  // namespace mainwin
