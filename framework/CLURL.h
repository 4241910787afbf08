// Addresses of the maker's web pages and service: a page name becomes the
// address held in the setting "URL." + name (or "URL.Redirect"), with a fixed
// block of query parameters that say which product, version, language and
// system the request comes from. Also the "wcme:" links that embedded
// browser views turn into pages opened in the default browser.
//
// The engine's GetURL / GetURLParam / WebBeforeNavigate2 call these. They
// read the settings store (GetCLSettings) and so run on the user-interface
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The address of a page; with bAddParams, an http(s) address gets
// "ACTION=" + strPage + "&" + GetURLParam() appended (see AppendURLQuery).
std::string GetURL(const std::string& strPage, bool bAddParams);

// The parameter block: sszzz&PID=..&LANG=..&DAY=..&RUNTIME=..&VER=..&SVER=..
// &WVER=..&WLANG=..&CHL=..
std::string GetURLParam();
// The same block for a given time of day (seconds 0-59, milliseconds 0-999).
std::string GetURLParamAt(int seconds, int milliseconds);

// Appends a query: an address without "?" gets "?" and the query; one that
// ends in "?" or "&" gets the query directly; any other gets "&" and it.
std::string AppendURLQuery(const std::string& address, const std::string& query);

// "App.Ver" as a number: the text up to the first blank, split at "."; with
// exactly four pieces first*2^24 + (second&255)*2^16 + (third&255)*2^8 +
// (fourth&255), modulo 2^32; otherwise 0. "2.5.0.12" gives 0x0205000C.
uint32_t VersionTextToNumber(const std::string& strVer);

// The distribution channel: the registry value "CHL" under
// HKEY_LOCAL_MACHINE\Software\<App.RegPath>, "unknow" when missing.
std::string GetChannel();
// Its form in the address: double quotes removed, only the part after the
// last "\" or ":", each character's low byte as two upper-case hex digits.
std::string ChannelToHex(const std::string& strChannel);

// A link clicked in an embedded view. Returns true for a "wcme:" link (any
// case): the view must not navigate (Cancel). strPage then receives the
// URL-decoded value of its "PAGE" parameter (empty when there is none).
// Parsing: drop up to and including the first "?", then up to and including
// the first ":", split at "&" into name=value pairs.
bool ParseWcmeLink(const std::string& URL, std::string& strPage);

// WebBeforeNavigate2's decision: for a "wcme:" link, showPage is called with
// a non-empty "PAGE" and Cancel is set; any other URL leaves Cancel alone.
void HandleBeforeNavigate(const std::string& URL, bool& Cancel,
                          const std::function<void(const std::string&)>& showPage);
