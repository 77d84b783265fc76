#include "app/Application.h"

#include "app/BuildConfig.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include <unistd.h>

void PrepareBrowserEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
}

void SetApplicationIdentity() {
  // The resources live in a static library; naming them keeps the linker from dropping them.
  Q_INIT_RESOURCE(marquelo);
  // Only the name: a display name would be appended to every window title.
  QCoreApplication::setApplicationName(QStringLiteral("Marquelo"));
  QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELO_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("marquelo"));
  QIcon icon(QStringLiteral(":/marquelo-16.png"));
  icon.addFile(QStringLiteral(":/marquelo-64.png"));
  QApplication::setWindowIcon(icon);
  // The window was designed in Tahoma; where it is missing, a condensed sans keeps the labels
  // within the width they were laid out for.
  QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans Condensed"),
                                                        QStringLiteral("Sans Serif")});
}
