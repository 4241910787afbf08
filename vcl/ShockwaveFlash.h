// Host of the popup's movie, with our own movie player inside.
//
// The component carries the class name and published properties of the
// movie control the translator must recognise (and leave alone): Movie,
// Menu, Loop, Quality, Quality2, OnFSCommand. The movie file is a scene
// description of our own (an INI-style text, see res/veilip.dat); the
// player draws the scene and acts on the text commands set through
// SetVariable("callbackvar", ...):
//
//   Background,<file>              picture behind the cards
//   Logo,<file>                    logo picture (clicking it: CMD HOMEPAGE)
//   <card>,<display>,<flag>,<ip>,<country>,<city>,<alpha>,<scale>
//                                  fills card "Local" or "Target"
//   <card>A,<alpha>,<scale>        alpha and scale of one card
//   Info_Text,<text>,<colour>      information line (colour 0x00BBGGRR, decimal)
//   Info_Text2,<text>,<colour>     second information line
//   Fade,<card>,in|out,<max>       fades a card to <max> percent
//   Turn,Local|Turn,Target         turns the panel to that card
//
// Other movie variables the player reads: "Local_title" and "Target_title"
// (the card titles in the window's language, else the movie's own) and
// "idle_text" (shown on a card filled without its display flag, which is
// drawn faded and without its values).
//
// Clicking the IP line of a card raises OnFSCommand("CMD", "CHECKIPINFO").
//
// Mouse input reaches the player as window messages through WindowProc,
// which an owner may replace (keeping the old one to pass messages on), as
// with a native control's window procedure. The player opens its context
// menu on a right-button-down message.
#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vcl/Controls.h"

class QTimer;
class TSingleDownloader;

// A window message as the control's window procedure sees it.
struct TMessage {
  uint32_t Msg = 0;
  int64_t WParam = 0;
  int64_t LParam = 0;
  int64_t Result = 0;
};
using TWndMethod = std::function<void(TMessage&)>;

// Mouse messages of the window procedure (Windows' numbers).
inline constexpr uint32_t WM_LBUTTONDOWN_MSG = 513;
inline constexpr uint32_t WM_LBUTTONUP_MSG = 514;
inline constexpr uint32_t WM_RBUTTONDOWN_MSG = 516;
inline constexpr uint32_t WM_RBUTTONUP_MSG = 517;
inline int64_t MakeLParam(int x, int y) {
  return static_cast<int64_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) |
                              static_cast<uint32_t>(x & 0xFFFF));
}

// One card of the scene as the commands left it.
struct TMovieCard {
  std::string Display;  // "True" marks the card as the one in use
  std::string FlagURL;  // file path or web address of the flag picture
  std::string IP, Country, City;
  int Alpha = 0;    // percent, as last set (the fade's goal while one runs)
  int Scale = 100;  // percent
};

// One text as the player last drew it: the card it belongs to (empty for
// the information lines), the whole text, its place in the control, its
// pixel size on screen, and whether it fitted its place without being
// shortened.
struct TMovieText {
  std::string Card;
  QString Text;
  QRectF Rect;
  double PixelSize = 0;
  bool Fits = true;
};

// What the commands have set so far.
struct TMovieState {
  std::string Background, Logo;
  TMovieCard Local, Target;
  std::string InfoText, InfoText2;
  int32_t InfoColor = 0, InfoColor2 = 0;
  std::string Front = "Local";  // the card the panel is turned to
  int Commands = 0;             // commands acted on
};

class TShockwaveFlash : public TVclControl<QWidget> {
 public:
  using TFSCommandEvent = std::function<void(TShockwaveFlash* Sender, const std::string& command,
                                             const std::string& args)>;

  explicit TShockwaveFlash(TCLComponent* AOwner, QWidget* AParent = nullptr);
  ~TShockwaveFlash() override;
  std::string ClassName() const override { return "TShockwaveFlash"; }
  const TCLPropTable& PropTable() const override;

  // The movie file. Setting it loads the scene; a missing or unreadable file
  // leaves the player without a scene (it keeps taking commands).
  std::string Movie() const { return FMovie; }
  void SetMovie(const std::string& v);
  bool MovieLoaded() const { return FSceneLoaded; }
  // Whether the context menu offers the player's full set of items.
  bool Menu() const { return FMenu; }
  void SetMenu(bool v) { FMenu = v; }
  // Whether the idle animation repeats.
  bool Loop() const { return FLoop; }
  void SetLoop(bool v);
  // 0 low, 1 high, 2 auto-low, 3 auto-high, 4 medium, 5 best; low and
  // auto-low draw without anti-aliasing.
  int Quality() const { return FQuality; }
  void SetQuality(int v);
  std::string Quality2() const;
  void SetQuality2(const std::string& v);

  // Sets a movie variable; "callbackvar" carries the commands.
  void SetVariable(const std::string& name, const std::string& value);
  std::string GetVariable(const std::string& name) const;

  TFSCommandEvent OnFSCommand;

  // The window procedure: replaceable; DefaultWndProc is the player's own.
  TWndMethod WindowProc;
  void DefaultWndProc(TMessage& message);
  // Sends a message through WindowProc, as the window system would.
  int64_t Perform(uint32_t msg, int64_t wParam, int64_t lParam);

  // --- what is drawn, for the owner and for inspection ------------------------------
  const TMovieState& State() const { return FState; }
  // The opacity (0..1) a card is drawn with right now, and its place.
  double ShownAlpha(const std::string& card) const;
  QRectF CardRect(const std::string& card) const;
  // Places of the clickable parts in control coordinates (empty when absent).
  QRectF IPLineRect(const std::string& card) const;
  QRectF LogoRect() const;
  // Whether a fade or a turn is running.
  bool Animating() const;
  // The context menu while it is open (null otherwise).
  QMenu* OpenContextMenu() const { return FContextMenu.data(); }
  // Renders the current frame into a picture of the control's size.
  QPixmap Snapshot();
  // The texts of the last frame drawn.
  const std::vector<TMovieText>& DrawnTexts() const { return FDrawnTexts; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  struct Scene;
  struct TCardLayout;
  struct CardAnim {
    double from = 0, to = 0;  // alpha 0..1
    qint64 start = 0;
    int duration = 0;
  };

  void Command(const std::string& text);
  void SetCardInfo(TMovieCard& card, const std::vector<std::string>& f);
  TMovieCard* CardByName(const std::string& name);
  CardAnim& AnimOf(const std::string& name);
  void StartAlpha(const std::string& card, int percent, int durationMs);
  void StartTurn(const std::string& front);
  void EnsureFrames();
  void Frame();
  double TurnProgress() const;
  // The card layout drawn into a card's rectangle: the small one for a card
  // nearer the back slot's size.
  const TCardLayout& LayoutFor(const QRectF& r) const;
  double CardAlphaNow(const CardAnim& a) const;
  void PaintScene(QPainter& p);
  void PaintCard(QPainter& p, const std::string& name, const TMovieCard& card, const QRectF& r,
                 double alpha);
  QPixmap Picture(const std::string& fileOrUrl);
  void Fetch(const std::string& url);
  void ShowContextMenu(const QPoint& at);
  void HitTest(const QPoint& at);

  std::string FMovie;
  bool FMenu = true;
  bool FLoop = true;
  int FQuality = 1;
  bool FSceneLoaded = false;
  std::unique_ptr<Scene> FScene;
  std::map<std::string, std::string> FVariables;
  TMovieState FState;
  std::vector<TMovieText> FDrawnTexts;

  QElapsedTimer FClock;
  CardAnim FLocalAnim, FTargetAnim;
  std::string FTurnFrom = "Local";
  qint64 FTurnStart = -1;
  std::unique_ptr<QTimer> FFrames;

  // Pictures by file name or address; web addresses are fetched once.
  std::map<std::string, QPixmap> FPictures;
  std::map<std::string, std::unique_ptr<TSingleDownloader>> FDownloads;
  std::string FCacheDir;
  QPointer<QMenu> FContextMenu;
};
