// The exchange against scripted loopback peers: connection reuse, address resolution, the
// request line on the wire, redirects, events, cookies and challenge answers.

#include "http/IdHTTP.h"
#include "http/IdAuthenticationDigest.h"

#include "tests/support/ExpectRaises.h"
#include "tests/support/LoopbackServer.h"
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

Reply Ok(const QByteArray& body = "ok", const QByteArray& headers = {}) {
  return Reply{Response("HTTP/1.1 200 OK", body, headers)};
}

Reply Redirect(const QByteArray& location, const QByteArray& status = "HTTP/1.1 302 Found") {
  return Reply{Response(status, "moved", "Location: " + location + "\r\n")};
}

// --- Connections ----------------------------------------------------------------------------

struct KeepCase : testsupport::NamedRow {
  TIdHTTPProtocolVersion version;
  QByteArray statusLine;
  QByteArray connectionHeader;
  int connections; // for two calls
};

class ConnectionReuse : public testing::TestWithParam<KeepCase> {};

TEST_P(ConnectionReuse, FollowsTheVersionAndTheConnectionHeader) {
  const KeepCase& c = GetParam();
  const QByteArray headers =
      c.connectionHeader.isEmpty() ? QByteArray() : "Connection: " + c.connectionHeader + "\r\n";
  const Reply reply{Response(c.statusLine, "body", headers)};
  ScriptedHTTPServer server({reply, reply});
  TIdHTTP client;
  client.SetProtocolVersion(c.version);
  EXPECT_EQ(client.Get(server.Url("/one")), QStringLiteral("body"));
  EXPECT_EQ(client.Get(server.Url("/two")), QStringLiteral("body"));
  EXPECT_EQ(server.Connections(), c.connections);
  const QByteArray version = c.version == pv1_0 ? "HTTP/1.0" : "HTTP/1.1";
  EXPECT_EQ(server.RequestLine(1), "GET /two " + version);
  EXPECT_EQ(server.Header(0, "Connection"), c.version == pv1_0 ? "keep-alive" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionReuse,
    testing::Values(KeepCase{"Http11Kept", pv1_1, "HTTP/1.1 200 OK", "", 1},
                    KeepCase{"Http11Close", pv1_1, "HTTP/1.1 200 OK", "close", 2},
                    KeepCase{"Http11CloseAnyCase", pv1_1, "HTTP/1.1 200 OK", " CLOSE ", 2},
                    KeepCase{"Http11CloseAmongTokensIsNotClose", pv1_1, "HTTP/1.1 200 OK",
                             "close, x-other", 1},
                    KeepCase{"Http10ReplyToHttp11Request", pv1_1, "HTTP/1.0 200 OK", "", 1},
                    KeepCase{"Http10WithoutKeepAlive", pv1_0, "HTTP/1.0 200 OK", "", 2},
                    KeepCase{"Http10KeepAlive", pv1_0, "HTTP/1.0 200 OK", "Keep-Alive", 1}),
    testsupport::RowName());

TEST(Connections, AnotherPeerClosesTheOldConnectionFirst) {
  ScriptedHTTPServer first({Ok("first")});
  ScriptedHTTPServer second({Ok("second")});
  TIdHTTP client;
  EXPECT_EQ(client.Get(first.Url()), QStringLiteral("first"));
  EXPECT_EQ(client.Get(second.Url()), QStringLiteral("second"));
  // The first peer's script ends only when the client has closed its connection.
  EXPECT_TRUE(first.Server().WaitForScripts(1, std::chrono::seconds(2)));
  EXPECT_EQ(second.Header(0, "Host"), "127.0.0.1:" + QByteArray::number(second.Port()));
}

TEST(Connections, APeerThatClosedBetweenCallsIsNoticedAndConnectedAgain) {
  ScriptedHTTPServer server({Reply{Response("HTTP/1.1 200 OK", "one"), true}, Ok("two")});
  TIdHTTP client;
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("one"));
  ASSERT_TRUE(server.Server().WaitForScripts(1));
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("two"));
  EXPECT_EQ(server.Connections(), 2);
}

// The server (its keep-alive run out, or a middlebox that forgot the idle connection) ends the
// connection as a request arrives, in one of several ways. On a kept connection that request
// is the second, after one answered "first"; new connections answer "fresh".
enum class RequestEnd { CloseUnanswered, ResetUnanswered, StatusLineCut };

struct DeadConnectionCase : testsupport::NamedRow {
  const char* method;
  RequestEnd end;
  bool kept;        // false: the request is the first on its connection
  QString expected; // the call's body, or the class of what it raises
  int connections;
};

class DeadConnection : public testing::TestWithParam<DeadConnectionCase> {};

TEST_P(DeadConnection, IsMadeGoodOnceForAReadOnAKeptConnectionBeforeItsAnswer) {
  const DeadConnectionCase& c = GetParam();
  testsupport::LoopbackServer server([&c](testsupport::LoopbackPeer& peer) {
    if (peer.ReadRequestHead().isEmpty()) {
      return;
    }
    if (peer.Index() > 0) {
      peer.Send(Response("HTTP/1.1 200 OK", "fresh"));
      return;
    }
    if (c.kept &&
        (!peer.Send(Response("HTTP/1.1 200 OK", "first")) || peer.ReadRequestHead().isEmpty())) {
      return;
    }
    if (c.end == RequestEnd::ResetUnanswered) {
      peer.Reset();
      return;
    }
    if (c.end == RequestEnd::StatusLineCut) {
      peer.Send("HTTP/1.1 2");
    }
    peer.Close();
  });
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.Port());
  TIdHTTP client;
  if (c.kept) {
    ASSERT_EQ(client.Get(url), QStringLiteral("first"));
  }
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  QString outcome;
  try {
    client.PerformRequest(QString::fromLatin1(c.method), url, nullptr, &body, {});
    outcome = QString::fromLatin1(body.data());
  } catch (const Exception& failure) {
    outcome = failure.ClassName();
  }
  EXPECT_EQ(outcome, c.expected);
  EXPECT_EQ(server.ConnectionCount(), c.connections);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeadConnection,
    testing::Values(
        DeadConnectionCase{"KeptGetClosed", "GET", RequestEnd::CloseUnanswered, true, "fresh", 2},
        DeadConnectionCase{"KeptGetReset", "GET", RequestEnd::ResetUnanswered, true, "fresh", 2},
        DeadConnectionCase{"KeptHeadClosed", "HEAD", RequestEnd::CloseUnanswered, true, "", 2},
        DeadConnectionCase{"KeptPostClosed", "POST", RequestEnd::CloseUnanswered, true,
                           "EIdConnClosedGracefully", 1},
        DeadConnectionCase{"KeptGetWithItsStatusLineCut", "GET", RequestEnd::StatusLineCut, true,
                           "EIdConnClosedGracefully", 1},
        DeadConnectionCase{"NewGetClosed", "GET", RequestEnd::CloseUnanswered, false,
                           "EIdConnClosedGracefully", 1}),
    testsupport::RowName());

// A response cut short by the read limit: the first connection sends the start of a response,
// and once the test lets it go on, a whole response of its own that no request asked for.
struct CutShortCase : testsupport::NamedRow {
  QByteArray start;
};

class CutShort : public testing::TestWithParam<CutShortCase> {};

TEST_P(CutShort, LeavesNoConnectionForTheNextCallToReadTheRestFrom) {
  const QByteArray start = GetParam().start;
  testsupport::LoopbackServer server([&](testsupport::LoopbackPeer& peer) {
    if (peer.ReadRequestHead().isEmpty()) {
      return;
    }
    if (peer.Index() > 0) {
      peer.Send(Response("HTTP/1.1 200 OK", "fresh"));
      return;
    }
    peer.Send(start);
    if (peer.WaitForRelease() && peer.Send(Response("HTTP/1.1 200 OK", "stale"))) {
      peer.ReadUntilClose();
    }
  });
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.Port());
  TIdHTTP client;
  client.SetReadTimeout(100);
  testsupport::ExpectRaises<EIdReadTimeout>([&] { client.Get(url); }, "Read timed out.");
  EXPECT_FALSE(client.Connected());
  server.Release();
  EXPECT_EQ(client.Get(url), QStringLiteral("fresh"));
  EXPECT_EQ(server.ConnectionCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutShort,
    testing::Values(CutShortCase{"InTheStatusLine", "HTTP/1.1 2"},
                    CutShortCase{"InTheHeaderBlock", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
                    CutShortCase{"InABody", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
                    CutShortCase{"InAChunkedBody",
                                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab"}),
    testsupport::RowName());

// --- Addresses and the request line -----------------------------------------------------------

TEST(Addresses, ARelativeAddressAppliesToThePreviousOne) {
  ScriptedHTTPServer server({Ok(), Ok(), Ok()});
  TIdHTTP client;
  client.Get(server.Url("/photos/set/index.html?page=2"));
  client.Get(QStringLiteral("list?page=3"));
  client.Get(QStringLiteral("../people/"));
  EXPECT_EQ(server.RequestLine(1), QByteArray("GET /photos/set/list?page=3 HTTP/1.1"));
  EXPECT_EQ(server.RequestLine(2), QByteArray("GET /photos/people/ HTTP/1.1"));
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(client.CurrentURI().HostPart(), QStringLiteral("127.0.0.1"));
}

TEST(Addresses, TheTargetIsEncodedForTheRequestLine) {
  ScriptedHTTPServer server({Ok(), Redirect("/dir/caf\xc3\xa9 menu\rX-Injected: 1"), Ok("landed")});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  client.Get(server.Url("/a b/%41?q=\"x y\""));
  EXPECT_EQ(server.RequestLine(0), QByteArray("GET /a%20b/%41?q=%22x%20y%22 HTTP/1.1"));
  EXPECT_EQ(client.Get(server.Url("/start")), QStringLiteral("landed"));
  EXPECT_EQ(server.RequestLine(2),
            QByteArray("GET /dir/caf%C3%A9%20menu%0DX-Injected:%201 HTTP/1.1"));
  EXPECT_TRUE(server.Header(2, "X-Injected").isEmpty());
}

struct RefusedCase : testsupport::NamedRow {
  QString address;
  QString message;
};

class RefusedAddresses : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedAddresses, FailBeforeAnyConnection) {
  TIdHTTP client;
  try {
    client.Get(GetParam().address);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), GetParam().message);
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedAddresses,
    testing::Values(
        RefusedCase{"HttpsNeedsATlsHandler", "https://127.0.0.1:9/",
                    "IOHandler value is not valid"},
        RefusedCase{"HttpsDefaultPort", "HTTPS://127.0.0.1/x", "IOHandler value is not valid"},
        RefusedCase{"OtherSchemeWithoutPort", "ftp://127.0.0.1/file", "Unknown Protocol"},
        RefusedCase{"RelativeOnTheFirstCall", "/index.html", "Unknown Protocol"},
        RefusedCase{"PortOutOfRange", "http://127.0.0.1:70000/", "Range check error"}),
    testsupport::RowName());

TEST(Addresses, MethodsThatNeedVersion11AreRefusedUnderVersion10) {
  ScriptedHTTPServer server({Ok()});
  TIdHTTP client;
  client.SetProtocolVersion(pv1_0);
  testsupport::ExpectRaises<EIdException>(
      [&] { client.PerformRequest("delete", server.Url(), nullptr, nullptr, {}); },
      "Request method requires HTTP version 1.1");
  EXPECT_EQ(server.Connections(), 0);
}

// Through a proxy the request line carries the whole address and the "Host" line names the
// server, not the proxy; nothing is resolved but the proxy.
TEST(Addresses, AProxyGetsTheWholeAddressAndTheServersHost) {
  ScriptedHTTPServer proxy({Ok(), Ok()});
  TIdHTTP client;
  client.ProxyParams().SetProxyServer(QStringLiteral("127.0.0.1"));
  client.ProxyParams().SetProxyPort(proxy.Port());
  client.Get(QStringLiteral("http://photos.invalid/a b?x=1"));
  client.Get(QStringLiteral("http://photos.invalid:8080/next"));
  EXPECT_EQ(proxy.RequestLine(0), QByteArray("GET http://photos.invalid/a%20b?x=1 HTTP/1.1"));
  EXPECT_EQ(proxy.Header(0, "Host"), QByteArray("photos.invalid"));
  EXPECT_EQ(proxy.RequestLine(1), QByteArray("GET http://photos.invalid:8080/next HTTP/1.1"));
  EXPECT_EQ(proxy.Header(1, "Host"), QByteArray("photos.invalid:8080"));
  EXPECT_EQ(proxy.Connections(), 1);
}

// The proxy is connected to by the family of its own address, not of the server's behind it.
TEST(Addresses, AProxyIsReachedByItsOwnAddressFamily) {
  if (!testsupport::LoopbackServer::HasIPv6()) {
    GTEST_SKIP() << "no ::1 on this machine";
  }
  for (const auto family : {testsupport::Family::IPv6, testsupport::Family::IPv4}) {
    ScriptedHTTPServer proxy({Ok("via proxy")}, family);
    TIdHTTP client;
    const bool six = family == testsupport::Family::IPv6;
    client.ProxyParams().SetProxyServer(six ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"));
    client.ProxyParams().SetProxyPort(proxy.Port());
    const QString target =
        six ? QStringLiteral("http://127.0.0.1:1/a") : QStringLiteral("http://[::1]:1/a");
    EXPECT_EQ(client.Get(target), QStringLiteral("via proxy"));
    EXPECT_EQ(proxy.RequestLine(0), "GET " + target.toLatin1() + " HTTP/1.1");
  }
}

TEST(Addresses, AnIPv6HostStaysIPv6AcrossRelativeRedirects) {
  if (!testsupport::LoopbackServer::HasIPv6()) {
    GTEST_SKIP() << "no ::1 on this machine";
  }
  ScriptedHTTPServer server({Redirect("next"), Ok("six")}, testsupport::Family::IPv6);
  TIdHTTP client;
  client.SetHandleRedirects(true);
  EXPECT_EQ(client.Get(server.Url("/dir/first")), QStringLiteral("six"));
  EXPECT_EQ(server.RequestLine(1), QByteArray("GET /dir/next HTTP/1.1"));
  EXPECT_EQ(server.Header(1, "Host"), "[::1]:" + QByteArray::number(server.Port()));
  EXPECT_EQ(server.Connections(), 1);
}

// --- Redirects ------------------------------------------------------------------------------

struct LimitCase {
  int32_t maximum;
  int requests;
};

class RedirectLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(RedirectLimit, EndsTheCallQuietlyWithTheLastTargetInLocation) {
  ScriptedHTTPServer server([](const QByteArray&, int index) {
    return Redirect("/hop" + QByteArray::number(index + 1));
  });
  TIdHTTP client;
  client.SetHandleRedirects(true);
  client.SetRedirectMaximum(GetParam().maximum);
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  client.GetToStream(server.Url("/start"), stream);
  const int requests = GetParam().requests;
  EXPECT_TRUE(stream.data().isEmpty());
  EXPECT_EQ(server.Heads().size(), requests);
  EXPECT_EQ(client.RedirectCounter(), requests);
  EXPECT_EQ(client.CurrentResponse().Location(), QStringLiteral("/hop%1").arg(requests));
  EXPECT_EQ(server.RequestLine(requests - 1),
            requests == 1 ? QByteArray("GET /start HTTP/1.1")
                          : "GET /hop" + QByteArray::number(requests - 1) + " HTTP/1.1");
  EXPECT_EQ(server.Connections(), 1);
}

INSTANTIATE_TEST_SUITE_P(Maximums, RedirectLimit,
                         testing::Values(LimitCase{15, 15}, LimitCase{3, 3}, LimitCase{1, 1},
                                         LimitCase{0, 1}));

TEST(Redirects, WithoutHandlingARedirectIsAnError) {
  ScriptedHTTPServer server({Redirect("/b")});
  TIdHTTP client;
  try {
    client.Get(server.Url("/a"));
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 302);
    EXPECT_EQ(e.Message(), QStringLiteral("HTTP/1.1 302 Found"));
    EXPECT_EQ(e.ReplyBody(), QStringLiteral("moved"));
  }
}

TEST(Redirects, AHandlerTakesTheRedirectWithoutFollowingIt) {
  ScriptedHTTPServer server({Redirect("/b"), Ok()});
  TIdHTTP client;
  client.OnRedirect = [](TIdCustomHTTP*, QString& dest, int32_t&, bool& handled, QString&) {
    EXPECT_FALSE(handled);
    dest = QStringLiteral("/chosen");
    handled = true;
  };
  EXPECT_EQ(client.Get(server.Url("/a")), QString());
  EXPECT_EQ(client.CurrentResponse().Location(), QStringLiteral("/chosen"));
  EXPECT_EQ(server.Heads().size(), 1);
}

TEST(Redirects, AHandlerMayChangeTargetAndMethodButNotTheCount) {
  ScriptedHTTPServer server({Redirect("/b", "HTTP/1.1 301 Moved Permanently"),
                             Redirect("/c", "HTTP/1.1 307 Temporary Redirect"), Ok("end")});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  QList<int32_t> counts;
  client.OnRedirect = [&](TIdCustomHTTP* sender, QString& dest, int32_t& count, bool& handled,
                          QString& method) {
    EXPECT_EQ(sender, &client);
    EXPECT_TRUE(handled);
    counts << count;
    count = 100;
    if (dest == u"/b") {
      dest = QStringLiteral("/elsewhere");
      method = QStringLiteral("HEAD");
    }
  };
  EXPECT_EQ(client.Get(server.Url("/a")), QString());
  EXPECT_EQ(counts, (QList<int32_t>{1, 2}));
  EXPECT_EQ(server.RequestLine(1), QByteArray("HEAD /elsewhere HTTP/1.1"));
  EXPECT_EQ(server.RequestLine(2), QByteArray("HEAD /c HTTP/1.1"));
}

TEST(Redirects, ALocationMakesAnyResponseARedirect) {
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 201 Created", "made", "Location: /item/7\r\n")}, Ok("item")});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  EXPECT_EQ(client.Get(server.Url("/items")), QStringLiteral("item"));
  EXPECT_EQ(server.RequestLine(1), QByteArray("GET /item/7 HTTP/1.1"));
}

// A bare CR in a header line would end it early for many servers and let what follows pass for
// a header of its own; such a head is never sent.
TEST(Redirects, ALineBreakInTheTargetsPortReachesNoHeader) {
  ScriptedHTTPServer target({Ok("never")});
  const QByteArray port = QByteArray::number(target.Port());
  ScriptedHTTPServer origin({Redirect("http://127.0.0.1:" + port + "\r/there")});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  testsupport::ExpectRaises<EIdHTTPHeaderLineBreak>(
      [&] { client.Get(origin.Url("/here")); },
      "Header line holds a line break: Host: 127.0.0.1:" + QString::fromLatin1(port));
  ASSERT_TRUE(target.Server().WaitForScripts(1));
  EXPECT_EQ(target.Server().Received(0), QByteArray());
}

// A caller's value holding a line break, in a record field or a custom line, with other custom
// lines beside it: those are joined to the record's lines, and a break must not pass that join
// as the start of a header of its own.
struct LineBreakCase : testsupport::NamedRow {
  std::function<void(TIdHTTPRequest&)> set;
  const char* refusedLine;
};

class CallersLineBreak : public testing::TestWithParam<LineBreakCase> {};

TEST_P(CallersLineBreak, SendsNothing) {
  ScriptedHTTPServer server({Ok("never")});
  TIdHTTP client;
  client.Request().CustomHeaders().Add(QStringLiteral("X-Custom: 1"));
  GetParam().set(client.Request());
  testsupport::ExpectRaises<EIdHTTPHeaderLineBreak>(
      [&] { client.Get(server.Url()); }, QStringLiteral("Header line holds a line break: ") +
                                             QLatin1StringView(GetParam().refusedLine));
  ASSERT_TRUE(server.Server().WaitForScripts(1));
  EXPECT_EQ(server.Server().Received(0), QByteArray());
}

#define FIELD_CASE(Field, Name)                                                                    \
  LineBreakCase {                                                                                  \
#Field, [](TIdHTTPRequest & r) {                                                               \
      r.Set##Field(QStringLiteral("v\r\nX-Injected: 1"));                                          \
    }, Name ": v"                                                                                  \
  }

INSTANTIATE_TEST_SUITE_P(
    Cases, CallersLineBreak,
    testing::Values(
        FIELD_CASE(Accept, "Accept"), FIELD_CASE(AcceptCharSet, "Accept-Charset"),
        FIELD_CASE(AcceptLanguage, "Accept-Language"), FIELD_CASE(UserAgent, "User-Agent"),
        FIELD_CASE(From, "From"), FIELD_CASE(Referer, "Referer"),
        FIELD_CASE(ContentType, "Content-Type"), FIELD_CASE(CacheControl, "Cache-control"),
        FIELD_CASE(ContentLanguage, "Content-Language"), FIELD_CASE(Pragma, "Pragma"),
        LineBreakCase{"Range",
                      [](TIdHTTPRequest& r) { r.SetRange(QStringLiteral("v\r\nX-Injected: 1")); },
                      "Range: bytes=v"},
        LineBreakCase{"BareLineFeed",
                      [](TIdHTTPRequest& r) { r.SetUserAgent(QStringLiteral("v\nX-Injected: 1")); },
                      "User-Agent: v"},
        LineBreakCase{"BareCarriageReturn",
                      [](TIdHTTPRequest& r) { r.SetUserAgent(QStringLiteral("v\rX-Injected: 1")); },
                      "User-Agent: v"},
        LineBreakCase{"CustomLine",
                      [](TIdHTTPRequest& r) {
                        r.CustomHeaders().Add(QStringLiteral("X-Mine: v\r\nX-Injected: 1"));
                      },
                      "X-Mine: v"}),
    testsupport::RowName());

#undef FIELD_CASE

TEST(Redirects, TheCallersStreamKeepsWhatWasBeforeItsStart) {
  ScriptedHTTPServer server({Redirect("/b"), Ok("body")});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  stream.write("prefix:");
  client.GetToStream(server.Url("/a"), stream);
  EXPECT_EQ(stream.data(), QByteArray("prefix:body"));
}

// --- Events ---------------------------------------------------------------------------------

TEST(Events, StoppingAtTheHeadersLeavesTheBodyAndTheConnection) {
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 200 OK", "unread body", "X-Mark: 1\r\n")}, Ok("second")});
  TIdHTTP client;
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  client.OnHeadersAvailable = [&](TIdCustomHTTP* sender, TIdHeaderList& headers, bool& proceed) {
    EXPECT_EQ(sender, &client);
    EXPECT_TRUE(proceed);
    EXPECT_EQ(headers.ReadHeader(u"X-Mark"), QStringLiteral("1"));
    proceed = false;
  };
  client.GetToStream(server.Url(), stream);
  EXPECT_TRUE(stream.data().isEmpty());
  EXPECT_FALSE(client.Connected());
  client.OnHeadersAvailable = nullptr;
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("second"));
  EXPECT_EQ(server.Connections(), 2);
}

// --- Cookies --------------------------------------------------------------------------------

TEST(Cookies, ARedirectsCookiesGoAlongWhereTheyApply) {
  ScriptedHTTPServer server(
      {Reply{
           Response("HTTP/1.1 302 Found", {},
                    "Location: /app/home\r\nSet-Cookie: session=abc; path=/app\r\n"
                    "Set-Cookie: safe=1; secure\r\nSet-Cookie: far=1; domain=.elsewhere.invalid\r\n"
                    "Set-Cookie2: v2=yes; Version=1; Path=\"/\"\r\n")},
       Ok(), Ok()});
  TIdHTTP client;
  client.SetHandleRedirects(true);
  client.Get(server.Url("/login"));
  client.Get(server.Url("/other"));
  EXPECT_TRUE(server.Header(0, "Cookie").isEmpty());
  EXPECT_EQ(server.Header(1, "Cookie"), QByteArray("session=abc; v2=yes"));
  EXPECT_EQ(server.Header(2, "Cookie"), QByteArray("v2=yes"));
  ASSERT_NE(client.CookieManager(), nullptr);
  EXPECT_EQ(client.CookieManager()->CookieCollection().Count(), 3);
}

TEST(Cookies, AStoreGivenToTheClientIsUsedAndMayGoFirst) {
  ScriptedHTTPServer server({Ok("one", "Set-Cookie: a=1\r\n"), Ok(), Ok()});
  TIdHTTP client;
  auto* store = new TIdCookieManager;
  client.SetCookieManager(store);
  client.Get(server.Url());
  EXPECT_EQ(store->CookieCollection().Count(), 1);
  delete store;
  EXPECT_EQ(client.CookieManager(), nullptr);
  client.SetAllowCookies(false);
  client.Get(server.Url());
  EXPECT_EQ(client.CookieManager(), nullptr);
  EXPECT_TRUE(server.Header(1, "Cookie").isEmpty());
}

// --- Challenges -----------------------------------------------------------------------------

const QByteArray kBasic401 =
    Response("HTTP/1.1 401 Unauthorized", "who are you", "WWW-Authenticate: Basic realm=\"x\"\r\n");

TEST(Challenges, BasicIsAnsweredWithinTheCall) {
  ScriptedHTTPServer server({Reply{kBasic401}, Ok("welcome")});
  TIdHTTP client;
  client.SetHTTPOptions(hoInProcessAuth);
  client.Request().SetUsername(QStringLiteral("user"));
  client.Request().SetPassword(QStringLiteral("secret"));
  EXPECT_EQ(client.Get(server.Url("/private")), QStringLiteral("welcome"));
  EXPECT_TRUE(server.Header(0, "Authorization").isEmpty());
  EXPECT_EQ(server.Header(1, "Authorization"), QByteArray("Basic dXNlcjpzZWNyZXQ="));
  EXPECT_EQ(server.RequestLine(1), QByteArray("GET /private HTTP/1.1"));
  EXPECT_EQ(client.AuthAttempts(), 1);
}

TEST(Challenges, CredentialsInTheAddressAreUsed) {
  ScriptedHTTPServer server({Reply{kBasic401}, Ok("welcome")});
  TIdHTTP client;
  client.SetHTTPOptions(hoInProcessAuth);
  const QString address =
      server.Url("/p").replace(QStringLiteral("//"), QStringLiteral("//ann:pw@"));
  EXPECT_EQ(client.Get(address), QStringLiteral("welcome"));
  EXPECT_EQ(server.Header(1, "Authorization"), QByteArray("Basic YW5uOnB3"));
}

TEST(Challenges, WithoutInProcessAnsweringTheStatusIsRaisedAndTheNextCallAnswers) {
  ScriptedHTTPServer server({Reply{kBasic401}, Ok("welcome")});
  TIdHTTP client;
  client.Request().SetUsername(QStringLiteral("user"));
  client.Request().SetPassword(QStringLiteral("secret"));
  EXPECT_THROW(client.Get(server.Url()), EIdHTTPProtocolException);
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("welcome"));
  EXPECT_EQ(server.Header(1, "Authorization"), QByteArray("Basic dXNlcjpzZWNyZXQ="));
}

TEST(Challenges, WithoutCredentialsTheStatusIsRaisedAndTheSchemeStays) {
  ScriptedHTTPServer server({Reply{kBasic401}, Ok()});
  TIdHTTP client;
  try {
    client.Get(server.Url());
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.ReplyBody(), QStringLiteral("who are you"));
  }
  client.Get(server.Url());
  EXPECT_EQ(server.Header(1, "Authorization"), QByteArray("Basic Og=="));
}

TEST(Challenges, ARefusingServerIsAskedUpToTheRetryLimit) {
  ScriptedHTTPServer server([](const QByteArray&, int) { return Reply{kBasic401}; });
  TIdHTTP client;
  client.SetHTTPOptions(hoInProcessAuth);
  client.Request().SetUsername(QStringLiteral("user"));
  client.Request().SetPassword(QStringLiteral("wrong"));
  EXPECT_THROW(client.Get(server.Url()), EIdHTTPProtocolException);
  EXPECT_EQ(server.Heads().size(), 4);
  EXPECT_EQ(client.AuthAttempts(), 3);
}

// A Digest peer for user "user", password "secret", realm "photos": it checks every answer
// against its own computation and the request line, and tells the nonce count it accepted.
class DigestPeer {
public:
  // nonceFor gives the nonce of the challenge to request index.
  explicit DigestPeer(std::function<QByteArray(int)> nonceFor, bool closeWithChallenge = false)
      : nonceFor_(std::move(nonceFor)), closeWithChallenge_(closeWithChallenge) {}

  Reply operator()(const QByteArray& head, int index) const {
    const QString line = QString::fromLatin1(head.left(head.indexOf("\r\n")));
    const QString target = line.section(u' ', 1, 1);
    for (const QByteArray& header : head.split('\n')) {
      if (!header.startsWith("Authorization: Digest ")) {
        continue;
      }
      const TIdHeaderList params = ParseChallengeParams(QString::fromLatin1(header.trimmed()));
      const auto param = [&](const char16_t* name) {
        return params.ReadHeader(name);
      };
      const QString ha1 = Md5Hex(u"user:photos:secret");
      const QString ha2 = Md5Hex(QStringLiteral("GET:") + target);
      const QString expected = Md5Hex(
          QStringList{ha1, param(u"nonce"), param(u"nc"), param(u"cnonce"), param(u"qop"), ha2}
              .join(u':'));
      if (param(u"uri") == target && param(u"response") == expected) {
        return Ok("nc=" + param(u"nc").toLatin1());
      }
    }
    return Reply{Response("HTTP/1.1 401 Unauthorized", "denied",
                          "WWW-Authenticate: Digest realm=\"photos\", nonce=\"" + nonceFor_(index) +
                              "\", qop=\"auth\", algorithm=MD5, opaque=\"op\"\r\n" +
                              (closeWithChallenge_ ? "Connection: close\r\n" : "")),
                 closeWithChallenge_};
  }

private:
  std::function<QByteArray(int)> nonceFor_;
  bool closeWithChallenge_;
};

class DigestChallenges : public testing::Test {
protected:
  DigestChallenges() {
    client_.SetHandleRedirects(true);
    client_.SetHTTPOptions(hoInProcessAuth);
    client_.Request().SetUsername(QStringLiteral("user"));
    client_.Request().SetPassword(QStringLiteral("secret"));
  }
  TIdHTTP client_;
};

TEST_F(DigestChallenges, TheNonceCountGoesOnUntilTheNonceChanges) {
  ScriptedHTTPServer server(DigestPeer([](int index) { return index < 4 ? "first" : "second"; }));
  EXPECT_EQ(client_.Get(server.Url("/a")), QStringLiteral("nc=00000001"));
  EXPECT_EQ(client_.Get(server.Url("/b")), QStringLiteral("nc=00000002"));
  EXPECT_EQ(client_.Get(server.Url("/c")), QStringLiteral("nc=00000001"));
  EXPECT_EQ(server.Header(2, "Authorization"), QByteArray("Digest"));
  EXPECT_EQ(server.Connections(), 1);
}

// The server closes the connection with its challenge: the answer prepared for it must still
// go out on the next connection.
TEST_F(DigestChallenges, AnAnswerSurvivesTheServersClose) {
  ScriptedHTTPServer server(DigestPeer([](int) { return "n"; }, true));
  EXPECT_EQ(client_.Get(server.Url("/a")), QStringLiteral("nc=00000001"));
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(DigestChallenges, TheChallengedAddressIsAnsweredAfterARedirect) {
  const DigestPeer digest([](int) { return "n"; });
  ScriptedHTTPServer server([&digest](const QByteArray& head, int index) {
    return index == 0 ? Redirect("/dir/b") : digest(head, index);
  });
  EXPECT_EQ(client_.Get(server.Url("/a")), QStringLiteral("nc=00000001"));
  EXPECT_EQ(server.RequestLine(2), QByteArray("GET /dir/b HTTP/1.1"));
  EXPECT_EQ(server.Heads().size(), 3);
}

TEST_F(DigestChallenges, AnotherAlgorithmEndsTheCall) {
  ScriptedHTTPServer server({Reply{
      Response("HTTP/1.1 401 Unauthorized", {},
               "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256\r\n")}});
  testsupport::ExpectRaises<EIdInvalidAlgorithm>(
      [&] { client_.Get(server.Url()); },
      "Unsupported hash algorithm. This implementation supports only MD5 encoding.");
}

} // namespace
