#pragma once

// Sets of socket values with a readability wait. Each set takes its own lock for every read
// and write, so one set may be filled on one thread and waited on from another.

#include "net/IdStack.h"

#include <QtGlobal>

#include <array>
#include <memory>
#include <mutex>

class TIdSocketList {
public:
  TIdSocketList() = default;
  Q_DISABLE_COPY(TIdSocketList)
  virtual ~TIdSocketList();

  // A new, empty set of the platform's kind. The caller owns it.
  static std::unique_ptr<TIdSocketList> CreateSocketList();

  // Adds socket (a value already present is added again). Raises EIdStackSetSizeExceeded
  // "Set Size Exceeded." when the set is full.
  virtual void Add(TIdStackSocketHandle socket) = 0;
  // Removes one occurrence of socket; an absent value changes nothing.
  virtual void Remove(TIdStackSocketHandle socket) = 0;
  virtual bool Contains(TIdStackSocketHandle socket) const = 0;
  virtual int32_t Count() const = 0;
  // The value at index; raises EIdStackSetSizeExceeded outside 0..Count()-1.
  virtual TIdStackSocketHandle Item(int32_t index) const = 0;
  virtual void Clear() = 0;
  // An independent copy of the set. The caller owns it.
  virtual std::unique_ptr<TIdSocketList> Clone() const = 0;
  // Waits until at least one socket of the set is readable (data, an orderly close or an
  // error to collect) and says whether one is. timeout in ms: negative (-2 by convention)
  // waits without limit, 0 only polls. Raises EIdSocketError when the wait fails (10009 for
  // a value that is no longer an open descriptor). An empty set waits out the timeout.
  virtual bool SelectRead(int32_t timeout) const = 0;
};

// The set as a fixed array of at most 64 values; the readability wait uses poll, so
// descriptors of any number can be waited on.
class TIdSocketListPosix : public TIdSocketList {
public:
  static constexpr int32_t kMaxSockets = 64;

  void Add(TIdStackSocketHandle socket) override;
  void Remove(TIdStackSocketHandle socket) override;
  bool Contains(TIdStackSocketHandle socket) const override;
  int32_t Count() const override;
  TIdStackSocketHandle Item(int32_t index) const override;
  void Clear() override;
  std::unique_ptr<TIdSocketList> Clone() const override;
  bool SelectRead(int32_t timeout) const override;

private:
  mutable std::mutex lock_;
  int32_t count_ = 0;
  std::array<TIdStackSocketHandle, kMaxSockets> sockets_{};
};
