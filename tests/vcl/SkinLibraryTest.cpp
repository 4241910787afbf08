// The skin library and the controls: skin files, the skinned frame and its
// caption commands, tray icon and restoring from the tray, the PNG-shaped
// splash window, and the control behaviour windows rely on.
#include <gtest/gtest.h>

#include <QPainter>

#include "QtTestApp.h"
#include "EngineHostWindow.h"
#include "vcl/Controls.h"
#include "ui/uSettings.h"

#include <QGuiApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWindow>

#include <filesystem>

#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLMain.h"
#include "framework/qt/CLSplashForm.h"
#include "support/Sandbox.h"
#include "vcl/PictureTexts.h"
#include "vcl/spPngForm.h"

namespace {

class SkinLibraryTest : public UiSandboxTest {
 protected:
  void WritePng(const std::string& rel, int w, int h, QColor color) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(color);
    ASSERT_TRUE(img.save(QString::fromStdString(sb().Path(rel)), "PNG"));
  }
};

// A window with a skinned frame over the given skin data.
struct SkinnedWindow {
  TForm form;
  TspSkinData* skin;
  TspDynamicSkinForm* frame;
  std::vector<TStdCommand> reported;
  bool cancel = false;
  explicit SkinnedWindow(bool skinnable) {
    form.SetName("frmSkinned");
    form.SetClientSize(300, 200);
    skin = new TspSkinData(&form);
    skin->SetSkinnableForm(skinnable);
    frame = new TspDynamicSkinForm(&form);
    frame->SetBorderIcons(biSystemMenu | biMinimize | biMaximize | biRollUp | biMinimizeToTray);
    frame->SetSkinData(skin);
    frame->OnObjectCommand = [this](TspDynamicSkinForm*, TStdCommand cmd, bool& bCancel) {
      reported.push_back(cmd);
      bCancel = cancel;
    };
    form.AfterConstruction();
    auto* stored = new TspCompressedStoredSkin(&form);
    stored->SetStyleSheet("#spCaptionBar { background: navy; }");
    skin->SetCompressedStoredSkin(stored);
  }
};

}  // namespace

TEST(SkinFileTest, CompressedStyleSheetsRoundTripAndBadDataIsRefused) {
  const std::string sheet = "QPushButton { color: #123456; }\n/* \xC3\xBC */";
  const std::string packed = SkinCompress(sheet);
  ASSERT_FALSE(packed.empty());
  EXPECT_NE(packed, sheet);
  std::string out = "unchanged";
  EXPECT_TRUE(SkinDecompress(packed, out));
  EXPECT_EQ(out, sheet);

  out = "unchanged";
  EXPECT_FALSE(SkinDecompress("plain text, not a skin", out));
  EXPECT_FALSE(SkinDecompress(packed.substr(0, packed.size() / 2), out));  // truncated
  EXPECT_FALSE(SkinDecompress("", out));
  EXPECT_EQ(out, "unchanged");
  // Unpacking stops at the size limit instead of filling memory.
  const std::string big(1 << 20, 'a');
  EXPECT_FALSE(SkinDecompress(SkinCompress(big), out, 1000));
  EXPECT_TRUE(SkinDecompress(SkinCompress(big), out));
  EXPECT_EQ(out.size(), big.size());
  // The program's own default skin is there.
  EXPECT_NE(TspCompressedStoredSkin::DefaultStyleSheet().find("spCaptionBar"), std::string::npos);
}

TEST_F(SkinLibraryTest, SkinDataStylesItsWindowsAndCarriesTheGlowSwitches) {
  sb().WriteFile("Blue.skn", SkinCompress("QLabel { color: blue; }"));
  sb().WriteFile("bad.skn", "garbage");
  SkinnedWindow w(true);
  EXPECT_TRUE(w.form.styleSheet().contains("navy"));
  EXPECT_TRUE(w.skin->LoadFromCompressedFile(sb().Path("Blue.skn")));
  EXPECT_EQ(w.form.styleSheet(), "QLabel { color: blue; }");
  EXPECT_FALSE(w.skin->LoadFromCompressedFile(sb().Path("bad.skn")));
  EXPECT_FALSE(w.skin->LoadFromCompressedFile(sb().Path("missing.skn")));
  EXPECT_EQ(w.skin->StyleSheet(), "QLabel { color: blue; }");  // unchanged
  EXPECT_TRUE(w.form.property("spButtonGlow").toBool());
  w.skin->SetShowButtonGlowFrames(false);
  w.skin->SetShowCaptionButtonGlowFrames(false);
  EXPECT_FALSE(w.form.property("spButtonGlow").toBool());
  EXPECT_FALSE(w.form.property("spCaptionGlow").toBool());
  // An emptied skin leaves the plain look and the system frame.
  w.skin->ClearSkin();
  EXPECT_TRUE(w.form.styleSheet().isEmpty());
  EXPECT_FALSE(w.frame->FrameSkinned());
  // The stored skin can be loaded from a file as well.
  TspCompressedStoredSkin stored(nullptr);
  EXPECT_TRUE(stored.LoadFromCompressedFile(sb().Path("Blue.skn")));
  EXPECT_EQ(stored.CompressedFileName(), "Blue.skn");
  EXPECT_FALSE(stored.LoadFromCompressedFile(sb().Path("bad.skn")));
  EXPECT_EQ(stored.StyleSheet(), "QLabel { color: blue; }");
}

TEST_F(SkinLibraryTest, SkinnedFrameReportsCaptionCommandsBeforeCarryingThemOut) {
  SkinnedWindow w(true);
  w.form.show();
  ASSERT_TRUE(w.frame->FrameSkinned());
  EXPECT_TRUE(w.form.windowFlags() & Qt::FramelessWindowHint);
  TspCaptionBar* bar = w.frame->CaptionBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(w.form.height(), 200 + bar->height() + 6);  // client area + caption bar + frame

  // Cancelled: nothing happens.
  w.cancel = true;
  bar->Button(cmClose)->click();
  bar->Button(cmMaximize)->click();
  bar->Button(cmRollUp)->click();
  EXPECT_TRUE(w.form.isVisible());
  EXPECT_FALSE(w.form.isMaximized());
  EXPECT_FALSE(w.frame->RolledUp());
  EXPECT_EQ(w.reported, (std::vector<TStdCommand>{cmClose, cmMaximize, cmRollUp}));

  // Allowed: carried out after the report.
  w.cancel = false;
  EXPECT_TRUE(w.frame->ExecuteCommand(cmRollUp));
  EXPECT_TRUE(w.frame->RolledUp());
  EXPECT_TRUE(w.frame->ExecuteCommand(cmRollUp));
  EXPECT_FALSE(w.frame->RolledUp());
  // Minimise to tray on a desktop without a tray: the task bar instead.
  if (!TspTrayIcon::Available()) {
    w.frame->SetTrayIcon(new TspTrayIcon(&w.form));
    EXPECT_TRUE(w.frame->ExecuteCommand(cmMinimizeToTray));
    EXPECT_TRUE(w.form.isMinimized());
    EXPECT_FALSE(w.frame->InTray());
    w.frame->RestoreFromTray();
    EXPECT_FALSE(w.form.isMinimized());
    EXPECT_TRUE(w.form.isVisible());
  }
  w.reported.clear();
  bar->Button(cmClose)->click();
  EXPECT_EQ(w.reported, std::vector<TStdCommand>{cmClose});
  EXPECT_FALSE(w.form.isVisible());
}

TEST_F(SkinLibraryTest, SystemFrameCloseGoesThroughTheSameReport) {
  SkinnedWindow w(false);  // an ".nsf.skn" skin: the system draws the frame
  w.form.show();
  EXPECT_FALSE(w.frame->FrameSkinned());
  EXPECT_FALSE(w.form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(w.frame->CaptionBar() ? w.form.CaptionBar() : nullptr, nullptr);
  w.cancel = true;
  w.form.QWidget::close();  // as the window manager's close button does
  EXPECT_TRUE(w.form.isVisible());
  EXPECT_EQ(w.reported, std::vector<TStdCommand>{cmClose});
  // A close asked for by code is not a caption command.
  w.form.Close();
  EXPECT_FALSE(w.form.isVisible());
  EXPECT_EQ(w.reported.size(), 1u);
}

TEST_F(SkinLibraryTest, TrayIconHintClickAndMenu) {
  TForm form;
  auto* menu = new TPopupMenu(&form);
  auto* open = new TMenuItem(&form);
  open->SetCaption("&Open...");
  menu->Items()->Add(open);
  auto* tray = new TspTrayIcon(&form);
  tray->SetHint("Veilgate");
  tray->SetPopupMenu(menu);
  int clicks = 0;
  tray->OnClick = [&](TspTrayIcon*) { ++clicks; };
  form.AfterConstruction();
  tray->SetIconVisible(true);
  ASSERT_NE(tray->QtTrayIcon(), nullptr);
  EXPECT_EQ(tray->QtTrayIcon()->toolTip(), "Veilgate");
  EXPECT_EQ(tray->QtTrayIcon()->contextMenu(), menu->QtMenu());
  emit tray->QtTrayIcon()->activated(QSystemTrayIcon::Trigger);
  tray->Click();
  EXPECT_EQ(clicks, 2);
  tray->SetHint("Veilgate  1.0");
  EXPECT_EQ(tray->QtTrayIcon()->toolTip(), "Veilgate  1.0");
  // The menu going first leaves the icon without it.
  delete menu;
  EXPECT_EQ(tray->PopupMenu(), nullptr);
}

TEST_F(SkinLibraryTest, SplashPrefersThePartnerPictureAndCentresIt) {
  std::filesystem::create_directories(sb().Path("app/res/images"));
  WritePng("app/res/images/splash.png", 200, 100, Qt::red);
  WritePng("app/oem.splash.png", 120, 61, Qt::green);
  EXPECT_EQ(TfrmCLSplashForm::PictureFileToShow(), sb().Path("app/oem.splash.png"));
  std::unique_ptr<TfrmCLSplashForm> splash(CreateForm<TfrmCLSplashForm>());
  EXPECT_EQ(splash->PictureFile(), sb().Path("app/oem.splash.png"));
  EXPECT_EQ(splash->PngForm()->Picture().size(), QSize(120, 61));
  EXPECT_EQ(splash->size(), QSize(120, 61));
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  EXPECT_EQ(splash->pos(), QPoint((screen.width() - 120) / 2, (screen.height() - 61) / 2));
  splash->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(splash->isVisible());  // a picture was found: it stays

  // Without the partner picture the program's own is used.
  std::filesystem::remove(sb().Path("app/oem.splash.png"));
  std::unique_ptr<TfrmCLSplashForm> second(CreateForm<TfrmCLSplashForm>());
  EXPECT_EQ(second->PictureFile(), sb().Path("app/res/images/splash.png"));
  EXPECT_EQ(second->size(), QSize(200, 100));
}

// The splash's rounded shape comes from the picture's transparent corners:
// the window is drawn translucent (a compositor that ignores the mask shows
// the desktop there, not black), and the mask keeps the mouse out.
TEST_F(SkinLibraryTest, SplashCornersAreTransparentNotBlack) {
  ASSERT_TRUE(WriteRoundedSplash(sb(), QSize(100, 60), Qt::red, 20));
  std::unique_ptr<TfrmCLSplashForm> splash(CreateForm<TfrmCLSplashForm>());
  ASSERT_EQ(splash->size(), QSize(100, 60));
  EXPECT_TRUE(splash->testAttribute(Qt::WA_TranslucentBackground));
  splash->show();
  ASSERT_TRUE(Until([&] { return splash->isVisible(); }));
  const QImage shot = splash->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(shot.size(), QSize(100, 60));
  EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(shot.pixel(99, 59)), 0);
  EXPECT_EQ(shot.pixel(50, 30), QColor(Qt::red).rgba());
  // The corners take no clicks.
  EXPECT_FALSE(splash->mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(splash->mask().contains(QPoint(50, 30)));
}

// A picture's text is drawn at the wanted size when it fits, smaller when
// it does not, and never below the smallest readable size.
TEST(PictureTextsTest, TextsShrinkToFitButNotBelowTheMinimum) {
  TestApp();
  const QFont font("DejaVu Sans");
  const QSizeF room(200, 40);
  EXPECT_EQ(FittingPixelSize("Veilgate", font, 24, 9, room, 1), 24);
  const QString longer = "A line rather longer than its room";
  const int px = FittingPixelSize(longer, font, 24, 9, room, 1);
  EXPECT_LT(px, 24);
  EXPECT_GE(px, 9);
  QFont at = font;
  at.setPixelSize(px);
  EXPECT_LE(QFontMetricsF(at).horizontalAdvance(longer), room.width());
  EXPECT_EQ(FittingPixelSize(QString(300, 'W'), font, 24, 9, room, 1), 9);
  // Two lines allowed: the same text keeps a larger size.
  EXPECT_GT(FittingPixelSize(longer, font, 24, 9, QSizeF(200, 80), 2), px);
  // An empty picture stays empty.
  EXPECT_TRUE(WithPictureTexts(QPixmap(), SplashTextArea(), "a", "b").isNull());
}

// The shipped splash picture has no words: the product name and its line
// are drawn into it in the language the settings choose; a partner's
// picture is shown as it is.
TEST_F(SkinLibraryTest, SplashDrawsItsTextsInTheChosenLanguage) {
  std::filesystem::create_directories(sb().Path("app/lang"));
  for (const char* lan : {"English.lan", "Deutsch.lan"})
    std::filesystem::copy_file(std::string(VG_SOURCE_DIR) + "/lang/" + lan,
                               sb().Path(std::string("app/lang/") + lan));
  std::filesystem::create_directories(sb().Path("app/res/images"));
  WritePng("app/res/images/splash.png", 420, 240, QColor(20, 40, 80));
  const QRect title = SplashTextArea().Title.toRect(), line = SplashTextArea().Line.toRect();
  // The folder named by the settings, or "lang" when they name none.
  struct Case {
    const char* language;
    const char* line;
    const char* folderLine;
  };
  QImage english;
  for (const Case& c : {Case{"English", "Browse without your own IP", "Path.Languages=lang\r\n"},
                        Case{"Deutsch", "Surfen ohne die eigene IP", ""}}) {
    SCOPED_TRACE(c.language);
    sb().WriteFile("app/const.dat", std::string("[setting]\r\nApp.Name=Veilgate\r\nLanguage=") +
                                        c.language + "\r\n" + c.folderLine);
    ReleaseCLSettings();
    const TfrmCLSplashForm::SplashTexts texts = TfrmCLSplashForm::TextsToShow();
    EXPECT_EQ(texts.Title, "Veilgate");
    EXPECT_EQ(texts.Line, c.line);
    std::unique_ptr<TfrmCLSplashForm> splash(CreateForm<TfrmCLSplashForm>());
    const QImage shown =
        splash->PngForm()->Picture().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.deviceIndependentSize().toSize(), QSize(420, 240));
    // Something is drawn in both text areas, nothing outside them.
    auto drawnIn = [&](const QRect& r) {
      const double dpr = shown.devicePixelRatio();
      const QRect px(r.topLeft() * dpr, r.size() * dpr);
      for (int y = px.top(); y <= px.bottom(); ++y)
        for (int x = px.left(); x <= px.right(); ++x)
          if (shown.pixel(x, y) != QColor(20, 40, 80).rgb()) return true;
      return false;
    };
    EXPECT_TRUE(drawnIn(title));
    EXPECT_TRUE(drawnIn(line));
    EXPECT_FALSE(drawnIn(QRect(0, 0, 170, 240)));
    if (english.isNull())
      english = shown;
    else
      EXPECT_NE(shown, english) << "the line must follow the language";
  }
  // A partner's picture keeps its own pixels.
  WritePng("app/oem.splash.png", 120, 61, Qt::green);
  std::unique_ptr<TfrmCLSplashForm> oem(CreateForm<TfrmCLSplashForm>());
  const QImage partner = oem->PngForm()->Picture().toImage();
  for (int y = 0; y < partner.height(); ++y)
    for (int x = 0; x < partner.width(); ++x)
      ASSERT_EQ(partner.pixelColor(x, y), QColor(Qt::green)) << x << "," << y;
}

TEST_F(SkinLibraryTest, SplashClosesItselfWithoutAPictureOrWhenDeactivated) {
  sb().WriteFile("app/oem.splash.png", "not a picture");
  std::unique_ptr<TfrmCLSplashForm> broken(CreateForm<TfrmCLSplashForm>());
  broken->show();
  EXPECT_TRUE(broken->PictureFile().empty());
  EXPECT_TRUE(ProcessUntil([&] { return !broken->isVisible(); }, 2000));

  std::filesystem::remove(sb().Path("app/oem.splash.png"));
  std::unique_ptr<TfrmCLSplashForm> none(CreateForm<TfrmCLSplashForm>());
  none->show();
  EXPECT_TRUE(ProcessUntil([&] { return !none->isVisible(); }, 2000));
  // The start-up routine gets no splash at all then, broken picture or none.
  EXPECT_EQ(TfrmCLSplashForm::CreateSplash(), nullptr);
  sb().WriteFile("app/oem.splash.png", "not a picture");
  EXPECT_EQ(TfrmCLSplashForm::CreateSplash(), nullptr);
  std::filesystem::remove(sb().Path("app/oem.splash.png"));

  // Losing activation closes it.
  WritePng("app/oem.splash.png", 50, 50, Qt::blue);
  std::unique_ptr<TfrmCLSplashForm> splash(CreateForm<TfrmCLSplashForm>());
  splash->show();
  splash->activateWindow();
  ProcessUntil([&] { return splash->isActiveWindow(); }, 1000);
  if (splash->isActiveWindow()) {
    TForm main;
    main.show();
    main.activateWindow();
    EXPECT_TRUE(ProcessUntil([&] { return !splash->isVisible(); }, 2000));
  } else {
    // No activation on this display: the deactivation handler itself.
    splash->OnDeactivate(splash.get());
    EXPECT_TRUE(ProcessUntil([&] { return !splash->isVisible(); }, 2000));
  }
}

TEST_F(SkinLibraryTest, EngineClosesAndFreesTheSplash) {
  WritePng("app/oem.splash.png", 40, 40, Qt::blue);
  QPointer<QWidget> splash = TfrmCLSplashForm::CreateSplash();
  CLSplashForm() = splash;
  splash->show();
  // A hidden start: post-initialisation closes the splash, which would
  // otherwise wait for an activation that never comes.
  std::unique_ptr<TfrmEngineHost> w(CreateForm<TfrmEngineHost>());
  EXPECT_TRUE(ProcessUntil([&] { return !w->CLEngine->InInited(); }));
  EXPECT_TRUE(splash.isNull());
  EXPECT_EQ(CLSplashForm(), nullptr);
  w->CLEngine->SplashClose();  // nothing left to close
}

TEST_F(SkinLibraryTest, PngFormTakesThePicturesShape) {
  WritePng("shape.png", 64, 32, QColor(0, 0, 0, 0));
  TForm form;
  auto* png = new TspPngForm(&form);
  form.AfterConstruction();
  EXPECT_TRUE(png->LoadFromFile(sb().Path("shape.png")));
  EXPECT_EQ(form.ClientWidth(), 64);
  EXPECT_EQ(form.ClientHeight(), 32);
  EXPECT_FALSE(png->LoadFromFile(sb().Path("missing.png")));
  EXPECT_EQ(png->Picture().size(), QSize(64, 32));
}

TEST_F(SkinLibraryTest, ControlsBehaveAsTheWindowsExpect) {
  TfrmSettings w;
  w.AfterConstruction();
  // A check box's state set by code runs its click handler, once per change.
  int clicks = 0;
  w.cbFF->OnClick = [&](TCheckBox*) { ++clicks; };
  w.cbFF->SetChecked(true);
  w.cbFF->SetChecked(true);
  w.cbFF->SetChecked(false);
  EXPECT_EQ(clicks, 2);
  // Buttons with a modal result end the modal run with it.
  WhenModal([&](QWidget*) { w.btnCancel->click(); });
  EXPECT_EQ(w.ShowModal(), mrCancel);
  WhenModal([&](QWidget* dlg) { PressKey(dlg, Qt::Key_Return); });
  EXPECT_EQ(w.ShowModal(), mrOk);
  // The window's own close button gives Cancel.
  WhenModal([&](QWidget* dlg) { dlg->close(); });
  EXPECT_EQ(w.ShowModal(), mrCancel);
  EXPECT_FALSE(w.isVisible());
  // Pages and controls.
  EXPECT_EQ(w.pcSetting->PageCount(), 2);
  EXPECT_EQ(w.pcSetting->Pages(1), w.tsBrowser);
  w.pcSetting->SetActivePage(w.tsBrowser);
  EXPECT_EQ(w.pcSetting->ActivePageIndex(), 1);
  EXPECT_FALSE(w.cbIE->Enabled());
  EXPECT_EQ(w.cbAutoRun->parentWidget(), w.tsGeneral);
  EXPECT_EQ(w.btnOK->parentWidget(), w.ClientArea());
  // Published properties of a real control, by name.
  EXPECT_EQ(w.btnOK->GetTextProp("Caption"), "&OK");
  w.btnOK->SetTextProp("Hint", "Save");
  EXPECT_EQ(w.btnOK->toolTip(), "Save");
  EXPECT_THROW(w.btnOK->GetTextProp("NoSuchProperty"), EPropertyError);
  const TCLPropInfo* name = w.btnOK->FindProp("Name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->TypeName, "TComponentName");
  EXPECT_EQ(w.btnOK->objectName(), "btnOK");
}

TEST_F(SkinLibraryTest, ListEditGaugeImageAndPanelControls) {
  TForm w;
  auto* combo = new TComboBox(&w);
  auto* spin = new TSpinEdit(&w);
  auto* gauge = new TGauge(&w);
  auto* image = new TImage(&w);
  auto* panel = new TPanel(&w);
  w.AfterConstruction();

  // A string list property is read and written whole.
  TStringList items;
  items.Add("Any country");
  items.Add("United States");
  combo->SetStringsProp("Items", items);
  EXPECT_EQ(combo->count(), 2);
  combo->SetText("United States");
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(combo->GetStringsProp("Items"), items);
  items.Delete(0);
  combo->SetItems(items);  // the chosen entry survives where it still exists
  EXPECT_EQ(combo->Text(), "United States");

  int changes = 0;
  spin->OnChange = [&](TSpinEdit*) { ++changes; };
  spin->SetMinValue(1);
  spin->SetMaxValue(120);
  spin->SetValue(500);
  EXPECT_EQ(spin->Value(), 120);
  spin->SetValue(0);
  EXPECT_EQ(spin->Value(), 1);
  EXPECT_GE(changes, 2);

  gauge->SetMaxValue(10);
  gauge->SetProgress(4);
  gauge->SetAnimationPause(1000);
  gauge->StartAnimation();
  EXPECT_TRUE(gauge->Animating());
  EXPECT_EQ(gauge->maximum(), 0);  // the endless busy bar
  gauge->StopAnimation();
  EXPECT_EQ(gauge->maximum(), 10);

  WritePng("flag.png", 48, 48, Qt::red);
  EXPECT_TRUE(image->LoadFromFile(sb().Path("flag.png")));
  EXPECT_EQ(image->PictureWidth(), 48);
  EXPECT_FALSE(image->LoadFromFile(sb().Path("none.png")));
  EXPECT_EQ(image->PictureWidth(), 0);
  int clicks = 0;
  image->OnClick = [&](TImage*) { ++clicks; };
  image->resize(48, 48);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(image, &press);
  QApplication::sendEvent(image, &release);
  EXPECT_EQ(clicks, 1);

  panel->SetTextProp("Caption", "Fake location:");
  EXPECT_EQ(panel->Caption(), "Fake location:");
}
