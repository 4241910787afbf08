#include "switch/THideSession.h"

#include <cmath>
#include <utility>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "platform/ProxySettings.h"
#include "switch/uVGUtils.h"

namespace {

const char* const kTraceTag = "THideSession";
void Trace(const std::string& line) { CLDebugLog::Write(kTraceTag, line); }

// A Boolean setting; a store that cannot answer counts as false.
bool SettingOn(const char* name) {
  try {
    return GetCLSettings()->GetSettingBool(name);
  } catch (...) {
    return false;
  }
}

}  // namespace

// The small allowance keeps an exact whole span from being cut to the unit
// below by the rounding of the day fractions.
int64_t SecondsBetween(double a, double b) {
  return static_cast<int64_t>(std::trunc(std::fabs(a - b) * 86400.0 + 1e-6));
}
int64_t MinutesBetween(double a, double b) {
  return static_cast<int64_t>(std::trunc(std::fabs(a - b) * 1440.0 + 1e-8));
}

THideSession::THideSession(TProxyManager& aManager, TClock aClock)
    : FManager(aManager), FClock(std::move(aClock)) {}

std::string THideSession::ProxyText() const {
  const TProxyRec& p = Proxy();
  return p.IP.empty() ? std::string() : p.IP + ":" + p.Port;
}

bool THideSession::Accept() {
  if (SecondsBetween(FLastActionTime, Now()) == 0) return false;
  FLastActionTime = Now();
  return true;
}

void THideSession::ArmGuard() { FLastActionTime = Now(); }

THideOutcome THideSession::Hide(bool aReady) {
  if (!aReady) {
    Trace("Hide refused: no service data or local information yet");
    return THideOutcome::NotReady;
  }
  // An idle proxy of the target country. None at all: nothing changes.
  const TProxyRec p = FManager.GetIdleProxy(FManager.FTargetCountry, false, KAll, true);
  if (p.IP.empty()) {
    Trace("Hide refused: no proxy for " + FManager.FTargetCountry);
    return THideOutcome::NoProxy;
  }
  FManager.FTargetProxy = p;
  // The three switches, every time; each applies its own option.
  const std::string a = ProxyText();
  Trace("Hide through " + a + " (" + p.Country_Short + ")");
  SetIEProxy(a);
  SetFirefoxProxy(a);
  SetOperaProxy(a);
  Trace("Switched to " + a);
  FHiding = true;
  FLastChangeIPTime = Now();
  // A super proxy is kept alive from the start.
  if (p.IsSuper) {
    FManager.Touch(p);
    FLastTouchTime = Now();
  }
  // What the run's first switch reached: nothing at all, or a desktop whose
  // Firefox profiles do not all follow it.
  if (!FReachChecked) {
    FReachChecked = true;
    if (SettingOn("SWITCH.IE")) {
      FReach = THideReach();
      FReach.Proxy = a;
      const unsigned reach = platform::LastProxyReach();
      FReach.NothingReached = reach == platform::kProxyReachNone;
      if (reach & (platform::kProxyReachGnome | platform::kProxyReachKde)) {
        for (const TFirefoxProfileProxy& f : FirefoxProfilesNotFollowingDesktop()) {
          Trace("Firefox profile " + f.Path + " has network.proxy.type " +
                std::to_string(f.ProxyType) + " and does not follow the desktop proxy");
          FReach.FirefoxNotFollowing += (FReach.FirefoxNotFollowing.empty() ? "" : ", ") + f.Name;
        }
      }
      if (FReach.NothingReached)
        Trace("The desktop proxy switch reached nothing; the user is told to set " + a);
      FReachPending = FReach.NothingReached || !FReach.FirefoxNotFollowing.empty();
    }
  }
  return THideOutcome::Hidden;
}

void THideSession::Stop() {
  FHiding = false;
  SetIEProxy("");
  SetFirefoxProxy("");
  SetOperaProxy("");
  Trace("Switched to direct");
}

bool THideSession::TakeReachReport(THideReach& aReport) {
  if (!FReachPending) return false;
  FReachPending = false;
  aReport = FReach;
  return true;
}

bool THideSession::ChangeDue(int64_t aIntervalMinutes) const {
  if (!FHiding) return false;
  const int64_t m = MinutesBetween(FLastChangeIPTime, Now());
  if (aIntervalMinutes > m) return false;
  Trace("Timed IP change after " + std::to_string(m) + " minutes");
  return true;
}

void THideSession::RestartChangeCount() { FLastChangeIPTime = Now(); }

bool THideSession::TouchIfDue() {
  if (MinutesBetween(FLastTouchTime, Now()) <= kTouchMinutes) return false;
  if (!Proxy().IsSuper) return false;
  FManager.Touch(Proxy());
  FLastTouchTime = Now();
  return true;
}

void THideSession::ClearCookies() {
  ClearIECookies();
  ClearFirefoxCookies();
  Trace("Cookies cleared");
}
