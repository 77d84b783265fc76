// The preview module: the one part of Marquelo that links the browser engine. The program
// loads it on the first preview (app/PreviewModule.h).

#include "app/DemoCertificate.h"
#include "app/PreviewEngine.h"

#include <QObject>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

class TWebEnginePreview : public QObject, public TPreviewEngine {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID MARQUELO_PREVIEW_ENGINE_IID)
  Q_INTERFACES(TPreviewEngine)

public:
  QWidget* CreateBrowser(QWidget* parent) const override {
    auto* browser = new QWebEngineView(parent);
    // The preview is a local file whose whole point is the service's player in its frame;
    // without this the engine refuses to load a remote address into a local page.
    browser->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    QObject::connect(browser->page(), &QWebEnginePage::certificateError, browser,
                     &AnswerCertificateError);
    return browser;
  }

  void Navigate(QWidget* browser, const QUrl& address) const override {
    static_cast<QWebEngineView*>(browser)->load(address);
  }
};

} // namespace

#include "WebEnginePreview.moc"
