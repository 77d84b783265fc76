#include "app/FailureDisplay.h"

#include "app/AppResourceStrings.h"
#include "net/IdException.h"

#include <QApplication>

namespace {

void ShowModalBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

MessagePresenter& Presenter() {
  static MessagePresenter presenter = ShowModalBox;
  return presenter;
}

void Present(QMessageBox::Icon icon, const QString& text) {
  Presenter()(icon, QCoreApplication::applicationName(), text);
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

void ShowFailure(const std::exception& failure) {
  const auto* own = dynamic_cast<const Exception*>(&failure);
  const QString message = own ? own->Message() : QString::fromUtf8(failure.what());
  Present(QMessageBox::Critical, WithClosingFullStop(message));
}

void ShowNotice(const QString& text) {
  Present(QMessageBox::NoIcon, text);
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
