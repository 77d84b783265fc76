#include "app/PreviewModule.h"

#include "app/AppResourceStrings.h"
#include "app/BuildConfig.h"
#include "app/GraphicsContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QPluginLoader>

#include <mutex>
#include <thread>

namespace {

// The first directory's module file that exists, or empty text.
QString FindModule(const QStringList& directories) {
  for (const QString& directory : directories) {
    QString path = QDir(directory).filePath(kPreviewModuleFileName);
    if (QFileInfo::exists(path)) {
      return path;
    }
  }
  return {};
}

// The one preloading thread of the run; its destructor, at exit, waits for it, so that the
// libraries are never unmapped under a load still running.
class Preloader {
public:
  ~Preloader() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  void Start(const QString& path) {
    const std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
      return;
    }
    thread_ = std::thread([path] {
      // Only the mapping and the libraries' own start-up; the plugin object is made on the
      // GUI thread by LoadPreviewEngine. QLibrary keeps the library loaded when it goes.
      QLibrary library(path);
      library.load();
    });
  }

private:
  std::mutex mutex_;
  std::thread thread_;
};

} // namespace

QStringList PreviewModuleDirectories() {
  const QString programDirectory = QCoreApplication::applicationDirPath();
  return {programDirectory,
          QDir::cleanPath(programDirectory + u'/' + QStringLiteral(MARQUELO_MODULE_DIR_FROM_BIN))};
}

TPreviewEngine& LoadPreviewEngine(const QStringList& directories) {
  // The engine looks for the shared context when it starts, which is now at the latest.
  ShareGraphicsContext();
  const QString path = FindModule(directories);
  if (path.isEmpty()) {
    throw EPreviewModuleError(RSCantLoadPreviewModule().arg(
        kPreviewModuleFileName,
        RSPreviewModuleNotFound().arg(directories.join(QStringLiteral(", ")))));
  }
  // The loader keeps one instance per library for the run, however often it is asked.
  QPluginLoader loader(path);
  auto* engine = qobject_cast<TPreviewEngine*>(loader.instance());
  if (engine == nullptr) {
    throw EPreviewModuleError(RSCantLoadPreviewModule().arg(path, loader.errorString()));
  }
  return *engine;
}

void PreloadPreviewModule(const QStringList& directories) {
  const QString path = FindModule(directories);
  if (path.isEmpty()) {
    return;
  }
  static Preloader preloader;
  preloader.Start(path);
}
