#include "workspace_fixtures.h"

#include <algorithm>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "test_support.h"
#include "workspace/flash_settings.h"

namespace tolv::test {

std::vector<uint8_t> SettingsImage(uint8_t variant, uint32_t seed) {
  std::vector<uint8_t> image(kFlashImageSize, 0);
  std::vector<uint8_t> noise = RandomBytes(seed, kFlashImageSize);
  // A 24-byte record every 1,000 bytes keeps the image about as compressible
  // as real settings (channel lists with much empty space).
  for (size_t offset = 0; offset + 24 <= image.size(); offset += 1000)
    std::copy_n(noise.begin() + offset, 24, image.begin() + offset);
  const SectionTable& table = Layout_Sections(variant);
  for (int k = 1; k <= kSectionCount; ++k) {
    if (table.start[k] >= table.end[k]) continue;
    // The first data word must not read FFFF for the layout to be recognised.
    image[table.start[k] + 4] = static_cast<uint8_t>(0x10 + k);
  }
  Flash_WriteSectionChecksums(image.data(), image.size(), table);
  // Section 13 is never checksummed by the program; give it a header anyway.
  image[table.start[13] + 2] = 0xFF;
  image[table.start[13] + 3] = 0xFF;
  return image;
}

std::vector<uint8_t> EepromImage(uint32_t seed) {
  std::vector<uint8_t> eeprom = RandomBytes(seed ^ 0xEE, kEepromImageSize);
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  return eeprom;
}

Workspace SettingsWorkspace(uint8_t variant, int32_t systemId, uint32_t seed) {
  Workspace workspace;
  workspace.Image(ComponentKind::Flash) = SettingsImage(variant, seed);
  workspace.Image(ComponentKind::Eeprom) = EepromImage(seed);
  workspace.Present(ComponentKind::Flash) = true;
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.systemId = systemId;
  Flash_DetectLayout(workspace);
  return workspace;
}

bool SamePrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t n) {
  return a.size() >= n && b.size() >= n && std::equal(a.begin(), a.begin() + n, b.begin());
}

}  // namespace tolv::test
