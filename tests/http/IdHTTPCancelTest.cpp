// Fetches cancelled from another thread at random moments, as the window cancels them: each
// ends either with the whole page or with the abort's error, never with anything else, and
// the client goes on fetching afterwards. Run under ThreadSanitizer by scripts/test --tsan.

#include "http/IdHTTP.h"
#include "net/IdIOHandlerStack.h"

#include "tests/support/ScriptedHTTPServer.h"

#include <gtest/gtest.h>

#include <future>
#include <random>

namespace {

using testsupport::Reply;
using testsupport::ScriptedHTTPServer;

enum Outcome { WholePage, Aborted, SomethingElse };

// How one fetch ended, and in words when it ended otherwise than expected.
struct Ending {
  Outcome outcome;
  std::string what;
};

TEST(CancelledFetches, EndWithThePageOrTheAbortAndLeaveTheClientUsable) {
  const QByteArray page = QByteArray("<p>") + QByteArray(20000, 'p') + "</p>";
  ScriptedHTTPServer server([&page](const QByteArray&, int) {
    return Reply{testsupport::Response("HTTP/1.1 200 OK", page)};
  });
  TIdHTTP client;
  auto* handler = new TIdIOHandlerStack(&client);
  client.SetIOHandler(handler);
  // Made here, not by the client on the fetching thread.
  client.SetCookieManager(new TIdCookieManager(&client));
  client.SetConnectTimeout(10000);
  client.SetReadTimeout(10000);

  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  // A loopback fetch takes a few hundred microseconds (more under the sanitizer): the moments
  // fall before, inside and after it.
  std::uniform_int_distribution<int> moment(0, 3000);
  int counts[3] = {};
  for (int i = 0; i < 400; ++i) {
    std::future<Ending> fetch = std::async(std::launch::async, [&]() -> Ending {
      try {
        const QString text = client.Get(server.Url());
        if (text == QString::fromLatin1(page)) {
          return {WholePage, {}};
        }
        return {SomethingElse, "a page of " + std::to_string(text.size()) + " characters"};
      } catch (const EIdSocketError& e) {
        if (e.SocketErrorCode() == Id_WSAECONNABORTED) {
          return {Aborted, {}};
        }
        return {SomethingElse, e.what()};
      } catch (const std::exception& e) {
        return {SomethingElse, e.what()};
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    handler->Abort();
    const Ending ending = fetch.get();
    ++counts[ending.outcome];
    ASSERT_NE(ending.outcome, SomethingElse)
        << "fetch " << i << " (seed " << seed << "): " << ending.what;
    client.Disconnect();
    handler->ClearAbort();
  }
  RecordProperty("whole_pages", counts[WholePage]);
  RecordProperty("aborted", counts[Aborted]);
  EXPECT_EQ(client.Get(server.Url()), QString::fromLatin1(page));
}

} // namespace
