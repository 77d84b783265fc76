#include "net/IdStreamWriter.h"

#include "net/IdBuffer.h"

#include <QBuffer>
#include <QFileDevice>
#include <QIODevice>

#include <cstring>
#include <utility>

void CutStreamAtPosition(QIODevice& stream) {
  if (stream.isSequential()) {
    return;
  }
  const qint64 position = stream.pos();
  if (stream.size() <= position) {
    return;
  }
  if (auto* buffer = qobject_cast<QBuffer*>(&stream)) {
    buffer->buffer().truncate(position);
  } else if (auto* file = qobject_cast<QFileDevice*>(&stream)) {
    file->resize(position);
  }
}

void TIdStreamWriter::Write(QByteArrayView bytes) {
  const auto size = static_cast<int32_t>(bytes.size());
  if (size >= kDirectSize) {
    WriteCollected();
    WriteToStream(stream_, bytes);
    return;
  }
  if (collectedSize_ + size > kRunSize) {
    WriteCollected();
  }
  if (!collected_) {
    collected_ = std::make_unique_for_overwrite<char[]>(kRunSize);
  }
  std::memcpy(collected_.get() + collectedSize_, bytes.data(), size_t(size));
  collectedSize_ += size;
}

void TIdStreamWriter::WriteCollected() {
  // Emptied either way: bytes the stream refused are not offered to it a second time.
  const int32_t size = std::exchange(collectedSize_, 0);
  WriteToStream(stream_, QByteArrayView(collected_.get(), size));
}

void TIdStreamWriter::Finish() {
  try {
    WriteCollected();
  } catch (...) {
    CutStreamAtPosition(stream_);
    throw;
  }
  CutStreamAtPosition(stream_);
}
