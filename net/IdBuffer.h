#pragma once

// TIdBuffer: the growable byte queue between a connection and the protocol code above it.
//
// Bytes are taken from a moving head index. The queued bytes are moved back to the front of
// the storage (and spare room beyond GrowthStep given back) only when the head has passed
// GrowthStep bytes and no more than GrowthStep bytes are still queued, or just before the
// storage would have to grow. So taking a short line off the front never moves the bytes
// behind it, and however small the pieces taken off a large buffer, a move never shifts more
// than GrowthStep bytes. Growth adds GrowthStep spare bytes; shrinking keeps GrowthStep spare
// bytes. The spare room is cut where the storage would pass 2147483647 bytes, the most a
// 32-bit size counts.
//
// A buffer is used by one thread at a time. Every buffer holds the socket stack while it lives.

#include "net/IdException.h"
#include "net/IdGlobal.h"
#include "net/IdStack.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>

class QIODevice;

// More bytes were asked for than are queued: "Not enough data in buffer. (asked/queued)".
MARQUELO_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException)
// The queue would pass 2147483647 bytes: "Too much data in buffer.".
MARQUELO_DECLARE_EXCEPTION(EIdTooMuchDataInBuffer, EIdException)
// A stream refused bytes written to it: "Could not write to the stream.".
MARQUELO_DECLARE_EXCEPTION(EIdStreamWriteError, EIdException)

// The length of the part of a run of `size` bytes that starts at `offset` and is at most
// `length` bytes long (-1 or any negative length: up to the end). 0 when the offset lies outside
// the run. The writes of the I/O handler clip their arguments with the same rule.
int32_t ClipByteRun(qsizetype size, int32_t offset, int32_t length);

// Writes the bytes to the stream at its position. Raises EIdStreamWriteError when the stream
// takes fewer bytes than offered.
void WriteToStream(QIODevice& stream, QByteArrayView bytes);

class TIdBuffer {
public:
  // Called after bytes have left the queue, with the buffer and the number of bytes removed.
  using TIdBufferBytesRemoved = std::function<void(TIdBuffer* sender, int32_t count)>;

  // An empty buffer: capacity 0, GrowthStep 2048, TextEncoding ekASCII. Holds the socket stack
  // until destroyed; raises what AcquireStack raises.
  explicit TIdBuffer(TIdBufferBytesRemoved removedNotify = {});
  ~TIdBuffer();
  Q_DISABLE_COPY(TIdBuffer)

  // Number of queued bytes.
  int32_t Size() const noexcept { return size_; }
  // Length of the storage; HeadIndex() + Size() never exceeds it.
  int32_t Capacity() const noexcept { return static_cast<int32_t>(bytes_.size()); }
  // Index in the storage of the first queued byte; 0 whenever the buffer is empty.
  int32_t HeadIndex() const noexcept { return head_; }

  // Spare room added when the storage grows and kept when it shrinks; also how far the head may
  // advance before the queued bytes are moved to the front.
  int32_t GrowthStep() const noexcept { return growthStep_; }
  // Raises ERangeError "Range check error" for a step below 1, keeping the step it had.
  void SetGrowthStep(int32_t step);

  // Encoding used where a text operation is given ekNone.
  TextEncodingKind TextEncoding() const noexcept { return encoding_; }
  void SetTextEncoding(TextEncodingKind encoding) noexcept { encoding_ = encoding; }

  // The callback run after every removal (Discard and all extractions); may be empty.
  void SetRemovedNotify(TIdBufferBytesRemoved removedNotify) {
    removedNotify_ = std::move(removedNotify);
  }

  // The queued bytes, valid until the next call that changes the buffer.
  QByteArrayView Peek() const noexcept { return QByteArrayView(bytes_.constData() + head_, size_); }

  // Drops every queued byte and the storage. Does not call RemovedNotify.
  void Clear() noexcept;

  // Queues `length` bytes of `bytes` from `offset` (clipped with ClipByteRun; -1 = to the end).
  // An empty buffer shares the caller's array instead of copying it when the whole array is
  // queued. Raises EIdTooMuchDataInBuffer when the queue would pass 2147483647 bytes; the buffer
  // is then unchanged.
  void AppendBytes(const QByteArray& bytes, int32_t length = -1, int32_t offset = 0);

  // Takes `count` bytes (negative: all) off the front into `bytes`: after its old end with
  // `append`, else at index 0 (the array is grown to at least `count` bytes, never shrunk).
  // A count of 0 does nothing. Raises EIdNotEnoughDataInBuffer when more than Size() bytes are
  // asked for; nothing is taken then.
  void ExtractBytes(QByteArray& bytes, int32_t count = -1, bool append = false);

  // Takes `count` bytes (negative: all) off the front and decodes them with `encoding`
  // (ekNone: TextEncoding()). A count of 0 gives the empty text. Raises as ExtractBytes and, for
  // an encoding of ekNone on both sides, EIdNoEncodingSpecified.
  QString ExtractText(int32_t count = -1, TextEncodingKind encoding = ekNone);

  // Writes `count` bytes (negative: all) from the front to the stream at its position and takes
  // them off. Raises EIdNotEnoughDataInBuffer (nothing written) or EIdStreamWriteError (nothing
  // taken off).
  void ExtractIntoStream(QIODevice& stream, int32_t count = -1);

  // Takes `count` bytes off the front (all of them when count >= Size()) and reports the
  // number removed through RemovedNotify. A count of 0 or less does nothing.
  void Discard(int32_t count);

  // Moves the queued bytes to the front of the storage. With `canShrink`, also cuts the storage
  // to Size() + GrowthStep() when it holds more spare room than that.
  void Compact(bool canShrink = false);

  // Index (relative to the head) of the first occurrence of `bytes` at or after `start`, or -1.
  // An empty buffer gives -1. Raises EIdException "Buffer terminator must be specified." for
  // empty `bytes`, "Buffer start position is invalid." for a start outside 0..Size()-1.
  int32_t FindBytes(QByteArrayView bytes, int32_t start = 0) const;
  // FindBytes of the text encoded with `encoding` (ekNone: TextEncoding()).
  int32_t FindText(QStringView text, int32_t start = 0, TextEncodingKind encoding = ekNone) const;

private:
  void CheckEnoughData(int32_t count) const;

  TIdStackHold stack_;
  QByteArray bytes_;
  TextEncodingKind encoding_ = ekASCII;
  int32_t growthStep_ = 2048;
  int32_t head_ = 0;
  int32_t size_ = 0;
  TIdBufferBytesRemoved removedNotify_;
};
