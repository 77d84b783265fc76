// The whole response side of a call: status lines, header blocks, the three body framings,
// interim responses, redirects (to other hosts too), challenges and error statuses, played by a
// peer that lives in memory. Whatever the peer sends, a call ends with its result or with one of
// the client's own exceptions; what reaches the caller and what stays queued never exceeds what
// the peer sent; every request head the client writes is well formed, whatever redirect targets
// the peer hands it; and a call cut short leaves no connection behind. Then a second call on the
// same client is held to the same rules, with whatever the first one left.
//
// Input: six bytes of settings, then the peer's bytes for each connection in turn, separated by
// "|~|". Connections beyond the last get a peer that closes at once.
//   0  flags: 1 redirects not handled, 2 HTTP/1.0, 4 HEAD, 8 stop at the headers, 16 ignore
//      404, 32 line limit 256, 64 body into a stream that keeps nothing, 128 credentials with
//      challenges answered within the call
//   1  header lines kept: 0 means 255, 1 means all, else the number
//   2  redirect maximum: 0 means 15, else the number modulo 32
//   3  bytes per receive: 0 means 32768, else the number
//   4  bit n: connection n ends by falling silent (a read time-out) instead of closing
//   5  cookies: 1 means the client keeps none

#include "fuzz/FuzzSupport.h"
#include "http/IdDiscardStream.h"
#include "http/IdHTTP.h"
#include "http/IdTextDecoding.h"

#include <QBuffer>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSettings = 6;

// Connections to any host reach the next script in the input; no name is ever resolved and no
// socket opened.
class PeerInMemory : public TIdIOHandler {
public:
  PeerInMemory(QList<QByteArray> scripts, uint8_t stallMask)
      : scripts_(std::move(scripts)), stallMask_(stallMask) {}

  void Open() override {
    current_ = next_ < scripts_.size() ? scripts_[next_] : QByteArray();
    stalls_ = next_ < 8 && (stallMask_ >> next_ & 1);
    ++next_;
    at_ = 0;
    source_ = true;
    TIdIOHandler::Open();
  }
  void Close() override {
    source_ = false;
    TIdIOHandler::Close();
  }
  int32_t ReceiveChunk(QByteArray& buffer) override {
    const auto n = std::min<qsizetype>(buffer.size(), current_.size() - at_);
    std::memcpy(buffer.data(), current_.constData() + at_, size_t(n));
    at_ += n;
    served_ += n;
    return int32_t(n);
  }
  int32_t SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) override {
    written_.append(bytes.constData() + offset, length);
    return length;
  }
  bool SourceAvailable() const override { return source_; }
  // A silent peer answers every wait with a time-out, at once.
  bool Readable(int32_t) override { return !(stalls_ && at_ == current_.size()); }

  // Every byte the peers have handed over so far.
  int64_t Served() const { return served_; }
  // Everything the client has written, on every connection.
  const QByteArray& Written() const { return written_; }

private:
  QList<QByteArray> scripts_;
  uint8_t stallMask_;
  qsizetype next_ = 0;
  QByteArray current_;
  qsizetype at_ = 0;
  bool stalls_ = false;
  bool source_ = false;
  int64_t served_ = 0;
  QByteArray written_;
};

// Each head: a request line of verb, a target without spaces or control characters and the
// version, then header lines of a name, a colon and a value without CR or LF, then an empty
// line; nothing between the heads.
void CheckRequestHeads(const QByteArray& written) {
  qsizetype at = 0;
  while (at < written.size()) {
    const qsizetype end = written.indexOf("\r\n\r\n", at);
    FUZZ_CHECK(end >= 0);
    const QList<QByteArray> lines = written.mid(at, end - at).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
      const QByteArray line = i + 1 < lines.size() ? lines[i].chopped(1) : lines[i];
      FUZZ_CHECK(i + 1 == lines.size() || lines[i].endsWith('\r'));
      FUZZ_CHECK(!line.contains('\r') && !line.isEmpty());
      if (i == 0) {
        const QList<QByteArray> parts = line.split(' ');
        FUZZ_CHECK(parts.size() == 3);
        FUZZ_CHECK(parts[0] == "GET" || parts[0] == "HEAD");
        FUZZ_CHECK(!parts[1].isEmpty());
        FUZZ_CHECK(std::none_of(parts[1].begin(), parts[1].end(),
                                [](char c) { return uint8_t(c) <= 32 || uint8_t(c) >= 127; }));
        FUZZ_CHECK(parts[2] == "HTTP/1.0" || parts[2] == "HTTP/1.1");
      } else {
        FUZZ_CHECK(line.indexOf(':') > 0);
      }
    }
    at = end + 4;
  }
}

// Every failure a call may end with: the client's own tree, and a port beyond 65535.
bool IsOwnFailure(const Exception& e) {
  return dynamic_cast<const EIdException*>(&e) || dynamic_cast<const ERangeError*>(&e);
}

// A failure in the middle of reading a response, after which the connection is out of step.
bool CutsTheExchangeShort(const Exception& e) {
  return dynamic_cast<const EIdReadTimeout*>(&e) ||
         dynamic_cast<const EIdReadLnMaxLineLengthExceeded*>(&e) ||
         dynamic_cast<const EIdConnClosedGracefully*>(&e) ||
         dynamic_cast<const EIdHTTPBodyCutShort*>(&e);
}

void CheckOneCall(TIdHTTP& client, PeerInMemory& peer, const QString& address, uint8_t flags) {
  const int64_t servedBefore = peer.Served();
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  TIdDiscardStream nowhere;
  QIODevice& stream = flags & 64 ? static_cast<QIODevice&>(nowhere) : body;
  const TIdHTTPIgnoredCodes ignored = flags & 16 ? TIdHTTPIgnoredCodes{404} : TIdHTTPIgnoredCodes{};
  try {
    client.PerformRequest(flags & 4 ? QStringLiteral("HEAD") : QStringLiteral("GET"), address,
                          nullptr, &stream, ignored);
    if (!(flags & 64)) {
      body.seek(0);
      const QString text =
          ReadStreamText(body, -1, EncodingFromContentType(client.CurrentResponse().ContentType()));
      FUZZ_CHECK(text.size() <= body.size());
    }
  } catch (const Exception& e) {
    FUZZ_CHECK(IsOwnFailure(e));
    if (CutsTheExchangeShort(e)) {
      FUZZ_CHECK(!client.Connected());
    }
    if (const auto* status = dynamic_cast<const EIdHTTPProtocolException*>(&e)) {
      FUZZ_CHECK(status->ReplyBody().size() <= peer.Served() - servedBefore);
    }
  }
  // The body holds bytes of this call's responses only, and the queue what came and was left.
  FUZZ_CHECK(body.size() <= peer.Served() - servedBefore);
  FUZZ_CHECK(client.IOHandler()->PendingInput().Size() <= peer.Served());
}

// The peer's bytes per connection.
QList<QByteArray> SplitScripts(QByteArrayView bytes) {
  QList<QByteArray> scripts;
  for (;;) {
    const qsizetype mark = bytes.indexOf(QByteArrayView("|~|"));
    if (mark < 0) {
      break;
    }
    scripts.append(bytes.first(mark).toByteArray());
    bytes = bytes.sliced(mark + 3);
  }
  scripts.append(bytes.toByteArray());
  return scripts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSettings) {
    return 0;
  }
  const uint8_t flags = data[0];
  PeerInMemory peer(SplitScripts(QByteArrayView(data + kSettings, qsizetype(size - kSettings))),
                    data[4]);
  peer.SetRecvBufferSize(data[3] == 0 ? 32768 : data[3]);
  if (flags & 32) {
    peer.SetMaxLineLength(256);
  }

  TIdHTTP client;
  client.SetIOHandler(&peer);
  client.SetReadTimeout(50);
  client.SetHandleRedirects(!(flags & 1));
  client.SetProtocolVersion(flags & 2 ? pv1_0 : pv1_1);
  client.SetHeaderLineLimit(data[1] == 0 ? 255 : data[1] == 1 ? 0 : data[1]);
  client.SetRedirectMaximum(data[2] == 0 ? 15 : data[2] % 32);
  client.SetAllowCookies(!(data[5] & 1));
  if (flags & 8) {
    client.OnHeadersAvailable = [](TIdCustomHTTP*, TIdHeaderList&, bool& proceed) {
      proceed = false;
    };
  }
  if (flags & 128) {
    client.SetHTTPOptions(client.HTTPOptions() | hoInProcessAuth);
    client.Request().SetUsername(QStringLiteral("user"));
    client.Request().SetPassword(QStringLiteral("secret"));
  }

  CheckOneCall(client, peer, QStringLiteral("http://127.0.0.1:8080/start?x=1"), flags);
  CheckOneCall(client, peer, QStringLiteral("/again"), flags);
  CheckRequestHeads(peer.Written());
  client.SetIOHandler(nullptr);
  return 0;
}
