#pragma once

// TIdConnectionIntercept: a hook that sees (and may rewrite) every run of bytes a connection
// sends or receives, and hears of its connect and disconnect. Intercepts chain: each may hold a
// further one through SetIntercept.
//
// Order along a chain: receive runs the chained intercept first, then this one's OnReceive;
// send runs this one's OnSend first, then the chained one. Connect remembers the connection,
// fires OnConnect, then connects the chained one; Disconnect disconnects the chained one first,
// then fires OnDisconnect, then forgets the connection.

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>

class TIdConnectionIntercept;

// Connect and disconnect notices; the sender is the intercept.
using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* sender)>;
// A run of bytes on its way in or out; the handler may replace it (an empty run is dropped).
using TIdInterceptStreamEvent =
    std::function<void(TIdConnectionIntercept* sender, QByteArray& bytes)>;

class TIdConnectionIntercept : public QObject {
public:
  // owner (may be null) frees the intercept with itself.
  explicit TIdConnectionIntercept(QObject* owner = nullptr);
  ~TIdConnectionIntercept() override;

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

  // The further intercept of the chain, or null. Not owned; cleared when it is destroyed.
  TIdConnectionIntercept* Intercept() const noexcept { return intercept_.data(); }
  // Raises EIdException "Intercept chain would form a loop." when `intercept` is this one or
  // already leads back to it.
  void SetIntercept(TIdConnectionIntercept* intercept);

  // The connection between Connect and Disconnect, else null. Not owned.
  QObject* Connection() const noexcept { return connection_.data(); }

  // Called by the connection once it is established.
  virtual void Connect(QObject* connection);
  // Called by the I/O handler as it closes.
  virtual void Disconnect();
  // Bytes that arrived, before they are queued for reading.
  virtual void Receive(QByteArray& bytes);
  // Bytes about to be sent.
  virtual void Send(QByteArray& bytes);

private:
  QPointer<TIdConnectionIntercept> intercept_;
  QPointer<QObject> connection_;
};
