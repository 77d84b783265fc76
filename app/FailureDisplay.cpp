#include "app/FailureDisplay.h"

#include "app/AppResourceStrings.h"
#include "net/IdException.h"

#include <QApplication>

namespace {

void ShowModalBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                  const QString& details) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, QApplication::activeWindow());
  // Plain text: a detail is never read as markup.
  box.setDetailedText(details);
  box.exec();
}

MessagePresenter& Presenter() {
  static MessagePresenter presenter = ShowModalBox;
  return presenter;
}

void Present(QMessageBox::Icon icon, const QString& text, const QString& details = {}) {
  Presenter()(icon, QCoreApplication::applicationName(), text, details);
}

} // namespace

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
  MessagePresenter previous = std::move(Presenter());
  Presenter() = presenter ? std::move(presenter) : ShowModalBox;
  return previous;
}

QString WithClosingFullStop(const QString& message) {
  if (!message.isEmpty() && message.back() > u'.') {
    return message + u'.';
  }
  return message;
}

QString FailureText(const std::exception& failure) {
  if (const auto* own = dynamic_cast<const Exception*>(&failure)) {
    return own->ShownText();
  }
  // Whose text this is cannot be told: it is treated as a peer's.
  return EscapePeerText(QString::fromUtf8(failure.what()));
}

void ShowFailure(const std::exception& failure) {
  Present(QMessageBox::Critical, WithClosingFullStop(FailureText(failure)));
}

void ShowNotice(const QString& text, const QString& details) {
  Present(QMessageBox::NoIcon, text, details);
}

void RunGuarded(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& failure) {
    ShowFailure(failure);
  } catch (...) {
    ShowFailure(Exception(RSUnknownFailure()));
  }
}
