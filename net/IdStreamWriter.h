#pragma once

// TIdStreamWriter: where a read puts the bytes meant for a caller's stream.
//
// A body arrives in pieces of every size: whole receives of tens of kilobytes, or the data of
// chunks a few bytes long between their size lines. A stream written piece by piece would cost
// a system call for each (an unbuffered file) however small the piece. The writer passes large
// pieces on as they are, collects small ones and writes them in runs of up to kRunSize, and
// when the read is over cuts a stream that held more than was read at the position reached, so
// that what lay beyond belongs to no one.
//
// A writer is used by one thread at a time and does not own its stream.

#include "net/IdBodySink.h"

#include <QByteArrayView>
#include <QtGlobal>
#include <cstdint>
#include <memory>

class QIODevice;

// Cuts stream at its position when it holds more than that: a memory buffer is truncated, a
// file resized; a sequential stream, or one of another kind, is left as it is. Whatever lay
// beyond the position belongs to no one once a read or a retry has written up to it. Raises
// nothing of its own; a file that refuses the resize keeps its length.
void CutStreamAtPosition(QIODevice& stream);

class TIdStreamWriter final : public TIdBodySink {
public:
  // Pieces of at least kDirectSize bytes go to the stream as they are: copying them would cost
  // more than the write. Smaller ones are collected and written once they would pass kRunSize,
  // so that a body of tiny pieces costs a write per 16 KiB and the collecting never holds much.
  static constexpr int32_t kDirectSize = 4096;
  static constexpr int32_t kRunSize = 16384;

  // Writes to `stream` from its position; the stream must outlive the writer.
  explicit TIdStreamWriter(QIODevice& stream) noexcept : stream_(stream) {}
  Q_DISABLE_COPY(TIdStreamWriter)

  // Takes the bytes for the stream, after those taken before. Raises EIdStreamWriteError when
  // the stream refuses a write; the bytes collected so far are lost then. Raises std::bad_alloc
  // when the kRunSize bytes for collecting cannot be had.
  void Write(QByteArrayView bytes) override;
  // Writes what is collected and cuts the stream at its position when it holds more (a memory
  // buffer or a file; a sequential stream is left as it is). Raises EIdStreamWriteError as
  // Write; the cut is made even then. The writer may take further bytes afterwards.
  void Finish() override;

private:
  void WriteCollected();

  QIODevice& stream_;
  // kRunSize bytes, made when the first small piece comes.
  std::unique_ptr<char[]> collected_;
  int32_t collectedSize_ = 0;
};
