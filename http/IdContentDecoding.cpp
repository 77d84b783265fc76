#include "http/IdContentDecoding.h"

#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

// What every decoder shares: the next sink, the run buffer, the end mark seen, the coding's
// name for the messages.
class Decoder : public TIdBodySink {
public:
  Decoder(QStringView coding, TIdBodySink& next)
      : coding_(coding), next_(next),
        run_(std::make_unique_for_overwrite<uint8_t[]>(TIdCompressor::kDecodedRunSize)) {}
  Q_DISABLE_COPY(Decoder)

  void Write(QByteArrayView bytes) final {
    if (ended_ || bytes.isEmpty()) {
      return;
    }
    received_ = true;
    Decode(bytes);
  }

  void Finish() final {
    if (received_ && !ended_) {
      throw EIdHTTPContentDecodingError(RSHTTPContentCutShort().arg(coding_));
    }
    next_.Finish();
  }

protected:
  virtual void Decode(QByteArrayView bytes) = 0;

  uint8_t* Run() { return run_.get(); }
  // Hands on the first size bytes of the run.
  void HandOn(size_t size) {
    if (size > 0) {
      next_.Write(QByteArrayView(run_.get(), qsizetype(size)));
    }
  }
  void Ended() { ended_ = true; }
  [[noreturn]] void Corrupt(const char* reason) const {
    throw EIdHTTPContentDecodingError(
        RSHTTPContentCorrupt().arg(coding_, QString::fromLatin1(reason ? reason : "?")));
  }

private:
  QStringView coding_;
  TIdBodySink& next_;
  std::unique_ptr<uint8_t[]> run_;
  bool received_ = false;
  bool ended_ = false;
};

constexpr uInt kRunSize = TIdCompressor::kDecodedRunSize;

// gzip, and deflate in either of its two forms.
class ZlibDecoder final : public Decoder {
public:
  enum class Format { Gzip, Deflate };

  ZlibDecoder(QStringView coding, TIdBodySink& next, Format format)
      : Decoder(coding, next), format_(format) {}
  ~ZlibDecoder() override {
    if (started_) {
      inflateEnd(&stream_);
    }
  }

private:
  // A zlib stream starts with a header whose method is deflate and whose two bytes, read as a
  // big-endian number, are a multiple of 31; raw deflate data almost never does.
  static bool IsZlibHeader(const std::array<uint8_t, 2>& head) {
    return (head[0] & 0x0F) == Z_DEFLATED && (head[0] >> 4) <= 7 &&
           ((head[0] << 8) | head[1]) % 31 == 0;
  }

  void Decode(QByteArrayView bytes) override {
    if (!started_) {
      if (format_ == Format::Gzip) {
        Start(16 + MAX_WBITS);
      } else {
        // The form is known from the first two bytes, which may come in separate pieces.
        while (headSize_ < 2 && !bytes.isEmpty()) {
          head_[headSize_++] = uint8_t(bytes.front());
          bytes = bytes.sliced(1);
        }
        if (headSize_ < 2) {
          return;
        }
        Start(IsZlibHeader(head_) ? MAX_WBITS : -MAX_WBITS);
        Inflate(QByteArrayView(head_.data(), 2));
      }
    }
    Inflate(bytes);
  }

  void Start(int windowBits) {
    if (inflateInit2(&stream_, windowBits) != Z_OK) {
      throw std::bad_alloc();
    }
    started_ = true;
  }

  void Inflate(QByteArrayView bytes) {
    // Pieces come from one receive or one chunk's part of it, far below 4 GiB.
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream_.avail_in = uInt(bytes.size());
    do {
      stream_.next_out = Run();
      stream_.avail_out = kRunSize;
      const int result = inflate(&stream_, Z_NO_FLUSH);
      HandOn(kRunSize - stream_.avail_out);
      if (result == Z_STREAM_END) {
        Ended();
        return;
      }
      if (result == Z_MEM_ERROR) {
        throw std::bad_alloc();
      }
      if (result == Z_BUF_ERROR) {
        return; // nothing more can be done before further input
      }
      if (result != Z_OK) {
        Corrupt(stream_.msg);
      }
    } while (stream_.avail_in > 0 || stream_.avail_out == 0);
  }

  Format format_;
  z_stream stream_{};
  bool started_ = false;
  std::array<uint8_t, 2> head_{};
  int headSize_ = 0;
};

class BrotliDecoder final : public Decoder {
public:
  BrotliDecoder(QStringView coding, TIdBodySink& next)
      : Decoder(coding, next), state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {
    if (!state_) {
      throw std::bad_alloc();
    }
  }
  ~BrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }

private:
  void Decode(QByteArrayView bytes) override {
    size_t inLeft = size_t(bytes.size());
    auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    for (;;) {
      size_t outLeft = kRunSize;
      uint8_t* out = Run();
      const BrotliDecoderResult result =
          BrotliDecoderDecompressStream(state_, &inLeft, &in, &outLeft, &out, nullptr);
      HandOn(kRunSize - outLeft);
      switch (result) {
      case BROTLI_DECODER_RESULT_SUCCESS:
        Ended();
        return;
      case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
        return;
      case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
        break;
      case BROTLI_DECODER_RESULT_ERROR: {
        const BrotliDecoderErrorCode code = BrotliDecoderGetErrorCode(state_);
        if (code <= BROTLI_DECODER_ERROR_ALLOC_CONTEXT_MODES &&
            code >= BROTLI_DECODER_ERROR_ALLOC_BLOCK_TYPE_TREES) {
          throw std::bad_alloc();
        }
        // The library's names read "_ERROR_FORMAT_...": the leading mark says nothing.
        const char* name = BrotliDecoderErrorString(code);
        Corrupt(name && *name == '_' ? name + 1 : name);
      }
      }
    }
  }

  BrotliDecoderState* state_;
};

class ZstdDecoder final : public Decoder {
public:
  ZstdDecoder(QStringView coding, TIdBodySink& next)
      : Decoder(coding, next), context_(ZSTD_createDCtx()) {
    if (!context_) {
      throw std::bad_alloc();
    }
    ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, TIdCompressor::kZstdWindowLogMax);
  }
  ~ZstdDecoder() override { ZSTD_freeDCtx(context_); }

private:
  // The longest frame header: magic number, descriptor, window, dictionary and size fields.
  static constexpr size_t kFrameHeaderMax = 18;

  void Decode(QByteArrayView bytes) override {
    LearnDeclaredSize(bytes);
    ZSTD_inBuffer in{bytes.data(), size_t(bytes.size()), 0};
    for (;;) {
      ZSTD_outBuffer out{Run(), kRunSize, 0};
      const size_t result = ZSTD_decompressStream(context_, &out, &in);
      if (ZSTD_isError(result)) {
        if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation) {
          throw std::bad_alloc();
        }
        Corrupt(ZSTD_getErrorName(result));
      }
      HandOn(out.pos);
      decoded_ += out.pos;
      if (result == 0) {
        // The library checks a frame's declared size when it decodes the frame in one go, but
        // not always when the frame comes in pieces (a frame of empty blocks declaring a size
        // passes): check it here, so that how a peer's bytes are split changes nothing.
        if (declared_ != ZSTD_CONTENTSIZE_UNKNOWN && declared_ != ZSTD_CONTENTSIZE_ERROR &&
            decoded_ != declared_) {
          Corrupt(ZSTD_getErrorString(ZSTD_error_corruption_detected));
        }
        Ended(); // the frame is complete and flushed
        return;
      }
      if (in.pos == in.size && out.pos < out.size) {
        return;
      }
    }
  }

  // Keeps the first bytes until the frame header is whole, then reads the size it declares.
  // Only the current frame format (and skippable frames) is taken: the library also reads the
  // formats of its early versions, which no server sends as a content coding and which it
  // decodes differently whole and in pieces.
  void LearnDeclaredSize(QByteArrayView bytes) {
    if (headerSize_ == kFrameHeaderMax || declared_ != ZSTD_CONTENTSIZE_ERROR) {
      return;
    }
    const size_t taken = std::min(kFrameHeaderMax - headerSize_, size_t(bytes.size()));
    std::memcpy(header_.data() + headerSize_, bytes.data(), taken);
    const bool magicWasShort = headerSize_ < sizeof(uint32_t);
    headerSize_ += taken;
    if (magicWasShort && headerSize_ >= sizeof(uint32_t)) {
      uint32_t magic = 0;
      for (int i = 3; i >= 0; --i) {
        magic = (magic << 8) | uint8_t(header_[size_t(i)]);
      }
      if (magic != ZSTD_MAGICNUMBER &&
          (magic & ZSTD_MAGIC_SKIPPABLE_MASK) != ZSTD_MAGIC_SKIPPABLE_START) {
        Corrupt(ZSTD_getErrorString(ZSTD_error_prefix_unknown));
      }
    }
    declared_ = ZSTD_getFrameContentSize(header_.data(), headerSize_);
  }

  ZSTD_DCtx* context_;
  std::array<char, kFrameHeaderMax> header_{};
  size_t headerSize_ = 0;
  // ZSTD_CONTENTSIZE_ERROR until the header is whole (or when it cannot be read).
  unsigned long long declared_ = ZSTD_CONTENTSIZE_ERROR;
  unsigned long long decoded_ = 0;
};

using MakeDecoder = std::unique_ptr<TIdBodySink> (*)(QStringView, TIdBodySink&);

struct Coding {
  QStringView name;
  // Listed in "Accept-Encoding"; an alias is undone but not asked for.
  bool offered;
  MakeDecoder make;
};

template <ZlibDecoder::Format F>
std::unique_ptr<TIdBodySink> MakeZlib(QStringView name, TIdBodySink& next) {
  return std::make_unique<ZlibDecoder>(name, next, F);
}
template <class D> std::unique_ptr<TIdBodySink> Make(QStringView name, TIdBodySink& next) {
  return std::make_unique<D>(name, next);
}

const Coding kCodings[] = {
    {QStringView(u"gzip"), true, &MakeZlib<ZlibDecoder::Format::Gzip>},
    {QStringView(u"deflate"), true, &MakeZlib<ZlibDecoder::Format::Deflate>},
    {QStringView(u"br"), true, &Make<BrotliDecoder>},
    {QStringView(u"zstd"), true, &Make<ZstdDecoder>},
    // The name gzip went by before it was registered, which servers may still send.
    {QStringView(u"x-gzip"), false, &MakeZlib<ZlibDecoder::Format::Gzip>},
};

const Coding* FindCoding(QStringView name) {
  for (const Coding& coding : kCodings) {
    if (TextIsSame(name, coding.name)) {
      return &coding;
    }
  }
  return nullptr;
}

// The decoders of one body; the one made last takes the body's bytes.
class DecoderChain final : public TIdBodySink {
public:
  void Add(std::unique_ptr<TIdBodySink> decoder) { decoders_.push_back(std::move(decoder)); }
  TIdBodySink& Head() { return *decoders_.back(); }

  void Write(QByteArrayView bytes) override { Head().Write(bytes); }
  void Finish() override { Head().Finish(); }

private:
  std::vector<std::unique_ptr<TIdBodySink>> decoders_;
};

} // namespace

const TIdCompressor& TIdCompressor::Standard() {
  static const TIdCompressor standard;
  return standard;
}

QStringList TIdCompressor::Offered() const {
  QStringList names;
  for (const Coding& coding : kCodings) {
    if (coding.offered) {
      names << coding.name.toString();
    }
  }
  return names;
}

std::unique_ptr<TIdBodySink> TIdCompressor::DecoderFor(QStringView contentEncoding,
                                                       TIdBodySink& next) const {
  // The codings as applied, first to last; the last applied is undone first.
  std::vector<const Coding*> undone;
  const auto items = contentEncoding.split(u',');
  for (auto item = items.rbegin(); item != items.rend(); ++item) {
    const QStringView name = TrimView(*item);
    if (name.isEmpty() || TextIsSame(name, u"identity")) {
      continue;
    }
    const Coding* coding = FindCoding(name);
    if (!coding) {
      break;
    }
    undone.push_back(coding);
  }
  if (undone.empty() || undone.size() > size_t(kMostStackedCodings)) {
    return nullptr;
  }
  // Made from the innermost coding (undone last, writing to next) outwards.
  auto chain = std::make_unique<DecoderChain>();
  TIdBodySink* target = &next;
  for (auto coding = undone.rbegin(); coding != undone.rend(); ++coding) {
    chain->Add((*coding)->make((*coding)->name, *target));
    target = &chain->Head();
  }
  return chain;
}
