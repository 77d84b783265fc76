// Costs on the response and request paths of the header records: storing and parsing a
// response header block, composing the program's request, and the date helpers they use.

#include "app/PageClient.h"
#include "http/IdHTTPHeaderInfo.h"

#include <benchmark/benchmark.h>

namespace {

// A typical response of a photo page: 20 lines, three of them dates.
QStringList TypicalResponse() {
  return {"Date: Sun, 06 Nov 2024 08:49:37 GMT",
          "Content-Type: text/html; charset=utf-8",
          "Transfer-Encoding: chunked",
          "Connection: keep-alive",
          "Server: Apache/2.4",
          "Cache-Control: private, no-cache, no-store, must-revalidate",
          "Pragma: no-cache",
          "Expires: Mon, 26 Jul 1997 05:00:00 GMT",
          "Last-Modified: Sun, 06 Nov 2024 08:49:37 GMT",
          "Set-Cookie: session=0123456789abcdef; path=/; domain=.example.invalid; HttpOnly",
          "Set-Cookie: localization=en-us%3Bus%3Bus; expires=Sat, 06-Nov-2027 08:49:37 GMT; path=/",
          "Set-Cookie: ccc=%7B%22needsConsent%22%3Afalse%7D; path=/; domain=.example.invalid",
          "Vary: Accept-Encoding",
          "X-Frame-Options: SAMEORIGIN",
          "X-Content-Type-Options: nosniff",
          "Strict-Transport-Security: max-age=31536000",
          "Content-Security-Policy: default-src 'self' https:; img-src * data:",
          "X-Request-Id: 4f9d2b8c-3a7e-4b1f-9c6d-2e8a5f7b1c3d",
          "Accept-Ranges: bytes",
          "Via: 1.1 varnish"};
}

QStringList LargeResponse() {
  QStringList lines = TypicalResponse();
  for (int i = lines.size(); i < 200; ++i) {
    lines << QStringLiteral("X-Extra-Header-%1: some value number %1, with a comma").arg(i);
  }
  return lines;
}

QStringList WithoutDates(QStringList lines) {
  lines.removeIf([](const QString& line) {
    return line.startsWith(u"Date:") || line.startsWith(u"Expires:") ||
           line.startsWith(u"Last-Modified:");
  });
  return lines;
}

// What the exchange does per response: store the lines read, then parse the fields.
void StoreAndParse(benchmark::State& state, const QStringList& block) {
  TIdResponseHeaderInfo response;
  for (auto _ : state) {
    TIdHeaderList& lines = response.HeaderLines();
    lines.Clear();
    for (const QString& line : block) {
      lines.Add(line);
    }
    response.ParseHeaderLines();
    benchmark::DoNotOptimize(response.ContentLength());
  }
  state.counters["lines"] = double(block.size());
}

void BM_ParseHeaderLines_20(benchmark::State& state) {
  StoreAndParse(state, TypicalResponse());
}
BENCHMARK(BM_ParseHeaderLines_20);

void BM_ParseHeaderLines_20_NoDates(benchmark::State& state) {
  StoreAndParse(state, WithoutDates(TypicalResponse()));
}
BENCHMARK(BM_ParseHeaderLines_20_NoDates);

void BM_ParseHeaderLines_200(benchmark::State& state) {
  StoreAndParse(state, LargeResponse());
}
BENCHMARK(BM_ParseHeaderLines_200);

void BM_ComposeHeaderLines_ProgramRequest(benchmark::State& state) {
  TIdRequestHeaderInfo request;
  ConfigurePageRequest(request);
  request.SetContentLength(-1);
  request.SetHost(QStringLiteral("www.example.invalid"));
  request.SetAcceptEncoding(QStringLiteral("identity"));
  for (auto _ : state) {
    request.ComposeHeaderLines();
    benchmark::DoNotOptimize(request.HeaderLines().Count());
  }
}
BENCHMARK(BM_ComposeHeaderLines_ProgramRequest);

void BM_WriteHeader_FoldedCookie(benchmark::State& state) {
  QStringList pairs;
  for (int i = 0; i < 60; ++i) {
    pairs << QStringLiteral("cookie%1=value-%1").arg(i);
  }
  const QString value = pairs.join(QStringLiteral("; "));
  TIdHeaderList lines;
  for (auto _ : state) {
    lines.Clear();
    lines.WriteHeader(QStringLiteral("Cookie"), value);
    benchmark::DoNotOptimize(lines.Count());
  }
  state.counters["chars"] = double(value.size());
}
BENCHMARK(BM_WriteHeader_FoldedCookie);

void BM_LocalZoneOffset(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(LocalZoneOffset());
  }
}
BENCHMARK(BM_LocalZoneOffset);

void BM_ParseInternetDate(benchmark::State& state) {
  const QString text = QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT");
  for (auto _ : state) {
    QString copy = text;
    benchmark::DoNotOptimize(ParseInternetDate(copy));
  }
}
BENCHMARK(BM_ParseInternetDate);

void BM_FormatInternetDate(benchmark::State& state) {
  const TDateTime value = EncodeDateTime(1994, 11, 6, 8, 49, 37).value();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatInternetDate(value));
  }
}
BENCHMARK(BM_FormatInternetDate);

} // namespace

BENCHMARK_MAIN();
