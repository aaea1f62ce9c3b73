#include <algorithm>
#include <optional>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "flash/packed_block_check.h"
#include "flash/packed_format.h"
#include "flash/packing.h"

namespace tolv {
namespace {

using packed::DirectoryEntry;

// Where the output stands and how far it may go.
struct Output {
  uint8_t* dst;
  size_t capacity;
  size_t written;
};

// One chunk at position: its header, then storedSize bytes, which are a plain
// copy when storedSize equals the uncompressed size and a compressed stream
// otherwise. Advances position past the chunk.
bool UnpackChunk(const uint8_t* packed, size_t packedSize, size_t& position, Output& out) {
  if (position > packedSize || packedSize - position < packed::kChunkHeaderSize) return false;
  const uint8_t* chunk = packed + position;
  const uint32_t chunkLength = ReadBE16(chunk);
  if (chunkLength < packed::kChunkLengthExtra) return false;
  const size_t storedSize = chunkLength - packed::kChunkLengthExtra;
  const size_t size = ReadBE16(chunk + 6);
  if (packedSize - position - packed::kChunkHeaderSize < storedSize) return false;
  if (out.capacity - out.written < size) return false;
  const uint8_t* stored = chunk + packed::kChunkHeaderSize;
  uint8_t* target = out.dst + out.written;
  if (storedSize == size) {
    std::copy_n(stored, size, target);
  } else if (Block_Decompress(stored, static_cast<int32_t>(storedSize), target, static_cast<int32_t>(size)) ==
             0) {
    return false;
  }
  position += packed::kChunkHeaderSize + storedSize;
  out.written += size;
  return true;
}

// The block an entry names: CRC over its whole length, then the block header
// (first word 8, chunk count at 8) and its chunks.
bool UnpackBlock(const uint8_t* packed, size_t packedSize, const DirectoryEntry& entry, Output& out) {
  const size_t offset = entry.blockOffset;
  if (offset > packedSize || packedSize - offset < entry.blockLength) return false;
  if (CRC16_Calc(packed + offset, static_cast<int32_t>(entry.blockLength)) != entry.blockCrc) return false;
  if (packedSize - offset < packed::kBlockHeaderSize) return false;
  if (ReadBE16(packed + offset) != packed::kBlockHeaderWord) return false;
  const uint32_t chunkCount = ReadBE16(packed + offset + 8);
  size_t position = offset + packed::kBlockHeaderSize;
  for (uint32_t c = 0; c < chunkCount; ++c) {
    if (!UnpackChunk(packed, packedSize, position, out)) return false;
  }
  return true;
}

}  // namespace

bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity) {
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(packed, packedSize));
  // Only the low byte of the entry count is read; 0 stands for 64.
  const std::optional<int> count = packed::EntryCount(packed, packedSize, form);
  if (!count) return false;
  Output out{dst, dstCapacity, 0};
  uint32_t previousOffset = 0;
  for (int j = 0; j < *count; ++j) {
    const std::optional<size_t> entryAt = packed::EntryOffset(packedSize, form, j);
    if (!entryAt) return false;
    const DirectoryEntry entry = packed::ReadEntry(packed + *entryAt, form.littleEndian);
    // Unused entries are passed over.
    if (packed::IsUnused(entry)) continue;
    // A block below the previous one, or enough output, ends the directory.
    if (previousOffset > entry.blockOffset || out.written >= packed::kUnpackLimit) return true;
    if (!UnpackBlock(packed, packedSize, entry, out)) return false;
    previousOffset = entry.blockOffset;
  }
  return true;
}

bool UnPackDefaultsEeprom(const uint8_t* packed, size_t packedSize, uint8_t* eeprom) {
  // The second directory entry, with every checksum it carries sound.
  const std::optional<PackedEntryCheck> entry = PackedBlock_CheckEntry(packed, packedSize, 1);
  if (!entry || entry->state != PackedEntryState::kChecked || !entry->Ok() ||
      entry->dataLength != kEepromImageSize) {
    return false;
  }
  uint8_t scratch[kEepromImageSize];
  Output out{scratch, sizeof scratch, 0};
  const DirectoryEntry fields{entry->storedBlockCrc, entry->storedDataCrc, entry->blockOffset,
                              entry->blockLength, entry->dataLength};
  if (!UnpackBlock(packed, packedSize, fields, out) || out.written != kEepromImageSize) return false;
  std::copy_n(scratch, kEepromImageSize, eeprom);
  return true;
}

bool PackedBlock_NamesABlock(const uint8_t* packed, size_t packedSize) {
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(packed, packedSize));
  const int count = packed::EntryCount(packed, packedSize, form).value_or(0);
  for (int j = 0; j < count; ++j) {
    const std::optional<size_t> entryAt = packed::EntryOffset(packedSize, form, j);
    if (!entryAt) return false;
    if (!packed::IsUnused(packed::ReadEntry(packed + *entryAt, form.littleEndian))) return true;
  }
  return false;
}

}  // namespace tolv
