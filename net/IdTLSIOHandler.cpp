#include "net/IdTLSIOHandler.h"

#include "net/IdResourceStrings.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The wait of a single read under the ReadTimeout rule: -1 and 0 both mean no limit.
int32_t ReadWait(int32_t readTimeout) {
  return readTimeout > 0 ? readTimeout : kTimeoutInfinite;
}

int32_t ElapsedMs(Clock::time_point start) {
  return int32_t(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The reason OpenSSL gave for the last failure on this thread.
QString LibraryReason() {
  const unsigned long error = ERR_peek_last_error();
  const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
  return reason ? QString::fromUtf8(reason) : QStringLiteral("unknown failure");
}

bool IsEndOfInput(int error) {
  const unsigned long queued = ERR_peek_error();
  return (error == SSL_ERROR_SYSCALL && queued == 0) ||
         (ERR_GET_LIB(queued) == ERR_LIB_SSL &&
          ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
}

QString NameText(const X509_NAME* name) {
  BIO* out = BIO_new(BIO_s_mem());
  if (!out) {
    return {};
  }
  X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253);
  char* data = nullptr;
  const long length = BIO_get_mem_data(out, &data);
  QString text = QString::fromUtf8(data, qsizetype(length));
  BIO_free(out);
  return text;
}

bool IsIPLiteral(const QString& host) {
  return TIdStack::IsIPv4Literal(host) || TIdStack::CanonicalIPv6(host).has_value();
}

// "http/1.1" in ALPN's wire form: a length byte, then the name.
constexpr unsigned char kAlpnHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
// Bytes OpenSSL may take from the socket per read: eight records of the largest size.
constexpr size_t kReadAheadBytes = size_t(8) * (16384 + 256);

} // namespace

void TIdTLSIOHandler::SslDeleter::operator()(ssl_st* ssl) const noexcept {
  SSL_free(ssl);
}
void TIdTLSIOHandler::SslDeleter::operator()(ssl_ctx_st* context) const noexcept {
  SSL_CTX_free(context);
}
void TIdTLSIOHandler::SslDeleter::operator()(ssl_session_st* session) const noexcept {
  SSL_SESSION_free(session);
}

TIdTLSIOHandler::TIdTLSIOHandler(QObject* owner) : TIdSSLIOHandlerSocketBase(owner) {}

TIdTLSIOHandler::~TIdTLSIOHandler() {
  try {
    Close();
  } catch (...) {
    // An intercept's disconnect hook failing cannot stop the handler from going away.
  }
}

void TIdTLSIOHandler::SetTrustedCertificatesFile(const QString& path) {
  if (path == trustedFile_) {
    return;
  }
  trustedFile_ = path;
  context_.reset();
  sessions_.clear();
}

void TIdTLSIOHandler::SetPassThrough(bool passThrough) {
  const bool startNow = !passThrough && !ssl_ && IsOpen() && SourceAvailable();
  TIdSSLIOHandlerSocketBase::SetPassThrough(passThrough);
  if (!startNow) {
    return;
  }
  try {
    StartTLS();
  } catch (...) {
    Close();
    throw;
  }
}

bool TIdTLSIOHandler::Encrypted() const {
  return ssl_ && established_;
}

// --- The socket side --------------------------------------------------------------------------

bio_method_st* TIdTLSIOHandler::BioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "binding");
    if (made) {
      BIO_meth_set_write(made, &TIdTLSIOHandler::BioWrite);
      BIO_meth_set_read(made, &TIdTLSIOHandler::BioRead);
      BIO_meth_set_ctrl(made, &TIdTLSIOHandler::BioControl);
    }
    return made;
  }();
  return method;
}

// Exceptions must not cross OpenSSL's frames: a failure is kept and raised once the OpenSSL
// call has returned.
int TIdTLSIOHandler::BioWrite(bio_st* bio, const char* data, int length) {
  auto* self = static_cast<TIdTLSIOHandler*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  try {
    return self->SendWhenRoom(QByteArray::fromRawData(data, length), 0, length);
  } catch (...) {
    self->socketFailure_ = std::current_exception();
    return -1;
  }
}

// Never blocks: the waits happen outside OpenSSL, on the socket and under the time limits.
int TIdTLSIOHandler::BioRead(bio_st* bio, char* data, int length) {
  auto* self = static_cast<TIdTLSIOHandler*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const TIdSocketHandle* binding = self->Binding();
  const TIdStackSocketHandle socket = binding ? binding->Handle() : Id_INVALID_SOCKET;
  ssize_t received = -1;
  do {
    received = ::recv(socket, data, size_t(length), MSG_DONTWAIT);
  } while (received < 0 && errno == EINTR);
  if (received >= 0) {
    if (!self->established_ && self->firstBytes_.size() < 8) {
      self->firstBytes_.append(data, qMin<qsizetype>(received, 8 - self->firstBytes_.size()));
    }
    return int(received);
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    BIO_set_retry_read(bio);
    return -1;
  }
  try {
    GStack()->RaiseLastSocketError();
  } catch (...) {
    self->socketFailure_ = std::current_exception();
  }
  return -1;
}

long TIdTLSIOHandler::BioControl(bio_st*, int command, long, void*) {
  // Every write is sent at once, so a flush has nothing to do; nothing else is supported.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int TIdTLSIOHandler::NewSession(ssl_st* ssl, ssl_session_st* session) {
  auto* self = static_cast<TIdTLSIOHandler*>(SSL_get_app_data(ssl));
  self->sessions_[self->sessionKey_] = SessionPtr(session);
  return 1;
}

void TIdTLSIOHandler::RethrowSocketFailure() {
  if (socketFailure_) {
    const std::exception_ptr failure = std::exchange(socketFailure_, nullptr);
    std::rethrow_exception(failure);
  }
}

void TIdTLSIOHandler::AwaitSocket() {
  const BoundedWait bounded = BoundWait(ReadWait(ReadTimeout()));
  if (!TIdIOHandlerSocket::Readable(bounded.ms)) {
    if (bounded.byDeadline) {
      RaiseCallTimeout();
    }
    throw EIdReadTimeout(RSReadTimeout());
  }
}

// --- Handshake ----------------------------------------------------------------------------------

ssl_ctx_st* TIdTLSIOHandler::Context() {
  if (context_) {
    return context_.get();
  }
  ERR_clear_error();
  ContextPtr context(SSL_CTX_new(TLS_client_method()));
  if (!context || !BioMethod()) {
    throw EIdTLSSetupError(RSTLSSetupFailed().arg(LibraryReason()));
  }
  SSL_CTX* ctx = context.get();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  // Whole records per receive instead of a header and a body apart: half the system calls.
  SSL_CTX_set_read_ahead(ctx, 1);
  // Room for several records per receive from the socket: a bulk read takes them all at once.
  SSL_CTX_set_default_read_buffer_len(ctx, kReadAheadBytes);
  const bool trusted = trustedFile_.isEmpty()
                           ? SSL_CTX_set_default_verify_paths(ctx) == 1
                           : SSL_CTX_load_verify_locations(
                                 ctx, trustedFile_.toLocal8Bit().constData(), nullptr) == 1;
  if (!trusted) {
    throw EIdTLSSetupError(RSTLSTrustFileUnreadable().arg(trustedFile_, LibraryReason()));
  }
  if (SSL_CTX_set_alpn_protos(ctx, kAlpnHttp11, sizeof kAlpnHttp11) != 0) {
    throw EIdTLSSetupError(RSTLSSetupFailed().arg(LibraryReason()));
  }
  // Sessions are kept by the handler, per host and peer, not in OpenSSL's cache.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, &TIdTLSIOHandler::NewSession);
  context_ = std::move(context);
  return ctx;
}

QString TIdTLSIOHandler::CheckedHost() const {
  const QString uri = URIToCheck();
  const qsizetype schemeEnd = uri.indexOf(u"://");
  if (schemeEnd < 0) {
    return Host();
  }
  QStringView authority = QStringView(uri).mid(schemeEnd + 3);
  const auto authorityEnd = std::find_if(authority.begin(), authority.end(), [](QChar c) {
    return c == u'/' || c == u'?' || c == u'#';
  });
  authority = authority.left(authorityEnd - authority.begin());
  if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
    authority = authority.mid(at + 1);
  }
  QStringView host = authority;
  if (authority.startsWith(u'[')) {
    const qsizetype close = authority.indexOf(u']');
    host = close > 0 ? authority.mid(1, close - 1) : authority.mid(1);
  } else if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0) {
    host = authority.left(colon);
  }
  return host.isEmpty() ? Host() : host.toString();
}

void TIdTLSIOHandler::ConnectSocket() {
  connectStarted_ = Clock::now();
  try {
    TIdSSLIOHandlerSocketBase::ConnectSocket();
    if (!PassThrough()) {
      StartTLS();
    }
  } catch (...) {
    connectStarted_.reset();
    throw;
  }
  connectStarted_.reset();
}

void TIdTLSIOHandler::StartTLS() {
  SSL_CTX* context = Context();
  const QString host = CheckedHost();
  const QByteArray hostBytes = host.toUtf8();
  ERR_clear_error();
  SslPtr ssl(SSL_new(context));
  BIO* bio = BIO_new(BioMethod());
  if (!ssl || !bio) {
    BIO_free(bio);
    throw EIdTLSSetupError(RSTLSSetupFailed().arg(LibraryReason()));
  }
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl.get(), bio, bio);
  SSL_set_app_data(ssl.get(), this);
  bool named = false;
  if (IsIPLiteral(host)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), hostBytes.constData()) == 1;
  } else {
    SSL_set_hostflags(ssl.get(),
                      X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    named = SSL_set1_host(ssl.get(), hostBytes.constData()) == 1 &&
            SSL_set_tlsext_host_name(ssl.get(), hostBytes.constData()) == 1;
  }
  if (!named) {
    throw EIdTLSHostMismatch(RSTLSHostMismatch().arg(host));
  }
  sessionKey_ = host + u' ' + Host() + u':' + QString::number(Port());
  if (const auto kept = sessions_.find(sessionKey_); kept != sessions_.end()) {
    SSL_set_session(ssl.get(), kept->second.get());
  }
  SSL_set_connect_state(ssl.get());

  ssl_ = std::move(ssl);
  established_ = false;
  endedCleanly_ = false;
  ending_ = nullptr;
  socketFailure_ = nullptr;
  firstBytes_.clear();
  // The connect limit covers connect and handshake together.
  const Clock::time_point start =
      std::exchange(connectStarted_, std::nullopt).value_or(Clock::now());
  try {
    for (;;) {
      ERR_clear_error();
      const int result = SSL_do_handshake(ssl_.get());
      if (result == 1) {
        break;
      }
      const int error = SSL_get_error(ssl_.get(), result);
      if (error != SSL_ERROR_WANT_READ) {
        RaiseHandshakeFailure(error);
      }
      int32_t wait = ReadWait(ReadTimeout());
      bool connectLimit = false;
      if (ConnectTimeout() > 0) {
        const int32_t left = std::max(0, ConnectTimeout() - ElapsedMs(start));
        if (wait < 0 || left < wait) {
          wait = left;
          connectLimit = true;
        }
      }
      const BoundedWait bounded = BoundWait(wait);
      if (!TIdIOHandlerSocket::Readable(bounded.ms)) {
        if (bounded.byDeadline) {
          RaiseCallTimeout();
        }
        if (connectLimit) {
          throw EIdConnectTimeout(RSConnectTimeout());
        }
        throw EIdReadTimeout(RSReadTimeout());
      }
    }
  } catch (...) {
    ssl_.reset();
    socketFailure_ = nullptr;
    ERR_clear_error();
    throw;
  }
  established_ = true;
  ++handshakeCount_;
  lastSession_ = {};
  lastSession_.Version = QString::fromUtf8(SSL_get_version(ssl_.get()));
  lastSession_.Cipher = QString::fromUtf8(SSL_get_cipher_name(ssl_.get()));
  if (const X509* peer = SSL_get0_peer_certificate(ssl_.get())) {
    lastSession_.Subject = NameText(X509_get_subject_name(peer));
    lastSession_.Issuer = NameText(X509_get_issuer_name(peer));
  }
  const unsigned char* protocol = nullptr;
  unsigned int protocolLength = 0;
  SSL_get0_alpn_selected(ssl_.get(), &protocol, &protocolLength);
  lastSession_.Protocol =
      QString::fromLatin1(reinterpret_cast<const char*>(protocol), qsizetype(protocolLength));
  lastSession_.Resumed = SSL_session_reused(ssl_.get()) == 1;
}

void TIdTLSIOHandler::RaiseHandshakeFailure(int error) {
  RaiseIfAborted();
  const QString host = CheckedHost();
  const long verify = SSL_get_verify_result(ssl_.get());
  if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
    throw EIdTLSHostMismatch(RSTLSHostMismatch().arg(host));
  }
  if (verify != X509_V_OK) {
    throw EIdTLSCertificateUntrusted(RSTLSCertificateUntrusted().arg(
        host, QString::fromUtf8(X509_verify_cert_error_string(verify))));
  }
  // A clear-text answer to the ClientHello (a web server on the port) says more than the
  // record-layer complaint OpenSSL makes about it.
  if (firstBytes_.startsWith("HTTP/")) {
    throw EIdSSLProtocolReplyError(RSTLSHandshakeFailed().arg(host, RSTLSPlainTextPeer()));
  }
  RethrowSocketFailure();
  if (error == SSL_ERROR_ZERO_RETURN || IsEndOfInput(error)) {
    throw EIdSSLProtocolReplyError(RSTLSHandshakeFailed().arg(host, RSTLSPeerClosedInHandshake()));
  }
  throw EIdSSLProtocolReplyError(RSTLSHandshakeFailed().arg(host, LibraryReason()));
}

// --- Reading and writing ------------------------------------------------------------------------

void TIdTLSIOHandler::RecordEnding(int error) {
  if (error == SSL_ERROR_ZERO_RETURN) {
    endedCleanly_ = true;
    return;
  }
  try {
    RaiseIfAborted();
    RethrowSocketFailure();
    if (IsEndOfInput(error)) {
      throw EIdTLSTruncated(RSTLSTruncated().arg(CheckedHost()));
    }
    throw EIdTLSStreamError(RSTLSStreamError().arg(CheckedHost(), LibraryReason()));
  } catch (...) {
    ending_ = std::current_exception();
  }
}

void TIdTLSIOHandler::RaiseIfAborted() const {
  if (Aborted()) {
    GStack()->RaiseForSocketError(Id_WSAECONNABORTED);
  }
}

bool TIdTLSIOHandler::Readable(int32_t timeout) {
  if (!ssl_) {
    return TIdSSLIOHandlerSocketBase::Readable(timeout);
  }
  if (endedCleanly_ || ending_ || SSL_pending(ssl_.get()) > 0) {
    return true;
  }
  const Clock::time_point start = Clock::now();
  // Bytes OpenSSL read ahead may already hold a whole record: look at them before waiting.
  bool wait = SSL_has_pending(ssl_.get()) == 0;
  for (;;) {
    if (wait) {
      const int32_t left = timeout < 0 ? kTimeoutInfinite : std::max(0, timeout - ElapsedMs(start));
      if (!TIdIOHandlerSocket::Readable(left)) {
        return false;
      }
    }
    // A record may carry no application data (a session ticket, an alert): decrypting one
    // byte's worth tells whether data waits, and keeps it queued inside OpenSSL.
    ERR_clear_error();
    unsigned char byte = 0;
    size_t peeked = 0;
    if (SSL_peek_ex(ssl_.get(), &byte, 1, &peeked) == 1) {
      return true;
    }
    const int error = SSL_get_error(ssl_.get(), 0);
    if (error != SSL_ERROR_WANT_READ) {
      RecordEnding(error);
      return true;
    }
    wait = true;
  }
}

int32_t TIdTLSIOHandler::ReceiveChunk(QByteArray& buffer) {
  if (!ssl_) {
    return TIdSSLIOHandlerSocketBase::ReceiveChunk(buffer);
  }
  for (;;) {
    if (ending_) {
      std::rethrow_exception(ending_);
    }
    if (endedCleanly_) {
      return 0;
    }
    ERR_clear_error();
    size_t received = 0;
    if (SSL_read_ex(ssl_.get(), buffer.data(), size_t(buffer.size()), &received) == 1) {
      return int32_t(received + TakeReadAhead(buffer, received));
    }
    const int error = SSL_get_error(ssl_.get(), 0);
    if (error == SSL_ERROR_WANT_READ) {
      AwaitSocket();
    } else {
      RecordEnding(error);
    }
  }
}

size_t TIdTLSIOHandler::TakeReadAhead(QByteArray& buffer, size_t from) {
  size_t taken = 0;
  while (from + taken < size_t(buffer.size()) && SSL_has_pending(ssl_.get()) == 1) {
    ERR_clear_error();
    size_t more = 0;
    if (SSL_read_ex(ssl_.get(), buffer.data() + from + taken, size_t(buffer.size()) - from - taken,
                    &more) != 1) {
      // A record not yet whole waits for the next receive; an ending is told by the next one.
      if (const int error = SSL_get_error(ssl_.get(), 0); error != SSL_ERROR_WANT_READ) {
        RecordEnding(error);
      }
      break;
    }
    taken += more;
  }
  return taken;
}

int32_t TIdTLSIOHandler::SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) {
  if (!ssl_) {
    return TIdSSLIOHandlerSocketBase::SendChunk(bytes, offset, length);
  }
  ERR_clear_error();
  size_t written = 0;
  if (SSL_write_ex(ssl_.get(), bytes.constData() + offset, size_t(length), &written) == 1) {
    return int32_t(written);
  }
  RethrowSocketFailure();
  throw EIdTLSStreamError(RSTLSStreamError().arg(CheckedHost(), LibraryReason()));
}

bool TIdTLSIOHandler::Connected() {
  try {
    return TIdSSLIOHandlerSocketBase::Connected();
  } catch (const EIdTLSError&) {
    // Idle, a close without close_notify cuts nothing short: the connection is simply over.
    SetPeerClosed(true);
    Close();
    return !PendingInputEmpty();
  }
}

void TIdTLSIOHandler::Close() {
  if (ssl_) {
    if (established_ && !ending_ && SourceAvailable()) {
      ERR_clear_error();
      SSL_shutdown(ssl_.get());
    }
    ssl_.reset();
    socketFailure_ = nullptr;
    ERR_clear_error();
  }
  established_ = false;
  endedCleanly_ = false;
  ending_ = nullptr;
  TIdSSLIOHandlerSocketBase::Close();
}
