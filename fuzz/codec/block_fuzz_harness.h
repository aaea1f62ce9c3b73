// The checks of the codec's fuzz targets, shared with the unit test that
// replays saved inputs. Each returns false when a check fails.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/block_codec.h"

namespace tolv::fuzz {

// Largest destination a decompress input asks for.
inline constexpr int32_t kMaxFuzzOutput = 100000;

// The first three bytes choose the destination length (0..100000); the rest
// is the stream. The destination is exactly that long, so any write past it
// is caught by the address sanitizer.
inline bool CheckBlockDecompress(const uint8_t* data, size_t size) {
  if (size < 3) return true;
  const int32_t dstSize = static_cast<int32_t>((uint32_t{data[0]} << 16 | uint32_t{data[1]} << 8 | data[2]) %
                                               static_cast<uint32_t>(kMaxFuzzOutput + 1));
  std::vector<uint8_t> source(data + 3, data + size);  // exactly as long as the stream
  std::vector<uint8_t> dst(static_cast<size_t>(dstSize));
  const int32_t result =
      Block_Decompress(source.data(), static_cast<int32_t>(source.size()), dst.data(), dstSize);
  return result == 0 || result == 1;
}

// The input must come back from its compressed form, the compressor must keep
// within Block_CompressBound, and the same input must give the same output.
inline bool CheckBlockRoundTrip(const uint8_t* data, size_t size) {
  const int32_t srcSize = static_cast<int32_t>(size);
  std::vector<uint8_t> source(data, data + size);
  std::vector<uint8_t> packed(static_cast<size_t>(Block_CompressBound(srcSize)));
  const int32_t packedSize = Block_Compress(source.data(), srcSize, packed.data());
  if (packedSize <= 0 || packedSize > Block_CompressBound(srcSize)) return false;
  packed.resize(static_cast<size_t>(packedSize));
  std::vector<uint8_t> again(static_cast<size_t>(Block_CompressBound(srcSize)));
  if (Block_Compress(source.data(), srcSize, again.data()) != packedSize ||
      std::memcmp(again.data(), packed.data(), packed.size()) != 0)
    return false;
  // A plain copy has the source's length and bytes; anything else is a stream.
  if (packedSize == srcSize && packed == source) return true;
  if (packedSize > kBlockMaxStreamSize) return false;
  std::vector<uint8_t> restored(size);
  return Block_Decompress(packed.data(), packedSize, restored.data(), srcSize) == 1 && restored == source;
}

}  // namespace tolv::fuzz
