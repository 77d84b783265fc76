#include "http/IdHTTPProtocol.h"

#include "http/IdAuthChallenge.h"
#include "http/IdDiscardStream.h"
#include "http/IdHTTP.h"
#include "http/IdResourceStringsProtocols.h"
#include "http/IdTextDecoding.h"
#include "net/IdGlobal.h"
#include "net/IdIOHandler.h"
#include "net/IdResourceStrings.h"
#include "net/IdStreamWriter.h"

#include <QBuffer>
#include <algorithm>

namespace {

bool NeedsEncodingInTarget(char16_t c) {
  if (c < 0x21 || c >= 0x7F)
    return true;
  constexpr QStringView unsafe = u"\"<>\\^`{|}";
  return unsafe.contains(QChar(c));
}

// The text with each surrogate that is not part of a pair replaced by U+FFFD, which UTF-8
// can carry.
QString WithoutLoneSurrogates(QStringView text) {
  QString result = text.toString();
  for (qsizetype i = 0; i < result.size(); ++i) {
    if (result[i].isHighSurrogate() && i + 1 < result.size() && result[i + 1].isLowSurrogate())
      ++i;
    else if (result[i].isSurrogate())
      result[i] = QChar::ReplacementCharacter;
  }
  return result;
}

// A line of the response, read as UTF-8 so that a redirect target or a cookie value in UTF-8
// arrives whole (as ASCII every such byte would be "?"). The handler reports a line that ran
// out of time as an empty one, which here would read as the end of a header block; it is a
// time-out.
QString ReadResponseLine(TIdIOHandler& io) {
  QString line = io.ReadLine({}, IdTimeoutDefault, -1, ekUTF8);
  if (io.LastLineTimedOut())
    throw EIdReadTimeout(RSReadTimeout());
  return line;
}

// The next line of the response handed to `use` as bytes, then taken off the queue: the lines
// of a chunked body need no text. A time-out raises, as for ReadResponseLine.
template <typename Use> void TakeResponseLine(TIdIOHandler& io, Use&& use) {
  const TIdQueuedLine line = io.PeekLine();
  if (line.queued == 0)
    throw EIdReadTimeout(RSReadTimeout());
  use(line.bytes);
  io.PendingInput().Discard(line.queued);
}

// Whether a body that is not expected has begun to arrive within wait ms; with no wait the body
// is expected and read as framed.
bool BodyArrives(TIdIOHandler& io, int32_t wait) {
  if (wait <= 0)
    return true;
  if (io.PendingInputEmpty())
    io.CheckForData(wait);
  return !io.PendingInputEmpty();
}

// Where the first CR or LF of a line is, or -1.
qsizetype BreakIn(QStringView line) {
  const auto at =
      std::find_if(line.begin(), line.end(), [](QChar c) { return c == u'\r' || c == u'\n'; });
  return at == line.end() ? -1 : at - line.begin();
}

constexpr QStringView kFramingNames[] = {u"Transfer-Encoding", u"Content-Length", u"Connection"};

// Whether a header line sets the framing or the connection's fate.
bool IsFramingLine(QStringView line) {
  const qsizetype colon = line.indexOf(u':');
  if (colon < 0)
    return false;
  const QString name = Trim(line.left(colon));
  return std::any_of(std::begin(kFramingNames), std::end(kFramingNames),
                     [&name](QStringView framing) { return TextIsSame(name, framing); });
}

QStringList ValuesOf(QStringView name, const TIdHeaderList& kept, const TIdHeaderList& beyond) {
  TIdHeaderList values;
  kept.CollectHeaderValues(name, &values);
  beyond.CollectHeaderValues(name, &values);
  return QStringList(values.begin(), values.end());
}

void RemoveLines(TIdHeaderList& lines, QStringView name) {
  for (qsizetype at = lines.FindHeader(name); at >= 0; at = lines.FindHeader(name))
    lines.Delete(at);
}

bool IsIgnored(int32_t code, const TIdHTTPIgnoredCodes& ignored) {
  return std::any_of(ignored.begin(), ignored.end(),
                     [code](int16_t listed) { return listed == code; });
}

// Puts another stream in the response's place for one scope.
class BodyStreamSwap {
public:
  BodyStreamSwap(TIdHTTPResponse& response, QIODevice& replacement)
      : response_(response), previous_(response.BodyStream()) {
    response.SetBodyStream(&replacement);
  }
  ~BodyStreamSwap() { response_.SetBodyStream(previous_); }
  BodyStreamSwap(const BodyStreamSwap&) = delete;
  BodyStreamSwap& operator=(const BodyStreamSwap&) = delete;

private:
  TIdHTTPResponse& response_;
  QIODevice* previous_;
};

} // namespace

QString EncodeRequestTarget(QStringView target) {
  if (std::none_of(target.begin(), target.end(),
                   [](QChar c) { return NeedsEncodingInTarget(c.unicode()); }))
    return target.toString();
  QString encoded;
  encoded.reserve(target.size() * 3);
  qsizetype i = 0;
  while (i < target.size()) {
    if (!NeedsEncodingInTarget(target[i].unicode())) {
      encoded += target[i++];
      continue;
    }
    // A run at a time, so that a surrogate pair reaches the UTF-8 encoder whole.
    const qsizetype start = i;
    while (i < target.size() && NeedsEncodingInTarget(target[i].unicode()))
      ++i;
    const QByteArray bytes = WithoutLoneSurrogates(target.sliced(start, i - start)).toUtf8();
    for (const char byte : bytes) {
      encoded += u'%';
      encoded += QString::number(uint8_t(byte), 16).rightJustified(2, u'0').toUpper();
    }
  }
  return encoded;
}

int32_t StatusCodeOf(QStringView statusLine) {
  const qsizetype space = statusLine.indexOf(u' ');
  if (space < 0)
    return -1;
  const QString rest = Trim(statusLine.sliced(space + 1));
  bool ok = false;
  const int32_t code = QStringView(rest).left(rest.indexOf(u' ')).toInt(&ok, 10);
  return ok ? code : -1;
}

std::optional<int64_t> ChunkSizeOf(QByteArrayView sizeLine) {
  // One pass over the bytes, as the line is read once per chunk. Bytes of 32 and below are
  // what trimming the line as text removes, and a byte above 127 is no digit in either reading.
  const auto blank = [](char c) {
    return uint8_t(c) <= 32;
  };
  const qsizetype n = sizeLine.size();
  qsizetype i = 0;
  while (i < n && blank(sizeLine[i]))
    ++i;
  const qsizetype first = i;
  int64_t size = 0;
  for (; i < n; ++i) {
    const char c = sizeLine[i];
    const char lower = char(c | 0x20);
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (lower >= 'a' && lower <= 'f')
      digit = lower - 'a' + 10;
    if (digit < 0)
      break;
    size = size * 16 + digit;
    if (size > 0xFFFFFFFFLL)
      return std::nullopt;
  }
  if (i == first)
    return std::nullopt;
  // The size ends at a ";" or a space; only blanks may stand between it and that, or the end.
  for (; i < n && sizeLine[i] != ' '; ++i) {
    if (sizeLine[i] == ';')
      break;
    if (!blank(sizeLine[i]))
      return std::nullopt;
  }
  return size;
}

bool ResponseHasNoBody(QStringView verb, int32_t code) {
  return verb == u"HEAD" || code / 100 == 1 || code == 204 || code == 304;
}

bool EndsInChunked(QStringView transferEncoding) {
  const qsizetype comma = transferEncoding.lastIndexOf(u',');
  return TextIsSame(Trim(transferEncoding.sliced(comma + 1)), u"chunked");
}

std::optional<QString> SoleContentLength(const QStringList& values) {
  std::optional<QString> length;
  for (const QString& value : values) {
    for (const QStringView item : QStringView(value).split(u',')) {
      QString trimmed = Trim(item);
      if (length && *length != trimmed)
        throw EIdHTTPFramingError(RSHTTPContentLengthConflict());
      length = std::move(trimmed);
    }
  }
  return length;
}

// --- Response -----------------------------------------------------------------------------------

bool TIdHTTPResponse::KeepConnection() {
  const QString version = statusLine_.mid(5, 3);
  if (TextIsSame(version, u"1.0"))
    replyVersion_ = pv1_0;
  else if (TextIsSame(version, u"1.1"))
    replyVersion_ = pv1_1;
  if (!client_.Connected())
    return false;
  const auto says = [this](QStringView token) {
    return TextIsSame(Trim(Connection()), token) || TextIsSame(Trim(ProxyConnection()), token);
  };
  return client_.ProtocolVersion() == pv1_0 ? says(u"keep-alive") : !says(u"close");
}

// --- Protocol -----------------------------------------------------------------------------------

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& client) : client_(client), response_(client) {}

void TIdHTTPProtocol::SendRequestHead(const TIdURI* address) {
  const QString target = EncodeRequestTarget(request_.RequestTarget());
  SetSchemeRequest(request_.Authentication(), request_.Verb(), target);
  SetSchemeRequest(client_.ProxyParams().Authentication(), request_.Verb(), target);
  request_.ComposeHeaderLines();
  if (!client_.CredentialsApply())
    RemoveLines(request_.HeaderLines(), u"Authorization");
  // A proxy's credentials are for the proxy alone; a request that goes straight to the server
  // carries none.
  if (request_.ConnectionKind() == ckProxy)
    client_.ProxyParams().ComposeHeaderLines(request_.HeaderLines());
  if (address)
    client_.AddCookieHeader(*address);

  QString head = request_.Verb() + u' ' + target;
  head += client_.ProtocolVersion() == pv1_0 ? u" HTTP/1.0\r\n" : u" HTTP/1.1\r\n";
  for (const QString& line : request_.HeaderLines()) {
    if (const qsizetype cut = BreakIn(line); cut >= 0)
      throw EIdHTTPHeaderLineBreak(RSHTTPHeaderLineBreak().arg(line.left(cut)));
    if (!line.isEmpty()) {
      head += line;
      head += u"\r\n";
    }
  }
  head += u"\r\n";
  TIdIOHandler& io = *client_.IOHandler();
  io.BeginWriteBuffering(-1);
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
  return ReadResponseLine(*client_.IOHandler());
}

void TIdHTTPProtocol::ReadResponseHeaders(int32_t limit) {
  TIdIOHandler& io = *client_.IOHandler();
  TIdHeaderList& lines = response_.HeaderLines();
  lines.Clear();
  // Lines past the limit are still read: left in the input they would be taken for the body.
  // Those that frame the body are kept apart, as the body ends where they say.
  TIdHeaderList beyond;
  for (QString line = ReadResponseLine(io); !line.isEmpty(); line = ReadResponseLine(io)) {
    if (limit <= 0 || lines.Count() < limit)
      lines.Add(std::move(line));
    else if (IsFramingLine(line))
      beyond.Add(std::move(line));
  }
  response_.ParseHeaderLines();
  response_.SetChunked(EndsInChunked(ValuesOf(u"Transfer-Encoding", lines, beyond).join(u',')));
  if (const auto length = SoleContentLength(ValuesOf(u"Content-Length", lines, beyond)))
    response_.SetContentLength(TextToInt32Def(*length, -1, IntegerSyntax::Decimal));
  if (response_.Connection().isEmpty())
    response_.SetConnection(beyond.ReadHeader(u"Connection"));
}

TIdHTTPNextStep TIdHTTPProtocol::DecideNextStep(const TIdHTTPIgnoredCodes& ignored) {
  bool proceed = true;
  if (client_.OnHeadersAvailable)
    client_.OnHeadersAvailable(&client_, response_.HeaderLines(), proceed);
  if (!proceed) {
    // The body stays unread, so the connection can serve nothing more.
    client_.DropConnection();
    return nsFinished;
  }

  const int32_t code = response_.StatusCode();
  const int32_t kind = code / 100;
  if ((kind == 3 && code != 304) || !response_.Location().isEmpty())
    return DecideRedirect(code, ignored);

  bool needAuth = false;
  if (kind != 2) {
    if (code != 401 && code != 407) {
      RaiseStatusError(code, ignored, (kind == 1 || code == 304) ? 100 : -1);
      return nsFinished;
    }
    // Credentials prepared but not sent again within the call still leave the call refused:
    // the challenge page is no answer to the request. They go with the caller's next request.
    if (!PrepareCredentials(code == 407) || !client_.HTTPOptions().testFlag(hoInProcessAuth)) {
      RaiseStatusError(code, ignored, -1);
      return nsFinished;
    }
    needAuth = true;
  }

  if (needAuth) {
    DiscardBody(-1);
    return nsRetryAuth;
  }
  if (request_.Verb() == u"HEAD" || code == 204)
    DiscardBody(100);
  else
    ReadBody(-1);
  return nsFinished;
}

TIdHTTPNextStep TIdHTTPProtocol::DecideRedirect(int32_t code, const TIdHTTPIgnoredCodes& ignored) {
  const int32_t count = ++client_.redirectCounter_;
  QString target = response_.Location();
  QString method = request_.Verb();
  if (!client_.ConsultRedirect(target, method, count)) {
    RaiseStatusError(code, ignored, -1);
    return nsFinished;
  }
  TIdHTTPNextStep step = nsFinished;
  if (client_.HandleRedirects() && count < client_.RedirectMaximum()) {
    request_.SetRequestTarget(target);
    request_.SetVerb(method);
    step = nsFollow;
  } else {
    response_.SetLocation(target);
  }
  if (client_.Connected())
    DiscardBody(5000);
  return step;
}

bool TIdHTTPProtocol::PrepareCredentials(bool proxy) {
  const bool prepared =
      proxy ? client_.ProxyAuthAttempts() < client_.MaxAuthRetries() &&
                  client_.DoOnProxyAuthorization()
            : client_.AuthAttempts() < client_.MaxAuthRetries() && client_.DoOnAuthorization();
  if (!prepared) {
    TIdAuthentication* scheme =
        proxy ? client_.ProxyParams().Authentication() : request_.Authentication();
    if (scheme)
      scheme->Reset();
  }
  return prepared;
}

void TIdHTTPProtocol::RaiseStatusError(int32_t code, const TIdHTTPIgnoredCodes& ignored,
                                       int32_t wait) {
  if (IsIgnored(code, ignored)) {
    DiscardBody(wait);
    return;
  }
  QBuffer page;
  page.open(QIODevice::ReadWrite);
  {
    BodyStreamSwap swap(response_, page);
    ReadBody(wait);
  }
  page.seek(0);
  QString text = ReadStreamText(page, -1, EncodingFromContentType(response_.ContentType()));
  throw EIdHTTPProtocolException(code, response_.StatusLine(), std::move(text));
}

void TIdHTTPProtocol::ReadBody(int32_t wait) {
  QIODevice* stream = response_.BodyStream();
  if (!stream || ResponseHasNoBody(request_.Verb(), response_.StatusCode()))
    return;
  TIdIOHandler& io = *client_.IOHandler();
  if (response_.Chunked()) {
    ReadChunkedBody(*stream);
    return;
  }
  if (response_.ContentLength() > 0) {
    if (!BodyArrives(io, wait))
      return;
    try {
      io.ReadStream(*stream, response_.ContentLength());
    } catch (const EIdConnClosedGracefully&) {
      // A short body is kept as it came; the closed connection serves no further request.
    }
  } else if (!response_.ContentLengthKnown()) {
    if (BodyArrives(io, wait))
      io.ReadStream(*stream, -1, true);
  }
}

void TIdHTTPProtocol::ReadChunkedBody(QIODevice& stream) {
  TIdIOHandler& io = *client_.IOHandler();
  client_.ReportStatus(hsStatusText, {RSHTTPChunkStarted()});
  // One writer for the whole body: chunks of a few bytes reach the stream in runs, and the
  // stream is cut once, at the end.
  TIdStreamWriter writer(stream);
  try {
    // Without a size nothing tells where the body ends, and what came is not all of it.
    if (!ReadChunks(io, writer))
      throw EIdHTTPFramingError(RSHTTPChunkSizeInvalid());
  } catch (...) {
    writer.Finish();
    throw;
  }
  writer.Finish();
  ReadTrailer();
}

bool TIdHTTPProtocol::ReadChunks(TIdIOHandler& io, TIdStreamWriter& writer) {
  for (;;) {
    std::optional<int64_t> size;
    TakeResponseLine(io, [&](QByteArrayView line) { size = ChunkSizeOf(line); });
    if (!size)
      return false;
    if (*size == 0)
      return true;
    io.ReadStream(writer, *size);
    // The line end after the data; whatever stands before it is no part of the body.
    TakeResponseLine(io, [](QByteArrayView) {});
  }
}

void TIdHTTPProtocol::ReadTrailer() {
  TIdIOHandler& io = *client_.IOHandler();
  try {
    while (!ReadResponseLine(io).isEmpty()) {
    }
  } catch (const EIdConnClosedGracefully&) {
    // The last chunk has come: the body is whole even when the server leaves out the end.
  }
}

void TIdHTTPProtocol::DiscardBody(int32_t wait) {
  TIdDiscardStream discard;
  BodyStreamSwap swap(response_, discard);
  ReadBody(wait);
}
