#include "net/IdIPv4Text.h"

#include "net/IdGlobal.h"

#include <array>
#include <optional>

namespace {

constexpr uint64_t kMaxAddress = 0xFFFFFFFFu;
constexpr qsizetype kMaxPrefixedDigits = 32;

// The number of one part; nothing when it is none in the digits asked for. Numbers beyond 32
// bits are none either: no part can stand for more.
std::optional<int64_t> ReadPart(QStringView part, TIdIPv4Digits digits) noexcept {
  if (digits == TIdIPv4Digits::Integer) {
    const std::optional<int32_t> value = TextToInt32(TrimView(part));
    return value ? std::optional<int64_t>(*value) : std::nullopt;
  }
  unsigned base = 10;
  if (digits == TIdIPv4Digits::CPrefixed) {
    if (part.size() > 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
      base = 16;
      part = part.sliced(2);
    } else if (part.size() > 1 && part[0] == u'0') {
      base = 8;
      part = part.sliced(1);
    }
    if (part.size() > kMaxPrefixedDigits) {
      return std::nullopt;
    }
  }
  const std::optional<uint64_t> value = DigitsValue(part, base, kMaxAddress);
  return value ? std::optional<int64_t>(int64_t(*value)) : std::nullopt;
}

} // namespace

TIdIPv4Reading ReadIPv4(QStringView text, TIdIPv4Form form, TIdIPv4Digits digits) noexcept {
  std::array<QStringView, 4> parts;
  qsizetype count = 0;
  bool dotAfterLast = false;
  QStringView rest = text;
  while (count < 4) {
    const qsizetype dot = rest.indexOf(u'.');
    parts[count++] = dot < 0 ? rest : rest.first(dot);
    if (dot < 0) {
      break;
    }
    rest = rest.sliced(dot + 1);
    dotAfterLast = count == 4;
  }
  if (dotAfterLast && form != TIdIPv4Form::DottedQuadThenAnything) {
    return {TIdIPv4Fault::ExtraText, 0, {}};
  }
  const bool classic = form == TIdIPv4Form::Classic;
  // A dotted quad always has four parts; those the text lacks read as empty.
  const qsizetype used = classic ? count : 4;
  uint32_t address = 0;
  for (qsizetype i = 0; i < used; ++i) {
    const std::optional<int64_t> value = ReadPart(parts[i], digits);
    if (!value) {
      return {TIdIPv4Fault::NotANumber, 0, parts[i]};
    }
    // The last part of the classic forms fills every byte not yet given; any other is one.
    const bool fills = classic && i == used - 1;
    const int bits = fills ? int(8 * (4 - i)) : 8;
    if (*value < 0 || uint64_t(*value) > (kMaxAddress >> (32 - bits))) {
      return {TIdIPv4Fault::OutOfRange, 0, parts[i]};
    }
    address |= fills ? uint32_t(*value) : uint32_t(*value) << (8 * (3 - i));
  }
  return {TIdIPv4Fault::None, address, {}};
}
