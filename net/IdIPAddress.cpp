#include "net/IdIPAddress.h"

#include <QList>

namespace {

// One part of an IPv4 text in the base its prefix selects; nothing when it is not a number or
// does not fit 32 bits.
std::optional<uint32_t> ParseIPv4Part(QStringView part) {
  int base = 10;
  if (part.size() > 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
    base = 16;
    part = part.mid(2);
  } else if (part.size() > 1 && part[0] == u'0') {
    base = 8;
    part = part.mid(1);
  }
  if (part.isEmpty() || part.size() > 32)
    return std::nullopt;
  uint64_t value = 0;
  for (const QChar c : part) {
    const char16_t u = c.unicode();
    int digit = base;
    if (u >= u'0' && u <= u'9')
      digit = u - u'0';
    else if (u >= u'a' && u <= u'f')
      digit = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
      digit = u - u'A' + 10;
    if (digit >= base)
      return std::nullopt;
    value = value * uint64_t(base) + uint64_t(digit);
    if (value > 0xFFFFFFFFu)
      return std::nullopt;
  }
  return uint32_t(value);
}

std::optional<uint32_t> ParseIPv4(QStringView text) {
  const QList<QStringView> parts = text.split(u'.');
  if (parts.size() > 4)
    return std::nullopt;
  uint32_t address = 0;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const std::optional<uint32_t> value = ParseIPv4Part(parts[i]);
    if (!value)
      return std::nullopt;
    const bool last = i == parts.size() - 1;
    // The last part fills every byte not yet given; every other part is one byte.
    const int bits = last ? 8 * int(4 - i) : 8;
    if (bits < 32 && *value >> bits != 0)
      return std::nullopt;
    address |= last ? *value : *value << (8 * (3 - i));
  }
  return address;
}

} // namespace

std::optional<TIdIPAddress> TIdIPAddress::MakeAddressObject(QStringView text) {
  TIdIPAddress address;
  if (TIdStack::CanonicalIPv6(text)) {
    const QByteArray bytes = TIdStack::TextToAddress(text, Id_IPv6);
    address.version_ = Id_IPv6;
    for (int i = 0; i < 8; ++i)
      address.ipv6_[i] = uint16_t((uint8_t(bytes[2 * i]) << 8) | uint8_t(bytes[2 * i + 1]));
    return address;
  }
  const std::optional<uint32_t> ipv4 = ParseIPv4(text);
  if (!ipv4)
    return std::nullopt;
  address.ipv4_ = *ipv4;
  return address;
}

QByteArray TIdIPAddress::HToNBytes() const {
  QByteArray bytes;
  if (version_ == Id_IPv4) {
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.append(char((ipv4_ >> shift) & 0xFF));
  } else {
    for (const uint16_t group : ipv6_) {
      bytes.append(char(group >> 8));
      bytes.append(char(group & 0xFF));
    }
  }
  return bytes;
}

QString TIdIPAddress::IPAsString() const {
  return TIdStack::AddressToText(HToNBytes());
}
