// Layout recognition and checksum update applied to the workspace.
#include "workspace/flash_settings.h"

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"

namespace tolv {

uint8_t SectionTable_Variant(const SectionTable& table) {
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC})
    if (Layout_Sections(variant) == table) return variant;
  return kLayoutNone;
}

void Flash_DetectLayout(Workspace& workspace) {
  const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  uint8_t variant = Flash_RecogniseLayout(flash.data(), flash.size());
  workspace.sectionTableMatchesFlash = variant != kLayoutNone;
  if (variant == kLayoutNone) return;
  workspace.layoutVariant = variant;
  workspace.sectionTable = Layout_Sections(variant);
}

void Flash_UpdateChecksums(Workspace& workspace) {
  if (workspace.Present(ComponentKind::Flash) && workspace.sectionTableMatchesFlash) {
    std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
    Flash_WriteSectionChecksums(flash.data(), flash.size(), workspace.sectionTable);
  }
  if (workspace.Present(ComponentKind::Eeprom)) {
    std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
    Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  }
}

namespace {

// Whether the packed block's directory names at least one block. The entry
// count is the low byte of the stored count (0 meaning 64); each 64-byte entry
// starts with the block CRC and then the block offset, in the block's byte
// order; offset 0 or CRC 0xFFFF marks an unused entry.
bool DirectoryNamesABlock(const uint8_t* packed, size_t packedSize) {
  if (packedSize < 70) return false;
  const bool little = PackedBlock_IsLittleEndian(packed, packedSize);
  int count = packed[little ? 36 : 33];
  if (count == 0) count = 64;
  const size_t base = little ? 68 : 64;
  for (int j = 0; j < count; ++j) {
    const size_t entry = base + 64 * static_cast<size_t>(j);
    if (entry + 8 > packedSize) break;
    const uint8_t* e = packed + entry;
    uint32_t crc = little ? (e[0] | e[1] << 8) : (e[0] << 8 | e[1]);
    uint32_t offset = little ? (e[4] | e[5] << 8 | e[6] << 16 | static_cast<uint32_t>(e[7]) << 24)
                             : (static_cast<uint32_t>(e[4]) << 24 | e[5] << 16 | e[6] << 8 | e[7]);
    if (offset != 0 && crc != 0xFFFF) return true;
  }
  return false;
}

}  // namespace

bool Flash_UnpackSettings(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& flash) {
  if (!DirectoryNamesABlock(packed, packedSize)) return false;
  std::vector<uint8_t> scratch = flash;
  if (!UnPackFlashData(packed, packedSize, scratch.data(), scratch.size())) return false;
  flash = std::move(scratch);
  return true;
}

bool Flash_FinishSettingsLoad(Workspace& workspace, bool unpacked, UserInteraction& ui) {
  workspace.Present(ComponentKind::Flash) = unpacked;
  if (!unpacked) {
    ui.Information("UnPackFlashData failed to unpack the flash block");
    return false;
  }
  Flash_DetectLayout(workspace);
  return true;
}

}  // namespace tolv
