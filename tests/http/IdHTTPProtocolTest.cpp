// Response reading against scripted loopback peers: status codes, header blocks, every body
// framing and the status errors.

#include "http/IdHTTP.h"
#include "net/IdIOHandlerStack.h"

#include "tests/support/ExpectRaises.h"
#include "tests/support/NamedRow.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <QBuffer>
#include <functional>
#include <gtest/gtest.h>

namespace {

using testsupport::Reply;
using testsupport::Response;
using testsupport::ScriptedHTTPServer;

// --- Body framing ---------------------------------------------------------------------------

const QByteArray kAlphabet = "abcdefghijklmnopqrstuvwxyz";

struct FramingCase : testsupport::NamedRow {
  QByteArray reply;
  bool closeAfter;
  QByteArray body;
  int connections = 1; // for this reply and the next
};

class BodyFraming : public testing::TestWithParam<FramingCase> {};

// Each reply is followed, on a connection left open, by a second request whose answer must
// come out whole: a framing that reads too little or too much spoils it.
TEST_P(BodyFraming, DeliversTheBodyAndLeavesTheConnectionInStep) {
  const FramingCase& c = GetParam();
  ScriptedHTTPServer server(
      {Reply{c.reply, c.closeAfter}, Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url("/a")).toLatin1(), c.body);
  EXPECT_EQ(client.Get(server.Url("/b")), QStringLiteral("next"));
  EXPECT_EQ(server.Connections(), c.connections);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, BodyFraming,
    testing::Values(
        FramingCase{"ContentLength", Response("HTTP/1.1 200 OK", "hello"), false, "hello"},
        FramingCase{"ContentLengthZero", Response("HTTP/1.1 200 OK"), false, ""},
        FramingCase{"Chunked",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\n" + kAlphabet +
                        "\r\n0\r\n\r\n",
                    false, kAlphabet},
        FramingCase{"ChunkExtensionAfterSpace",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a ext\r\n" + kAlphabet +
                        "\r\n0\r\n\r\n",
                    false, kAlphabet},
        FramingCase{"ChunkExtensionAfterSemicolon",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;name=value\r\n" +
                        kAlphabet + "\r\n0;last\r\n\r\n",
                    false, kAlphabet},
        FramingCase{"SeveralChunksInAnyCase",
                    "HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n3\r\nabc\r\nA\r\n"
                    "0123456789\r\n0\r\n\r\n",
                    false, "abc0123456789"},
        FramingCase{"ZeroChunkAlone",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false, ""},
        FramingCase{"TrailerLines",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n"
                    "X-Checksum: 1\r\nX-More: 2\r\n\r\n",
                    false, "ok"},
        FramingCase{"ChunkedWinsOverLength",
                    "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "2\r\nok\r\n0\r\n\r\n",
                    false, "ok"},
        FramingCase{"UntilClose", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nto the end",
                    true, "to the end", 2},
        FramingCase{"LengthNotANumberReadsUntilClose",
                    "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nall of it", true, "all of it",
                    2},
        FramingCase{"LeftoverBytesAreDropped", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokXY",
                    false, "ok", 2}),
    testsupport::RowName());

TEST(BodyFraming, AChunkSizeThatIsNoNumberFailsTheCallAndEndsTheConnection) {
  ScriptedHTTPServer server(
      {Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\nzz\r\nrest\r\n"},
       Reply{Response("HTTP/1.1 200 OK", "fresh")}});
  TIdHTTP client;
  testsupport::ExpectRaises<EIdHTTPFramingError>([&] { client.Get(server.Url()); },
                                                 "Response has an invalid chunk size.");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("fresh"));
  EXPECT_EQ(server.Connections(), 2);
}

TEST(BodyFraming, AnnouncedSizesReserveNothing) {
  ScriptedHTTPServer server(
      {Reply{"HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nsmall", true},
       Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffff\r\ntiny", true}});
  TIdHTTP client;
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  EXPECT_THROW(client.GetToStream(server.Url(), body), EIdHTTPBodyCutShort);
  EXPECT_EQ(body.data(), QByteArray("small"));
  EXPECT_LT(body.buffer().capacity(), 1 << 20);
  body.buffer().clear();
  body.seek(0);
  EXPECT_THROW(client.GetToStream(server.Url(), body), EIdHTTPBodyCutShort);
  EXPECT_EQ(body.data(), QByteArray("tiny"));
  EXPECT_LT(body.buffer().capacity(), 1 << 20);
}

// --- Bodies cut short or left unread ----------------------------------------------------------

using Script = std::function<void(testsupport::LoopbackPeer&)>;

Script SendAndClose(QByteArray bytes) {
  return [bytes = std::move(bytes)](testsupport::LoopbackPeer& peer) {
    if (!peer.ReadRequestHead().isEmpty()) {
      peer.Send(bytes);
      peer.Close();
    }
  };
}

// A redirect whose body has not begun when the client stops waiting for it. Its bytes come
// once a second request arrives on the same connection, shaped as a response of their own.
Script LateRedirectBody() {
  return [](testsupport::LoopbackPeer& peer) {
    const QByteArray late = Response("HTTP/1.1 200 OK", "stale");
    if (peer.ReadRequestHead().isEmpty()) {
      return;
    }
    peer.Send("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: " +
              QByteArray::number(late.size()) + "\r\n\r\n");
    if (!peer.ReadRequestHead().isEmpty()) {
      peer.Send(late);
    }
  };
}

struct UnfinishedBodyCase : testsupport::NamedRow {
  Script firstConnection;
  QByteArray kept;         // what the caller's stream holds after the call
  const char* raises;      // the exception's class, or null for none
  const char16_t* message; // its message
};

class UnfinishedBody : public testing::TestWithParam<UnfinishedBodyCase> {};

// Every connection after the first answers "fresh": the next call must get that, on a new
// connection, whatever the first one left behind.
TEST_P(UnfinishedBody, RaisesKeepsWhatCameAndNeverReusesTheConnection) {
  const UnfinishedBodyCase& c = GetParam();
  testsupport::LoopbackServer server([&](testsupport::LoopbackPeer& peer) {
    if (peer.Index() == 0) {
      c.firstConnection(peer);
      return;
    }
    while (!peer.ReadRequestHead().isEmpty()) {
      peer.Send(Response("HTTP/1.1 200 OK", "fresh"));
    }
  });
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.Port());
  TIdHTTP client;
  client.SetHandleRedirects(true);
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  try {
    client.GetToStream(url, body);
    EXPECT_EQ(c.raises, nullptr) << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), QString::fromLatin1(c.raises ? c.raises : "none"));
    EXPECT_EQ(e.Message(), QString::fromUtf16(c.message));
  }
  EXPECT_EQ(body.data(), c.kept);
  EXPECT_EQ(client.Get(url), QStringLiteral("fresh"));
  EXPECT_EQ(server.ConnectionCount(), 2);
}

const QByteArray kTenBytes = "0123456789";

INSTANTIATE_TEST_SUITE_P(
    Cases, UnfinishedBody,
    testing::Values(
        UnfinishedBodyCase{
            "ShortOfItsLength",
            SendAndClose("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + kTenBytes), kTenBytes,
            "EIdHTTPBodyCutShort", u"Response body cut short: 10 of 1000 bytes received."},
        UnfinishedBodyCase{
            "ShortOfALengthBeyond32Bits",
            SendAndClose("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\n" + kTenBytes),
            kTenBytes, "EIdHTTPBodyCutShort",
            u"Response body cut short: 10 of 3000000000 bytes received."},
        UnfinishedBodyCase{"ShortOfTheLargestLength",
                           SendAndClose("HTTP/1.1 200 OK\r\nContent-Length: "
                                        "9223372036854775807\r\n\r\n" +
                                        kTenBytes),
                           kTenBytes, "EIdHTTPBodyCutShort",
                           u"Response body cut short: 10 of 9223372036854775807 bytes received."},
        UnfinishedBodyCase{"LengthPastTheLargestReadsUntilClose",
                           SendAndClose("HTTP/1.1 200 OK\r\nContent-Length: "
                                        "9223372036854775808\r\n\r\n" +
                                        kTenBytes),
                           kTenBytes, nullptr, u""},
        UnfinishedBodyCase{"InsideAChunk",
                           SendAndClose("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                        "2\r\nok\r\n5\r\nab"),
                           "okab", "EIdHTTPBodyCutShort",
                           u"Response body cut short: 4 bytes received, the connection closed "
                           u"before the last chunk."},
        UnfinishedBodyCase{"BeforeTheLastChunk",
                           SendAndClose("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                        "2\r\nok\r\n"),
                           "ok", "EIdHTTPBodyCutShort",
                           u"Response body cut short: 2 bytes received, the connection closed "
                           u"before the last chunk."},
        UnfinishedBodyCase{"InAChunkBeyond32Bits",
                           SendAndClose("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                        "100000000\r\nabc"),
                           "abc", "EIdHTTPBodyCutShort",
                           u"Response body cut short: 3 bytes received, the connection closed "
                           u"before the last chunk."},
        UnfinishedBodyCase{"RedirectBodyAfterTheDiscardWait", LateRedirectBody(), "fresh", nullptr,
                           u""}),
    testsupport::RowName());

// --- Chunked bodies across receives ---------------------------------------------------------

// A pattern that shows a byte out of place: every position holds a different run of letters.
QByteArray Pattern(int size, int seed) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (int i = 0; i < size; ++i) {
    bytes[i] = char('a' + (i * 7 + seed) % 26);
  }
  return bytes;
}

// Two chunks long enough for the receives to grow to their largest, then a long run of small
// ones, which those large receives take several at a time, the next response's bytes with them.
std::vector<int> GrownThenSmall() {
  std::vector<int> sizes{140000, 140000};
  sizes.insert(sizes.end(), 2000, 300);
  return sizes;
}

struct ChunkedCase : testsupport::NamedRow {
  std::vector<int> sizes; // the chunks, in order
  QByteArray trailer;     // between the last chunk and the empty line
};

// Chunks small and large, received a byte, three bytes or 32 KiB at a time, so that size lines,
// data and line ends are split in every place and the pieces written land on both sides of the
// sizes at which they are collected or written as they are.
class ChunkedAcrossReceives : public testing::TestWithParam<std::tuple<ChunkedCase, int32_t>> {};

TEST_P(ChunkedAcrossReceives, ArriveWholeInOrderAndLeaveTheConnectionInStep) {
  const auto& [c, receiveSize] = GetParam();
  QByteArray reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  QByteArray body;
  for (size_t i = 0; i < c.sizes.size(); ++i) {
    const QByteArray data = Pattern(c.sizes[i], int(i));
    reply += QByteArray::number(c.sizes[i], 16) + (i % 2 ? ";ext=1\r\n" : "\r\n") + data + "\r\n";
    body += data;
  }
  reply += "0\r\n" + c.trailer + "\r\n";
  ScriptedHTTPServer server({Reply{reply}, Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  auto* handler = new TIdIOHandlerStack(&client);
  handler->SetRecvBufferSize(receiveSize);
  client.SetIOHandler(handler);
  // What the stream held beyond the body must not survive it.
  QByteArray target = "KEEP" + QByteArray(body.size() + 5000, '-');
  QBuffer stream(&target);
  stream.open(QIODevice::ReadWrite);
  stream.seek(4);
  client.GetToStream(server.Url("/a"), stream);
  EXPECT_TRUE(target == "KEEP" + body) << c.name << ": " << target.size() << " bytes";
  EXPECT_EQ(client.Get(server.Url("/b")), QStringLiteral("next"));
  EXPECT_EQ(server.Connections(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkedAcrossReceives,
    testing::Combine(
        testing::Values(
            ChunkedCase{"tiny chunks", std::vector<int>(600, 7), {}},
            ChunkedCase{"around the write sizes", {4095, 4096, 4097, 16383, 16384, 16385, 1}, {}},
            ChunkedCase{
                "small runs past a collected run", {3000, 3000, 3000, 3000, 3000, 3000, 9000}, {}},
            ChunkedCase{"larger than a receive", {70000, 5, 40000}, {}},
            ChunkedCase{"small chunks after large receives", GrownThenSmall(), {}},
            ChunkedCase{"trailer lines", {10, 20}, "X-Sum: 1\r\nX-More: 2\r\n"}),
        testing::Values(1, 3, 32768)),
    [](const auto& info) {
      QString name = QString::fromLatin1(std::get<0>(info.param).name);
      name.replace(u' ', u'_');
      return name.toStdString() + "_" + std::to_string(std::get<1>(info.param));
    });

TEST(ChunkedBody, ACloseInsideAChunkKeepsTheBytesThatCame) {
  ScriptedHTTPServer server(
      {Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n10\r\nonly", true}});
  TIdHTTP client;
  QByteArray target = "KEEP" + QByteArray(100, '-');
  QBuffer stream(&target);
  stream.open(QIODevice::ReadWrite);
  stream.seek(4);
  EXPECT_THROW(client.GetToStream(server.Url(), stream), EIdHTTPBodyCutShort);
  EXPECT_EQ(target, QByteArray("KEEPabconly"));
}

// --- Header blocks --------------------------------------------------------------------------

TEST(HeaderBlock, KeepsTheLimitAndDropsTheRestUpToTheEmptyLine) {
  QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n";
  for (int i = 2; i <= 300; ++i) {
    head += "X-Line-" + QByteArray::number(i) + ": " + QByteArray::number(i) + "\r\n";
  }
  head += "\r\nbody";
  ScriptedHTTPServer server({Reply{head}, Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("body"));
  const TIdHeaderList& lines = client.CurrentResponse().HeaderLines();
  ASSERT_EQ(lines.Count(), 255);
  EXPECT_EQ(lines[254], QStringLiteral("X-Line-255: 255"));
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("next"));
  EXPECT_EQ(server.Connections(), 1);
}

TEST(HeaderBlock, ACloseBeforeTheBlocksEndIsRaised) {
  // A block the close cuts off says nothing of the body: what came is no response.
  for (const QByteArray& tail : {QByteArray(), QByteArray("Content-Le")}) {
    SCOPED_TRACE(tail.constData());
    ScriptedHTTPServer server({Reply{"HTTP/1.1 200 OK\r\nX-Only: 1\r\n" + tail, true}});
    TIdHTTP client;
    testsupport::ExpectRaises<EIdConnClosedGracefully>([&] { client.Get(server.Url()); },
                                                       "Connection Closed Gracefully.");
    EXPECT_EQ(client.CurrentResponse().HeaderLines().Lines(), QStringList{"X-Only: 1"});
    EXPECT_FALSE(client.Connected());
  }
}

TEST(HeaderBlock, ACloseBeforeTheStatusLineIsRaised) {
  ScriptedHTTPServer server({Reply{{}, true}});
  TIdHTTP client;
  testsupport::ExpectRaises<EIdConnClosedGracefully>([&] { client.Get(server.Url()); },
                                                     "Connection Closed Gracefully.");
  EXPECT_FALSE(client.Connected());
}

TEST(HeaderBlock, AReadTimeOutInTheBlockIsRaisedNotTakenAsItsEnd) {
  testsupport::LoopbackServer server([](testsupport::LoopbackPeer& peer) {
    peer.ReadRequestHead();
    peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n");
    peer.WaitForRelease();
  });
  TIdHTTP client;
  client.SetReadTimeout(100);
  testsupport::ExpectRaises<EIdReadTimeout>(
      [&] { client.Get(QStringLiteral("http://127.0.0.1:%1/").arg(server.Port())); },
      "Read timed out.");
  server.Release();
}

TEST(HeaderBlock, InterimContinueResponsesAreDroppedButTheirCookiesKept) {
  ScriptedHTTPServer server({Reply{"HTTP/1.1 100 Continue\r\nSet-Cookie: early=1\r\n\r\n" +
                                   Response("HTTP/1.1 200 OK", "final", "X-Final: yes\r\n")},
                             Reply{Response("HTTP/1.1 200 OK", "again")}});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("final"));
  EXPECT_EQ(client.CurrentResponse().StatusLine(), QStringLiteral("HTTP/1.1 200 OK"));
  EXPECT_EQ(client.CurrentResponse().HeaderLines().ReadHeader(u"X-Final"), QStringLiteral("yes"));
  client.Get(server.Url());
  EXPECT_EQ(server.Header(1, "Cookie"), QByteArray("early=1"));
}

// --- Status errors --------------------------------------------------------------------------

struct StatusCase : testsupport::NamedRow {
  QByteArray reply;
  int32_t code; // 0: the call succeeds
  const char16_t* text;
};

class StatusHandling : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusHandling, RaisesWithTheErrorPageOrDeliversTheBody) {
  const StatusCase& c = GetParam();
  ScriptedHTTPServer server({Reply{c.reply}, Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  const QString statusLine = QString::fromLatin1(c.reply.left(c.reply.indexOf("\r\n")));
  try {
    client.GetToStream(server.Url(), stream);
    EXPECT_EQ(c.code, 0) << "no exception";
    EXPECT_EQ(QString::fromUtf8(stream.data()), QString::fromUtf16(c.text));
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), c.code);
    EXPECT_EQ(e.Message(), statusLine);
    EXPECT_EQ(e.ReplyBody(), QString::fromUtf16(c.text));
    EXPECT_EQ(e.ClassName(), QStringLiteral("EIdHTTPProtocolException"));
    EXPECT_TRUE(stream.data().isEmpty());
  }
  EXPECT_EQ(client.ResponseText(), statusLine);
  // The error page was read in full, so the kept connection serves the next call.
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("next"));
  EXPECT_EQ(server.Connections(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusHandling,
    testing::Values(
        StatusCase{"NotFoundInUtf8",
                   Response("HTTP/1.1 404 Not Found", "Seite \xc3\xbc \xe2\x82\xac",
                            "Content-Type: text/html; charset=utf-8\r\n"),
                   404, u"Seite \u00fc \u20ac"},
        StatusCase{"ServerErrorIn8Bit",
                   Response("HTTP/1.1 503 Busy", "caf\xe9", "Content-Type: text/plain\r\n"), 503,
                   u"caf\u00e9"},
        StatusCase{"VersionAlone", Response("HTTP/1.1", "?"), -1, u"?"},
        StatusCase{"NotModified", "HTTP/1.1 304 Not Modified\r\nETag: \"x\"\r\n\r\n", 304, u""},
        StatusCase{"SwitchingProtocols", "HTTP/1.1 101 Switching Protocols\r\n\r\n", 101, u""},
        StatusCase{"NoContent", "HTTP/1.1 204 No Content\r\n\r\n", 0, u""},
        StatusCase{"CodeWithoutReason", Response("HTTP/1.1 200", "plain"), 0, u"plain"},
        StatusCase{"OtherSuccess", Response("HTTP/1.1 206 Partial Content", "part"), 0, u"part"}),
    testsupport::RowName());

TEST(StatusHandling, IgnoredCodesEndTheCallWithoutBodyOrError) {
  ScriptedHTTPServer server({Reply{Response("HTTP/1.1 404 Not Found", "missing")},
                             Reply{Response("HTTP/1.1 410 Gone", "gone")},
                             Reply{Response("HTTP/1.1 200 OK", "ok")}});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url(), {404, 500}), QString());
  EXPECT_THROW(client.Get(server.Url(), {404, 500}), EIdHTTPProtocolException);
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("ok"));
  EXPECT_EQ(server.Connections(), 1);
}

TEST(StatusHandling, AHeadResponseWaitsBrieflyForNoBody) {
  ScriptedHTTPServer server({Reply{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"},
                             Reply{Response("HTTP/1.1 200 OK", "after")}});
  TIdHTTP client;
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  client.PerformRequest(QStringLiteral("HEAD"), server.Url(), nullptr, &stream, {});
  EXPECT_TRUE(stream.data().isEmpty());
  EXPECT_EQ(client.CurrentResponse().ContentLength(), 1000);
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("after"));
  EXPECT_EQ(server.RequestLine(0), QByteArray("HEAD / HTTP/1.1"));
}

TEST(StatusHandling, ABodyThatComesAnywayWithNoContentIsDropped) {
  ScriptedHTTPServer server({Reply{"HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nstray"},
                             Reply{Response("HTTP/1.1 200 OK", "clean")}});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url()), QString());
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("clean"));
}

} // namespace
