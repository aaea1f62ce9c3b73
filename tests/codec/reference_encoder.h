// A slow, plain rendering of the compressor's choices, kept apart from the
// codec as the yardstick for its fast match finder: the same path-compressed
// search tree with its lazy position updates, written for clarity (one array
// per field, chain heads at 16384 + node + 16 * byte, plain loops), driving
// the same one-position deferred-match loop.
#pragma once

#include <cstdint>
#include <vector>

#include "stream_test_support.h"

namespace tolv::test {

struct ReferenceEncoding {
  std::vector<StreamToken> tokens;        // every code, in order
  std::vector<uint32_t> blockCodeCounts;  // codes per block, as the code buffer cuts them
};

// The codes Block_Compress must send for source (any length; the text buffer
// beyond the source reads as zero bytes) and the number of codes in each block.
ReferenceEncoding ReferenceEncode(const std::vector<uint8_t>& source);

}  // namespace tolv::test
