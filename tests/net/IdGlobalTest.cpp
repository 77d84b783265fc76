#include "net/IdGlobal.h"
#include "net/IdException.h"

#include "tests/support/NamedRow.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

struct IntCase {
  const char16_t* text;
  std::optional<int32_t> expected;
};

class TextToInt32Test : public testing::TestWithParam<IntCase> {};

TEST_P(TextToInt32Test, ConvertsOrRefuses) {
  const IntCase& c = GetParam();
  EXPECT_EQ(TextToInt32(QStringView(c.text)), c.expected)
      << QString::fromUtf16(c.text).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToInt32Test,
    testing::Values(IntCase{u"0500", 500}, IntCase{u"$64", 100}, IntCase{u"0x1F", 31},
                    IntCase{u"0X1f", 31}, IntCase{u"+7", 7}, IntCase{u"-5", -5},
                    IntCase{u"  300", 300}, IntCase{u"-$10", -16},
                    IntCase{u"2147483647", 2147483647},
                    IntCase{u"-2147483648", std::numeric_limits<int32_t>::min()},
                    IntCase{u"2147483648", std::nullopt}, IntCase{u"-2147483649", std::nullopt},
                    IntCase{u"$80000000", std::nullopt}, IntCase{u"99999999999", std::nullopt},
                    IntCase{u"", std::nullopt}, IntCase{u"   ", std::nullopt},
                    IntCase{u"abc", std::nullopt}, IntCase{u"300 ", std::nullopt},
                    IntCase{u"12abc", std::nullopt}, IntCase{u"\t300", std::nullopt},
                    IntCase{u"+", std::nullopt}, IntCase{u"$", std::nullopt},
                    IntCase{u"0x", std::nullopt}, IntCase{u"+-1", std::nullopt},
                    IntCase{u"1.5", std::nullopt}, IntCase{u"$G", std::nullopt}));

TEST(TextToInt64, CoversTheSignedRange) {
  EXPECT_EQ(TextToInt64(u"99999999999"), 99999999999LL);
  EXPECT_EQ(TextToInt64(u"9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(TextToInt64(u"-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(TextToInt64(u"9223372036854775808"), std::nullopt);
  EXPECT_EQ(TextToInt64Def(u"12abc", -1), -1);
}

// One row per rule of the scanner: the digits of the base are read from the start and the scan
// stops at the first other character; the limit is checked before the number passes it.
struct DigitCase {
  const char* text;
  unsigned base;
  uint64_t max;
  std::optional<uint64_t> value; // nothing: the scan refuses
  qsizetype length;              // characters taken when it does not
};

class ScanDigitsTest : public testing::TestWithParam<DigitCase> {};

TEST_P(ScanDigitsTest, ReadsTheLeadingRunOfDigits) {
  const DigitCase& c = GetParam();
  const QByteArrayView bytes(c.text);
  const QString text = QString::fromLatin1(c.text);
  // Bytes and text read alike, and the whole-text form takes exactly the runs that fill it.
  for (const auto& run : {ScanDigits(bytes, c.base, c.max), ScanDigits(text, c.base, c.max)}) {
    ASSERT_EQ(run.has_value(), c.value.has_value()) << c.text;
    if (run) {
      EXPECT_EQ(run->value, *c.value) << c.text;
      EXPECT_EQ(run->length, c.length) << c.text;
    }
  }
  const bool whole = c.value && c.length == bytes.size();
  EXPECT_EQ(DigitsValue(text, c.base, c.max), whole ? c.value : std::nullopt) << c.text;
}

constexpr uint64_t kAny = std::numeric_limits<uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Table, ScanDigitsTest,
    testing::Values(
        DigitCase{"0", 10, kAny, 0, 1}, DigitCase{"00042", 10, 42, 42, 5},
        DigitCase{"123;ext", 10, kAny, 123, 3}, DigitCase{"7f3Az", 16, kAny, 0x7f3a, 4},
        DigitCase{"18446744073709551615", 10, kAny, kAny, 20},
        DigitCase{"18446744073709551616", 10, kAny, std::nullopt, 0},
        DigitCase{"ffffffff", 16, 0xffffffff, 0xffffffff, 8},
        DigitCase{"100000000", 16, 0xffffffff, std::nullopt, 0},
        DigitCase{"256", 10, 255, std::nullopt, 0}, DigitCase{"9", 10, 5, std::nullopt, 0},
        DigitCase{"0778", 8, kAny, 077, 3}, DigitCase{"", 10, kAny, std::nullopt, 0},
        DigitCase{" 1", 10, kAny, std::nullopt, 0}, DigitCase{"+1", 10, kAny, std::nullopt, 0},
        DigitCase{"a1", 10, kAny, std::nullopt, 0}, DigitCase{"12\xb3", 10, kAny, 12, 2}));

TEST(ScanDigits, ReadsNoCharacterBeyondLatin1AsADigit) {
  // U+0661 is a digit in its own script; U+FF11 is a full-width one. Neither is ours.
  EXPECT_EQ(ScanDigits(QStringView(u"\u0661"), 10), std::nullopt);
  EXPECT_EQ(DigitsValue(QStringView(u"1\uff11"), 10), std::nullopt);
  EXPECT_EQ(ScanDigits(QStringView(u"1\u0130"), 16)->length, 1);
}

TEST(Trim, RemovesEveryCodeUpToSpaceAtBothEndsOnly) {
  EXPECT_EQ(Trim(u"\x01\t  red blue \r\n\x1f"), u"red blue");
  EXPECT_EQ(Trim(u"   "), u"");
  EXPECT_EQ(TrimLeft(u" \ta b "), u"a b ");
  EXPECT_EQ(TrimRight(u" a b\t "), u" a b");
  // U+00A0 is above 32 and stays.
  EXPECT_EQ(Trim(u"\u00a0x\u00a0"), u"\u00a0x\u00a0");
}

TEST(TextIsSame, IgnoresCaseOfWholeTextOnly) {
  EXPECT_TRUE(TextIsSame(u"Content-Length", u"content-LENGTH"));
  EXPECT_FALSE(TextIsSame(u"Content-Length", u"Content-Length "));
  EXPECT_FALSE(TextIsSame(u"Host", u"Hos"));
}

struct IndexOfCase : testsupport::NamedRow {
  QString text;
  QString part;
  qsizetype at;
};

class TextIndexOfTest : public testing::TestWithParam<IndexOfCase> {};

// The search passes over runs of 16 characters at a time, so the table places matches before,
// across and after run boundaries, and folds that lead out of ASCII and back into it.
TEST_P(TextIndexOfTest, FindsTheFirstOccurrenceAsTheCaseFreeComparisonDoes) {
  const IndexOfCase& c = GetParam();
  EXPECT_EQ(TextIndexOf(c.text, c.part), c.at);
  EXPECT_EQ(TextIndexOf(c.text, c.part),
            QStringView(c.text).indexOf(c.part, 0, Qt::CaseInsensitive));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextIndexOfTest,
    testing::Values(
        IndexOfCase{{"Parameter"}, u"text/html; Charset=utf-8"_s, u"CHARSET"_s, 11},
        IndexOfCase{{"FirstOfTwo"}, u"charset=a; CHARSET=b"_s, u"Charset"_s, 0},
        IndexOfCase{{"Absent"}, u"text/html; charse=t"_s, u"charset"_s, -1},
        IndexOfCase{{"EmptyPart"}, u"abc"_s, QString(), 0},
        IndexOfCase{{"PartLongerThanText"}, u"ab"_s, u"abc"_s, -1},
        IndexOfCase{{"AcrossARunBoundary"}, QString(13, u'x') + u"cHaRsEt"_s, u"charset"_s, 13},
        IndexOfCase{{"InTheSecondRun"}, QString(16, u'c') + u"x=1"_s, u"CX"_s, 15},
        IndexOfCase{{"AtTheVeryEnd"}, QString(40, u'y') + u"ab"_s, u"AB"_s, 40},
        IndexOfCase{{"KelvinSignInText"}, u"a\u212Aey"_s, u"KEY"_s, 1},
        IndexOfCase{{"KelvinSignInPart"}, QString(20, u'-') + u"ask"_s, u"\u212A"_s, 22},
        IndexOfCase{{"LongSInText"}, u"\u017Fet"_s, u"SET"_s, 0},
        IndexOfCase{{"AccentedLetters"}, u"caf\u00C9!"_s, u"\u00E9!"_s, 3},
        IndexOfCase{{"PairInPart"}, u"a\U00010428b"_s, u"\U00010400"_s, 1},
        IndexOfCase{{"PairInTextOnly"}, u"\U00010428k"_s, u"K"_s, 2}),
    testsupport::RowName());

TEST(TickDiff32, StaysRightAcrossTheWrap) {
  EXPECT_EQ(TickDiff32(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TickDiff32(100, 250), 150u);
}

TEST(EncodeText, WritesEachEncoding) {
  const QString text = QStringLiteral("a\u00e9\u20ac");
  EXPECT_EQ(EncodeText(text, ekUTF8), QByteArray("a\xc3\xa9\xe2\x82\xac"));
  EXPECT_EQ(EncodeText(text, ek8Bit), QByteArray("a\xe9\xac"));
  EXPECT_EQ(EncodeText(text, ekASCII), QByteArray("a??"));
  EXPECT_THROW(EncodeText(text, ekNone), EIdNoEncodingSpecified);
}

TEST(DecodeBytes, DecodesLenientlyAndKeepsTheByteOrderMark) {
  EXPECT_EQ(DecodeBytes("\xc3\xa9", -1, ekUTF8), QStringLiteral("\u00e9"));
  EXPECT_EQ(DecodeBytes("\xc3\xa9", -1, ek8Bit), QStringLiteral("\u00c3\u00a9"));
  EXPECT_EQ(DecodeBytes("\xef\xbb\xbfx", -1, ekUTF8), QStringLiteral("\ufeffx"));
  EXPECT_EQ(DecodeBytes("a\xff"
                        "b",
                        -1, ekUTF8),
            QStringLiteral("a\ufffdb"));
  EXPECT_EQ(DecodeBytes(QByteArrayView("a\0b", 3), -1, ek8Bit), QStringView(u"a\0b", 3).toString());
  EXPECT_EQ(DecodeBytes("abcdef", 3, ek8Bit), u"abc");
  EXPECT_EQ(DecodeBytes("abc", 0, ekUTF8), u"");
  EXPECT_EQ(DecodeBytes(QByteArrayView("a\0b", 3), -1, ekUTF8), QStringView(u"a\0b", 3).toString());
  EXPECT_EQ(DecodeBytes("a\xe9", -1, ekASCII), u"a?");
}

TEST(DecodeBytes, RefusesNoEncodingEvenForNoBytes) {
  try {
    DecodeBytes("", -1, ekNone);
    FAIL() << "no exception";
  } catch (const EIdNoEncodingSpecified& e) {
    EXPECT_EQ(e.Message(), u"No encoding specified.");
    EXPECT_EQ(e.ClassName(), u"EIdNoEncodingSpecified");
    EXPECT_STREQ(e.what(), "No encoding specified.");
  }
}

} // namespace

namespace {

TEST(TextToInt, DecimalSyntaxRefusesHexadecimal) {
  EXPECT_EQ(TextToInt32(u"$10", IntegerSyntax::Decimal), std::nullopt);
  EXPECT_EQ(TextToInt32(u"0x10", IntegerSyntax::Decimal), std::nullopt);
  EXPECT_EQ(TextToInt32(u"  -42", IntegerSyntax::Decimal), -42);
  EXPECT_EQ(TextToInt64Def(u"0X1f", -1, IntegerSyntax::Decimal), -1);
  EXPECT_EQ(TextToInt64(u"1234567890123", IntegerSyntax::Decimal), 1234567890123LL);
}

} // namespace
