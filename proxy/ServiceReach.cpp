#include "proxy/ServiceReach.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool Has(const std::string& text, const char* piece) {
  return text.find(piece) != std::string::npos;
}

}  // namespace

TServiceError ClassifyServiceError(const std::string& aError) {
  TServiceError e;
  e.Detail = aError;
  const std::string t = Lower(aError);
  const std::string statusWord = "http status ";
  const size_t at = t.find(statusWord);
  if (at != std::string::npos) {
    size_t i = at + statusWord.size();
    int status = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && status < 1000)
      status = status * 10 + (t[i++] - '0');
    if (status > 0) {
      e.Kind = TServiceFailure::HttpStatus;
      e.Status = status;
      return e;
    }
  }
  // The texts of the request's transports: its own words first (see
  // platform::HttpGetDirect), then the usual wording of the libraries.
  if (Has(t, "name not resolved") || Has(t, "resolve") || Has(t, "name_not_resolved"))
    e.Kind = TServiceFailure::NotResolved;
  else if (Has(t, "certificate") || Has(t, "ssl") || Has(t, "tls"))
    e.Kind = TServiceFailure::Certificate;
  else if (Has(t, "refused") || Has(t, "couldn't connect") || Has(t, "failed to connect") ||
           Has(t, "cannot_connect"))
    e.Kind = TServiceFailure::Refused;
  else if (Has(t, "timed out") || Has(t, "timeout"))
    e.Kind = TServiceFailure::TimedOut;
  return e;
}

std::string ServiceOrigin(const std::string& aURL) {
  const size_t scheme = aURL.find("://");
  if (scheme == std::string::npos) return aURL;
  const size_t end = aURL.find_first_of("/?#", scheme + 3);
  return end == std::string::npos ? aURL : aURL.substr(0, end);
}

int TServiceReach::Failed(const std::string& aURL, const std::string& aError, double aNow) {
  FAddress = ServiceOrigin(aURL);
  FError = ClassifyServiceError(aError);
  int delay = kFirstDelay;
  for (int i = 0; i < FFailures && delay < kLongestDelay; ++i) delay *= 2;
  delay = std::min(delay, kLongestDelay);
  if (FFailures < 1000) ++FFailures;
  FNextTry = aNow + delay;
  return delay;
}

void TServiceReach::Answered() {
  FFailures = 0;
  FError = TServiceError();
  FNextTry = 0;
}

std::string TServiceReach::ReasonText(const TServiceText& aText) const {
  switch (FError.Kind) {
    case TServiceFailure::Refused: return aText("Service.Refused", {});
    case TServiceFailure::NotResolved: return aText("Service.NotResolved", {});
    case TServiceFailure::Certificate: return aText("Service.Certificate", {});
    case TServiceFailure::HttpStatus:
      return aText("Service.HttpStatus", {std::to_string(FError.Status)});
    case TServiceFailure::TimedOut: return aText("Service.TimedOut", {});
    case TServiceFailure::Other: break;
  }
  return FError.Detail.empty() ? aText("Service.NoAnswer", {}) : FError.Detail;
}

std::string TServiceReach::StatusText(const TServiceText& aText) const {
  if (!Unreached()) return std::string();
  return aText("Service.Unreached", {FAddress});
}

std::string TServiceReach::StatusDetail(const TServiceText& aText,
                                        const std::string& aNextTryClock) const {
  if (!Unreached()) return std::string();
  return aText("Service.NextTry", {ReasonText(aText), aNextTryClock});
}

std::string TServiceReach::RefusalText(const TServiceText& aText) const {
  if (!Unreached()) return std::string();
  return aText("MSGBox.NOSERVICE", {FAddress, ReasonText(aText)});
}
