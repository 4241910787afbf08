// Shared pieces of the Windows-only tests.
#pragma once

#include <windows.h>
// The platform layer has functions of these names; <windows.h> maps them to
// their A/W variants with macros.
#undef RegDeleteValue
#undef RegCreateKey
#undef RegDeleteKey

#include <string>

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/System.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

namespace wintest {

// A path of the build tree (given in host form at build time) as the Windows
// program sees it: under Wine the host's root is drive Z:.
inline std::string NativePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

using testsupport::ReadText;
using testsupport::WaitUntil;

inline std::wstring Wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// Runs a command through cmd.exe with its output in a file of the sandbox,
// and gives that output ("reg query" and friends).
inline std::string Capture(const Sandbox& sb, const std::string& command) {
  const std::string out = sb.Path("capture.txt");
  platform::DeleteFileAt(out);
  platform::StartProcess("cmd.exe /c " + command + " > \"" + out + "\" 2>&1", "", true, true,
                         30000);
  return ReadText(out);
}

}  // namespace wintest
