// Dates in "Date", "Expires" and "Last-Modified" values and in cookie expiries. Reading never
// fails and gives a finite day count inside the calendar or 0; a date read, written back and
// read again is the same moment; the zone correction moves a date by at most a day.
//
// Input: the date text as 8-bit characters.

#include "fuzz/FuzzSupport.h"
#include "http/IdInternetDate.h"

#include <cmath>

namespace {

// 0001-01-01 and 9999-12-31 23:59:59 as day counts.
constexpr TDateTime kFirstMoment = -693593.0 - 0.99999;
constexpr TDateTime kLastMoment = 2958466.0;

void CheckParse(const QString& text) {
  QString rest = text;
  const TDateTime value = ParseInternetDate(rest);
  FUZZ_CHECK(std::isfinite(value));
  FUZZ_CHECK(value >= kFirstMoment && value < kLastMoment);
  FUZZ_CHECK(rest.size() <= text.size() + 1); // one space may go in after "Sun,"
  if (value != 0) {
    FUZZ_CHECK(!HasUntrimmedEnds(rest.left(1)));
  }

  const TDateTimeParts parts = DecodeDateTime(value);
  FUZZ_CHECK(parts.msec == 0); // the forms carry whole seconds
  // Two-digit years and years below 100 are read into 1980..2079: those cannot come back.
  if (value != 0 && parts.year >= 100) {
    QString written = FormatInternetDate(value);
    FUZZ_CHECK(ParseInternetDate(written) == value);
    FUZZ_CHECK(written == u"GMT");
  }

  const TDateTime local = InternetDateToLocal(text);
  FUZZ_CHECK(std::isfinite(local));
  if (!text.isEmpty()) {
    FUZZ_CHECK(std::abs(local - value) < 1.0);
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PinTimeZoneToUtc();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckParse(Latin1Text(data, size));
  return 0;
}
