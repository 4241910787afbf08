// posix backend of the registry service: a file-backed emulation with one
// REGEDIT4 text file per root key under "$XDG_DATA_HOME/veilgate/registry".
// Every change re-reads the file, applies itself and replaces the file
// atomically while holding an exclusive flock on a companion lock file, so
// concurrent processes never lose each other's writes. Readers need no lock
// because the file is only ever replaced whole.
#include "platform/Registry.h"
#include "platform/posix/RuntimeFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/Files.h"

namespace platform {

namespace {

enum class ValueType { String, Dword, Raw };

struct RegValue {
  std::string name;  // empty = the key's default value
  ValueType type = ValueType::String;
  std::string text;  // String: the text; Raw: everything after "=" as stored
  uint32_t dword = 0;
};

struct RegKey {
  std::string path;  // below the root, levels joined by "\", first-written spelling
  std::vector<RegValue> values;
};

struct RegDocument {
  std::vector<RegKey> keys;
};

const char* RootName(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::Users: return "HKEY_USERS";
  }
  return "HKEY_CURRENT_USER";
}

std::string RegistryFolder() { return posix::UserDataFolder() + "/registry"; }

// Splits a key path into its levels, dropping empty ones (leading, trailing
// or doubled "\"). False when a level cannot be stored in the file format.
bool SplitKey(const std::string& key, std::vector<std::string>& parts) {
  parts.clear();
  std::string cur;
  for (char c : key) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      if (c == '\n' || c == '\r' || c == '\0') return false;
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return true;
}

std::string JoinKey(const std::vector<std::string>& parts, size_t count) {
  std::string r;
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i) r += '\\';
    r += parts[i];
  }
  return r;
}

// ---- parsing --------------------------------------------------------------

// Reads a quoted text starting at s[pos] == '"'. Understands \\ \" \n \r.
bool ParseQuoted(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size()) {
      char e = s[pos++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        default: out += e; break;  // \\ and \" and anything else literally
      }
      continue;
    }
    out += c;
  }
  return false;  // unterminated
}

RegKey* FindKey(RegDocument& doc, const std::string& path) {
  for (RegKey& k : doc.keys)
    if (SameText(k.path, path)) return &k;
  return nullptr;
}

// Finds or adds the key with all its parents; existing levels keep their
// stored spelling.
RegKey& EnsureKey(RegDocument& doc, const std::vector<std::string>& parts) {
  if (parts.empty()) {
    if (RegKey* rootKey = FindKey(doc, "")) return *rootKey;
    doc.keys.insert(doc.keys.begin(), RegKey{});
    return doc.keys.front();
  }
  std::string path;
  RegKey* key = nullptr;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string candidate = path.empty() ? parts[i] : path + "\\" + parts[i];
    RegKey* found = FindKey(doc, candidate);
    if (!found) {
      RegKey k;
      k.path = candidate;
      doc.keys.push_back(std::move(k));
      found = &doc.keys.back();
    }
    path = found->path;
    key = found;
  }
  return *key;
}

RegValue* FindValue(RegKey& key, const std::string& name) {
  for (RegValue& v : key.values)
    if (SameText(v.name, name)) return &v;
  return nullptr;
}

const RegKey* FindKey(const RegDocument& doc, const std::string& path) {
  for (const RegKey& k : doc.keys)
    if (SameText(k.path, path)) return &k;
  return nullptr;
}

const RegValue* FindValue(const RegKey& key, const std::string& name) {
  for (const RegValue& v : key.values)
    if (SameText(v.name, name)) return &v;
  return nullptr;
}

void ParseDocument(const std::string& text, RegRoot root, RegDocument& doc) {
  doc.keys.clear();
  const std::string rootName = RootName(root);
  RegKey* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // Lines continued with a trailing "\" belong together (long hex values).
    while (!line.empty() && line.back() == '\r') line.pop_back();
    while (!line.empty() && line.back() == '\\' && line[0] != '[' && pos < text.size()) {
      size_t e2 = text.find('\n', pos);
      if (e2 == std::string::npos) e2 = text.size();
      std::string next = text.substr(pos, e2 - pos);
      pos = e2 + 1;
      while (!next.empty() && next.back() == '\r') next.pop_back();
      size_t first = next.find_first_not_of(" \t");
      line.pop_back();
      line += first == std::string::npos ? std::string() : next.substr(first);
    }
    size_t lead = line.find_first_not_of(" \t");
    if (lead == std::string::npos) continue;
    line = line.substr(lead);
    if (line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      size_t close = line.rfind(']');
      if (close == std::string::npos || close < 1) continue;
      std::string full = line.substr(1, close - 1);
      if (!full.empty() && full[0] == '-') continue;  // deletion entries are not state
      std::string head = full.substr(0, full.find('\\'));
      if (!SameText(head, rootName)) continue;
      std::string rest = full.size() > head.size() ? full.substr(head.size() + 1) : "";
      std::vector<std::string> parts;
      if (!SplitKey(rest, parts)) continue;
      current = &EnsureKey(doc, parts);
      continue;
    }
    if (!current) continue;
    RegValue value;
    size_t p = 0;
    if (line[0] == '@') {
      p = 1;
    } else if (line[0] == '"') {
      if (!ParseQuoted(line, p, value.name)) continue;
    } else {
      continue;
    }
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= line.size() || line[p] != '=') continue;
    ++p;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    std::string data = line.substr(p);
    if (!data.empty() && data[0] == '"') {
      size_t q = 0;
      if (!ParseQuoted(data, q, value.text)) continue;
      value.type = ValueType::String;
    } else if (StartsWithText(data, "dword:")) {
      std::string hex = data.substr(6);
      while (!hex.empty() && (hex.back() == ' ' || hex.back() == '\t')) hex.pop_back();
      if (hex.empty() || hex.size() > 8) continue;
      uint32_t n = 0;
      bool ok = true;
      for (char c : hex) {
        int d = HexDigitValue(c);
        if (d < 0) {
          ok = false;
          break;
        }
        n = (n << 4) | static_cast<uint32_t>(d);
      }
      if (!ok) continue;
      value.type = ValueType::Dword;
      value.dword = n;
    } else if (data == "-") {
      continue;  // a deletion entry
    } else if (!data.empty()) {
      value.type = ValueType::Raw;
      value.text = data;
    } else {
      continue;
    }
    if (RegValue* existing = FindValue(*current, value.name))
      *existing = std::move(value);
    else
      current->values.push_back(std::move(value));
  }
}

// ---- writing --------------------------------------------------------------

std::string Quote(const std::string& s) {
  // Line breaks would split the entry and corrupt the file.
  return "\"" +
         EscapeChars(s,
                     {{'\\', "\\\\"}, {'"', "\\\""}, {'\n', "\\n"}, {'\r', "\\r"}, {'\0', "\\0"}}) +
         "\"";
}

std::string Serialize(const RegDocument& doc, RegRoot root) {
  std::string out = "REGEDIT4\n";
  for (const RegKey& k : doc.keys) {
    out += "\n[";
    out += RootName(root);
    if (!k.path.empty()) {
      out += '\\';
      out += k.path;
    }
    out += "]\n";
    for (const RegValue& v : k.values) {
      out += v.name.empty() ? std::string("@") : Quote(v.name);
      out += '=';
      switch (v.type) {
        case ValueType::String: out += Quote(v.text); break;
        case ValueType::Dword: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
          out += buf;
          break;
        }
        case ValueType::Raw: out += v.text; break;
      }
      out += '\n';
    }
  }
  return out;
}

// ---- file access ----------------------------------------------------------

std::mutex gMutex;  // one registry operation at a time within this process

// Parsed files, reused while the file on disk is the same one (every write
// replaces the file, so a changed inode, size or time means a new version).
struct CacheEntry {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  std::shared_ptr<const RegDocument> doc;
};
std::map<std::string, CacheEntry> gCache;

bool SameVersion(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The current document of a root (empty when the file is missing or unreadable).
std::shared_ptr<const RegDocument> LoadDocument(RegRoot root) {
  static const auto kEmpty = std::make_shared<const RegDocument>();
  std::string path = RegBackingFile(root);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    gCache.erase(path);
    return kEmpty;
  }
  auto it = gCache.find(path);
  if (it != gCache.end()) {
    const CacheEntry& e = it->second;
    if (e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size &&
        e.mtime.tv_sec == st.st_mtim.tv_sec && e.mtime.tv_nsec == st.st_mtim.tv_nsec)
      return e.doc;
  }
  std::string text;
  if (!ReadWholeFile(path, text)) return kEmpty;
  auto doc = std::make_shared<RegDocument>();
  ParseDocument(text, root, *doc);
  // Only cache when the file did not change while it was being read.
  struct stat after {};
  if (::stat(path.c_str(), &after) == 0 && SameVersion(st, after)) {
    CacheEntry& e = gCache[path];
    e.dev = st.st_dev;
    e.ino = st.st_ino;
    e.size = st.st_size;
    e.mtime = st.st_mtim;
    e.doc = doc;
  }
  return doc;
}

// Holds the cross-process write lock of one root for its lifetime.
class WriteLock {
 public:
  explicit WriteLock(RegRoot root) {
    std::string folder = RegistryFolder();
    ForceDirectories(folder);
    std::string lockPath = folder + "/" + RootName(root) + ".lock";
    FFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (FFd < 0) return;
    // Only this user's own lock file is used (not a link, not another's).
    struct stat st {};
    if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
      ::close(FFd);
      FFd = -1;
      return;
    }
    while (::flock(FFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(FFd);
        FFd = -1;
        return;
      }
    }
  }
  ~WriteLock() {
    if (FFd >= 0) {
      ::flock(FFd, LOCK_UN);
      ::close(FFd);
    }
  }
  bool ok() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

// Runs one change under the write lock: load, change, save. The change
// returns false when nothing needs to be written (and the result is false),
// or sets changed=false to report success without writing.
template <typename Fn>
bool Modify(RegRoot root, Fn change) {
  std::lock_guard<std::mutex> guard(gMutex);
  WriteLock lock(root);
  if (!lock.ok()) return false;
  RegDocument doc = *LoadDocument(root);
  bool changed = true;
  if (!change(doc, changed)) return false;
  if (!changed) return true;
  std::string path = RegBackingFile(root);
  if (!WriteFileAtomic(path, Serialize(doc, root))) return false;
  gCache.erase(path);
  return true;
}

template <typename Fn>
auto Read(RegRoot root, Fn reader) {
  std::shared_ptr<const RegDocument> doc;
  {
    std::lock_guard<std::mutex> guard(gMutex);
    doc = LoadDocument(root);
  }
  return reader(*doc);
}

bool KeyExistsIn(const RegDocument& doc, const std::vector<std::string>& parts) {
  return FindKey(doc, JoinKey(parts, parts.size())) != nullptr;
}

}  // namespace

std::string RegBackingFile(RegRoot root) {
  return RegistryFolder() + "/" + RootName(root) + ".reg";
}

namespace {

// A copy of the value name of key, if it exists with the given type.
bool ReadValue(RegRoot root, const std::string& key, const std::string& name, ValueType type,
               RegValue& found) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  return Read(root, [&](const RegDocument& doc) {
    const RegKey* k = FindKey(doc, JoinKey(parts, parts.size()));
    if (!k) return false;
    const RegValue* v = FindValue(*k, name);
    if (!v || v->type != type) return false;
    found = *v;
    return true;
  });
}

// Sets a value, making its key; the file is left alone when it already held
// the same value.
bool WriteValue(RegRoot root, const std::string& key, const RegValue& value) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  return Modify(root, [&](RegDocument& doc, bool& changed) {
    RegKey& k = EnsureKey(doc, parts);
    RegValue* v = FindValue(k, value.name);
    if (!v) {
      k.values.push_back(value);
      return true;
    }
    if (v->type == value.type && v->text == value.text && v->dword == value.dword) changed = false;
    v->type = value.type;
    v->text = value.text;
    v->dword = value.dword;
    return true;
  });
}

}  // namespace

bool RegReadString(RegRoot root, const std::string& key, const std::string& name,
                   std::string& value) {
  RegValue found;
  if (!ReadValue(root, key, name, ValueType::String, found)) return false;
  value = found.text;
  return true;
}

bool RegReadDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value) {
  RegValue found;
  if (!ReadValue(root, key, name, ValueType::Dword, found)) return false;
  value = found.dword;
  return true;
}

bool RegWriteString(RegRoot root, const std::string& key, const std::string& name,
                    const std::string& value) {
  return WriteValue(root, key, RegValue{name, ValueType::String, value, 0});
}

bool RegWriteDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value) {
  return WriteValue(root, key, RegValue{name, ValueType::Dword, std::string(), value});
}

bool RegDeleteValue(RegRoot root, const std::string& key, const std::string& name) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  return Modify(root, [&](RegDocument& doc, bool&) {
    RegKey* k = FindKey(doc, JoinKey(parts, parts.size()));
    if (!k) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (SameText(it->name, name)) {
        k->values.erase(it);
        return true;
      }
    }
    return false;
  });
}

bool RegKeyExists(RegRoot root, const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  if (parts.empty()) return true;  // the root itself always exists
  return Read(root, [&](const RegDocument& doc) { return KeyExistsIn(doc, parts); });
}

bool RegCreateKey(RegRoot root, const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  return Modify(root, [&](RegDocument& doc, bool& changed) {
    if (KeyExistsIn(doc, parts)) {
      changed = false;
      return true;
    }
    EnsureKey(doc, parts);
    return true;
  });
}

bool RegDeleteKey(RegRoot root, const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return false;
  if (parts.empty()) return false;  // the root cannot be deleted
  return Modify(root, [&](RegDocument& doc, bool&) {
    std::string path = LowerCase(JoinKey(parts, parts.size()));
    std::string prefix = path + "\\";
    size_t before = doc.keys.size();
    std::vector<RegKey> kept;
    kept.reserve(doc.keys.size());
    for (RegKey& k : doc.keys) {
      std::string lower = LowerCase(k.path);
      if (lower == path || lower.compare(0, prefix.size(), prefix) == 0) continue;
      kept.push_back(std::move(k));
    }
    doc.keys = std::move(kept);
    return doc.keys.size() != before;
  });
}

std::vector<std::string> RegEnumSubKeys(RegRoot root, const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return {};
  return Read(root, [&](const RegDocument& doc) {
    std::vector<std::string> result;
    std::string base = LowerCase(JoinKey(parts, parts.size()));
    std::string prefix = base.empty() ? std::string() : base + "\\";
    for (const RegKey& k : doc.keys) {
      if (k.path.empty()) continue;
      std::string lower = LowerCase(k.path);
      if (lower.size() <= prefix.size() || lower.compare(0, prefix.size(), prefix) != 0) continue;
      std::string rest = k.path.substr(prefix.size());
      std::string child = rest.substr(0, rest.find('\\'));
      bool seen = false;
      for (const std::string& r : result)
        if (SameText(r, child)) seen = true;
      if (!seen) result.push_back(child);
    }
    return result;
  });
}

std::vector<std::string> RegEnumValueNames(RegRoot root, const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKey(key, parts)) return {};
  return Read(root, [&](const RegDocument& doc) {
    std::vector<std::string> result;
    if (const RegKey* k = FindKey(doc, JoinKey(parts, parts.size())))
      for (const RegValue& v : k->values) result.push_back(v.name);
    return result;
  });
}

}  // namespace platform
