// Expansion of a firmware block's sections.

#include "codec/firmware_sections.h"

#include <cstring>

#include "codec/block_codec.h"
#include "codec/crc16.h"

namespace tolv {

namespace {

constexpr int32_t kHeaderSize = 6;
constexpr uint32_t kEndMarker = 0xFFFF;

// First pass: every section lies within the block, an end marker closes
// them, and the expanded total fits limit. *total receives that total.
SectionsExpansion CheckSections(const uint8_t* block, int32_t blockSize, int64_t limit, int64_t* total) {
  *total = 0;
  for (int32_t pos = 0;;) {
    if (blockSize - pos < kHeaderSize) return {SectionsFault::NoEndMarker, pos};
    const uint32_t storedLength = ReadBE16(block + pos + 2);
    if (ReadBE16(block + pos + 4) == kEndMarker) return {};
    if (storedLength > static_cast<uint32_t>(blockSize - pos - kHeaderSize))
      return {SectionsFault::PastBlock, pos};
    *total += ReadBE16(block + pos);
    if (*total > limit) return {SectionsFault::TooLarge, pos};
    pos += kHeaderSize + static_cast<int32_t>(storedLength);
  }
}

}  // namespace

SectionsExpansion FirmwareSections_Expand(const uint8_t* block, int32_t blockSize, int64_t limit,
                                          std::vector<uint8_t>* expanded) {
  expanded->clear();
  int64_t total = 0;
  if (const SectionsExpansion checked = CheckSections(block, blockSize, limit, &total);
      checked.fault != SectionsFault::None)
    return checked;
  // Second pass: the checked sections, copied or decompressed in order.
  std::vector<uint8_t> work(static_cast<size_t>(total));
  int32_t out = 0;
  for (int32_t pos = 0; ReadBE16(block + pos + 4) != kEndMarker;) {
    const int32_t length = static_cast<int32_t>(ReadBE16(block + pos));
    const int32_t stored = static_cast<int32_t>(ReadBE16(block + pos + 2));
    const uint8_t* section = block + pos + kHeaderSize;
    if (stored == length) {
      if (length > 0) std::memcpy(work.data() + out, section, static_cast<size_t>(length));
    } else if (Block_Decompress(section, stored, work.data() + out, length) == 0) {
      return {SectionsFault::NotDecodable, pos};
    }
    out += length;
    pos += kHeaderSize + stored;
  }
  *expanded = std::move(work);
  return {};
}

}  // namespace tolv
