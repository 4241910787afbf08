// Whether the web service answers, and what the window says when it does not.
//
// The local-information request is the program's first call to its service;
// when it fails, the window names the address and the reason, and asks again
// after a delay that grows with every failure in a row (5 s, 10 s, 20 s, ...,
// at most 5 minutes). One answer ends the failure state, and the usual texts
// come back. Qt-free: the window owns one TServiceReach, feeds it the
// outcomes of its requests and draws what it says.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Why a request to the service failed, from the request's error text.
enum class TServiceFailure { Refused, NotResolved, Certificate, HttpStatus, TimedOut, Other };

struct TServiceError {
  TServiceFailure Kind = TServiceFailure::Other;
  int Status = 0;      // the HTTP status with HttpStatus
  std::string Detail;  // the error text as the request gave it
};

// Sorts an error text of platform::HttpGetDirect into a kind.
TServiceError ClassifyServiceError(const std::string& aError);

// The scheme, host and port of an address ("http://host:8470"): what the
// window names as the service.
std::string ServiceOrigin(const std::string& aURL);

// Looks up a text of the language file by key with "{1}", "{2}", ... filled in.
using TServiceText =
    std::function<std::string(const std::string& aKey, const std::vector<std::string>& aArgs)>;

class TServiceReach {
 public:
  // Delays between the tries, in seconds: the first, and the longest.
  static constexpr int kFirstDelay = 5;
  static constexpr int kLongestDelay = 300;

  // A request to aURL failed with aError at aNow (seconds on any clock);
  // returns the seconds until the next try.
  int Failed(const std::string& aURL, const std::string& aError, double aNow);
  // The service answered: the failure state ends, the delays start over.
  void Answered();

  bool Unreached() const { return FFailures > 0; }
  int Failures() const { return FFailures; }
  const std::string& Address() const { return FAddress; }
  const TServiceError& LastError() const { return FError; }
  // When the next try is due (aNow of Failed plus its delay).
  double NextTry() const { return FNextTry; }

  // The reason in the user's language ("connection refused", "HTTP status 503").
  std::string ReasonText(const TServiceText& aText) const;
  // The two status lines: the address, then the reason and the time of the
  // next try (aNextTryClock, e.g. "19:04:05"); empty while the service
  // answers.
  std::string StatusText(const TServiceText& aText) const;
  std::string StatusDetail(const TServiceText& aText, const std::string& aNextTryClock) const;
  // The refusal of a command that needs the service: names the service
  // and the reason while it is unreached; empty otherwise.
  std::string RefusalText(const TServiceText& aText) const;

 private:
  int FFailures = 0;
  std::string FAddress;
  TServiceError FError;
  double FNextTry = 0;
};
