// The client against a server nobody here wrote: nginx on 127.0.0.1, with locations for kept
// and closed connections, redirects of every shape, cookies, an error page, chunked bodies (a
// body filter drops the length) and an empty response. The server names its connection in
// "X-Connection", so reuse is seen from the server's side.

#include "http/IdHTTP.h"

#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <gtest/gtest.h>

namespace {

const QString kDirectives = QStringLiteral(R"(
    add_header X-Connection $connection always;
    charset utf-8;
    error_page 404 /404.html;
    location = /404.html { internal; }
    location /once/ { keepalive_requests 1; }
    location = /moved { return 301 $arg_to; }
    location = /found { absolute_redirect off; return 302 $arg_to; }
    location = /loop { return 302 /loop; }
    location = /login { add_header Set-Cookie "session=abc; Path=/"; return 302 /home; }
    location = /home { default_type text/plain; return 200 "cookie=$http_cookie"; }
    location = /empty { return 204; }
    location /filtered/ { sub_filter 'needle' 'pin'; sub_filter_once off; }
)");

const QByteArray kPage = "<p>a page</p>\n";

class NginxClient : public testing::Test {
protected:
  static void SetUpTestSuite() {
    nginx_ = new testsupport::NginxServer(kDirectives);
    nginx_->AddFile(QStringLiteral("page.html"), kPage);
    nginx_->AddFile(QStringLiteral("once/page.html"), kPage);
    nginx_->AddFile(QStringLiteral("404.html"),
                    "<h1>Nicht gefunden \xe2\x80\x93 \xc3\xbc\xc3\xb6\xc3\xa4</h1>");
    QByteArray filtered;
    for (int i = 0; i < 20000; ++i) {
      filtered += "line " + QByteArray::number(i) + " with a needle in it\n";
    }
    nginx_->AddFile(QStringLiteral("filtered/big.html"), filtered);
    expectedFiltered_ = new QByteArray(filtered.replace("needle", "pin"));
  }
  static void TearDownTestSuite() {
    delete nginx_;
    delete expectedFiltered_;
  }

  NginxClient() {
    client_.SetHandleRedirects(true);
    client_.SetReadTimeout(10000);
    client_.OnConnected = [this](QObject*) {
      ++connects_;
    };
  }

  static QString Url(const QString& path) { return nginx_->BaseUrl() + path; }
  QString ServerConnection() {
    return client_.CurrentResponse().HeaderLines().ReadHeader(u"X-Connection");
  }

  static testsupport::NginxServer* nginx_;
  static QByteArray* expectedFiltered_;
  TIdHTTP client_;
  int connects_ = 0;
};

testsupport::NginxServer* NginxClient::nginx_ = nullptr;
QByteArray* NginxClient::expectedFiltered_ = nullptr;

TEST_F(NginxClient, OneConnectionServesTwoCalls) {
  EXPECT_EQ(client_.Get(Url("/page.html")).toLatin1(), kPage);
  const QString first = ServerConnection();
  EXPECT_EQ(client_.Get(Url("/page.html")).toLatin1(), kPage);
  EXPECT_EQ(ServerConnection(), first);
  EXPECT_FALSE(first.isEmpty());
  EXPECT_EQ(connects_, 1);
  EXPECT_TRUE(client_.Connected());
}

TEST_F(NginxClient, AServerThatClosesAfterEachRequestIsConnectedAgain) {
  EXPECT_EQ(client_.Get(Url("/once/page.html")).toLatin1(), kPage);
  const QString first = ServerConnection();
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(client_.Get(Url("/once/page.html")).toLatin1(), kPage);
  EXPECT_NE(ServerConnection(), first);
  EXPECT_EQ(connects_, 2);
}

struct RedirectCase : testsupport::NamedRow {
  QString path; // "%1" stands for the server's base address
  QString finalPath;
};

class NginxRedirects : public NginxClient, public testing::WithParamInterface<RedirectCase> {};

TEST_P(NginxRedirects, ReachTheTargetOnTheSameConnection) {
  QString path = GetParam().path;
  path.replace(QStringLiteral("%1"), nginx_->BaseUrl());
  EXPECT_EQ(client_.Get(Url(path)).toLatin1(), kPage);
  EXPECT_EQ(client_.RedirectCounter(), 1);
  EXPECT_EQ(client_.CurrentURI().PathAndQuery(), GetParam().finalPath);
  EXPECT_EQ(connects_, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NginxRedirects,
    testing::Values(RedirectCase{"MovedAbsolute", "/moved?to=%1/page.html", "/page.html"},
                    RedirectCase{"FoundPathOnly", "/found?to=/page.html", "/page.html"},
                    RedirectCase{"FoundRelative", "/found?to=once/../page.html", "/page.html"}),
    testsupport::RowName());

TEST_F(NginxClient, AnAbsoluteRedirectToAnotherPeerLeavesTheServer) {
  testsupport::ScriptedHTTPServer other(
      {testsupport::Reply{testsupport::Response("HTTP/1.1 200 OK", "elsewhere")}});
  EXPECT_EQ(client_.Get(Url("/moved?to=" + other.Url("/x"))), QStringLiteral("elsewhere"));
  EXPECT_EQ(other.Header(0, "Host"), "127.0.0.1:" + QByteArray::number(other.Port()));
  EXPECT_EQ(connects_, 2);
}

TEST_F(NginxClient, ARedirectLoopEndsAtTheLimitWithoutAnError) {
  EXPECT_EQ(client_.Get(Url("/loop")), QString());
  EXPECT_EQ(client_.RedirectCounter(), 15);
  EXPECT_TRUE(client_.CurrentResponse().Location().endsWith(u"/loop"));
  EXPECT_EQ(connects_, 1);
}

TEST_F(NginxClient, AMissingPageRaisesWithTheErrorPageInUtf8) {
  try {
    client_.Get(Url("/nothing-here"));
    ADD_FAILURE() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.Message(), QStringLiteral("HTTP/1.1 404 Not Found"));
    EXPECT_EQ(e.ReplyBody(), QStringLiteral("<h1>Nicht gefunden \u2013 \u00fc\u00f6\u00e4</h1>"));
  }
  // The page was read whole, so the connection serves on.
  EXPECT_EQ(client_.Get(Url("/page.html")).toLatin1(), kPage);
  EXPECT_EQ(connects_, 1);
}

TEST_F(NginxClient, CookiesSetByARedirectGoToItsTarget) {
  EXPECT_EQ(client_.Get(Url("/login")), QStringLiteral("cookie=session=abc"));
  EXPECT_EQ(client_.Get(Url("/home")), QStringLiteral("cookie=session=abc"));
}

TEST_F(NginxClient, ChunkedBodiesArriveWholeAndKeepTheConnection) {
  EXPECT_EQ(client_.Get(Url("/filtered/big.html")).toLatin1(), *expectedFiltered_);
  EXPECT_EQ(client_.CurrentResponse().HeaderLines().ReadHeader(u"Transfer-Encoding"),
            QStringLiteral("chunked"));
  EXPECT_FALSE(client_.CurrentResponse().ContentLengthKnown());
  const QString first = ServerConnection();
  EXPECT_EQ(client_.Get(Url("/page.html")).toLatin1(), kPage);
  EXPECT_EQ(ServerConnection(), first);
}

TEST_F(NginxClient, NoContentGivesEmptyTextAndKeepsTheConnection) {
  EXPECT_EQ(client_.Get(Url("/empty")), QString());
  EXPECT_EQ(client_.CurrentResponse().StatusCode(), 204);
  EXPECT_EQ(client_.Get(Url("/page.html")).toLatin1(), kPage);
  EXPECT_EQ(connects_, 1);
}

TEST_F(NginxClient, LargeBodiesStreamIntoTheCallersFile) {
  const QString path = nginx_->AddPatternFile(QStringLiteral("large.bin"), 8 << 20);
  QFile original(path);
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  QTemporaryFile copy;
  ASSERT_TRUE(copy.open());
  client_.GetToStream(Url("/large.bin"), copy);
  copy.seek(0);
  EXPECT_EQ(copy.size(), 8 << 20);
  EXPECT_TRUE(copy.readAll() == original.readAll());
}

} // namespace
