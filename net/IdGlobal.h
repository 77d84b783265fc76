#pragma once

// Rules that the whole program shares, written once: trimming, text-to-integer conversion,
// case-insensitive comparison, the 32-bit millisecond tick counter and the byte encodings of
// text. Every layer calls these instead of repeating them.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>

// --- Trimming -------------------------------------------------------------------------------
// Removes every leading and/or trailing character whose code is 32 or less (spaces, tabs, line
// breaks, other control characters). Nothing inside the text changes.
QString Trim(QStringView text);
// True for a character that trimming removes from either end: code 32 or less. A byte counts
// by its unsigned value, so that bytes read as text or as bytes trim alike.
[[nodiscard]] constexpr bool IsTrimmable(QChar c) noexcept {
  return c.unicode() <= 32;
}
[[nodiscard]] constexpr bool IsTrimmable(char c) noexcept {
  return uint8_t(c) <= 32;
}
QString TrimLeft(QStringView text);
QString TrimRight(QStringView text);
// The same trimming as a view into text, for readers that need no copy.
QStringView TrimView(QStringView text) noexcept;

// --- Digits ---------------------------------------------------------------------------------
// The one place where digits become a number. Every parser calls it and states its own rule
// around it (sign, prefix, blanks, range) in a line of its own.

// A run of digits read from the start of a text: the number they make and how many characters
// they take.
struct TIdDigitRun {
  uint64_t value = 0;
  qsizetype length = 0;
};

// Reads the digits of base (2 to 16; above 9 the letters a-f in either case) at the start of
// text, stopping at the first character that is no such digit; no sign, prefix or blank is
// taken. Nothing when text does not start with such a digit or the number passes max, however
// many digits follow (leading zeros never do).
[[nodiscard]] std::optional<TIdDigitRun> ScanDigits(QStringView text, unsigned base = 10,
                                                    uint64_t max = UINT64_MAX) noexcept;
[[nodiscard]] std::optional<TIdDigitRun> ScanDigits(QByteArrayView text, unsigned base = 10,
                                                    uint64_t max = UINT64_MAX) noexcept;
// The number of text when text is digits of base and nothing else, at most max; else nothing.
[[nodiscard]] std::optional<uint64_t> DigitsValue(QStringView text, unsigned base = 10,
                                                  uint64_t max = UINT64_MAX) noexcept;

// --- Text to integer ------------------------------------------------------------------------
// Which numbers a conversion takes. Protocol fields (lengths, status codes, ages, dates) are
// decimal only; numbers a person types may also be hexadecimal.
enum class IntegerSyntax { DecimalOrHex, Decimal };

// Accepts, after any leading spaces, an optional "+" or "-" followed by decimal digits or, with
// DecimalOrHex, by a hexadecimal number introduced by "$" or "0x" ("0X" too; digits in either
// case). Anything else does not convert: empty text, other characters, anything after the
// number, or a value outside the signed range of the result type. Returns nothing when it does
// not convert.
std::optional<int32_t> TextToInt32(QStringView text,
                                   IntegerSyntax syntax = IntegerSyntax::DecimalOrHex);
std::optional<int64_t> TextToInt64(QStringView text,
                                   IntegerSyntax syntax = IntegerSyntax::DecimalOrHex);
// The same conversion with a fallback for text that does not convert.
int32_t TextToInt32Def(QStringView text, int32_t fallback,
                       IntegerSyntax syntax = IntegerSyntax::DecimalOrHex);
int64_t TextToInt64Def(QStringView text, int64_t fallback,
                       IntegerSyntax syntax = IntegerSyntax::DecimalOrHex);

// --- Lines --------------------------------------------------------------------------------
// The lines of text. A line ends at CR, at LF, or at CR LF (one break); LF CR is two breaks with
// an empty line between. Text after the last break is the last line; a break at the very end
// adds no empty line. Every other character, NUL included, belongs to its line.
QStringList SplitLines(QStringView text);

// --- Comparison -----------------------------------------------------------------------------
// Whole-text comparison without regard to letter case (header names, schemes, tokens).
bool TextIsSame(QStringView a, QStringView b);
// Where part first occurs in text without regard to letter case, by the same folding as
// TextIsSame; -1 when it does not, 0 for an empty part. Linear in the text's length.
[[nodiscard]] qsizetype TextIndexOf(QStringView text, QStringView part);

// --- Time -----------------------------------------------------------------------------------
// Milliseconds of a steady clock, cut to 32 bits: wraps to 0 after 2^32 ms (about 49.7 days).
uint32_t Ticks32();
// Milliseconds from older to newer on the 32-bit counter, right across a wrap.
inline uint32_t TickDiff32(uint32_t older, uint32_t newer) {
  return newer - older;
}

// --- Text and bytes -------------------------------------------------------------------------
// How text becomes bytes and back. ekNone means "not specified": any conversion asked to use
// it raises EIdNoEncodingSpecified ("No encoding specified."). Where an operation takes an
// encoding, ekNone also stands for "the owner's default".
enum TextEncodingKind : uint8_t { ekNone = 0, ekASCII = 1, ekUTF8 = 2, ek8Bit = 3 };

// Bytes of the text in the encoding. ekASCII writes "?" for every character above 127;
// ek8Bit keeps the low byte of each UTF-16 code unit. Raises EIdNoEncodingSpecified for ekNone.
QByteArray EncodeText(QStringView text, TextEncodingKind encoding);

// Text of the first n bytes, n being the whole array, or count when count is 0 or more and
// smaller. ek8Bit maps byte b to U+00bb; ekUTF8 never fails (a malformed sequence gives U+FFFD)
// and keeps a leading byte-order mark as U+FEFF; ekASCII gives "?" for bytes above 127.
// Raises EIdNoEncodingSpecified for ekNone, whatever the bytes.
QString DecodeBytes(QByteArrayView bytes, qsizetype count, TextEncodingKind encoding);
