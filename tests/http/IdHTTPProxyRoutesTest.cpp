// A list of routes tried in turn: a proxy that refuses the connection is passed over for the
// next route, a proxy that answers (even with an error) is not, the failure of the last route
// names every route tried, and a proxy query that waits ends at Cancel.

#include "http/IdHTTP.h"
#include "net/IdIOHandlerStack.h"
#include "tests/support/NamedRow.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>
#include <vector>

#include <poll.h>

namespace {

using testsupport::Reply;
using testsupport::ScriptedHTTPServer;

// Who is at each route.
enum class Hop {
  Refusing,      // a proxy port where nobody listens
  OtherRefusing, // a second such port
  Proxy,         // a proxy that answers 200
  FailingProxy,  // a proxy that answers 502
  Direct,        // no proxy: the server itself
};

struct RouteCase : testsupport::NamedRow {
  std::vector<Hop> hops;
  // "<who answered> <the request line it got>", or "<class> <message>". {R}, {O}, {P}, {F}
  // and {S} stand for the ports of the refusing, other refusing, proxy, failing proxy and
  // server.
  QString outcome;
  QStringList statuses; // the free-text statuses of the call
};

class ProxyRoutes : public testing::TestWithParam<RouteCase> {};

TEST_P(ProxyRoutes, AreTriedInTurn) {
  const RouteCase& c = GetParam();
  ScriptedHTTPServer server({Reply{"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\norigin"}});
  ScriptedHTTPServer proxy({Reply{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy"}});
  ScriptedHTTPServer failing(
      {Reply{"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 4\r\n\r\nnope", true}});
  testsupport::RefusingPort refusing;
  testsupport::RefusingPort otherRefusing;
  const auto through = [](uint16_t port) {
    return TIdProxyRoute{TIdProxyAddress{QStringLiteral("127.0.0.1"), port, {}, {}},
                         QStringLiteral("the test")};
  };
  TIdProxyRoutes routes;
  for (const Hop hop : c.hops) {
    switch (hop) {
    case Hop::Refusing:
      routes.routes << through(refusing.Port());
      break;
    case Hop::OtherRefusing:
      routes.routes << through(otherRefusing.Port());
      break;
    case Hop::Proxy:
      routes.routes << through(proxy.Port());
      break;
    case Hop::FailingProxy:
      routes.routes << through(failing.Port());
      break;
    case Hop::Direct:
      routes.routes << TIdProxyRoute{std::nullopt, QStringLiteral("the test")};
      break;
    }
  }
  const auto withPorts = [&](QString text) {
    return text.replace(QStringLiteral("{R}"), QString::number(refusing.Port()))
        .replace(QStringLiteral("{O}"), QString::number(otherRefusing.Port()))
        .replace(QStringLiteral("{P}"), QString::number(proxy.Port()))
        .replace(QStringLiteral("{F}"), QString::number(failing.Port()))
        .replace(QStringLiteral("{S}"), QString::number(server.Port()));
  };

  TIdHTTP http;
  QStringList statuses;
  http.OnStatus = [&statuses](TIdComponent*, TIdStatus status, const QString& text) {
    if (status == hsStatusText) {
      statuses << text;
    }
  };
  http.OnChooseProxies = [&routes](TIdCustomHTTP*, const TIdURI&, const TIdProxyQueryLimits&) {
    return routes;
  };
  QString outcome;
  try {
    const QString body = http.Get(server.Url(QStringLiteral("/page")));
    const ScriptedHTTPServer& answered = body == u"proxy" ? proxy : server;
    outcome = body + u' ' + QString::fromLatin1(answered.RequestLine(0));
  } catch (const EIdException& e) {
    outcome = e.ClassName() + u' ' + e.Message();
  }
  EXPECT_EQ(outcome.toStdString(), withPorts(c.outcome).toStdString());
  QStringList expected;
  for (const QString& status : c.statuses) {
    expected << withPorts(status);
  }
  EXPECT_EQ(statuses.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
}

const QString kRefused = QStringLiteral("Socket Error # 10061 Connection refused.");

INSTANTIATE_TEST_SUITE_P(
    Table, ProxyRoutes,
    testing::Values(
        RouteCase{"ADeadProxyIsPassedOver",
                  {Hop::Refusing, Hop::Proxy},
                  "proxy GET http://127.0.0.1:{S}/page HTTP/1.1",
                  {"Route: proxy 127.0.0.1:{R}, from the test.",
                   "proxy 127.0.0.1:{R} failed: " + kRefused + " Trying proxy 127.0.0.1:{P}.",
                   "Route: proxy 127.0.0.1:{P}, from the test."}},
        // Direct, the request line names the path alone, not the whole address.
        RouteCase{"DirectAfterADeadProxy",
                  {Hop::Refusing, Hop::Direct},
                  "origin GET /page HTTP/1.1",
                  {"Route: proxy 127.0.0.1:{R}, from the test.",
                   "proxy 127.0.0.1:{R} failed: " + kRefused + " Trying direct.",
                   "Route: direct, from the test."}},
        RouteCase{"EveryRouteDead",
                  {Hop::Refusing, Hop::OtherRefusing},
                  "EIdSocketError Socket Error # 10061\r\nConnection refused. (tried in turn: "
                  "proxy 127.0.0.1:{R}, proxy 127.0.0.1:{O})",
                  {"Route: proxy 127.0.0.1:{R}, from the test.",
                   "proxy 127.0.0.1:{R} failed: " + kRefused + " Trying proxy 127.0.0.1:{O}.",
                   "Route: proxy 127.0.0.1:{O}, from the test."}},
        // A proxy that answers has been reached: its answer is the call's, as a browser shows
        // a proxy's error page.
        RouteCase{"AProxysErrorIsItsAnswer",
                  {Hop::FailingProxy, Hop::Direct},
                  "EIdHTTPProtocolException HTTP/1.1 502 Bad Gateway",
                  {"Route: proxy 127.0.0.1:{F}, from the test."}},
        RouteCase{"OneDeadRouteFailsAsItAlwaysHas",
                  {Hop::Refusing},
                  "EIdSocketError Socket Error # 10061\r\nConnection refused.",
                  {"Route: proxy 127.0.0.1:{R}, from the test."}}),
    testsupport::RowName());

// A query that waits for an answer (a proxy auto-config script, say) ends when the call is
// cancelled, with the cancellation's error.
TEST(ProxyQuery, EndsAtCancel) {
  ScriptedHTTPServer server({Reply{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
  TIdHTTP http;
  auto* handler = new TIdIOHandlerStack(&http);
  http.SetIOHandler(handler);
  std::promise<void> waiting;
  http.OnChooseProxies = [&waiting](TIdCustomHTTP*, const TIdURI&,
                                    const TIdProxyQueryLimits& limits) {
    waiting.set_value();
    pollfd entry{limits.abortHandle, POLLIN, 0};
    const int ready = ::poll(&entry, limits.abortHandle < 0 ? 0 : 1, 60000);
    return TIdProxyRoutes{{}, {ready == 1 ? QStringLiteral("cancelled") : QStringLiteral("not")}};
  };
  std::thread canceller([&waiting, handler] {
    waiting.get_future().wait();
    handler->Abort();
  });
  int32_t code = 0;
  try {
    http.Get(server.Url());
  } catch (const EIdSocketError& e) {
    code = e.SocketErrorCode();
  }
  canceller.join();
  EXPECT_EQ(code, Id_WSAECONNABORTED);
  EXPECT_EQ(server.Connections(), 0);
}

} // namespace
