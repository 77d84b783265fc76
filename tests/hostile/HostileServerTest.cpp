// The client against servers that mean it harm: garbage and endless lines where a status line or
// a header line belongs, absurd lengths and chunk sizes, bodies and redirects without end, resets
// and closes at awkward moments, a server that drips its answer, and redirect targets with bytes
// no request line may carry.
//
// Each case is a script for a loopback peer, the client's limits and the outcome the caller must
// see: the exception's class and text, or the text Get returns. Around every case the process is
// measured: the peak of live heap bytes must stay within a bound set by the bytes the peer sent
// (memory follows what arrived, never what a peer announced), and no descriptor may stay open
// once the client and the peer are gone. A failed call must also leave no connection open whose
// framing is lost. The measured peaks are printed as a table when the suite ends.

#include "http/IdDiscardStream.h"
#include "http/IdHTTP.h"
#include "tests/hostile/ProcessMeters.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

constexpr int64_t kMiB = 1024 * 1024;
// What bounds each wait of a script. A silent peer must outlast a client that is still working
// through megabytes already queued (slow under a sanitizer); every wait ends anyway when the
// case's server is stopped, and the client's own limits end every case long before this.
constexpr auto kServerLimit = 30s;

// The server's side of one connection, counting every byte it sends.
class Wire {
public:
  Wire(LoopbackPeer& peer, std::atomic<int64_t>& sent) : peer_(peer), sent_(sent) {}

  QByteArray ReadRequestHead() { return peer_.ReadRequestHead(); }
  bool Send(QByteArrayView bytes) {
    sent_ += bytes.size();
    return peer_.Send(bytes);
  }
  bool SendSlowly(QByteArrayView bytes, std::chrono::milliseconds pause) {
    sent_ += bytes.size();
    return peer_.SendSlowly(bytes, 1, pause);
  }
  // Sends piece again and again until total bytes have gone or the client stops taking them.
  bool SendRepeated(QByteArrayView piece, int64_t total) {
    QByteArray run;
    while (run.size() < 64 * 1024) {
      run += piece;
    }
    for (int64_t sent = 0; sent < total; sent += run.size()) {
      if (!Send(run)) {
        return false;
      }
    }
    return true;
  }
  // Sends piece, pauses, and again, until the client stops taking them: a peer that is never
  // quiet for as long as a read limit.
  void Drip(QByteArrayView piece, std::chrono::milliseconds pause) {
    do {
      sent_ += piece.size();
    } while (peer_.SendSlowly(piece, piece.size(), pause));
  }
  // Keeps the connection open and silent until the test ends.
  void Stall() { peer_.WaitForRelease(); }
  void Close() { peer_.Close(); }
  void Reset() { peer_.Reset(); }

private:
  LoopbackPeer& peer_;
  std::atomic<int64_t>& sent_;
};

using Script = std::function<void(Wire& wire)>;

// Answers the first request with head, then does what after says.
Script Answer(QByteArray head, std::function<void(Wire&)> after) {
  return [head = std::move(head), after = std::move(after)](Wire& wire) {
    if (wire.ReadRequestHead().isEmpty()) {
      return;
    }
    wire.Send(head);
    after(wire);
  };
}

Script AnswerThenClose(QByteArray bytes) {
  return Answer(std::move(bytes), [](Wire& wire) { wire.Close(); });
}

Script AnswerThenStall(QByteArray bytes) {
  return Answer(std::move(bytes), [](Wire& wire) { wire.Stall(); });
}

// head, then piece over and over up to total bytes, then silence: a response that never ends,
// held to a size the test can afford.
Script AnswerEndlessly(QByteArray head, QByteArray piece, int64_t total) {
  return Answer(std::move(head), [piece = std::move(piece), total](Wire& wire) {
    wire.SendRepeated(piece, total);
    wire.Stall();
  });
}

// Every request for /loop/<n> (the first one: n = 0) gets a redirect to /loop/<n+1>, so the
// count lives in the addresses and a repeated run starts again at 1.
Script RedirectLoop(bool closeEach) {
  return [closeEach](Wire& wire) {
    for (QByteArray head = wire.ReadRequestHead(); !head.isEmpty(); head = wire.ReadRequestHead()) {
      const QByteArray target = head.mid(4, head.indexOf(' ', 4) - 4);
      const int n = target.startsWith("/loop/") ? target.mid(6).toInt() : 0;
      QByteArray reply = "HTTP/1.1 302 Found\r\nLocation: /loop/" + QByteArray::number(n + 1) +
                         "\r\nContent-Length: 0\r\n";
      if (closeEach) {
        reply += "Connection: close\r\n";
      }
      if (!wire.Send(reply + "\r\n") || closeEach) {
        return;
      }
    }
  };
}

// A redirect to location, then a page on the same connection for the request that follows.
Script RedirectThenPage(QByteArray location) {
  return [location = std::move(location)](Wire& wire) {
    if (wire.ReadRequestHead().isEmpty()) {
      return;
    }
    wire.Send("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
    if (wire.ReadRequestHead().isEmpty()) {
      return;
    }
    wire.Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nlanded");
    wire.Stall();
  };
}

// A literal's bytes, NULs included.
template <qsizetype N> QByteArray Bytes(const char (&literal)[N]) {
  return QByteArray(literal, N - 1);
}

// Bytes without a line feed, the same on every run.
QByteArray Garbage(qsizetype size) {
  QByteArray bytes(size, Qt::Uninitialized);
  uint32_t state = 2463534242u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = char(state & 0xFF);
    if (byte == '\n') {
      byte = '?';
    }
  }
  return bytes;
}

QByteArray ManyLines(int count, const char* prefix, const char* suffix) {
  QByteArray lines;
  for (int i = 0; i < count; ++i) {
    lines += prefix + QByteArray::number(i) + suffix + "\r\n";
  }
  return lines;
}

// A setting a case leaves unset keeps the client's own default.
struct ClientSettings {
  int32_t readTimeout = 2000;
  std::optional<int32_t> connectTimeout = {};
  std::optional<int32_t> headerLineLimit = {};
  std::optional<int32_t> redirectMaximum = {};
  std::optional<int32_t> callTimeout = {};
  // GetToStream into a stream that keeps nothing instead of Get.
  bool discardBody = false;
};

// What the caller sees: an exception's class and text, or (class empty) the text Get returns.
struct Outcome {
  QString exception;
  QString text;
};

struct CaseRun {
  TIdHTTP& client;
  LoopbackServer* server;
};

enum class Peer { Scripted, NeverAccepting };

struct HostileCase {
  const char* name = "";
  Script script = {};
  ClientSettings settings = {};
  Outcome expected = {};
  // What else must hold once the call has ended (the server's view, the client's records).
  std::function<void(CaseRun&)> check = {};
  // Most live heap the case may add; by default 16 MiB and four times what the peer sent.
  int64_t heapBound = -1;
  Peer peer = Peer::Scripted;
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

Outcome Raised(const char* exception, const QString& text) {
  return {QString::fromLatin1(exception), text};
}

Outcome Returned(const QString& text) {
  return {{}, text};
}

const Outcome kClosed = Raised("EIdConnClosedGracefully", "Connection Closed Gracefully.");
const Outcome kTimedOut = Raised("EIdReadTimeout", "Read timed out.");
const Outcome kLineTooLong = Raised("EIdReadLnMaxLineLengthExceeded", "Max line length exceeded.");
const Outcome kCallTimedOut = Raised("EIdCallTimeout", "Call timed out.");
const Outcome kLengthsConflict =
    Raised("EIdHTTPFramingError", "Response has conflicting Content-Length values.");

// 300 header lines: more than the default HeaderLineLimit keeps.
const QByteArray kFiller = ManyLines(300, "X-Filler-", ": value");

void ExpectDisconnected(CaseRun& run) {
  EXPECT_FALSE(run.client.Connected());
}

std::function<void(CaseRun&)> ExpectRequestLine(int index, QByteArray line) {
  return [index, line = std::move(line)](CaseRun& run) {
    const QList<QByteArray> heads = run.server->Received(0).split('\n');
    int seen = 0;
    for (const QByteArray& l : heads) {
      if (l.startsWith("GET ") && seen++ == index) {
        EXPECT_EQ(QString::fromLatin1(l.trimmed()), QString::fromLatin1(line));
        return;
      }
    }
    ADD_FAILURE() << "no request " << index;
  };
}

// The redirect loops: how many requests reached the server and where the last redirect pointed.
std::function<void(CaseRun&)> ExpectRequests(int requests, int connections) {
  return [requests, connections](CaseRun& run) {
    int seen = 0;
    for (int i = 0; i < run.server->ConnectionCount(); ++i) {
      seen += int(run.server->Received(i).count("\r\n\r\n"));
    }
    EXPECT_EQ(seen, requests);
    EXPECT_EQ(run.server->ConnectionCount(), connections);
    EXPECT_EQ(run.client.CurrentResponse().Location(), QStringLiteral("/loop/%1").arg(requests));
  };
}

struct Measured {
  std::string name;
  QString outcome;
  int64_t sent;
  int64_t peakGrowth;
};

std::mutex measuredLock;
std::vector<Measured> measured;

void SetIfNamed(TIdHTTP& client, void (TIdHTTP::*set)(int32_t), std::optional<int32_t> value) {
  if (value) {
    (client.*set)(*value);
  }
}

class HostileServer : public testing::TestWithParam<HostileCase> {
protected:
  Outcome Call(TIdHTTP& client, const QString& url) {
    const ClientSettings& s = GetParam().settings;
    client.SetReadTimeout(s.readTimeout);
    SetIfNamed(client, &TIdHTTP::SetConnectTimeout, s.connectTimeout);
    SetIfNamed(client, &TIdHTTP::SetHeaderLineLimit, s.headerLineLimit);
    SetIfNamed(client, &TIdHTTP::SetRedirectMaximum, s.redirectMaximum);
    SetIfNamed(client, &TIdHTTP::SetCallTimeout, s.callTimeout);
    client.SetHandleRedirects(true);
    try {
      if (!s.discardBody) {
        return Returned(client.Get(url));
      }
      TIdDiscardStream nowhere;
      client.GetToStream(url, nowhere);
      return Returned({});
    } catch (const Exception& e) {
      return {e.ClassName(), e.Message()};
    } catch (const std::exception& e) {
      return {QStringLiteral("std::exception"), QString::fromUtf8(e.what())};
    }
  }
};

TEST_P(HostileServer, EndsAsSpecifiedWithinBoundedMemoryAndDescriptors) {
  const HostileCase& c = GetParam();
  const int descriptorsBefore = hostile::OpenDescriptorCount();
  std::atomic<int64_t> sent{0};
  hostile::ResetHeapPeak();
  const int64_t heapBefore = hostile::LiveHeapBytes();
  Outcome actual;
  {
    std::unique_ptr<testsupport::NeverAcceptingListener> silent;
    std::unique_ptr<LoopbackServer> server;
    QString url;
    if (c.peer == Peer::NeverAccepting) {
      silent = std::make_unique<testsupport::NeverAcceptingListener>();
      url = QStringLiteral("http://127.0.0.1:%1/start").arg(silent->Port());
    } else {
      server = std::make_unique<LoopbackServer>(
          [&](LoopbackPeer& peer) {
            Wire wire(peer, sent);
            c.script(wire);
          },
          testsupport::Family::IPv4, kServerLimit);
      url = QStringLiteral("http://127.0.0.1:%1/start").arg(server->Port());
    }
    TIdHTTP client;
    actual = Call(client, url);
    EXPECT_EQ(actual.exception, c.expected.exception);
    EXPECT_EQ(actual.text, c.expected.text);
    // Only a complete error page leaves the two sides in step; after anything else cut short,
    // whatever the peer still sends belongs to no response.
    if (!actual.exception.isEmpty() && actual.exception != u"EIdHTTPProtocolException") {
      EXPECT_FALSE(client.Connected());
    }
    if (c.check) {
      CaseRun run{client, server.get()};
      c.check(run);
    }
  }
  const int64_t peakGrowth = hostile::PeakHeapBytes() - heapBefore;
  const int64_t bound = c.heapBound >= 0 ? c.heapBound : 16 * kMiB + 4 * sent.load();
  EXPECT_LE(peakGrowth, bound) << "bytes sent: " << sent.load();
  EXPECT_EQ(hostile::OpenDescriptorCount(), descriptorsBefore);

  std::lock_guard lock(measuredLock);
  measured.push_back({c.name,
                      actual.exception.isEmpty()
                          ? QStringLiteral("returns %1 characters").arg(actual.text.size())
                          : actual.exception + u' ' + actual.text,
                      sent.load(), peakGrowth});
}

const HostileCase kCases[] = {
    // --- Where a status line belongs ----------------------------------------------------------
    {.name = "GarbageThenClose", .script = AnswerThenClose(Garbage(4096)), .expected = kClosed},
    {.name = "GarbageLineThenClose",
     .script = AnswerThenClose("<html>not a status line</html>\r\n\r\nrest"),
     .expected = Raised("EIdHTTPProtocolException", "<html>not a status line</html>")},
    {.name = "StatusLineOf100KB",
     .script = AnswerThenStall("HTTP/1.1 200 " + QByteArray(100 * 1024, 'A') + "\r\n\r\n"),
     .expected = kLineTooLong},
    {.name = "NulInStatusLine",
     .script = AnswerThenClose(Bytes("HTTP/1.1 2\0"
                                     "00 OK\r\n\r\n")),
     .expected = Raised("EIdHTTPProtocolException",
                        QStringLiteral("HTTP/1.1 2") + QChar(0) + QStringLiteral("00 OK"))},
    {.name = "SilentAfterTheRequest",
     .script = AnswerThenStall({}),
     .settings = {.readTimeout = 300},
     .expected = kTimedOut},
    {.name = "CloseWithoutAByte", .script = AnswerThenClose({}), .expected = kClosed},
    {.name = "EndlessInterimResponses",
     .script = AnswerEndlessly({}, "HTTP/1.1 100 Continue\r\n\r\n", 4 * kMiB),
     .settings = {.readTimeout = 300},
     .expected = kTimedOut,
     .heapBound = 2 * kMiB},

    // --- Header block -------------------------------------------------------------------------
    {.name = "HeaderLineNeverEnds",
     .script =
         Answer("HTTP/1.1 200 OK\r\nX-Filler: ", [](Wire& w) { w.SendRepeated("a", 64 * kMiB); }),
     .expected = kLineTooLong,
     .heapBound = 4 * kMiB},
    {.name = "TenThousandHeaderLines",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\n" + ManyLines(10000, "X-Line-", ": value") +
                               "Content-Length: 2\r\n\r\nhi"),
     .expected = Returned("hi"),
     .check =
         [](CaseRun& run) {
           EXPECT_EQ(run.client.CurrentResponse().HeaderLines().Count(), 255);
         }},
    {.name = "TenThousandHeaderLinesWithoutLimit",
     .script = AnswerThenStall("HTTP/1.1 200 OK\r\n" + ManyLines(10000, "X-Line-", ": value") +
                               "Content-Length: 2\r\n\r\nhi"),
     .settings = {.headerLineLimit = 0},
     .expected = Returned("hi"),
     .check =
         [](CaseRun& run) {
           EXPECT_EQ(run.client.CurrentResponse().HeaderLines().Count(), 10001);
         }},
    {.name = "NulBytesInHeaderLines",
     .script = AnswerThenStall(Bytes("HTTP/1.1 200 OK\r\nX-Nul: a\0b\r\n\0X-Lead: 1\r\n"
                                     "Content-Length: \0"
                                     "2\0\r\n\r\nhi")),
     .expected = Returned("hi"),
     .check =
         [](CaseRun& run) {
           EXPECT_EQ(run.client.CurrentResponse().HeaderLines().ReadHeader(u"X-Nul"),
                     QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
         }},
    {.name = "CloseInTheMiddleOfTheFirstHeaderLine",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\nContent-Le"),
     .expected = kClosed},
    {.name = "CloseInTheMiddleOfALaterHeaderLine",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\nServer: x\r\nContent-Le"),
     .expected = kClosed},
    {.name = "ChunkedAfterTheLineLimit",
     .script = AnswerThenStall("HTTP/1.1 200 OK\r\n" + kFiller +
                               "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"),
     .expected = Returned("hello")},
    {.name = "LengthAndCloseAfterTheLineLimit",
     .script = AnswerThenStall("HTTP/1.1 200 OK\r\n" + kFiller +
                               "Connection: close\r\nContent-Length: 2\r\n\r\nhi"),
     .expected = Returned("hi"),
     .check = ExpectDisconnected},
    {.name = "InterimResponsesOtherThan100",
     .script = AnswerThenStall("HTTP/1.1 102 Processing\r\n\r\n"
                               "HTTP/1.1 103 Early Hints\r\nLink: </style.css>\r\n\r\n"
                               "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi"),
     .expected = Returned("hi")},

    // --- Body framing -------------------------------------------------------------------------
    {.name = "ContentLengthMinusOne",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nuntil close"),
     .expected = Returned("until close")},
    {.name = "ContentLength99999999999",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n0123456789"),
     .expected = Raised("EIdHTTPBodyCutShort",
                        "Response body cut short: 10 of 99999999999 bytes received."),
     .heapBound = 1 * kMiB},
    {.name = "TwoContentLengthsThatDiffer",
     .script = AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nContent-Length: 7\r\n\r\n"
                               "123456X"),
     .expected = kLengthsConflict},
    {.name = "ContentLengthListThatDiffers",
     .script = AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 6,7\r\n\r\n123456X"),
     .expected = kLengthsConflict},
    {.name = "RepeatedContentLengthIsOneLength",
     .script =
         AnswerThenStall("HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\nContent-Length: 2\r\n\r\nhi"),
     .expected = Returned("hi")},
    {.name = "ChunkedOnlyAsTheLastCoding",
     .script = AnswerThenClose(
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunkedchunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n"),
     .expected = Returned("2\r\nhi\r\n0\r\n\r\n")},
    {.name = "NoContentIsNotWaitedForWhateverItsFraming",
     .script = AnswerThenStall("HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n"),
     .expected = Returned({})},
    {.name = "NotModifiedIsNotWaitedForWhateverItsFraming",
     .script = AnswerThenStall("HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"),
     .expected = Raised("EIdHTTPProtocolException", "HTTP/1.1 304 Not Modified")},
    {.name = "ContentLength12abc",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\nhello world!+tail"),
     .expected = Returned("hello world!+tail")},
    {.name = "ChunkSizeFfffffffThenTenBytesAndClose",
     .script = AnswerThenClose(
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffff\r\n0123456789"),
     .expected = Raised("EIdHTTPBodyCutShort", "Response body cut short: 10 bytes received, the "
                                               "connection closed before the last chunk."),
     .heapBound = 1 * kMiB},
    {.name = "ChunkSizeLineNeverEnds",
     .script = Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1",
                      [](Wire& w) { w.SendRepeated("0", 64 * kMiB); }),
     .expected = kLineTooLong,
     .heapBound = 4 * kMiB},
    {.name = "ChunkSizeNotANumber",
     .script = AnswerThenStall(
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nbody\r\n0\r\n\r\n"),
     .expected = Raised("EIdHTTPFramingError", "Response has an invalid chunk size.")},
    {.name = "ChunksNeverEnd",
     .script = AnswerEndlessly("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                               "1\r\na\r\n", 6 * kMiB),
     .settings = {.readTimeout = 300},
     .expected = kTimedOut},
    {.name = "BodyNeverEnds",
     .script = AnswerEndlessly("HTTP/1.1 200 OK\r\n\r\n", "b", 8 * kMiB),
     .settings = {.readTimeout = 300},
     .expected = kTimedOut},
    {.name = "BodyNeverEndsIntoAStreamThatKeepsNothing",
     .script = AnswerEndlessly("HTTP/1.1 200 OK\r\n\r\n", "b", 64 * kMiB),
     .settings = {.readTimeout = 300, .discardBody = true},
     .expected = kTimedOut,
     .heapBound = 4 * kMiB},

    // --- Connection cut short, or dripping ----------------------------------------------------
    {.name = "ResetInTheMiddleOfABody",
     .script = Answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + QByteArray(50000, 'x'),
                      [](Wire& w) { w.Reset(); }),
     .expected = Raised("EIdSocketError", "Socket Error # 10054\r\nConnection reset by peer.")},
    {.name = "OneByteEvery100ms",
     .script =
         [](Wire& w) {
           if (!w.ReadRequestHead().isEmpty() && w.SendSlowly("HTTP/1.0 200 OK\r\n\r\nok", 100ms)) {
             w.Close();
           }
         },
     .settings = {.readTimeout = 1000},
     .expected = Returned("ok")},
    {.name = "OneByteEvery100msAgainstA10msReadLimit",
     .script =
         [](Wire& w) {
           if (!w.ReadRequestHead().isEmpty()) {
             w.SendSlowly("HTTP/1.0 200 OK\r\n\r\nok", 100ms);
           }
         },
     .settings = {.readTimeout = 10},
     .expected = kTimedOut},
    {.name = "AByteJustInsideTheReadLimitAgainstTheCallLimit",
     .script = Answer("HTTP/1.1 200 OK\r\nX-Drip: ", [](Wire& w) { w.Drip("a", 100ms); }),
     .settings = {.readTimeout = 300, .callTimeout = 1000},
     .expected = kCallTimedOut},
    {.name = "InterimResponsesWithoutEndAgainstTheCallLimit",
     .script = Answer({}, [](Wire& w) { w.Drip("HTTP/1.1 100 Continue\r\n\r\n", 100ms); }),
     .settings = {.readTimeout = 300, .callTimeout = 1000},
     .expected = kCallTimedOut},
    {.name = "TrailerLinesWithoutEndAgainstTheCallLimit",
     .script = Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n",
                      [](Wire& w) { w.Drip("X-Trailer: 1\r\n", 100ms); }),
     .settings = {.readTimeout = 300, .callTimeout = 1000},
     .expected = kCallTimedOut},
    {.name = "ServerNeverAcceptsAgainstTheCallLimit",
     .settings = {.callTimeout = 300},
     .expected = kCallTimedOut,
     .peer = Peer::NeverAccepting},
    {.name = "ServerNeverAccepts",
     .settings = {.connectTimeout = 200},
     .expected = Raised("EIdConnectTimeout", "Connect timed out."),
     .peer = Peer::NeverAccepting},

    // --- Redirects ----------------------------------------------------------------------------
    {.name = "RedirectLoopAgainstTheDefaultMaximum",
     .script = RedirectLoop(false),
     .expected = Returned({}),
     .check = ExpectRequests(15, 1)},
    {.name = "ThousandRedirectLoopOnOneConnection",
     .script = RedirectLoop(false),
     .settings = {.redirectMaximum = 1000},
     .expected = Returned({}),
     .check = ExpectRequests(1000, 1)},
    {.name = "ThousandRedirectLoopClosingEachTime",
     .script = RedirectLoop(true),
     .settings = {.redirectMaximum = 1000},
     .expected = Returned({}),
     .check = ExpectRequests(1000, 1000)},
    {.name = "LocationWithCarriageReturn",
     .script = RedirectThenPage("/a\rb"),
     .expected = Returned("landed"),
     .check = ExpectRequestLine(1, "GET /a%0Db HTTP/1.1")},
    {.name = "LocationWithSpaces",
     .script = RedirectThenPage("  /dir with spaces/x y  "),
     .expected = Returned("landed"),
     .check = ExpectRequestLine(1, "GET /dir%20with%20spaces/x%20y HTTP/1.1")},
    {.name = "LocationWithUtf8",
     .script = RedirectThenPage("/caf\xc3\xa9/\xe2\x82\xac"),
     .expected = Returned("landed"),
     .check = ExpectRequestLine(1, "GET /caf%C3%A9/%E2%82%AC HTTP/1.1")},
    {.name = "LocationWithABareLatin1Byte",
     .script = RedirectThenPage("/caf\xe9"),
     .expected = Returned("landed"),
     .check = ExpectRequestLine(1, "GET /caf%EF%BF%BD HTTP/1.1")},

    // --- Cookies ------------------------------------------------------------------------------
    {.name = "TenThousandSetCookieLines",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\n" +
                               ManyLines(10000, "Set-Cookie: c", "=v; path=/") + "\r\nhi"),
     .expected = Returned("hi"),
     .check =
         [](CaseRun& run) {
           EXPECT_EQ(run.client.CookieManager()->CookieCollection().Count(), 50);
           EXPECT_EQ(run.client.CookieManager()->CookieCollection().Items(0)->CookieName(), "c205");
         }},
    {.name = "TenThousandSetCookieLinesWithoutLimit",
     .script = AnswerThenClose("HTTP/1.1 200 OK\r\n" +
                               ManyLines(10000, "Set-Cookie: c", "=v; path=/") + "\r\nhi"),
     .settings = {.headerLineLimit = 0},
     .expected = Returned("hi"),
     .check =
         [](CaseRun& run) {
           EXPECT_EQ(run.client.CookieManager()->CookieCollection().Count(), 50);
           EXPECT_EQ(run.client.CookieManager()->CookieCollection().Items(0)->CookieName(),
                     "c9950");
         }},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileServer, testing::ValuesIn(kCases), testsupport::RowName());

// Prints what every case measured, for the record of the suite's run.
class MeasuredTable : public testing::Environment {
public:
  void TearDown() override {
    std::lock_guard lock(measuredLock);
    if (measured.empty()) {
      return;
    }
    std::printf("\n%-44s %12s %12s  %s\n", "case", "sent (B)", "peak (B)", "outcome");
    for (const Measured& m : measured) {
      std::printf("%-44s %12lld %12lld  %s\n", m.name.c_str(), (long long)m.sent,
                  (long long)m.peakGrowth,
                  m.outcome.toUtf8()
                      .replace('\r', "\\r")
                      .replace('\n', "\\n")
                      .replace('\0', "\\0")
                      .constData());
    }
  }
};

const auto* const table = testing::AddGlobalTestEnvironment(new MeasuredTable);

} // namespace
