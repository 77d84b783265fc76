#include "net/IdTCPClient.h"

#include "net/IdIOHandlerStack.h"
#include "net/IdResourceStrings.h"

#include <functional>

namespace {

// Keeps a setting on the client and hands it to the current handler, when there is one.
template <typename Field, typename Handler, typename Setter>
void KeepAndPass(Field& field, const Field& value, Handler* handler, Setter set) {
  field = value;
  if (handler) {
    std::invoke(set, handler, value);
  }
}

} // namespace

TIdTCPClientCustom::TIdTCPClientCustom(QObject* owner) : TIdTCPConnection(owner) {}

void TIdTCPClientCustom::Connect() {
  if (Connected()) {
    throw EIdAlreadyConnected(RSAlreadyConnected());
  }
  if (host_.isEmpty()) {
    throw EIdHostRequired(QString());
  }
  if (port_ == 0) {
    throw EIdPortRequired(QString());
  }
  if (!IOHandler()) {
    auto* handler = new TIdIOHandlerStack(this);
    SetIOHandler(handler);
    handler->OnStatus = OnStatus;
    SetOwnsIOHandler(true);
  }
  try {
    CopySettingsTo(*IOHandler());
    IOHandler()->Open();
    if (TIdConnectionIntercept* intercept = IOHandler()->Intercept()) {
      intercept->Connect(this);
    }
    ReportStatus(hsConnected);
    if (OnConnected) {
      OnConnected(this);
    }
  } catch (...) {
    try {
      IOHandler()->Close();
    } catch (...) {
      // The connect's own failure is the one to report.
    }
    if (OwnsIOHandler()) {
      SetIOHandler(nullptr);
    }
    throw;
  }
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler& handler) {
  handler.SetPort(port_);
  handler.SetHost(host_);
  handler.SetConnectTimeout(connectTimeout_);
  handler.SetReadTimeout(readTimeout_);
  handler.SetCallDeadline(callDeadline_);
  if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(&handler)) {
    socket->SetSocketSettings(socketSettings_);
    socket->SetIPVersion(family_);
    socket->OnBeforeBind = OnBeforeBind;
    socket->OnAfterBind = OnAfterBind;
    socket->OnSocketAllocated = OnSocketAllocated;
  }
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* handler) {
  TIdTCPConnection::SetIOHandler(handler);
  if (handler) {
    CopySettingsTo(*handler);
  }
}

void TIdTCPClientCustom::SetHost(const QString& host) {
  KeepAndPass(host_, host, IOHandler(), &TIdIOHandler::SetHost);
}

void TIdTCPClientCustom::SetPort(uint16_t port) {
  KeepAndPass(port_, port, IOHandler(), &TIdIOHandler::SetPort);
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t timeout) {
  KeepAndPass(connectTimeout_, timeout, IOHandler(), &TIdIOHandler::SetConnectTimeout);
}

void TIdTCPClientCustom::SetCallDeadline(TIdIOHandler::Deadline deadline) {
  KeepAndPass(callDeadline_, deadline, IOHandler(), &TIdIOHandler::SetCallDeadline);
}

int32_t TIdTCPClientCustom::ReadTimeout() const {
  return IOHandler() ? IOHandler()->ReadTimeout() : readTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(int32_t timeout) {
  KeepAndPass(readTimeout_, timeout, IOHandler(), &TIdIOHandler::SetReadTimeout);
}

void TIdTCPClientCustom::SetBoundIP(const QString& ip) {
  KeepAndPass(socketSettings_.boundIP, ip, SocketHandler(), &TIdIOHandlerSocket::SetBoundIP);
}

void TIdTCPClientCustom::SetBoundPort(uint16_t port) {
  KeepAndPass(socketSettings_.boundPort, port, SocketHandler(), &TIdIOHandlerSocket::SetBoundPort);
}

void TIdTCPClientCustom::SetIPVersion(std::optional<TIdIPVersion> version) {
  KeepAndPass(family_, version, SocketHandler(), &TIdIOHandlerSocket::SetIPVersion);
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return SocketHandler() ? SocketHandler()->ReuseSocket() : socketSettings_.reuseSocket;
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket reuse) {
  KeepAndPass(socketSettings_.reuseSocket, reuse, SocketHandler(),
              &TIdIOHandlerSocket::SetReuseSocket);
}
