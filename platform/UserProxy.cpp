// The user's own desktop proxy, kept while this program has the desktop
// switched, the two calls a hide makes (switch, put back), and the record of
// which mechanisms a switch reached. Shared by
// both backends: they read and write the desktop's state, this file decides
// when to save it, when to put it back and when to leave the desktop alone.
//
// The saved copy is a small text file of two sections: "[saved]", what the
// desktop held before the first switch, and "[written]", what it held right
// after the last switch. A run that is killed while hiding leaves the file
// behind; the next start puts the saved state back.
#include <algorithm>
#include <mutex>

#include "platform/Files.h"
#include "platform/ProxySettings.h"
#include "platform/Registry.h"

namespace platform {

namespace {

std::mutex GReachLock;
unsigned GReach = kProxyReachNone;

// The Internet Settings values the system switch writes next to the
// per-connection options; they are part of what is kept.
const char* const kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

void AddRegistryValues(DesktopProxyState& state) {
  std::string server;
  if (RegReadString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer", server))
    state.emplace_back("reg.ProxyServer", server);
  uint32_t enable = 0;
  if (RegReadDword(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", enable))
    state.emplace_back("reg.ProxyEnable", std::to_string(enable));
}

bool PutBackRegistryValues(const DesktopProxyState& state) {
  bool ok = true;
  bool server = false, enable = false;
  for (const auto& [name, value] : state) {
    if (name == "reg.ProxyServer") {
      server = true;
      ok = RegCreateKey(RegRoot::CurrentUser, kInternetSettings) &&
           RegWriteString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer", value) && ok;
    } else if (name == "reg.ProxyEnable") {
      enable = true;
      uint32_t n = 0;
      for (char c : value)
        if (c >= '0' && c <= '9') n = n * 10 + static_cast<uint32_t>(c - '0');
      ok = RegCreateKey(RegRoot::CurrentUser, kInternetSettings) &&
           RegWriteDword(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", n) && ok;
    }
  }
  if (!server) RegDeleteValue(RegRoot::CurrentUser, kInternetSettings, "ProxyServer");
  if (!enable) RegDeleteValue(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable");
  return ok;
}

bool IsRegistryName(const std::string& name) { return name.compare(0, 4, "reg.") == 0; }

DesktopProxyState ReadEverything() {
  DesktopProxyState state = ReadDesktopProxyState();
  AddRegistryValues(state);
  std::sort(state.begin(), state.end());
  return state;
}

// Values are kept on one line: backslash, CR and LF are escaped.
std::string Escape(const std::string& v) {
  std::string out;
  for (char c : v) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      char n = v[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += v[i];
    }
  }
  return out;
}

struct SavedCopy {
  DesktopProxyState saved;
  DesktopProxyState written;
  bool hasWritten = false;
};

std::string Format(const SavedCopy& copy) {
  std::string text = "[saved]\n";
  for (const auto& [name, value] : copy.saved) text += name + "=" + Escape(value) + "\n";
  if (copy.hasWritten) {
    text += "[written]\n";
    for (const auto& [name, value] : copy.written) text += name + "=" + Escape(value) + "\n";
  }
  return text;
}

bool Parse(const std::string& text, SavedCopy& copy) {
  DesktopProxyState* section = nullptr;
  bool sawSaved = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line == "[saved]") {
      section = &copy.saved;
      sawSaved = true;
    } else if (line == "[written]") {
      section = &copy.written;
      copy.hasWritten = true;
    } else if (section) {
      size_t eq = line.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      section->emplace_back(line.substr(0, eq), Unescape(line.substr(eq + 1)));
    }
  }
  std::sort(copy.saved.begin(), copy.saved.end());
  std::sort(copy.written.begin(), copy.written.end());
  return sawSaved;
}

bool ReadCopy(SavedCopy& copy) {
  const std::string file = SavedDesktopProxyFile();
  if (file.empty() || !FileExists(file)) return false;
  std::string text;
  if (!ReadWholeFile(file, text)) return false;
  return Parse(text, copy);
}

bool WriteCopy(const SavedCopy& copy) {
  const std::string file = SavedDesktopProxyFile();
  if (file.empty()) return false;
  const std::string folder = file.substr(0, file.find_last_of("/\\"));
  if (!folder.empty() && !ForceDirectories(folder)) return false;
  std::string error;
  if (!WriteFileAtomic(file, Format(copy), &error)) {
    AddProxyNotice("The user's proxy settings could not be saved: " + error);
    return false;
  }
  return true;
}

}  // namespace

unsigned LastProxyReach() {
  std::lock_guard<std::mutex> g(GReachLock);
  return GReach;
}

void RecordProxyReach(unsigned reach) {
  std::lock_guard<std::mutex> g(GReachLock);
  GReach = reach;
}

std::string DescribeProxyReach(unsigned reach) {
  std::string text;
  auto add = [&text](const char* name) { text += (text.empty() ? "" : ", ") + std::string(name); };
  if (reach & kProxyReachGnome) add("GNOME");
  if (reach & kProxyReachKde) add("KDE");
  if (reach & kProxyReachWindows) add("Windows");
  return text.empty() ? "none" : text;
}

std::string InternetSettingsProxyServer(const std::string& server) {
  return "http=" + server + ";ftp=" + server + ";https=" + server + ";";
}

void WriteInternetSettingsProxy(const std::string& server) {
  if (!RegCreateKey(RegRoot::CurrentUser, kInternetSettings)) return;
  RegWriteString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer",
                 InternetSettingsProxyServer(server));
  RegWriteDword(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", server.empty() ? 0 : 1);
}

DesktopSwitch SwitchDesktopProxy(const std::string& server) {
  DesktopSwitch result;
  try {
    KeepUserProxy();
    PerConnectionProxy options;
    options.useProxy = true;
    options.server = server;
    result.changed = ApplyPerConnectionProxy(options);
    WriteInternetSettingsProxy(server);
    NoteProxyWritten();
  } catch (...) {
    AddProxyNotice("The desktop proxy switch to " + server + " failed part way");
  }
  result.reach = LastProxyReach();
  result.notices = TakeProxyNotices();
  return result;
}

DesktopSwitch PutBackDesktopProxy() {
  DesktopSwitch result;
  try {
    result.changed = PutBackUserProxy();
    // Nothing was switched (or the user's own change is kept): the desktop is
    // left as it is, and this process's connections count as direct again.
    if (!result.changed) RecordAppliedProxy(PerConnectionProxy());
  } catch (...) {
    AddProxyNotice("Putting back the user's desktop proxy failed part way");
  }
  result.reach = LastProxyReach();
  result.notices = TakeProxyNotices();
  return result;
}

bool KeepUserProxy() {
  SavedCopy copy;
  if (ReadCopy(copy)) return true;  // the first switch of the run saved it already
  copy.saved = ReadEverything();
  return WriteCopy(copy);
}

void NoteProxyWritten() {
  SavedCopy copy;
  if (!ReadCopy(copy)) return;
  copy.written = ReadEverything();
  copy.hasWritten = true;
  WriteCopy(copy);
}

bool PutBackUserProxy() {
  const std::string file = SavedDesktopProxyFile();
  SavedCopy copy;
  if (!ReadCopy(copy)) {
    // A copy that cannot be read is no use to anyone: drop it, and leave the
    // desktop as it is.
    if (!file.empty() && FileExists(file)) {
      AddProxyNotice("The saved proxy settings in " + file + " are unreadable; left alone");
      DeleteFileAt(file);
    }
    return false;
  }
  RecordAppliedProxy(PerConnectionProxy());
  const DesktopProxyState now = ReadEverything();
  if (copy.hasWritten && now != copy.written) {
    AddProxyNotice("The desktop's proxy was changed by someone else while hiding; theirs is kept");
    DeleteFileAt(file);
    return false;
  }
  DesktopProxyState desktop, registry;
  for (const auto& entry : copy.saved)
    (IsRegistryName(entry.first) ? registry : desktop).push_back(entry);
  const bool ok = WriteDesktopProxyState(desktop);
  const bool regOk = PutBackRegistryValues(registry);
  if (!ok || !regOk) {
    // The copy stays, so that the next start tries again.
    AddProxyNotice("The user's proxy settings could not all be put back; the copy in " + file +
                   " is kept");
    return false;
  }
  DeleteFileAt(file);
  return true;
}

}  // namespace platform
