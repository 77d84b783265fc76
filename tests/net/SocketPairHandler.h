#pragma once

// A concrete I/O handler over one end of a connected AF_UNIX stream socket pair, and the other
// end as the peer the test drives by hand. The kernel carries the bytes, closes and
// back-pressure for real; the handler is only the thinnest poll/recv/send layer over it.

#include "net/IdException.h"
#include "net/IdIOHandler.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class SocketPairHandler : public TIdIOHandler {
public:
  explicit SocketPairHandler(int fd) : fd_(fd) {}
  ~SocketPairHandler() override { CloseSocket(); }

  int32_t ReceiveChunk(QByteArray& buffer) override {
    const ssize_t n = ::recv(fd_, buffer.data(), size_t(buffer.size()), 0);
    if (n < 0) {
      throw EIdSocketError(errno, QStringLiteral("recv failed"));
    }
    ++receives;
    return int32_t(n);
  }
  int32_t SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) override {
    const ssize_t n = ::send(fd_, bytes.constData() + offset, size_t(length), MSG_NOSIGNAL);
    if (n < 0) {
      throw EIdSocketError(errno, QStringLiteral("send failed"));
    }
    return int32_t(n);
  }
  bool SourceAvailable() const override { return fd_ >= 0; }
  bool Readable(int32_t timeout) override {
    if (fd_ < 0) {
      throw EIdConnClosedGracefully(QStringLiteral("Connection Closed Gracefully."));
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeout < 0 ? -1 : timeout) > 0;
  }
  void Close() override {
    CloseSocket();
    TIdIOHandler::Close();
  }

  int receives = 0;

private:
  void CloseSocket() {
    if (fd_ >= 0) {
      ::shutdown(fd_, SHUT_WR);
      ::close(fd_);
      fd_ = -1;
    }
  }
  int fd_;
};

// A socket pair: handler() reads and writes one end, the test plays the peer on the other.
// Every wait of the peer is bounded; a handler read is bounded by its ReadTimeout of 5 s.
class SocketPairTest : public testing::Test {
protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    handler_ = std::make_unique<SocketPairHandler>(fds[0]);
    peer_ = fds[1];
    handler_->SetReadTimeout(5000);
    handler_->Open();
  }
  void TearDown() override { ClosePeer(); }

  SocketPairHandler& handler() { return *handler_; }

  void PeerSend(const QByteArray& bytes) {
    ASSERT_EQ(::send(peer_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), bytes.size());
  }
  void ClosePeer() {
    if (peer_ >= 0) {
      ::close(peer_);
    }
    peer_ = -1;
  }
  // What the handler sent, up to `count` bytes, waiting at most 5 s for them.
  QByteArray PeerReceive(qsizetype count) {
    QByteArray got;
    char chunk[65536];
    while (got.size() < count) {
      pollfd p{peer_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) {
        break;
      }
      const ssize_t n = ::recv(peer_, chunk, std::min<size_t>(sizeof chunk, count - got.size()), 0);
      if (n <= 0) {
        break;
      }
      got.append(chunk, n);
    }
    return got;
  }
  // Whether anything the handler sent is waiting at the peer right now (no waiting).
  bool PeerHasData() {
    pollfd p{peer_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

  std::unique_ptr<SocketPairHandler> handler_;
  int peer_ = -1;
};
