// Checksums inside the flash settings image and the EEPROM image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/layout.h"

namespace tolv {

// The EEPROM image (256 bytes) begins with seven records, each a big-endian
// CRC-16 followed by the bytes it covers; bytes 82..255 are covered by none.
struct EepromChecksumRecord {
  uint16_t crcOffset;
  uint16_t dataOffset;
  uint16_t dataCount;
};
extern const std::array<EepromChecksumRecord, 7> kEepromChecksumRecords;

// One checksum found in an image: where it is, what is stored, what it should be.
struct ChecksumCheck {
  int number;         // section number 1..12, or EEPROM record number 1..7
  uint32_t offset;    // offset of the stored CRC in its image
  uint32_t stored;    // the CRC the image holds
  uint32_t computed;  // the CRC of the covered bytes
  bool Ok() const { return stored == computed; }
};

// Rewrites the headers of sections 1..12 of table in the image of flashSize
// bytes: marker FF FF at S+2, then the CRC-16 of bytes S+4..E at S. Sections
// with start >= end (empty), too short for the 4-byte header, or reaching past
// flashSize are left alone. Section 13 is never touched.
void Flash_WriteSectionChecksums(uint8_t* flash, size_t flashSize, const SectionTable& table);

// Rewrites the seven EEPROM record CRCs. An image shorter than 82 bytes is left
// alone.
void Eeprom_WriteChecksums(uint8_t* eeprom, size_t eepromSize);

// The section checksums (sections 1..12 that hold data inside the image, in
// section order) and the seven EEPROM record checksums (none for an image
// shorter than 82 bytes) as they stand, for reports; nothing is changed. The
// FF FF marker of a section is not part of the check.
std::vector<ChecksumCheck> Flash_CheckSectionChecksums(const uint8_t* flash, size_t flashSize,
                                                       const SectionTable& table);
std::vector<ChecksumCheck> Eeprom_CheckChecksums(const uint8_t* eeprom, size_t eepromSize);

}  // namespace tolv
