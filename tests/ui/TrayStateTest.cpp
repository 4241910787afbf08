// The program's own icon and the tray's state: the mark while hiding, the
// open grey gate while not; the tooltip names the country and the address in
// use (the proxy's while hiding, the user's own otherwise).
#include <gtest/gtest.h>

#include <QImage>
#include <QSystemTrayIcon>

#include "MainWindowSupport.h"
#include "proxy/uProxyManager.h"
#include "ui/AppIcons.h"
#include "vcl/ActnList.h"

using namespace mainwin;

namespace {

class TrayStateTest : public MainWindowTest {
 protected:
  static qint64 Shown(TfrmMain& w) { return w.spTrayIcon->QtTrayIcon()->icon().cacheKey(); }
};

TEST_F(TrayStateTest, TheMarkAndTheDirectPictureComeInEverySizeAndDiffer) {
  for (bool hiding : {true, false}) {
    const QIcon icon = TrayStateIcon(hiding);
    ASSERT_FALSE(icon.isNull()) << hiding;
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : {16, 22, 24, 32, 48, 64, 128, 256})
      EXPECT_TRUE(sizes.contains(QSize(s, s))) << hiding << " " << s;
  }
  EXPECT_EQ(AppIcon().cacheKey(), TrayStateIcon(true).cacheKey());
  const QImage mark = TrayStateIcon(true).pixmap(32, 32).toImage();
  const QImage open = TrayStateIcon(false).pixmap(32, 32).toImage();
  EXPECT_EQ(mark.size(), QSize(32, 32));
  EXPECT_NE(mark, open);
  // Drawn, not blank: the corner is transparent, the middle is not.
  EXPECT_EQ(qAlpha(mark.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(mark.pixel(16, 16)), 255);
}

TEST_F(TrayStateTest, TheTrayFollowsHidingAndNamesTheCountryAndAddressInUse) {
  Const({"Update.Times=1", "TARGET_COUNTRY=FR", "NORMAL_IPS=192.0.2.3:80|France|FR|2|48"});
  TfrmMain& w = Window();
  // Nothing known yet: the name alone, the direct picture.
  EXPECT_EQ(w.spTrayIcon->Hint(), "Veilgate");
  EXPECT_EQ(Shown(w), TrayStateIcon(false).cacheKey());

  w.tmrInitTimer(w.tmrInit);
  w.FProxyManager->InfoGot(kHomeInfo);
  EXPECT_EQ(w.spTrayIcon->Hint(), "Veilgate\nNot hiding: United States, 203.0.113.5");
  EXPECT_EQ(Shown(w), TrayStateIcon(false).cacheKey());

  Advance(2);
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  EXPECT_EQ(w.spTrayIcon->Hint(), "Veilgate\nHiding: France, 192.0.2.3:80");
  EXPECT_EQ(w.spTrayIcon->QtTrayIcon()->toolTip().toStdString(), w.spTrayIcon->Hint());
  EXPECT_EQ(Shown(w), TrayStateIcon(true).cacheKey());

  Advance(2);
  w.actStopHide->Execute();
  ASSERT_FALSE(w.IsHiding());
  EXPECT_EQ(w.spTrayIcon->Hint(), "Veilgate\nNot hiding: United States, 203.0.113.5");
  EXPECT_EQ(Shown(w), TrayStateIcon(false).cacheKey());
}

}  // namespace
