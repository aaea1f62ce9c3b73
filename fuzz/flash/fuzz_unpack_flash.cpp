// Unpacks packed flash-format blocks made from the input and checks them.
//
// The first input byte chooses how the block is made:
//   bits 0..1  0: the rest of the input, zero-padded to 131,072 bytes;
//              1: a valid packed settings block, or 3: a valid packed
//                 defaults block, changed at the places the input names
//                 (3-byte offset, 1-byte value pairs);
//              2: the rest of the input as it is, with its own (any) length.
//   For 1 and 3:
//   bits 2..3  a settings block keeps 1 + their value of its 64 entries (the
//              count is cut; an edit of it brings the others back), a
//              defaults block that many of the 13 chunks of its settings
//              (headers and checksums to match), so that a run decodes
//              little;
//   bit 5      the little-endian form (system ID 21031) instead of the
//              big-endian one (406);
//   bit 7      the block CRCs are recomputed after the changes, so that they
//              get past the CRC test into the block and chunk headers.
// The second byte chooses the destination's size. Every buffer has its exact
// size (support/exact_buffer.h), so that the sanitizers see any access outside
// it; none is allocated per input.
//
// Checks: an unchanged valid block unpacks into the image it was packed from
// and writes nothing beyond the entries it holds, and its default EEPROM comes
// back; a block whose every checksum holds (PackedBlock_Check) unpacks
// whenever the destination has room for it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/chunk_compression.h"
#include "codec/crc16.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "support/exact_buffer.h"

namespace {

using tolv::kDefaultsSettingsSize;
using tolv::kEepromImageSize;
using tolv::kFlashImageSize;
using tolv::kPackedBlockSize;

constexpr size_t kDefaultsImageSize = kDefaultsSettingsSize + kEepromImageSize;
constexpr size_t kLargestDestination = 0x80100;
// Input beyond the mode and size bytes that modes 0 and 2 take: twice a
// packed block (the fuzzer is given far less).
constexpr size_t kLargestInput = 2 * kPackedBlockSize;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Settings or defaults that look like receiver data: records in the first
// recordsEnd bytes, erased flash.
std::vector<uint8_t> MakeSampleImage(size_t size, size_t recordsEnd) {
  std::vector<uint8_t> image(size, 0xFF);
  uint32_t state = 12345;
  for (size_t piece = 0; piece + 512 <= recordsEnd; piece += 8192) {
    for (size_t i = 0; i < 512; ++i) {
      state = state * 1103515245u + 12345u;
      image[piece + i] = static_cast<uint8_t>(i % 7 == 0 ? state >> 16 : i / 16);
    }
  }
  return image;
}

const std::vector<uint8_t>& SampleSettings() {
  static const std::vector<uint8_t> image = MakeSampleImage(kFlashImageSize, kFlashImageSize);
  return image;
}

// Default settings followed by the default EEPROM, their records in the first
// chunk: the rest, erased, decodes fast, for the whole block decodes in every
// run.
const std::vector<uint8_t>& SampleDefaults() {
  static const std::vector<uint8_t> image = MakeSampleImage(kDefaultsImageSize, 32768);
  return image;
}

// Where the count and the directory lie, read and written here on their own
// rather than through the library's reader.
struct Directory {
  bool littleEndian;
  size_t countOffset() const { return littleEndian ? 36 : 32; }
  size_t entryOffset(size_t j) const { return (littleEndian ? 68 : 64) + 64 * j; }
  // The count's low byte, the only one the unpacker reads (0 means 64).
  size_t Count(const uint8_t* packed) const {
    const size_t count = packed[countOffset() + (littleEndian ? 0 : 1)];
    return count == 0 ? 64 : count;
  }
  uint32_t Read32(const uint8_t* p) const {
    return littleEndian ? uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24
                        : uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
  }
  void Write16(uint8_t* p, uint32_t value) const {
    p[littleEndian ? 1 : 0] = static_cast<uint8_t>(value >> 8);
    p[littleEndian ? 0 : 1] = static_cast<uint8_t>(value);
  }
  void Write32(uint8_t* p, uint32_t value) const {
    Write16(p + (littleEndian ? 2 : 0), value >> 16);
    Write16(p + (littleEndian ? 0 : 2), value & 0xFFFF);
  }
};

// Recomputes the block CRC of every directory entry within the count whose
// block lies inside the packed block.
void RefreshBlockCrcs(uint8_t* packed, const Directory& directory) {
  for (size_t j = 0; j < directory.Count(packed); ++j) {
    uint8_t* entry = packed + directory.entryOffset(j);
    const uint32_t offset = directory.Read32(entry + 4);
    const uint32_t length = directory.Read32(entry + 8);
    if (offset >= kPackedBlockSize || kPackedBlockSize - offset < length) continue;
    directory.Write16(entry, tolv::CRC16_Calc(packed + offset, static_cast<int32_t>(length)));
  }
}

// Bytes an unchanged valid block of kept entries or chunks gives the
// unpacker: the first kept settings blocks of 8,192 bytes, or the first kept
// chunks of 32,762 bytes of the default settings and the default EEPROM after
// them.
size_t KnownLength(bool defaults, size_t kept) {
  return defaults ? kept * 32762 + kEepromImageSize : kept * 8192;
}

// A settings block cut to its first kept entries; a defaults block whose
// first block keeps its first kept chunks, with header CRC, data length and
// data CRC to match: sound blocks that decode little.
std::vector<uint8_t> CutBlock(std::vector<uint8_t> packed, const Directory& directory, bool defaults,
                              size_t kept) {
  uint8_t* p = packed.data();
  if (!defaults) {
    directory.Write16(p + directory.countOffset(), static_cast<uint32_t>(kept));
    return packed;
  }
  uint8_t* entry = p + directory.entryOffset(0);
  uint8_t* header = p + directory.Read32(entry + 4);
  // Block header: 8, CRC of bytes 4..9, FFFF, 1, chunk count.
  tolv::WriteBE16(header + 8, static_cast<uint32_t>(kept));
  tolv::WriteBE16(header + 2, tolv::CRC16_Calc(header + 4, 6));
  const size_t length = kept * 32762;
  directory.Write16(entry + 2, tolv::CRC16_Calc(SampleDefaults().data(), static_cast<int32_t>(length)));
  directory.Write32(entry + 12, static_cast<uint32_t>(length));
  RefreshBlockCrcs(p, directory);
  return packed;
}

// The valid block of each kind, form and number of kept entries or chunks
// (1..4), made once.
const std::vector<uint8_t>& ValidBlock(bool defaults, bool littleEndian, size_t kept) {
  static const auto blocks = [] {
    std::vector<std::vector<uint8_t>> made;
    for (const bool isDefaults : {false, true}) {
      for (const bool isLittleEndian : {false, true}) {
        const uint16_t systemId = isLittleEndian ? 21031 : 406;
        std::vector<uint8_t> packed(kPackedBlockSize);
        const std::vector<uint8_t>& image = isDefaults ? SampleDefaults() : SampleSettings();
        Check(isDefaults ? tolv::PackDefaultsData(systemId, image.data(),
                                                  image.data() + kDefaultsSettingsSize, packed.data())
                         : tolv::PackFlashData(systemId, image.data(), packed.data()));
        for (size_t n = 1; n <= 4; ++n)
          made.push_back(CutBlock(packed, Directory{isLittleEndian}, isDefaults, n));
      }
    }
    return made;
  }();
  return blocks[(defaults ? 8 : 0) + (littleEndian ? 4 : 0) + (kept - 1)];
}

// The valid block of the mode, changed as the input says.
uint8_t* MakeValidBlock(tolv::fuzz::ExactBuffer& buffer, uint8_t mode, const uint8_t* data, size_t size) {
  const Directory directory{(mode & 0x20) != 0};
  const std::vector<uint8_t>& valid =
      ValidBlock((mode & 3) == 3, directory.littleEndian, 1 + (mode >> 2 & 3));
  uint8_t* packed = buffer.Copy(valid.data(), kPackedBlockSize, kPackedBlockSize);
  for (size_t i = 0; i + 4 <= size; i += 4) {
    const size_t offset = (size_t{data[i]} << 16 | size_t{data[i + 1]} << 8 | data[i + 2]) % kPackedBlockSize;
    packed[offset] = data[i + 3];
  }
  if (mode & 0x80) RefreshBlockCrcs(packed, directory);
  return packed;
}

// An unchanged valid block gives the start of the image it was packed from,
// and nothing after it is written; a defaults block gives its EEPROM.
void CheckKnownAnswer(uint8_t mode, const uint8_t* dst, size_t capacity, const uint8_t* packed) {
  const bool defaults = (mode & 3) == 3;
  const size_t kept = 1 + (mode >> 2 & 3u);
  const std::vector<uint8_t>& image = defaults ? SampleDefaults() : SampleSettings();
  const size_t settingsLength = KnownLength(defaults, kept) - (defaults ? kEepromImageSize : 0);
  const uint8_t* eeprom = image.data() + kDefaultsSettingsSize;
  Check(std::memcmp(dst, image.data(), settingsLength) == 0);
  if (defaults) Check(std::memcmp(dst + settingsLength, eeprom, kEepromImageSize) == 0);
  static const std::vector<uint8_t> untouched(kLargestDestination, 0xA5);
  const size_t written = KnownLength(defaults, kept);
  Check(std::memcmp(dst + written, untouched.data(), capacity - written) == 0);
  uint8_t taken[kEepromImageSize];
  if (defaults)
    Check(tolv::UnPackDefaultsEeprom(packed, kPackedBlockSize, taken) &&
          std::memcmp(taken, eeprom, kEepromImageSize) == 0);
}

// Room enough for every entry a sound block may write: what the unpacker
// stops after, plus the largest block it may have begun.
bool RoomFor(const tolv::PackedBlockCheck& check, size_t capacity) {
  uint64_t largest = 0;
  for (const tolv::PackedEntryCheck& entry : check.entries)
    largest = std::max<uint64_t>(largest, entry.dataLength);
  return capacity >= 0x60000 + largest;
}

}  // namespace

// Whole valid blocks, as packed (64 settings entries; 13 chunks of defaults),
// give back the first 393,216 bytes of their image (and the default EEPROM)
// and pass every check; the runs themselves see them cut. Checked once: they
// are fixed inputs.
void CheckWholeBlocks() {
  static tolv::fuzz::ExactBuffer dstBuffer(kFlashImageSize);
  for (const uint16_t systemId : {uint16_t{406}, uint16_t{21031}}) {
    for (const bool defaults : {false, true}) {
      const std::vector<uint8_t>& image = defaults ? SampleDefaults() : SampleSettings();
      std::vector<uint8_t> packed(kPackedBlockSize);
      Check(defaults ? tolv::PackDefaultsData(systemId, image.data(), image.data() + kDefaultsSettingsSize,
                                              packed.data())
                     : tolv::PackFlashData(systemId, image.data(), packed.data()));
      uint8_t* dst = dstBuffer.Window(kFlashImageSize);
      Check(tolv::UnPackFlashData(packed.data(), packed.size(), dst, kFlashImageSize));
      Check(std::memcmp(dst, image.data(), kDefaultsSettingsSize) == 0);
      Check(tolv::PackedBlock_Check(packed.data(), packed.size()).Ok());
      uint8_t eeprom[kEepromImageSize];
      Check(!defaults || (tolv::UnPackDefaultsEeprom(packed.data(), packed.size(), eeprom) &&
                          std::memcmp(eeprom, image.data() + kDefaultsSettingsSize, kEepromImageSize) == 0));
    }
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The valid blocks are packed once, on this thread.
  tolv::Block_SetThreadCount(1);
  CheckWholeBlocks();
  ValidBlock(false, false, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tolv::fuzz::ExactBuffer packedBuffer(kLargestInput);
  static tolv::fuzz::ExactBuffer dstBuffer(kLargestDestination);
  if (size < 2 || size - 2 > kLargestInput) return 0;
  const uint8_t mode = data[0];
  const size_t capacities[] = {kFlashImageSize, kLargestDestination, 3 * 8192 + 17, 0};
  const size_t capacity = capacities[data[1] % 4];
  const uint8_t* rest = data + 2;
  const size_t restSize = size - 2;

  const bool valid = (mode & 1) == 1;
  size_t packedSize = kPackedBlockSize;
  uint8_t* packed;
  if (valid) {
    packed = MakeValidBlock(packedBuffer, mode, rest, restSize);
  } else if ((mode & 3) == 0) {
    packed = packedBuffer.Copy(rest, std::min(restSize, kPackedBlockSize), kPackedBlockSize);
  } else {
    packed = packedBuffer.Copy(rest, restSize, restSize);
    packedSize = restSize;
  }
  const bool knownAnswer = valid && restSize < 4 && capacity >= kFlashImageSize;
  uint8_t* dst = knownAnswer ? dstBuffer.Filled(capacity, 0xA5) : dstBuffer.Window(capacity);

  const bool unpacked = tolv::UnPackFlashData(packed, packedSize, dst, capacity);
  const tolv::PackedBlockCheck check = tolv::PackedBlock_Check(packed, packedSize);
  if (knownAnswer) {
    Check(unpacked && check.Ok());
    CheckKnownAnswer(mode, dst, capacity, packed);
  }
  // Every checksum holding, the unpack must not fail for want of anything
  // but room.
  if (check.Ok() && RoomFor(check, capacity)) Check(unpacked);
  uint8_t eeprom[kEepromImageSize];
  tolv::UnPackDefaultsEeprom(packed, packedSize, eeprom);
  return 0;
}
