// Pictures decoded ahead on worker threads: what a window then loads is
// exactly the file's picture, taken once, and the start-up's popup and
// splash take theirs instead of decoding again.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include <filesystem>
#include <string>

#include "MainWindowSupport.h"
#include "framework/qt/CLSplashForm.h"
#include "ui/uFlashForm.h"
#include "vcl/PicturePreload.h"
#include "vcl/spPngForm.h"

using namespace mainwin;

namespace {

class PicturePreloadTest : public MainWindowTest {
 protected:
  std::string WritePng(const std::string& rel, int w, int h, QColor colour) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(colour);
    // A transparent corner: the alpha channel must come through as well.
    img.setPixel(0, 0, qRgba(0, 0, 0, 0));
    const std::string path = sb().Path(rel);
    EXPECT_TRUE(img.save(QString::fromStdString(path), "PNG"));
    return path;
  }
  static QImage Pixels(const QPixmap& p) {
    return p.toImage().convertToFormat(QImage::Format_ARGB32);
  }
};

TEST_F(PicturePreloadTest, APreloadedPictureIsTheFilesTakenOnceThenReadAgain) {
  const std::string file = WritePng("a.png", 30, 20, QColor(200, 10, 10, 128));
  const size_t before = PreloadedPicturesWaiting();
  PreloadPictures({file, file});  // asked twice, decoded once
  EXPECT_EQ(PreloadedPicturesWaiting(), before + 1);

  QPixmap preloaded;
  ASSERT_TRUE(LoadPicture(file, preloaded));
  EXPECT_EQ(PreloadedPicturesWaiting(), before);
  QPixmap direct;
  ASSERT_TRUE(direct.load(QString::fromStdString(file)));
  EXPECT_EQ(Pixels(preloaded), Pixels(direct));
  EXPECT_EQ(qAlpha(Pixels(preloaded).pixel(0, 0)), 0);

  // Let go of without being taken: the file is read when asked for.
  PreloadPictures({file});
  ForgetPreloadedPictures({file});
  EXPECT_EQ(PreloadedPicturesWaiting(), before);
  QPixmap forgotten;
  ASSERT_TRUE(LoadPicture(file, forgotten));
  EXPECT_EQ(Pixels(forgotten), Pixels(direct));

  // Taken once: a later load reads the file as it is now.
  WritePng("a.png", 8, 4, Qt::blue);
  QPixmap again;
  ASSERT_TRUE(LoadPicture(file, again));
  EXPECT_EQ(again.size(), QSize(8, 4));
}

TEST_F(PicturePreloadTest, EveryKindOfPngGivesTheSamePixelsAsQtsOwnReader) {
  // A picture with every alpha level and colour across it, saved in the
  // formats a PNG file can carry: RGBA and RGB (decoded ahead), and palette,
  // grey, 16-bit and transparent-colour ones (left to Qt).
  QImage source(64, 48, QImage::Format_ARGB32);
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x)
      source.setPixel(x, y, qRgba(x * 4, y * 5, (x * y) % 256, (x + y * 64) % 256));
  const std::vector<std::pair<const char*, QImage>> kinds = {
      {"rgba.png", source},
      {"rgb.png", source.convertToFormat(QImage::Format_RGB32)},
      {"palette.png", source.convertToFormat(QImage::Format_Indexed8)},
      {"grey.png", source.convertToFormat(QImage::Format_Grayscale8)},
      {"deep.png", source.convertToFormat(QImage::Format_RGBA64)},
  };
  std::vector<std::string> files;
  for (const auto& kind : kinds) {
    files.push_back(sb().Path(kind.first));
    ASSERT_TRUE(kind.second.save(QString::fromStdString(files.back()), "PNG")) << kind.first;
  }
  // A file cut off in the middle of its pixels: nothing, from either reader.
  const std::string whole = sb().ReadFile("rgba.png");
  sb().WriteFile("cut.png", whole.substr(0, whole.size() / 2));
  files.push_back(sb().Path("cut.png"));

  PreloadPictures(files);
  for (const std::string& file : files) {
    QPixmap preloaded, direct;
    const bool loaded = LoadPicture(file, preloaded);
    ASSERT_EQ(loaded, direct.load(QString::fromStdString(file))) << file;
    EXPECT_EQ(loaded, file != sb().Path("cut.png")) << file;
    if (!loaded) continue;
    EXPECT_EQ(preloaded.hasAlphaChannel(), direct.hasAlphaChannel()) << file;
    EXPECT_EQ(Pixels(preloaded), Pixels(direct)) << file;
  }
}

TEST_F(PicturePreloadTest, AMissingOrBrokenFileLoadsNothingAndLeavesThePixmap) {
  sb().WriteFile("broken.png", "not a picture");
  const std::string broken = sb().Path("broken.png");
  const std::string missing = sb().Path("missing.png");
  // A folder is no picture either (a setting naming no file gives one).
  const std::string folder = sb().Path("");
  PreloadPictures({broken, missing, folder});
  QPixmap keep(3, 3);
  keep.fill(Qt::green);
  EXPECT_FALSE(LoadPicture(folder, keep));
  EXPECT_FALSE(LoadPicture(broken, keep));
  EXPECT_FALSE(LoadPicture(missing, keep));
  EXPECT_EQ(keep.size(), QSize(3, 3));
  // Not preloaded at all: the same answers.
  EXPECT_FALSE(LoadPicture(broken, keep));
  EXPECT_EQ(keep.size(), QSize(3, 3));
}

TEST_F(PicturePreloadTest, TheSplashAndThePopupTakeThePicturesStartedForThem) {
  Const({});
  std::filesystem::create_directories(sb().Path("app/res/images"));
  WritePng("app/res/images/popup_bg.png", 534, 180, Qt::darkBlue);
  WritePng("app/res/images/logo.png", 132, 36, Qt::white);
  WritePng("app/res/images/splash.png", 420, 240, Qt::black);
  const size_t before = PreloadedPicturesWaiting();
  std::vector<std::string> files = TfrmFlashForm::StartPictureFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], sb().Path("app/res/images/popup_bg.png"));
  const std::string splash = TfrmCLSplashForm::PictureFileToShow();
  ASSERT_FALSE(splash.empty());
  files.push_back(splash);
  PreloadPictures(files);
  EXPECT_EQ(PreloadedPicturesWaiting(), before + 3);

  std::unique_ptr<TfrmCLSplashForm> s(CreateForm<TfrmCLSplashForm>());
  EXPECT_EQ(s->PictureFile(), splash);
  EXPECT_FALSE(s->PngForm()->Picture().isNull());
  TfrmMain& w = Window();
  ASSERT_NE(w.FProxyManager, nullptr);
  // Nothing is left waiting: both windows took theirs.
  EXPECT_EQ(PreloadedPicturesWaiting(), before);
}

}  // namespace
