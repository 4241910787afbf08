// File-system service: paths of the running program, file times, access
// checks and whole-file reads and writes. Paths are UTF-8 text in the
// platform's native form ("\" on Windows, "/" on posix).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The path separator of this platform's native paths.
char PathSeparator();
// True when the path is absolute in this platform's terms.
bool IsAbsolutePath(const std::string& path);

// Full file name of the running executable (GetModuleFileNameW, /proc/self/exe).
std::string ModuleFileName();
// Tests point the "running executable" somewhere else so that the files
// expected next to it can be laid out in a sandbox. Empty restores the real one.
void SetModuleFileNameOverride(const std::string& path);
// The executable's name as the system reports it, without the override
// (each backend's).
std::string SystemModuleFileName();

// Long-name form of a path (GetLongPathNameW; on posix the path with
// symbolic links resolved). Returns the input when expansion fails.
std::string LongPathName(const std::string& path);
// The user's temporary folder with a trailing separator.
std::string TempPath();

bool FileExists(const std::string& path);  // a file, not a folder
bool DirectoryExists(const std::string& path);
// A file or folder, or a name taken by anything else (on posix also a link
// that leads nowhere: the name is not free).
bool PathExists(const std::string& path);
// Creates the folder with all missing parents; true when it exists afterwards.
// On posix a folder that already exists, is this user's and is open to others
// (made by an earlier version under a loose umask) is closed to 0700.
bool ForceDirectories(const std::string& path);
bool DeleteFileAt(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
int64_t FileSize(const std::string& path);  // -1 when missing

// Reads the whole file as bytes. On failure returns false and a message.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error = nullptr);
// Files and folders the program creates are private to the user: on posix
// new files get mode 0600 and new folders 0700 (Windows: the user's profile
// folders are private already). A file that is replaced keeps its mode.
//
// Creates or overwrites the file with the bytes (no atomicity). On posix a
// link in the file's place is not followed (the write fails).
bool WriteWholeFile(const std::string& path, const std::string& bytes,
                    std::string* error = nullptr);
// Appends the bytes to the end of the file, creating it (private: 0600 on
// posix) when missing; on posix a link in the file's place is not followed.
bool AppendToFile(const std::string& path, const std::string& bytes);
// Writes the bytes to a temporary file in the same folder, flushes it and
// renames it over the target, so that a crash leaves either the old or the
// new file. On failure the old file is intact and the message says why.
// Where the system refuses to replace a file that is open elsewhere
// (Windows), the rename is retried for about a second. On posix a link in
// the target's place is replaced, never followed, and the new file keeps
// at most the old file's owner permissions (never more than 0600).
bool WriteFileAtomic(const std::string& path, const std::string& bytes,
                     std::string* error = nullptr);
// WriteFileAtomic without waiting for the rename itself to reach the disk
// (posix; the same as WriteFileAtomic on Windows). The new bytes are flushed
// before the rename, so the file is always whole, old or new; only after a
// power failure may it still be the old one. For files whose old bytes the
// program has already saved durably elsewhere (a browser's settings changed
// while hiding): the old file is then what the saved copy expects anyway.
bool ReplaceFileAtomic(const std::string& path, const std::string& bytes,
                       std::string* error = nullptr);
// Copies a file over the target the way WriteFileAtomic writes it (a new
// file renamed into place: a link at the target is replaced, not followed),
// reading the source piece by piece. False with a message on failure.
bool CopyFileAtomic(const std::string& from, const std::string& to, std::string* error = nullptr);
// Reads the whole file like ReadWholeFile, but only a regular file of this
// user's own, opened without following a link (posix; on Windows the user's
// profile already keeps other users out, and it is ReadWholeFile).
bool ReadOwnFile(const std::string& path, std::string& bytes, std::string* error = nullptr);
// Whether a folder shared by all users may be trusted with this user's
// settings: on posix a real folder (not a link) that root (or this user)
// owns and that nobody but its owner can write. Always true on Windows, where the
// all-users data folder's permissions are the system's.
bool IsTrustedSharedFolder(const std::string& path);

// Creates an empty file under a name nobody uses yet, without following a
// link in its place: false when the name is taken or the file cannot be made.
// For temporary files in a folder other users may write to.
bool CreateNewFile(const std::string& path);
// Creates a new, private, empty file in the folder under an unguessable name
// (prefix, random letters and the suffix; mkstemp on posix, so nobody can
// fill the names in advance) and returns its full name; empty on failure.
std::string CreateTempFile(const std::string& folder, const std::string& prefix,
                           const std::string& suffix);

// Names of the files (not folders) in a folder whose names match a mask of
// "*" and "?" (case-insensitive, as on Windows).
std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask);

// Creation time of a file or folder as a local date-time value (days since
// 30 December 1899). On posix the birth time, else the change time.
bool FileCreationTime(const std::string& path, double& localDateTime);
// Whether the current user may write to the file or folder.
bool CanWrite(const std::string& path);
// Whether a settings file that every user of the machine reads may be
// trusted: a regular file owned by the administrator (or by the current
// user), which nobody else may change. Always false on Windows, which has
// no such file.
bool IsTrustedSharedFile(const std::string& path);

// Now, as a local date-time value (days since 30 December 1899).
double NowLocal();

}  // namespace platform

namespace platform {
// Where a shell folder lives when the registry's "Shell Folders" key does
// not name it: "AppData" (the user's roaming data; XDG config home on posix)
// and "Common AppData" (data shared by all users). Empty for other names.
std::string DefaultShellFolder(const std::string& name);
}  // namespace platform
