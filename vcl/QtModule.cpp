#include "vcl/QtModule.h"

#include <QLibrary>

void* LoadQtModule(const QStringList& candidates, const char* abiSymbol, const char* createSymbol,
                   int expectedAbi, const QString& what, QString* error) {
  using TAbiFunc = int (*)();
  QStringList tried;
  for (const QString& candidate : candidates) {
    QLibrary lib(candidate);
    if (!lib.load()) {
      tried << lib.errorString();
      continue;
    }
    auto abi = reinterpret_cast<TAbiFunc>(lib.resolve(abiSymbol));
    QFunctionPointer create = lib.resolve(createSymbol);
    if (!abi || !create || abi() != expectedAbi) {
      tried << candidate + QStringLiteral(": not a ") + what + QStringLiteral(" of this version");
      lib.unload();
      continue;
    }
    // The library stays loaded for the process's life: what it creates may
    // outlive any caller.
    return reinterpret_cast<void*>(create);
  }
  if (error) *error = what + QStringLiteral(" not found: ") + tried.join(QStringLiteral("; "));
  return nullptr;
}
