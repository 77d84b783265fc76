#include "http/IdTextDecoding.h"

#include "net/IdException.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <ostream>
#include <unistd.h>

namespace {

struct ParameterCase {
  const char16_t* value;
  const char16_t* name;
  const char16_t* expected;
};

void PrintTo(const ParameterCase& c, std::ostream* os) {
  *os << QString::fromUtf16(c.value).toStdString() << " ["
      << QString::fromUtf16(c.name).toStdString() << "]";
}

class ExtractHeaderParameterTest : public testing::TestWithParam<ParameterCase> {};

TEST_P(ExtractHeaderParameterTest, ReadsTheValueAfterTheFirstOccurrence) {
  const ParameterCase& c = GetParam();
  EXPECT_EQ(ExtractHeaderParameter(c.value, c.name), QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractHeaderParameterTest,
    testing::Values(ParameterCase{u"text/html; charset=UTF-8", u"charset", u"UTF-8"},
                    ParameterCase{u"text/html; CharSet=UTF-8", u"CHARSET", u"UTF-8"},
                    ParameterCase{u"text/html; charset=\"UTF-8\"; q=1", u"charset", u"UTF-8"},
                    ParameterCase{u"text/html; charset = UTF-8", u"charset", u"UTF-8"},
                    ParameterCase{u"text/html; charset\t=\t\"a b\"", u"charset", u"a b"},
                    ParameterCase{u"text/html; charset=\"UTF-8", u"charset", u"UTF-8"},
                    ParameterCase{u"text/html; charset=\"\"", u"charset", u""},
                    // Unquoted values end at ";" and keep the blanks before it.
                    ParameterCase{u"text/html; charset=utf-8 ; q=1", u"charset", u"utf-8 "},
                    ParameterCase{u"text/html; charset=utf-8  ", u"charset", u"utf-8"},
                    ParameterCase{u"a; boundary=\"x;y\"; c", u"boundary", u"x;y"},
                    // Without "=" the text after the name is read all the same.
                    ParameterCase{u"text/html; charset utf-8", u"charset", u"utf-8"},
                    ParameterCase{u"application/x-charset-list; charset=utf-8", u"charset",
                                  u"-list"},
                    ParameterCase{u"text/html", u"charset", u""},
                    ParameterCase{u"text/html; charset", u"charset", u""},
                    ParameterCase{u"text/html; charset=", u"charset", u""},
                    ParameterCase{u"text/html; charset=x", u"", u""},
                    ParameterCase{u"", u"charset", u""}));

struct BodyCase {
  const char16_t* contentType;
  QByteArray body;
  QString expected;
};

void PrintTo(const BodyCase& c, std::ostream* os) {
  *os << QString::fromUtf16(c.contentType).toStdString() << " / "
      << c.body.toHex(' ').toStdString();
}

class ResponseTextTest : public testing::TestWithParam<BodyCase> {};

// The road of a fetched body: encoding from the content type, then the whole stream decoded.
TEST_P(ResponseTextTest, DecodesByTheNamedCharacterSet) {
  const BodyCase& c = GetParam();
  QByteArray body = c.body;
  QBuffer stream(&body);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  EXPECT_EQ(ReadStreamText(stream, -1, EncodingFromContentType(c.contentType)), c.expected);
  EXPECT_TRUE(stream.atEnd());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseTextTest,
    testing::Values(
        BodyCase{u"text/html; charset=utf-8", "\xc3\xa9", QStringLiteral("\u00e9")},
        BodyCase{u"text/html", "\xc3\xa9", QStringLiteral("\u00c3\u00a9")},
        BodyCase{u"", "\xc3\xa9", QStringLiteral("\u00c3\u00a9")},
        BodyCase{u"text/html; charset=ISO-8859-1", "\xe9", QStringLiteral("\u00e9")},
        // Only UTF-8 is recognised: a Cyrillic code page still reads byte C0 as U+00C0.
        BodyCase{u"text/html; charset=windows-1251", "\xc0", QStringLiteral("\u00c0")},
        BodyCase{u"text/html; charset=utf-16", "\xc3\xa9", QStringLiteral("\u00c3\u00a9")},
        BodyCase{u"TEXT/HTML; CHARSET=Utf8", "\xc3\xa9", QStringLiteral("\u00e9")},
        BodyCase{u"text/html;charset = utf-8;q=1", "\xc3\xa9", QStringLiteral("\u00e9")},
        // The name found first sits inside the media type and names no character set.
        BodyCase{u"application/x-charset-list; charset=utf-8", "\xc3\xa9",
                 QStringLiteral("\u00c3\u00a9")},
        BodyCase{u"text/html; charset=utf-8 ; q=1", "\xc3\xa9", QStringLiteral("\u00c3\u00a9")},
        BodyCase{u"text/html; charset=utf-8", "", QString()}, BodyCase{u"text/html", "", QString()},
        BodyCase{u"text/html; charset=utf-8", "\xef\xbb\xbf<p>", QStringLiteral("\ufeff<p>")},
        BodyCase{u"text/html", "\xef\xbb\xbf", QStringLiteral("\u00ef\u00bb\u00bf")},
        BodyCase{u"text/html; charset=utf-8",
                 "a\xff"
                 "b\xc3",
                 QStringLiteral("a\ufffdb\ufffd")},
        BodyCase{u"text/html; charset=utf-8", "\xed\xa0\x80!",
                 QStringLiteral("\ufffd\ufffd\ufffd!")},
        BodyCase{u"text/html; charset=utf-8", "\xf0\x9f\x98\x80",
                 QString::fromUtf16(u"\U0001F600")},
        BodyCase{u"text/html", QByteArray("a\0b", 3), QString::fromUtf16(u"a\0b", 3)}));

// The byte values 0 to 255 each come out as the character of the same number.
TEST(ResponseText, EightBitMapsEveryByteToItsOwnCode) {
  QByteArray all(256, Qt::Uninitialized);
  for (int i = 0; i < 256; ++i) {
    all[i] = static_cast<char>(i);
  }
  QBuffer stream(&all);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  const QString text = ReadStreamText(stream, -1, ek8Bit);
  ASSERT_EQ(text.size(), 256);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(text[i].unicode(), i);
  }
}

struct CountCase {
  qint64 start;
  qint64 count;
  const char16_t* expected;
  qint64 endPosition;
};

class ReadStreamTextCount : public testing::TestWithParam<CountCase> {};

// A memory stream is decoded where it lies, any other sized device through reads: both must
// leave the same text and the same position.
TEST_P(ReadStreamTextCount, ReadsFromThePositionOnward) {
  const CountCase& c = GetParam();
  QByteArray data("abcdef");
  QBuffer memory(&data);
  QTemporaryFile file;
  ASSERT_TRUE(memory.open(QIODevice::ReadOnly));
  ASSERT_TRUE(file.open());
  ASSERT_EQ(file.write(data), data.size());
  for (QIODevice* stream : {static_cast<QIODevice*>(&memory), static_cast<QIODevice*>(&file)}) {
    SCOPED_TRACE(stream == &memory ? "memory" : "file");
    ASSERT_TRUE(stream->seek(c.start));
    EXPECT_EQ(ReadStreamText(*stream, c.count, ekASCII), QString::fromUtf16(c.expected));
    EXPECT_EQ(stream->pos(), c.endPosition);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadStreamTextCount,
                         testing::Values(CountCase{0, -1, u"abcdef", 6},
                                         CountCase{2, -1, u"cdef", 6}, CountCase{2, 3, u"cde", 5},
                                         CountCase{2, 100, u"cdef", 6}, CountCase{2, 0, u"", 2},
                                         CountCase{6, -1, u"", 6}, CountCase{6, 4, u"", 6}));

TEST(ReadStreamText, RefusesNoEncodingWithoutConsumingTheStream) {
  QByteArray data("abc");
  QBuffer stream(&data);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  try {
    ReadStreamText(stream, -1, ekNone);
    ADD_FAILURE() << "no exception";
  } catch (const EIdNoEncodingSpecified& e) {
    EXPECT_EQ(e.Message(), u"No encoding specified.");
  }
  EXPECT_EQ(stream.pos(), 0);
}

// A sparse file holds more than 2 GiB without using the disk or the memory for it.
TEST(ReadStreamText, RefusesARemainderBeyondThirtyOneBitsBeforeReading) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  constexpr qint64 kLimit = 2147483647;
  ASSERT_TRUE(file.resize(kLimit + 11));
  ASSERT_TRUE(file.seek(10));
  EXPECT_THROW(ReadStreamText(file, -1, ek8Bit), ERangeError);
  EXPECT_EQ(file.pos(), 10);
  // Nearer the end the remainder fits and is read.
  ASSERT_TRUE(file.seek(kLimit + 8));
  EXPECT_EQ(ReadStreamText(file, -1, ek8Bit), QString(3, QChar(0)));
}

// A pipe has no size: the rest is whatever arrives until the writer closes.
TEST(ReadStreamText, ReadsASequentialDeviceToItsEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  QByteArray sent;
  for (int i = 0; sent.size() < 50000; ++i) {
    sent += "z\xc3\xa9" + QByteArray::number(i);
  }
  ASSERT_EQ(write(fds[1], sent.constData(), sent.size()), sent.size());
  close(fds[1]);
  QFile reader;
  ASSERT_TRUE(reader.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
  ASSERT_TRUE(reader.isSequential());
  EXPECT_EQ(ReadStreamText(reader, 4, ekUTF8), QString::fromUtf8(sent.left(4)));
  EXPECT_EQ(ReadStreamText(reader, -1, ekUTF8), QString::fromUtf8(sent.mid(4)));
}

} // namespace
