// Arbitrary streams and destination lengths through the block decoder.
#include <cstdlib>

#include "block_fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!tolv::fuzz::CheckBlockDecompress(data, size)) std::abort();
  return 0;
}
