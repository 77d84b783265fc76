#include "net/IdTCPClient.h"
#include "net/IdIOHandlerStack.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"

#include "tests/support/ExpectSocketError.h"
#include <QBuffer>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

// Every status text a client and its handler report, in order.
struct StatusLog {
  QStringList texts;
  void Attach(TIdComponent& component) {
    component.OnStatus = [this](TIdComponent*, TIdStatus, const QString& text) {
      texts << text;
    };
  }
};

TEST(TCPClientConnect, RefusesMissingHostOrPortBeforeMakingAnything) {
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  testsupport::ExpectRaises<EIdPortRequired>([&] { client.Connect(); }, "");
  client.SetHost("");
  client.SetPort(80);
  EXPECT_THROW(client.Connect(), EIdHostRequired);
  EXPECT_EQ(client.IOHandler(), nullptr);
}

struct ConnectCase {
  const char* name;
  const char* host;
  QStringList statuses; // "%1" stands for the server's address
};

class TCPClientStatus : public testing::TestWithParam<ConnectCase> {};

TEST_P(TCPClientStatus, ReportsEachStepOfConnectAndDisconnect) {
  const ConnectCase& c = GetParam();
  LoopbackServer server([](LoopbackPeer& peer) { peer.ReadUntilClose(); });
  TIdTCPClient client;
  StatusLog log;
  log.Attach(client);
  int disconnectedAt = -1;
  client.OnDisconnected = [&](QObject* sender) {
    EXPECT_EQ(sender, &client);
    disconnectedAt = int(log.texts.size());
  };
  client.SetHost(c.host);
  client.SetPort(server.Port());
  client.Connect();
  EXPECT_TRUE(client.Connected());
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  QStringList expected;
  for (const QString& status : c.statuses) {
    expected << status;
  }
  EXPECT_EQ(log.texts, expected);
  EXPECT_EQ(disconnectedAt, expected.size() - 1) << "between Disconnecting. and Disconnected.";
}

INSTANTIATE_TEST_SUITE_P(Table, TCPClientStatus,
                         testing::Values(ConnectCase{"Literal",
                                                     "127.0.0.1",
                                                     {"Connecting to 127.0.0.1.", "Connected.",
                                                      "Disconnecting.", "Disconnected."}},
                                         ConnectCase{"Localhost",
                                                     "LocalHost",
                                                     {"Resolving hostname LocalHost.",
                                                      "Connecting to 127.0.0.1.", "Connected.",
                                                      "Disconnecting.", "Disconnected."}}),
                         testsupport::RowName());

TEST(TCPClientConnect, WithoutAStatusHandlerConnectsAndDisconnectsQuietly) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send("hello\r\n"); });
  TIdTCPClient client;
  client.SetHost("localhost");
  client.SetPort(server.Port());
  client.Connect();
  EXPECT_EQ(client.IOHandler()->ReadLine(), "hello");
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
}

TEST(TCPClientConnect, AnUnknownHostFreesTheImplicitHandler) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.WaitForRelease(); });
  TIdTCPClient client;
  StatusLog log;
  log.Attach(client);
  client.SetHost("marquelo-unknown.invalid");
  client.SetPort(server.Port());
  testsupport::ExpectSocketError([&] { client.Connect(); }, 11001,
                                 "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(log.texts, QStringList{"Resolving hostname marquelo-unknown.invalid."});
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.Connected());

  client.SetHost("127.0.0.1");
  client.Connect();
  ASSERT_NE(client.IOHandler(), nullptr);
  EXPECT_TRUE(client.OwnsIOHandler());
  EXPECT_TRUE(client.Connected());
  server.Release();
}

class TCPClientRefused : public testing::TestWithParam<int32_t> {};

TEST_P(TCPClientRefused, RaisesTheSocketErrorOnEitherPath) {
  testsupport::RefusingPort closed;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(closed.Port());
  client.SetConnectTimeout(GetParam());
  testsupport::ExpectSocketError([&] { client.Connect(); }, 10061,
                                 "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(client.IOHandler(), nullptr);
}

// 0: connect on the calling thread; otherwise on the connect thread (-1: no limit).
INSTANTIATE_TEST_SUITE_P(ConnectTimeouts, TCPClientRefused, testing::Values(0, -1, 5000));

TEST(TCPClientConnect, GivesUpAtTheTimeLimitWhenNobodyAnswers) {
  testsupport::NeverAcceptingListener silent;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(silent.Port());
  client.SetConnectTimeout(300);
  testsupport::ExpectRaises<EIdConnectTimeout>([&] { client.Connect(); }, "Connect timed out.");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClientConnect, TheConnectThreadPathConnects) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send("ok\n"); });
  for (const int32_t limit : {-1, 5000}) {
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetConnectTimeout(limit);
    client.Connect();
    EXPECT_EQ(client.IOHandler()->ReadLine(), "ok") << "limit " << limit;
  }
}

TEST(TCPClientConnect, ASecondConnectIsRefusedWhileConnected) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.WaitForRelease(); });
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  testsupport::ExpectRaises<EIdAlreadyConnected>([&] { client.Connect(); }, "Already connected.");
  server.Release();
}

TEST(TCPClientConnect, ConnectsOverIPv6) {
  if (!LoopbackServer::HasIPv6()) {
    GTEST_SKIP() << "no ::1 on this machine";
  }
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send(peer.ReadUntil("\n")); },
                        testsupport::Family::IPv6);
  TIdTCPClient client;
  StatusLog log;
  log.Attach(client);
  client.SetIPVersion(Id_IPv6);
  client.SetHost("::1");
  client.SetPort(server.Port());
  client.Connect();
  client.IOHandler()->WriteLine("six");
  EXPECT_EQ(client.IOHandler()->ReadLine(), "six");
  EXPECT_EQ(log.texts, (QStringList{"Connecting to 0:0:0:0:0:0:0:1.", "Connected."}));
}

TEST(TCPClientConnect, AppliesTheBindingSettingsAndEvents) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.WaitForRelease(); });
  TIdTCPClient client;
  QStringList events;
  client.OnBeforeBind = [&](QObject*) {
    events << "before";
  };
  client.OnSocketAllocated = [&](QObject*) {
    events << "allocated";
  };
  client.OnAfterBind = [&](QObject*) {
    events << "after";
  };
  client.OnConnected = [&](QObject* sender) {
    EXPECT_EQ(sender, &client);
    events << "connected";
  };
  testsupport::RefusingPort local;
  local.Release();
  const uint16_t localPort = local.Port();
  client.SetBoundIP("127.0.0.1");
  client.SetBoundPortLow(localPort);
  client.SetBoundPortHigh(localPort);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.SetReuseSocket(rsTrue);
  client.Connect();
  auto* handler = client.SocketHandler();
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(events, (QStringList{"before", "allocated", "after", "connected"}));
  EXPECT_EQ(handler->Binding()->Port(), localPort);
  EXPECT_EQ(handler->Binding()->GetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR), 1);
  EXPECT_EQ(handler->Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 0);
  handler->SetUseNagle(false);
  EXPECT_EQ(handler->Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 1);
  server.Release();
}

TEST(TCPClientConnect, SettingsReachTheCurrentHandler) {
  TIdTCPClient client;
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_FALSE(client.OwnsIOHandler());
  EXPECT_EQ(client.SocketHandler(), &handler);
  client.SetHost("example.invalid");
  client.SetPort(8080);
  client.SetConnectTimeout(250);
  client.SetReadTimeout(750);
  client.SetIPVersion(Id_IPv6);
  client.SetBoundPort(4242);
  EXPECT_EQ(handler.Host(), "example.invalid");
  EXPECT_EQ(handler.Port(), 8080);
  EXPECT_EQ(handler.ConnectTimeout(), 250);
  EXPECT_EQ(handler.ReadTimeout(), 750);
  EXPECT_EQ(handler.IPVersion(), Id_IPv6);
  EXPECT_EQ(handler.BoundPort(), 4242);
  handler.SetReadTimeout(100);
  EXPECT_EQ(client.ReadTimeout(), 100) << "read back from the handler";
  client.SetIOHandler(nullptr);
}

TEST(TCPClientPeerClose, QueuedBytesKeepTheConnectionUntilReadOut) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send("0123456789"); });
  TIdTCPClient client;
  StatusLog log;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  log.Attach(*client.IOHandler());
  ASSERT_TRUE(server.WaitForScripts(1)); // the server has sent and closed

  TIdIOHandler& io = *client.IOHandler();
  QByteArray bytes;
  io.ReadBytes(bytes, 4);
  EXPECT_EQ(bytes, "0123");
  // Whether or not the close has been seen yet, six bytes keep the connection alive.
  EXPECT_TRUE(client.Connected());
  testsupport::ExpectRaises<EIdAlreadyConnected>([&] { client.Connect(); }, "Already connected.");
  io.ReadBytes(bytes, 6, false);
  EXPECT_EQ(bytes.left(6), "456789");
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(io.ReadBytes(bytes, 1), EIdConnClosedGracefully);
  EXPECT_EQ(log.texts, QStringList{"Disconnected."}) << "the close is reported once";
  EXPECT_FALSE(io.SourceAvailable()) << "the socket is closed as soon as the close is seen";
}

TEST(TCPClientPeerClose, AResetPeerMakesConnectedFalseWithoutRaising) {
  LoopbackServer server([](LoopbackPeer& peer) {
    peer.ReadExactly(1);
    peer.Reset();
  });
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  client.IOHandler()->Write("x");
  ASSERT_TRUE(server.WaitForScripts(1));
  bool connected = true;
  EXPECT_NO_THROW(connected = client.Connected());
  EXPECT_FALSE(connected);
}

TEST(TCPClientDisconnect, DoesNothingOnAClientNeverConnected) {
  TIdTCPClient client;
  StatusLog log;
  log.Attach(client);
  bool fired = false;
  client.OnDisconnected = [&](QObject*) {
    fired = true;
  };
  client.Disconnect();
  EXPECT_FALSE(fired);
  EXPECT_TRUE(log.texts.isEmpty());
  EXPECT_THROW(client.CheckConnected(), EIdNotConnected);
  EXPECT_THROW(client.CheckForGracefulDisconnect(), EIdException);
  EXPECT_NO_THROW(client.CheckForGracefulDisconnect(false));
}

TEST(TCPClientDisconnect, QueuedInputOutlivesTheDisconnectUntilTheNextOpen) {
  LoopbackServer server([](LoopbackPeer& peer) {
    peer.Send("line one\nline two\n");
    peer.WaitForRelease();
  });
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  EXPECT_EQ(client.IOHandler()->ReadLine(), "line one"); // "line two" came along with it
  client.Disconnect();
  EXPECT_FALSE(client.IOHandler()->IsOpen());
  EXPECT_TRUE(client.Connected());
  EXPECT_THROW(client.Connect(), EIdAlreadyConnected);
  EXPECT_EQ(client.IOHandler()->ReadLine(), "line two");
  EXPECT_FALSE(client.Connected());
  server.Release();

  // The handler stays attached and serves the next connect with clean queues.
  TIdIOHandler* handler = client.IOHandler();
  client.Connect();
  EXPECT_EQ(client.IOHandler(), handler);
  EXPECT_EQ(client.IOHandler()->ReadLine(), "line one");
}

TEST(TCPClientProgress, TheHandlersReadWorkIsReportedByTheClient) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.SendSlowly("abcdefghij", 3, 5ms); });
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  QStringList events;
  client.OnWorkBegin = [&](TIdComponent* sender, TWorkMode mode, int64_t max) {
    EXPECT_EQ(sender, &client);
    events << QString("begin %1 %2").arg(mode).arg(max);
  };
  client.OnWork = [&](TIdComponent*, TWorkMode, int64_t) {
  };
  client.OnWorkEnd = [&](TIdComponent* sender, TWorkMode mode) {
    EXPECT_EQ(sender, &client);
    events << QString("end %1").arg(mode);
  };
  client.Connect();
  QBuffer sink;
  sink.open(QIODevice::WriteOnly);
  client.IOHandler()->ReadStream(sink, 10);
  EXPECT_EQ(sink.data(), "abcdefghij");
  EXPECT_EQ(events, (QStringList{"begin 0 10", "end 0"}));
  EXPECT_EQ(client.WorkPosition(wmRead), 10);
}

TEST(TCPClientLife, AHandlerDestroyedElsewhereIsForgotten) {
  TIdTCPClient client;
  auto* handler = new TIdIOHandlerStack;
  client.SetIOHandler(handler);
  delete handler;
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(client.SocketHandler(), nullptr);
  EXPECT_FALSE(client.Connected());
}

} // namespace
