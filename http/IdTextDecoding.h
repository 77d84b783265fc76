#pragma once

// How a response body becomes text: the character set named in the response's content type
// picks the encoding, and the body is decoded in one piece. Only "UTF-8" (or "UTF8") is
// recognised; every other set, and none at all, reads byte n as U+00nn. Decoding itself is
// DecodeBytes of net/IdGlobal.h.

#include "net/IdGlobal.h"

#include <QString>
#include <QStringView>

class QIODevice;

// ekUTF8 when the CHARSET parameter of the "Content-Type" value names "UTF-8" or "UTF8" (any
// case, nothing trimmed from the value found), otherwise ek8Bit. Never fails.
TextEncodingKind EncodingFromContentType(QStringView contentType);

// The value of parameter name in a header value, or empty text. The name is found at its
// first case-insensitive occurrence anywhere in the value, even inside another word. After
// it, blanks and one "=" are skipped; a quoted value runs to the next double quote (or the
// end), an unquoted one to the next ";" (or the end) and keeps any blanks before that ";".
// An empty name finds nothing. Never fails.
QString ExtractHeaderParameter(QStringView value, QStringView name);

// Reads up to count bytes from the stream's current position (fewer when it ends first) and
// decodes them with DecodeBytes. A negative count means the rest of the stream: its size less
// its position, or on a sequential device whatever it delivers until a read returns nothing.
// Blocks only as long as the device's own reads do. The caller keeps the stream, which must be
// open for reading. Raises EIdNoEncodingSpecified for ekNone before reading anything, and
// ERangeError when the rest of the stream exceeds 2147483647 bytes (a sized device: before
// reading; a sequential one: once the limit is passed, nothing decoded).
QString ReadStreamText(QIODevice& stream, qint64 count, TextEncodingKind encoding);
// The count of ReadStreamText for the rest of the stream.
constexpr qint64 kRestOfStream = -1;
