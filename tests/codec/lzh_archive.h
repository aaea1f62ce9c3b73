// Minimal LZH archives for exchanging streams with other archivers in tests:
// level-0 headers only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolv::test {

struct LzhEntry {
  std::string name;
  std::string method;  // "-lh5-" for a compressed stream, "-lh0-" for a stored copy
  std::vector<uint8_t> payload;
  uint32_t originalSize = 0;
  uint16_t originalCrc = 0;  // CRC-16/ARC of the original bytes
};

// An archive of the entries with level-0 headers, ended by a zero byte.
std::vector<uint8_t> BuildLzhArchive(const std::vector<LzhEntry>& entries);

// The entries of an archive with level-0 headers. Throws std::runtime_error
// on any other header level or a truncated archive.
std::vector<LzhEntry> ParseLzhArchive(const std::vector<uint8_t>& archive);

}  // namespace tolv::test
