#include "net/IdIOHandlerStack.h"

#include "net/IdResourceStrings.h"

#include <chrono>
#include <optional>

// --- TIdConnectThread -----------------------------------------------------------------------

TIdConnectThread::TIdConnectThread(TIdSocketHandle& binding)
    : binding_(binding), thread_([this] { Execute(); }) {}

TIdConnectThread::~TIdConnectThread() {
  JoinConnectThread();
}

void TIdConnectThread::Execute() {
  std::optional<int32_t> code;
  QString text;
  try {
    binding_.Connect();
  } catch (const EIdSocketError& e) {
    // The socket was closed under the connect: the waiting side gave up and knows it.
    if (e.SocketErrorCode() != Id_WSAENOTSOCK && e.SocketErrorCode() != Id_WSAEBADF) {
      code = e.SocketErrorCode();
      text = e.Message();
    }
  } catch (const Exception& e) {
    text = e.Message();
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  }
  std::lock_guard lock(lock_);
  errorCode_ = code.value_or(0);
  errorText_ = text;
  finished_ = true;
  finishedChanged_.notify_all();
}

bool TIdConnectThread::AwaitConnectResult(int32_t milliseconds) {
  std::unique_lock lock(lock_);
  return finishedChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [this] { return finished_; });
}

bool TIdConnectThread::Finished() const {
  std::lock_guard lock(lock_);
  return finished_;
}

void TIdConnectThread::JoinConnectThread() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

QString TIdConnectThread::ErrorText() const {
  std::lock_guard lock(lock_);
  return errorText_;
}

int32_t TIdConnectThread::ErrorCode() const {
  std::lock_guard lock(lock_);
  return errorCode_;
}

// --- TIdIOHandlerStack ----------------------------------------------------------------------

TIdIOHandlerStack::TIdIOHandlerStack(QObject* owner) : TIdIOHandlerSocket(owner) {}

void TIdIOHandlerStack::ConnectSocket() {
  TIdIOHandlerSocket::ConnectSocket();
  const QString host = Host();
  QString address;
  if (IPVersion() == Id_IPv6) {
    if (const std::optional<QString> literal = TIdStack::CanonicalIPv6(host)) {
      address = *literal;
    } else {
      ReportStatus(hsResolving, {host});
      address = GStack()->ResolveHost(host, Id_IPv6);
    }
  } else if (TIdStack::IsIPv4Literal(host)) {
    address = host;
  } else {
    ReportStatus(hsResolving, {host});
    address = GStack()->ResolveHost(host, IPVersion());
  }
  if (Port() < 0 || Port() > 65535) {
    throw ERangeError(RSRangeCheckError());
  }
  TIdSocketHandle& binding = RequireBinding();
  binding.SetPeer(address, uint16_t(Port()), IPVersion());
  ReportStatus(hsConnecting, {binding.RemoteIP()});
  const BoundedWait bounded = BoundWait(ConnectTimeout() != 0 ? ConnectTimeout() : -1);
  if (bounded.byDeadline) {
    try {
      ConnectWithTimeout(bounded.ms);
    } catch (const EIdConnectTimeout&) {
      RaiseCallTimeout();
    }
  } else if (ConnectTimeout() != 0) {
    ConnectWithTimeout(ConnectTimeout());
  } else {
    binding.Connect();
  }
}

void TIdIOHandlerStack::ConnectWithTimeout(int32_t timeout) {
  constexpr int32_t kStep = 125;
  const bool unlimited = timeout < 0;
  TIdConnectThread thread(RequireBinding());
  int32_t remaining = unlimited ? kStep + 1 : timeout;
  while (kStep < remaining) {
    if (thread.AwaitConnectResult(kStep)) {
      remaining = 0;
      break;
    }
    if (!unlimited) {
      remaining -= kStep;
    }
  }
  thread.AwaitConnectResult(remaining);
  if (!thread.Finished()) {
    // Closing the socket ends the pending connect, so the thread ends at once.
    Close();
    thread.JoinConnectThread();
    throw EIdConnectTimeout(RSConnectTimeout());
  }
  thread.JoinConnectThread();
  if (!thread.ErrorText().isEmpty()) {
    if (thread.ErrorCode() != 0) {
      throw EIdSocketError(thread.ErrorCode(), thread.ErrorText());
    }
    throw EIdConnectException(thread.ErrorText());
  }
}

bool TIdIOHandlerStack::Connected() {
  try {
    FillPendingInput(false, 0, false);
  } catch (const EIdSocketError&) {
    SetPeerClosed(true);
    Close();
  }
  return (SourceAvailable() && TIdIOHandler::Connected()) || !PendingInputEmpty();
}
