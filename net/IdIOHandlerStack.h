#pragma once

// The stack I/O handler: the socket handler (which connects through the connector) that also
// tells a peer's close apart from queued data.

#include "net/IdIOHandlerSocket.h"

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
  explicit TIdIOHandlerStack(QObject* owner = nullptr);

  // First pulls whatever the socket holds (a poll that also notices the peer's close), then
  // true when the socket is open and not closed by the peer, or bytes are still queued. A
  // socket error met by that poll counts as the end of the connection, not as a failure of
  // the question: it closes the handler and Connected says whether bytes remain queued.
  bool Connected() override;
};
