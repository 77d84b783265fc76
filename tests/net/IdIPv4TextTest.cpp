#include "net/IdIPv4Text.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

struct ReadCase {
  const char16_t* text;
  TIdIPv4Form form;
  TIdIPv4Digits digits;
  TIdIPv4Fault fault;
  uint32_t address;
  const char16_t* failedPart;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << '"' << QString::fromUtf16(c.text).toStdString() << '"';
}

class ReadIPv4Test : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadIPv4Test, ReportsTheAddressOrTheFirstFailingPart) {
  const ReadCase& c = GetParam();
  const TIdIPv4Reading reading = ReadIPv4(QStringView(c.text), c.form, c.digits);
  EXPECT_EQ(reading.fault, c.fault);
  EXPECT_EQ(reading.address, c.address);
  EXPECT_EQ(reading.failedPart.toString(), QString::fromUtf16(c.failedPart));
}

using enum TIdIPv4Form;
using enum TIdIPv4Digits;
using enum TIdIPv4Fault;

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadIPv4Test,
    testing::Values(
        // Four bytes, and what may follow them.
        ReadCase{u"1.2.3.4.5", DottedQuadThenAnything, Integer, None, 0x01020304, u""},
        ReadCase{u"1.2.3.4.", DottedQuad, Integer, ExtraText, 0, u""},
        ReadCase{u"1.2.3", DottedQuad, Integer, NotANumber, 0, u""},
        // Parts are read from the left; the part comes back as written.
        ReadCase{u"300.x.0.0", DottedQuad, Integer, OutOfRange, 0, u"300"},
        ReadCase{u"1. x .3.4", DottedQuad, Integer, NotANumber, 0, u" x "},
        ReadCase{u"1.-1.3.4", DottedQuad, Integer, OutOfRange, 0, u"-1"},
        ReadCase{u"1.2.3.4294967296", DottedQuad, Integer, NotANumber, 0, u"4294967296"},
        ReadCase{u"$FF.0x10.+0.0", DottedQuad, Integer, None, 0xFF100000, u""},
        // Plain decimal parts.
        ReadCase{u"001.2.3.4", DottedQuadThenAnything, Decimal, None, 0x01020304, u""},
        ReadCase{u"+1.0.0.1", DottedQuadThenAnything, Decimal, NotANumber, 0, u"+1"},
        ReadCase{u"1.2.3.0x4", DottedQuadThenAnything, Decimal, NotANumber, 0, u"0x4"},
        // The classic forms: the last part fills the bytes left.
        ReadCase{u"1.2.65535", Classic, CPrefixed, None, 0x0102FFFF, u""},
        ReadCase{u"1.2.65536", Classic, CPrefixed, OutOfRange, 0, u"65536"},
        ReadCase{u"0X1F.077.9", Classic, CPrefixed, None, 0x1F3F0009, u""},
        ReadCase{u"4294967296", Classic, CPrefixed, NotANumber, 0, u"4294967296"},
        ReadCase{u"0x", Classic, CPrefixed, NotANumber, 0, u"0x"},
        ReadCase{u"0x000000000000000000000000000000001", Classic, CPrefixed, NotANumber, 0,
                 u"0x000000000000000000000000000000001"},
        ReadCase{u"1.2.3.4.5", Classic, CPrefixed, ExtraText, 0, u""}));

} // namespace
