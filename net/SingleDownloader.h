// The single-request HTTP downloader and the multipart body generator.
//
// TSingleDownloader performs one HTTP or HTTPS request on a worker thread
// (TSingleDownloaderThread) and reports the outcome on the user-interface
// thread: the body as text (OnDoneString), the body saved to a file
// (OnDoneFile) or a failure (OnError). One component runs at most one
// request at a time.
//
// Threads. The component lives on the user-interface thread: create it, set
// its properties, start, abort and destroy it there. Progress and the end
// events are handed to that thread through the process's dispatcher
// (GetDispatcher); progress waits until its handler has run. OnLog is called
// on the worker thread. When no dispatcher is installed nothing can reach the
// user-interface thread, so no event is delivered (the worker never calls the
// handlers itself); a request with WaitThread still ends, and its end events
// are then delivered by the waiting call on the calling thread.
//
// A component that is aborted or destroyed while its worker runs detaches it:
// the worker keeps only its own copies (shared with the pending hand-overs),
// finishes on its own and delivers nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/NoCopy.h"
#include "net/DownloaderDef.h"
#include "net/StringList.h"

namespace platform {
class HttpConnection;
}

class TSingleDownloader;
class TSingleDownloaderThread;

// Sender of a progress event is the worker of the request.
using TOnProgressEvent =
    std::function<void(TSingleDownloaderThread* Sender, int64_t iTotalSize, int64_t iReaded)>;
using TOnDoneFileEvent = std::function<void(TSingleDownloader* Sender,
                                            const std::string& strFileName, int64_t iFileSize)>;
using TOnDoneStringEvent =
    std::function<void(TSingleDownloader* Sender, const std::string& strResult)>;
using TNotifyEvent = std::function<void(TSingleDownloader* Sender)>;
using TOnLog = std::function<void(const std::string& aLog)>;

// Builds the body and the content-type header of a multipart/form-data POST.
//
// PostData is text in which every character stands for one byte of the body
// (the downloader sends the low 8 bits of each character). Bytes taken from a
// file are carried as the characters U+0000..U+00FF of the same value, so
// that they reach the wire unchanged.
class TFilePostGen {
 public:
  static const char* const Boundary;  // "---------------------------989989989"

  // Builds PostData and Headers from name=value lines and name=file path
  // lines (either list may be null). False when a file cannot be read; error
  // says which, and PostData and Headers keep their earlier content.
  bool Make(const TStringList* slValues, const TStringList* slFiles, std::string* error = nullptr);

  const std::string& PostData() const { return FPostData; }
  const std::string& Headers() const { return FHeaders; }

 private:
  std::string FPostData;
  std::string FHeaders;
};

// A plain object: the component layer of the windows owns it and gives it a
// name; every default is the one of a freshly placed component.
class TSingleDownloader : private TNoCopy {
 public:
  TSingleDownloader();
  // Aborts a running request, then goes.
  ~TSingleDownloader();

  // --- properties (copied into the worker when a request starts) ---------------
  std::string Name;                 // component name, for the owner's use
  std::string URL;                  // "http://" or "https://" (any case) in front
  std::string AcceptTypes = "*/*";  // the one accept type; "*" when empty
  std::string Agent;                // user agent; none when empty
  bool BinaryData = false;          // without a Content-Length the body is not read
  bool UseCache = false;            // false: plain HTTP asks for a fresh copy
  // Target of GetFile, written as a new file renamed into place (a link in
  // its place is replaced, never followed). Empty: the body stays in the
  // downloader's own private temporary file, made new under an unguessable
  // name; OnDoneFile gets that file's name and it is removed when the
  // handler returns (nothing is ever copied into a shared folder).
  std::string FileName;
  // Most bytes of a body: a longer answer (by its Content-Length or as it
  // is read) fails the request. 0: kMaxStringBytes for text, kMaxFileBytes
  // for a file.
  int64_t MaxBytes = 0;
  static constexpr int64_t kMaxStringBytes = int64_t{16} << 20;
  static constexpr int64_t kMaxFileBytes = int64_t{512} << 20;
  std::string UserName;
  std::string Password;
  std::string ContentType;  // header text sent with a POST body
  std::string PostQuery;    // the POST body; non-empty makes a POST
  std::string Referer;
  bool WaitThread = false;  // GetFile/GetString return when the request ended
  THttpCharset HttpCharset = THttpCharset::KAnsi;

  // --- events ------------------------------------------------------------------------
  TOnProgressEvent OnProgress;  // user-interface thread, after each block
  TOnDoneFileEvent OnDoneFile;  // user-interface thread
  TOnDoneStringEvent OnDoneString;
  TNotifyEvent OnError;  // failed and not aborted
  // Worker thread; without it the lines go to the debug log. Abort waits for
  // a line in progress, so the handler must not wait for the user-interface
  // thread itself.
  TOnLog OnLog;

  // --- operations ----------------------------------------------------------------------
  // Start a text or file request; nothing happens while one is running.
  void GetString();
  void GetFile();
  // Detaches a running request; no event follows for it.
  void Abort();
  // PostQuery := name=URLEncode(ANSI form of value) joined by "&".
  void SetPostValues(const TStringList* slValues);
  // ContentType and PostQuery := a multipart body of the values and files.
  // False (nothing changed) when a file cannot be read.
  bool SetUploadFiles(const TStringList* slValues, const TStringList* slFiles,
                      std::string* error = nullptr);

  // --- state ---------------------------------------------------------------------------
  bool Busy() const { return FThread != nullptr; }
  const std::shared_ptr<TSingleDownloaderThread>& Thread() const { return FThread; }
  bool Result() const { return FResult; }  // outcome of the last request
  bool Aborted() const { return FAbort; }  // the last request was aborted

 private:
  void Start(bool toFile);
  void ThreadDone(TSingleDownloaderThread* thread);
  void WaitForThread();
  // With no dispatcher a finished worker's end is never handed over; it is
  // collected here (without events) so the component can start again.
  void CollectUndelivered();

  std::shared_ptr<TSingleDownloaderThread> FThread;
  bool FResult = false;
  bool FAbort = false;
  // Cleared when the component goes, so that a wait loop whose handler
  // destroyed the component stops touching it.
  std::shared_ptr<bool> FAlive;
};

// The worker of one request. It holds a copy of every setting, runs on its
// own thread and frees itself when its run and its hand-overs have ended.
class TSingleDownloaderThread : public std::enable_shared_from_this<TSingleDownloaderThread> {
 public:
  // The address split: scheme prefix, host (as written, with a port when one
  // is written) and object (from the first "/" on, query included).
  struct TParsedURL {
    std::string Host;      // the text before the first "/"
    std::string HostName;  // Host without its port
    int Port = 80;         // 0 when the written port is not a valid number
    std::string Object;
    bool SSL = false;
  };
  static TParsedURL ParseURL(const std::string& url);

  // Copies of the component's settings, taken at creation.
  const std::string FTAcceptTypes, FTAgent, FTURL, FTFileName, FTUserName, FTPassword,
      FTContentType, FTPostQuery, FTReferer;
  const bool FTBinaryData, FTUseCache, FTToFile;
  const int64_t FTMaxBytes;
  const THttpCharset FHttpCharset;

  TSingleDownloaderThread(const TSingleDownloader& owner, bool toFile);
  ~TSingleDownloaderThread();

  // Starts the run on a new thread; onTerminate is called with the worker on
  // the user-interface thread when the run has ended (unless detached).
  void Start(std::function<void(TSingleDownloaderThread*)> onTerminate);
  // Clears the progress, log and termination handlers, marks the result
  // failed, asks the run to end and cancels its network wait. No handler is
  // called once this has returned.
  void Detach();
  bool Terminated() const { return FTerminated.load(); }
  // The run has ended (results final).
  bool Finished() const;
  // Waits up to timeoutMs for the run to end; returns Finished().
  bool WaitFinished(int timeoutMs) const;
  // Takes the termination handler (once); empty when detached or taken.
  std::function<void(TSingleDownloaderThread*)> TakeTerminateHandler();

  // --- results -------------------------------------------------------------------------
  bool FTResult() const;
  std::string FTStringResult() const;
  int64_t FTFileSize() const { return FFileSize.load(); }
  int64_t BytesToRead() const { return FBytesToRead.load(); }
  int64_t BytesReaded() const { return FBytesReaded.load(); }
  bool FHttpSSL() const { return FSSL.load(); }
  // Where the body of a file request without a FileName was kept (the
  // worker's own temporary file, removed when the worker goes).
  std::string OwnFile() const;

 private:
  void Execute();
  bool Run(std::string& text);
  void Log(const std::string& line);
  void Progress();
  void CallProgress(int64_t total, int64_t readed);
  void Finish(bool result, std::string text);

  mutable std::mutex FLock;
  mutable std::condition_variable FFinishedChanged;
  TOnProgressEvent FTProgress;
  std::function<void(TSingleDownloaderThread*)> FOnTerminate;
  bool FDetached = false;
  bool FFinished = false;
  bool FResult = false;
  std::string FStringResult;
  std::string FOwnFile;
  std::shared_ptr<platform::HttpConnection> FConnection;
  std::atomic<bool> FTerminated{false};
  std::atomic<int64_t> FFileSize{0};
  std::atomic<int64_t> FBytesToRead{0};
  std::atomic<int64_t> FBytesReaded{0};
  std::atomic<bool> FSSL{false};
  // OnLog runs under this lock, so Detach can wait for a line in progress.
  std::mutex FLogLock;
  TOnLog FOnLog;
};
