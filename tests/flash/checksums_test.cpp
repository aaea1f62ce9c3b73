#include "flash/checksums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "flash_test_util.h"
#include "test_support.h"

namespace tolv {
namespace {

uint16_t StoredWord(const std::vector<uint8_t>& image, size_t at) {
  return static_cast<uint16_t>(image[at] << 8 | image[at + 1]);
}

TEST(SectionChecksums, EveryLayoutWritesItsHeadersAndNothingElse) {
  const std::pair<uint8_t, int> layouts[] = {{kLayoutDvbS, 12}, {kLayoutDvbT, 11}, {kLayoutDvbC, 11}};
  for (const auto& [variant, headerCount] : layouts) {
    SCOPED_TRACE(Layout_Name(variant));
    const SectionTable& table = Layout_Sections(variant);
    const std::vector<uint8_t> before = test::RandomBytes(variant, 0x80000);
    std::vector<uint8_t> image = before;
    Flash_WriteSectionChecksums(image.data(), image.size(), table);

    int written = 0;
    std::vector<bool> header(image.size(), false);
    for (int k = 1; k <= 12; ++k) {
      if (table.start[k] >= table.end[k]) continue;
      ++written;
      const uint32_t s = table.start[k];
      for (uint32_t i = s; i < s + 4; ++i) header[i] = true;
      EXPECT_EQ(image[s + 2], 0xFF);
      EXPECT_EQ(image[s + 3], 0xFF);
      EXPECT_EQ(StoredWord(image, s), test::BitwiseCrc16(image.data() + s + 4, table.end[k] - s - 3))
          << "section " << k;
    }
    EXPECT_EQ(written, headerCount);
    // Data, section 13 and everything past 0x60000 stay as they were.
    for (size_t i = 0; i < image.size(); ++i) {
      if (!header[i]) {
        ASSERT_EQ(image[i], before[i]) << "byte " << i;
      }
    }

    const std::vector<ChecksumCheck> checks = Flash_CheckSectionChecksums(image.data(), image.size(), table);
    ASSERT_EQ(static_cast<int>(checks.size()), headerCount);
    for (const ChecksumCheck& check : checks) EXPECT_TRUE(check.Ok()) << "section " << check.number;
  }
}

TEST(SectionChecksums, ChecksReportStoredAndComputedValues) {
  const SectionTable& table = Layout_Sections(kLayoutDvbT);
  std::vector<uint8_t> image = test::RandomBytes(7, 0x80000);
  Flash_WriteSectionChecksums(image.data(), image.size(), table);
  image[table.start[4] + 100] ^= 0x01;  // one data byte of section 4
  const std::vector<ChecksumCheck> checks = Flash_CheckSectionChecksums(image.data(), image.size(), table);
  ASSERT_EQ(checks.size(), 11u);
  for (const ChecksumCheck& check : checks) {
    EXPECT_EQ(check.offset, table.start[check.number]);
    EXPECT_EQ(check.stored, StoredWord(image, check.offset));
    EXPECT_EQ(check.Ok(), check.number != 4) << "section " << check.number;
    EXPECT_NE(check.number, 12);  // empty in this layout
  }
}

TEST(SectionChecksums, EmptyTableAndOutOfImageSectionsAreLeftAlone) {
  const std::vector<uint8_t> before = test::RandomBytes(3, 0x80000);
  std::vector<uint8_t> image = before;
  Flash_WriteSectionChecksums(image.data(), image.size(), SectionTable{});
  EXPECT_EQ(image, before);
  EXPECT_TRUE(Flash_CheckSectionChecksums(image.data(), image.size(), SectionTable{}).empty());

  // An image too short for the later sections gets headers only where they fit.
  std::vector<uint8_t> shortImage(160008, 0x00);
  Flash_WriteSectionChecksums(shortImage.data(), shortImage.size(), Layout_Sections(kLayoutDvbS));
  EXPECT_EQ(shortImage[2], 0xFF);       // section 1
  EXPECT_EQ(shortImage[112006], 0xFF);  // section 2 ends at 160007
  EXPECT_EQ(
      Flash_CheckSectionChecksums(shortImage.data(), shortImage.size(), Layout_Sections(kLayoutDvbS)).size(),
      2u);
}

TEST(EepromChecksums, RecordsKnownAnswersAndCoverage) {
  ASSERT_EQ(kEepromChecksumRecords.size(), 7u);
  // Each record's CRC sits right before its data, and the records are contiguous up to byte 82.
  uint16_t next = 0;
  for (const EepromChecksumRecord& record : kEepromChecksumRecords) {
    EXPECT_EQ(record.crcOffset, next);
    EXPECT_EQ(record.dataOffset, record.crcOffset + 2);
    next = static_cast<uint16_t>(record.dataOffset + record.dataCount);
  }
  EXPECT_EQ(next, 82);

  std::vector<uint8_t> zero(256, 0x00);
  Eeprom_WriteChecksums(zero.data(), zero.size());
  EXPECT_EQ(zero, std::vector<uint8_t>(256, 0x00));  // CRC of zeros is 0 in all seven
  for (const ChecksumCheck& check : Eeprom_CheckChecksums(zero.data(), zero.size())) EXPECT_TRUE(check.Ok());
}

TEST(EepromChecksums, WriteThenCheckAndDetectAChange) {
  const std::vector<uint8_t> before = test::RandomBytes(11, 256);
  std::vector<uint8_t> eeprom = before;
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  for (const EepromChecksumRecord& record : kEepromChecksumRecords) {
    EXPECT_EQ(StoredWord(eeprom, record.crcOffset),
              test::BitwiseCrc16(eeprom.data() + record.dataOffset, record.dataCount));
  }
  EXPECT_TRUE(std::equal(eeprom.begin() + 82, eeprom.end(), before.begin() + 82));

  eeprom[62] ^= 0x80;  // first covered byte of record 6
  const std::vector<ChecksumCheck> checks = Eeprom_CheckChecksums(eeprom.data(), eeprom.size());
  ASSERT_EQ(checks.size(), 7u);
  for (const ChecksumCheck& check : checks) {
    EXPECT_EQ(check.offset, kEepromChecksumRecords[static_cast<size_t>(check.number - 1)].crcOffset);
    EXPECT_EQ(check.Ok(), check.number != 6) << "record " << check.number;
  }

  std::vector<uint8_t> shortEeprom = test::RandomBytes(12, 81);
  const std::vector<uint8_t> shortBefore = shortEeprom;
  Eeprom_WriteChecksums(shortEeprom.data(), shortEeprom.size());
  EXPECT_EQ(shortEeprom, shortBefore);
  EXPECT_TRUE(Eeprom_CheckChecksums(shortEeprom.data(), shortEeprom.size()).empty());
}

}  // namespace
}  // namespace tolv
