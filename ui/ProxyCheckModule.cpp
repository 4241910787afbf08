#include "ui/ProxyCheckModule.h"

#include <QCoreApplication>

#include "vcl/QtModule.h"

QStringList& ProxyCheckModuleCandidates() {
  static QStringList candidates = [] {
    const QString dir = QCoreApplication::applicationDirPath();
    return QStringList{dir + QStringLiteral("/vgnetcheck"), dir + QStringLiteral("/../vgnetcheck")};
  }();
  return candidates;
}

IProxyCheck* CreateProxyCheck(QObject* parent, QString* error) {
  auto create = reinterpret_cast<TCreateProxyCheckFunc>(
      LoadQtModule(ProxyCheckModuleCandidates(), "vg_proxy_check_abi", "vg_create_proxy_check",
                   kProxyCheckModuleAbi, QStringLiteral("proxy check module"), error));
  return create ? create(parent) : nullptr;
}
