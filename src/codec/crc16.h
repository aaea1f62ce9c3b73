// CRC-16 and big-endian field access.
//
// Every container of the system protects its data with CRC-16/ARC (polynomial
// 0x8005 reflected, initial value 0, no final XOR) and stores multi-byte numbers
// most significant byte first, whatever the host's byte order.
#pragma once

#include <cstdint>

namespace tolv {

// CRC-16/ARC of byteCount bytes from data. A count of 0 or less reads nothing
// and gives 0. The result is 0..0xFFFF, zero-extended.
uint32_t CRC16_Calc(const uint8_t* data, int32_t byteCount);

// CRC-16/ARC continued from an earlier result over a further piece, so that
// feeding a buffer in pieces gives the same value as feeding it whole.
uint32_t CRC16_Update(uint32_t crc, const uint8_t* data, int32_t byteCount);

// The CRC-16/ARC of a piece A followed by a piece B, from crcA (of A), crcB
// (of B) and B's length in bytes, without the bytes themselves. The CRC has
// no initial value or final XOR, so it is linear: the result is crcA carried
// through lengthB zero bytes, XOR crcB. Takes a few hundred steps whatever
// lengthB is.
uint32_t CRC16_Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

// p[0] * 256 + p[1]. Reads exactly 2 bytes; no alignment needed.
uint32_t ReadBE16(const uint8_t* p);

// Writes bits 15..8 of value to dst[0] and bits 7..0 to dst[1]; the upper
// half of value is ignored.
void WriteBE16(uint8_t* dst, uint32_t value);

// p[0] * 65536 + p[1] * 256 + p[2]. Reads exactly 3 bytes.
uint32_t ReadBE24(const uint8_t* p);

// p[0] in bits 31..24 down to p[3] in bits 7..0. Reads exactly 4 bytes.
uint32_t ReadBE32(const uint8_t* p);

}  // namespace tolv
