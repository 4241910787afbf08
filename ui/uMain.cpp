#include "ui/uMain.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>

#include "framework/CLDebugLog.h"
#include "framework/CLEngine.h"
#include "framework/CLForm.h"
#include "framework/lang/CLMultiLang.h"
#include "vcl/Controls.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

TfrmMain::TfrmMain(TCLComponent* AOwner) : TForm(AOwner) {
  SetName("frmMain");
  SetCaption("Veilgate");
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetPosition(TPosition::poScreenCenter);
  SetClientSize(534, 317);

  spCompressedStoredSkin = new TspCompressedStoredSkin(this);
  spCompressedStoredSkin->SetName("spCompressedStoredSkin");
  spCompressedStoredSkin->LoadDefaultSkin();
  spResourceStrData = new TspResourceStrData(this);
  spResourceStrData->SetName("spResourceStrData");
  spSkinData = new TspSkinData(this);
  spSkinData->SetName("spSkinData");
  spSkinData->SetResourceStrData(spResourceStrData);
  spSkinData->SetCompressedStoredSkin(spCompressedStoredSkin);
  spSkinData->SetSkinnableForm(true);

  CLMultiLangData = new TCLMultiLangData(this);
  CLMultiLangData->SetName("CLMultiLangData");

  FEngine = new TCLEngine(this);
  FEngine->SetName("CLEngine");
  FEngine->SetSkinData(spSkinData);
  FEngine->SetLanguageData(CLMultiLangData);
  FEngine->OnCmdFile = [this](const std::string& s) { CLEngineCmdFile(s); };

  spDynamicSkinForm = new TspDynamicSkinForm(this);
  spDynamicSkinForm->SetName("spDynamicSkinForm");
  spDynamicSkinForm->SetBorderIcons(biSystemMenu | biMinimize);
  spDynamicSkinForm->SetSizeable(false);
  spDynamicSkinForm->SetSkinData(spSkinData);
  FEngine->SetSkinForm(spDynamicSkinForm);

  CLMultiLang = new TCLMultiLang(this);
  CLMultiLang->SetName("CLMultiLang");
  CLMultiLang->SetLanguageData(CLMultiLangData);
  CLForm = new TCLForm(this);
  CLForm->SetName("CLForm");

  FStatus = new TLabel(this);
  FStatus->SetName("lblStatus");
  FStatus->setAlignment(Qt::AlignCenter);
  FStatus->SetBounds(0, 0, 534, 317);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CLEngineCmdFile(const std::string& strFileName) {
  CLDebugLog::Write("TfrmMain", "OnCmdFile: " + strFileName);
  FStatus->SetCaption(strFileName);
}

void TfrmMain::showEvent(QShowEvent* event) {
  TForm::showEvent(event);
  CLDebugLog::Write("TfrmMain", "Main window shown");
  // The start-up benchmark measures the time to the first showing.
  static bool first = true;
  if (first && std::getenv("VEILGATE_QUIT_WHEN_SHOWN")) {
    first = false;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}
