#include "switch/WebRtcGuard.h"

#include <algorithm>
#include <cstdint>
#include <thread>

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

// A file's fingerprint in the saved copy (64-bit FNV-1a, with its size): it
// tells whether a file still holds what the hide wrote without keeping the
// whole file.
std::string Digest(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  static const char* const kDigits = "0123456789abcdef";
  std::string out = std::to_string(bytes.size()) + ":";
  for (int shift = 60; shift >= 0; shift -= 4) out += kDigits[(h >> shift) & 15];
  return out;
}

// The policy goes into the text of the file in place: the user's bytes stay
// as they are around the one member, so the saved copy needs only the
// change ("at", "removed", "inserted") to give the file back byte for byte.
struct TSplice {
  size_t At = 0;
  std::string Removed, Inserted;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t SkipSpace(const std::string& t, size_t i) {
  while (i < t.size() && IsSpace(t[i])) ++i;
  return i;
}

// Past the string that opens at t[i]; npos when it does not end.
size_t SkipString(const std::string& t, size_t i) {
  for (++i; i < t.size(); ++i) {
    if (t[i] == '\\')
      ++i;
    else if (t[i] == '"')
      return i + 1;
  }
  return std::string::npos;
}

// Past the value that starts at t[i].
size_t SkipValue(const std::string& t, size_t i) {
  if (i >= t.size()) return std::string::npos;
  if (t[i] == '"') return SkipString(t, i);
  if (t[i] != '{' && t[i] != '[') {
    while (i < t.size() && !IsSpace(t[i]) && t[i] != ',' && t[i] != '}' && t[i] != ']') ++i;
    return i;
  }
  int depth = 0;
  for (; i < t.size(); ++i) {
    if (t[i] == '"') {
      i = SkipString(t, i);
      if (i == std::string::npos) return i;
      --i;
    } else if (t[i] == '{' || t[i] == '[') {
      ++depth;
    } else if ((t[i] == '}' || t[i] == ']') && --depth == 0) {
      return i + 1;
    }
  }
  return std::string::npos;
}

// One member of an object: its name and where its value lies.
struct TMember {
  std::string Name;
  size_t Value = 0, End = 0;
};

// The members of the object that opens at t[open], and where it closes. The
// text has been checked as JSON already.
bool Members(const std::string& t, size_t open, std::vector<TMember>& members, size_t& close) {
  size_t i = SkipSpace(t, open + 1);
  if (i < t.size() && t[i] == '}') {
    close = i;
    return true;
  }
  for (;;) {
    if (i >= t.size() || t[i] != '"') return false;
    const size_t name = i;
    i = SkipString(t, i);
    if (i == std::string::npos) return false;
    TMember m;
    m.Name = t.substr(name + 1, i - name - 2);
    if (m.Name.find('\\') != std::string::npos) {
      // An escaped name: as the parser reads it.
      const json decoded = json::parse(t.substr(name, i - name), nullptr, false);
      m.Name = decoded.is_string() ? decoded.get<std::string>() : std::string();
    }
    i = SkipSpace(t, i);
    if (i >= t.size() || t[i] != ':') return false;
    m.Value = SkipSpace(t, i + 1);
    m.End = i = SkipValue(t, m.Value);
    if (i == std::string::npos) return false;
    members.push_back(m);
    i = SkipSpace(t, i);
    if (i < t.size() && t[i] == ',') {
      i = SkipSpace(t, i + 1);
      continue;
    }
    if (i >= t.size() || t[i] != '}') return false;
    close = i;
    return true;
  }
}

// The member of that name that counts: the last one, as with the parser.
const TMember* Member(const std::vector<TMember>& members, const std::string& name) {
  for (auto it = members.rbegin(); it != members.rend(); ++it)
    if (it->Name == name) return &*it;
  return nullptr;
}

// How to set the policy in the preferences' text; false (nothing to write)
// when the text is not a JSON object whose "webrtc" is an object or absent.
// hadWebrtc: the text had a "webrtc" object; a policy it had is Removed.
bool PolicySplice(const std::string& text, TSplice& splice, bool& hadWebrtc) {
  // Text that is not JSON (or not UTF-8) is never written.
  if (!json::accept(text)) return false;
  const size_t open = SkipSpace(text, 0);
  if (open >= text.size() || text[open] != '{') return false;
  std::vector<TMember> top, group;
  size_t close = 0, groupClose = 0;
  if (!Members(text, open, top, close)) return false;
  const std::string policy =
      std::string("\"") + ChromiumWebRtcPolicyKey + "\":\"" + ChromiumWebRtcPolicyValue + "\"";
  const TMember* webrtc = Member(top, "webrtc");
  hadWebrtc = webrtc != nullptr;
  splice = TSplice();
  if (!webrtc) {
    // A new group after the last member.
    splice.At = top.empty() ? close : top.back().End;
    splice.Inserted = (top.empty() ? "" : ",") + ("\"webrtc\":{" + policy + "}");
    return true;
  }
  if (text[webrtc->Value] != '{' || !Members(text, webrtc->Value, group, groupClose)) return false;
  if (const TMember* had = Member(group, ChromiumWebRtcPolicyKey)) {
    splice.At = had->Value;
    splice.Removed = text.substr(had->Value, had->End - had->Value);
    splice.Inserted = std::string("\"") + ChromiumWebRtcPolicyValue + "\"";
    return true;
  }
  splice.At = group.empty() ? groupClose : group.back().End;
  splice.Inserted = (group.empty() ? "" : ",") + policy;
  return true;
}

// Sets the policy for one profile in the copy: a new entry in fresh, or the
// new change of an entry kept before; the text to write goes to written.
// True when the file is to be written.
bool KeepChromium(const platform::ChromiumProfileLocation& where, json& entries,
                  TWebRtcReport& report, json& fresh, std::string& written) {
  const std::string file = JoinPath(where.profileFolder, "Preferences");
  if (!platform::FileExists(file)) return false;
  if (platform::BrowserProfileInUse(where.dataFolder)) {
    // It would overwrite the file from memory; it gets the setting at a
    // hide after it has ended.
    Trace(where.browser + " is running: its profile is left for now (" + file + ")");
    report.Restart.push_back(where.browser);
    return false;
  }
  std::string now;
  if (!platform::ReadWholeFile(file, now)) {
    report.Failed.push_back(where.browser);
    return false;
  }
  TSplice splice;
  bool hadWebrtc = false;
  if (!PolicySplice(now, splice, hadWebrtc)) {
    Trace("Left alone, not JSON preferences as expected: " + file);
    report.Failed.push_back(where.browser);
    return false;
  }
  report.Covered.push_back(where.browser);
  // Set already (by an earlier hide, or by the user): nothing to write.
  if (splice.Removed == splice.Inserted) return false;
  written = now;
  written.replace(splice.At, splice.Removed.size(), splice.Inserted);
  json* kept = FindEntry(entries, file);
  json entry = kept ? *kept
                    : json{{"kind", "chromium"},
                           {"browser", where.browser},
                           {"folder", where.dataFolder},
                           {"file", file},
                           {"hadWebrtc", hadWebrtc}};
  // The user's own value: the first hide's (a copy of an older format
  // keeps the whole file instead, which stays).
  if (!kept && !splice.Removed.empty()) entry["had"] = json::parse(splice.Removed, nullptr, false);
  entry.erase("written");
  entry["at"] = splice.At;
  entry["removed"] = splice.Removed;
  entry["inserted"] = splice.Inserted;
  entry["digest"] = Digest(written);
  if (kept)
    *kept = entry;
  else
    fresh.push_back(entry);
  return true;
}

// What the user had before the hide: whether "webrtc" existed and the
// policy's value (null when unset), from either form of the copy.
// True when the policy was set, its value in had.
bool UsersPolicy(const json& e, bool& hadWebrtc, ordered_json& had) {
  if (e.contains("original")) {
    const ordered_json before = ordered_json::parse(Bytes(e, "original"), nullptr, false);
    const ordered_json* p = before.is_object() ? PolicyIn(before) : nullptr;
    hadWebrtc = before.is_object() && before.contains("webrtc");
    if (p) had = *p;
    return p != nullptr;
  }
  hadWebrtc = Flag(e, "hadWebrtc");
  if (!e.contains("had")) return false;
  had = ordered_json::parse(e["had"].dump(), nullptr, false);
  return true;
}

// The file as it was before the hide's write, when it still holds exactly
// what the hide wrote; false otherwise.
bool Unwritten(const json& e, const std::string& now, std::string& before) {
  if (e.contains("written")) {  // the copy of an older format: whole files
    if (now != Bytes(e, "written")) return false;
    before = Bytes(e, "original");
    return true;
  }
  const auto at = e.find("at");
  if (at == e.end() || !at->is_number_unsigned() || Text(e, "digest") != Digest(now)) return false;
  const std::string inserted = Text(e, "inserted");
  const size_t pos = at->get<size_t>();
  if (pos > now.size() || now.compare(pos, inserted.size(), inserted) != 0) return false;
  before = now;
  before.replace(pos, inserted.size(), Text(e, "removed"));
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
  std::string now, before;
  if (!platform::ReadWholeFile(file, now)) return true;  // the profile is gone
  std::string error;
  if (Unwritten(e, now, before)) {
    // No browser ran in between: the file as it was, byte for byte.
    if (platform::WriteFileAtomic(file, before, &error)) return true;
    Trace("Not put back: " + file + ": " + error);
    return false;
  }
  // The browser rewrote the file meanwhile: only the policy goes back.
  ordered_json prefs = ordered_json::parse(now, nullptr, false);
  if (!prefs.is_object() || !IsOurPolicy(prefs)) {
    Trace("The WebRTC setting in " + file + " was changed meanwhile; it stays");
    return true;
  }
  bool hadWebrtc = false;
  ordered_json had;
  const bool hadPolicy = UsersPolicy(e, hadWebrtc, had);
  ordered_json& webrtc = prefs["webrtc"];
  if (hadPolicy) {
    webrtc[ChromiumWebRtcPolicyKey] = had;
  } else {
    webrtc.erase(ChromiumWebRtcPolicyKey);
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
                 TWebRtcReport& report, json& fresh, std::string& written) {
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
  written = now;
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

// A browser file to write, and what goes in it.
struct TWrite {
  std::string File, Bytes;
};

// Adds the fresh entries to the copy, writes it, then the browser files.
// Only the copy must reach the disk before a browser file changes: a
// browser file whose rename a power failure undid is the user's own again,
// which the put-back recognises.
void Commit(json& entries, const json& fresh, const std::vector<TWrite>& toWrite,
            TWebRtcReport& report) {
  if (toWrite.empty()) return;
  for (const json& e : fresh) entries.push_back(e);
  // The user's values are on disk before any browser file changes.
  if (!WriteCopy(entries)) {
    report.Failed.insert(report.Failed.end(), report.Covered.begin(), report.Covered.end());
    report.Covered.clear();
    return;
  }
  // The files are independent of one another: they are written side by
  // side, so that their flushes to disk overlap instead of queueing; all
  // are done before the hide goes on.
  std::vector<std::string> errors(toWrite.size());
  std::vector<char> written(toWrite.size(), 0);
  std::vector<std::thread> writers;
  for (size_t i = 1; i < toWrite.size(); ++i)
    writers.emplace_back([&, i] {
      try {
        written[i] = platform::ReplaceFileAtomic(toWrite[i].File, toWrite[i].Bytes, &errors[i]);
      } catch (const std::exception& e) {
        errors[i] = e.what();  // out of memory: reported like any failed write
      }
    });
  written[0] = platform::ReplaceFileAtomic(toWrite[0].File, toWrite[0].Bytes, &errors[0]);
  for (std::thread& t : writers) t.join();
  for (size_t i = 0; i < toWrite.size(); ++i) {
    if (written[i]) continue;
    const TWrite& w = toWrite[i];
    Trace("Not written: " + w.File + ": " + errors[i]);
    if (const json* e = FindEntry(entries, w.File)) {
      const std::string browser = Text(*e, "browser");
      report.Failed.push_back(browser);
      report.Covered.erase(std::remove(report.Covered.begin(), report.Covered.end(), browser),
                           report.Covered.end());
    }
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
    std::vector<TWrite> toWrite;
    std::string written;
    for (const auto& where : platform::ChromiumProfileLocations())
      if (KeepChromium(where, entries, report, fresh, written))
        toWrite.push_back({JoinPath(where.profileFolder, "Preferences"), std::move(written)});
    for (const TFirefoxProfile& p : FirefoxProfiles(aFirefoxProfiles))
      if (KeepFirefox(p, {PrefLine(FirefoxWebRtcPref, "true")}, entries, report, fresh, written))
        toWrite.push_back({JoinPath(p.Path, "user.js"), std::move(written)});
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
    std::vector<TWrite> toWrite;
    std::string written;
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
      if (KeepFirefox(p, lines, entries, report, fresh, written))
        toWrite.push_back({JoinPath(p.Path, "user.js"), std::move(written)});
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
