#pragma once

// The rules of HTTP/1.1 message text that need no connection: the request target as the request
// line writes it, the code of a status line, the size of a chunk, the lines that frame a body,
// and the checks a header line must pass before it goes out. The exchange reads and writes the
// wire; these only look at text it already holds, so each can be tried on its own.

#include "net/IdException.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>

// A reply that is not what the exchange needed.
MARQUELO_DECLARE_EXCEPTION(EIdReplyError, EIdException)

// A request header line that would carry a CR or LF onto the wire, where it would end the line
// early and let what follows pass for a header of its own.
MARQUELO_DECLARE_EXCEPTION(EIdHTTPHeaderLineBreak, EIdException)

// A response whose framing cannot be trusted: Content-Length values that disagree, a chunk size
// that is no number. Where its body ends is unknown, so the connection cannot serve again.
MARQUELO_DECLARE_EXCEPTION(EIdHTTPFramingError, EIdReplyError)

// A body that ended, by the peer's close, before its framing said it would: fewer bytes than
// "Content-Length" announced, or no last chunk. What arrived has been handed on; the connection
// is gone.
MARQUELO_DECLARE_EXCEPTION(EIdHTTPBodyCutShort, EIdReplyError)

// Status codes a call treats as "no error, no body" instead of raising.
using TIdHTTPIgnoredCodes = QList<int16_t>;

// The request-line form of a target: every control character (below 0x21, and 0x7F), space,
// '"', '<', '>', '\', '^', '`', '{', '|', '}' and every character above 0x7F is written as
// percent-encoded UTF-8 (upper-case hex; a lone surrogate as U+FFFD); everything else, "%"
// included, stands as it is. A target that is already encoded therefore stays unchanged.
// Never fails.
QString EncodeRequestTarget(QStringView target);

// The code in a status line: the word after the first space, read as a decimal; -1 when there
// is no such word or it is not a number. Never fails.
int32_t StatusCodeOf(QStringView statusLine);

// The size of a chunk from its size line: the trimmed line up to its first ";" or space, as a
// hexadecimal number of at most 63 bits (a body's length is a signed 64-bit count). Nothing when it
// is not one. One pass over the bytes, nothing allocated: it runs once per chunk. Never fails.
std::optional<int64_t> ChunkSizeOf(QByteArrayView sizeLine);

// Whether a response to verb with status code has no body whatever its headers say: a response
// to "HEAD", an interim (1xx), 204 and 304. Never fails.
bool ResponseHasNoBody(QStringView verb, int32_t code);

// Whether a "Transfer-Encoding" value (lines joined by ",") ends in the chunked coding: its
// last comma-separated token, trimmed, is "chunked" in any case. Never fails.
bool EndsInChunked(QStringView transferEncoding);

// The one length that "Content-Length" values give: each value may be a comma-separated list,
// and every item, trimmed, must be the same text. Nothing when there are no values. Raises
// EIdHTTPFramingError when two items differ.
std::optional<QString> SoleContentLength(const QStringList& values);

// Whether a response header line ("Name: value") sets the body's framing or the connection's
// fate: its name, trimmed, is "Transfer-Encoding", "Content-Length" or "Connection" in any
// case. A line without a colon sets nothing. Never fails.
bool IsFramingLine(QStringView line);

// Checks a request header line before it goes out. Raises EIdHTTPHeaderLineBreak, naming the
// line up to its break, when it holds a CR or LF.
void CheckRequestHeaderLine(QStringView line);

// Whether code is one of ignored. Never fails.
bool IsIgnoredCode(int32_t code, const TIdHTTPIgnoredCodes& ignored);
