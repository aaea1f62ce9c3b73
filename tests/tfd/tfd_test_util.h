// Hand-written TFD files for the tests, built without the library's writer so
// that the reader is checked against an independent encoder.
#pragma once

#include <cstdint>
#include <vector>

namespace tolv::test {

// CRC-16/ARC computed bit by bit (reflected polynomial 0xA001, initial 0).
inline uint16_t ReferenceCrc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

inline void PutBE16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

inline uint16_t GetBE16(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// One block (chunk) of a file: its type, its data as stored in the file, and
// the uncompressed size it claims.
struct RawBlock {
  uint16_t type;
  std::vector<uint8_t> data;
  uint16_t uncompressedSize;
};

// A stored chunk: its bytes as they are.
inline RawBlock Stored(uint16_t type, const std::vector<uint8_t>& bytes) {
  return {type, bytes, static_cast<uint16_t>(bytes.size())};
}

// The 10-byte header with a correct CRC.
inline std::vector<uint8_t> RawHeader(uint16_t systemId, uint16_t blockCount) {
  std::vector<uint8_t> out;
  PutBE16(out, 8);
  PutBE16(out, 0);
  PutBE16(out, systemId);
  PutBE16(out, 1);
  PutBE16(out, blockCount);
  const uint16_t crc = ReferenceCrc16(out.data() + 4, 6);
  out[2] = static_cast<uint8_t>(crc >> 8);
  out[3] = static_cast<uint8_t>(crc);
  return out;
}

// A block with a correct CRC.
inline std::vector<uint8_t> RawBlockBytes(const RawBlock& block) {
  std::vector<uint8_t> out;
  PutBE16(out, static_cast<uint32_t>(block.data.size() + 6));
  PutBE16(out, 0);
  PutBE16(out, block.type);
  PutBE16(out, block.uncompressedSize);
  out.insert(out.end(), block.data.begin(), block.data.end());
  const uint16_t crc = ReferenceCrc16(out.data() + 4, out.size() - 4);
  out[2] = static_cast<uint8_t>(crc >> 8);
  out[3] = static_cast<uint8_t>(crc);
  return out;
}

inline std::vector<uint8_t> RawTfd(uint16_t systemId, const std::vector<RawBlock>& blocks) {
  std::vector<uint8_t> out = RawHeader(systemId, static_cast<uint16_t>(blocks.size()));
  for (const RawBlock& block : blocks) {
    const std::vector<uint8_t> bytes = RawBlockBytes(block);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

}  // namespace tolv::test
