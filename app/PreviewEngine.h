#pragma once

// The preview's browser comes from a module of its own (marquelo-preview.so), loaded on the
// first preview: linking the browser engine into the program would load its libraries at every
// start, before the window can show. The program knows the browser only through this interface
// and as a plain widget; nothing here names the engine.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtPlugin>

class QWidget;

// What the preview module provides. Its functions run on the GUI thread.
class TPreviewEngine {
public:
  virtual ~TPreviewEngine() = default;

  // A new browser widget, owned by parent, set up to show a local page that frames a remote
  // player. It shows nothing until Navigate. Raises nothing of its own.
  virtual QWidget* CreateBrowser(QWidget* parent) const = 0;

  // Starts loading address into browser (made by CreateBrowser) and returns without waiting;
  // the browser reports the end of the load with its signal loadFinished(bool).
  virtual void Navigate(QWidget* browser, const QUrl& address) const = 0;
};

#define MARQUELO_PREVIEW_ENGINE_IID "app.marquelo.PreviewEngine/1"
Q_DECLARE_INTERFACE(TPreviewEngine, MARQUELO_PREVIEW_ENGINE_IID)
