// Costs of answering challenges: what a 401 adds before the request goes out again, and what
// every later request pays to compose its "Authorization" line.

#include "http/IdAuthChallenge.h"
#include "http/IdAuthenticationDigest.h"

#include <benchmark/benchmark.h>

namespace {

// The challenge values of a response, one a line.
TIdHeaderList ChallengesOf(const QString& text) {
  TIdHeaderList list;
  list.SetText(text);
  return list;
}

const QString kDigestChallenge = QStringLiteral(
    "Digest realm=\"photos@example.invalid\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", "
    "algorithm=MD5");

// Basic: the value of the scheme composed for every request.
void BM_BasicValue(benchmark::State& state) {
  TIdBasicAuthentication scheme;
  scheme.SetUsername(QStringLiteral("photographer"));
  scheme.SetPassword(QStringLiteral("correct horse battery staple"));
  for (auto _ : state) {
    benchmark::DoNotOptimize(scheme.AuthorizationValue());
  }
}
BENCHMARK(BM_BasicValue);

// Digest: evaluating a challenge and composing the signed answer (five MD5 runs and the
// client nonce from the clock).
void BM_DigestEvaluateAndAnswer(benchmark::State& state) {
  TIdDigestAuthentication scheme;
  scheme.SetUsername(QStringLiteral("Mufasa"));
  scheme.SetPassword(QStringLiteral("Circle Of Life"));
  scheme.SetRequestMethod(QStringLiteral("GET"));
  scheme.SetRequestUri(QStringLiteral("/photos/sets/72157600000000000/?page=2"));
  scheme.SetChallenges(ChallengesOf(kDigestChallenge));
  for (auto _ : state) {
    benchmark::DoNotOptimize(scheme.NextStep());
    benchmark::DoNotOptimize(scheme.AuthorizationValue());
  }
}
BENCHMARK(BM_DigestEvaluateAndAnswer);

// The whole answer to a 401 offering an unknown scheme and Basic, on a record that already
// holds its scheme (the case of every retry).
void BM_AnswerServerChallengeBasic(benchmark::State& state) {
  TIdRequestHeaderInfo request;
  request.SetUsername(QStringLiteral("photographer"));
  request.SetPassword(QStringLiteral("secret"));
  const TIdHeaderList challenges =
      ChallengesOf(QStringLiteral("Negotiate\r\nBasic realm=\"photos\""));
  for (auto _ : state) {
    benchmark::DoNotOptimize(AnswerServerChallenge(nullptr, request, challenges, {}, {}));
  }
}
BENCHMARK(BM_AnswerServerChallengeBasic);

} // namespace

BENCHMARK_MAIN();
