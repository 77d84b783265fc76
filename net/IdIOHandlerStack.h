#pragma once

// The stack I/O handler: resolves the host, connects the socket (on the calling thread, or on
// a connect thread under a time limit) and tells a peer's close apart from queued data.

#include "net/IdIOHandlerSocket.h"

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <thread>

// The connect time limit passed: "Connect timed out.". The socket is closed by then.
MARQUELO_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException)
// The connect thread met a failure that carried no socket error code; its message is kept.
MARQUELO_DECLARE_EXCEPTION(EIdConnectException, EIdException)

// Runs Binding.Connect on a thread of its own, started on construction, so that the caller can
// give up after a time limit by closing the binding (which ends the pending connect at once).
// Errors 10038 and 10009 (the socket closed under the connect) are not recorded; any other
// failure is recorded as its message, with the socket error code when it has one.
class TIdConnectThread {
public:
  // binding must outlive the thread object.
  explicit TIdConnectThread(TIdSocketHandle& binding);
  // Waits for the thread to end (it ends once the binding is closed, if not before).
  ~TIdConnectThread();
  Q_DISABLE_COPY(TIdConnectThread)

  // Waits up to milliseconds for the connect to end and its failure, if any, to be recorded;
  // true when it has.
  bool AwaitConnectResult(int32_t milliseconds);
  bool Finished() const;
  // Joins the thread (blocks until it ends). Afterwards the recorded failure may be read.
  void JoinConnectThread();
  // The message of the failure met ("" = none) and its socket error code (0 = none).
  QString ErrorText() const;
  int32_t ErrorCode() const;

private:
  void Execute();

  TIdSocketHandle& binding_;
  mutable std::mutex lock_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
  QString errorText_;
  int32_t errorCode_ = 0;
  std::thread thread_;
};

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
  explicit TIdIOHandlerStack(QObject* owner = nullptr);

  // First pulls whatever the socket holds (a poll that also notices the peer's close), then
  // true when the socket is open and not closed by the peer, or bytes are still queued. A
  // socket error met by that poll counts as the end of the connection, not as a failure of
  // the question: it closes the handler and Connected says whether bytes remain queued.
  bool Connected() override;

protected:
  // Makes and binds the socket (TIdIOHandlerSocket), then resolves Host (reporting hsResolving
  // unless Host is a literal of IPVersion), reports hsConnecting with the IP and connects to
  // Port: on this thread when ConnectTimeout is 0, else ConnectWithTimeout. Blocks for the
  // name query and the connect. Raises EIdSocketError (11001 for an unknown host, 10061 for a
  // refusal, ...), ERangeError for a port above 65535, EIdConnectTimeout; EIdCallTimeout when
  // the call's deadline comes first (the connect then runs on the thread, up to the deadline).
  void ConnectSocket() override;
  // Connects on a TIdConnectThread and waits for it in steps of 125 ms up to timeout ms (-1 or
  // any negative: no limit); a connect that ends is noticed at once. Past the limit: closes
  // the handler and raises EIdConnectTimeout. Raises the connect's own failure otherwise.
  void ConnectWithTimeout(int32_t timeout);
};
