// The cost of opening and closing a TCP client connection on 127.0.0.1, on the calling
// thread (ConnectTimeout 0) and through the connect thread (a time limit set), and how long a
// timed connect to a peer that never answers takes to give up.
//
//   connect_bench [--benchmark_repetitions=5 ...]   (Google Benchmark options)

#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/support/LoopbackServer.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

// Connect, read the server's one-byte greeting, Disconnect; arg 0 is the plain connect, any
// other value the time limit of a threaded one. The greeting keeps the loop in step with the
// server's accepts: a client that only connects outruns them, fills the accept queue and
// then waits out SYN retransmissions, which would measure the server instead.
void BM_ConnectDisconnect(benchmark::State& state) {
  testsupport::LoopbackServer server([](testsupport::LoopbackPeer& peer) { peer.Send("x"); });
  TIdTCPClient client;
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(server.Port());
  client.SetConnectTimeout(int32_t(state.range(0)));
  for (auto _ : state) {
    client.Connect();
    benchmark::DoNotOptimize(client.IOHandler()->ReadChar());
    client.Disconnect();
  }
}
BENCHMARK(BM_ConnectDisconnect)->Arg(0)->Arg(5000)->Unit(benchmark::kMicrosecond);

// The wall time of a connect with a time limit of arg ms to a peer that never answers.
void BM_ConnectTimeLimit(benchmark::State& state) {
  testsupport::NeverAcceptingListener silent;
  TIdTCPClient client;
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(silent.Port());
  client.SetConnectTimeout(int32_t(state.range(0)));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    try {
      client.Connect();
      state.SkipWithError("the connect did not time out");
    } catch (const EIdConnectTimeout&) {
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_ConnectTimeLimit)
    ->Arg(300)
    ->Arg(1000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
