#include "net/IdIntercept.h"

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

TIdConnectionIntercept::TIdConnectionIntercept(QObject* owner) : QObject(owner) {}

TIdConnectionIntercept::~TIdConnectionIntercept() = default;

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* intercept) {
  for (auto* link = intercept; link; link = link->Intercept()) {
    if (link == this) {
      throw EIdException(RSInterceptCircularLink());
    }
  }
  intercept_ = intercept;
}

void TIdConnectionIntercept::Connect(QObject* connection) {
  connection_ = connection;
  if (OnConnect) {
    OnConnect(this);
  }
  if (auto* next = Intercept()) {
    next->Connect(connection);
  }
}

void TIdConnectionIntercept::Disconnect() {
  if (auto* next = Intercept()) {
    next->Disconnect();
  }
  if (OnDisconnect) {
    OnDisconnect(this);
  }
  connection_ = nullptr;
}

void TIdConnectionIntercept::Receive(QByteArray& bytes) {
  if (auto* next = Intercept()) {
    next->Receive(bytes);
  }
  if (OnReceive) {
    OnReceive(this, bytes);
  }
}

void TIdConnectionIntercept::Send(QByteArray& bytes) {
  if (OnSend) {
    OnSend(this, bytes);
  }
  if (auto* next = Intercept()) {
    next->Send(bytes);
  }
}
