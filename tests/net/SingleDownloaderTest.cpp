// The downloader against real servers on loopback.
// Posix only: these tests run servers and programs of the posix test host.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/SanitizerBuild.h"
#include "DownloaderTestSupport.h"
#include "net/CLUtils.h"
#include "platform/Files.h"

using nettest::Request;
using nettest::Response;
using nettest::TestHttpServer;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

int TempFilesLeft() {
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(platform::TempPath())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("sg", 0) == 0 && name.size() > 6 && name.substr(name.size() - 4) == ".tmp") ++n;
  }
  return n;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (auto& l : lines)
    if (l == line) return true;
  return false;
}

}  // namespace

TEST_F(DownloaderTest, TextRequestSendsTheRequestShapeAndReportsOnTheUiThread) {
  TestHttpServer server([](const Request& r, nettest::Connection& c) {
    c.Write(Response(200, "hello " + r.target));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/a?b=1";
  sd.Referer = "http://referrer.example/page";
  sd.GetString();
  // The settings were copied at the start: changing them now has no effect.
  sd.URL = server.Base() + "/other";
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(o.errors, 0);
  EXPECT_EQ(o.text, "hello /a?b=1");
  EXPECT_TRUE(sd.Result());
  EXPECT_FALSE(o.offUiThread);
  EXPECT_GE(o.progress, 1);
  EXPECT_EQ(o.lastTotal, 12);
  EXPECT_EQ(o.lastReaded, 12);

  ASSERT_EQ(server.RequestCount(), 1);
  Request r = server.Requests()[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/a?b=1");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.Header("Referer"), "http://referrer.example/page");
  EXPECT_FALSE(r.HasHeader("User-Agent"));
  EXPECT_EQ(r.Header("Pragma"), "no-cache");  // UseCache false: fresh copy
  EXPECT_TRUE(r.body.empty());

  auto log = o.Log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "ParseURL: " + server.Base() + "/a?b=1");
  EXPECT_EQ(log[1], "ParseURL: 127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(log[2], "ParseURL: /a?b=1");
  EXPECT_EQ(log[3], "GET");
  EXPECT_EQ(log[4], "HttpOpenRequest ok!");

  // Empty accept type, cache allowed, an agent.
  Outcome o2;
  Wire(sd, o2);
  sd.URL = server.Base() + "/second";
  sd.AcceptTypes = "";
  sd.UseCache = true;
  sd.Agent = "Veilgate/1.0";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o2.text, "hello /second");
  ASSERT_EQ(server.RequestCount(), 2);
  r = server.Requests()[1];
  EXPECT_EQ(r.Header("Accept"), "*");
  EXPECT_FALSE(r.HasHeader("Pragma"));
  EXPECT_EQ(r.Header("User-Agent"), "Veilgate/1.0");
}

TEST_F(DownloaderTest, PostBodiesAreSentByteForByte) {
  TestHttpServer server(
      [](const Request&, nettest::Connection& c) { c.Write(Response(200, "ok")); });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/post";
  TStringList values;
  values.Add("a=b c");
  values.Add("x=1&2=3");
  values.Add("empty=");
  sd.SetPostValues(&values);
  EXPECT_EQ(sd.PostQuery, "a=b+c&x=1%262%3D3&empty=");
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneString, 1);
  ASSERT_EQ(server.RequestCount(), 1);
  Request r = server.Requests()[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.body, "a=b+c&x=1%262%3D3&empty=");
  EXPECT_TRUE(Contains(o.Log(), "POST"));

  // A multipart upload: every byte value of the file arrives unchanged.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  sb().WriteFile("upload/data.bin", all);
  TStringList files;
  files.Add("file=" + sb().Path("upload/data.bin"));
  TStringList fields;
  fields.Add("k=v");
  ASSERT_TRUE(sd.SetUploadFiles(&fields, &files));
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  ASSERT_EQ(server.RequestCount(), 2);
  r = server.Requests()[1];
  const std::string B = TFilePostGen::Boundary;
  EXPECT_EQ(r.Header("Content-Type"), "multipart/form-data; boundary=" + B);
  const std::string expected =
      "--" + B + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n" + "--" + B +
      "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
      sb().Path("upload/data.bin") + "\"\r\n\r\n" + all + "\r\n--" + B + "--\r\n" +
      std::string(1, '\0');
  EXPECT_EQ(r.body, expected);
}

TEST_F(DownloaderTest, FileRequestWritesTheTargetAndRemovesItsTemporaryFile) {
  const std::string payload = RandomBytes(70000, 7);
  TestHttpServer server([&](const Request&, nettest::Connection& c) {
    c.Write(Response(200, payload, "Content-Type: application/octet-stream\r\n"));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/file.bin";
  sd.FileName = sb().Path("data/deep/sub/file.bin");  // folders do not exist yet
  sd.BinaryData = true;
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneFile, 1);
  EXPECT_EQ(o.errors, 0);
  EXPECT_EQ(o.fileName, sb().Path("data/deep/sub/file.bin"));
  EXPECT_EQ(o.fileSize, 70000);
  EXPECT_EQ(sb().ReadFile("data/deep/sub/file.bin"), payload);
  EXPECT_FALSE(o.offUiThread);
  // Blocks of at most 16384 bytes, each reported.
  EXPECT_GE(o.progress, 5);
  EXPECT_EQ(o.lastReaded, 70000);
  EXPECT_EQ(TempFilesLeft(), 0);

  // An existing target is overwritten.
  sb().WriteFile("data/old.bin", std::string(200000, 'x'));
  sd.FileName = sb().Path("data/old.bin");
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneFile, 2);
  EXPECT_EQ(sb().ReadFile("data/old.bin"), payload);
  EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(DownloaderTest, ShortOrMissingLengthsFail) {
  // 900 of 1000 announced bytes, then the connection closes.
  const std::string part = RandomBytes(900, 3);
  TestHttpServer shortServer([&](const Request&, nettest::Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + part);
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = shortServer.Base() + "/short";
  sd.FileName = sb().Path("short.bin");
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneFile, 0);
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(sb().ReadFile("short.bin"), part);  // the 900 bytes stay
  EXPECT_EQ(TempFilesLeft(), 0);
  // The same body as text is a failure too, not a truncated answer.
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneString, 0);
  EXPECT_EQ(o.errors, 2);

  // No Content-Length.
  TestHttpServer noLength([](const Request&, nettest::Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nno length here");
  });
  Outcome o2;
  Wire(sd, o2);
  sd.URL = noLength.Base() + "/nolength";
  sd.BinaryData = true;  // the body is not read at all
  sd.FileName = sb().Path("nolength.bin");
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o2.errors, 1);
  EXPECT_FALSE(sb().Exists("nolength.bin"));
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o2.errors, 2);
  EXPECT_EQ(o2.doneString, 0);
  // Text without a length is read to the end when BinaryData is false.
  sd.BinaryData = false;
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o2.doneString, 1);
  EXPECT_EQ(o2.text, "no length here");
  // A file without a length is written but reported as failed.
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o2.errors, 3);
  EXPECT_EQ(o2.doneFile, 0);
  EXPECT_EQ(sb().ReadFile("nolength.bin"), "no length here");

  // A 0-byte text answer is an error, not an empty result.
  TestHttpServer empty([](const Request&, nettest::Connection& c) { c.Write(Response(200, "")); });
  Outcome o3;
  Wire(sd, o3);
  ASSERT_TRUE(GetStringAndWait(sd, empty.Base() + "/empty"));
  EXPECT_EQ(o3.errors, 1);
  EXPECT_EQ(o3.doneString, 0);
  // An unreadable length fails.
  TestHttpServer badLength([](const Request&, nettest::Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\nhello");
  });
  ASSERT_TRUE(GetStringAndWait(sd, badLength.Base() + "/bad"));
  EXPECT_EQ(o3.errors, 2);
  EXPECT_EQ(o3.doneString, 0);
}

TEST_F(DownloaderTest, RedirectsAreFollowedAndErrorStatusesFail) {
  TestHttpServer server([](const Request& r, nettest::Connection& c) {
    if (r.target == "/moved")
      c.Write("HTTP/1.0 302 Found\r\nLocation: /final\r\nContent-Length: 3\r\n\r\nold");
    else if (r.target == "/final")
      c.Write(Response(200, "final body"));
    else if (r.target == "/missing")
      c.Write(Response(404, "not here, but a body with a length"));
    else
      c.Write(Response(500, "server error page"));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/moved"));
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(o.text, "final body");

  // An error page never becomes the answer or the file.
  sb().WriteFile("flags/FR.PNG", "previous picture");
  sd.URL = server.Base() + "/missing";
  sd.FileName = sb().Path("flags/FR.PNG");
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.doneFile, 0);
  EXPECT_EQ(sb().ReadFile("flags/FR.PNG"), "previous picture");
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/broken"));
  EXPECT_EQ(o.errors, 2);
  EXPECT_EQ(o.doneString, 1);
  EXPECT_TRUE(Contains(o.Log(), "HTTP status 500"));
}

TEST_F(DownloaderTest, AbortDeliversNothingEvenWhenTheWorkerEndsLater) {
  TestHttpServer hanging([](const Request&, nettest::Connection& c) { c.Hang(); });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = hanging.Base() + "/never";
  sd.GetString();
  ASSERT_TRUE(testsupport::WaitUntil([&] { return hanging.RequestCount() == 1; }, 5000));
  std::weak_ptr<TSingleDownloaderThread> worker = sd.Thread();
  // A second start while running does nothing.
  sd.GetFile();
  EXPECT_EQ(sd.Thread().get(), worker.lock().get());
  sd.Abort();
  EXPECT_FALSE(sd.Busy());
  EXPECT_TRUE(sd.Aborted());
  // The cancelled worker ends promptly and frees itself; nothing arrives.
  EXPECT_TRUE(testsupport::WaitUntil([&] { return worker.expired(); }, 5000));
  PumpQueued();
  EXPECT_EQ(o.Events(), 0);
  EXPECT_EQ(o.progress, 0);
  EXPECT_EQ(hanging.Accepted(), 1);  // the second start sent nothing

  // The worker finished and its end is queued, but not yet delivered.
  TestHttpServer quick(
      [](const Request&, nettest::Connection& c) { c.Write(Response(200, "quick")); });
  sd.URL = quick.Base() + "/quick";
  sd.OnProgress = nullptr;
  sd.GetString();
  EXPECT_FALSE(sd.Aborted());
  ASSERT_TRUE(sd.Thread()->WaitFinished(5000));
  sd.Abort();
  PumpQueued();
  EXPECT_EQ(o.Events(), 0);
  const size_t linesAfterAbort = o.Log().size();
  PumpQueued();
  EXPECT_EQ(o.Log().size(), linesAfterAbort);
}

TEST_F(DownloaderTest, DestroyedComponentDetachesItsWorker) {
  TestHttpServer hanging([](const Request&, nettest::Connection& c) { c.Hang(); });
  Outcome o;
  std::weak_ptr<TSingleDownloaderThread> worker;
  {
    auto sd = std::make_unique<TSingleDownloader>();
    Wire(*sd, o);
    sd->URL = hanging.Base() + "/never";
    sd->FileName = sb().Path("never.bin");
    sd->GetFile();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return hanging.RequestCount() == 1; }, 5000));
    worker = sd->Thread();
  }
  EXPECT_TRUE(testsupport::WaitUntil([&] { return worker.expired(); }, 5000));
  PumpQueued();
  EXPECT_EQ(o.Events(), 0);
  EXPECT_FALSE(sb().Exists("never.bin"));
  EXPECT_EQ(TempFilesLeft(), 0);

  // A handler that destroys its component inside a waiting call.
  TestHttpServer quick(
      [](const Request&, nettest::Connection& c) { c.Write(Response(200, "bye")); });
  auto* sd = new TSingleDownloader;
  int done = 0;
  sd->URL = quick.Base() + "/bye";
  sd->WaitThread = true;
  sd->OnDoneString = [&done](TSingleDownloader* sender, const std::string&) {
    ++done;
    delete sender;
  };
  sd->GetString();  // returns although the component is gone
  EXPECT_EQ(done, 1);
}

TEST_F(DownloaderTest, WaitThreadReturnsAfterTheEndWithOrWithoutDispatcher) {
  TestHttpServer server(
      [](const Request& r, nettest::Connection& c) { c.Write(Response(200, "w" + r.target)); });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.WaitThread = true;
  sd.URL = server.Base() + "/1";
  sd.GetString();
  EXPECT_FALSE(sd.Busy());
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(o.text, "w/1");
  EXPECT_GE(o.progress, 1);  // progress was pumped during the wait

  // No dispatcher: the waiting call delivers the end itself; progress has
  // nowhere to go.
  SetDispatcher(nullptr);
  Outcome o2;
  Wire(sd, o2);
  sd.URL = server.Base() + "/2";
  sd.GetString();
  EXPECT_FALSE(sd.Busy());
  EXPECT_EQ(o2.doneString, 1);
  EXPECT_EQ(o2.text, "w/2");
  EXPECT_EQ(o2.progress, 0);
  EXPECT_FALSE(o2.offUiThread);

  // No dispatcher and no waiting: no event at all, and the component can
  // start again once the worker has ended.
  sd.WaitThread = false;
  sd.URL = server.Base() + "/3";
  sd.GetString();
  ASSERT_TRUE(sd.Thread()->WaitFinished(5000));
  sd.URL = server.Base() + "/4";
  sd.GetString();
  ASSERT_TRUE(sd.Busy());
  ASSERT_TRUE(sd.Thread()->WaitFinished(5000));
  EXPECT_EQ(o2.doneString, 1);
  EXPECT_EQ(o2.errors, 0);
  EXPECT_EQ(server.RequestCount(), 4);
  SetDispatcher(FDispatcher.get());
}

TEST_F(DownloaderTest, AddressesWithoutHostOrWithPorts) {
  auto p = TSingleDownloaderThread::ParseURL("HTTPS://host/a?b=1");
  EXPECT_EQ(p.Host, "host");
  EXPECT_EQ(p.HostName, "host");
  EXPECT_EQ(p.Object, "/a?b=1");
  EXPECT_EQ(p.Port, 443);
  EXPECT_TRUE(p.SSL);
  p = TSingleDownloaderThread::ParseURL("http://h.example:8080/x");
  EXPECT_EQ(p.Host, "h.example:8080");
  EXPECT_EQ(p.HostName, "h.example");
  EXPECT_EQ(p.Port, 8080);
  EXPECT_FALSE(p.SSL);
  p = TSingleDownloaderThread::ParseURL("http://[::1]:81/v6");
  EXPECT_EQ(p.HostName, "[::1]");
  EXPECT_EQ(p.Port, 81);
  EXPECT_EQ(TSingleDownloaderThread::ParseURL("http://h:99999/").Port, 0);
  EXPECT_EQ(TSingleDownloaderThread::ParseURL("http://h:/").Port, 0);
  // "https://" inside the query of a plain address stays in the object.
  p = TSingleDownloaderThread::ParseURL("http://h/?u=https://x/y");
  EXPECT_EQ(p.HostName, "h");
  EXPECT_EQ(p.Object, "/?u=https://x/y");
  EXPECT_FALSE(p.SSL);
  // No "/" after the host: the host is empty.
  p = TSingleDownloaderThread::ParseURL("http://127.0.0.1");
  EXPECT_EQ(p.Host, "");
  EXPECT_EQ(p.Object, "127.0.0.1");

  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  for (const std::string& url :
       {std::string("http://127.0.0.1"), std::string("http://127.0.0.1:99999/x"),
        std::string("http://user@127.0.0.1/x"), std::string("")}) {
    sd.URL = url;
    sd.GetString();
    ASSERT_TRUE(PumpUntilIdle(sd)) << url;
  }
  EXPECT_EQ(o.errors, 4);
  EXPECT_EQ(o.doneString, 0);
  auto log = o.Log();
  EXPECT_TRUE(Contains(log, "ParseURL: "));  // the empty host
  EXPECT_TRUE(Contains(log, "HttpOpenRequest failed!"));
}

TEST_F(DownloaderTest, TextIsDecodedByCharset) {
  TestHttpServer server([](const Request& r, nettest::Connection& c) {
    if (r.target == "/utf16")
      c.Write(Response(200, std::string("h\0i\0\xAC\x20!", 7)));  // odd count: last byte dropped
    else if (r.target == "/badutf8")
      c.Write(Response(200, "ok \xC3\xA9 \xFF\xC3 \xED\xA0\x80 end"));
    else
      c.Write(Response(200, "plain"));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.URL = server.Base() + "/utf16";
  sd.HttpCharset = THttpCharset::KUnicode;
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "hi\xE2\x82\xAC");
  sd.URL = server.Base() + "/badutf8";
  sd.HttpCharset = THttpCharset::KUTF8;
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text,
            "ok \xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end");
  sd.URL = server.Base() + "/plain";
  sd.HttpCharset = THttpCharset::KAnsi;
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.text, "plain");
  EXPECT_EQ(o.doneString, 3);
  // Unpaired surrogates in UTF-16 do not break the text.
  EXPECT_EQ(DecodeHttpText(std::string("\x00\xD8"
                                       "a\x00",
                                       4),
                           THttpCharset::KUnicode),
            "\xEF\xBF\xBD"
            "a");
}

TEST_F(DownloaderTest, CredentialsAnswerTheServersChallenge) {
  TestHttpServer server([](const Request& r, nettest::Connection& c) {
    // "user:pass word" in Base64.
    if (r.Header("Authorization") == "Basic dXNlcjpwYXNzIHdvcmQ=")
      c.Write(Response(200, "secret"));
    else
      c.Write(Response(401, "who?", "WWW-Authenticate: Basic realm=\"test\"\r\n"));
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  ASSERT_TRUE(GetStringAndWait(sd, server.Base() + "/private"));
  EXPECT_EQ(o.errors, 1);
  sd.UserName = "user";
  sd.Password = "pass word";
  sd.GetString();
  ASSERT_TRUE(PumpUntilIdle(sd));
  EXPECT_EQ(o.doneString, 1);
  EXPECT_EQ(o.text, "secret");
}

TEST_F(DownloaderTest, HundredMegabyteFileStreamsToDisk) {
  constexpr int64_t kSize = 100LL * 1024 * 1024;
  TestHttpServer server([](const Request&, nettest::Connection& c) {
    std::string block(1 << 20, 'v');
    if (!c.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n"))
      return;
    for (int64_t sent = 0; sent < kSize; sent += static_cast<int64_t>(block.size()))
      if (!c.Write(block)) return;
  });
  TSingleDownloader sd;
  Outcome o;
  Wire(sd, o);
  sd.OnProgress = nullptr;
  sd.URL = server.Base() + "/big";
  sd.FileName = sb().Path("big.bin");
  nettest::ResetPeakRss();
  const long before = nettest::CurrentRssKb();
  sd.GetFile();
  ASSERT_TRUE(PumpUntilIdle(sd, 60000));
  const long peak = nettest::PeakRssKb();
  EXPECT_EQ(o.doneFile, 1);
  EXPECT_EQ(o.fileSize, kSize);
  EXPECT_EQ(platform::FileSize(sb().Path("big.bin")), kSize);
  if (!kSanitizerBuild) {  // a sanitizer's own bookkeeping grows the process
    EXPECT_LT(peak - before, 20 * 1024) << "peak " << peak << " kB, before " << before << " kB";
  }
  EXPECT_EQ(TempFilesLeft(), 0);
}

#endif  // _WIN32
