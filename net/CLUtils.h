// Small free functions every subsystem calls: text splitting and placeholder
// formatting, URL query routines, path and folder routines, registry access,
// process launching and conversions. Text is UTF-8; where a rule speaks of
// one byte per character, the low 8 bits of each UTF-16 unit are used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/StringList.h"
#include "platform/AsciiText.h"
#include "platform/Registry.h"

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};

// --- text -------------------------------------------------------------------
// Letter case, trimming and hexadecimal digits: platform/AsciiText.h.
// Appends the pieces of S split at Delim to List (List is not emptied).
// Empty pieces and the last piece are kept; an empty S appends nothing.
void SplitString(const std::string& S, char Delim, TStringList* List);
// Replaces "{1}", "{2}", ... by the arguments in order.
std::string FormatPlaceholders(const std::string& Template, const std::vector<std::string>& Args);
// Replaces every occurrence of from by to; ignoreCase compares ASCII letters
// without regard to case.
std::string StringReplaceAll(const std::string& s, const std::string& from, const std::string& to,
                             bool ignoreCase = false);

// --- numbers ------------------------------------------------------------------
// The 32-bit integer written in S: optional sign and decimal digits, or
// hexadecimal after "$" or "0x"; Default when unreadable or out of range.
int32_t StrToIntDefault(const std::string& S, int32_t Default);
// Float with the given decimal separator; false when it does not convert.
bool TryStrToFloat(const std::string& S, char decimalSeparator, double& value);
// General float format, up to 15 significant digits, given separator.
std::string FloatToStr(double value, char decimalSeparator);
uint32_t IPToInteger(const std::string& S);
std::string RectToText(const TRect& R);
void TextToRect(const std::string& S, TRect& R);
std::string CharsToHex(const std::string& P, int N);
std::string IntToHexPadded(uint32_t V, int Digits);
// IntToHexPadded(serial, 8) of the volume holding Drive (a drive letter on
// Windows, a path on posix); empty when the volume cannot be queried.
std::string GetVolumeIdHex(const std::string& Drive);

// --- UTF-16 views of UTF-8 text ---------------------------------------------------
// Bytes that are not valid UTF-8 are taken as the characters U+0080..U+00FF
// of the same value, so that 8-bit text keeps its bytes through TextToLowBytes.
std::u16string Utf8ToUtf16(const std::string& S);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& S);
// One byte per UTF-16 unit of Text: its low 8 bits.
std::string TextToLowBytes(const std::string& Text);

// --- URLs ---------------------------------------------------------------------
std::string AddURLParam(const std::string& URL, const std::string& Param);
void ParseURLQuery(const std::string& S, TStringList* List, bool Decode);
std::string URLEncode(const std::string& S);
// false for a "%" without two following characters or with non-hex digits.
bool URLDecode(const std::string& S, std::string& out);

// --- paths and files ------------------------------------------------------------
// Path rules in the Windows form ("\" separators, drive letters) or the
// posix form ("/" separators, "/" root). The plain functions use the
// running platform's form.
enum class PathStyle { Windows, Posix };
PathStyle NativePathStyle();
std::string JoinPath(const std::string& Base, const std::string& Rel);
std::string JoinPath(const std::string& Base, const std::string& Rel, PathStyle style);
std::string SlashToBackslash(const std::string& P);  // to the native separator
std::string IncludeBackslash(const std::string& P);  // native separator, trailing one added
std::string IncludeBackslash(const std::string& P, PathStyle style);
std::string GetModulePath();
std::string GetAppPath();
std::string GetAppPathNoSlash();
std::string GetTempDir();
std::string GetLongPath(const std::string& P);
std::string PathFromFile(const std::string& File, const std::string& Rel);
std::string ExtractFileDir(const std::string& P);  // folder part without trailing separator
std::string ExtractFileName(const std::string& P);
std::string FileNameNoExt(const std::string& P);
std::string MakeTempFileName(const std::string& Dir, const std::string& Prefix,
                             const std::string& Ext);
void ListFiles(const std::string& Mask, TStringList* List, bool FullPath);
bool SaveTextToFile(const std::string& Text, const std::string& File);
bool GetFileCreationTime(const std::string& File, double& dateTime);
bool HasFileAccess(bool write, const std::string& File);

// --- registry and shell ---------------------------------------------------------
// RegRoot is declared in the global namespace (platform/Registry.h), so
// unqualified calls with a root key resolve to these routines.
std::string RegReadString(RegRoot Root, const std::string& Key, const std::string& Name,
                          const std::string& Default);
bool RegWriteString(RegRoot Root, const std::string& Key, const std::string& Name,
                    const std::string& Value);
bool RegDeleteValue(RegRoot Root, const std::string& Key, const std::string& Name);
extern const char* const kShellFoldersKey;  // Software\MicroSoft\...\Shell Folders
std::string GetShellFolder(const std::string& Name);
void SetAutoRun(bool Enable, const std::string& Name, const std::string& Command);
// Whether the text is an http: or https: address with a host: the only kind
// of address the program hands to a browser or the desktop's opener, and the
// only kind the service may push for pages and the touch. Control characters
// (a line break would end a command line or a settings line) make it no
// address.
bool IsWebAddress(const std::string& URL);
// The address with every byte that may not stand in an address (a space, a
// quote, a byte outside ASCII) percent-encoded; what is already allowed,
// "%" included, stays. The result is the same address to a browser and
// one word on any command line.
std::string EncodeWebAddress(const std::string& URL);
// Opens an http: or https: address in the user's default browser; anything
// else (a file, a program, another scheme) is refused with a line in the
// debug log and opens nothing. The address is handed over encoded, so a
// browser command with an unquoted "%1" still gets it as one argument.
bool OpenURLInBrowser(const std::string& URL);
bool RunProcess(const std::string& Exe, const std::string& Params, bool Hide, int TimeoutMs,
                bool Wait);
bool CheckSingleInstance(const std::string& Name);
std::string GetSystemLanguageName();
