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

// --- The TLS failures: one tree, each message naming the host whose certificate is checked ---

// Root of every TLS failure.
MARQUELO_DECLARE_EXCEPTION(EIdTLSError, EIdException)
// The handshake did not complete: "TLS handshake with <host> failed: <reason>", the reason
// being the TLS library's own, or that the peer answered in plain HTTP or closed. Raised by
// Connect (and by switching TLS on); the HTTP client drops the connection on it.
MARQUELO_DECLARE_EXCEPTION(EIdSSLProtocolReplyError, EIdTLSError)
// The chain does not lead to a trusted authority, or a certificate in it is expired, not yet
// valid or otherwise refused: "Certificate of <host> is not trusted: <reason>".
MARQUELO_DECLARE_EXCEPTION(EIdTLSCertificateUntrusted, EIdSSLProtocolReplyError)
// The certificate is trusted but names another host (or, for an IP literal, another address):
// "Certificate of <host> does not name this host".
MARQUELO_DECLARE_EXCEPTION(EIdTLSHostMismatch, EIdSSLProtocolReplyError)
// After the handshake, the peer broke the protocol (a bad record, a fatal alert):
// "TLS error on the connection to <host>: <reason>".
MARQUELO_DECLARE_EXCEPTION(EIdTLSStreamError, EIdTLSError)
// The peer closed the socket without the TLS close_notify, so nothing proves that what came is
// all that was sent: "Connection to <host> ended without TLS close_notify: ...".
MARQUELO_DECLARE_EXCEPTION(EIdTLSTruncated, EIdTLSStreamError)
// The TLS context cannot be made, or the file of trusted certificates cannot be read.
MARQUELO_DECLARE_EXCEPTION(EIdTLSSetupError, EIdTLSError)

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

  // True while the open connection runs TLS (its handshake completed), whatever PassThrough()
  // says for the next connect. The base never encrypts.
  virtual bool Encrypted() const { return false; }

  // The address (scheme://host[:port]/...) whose host the server's certificate must name, and
  // which is sent as the server name. The HTTP client sets it before every exchange.
  QString URIToCheck() const { return uriToCheck_; }
  void SetURIToCheck(const QString& uri) { uriToCheck_ = uri; }

private:
  bool passThrough_ = true;
  QString uriToCheck_;
};
