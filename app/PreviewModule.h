#pragma once

// Finding and loading the preview module (see app/PreviewEngine.h). The module lies next to
// the program in the build tree and in Marquelo's own library directory once installed.

#include "app/PreviewEngine.h"
#include "net/IdException.h"

#include <QString>
#include <QStringList>

// The preview module is missing from every place searched, or is there but cannot be loaded.
MARQUELO_DECLARE_EXCEPTION(EPreviewModuleError, Exception)

// The module's file name.
inline const QString kPreviewModuleFileName = QStringLiteral("marquelo-preview.so");

// Where the program looks for the module, in order: its own directory, then the installed
// library directory relative to it.
QStringList PreviewModuleDirectories();

// The engine of the first of directories that holds the module, loaded now if it is not yet.
// The module stays loaded for the rest of the run and owns the engine. Raises
// EPreviewModuleError ("Can't load the preview module ...") naming the places searched when
// none holds the file, or the loader's reason when the file found is no usable module. Blocks
// while the engine's libraries load (tens of milliseconds). GUI thread only.
TPreviewEngine& LoadPreviewEngine(const QStringList& directories = PreviewModuleDirectories());

// Starts loading the module's libraries on a thread of their own, so that a later
// LoadPreviewEngine finds them in memory; failures are left for LoadPreviewEngine to report.
// Returns at once; the thread ends by itself, and at exit the program waits for it.
void PreloadPreviewModule(const QStringList& directories = PreviewModuleDirectories());
