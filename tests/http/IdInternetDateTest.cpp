#include "http/IdInternetDate.h"

#include "tests/support/NamedRow.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr double kOneMSec = 1.0 / 86400000.0;
constexpr double kHour = 1.0 / 24.0;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  const auto value = EncodeDateTime(y, mo, d, h, mi, s, ms);
  EXPECT_TRUE(value.has_value()) << y << "-" << mo << "-" << d;
  return value.value_or(0);
}

// Sets the process's TZ for one test and puts the previous value back.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      previous_ = old;
    }
    setenv("TZ", zone, 1);
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }
  Q_DISABLE_COPY(ScopedTimeZone)

private:
  std::optional<std::string> previous_;
};

// --- Day counts -----------------------------------------------------------------------------

TEST(DateTime, DayCountsFromTheEndOf1899) {
  EXPECT_EQ(At(1899, 12, 30), 0.0);
  EXPECT_EQ(At(1899, 12, 30, 12), 0.5);
  EXPECT_EQ(At(1900, 1, 1), 2.0);
  EXPECT_EQ(At(1994, 11, 6), 34644.0);
  // Before day 0 the time still runs forward from midnight.
  EXPECT_EQ(At(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(At(1, 1, 1), -693593.0);
  EXPECT_EQ(At(9999, 12, 31), 2958465.0);
}

TEST(DateTime, RefusesFieldsOutOfRange) {
  const int bad[][7] = {
      {0, 1, 1, 0, 0, 0, 0},        {10000, 1, 1, 0, 0, 0, 0},  {1994, 0, 1, 0, 0, 0, 0},
      {1994, 13, 1, 0, 0, 0, 0},    {1994, 2, 29, 0, 0, 0, 0},  {1994, 11, 31, 0, 0, 0, 0},
      {1994, 11, 6, 24, 0, 0, 0},   {1994, 11, 6, 0, 60, 0, 0}, {1994, 11, 6, 0, 0, 60, 0},
      {1994, 11, 6, 0, 0, 0, 1000}, {1994, 11, 6, -1, 0, 0, 0}};
  for (const auto& f : bad) {
    EXPECT_FALSE(EncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]).has_value())
        << f[0] << "-" << f[1] << "-" << f[2] << " " << f[3] << ":" << f[4] << ":" << f[5];
  }
  EXPECT_TRUE(EncodeDateTime(2000, 2, 29).has_value());
}

TEST(DateTime, DecodesWhatWasEncoded) {
  const int cases[][7] = {{1994, 11, 6, 8, 49, 37, 250}, {1899, 12, 29, 6, 0, 0, 0},
                          {1, 1, 1, 0, 0, 0, 0},         {9999, 12, 31, 23, 59, 59, 999},
                          {2000, 2, 29, 12, 30, 0, 1},   {1850, 6, 15, 18, 45, 30, 500}};
  for (const auto& f : cases) {
    const TDateTimeParts p = DecodeDateTime(At(f[0], f[1], f[2], f[3], f[4], f[5], f[6]));
    EXPECT_EQ((std::array{p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec}),
              (std::array{f[0], f[1], f[2], f[3], f[4], f[5], f[6]}))
        << f[0] << "-" << f[1] << "-" << f[2];
  }
}

TEST(DateTime, RoundsToTheMillisecondAcrossMidnight) {
  const TDateTimeParts p = DecodeDateTime(At(1994, 11, 6) + 1.0 - 0.4 * kOneMSec);
  EXPECT_EQ((std::array{p.day, p.hour, p.minute, p.second, p.msec}), (std::array{7, 0, 0, 0, 0}));
  // A value outside years 1 to 9999 reads as day 0 rather than as nonsense.
  const TDateTimeParts far = DecodeDateTime(1e12);
  EXPECT_EQ((std::array{far.year, far.month, far.day}), (std::array{1899, 12, 30}));
}

TEST(DateTime, TakesTheWallClockOfAMoment) {
  const QDateTime moment(QDate(1994, 11, 6), QTime(8, 49, 37, 250), QTimeZone("America/New_York"));
  EXPECT_EQ(DateTimeFromQDateTime(moment), At(1994, 11, 6, 8, 49, 37, 250));

  const TDateTime before = DateTimeFromQDateTime(QDateTime::currentDateTime());
  const TDateTime now = Now();
  const TDateTime after = DateTimeFromQDateTime(QDateTime::currentDateTime());
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

// --- Zones ----------------------------------------------------------------------------------

struct ZoneCase {
  const char* zone;
  QDateTime utc;
  double hours;
};

TEST(TimeZone, OffsetFollowsZoneAndSeason) {
  const ZoneCase cases[] = {
      {"Europe/Berlin", QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC), 2},
      {"Europe/Berlin", QDateTime(QDate(2024, 1, 15), QTime(12, 0), Qt::UTC), 1},
      {"America/New_York", QDateTime(QDate(2024, 1, 15), QTime(12, 0), Qt::UTC), -5},
      {"America/New_York", QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC), -4},
      {"Asia/Kolkata", QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC), 5.5},
      {"UTC", QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC), 0}};
  for (const ZoneCase& c : cases) {
    EXPECT_NEAR(ZoneOffsetAt(QTimeZone(c.zone), c.utc), c.hours * kHour, kOneMSec) << c.zone;
  }
}

TEST(TimeZone, LocalOffsetComesFromTheSystemZone) {
  const ScopedTimeZone zone("Asia/Kolkata");
  EXPECT_NEAR(LocalZoneOffset(), 5.5 * kHour, kOneMSec);
}

TEST(TimeZone, UnreadableZoneRaises) {
  const ScopedTimeZone zone(":/nonexistent/zone/file");
  try {
    LocalZoneOffset();
    FAIL() << "no exception";
  } catch (const EIdFailedToRetreiveTimeZoneInfo& e) {
    EXPECT_EQ(e.Message(), u"Failed attempting to retrieve time zone information.");
  }
  EXPECT_THROW(ZoneOffsetAt(QTimeZone(), QDateTime::currentDateTimeUtc()),
               EIdFailedToRetreiveTimeZoneInfo);
  EXPECT_THROW(InternetDateToLocal(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT")),
               EIdFailedToRetreiveTimeZoneInfo);
}

// --- Formatting -----------------------------------------------------------------------------

TEST(InternetDate, FormatsDayMonthAndTimeInEnglish) {
  const std::pair<TDateTime, const char*> cases[] = {
      {At(1994, 11, 6, 8, 49, 37), "Sun, 06 Nov 1994 08:49:37 GMT"},
      {At(2000, 2, 29), "Tue, 29 Feb 2000 00:00:00 GMT"},
      {At(2070, 1, 1, 23, 59, 59), "Wed, 01 Jan 2070 23:59:59 GMT"},
      {At(999, 1, 1, 1, 2, 3), "Tue, 01 Jan 0999 01:02:03 GMT"},
      {-1.25, "Fri, 29 Dec 1899 06:00:00 GMT"},
      {At(1994, 11, 6, 23, 59, 59, 999) + 0.6 * kOneMSec, "Mon, 07 Nov 1994 00:00:00 GMT"}};
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(FormatInternetDate(value), QString::fromLatin1(text));
  }
}

// --- Parsing --------------------------------------------------------------------------------

struct ParseCase : testsupport::NamedRow {
  QString text;
  TDateTime expected;
  QString rest;
};

class ParseInternetDateTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseInternetDateTest, ReadsDateTimeAndLeavesTheZone) {
  const ParseCase& c = GetParam();
  QString text = c.text;
  EXPECT_NEAR(ParseInternetDate(text), c.expected, kOneMSec);
  if (c.expected != 0) {
    EXPECT_EQ(text, c.rest);
  }
}

const TDateTime kSample = 34644.0 + (8 * 3600 + 49 * 60 + 37) / 86400.0;

INSTANTIATE_TEST_SUITE_P(
    Table, ParseInternetDateTest,
    testing::Values(
        ParseCase{"Rfc1123", "Sun, 06 Nov 1994 08:49:37 GMT", kSample, "GMT"},
        ParseCase{"Rfc850", "Sunday, 06-Nov-94 08:49:37 GMT", kSample, "GMT"},
        ParseCase{"Asctime", "Sun Nov  6 08:49:37 1994", kSample, ""},
        ParseCase{"NoSpaceAfterComma", "Sun,06 Nov 1994 08:49:37 GMT", kSample, "GMT"},
        ParseCase{"AnyCase", "sUN, 06 nOV 1994 08:49:37 gmt", kSample, "gmt"},
        ParseCase{"NoDayName", "  06 Nov 1994 08:49:37 +0200  ", kSample, "+0200"},
        ParseCase{"MonthFirstDashed", "Nov-06-1994 08:49:37", kSample, ""},
        ParseCase{"NoSeconds", "Sun, 06 Nov 1994 08:49 GMT", kSample - 37 / 86400.0, "GMT"},
        ParseCase{"NoTime", "06 Nov 1994", 34644.0, ""},
        ParseCase{"TwoDigitYearBelow80", "Thursday, 01-Jan-70 00:00:00 GMT", 62094.0, "GMT"},
        ParseCase{"TwoDigitYear99", "Friday, 31-Dec-99 23:59:59 GMT", 36525.0 + 86399 / 86400.0,
                  "GMT"},
        ParseCase{"TwoDigitYear00", "Sat, 01-Jan-00 00:00:00 GMT", 36526.0, "GMT"},
        // 1900 is a year like any other, not a sign that the time came first.
        ParseCase{"Year1900KeepsItsTime", "Mon, 01 Jan 1900 12:00:00 +0200", 2.5, "+0200"},
        ParseCase{"Year1900Asctime", "Mon Jan  1 12:00:00 1900", 2.5, ""},
        ParseCase{"UnreadableYearFallsBackTo1900", "Mon, 01 Jan 19x0 12:00:00 GMT", 2.0, "19x0"},
        ParseCase{"PM", "Sun, 06 Nov 1994 08:49:37 PM", kSample + 0.5, ""},
        ParseCase{"PMNoon", "06 Nov 1994 12:30:00 PM", 34644.5 + 30 / 1440.0, ""},
        ParseCase{"AMMidnight", "06 Nov 1994 12:30:00 AM", 34644.0 + 30 / 1440.0, ""},
        ParseCase{"Empty", "", 0, ""}, ParseCase{"Blank", "  \t ", 0, ""},
        ParseCase{"Garbage", "garbage", 0, ""},
        ParseCase{"UnknownMonth", "Sun, 06 Foo 1994 08:49:37 GMT", 0, ""},
        ParseCase{"NoSuchDay", "Sun, 31 Feb 1994 08:49:37 GMT", 0, ""},
        ParseCase{"HourTooLarge", "Sun, 06 Nov 1994 25:00:00 GMT", 0, ""},
        ParseCase{"YearTooLarge", "Sun, 06 Nov 19940 08:49:37 GMT", 0, ""}),
    testsupport::RowName());

TEST(InternetDate, ParsesWhatItFormats) {
  for (const TDateTime value :
       {At(1994, 11, 6, 8, 49, 37), At(2000, 2, 29), At(1980, 1, 1), At(2038, 1, 19, 3, 14, 8),
        At(9999, 12, 31, 23, 59, 59), At(1900, 6, 30, 18, 30, 5)}) {
    QString text = FormatInternetDate(value);
    EXPECT_NEAR(ParseInternetDate(text), value, kOneMSec)
        << FormatInternetDate(value).toStdString();
    EXPECT_EQ(text, u"GMT");
  }
}

// --- To local time --------------------------------------------------------------------------

TEST(InternetDate, ToLocalSubtractsTheWrittenZoneAndAddsTheLocalOne) {
  const ScopedTimeZone zone("Europe/Berlin");
  const TDateTime local = LocalZoneOffset();
  const TDateTime gmt = InternetDateToLocal(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT"));
  EXPECT_NEAR(gmt, kSample + local, kOneMSec);

  const std::pair<const char*, double> zones[] = {
      {"Sun, 06 Nov 1994 08:49:37 +0200", -2}, {"Sun, 06 Nov 1994 08:49:37 -0530", 5.5},
      {"Sun, 06 Nov 1994 08:49:37 +0000", 0},  {"Sun, 06 Nov 1994 08:49:37 UTC", 0},
      {"Sun, 06 Nov 1994 08:49:37 +02", 0},    {"Sun, 06 Nov 1994 08:49:37 +2500", 0},
      {"Sun, 06 Nov 1994 08:49:37 +01x0", 0},  {"Sun Nov  6 08:49:37 1994", 0}};
  for (const auto& [text, hours] : zones) {
    EXPECT_NEAR(InternetDateToLocal(QString::fromLatin1(text)), gmt + hours * kHour, kOneMSec)
        << text;
  }
}

TEST(InternetDate, ToLocalOfATextReadBeforeFollowsTheZoneOfNow) {
  // More texts than are remembered, read twice over in two zones: every reading must give the
  // written moment in the zone of the reading, whichever texts were read before.
  const QStringList texts = {
      "Sun, 06 Nov 1994 08:49:37 GMT",   "Sun, 06 Nov 1994 08:49:37 +0200",
      "Mon, 07 Nov 1994 08:49:37 GMT",   "Sun, 06 Nov 1994 09:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 -0530", "Sun Nov  6 08:49:37 1994",
  };
  const double hoursAfterSample[] = {0, -2, 24, 1, 5.5, 0};
  for (const char* name : {"Asia/Kolkata", "Europe/Berlin"}) {
    const ScopedTimeZone zone(name);
    const TDateTime local = LocalZoneOffset();
    for (int round = 0; round < 2; ++round) {
      for (qsizetype i = 0; i < texts.size(); ++i) {
        EXPECT_NEAR(InternetDateToLocal(texts[i]), kSample + hoursAfterSample[i] * kHour + local,
                    kOneMSec)
            << name << " " << texts[i].toStdString() << " round " << round;
      }
    }
  }
}

TEST(InternetDate, ToLocalOfEmptyTextIsZeroButOfGarbageIsTheZoneOffset) {
  const ScopedTimeZone zone("Asia/Kolkata");
  EXPECT_EQ(InternetDateToLocal(QString()), 0.0);
  EXPECT_NEAR(InternetDateToLocal(QStringLiteral("garbage")), 5.5 * kHour, kOneMSec);
}

} // namespace
