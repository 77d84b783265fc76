// A response whose header block is one field followed by continuation lines, read whole by the
// client (HeaderLineLimit 0) from a loopback peer: the reading and the joining of the folded
// value together, for a block of 10 lines and one of about 4 MB.

#include "http/IdHTTP.h"

#include "tests/support/LoopbackServer.h"

#include <benchmark/benchmark.h>

namespace {

// "HTTP/1.1 200 OK", a Content-Type line, `lines` continuation lines of 40 bytes, a body of 2.
QByteArray FoldedResponse(int lines) {
  QByteArray response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Type: text/html\r\n";
  const QByteArray line = " ; part=0123456789abcdef0123456789ab\r\n";
  response.reserve(response.size() + lines * line.size() + 8);
  for (int i = 0; i < lines; ++i) {
    response += line;
  }
  response += "\r\nok";
  return response;
}

void ReadFoldedBlock(benchmark::State& state) {
  const QByteArray response = FoldedResponse(int(state.range(0)));
  testsupport::LoopbackServer server([&](testsupport::LoopbackPeer& peer) {
    peer.ReadRequestHead();
    peer.Send(response);
    peer.ShutdownWrite();
    peer.ReadUntilClose();
  });
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(server.Port());
  for (auto _ : state) {
    TIdHTTP client;
    client.SetHeaderLineLimit(0);
    client.Get(url);
    if (client.CurrentResponse().ContentType().size() < state.range(0) * 30) {
      state.SkipWithError("the folded value did not arrive whole");
    }
  }
  state.counters["block_bytes"] = double(response.size());
}
// 10 lines, and 4 MiB of them.
BENCHMARK(ReadFoldedBlock)->Arg(10)->Arg(4 * 1024 * 1024 / 38)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
