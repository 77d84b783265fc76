#pragma once

// Process-wide settings of Marquelo, shared by the program and its GUI tests.

#include <functional>

// Before the QApplication exists: when running as root, lets the browser engine run without
// its sandbox (it refuses to start otherwise).
void PrepareBrowserEngine();

// What the program does once its window is painted: the application's icon
// (SetApplicationIcon), ShareGraphicsContext, then the preview module starts loading beside the
// user's typing (PreloadPreviewModule). Never raises.
void PrepareFirstPreview();

// Sets the icon of every window of the application, the shown ones included.
void SetApplicationIcon();

class QWidget;

// Runs work once, on the GUI thread, after widget has been painted for the first time (so its
// window is on the screen). widget owns the watch.
void AfterFirstPaint(QWidget& widget, std::function<void()> work);

// After the QApplication exists: registers the compiled-in resources (banner, icons); the
// application's name "Marquelo" (it titles every message box), version and desktop entry, and
// the stand-in fonts for the window's design font. The icon comes later (SetApplicationIcon).
void SetApplicationIdentity();

class TSlideshowForm;

// Shows the window and runs the event loop until it is closed; returns the loop's status.
// A window closed during a page read ends the process before this returns (see the .cpp).
int RunMainWindow(TSlideshowForm& form);
