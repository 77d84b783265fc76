#pragma once

// TIdSSLIOHandlerSocketBase: a stack I/O handler whose bytes can go through TLS.
//
// The HTTP client decides per request whether the connection is encrypted: it switches TLS on
// for an https address and off for a plain one or a plain proxy, and it names the address whose
// host the server's certificate must carry. Everything above the raw receive and send (the
// input queue, ReadLine, ReadStream, write buffering, intercepts, progress, time limits) works
// exactly as over plain TCP; a concrete handler supplies the TLS itself.

#include "net/IdIOHandlerStack.h"

#include <QString>

class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
public:
  // Pass-through (plain TCP) and no address to check. owner (may be null) frees the handler.
  explicit TIdSSLIOHandlerSocketBase(QObject* owner = nullptr) : TIdIOHandlerStack(owner) {}

  // True (the default): bytes go over the socket as they are. False: through TLS.
  bool PassThrough() const noexcept { return passThrough_; }
  // Switching to false while connected in the clear starts TLS on that connection at once
  // (the handshake, bounded by the connect and read time limits); while closed, every later
  // connect is followed by the handshake. Switching to true while TLS runs takes effect at the
  // next connect. Raises what the handshake raises; the handler is closed by then.
  virtual void SetPassThrough(bool passThrough) { passThrough_ = passThrough; }

  // The address (scheme://host[:port]/...) whose host the server's certificate must name, and
  // which is sent as the server name. The HTTP client sets it before every exchange.
  QString URIToCheck() const { return uriToCheck_; }
  void SetURIToCheck(const QString& uri) { uriToCheck_ = uri; }

private:
  bool passThrough_ = true;
  QString uriToCheck_;
};
