// Costs of address handling on the road of one fetch: parsing the typed address, rebuilding
// the request target and the full address, and merging a redirect's path onto the current one.

#include "http/IdURI.h"

#include <benchmark/benchmark.h>

namespace {

// What a user pastes: a set page on the service, with a query.
const QString kTypical =
    QStringLiteral("http://www.vantrel.com/photos/greta_m/sets/72157625436123456/?page=2");
const QString kWithEverything =
    QStringLiteral("http://viewer:s3cret@[2001:db8::17]:8080/photos/greta_m/sets/72157625436123456/"
                   "detail.html?page=2&sort=date#top");

void BM_ParseTypical(benchmark::State& state) {
  for (auto _ : state) {
    TIdURI uri(kTypical);
    benchmark::DoNotOptimize(uri);
  }
}
BENCHMARK(BM_ParseTypical);

void BM_ParseWithEverything(benchmark::State& state) {
  for (auto _ : state) {
    TIdURI uri(kWithEverything);
    benchmark::DoNotOptimize(uri);
  }
}
BENCHMARK(BM_ParseWithEverything);

// Reparsing into one object: the parts' old buffers are released on each round.
void BM_ReparseInPlace(benchmark::State& state) {
  TIdURI uri;
  for (auto _ : state) {
    uri.SetAddressText(kTypical);
    benchmark::DoNotOptimize(uri);
  }
}
BENCHMARK(BM_ReparseInPlace);

// The first step of every parse: the copy with backslashes turned, alone.
void BM_SlashBackslashes(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SlashBackslashes(kTypical));
  }
}
BENCHMARK(BM_SlashBackslashes);

void BM_PathAndQuery(benchmark::State& state) {
  const TIdURI uri(kTypical);
  for (auto _ : state) {
    benchmark::DoNotOptimize(uri.PathAndQuery());
  }
}
BENCHMARK(BM_PathAndQuery);

void BM_ComposeAddress(benchmark::State& state) {
  const TIdURI uri(kWithEverything);
  for (auto _ : state) {
    benchmark::DoNotOptimize(uri.ComposeAddress(IncludeCredentials | IncludeFragment));
  }
}
BENCHMARK(BM_ComposeAddress);

void BM_MergeRedirectPath(benchmark::State& state) {
  const QString base = QStringLiteral("/photos/greta_m/sets/72157625436123456/");
  const QString path = QStringLiteral("../../favorites/./show/");
  for (auto _ : state) {
    benchmark::DoNotOptimize(MergePath(base, path));
  }
}
BENCHMARK(BM_MergeRedirectPath);

} // namespace

BENCHMARK_MAIN();
