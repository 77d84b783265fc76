#pragma once

// The one reader of IPv4 address text. Callers differ in which texts they take for an address
// (a literal the stack may skip the name service for, the classic forms a proxy address may
// use, the dotted quad of a cookie host); they differ only in the form and the digits asked
// for here, never in a loop of their own.

#include <QStringView>
#include <cstdint>

// How many "."-separated parts make an address, and what each part stands for.
enum class TIdIPv4Form : uint8_t {
  // Four parts of one byte each; a missing part reads as empty text. A "." after the fourth
  // part is refused (ExtraText).
  DottedQuad,
  // As DottedQuad, but a "." after the fourth part ends the address and whatever follows it
  // is ignored ("1.2.3.4.example" is 1.2.3.4).
  DottedQuadThenAnything,
  // One to four parts (more are refused as ExtraText); every part but the last is one byte,
  // the last fills the remaining low-order bytes ("127.1" is 127.0.0.1, "10.65535" is
  // 10.0.255.255, "4294967295" is 255.255.255.255).
  Classic,
};

// How the number of one part is written.
enum class TIdIPv4Digits : uint8_t {
  // Decimal digits and nothing else; leading zeros allowed ("001" is 1).
  Decimal,
  // What TextToInt32 takes after the part is trimmed: spaces around it, a sign, "$" or "0x"
  // hexadecimal (" 10 ", "+1", "$7F" and "0x7F" are numbers; "-1" is one, out of range).
  Integer,
  // "0x" or "0X" then hexadecimal digits, else "0" then octal digits, else decimal digits;
  // at most 32 digits after the prefix ("0x7f", "017" and "15" are all numbers; "08" is none).
  CPrefixed,
};

// Why a text is no address of the form asked for.
enum class TIdIPv4Fault : uint8_t {
  None,
  // A part (failedPart) is not a number in the digits asked for, or one beyond 32 bits (for
  // Integer: beyond what TextToInt32 takes); a missing part is empty.
  NotANumber,
  // A part (failedPart) is a number too big for the bytes it stands for, or below 0.
  OutOfRange,
  // Text follows the last part the form allows.
  ExtraText,
};

struct TIdIPv4Reading {
  TIdIPv4Fault fault = TIdIPv4Fault::None;
  // The address as a number (127.0.0.1 is 0x7F000001) when fault is None; else 0.
  uint32_t address = 0;
  // The part that failed as written in text (not trimmed), for NotANumber and OutOfRange.
  QStringView failedPart;
};

// Reads text as an IPv4 address of form whose parts are written as digits says. Parts are
// read from the left and the first that fails is the one reported; nothing around the whole
// text is trimmed. Never raises.
[[nodiscard]] TIdIPv4Reading ReadIPv4(QStringView text, TIdIPv4Form form,
                                      TIdIPv4Digits digits) noexcept;
