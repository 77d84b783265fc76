#pragma once

// What the window benchmarks share: the application made as the program makes it, a run that
// leaves nothing behind and shows no box, and the window shown and made the active one, as a
// user's is before the first press (keys reach the window, and Esc its shortcut, only while it
// is active).

#include "app/Application.h"
#include "app/FailureDisplay.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <cstdio>

// The whole of a benchmark's main: the browser engine prepared before the QApplication exists,
// the program's identity set, then body given the command line; returns what body returns.
template <class Body> int RunWindowBenchmark(int argc, char* argv[], Body body) {
  PrepareBrowserEngine();
  QApplication application(argc, argv);
  SetApplicationIdentity();
  return body(QCoreApplication::arguments());
}

// Shows window and waits until it is exposed and active; false, with a line on standard error
// naming who, when either does not happen within QTest's default wait.
inline bool ShowActive(QWidget& window, const char* who) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "%s: the window was not shown\n", who);
    return false;
  }
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window)) {
    std::fprintf(stderr, "%s: the window did not become active\n", who);
    return false;
  }
  return true;
}

// For the benchmark's whole run, once the QApplication exists: every preview file goes to a
// directory of the run's own, removed at the end, and every message box the window would show
// is counted in `messages` and written to standard error instead.
class QuietRun {
public:
  QuietRun() {
    qputenv("TMPDIR", QFile::encodeName(previews_.path()));
    SetMessagePresenter(
        [this](QMessageBox::Icon, const QString&, const QString& text, const QString&) {
          ++messages;
          std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        });
  }
  Q_DISABLE_COPY(QuietRun)

  int messages = 0;

private:
  QTemporaryDir previews_;
};
