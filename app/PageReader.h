#pragma once

// Reads photo pages on a worker thread, so that the window's thread goes on running its event
// loop (repainting, taking Cancel) while the blocking HTTP client waits for a server.
//
// One read at a time, on one client: the client's state (its connection, current address and
// cookies) carries from one read to the next as it would on one thread, and the client is used
// only from the worker while a read runs. Cancel() aborts the client's socket from the window's
// thread, which ends a connect, wait, receive or send at once; the read's outcome is then
// dropped and the connection closed. The one wait an abort cannot end is a name lookup: a read
// cancelled there finishes the lookup in the background, and a read started meanwhile begins as
// soon as it has.
//
//   TPageReader reader(client, handler, this);
//   reader.Start(address, [](QString text, std::exception_ptr failure) { ... });
//   reader.Cancel(); // Esc: the callback is not called for that read

#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <thread>

class TIdCustomHTTP;
class TIdIOHandlerSocket;

class TPageReader : public QObject {
public:
  // The page's text, or the failure that ended the read (then text is empty). Called on the
  // reader's (the window's) thread.
  using Done = std::function<void(QString text, std::exception_ptr failure)>;
  // Reads a page with the client (already connected to the work's I/O handler) and returns its
  // text; runs on the worker. Whatever it raises is handed to Done.
  using Work = std::function<QString()>;

  // client reads the pages through handler, its I/O handler; both outlive the reader, and
  // the caller leaves them alone while Reading().
  TPageReader(TIdCustomHTTP& client, TIdIOHandlerSocket& handler, QObject* parent = nullptr);
  // Cancels a read under way and waits for the worker, which an abort ends at once unless it is
  // inside a name lookup (then until the lookup ends).
  ~TPageReader() override;
  Q_DISABLE_COPY(TPageReader)

  // Starts work on the worker; done gets its outcome later, from the event loop of this
  // object's thread. Precondition: not Reading(). Never raises (a worker that cannot be
  // started reaches done as its failure).
  void Start(Work work, Done done);
  // Ends the read under way at once, from this object's thread: done will not be called for it,
  // and its connection is closed. Nothing without a read.
  void Cancel() noexcept;
  // A read was started and has neither ended nor been cancelled.
  bool Reading() const noexcept { return done_ != nullptr; }
  // The worker is still running: a read under way, or a cancelled one inside its name lookup.
  bool WorkerRunning() const noexcept { return worker_.joinable(); }

private:
  void Launch();
  // On this object's thread once the worker of read number id has ended.
  void WorkerEnded(uint64_t id, QString text, std::exception_ptr failure);

  TIdCustomHTTP& client_;
  TIdIOHandlerSocket& handler_;
  std::thread worker_;
  // Counts the reads started; a worker's outcome counts only for the read now wanted.
  uint64_t readId_ = 0;
  uint64_t workerReadId_ = 0;
  Work work_;
  Done done_;
};
