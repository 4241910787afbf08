// The web banner: an embedded browser that shows a named banner whose
// addresses the service delivers as settings ("Banner." lines of the update
// answer). A banner has remote addresses, whose pages are downloaded into a
// cache in the user data folder and shown from there on later updates, and
// direct addresses that are shown as they are ("%exepath%" stands for the
// program's folder). Every navigation passes the engine's WebBeforeNavigate2
// ("wcme:" links) and then OnUserBeforeNavigate2.
#pragma once

#include <string>

#include "vcl/WebHosts.h"

class TCLWebBanner : public TEmbeddedWB {
 public:
  explicit TCLWebBanner(TCLComponent* AOwner, QWidget* AParent = nullptr);
  ~TCLWebBanner() override;
  std::string ClassName() const override { return "TCLWebBanner"; }
  const TCLPropTable& PropTable() const override;

  // Writing either only stores it.
  std::string BannerName() const { return FBannerName; }
  void SetBannerName(const std::string& v) { FBannerName = v; }
  std::string URL() const { return FURL; }
  void SetURL(const std::string& v) { FURL = v; }

  // Shows the banner: the cached copy of a remote address when there is
  // one (as the page of that address: URL() is the remote address, the copy
  // is loaded as text with the address as its base), else the direct
  // address; starts filling the cache otherwise.
  void UpdateBanner();
  // UpdateBanner when a banner name is set.
  void Loaded() override;

  // The cache file of a remote address: the user data folder's "Banners"
  // folder and the address with "/", ":", "\", "?", "&" and "=" made "_".
  static std::string CacheFileName(const std::string& strRemoteURL);
  // The remote address whose cache download is outstanding.
  const std::string& PendingDownload() const { return FUrlString; }

  TBeforeNavigate2Event OnUserBeforeNavigate2;

 protected:
  void BeforeNavigate2(const std::string& URL, bool& Cancel) override;

 private:
  std::string DirectAddress(const std::string& setting) const;
  // Whether a web address has a cached copy to show.
  static bool HasCachedCopy(const std::string& strRemoteURL);

  std::string FBannerName;
  std::string FURL;
  std::string FUrlString;
};
