// Most-significant-bit-first reader of a compressed stream (internal to the
// codec). Past the end of the source the stream continues with zero bits,
// which are counted (phantomBytes) so that a stream that needed them can be
// told from one that ended within its bytes.
#pragma once

#include <cstdint>

namespace tolv::block {

// The reader's state as plain scalars, so that a decoding loop can hold them
// in locals (registers) and hand them to these functions by reference: the
// buffer holds the next stream bits from bit 63 down; validBits (0..63) of
// them are valid, and below those lie further stream bits or zeros.
struct BitCursor {
  // Tops buffer up to at least kRefillBits valid bits; every read needs its
  // bits to be valid, so callers refill before each group of reads of at
  // most kRefillBits bits.
  static constexpr int kRefillBits = 56;
  [[gnu::always_inline]] static void Refill(const uint8_t*& next, const uint8_t* end, uint64_t& buffer,
                                            int& validBits, int& phantomBytes) {
    if (end - next >= 8) [[likely]] {
      // The eight bytes are ORed in below the valid bits, and as many whole
      // bytes as fit are counted as taken. The bits beyond them are the
      // stream's own next bits, so ORing them in again on the next refill
      // changes nothing. The count of valid bits keeps its low three bits and
      // becomes 56 to 63.
      buffer |= LoadBigEndian64(next) >> validBits;
      next += (63 - validBits) >> 3;
      validBits |= 56;
      return;
    }
    // Near the end: the last seven bytes one at a time, then zero bytes,
    // counted.
    while (validBits < kRefillBits) {
      uint64_t byte = 0;
      if (next < end) {
        byte = *next++;
      } else {
        ++phantomBytes;
      }
      buffer |= byte << (56 - validBits);
      validBits += 8;
    }
  }

  // The next bitCount (1..32) bits without consuming them.
  static uint32_t Peek(uint64_t buffer, int bitCount) {
    return static_cast<uint32_t>(buffer >> (64 - bitCount));
  }

  // Whether bits past the end of the source were consumed: the zero bytes
  // loaded lie below the valid bits still unread.
  static bool ReadPastEnd(int validBits, int phantomBytes) { return phantomBytes * 8 > validBits; }

  static void Consume(uint64_t& buffer, int& validBits, int bitCount) {
    buffer <<= bitCount;
    validBits -= bitCount;
  }

  // The first byte most significant, whatever the host's byte order (compilers
  // turn this into one load and a byte swap).
  static uint64_t LoadBigEndian64(const uint8_t* p) {
    return uint64_t{p[0]} << 56 | uint64_t{p[1]} << 48 | uint64_t{p[2]} << 40 | uint64_t{p[3]} << 32 |
           uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | uint64_t{p[7]};
  }
};

class BitReader {
 public:
  static constexpr int kRefillBits = BitCursor::kRefillBits;

  // src may be null when srcSize is 0; a negative size counts as 0.
  BitReader(const uint8_t* src, int32_t srcSize) : next(src), end(srcSize > 0 ? src + srcSize : src) {
    Refill();
  }

  void Refill() { BitCursor::Refill(next, end, buffer, validBits, phantomBytes); }
  bool ReadPastEnd() const { return BitCursor::ReadPastEnd(validBits, phantomBytes); }

  // The next 16 bits without consuming them.
  uint32_t Peek16() const { return BitCursor::Peek(buffer, 16); }
  // The next bitCount (1..32) bits without consuming them.
  uint32_t Peek(int bitCount) const { return BitCursor::Peek(buffer, bitCount); }
  // Bit 63 - index of the buffer: bit 0 is the next stream bit.
  bool BitAt(int index) const { return (buffer >> (63 - index)) & 1; }

  void Consume(int bitCount) { BitCursor::Consume(buffer, validBits, bitCount); }

  // The next bitCount (1..32) bits as a number, consumed.
  uint32_t Take(int bitCount) {
    const uint32_t value = Peek(bitCount);
    Consume(bitCount);
    return value;
  }

  // Take() for header fields: refills first when fewer than bitCount bits are
  // valid.
  uint32_t TakeChecked(int bitCount) {
    if (validBits < bitCount) Refill();
    return Take(bitCount);
  }

  // The state, open to a decoding loop that works on a copy in locals.
  const uint8_t* next;
  const uint8_t* end;
  uint64_t buffer = 0;
  int validBits = 0;
  int phantomBytes = 0;  // zero bytes loaded past the end of the source
};

}  // namespace tolv::block
