#pragma once

// The BSD-style socket operations of the stack, written once on top of the raw calls a
// concrete stack supplies: address records are filled here, results checked here, and every
// failure raised here with the code the concrete stack reports.

#include "net/IdStack.h"

#include <sys/types.h>

class TIdStackBSDBase : public TIdStack {
public:
  TIdStackSocketHandle CreateSocketHandle(int type, int protocol, TIdIPVersion version = Id_IPv4,
                                          bool overlapped = false) override;
  void Bind(TIdStackSocketHandle socket, const QString& ip, uint16_t port,
            TIdIPVersion version) override;
  void Connect(TIdStackSocketHandle socket, const QString& ip, uint16_t port, TIdIPVersion version,
               const TIdConnectAbort* abort = nullptr) override;
  int32_t Send(TIdStackSocketHandle socket, const QByteArray& buffer, int32_t offset = 0,
               int32_t length = -1) override;
  int32_t SendAvailable(TIdStackSocketHandle socket, const QByteArray& buffer, int32_t offset,
                        int32_t length) override;
  bool WaitForSendRoom(TIdStackSocketHandle socket, int32_t timeout) override;
  int32_t Receive(TIdStackSocketHandle socket, QByteArray& buffer) override;
  void Disconnect(TIdStackSocketHandle socket) noexcept override;
  void ShutdownBoth(TIdStackSocketHandle socket) noexcept override;
  void GetSocketName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                     TIdIPVersion& version) override;
  void GetPeerName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                   TIdIPVersion& version) override;
  void SetSocketOption(TIdStackSocketHandle socket, int level, int option, int32_t value) override;
  int32_t GetSocketOption(TIdStackSocketHandle socket, int level, int option) override;

  // The address family of an IP version (AF_INET or AF_INET6); EIdIPVersionUnsupported else.
  static int AddressFamily(TIdIPVersion version);

protected:
  // The raw calls, with the system's conventions: -1 (Id_SOCKET_ERROR, or Id_INVALID_SOCKET)
  // on failure, the reason then available through LastError() on the same thread.
  virtual TIdStackSocketHandle WSSocket(int family, int type, int protocol, bool overlapped) = 0;
  virtual int WSBind(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length) = 0;
  // abortHandle: a descriptor whose readability ends the connect with ENOTSOCK, or -1.
  virtual int WSConnect(TIdStackSocketHandle socket, const sockaddr* address, socklen_t length,
                        int abortHandle) = 0;
  virtual ssize_t WSSend(TIdStackSocketHandle socket, const void* data, size_t length) = 0;
  // A send that does not wait for room: -1 with the system's "would block" reason when there
  // is none.
  virtual ssize_t WSSendNow(TIdStackSocketHandle socket, const void* data, size_t length) = 0;
  // 1 when the socket can take bytes (or has failed), 0 when timeout ms (negative: no limit)
  // passed, -1 on failure.
  virtual int WSPollSend(TIdStackSocketHandle socket, int32_t timeout) = 0;
  virtual ssize_t WSRecv(TIdStackSocketHandle socket, void* data, size_t length) = 0;
  virtual int WSShutdown(TIdStackSocketHandle socket, int how) = 0;
  virtual int WSCloseSocket(TIdStackSocketHandle socket) = 0;
  virtual int WSGetSockName(TIdStackSocketHandle socket, sockaddr* address, socklen_t* length) = 0;
  virtual int WSGetPeerName(TIdStackSocketHandle socket, sockaddr* address, socklen_t* length) = 0;
  virtual int WSSetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value,
                           socklen_t length) = 0;
  virtual int WSGetSockOpt(TIdStackSocketHandle socket, int level, int option, void* value,
                           socklen_t* length) = 0;

protected:
  // Splits a socket address record (IPv4 or IPv6) into text, port and version. Raises
  // EIdIPVersionUnsupported for another family.
  static void DecodeAddress(const sockaddr* address, QString& ip, uint16_t& port,
                            TIdIPVersion& version);
};
