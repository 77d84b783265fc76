#pragma once

// TIdIOHandler: the abstract I/O handler every connection reads and writes through.
//
// It pulls whatever the source has into the input queue PendingInput() and offers the reads a
// protocol needs (a line up to a terminator, an exact number of bytes, a stream by count, by
// count prefix or until the peer closes, everything until the close) and the writes (text in a
// chosen encoding, CR LF lines, byte runs, streams, files), optionally collected in an output
// queue first. It knows nothing of sockets: a concrete handler supplies readability with a time
// limit, chunk receive, chunk send and whether a source exists.
//
// Read progress is reported (wmRead) as bytes leave PendingInput, not as they arrive; write
// progress (wmWrite) after every chunk sent. A handler is used by one thread at a time.
//
// Time limits are milliseconds, with the sentinels of net/IdTimeouts.h: kTimeoutDefault for
// "ReadTimeout()", kTimeoutInfinite for no limit; 0 means a poll.
// Every read may block until data arrives, the peer closes, or the time limit passes.

#include "net/IdBuffer.h"
#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdGlobal.h"
#include "net/IdIntercept.h"
#include "net/IdTimeouts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

class QIODevice;
class TIdBodySink;

// A line grew past the line length limit under maException: "Max line length exceeded.".
MARQUELO_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException)
// ReadLineWait read only blank lines: "Max line read attempts exceeded.".
MARQUELO_DECLARE_EXCEPTION(EIdReadLnWaitMaxAttemptsExceeded, EIdException)
// WriteFileContents of a missing file: "File "<name>" not found".
MARQUELO_DECLARE_EXCEPTION(EIdFileNotFound, EIdException)
// WriteFileContents of a file that exists but cannot be opened: "Cannot open file "<name>".".
MARQUELO_DECLARE_EXCEPTION(EIdFileOpenFailed, EIdException)
// WriteStream found the stream shorter than announced: "No data to read.".
MARQUELO_DECLARE_EXCEPTION(EIdNoDataToRead, EIdException)
// A stream above 2147483647 bytes with 32-bit counts.
MARQUELO_DECLARE_EXCEPTION(EIdIOHandlerRequiresLargeStream, EIdException)
// CaptureLines without a target: "Object type not supported.".
MARQUELO_DECLARE_EXCEPTION(EIdObjectTypeNotSupported, EIdException)
// CaptureLines past CaptureLineLimit: "Maximum number of line allowed exceeded".
MARQUELO_DECLARE_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException)

// What a line longer than the limit does: raise, or come back cut at the limit.
enum TIdMaxLineAction : uint8_t { maException, maSplit };

// A line found in the input queue and left there (PeekLine).
struct TIdQueuedLine {
  // The line without its line end; valid until the input queue next changes.
  QByteArrayView bytes;
  // What taking the line off the queue discards, line end included; 0 when the wait for the
  // line timed out.
  int32_t queued = 0;
};

// The receive size a read of many parts carries from one part to the next (ReadStream).
struct TIdBulkReceive {
  // 0 until the first part's first receive, which starts at RecvBufferSize.
  int32_t size = 0;
};

class TIdIOHandler : public TIdComponent {
public:
  // A closed handler with empty queues; holds the socket stack (raises what AcquireStack
  // raises). owner (may be null) frees the handler with itself.
  explicit TIdIOHandler(QObject* owner = nullptr);
  // Runs this class's Close (a subclass closes its own source in its destructor first) and
  // frees both queues. Raises nothing.
  ~TIdIOHandler() override;

  // --- Settings -----------------------------------------------------------------------------

  QString Host() const { return host_; }
  virtual void SetHost(const QString& host) { host_ = host; }
  int32_t Port() const noexcept { return port_; }
  virtual void SetPort(int32_t port) { port_ = port; }
  // The port Destination() leaves out and falls back to; 0 unless a subclass sets one.
  uint16_t DefaultPort() const noexcept { return defaultPort_; }
  void SetDefaultPort(uint16_t port) noexcept { defaultPort_ = port; }
  // Host, then ":" and Port when Port > 0 and differs from DefaultPort.
  virtual QString Destination() const;
  // Splits at the last ":" (text without one changes nothing): Host is the part before, Port
  // the part after, trimmed and cut to 255 characters, or DefaultPort when it is not a number.
  virtual void SetDestination(const QString& destination);

  // The intercept that sees every received and sent run, or null. Not owned; cleared when it
  // is destroyed.
  TIdConnectionIntercept* Intercept() const noexcept { return intercept_.data(); }
  virtual void SetIntercept(TIdConnectionIntercept* intercept) { intercept_ = intercept; }

  // Longest line ReadLine accepts when it is given no limit of its own (default 16384).
  int32_t MaxLineLength() const noexcept { return maxLineLength_; }
  void SetMaxLineLength(int32_t length) noexcept { maxLineLength_ = length; }
  TIdMaxLineAction MaxLineAction() const noexcept { return maxLineAction_; }
  void SetMaxLineAction(TIdMaxLineAction action) noexcept { maxLineAction_ = action; }

  // Bytes asked of the source per receive (default 32768). Raises ERangeError below 1.
  int32_t RecvBufferSize() const noexcept { return recvBufferSize_; }
  void SetRecvBufferSize(int32_t size);
  // Largest run taken from a stream per write (default 32768). Raises ERangeError below 1.
  int32_t SendBufferSize() const noexcept { return sendBufferSize_; }
  void SetSendBufferSize(int32_t size);

  // Wait limit for data in milliseconds; -1 (default) and 0 both mean no limit.
  int32_t ReadTimeout() const noexcept { return readTimeout_; }
  void SetReadTimeout(int32_t timeout) noexcept { readTimeout_ = timeout; }
  // The moment the call this handler serves must end by, or none (the default). Each wait of
  // the handler then ends there at the latest: every fill (FillPendingInput, and so every read),
  // a concrete handler's connect and its own waits (through BoundWait). Reaching it raises
  // EIdCallTimeout "Call timed out.". A poll (a wait of 0) never waits, so it is left alone.
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  Deadline CallDeadline() const noexcept { return deadline_; }
  void SetCallDeadline(Deadline deadline) noexcept { deadline_ = deadline; }
  // Connect time limit for the lookup and the attempts together, kept here for the concrete
  // handler (0 or less: none of its own).
  int32_t ConnectTimeout() const noexcept { return connectTimeout_; }
  void SetConnectTimeout(int32_t timeout) noexcept { connectTimeout_ = timeout; }

  // 64-bit stream sizes and count prefixes instead of 32-bit ones (default false).
  bool Use64BitCounts() const noexcept { return use64BitCounts_; }
  void SetUse64BitCounts(bool use) noexcept { use64BitCounts_ = use; }
  // Lines CaptureLines may store (-1 = no limit; see CaptureLines).
  int32_t CaptureLineLimit() const noexcept { return captureLineLimit_; }
  void SetCaptureLineLimit(int32_t limit) noexcept { captureLineLimit_ = limit; }

  // Encoding of text where an operation is given ekNone (default ekASCII). Raises
  // EIdNoEncodingSpecified for ekNone.
  TextEncodingKind TextEncoding() const noexcept { return textEncoding_; }
  void SetTextEncoding(TextEncodingKind encoding);

  // --- State --------------------------------------------------------------------------------

  // Between Open and Close.
  bool IsOpen() const noexcept { return isOpen_; }
  // A receive found the peer's orderly close; reset by Open.
  bool PeerClosed() const noexcept { return peerClosed_; }
  // The last ReadLine came back cut at the length limit (maSplit).
  bool LastLineSplit() const noexcept { return lastLineSplit_; }
  // The last ReadLine came back empty because its time limit passed.
  bool LastLineTimedOut() const noexcept { return lastLineTimedOut_; }
  // The input queue; owned by the handler, lives as long as it.
  TIdBuffer& PendingInput() noexcept { return *pendingInput_; }
  const TIdBuffer& PendingInput() const noexcept { return *pendingInput_; }
  // The output queue while write buffering is on, else null. Owned by the handler.
  TIdBuffer* PendingOutput() noexcept { return pendingOutput_.get(); }
  bool WriteBufferingActive() const noexcept { return pendingOutput_ != nullptr; }
  // Size at which buffered writes are flushed (-1 = only on request).
  int32_t FlushThreshold() const noexcept { return flushThreshold_; }

  // --- What a concrete handler supplies -----------------------------------------------------

  // Receives into `buffer`, at most buffer.size() bytes; returns the count (0 = the peer closed
  // in order). May block until data or the close arrives; raises on a failure of the source.
  virtual int32_t ReceiveChunk(QByteArray& buffer) = 0;
  // Sends up to `length` bytes of `bytes` from `offset`; returns how many were taken (0 = the
  // peer has gone). May block while the peer's window is full; raises on a failure.
  virtual int32_t SendChunk(const QByteArray& bytes, int32_t offset, int32_t length) = 0;
  // A source exists (for a socket handler: the socket is allocated).
  virtual bool SourceAvailable() const = 0;
  // Waits up to `timeout` ms (negative: no limit) until data or a close can be received.
  // The base has no source and returns false at once.
  virtual bool Readable(int32_t timeout);

  // The peer-close rule: once PeerClosed is seen while the source still exists, closes the
  // handler and reports hsDisconnected. With `raise`, raises EIdConnClosedGracefully
  // "Connection Closed Gracefully." when disconnected and (ignoreBuffer or nothing is queued).
  virtual void CheckDisconnected(bool raise, bool ignoreBuffer);
  // After CheckDisconnected(false, false): open and (peer not closed or bytes still queued).
  virtual bool Connected();
  // Connected, and bytes are queued already (answered at once) or one fill within `timeout`
  // brought some. May block up to `timeout`.
  virtual bool CheckForData(int32_t timeout);

  // Resets for a new connection: clears PeerClosed, both queues, and marks the handler open.
  virtual void Open();
  // Runs the intercept's disconnect hook, marks the handler closed and drops buffered output,
  // the last two also when the hook raises. Queued input stays readable until the next Open.
  virtual void Close();

  // --- Reading ------------------------------------------------------------------------------

  // One receive into PendingInput. Returns the count queued, 0 when there is no source or
  // the peer closed, -1 when `timeout` passed (kTimeoutDefault: the ReadTimeout rule). With
  // `raise`: no source raises EIdConnClosedGracefully "Connection Closed Gracefully." while
  // nothing is queued (else EIdException "Not Connected"), a handler that is not open raises
  // EIdNotConnected "Not Connected", and a close seen by this receive raises
  // EIdConnClosedGracefully once nothing is queued. With `raiseOnTimeout`, a time-out raises
  // EIdReadTimeout "Read timed out.". EIdClosedSocket "Disconnected." when the source went
  // away during the wait. Blocks up to the time limit.
  int32_t FillPendingInput(bool raise = true, int32_t timeout = kTimeoutDefault,
                           bool raiseOnTimeout = true);

  // The next line without its terminator (empty terminator: LF; with LF, a CR before it goes
  // too). `maxLength` -1 means MaxLineLength(); 0 or less no limit. A line longer than the
  // limit raises EIdReadLnMaxLineLengthExceeded under maException, or comes back as its first
  // `maxLength` bytes with LastLineSplit() set under maSplit (the rest stays queued). When the
  // time limit passes the result is empty and LastLineTimedOut() is set. A peer close before
  // the terminator raises EIdConnClosedGracefully; the partial line stays queued. Bytes
  // already searched are never searched again while the line grows.
  QString ReadLine(const QString& terminator = {}, int32_t timeout = kTimeoutDefault,
                   int32_t maxLength = -1, TextEncodingKind encoding = ekNone);
  // The next line ended by LF, found and waited for exactly as ReadLine finds it (the CR before
  // the LF is not part of it; the same limits, time-outs and failures), but left queued as bytes,
  // for readers that need no text: PendingInput().Discard(line.queued) takes it off. A time-out
  // gives queued 0 with LastLineTimedOut() set.
  TIdQueuedLine PeekLine(int32_t timeout = kTimeoutDefault, int32_t maxLength = -1);
  // The first line that is not blank, trimmed, within `attempts` lines. Raises EIdReadTimeout
  // when a line times out, EIdReadLnWaitMaxAttemptsExceeded after `attempts` blank lines.
  QString ReadLineWait(int32_t attempts, TextEncodingKind encoding = ekNone);
  // count > 0: exactly count bytes, waiting under the ReadTimeout rule (EIdReadTimeout; a close
  // raises EIdConnClosedGracefully and leaves what came queued). count < 0: what one receive
  // gives plus what was queued. Bytes go after the array's end with `append`, else at 0.
  void ReadBytes(QByteArray& bytes, int32_t count, bool append = true);
  // Bytes into the stream at its position: `count` bytes, or with count -1 a count prefix read
  // first (32 or 64 bits by Use64BitCounts, network order); with `untilClose` everything until
  // the peer closes (then the close is the normal end). The stream never grows ahead of the
  // bytes that arrived; at the end it is cut at its position. A short read raises after
  // writing what came (EIdConnClosedGracefully, EIdReadTimeout). Reports wmRead work.
  void ReadStream(QIODevice& stream, int64_t count = -1, bool untilClose = false);
  // The same into a sink, which the caller finishes once every read for its body is done: a
  // stream's writer (TIdStreamWriter) also when one raises, so that several reads cost one cut of
  // the stream and their small runs are written together. What the sink raises passes out.
  // With `parts`, the read is one part of a longer one (a chunk of a body): the receives keep
  // the size they grew to in the parts before, and ask for that size whatever is left of this
  // part, so that they run ahead of it; what arrives beyond the part stays queued for the next.
  void ReadStream(TIdBodySink& sink, int64_t count = -1, bool untilClose = false,
                  TIdBulkReceive* parts = nullptr);
  // The largest receive a long stream read grows to. Its receives start at RecvBufferSize and
  // double while they come back full.
  static constexpr int32_t kBulkReceiveLimit = 262144;
  // The largest receive a read of many parts grows to. Its parts take small pieces off the
  // queue, which then gives back its spare room often; an array of this size stays in the
  // allocator's heap, where that costs nothing, while a larger one is mapped on its own and
  // every new one is faulted in page by page (256 KiB receives made a body of 256-byte chunks
  // four times slower).
  static constexpr int32_t kPartReceiveLimit = 65536;
  // One character: a single byte for ekASCII and ek8Bit; for ekUTF8 bytes until they decode to
  // a character (a surrogate pair for one above U+FFFF; a malformed sequence gives U+FFFD
  // followed by whatever the byte that ended it decodes to). Blocks and raises as ReadBytes.
  QString ReadChar(TextEncodingKind encoding = ekNone);
  // 4 or 8 bytes as an integer, from network order with `convert`. Blocks and raises as
  // ReadBytes.
  int32_t ReadInt32(bool convert = true);
  int64_t ReadInt64(bool convert = true);
  // ReadLine until a line equals `endMarker` (which is not stored). With `dotUnescape` a line
  // starting with ".." loses its first dot. Returns the count of lines stored. Raises
  // EIdMaxCaptureLineExceeded when CaptureLineLimit() > 0 and more lines than the limit are
  // already stored as another arrives; raises what ReadLine raises.
  int32_t CaptureLines(QStringList& lines, const QString& endMarker = QStringLiteral("."),
                       bool dotUnescape = true, TextEncodingKind encoding = ekNone);
  // The same, writing each line followed by CR LF in the encoding to the stream. A null stream
  // raises EIdObjectTypeNotSupported.
  int32_t CaptureLines(QIODevice* stream, const QString& endMarker = QStringLiteral("."),
                       bool dotUnescape = true, TextEncodingKind encoding = ekNone);
  // Everything until the peer closes, as text; each wait for more is bounded by ReadTimeout
  // (none with no limit). A transport failure or the read limit ends the reading quietly and
  // the text queued so far is returned; the call's deadline raises EIdCallTimeout.
  QString ReadAll(TextEncodingKind encoding = ekNone);
  // Nothing is queued for reading.
  bool PendingInputEmpty() const noexcept { return pendingInput_->Size() == 0; }
  // Takes the whole input queue as text.
  QString PendingInputAsText(TextEncodingKind encoding = ekNone);

  // --- Writing ------------------------------------------------------------------------------
  // Every write goes to the output queue while write buffering is on, else straight to the
  // peer (blocking until all is sent). Sending raises EIdConnClosedGracefully when the peer has
  // gone and what SendChunk raises.

  // The text in the encoding; empty text writes nothing.
  void Write(const QString& text, TextEncodingKind encoding = ekNone);
  void WriteChar(QChar c, TextEncodingKind encoding = ekNone);
  // 4 or 8 bytes, in network order with `convert`.
  void WriteInt32(int32_t value, bool convert = true);
  void WriteInt64(int64_t value, bool convert = true);
  // The text followed by CR LF.
  void WriteLine(const QString& text = {}, TextEncodingKind encoding = ekNone);
  // WriteLine, with a second "." in front of a text that starts with ".".
  void WriteLineDotEscaped(const QString& text, TextEncodingKind encoding = ekNone);
  // Each line with WriteLine, after a 32-bit network-order count with `writeCount`, collected
  // and sent in one go (inside an outer write buffering when one is on).
  void WriteLines(const QStringList& lines, bool writeCount = false,
                  TextEncodingKind encoding = ekNone);
  // `length` bytes of `bytes` from `offset` (clipped; -1 = to the end). With buffering on, the
  // output queue is flushed in FlushThreshold() runs while it holds at least that much.
  void WriteBytes(const QByteArray& bytes, int32_t length = -1, int32_t offset = 0);
  // `size` bytes of the stream: size < 0 from its position to the end, size 0 the whole stream
  // from position 0. With `writeSize` the size goes first (WriteInt64 or WriteInt32). Raises
  // EIdIOHandlerRequiresLargeStream for a size above 2147483647 without Use64BitCounts,
  // EIdNoDataToRead when the stream ends early. Reports wmWrite work.
  void WriteStream(QIODevice& stream, int64_t size = 0, bool writeSize = false);
  // The whole file through WriteStream; returns its size. Raises EIdFileNotFound for a missing
  // file, EIdFileOpenFailed for one that cannot be read.
  int64_t WriteFileContents(const QString& fileName);

  // Turns write buffering on with an empty output queue; `threshold` -1 flushes only on
  // request.
  void BeginWriteBuffering(int32_t threshold = -1);
  // Sends `count` bytes (-1 = all) from the front of the output queue; nothing when buffering
  // is off or the queue is empty. Raises EIdNotEnoughDataInBuffer past the queue's size.
  void FlushWriteBuffer(int32_t count = -1);
  // Flushes everything and turns buffering off; buffering is off even when the flush raises.
  void EndWriteBuffering();
  // Drops the buffered output; buffering stays on.
  void ClearWriteBuffer() noexcept;
  // Drops the buffered output and turns buffering off.
  void CancelWriteBuffering() noexcept;

protected:
  // For subclasses whose source reports the close another way.
  void SetPeerClosed(bool closed) noexcept { peerClosed_ = closed; }

  // A wait cut to the time left of the call: `ms` to wait (negative: no limit), and whether the
  // deadline, not the caller's own limit, decides when it ends.
  struct BoundedWait {
    int32_t ms;
    bool byDeadline;
  };
  // wait (ms; negative: no limit; 0: a poll, returned as it is) cut to what is left before
  // CallDeadline. Raises EIdCallTimeout when the deadline has passed before a wait that is not a
  // poll: a peer that keeps data coming must not keep the call going past it. A wait that ends
  // without data while byDeadline should raise it too (RaiseCallTimeout).
  BoundedWait BoundWait(int32_t wait) const;
  [[noreturn]] static void RaiseCallTimeout();

private:
  TextEncodingKind EncodingOr(TextEncodingKind encoding) const;
  int32_t ResolveTimeout(int32_t timeout) const;
  // FillPendingInput asking the source for up to receiveSize bytes.
  int32_t Fill(bool raise, int32_t timeout, bool raiseOnTimeout, int32_t receiveSize);
  // Fills until `count` bytes are queued; returns what the last receive brought.
  int32_t WaitForInput(int32_t count, int32_t receiveSize);
  TIdQueuedLine WaitForLine(QByteArrayView terminator, int32_t timeout, int32_t maxLength);
  void SendDirect(const QByteArray& bytes, int32_t length = -1, int32_t offset = 0);
  template <typename Store>
  int32_t CaptureLinesInto(Store&& store, const QString& endMarker, bool dotUnescape,
                           TextEncodingKind encoding);

  QString host_;
  int32_t port_ = 0;
  uint16_t defaultPort_ = 0;
  QPointer<TIdConnectionIntercept> intercept_;
  int32_t maxLineLength_ = 16384;
  TIdMaxLineAction maxLineAction_ = maException;
  int32_t recvBufferSize_ = 32768;
  int32_t sendBufferSize_ = 32768;
  int32_t readTimeout_ = -1;
  int32_t connectTimeout_ = 0;
  Deadline deadline_;
  bool use64BitCounts_ = false;
  int32_t captureLineLimit_ = -1;
  TextEncodingKind textEncoding_ = ekASCII;

  bool isOpen_ = false;
  bool peerClosed_ = false;
  bool lastLineSplit_ = false;
  bool lastLineTimedOut_ = false;
  std::unique_ptr<TIdBuffer> pendingInput_;
  std::unique_ptr<TIdBuffer> pendingOutput_;
  int32_t flushThreshold_ = -1;
};
