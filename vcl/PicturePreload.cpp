#include "vcl/PicturePreload.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QSysInfo>
#include <png.h>

#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {
// A picture decoded ahead, in the memory layout of QImage::Format_ARGB32
// (or Format_RGB32 without alpha) on a little-endian machine.
struct TPreload {
  bool done = false;
  bool decoded = false;
  bool alpha = false;
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// The registry outlives everything: a decoding may still run while the
// program ends, and its thread is never waited for.
struct TRegistry {
  std::mutex lock;
  std::condition_variable finished;
  std::map<std::string, std::shared_ptr<TPreload>> files;
};
TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

struct TPngInput {
  const std::string* data;
  size_t pos = 0;
};

void ReadPngBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* in = static_cast<TPngInput*>(png_get_io_ptr(png));
  if (in->data->size() - in->pos < count) png_error(png, "truncated");
  std::memcpy(out, in->data->data() + in->pos, count);
  in->pos += count;
}

// Errors end the decoding quietly (the picture is then left to Qt, which
// reports nothing either); warnings are of no use here.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Decodes the PNG pictures whose pixels libpng gives exactly as Qt's own
// reader does: 8 bits per channel, RGB or RGBA, no transparency chunk. The
// rest is left to Qt (false), as is anything that fails. Runs without Qt,
// so it may run before the application object exists.
bool DecodePng(const std::string& data, TPreload& out) {
  if (QSysInfo::ByteOrder != QSysInfo::LittleEndian) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  // Everything changed after setjmp lives behind this pointer, so a jump
  // back from a libpng error finds it intact.
  auto rows = std::make_unique<std::vector<png_bytep>>();
  TPngInput input{&data};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    out.pixels.clear();
    return false;
  }
  png_set_read_fn(png, &input, ReadPngBytes);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  const bool supported = depth == 8 &&
                         (type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_RGB_ALPHA) &&
                         !png_get_valid(png, info, PNG_INFO_tRNS) && width > 0 && height > 0 &&
                         width <= 16384 && height <= 16384;
  if (!supported) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_bgr(png);
  if (type == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0xff, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  out.pixels.resize(static_cast<size_t>(width) * height);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = reinterpret_cast<png_bytep>(&out.pixels[static_cast<size_t>(y) * width]);
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.alpha = type == PNG_COLOR_TYPE_RGB_ALPHA;
  return true;
}

// A regular file's bytes; anything else (a folder, a device, a file that
// cannot be read) gives false.
bool ReadFileBytes(const std::string& file, std::string& data) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

QImage DecodeWithQt(const std::string& file) {
  QImageReader reader(QString::fromStdString(file));
  return reader.read();
}
}  // namespace

void PreloadPictures(const std::vector<std::string>& files) {
  TRegistry& r = Registry();
  // Each job: the entry, and the file's bytes when Qt has to read them (a
  // compiled-in resource); a plain file is read on the decoding thread.
  struct TJob {
    std::string file;
    std::shared_ptr<TPreload> entry;
    bool haveBytes = false;
    std::string bytes;
  };
  auto jobs = std::make_shared<std::vector<TJob>>();
  for (const std::string& file : files) {
    auto entry = std::make_shared<TPreload>();
    {
      std::lock_guard<std::mutex> guard(r.lock);
      if (!r.files.emplace(file, entry).second) continue;
    }
    TJob job;
    job.file = file;
    job.entry = entry;
    if (file.rfind(":/", 0) == 0) {
      QFile resource(QString::fromStdString(file));
      if (resource.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = resource.readAll();
        job.bytes.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
      }
      job.haveBytes = true;
    }
    jobs->push_back(std::move(job));
  }
  if (jobs->empty()) return;
  // One thread decodes the files in the order given (the first needed
  // first); nothing waits for it to end.
  std::thread([jobs] {
    for (TJob& job : *jobs) {
      TPreload picture;
      // Whatever goes wrong here leaves the picture to Qt on the
      // user-interface thread, which reports it as it always does.
      try {
        std::string bytes;
        if (job.haveBytes || ReadFileBytes(job.file, bytes))
          picture.decoded = DecodePng(job.haveBytes ? job.bytes : bytes, picture);
      } catch (...) {
        picture = TPreload();
      }
      TRegistry& r = Registry();
      std::lock_guard<std::mutex> guard(r.lock);
      *job.entry = std::move(picture);
      job.entry->done = true;
      r.finished.notify_all();
    }
  }).detach();
}

std::string HighDensityVariant(const std::string& file) {
  if (!qGuiApp || qGuiApp->devicePixelRatio() < 1.5) return std::string();
  const size_t slash = file.find_last_of("/\\");
  const size_t dot = file.rfind('.');
  const bool hasSuffix = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string variant =
      hasSuffix ? file.substr(0, dot) + "@2x" + file.substr(dot) : file + "@2x";
  std::error_code ec;
  return std::filesystem::is_regular_file(variant, ec) ? variant : std::string();
}

bool LoadPicture(const std::string& file, QPixmap& out) {
  // On a screen of twice the pixel density a picture drawn for it is taken
  // when there is one; it keeps the size of the plain one on screen.
  if (const std::string dense = HighDensityVariant(file); !dense.empty()) {
    QImage image = DecodeWithQt(dense);
    if (!image.isNull()) {
      image.setDevicePixelRatio(2.0);
      out = QPixmap::fromImage(std::move(image));
      if (!out.isNull()) {
        // The plain picture decoded ahead is not going to be taken.
        ForgetPreloadedPictures({file});
        return true;
      }
    }
  }
  TRegistry& r = Registry();
  std::shared_ptr<TPreload> entry;
  {
    std::unique_lock<std::mutex> guard(r.lock);
    auto it = r.files.find(file);
    if (it != r.files.end()) {
      entry = it->second;
      r.files.erase(it);
      r.finished.wait(guard, [&] { return entry->done; });
    }
  }
  QImage image;
  if (entry && entry->decoded) {
    // The image takes over the decoded pixels; they go with it.
    auto* pixels = new std::vector<uint32_t>(std::move(entry->pixels));
    image = QImage(
        reinterpret_cast<const uchar*>(pixels->data()), entry->width, entry->height,
        entry->width * 4, entry->alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32,
        [](void* p) { delete static_cast<std::vector<uint32_t>*>(p); }, pixels);
  } else {
    // Not preloaded, or of a kind left to Qt, or not a picture at all.
    image = DecodeWithQt(file);
  }
  if (image.isNull()) return false;
  out = QPixmap::fromImage(std::move(image));
  return !out.isNull();
}

size_t PreloadedPicturesWaiting() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.files.size();
}

void ForgetPreloadedPictures(const std::vector<std::string>& files) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const std::string& file : files) r.files.erase(file);
}
