#pragma once

// The TCP client: connection settings (host, port, IP version, local binding, time limits),
// the connect sequence with its status reports, and a stack handler made on demand.

#include "net/IdIOHandlerSocket.h"
#include "net/IdTCPConnection.h"

// Connect on a connected client: "Already connected.".
MARQUELO_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException)
// Connect without a host / a port (empty messages).
MARQUELO_DECLARE_EXCEPTION(EIdHostRequired, EIdException)
MARQUELO_DECLARE_EXCEPTION(EIdPortRequired, EIdException)

class TIdTCPClientCustom : public TIdTCPConnection {
public:
  explicit TIdTCPClientCustom(QObject* owner = nullptr);

  // Connects to Host:Port. Without a handler makes a TIdIOHandlerStack (owned, with the
  // client's OnStatus), gives the handler the settings, opens it (resolving and trying the
  // addresses, blocking up to ConnectTimeout and the call's deadline, or as long as the
  // system's lookup and connects take without either), runs the
  // intercept's connect hook, reports hsConnected and fires OnConnected. Raises
  // EIdAlreadyConnected, EIdHostRequired, EIdPortRequired before doing anything, else what
  // the handler's Open raises (EIdSocketError, EIdConnectTimeout, bind failures); on any
  // failure the handler is closed and a handler the client made is freed.
  void Connect();

  // After a successful Connect.
  TNotifyEvent OnConnected;
  // Copied to the socket handler at Connect (see TIdIOHandlerSocket).
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

  // Settings. Host, Port, ConnectTimeout and ReadTimeout also reach the current handler at
  // once; BoundIP, BoundPort, IPVersion and ReuseSocket the current socket handler.
  QString Host() const { return host_; }
  void SetHost(const QString& host);
  uint16_t Port() const noexcept { return port_; }
  void SetPort(uint16_t port);
  // Connect time limit in ms; 0 (default) connects on the calling thread without limit.
  int32_t ConnectTimeout() const noexcept { return connectTimeout_; }
  void SetConnectTimeout(int32_t timeout);
  // Read time limit in ms (-1 default: none); the handler's value when there is a handler.
  int32_t ReadTimeout() const;
  void SetReadTimeout(int32_t timeout);
  // The moment the current call must end by (see TIdIOHandler::SetCallDeadline); none by
  // default. Reaches the current handler at once.
  TIdIOHandler::Deadline CallDeadline() const noexcept { return callDeadline_; }
  void SetCallDeadline(TIdIOHandler::Deadline deadline);
  QString BoundIP() const { return socketSettings_.boundIP; }
  void SetBoundIP(const QString& ip);
  uint16_t BoundPort() const noexcept { return socketSettings_.boundPort; }
  void SetBoundPort(uint16_t port);
  uint16_t BoundPortLow() const noexcept { return socketSettings_.boundPortLow; }
  void SetBoundPortLow(uint16_t port) noexcept { socketSettings_.boundPortLow = port; }
  uint16_t BoundPortHigh() const noexcept { return socketSettings_.boundPortHigh; }
  void SetBoundPortHigh(uint16_t port) noexcept { socketSettings_.boundPortHigh = port; }
  // The one address family to connect with; empty (the default) tries both families, every
  // address of the host, as TIdIOHandlerSocket connects. Setting one keeps a connect to the
  // addresses of that family alone.
  std::optional<TIdIPVersion> IPVersion() const noexcept { return family_; }
  void SetIPVersion(std::optional<TIdIPVersion> version);
  // The socket handler's value when there is one.
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket reuse);

  void SetIOHandler(TIdIOHandler* handler) override;

private:
  // Gives the handler every connection setting (and a socket handler the binding ones).
  void CopySettingsTo(TIdIOHandler& handler);

  QString host_;
  uint16_t port_ = 0;
  int32_t connectTimeout_ = 0;
  int32_t readTimeout_ = -1;
  TIdIOHandler::Deadline callDeadline_;
  TIdSocketSettings socketSettings_;
  std::optional<TIdIPVersion> family_;
};

// The client with every setting in view; what programs use.
class TIdTCPClient : public TIdTCPClientCustom {
public:
  using TIdTCPClientCustom::TIdTCPClientCustom;
};
