// The proxy manager: the normal and super proxy lists delivered by the web
// service, the country questions the windows ask about them, the choice of an
// idle proxy with its used list, the keep-alive call for super proxies, and
// the request for the user's real IP information.
//
// Proxy list value ("NORMAL_IPS", "SUPER_IPS"): record texts separated by
// ";", where "\'" stands for an apostrophe. Record text: five "|" fields,
//   address:port | country name | country code | longitude | latitude
// e.g. 192.0.2.10:8080|United States|US|-97|38. Further fields are ignored.
//
// Everything here runs on the user-interface thread, except the network part
// of TInfoGotThread, which hands its answer back to that thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/NoCopy.h"
#include "net/StringList.h"

// One proxy, copied whole. An empty IP stands for no proxy.
struct TProxyRec {
  std::string IP;
  std::string Port;
  std::string Country_Short;
  std::string Country_Long;
  std::string Latitude;
  std::string Longitude;
  bool IsSuper = false;

  bool operator==(const TProxyRec&) const = default;
};

// Which lists a selection draws from.
enum TProxyRange {
  KNormal,  // normal list only
  KSuper,   // super list first, then normal
  KAll      // both; the super list first in one selection out of five
};

// The pseudo-random generator of the selection. Injectable so that the
// shuffle and the range draw can be replayed in tests.
class IProxyRandom {
 public:
  virtual ~IProxyRandom() = default;
  // Re-seeds from the clock.
  virtual void Randomize() = 0;
  // A uniform integer from 0 to n-1; 0 when n is 0 or below.
  virtual int Random(int n) = 0;
};

// The production generator: seeded from a high-resolution clock. A re-seed
// mixes the clock into the current state, so two re-seeds within one clock
// tick still give different sequences.
std::shared_ptr<IProxyRandom> CreateClockRandom();

// Answer handler of a TInfoGotThread, called on the user-interface thread.
using TOnInfoGot = std::function<void(const std::string& aRet)>;

// A worker thread that makes one plain GET over a direct connection (no
// system proxy) and hands a non-empty answer to the user-interface thread
// synchronously (IDispatcher::Send). A failed GET or an empty body calls
// nobody. Created suspended: set FURL, FreeOnTerminate and FOnInfoGot, then
// Start. With FreeOnTerminate the thread deletes itself when its run ends and
// nobody may touch it after Start; a run still under way when the process
// ends is not waited for.
class TInfoGotThread : private TNoCopy {
 public:
  TInfoGotThread();
  // Without FreeOnTerminate, waits for a started run to end.
  ~TInfoGotThread();

  std::string FURL;
  TOnInfoGot FOnInfoGot;
  // Called instead of FOnInfoGot, on the same thread and in the same way,
  // when the GET fails or answers an empty body: the error text
  // (empty for an empty body).
  TOnInfoGot FOnFailed;
  bool FreeOnTerminate = false;

  // Starts the run (once).
  void Start();
  // Waits for the run to end; only for threads without FreeOnTerminate.
  // Called on the user-interface thread while an answer handler is set, it
  // would wait for a run that waits for that thread: wait elsewhere then.
  void WaitFor();
  // The answer body; empty until the request has succeeded. Read it only
  // after WaitFor.
  const std::string& Ret() const { return FRet; }

  // Runs under way in this process (started and not yet ended).
  static int RunningCount();
  // Time limit of one GET.
  static constexpr int kTimeoutMs = 30000;

 private:
  void Execute();

  std::string FRet;
  std::string FError;
  bool FStarted = false;
  std::thread FThread;  // the run, when the creator keeps the object
};

class TProxyManager : private TNoCopy {
 public:
  using TNotifyEvent = std::function<void(TProxyManager* Sender)>;

  // Create: four empty lists, the target country "US", the clock generator.
  TProxyManager();
  // Destroy. Requests still under way are detached: their answers are dropped.
  ~TProxyManager();

  // --- fields -------------------------------------------------------------------
  TStringList FLocalInfo;               // last local-information answer, one line per entry
  TStringList FNormalProxyList;         // record texts of "NORMAL_IPS", in order
  TStringList FSuperProxyList;          // record texts of "SUPER_IPS", in order
  TStringList FUsedProxyList;           // addresses handed out, in order
  std::string FSuperTouch;              // "SUPER_TOUCH" as read at load
  std::string FTargetCountry;           // short code of the wanted country; "UN" = any
  TProxyRec FTargetProxy;               // the proxy the browsers point at; set by the main window
  TNotifyEvent FOnGetCurrentLocalInfo;  // called after FLocalInfo has been refreshed
  // Called when the local-information request fails: the address asked
  // and the error text.
  std::function<void(const std::string& aURL, const std::string& aError)> FOnLocalInfoFailed;

  // --- lists and countries ---------------------------------------------------------
  // Appends the records of "NORMAL_IPS" and "SUPER_IPS" to the lists (which
  // are not emptied first), keeping only well-formed records; reads
  // "SUPER_TOUCH" and the target country ("TARGET_COUNTRY" when one is
  // stored, else "US"). True when the normal list holds a record afterwards.
  bool LoadSettings();
  // Decodes entry aIndex of aSL into Result, IsSuper set to aIsSuper. An
  // index outside the list leaves Result as it was and returns false.
  bool GetProxyRec(const TStringList& aSL, int aIndex, bool aIsSuper, TProxyRec& Result) const;
  // Appends each country name (normal list first, then super) that aSL does
  // not hold yet, compared without regard to case. Nothing when aSL is null.
  void GetCountryList(TStringList* aSL) const;
  // Records whose code is aCountry (any case); every record for exactly "UN".
  int GetcountryListCount(const std::string& aCountry, bool aIncludeSuper) const;
  std::string GetCountryLong(const std::string& aCountryShort) const;
  std::string GetCountryShort(const std::string& aCountryLong) const;
  // Longitude and latitude of the first record named aCountryLong; both out
  // values stay as they were when none matches.
  void GetCountryPosition(const std::string& aCountryLong, std::string& aLongi,
                          std::string& aLati) const;
  // aCountry occurs (case counts) in the text of a normal record.
  bool IsCountryExistsInNormal(const std::string& aCountry) const;

  // --- selection -------------------------------------------------------------------
  // An idle proxy of aCountry (or "UN"), remembered in the used list; the
  // current FTargetProxy when aChange is false and one is set, or when no
  // idle proxy exists. Does not assign FTargetProxy.
  TProxyRec GetIdleProxy(const std::string& aCountry, bool aClearUsed, TProxyRange aRange,
                         bool aChange);
  // Empties the used list when every record of aCountry (normal list, plus
  // super list with aIncludeSuper) has its address in it.
  void OrganizeUsedList(const std::string& aCountry, bool aIncludeSuper);
  // Shuffles aNSL, and aSSL with aIncludeSuper: four rounds of one moving
  // pass over aNSL then one over aSSL. A pass takes each position i in turn
  // and moves the entry found there to a drawn position from 0 to n-2.
  void RandomSort(TStringList& aNSL, TStringList& aSSL, bool aIncludeSuper);
  // Calls the "SUPER_TOUCH" address (read afresh, "{1}" = the proxy's IP) on
  // a worker; returns at once, the answer is ignored.
  void Touch(const TProxyRec& aPR);
  // Tells the service that a proxy stopped answering: the "SUPER_TOUCH"
  // address with "dead=1" added; returns at once, the answer is ignored.
  void ReportGivenUp(const TProxyRec& aPR);

  // --- local information ---------------------------------------------------------------
  // Starts a GET of "URL.GetInfo" + "?MagicWord=" + "App.MagicWord"; the
  // answer replaces FLocalInfo on the user-interface thread.
  void GetCurrentLocalInfo();
  // The answer handler: FLocalInfo = the lines of aRet, then
  // FOnGetCurrentLocalInfo.
  void InfoGot(const std::string& aRet);

  // Replaces the generator (null restores the clock generator).
  void SetRandom(std::shared_ptr<IProxyRandom> aRandom);

 private:
  // Field valueField of the first record (normal list first) whose field
  // keyField is key, compared without regard to case; empty when none is.
  std::string CountryField(const std::string& key, int keyField, int valueField) const;
  // Index orders of the two lists after the shuffle of RandomSort.
  void ShuffleOrders(std::vector<uint32_t>& aNOrder, std::vector<uint32_t>& aSOrder,
                     bool aIncludeSuper);

  std::shared_ptr<IProxyRandom> FRandom;
  // Expires with the manager; worker answers check it on the UI thread.
  std::shared_ptr<int> FAlive;
};
