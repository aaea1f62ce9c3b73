// Settings layouts of the unpacked flash settings image.
//
// The first 0x60000 bytes of the 524,288-byte image are divided into 13
// sections whose places depend on the receiver family (satellite, terrestrial,
// cable). A section from start S to end E (inclusive) holds the CRC-16 of its
// data at S (most significant byte first), the marker FF FF at S+2, and
// E - S - 3 data bytes from S+4; a section with S == E is empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tolv {

inline constexpr uint8_t kLayoutNone = 0;
inline constexpr uint8_t kLayoutDvbS = 1;
inline constexpr uint8_t kLayoutDvbT = 2;
inline constexpr uint8_t kLayoutDvbC = 3;
inline constexpr int kSectionCount = 13;

// Start and end offsets (end inclusive) of sections 1..13; index 0 is unused.
struct SectionTable {
  std::array<uint32_t, kSectionCount + 1> start{};
  std::array<uint32_t, kSectionCount + 1> end{};
  bool operator==(const SectionTable&) const = default;
};

// The table of layout variant 1..3. Any other variant gives the all-zero table.
const SectionTable& Layout_Sections(uint8_t variant);

// "DVB-s", "DVB-t" or "DVB-c" for variants 1..3, "" otherwise.
const char* Layout_Name(uint8_t variant);

// Data bytes of section k (1..13) in table: end - start - 3, as a signed number
// (0 or less means the section holds no data). 0 for k outside 1..13.
int32_t Section_DataLength(const SectionTable& table, int k);

// Recognises the layout of a flash settings image of flashSize bytes. For each
// layout in the order DVB-s, DVB-t, DVB-c the six bytes at its section 5 start
// are read as three big-endian words W0, W1, W2; the layout passes when
// W0 != 0xFFFF, W1 == 0xFFFF and W2 != 0xFFFF. Returns the last passing
// variant, or kLayoutNone when none passes. A layout whose six bytes lie
// beyond flashSize does not pass; nothing outside the image is read.
uint8_t Flash_RecogniseLayout(const uint8_t* flash, size_t flashSize);

}  // namespace tolv
