#include "app/GraphicsContext.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QtGui/private/qopenglcontext_p.h>

void ShareGraphicsContext() {
  // What the application would make at its start when asked to share contexts (the engine
  // only looks for the context, not for how it came to be), made when it costs the user
  // nothing. It lives as long as the application.
  if (qt_gl_global_share_context() != nullptr) {
    return;
  }
  auto* context = new QOpenGLContext(qApp);
  context->setFormat(QSurfaceFormat::defaultFormat());
  if (!context->create()) {
    delete context;
    return;
  }
  qt_gl_set_global_share_context(context);
}
