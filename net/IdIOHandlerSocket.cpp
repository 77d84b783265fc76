#include "net/IdIOHandlerSocket.h"

#include "net/IdResourceStrings.h"

#include <chrono>

TIdIOHandlerSocket::TIdIOHandlerSocket(QObject* owner)
    : TIdIOHandler(owner), binding_(std::make_unique<TIdSocketHandle>()) {}

void TIdIOHandlerSocket::SetUseNagle(bool use) {
  if (use == useNagle_) {
    return;
  }
  useNagle_ = use;
  if (SourceAvailable()) {
    binding_->SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, use ? 0 : 1);
  }
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  binding_->Reset(true);
  binding_->SetClientPortMin(settings_.boundPortLow);
  binding_->SetClientPortMax(settings_.boundPortHigh);
  if (!Host().isEmpty() && Port() > 0) {
    ConnectSocket();
  }
}

void TIdIOHandlerSocket::ConnectSocket() {
  if (OnBeforeBind) {
    OnBeforeBind(this);
  }
  if (Port() < 0 || Port() > 65535) {
    throw ERangeError(RSRangeCheckError());
  }
  const TIdConnectTarget target{Host(), uint16_t(Port()), family_};
  TIdConnectLimits limits;
  if (ConnectTimeout() > 0) {
    limits.connectBy =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ConnectTimeout());
  }
  limits.callBy = CallDeadline();
  TIdConnectSteps steps;
  steps.makeSocket = [this](TIdIPVersion version) {
    return MakeAttemptSocket(version);
  };
  steps.onResolving = [this](const QString& host) {
    ReportStatus(hsResolving, {host});
  };
  steps.onConnecting = [this](const QString& address) {
    ReportStatus(hsConnecting, {address});
  };
  TIdSocketHandle& binding = RequireBinding();
  binding.SetSettings(settings_);
  binding.AdoptConnection(
      [&](const TIdConnectAbort& abort) { return ConnectToHost(target, limits, abort, steps); });
  if (OnSocketAllocated) {
    OnSocketAllocated(this);
  }
  if (OnAfterBind) {
    OnAfterBind(this);
  }
}

TIdStackSocketHandle TIdIOHandlerSocket::MakeAttemptSocket(TIdIPVersion version) {
  TIdSocketHandle attempt;
  attempt.SetIPVersion(version);
  attempt.SetSettings(settings_);
  attempt.Allocate(Id_SOCK_STREAM, 0);
  attempt.Bind();
  attempt.SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, useNagle_ ? 0 : 1);
  return attempt.Release();
}

void TIdIOHandlerSocket::Close() {
  binding_->Close();
  TIdIOHandler::Close();
}

bool TIdIOHandlerSocket::SourceAvailable() const {
  return binding_->HandleAllocated();
}

bool TIdIOHandlerSocket::Readable(int32_t timeout) {
  return RequireBinding().IsReadable(timeout);
}

int32_t TIdIOHandlerSocket::ReceiveChunk(QByteArray& buffer) {
  return RequireBinding().Receive(buffer);
}

int32_t TIdIOHandlerSocket::SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) {
  return SendWhenRoom(bytes, offset, length);
}

int32_t TIdIOHandlerSocket::SendWhenRoom(const QByteArray& bytes, int32_t offset, int32_t length) {
  TIdSocketHandle& binding = RequireBinding();
  for (;;) {
    const int32_t sent = binding.SendAvailable(bytes, offset, length);
    if (sent >= 0) {
      return sent;
    }
    // A peer that stops reading leaves no room for ever: the wait ends at the call's deadline,
    // or at once with an abort (the shut-down socket has "room", and the send then fails).
    const BoundedWait bounded = BoundWait(kTimeoutInfinite);
    if (!binding.WaitForSendRoom(bounded.ms)) {
      RaiseCallTimeout();
    }
  }
}
