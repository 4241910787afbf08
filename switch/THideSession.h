// The hide session: whether the browsers point at a proxy and at which one,
// the hide and stop commands with their one-second guard, readiness check and
// empty selection, what the run's first switch reached, and the decisions of
// the change-IP and touch timers. It draws nothing and needs no window: the
// main window asks it and shows what it says.
//
// A hide hands the proxy's "address:port" to the three browser switches
// (system, Firefox, Opera); a stop hands them the empty text, which puts the
// user's own settings back. Times are date-time values in days from the
// session's clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "proxy/uProxyManager.h"

// Whole seconds and whole minutes between two date-time values (absolute
// span, truncated).
int64_t SecondsBetween(double a, double b);
int64_t MinutesBetween(double a, double b);

enum class THideOutcome {
  Hidden,    // the browsers point at the new proxy
  NotReady,  // the service's data or the user's own information is missing
  NoProxy,   // no idle proxy of the target country: nothing changed
};

// What the run's first hide learned about the desktop switch, for one word
// to the user.
struct THideReach {
  std::string Proxy;                // "address:port" the switch was given
  bool NothingReached = false;      // no mechanism a browser reads was changed
  std::string FirefoxNotFollowing;  // Firefox profiles that ignore the desktop, ", "-joined
};

// What the watch of the proxy in use has to tell the user.
struct TWatchNews {
  enum TKind {
    Moved,        // From stopped answering; the browsers now use To
    NoneAnswers,  // no proxy of Country answers; the browsers stay on From
    Back,         // From answers again
  };
  TKind Kind = Moved;
  std::string From, To;  // addresses (no port), as the user reads them
  std::string Country;   // the target country's name
};

// Checks candidates in order (on a worker thread) and calls aDone on the
// user-interface thread with the index of the first that carries a request,
// or -1. Tests answer at once.
using TProxyProber = std::function<void(const std::vector<TProxyRec>& aCandidates,
                                        std::function<void(int aPassed)> aDone)>;

class THideSession {
 public:
  using TClock = std::function<double()>;
  // A super proxy is touched again once more than this many minutes passed.
  static constexpr int64_t kTouchMinutes = 30;

  THideSession(TProxyManager& aManager, TClock aClock);

  bool Hiding() const { return FHiding; }
  // The proxy the browsers point at (kept after a stop: the last one).
  const TProxyRec& Proxy() const { return FManager.FTargetProxy; }
  // "address:port" of Proxy(), or empty.
  std::string ProxyText() const;

  // The one-second guard of both commands: false when the last accepted
  // command lies within the same whole second; otherwise true, and now
  // becomes the last accepted command.
  bool Accept();
  // Counts now as the last accepted command (a command within the first
  // second of the window is refused).
  void ArmGuard();

  // Hides through an idle proxy of the target country, or changes to another
  // one while hiding. aReady: the service's first update and the user's own
  // information are there.
  THideOutcome Hide(bool aReady);
  // Points the browsers back at the user's own settings; also when not
  // hiding (start-up uses it to undo a run that was killed while hiding).
  void Stop();

  // After the run's first hide with the system switch on: what it reached,
  // once (false afterwards and while nothing needs saying).
  bool TakeReachReport(THideReach& aReport);

  // Change-IP timer: hiding, and the whole minutes since the last change
  // reach the interval.
  bool ChangeDue(int64_t aIntervalMinutes) const;
  // The count of minutes starts again from now.
  void RestartChangeCount();
  // Touch timer: wanted while hiding through a super proxy.
  bool TouchWanted() const { return FHiding && Proxy().IsSuper; }
  // Touches the current super proxy when more than kTouchMinutes passed
  // since the last touch; true when it did.
  bool TouchIfDue();
  // Cookies of the browsers whose switches are on (after a timed change).
  void ClearCookies();

  // ---- the watch of the proxy in use ----
  // Every this many seconds while hiding the proxy is checked; after
  // kWatchFailures failed checks in a row the session looks for another
  // proxy of the country ("FailOver" on) and moves the browsers to the first
  // that answers. When none answers the browsers stay on the proxy (never
  // direct behind the user's back) and the checks go on until one answers.
  static constexpr int kWatchSeconds = 20;
  static constexpr int kWatchFailures = 2;
  void SetProber(TProxyProber aProber) { FProber = std::move(aProber); }
  // Called with news for the user, once per change of state.
  std::function<void(const TWatchNews&)> OnWatchNews;
  // One tick of the watch timer; nothing while a check is under way.
  void WatchTick();
  // Whether the watch has found no proxy of the country that answers.
  bool FailedClosed() const { return FFailedClosed; }
  // Whether the proxy ("address:port") was given up in this run.
  bool GivenUp(const std::string& aProxy) const { return FDead.count(aProxy) != 0; }

  double FLastActionTime = 0;
  double FLastChangeIPTime = 0;
  double FLastTouchTime = 0;

 private:
  double Now() const { return FClock(); }
  // Points the three switches at the proxy and makes it the current one.
  void SwitchTo(const TProxyRec& aProxy);
  // An idle proxy of the target country that was not given up, or none.
  TProxyRec PickIdle();
  // The proxies of the target country to try in place of the current one:
  // the idle ones not given up first, then the given-up ones, the current
  // one last; only the current one with "FailOver" off.
  std::vector<TProxyRec> Candidates();
  void Probe(std::vector<TProxyRec> aCandidates, bool aSeek);
  void Probed(const std::vector<TProxyRec>& aCandidates, bool aSeek, int aPassed);
  void Tell(TWatchNews::TKind aKind, const std::string& aFrom, const std::string& aTo);
  TProxyManager& FManager;
  TClock FClock;
  bool FHiding = false;
  bool FReachChecked = false;
  bool FReachPending = false;
  THideReach FReach;
  TProxyProber FProber;
  std::set<std::string> FDead;  // "address:port" given up in this run
  int FFailures = 0;
  bool FFailedClosed = false;
  bool FProbing = false;
  unsigned FWatchRound = 0;
  std::shared_ptr<int> FAlive =
      std::make_shared<int>(0);  // a check that started before a hide or stop is dropped
};
