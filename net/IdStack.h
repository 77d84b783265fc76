#pragma once

// The socket stack: one object per process that turns host names into addresses, creates,
// binds, connects, reads, writes and closes sockets, and turns every socket failure into an
// exception with a fixed text. It exists while at least one network component (or buffer)
// holds it through AcquireStack/ReleaseStack.

#include "net/IdException.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The IP version of an address, a socket or a lookup.
enum TIdIPVersion : uint8_t { Id_IPv4 = 0, Id_IPv6 = 1 };

// A socket value of the operating system; Id_INVALID_SOCKET when there is none.
using TIdStackSocketHandle = int;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
// What a socket call returns on failure.
inline constexpr int Id_SOCKET_ERROR = -1;

// Socket types, levels and options as callers of the stack name them.
inline constexpr int Id_SOCK_STREAM = SOCK_STREAM;
inline constexpr int Id_SOL_SOCKET = SOL_SOCKET;
inline constexpr int Id_SO_REUSEADDR = SO_REUSEADDR;
inline constexpr int Id_SO_BROADCAST = SO_BROADCAST;
inline constexpr int Id_IPPROTO_TCP = IPPROTO_TCP;
inline constexpr int Id_TCP_NODELAY = TCP_NODELAY;

// The transport's error numbers that callers test for by value.
inline constexpr int32_t Id_WSAEBADF = 10009;
inline constexpr int32_t Id_WSAEINVAL = 10022;
inline constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
inline constexpr int32_t Id_WSAENOTSOCK = 10038;
inline constexpr int32_t Id_WSAENETDOWN = 10050;
inline constexpr int32_t Id_WSAENETUNREACH = 10051;
inline constexpr int32_t Id_WSAECONNABORTED = 10053;
inline constexpr int32_t Id_WSAECONNRESET = 10054;
inline constexpr int32_t Id_WSAESHUTDOWN = 10058;
inline constexpr int32_t Id_WSAETIMEDOUT = 10060;
inline constexpr int32_t Id_WSAECONNREFUSED = 10061;
inline constexpr int32_t Id_WSAEHOSTDOWN = 10064;
inline constexpr int32_t Id_WSAEHOSTUNREACH = 10065;
inline constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int32_t Id_WSATRY_AGAIN = 11002;
inline constexpr int32_t Id_WSANO_RECOVERY = 11003;
inline constexpr int32_t Id_WSANO_DATA = 11004;
inline constexpr int32_t Id_WSATYPE_NOT_FOUND = 10109;

// Failures of the stack itself.
MARQUELO_DECLARE_EXCEPTION(EIdStackError, EIdException)
// Constructing the stack failed; the message is that of the failure it replaces.
MARQUELO_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError)
// A socket set already holds its 64 sockets, or an index outside the set was asked for.
MARQUELO_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError)
// An IP version (address family) the stack does not handle.
MARQUELO_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError)
// IPv6 name functions are missing.
MARQUELO_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException)

// A signal that ends a connect pending on another thread. Raise() is sticky until Reset(), so
// a connect that starts after the signal ends at once. Owns one event descriptor, made on
// construction (raises EIdSocketError when the process is out of descriptors).
class TIdConnectAbort {
public:
  TIdConnectAbort();
  ~TIdConnectAbort();
  Q_DISABLE_COPY(TIdConnectAbort)
  // Ends the pending (or next) connect with error 10038. Safe from any thread; never raises.
  void Raise() noexcept;
  // Clears the signal for the next connect.
  void Reset() noexcept;
  // The descriptor that becomes readable once raised.
  int Handle() const noexcept { return handle_; }

private:
  int handle_;
};

// The abstract stack: name resolution, error texts and the socket operations a concrete stack
// provides. Every call runs on the caller's thread and blocks as long as the system call does.
// Every failing socket call raises EIdSocketError (EIdNotASocket for 10038) with the code and
// text of the failure; nothing returns an error code silently.
class TIdStack {
public:
  TIdStack() = default;
  Q_DISABLE_COPY(TIdStack)
  virtual ~TIdStack();

  // --- Names and addresses ------------------------------------------------------------------
  // The address text for host: for Id_IPv4 "localhost" (any case) gives "127.0.0.1" and an
  // IPv4 literal comes back unchanged without a query; for Id_IPv6 a literal comes back in
  // canonical form. Anything else goes to LookupHost (which may block on the name service).
  // Raises EIdIPVersionUnsupported for other versions, EIdSocketError when the lookup fails.
  QString ResolveHost(const QString& host, TIdIPVersion version = Id_IPv4);
  // Asks the name service for the first address of host in the given version. Blocks for the
  // query. Raises EIdSocketError (11001 "Host not found." for an unknown name, and for a name
  // holding U+0000, which no name service can be asked for).
  virtual QString LookupHost(const QString& host, TIdIPVersion version) = 0;
  // True for four "."-separated parts, each (without surrounding spaces) an integer 0..255,
  // with nothing after the fourth. "$"/"0x" hexadecimal parts count as integers.
  static bool IsIPv4Literal(QStringView text);
  // The canonical text (AddressToText form) of an IPv6 literal; nothing for other text.
  static std::optional<QString> CanonicalIPv6(QStringView text);

  // The text of an address of 4 bytes (IPv4, "10.0.0.1") or 16 bytes (IPv6, eight upper-case
  // hexadecimal groups without leading zeros and without "::" compression) in network order.
  // Other lengths give empty text.
  static QString AddressToText(QByteArrayView address);
  // The network-order bytes (4 or 16) of an address text. IPv4: a part that is not an integer
  // raises EConvertError, one outside 0..255 ERangeError. IPv6: text that is not an IPv6
  // literal raises EConvertError.
  static QByteArray TextToAddress(QStringView text, TIdIPVersion version);

  // --- Sockets --------------------------------------------------------------------------------
  // A new socket of the family of version. The caller owns it and closes it with Disconnect.
  virtual TIdStackSocketHandle CreateSocketHandle(int type, int protocol,
                                                  TIdIPVersion version = Id_IPv4,
                                                  bool overlapped = false) = 0;
  // Binds to ip (empty = any local address) and port (0 = any).
  virtual void Bind(TIdStackSocketHandle socket, const QString& ip, uint16_t port,
                    TIdIPVersion version) = 0;
  // Connects to ip and port; blocks until the system's connect ends, or, when abort is given,
  // until it is raised (then EIdNotASocket 10038: the socket is being closed under the call).
  // An empty ip fails as TextToAddress does; it never stands for the local host.
  virtual void Connect(TIdStackSocketHandle socket, const QString& ip, uint16_t port,
                       TIdIPVersion version, const TIdConnectAbort* abort = nullptr) = 0;
  // Sends the bytes of buffer from offset, length of them (-1 = to the end), as one send call;
  // returns the count the system took (possibly less). A count of 0 or less after clipping
  // returns without a call. Never raises SIGPIPE; a gone peer raises EIdSocketError.
  virtual int32_t Send(TIdStackSocketHandle socket, const QByteArray& buffer, int32_t offset = 0,
                       int32_t length = -1) = 0;
  // Send, but takes only what the socket has room for now and never blocks: returns the count
  // taken, or -1 when there is no room at all (nothing was sent). Raises as Send.
  virtual int32_t SendAvailable(TIdStackSocketHandle socket, const QByteArray& buffer,
                                int32_t offset, int32_t length) = 0;
  // Waits up to timeout ms (negative: no limit) until socket has room to send, or a send would
  // end at once another way (a failure, a shut-down socket). False when the time passed first.
  // Raises EIdSocketError when the wait itself fails.
  virtual bool WaitForSendRoom(TIdStackSocketHandle socket, int32_t timeout) = 0;
  // Receives into the whole of buffer (an empty buffer raises ERangeError); returns the count
  // received, 0 when the peer has closed. Blocks until data or the close arrives.
  virtual int32_t Receive(TIdStackSocketHandle socket, QByteArray& buffer) = 0;
  // Shuts the sending side down, then closes the socket. Never raises.
  virtual void Disconnect(TIdStackSocketHandle socket) noexcept = 0;
  // Shuts both directions of socket down and keeps it open: a wait, receive or send pending on
  // it in another thread ends at once, and so does every later one. Never raises.
  virtual void ShutdownBoth(TIdStackSocketHandle socket) noexcept = 0;
  // The local / peer address of a socket as text, version and port.
  virtual void GetSocketName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                             TIdIPVersion& version) = 0;
  virtual void GetPeerName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                           TIdIPVersion& version) = 0;
  // Sets / reads a socket option with a 32-bit value.
  virtual void SetSocketOption(TIdStackSocketHandle socket, int level, int option,
                               int32_t value) = 0;
  virtual int32_t GetSocketOption(TIdStackSocketHandle socket, int level, int option) = 0;

  // --- Errors ---------------------------------------------------------------------------------
  // The transport's error number of the calling thread's last failed socket call.
  virtual int32_t LastError() const = 0;
  // "Socket Error # <code>", CR LF, then the text of the code (empty for an unknown code).
  QString SocketErrorText(int32_t code) const;
  // Raises EIdNotASocket for 10038, EIdSocketError for any other code.
  [[noreturn]] void RaiseForSocketError(int32_t code) const;
  [[noreturn]] void RaiseLastSocketError() const { RaiseForSocketError(LastError()); }
  // result unchanged, unless it is Id_SOCKET_ERROR: then raises for LastError().
  int CheckSocketResult(int result) const;
  // result when it is not Id_SOCKET_ERROR; else the last error when it is one of codes;
  // else raises for it.
  int CheckSocketResultExcept(int result, std::initializer_list<int32_t> codes) const;

protected:
  // The second line of SocketErrorText for code; a concrete stack may answer some codes itself.
  virtual QString ErrorCodeText(int32_t code) const;
};

// --- The one stack of the process ------------------------------------------------------------

// How the stack is made; null means "undefined". Initially CreateDefaultStack.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();
// Makes the stack of this platform, the POSIX stack; raises what its constructor raises.
// Defined in a unit of its own (IdStackDefault.cpp), the one that names the concrete stack,
// so that the abstract stack does not depend on the classes derived from it.
std::unique_ptr<TIdStack> CreateDefaultStack();
TIdStackClass StackClass();
void SetStackClass(TIdStackClass stackClass);

// Counts one more user of the stack and creates it for the first one. Raises EIdException
// "Stack Class is undefined." without a stack class, EIdStackInitializationFailed (with the
// message of the original failure) when construction fails; the count is then unchanged.
// Safe to call from any thread.
void AcquireStack();
// Counts one user less and frees the stack when it was the last. Safe from any thread.
void ReleaseStack() noexcept;
// The number of current users (read under StackLock).
int32_t StackUsageCount();
// The process-wide lock that guards the count and the instance.
std::mutex& StackLock();
// The stack instance, or null when nobody holds it. Callers that hold the stack (through
// AcquireStack or a TIdStackHold) may use it without locking.
TIdStack* GStack() noexcept;

// Holds the stack for the lifetime of the object (AcquireStack / ReleaseStack) and gives access
// to it. The constructor raises what AcquireStack raises.
class TIdStackHold {
public:
  TIdStackHold() { AcquireStack(); }
  ~TIdStackHold() { ReleaseStack(); }
  Q_DISABLE_COPY(TIdStackHold)
  TIdStack& operator*() const noexcept { return *GStack(); }
  TIdStack* operator->() const noexcept { return GStack(); }
};
