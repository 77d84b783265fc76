#pragma once

// The graphics context the browser engine draws the preview with, made apart from the window's
// start, for the program and for the preview module, which both may be first to need it.

// After the QApplication exists, on the GUI thread: makes the process's shared OpenGL context,
// which the browser engine needs to draw the preview with the graphics hardware (without one
// it draws in software). Loading the graphics driver for it takes longer than the rest of the
// window's start, so the program calls this once its window is painted, not before. Does
// nothing after the first call; a platform without OpenGL leaves the engine in software.
// Never raises.
void ShareGraphicsContext();
