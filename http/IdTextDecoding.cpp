#include "http/IdTextDecoding.h"

#include "http/IdResourceStringsProtocols.h"
#include "net/IdException.h"
#include "net/IdResourceStrings.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kTextLimit = std::numeric_limits<int32_t>::max();

// Reads until count bytes have come or the device delivers nothing more. A sized device is
// read in one piece of what it holds; a pipe or socket in steps, so that memory grows with
// the bytes that really arrive.
QByteArray ReadUpTo(QIODevice& stream, qint64 count) {
  constexpr qint64 kSequentialStep = qint64(64) * 1024;
  if (count <= 0) {
    return {};
  }
  const qint64 step = stream.isSequential()
                          ? kSequentialStep
                          : std::clamp<qint64>(stream.size() - stream.pos(), 1, count);
  QByteArray bytes;
  while (bytes.size() < count) {
    const qsizetype had = bytes.size();
    bytes.resize(had + std::min(count - had, step));
    const qint64 got = stream.read(bytes.data() + had, bytes.size() - had);
    bytes.truncate(had + std::max<qint64>(got, 0));
    if (got <= 0) {
      break;
    }
  }
  return bytes;
}

[[noreturn]] void RaiseTooLarge(qint64 remaining) {
  throw ERangeError(RSStreamTooLargeForText().arg(remaining));
}

} // namespace

TextEncodingKind EncodingFromContentType(QStringView contentType) {
  const QString charset = ExtractHeaderParameter(contentType, u"CHARSET");
  if (TextIsSame(charset, u"UTF-8") || TextIsSame(charset, u"UTF8")) {
    return ekUTF8;
  }
  return ek8Bit;
}

QString ExtractHeaderParameter(QStringView value, QStringView name) {
  if (name.isEmpty()) {
    return {};
  }
  const qsizetype at = TextIndexOf(value, name);
  if (at < 0) {
    return {};
  }
  QString rest = Trim(value.mid(at + name.size()));
  if (rest.startsWith(u'=')) {
    rest = Trim(QStringView(rest).mid(1));
  }
  if (rest.startsWith(u'"')) {
    const qsizetype close = rest.indexOf(u'"', 1);
    return close < 0 ? rest.mid(1) : rest.mid(1, close - 1);
  }
  const qsizetype semicolon = rest.indexOf(u';');
  return semicolon < 0 ? rest : rest.left(semicolon);
}

QString ReadStreamText(QIODevice& stream, qint64 count, TextEncodingKind encoding) {
  // Refuse before reading, so that a caller's mistake leaves the stream where it was.
  if (encoding == ekNone) {
    throw EIdNoEncodingSpecified(RSNoEncodingSpecified());
  }

  if (stream.isSequential()) {
    // A pipe or socket has no size to check up front: read one byte past the limit to tell.
    const QByteArray bytes = ReadUpTo(stream, count < 0 ? kTextLimit + 1 : count);
    if (count < 0 && bytes.size() > kTextLimit) {
      RaiseTooLarge(bytes.size());
    }
    return DecodeBytes(bytes, -1, encoding);
  }

  const qint64 start = stream.pos();
  const qint64 remaining = std::max<qint64>(0, stream.size() - start);
  if (count < 0) {
    if (remaining > kTextLimit) {
      RaiseTooLarge(remaining);
    }
    count = remaining;
  }
  // A memory stream, the fetch's case, is decoded where its bytes lie instead of from a copy.
  if (auto* memory = qobject_cast<QBuffer*>(&stream); memory && memory->isReadable()) {
    const qint64 taken = std::min(count, remaining);
    QString text = DecodeBytes(QByteArrayView(memory->data()).sliced(start, taken), -1, encoding);
    memory->seek(start + taken);
    return text;
  }
  return DecodeBytes(ReadUpTo(stream, count), -1, encoding);
}
