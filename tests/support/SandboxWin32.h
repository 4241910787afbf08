// Windows part of the test sandbox: the registry. Windows has one real
// registry (under Wine: the test run's prefix), shared by every test process,
// so each sandbox gives its process private registry roots instead: scratch
// keys that HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT are
// mapped onto (RegOverridePredefKey) while the sandbox lives, deleted
// afterwards. Sandboxes nest; the inner one maps its roots inside the outer
// one's and puts the outer mapping back when it ends.
#pragma once

#ifdef _WIN32

#include <memory>
#include <string>

#include "platform/NoCopy.h"
#include "platform/Registry.h"

class RegistryJail : private TNoCopy {
 public:
  RegistryJail();
  ~RegistryJail();

  // Where a root of this sandbox really lives, as another process (for
  // example "wine reg query") names it: "HKEY_CURRENT_USER\...\HKCU".
  // Only ClassesRoot, CurrentUser and LocalMachine are mapped.
  std::string RealKey(RegRoot root) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> FImpl;
};

#endif  // _WIN32
