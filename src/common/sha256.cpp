// SHA-256 as FIPS 180-4 defines it: 512-bit blocks, eight 32-bit working
// words, 64 rounds; words are taken and given most significant byte first.
#include "common/sha256.h"

#include <algorithm>

namespace tolv {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::array<uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The first 32 bits of the fractional parts of the square roots of the first
// eight primes.
constexpr std::array<uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t ReadWordBE(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void WriteWordBE(uint32_t value, uint8_t* p) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

}  // namespace

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  state_ = kInitialState;
  pendingCount_ = 0;
  messageBytes_ = 0;
}

void Sha256::Compress(const uint8_t* block) {
  // The message schedule: the block's 16 words, then 48 words mixed from them.
  std::array<uint32_t, 64> w;
  for (int t = 0; t < 16; ++t) w[t] = ReadWordBE(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  // 64 rounds over the working words a..h.
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (int t = 0; t < 64; ++t) {
    const uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const uint32_t choose = (e & f) ^ (~e & g);
    const uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
    const uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

void Sha256::Update(std::span<const uint8_t> bytes) {
  messageBytes_ += bytes.size();
  size_t at = 0;
  // Complete a block begun by an earlier piece first.
  if (pendingCount_ > 0) {
    const size_t take = std::min(bytes.size(), pending_.size() - pendingCount_);
    std::copy_n(bytes.data(), take, pending_.data() + pendingCount_);
    pendingCount_ += take;
    at = take;
    if (pendingCount_ < pending_.size()) return;
    Compress(pending_.data());
    pendingCount_ = 0;
  }
  // Whole blocks straight from the input; the rest waits for more.
  for (; bytes.size() - at >= 64; at += 64) Compress(bytes.data() + at);
  std::copy(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.end(), pending_.begin());
  pendingCount_ = bytes.size() - at;
}

Sha256Digest Sha256::Finish() {
  // Padding: a 1 bit, zeros up to 56 bytes into a block, then the message
  // length in bits as a 64-bit big-endian number.
  const uint64_t bitCount = messageBytes_ * 8;
  std::array<uint8_t, 72> padding{};
  padding[0] = 0x80;
  const size_t zeros = (pendingCount_ < 56 ? 56 : 120) - pendingCount_;
  for (int i = 0; i < 8; ++i)
    padding[zeros + static_cast<size_t>(i)] = static_cast<uint8_t>(bitCount >> (56 - 8 * i));
  Update(std::span<const uint8_t>(padding.data(), zeros + 8));
  Sha256Digest digest;
  for (size_t i = 0; i < state_.size(); ++i) WriteWordBE(state_[i], digest.data() + 4 * i);
  Reset();
  return digest;
}

Sha256Digest Sha256_Of(std::span<const uint8_t> bytes) {
  Sha256 sha;
  sha.Update(bytes);
  return sha.Finish();
}

std::string Sha256_Hex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace tolv
