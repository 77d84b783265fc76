#pragma once

// A connection over an I/O handler: it holds the handler (its own or one given to it), passes
// the handler's progress on as its own, and runs the disconnect sequence with its status
// reports. TIdTCPClientCustom adds the connect sequence.

#include "net/IdComponent.h"
#include "net/IdIOHandler.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdIntercept.h"

#include <QPointer>

class TIdTCPConnection : public TIdComponent {
public:
  explicit TIdTCPConnection(QObject* owner = nullptr);
  // Closes an open handler and frees it when the connection made it. Never raises.
  ~TIdTCPConnection() override;

  // The handler reads and writes go through, or null. Not owned unless OwnsIOHandler().
  TIdIOHandler* IOHandler() const noexcept { return ioHandler_.data(); }
  // Replaces the handler: frees the old one when the connection made it, and makes itself the
  // new one's progress target, gives it the connection's intercept. A handler destroyed
  // elsewhere is forgotten. Raises EIdException "The IOHandler already has a different
  // Intercept assigned" when both have intercepts that differ.
  virtual void SetIOHandler(TIdIOHandler* handler);
  // The handler when it is a socket handler, else null.
  TIdIOHandlerSocket* SocketHandler() const noexcept { return socketHandler_.data(); }
  // The handler was made by the connection and is freed by it.
  bool OwnsIOHandler() const noexcept { return ownsIOHandler_; }

  // The intercept given to every handler of this connection, or null. Not owned.
  TIdConnectionIntercept* Intercept() const noexcept { return intercept_.data(); }
  void SetIntercept(TIdConnectionIntercept* intercept);

  // After Disconnect has closed the handler.
  TNotifyEvent OnDisconnected;

  // False without a handler, else the handler's Connected (which may take queued bytes in).
  bool Connected();
  // Closes the connection: with notifyPeer and a live connection first the notify-peer hook,
  // then, when the handler is open, reports hsDisconnecting, closes the handler, fires
  // OnDisconnected and reports hsDisconnected. Does nothing on a connection never opened.
  // Raises what the hook raises, after closing.
  void Disconnect(bool notifyPeer = true);
  // Raises EIdNotConnected "Not Connected" when there is no handler.
  void CheckConnected() const;
  // The handler's CheckDisconnected(raise, false); without a handler raises EIdException "Not
  // Connected" when raise is asked.
  void CheckForGracefulDisconnect(bool raise = true);

protected:
  // Tells the peer that the connection ends; nothing here, a protocol may override it.
  virtual void DisconnectNotifyPeer();
  // Marks the current handler as made (and freed) by the connection.
  void SetOwnsIOHandler(bool owns) noexcept { ownsIOHandler_ = owns; }

private:
  QPointer<TIdIOHandler> ioHandler_;
  QPointer<TIdIOHandlerSocket> socketHandler_;
  QPointer<TIdConnectionIntercept> intercept_;
  bool ownsIOHandler_ = false;
};
