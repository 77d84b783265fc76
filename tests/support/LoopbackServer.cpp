#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A socket listening on the loopback address of family, port chosen by the system.
// Fills address with the loopback address of family and port; its length.
socklen_t LoopbackAddress(Family family, uint16_t port, sockaddr_storage& address) {
  if (family == Family::IPv4) {
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in->sin_port = htons(port);
    return sizeof *in;
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
  in6->sin6_family = AF_INET6;
  in6->sin6_addr = in6addr_loopback;
  in6->sin6_port = htons(port);
  return sizeof *in6;
}

// Listens on port (0: one the system picks) and sets port to the one it listens on.
int ListenOnLoopback(Family family, int backlog, uint16_t& port) {
  const int domain = family == Family::IPv4 ? AF_INET : AF_INET6;
  const int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail("socket");
  }
  sockaddr_storage address{};
  socklen_t length = LoopbackAddress(family, port, address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    Fail("listen on loopback");
  }
  port = ntohs(family == Family::IPv4 ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                      : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return fd;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
}

} // namespace

// --- LoopbackPeer ---------------------------------------------------------------------------

LoopbackPeer::LoopbackPeer(LoopbackServer& server, int socket, int index)
    : server_(server), socket_(socket), index_(index) {}

LoopbackPeer::~LoopbackPeer() {
  Close();
}

bool LoopbackPeer::ReadMore(Clock::time_point deadline) {
  if (socket_ < 0 || !(server_.WaitFor(socket_, POLLIN, deadline) & (POLLIN | POLLHUP | POLLERR))) {
    return false;
  }
  char chunk[65536];
  ssize_t n;
  do {
    n = ::recv(socket_, chunk, sizeof chunk, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    return false;
  }
  server_.Record(index_, QByteArrayView(chunk, n));
  pending_.append(chunk, n);
  return true;
}

QByteArray LoopbackPeer::Take(qsizetype count) {
  QByteArray taken = pending_.left(count);
  pending_.remove(0, taken.size());
  return taken;
}

QByteArray LoopbackPeer::ReadUntil(QByteArrayView terminator) {
  const Clock::time_point deadline = Clock::now() + server_.readLimit_;
  qsizetype searched = 0;
  for (;;) {
    const qsizetype found = pending_.indexOf(terminator, searched);
    if (found >= 0) {
      return Take(found + terminator.size());
    }
    searched = std::max<qsizetype>(0, pending_.size() - terminator.size() + 1);
    if (!ReadMore(deadline)) {
      return {};
    }
  }
}

QByteArray LoopbackPeer::ReadExactly(qsizetype count) {
  const Clock::time_point deadline = Clock::now() + server_.readLimit_;
  while (pending_.size() < count && ReadMore(deadline)) {
  }
  return Take(count);
}

QByteArray LoopbackPeer::ReadUntilClose() {
  const Clock::time_point deadline = Clock::now() + server_.readLimit_;
  while (ReadMore(deadline)) {
  }
  return Take(pending_.size());
}

bool LoopbackPeer::Send(QByteArrayView bytes) {
  const Clock::time_point deadline = Clock::now() + server_.readLimit_;
  qsizetype sent = 0;
  while (sent < bytes.size()) {
    if (socket_ < 0 || !(server_.WaitFor(socket_, POLLOUT, deadline) & POLLOUT)) {
      return false;
    }
    const ssize_t n = ::send(socket_, bytes.data() + sent, size_t(bytes.size() - sent),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    }
    sent += std::max<ssize_t>(n, 0);
  }
  return true;
}

bool LoopbackPeer::SendSlowly(QByteArrayView bytes, qsizetype chunk,
                              std::chrono::milliseconds pause) {
  for (qsizetype at = 0; at < bytes.size(); at += chunk) {
    if (!Send(bytes.sliced(at, std::min(chunk, bytes.size() - at)))) {
      return false;
    }
    // The pause is a wait on the stop signal, so a stopping server never sits it out.
    if (server_.WaitFor(server_.wake_, POLLIN, Clock::now() + pause)) {
      return false;
    }
  }
  return true;
}

void LoopbackPeer::ShutdownWrite() {
  if (socket_ >= 0) {
    ::shutdown(socket_, SHUT_WR);
  }
}

void LoopbackPeer::Close() {
  if (socket_ >= 0) {
    ::close(socket_);
  }
  socket_ = -1;
}

void LoopbackPeer::Reset() {
  if (socket_ < 0) {
    return;
  }
  const linger abortive{1, 0};
  ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  Close();
}

bool LoopbackPeer::WaitForRelease() {
  std::unique_lock lock(server_.lock_);
  return server_.changed_.wait_for(lock, server_.readLimit_, [&] {
    return server_.released_ || server_.stopping_;
  }) && server_.released_;
}

// --- LoopbackServer -------------------------------------------------------------------------

LoopbackServer::LoopbackServer(Script script, Family family, std::chrono::milliseconds readLimit)
    : script_(std::move(script)), family_(family), readLimit_(readLimit) {
  listener_ = ListenOnLoopback(family, SOMAXCONN, port_);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    ::close(listener_);
    Fail("eventfd");
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  Stop();
  ::close(listener_);
  ::close(wake_);
}

bool LoopbackServer::HasIPv6() {
  try {
    uint16_t port = 0;
    ::close(ListenOnLoopback(Family::IPv6, 1, port));
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

QString LoopbackServer::Host() const {
  return family_ == Family::IPv4 ? QStringLiteral("127.0.0.1") : QStringLiteral("::1");
}

int LoopbackServer::ConnectionCount() const {
  std::lock_guard lock(lock_);
  return int(connections_.size());
}

int LoopbackServer::FinishedCount() const {
  std::lock_guard lock(lock_);
  return finished_;
}

QByteArray LoopbackServer::Received(int index) const {
  std::lock_guard lock(lock_);
  return index >= 0 && index < int(connections_.size()) ? connections_[index].received
                                                        : QByteArray();
}

bool LoopbackServer::WaitForConnections(int count, std::chrono::milliseconds limit) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, limit, [&] { return int(connections_.size()) >= count; });
}

bool LoopbackServer::WaitForScripts(int count, std::chrono::milliseconds limit) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, limit, [&] { return finished_ >= count; });
}

void LoopbackServer::Release() {
  std::lock_guard lock(lock_);
  released_ = true;
  changed_.notify_all();
}

void LoopbackServer::Stop() {
  {
    std::lock_guard lock(lock_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
    changed_.notify_all();
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
  acceptor_.join();
  // The acceptor has ended, so the list of script threads no longer changes.
  for (RunningScript& script : scripts_) {
    script.thread.join();
  }
}

short LoopbackServer::WaitFor(int fd, short events, Clock::time_point deadline) const {
  pollfd entries[2] = {{fd, events, 0}, {wake_, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(entries, fd == wake_ ? 1 : 2, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || (fd != wake_ && entries[1].revents)) {
      return 0;
    }
    return entries[0].revents;
  }
}

void LoopbackServer::Record(int index, QByteArrayView bytes) {
  std::lock_guard lock(lock_);
  connections_[index].received.append(bytes);
}

void LoopbackServer::AcceptLoop() {
  const Clock::time_point never = Clock::now() + std::chrono::hours(24);
  while (WaitFor(listener_, POLLIN, never) & POLLIN) {
    const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
      continue;
    }
    int index;
    {
      std::lock_guard lock(lock_);
      index = int(connections_.size());
      connections_.emplace_back();
      changed_.notify_all();
    }
    ReapFinishedScripts();
    RunningScript& script = scripts_.emplace_back();
    script.thread =
        std::thread([this, socket, index, &script] { RunScript(socket, index, script.done); });
  }
}

void LoopbackServer::ReapFinishedScripts() {
  for (auto it = scripts_.begin(); it != scripts_.end();) {
    if (it->done) {
      it->thread.join();
      it = scripts_.erase(it);
    } else {
      ++it;
    }
  }
}

void LoopbackServer::RunScript(int socket, int index, std::atomic<bool>& done) {
  {
    LoopbackPeer peer(*this, socket, index);
    try {
      if (script_) {
        script_(peer);
      }
    } catch (const std::exception& e) {
      ADD_FAILURE() << "loopback script " << index << " failed: " << e.what();
    }
  }
  {
    std::lock_guard lock(lock_);
    ++finished_;
    changed_.notify_all();
  }
  done = true;
}

// --- RefusingPort ---------------------------------------------------------------------------

RefusingPort::RefusingPort() {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    Fail("socket");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    ::close(socket_);
    errno = error;
    Fail("bind on loopback");
  }
  port_ = ntohs(address.sin_port);
}

void RefusingPort::Release() {
  if (socket_ >= 0) {
    ::close(socket_);
  }
  socket_ = -1;
}

// --- NeverAcceptingListener -----------------------------------------------------------------

NeverAcceptingListener::NeverAcceptingListener(Family family, uint16_t port) : port_(port) {
  listener_ = ListenOnLoopback(family, 0, port_);
  sockaddr_storage address{};
  const socklen_t length = LoopbackAddress(family, port_, address);
  // Connect until one gets no answer within a generous loopback round trip: from then on the
  // accept queue is full and the system drops every further SYN.
  for (int attempt = 0; attempt < 256; ++attempt) {
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      break;
    }
    fillers_.push_back(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
      continue;
    }
    if (errno != EINPROGRESS) {
      break;
    }
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, 200) == 0) {
      return;
    }
  }
  for (const int fd : fillers_) {
    ::close(fd);
  }
  ::close(listener_);
  throw std::runtime_error("could not fill the accept queue of a loopback listener");
}

NeverAcceptingListener::~NeverAcceptingListener() {
  for (const int fd : fillers_) {
    ::close(fd);
  }
  ::close(listener_);
}

} // namespace testsupport
