// Throughput of the TCP transport against nginx on 127.0.0.1, beside curl on the same file.
//
//   transport_bench [--runs N] [--mib M] [--lines L]
//
// Starts nginx (the test fixture) with a file of M MiB (default 256) and a file of L short
// lines (default 1000000), then measures, N times each (default 5), median reported:
//   stream  a raw "GET" written with the handler's writes, the header block read with ReadLine,
//           the body read with ReadStream into a sink that drops the bytes;
//   lines   the same request for the line file, every body line read with ReadLine;
//   curl    "curl -s -o /dev/null" of the big file, timed by curl itself (time_total).
// Each time runs from the connect to the last byte; rounds interleave the three. Exits non-zero
// when a read comes up short.

#include "net/IdIOHandler.h"
#include "net/IdTCPClient.h"
#include "tests/support/NginxServer.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A stream that counts and drops what is written, so that only the transport is measured.
class DiscardDevice : public QIODevice {
public:
  DiscardDevice() { open(QIODevice::WriteOnly); }
  bool isSequential() const override { return true; }
  qint64 written = 0;

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char*, qint64 length) override {
    written += length;
    return length;
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Connects, asks for `path` and reads the header block; returns the body length.
int64_t Request(TIdTCPClient& client, const testsupport::NginxServer& nginx, const char* path) {
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(nginx.Port());
  client.Connect();
  TIdIOHandler& io = *client.IOHandler();
  io.BeginWriteBuffering();
  io.WriteLine(QStringLiteral("GET %1 HTTP/1.1").arg(QLatin1StringView(path)));
  io.WriteLine(QStringLiteral("Host: 127.0.0.1:%1").arg(nginx.Port()));
  io.WriteLine(QStringLiteral("Connection: close"));
  io.WriteLine();
  io.EndWriteBuffering();
  const QString status = io.ReadLine();
  if (!status.startsWith(QStringLiteral("HTTP/1.1 200"))) {
    throw std::runtime_error("unexpected status: " + status.toStdString());
  }
  int64_t length = -1;
  for (QString line = io.ReadLine(); !line.isEmpty(); line = io.ReadLine()) {
    if (line.startsWith(QStringLiteral("Content-Length:"), Qt::CaseInsensitive)) {
      length = line.mid(15).trimmed().toLongLong();
    }
  }
  return length;
}

double StreamRun(const testsupport::NginxServer& nginx, int64_t expected) {
  const auto start = Clock::now();
  TIdTCPClient client;
  const int64_t length = Request(client, nginx, "/big.bin");
  DiscardDevice sink;
  client.IOHandler()->ReadStream(sink, length);
  const double seconds = SecondsSince(start);
  client.Disconnect();
  if (length != expected || sink.written != expected) {
    throw std::runtime_error("stream came up short: " + std::to_string(sink.written));
  }
  return seconds;
}

double LinesRun(const testsupport::NginxServer& nginx, int64_t lines) {
  const auto start = Clock::now();
  TIdTCPClient client;
  Request(client, nginx, "/lines.txt");
  TIdIOHandler& io = *client.IOHandler();
  int64_t count = 0;
  for (; count < lines; ++count) {
    if (io.ReadLine().isEmpty()) {
      break;
    }
  }
  const double seconds = SecondsSince(start);
  client.Disconnect();
  if (count != lines) {
    throw std::runtime_error("lines came up short: " + std::to_string(count));
  }
  return seconds;
}

double CurlRun(const testsupport::NginxServer& nginx, int64_t expected) {
  QProcess curl;
  curl.start(QStringLiteral("curl"),
             {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
              QStringLiteral("-w"), QStringLiteral("%{time_total} %{size_download}"),
              nginx.BaseUrl() + QStringLiteral("/big.bin")});
  if (!curl.waitForFinished(120000) || curl.exitCode() != 0) {
    throw std::runtime_error("curl failed");
  }
  const QList<QByteArray> fields = curl.readAllStandardOutput().split(' ');
  if (fields.size() != 2 || fields[1].toLongLong() != expected) {
    throw std::runtime_error("curl came up short");
  }
  return fields[0].toDouble();
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int runs = 5;
  int64_t mib = 256;
  int64_t lines = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--runs") {
      runs = std::stoi(argv[i + 1]);
    } else if (option == "--mib") {
      mib = std::stoll(argv[i + 1]);
    } else if (option == "--lines") {
      lines = std::stoll(argv[i + 1]);
    }
  }
  try {
    testsupport::NginxServer nginx;
    const int64_t bytes = mib << 20;
    nginx.AddPatternFile(QStringLiteral("big.bin"), bytes);
    QByteArray text;
    for (int64_t i = 0; i < lines; ++i) {
      text += QByteArray::number(i).rightJustified(7, '0') + " short line\r\n";
    }
    nginx.AddFile(QStringLiteral("lines.txt"), text);

    // Rounds interleave the three, so that a busy moment of the machine hits them alike; the
    // first round only warms the page cache and the connections.
    std::vector<double> streams, lineTimes, curls, ratios;
    for (int round = 0; round <= runs; ++round) {
      const double stream = StreamRun(nginx, bytes);
      const double lineTime = LinesRun(nginx, lines);
      const double curl = CurlRun(nginx, bytes);
      if (round == 0) {
        continue;
      }
      streams.push_back(stream);
      lineTimes.push_back(lineTime);
      curls.push_back(curl);
      ratios.push_back(curl / stream);
    }
    const double stream = Median(streams);
    const double lineTime = Median(lineTimes);
    const double curl = Median(curls);

    const double mb = double(bytes) / 1e6;
    std::printf("transport benchmark, nginx on 127.0.0.1, median of %d runs\n", runs);
    std::printf("  ReadStream %lld MiB : %8.3f s  %8.1f MB/s\n", (long long)mib, stream,
                mb / stream);
    std::printf("  curl       %lld MiB : %8.3f s  %8.1f MB/s\n", (long long)mib, curl, mb / curl);
    std::printf("  ReadStream / curl   : %8.2f (throughput ratio; median of the rounds' ratios)\n",
                Median(ratios));
    std::printf("  ReadLine %lld lines: %8.3f s  %8.0f lines/s  %6.1f MB/s\n", (long long)lines,
                lineTime, double(lines) / lineTime, double(text.size()) / 1e6 / lineTime);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "transport_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
