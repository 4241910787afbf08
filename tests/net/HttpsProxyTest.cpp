// Certificates, the system proxy and the direct GET, with real TLS servers
// and a real forward proxy (tinyproxy) on loopback.
// Posix only: these tests run servers and programs of the posix test host.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>

#include "DownloaderTestSupport.h"
#include "platform/Http.h"
#include "support/EnvGuard.h"

using nettest::Request;
using nettest::Response;
using nettest::TestHttpServer;

namespace {

using testsupport::EnvGuard;

bool ViaProxy(const Request& r) { return r.Header("Via").find("tinyproxy") != std::string::npos; }

}  // namespace

// The transport boundary: a download over HTTPS is answered only by a server
// whose certificate leads to a trusted authority and names the host of the
// address. Tests in suites named "Security..." also carry the label
// "security".
class SecurityTransport : public DownloaderTest {};

TEST_F(SecurityTransport, HttpsVerifiesTheChainAndTheHostName) {
  nettest::Certificates certs;
  std::string error;
  ASSERT_TRUE(nettest::MakeCertificates(sb().Path("certs"), certs, &error)) << error;
  // The certificate of this server names wrong-name.example, issued by the
  // trusted test authority; the address is 127.0.0.1.
  auto answer = [](const std::string& who) {
    return
        [who](const Request& r, nettest::Connection& c) { c.Write(Response(200, who + r.target)); };
  };
  TestHttpServer misnamed(answer("misnamed "), certs.certFile, certs.keyFile);
  TestHttpServer named(answer("secure "), certs.localCertFile, certs.localKeyFile);
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = "HTTPS://127.0.0.1:" + std::to_string(named.Port()) + "/a?b=1";
  {
    EnvGuard trust("SSL_CERT_FILE", certs.caFile);
    sd.GetString();
    ASSERT_TRUE(PumpUntilIdle(sd));
  }
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(o.text, "secure /a?b=1");
  ASSERT_EQ(named.RequestCount(), 1);
  EXPECT_EQ(named.Requests()[0].version, "HTTP/1.0");
  EXPECT_FALSE(named.Requests()[0].HasHeader("Pragma"));  // the cache flag does not apply to HTTPS

  // A trusted certificate for another name: refused before any request.
  sd.URL = "https://127.0.0.1:" + std::to_string(misnamed.Port()) + "/update?x=1";
  {
    EnvGuard trust("SSL_CERT_FILE", certs.caFile);
    sd.GetString();
    ASSERT_TRUE(PumpUntilIdle(sd));
  }
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(misnamed.RequestCount(), 0);

  // The right name from an authority that is not trusted: refused as well.
  sd.URL = "https://127.0.0.1:" + std::to_string(named.Port()) + "/untrusted";
  {
    EnvGuard trust("SSL_CERT_FILE", certs.otherCaFile);
    sd.GetString();
    ASSERT_TRUE(PumpUntilIdle(sd));
  }
  EXPECT_EQ(o.errors, 2);
  EXPECT_EQ(named.RequestCount(), 1);

  // The direct GET (local information, touch) applies the same rules.
  std::string body;
  {
    EnvGuard trust("SSL_CERT_FILE", certs.caFile);
    EXPECT_FALSE(platform::HttpGetDirect(misnamed.Base() + "/direct", body, 5000, &error));
    EXPECT_TRUE(platform::HttpGetDirect(named.Base() + "/direct", body, 5000, &error)) << error;
  }
  EXPECT_EQ(body, "secure /direct");
  EXPECT_EQ(misnamed.RequestCount(), 0);
}

// scripts/test-ca makes the authority and the service certificate of the
// demo: the service is reached by the names it was issued for, and a
// certificate of the same authority for another name is refused.
TEST_F(SecurityTransport, TheDemoAuthorityCertifiesTheServiceByItsNames) {
  const std::string dir = sb().Path("demo-ca");
  auto testCa = [&](const std::string& name) {
    const std::string cmd = "'" + std::string(VG_SOURCE_DIR) + "/scripts/test-ca' '" + dir + "' " +
                            name + " > '" + sb().Path("test-ca.log") + "' 2>&1";
    return std::system(cmd.c_str()) == 0;
  };
  ASSERT_TRUE(testCa("127.0.0.1")) << testsupport::ReadText(sb().Path("test-ca.log"));
  auto handler = [](const Request& r, nettest::Connection& c) {
    c.Write(Response(200, "service " + r.target));
  };
  TestHttpServer service(handler, dir + "/service.pem", dir + "/service.key");
  // The same authority (reused by the script) certifies another name.
  ASSERT_TRUE(testCa("localhost")) << testsupport::ReadText(sb().Path("test-ca.log"));
  TestHttpServer misnamed(handler, dir + "/service.pem", dir + "/service.key");
  EnvGuard trust("SSL_CERT_FILE", dir + "/ca.pem");

  std::string body, error;
  EXPECT_TRUE(platform::HttpGetDirect(service.Base() + "/update", body, 5000, &error)) << error;
  EXPECT_EQ(body, "service /update");
  EXPECT_FALSE(platform::HttpGetDirect(misnamed.Base() + "/update", body, 5000, &error));
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = service.Base() + "/update?ACTION=Update";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "service /update?ACTION=Update");
  sd.URL = misnamed.Base() + "/update?ACTION=Update";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(service.RequestCount(), 2);
  EXPECT_EQ(misnamed.RequestCount(), 0);
}

TEST_F(DownloaderTest, DownloadsFollowTheAppliedProxyAndDirectGetsNever) {
  nettest::TinyProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(sb().Path("tinyproxy"), &error)) << error;
  TestHttpServer server(
      [](const Request& r, nettest::Connection& c) { c.Write(Response(200, "seen " + r.target)); });

  // The platform reports a system proxy: the download goes through it.
  platform::RecordAppliedProxy({true, proxy.Server(), ""});
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/through-proxy";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "seen /through-proxy");
  ASSERT_EQ(server.RequestCount(), 1);
  EXPECT_TRUE(ViaProxy(server.Requests()[0]));
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] { return proxy.Log().find("/through-proxy") != std::string::npos; }, 3000))
      << proxy.Log();

  // The local-information GET bypasses it, also with proxy variables set.
  {
    EnvGuard env1("http_proxy", "http://" + proxy.Server());
    EnvGuard env2("HTTP_PROXY", "http://" + proxy.Server());
    std::string body;
    ASSERT_TRUE(platform::HttpGetDirect(server.Base() + "/local-info", body, 5000, &error))
        << error;
    EXPECT_EQ(body, "seen /local-info");
  }
  ASSERT_EQ(server.RequestCount(), 2);
  EXPECT_FALSE(ViaProxy(server.Requests()[1]));

  // The platform reports none: the download goes directly.
  platform::RecordAppliedProxy({});
  sd.URL = server.Base() + "/direct-download";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "seen /direct-download");
  ASSERT_EQ(server.RequestCount(), 3);
  EXPECT_FALSE(ViaProxy(server.Requests()[2]));

  // A proxy that is applied but gone makes the download fail, not go around it.
  proxy.Stop();
  platform::RecordAppliedProxy({true, proxy.Server(), ""});
  sd.URL = server.Base() + "/proxy-down";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(server.RequestCount(), 3);

  const std::string log = proxy.Log();
  EXPECT_EQ(log.find("/local-info"), std::string::npos);
  EXPECT_EQ(log.find("/direct-download"), std::string::npos);
}

TEST_F(DownloaderTest, HttpsDownloadTunnelsThroughTheProxy) {
  nettest::TinyProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(sb().Path("tinyproxy"), &error)) << error;
  nettest::Certificates certs;
  ASSERT_TRUE(nettest::MakeCertificates(sb().Path("certs"), certs, &error)) << error;
  TestHttpServer server([](const Request&,
                           nettest::Connection& c) { c.Write(Response(200, "tunnelled")); },
                        certs.localCertFile, certs.localKeyFile);
  EnvGuard trust("SSL_CERT_FILE", certs.caFile);
  platform::RecordAppliedProxy({true, proxy.Server(), ""});
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/secret";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "tunnelled");
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        return proxy.Log().find("CONNECT 127.0.0.1:" + std::to_string(server.Port())) !=
               std::string::npos;
      },
      30000))
      << proxy.Log();
}

TEST_F(DownloaderTest, DirectGetReportsFailuresAndRespectsItsTimeout) {
  TestHttpServer server([](const Request& r, nettest::Connection& c) {
    if (r.target == "/ok")
      c.Write(Response(200, "IP=127.0.0.1\r\n"));
    else if (r.target == "/hang")
      c.Hang();
    else
      c.Write(Response(404, "missing"));
  });
  std::string body, error;
  EXPECT_TRUE(platform::HttpGetDirect(server.Base() + "/ok", body, 5000, &error)) << error;
  EXPECT_EQ(body, "IP=127.0.0.1\r\n");
  EXPECT_FALSE(platform::HttpGetDirect(server.Base() + "/missing", body, 5000, &error));
  EXPECT_TRUE(body.empty());
  EXPECT_NE(error.find("404"), std::string::npos);
  EXPECT_FALSE(
      platform::HttpGetDirect("http://127.0.0.1:" + std::to_string(nettest::FreePort()) + "/", body,
                              5000));
  EXPECT_FALSE(platform::HttpGetDirect("ftp://127.0.0.1/", body, 5000));
  // The server holds the request for as long as it runs: only the time
  // limit can end the call while it does. Stopping the server lets a call
  // that ignores its limit go, so that the test fails instead of hanging.
  bool got = true;
  error.clear();
  EXPECT_TRUE(testsupport::ReturnsWithin(
      [&] { got = platform::HttpGetDirect(server.Base() + "/hang", body, 700, &error); }, 60000,
      [&] { server.Stop(); }, "a direct GET of a hanging server"))
      << "the time limit did not end the request";
  EXPECT_FALSE(got);
  EXPECT_FALSE(error.empty());
}

#endif  // _WIN32
