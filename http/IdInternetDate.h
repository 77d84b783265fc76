#pragma once

// Dates as the program holds them and as HTTP headers write them.
//
// A TDateTime is a count of days since 1899-12-30 00:00 in local time: the whole part is the
// date, the fraction the time of day. Before that day the whole part is negative and the
// fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00). Every conversion
// between this count and calendar fields lives here.

#include "net/IdException.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

using TDateTime = double;

// The system's time zone could not be read.
MARQUELO_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException)

// Calendar and clock fields of a TDateTime.
struct TDateTimeParts {
  int year = 0;
  int month = 0; // 1..12
  int day = 0;   // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int msec = 0;
  int dayOfWeek = 0; // 1 = Monday .. 7 = Sunday
};

// The day count of a calendar date and a time of day; nothing when a field is out of range
// (year 1..9999, a day that exists in that month, hour 0..23, minute and second 0..59, msec
// 0..999).
std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                                        int second = 0, int msec = 0);
// The calendar and clock fields of a day count, the time rounded to the millisecond.
TDateTimeParts DecodeDateTime(TDateTime value);
// The day count of the wall-clock date and time that moment shows in its own time zone.
TDateTime DateTimeFromQDateTime(const QDateTime& moment);
// The current local date and time.
TDateTime Now();
// The current UTC time as a day count: the clock cookie expiries are compared with. Reads no
// time zone.
TDateTime UtcNow();
// A span of seconds as a span of days, and a span of days as whole seconds, cut toward zero
// (a span too large for 64 bits saturates; not a number gives 0).
TDateTime SecondsToDays(double seconds) noexcept;
int64_t DaysToSeconds(TDateTime days) noexcept;

// How far local time is ahead of UTC now, in days (negative west of Greenwich), from the
// system time zone. The zone is looked up again when TZ changes, else at most once a second
// per thread. Raises EIdFailedToRetreiveTimeZoneInfo when the zone cannot be read.
TDateTime LocalZoneOffset();
// The same for a given zone at a given moment. Raises EIdFailedToRetreiveTimeZoneInfo when zone
// is not valid.
TDateTime ZoneOffsetAt(const QTimeZone& zone, const QDateTime& moment);

// "Sun, 06 Nov 1994 08:49:37 GMT": English day and month names, the time of day to the second.
// The value is written as it stands; no conversion from local time to UTC takes place.
QString FormatInternetDate(TDateTime value);

// Reads a date in any of the three HTTP forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday,
// 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"), with AM/PM and two-digit years, as the
// date and time written, without zone correction. Leaves in text what follows the time (normally
// the zone), left-trimmed. Returns 0 for an empty text and for anything that is not a valid
// date and time. Raises nothing.
TDateTime ParseInternetDate(QString& text);

// ParseInternetDate of text corrected from the zone written after the time ("+hhmm"/"-hhmm";
// anything else, such as "GMT", counts as UTC) to local time. Returns 0 for an empty text; a
// text that does not parse still gets the zone correction applied to 0. Raises
// EIdFailedToRetreiveTimeZoneInfo when the local zone cannot be read.
TDateTime InternetDateToLocal(const QString& text);
