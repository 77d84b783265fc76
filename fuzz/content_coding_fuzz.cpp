// A coded body under a random "Content-Encoding": whatever the codings and the bytes, decoding
// ends with the decoded body or with the client's own decoding failure, and how the bytes are
// split into pieces changes nothing: a body fed whole and the same body fed in pieces of a few
// bytes (as a slow peer's receives or tiny chunks hand them over) decode to the same bytes, or
// both fail.
//
// Input: the "Content-Encoding" value up to the first line feed (at most 64 bytes), one byte of
// piece size (0 means 1), then the body.

#include "fuzz/FuzzSupport.h"
#include "http/IdContentDecoding.h"

#include <QByteArrayView>

#include <cstring>
#include <optional>

namespace {

// Keeps a count and a running hash instead of the bytes: a bomb may decode to gigabytes.
class Digest final : public TIdBodySink {
public:
  void Write(QByteArrayView bytes) override {
    for (const char c : bytes) {
      hash_ = (hash_ ^ uint8_t(c)) * 1099511628211ULL;
    }
    count_ += bytes.size();
  }
  void Finish() override { ++finishes_; }

  bool operator==(const Digest& other) const {
    return count_ == other.count_ && hash_ == other.hash_ && finishes_ == other.finishes_;
  }

private:
  uint64_t hash_ = 14695981039346656037ULL;
  int64_t count_ = 0;
  int finishes_ = 0;
};

// The decoded body, or nothing when decoding failed with the client's decoding failure. Any
// other exception passes out and stops the run.
std::optional<Digest> Decode(QStringView codings, QByteArrayView body, qsizetype piece) {
  Digest digest;
  std::unique_ptr<TIdBodySink> decoder = TIdCompressor::Standard().DecoderFor(codings, digest);
  TIdBodySink& sink = decoder ? *decoder : digest;
  try {
    for (qsizetype at = 0; at < body.size(); at += piece) {
      sink.Write(body.sliced(at, std::min(piece, body.size() - at)));
    }
    sink.Finish();
  } catch (const EIdHTTPContentDecodingError& e) {
    FUZZ_CHECK(e.Message().startsWith(u"Response body in "));
    return std::nullopt;
  }
  return digest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView input(data, qsizetype(size));
  const qsizetype end = input.indexOf('\n');
  if (end < 0 || end > 64 || end + 2 > input.size()) {
    return 0;
  }
  const QString codings = Latin1Text(data, size_t(end));
  const qsizetype piece = std::max<qsizetype>(1, uint8_t(input[end + 1]));
  const QByteArrayView body = input.sliced(end + 2);

  const std::optional<Digest> whole = Decode(codings, body, std::max<qsizetype>(1, body.size()));
  const std::optional<Digest> pieces = Decode(codings, body, piece);
  FUZZ_CHECK(whole.has_value() == pieces.has_value());
  if (whole) {
    FUZZ_CHECK(*whole == *pieces);
  }
  return 0;
}
