#include "http/IdInternetDate.h"

#include "http/IdHeaderList.h"
#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <QDate>
#include <QTimeZone>

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kMSecsPerDay = 86400000;
constexpr int kMinutesPerDay = 1440;
constexpr double kSecondsPerDay = 86400.0;

// Julian day number of day 0 (1899-12-30), and the day counts of the first and last days a
// TDateTime covers (0001-01-01 and 9999-12-31).
constexpr qint64 kEpochJulianDay = 2415019;
constexpr qint64 kFirstDay = -693593;
constexpr qint64 kLastDay = 2958465;

constexpr std::array<const char*, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A day count and a time of day as one TDateTime; the time counts forward from midnight on
// either side of day 0.
TDateTime Combine(qint64 days, qint64 msecOfDay) {
  const double time = double(msecOfDay) / double(kMSecsPerDay);
  return days >= 0 ? double(days) + time : double(days) - time;
}

bool IsName(QStringView text, const char* name) {
  const QLatin1StringView latin(name);
  return text.size() == latin.size() && text.compare(latin, Qt::CaseInsensitive) == 0;
}

bool IsDayName(QStringView text) {
  for (const char* name : kDayNames) {
    if (IsName(text, name))
      return true;
  }
  return false;
}

// 1..12 for a three-letter English month name in any case, 0 for anything else.
int MonthOf(QStringView text) {
  for (int i = 0; i < 12; ++i) {
    if (IsName(text, kMonthNames[i]))
      return i + 1;
  }
  return 0;
}

// The offset written after a time ("+0200", "-0530") in days, east positive; 0 for anything
// else.
TDateTime WrittenZoneOffset(QStringView rest) {
  if (rest.size() <= 4)
    return 0;
  const QString zone = Trim(rest.left(5));
  if (!zone.startsWith(u'+') && !zone.startsWith(u'-'))
    return 0;
  const auto hours = TextToInt32(QStringView(zone).mid(1, 2), IntegerSyntax::Decimal);
  const auto minutes = TextToInt32(QStringView(zone).mid(3, 2), IntegerSyntax::Decimal);
  if (!hours || !minutes || *hours < 0 || *hours > 23 || *minutes < 0 || *minutes > 59)
    return 0;
  const TDateTime offset = double(*hours * 60 + *minutes) / kMinutesPerDay;
  return zone.startsWith(u'-') ? -offset : offset;
}

} // namespace

// --- Day counts and calendar fields -------------------------------------------------------------

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int msec) {
  if (year < 1 || year > 9999 || !QDate::isValid(year, month, day))
    return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return std::nullopt;
  const qint64 days = QDate(year, month, day).toJulianDay() - kEpochJulianDay;
  return Combine(days, ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + msec);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  qint64 days = 0;
  qint64 msec = 0;
  if (std::isfinite(value) && value > double(kFirstDay - 1) && value < double(kLastDay + 1)) {
    const double whole = std::trunc(value);
    days = qint64(whole);
    msec = std::llround(std::abs(value - whole) * double(kMSecsPerDay));
    if (msec >= kMSecsPerDay) { // rounded up to the next midnight
      msec -= kMSecsPerDay;
      ++days;
    }
    if (days > kLastDay) {
      days = 0;
      msec = 0;
    }
  }
  const QDate date = QDate::fromJulianDay(kEpochJulianDay + days);
  TDateTimeParts parts;
  parts.year = date.year();
  parts.month = date.month();
  parts.day = date.day();
  parts.dayOfWeek = date.dayOfWeek();
  parts.hour = int(msec / 3600000);
  parts.minute = int(msec / 60000 % 60);
  parts.second = int(msec / 1000 % 60);
  parts.msec = int(msec % 1000);
  return parts;
}

TDateTime DateTimeFromQDateTime(const QDateTime& moment) {
  return Combine(moment.date().toJulianDay() - kEpochJulianDay,
                 moment.time().msecsSinceStartOfDay());
}

TDateTime Now() {
  return DateTimeFromQDateTime(QDateTime::currentDateTime());
}

TDateTime UtcNow() {
  // Straight from the clock: the local time less the zone's offset is the same moment, but
  // asking for the local time makes the system look at its zone files on every call, and the
  // cookie store asks once per request.
  return DateTimeFromQDateTime(QDateTime::currentDateTimeUtc());
}

TDateTime SecondsToDays(double seconds) noexcept {
  return seconds / kSecondsPerDay;
}

int64_t DaysToSeconds(TDateTime days) noexcept {
  const double seconds = std::trunc(days * kSecondsPerDay);
  // 2^63 is exact as a double; anything at or past it (or NaN) has no 64-bit value.
  constexpr double kEdge = 9223372036854775808.0;
  if (!(seconds < kEdge)) {
    return std::isnan(seconds) ? 0 : std::numeric_limits<int64_t>::max();
  }
  return seconds < -kEdge ? std::numeric_limits<int64_t>::min() : int64_t(seconds);
}

// --- Time zones ---------------------------------------------------------------------------------

TDateTime ZoneOffsetAt(const QTimeZone& zone, const QDateTime& moment) {
  if (!zone.isValid())
    throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo());
  return double(zone.offsetFromUtc(moment)) / 86400.0;
}

namespace {

// Finding out which zone the system is set to reads files and costs microseconds, and a response
// carries up to three dates. The zone is looked up again whenever TZ changes and at least once
// a second, so a change of the system's zone shows within a second.
QTimeZone SystemZone() {
  struct Cache {
    bool filled = false;
    QByteArray tz;
    uint32_t readAt = 0;
    QTimeZone zone;
  };
  thread_local Cache cache;
  QByteArray tz = qgetenv("TZ");
  const uint32_t now = Ticks32();
  if (!cache.filled || tz != cache.tz || TickDiff32(cache.readAt, now) >= 1000) {
    cache.zone = QTimeZone::systemTimeZone();
    cache.tz = std::move(tz);
    cache.readAt = now;
    cache.filled = true;
  }
  return cache.zone;
}

} // namespace

TDateTime LocalZoneOffset() {
  return ZoneOffsetAt(SystemZone(), QDateTime::currentDateTimeUtc());
}

// --- Internet dates -----------------------------------------------------------------------------

QString FormatInternetDate(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return QString::asprintf("%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kDayNames[p.dayOfWeek - 1], p.day,
                           kMonthNames[p.month - 1], p.year, p.hour, p.minute, p.second);
}

TDateTime ParseInternetDate(QString& text) {
  text = Trim(text);
  if (text.isEmpty())
    return 0;

  // A leading day name goes, whatever its length ("Sun," or "Sunday,").
  if (IsDayName(QStringView(text).left(3))) {
    if (text.size() >= 4 && text[3] == u',' && (text.size() < 5 || text[4] != u' '))
      text.insert(4, u' ');
    FetchField(text, u" ");
    text = TrimLeft(text);
  }

  // "06-Nov-94" separates its date fields by dashes, the other two forms by spaces.
  const qsizetype space = text.indexOf(u' ');
  const qsizetype dash = text.indexOf(u'-', 1);
  const QStringView separator = dash >= 0 && (space < 0 || dash < space) ? u"-" : u" ";

  int day = 1;
  int month = 0;
  const QString first = FetchField(text, separator);
  text = TrimLeft(text);
  month = MonthOf(first);
  if (month > 0) {
    day = TextToInt32Def(FetchField(text, separator), 1, IntegerSyntax::Decimal);
  } else {
    day = TextToInt32Def(first, 1, IntegerSyntax::Decimal);
    month = MonthOf(FetchField(text, separator));
  }
  text = TrimLeft(text);

  // The asctime form puts the time before the year: when the next field is no number, the
  // year is what remains. A field that reads as a year, 1900 included, is the year.
  const QString yearField = FetchField(text, u" ");
  int year = 0;
  if (const auto written = TextToInt32(yearField, IntegerSyntax::Decimal)) {
    year = *written;
  } else {
    year = TextToInt32Def(text, 1900, IntegerSyntax::Decimal);
    text = yearField;
  }
  if (year < 80)
    year += 2000;
  else if (year <= 99)
    year += 1900;
  if (!EncodeDateTime(year, month, day))
    return 0;

  bool am = false;
  bool pm = false;
  if (const qsizetype at = text.indexOf(u"AM"); at >= 0) {
    text.truncate(at);
    am = true;
  }
  if (const qsizetype at = text.indexOf(u"PM"); at >= 0) {
    text.truncate(at);
    pm = true;
  }

  int hour = 0;
  int minute = 0;
  int second = 0;
  if (text.contains(u':')) {
    QString time = FetchField(text, u" ");
    hour = TextToInt32Def(FetchField(time, u":"), 0, IntegerSyntax::Decimal);
    minute = TextToInt32Def(FetchField(time, u":"), 0, IntegerSyntax::Decimal);
    second = TextToInt32Def(time, 0, IntegerSyntax::Decimal);
    text = TrimLeft(text);
    if (am && hour == 12)
      hour = 0;
    if (pm && hour < 12)
      hour += 12;
  }
  text = TrimLeft(text);
  return EncodeDateTime(year, month, day, hour, minute, second).value_or(0);
}

TDateTime InternetDateToLocal(const QString& text) {
  if (text.isEmpty())
    return 0;
  // A kept connection brings the same dates again and again (Last-Modified always, Date within
  // the second): the moment a text names is kept for the last few texts, and only the local
  // zone's offset, which may change, is asked for every time.
  struct Parsed {
    QString text;
    TDateTime utc = 0;
  };
  thread_local std::array<Parsed, 4> recent;
  thread_local size_t next = 0;
  for (const Parsed& parsed : recent) {
    if (!parsed.text.isNull() && parsed.text == text)
      return parsed.utc + LocalZoneOffset();
  }
  QString rest = text;
  const TDateTime written = ParseInternetDate(rest);
  const TDateTime utc = written - WrittenZoneOffset(rest);
  // Only texts of a date's size are kept: a peer's long value is not held past its response.
  if (text.size() <= 64) {
    recent[next] = Parsed{text, utc};
    next = (next + 1) % recent.size();
  }
  return utc + LocalZoneOffset();
}
