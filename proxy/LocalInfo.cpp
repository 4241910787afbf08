#include "proxy/LocalInfo.h"

TLocalInfo TLocalInfo::Read(const TStringList& aInfo) {
  TLocalInfo info;
  info.IP = aInfo.Values("IP");
  info.CountryShort = aInfo.Values("COUNTRY_SHORT");
  info.CountryLong = aInfo.Values("COUNTRY_LONG");
  info.City = aInfo.Values("CITY");
  if (aInfo.Count() > 5) info.Latitude = aInfo[5];
  if (aInfo.Count() > 6) info.Longitude = aInfo[6];
  return info;
}

TLocalInfo TLocalInfo::FromText(const std::string& aText) {
  TStringList lines;
  lines.SetText(aText);
  return Read(lines);
}
