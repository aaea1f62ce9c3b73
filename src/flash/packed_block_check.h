// Checking a packed flash-format block as it stands, for reports: every
// checksum the block carries, without unpacking it into an image.
//
// A packed block carries, for each directory entry, a block CRC (over the
// whole block), a data CRC (over the uncompressed data), the block header's
// own CRC (over its bytes 4..9) and one CRC per chunk (over the chunk header's
// bytes 4..7 and the stored bytes). UnPackFlashData checks only the block CRC;
// this check reads them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tolv {

// One chunk of a block.
struct PackedChunkCheck {
  uint32_t offset;            // of the chunk header, from the start of the packed block
  uint32_t storedSize;        // bytes after the 8-byte chunk header (copy or stream when == uncompressedSize)
  uint32_t uncompressedSize;  // from the chunk header
  uint32_t storedCrc;         // chunk header bytes 2..3
  uint32_t computedCrc;       // CRC-16 of chunk bytes 4 .. 8 + storedSize
  bool Ok() const { return storedCrc == computedCrc; }
};

enum class PackedEntryState : uint8_t {
  kChecked,  // the block lies inside the packed block and was read
  kSkipped,  // block offset 0 or block CRC 0xFFFF: an unused entry, passed over by the unpacker
  kOutside,  // the entry, or the block it names, reaches past the packed block: nothing else was read
};

// One directory entry and the block it names.
struct PackedEntryCheck {
  int index = 0;  // position in the directory, from 0
  PackedEntryState state = PackedEntryState::kChecked;
  uint32_t blockOffset = 0;
  uint32_t blockLength = 0;
  uint32_t dataLength = 0;  // uncompressed bytes, as the directory says

  uint32_t storedBlockCrc = 0;
  uint32_t computedBlockCrc = 0;  // CRC-16 of blockLength bytes from blockOffset

  uint32_t headerWord = 0;  // first word of the block header; 8 in a valid block
  uint32_t storedHeaderCrc = 0;
  uint32_t computedHeaderCrc = 0;  // CRC-16 of block header bytes 4..9
  uint32_t chunkCount = 0;         // as the block header says

  // The chunks that lie wholly inside the block, in order; chunksInside is
  // false when the chunk count claims more than the block holds.
  std::vector<PackedChunkCheck> chunks;
  bool chunksInside = true;

  // The data CRC is computed over the chunks decoded in turn, a chunk whose
  // stored size equals its uncompressed size taken as a plain copy or
  // expanded as the stored data CRC decides (see flash/packed_chunks.h; when
  // no choice gives it, as plain copies). decoded is false when a chunk that
  // can only be a stream did not decode, or a chunk did not lie inside the
  // block.
  bool decoded = false;
  uint32_t decodedLength = 0;  // sum of the chunks' uncompressed sizes
  uint32_t storedDataCrc = 0;
  uint32_t computedDataCrc = 0;

  bool BlockCrcOk() const { return storedBlockCrc == computedBlockCrc; }
  bool HeaderOk() const { return headerWord == 8 && storedHeaderCrc == computedHeaderCrc; }
  bool ChunksOk() const;
  bool DataOk() const { return decoded && decodedLength == dataLength && storedDataCrc == computedDataCrc; }
  // The block was read whole (block CRC right, header word 8, chunks inside
  // it) and its data are proven by DataOk. The chunk CRCs and the block
  // header's own CRC then guard nothing the data CRC does not: a load names
  // them when wrong and takes the data all the same.
  bool DataSound() const {
    return state == PackedEntryState::kChecked && BlockCrcOk() && headerWord == 8 && chunksInside && DataOk();
  }
  // Skipped entries are fine; checked ones need every check to pass.
  bool Ok() const;
};

struct PackedBlockCheck {
  bool littleEndian = false;              // the block begins with 1D 1F
  uint32_t systemId = 0;                  // model header bytes 5..6, in the block's byte order
  int entryCount = 0;                     // the low byte of the stored count, 0 read as 64
  bool directoryInside = true;            // false when the directory reaches past the packed block
  std::vector<PackedEntryCheck> entries;  // all entryCount entries, in directory order
  // True when the directory lies inside the block and every entry is Ok.
  bool Ok() const;
};

// Reads the packed block of packedSize bytes (normally kPackedBlockSize) and
// checks every checksum it carries. Never reads outside packed, whatever it
// holds; a block too short for its directory gives directoryInside false and
// the entries that fit. Changes nothing; allocates scratch as large as the
// largest chunk of a block (at most 64 kB).
PackedBlockCheck PackedBlock_Check(const uint8_t* packed, size_t packedSize);

// The check of directory entry index alone, the same as PackedBlock_Check
// reports it, reading only that entry and its block; nothing when the
// directory holds fewer entries or the entry reaches past the packed block.
std::optional<PackedEntryCheck> PackedBlock_CheckEntry(const uint8_t* packed, size_t packedSize, int index);

}  // namespace tolv
