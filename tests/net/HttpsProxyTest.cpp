// Certificates, the system proxy and the direct GET, with real TLS servers
// and a real forward proxy (tinyproxy) on loopback.
// Posix only: these tests run servers and programs of the posix test host.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "DownloaderTestSupport.h"
#include "platform/Files.h"
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
  ASSERT_TRUE(GetStringAndWait(sd, service.Base() + "/update?ACTION=Update"));
  EXPECT_EQ(o.text, "service /update?ACTION=Update");
  ASSERT_TRUE(GetStringAndWait(sd, misnamed.Base() + "/update?ACTION=Update"));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(service.RequestCount(), 2);
  EXPECT_EQ(misnamed.RequestCount(), 0);
}

// An answer from a server reached over https never sends the request on to
// plain http, where anybody between could answer: the downloader and the
// direct GET refuse the redirect, while one that stays on https is followed.
TEST_F(SecurityTransport, HttpsIsNeverRedirectedToPlainHttp) {
  nettest::Certificates certs;
  std::string error;
  ASSERT_TRUE(nettest::MakeCertificates(sb().Path("certs"), certs, &error)) << error;
  TestHttpServer plain([](const Request& r, nettest::Connection& c) {
    c.Write(Response(200, "plain " + r.target));
  });
  TestHttpServer secure(
      [&plain](const Request& r, nettest::Connection& c) {
        if (r.target.rfind("/down", 0) == 0)
          c.Write(Response(302, "", "Location: " + plain.Base() + "/landed\r\n"));
        else if (r.target.rfind("/stay", 0) == 0)
          c.Write(Response(302, "", "Location: /final\r\n"));
        else
          c.Write(Response(200, "secure " + r.target));
      },
      certs.localCertFile, certs.localKeyFile);
  EnvGuard trust("SSL_CERT_FILE", certs.caFile);

  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  ASSERT_TRUE(GetStringAndWait(sd, secure.Base() + "/stay"));
  EXPECT_EQ(o.text, "secure /final");
  ASSERT_TRUE(GetStringAndWait(sd, secure.Base() + "/down"));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.doneString, 1);

  std::string body;
  EXPECT_TRUE(platform::HttpGetDirect(secure.Base() + "/stay", body, 5000, &error)) << error;
  EXPECT_EQ(body, "secure /final");
  EXPECT_FALSE(platform::HttpGetDirect(secure.Base() + "/down", body, 5000, &error));
  EXPECT_EQ(body, "");
  EXPECT_EQ(plain.RequestCount(), 0);
}

// A file download keeps its body in a file of its own that nobody else can
// have placed or read, and writes its target as a new file: a link planted
// under the target's name is replaced, the file it points to untouched.
TEST_F(SecurityTransport, DownloadsNeitherUseNorWriteThroughPlantedFiles) {
  TestHttpServer web([](const Request& r, nettest::Connection& c) {
    c.Write(Response(200, "picture " + r.target));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  // No target: the handler reads the downloader's own file, private and
  // under an unguessable name, which is gone once the handler returned.
  struct stat seen {};
  std::string seenText;
  sd.OnDoneFile = [&](TSingleDownloader*, const std::string& name, int64_t) {
    ++o.doneFile;
    o.fileName = name;
    ::lstat(name.c_str(), &seen);
    platform::ReadWholeFile(name, seenText);
  };
  sd.BinaryData = true;
  sd.URL = web.Base() + "/DE.PNG";
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  ASSERT_EQ(o.doneFile, 1);
  EXPECT_EQ(seenText, "picture /DE.PNG");
  EXPECT_TRUE(S_ISREG(seen.st_mode));
  EXPECT_EQ(seen.st_mode & 07777, 0600u);
  EXPECT_EQ(seen.st_uid, ::geteuid());
  EXPECT_EQ(o.fileName.rfind(platform::TempPath(), 0), 0u) << o.fileName;
  // "sg", six random letters or digits, ".tmp": far too many names for
  // anybody to fill them all in advance.
  const std::string base = o.fileName.substr(platform::TempPath().size());
  ASSERT_EQ(base.size(), 2u + 6u + 4u) << base;
  EXPECT_EQ(base.substr(0, 2), "sg");
  EXPECT_EQ(base.substr(8), ".tmp");
  EXPECT_FALSE(platform::PathExists(o.fileName));

  // A target under a planted link.
  sb().WriteFile("victim.txt", "precious");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("data/flags")));
  ASSERT_EQ(::symlink(sb().Path("victim.txt").c_str(), sb().Path("data/flags/US.PNG").c_str()), 0);
  // A dangling link is a taken name, not a free one.
  ASSERT_EQ(::symlink(sb().Path("nowhere.txt").c_str(), sb().Path("data/flags/FR.PNG").c_str()), 0);
  EXPECT_TRUE(platform::PathExists(sb().Path("data/flags/FR.PNG")));
  Wire(sd, o);
  for (const char* name : {"US.PNG", "FR.PNG"}) {
    sd.FileName = sb().Path(std::string("data/flags/") + name);
    sd.URL = web.Base() + "/" + name;
    sd.GetFile();
    ASSERT_TRUE(PumpUntilIdle(sd));
    EXPECT_EQ(sb().ReadFile(std::string("data/flags/") + name), std::string("picture /") + name);
    struct stat st {};
    ASSERT_EQ(::lstat(sd.FileName.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
  }
  EXPECT_EQ(sb().ReadFile("victim.txt"), "precious");
  EXPECT_FALSE(sb().Exists("nowhere.txt"));
  EXPECT_EQ(o.doneFile, 3);
}

// Bodies are bounded: an answer longer than the limit fails the request
// whether its length is announced or only seen while reading, for text and
// for files, and the direct GET stops at its own bound.
TEST_F(SecurityTransport, OverlongBodiesFailTheRequest) {
  const std::string big(64 * 1024, 'x');
  TestHttpServer web([&big](const Request& r, nettest::Connection& c) {
    if (r.target == "/unannounced")
      c.Write("HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n" + big);
    else if (r.target == "/huge")
      c.Write(Response(200, std::string(platform::kMaxDirectBodyBytes + 1, 'y')));
    else
      c.Write(Response(200, big));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.MaxBytes = 1024;
  struct Case {
    const char* path;
    bool toFile;
  };
  for (const Case& k :
       {Case{"/announced", false}, Case{"/unannounced", false}, Case{"/announced", true}}) {
    const int before = o.errors;
    sd.URL = web.Base() + k.path;
    sd.FileName = k.toFile ? sb().Path("data/big.bin") : std::string();
    k.toFile ? sd.GetFile() : sd.GetString();
    ASSERT_TRUE(PumpUntilIdle(sd));
    EXPECT_EQ(o.errors, before + 1) << k.path << " " << k.toFile;
  }
  EXPECT_FALSE(sb().Exists("data/big.bin"));
  EXPECT_EQ(o.Events(), 3);
  // Within the bound the same answer arrives whole.
  sd.MaxBytes = static_cast<int64_t>(big.size());
  ASSERT_TRUE(GetStringAndWait(sd, web.Base() + "/unannounced"));
  EXPECT_EQ(o.text, big);

  std::string body, error;
  EXPECT_TRUE(platform::HttpGetDirect(web.Base() + "/announced", body, 10000, &error)) << error;
  EXPECT_FALSE(platform::HttpGetDirect(web.Base() + "/huge", body, 10000, &error));
  EXPECT_EQ(body, "");
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
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/through-proxy"));
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
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/direct-download"));
  EXPECT_EQ(o.text, "seen /direct-download");
  ASSERT_EQ(server.RequestCount(), 3);
  EXPECT_FALSE(ViaProxy(server.Requests()[2]));

  // A proxy that is applied but gone makes the download fail, not go around it.
  proxy.Stop();
  platform::RecordAppliedProxy({true, proxy.Server(), ""});
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/proxy-down"));
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
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/secret"));
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
