// The I/O handler of a real TCP client against a server nobody here wrote: nginx on 127.0.0.1.
// Requests go out through the handler's writes, heads come back through ReadLine and bodies
// through ReadStream, framed by the announced length or by the server's close.

#include "net/IdIOHandler.h"
#include "net/IdTCPClient.h"
#include "tests/support/NginxServer.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

QByteArray Pattern(qsizetype size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (qsizetype i = 0; i < size; ++i) {
    bytes[i] = char(i * 7 + i / 251);
  }
  return bytes;
}

class NginxTransport : public testing::Test {
protected:
  static void SetUpTestSuite() { nginx_ = new testsupport::NginxServer(); }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }

  void SetUp() override {
    client_.SetHost(QStringLiteral("127.0.0.1"));
    client_.SetPort(nginx_->Port());
    client_.SetReadTimeout(10000);
    client_.Connect();
  }

  TIdIOHandler& io() { return *client_.IOHandler(); }

  void Get(const QString& path, bool close) {
    io().BeginWriteBuffering();
    io().WriteLine(QStringLiteral("GET %1 HTTP/1.1").arg(path));
    io().WriteLine(QStringLiteral("Host: localhost"));
    if (close) {
      io().WriteLine(QStringLiteral("Connection: close"));
    }
    io().WriteLine();
    io().EndWriteBuffering();
  }

  // Reads the status line and the header block; returns the Content-Length (-1 without one).
  int64_t ReadHead() {
    EXPECT_EQ(io().ReadLine(), "HTTP/1.1 200 OK");
    int64_t length = -1;
    for (QString line = io().ReadLine(); !line.isEmpty(); line = io().ReadLine()) {
      EXPECT_FALSE(line.endsWith(u'\r')) << line.toStdString();
      if (line.startsWith(QStringLiteral("Content-Length: "))) {
        length = line.mid(16).toLongLong();
      }
    }
    return length;
  }

  static testsupport::NginxServer* nginx_;
  TIdTCPClient client_;
};

testsupport::NginxServer* NginxTransport::nginx_ = nullptr;

class NginxBodies : public NginxTransport,
                    public testing::WithParamInterface<std::tuple<qsizetype, bool>> {};

TEST_P(NginxBodies, ArriveWhole) {
  const auto [size, untilClose] = GetParam();
  const QByteArray content = Pattern(size);
  const QString name = QStringLiteral("body-%1.bin").arg(size);
  nginx_->AddFile(name, content);
  int64_t begun = -1, total = 0;
  int ends = 0;
  // The connection takes its handler's progress and reports it as its own.
  client_.OnWorkBegin = [&](TIdComponent*, TWorkMode, int64_t max) {
    begun = max;
  };
  client_.OnWork = [&](TIdComponent*, TWorkMode, int64_t position) {
    total = position;
  };
  client_.OnWorkEnd = [&](TIdComponent*, TWorkMode) {
    ++ends;
  };

  Get(QLatin1Char('/') + name, untilClose);
  const int64_t length = ReadHead();
  ASSERT_EQ(length, size);
  QByteArray received;
  QBuffer stream(&received);
  stream.open(QIODevice::WriteOnly);
  if (untilClose) {
    io().ReadStream(stream, -1, true);
  } else {
    io().ReadStream(stream, length);
  }
  EXPECT_EQ(received.size(), size);
  EXPECT_TRUE(received == content);
  EXPECT_EQ(begun, untilClose ? 0 : size);
  EXPECT_EQ(total, size);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(client_.Connected(), !untilClose);
}

INSTANTIATE_TEST_SUITE_P(SizesAndFraming, NginxBodies,
                         testing::Combine(testing::Values(0, 1, 32767, 32768, 32769, (1 << 20) + 7),
                                          testing::Bool()),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_until_close" : "_by_length");
                         });

TEST_F(NginxTransport, TwoRequestsShareTheConnectionWithoutLosingBytes) {
  // Both requests go out before either answer is read, so the second head arrives queued
  // behind the first body: the reads must take exactly their own bytes.
  nginx_->AddFile(QStringLiteral("first.txt"), "first body");
  nginx_->AddFile(QStringLiteral("second.txt"), Pattern(70000));
  Get(QStringLiteral("/first.txt"), false);
  Get(QStringLiteral("/second.txt"), true);
  QByteArray bytes;
  io().ReadBytes(bytes, int32_t(ReadHead()), false);
  EXPECT_EQ(bytes, "first body");
  const int64_t length = ReadHead();
  QBuffer stream;
  stream.open(QIODevice::WriteOnly);
  io().ReadStream(stream, length);
  EXPECT_TRUE(stream.data() == Pattern(70000));
  EXPECT_THROW(io().ReadLine(), EIdConnClosedGracefully);
}

TEST_F(NginxTransport, ReadAllTakesEverythingUpToTheClose) {
  nginx_->AddFile(QStringLiteral("all.txt"), "line one\nline two\n");
  Get(QStringLiteral("/all.txt"), true);
  const QString all = io().ReadAll();
  EXPECT_TRUE(all.startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n")));
  EXPECT_TRUE(all.endsWith(QStringLiteral("\r\n\r\nline one\nline two\n")));
  EXPECT_FALSE(client_.Connected());
}

} // namespace
