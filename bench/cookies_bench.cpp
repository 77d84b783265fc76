// Costs of the cookie store on the two paths of every exchange: taking in the "Set-cookie"
// values of a response, and building the "Cookie" header of a request (which sweeps expired
// cookies first, reading every expiry date).

#include "http/IdCookieManager.h"

#include <benchmark/benchmark.h>

namespace {

const QString kHost = QStringLiteral("www.example.invalid");

// domains x perDomain cookies under www.example.invalid's parents and siblings; with dated,
// every cookie carries an expiry date a year ahead, as long-lived site cookies do.
void Fill(TIdCookieManager& manager, int domains, int perDomain, bool dated) {
  const QString expiry =
      dated ? QStringLiteral("; expires=") + FormatInternetDate(UtcNow() + 365) : QString();
  for (int d = 0; d < domains; ++d) {
    // The first domain is the one requests go to; the others never match.
    const QString host = d == 0 ? kHost : QStringLiteral("host%1.example.invalid").arg(d);
    for (int c = 0; c < perDomain; ++c) {
      manager.AcceptSetCookie(QStringLiteral("name%1=value%1; path=/").arg(c) + expiry, host);
    }
  }
}

void BM_CookieHeaderFor(benchmark::State& state) {
  TIdCookieManager manager;
  Fill(manager, int(state.range(0)), int(state.range(1)), state.range(2) != 0);
  const TIdURI uri(u"http://www.example.invalid/photos/someone/");
  for (auto _ : state) {
    benchmark::DoNotOptimize(manager.CookieHeaderFor(uri, false));
  }
  state.counters["cookies"] = double(manager.CookieCollection().Count());
}
BENCHMARK(BM_CookieHeaderFor)
    ->ArgNames({"domains", "perDomain", "dated"})
    ->Args({1, 3, 0})
    ->Args({1, 3, 1})
    ->Args({20, 10, 0})
    ->Args({20, 10, 1})
    ->Args({100, 10, 0})
    ->Args({100, 10, 1});

// The three "Set-cookie" values of a typical response, taken in again and again: after the
// first round each one replaces a stored cookie.
void BM_AcceptSetCookie(benchmark::State& state) {
  TIdCookieManager manager;
  Fill(manager, int(state.range(0)), 10, false);
  const QStringList values = {
      "session=0123456789abcdef; path=/; domain=.example.invalid; HttpOnly",
      "localization=en-us%3Bus%3Bus; expires=Sat, 06-Nov-2027 08:49:37 GMT; path=/",
      "ccc=%7B%22needsConsent%22%3Afalse%7D; max-age=31536000; path=/; domain=.example.invalid"};
  for (auto _ : state) {
    for (const QString& value : values) {
      manager.AcceptSetCookie(value, kHost);
    }
  }
  state.SetItemsProcessed(state.iterations() * values.size());
}
BENCHMARK(BM_AcceptSetCookie)->ArgName("domains")->Arg(1)->Arg(100);

} // namespace

BENCHMARK_MAIN();
