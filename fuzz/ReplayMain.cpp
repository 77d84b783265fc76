// Runs a fuzz target over saved inputs without the fuzzing engine, so that the everyday build
// (g++, plain or under the sanitizers) keeps every target compiling and replays its seeds and
// every input that once broke it as an ordinary test.
//
//   fuzz_replay_<target> PATH...     PATH: an input file, or a folder whose files are inputs
//
// A failed check inside the target aborts with its condition named; the exit code is non-zero
// too when a path cannot be read or names no input at all.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Only some targets prepare the process first.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The inputs a path names: the file itself, or the regular files of a folder in name order.
bool CollectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return true;
  }
  if (!fs::is_directory(path, error)) {
    std::fprintf(stderr, "replay: no such input or folder: %s\n", path.c_str());
    return false;
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  if (error) {
    std::fprintf(stderr, "replay: cannot list %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  std::sort(files.begin(), files.end());
  inputs.insert(inputs.end(), files.begin(), files.end());
  return true;
}

bool ReadInput(const fs::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
    return 64;
  }
  if (LLVMFuzzerInitialize) {
    LLVMFuzzerInitialize(&argc, &argv);
  }

  std::vector<fs::path> inputs;
  bool complete = true;
  for (int i = 1; i < argc; ++i) {
    complete = CollectInputs(argv[i], inputs) && complete;
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no input to run\n");
    return 1;
  }

  std::vector<uint8_t> bytes;
  for (const fs::path& input : inputs) {
    if (!ReadInput(input, bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
      complete = false;
      continue;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", input.c_str(), bytes.size());
    // An empty vector may hand out a null pointer; the engine never passes one.
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs run\n", inputs.size());
  return complete ? 0 : 1;
}
