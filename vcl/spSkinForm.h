// The skinned window frame and the tray icon of the skin library.
//
// TspDynamicSkinForm sits on a window and styles it with its skin data. With
// a skin that draws the frame it replaces the system frame by a caption bar
// of its own (title, system menu, roll-up, minimise to tray, minimise,
// maximise, close); with an ".nsf.skn" skin the system frame stays. Either
// way every caption command (cmClose, cmMinimize, cmMaximize, cmRollUp,
// cmMinimizeToTray) is reported to OnObjectCommand before it is carried out,
// and the handler may cancel it.
#pragma once

#include <QFrame>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "framework/lang/CLMultiLangClasses.h"
#include "vcl/ActnList.h"
#include "vcl/Forms.h"
#include "vcl/spSkinData.h"

class QLabel;
class QSystemTrayIcon;
class QToolButton;

enum TStdCommand {
  cmClose,
  cmMaximize,
  cmMinimize,
  cmSysMenu,
  cmDefault,
  cmRollUp,
  cmMinimizeToTray
};

// Caption buttons a skinned frame offers.
enum TspBorderIcon : unsigned {
  biSystemMenu = 1,
  biMinimize = 2,
  biMaximize = 4,
  biRollUp = 8,
  biMinimizeToTray = 16,
};

class TspTrayIcon : public TCLComponent {
 public:
  explicit TspTrayIcon(TCLComponent* AOwner);
  ~TspTrayIcon() override;
  std::string ClassName() const override { return "TspTrayIcon"; }
  const TCLPropTable& PropTable() const override;

  // Whether the desktop has a system tray at all.
  static bool Available();

  std::string Hint() const { return FHint; }
  void SetHint(const std::string& v);
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* m);
  bool IconVisible() const { return FIconVisible; }
  void SetIconVisible(bool v);
  void SetIcon(const QIcon& icon);

  std::function<void(TspTrayIcon*)> OnClick;
  std::function<void(TspTrayIcon*)> OnDblClick;
  // What a click on the icon does, also callable from code.
  void Click();

  QSystemTrayIcon* QtTrayIcon() const { return FTray.get(); }
  void Notification(TCLComponent* AComponent) override;

 private:
  void EnsureTray();
  std::string FHint;
  TPopupMenu* FPopupMenu = nullptr;
  bool FIconVisible = false;
  std::unique_ptr<QSystemTrayIcon> FTray;
};

class TspDynamicSkinForm;

// The caption bar drawn by a skinned frame.
class TspCaptionBar : public QFrame {
 public:
  explicit TspCaptionBar(TspDynamicSkinForm* skinForm, QWidget* parent);
  void UpdateButtons();
  QToolButton* Button(TStdCommand cmd) const;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  QToolButton* AddButton(const char* name, const QString& glyph, TStdCommand cmd);
  TspDynamicSkinForm* FSkinForm;
  QLabel* FTitle = nullptr;
  QToolButton* FSysMenu = nullptr;
  QToolButton* FRollUp = nullptr;
  QToolButton* FTray = nullptr;
  QToolButton* FMinimize = nullptr;
  QToolButton* FMaximize = nullptr;
  QToolButton* FClose = nullptr;
  QPoint FDragOffset;
  bool FDragging = false;
};

class TspDynamicSkinForm : public TCLComponent, public IFormFrame, public ISkinDataClient {
 public:
  using TObjectCommand = std::function<void(TspDynamicSkinForm*, TStdCommand, bool& bCancel)>;

  explicit TspDynamicSkinForm(TCLComponent* AOwner);
  ~TspDynamicSkinForm() override;
  std::string ClassName() const override { return "TspDynamicSkinForm"; }
  const TCLPropTable& PropTable() const override;
  void Loaded() override;

  TForm* Form() const { return FForm; }
  TspSkinData* SkinData() const { return FSkinData; }
  void SetSkinData(TspSkinData* d);
  TspTrayIcon* TrayIcon() const { return FTrayIcon; }
  void SetTrayIcon(TspTrayIcon* t) { FTrayIcon = t; }
  TPopupMenu* SystemMenu() const { return FSystemMenu; }
  void SetSystemMenu(TPopupMenu* m);
  unsigned BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(unsigned icons);
  bool Sizeable() const { return FSizeable; }
  void SetSizeable(bool v) { FSizeable = v; }
  bool AlwaysShowTrayIcon() const { return FAlwaysShowTrayIcon; }
  void SetAlwaysShowTrayIcon(bool v);

  TObjectCommand OnObjectCommand;

  // A caption command as the frame's buttons give it: reported first, then
  // carried out unless the handler cancelled it. True when carried out.
  bool ExecuteCommand(TStdCommand cmd);
  // Hides the window to the tray; without a tray icon or a system tray it
  // is minimised to the task bar instead.
  void MinimizeToTray();
  // Shows the window again, in front.
  void RestoreFromTray();
  bool RolledUp() const { return FRolledUp; }
  bool InTray() const { return FInTray; }
  // Whether the frame is drawn by the skin (caption bar) right now.
  bool FrameSkinned() const { return FFrameSkinned; }
  TspCaptionBar* CaptionBar() const { return FCaptionBar; }

  // IFormFrame: the system frame's close and minimise go through the same
  // report.
  bool FrameClose() override;
  bool FrameMinimize() override;
  // ISkinDataClient
  void SkinChanged(TspSkinData* data) override;
  void SkinDataDestroyed(TspSkinData* data) override;
  void Notification(TCLComponent* AComponent) override;

 private:
  bool Report(TStdCommand cmd);
  void Perform(TStdCommand cmd);
  void ApplySkin();
  void ToggleRollUp();

  TForm* FForm = nullptr;
  TspSkinData* FSkinData = nullptr;
  TspTrayIcon* FTrayIcon = nullptr;
  TPopupMenu* FSystemMenu = nullptr;
  unsigned FBorderIcons = biSystemMenu | biMinimize | biMaximize;
  bool FSizeable = true;
  bool FAlwaysShowTrayIcon = false;
  bool FRolledUp = false;
  bool FInTray = false;
  bool FFrameSkinned = false;
  bool FMinimizingByFrame = false;
  int FRolledHeight = 0;
  TspCaptionBar* FCaptionBar = nullptr;
};
