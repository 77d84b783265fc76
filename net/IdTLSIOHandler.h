#pragma once

// TIdTLSIOHandler: the TLS-capable stack handler, on OpenSSL 3.
//
// Verification cannot be turned off. The chain is checked against OpenSSL's default verify
// paths (which honour SSL_CERT_FILE and SSL_CERT_DIR) or, when a file is given, against the
// certificates in that file only. The host of URIToCheck() (Host() when it is empty) must be
// named by the certificate's subjectAltName: a DNS name by the DNS entries (a wildcard covers
// one whole leftmost label), an IP literal by the IP address entries only; the subject's common
// name is never used. The server name (SNI) carries the host, never an IP literal. TLS 1.2 is
// the lowest version; OpenSSL's default security level and ciphers; ALPN offers "http/1.1".
// Renegotiation is refused (the client answers a request for it with the no_renegotiation
// alert).
//
// The socket stays blocking and every byte goes through the Binding: sends with the stack's
// own send (no SIGPIPE), receives only when the socket has data. Every wait is a poll on the
// socket under the handler's time limits, so a socket shut down from another thread ends a
// handshake or a read at once. Readable() is true only when decrypted bytes wait (or the
// connection has ended), so ReadLine, ReadStream and the time limits behave as over plain TCP;
// ReceiveChunk decrypts straight into the receive buffer.
//
// A session is kept per checked host and peer (host:port) for as long as the handler lives, and
// offered again on the next connect to them, so that a server that offers resumption resumes.

#include "net/IdSSLIOHandlerSocketBase.h"

#include <QString>

#include <chrono>
#include <exception>
#include <map>
#include <memory>
#include <optional>

struct bio_st;
struct bio_method_st;
struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

// What the last completed handshake agreed on; empty texts before the first one.
struct TIdTLSSessionInfo {
  QString Version;  // "TLSv1.3"
  QString Cipher;   // "TLS_AES_256_GCM_SHA384"
  QString Subject;  // the server certificate's subject, RFC 2253 form
  QString Issuer;   // its issuer, RFC 2253 form
  QString Protocol; // the ALPN protocol the server chose, empty when it chose none
  bool Resumed = false;
};

class TIdTLSIOHandler : public TIdSSLIOHandlerSocketBase {
public:
  // Pass-through until the client switches TLS on; trusts the system store. owner (may be
  // null) frees the handler.
  explicit TIdTLSIOHandler(QObject* owner = nullptr);
  // Closes (close_notify on a live TLS connection), frees the TLS objects and kept sessions.
  ~TIdTLSIOHandler() override;

  // A PEM file of trusted certificates that replaces the system store for every later
  // handshake; empty (the default) means the system store. The file is read at the next
  // handshake; one that cannot be read raises EIdTLSSetupError there. Kept sessions are
  // forgotten, as they were verified against the old trust.
  QString TrustedCertificatesFile() const { return trustedFile_; }
  void SetTrustedCertificatesFile(const QString& path);

  void SetPassThrough(bool passThrough) override;
  bool Encrypted() const override;

  // What the last completed handshake agreed on; kept after the connection closes.
  const TIdTLSSessionInfo& LastSession() const noexcept { return lastSession_; }
  // Handshakes completed by this handler, resumed ones included.
  int HandshakeCount() const noexcept { return handshakeCount_; }

  // Sends close_notify on a live TLS connection (one try, not waiting for the peer's), frees
  // the TLS connection, then closes the socket. Raises nothing of its own.
  void Close() override;
  // Through TLS when it runs: true once decrypted bytes wait or the connection has ended
  // (close_notify, a close without it, an error: ReceiveChunk then reports it). Waits up to
  // `timeout` ms on the socket (negative: no limit). Raises EIdConnClosedGracefully on a closed
  // socket, as the plain handler does.
  bool Readable(int32_t timeout) override;
  // Decrypts into buffer: the count, 0 after the peer's close_notify. Raises EIdTLSTruncated
  // for a close without it, EIdTLSStreamError for a protocol failure, the socket's failures as
  // EIdSocketError, EIdReadTimeout when a record stays incomplete past ReadTimeout.
  int32_t ReceiveChunk(QByteArray& buffer) override;
  // Encrypts and sends all `length` bytes; returns length. Raises EIdSocketError when the
  // socket fails (the peer gone), EIdTLSStreamError on a protocol failure.
  int32_t SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) override;
  // As the stack handler, where a connection that ended without close_notify while nothing was
  // asked of it counts as closed rather than as a failure.
  bool Connected() override;

protected:
  // Connects (TIdIOHandlerStack), then runs the handshake unless PassThrough(). ConnectTimeout
  // counts for both together: the handshake has what the connect left of it. Raises what
  // connecting raises, EIdConnectTimeout / EIdReadTimeout when the handshake outlasts
  // ConnectTimeout / ReadTimeout, EIdSSLProtocolReplyError and its children.
  void ConnectSocket() override;

private:
  struct SslDeleter {
    void operator()(ssl_st* ssl) const noexcept;
    void operator()(ssl_ctx_st* context) const noexcept;
    void operator()(ssl_session_st* session) const noexcept;
  };
  using SslPtr = std::unique_ptr<ssl_st, SslDeleter>;
  using ContextPtr = std::unique_ptr<ssl_ctx_st, SslDeleter>;
  using SessionPtr = std::unique_ptr<ssl_session_st, SslDeleter>;

  // The handshake on the connected socket; on failure the TLS connection is freed (the caller
  // closes the socket).
  void StartTLS();
  ssl_ctx_st* Context();
  // The host the certificate must name: the host of URIToCheck(), else Host().
  QString CheckedHost() const;
  // Raises the failure of a handshake whose step returned `error`.
  [[noreturn]] void RaiseHandshakeFailure(int error);
  // Turns the failure of a read into the ending that Readable/ReceiveChunk report.
  void RecordEnding(int error);
  // Raises the abort's EIdSocketError 10053 once Abort() was called: the shut-down socket
  // reads as an end of input, which is not the peer's.
  void RaiseIfAborted() const;
  // Raises a failure a socket call met inside OpenSSL, if one is kept.
  void RethrowSocketFailure();
  // Waits for the socket under ReadTimeout and the call's deadline; raises EIdReadTimeout or
  // EIdCallTimeout when it passes.
  void AwaitSocket();
  // Decrypts records already read ahead into buffer from `from` on, while there is room and
  // without waiting; returns the count added. An ending met here is recorded for the next
  // receive.
  size_t TakeReadAhead(QByteArray& buffer, size_t from);

  // The socket side of OpenSSL's connection (a BIO of our own).
  static bio_method_st* BioMethod();
  static int BioWrite(bio_st* bio, const char* data, int length);
  static int BioRead(bio_st* bio, char* data, int length);
  static long BioControl(bio_st* bio, int command, long number, void* pointer);
  static int NewSession(ssl_st* ssl, ssl_session_st* session);

  QString trustedFile_;
  ContextPtr context_;
  SslPtr ssl_;
  bool established_ = false;
  // How the TLS connection ended, once a read found out: cleanly (close_notify) or by a failure.
  bool endedCleanly_ = false;
  std::exception_ptr ending_;
  // A failure of the socket met inside an OpenSSL call, raised once the call returns.
  std::exception_ptr socketFailure_;
  // The first bytes the peer sent in the handshake, to tell a clear-text answer apart.
  QByteArray firstBytes_;
  // When the connect that the coming handshake completes began; none for a handshake on a
  // connection made before (inside a tunnel), which has the whole connect limit.
  std::optional<std::chrono::steady_clock::time_point> connectStarted_;
  QString sessionKey_;
  std::map<QString, SessionPtr> sessions_;
  TIdTLSSessionInfo lastSession_;
  int handshakeCount_ = 0;
};
