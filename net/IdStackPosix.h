#pragma once

// The concrete socket stack over POSIX sockets, and the translation of the system's error
// numbers (errno, getaddrinfo results) into the transport's error numbers, so that every
// failure reads the same on every platform: ECONNREFUSED is 10061 "Connection refused.",
// an unknown host 11001 "Host not found.".

#include "net/IdStackBSDBase.h"

#include <memory>

// The transport's number for an errno value. Values without a counterpart come back unchanged.
int32_t PosixErrorToSocketError(int errnum);
// The transport's number for a non-zero getaddrinfo result; EAI_SYSTEM takes errnum (the errno
// right after the call) through PosixErrorToSocketError.
int32_t AddrInfoErrorToSocketError(int result, int errnum);

class TIdStackPosix : public TIdStackBSDBase {
public:
  // Looks host up through getaddrinfo (blocking, as long as the name service takes) and returns
  // the first address of the family of version. Raises EIdSocketError with the translated code.
  QString LookupHost(const QString& host, TIdIPVersion version) override;
  // errno of the calling thread, translated.
  int32_t LastError() const override;

protected:
  // The name-lookup codes are answered here (11001 "Host not found.", 11002 "Temporary failure
  // in name resolution.", ...), all other codes by the common table.
  QString ErrorCodeText(int32_t code) const override;

  TIdStackSocketHandle WSSocket(int family, int type, int protocol, bool overlapped) override;
  int WSBind(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length) override;
  // A connect interrupted by a signal goes on in the background; this waits for its end, so
  // a caller sees one blocking connect either way. With an abort descriptor the connect runs
  // non-blocking under a wait for either end, because a blocking connect cannot be woken
  // from another thread (closing the descriptor does not end it).
  int WSConnect(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length,
                int abortHandle) override;
  // Sends with MSG_NOSIGNAL: a gone peer is an error, never a SIGPIPE. Retries on EINTR.
  ssize_t WSSend(TIdStackSocketHandle socket, const void* data, size_t length) override;
  // MSG_NOSIGNAL and MSG_DONTWAIT; retries on EINTR.
  ssize_t WSSendNow(TIdStackSocketHandle socket, const void* data, size_t length) override;
  // poll for POLLOUT; a signal does not lengthen the wait.
  int WSPollSend(TIdStackSocketHandle socket, int32_t timeout) override;
  // Retries on EINTR.
  ssize_t WSRecv(TIdStackSocketHandle socket, void* data, size_t length) override;
  int WSShutdown(TIdStackSocketHandle socket, int how) override;
  int WSCloseSocket(TIdStackSocketHandle socket) override;
  int WSGetSockName(TIdStackSocketHandle socket, sockaddr* address, socklen_t* length) override;
  int WSGetPeerName(TIdStackSocketHandle socket, sockaddr* address, socklen_t* length) override;
  int WSSetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value,
                   socklen_t length) override;
  int WSGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                   socklen_t* length) override;
};

// Makes the POSIX stack; the stack class the process starts with.
std::unique_ptr<TIdStack> CreatePosixStack();
