// win32 backend of the file-system service. Paths cross the boundary as
// UTF-16; "/" is accepted as a separator wherever Windows accepts it.
#include "platform/Files.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cwctype>
#include <random>

#include "platform/AsciiText.h"
#include "platform/MaskMatch.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

using win32::ErrorText;
using win32::Handle;
using win32::Utf8;
using win32::Wide;

std::atomic<unsigned> gTempCounter{0};

bool IsSep(char c) { return c == '\\' || c == '/'; }

// Days between 1601-01-01 (file times) and 1899-12-30 (date-time values).
constexpr double kFileTimeEpochDays = 109205.0;

double FileTimeToDays(const FILETIME& utc, bool toLocal) {
  FILETIME ft = utc;
  if (toLocal) {
    // The offset that applied at that moment, not today's.
    SYSTEMTIME st, local;
    if (FileTimeToSystemTime(&utc, &st) && SystemTimeToTzSpecificLocalTime(nullptr, &st, &local))
      SystemTimeToFileTime(&local, &ft);
  }
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<double>(u.QuadPart) / 864000000000.0 - kFileTimeEpochDays;
}

std::string ParentFolder(const std::string& path) {
  size_t sep = path.find_last_of("\\/");
  if (sep == std::string::npos) return ".";
  if (sep == 2 && path.size() > 1 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, sep);
}

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(Wide(path).c_str());
}

bool WriteAll(HANDLE h, const std::string& bytes, DWORD& err) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr)) {
      err = GetLastError();
      return false;
    }
    if (written == 0) {
      err = ERROR_WRITE_FAULT;
      return false;
    }
    done += written;
  }
  return true;
}

// Wildcard match with "*" and "?", ignoring letter case (the long name only,
// unlike FindFirstFileW, which also matches the short 8.3 names).
bool MaskMatch(const std::wstring& mask, const std::wstring& name) {
  return MaskMatchWith(mask.c_str(), name.c_str(), [](wchar_t c) { return std::towlower(c); });
}

HANDLE OpenForTimes(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

std::string EnvOr(const wchar_t* name) {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return std::string();
  return Utf8(buf, static_cast<int>(n));
}

}  // namespace

char PathSeparator() { return '\\'; }

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && IsSep(path[2])) return true;
  return path.size() >= 2 && IsSep(path[0]) && IsSep(path[1]);  // \\server\share
}

std::string SystemModuleFileName() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return Utf8(buf.c_str(), static_cast<int>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string LongPathName(const std::string& path) {
  if (path.empty()) return path;
  std::wstring in = Wide(path);
  DWORD n = GetLongPathNameW(in.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  DWORD got = GetLongPathNameW(in.c_str(), out.data(), n);
  if (got == 0 || got >= n) return path;
  return Utf8(out.c_str(), static_cast<int>(got));
}

std::string TempPath() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return "C:\\Windows\\Temp\\";
  std::string dir = Utf8(buf, static_cast<int>(n));
  if (!dir.empty() && !IsSep(dir.back())) dir += '\\';
  return dir;
}

bool FileExists(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  std::string trimmed = path;
  while (trimmed.size() > 1 && IsSep(trimmed.back())) trimmed.pop_back();
  if (trimmed.size() == 2 && trimmed[1] == ':') return DirectoryExists(trimmed + "\\");
  std::string parent = ParentFolder(trimmed);
  if (parent != trimmed && parent != "." && !DirectoryExists(parent) && !ForceDirectories(parent))
    return false;
  if (CreateDirectoryW(Wide(trimmed).c_str(), nullptr)) return true;
  return DirectoryExists(trimmed);
}

bool DeleteFileAt(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
  bytes.clear();
  Handle h(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    DWORD err = GetLastError();
    if (error) *error = "Cannot open \"" + path + "\": " + ErrorText(err);
    return false;
  }
  LARGE_INTEGER size;
  if (GetFileSizeEx(h.get(), &size) && size.QuadPart > 0)
    bytes.reserve(static_cast<size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) {
      DWORD err = GetLastError();
      bytes.clear();
      if (error) *error = "Cannot read \"" + path + "\": " + ErrorText(err);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, n);
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  Handle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    DWORD err = GetLastError();
    if (error) *error = "Cannot create \"" + path + "\": " + ErrorText(err);
    return false;
  }
  DWORD err = 0;
  if (!WriteAll(h.get(), bytes, err)) {
    if (error) *error = "Cannot write \"" + path + "\": " + ErrorText(err);
    return false;
  }
  return true;
}

bool AppendToFile(const std::string& path, const std::string& bytes) {
  Handle h(CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return false;
  DWORD err = 0;
  return WriteAll(h.get(), bytes, err);
}

bool CreateNewFile(const std::string& path) {
  Handle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.valid();
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix,
                           const std::string& suffix) {
  std::string dir = folder.empty() ? std::string(".") : folder;
  if (!IsSep(dir.back())) dir += '\\';
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + prefix;
    for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    name += suffix;
    Handle h(CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.valid()) return name;
    const DWORD err = GetLastError();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

// The user's profile keeps other users out: the user's own files need no
// owner check here.
bool ReadOwnFile(const std::string& path, std::string& bytes, std::string* error) {
  return ReadWholeFile(path, bytes, error);
}

bool IsTrustedSharedFolder(const std::string&) { return true; }

namespace {

// A writer killed between creating its temporary file and the rename leaves
// the temporary behind. Such leftovers of earlier writes of the same file are
// removed once they are old enough that no living writer can still own them.
void SweepStaleTemporaries(const std::string& folder, const std::string& prefix) {
  constexpr ULONGLONG kStale100ns = 10ULL * 60 * 10000000;
  FILETIME nowFt;
  GetSystemTimeAsFileTime(&nowFt);
  const ULONGLONG now = (ULONGLONG(nowFt.dwHighDateTime) << 32) | nowFt.dwLowDateTime;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Wide(folder + prefix + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const ULONGLONG written =
        (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    if (now < written || now - written < kStale100ns) continue;
    DeleteFileW(Wide(folder + Utf8(data.cFileName)).c_str());
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// Renames tmp over path. Windows refuses to replace a file that another
// handle holds open, even one opened with FILE_SHARE_DELETE (a reader of the
// same file, a virus scanner, the search indexer), and such holds last
// milliseconds. The rename is tried again for about a second before the
// write counts as failed, so a reader at the wrong moment does not lose it.
// A read-only file or a folder in the way is refused at once: waiting does
// not change them.
bool ReplaceWithRetry(const std::string& tmp, const std::string& path, DWORD& err) {
  constexpr int kAttempts = 100;
  constexpr DWORD kPauseMs = 10;
  const std::wstring from = Wide(tmp), to = Wide(path);
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    err = GetLastError();
    if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION)
      return false;
    const DWORD attrs = GetFileAttributesW(to.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES &&
        (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
      return false;
    if (attempt + 1 >= kAttempts) return false;
    Sleep(kPauseMs);
  }
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
  if (path.empty()) {
    if (error) *error = "Cannot write a file without a name";
    return false;
  }
  std::string folder = ParentFolder(path);
  size_t sep = path.find_last_of("\\/");
  std::string base = sep == std::string::npos ? path : path.substr(sep + 1);
  std::string sepText = (!folder.empty() && IsSep(folder.back())) ? "" : "\\";
  std::string tmp;
  Handle h;
  DWORD err = 0;
  for (int attempt = 0; attempt < 100 && !h.valid(); ++attempt) {
    tmp = folder + sepText + "." + base + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++gTempCounter);
    h.Reset(CreateFileW(Wide(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
    err = GetLastError();
    if (!h.valid() && err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
  }
  if (!h.valid()) {
    if (error) *error = "Cannot write \"" + path + "\": " + ErrorText(err);
    return false;
  }
  bool ok = WriteAll(h.get(), bytes, err);
  if (ok && !FlushFileBuffers(h.get())) {
    ok = false;
    err = GetLastError();
  }
  h.Reset();
  if (ok && !ReplaceWithRetry(tmp, path, err)) ok = false;
  if (!ok) {
    DeleteFileW(Wide(tmp).c_str());
    if (error) *error = "Cannot write \"" + path + "\": " + ErrorText(err);
    return false;
  }
  SweepStaleTemporaries(folder + sepText, "." + base + ".tmp-");
  return true;
}

bool ReplaceFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteFileAtomic(path, bytes, error);
}

bool CopyFileAtomic(const std::string& from, const std::string& to, std::string* error) {
  std::string bytes;
  if (!ReadWholeFile(from, bytes, error)) return false;
  return WriteFileAtomic(to, bytes, error);
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) {
  std::vector<std::string> result;
  std::string dir = folder.empty() ? "." : folder;
  if (!IsSep(dir.back())) dir += '\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Wide(dir + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return result;
  // As Windows does, "*.*" matches every name, with or without a dot.
  const std::wstring effectiveMask = mask == "*.*" ? std::wstring(L"*") : Wide(mask);
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring name = data.cFileName;
    if (MaskMatch(effectiveMask, name)) result.push_back(Utf8(name));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return result;
}

bool FileCreationTime(const std::string& path, double& localDateTime) {
  std::wstring wpath = Wide(path);
  // Opened as a file first; a folder needs the backup-semantics flag.
  Handle h(OpenForTimes(wpath, FILE_ATTRIBUTE_NORMAL));
  if (!h.valid()) h.Reset(OpenForTimes(wpath, FILE_FLAG_BACKUP_SEMANTICS));
  if (!h.valid()) return false;
  FILETIME created;
  if (!GetFileTime(h.get(), &created, nullptr, nullptr)) return false;
  localDateTime = FileTimeToDays(created, true);
  return true;
}

// Whether the current user's own token is granted write access by the
// object's security descriptor: the descriptor is read with
// GetFileSecurityW, the process token impersonated, GENERIC_WRITE mapped
// through the file rights and checked with AccessCheck. Any failure on the
// way means not writable. A file with the read-only attribute is not
// writable whatever its descriptor says.
bool IsTrustedSharedFile(const std::string&) { return false; }

bool CanWrite(const std::string& path) {
  std::wstring wpath = Wide(path);
  DWORD attributes = GetFileAttributesW(wpath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(wpath.c_str(), what, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<BYTE> descriptor(needed + 4096);
  if (!GetFileSecurityW(wpath.c_str(), what, descriptor.data(),
                        static_cast<DWORD>(descriptor.size()), &needed))
    return false;
  if (!ImpersonateSelf(SecurityImpersonation)) return false;
  bool granted = false;
  HANDLE token = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, TRUE,
                      &token)) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    DWORD access = GENERIC_WRITE;
    MapGenericMask(&access, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD grantedAccess = 0;
    BOOL status = FALSE;
    if (AccessCheck(descriptor.data(), token, access, &mapping, &privileges, &privilegesSize,
                    &grantedAccess, &status))
      granted = status != FALSE;
    CloseHandle(token);
  }
  RevertToSelf();
  return granted;
}

double NowLocal() {
  FILETIME utc;
  GetSystemTimeAsFileTime(&utc);
  return FileTimeToDays(utc, true);
}

std::string DefaultShellFolder(const std::string& name) {
  int csidl;
  const wchar_t* env;
  if (SameText(name, "AppData")) {
    csidl = CSIDL_APPDATA;
    env = L"APPDATA";
  } else if (SameText(name, "Common AppData")) {
    csidl = CSIDL_COMMON_APPDATA;
    env = L"ProgramData";
  } else {
    return std::string();
  }
  // The environment names the folder first (as a session or a test sets it).
  std::string fromEnv = EnvOr(env);
  if (!fromEnv.empty()) return fromEnv;
  wchar_t buf[MAX_PATH];
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK)
    return std::string();
  return Utf8(buf);
}

}  // namespace platform
