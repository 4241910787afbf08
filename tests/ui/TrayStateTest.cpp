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

TEST_F(TrayStateTest, PicturesAreTheRenderedOnesInEveryLookAndTheWindowIconStopsAt64) {
  const QIcon icon = AppIcon();
  // A rendered size comes as rendered; one in between comes from the next
  // larger picture, scaled down; one beyond the largest is not blown up.
  const QImage rendered = icon.pixmap(QSize(48, 48), 1.0).toImage();
  EXPECT_EQ(rendered.size(), QSize(48, 48));
  EXPECT_EQ(qAlpha(rendered.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(rendered.pixel(24, 24)), 255);
  EXPECT_EQ(icon.pixmap(QSize(20, 20), 1.0).size(), QSize(20, 20));
  EXPECT_EQ(icon.pixmap(QSize(512, 512), 1.0).size(), QSize(256, 256));
  EXPECT_EQ(icon.actualSize(QSize(512, 512)), QSize(256, 256));
  // At a scale of 2, a 32 point icon is drawn from the 64 pixel picture.
  const QPixmap sharp = icon.pixmap(QSize(32, 32), 2.0);
  EXPECT_EQ(sharp.size(), QSize(64, 64));
  EXPECT_EQ(sharp.toImage().convertToFormat(QImage::Format_ARGB32),
            icon.pixmap(QSize(64, 64), 1.0).toImage().convertToFormat(QImage::Format_ARGB32));
  // The disabled look is the style's, not the normal picture.
  EXPECT_NE(icon.pixmap(QSize(32, 32), 1.0, QIcon::Disabled).toImage(),
            icon.pixmap(QSize(32, 32), 1.0).toImage());

  // The window icon: the same mark in the sizes up to 64 only.
  const QIcon window = AppWindowIcon();
  EXPECT_EQ(window.availableSizes(),
            (QList<QSize>{{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}}));
  EXPECT_EQ(window.pixmap(QSize(32, 32), 1.0).toImage(), icon.pixmap(QSize(32, 32), 1.0).toImage());
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
