// https through squid's CONNECT tunnel: TLS runs with the server behind the proxy and its
// certificate is checked against the server's name, never the proxy's; the proxy's challenge
// on CONNECT is answered; a CONNECT the proxy does not allow is its refusal, raised.

#include "http/IdHTTP.h"
#include "net/IdTLSIOHandler.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SquidServer.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::SquidServer;

class ProxyTunnel : public testing::Test {
protected:
  static void SetUpTestSuite() {
    certificates_ = std::make_unique<testsupport::TestCertificates>();
    nginx_ = std::make_unique<testsupport::NginxServer>(
        QString(), testsupport::NginxTls{certificates_->CertificateFile(QStringLiteral("valid")),
                                         certificates_->KeyFile(QStringLiteral("valid")),
                                         {},
                                         {}});
    nginx_->AddFile(QStringLiteral("a.txt"), "secret body\n");
  }
  static void TearDownTestSuite() {
    nginx_.reset();
    certificates_.reset();
  }

  ProxyTunnel() {
    tls_ = new TIdTLSIOHandler(&http_);
    tls_->SetTrustedCertificatesFile(certificates_->CaFile());
    http_.SetIOHandler(tls_);
    http_.SetHTTPOptions(hoInProcessAuth);
    http_.OnProxyAuthorization = [](QObject*, TIdAuthentication*, bool& handled) {
      handled = false;
    };
  }

  void Through(const SquidServer& squid, const QString& user = {}, const QString& password = {}) {
    http_.ProxyParams().SetProxyServer(QStringLiteral("127.0.0.1"));
    http_.ProxyParams().SetProxyPort(squid.Port());
    http_.ProxyParams().SetProxyUsername(user);
    http_.ProxyParams().SetProxyPassword(password);
  }
  static QString Url(const QString& host) {
    return QStringLiteral("https://%1:%2/a.txt").arg(host).arg(nginx_->Port());
  }

  static std::unique_ptr<testsupport::TestCertificates> certificates_;
  static std::unique_ptr<testsupport::NginxServer> nginx_;
  TIdHTTP http_;
  TIdTLSIOHandler* tls_ = nullptr;
};

std::unique_ptr<testsupport::TestCertificates> ProxyTunnel::certificates_;
std::unique_ptr<testsupport::NginxServer> ProxyTunnel::nginx_;

TEST_F(ProxyTunnel, ReadsHttpsInsideTheTunnelAndKeepsItForTheSameServer) {
  const SquidServer squid(SquidServer::Options{{nginx_->Port()}, {}, {}});
  Through(squid);
  EXPECT_EQ(http_.Get(Url(QStringLiteral("localhost"))), QStringLiteral("secret body\n"));
  EXPECT_EQ(http_.Get(Url(QStringLiteral("localhost"))), QStringLiteral("secret body\n"));
  EXPECT_EQ(tls_->HandshakeCount(), 1);
  // squid writes a tunnel's line once the tunnel closes.
  http_.Disconnect();
  EXPECT_TRUE(squid.WaitForAccessLog(QStringLiteral(" CONNECT localhost:%1 ").arg(nginx_->Port())))
      << squid.AccessLog().toStdString();
  EXPECT_EQ(squid.AccessLog().count(u" CONNECT "), 1);
  // Another target through the same proxy needs a tunnel of its own.
  EXPECT_EQ(http_.Get(Url(QStringLiteral("127.0.0.1"))), QStringLiteral("secret body\n"));
  http_.Disconnect();
  EXPECT_TRUE(squid.WaitForAccessLog(QStringLiteral(" CONNECT 127.0.0.1:%1 ").arg(nginx_->Port())));
}

TEST_F(ProxyTunnel, AnswersTheProxysChallengeOnConnect) {
  const SquidServer squid(
      SquidServer::Options{{nginx_->Port()}, QStringLiteral("ann"), QStringLiteral("pw")});
  Through(squid, QStringLiteral("ann"), QStringLiteral("pw"));
  EXPECT_EQ(http_.Get(Url(QStringLiteral("localhost"))), QStringLiteral("secret body\n"));
  http_.Disconnect();
  EXPECT_TRUE(squid.WaitForAccessLog(QStringLiteral("TCP_DENIED/407 ")));
  EXPECT_TRUE(
      squid.WaitForAccessLog(QStringLiteral(" CONNECT localhost:%1 ann ").arg(nginx_->Port())))
      << squid.AccessLog().toStdString();
}

// A dead proxy ahead in the list is passed over, and the tunnel's own exchange (the challenge,
// the proxy's answer) leaves the records of the request alone: what the call reports is the
// server's response.
TEST_F(ProxyTunnel, PassesOverADeadProxyToTheTunnel) {
  const SquidServer squid(
      SquidServer::Options{{nginx_->Port()}, QStringLiteral("ann"), QStringLiteral("pw")});
  testsupport::RefusingPort dead;
  const auto through = [](uint16_t port) {
    return TIdProxyRoute{TIdProxyAddress{QStringLiteral("127.0.0.1"), port, QStringLiteral("ann"),
                                         QStringLiteral("pw")},
                         QStringLiteral("the test")};
  };
  const TIdProxyRoutes routes{{through(dead.Port()), through(squid.Port())}, {}};
  http_.OnChooseProxies = [&routes](TIdCustomHTTP*, const TIdURI&, const TIdProxyQueryLimits&) {
    return routes;
  };
  EXPECT_EQ(http_.Get(Url(QStringLiteral("localhost"))), QStringLiteral("secret body\n"));
  EXPECT_EQ(http_.ResponseText().toStdString(), "HTTP/1.1 200 OK");
  EXPECT_EQ(http_.CurrentResponse().ContentLength(), 12);
  EXPECT_TRUE(tls_->Encrypted());
  http_.Disconnect();
  EXPECT_TRUE(
      squid.WaitForAccessLog(QStringLiteral(" CONNECT localhost:%1 ann ").arg(nginx_->Port())))
      << squid.AccessLog().toStdString();
}

struct RefusalCase : testsupport::NamedRow {
  bool portAllowed;
  const char* password;
  int code;
};

class ProxyTunnelRefused : public ProxyTunnel, public testing::WithParamInterface<RefusalCase> {};

TEST_P(ProxyTunnelRefused, RaisesTheProxysStatus) {
  const RefusalCase& c = GetParam();
  const SquidServer squid(
      SquidServer::Options{c.portAllowed ? QList<uint16_t>{nginx_->Port()} : QList<uint16_t>{},
                           QStringLiteral("ann"), QStringLiteral("pw")});
  Through(squid, QStringLiteral("ann"), QString::fromLatin1(c.password));
  try {
    http_.Get(Url(QStringLiteral("localhost")));
    ADD_FAILURE() << "no refusal";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), c.code);
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("HTTP/1.1 %1 ").arg(c.code)))
        << e.Message().toStdString();
  }
  EXPECT_FALSE(tls_->Encrypted());
}

INSTANTIATE_TEST_SUITE_P(Cases, ProxyTunnelRefused,
                         testing::Values(RefusalCase{"PortNotAllowed", false, "pw", 403},
                                         RefusalCase{"WrongPassword", true, "guess", 407}),
                         testsupport::RowName());

// The name checked is the server's: a certificate that names another host fails inside the
// tunnel although the proxy itself is reached by a name the certificate does not carry either.
TEST(ProxyTunnelCertificate, IsCheckedAgainstTheServersName) {
  const testsupport::TestCertificates certificates;
  testsupport::NginxServer nginx(
      QString(), testsupport::NginxTls{certificates.CertificateFile(QStringLiteral("other-host")),
                                       certificates.KeyFile(QStringLiteral("other-host")),
                                       {},
                                       {}});
  const SquidServer squid(SquidServer::Options{{nginx.Port()}, {}, {}});
  TIdHTTP http;
  auto* tls = new TIdTLSIOHandler(&http);
  tls->SetTrustedCertificatesFile(certificates.CaFile());
  http.SetIOHandler(tls);
  http.ProxyParams().SetProxyServer(QStringLiteral("127.0.0.1"));
  http.ProxyParams().SetProxyPort(squid.Port());
  try {
    http.Get(QStringLiteral("https://localhost:%1/").arg(nginx.Port()));
    ADD_FAILURE() << "a certificate for another host was taken";
  } catch (const EIdException& e) {
    EXPECT_TRUE(e.Message().contains(u"localhost")) << e.Message().toStdString();
    EXPECT_TRUE(e.Message().contains(u"does not name this host")) << e.Message().toStdString();
  }
}

} // namespace
