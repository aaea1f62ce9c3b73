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

// An input that begins with this byte and has at least 3 bytes describes a
// long source (see LongSource); any other input is the source itself.
inline constexpr uint8_t kLongSourceMark = 0xFF;

// The long source an input describes, for the compressor's paths that only
// sources past its 8,192-byte window reach: the window moving on, strings
// leaving the search tree. Byte 1: bits 0..5 give the length, 8,448 + 32
// times their value (8,448..10,464 bytes); bit 7 the kind of change below.
// The bytes from 2 on are a pattern, repeated. Repetition k changes one byte
// of the pattern by k (bit 7 clear: long matches between literals), or every
// byte by a value of k (bit 7 set: few matches). (Blocks cut when the code
// buffer fills and the plain copy of a stream past the limit need sources of
// 15 to 33 kB, several times slower to compress under the sanitizers than a
// fuzzer can afford; the compressor's unit tests cover them.)
inline std::vector<uint8_t> LongSource(const uint8_t* data, size_t size) {
  const size_t length = 8448 + 32 * size_t{data[1] & 0x3Fu};
  const bool everyByte = (data[1] & 0x80) != 0;
  const uint8_t* pattern = data + 2;
  const size_t period = size - 2;
  std::vector<uint8_t> source(length);
  for (size_t i = 0; i < length; ++i) {
    const size_t k = i / period;
    const size_t j = i % period;
    uint8_t byte = pattern[j];
    if (everyByte) {
      byte ^= static_cast<uint8_t>(k * 0x9D);
    } else if (j == k % period) {
      byte = static_cast<uint8_t>(byte + k);
    }
    source[i] = byte;
  }
  return source;
}

// The source must come back from its compressed form and the compressor must
// keep within Block_CompressBound. A source taken as it is must also give the
// same stream when compressed again (over working memory that the first call
// left behind); a long source is compressed once, its cost being in the
// compression.
inline bool CheckBlockRoundTrip(const uint8_t* data, size_t size) {
  const bool isLong = size >= 3 && data[0] == kLongSourceMark;
  const std::vector<uint8_t> source =
      isLong ? LongSource(data, size) : std::vector<uint8_t>(data, data + size);
  const int32_t srcSize = static_cast<int32_t>(source.size());
  std::vector<uint8_t> packed(static_cast<size_t>(Block_CompressBound(srcSize)));
  const int32_t packedSize = Block_Compress(source.data(), srcSize, packed.data());
  if (packedSize <= 0 || packedSize > Block_CompressBound(srcSize)) return false;
  packed.resize(static_cast<size_t>(packedSize));
  if (!isLong) {
    std::vector<uint8_t> again(static_cast<size_t>(Block_CompressBound(srcSize)));
    if (Block_Compress(source.data(), srcSize, again.data()) != packedSize ||
        std::memcmp(again.data(), packed.data(), packed.size()) != 0)
      return false;
  }
  // A plain copy has the source's length and bytes; anything else is a stream.
  if (packedSize == srcSize && packed == source) return true;
  if (packedSize > kBlockMaxStreamSize) return false;
  std::vector<uint8_t> restored(source.size());
  return Block_Decompress(packed.data(), packedSize, restored.data(), srcSize) == 1 && restored == source;
}

}  // namespace tolv::fuzz
