#pragma once

// The main window: its controls come from resources/SlideshowForm.ui; its handlers turn the
// fields into the embed code, preview it, copy it and open the product's web site.

#include "app/EmbedCode.h"
#include "app/PageScan.h"
#include "net/IdException.h"

#include <QString>
#include <QWidget>
#include <array>
#include <exception>
#include <memory>

class BusyCursor;
class QLineEdit;
class QShortcut;
class QTimer;
class TIdHTTP;
class TIdTLSIOHandler;
class TPageReader;
class TempFileNameSeries;

// A page whose redirects reached the client's limit: the fetch ended on a redirect response
// with no page read.
MARQUELO_DECLARE_EXCEPTION(EPageRedirectLimit, Exception)
// A page larger than kPageSizeLimit once decoded.
MARQUELO_DECLARE_EXCEPTION(EPageTooLarge, Exception)

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
  // nor the placeholder, normalises width and height, fills the code box and previews the code:
  // EmbedCode, or FittingEmbedCode when "Shrink to Fit Narrow Screens" is checked.
  // The page is read with IdHTTP on a worker thread while the window goes on (see
  // PageReading()): this returns at once and the rest of Create runs when the page is in. A
  // page that cannot be read, including a chain of redirects that reaches the client's limit,
  // shows "Can't read this vantrel web page." once and ends Create there. Without a page to
  // read, Create runs whole before this returns, raising ETempFileNameExhausted before the code
  // box changes, EFileCreateError after it and EPreviewModuleError when the first preview
  // finds no usable preview module (the code box and the file are written then); after a
  // read, those reach ShowFailure. While a page is read the button reads "Cancel", and
  // pressing it cancels the read (CancelRead).
  void GenerateButtonClick(QObject* sender);
  // Ends the page read under way at once (also Esc while it runs): no message, the code box
  // and the preview as they were, the connection closed, the window ready for the next Create.
  // Nothing when no page is being read.
  void CancelRead();
  // A page is being read for Create: the wait cursor shows, the fields, the check boxes and Copy
  // take no input, and after a tenth of a second the button reads "Cancel" and those
  // controls look it.
  bool PageReading() const;
  // The reading thread has not ended yet: a read under way, or one just cancelled that has not
  // come back from its abort (or from a name lookup, which no abort can cut short).
  bool ReaderRunning() const;
  // Copy: puts the whole text of the code box on the clipboard; nothing when the box is empty.
  void CopyButtonClick(QObject* sender);
  // Runs once when every control exists and holds its described value: sets IdHTTP up for
  // reading photo pages (ConfigurePageClient), with the proxy the environment names at this
  // moment. Sends nothing.
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
  // Closing during a read cancels it, so that nothing keeps the program waiting for a server.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ApplyDesignFont();
  void ConnectHandlers();
  void NameFields();
  // Steps after the page read: the address, the fields' normalisation, the code and preview.
  // scheme is that of the address the page came from at last (after redirects).
  void FinishCreate(const SlideshowIds& ids, const SlideshowFilters& filters, PlayerScheme scheme);
  // Where a read ends: the window goes back to work, then the page's identifiers or the one
  // notice of a page that could not be read.
  void PageRead(const QString& text, const std::exception_ptr& failure,
                const SlideshowFilters& filters);
  // The controls that take no input while a page is read (Create's button stays live).
  std::array<QWidget*, 8> InputControls() const;
  void SetReading(bool reading);
  // "Cancel" on the button, the fields read-only, the check boxes and Copy greyed; or back.
  void ShowReadingLook(bool reading);
  // The page's text, as Get gives it; raises what Get raises, EPageRedirectLimit, and
  // EPageTooLarge once the decoded page passes kPageSizeLimit (the rest is not read). Runs on
  // the worker.
  QString FetchPageText(const QString& address);
  void NormaliseDimensionField(QLineEdit* field, int32_t fallback);
  void ShowPreview(TempFileNameSeries& names, const QString& fileName, const QString& code);

  std::unique_ptr<Ui::SlideshowForm> ui_;
  QWidget* webBrowser_{};
  TIdHTTP* idHTTP_{};
  // IdHTTP's own I/O handler and cookie store, made here on the GUI thread: the client makes
  // neither on the worker, and the reader can abort the handler while a read runs. The handler
  // speaks TLS for https pages (verifying against the system's trusted certificates) and plain
  // TCP for http ones.
  TIdTLSIOHandler* pageHandler_{};
  TPageReader* reader_{};
  QShortcut* cancelShortcut_{};
  QTimer* readingLook_{};
  std::unique_ptr<BusyCursor> busyCursor_;
  bool reactivateAfterRebuild_{};
};
