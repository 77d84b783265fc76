#include "net/IdConnector.h"

#include "net/IdResourceStrings.h"
#include "net/IdStackPosix.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// One address to try.
struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  TIdIPVersion version = Id_IPv4;

  bool operator==(const Address& other) const {
    return length == other.length && std::memcmp(&storage, &other.storage, length) == 0;
  }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  QString Text() const {
    if (version == Id_IPv4) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
      return TIdStack::AddressToText(
          QByteArrayView(reinterpret_cast<const char*>(&in->sin_addr), 4));
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    return TIdStack::AddressToText(
        QByteArrayView(reinterpret_cast<const char*>(&in6->sin6_addr), 16));
  }
};

Address MakeAddress(TIdIPVersion version, const QByteArray& bytes, uint16_t port) {
  Address address;
  address.version = version;
  if (version == Id_IPv4) {
    auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    std::memcpy(&in->sin_addr, bytes.constData(), 4);
    address.length = sizeof(sockaddr_in);
  } else {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    std::memcpy(&in6->sin6_addr, bytes.constData(), 16);
    address.length = sizeof(sockaddr_in6);
  }
  return address;
}

// The queue of a family: IPv6 first.
int IndexOf(TIdIPVersion version) {
  return version == Id_IPv6 ? 0 : 1;
}

TIdIPVersion Other(TIdIPVersion version) {
  return version == Id_IPv6 ? Id_IPv4 : Id_IPv6;
}

// --- Lookups on threads the call can leave behind ---------------------------------------------

// What the lookups of one call share with it. A lookup thread holds it until it ends; the
// call holds it until it returns, and then tells the threads that nobody listens any more by
// closing its wake descriptor under the lock, so that a late answer never writes to a
// descriptor number the process has handed out again.
struct LookupShared {
  struct Answer {
    bool done = false;
    int32_t code = 0; // the transport's number of the failure, 0 on success
    std::vector<Address> addresses;
  };
  std::mutex lock;
  int wake = -1;
  Answer answer;
};

// family: AF_UNSPEC for both, or the one asked for.
LookupShared::Answer Lookup(const QByteArray& host, int family, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(host.constData(), nullptr, &hints, &found);
  const int errnum = errno;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> results(found, &freeaddrinfo);
  LookupShared::Answer answer;
  answer.done = true;
  if (result != 0) {
    answer.code = AddrInfoErrorToSocketError(result, errnum);
    return answer;
  }
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    Address address;
    if (entry->ai_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      address =
          MakeAddress(Id_IPv4, QByteArray(reinterpret_cast<const char*>(&in->sin_addr), 4), port);
    } else if (entry->ai_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      address = MakeAddress(Id_IPv6, QByteArray(reinterpret_cast<const char*>(&in6->sin6_addr), 16),
                            port);
    } else {
      continue;
    }
    // The hosts file may list an address twice; a second attempt at it would only wait longer.
    if (std::find(answer.addresses.begin(), answer.addresses.end(), address) ==
        answer.addresses.end()) {
      answer.addresses.push_back(address);
    }
  }
  if (answer.addresses.empty()) {
    answer.code = AddrInfoErrorToSocketError(EAI_NODATA, 0);
  }
  return answer;
}

void Deliver(LookupShared& shared, LookupShared::Answer answer) {
  std::lock_guard lock(shared.lock);
  shared.answer = std::move(answer);
  if (shared.wake >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(shared.wake, &one, sizeof one);
  }
}

void StartLookup(const std::shared_ptr<LookupShared>& shared, const QByteArray& host, int family,
                 uint16_t port) {
  try {
    std::thread([shared, host, family, port] {
      Deliver(*shared, Lookup(host, family, port));
    }).detach();
  } catch (const std::system_error&) {
    // Out of threads: the lookup runs here, with no way to leave it behind, rather than not at
    // all.
    Deliver(*shared, Lookup(host, family, port));
  }
}

// --- The attempts -----------------------------------------------------------------------------

struct Attempt {
  TIdStackSocketHandle socket;
  Address address;
};

class Connection {
public:
  Connection(const TIdConnectTarget& target, const TIdConnectLimits& limits,
             const TIdConnectAbort& abort, const TIdConnectSteps& steps)
      : target_(target), limits_(limits), abort_(abort), steps_(steps) {}
  Q_DISABLE_COPY(Connection)
  ~Connection();

  TIdConnectedSocket Run();

private:
  QString HostText() const;
  // Queues a literal and returns true, or returns false for a name.
  bool QueueLiteral(const QString& host);
  void StartLookups(const QString& host);
  // Takes the answer if it came; true while the lookup is still out.
  bool CollectAnswer();
  std::optional<Address> NextAddress();
  // Starts an attempt at address; a socket that connects at once is returned.
  std::optional<TIdConnectedSocket> Start(const Address& address);
  // The attempt at index (running_ is in the order the attempts began) failed with errnum.
  void Fail(size_t index, int errnum);
  void RecordFailure(std::exception_ptr failure, int32_t code, const QString& address);
  TIdConnectedSocket Win(size_t index);
  [[noreturn]] void RaiseEveryAddressFailed() const;
  [[noreturn]] void RaiseLookupFailure() const;
  [[noreturn]] void RaiseLimit(bool byDeadline) const;
  std::optional<TimePoint> FirstLimit(bool& byDeadline) const;

  const TIdConnectTarget& target_;
  const TIdConnectLimits& limits_;
  const TIdConnectAbort& abort_;
  const TIdConnectSteps& steps_;
  TIdStackHold stack_;

  std::shared_ptr<LookupShared> lookup_;
  bool lookupPending_ = false;
  int32_t lookupCode_ = 0;

  std::array<std::deque<Address>, 2> queues_; // IPv6, IPv4
  std::optional<TIdIPVersion> lastFamily_;
  std::vector<Attempt> running_;
  std::optional<TimePoint> nextStart_;
  int tried_ = 0;
  std::exception_ptr lastFailure_;
  int32_t lastCode_ = 0;
  QString lastAddress_;
};

Connection::~Connection() {
  for (const Attempt& attempt : running_) {
    ::close(attempt.socket);
  }
  if (lookup_) {
    std::lock_guard lock(lookup_->lock);
    ::close(lookup_->wake);
    lookup_->wake = -1;
  }
}

QString Connection::HostText() const {
  const QString& host = target_.host;
  if (host.size() >= 2 && host.startsWith(u'[') && host.endsWith(u']')) {
    return host.mid(1, host.size() - 2);
  }
  return host;
}

bool Connection::QueueLiteral(const QString& host) {
  const bool anyFamily = !target_.family;
  if ((anyFamily || target_.family == Id_IPv4) && TIdStack::IsIPv4Literal(host)) {
    queues_[IndexOf(Id_IPv4)].push_back(
        MakeAddress(Id_IPv4, TIdStack::TextToAddress(host, Id_IPv4), target_.port));
    return true;
  }
  if ((anyFamily || target_.family == Id_IPv6) && TIdStack::CanonicalIPv6(host)) {
    queues_[IndexOf(Id_IPv6)].push_back(
        MakeAddress(Id_IPv6, TIdStack::TextToAddress(host, Id_IPv6), target_.port));
    return true;
  }
  return false;
}

void Connection::StartLookups(const QString& host) {
  QByteArray name = host.toUtf8();
  const qsizetype length = name.endsWith('.') ? name.size() - 1 : name.size();
  // A name service reads a C string, which ends at the first NUL: what it would resolve is not
  // the name the caller holds. A name beyond the limit of names cannot exist.
  if (host.contains(QChar(0)) || length > kMaxHostNameLength || length == 0) {
    stack_->RaiseForSocketError(Id_WSAHOST_NOT_FOUND);
  }
  if (steps_.onResolving) {
    steps_.onResolving(target_.host);
  }
  lookup_ = std::make_shared<LookupShared>();
  lookup_->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (lookup_->wake < 0) {
    stack_->RaiseLastSocketError();
  }
  lookupPending_ = true;
  StartLookup(lookup_, name,
              target_.family ? TIdStackBSDBase::AddressFamily(*target_.family) : AF_UNSPEC,
              target_.port);
}

bool Connection::CollectAnswer() {
  if (!lookupPending_) {
    return false;
  }
  std::lock_guard lock(lookup_->lock);
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(lookup_->wake, &count, sizeof count);
  const LookupShared::Answer& answer = lookup_->answer;
  if (!answer.done) {
    return true;
  }
  lookupPending_ = false;
  lookupCode_ = answer.code;
  // The resolver's order (RFC 6724) is kept within each family; the families take turns.
  for (const Address& address : answer.addresses) {
    queues_[IndexOf(address.version)].push_back(address);
  }
  return false;
}

std::optional<Address> Connection::NextAddress() {
  if (queues_[0].empty() && queues_[1].empty()) {
    return std::nullopt;
  }
  // The families take turns, IPv6 first, so that a family that is broken on this network
  // costs one attempt's delay, not one per address.
  TIdIPVersion family = lastFamily_ ? Other(*lastFamily_) : Id_IPv6;
  if (queues_[IndexOf(family)].empty()) {
    family = Other(family);
  }
  std::deque<Address>& queue = queues_[IndexOf(family)];
  const Address address = queue.front();
  queue.pop_front();
  lastFamily_ = family;
  return address;
}

std::optional<TIdConnectedSocket> Connection::Start(const Address& address) {
  ++tried_;
  nextStart_ = Clock::now() + kConnectAttemptDelay;
  const QString text = address.Text();
  if (steps_.onConnecting) {
    steps_.onConnecting(text);
  }
  TIdStackSocketHandle socket = Id_INVALID_SOCKET;
  try {
    socket = steps_.makeSocket(address.version);
  } catch (const EIdSocketError& e) {
    RecordFailure(std::current_exception(), e.SocketErrorCode(), text);
    nextStart_ = Clock::now();
    return std::nullopt;
  } catch (const Exception&) {
    RecordFailure(std::current_exception(), 0, text);
    nextStart_ = Clock::now();
    return std::nullopt;
  }
  running_.push_back({socket, address});
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
    Fail(running_.size() - 1, errno);
    return std::nullopt;
  }
  if (::connect(socket, address.get(), address.length) == 0) {
    return Win(running_.size() - 1);
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    Fail(running_.size() - 1, errno);
  }
  return std::nullopt;
}

void Connection::RecordFailure(std::exception_ptr failure, int32_t code, const QString& address) {
  lastFailure_ = std::move(failure);
  lastCode_ = code;
  lastAddress_ = address;
}

void Connection::Fail(size_t index, int errnum) {
  const bool latest = index + 1 == running_.size();
  const Attempt attempt = running_[index];
  running_.erase(running_.begin() + qsizetype(index));
  ::close(attempt.socket);
  const int32_t code = PosixErrorToSocketError(errnum);
  try {
    stack_->RaiseForSocketError(code);
  } catch (const EIdSocketError&) {
    RecordFailure(std::current_exception(), code, attempt.address.Text());
  }
  // The delay gives the latest attempt its chance; once it has failed, the next address need
  // not wait (the older attempts under way keep theirs).
  if (latest) {
    nextStart_ = Clock::now();
  }
}

TIdConnectedSocket Connection::Win(size_t index) {
  const Attempt winner = running_[index];
  running_.erase(running_.begin() + qsizetype(index));
  const int flags = ::fcntl(winner.socket, F_GETFL);
  if (flags < 0 || ::fcntl(winner.socket, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    const int32_t code = PosixErrorToSocketError(errno);
    ::close(winner.socket);
    stack_->RaiseForSocketError(code);
  }
  return {winner.socket, winner.address.version};
}

void Connection::RaiseEveryAddressFailed() const {
  if (tried_ == 1 || lastCode_ == 0) {
    std::rethrow_exception(lastFailure_);
  }
  throw EIdSocketError(lastCode_,
                       stack_->SocketErrorText(lastCode_) + u' ' +
                           RSEveryAddressFailed().arg(tried_).arg(target_.host, lastAddress_));
}

void Connection::RaiseLookupFailure() const {
  stack_->RaiseForSocketError(lookupCode_ == 0 ? Id_WSAHOST_NOT_FOUND : lookupCode_);
}

void Connection::RaiseLimit(bool byDeadline) const {
  if (!byDeadline) {
    throw EIdConnectTimeout(RSConnectTimeout());
  }
  if (tried_ == 0 && lookupPending_) {
    throw EIdLookupTimeout(RSLookupTimeout());
  }
  throw EIdCallTimeout(RSCallTimeout());
}

std::optional<TimePoint> Connection::FirstLimit(bool& byDeadline) const {
  byDeadline = limits_.callBy && (!limits_.connectBy || *limits_.callBy <= *limits_.connectBy);
  return byDeadline ? limits_.callBy : limits_.connectBy;
}

TIdConnectedSocket Connection::Run() {
  if (!steps_.makeSocket) {
    throw EIdException(RSConnectWithoutSockets());
  }
  const QString host = HostText();
  if (!QueueLiteral(host)) {
    StartLookups(host);
  }
  bool byDeadline = false;
  const std::optional<TimePoint> limit = FirstLimit(byDeadline);
  std::vector<pollfd> entries;
  for (;;) {
    const bool lookupPending = CollectAnswer();
    // Start every attempt that is due: the first at once, the next one a delay after the last
    // began, or at once when nothing is under way any more.
    while (running_.empty() || Clock::now() >= *nextStart_) {
      const std::optional<Address> address = NextAddress();
      if (!address) {
        break;
      }
      if (std::optional<TIdConnectedSocket> won = Start(*address)) {
        return *won;
      }
    }
    if (running_.empty() && !lookupPending) {
      if (tried_ == 0) {
        RaiseLookupFailure();
      }
      RaiseEveryAddressFailed();
    }

    TimePoint wakeAt = TimePoint::max();
    if (!running_.empty() && !(queues_[0].empty() && queues_[1].empty())) {
      wakeAt = *nextStart_;
    }
    if (limit) {
      wakeAt = std::min(wakeAt, *limit);
    }
    int timeout = -1;
    if (wakeAt != TimePoint::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now());
      timeout = int(std::clamp<int64_t>(left.count(), 0, std::numeric_limits<int>::max()));
    }
    if (limit && timeout == 0 && Clock::now() >= *limit) {
      RaiseLimit(byDeadline);
    }

    entries.clear();
    entries.push_back({abort_.Handle(), POLLIN, 0});
    entries.push_back({lookupPending ? lookup_->wake : -1, POLLIN, 0});
    for (const Attempt& attempt : running_) {
      entries.push_back({attempt.socket, POLLOUT, 0});
    }
    const int ready = ::poll(entries.data(), nfds_t(entries.size()), timeout);
    if (ready < 0 && errno != EINTR) {
      stack_->RaiseLastSocketError();
    }
    if (entries[0].revents != 0) {
      stack_->RaiseForSocketError(Id_WSAENOTSOCK);
    }
    // From the back, so that removing an attempt leaves the indexes still to visit alone.
    for (size_t i = running_.size(); i-- > 0;) {
      if (entries[i + 2].revents == 0) {
        continue;
      }
      int error = 0;
      socklen_t size = sizeof error;
      if (::getsockopt(running_[i].socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
      if (error == 0) {
        return Win(i);
      }
      Fail(i, error);
    }
    if (limit && Clock::now() >= *limit) {
      RaiseLimit(byDeadline);
    }
  }
}

} // namespace

TIdConnectedSocket ConnectToHost(const TIdConnectTarget& target, const TIdConnectLimits& limits,
                                 const TIdConnectAbort& abort, const TIdConnectSteps& steps) {
  Connection connection(target, limits, abort, steps);
  return connection.Run();
}
