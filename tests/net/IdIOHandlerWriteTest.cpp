#include "net/IdIOHandler.h"
#include "tests/net/SocketPairHandler.h"
#include "tests/support/NamedRow.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include "tests/support/ExpectRaises.h"

#include <gtest/gtest.h>

namespace {

using testsupport::ExpectRaises;

// --- Texts and numbers ----------------------------------------------------------------------

TEST_F(SocketPairTest, WritesProduceTheExactBytes) {
  handler().Write("plain ");
  handler().Write("");
  handler().Write(u"\u00e9\u20ac"_qs, ekUTF8);
  handler().Write(u"\u00e9\u20ac"_qs, ek8Bit);
  handler().Write(u"\u00e9"_qs, ekASCII);
  handler().WriteChar(u'!');
  handler().WriteLine("line");
  handler().WriteLine();
  handler().WriteLineDotEscaped(".dot");
  handler().WriteLineDotEscaped("no dot");
  handler().WriteInt32(300);
  handler().WriteInt32(300, false);
  handler().WriteInt64(-2);
  const QByteArray expected =
      "plain \xc3\xa9\xe2\x82\xac\xe9\xac?!line\r\n\r\n..dot\r\nno dot\r\n" +
      QByteArray::fromHex("0000012c2c010000fffffffffffffffe");
  EXPECT_EQ(PeerReceive(expected.size()), expected);
  EXPECT_THROW(handler().SetTextEncoding(ekNone), EIdNoEncodingSpecified);
}

TEST_F(SocketPairTest, WriteBytesClipsToTheArray) {
  handler().WriteBytes("0123456789", 3, 2);
  handler().WriteBytes("0123456789", 100, 8);
  handler().WriteBytes("0123456789", -1, 10);
  handler().WriteBytes("ab");
  EXPECT_EQ(PeerReceive(7), "23489ab");
}

TEST_F(SocketPairTest, WriteLinesGoOutInOneRunWithAnOptionalCount) {
  handler().WriteLines({"a", "bc"}, true);
  EXPECT_EQ(PeerReceive(11), QByteArray::fromHex("00000002") + "a\r\nbc\r\n");
  EXPECT_FALSE(handler().WriteBufferingActive());

  handler().BeginWriteBuffering(); // an outer buffering keeps the lines
  handler().WriteLines({"x"});
  EXPECT_TRUE(handler().WriteBufferingActive());
  EXPECT_FALSE(PeerHasData());
  handler().EndWriteBuffering();
  EXPECT_EQ(PeerReceive(3), "x\r\n");
}

// --- Write buffering ------------------------------------------------------------------------

TEST_F(SocketPairTest, BufferedWritesWaitForTheThresholdOrTheFlush) {
  handler().BeginWriteBuffering(10);
  handler().Write("12345");
  EXPECT_FALSE(PeerHasData());
  EXPECT_EQ(handler().PendingOutput()->Size(), 5);
  handler().Write("6789012345678901234"); // 24 queued: two runs of 10 go, 4 stay
  EXPECT_EQ(PeerReceive(20), "12345678901234567890");
  EXPECT_EQ(handler().PendingOutput()->Size(), 4);
  handler().FlushWriteBuffer(2);
  EXPECT_EQ(PeerReceive(2), "12");
  handler().EndWriteBuffering();
  EXPECT_EQ(PeerReceive(2), "34");
  EXPECT_FALSE(handler().WriteBufferingActive());
  EXPECT_EQ(handler().PendingOutput(), nullptr);
}

TEST_F(SocketPairTest, ClearAndCancelDropBufferedOutput) {
  handler().BeginWriteBuffering();
  handler().Write("dropped");
  handler().ClearWriteBuffer();
  EXPECT_TRUE(handler().WriteBufferingActive());
  handler().Write("kept");
  handler().BeginWriteBuffering(); // starting again starts empty
  handler().Write("sent");
  handler().FlushWriteBuffer();
  handler().Write("cancelled");
  handler().CancelWriteBuffering();
  EXPECT_FALSE(handler().WriteBufferingActive());
  handler().Write("!");
  EXPECT_EQ(PeerReceive(5), "sent!");
  EXPECT_FALSE(PeerHasData());
}

// --- Streams and files ----------------------------------------------------------------------

struct WriteStreamCase : testsupport::NamedRow {
  qint64 position;
  int64_t size;
  bool writeSize;
  bool use64;
  QByteArray expected;
};

class WriteStreamTable : public SocketPairTest,
                         public testing::WithParamInterface<WriteStreamCase> {};

TEST_P(WriteStreamTable, SendsTheChosenPart) {
  const WriteStreamCase& c = GetParam();
  handler().SetSendBufferSize(3);
  handler().SetUse64BitCounts(c.use64);
  QByteArray content = "0123456789";
  QBuffer stream(&content);
  stream.open(QIODevice::ReadOnly);
  stream.seek(c.position);
  handler().WriteStream(stream, c.size, c.writeSize);
  EXPECT_EQ(PeerReceive(c.expected.size()), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, WriteStreamTable,
                         testing::Values(WriteStreamCase{"rest", 4, -1, false, false, "456789"},
                                         WriteStreamCase{"whole", 4, 0, false, false, "0123456789"},
                                         WriteStreamCase{"part", 2, 5, false, false, "23456"},
                                         WriteStreamCase{"size32", 6, -1, true, false,
                                                         QByteArray::fromHex("00000004") + "6789"},
                                         WriteStreamCase{"size64", 8, -1, true, true,
                                                         QByteArray::fromHex("0000000000000002") +
                                                             "89"}),
                         testsupport::RowName());

// Claims a size it cannot deliver; reads give zeros.
class HugeDevice : public QIODevice {
public:
  qint64 size() const override { return qint64(3) << 30; }
  bool isSequential() const override { return false; }

protected:
  qint64 readData(char* data, qint64 max) override {
    std::fill_n(data, max, '\0');
    return max;
  }
  qint64 writeData(const char*, qint64) override { return -1; }
};

TEST_F(SocketPairTest, WriteStreamRefusesWhatItCannotSend) {
  QByteArray content = "0123";
  QBuffer shortStream(&content);
  shortStream.open(QIODevice::ReadOnly);
  ExpectRaises<EIdNoDataToRead>([&] { handler().WriteStream(shortStream, 10); },
                                "No data to read.");
  EXPECT_EQ(PeerReceive(4), "0123");

  HugeDevice huge;
  huge.open(QIODevice::ReadOnly);
  EXPECT_THROW(handler().WriteStream(huge, -1, true), EIdIOHandlerRequiresLargeStream);
  EXPECT_FALSE(PeerHasData());
}

TEST_F(SocketPairTest, WriteStreamReportsWriteWork) {
  std::vector<int64_t> totals;
  int64_t announced = -1;
  int ends = 0;
  handler().OnWorkBegin = [&](TIdComponent*, TWorkMode m, int64_t max) {
    EXPECT_EQ(m, wmWrite);
    announced = max;
  };
  handler().OnWork = [&](TIdComponent*, TWorkMode, int64_t total) {
    totals.push_back(total);
  };
  handler().OnWorkEnd = [&](TIdComponent*, TWorkMode) {
    ++ends;
  };
  handler().SetSendBufferSize(4);
  QByteArray content = "0123456789";
  QBuffer stream(&content);
  stream.open(QIODevice::ReadOnly);
  handler().WriteStream(stream);
  EXPECT_EQ(announced, 10);
  EXPECT_EQ(totals, (std::vector<int64_t>{4, 8, 10}));
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(PeerReceive(10), content);
}

TEST_F(SocketPairTest, WriteFileContentsSendsTheWholeFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString name = dir.filePath("page.html");
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const QByteArray content(100000, 'f');
  file.write(content);
  file.close();
  EXPECT_EQ(handler().WriteFileContents(name), content.size());
  EXPECT_EQ(PeerReceive(content.size()), content);

  const QString missing = dir.filePath("missing.txt");
  ExpectRaises<EIdFileNotFound>([&] { handler().WriteFileContents(missing); },
                                "File \"" + missing + "\" not found");
}

// --- Settings -------------------------------------------------------------------------------

TEST(TIdIOHandlerSettings, DestinationJoinsAndSplitsHostAndPort) {
  struct Case {
    QString set;
    uint16_t defaultPort;
    QString host;
    int32_t port;
    QString destination;
  };
  for (const Case& c :
       {Case{"example.invalid:8080", 0, "example.invalid", 8080, "example.invalid:8080"},
        Case{"h: 81 ", 0, "h", 81, "h:81"}, Case{"h:80", 80, "h", 80, "h"},
        Case{"h:web", 80, "h", 80, "h"}, Case{"h:", 0, "h", 0, "h"},
        Case{"a:b:99", 0, "a:b", 99, "a:b:99"}, Case{"nocolon", 0, "old", 7, "old:7"}}) {
    SocketPairHandler handler(-1);
    handler.SetDefaultPort(c.defaultPort);
    handler.SetHost("old");
    handler.SetPort(7);
    handler.SetDestination(c.set);
    EXPECT_EQ(handler.Host(), c.host) << c.set.toStdString();
    EXPECT_EQ(handler.Port(), c.port) << c.set.toStdString();
    EXPECT_EQ(handler.Destination(), c.destination) << c.set.toStdString();
  }
}

TEST(TIdIOHandlerSettings, RefusesEmptyChunksAndWorksWithoutASource) {
  SocketPairHandler handler(-1);
  EXPECT_THROW(handler.SetRecvBufferSize(0), ERangeError);
  EXPECT_THROW(handler.SetSendBufferSize(-1), ERangeError);
  // Without a source: reads find nothing, and say so when asked to.
  EXPECT_EQ(handler.FillPendingInput(false), 0);
  ExpectRaises<EIdConnClosedGracefully>([&] { handler.FillPendingInput(true); },
                                        "Connection Closed Gracefully.");
  EXPECT_THROW(handler.Write("x"), EIdConnClosedGracefully);
}

} // namespace
