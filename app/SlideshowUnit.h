#pragma once

// The main window: its controls come from resources/SlideshowForm.ui; its handlers turn the
// fields into the embed code, preview it, copy it and open the product's web site.

#include "app/EmbedCode.h"
#include "app/PageScan.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QLineEdit;
class QWebEngineView;
class TempFileNameSeries;

namespace Ui {
class SlideshowForm;
}

class TSlideshowForm : public QWidget {
  Q_OBJECT

public:
  // Returns the text of the page at address, decoded; raises on any failure. Blocks the GUI
  // thread for as long as the read takes.
  using PageReader = std::function<QString(const QString& address)>;

  // Builds the window from its description, decodes the banner (raises EJpegDecodeError when
  // it cannot) and runs FormCreate. The window owns every control it shows.
  explicit TSlideshowForm(QWidget* parent = nullptr);
  ~TSlideshowForm() override;

  // Create: trims the fields, reads the page's identifiers when the address is neither empty
  // nor the placeholder, normalises width and height, fills the code box and previews the code.
  // A page that cannot be read shows "Can't read this vantrel web page." and ends it there.
  // Raises ETempFileNameExhausted before the code box changes and EFileCreateError after it.
  void GenerateButtonClick(QObject* sender);
  // Copy: puts the whole text of the code box on the clipboard; nothing when the box is empty.
  void CopyButtonClick(QObject* sender);
  // Runs once when every control exists and holds its described value. Sends nothing.
  void FormCreate(QObject* sender);
  // Opens "http://" + ProductSiteHost in the default browser without waiting; a failure to do
  // so is not reported.
  void WebLabelClick(QObject* sender);

  // Where Create reads photo pages from. Until one is set, Create reads no page and the
  // identifiers stay empty.
  void SetPageReader(PageReader reader);

  // The preview's browser, made by the first preview; null until then. Owned by the window.
  QWebEngineView* WebBrowser() const { return webBrowser_; }

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ApplyDesignFont();
  void ConnectHandlers();
  // The identifiers of the page at address, or nothing when it could not be read (the
  // notice is shown then).
  std::optional<SlideshowIds> ReadPageIdentifiers(const QString& address);
  void NormaliseDimensionField(QLineEdit* field, int32_t fallback);
  void ShowPreview(TempFileNameSeries& names, const QString& fileName, const QString& code);

  std::unique_ptr<Ui::SlideshowForm> ui_;
  QWebEngineView* webBrowser_{};
  PageReader pageReader_;
  bool reactivateAfterRebuild_{};
};
