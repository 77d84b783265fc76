#include "net/IdIPAddress.h"

#include "net/IdIPv4Text.h"

std::optional<TIdIPAddress> TIdIPAddress::MakeAddressObject(QStringView text) {
  TIdIPAddress address;
  if (TIdStack::CanonicalIPv6(text)) {
    const QByteArray bytes = TIdStack::TextToAddress(text, Id_IPv6);
    address.version_ = Id_IPv6;
    for (int i = 0; i < 8; ++i) {
      address.ipv6_[i] =
          uint16_t((uint8_t(bytes[qsizetype(2) * i]) << 8) | uint8_t(bytes[qsizetype(2) * i + 1]));
    }
    return address;
  }
  const TIdIPv4Reading ipv4 = ReadIPv4(text, TIdIPv4Form::Classic, TIdIPv4Digits::CPrefixed);
  if (ipv4.fault != TIdIPv4Fault::None) {
    return std::nullopt;
  }
  address.ipv4_ = ipv4.address;
  return address;
}

QByteArray TIdIPAddress::HToNBytes() const {
  QByteArray bytes;
  if (version_ == Id_IPv4) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      bytes.append(char((ipv4_ >> shift) & 0xFF));
    }
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
