// The testing window's requests through a proxy, with Qt Network (see
// ui/ProxyCheckModule.h): built as the module libvgnetcheck.so.
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include "ui/ProxyCheckModule.h"

namespace {

// The kind of a network error, as the testing window reports it.
TProxyCheckFailure FailureOf(QNetworkReply::NetworkError e) {
  switch (e) {
    case QNetworkReply::NoError: return TProxyCheckFailure::None;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError: return TProxyCheckFailure::Refused;
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError: return TProxyCheckFailure::NotResolved;
    // A transfer timeout ends the request as cancelled.
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::OperationCanceledError: return TProxyCheckFailure::TimedOut;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError: return TProxyCheckFailure::Closed;
    case QNetworkReply::SslHandshakeFailedError: return TProxyCheckFailure::Certificate;
    case QNetworkReply::ProxyAuthenticationRequiredError: return TProxyCheckFailure::ProxyAuth;
    default: return TProxyCheckFailure::Other;
  }
}

class TProxyCheck final : public QObject, public IProxyCheck {
 public:
  explicit TProxyCheck(QObject* parent) : QObject(parent), FNet(new QNetworkAccessManager(this)) {}
  ~TProxyCheck() override { Abort(); }

  void Start(const QString& host, quint16 port, const QUrl& url, int timeoutMs,
             std::function<void(const TProxyCheckAnswer&)> done) override {
    Abort();
    FNet->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
    QNetworkRequest request{url};
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = FNet->get(request);
    FReply = reply;
    QObject::connect(reply, &QNetworkReply::finished, this, [this, reply, done = std::move(done)] {
      // Answered: the next Start must not abort it again.
      FReply = nullptr;
      reply->deleteLater();
      TProxyCheckAnswer answer;
      answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
      answer.ok =
          reply->error() == QNetworkReply::NoError && answer.status >= 200 && answer.status < 300;
      if (answer.ok) answer.body = reply->readAll();
      if (!answer.status) answer.failure = FailureOf(reply->error());
      answer.error = reply->errorString();
      done(answer);
    });
  }

  void Abort() override {
    if (!FReply) return;
    QObject::disconnect(FReply, nullptr, this, nullptr);
    FReply->abort();
    FReply->deleteLater();
    FReply = nullptr;
  }

 private:
  QNetworkAccessManager* FNet;
  QPointer<QNetworkReply> FReply;
};

}  // namespace

extern "C" Q_DECL_EXPORT int vg_proxy_check_abi() { return kProxyCheckModuleAbi; }

extern "C" Q_DECL_EXPORT IProxyCheck* vg_create_proxy_check(QObject* parent) {
  return new TProxyCheck(parent);
}
