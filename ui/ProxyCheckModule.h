// The boundary between the testing window (ui/uIPsTesting) and the requests
// it sends through each proxy. The requests are made with Qt Network, in a
// module of its own (ui/netcheck) that the window loads when it opens, so
// that a start that never opens the window never maps Qt Network and the
// libraries under it.
//
// Only Qt Core types cross the boundary; both sides use the same Qt
// libraries of the process.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// Why a check got no HTTP answer, in kinds the window has texts for.
enum class TProxyCheckFailure {
  None,         // an HTTP answer arrived (or the check has not failed)
  Refused,      // the proxy or the server refused the connection
  NotResolved,  // a host name could not be resolved
  TimedOut,     // nothing arrived in time
  Closed,       // the connection was closed before the answer
  Certificate,  // the TLS handshake failed
  ProxyAuth,    // the proxy asks for credentials
  Other,        // any other network error
  NoModule,     // the module that sends the checks could not be loaded
};

// The answer of one check, handed over on the thread that started it.
struct TProxyCheckAnswer {
  bool ok = false;  // a 2xx answer arrived
  int status = 0;   // the HTTP status; 0 when none arrived
  QByteArray body;  // the body of a 2xx answer
  TProxyCheckFailure failure = TProxyCheckFailure::None;
  QString error;  // the network library's own wording, for the debug log
};

class IProxyCheck {
 public:
  virtual ~IProxyCheck() = default;
  // A GET of url through the HTTP proxy host:port, never from a cache,
  // failed when nothing arrives for timeoutMs. done is called once, from the
  // event loop, unless the check is aborted first. One check at a time.
  virtual void Start(const QString& host, quint16 port, const QUrl& url, int timeoutMs,
                     std::function<void(const TProxyCheckAnswer&)> done) = 0;
  // Drops the check under way; its done is not called.
  virtual void Abort() = 0;
};

// Version of this boundary; the module and the window must agree.
inline constexpr int kProxyCheckModuleAbi = 2;

// Exported by the module:
//   extern "C" int vg_proxy_check_abi();
//   extern "C" IProxyCheck* vg_create_proxy_check(QObject* parent);
// The object belongs to parent (a QObject) and goes with it.
using TProxyCheckAbiFunc = int (*)();
using TCreateProxyCheckFunc = IProxyCheck* (*)(QObject* parent);

// The files the module is looked for in, without their suffix: beside the
// executable, else one folder up (the test programs live in a folder below
// the build folder). Tests point it elsewhere.
QStringList& ProxyCheckModuleCandidates();

// Loads the module from the first candidate that holds it (a module loaded
// once stays loaded) and creates a check owned by parent. Null when the
// module cannot be loaded; error then names each file tried and why.
IProxyCheck* CreateProxyCheck(QObject* parent, QString* error);
