// Most-significant-bit-first reader of a compressed stream (internal to the
// codec). Past the end of the source the stream continues with zero bits.
#pragma once

#include <cstdint>

namespace tolv::block {

class BitReader {
 public:
  // src may be null when srcSize is 0; a negative size counts as 0.
  BitReader(const uint8_t* src, int32_t srcSize) : next_(src), end_(srcSize > 0 ? src + srcSize : src) {
    Refill();
  }

  // Tops the buffer up to at least kRefillBits valid bits. Every read below
  // needs its bits to be valid: callers refill before each group of reads of
  // at most kRefillBits bits.
  static constexpr int kRefillBits = 56;
  void Refill() {
    if (validBits_ >= kRefillBits) return;
    if (end_ - next_ >= 8) {
      // The eight bytes are ORed in below the valid bits; bits beyond the
      // bytes counted as taken are the stream's own next bits, so ORing
      // them again on the next refill changes nothing.
      buffer_ |= LoadBigEndian64(next_) >> validBits_;
      const int takenBytes = (63 - validBits_) >> 3;
      next_ += takenBytes;
      validBits_ += takenBytes * 8;
      return;
    }
    while (validBits_ < kRefillBits) {
      const uint64_t byte = next_ < end_ ? *next_++ : 0;
      buffer_ |= byte << (56 - validBits_);
      validBits_ += 8;
    }
  }

  // The next 16 bits without consuming them.
  uint32_t Peek16() const { return static_cast<uint32_t>(buffer_ >> 48); }
  // Bit 63 - index of the buffer: bit 0 is the next stream bit.
  bool BitAt(int index) const { return (buffer_ >> (63 - index)) & 1; }

  void Consume(int bitCount) {
    buffer_ <<= bitCount;
    validBits_ -= bitCount;
  }

  // The next bitCount (1..32) bits as a number, consumed.
  uint32_t Take(int bitCount) {
    const uint32_t value = static_cast<uint32_t>(buffer_ >> (64 - bitCount));
    Consume(bitCount);
    return value;
  }

  // Take() for header fields: refills first when fewer than bitCount bits are
  // valid.
  uint32_t TakeChecked(int bitCount) {
    if (validBits_ < bitCount) Refill();
    return Take(bitCount);
  }

 private:
  // The first byte most significant, whatever the host's byte order (compilers
  // turn this into one load and a byte swap).
  static uint64_t LoadBigEndian64(const uint8_t* p) {
    return uint64_t{p[0]} << 56 | uint64_t{p[1]} << 48 | uint64_t{p[2]} << 40 | uint64_t{p[3]} << 32 |
           uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | uint64_t{p[7]};
  }

  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t buffer_ = 0;  // valid bits from bit 63 down, zeros below them
  int validBits_ = 0;
};

}  // namespace tolv::block
