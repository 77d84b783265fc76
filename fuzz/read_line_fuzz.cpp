// Lines read off a connection: status lines, header lines, chunk sizes. Whatever the bytes and
// however the peer cuts them into receives, the I/O handler gives the lines a plain reading of
// the whole byte run gives: each line up to the first terminator (a CR before a lone LF
// terminator dropped), a line over the length limit raised or cut at the limit, and the peer's
// close raised once no terminator is left. The input queue never holds much more than arrived.
//
// Input: the bytes the peer sends. The last bytes choose the terminator (none: LF), the length
// limit (0: none), what a long line does, the receive size and the sizes of the peer's sends.

#include "fuzz/FuzzSupport.h"
#include "net/IdIOHandler.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The largest receive the handler is set to ask for.
constexpr int32_t kMaxReceiveSize = 64;

// A peer that sends its bytes in runs of the given sizes (at least one), then closes. Every wait
// ends at once.
class ScriptedPeer : public TIdIOHandler {
public:
  ScriptedPeer(QByteArray bytes, std::vector<int32_t> runs)
      : bytes_(std::move(bytes)), runs_(std::move(runs)) {}

  int32_t ReceiveChunk(QByteArray& buffer) override {
    const int32_t run = runs_[next_++ % runs_.size()];
    const auto n = std::min<qsizetype>({buffer.size(), run, bytes_.size() - at_});
    std::memcpy(buffer.data(), bytes_.constData() + at_, size_t(n));
    at_ += n;
    return int32_t(n);
  }
  int32_t SendChunk(const QByteArray&, int32_t, int32_t length) override { return length; }
  bool SourceAvailable() const override { return source_; }
  bool Readable(int32_t) override { return true; }
  void Close() override {
    source_ = false;
    TIdIOHandler::Close();
  }

private:
  QByteArray bytes_;
  std::vector<int32_t> runs_;
  size_t next_ = 0;
  qsizetype at_ = 0;
  bool source_ = true;
};

// What one ReadLine call must give, worked out from the whole byte run and where reading stands.
struct Expected {
  enum Kind { Line, TooLong, Closed } kind;
  QByteArray line;
  qsizetype consumed = 0;
};

Expected NextLine(QByteArrayView rest, QByteArrayView terminator, int32_t maxLength) {
  const qsizetype found = rest.indexOf(terminator);
  if (found >= 0 && !(maxLength > 0 && found > maxLength)) {
    qsizetype length = found;
    if (terminator == "\n" && found > 0 && rest[found - 1] == '\r') {
      --length;
    }
    return {Expected::Line, rest.first(length).toByteArray(), found + terminator.size()};
  }
  const qsizetype searched = std::max<qsizetype>(rest.size() - terminator.size() + 1, 0);
  if (found >= 0 || (maxLength > 0 && !rest.isEmpty() && searched > maxLength)) {
    return {Expected::TooLong, rest.first(maxLength).toByteArray(), maxLength};
  }
  return {Expected::Closed, {}, 0};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  QByteArray terminator;
  for (int n = input.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    terminator += char(input.ConsumeIntegral<uint8_t>());
  }
  const auto maxLength = input.ConsumeIntegralInRange<int32_t>(0, 80);
  const bool split = input.ConsumeBool();
  const auto receiveSize = input.ConsumeIntegralInRange<int32_t>(1, kMaxReceiveSize);
  std::vector<int32_t> runs(input.ConsumeIntegralInRange(1, 8));
  for (int32_t& run : runs) {
    run = input.ConsumeIntegralInRange(1, 300);
  }
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray bytes(rest.data(), qsizetype(rest.size()));

  ScriptedPeer handler(bytes, runs);
  handler.SetRecvBufferSize(receiveSize);
  handler.SetMaxLineAction(split ? maSplit : maException);
  handler.SetTextEncoding(ek8Bit);
  handler.Open();
  const QString terminatorText = QString::fromLatin1(terminator);
  const QByteArray effective = terminator.isEmpty() ? QByteArray("\n") : terminator;

  qsizetype at = 0;
  // The most bytes the reading of one line may have held queued: those queued before it, the
  // bytes it had to see, and what one receive brought past them. It sees the line and its
  // terminator; for a line over the limit, the limit and a terminator's length less one, as a
  // terminator that starts at the limit still ends a line of the limit's length.
  qsizetype mostWaiting = 0;
  for (;;) {
    const Expected expected = NextLine(QByteArrayView(bytes).sliced(at), effective, maxLength);
    const qsizetype queuedBefore = handler.PendingInput().Size();
    try {
      const QString line = handler.ReadLine(terminatorText, kTimeoutDefault, maxLength);
      FUZZ_CHECK(expected.kind != Expected::Closed);
      FUZZ_CHECK(expected.kind != Expected::TooLong || split);
      FUZZ_CHECK(handler.LastLineSplit() == (expected.kind == Expected::TooLong));
      FUZZ_CHECK(line == QString::fromLatin1(expected.line));
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
      FUZZ_CHECK(expected.kind == Expected::TooLong && !split);
      break;
    } catch (const EIdConnClosedGracefully&) {
      FUZZ_CHECK(expected.kind == Expected::Closed);
      break;
    }
    at += expected.consumed;
    const qsizetype seen = expected.kind == Expected::TooLong
                               ? expected.consumed + effective.size() - 1
                               : expected.consumed;
    mostWaiting = std::max(mostWaiting, queuedBefore + seen + kMaxReceiveSize);
    // What is queued is what arrived and was not taken yet; the storage follows what arrived.
    FUZZ_CHECK(handler.PendingInput().Peek() ==
               QByteArrayView(bytes).sliced(at).first(handler.PendingInput().Size()));
    const TIdBuffer& queue = handler.PendingInput();
    FUZZ_CHECK(queue.Capacity() <= mostWaiting + queue.GrowthStep());
  }
  return 0;
}
