#include "http/IdHTTPProtocol.h"

#include "http/IdAuthChallenge.h"
#include "http/IdContentDecoding.h"
#include "http/IdHTTPMessageSyntax.h"
#include "http/IdResourceStringsProtocols.h"
#include "http/IdTextDecoding.h"
#include "net/IdBodySink.h"
#include "net/IdGlobal.h"
#include "net/IdIOHandler.h"
#include "net/IdResourceStrings.h"
#include "net/IdStreamWriter.h"
#include "net/IdTimeouts.h"

#include <QBuffer>
#include <algorithm>

namespace {

// The handler's MaxLineLength bounds every line of a response.
constexpr int32_t kHandlerLineLimit = -1;
// The count of ReadStream for a body that the peer's close, not a length, ends.
constexpr int64_t kUntilClose = -1;
// What ContentLength holds when "Content-Length" gives no number: no length known.
constexpr int64_t kNoLength = -1;
// The request head goes out as one piece when it is complete, however long it is.
constexpr int32_t kFlushOnRequest = -1;

// A line of the response, read as UTF-8 so that a redirect target or a cookie value in UTF-8
// arrives whole (as ASCII every such byte would be "?"). The handler reports a line that ran
// out of time as an empty one, which here would read as the end of a header block; it is a
// time-out.
QString ReadResponseLine(TIdIOHandler& io) {
  QString line = io.ReadLine({}, kTimeoutDefault, kHandlerLineLimit, ekUTF8);
  if (io.LastLineTimedOut()) {
    throw EIdReadTimeout(RSReadTimeout());
  }
  return line;
}

// The next line of the response handed to `use` as bytes, then taken off the queue: the lines
// of a chunked body need no text. A time-out raises, as for ReadResponseLine.
template <typename Use> void TakeResponseLine(TIdIOHandler& io, Use&& use) {
  const TIdQueuedLine line = io.PeekLine();
  if (line.queued == 0) {
    throw EIdReadTimeout(RSReadTimeout());
  }
  use(line.bytes);
  io.PendingInput().Discard(line.queued);
}

// Whether a body that is not expected has begun to arrive within wait ms; with no wait
// (kBodyExpected) the body is expected and read as framed.
bool BodyArrives(TIdIOHandler& io, int32_t wait) {
  if (wait <= 0) {
    return true;
  }
  if (io.PendingInputEmpty()) {
    io.CheckForData(wait);
  }
  return !io.PendingInputEmpty();
}

QStringList ValuesOf(QStringView name, const TIdHeaderList& kept, const TIdHeaderList& beyond) {
  TIdHeaderList values;
  kept.CollectHeaderValues(name, &values);
  beyond.CollectHeaderValues(name, &values);
  return QStringList(values.begin(), values.end());
}

void RemoveLines(TIdHeaderList& lines, QStringView name) {
  for (qsizetype at = lines.FindHeader(name); at >= 0; at = lines.FindHeader(name)) {
    lines.Delete(at);
  }
}

// Puts another stream in the response's place for one scope.
class BodyStreamSwap {
public:
  BodyStreamSwap(TIdHTTPResponse& response, QIODevice& replacement)
      : response_(response), previous_(response.BodyStream()) {
    response.SetBodyStream(&replacement);
  }
  ~BodyStreamSwap() { response_.SetBodyStream(previous_); }
  Q_DISABLE_COPY(BodyStreamSwap)

private:
  TIdHTTPResponse& response_;
  QIODevice* previous_;
};

} // namespace

// --- Response -----------------------------------------------------------------------------------

bool TIdHTTPResponse::KeepConnection() {
  const QString version = statusLine_.mid(5, 3);
  if (TextIsSame(version, u"1.0")) {
    replyVersion_ = pv1_0;
  } else if (TextIsSame(version, u"1.1")) {
    replyVersion_ = pv1_1;
  }
  if (!host_.Connected()) {
    return false;
  }
  const auto says = [this](QStringView token) {
    return TextIsSame(Trim(Connection()), token) || TextIsSame(Trim(ProxyConnection()), token);
  };
  return host_.ProtocolVersion() == pv1_0 ? says(u"keep-alive") : !says(u"close");
}

// --- Protocol -----------------------------------------------------------------------------------

TIdHTTPProtocol::TIdHTTPProtocol(TIdHTTPExchangeHost& host) : host_(host), response_(host) {}

void TIdHTTPProtocol::SendRequestHead(const TIdURI* address, TIdProxyConnectionInfo& proxy,
                                      bool withCredentials) {
  const QString target = EncodeRequestTarget(request_.RequestTarget());
  SetSchemeRequest(request_.Authentication(), request_.Verb(), target);
  SetSchemeRequest(proxy.Authentication(), request_.Verb(), target);
  request_.ComposeHeaderLines();
  if (!withCredentials) {
    RemoveLines(request_.HeaderLines(), u"Authorization");
  }
  // A proxy's credentials are for the proxy alone; a request that goes straight to the server
  // carries none.
  if (request_.ConnectionKind() == ckProxy) {
    proxy.ComposeHeaderLines(request_.HeaderLines());
  }
  // Written last, after every line the record composes.
  if (address) {
    if (const QString cookies = host_.CookieLine(*address); !cookies.isEmpty()) {
      request_.HeaderLines().WriteHeader(QStringLiteral("Cookie"), cookies);
    }
  }

  QString head = request_.Verb() + u' ' + target;
  head += host_.ProtocolVersion() == pv1_0 ? u" HTTP/1.0\r\n" : u" HTTP/1.1\r\n";
  for (const QString& line : request_.HeaderLines()) {
    CheckRequestHeaderLine(line);
    if (!line.isEmpty()) {
      head += line;
      head += u"\r\n";
    }
  }
  head += u"\r\n";
  TIdIOHandler& io = *host_.IOHandler();
  io.BeginWriteBuffering(kFlushOnRequest);
  try {
    // Header values go out in the encoding they are read in; the target is ASCII by now.
    io.Write(head, ekUTF8);
    io.EndWriteBuffering();
  } catch (...) {
    io.CancelWriteBuffering();
    throw;
  }
}

QString TIdHTTPProtocol::ReadStatusLine() {
  return ReadResponseLine(*host_.IOHandler());
}

void TIdHTTPProtocol::ReadResponseHeaders(int32_t limit) {
  TIdIOHandler& io = *host_.IOHandler();
  TIdHeaderList& lines = response_.HeaderLines();
  lines.Clear();
  // Lines past the limit are still read: left in the input they would be taken for the body.
  // Those that frame the body are kept apart, as the body ends where they say.
  TIdHeaderList beyond;
  for (QString line = ReadResponseLine(io); !line.isEmpty(); line = ReadResponseLine(io)) {
    if (limit <= 0 || lines.Count() < limit) {
      lines.Add(std::move(line));
    } else if (IsFramingLine(line)) {
      beyond.Add(std::move(line));
    }
  }
  response_.ParseHeaderLines();
  response_.SetChunked(EndsInChunked(ValuesOf(u"Transfer-Encoding", lines, beyond).join(u',')));
  if (const auto length = SoleContentLength(ValuesOf(u"Content-Length", lines, beyond))) {
    response_.SetContentLength(TextToInt64Def(*length, kNoLength, IntegerSyntax::Decimal));
  }
  if (response_.Connection().isEmpty()) {
    response_.SetConnection(beyond.ReadHeader(u"Connection"));
  }
}

TIdHTTPNextStep TIdHTTPProtocol::DecideNextStep(const TIdHTTPIgnoredCodes& ignored) {
  if (!host_.ProceedAfterHeaders(response_.HeaderLines())) {
    // The body stays unread, so the connection can serve nothing more.
    host_.DropConnection();
    return nsFinished;
  }

  const int32_t code = response_.StatusCode();
  const int32_t kind = code / 100;
  if ((kind == 3 && code != 304) || !response_.Location().isEmpty()) {
    return DecideRedirect(code, ignored);
  }

  bool needAuth = false;
  if (kind != 2) {
    if (code != 401 && code != 407) {
      RaiseStatusError(code, ignored,
                       (kind == 1 || code == 304) ? kUnexpectedBodyWait : kBodyExpected);
      return nsFinished;
    }
    // Unless the host sends the request again within the call, the challenge is its answer.
    if (!host_.AnswerChallenge(code == 407)) {
      RaiseStatusError(code, ignored, kBodyExpected);
      return nsFinished;
    }
    needAuth = true;
  }

  if (needAuth) {
    DiscardBody(kBodyExpected);
    return nsRetryAuth;
  }
  if (request_.Verb() == u"HEAD" || code == 204) {
    DiscardBody(kUnexpectedBodyWait);
  } else {
    ReadBody(kBodyExpected);
  }
  return nsFinished;
}

TIdHTTPNextStep TIdHTTPProtocol::DecideRedirect(int32_t code, const TIdHTTPIgnoredCodes& ignored) {
  QString target = response_.Location();
  QString method = request_.Verb();
  const TIdHTTPRedirectAnswer answer = host_.AnswerRedirect(target, method);
  if (answer == raRefused) {
    RaiseStatusError(code, ignored, kBodyExpected);
    return nsFinished;
  }
  TIdHTTPNextStep step = nsFinished;
  if (answer == raFollow) {
    request_.SetRequestTarget(target);
    request_.SetVerb(method);
    step = nsFollow;
  } else {
    response_.SetLocation(target);
  }
  if (host_.Connected()) {
    DiscardBody(kRedirectBodyWait);
  }
  return step;
}

void TIdHTTPProtocol::RaiseStatusError(int32_t code, const TIdHTTPIgnoredCodes& ignored,
                                       int32_t wait) {
  if (IsIgnoredCode(code, ignored)) {
    DiscardBody(wait);
    return;
  }
  QBuffer page;
  page.open(QIODevice::ReadWrite);
  {
    BodyStreamSwap swap(response_, page);
    try {
      ReadBody(wait);
    } catch (const EIdHTTPBodyCutShort&) {
      // The status is the answer; a page cut short, or one that cannot be decoded to its end, is
      // still what the server said about it.
      host_.DropConnection();
    } catch (const EIdHTTPContentDecodingError&) {
      host_.DropConnection();
    }
  }
  page.seek(0);
  QString text =
      ReadStreamText(page, kRestOfStream, EncodingFromContentType(response_.ContentType()));
  throw EIdHTTPProtocolException(code, response_.StatusLine(), std::move(text));
}

void TIdHTTPProtocol::ReadBody(int32_t wait) {
  QIODevice* stream = response_.BodyStream();
  if (!stream || ResponseHasNoBody(request_.Verb(), response_.StatusCode())) {
    return;
  }
  TIdStreamWriter writer(*stream);
  try {
    CountingSink delivered(writer);
    const std::unique_ptr<TIdBodySink> decoder = DecoderFor(delivered);
    const int64_t received = ReadBodyInto(decoder ? *decoder : writer, wait);
    if (decoder && received >= 0) {
      host_.ReportStatus(hsStatusText,
                         {RSHTTPBodyDecoded()
                              .arg(response_.HeaderLines().ReadHeader(u"Content-Encoding"))
                              .arg(received)
                              .arg(delivered.Count())});
    }
  } catch (...) {
    // What came before the failure stays with the caller.
    writer.Finish();
    throw;
  }
}

void TIdHTTPProtocol::DiscardBody(int32_t wait) {
  if (ResponseHasNoBody(request_.Verb(), response_.StatusCode())) {
    return;
  }
  TIdDiscardSink nowhere;
  ReadBodyInto(nowhere, wait);
}

int64_t TIdHTTPProtocol::ReadBodyInto(TIdBodySink& sink, int32_t wait) {
  CountingSink counted(sink);
  if (response_.Chunked()) {
    ReadChunkedBody(counted);
  } else if (!FrameUnchunkedBody(counted, wait)) {
    return -1;
  }
  counted.Finish();
  return counted.Count();
}

std::unique_ptr<TIdBodySink> TIdHTTPProtocol::DecoderFor(TIdBodySink& next) const {
  const TIdCompressor* compressor = host_.Compressor();
  if (!compressor) {
    return nullptr;
  }
  // Every "Content-Encoding" line counts, in order, as one list.
  TIdHeaderList values;
  response_.HeaderLines().CollectHeaderValues(u"Content-Encoding", &values);
  return compressor->DecoderFor(QStringList(values.begin(), values.end()).join(u','), next);
}

bool TIdHTTPProtocol::FrameUnchunkedBody(CountingSink& sink, int32_t wait) {
  TIdIOHandler& io = *host_.IOHandler();
  const int64_t length = response_.ContentLength();
  if (length == 0) {
    return true;
  }
  if (!BodyArrives(io, wait)) {
    // Whatever the peer sends later would be read as the next response.
    host_.DropConnection();
    return false;
  }
  if (length < 0) {
    io.ReadStream(sink, kUntilClose, true);
    return true;
  }
  try {
    io.ReadStream(sink, length);
  } catch (const EIdConnClosedGracefully&) {
    throw EIdHTTPBodyCutShort(RSHTTPBodyCutShort().arg(sink.Count()).arg(length));
  }
  return true;
}

void TIdHTTPProtocol::ReadChunkedBody(CountingSink& sink) {
  TIdIOHandler& io = *host_.IOHandler();
  host_.ReportStatus(hsStatusText, {RSHTTPChunkStarted()});
  try {
    // Without a size nothing tells where the body ends, and what came is not all of it.
    if (!ReadChunks(io, sink)) {
      throw EIdHTTPFramingError(RSHTTPChunkSizeInvalid());
    }
  } catch (const EIdConnClosedGracefully&) {
    throw EIdHTTPBodyCutShort(RSHTTPChunkedBodyCutShort().arg(sink.Count()));
  }
  ReadTrailer();
}

bool TIdHTTPProtocol::ReadChunks(TIdIOHandler& io, TIdBodySink& sink) {
  // The chunks' data are parts of one long read: their receives grow and run ahead together.
  TIdBulkReceive receive;
  for (;;) {
    std::optional<int64_t> size;
    TakeResponseLine(io, [&](QByteArrayView line) { size = ChunkSizeOf(line); });
    if (!size) {
      return false;
    }
    if (*size == 0) {
      return true;
    }
    io.ReadStream(sink, *size, false, &receive);
    // The line end after the data; whatever stands before it is no part of the body.
    TakeResponseLine(io, [](QByteArrayView) {});
  }
}

void TIdHTTPProtocol::ReadTrailer() {
  TIdIOHandler& io = *host_.IOHandler();
  try {
    while (!ReadResponseLine(io).isEmpty()) {
    }
  } catch (const EIdConnClosedGracefully&) {
    // The last chunk has come: the body is whole even when the server leaves out the end.
  }
}
