#include "app/PageReader.h"

#include "http/IdHTTP.h"
#include "net/IdIOHandlerSocket.h"

#include <QMetaObject>

#include <system_error>

TPageReader::TPageReader(TIdCustomHTTP& client, TIdIOHandlerSocket& handler, QObject* parent)
    : QObject(parent), client_(client), handler_(handler) {}

TPageReader::~TPageReader() {
  Cancel();
  if (worker_.joinable()) {
    handler_.Abort();
    worker_.join();
  }
}

void TPageReader::Start(Work work, Done done) {
  work_ = std::move(work);
  done_ = std::move(done);
  ++readId_;
  // Otherwise a cancelled read is still in its name lookup; this one starts when it ends.
  if (!worker_.joinable()) {
    Launch();
  }
}

void TPageReader::Cancel() noexcept {
  if (!Reading()) {
    return;
  }
  done_ = nullptr;
  work_ = nullptr;
  if (workerReadId_ == readId_ && worker_.joinable()) {
    handler_.Abort();
  }
}

void TPageReader::Launch() {
  // No worker runs now, so nothing else touches the handler.
  handler_.ClearAbort();
  workerReadId_ = readId_;
  const auto finish = [this, id = readId_](const QString& text, const std::exception_ptr& failure) {
    QMetaObject::invokeMethod(
        this, [this, id, text, failure] { WorkerEnded(id, text, failure); }, Qt::QueuedConnection);
  };
  try {
    worker_ = std::thread([this, work = work_, finish] {
      QString text;
      std::exception_ptr failure;
      try {
        text = work();
      } catch (...) {
        failure = std::current_exception();
      }
      if (handler_.Aborted()) {
        // A cancelled read leaves no connection behind, whatever state the abort caught.
        try {
          client_.Disconnect();
        } catch (...) {
          // Nobody waits for this read's outcome any more.
        }
      }
      finish(text, failure);
    });
  } catch (const std::system_error&) {
    finish(QString(), std::current_exception());
  }
}

void TPageReader::WorkerEnded(uint64_t id, QString text, std::exception_ptr failure) {
  if (worker_.joinable()) {
    worker_.join();
  }
  if (!Reading()) {
    return;
  }
  if (id != readId_) {
    Launch();
    return;
  }
  const Done done = std::move(done_);
  done_ = nullptr;
  work_ = nullptr;
  done(std::move(text), std::move(failure));
}
