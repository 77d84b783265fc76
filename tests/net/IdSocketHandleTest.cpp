#include "net/IdSocketHandle.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"

#include "tests/support/ExpectSocketError.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using namespace std::chrono_literals;

using testsupport::RefusingPort;

TEST(SocketHandleBind, PortZeroTakesThePortTheSystemChose) {
  TIdSocketHandle handle;
  handle.Allocate();
  handle.Bind();
  EXPECT_NE(handle.Port(), 0);
  EXPECT_EQ(handle.IP(), "0.0.0.0");
  EXPECT_EQ(handle.IPVersion(), Id_IPv4);
}

struct BindCase {
  const char* name;
  bool portSet;        // Port() is the occupied port
  bool rangeOnIt;      // the range is the occupied port alone
  uint16_t min, max;   // otherwise this range
  const char* message; // "%1" stands for the occupied port
};

class SocketHandleBindFailure : public testing::TestWithParam<BindCase> {};

TEST_P(SocketHandleBindFailure, NamesTheCause) {
  const BindCase& c = GetParam();
  RefusingPort occupied;
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetIP("127.0.0.1");
  if (c.portSet) {
    handle.SetPort(occupied.Port());
  }
  handle.SetClientPortMin(c.rangeOnIt ? occupied.Port() : c.min);
  handle.SetClientPortMax(c.rangeOnIt ? occupied.Port() : c.max);
  testsupport::ExpectRaises<EIdSocketHandleError>(
      [&] { handle.Bind(); },
      QString::fromUtf8(c.message).replace(QStringLiteral("%1"), QString::number(occupied.Port())));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketHandleBindFailure,
    testing::Values(
        BindCase{"TakenPort", true, false, 0, 0,
                 "Could not bind socket. Address and port are already in use."},
        BindCase{"TakenPortDespiteRange", true, false, 1, 2,
                 "Could not bind socket. Address and port are already in use."},
        BindCase{"ReversedRange", false, false, 5000, 4999, "Invalid Port Range (5000 - 4999)"},
        BindCase{"TakenRange", false, true, 0, 0, "Can not bind in port range (%1 - %1)"}),
    testsupport::RowName());

TEST(SocketHandleBind, ARangeBindsAFreePortInIt) {
  RefusingPort free;
  free.Release();
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetIP("127.0.0.1");
  handle.SetClientPortMin(free.Port());
  handle.SetClientPortMax(free.Port());
  handle.Bind();
  EXPECT_EQ(handle.Port(), free.Port());
}

TEST(SocketHandle, IsReadableOnAClosedHandleRaisesInsteadOfWaiting) {
  TIdSocketHandle handle;
  testsupport::ExpectRaises<EIdConnClosedGracefully>([&] { handle.IsReadable(-1); },
                                                     "Connection Closed Gracefully.");
  handle.Allocate();
  handle.Close();
  EXPECT_THROW(handle.IsReadable(-1), EIdConnClosedGracefully);
}

TEST(SocketHandle, ARefusedConnectCarriesItsCodeAndText) {
  RefusingPort closed;
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPeer("127.0.0.1", closed.Port(), Id_IPv4);
  testsupport::ExpectSocketError([&] { handle.Connect(); }, 10061,
                                 "Socket Error # 10061\r\nConnection refused.");
}

// No peer address is no address at all: it fails as its text conversion fails, and does not
// stand for the local host, where a server is listening on the port to prove it.
TEST(SocketHandle, AnEmptyPeerAddressFailsAsItsConversion) {
  for (const auto& [version, family] :
       {std::pair{Id_IPv4, testsupport::Family::IPv4}, {Id_IPv6, testsupport::Family::IPv6}}) {
    if (version == Id_IPv6 && !LoopbackServer::HasIPv6()) {
      continue;
    }
    LoopbackServer server([](LoopbackPeer& peer) { peer.Send("local"); }, family);
    QString expected;
    try {
      TIdStack::TextToAddress(u"", version);
    } catch (const Exception& e) {
      expected = e.ClassName() + u' ' + e.Message();
    }
    ASSERT_FALSE(expected.isEmpty());
    TIdSocketHandle handle;
    handle.SetIPVersion(version);
    handle.Allocate();
    handle.SetPeer({}, server.Port(), version);
    QString actual;
    try {
      handle.Connect();
    } catch (const Exception& e) {
      actual = e.ClassName() + u' ' + e.Message();
    }
    EXPECT_EQ(actual, expected) << "IP version " << int(version);
  }
}

TEST(SocketHandle, ConnectsSendsReceivesAndKnowsBothEnds) {
  LoopbackServer server([](LoopbackPeer& peer) {
    const QByteArray question = peer.ReadUntil("?");
    peer.Send(question.toUpper());
  });
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPeer(server.Host(), server.Port(), Id_IPv4);
  handle.Connect();
  EXPECT_FALSE(handle.IsReadable(0)) << "the server says nothing before the question";
  EXPECT_EQ(handle.RemoteIP(), "127.0.0.1");
  EXPECT_EQ(handle.RemotePort(), server.Port());
  EXPECT_EQ(handle.IP(), "127.0.0.1");
  EXPECT_NE(handle.Port(), 0);

  EXPECT_EQ(handle.Send("xxwho?", 2), 4);
  ASSERT_TRUE(handle.IsReadable(5000));
  QByteArray buffer(16, '\0');
  const int32_t count = handle.Receive(buffer);
  EXPECT_EQ(buffer.left(count), "WHO?");
  ASSERT_TRUE(server.WaitForScripts(1));
  // The server has closed: readable, and the receive says so with 0.
  EXPECT_TRUE(handle.IsReadable(5000));
  EXPECT_EQ(handle.Receive(buffer), 0);
  EXPECT_EQ(server.Received(0), "who?");

  QByteArray empty;
  EXPECT_THROW(handle.Receive(empty), ERangeError);
  EXPECT_EQ(handle.Send("abc", 3), 0) << "nothing left after the offset is no call";
}

TEST(SocketHandle, ConnectsOverIPv6) {
  if (!LoopbackServer::HasIPv6()) {
    GTEST_SKIP() << "no ::1 on this machine";
  }
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send("6"); }, testsupport::Family::IPv6);
  TIdSocketHandle handle;
  handle.SetIPVersion(Id_IPv6);
  handle.Allocate();
  handle.SetPeer("::1", server.Port(), Id_IPv6);
  handle.Connect();
  EXPECT_EQ(handle.RemoteIP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(handle.IPVersion(), Id_IPv6);
  QByteArray buffer(4, '\0');
  ASSERT_TRUE(handle.IsReadable(5000));
  EXPECT_EQ(handle.Receive(buffer), 1);
  EXPECT_EQ(buffer[0], '6');
}

TEST(SocketHandle, TheIPVersionIsFixedWhileASocketIsOpen) {
  TIdSocketHandle handle;
  handle.Allocate();
  EXPECT_NO_THROW(handle.SetIPVersion(Id_IPv4));
  testsupport::ExpectRaises<EIdCannotSetIPVersionWhenConnected>(
      [&] { handle.SetIPVersion(Id_IPv6); }, "Cannot change IPVersion when connected");
  handle.Close();
  handle.SetIPVersion(Id_IPv6);
  EXPECT_EQ(handle.IPVersion(), Id_IPv6);
}

TEST(SocketHandle, ResetForgetsThePeerAndOnRequestTheLocalSide) {
  TIdSocketHandle handle;
  handle.SetBinding("127.0.0.1", 4000, Id_IPv6);
  handle.SetPeer("::1", 80, Id_IPv6);
  handle.Allocate();
  handle.Reset(false);
  EXPECT_FALSE(handle.HandleAllocated());
  EXPECT_EQ(handle.RemoteIP(), "");
  EXPECT_EQ(handle.RemotePort(), 0);
  EXPECT_EQ(handle.IP(), "127.0.0.1");
  EXPECT_EQ(handle.Port(), 4000);
  EXPECT_EQ(handle.IPVersion(), Id_IPv4);
  handle.Reset(true);
  EXPECT_EQ(handle.IP(), "");
  EXPECT_EQ(handle.Port(), 0);
}

TEST(SocketHandle, CloseFromAnotherThreadEndsAPendingConnect) {
  testsupport::NeverAcceptingListener silent;
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPeer("127.0.0.1", silent.Port(), Id_IPv4);
  auto connect = std::async(std::launch::async, [&] { handle.Connect(); });
  // The connect has no answer to wait for; whether the close comes before or during the
  // system call, it must end the connect.
  EXPECT_EQ(connect.wait_for(100ms), std::future_status::timeout);
  handle.Close();
  ASSERT_EQ(connect.wait_for(10s), std::future_status::ready);
  EXPECT_THROW(connect.get(), EIdNotASocket);
  EXPECT_FALSE(handle.HandleAllocated());
}

TEST(SocketHandle, SendingToAResetPeerRaisesInsteadOfKillingTheProcess) {
  LoopbackServer server([](LoopbackPeer& peer) {
    peer.ReadExactly(1);
    peer.Reset();
  });
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPeer(server.Host(), server.Port(), Id_IPv4);
  handle.Connect();
  handle.Send("x");
  ASSERT_TRUE(server.WaitForScripts(1));
  const QByteArray block(65536, 'b');
  try {
    // The first send after the reset may still be taken by the system; a later one fails.
    for (int i = 0; i < 100; ++i) {
      handle.Send(block);
    }
    FAIL() << "sends to a reset peer kept succeeding";
  } catch (const EIdSocketError& e) {
    EXPECT_TRUE(e.SocketErrorCode() == 10054 || e.SocketErrorCode() == 10058)
        << e.SocketErrorCode();
  }
}

} // namespace
