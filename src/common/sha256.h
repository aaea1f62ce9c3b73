// SHA-256 (FIPS 180-4): the digest that backups are listed with, in the form
// "sha256sum -c" reads, so that a backup can be checked with the system's
// own tools as well as with ours.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tolv {

inline constexpr size_t kSha256DigestSize = 32;
using Sha256Digest = std::array<uint8_t, kSha256DigestSize>;

// An incremental SHA-256 computation. Feed the message in pieces of any
// length with Update, in order; Finish pads it and returns the digest. After
// Finish the object starts over as a fresh one. Messages up to 2^61 - 1 bytes
// (the length field counts bits in 64 bits). Never fails, never allocates.
class Sha256 {
 public:
  Sha256();
  void Update(std::span<const uint8_t> bytes);
  Sha256Digest Finish();

 private:
  void Reset();
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_{};
  std::array<uint8_t, 64> pending_{};  // the start of a block not yet complete
  size_t pendingCount_ = 0;
  uint64_t messageBytes_ = 0;
};

// The digest of bytes in one call.
Sha256Digest Sha256_Of(std::span<const uint8_t> bytes);

// The digest as 64 lower-case hexadecimal digits, as sha256sum prints it.
std::string Sha256_Hex(const Sha256Digest& digest);

}  // namespace tolv
