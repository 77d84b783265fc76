#pragma once

// One socket together with its local and remote address: what an I/O handler holds. The
// handle owns its socket (closed on destruction), its readability set and its connection lock.

#include "net/IdConnector.h"
#include "net/IdSocketList.h"
#include "net/IdStack.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// Failures of binding and configuring a socket handle.
MARQUELO_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException)
// "Could not bind socket. Address and port are already in use."
MARQUELO_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError)
// "Can not bind in port range (min - max)"
MARQUELO_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError)
// "Invalid Port Range (min - max)"
MARQUELO_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError)
// "Cannot change IPVersion when connected"
MARQUELO_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError)

// Whether a client socket asks for SO_REUSEADDR: only rsTrue sets it.
enum TIdReuseSocket : uint8_t { rsOSDependent, rsTrue, rsFalse };

// Where and how a socket binds: the settings a client, its socket handler and the socket
// handle each hold, handed from one to the next whole. The address family is not among them:
// the handle's socket has the family of the address it connected to.
struct TIdSocketSettings {
  // Local address to bind (empty = any) and port (0 = any, or the range below).
  QString boundIP;
  uint16_t boundPort = 0;
  // A local port range tried from high to low when boundPort is 0 (either bound 0 = no range).
  uint16_t boundPortLow = 0;
  uint16_t boundPortHigh = 0;
  TIdReuseSocket reuseSocket = rsOSDependent;
};

class TIdSocketHandle {
public:
  // Holds the socket stack until destruction (raises what AcquireStack raises). No socket yet.
  TIdSocketHandle();
  // Closes the socket first.
  ~TIdSocketHandle();
  Q_DISABLE_COPY(TIdSocketHandle)

  // --- Life -------------------------------------------------------------------------------
  // Closes any open socket, then creates one of IPVersion(). Raises EIdSocketError.
  void Allocate(int type = Id_SOCK_STREAM, int protocol = 0);
  // Shuts the sending side down and closes the socket; nothing without one. Safe to call from
  // another thread while Connect() runs there: the pending connect then ends at once (with
  // EIdNotASocket) and the descriptor is released when it has.
  void Close();
  // Gives the socket up without closing it: the caller owns it from now on, and the handle has
  // none. Returns Id_INVALID_SOCKET when there is none. Never raises.
  TIdStackSocketHandle Release() noexcept;
  // Runs connect (which makes a connected socket elsewhere, say with ConnectToHost) as this
  // handle's pending connect, and adopts the socket it returns: Abort() on another thread
  // raises the signal connect is given, as it ends Connect(). Any socket open before is closed
  // first. Afterwards the handle holds the socket, IPVersion() is its family and both
  // bindings are read from it. Raises what connect raises, EIdSocketError 10053 when aborted
  // (the adopted socket is then closed), EIdSocketError when the bindings cannot be read.
  void
  AdoptConnection(const std::function<TIdConnectedSocket(const TIdConnectAbort& abort)>& connect);
  // Runs wait, which blocks until its work is done or abort's handle becomes readable, as this
  // handle's pending connect: Abort() on another thread raises that signal. The socket open
  // before (a kept connection) stays as it is. Raises what wait raises, and EIdSocketError
  // 10053 when aborted, before wait, during it or after it.
  void WaitAbortably(const std::function<void(const TIdConnectAbort& abort)>& wait);
  // Ends what the handle does or will do, at once, from any thread: a pending or later
  // Allocate() or Connect(), a wait for data, a receive or a send raises EIdSocketError 10053
  // ("Software caused connection abort."). The socket itself stays allocated until its owner
  // closes it, so its descriptor cannot be reused under a call still running on it. Sticky
  // until ClearAbort(). Never raises.
  void Abort() noexcept;
  // Makes the handle usable again after Abort(). Call it while no other thread uses the handle.
  void ClearAbort() noexcept { aborted_ = false; }
  bool Aborted() const noexcept { return aborted_; }
  // Close(), then forgets the remote side, and the local side when resetLocal; the IP version
  // goes back to Id_IPv4.
  void Reset(bool resetLocal = true);
  // The socket value, Id_INVALID_SOCKET when there is none.
  TIdStackSocketHandle Handle() const noexcept { return handle_.load(); }
  bool HandleAllocated() const noexcept { return Handle() != Id_INVALID_SOCKET; }

  // --- Binding ----------------------------------------------------------------------------
  // Sets SO_REUSEADDR when the settings' reuseSocket is rsTrue, then binds to IP() and
  // Port(). With Port() 0 and a port range (both bounds not 0), tries the
  // range from ClientPortMax down to ClientPortMin. Raises EIdCouldNotBindSocket (single
  // try failed), EIdInvalidPortRange (max below min), EIdCanNotBindPortInRange (none free).
  // Afterwards Port() is the port the system bound.
  void Bind();
  // One bind to IP() and Port(); false on any failure. Refreshes the local binding on success.
  bool TryBind();
  // Tries each port from max down to min; true at the first that binds.
  bool BindInPortRange(uint16_t min, uint16_t max);

  // --- Connection -------------------------------------------------------------------------
  // Connects to RemoteIP() and RemotePort(); blocks until the system's connect ends or Close()
  // is called on another thread. Then refreshes both bindings if the socket is still open.
  // Raises EIdSocketError (EIdNotASocket when there is no socket or it was closed meanwhile).
  void Connect();
  // One send of the bytes from offset (length -1 = to the end); returns the count sent.
  int32_t Send(const QByteArray& buffer, int32_t offset = 0, int32_t length = -1);
  // One send of what the socket has room for now, never waiting; -1 when it has none.
  int32_t SendAvailable(const QByteArray& buffer, int32_t offset, int32_t length);
  // Waits up to timeout ms (negative: no limit) until the socket has room to send, or a send
  // would fail at once; false when the time passed first. An abort ends the wait at once.
  bool WaitForSendRoom(int32_t timeout);
  // One receive into the whole of buffer; returns the count, 0 when the peer has closed.
  int32_t Receive(QByteArray& buffer);
  // Waits up to timeout ms (-1 or -2: no limit, 0: poll) until data or the peer's close can be
  // read. Raises EIdConnClosedGracefully when the handle has no socket.
  bool IsReadable(int32_t timeout);
  // Sets a socket option on the open socket. Raises EIdSocketError.
  void SetSockOpt(int level, int option, int32_t value);
  int32_t GetSockOpt(int level, int option) const;

  // Reads the local (peer) address of the open socket into IP()/Port()/IPVersion()
  // (RemoteIP()/RemotePort()). Raises EIdSocketError.
  void RefreshLocalBinding();
  void RefreshPeerBinding();
  void SetPeer(const QString& ip, uint16_t port, TIdIPVersion version);
  void SetBinding(const QString& ip, uint16_t port, TIdIPVersion version);
  // Copies local IP and port, remote IP and port and the IP version from source.
  void Assign(const TIdSocketHandle& source);

  // --- Settings ---------------------------------------------------------------------------
  // Every binding setting at once: IP() and Port() are boundIP and boundPort (after a bind or
  // RefreshLocalBinding the ones the system chose), ClientPortMin/Max the range.
  const TIdSocketSettings& Settings() const noexcept { return settings_; }
  // Takes settings whole.
  void SetSettings(const TIdSocketSettings& settings) { settings_ = settings; }
  QString IP() const { return settings_.boundIP; }
  void SetIP(const QString& ip) { settings_.boundIP = ip; }
  uint16_t Port() const noexcept { return settings_.boundPort; }
  void SetPort(uint16_t port) noexcept { settings_.boundPort = port; }
  QString RemoteIP() const { return remoteIP_; }
  uint16_t RemotePort() const noexcept { return remotePort_; }
  uint16_t ClientPortMin() const noexcept { return settings_.boundPortLow; }
  uint16_t ClientPortMax() const noexcept { return settings_.boundPortHigh; }
  void SetClientPortMin(uint16_t port) noexcept { settings_.boundPortLow = port; }
  void SetClientPortMax(uint16_t port) noexcept { settings_.boundPortHigh = port; }
  TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  // Raises EIdCannotSetIPVersionWhenConnected for a different version while a socket is open.
  void SetIPVersion(TIdIPVersion version);
  bool BroadcastEnabled() const noexcept { return broadcastEnabled_; }
  // Applies SO_BROADCAST to an open socket when the value changes.
  void SetBroadcastEnabled(bool enabled);
  bool UseOverlapped() const noexcept { return useOverlapped_; }
  void SetUseOverlapped(bool use) noexcept { useOverlapped_ = use; }

private:
  // Raises EIdSocketError 10053 once Abort() was called.
  void CheckNotAborted() const;
  // call(), with CheckNotAborted() before it and after it, also when it raises a socket error.
  template <typename Call> auto UnlessAborted(Call call) const;
  // Sets the socket value and keeps the readability set holding exactly it.
  void SetHandle(TIdStackSocketHandle socket);
  // Starts a connect; the caller holds the connection lock. Raises 10053 when aborted, else
  // clears the abort signal for this connect and returns it.
  const TIdConnectAbort& ArmConnect();
  // Ends a connect under the connection lock: releases a descriptor whose close came in
  // meanwhile, or refreshes the bindings of a socket that got connected.
  void EndConnect(TIdStackSocketHandle socket, bool connected);

  TIdStackHold stack_;
  std::atomic<TIdStackSocketHandle> handle_{Id_INVALID_SOCKET};
  TIdSocketSettings settings_;
  TIdIPVersion ipVersion_ = Id_IPv4;
  QString remoteIP_;
  uint16_t remotePort_ = 0;
  std::unique_ptr<TIdSocketList> readableSet_;
  bool useOverlapped_ = false;
  std::mutex connectionLock_;
  bool broadcastEnabled_ = false;
  // While Connect() runs: a Close() on another thread raises the abort and leaves the
  // descriptor to Connect() to release, so its number cannot be reused under the connect.
  std::unique_ptr<TIdConnectAbort> abort_;
  bool connecting_ = false;
  bool closeDeferred_ = false;
  std::atomic<bool> aborted_{false};
};
