#pragma once

// Process-wide settings of Marquelo, shared by the program and its GUI tests.

// Before the QApplication exists: lets the browser engine share graphics contexts with the
// window, and, when running as root, run without its sandbox (it refuses to start otherwise).
void PrepareBrowserEngine();

// After the QApplication exists: registers the compiled-in resources (banner, icons); the
// application's name "Marquelo" (it titles every message box), version, icon and desktop entry, and
// the stand-in fonts for the window's design font.
void SetApplicationIdentity();

class TSlideshowForm;

// Shows the window and runs the event loop until it is closed; returns the loop's status.
// A window closed during a page read ends the process before this returns (see the .cpp).
int RunMainWindow(TSlideshowForm& form);
