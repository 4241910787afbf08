// The popup's movie player: a scene description file (the player's own
// format, read from the program's data folder, where a damaged or foreign
// file may lie) followed by the popup's text commands. Whatever the file
// and the commands hold, loading, acting on the commands and drawing a
// frame must neither crash nor leave the player in a state it cannot draw;
// a file without the format value is not a movie.
//
// Input: the scene file, a NUL byte, then commands separated by NUL bytes.
// Commands are kept away from the network and from the file system (no
// "://", no "/"), so that a picture name never makes the player fetch an
// address or read a device file: those paths belong to the downloader and
// to Qt's picture readers, which have their own checks.
#include <QApplication>

#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "vcl/ShockwaveFlash.h"

namespace {

std::string Tame(std::string s) {
  for (char& c : s)
    if (c == '/' || c == '\\') c = '_';
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::EnterSandbox();
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Kept to the end of the process: fonts and glyph caches the frames
  // filled belong to it, and destroying it among the static objects at exit
  // would come after Qt's own thread storage is gone.
  static QApplication* const app = new QApplication(*argc, *argv);
  (void)app;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::string scene = in.Piece(0);
  fuzz::PutFile("app/res/movie.dat", scene);
  TShockwaveFlash player(nullptr);
  player.resize(534, 180);
  player.SetMovie(fuzz::AppDir() + "res/movie.dat");
  // A scene names its format (in any case) on a line of its own; without
  // it nothing loads.
  std::string lower = scene;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  if (lower.find("veilgate-scene") == std::string::npos)
    FUZZ_CHECK(!player.MovieLoaded(), "a file without the format line loaded as a movie");
  int commands = 0;
  while (!in.Empty() && commands < 64) {
    player.SetVariable("callbackvar", Tame(in.Piece(0)));
    ++commands;
  }
  const QPixmap frame = player.Snapshot();
  FUZZ_CHECK(frame.width() == 534 && frame.height() == 180, "the frame has the control's size");
  for (const char* card : {"Local", "Target"}) {
    const double alpha = player.ShownAlpha(card);
    FUZZ_CHECK(alpha >= 0.0 && alpha <= 1.0, std::string("opacity out of range for ") + card);
  }
  return 0;
}
