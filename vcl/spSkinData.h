// The skin library's data side. A skin is a Qt style sheet; a skin file
// (".skn", or ".nsf.skn" for a skin that leaves the window frame to the
// system) holds that style sheet compressed with zlib.
//
// TspSkinData is the skin every skinned window of the application refers to;
// windows register with it and restyle themselves when it changes.
// TspCompressedStoredSkin is a skin carried inside the program (the design-
// time skin of a window). TspResourceStrData is the library's string table:
// the built-in captions of the message dialog and the caption bar, which a
// language may extend.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

#include "framework/lang/CLMultiLangClasses.h"
#include "net/StringList.h"

// Compression of skin files. Decompression refuses data that is not a zlib
// stream, is truncated, or would unpack to more than maxSize bytes.
std::string SkinCompress(const std::string& text);
bool SkinDecompress(const std::string& bytes, std::string& text, size_t maxSize = 16u << 20);

class TspCompressedStoredSkin : public TCLComponent {
 public:
  explicit TspCompressedStoredSkin(TCLComponent* AOwner);
  std::string ClassName() const override { return "TspCompressedStoredSkin"; }
  const TCLPropTable& PropTable() const override;

  // Reads a skin file into the stored skin; false (content unchanged) when
  // the file cannot be read or is not a skin.
  bool LoadFromCompressedFile(const std::string& fn);
  // The program's own default skin.
  void LoadDefaultSkin();
  void SetStyleSheet(const std::string& text);
  std::string StyleSheet() const;
  bool Empty() const { return FCompressed.empty(); }
  std::string CompressedFileName() const { return FCompressedFileName; }
  void SetCompressedFileName(const std::string& v) { FCompressedFileName = v; }

  // The program's default style sheet.
  static std::string DefaultStyleSheet();

 private:
  std::string FCompressed;
  std::string FCompressedFileName;
};

class TspResourceStrData : public TCLComponent {
 public:
  explicit TspResourceStrData(TCLComponent* AOwner);
  std::string ClassName() const override { return "TspResourceStrData"; }
  const TCLPropTable& PropTable() const override;

  // The table: name=text lines, starting with the built-in texts.
  TStringList& ResStrings() { return FResStrings; }
  TStringList GetResStrings() const { return FResStrings; }
  void SetResStrings(const TStringList& v) { FResStrings = v; }
  // The text of a name; the built-in text when the table lacks the name.
  std::string GetResStr(const std::string& name) const;

  // The built-in table.
  static const TStringList& BuiltIn();
  static std::string BuiltInStr(const std::string& name);

 private:
  TStringList FResStrings;
};

class TspSkinData;

// A window or dialog that follows a skin data.
class ISkinDataClient {
 public:
  virtual ~ISkinDataClient() = default;
  virtual void SkinChanged(TspSkinData* data) = 0;
  virtual void SkinDataDestroyed(TspSkinData* data) = 0;
};

class TspSkinData : public TCLComponent {
 public:
  explicit TspSkinData(TCLComponent* AOwner);
  ~TspSkinData() override;
  std::string ClassName() const override { return "TspSkinData"; }
  const TCLPropTable& PropTable() const override;

  // Loads a skin file; false (skin unchanged) when the file cannot be read
  // or is not a skin.
  bool LoadFromCompressedFile(const std::string& fn);
  // Empties the skin: windows fall back to the plain look.
  void ClearSkin();
  // The skin in use: the loaded file's, else the stored skin's.
  const std::string& StyleSheet() const { return FStyleSheet; }
  bool Empty() const { return FStyleSheet.empty(); }
  const std::string& SkinFile() const { return FSkinFile; }

  // Assigning a stored skin loads it; null clears the stored skin only.
  TspCompressedStoredSkin* CompressedStoredSkin() const { return FStoredSkin; }
  void SetCompressedStoredSkin(TspCompressedStoredSkin* s);
  TspResourceStrData* ResourceStrData() const { return FResourceStrData; }
  void SetResourceStrData(TspResourceStrData* r) { FResourceStrData = r; }
  // The window frame is drawn by the skin (".skn") or left to the system
  // (".nsf.skn").
  bool SkinnableForm() const { return FSkinnableForm; }
  void SetSkinnableForm(bool v);
  bool ShowButtonGlowFrames() const { return FShowButtonGlowFrames; }
  void SetShowButtonGlowFrames(bool v);
  bool ShowCaptionButtonGlowFrames() const { return FShowCaptionButtonGlowFrames; }
  void SetShowCaptionButtonGlowFrames(bool v);

  // Styles a window with the skin (style sheet and glow switches).
  void ApplyTo(QWidget* w) const;

  void AddClient(ISkinDataClient* c);
  void RemoveClient(ISkinDataClient* c);
  // How many skin changes were announced (for callers that wait for one).
  int ChangeCount() const { return FChangeCount; }

  void Notification(TCLComponent* AComponent) override;

 private:
  void Changed();

  std::string FStyleSheet;
  std::string FSkinFile;
  TspCompressedStoredSkin* FStoredSkin = nullptr;
  TspResourceStrData* FResourceStrData = nullptr;
  bool FSkinnableForm = true;
  bool FShowButtonGlowFrames = true;
  bool FShowCaptionButtonGlowFrames = true;
  std::vector<ISkinDataClient*> FClients;
  int FChangeCount = 0;
};
