// Intercepts: the chain's order and its rewriting of the bytes on a handler, a run held back,
// the links a chain refuses, and a client's intercept on a real loopback connection.

#include "net/IdIntercept.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/net/SocketPairHandler.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

TEST_F(SocketPairTest, InterceptChainRunsInItsOrderAndRewritesBytes) {
  std::vector<std::string> log;
  TIdConnectionIntercept outer, inner;
  outer.SetIntercept(&inner);
  const auto watch = [&](TIdConnectionIntercept& i, const std::string& name) {
    i.OnConnect = [&log, name](TIdConnectionIntercept*) {
      log.push_back(name + " connect");
    };
    i.OnDisconnect = [&log, name](TIdConnectionIntercept*) {
      log.push_back(name + " disconnect");
    };
    i.OnReceive = [&log, name](TIdConnectionIntercept*, QByteArray& b) {
      log.push_back(name + " receive " + b.toStdString());
      b += name.front();
    };
    i.OnSend = [&log, name](TIdConnectionIntercept*, QByteArray& b) {
      log.push_back(name + " send " + b.toStdString());
      b += name.front();
    };
  };
  watch(outer, "outer");
  watch(inner, "inner");
  handler().SetIntercept(&outer);

  QObject connection;
  outer.Connect(&connection);
  EXPECT_EQ(inner.Connection(), &connection);
  const QByteArray mine = "x";
  handler().WriteBytes(mine);
  EXPECT_EQ(mine, "x");
  EXPECT_EQ(PeerReceive(3), "xoi");
  PeerSend("y");
  EXPECT_EQ(handler().FillPendingInput(), 3);
  EXPECT_EQ(handler().PendingInput().Peek(), "yio");
  handler().Close();
  EXPECT_EQ(outer.Connection(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"outer connect", "inner connect", "outer send x",
                                           "inner send xo", "inner receive y", "outer receive yi",
                                           "inner disconnect", "outer disconnect"}));
}

TEST_F(SocketPairTest, AnInterceptMayHoldBackAWholeRun) {
  QByteArray held;
  TIdConnectionIntercept intercept;
  intercept.OnReceive = [&](TIdConnectionIntercept*, QByteArray& bytes) {
    held += bytes; // release in pairs of bytes only
    const qsizetype even = held.size() & ~qsizetype(1);
    bytes = held.left(even);
    held.remove(0, even);
  };
  handler().SetIntercept(&intercept);
  handler().SetRecvBufferSize(1); // every other receive is held back whole
  PeerSend("abcd\n\n");
  EXPECT_EQ(handler().ReadLine(), "abcd");
  EXPECT_FALSE(handler().PeerClosed());
}

TEST(TIdConnectionIntercept, RefusesALoopAndForgetsADestroyedLink) {
  TIdConnectionIntercept a, b;
  a.SetIntercept(&b);
  EXPECT_THROW(b.SetIntercept(&a), EIdException);
  EXPECT_THROW(a.SetIntercept(&a), EIdException);
  {
    TIdConnectionIntercept c;
    b.SetIntercept(&c);
  }
  EXPECT_EQ(b.Intercept(), nullptr);
  QByteArray bytes = "z";
  a.Send(bytes);
  EXPECT_EQ(bytes, "z");
}

TEST(TCPClientIntercept, TheConnectionsInterceptSeesConnectAndTheBytes) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.Send(peer.ReadUntil("\n")); });
  TIdTCPClient client;
  TIdConnectionIntercept intercept;
  QObject* connectedTo = nullptr;
  intercept.OnConnect = [&](TIdConnectionIntercept* sender) {
    connectedTo = sender->Connection();
  };
  intercept.OnSend = [](TIdConnectionIntercept*, QByteArray& bytes) {
    bytes = bytes.toUpper();
  };
  client.SetIntercept(&intercept);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  EXPECT_EQ(connectedTo, &client);
  client.IOHandler()->WriteLine("shout");
  EXPECT_EQ(client.IOHandler()->ReadLine(), "SHOUT");

  TIdIOHandlerStack other;
  TIdConnectionIntercept different;
  other.SetIntercept(&different);
  testsupport::ExpectRaises<EIdException>(
      [&] { client.SetIOHandler(&other); },
      "The IOHandler already has a different Intercept assigned");
}

TEST(TCPClientIntercept, TheDisconnectHookRunsOncePerOpenConnection) {
  LoopbackServer server([](LoopbackPeer& peer) { peer.WaitForRelease(); });
  TIdConnectionIntercept intercept;
  int disconnects = 0;
  intercept.OnDisconnect = [&](TIdConnectionIntercept*) {
    ++disconnects;
  };
  {
    TIdIOHandlerStack neverOpened;
    neverOpened.SetIntercept(&intercept);
  }
  EXPECT_EQ(disconnects, 0);
  {
    TIdTCPClient client;
    client.SetIntercept(&intercept);
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.Connect();
    client.Disconnect();
    EXPECT_EQ(disconnects, 1);
  }
  EXPECT_EQ(disconnects, 1) << "destroying a closed client runs no second hook";
  server.Release();
}

} // namespace
