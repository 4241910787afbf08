// Shared pieces of the application dialog tests: a host window carrying the
// engine with the shipped English language, a message-box recorder that
// answers boxes without a person, and small file helpers.
#pragma once

#include <QCoreApplication>
#include <QImage>

#include <functional>

#include <string>
#include <vector>

#include "QtTestApp.h"
#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "platform/Files.h"
#include "vcl/Forms.h"
#include "framework/qt/CLAppComponents.h"
#include "vcl/spSkinData.h"

#ifndef VG_SOURCE_DIR
#error "VG_SOURCE_DIR must name the source tree"
#endif

namespace appdlg {

// The boxes the engine would show, answered with OK; a test may tick "do
// not show again" for the next ones.
class TRecordingBoxes : public ICLMessageBoxes {
 public:
  TCLMessageBoxReply ShowMessageBox(const TCLMessageBoxRequest& request) override {
    Requests.push_back(request);
    if (OnBox) OnBox(request);
    TCLMessageBoxReply reply;
    reply.Result = Answer;
    reply.ShowAgainFlagValue = !TickDoNotShowAgain;
    return reply;
  }
  bool TickDoNotShowAgain = false;
  // The button every box is answered with (1: OK; 6: Yes).
  int Answer = 1;
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& r : Requests) texts.push_back(r.Text);
    return texts;
  }
  std::vector<TCLMessageBoxRequest> Requests;
  std::function<void(const TCLMessageBoxRequest&)> OnBox;
};

// Plays the main window: the translation data and the engine live on it.
// The engine loads "lang/English.lan" of the application folder.
// With a skin, the skin data (built-in default skin) lives on it too.
class TfrmHost : public TForm {
 public:
  explicit TfrmHost(bool withSkin = false) {
    SetName("frmHost");
    const TCLAppComponents app = CreateAppComponents(this, withSkin);
    spCompressedStoredSkin = app.spCompressedStoredSkin;
    spResourceStrData = app.spResourceStrData;
    spSkinData = app.spSkinData;
    CLMultiLangData = app.CLMultiLangData;
    CLEngine = app.CLEngine;
    CLEngine->SettingDefault().SetValue("Path.Languages", "lang");
    CLEngine->SettingDefault().SetValue("Path.Skins", "skins");
    CLEngine->SetMessageBoxes(&Boxes);
  }
  ~TfrmHost() override {
    if (CLEngine) CLEngine->SetMessageBoxes(nullptr);
  }
  std::string ClassName() const override { return "TfrmHost"; }
  TspCompressedStoredSkin* spCompressedStoredSkin = nullptr;
  TspResourceStrData* spResourceStrData = nullptr;
  TspSkinData* spSkinData = nullptr;
  TCLMultiLangData* CLMultiLangData = nullptr;
  TCLEngine* CLEngine = nullptr;
  TRecordingBoxes Boxes;
};

inline std::string SourceFile(const std::string& rel) {
  std::string bytes;
  platform::ReadWholeFile(std::string(VG_SOURCE_DIR) + "/" + rel, bytes);
  return bytes;
}

// A 48 x 48 picture of one colour, as PNG bytes.
inline void WriteSolidPng(const std::string& path, QRgb colour) {
  QImage img(48, 48, QImage::Format_ARGB32);
  img.fill(colour);
  img.save(QString::fromStdString(path), "PNG");
}

// The colour in the middle of a picture.
inline QRgb MiddleColour(const QPixmap& p) {
  return p.isNull() ? 0 : p.toImage().pixel(p.width() / 2, p.height() / 2);
}

}  // namespace appdlg
