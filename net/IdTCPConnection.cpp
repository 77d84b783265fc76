#include "net/IdTCPConnection.h"

#include "net/IdIOHandlerSocket.h"
#include "net/IdResourceStrings.h"

#include <exception>

TIdTCPConnection::TIdTCPConnection(QObject* owner) : TIdComponent(owner) {}

TIdTCPConnection::~TIdTCPConnection() {
  if (!ioHandler_) {
    return;
  }
  try {
    if (ioHandler_->IsOpen()) {
      ioHandler_->Close();
    }
  } catch (...) {
    // A failing intercept hook must not escape a destructor; the handler is closed regardless.
  }
  SetIOHandler(nullptr);
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == ioHandler_) {
    return;
  }
  if (handler && handler->Intercept() && intercept_ && handler->Intercept() != intercept_) {
    throw EIdException(RSInterceptIsDifferent());
  }
  if (ioHandler_) {
    if (ownsIOHandler_) {
      delete ioHandler_.data();
    } else {
      ioHandler_->SetWorkForwardTo(nullptr);
    }
  }
  ioHandler_ = nullptr;
  socketHandler_ = nullptr;
  ownsIOHandler_ = false;
  if (!handler) {
    return;
  }
  ioHandler_ = handler;
  handler->SetWorkForwardTo(this);
  if (intercept_) {
    handler->SetIntercept(intercept_);
  }
  socketHandler_ = dynamic_cast<TIdIOHandlerSocket*>(handler);
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* intercept) {
  intercept_ = intercept;
  if (ioHandler_) {
    ioHandler_->SetIntercept(intercept);
  }
}

bool TIdTCPConnection::Connected() {
  return ioHandler_ && ioHandler_->Connected();
}

void TIdTCPConnection::Disconnect(bool notifyPeer) {
  std::exception_ptr hookFailure;
  if (notifyPeer && Connected()) {
    try {
      DisconnectNotifyPeer();
    } catch (...) {
      hookFailure = std::current_exception();
    }
  }
  if (ioHandler_ && ioHandler_->IsOpen()) {
    ReportStatus(hsDisconnecting);
    ioHandler_->Close();
    if (OnDisconnected) {
      OnDisconnected(this);
    }
    ReportStatus(hsDisconnected);
  }
  if (hookFailure) {
    std::rethrow_exception(hookFailure);
  }
}

void TIdTCPConnection::CheckConnected() const {
  if (!ioHandler_) {
    throw EIdNotConnected(RSNotConnected());
  }
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool raise) {
  if (ioHandler_) {
    ioHandler_->CheckDisconnected(raise, false);
  } else if (raise) {
    throw EIdException(RSNotConnected());
  }
}

void TIdTCPConnection::DisconnectNotifyPeer() {}
