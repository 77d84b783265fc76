#include "app/JpegImage.h"

#include "app/AppResourceStrings.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <memory>

namespace {

// Everything the decoding steps share. Plain data only: libjpeg leaves a failed step by
// longjmp, which must not skip a destructor.
struct DecodeState {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  std::jmp_buf failed;
  char message[JMSG_LENGTH_MAX];
  JDIMENSION width;
  JDIMENSION height;
  int components;
  unsigned char* pixels; // malloc'ed RGB rows; the caller frees
};

enum class DecodeResult { Decoded, Failed, UnsupportedComponents, TooLarge };

[[noreturn]] void LeaveOnError(j_common_ptr info) {
  auto* state = reinterpret_cast<DecodeState*>(info->client_data);
  (*info->err->format_message)(info, state->message);
  std::longjmp(state->failed, 1);
}

// Warnings mark damaged data that libjpeg papers over (a truncated stream becomes grey); a
// banner must decode cleanly, so the first warning fails the decode like an error does.
void FailOnWarning(j_common_ptr info, int level) {
  if (level < 0) {
    LeaveOnError(info);
  }
}

// The libjpeg part, in the C manner: no C++ object lives in this frame.
DecodeResult RunDecoder(DecodeState& state, const unsigned char* data, unsigned long size) {
  state.info.err = jpeg_std_error(&state.errors);
  state.errors.error_exit = LeaveOnError;
  state.errors.emit_message = FailOnWarning;
  state.info.client_data = &state;
  state.pixels = nullptr;
  if (setjmp(state.failed) != 0) {
    jpeg_destroy_decompress(&state.info);
    return DecodeResult::Failed;
  }
  jpeg_create_decompress(&state.info);
  jpeg_mem_src(&state.info, data, size);
  jpeg_read_header(&state.info, TRUE);
  state.width = state.info.image_width;
  state.height = state.info.image_height;
  state.components = state.info.num_components;
  if (state.components != 1 && state.components != 3) {
    jpeg_destroy_decompress(&state.info);
    return DecodeResult::UnsupportedComponents;
  }
  if (qint64(state.width) * state.height > kMaxJpegPixels) {
    jpeg_destroy_decompress(&state.info);
    return DecodeResult::TooLarge;
  }
  state.info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&state.info);
  const size_t stride = size_t(state.width) * 3;
  state.pixels = static_cast<unsigned char*>(std::malloc(stride * state.height));
  if (state.pixels == nullptr) {
    std::strcpy(state.message, "out of memory");
    jpeg_destroy_decompress(&state.info);
    return DecodeResult::Failed;
  }
  while (state.info.output_scanline < state.height) {
    JSAMPROW row = state.pixels + size_t(state.info.output_scanline) * stride;
    jpeg_read_scanlines(&state.info, &row, 1);
  }
  jpeg_finish_decompress(&state.info);
  jpeg_destroy_decompress(&state.info);
  return DecodeResult::Decoded;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
  DecodeState state{};
  const DecodeResult result =
      RunDecoder(state, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
  const std::unique_ptr<unsigned char, decltype(&std::free)> pixels(state.pixels, &std::free);
  switch (result) {
  case DecodeResult::Failed:
    throw EJpegDecodeError(RSJpegDecodeFailed().arg(QString::fromLocal8Bit(state.message)));
  case DecodeResult::UnsupportedComponents:
    throw EJpegDecodeError(RSJpegUnsupportedComponents().arg(state.components));
  case DecodeResult::TooLarge:
    throw EJpegDecodeError(RSJpegTooLarge().arg(state.width).arg(state.height));
  case DecodeResult::Decoded:
    break;
  }
  const QImage view(pixels.get(), int(state.width), int(state.height), qsizetype(state.width) * 3,
                    QImage::Format_RGB888);
  return view.copy();
}

QImage LoadJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EJpegDecodeError(RSCantReadResource().arg(path));
  }
  return DecodeJpeg(file.readAll());
}
