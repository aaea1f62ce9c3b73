// Internal: the fields of the packed flash-format block shared by the packers,
// the unpacker and the checksum report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tolv::packed {

// The model header is 32 bytes (big-endian form) or 36 bytes (little-endian
// form); the 2-byte entry count follows it, and the directory starts 32 bytes
// after the count.
inline constexpr size_t kBigEndianHeaderLength = 32;
inline constexpr size_t kLittleEndianHeaderLength = 36;
inline constexpr size_t kCountToDirectory = 32;
inline constexpr size_t kEntrySize = 64;
inline constexpr size_t kEntryFieldsSize = 16;  // the five fields; the rest is reserved
inline constexpr int kMaxEntries = 64;          // a count byte of 0 means this many

// Block header: 8 (bytes that follow), CRC of bytes 4..9, FFFF, 1, chunk count.
inline constexpr size_t kBlockHeaderSize = 10;
inline constexpr uint32_t kBlockHeaderWord = 8;
// Chunk header: length after this field, CRC of bytes 4.., FFFF, uncompressed size.
inline constexpr size_t kChunkHeaderSize = 8;
inline constexpr uint32_t kChunkLengthExtra = 6;  // chunk length = stored size + 6

inline constexpr size_t kBlockAlignment = 1024;
// The unpacker stops once this many bytes have been written.
inline constexpr size_t kUnpackLimit = 0x60000;

struct DirectoryEntry {
  uint32_t blockCrc = 0;
  uint32_t dataCrc = 0;
  uint32_t blockOffset = 0;
  uint32_t blockLength = 0;
  uint32_t dataLength = 0;
};

// An entry the unpacker passes over: block offset 0 or block CRC 0xFFFF.
inline bool IsUnused(const DirectoryEntry& entry) {
  return entry.blockOffset == 0 || entry.blockCrc == 0xFFFF;
}

// Where the count and the directory lie in a block of the given form.
struct Form {
  bool littleEndian;
  size_t countOffset;         // the 2-byte entry count
  size_t countLowByteOffset;  // its low byte, the only one the unpacker reads
  size_t directoryOffset;
};
Form FormOf(bool littleEndian);

// Entries in the directory of a block of packedSize bytes: the low byte of the
// stored count, 0 read as kMaxEntries; nothing when that byte lies outside.
std::optional<int> EntryCount(const uint8_t* packed, size_t packedSize, const Form& form);

// Where directory entry j starts, or nothing when its fields reach past
// packedSize bytes.
std::optional<size_t> EntryOffset(size_t packedSize, const Form& form, int j);

// The fields of the entry at p (kEntryFieldsSize bytes) in the form's byte order.
DirectoryEntry ReadEntry(const uint8_t* p, bool littleEndian);
// Writes the entry's fields at p (kEntrySize bytes); the reserved bytes become
// 0xFF in the little-endian form and 0x00 in the big-endian form.
void WriteEntry(uint8_t* p, const DirectoryEntry& entry, bool littleEndian);

// A 16-bit field in the form's byte order.
uint32_t Read16(const uint8_t* p, bool littleEndian);
void Write16(uint8_t* p, uint32_t value, bool littleEndian);

}  // namespace tolv::packed
