#include "vcl/PicturePreload.h"

#include <QImage>
#include <QImageReader>
#include <QThreadPool>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace {
struct TPreload {
  bool done = false;
  QImage image;
};

// The registry outlives everything: a decoding may still run while the
// program ends (the pool is waited for only when the application object
// goes, and a test's one never goes).
struct TRegistry {
  std::mutex lock;
  std::condition_variable decoded;
  std::map<std::string, std::shared_ptr<TPreload>> files;
};
TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

QImage Decode(const std::string& file) {
  QImageReader reader(QString::fromStdString(file));
  return reader.read();
}
}  // namespace

void PreloadPictures(const std::vector<std::string>& files) {
  TRegistry& r = Registry();
  for (const std::string& file : files) {
    auto entry = std::make_shared<TPreload>();
    {
      std::lock_guard<std::mutex> guard(r.lock);
      if (!r.files.emplace(file, entry).second) continue;
    }
    QThreadPool::globalInstance()->start([file, entry] {
      QImage image = Decode(file);
      TRegistry& r = Registry();
      std::lock_guard<std::mutex> guard(r.lock);
      entry->image = std::move(image);
      entry->done = true;
      r.decoded.notify_all();
    });
  }
}

bool LoadPicture(const std::string& file, QPixmap& out) {
  TRegistry& r = Registry();
  QImage image;
  bool preloaded = false;
  {
    std::unique_lock<std::mutex> guard(r.lock);
    auto it = r.files.find(file);
    if (it != r.files.end()) {
      std::shared_ptr<TPreload> entry = it->second;
      r.decoded.wait(guard, [&] { return entry->done; });
      image = std::move(entry->image);
      r.files.erase(file);
      preloaded = true;
    }
  }
  if (!preloaded) image = Decode(file);
  if (image.isNull()) return false;
  out = QPixmap::fromImage(std::move(image));
  return !out.isNull();
}

size_t PreloadedPicturesWaiting() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.files.size();
}
