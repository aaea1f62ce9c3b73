#include "codec/crc16.h"

#include <array>
#include <cstddef>

namespace tolv {
namespace {

using CrcTables = std::array<std::array<uint16_t, 256>, 16>;

// Table 0 is the reflected CRC-16 with polynomial 0x8005: the right-shifting
// form uses the reversed polynomial 0xA001, and entry i is the register after
// eight shifts starting from i. Table k gives the effect of a byte followed by
// k zero bytes, so that sixteen bytes can be taken in one step.
constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
    tables[0][i] = static_cast<uint16_t>(c);
  }
  for (size_t k = 1; k < tables.size(); ++k)
    for (size_t i = 0; i < 256; ++i)
      tables[k][i] = static_cast<uint16_t>((tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF]);
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
static_assert(kCrcTables[0][1] == 0xC0C1 && kCrcTables[0][128] == 0xA001 && kCrcTables[0][255] == 0x4040);

}  // namespace

uint32_t CRC16_Update(uint32_t crc, const uint8_t* data, int32_t byteCount) {
  const auto& t = kCrcTables;
  uint32_t value = crc & 0xFFFFu;
  int32_t i = 0;
  for (; i + 16 <= byteCount; i += 16) {
    const uint8_t* p = data + i;
    value = t[15][(p[0] ^ value) & 0xFF] ^ t[14][(p[1] ^ (value >> 8)) & 0xFF] ^ t[13][p[2]] ^ t[12][p[3]] ^
            t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^
            t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
  }
  for (; i < byteCount; ++i) value = t[0][(data[i] ^ value) & 0xFF] ^ (value >> 8);
  return value;
}

uint32_t CRC16_Calc(const uint8_t* data, int32_t byteCount) { return CRC16_Update(0, data, byteCount); }

namespace {

// A linear map of the 16-bit register: column i is the image of bit i.
using CrcOperator = std::array<uint16_t, 16>;

uint32_t Apply(const CrcOperator& op, uint32_t value) {
  uint32_t result = 0;
  for (int bit = 0; value != 0; ++bit, value >>= 1)
    if (value & 1) result ^= op[static_cast<size_t>(bit)];
  return result;
}

CrcOperator Square(const CrcOperator& op) {
  CrcOperator squared{};
  for (size_t i = 0; i < squared.size(); ++i) squared[i] = static_cast<uint16_t>(Apply(op, op[i]));
  return squared;
}

}  // namespace

uint32_t CRC16_Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
  // One zero byte moves the register through the table once: r -> T[r & FF] ^ (r >> 8).
  CrcOperator step{};
  for (size_t i = 0; i < step.size(); ++i) {
    const uint32_t r = 1u << i;
    step[i] = static_cast<uint16_t>(kCrcTables[0][r & 0xFF] ^ (r >> 8));
  }
  // Carry crcA through lengthB zero bytes, squaring the step for each bit.
  uint32_t value = crcA & 0xFFFFu;
  for (uint64_t n = lengthB; n != 0 && value != 0; n >>= 1, step = Square(step))
    if (n & 1) value = Apply(step, value);
  return value ^ (crcB & 0xFFFFu);
}

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
