#include "framework/qt/windows/CLWebBanner.h"

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLangClasses.h"
#include "framework/qt/CLEngine.h"
#include "net/CLUtils.h"
#include "platform/Files.h"

TCLWebBanner::TCLWebBanner(TCLComponent* AOwner, QWidget* AParent) : TEmbeddedWB(AOwner, AParent) {
  IncludeOption(uioDontUse3DBorders);
}

TCLWebBanner::~TCLWebBanner() {
  // The cache download goes on, but its end is no longer reported here.
  if (!FUrlString.empty())
    if (TCLEngine* engine = GetCLEngine()) engine->DownloadtoCacheCancel(FUrlString);
}

const TCLPropTable& TCLWebBanner::PropTable() const {
  static const TCLPropTable table =
      TCLPropBuilder<TCLWebBanner>(&TEmbeddedWB::PropTable())
          .Text("BannerName", "string", &TCLWebBanner::BannerName, &TCLWebBanner::SetBannerName)
          .Text("URL", "string", &TCLWebBanner::URL, &TCLWebBanner::SetURL)
          .Event("OnUserBeforeNavigate2", "TEWBBeforeNavigate2")
          .Build();
  return table;
}

void TCLWebBanner::Loaded() {
  TEmbeddedWB::Loaded();
  if (CLDesigning()) return;
  if (!FBannerName.empty()) UpdateBanner();
}

std::string TCLWebBanner::CacheFileName(const std::string& strRemoteURL) {
  std::string name = strRemoteURL;
  for (char& c : name)
    if (c == '/' || c == ':' || c == '\\' || c == '?' || c == '&' || c == '=') c = '_';
  return JoinPath(JoinPath(GetCLSettings()->UserDataPath(), "Banners"), name);
}

std::string TCLWebBanner::DirectAddress(const std::string& setting) const {
  std::string address = GetCLSettings()->GetSettingString(setting);
  if (address.empty()) return address;
  static const std::string kExePath = "%exepath%";
  const bool local = StartsWithText(address, kExePath);
  address = StringReplaceAll(address, kExePath, GetAppPathNoSlash(), true);
  // A file in the program's folder, written with either separator.
  if (local) address = SlashToBackslash(address);
  return address;
}

bool TCLWebBanner::HasCachedCopy(const std::string& strRemoteURL) {
  // Only the copy of a web page: it is shown under that page's address.
  return IsWebAddress(strRemoteURL) && platform::FileExists(CacheFileName(strRemoteURL));
}

void TCLWebBanner::UpdateBanner() {
  TCLSettings* settings = GetCLSettings();
  const std::string prefix = "Banner." + FBannerName;
  // The before-navigate chain is this class's BeforeNavigate2.
  std::string target;
  std::string cached;  // the remote page whose cached copy is shown
  // The cached copy of the alternative remote page, once it has been fetched.
  std::string remote = settings->GetSettingString(prefix + ".RemoteURLA");
  if (HasCachedCopy(remote)) target = cached = remote;
  // Else the alternative page's direct address.
  if (target.empty()) target = DirectAddress(prefix + ".URLA");
  // Without an alternative remote page: the cached copy of the main one.
  if (remote.empty()) {
    remote = settings->GetSettingString(prefix + ".RemoteURL");
    if (HasCachedCopy(remote)) target = cached = remote;
  }
  // Else the main page's direct address.
  if (target.empty()) target = DirectAddress(prefix + ".URL");
  // Show the page found. A cached copy is shown as the page of its remote
  // address (its origin and the base of its relative links), never as a
  // local file: a local page could read the user's other files.
  FURL = target;
  std::string page;
  if (!cached.empty() && platform::ReadOwnFile(CacheFileName(cached), page))
    LoadFromString(page, cached);
  else
    Navigate(cached.empty() ? target : cached);
  // Fetch the remote page into the cache for the next time.
  if (!remote.empty() && remote != cached) {
    if (TCLEngine* engine = GetCLEngine()) {
      if (!FUrlString.empty()) engine->DownloadtoCacheCancel(FUrlString);
      engine->DownloadtoCache(remote, CacheFileName(remote), nullptr);
      FUrlString = remote;
    }
  }
}

void TCLWebBanner::BeforeNavigate2(const std::string& URL, bool& Cancel) {
  if (TCLEngine* engine = GetCLEngine()) engine->WebBeforeNavigate2(URL, Cancel);
  if (OnUserBeforeNavigate2) OnUserBeforeNavigate2(this, URL, Cancel);
}
