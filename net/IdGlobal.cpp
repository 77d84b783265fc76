#include "net/IdGlobal.h"

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

// The value of c as a digit of base, or base itself when it is none.
constexpr unsigned DigitOf(char16_t c, unsigned base) noexcept {
  unsigned digit = base;
  if (c >= u'0' && c <= u'9') {
    digit = c - u'0';
  } else if (c >= u'a' && c <= u'z') {
    digit = c - u'a' + 10;
  } else if (c >= u'A' && c <= u'Z') {
    digit = c - u'A' + 10;
  }
  return digit < base ? digit : base;
}

// The code of one character of either kind of text; a byte reads as its unsigned value.
constexpr char16_t CodeOf(QChar c) noexcept {
  return c.unicode();
}
constexpr char16_t CodeOf(char c) noexcept {
  return uint8_t(c);
}

template <typename View>
std::optional<TIdDigitRun> ScanDigitsOf(View text, unsigned base, uint64_t max) noexcept {
  TIdDigitRun run;
  for (const qsizetype n = text.size(); run.length < n; ++run.length) {
    const unsigned digit = DigitOf(CodeOf(text[run.length]), base);
    if (digit == base) {
      break;
    }
    // Stop before the number passes max: value * base + digit <= max.
    if (digit > max || run.value > (max - digit) / base) {
      return std::nullopt;
    }
    run.value = run.value * base + digit;
  }
  if (run.length == 0) {
    return std::nullopt;
  }
  return run;
}

template <typename Int> std::optional<Int> ParseInteger(QStringView text, IntegerSyntax syntax) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == u' ') {
    ++i;
  }
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  unsigned base = 10;
  const bool hexAllowed = syntax == IntegerSyntax::DecimalOrHex;
  if (hexAllowed && i < n && text[i] == u'$') {
    base = 16;
    ++i;
  } else if (hexAllowed && i + 1 < n && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  // The magnitude may reach one past the largest value only when it is negative.
  using Wide = std::make_unsigned_t<Int>;
  const Wide limit = Wide(std::numeric_limits<Int>::max()) + (negative ? 1 : 0);
  const std::optional<uint64_t> magnitude = DigitsValue(text.sliced(i), base, limit);
  if (!magnitude) {
    return std::nullopt;
  }
  const auto value = Wide(*magnitude);
  if (negative) {
    return value == limit ? std::numeric_limits<Int>::min() : Int(-Int(value));
  }
  return Int(value);
}

// Whether every byte is below 128. No early way out: the loop is one that vectorises.
bool IsAscii(QByteArrayView bytes) noexcept {
  unsigned char seen = 0;
  for (const char b : bytes) {
    seen |= static_cast<unsigned char>(b);
  }
  return seen < 0x80;
}

} // namespace

std::optional<TIdDigitRun> ScanDigits(QStringView text, unsigned base, uint64_t max) noexcept {
  return ScanDigitsOf(text, base, max);
}

std::optional<TIdDigitRun> ScanDigits(QByteArrayView text, unsigned base, uint64_t max) noexcept {
  return ScanDigitsOf(text, base, max);
}

std::optional<uint64_t> DigitsValue(QStringView text, unsigned base, uint64_t max) noexcept {
  const std::optional<TIdDigitRun> run = ScanDigits(text, base, max);
  if (!run || run->length != text.size()) {
    return std::nullopt;
  }
  return run->value;
}

QString Trim(QStringView text) {
  return TrimView(text).toString();
}

QStringView TrimView(QStringView text) noexcept {
  qsizetype start = 0;
  qsizetype end = text.size();
  while (start < end && IsTrimmable(text[start])) {
    ++start;
  }
  while (end > start && IsTrimmable(text[end - 1])) {
    --end;
  }
  return text.sliced(start, end - start);
}

QString TrimLeft(QStringView text) {
  qsizetype start = 0;
  while (start < text.size() && IsTrimmable(text[start])) {
    ++start;
  }
  return text.mid(start).toString();
}

QString TrimRight(QStringView text) {
  qsizetype end = text.size();
  while (end > 0 && IsTrimmable(text[end - 1])) {
    --end;
  }
  return text.left(end).toString();
}

std::optional<int32_t> TextToInt32(QStringView text, IntegerSyntax syntax) {
  return ParseInteger<int32_t>(text, syntax);
}

std::optional<int64_t> TextToInt64(QStringView text, IntegerSyntax syntax) {
  return ParseInteger<int64_t>(text, syntax);
}

int32_t TextToInt32Def(QStringView text, int32_t fallback, IntegerSyntax syntax) {
  return TextToInt32(text, syntax).value_or(fallback);
}

int64_t TextToInt64Def(QStringView text, int64_t fallback, IntegerSyntax syntax) {
  return TextToInt64(text, syntax).value_or(fallback);
}

QStringList SplitLines(QStringView text) {
  QStringList lines;
  const qsizetype n = text.size();
  qsizetype start = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c != u'\r' && c != u'\n') {
      continue;
    }
    lines.append(text.sliced(start, i - start).toString());
    if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
      ++i;
    }
    start = i + 1;
  }
  if (start < n) {
    lines.append(text.sliced(start).toString());
  }
  return lines;
}

bool TextIsSame(QStringView a, QStringView b) {
  return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

qsizetype TextIndexOf(QStringView text, QStringView part) {
  if (part.isEmpty()) {
    return 0;
  }
  // The general search folds through a table for every character it passes, which costs more
  // than the rest of reading a long header value. The same simple folding is done here with
  // ASCII, the common case, folded by arithmetic.
  const auto fold = [](char16_t c) -> char32_t {
    if (c < 0x80) {
      return (c >= u'A' && c <= u'Z') ? char32_t(c + (u'a' - u'A')) : char32_t(c);
    }
    return QChar::toCaseFolded(char32_t(c));
  };
  QVarLengthArray<char32_t, 32> folded;
  for (const QChar c : part) {
    if (c.isSurrogate()) {
      // A pair folds as one character: leave that to the general search.
      return text.indexOf(part, 0, Qt::CaseInsensitive);
    }
    folded.append(fold(c.unicode()));
  }
  // A unit of a pair in the text never matches here, nor in the general search: characters
  // beyond the first plane fold only to characters beyond it.
  const qsizetype last = text.size() - part.size();
  const char16_t* units = text.utf16();
  // What may stand at a place of the match: the part's character folded, its upper case, or
  // anything beyond ASCII (which may fold to either).
  struct Unit {
    char16_t folded;
    char16_t upper;
  };
  const auto unitOf = [&](qsizetype j) {
    const char16_t f = folded[j] < 0x80 ? char16_t(folded[j]) : char16_t(0xFFFF);
    return Unit{f, (f >= u'a' && f <= u'z') ? char16_t(f - (u'a' - u'A')) : f};
  };
  const Unit head = unitOf(0);
  // The second character sharpens the test over runs: without it a common first letter
  // would stop the pass in most runs.
  const Unit next = part.size() > 1 ? unitOf(1) : head;
  const qsizetype nextAt = part.size() > 1 ? 1 : 0;
  const auto may = [](char16_t c, Unit u) {
    return unsigned(c == u.folded) | unsigned(c == u.upper) | unsigned(c >= 0x80);
  };
  const auto matchesAt = [&](qsizetype at) {
    for (qsizetype j = 0; j < part.size(); ++j) {
      if (fold(units[at + j]) != folded[j]) {
        return false;
      }
    }
    return true;
  };
  // Runs of a fixed length where no place may begin a match are passed over whole: the test
  // has no branch and a known count, so the compiler makes it on many characters at once.
  constexpr qsizetype kRun = 16;
  qsizetype i = 0;
  for (; i + kRun <= last + 1; i += kRun) {
    unsigned maybe = 0;
    for (qsizetype k = i; k < i + kRun; ++k) {
      maybe |= may(units[k], head) & may(units[k + nextAt], next);
    }
    if (maybe == 0) {
      continue;
    }
    for (qsizetype k = i; k < i + kRun; ++k) {
      if (matchesAt(k)) {
        return k;
      }
    }
  }
  for (; i <= last; ++i) {
    if (matchesAt(i)) {
      return i;
    }
  }
  return -1;
}

uint32_t Ticks32() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

QByteArray EncodeText(QStringView text, TextEncodingKind encoding) {
  switch (encoding) {
  case ekUTF8:
    return text.toUtf8();
  case ek8Bit: {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
      bytes[i] = static_cast<char>(text[i].unicode() & 0xFF);
    }
    return bytes;
  }
  case ekASCII: {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
      const char16_t c = text[i].unicode();
      bytes[i] = c < 0x80 ? static_cast<char>(c) : '?';
    }
    return bytes;
  }
  case ekNone:
    break;
  }
  throw EIdNoEncodingSpecified(RSNoEncodingSpecified());
}

QString DecodeBytes(QByteArrayView bytes, qsizetype count, TextEncodingKind encoding) {
  if (encoding == ekNone) {
    throw EIdNoEncodingSpecified(RSNoEncodingSpecified());
  }
  qsizetype n = bytes.size();
  if (count >= 0 && count < n) {
    n = count;
  }
  if (n < 1) {
    return {};
  }
  const QByteArrayView part = bytes.first(n);
  switch (encoding) {
  case ekUTF8: {
    // Protocol text is nearly always ASCII, where UTF-8 and Latin-1 read the same; the decoder's
    // setting up would otherwise cost more than a short line's decoding.
    if (IsAscii(part)) {
      return QString::fromLatin1(part);
    }
    // A leading byte-order mark is text like any other here: keep it as U+FEFF.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                     QStringConverter::Flag::Stateless);
    return decoder.decode(part);
  }
  case ek8Bit:
    return QString::fromLatin1(part);
  case ekASCII: {
    QString text(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(part[i]);
      text[i] = b < 0x80 ? QChar(b) : QChar(u'?');
    }
    return text;
  }
  case ekNone:
    break;
  }
  return {};
}
