// Shared definitions of the downloader.
#pragma once

#include <string>

// How the bytes of a text answer become text, in this order:
//   KAnsi     bytes in the system's ANSI code page,
//   KUnicode  UTF-16LE (the byte count halved, rounded down, is the number
//             of characters),
//   KUTF8     UTF-8.
enum class THttpCharset { KAnsi, KUnicode, KUTF8 };

// The bytes of a body as UTF-8 text under the given character set. Never
// fails: bytes that do not decode become U+FFFD (UTF-8, unpaired UTF-16
// surrogates) or "?" (characters the ANSI code page cannot map back).
std::string DecodeHttpText(const std::string& bytes, THttpCharset charset);
