#include "net/IdIOHandler.h"
#include "tests/net/SocketPairHandler.h"
#include "tests/support/NamedRow.h"

#include <QBuffer>

#include "tests/support/ExpectRaises.h"

#include <gtest/gtest.h>

namespace {

using testsupport::ExpectRaises;

// --- Lines ----------------------------------------------------------------------------------

struct LineCase : testsupport::NamedRow {
  QByteArray sent;
  QString terminator;
  QStringList lines;
};

// Each case runs with receives of 1, 3 and 32768 bytes, so terminators and characters are
// split across receives in every possible place.
class ReadLineTable : public SocketPairTest,
                      public testing::WithParamInterface<std::tuple<LineCase, int>> {};

TEST_P(ReadLineTable, SplitsAtTheTerminator) {
  const auto& [c, recvSize] = GetParam();
  handler().SetRecvBufferSize(recvSize);
  handler().SetTextEncoding(ekUTF8);
  PeerSend(c.sent);
  for (const QString& expected : c.lines) {
    EXPECT_EQ(handler().ReadLine(c.terminator), expected) << c.name;
  }
  EXPECT_TRUE(handler().PendingInputEmpty()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadLineTable,
    testing::Combine(
        testing::Values(LineCase{"crlf and lf", "abc\r\nabc\n", {}, {"abc", "abc"}},
                        LineCase{"only one cr goes", "a\r\r\n\r\n", {}, {"a\r", ""}},
                        LineCase{
                            "cr stays before another terminator", "abc\r|x|", "|", {"abc\r", "x"}},
                        LineCase{"long terminator",
                                 "h1\r\nh2\r\n\r\nbody\r\n\r\n",
                                 "\r\n\r\n",
                                 {"h1\r\nh2", "body"}},
                        LineCase{"overlapping terminator", "aab", "ab", {"a"}},
                        LineCase{"utf-8 text",
                                 "gr\xc3\xbc\xc3\x9f\n\xe2\x82\xac\n",
                                 {},
                                 {u"gr\u00fc\u00df"_qs, u"\u20ac"_qs}}),
        testing::Values(1, 3, 32768)),
    [](const auto& info) {
      QString name = QString::fromLatin1(std::get<0>(info.param).name);
      name.replace(u' ', u'_').replace(u'-', u'_');
      return name.toStdString() + "_" + std::to_string(std::get<1>(info.param));
    });

struct LongLineCase {
  TIdMaxLineAction action;
  QByteArray sent;
  int32_t maxLength; // -1: the handler's 16384
  qsizetype expectedLength;
  qsizetype leftQueued;
  friend void PrintTo(const LongLineCase& c, std::ostream* os) {
    *os << (c.action == maSplit ? "maSplit " : "maException ") << c.sent.size() << " bytes";
  }
};

class LongLines : public SocketPairTest, public testing::WithParamInterface<LongLineCase> {};

TEST_P(LongLines, RaiseOrSplitAtTheLimit) {
  const LongLineCase& c = GetParam();
  handler().SetMaxLineAction(c.action);
  PeerSend(c.sent);
  if (c.expectedLength < 0) {
    ExpectRaises<EIdReadLnMaxLineLengthExceeded>(
        [&] { handler().ReadLine({}, kTimeoutDefault, c.maxLength); }, "Max line length exceeded.");
  } else {
    EXPECT_EQ(handler().ReadLine({}, kTimeoutDefault, c.maxLength).size(), c.expectedLength);
    EXPECT_EQ(handler().LastLineSplit(), c.action == maSplit);
  }
  if (c.leftQueued >= 0) {
    EXPECT_EQ(handler().PendingInput().Size(), c.leftQueued);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LongLines,
    testing::Values(
        // 20000 bytes and no terminator: the limit is noticed once 16385 bytes are queued.
        LongLineCase{maException, QByteArray(20000, 'x'), -1, -1, -1},
        LongLineCase{maSplit, QByteArray(20000, 'x'), -1, 16384, 20000 - 16384},
        // A terminator right after the limit is fine; one byte later is too long.
        LongLineCase{maException, QByteArray(16384, 'x') + "\n", -1, 16384, 0},
        LongLineCase{maException, QByteArray(16385, 'x') + "\n", -1, -1, 16386},
        LongLineCase{maSplit, QByteArray(16385, 'x') + "\n", -1, 16384, 2},
        LongLineCase{maSplit, "abcdefgh\n", 5, 5, 4},
        LongLineCase{maException, QByteArray(40000, 'x') + "\n", 0, 40000, 0}));

TEST_F(SocketPairTest, ReadLineTimeOutGivesEmptyTextAndTheFlag) {
  EXPECT_EQ(handler().ReadLine({}, 0), "");
  EXPECT_TRUE(handler().LastLineTimedOut());
  PeerSend("partial");
  EXPECT_EQ(handler().ReadLine({}, 30), "");
  EXPECT_TRUE(handler().LastLineTimedOut());
  PeerSend(" line\n");
  EXPECT_EQ(handler().ReadLine({}, 0), "partial line");
  EXPECT_FALSE(handler().LastLineTimedOut());

  handler().SetReadTimeout(20); // the default argument follows ReadTimeout
  EXPECT_EQ(handler().ReadLine(), "");
  EXPECT_TRUE(handler().LastLineTimedOut());
}

TEST_F(SocketPairTest, PeerCloseMidLineRaisesAndKeepsTheBytes) {
  PeerSend("abc");
  ClosePeer();
  EXPECT_THROW(handler().ReadLine(), EIdConnClosedGracefully);
  EXPECT_EQ(handler().PendingInput().Peek(), "abc"); // still readable
  EXPECT_TRUE(handler().PeerClosed());
  EXPECT_FALSE(handler().SourceAvailable()); // closed as soon as the close was seen
  QByteArray bytes;
  handler().ReadBytes(bytes, 3, false);
  EXPECT_EQ(bytes, "abc");
  EXPECT_THROW(handler().ReadBytes(bytes, 1), EIdConnClosedGracefully);
}

TEST_F(SocketPairTest, ReadLineWaitSkipsBlankLines) {
  PeerSend("\r\n   \r\n\t hello \r\n\r\n\r\n\r\n");
  EXPECT_EQ(handler().ReadLineWait(3), "hello");
  ExpectRaises<EIdReadLnWaitMaxAttemptsExceeded>([&] { handler().ReadLineWait(3); },
                                                 "Max line read attempts exceeded.");
  handler().SetReadTimeout(20);
  ExpectRaises<EIdReadTimeout>([&] { handler().ReadLineWait(3); }, "Read timed out.");
}

// --- Counted reads --------------------------------------------------------------------------

TEST_F(SocketPairTest, ReadBytesWaitsForTheWholeCount) {
  handler().SetRecvBufferSize(7);
  PeerSend(QByteArray(100, 'q') + "tail");
  QByteArray bytes = "pre";
  handler().ReadBytes(bytes, 100, true);
  EXPECT_EQ(bytes, "pre" + QByteArray(100, 'q'));
  handler().SetReadTimeout(20);
  EXPECT_THROW(handler().ReadBytes(bytes, 5), EIdReadTimeout);
  EXPECT_EQ(handler().PendingInput().Peek(), "tail"); // nothing lost by the time-out
  handler().ReadBytes(bytes, -1, false);
  EXPECT_EQ(bytes.left(4), "tail");
}

TEST_F(SocketPairTest, IntegersAndCharactersCome) {
  PeerSend(QByteArray::fromHex("0000012cfffffffffffffffe2c010000") + "A\xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_EQ(handler().ReadInt32(), 300);
  EXPECT_EQ(handler().ReadInt64(), -2);
  EXPECT_EQ(handler().ReadInt32(false), 300);
  EXPECT_EQ(handler().ReadChar(), "A");
  EXPECT_EQ(handler().ReadChar(ekUTF8), u"\u00e9"_qs);
  EXPECT_EQ(handler().ReadChar(ekUTF8), u"\U0001F600"_qs);
}

// --- Streams --------------------------------------------------------------------------------

struct StreamCase : testsupport::NamedRow {
  QByteArray sent;
  int64_t count;
  bool untilClose;
  bool use64;
  QByteArray expected;
  bool raises;
};

class ReadStreamTable : public SocketPairTest, public testing::WithParamInterface<StreamCase> {};

TEST_P(ReadStreamTable, HoldsExactlyWhatArrived) {
  const StreamCase& c = GetParam();
  handler().SetUse64BitCounts(c.use64);
  handler().SetRecvBufferSize(4);
  PeerSend(c.sent);
  ClosePeer();
  // Old content past the position must not survive the read.
  QByteArray target = "KEEP" + QByteArray(5000, '-');
  QBuffer stream(&target);
  stream.open(QIODevice::ReadWrite);
  stream.seek(4);
  if (c.raises) {
    EXPECT_THROW(handler().ReadStream(stream, c.count, c.untilClose), EIdConnClosedGracefully);
  } else {
    handler().ReadStream(stream, c.count, c.untilClose);
  }
  EXPECT_EQ(target, "KEEP" + c.expected) << c.name;
  EXPECT_EQ(stream.pos(), target.size()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadStreamTable,
    testing::Values(
        StreamCase{"until close", "0123456789", -1, true, false, "0123456789", false},
        StreamCase{"count", "0123456789", 6, false, false, "012345", false},
        StreamCase{"short of its count", "0123456789", 100, false, false, "0123456789", true},
        StreamCase{"zero count", "0123", 0, false, false, "", false},
        StreamCase{"32-bit prefix", QByteArray::fromHex("00000003") + "abcdef", -1, false, false,
                   "abc", false},
        StreamCase{"64-bit prefix", QByteArray::fromHex("0000000000000002") + "abc", -1, false,
                   true, "ab", false},
        // 2 GB announced, 10 bytes sent: nothing is reserved for the bytes that never came.
        StreamCase{"huge prefix", QByteArray::fromHex("7ffffff0") + "0123456789", -1, false, false,
                   "0123456789", true}),
    [](const auto& info) {
      return QString::fromLatin1(info.param.name)
          .replace(u' ', u'_')
          .replace(u'-', u'_')
          .toStdString();
    });

TEST_F(SocketPairTest, AnnouncedSizeReservesNoMemory) {
  PeerSend(QByteArray::fromHex("000000007ffffff0") + "0123456789");
  ClosePeer();
  handler().SetUse64BitCounts(true);
  QByteArray target;
  QBuffer stream(&target);
  stream.open(QIODevice::WriteOnly);
  EXPECT_THROW(handler().ReadStream(stream), EIdConnClosedGracefully);
  EXPECT_EQ(target, "0123456789");
  EXPECT_LT(target.capacity(), 1 << 20);
}

TEST_F(SocketPairTest, StreamReadReportsOneWorkEvenWhenNested) {
  std::vector<std::string> events;
  handler().OnWorkBegin = [&](TIdComponent*, TWorkMode m, int64_t max) {
    events.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
  };
  handler().OnWork = [&](TIdComponent*, TWorkMode, int64_t total) {
    events.push_back(std::to_string(total));
  };
  handler().OnWorkEnd = [&](TIdComponent*, TWorkMode m) {
    events.push_back("end " + std::to_string(m));
  };
  handler().SetRecvBufferSize(4);
  PeerSend("0123456789");
  QBuffer stream;
  stream.open(QIODevice::WriteOnly);
  handler().StartWork(wmRead, 10);
  handler().ReadStream(stream, 6);
  handler().ReadStream(stream, 4);
  handler().FinishWork(wmRead);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0 10", "4", "6", "8", "10", "end 0"}));
}

// --- Lines in bulk --------------------------------------------------------------------------

TEST_F(SocketPairTest, CaptureLinesUnescapesDotsAndStopsAtTheMarker) {
  PeerSend("one\r\n..two\r\n.three\r\n.\r\nafter\r\n");
  QStringList lines = {"kept"};
  EXPECT_EQ(handler().CaptureLines(lines), 3);
  EXPECT_EQ(lines, (QStringList{"kept", "one", ".two", ".three"}));
  EXPECT_EQ(handler().ReadLine(), "after");

  PeerSend("..a\nb\nEND\n");
  QBuffer stream;
  stream.open(QIODevice::WriteOnly);
  EXPECT_EQ(handler().CaptureLines(&stream, "END", false), 2);
  EXPECT_EQ(stream.data(), "..a\r\nb\r\n");

  ExpectRaises<EIdObjectTypeNotSupported>([&] { handler().CaptureLines(nullptr); },
                                          "Object type not supported.");
}

TEST_F(SocketPairTest, CaptureLineLimitAcceptsOneLineMoreThanItSays) {
  handler().SetCaptureLineLimit(2);
  PeerSend("1\n2\n3\n.\n1\n2\n3\n4\n.\n");
  QStringList lines;
  EXPECT_EQ(handler().CaptureLines(lines), 3);
  ExpectRaises<EIdMaxCaptureLineExceeded>([&] { handler().CaptureLines(lines); },
                                          "Maximum number of line allowed exceeded");
  EXPECT_EQ(lines.size(), 6);
}

TEST_F(SocketPairTest, CaptureLinesStopsOnATimeOut) {
  handler().SetReadTimeout(20);
  PeerSend("one\n");
  QStringList lines;
  EXPECT_THROW(handler().CaptureLines(lines), EIdReadTimeout);
  EXPECT_EQ(lines, QStringList{"one"});
}

TEST_F(SocketPairTest, ReadAllReturnsEverythingUntilTheClose) {
  handler().SetRecvBufferSize(3);
  PeerSend("first part, ");
  PeerSend("second part");
  ClosePeer();
  EXPECT_EQ(handler().ReadAll(), "first part, second part");
  EXPECT_FALSE(handler().Connected());
  EXPECT_EQ(handler().ReadAll(), ""); // no source left: nothing, and no exception
}

TEST_F(SocketPairTest, ReadAllEndsAtTheReadLimitWithWhatCame) {
  handler().SetReadTimeout(50);
  PeerSend("no close follows");
  EXPECT_EQ(handler().ReadAll(), "no close follows");
  EXPECT_TRUE(handler().Connected());
}

TEST_F(SocketPairTest, CheckForDataAnswersFromQueuedBytesWithoutAFill) {
  PeerSend("queued");
  handler().FillPendingInput();
  const int receives = handler().receives;
  EXPECT_TRUE(handler().CheckForData(2000));
  EXPECT_EQ(handler().receives, receives);
}

// The call's deadline ends every wait that is not a poll, and ends a peer that keeps sending
// as well; a poll still answers after it.
TEST_F(SocketPairTest, TheCallDeadlineEndsEveryWait) {
  using std::chrono::steady_clock;
  handler().SetCallDeadline(steady_clock::now() + std::chrono::milliseconds(50));
  ExpectRaises<EIdCallTimeout>([&] { handler().ReadLine(); }, "Call timed out.");
  ExpectRaises<EIdCallTimeout>([&] { handler().ReadAll(); }, "Call timed out.");
  PeerSend("more\n");
  EXPECT_EQ(handler().FillPendingInput(false, 0, false), 5);
  PeerSend("and more\n");
  ExpectRaises<EIdCallTimeout>([&] { handler().FillPendingInput(); }, "Call timed out.");
  handler().SetCallDeadline(std::nullopt);
  EXPECT_EQ(handler().ReadLine(), "more");
  EXPECT_EQ(handler().ReadLine(), "and more");
}

// --- Filling and life -----------------------------------------------------------------------

TEST_F(SocketPairTest, FillPendingInputReportsCountsTimeOutsAndCloses) {
  EXPECT_EQ(handler().FillPendingInput(false, 0, false), -1);
  EXPECT_THROW(handler().FillPendingInput(true, 0, true), EIdReadTimeout);
  EXPECT_FALSE(handler().CheckForData(0));
  PeerSend("12345");
  EXPECT_TRUE(handler().CheckForData(1000));
  EXPECT_EQ(handler().PendingInputAsText(), "12345");
  ClosePeer();
  EXPECT_EQ(handler().FillPendingInput(false, 1000, false), 0);
  EXPECT_TRUE(handler().PeerClosed());
  EXPECT_FALSE(handler().SourceAvailable());
  EXPECT_EQ(handler().FillPendingInput(false), 0);
  ExpectRaises<EIdConnClosedGracefully>([&] { handler().FillPendingInput(true); },
                                        "Connection Closed Gracefully.");
}

TEST_F(SocketPairTest, OpenStartsCleanAndCloseKeepsQueuedInput) {
  std::vector<QString> statuses;
  handler().OnStatus = [&](TIdComponent*, TIdStatus, const QString& text) {
    statuses.push_back(text);
  };
  PeerSend("queued");
  handler().FillPendingInput();
  handler().BeginWriteBuffering();
  handler().Write("unsent");
  handler().Close();
  EXPECT_FALSE(handler().IsOpen());
  EXPECT_EQ(handler().PendingInput().Size(), 6);
  EXPECT_EQ(handler().PendingOutput()->Size(), 0);
  EXPECT_FALSE(handler().Connected()); // closed: queued bytes alone do not keep it
  handler().Open();
  EXPECT_TRUE(handler().PendingInputEmpty());
  EXPECT_FALSE(handler().PeerClosed());
  EXPECT_TRUE(statuses.empty());
}

TEST_F(SocketPairTest, PeerCloseIsReportedOnce) {
  std::vector<QString> statuses;
  handler().OnStatus = [&](TIdComponent*, TIdStatus, const QString& text) {
    statuses.push_back(text);
  };
  ClosePeer();
  EXPECT_FALSE(handler().CheckForData(1000));
  EXPECT_FALSE(handler().Connected());
  EXPECT_FALSE(handler().Connected());
  EXPECT_EQ(statuses, std::vector<QString>{"Disconnected."});
}

} // namespace
