// The main window.
#pragma once

#include <string>

#include "vcl/Forms.h"

class TCLEngine;
class TCLForm;
class TCLMultiLang;
class TCLMultiLangData;
class TLabel;
class TspCompressedStoredSkin;
class TspDynamicSkinForm;
class TspResourceStrData;
class TspSkinData;

class TfrmMain : public TForm {
  Q_OBJECT
 public:
  explicit TfrmMain(TCLComponent* AOwner = nullptr);
  ~TfrmMain() override;
  std::string ClassName() const override { return "TfrmMain"; }

  TCLEngine* CLEngine() const { return FEngine; }
  TCLMultiLangData* LanguageData() const { return CLMultiLangData; }
  TspSkinData* SkinData() const { return spSkinData; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CLEngineCmdFile(const std::string& strFileName);

  // The application-wide skin and translation data live on the main window;
  // every other window refers to them.
  TspCompressedStoredSkin* spCompressedStoredSkin = nullptr;
  TspResourceStrData* spResourceStrData = nullptr;
  TspSkinData* spSkinData = nullptr;
  TCLMultiLangData* CLMultiLangData = nullptr;
  TCLEngine* FEngine = nullptr;
  TspDynamicSkinForm* spDynamicSkinForm = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;
  TCLForm* CLForm = nullptr;
  TLabel* FStatus = nullptr;
};
