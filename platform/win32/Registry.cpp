// win32 backend of the registry service: the real registry through the wide
// advapi32 calls. Key paths are normalised first (empty levels from leading,
// trailing or doubled "\" dropped), as the registry itself refuses them.
#include "platform/Registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/WinText.h"

namespace platform {

namespace {

using win32::Utf8;
using win32::Wide;

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::Users: return HKEY_USERS;
  }
  return HKEY_CURRENT_USER;
}

std::wstring KeyPath(const std::string& key) {
  std::string path, level;
  for (char c : key + "\\") {
    if (c == '\\') {
      if (!level.empty()) path += (path.empty() ? "" : "\\") + level;
      level.clear();
    } else {
      level += c;
    }
  }
  return Wide(path);
}

class Key {
 public:
  ~Key() {
    if (FKey) RegCloseKey(FKey);
  }
  bool Open(RegRoot root, const std::string& key, REGSAM access) {
    return RegOpenKeyExW(RootKey(root), KeyPath(key).c_str(), 0, access, &FKey) == ERROR_SUCCESS;
  }
  bool Create(RegRoot root, const std::string& key, REGSAM access) {
    return RegCreateKeyExW(RootKey(root), KeyPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access, nullptr, &FKey, nullptr) == ERROR_SUCCESS;
  }
  HKEY get() const { return FKey; }

 private:
  HKEY FKey = nullptr;
};

// Reads a value's type and raw bytes.
bool QueryValue(RegRoot root, const std::string& key, const std::string& name, DWORD& type,
                std::vector<BYTE>& data) {
  Key k;
  if (!k.Open(root, key, KEY_QUERY_VALUE)) return false;
  std::wstring wname = Wide(name);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    if (RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return false;
    data.assign(size + sizeof(wchar_t), 0);
    DWORD got = size;
    LONG rc = RegQueryValueExW(k.get(), wname.c_str(), nullptr, &type, data.data(), &got);
    if (rc == ERROR_MORE_DATA) continue;  // grew in between
    if (rc != ERROR_SUCCESS) return false;
    data.resize(got);
    return true;
  }
  return false;
}

}  // namespace

bool RegReadString(RegRoot root, const std::string& key, const std::string& name,
                   std::string& value) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryValue(root, key, name, type, data)) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // The stored text may or may not carry its terminator.
  size_t units = data.size() / sizeof(wchar_t);
  const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
  while (units > 0 && text[units - 1] == L'\0') --units;
  value = Utf8(text, static_cast<int>(units));
  return true;
}

bool RegReadDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryValue(root, key, name, type, data)) return false;
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) return false;
  DWORD n = 0;
  memcpy(&n, data.data(), sizeof n);
  value = n;
  return true;
}

bool RegWriteString(RegRoot root, const std::string& key, const std::string& name,
                    const std::string& value) {
  Key k;
  if (!k.Create(root, key, KEY_SET_VALUE)) return false;
  std::wstring text = Wide(value);
  return RegSetValueExW(k.get(), Wide(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegWriteDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value) {
  Key k;
  if (!k.Create(root, key, KEY_SET_VALUE)) return false;
  DWORD n = value;
  return RegSetValueExW(k.get(), Wide(name).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&n), sizeof n) == ERROR_SUCCESS;
}

bool RegDeleteValue(RegRoot root, const std::string& key, const std::string& name) {
  Key k;
  if (!k.Open(root, key, KEY_SET_VALUE)) return false;
  return RegDeleteValueW(k.get(), Wide(name).c_str()) == ERROR_SUCCESS;
}

bool RegKeyExists(RegRoot root, const std::string& key) {
  Key k;
  return k.Open(root, key, KEY_READ);
}

bool RegCreateKey(RegRoot root, const std::string& key) {
  Key k;
  return k.Create(root, key, KEY_READ);
}

bool RegDeleteKey(RegRoot root, const std::string& key) {
  std::wstring path = KeyPath(key);
  if (path.empty()) return false;  // the root cannot be deleted
  return RegDeleteTreeW(RootKey(root), path.c_str()) == ERROR_SUCCESS && !RegKeyExists(root, key);
}

namespace {

// The names of a key's subkeys or values: the longest name as the key states
// it sizes the buffer, which grows if the key changes under the walk.
enum class NameKind { SubKey, Value };

std::vector<std::string> EnumNames(RegRoot root, const std::string& key, NameKind kind) {
  std::vector<std::string> result;
  Key k;
  const bool subKeys = kind == NameKind::SubKey;
  if (!k.Open(root, key, subKeys ? KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE : KEY_QUERY_VALUE))
    return result;
  DWORD maxKey = 0, maxValue = 0;
  RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, nullptr, &maxKey, nullptr, nullptr,
                   &maxValue, nullptr, nullptr, nullptr);
  std::wstring name((subKeys ? maxKey : maxValue) + 2, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG rc =
        subKeys ? RegEnumKeyExW(k.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr)
                : RegEnumValueW(k.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      name.resize(name.size() * 2 + 256);
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    result.push_back(Utf8(name.c_str(), static_cast<int>(len)));
  }
  return result;
}

}  // namespace

std::vector<std::string> RegEnumSubKeys(RegRoot root, const std::string& key) {
  return EnumNames(root, key, NameKind::SubKey);
}

std::vector<std::string> RegEnumValueNames(RegRoot root, const std::string& key) {
  return EnumNames(root, key, NameKind::Value);
}

std::string RegBackingFile(RegRoot) { return std::string(); }

}  // namespace platform
