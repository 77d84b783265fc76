// Response bodies and the text rules every layer shares. Decoding takes any bytes in every
// encoding: 8-bit gives one character per byte and writes back to the same bytes, UTF-8 writes
// back to the same bytes whenever nothing was malformed, and reading from a stream, sized or
// sequential, gives what decoding the same bytes in one piece gives. The charset parameter is
// always a piece of the header value. The 32-bit number rule agrees with the 64-bit one.
//
// Input: the body bytes, also read as an 8-bit "Content-Type" value and a number text. The
// last bytes choose the encoding, count and start of the stream reads and how much a pipe hands
// out per read.

#include "fuzz/FuzzSupport.h"
#include "http/IdTextDecoding.h"

#include <QBuffer>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Bytes handed out like a pipe does: no size, no seeking, at most `step` bytes per read.
class PipeDevice : public QIODevice {
public:
  PipeDevice(QByteArray bytes, qint64 step) : bytes_(std::move(bytes)), step_(step) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return true; }

protected:
  qint64 readData(char* data, qint64 maxSize) override {
    const qint64 n = std::min({maxSize, step_, qint64(bytes_.size()) - at_});
    std::memcpy(data, bytes_.constData() + at_, size_t(n));
    at_ += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  QByteArray bytes_;
  qint64 step_;
  qint64 at_ = 0;
};

void CheckDecoding(const QByteArray& bytes) {
  const QString latin = DecodeBytes(bytes, -1, ek8Bit);
  FUZZ_CHECK(latin.size() == bytes.size());
  FUZZ_CHECK(EncodeText(latin, ek8Bit) == bytes);

  const QString ascii = DecodeBytes(bytes, -1, ekASCII);
  FUZZ_CHECK(ascii.size() == bytes.size());
  for (qsizetype i = 0; i < ascii.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    FUZZ_CHECK(ascii[i] == (b < 0x80 ? QChar(b) : QChar(u'?')));
  }

  const QString utf8 = DecodeBytes(bytes, -1, ekUTF8);
  FUZZ_CHECK(utf8.size() <= bytes.size());
  if (!utf8.contains(QChar::ReplacementCharacter)) {
    FUZZ_CHECK(EncodeText(utf8, ekUTF8) == bytes);
  }
}

void CheckStreams(const QByteArray& bytes, qint64 start, qint64 count, qint64 step,
                  TextEncodingKind encoding) {
  const QString expected =
      DecodeBytes(QByteArrayView(bytes).sliced(start), count < 0 ? -1 : count, encoding);
  QByteArray held = bytes;
  QBuffer sized(&held);
  sized.open(QIODevice::ReadOnly);
  sized.seek(start);
  FUZZ_CHECK(ReadStreamText(sized, count, encoding) == expected);

  PipeDevice pipe(bytes.mid(start), step);
  FUZZ_CHECK(ReadStreamText(pipe, count, encoding) == expected);
}

void CheckCharset(const QString& contentType) {
  const QString charset = ExtractHeaderParameter(contentType, u"CHARSET");
  FUZZ_CHECK(contentType.contains(charset));
  FUZZ_CHECK(!charset.contains(u';') || contentType.contains(u'"'));
  const TextEncodingKind kind = EncodingFromContentType(contentType);
  FUZZ_CHECK(kind == ekUTF8 || kind == ek8Bit);
  // The case-free search finds what the general one finds, for parts of the text itself too.
  const qsizetype half = contentType.size() / 2;
  for (const QString& part : {QStringLiteral("CHARSET"), contentType.mid(half, 2).toUpper(),
                              contentType.mid(half, 5).toLower()}) {
    FUZZ_CHECK(TextIndexOf(contentType, part) ==
               QStringView(contentType).indexOf(part, 0, Qt::CaseInsensitive));
  }
}

void CheckNumbers(const QString& text) {
  for (const IntegerSyntax syntax : {IntegerSyntax::Decimal, IntegerSyntax::DecimalOrHex}) {
    const auto wide = TextToInt64(text, syntax);
    const auto narrow = TextToInt32(text, syntax);
    const bool fits = wide && *wide >= std::numeric_limits<int32_t>::min() &&
                      *wide <= std::numeric_limits<int32_t>::max();
    FUZZ_CHECK(narrow.has_value() == fits);
    if (narrow) {
      FUZZ_CHECK(*narrow == *wide);
    }
  }
  // Decimal numbers are a subset of what the wider syntax takes, with the same value.
  if (const auto decimal = TextToInt64(text, IntegerSyntax::Decimal)) {
    FUZZ_CHECK(TextToInt64(text, IntegerSyntax::DecimalOrHex) == decimal);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const auto encoding = input.PickValueInArray({ekASCII, ekUTF8, ek8Bit});
  const int32_t rawCount = input.ConsumeIntegralInRange<int32_t>(-1, 4096);
  const uint16_t rawStart = input.ConsumeIntegral<uint16_t>();
  const qint64 step = input.ConsumeIntegralInRange<qint64>(1, 512);
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray bytes(rest.data(), qsizetype(rest.size()));

  CheckDecoding(bytes);
  CheckStreams(bytes, bytes.isEmpty() ? 0 : rawStart % (bytes.size() + 1), rawCount, step,
               encoding);
  const QString text = QString::fromLatin1(bytes);
  CheckCharset(text);
  CheckNumbers(text);
  return 0;
}
