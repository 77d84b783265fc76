#pragma once

// The I/O handler over one socket: it owns the socket handle (Binding), connects it on Open
// through the connector (every address of the host, both families unless one is asked for),
// and gives the abstract handler readability, chunk receive and chunk send.

#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

#include <memory>
#include <optional>

class TIdIOHandlerSocket : public TIdIOHandler {
public:
  // No socket yet. owner (may be null) frees the handler. Raises what TIdSocketHandle raises.
  explicit TIdIOHandlerSocket(QObject* owner = nullptr);
  // Closes the socket with the Binding; the base then closes an open handler. Never raises.
  ~TIdIOHandlerSocket() override = default;

  // --- Settings, applied when the socket is made ----------------------------------------------
  // All of them at once (see TIdSocketSettings), and each on its own below.
  const TIdSocketSettings& SocketSettings() const noexcept { return settings_; }
  void SetSocketSettings(const TIdSocketSettings& settings) { settings_ = settings; }
  // Local address to bind (empty = any) and port (0 = any, or the range below).
  QString BoundIP() const { return settings_.boundIP; }
  void SetBoundIP(const QString& ip) { settings_.boundIP = ip; }
  uint16_t BoundPort() const noexcept { return settings_.boundPort; }
  void SetBoundPort(uint16_t port) noexcept { settings_.boundPort = port; }
  // A local port range tried from high to low when BoundPort is 0 (0 = no range).
  uint16_t BoundPortLow() const noexcept { return settings_.boundPortLow; }
  void SetBoundPortLow(uint16_t port) noexcept { settings_.boundPortLow = port; }
  uint16_t BoundPortHigh() const noexcept { return settings_.boundPortHigh; }
  void SetBoundPortHigh(uint16_t port) noexcept { settings_.boundPortHigh = port; }
  // The one address family to connect with; empty (the default) tries both, as the
  // connector orders them. Binding()->IPVersion() is the family the open socket has.
  std::optional<TIdIPVersion> IPVersion() const noexcept { return family_; }
  void SetIPVersion(std::optional<TIdIPVersion> version) noexcept { family_ = version; }
  TIdReuseSocket ReuseSocket() const noexcept { return settings_.reuseSocket; }
  void SetReuseSocket(TIdReuseSocket reuse) noexcept { settings_.reuseSocket = reuse; }
  // Nagle's algorithm on (default) or off (TCP_NODELAY); a change reaches an open socket at
  // once (raises EIdSocketError when the system refuses it).
  bool UseNagle() const noexcept { return useNagle_; }
  void SetUseNagle(bool use);

  // Around making the socket: before the connect starts (the settings may still change), then,
  // once a socket has connected and been adopted, "allocated" and "after bind" for it (every
  // attempt's socket is made and bound by the same settings).
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnSocketAllocated;
  TNotifyEvent OnAfterBind;

  // Ends the handler's connect (its name lookup included), reads and writes at once, from any
  // thread, and every later one until ClearAbort(): each raises EIdSocketError 10053 (see
  // TIdSocketHandle::Abort). Never raises.
  void Abort() noexcept { binding_->Abort(); }
  // Lets the handler connect again after Abort(); call it while no other thread uses it.
  void ClearAbort() noexcept { binding_->ClearAbort(); }
  bool Aborted() const noexcept { return binding_->Aborted(); }

  // The socket handle. Owned by the handler; it exists from construction, so that Abort()
  // can reach it from another thread while Open() runs.
  TIdSocketHandle* Binding() noexcept { return binding_.get(); }
  const TIdSocketHandle* Binding() const noexcept { return binding_.get(); }

  // --- The abstract handler's operations ------------------------------------------------------
  // Base Open, then the Binding reset, with the port range; with a Host and a Port
  // above 0, ConnectSocket. Raises what ConnectSocket raises.
  void Open() override;
  // Closes the socket, then the base Close.
  void Close() override;
  // A Binding with an allocated socket.
  bool SourceAvailable() const override;
  // Binding()->IsReadable: raises EIdConnClosedGracefully when the socket is closed.
  bool Readable(int32_t timeout) override;
  // One receive / one send on the socket; raise EIdSocketError on a failure, EIdNotConnected
  // when there is no Binding. The send is SendWhenRoom.
  int32_t ReceiveChunk(QByteArray& buffer) override;
  int32_t SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) override;

protected:
  // OnBeforeBind, then ConnectToHost to Host():Port() within ConnectTimeout() (0 or less: no
  // limit of its own) and CallDeadline(), reporting hsResolving with the host (not for a
  // literal) and hsConnecting with each address tried; every attempt's socket is bound by the
  // settings (BoundIP, BoundPort or the range; SO_REUSEADDR for rsTrue) with TCP_NODELAY by
  // UseNagle. The winner becomes the Binding's socket; then OnSocketAllocated and OnAfterBind.
  // Blocks for the lookup and the attempts. Raises ERangeError for a port outside 0..65535,
  // what ConnectToHost raises, and EIdSocketError 10053 after Abort(). Subclasses extend it.
  virtual void ConnectSocket();
  TIdSocketHandle& RequireBinding() const { return *binding_; }
  // One send on the socket of what it has room for, waiting for room first while it has none:
  // until the call's deadline (then EIdCallTimeout), or without limit when there is none. An
  // abort ends the wait with its EIdSocketError 10053. Returns the count sent (at least 1 for
  // length > 0).
  int32_t SendWhenRoom(const QByteArray& bytes, int32_t offset, int32_t length);

private:
  // A new socket of version, bound by the settings, for one attempt of the connector.
  TIdStackSocketHandle MakeAttemptSocket(TIdIPVersion version);

  TIdSocketSettings settings_;
  std::optional<TIdIPVersion> family_;
  bool useNagle_ = true;
  const std::unique_ptr<TIdSocketHandle> binding_;
};
