#pragma once

// What every fuzz target shares: turning the input into text, and checks that stop the run with
// the failed condition named, so that libFuzzer keeps the input that broke it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Stops the run when cond does not hold. Unlike assert, it stays on in optimised builds.
#define FUZZ_CHECK(cond)                                                                           \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);           \
      std::abort();                                                                                \
    }                                                                                              \
  } while (false)

// Byte n as U+00nn: how header lines come off the wire.
inline QString Latin1Text(const uint8_t* data, size_t size) {
  return QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The bytes read as UTF-8, malformed sequences as U+FFFD: how a user's or a page's text looks.
inline QString Utf8Text(const uint8_t* data, size_t size) {
  return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Whether text has a character whose code is 32 or less at either end (what Trim removes).
inline bool HasUntrimmedEnds(const QString& text) {
  return !text.isEmpty() && (text.front().unicode() <= 32 || text.back().unicode() <= 32);
}

// Dates are read as local time and written as they stand: with the zone pinned to UTC, a date
// written and read back must come out the same, whatever zone the machine is in.
inline void PinTimeZoneToUtc() {
  setenv("TZ", "UTC", 1);
}
