#include "switch/WebRtcGuard.h"

#include <nlohmann/json.hpp>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Browser.h"
#include "platform/Files.h"
#include "platform/ProxySettings.h"
#include "switch/uVGUtils.h"

const char* const ChromiumWebRtcPolicyKey = "ip_handling_policy";
const char* const ChromiumWebRtcPolicyValue = "disable_non_proxied_udp";
const char* const FirefoxWebRtcPref = "media.peerconnection.ice.proxy_only_if_behind_proxy";

namespace {

using json = nlohmann::json;
// Chromium's own file keeps its key order: a reader comparing before and
// after sees only the one value changed.
using ordered_json = nlohmann::ordered_json;

void Trace(const std::string& line) { CLDebugLog::Write("WebRtcGuard", line); }

// File contents travel through the saved copy as hexadecimal text: they
// need not be UTF-8, and they must come back byte for byte.
std::string Hex(const std::string& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& text, std::string& bytes) {
  if (text.size() % 2) return false;
  bytes.clear();
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::string Text(const json& entry, const char* name) {
  const auto it = entry.find(name);
  return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string Bytes(const json& entry, const char* name) {
  std::string bytes;
  return Unhex(Text(entry, name), bytes) ? bytes : std::string();
}

bool Flag(const json& entry, const char* name) {
  const auto it = entry.find(name);
  return it != entry.end() && it->is_boolean() && it->get<bool>();
}

// ---- the saved copy ----------------------------------------------------------------

// Reads the copy's profile entries. False when there is no copy; an
// unreadable one is dropped (it is no use to anyone) and the browsers are
// left as they are.
bool ReadCopy(json& entries) {
  const std::string file = SavedWebRtcFile();
  if (file.empty() || !platform::FileExists(file)) return false;
  std::string text;
  if (platform::ReadWholeFile(file, text)) {
    const json copy = json::parse(text, nullptr, false);
    if (copy.is_object() && copy.contains("profiles") && copy["profiles"].is_array()) {
      entries = copy["profiles"];
      return true;
    }
  }
  Trace("The saved WebRTC settings in " + file + " are unreadable; the browsers are left alone");
  platform::DeleteFileAt(file);
  return false;
}

bool WriteCopy(const json& entries) {
  const std::string file = SavedWebRtcFile();
  if (file.empty()) return false;
  if (entries.empty()) {
    platform::DeleteFileAt(file);
    return true;
  }
  const std::string folder = ExtractFileDir(file);
  if (!folder.empty() && !platform::ForceDirectories(folder)) return false;
  std::string error;
  if (!platform::WriteFileAtomic(file, json{{"profiles", entries}}.dump(1), &error)) {
    Trace("The user's WebRTC settings could not be saved: " + error);
    return false;
  }
  return true;
}

json* FindEntry(json& entries, const std::string& file) {
  for (json& e : entries)
    if (Text(e, "file") == file) return &e;
  return nullptr;
}

// ---- Chromium's Preferences ------------------------------------------------------------

// The value of webrtc.ip_handling_policy in parsed preferences; null when
// it is not set.
const ordered_json* PolicyIn(const ordered_json& prefs) {
  const auto webrtc = prefs.find("webrtc");
  if (webrtc == prefs.end() || !webrtc->is_object()) return nullptr;
  const auto policy = webrtc->find(ChromiumWebRtcPolicyKey);
  return policy == webrtc->end() ? nullptr : &*policy;
}

bool IsOurPolicy(const ordered_json& prefs) {
  const ordered_json* p = PolicyIn(prefs);
  return p && p->is_string() && p->get<std::string>() == ChromiumWebRtcPolicyValue;
}

// The preferences with the policy set; false (nothing to write) when the
// text is not a JSON object whose "webrtc" is an object or absent.
bool WithPolicy(const std::string& text, std::string& out) {
  ordered_json prefs = ordered_json::parse(text, nullptr, false);
  if (!prefs.is_object()) return false;
  auto webrtc = prefs.find("webrtc");
  if (webrtc != prefs.end() && !webrtc->is_object()) return false;
  prefs["webrtc"][ChromiumWebRtcPolicyKey] = ChromiumWebRtcPolicyValue;
  try {
    out = prefs.dump();
  } catch (const std::exception&) {
    return false;  // text that is not UTF-8 is not written back
  }
  return true;
}

// Sets the policy for one profile in the copy: a new entry in fresh, or a
// new "written" of an entry kept before. True when the file is to be
// written.
bool KeepChromium(const platform::ChromiumProfileLocation& where, json& entries,
                  TWebRtcReport& report, json& fresh) {
  const std::string file = JoinPath(where.profileFolder, "Preferences");
  if (!platform::FileExists(file)) return false;
  if (platform::BrowserProfileInUse(where.dataFolder)) {
    // It would overwrite the file from memory; it gets the setting at a
    // hide after it has ended.
    Trace(where.browser + " is running: its profile is left for now (" + file + ")");
    report.Restart.push_back(where.browser);
    return false;
  }
  std::string now, written;
  if (!platform::ReadWholeFile(file, now)) {
    report.Failed.push_back(where.browser);
    return false;
  }
  json* kept = FindEntry(entries, file);
  if (kept && IsOurPolicy(ordered_json::parse(now, nullptr, false))) {
    report.Covered.push_back(where.browser);
    return false;
  }
  if (!WithPolicy(now, written)) {
    Trace("Left alone, not JSON preferences as expected: " + file);
    report.Failed.push_back(where.browser);
    return false;
  }
  if (kept) {
    (*kept)["written"] = Hex(written);
  } else {
    fresh.push_back({{"kind", "chromium"},
                     {"browser", where.browser},
                     {"folder", where.dataFolder},
                     {"file", file},
                     {"original", Hex(now)},
                     {"written", Hex(written)}});
  }
  report.Covered.push_back(where.browser);
  return true;
}

// Puts one Chromium profile back. True when done (or nothing is left to
// do), false when it must wait for a later call.
bool PutBackChromium(const json& e) {
  const std::string file = Text(e, "file");
  if (platform::BrowserProfileInUse(Text(e, "folder"))) {
    Trace(Text(e, "browser") + " is running: its WebRTC setting goes back once it has ended");
    return false;
  }
  std::string now;
  if (!platform::ReadWholeFile(file, now)) return true;  // the profile is gone
  const std::string original = Bytes(e, "original");
  std::string error;
  if (now == Bytes(e, "written")) {
    // No browser ran in between: the file as it was, byte for byte.
    if (platform::WriteFileAtomic(file, original, &error)) return true;
    Trace("Not put back: " + file + ": " + error);
    return false;
  }
  // The browser rewrote the file meanwhile: only the policy goes back.
  ordered_json prefs = ordered_json::parse(now, nullptr, false);
  if (!prefs.is_object() || !IsOurPolicy(prefs)) {
    Trace("The WebRTC setting in " + file + " was changed meanwhile; it stays");
    return true;
  }
  const ordered_json before = ordered_json::parse(original, nullptr, false);
  const ordered_json* had = before.is_object() ? PolicyIn(before) : nullptr;
  ordered_json& webrtc = prefs["webrtc"];
  if (had) {
    webrtc[ChromiumWebRtcPolicyKey] = *had;
  } else {
    webrtc.erase(ChromiumWebRtcPolicyKey);
    const bool hadWebrtc = before.is_object() && before.contains("webrtc");
    if (webrtc.empty() && !hadWebrtc) prefs.erase("webrtc");
  }
  std::string text;
  try {
    text = prefs.dump();
  } catch (const std::exception&) {
    return true;
  }
  if (platform::WriteFileAtomic(file, text, &error)) return true;
  Trace("Not put back: " + file + ": " + error);
  return false;
}

// ---- Firefox's user.js and prefs.js ------------------------------------------------------

// One preference line as user.js and prefs.js hold it.
struct TPrefLine {
  std::string name, line;
};

TPrefLine PrefLine(const std::string& name, const std::string& value, bool marked = false) {
  return {name, "user_pref(\"" + name + "\", " + value + ");" +
                    (marked ? std::string(" ") + FirefoxWhileHidingMark : std::string())};
}

// The name a user_pref line sets; empty for any other line.
std::string PrefName(const std::string& line) {
  const std::string t = Trim(line);
  if (t.compare(0, 10, "user_pref(") != 0) return std::string();
  const size_t open = t.find('"', 10);
  if (open == std::string::npos || Trim(t.substr(10, open - 10)) != "") return std::string();
  const size_t close = t.find('"', open + 1);
  return close == std::string::npos ? std::string() : t.substr(open + 1, close - open - 1);
}

bool Named(const json& names, const std::string& name) {
  for (const json& n : names)
    if (n.is_string() && n.get<std::string>() == name) return true;
  return false;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

// The lines of a preference file that set one of the names.
json PrefLines(const std::string& text, const json& names) {
  json lines = json::array();
  for (const std::string& line : SplitLines(text))
    if (Named(names, PrefName(line))) lines.push_back(Hex(line));
  return lines;
}

// Takes the last occurrence of a whole line out of a text.
bool EraseLine(std::string& text, const std::string& line) {
  size_t at = text.size();
  while (at > 0 && (at = text.rfind(line, at - 1)) != std::string::npos) {
    const size_t end = at + line.size();
    if ((at == 0 || text[at - 1] == '\n') && (end == text.size() || text[end] == '\n')) {
      text.erase(at, end < text.size() ? end + 1 - at : end - at);
      return true;
    }
    if (at == 0) break;
  }
  return false;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::string copy = text;
  return EraseLine(copy, line);
}

// Sets preference lines in one profile's user.js through the copy: a new
// entry in fresh, or more lines for an entry kept before (a line the copy
// added earlier for the same preference is replaced). True when the file
// is to be written.
bool KeepFirefox(const TFirefoxProfile& p, const std::vector<TPrefLine>& wanted, json& entries,
                 TWebRtcReport& report, json& fresh) {
  const std::string name = "Firefox (" + p.Name + ")";
  if (!platform::DirectoryExists(p.Path)) return false;
  const std::string file = JoinPath(p.Path, "user.js");
  std::string now;
  const bool existed = platform::ReadWholeFile(file, now);
  if (!existed && platform::FileExists(file)) {
    report.Failed.push_back(name);
    return false;
  }
  const bool inUse = platform::BrowserProfileInUse(p.Path);
  if (inUse) report.Restart.push_back(name);
  json* kept = FindEntry(entries, file);
  json entry =
      kept ? *kept
           : json{{"kind", "firefox"}, {"prefs", json::array()}, {"prefsLines", json::array()}};
  if (!kept || Flag(entry, "userRestored")) {
    // user.js as it is now is the user's (a profile kept before whose
    // user.js is back already starts afresh; prefs.js keeps its record).
    entry["browser"] = name;
    entry["folder"] = p.Path;
    entry["file"] = file;
    entry["existed"] = existed;
    entry["original"] = Hex(now);
    entry["lines"] = json::array();
    entry.erase("userRestored");
  }
  std::string written = now;
  json added = json::array();
  bool changed = false;
  for (const TPrefLine& w : wanted)
    if (!HasLine(written, w.line)) changed = true;
  if (!changed) {
    if (!inUse) report.Covered.push_back(name);
    return false;
  }
  for (const json& line : entry["lines"]) {
    bool replaced = false;
    for (const TPrefLine& w : wanted) replaced = replaced || PrefName(line) == w.name;
    if (replaced)
      EraseLine(written, line);
    else
      added.push_back(line);
  }
  std::string prefs;
  platform::ReadWholeFile(JoinPath(p.Path, "prefs.js"), prefs);
  for (const TPrefLine& w : wanted) {
    if (!written.empty() && written.back() != '\n') written += '\n';
    written += w.line + "\n";
    added.push_back(w.line);
    if (Named(entry["prefs"], w.name)) continue;
    // What prefs.js says of the preference before Firefox copies ours in.
    entry["prefs"].push_back(w.name);
    for (const json& l : PrefLines(prefs, json::array({w.name}))) entry["prefsLines"].push_back(l);
  }
  entry["lines"] = added;
  entry["written"] = Hex(written);
  if (kept)
    *kept = entry;
  else
    fresh.push_back(entry);
  if (!inUse) report.Covered.push_back(name);
  return true;
}

// user.js back: the original bytes when it still holds what was written,
// else only the lines that were added go.
bool PutBackUserJs(const json& e) {
  const std::string file = Text(e, "file");
  std::string now, error;
  if (!platform::ReadWholeFile(file, now)) return true;
  if (now == Bytes(e, "written")) {
    if (!Flag(e, "existed")) return platform::DeleteFileAt(file) || !platform::FileExists(file);
    return platform::WriteFileAtomic(file, Bytes(e, "original"), &error);
  }
  bool changed = false;
  if (e.contains("lines"))
    for (const json& line : e["lines"])
      if (line.is_string()) changed = EraseLine(now, line.get<std::string>()) || changed;
  return !changed || platform::WriteFileAtomic(file, now, &error);
}

// prefs.js back to the lines of the preferences it had when they were
// first set: Firefox copied the user.js values into it when it ended.
bool PutBackPrefsJs(const json& e) {
  const std::string file = JoinPath(Text(e, "folder"), "prefs.js");
  std::string now;
  if (!platform::ReadWholeFile(file, now)) return true;
  const json names = e.contains("prefs") ? e["prefs"] : json::array();
  const json had = e.contains("prefsLines") ? e["prefsLines"] : json::array();
  if (PrefLines(now, names) == had) return true;  // as it was: untouched
  std::string out;
  bool placed = false;
  auto putHad = [&] {
    for (const json& h : had) {
      std::string line;
      if (h.is_string() && Unhex(h.get<std::string>(), line)) out += line + "\n";
    }
    placed = true;
  };
  for (const std::string& line : SplitLines(now)) {
    if (Named(names, PrefName(line))) {
      if (!placed) putHad();
      continue;
    }
    out += line + "\n";
  }
  if (!placed) putHad();
  if (!now.empty() && now.back() != '\n' && !out.empty()) out.pop_back();
  std::string error;
  if (platform::WriteFileAtomic(file, out, &error)) return true;
  Trace("Not put back: " + file + ": " + error);
  return false;
}

bool PutBackFirefox(json& e) {
  if (!Flag(e, "userRestored")) {
    // Firefox never writes user.js, so it goes back at once, even while
    // Firefox runs: its next start reads the user's own again.
    if (!PutBackUserJs(e)) {
      Trace("Not put back: " + Text(e, "file"));
      return false;
    }
    e["userRestored"] = true;
  }
  if (platform::BrowserProfileInUse(Text(e, "folder"))) {
    Trace(Text(e, "browser") + " is running: its prefs.js is put back once it has ended");
    return false;
  }
  return PutBackPrefsJs(e);
}

}  // namespace

std::string SavedWebRtcFile() {
  const std::string desktop = platform::SavedDesktopProxyFile();
  if (desktop.empty()) return std::string();
  return desktop.substr(0, desktop.find_last_of("/\\") + 1) + "browser-profiles.saved";
}

namespace {

// Adds the fresh entries to the copy, writes it, then the browser files.
void Commit(json& entries, const json& fresh, const std::vector<std::string>& toWrite,
            TWebRtcReport& report) {
  if (toWrite.empty()) return;
  for (const json& e : fresh) entries.push_back(e);
  // The user's values are on disk before any browser file changes.
  if (!WriteCopy(entries)) {
    report.Failed.insert(report.Failed.end(), report.Covered.begin(), report.Covered.end());
    report.Covered.clear();
    return;
  }
  for (const std::string& file : toWrite) {
    const json* e = FindEntry(entries, file);
    std::string error;
    if (e && platform::WriteFileAtomic(file, Bytes(*e, "written"), &error)) continue;
    Trace("Not written: " + file + ": " + error);
    if (e) report.Failed.push_back(Text(*e, "browser"));
  }
}

}  // namespace

TWebRtcReport KeepWebRtcToProxy(const std::string& aFirefoxProfiles) {
  TWebRtcReport report;
  try {
    if (!SettingOn("SWITCH.WEBRTC")) {
      PutBackWebRtc();
      return report;
    }
    json entries = json::array();
    ReadCopy(entries);
    json fresh = json::array();
    std::vector<std::string> toWrite;
    for (const auto& where : platform::ChromiumProfileLocations())
      if (KeepChromium(where, entries, report, fresh))
        toWrite.push_back(JoinPath(where.profileFolder, "Preferences"));
    for (const TFirefoxProfile& p : FirefoxProfiles(aFirefoxProfiles))
      if (KeepFirefox(p, {PrefLine(FirefoxWebRtcPref, "true")}, entries, report, fresh))
        toWrite.push_back(JoinPath(p.Path, "user.js"));
    Commit(entries, fresh, toWrite, report);
  } catch (const std::exception& e) {
    Trace(std::string("WebRTC settings not kept: ") + e.what());
  }
  for (const std::string& b : report.Covered) Trace("WebRTC kept to the proxy: " + b);
  return report;
}

TWebRtcReport KeepFirefoxOnProxy(const std::string& aProxy, const std::string& aFirefoxProfiles) {
  TWebRtcReport report;
  std::string host, port;
  // Only a plain address and port go into a preference line.
  if (!SplitSafeProxy(aProxy, host, port)) return report;
  try {
    json entries = json::array();
    ReadCopy(entries);
    json fresh = json::array();
    std::vector<std::string> toWrite;
    // Marked, so that the program's own check of profiles that do not
    // follow the desktop does not take them for the user's choice.
    const std::string quoted = "\"" + host + "\"";
    const std::vector<TPrefLine> lines = {PrefLine("network.proxy.type", "1", true),
                                          PrefLine("network.proxy.http", quoted, true),
                                          PrefLine("network.proxy.http_port", port, true),
                                          PrefLine("network.proxy.ssl", quoted, true),
                                          PrefLine("network.proxy.ssl_port", port, true),
                                          PrefLine("network.proxy.share_proxy_settings", "true",
                                                   true)};
    for (const TFirefoxProfile& p : FirefoxProfiles(aFirefoxProfiles)) {
      if (FirefoxProxyType(p.Path) != 5) continue;  // the user's own proxy choice stays
      if (KeepFirefox(p, lines, entries, report, fresh))
        toWrite.push_back(JoinPath(p.Path, "user.js"));
    }
    Commit(entries, fresh, toWrite, report);
  } catch (const std::exception& e) {
    Trace(std::string("Firefox's own proxy not set: ") + e.what());
  }
  for (const std::string& b : report.Covered) Trace("Proxy set in the profile: " + b);
  return report;
}

bool PutBackWebRtc() {
  try {
    json entries;
    if (!ReadCopy(entries)) return false;
    json remaining = json::array();
    for (json& e : entries) {
      const bool done = Text(e, "kind") == "chromium" ? PutBackChromium(e) : PutBackFirefox(e);
      if (done)
        Trace("WebRTC setting put back: " + Text(e, "browser"));
      else
        remaining.push_back(e);
    }
    WriteCopy(remaining);
    return remaining.empty();
  } catch (const std::exception& e) {
    Trace(std::string("WebRTC settings not put back: ") + e.what());
    return false;
  }
}
