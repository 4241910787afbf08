#include "net/CLUtils.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#include "net/CLDebugLog.h"
#include "platform/Files.h"
#include "platform/Locale.h"
#include "platform/Mutex.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace {

// Decodes one code point from UTF-8 at pos; a byte that does not start a
// valid sequence is taken as the code point of the same value.
uint32_t NextCodePoint(const std::string& s, size_t& pos) {
  const unsigned char c = static_cast<unsigned char>(s[pos]);
  int len = 0;
  uint32_t cp = 0, min = 0;
  if (c < 0x80) {
    ++pos;
    return c;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    ++pos;
    return c;
  }
  if (pos + static_cast<size_t>(len) > s.size()) {
    ++pos;
    return c;
  }
  for (int i = 1; i < len; ++i) {
    unsigned char t = static_cast<unsigned char>(s[pos + static_cast<size_t>(i)]);
    if ((t & 0xC0) != 0x80) {
      ++pos;
      return c;
    }
    cp = (cp << 6) | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return c;
  }
  pos += static_cast<size_t>(len);
  return cp;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The first maxUnits UTF-16 units of S, never splitting a character.
std::string TruncateUtf16Units(const std::string& S, size_t maxUnits) {
  std::u16string w = Utf8ToUtf16(S);
  if (w.size() <= maxUnits) return S;
  w.resize(maxUnits);
  if (!w.empty() && w.back() >= 0xD800 && w.back() <= 0xDBFF) w.pop_back();
  return Utf16ToUtf8(w);
}

bool IsSep(char c, PathStyle style) {
  return style == PathStyle::Windows ? (c == '\\' || c == '/') : c == '/';
}

// Index of the last path separator (and, for Windows paths, drive colon),
// or npos.
size_t LastDelimiter(const std::string& P, PathStyle style) {
  for (size_t i = P.size(); i > 0; --i) {
    char c = P[i - 1];
    if (IsSep(c, style) || (style == PathStyle::Windows && c == ':')) return i - 1;
  }
  return std::string::npos;
}

}  // namespace

// --- text -------------------------------------------------------------------

void SplitString(const std::string& S, char Delim, TStringList* List) {
  if (S.empty() || List == nullptr) return;
  List->BeginUpdate();
  size_t start = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == Delim) {
      List->Add(S.substr(start, i - start));
      start = i + 1;
    }
  }
  List->Add(S.substr(start));
  List->EndUpdate();
}

std::string FormatPlaceholders(const std::string& Template, const std::vector<std::string>& Args) {
  std::string result = Template;
  for (size_t i = 0; i < Args.size(); ++i)
    result = StringReplaceAll(result, "{" + std::to_string(i + 1) + "}", Args[i]);
  return result;
}

std::string StringReplaceAll(const std::string& s, const std::string& from, const std::string& to,
                             bool ignoreCase) {
  if (from.empty() || s.size() < from.size()) return s;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  const size_t last = s.size() - from.size();
  while (i <= last) {
    bool hit = ignoreCase ? SameText(std::string_view(s).substr(i, from.size()), from)
                          : s.compare(i, from.size(), from) == 0;
    if (hit) {
      out += to;
      i += from.size();
    } else {
      out += s[i++];
    }
  }
  out.append(s, i, std::string::npos);
  return out;
}

// --- numbers ------------------------------------------------------------------

int32_t StrToIntDefault(const std::string& S, int32_t Default) {
  size_t i = 0;
  const size_t n = S.size();
  // Leading blanks are allowed, as the classic integer reader allows them.
  while (i < n && (S[i] == ' ' || S[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (S[i] == '+' || S[i] == '-')) {
    negative = S[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && S[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return Default;
  uint64_t v = 0;
  if (hex) {
    for (; i < n; ++i) {
      int d = HexDigitValue(S[i]);
      if (d < 0) return Default;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return Default;
    }
    // Hexadecimal covers the full 32 bits: $FFFFFFFF is -1.
    uint32_t u = static_cast<uint32_t>(v);
    if (negative) u = 0u - u;
    return static_cast<int32_t>(u);
  }
  for (; i < n; ++i) {
    if (S[i] < '0' || S[i] > '9') return Default;
    v = v * 10 + static_cast<uint64_t>(S[i] - '0');
    if (v > 0x80000000ull) return Default;
  }
  if (negative) return static_cast<int32_t>(-static_cast<int64_t>(v));
  if (v > 0x7FFFFFFFull) return Default;
  return static_cast<int32_t>(v);
}

bool TryStrToFloat(const std::string& S, char decimalSeparator, double& value) {
  // Grammar: blanks, optional sign, digits with at most one decimal
  // separator (at least one digit), optional exponent, blanks. The text is
  // rewritten with "." and converted without any locale involved.
  std::string t = Trim(S);
  std::string norm;
  norm.reserve(t.size());
  size_t i = 0;
  const size_t n = t.size();
  bool negative = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  int digits = 0;
  bool sepSeen = false;
  for (; i < n; ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      norm += c;
      ++digits;
    } else if (c == decimalSeparator && !sepSeen) {
      norm += '.';
      sepSeen = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) norm += t[i++];
    int expDigits = 0;
    for (; i < n && t[i] >= '0' && t[i] <= '9'; ++i, ++expDigits) norm += t[i];
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  double v = 0;
  auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ptr != norm.data() + norm.size()) return false;
  if (res.ec == std::errc::result_out_of_range) {
    // Too small to represent reads as zero; too large does not convert.
    size_t e = norm.find('e');
    bool tiny = e != std::string::npos ? norm[e + 1] == '-'
                                       : norm.find_first_not_of("0.") == std::string::npos ||
                                             norm.find_first_not_of('0') == norm.find('.');
    if (!tiny) return false;
    v = 0;
  } else if (res.ec != std::errc()) {
    return false;
  }
  value = negative ? -v : v;
  return true;
}

std::string FloatToStr(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // Fifteen significant digits, then the shortest form: fixed notation when
  // the number has at most 15 digits before the point and is not below
  // 0.00001, scientific otherwise ("1.5E-7", "1E20").
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string s = buf;
  size_t e = s.find('e');
  std::string mant = s.substr(0, e);
  int exp10 = std::atoi(s.c_str() + e + 1);
  std::string digits;
  for (char c : mant)
    if (c >= '0' && c <= '9') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = value < 0 ? "-" : "";
  if (exp10 >= 15 || exp10 < -5) {
    out += digits[0];
    if (digits.size() > 1) {
      out += decimalSeparator;
      out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(exp10);
  } else if (exp10 < 0) {
    out += '0';
    out += decimalSeparator;
    out.append(static_cast<size_t>(-exp10 - 1), '0');
    out += digits;
  } else {
    const size_t intLen = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intLen) {
      out += digits;
      out.append(intLen - digits.size(), '0');
    } else {
      out.append(digits, 0, intLen);
      out += decimalSeparator;
      out.append(digits, intLen, std::string::npos);
    }
  }
  return out;
}

uint32_t IPToInteger(const std::string& S) {
  TStringList parts;
  SplitString(S.substr(0, S.find(' ')), '.', &parts);
  if (parts.Count() != 4) return 0;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i)
    result = (result << 8) | (static_cast<uint32_t>(StrToIntDefault(parts[i], 0)) & 0xFF);
  return result;
}

std::string RectToText(const TRect& R) {
  return std::to_string(R.Left) + "," + std::to_string(R.Top) + "," + std::to_string(R.Right) +
         "," + std::to_string(R.Bottom);
}

void TextToRect(const std::string& S, TRect& R) {
  TStringList parts;
  SplitString(S, ',', &parts);
  if (parts.Count() != 4) return;
  R.Left = StrToIntDefault(parts[0], 0);
  R.Top = StrToIntDefault(parts[1], 0);
  R.Right = StrToIntDefault(parts[2], 0);
  R.Bottom = StrToIntDefault(parts[3], 0);
}

std::string CharsToHex(const std::string& P, int N) {
  std::u16string w = Utf8ToUtf16(P);
  std::string out;
  for (size_t i = 0; i < w.size() && static_cast<int>(i) < N; ++i)
    AppendHexByte(out, static_cast<uint8_t>(w[i] & 0xFF));
  return out;
}

std::string IntToHexPadded(uint32_t V, int Digits) {
  return HexText(V, Digits > 0 ? static_cast<size_t>(Digits) * 2 : 1);
}

std::string GetVolumeIdHex(const std::string& Drive) {
  uint32_t serial = 0;
  if (!platform::VolumeSerialNumber(Drive, serial)) return std::string();
  return IntToHexPadded(serial, 8);
}

// --- UTF-16 views ---------------------------------------------------------------

std::u16string Utf8ToUtf16(const std::string& S) {
  std::u16string out;
  out.reserve(S.size());
  size_t pos = 0;
  while (pos < S.size()) {
    uint32_t cp = NextCodePoint(S, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& S) {
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    uint32_t u = S[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < S.size() && S[i + 1] >= 0xDC00 &&
        S[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint32_t>(S[i + 1]) - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string TextToLowBytes(const std::string& Text) {
  std::u16string w = Utf8ToUtf16(Text);
  std::string out;
  out.reserve(w.size());
  for (char16_t u : w) out += static_cast<char>(u & 0xFF);
  return out;
}

// --- URLs ---------------------------------------------------------------------

std::string AddURLParam(const std::string& URL, const std::string& Param) {
  if (URL.empty()) return Param;
  if (URL.find('?') == std::string::npos) return URL + "?" + Param;
  const char last = URL.back();
  if (last == '&' || last == '?') return URL + Param;
  return URL + "&" + Param;
}

void ParseURLQuery(const std::string& S, TStringList* List, bool Decode) {
  if (List == nullptr) return;
  std::string rest = S;
  size_t q = rest.find('?');
  if (q != std::string::npos) rest.erase(0, q + 1);
  size_t c = rest.find(':');
  if (c != std::string::npos) rest.erase(0, c + 1);
  if (!Decode) {
    SplitString(rest, '&', List);
    return;
  }
  TStringList pieces;
  SplitString(rest, '&', &pieces);
  List->BeginUpdate();
  for (const std::string& piece : pieces.Lines()) {
    size_t eq = piece.find('=');
    std::string name = piece.substr(0, eq);
    std::string value;
    if (eq != std::string::npos && !URLDecode(piece.substr(eq + 1), value)) continue;
    List->SetValue(name, value);
  }
  List->EndUpdate();
}

std::string URLEncode(const std::string& S) {
  std::string out;
  out.reserve(S.size() * 3);
  for (char ch : S) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsAsciiAlnum(static_cast<char>(c))) {
      out += ch;
      continue;
    }
    switch (c) {
      case '!':
      case '$':
      case '\'':
      case '(':
      case ')':
      case '*':
      case '-':
      case '.':
      case '@':
      case '_': out += ch; break;
      case ' ': out += '+'; break;
      default: out += '%'; AppendHexByte(out, c);
    }
  }
  return out;
}

bool URLDecode(const std::string& S, std::string& out) {
  std::string r;
  r.reserve(S.size());
  const size_t n = S.size();
  for (size_t i = 0; i < n; ++i) {
    char c = S[i];
    if (c == '+') {
      r += ' ';
    } else if (c == '%') {
      if (i + 1 < n && S[i + 1] == '%') {
        r += '%';
        ++i;
        continue;
      }
      if (i + 2 >= n) return false;
      int hi = HexDigitValue(S[i + 1]), lo = HexDigitValue(S[i + 2]);
      if (hi < 0 || lo < 0) return false;
      r += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      r += c;
    }
  }
  out = std::move(r);
  return true;
}

// --- paths and files ------------------------------------------------------------

PathStyle NativePathStyle() {
  return platform::PathSeparator() == '\\' ? PathStyle::Windows : PathStyle::Posix;
}

std::string JoinPath(const std::string& Base, const std::string& Rel) {
  return JoinPath(Base, Rel, NativePathStyle());
}

std::string JoinPath(const std::string& Base, const std::string& Rel, PathStyle style) {
  const bool win = style == PathStyle::Windows;
  const char sep = win ? '\\' : '/';
  std::string rel = Rel;
  for (char& c : rel)
    if (c == (win ? '/' : '\\')) c = sep;
  if (win) {
    // An absolute Rel (drive or scheme) or a network base: Rel alone.
    if (rel.find(':') != std::string::npos || Base.rfind("\\\\", 0) == 0) return rel;
    if (Base.size() >= 2 && Base.find(':') == 1) {
      if (rel.size() >= 2 && rel[0] == '\\') return Base.substr(0, 2) + rel;
      std::string b = Base;
      if (b.back() != '\\') b += '\\';
      return b + rel;
    }
    return rel;
  }
  // Posix: a Rel with a scheme or drive, or one starting at the root, stands
  // alone; a rooted Base is joined; a relative Base leaves Rel unchanged.
  if (rel.find(':') != std::string::npos || (!rel.empty() && rel[0] == '/')) return rel;
  if (!Base.empty() && Base[0] == '/') {
    std::string b = Base;
    if (b.back() != '/') b += '/';
    return b + rel;
  }
  return rel;
}

std::string SlashToBackslash(const std::string& P) {
  const char sep = platform::PathSeparator();
  const char other = sep == '\\' ? '/' : '\\';
  std::string out = P;
  for (char& c : out)
    if (c == other) c = sep;
  return out;
}

std::string IncludeBackslash(const std::string& P) {
  return IncludeBackslash(P, NativePathStyle());
}

std::string IncludeBackslash(const std::string& P, PathStyle style) {
  if (P.empty()) return P;
  const char sep = style == PathStyle::Windows ? '\\' : '/';
  const char other = style == PathStyle::Windows ? '/' : '\\';
  std::string out = P;
  for (char& c : out)
    if (c == other) c = sep;
  if (out.back() != sep) out += sep;
  return out;
}

std::string GetModulePath() { return platform::ModuleFileName(); }

std::string GetAppPath() {
  std::string exe = platform::LongPathName(platform::ModuleFileName());
  size_t d = LastDelimiter(exe, NativePathStyle());
  if (d == std::string::npos) return std::string();
  std::string folder = exe.substr(0, d + 1);
  if (folder.back() == ':') folder += platform::PathSeparator();
  return folder;
}

std::string GetAppPathNoSlash() {
  std::string p = GetAppPath();
  if (p.size() > 1 && p.back() == platform::PathSeparator()) p.pop_back();
  return p;
}

std::string GetTempDir() { return platform::TempPath(); }

std::string GetLongPath(const std::string& P) { return platform::LongPathName(P); }

std::string ExtractFileDir(const std::string& P) {
  const PathStyle style = NativePathStyle();
  size_t i = LastDelimiter(P, style);
  if (i == std::string::npos) return std::string();
  // The separator is dropped unless it follows another delimiter, so that a
  // root ("/", "C:\") stays that root.
  if (i > 0 && IsSep(P[i], style) && !IsSep(P[i - 1], style) &&
      !(style == PathStyle::Windows && P[i - 1] == ':'))
    return P.substr(0, i);
  return P.substr(0, i + 1);
}

std::string ExtractFileName(const std::string& P) {
  size_t i = LastDelimiter(P, NativePathStyle());
  return i == std::string::npos ? P : P.substr(i + 1);
}

std::string PathFromFile(const std::string& File, const std::string& Rel) {
  return JoinPath(ExtractFileDir(File), Rel);
}

std::string FileNameNoExt(const std::string& P) {
  std::string name = ExtractFileName(P);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string MakeTempFileName(const std::string& Dir, const std::string& Prefix,
                             const std::string& Ext) {
  static std::mutex guard;
  static std::mt19937 generator;
  static bool seeded = false;
  for (;;) {
    uint32_t number;
    {
      std::lock_guard<std::mutex> lock(guard);
      if (!seeded) {
        generator.seed(static_cast<std::mt19937::result_type>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count()));
        seeded = true;
      }
      number = std::uniform_int_distribution<uint32_t>(0, 0xFFFFE)(generator);
    }
    std::string path = JoinPath(Dir, Prefix + HexText(number) + "." + Ext);
    if (!platform::PathExists(path)) return path;
  }
}

void ListFiles(const std::string& Mask, TStringList* List, bool FullPath) {
  if (List == nullptr) return;
  size_t d = LastDelimiter(Mask, NativePathStyle());
  std::string folderWithSep = d == std::string::npos ? std::string() : Mask.substr(0, d + 1);
  std::string mask = d == std::string::npos ? Mask : Mask.substr(d + 1);
  std::string folder = folderWithSep.empty() ? std::string(".") : folderWithSep;
  List->BeginUpdate();
  for (const std::string& name : platform::ListFiles(folder, mask))
    List->Add(FullPath ? folderWithSep + name : name);
  List->EndUpdate();
}

bool SaveTextToFile(const std::string& Text, const std::string& File) {
  return platform::WriteFileAtomic(File, TextToLowBytes(Text));
}

bool GetFileCreationTime(const std::string& File, double& dateTime) {
  return platform::FileCreationTime(File, dateTime);
}

bool HasFileAccess(bool write, const std::string& File) {
  if (write) return platform::CanWrite(File);
  const std::filesystem::path path(std::u8string(File.begin(), File.end()));
  std::error_code ec;
  if (platform::DirectoryExists(File)) {
    std::filesystem::directory_iterator it(path, ec);
    return !ec;
  }
  std::ifstream f(path, std::ios::binary);
  return f.is_open();
}

// --- registry and shell ---------------------------------------------------------

const char* const kShellFoldersKey =
    "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string RegReadString(RegRoot Root, const std::string& Key, const std::string& Name,
                          const std::string& Default) {
  std::string value;
  return platform::RegReadString(Root, Key, Name, value) ? value : Default;
}

bool RegWriteString(RegRoot Root, const std::string& Key, const std::string& Name,
                    const std::string& Value) {
  return platform::RegWriteString(Root, Key, Name, Value);
}

bool RegDeleteValue(RegRoot Root, const std::string& Key, const std::string& Name) {
  return platform::RegDeleteValue(Root, Key, Name);
}

std::string GetShellFolder(const std::string& Name) {
  std::string folder = ::RegReadString(RegRoot::CurrentUser, kShellFoldersKey, Name, "");
  if (folder.empty()) folder = ::RegReadString(RegRoot::LocalMachine, kShellFoldersKey, Name, "");
  if (folder.empty()) folder = platform::DefaultShellFolder(Name);
  return folder;
}

void SetAutoRun(bool Enable, const std::string& Name, const std::string& Command) {
  platform::SetAutoRunEntry(Enable, Name, Command);
}

bool IsWebAddress(const std::string& URL) {
  size_t rest;
  if (StartsWithText(URL, "http://"))
    rest = 7;
  else if (StartsWithText(URL, "https://"))
    rest = 8;
  else
    return false;
  for (unsigned char c : URL)
    if (c < 0x20 || c == 0x7F) return false;
  // A host must follow: not the path, query or fragment at once, and no
  // second scheme or backslash path in its place.
  if (rest >= URL.size()) return false;
  const char first = URL[rest];
  return first != '/' && first != '?' && first != '#' && first != '\\' && first != '@' &&
         first != ':' && first != ' ';
}

std::string EncodeWebAddress(const std::string& URL) {
  // The characters an address may hold: unreserved, the delimiters and "%"
  // of the escapes already there.
  static const std::string kAllowed =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~:/?#[]@!$&'()*+,;=%";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(URL.size());
  for (unsigned char c : URL) {
    if (c != 0 && kAllowed.find(static_cast<char>(c)) != std::string::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool OpenURLInBrowser(const std::string& URL) {
  // A file or program path, "file:", "javascript:" or a scheme some program
  // registered would be started by the opener: only web addresses leave.
  if (!IsWebAddress(URL)) {
    CLDebugLog::Write("CLUtils", "Refused to open a non-web address: " + URL);
    return false;
  }
  // A space or a double quote in the address would end the argument (quoted
  // or not) and let the rest of the address become further arguments of the
  // browser; encoded, it is the same address to every browser.
  const std::string url = EncodeWebAddress(URL);
  std::string command = ::RegReadString(RegRoot::ClassesRoot, "HTTP\\shell\\open\\command", "", "");
  if (command.empty()) return platform::ShellOpen(url);
  if (command.find("%1") != std::string::npos)
    command = StringReplaceAll(command, "%1", url, true);
  else
    command += "  \"" + url + "\"";
  return platform::StartProcess(command, "", false, false, 0);
}

bool RunProcess(const std::string& Exe, const std::string& Params, bool Hide, int TimeoutMs,
                bool Wait) {
  std::string commandLine = Params;
  std::string workDir;
  if (!Exe.empty()) {
    std::string path = JoinPath(GetAppPath(), Exe);
    workDir = ExtractFileDir(path);
    commandLine = "\"" + path + "\" " + Params;
  }
  return platform::StartProcess(commandLine, workDir, Hide, Wait, TimeoutMs);
}

bool CheckSingleInstance(const std::string& Name) {
  // Only "another process holds it" stops this one; when the mutex cannot
  // be made at all the program carries on as the only instance.
  return platform::CreateNamedMutex(Name) != platform::MutexResult::AlreadyExists;
}

std::string GetSystemLanguageName() {
  // The name is read into a buffer of 50 UTF-16 units, so at most 49 remain.
  return TruncateUtf16Units(platform::LanguageName(platform::SystemDefaultLangId()), 49);
}
