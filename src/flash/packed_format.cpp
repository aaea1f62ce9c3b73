#include "flash/packed_format.h"

#include <cstring>

#include "codec/crc16.h"

namespace tolv::packed {
namespace {

uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Write32(uint8_t* p, uint32_t value, bool littleEndian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = littleEndian ? 8 * i : 24 - 8 * i;
    p[i] = static_cast<uint8_t>(value >> shift);
  }
}

uint32_t Read32(const uint8_t* p, bool littleEndian) { return littleEndian ? ReadLE32(p) : ReadBE32(p); }

}  // namespace

Form FormOf(bool littleEndian) {
  const size_t headerLength = littleEndian ? kLittleEndianHeaderLength : kBigEndianHeaderLength;
  return {littleEndian, headerLength, littleEndian ? headerLength : headerLength + 1,
          headerLength + kCountToDirectory};
}

std::optional<int> EntryCount(const uint8_t* packed, size_t packedSize, const Form& form) {
  if (packedSize <= form.countLowByteOffset) return std::nullopt;
  const uint8_t count = packed[form.countLowByteOffset];
  return count == 0 ? kMaxEntries : count;
}

std::optional<size_t> EntryOffset(size_t packedSize, const Form& form, int j) {
  const size_t entryAt = form.directoryOffset + static_cast<size_t>(j) * kEntrySize;
  if (entryAt > packedSize || packedSize - entryAt < kEntryFieldsSize) return std::nullopt;
  return entryAt;
}

uint32_t Read16(const uint8_t* p, bool littleEndian) {
  return littleEndian ? static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 : ReadBE16(p);
}

void Write16(uint8_t* p, uint32_t value, bool littleEndian) {
  if (littleEndian) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
  } else {
    WriteBE16(p, value);
  }
}

// Entry: block CRC, data CRC (16 bits each), block offset, block length, data
// length (32 bits each), 48 reserved bytes.
DirectoryEntry ReadEntry(const uint8_t* p, bool littleEndian) {
  return {Read16(p, littleEndian), Read16(p + 2, littleEndian), Read32(p + 4, littleEndian),
          Read32(p + 8, littleEndian), Read32(p + 12, littleEndian)};
}

void WriteEntry(uint8_t* p, const DirectoryEntry& entry, bool littleEndian) {
  Write16(p, entry.blockCrc, littleEndian);
  Write16(p + 2, entry.dataCrc, littleEndian);
  Write32(p + 4, entry.blockOffset, littleEndian);
  Write32(p + 8, entry.blockLength, littleEndian);
  Write32(p + 12, entry.dataLength, littleEndian);
  std::memset(p + kEntryFieldsSize, littleEndian ? 0xFF : 0x00, kEntrySize - kEntryFieldsSize);
}

}  // namespace tolv::packed
