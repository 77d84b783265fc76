#include "net/IdIOHandlerSocket.h"

#include "net/IdResourceStrings.h"

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
  TIdSocketHandle& binding = RequireBinding();
  if (OnBeforeBind) {
    OnBeforeBind(this);
  }
  binding.SetIPVersion(settings_.ipVersion);
  binding.Allocate(Id_SOCK_STREAM, 0);
  if (OnSocketAllocated) {
    OnSocketAllocated(this);
  }
  // Taken after OnSocketAllocated, so that the handler may still change where the socket binds.
  binding.SetSettings(settings_);
  binding.Bind();
  binding.SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, useNagle_ ? 0 : 1);
  if (OnAfterBind) {
    OnAfterBind(this);
  }
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
