#include "flash/packed_block_check.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "codec/crc16.h"
#include "flash/packed_chunks.h"
#include "flash/packed_format.h"
#include "flash/packing.h"

namespace tolv {
namespace {

using packed::DirectoryEntry;

// Reads the chunk header at position, which lies inside the block ending at
// blockEnd; false when it does not.
bool CheckChunk(const uint8_t* packed, size_t position, size_t blockEnd,
                std::vector<packed::ChunkView>& views, PackedEntryCheck& check) {
  if (blockEnd - position < packed::kChunkHeaderSize) return false;
  const uint8_t* chunk = packed + position;
  const uint32_t chunkLength = ReadBE16(chunk);
  if (chunkLength < packed::kChunkLengthExtra) return false;
  const uint32_t storedSize = chunkLength - packed::kChunkLengthExtra;
  if (blockEnd - position - packed::kChunkHeaderSize < storedSize) return false;
  PackedChunkCheck chunkCheck;
  chunkCheck.offset = static_cast<uint32_t>(position);
  chunkCheck.storedSize = storedSize;
  chunkCheck.uncompressedSize = ReadBE16(chunk + 6);
  chunkCheck.storedCrc = ReadBE16(chunk + 2);
  chunkCheck.computedCrc = CRC16_Calc(chunk + 4, static_cast<int32_t>(storedSize + 4));
  check.chunks.push_back(chunkCheck);
  views.push_back({chunk + packed::kChunkHeaderSize, storedSize, chunkCheck.uncompressedSize});
  return true;
}

// The data CRC over the chunks decoded in turn, each in the form the block's
// data CRC decides for it (see flash/packed_chunks.h).
void CheckData(const std::vector<packed::ChunkView>& views, PackedEntryCheck& check) {
  const packed::ChunkForms forms = packed::DecideChunkForms(views, check.storedDataCrc);
  check.decoded = forms.decodes;
  if (!forms.decodes) return;
  check.computedDataCrc = forms.dataCrc;
  check.decodedLength = static_cast<uint32_t>(forms.dataLength);
}

// The block of an entry that lies inside the packed block.
void CheckBlock(const uint8_t* packed, PackedEntryCheck& check) {
  const uint8_t* block = packed + check.blockOffset;
  check.computedBlockCrc = CRC16_Calc(block, static_cast<int32_t>(check.blockLength));
  const size_t blockEnd = static_cast<size_t>(check.blockOffset) + check.blockLength;
  if (check.blockLength < packed::kBlockHeaderSize) {
    check.chunksInside = false;
    return;
  }
  // Block header: 8, CRC of bytes 4..9, FFFF, 1, chunk count.
  check.headerWord = ReadBE16(block);
  check.storedHeaderCrc = ReadBE16(block + 2);
  check.computedHeaderCrc = CRC16_Calc(block + 4, 6);
  check.chunkCount = ReadBE16(block + 8);
  size_t position = check.blockOffset + packed::kBlockHeaderSize;
  std::vector<packed::ChunkView> views;
  for (uint32_t c = 0; c < check.chunkCount; ++c) {
    if (!CheckChunk(packed, position, blockEnd, views, check)) {
      check.chunksInside = false;
      return;
    }
    position += packed::kChunkHeaderSize + check.chunks.back().storedSize;
  }
  CheckData(views, check);
}

PackedEntryCheck CheckEntry(const uint8_t* packed, size_t packedSize, int index,
                            const DirectoryEntry& entry) {
  PackedEntryCheck check;
  check.index = index;
  check.blockOffset = entry.blockOffset;
  check.blockLength = entry.blockLength;
  check.dataLength = entry.dataLength;
  check.storedBlockCrc = entry.blockCrc;
  check.storedDataCrc = entry.dataCrc;
  if (packed::IsUnused(entry)) {
    check.state = PackedEntryState::kSkipped;
  } else if (entry.blockOffset > packedSize || packedSize - entry.blockOffset < entry.blockLength) {
    check.state = PackedEntryState::kOutside;
  } else {
    CheckBlock(packed, check);
  }
  return check;
}

}  // namespace

bool PackedEntryCheck::ChunksOk() const {
  return chunksInside &&
         std::all_of(chunks.begin(), chunks.end(), [](const PackedChunkCheck& c) { return c.Ok(); });
}

bool PackedEntryCheck::Ok() const {
  if (state == PackedEntryState::kSkipped) return true;
  return state == PackedEntryState::kChecked && BlockCrcOk() && HeaderOk() && ChunksOk() && DataOk();
}

bool PackedBlockCheck::Ok() const {
  return directoryInside &&
         std::all_of(entries.begin(), entries.end(), [](const PackedEntryCheck& e) { return e.Ok(); });
}

PackedBlockCheck PackedBlock_Check(const uint8_t* packed, size_t packedSize) {
  PackedBlockCheck result;
  result.littleEndian = PackedBlock_IsLittleEndian(packed, packedSize);
  const packed::Form form = packed::FormOf(result.littleEndian);
  // The model header holds the system ID at bytes 5..6.
  if (packedSize >= 7) result.systemId = packed::Read16(packed + 5, result.littleEndian);
  const std::optional<int> count = packed::EntryCount(packed, packedSize, form);
  if (!count) {
    result.directoryInside = false;
    return result;
  }
  result.entryCount = *count;
  for (int j = 0; j < result.entryCount; ++j) {
    const std::optional<size_t> entryAt = packed::EntryOffset(packedSize, form, j);
    if (!entryAt) {
      result.directoryInside = false;
      break;
    }
    result.entries.push_back(
        CheckEntry(packed, packedSize, j, packed::ReadEntry(packed + *entryAt, result.littleEndian)));
  }
  return result;
}

std::optional<PackedEntryCheck> PackedBlock_CheckEntry(const uint8_t* packed, size_t packedSize, int index) {
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(packed, packedSize));
  const std::optional<int> count = packed::EntryCount(packed, packedSize, form);
  if (!count || index < 0 || index >= *count) return std::nullopt;
  const std::optional<size_t> entryAt = packed::EntryOffset(packedSize, form, index);
  if (!entryAt) return std::nullopt;
  return CheckEntry(packed, packedSize, index, packed::ReadEntry(packed + *entryAt, form.littleEndian));
}

}  // namespace tolv
