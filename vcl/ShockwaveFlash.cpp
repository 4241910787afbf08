#include "vcl/ShockwaveFlash.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/Files.h"
#include "vcl/PicturePreload.h"

namespace {

const char* const kTraceTag = "TShockwaveFlash";

// --- scene description -----------------------------------------------------------------

// "[section]" / "name=value" lines; ";" or "#" start a comment line.
using IniSections = std::map<std::string, std::map<std::string, std::string>>;

IniSections ParseIni(const std::string& text) {
  IniSections out;
  std::string section;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = LowerCase(Trim(line.substr(1, line.size() - 2)));
      out[section];
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = Trim(line.substr(eq + 1));
    // A comment after the value.
    const size_t comment = value.find(" ;");
    if (comment != std::string::npos) value = Trim(value.substr(0, comment));
    out[section][LowerCase(Trim(line.substr(0, eq)))] = value;
  }
  return out;
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> out;
  TStringList parts;
  SplitString(text, ',', &parts);
  for (int i = 0; i < parts.Count(); ++i) {
    double v = 0;
    if (TryStrToFloat(Trim(parts[i]), '.', v)) out.push_back(v);
  }
  return out;
}

// Splits a command at ",".
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (;;) {
    const size_t comma = text.find(',', pos);
    if (comma == std::string::npos) {
      out.push_back(text.substr(pos));
      return out;
    }
    out.push_back(text.substr(pos, comma - pos));
    pos = comma + 1;
  }
}

std::string Join(const std::vector<std::string>& f, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to && i < f.size(); ++i) {
    if (i > from) out += ",";
    out += f[i];
  }
  return out;
}

int Percent(const std::string& s, int fallback) {
  const int v = StrToIntDefault(Trim(s), fallback);
  return std::clamp(v, 0, 1000);
}

// 0x00BBGGRR as the platform gives colours.
QColor FromColorRef(int32_t c) {
  const auto u = static_cast<uint32_t>(c);
  return QColor(static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
                static_cast<int>((u >> 16) & 0xFF));
}

double Ease(double t) { return t < 0.5 ? 2 * t * t : 1 - std::pow(-2 * t + 2, 2) / 2; }

QRectF Lerp(const QRectF& a, const QRectF& b, double t) {
  return QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t,
                a.width() + (b.width() - a.width()) * t,
                a.height() + (b.height() - a.height()) * t);
}

}  // namespace

struct TShockwaveFlash::TCardLayout {
  QSizeF size{328, 124};
  QRectF title{12, 6, 304, 16}, flag{12, 28, 48, 48}, ip{72, 26, 246, 30}, country{72, 60, 246, 22},
      city{72, 84, 246, 20};
  double titleFont = 11, ipFont = 22, countryFont = 15, cityFont = 13;
  bool titleUpper = true;  // titles in capitals
};

struct TShockwaveFlash::Scene {
  int width = 534, height = 180;
  QColor bg1{0x1d, 0x2b, 0x3a}, bg2{0x33, 0x55, 0x77};
  int turnMs = 700, fadeMs = 600, frameMs = 16;
  QRectF logo{12, 10, 120, 40};
  QString logoText = "Veilgate";
  QColor logoColor{Qt::white};
  QRectF front{196, 10, 328, 124}, back{14, 62, 168, 64};
  // A card has two layouts, each in its own units: the large one for the
  // front slot and the small one for the back slot, so that the card behind
  // is drawn with texts of their own size rather than the large card scaled
  // down. A card is drawn with the layout nearer its size, scaled into its
  // rectangle (exactly 1:1 when it rests in its slot).
  TCardLayout big, small{QSizeF(168, 64),
                         QRectF(7, 4, 154, 12),
                         QRectF(7, 21, 32, 32),
                         QRectF(45, 17, 117, 16),
                         QRectF(45, 33, 117, 14),
                         QRectF(45, 47, 117, 13),
                         9,
                         11,
                         10,
                         9,
                         false};
  double radius = 10;
  QColor fill1{Qt::white}, fill2{0xe6, 0xee, 0xf6}, border{0x8a, 0xa4, 0xc0};
  QColor titleOn{0x1f, 0x7a, 0x3a}, titleOff{0x7a, 0x86, 0x94}, text{0x12, 0x22, 0x33},
      sub{0x44, 0x55, 0x66}, link{0x10, 0x4e, 0x9a};
  std::map<std::string, QString> titles{{"Local", "Your real location"},
                                        {"Target", "Your fake location"}};
  QRectF info{12, 138, 510, 20}, info2{12, 158, 510, 18};
  double infoFont = 13, info2Font = 11;

  void Read(const IniSections& ini) {
    auto get = [&](const char* sec, const char* key) -> std::string {
      auto s = ini.find(sec);
      if (s == ini.end()) return std::string();
      auto v = s->second.find(key);
      return v == s->second.end() ? std::string() : v->second;
    };
    // Every number of a scene lies within kLimit: a damaged file must not
    // make a size that cannot be drawn or a value an integer cannot hold.
    constexpr double kLimit = 100000;
    auto sane = [&](double v) { return std::isfinite(v) && std::fabs(v) <= kLimit; };
    auto rect = [&](const char* sec, const char* key, QRectF& r) {
      const auto n = Numbers(get(sec, key));
      if (n.size() == 4 && n[2] > 0 && n[3] > 0 && std::all_of(n.begin(), n.end(), sane))
        r = QRectF(n[0], n[1], n[2], n[3]);
    };
    auto color = [&](const char* sec, const char* key, QColor& c) {
      const QColor v(QString::fromStdString(get(sec, key)));
      if (v.isValid()) c = v;
    };
    auto number = [&](const char* sec, const char* key, auto& out) {
      const auto n = Numbers(get(sec, key));
      if (n.size() == 1 && n[0] >= 0 && sane(n[0]))
        out = static_cast<std::remove_reference_t<decltype(out)>>(n[0]);
    };
    number("movie", "width", width);
    number("movie", "height", height);
    number("movie", "turn", turnMs);
    number("movie", "fade", fadeMs);
    number("movie", "frame", frameMs);
    if (frameMs < 5) frameMs = 5;
    color("movie", "background", bg1);
    color("movie", "background2", bg2);
    rect("logo", "rect", logo);
    if (!get("logo", "text").empty()) logoText = QString::fromStdString(get("logo", "text"));
    color("logo", "color", logoColor);
    rect("slots", "front", front);
    rect("slots", "back", back);
    auto layout = [&](const char* sec, TCardLayout& l) {
      const auto size = Numbers(get(sec, "size"));
      if (size.size() == 2 && size[0] > 0 && size[1] > 0 && sane(size[0]) && sane(size[1]))
        l.size = QSizeF(size[0], size[1]);
      rect(sec, "title", l.title);
      rect(sec, "flag", l.flag);
      rect(sec, "ip", l.ip);
      rect(sec, "country", l.country);
      rect(sec, "city", l.city);
      number(sec, "title_font", l.titleFont);
      number(sec, "ip_font", l.ipFont);
      number(sec, "country_font", l.countryFont);
      number(sec, "city_font", l.cityFont);
      const std::string upper = get(sec, "title_upper");
      if (!upper.empty()) l.titleUpper = upper != "0";
    };
    layout("card", big);
    layout("card.small", small);
    number("card", "radius", radius);
    color("card", "fill", fill1);
    color("card", "fill2", fill2);
    color("card", "border", border);
    color("card", "title_on", titleOn);
    color("card", "title_off", titleOff);
    color("card", "text", text);
    color("card", "subtext", sub);
    color("card", "link", link);
    for (const char* name : {"Local", "Target"}) {
      const std::string t = get(LowerCase(std::string("card.") + name).c_str(), "title");
      if (!t.empty()) titles[name] = QString::fromStdString(t);
    }
    rect("info", "rect", info);
    number("info", "font", infoFont);
    rect("info2", "rect", info2);
    number("info2", "font", info2Font);
  }
};

// --- the control ------------------------------------------------------------------------------

TShockwaveFlash::TShockwaveFlash(TCLComponent* AOwner, QWidget* AParent)
    : TVclControl(AOwner, AParent), FScene(std::make_unique<Scene>()) {
  FClock.start();
  WindowProc = [this](TMessage& m) { DefaultWndProc(m); };
  setMouseTracking(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TShockwaveFlash::~TShockwaveFlash() {
  // Running fetches are detached by their downloaders; their files are
  // removed when they would have been read.
  if (FContextMenu) FContextMenu->close();
  for (auto& [url, d] : FDownloads) {
    const std::string file = d->FileName;
    d.reset();
    platform::DeleteFileAt(file);
  }
}

const TCLPropTable& TShockwaveFlash::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TShockwaveFlash>()
          .WideText("Movie", "WideString", &TShockwaveFlash::Movie, &TShockwaveFlash::SetMovie)
          .Plain("Quality", "Integer")
          .WideText("Quality2", "WideString", &TShockwaveFlash::Quality2,
                    &TShockwaveFlash::SetQuality2)
          .Plain("Menu", "WordBool", TCLTypeKind::Enumeration)
          .Plain("Loop", "WordBool", TCLTypeKind::Enumeration)
          .Event("OnFSCommand", "TShockwaveFlashFSCommand")
          .Build();
  return table;
}

void TShockwaveFlash::SetMovie(const std::string& v) {
  FMovie = v;
  FScene = std::make_unique<Scene>();
  FSceneLoaded = false;
  std::string bytes;
  if (!v.empty() && platform::FileExists(v) && platform::ReadWholeFile(v, bytes)) {
    const IniSections ini = ParseIni(bytes);
    // A scene description names its format; anything else is not a movie.
    auto movie = ini.find("movie");
    if (movie != ini.end() && movie->second.count("format") &&
        StartsWithText(movie->second.at("format"), "veilgate-scene")) {
      FScene->Read(ini);
      FSceneLoaded = true;
    }
  }
  CLDebugLog::Write(kTraceTag, (FSceneLoaded ? "Movie loaded: " : "No movie: ") + v);
  update();
}

void TShockwaveFlash::SetLoop(bool v) { FLoop = v; }

void TShockwaveFlash::SetQuality(int v) {
  FQuality = std::clamp(v, 0, 5);
  update();
}

std::string TShockwaveFlash::Quality2() const {
  static const char* const names[] = {"Low", "High", "AutoLow", "AutoHigh", "Medium", "Best"};
  return names[FQuality];
}

void TShockwaveFlash::SetQuality2(const std::string& v) {
  static const char* const names[] = {"Low", "High", "AutoLow", "AutoHigh", "Medium", "Best"};
  for (int i = 0; i < 6; ++i)
    if (SameText(v, names[i])) SetQuality(i);
}

void TShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  FVariables[LowerCase(name)] = value;
  if (SameText(name, "callbackvar"))
    Command(value);
  else
    update();
}

std::string TShockwaveFlash::GetVariable(const std::string& name) const {
  auto it = FVariables.find(LowerCase(name));
  return it == FVariables.end() ? std::string() : it->second;
}

// --- commands -----------------------------------------------------------------------------------

TMovieCard* TShockwaveFlash::CardByName(const std::string& name) {
  if (SameText(name, "Local")) return &FState.Local;
  if (SameText(name, "Target")) return &FState.Target;
  return nullptr;
}

TShockwaveFlash::CardAnim& TShockwaveFlash::AnimOf(const std::string& name) {
  return SameText(name, "Local") ? FLocalAnim : FTargetAnim;
}

// Card fields: display, flag, ip, country, city, then alpha and scale last.
// The country never holds a comma (the sender replaces them) and an IP
// address has none, so extra commas belong to the flag's path (up to the
// piece that ends in ".png") or else to the city.
void TShockwaveFlash::SetCardInfo(TMovieCard& card, const std::vector<std::string>& f) {
  const size_t n = f.size();  // f[0] is the card name
  std::vector<std::string> mid(f.begin() + 2, f.end() - 2);
  size_t flagEnd = 1;
  if (mid.size() > 4) {
    for (size_t k = 1; k + 3 <= mid.size(); ++k)
      if (EndsWithText(mid[k - 1], ".png")) {
        flagEnd = k;
        break;
      }
  }
  card.Display = f[1];
  card.FlagURL = Join(mid, 0, flagEnd);
  card.IP = flagEnd < mid.size() ? mid[flagEnd] : std::string();
  card.Country = flagEnd + 1 < mid.size() ? mid[flagEnd + 1] : std::string();
  card.City = Join(mid, flagEnd + 2, mid.size());
  card.Alpha = Percent(f[n - 2], card.Alpha);
  card.Scale = Percent(f[n - 1], card.Scale);
  if (!card.FlagURL.empty()) Picture(card.FlagURL);
}

void TShockwaveFlash::Command(const std::string& text) {
  CLDebugLog::Write(kTraceTag, "callbackvar=" + text);
  const std::vector<std::string> f = Fields(text);
  const std::string& verb = f[0];
  bool known = true;
  if (SameText(verb, "Background") && f.size() >= 2) {
    FState.Background = Join(f, 1, f.size());
    Picture(FState.Background);
  } else if (SameText(verb, "Logo") && f.size() >= 2) {
    FState.Logo = Join(f, 1, f.size());
    Picture(FState.Logo);
  } else if ((SameText(verb, "Info_Text") || SameText(verb, "Info_Text2")) && f.size() >= 3) {
    const bool second = SameText(verb, "Info_Text2");
    (second ? FState.InfoText2 : FState.InfoText) = Join(f, 1, f.size() - 1);
    (second ? FState.InfoColor2 : FState.InfoColor) = StrToIntDefault(Trim(f.back()), 0);
  } else if (SameText(verb, "Fade") && f.size() == 4 && CardByName(f[1])) {
    const bool in = SameText(f[2], "in");
    if (!in && !SameText(f[2], "out")) return;
    const int goal = Percent(f[3], 0);
    CardByName(f[1])->Alpha = goal;
    StartAlpha(f[1], goal, FScene->fadeMs);
  } else if (SameText(verb, "Turn") && f.size() == 2 && CardByName(f[1])) {
    StartTurn(SameText(f[1], "Local") ? "Local" : "Target");
  } else if (f.size() == 3 && verb.size() > 1 && (verb.back() == 'A' || verb.back() == 'a') &&
             CardByName(verb.substr(0, verb.size() - 1))) {
    const std::string name = verb.substr(0, verb.size() - 1);
    TMovieCard* card = CardByName(name);
    card->Alpha = Percent(f[1], card->Alpha);
    card->Scale = Percent(f[2], card->Scale);
    StartAlpha(name, card->Alpha, FScene->fadeMs / 2);
  } else if (f.size() >= 8 && CardByName(verb)) {
    TMovieCard* card = CardByName(verb);
    SetCardInfo(*card, f);
    // A card filled anew shows its alpha at once.
    StartAlpha(verb, card->Alpha, 0);
  } else {
    known = false;
  }
  if (known) ++FState.Commands;
  update();
}

double TShockwaveFlash::CardAlphaNow(const CardAnim& a) const {
  if (a.duration <= 0) return a.to;
  const double t =
      std::clamp(static_cast<double>(FClock.elapsed() - a.start) / a.duration, 0.0, 1.0);
  return a.from + (a.to - a.from) * t;
}

double TShockwaveFlash::ShownAlpha(const std::string& card) const {
  return CardAlphaNow(SameText(card, "Local") ? FLocalAnim : FTargetAnim);
}

void TShockwaveFlash::StartAlpha(const std::string& card, int percent, int durationMs) {
  CardAnim& a = AnimOf(card);
  const double now = CardAlphaNow(a);
  a.from = now;
  a.to = std::min(percent, 100) / 100.0;
  a.start = FClock.elapsed();
  a.duration = a.from == a.to ? 0 : durationMs;
  EnsureFrames();
}

double TShockwaveFlash::TurnProgress() const {
  if (FTurnStart < 0 || FScene->turnMs <= 0) return 1.0;
  return std::clamp(static_cast<double>(FClock.elapsed() - FTurnStart) / FScene->turnMs, 0.0, 1.0);
}

void TShockwaveFlash::StartTurn(const std::string& front) {
  if (front == FState.Front && TurnProgress() >= 1.0) return;
  FTurnFrom = FState.Front;
  FState.Front = front;
  FTurnStart = FClock.elapsed();
  EnsureFrames();
}

bool TShockwaveFlash::Animating() const {
  auto running = [this](const CardAnim& a) {
    return a.duration > 0 && FClock.elapsed() - a.start < a.duration;
  };
  return running(FLocalAnim) || running(FTargetAnim) || TurnProgress() < 1.0;
}

void TShockwaveFlash::EnsureFrames() {
  if (!Animating()) return;
  if (!FFrames) {
    FFrames = std::make_unique<QTimer>();
    QObject::connect(FFrames.get(), &QTimer::timeout, [this] { Frame(); });
  }
  if (!FFrames->isActive()) FFrames->start(FScene->frameMs);
}

void TShockwaveFlash::Frame() {
  update();
  if (!Animating()) FFrames->stop();
}

// --- layout -------------------------------------------------------------------------------------

QRectF TShockwaveFlash::CardRect(const std::string& card) const {
  const bool isFront = SameText(card, FState.Front);
  const QRectF& home = isFront ? FScene->front : FScene->back;
  QRectF r = home;
  const double t = TurnProgress();
  if (t < 1.0 && !SameText(FTurnFrom, FState.Front)) {
    const QRectF& from = isFront ? FScene->back : FScene->front;
    r = Lerp(from, home, Ease(t));
  }
  const TMovieCard& c = SameText(card, "Local") ? FState.Local : FState.Target;
  const double s = c.Scale / 100.0;
  if (s != 1.0) {
    const QPointF centre = r.center();
    r.setSize(r.size() * s);
    r.moveCenter(centre);
  }
  return r;
}

QRectF TShockwaveFlash::IPLineRect(const std::string& card) const {
  const TMovieCard& c = SameText(card, "Local") ? FState.Local : FState.Target;
  if (c.IP.empty()) return QRectF();
  const QRectF r = CardRect(card);
  const TCardLayout& l = LayoutFor(r);
  const double sx = r.width() / l.size.width();
  const double sy = r.height() / l.size.height();
  const QRectF& ip = l.ip;
  return QRectF(r.x() + ip.x() * sx, r.y() + ip.y() * sy, ip.width() * sx, ip.height() * sy);
}

const TShockwaveFlash::TCardLayout& TShockwaveFlash::LayoutFor(const QRectF& r) const {
  const double middle = (FScene->front.width() + FScene->back.width()) / 2;
  return r.width() < middle ? FScene->small : FScene->big;
}

QRectF TShockwaveFlash::LogoRect() const { return FSceneLoaded ? FScene->logo : QRectF(); }

// --- pictures -----------------------------------------------------------------------------------

QPixmap TShockwaveFlash::Picture(const std::string& fileOrUrl) {
  if (fileOrUrl.empty()) return QPixmap();
  auto it = FPictures.find(fileOrUrl);
  if (it != FPictures.end()) return it->second;
  QPixmap p;
  if (IsWebAddress(fileOrUrl)) {
    Fetch(fileOrUrl);
  } else {
    LoadPicture(fileOrUrl, p);
  }
  // A missing file counts as an empty picture; it is not looked for again.
  FPictures[fileOrUrl] = p;
  return p;
}

// The movie loads pictures given by web address itself, as a browser
// plug-in would: once per address, into the downloader's own private
// temporary file, read while the downloader still holds it.
void TShockwaveFlash::Fetch(const std::string& url) {
  if (FDownloads.count(url)) return;
  auto d = std::make_unique<TSingleDownloader>();
  d->URL = url;
  d->BinaryData = true;
  d->AcceptTypes = "*/*";
  d->OnDoneFile = [this, url](TSingleDownloader*, const std::string& file, int64_t) {
    QPixmap p;
    if (p.load(QStr(file))) FPictures[url] = p;
    update();
  };
  TSingleDownloader* raw = d.get();
  FDownloads[url] = std::move(d);
  raw->GetFile();
}

// --- drawing ------------------------------------------------------------------------------------

QPixmap TShockwaveFlash::Snapshot() {
  QPixmap pm(size());
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  PaintScene(p);
  return pm;
}

void TShockwaveFlash::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintScene(p);
}

void TShockwaveFlash::PaintScene(QPainter& p) {
  FDrawnTexts.clear();
  const bool smooth = FQuality != 0 && FQuality != 2;
  p.setRenderHint(QPainter::Antialiasing, smooth);
  p.setRenderHint(QPainter::TextAntialiasing, smooth);
  p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
  const QRectF all(0, 0, width(), height());
  if (!FSceneLoaded) {
    // A player without a movie shows an empty stage.
    p.fillRect(all, palette().window());
    return;
  }
  const Scene& s = *FScene;
  const QPixmap bg = Picture(FState.Background);
  if (!bg.isNull()) {
    p.drawPixmap(all, bg, QRectF(bg.rect()));
  } else {
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, s.bg1);
    g.setColorAt(1, s.bg2);
    p.fillRect(all, g);
  }
  const QPixmap logo = Picture(FState.Logo);
  if (!logo.isNull()) {
    QSizeF fit = QSizeF(logo.size()).scaled(s.logo.size(), Qt::KeepAspectRatio);
    QRectF r(s.logo.topLeft(), fit);
    p.drawPixmap(r, logo, QRectF(logo.rect()));
  } else {
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(static_cast<int>(s.logo.height() * 0.6));
    p.setFont(f);
    p.setPen(s.logoColor);
    p.drawText(s.logo, Qt::AlignLeft | Qt::AlignVCenter, s.logoText);
  }

  // The card behind first; while turning, the card coming to the front
  // passes over the other half-way.
  const std::string front = FState.Front;
  const std::string back = front == "Local" ? "Target" : "Local";
  const bool swapped = TurnProgress() < 0.5 && FTurnFrom != front;
  const std::string first = swapped ? front : back;
  const std::string second = swapped ? back : front;
  for (const std::string& name : {first, second}) {
    const TMovieCard& c = name == "Local" ? FState.Local : FState.Target;
    const double a = ShownAlpha(name);
    if (a <= 0.001) continue;
    PaintCard(p, name, c, CardRect(name), a);
  }

  auto line = [&](const std::string& text, int32_t colour, const QRectF& r, double px, bool bold) {
    if (text.empty()) return;
    QFont f = font();
    f.setPixelSize(static_cast<int>(px));
    f.setBold(bold);
    p.setFont(f);
    p.setPen(FromColorRef(colour));
    const QFontMetrics fm(f);
    const QString shown = fm.elidedText(QStr(text), Qt::ElideRight, static_cast<int>(r.width()));
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
    FDrawnTexts.push_back({std::string(), QStr(text), r, static_cast<double>(f.pixelSize()),
                           fm.horizontalAdvance(QStr(text)) <= r.width()});
  };
  // The information lines sit on a light strip so that any colour reads.
  if (!FState.InfoText.empty() || !FState.InfoText2.empty()) {
    QRectF strip = s.info.united(s.info2).adjusted(-6, -1, 6, 1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRoundedRect(strip, 4, 4);
  }
  line(FState.InfoText, FState.InfoColor, s.info, s.infoFont, true);
  line(FState.InfoText2, FState.InfoColor2, s.info2, s.info2Font, false);
}

void TShockwaveFlash::PaintCard(QPainter& p, const std::string& name, const TMovieCard& card,
                                const QRectF& r, double alpha) {
  const Scene& s = *FScene;
  const TCardLayout& l = LayoutFor(r);
  const double sx = r.width() / l.size.width(), sy = r.height() / l.size.height();
  p.save();
  p.setOpacity(alpha);
  p.translate(r.topLeft());
  p.scale(sx, sy);
  const QRectF box(QPointF(0, 0), l.size);
  QLinearGradient g(0, 0, 0, box.height());
  g.setColorAt(0, s.fill1);
  g.setColorAt(1, s.fill2);
  p.setBrush(g);
  p.setPen(QPen(s.border, 1.5));
  p.drawRoundedRect(box.adjusted(1, 1, -1, -1), s.radius, s.radius);

  // Each text is recorded as drawn: its place in the control and its size
  // on screen.
  auto record = [&](const QString& t, const QRectF& where, const QFont& f, bool fits) {
    FDrawnTexts.push_back(
        {name, t, p.transform().mapRect(where), f.pixelSize() * std::min(sx, sy), fits});
  };
  auto text = [&](const QString& t, const QRectF& where, double px, bool bold, const QColor& c) {
    if (t.isEmpty()) return;
    QFont f = font();
    f.setPixelSize(std::max(1, static_cast<int>(px)));
    f.setBold(bold);
    p.setFont(f);
    p.setPen(c);
    const QFontMetrics fm(f);
    const bool fits = fm.horizontalAdvance(t) <= where.width() && fm.height() <= where.height() + 2;
    p.drawText(where, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(t, Qt::ElideRight, static_cast<int>(where.width())));
    record(t, where, f, fits);
  };
  const bool live = SameText(card.Display, "True");
  // A card without its display flag holds no location of its own (the fake
  // card while not hiding): it is drawn faded, without the values it was
  // filled with, so that nobody takes them for a location in use.
  const bool idle = !live && (!card.IP.empty() || !card.Country.empty() || !card.FlagURL.empty());
  // The window's own wording (its language) wins over the movie's.
  QString titleText = QStr(GetVariable(name + "_title"));
  if (titleText.isEmpty()) {
    const auto fromMovie = s.titles.find(name);
    if (fromMovie != s.titles.end()) titleText = fromMovie->second;
  }
  if (l.titleUpper) titleText = titleText.toUpper();
  if (idle) {
    text(titleText, l.title, l.titleFont, true, s.titleOff);
    p.setOpacity(alpha * 0.55);
    p.setPen(QPen(s.border, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(l.flag, 4, 4);
    const QString idleText = QStr(GetVariable("idle_text"));
    const QRectF lines(l.ip.x(), l.ip.y(), l.ip.width(), l.city.bottom() - l.ip.y());
    if (!idleText.isEmpty()) {
      QFont f = font();
      f.setPixelSize(std::max(1, static_cast<int>(l.cityFont)));
      p.setFont(f);
      p.setPen(s.sub);
      const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
      const QRectF need = QFontMetricsF(f).boundingRect(lines, flags, idleText);
      p.drawText(lines, flags, idleText);
      record(idleText, lines, f, need.width() <= lines.width() && need.height() <= lines.height());
    }
    p.restore();
    return;
  }
  if (!titleText.isEmpty()) {
    // The card in use carries a dot before its title.
    QRectF t = l.title;
    if (live) {
      p.setPen(Qt::NoPen);
      p.setBrush(s.titleOn);
      const double d = std::min(t.height() * 0.55, 8.0);
      p.drawEllipse(QRectF(t.x(), t.center().y() - d / 2, d, d));
      t.setLeft(t.x() + d + 5);
    }
    text(titleText, t, l.titleFont, true, live ? s.titleOn : s.titleOff);
  }
  const QPixmap flag = Picture(card.FlagURL);
  if (!flag.isNull()) {
    p.drawPixmap(l.flag, flag, QRectF(flag.rect()));
  } else if (!card.FlagURL.empty() || !card.IP.empty()) {
    p.setPen(QPen(s.border, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(l.flag, 4, 4);
  }
  text(QStr(card.IP), l.ip, l.ipFont, true, s.link);
  if (!card.IP.empty()) {
    // The IP line is a link: underline it.
    QFont f = font();
    f.setPixelSize(static_cast<int>(l.ipFont));
    f.setBold(true);
    const double w =
        std::min<double>(QFontMetrics(f).horizontalAdvance(QStr(card.IP)), l.ip.width());
    p.setPen(QPen(s.link, 1));
    p.drawLine(QPointF(l.ip.x(), l.ip.bottom() - 2), QPointF(l.ip.x() + w, l.ip.bottom() - 2));
  }
  text(QStr(card.Country), l.country, l.countryFont, false, s.text);
  text(QStr(card.City), l.city, l.cityFont, false, s.sub);
  p.restore();
}

// --- input --------------------------------------------------------------------------------------

int64_t TShockwaveFlash::Perform(uint32_t msg, int64_t wParam, int64_t lParam) {
  TMessage m{msg, wParam, lParam, 0};
  if (WindowProc)
    WindowProc(m);
  else
    DefaultWndProc(m);
  return m.Result;
}

void TShockwaveFlash::mousePressEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  if (e->button() == Qt::LeftButton) Perform(WM_LBUTTONDOWN_MSG, 1, MakeLParam(at.x(), at.y()));
  if (e->button() == Qt::RightButton) Perform(WM_RBUTTONDOWN_MSG, 2, MakeLParam(at.x(), at.y()));
  e->accept();
}

void TShockwaveFlash::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  if (e->button() == Qt::LeftButton) Perform(WM_LBUTTONUP_MSG, 0, MakeLParam(at.x(), at.y()));
  if (e->button() == Qt::RightButton) Perform(WM_RBUTTONUP_MSG, 0, MakeLParam(at.x(), at.y()));
  e->accept();
}

// The window system's own context-menu request is not used: the player
// opens its menu from the right-button-down message only.
void TShockwaveFlash::contextMenuEvent(QContextMenuEvent* e) { e->accept(); }

void TShockwaveFlash::DefaultWndProc(TMessage& message) {
  const int x = static_cast<int16_t>(message.LParam & 0xFFFF);
  const int y = static_cast<int16_t>((message.LParam >> 16) & 0xFFFF);
  switch (message.Msg) {
    case WM_RBUTTONDOWN_MSG: ShowContextMenu(mapToGlobal(QPoint(x, y))); break;
    case WM_LBUTTONUP_MSG: HitTest(QPoint(x, y)); break;
    default: break;
  }
  message.Result = 0;
}

void TShockwaveFlash::ShowContextMenu(const QPoint& at) {
  if (FContextMenu) FContextMenu->close();
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->setObjectName("swfContextMenu");
  if (FMenu) {
    QAction* loop = menu->addAction("Loop");
    loop->setCheckable(true);
    loop->setChecked(FLoop);
    QObject::connect(loop, &QAction::toggled, [this](bool v) { SetLoop(v); });
    QAction* quality = menu->addAction("High Quality");
    quality->setCheckable(true);
    quality->setChecked(FQuality != 0 && FQuality != 2);
    QObject::connect(quality, &QAction::toggled, [this](bool v) { SetQuality(v ? 1 : 0); });
    menu->addSeparator();
  }
  menu->addAction("About Veilgate Movie Player")->setEnabled(false);
  FContextMenu = menu;
  menu->popup(at);
}

void TShockwaveFlash::HitTest(const QPoint& at) {
  if (!OnFSCommand) return;
  if (LogoRect().contains(at)) {
    OnFSCommand(this, "CMD", "HOMEPAGE");
    return;
  }
  // The card in front is tested first; a card faded out cannot be clicked.
  const std::string front = FState.Front;
  const std::string back = front == "Local" ? "Target" : "Local";
  for (const std::string& name : {front, back}) {
    if (ShownAlpha(name) < 0.05) continue;
    if (IPLineRect(name).contains(at)) {
      OnFSCommand(this, "CMD", "CHECKIPINFO");
      return;
    }
    // The card covers what lies behind it.
    if (CardRect(name).contains(at)) return;
  }
}
