#pragma once

// One request/response exchange as the client drives it: the request and response records,
// the request head on the wire, the response's header block, its body in whichever framing the
// server chose, and the decision what to do once a response has been read (follow a redirect,
// finish, raise the status as an error, or send again with credentials).

#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHTTPMessageSyntax.h"
#include "net/IdBodySink.h"
#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdStack.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QIODevice;
class TIdIOHandler;
class TIdCompressor;
class TIdProxyConnectionInfo;
class TIdURI;

// A reply carrying a numeric code. The message is the reply's line as the peer sent it.
class EIdReplyRFCError : public EIdReplyError {
public:
  EIdReplyRFCError(int32_t replyCode, QString message)
      : EIdReplyError(std::move(message)), replyCode_(replyCode) {}
  // The status code of the reply; -1 when its status line held no number.
  int32_t ReplyCode() const noexcept { return replyCode_; }
  QString ClassName() const override { return QStringLiteral("EIdReplyRFCError"); }
  // The peer's line, escaped whole.
  QString ShownText() const override { return EscapePeerText(Message()); }

private:
  int32_t replyCode_;
};

// An HTTP status the call could not deal with. The message is the response's status line as it
// was read, ReplyCode its code and ReplyBody the error page decoded by its character set.
class EIdHTTPProtocolException : public EIdReplyRFCError {
public:
  EIdHTTPProtocolException(int32_t replyCode, QString statusLine, QString replyBody)
      : EIdReplyRFCError(replyCode, std::move(statusLine)), replyBody_(std::move(replyBody)) {}
  const QString& ReplyBody() const noexcept { return replyBody_; }
  QString ClassName() const override { return QStringLiteral("EIdHTTPProtocolException"); }

private:
  QString replyBody_;
};

enum TIdHTTPProtocolVersion : uint8_t { pv1_0, pv1_1 };

// How the request reaches the server: straight, straight with TLS, through a proxy, or through
// a tunnel a proxy opens.
enum TIdHTTPConnectionType : uint8_t { ckDirect, ckDirectTLS, ckProxy, ckProxyTunnel };

// What the client does once a response has been dealt with.
enum TIdHTTPNextStep : uint8_t {
  nsFollow,   // the redirect target (and perhaps a new method) is in the request; send again
  nsFinished, // the response is complete
  nsRetryAuth // credentials are prepared; send the request again
};

// What the client answers when a response names a redirect target.
enum TIdHTTPRedirectAnswer : uint8_t {
  raRefused, // nobody takes the redirect: the response is an error
  raFollow,  // send the request again to the (perhaps changed) target with the method
  raStopHere // taken but not followed: the call ends with the target in Location
};

// What an exchange needs of the client that drives it, and nothing more: the connection's
// state, the client's settings and its answers to what a response asks. The client keeps the
// counters and the policy; the exchange keeps the wire.
class TIdHTTPExchangeHost {
public:
  // The handler the exchange reads and writes through; the exchange uses it only while the
  // client has one.
  virtual TIdIOHandler* IOHandler() = 0;
  // Whether the connection is open; a close by the peer is looked for first, without waiting.
  // Raises nothing of its own; a failure of the socket counts as the connection's end.
  virtual bool Connected() = 0;
  // The version the client writes in its request lines; it also selects the keep-alive rule.
  virtual TIdHTTPProtocolVersion ProtocolVersion() const = 0;
  // Closes the connection and forgets the bytes it still had queued.
  virtual void DropConnection() = 0;
  // What undoes the content codings of a body, or null: bodies are then kept as they came.
  virtual const TIdCompressor* Compressor() const = 0;
  // The value of the "Cookie" line for a request to address; empty for none.
  virtual QString CookieLine(const TIdURI& address) = 0;
  // Reports a status to whoever watches the client.
  virtual void ReportStatus(TIdStatus status, const QStringList& arguments) = 0;
  // Hands over the header block of a response once it is read; false ends the call without
  // reading the body. What a handler there raises passes out.
  virtual bool ProceedAfterHeaders(TIdHeaderList& headers) = 0;
  // A response names target as the next address for a request with method; both may be
  // changed. The client counts the redirect. What a handler there raises passes out.
  virtual TIdHTTPRedirectAnswer AnswerRedirect(QString& target, QString& method) = 0;
  // A 401 (or, with proxy, a 407) asks for credentials: true when they are prepared and the
  // request is to be sent again within the call. The client counts the attempt and, when it
  // prepares none, resets the scheme object that answered. Raises what the scheme raises
  // (EIdInvalidAlgorithm).
  virtual bool AnswerChallenge(bool proxy) = 0;

protected:
  ~TIdHTTPExchangeHost() = default;
};

// A request record with what one call adds to the header fields.
class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
  // The address the caller gave; once resolved, the target written in the request line (before
  // its request-line encoding).
  const QString& RequestTarget() const { return requestTarget_; }
  void SetRequestTarget(const QString& target) { requestTarget_ = target; }
  // The method, "GET" for Get.
  const QString& Verb() const { return verb_; }
  void SetVerb(const QString& verb) { verb_ = verb; }
  // Sent whole after the head when set; not owned, must outlive the call.
  QIODevice* BodySource() const { return bodySource_; }
  void SetBodySource(QIODevice* source) { bodySource_ = source; }
  TIdHTTPConnectionType ConnectionKind() const { return connectionKind_; }
  void SetConnectionKind(TIdHTTPConnectionType kind) { connectionKind_ = kind; }

private:
  QString requestTarget_;
  QString verb_;
  QIODevice* bodySource_ = nullptr;
  TIdHTTPConnectionType connectionKind_ = ckDirect;
};

// A response record: the status line, the verdicts drawn from it, and where its body goes.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
  // host answers KeepConnection's questions about the connection; it must outlive the record.
  explicit TIdHTTPResponse(TIdHTTPExchangeHost& host) : host_(host) {}

  // The first line of the response as read.
  const QString& StatusLine() const { return statusLine_; }
  void SetStatusLine(const QString& line) { statusLine_ = line; }
  // StatusCodeOf(StatusLine()), evaluated on every call.
  int32_t StatusCode() const { return StatusCodeOf(statusLine_); }
  // Whether the connection may serve another request, evaluated on every call: the host must
  // be connected (a close by the peer is looked for first, without waiting), and the header
  // must allow it by the host's ProtocolVersion: for pv1_0 "Connection" or
  // "Proxy-Connection" is exactly "keep-alive", for pv1_1 neither is exactly "close" (trimmed,
  // any case). The whole value is compared on purpose: "close, TE" does not count as close,
  // so such a connection is kept. That costs nothing when the server does close it, since a
  // closed connection is seen as such before it is reused and the next call opens a new one;
  // reading a token list instead would change which connections the callers' peers see reused.
  // Also records ReplyVersion from the status line. Raises nothing of its own; a failure of
  // the socket while looking for the close counts as the connection's end.
  bool KeepConnection();
  // The version in the status line ("HTTP/1.0" or "HTTP/1.1"), as last seen by KeepConnection;
  // recorded only.
  TIdHTTPProtocolVersion ReplyVersion() const { return replyVersion_; }
  // Whether the body is framed in chunks, as the whole header block (beyond the lines kept
  // too) says; set when the header block is read.
  bool Chunked() const { return chunked_; }
  void SetChunked(bool chunked) { chunked_ = chunked; }
  // Where the body goes; not owned; null reads no body at all.
  QIODevice* BodyStream() const { return bodyStream_; }
  void SetBodyStream(QIODevice* stream) { bodyStream_ = stream; }

private:
  TIdHTTPExchangeHost& host_;
  QString statusLine_;
  QIODevice* bodyStream_ = nullptr;
  bool chunked_ = false;
  TIdHTTPProtocolVersion replyVersion_ = pv1_1;
};

// The records of the exchange and the steps on the wire. Reads and writes go through the
// host's I/O handler and block as its reads and writes do (up to the client's read time limit
// per wait, or without limit); their failures (socket errors, read time-outs, a line longer than
// the handler's limit, the peer's close where it is not a normal end) pass out unchanged.
class TIdHTTPProtocol {
public:
  // host must outlive the protocol object; the records live as long as it.
  explicit TIdHTTPProtocol(TIdHTTPExchangeHost& host);
  Q_DISABLE_COPY(TIdHTTPProtocol)

  TIdHTTPRequest& Request() { return request_; }
  TIdHTTPResponse& Response() { return response_; }

  // Composes the request's lines (without "Authorization" unless withCredentials; proxy's
  // authorization after them when the request goes to a proxy; then "Cookie" for address when
  // one is given and the host has a line for it) and sends the request line and the head as
  // one piece. proxy's scheme object is told the request, as the request's own is. Nothing is
  // sent when composing or writing fails. Raises EIdHTTPHeaderLineBreak for a header line
  // holding CR or LF (a host or port taken from a redirect target, a value set by the caller).
  void SendRequestHead(const TIdURI* address, TIdProxyConnectionInfo& proxy, bool withCredentials);

  // The status line of the next response. Raises EIdConnClosedGracefully when the peer has
  // closed before it, EIdReadTimeout when it does not come within the read time limit.
  QString ReadStatusLine();

  // Reads the header block after the status line into the response's HeaderLines and parses
  // it. At most limit lines are kept (limit 0 or less: all); the rest of the block is read up
  // to its empty line and dropped, except that the framing ("Transfer-Encoding",
  // "Content-Length", "Connection") is taken from the whole block. A close by the peer before
  // the empty line passes out as EIdConnClosedGracefully; conflicting lengths raise
  // EIdHTTPFramingError.
  void ReadResponseHeaders(int32_t limit);

  // Decides the next step for the response whose status line and headers have been read, and
  // reads or discards its body. Raises EIdHTTPProtocolException for a status it cannot deal
  // with unless the code is in ignored (a 401 or 407 too when the host's answer is not to send
  // again within the call); raises what the host's answers raise (EIdInvalidAlgorithm).
  TIdHTTPNextStep DecideNextStep(const TIdHTTPIgnoredCodes& ignored);

  // Reads the error page and raises EIdHTTPProtocolException with code, the status line and
  // the page as text; returns, with the page read and dropped, when code is in ignored. wait as
  // for ReadBody. The caller's body stream receives nothing either way.
  void RaiseStatusError(int32_t code, const TIdHTTPIgnoredCodes& ignored, int32_t wait);

  // Reads the body as the headers frame it into the response's BodyStream (nothing without
  // one, nothing for a response that has none by ResponseHasNoBody): chunked when the
  // response is Chunked, else "Content-Length" bytes, else everything until the peer closes.
  // A wait above 0 (kUnexpectedBodyWait, kRedirectBodyWait) means content is not expected: a
  // body by length or until the close is read only when data comes within wait ms, and one
  // that does not come is left unread with the connection dropped; kBodyExpected (or any wait
  // of 0 or less) reads it as framed. Raises EIdHTTPBodyCutShort when the peer closes before
  // "Content-Length" bytes or before the last chunk, EIdHTTPFramingError for a chunk size line
  // that is not a number; what came before stays in the stream either way. A body in content
  // codings the host's Compressor undoes reaches the stream decoded, as it arrives; it raises
  // EIdHTTPContentDecodingError when it is corrupt or ends before its end mark, with what was
  // decoded before in the stream and the connection no longer in step.
  void ReadBody(int32_t wait);

  // ReadBody into a sink that keeps nothing, without decoding (nobody reads the bytes, and a
  // coding's fault in a body that is dropped is no reason to fail the call); the response's
  // BodyStream is left alone.
  void DiscardBody(int32_t wait);

private:
  // Hands on what it is given and counts it: a cut body's message says how much came.
  class CountingSink final : public TIdBodySink {
  public:
    explicit CountingSink(TIdBodySink& next) : next_(next) {}
    void Write(QByteArrayView bytes) override {
      next_.Write(bytes);
      count_ += bytes.size();
    }
    void Finish() override { next_.Finish(); }
    int64_t Count() const { return count_; }

  private:
    TIdBodySink& next_;
    int64_t count_ = 0;
  };

  // The body as framed into sink, which is finished once the framing says the body is whole.
  // Returns the bytes framed, or -1 when the body did not come within wait and was left.
  int64_t ReadBodyInto(TIdBodySink& sink, int32_t wait);
  // The decoders for the response's codings in front of next, or null when there is nothing
  // the host's compressor can undo.
  std::unique_ptr<TIdBodySink> DecoderFor(TIdBodySink& next) const;
  // A body by length or until the close; false when it did not come within wait and was left.
  bool FrameUnchunkedBody(CountingSink& sink, int32_t wait);
  void ReadChunkedBody(CountingSink& sink);
  // The chunks up to the last one into the sink; false when a size line holds no size.
  bool ReadChunks(TIdIOHandler& io, TIdBodySink& sink);
  // Drops whatever the server sends after the last chunk, up to the empty line.
  void ReadTrailer();
  // The redirect branch of DecideNextStep.
  TIdHTTPNextStep DecideRedirect(int32_t code, const TIdHTTPIgnoredCodes& ignored);

  TIdHTTPExchangeHost& host_;
  TIdHTTPRequest request_;
  TIdHTTPResponse response_;
};
