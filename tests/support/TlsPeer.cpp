#include "tests/support/TlsPeer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

namespace {

constexpr int kWaitMs = 10000;

bool WaitReadable(int socket) {
  pollfd entry{socket, POLLIN, 0};
  return ::poll(&entry, 1, kWaitMs) > 0;
}

} // namespace

QByteArray TlsConnection::ReadRequestHead() {
  QByteArray head;
  char byte = 0;
  while (!head.endsWith("\r\n\r\n")) {
    if (SSL_pending(ssl_) == 0 && !WaitReadable(socket_)) {
      return {};
    }
    if (SSL_read(ssl_, &byte, 1) != 1) {
      return {};
    }
    head.append(byte);
  }
  return head;
}

bool TlsConnection::Send(const QByteArray& bytes) {
  return SSL_write(ssl_, bytes.constData(), int(bytes.size())) == int(bytes.size());
}

bool TlsConnection::RequestRenegotiation() {
  return SSL_renegotiate(ssl_) == 1 && SSL_do_handshake(ssl_) >= 0;
}

bool TlsConnection::WaitForClientEnd() {
  char buffer[256];
  for (;;) {
    if (!WaitReadable(socket_)) {
      return false;
    }
    const int result = SSL_read(ssl_, buffer, sizeof buffer);
    if (result <= 0) {
      return true;
    }
  }
}

void TlsConnection::DropWithoutCloseNotify() {
  ::shutdown(socket_, SHUT_RDWR);
}

TlsPeer::TlsPeer(const QString& certificate, const QString& key, Script script, int maxVersion)
    : script_(std::move(script)) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (!context_ ||
      SSL_CTX_use_certificate_chain_file(context_, certificate.toLocal8Bit().constData()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_, key.toLocal8Bit().constData(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("TLS peer: cannot load the certificate");
  }
  if (maxVersion != 0) {
    SSL_CTX_set_max_proto_version(context_, maxVersion);
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener_ >= 0) {
      ::close(listener_);
    }
    SSL_CTX_free(context_);
    throw std::runtime_error("TLS peer: cannot listen");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

TlsPeer::~TlsPeer() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  thread_.join();
  ::close(listener_);
  SSL_CTX_free(context_);
}

void TlsPeer::Serve() {
  // The server writes with write(2): a client gone early must not end the test program. The
  // signal stays pending on this thread only.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  while (!stopping_) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0 || stopping_) {
      continue;
    }
    const int socket = ::accept(listener_, nullptr, nullptr);
    if (socket < 0) {
      continue;
    }
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, socket);
    if (WaitReadable(socket) && SSL_accept(ssl) == 1) {
      TlsConnection connection(ssl, socket);
      script_(connection);
    }
    SSL_free(ssl);
    ::close(socket);
    ++finished_;
  }
}

} // namespace testsupport
