#include "net/IdIOHandlerStack.h"

TIdIOHandlerStack::TIdIOHandlerStack(QObject* owner) : TIdIOHandlerSocket(owner) {}

bool TIdIOHandlerStack::Connected() {
  try {
    FillPendingInput(false, 0, false);
  } catch (const EIdSocketError&) {
    SetPeerClosed(true);
    Close();
  }
  return (SourceAvailable() && TIdIOHandler::Connected()) || !PendingInputEmpty();
}
