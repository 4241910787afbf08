// What the window learns and says when its service does not answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proxy/ServiceReach.h"

namespace {

// The language texts as "key(arg,arg)", so that a test sees which text was
// chosen and with what.
std::string Echo(const std::string& key, const std::vector<std::string>& args) {
  std::string r = key + "(";
  for (size_t i = 0; i < args.size(); ++i) r += (i ? "," : "") + args[i];
  return r + ")";
}

TEST(ServiceReach, ClassifiesTheRequestsErrors) {
  struct Case {
    const char* error;
    TServiceFailure kind;
    int status;
  };
  const Case cases[] = {
      {"connection refused: Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect "
       "to server",
       TServiceFailure::Refused, 0},
      {"Failed to connect to host: Connection refused", TServiceFailure::Refused, 0},
      {"name not resolved: Could not resolve host: nowhere.invalid", TServiceFailure::NotResolved,
       0},
      {"certificate refused: SSL certificate problem: self-signed certificate",
       TServiceFailure::Certificate, 0},
      {"HTTP status 503", TServiceFailure::HttpStatus, 503},
      {"HTTP status 404", TServiceFailure::HttpStatus, 404},
      {"timed out: Operation timed out after 30000 milliseconds", TServiceFailure::TimedOut, 0},
      {"something else", TServiceFailure::Other, 0},
      {"", TServiceFailure::Other, 0},
  };
  for (const Case& c : cases) {
    const TServiceError e = ClassifyServiceError(c.error);
    EXPECT_EQ(e.Kind, c.kind) << c.error;
    EXPECT_EQ(e.Status, c.status) << c.error;
    EXPECT_EQ(e.Detail, c.error);
  }
}

TEST(ServiceReach, OriginOfAnAddress) {
  EXPECT_EQ(ServiceOrigin("http://127.0.0.1:8470/getinfo?MagicWord=x"), "http://127.0.0.1:8470");
  EXPECT_EQ(ServiceOrigin("https://svc.example"), "https://svc.example");
  EXPECT_EQ(ServiceOrigin("https://[::1]:443/x"), "https://[::1]:443");
  EXPECT_EQ(ServiceOrigin("not an address"), "not an address");
}

TEST(ServiceReach, DelaysGrowToTheLimitAndStartOverAfterAnAnswer) {
  TServiceReach r;
  EXPECT_FALSE(r.Unreached());
  EXPECT_EQ(r.StatusText(Echo), "");
  EXPECT_EQ(r.StatusDetail(Echo, "x"), "");
  EXPECT_EQ(r.RefusalText(Echo), "");
  std::vector<int> delays;
  for (int i = 0; i < 9; ++i)
    delays.push_back(r.Failed("http://h:1/getinfo", "HTTP status 500", 100));
  EXPECT_EQ(delays, (std::vector<int>{5, 10, 20, 40, 80, 160, 300, 300, 300}));
  EXPECT_EQ(r.Failures(), 9);
  EXPECT_DOUBLE_EQ(r.NextTry(), 400);
  r.Answered();
  EXPECT_FALSE(r.Unreached());
  EXPECT_EQ(r.StatusText(Echo), "");
  EXPECT_EQ(r.Failed("http://h:1/getinfo", "HTTP status 500", 0), 5);
}

TEST(ServiceReach, TextsNameTheAddressTheReasonAndTheNextTry) {
  struct Case {
    const char* error;
    const char* reason;
  };
  const Case cases[] = {
      {"connection refused: x", "Service.Refused()"},
      {"name not resolved: x", "Service.NotResolved()"},
      {"certificate refused: x", "Service.Certificate()"},
      {"HTTP status 502", "Service.HttpStatus(502)"},
      {"timed out: x", "Service.TimedOut()"},
      {"", "Service.NoAnswer()"},
      // A failure of no known kind is shown as the request gave it.
      {"weird failure", "weird failure"},
  };
  for (const Case& c : cases) {
    TServiceReach r;
    r.Failed("https://svc.example:8443/getinfo?MagicWord=W", c.error, 0);
    EXPECT_EQ(r.ReasonText(Echo), c.reason);
    EXPECT_EQ(r.StatusText(Echo), "Service.Unreached(https://svc.example:8443)");
    EXPECT_EQ(r.StatusDetail(Echo, "19:04:05"),
              std::string("Service.NextTry(") + c.reason + ",19:04:05)");
    EXPECT_EQ(r.RefusalText(Echo),
              std::string("MSGBox.NOSERVICE(https://svc.example:8443,") + c.reason + ")");
  }
}

}  // namespace
