#include "app/Application.h"

#include "app/BuildConfig.h"
#include "app/GraphicsContext.h"
#include "app/PreviewModule.h"
#include "app/SlideshowUnit.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

class FirstPaintWatch : public QObject {
public:
  FirstPaintWatch(QWidget& widget, std::function<void()> work)
      : QObject(&widget), work_(std::move(work)) {
    widget.installEventFilter(this);
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      // After the paint has reached the screen, not inside it.
      QTimer::singleShot(0, watched, std::move(work_));
      deleteLater();
    }
    return QObject::eventFilter(watched, event);
  }

private:
  std::function<void()> work_;
};

} // namespace

void PrepareBrowserEngine() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
}

void SetApplicationIcon() {
  // Reading the icons makes Qt look through its image plugins first, which would hold back
  // the window's first appearance; a shown window takes its icon when it is set.
  QIcon icon(QStringLiteral(":/marquelo-16.png"));
  icon.addFile(QStringLiteral(":/marquelo-64.png"));
  QApplication::setWindowIcon(icon);
}

void PrepareFirstPreview() {
  SetApplicationIcon();
  ShareGraphicsContext();
  PreloadPreviewModule();
}

void AfterFirstPaint(QWidget& widget, std::function<void()> work) {
  new FirstPaintWatch(widget, std::move(work));
}

void SetApplicationIdentity() {
  // The resources live in a static library; naming them keeps the linker from dropping them.
  Q_INIT_RESOURCE(marquelo);
  // Only the name: a display name would be appended to every window title.
  QCoreApplication::setApplicationName(QStringLiteral("Marquelo"));
  QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELO_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("marquelo"));
  // The window was designed in Tahoma; where it is missing, a condensed sans keeps the labels
  // within the width they were laid out for.
  QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans Condensed"),
                                                        QStringLiteral("Sans Serif")});
}

int RunMainWindow(TSlideshowForm& form) {
  form.show();
  const int status = QApplication::exec();
  if (form.ReaderRunning()) {
    // Closing cancelled a page read, and its thread may still be inside a name lookup, which
    // nothing can cut short; tearing the program down under it is not safe, and waiting for it
    // would keep a closed program running. Nothing is left to save: every preview file is
    // written and closed, and the system takes back the socket and the memory.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
