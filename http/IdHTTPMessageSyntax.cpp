#include "http/IdHTTPMessageSyntax.h"

#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

bool NeedsEncodingInTarget(char16_t c) {
  if (c < 0x21 || c >= 0x7F) {
    return true;
  }
  constexpr QStringView kUnsafe = u"\"<>\\^`{|}";
  return kUnsafe.contains(QChar(c));
}

// The text with each surrogate that is not part of a pair replaced by U+FFFD, which UTF-8
// can carry.
QString WithoutLoneSurrogates(QStringView text) {
  QString result = text.toString();
  for (qsizetype i = 0; i < result.size(); ++i) {
    if (result[i].isHighSurrogate() && i + 1 < result.size() && result[i + 1].isLowSurrogate()) {
      ++i;
    } else if (result[i].isSurrogate()) {
      result[i] = QChar::ReplacementCharacter;
    }
  }
  return result;
}

// Where the first CR or LF of a line is, or -1.
qsizetype FirstLineBreakIn(QStringView line) {
  const auto at =
      std::find_if(line.begin(), line.end(), [](QChar c) { return c == u'\r' || c == u'\n'; });
  return at == line.end() ? -1 : at - line.begin();
}

constexpr QStringView kFramingNames[] = {u"Transfer-Encoding", u"Content-Length", u"Connection"};

} // namespace

QString EncodeRequestTarget(QStringView target) {
  if (std::none_of(target.begin(), target.end(),
                   [](QChar c) { return NeedsEncodingInTarget(c.unicode()); })) {
    return target.toString();
  }
  QString encoded;
  encoded.reserve(target.size() * 3);
  qsizetype i = 0;
  while (i < target.size()) {
    if (!NeedsEncodingInTarget(target[i].unicode())) {
      encoded += target[i++];
      continue;
    }
    // A run at a time, so that a surrogate pair reaches the UTF-8 encoder whole.
    const qsizetype start = i;
    while (i < target.size() && NeedsEncodingInTarget(target[i].unicode())) {
      ++i;
    }
    const QByteArray bytes = WithoutLoneSurrogates(target.sliced(start, i - start)).toUtf8();
    for (const char byte : bytes) {
      encoded += u'%';
      encoded += QString::number(uint8_t(byte), 16).rightJustified(2, u'0').toUpper();
    }
  }
  return encoded;
}

int32_t StatusCodeOf(QStringView statusLine) {
  const qsizetype space = statusLine.indexOf(u' ');
  if (space < 0) {
    return -1;
  }
  const QStringView rest = TrimView(statusLine.sliced(space + 1));
  // The code is read as every protocol number is: decimal digits, an optional sign before them.
  return TextToInt32(rest.left(rest.indexOf(u' ')), IntegerSyntax::Decimal).value_or(-1);
}

std::optional<int64_t> ChunkSizeOf(QByteArrayView sizeLine) {
  // One pass over the bytes, as the line is read once per chunk: the blanks around the size are
  // what trimming the line as text would remove.
  const qsizetype n = sizeLine.size();
  qsizetype i = 0;
  while (i < n && IsTrimmable(sizeLine[i])) {
    ++i;
  }
  // Hexadecimal digits in either case, the number no more than a signed 64-bit count can hold.
  const std::optional<TIdDigitRun> size =
      ScanDigits(sizeLine.sliced(i), 16, uint64_t(std::numeric_limits<int64_t>::max()));
  if (!size) {
    return std::nullopt;
  }
  i += size->length;
  // The size ends at a ";" or a space; only blanks may stand between it and that, or the end.
  for (; i < n && sizeLine[i] != ' '; ++i) {
    if (sizeLine[i] == ';') {
      break;
    }
    if (!IsTrimmable(sizeLine[i])) {
      return std::nullopt;
    }
  }
  return int64_t(size->value);
}

bool ResponseHasNoBody(QStringView verb, int32_t code) {
  return verb == u"HEAD" || code / 100 == 1 || code == 204 || code == 304;
}

bool EndsInChunked(QStringView transferEncoding) {
  const qsizetype comma = transferEncoding.lastIndexOf(u',');
  return TextIsSame(Trim(transferEncoding.sliced(comma + 1)), u"chunked");
}

std::optional<QString> SoleContentLength(const QStringList& values) {
  std::optional<QString> length;
  for (const QString& value : values) {
    for (const QStringView item : QStringView(value).split(u',')) {
      QString trimmed = Trim(item);
      if (length && *length != trimmed) {
        throw EIdHTTPFramingError(RSHTTPContentLengthConflict());
      }
      length = std::move(trimmed);
    }
  }
  return length;
}

bool IsFramingLine(QStringView line) {
  const qsizetype colon = line.indexOf(u':');
  if (colon < 0) {
    return false;
  }
  const QString name = Trim(line.left(colon));
  return std::any_of(std::begin(kFramingNames), std::end(kFramingNames),
                     [&name](QStringView framing) { return TextIsSame(name, framing); });
}

void CheckRequestHeaderLine(QStringView line) {
  if (const qsizetype cut = FirstLineBreakIn(line); cut >= 0) {
    throw EIdHTTPHeaderLineBreak(RSHTTPHeaderLineBreak().arg(line.left(cut)));
  }
}

bool IsIgnoredCode(int32_t code, const TIdHTTPIgnoredCodes& ignored) {
  return std::any_of(ignored.begin(), ignored.end(),
                     [code](int16_t listed) { return listed == code; });
}
