#pragma once

// One parsed IPv4 or IPv6 address, for code that needs the address as a value (network-order
// bytes) rather than as text.

#include "net/IdStack.h"

#include <QByteArray>
#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>

class TIdIPAddress {
public:
  // The address of text: an IPv6 literal, else an IPv4 address whose "."-separated parts may
  // be decimal, octal (leading "0") or hexadecimal (leading "0x"), where with fewer than four
  // parts the last fills the remaining low-order bytes ("127.1" is 127.0.0.1). Nothing for
  // text that is neither.
  static std::optional<TIdIPAddress> MakeAddressObject(QStringView text);

  TIdIPVersion AddrType() const noexcept { return version_; }
  // The IPv4 address as a number (127.0.0.1 is 0x7F000001); 0 for an IPv6 address.
  uint32_t IPv4() const noexcept { return ipv4_; }
  // The eight 16-bit groups of an IPv6 address; zeros for an IPv4 address.
  const std::array<uint16_t, 8>& IPv6() const noexcept { return ipv6_; }
  // The address in network order: 4 bytes for IPv4, 16 for IPv6.
  QByteArray HToNBytes() const;
  // The address as text (TIdStack::AddressToText form).
  QString IPAsString() const;

private:
  TIdIPVersion version_ = Id_IPv4;
  uint32_t ipv4_ = 0;
  std::array<uint16_t, 8> ipv6_{};
};
