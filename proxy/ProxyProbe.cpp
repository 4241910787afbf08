#include "proxy/ProxyProbe.h"

#include <thread>
#include <utility>

#include "net/CLDebugLog.h"
#include "net/Dispatcher.h"
#include "net/SingleDownloader.h"
#include "platform/Http.h"

namespace {

void Trace(const std::string& line) { CLDebugLog::Write("ProxyProbe", line); }

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

bool ProbeProxy(const std::string& aCheckURL, const TProxyRec& aProxy, int aTimeoutMs,
                std::string* aWhy) {
  if (aProxy.IP.empty() || aCheckURL.empty()) {
    SetWhy(aWhy, aCheckURL.empty() ? "no check address" : "no proxy");
    return false;
  }
  const TSingleDownloaderThread::TParsedURL url = TSingleDownloaderThread::ParseURL(aCheckURL);
  platform::HttpRequestOptions options;
  options.host = url.HostName;
  options.port = url.Port;
  options.secure = url.SSL;
  options.object = url.Object.empty() ? "/" : url.Object;
  options.proxy = aProxy.IP + ":" + aProxy.Port;
  options.useSystemProxy = false;
  options.reload = true;
  options.connectTimeoutMs = aTimeoutMs;
  options.stallTimeoutMs = aTimeoutMs;
  std::string error;
  std::unique_ptr<platform::HttpConnection> c = platform::HttpOpenRequest(options, &error);
  if (!c || !c->Send(&error)) {
    SetWhy(aWhy, error.empty() ? "no answer" : error);
    return false;
  }
  if (c->StatusCode() < 200 || c->StatusCode() > 299) {
    SetWhy(aWhy, "HTTP status " + std::to_string(c->StatusCode()));
    return false;
  }
  // The page is small; more than this is not the service's check page.
  std::string body;
  char buffer[4096];
  for (long n; body.size() < 65536 && (n = c->Read(buffer, sizeof buffer, &error)) > 0;)
    body.append(buffer, static_cast<size_t>(n));
  // The address stands alone between two markup characters.
  if (body.find(">" + aProxy.IP + "<") == std::string::npos) {
    SetWhy(aWhy, "the answer does not name " + aProxy.IP);
    return false;
  }
  return true;
}

void TProxyProbeRun::Start(const std::string& aCheckURL, std::vector<TProxyRec> aCandidates,
                           TOnProbed aDone, int aTimeoutMs) {
  std::thread([url = aCheckURL, candidates = std::move(aCandidates), done = std::move(aDone),
               aTimeoutMs] {
    int passed = -1;
    for (size_t i = 0; i < candidates.size() && passed < 0; ++i) {
      std::string why;
      if (ProbeProxy(url, candidates[i], aTimeoutMs, &why))
        passed = static_cast<int>(i);
      else
        Trace(candidates[i].IP + ":" + candidates[i].Port + " failed its check: " + why);
    }
    if (IDispatcher* dispatcher = GetDispatcher())
      dispatcher->Post([done, passed] { done(passed); });
  }).detach();
}
