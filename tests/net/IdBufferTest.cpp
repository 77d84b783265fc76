#include "net/IdBuffer.h"

#include <QBuffer>

#include "tests/support/ExpectRaises.h"

#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <random>

namespace {

using testsupport::ExpectRaises;

QByteArray Letters(int n, char first = 'a') {
  QByteArray bytes(n, Qt::Uninitialized);
  for (int i = 0; i < n; ++i) {
    bytes[i] = char(first + i % 26);
  }
  return bytes;
}

TEST(ClipByteRun, ClipsToWhatTheArrayHoldsFromTheOffset) {
  struct Case {
    qsizetype size;
    int32_t offset, length, expected;
  };
  for (const Case& c : {Case{10, 0, -1, 10}, Case{10, 3, -1, 7}, Case{10, 3, 4, 4},
                        Case{10, 3, 100, 7}, Case{10, 10, -1, 0}, Case{10, 11, 1, 0},
                        Case{10, -1, 5, 0}, Case{0, 0, -1, 0}, Case{10, 0, 0, 0}}) {
    EXPECT_EQ(ClipByteRun(c.size, c.offset, c.length), c.expected)
        << c.size << " " << c.offset << " " << c.length;
  }
}

struct ShortCase {
  int queued;
  int asked;
  const char* message;
};

class NotEnoughData : public testing::TestWithParam<ShortCase> {};

TEST_P(NotEnoughData, EveryExtractionRefusesAndKeepsTheQueue) {
  const ShortCase& c = GetParam();
  TIdBuffer buffer;
  buffer.AppendBytes(Letters(c.queued));
  QBuffer sink;
  sink.open(QIODevice::WriteOnly);
  QByteArray out;

  const auto expectRefusal = [&](auto&& extract, const char* what) {
    SCOPED_TRACE(what);
    ExpectRaises<EIdNotEnoughDataInBuffer>(extract, QString::fromLatin1(c.message));
    EXPECT_EQ(buffer.Size(), c.queued);
  };
  expectRefusal([&] { buffer.ExtractBytes(out, c.asked); }, "ExtractBytes");
  expectRefusal([&] { buffer.ExtractText(c.asked); }, "ExtractText");
  expectRefusal([&] { buffer.ExtractIntoStream(sink, c.asked); }, "ExtractIntoStream");
  EXPECT_TRUE(out.isEmpty());
  EXPECT_EQ(sink.size(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, NotEnoughData,
                         testing::Values(ShortCase{42, 100, "Not enough data in buffer. (100/42)"},
                                         ShortCase{0, 1, "Not enough data in buffer. (1/0)"},
                                         ShortCase{5000, 5001,
                                                   "Not enough data in buffer. (5001/5000)"}));

TEST(TIdBuffer, EmptyBufferTakesTheAppendedArrayAsItsStorage) {
  TIdBuffer buffer;
  QByteArray chunk = Letters(300);
  buffer.AppendBytes(chunk);
  EXPECT_EQ(buffer.Capacity(), 300);
  EXPECT_EQ(buffer.HeadIndex(), 0);
  // The caller's later writes to its array never reach the queue.
  chunk.fill('#');
  EXPECT_EQ(buffer.Peek(), Letters(300));
}

TEST(TIdBuffer, GrowthAddsTheGrowthStepAfterTheNeededRoom) {
  TIdBuffer buffer;
  buffer.AppendBytes(Letters(100));
  buffer.AppendBytes(Letters(50));
  EXPECT_EQ(buffer.Capacity(), 100 + 50 + 2048);
  // The spare room takes the next appends without growing again.
  buffer.AppendBytes(Letters(2048));
  EXPECT_EQ(buffer.Capacity(), 100 + 50 + 2048);
  EXPECT_EQ(buffer.Size(), 2198);
}

// Spare room that would carry the storage past what a 32-bit size can count is cut to fit, on
// growth and on shrink alike; the storage is reserved, not filled, so the test stays cheap.
TEST(TIdBuffer, SpareRoomStopsAtTheLargestSize) {
  constexpr int32_t largest = std::numeric_limits<int32_t>::max();
  TIdBuffer buffer;
  buffer.SetGrowthStep(largest - 10);
  buffer.AppendBytes(Letters(16));
  buffer.AppendBytes(Letters(16, 'A'));
  EXPECT_EQ(buffer.Capacity(), largest);
  EXPECT_EQ(buffer.Peek(), Letters(16) + Letters(16, 'A'));
  buffer.Discard(8);
  buffer.Compact(true);
  EXPECT_EQ(buffer.Capacity(), largest);
  EXPECT_EQ(buffer.Size(), 24);
}

TEST(TIdBuffer, AGrowthStepBelowOneIsRefused) {
  TIdBuffer buffer;
  for (const int32_t step : {0, -1, std::numeric_limits<int32_t>::min()}) {
    ExpectRaises<ERangeError>([&] { buffer.SetGrowthStep(step); }, "Range check error");
    EXPECT_EQ(buffer.GrowthStep(), 2048);
  }
  buffer.AppendBytes(Letters(10));
  buffer.AppendBytes(Letters(10));
  EXPECT_EQ(buffer.Peek(), Letters(10) + Letters(10));
}

TEST(TIdBuffer, HeadMovesWithoutMovingBytesUntilItPassesTheGrowthStepAndLittleIsLeft) {
  TIdBuffer buffer;
  buffer.AppendBytes(Letters(10000));
  const char* storage = buffer.Peek().data() - buffer.HeadIndex();
  QByteArray out;
  int taken = 0;
  // Past 2048 the head goes on moving while more than 2048 bytes are queued: a move now would
  // shift all of them.
  while (taken + 100 < 8000) {
    buffer.ExtractBytes(out, 100);
    taken += 100;
    EXPECT_EQ(buffer.HeadIndex(), taken);
    EXPECT_EQ(buffer.Peek().data() - buffer.HeadIndex(), storage) << "storage was replaced";
  }
  EXPECT_EQ(buffer.Capacity(), 10000);
  buffer.ExtractBytes(out, 100); // head 8000, 2000 queued: compaction with shrink
  EXPECT_EQ(buffer.HeadIndex(), 0);
  EXPECT_EQ(buffer.Size(), 2000);
  EXPECT_EQ(buffer.Capacity(), 2000 + 2048);
  EXPECT_EQ(buffer.Peek(), Letters(10000).mid(8000));

  TIdBuffer small;
  small.AppendBytes(Letters(3000));
  small.Discard(2100); // head 2100, 900 queued: past both at once
  EXPECT_EQ(small.HeadIndex(), 0);
  EXPECT_EQ(small.Peek(), Letters(3000).mid(2100));
}

TEST(TIdBuffer, AppendCompactsBeforeGrowingOnly) {
  TIdBuffer buffer;
  buffer.AppendBytes(Letters(1000));
  buffer.Discard(600);
  buffer.AppendBytes(Letters(500)); // 400 queued + 500 fit in 1000 once moved to the front
  EXPECT_EQ(buffer.HeadIndex(), 0);
  EXPECT_EQ(buffer.Capacity(), 1000);
  EXPECT_EQ(buffer.Peek(), Letters(1000).mid(600) + Letters(500));

  TIdBuffer roomy;
  roomy.AppendBytes(Letters(1000));
  roomy.AppendBytes(Letters(10)); // grows to 1010 + 2048
  roomy.Discard(100);
  roomy.AppendBytes(Letters(10)); // room after the tail: the head stays where it is
  EXPECT_EQ(roomy.HeadIndex(), 100);
  EXPECT_EQ(roomy.Peek(), Letters(1000).mid(100) + Letters(10) + Letters(10));
}

TEST(TIdBuffer, CompactShrinksToSizePlusGrowthStepOnlyWhenAllowed) {
  TIdBuffer buffer;
  buffer.AppendBytes(Letters(8000));
  buffer.Discard(1000);
  buffer.Compact(false);
  EXPECT_EQ(buffer.HeadIndex(), 0);
  EXPECT_EQ(buffer.Capacity(), 8000);
  buffer.Compact(true); // 1000 spare bytes are within the growth step
  EXPECT_EQ(buffer.Capacity(), 8000);
  buffer.SetGrowthStep(500);
  buffer.Compact(true);
  EXPECT_EQ(buffer.Capacity(), 7000 + 500);
  EXPECT_EQ(buffer.Peek(), Letters(8000).mid(1000));
}

TEST(TIdBuffer, ExtractBytesAppendsOrOverwritesWithoutShrinking) {
  TIdBuffer buffer;
  buffer.AppendBytes("0123456789");
  QByteArray out = "xyz";
  buffer.ExtractBytes(out, 2, true);
  EXPECT_EQ(out, "xyz01");
  buffer.ExtractBytes(out, 3, false);
  EXPECT_EQ(out, "23401");
  buffer.ExtractBytes(out, 0);
  EXPECT_EQ(out, "23401");
  buffer.ExtractBytes(out, -1, true);
  EXPECT_EQ(out, "2340156789");
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.HeadIndex(), 0);
}

TEST(TIdBuffer, RemovedNotifyReportsEveryByteThatLeaves) {
  std::vector<int32_t> removed;
  TIdBuffer buffer([&](TIdBuffer* sender, int32_t count) {
    EXPECT_NE(sender, nullptr);
    removed.push_back(count);
  });
  buffer.AppendBytes(Letters(50));
  QByteArray out;
  QBuffer sink;
  sink.open(QIODevice::WriteOnly);
  buffer.ExtractBytes(out, 10);
  buffer.ExtractText(5);
  buffer.ExtractIntoStream(sink, 5);
  buffer.Discard(0);
  buffer.Discard(100); // only 30 were left
  EXPECT_EQ(removed, (std::vector<int32_t>{10, 5, 5, 30}));
  buffer.Clear();
  EXPECT_EQ(removed.size(), 4u);
}

TEST(TIdBuffer, ExtractTextUsesTheGivenOrTheBufferEncoding) {
  TIdBuffer buffer;
  buffer.AppendBytes("gr\xc3\xbc\xc3\x9f");
  EXPECT_EQ(buffer.ExtractText(2), u"gr");
  buffer.SetTextEncoding(ekUTF8);
  EXPECT_EQ(buffer.ExtractText(-1), u"\u00fc\u00df");
  buffer.AppendBytes("\xe9t\xe9");
  EXPECT_EQ(buffer.ExtractText(-1, ek8Bit), u"\u00e9t\u00e9");
  buffer.AppendBytes("\xe9t");
  EXPECT_EQ(buffer.ExtractText(-1, ekASCII), u"?t");
  EXPECT_EQ(buffer.ExtractText(0), u"");
}

TEST(TIdBuffer, ExtractIntoStreamWritesAtThePosition) {
  TIdBuffer buffer;
  buffer.AppendBytes("hello world");
  QByteArray target = "0123456789";
  QBuffer sink(&target);
  sink.open(QIODevice::ReadWrite);
  sink.seek(2);
  buffer.ExtractIntoStream(sink, 5);
  EXPECT_EQ(target, "01hello789");
  EXPECT_EQ(buffer.Peek(), " world");

  QByteArray fixed = "ro";
  QBuffer readOnly(&fixed);
  readOnly.open(QIODevice::ReadOnly);
  EXPECT_THROW(buffer.ExtractIntoStream(readOnly), EIdStreamWriteError);
  EXPECT_EQ(buffer.Peek(), " world");
}

TEST(TIdBuffer, FindBytesSearchesFromTheHeadAndTheStart) {
  TIdBuffer buffer;
  EXPECT_EQ(buffer.FindBytes("x"), -1); // empty buffer: no checks at all
  EXPECT_EQ(buffer.FindBytes("", 99), -1);
  buffer.AppendBytes("skip\nab\r\ncd\r\n");
  buffer.Discard(5);
  EXPECT_EQ(buffer.FindBytes("\r\n"), 2);
  EXPECT_EQ(buffer.FindBytes("\r\n", 2), 2);
  EXPECT_EQ(buffer.FindBytes("\r\n", 3), 6);
  EXPECT_EQ(buffer.FindBytes("\r\n", 7), -1);
  EXPECT_EQ(buffer.FindBytes("cd\r\n\r\n"), -1); // a match may not run past the queued bytes
  EXPECT_EQ(buffer.FindText(u"cd"), 4);
  EXPECT_EQ(buffer.FindText(u"\u00fc", 0, ekUTF8), -1);

  struct Bad {
    QByteArray needle;
    int32_t start;
    const char* message;
  };
  for (const Bad& b : {Bad{"", 0, "Buffer terminator must be specified."},
                       Bad{"\n", -1, "Buffer start position is invalid."},
                       Bad{"\n", 8, "Buffer start position is invalid."}}) {
    ExpectRaises<EIdException>([&] { (void)buffer.FindBytes(b.needle, b.start); },
                               QString::fromLatin1(b.message));
  }
}

// Random appends and removals against a plain queue: compaction, growth and shrinking must
// never lose, duplicate or reorder a byte.
TEST(TIdBuffer, KeepsTheByteOrderThroughRandomTraffic) {
  std::mt19937 random(20240611);
  std::deque<char> model;
  TIdBuffer buffer;
  int64_t removedTotal = 0;
  buffer.SetRemovedNotify([&](TIdBuffer*, int32_t n) { removedTotal += n; });
  int64_t taken = 0;
  char next = 0;
  for (int step = 0; step < 4000; ++step) {
    const int n = int(random() % 5000);
    switch (random() % 4) {
    case 0:
    case 1: {
      QByteArray chunk(n, Qt::Uninitialized);
      for (char& c : chunk) {
        model.push_back(c = next++);
      }
      const int offset = n > 0 ? int(random() % n) : 0;
      buffer.AppendBytes(chunk, -1, offset);
      model.erase(model.end() - n, model.end() - n + offset);
      break;
    }
    case 2: {
      const int count = std::min<int>(n, int(model.size()));
      QByteArray out;
      buffer.ExtractBytes(out, count);
      for (int i = 0; i < count; ++i, model.pop_front()) {
        ASSERT_EQ(out[i], model.front()) << "step " << step;
      }
      taken += count;
      break;
    }
    default: {
      const int count = std::min<int>(n / 4, int(model.size()));
      buffer.Discard(count);
      model.erase(model.begin(), model.begin() + count);
      taken += count;
    }
    }
    ASSERT_EQ(buffer.Size(), int(model.size()));
    ASSERT_LE(buffer.HeadIndex() + buffer.Size(), buffer.Capacity());
    ASSERT_TRUE(buffer.HeadIndex() <= 2048 || buffer.Size() > 2048) << "step " << step;
  }
  const QByteArrayView rest = buffer.Peek();
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), model.begin(), model.end()));
  EXPECT_EQ(removedTotal, taken);
}

} // namespace
