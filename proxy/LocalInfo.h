// Reading the local-information answer: the user's real connection as the
// web service sees it. Named lines "IP", "COUNTRY_SHORT", "COUNTRY_LONG" and
// "CITY" (in any order among the first lines; names compare without regard
// to case, the first line of a name wins), then the bare latitude as the 6th
// line and the bare longitude as the 7th line, each used whole.
#pragma once

#include <string>

#include "net/StringList.h"

struct TLocalInfo {
  std::string IP;
  std::string CountryShort;
  std::string CountryLong;
  std::string City;
  std::string Latitude;   // the whole 6th line
  std::string Longitude;  // the whole 7th line

  // Values of an answer held one line per entry (the manager's FLocalInfo).
  // Absent lines give empty values.
  static TLocalInfo Read(const TStringList& aInfo);
  // The same from the answer text (lines end with CR LF, LF or CR).
  static TLocalInfo FromText(const std::string& aText);
};
