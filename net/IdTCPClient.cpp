#include "net/IdTCPClient.h"

#include "net/IdIOHandlerStack.h"
#include "net/IdResourceStrings.h"

TIdTCPClientCustom::TIdTCPClientCustom(QObject* owner) : TIdTCPConnection(owner) {}

void TIdTCPClientCustom::Connect() {
  if (Connected())
    throw EIdAlreadyConnected(RSAlreadyConnected());
  if (host_.isEmpty())
    throw EIdHostRequired(QString());
  if (port_ == 0)
    throw EIdPortRequired(QString());
  if (!IOHandler()) {
    auto* handler = new TIdIOHandlerStack(this);
    SetIOHandler(handler);
    handler->OnStatus = OnStatus;
    SetOwnsIOHandler(true);
  }
  try {
    CopySettingsTo(*IOHandler());
    IOHandler()->Open();
    if (TIdConnectionIntercept* intercept = IOHandler()->Intercept())
      intercept->Connect(this);
    ReportStatus(hsConnected);
    if (OnConnected)
      OnConnected(this);
  } catch (...) {
    try {
      IOHandler()->Close();
    } catch (...) {
      // The connect's own failure is the one to report.
    }
    if (OwnsIOHandler())
      SetIOHandler(nullptr);
    throw;
  }
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler& handler) {
  handler.SetPort(port_);
  handler.SetHost(host_);
  handler.SetConnectTimeout(connectTimeout_);
  handler.SetReadTimeout(readTimeout_);
  if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(&handler)) {
    socket->SetBoundIP(boundIP_);
    socket->SetBoundPort(boundPort_);
    socket->SetBoundPortLow(boundPortLow_);
    socket->SetBoundPortHigh(boundPortHigh_);
    socket->SetIPVersion(ipVersion_);
    socket->SetReuseSocket(reuseSocket_);
    socket->OnBeforeBind = OnBeforeBind;
    socket->OnAfterBind = OnAfterBind;
    socket->OnSocketAllocated = OnSocketAllocated;
  }
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* handler) {
  TIdTCPConnection::SetIOHandler(handler);
  if (handler)
    CopySettingsTo(*handler);
}

void TIdTCPClientCustom::SetHost(const QString& host) {
  host_ = host;
  if (IOHandler())
    IOHandler()->SetHost(host);
}

void TIdTCPClientCustom::SetPort(uint16_t port) {
  port_ = port;
  if (IOHandler())
    IOHandler()->SetPort(port);
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t timeout) {
  connectTimeout_ = timeout;
  if (IOHandler())
    IOHandler()->SetConnectTimeout(timeout);
}

int32_t TIdTCPClientCustom::ReadTimeout() const {
  return IOHandler() ? IOHandler()->ReadTimeout() : readTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(int32_t timeout) {
  readTimeout_ = timeout;
  if (IOHandler())
    IOHandler()->SetReadTimeout(timeout);
}

void TIdTCPClientCustom::SetBoundIP(const QString& ip) {
  boundIP_ = ip;
  if (SocketHandler())
    SocketHandler()->SetBoundIP(ip);
}

void TIdTCPClientCustom::SetBoundPort(uint16_t port) {
  boundPort_ = port;
  if (SocketHandler())
    SocketHandler()->SetBoundPort(port);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion version) {
  ipVersion_ = version;
  if (SocketHandler())
    SocketHandler()->SetIPVersion(version);
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return SocketHandler() ? SocketHandler()->ReuseSocket() : reuseSocket_;
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket reuse) {
  reuseSocket_ = reuse;
  if (SocketHandler())
    SocketHandler()->SetReuseSocket(reuse);
}
