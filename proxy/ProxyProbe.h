// Whether a proxy still carries a request: the service's check page
// ("URL.CheckIP") fetched through the proxy must name the proxy's own
// address, so a proxy that answers with an error page of its own, or a
// service that sees another address, does not pass.
//
// TProxyProbeRun checks candidates one after the other on a worker thread,
// never on the user-interface thread, and hands the index of the first that
// passes (-1 when none does) to the user-interface thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "proxy/uProxyManager.h"

// A short limit: a proxy that needs longer is no use to a browser either.
inline constexpr int kProxyProbeTimeoutMs = 5000;

// Fetches aCheckURL through aProxy; true when the answer (2xx) names the
// proxy's address. aWhy gets the reason of a failure.
bool ProbeProxy(const std::string& aCheckURL, const TProxyRec& aProxy, int aTimeoutMs,
                std::string* aWhy = nullptr);

// Called on the user-interface thread with the index of the first candidate
// that passed, or -1.
using TOnProbed = std::function<void(int aPassed)>;

class TProxyProbeRun {
 public:
  // Starts a run that frees itself; without a dispatcher (no user-interface
  // thread) the answer is dropped. A run still under way when the process
  // ends is not waited for.
  static void Start(const std::string& aCheckURL, std::vector<TProxyRec> aCandidates,
                    TOnProbed aDone, int aTimeoutMs = kProxyProbeTimeoutMs);
};
