// Unpacks arbitrary packed flash-format blocks and checks their checksums.
//
// The first input byte chooses how the block is made:
//   0: the rest of the input, zero-padded or cut to 131,072 bytes;
//   1: a valid packed settings block, changed at the places the input names
//      (3-byte offset, 1-byte value pairs), with the block CRCs recomputed
//      afterwards when bit 7 of the first byte is set, so that changes get
//      past the CRC test into the block and chunk headers;
//   2: the rest of the input as it is, with its own (any) length.
// The second byte chooses the destination's size. Every buffer is allocated
// at its exact size, so that the sanitizers see any access outside it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/crc16.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"

namespace {

using tolv::kFlashImageSize;
using tolv::kPackedBlockSize;

// A settings image that looks like receiver data: records, erased flash, zeros.
std::vector<uint8_t> MakeSampleImage();
const std::vector<uint8_t>& SampleImage() {
  static const std::vector<uint8_t> image = MakeSampleImage();
  return image;
}

std::vector<uint8_t> MakeSampleImage() {
  std::vector<uint8_t> image(kFlashImageSize, 0xFF);
  uint32_t state = 12345;
  for (size_t piece = 0; piece < kFlashImageSize; piece += 8192) {
    for (size_t i = 0; i < 512; ++i) {
      state = state * 1103515245u + 12345u;
      image[piece + i] = static_cast<uint8_t>(i % 7 == 0 ? state >> 16 : i / 16);
    }
  }
  return image;
}

const std::vector<uint8_t>& ValidBlock() {
  static const std::vector<uint8_t> block = [] {
    const std::vector<uint8_t>& image = SampleImage();
    std::vector<uint8_t> packed(kPackedBlockSize);
    if (!tolv::PackFlashData(406, image.data(), packed.data())) std::abort();
    return packed;
  }();
  return block;
}

uint32_t BE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Recomputes the block CRC of every big-endian directory entry whose block
// lies inside the packed block.
void RefreshBlockCrcs(std::vector<uint8_t>& packed) {
  for (size_t entry = 64; entry + 16 <= 64 + 64 * 64; entry += 64) {
    const uint32_t offset = BE32(&packed[entry + 4]);
    const uint32_t length = BE32(&packed[entry + 8]);
    if (offset >= packed.size() || packed.size() - offset < length) continue;
    const uint32_t crc = tolv::CRC16_Calc(packed.data() + offset, static_cast<int32_t>(length));
    packed[entry] = static_cast<uint8_t>(crc >> 8);
    packed[entry + 1] = static_cast<uint8_t>(crc);
  }
}

std::vector<uint8_t> MakeBlock(uint8_t mode, const uint8_t* data, size_t size) {
  if ((mode & 3) == 2) return std::vector<uint8_t>(data, data + size);
  if ((mode & 3) == 0) {
    std::vector<uint8_t> packed(kPackedBlockSize, 0x00);
    std::copy_n(data, std::min(size, kPackedBlockSize), packed.begin());
    return packed;
  }
  std::vector<uint8_t> packed = ValidBlock();
  for (size_t i = 0; i + 4 <= size; i += 4) {
    const size_t offset =
        (static_cast<size_t>(data[i]) << 16 | data[i + 1] << 8 | data[i + 2]) % kPackedBlockSize;
    packed[offset] = data[i + 3];
  }
  if (mode & 0x80) RefreshBlockCrcs(packed);
  return packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  // Destination: the Flash image, the Defaults image, or a small one.
  const size_t capacities[] = {kFlashImageSize, 0x80100, 3 * 8192 + 17, 0};
  const size_t capacity = capacities[data[1] % 4];
  const std::vector<uint8_t> packed = MakeBlock(mode, data + 2, size - 2);

  std::vector<uint8_t> dst(capacity);
  const bool unpacked = tolv::UnPackFlashData(packed.data(), packed.size(), dst.data(), dst.size());
  const tolv::PackedBlockCheck check = tolv::PackedBlock_Check(packed.data(), packed.size());

  // An unchanged valid block must unpack into a full-size image and pass every check.
  if ((mode & 3) == 1 && size - 2 < 4 && capacity == kFlashImageSize) {
    if (!unpacked || !check.Ok()) std::abort();
    const std::vector<uint8_t>& image = SampleImage();
    if (!std::equal(image.begin(), image.begin() + 0x60000, dst.begin())) std::abort();
  }
  return 0;
}
