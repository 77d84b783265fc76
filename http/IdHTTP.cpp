#include "http/IdHTTP.h"

#include "http/IdContentDecoding.h"

#include "http/IdHTTPProtocol.h"
#include "http/IdResourceStringsProtocols.h"
#include "http/IdTextDecoding.h"
#include "net/IdConnector.h"
#include "net/IdGlobal.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocketBase.h"
#include "net/IdSocketHandle.h"
#include "net/IdStack.h"
#include "net/IdStreamWriter.h"

#include <QBuffer>
#include <QScopeGuard>
#include <limits>
#include <optional>

namespace {

// Cuts a stream back to start, so that what a followed redirect left behind is gone. A stream
// that cannot seek has been given nothing before the final response, so it needs no cut.
void CutStreamBack(QIODevice& stream, qint64 start) {
  if (stream.isSequential()) {
    return;
  }
  stream.seek(start);
  CutStreamAtPosition(stream);
}

// A port written in an address: a decimal number up to 65535, 80 when it is no number at all.
uint16_t PortFromText(const QString& text) {
  // Read as every protocol number is (decimal, an optional sign), blanks around it dropped.
  const std::optional<int64_t> port = TextToInt64(TrimView(text), IntegerSyntax::Decimal);
  if (!port) {
    return 80;
  }
  if (*port < 0 || *port > std::numeric_limits<uint16_t>::max()) {
    throw ERangeError(RSRangeCheckError());
  }
  return uint16_t(*port);
}

// Host and port as the "Host" header writes them; an IPv6 address goes in brackets, as bare its
// colons would run into the port's.
QString HostHeaderValue(const TIdURI& uri) {
  QString value = uri.IPVersion() == Id_IPv6 ? u'[' + uri.HostPart() + u']' : uri.HostPart();
  if (uri.PortPart() != u"80") {
    value += u':' + uri.PortPart();
  }
  return value;
}

// Scheme, host and port: what credentials are given for. Names are compared without regard to
// case; the port is the text ResolveTarget settled on.
QString OriginOf(const TIdURI& uri) {
  return uri.Scheme().toLower() + QStringLiteral("://") + uri.HostPart().toLower() + u':' +
         uri.PortPart();
}

TIdSSLIOHandlerSocketBase* TLSCapable(TIdIOHandler* io) {
  return dynamic_cast<TIdSSLIOHandlerSocketBase*>(io);
}

bool RequiresVersion11(QStringView verb) {
  for (const QStringView method : {u"TRACE", u"PUT", u"OPTIONS", u"DELETE"}) {
    if (TextIsSame(verb, method)) {
      return true;
    }
  }
  return false;
}

} // namespace

TIdCustomHTTP::TIdCustomHTTP(QObject* owner)
    : TIdTCPClientCustom(owner), protocol_(std::make_unique<TIdHTTPProtocol>(exchangeHost_)) {}

TIdCustomHTTP::~TIdCustomHTTP() {
  SetCookieManager(nullptr);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
  if (manager == cookieManager_) {
    return;
  }
  if (ownsCookieManager_) {
    delete cookieManager_.data();
  }
  ownsCookieManager_ = false;
  cookieManager_ = manager;
}

// --- Calls --------------------------------------------------------------------------------------

QString TIdCustomHTTP::Get(const QString& address, const TIdHTTPIgnoredCodes& ignored) {
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  GetToStream(address, body, ignored);
  body.seek(0);
  return ReadStreamText(body, kRestOfStream,
                        EncodingFromContentType(CurrentResponse().ContentType()));
}

void TIdCustomHTTP::GetToStream(const QString& address, QIODevice& stream,
                                const TIdHTTPIgnoredCodes& ignored) {
  PerformRequest(QStringLiteral("GET"), address, nullptr, &stream, ignored);
}

void TIdCustomHTTP::PerformRequest(const QString& method, const QString& address,
                                   QIODevice* bodySource, QIODevice* bodyStream,
                                   const TIdHTTPIgnoredCodes& ignored) {
  redirectCounter_ = 0;
  authAttempts_ = 0;
  proxyAuthAttempts_ = 0;
  const qint64 start = bodyStream ? bodyStream->pos() : 0;
  if (start > std::numeric_limits<int32_t>::max()) {
    throw ERangeError(RSRangeCheckError());
  }

  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = CurrentResponse();
  request.SetRequestTarget(address);
  request.SetVerb(method);
  request.SetBodySource(bodySource);
  response.SetBodyStream(bodyStream);
  SetCallDeadline(callTimeout_ > 0 ? TIdIOHandler::Deadline(std::chrono::steady_clock::now() +
                                                            std::chrono::milliseconds(callTimeout_))
                                   : std::nullopt);
  // The records must not keep the caller's streams past the call, nor the handler its end.
  const auto finish = [&] {
    SetCallDeadline(std::nullopt);
    request.SetBodySource(nullptr);
    response.SetBodyStream(nullptr);
    FinishConnection();
  };
  // From the request head on until the response's body has been dealt with, the connection is
  // in step with the peer only if the exchange runs to its end.
  bool exchanging = false;
  try {
    for (bool fromCaller = true;; fromCaller = false) {
      ResolveTarget(fromCaller);
      if (fromCaller) {
        ScopeCredentials(!TIdURI(address).UserPart().isEmpty());
      }
      if (TIdSSLIOHandlerSocketBase* tls = TLSCapable(IOHandler())) {
        tls->SetURIToCheck(currentURI_.AddressText());
      }
      exchanging = true;
      SendAndReadHead();
      const TIdHTTPNextStep step = protocol_->DecideNextStep(ignored);
      exchanging = false;
      if (step == nsFinished) {
        break;
      }
      if (step == nsFollow) {
        if (bodyStream) {
          CutStreamBack(*bodyStream, start);
        }
        authAttempts_ = 0;
        proxyAuthAttempts_ = 0;
      } else {
        // Credentials answer the address that was challenged, which after redirects is not the
        // one first given; a relative address would also merge twice if given again.
        request.SetRequestTarget(currentURI_.AddressText());
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The error page has been read by its framing, so the connection may serve the next call.
    finish();
    throw;
  } catch (...) {
    // Cut short by a time-out, an over-long line, a reset or a handler: whatever the peer still
    // sends belongs to no response, and a reused connection would take it for the next one.
    if (exchanging) {
      AbandonConnection();
    }
    finish();
    throw;
  }
  finish();
}

// --- Inner steps --------------------------------------------------------------------------------

void TIdCustomHTTP::ResolveTarget(bool fromCaller) {
  TIdHTTPRequest& request = Request();
  const TIdURI uri(request.RequestTarget());
  // A redirect target's user part is the server's word, not the user's.
  if (fromCaller && !uri.UserPart().isEmpty()) {
    request.SetUsername(uri.UserPart());
    request.SetPassword(uri.PasswordPart());
  }
  currentURI_.SetUserPart(request.Username());
  currentURI_.SetPasswordPart(request.Password());
  currentURI_.SetDirectory(MergePath(currentURI_.Directory(), uri.Directory()));
  currentURI_.SetFileName(uri.FileName());
  currentURI_.SetQuery(uri.Query());
  // A relative address keeps the host, and with it whether the host is an IPv6 literal.
  if (!uri.HostPart().isEmpty()) {
    currentURI_.SetHostPart(uri.HostPart());
    currentURI_.SetIPVersion(uri.IPVersion());
  }

  const bool wasHttps = TextIsSame(currentURI_.Scheme(), u"https");
  if (!uri.Scheme().isEmpty()) {
    currentURI_.SetScheme(uri.Scheme());
  } else {
    currentURI_.SetScheme(wasHttps ? QStringLiteral("https") : QStringLiteral("http"));
  }

  if (!uri.PortPart().isEmpty()) {
    currentURI_.SetPortPart(uri.PortPart());
  } else if (TextIsSame(uri.Scheme(), u"http")) {
    currentURI_.SetPortPart(QStringLiteral("80"));
  } else if (TextIsSame(uri.Scheme(), u"https")) {
    currentURI_.SetPortPart(QStringLiteral("443"));
  } else if (currentURI_.PortPart().isEmpty()) {
    throw EIdUnknownProtocol(RSHTTPUnknownProtocol());
  }

  request.SetRequestTarget(currentURI_.PathAndQuery());
  if (request.Verb() == u"OPTIONS" && uri.FileName() == u"*") {
    request.SetRequestTarget(QStringLiteral("*"));
  }
  if (protocolVersion_ != pv1_1 && RequiresVersion11(request.Verb())) {
    throw EIdException(RSHTTPMethodRequiresVersion());
  }
  request.SetContentLength(request.BodySource() ? request.BodySource()->size() : -1);
  request.SetHost(HostHeaderValue(currentURI_));
}

void TIdCustomHTTP::ScopeCredentials(bool givenInAddress) {
  TIdHTTPRequest& request = Request();
  const bool changed = request.Username() != scope_.username ||
                       request.Password() != scope_.password ||
                       request.Authentication() != scope_.scheme;
  const bool none = request.Username().isEmpty() && request.Password().isEmpty();
  if (givenInAddress || changed || none) {
    // An object answered the old credentials' origin; given new ones, it must not go on
    // answering with what it holds of the old.
    if (changed && request.Authentication() == scope_.scheme && !scope_.origin.isEmpty()) {
      request.SetAuthentication(nullptr);
    }
    scope_.origin = OriginOf(currentURI_);
  }
  KeepCredentialScope();
}

void TIdCustomHTTP::KeepCredentialScope() {
  const TIdHTTPRequest& request = Request();
  scope_.username = request.Username();
  scope_.password = request.Password();
  scope_.scheme = request.Authentication();
}

bool TIdCustomHTTP::CredentialsApply() const {
  return OriginOf(currentURI_) == scope_.origin;
}

TIdHTTPConnectionType TIdCustomHTTP::ChooseEndpoint() {
  const bool https = TextIsSame(currentURI_.Scheme(), u"https");
  TIdSSLIOHandlerSocketBase* tls = TLSCapable(IOHandler());
  // An https address never goes out in clear text: without a handler that can speak TLS,
  // there is no way to reach it, directly or through a tunnel (none assigned included, as the
  // one made at connect would be a plain one).
  if (https && !tls) {
    throw EIdIOHandlerPropInvalid(RSIOHandlerPropInvalid());
  }
  QString host;
  uint16_t port = 0;
  TIdHTTPConnectionType kind = https ? ckDirectTLS : ckDirect;
  if (proxyParams_.ProxyServer().isEmpty()) {
    host = currentURI_.HostPart();
    port = PortFromText(currentURI_.PortPart());
  } else {
    host = proxyParams_.ProxyServer();
    if (proxyParams_.ProxyPort() < 0 ||
        proxyParams_.ProxyPort() > std::numeric_limits<uint16_t>::max()) {
      throw ERangeError(RSRangeCheckError());
    }
    port = uint16_t(proxyParams_.ProxyPort());
    kind = https ? ckProxyTunnel : ckProxy;
  }
  // A tunnel leads to one target only, so a kept one serves the same target alone.
  const QString tunnelTarget = kind == ckProxyTunnel ? TunnelTarget(currentURI_) : QString();
  const bool wantEncrypted = kind == ckDirectTLS || kind == ckProxyTunnel;
  // A kept connection serves only a request that wants it as encrypted as it is: TLS must
  // never be taken away under a live connection, nor added to one by surprise.
  const bool encrypted = tls && tls->Encrypted();
  if ((!TextIsSame(Host(), host) || Port() != port || encrypted != wantEncrypted ||
       tunnelTarget != tunnelTarget_) &&
      Connected()) {
    Disconnect();
  }
  tunnelTarget_ = tunnelTarget;
  // A tunnel starts in clear text to the proxy; TLS is switched on once it is open.
  if (tls) {
    tls->SetPassThrough(kind != ckDirectTLS);
  }
  // The connector tries every address of the host in both families (or the one family a
  // caller set), so a kept connection is one to the same scheme, host, port and proxy,
  // whichever address of them won.
  SetHost(host);
  SetPort(port);
  return kind;
}

namespace {

// Whether failure says that the peer could not be reached at all, so that another route to the
// server may still work: refused, no route, no such host, a connect that timed out. A cancel
// or the call's own limits end the call instead.
bool PeerUnreachable(const EIdException& failure) {
  if (dynamic_cast<const EIdConnectTimeout*>(&failure)) {
    return true;
  }
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&failure);
  if (!socketError) {
    return false;
  }
  switch (socketError->SocketErrorCode()) {
  case Id_WSAECONNREFUSED:
  case Id_WSAETIMEDOUT:
  case Id_WSAEHOSTUNREACH:
  case Id_WSAENETUNREACH:
  case Id_WSAENETDOWN:
  case Id_WSAEHOSTDOWN:
  case Id_WSAHOST_NOT_FOUND:
  case Id_WSATRY_AGAIN:
  case Id_WSANO_DATA:
    return true;
  default:
    return false;
  }
}

// failure, its text followed by the list of routes tried; of the same class.
[[noreturn]] void RaiseEveryRouteFailed(const EIdException& failure, const QStringList& tried) {
  const QString text =
      failure.Message() + u' ' + RSHTTPEveryRouteFailed().arg(tried.join(QStringLiteral(", ")));
  if (const auto* socketError = dynamic_cast<const EIdSocketError*>(&failure)) {
    throw EIdSocketError(socketError->SocketErrorCode(), text);
  }
  throw EIdConnectTimeout(text);
}

} // namespace

TIdProxyRoutes TIdCustomHTTP::ChooseRoutes() {
  if (!OnChooseProxies) {
    if (OnChooseProxy) {
      OnChooseProxy(this, currentURI_, proxyParams_);
    }
    return {};
  }
  TIdProxyRoutes routes;
  const auto ask = [&](int abortHandle) {
    routes = OnChooseProxies(this, currentURI_, TIdProxyQueryLimits{CallDeadline(), abortHandle});
  };
  // A query may wait (for a proxy auto-config script, say): Cancel must end that wait too.
  if (TIdIOHandlerSocket* socket = SocketHandler()) {
    socket->Binding()->WaitAbortably([&](const TIdConnectAbort& abort) { ask(abort.Handle()); });
  } else {
    ask(-1);
  }
  if (routes.routes.isEmpty()) {
    routes.routes << TIdProxyRoute{};
  }
  for (const QString& note : std::as_const(routes.notes)) {
    ReportStatus(hsStatusText, {note});
  }
  return routes;
}

void TIdCustomHTTP::OpenAndSend() {
  TIdHTTPRequest& request = Request();
  const TIdProxyRoutes routes = ChooseRoutes();
  // The target as the server itself is asked, also when an earlier try of this request (a
  // kept connection found dead) went through a proxy and named the whole address.
  const QString originTarget = request.RequestTarget() == currentURI_.AddressText()
                                   ? currentURI_.PathAndQuery()
                                   : request.RequestTarget();
  QStringList tried;
  for (qsizetype next = 0;;) {
    if (!routes.routes.isEmpty()) {
      const TIdProxyRoute& route = routes.routes[next];
      TIdProxySettings::ApplyRoute(route, proxyParams_);
      if (!route.source.isEmpty()) {
        ReportStatus(hsStatusText, {RSHTTPRouteChosen().arg(route.Text(), route.source)});
      }
      tried << route.Text();
    }
    ++next;
    const TIdHTTPConnectionType kind = ChooseEndpoint();
    request.SetConnectionKind(kind);
    // The request line names the whole address to a proxy, only the path to the server.
    request.SetRequestTarget(kind == ckProxy ? currentURI_.AddressText() : originTarget);
    try {
      ConnectForRequest(kind);
      break;
    } catch (const EIdException& failure) {
      if (!PeerUnreachable(failure) || tried.isEmpty()) {
        throw;
      }
      if (next == routes.routes.size()) {
        if (tried.size() == 1) {
          throw;
        }
        RaiseEveryRouteFailed(failure, tried);
      }
      ReportStatus(hsStatusText,
                   {RSHTTPRouteFailed().arg(tried.last(), failure.Message().simplified(),
                                            routes.routes[next].Text())});
    }
  }
  // The record keeps the value, so each coding is added once and a caller's own list stays.
  const auto offer = [&request](const QString& coding) {
    if (!request.AcceptEncoding().contains(coding)) {
      request.SetAcceptEncoding(request.AcceptEncoding().isEmpty()
                                    ? coding
                                    : request.AcceptEncoding() + QStringLiteral(", ") + coding);
    }
  };
  if (compressor_) {
    for (const QString& coding : compressor_->Offered()) {
      offer(coding);
    }
  }
  offer(QStringLiteral("identity"));
  protocol_->SendRequestHead(&currentURI_, proxyParams_, CredentialsApply());
  if (QIODevice* body = request.BodySource()) {
    IOHandler()->WriteStream(*body);
  }
}

void TIdCustomHTTP::ConnectForRequest(TIdHTTPConnectionType kind) {
  TIdHTTPRequest& request = Request();
  if (kind == ckDirectTLS || kind == ckProxyTunnel) {
    request.SetConnection({});
  } else if (protocolVersion_ == pv1_0 && request.Connection().isEmpty()) {
    if (kind == ckDirect) {
      request.SetConnection(QStringLiteral("keep-alive"));
    } else {
      request.SetProxyConnection(QStringLiteral("keep-alive"));
    }
  }
  sentOnKeptConnection_ = EnsureConnected(CurrentResponse());
  // A kept tunnel is encrypted already (ChooseEndpoint has dropped one to another target); a
  // connection to the proxy in clear text still has to ask for one.
  if (kind == ckProxyTunnel && !TLSCapable(IOHandler())->Encrypted()) {
    sentOnKeptConnection_ = false;
    OpenTunnel(TunnelTarget(currentURI_));
  }
}

QString TIdCustomHTTP::TunnelTarget(const TIdURI& uri) {
  const QString host = uri.IPVersion() == Id_IPv6 ? u'[' + uri.HostPart() + u']' : uri.HostPart();
  return host + u':' + uri.PortPart();
}

void TIdCustomHTTP::OpenTunnel(const QString& target) {
  tunnel_ = std::make_unique<TIdHTTPProtocol>(exchangeHost_);
  const auto forget = qScopeGuard([&] { tunnel_.reset(); });
  TIdHTTPProtocol& tunnel = *tunnel_;
  TIdHTTPRequest& request = tunnel.Request();
  request.SetUserAgent(Request().UserAgent());
  request.SetHost(Request().Host());
  request.SetContentLength(Request().ContentLength());
  request.SetPragma(QStringLiteral("no-cache"));
  request.SetRequestTarget(target);
  request.SetVerb(QStringLiteral("CONNECT"));
  // Asked of the proxy itself, so it carries the proxy's credentials, as no request through the
  // tunnel does.
  request.SetConnectionKind(ckProxy);
  request.SetProxyConnection(QStringLiteral("keep-alive"));
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  TIdHTTPResponse& response = tunnel.Response();
  response.SetBodyStream(&body);

  // The exchange with the proxy runs on the client's own steps (keep-alive, the proxy's
  // challenge), on records of its own.
  for (;;) {
    EnsureConnected(response);
    tunnel.SendRequestHead(nullptr, proxyParams_, CredentialsApply());
    const QString statusLine = tunnel.ReadStatusLine();
    if (statusLine.isEmpty()) {
      response.SetStatusLine(QStringLiteral("HTTP/1.0 200 OK"));
      response.SetConnection(QStringLiteral("close"));
    } else {
      response.SetStatusLine(statusLine);
      // Its cookies are not stored: a proxy speaks for none of the hosts behind it.
      tunnel.ReadResponseHeaders(headerLineLimit_);
    }
    const int32_t code = response.StatusCode();
    if (code == 200) {
      break;
    }
    body.buffer().clear();
    body.seek(0);
    tunnel.DecideNextStep({});
    // Only a challenge answered with credentials comes back to be sent again; anything else
    // would have the proxy answer the same for ever.
    if (code != 407) {
      body.seek(0);
      throw EIdHTTPProtocolException(
          code, statusLine,
          ReadStreamText(body, kRestOfStream, EncodingFromContentType(response.ContentType())));
    }
  }
  // Bytes behind the proxy's answer came before the server could say anything, so they are
  // the proxy's: read as the server's, they would pass for its response.
  if (!IOHandler()->PendingInputEmpty()) {
    DropConnection();
    throw EIdReplyError(RSHTTPTunnelStrayBytes());
  }
  TLSCapable(IOHandler())->SetPassThrough(false);
}

void TIdCustomHTTP::SendAndReadHead() {
  responseBegun_ = false;
  try {
    OpenAndSend();
    ReadResponse();
  } catch (const EIdException& failure) {
    if (!KeptConnectionDied(failure)) {
      throw;
    }
    // The server's keep-alive ran out, or something between forgot the idle connection, just
    // as the request went out: nobody answers on it, and the request asked for nothing to
    // change, so it goes once more on a connection of its own.
    DropConnection();
    responseBegun_ = false;
    OpenAndSend();
    ReadResponse();
  }
}

bool TIdCustomHTTP::KeptConnectionDied(const EIdException& failure) {
  const QString& verb = Request().Verb();
  if (!sentOnKeptConnection_ || responseBegun_ || (verb != u"GET" && verb != u"HEAD")) {
    return false;
  }
  // Part of a status line came: the server did answer, and its answer is cut.
  if (IOHandler() && !IOHandler()->PendingInputEmpty()) {
    return false;
  }
  // A cancellation ends the call; it is no dead connection.
  if (const TIdIOHandlerSocket* socket = SocketHandler(); socket && socket->Aborted()) {
    return false;
  }
  if (dynamic_cast<const EIdConnClosedGracefully*>(&failure) ||
      dynamic_cast<const EIdClosedSocket*>(&failure)) {
    return true;
  }
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&failure);
  return socketError && (socketError->SocketErrorCode() == Id_WSAECONNRESET ||
                         socketError->SocketErrorCode() == Id_WSAESHUTDOWN);
}

bool TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& last) {
  // KeepConnection looks at the connection (a receive that waits for nothing, which notices the
  // peer's close); nothing is sent or received until the connect below, so its answer stands
  // there and the connection is not looked at twice.
  bool open = last.KeepConnection();
  if (!open) {
    Disconnect();
  }
  CheckForGracefulDisconnect(false);
  // Bytes left over from the last response mean that the two sides are out of step: whatever
  // came would be taken for the start of the next response.
  if (IOHandler() && !IOHandler()->PendingInputEmpty()) {
    DropConnection();
    open = false;
  }
  if (!open) {
    try {
      Connect();
    } catch (const EIdSSLProtocolReplyError&) {
      Disconnect();
      throw;
    }
  }
  return open;
}

void TIdCustomHTTP::ReadResponse() {
  TIdHTTPResponse& response = CurrentResponse();
  // Interim responses (every 1xx but 101, which ends HTTP on the connection) are read and
  // dropped; their cookies count.
  int32_t code = 0;
  do {
    response.SetStatusLine(protocol_->ReadStatusLine());
    responseBegun_ = true;
    protocol_->ReadResponseHeaders(headerLineLimit_);
    StoreResponseCookies();
    code = response.StatusCode();
  } while (code / 100 == 1 && code != 101);
}

void TIdCustomHTTP::StoreResponseCookies() {
  if (!cookieManager_ && allowCookies_) {
    cookieManager_ = new TIdCookieManager(this);
    ownsCookieManager_ = true;
  }
  if (!cookieManager_) {
    return;
  }
  const TIdHeaderList& lines = CurrentResponse().HeaderLines();
  const QString& host = currentURI_.HostPart();
  TIdHeaderList values;
  lines.CollectHeaderValues(u"Set-cookie", &values);
  for (const QString& value : values) {
    cookieManager_->AcceptSetCookie(value, host);
  }
  values.Clear();
  lines.CollectHeaderValues(u"Set-cookie2", &values);
  for (const QString& value : values) {
    cookieManager_->AcceptSetCookie2(value, host);
  }
}

void TIdCustomHTTP::FinishConnection() noexcept {
  try {
    if (!CurrentResponse().KeepConnection()) {
      Disconnect();
    }
  } catch (...) {
    // Closing is best effort here: the call's own outcome is what the caller needs to hear.
  }
}

void TIdCustomHTTP::AbandonConnection() noexcept {
  try {
    DropConnection();
  } catch (...) {
    // The failure that cut the exchange short is the one the caller needs to hear.
  }
}

void TIdCustomHTTP::DropConnection() {
  Disconnect();
  if (TIdIOHandler* io = IOHandler()) {
    io->PendingInput().Clear();
  }
}

// --- Hooks --------------------------------------------------------------------------------------

bool TIdCustomHTTP::ConsultRedirect(QString& target, QString& method, int32_t count) {
  bool handled = handleRedirects_;
  if (OnRedirect) {
    OnRedirect(this, target, count, handled, method);
  }
  return handled;
}

bool TIdCustomHTTP::DoOnAuthorization() {
  ++authAttempts_;
  // Another origin's challenge is not answered with credentials given for this one.
  if (!CredentialsApply()) {
    return false;
  }
  const bool answered = AnswerServerChallenge(this, Request(), CurrentResponse().WWWAuthenticate(),
                                              OnSelectAuthorization, OnAuthorization);
  // What the challenge attached, or a handler supplied, belongs to the origin it answered.
  KeepCredentialScope();
  return answered;
}

TIdHTTPResponse& TIdCustomHTTP::ProxyChallengeResponse() {
  return tunnel_ ? tunnel_->Response() : CurrentResponse();
}

bool TIdCustomHTTP::DoOnProxyAuthorization() {
  ++proxyAuthAttempts_;
  return AnswerProxyChallenge(this, proxyParams_, ProxyChallengeResponse().ProxyAuthenticate(),
                              OnSelectProxyAuthorization, OnProxyAuthorization);
}

// --- The exchange's view ------------------------------------------------------------------------

TIdIOHandler* TIdCustomHTTP::ExchangeHost::IOHandler() {
  return client_.IOHandler();
}

bool TIdCustomHTTP::ExchangeHost::Connected() {
  return client_.Connected();
}

TIdHTTPProtocolVersion TIdCustomHTTP::ExchangeHost::ProtocolVersion() const {
  return client_.ProtocolVersion();
}

const TIdCompressor* TIdCustomHTTP::ExchangeHost::Compressor() const {
  return client_.compressor_;
}

void TIdCustomHTTP::ExchangeHost::DropConnection() {
  client_.DropConnection();
}

QString TIdCustomHTTP::ExchangeHost::CookieLine(const TIdURI& address) {
  if (!client_.cookieManager_) {
    return {};
  }
  // Whether this request goes encrypted, not whether the handler could: a TLS-capable handler
  // switched off for a plain address must not carry Secure cookies in clear text.
  const TIdSSLIOHandlerSocketBase* tls = TLSCapable(client_.IOHandler());
  return client_.cookieManager_->CookieHeaderFor(address, tls && tls->Encrypted());
}

void TIdCustomHTTP::ExchangeHost::ReportStatus(TIdStatus status, const QStringList& arguments) {
  client_.ReportStatus(status, arguments);
}

bool TIdCustomHTTP::ExchangeHost::ProceedAfterHeaders(TIdHeaderList& headers) {
  bool proceed = true;
  if (client_.OnHeadersAvailable) {
    client_.OnHeadersAvailable(&client_, headers, proceed);
  }
  return proceed;
}

TIdHTTPRedirectAnswer TIdCustomHTTP::ExchangeHost::AnswerRedirect(QString& target,
                                                                  QString& method) {
  const int32_t count = ++client_.redirectCounter_;
  if (!client_.ConsultRedirect(target, method, count)) {
    return raRefused;
  }
  return client_.HandleRedirects() && count < client_.RedirectMaximum() ? raFollow : raStopHere;
}

bool TIdCustomHTTP::ExchangeHost::AnswerChallenge(bool proxy) {
  const bool prepared =
      proxy
          ? client_.proxyAuthAttempts_ < client_.maxAuthRetries_ && client_.DoOnProxyAuthorization()
          : client_.authAttempts_ < client_.maxAuthRetries_ && client_.DoOnAuthorization();
  if (!prepared) {
    TIdAuthentication* scheme =
        proxy ? client_.proxyParams_.Authentication() : client_.Request().Authentication();
    if (scheme) {
      scheme->Reset();
    }
    return false;
  }
  // Credentials prepared but not sent again within the call still leave the call refused: the
  // challenge page is no answer to the request. They go with the caller's next request.
  return client_.options_.testFlag(hoInProcessAuth);
}
