// The TLS handler of a real TCP client against real TLS servers on 127.0.0.1: nginx with the
// certificates of a private authority made per run, a scripted OpenSSL server for what nginx
// never does, and clear-text peers that are no TLS server at all.

#include "net/IdTLSIOHandler.h"
#include "net/IdTCPClient.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsPeer.h"

#include <QBuffer>
#include <QDir>
#include <QScopeGuard>

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace {

using testsupport::NginxServer;
using testsupport::NginxTls;
using testsupport::TestCertificates;

TestCertificates& Certificates() {
  static TestCertificates certificates;
  return certificates;
}

NginxTls TlsOf(const QString& name) {
  return {Certificates().CertificateFile(name), Certificates().KeyFile(name), {}, {}};
}

// The call raises an exception of exactly that class with exactly that message.
template <typename Call>
void ExpectRaisesClass(Call&& call, const QString& className, const QString& message) {
  try {
    call();
    ADD_FAILURE() << "no exception; expected " << className.toStdString();
  } catch (const EIdException& e) {
    EXPECT_EQ(e.ClassName(), className);
    EXPECT_EQ(e.Message(), message);
  }
}

int OpenDescriptors() {
  return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// A client whose TLS handler trusts `caFile` (empty: the system store) and speaks TLS to
// host:port from the first connect on.
struct TlsClient {
  TlsClient(const QString& host, uint16_t port, const QString& caFile) {
    tls = new TIdTLSIOHandler(&client);
    tls->SetTrustedCertificatesFile(caFile);
    tls->SetPassThrough(false);
    tls->SetURIToCheck(QStringLiteral("https://%1:%2/").arg(host).arg(port));
    client.SetIOHandler(tls);
    client.SetHost(host);
    client.SetPort(port);
    client.SetReadTimeout(10000);
  }

  void Get(const QString& path) {
    TIdIOHandler& io = *client.IOHandler();
    io.BeginWriteBuffering();
    io.WriteLine(QStringLiteral("GET %1 HTTP/1.1").arg(path));
    io.WriteLine(QStringLiteral("Host: localhost"));
    io.WriteLine();
    io.EndWriteBuffering();
  }

  // The status line; the rest of the head is read and the Content-Length returned.
  int64_t ReadHead(QString* status = nullptr) {
    TIdIOHandler& io = *client.IOHandler();
    const QString line = io.ReadLine();
    if (status) {
      *status = line;
    }
    int64_t length = -1;
    for (QString header = io.ReadLine(); !header.isEmpty(); header = io.ReadLine()) {
      if (header.startsWith(QStringLiteral("Content-Length: "))) {
        length = header.mid(16).toLongLong();
      }
    }
    return length;
  }

  TIdTCPClient client;
  TIdTLSIOHandler* tls;
};

// --- Certificates: each refused with its class and message, no descriptor left behind --------

struct CertificateCase {
  const char* name;
  const char* certificate;
  const char* host;
  bool trustPrivateAuthority;
  const char* exceptionClass; // empty: the handshake succeeds
  const char* message;
};

class CertificateCases : public testing::TestWithParam<CertificateCase> {};

TEST_P(CertificateCases, AreVerified) {
  const CertificateCase& row = GetParam();
  NginxServer nginx(QStringLiteral("location / { return 200 \"ok\\n\"; }"),
                    TlsOf(QString::fromLatin1(row.certificate)));
  const int before = OpenDescriptors();
  {
    TlsClient c(QString::fromLatin1(row.host), nginx.Port(),
                row.trustPrivateAuthority ? Certificates().CaFile() : QString());
    if (*row.exceptionClass == '\0') {
      c.client.Connect();
      c.Get(QStringLiteral("/"));
      QString status;
      c.ReadHead(&status);
      EXPECT_EQ(status, "HTTP/1.1 200 OK");
      EXPECT_EQ(c.tls->LastSession().Protocol, "http/1.1");
      c.client.Disconnect();
    } else {
      ExpectRaisesClass([&] { c.client.Connect(); }, QString::fromLatin1(row.exceptionClass),
                        QString::fromUtf8(row.message));
      EXPECT_FALSE(c.client.Connected());
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Tls, CertificateCases,
    testing::Values(
        CertificateCase{"ValidByName", "valid", "localhost", true, "", ""},
        CertificateCase{"ValidByAddress", "valid", "127.0.0.1", true, "", ""},
        CertificateCase{"PrivateAuthorityNotInSystemStore", "valid", "localhost", false,
                        "EIdTLSCertificateUntrusted",
                        "Certificate of localhost is not trusted: unable to get local issuer "
                        "certificate"},
        CertificateCase{"Expired", "expired", "localhost", true, "EIdTLSCertificateUntrusted",
                        "Certificate of localhost is not trusted: certificate has expired"},
        CertificateCase{"NotYetValid", "not-yet", "localhost", true, "EIdTLSCertificateUntrusted",
                        "Certificate of localhost is not trusted: certificate is not yet valid"},
        CertificateCase{"OtherHostByName", "other-host", "localhost", true, "EIdTLSHostMismatch",
                        "Certificate of localhost does not name this host"},
        CertificateCase{"OtherHostByAddress", "other-host", "127.0.0.1", true, "EIdTLSHostMismatch",
                        "Certificate of 127.0.0.1 does not name this host"},
        CertificateCase{"SelfSigned", "self-signed", "localhost", true,
                        "EIdTLSCertificateUntrusted",
                        "Certificate of localhost is not trusted: self-signed certificate"},
        CertificateCase{"UnknownAuthority", "unknown-ca", "127.0.0.1", true,
                        "EIdTLSCertificateUntrusted",
                        "Certificate of 127.0.0.1 is not trusted: unable to get local issuer "
                        "certificate"}),
    testsupport::RowName());

// The system store is what SSL_CERT_FILE names when no file is given to the handler.
TEST(TlsTrust, SystemStoreHonoursSslCertFile) {
  NginxServer nginx(QStringLiteral("location / { return 200 \"ok\\n\"; }"),
                    TlsOf(QStringLiteral("valid")));
  const QByteArray saved = qgetenv("SSL_CERT_FILE");
  qputenv("SSL_CERT_FILE", Certificates().CaFile().toLocal8Bit());
  TlsClient c(QStringLiteral("localhost"), nginx.Port(), {});
  EXPECT_NO_THROW(c.client.Connect());
  if (saved.isNull()) {
    qunsetenv("SSL_CERT_FILE");
  } else {
    qputenv("SSL_CERT_FILE", saved);
  }
}

TEST(TlsTrust, UnreadableFileOfCertificatesIsAnError) {
  NginxServer nginx({}, TlsOf(QStringLiteral("valid")));
  TlsClient c(QStringLiteral("localhost"), nginx.Port(), QStringLiteral("/nonexistent/ca.pem"));
  try {
    c.client.Connect();
    ADD_FAILURE() << "connected without a trust store";
  } catch (const EIdTLSSetupError& e) {
    EXPECT_TRUE(e.Message().startsWith(
        QStringLiteral("Cannot read trusted certificates from /nonexistent/ca.pem: ")))
        << e.Message().toStdString();
  }
  EXPECT_FALSE(c.client.Connected());
}

// nginx refuses TLS 1.0 and 1.1 at OpenSSL's default security level, so the old protocols are
// allowed there at level 0: the server really offers them, and the client still refuses.
TEST(TlsVersions, ServerWithOnlyTls10And11IsRefused) {
  NginxTls old = TlsOf(QStringLiteral("valid"));
  old.Protocols = QStringLiteral("TLSv1 TLSv1.1");
  old.Ciphers = QStringLiteral("DEFAULT:@SECLEVEL=0");
  NginxServer nginx({}, old);
  TlsClient c(QStringLiteral("localhost"), nginx.Port(), Certificates().CaFile());
  try {
    c.client.Connect();
    ADD_FAILURE() << "connected with TLS below 1.2";
  } catch (const EIdSSLProtocolReplyError& e) {
    EXPECT_EQ(e.ClassName(), "EIdSSLProtocolReplyError");
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("TLS handshake with localhost failed: ")))
        << e.Message().toStdString();
  }
}

// --- Reading and writing through TLS against nginx ----------------------------------------------

class NginxTlsTransport : public testing::Test {
protected:
  static void SetUpTestSuite() {
    nginx_ = new NginxServer({}, TlsOf(QStringLiteral("valid")));
    nginx_->AddPatternFile(QStringLiteral("big.bin"), 3 * 1024 * 1024 + 17);
    nginx_->AddFile(QStringLiteral("small.txt"), "small\n");
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  static NginxServer* nginx_;
};
NginxServer* NginxTlsTransport::nginx_ = nullptr;

TEST_F(NginxTlsTransport, BodyByLengthMatchesTheFileOnOneHandshake) {
  QFile file(nginx_->Root() + QStringLiteral("/big.bin"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray expected = file.readAll();
  TlsClient c(QStringLiteral("localhost"), nginx_->Port(), Certificates().CaFile());
  c.client.Connect();
  for (int round = 0; round < 3; ++round) {
    c.Get(round == 1 ? QStringLiteral("/small.txt") : QStringLiteral("/big.bin"));
    const int64_t length = c.ReadHead();
    QBuffer body;
    body.open(QIODevice::ReadWrite);
    c.client.IOHandler()->ReadStream(body, length);
    EXPECT_EQ(body.data(), round == 1 ? QByteArray("small\n") : expected) << round;
  }
  EXPECT_EQ(c.tls->HandshakeCount(), 1);
  EXPECT_TRUE(c.tls->Encrypted());
  EXPECT_TRUE(c.client.IOHandler()->PendingInputEmpty());
}

// Resumption in both versions: TLS 1.2 by the session given in the handshake, TLS 1.3 by the
// tickets the server sends after it, which arrive with the first response.
class Resumption : public testing::TestWithParam<const char*> {};

TEST_P(Resumption, SecondConnectResumesTheSession) {
  NginxTls tls = TlsOf(QStringLiteral("valid"));
  tls.Protocols = QString::fromLatin1(GetParam());
  NginxServer nginx({}, tls);
  nginx.AddFile(QStringLiteral("small.txt"), "small\n");
  TlsClient c(QStringLiteral("localhost"), nginx.Port(), Certificates().CaFile());
  for (int round = 0; round < 2; ++round) {
    c.client.Connect();
    c.Get(QStringLiteral("/small.txt"));
    QBuffer body;
    body.open(QIODevice::ReadWrite);
    c.client.IOHandler()->ReadStream(body, c.ReadHead());
    EXPECT_EQ(body.data(), "small\n");
    EXPECT_EQ(c.tls->LastSession().Resumed, round == 1) << round;
    c.client.Disconnect();
  }
  EXPECT_EQ(c.tls->LastSession().Version, GetParam());
  EXPECT_TRUE(c.tls->LastSession().Issuer.contains(QStringLiteral("Marquelo test ca")));
  EXPECT_EQ(c.tls->HandshakeCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Tls, Resumption, testing::Values("TLSv1.2", "TLSv1.3"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(4, 1) + "_" +
                                  std::string(info.param).substr(6);
                         });

// --- Peers that are no proper TLS server ---------------------------------------------------------

struct BadPeerCase {
  const char* name;
  QByteArray reply; // sent once the ClientHello is in; empty: stay silent
  int32_t connectTimeout;
  const char* exceptionClass;
  const char* message; // a prefix
};

class BadPeers : public testing::TestWithParam<BadPeerCase> {};

TEST_P(BadPeers, EndTheHandshakeWithAClearFailure) {
  const BadPeerCase& row = GetParam();
  testsupport::LoopbackServer server([&](testsupport::LoopbackPeer& peer) {
    peer.ReadExactly(5);
    if (row.reply.isEmpty()) {
      peer.WaitForRelease();
    } else {
      peer.Send(row.reply);
    }
  });
  TlsClient c(QStringLiteral("localhost"), server.Port(), Certificates().CaFile());
  c.client.SetReadTimeout(300);
  c.client.SetConnectTimeout(row.connectTimeout);
  try {
    c.client.Connect();
    ADD_FAILURE() << "connected";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.ClassName(), row.exceptionClass);
    EXPECT_TRUE(e.Message().startsWith(QString::fromUtf8(row.message)))
        << e.Message().toStdString();
  }
  EXPECT_FALSE(c.client.Connected());
  server.Release();
}

INSTANTIATE_TEST_SUITE_P(
    Tls, BadPeers,
    testing::Values(
        BadPeerCase{"SilentUnderReadLimit", {}, 0, "EIdReadTimeout", "Read timed out."},
        BadPeerCase{"SilentUnderConnectLimit", {}, 200, "EIdConnectTimeout", "Connect timed out."},
        BadPeerCase{"PlainHttp",
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 0,
                    "EIdSSLProtocolReplyError",
                    "TLS handshake with localhost failed: the server answered in plain HTTP, not "
                    "TLS"},
        BadPeerCase{"GarbageInsteadOfServerHello", QByteArray(64, '\x7f'), 0,
                    "EIdSSLProtocolReplyError", "TLS handshake with localhost failed: "},
        BadPeerCase{"AlertThenClose", QByteArray::fromHex("15030300020228"), 0,
                    "EIdSSLProtocolReplyError", "TLS handshake with localhost failed: "}),
    testsupport::RowName());

// A socket shut down from another thread ends a handshake that waits without limit at once.
TEST(TlsCancel, ShutdownOfTheSocketEndsAWaitingHandshake) {
  testsupport::LoopbackServer server([](testsupport::LoopbackPeer& peer) {
    peer.ReadExactly(5);
    peer.WaitForRelease();
  });
  TlsClient c(QStringLiteral("localhost"), server.Port(), Certificates().CaFile());
  c.client.SetReadTimeout(0);
  std::thread cancel([&] {
    server.WaitForConnections(1);
    // The binding exists once connecting has begun; the ClientHello follows at once.
    while (!server.Received(0).size()) {
      std::this_thread::yield();
    }
    ::shutdown(c.tls->Binding()->Handle(), SHUT_RDWR);
  });
  EXPECT_THROW(c.client.Connect(), EIdSSLProtocolReplyError);
  cancel.join();
  server.Release();
}

// --- Waits on a peer that stops: the call's deadline and the abort end them, and say so ------

enum class StalledStep { PlainSend, TlsSend, TlsReadAfterAbort };

struct StallCase : testsupport::NamedRow {
  StalledStep step;
  const char* expected; // the class of what the step raises, with the code of a socket error
};

class StalledPeer : public testing::TestWithParam<StallCase> {};

TEST_P(StalledPeer, EndsTheStepWithItsOwnReason) {
  using namespace std::chrono_literals;
  const StallCase& c = GetParam();
  // Both peers take the connection (and the handshake) and then neither read nor send.
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  testsupport::LoopbackServer plain([](testsupport::LoopbackPeer& peer) { peer.WaitForRelease(); });
  testsupport::TlsPeer tlsPeer(Certificates().CertificateFile(QStringLiteral("valid")),
                               Certificates().KeyFile(QStringLiteral("valid")),
                               [released](testsupport::TlsConnection&) { released.wait_for(10s); });
  const auto letGo = qScopeGuard([&] {
    plain.Release();
    release.set_value();
  });
  const bool tls = c.step != StalledStep::PlainSend;
  TlsClient client(QStringLiteral("localhost"), tls ? tlsPeer.Port() : plain.Port(),
                   Certificates().CaFile());
  client.tls->SetPassThrough(!tls);
  client.client.Connect();

  auto outcome = std::async(std::launch::async, [&]() -> std::string {
    try {
      if (c.step == StalledStep::TlsReadAfterAbort) {
        client.tls->Abort();
        QByteArray buffer(64, '\0');
        client.tls->ReceiveChunk(buffer);
        return "nothing";
      }
      client.tls->SetCallDeadline(std::chrono::steady_clock::now() + 200ms);
      // Far more than both sides' buffers hold: the sends run out of room.
      const QByteArray block(1 << 20, 'x');
      for (int i = 0; i < 1024; ++i) {
        client.client.IOHandler()->WriteBytes(block);
      }
      return "nothing";
    } catch (const EIdSocketError& e) {
      return "EIdSocketError " + std::to_string(e.SocketErrorCode());
    } catch (const EIdException& e) {
      return e.ClassName().toStdString();
    }
  });
  if (outcome.wait_for(20s) != std::future_status::ready) {
    // Still blocked: the abort frees the thread, and its error tells what went wrong.
    client.tls->Abort();
  }
  EXPECT_EQ(outcome.get(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StalledPeer,
    testing::Values(StallCase{"PlainSendPastTheDeadline", StalledStep::PlainSend, "EIdCallTimeout"},
                    StallCase{"TlsSendPastTheDeadline", StalledStep::TlsSend, "EIdCallTimeout"},
                    StallCase{"TlsReadAfterAbort", StalledStep::TlsReadAfterAbort,
                              "EIdSocketError 10053"}),
    testsupport::RowName());

// --- A scripted TLS server: endings and renegotiation -------------------------------------------

// A body cut short by a close without close_notify: every byte that came is kept, then the
// failure is raised, also when the records and the close arrive together and are taken from
// OpenSSL's read-ahead in one receive.
class CloseWithoutCloseNotifyMidBody : public testing::TestWithParam<int> {};

TEST_P(CloseWithoutCloseNotifyMidBody, KeepsWhatCameThenRaises) {
  const int records = GetParam();
  QByteArray sent;
  for (int i = 0; i < records; ++i) {
    sent += QByteArray(records == 1 ? 10 : 9000, char('a' + i));
  }
  testsupport::TlsPeer peer(
      Certificates().CertificateFile(QStringLiteral("valid")),
      Certificates().KeyFile(QStringLiteral("valid")), [&](testsupport::TlsConnection& tls) {
        tls.ReadRequestHead();
        tls.Send("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(sent.size() + 100) +
                 "\r\n\r\n");
        for (int i = 0; i < records; ++i) {
          tls.Send(sent.mid(i * (sent.size() / records), sent.size() / records));
        }
        tls.DropWithoutCloseNotify();
      });
  TlsClient c(QStringLiteral("localhost"), peer.Port(), Certificates().CaFile());
  c.client.Connect();
  c.Get(QStringLiteral("/"));
  const int64_t length = c.ReadHead();
  QBuffer body;
  body.open(QIODevice::ReadWrite);
  ExpectRaisesClass(
      [&] { c.client.IOHandler()->ReadStream(body, length); }, QStringLiteral("EIdTLSTruncated"),
      QStringLiteral("Connection to localhost ended without TLS close_notify: the data "
                     "may be cut short"));
  EXPECT_EQ(body.data(), sent);
}

INSTANTIATE_TEST_SUITE_P(TlsEndings, CloseWithoutCloseNotifyMidBody, testing::Values(1, 12));

TEST(TlsEndings, IdleCloseWithoutCloseNotifyIsJustAClose) {
  testsupport::TlsPeer peer(Certificates().CertificateFile(QStringLiteral("valid")),
                            Certificates().KeyFile(QStringLiteral("valid")),
                            [](testsupport::TlsConnection& tls) { tls.DropWithoutCloseNotify(); });
  TlsClient c(QStringLiteral("localhost"), peer.Port(), Certificates().CaFile());
  c.client.Connect();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (c.client.Connected() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(c.client.Connected());
}

// The client refuses renegotiation: the server's request is answered with the no_renegotiation
// alert, which this server (OpenSSL) takes as the end of the connection, and the client's read
// ends in a TLS failure rather than waiting.
TEST(TlsEndings, RenegotiationRequestIsRefused) {
  testsupport::TlsPeer peer(
      Certificates().CertificateFile(QStringLiteral("valid")),
      Certificates().KeyFile(QStringLiteral("valid")),
      [](testsupport::TlsConnection& tls) {
        tls.ReadRequestHead();
        if (tls.RequestRenegotiation()) {
          tls.WaitForClientEnd();
        }
      },
      TLS1_2_VERSION);
  TlsClient c(QStringLiteral("localhost"), peer.Port(), Certificates().CaFile());
  c.client.Connect();
  EXPECT_EQ(c.tls->LastSession().Version, "TLSv1.2");
  c.Get(QStringLiteral("/"));
  EXPECT_THROW(c.client.IOHandler()->ReadLine(), EIdTLSError);
  EXPECT_EQ(c.tls->HandshakeCount(), 1);
}

} // namespace
