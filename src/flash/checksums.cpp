#include "flash/checksums.h"

#include "codec/crc16.h"

namespace tolv {

// The seven records at the start of the EEPROM image: CRC offset, first
// covered byte, count of covered bytes. Each CRC sits right before its data.
const std::array<EepromChecksumRecord, 7> kEepromChecksumRecords = {{
    {0x00, 0x02, 32},
    {0x22, 0x24, 4},
    {0x28, 0x2A, 4},
    {0x2E, 0x30, 6},
    {0x36, 0x38, 4},
    {0x3C, 0x3E, 10},
    {0x48, 0x4A, 8},
}};

namespace {

// Sections whose CRCs the program maintains; section 13 keeps whatever it holds.
constexpr int kLastChecksummedSection = 12;
constexpr uint32_t kSectionHeaderSize = 4;
constexpr size_t kEepromCoveredEnd = 82;

// A section can carry a header when it has at least its 4 header bytes and
// lies inside the image; empty sections (start == end) have no header.
bool SectionFits(const SectionTable& table, int k, size_t flashSize) {
  const uint32_t start = table.start[k];
  const uint32_t end = table.end[k];
  return start < end && end - start >= kSectionHeaderSize - 1 && end < flashSize;
}

// CRC-16 of the data of a section: bytes start + 4 .. end.
uint32_t SectionCrc(const uint8_t* flash, const SectionTable& table, int k) {
  const uint32_t start = table.start[k];
  const int32_t dataLength = static_cast<int32_t>(table.end[k] - start - (kSectionHeaderSize - 1));
  return CRC16_Calc(flash + start + kSectionHeaderSize, dataLength);
}

}  // namespace

void Flash_WriteSectionChecksums(uint8_t* flash, size_t flashSize, const SectionTable& table) {
  for (int k = 1; k <= kLastChecksummedSection; ++k) {
    if (!SectionFits(table, k, flashSize)) continue;
    const uint32_t start = table.start[k];
    // Header: CRC of the data, most significant byte first, then FF FF.
    flash[start + 2] = 0xFF;
    flash[start + 3] = 0xFF;
    WriteBE16(flash + start, SectionCrc(flash, table, k));
  }
}

void Eeprom_WriteChecksums(uint8_t* eeprom, size_t eepromSize) {
  if (eepromSize < kEepromCoveredEnd) return;
  for (const EepromChecksumRecord& record : kEepromChecksumRecords) {
    WriteBE16(eeprom + record.crcOffset, CRC16_Calc(eeprom + record.dataOffset, record.dataCount));
  }
}

std::vector<ChecksumCheck> Flash_CheckSectionChecksums(const uint8_t* flash, size_t flashSize,
                                                       const SectionTable& table) {
  std::vector<ChecksumCheck> checks;
  for (int k = 1; k <= kLastChecksummedSection; ++k) {
    if (!SectionFits(table, k, flashSize) || Section_DataLength(table, k) <= 0) continue;
    const uint32_t start = table.start[k];
    checks.push_back({k, start, ReadBE16(flash + start), SectionCrc(flash, table, k)});
  }
  return checks;
}

std::vector<ChecksumCheck> Eeprom_CheckChecksums(const uint8_t* eeprom, size_t eepromSize) {
  std::vector<ChecksumCheck> checks;
  if (eepromSize < kEepromCoveredEnd) return checks;
  int number = 1;
  for (const EepromChecksumRecord& record : kEepromChecksumRecords) {
    checks.push_back({number++, record.crcOffset, ReadBE16(eeprom + record.crcOffset),
                      CRC16_Calc(eeprom + record.dataOffset, record.dataCount)});
  }
  return checks;
}

}  // namespace tolv
