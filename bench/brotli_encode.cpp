// Standard input to standard output in the br content coding, for the benchmarks' coded
// bodies (Debian has no brotli command): quality from the first argument (default 5), the
// default window, streamed in 1 MiB pieces.

#include <brotli/encode.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char* argv[]) {
  BrotliEncoderState* encoder = BrotliEncoderCreateInstance(nullptr, nullptr, nullptr);
  if (!encoder) {
    return 1;
  }
  BrotliEncoderSetParameter(encoder, BROTLI_PARAM_QUALITY, argc > 1 ? std::atoi(argv[1]) : 5);
  BrotliEncoderSetParameter(encoder, BROTLI_PARAM_MODE, BROTLI_MODE_TEXT);
  std::vector<uint8_t> in(1 << 20);
  std::vector<uint8_t> out(1 << 20);
  bool end = false;
  while (!BrotliEncoderIsFinished(encoder)) {
    size_t inLeft = 0;
    if (!end) {
      inLeft = std::fread(in.data(), 1, in.size(), stdin);
      end = inLeft < in.size();
    }
    const uint8_t* next = in.data();
    do {
      size_t outLeft = out.size();
      uint8_t* nextOut = out.data();
      if (!BrotliEncoderCompressStream(encoder,
                                       end ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS,
                                       &inLeft, &next, &outLeft, &nextOut, nullptr)) {
        return 1;
      }
      std::fwrite(out.data(), 1, out.size() - outLeft, stdout);
    } while (inLeft > 0 || BrotliEncoderHasMoreOutput(encoder));
  }
  BrotliEncoderDestroyInstance(encoder);
  return 0;
}
