#include "codec/crc16.h"

#include <array>

namespace tolv {
namespace {

// Table of the reflected CRC-16 with polynomial 0x8005: the right-shifting form
// uses the reversed polynomial 0xA001. Entry i is the CRC register after eight
// shifts starting from i.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
    table[i] = static_cast<uint16_t>(c);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0xC0C1 && kCrcTable[128] == 0xA001 && kCrcTable[255] == 0x4040);

}  // namespace

uint32_t CRC16_Update(uint32_t crc, const uint8_t* data, int32_t byteCount) {
  uint32_t value = crc & 0xFFFFu;
  for (int32_t i = 0; i < byteCount; ++i) value = kCrcTable[(data[i] ^ value) & 0xFFu] ^ (value >> 8);
  return value;
}

uint32_t CRC16_Calc(const uint8_t* data, int32_t byteCount) { return CRC16_Update(0, data, byteCount); }

uint32_t ReadBE16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

void WriteBE16(uint8_t* dst, uint32_t value) {
  dst[0] = static_cast<uint8_t>(value >> 8);
  dst[1] = static_cast<uint8_t>(value);
}

uint32_t ReadBE24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace tolv
