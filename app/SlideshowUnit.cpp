#include "app/SlideshowUnit.h"

#include "app/Anchors.h"
#include "app/AppResourceStrings.h"
#include "app/BusyCursor.h"
#include "app/DesktopProxy.h"
#include "app/FailureDisplay.h"
#include "app/HostNames.h"
#include "app/JpegImage.h"
#include "app/PageClient.h"
#include "app/PageReader.h"
#include "app/Preview.h"
#include "app/PreviewModule.h"
#include "http/IdHTTP.h"
#include "http/IdTextDecoding.h"
#include "net/IdBuffer.h"
#include "net/IdGlobal.h"
#include "net/IdTLSIOHandler.h"
#include "ui_SlideshowForm.h"

#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

// The window was laid out in this font size; pixels, so that layout and text agree.
constexpr int kDesignFontPixels = 11;
// Where the preview's browser sits in its group box.
constexpr QRect kWebBrowserGeometry(17, 21, 424, 278);
// A read that ends sooner than this never shows "Cancel" and the greyed controls: repainting
// the window costs more than such a read, and the change would only flicker.
constexpr int kReadingLookDelayMs = 100;

// What a control that takes no input while a page is read must not be given.
bool IsInput(QEvent::Type type) {
  switch (type) {
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonRelease:
  case QEvent::MouseButtonDblClick:
  case QEvent::InputMethod:
  case QEvent::ContextMenu:
  case QEvent::DragEnter:
  case QEvent::Drop:
    return true;
  default:
    return false;
  }
}

void TrimField(QLineEdit* field) {
  field->setText(Trim(field->text()));
}

// Get returns normally, with nothing read, when the chain of redirects reaches the client's
// limit; the response it stopped at is still the redirect.
bool IsRedirect(const TIdHTTPResponse& response) {
  return response.StatusCode() / 100 == 3 || !response.Location().isEmpty();
}

} // namespace

TSlideshowForm::TSlideshowForm(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::SlideshowForm>()), idHTTP_(new TIdHTTP(this)),
      pageHandler_(new TIdTLSIOHandler(idHTTP_)),
      reader_(new TPageReader(*idHTTP_, *pageHandler_, this)) {
  idHTTP_->SetIOHandler(pageHandler_);
  idHTTP_->SetCookieManager(new TIdCookieManager(idHTTP_));
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  ApplyDesignFont();

  ui_->Image->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/banner.jpg"))));
  ui_->Image->adjustSize();
  ui_->URLEdit->setText(PlaceholderAddress);
  ui_->WebLabel->setText(ProductSiteHost);
  ui_->WebLabel->installEventFilter(this);

  KeepAnchors(this);
  KeepAnchors(ui_->HTMLGroupBox);
  KeepAnchors(ui_->PreviewGroupBox);
  NameFields();
  ConnectHandlers();
  FormCreate(this);
}

// The reader goes first: it stops its worker before the client it uses goes.
TSlideshowForm::~TSlideshowForm() {
  delete reader_;
}

void TSlideshowForm::NameFields() {
  // A screen reader announces each field by the label beside it.
  const std::pair<QWidget*, QString> names[] = {
      {ui_->URLEdit, ui_->UserTagLabel->text()},
      {ui_->TagsEdit, ui_->UserTagLabel1->text()},
      {ui_->TextEdit, ui_->GroupTagLabel->text()},
      {ui_->WidthEdit, ui_->WidthLabel->text()},
      {ui_->HeightEdit, ui_->HeightLabel->text()},
      {ui_->FavoriteCheckBox, ui_->GroupTagLabel1->text()},
      {ui_->FitNarrowCheckBox, ui_->FitNarrowLabel->text()},
      {ui_->HTMLMemo, ui_->HTMLGroupBox->title()},
  };
  for (const auto& [field, name] : names) {
    field->setAccessibleName(name);
  }
}

void TSlideshowForm::ApplyDesignFont() {
  // The description names the font in points; pin it to the design's pixel height so the
  // labels measure as laid out, then let each label take the width of its text.
  for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(ui_->WebLabel)}) {
    QFont font = widget->font();
    font.setPixelSize(kDesignFontPixels);
    widget->setFont(font);
  }
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label != ui_->Image && label != ui_->WebLabel) {
      label->adjustSize();
    }
  }
}

void TSlideshowForm::ConnectHandlers() {
  connect(ui_->GenerateButton, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { GenerateButtonClick(ui_->GenerateButton); }); });
  // Esc cancels only while a page is read; otherwise it presses nothing.
  cancelShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancelShortcut_->setEnabled(false);
  connect(cancelShortcut_, &QShortcut::activated, this, [this] { CancelRead(); });
  readingLook_ = new QTimer(this);
  readingLook_->setSingleShot(true);
  readingLook_->setInterval(kReadingLookDelayMs);
  connect(readingLook_, &QTimer::timeout, this, [this] { ShowReadingLook(true); });
  for (QWidget* control : InputControls()) {
    control->installEventFilter(this);
  }
  connect(ui_->CopyButton, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { CopyButtonClick(ui_->CopyButton); }); });
}

bool TSlideshowForm::eventFilter(QObject* watched, QEvent* event) {
  if (PageReading() && IsInput(event->type()) && std::ranges::count(InputControls(), watched)) {
    return true;
  }
  if (watched == ui_->WebLabel && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        ui_->WebLabel->rect().contains(mouse->position().toPoint())) {
      RunGuarded([this] { WebLabelClick(ui_->WebLabel); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TSlideshowForm::event(QEvent* event) {
  // The rebuild first drops the native window (id 0), then makes the new one.
  if (event->type() == QEvent::WinIdChange && reactivateAfterRebuild_ && internalWinId() != 0) {
    reactivateAfterRebuild_ = false;
    activateWindow();
  }
  return QWidget::event(event);
}

void TSlideshowForm::FormCreate(QObject* /*sender*/) {
  TIdProxySettings proxies = TIdProxySettings::FromEnvironment();
  proxies.SetFallback(DesktopProxyRoutes);
  ConfigurePageClient(*idHTTP_, proxies);
}

void TSlideshowForm::closeEvent(QCloseEvent* event) {
  CancelRead();
  QWidget::closeEvent(event);
}

void TSlideshowForm::GenerateButtonClick(QObject* /*sender*/) {
  if (PageReading()) {
    // Only the button that reads "Cancel" cancels: a double click on Create starts one read.
    if (ui_->GenerateButton->text() == RSCancelButton()) {
      CancelRead();
    }
    return;
  }
  TrimField(ui_->URLEdit);
  TrimField(ui_->TagsEdit);
  TrimField(ui_->TextEdit);

  const SlideshowFilters filters{ui_->TagsEdit->text(), ui_->TextEdit->text(),
                                 ui_->FavoriteCheckBox->isChecked()};
  const QString address = ui_->URLEdit->text();
  if (address.isEmpty() || address == PlaceholderAddress) {
    FinishCreate(SlideshowIds(), filters, PlayerScheme::Http);
    return;
  }
  SetReading(true);
  reader_->Start([this, address] { return FetchPageText(address); },
                 [this, filters](const QString& text, std::exception_ptr failure) {
                   SetReading(false);
                   RunGuarded([&] { PageRead(text, failure, filters); });
                 });
}

void TSlideshowForm::CancelRead() {
  if (!PageReading()) {
    return;
  }
  reader_->Cancel();
  SetReading(false);
}

bool TSlideshowForm::PageReading() const {
  return reader_->Reading();
}

bool TSlideshowForm::ReaderRunning() const {
  return reader_->WorkerRunning();
}

std::array<QWidget*, 8> TSlideshowForm::InputControls() const {
  return {ui_->URLEdit,    ui_->TagsEdit,         ui_->TextEdit,          ui_->WidthEdit,
          ui_->HeightEdit, ui_->FavoriteCheckBox, ui_->FitNarrowCheckBox, ui_->CopyButton};
}

void TSlideshowForm::SetReading(bool reading) {
  // The wait cursor and the refusal of input (eventFilter) start at once; the look follows
  // for a read that takes longer than a moment.
  cancelShortcut_->setEnabled(reading);
  if (reading) {
    busyCursor_ = std::make_unique<BusyCursor>();
    readingLook_->start();
  } else {
    readingLook_->stop();
    ShowReadingLook(false);
    busyCursor_.reset();
  }
}

void TSlideshowForm::ShowReadingLook(bool reading) {
  if ((ui_->GenerateButton->text() == RSCancelButton()) == reading) {
    return;
  }
  // The fields keep the values Create trimmed and goes on with; they only stop taking input.
  for (QLineEdit* field :
       {ui_->URLEdit, ui_->TagsEdit, ui_->TextEdit, ui_->WidthEdit, ui_->HeightEdit}) {
    field->setReadOnly(reading);
  }
  ui_->FavoriteCheckBox->setEnabled(!reading);
  ui_->FitNarrowCheckBox->setEnabled(!reading);
  ui_->CopyButton->setEnabled(!reading);
  ui_->GenerateButton->setText(reading ? RSCancelButton() : RSCreateButton());
}

void TSlideshowForm::PageRead(const QString& text, const std::exception_ptr& failure,
                              const SlideshowFilters& filters) {
  QStringList lines;
  try {
    if (failure) {
      std::rethrow_exception(failure);
    }
    lines = PageLines(text);
  } catch (const std::exception& caught) {
    // The one fixed text for every failure; the failure's own text, behind the box's details,
    // tells a mistyped name from a network fault.
    ShowNotice(RSCantReadServicePage(), FailureText(caught));
    return;
  } catch (...) {
    ShowNotice(RSCantReadServicePage(), RSUnknownFailure());
    return;
  }
  // Where the redirects ended, not what was typed, tells how the service serves its pages: one
  // that sends http readers on to https serves its player there too. The worker has finished
  // with the client by now.
  FinishCreate(ScanPageLines(lines), filters, PlayerSchemeOf(idHTTP_->CurrentURI().Scheme()));
}

void TSlideshowForm::FinishCreate(const SlideshowIds& ids, const SlideshowFilters& filters,
                                  PlayerScheme scheme) {
  const QString slideshowAddress = SlideshowAddress(ids, filters, scheme);
  NormaliseDimensionField(ui_->WidthEdit, kDefaultSlideshowWidth);
  NormaliseDimensionField(ui_->HeightEdit, kDefaultSlideshowHeight);
  // Off, the code is the one users have always pasted, byte for byte.
  const QString code =
      ui_->FitNarrowCheckBox->isChecked()
          ? FittingEmbedCode(slideshowAddress, ui_->WidthEdit->text().toInt(),
                             ui_->HeightEdit->text().toInt(), FrameTitle(ids))
          : EmbedCode(slideshowAddress, ui_->WidthEdit->text(), ui_->HeightEdit->text());

  TempFileNameSeries previewNames(kPreviewBaseName);
  const QString previewFile = previewNames.NextFree();
  ui_->HTMLMemo->setPlainText(code);
  ShowPreview(previewNames, previewFile, code);
}

namespace {

// A memory buffer that refuses to grow past a limit, so that the read ends there.
class BoundedBuffer final : public QBuffer {
public:
  explicit BoundedBuffer(qint64 limit) : limit_(limit) { open(QIODevice::ReadWrite); }
  bool Refused() const { return refused_; }

protected:
  qint64 writeData(const char* data, qint64 length) override {
    if (pos() + length > limit_) {
      refused_ = true;
      return -1;
    }
    return QBuffer::writeData(data, length);
  }

private:
  qint64 limit_;
  bool refused_ = false;
};

} // namespace

QString TSlideshowForm::FetchPageText(const QString& address) {
  BoundedBuffer page(kPageSizeLimit);
  try {
    idHTTP_->GetToStream(address, page);
  } catch (const EIdStreamWriteError&) {
    if (page.Refused()) {
      throw EPageTooLarge(RSPageTooLarge().arg(kPageSizeLimit >> 20));
    }
    throw;
  }
  if (IsRedirect(idHTTP_->CurrentResponse())) {
    throw EPageRedirectLimit(RSPageRedirectLimit());
  }
  page.seek(0);
  return ReadStreamText(page, kRestOfStream,
                        EncodingFromContentType(idHTTP_->CurrentResponse().ContentType()));
}

void TSlideshowForm::NormaliseDimensionField(QLineEdit* field, int32_t fallback) {
  const QString normalised = NormalisedDimension(field->text(), fallback);
  if (field->text() != normalised) {
    field->setText(normalised);
  }
}

void TSlideshowForm::ShowPreview(TempFileNameSeries& names, const QString& fileName,
                                 const QString& code) {
  const QString written = WritePreviewFile(names, fileName, PreviewPageText(code));
  const TPreviewEngine& engine = LoadPreviewEngine();
  if (webBrowser_ == nullptr) {
    // Made on first use: the browser engine costs more to start than the rest of the window.
    // Its arrival makes Qt rebuild the window's native surface for the engine's compositing,
    // which loses the activation; the user was just working in this window, so it gets it
    // back (see event()). Creating the window with that surface from the start would keep it,
    // but starts the graphics stack before the window can show, which costs more than the
    // whole rest of the start.
    reactivateAfterRebuild_ = isActiveWindow();
    webBrowser_ = engine.CreateBrowser(ui_->PreviewGroupBox);
    webBrowser_->setObjectName(QStringLiteral("WebBrowser"));
    webBrowser_->setGeometry(kWebBrowserGeometry);
    webBrowser_->setProperty("anchors", QStringLiteral("left,top,right,bottom"));
    KeepAnchors(ui_->PreviewGroupBox);
    setTabOrder(ui_->CopyButton, webBrowser_);
    webBrowser_->show();
  }
  engine.Navigate(webBrowser_, QUrl::fromLocalFile(written));
}

void TSlideshowForm::CopyButtonClick(QObject* /*sender*/) {
  if (ui_->HTMLMemo->toPlainText().isEmpty()) {
    return;
  }
  ui_->HTMLMemo->selectAll();
  QGuiApplication::clipboard()->setText(ui_->HTMLMemo->toPlainText());
}

void TSlideshowForm::WebLabelClick(QObject* /*sender*/) {
  QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + ProductSiteHost));
}
