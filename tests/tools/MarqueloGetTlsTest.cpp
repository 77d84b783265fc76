// marquelo-get over https: nginx with a certificate of an authority made for the run, reached
// directly and through squid's CONNECT tunnel; which certificates are trusted is chosen by
// --cacert or SSL_CERT_FILE, and -v tells what the handshake agreed on.

#include "tests/support/NginxServer.h"
#include "tests/support/SquidServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/tools/RunMarqueloGet.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::MarqueloGet;
using testsupport::NginxServer;
using testsupport::ProgramRun;
using testsupport::SquidServer;
using testsupport::TestCertificates;

class MarqueloGetTls : public testing::Test {
protected:
  static void SetUpTestSuite() {
    certificates_ = std::make_unique<TestCertificates>();
    nginx_ = std::make_unique<NginxServer>(
        QString(), testsupport::NginxTls{certificates_->CertificateFile(QStringLiteral("valid")),
                                         certificates_->KeyFile(QStringLiteral("valid")),
                                         {},
                                         {}});
    nginx_->AddFile(QStringLiteral("a.txt"), "over tls\n");
    squid_ = std::make_unique<SquidServer>(SquidServer::Options{{nginx_->Port()}, {}, {}});
  }
  static void TearDownTestSuite() {
    squid_.reset();
    nginx_.reset();
    certificates_.reset();
  }

  static QString Address() {
    return QStringLiteral("https://localhost:%1/a.txt").arg(nginx_->Port());
  }
  static QString Ca() { return certificates_->CaFile(); }

  static std::unique_ptr<TestCertificates> certificates_;
  static std::unique_ptr<NginxServer> nginx_;
  static std::unique_ptr<SquidServer> squid_;
};

std::unique_ptr<TestCertificates> MarqueloGetTls::certificates_;
std::unique_ptr<NginxServer> MarqueloGetTls::nginx_;
std::unique_ptr<SquidServer> MarqueloGetTls::squid_;

// The trust each run is given, and what the user then sees. SSL_CERT_FILE points at an empty
// store unless a row names the authority, so the machine's own store never decides a row.
TEST_F(MarqueloGetTls, TrustsOnlyWhatTheUserChose) {
  const QString emptyStore = QStringLiteral("/dev/null");
  const QString untrusted = QStringLiteral("EIdTLSCertificateUntrusted: Certificate of localhost "
                                           "is not trusted: unable to get local issuer "
                                           "certificate\n");
  struct Row {
    const char* name;
    QStringList arguments;
    QString certFile;
    int exitCode;
    QString err;
  };
  const Row rows[] = {
      {"cacert", {QStringLiteral("--cacert"), Ca(), Address()}, emptyStore, 0, {}},
      {"environment", {Address()}, Ca(), 0, {}},
      {"neither", {Address()}, emptyStore, 2, untrusted},
      // --cacert replaces the store SSL_CERT_FILE names; it does not add to it.
      {"cacert over environment",
       {QStringLiteral("--cacert"), certificates_->CertificateFile(QStringLiteral("other-host")),
        Address()},
       Ca(),
       2,
       untrusted},
      {"unreadable cacert",
       {QStringLiteral("--cacert"), QStringLiteral("/nonexistent/ca.pem"), Address()},
       Ca(),
       2,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ProgramRun run =
        MarqueloGet(row.arguments, {{QStringLiteral("SSL_CERT_FILE"), row.certFile}});
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err.data();
    EXPECT_EQ(run.out, row.exitCode == 0 ? QByteArray("over tls\n") : QByteArray());
    if (!row.err.isEmpty()) {
      EXPECT_EQ(QString::fromUtf8(run.err), row.err);
    } else if (row.exitCode != 0) {
      EXPECT_TRUE(run.err.startsWith("EIdTLSSetupError: ")) << run.err.data();
    }
  }
}

// One handshake for two addresses on the kept connection, reported once, before the first
// request head.
TEST_F(MarqueloGetTls, VerboseReportsTheHandshakeOnceBeforeItsRequest) {
  const ProgramRun run =
      MarqueloGet({QStringLiteral("-v"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                   QStringLiteral("--cacert"), Ca(), Address(), Address()});
  ASSERT_EQ(run.exitCode, 0) << run.err.data();
  const QString err = QString::fromUtf8(run.err);
  EXPECT_EQ(err.count(QStringLiteral("* TLS TLSv1.")), 1) << run.err.data();
  EXPECT_EQ(err.count(QStringLiteral("* Certificate subject: CN=valid\n")), 1) << run.err.data();
  EXPECT_EQ(err.count(QStringLiteral("* Certificate issuer: CN=Marquelo test ca\n")), 1)
      << run.err.data();
  EXPECT_LT(err.indexOf(QStringLiteral("* Connected.")), err.indexOf(QStringLiteral("* TLS ")));
  EXPECT_LT(err.indexOf(QStringLiteral("* Certificate issuer")),
            err.indexOf(QStringLiteral("> GET /a.txt")));
  EXPECT_EQ(err.count(QStringLiteral("> GET /a.txt HTTP/1.1")), 2);
}

// Through the proxy the certificate is still the target's, checked against the target's name.
TEST_F(MarqueloGetTls, FetchesThroughTheProxysTunnelWithTheTargetVerified) {
  const ProgramRun run = MarqueloGet({QStringLiteral("--cacert"), Ca(), Address()},
                                     {{QStringLiteral("https_proxy"), squid_->ProxyUrl()}});
  ASSERT_EQ(run.exitCode, 0) << run.err.data();
  EXPECT_EQ(run.out, QByteArray("over tls\n"));
  EXPECT_TRUE(
      squid_->WaitForAccessLog(QStringLiteral(" CONNECT localhost:%1 ").arg(nginx_->Port())))
      << squid_->AccessLog().toStdString();

  const ProgramRun refused =
      MarqueloGet({QStringLiteral("--proxy"), squid_->ProxyUrl(), Address()},
                  {{QStringLiteral("SSL_CERT_FILE"), QStringLiteral("/dev/null")}});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(refused.err.startsWith("EIdTLSCertificateUntrusted: Certificate of localhost"))
      << refused.err.data();
}

} // namespace
