#pragma once

// The HTTP/1.1 client. One call such as Get turns into one or more exchanges over a TCP
// connection: the address is merged into the current one, the connection is reused while the
// scheme, host, port and proxy stay and the last response allowed it, redirects are followed,
// cookies are stored and sent back, challenges are answered with credentials, and any status
// the call cannot deal with becomes an EIdHTTPProtocolException.
//
// Every call blocks the calling thread until it ends: the lookup and the connect (up to
// ConnectTimeout, or as long as the system's resolver and connects take), each wait for data (up to
// ReadTimeout, or without limit) and each send. One client serves one call at a time and holds no
// lock.

#include "http/IdAuthChallenge.h"
#include "http/IdCookieManager.h"
#include "http/IdHTTPProtocol.h"
#include "http/IdProxySettings.h"
#include "http/IdURI.h"
#include "net/IdTCPClient.h"

#include <QFlags>
#include <QPointer>
#include <functional>
#include <memory>

// No port can be chosen for an address: "Unknown Protocol".
MARQUELO_DECLARE_EXCEPTION(EIdUnknownProtocol, EIdException)
// An https address without an I/O handler that can speak TLS: "IOHandler value is not valid".
MARQUELO_DECLARE_EXCEPTION(EIdIOHandlerPropInvalid, EIdException)

enum TIdHTTPOption : uint8_t {
  hoInProcessAuth = 0x1,    // a challenge answered with credentials is sent again in the call
  hoKeepOrigProtocol = 0x2, // kept for settings; changes nothing here
  hoForceEncodeParams = 0x4 // kept for settings; changes nothing here
};
Q_DECLARE_FLAGS(TIdHTTPOptions, TIdHTTPOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TIdHTTPOptions)

class TIdCustomHTTP;

// After a response's header block: setting proceed to false (it is true on entry) ends the call
// without reading the body, and the connection is closed.
using TIdHTTPOnHeadersAvailable =
    std::function<void(TIdCustomHTTP* sender, TIdHeaderList& headers, bool& proceed)>;
// Before a redirect is followed: dest (the target) and method may be changed; handled (on entry
// HandleRedirects) says whether the redirect is dealt with at all; numRedirect is the count of
// redirects so far in the call, and a change to it is not kept.
using TIdHTTPOnRedirectEvent = std::function<void(
    TIdCustomHTTP* sender, QString& dest, int32_t& numRedirect, bool& handled, QString& method)>;
// Before every exchange, once its address is resolved and before the client chooses where to
// connect: the handler points proxy at the proxy that address goes through, or empties its
// server for a direct request. What it raises ends the call.
using TIdHTTPOnChooseProxy = std::function<void(TIdCustomHTTP* sender, const TIdURI& address,
                                                TIdProxyConnectionInfo& proxy)>;
// Before every exchange, once its address is resolved: the ways to reach address, in the order
// they are tried (see TIdProxySettings::RoutesFor). A query that has to wait for an answer is
// bounded by limits: the call's deadline, and Cancel (the handler's Abort). Used in place of
// OnChooseProxy when set. What it raises ends the call.
using TIdHTTPOnChooseProxies = std::function<TIdProxyRoutes(
    TIdCustomHTTP* sender, const TIdURI& address, const TIdProxyQueryLimits& limits)>;

class TIdCustomHTTP : public TIdTCPClientCustom {
public:
  // The defaults: MaxAuthRetries 3, HeaderLineLimit 255, AllowCookies true, pv1_1,
  // RedirectMaximum 15, HandleRedirects false, HTTPOptions hoForceEncodeParams, no proxy, no
  // cookie store, no connection. owner (may be null) frees the client with itself.
  explicit TIdCustomHTTP(QObject* owner = nullptr);
  // Frees the records, and the cookie store when the client made it; closes the connection.
  ~TIdCustomHTTP() override;

  // --- Calls --------------------------------------------------------------------------------

  // The body of a GET of address, decoded by the response's character set (UTF-8 when
  // "Content-Type" names it, else byte n as U+00nn). The body is gathered in memory for that.
  // Raises as PerformRequest does.
  QString Get(const QString& address, const TIdHTTPIgnoredCodes& ignored = {});
  // A GET of address with the body written to stream at its position, as it arrives.
  // The caller keeps the stream, which must be open for writing. Raises as PerformRequest.
  void GetToStream(const QString& address, QIODevice& stream,
                   const TIdHTTPIgnoredCodes& ignored = {});

  // Sends method to address and follows the responses until one is final: bodySource (may be
  // null; not owned) is sent after each head; the final body goes into bodyStream (may be null;
  // not owned) at its position, which is cut back there at every redirect followed. A status in
  // ignored ends the call without an error and without a body. On the way out, normally or
  // not, the connection is closed unless the last response allows keeping it; a call that
  // fails between sending a request and the end of its response (other than by an error
  // status) always closes it and drops what it had queued. A GET or HEAD whose kept connection
  // turns out closed or reset before a byte of its response came goes out once more on a new
  // connection.
  // Raises EIdHTTPProtocolException (error statuses, a redirect nobody handles),
  // EIdUnknownProtocol, EIdIOHandlerPropInvalid (https), EIdException "Request method
  // requires HTTP version 1.1", ERangeError (a port above 65535, a start position beyond 32
  // bits), EIdInvalidAlgorithm (a Digest challenge), and the transport's failures: socket
  // errors, EIdConnectTimeout, EIdReadTimeout, EIdConnClosedGracefully before a response's
  // first header line.
  virtual void PerformRequest(const QString& method, const QString& address, QIODevice* bodySource,
                              QIODevice* bodyStream, const TIdHTTPIgnoredCodes& ignored);

  // --- State --------------------------------------------------------------------------------

  // The request record; its fields (headers, credentials) stay from call to call.
  TIdHTTPRequest& Request() { return protocol_->Request(); }
  // Copies the fields of request into the client's own record.
  void SetRequest(const TIdHTTPRequest& request) { protocol_->Request().Assign(request); }
  // The record of the last response read; it stays readable after the call, also after an
  // exception.
  TIdHTTPResponse& CurrentResponse() { return protocol_->Response(); }
  // The status line of the last response.
  const QString& ResponseText() { return protocol_->Response().StatusLine(); }
  // The address of the current request; a relative address is applied to it.
  const TIdURI& CurrentURI() const { return currentURI_; }
  // Whether the request's credentials (Username, Password and the Authentication object) may
  // go to CurrentURI: only to the origin (scheme, host, port) of the call that gave them, in
  // the record or in the address's user part. Elsewhere no "Authorization" line is sent and
  // no challenge is answered.
  bool CredentialsApply() const;
  TIdProxyConnectionInfo& ProxyParams() { return proxyParams_; }

  // Counters of the current (or last) call.
  int32_t RedirectCounter() const { return redirectCounter_; }
  int32_t AuthAttempts() const { return authAttempts_; }
  int32_t ProxyAuthAttempts() const { return proxyAuthAttempts_; }

  // --- Settings -----------------------------------------------------------------------------

  // Answers to 401 (and to 407, counted apart) within one call.
  int32_t MaxAuthRetries() const { return maxAuthRetries_; }
  void SetMaxAuthRetries(int32_t retries) { maxAuthRetries_ = retries; }
  // Header lines kept per response; 0 or less keeps all.
  int32_t HeaderLineLimit() const { return headerLineLimit_; }
  void SetHeaderLineLimit(int32_t limit) { headerLineLimit_ = limit; }
  // Whether the client makes a cookie store of its own on the first response when none is set.
  bool AllowCookies() const { return allowCookies_; }
  void SetAllowCookies(bool allow) { allowCookies_ = allow; }
  // The version written in the request line; it also selects the keep-alive rule.
  TIdHTTPProtocolVersion ProtocolVersion() const { return protocolVersion_; }
  void SetProtocolVersion(TIdHTTPProtocolVersion version) { protocolVersion_ = version; }
  // Redirect responses of one call up to which targets are followed: the 1st to the
  // (RedirectMaximum-1)th are, the next one ends the call with its target in Location.
  int32_t RedirectMaximum() const { return redirectMaximum_; }
  // Limit in ms for one whole call, every redirect, retry, connect and wait in it; 0 (the
  // default) or less: none. A call that reaches it raises EIdCallTimeout "Call timed out.",
  // however steadily the peer sends.
  int32_t CallTimeout() const { return callTimeout_; }
  void SetCallTimeout(int32_t timeout) { callTimeout_ = timeout; }
  void SetRedirectMaximum(int32_t maximum) { redirectMaximum_ = maximum; }
  // Whether redirects are followed; without it (and without an OnRedirect handler that takes
  // the redirect), a redirect is an error.
  bool HandleRedirects() const { return handleRedirects_; }
  void SetHandleRedirects(bool handle) { handleRedirects_ = handle; }
  TIdHTTPOptions HTTPOptions() const { return options_; }
  void SetHTTPOptions(TIdHTTPOptions options) { options_ = options; }

  // The cookie store, or null. A store the client made itself is owned (and freed) by it;
  // a store set here is not owned and is forgotten when it is destroyed.
  TIdCookieManager* CookieManager() const { return cookieManager_.data(); }
  // Links manager (may be null), freeing a store the client made itself first.
  void SetCookieManager(TIdCookieManager* manager);
  // What undoes the content codings of response bodies, or null (the default): then the
  // request offers no coding but "identity" and bodies are kept as they came. With one, each
  // request's "Accept-Encoding" also lists the codings it undoes. Not owned; it must outlive
  // the client (TIdCompressor::Standard() lives as long as the program).
  const TIdCompressor* Compressor() const { return compressor_; }
  void SetCompressor(const TIdCompressor* compressor) { compressor_ = compressor; }

  // --- Events (sender first; each tested before it is called) ------------------------------

  TIdHTTPOnHeadersAvailable OnHeadersAvailable;
  TIdHTTPOnRedirectEvent OnRedirect;
  TIdOnSelectAuthorization OnSelectAuthorization;
  TIdOnSelectAuthorization OnSelectProxyAuthorization;
  TIdOnAuthorization OnAuthorization;
  TIdOnAuthorization OnProxyAuthorization;
  TIdHTTPOnChooseProxy OnChooseProxy;
  TIdHTTPOnChooseProxies OnChooseProxies;

protected:
  // Whether a redirect to target is taken: HandleRedirects, as OnRedirect leaves it (which may
  // also change target and method).
  virtual bool ConsultRedirect(QString& target, QString& method, int32_t count);
  // The answer to the challenges of a 401: counts an attempt and prepares the request's
  // scheme object (see AnswerServerChallenge). True when the request should be sent again.
  virtual bool DoOnAuthorization();
  // The same for a 407 with the proxy's scheme object.
  virtual bool DoOnProxyAuthorization();

private:
  // The view of the client its exchanges get. Nested, so that it reaches the client's own steps
  // and settings while an exchange sees only the interface.
  class ExchangeHost final : public TIdHTTPExchangeHost {
  public:
    explicit ExchangeHost(TIdCustomHTTP& client) : client_(client) {}
    TIdIOHandler* IOHandler() override;
    bool Connected() override;
    TIdHTTPProtocolVersion ProtocolVersion() const override;
    void DropConnection() override;
    const TIdCompressor* Compressor() const override;
    QString CookieLine(const TIdURI& address) override;
    void ReportStatus(TIdStatus status, const QStringList& arguments) override;
    bool ProceedAfterHeaders(TIdHeaderList& headers) override;
    // Counts the redirect, asks ConsultRedirect, and follows it while HandleRedirects holds and
    // the count stays below RedirectMaximum.
    TIdHTTPRedirectAnswer AnswerRedirect(QString& target, QString& method) override;
    // Within MaxAuthRetries, DoOnAuthorization (DoOnProxyAuthorization); sent again in the
    // call only with hoInProcessAuth.
    bool AnswerChallenge(bool proxy) override;

  private:
    TIdCustomHTTP& client_;
  };

  // Merges Request().RequestTarget into CurrentURI and fills the request from it; the address's
  // user part becomes the credentials only when fromCaller (a redirect's never does).
  void ResolveTarget(bool fromCaller);
  // At the start of a call, once CurrentURI holds its address: credentials given for this call
  // (givenInAddress, or set in the record since the last call) belong to its origin from now
  // on; credentials kept from before stay with theirs, and having none binds to nothing.
  void ScopeCredentials(bool givenInAddress);
  // Notes the record's credentials and scheme object as those of the scope's origin.
  void KeepCredentialScope();
  // Points the TCP client at the server or the proxy, dropping a connection to another peer or
  // one whose encryption (or tunnel target) differs from what this request needs, and switches
  // a TLS-capable handler's TLS on for ckDirectTLS, off for the other kinds. Raises
  // EIdIOHandlerPropInvalid for an https address without a TLS-capable handler.
  TIdHTTPConnectionType ChooseEndpoint();
  // Connects (or keeps the connection) and sends the request head and body. With
  // OnChooseProxies, the routes are tried in their order: a route whose proxy refuses the
  // connection or cannot be reached is passed over for the next one (reported as a status), and
  // the failure of the last one names every route tried.
  void OpenAndSend();
  // The routes OnChooseProxies gives for CurrentURI, asked under the call's deadline and
  // Cancel, their notes reported as statuses; without it, OnChooseProxy has pointed the proxy
  // settings at the one way there is, and the list is empty.
  TIdProxyRoutes ChooseRoutes();
  // Connects by the endpoint ChooseEndpoint picked, and opens the tunnel when the request needs
  // one; sets sentOnKeptConnection_.
  void ConnectForRequest(TIdHTTPConnectionType kind);
  // OpenAndSend and ReadResponse. A GET or HEAD sent on a kept connection that turns out dead
  // before a byte of its response came (closed, reset: KeptConnectionDied) goes out once more
  // on a new connection; every other failure raises as it came.
  void SendAndReadHead();
  // Whether failure, raised by the exchange SendAndReadHead began, is a kept connection's death
  // that a new connection may make good.
  bool KeptConnectionDied(const EIdException& failure);
  // "host:port" of uri as a CONNECT names it, an IPv6 host in brackets.
  static QString TunnelTarget(const TIdURI& uri);
  // Asks the proxy for a tunnel to target (answering its challenge with the proxy
  // credentials), then starts TLS inside it. Raises EIdHTTPProtocolException for any answer
  // but 200 that is not a challenge answered, EIdReplyError when the proxy sends more than its
  // answer, and what the exchange and the handshake raise. The temporary body stream and the
  // tunnel's records are gone on every path.
  void OpenTunnel(const QString& target);
  // Connects unless the connection is open and last, the response last read on it, allows
  // keeping it; whether the kept connection is used.
  bool EnsureConnected(TIdHTTPResponse& last);
  // The response whose proxy challenge is being answered: the tunnel's while one is asked for.
  TIdHTTPResponse& ProxyChallengeResponse();
  void StoreResponseCookies();
  void ReadResponse();
  // Closes the connection unless the last response allows keeping it. Never raises.
  void FinishConnection() noexcept;
  // Closes the connection and forgets the bytes it still had queued: once a body is left unread
  // or its framing is lost, they belong to no response.
  void DropConnection();
  // DropConnection for a call that is already failing. Never raises.
  void AbandonConnection() noexcept;

  // Where the record's credentials may go, and what they were when that was decided.
  struct CredentialScope {
    QString origin;
    QString username;
    QString password;
    const TIdAuthentication* scheme = nullptr;
  };

  ExchangeHost exchangeHost_{*this};
  std::unique_ptr<TIdHTTPProtocol> protocol_;
  // The CONNECT exchange with the proxy while a tunnel is being asked for; its records are its
  // own, so the request's stay as they are whichever way the tunnel ends.
  std::unique_ptr<TIdHTTPProtocol> tunnel_;
  CredentialScope scope_;
  TIdURI currentURI_;
  TIdProxyConnectionInfo proxyParams_;
  // host:port of the target the kept connection tunnels to through the proxy; empty for none.
  QString tunnelTarget_;
  QPointer<TIdCookieManager> cookieManager_;
  bool ownsCookieManager_ = false;
  // The request went out on a connection an earlier exchange had left open.
  bool sentOnKeptConnection_ = false;
  // A status line of the response has been read.
  bool responseBegun_ = false;
  const TIdCompressor* compressor_ = nullptr;

  int32_t authAttempts_ = 0;
  int32_t proxyAuthAttempts_ = 0;
  int32_t redirectCounter_ = 0;
  int32_t maxAuthRetries_ = 3;
  int32_t headerLineLimit_ = 255;
  bool allowCookies_ = true;
  TIdHTTPProtocolVersion protocolVersion_ = pv1_1;
  int32_t redirectMaximum_ = 15;
  int32_t callTimeout_ = 0;
  bool handleRedirects_ = false;
  TIdHTTPOptions options_ = hoForceEncodeParams;
};

// The client as programs use it.
class TIdHTTP : public TIdCustomHTTP {
public:
  using TIdCustomHTTP::TIdCustomHTTP;
};
