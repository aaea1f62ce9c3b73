#include <algorithm>
#include <optional>
#include <vector>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "flash/packed_block_check.h"
#include "flash/packed_chunks.h"
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

// The chunk header at position and the stored bytes after it, which must lie
// inside packed; advances position past the chunk.
std::optional<packed::ChunkView> ReadChunkHeader(const uint8_t* packed, size_t packedSize, size_t& position) {
  if (position > packedSize || packedSize - position < packed::kChunkHeaderSize) return std::nullopt;
  const uint8_t* chunk = packed + position;
  const uint32_t chunkLength = ReadBE16(chunk);
  if (chunkLength < packed::kChunkLengthExtra) return std::nullopt;
  packed::ChunkView view;
  view.storedSize = chunkLength - packed::kChunkLengthExtra;
  view.size = ReadBE16(chunk + 6);
  if (packedSize - position - packed::kChunkHeaderSize < view.storedSize) return std::nullopt;
  view.stored = chunk + packed::kChunkHeaderSize;
  position += packed::kChunkHeaderSize + view.storedSize;
  return view;
}

// One chunk's data to the output, in the form decided for it.
bool UnpackChunk(const packed::ChunkView& chunk, bool expand, Output& out) {
  if (out.capacity - out.written < chunk.size) return false;
  if (!packed::ReadChunk(chunk, expand, out.dst + out.written)) return false;
  out.written += chunk.size;
  return true;
}

// The block an entry names: CRC over its whole length, then the block header
// (first word 8, chunk count at 8) and its chunks. Chunks whose stored size
// equals their uncompressed size are read as the block's data CRC decides;
// a block without such chunks is unpacked chunk by chunk as it goes.
bool UnpackBlock(const uint8_t* packed, size_t packedSize, const DirectoryEntry& entry, Output& out) {
  const size_t offset = entry.blockOffset;
  if (offset > packedSize || packedSize - offset < entry.blockLength) return false;
  if (CRC16_Calc(packed + offset, static_cast<int32_t>(entry.blockLength)) != entry.blockCrc) return false;
  if (packedSize - offset < packed::kBlockHeaderSize) return false;
  if (ReadBE16(packed + offset) != packed::kBlockHeaderWord) return false;
  const uint32_t chunkCount = ReadBE16(packed + offset + 8);
  size_t position = offset + packed::kBlockHeaderSize;
  std::vector<packed::ChunkView> chunks;
  for (uint32_t c = 0; c < chunkCount; ++c) {
    const std::optional<packed::ChunkView> chunk = ReadChunkHeader(packed, packedSize, position);
    if (!chunk) return false;
    chunks.push_back(*chunk);
  }
  std::vector<bool> expand(chunks.size(), true);
  if (packed::AnyChunkOfEitherForm(chunks)) {
    const packed::ChunkForms forms = packed::DecideChunkForms(chunks, entry.dataCrc);
    if (!forms.decodes || !forms.decided) return false;
    expand = forms.expand;
  }
  for (size_t c = 0; c < chunks.size(); ++c) {
    if (!UnpackChunk(chunks[c], expand[c], out)) return false;
  }
  return true;
}

}  // namespace

bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity) {
  std::vector<int> unpackedEntries;
  return UnPackFlashData(packed, packedSize, dst, dstCapacity, unpackedEntries);
}

bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity,
                     std::vector<int>& unpackedEntries) {
  unpackedEntries.clear();
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
    unpackedEntries.push_back(j);
    previousOffset = entry.blockOffset;
  }
  return true;
}

bool UnPackDefaultsEeprom(const uint8_t* packed, size_t packedSize, uint8_t* eeprom) {
  // The second directory entry, its data proven by their data CRC.
  const std::optional<PackedEntryCheck> entry = PackedBlock_CheckEntry(packed, packedSize, 1);
  if (!entry || !entry->DataSound() || entry->dataLength != kEepromImageSize) {
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
