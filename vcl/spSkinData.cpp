#include "vcl/spSkinData.h"

#include <QFile>
#include <QStyle>

#include <zlib.h>

#include <algorithm>

#include "net/CLUtils.h"
#include "platform/Files.h"
#include "vcl/Forms.h"

// --- compression --------------------------------------------------------------------------

std::string SkinCompress(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                Z_BEST_COMPRESSION) != Z_OK)
    return std::string();
  out.resize(size);
  return out;
}

bool SkinDecompress(const std::string& bytes, std::string& text, size_t maxSize) {
  if (bytes.empty()) return false;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  char buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.append(buf, sizeof buf - zs.avail_out);
    if (out.size() > maxSize) {
      rc = Z_MEM_ERROR;
      break;
    }
    if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) {
      rc = Z_DATA_ERROR;  // input ended before the stream did
      break;
    }
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return false;
  text = std::move(out);
  return true;
}

namespace {
bool ReadSkinFile(const std::string& fn, std::string& text) {
  std::string bytes;
  if (!platform::ReadWholeFile(fn, bytes)) return false;
  return SkinDecompress(bytes, text);
}
}  // namespace

// --- TspCompressedStoredSkin -------------------------------------------------------------------

TspCompressedStoredSkin::TspCompressedStoredSkin(TCLComponent* AOwner) : TCLComponent(AOwner) {}

const TCLPropTable& TspCompressedStoredSkin::PropTable() const {
  using S = TspCompressedStoredSkin;
  static const TCLPropTable table =
      TCLPropBuilder<S>(&TCLComponent::ComponentProps())
          .Text("CompressedFileName", "string", &S::CompressedFileName, &S::SetCompressedFileName)
          .Plain("Description", "string", TCLTypeKind::LString)
          .Build();
  return table;
}

bool TspCompressedStoredSkin::LoadFromCompressedFile(const std::string& fn) {
  std::string bytes, text;
  if (!platform::ReadWholeFile(fn, bytes) || !SkinDecompress(bytes, text)) return false;
  FCompressed = bytes;
  FCompressedFileName = ExtractFileName(fn);
  return true;
}

std::string TspCompressedStoredSkin::DefaultStyleSheet() {
  QFile f(":/skins/Default.qss");
  if (!f.open(QIODevice::ReadOnly)) return std::string();
  return f.readAll().toStdString();
}

void TspCompressedStoredSkin::LoadDefaultSkin() { SetStyleSheet(DefaultStyleSheet()); }

void TspCompressedStoredSkin::SetStyleSheet(const std::string& text) {
  FCompressed = text.empty() ? std::string() : SkinCompress(text);
}

std::string TspCompressedStoredSkin::StyleSheet() const {
  std::string text;
  if (!FCompressed.empty()) SkinDecompress(FCompressed, text);
  return text;
}

// --- TspResourceStrData -------------------------------------------------------------------------

TspResourceStrData::TspResourceStrData(TCLComponent* AOwner)
    : TCLComponent(AOwner), FResStrings(BuiltIn()) {}

const TCLPropTable& TspResourceStrData::PropTable() const {
  using R = TspResourceStrData;
  static const TCLPropTable table = TCLPropBuilder<R>(&TCLComponent::ComponentProps())
                                        .Strings("ResStrings", &R::GetResStrings, &R::SetResStrings)
                                        .Build();
  return table;
}

const TStringList& TspResourceStrData::BuiltIn() {
  static const TStringList table(std::vector<std::string>{
      "MSG_BTN_YES=&Yes",
      "MSG_BTN_NO=&No",
      "MSG_BTN_OK=OK",
      "MSG_BTN_CANCEL=Cancel",
      "MSG_BTN_ABORT=&Abort",
      "MSG_BTN_RETRY=&Retry",
      "MSG_BTN_IGNORE=&Ignore",
      "MSG_BTN_ALL=&All",
      "MSG_BTN_NOTOALL=N&oToAll",
      "MSG_BTN_YESTOALL=&YesToAll",
      "MSG_BTN_HELP=&Help",
      "MSG_CAP_WARNING=Warning",
      "MSG_CAP_ERROR=Error",
      "MSG_CAP_INFORMATION=Information",
      "MSG_CAP_CONFIRM=Confirm",
      "MSG_CAP_SHOWFLAG=Do not display this message again",
      "MI_MINCAPTION=Mi&nimize",
      "MI_MAXCAPTION=Ma&ximize",
      "MI_RESTORECAPTION=&Restore",
      "MI_CLOSECAPTION=&Close",
      "MI_ROLLUPCAPTION=Roll &Up",
      "MI_MINTOTRAYCAPTION=Minimize to &Tray",
  });
  return table;
}

std::string TspResourceStrData::BuiltInStr(const std::string& name) {
  return BuiltIn().Values(name);
}

std::string TspResourceStrData::GetResStr(const std::string& name) const {
  const int i = FResStrings.IndexOfName(name);
  return i >= 0 ? FResStrings.ValueFromIndex(i) : BuiltInStr(name);
}

// --- TspSkinData ------------------------------------------------------------------------------------

TspSkinData::TspSkinData(TCLComponent* AOwner) : TCLComponent(AOwner) {}

TspSkinData::~TspSkinData() {
  const std::vector<ISkinDataClient*> clients = FClients;
  FClients.clear();
  for (ISkinDataClient* c : clients) c->SkinDataDestroyed(this);
}

const TCLPropTable& TspSkinData::PropTable() const {
  using D = TspSkinData;
  static const TCLPropTable table =
      TCLPropBuilder<D>(&TCLComponent::ComponentProps())
          .Object<TspCompressedStoredSkin>("CompressedStoredSkin", "TspCompressedStoredSkin",
                                           &D::CompressedStoredSkin, &D::SetCompressedStoredSkin)
          .Object<TspResourceStrData>("ResourceStrData", "TspResourceStrData", &D::ResourceStrData,
                                      &D::SetResourceStrData)
          .Plain("SkinnableForm", "Boolean", TCLTypeKind::Enumeration)
          .Plain("ShowButtonGlowFrames", "Boolean", TCLTypeKind::Enumeration)
          .Plain("ShowCaptionButtonGlowFrames", "Boolean", TCLTypeKind::Enumeration)
          .Build();
  return table;
}

bool TspSkinData::LoadFromCompressedFile(const std::string& fn) {
  std::string text;
  if (!ReadSkinFile(fn, text)) return false;
  FStyleSheet = text;
  FSkinFile = fn;
  Changed();
  return true;
}

void TspSkinData::ClearSkin() {
  FStyleSheet.clear();
  FSkinFile.clear();
  Changed();
}

void TspSkinData::SetCompressedStoredSkin(TspCompressedStoredSkin* s) {
  FStoredSkin = s;
  if (!s) return;
  FStyleSheet = s->StyleSheet();
  FSkinFile.clear();
  Changed();
}

void TspSkinData::SetSkinnableForm(bool v) {
  if (FSkinnableForm == v) return;
  FSkinnableForm = v;
  Changed();
}

void TspSkinData::SetShowButtonGlowFrames(bool v) {
  if (FShowButtonGlowFrames == v) return;
  FShowButtonGlowFrames = v;
  Changed();
}

void TspSkinData::SetShowCaptionButtonGlowFrames(bool v) {
  if (FShowCaptionButtonGlowFrames == v) return;
  FShowCaptionButtonGlowFrames = v;
  Changed();
}

void TspSkinData::ApplyTo(QWidget* w) const {
  if (!w) return;
  // Skins draw the hover glow of buttons and caption buttons only under
  // these switches, e.g. TForm[spButtonGlow="true"] QPushButton:hover.
  w->setProperty("spButtonGlow", FShowButtonGlowFrames);
  w->setProperty("spCaptionGlow", FShowCaptionButtonGlowFrames);
  w->setStyleSheet(QStr(FStyleSheet));
}

void TspSkinData::AddClient(ISkinDataClient* c) {
  if (std::find(FClients.begin(), FClients.end(), c) == FClients.end()) FClients.push_back(c);
}

void TspSkinData::RemoveClient(ISkinDataClient* c) { std::erase(FClients, c); }

void TspSkinData::Changed() {
  ++FChangeCount;
  const std::vector<ISkinDataClient*> clients = FClients;
  for (ISkinDataClient* c : clients)
    if (std::find(FClients.begin(), FClients.end(), c) != FClients.end()) c->SkinChanged(this);
}

void TspSkinData::Notification(TCLComponent* AComponent) {
  if (AComponent == FStoredSkin) FStoredSkin = nullptr;
  if (AComponent == FResourceStrData) FResourceStrData = nullptr;
}
