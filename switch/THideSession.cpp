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

// "FailOver": on unless the settings say otherwise (absent counts as on).
bool FailOverOn() {
  try {
    TCLSettings* s = GetCLSettings();
    return s->GetSettingString("FailOver").empty() || s->GetSettingBool("FailOver");
  } catch (...) {
    return true;
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
  const TProxyRec p = PickIdle();
  if (p.IP.empty()) {
    Trace("Hide refused: no proxy for " + FManager.FTargetCountry);
    return THideOutcome::NoProxy;
  }
  SwitchTo(p);
  const std::string a = ProxyText();
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

void THideSession::SwitchTo(const TProxyRec& aProxy) {
  FManager.FTargetProxy = aProxy;
  // The three switches, every time; each applies its own option.
  const std::string a = ProxyText();
  Trace("Hide through " + a + " (" + aProxy.Country_Short + ")");
  SetIEProxy(a);
  SetFirefoxProxy(a);
  SetOperaProxy(a);
  Trace("Switched to " + a);
  FHiding = true;
  FLastChangeIPTime = Now();
  // A super proxy is kept alive from the start.
  if (aProxy.IsSuper) {
    FManager.Touch(aProxy);
    FLastTouchTime = Now();
  }
  // The watch starts afresh with the new proxy.
  FFailures = 0;
  FFailedClosed = false;
  ++FWatchRound;
}

TProxyRec THideSession::PickIdle() {
  // The selection hands out each proxy of the country once per round; a
  // round holds at most every record twice over.
  const int records = FManager.FNormalProxyList.Count() + FManager.FSuperProxyList.Count();
  for (int i = 0; i <= 2 * records; ++i) {
    const TProxyRec p = FManager.GetIdleProxy(FManager.FTargetCountry, false, KAll, true);
    if (p.IP.empty()) return p;
    if (!GivenUp(p.IP + ":" + p.Port)) return p;
  }
  return TProxyRec();
}

void THideSession::Stop() {
  FHiding = false;
  FFailures = 0;
  FFailedClosed = false;
  ++FWatchRound;
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

// ---- the watch of the proxy in use ----

void THideSession::WatchTick() {
  if (!FHiding || FProbing || !FProber) return;
  // Once the proxy is given up every tick looks for one that answers;
  // before, the proxy in use is checked.
  if (FFailedClosed)
    Probe(Candidates(), true);
  else
    Probe({Proxy()}, false);
}

std::vector<TProxyRec> THideSession::Candidates() {
  const TProxyRec current = Proxy();
  const std::string currentText = ProxyText();
  std::vector<TProxyRec> fresh, givenUp;
  if (FailOverOn()) {
    // Through the usual selection, so that the choice among the idle
    // proxies is the one a hide makes; each address once.
    std::set<std::string> seen{currentText};
    const int records = FManager.FNormalProxyList.Count() + FManager.FSuperProxyList.Count();
    for (int i = 0; i <= 2 * records; ++i) {
      const TProxyRec p = FManager.GetIdleProxy(FManager.FTargetCountry, false, KAll, true);
      if (p.IP.empty()) break;
      const std::string text = p.IP + ":" + p.Port;
      if (!seen.insert(text).second) continue;
      (GivenUp(text) ? givenUp : fresh).push_back(p);
    }
  }
  fresh.insert(fresh.end(), givenUp.begin(), givenUp.end());
  fresh.push_back(current);
  return fresh;
}

void THideSession::Probe(std::vector<TProxyRec> aCandidates, bool aSeek) {
  FProbing = true;
  const unsigned round = FWatchRound;
  // The answer comes back on the user-interface thread, where the session is
  // also destroyed; a session gone by then is not touched.
  std::weak_ptr<int> alive = FAlive;
  FProber(aCandidates, [this, alive, aCandidates, aSeek, round](int passed) {
    if (alive.expired()) return;
    FProbing = false;
    // A hide or a stop since the check started: its answer is old news.
    if (round != FWatchRound || !FHiding) return;
    Probed(aCandidates, aSeek, passed);
  });
}

void THideSession::Probed(const std::vector<TProxyRec>& aCandidates, bool aSeek, int aPassed) {
  const TProxyRec current = Proxy();
  const std::string currentText = ProxyText();
  if (!aSeek) {
    if (aPassed == 0) {
      FFailures = 0;
      return;
    }
    ++FFailures;
    Trace(currentText + " failed " + std::to_string(FFailures) + " check(s) in a row");
    if (FFailures < kWatchFailures) return;
    // Given up: the service hears of it, and another one is looked for at
    // once.
    FDead.insert(currentText);
    FManager.ReportGivenUp(current);
    Probe(Candidates(), true);
    return;
  }
  if (aPassed < 0) {
    if (!FFailedClosed) {
      FFailedClosed = true;
      Trace("No proxy of " + FManager.FTargetCountry + " answers; the browsers stay on " +
            currentText);
      Tell(TWatchNews::NoneAnswers, current.IP, "");
    }
    return;
  }
  const TProxyRec next = aCandidates[static_cast<size_t>(aPassed)];
  const std::string nextText = next.IP + ":" + next.Port;
  FDead.erase(nextText);
  if (nextText == currentText) {
    // The proxy in use came back before any other did.
    const bool wasClosed = FFailedClosed;
    FFailures = 0;
    FFailedClosed = false;
    if (wasClosed) Tell(TWatchNews::Back, current.IP, current.IP);
    return;
  }
  Trace(currentText + " stopped answering; moving to " + nextText);
  SwitchTo(next);
  Tell(TWatchNews::Moved, current.IP, next.IP);
}

void THideSession::Tell(TWatchNews::TKind aKind, const std::string& aFrom, const std::string& aTo) {
  if (!OnWatchNews) return;
  TWatchNews news;
  news.Kind = aKind;
  news.From = aFrom;
  news.To = aTo;
  news.Country = Proxy().Country_Long;
  OnWatchNews(news);
}
