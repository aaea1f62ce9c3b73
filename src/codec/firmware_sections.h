// The sections of a firmware block as the receiver sends it.
//
// A firmware block is a series of sections, each a 6-byte header
//   0 expanded length L (BE16) | 2 stored length P (BE16) | 4 end marker (BE16)
// followed by P bytes: L raw bytes when P = L, else a compressed stream
// (Block_Decompress) of L bytes. The last header has the end marker 0xFFFF
// and no data; whatever follows it is ignored.
#pragma once

#include <cstdint>
#include <vector>

namespace tolv {

// The work area of a firmware block's expansion: at most 8 MiB expanded.
inline constexpr int32_t kFirmwareWorkAreaSize = 8388608;

enum class SectionsFault {
  None,
  NoEndMarker,   // the sections end without an end marker (position: where the header would start)
  PastBlock,     // a section's stored bytes run past the block (position: its header)
  TooLarge,      // the expanded total exceeds the limit
  NotDecodable,  // a compressed section does not expand to its length (position: its header)
};

struct SectionsExpansion {
  SectionsFault fault = SectionsFault::None;
  int32_t position = 0;  // byte offset of the faulty section within the block
};

// Expands the blockSize bytes at block (a firmware block's sections) into
// *expanded, replacing its contents. The expansion may be at most limit
// bytes. Pure; block is only read. On a fault *expanded is left empty and
// the fault tells what is wrong and where.
SectionsExpansion FirmwareSections_Expand(const uint8_t* block, int32_t blockSize, int64_t limit,
                                          std::vector<uint8_t>* expanded);

}  // namespace tolv
