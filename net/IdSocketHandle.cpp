#include "net/IdSocketHandle.h"

#include "net/IdResourceStrings.h"
#include "net/IdTimeouts.h"

TIdSocketHandle::TIdSocketHandle() : readableSet_(TIdSocketList::CreateSocketList()) {}

TIdSocketHandle::~TIdSocketHandle() {
  Close();
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle socket) {
  const TIdStackSocketHandle old = handle_.exchange(socket);
  if (old != Id_INVALID_SOCKET) {
    readableSet_->Remove(old);
  }
  if (socket != Id_INVALID_SOCKET) {
    readableSet_->Add(socket);
  }
}

void TIdSocketHandle::Allocate(int type, int protocol) {
  Close();
  // An aborted handle makes nothing new: whatever would follow would only be aborted in turn.
  CheckNotAborted();
  SetHandle(stack_->CreateSocketHandle(type, protocol, ipVersion_, useOverlapped_));
}

void TIdSocketHandle::Close() {
  std::lock_guard lock(connectionLock_);
  const TIdStackSocketHandle socket = Handle();
  if (socket == Id_INVALID_SOCKET) {
    return;
  }
  SetHandle(Id_INVALID_SOCKET);
  if (connecting_) {
    closeDeferred_ = true;
    abort_->Raise();
  } else {
    stack_->Disconnect(socket);
  }
}

TIdStackSocketHandle TIdSocketHandle::Release() noexcept {
  std::lock_guard lock(connectionLock_);
  const TIdStackSocketHandle socket = Handle();
  SetHandle(Id_INVALID_SOCKET);
  return socket;
}

void TIdSocketHandle::AdoptConnection(
    const std::function<TIdConnectedSocket(const TIdConnectAbort& abort)>& connect) {
  Close();
  const TIdConnectAbort* abort;
  {
    std::lock_guard lock(connectionLock_);
    abort = &ArmConnect();
  }
  TIdConnectedSocket connected;
  try {
    connected = connect(*abort);
  } catch (...) {
    EndConnect(Id_INVALID_SOCKET, false);
    CheckNotAborted();
    throw;
  }
  {
    std::lock_guard lock(connectionLock_);
    connecting_ = false;
    closeDeferred_ = false;
    if (aborted_) {
      stack_->Disconnect(connected.handle);
      stack_->RaiseForSocketError(Id_WSAECONNABORTED);
    }
    ipVersion_ = connected.version;
    SetHandle(connected.handle);
  }
  try {
    RefreshLocalBinding();
    RefreshPeerBinding();
  } catch (const EIdSocketError&) {
    CheckNotAborted();
    throw;
  }
}

void TIdSocketHandle::WaitAbortably(const std::function<void(const TIdConnectAbort& abort)>& wait) {
  const TIdConnectAbort* abort;
  TIdStackSocketHandle socket;
  {
    std::lock_guard lock(connectionLock_);
    abort = &ArmConnect();
    socket = Handle();
  }
  try {
    wait(*abort);
  } catch (...) {
    EndConnect(socket, false);
    CheckNotAborted();
    throw;
  }
  EndConnect(socket, false);
  CheckNotAborted();
}

void TIdSocketHandle::Abort() noexcept {
  // Under the connection lock, so that the descriptor shut down is never one that a Close()
  // on the using thread has just released and the system handed out again.
  std::lock_guard lock(connectionLock_);
  aborted_ = true;
  if (connecting_) {
    abort_->Raise();
  }
  if (const TIdStackSocketHandle socket = Handle(); socket != Id_INVALID_SOCKET) {
    stack_->ShutdownBoth(socket);
  }
}

void TIdSocketHandle::CheckNotAborted() const {
  if (aborted_) {
    stack_->RaiseForSocketError(Id_WSAECONNABORTED);
  }
}

void TIdSocketHandle::Reset(bool resetLocal) {
  Close();
  remoteIP_.clear();
  remotePort_ = 0;
  if (resetLocal) {
    settings_.boundIP.clear();
    settings_.boundPort = 0;
  }
  ipVersion_ = Id_IPv4;
}

void TIdSocketHandle::Bind() {
  if (settings_.reuseSocket == rsTrue) {
    SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, 1);
  }
  if (settings_.boundPort != 0 || settings_.boundPortLow == 0 || settings_.boundPortHigh == 0) {
    if (!TryBind()) {
      throw EIdCouldNotBindSocket(RSCouldNotBindSocket());
    }
  } else if (settings_.boundPortHigh < settings_.boundPortLow) {
    throw EIdInvalidPortRange(
        RSInvalidPortRange().arg(settings_.boundPortLow).arg(settings_.boundPortHigh));
  } else if (!BindInPortRange(settings_.boundPortLow, settings_.boundPortHigh)) {
    throw EIdCanNotBindPortInRange(
        RSCannotBindRange().arg(settings_.boundPortLow).arg(settings_.boundPortHigh));
  }
}

bool TIdSocketHandle::TryBind() {
  try {
    stack_->Bind(Handle(), settings_.boundIP, settings_.boundPort, ipVersion_);
    RefreshLocalBinding();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

bool TIdSocketHandle::BindInPortRange(uint16_t min, uint16_t max) {
  for (uint32_t port = max; port >= min && port > 0; --port) {
    settings_.boundPort = uint16_t(port);
    if (TryBind()) {
      return true;
    }
  }
  return false;
}

const TIdConnectAbort& TIdSocketHandle::ArmConnect() {
  CheckNotAborted();
  if (!abort_) {
    abort_ = std::make_unique<TIdConnectAbort>();
  }
  abort_->Reset();
  connecting_ = true;
  return *abort_;
}

void TIdSocketHandle::Connect() {
  TIdStackSocketHandle socket;
  {
    std::lock_guard lock(connectionLock_);
    socket = Handle();
    if (socket == Id_INVALID_SOCKET) {
      stack_->RaiseForSocketError(Id_WSAENOTSOCK);
    }
    ArmConnect();
  }
  try {
    stack_->Connect(socket, remoteIP_, remotePort_, ipVersion_, abort_.get());
  } catch (...) {
    EndConnect(socket, false);
    CheckNotAborted();
    throw;
  }
  // EndConnect must run whatever happened: it releases a descriptor whose close was deferred.
  // Reading the bindings of a socket that was shut down meanwhile fails as "not connected".
  try {
    EndConnect(socket, true);
  } catch (const EIdSocketError&) {
    CheckNotAborted();
    throw;
  }
  CheckNotAborted();
}

void TIdSocketHandle::EndConnect(TIdStackSocketHandle socket, bool connected) {
  std::lock_guard lock(connectionLock_);
  connecting_ = false;
  if (closeDeferred_) {
    closeDeferred_ = false;
    if (socket != Id_INVALID_SOCKET) {
      stack_->Disconnect(socket);
    }
  } else if (connected && HandleAllocated()) {
    RefreshLocalBinding();
    RefreshPeerBinding();
  }
}

// After an abort the shut-down socket answers with an end of data or a broken pipe; the
// checks around each call make that the abort's own error, so that no caller takes it for the
// peer's orderly close.
template <typename Call> auto TIdSocketHandle::UnlessAborted(Call call) const {
  CheckNotAborted();
  try {
    auto result = call();
    CheckNotAborted();
    return result;
  } catch (const EIdSocketError&) {
    CheckNotAborted();
    throw;
  }
}

int32_t TIdSocketHandle::Send(const QByteArray& buffer, int32_t offset, int32_t length) {
  return UnlessAborted([&] { return stack_->Send(Handle(), buffer, offset, length); });
}

int32_t TIdSocketHandle::SendAvailable(const QByteArray& buffer, int32_t offset, int32_t length) {
  return UnlessAborted([&] { return stack_->SendAvailable(Handle(), buffer, offset, length); });
}

bool TIdSocketHandle::WaitForSendRoom(int32_t timeout) {
  return UnlessAborted([&] { return stack_->WaitForSendRoom(Handle(), timeout); });
}

int32_t TIdSocketHandle::Receive(QByteArray& buffer) {
  return UnlessAborted([&] { return stack_->Receive(Handle(), buffer); });
}

bool TIdSocketHandle::IsReadable(int32_t timeout) {
  if (!HandleAllocated()) {
    throw EIdConnClosedGracefully(RSConnectionClosedGracefully());
  }
  // A socket has no ReadTimeout of its own: the default wait is the wait without limit.
  return UnlessAborted([&] {
    return readableSet_->SelectRead(timeout == kTimeoutDefault ? kTimeoutInfinite : timeout);
  });
}

void TIdSocketHandle::SetSockOpt(int level, int option, int32_t value) {
  stack_->SetSocketOption(Handle(), level, option, value);
}

int32_t TIdSocketHandle::GetSockOpt(int level, int option) const {
  return stack_->GetSocketOption(Handle(), level, option);
}

void TIdSocketHandle::RefreshLocalBinding() {
  stack_->GetSocketName(Handle(), settings_.boundIP, settings_.boundPort, ipVersion_);
}

void TIdSocketHandle::RefreshPeerBinding() {
  TIdIPVersion version;
  stack_->GetPeerName(Handle(), remoteIP_, remotePort_, version);
}

void TIdSocketHandle::SetPeer(const QString& ip, uint16_t port, TIdIPVersion version) {
  remoteIP_ = ip;
  remotePort_ = port;
  SetIPVersion(version);
}

void TIdSocketHandle::SetBinding(const QString& ip, uint16_t port, TIdIPVersion version) {
  settings_.boundIP = ip;
  settings_.boundPort = port;
  SetIPVersion(version);
}

void TIdSocketHandle::Assign(const TIdSocketHandle& source) {
  settings_.boundIP = source.settings_.boundIP;
  settings_.boundPort = source.settings_.boundPort;
  remoteIP_ = source.remoteIP_;
  remotePort_ = source.remotePort_;
  SetIPVersion(source.ipVersion_);
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion version) {
  if (version == ipVersion_) {
    return;
  }
  if (HandleAllocated()) {
    throw EIdCannotSetIPVersionWhenConnected(RSCannotSetIPVersionWhenConnected());
  }
  ipVersion_ = version;
}

void TIdSocketHandle::SetBroadcastEnabled(bool enabled) {
  if (enabled == broadcastEnabled_) {
    return;
  }
  broadcastEnabled_ = enabled;
  if (HandleAllocated()) {
    SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, enabled ? 1 : 0);
  }
}
