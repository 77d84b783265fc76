// Cost of turning a fetched page into text: picking the encoding from the content type, then
// decoding the whole body from its memory stream, as the fetch does once per page.

#include "http/IdTextDecoding.h"

#include <QBuffer>

#include <benchmark/benchmark.h>

namespace {

// A page of markup, mostly ASCII with a sprinkling of two-byte letters, of the given size.
QByteArray PageOfSize(qsizetype size) {
  const QByteArray line =
      "<div class=\"photo\"><a href=\"/photos/greta_m/5123456789/\">Caf\xc3\xa9 "
      "am Flu\xc3\x9f</a></div>\n";
  QByteArray page;
  page.reserve(size + line.size());
  while (page.size() < size) {
    page += line;
  }
  page.truncate(size);
  return page;
}

void BM_EncodingFromContentType(benchmark::State& state) {
  const QString value = QStringLiteral("text/html; charset=utf-8");
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodingFromContentType(value));
  }
}
BENCHMARK(BM_EncodingFromContentType);

void DecodePage(benchmark::State& state, TextEncodingKind encoding) {
  QByteArray page = PageOfSize(state.range(0));
  QBuffer stream(&page);
  stream.open(QIODevice::ReadOnly);
  for (auto _ : state) {
    stream.seek(0);
    benchmark::DoNotOptimize(ReadStreamText(stream, -1, encoding));
  }
  state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_ReadStreamTextUtf8(benchmark::State& state) {
  DecodePage(state, ekUTF8);
}
BENCHMARK(BM_ReadStreamTextUtf8)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);

void BM_ReadStreamText8Bit(benchmark::State& state) {
  DecodePage(state, ek8Bit);
}
BENCHMARK(BM_ReadStreamText8Bit)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);

} // namespace

BENCHMARK_MAIN();
