#include "app/SlideshowUnit.h"

#include "app/Anchors.h"
#include "app/AppResourceStrings.h"
#include "app/BusyCursor.h"
#include "app/FailureDisplay.h"
#include "app/HostNames.h"
#include "app/JpegImage.h"
#include "app/PageClient.h"
#include "app/Preview.h"
#include "app/PreviewModule.h"
#include "http/IdHTTP.h"
#include "net/IdGlobal.h"
#include "ui_SlideshowForm.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QUrl>

namespace {

// The window was laid out in this font size; pixels, so that layout and text agree.
constexpr int DesignFontPixels = 11;
// Where the preview's browser sits in its group box.
constexpr QRect WebBrowserGeometry(17, 21, 424, 278);

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
    : QWidget(parent), ui_(std::make_unique<Ui::SlideshowForm>()), idHTTP_(new TIdHTTP(this)) {
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
  ConnectHandlers();
  FormCreate(this);
}

TSlideshowForm::~TSlideshowForm() = default;

void TSlideshowForm::ApplyDesignFont() {
  // The description names the font in points; pin it to the design's pixel height so the
  // labels measure as laid out, then let each label take the width of its text.
  for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(ui_->WebLabel)}) {
    QFont font = widget->font();
    font.setPixelSize(DesignFontPixels);
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
  connect(ui_->CopyButton, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { CopyButtonClick(ui_->CopyButton); }); });
}

bool TSlideshowForm::eventFilter(QObject* watched, QEvent* event) {
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
  ConfigurePageClient(*idHTTP_);
}

void TSlideshowForm::GenerateButtonClick(QObject* /*sender*/) {
  TrimField(ui_->URLEdit);
  TrimField(ui_->TagsEdit);
  TrimField(ui_->TextEdit);

  SlideshowIds ids;
  const SlideshowFilters filters{ui_->TagsEdit->text(), ui_->TextEdit->text(),
                                 ui_->FavoriteCheckBox->isChecked()};
  const QString address = ui_->URLEdit->text();
  if (!address.isEmpty() && address != PlaceholderAddress) {
    const std::optional<SlideshowIds> found = ReadPageIdentifiers(address);
    if (!found) {
      return;
    }
    ids = *found;
  }

  const QString slideshowAddress = SlideshowAddress(ids, filters);
  NormaliseDimensionField(ui_->WidthEdit, DefaultSlideshowWidth);
  NormaliseDimensionField(ui_->HeightEdit, DefaultSlideshowHeight);
  const QString code = EmbedCode(slideshowAddress, ui_->WidthEdit->text(), ui_->HeightEdit->text());

  TempFileNameSeries previewNames(PreviewBaseName);
  const QString previewFile = previewNames.NextFree();
  ui_->HTMLMemo->setPlainText(code);
  ShowPreview(previewNames, previewFile, code);
}

std::optional<SlideshowIds> TSlideshowForm::ReadPageIdentifiers(const QString& address) {
  QStringList lines;
  try {
    lines = SplitLines(FetchPageText(address));
  } catch (...) {
    // Whatever went wrong, the user learns only that the page could not be read.
    ShowNotice(RSCantReadServicePage());
    return std::nullopt;
  }
  return ScanPageLines(lines);
}

QString TSlideshowForm::FetchPageText(const QString& address) {
  // The window cannot repaint while it waits; the cursor is what tells the user why. It is
  // gone before any message about the fetch appears.
  const BusyCursor busy;
  QString text = idHTTP_->Get(address);
  if (IsRedirect(idHTTP_->CurrentResponse())) {
    throw EPageRedirectLimit(RSPageRedirectLimit());
  }
  return text;
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
    webBrowser_->setGeometry(WebBrowserGeometry);
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
