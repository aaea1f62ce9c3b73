// Arbitrary data, and long sources described by short inputs, through the
// block encoder and back through the decoder.
#include <cstdlib>

#include "block_fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!tolv::fuzz::CheckBlockRoundTrip(data, size)) std::abort();
  return 0;
}
