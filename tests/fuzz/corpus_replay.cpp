// Runs every input kept for one fuzz target (its corpus and seeds under fuzz/,
// the inputs that once made it fail among them) through the target itself,
// built here with the tests' compiler and, in the sanitizer build, its
// sanitizers. The target's checks abort on a fault, so an input that fails
// again ends this test. Inputs are cut to the target's -max_len, as the
// fuzzer cuts them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace tolv {
namespace {

namespace fs = std::filesystem;

// The -max_len of the target's options file; no limit without one.
size_t MaxLength() {
  std::ifstream options(TOLV_FUZZ_OPTIONS_FILE);
  std::string line;
  while (std::getline(options, line))
    if (line.rfind("-max_len=", 0) == 0) return std::stoul(line.substr(9));
  return SIZE_MAX;
}

TEST(TOLV_FUZZ_SUITE, EveryKeptInputPasses) {
  if (LLVMFuzzerInitialize != nullptr) {
    int argc = 0;
    char** argv = nullptr;
    LLVMFuzzerInitialize(&argc, &argv);
  }
  const size_t maxLength = MaxLength();
  size_t replayed = 0;
  for (const char* dir : {TOLV_FUZZ_CORPUS_DIR, TOLV_FUZZ_SEEDS_DIR}) {
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      std::vector<uint8_t> input = test::ReadBytes(entry.path().string());
      if (input.size() > maxLength) input.resize(maxLength);
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
}  // namespace tolv
