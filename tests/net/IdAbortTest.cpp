// Aborting a connection from another thread: every blocking step ends at once with 10053, the
// abort holds for steps that start later, and the handler works again once it is cleared.

#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>

namespace {

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

// What a server does with the connection, and what the client does on it until it blocks.
struct StallCase : testsupport::NamedRow {
  bool connectStalls;     // the server is a listener whose queue is full
  int32_t connectTimeout; // 0: the connect runs on the calling thread, else on its own
  std::function<void(TIdTCPClient&)> use;
};

// The client's call on a thread of its own; the socket error it ended with (0: none).
class ClientCall {
public:
  ClientCall(TIdTCPClient& client, std::function<void(TIdTCPClient&)> use)
      : result_(std::async(std::launch::async, [&client, use] {
          try {
            use(client);
            return 0;
          } catch (const EIdSocketError& e) {
            return int(e.SocketErrorCode());
          }
        })) {}
  // The socket error code, or nothing while the call still blocks after limit.
  std::optional<int> Result(std::chrono::milliseconds limit) {
    if (result_.wait_for(limit) != std::future_status::ready) {
      return std::nullopt;
    }
    return result_.get();
  }

private:
  std::future<int> result_;
};

class AbortStall : public testing::TestWithParam<StallCase> {};

TEST_P(AbortStall, EndsTheBlockedCallAndLetsTheNextConnectWork) {
  const StallCase& c = GetParam();
  std::promise<void> reached;
  // Reads the request line, then holds the connection without reading or answering.
  LoopbackServer stalling([&reached](LoopbackPeer& peer) {
    peer.ReadUntil("\n");
    reached.set_value();
    peer.WaitForRelease();
  });
  std::optional<testsupport::NeverAcceptingListener> silent;
  if (c.connectStalls) {
    silent.emplace();
  }

  TIdTCPClient client;
  auto* handler = new TIdIOHandlerStack(&client);
  client.SetIOHandler(handler);
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(c.connectStalls ? silent->Port() : stalling.Port());
  client.SetConnectTimeout(c.connectTimeout);
  ClientCall call(client, [&c](TIdTCPClient& cl) {
    cl.Connect();
    c.use(cl);
  });
  if (!c.connectStalls) {
    ASSERT_EQ(reached.get_future().wait_for(10s), std::future_status::ready);
  }
  EXPECT_FALSE(call.Result(100ms)) << "the call should block until aborted";
  handler->Abort();
  EXPECT_EQ(call.Result(10s), std::optional<int>(Id_WSAECONNABORTED));
  stalling.Release();

  // Sticky: a connect after the abort fails without reaching any server.
  client.Disconnect();
  client.SetPort(stalling.Port());
  const int accepted = stalling.ConnectionCount();
  EXPECT_EQ(ClientCall(client, [](TIdTCPClient& cl) { cl.Connect(); }).Result(10s),
            std::optional<int>(Id_WSAECONNABORTED));
  EXPECT_EQ(stalling.ConnectionCount(), accepted);

  handler->ClearAbort();
  LoopbackServer echo([](LoopbackPeer& peer) { peer.Send(peer.ReadUntil("\n")); });
  client.SetPort(echo.Port());
  client.Connect();
  client.IOHandler()->WriteLine(QStringLiteral("again"));
  EXPECT_EQ(client.IOHandler()->ReadLine(), QStringLiteral("again"));
}

void SendLine(TIdTCPClient& client) {
  client.IOHandler()->WriteLine(QStringLiteral("GET / HTTP/1.1"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AbortStall,
    testing::Values(
        // Only the abort ends these calls: the connect limit is beyond the test's patience
        // and reads have none.
        StallCase{"ConnectOnTheCallingThread", true, 0,
                  [](TIdTCPClient&) {
                  }},
        StallCase{"ConnectOnItsOwnThread", true, 60000,
                  [](TIdTCPClient&) {
                  }},
        StallCase{"ReadLine", false, 60000,
                  [](TIdTCPClient& client) {
                    SendLine(client);
                    client.IOHandler()->ReadLine();
                  }},
        // A peer that reads nothing more: the send blocks once both sides' buffers are full.
        StallCase{"Send", false, 60000,
                  [](TIdTCPClient& client) {
                    SendLine(client);
                    const QByteArray block(1 << 20, 'x');
                    for (int i = 0; i < 256; ++i) {
                      client.IOHandler()->WriteBytes(block);
                    }
                  }}),
    testsupport::RowName());

} // namespace
