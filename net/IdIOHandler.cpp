#include "net/IdIOHandler.h"

#include "net/IdResourceStrings.h"
#include "net/IdStreamWriter.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// Where `byte` first occurs in `bytes` at or after `from`, or -1.
int32_t ByteIndex(QByteArrayView bytes, char byte, int32_t from) {
  const void* at = std::memchr(bytes.data() + from, byte, size_t(bytes.size() - from));
  return at ? static_cast<int32_t>(static_cast<const char*>(at) - bytes.data()) : -1;
}

template <typename Int> QByteArray IntegerBytes(Int value, bool networkOrder) {
  QByteArray bytes(sizeof(Int), Qt::Uninitialized);
  if (networkOrder) {
    qToBigEndian(value, bytes.data());
  } else {
    qToUnaligned(value, bytes.data());
  }
  return bytes;
}

template <typename Int> Int IntegerFromBytes(const QByteArray& bytes, bool networkOrder) {
  return networkOrder ? qFromBigEndian<Int>(bytes.constData())
                      : qFromUnaligned<Int>(bytes.constData());
}

} // namespace

TIdIOHandler::TIdIOHandler(QObject* owner)
    : TIdComponent(owner), pendingInput_(std::make_unique<TIdBuffer>(
                               [this](TIdBuffer*, int32_t count) { AdvanceWork(wmRead, count); })) {
}

TIdIOHandler::~TIdIOHandler() {
  if (!isOpen_) {
    return;
  }
  try {
    TIdIOHandler::Close();
  } catch (...) {
    // A failing intercept hook must not escape a destructor; the handler is closed regardless.
  }
}

// --- Settings -----------------------------------------------------------------------------------

QString TIdIOHandler::Destination() const {
  if (port_ > 0 && port_ != defaultPort_) {
    return host_ + u':' + QString::number(port_);
  }
  return host_;
}

void TIdIOHandler::SetDestination(const QString& destination) {
  const qsizetype colon = destination.lastIndexOf(u':');
  if (colon < 0) {
    return;
  }
  SetHost(destination.left(colon));
  SetPort(TextToInt32Def(Trim(QStringView(destination).mid(colon + 1)).left(255), defaultPort_));
}

void TIdIOHandler::SetRecvBufferSize(int32_t size) {
  if (size < 1) {
    throw ERangeError(RSRangeCheckError());
  }
  recvBufferSize_ = size;
}

void TIdIOHandler::SetSendBufferSize(int32_t size) {
  if (size < 1) {
    throw ERangeError(RSRangeCheckError());
  }
  sendBufferSize_ = size;
}

void TIdIOHandler::SetTextEncoding(TextEncodingKind encoding) {
  if (encoding == ekNone) {
    throw EIdNoEncodingSpecified(RSNoEncodingSpecified());
  }
  textEncoding_ = encoding;
}

TextEncodingKind TIdIOHandler::EncodingOr(TextEncodingKind encoding) const {
  return encoding == ekNone ? textEncoding_ : encoding;
}

int32_t TIdIOHandler::ResolveTimeout(int32_t timeout) const {
  if (timeout != kTimeoutDefault) {
    return timeout;
  }
  return readTimeout_ > 0 ? readTimeout_ : kTimeoutInfinite;
}

TIdIOHandler::BoundedWait TIdIOHandler::BoundWait(int32_t wait) const {
  if (!deadline_ || wait == 0) {
    return {wait, false};
  }
  using namespace std::chrono;
  const auto left = ceil<milliseconds>(*deadline_ - steady_clock::now()).count();
  if (left <= 0) {
    RaiseCallTimeout();
  }
  if (wait > 0 && wait <= left) {
    return {wait, false};
  }
  return {int32_t(std::min<int64_t>(left, std::numeric_limits<int32_t>::max())), true};
}

void TIdIOHandler::RaiseCallTimeout() {
  throw EIdCallTimeout(RSCallTimeout());
}

// --- Life ---------------------------------------------------------------------------------------

bool TIdIOHandler::Readable(int32_t) {
  return false;
}

void TIdIOHandler::CheckDisconnected(bool raise, bool ignoreBuffer) {
  bool disconnected;
  if (peerClosed_) {
    if (SourceAvailable()) {
      Close();
      ReportStatus(hsDisconnected);
    }
    disconnected = true;
  } else {
    disconnected = !SourceAvailable();
  }
  if (disconnected && raise && (ignoreBuffer || PendingInputEmpty())) {
    throw EIdConnClosedGracefully(RSConnectionClosedGracefully());
  }
}

bool TIdIOHandler::Connected() {
  CheckDisconnected(false, false);
  return isOpen_ && (!peerClosed_ || !PendingInputEmpty());
}

bool TIdIOHandler::CheckForData(int32_t timeout) {
  // Bytes already queued are the answer: waiting for more would only delay it.
  return Connected() && (!PendingInputEmpty() || FillPendingInput(false, timeout, false) > 0);
}

void TIdIOHandler::Open() {
  isOpen_ = false;
  peerClosed_ = false;
  ClearWriteBuffer();
  pendingInput_->Clear();
  isOpen_ = true;
}

void TIdIOHandler::Close() {
  try {
    if (auto* intercept = Intercept()) {
      intercept->Disconnect();
    }
  } catch (...) {
    isOpen_ = false;
    ClearWriteBuffer();
    throw;
  }
  isOpen_ = false;
  ClearWriteBuffer();
}

// --- Reading ------------------------------------------------------------------------------------

int32_t TIdIOHandler::FillPendingInput(bool raise, int32_t timeout, bool raiseOnTimeout) {
  return Fill(raise, timeout, raiseOnTimeout, recvBufferSize_);
}

int32_t TIdIOHandler::Fill(bool raise, int32_t timeout, bool raiseOnTimeout, int32_t receiveSize) {
  const int32_t wait = ResolveTimeout(timeout);
  CheckDisconnected(raise, false);
  if (!SourceAvailable()) {
    if (raise) {
      throw EIdException(RSNotConnected());
    }
    return 0;
  }
  for (;;) {
    const BoundedWait bounded = BoundWait(wait);
    if (!Readable(bounded.ms)) {
      if (bounded.byDeadline) {
        RaiseCallTimeout();
      }
      if (raiseOnTimeout) {
        throw EIdReadTimeout(RSReadTimeout());
      }
      return -1;
    }
    int32_t received = 0;
    int32_t queued = 0;
    if (isOpen_) {
      if (!SourceAvailable()) {
        throw EIdClosedSocket(RSStatusDisconnected());
      }
      QByteArray chunk(receiveSize, Qt::Uninitialized);
      received = ReceiveChunk(chunk);
      if (received > 0) {
        chunk.truncate(received);
        if (auto* intercept = Intercept()) {
          intercept->Receive(chunk);
        }
        queued = static_cast<int32_t>(chunk.size());
        pendingInput_->AppendBytes(chunk);
      }
    } else if (raise) {
      throw EIdNotConnected(RSNotConnected());
    }
    if (received == 0) {
      peerClosed_ = true;
    }
    CheckDisconnected(raise, false);
    if (queued > 0) {
      return queued;
    }
    // Either the peer closed, or an intercept kept the whole run back for now.
    if (!SourceAvailable()) {
      return 0;
    }
  }
}

QString TIdIOHandler::ReadLine(const QString& terminator, int32_t timeout, int32_t maxLength,
                               TextEncodingKind encoding) {
  encoding = EncodingOr(encoding);
  // The usual terminator is a view of a literal: a shared array would cost two atomic
  // reference counts on every line.
  QByteArray encoded;
  if (!terminator.isEmpty()) {
    encoded = EncodeText(terminator, encoding);
  }
  const QByteArrayView term = terminator.isEmpty() ? QByteArrayView("\n") : encoded;
  const TIdQueuedLine line = WaitForLine(term, timeout, maxLength);
  if (line.queued == 0) {
    return {};
  }
  QString text = DecodeBytes(line.bytes, line.bytes.size(), encoding);
  pendingInput_->Discard(line.queued);
  return text;
}

TIdQueuedLine TIdIOHandler::PeekLine(int32_t timeout, int32_t maxLength) {
  return WaitForLine("\n", timeout, maxLength);
}

TIdQueuedLine TIdIOHandler::WaitForLine(QByteArrayView term, int32_t timeout, int32_t maxLength) {
  lastLineSplit_ = false;
  lastLineTimedOut_ = false;
  const bool lineFeedOnly = term.size() == 1 && term[0] == '\n';
  if (maxLength < 0) {
    maxLength = maxLineLength_;
  }
  const auto tooLong = [&] {
    if (maxLineAction_ == maException) {
      throw EIdReadLnMaxLineLengthExceeded(RSReadLnMaxLineLengthExceeded());
    }
    lastLineSplit_ = true;
    return TIdQueuedLine{pendingInput_->Peek().first(maxLength), maxLength};
  };

  // Taken at the first wait only: a line found among the queued bytes needs no clock.
  std::optional<uint32_t> started;
  int32_t searchStart = 0;
  for (;;) {
    int32_t found = -1;
    const int32_t size = pendingInput_->Size();
    if (size > 0) {
      // A line end of one byte, the common case, is searched for as a byte, which skips the
      // general search's setting up for every line.
      if (searchStart < size) {
        found = term.size() == 1 ? ByteIndex(pendingInput_->Peek(), term[0], searchStart)
                                 : pendingInput_->FindBytes(term, searchStart);
      }
      // Only the last bytes could begin a terminator that the next receive completes.
      searchStart = std::max(size - static_cast<int32_t>(term.size()) + 1, 0);
    }
    if (found >= 0) {
      if (maxLength > 0 && found > maxLength) {
        return tooLong();
      }
      int32_t lineLength = found;
      if (lineFeedOnly && found > 0 && pendingInput_->Peek()[found - 1] == '\r') {
        --lineLength;
      }
      return TIdQueuedLine{pendingInput_->Peek().first(lineLength),
                           found + static_cast<int32_t>(term.size())};
    }
    if (maxLength > 0 && searchStart > maxLength) {
      return tooLong();
    }

    CheckDisconnected(true, true);
    // An explicit limit covers the whole line, not each receive: wait only what is left of it.
    int32_t wait = timeout;
    if (timeout >= 0) {
      const uint32_t now = Ticks32();
      if (!started) {
        started = now;
      } else if (TickDiff32(*started, now) >= uint32_t(timeout)) {
        lastLineTimedOut_ = true;
        return {};
      }
      wait = timeout - static_cast<int32_t>(TickDiff32(*started, now));
    }
    if (FillPendingInput(true, wait, false) == -1) {
      lastLineTimedOut_ = true;
      return {};
    }
  }
}

QString TIdIOHandler::ReadLineWait(int32_t attempts, TextEncodingKind encoding) {
  for (int32_t attempt = 0; attempt < attempts; ++attempt) {
    QString line = Trim(ReadLine({}, kTimeoutDefault, -1, encoding));
    if (!line.isEmpty()) {
      return line;
    }
    if (lastLineTimedOut_) {
      throw EIdReadTimeout(RSReadTimeout());
    }
  }
  throw EIdReadLnWaitMaxAttemptsExceeded(RSReadLnWaitMaxAttemptsExceeded());
}

int32_t TIdIOHandler::WaitForInput(int32_t count, int32_t receiveSize) {
  int32_t last = 0;
  while (pendingInput_->Size() < count) {
    last = Fill(false, kTimeoutDefault, true, receiveSize);
    if (last <= 0 || pendingInput_->Size() < count) {
      CheckDisconnected(true, true);
    }
  }
  return last;
}

void TIdIOHandler::ReadBytes(QByteArray& bytes, int32_t count, bool append) {
  if (count > 0) {
    WaitForInput(count, recvBufferSize_);
    pendingInput_->ExtractBytes(bytes, count, append);
  } else if (count < 0) {
    FillPendingInput(false, kTimeoutDefault, false);
    CheckDisconnected(true, true);
    pendingInput_->ExtractBytes(bytes, -1, append);
  }
}

void TIdIOHandler::ReadStream(QIODevice& stream, int64_t count, bool untilClose) {
  TIdStreamWriter writer(stream);
  try {
    ReadStream(writer, count, untilClose);
  } catch (...) {
    writer.Finish();
    throw;
  }
  writer.Finish();
}

void TIdIOHandler::ReadStream(TIdBodySink& sink, int64_t count, bool untilClose,
                              TIdBulkReceive* parts) {
  if (count == -1 && !untilClose) {
    count = use64BitCounts_ ? ReadInt64() : ReadInt32();
  }
  // The stream grows only by what arrives: an announced count reserves nothing, so a peer that
  // announces gigabytes and sends a few bytes costs a few bytes.
  int64_t remaining = untilClose ? std::numeric_limits<int64_t>::max() : count;
  StartWork(wmRead, untilClose ? 0 : std::max<int64_t>(count, 0));
  // A long run is received in steps that double while the receives come back full, up to
  // kBulkReceiveLimit (kPartReceiveLimit for the parts of a longer read): the system calls per
  // megabyte fall, and the array asked for is never more than twice what the previous receive
  // brought.
  TIdBulkReceive own;
  int32_t& bulk = (parts != nullptr ? *parts : own).size;
  bulk = std::max(bulk, recvBufferSize_);
  try {
    while (remaining > 0) {
      if (PendingInputEmpty()) {
        const auto asked =
            parts != nullptr
                ? bulk
                : static_cast<int32_t>(std::clamp<int64_t>(remaining, recvBufferSize_, bulk));
        int32_t received = 0;
        try {
          received = WaitForInput(1, asked);
        } catch (const EIdConnClosedGracefully&) {
          if (untilClose) {
            break;
          }
          throw;
        }
        const int32_t limit = parts != nullptr ? kPartReceiveLimit : kBulkReceiveLimit;
        if (received >= asked && asked == bulk && bulk < limit) {
          bulk = std::min(bulk * 2, limit);
        }
      }
      const auto take = static_cast<int32_t>(std::min<int64_t>(pendingInput_->Size(), remaining));
      sink.Write(pendingInput_->Peek().first(take));
      pendingInput_->Discard(take);
      remaining -= take;
    }
  } catch (...) {
    FinishWork(wmRead);
    throw;
  }
  FinishWork(wmRead);
}

QString TIdIOHandler::ReadChar(TextEncodingKind encoding) {
  encoding = EncodingOr(encoding);
  QByteArray byte;
  if (encoding != ekUTF8) {
    ReadBytes(byte, 1, false);
    return DecodeBytes(byte, 1, encoding);
  }
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString character;
  while (character.isEmpty()) {
    ReadBytes(byte, 1, false);
    character = decoder.decode(byte);
  }
  return character;
}

int32_t TIdIOHandler::ReadInt32(bool convert) {
  QByteArray bytes;
  ReadBytes(bytes, 4, false);
  return IntegerFromBytes<int32_t>(bytes, convert);
}

int64_t TIdIOHandler::ReadInt64(bool convert) {
  QByteArray bytes;
  ReadBytes(bytes, 8, false);
  return IntegerFromBytes<int64_t>(bytes, convert);
}

template <typename Store>
int32_t TIdIOHandler::CaptureLinesInto(Store&& store, const QString& endMarker, bool dotUnescape,
                                       TextEncodingKind encoding) {
  int32_t stored = 0;
  for (;;) {
    QString line = ReadLine({}, kTimeoutDefault, -1, encoding);
    // A time-out gives an empty line too; storing it would loop until the peer speaks again.
    if (lastLineTimedOut_) {
      throw EIdReadTimeout(RSReadTimeout());
    }
    if (line == endMarker) {
      return stored;
    }
    if (dotUnescape && line.startsWith(u"..")) {
      line.remove(0, 1);
    }
    if (captureLineLimit_ > 0 && stored > captureLineLimit_) {
      throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded());
    }
    store(line);
    ++stored;
  }
}

int32_t TIdIOHandler::CaptureLines(QStringList& lines, const QString& endMarker, bool dotUnescape,
                                   TextEncodingKind encoding) {
  return CaptureLinesInto([&](const QString& line) { lines.append(line); }, endMarker, dotUnescape,
                          encoding);
}

int32_t TIdIOHandler::CaptureLines(QIODevice* stream, const QString& endMarker, bool dotUnescape,
                                   TextEncodingKind encoding) {
  if (!stream) {
    throw EIdObjectTypeNotSupported(RSObjectTypeNotSupported());
  }
  encoding = EncodingOr(encoding);
  return CaptureLinesInto(
      [&](const QString& line) {
        WriteToStream(*stream, EncodeText(line + QStringLiteral("\r\n"), encoding));
      },
      endMarker, dotUnescape, encoding);
}

QString TIdIOHandler::ReadAll(TextEncodingKind encoding) {
  try {
    // Each wait under the ReadTimeout rule: a peer that neither sends nor closes ends the
    // reading once the limit passes, instead of being polled for ever.
    while (FillPendingInput(false, kTimeoutDefault, true) != 0) {
    }
  } catch (const EIdCallTimeout&) {
    throw;
  } catch (const EIdException&) {
    // The close (or a failure) is where "all" ends; what came before it is the answer.
  }
  return PendingInputAsText(encoding);
}

QString TIdIOHandler::PendingInputAsText(TextEncodingKind encoding) {
  return pendingInput_->ExtractText(-1, EncodingOr(encoding));
}

// --- Writing ------------------------------------------------------------------------------------

void TIdIOHandler::Write(const QString& text, TextEncodingKind encoding) {
  if (!text.isEmpty()) {
    WriteBytes(EncodeText(text, EncodingOr(encoding)));
  }
}

void TIdIOHandler::WriteChar(QChar c, TextEncodingKind encoding) {
  Write(QString(c), encoding);
}

void TIdIOHandler::WriteInt32(int32_t value, bool convert) {
  WriteBytes(IntegerBytes(value, convert));
}

void TIdIOHandler::WriteInt64(int64_t value, bool convert) {
  WriteBytes(IntegerBytes(value, convert));
}

void TIdIOHandler::WriteLine(const QString& text, TextEncodingKind encoding) {
  Write(text + QStringLiteral("\r\n"), encoding);
}

void TIdIOHandler::WriteLineDotEscaped(const QString& text, TextEncodingKind encoding) {
  WriteLine(text.startsWith(u'.') ? u'.' + text : text, encoding);
}

void TIdIOHandler::WriteLines(const QStringList& lines, bool writeCount,
                              TextEncodingKind encoding) {
  const bool ownBuffering = !WriteBufferingActive();
  if (ownBuffering) {
    BeginWriteBuffering();
  }
  try {
    if (writeCount) {
      WriteInt32(static_cast<int32_t>(lines.size()));
    }
    for (const QString& line : lines) {
      WriteLine(line, encoding);
    }
  } catch (...) {
    if (ownBuffering) {
      CancelWriteBuffering();
    }
    throw;
  }
  if (ownBuffering) {
    EndWriteBuffering();
  }
}

void TIdIOHandler::WriteBytes(const QByteArray& bytes, int32_t length, int32_t offset) {
  length = ClipByteRun(bytes.size(), offset, length);
  if (length == 0) {
    return;
  }
  if (!pendingOutput_) {
    SendDirect(bytes, length, offset);
    return;
  }
  pendingOutput_->AppendBytes(bytes, length, offset);
  if (flushThreshold_ > 0) {
    while (pendingOutput_ && pendingOutput_->Size() >= flushThreshold_) {
      FlushWriteBuffer(flushThreshold_);
    }
  }
}

void TIdIOHandler::SendDirect(const QByteArray& bytes, int32_t length, int32_t offset) {
  CheckDisconnected(true, true);
  // A shared copy: the caller's bytes stay untouched even when an intercept rewrites the run.
  QByteArray run = (offset == 0 && length == bytes.size()) ? bytes : bytes.mid(offset, length);
  if (auto* intercept = Intercept()) {
    intercept->Send(run);
  }
  const auto total = static_cast<int32_t>(run.size());
  for (int32_t sent = 0; sent < total;) {
    const int32_t count = SendChunk(run, sent, total - sent);
    if (count <= 0) {
      peerClosed_ = true;
    }
    CheckDisconnected(true, false);
    if (count <= 0) { // gone, though input is still queued for reading
      throw EIdConnClosedGracefully(RSConnectionClosedGracefully());
    }
    AdvanceWork(wmWrite, count);
    sent += count;
  }
}

void TIdIOHandler::WriteStream(QIODevice& stream, int64_t size, bool writeSize) {
  if (size < 0) {
    size = stream.size() - stream.pos();
  } else if (size == 0) {
    stream.seek(0);
    size = stream.size();
  }
  if (size > std::numeric_limits<int32_t>::max() && !use64BitCounts_) {
    throw EIdIOHandlerRequiresLargeStream(RSRequiresLargeStream());
  }
  if (writeSize) {
    if (use64BitCounts_) {
      WriteInt64(size);
    } else {
      WriteInt32(static_cast<int32_t>(size));
    }
  }
  StartWork(wmWrite, size);
  try {
    QByteArray chunk;
    for (int64_t remaining = size; remaining > 0;) {
      chunk.resize(std::min<int64_t>(sendBufferSize_, remaining));
      const qint64 read = stream.read(chunk.data(), chunk.size());
      if (read <= 0) {
        throw EIdNoDataToRead(RSNoDataToRead());
      }
      WriteBytes(chunk, static_cast<int32_t>(read));
      remaining -= read;
    }
  } catch (...) {
    FinishWork(wmWrite);
    throw;
  }
  FinishWork(wmWrite);
}

int64_t TIdIOHandler::WriteFileContents(const QString& fileName) {
  QFile file(fileName);
  if (!file.exists()) {
    throw EIdFileNotFound(RSFileNotFound().arg(fileName));
  }
  if (!file.open(QIODevice::ReadOnly)) {
    throw EIdFileOpenFailed(RSFileOpenFailed().arg(fileName));
  }
  const int64_t size = file.size();
  WriteStream(file, 0, false);
  return size;
}

void TIdIOHandler::BeginWriteBuffering(int32_t threshold) {
  if (pendingOutput_) {
    pendingOutput_->Clear();
  } else {
    pendingOutput_ = std::make_unique<TIdBuffer>();
  }
  flushThreshold_ = threshold;
}

void TIdIOHandler::FlushWriteBuffer(int32_t count) {
  if (!pendingOutput_ || pendingOutput_->Size() == 0) {
    return;
  }
  QByteArray run;
  pendingOutput_->ExtractBytes(run, count, false);
  SendDirect(run);
}

void TIdIOHandler::EndWriteBuffering() {
  try {
    FlushWriteBuffer(-1);
  } catch (...) {
    pendingOutput_.reset();
    throw;
  }
  pendingOutput_.reset();
}

void TIdIOHandler::ClearWriteBuffer() noexcept {
  if (pendingOutput_) {
    pendingOutput_->Clear();
  }
}

void TIdIOHandler::CancelWriteBuffering() noexcept {
  pendingOutput_.reset();
}
