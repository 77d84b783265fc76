#pragma once

// The main window: its controls come from resources/SlideshowForm.ui; its handlers turn the
// fields into the embed code, preview it, copy it and open the product's web site.

#include "app/EmbedCode.h"
#include "app/PageScan.h"
#include "net/IdException.h"

#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

class QLineEdit;
class TIdHTTP;
class TempFileNameSeries;

// A page whose redirects reached the client's limit: the fetch ended on a redirect response
// with no page read.
MARQUELO_DECLARE_EXCEPTION(EPageRedirectLimit, Exception)

namespace Ui {
class SlideshowForm;
}

class TSlideshowForm : public QWidget {
  Q_OBJECT

public:
  // Builds the window from its description, decodes the banner (raises EJpegDecodeError when
  // it cannot) and runs FormCreate. The window owns every control it shows and IdHTTP.
  explicit TSlideshowForm(QWidget* parent = nullptr);
  ~TSlideshowForm() override;

  // Create: trims the fields, reads the page's identifiers when the address is neither empty
  // nor the placeholder, normalises width and height, fills the code box and previews the code.
  // The page is read with IdHTTP on the GUI thread, which blocks (with the wait cursor shown)
  // until the read ends or one of IdHTTP's time limits passes. A page that cannot be read,
  // including a chain of redirects that reaches the client's limit, shows "Can't read this
  // vantrel web page." once and ends Create there. Raises ETempFileNameExhausted before the
  // code box changes, EFileCreateError after it, and EPreviewModuleError when the first
  // preview finds no usable preview module (the code box and the file are written then).
  void GenerateButtonClick(QObject* sender);
  // Copy: puts the whole text of the code box on the clipboard; nothing when the box is empty.
  void CopyButtonClick(QObject* sender);
  // Runs once when every control exists and holds its described value: sets IdHTTP up for
  // reading photo pages (ConfigurePageClient). Sends nothing.
  void FormCreate(QObject* sender);
  // Opens "http://" + ProductSiteHost in the default browser without waiting; a failure to do
  // so is not reported.
  void WebLabelClick(QObject* sender);

  // The HTTP client that reads photo pages; owned by the window, it keeps its connection, its
  // current address and its cookies from one Create to the next.
  TIdHTTP& IdHTTP() const { return *idHTTP_; }

  // The preview's browser, made by the first preview from the preview module (which is loaded
  // then, not before); null until then. Owned by the window. It has the signal
  // loadFinished(bool) and the property url.
  QWidget* WebBrowser() const { return webBrowser_; }

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ApplyDesignFont();
  void ConnectHandlers();
  // The identifiers of the page at address, or nothing when it could not be read (the
  // notice is shown then).
  std::optional<SlideshowIds> ReadPageIdentifiers(const QString& address);
  // The page's text; raises what Get raises, and EPageRedirectLimit.
  QString FetchPageText(const QString& address);
  void NormaliseDimensionField(QLineEdit* field, int32_t fallback);
  void ShowPreview(TempFileNameSeries& names, const QString& fileName, const QString& code);

  std::unique_ptr<Ui::SlideshowForm> ui_;
  QWidget* webBrowser_{};
  TIdHTTP* idHTTP_{};
  bool reactivateAfterRebuild_{};
};
