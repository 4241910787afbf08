#include "ui/ProxyCheckModule.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

namespace {

TCreateProxyCheckFunc GCreate = nullptr;
QString GError;
bool GTried = false;

// Where the module may be: next to the executable, else one folder up (the
// test programs live in a folder below the build folder).
QStringList ModuleCandidates() {
  const QString dir = QCoreApplication::applicationDirPath();
  return {dir + QStringLiteral("/vgnetcheck"), dir + QStringLiteral("/../vgnetcheck")};
}

}  // namespace

IProxyCheck* CreateProxyCheck(QObject* parent, QString* error) {
  // Loaded on the user-interface thread only, like the window that asks.
  if (!GTried) {
    GTried = true;
    QStringList tried;
    for (const QString& candidate : ModuleCandidates()) {
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
      GCreate = create;  // the library stays loaded for the process's life
      break;
    }
    if (!GCreate)
      GError = QStringLiteral("proxy check module not found: ") + tried.join(QStringLiteral("; "));
  }
  if (!GCreate) {
    if (error) *error = GError;
    return nullptr;
  }
  return GCreate(parent);
}
