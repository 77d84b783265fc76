#include "net/IdStackPosix.h"

#include "net/IdResourceStrings.h"
#include "net/IdSocketErrorTable.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// The transport's number for a lookup that ran out of memory.
constexpr int32_t kLookupOutOfMemory = 8;

// Waits until the connect in progress on socket ends, or abortHandle (when not -1) becomes
// readable; returns 0 or Id_SOCKET_ERROR with errno set (ENOTSOCK for the abort).
int WaitForConnect(int socket, int abortHandle) {
  pollfd entries[2] = {{socket, POLLOUT, 0}, {abortHandle, POLLIN, 0}};
  const nfds_t count = abortHandle >= 0 ? 2 : 1;
  int ready;
  do {
    ready = ::poll(entries, count, -1);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    return Id_SOCKET_ERROR;
  }
  if (count == 2 && entries[1].revents != 0) {
    errno = ENOTSOCK;
    return Id_SOCKET_ERROR;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return Id_SOCKET_ERROR;
  }
  if (error == 0) {
    return 0;
  }
  errno = error;
  return Id_SOCKET_ERROR;
}

} // namespace

TIdConnectAbort::TIdConnectAbort() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) {
    const int32_t code = PosixErrorToSocketError(errno);
    TIdStackHold()->RaiseForSocketError(code);
  }
}

TIdConnectAbort::~TIdConnectAbort() {
  ::close(handle_);
}

void TIdConnectAbort::Raise() noexcept {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(handle_, &one, sizeof one);
}

void TIdConnectAbort::Reset() noexcept {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(handle_, &count, sizeof count);
}

int32_t PosixErrorToSocketError(int errnum) {
  const TIdSocketErrorEntry* entry = FindSocketErrorByErrno(errnum);
  return entry ? entry->code : errnum;
}

int32_t AddrInfoErrorToSocketError(int result, int errnum) {
  switch (result) {
  case EAI_NONAME:
    return 11001;
  case EAI_AGAIN:
    return 11002;
  case EAI_FAIL:
    return 11003;
  case EAI_NODATA:
  case EAI_ADDRFAMILY:
    return 11004;
  case EAI_FAMILY:
    return 10047;
  case EAI_BADFLAGS:
    return 10022;
  case EAI_SOCKTYPE:
    return 10044;
  case EAI_SERVICE:
    return 10109;
  case EAI_MEMORY:
    return kLookupOutOfMemory;
  case EAI_SYSTEM:
    return PosixErrorToSocketError(errnum);
  default:
    return result;
  }
}

QString TIdStackPosix::LookupHost(const QString& host, TIdIPVersion version) {
  // The name service reads a C string, which ends at the first NUL: what it would resolve is
  // not the name the caller holds.
  if (host.contains(QChar(0))) {
    RaiseForSocketError(AddrInfoErrorToSocketError(EAI_NONAME, 0));
  }
  addrinfo hints{};
  hints.ai_family = AddressFamily(version);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
  const int errnum = errno;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> results(found, &freeaddrinfo);
  if (result != 0) {
    RaiseForSocketError(AddrInfoErrorToSocketError(result, errnum));
  }
  QString address;
  uint16_t port;
  TIdIPVersion family;
  DecodeAddress(results->ai_addr, address, port, family);
  return address;
}

int32_t TIdStackPosix::LastError() const {
  return PosixErrorToSocketError(errno);
}

QString TIdStackPosix::ErrorCodeText(int32_t code) const {
  switch (code) {
  case Id_WSAHOST_NOT_FOUND:
    return RSStackHostNotFound();
  case Id_WSATRY_AGAIN:
    return RSStackTryAgain();
  case Id_WSANO_RECOVERY:
    return RSStackNoRecovery();
  case Id_WSANO_DATA:
    return RSStackNoData();
  case Id_WSATYPE_NOT_FOUND:
    return RSStackServiceNotFound();
  case kLookupOutOfMemory:
    return RSStackOutOfMemory();
  default:
    break;
  }
  return TIdStackBSDBase::ErrorCodeText(code);
}

TIdStackSocketHandle TIdStackPosix::WSSocket(int family, int type, int protocol, bool) {
  // Close-on-exec keeps our sockets out of any program the process starts.
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int TIdStackPosix::WSBind(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length) {
  return ::bind(socket, address, length);
}

int TIdStackPosix::WSConnect(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length,
                             int abortHandle) {
  if (abortHandle < 0) {
    if (::connect(socket, address, length) == 0) {
      return 0;
    }
    return errno == EINTR ? WaitForConnect(socket, -1) : Id_SOCKET_ERROR;
  }
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
    return Id_SOCKET_ERROR;
  }
  int result = ::connect(socket, address, length);
  if (result != 0 && (errno == EINPROGRESS || errno == EINTR)) {
    result = WaitForConnect(socket, abortHandle);
  }
  const int error = errno;
  ::fcntl(socket, F_SETFL, flags);
  errno = error;
  return result;
}

ssize_t TIdStackPosix::WSSend(TIdStackSocketHandle socket, const void* data, size_t length) {
  ssize_t sent;
  do {
    sent = ::send(socket, data, length, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

ssize_t TIdStackPosix::WSSendNow(TIdStackSocketHandle socket, const void* data, size_t length) {
  ssize_t sent;
  do {
    sent = ::send(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

int TIdStackPosix::WSPollSend(TIdStackSocketHandle socket, int32_t timeout) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    int32_t wait = timeout;
    if (timeout > 0) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = int32_t(std::max<int64_t>(left.count(), 0));
    }
    pollfd entry{socket, POLLOUT, 0};
    const int result = ::poll(&entry, 1, timeout < 0 ? -1 : wait);
    if (result >= 0 || errno != EINTR) {
      return result;
    }
  }
}

ssize_t TIdStackPosix::WSRecv(TIdStackSocketHandle socket, void* data, size_t length) {
  ssize_t received;
  do {
    received = ::recv(socket, data, length, 0);
  } while (received < 0 && errno == EINTR);
  return received;
}

int TIdStackPosix::WSShutdown(TIdStackSocketHandle socket, int how) {
  return ::shutdown(socket, how);
}

int TIdStackPosix::WSCloseSocket(TIdStackSocketHandle socket) {
  return ::close(socket);
}

int TIdStackPosix::WSGetSockName(TIdStackSocketHandle socket, sockaddr* address,
                                 socklen_t* length) {
  return ::getsockname(socket, address, length);
}

int TIdStackPosix::WSGetPeerName(TIdStackSocketHandle socket, sockaddr* address,
                                 socklen_t* length) {
  return ::getpeername(socket, address, length);
}

int TIdStackPosix::WSSetSockOpt(TIdStackSocketHandle socket, int level, int option,
                                const void* value, socklen_t length) {
  return ::setsockopt(socket, level, option, value, length);
}

int TIdStackPosix::WSGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                                socklen_t* length) {
  return ::getsockopt(socket, level, option, value, length);
}

std::unique_ptr<TIdStack> CreatePosixStack() {
  return std::make_unique<TIdStackPosix>();
}
