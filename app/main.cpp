#include "app/Application.h"
#include "app/DesktopProxy.h"
#include "app/FailureDisplay.h"
#include "app/SlideshowUnit.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
  PrepareBrowserEngine();
  QApplication application(argc, argv);
  SetApplicationIdentity();
  std::unique_ptr<TSlideshowForm> SlideshowForm;
  try {
    SlideshowForm = std::make_unique<TSlideshowForm>();
  } catch (const std::exception& failure) {
    // The window could not be built: say why where a terminal may see it, then in the box.
    std::fprintf(stderr, "marquelo: %s\n", failure.what());
    ShowFailure(failure);
    return 1;
  }
  // Once the window is on the screen, the graphics context the preview shares is made and the
  // browser engine's libraries load beside the user's typing, so that neither the window nor
  // the first preview waits for them.
  AfterFirstPaint(*SlideshowForm, PrepareFirstPreview);
  // The same goes for libproxy, which the first Create asks when the desktop sets the proxy.
  AfterFirstPaint(*SlideshowForm, PrepareDesktopProxy);
  return RunMainWindow(*SlideshowForm);
}
