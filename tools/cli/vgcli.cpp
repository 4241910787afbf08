// vgcli: a small command-line driver over the Qt-free libraries, for looking
// at what the platform layer does on a machine (built for Linux and, with the
// mingw preset, for Windows):
//   vgcli info                      system, language, folders
//   vgcli proxy HOST:PORT|direct    the system proxy switch (per-connection
//                                   options and the registry values)
//   vgcli get URL                   a direct GET, body to standard output
//   vgcli clear-cache               cookie and cache clearing of the URL cache
//   vgcli country                   the country gate on the system language
//   vgcli send CLASS APPID TEXT     hands TEXT to the running instance
//   vgcli close CLASS APPID         asks the running instance to close
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "framework/CLConst.h"
#include "framework/WinVersion.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Instance.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "platform/System.h"
#include "switch/uVGUtils.h"

namespace {

int Usage() {
  std::cerr << "usage: vgcli info | proxy HOST:PORT|direct | get URL | clear-cache | country |\n"
               "       send CLASS APPID TEXT | close CLASS APPID\n";
  return 64;
}

int64_t Send(const platform::InstanceWindow& w, const char* name) {
  return platform::SendInstanceMessage(w, platform::RegisterMessage(name), 0, 0, 5000);
}

// The instance window of the class that answers "CL GetAppID" with appId.
bool FindApp(const std::string& cls, int32_t appId, platform::InstanceWindow& found) {
  for (const platform::InstanceWindow& w : platform::FindInstanceWindows(cls)) {
    if (static_cast<int32_t>(Send(w, CLConst::WM_CL_GET_APPID)) == appId) {
      found = w;
      return true;
    }
  }
  return false;
}

// UTF-8 to the UTF-16LE bytes of WM_COPYDATA (without terminator).
std::string Utf16Bytes(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0)
      len = 4, cp = c & 0x07;
    else if (c >= 0xE0)
      len = 3, cp = c & 0x0F;
    else if (c >= 0xC0)
      len = 2, cp = c & 0x1F;
    if (i + len > text.size()) len = 1, cp = 0xFFFD;
    for (size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += len;
    auto unit = [&](uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>((u >> 8) & 0xFF);
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

int Info() {
  TWindowsTypeEx type;
  GetWindowsTypeEx(type);
  const platform::VersionInfo v = platform::GetVersionInfo();
  const uint16_t lang = platform::SystemDefaultLangId();
  std::printf("system: %s %u.%u.%u%s\n", v.systemName.c_str(), v.major, v.minor, v.build,
              v.is64BitSystem ? " (64-bit)" : "");
  std::printf("product: %s\n", type.Full.c_str());
  std::printf("language: 0x%04X %s\n", lang, platform::LanguageName(lang).c_str());
  std::printf("decimal separator: %c\n", platform::DecimalSeparator());
  std::printf("executable: %s\n", platform::ModuleFileName().c_str());
  std::printf("temporary folder: %s\n", platform::TempPath().c_str());
  std::printf("AppData: %s\n", GetShellFolder("AppData").c_str());
  std::printf("Common AppData: %s\n", GetShellFolder("Common AppData").c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  if (args.empty()) return Usage();
  const std::string& cmd = args[0];
  if (cmd == "info") return Info();
  if (cmd == "proxy" && args.size() == 2) {
    const std::string proxy = args[1] == "direct" ? std::string() : args[1];
    const bool applied = proxy.empty() ? SetPerConnectionProxy(false, "", "")
                                       : SetPerConnectionProxy(true, "", proxy);
    WriteIEProxyRegistry(proxy);
    std::printf("%s: %s\n", proxy.empty() ? "direct" : proxy.c_str(),
                applied ? "applied" : "refused by the system");
    return applied ? 0 : 1;
  }
  if (cmd == "get" && args.size() == 2) {
    std::string body, error;
    if (!platform::HttpGetDirect(args[1], body, 30000, &error)) {
      std::fprintf(stderr, "vgcli: %s\n", error.c_str());
      return 1;
    }
    std::fwrite(body.data(), 1, body.size(), stdout);
    return 0;
  }
  if (cmd == "clear-cache") {
    ClearIECookies();
    return 0;
  }
  if (cmd == "country") {
    SetPlainMessageBox([](const std::string& text) { std::printf("message: %s\n", text.c_str()); });
    const bool ok = CountryCheck();
    std::printf("%s (%s)\n", ok ? "start" : "stop", GetSystemLanguageName().c_str());
    return ok ? 0 : 2;
  }
  if ((cmd == "send" && args.size() == 4) || (cmd == "close" && args.size() == 3)) {
    platform::InstanceWindow w;
    if (!FindApp(args[1], StrToIntDefault(args[2], 0), w)) {
      std::printf("no running instance\n");
      return 3;
    }
    if (cmd == "close") {
      Send(w, CLConst::WM_CL_CLOSE_APP);
      std::printf("asked to close\n");
      return 0;
    }
    if (Send(w, CLConst::WM_CL_IF_BUSY) == 1) {
      std::printf("busy\n");
    } else if (Send(w, CLConst::WM_CL_BRING_TO_FRONT) != 1) {
      std::printf("foreground: %s\n", platform::ForceInstanceForeground(w) ? "yes" : "no");
    }
    platform::SendCopyData(w, 0, Utf16Bytes(args[3]), 5000);
    std::printf("handed over\n");
    return 0;
  }
  return Usage();
}
