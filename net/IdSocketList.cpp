#include "net/IdSocketList.h"

#include "net/IdGlobal.h"
#include "net/IdResourceStrings.h"
#include "net/IdStackPosix.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>

TIdSocketList::~TIdSocketList() = default;

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
  return std::make_unique<TIdSocketListPosix>();
}

void TIdSocketListPosix::Add(TIdStackSocketHandle socket) {
  std::lock_guard lock(lock_);
  if (count_ >= kMaxSockets) {
    throw EIdStackSetSizeExceeded(RSStackSetSizeExceeded());
  }
  sockets_[count_++] = socket;
}

void TIdSocketListPosix::Remove(TIdStackSocketHandle socket) {
  std::lock_guard lock(lock_);
  const auto end = sockets_.begin() + count_;
  const auto found = std::find(sockets_.begin(), end, socket);
  if (found == end) {
    return;
  }
  // The last entry fills the hole: order does not matter in a set.
  *found = sockets_[--count_];
  sockets_[count_] = 0;
}

bool TIdSocketListPosix::Contains(TIdStackSocketHandle socket) const {
  std::lock_guard lock(lock_);
  return std::find(sockets_.begin(), sockets_.begin() + count_, socket) !=
         sockets_.begin() + count_;
}

int32_t TIdSocketListPosix::Count() const {
  std::lock_guard lock(lock_);
  return count_;
}

TIdStackSocketHandle TIdSocketListPosix::Item(int32_t index) const {
  std::lock_guard lock(lock_);
  if (index < 0 || index >= count_) {
    throw EIdStackSetSizeExceeded(RSStackSetSizeExceeded());
  }
  return sockets_[index];
}

void TIdSocketListPosix::Clear() {
  std::lock_guard lock(lock_);
  sockets_.fill(0);
  count_ = 0;
}

std::unique_ptr<TIdSocketList> TIdSocketListPosix::Clone() const {
  auto copy = std::make_unique<TIdSocketListPosix>();
  std::lock_guard lock(lock_);
  copy->count_ = count_;
  copy->sockets_ = sockets_;
  return copy;
}

bool TIdSocketListPosix::SelectRead(int32_t timeout) const {
  std::array<pollfd, kMaxSockets> entries;
  nfds_t count = 0;
  {
    std::lock_guard lock(lock_);
    for (; count < nfds_t(count_); ++count) {
      entries[count] = pollfd{sockets_[count], POLLIN, 0};
    }
  }
  // A signal cuts the wait short; go on waiting for what is left of the time.
  const uint32_t start = Ticks32();
  int ready;
  for (;;) {
    int wait = -1;
    if (timeout >= 0) {
      wait = int(std::max<int64_t>(0, int64_t(timeout) - TickDiff32(start, Ticks32())));
    }
    ready = ::poll(entries.data(), count, wait);
    if (ready >= 0 || errno != EINTR) {
      break;
    }
  }
  int32_t failure = 0;
  if (ready < 0) {
    failure = PosixErrorToSocketError(errno);
  } else if (std::any_of(entries.begin(), entries.begin() + count,
                         [](const pollfd& entry) { return entry.revents & POLLNVAL; })) {
    failure = Id_WSAEBADF;
  }
  if (failure != 0) {
    TIdStackHold()->RaiseForSocketError(failure);
  }
  return ready > 0;
}
