// The window's tests need a QApplication (and for the preview, the browser engine) before any
// widget exists, so this layer brings its own main().

#include "app/Application.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The preview page embeds the player from the service's host. Tests must not reach out, so
// the browser engine resolves no name at all (local files still load). The engine takes its
// switches from this variable, quotes included, and then ignores the program's arguments.
void KeepBrowserEngineOffline() {
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!flags.contains("--disable-gpu")) {
    flags += " --disable-gpu";
  }
  flags += " --host-resolver-rules=\"MAP * ~NOTFOUND\"";
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

} // namespace

int main(int argc, char* argv[]) {
  testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) {
    return RUN_ALL_TESTS();
  }
  KeepBrowserEngineOffline();
  PrepareBrowserEngine();
  QApplication application(argc, argv);
  SetApplicationIdentity();
  return RUN_ALL_TESTS();
}
