#include "net/IdBuffer.h"

#include "net/IdResourceStrings.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <limits>

int32_t ClipByteRun(qsizetype size, int32_t offset, int32_t length) {
  if (offset < 0 || offset >= size) {
    return 0;
  }
  const qsizetype available = size - offset;
  return static_cast<int32_t>(length < 0 ? available : std::min<qsizetype>(length, available));
}

void WriteToStream(QIODevice& stream, QByteArrayView bytes) {
  if (bytes.isEmpty()) {
    return;
  }
  if (stream.write(bytes.data(), bytes.size()) != bytes.size()) {
    throw EIdStreamWriteError(RSStreamWriteError());
  }
}

namespace {

// The storage for size queued bytes plus spare room, cut so that its length still fits the
// 32-bit count every caller reads it as.
qsizetype WithSpareRoom(int64_t size, int32_t spare) {
  return qsizetype(std::min<int64_t>(size + spare, std::numeric_limits<int32_t>::max()));
}

} // namespace

TIdBuffer::TIdBuffer(TIdBufferBytesRemoved removedNotify)
    : removedNotify_(std::move(removedNotify)) {}

TIdBuffer::~TIdBuffer() = default;

void TIdBuffer::Clear() noexcept {
  bytes_ = QByteArray();
  head_ = 0;
  size_ = 0;
}

void TIdBuffer::SetGrowthStep(int32_t step) {
  // Less than one byte of spare room would grow the storage short of what is appended.
  if (step < 1) {
    throw ERangeError(RSRangeCheckError());
  }
  growthStep_ = step;
}

void TIdBuffer::AppendBytes(const QByteArray& bytes, int32_t length, int32_t offset) {
  length = ClipByteRun(bytes.size(), offset, length);
  if (length == 0) {
    return;
  }
  if (int64_t(size_) + length > std::numeric_limits<int32_t>::max()) {
    throw EIdTooMuchDataInBuffer(RSTooMuchDataInBuffer());
  }

  if (size_ == 0) {
    // Sharing the caller's array costs nothing; it is copied only if either side writes to it.
    bytes_ = (offset == 0 && length == bytes.size()) ? bytes : bytes.mid(offset, length);
    head_ = 0;
    size_ = length;
    return;
  }
  if (Capacity() - head_ - size_ < length) {
    Compact(false);
    if (Capacity() - size_ < length) {
      bytes_.resize(WithSpareRoom(int64_t(size_) + length, growthStep_));
    }
  }
  std::memcpy(bytes_.data() + head_ + size_, bytes.constData() + offset, size_t(length));
  size_ += length;
}

void TIdBuffer::CheckEnoughData(int32_t count) const {
  if (count > size_) {
    throw EIdNotEnoughDataInBuffer(
        QStringLiteral("%1 (%2/%3)").arg(RSNotEnoughDataInBuffer()).arg(count).arg(size_));
  }
}

void TIdBuffer::ExtractBytes(QByteArray& bytes, int32_t count, bool append) {
  if (count < 0) {
    count = size_;
  }
  if (count < 1) {
    return;
  }
  CheckEnoughData(count);
  qsizetype at = 0;
  if (append) {
    at = bytes.size();
    bytes.resize(at + count);
  } else if (bytes.size() < count) {
    bytes.resize(count);
  }
  std::memcpy(bytes.data() + at, bytes_.constData() + head_, size_t(count));
  Discard(count);
}

QString TIdBuffer::ExtractText(int32_t count, TextEncodingKind encoding) {
  if (count < 0) {
    count = size_;
  }
  if (count < 1) {
    return {};
  }
  CheckEnoughData(count);
  QString text = DecodeBytes(Peek(), count, encoding == ekNone ? encoding_ : encoding);
  Discard(count);
  return text;
}

void TIdBuffer::ExtractIntoStream(QIODevice& stream, int32_t count) {
  if (count < 0) {
    count = size_;
  }
  CheckEnoughData(count);
  if (count < 1) {
    return;
  }
  // Written straight from the head: moving the bytes to the front first would gain nothing.
  WriteToStream(stream, Peek().first(count));
  Discard(count);
}

void TIdBuffer::Discard(int32_t count) {
  if (count < 1) {
    return;
  }
  if (count < size_) {
    head_ += count;
    size_ -= count;
    // Moving the queued bytes costs as much as there are of them: waiting until few are left
    // keeps every move below GrowthStep bytes, however small the pieces taken off a large
    // buffer. The storage is no larger than what arrived in the meantime.
    if (head_ > growthStep_ && size_ <= growthStep_) {
      Compact(true);
    }
  } else {
    count = size_;
    Clear();
  }
  if (removedNotify_) {
    removedNotify_(this, count);
  }
}

void TIdBuffer::Compact(bool canShrink) {
  if (head_ > 0) {
    std::memmove(bytes_.data(), bytes_.constData() + head_, size_t(size_));
    head_ = 0;
  }
  if (canShrink && Capacity() - size_ > growthStep_) {
    // Cut in place: the allocator gives the tail back without copying the queued bytes.
    bytes_.resize(WithSpareRoom(size_, growthStep_));
    bytes_.squeeze();
  }
}

int32_t TIdBuffer::FindBytes(QByteArrayView bytes, int32_t start) const {
  if (size_ == 0) {
    return -1;
  }
  if (bytes.isEmpty()) {
    throw EIdException(RSBufferMissingTerminator());
  }
  if (start < 0 || start >= size_) {
    throw EIdException(RSBufferInvalidStartPos());
  }
  return static_cast<int32_t>(Peek().indexOf(bytes, start));
}

int32_t TIdBuffer::FindText(QStringView text, int32_t start, TextEncodingKind encoding) const {
  return FindBytes(EncodeText(text, encoding == ekNone ? encoding_ : encoding), start);
}
