// The client with a TLS handler against nginx serving https on 127.0.0.1 with a certificate of
// a private authority made per run, and a plain scripted peer on the same host name: https
// pages, keep-alive over TLS, redirects from http to https and back, and Secure cookies.

#include "http/IdHTTP.h"
#include "net/IdTLSIOHandler.h"

#include "tests/support/LoopbackServer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using testsupport::NginxServer;

testsupport::TestCertificates& Certificates() {
  static testsupport::TestCertificates certificates;
  return certificates;
}

struct HttpsClient {
  HttpsClient() {
    tls = new TIdTLSIOHandler(&http);
    tls->SetTrustedCertificatesFile(Certificates().CaFile());
    http.SetIOHandler(tls);
    http.SetReadTimeout(10000);
    http.SetHandleRedirects(true);
  }
  TIdHTTP http;
  TIdTLSIOHandler* tls;
};

NginxServer StartHttps(const QString& directives) {
  const QString name = QStringLiteral("valid");
  return NginxServer(directives,
                     {Certificates().CertificateFile(name), Certificates().KeyFile(name), {}, {}});
}

TEST(HttpsClient, KeptConnectionServesSeveralGetsOnOneHandshake) {
  NginxServer nginx(QStringLiteral("location /n { default_type text/plain; "
                                   "return 200 \"request $request_uri on $connection\"; }"),
                    {Certificates().CertificateFile(QStringLiteral("valid")),
                     Certificates().KeyFile(QStringLiteral("valid")),
                     {},
                     {}});
  HttpsClient c;
  QString connection;
  for (int i = 0; i < 5; ++i) {
    const QString page =
        c.http.Get(QStringLiteral("https://localhost:%1/n%2").arg(nginx.Port()).arg(i));
    ASSERT_TRUE(page.startsWith(QStringLiteral("request /n%1 on ").arg(i))) << page.toStdString();
    if (i == 0) {
      connection = page.section(u' ', -1);
    }
    EXPECT_EQ(page.section(u' ', -1), connection);
  }
  EXPECT_EQ(c.tls->HandshakeCount(), 1);
  EXPECT_EQ(c.http.Request().Host(), QStringLiteral("localhost:%1").arg(nginx.Port()));
}

// http -> https -> http on one host name. The https hop sets a Secure cookie and a plain one:
// the plain hop that follows carries only the plain one, an https request both.
TEST(HttpsClient, RedirectsBothWaysAndKeepsSecureCookiesOffClearText) {
  std::atomic<uint16_t> httpsPort{0};
  testsupport::LoopbackServer plain([&](testsupport::LoopbackPeer& peer) {
    peer.ReadRequestHead();
    if (peer.Index() == 0) {
      peer.Send(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: https://localhost:%1/tls\r\n"
                               "Content-Length: 0\r\n\r\n")
                    .arg(httpsPort.load())
                    .toLatin1());
    } else {
      peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nplain");
    }
  });
  NginxServer nginx = StartHttps(
      QStringLiteral("location /tls { add_header Set-Cookie \"s=secret; Secure; Path=/\"; "
                     "add_header Set-Cookie \"p=open; Path=/\"; "
                     "return 302 http://localhost:%1/final; }\n"
                     "location /cookies { default_type text/plain; return 200 \"$http_cookie\"; }")
          .arg(plain.Port()));
  httpsPort = nginx.Port();
  HttpsClient c;
  EXPECT_EQ(c.http.Get(QStringLiteral("http://localhost:%1/start").arg(plain.Port())), "plain");
  ASSERT_TRUE(plain.WaitForScripts(2));
  EXPECT_FALSE(c.tls->Encrypted());
  const QByteArray final = plain.Received(1);
  EXPECT_TRUE(final.startsWith("GET /final HTTP/1.1\r\n")) << final.toStdString();
  EXPECT_TRUE(final.contains("\r\nCookie: p=open\r\n")) << final.toStdString();
  EXPECT_FALSE(final.contains("secret")) << final.toStdString();

  const QString cookies =
      c.http.Get(QStringLiteral("https://localhost:%1/cookies").arg(nginx.Port()));
  EXPECT_TRUE(cookies.contains(QStringLiteral("s=secret"))) << cookies.toStdString();
  EXPECT_TRUE(cookies.contains(QStringLiteral("p=open"))) << cookies.toStdString();
  EXPECT_EQ(c.tls->HandshakeCount(), 2);
}

// A refused certificate ends the call with its own failure and leaves no connection; the same
// client then reads a server it trusts.
TEST(HttpsClient, RefusedCertificateLeavesTheClientUsable) {
  NginxServer rogue({}, {Certificates().CertificateFile(QStringLiteral("unknown-ca")),
                         Certificates().KeyFile(QStringLiteral("unknown-ca")),
                         {},
                         {}});
  NginxServer good =
      StartHttps(QStringLiteral("location / { default_type text/plain; return 200 \"fine\"; }"));
  HttpsClient c;
  EXPECT_THROW(c.http.Get(QStringLiteral("https://localhost:%1/").arg(rogue.Port())),
               EIdTLSCertificateUntrusted);
  EXPECT_FALSE(c.http.Connected());
  EXPECT_EQ(c.http.Get(QStringLiteral("https://localhost:%1/").arg(good.Port())), "fine");
}

} // namespace
