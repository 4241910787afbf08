#include "net/SingleDownloader.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/Dispatcher.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Locale.h"

namespace {

constexpr size_t kBlockSize = 16384;
const char* const kLogTag = "SingleDownloader";

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// Bytes as the characters U+0000..U+00FF of the same value, in UTF-8, so that
// TextToLowBytes gives the bytes back.
std::string BytesAsLatin1Text(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Valid UTF-8 stays; every byte that does not start a valid sequence becomes
// U+FFFD.
std::string SanitiseUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values above U+10FFFF are invalid.
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (ok) {
      out.append(s, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

// --- character sets ---------------------------------------------------------------

std::string DecodeHttpText(const std::string& bytes, THttpCharset charset) {
  switch (charset) {
    case THttpCharset::KUnicode: {
      std::u16string w(bytes.size() / 2, u'\0');
      for (size_t i = 0; i < w.size(); ++i)
        w[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
      return Utf16ToUtf8(w);
    }
    case THttpCharset::KUTF8: return SanitiseUtf8(bytes);
    case THttpCharset::KAnsi:
    default: return SanitiseUtf8(platform::AnsiToUtf8(bytes));
  }
}

// --- multipart bodies -------------------------------------------------------------------

const char* const TFilePostGen::Boundary = "---------------------------989989989";

namespace {

// The parts of a "name=value" line; a line without "=" is a name alone.
std::pair<std::string, std::string> NameAndValue(const std::string& line) {
  const size_t eq = line.find('=');
  return {line.substr(0, eq), eq == std::string::npos ? std::string() : line.substr(eq + 1)};
}

}  // namespace

bool TFilePostGen::Make(const TStringList* slValues, const TStringList* slFiles,
                        std::string* error) {
  const std::string B = Boundary;
  const std::string CRLF = "\r\n";
  std::string body;
  if (slValues) {
    for (const std::string& line : slValues->Lines()) {
      const auto [name, value] = NameAndValue(line);
      body += "--" + B + CRLF;
      body += "Content-Disposition: form-data; name=\"" + name + "\"" + CRLF;
      body += CRLF;
      body += URLEncode(platform::Utf8ToAnsi(value)) + CRLF;
    }
  }
  if (slFiles) {
    for (const std::string& line : slFiles->Lines()) {
      const auto [name, path] = NameAndValue(line);
      body += "--" + B + CRLF;
      body +=
          "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + path + "\"" + CRLF;
      if (path.empty()) {
        body += "Content-Transfer-Encoding: binary" + CRLF + CRLF;
        continue;
      }
      // The extension: from the last "." of the file-name part.
      std::string ext;
      const size_t slash = path.find_last_of("/\\");
      const size_t dot = path.rfind('.');
      if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        ext = UpperCase(path.substr(dot));
      if (ext == ".JPG" || ext == ".JPEG")
        body += "Content-Type: image/pjpeg" + CRLF;
      else if (ext == ".PNG")
        body += "Content-Type: image/x-png" + CRLF;
      else if (ext == ".PDF")
        body += "Content-Type: application/pdf" + CRLF;
      else if (ext == ".HTML")
        body += "Content-Type: text/html" + CRLF;
      body += CRLF;
      std::string bytes, why;
      if (!platform::ReadWholeFile(path, bytes, &why)) {
        if (error) *error = "cannot read " + path + (why.empty() ? "" : ": " + why);
        return false;
      }
      body += BytesAsLatin1Text(bytes);
      body += CRLF;
    }
    body += "--" + B + "--" + CRLF;
  }
  body += '\0';
  FPostData = std::move(body);
  FHeaders = "Content-Type: multipart/form-data; boundary=" + B;
  return true;
}

// --- worker -------------------------------------------------------------------------------

TSingleDownloaderThread::TParsedURL TSingleDownloaderThread::ParseURL(const std::string& url) {
  TParsedURL r;
  std::string rest = url;
  // The scheme is recognised at the front of the address only.
  if (StartsWithText(rest, "http://")) {
    rest.erase(0, 7);
  } else if (StartsWithText(rest, "https://")) {
    rest.erase(0, 8);
    r.SSL = true;
  }
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    // No "/" after the host: the host is empty and the request fails.
    r.Object = rest;
  } else {
    r.Host = rest.substr(0, slash);
    r.Object = rest.substr(slash);
  }
  r.Port = r.SSL ? 443 : 80;
  r.HostName = r.Host;
  // A port written in the address (host:port, [v6]:port) is used.
  size_t colon = std::string::npos;
  if (!r.Host.empty() && r.Host[0] == '[') {
    const size_t close = r.Host.find(']');
    if (close != std::string::npos && close + 1 < r.Host.size() && r.Host[close + 1] == ':')
      colon = close + 1;
  } else {
    colon = r.Host.find(':');
  }
  if (colon != std::string::npos) {
    const std::string digits = r.Host.substr(colon + 1);
    r.HostName = r.Host.substr(0, colon);
    long port = 0;
    bool ok = !digits.empty() && digits.size() <= 5;
    for (char c : digits)
      if (c < '0' || c > '9') ok = false;
    if (ok) port = std::strtol(digits.c_str(), nullptr, 10);
    r.Port = ok && port >= 1 && port <= 65535 ? static_cast<int>(port) : 0;
  }
  return r;
}

TSingleDownloaderThread::TSingleDownloaderThread(const TSingleDownloader& o, bool toFile)
    : FTAcceptTypes(o.AcceptTypes),
      FTAgent(o.Agent),
      FTURL(o.URL),
      FTFileName(o.FileName),
      FTUserName(o.UserName),
      FTPassword(o.Password),
      FTContentType(o.ContentType),
      FTPostQuery(o.PostQuery),
      FTReferer(o.Referer),
      FTBinaryData(o.BinaryData),
      FTUseCache(o.UseCache),
      FTToFile(toFile),
      FTMaxBytes(o.MaxBytes > 0 ? o.MaxBytes
                 : toFile       ? TSingleDownloader::kMaxFileBytes
                                : TSingleDownloader::kMaxStringBytes),
      FHttpCharset(o.HttpCharset),
      FTProgress(o.OnProgress),
      FOnLog(o.OnLog) {}

TSingleDownloaderThread::~TSingleDownloaderThread() {
  if (!FOwnFile.empty()) platform::DeleteFileAt(FOwnFile);
}

std::string TSingleDownloaderThread::OwnFile() const {
  std::lock_guard<std::mutex> g(FLock);
  return FOwnFile;
}

void TSingleDownloaderThread::Start(std::function<void(TSingleDownloaderThread*)> onTerminate) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FOnTerminate = std::move(onTerminate);
  }
  std::thread([self = shared_from_this()] { self->Execute(); }).detach();
}

void TSingleDownloaderThread::Detach() {
  std::shared_ptr<platform::HttpConnection> connection;
  {
    std::lock_guard<std::mutex> g(FLock);
    FDetached = true;
    FTProgress = nullptr;
    FOnTerminate = nullptr;
    FResult = false;
    connection = FConnection;
  }
  FTerminated.store(true);
  if (connection) connection->Cancel();
  // Waits for a log line in progress; none starts afterwards.
  std::lock_guard<std::mutex> g(FLogLock);
  FOnLog = nullptr;
}

bool TSingleDownloaderThread::Finished() const {
  std::lock_guard<std::mutex> g(FLock);
  return FFinished;
}

bool TSingleDownloaderThread::WaitFinished(int timeoutMs) const {
  std::unique_lock<std::mutex> g(FLock);
  FFinishedChanged.wait_for(g, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                            [&] { return FFinished; });
  return FFinished;
}

std::function<void(TSingleDownloaderThread*)> TSingleDownloaderThread::TakeTerminateHandler() {
  std::lock_guard<std::mutex> g(FLock);
  auto handler = std::move(FOnTerminate);
  FOnTerminate = nullptr;
  return handler;
}

bool TSingleDownloaderThread::FTResult() const {
  std::lock_guard<std::mutex> g(FLock);
  return FResult;
}

std::string TSingleDownloaderThread::FTStringResult() const {
  std::lock_guard<std::mutex> g(FLock);
  return FStringResult;
}

void TSingleDownloaderThread::Log(const std::string& line) {
  std::lock_guard<std::mutex> g(FLogLock);
  if (Terminated()) return;
  if (FOnLog)
    FOnLog(line);
  else
    CLDebugLog::Write(kLogTag, line);
}

void TSingleDownloaderThread::CallProgress(int64_t total, int64_t readed) {
  TOnProgressEvent handler;
  {
    std::lock_guard<std::mutex> g(FLock);
    handler = FTProgress;
  }
  if (handler) handler(this, total, readed);
}

void TSingleDownloaderThread::Progress() {
  {
    std::lock_guard<std::mutex> g(FLock);
    if (!FTProgress) return;
  }
  IDispatcher* dispatcher = GetDispatcher();
  if (!dispatcher) return;  // nothing may run the handler on this thread
  const int64_t total = FTFileSize(), readed = BytesReaded();
  dispatcher->Send(
      [self = shared_from_this(), total, readed] { self->CallProgress(total, readed); });
}

void TSingleDownloaderThread::Execute() {
  std::string text;
  bool result = false;
  try {
    result = Run(text);
  } catch (const std::exception& e) {
    Log(std::string("Failed: ") + e.what());
    result = false;
  } catch (...) {
    result = false;
  }
  Finish(result, std::move(text));
}

void TSingleDownloaderThread::Finish(bool result, std::string text) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FConnection.reset();
    if (!FDetached) {
      FResult = result;
      FStringResult = std::move(text);
    }
    FFinished = true;
    FFinishedChanged.notify_all();
    if (FDetached) return;
  }
  if (IDispatcher* dispatcher = GetDispatcher()) {
    dispatcher->Post([self = shared_from_this()] {
      if (auto handler = self->TakeTerminateHandler()) handler(self.get());
    });
  }
}

bool TSingleDownloaderThread::Run(std::string& text) {
  // The address.
  const TParsedURL parsed = ParseURL(FTURL);
  FSSL.store(parsed.SSL);
  Log("ParseURL: " + FTURL);
  Log("ParseURL: " + parsed.Host);
  Log("ParseURL: " + parsed.Object);
  if (Terminated()) return false;

  // Open the request.
  platform::HttpRequestOptions options;
  options.host = parsed.HostName;
  options.port = parsed.Port;
  options.secure = parsed.SSL;
  options.object = parsed.Object;
  options.agent = FTAgent;
  options.referer = FTReferer;
  options.acceptType = FTAcceptTypes.empty() ? std::string("*") : FTAcceptTypes;
  options.userName = FTUserName;
  options.password = FTPassword;
  options.reload = !parsed.SSL && !FTUseCache;
  options.useSystemProxy = true;
  const bool post = !FTPostQuery.empty();
  options.verb = post ? "POST" : "GET";
  Log(options.verb);
  if (post) {
    // A POST: the header text and the body, one byte per character.
    options.headers = FTContentType.empty()
                          ? std::string("Content-Type: application/x-www-form-urlencoded")
                          : FTContentType;
    options.body = TextToLowBytes(FTPostQuery);
  }
  std::string error;
  std::shared_ptr<platform::HttpConnection> connection = platform::HttpOpenRequest(options, &error);
  if (!connection) {
    Log("HttpOpenRequest failed!");
    if (!error.empty()) Log("HttpOpenRequest: " + error);
    return false;
  }
  Log("HttpOpenRequest ok!");
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FDetached) return false;
    FConnection = connection;
  }

  if (!connection->Send(&error)) {
    Log("HttpSendRequest failed: " + error);
    return false;
  }
  if (Terminated()) return false;
  const int status = connection->StatusCode();
  if (status < 200 || status > 299) {
    // An error page is not the answer asked for.
    Log("HTTP status " + std::to_string(status));
    return false;
  }

  // Content-Length.
  std::string lengthText;
  const bool hasLength = connection->QueryHeader("Content-Length", lengthText);
  if (hasLength) {
    int64_t length = 0;
    bool readable = !lengthText.empty() && lengthText.size() <= 18;
    for (char c : lengthText)
      if (c < '0' || c > '9') readable = false;
    if (readable) length = std::strtoll(lengthText.c_str(), nullptr, 10);
    if (!readable) {
      Log("Content-Length unreadable: " + lengthText);
      return false;
    }
    FFileSize.store(length);
    Log("Content-Length: " + lengthText);
    if (length > FTMaxBytes) {
      Log("Content-Length above the limit of " + std::to_string(FTMaxBytes));
      return false;
    }
  } else {
    Log("Content-Length: none");
  }
  if (Terminated()) return false;
  // Without a length, binary data is not read at all.
  if (!hasLength && FTBinaryData) {
    Log("No Content-Length for binary data");
    return false;
  }

  // Where the body goes.
  FBytesReaded.store(0);
  std::string tempName;
  std::ofstream file;
  std::string buffer;
  if (FTToFile) {
    // The temporary folder is shared with other users: the file is made
    // new under an unguessable name (never one somebody placed there, nor
    // through a link) and private.
    tempName = platform::CreateTempFile(platform::TempPath(), "sg", ".tmp");
    if (!tempName.empty()) file.open(FsPath(tempName), std::ios::binary | std::ios::trunc);
    if (tempName.empty() || !file) {
      Log("Cannot create " +
          (tempName.empty() ? "a temporary file in " + platform::TempPath() : tempName));
      return false;
    }
  }
  // The temporary file goes whatever happens below.
  struct TempRemover {
    std::string name;
    ~TempRemover() {
      if (!name.empty()) platform::DeleteFileAt(name);
    }
  } remover{tempName};

  // Read the body block by block.
  char block[kBlockSize];
  bool readOk = true;
  bool writeOk = true;
  for (;;) {
    if (Terminated()) return false;
    const long n = connection->Read(block, sizeof block, &error);
    if (n < 0) {
      readOk = false;
      Log("InternetReadFile failed: " + error);
      break;
    }
    if (n == 0) break;
    if (BytesReaded() + n > FTMaxBytes) {
      readOk = false;
      Log("Body above the limit of " + std::to_string(FTMaxBytes));
      return false;
    }
    if (FTToFile) {
      file.write(block, n);
      if (!file) {
        writeOk = false;
        Log("Cannot write " + tempName);
        break;
      }
    } else {
      buffer.append(block, static_cast<size_t>(n));
    }
    FBytesToRead.store(n);
    FBytesReaded.fetch_add(n);
    Progress();
  }
  {
    std::lock_guard<std::mutex> g(FLock);
    FConnection.reset();
  }
  connection.reset();
  if (Terminated()) return false;
  Log("Readed: " + std::to_string(BytesReaded()));

  if (FTToFile) {
    // The file: compare with the length, then copy it over the target
    // even when the sizes differ.
    file.close();
    if (file.fail()) writeOk = false;
    bool result = hasLength && readOk && writeOk && BytesReaded() == FTFileSize();
    if (!writeOk) return false;
    if (FTFileName.empty()) {
      // The worker's own file is what the handler reads.
      std::lock_guard<std::mutex> g(FLock);
      FOwnFile = tempName;
      remover.name.clear();
      return result;
    }
    const std::string dir = ExtractFileDir(FTFileName);
    if (!dir.empty()) platform::ForceDirectories(dir);
    if (!platform::CopyFileAtomic(tempName, FTFileName, &error)) {
      Log("Cannot copy to " + FTFileName + ": " + error);
      return false;
    }
    return result;
  }
  // The text.
  text = DecodeHttpText(buffer, FHttpCharset);
  return !buffer.empty() && readOk;
}

// --- component ---------------------------------------------------------------------------

TSingleDownloader::TSingleDownloader() : FAlive(std::make_shared<bool>(true)) {}

TSingleDownloader::~TSingleDownloader() {
  Abort();
  *FAlive = false;
}

void TSingleDownloader::GetString() { Start(false); }
void TSingleDownloader::GetFile() { Start(true); }

void TSingleDownloader::CollectUndelivered() {
  if (!FThread || GetDispatcher() || !FThread->Finished()) return;
  auto thread = FThread;
  thread->TakeTerminateHandler();
  FThread.reset();
  FResult = thread->FTResult();
}

void TSingleDownloader::Start(bool toFile) {
  CollectUndelivered();
  if (FThread) return;
  FAbort = false;
  auto thread = std::make_shared<TSingleDownloaderThread>(*this, toFile);
  FThread = thread;
  thread->Start([this](TSingleDownloaderThread* t) { ThreadDone(t); });
  if (WaitThread) WaitForThread();
}

void TSingleDownloader::WaitForThread() {
  std::shared_ptr<bool> alive = FAlive;
  while (*alive && FThread) {
    IDispatcher* dispatcher = GetDispatcher();
    if (dispatcher && dispatcher->IsDispatchThread()) {
      dispatcher->ProcessPending(20);
      continue;
    }
    // No dispatcher runs here: wait for the worker, then deliver its end on
    // this thread.
    std::shared_ptr<TSingleDownloaderThread> thread = FThread;
    if (thread->WaitFinished(20)) {
      if (auto handler = thread->TakeTerminateHandler()) handler(thread.get());
    }
  }
}

void TSingleDownloader::Abort() {
  if (!FThread) return;
  std::shared_ptr<TSingleDownloaderThread> thread = std::move(FThread);
  FThread.reset();
  thread->Detach();
  FAbort = true;
}

void TSingleDownloader::ThreadDone(TSingleDownloaderThread* thread) {
  if (!FThread || FThread.get() != thread) return;
  std::shared_ptr<TSingleDownloaderThread> keep = std::move(FThread);
  FThread.reset();
  FResult = keep->FTResult();
  // The handlers may destroy this component: copy what is needed first.
  if (FResult) {
    if (keep->FTToFile) {
      const std::string file = keep->FTFileName.empty() ? keep->OwnFile() : keep->FTFileName;
      if (TOnDoneFileEvent handler = OnDoneFile) handler(this, file, keep->FTFileSize());
      // The worker's own file goes with the worker, once the handler read it.
      if (keep->FTFileName.empty()) platform::DeleteFileAt(file);
    } else {
      if (TOnDoneStringEvent handler = OnDoneString) handler(this, keep->FTStringResult());
    }
  } else if (!FAbort) {
    if (TNotifyEvent handler = OnError) handler(this);
  }
}

void TSingleDownloader::SetPostValues(const TStringList* slValues) {
  std::string query;
  if (slValues) {
    for (int i = 0; i < slValues->Count(); ++i) {
      if (i > 0) query += "&";
      query +=
          slValues->Names(i) + "=" + URLEncode(platform::Utf8ToAnsi(slValues->ValueFromIndex(i)));
    }
  }
  PostQuery = query;
}

bool TSingleDownloader::SetUploadFiles(const TStringList* slValues, const TStringList* slFiles,
                                       std::string* error) {
  TFilePostGen gen;
  if (!gen.Make(slValues, slFiles, error)) return false;
  ContentType = gen.Headers();
  PostQuery = gen.PostData();
  return true;
}
