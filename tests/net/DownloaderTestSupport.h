// Fixture of the downloader tests: a sandbox, a pumped dispatcher standing in
// for the user-interface thread, and a recorder of the component's events.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/NetTestServers.h"
#include "net/Dispatcher.h"
#include "net/SingleDownloader.h"
#include "platform/ProxySettings.h"
#include "support/Sandbox.h"

struct Outcome {
  int doneFile = 0, doneString = 0, errors = 0, progress = 0;
  std::string text, fileName;
  int64_t fileSize = -1;
  int64_t lastTotal = -1, lastReaded = -1;
  bool offUiThread = false;  // an event ran on another thread
  std::mutex logLock;
  std::vector<std::string> log;
  int Events() const { return doneFile + doneString + errors; }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> g(logLock);
    return log;
  }
};

class DownloaderTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    FDispatcher = std::make_unique<TLoopDispatcher>();
    SetDispatcher(FDispatcher.get());
    platform::RecordAppliedProxy(platform::PerConnectionProxy{});
  }
  void TearDown() override {
    platform::RecordAppliedProxy(platform::PerConnectionProxy{});
    SetDispatcher(nullptr);
    FDispatcher.reset();
    SandboxTest::TearDown();
  }

  // Records every event of sd into o.
  void Wire(TSingleDownloader& sd, Outcome& o) {
    const auto ui = std::this_thread::get_id();
    sd.OnDoneFile = [&o, ui](TSingleDownloader*, const std::string& name, int64_t size) {
      if (std::this_thread::get_id() != ui) o.offUiThread = true;
      ++o.doneFile;
      o.fileName = name;
      o.fileSize = size;
    };
    sd.OnDoneString = [&o, ui](TSingleDownloader*, const std::string& text) {
      if (std::this_thread::get_id() != ui) o.offUiThread = true;
      ++o.doneString;
      o.text = text;
    };
    sd.OnError = [&o, ui](TSingleDownloader*) {
      if (std::this_thread::get_id() != ui) o.offUiThread = true;
      ++o.errors;
    };
    sd.OnProgress = [&o, ui](TSingleDownloaderThread*, int64_t total, int64_t readed) {
      if (std::this_thread::get_id() != ui) o.offUiThread = true;
      ++o.progress;
      o.lastTotal = total;
      o.lastReaded = readed;
    };
    sd.OnLog = [&o](const std::string& line) {
      std::lock_guard<std::mutex> g(o.logLock);
      o.log.push_back(line);
    };
  }

  // Pumps the dispatcher until the request has ended (bounded).
  bool PumpUntilIdle(TSingleDownloader& sd, int timeoutMs = 15000) {
    return FDispatcher->PumpUntil([&] { return !sd.Busy(); }, timeoutMs);
  }
  // Asks for url as text and waits for the request's end (bounded).
  bool GetStringAndWait(TSingleDownloader& sd, const std::string& url) {
    sd.URL = url;
    sd.GetString();
    return PumpUntilIdle(sd);
  }
  // Runs every queued call, and the calls they queue in turn: once a worker
  // has ended, all it ever handed over has been delivered, so a test can
  // see that nothing arrived.
  void PumpQueued() {
    while (FDispatcher->Pump(0) > 0) {
    }
  }

  std::unique_ptr<TLoopDispatcher> FDispatcher;
};
