#include "ui/ProxyCheckModule.h"

#include <QCoreApplication>
#include <QLibrary>

QStringList& ProxyCheckModuleCandidates() {
  static QStringList candidates = [] {
    const QString dir = QCoreApplication::applicationDirPath();
    return QStringList{dir + QStringLiteral("/vgnetcheck"), dir + QStringLiteral("/../vgnetcheck")};
  }();
  return candidates;
}

IProxyCheck* CreateProxyCheck(QObject* parent, QString* error) {
  QStringList tried;
  for (const QString& candidate : ProxyCheckModuleCandidates()) {
    QLibrary lib(candidate);
    if (!lib.load()) {
      tried << lib.errorString();
      continue;
    }
    auto abi = reinterpret_cast<TProxyCheckAbiFunc>(lib.resolve("vg_proxy_check_abi"));
    auto create = reinterpret_cast<TCreateProxyCheckFunc>(lib.resolve("vg_create_proxy_check"));
    if (!abi || !create || abi() != kProxyCheckModuleAbi) {
      tried << candidate + QStringLiteral(": not a proxy check module of this version");
      lib.unload();
      continue;
    }
    // The library stays loaded for the process's life: its objects may
    // outlive this call.
    return create(parent);
  }
  if (error)
    *error = QStringLiteral("proxy check module not found: ") + tried.join(QStringLiteral("; "));
  return nullptr;
}
