#pragma once

// Content codings undone as a body arrives: gzip, deflate (the zlib format, and the raw
// deflate some servers send under that name), br and zstd, on the libraries made for them.
//
// A decoder is a body sink (net/IdBodySink.h) between the body's framing and the next sink: it
// decodes each piece as it comes and hands the output on in runs of at most kDecodedRunSize
// bytes, so that the memory a body costs follows what arrives and not what it expands to. A
// coding's own end mark is checked at Finish. Bytes after the end mark are ignored, as browsers
// ignore them: the coded data has said where it ends, and servers that pad a body or append a
// stray line behind it exist. That includes a second gzip member or zstd frame, which the
// formats allow but no server sends for one response.
//
// Adding a coding is one entry in the table in IdContentDecoding.cpp.

#include "http/IdHTTPMessageSyntax.h"
#include "net/IdBodySink.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <memory>

// A coded body that cannot be decoded: corrupt data, or data that ends before the coding's end
// mark. The message names the coding; what was decoded before has been handed on.
MARQUELO_DECLARE_EXCEPTION(EIdHTTPContentDecodingError, EIdReplyError)

// The content codings a client offers and undoes. It holds no state: one instance serves every
// client at once, from any thread.
class TIdCompressor {
public:
  // The largest run of decoded bytes a decoder hands on at once: a zstd block, which the
  // library then decodes in place instead of through a buffer of its own.
  static constexpr int32_t kDecodedRunSize = 131072;
  // Codings stacked deeper than this are not undone: each costs a decoder's state (up to the
  // window of its coding), and no server stacks more than two.
  static constexpr int32_t kMostStackedCodings = 4;
  // The largest window a zstd frame may ask for, as a power of two: 8 MiB, the limit for zstd
  // as an HTTP content coding. A frame that asks for more is refused as corrupt.
  static constexpr int32_t kZstdWindowLogMax = 23;

  TIdCompressor() = default;
  Q_DISABLE_COPY(TIdCompressor)

  // The instance every caller shares; lives as long as the program.
  static const TIdCompressor& Standard();

  // The codings it undoes, in the order "Accept-Encoding" lists them: "gzip, deflate, br,
  // zstd". Never raises.
  QStringList Offered() const;

  // A chain of decoders that undoes the codings of a "Content-Encoding" value (comma-separated,
  // any case; "identity" and empty items stand for nothing), the last one first, back to the
  // first coding it does not know: that coding's data is handed on as it is. The chain hands
  // the decoded body to next, which must outlive it. Null when there is nothing to undo (no
  // coding, or an unknown one last) or more than kMostStackedCodings would be: then the body is
  // delivered as it came. The chain's Write raises EIdHTTPContentDecodingError for corrupt
  // data, its Finish for data that ends before a coding's end mark (a body of no bytes at all
  // is empty, not cut); both raise what next raises. Raises std::bad_alloc when a decoder's
  // state cannot be had.
  std::unique_ptr<TIdBodySink> DecoderFor(QStringView contentEncoding, TIdBodySink& next) const;
};
