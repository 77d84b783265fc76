#pragma once

// The base of every network component that talks over a connection: it keeps the socket stack
// alive while it exists, reports connection status changes as texts through one event, and
// counts read and write progress per direction for three progress events.

#include "net/IdStack.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

// Connection status changes reported through OnStatus.
enum TIdStatus : uint8_t {
  hsResolving,     // "Resolving hostname %1." with the host name
  hsConnecting,    // "Connecting to %1." with the IP address being connected
  hsConnected,     // "Connected."
  hsDisconnecting, // "Disconnecting."
  hsDisconnected,  // "Disconnected."
  hsStatusText,    // "%1": free text
  ftpTransfer,     // "%1": free text
  ftpReady,        // "%1": free text
  ftpAborted       // "%1": free text
};

// The direction of a piece of work.
enum TWorkMode : uint8_t { wmRead = 0, wmWrite = 1 };

class TIdComponent;

// Events; the sender is always the component that raises them.
using TIdStatusEvent =
    std::function<void(TIdComponent* sender, TIdStatus status, const QString& statusText)>;
using TWorkEvent = std::function<void(TIdComponent* sender, TWorkMode mode, int64_t count)>;
using TWorkBeginEvent = std::function<void(TIdComponent* sender, TWorkMode mode, int64_t countMax)>;
using TWorkEndEvent = std::function<void(TIdComponent* sender, TWorkMode mode)>;

// The status text of a status with its arguments ("%1" gets the first); a missing argument
// reads as empty text.
QString StatusText(TIdStatus status, const QStringList& arguments = {});

class TIdComponent : public QObject {
public:
  // Holds the socket stack from here to the destructor: raises what AcquireStack raises.
  // owner (may be null) frees the component with itself.
  explicit TIdComponent(QObject* owner = nullptr);
  ~TIdComponent() override;

  // Status changes; called with the formatted status text.
  TIdStatusEvent OnStatus;
  // Progress: begin of the outermost work of a direction (with its announced maximum, 0 when
  // unknown), the running total after each advance, and the end of the outermost work.
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  // Calls OnStatus with the formatted text of status; formats nothing without a handler.
  void ReportStatus(TIdStatus status, const QStringList& arguments = {});

  // Opens a piece of work of mode. The outermost one resets the position, records maximum
  // and fires OnWorkBegin; inner ones only deepen the nesting.
  virtual void StartWork(TWorkMode mode, int64_t maximum);
  // Adds count to the position of an open work and fires OnWork with the new total; outside
  // any work nothing happens.
  virtual void AdvanceWork(TWorkMode mode, int64_t count);
  // Closes a piece of work; closing the outermost fires OnWorkEnd.
  virtual void FinishWork(TWorkMode mode);

  // When set, the three work calls go to that component instead (which then reports with
  // itself as sender). Not owned; the target clears itself from here when it is destroyed
  // first.
  TIdComponent* WorkForwardTo() const noexcept { return workForwardTo_; }
  void SetWorkForwardTo(TIdComponent* target);

  // The progress of a direction, for inspection.
  int64_t WorkPosition(TWorkMode mode) const noexcept { return work_[mode].position; }
  int64_t WorkMaximum(TWorkMode mode) const noexcept { return work_[mode].maximum; }
  int32_t WorkLevel(TWorkMode mode) const noexcept { return work_[mode].level; }

private:
  struct WorkRecord {
    int64_t position = 0;
    int64_t maximum = 0;
    int32_t level = 0;
  };

  TIdStackHold stack_;
  std::array<WorkRecord, 2> work_;
  TIdComponent* workForwardTo_ = nullptr;
  QMetaObject::Connection forwardWatch_;
};
