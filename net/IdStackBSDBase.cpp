#include "net/IdStackBSDBase.h"

#include "net/IdResourceStrings.h"

#include <cstring>

namespace {

// A socket address record for ip and port; empty ip (where allowed) means any address.
struct AddressRecord {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Both families fill their record in the same steps; only the members differ.
template <class Socket, class Address>
void FillAddress(AddressRecord& record, sa_family_t Socket::*familyField,
                 in_port_t Socket::*portField, Address Socket::*addressField, sa_family_t family,
                 uint16_t port, const QByteArray& bytes) {
  auto* socket = reinterpret_cast<Socket*>(&record.storage);
  socket->*familyField = family;
  socket->*portField = htons(port);
  if (!bytes.isEmpty()) {
    std::memcpy(&(socket->*addressField), bytes.constData(), sizeof(Address));
  }
  record.length = sizeof(Socket);
}

// An empty ip is the any-address only where emptyIsAny: for a bind it means every local
// address, for a connect it would quietly mean the local host.
AddressRecord MakeAddress(const QString& ip, uint16_t port, TIdIPVersion version, bool emptyIsAny) {
  AddressRecord record;
  const int family = TIdStackBSDBase::AddressFamily(version);
  const QByteArray bytes =
      ip.isEmpty() && emptyIsAny ? QByteArray() : TIdStack::TextToAddress(ip, version);
  if (family == AF_INET) {
    FillAddress(record, &sockaddr_in::sin_family, &sockaddr_in::sin_port, &sockaddr_in::sin_addr,
                AF_INET, port, bytes);
  } else {
    FillAddress(record, &sockaddr_in6::sin6_family, &sockaddr_in6::sin6_port,
                &sockaddr_in6::sin6_addr, AF_INET6, port, bytes);
  }
  return record;
}

// Either end of a socket: query is the stack's call that fills in the address of that end.
using AddressQuery = int (TIdStackBSDBase::*)(TIdStackSocketHandle, sockaddr*, socklen_t*);

sockaddr_storage QueryAddress(TIdStackBSDBase& stack, AddressQuery query,
                              TIdStackSocketHandle socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  stack.CheckSocketResult((stack.*query)(socket, reinterpret_cast<sockaddr*>(&address), &length));
  return address;
}

} // namespace

int TIdStackBSDBase::AddressFamily(TIdIPVersion version) {
  switch (version) {
  case Id_IPv4:
    return AF_INET;
  case Id_IPv6:
    return AF_INET6;
  }
  throw EIdIPVersionUnsupported(RSIPVersionUnsupported());
}

TIdStackSocketHandle TIdStackBSDBase::CreateSocketHandle(int type, int protocol,
                                                         TIdIPVersion version, bool overlapped) {
  const TIdStackSocketHandle socket = WSSocket(AddressFamily(version), type, protocol, overlapped);
  if (socket == Id_INVALID_SOCKET) {
    RaiseLastSocketError();
  }
  return socket;
}

void TIdStackBSDBase::Bind(TIdStackSocketHandle socket, const QString& ip, uint16_t port,
                           TIdIPVersion version) {
  const AddressRecord address = MakeAddress(ip, port, version, true);
  CheckSocketResult(WSBind(socket, address.get(), address.length));
}

void TIdStackBSDBase::Connect(TIdStackSocketHandle socket, const QString& ip, uint16_t port,
                              TIdIPVersion version, const TIdConnectAbort* abort) {
  const AddressRecord address = MakeAddress(ip, port, version, false);
  CheckSocketResult(WSConnect(socket, address.get(), address.length, abort ? abort->Handle() : -1));
}

int32_t TIdStackBSDBase::Send(TIdStackSocketHandle socket, const QByteArray& buffer, int32_t offset,
                              int32_t length) {
  const qsizetype start = qBound(qsizetype(0), qsizetype(offset), buffer.size());
  const qsizetype available = buffer.size() - start;
  const qsizetype count = length < 0 ? available : qMin<qsizetype>(length, available);
  if (count <= 0) {
    return 0;
  }
  const ssize_t sent = WSSend(socket, buffer.constData() + start, size_t(count));
  CheckSocketResult(sent < 0 ? Id_SOCKET_ERROR : 0);
  return int32_t(sent);
}

int32_t TIdStackBSDBase::SendAvailable(TIdStackSocketHandle socket, const QByteArray& buffer,
                                       int32_t offset, int32_t length) {
  const qsizetype start = qBound(qsizetype(0), qsizetype(offset), buffer.size());
  const qsizetype available = buffer.size() - start;
  const qsizetype count = length < 0 ? available : qMin<qsizetype>(length, available);
  if (count <= 0) {
    return 0;
  }
  const ssize_t sent = WSSendNow(socket, buffer.constData() + start, size_t(count));
  if (sent < 0 && LastError() == Id_WSAEWOULDBLOCK) {
    return -1;
  }
  CheckSocketResult(sent < 0 ? Id_SOCKET_ERROR : 0);
  return int32_t(sent);
}

bool TIdStackBSDBase::WaitForSendRoom(TIdStackSocketHandle socket, int32_t timeout) {
  const int result = WSPollSend(socket, timeout);
  CheckSocketResult(result < 0 ? Id_SOCKET_ERROR : 0);
  return result > 0;
}

int32_t TIdStackBSDBase::Receive(TIdStackSocketHandle socket, QByteArray& buffer) {
  if (buffer.isEmpty()) {
    throw ERangeError(RSRangeCheckError());
  }
  const ssize_t received = WSRecv(socket, buffer.data(), size_t(buffer.size()));
  CheckSocketResult(received < 0 ? Id_SOCKET_ERROR : 0);
  return int32_t(received);
}

void TIdStackBSDBase::Disconnect(TIdStackSocketHandle socket) noexcept {
  WSShutdown(socket, SHUT_WR);
  WSCloseSocket(socket);
}

void TIdStackBSDBase::ShutdownBoth(TIdStackSocketHandle socket) noexcept {
  WSShutdown(socket, SHUT_RDWR);
}

void TIdStackBSDBase::DecodeAddress(const sockaddr* address, QString& ip, uint16_t& port,
                                    TIdIPVersion& version) {
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    ip = AddressToText(QByteArrayView(reinterpret_cast<const char*>(&in->sin_addr), 4));
    port = ntohs(in->sin_port);
    version = Id_IPv4;
  } else if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    ip = AddressToText(QByteArrayView(reinterpret_cast<const char*>(&in6->sin6_addr), 16));
    port = ntohs(in6->sin6_port);
    version = Id_IPv6;
  } else {
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported());
  }
}

void TIdStackBSDBase::GetSocketName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                                    TIdIPVersion& version) {
  const sockaddr_storage address = QueryAddress(*this, &TIdStackBSDBase::WSGetSockName, socket);
  DecodeAddress(reinterpret_cast<const sockaddr*>(&address), ip, port, version);
}

void TIdStackBSDBase::GetPeerName(TIdStackSocketHandle socket, QString& ip, uint16_t& port,
                                  TIdIPVersion& version) {
  const sockaddr_storage address = QueryAddress(*this, &TIdStackBSDBase::WSGetPeerName, socket);
  DecodeAddress(reinterpret_cast<const sockaddr*>(&address), ip, port, version);
}

void TIdStackBSDBase::SetSocketOption(TIdStackSocketHandle socket, int level, int option,
                                      int32_t value) {
  CheckSocketResult(WSSetSockOpt(socket, level, option, &value, sizeof value));
}

int32_t TIdStackBSDBase::GetSocketOption(TIdStackSocketHandle socket, int level, int option) {
  int32_t value = 0;
  socklen_t length = sizeof value;
  CheckSocketResult(WSGetSockOpt(socket, level, option, &value, &length));
  return value;
}
