#include "net/IdComponent.h"

#include "net/IdResourceStrings.h"

QString StatusText(TIdStatus status, const QStringList& arguments) {
  const auto argument = [&](qsizetype i) {
    return i < arguments.size() ? arguments[i] : QString();
  };
  switch (status) {
  case hsResolving:
    return RSStatusResolving().arg(argument(0));
  case hsConnecting:
    return RSStatusConnecting().arg(argument(0));
  case hsConnected:
    return RSStatusConnected();
  case hsDisconnecting:
    return RSStatusDisconnecting();
  case hsDisconnected:
    return RSStatusDisconnected();
  case hsStatusText:
  case ftpTransfer:
  case ftpReady:
  case ftpAborted:
    return RSStatusText().arg(argument(0));
  }
  return {};
}

TIdComponent::TIdComponent(QObject* owner) : QObject(owner) {}

TIdComponent::~TIdComponent() {
  QObject::disconnect(forwardWatch_);
}

void TIdComponent::ReportStatus(TIdStatus status, const QStringList& arguments) {
  if (OnStatus) {
    OnStatus(this, status, StatusText(status, arguments));
  }
}

void TIdComponent::StartWork(TWorkMode mode, int64_t maximum) {
  if (workForwardTo_) {
    workForwardTo_->StartWork(mode, maximum);
    return;
  }
  WorkRecord& work = work_[mode];
  if (work.level++ == 0) {
    work.maximum = maximum;
    work.position = 0;
    if (OnWorkBegin) {
      OnWorkBegin(this, mode, maximum);
    }
  }
}

void TIdComponent::AdvanceWork(TWorkMode mode, int64_t count) {
  if (workForwardTo_) {
    workForwardTo_->AdvanceWork(mode, count);
    return;
  }
  WorkRecord& work = work_[mode];
  if (work.level < 1) {
    return;
  }
  work.position += count;
  if (OnWork) {
    OnWork(this, mode, work.position);
  }
}

void TIdComponent::FinishWork(TWorkMode mode) {
  if (workForwardTo_) {
    workForwardTo_->FinishWork(mode);
    return;
  }
  WorkRecord& work = work_[mode];
  if (work.level == 1 && OnWorkEnd) {
    OnWorkEnd(this, mode);
  }
  if (work.level > 0) {
    --work.level;
  }
}

void TIdComponent::SetWorkForwardTo(TIdComponent* target) {
  QObject::disconnect(forwardWatch_);
  workForwardTo_ = target;
  if (target) {
    forwardWatch_ =
        QObject::connect(target, &QObject::destroyed, this, [this] { workForwardTo_ = nullptr; });
  }
}
